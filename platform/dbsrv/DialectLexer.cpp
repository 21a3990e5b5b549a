#include "dbsrv/DialectLexer.h"

#include <cctype>

namespace vdbsrv {

namespace {

bool IsWordStart(unsigned char C) { return std::isalpha(C) || C == '_' || C == '#' || C == '@' || C >= 0x80; }
bool IsWordChar(unsigned char C) {
  return std::isalnum(C) || C == '_' || C == '$' || C == '#' || C == '@' || C >= 0x80;
}
bool IsDigit(unsigned char C) { return C >= '0' && C <= '9'; }

class TLexer {
 public:
  explicit TLexer(std::string_view Text) : FText(Text) {}

  TLexResult Run() {
    TLexResult R;
    R.Tokens.reserve(FText.size() / 4 + 4);
    while (true) {
      std::string Gap;
      if (!SkipGap(Gap, R)) return R;
      TToken T;
      T.Gap = std::move(Gap);
      T.Pos = Here();
      size_t Start = FPos;
      if (FPos >= FText.size()) {
        T.Kind = tkEnd;
        T.Text = FText.substr(FText.size());
        R.Tokens.push_back(std::move(T));
        return R;
      }
      if (!ReadToken(T, R)) return R;
      T.Text = FText.substr(Start, FPos - Start);
      R.Tokens.push_back(std::move(T));
    }
  }

 private:
  std::string_view FText;
  size_t FPos = 0;
  int32_t FLine = 1;
  size_t FLineStart = 0;

  TTextPos Here() const {
    return TTextPos{static_cast<int32_t>(FPos), FLine, static_cast<int32_t>(FPos - FLineStart) + 1};
  }
  unsigned char At(size_t I) const { return I < FText.size() ? static_cast<unsigned char>(FText[I]) : 0; }
  void Advance() {
    if (FText[FPos] == '\n') {
      FLine++;
      FLineStart = FPos + 1;
    }
    FPos++;
  }

  void Fail(TLexResult& R, const TTextPos& Pos, std::string_view Near) {
    R.Ok = false;
    TToken T;
    T.Kind = tkOperator;
    T.Text = Near;
    T.Pos = Pos;
    R.Error = MakeSyntaxError(T);
    R.Tokens.clear();
  }

  bool SkipGap(std::string& Gap, TLexResult& R) {
    while (FPos < FText.size()) {
      unsigned char C = At(FPos);
      if (C == ' ' || C == '\t' || C == '\r' || C == '\n' || C == '\f' || C == '\v') {
        Gap += static_cast<char>(C);
        Advance();
      } else if ((C == '-' && At(FPos + 1) == '-') || (C == '/' && At(FPos + 1) == '/')) {
        Gap += "--";
        FPos += 2;
        while (FPos < FText.size() && FText[FPos] != '\n') Gap += FText[FPos++];
      } else if (C == '/' && At(FPos + 1) == '*') {
        TTextPos Start = Here();
        size_t From = FPos;
        FPos += 2;
        while (FPos < FText.size() && !(FText[FPos] == '*' && At(FPos + 1) == '/')) Advance();
        if (FPos >= FText.size()) {
          Fail(R, Start, FText.substr(From, 2));
          return false;
        }
        FPos += 2;
        Gap.append(FText.substr(From, FPos - From));
      } else {
        break;
      }
    }
    return true;
  }

  // Reads a quoted run ending in Close, where a doubled Close stands for one.
  bool ReadQuoted(char Close, TToken& T, TLexResult& R) {
    TTextPos Start = Here();
    size_t From = FPos;
    Advance();
    while (true) {
      if (FPos >= FText.size()) {
        Fail(R, Start, FText.substr(From, 1));
        return false;
      }
      char C = FText[FPos];
      if (C == Close) {
        if (At(FPos + 1) == static_cast<unsigned char>(Close) && Close != ']') {
          T.Value += C;
          FPos += 2;
          continue;
        }
        FPos++;
        return true;
      }
      T.Value += C;
      Advance();
    }
  }

