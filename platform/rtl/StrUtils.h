// String helpers over byte strings. The "ANSI" code page is Windows-1252 and
// the "OEM" code page is 437; nothing here interprets UTF-8, so such text
// passes through every function that is not asked to fold or convert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/System.h"

namespace vcl {

// Remove leading/trailing bytes <= ' ' (blanks and control characters).
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// ASCII-only case mapping: other bytes are left as they are.
std::string UpperCase(std::string_view S);
std::string LowerCase(std::string_view S);

// Windows-1252 case mapping (accented Latin letters, Š/š, Œ/œ, Ž/ž, Ÿ/ÿ).
// ß, µ and ƒ have no single-byte counterpart and stay unchanged.
std::string AnsiUpperCase(std::string_view S);
std::string AnsiLowerCase(std::string_view S);
uint8_t AnsiUpperChar(uint8_t C);
uint8_t AnsiLowerChar(uint8_t C);

// Locale-style comparisons answering <0, 0, >0. The order is the one of
// CompareString below in word-sort mode; "Text" ignores case, "Str" does
// not. Two strings compare equal only when they are the same bytes (after
// case folding for the Text variants).
int AnsiCompareStr(std::string_view S1, std::string_view S2);
int AnsiCompareText(std::string_view S1, std::string_view S2);
bool AnsiSameStr(std::string_view S1, std::string_view S2);
bool AnsiSameText(std::string_view S1, std::string_view S2);

// CompareString flags understood here.
constexpr uint32_t NORM_IGNORECASE = 0x00000001;
constexpr uint32_t SORT_STRINGSORT = 0x00001000;
// Results of CompareString; 0 means the call failed (unsupported flags or a
// null pointer with a non-zero length).
constexpr int CSTR_LESS_THAN = 1;
constexpr int CSTR_EQUAL = 2;
constexpr int CSTR_GREATER_THAN = 3;

// Collation of Windows-1252 text in three levels: letters by their base
// letter (accents and ligatures such as æ = "ae", ß = "ss" fold to it),
// then accents, then case (lower before upper); symbols sort before digits
// and digits before letters. Without SORT_STRINGSORT (word sort) hyphens and
// apostrophes are only looked at when everything else ties. The locale is
// ignored. Lengths of -1 mean zero-terminated.
int CompareString(uint32_t Locale, uint32_t Flags, const char* S1, int Len1, const char* S2,
                  int Len2);

// 1-based position of Substr in S; 0 when absent or when Substr is empty.
size_t Pos(std::string_view Substr, std::string_view S);

enum TReplaceFlag : uint8_t { rfReplaceAll, rfIgnoreCase };
using TReplaceFlags = Set<TReplaceFlag>;

// Replace the first (or every, with rfReplaceAll) occurrence of OldPattern.
// rfIgnoreCase matches with Windows-1252 case folding. An empty OldPattern
// leaves S unchanged.
std::string StringReplace(std::string_view S, std::string_view OldPattern,
                          std::string_view NewPattern, TReplaceFlags Flags);

// Code page conversions, one byte to one byte; Src and Dst may be the same
// buffer. Bytes below 0x80 are kept. A character the target code page lacks
// becomes its nearest plain form (accent dropped, box-drawing lines as
// '-', '|' or '+', Greek letters as Latin look-alikes) or '?' when there is
// none, so a round trip is lossless only for characters both pages share.
// False (nothing converted) when a buffer is null.
bool CharToOemBuff(const char* Src, char* Dst, size_t Length);
bool OemToCharBuff(const char* Src, char* Dst, size_t Length);

}  // namespace vcl
