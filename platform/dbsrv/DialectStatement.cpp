#include "dbsrv/DialectStatement.h"

#include <cctype>

#include "dbsrv/DialectCursor.h"
#include "dbsrv/ProcParser.h"

namespace vdbsrv {

namespace {

bool StartsBodyStatement(const std::vector<TToken>& T, size_t B) {
  size_t P = B;
  if (!T[P].Is("create")) return false;
  P++;
  if (T[P].Is("or") && T[P + 1].Is("replace")) P += 2;
  if (T[P].Is("temp") || T[P].Is("temporary")) P++;
  return T[P].Is("procedure") || T[P].Is("function") || T[P].Is("trigger");
}

// End (exclusive token index) of the statement starting at B: the next ";" outside
// procedure and trigger bodies, or the end of the text.
size_t StatementEnd(const std::vector<TToken>& T, size_t B) {
  bool Body = StartsBodyStatement(T, B);
  int Nesting = 0;
  size_t P = B;
  for (; T[P].Kind != tkEnd; P++) {
    if (T[P].IsOp(";") && Nesting <= 0) return P;
    if (!Body) continue;
    if (T[P].Is("begin") || T[P].Is("case")) Nesting++;
    if (T[P].Is("end")) {
      const TToken& Next = T[P + 1];
      if (Next.Is("if") || Next.Is("loop") || Next.Is("while") || Next.Is("for")) {
        P++;
        continue;
      }
      Nesting--;
    }
  }
  return P;
}

std::string Upper(std::string_view S) {
  std::string R(S);
  for (char& C : R) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
  return R;
}

class TCommandParser : public TDialectCursor {
 public:
  TCommandParser(const std::vector<TToken>& Tokens, size_t B, size_t E, TSqlTranslator& Tr,
                 std::string_view Source, const TDialectHooks& Hooks)
      : TDialectCursor(Tokens, B, E, Tr), FSource(Source), FHooks(Hooks) {}

  void Parse(TDialectStatement& S) {
    size_t B = FPos;
    if (Peek().Kind == tkHostMarker && Peek(1).IsOp("=") && Peek(2).Is("call")) {
      S.Call.ResultHost = FTr.HostOf(FPos);
      FPos += 2;
      S.Kind = dsCall;
      ParseCall(S.Call);
    } else if (Peek().Is("call")) {
      S.Kind = dsCall;
      ParseCall(S.Call);
    } else if (Peek().Is("create") && Peek(1).Is("variable")) {
      FPos += 2;
      S.Kind = dsCreateVariable;
      S.CreateVariable.Name = ExpectName();
      S.CreateVariable.TypeText = TypeText({});
      if (S.CreateVariable.TypeText.empty()) Fail();
    } else if (Peek().Is("create") && (IsProcWord(1) || (Peek(1).Is("or") && Peek(2).Is("replace") && IsProcWord(3)))) {
      S.Kind = dsCreateProcedure;
      S.Procedure = ParseProcedure(FTokens, B, FEnd, FSource, FHooks);
      FPos = FEnd;
    } else if (Peek().Is("create") && Peek(1).Is("database")) {
      FPos += 2;
      S.Kind = dsCreateDatabase;
      if (Peek().Kind != tkString) Fail();
      S.CreateDatabase.FileName = Next().Value;
      S.CreateDatabase.OptionsText = std::string(FTr.SourceText(FPos, FEnd));
      FPos = FEnd;
    } else if (Peek().Is("set") && (Peek(1).Is("option") || (Peek(1).Is("temporary") && Peek(2).Is("option")))) {
      ParseSetOption(S);
    } else if (Peek().Is("set")) {
      ParseSetVariable(S);
    } else if (Peek().Is("drop") && Peek(1).Is("variable")) {
      FPos += 2;
      S.Kind = dsDropVariable;
      S.DropVariable.Name = ExpectName();
    } else if (Peek().Is("drop") && IsProcWord(1)) {
      ParseDropProcedure(S);
    } else if (Peek().Is("message")) {
      FPos++;
      S.Kind = dsMessage;
      S.Message = ParseMessage(true);
    } else if (Peek().Is("waitfor")) {
      ParseWaitfor(S);
    } else if ((Peek().Is("commit") || Peek().Is("rollback")) &&
               (Peek(1).Kind == tkEnd || FPos + 1 == FEnd ||
                ((Peek(1).Is("work") || Peek(1).Is("transaction")) && FPos + 2 == FEnd))) {
      S.Kind = Peek().Is("commit") ? dsCommit : dsRollback;
      FPos = FEnd;
    } else {
      S.Kind = dsSql;
      S.Verb = Upper(Peek().Kind == tkWord ? Peek().Text : std::string_view());
      static constexpr const char* Dml[] = {"SELECT", "INSERT", "UPDATE", "DELETE", "WITH", "VALUES", "REPLACE"};
      bool Vars = false;
      for (const char* V : Dml) Vars |= S.Verb == V;
      S.Sql = FTr.Translate(FPos, FEnd, Vars);
      S.AutoIncrementColumns = FTr.AutoIncrementColumns();
      FPos = FEnd;
    }
    ExpectEnd();
  }

