#include "dbsrv/DialectTranslator.h"

#include <algorithm>
#include <array>
#include <span>

namespace vdbsrv {

namespace {

// Deeper nesting is refused rather than risking the stack on hostile input.
constexpr int MaxNesting = 200;

constexpr std::array CatalogTables{"systable",    "syscolumn",   "sysdomain", "sysuserperms",
                                   "sysprocedure", "sysprocparm", "sysindex",  "sysixcol"};

// Words that end an operand: an expression term never contains them.
constexpr std::array StopWords{
    "abort",     "action",    "add",       "after",     "all",       "alter",     "and",
    "as",        "asc",       "autoincrement", "before", "begin",   "between",   "by",
    "cascade",   "case",      "check",     "collate",   "column",    "commit",    "conflict",
    "constraint", "create",   "cross",     "current",   "default",   "deferrable", "delete",
    "desc",      "distinct",  "do",        "drop",      "each",      "else",      "elseif",
    "end",       "endif",     "escape",    "except",    "exclude",   "exists",    "fail",
    "filter",    "following", "for",       "foreign",   "from",      "full",      "glob",
    "group",     "having",    "if",        "ignore",    "in",        "index",     "inner",
    "insert",    "instead",   "intersect", "into",      "is",        "isnull",    "join",
    "key",       "left",      "like",      "limit",     "match",     "natural",   "no",
    "not",       "nothing",   "notnull",   "of",        "offset",    "on",        "or",
    "order",     "outer",     "over",      "partition", "preceding", "primary",   "range",
    "recursive", "references", "regexp",   "replace",   "restrict",  "returning", "right",
    "rollback",  "rows",      "select",    "set",       "table",     "temp",      "temporary",
    "then",      "to",        "trigger",   "unbounded", "union",     "unique",    "update",
    "using",     "values",    "view",      "when",      "where",     "window",    "with",
    "without"};

constexpr std::array StringFunctions{
    "string",  "upper",    "ucase",   "lower",    "lcase",   "trim",      "ltrim",  "rtrim",
    "substr",  "substring", "left",   "right",    "replace", "repeat",    "replicate", "space",
    "char",    "str",      "dateformat", "strftime", "printf", "format",  "group_concat", "list",
    "quote",   "hex",      "typeof",  "lpad",     "rpad",    "char_length_text", "date_format",
    "soundex", "difference_text", "reverse", "user_name", "db_name", "current_user_name"};

constexpr std::array StringTypes{"char", "varchar", "character", "text", "long", "string",
                                 "nchar", "nvarchar", "clob", "uniqueidentifierstr", "xml"};

template <size_t N>
bool InList(const std::array<const char*, N>& List, std::string_view Word) {
  for (const char* W : List)
    if (SameName(Word, W)) return true;
  return false;
}

enum TItemKind : uint8_t { ikToken, ikGroup, ikIf, ikCase };

// A token, a parenthesised group, an `if` expression or a CASE block; positions
// index the translator's list of tokens in play.
struct TItem {
  TItemKind Kind = ikToken;
  size_t First = 0;  ///< first position (the token, "(", "if", "case")
  size_t Last = 0;   ///< last position (the token, ")", "endif"/"if" of "end if", "end")
  std::vector<TItem> Children;               ///< group and CASE: the items inside
  std::vector<std::vector<TItem>> Parts;     ///< if: condition, value, ..., else value
  bool HasElse = false;
};

using TItems = std::span<const TItem>;

enum TStop : uint8_t { stTop, stGroup, stIfCond, stIfValue, stCase };

class TRun {
 public:
  TRun(const std::vector<TToken>& Tokens, const TDialectHooks& Hooks, const std::vector<int32_t>& HostOf,
       size_t B, size_t E, bool Vars, const std::vector<std::pair<size_t, size_t>>& Omit)
      : FT(Tokens), FHooks(Hooks), FHostOf(HostOf), FEnd(E), FVars(Vars) {
    for (size_t I = B; I < E; I++) {
      bool Omitted = false;
      for (const auto& [OB, OE] : Omit)
        if (I >= OB && I < OE) Omitted = true;
      if (!Omitted) FIdx.push_back(I);
    }
    size_t N = FIdx.size();
    FRepl.resize(N);
    FHasRepl.resize(N);
    FBefore.resize(N);
    FAfter.resize(N);
    FNoVar.resize(N);
    FDropGap.resize(N);
    FMatch.assign(N, SIZE_MAX);
    std::vector<size_t> Open;
    for (size_t P = 0; P < N; P++) {
      if (Tok(P).IsOp("(")) Open.push_back(P);
      if (Tok(P).IsOp(")") && !Open.empty()) {
        FMatch[Open.back()] = P;
        Open.pop_back();
      }
    }
  }

