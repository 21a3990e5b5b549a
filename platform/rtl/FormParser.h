// TParser: splits form-file text into tokens, each with its line number.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/System.h"

namespace vcl {

enum TTokenKind : uint8_t {
  tkEOF,     // end of the text
  tkSymbol,  // one of = : [ ] ( ) , + < >
  tkIdent,   // an identifier, dotted paths included (SQL.Strings)
  tkString,  // quoted pieces and #nnn codes, already decoded to bytes
  tkInteger, // decimal or $hex, optionally negative
  tkFloat,   // a number with a fraction or an exponent
  tkBinary,  // { hex } already decoded to bytes
};

struct TToken {
  TTokenKind Kind = tkEOF;
  char Symbol = 0;     // tkSymbol
  std::string Text;    // tkIdent, tkString, tkBinary (decoded); source text for numbers
  int64_t Integer = 0; // tkInteger
  double Float = 0;    // tkFloat
  int32_t Line = 1;    // line the token starts on, from 1
};

// Errors raise EReadError "<reason> on line <n>".
class TParser {
 public:
  explicit TParser(std::string Text) : FText(std::move(Text)) {}

  // The current token; Next() moves on and answers the new one.
  const TToken& Token() const { return FToken; }
  const TToken& Next();
  int32_t Line() const { return FLine; }

  [[noreturn]] void Error(const std::string& Reason, int32_t AtLine) const;
  [[noreturn]] void Error(const std::string& Reason) const { Error(Reason, FToken.Line); }
  // How the current token reads in a message.
  std::string Describe() const;

 private:
  void SkipBlanks();
  void ScanNumber();
  void ScanString();
  void ScanBinary();
  bool AtEnd() const { return FPos >= FText.size(); }
  char Peek(size_t Ahead = 0) const { return FPos + Ahead < FText.size() ? FText[FPos + Ahead] : '\0'; }

  std::string FText;  // the whole form text
  size_t FPos = 0;    // next byte to scan
  int32_t FLine = 1;  // line of FPos
  TToken FToken;      // the current token
};

}  // namespace vcl