 private:
  std::string_view FSource;
  const TDialectHooks& FHooks;

  bool IsProcWord(size_t Ahead) const { return Peek(Ahead).Is("procedure") || Peek(Ahead).Is("function"); }

  void ParseSetVariable(TDialectStatement& S) {
    Expect("set");
    S.Kind = dsSetVariable;
    TSetVariableStmt& V = S.SetVariable;
    V.Name = ExpectName();
    ExpectOp("=");
    size_t From = FPos;
    V.Value = Expression({});
    V.Append = AppendedPiece(From, FPos, V.Name, V.Value.IsString, V.Appended);
  }

  void ParseSetOption(TDialectStatement& S) {
    Expect("set");
    S.Kind = dsSetOption;
    TSetOptionStmt& O = S.SetOption;
    O.Temporary = Accept("temporary");
    Expect("option");
    O.Name = ExpectName();
    if (AcceptOp(".")) {
      O.User = O.Name;
      O.Name = ExpectName();
    }
    ExpectOp("=");
    if (FPos >= FEnd) return;
    O.HasValue = true;
    if (Peek().Kind == tkString && FPos + 1 == FEnd) {
      O.Value = Next().Value;
    } else {
      O.Value = std::string(FTr.SourceText(FPos, FEnd));
      for (size_t P = FPos; P < FEnd; P++)
        if (FTokens[P].Kind != tkWord && FTokens[P].Kind != tkNumber && !FTokens[P].IsOp("-") &&
            !FTokens[P].IsOp("+"))
          Fail(P);
      FPos = FEnd;
    }
  }

  void ParseDropProcedure(TDialectStatement& S) {
    Expect("drop");
    S.Kind = dsDropProcedure;
    TDropProcedureStmt& D = S.DropProcedure;
    D.IsFunction = Next().Is("function");
    if (Peek().Is("if") && Peek(1).Is("exists")) {
      FPos += 2;
      D.IfExists = true;
    }
    QualifiedName(D.Owner, D.Name);
  }

