// TAsaSQL: host-variable types, binding input variables (output-only
// procedure parameters, missing values, long values through server
// variables), describing output variables, execution and the commit of
// auto-commit mode.
#include <algorithm>
#include <cstring>

#include "asa/VdbAsa.h"
#include "rtl/SysUtils.h"

namespace vdb {

namespace {

constexpr char kProgram[] = "VDB";
constexpr int32_t kOutBlobBuffer = 32767;  // buffer of a long output variable

void SetIndicator(sqlvar& V, int16_t Value) {
  if (V.sqlind != nullptr) *V.sqlind = Value;
}

// Output-only parameters of a procedure call: bit 15 set, bit 14 clear.
bool IsOutputOnly(const sqlvar& V) {
  return V.sqlind != nullptr && (static_cast<uint16_t>(*V.sqlind) & 0xC000u) == 0x8000u;
}

void PutEntryName(sqlvar& V, const std::string& Name) {
  const size_t N = std::min(strnlen(Name.c_str(), Name.size()), size_t{SQL_NAME_LENGTH});
  std::memset(V.sqlname.data, 0, SQL_NAME_LENGTH);
  std::memcpy(V.sqlname.data, Name.data(), N);
  V.sqlname.length = static_cast<int16_t>(N);
}

}  // namespace

// ---------------------------------------------------------------------------
// Types

int32_t TAsaSQL::InternalGetVariableLength(TVantorFieldTypes FieldType) {
  switch (FieldType) {
    case vtString: return 8193;
    case vtInteger: return 4;
    case vtInt64:
    case vtFloat:
    case vtCurrency: return 8;
    case vtDate:
    case vtTime:
    case vtDateTime: return 14;
    case vtBoolean: return 1;
    case vtBinary:
    case vtMemo:
    case vtBlob: return 32767;
    case vtUnknown: break;
  }
  return 0;
}

int32_t TAsaSQL::InternalGetVariableExtType(TVantorFieldTypes FieldType) {
  switch (FieldType) {
    case vtString:
    case vtMemo: return DT_STRING;
    case vtInteger: return DT_INT;
    case vtInt64: return DT_BIGINT;
    case vtFloat:
    case vtCurrency: return DT_DOUBLE;
    case vtDate:
    case vtTime:
    case vtDateTime: return DT_TIMESTAMP_STRUCT;
    case vtBoolean: return DT_BIT;
    case vtBinary:
    case vtBlob: return DT_BINARY;
    case vtUnknown: break;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Binding

bool TAsaSQL::InternalBindOpenVariables(vcl::TStrings* Names) {
  FreeSqlda(FBindSqlda, true);
  // Long values reach the cursor through server variables as well; those
  // of an open that failed before its end go first.
  if (FOpenBlobVariables->Count() > 0) {
    InternalDropBlobVariables(FOpenBlobVariables.get());
    FOpenBlobVariables->Clear();
  }
  vcl::TStrings* Variables = Names != nullptr ? Names : FOpenBlobVariables.get();
  void* Da = nullptr;
  bool Result = false;
  try {
    Result = InternalBindVariables(FCursorStmt, FOpenVars.get(), Variables, Da);
  } catch (...) {
    DropBindVariables(Variables);
    throw;
  }
  FBindSqlda = static_cast<SQLDA*>(Da);
  if (!Result) DropBindVariables(Variables);
  FOpenVars->SetBound(Result);
  return Result;
}

bool TAsaSQL::InternalBindExecVariables(vcl::TStrings* Names) {
  FreeSqlda(FExecInSqlda, true);
  FreeSqlda(FExecOutSqlda, true);
  bool Result = false;
  try {
    void* In = nullptr;
    Result = InternalBindVariables(FExecStmt, FExecVars.get(), Names, In);
    FExecInSqlda = static_cast<SQLDA*>(In);
    if (Result) {
      void* Out = nullptr;
      Result = InternalBindOutVariables(FExecStmt, FOutVars.get(), Names, Out);
      FExecOutSqlda = static_cast<SQLDA*>(Out);
    }
  } catch (...) {
    DropBindVariables(Names);
    throw;
  }
  // Nothing executes: the variables made for it would stay on the
  // connection and refuse the next statement that makes them.
  if (!Result) DropBindVariables(Names);
  FExecVars->SetBound(Result);
  FOutVars->SetBound(Result);
  return Result;
}

void TAsaSQL::DropBindVariables(vcl::TStrings* Names) {
  if (Names == nullptr || Names->Count() == 0) return;
  DropVariablesAfterError(Names);
  Names->Clear();
}

bool TAsaSQL::InternalBindVariables(int32_t StatementNo, TVantorVariableDefs* Defs, vcl::TStrings* Names,
                                    void*& Descriptor) {
  InternalNeedLibrary();
  if (Descriptor != nullptr) {
    SQLDA* Old = static_cast<SQLDA*>(Descriptor);
    Descriptor = nullptr;
    FreeSqlda(Old, true);
  }
  int16_t Number = static_cast<int16_t>(StatementNo);
  SQLDA* Da = FProcs.alloc_sqlda(0);
  if (Da == nullptr) throw std::bad_alloc();
  try {
    Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &Number, Da, 2u);
    if (!Check(FWantExceptions)) {
      FreeSqlda(Da, true);
      return false;
    }
    const int32_t Count = Da->sqld;
    FreeSqlda(Da, true);
    Da = FProcs.alloc_sqlda(static_cast<uint32_t>(Count));
    if (Da == nullptr) throw std::bad_alloc();
    Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &Number, Da, 2u);

    int32_t J = 0;
    for (int32_t I = 0; I < Count && I < Da->sqln; ++I) {
      sqlvar& V = Da->sqlvar[I];
      if (IsOutputOnly(V)) {
        SetIndicator(V, -1);
        continue;
      }
      const TVantorFieldDef* Def = Defs != nullptr ? Defs->Items(J++) : nullptr;
      if (Def == nullptr || Defs->Buffer() == nullptr) {
        SetIndicator(V, -1);  // more variables than values
        continue;
      }
      PutEntryName(V, Def->Name);
      uint8_t* Data = Defs->Buffer() + Def->Offset;
      if (Def->FieldType == vtUnknown) {
        SetIndicator(V, -1);
      } else if (Def->FieldType != vtMemo && Def->FieldType != vtBlob) {
        V.sqltype = static_cast<int16_t>(Def->ExtType);
        V.sqllen = static_cast<uint16_t>(Def->Size);
        V.sqldata = Data;
        SetIndicator(V, 0);
      } else if (Names != nullptr) {
        std::string Variable = vcl::Format("blobparam%d", {I + 1});
        if (!InternalCreateBlobVariable(Variable, Data, Def->Size)) {
          // No variable: the entry carries NULL rather than a value it
          // cannot hold, and the binding fails, so that nothing runs with
          // the value silently missing. The create's error is the one kept.
          SetIndicator(V, -1);
          Descriptor = Da;
          return false;
        }
        Names->Add(Variable);
        const char* Kept = KeepVariableName(Da, std::move(Variable));
        V.sqltype = DT_VARIABLE;
        V.sqllen = static_cast<uint16_t>(std::strlen(Kept) + 1);
        V.sqldata = const_cast<char*>(Kept);
        SetIndicator(V, 0);
      } else {
        SetIndicator(V, -1);
      }
    }
  } catch (...) {
    FreeSqlda(Da, true);
    throw;
  }
  Descriptor = Da;
  return true;
}

bool TAsaSQL::InternalBindOutVariables(int32_t StatementNo, TVantorVariableDefs* Defs, vcl::TStrings* Names,
                                       void*& Descriptor) {
  (void)Names;
  InternalNeedLibrary();
  if (Descriptor != nullptr) {
    SQLDA* Old = static_cast<SQLDA*>(Descriptor);
    Descriptor = nullptr;
    FreeSqlda(Old, true);
  }
  int16_t Number = static_cast<int16_t>(StatementNo);
  SQLDA* Da = FProcs.alloc_sqlda(0);
  if (Da == nullptr) throw std::bad_alloc();
  try {
    Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &Number, Da, 1u);
    if (!Check(FWantExceptions)) {
      FreeSqlda(Da, true);
      return false;
    }
    const int32_t Count = Da->sqld;
    FreeSqlda(Da, true);
    Defs->Clear();
    if (Count > 0) {
      Da = FProcs.alloc_sqlda(static_cast<uint32_t>(Count));
      if (Da == nullptr) throw std::bad_alloc();
      Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &Number, Da, 1u);
      const int32_t N = std::min<int32_t>(Count, Da->sqln);
      for (int32_t I = 0; I < N; ++I) InternalInitFieldDef(Defs, I, kOutBlobBuffer, Da);
      Defs->SetBufSize(Defs->Size());
      for (int32_t I = 0; I < N; ++I) Da->sqlvar[I].sqldata = Defs->Buffer() + Defs->Items(I)->Offset;
    }
  } catch (...) {
    FreeSqlda(Da, true);
    Defs->Clear();
    throw;
  }
  Descriptor = Da;
  return true;
}

