#include "rtl/StrUtils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using vcl::rfIgnoreCase;
using vcl::rfReplaceAll;

TEST(StrUtilsTest, TrimRemovesBlanksAndControlsButNotHighBytes) {
  struct Case {
    std::string In, Both, Left, Right;
  } cases[] = {
      {"  abc  ", "abc", "abc  ", "  abc"},
      {"\t\r\n\x01x y\x1f ", "x y", "x y\x1f ", "\t\r\n\x01x y"},
      {"", "", "", ""},
      {" \t ", "", "", ""},
      {"\xA0z\xE9", "\xA0z\xE9", "\xA0z\xE9", "\xA0z\xE9"},  // bytes >= 0x80 are text
      {std::string("\0a\0", 3), "a", std::string("a\0", 2), std::string("\0a", 2)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vcl::Trim(c.In), c.Both) << c.In;
    EXPECT_EQ(vcl::TrimLeft(c.In), c.Left) << c.In;
    EXPECT_EQ(vcl::TrimRight(c.In), c.Right) << c.In;
  }
}

TEST(StrUtilsTest, AsciiCaseMappingLeavesOtherBytesAlone) {
  EXPECT_EQ(vcl::UpperCase("abz AZ09 \xE9\xFF"), "ABZ AZ09 \xE9\xFF");
  EXPECT_EQ(vcl::LowerCase("ABZ az09 \xC9\x9F"), "abz az09 \xC9\x9F");
}

TEST(StrUtilsTest, AnsiCaseMappingFollowsWindows1252) {
  struct Case {
    std::string Lower, Upper;
  } pairs[] = {
      {"abc", "ABC"},
      {"\xE0\xE9\xF1\xFE", "\xC0\xC9\xD1\xDE"},  // à é ñ þ
      {"\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F"},  // š œ ž ÿ
  };
  for (const Case& c : pairs) {
    EXPECT_EQ(vcl::AnsiUpperCase(c.Lower), c.Upper);
    EXPECT_EQ(vcl::AnsiLowerCase(c.Upper), c.Lower);
  }
  // No single-byte partner: ß µ ƒ, and the signs × ÷ are not letters.
  EXPECT_EQ(vcl::AnsiUpperCase("\xDF\xB5\x83\xF7"), "\xDF\xB5\x83\xF7");
  EXPECT_EQ(vcl::AnsiLowerCase("\xD7"), "\xD7");
}

TEST(StrUtilsTest, SameTextFoldsCaseOnlyForLetters) {
  EXPECT_TRUE(vcl::AnsiSameText("Customer_ID", "CUSTOMER_id"));
  EXPECT_TRUE(vcl::AnsiSameText("Caf\xC9", "caf\xE9"));
  EXPECT_FALSE(vcl::AnsiSameText("cafe", "caf\xE9"));
  EXPECT_FALSE(vcl::AnsiSameText("\xD7", "\xF7"));  // × is not the upper case of ÷
  EXPECT_FALSE(vcl::AnsiSameText("abc", "abcd"));
  EXPECT_TRUE(vcl::AnsiSameStr("abc", "abc"));
  EXPECT_FALSE(vcl::AnsiSameStr("abc", "ABC"));
}

int Sign(int V) { return V < 0 ? -1 : V > 0 ? 1 : 0; }

