#include "dbsrv/ProcParser.h"

#include <array>

#include "dbsrv/DialectCursor.h"

namespace vdbsrv {

namespace {

constexpr int MaxBlockNesting = 100;

bool IsStringType(std::string_view TypeText) {
  static constexpr std::array Words{"char", "varchar", "character", "text", "long varchar", "string",
                                    "nchar", "nvarchar", "long nvarchar", "clob"};
  std::string T = LowerName(TypeText);
  size_t Paren = T.find('(');
  if (Paren != std::string::npos) T.resize(Paren);
  while (!T.empty() && T.back() == ' ') T.pop_back();
  for (const char* W : Words)
    if (T == W) return true;
  return false;
}

class TProcParser : public TDialectCursor {
 public:
  TProcParser(const std::vector<TToken>& Tokens, size_t B, size_t E, TSqlTranslator& Tr)
      : TDialectCursor(Tokens, B, E, Tr) {}

  // Names in scope, innermost block last; each with its declared type.
  std::vector<std::vector<std::pair<std::string, std::string>>> Scopes;

  const std::pair<std::string, std::string>* FindVariable(std::string_view Name) const {
    for (auto S = Scopes.rbegin(); S != Scopes.rend(); ++S)
      for (const auto& V : *S)
        if (SameName(V.first, Name)) return &V;
    return nullptr;
  }

  void Parse(TProcDefinition& D) {
    for (size_t P = FPos; P < FEnd; P++)
      if (FTokens[P].Kind == tkHostMarker) Fail(P);
    D.Pos = Peek().Pos;
    D.Text = std::string(FTr.SourceText(FPos, FEnd));
    Expect("create");
    if (Accept("or")) {
      Expect("replace");
      D.OrReplace = true;
    }
    D.IsFunction = Peek().Is("function");
    FPos++;
    QualifiedName(D.Owner, D.Name);
    Scopes.emplace_back();
    if (AcceptOp("(") && !AcceptOp(")")) {
      do D.Params.push_back(ParseParam(D.IsFunction));
      while (AcceptOp(","));
      ExpectOp(")");
    }
    if (D.IsFunction) {
      Expect("returns");
      D.ReturnType = TypeText({"begin", "deterministic", "not"});
      if (D.ReturnType.empty()) Fail();
      if (Accept("not")) Expect("deterministic");
      else Accept("deterministic");
    } else if (Accept("result")) {
      ExpectOp("(");
      do {
        TResultColumn C;
        C.Name = ExpectName();
        C.TypeText = TypeText({});
        if (C.TypeText.empty()) Fail();
        D.Result.push_back(std::move(C));
      } while (AcceptOp(","));
      ExpectOp(")");
    }
    Expect("begin");
    D.Body = ParseStatements(0);
    Expect("end");
    ExpectEnd();
  }

 private:
  TProcParam ParseParam(bool IsFunction) {
    TProcParam P;
    if (IsFunction) {
      Accept("in");  // a function's parameters are all IN; the word may be written
    } else {
      if (Accept("in"))
        P.Mode = pmIn;
      else if (Accept("out"))
        P.Mode = pmOut;
      else if (Accept("inout"))
        P.Mode = pmInOut;
    }
    P.Pos = Peek().Pos;
    P.Name = ExpectName();
    P.TypeText = TypeText({"default"});
    if (P.TypeText.empty()) Fail();
    if (Accept("default") || AcceptOp("=")) {
      P.HasDefault = true;
      P.Default = Expression({}, false);
    }
    Scopes.back().emplace_back(P.Name, P.TypeText);
    return P;
  }

  bool AtBlockEnd() const {
    const TToken& T = Peek();
    return FPos >= FEnd || T.Is("end") || T.Is("else") || T.Is("elseif");
  }

  std::vector<TProcStmt> ParseStatements(int Depth) {
    if (Depth > MaxBlockNesting) Fail();
    std::vector<TProcStmt> L;
    while (!AtBlockEnd()) {
      if (AcceptOp(";")) continue;
      size_t From = FPos;
      TProcStmt S;
      S.Pos = Peek().Pos;
      ParseOne(S, Depth);
      S.Text = std::string(FTr.SourceText(From, FPos));
      L.push_back(std::move(S));
      if (!AcceptOp(";") && !AtBlockEnd()) Fail();
    }
    return L;
  }

  // The end of an embedded statement: ";" or the word closing the block.
  size_t StatementEnd() const {
    int Depth = 0, Nesting = 0;
    for (size_t P = FPos; P < FEnd; P++) {
      const TToken& T = FTokens[P];
      if (T.IsOp("(")) Depth++;
      if (T.IsOp(")")) Depth--;
      if (Depth > 0 || T.Kind != tkWord) {
        if (Depth == 0 && T.IsOp(";") && Nesting == 0) return P;
        continue;
      }
      if (Nesting == 0 && (T.Is("else") || T.Is("elseif"))) return P;
      if ((T.Is("if") && !FTokens[P + 1].Is("exists") && !FTokens[P + 1].Is("not")) || T.Is("case")) Nesting++;
      if (T.Is("endif")) Nesting--;
      if (T.Is("end")) {
        if (Nesting == 0) return P;
        if (FTokens[P + 1].Is("if")) P++;
        Nesting--;
      }
    }
    return FEnd;
  }