// ---------------------------------------------------------------------------
// Execution

bool TAsaSQL::InternalExecute(vcl::TStrings* Names) {
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_execute_into, FProcs.dbpp_execute_into_pb, nullptr, kProgram, &FExecStmt, FExecInSqlda,
       FExecOutSqlda);
  // SQLCOUNT first: handlers of the check's events may run statements.
  const int32_t Count = SqlCount();
  CheckPushError();
  FRowsProcessed = Count;
  if (Names != nullptr && Names->Count() > 0) InternalDropBlobVariables(Names);
  InternalAutoCommit();
  if (!CheckPopError(FWantExceptions)) return false;
  return Check(FWantExceptions);
}

void TAsaSQL::InternalAutoCommit() {
  TAsaSession* S = AsaSession();
  if (S == nullptr || FLibraryProcsInvalid || S->InTransaction() || !S->AutoCommit()) return;
  SQLCA* Ca = S->Sqlca();
  Dbpp(FProcs.dbpp_commit, FProcs.dbpp_commit_pb, 0u);
  if (Ca->sqlcode >= 0) return;
  // Undo what the failed commit left behind and keep its outcome for the
  // caller's check.
  SQLCA Kept;
  std::memcpy(&Kept, Ca, sizeof Kept);
  Dbpp(FProcs.dbpp_rollback, FProcs.dbpp_rollback_pb, 0u);
  Ca->sqlcode = Kept.sqlcode;
  Ca->sqlerrml = Kept.sqlerrml;
  std::memcpy(Ca->sqlerrmc, Kept.sqlerrmc, sizeof Ca->sqlerrmc);
  std::memcpy(Ca->sqlstate, Kept.sqlstate, sizeof Ca->sqlstate);
}

}  // namespace vdb