  TDialectExpr Run() {
    size_t P = 0;
    std::vector<TItem> Top = ParseList(P, stTop, 0);
    MarkTokens();
    NameSelectedVariables();
    Walk(Top);
    TDialectExpr R;
    R.Sql = Assemble(R.Slots);
    size_t N = FIdx.size();
    if (N == 1) {
      const TToken& T = Tok(0);
      if (T.Kind == tkWord && !IsSqlKeyword(T.Text)) R.BareName = std::string(T.Text);
      if (T.Kind == tkQuotedName) R.BareName = T.Value;
      if (T.Kind == tkHostMarker) R.Host = FHostOf[FIdx[0]];
    }
    R.IsString = ListIsString(Top);
    if (N > 0) R.Pos = Tok(0).Pos;
    return R;
  }

  std::vector<std::string> AutoIncrement;

 private:
  const std::vector<TToken>& FT;
  const TDialectHooks& FHooks;
  const std::vector<int32_t>& FHostOf;
  size_t FEnd;
  bool FVars;
  std::vector<size_t> FIdx;
  std::vector<std::string> FRepl;
  std::vector<bool> FHasRepl;
  std::vector<std::string> FBefore, FAfter;
  std::vector<bool> FNoVar;
  std::vector<bool> FDropGap;  // a token that vanishes together with the blank before it
  std::vector<size_t> FMatch;
  std::vector<uint8_t> FRole;  // 0 plain, 1 host marker, 2 variable

  size_t Size() const { return FIdx.size(); }
  const TToken& Tok(size_t P) const { return P < FIdx.size() ? FT[FIdx[P]] : FT[FEnd]; }
  [[noreturn]] void Fault(size_t P) const { throw TDialectFault{P < FIdx.size() ? FIdx[P] : FEnd}; }
  void Replace(size_t P, std::string S) {
    FRepl[P] = std::move(S);
    FHasRepl[P] = true;
  }
  void Remove(size_t P) {
    Replace(P, "");
    FDropGap[P] = true;
  }

  // --- structure ---------------------------------------------------------

  bool IsIfExpression(size_t P) const {
    if (P > 0 && Tok(P - 1).IsOp(".")) return false;
    if (Tok(P + 1).Is("not") || Tok(P + 1).Is("exists")) return false;
    for (size_t Q = P + 1; Q < Size(); Q++) {
      const TToken& T = Tok(Q);
      if (T.IsOp("(")) {
        if (FMatch[Q] == SIZE_MAX) return false;
        Q = FMatch[Q];
        continue;
      }
      if (T.IsOp(")") || T.IsOp(";")) return false;
      if (T.Is("then") || T.Is("if") || T.Is("endif")) return true;
    }
    return false;
  }

  bool AtStop(size_t P, TStop Stop) const {
    const TToken& T = Tok(P);
    switch (Stop) {
      case stGroup:
        return T.IsOp(")");
      case stIfCond:
        return T.Is("then");
      case stIfValue:
        return T.Is("else") || T.Is("elseif") || T.Is("endif") || (T.Is("end") && Tok(P + 1).Is("if"));
      case stCase:
        return T.Is("end");
      case stTop:
        return false;
    }
    return false;
  }

