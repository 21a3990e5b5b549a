#include "rtl/StrUtils.h"

#include <array>
#include <cstring>

namespace vcl {

namespace {

bool IsBlank(char C) { return static_cast<uint8_t>(C) <= ' '; }

std::string MapBytes(std::string_view S, uint8_t (*Map)(uint8_t)) {
  std::string r(S);
  for (char& c : r) c = static_cast<char>(Map(static_cast<uint8_t>(c)));
  return r;
}

uint8_t AsciiUpper(uint8_t C) { return (C >= 'a' && C <= 'z') ? C - 32 : C; }
uint8_t AsciiLower(uint8_t C) { return (C >= 'A' && C <= 'Z') ? C + 32 : C; }

// One collation element: Primary orders base characters, Secondary accents
// and ligature marks, Tertiary case. Expansion holds the second base letter
// of a ligature (0 = none).
struct CollationElement {
  uint16_t Primary = 0;
  uint16_t Expansion = 0;
  uint8_t Secondary = 0;
  uint8_t Tertiary = 0;
};

constexpr uint16_t kDigitBase = 300;
constexpr uint16_t kLetterBase = 400;

constexpr uint16_t Letter(char L) { return kLetterBase + static_cast<uint16_t>(L - 'a'); }

std::array<CollationElement, 256> BuildCollation() {
  std::array<CollationElement, 256> t{};
  for (int c = 0; c < 256; ++c) t[c].Primary = static_cast<uint16_t>(1 + c);  // symbols
  for (int c = '0'; c <= '9'; ++c) t[c].Primary = kDigitBase + (c - '0');
  for (int c = 'a'; c <= 'z'; ++c) {
    t[c].Primary = Letter(static_cast<char>(c));
    t[c - 32] = t[c];
    t[c - 32].Tertiary = 1;
  }
  // Superscript digits sort with their digit.
  t[0xB9] = {kDigitBase + 1, 0, 1, 0};
  t[0xB2] = {kDigitBase + 2, 0, 1, 0};
  t[0xB3] = {kDigitBase + 3, 0, 1, 0};
  // Latin-1 letters: upper case at 0xC0..0xDE, lower case 0x20 above.
  const char* base = "aaaaaa*ceeeeiiiidnooooo*ouuuuy#";
  for (int i = 0; i < 31; ++i) {
    const char b = base[i];
    if (b == '*') continue;  // × and ÷ stay symbols, Æ handled below
    CollationElement e;
    e.Primary = b == '#' ? static_cast<uint16_t>(kLetterBase + 26) : Letter(b);  // þ after z
    e.Secondary = static_cast<uint8_t>(i + 1);
    t[0xE0 + i] = e;
    e.Tertiary = 1;
    t[0xC0 + i] = e;
  }
  auto pair = [&t](int Upper, int Lower, CollationElement e) {
    t[Lower] = e;
    e.Tertiary = 1;
    t[Upper] = e;
  };
  pair(0xC6, 0xE6, {Letter('a'), Letter('e'), 40, 0});  // æ
  pair(0x8C, 0x9C, {Letter('o'), Letter('e'), 41, 0});  // œ
  pair(0x8A, 0x9A, {Letter('s'), 0, 42, 0});            // š
  pair(0x8E, 0x9E, {Letter('z'), 0, 42, 0});            // ž
  pair(0x9F, 0xFF, {Letter('y'), 0, 43, 0});            // ÿ
  t[0xDF] = {Letter('s'), Letter('s'), 44, 0};          // ß
  t[0x83] = {Letter('f'), 0, 45, 0};                    // ƒ
  t[0xAA] = {Letter('a'), 0, 46, 0};                    // ª
  t[0xBA] = {Letter('o'), 0, 46, 0};                    // º
  return t;
}

const std::array<CollationElement, 256>& Collation() {
  static const std::array<CollationElement, 256> table = BuildCollation();
  return table;
}

// Walks the weights of one level of a string, expanding ligatures and
// skipping what word sort ignores.
class WeightReader {
 public:
  WeightReader(const uint8_t* S, size_t Len, int Level, bool WordSort)
      : FS(S), FLen(Len), FLevel(Level), FWordSort(WordSort) {}

