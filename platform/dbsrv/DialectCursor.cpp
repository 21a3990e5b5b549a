#include "dbsrv/DialectCursor.h"

namespace vdbsrv {

const TToken& TDialectCursor::Peek(size_t Ahead) const {
  size_t P = FPos + Ahead;
  return P < FEnd ? FTokens[P] : FTokens[FEnd];
}

const TToken& TDialectCursor::Next() {
  const TToken& T = Peek();
  if (FPos < FEnd) FPos++;
  return T;
}

bool TDialectCursor::Accept(std::string_view Word) {
  if (FPos >= FEnd || !Peek().Is(Word)) return false;
  FPos++;
  return true;
}

bool TDialectCursor::AcceptOp(std::string_view Op) {
  if (FPos >= FEnd || !Peek().IsOp(Op)) return false;
  FPos++;
  return true;
}

void TDialectCursor::Expect(std::string_view Word) {
  if (!Accept(Word)) Fail();
}

void TDialectCursor::ExpectOp(std::string_view Op) {
  if (!AcceptOp(Op)) Fail();
}

void TDialectCursor::ExpectEnd() {
  if (FPos < FEnd) Fail();
}

std::string TDialectCursor::ExpectName() {
  if (FPos >= FEnd) Fail();
  const TToken& T = Peek();
  if (T.Kind == tkQuotedName) {
    FPos++;
    return T.Value;
  }
  if (T.Kind != tkWord || IsSqlKeyword(T.Text)) Fail();
  FPos++;
  return std::string(T.Text);
}

void TDialectCursor::QualifiedName(std::string& Owner, std::string& Name) {
  Name = ExpectName();
  if (AcceptOp(".")) {
    Owner = Name;
    Name = ExpectName();
  }
}

std::string TDialectCursor::TypeText(const std::vector<std::string_view>& Stops) {
  std::string R;
  bool HadGroup = false;
  while (FPos < FEnd) {
    const TToken& T = Peek();
    bool Stop = T.IsOp(",") || T.IsOp(")") || T.IsOp(";") || T.IsOp("=");
    for (std::string_view S : Stops) Stop |= T.Is(S);
    if (Stop) break;
    if (T.IsOp("(") && !HadGroup && !R.empty()) {
      HadGroup = true;
      R += "(";
      FPos++;
      bool First = true;
      while (!AcceptOp(")")) {
        if (!First) ExpectOp(",");
        First = false;
        if (Peek().Kind != tkNumber && !Peek().Is("max")) Fail();
        R += (R.back() == '(' ? "" : ",") + std::string(Next().Text);
      }
      R += ")";
      continue;
    }
    if (T.Kind != tkWord || HadGroup) break;
    if (!R.empty()) R += ' ';
    R += T.Text;
    FPos++;
  }
  return R;
}

size_t TDialectCursor::ExpressionEnd(const std::vector<std::string_view>& Stops) const {
  int Depth = 0, Nesting = 0;
  for (size_t P = FPos; P < FEnd; P++) {
    const TToken& T = FTokens[P];
    if (T.IsOp("(")) Depth++;
    if (T.IsOp(")") && Depth-- == 0) return P;
    if (Depth > 0) continue;
    if (T.IsOp(",") || T.IsOp(";")) {
      if (Nesting == 0) return P;
      continue;
    }
    if (T.Kind != tkWord) continue;
    if (Nesting == 0)
      for (std::string_view S : Stops)
        if (T.Is(S)) return P;
    if ((T.Is("if") && !FTokens[P + 1].Is("exists") && !FTokens[P + 1].Is("not")) || T.Is("case")) Nesting++;
    if (T.Is("endif")) Nesting--;
    if (T.Is("end")) {
      if (FTokens[P + 1].Is("if")) P++;
      Nesting--;
    }
    if (Nesting < 0) return P;
  }
  return FEnd;
}

bool TDialectCursor::AppendedPiece(size_t From, size_t To, std::string_view Name, bool ValueIsString,
                                   TDialectExpr& Piece) {
  // `x = x || piece`: the piece may be a concatenation itself, nothing looser.
  const TToken& Self = FTokens[From];
  bool SameSelf = (Self.Kind == tkWord && SameName(Self.Text, Name)) ||
                  (Self.Kind == tkQuotedName && SameName(Self.Value, Name));
  bool Concat = FTokens[From + 1].IsOp("||");
  if (!SameSelf || !(Concat || (FTokens[From + 1].IsOp("+") && ValueIsString)) || From + 2 >= To) return false;
  int Depth = 0;
  for (size_t P = From + 2; P < To; P++) {
    const TToken& T = FTokens[P];
    if (T.IsOp("(")) Depth++;
    if (T.IsOp(")")) Depth--;
    if (Depth > 0 || T.IsOp("(") || T.IsOp(")") || T.IsOp(".")) continue;
    if (T.Kind == tkOperator && !(T.IsOp("||") && Concat)) return false;
    if (T.Kind == tkWord && IsSqlKeyword(T.Text) && !T.Is("null")) return false;
  }
  Piece = FTr.Translate(From + 2, To, true);
  return true;
}

TDialectExpr TDialectCursor::Expression(const std::vector<std::string_view>& Stops, bool Variables) {
  size_t E = ExpressionEnd(Stops);
  if (E == FPos) Fail();
  TDialectExpr R = FTr.Translate(FPos, E, Variables);
  FPos = E;
  return R;
}

}  // namespace vdbsrv