  std::vector<TItem> ParseList(size_t& P, TStop Stop, int Depth) {
    if (Depth > MaxNesting) Fault(P);
    std::vector<TItem> L;
    while (true) {
      if (P >= Size()) {
        if (Stop != stTop) Fault(P);
        return L;
      }
      if (AtStop(P, Stop)) return L;
      const TToken& T = Tok(P);
      if (T.IsOp(")") || T.Is("endif") || T.Is("elseif")) Fault(P);
      TItem It;
      It.First = P;
      if (T.IsOp("(")) {
        P++;
        It.Kind = ikGroup;
        It.Children = ParseList(P, stGroup, Depth + 1);
        It.Last = P++;
      } else if (T.Is("case")) {
        P++;
        It.Kind = ikCase;
        It.Children = ParseList(P, stCase, Depth + 1);
        It.Last = P++;
      } else if (T.Is("if") && IsIfExpression(P)) {
        ParseIf(P, It, Depth);
      } else {
        It.Last = P++;
      }
      L.push_back(std::move(It));
    }
  }

  void ParseIf(size_t& P, TItem& It, int Depth) {
    It.Kind = ikIf;
    Replace(P, "CASE WHEN");
    P++;
    while (true) {
      It.Parts.push_back(ParseList(P, stIfCond, Depth + 1));
      P++;  // then
      It.Parts.push_back(ParseList(P, stIfValue, Depth + 1));
      if (Tok(P).Is("elseif")) {
        Replace(P, "WHEN");
        P++;
        continue;
      }
      if (Tok(P).Is("else")) {
        P++;
        It.HasElse = true;
        It.Parts.push_back(ParseList(P, stIfValue, Depth + 1));
        if (Tok(P).Is("else") || Tok(P).Is("elseif")) Fault(P);
      }
      if (Tok(P).Is("endif")) {
        Replace(P, "END");
        It.Last = P++;
      } else {  // end if
        Remove(P + 1);
        It.Last = P + 1;
        P += 2;
      }
      return;
    }
  }

  // --- token rewrites ------------------------------------------------------

  bool IsName(size_t P) const { return Tok(P).Kind == tkWord || Tok(P).Kind == tkQuotedName; }
  bool AfterDot(size_t P) const { return P > 0 && Tok(P - 1).IsOp("."); }