  void ParseWaitfor(TDialectStatement& S) {
    Expect("waitfor");
    S.Kind = dsWaitfor;
    if (Accept("time"))
      S.Waitfor.Until = true;
    else
      Expect("delay");
    if (Peek().Kind != tkString) Fail();
    S.Waitfor.Millis = ParseTimeOfDay(Peek().Value);
    if (S.Waitfor.Millis < 0) Fail();
    FPos++;
  }
};

}  // namespace

void TDialectCursor::ParseCall(TCallStmt& C) {
  Expect("call");
  QualifiedName(C.Owner, C.Name);
  if (!AcceptOp("(") || AcceptOp(")")) return;
  do {
    TCallArg A;
    if ((Peek().Kind == tkWord || Peek().Kind == tkQuotedName) && Peek(1).IsOp("=")) {
      A.Name = ExpectName();
      FPos++;
    }
    A.Value = Expression({});
    C.Args.push_back(std::move(A));
  } while (AcceptOp(","));
  ExpectOp(")");
}

TMessageStmt TDialectCursor::ParseMessage(bool Variables) {
  TMessageStmt M;
  static const std::vector<std::string_view> Stops{"type", "to", "debug"};
  do {
    M.Parts.push_back(Expression(Stops, Variables));
  } while (AcceptOp(","));
  while (FPos < FEnd) {
    if (Accept("type")) {
      if (Accept("info"))
        M.Type = mtInfo;
      else if (Accept("warning"))
        M.Type = mtWarning;
      else if (Accept("action"))
        M.Type = mtAction;
      else if (Accept("status"))
        M.Type = mtStatus;
      else
        Fail();
    } else if (Accept("to")) {
      if (Accept("client"))
        M.Target = mgClient;
      else if (Accept("console"))
        M.Target = mgConsole;
      else if (Accept("log"))
        M.Target = mgLog;
      else
        Fail();
    } else if (Accept("debug")) {
      Expect("only");
      M.DebugOnly = true;
    } else {
      break;
    }
  }
  return M;
}

int64_t ParseTimeOfDay(std::string_view Text) {
  int64_t Fields[3] = {0, 0, 0};
  int Count = 0;
  size_t I = 0;
  while (true) {
    if (Count == 3) return -1;
    size_t From = I;
    int64_t V = 0;
    while (I < Text.size() && std::isdigit(static_cast<unsigned char>(Text[I])) && I - From < 9)
      V = V * 10 + (Text[I++] - '0');
    if (I == From) return -1;
    Fields[Count++] = V;
    if (I < Text.size() && Text[I] == ':') {
      I++;
      continue;
    }
    break;
  }
  int64_t Millis = 0;
  if (I < Text.size() && Text[I] == '.') {
    I++;
    int64_t Scale = 100;
    size_t From = I;
    while (I < Text.size() && std::isdigit(static_cast<unsigned char>(Text[I]))) {
      Millis += (Text[I++] - '0') * Scale;
      Scale /= 10;
    }
    if (I == From) return -1;
  }
  if (I != Text.size()) return -1;
  // The last field is seconds: 'ss', 'mm:ss', 'hh:mm:ss'.
  int64_t H = 0, M = 0, S = 0;
  if (Count == 1) S = Fields[0];
  if (Count == 2) M = Fields[0], S = Fields[1];
  if (Count == 3) H = Fields[0], M = Fields[1], S = Fields[2];
  if ((Count > 1 && S >= 60) || (Count > 2 && M >= 60)) return -1;
  return ((H * 60 + M) * 60 + S) * 1000 + Millis;
}

TDialectResult ParseStatement(std::string_view Text, const TDialectHooks& Hooks) {
  TDialectResult R;
  TLexResult L = LexSql(Text);
  if (!L.Ok) {
    R.Ok = false;
    R.Error = L.Error;
    return R;
  }
  const std::vector<TToken>& T = L.Tokens;
  size_t B = 0;
  while (T[B].IsOp(";")) B++;
  TSqlTranslator Tr(T, Text, Hooks);
  try {
    if (T[B].Kind == tkEnd) throw TDialectFault{B};
    size_t E = StatementEnd(T, B);
    TDialectStatement& S = R.Statement;
    S.Pos = T[B].Pos;
    S.Text = std::string(Tr.SourceText(B, E));
    size_t Tail = E;
    while (T[Tail].IsOp(";")) Tail++;
    S.TailOffset = T[Tail].Kind == tkEnd ? Text.size() : static_cast<size_t>(T[Tail].Pos.Offset);
    TCommandParser P(T, B, E, Tr, Text, Hooks);
    P.Parse(S);
    S.HostVars = Tr.HostVars();
    if (S.Kind == dsCreateProcedure) S.HostVars.clear();
  } catch (const TDialectFault& F) {
    R.Ok = false;
    R.Error = MakeSyntaxError(T[F.Token]);
    R.Statement = TDialectStatement{};
  }
  return R;
}

std::vector<std::pair<size_t, size_t>> SplitStatements(std::string_view Text) {
  std::vector<std::pair<size_t, size_t>> R;
  TLexResult L = LexSql(Text);
  size_t ErrorAt = SIZE_MAX;
  if (!L.Ok) {
    // The statements before the error still run; the broken one runs to the end
    // of the text, so that parsing it reports the error.
    ErrorAt = static_cast<size_t>(L.Error.Pos.Offset);
    L = LexSql(Text.substr(0, ErrorAt));
    if (!L.Ok) return R;
  }
  const std::vector<TToken>& T = L.Tokens;
  size_t B = 0;
  while (T[B].Kind != tkEnd) {
    if (T[B].IsOp(";")) {
      B++;
      continue;
    }
    size_t E = StatementEnd(T, B);
    const TToken& Last = T[E - 1];
    R.emplace_back(static_cast<size_t>(T[B].Pos.Offset), static_cast<size_t>(Last.Pos.Offset) + Last.Text.size());
    B = E;
  }
  if (ErrorAt != SIZE_MAX) {
    bool EndsWithSemicolon = T.size() >= 2 && T[T.size() - 2].IsOp(";");
    if (!R.empty() && !EndsWithSemicolon)
      R.back().second = Text.size();
    else
      R.emplace_back(ErrorAt, Text.size());
  }
  return R;
}

}  // namespace vdbsrv