  // Words that cannot continue an expression of a body; stopping there lets a
  // missing ";" be reported where the next statement starts.
  static std::vector<std::string_view> StopsWith(std::initializer_list<std::string_view> More) {
    std::vector<std::string_view> R{"else",  "elseif", "set",     "declare", "select", "insert", "update",
                                    "delete", "call",  "message", "return",  "while",  "begin"};
    R.insert(R.end(), More);
    return R;
  }

  void ParseOne(TProcStmt& S, int Depth) {
    static const std::vector<std::string_view> Stops = StopsWith({});
    static const std::vector<std::string_view> ThenStops = StopsWith({"then"});
    static const std::vector<std::string_view> LoopStops = StopsWith({"loop"});
    const TToken& T = Peek();
    if (Accept("declare")) {
      S.Kind = psDeclare;
      S.Name = ExpectName();
      S.TypeText = TypeText({"default"});
      if (S.TypeText.empty()) Fail();
      if (Accept("default") || AcceptOp("=")) {
        S.HasValue = true;
        S.Value = Expression(Stops);
      }
      Scopes.back().emplace_back(S.Name, S.TypeText);
    } else if (Accept("set")) {
      S.Kind = psSet;
      S.Name = ExpectName();
      ExpectOp("=");
      size_t From = FPos;
      S.Value = Expression(Stops);
      S.Append = AppendedPiece(From, FPos, S.Name, S.Value.IsString, S.Appended);
    } else if (Accept("if")) {
      S.Kind = psIf;
      do {
        TProcBranch B;
        B.Cond = Expression(ThenStops);
        Expect("then");
        B.Body = Block(Depth);
        S.Branches.push_back(std::move(B));
      } while (Accept("elseif"));
      if (Accept("else")) {
        S.HasElse = true;
        S.Else = Block(Depth);
      }
      Expect("end");
      Expect("if");
    } else if (Accept("while")) {
      S.Kind = psWhile;
      S.Cond = Expression(LoopStops);
      Expect("loop");
      S.Body = Block(Depth);
      Expect("end");
      Expect("loop");
    } else if (Accept("return")) {
      S.Kind = psReturn;
      if (!AtBlockEnd() && !Peek().IsOp(";")) {
        S.HasValue = true;
        S.Value = Expression(Stops);
      }
    } else if (Accept("message")) {
      S.Kind = psMessage;
      S.Message = ParseMessage(true);
    } else if (T.Is("call")) {
      S.Kind = psCall;
      ParseCall(S.Call);
    } else if (Accept("begin")) {
      S.Kind = psBlock;
      S.Body = Block(Depth);
      Expect("end");
    } else if (T.Is("select") || T.Is("with") || T.Is("values")) {
      ParseQuery(S);
    } else if (T.Is("insert") || T.Is("update") || T.Is("delete") || T.Is("replace") || T.Is("create") ||
               T.Is("drop") || T.Is("alter") || T.Is("commit") || T.Is("rollback") || T.Is("savepoint") ||
               T.Is("release")) {
      S.Kind = psSql;
      bool Dml = T.Is("insert") || T.Is("update") || T.Is("delete") || T.Is("replace");
      size_t E = StatementEnd();
      S.Sql = FTr.Translate(FPos, E, Dml);
      FPos = E;
    } else {
      Fail();
    }
  }

  std::vector<TProcStmt> Block(int Depth) {
    Scopes.emplace_back();
    std::vector<TProcStmt> Body = ParseStatements(Depth + 1);
    Scopes.pop_back();
    return Body;
  }

  void ParseQuery(TProcStmt& S) {
    size_t E = StatementEnd();
    size_t Into = SIZE_MAX;
    int Depth = 0;
    for (size_t P = FPos; P < E && Peek().Is("select"); P++) {
      if (FTokens[P].IsOp("(")) Depth++;
      if (FTokens[P].IsOp(")")) Depth--;
      if (Depth == 0 && FTokens[P].Is("into")) {
        Into = P;
        break;
      }
    }
    if (Into == SIZE_MAX) {
      S.Kind = psSql;
      S.IsResultSet = true;
      S.Sql = FTr.Translate(FPos, E, true);
      FPos = E;
      return;
    }
    S.Kind = psSelectInto;
    size_t Start = FPos;
    FPos = Into + 1;
    do S.Targets.push_back(ExpectName());
    while (AcceptOp(","));
    S.Sql = FTr.Translate(Start, E, true, {{Into, FPos}});
    FPos = E;
  }
};

}  // namespace

std::shared_ptr<const TProcDefinition> ParseProcedure(const std::vector<TToken>& Tokens, size_t B, size_t E,
                                                      std::string_view Source, const TDialectHooks& Hooks) {
  TProcParser* Parser = nullptr;
  TDialectHooks ProcHooks;
  ProcHooks.IsOwner = Hooks.IsOwner;
  ProcHooks.IsVariable = [&](std::string_view Name) {
    return Parser->FindVariable(Name) != nullptr || (Hooks.IsVariable && Hooks.IsVariable(Name));
  };
  ProcHooks.IsStringName = [&](std::string_view Qualifier, std::string_view Name) {
    if (Qualifier.empty())
      if (const auto* V = Parser->FindVariable(Name)) return IsStringType(V->second);
    return Hooks.IsStringName && Hooks.IsStringName(Qualifier, Name);
  };
  TSqlTranslator Tr(Tokens, Source, ProcHooks);
  TProcParser P(Tokens, B, E, Tr);
  Parser = &P;
  auto D = std::make_shared<TProcDefinition>();
  P.Parse(*D);
  return D;
}

}  // namespace vdbsrv
