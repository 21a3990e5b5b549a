#include "rtl/SysUtils.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace vcl {

namespace {

// Widths and precisions beyond this are taken as a malformed format rather
// than as a request for megabytes of padding.
constexpr int kMaxWidth = 4096;
// "No width or precision given".
constexpr int kNone = std::numeric_limits<int>::min();

[[noreturn]] void InvalidFormat(std::string_view Fmt) {
  throw EConvertError("Format '" + std::string(Fmt) + "' invalid or incompatible with argument");
}

[[noreturn]] void MissingArgument(std::string_view Fmt) {
  throw EConvertError("No argument for format '" + std::string(Fmt) + "'");
}

std::string UnsignedDigits(uint64_t V, unsigned Base) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, V, static_cast<int>(Base));
  std::string s(buf, r.ptr);
  if (Base == 16)
    for (char& c : s)
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 32);
  return s;
}

// Lays out decimal digits D (no leading zeros unless the value is zero)
// with the decimal exponent E of the first digit (value = 0.D * 10^(E+1)),
// in the general style documented for FloatToStr.
std::string LayoutGeneral(bool Negative, std::string D, int E, int FixedLimit) {
  while (D.size() > 1 && D.back() == '0') D.pop_back();
  std::string s = Negative ? "-" : "";
  if (E >= -5 && E < FixedLimit) {
    if (E < 0) {
      s += "0.";
      s.append(static_cast<size_t>(-E - 1), '0');
      s += D;
    } else if (static_cast<size_t>(E) + 1 >= D.size()) {
      s += D;
      s.append(static_cast<size_t>(E) + 1 - D.size(), '0');
    } else {
      s.append(D, 0, static_cast<size_t>(E) + 1);
      s += '.';
      s.append(D, static_cast<size_t>(E) + 1);
    }
  } else {
    s += D[0];
    if (D.size() > 1) {
      s += '.';
      s.append(D, 1);
    }
    s += 'E';
    s += std::to_string(E);
  }
  return s;
}

std::string NonFinite(double V) {
  if (std::isnan(V)) return "NAN";
  return V < 0 ? "-INF" : "INF";
}

