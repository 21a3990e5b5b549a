// Tokens of the server's SQL dialect: what the translator and the procedure
// parser read. The lexer keeps every token's position and the text between
// tokens, so untouched SQL can be reassembled exactly as it was written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vdbsrv {

/// A place in a statement text.
struct TTextPos {
  int32_t Offset = 0;  ///< byte offset from the start of the text
  int32_t Line = 1;    ///< 1-based line
  int32_t Column = 1;  ///< 1-based byte column within the line
};

/// The server's syntax error: code -131, SQLSTATE 42W04.
struct TDialectError {
  static constexpr int32_t SyntaxErrorCode = -131;
  static constexpr const char* SyntaxErrorState = "42W04";

  int32_t Code = SyntaxErrorCode;
  std::string SqlState = SyntaxErrorState;
  std::string Message;  ///< "Syntax error near 'xyz' on line 1"
  TTextPos Pos;         ///< where the offending token starts
};

enum TTokenKind : uint8_t {
  tkWord,        ///< keyword or plain identifier (case-insensitive)
  tkQuotedName,  ///< "name", [name] or `name`; Value holds the name unquoted
  tkString,      ///< 'text' with '' escapes; Value holds the text unescaped
  tkNumber,      ///< 12, 1.5, .5e3, 0x1F
  tkBlob,        ///< X'0A1B'
  tkHostMarker,  ///< ?, ?NNN or :name; Value holds the name or number (empty for ?)
  tkOperator,    ///< punctuation and operators: ( ) , ; . + - || <> ...
  tkEnd          ///< end of text; always the last token
};

struct TToken {
  TTokenKind Kind = tkEnd;
  std::string_view Text;  ///< the token as written in the source
  std::string Value;      ///< decoded value (names unquoted, strings unescaped)
  TTextPos Pos;
  std::string Gap;  ///< whitespace and comments before the token, "//" comments
                    ///< rewritten as "--" so that SQLite reads them

  /// Whether this is the word W, compared without regard to ASCII case.
  bool Is(std::string_view W) const;
  /// Whether this is the operator Op.
  bool IsOp(std::string_view Op) const { return Kind == tkOperator && Text == Op; }
};

/// Outcome of lexing: the tokens (ending with tkEnd) or the first error.
struct TLexResult {
  std::vector<TToken> Tokens;
  bool Ok = true;
  TDialectError Error;
};

/// Splits Text into tokens. Text must outlive the result (tokens view it).
/// Unterminated strings, quoted names and block comments are syntax errors.
TLexResult LexSql(std::string_view Text);

/// Builds the server's syntax error message for a token.
TDialectError MakeSyntaxError(const TToken& Near);

/// ASCII case-insensitive equality (SQL names are compared this way).
bool SameName(std::string_view A, std::string_view B);

/// ASCII lower-case copy.
std::string LowerName(std::string_view S);

}  // namespace vdbsrv
