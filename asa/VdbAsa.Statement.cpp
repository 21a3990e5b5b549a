// TAsaSQL: construction, binding of the statement's entry points, prepare
// and unprepare of both halves with their statement numbers from the
// session's pool.
#include <cstdio>
#include <cstring>

#include "asa/VdbAsa.h"
#include "rtl/Windows.h"

namespace vdb {

namespace {

constexpr char kProgram[] = "VDB";

template <class Proc>
void Bind(vcl::HMODULE Module, Proc& P, const char* Name) {
  VdbAssignProcAddress(P, vcl::GetProcAddress(Module, Name), VdbDummyEntry<Proc>());
}

void Fire(const vcl::TNotifyEvent& Event, vcl::TObject* Sender) {
  if (Event) Event(Sender);
}

}  // namespace

TAsaSQL::TAsaSQL(vcl::TComponent* AOwner)
    : TVantorSQL(AOwner), FOpenBlobVariables(std::make_unique<vcl::TStringList>()) {
  VdbAsaRegisterClasses();
}

TAsaSQL::~TAsaSQL() {
  // Close and unprepare while this class's overrides still run; nothing
  // may escape a destructor.
  try {
    Shutdown();
  } catch (...) {
  }
  // Descriptors left behind by a failure above.
  if (!FLibraryProcsInvalid) {
    FreeSqlda(FFetchSqlda, false);
    FreeSqlda(FBindSqlda, true);
    FreeSqlda(FExecInSqlda, true);
    FreeSqlda(FExecOutSqlda, true);
  }
}

void TAsaSQL::RaiseAsa(const std::string& Message, int32_t Code) { RaiseLastError<EAsaException>(Message, Code); }

void TAsaSQL::NotSupportedYet(const char* Operation) {
  RaiseAsa(std::string("TAsaSQL.") + Operation + " is not supported yet");
}

void TAsaSQL::SetCursorType(TAsaCursorType Value) {
  if (Value != FCursorType) FCursorType = Value;
}

void TAsaSQL::SetTransIsolation(TAsaTransIsolation Value) {
  if (Value != FTransIsolation) FTransIsolation = Value;
}

bool TAsaSQL::InternalIsUniDirectional() { return FCursorType == actNoScroll; }

// ---------------------------------------------------------------------------
// Entry points

void TAsaSQL::InternalLoadLibraryProcs() {
  auto* S = dynamic_cast<TAsaSession*>(FSession);
  if (S == nullptr) RaiseAsa("The session of a TAsaSQL must be a TAsaSession");
  FProgramBlock = S->ProgramBlock();
  FLibraryVersion = S->LibraryVersion();
  const vcl::HMODULE M = S->LibraryHandle();
  TAsaSQLProcs& P = FProcs;
  Bind(M, P.alloc_sqlda, "alloc_sqlda");
  Bind(M, P.alloc_sqlda_noind, "alloc_sqlda_noind");
  Bind(M, P.fill_sqlda, "fill_sqlda");
  Bind(M, P.free_sqlda, "free_sqlda");
  Bind(M, P.free_sqlda_noind, "free_sqlda_noind");
  Bind(M, P.free_filled_sqlda, "free_filled_sqlda");
  Bind(M, P.dbpp_prepare, "dbpp_prepare");
  Bind(M, P.dbpp_dropstmt, "dbpp_dropstmt");
  Bind(M, P.dbpp_describe, "dbpp_describe");
  Bind(M, P.dbpp_describe_cursor, "dbpp_describe_cursor");
  Bind(M, P.dbpp_describe_names, "dbpp_describe_names");
  Bind(M, P.dbpp_declare, "dbpp_declare");
  Bind(M, P.dbpp_open, "dbpp_open");
  Bind(M, P.dbpp_fetch, "dbpp_fetch");
  Bind(M, P.dbpp_fetch_array, "dbpp_fetch_array");
  Bind(M, P.dbpp_get_data, "dbpp_get_data");
  Bind(M, P.dbpp_put_into, "dbpp_put_into");
  Bind(M, P.dbpp_update, "dbpp_update");
  Bind(M, P.dbpp_delete, "dbpp_delete");
  Bind(M, P.dbpp_resume, "dbpp_resume");
  Bind(M, P.dbpp_close, "dbpp_close");
  Bind(M, P.dbpp_explain, "dbpp_explain");
  Bind(M, P.dbpp_execute_into, "dbpp_execute_into");
  Bind(M, P.dbpp_execute_imm, "dbpp_execute_imm");
  Bind(M, P.dbpp_commit, "dbpp_commit");
  Bind(M, P.dbpp_rollback, "dbpp_rollback");
  Bind(M, P.dbpp_prepare_pb, "dbpp_prepare");
  Bind(M, P.dbpp_dropstmt_pb, "dbpp_dropstmt");
  Bind(M, P.dbpp_describe_pb, "dbpp_describe");
  Bind(M, P.dbpp_describe_cursor_pb, "dbpp_describe_cursor");
  Bind(M, P.dbpp_describe_names_pb, "dbpp_describe_names");
  Bind(M, P.dbpp_declare_pb, "dbpp_declare");
  Bind(M, P.dbpp_open_pb, "dbpp_open");
  Bind(M, P.dbpp_fetch_pb, "dbpp_fetch");
  Bind(M, P.dbpp_fetch_array_pb, "dbpp_fetch_array");
  Bind(M, P.dbpp_get_data_pb, "dbpp_get_data");
  Bind(M, P.dbpp_put_into_pb, "dbpp_put_into");
  Bind(M, P.dbpp_update_pb, "dbpp_update");
  Bind(M, P.dbpp_delete_pb, "dbpp_delete");
  Bind(M, P.dbpp_resume_pb, "dbpp_resume");
  Bind(M, P.dbpp_close_pb, "dbpp_close");
  Bind(M, P.dbpp_explain_pb, "dbpp_explain");
  Bind(M, P.dbpp_execute_into_pb, "dbpp_execute_into");
  Bind(M, P.dbpp_execute_imm_pb, "dbpp_execute_imm");
  Bind(M, P.dbpp_commit_pb, "dbpp_commit");
  Bind(M, P.dbpp_rollback_pb, "dbpp_rollback");
}

void TAsaSQL::FreeSqlda(SQLDA*& Sqlda, bool WithIndicators) {
  if (Sqlda == nullptr) return;
  ForgetVariableNames(Sqlda);
  SQLDA* Da = Sqlda;
  Sqlda = nullptr;
  // The library that allocated it is gone: its memory went with it.
  if (FLibraryProcsInvalid) return;
  if (WithIndicators)
    FProcs.free_sqlda(Da);
  else
    FProcs.free_sqlda_noind(Da);
}

const char* TAsaSQL::KeepVariableName(const SQLDA* Sqlda, std::string Name) {
  FVariableNames.emplace_back(Sqlda, std::make_unique<std::string>(std::move(Name)));
  return FVariableNames.back().second->c_str();
}

void TAsaSQL::ForgetVariableNames(const SQLDA* Sqlda) {
  if (FVariableNames.empty()) return;
  std::erase_if(FVariableNames, [Sqlda](const auto& Entry) { return Entry.first == Sqlda; });
}

// ---------------------------------------------------------------------------
// Prepare

bool TAsaSQL::InternalPrepare(const std::string& SQL) {
  if (!InternalPrepareOpen(SQL)) return false;
  // One server statement serves both halves.
  FExecStmt = FCursorStmt;
  return TVantorSQL::InternalPrepareExecute(SQL);
}

bool TAsaSQL::InternalPrepareOpen(const std::string& SQL) {
  InternalNeedLibrary();
  FResumable = false;
  TAsaStatementPool* Pool = AsaSession()->StatementPool();
  FCursorStmt = static_cast<int16_t>(Pool->Next());
  Dbpp(FProcs.dbpp_prepare, FProcs.dbpp_prepare_pb, nullptr, kProgram, &FCursorStmt, SQL.c_str(), nullptr, 1u);
  if (!Check(FWantExceptions)) {
    FCursorStmt = 0;
    return false;
  }
  Pool->Use(FCursorStmt);

  bool Result = false;
  SQLDA* Probe = nullptr;
  try {
    Probe = FProcs.alloc_sqlda_noind(0);
    if (Probe == nullptr) throw std::bad_alloc();
    Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &FCursorStmt, Probe, 9u);
    if (Check(FWantExceptions)) {
      FResumable = SqlCount() == 0 && FLibraryVersion > 4;
      if (FResumable) {
        // Procedure results are described at each open.
        Pool->Clear();
        Result = true;
      } else {
        Result = Probe->sqld == 0 || InternalDescribePrepare();
      }
    }
    if (Result) {
      TVantorSQL::InternalPrepareOpen(SQL);
      Fire(FAfterPrepare, this);
    }
  } catch (...) {
    FreeSqlda(Probe, false);
    FreeSqlda(FFetchSqlda, false);
    InternalDropStatement(FCursorStmt);
    FCursorStmt = 0;
    throw;
  }
  FreeSqlda(Probe, false);
  if (!Result) {
    // The drop is not checked: the error recorded above is the one to report.
    FreeSqlda(FFetchSqlda, false);
    InternalDropStatement(FCursorStmt);
    FCursorStmt = 0;
    FResumable = false;
  }
  return Result;
}