  void ReadNumber() {
    if (At(FPos) == '0' && (At(FPos + 1) == 'x' || At(FPos + 1) == 'X') && std::isxdigit(At(FPos + 2))) {
      FPos += 2;
      while (std::isxdigit(At(FPos))) FPos++;
      return;
    }
    while (IsDigit(At(FPos))) FPos++;
    if (At(FPos) == '.') {
      FPos++;
      while (IsDigit(At(FPos))) FPos++;
    }
    if ((At(FPos) == 'e' || At(FPos) == 'E') &&
        (IsDigit(At(FPos + 1)) || ((At(FPos + 1) == '+' || At(FPos + 1) == '-') && IsDigit(At(FPos + 2))))) {
      FPos += 2;
      while (IsDigit(At(FPos))) FPos++;
    }
  }

  bool ReadToken(TToken& T, TLexResult& R) {
    unsigned char C = At(FPos);
    if ((C == 'x' || C == 'X') && At(FPos + 1) == '\'') {
      FPos++;
      T.Kind = tkBlob;
      return ReadQuoted('\'', T, R);
    }
    if (IsWordStart(C)) {
      T.Kind = tkWord;
      while (FPos < FText.size() && IsWordChar(At(FPos))) FPos++;
      return true;
    }
    if (IsDigit(C) || (C == '.' && IsDigit(At(FPos + 1)))) {
      T.Kind = tkNumber;
      ReadNumber();
      return true;
    }
    switch (C) {
      case '\'':
        T.Kind = tkString;
        return ReadQuoted('\'', T, R);
      case '"':
        T.Kind = tkQuotedName;
        return ReadQuoted('"', T, R);
      case '`':
        T.Kind = tkQuotedName;
        return ReadQuoted('`', T, R);
      case '[':
        T.Kind = tkQuotedName;
        return ReadQuoted(']', T, R);
      case '?': {
        // ?NNN: the same number is the same host variable, as SQLite reads it.
        T.Kind = tkHostMarker;
        size_t From = ++FPos;
        while (IsDigit(At(FPos))) FPos++;
        T.Value = std::string(FText.substr(From, FPos - From));
        return true;
      }
      case ':':
        if (IsWordStart(At(FPos + 1))) {
          T.Kind = tkHostMarker;
          size_t From = ++FPos;
          while (FPos < FText.size() && IsWordChar(At(FPos))) FPos++;
          T.Value = std::string(FText.substr(From, FPos - From));
          return true;
        }
        break;
      default:
        break;
    }
    T.Kind = tkOperator;
    static const char* const TwoChar[] = {"||", "<>", "!=", "<=", ">=", "==", "<<", ">>", "->"};
    for (const char* Op : TwoChar) {
      if (FText.substr(FPos, 2) == Op) {
        FPos += 2;
        if (Op[0] == '-' && At(FPos) == '>') FPos++;  // ->>
        return true;
      }
    }
    FPos++;
    return true;
  }
};

}  // namespace

bool TToken::Is(std::string_view W) const { return Kind == tkWord && SameName(Text, W); }

TLexResult LexSql(std::string_view Text) { return TLexer(Text).Run(); }

TDialectError MakeSyntaxError(const TToken& Near) {
  TDialectError E;
  std::string What = Near.Kind == tkEnd ? std::string("(end of line)") : std::string(Near.Text.substr(0, 40));
  E.Message = "Syntax error near '" + What + "' on line " + std::to_string(Near.Pos.Line);
  E.Pos = Near.Pos;
  return E;
}

bool SameName(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t I = 0; I < A.size(); I++) {
    if (std::tolower(static_cast<unsigned char>(A[I])) != std::tolower(static_cast<unsigned char>(B[I]))) return false;
  }
  return true;
}

std::string LowerName(std::string_view S) {
  std::string R(S);
  for (char& C : R) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return R;
}

}  // namespace vdbsrv
