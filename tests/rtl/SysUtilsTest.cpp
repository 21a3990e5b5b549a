#include "rtl/SysUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace {

TEST(SysUtilsTest, FormatSpecifiers) {
  const std::string name = "demo";
  struct Case {
    std::string Got, Expected;
  } cases[] = {
      {vcl::Format("List index out of bounds (%d)", 5), "List index out of bounds (5)"},
      {vcl::Format("%d|%5d|%-5d|%.3d|%5.3d", -7, 42, 42, 7, -7), "-7|   42|42   |007| -007"},
      {vcl::Format("%d %d", INT32_MIN, INT64_MIN), "-2147483648 -9223372036854775808"},
      {vcl::Format("%u %u", -1, uint64_t{18446744073709551615u}), "4294967295 18446744073709551615"},
      {vcl::Format("%x %.4x %X", 255, 10, -1), "FF 000A FFFFFFFF"},
      {vcl::Format("%x", int64_t{-1}), "FFFFFFFFFFFFFFFF"},
      {vcl::Format("%f|%.0f|%.3f|%8.1f", 1.005, 2.5, -1.0, 3.14159), "1.00|3|-1.000|     3.1"},
      {vcl::Format("%.2f|%.0f|%.0f", -0.001, 0.4, 999.5), "0.00|0|1000"},
      {vcl::Format("%.2f|%.1f|%.0f", 0.125, -0.25, -2.5), "0.13|-0.3|-3"},  // ties away from zero
      {vcl::Format("%.2g|%.1g|%.3g", 0.125, 9.5, 999.9), "0.13|1E1|1E3"},
      {vcl::Format("%f", 1e20), "100000000000000000000.00"},
      {vcl::Format("%g|%g|%g|%.3g", 1.5, 1e20, 0.0001, 3.14159), "1.5|1E20|0.0001|3.14"},
      {vcl::Format("%g", 1.0 / 3.0), "0.333333333333333"},
      {vcl::Format("%s|%6s|%-6s|%.2s", name, "ab", std::string_view("cd"), "xyz"),
       "demo|    ab|cd    |xy"},
      {vcl::Format("%s%s", 'a', std::string("b")), "ab"},
      {vcl::Format("100%% of %s", "rows"), "100% of rows"},
      {vcl::Format("%*d|%-*s|%.*f", 4, 1, 3, "a", 1, 2.25), "   1|a  |2.3"},
      {vcl::Format("[%*s|%*d|%.*d]", -3, "a", 2, 5, -1, 7), "[a  | 5|7]"},
      {vcl::Format("%1:s %0:s %1:s", "a", "b"), "b a b"},
      {vcl::Format("%.0g %.1g", 7.0, 0.05), "7 0.05"},
      {vcl::Format("no specifiers"), "no specifiers"},
      {vcl::Format("%d %s", {3, "x"}), "3 x"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.Got, c.Expected);
}

TEST(SysUtilsTest, FormatRejectsMismatchedArguments) {
  struct Case {
    const char* Why;
    std::function<std::string()> Call;
    std::string Message;
  } cases[] = {
      {"string for %d", [] { return vcl::Format("%d", "x"); },
       "Format '%d' invalid or incompatible with argument"},
      {"int for %s", [] { return vcl::Format("a %s b", 1); },
       "Format 'a %s b' invalid or incompatible with argument"},
      {"int for %f", [] { return vcl::Format("%f", 1); },
       "Format '%f' invalid or incompatible with argument"},
      {"float for %x", [] { return vcl::Format("%x", 1.0); },
       "Format '%x' invalid or incompatible with argument"},
      {"missing", [] { return vcl::Format("%d %d", 1); }, "No argument for format '%d %d'"},
      {"none at all", [] { return vcl::Format("%s"); }, "No argument for format '%s'"},
      {"extra", [] { return vcl::Format("%d", 1, 2); }, "Too many arguments for format '%d'"},
      {"unknown type", [] { return vcl::Format("%q", 1); },
       "Format '%q' invalid or incompatible with argument"},
      {"dangling percent", [] { return vcl::Format("50%"); },
       "Format '50%' invalid or incompatible with argument"},
      {"unterminated", [] { return vcl::Format("%5.", 1); },
       "Format '%5.' invalid or incompatible with argument"},
      {"huge width", [] { return vcl::Format("%99999999999d", 1); },
       "Format '%99999999999d' invalid or incompatible with argument"},
      {"float as width", [] { return vcl::Format("%*d", 1.0, 1); },
       "Format '%*d' invalid or incompatible with argument"},
      {"index past end", [] { return vcl::Format("%3:d", 1); }, "No argument for format '%3:d'"},
  };
  for (const Case& c : cases) {
    try {
      std::string s = c.Call();
      ADD_FAILURE() << c.Why << ": no exception, got " << s;
    } catch (const vcl::EConvertError& e) {
      EXPECT_EQ(e.Message(), c.Message) << c.Why;
    }
  }
}

TEST(SysUtilsTest, IntToStrCoversBothWidths) {
  EXPECT_EQ(vcl::IntToStr(0), "0");
  EXPECT_EQ(vcl::IntToStr(-2147483647 - 1), "-2147483648");
  EXPECT_EQ(vcl::IntToStr(INT64_MIN), "-9223372036854775808");
  EXPECT_EQ(vcl::IntToStr(UINT64_MAX), "18446744073709551615");
  EXPECT_EQ(vcl::IntToStr(int16_t{-5}), "-5");
  EXPECT_EQ(vcl::IntToHex(255, 4), "00FF");
}

TEST(SysUtilsTest, StrToIntAcceptsFrameworkSyntax) {
  struct Case {
    std::string Text;
    bool Ok32;
    int32_t V32;
    bool Ok64;
    int64_t V64;
  } cases[] = {
      {"0", true, 0, true, 0},
      {"  42", true, 42, true, 42},
      {"+17", true, 17, true, 17},
      {"-2147483648", true, INT32_MIN, true, -2147483648LL},
      {"2147483647", true, INT32_MAX, true, 2147483647LL},
      {"2147483648", false, 0, true, 2147483648LL},
      {"-2147483649", false, 0, true, -2147483649LL},
      {"9223372036854775807", false, 0, true, INT64_MAX},
      {"-9223372036854775808", false, 0, true, INT64_MIN},
      {"9223372036854775808", false, 0, false, 0},
      {"99999999999999999999999", false, 0, false, 0},
      {"$FF", true, 255, true, 255},
      {"0x1f", true, 31, true, 31},
      {"$FFFFFFFF", true, -1, true, 4294967295LL},
      {"$100000000", false, 0, true, 4294967296LL},
      {"$FFFFFFFFFFFFFFFF", false, 0, true, -1},
      {"-$10", true, -16, true, -16},
      {"", false, 0, false, 0},
      {"   ", false, 0, false, 0},
      {"-", false, 0, false, 0},
      {"$", false, 0, false, 0},
      {"12 ", false, 0, false, 0},
      {"1.5", false, 0, false, 0},
      {"abc", false, 0, false, 0},
      {"--1", false, 0, false, 0},
      {"+-1", false, 0, false, 0},
      {"0x-5", false, 0, false, 0},
      {std::string("1\0", 2), false, 0, false, 0},
  };
  for (const Case& c : cases) {
    int32_t v32 = 99;
    int64_t v64 = 99;
    EXPECT_EQ(vcl::TryStrToInt(c.Text, v32), c.Ok32) << c.Text;
    EXPECT_EQ(vcl::TryStrToInt64(c.Text, v64), c.Ok64) << c.Text;
    if (c.Ok32) {
      EXPECT_EQ(v32, c.V32) << c.Text;
      EXPECT_EQ(vcl::StrToInt(c.Text), c.V32);
    } else {
      EXPECT_EQ(v32, 99) << "failed parse must not touch the output: " << c.Text;
      EXPECT_EQ(vcl::StrToIntDef(c.Text, -5), -5);
    }
    if (c.Ok64) {
      EXPECT_EQ(v64, c.V64) << c.Text;
      EXPECT_EQ(vcl::StrToInt64(c.Text), c.V64);
    } else {
      EXPECT_EQ(vcl::StrToInt64Def(c.Text, -5), -5);
    }
  }
}

TEST(SysUtilsTest, StrToIntRaisesWithTheText) {
  try {
    vcl::StrToInt("abc");
    FAIL() << "no exception";
  } catch (const vcl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid integer value");
  }
  EXPECT_THROW(vcl::StrToInt64("1e3"), vcl::EConvertError);
}

TEST(SysUtilsTest, FloatToStrIsShortestAndReadable) {
  struct Case {
    double Value;
    const char* Text;
  } cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1.5, "1.5"},
      {0.1, "0.1"},
      {-2.0, "-2"},
      {100.0, "100"},
      {1.0 / 3.0, "0.3333333333333333"},
      {0.0001, "0.0001"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {1.5e-10, "1.5E-10"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {-2.5e15, "-2.5E15"},
      {1e20, "1E20"},
      {12345.678, "12345.678"},
      {std::numeric_limits<double>::max(), "1.7976931348623157E308"},
      {std::numeric_limits<double>::denorm_min(), "5E-324"},
      {std::numeric_limits<double>::infinity(), "INF"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
  };
  for (const Case& c : cases) EXPECT_EQ(vcl::FloatToStr(c.Value), c.Text);
}

TEST(SysUtilsTest, FloatTextRoundTrips) {
  std::mt19937_64 rng(12345);
  std::uniform_int_distribution<uint64_t> bits;
  for (int i = 0; i < 20000; ++i) {
    uint64_t b = bits(rng);
    double v;
    std::memcpy(&v, &b, sizeof v);
    if (!std::isfinite(v)) continue;
    const std::string s = vcl::FloatToStr(v);
    double back = 0;
    ASSERT_TRUE(vcl::TryStrToFloat(s, back)) << s;
    ASSERT_EQ(back, v) << s;
  }
}

TEST(SysUtilsTest, StrToFloatSyntax) {
  struct Case {
    std::string Text;
    bool Ok;
    double Value;
  } cases[] = {
      {"1.5", true, 1.5},
      {"  -0.25  ", true, -0.25},
      {"+3", true, 3},
      {".5", true, 0.5},
      {"5.", true, 5},
      {"1e3", true, 1000},
      {"1E+3", true, 1000},
      {"2.5e-3", true, 0.0025},
      {"1e-400", true, 0},       // underflow reads as zero
      {"-1e-400", true, -0.0},
      {"0.000000000000000000000000000000001e-300", true, 0},
      {"1e400", false, 0},       // overflow is an error
      {"100000000000000000000000e300", false, 0},
      {"1e99999999999999999999", false, 0},
      {"", false, 0},
      {".", false, 0},
      {"e5", false, 0},
      {"1e", false, 0},
      {"1e+", false, 0},
      {"1,5", false, 0},
      {"inf", false, 0},
      {"nan", false, 0},
      {"0x1p3", false, 0},
      {"1.5x", false, 0},
      {"--1", false, 0},
  };
  for (const Case& c : cases) {
    double v = 99;
    EXPECT_EQ(vcl::TryStrToFloat(c.Text, v), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(v, c.Value) << c.Text;
      EXPECT_EQ(std::signbit(v), std::signbit(c.Value)) << c.Text;
      EXPECT_EQ(vcl::StrToFloat(c.Text), c.Value);
    } else {
      EXPECT_EQ(v, 99) << c.Text;
      EXPECT_EQ(vcl::StrToFloatDef(c.Text, -7), -7);
    }
  }
  try {
    vcl::StrToFloat("abc");
    FAIL() << "no exception";
  } catch (const vcl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid floating point value");
  }
}

}  // namespace
