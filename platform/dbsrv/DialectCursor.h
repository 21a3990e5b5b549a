// A reading position over the tokens of one statement, shared by the command
// parser and the procedure parser. Failures throw TDialectFault.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dbsrv/DialectLexer.h"
#include "dbsrv/DialectTranslator.h"

namespace vdbsrv {

struct TMessageStmt;
struct TCallStmt;

class TDialectCursor {
 public:
  TDialectCursor(const std::vector<TToken>& Tokens, size_t B, size_t E, TSqlTranslator& Tr)
      : FTokens(Tokens), FPos(B), FEnd(E), FTr(Tr) {}

 protected:
  const std::vector<TToken>& FTokens;
  size_t FPos;
  size_t FEnd;  ///< tokens from FEnd on belong to the next statement
  TSqlTranslator& FTr;

  /// The token Ahead places on; the end token (or the next statement's first
  /// token) once past FEnd.
  const TToken& Peek(size_t Ahead = 0) const;
  const TToken& Next();
  bool Accept(std::string_view Word);
  bool AcceptOp(std::string_view Op);
  void Expect(std::string_view Word);
  void ExpectOp(std::string_view Op);
  void ExpectEnd();
  /// A plain or quoted name.
  std::string ExpectName();
  /// `name` or `owner.name`.
  void QualifiedName(std::string& Owner, std::string& Name);
  /// A declared type: words and at most one parenthesised group, as written with
  /// single blanks ("long varchar", "numeric(10,2)"); stops at Stops and ",", ")", ";".
  std::string TypeText(const std::vector<std::string_view>& Stops);
  /// End of an expression starting at FPos: the first "," or unmatched ")" or
  /// ";" or word of Stops outside parentheses, `if`/`endif` and `case`/`end`.
  size_t ExpressionEnd(const std::vector<std::string_view>& Stops) const;
  /// Translates the expression at FPos and moves past it; an empty one fails.
  TDialectExpr Expression(const std::vector<std::string_view>& Stops, bool Variables = true);
  /// Whether tokens [From, To), the value assigned to Name, read `Name || piece`
  /// (or `Name + piece` for a string value); then Piece is the translated piece.
  bool AppendedPiece(size_t From, size_t To, std::string_view Name, bool ValueIsString, TDialectExpr& Piece);
  /// `call [owner.]name[(args)]` from the word CALL on.
  void ParseCall(TCallStmt& Call);
  /// The rest of `message ...` after the word MESSAGE.
  TMessageStmt ParseMessage(bool Variables);
  [[noreturn]] void Fail() const { throw TDialectFault{FPos < FEnd ? FPos : FEnd}; }
  [[noreturn]] void Fail(size_t P) const { throw TDialectFault{P}; }
};

}  // namespace vdbsrv