  // Next weight, or -1 at the end.
  int Next() {
    if (FPending >= 0) {
      int w = FPending;
      FPending = -1;
      return w;
    }
    while (FPos < FLen) {
      const uint8_t c = FS[FPos++];
      if (FWordSort && (c == '-' || c == '\'')) continue;
      const CollationElement& e = Collation()[c];
      int w = FLevel == 0 ? e.Primary : FLevel == 1 ? e.Secondary : e.Tertiary;
      if (e.Expansion != 0) FPending = FLevel == 0 ? e.Expansion : w;
      return w;
    }
    return -1;
  }

 private:
  const uint8_t* FS;
  size_t FLen;
  int FLevel;
  bool FWordSort;
  size_t FPos = 0;
  int FPending = -1;
};

int Sign(int V) { return V < 0 ? -1 : V > 0 ? 1 : 0; }

// Final tie-break so that only identical (folded) byte strings are equal.
int CompareBytes(const uint8_t* A, size_t LenA, const uint8_t* B, size_t LenB, bool IgnoreCase) {
  const size_t n = LenA < LenB ? LenA : LenB;
  for (size_t i = 0; i < n; ++i) {
    const int ca = IgnoreCase ? AnsiLowerChar(A[i]) : A[i];
    const int cb = IgnoreCase ? AnsiLowerChar(B[i]) : B[i];
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return LenA == LenB ? 0 : LenA < LenB ? -1 : 1;
}

int Collate(const uint8_t* A, size_t LenA, const uint8_t* B, size_t LenB, bool IgnoreCase,
            bool WordSort) {
  const int levels = IgnoreCase ? 2 : 3;
  for (int level = 0; level < levels; ++level) {
    WeightReader ra(A, LenA, level, WordSort), rb(B, LenB, level, WordSort);
    for (;;) {
      const int wa = ra.Next(), wb = rb.Next();
      if (wa != wb) return wa < wb ? -1 : 1;
      if (wa < 0) break;
    }
  }
  return CompareBytes(A, LenA, B, LenB, IgnoreCase);
}

const uint8_t* Bytes(std::string_view S) { return reinterpret_cast<const uint8_t*>(S.data()); }

// Windows-1252 -> 437 and back for bytes 0x80..0xFF.
const uint8_t kAnsiToOem[128] = {
    0x45, 0x3F, 0x2C, 0x9F, 0x22, 0x2E, 0x2B, 0x2B, 0x5E, 0x25, 0x53, 0x3C, 0x4F, 0x3F, 0x5A, 0x3F,
    0x3F, 0x27, 0x27, 0x22, 0x22, 0xFA, 0x2D, 0x2D, 0x7E, 0x54, 0x73, 0x3E, 0x6F, 0x3F, 0x7A, 0x59,
    0xFF, 0xAD, 0x9B, 0x9C, 0x3F, 0x9D, 0x7C, 0x3F, 0x22, 0x63, 0xA6, 0xAE, 0xAA, 0x2D, 0x52, 0x5F,
    0xF8, 0xF1, 0xFD, 0x33, 0x27, 0xE6, 0x3F, 0xFA, 0x2C, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x3F, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x44, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x78, 0x4F, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x3F, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x64, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0x6F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x3F, 0x98,
};
const uint8_t kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x50, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0xAC, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0x3F, 0x3F, 0x3F, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x7C, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2D, 0x2B, 0x2B,
    0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x2B, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x61, 0xDF, 0x47, 0x70, 0x53, 0x73, 0xB5, 0x74, 0x46, 0x54, 0x4F, 0x64, 0x38, 0x66, 0x65, 0x6E,
    0x3D, 0xB1, 0x3D, 0x3D, 0x28, 0x29, 0xF7, 0x7E, 0xB0, 0xB7, 0xB7, 0x76, 0x6E, 0xB2, 0x3F, 0xA0,
};

bool ConvertBuff(const char* Src, char* Dst, size_t Length, const uint8_t* High) {
  if (Src == nullptr || Dst == nullptr) return false;
  for (size_t i = 0; i < Length; ++i) {
    const uint8_t c = static_cast<uint8_t>(Src[i]);
    Dst[i] = static_cast<char>(c < 0x80 ? c : High[c - 0x80]);
  }
  return true;
}

}  // namespace

std::string TrimLeft(std::string_view S) {
  size_t b = 0;
  while (b < S.size() && IsBlank(S[b])) ++b;
  return std::string(S.substr(b));
}

std::string TrimRight(std::string_view S) {
  size_t e = S.size();
  while (e > 0 && IsBlank(S[e - 1])) --e;
  return std::string(S.substr(0, e));
}

std::string Trim(std::string_view S) {
  size_t b = 0, e = S.size();
  while (b < e && IsBlank(S[b])) ++b;
  while (e > b && IsBlank(S[e - 1])) --e;
  return std::string(S.substr(b, e - b));
}

std::string UpperCase(std::string_view S) { return MapBytes(S, AsciiUpper); }
std::string LowerCase(std::string_view S) { return MapBytes(S, AsciiLower); }

uint8_t AnsiUpperChar(uint8_t C) {
  if (C >= 'a' && C <= 'z') return C - 32;
  if (C >= 0xE0 && C <= 0xFE && C != 0xF7) return C - 32;
  switch (C) {
    case 0x9A: return 0x8A;
    case 0x9C: return 0x8C;
    case 0x9E: return 0x8E;
    case 0xFF: return 0x9F;
    default: return C;
  }
}

uint8_t AnsiLowerChar(uint8_t C) {
  if (C >= 'A' && C <= 'Z') return C + 32;
  if (C >= 0xC0 && C <= 0xDE && C != 0xD7) return C + 32;
  switch (C) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return C;
  }
}

