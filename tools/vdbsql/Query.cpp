#include "Query.h"

#include <cctype>

#include "Shell.h"

namespace vdbsql {

using vdb::TAsaSQL;

TQueryRunner::TQueryRunner(TShell& Shell) : FShell(Shell) {}

TQueryRunner::~TQueryRunner() = default;

namespace {

std::unique_ptr<TAsaSQL> NewQuery(vdb::TAsaSession& Session) {
  auto Q = std::make_unique<TAsaSQL>(nullptr);
  Q->SetSession(&Session);
  return Q;
}

// The results are read once from first to last row: a forward-only cursor
// streams them from the server instead of keeping every row it has read
// for scrolling back.
std::unique_ptr<TAsaSQL> NewReadQuery(vdb::TAsaSession& Session) {
  auto Q = NewQuery(Session);
  Q->SetCursorType(vdb::actNoScroll);
  return Q;
}

// Warnings ("row not found" of a changing statement aside) go to stderr;
// they do not fail the statement.
void ReportWarning(TShell& Shell) {
  const int32_t Code = Shell.Session().LastErrorCode();
  if (Code > 0 && Code != 100) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", Shell.Session().LastError().c_str());
  }
}

// Whether the statement calls a procedure. The server's describe also
// marks creating and dropping a procedure as possibly returning result
// sets; only a call really can.
bool IsCall(const std::string& SQL) {
  size_t P = SQL.find_first_not_of(" \t\r\n(");
  if (P == std::string::npos) return false;
  if (SQL.compare(P, 2, "?=") == 0) P = SQL.find_first_not_of(" \t\r\n", P + 2);
  if (P == std::string::npos || SQL.size() - P < 4) return false;
  std::string W = SQL.substr(P, 4);
  for (char& C : W) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return W == "call" && (SQL.size() == P + 4 || !std::isalnum(static_cast<unsigned char>(SQL[P + 4])));
}

}  // namespace

bool TQueryRunner::RunStatement(const std::string& SQL) {
  if (!FQuery) FQuery = NewReadQuery(FShell.Session());
  TAsaSQL& Q = *FQuery;
  vdb::TAsaSession& S = FShell.Session();
  // One prepare serves both uses: the described columns tell a query from
  // a statement to execute, and a procedure call is opened as a cursor.
  if (!Q.Prepare(SQL)) {
    if (S.LastErrorCode() < 0) {
      FShell.ReportError();
      return false;
    }
    // Prepared with a warning: the statement is not kept, so run it directly.
    ReportWarning(FShell);
    if (!Q.ExecuteImmediate(SQL) && S.LastErrorCode() < 0) {
      FShell.ReportError();
      return false;
    }
    FShell.Writer().RowsAffected(Q.RowsProcessed());
    return true;
  }
  if (Q.FieldCount() > 0 || (Q.GetResumable() && IsCall(SQL))) return PrintCursor(Q);
  if (!Q.ExecutePrepared({}) && S.LastErrorCode() < 0) {
    FShell.ReportError();
    return false;
  }
  ReportWarning(FShell);
  FShell.Writer().RowsAffected(Q.RowsProcessed());
  return true;
}

bool TQueryRunner::RunQuery(const std::string& SQL, const std::vector<vcl::Variant>& Values) {
  auto Q = NewReadQuery(FShell.Session());
  vdb::TVantorValues V(Values.begin(), Values.end());
  if (!Q->PrepareOpen(SQL)) {
    FShell.ReportError();
    return false;
  }
  if (!Q->OpenPrepared(V, true) && FShell.Session().LastErrorCode() < 0) {
    FShell.ReportError();
    return false;
  }
  bool Cancelled = false;
  const bool Ok = PrintResult(*Q, false, Cancelled);
  Q->Close();
  if (Cancelled) FShell.ReportError("Statement cancelled");
  return Ok && !Cancelled;
}