TEST(StrUtilsTest, CompareTextOrdersLikeADictionary) {
  struct Case {
    std::string A, B;
    int Text, Str;  // expected signs of AnsiCompareText / AnsiCompareStr
  } cases[] = {
      {"apple", "Banana", -1, -1},  // case does not decide before letters
      {"a", "A", 0, -1},            // lower case first when only case differs
      {"abc", "ABD", -1, -1},
      {"abc", "ab", 1, 1},
      {"", "a", -1, -1},
      {"", "", 0, 0},
      {"caf\xE9", "cafe", 1, 1},   // accent after the plain letter
      {"caf\xE9", "caff", -1, -1}, // é sorts with e, not after z
      {"\xC9t\xE9", "ete", 1, 1},
      {"9", "a", -1, -1},           // digits before letters
      {"#", "0", -1, -1},           // symbols before digits
      {"\xE6on", "aeon", 1, 1},     // æ expands to ae, then differs by the mark
      {"\xE6z", "af", -1, -1},
      {"stra\xDF" "e", "strasse", 1, 1},
      {"co-op", "coop", -1, -1},    // hyphen only breaks the tie (byte order)
      {"co-op", "cop", -1, -1},
      {"\x8A" "a", "Sb", -1, -1},   // Š sorts with S
      {"\xFE", "z", 1, 1},          // þ after z
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sign(vcl::AnsiCompareText(c.A, c.B)), c.Text) << c.A << " vs " << c.B;
    EXPECT_EQ(Sign(vcl::AnsiCompareText(c.B, c.A)), -c.Text) << c.B << " vs " << c.A;
    EXPECT_EQ(Sign(vcl::AnsiCompareStr(c.A, c.B)), c.Str) << c.A << " vs " << c.B;
    EXPECT_EQ(Sign(vcl::AnsiCompareStr(c.B, c.A)), -c.Str) << c.B << " vs " << c.A;
  }
}

TEST(StrUtilsTest, CompareTextIsATotalOrderForSorting) {
  std::vector<std::string> words = {"b", "B", "a-b", "ab", "A", "a", "\xC1", "\xE1", "aB",
                                    "Ab", "1", "-", "co-op", "coop", "\xE6", "ae", "AE"};
  // Equal only when folded bytes are equal, and consistent both ways.
  for (const auto& x : words)
    for (const auto& y : words) {
      EXPECT_EQ(vcl::AnsiCompareText(x, y) == 0, vcl::AnsiSameText(x, y)) << x << "|" << y;
      EXPECT_EQ(vcl::AnsiCompareStr(x, y) == 0, x == y) << x << "|" << y;
      EXPECT_EQ(Sign(vcl::AnsiCompareStr(x, y)), -Sign(vcl::AnsiCompareStr(y, x)));
    }
  auto sorted = words;
  std::sort(sorted.begin(), sorted.end(),
            [](const std::string& x, const std::string& y) { return vcl::AnsiCompareStr(x, y) < 0; });
  for (size_t i = 0; i + 1 < sorted.size(); ++i)
    for (size_t j = i + 1; j < sorted.size(); ++j)
      EXPECT_LT(vcl::AnsiCompareStr(sorted[i], sorted[j]), 0) << sorted[i] << "|" << sorted[j];
}

TEST(StrUtilsTest, CompareStringAnswersOneTwoThree) {
  struct Case {
    uint32_t Flags;
    const char* A;
    int LenA;
    const char* B;
    int LenB;
    int Expected;
  } cases[] = {
      {0x1000, "abc", -1, "abd", -1, 1},
      {0x1000, "abd", -1, "abc", -1, 3},
      {0x1000, "abc", -1, "ABC", -1, 1},
      {0x1001, "abc", -1, "ABC", -1, 2},
      {0x1001, "abcX", 3, "ABCY", 3, 2},  // explicit lengths stop early
      {0x1000, "ab\0c", 4, "ab\0d", 4, 1},  // embedded zero with a length
      {0x1000, "", -1, "", 0, 2},
      {0x1000, "-b", -1, "a", -1, 1},       // string sort: hyphen is a symbol
      {0, "-b", -1, "a", -1, 3},            // word sort: hyphen is ignored
      {0x1000, nullptr, 0, "", -1, 2},
      {0x1000, nullptr, 2, "ab", -1, 0},    // failure, not a crash
      {0x4000, "a", -1, "a", -1, 0},        // unsupported flag
  };
  for (const Case& c : cases)
    EXPECT_EQ(vcl::CompareString(0x0409, c.Flags, c.A, c.LenA, c.B, c.LenB), c.Expected)
        << (c.A ? c.A : "(null)") << " vs " << c.B << " flags " << c.Flags;
}