// Splits a to_chars scientific text "d.dddde[+-]xx" into digits and exponent.
void SplitScientific(const char* First, const char* Last, std::string& Digits, int& Exp) {
  Digits.clear();
  const char* p = First;
  for (; p != Last && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') Digits += *p;
  Exp = 0;
  if (p != Last) {
    ++p;
    if (p != Last && *p == '+') ++p;
    std::from_chars(p, Last, Exp);
  }
}

// Enough decimals to write any double exactly, so that rounding can be done
// on the true digits: half away from zero, as the framework rounds, where
// to_chars would round exact ties to even.
constexpr int kExactDecimals = 1100;

// Keeps the first Keep digits of D, rounding half away from zero; answers
// whether the rounding carried out of the first digit (D is then "1" + zeros).
bool RoundDigits(std::string& D, size_t Keep) {
  if (D.size() <= Keep) return false;
  const bool up = D[Keep] >= '5';
  D.resize(Keep);
  if (!up) return false;
  for (size_t i = D.size(); i-- > 0;) {
    if (D[i] != '9') {
      ++D[i];
      return false;
    }
    D[i] = '0';
  }
  D.insert(D.begin(), '1');
  return true;
}

std::string GeneralText(double V, int Precision) {
  if (!std::isfinite(V)) return NonFinite(V);
  if (V == 0) return "0";
  const double a = std::fabs(V);
  std::string digits;
  int exp = 0;
  if (Precision > 0) {
    std::string buf(kExactDecimals + 32, '\0');
    auto r = std::to_chars(buf.data(), buf.data() + buf.size(), a, std::chars_format::scientific,
                           kExactDecimals);
    SplitScientific(buf.data(), r.ptr, digits, exp);
    if (RoundDigits(digits, static_cast<size_t>(Precision))) {
      digits.pop_back();
      ++exp;
    }
  } else {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
    SplitScientific(buf, r.ptr, digits, exp);
  }
  return LayoutGeneral(V < 0, digits, exp, Precision > 0 ? Precision : 15);
}

std::string FixedText(double V, int Precision) {
  if (!std::isfinite(V)) return NonFinite(V);
  std::string buf(static_cast<size_t>(330 + kExactDecimals), '\0');
  auto r = std::to_chars(buf.data(), buf.data() + buf.size(), std::fabs(V),
                         std::chars_format::fixed, kExactDecimals);
  buf.resize(static_cast<size_t>(r.ptr - buf.data()));
  const size_t dot = buf.find('.');
  std::string digits = buf.substr(0, dot) + buf.substr(dot + 1);
  size_t intDigits = dot;
  if (RoundDigits(digits, intDigits + static_cast<size_t>(Precision))) ++intDigits;
  std::string s;
  // "-0.00" would read as a negative number that is not there.
  if (V < 0 && digits.find_first_not_of('0') != std::string::npos) s = "-";
  s.append(digits, 0, intDigits);
  if (Precision > 0) {
    s += '.';
    s.append(digits, intDigits);
  }
  return s;
}

class Formatter {
 public:
  Formatter(std::string_view Fmt, const TFormatArg* Args, size_t Count)
      : FFmt(Fmt), FArgs(Args), FCount(Count) {}

  std::string Run() {
    std::string out;
    size_t i = 0;
    while (i < FFmt.size()) {
      const size_t pct = FFmt.find('%', i);
      if (pct == std::string_view::npos) {
        out.append(FFmt.substr(i));
        break;
      }
      out.append(FFmt.substr(i, pct - i));
      i = pct + 1;
      if (i < FFmt.size() && FFmt[i] == '%') {
        out += '%';
        ++i;
        continue;
      }
      Specifier(i, out);
    }
    if (FMaxUsed < FCount)
      throw EConvertError("Too many arguments for format '" + std::string(FFmt) + "'");
    return out;
  }

 private:
  const TFormatArg& Take() {
    if (FNext >= FCount) MissingArgument(FFmt);
    const TFormatArg& a = FArgs[FNext++];
    if (FNext > FMaxUsed) FMaxUsed = FNext;
    return a;
  }

  // Digits or '*' (whose argument may be negative); kNone when neither is there.
  int Number(size_t& I) {
    if (I < FFmt.size() && FFmt[I] == '*') {
      ++I;
      const TFormatArg& a = Take();
      if (a.Kind() != TFormatArg::fkInt32 && a.Kind() != TFormatArg::fkInt64) InvalidFormat(FFmt);
      const int64_t v = a.AsInt64();
      if (v < -kMaxWidth || v > kMaxWidth) InvalidFormat(FFmt);
      return static_cast<int>(v);
    }
    return Digits(I);
  }

  int Digits(size_t& I) {
    if (I >= FFmt.size() || FFmt[I] < '0' || FFmt[I] > '9') return kNone;
    int v = 0;
    while (I < FFmt.size() && FFmt[I] >= '0' && FFmt[I] <= '9') {
      v = v * 10 + (FFmt[I] - '0');
      if (v > kMaxWidth) InvalidFormat(FFmt);
      ++I;
    }
    return v;
  }

  void Specifier(size_t& I, std::string& Out) {
    bool left = false;
    // An index "n:" comes first; it looks like a width until the colon.
    size_t probe = I;
    const int n = Digits(probe);
    if (n != kNone && probe < FFmt.size() && FFmt[probe] == ':') {
      FNext = static_cast<size_t>(n);
      I = probe + 1;
    }
    if (I < FFmt.size() && FFmt[I] == '-') {
      left = true;
      ++I;
    }
    int width = Number(I);
    if (width < 0 && width != kNone) {  // a negative '*' width pads on the right
      left = true;
      width = -width;
    }
    int precision = kNone;
    if (I < FFmt.size() && FFmt[I] == '.') {
      ++I;
      precision = Number(I);
      if (precision == kNone) precision = 0;  // "%.f" is "%.0f"
      if (precision < 0) precision = kNone;   // a negative '*' precision is none
    }
    if (I >= FFmt.size()) InvalidFormat(FFmt);
    const char type = FFmt[I++];
    std::string text;
    switch (type | 0x20) {  // the framework accepts upper-case types too
      case 'd': text = Integer(Take(), precision, false, 10); break;
      case 'u': text = Integer(Take(), precision, true, 10); break;
      case 'x': text = Integer(Take(), precision, true, 16); break;
      case 'f': text = FixedText(Float(Take()), precision < 0 ? 2 : precision); break;
      case 'g':
        text = GeneralText(Float(Take()), precision < 0 ? 15 : precision == 0 ? 1 : precision);
        break;
      case 's': {
        const TFormatArg& a = Take();
        if (a.Kind() != TFormatArg::fkString) InvalidFormat(FFmt);
        std::string_view s = a.AsString();
        if (precision >= 0 && static_cast<size_t>(precision) < s.size()) s = s.substr(0, precision);
        text = s;
        break;
      }
      default: InvalidFormat(FFmt);
    }
    const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
    if (text.size() >= w) {
      Out += text;
    } else if (left) {
      Out += text;
      Out.append(w - text.size(), ' ');
    } else {
      Out.append(w - text.size(), ' ');
      Out += text;
    }
  }

  double Float(const TFormatArg& A) {
    if (A.Kind() != TFormatArg::fkFloat) InvalidFormat(FFmt);
    return A.AsFloat();
  }

  std::string Integer(const TFormatArg& A, int Precision, bool Unsigned, unsigned Base) {
    bool negative = false;
    uint64_t magnitude = 0;
    switch (A.Kind()) {
      case TFormatArg::fkInt32:
        if (Unsigned)
          magnitude = static_cast<uint32_t>(A.AsInt32());
        else if (A.AsInt32() < 0) {
          negative = true;
          magnitude = 0 - static_cast<uint64_t>(A.AsInt64());
        } else
          magnitude = static_cast<uint64_t>(A.AsInt64());
        break;
      case TFormatArg::fkInt64:
        if (Unsigned)
          magnitude = static_cast<uint64_t>(A.AsInt64());
        else if (A.AsInt64() < 0) {
          negative = true;
          magnitude = 0 - static_cast<uint64_t>(A.AsInt64());
        } else
          magnitude = static_cast<uint64_t>(A.AsInt64());
        break;
      case TFormatArg::fkUInt64: magnitude = A.AsUInt64(); break;
      default: InvalidFormat(FFmt);
    }
    std::string digits = UnsignedDigits(magnitude, Base);
    if (Precision > 0 && digits.size() < static_cast<size_t>(Precision))
      digits.insert(0, static_cast<size_t>(Precision) - digits.size(), '0');
    return negative ? "-" + digits : digits;
  }

  std::string_view FFmt;
  const TFormatArg* FArgs;
  size_t FCount;
  size_t FNext = 0;
  size_t FMaxUsed = 0;
};

bool IsSpace(char C) { return C == ' ' || C == '\t'; }

// Parses the integer syntax documented in the header into a 64-bit value.
// Min and Max bound a decimal number, HexBits is the width a hexadecimal one
// may fill.
bool ParseInteger(std::string_view S, int64_t Min, int64_t Max, unsigned HexBits, int64_t& Out) {
  size_t i = 0;
  while (i < S.size() && IsSpace(S[i])) ++i;
  bool negative = false;
  if (i < S.size() && (S[i] == '+' || S[i] == '-')) negative = S[i++] == '-';
  unsigned base = 10;
  if (i < S.size() && S[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < S.size() && S[i] == '0' && (S[i + 1] == 'x' || S[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= S.size()) return false;
  uint64_t v = 0;
  const char* first = S.data() + i;
  const char* last = S.data() + S.size();
  auto r = std::from_chars(first, last, v, static_cast<int>(base));
  if (r.ec != std::errc() || r.ptr != last || *first == '+' || *first == '-') return false;
  if (base == 16) {
    if (HexBits < 64 && v > (uint64_t{1} << HexBits) - 1) return false;
    // The whole unsigned range is allowed and wraps into the signed one.
    int64_t signedValue =
        HexBits == 32 ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)))
                      : static_cast<int64_t>(v);
    if (negative) {
      if (signedValue == std::numeric_limits<int64_t>::min() || signedValue == Min) return false;
      signedValue = -signedValue;
    }
    Out = signedValue;
    return true;
  }
  if (negative) {
    if (v > static_cast<uint64_t>(Max) + 1) return false;
    Out = static_cast<int64_t>(0 - v);
    if (Out < Min) return false;
  } else {
    if (v > static_cast<uint64_t>(Max)) return false;
    Out = static_cast<int64_t>(v);
  }
  return true;
}

[[noreturn]] void InvalidInteger(std::string_view S) {
  throw EConvertError("'" + std::string(S) + "' is not a valid integer value");
}

// Checks the float syntax by hand (from_chars would also take "inf", "nan"
// and hexadecimal forms) and reads the number.
bool ParseFloat(std::string_view S, double& Out) {
  size_t b = 0, e = S.size();
  while (b < e && IsSpace(S[b])) ++b;
  while (e > b && IsSpace(S[e - 1])) --e;
  const std::string_view t = S.substr(b, e - b);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  const size_t numberStart = i;
  // Decimal exponent of the first significant digit, to tell overflow from
  // underflow when the value does not fit.
  long magnitude = 0;
  bool significant = false;
  size_t digits = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits) {
    if (significant) ++magnitude;
    else if (t[i] != '0') significant = true;
  }
  if (i < t.size() && t[i] == '.') {
    for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++digits)
      if (!significant) {
        --magnitude;
        if (t[i] != '0') significant = true;
      }
  }
  if (digits == 0) return false;
  std::string number(t.substr(numberStart, i - numberStart));
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) expNegative = t[i++] == '-';
    long exp10 = 0;
    size_t expDigits = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++expDigits)
      if (exp10 < 100000) exp10 = exp10 * 10 + (t[i] - '0');
    if (expDigits == 0) return false;
    if (expNegative) exp10 = -exp10;
    magnitude += exp10;
    number += 'e';
    number += std::to_string(exp10);
  }
  if (i != t.size()) return false;
  double v = 0;
  auto r = std::from_chars(number.data(), number.data() + number.size(), v,
                           std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    if (magnitude >= 0) return false;  // too large for a double
    v = 0;                             // too small: reads as zero
  } else if (r.ec != std::errc() || r.ptr != number.data() + number.size()) {
    return false;
  }
  Out = negative ? -v : v;
  return true;
}

}  // namespace

