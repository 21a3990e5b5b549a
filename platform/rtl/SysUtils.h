// Text formatting and number <-> text conversions with '.' as the decimal
// point, independent of the C locale.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "rtl/System.h"

namespace vcl {

// One argument of Format. It only refers to string data, so it must not
// outlive the call it is built for.
class TFormatArg {
 public:
  enum TKind : uint8_t { fkInt32, fkInt64, fkUInt64, fkFloat, fkString };

  TFormatArg(int32_t V) : FKind(fkInt32), FInt(V) {}
  TFormatArg(uint32_t V) : FKind(fkInt64), FInt(V) {}
  TFormatArg(long V) : FKind(fkInt64), FInt(V) {}
  TFormatArg(long long V) : FKind(fkInt64), FInt(V) {}
  TFormatArg(unsigned long V) : FKind(fkUInt64), FUInt(V) {}
  TFormatArg(unsigned long long V) : FKind(fkUInt64), FUInt(V) {}
  TFormatArg(int16_t V) : TFormatArg(int32_t{V}) {}
  TFormatArg(uint16_t V) : TFormatArg(int32_t{V}) {}
  TFormatArg(signed char V) : TFormatArg(int32_t{V}) {}
  TFormatArg(unsigned char V) : TFormatArg(int32_t{V}) {}
  TFormatArg(double V) : FKind(fkFloat), FFloat(V) {}
  TFormatArg(float V) : FKind(fkFloat), FFloat(V) {}
  TFormatArg(long double V) : FKind(fkFloat), FFloat(static_cast<double>(V)) {}
  TFormatArg(const char* V) : FKind(fkString), FString(V ? std::string_view(V) : std::string_view()) {}
  TFormatArg(const std::string& V) : FKind(fkString), FString(V) {}
  TFormatArg(std::string_view V) : FKind(fkString), FString(V) {}
  // A character is a one-character string, as in the framework.
  TFormatArg(const char& V) : FKind(fkString), FString(&V, 1) {}
  // Booleans and other pointers are not format arguments.
  TFormatArg(bool) = delete;
  TFormatArg(const void*) = delete;

  TKind Kind() const { return FKind; }
  int32_t AsInt32() const { return static_cast<int32_t>(FInt); }
  int64_t AsInt64() const { return FInt; }
  uint64_t AsUInt64() const { return FUInt; }
  double AsFloat() const { return FFloat; }
  std::string_view AsString() const { return FString; }

 private:
  TKind FKind;
  union {
    int64_t FInt;
    uint64_t FUInt;
    double FFloat;
  };
  std::string_view FString;
};

// Format: the framework's printf subset. A specifier is
//   % [index ":"] ["-"] [width] ["." precision] type
// with width and precision as digits or '*' (taken from the arguments) and
// type one of
//   d  signed decimal; precision = minimum digits (zero padded)
//   u  unsigned decimal (a negative 32-bit argument reads as its 32-bit
//      unsigned value, a 64-bit one as its 64-bit value)
//   x  hexadecimal in upper case, precision as for d
//   f  fixed point, precision = decimals (default 2)
//   g  general: the shorter of fixed and scientific, precision = significant
//      digits (default 15), trailing zeros dropped, exponent as in "1.5E-10"
//   s  string (a char is a one-character string); precision = maximum length
// f and g round half away from zero on the exact binary value ("%.2f" of
// 0.125 is "0.13", of 1.005 - really 1.00499... - "1.00").
//   %  a literal percent sign
// Every argument must be used and fit its specifier's type: a missing,
// extra or mismatched argument, or a malformed specifier, raises
// EConvertError naming the format.
std::string FormatArgs(std::string_view Fmt, const TFormatArg* Args, size_t Count);

inline std::string Format(std::string_view Fmt, std::initializer_list<TFormatArg> Args) {
  return FormatArgs(Fmt, Args.begin(), Args.size());
}

template <class... T>
std::string Format(std::string_view Fmt, const T&... Args) {
  const std::array<TFormatArg, sizeof...(T)> args{TFormatArg(Args)...};
  return FormatArgs(Fmt, args.data(), args.size());
}

std::string IntToStr(int64_t Value);
std::string UIntToStr(uint64_t Value);
template <std::integral T>
  requires(!std::same_as<T, bool>)
std::string IntToStr(T Value) {
  if constexpr (std::is_signed_v<T>)
    return IntToStr(static_cast<int64_t>(Value));
  else
    return UIntToStr(static_cast<uint64_t>(Value));
}
// Upper-case hexadecimal with at least Digits digits.
std::string IntToHex(int64_t Value, int Digits);

// Integer parsing: optional leading blanks, an optional sign, then decimal
// digits or a '$' / "0x" prefixed hexadecimal number (which may use the
// whole unsigned range and wraps, as in the framework: "$FFFFFFFF" is -1).
// Nothing may follow the number. Failures raise EConvertError
// "'<text>' is not a valid integer value".
int32_t StrToInt(std::string_view S);
int64_t StrToInt64(std::string_view S);
int32_t StrToIntDef(std::string_view S, int32_t Default);
int64_t StrToInt64Def(std::string_view S, int64_t Default);
bool TryStrToInt(std::string_view S, int32_t& Value);
bool TryStrToInt64(std::string_view S, int64_t& Value);

// The shortest text that reads back as the same double: fixed notation for
// decimal exponents -5..14 ("1.5", "0.1", "-0.0001", "123456789012345"),
// scientific otherwise with an upper-case E and no exponent padding
// ("1E20", "1.5E-10", "-2.5E15"). Non-finite values read "NAN", "INF", "-INF".
std::string FloatToStr(double Value);

// Float parsing: optional blanks around the number, an optional sign,
// digits with an optional '.', an optional exponent. A value too large for a
// double raises, one too small reads as zero. Failures raise EConvertError
// "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view S);
double StrToFloatDef(std::string_view S, double Default);
bool TryStrToFloat(std::string_view S, double& Value);

}  // namespace vcl