TEST(StrUtilsTest, PosIsOneBased) {
  EXPECT_EQ(vcl::Pos("b", "abc"), 1u + 1u);
  EXPECT_EQ(vcl::Pos("abc", "abc"), 1u);
  EXPECT_EQ(vcl::Pos("x", "abc"), 0u);
  EXPECT_EQ(vcl::Pos("", "abc"), 0u);
  EXPECT_EQ(vcl::Pos("abcd", "abc"), 0u);
  EXPECT_EQ(vcl::Pos("c", "abcc"), 3u);
}

TEST(StrUtilsTest, StringReplaceHonoursFlags) {
  struct Case {
    std::string S, Old, New;
    vcl::TReplaceFlags Flags;
    std::string Expected;
  } cases[] = {
      {"a.b.c", ".", "::", {}, "a::b.c"},
      {"a.b.c", ".", "::", {rfReplaceAll}, "a::b::c"},
      {"Select FROM from", "from", "X", {rfReplaceAll}, "Select FROM X"},
      {"Select FROM from", "from", "X", {rfReplaceAll, rfIgnoreCase}, "Select X X"},
      {"Caf\xC9 caf\xE9", "\xE9", "e", {rfReplaceAll, rfIgnoreCase}, "Cafe cafe"},
      {"aaa", "aa", "a", {rfReplaceAll}, "aa"},  // no rescanning of replaced text
      {"abc", "", "x", {rfReplaceAll}, "abc"},
      {"abc", "abc", "", {}, ""},
      {"xyz", "q", "r", {rfReplaceAll}, "xyz"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(vcl::StringReplace(c.S, c.Old, c.New, c.Flags), c.Expected) << c.S;
}

TEST(StrUtilsTest, OemConversionMapsSharedCharactersBothWays) {
  // Windows-1252 byte, its code page 437 byte.
  const std::pair<uint8_t, uint8_t> shared[] = {
      {0xC7, 0x80}, {0xFC, 0x81}, {0xE9, 0x82}, {0xE4, 0x84}, {0xC4, 0x8E}, {0xD6, 0x99},
      {0xDC, 0x9A}, {0xDF, 0xE1}, {0xF1, 0xA4}, {0xA3, 0x9C}, {0xB0, 0xF8}, {0xA0, 0xFF},
      {0xB5, 0xE6}, {0xBD, 0xAB}, {0x83, 0x9F}, {'A', 'A'}, {0x7F, 0x7F}, {0x00, 0x00},
  };
  for (auto [ansi, oem] : shared) {
    char a = static_cast<char>(ansi), o = 0, back = 0;
    vcl::CharToOemBuff(&a, &o, 1);
    EXPECT_EQ(static_cast<uint8_t>(o), oem) << int(ansi);
    vcl::OemToCharBuff(&o, &back, 1);
    EXPECT_EQ(static_cast<uint8_t>(back), ansi) << int(ansi);
  }
}

TEST(StrUtilsTest, OemConversionBestFitsAndWorksInPlace) {
  std::string s = "\xC0\xE3\x80\x93\x94?\xA4";  // À ã € “ ” ? ¤
  vcl::CharToOemBuff(s.data(), s.data(), s.size());
  EXPECT_EQ(s, "Aa\x45\"\"??");
  std::string box = "\xC4\xB3\xDA\xB0\xE0";  // ─ │ ┌ ░ α
  vcl::OemToCharBuff(box.data(), box.data(), box.size());
  EXPECT_EQ(box, "-|+?a");
  // Every byte maps to a single byte; the whole range is accepted.
  std::string all(256, '\0');
  for (int i = 0; i < 256; ++i) all[i] = static_cast<char>(i);
  std::string out(256, '\0');
  EXPECT_TRUE(vcl::CharToOemBuff(all.data(), out.data(), all.size()));
  EXPECT_EQ(out.substr(0, 128), all.substr(0, 128));
  EXPECT_FALSE(vcl::OemToCharBuff(nullptr, out.data(), 4));
  EXPECT_FALSE(vcl::CharToOemBuff(all.data(), nullptr, 4));
}

}  // namespace