std::string FormatArgs(std::string_view Fmt, const TFormatArg* Args, size_t Count) {
  return Formatter(Fmt, Args, Count).Run();
}

std::string IntToStr(int64_t Value) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, Value);
  return std::string(buf, r.ptr);
}

std::string UIntToStr(uint64_t Value) { return UnsignedDigits(Value, 10); }

std::string IntToHex(int64_t Value, int Digits) {
  std::string s = UnsignedDigits(static_cast<uint64_t>(Value), 16);
  if (Digits > 0 && s.size() < static_cast<size_t>(Digits))
    s.insert(0, static_cast<size_t>(Digits) - s.size(), '0');
  return s;
}

bool TryStrToInt(std::string_view S, int32_t& Value) {
  int64_t v = 0;
  if (!ParseInteger(S, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max(), 32,
                    v))
    return false;
  Value = static_cast<int32_t>(v);
  return true;
}

bool TryStrToInt64(std::string_view S, int64_t& Value) {
  return ParseInteger(S, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max(),
                      64, Value);
}

int32_t StrToInt(std::string_view S) {
  int32_t v = 0;
  if (!TryStrToInt(S, v)) InvalidInteger(S);
  return v;
}

int64_t StrToInt64(std::string_view S) {
  int64_t v = 0;
  if (!TryStrToInt64(S, v)) InvalidInteger(S);
  return v;
}

int32_t StrToIntDef(std::string_view S, int32_t Default) {
  int32_t v = 0;
  return TryStrToInt(S, v) ? v : Default;
}

int64_t StrToInt64Def(std::string_view S, int64_t Default) {
  int64_t v = 0;
  return TryStrToInt64(S, v) ? v : Default;
}

std::string FloatToStr(double Value) { return GeneralText(Value, 0); }

bool TryStrToFloat(std::string_view S, double& Value) { return ParseFloat(S, Value); }

double StrToFloat(std::string_view S) {
  double v = 0;
  if (!ParseFloat(S, v))
    throw EConvertError("'" + std::string(S) + "' is not a valid floating point value");
  return v;
}

double StrToFloatDef(std::string_view S, double Default) {
  double v = 0;
  return ParseFloat(S, v) ? v : Default;
}

}  // namespace vcl
