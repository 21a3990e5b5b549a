#include "Splitter.h"

#include <algorithm>
#include <cctype>

namespace vdbsql {

namespace {

bool IsWordChar(unsigned char C) { return std::isalnum(C) || C == '_' || C == '$' || C == '@' || C == '#' || C >= 0x80; }

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

std::string Trim(const std::string& S) {
  size_t B = 0, E = S.size();
  while (B < E && std::isspace(static_cast<unsigned char>(S[B]))) ++B;
  while (E > B && std::isspace(static_cast<unsigned char>(S[E - 1]))) --E;
  return S.substr(B, E - B);
}

bool OneOf(const std::string& W, std::initializer_list<const char*> Words) {
  return std::any_of(Words.begin(), Words.end(), [&](const char* X) { return W == X; });
}

}  // namespace

void TStatementSplitter::Reset() {
  FText.clear();
  FState = sNormal;
  FDepth = 0;
  FPendingBegin = FPendingEnd = false;
  FSignificant = false;
}

void TStatementSplitter::SettleKeyword(const std::string& Next) {
  if (FPendingBegin) {
    FPendingBegin = false;
    // "begin transaction" and SQLite's "begin;" start a transaction, not a block.
    if (!OneOf(Next, {";", "transaction", "tran", "work", "deferred", "immediate", "exclusive"})) ++FDepth;
  }
  if (FPendingEnd) {
    FPendingEnd = false;
    // "end if", "end loop" ... close statements whose start is not counted.
    if (!OneOf(Next, {"if", "loop", "for", "while", "repeat"}) && FDepth > 0) --FDepth;
  }
}

void TStatementSplitter::Word(const std::string& W) {
  const bool AfterEnd = FPendingEnd;
  SettleKeyword(W);
  if (AfterEnd && OneOf(W, {"case", "if", "loop", "for", "while", "repeat"})) return;  // part of "end case" etc.
  if (W == "begin") FPendingBegin = true;
  else if (W == "case") ++FDepth;
  else if (W == "end") FPendingEnd = true;
}

void TStatementSplitter::EndStatement(std::vector<TScriptItem>& Out) {
  if (FSignificant) Out.push_back({false, Trim(FText), FStartLine});
  FText.clear();
  FDepth = 0;
  FPendingBegin = FPendingEnd = false;
  FSignificant = false;
}

void TStatementSplitter::AddLine(const std::string& Line, std::vector<TScriptItem>& Out) {
  ++FLineNo;
  if (FState == sNormal) {
    size_t First = Line.find_first_not_of(" \t\r");
    if (First != std::string::npos && Line[First] == '\\') {
      Out.push_back({true, Trim(Line.substr(First + 1)), FLineNo});
      return;
    }
  }
  auto MarkSignificant = [&]() {
    if (!FSignificant) {
      FSignificant = true;
      FStartLine = FLineNo;
    }
  };
  const size_t N = Line.size();
  size_t I = 0;
  while (I < N) {
    const char C = Line[I];
    const char Next = I + 1 < N ? Line[I + 1] : '\0';
    switch (FState) {
      case sSingle:
      case sDouble:
      case sBacktick:
      case sBracket: {
        const char Close = FState == sSingle ? '\'' : FState == sDouble ? '"' : FState == sBacktick ? '`' : ']';
        FText += C;
        ++I;
        if (C == Close) {
          if (Next == Close && FState != sBracket) {  // a doubled quote stays inside
            FText += Next;
            ++I;
          } else {
            FState = sNormal;
          }
        }
        continue;
      }
      case sBlockComment:
        if (C == '*' && Next == '/') {
          if (FSignificant) FText += "*/";
          I += 2;
          FState = sNormal;
        } else {
          if (FSignificant) FText += C;
          ++I;
        }
        continue;
      case sNormal:
        break;
    }
    if (IsWordChar(static_cast<unsigned char>(C))) {
      size_t E = I;
      while (E < N && IsWordChar(static_cast<unsigned char>(Line[E]))) ++E;
      MarkSignificant();
      std::string W = Line.substr(I, E - I);
      FText += W;
      Word(Lower(W));
      I = E;
      continue;
    }
    if ((C == '-' && Next == '-') || (C == '/' && Next == '/')) {
      if (FSignificant) FText += Line.substr(I);
      break;
    }
    if (C == '/' && Next == '*') {
      if (FSignificant) FText += "/*";
      I += 2;
      FState = sBlockComment;
      continue;
    }
    if (C == ';') {
      SettleKeyword(";");
      ++I;
      if (FDepth == 0) {
        EndStatement(Out);
      } else {
        FText += C;
      }
      continue;
    }
    if (std::isspace(static_cast<unsigned char>(C))) {
      if (FSignificant) FText += C;
      ++I;
      continue;
    }
    SettleKeyword("");
    MarkSignificant();
    FText += C;
    ++I;
    if (C == '\'') FState = sSingle;
    else if (C == '"') FState = sDouble;
    else if (C == '`') FState = sBacktick;
    else if (C == '[') FState = sBracket;
  }
  if (FSignificant) FText += '\n';
}

void TStatementSplitter::Finish(std::vector<TScriptItem>& Out) {
  SettleKeyword("");
  EndStatement(Out);
  FState = sNormal;
}

std::vector<TScriptItem> SplitScript(const std::string& Text) {
  TStatementSplitter S;
  std::vector<TScriptItem> Out;
  size_t Pos = 0;
  while (Pos <= Text.size()) {
    size_t E = Text.find('\n', Pos);
    if (E == std::string::npos) E = Text.size();
    std::string Line = Text.substr(Pos, E - Pos);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (E == Text.size() && Line.empty()) break;
    S.AddLine(Line, Out);
    Pos = E + 1;
  }
  S.Finish(Out);
  return Out;
}

}  // namespace vdbsql
