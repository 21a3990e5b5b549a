#include "rtl/FormParser.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace vcl {

namespace {

bool IsIdentStart(char C) { return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_'; }
bool IsIdentChar(char C) { return IsIdentStart(C) || (C >= '0' && C <= '9'); }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  return -1;
}

void AppendUtf8(std::string& S, uint32_t Code) {
  if (Code < 0x800) {
    S += static_cast<char>(0xC0 | (Code >> 6));
  } else if (Code < 0x10000) {
    S += static_cast<char>(0xE0 | (Code >> 12));
    S += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
  } else {
    S += static_cast<char>(0xF0 | (Code >> 18));
    S += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    S += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
  }
  S += static_cast<char>(0x80 | (Code & 0x3F));
}

std::string Printable(char C) {
  unsigned char U = static_cast<unsigned char>(C);
  if (U > ' ' && U < 127) return std::string("'") + C + "'";
  return "#" + std::to_string(U);
}

}  // namespace

void TParser::Error(const std::string& Reason, int32_t AtLine) const {
  throw EReadError(Reason + " on line " + std::to_string(AtLine));
}

std::string TParser::Describe() const {
  switch (FToken.Kind) {
    case tkEOF: return "end of file";
    case tkSymbol: return std::string("'") + FToken.Symbol + "'";
    case tkIdent: return "'" + FToken.Text + "'";
    case tkString: return "a string";
    case tkInteger:
    case tkFloat: return "number " + FToken.Text;
    case tkBinary: return "binary data";
  }
  return "?";
}

void TParser::SkipBlanks() {
  while (!AtEnd()) {
    char C = FText[FPos];
    if (C == '\n') {
      ++FLine;
    } else if (C == '\r') {
      if (Peek(1) != '\n') ++FLine;
    } else if (C != ' ' && C != '\t') {
      return;
    }
    ++FPos;
  }
}

const TToken& TParser::Next() {
  SkipBlanks();
  FToken = TToken();
  FToken.Line = FLine;
  if (AtEnd()) {
    // The end of a text that closes with a line break is on its last line.
    if (!FText.empty() && (FText.back() == '\n' || FText.back() == '\r') && FLine > 1) --FToken.Line;
    return FToken;
  }
  char C = FText[FPos];
  if (IsIdentStart(C)) {
    size_t Start = FPos;
    while (true) {
      while (IsIdentChar(Peek())) ++FPos;
      if (Peek() == '.' && IsIdentStart(Peek(1))) {
        ++FPos;
        continue;
      }
      break;
    }
    FToken.Kind = tkIdent;
    FToken.Text = FText.substr(Start, FPos - Start);
  } else if (IsDigit(C) || C == '$' || ((C == '-' || C == '+') && (IsDigit(Peek(1)) || Peek(1) == '$'))) {
    ScanNumber();
  } else if (C == '\'' || C == '#') {
    ScanString();
  } else if (C == '{') {
    ScanBinary();
  } else if (std::strchr("=:[](),+<>", C) != nullptr) {
    FToken.Kind = tkSymbol;
    FToken.Symbol = C;
    ++FPos;
  } else {
    Error("Invalid character " + Printable(C), FLine);
  }
  return FToken;
}

void TParser::ScanNumber() {
  size_t Start = FPos;
  bool Negative = false;
  if (Peek() == '-' || Peek() == '+') {
    Negative = Peek() == '-';
    ++FPos;
  }
  bool Hex = Peek() == '$';
  if (Hex) ++FPos;
  size_t Digits = FPos;
  // Take everything that could belong to the number, so that "12x" or
  // "1.2.3" is reported as one bad number rather than as two tokens.
  while (true) {
    char C = Peek();
    if (IsIdentChar(C) || C == '.') {
      ++FPos;
      if (!Hex && (C == 'e' || C == 'E') && (Peek() == '+' || Peek() == '-')) ++FPos;
    } else {
      break;
    }
  }
  FToken.Text = FText.substr(Start, FPos - Start);
  std::string Body = FText.substr(Digits, FPos - Digits);
  auto Bad = [&] { Error("Invalid number " + FToken.Text, FToken.Line); };
  if (Body.empty()) Bad();
  const char* First = Body.data();
  const char* Last = Body.data() + Body.size();
  if (Hex || Body.find_first_of(".eE") == std::string::npos) {
    uint64_t Magnitude = 0;
    auto [End, Ec] = std::from_chars(First, Last, Magnitude, Hex ? 16 : 10);
    if (Ec != std::errc() || End != Last) Bad();
    uint64_t Limit = Negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
    if (Magnitude > Limit) Bad();
    FToken.Kind = tkInteger;
    FToken.Integer = Negative ? static_cast<int64_t>(0 - Magnitude) : static_cast<int64_t>(Magnitude);
  } else {
    if (!IsDigit(Body[0])) Bad();
    double Value = 0;
    auto [End, Ec] = std::from_chars(First, Last, Value);
    if (Ec != std::errc() || End != Last || !std::isfinite(Value)) Bad();
    FToken.Kind = tkFloat;
    FToken.Float = Negative ? -Value : Value;
  }
}

void TParser::ScanString() {
  FToken.Kind = tkString;
  while (Peek() == '\'' || Peek() == '#') {
    if (Peek() == '\'') {
      ++FPos;
      while (true) {
        if (AtEnd() || Peek() == '\r' || Peek() == '\n') Error("Unterminated string", FLine);
        char C = FText[FPos++];
        if (C == '\'') {
          if (Peek() != '\'') break;
          ++FPos;
        }
        FToken.Text += C;
      }
    } else {
      ++FPos;
      bool Hex = Peek() == '$';
      if (Hex) ++FPos;
      size_t Start = FPos;
      while (Hex ? HexValue(Peek()) >= 0 : IsDigit(Peek())) ++FPos;
      uint32_t Code = 0;
      auto [End, Ec] = std::from_chars(FText.data() + Start, FText.data() + FPos, Code, Hex ? 16 : 10);
      if (Start == FPos || Ec != std::errc() || Code > 0x10FFFF) Error("Invalid character code", FLine);
      (void)End;
      // Codes above 255 come from wide strings; they are kept as UTF-8.
      if (Code < 256)
        FToken.Text += static_cast<char>(Code);
      else
        AppendUtf8(FToken.Text, Code);
    }
  }
}

void TParser::ScanBinary() {
  FToken.Kind = tkBinary;
  ++FPos;  // '{'
  int High = -1;
  while (true) {
    SkipBlanks();
    if (AtEnd()) Error("Unexpected end of file in binary data", FLine);
    char C = FText[FPos++];
    if (C == '}') break;
    int V = HexValue(C);
    if (V < 0) Error("Invalid binary value " + Printable(C), FLine);
    if (High < 0) {
      High = V;
    } else {
      FToken.Text += static_cast<char>(High * 16 + V);
      High = -1;
    }
  }
  if (High >= 0) Error("Odd number of hex digits in binary data", FLine);
}

}  // namespace vcl