  void MarkTokens() {
    FRole.assign(Size(), 0);
    bool SeenSet = false;
    for (size_t P = 0; P < Size(); P++) {
      const TToken& T = Tok(P);
      if (T.Kind == tkHostMarker) {
        FRole[P] = 1;
        continue;
      }
      if (T.Kind != tkWord || FHasRepl[P]) continue;
      if (T.Is("set")) SeenSet = true;
      if (T.Is("into") && P + 1 < Size() && IsName(P + 1)) {
        size_t Q = P + 2;
        while (Tok(Q).IsOp(".") && IsName(Q + 1)) Q += 2;
        if (Q < Size() && Tok(Q).IsOp("(") && FMatch[Q] != SIZE_MAX)
          for (size_t R = Q; R <= FMatch[Q]; R++) FNoVar[R] = true;
      }
      if (AfterDot(P)) continue;
      if (T.Is("sys") && Tok(P + 1).IsOp(".") && IsName(P + 2)) {
        Replace(P, "");
        Remove(P + 1);
        FDropGap[P + 2] = true;
        const TToken& Name = Tok(P + 2);
        if (Name.Kind == tkWord)
          Replace(P + 2, "sys_" + LowerName(Name.Text));
        else
          Replace(P + 2, "\"sys_" + LowerName(Name.Value) + "\"");
        P += 2;
        continue;
      }
      if (InList(CatalogTables, T.Text) && !Tok(P + 1).IsOp("(")) {
        Replace(P, "sys_" + LowerName(T.Text));
        continue;
      }
      if (FHooks.IsOwner && Tok(P + 1).IsOp(".") && IsName(P + 2) && FHooks.IsOwner(T.Text)) {
        Replace(P, "");
        Remove(P + 1);
        FDropGap[P + 2] = true;
        continue;
      }
      if (T.Is("current") && (Tok(P + 1).Is("date") || Tok(P + 1).Is("time") || Tok(P + 1).Is("timestamp"))) {
        std::string What(Tok(P + 1).Text);
        for (char& C : What) C = static_cast<char>(std::toupper(static_cast<unsigned char>(C)));
        Replace(P, "CURRENT_" + What);
        Remove(P + 1);
        P++;
        continue;
      }
      // SQLite takes a call as a column default only in parentheses.
      if (T.Is("default") && Tok(P + 1).Kind == tkWord && !IsSqlKeyword(Tok(P + 1).Text) && Tok(P + 2).IsOp("(") &&
          FMatch[P + 2] != SIZE_MAX) {
        FBefore[P + 1] += "(";
        FAfter[FMatch[P + 2]] += ")";
        continue;
      }
      if (T.Is("default") && Tok(P + 1).Is("autoincrement")) {
        Replace(P, "");
        Remove(P + 1);
        int Depth = 0;
        for (size_t Q = P; Q-- > 0;) {
          if (Tok(Q).IsOp(")")) Depth++;
          if (Tok(Q).IsOp("(") && Depth-- == 0) {
            AutoIncrement.push_back(Tok(Q + 1).Kind == tkQuotedName ? Tok(Q + 1).Value : std::string(Tok(Q + 1).Text));
            break;
          }
          if (Tok(Q).IsOp(",") && Depth == 0) {
            AutoIncrement.push_back(Tok(Q + 1).Kind == tkQuotedName ? Tok(Q + 1).Value : std::string(Tok(Q + 1).Text));
            break;
          }
        }
        P++;
        continue;
      }
      if (FVars && IsVariableAt(P, SeenSet)) FRole[P] = 2;
    }
  }

  // A variable that is a whole item of a select list names its column, as a
  // column would: `select v` describes a column "v", not SQLite's "?1".
  void NameSelectedVariables() {
    static constexpr std::array ListEnds{"from", "into", "where", "group", "having", "order",
                                         "union", "except", "intersect", "limit"};
    std::vector<bool> InSelectList(1, false);  // per parenthesis depth
    for (size_t P = 0; P < Size(); P++) {
      const TToken& T = Tok(P);
      if (T.IsOp("(")) InSelectList.push_back(false);
      if (T.IsOp(")") && InSelectList.size() > 1) InSelectList.pop_back();
      if (T.Is("select")) InSelectList.back() = true;
      if (T.Kind == tkWord && InList(ListEnds, T.Text)) InSelectList.back() = false;
      if (FRole[P] != 2 || !InSelectList.back() || P == 0) continue;
      const TToken& Prev = Tok(P - 1);
      if (!Prev.Is("select") && !Prev.Is("distinct") && !Prev.Is("all") && !Prev.IsOp(",")) continue;
      const TToken& Next = Tok(P + 1);
      bool ItemEnds = P + 1 >= Size() || Next.IsOp(",") || Next.IsOp(")") || Next.IsOp(";") ||
                      (Next.Kind == tkWord && InList(ListEnds, Next.Text));
      if (ItemEnds) FAfter[P] += " AS \"" + std::string(T.Text) + "\"";
    }
  }

  bool IsVariableAt(size_t P, bool SeenSet) const {
    const TToken& T = Tok(P);
    if (!FHooks.IsVariable || IsSqlKeyword(T.Text) || FNoVar[P]) return false;
    if (Tok(P + 1).IsOp(".") || Tok(P + 1).IsOp("(")) return false;
    if (P > 0) {
      const TToken& Prev = Tok(P - 1);
      static constexpr std::array NameDefiners{"as",    "from",      "join",     "into",    "update",
                                               "table", "view",      "index",    "trigger", "procedure",
                                               "function", "variable", "column"};
      if (Prev.Kind == tkWord && InList(NameDefiners, Prev.Text)) return false;
      if (SeenSet && (Prev.Is("set") || Prev.IsOp(",")) && Tok(P + 1).IsOp("=")) return false;
    }
    return FHooks.IsVariable(T.Text);
  }

