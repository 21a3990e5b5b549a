// TVantorSQL: session link, the two statement halves and their state,
// host variables built from parameter values, and the row buffers.
#include <algorithm>
#include <cstring>

#include "core/VdbBase.h"
#include "core/VdbUtil.h"
#include "rtl/ClassRegistry.h"
#include "rtl/SysUtils.h"

namespace vdb {

namespace {

void Fire(const vcl::TNotifyEvent& Event, vcl::TObject* Sender) {
  if (Event) Event(Sender);
}

std::unique_ptr<uint8_t[]> ZeroBlock(int64_t Size) {
  return std::make_unique<uint8_t[]>(static_cast<size_t>(std::max<int64_t>(Size, 0)));
}

// Number of elements of a one-dimensional Variant array.
int32_t ElementCount(const vcl::Variant& V) {
  return vcl::VarArrayHighBound(V, 1) - vcl::VarArrayLowBound(V, 1) + 1;
}

// Element I counted from 0, whatever the array's low bound.
vcl::Variant ElementAt(const vcl::Variant& V, int32_t I) { return V.GetElement(vcl::VarArrayLowBound(V, 1) + I); }

}  // namespace

// Statements keep their session link and WantExceptions in form files; the
// class is abstract, concrete statements register below it.
void VdbRegisterStatementClass() {
  using S = TVantorSQL;
  vcl::RegisterClass("TVantorSQL", {},
                     {
                         vcl::ComponentProperty("Session", &S::GetSessionObject, &S::SetSession),
                         vcl::BooleanProperty("WantExceptions", &S::WantExceptions, &S::SetWantExceptions, false),
                     });
}

// ---------------------------------------------------------------------------
// Construction

TVantorSQL::TVantorSQL(vcl::TComponent* AOwner)
    : vcl::TComponent(AOwner),
      FFieldDefs(std::make_unique<TVantorFieldDefs>()),
      FOpenVars(std::make_unique<TVantorVariableDefs>()),
      FExecVars(std::make_unique<TVantorVariableDefs>()),
      FOutVars(std::make_unique<TVantorVariableDefs>()),
      FBlobManager(std::make_unique<TVantorBlobManager>(this)) {}

TVantorSQL::~TVantorSQL() {
  // Without the concrete overrides only the frame's own state is dropped;
  // a failure here must not escape a destructor.
  try {
    Shutdown();
  } catch (...) {
  }
  FBlobManager.reset();
}

void TVantorSQL::Shutdown() {
  if (FShutDown) return;
  FShutDown = true;
  Destroying();
  UnprepareOpen();
  UnprepareExecute();
  SetSession(nullptr);
}

// ---------------------------------------------------------------------------
// Session link

TVantorSession* TVantorSQL::Session() const {
  if (FSession == nullptr && !ComponentState().Contains(vcl::csDesigning))
    throw EVantorException(VDB_ERR_SESS_NIL, 0, 0);
  return FSession;
}

TVantorSession* TVantorSQL::NeedSession() const {
  if (FSession == nullptr) throw EVantorException(VDB_ERR_SESS_NIL, 0, 0);
  return FSession;
}

void TVantorSQL::SetSession(TVantorSession* Value) {
  if (FSession != nullptr) FSession->RemoveQuery(this);
  if (Value != nullptr) Value->AddQuery(this);
}

void TVantorSQL::InternalNeedLibrary() {
  if (!FLibraryProcsInvalid) return;
  NeedSession()->InternalNeedLibrary();
  InternalLoadLibraryProcs();
  FLibraryProcsInvalid = false;
}

bool TVantorSQL::Check(bool RaiseError) { return NeedSession()->Check(RaiseError); }

void TVantorSQL::CheckPushError() { NeedSession()->CheckPushError(); }

bool TVantorSQL::CheckPopError(bool RaiseError) { return NeedSession()->CheckPopError(RaiseError); }

std::string TVantorSQL::LastError() const {
  TVantorSession* S = Session();
  return S != nullptr ? S->LastError() : std::string();
}

int32_t TVantorSQL::LastErrorCode() const {
  TVantorSession* S = Session();
  return S != nullptr ? S->LastErrorCode() : 0;
}

void TVantorSQL::StatementToOem(std::string& SQL) const {
  TVantorSession* S = Session();
  if (S == nullptr || !S->OEMConvert()) return;
  SQL.resize(std::strlen(SQL.c_str()));
  S->TranslateChar(SQL.data(), SQL.data(), static_cast<int32_t>(SQL.size()), true);
}

// ---------------------------------------------------------------------------
// Cursor statement

bool TVantorSQL::SafePrepareOpen(const std::string& SQL) {
  bool Result = false;
  try {
    Result = InternalPrepareOpen(SQL);
  } catch (...) {
    Result = false;
    // Leave nothing of a prepare that did not finish: no columns, no
    // buffers, no streams.
    try {
      UnprepareOpen();
    } catch (...) {
    }
    if (!FCursorPrepared) InternalFrameUnprepareOpen();
    throw;
  }
  if (!Result) {
    UnprepareOpen();
    if (!FCursorPrepared) InternalFrameUnprepareOpen();
  }
  return Result;
}

bool TVantorSQL::PrepareOpen(std::string SQL) {
  StatementToOem(SQL);
  UnprepareOpen();
  return SafePrepareOpen(SQL);
}

bool TVantorSQL::Prepare(std::string SQL) {
  StatementToOem(SQL);
  Unprepare();
  bool Result = false;
  try {
    Result = InternalPrepare(SQL);
  } catch (...) {
    try {
      Unprepare();
    } catch (...) {
    }
    InternalFrameUnprepareOpen();
    FExecSQL.clear();
    FExecPrepared = false;
    throw;
  }
  if (!Result) {
    Unprepare();
    InternalFrameUnprepareOpen();
    FExecSQL.clear();
    FExecPrepared = false;
  }
  return Result;
}

bool TVantorSQL::Describe(std::string SQL) {
  StatementToOem(SQL);
  if (SQL != FOpenSQL) {
    UnprepareOpen();
  } else {
    InternalClose();
  }
  if (FCursorPrepared) return true;
  return SafePrepareOpen(SQL) && FFieldDefs->Count() > 0;
}

bool TVantorSQL::OpenWithValues(const TVantorValues& Values, const std::string& SQL, bool AReadOnly,
                                TOpenKind Kind) {
  InternalSetVariables(InternalCheckVarValues(Values), FOpenVars.get());
  const bool Opened = (FCursorPrepared || SafePrepareOpen(SQL)) &&
                      (FOpenVars->Bound() || InternalBindOpenVariables(nullptr)) && InternalOpen(AReadOnly);
  if (Kind == okAny) {
    if (Opened) Fire(FAfterOpen, this);
    return Opened;
  }
  if (!Opened) return false;
  const bool Fetched = InternalIsUniDirectional() ? InternalFetchNext() : InternalFetchFirst();
  if (Fetched) Fire(FAfterOpen, this);
  return Fetched;
}

bool TVantorSQL::Open(std::string SQL, const TVantorValues& Values, bool AReadOnly) {
  StatementToOem(SQL);
  if (SQL != FOpenSQL) {
    UnprepareOpen();
  } else {
    InternalClose();
  }
  return OpenWithValues(Values, SQL, AReadOnly, okAny);
}

bool TVantorSQL::OpenRead(std::string SQL, const TVantorValues& Values) {
  StatementToOem(SQL);
  if (SQL != FOpenSQL) {
    UnprepareOpen();
  } else {
    InternalClose();
  }
  return OpenWithValues(Values, SQL, true, okRead);
}

bool TVantorSQL::OpenWrite(std::string SQL, const TVantorValues& Values) {
  StatementToOem(SQL);
  // A cursor prepared for reading may not allow positioned changes.
  if (SQL != FOpenSQL || FReadOnly) {
    UnprepareOpen();
  } else {
    InternalClose();
  }
  return OpenWithValues(Values, SQL, false, okWrite);
}

bool TVantorSQL::OpenPrepared(const TVantorValues& Values, bool AReadOnly) {
  if (!FCursorPrepared) RaiseLastError(VDB_ERR_CURS_NOT_PREPARED, 0);
  InternalClose();
  return OpenWithValues(Values, FOpenSQL, AReadOnly, okAny);
}

bool TVantorSQL::OpenReadPrepared(const TVantorValues& Values) {
  if (!FCursorPrepared) RaiseLastError(VDB_ERR_CURS_NOT_PREPARED, 0);
  InternalClose();
  return OpenWithValues(Values, FOpenSQL, true, okRead);
}

bool TVantorSQL::OpenWritePrepared(const TVantorValues& Values) {
  if (!FCursorPrepared) RaiseLastError(VDB_ERR_CURS_NOT_PREPARED, 0);
  InternalClose();
  return OpenWithValues(Values, FOpenSQL, false, okWrite);
}

void TVantorSQL::Close() { InternalClose(); }

void TVantorSQL::UnprepareOpen() {
  InternalClose();
  if (FCursorPrepared) InternalUnprepareOpen();
  FOpenVars->Clear();
}

void TVantorSQL::Unprepare() {
  UnprepareOpen();
  UnprepareExecute();
}

bool TVantorSQL::MoveToFirst() {
  if (!FActive) RaiseLastError(VDB_ERR_CURS_NOT_OPENED, 0);
  ClearFetchBlock();
  return InternalMoveToFirst();
}

bool TVantorSQL::MoveToLast() {
  if (!FActive) RaiseLastError(VDB_ERR_CURS_NOT_OPENED, 0);
  ClearFetchBlock();
  return InternalMoveToLast();
}

bool TVantorSQL::MoveTo(int32_t Row) {
  if (!FActive) RaiseLastError(VDB_ERR_CURS_NOT_OPENED, 0);
  ClearFetchBlock();
  return InternalMoveTo(Row);
}

void TVantorSQL::ClearFetchBlock() {
  // Never past the rows actually allocated, whatever FetchCount says.
  const int64_t Rows = std::clamp(FFetchCount, 0, FAllocCount);
  if (FFetchBuffer) std::memset(FFetchBuffer.get(), 0, static_cast<size_t>(Rows * std::max(FRecordSize, 0)));
  if (FFetchIndicatorBuffer)
    std::memset(FFetchIndicatorBuffer.get(), 0xFF, static_cast<size_t>(Rows * std::max(FIndicatorSize, 0)));
}

// ---------------------------------------------------------------------------
// Executed statement

bool TVantorSQL::SafePrepareExecute(const std::string& SQL) {
  bool Result = false;
  try {
    Result = InternalPrepareExecute(SQL);
  } catch (...) {
    try {
      UnprepareExecute();
    } catch (...) {
    }
    FExecSQL.clear();
    FExecPrepared = false;
    throw;
  }
  if (!Result) {
    UnprepareExecute();
    FExecSQL.clear();
    FExecPrepared = false;
  }
  return Result;
}

bool TVantorSQL::PrepareExecute(std::string SQL) {
  StatementToOem(SQL);
  UnprepareExecute();
  return SafePrepareExecute(SQL);
}

bool TVantorSQL::ExecuteWithValues(const TVantorValues& Values, const std::string& SQL) {
  InternalSetVariables(InternalCheckVarValues(Values), FExecVars.get());
  FOutVars->ClearBuffer();
  // The concrete statement records here what it must undo after executing.
  vcl::TStringList Names;
  return (FExecPrepared || SafePrepareExecute(SQL)) && (FExecVars->Bound() || InternalBindExecVariables(&Names)) &&
         InternalExecute(&Names);
}

bool TVantorSQL::Execute(std::string SQL, const TVantorValues& Values) {
  StatementToOem(SQL);
  if (SQL != FExecSQL) UnprepareExecute();
  return ExecuteWithValues(Values, SQL);
}

bool TVantorSQL::ExecutePrepared(const TVantorValues& Values) {
  if (!FExecPrepared) RaiseLastError(VDB_ERR_STMT_NOT_PREPARED, 0);
  return ExecuteWithValues(Values, FExecSQL);
}

void TVantorSQL::UnprepareExecute() {
  if (FExecPrepared) InternalUnprepareExecute();
  FExecVars->Clear();
  FOutVars->Clear();
}

vcl::Variant TVantorSQL::GetOutVar(const vcl::Variant& Index) {
  for (TVantorVariableDefs* Vars : {FOutVars.get(), FExecVars.get()}) {
    TVantorFieldDef* Def = nullptr;
    if (CheckVarType(Index, vcl::varInteger)) {
      int64_t Position = -1;
      try {
        Position = Index.AsInt64();
      } catch (const vcl::Exception&) {
      }
      if (Position >= 0 && Position < Vars->Count()) Def = Vars->Items(static_cast<int32_t>(Position));
    } else {
      Def = Vars->FieldByName(vcl::VarToStr(Index));
    }
    if (Def == nullptr) continue;
    // A variable the concrete statement left without buffer space reads as Null.
    if (Vars->Buffer() == nullptr || Def->Offset < 0 || Def->Size < 0 ||
        int64_t{Def->Offset} + Def->Size > Vars->BufSize())
      return vcl::Null();
    return GetFieldData(Vars->Buffer(), Def->Offset, Def->Size, Def->FieldType, nullptr);
  }
  RaiseLastError(vcl::Format(VDB_ERR_PARAM_NOT_FOUND, {vcl::VarToStr(Index)}), 0);
}

// ---------------------------------------------------------------------------
// Host variables

vcl::Variant TVantorSQL::InternalCheckVarValues(const TVantorValues& Values) {
  if (Values.empty()) return vcl::Null();
  if (vcl::VarType(Values[0]) == (vcl::varArray | vcl::varVariant)) return Values[0];
  if (Values.size() == 1 && (vcl::VarIsNull(Values[0]) || vcl::VarIsEmpty(Values[0]))) return vcl::Null();
  vcl::Variant Result = vcl::VarArrayCreate(0, static_cast<int32_t>(Values.size()) - 1, vcl::varVariant);
  for (size_t I = 0; I < Values.size(); ++I) Result.PutElement(Values[I], static_cast<int32_t>(I));
  return Result;
}

void TVantorSQL::InternalGetVariableTypeAndLength(const vcl::Variant& Value, TVantorFieldTypes& FieldType,
                                                  int32_t& Length) {
  const vcl::TVarType Type = vcl::VarType(Value);
  switch (Type) {
    case vcl::varOleStr:
    case vcl::varString:
      FieldType = vtString;
      break;
    case vcl::varSmallint:
    case vcl::varInteger:
    case vcl::varShortInt:
    case vcl::varByte:
    case vcl::varWord:
      FieldType = vtInteger;
      break;
    case vcl::varInt64:
      FieldType = vtInt64;
      break;
    case vcl::varSingle:
    case vcl::varDouble:
    case vcl::varLongWord:
      FieldType = vtFloat;
      break;
    case vcl::varCurrency:
      FieldType = vtCurrency;
      break;
    case vcl::varDate:
      FieldType = vtDateTime;
      break;
    case vcl::varBoolean:
      FieldType = vtBoolean;
      break;
    case vcl::varArray | vcl::varByte:
      FieldType = vtBinary;
      break;
    default:
      FieldType = vtUnknown;
      break;
  }
  Length = InternalGetVariableLength(FieldType);
  if (FieldType == vtString) {
    const int64_t Chars = static_cast<int64_t>(Value.AsString().size());
    if (Chars + 1 > Length) {
      Length = static_cast<int32_t>(std::min<int64_t>(Chars, INT32_MAX));
      FieldType = vtMemo;
    }
  } else if (FieldType == vtBinary) {
    const int64_t Elements = ElementCount(Value);
    if (Elements > Length) {
      Length = static_cast<int32_t>(std::min<int64_t>(Elements, INT32_MAX));
      FieldType = vtBlob;
    }
  }
}

bool TVantorSQL::InternalNeedNewVariables(const vcl::Variant& V, TVantorVariableDefs* Vars) {
  if (!vcl::VarIsArray(V) || ElementCount(V) != Vars->Count()) return true;
  for (int32_t I = 0; I < Vars->Count(); ++I) {
    TVantorFieldTypes FieldType = vtUnknown;
    int32_t Length = 0;
    InternalGetVariableTypeAndLength(ElementAt(V, I), FieldType, Length);
    const TVantorFieldDef* Def = Vars->Items(I);
    // Long values travel separately on every execution and are never kept.
    if (FieldType != Def->FieldType || Length != Def->Size || FieldType == vtMemo || FieldType == vtBlob)
      return true;
  }
  return false;
}

void TVantorSQL::InternalSetVariables(const vcl::Variant& V, TVantorVariableDefs* Vars) {
  const bool IsArray = vcl::VarIsArray(V);
  if (InternalNeedNewVariables(V, Vars)) {
    Vars->Clear();
    if (IsArray) {
      try {
        for (int32_t I = 0; I < ElementCount(V); ++I) {
          TVantorFieldTypes FieldType = vtUnknown;
          int32_t Length = 0;
          InternalGetVariableTypeAndLength(ElementAt(V, I), FieldType, Length);
          InternalAddFieldDef(Vars, "?", FieldType, InternalGetVariableExtType(FieldType), Length, 0, 0, 0, false,
                              kiRegularField);
        }
        Vars->SetBufSize(Vars->Size());
      } catch (...) {
        // No list that does not match its buffer.
        Vars->Clear();
        throw;
      }
    }
  }
  if (!IsArray) return;
  const int32_t Elements = ElementCount(V);
  for (int32_t I = 0; I < Vars->Count() && I < Elements; ++I) {
    const TVantorFieldDef* Def = Vars->Items(I);
    PutFieldData(Vars->Buffer(), Def->Offset, Def->Size, Def->FieldType, ElementAt(V, I), nullptr);
  }
}

// ---------------------------------------------------------------------------
// Settings

void TVantorSQL::SetMaxFetchCount(int32_t Value) {
  if (Value >= 1 && Value <= 1000) FMaxFetchCount = Value;
}

void TVantorSQL::SetBlobSize(int32_t Value) {
  if (Value >= 0 && Value <= 32763) FBlobSize = Value;
}

// ---------------------------------------------------------------------------
// Buffers and descriptors

void TVantorSQL::InternalAllocOpenBuffer() {
  FAllocCount = std::max(FFetchCount, 0);
  const int64_t RecordSize = std::max(FRecordSize, 0);
  const int64_t IndicatorSize = std::max(FIndicatorSize, 0);
  FFetchBuffer = ZeroBlock(FAllocCount * RecordSize);
  FRowBuffer = ZeroBlock(RecordSize);
  FOldRowBuffer = ZeroBlock(RecordSize);
  FFetchIndicatorBuffer = ZeroBlock(FAllocCount * IndicatorSize);
  FIndicatorBuffer = ZeroBlock(IndicatorSize);
  FOldIndicatorBuffer = ZeroBlock(IndicatorSize);
}

void TVantorSQL::InternalFreeOpenBuffer() {
  FBlobManager->Clear();
  FFetchBuffer.reset();
  FRowBuffer.reset();
  FOldRowBuffer.reset();
  FFetchIndicatorBuffer.reset();
  FIndicatorBuffer.reset();
  FOldIndicatorBuffer.reset();
  FAllocCount = 0;
  FRecordSize = 0;
  FIndicatorSize = 0;
}

TVantorFieldDef* TVantorSQL::InternalAddFieldDef(TVantorFieldDefs* Defs, const std::string& Name,
                                                 TVantorFieldTypes FieldType, int32_t ExtType, int32_t Size,
                                                 int32_t Length, int32_t Precision, int32_t Decimals, bool Nulls,
                                                 TVantorKeyIndicator KeyIndicator) {
  std::string Candidate = Name;
  for (int32_t Counter = 1; FFieldDefs->IndexOf(Candidate) >= 0; ++Counter)
    Candidate = Name + "_" + std::to_string(Counter);
  TVantorFieldDef* Def = Defs->AddFieldDef(Candidate);
  Def->FieldType = FieldType;
  Def->ExtType = ExtType;
  Def->Size = Size;
  Def->Length = Length;
  Def->Precision = Precision;
  Def->Decimals = Decimals;
  Def->Nulls = Nulls;
  Def->KeyIndicator = KeyIndicator;
  return Def;
}

// ---------------------------------------------------------------------------
// Frame versions of the virtual operations

bool TVantorSQL::InternalPrepareOpen(const std::string& SQL) {
  FOpenSQL = SQL;
  FCursorPrepared = true;
  return true;
}

bool TVantorSQL::InternalOpen(bool AReadOnly) {
  FRecNo = -1;
  FBOF = false;
  FEOF = false;
  FReadOnly = AReadOnly;
  FActive = true;
  return true;
}

void TVantorSQL::InternalClose() {
  FBufferIndex = 0;
  FBufferCount = 0;
  FRecNo = -1;
  FBOF = true;
  FEOF = true;
  FRecordCount = 0;
  FActive = false;
}

void TVantorSQL::InternalUnprepareOpen() { InternalFrameUnprepareOpen(); }

void TVantorSQL::InternalFrameUnprepareOpen() {
  InternalFreeOpenBuffer();
  FFieldDefs->Clear();
  FOpenSQL.clear();
  FCursorPrepared = false;
}

bool TVantorSQL::InternalPrepareExecute(const std::string& SQL) {
  FExecSQL = SQL;
  FExecPrepared = true;
  return true;
}

void TVantorSQL::InternalUnprepareExecute() {
  FExecSQL.clear();
  FExecPrepared = false;
}

bool TVantorSQL::GetStillInProc() { return false; }

std::string TVantorSQL::GetTableName() {
  std::string Result = VdbGetTableNameFromSQL(FOpenSQL);
  if (TVantorSession* S = Session())
    S->TranslateChar(Result.data(), Result.data(), static_cast<int32_t>(Result.size()), false);
  return Result;
}

bool TVantorSQL::Resume() { return false; }

}  // namespace vdb