std::string AnsiUpperCase(std::string_view S) { return MapBytes(S, AnsiUpperChar); }
std::string AnsiLowerCase(std::string_view S) { return MapBytes(S, AnsiLowerChar); }

int AnsiCompareStr(std::string_view S1, std::string_view S2) {
  return Collate(Bytes(S1), S1.size(), Bytes(S2), S2.size(), false, true);
}

int AnsiCompareText(std::string_view S1, std::string_view S2) {
  return Collate(Bytes(S1), S1.size(), Bytes(S2), S2.size(), true, true);
}

bool AnsiSameStr(std::string_view S1, std::string_view S2) { return S1 == S2; }

bool AnsiSameText(std::string_view S1, std::string_view S2) {
  return S1.size() == S2.size() &&
         CompareBytes(Bytes(S1), S1.size(), Bytes(S2), S2.size(), true) == 0;
}

int CompareString(uint32_t /*Locale*/, uint32_t Flags, const char* S1, int Len1, const char* S2,
                  int Len2) {
  if ((Flags & ~(NORM_IGNORECASE | SORT_STRINGSORT)) != 0) return 0;
  if (Len1 < -1 || Len2 < -1) return 0;
  if ((S1 == nullptr && Len1 != 0) || (S2 == nullptr && Len2 != 0)) return 0;
  const size_t n1 = Len1 < 0 ? std::strlen(S1) : static_cast<size_t>(Len1);
  const size_t n2 = Len2 < 0 ? std::strlen(S2) : static_cast<size_t>(Len2);
  const int r = Collate(reinterpret_cast<const uint8_t*>(S1), n1,
                        reinterpret_cast<const uint8_t*>(S2), n2, (Flags & NORM_IGNORECASE) != 0,
                        (Flags & SORT_STRINGSORT) == 0);
  return Sign(r) + 2;
}

size_t Pos(std::string_view Substr, std::string_view S) {
  if (Substr.empty()) return 0;
  const size_t p = S.find(Substr);
  return p == std::string_view::npos ? 0 : p + 1;
}

std::string StringReplace(std::string_view S, std::string_view OldPattern,
                          std::string_view NewPattern, TReplaceFlags Flags) {
  if (OldPattern.empty()) return std::string(S);
  const bool ignoreCase = Flags.Contains(rfIgnoreCase);
  const std::string foldedS = ignoreCase ? AnsiUpperCase(S) : std::string();
  const std::string foldedOld = ignoreCase ? AnsiUpperCase(OldPattern) : std::string();
  const std::string_view hay = ignoreCase ? std::string_view(foldedS) : S;
  const std::string_view needle = ignoreCase ? std::string_view(foldedOld) : OldPattern;

  std::string result;
  size_t from = 0;
  for (;;) {
    const size_t p = hay.find(needle, from);
    if (p == std::string_view::npos) break;
    result.append(S.substr(from, p - from));
    result.append(NewPattern);
    from = p + needle.size();
    if (!Flags.Contains(rfReplaceAll)) break;
  }
  result.append(S.substr(from));
  return result;
}

bool CharToOemBuff(const char* Src, char* Dst, size_t Length) {
  return ConvertBuff(Src, Dst, Length, kAnsiToOem);
}

bool OemToCharBuff(const char* Src, char* Dst, size_t Length) {
  return ConvertBuff(Src, Dst, Length, kOemToAnsi);
}

}  // namespace vcl