  // --- `+` chains ------------------------------------------------------------

  bool IsOpAt(TItems L, size_t I, std::string_view Op) const {
    return I < L.size() && L[I].Kind == ikToken && Tok(L[I].First).IsOp(Op);
  }
  bool IsWordAt(TItems L, size_t I, std::string_view W) const {
    return I < L.size() && L[I].Kind == ikToken && Tok(L[I].First).Is(W);
  }
  bool IsNameAt(TItems L, size_t I) const {
    if (I >= L.size() || L[I].Kind != ikToken) return false;
    const TToken& T = Tok(L[I].First);
    return T.Kind == tkQuotedName || (T.Kind == tkWord && !InList(StopWords, T.Text));
  }

  // One operand: a literal, marker, name (dotted), call, group, if or CASE.
  size_t ParsePrimary(TItems L, size_t J) const {
    if (J >= L.size()) return J;
    const TItem& It = L[J];
    if (It.Kind != ikToken) return J + 1;
    const TToken& T = Tok(It.First);
    switch (T.Kind) {
      case tkString:
      case tkNumber:
      case tkBlob:
      case tkHostMarker:
        return J + 1;
      case tkWord:
        if (T.Is("exists") && J + 1 < L.size() && L[J + 1].Kind == ikGroup) return J + 2;
        if (T.Is("current") && FHasRepl[It.First]) return J + 2;
        if (InList(StopWords, T.Text)) return J;
        break;
      case tkQuotedName:
        break;
      default:
        return J;
    }
    size_t K = J + 1;
    while (IsOpAt(L, K, ".") && (IsNameAt(L, K + 1) || IsOpAt(L, K + 1, "*"))) K += 2;
    if (K < L.size() && L[K].Kind == ikGroup) K++;
    return K;
  }

  struct TTerm {
    size_t B = 0, E = 0;
    bool Tight = false;   // contains * / % at its top
    bool Concat = false;  // contains || at its top
  };

  TTerm ParseTerm(TItems L, size_t I) const {
    TTerm T{I, I};
    size_t J = I;
    while (IsOpAt(L, J, "-") || IsOpAt(L, J, "+") || IsOpAt(L, J, "~")) J++;
    size_t K = ParsePrimary(L, J);
    if (K == J) return T;
    J = K;
    while (true) {
      if (IsWordAt(L, J, "collate") && IsNameAt(L, J + 1)) {
        J += 2;
        continue;
      }
      bool Tight = IsOpAt(L, J, "*") || IsOpAt(L, J, "/") || IsOpAt(L, J, "%");
      bool Concat = IsOpAt(L, J, "||") || IsOpAt(L, J, "->") || IsOpAt(L, J, "->>");
      if (!Tight && !Concat) break;
      size_t S = J + 1;
      while (IsOpAt(L, S, "-") || IsOpAt(L, S, "+") || IsOpAt(L, S, "~")) S++;
      K = ParsePrimary(L, S);
      if (K == S) break;
      T.Tight |= Tight;
      T.Concat |= IsOpAt(L, J, "||");
      J = K;
    }
    T.E = J;
    return T;
  }

  struct TChain {
    std::vector<TTerm> Terms;
    std::vector<size_t> Ops;  // item index of the operator before Terms[i + 1]
    size_t End = 0;
  };