bool TAsaSQL::InternalPrepareExecute(const std::string& SQL) {
  InternalNeedLibrary();
  TAsaStatementPool* Pool = AsaSession()->StatementPool();
  FExecStmt = static_cast<int16_t>(Pool->Next());
  Dbpp(FProcs.dbpp_prepare, FProcs.dbpp_prepare_pb, nullptr, kProgram, &FExecStmt, SQL.c_str(), nullptr, 1u);
  if (!Check(FWantExceptions)) {
    FExecStmt = 0;
    return false;
  }
  Pool->Use(FExecStmt);
  TVantorSQL::InternalPrepareExecute(SQL);
  Fire(FAfterPrepare, this);
  return true;
}

// ---------------------------------------------------------------------------
// Unprepare

void TAsaSQL::InternalDropStatement(int16_t Number) {
  if (TAsaSession* S = AsaSession()) S->StatementPool()->Drop(Number);
  if (FLibraryProcsInvalid) return;
  Dbpp(FProcs.dbpp_dropstmt, FProcs.dbpp_dropstmt_pb, nullptr, kProgram, &Number);
}

void TAsaSQL::InternalUnprepareOpen() {
  FreeSqlda(FFetchSqlda, false);
  FreeSqlda(FBindSqlda, true);
  if (FCursorPrepared && FCursorStmt != 0) {
    // A statement prepared for both halves is dropped only once.
    if (FExecStmt == FCursorStmt) FExecStmt = 0;
    FResumable = false;
    const int16_t Number = FCursorStmt;
    FCursorStmt = 0;
    InternalDropStatement(Number);
    TVantorSQL::InternalUnprepareOpen();
    if (!BeingDestroyed()) Fire(FAfterUnprepare, this);
  } else {
    TVantorSQL::InternalUnprepareOpen();
  }
}

void TAsaSQL::InternalUnprepareExecute() {
  FreeSqlda(FExecInSqlda, true);
  FreeSqlda(FExecOutSqlda, true);
  if (FExecPrepared && FExecStmt != 0) {
    if (FCursorStmt == FExecStmt) FCursorStmt = 0;
    FResumable = false;
    const int16_t Number = FExecStmt;
    FExecStmt = 0;
    InternalDropStatement(Number);
    TVantorSQL::InternalUnprepareExecute();
    if (!BeingDestroyed()) Fire(FAfterUnprepare, this);
  } else {
    TVantorSQL::InternalUnprepareExecute();
  }
}

}  // namespace vdb
