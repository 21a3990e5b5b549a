#include "ValueText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "rtl/DateUtils.h"

namespace vdbsql {

using vdb::TVantorFieldTypes;

std::string FloatText(double Value) {
  char Buf[64];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
  return std::string(Buf, R.ptr);
}

std::string HexText(std::string_view Bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string Out;
  Out.reserve(2 + Bytes.size() * 2);
  Out += "0x";
  for (unsigned char B : Bytes) {
    Out += kDigits[B >> 4];
    Out += kDigits[B & 15];
  }
  return Out;
}

std::string Base64Text(std::string_view Bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string Out;
  Out.reserve((Bytes.size() + 2) / 3 * 4);
  size_t I = 0;
  for (; I + 3 <= Bytes.size(); I += 3) {
    uint32_t V = (uint8_t(Bytes[I]) << 16) | (uint8_t(Bytes[I + 1]) << 8) | uint8_t(Bytes[I + 2]);
    Out += kAlphabet[V >> 18];
    Out += kAlphabet[(V >> 12) & 63];
    Out += kAlphabet[(V >> 6) & 63];
    Out += kAlphabet[V & 63];
  }
  if (size_t Rest = Bytes.size() - I) {
    uint32_t V = uint8_t(Bytes[I]) << 16;
    if (Rest == 2) V |= uint8_t(Bytes[I + 1]) << 8;
    Out += kAlphabet[V >> 18];
    Out += kAlphabet[(V >> 12) & 63];
    Out += Rest == 2 ? kAlphabet[(V >> 6) & 63] : '=';
    Out += '=';
  }
  return Out;
}

std::string BytesOf(const vcl::Variant& Value) {
  if (vcl::VarIsArray(Value)) {
    auto Bytes = vcl::VarArrayBytes(Value);
    return std::string(reinterpret_cast<const char*>(Bytes.data()), Bytes.size());
  }
  return vcl::VarToStr(Value);
}

bool IsNumericType(TVantorFieldTypes Type) {
  return Type == vdb::vtInteger || Type == vdb::vtInt64 || Type == vdb::vtFloat || Type == vdb::vtCurrency;
}

bool IsBinaryType(TVantorFieldTypes Type) { return Type == vdb::vtBinary || Type == vdb::vtBlob; }

namespace {

// Appends Value in C notation, without a locale or a format string.
template <typename T>
void AppendNumber(std::string& Out, T Value) {
  char Buf[32];
  auto R = std::to_chars(Buf, Buf + sizeof Buf, Value);
  Out.append(Buf, R.ptr);
}

// Appends Value as Width digits with leading zeros.
void AppendDigits(std::string& Out, unsigned Value, int Width) {
  char Buf[8];
  for (int I = Width - 1; I >= 0; --I) {
    Buf[I] = static_cast<char>('0' + Value % 10);
    Value /= 10;
  }
  Out.append(Buf, static_cast<size_t>(Width));
}

void AppendDate(std::string& Out, unsigned Year, unsigned Month, unsigned Day) {
  AppendDigits(Out, Year, 4);
  Out += '-';
  AppendDigits(Out, Month, 2);
  Out += '-';
  AppendDigits(Out, Day, 2);
}

void AppendTime(std::string& Out, unsigned Hour, unsigned Min, unsigned Sec, unsigned MSec) {
  AppendDigits(Out, Hour, 2);
  Out += ':';
  AppendDigits(Out, Min, 2);
  Out += ':';
  AppendDigits(Out, Sec, 2);
  if (MSec != 0) {
    Out += '.';
    AppendDigits(Out, MSec, 3);
  }
}

}  // namespace

void AppendPlainText(std::string& Out, const vcl::Variant& Value, TVantorFieldTypes Type, int32_t Decimals) {
  // A value that already arrives as text (a driver's own rendering) is kept.
  if (vcl::VarIsStr(Value) && Type != vdb::vtBoolean && !IsBinaryType(Type)) {
    Out += Value.AsString();
    return;
  }
  switch (Type) {
    case vdb::vtInteger:
    case vdb::vtInt64:
      AppendNumber(Out, Value.AsInt64());
      return;
    case vdb::vtFloat: {
      const double D = Value.AsDouble();
      if (Decimals > 0 && Decimals <= 30 && std::isfinite(D)) {
        char Buf[384];
        auto R = std::to_chars(Buf, Buf + sizeof Buf, D, std::chars_format::fixed, Decimals);
        Out.append(Buf, R.ptr);
      } else {
        AppendNumber(Out, D);
      }
      return;
    }
    case vdb::vtCurrency: {
      if (Decimals <= 0) {
        Out += vcl::CurrToStr(Value.AsCurrency());
        return;
      }
      // Exact from the scaled amount: four decimals, then cut or padded.
      const int64_t Scaled = Value.AsCurrency().Val;
      const uint64_t Abs = Scaled < 0 ? 0 - static_cast<uint64_t>(Scaled) : static_cast<uint64_t>(Scaled);
      if (Scaled < 0) Out += '-';
      AppendNumber(Out, Abs / 10000);
      Out += '.';
      AppendDigits(Out, static_cast<unsigned>(Abs % 10000), 4);
      if (Decimals < 4) Out.resize(Out.size() - static_cast<size_t>(4 - Decimals));
      else Out.append(static_cast<size_t>(std::min<int32_t>(Decimals, 30) - 4), '0');
      return;
    }
    case vdb::vtBoolean:
      Out += Value.AsBoolean() ? '1' : '0';
      return;
    case vdb::vtDate:
    case vdb::vtTime:
    case vdb::vtDateTime: {
      uint16_t Year, Month, Day, Hour, Min, Sec, MSec;
      vcl::DecodeDateTime(Value.AsDateTime(), Year, Month, Day, Hour, Min, Sec, MSec);
      if (Type != vdb::vtTime) AppendDate(Out, Year, Month, Day);
      if (Type == vdb::vtDateTime) Out += ' ';
      if (Type != vdb::vtDate) AppendTime(Out, Hour, Min, Sec, MSec);
      return;
    }
    case vdb::vtBinary:
    case vdb::vtBlob:
      Out += HexText(BytesOf(Value));
      return;
    default:
      Out += vcl::VarIsArray(Value) ? BytesOf(Value) : vcl::VarToStr(Value);
  }
}

std::string PlainText(const vcl::Variant& Value, TVantorFieldTypes Type, int32_t Decimals) {
  std::string Out;
  AppendPlainText(Out, Value, Type, Decimals);
  return Out;
}

namespace {

// Length of the valid UTF-8 sequence starting at P, or 0.
size_t Utf8Sequence(std::string_view S, size_t P) {
  const unsigned char C = S[P];
  size_t Len = C < 0x80 ? 1 : (C >> 5) == 6 ? 2 : (C >> 4) == 14 ? 3 : (C >> 3) == 30 ? 4 : 0;
  if (Len == 0 || P + Len > S.size()) return 0;
  for (size_t I = 1; I < Len; ++I)
    if ((static_cast<unsigned char>(S[P + I]) & 0xC0) != 0x80) return 0;
  if (Len == 2 && C < 0xC2) return 0;  // overlong
  return Len;
}

}  // namespace

namespace {

// The printable ASCII characters a JSON string holds as they are.
constexpr TCharSet kJsonPlain = [] {
  std::string_view All =
      " !#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{|}~\x7f";
  return TCharSet(All);
}();

}  // namespace

void AppendJsonString(std::string& Out, std::string_view Text) {
  static const char kDigits[] = "0123456789abcdef";
  Out += '"';
  for (size_t I = 0; I < Text.size();) {
    // Plain ASCII goes over as one run.
    size_t Run = I;
    while (Run < Text.size() && kJsonPlain.In(Text[Run])) ++Run;
    if (Run > I) {
      Out.append(Text.substr(I, Run - I));
      I = Run;
      continue;
    }
    const unsigned char C = Text[I];
    if (C >= 0x80) {
      if (size_t Len = Utf8Sequence(Text, I)) {
        Out.append(Text.substr(I, Len));
        I += Len;
      } else {
        // Latin-1 code point C as two UTF-8 bytes.
        Out += static_cast<char>(0xC0 | (C >> 6));
        Out += static_cast<char>(0x80 | (C & 0x3F));
        ++I;
      }
      continue;
    }
    switch (C) {
      case '"': Out += "\\\""; break;
      case '\\': Out += "\\\\"; break;
      case '\n': Out += "\\n"; break;
      case '\r': Out += "\\r"; break;
      case '\t': Out += "\\t"; break;
      case '\b': Out += "\\b"; break;
      case '\f': Out += "\\f"; break;
      default:
        if (C < 0x20) {
          Out += "\\u00";
          Out += kDigits[C >> 4];
          Out += kDigits[C & 15];
        } else {
          Out += static_cast<char>(C);
        }
    }
    ++I;
  }
  Out += '"';
}

void AppendJsonValue(std::string& Out, const vcl::Variant& Value, TVantorFieldTypes Type, int32_t Decimals,
                     std::string& Scratch) {
  if (vcl::VarIsNull(Value) || vcl::VarIsEmpty(Value)) {
    Out += "null";
    return;
  }
  switch (Type) {
    case vdb::vtInteger:
    case vdb::vtInt64:
    case vdb::vtCurrency:
      if (vcl::VarIsStr(Value)) break;
      AppendPlainText(Out, Value, Type, Decimals);
      return;
    case vdb::vtFloat: {
      if (vcl::VarIsStr(Value)) break;
      if (std::isfinite(Value.AsDouble())) AppendPlainText(Out, Value, Type, Decimals);
      else Out += "null";
      return;
    }
    case vdb::vtBoolean:
      Out += Value.AsBoolean() ? "true" : "false";
      return;
    case vdb::vtBinary:
    case vdb::vtBlob:
      AppendJsonString(Out, Base64Text(BytesOf(Value)));
      return;
    default:
      break;
  }
  Scratch.clear();
  AppendPlainText(Scratch, Value, Type);
  AppendJsonString(Out, Scratch);
}

size_t DisplayWidth(std::string_view Text) {
  size_t W = 0;
  for (unsigned char C : Text)
    if ((C & 0xC0) != 0x80) ++W;
  return W;
}

}  // namespace vdbsql