  TChain ParseChain(TItems L, size_t I) const {
    TChain C;
    TTerm T = ParseTerm(L, I);
    C.End = I;
    if (T.E == I) return C;
    C.Terms.push_back(T);
    C.End = T.E;
    while (IsOpAt(L, C.End, "+") || IsOpAt(L, C.End, "-")) {
      TTerm Next = ParseTerm(L, C.End + 1);
      if (Next.E == C.End + 1) break;
      C.Ops.push_back(C.End);
      C.Terms.push_back(Next);
      C.End = Next.E;
    }
    return C;
  }

  bool ListIsString(TItems L) const {
    TChain C = ParseChain(L, 0);
    if (C.Terms.empty() || C.End != L.size()) return false;
    for (const TTerm& T : C.Terms)
      if (TermIsString(L, T)) return true;
    return false;
  }

  std::string NameText(size_t P) const {
    const TToken& T = Tok(P);
    return T.Kind == tkQuotedName ? T.Value : std::string(T.Text);
  }

  bool TermIsString(TItems L, const TTerm& T) const {
    if (T.Concat) return true;
    if (ParsePrimary(L, T.B) != T.E) return false;  // prefix or arithmetic
    const TItem& It = L[T.B];
    switch (It.Kind) {
      case ikGroup:
        return ListIsString(It.Children);
      case ikIf:
        for (size_t I = 1; I < It.Parts.size(); I += 2)
          if (ListIsString(It.Parts[I])) return true;
        return It.HasElse && ListIsString(It.Parts.back());
      case ikCase:
        return CaseIsString(It.Children);
      case ikToken:
        break;
    }
    const TToken& First = Tok(It.First);
    if (First.Kind == tkString) return true;
    if (First.Kind != tkWord && First.Kind != tkQuotedName) return false;
    if (L[T.E - 1].Kind == ikGroup) {  // a call
      const TToken& Fn = Tok(L[T.E - 2].First);
      if (Fn.Is("cast")) return CastIsString(L[T.E - 1].Children);
      return Fn.Kind == tkWord && InList(StringFunctions, Fn.Text);
    }
    if (!FHooks.IsStringName) return false;
    std::vector<std::string> Names;
    for (size_t I = T.B; I < T.E; I += 2) Names.push_back(NameText(L[I].First));
    if (Names.size() == 1) return FHooks.IsStringName("", Names[0]);
    return FHooks.IsStringName(Names[Names.size() - 2], Names.back());
  }

  bool CaseIsString(TItems L) const {
    for (size_t I = 0; I < L.size(); I++) {
      if (!IsWordAt(L, I, "then") && !IsWordAt(L, I, "else")) continue;
      size_t J = I + 1;
      while (J < L.size() && !IsWordAt(L, J, "when") && !IsWordAt(L, J, "else")) J++;
      if (ListIsString(L.subspan(I + 1, J - I - 1))) return true;
    }
    return false;
  }

  bool CastIsString(TItems L) const {
    for (size_t I = 0; I + 1 < L.size(); I++)
      if (IsWordAt(L, I, "as") && L[I + 1].Kind == ikToken && InList(StringTypes, Tok(L[I + 1].First).Text))
        return true;
    return false;
  }

  void Walk(TItems L) {
    for (const TItem& It : L) {
      Walk(It.Children);
      for (const auto& Part : It.Parts) Walk(Part);
    }
    size_t I = 0;
    while (I < L.size()) {
      TChain C = ParseChain(L, I);
      if (C.Terms.empty()) {
        I++;
        continue;
      }
      ConvertChain(L, C);
      I = C.End;
    }
  }

  void ConvertChain(TItems L, const TChain& C) {
    bool HasPlus = false, HasString = false;
    for (size_t Op : C.Ops) HasPlus |= IsOpAt(L, Op, "+");
    if (!HasPlus) return;
    for (const TTerm& T : C.Terms) HasString |= TermIsString(L, T);
    if (!HasString) return;
    for (const TTerm& T : C.Terms) {
      if (!T.Tight) continue;
      FBefore[L[T.B].First] += "(";
      FAfter[L[T.E - 1].Last] += ")";
    }
    bool AccMinus = false;
    for (size_t K = 0; K < C.Ops.size(); K++) {
      size_t Op = C.Ops[K];
      if (IsOpAt(L, Op, "-")) {
        AccMinus = true;
        continue;
      }
      Replace(L[Op].First, "||");
      if (AccMinus) {
        FBefore[L[C.Terms[0].B].First] += "(";
        FAfter[L[Op - 1].Last] += ")";
        AccMinus = false;
      }
    }
  }