bool TQueryRunner::PrintCursor(TAsaSQL& Q) {
  vdb::TAsaSession& S = FShell.Session();
  const bool Resumable = Q.GetResumable();
  bool Opened = false;
  try {
    Opened = Q.OpenPrepared({}, true);
  } catch (const vcl::Exception& E) {
    // A procedure that ran to its end without a result set.
    if (Resumable && S.LastErrorCode() >= 0) return true;
    FShell.ReportError(E.Message());
    return false;
  }
  if (!Opened) {
    if (S.LastErrorCode() < 0) {
      FShell.ReportError();
      return false;
    }
    ReportWarning(FShell);
  }
  bool Cancelled = false;
  bool Ok = PrintResult(Q, false, Cancelled);
  // A procedure's further result sets, each with its own header.
  while (Ok && !Cancelled && Q.StillInProc()) {
    const bool Row = Q.Resume();
    if (!Row) {
      if (S.LastErrorCode() < 0) {
        FShell.ReportError();
        Ok = false;
        break;
      }
      if (!Q.StillInProc()) break;
    }
    Ok = PrintResult(Q, Row, Cancelled);
  }
  Q.Close();
  if (Cancelled) {
    FShell.ReportError("Statement cancelled");
    return false;
  }
  return Ok;
}

bool TQueryRunner::PrintResult(TAsaSQL& Q, bool RowCurrent, bool& Cancelled) {
  const int32_t N = Q.FieldCount();
  std::vector<TResultColumn> Columns;
  Columns.reserve(N);
  for (int32_t I = 0; I < N; ++I) {
    const vdb::TVantorFieldDef* Def = Q.FieldDefs()->Items(I);
    Columns.push_back({Q.GetFieldName(I), Def->FieldType, Def->FieldType == vdb::vtFloat || Def->FieldType == vdb::vtCurrency ? Def->Decimals : 0});
  }
  TResultWriter& W = FShell.Writer();
  W.BeginResult(Columns);
  FValues.resize(N);
  bool Have = RowCurrent || Q.Next();
  while (Have) {
    if (FShell.CancelRequested()) {
      Cancelled = true;
      break;
    }
    for (int32_t I = 0; I < N; ++I) {
      const vcl::Variant Index(I);
      // The value is read from the row whatever its indicator says.
      FValues[I] = Q.IsFieldNull(Index) ? vcl::Null() : Q.GetFieldValue(Index);
    }
    W.Row(FValues);
    Have = Q.Next();
  }
  W.EndResult();
  if (!Have && !Cancelled && FShell.Session().LastErrorCode() < 0) {
    FShell.ReportError();
    return false;
  }
  return true;
}

bool TQueryRunner::Explain(const std::string& SQL, std::string& Plan) {
  auto Q = NewQuery(FShell.Session());
  if (!Q->Open(SQL, {}, true)) {
    FShell.ReportError();
    return false;
  }
  Plan = Q->Explain();
  const bool Ok = FShell.Session().LastErrorCode() >= 0;
  if (!Ok) FShell.ReportError();
  Q->Close();
  return Ok;
}

bool TQueryRunner::ModifyRows(const std::string& SQL, const std::vector<TAssignment>& Assignments, int64_t& Count) {
  Count = 0;
  auto Q = NewQuery(FShell.Session());
  vdb::TAsaSession& S = FShell.Session();
  bool Have = Q->OpenWrite(SQL, {});
  if (!Have && S.LastErrorCode() < 0) {
    FShell.ReportError();
    return false;
  }
  for (const auto& [Column, Value] : Assignments)
    if (!Q->FindField(Column)) {
      FShell.ReportError("column " + Column + " is not in the query");
      return false;
    }
  while (Have) {
    if (FShell.CancelRequested()) {
      FShell.ReportError("Statement cancelled");
      return false;
    }
    for (const auto& [Column, Value] : Assignments) Q->SetFieldValue(vcl::Variant(Column), vcl::Variant(Value));
    if (!Q->Modify()) {
      FShell.ReportError();
      return false;
    }
    ++Count;
    Have = Q->Next();
  }
  if (S.LastErrorCode() < 0) {
    FShell.ReportError();
    return false;
  }
  Q->Close();
  return true;
}

}  // namespace vdbsql