  // --- output ------------------------------------------------------------

  std::string Assemble(std::vector<TParamSlot>& Slots) const {
    std::string Out;
    for (size_t P = 0; P < Size(); P++) {
      const TToken& T = Tok(P);
      if (P > 0 && !FDropGap[P]) {
        Out += T.Gap;
        if (T.Gap.empty() && FIdx[P] != FIdx[P - 1] + 1) Out += ' ';
      }
      Out += FBefore[P];
      if (FHasRepl[P]) {
        Out += FRepl[P];
      } else if (FRole[P] != 0) {
        TParamSlot S;
        if (FRole[P] == 1) {
          S.Kind = slHost;
          S.Host = FHostOf[FIdx[P]];
        } else {
          S.Kind = slVariable;
          S.Variable = std::string(T.Text);
        }
        size_t N = 0;
        while (N < Slots.size() && !(Slots[N].Kind == S.Kind && Slots[N].Host == S.Host &&
                                      SameName(Slots[N].Variable, S.Variable)))
          N++;
        if (N == Slots.size()) Slots.push_back(S);
        Out += "?" + std::to_string(N + 1);
      } else {
        Out += T.Text;
      }
      Out += FAfter[P];
    }
    return Out;
  }
};

}  // namespace

bool IsSqlKeyword(std::string_view Word) {
  if (InList(StopWords, Word)) return true;
  static constexpr std::array Others{"null", "true", "false", "cast", "current_date", "current_time",
                                     "current_timestamp", "call", "message", "declare", "return",
                                     "while", "loop", "leave", "endif", "elseif"};
  return InList(Others, Word);
}

TSqlTranslator::TSqlTranslator(const std::vector<TToken>& Tokens, std::string_view Source,
                               const TDialectHooks& Hooks)
    : FTokens(Tokens), FSource(Source), FHooks(Hooks), FHostOf(Tokens.size(), -1) {
  for (size_t I = 0; I < Tokens.size(); I++) {
    const TToken& T = Tokens[I];
    if (T.Kind != tkHostMarker) continue;
    int32_t Found = -1;
    if (!T.Value.empty())
      for (size_t H = 0; H < FHostVars.size(); H++)
        if (SameName(FHostVars[H].Name, T.Value)) Found = static_cast<int32_t>(H);
    if (Found < 0) {
      FHostVars.push_back(THostVar{T.Value, {}});
      Found = static_cast<int32_t>(FHostVars.size() - 1);
    }
    FHostVars[Found].Positions.push_back(T.Pos);
    FHostOf[I] = Found;
  }
}

TDialectExpr TSqlTranslator::Translate(size_t B, size_t E, bool Variables,
                                       const std::vector<std::pair<size_t, size_t>>& Omit) {
  E = std::min(E, FTokens.size() - 1);
  TRun Run(FTokens, FHooks, FHostOf, B, E, Variables, Omit);
  TDialectExpr R = Run.Run();
  FAutoIncrement = std::move(Run.AutoIncrement);
  R.Text = std::string(SourceText(B, E));
  return R;
}

std::string_view TSqlTranslator::SourceText(size_t B, size_t E) const {
  if (B >= E || B >= FTokens.size()) return {};
  size_t From = static_cast<size_t>(FTokens[B].Pos.Offset);
  const TToken& Last = FTokens[E - 1];
  size_t To = static_cast<size_t>(Last.Pos.Offset) + Last.Text.size();
  return FSource.substr(From, To - From);
}

}  // namespace vdbsrv
