// TAsaSQL: row locks and positioned update, insert and delete of the
// current row; long values travel through server variables named like
// their fields.
#include <algorithm>
#include <cstring>

#include "asa/VdbAsa.h"

namespace vdb {

namespace {

bool IsLong(const TVantorFieldDef* Def) { return Def->FieldType == vtMemo || Def->FieldType == vtBlob; }

// Frees an SQLDA on every path out of a positioned change.
class TSqldaGuard {
 public:
  TSqldaGuard(TAsaSQL& Q, SQLDA* Da, bool WithIndicators) : FQ(Q), FDa(Da), FWithIndicators(WithIndicators) {
    if (FDa == nullptr) throw std::bad_alloc();
  }
  ~TSqldaGuard() { FQ.FreeSqlda(FDa, FWithIndicators); }
  TSqldaGuard(const TSqldaGuard&) = delete;
  TSqldaGuard& operator=(const TSqldaGuard&) = delete;
  SQLDA* operator->() const { return FDa; }
  SQLDA* get() const { return FDa; }

 private:
  TAsaSQL& FQ;
  SQLDA* FDa;
  bool FWithIndicators;
};

}  // namespace

// ---------------------------------------------------------------------------
// Long values of positioned changes

bool TAsaSQL::PutLongEntry(sqlvar& Entry, const TVantorFieldDef* Def, vcl::TStrings* Variables,
                           std::vector<std::string>& Names) {
  TVantorBlobStream* Blob = FBlobManager->BlobByName(Def->Name);
  const uint8_t* Data = nullptr;
  int32_t Length = 0;
  if (Blob->Modified() || IsBlobTruncated(Blob)) {
    // Written by the caller, or the current row's value on the server.
    if (!Blob->Modified() && Blob->Buffer() == nullptr) Blob->GetBlobSize();
    Data = Blob->Buffer();
    Length = Data != nullptr ? Blob->DataSize() : 0;
  } else {
    // The whole value arrived with the row.
    const uint8_t* P = FRowBuffer.get() + Def->Offset;
    if (Def->FieldType == vtMemo) {
      Length = static_cast<int32_t>(strnlen(reinterpret_cast<const char*>(P), static_cast<size_t>(Def->Size)));
      Data = P;
    } else if (Def->Size >= 4) {
      uint32_t Held = 0;
      std::memcpy(&Held, P, sizeof Held);
      Length = static_cast<int32_t>(std::min<uint32_t>(Held, static_cast<uint32_t>(Def->Size - 4)));
      Data = P + 4;
    }
  }
  // An empty value still needs its data pointer for the appends.
  static constexpr uint8_t kNothing = 0;
  if (!InternalCreateBlobVariable(Def->Name, Data != nullptr ? Data : &kNothing, Length)) return false;
  Variables->Add(Def->Name);
  Names.push_back(Def->Name);
  const std::string& Name = Names.back();
  Entry.sqltype = DT_VARIABLE;
  Entry.sqllen = static_cast<uint16_t>(Name.size() + 1);
  Entry.sqldata = const_cast<char*>(Name.c_str());
  return true;
}

void TAsaSQL::DropVariablesAfterError(vcl::TStrings* Variables) {
  if (Variables->Count() == 0) return;
  SQLCA* Ca = AsaSession()->Sqlca();
  const SQLCA Failed = *Ca;
  CheckPushError();
  try {
    InternalDropBlobVariables(Variables);
  } catch (...) {
    // The error that ended the operation is the one to report.
  }
  CheckPopError(false);
  *Ca = Failed;
}

// ---------------------------------------------------------------------------
// Lock, update, insert, delete

bool TAsaSQL::Lock() {
  if (FReadOnly) RaiseAsa(VDB_ERR_CURS_READ_ONLY, 0);
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_fetch, FProcs.dbpp_fetch_pb, FCursorName, FETCH_RELATIVE, 0, nullptr, nullptr,
       static_cast<uint32_t>(FETCH_LOCK));
  Check(FWantExceptions);
  return LastErrorCode() >= 0;
}

bool TAsaSQL::Modify() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  if (FReadOnly) RaiseAsa(VDB_ERR_CURS_READ_ONLY, 0);
  InternalNeedLibrary();
  const int32_t Fields = FFieldDefs->Count();
  TSqldaGuard Da(*this, FProcs.alloc_sqlda(static_cast<uint32_t>(Fields)), true);
  Da->sqld = Da->sqln;
  vcl::TStringList Variables;
  std::vector<std::string> Names;
  Names.reserve(static_cast<size_t>(Fields));  // entries point into it

  bool Changed = false;
  try {
    for (int32_t I = 0; I < Fields && I < Da->sqln; ++I) {
      const TVantorFieldDef* Def = FFieldDefs->Items(I);
      if (Def == nullptr || !IsFieldDirty(I)) continue;
      Changed = true;
      sqlvar& V = Da->sqlvar[I];
      const sqlvar& Fetched = FFetchSqlda->sqlvar[I];
      V.sqlname = Fetched.sqlname;
      if (GetNullIndicator(FIndicatorBuffer.get(), Def->FieldNo)) {
        *V.sqlind = -1;
        continue;
      }
      *V.sqlind = 0;
      if (IsLong(Def)) {
        // Without its variable the column would be overwritten: nothing is sent.
        if (!PutLongEntry(V, Def, &Variables, Names)) {
          DropVariablesAfterError(&Variables);
          return false;
        }
      } else {
        V.sqltype = Fetched.sqltype;
        V.sqllen = Fetched.sqllen;
        V.sqldata = FRowBuffer.get() + Def->Offset;
      }
    }
  } catch (...) {
    DropVariablesAfterError(&Variables);
    throw;
  }
  if (!Changed) return true;

  Dbpp(FProcs.dbpp_update, FProcs.dbpp_update_pb, FCursorName, Da.get());
  CheckPushError();
  InternalDropBlobVariables(&Variables);
  InternalAutoCommit();
  if (!CheckPopError(FWantExceptions) || !Check(FWantExceptions)) return false;

  // The long values now live on the server only: read them from there.
  if (FBlobSize > 0) {
    for (int32_t I = 0; I < Fields; ++I) {
      const TVantorFieldDef* Def = FFieldDefs->Items(I);
      if (IsLong(Def) && !GetNullIndicator(FIndicatorBuffer.get(), Def->FieldNo) &&
          FBlobManager->BlobByName(Def->Name)->Modified()) {
        const int16_t Truncated = 1;
        std::memcpy(FIndicatorBuffer.get() + 2 * static_cast<size_t>(Def->FieldNo), &Truncated, sizeof Truncated);
      }
    }
  }
  std::memcpy(OldRowBuffer(), FRowBuffer.get(), static_cast<size_t>(FRecordSize));
  std::memcpy(OldIndicatorBuffer(), FIndicatorBuffer.get(), static_cast<size_t>(FIndicatorSize));
  FBlobManager->ClearBlobs();
  return true;
}

bool TAsaSQL::Append() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  if (FReadOnly) RaiseAsa(VDB_ERR_CURS_READ_ONLY, 0);
  InternalNeedLibrary();
  const int32_t Fields = FFieldDefs->Count();
  TSqldaGuard Da(*this, FProcs.alloc_sqlda_noind(static_cast<uint32_t>(Fields)), false);
  Da->sqld = Da->sqln;
  vcl::TStringList Variables;
  std::vector<std::string> Names;
  Names.reserve(static_cast<size_t>(Fields));

  try {
    for (int32_t I = 0; I < Fields && I < Da->sqln; ++I) {
      const TVantorFieldDef* Def = FFieldDefs->Items(I);
      if (Def == nullptr) continue;
      sqlvar& V = Da->sqlvar[I];
      const sqlvar& Fetched = FFetchSqlda->sqlvar[I];
      V.sqlname = Fetched.sqlname;
      if (!IsLong(Def)) {
        V.sqltype = Fetched.sqltype;
        V.sqllen = Fetched.sqllen;
      }
      // A NULL column gets neither data nor indicator: the table's default.
      if (GetNullIndicator(FIndicatorBuffer.get(), Def->FieldNo)) continue;
      if (IsLong(Def)) {
        if (!PutLongEntry(V, Def, &Variables, Names)) {
          DropVariablesAfterError(&Variables);
          return false;
        }
      } else {
        V.sqldata = FRowBuffer.get() + Def->Offset;
      }
    }
  } catch (...) {
    DropVariablesAfterError(&Variables);
    throw;
  }

  // The inserted row, as stored, comes back into the block.
  Dbpp(FProcs.dbpp_put_into, FProcs.dbpp_put_into_pb, FCursorName, Da.get(), FFetchSqlda);
  const int32_t Code = SqlCode();
  const int32_t Count = SqlCount();
  if (Code == SQLE_TRUNCATED) {
    // Long values come back cut to their prefixes by design: the row is in.
    SQLCA* Ca = AsaSession()->Sqlca();
    Ca->sqlcode = 0;
    std::memset(Ca->sqlwarn, 0, sizeof Ca->sqlwarn);
    std::memcpy(Ca->sqlstate, "00000", 5);
  }
  CheckPushError();
  InternalDropBlobVariables(&Variables);
  // A failed insert brought nothing back: the caller's row stays for a retry.
  if (Code >= 0) {
    FBlockRows = FFetchCount;
    FBufferCount = Code == SQLE_NOTFOUND ? 0 : std::clamp(Count, 0, FFetchCount);
    if (FTrimBlanks) TrimFetchBuffer();
    ConvertFetchedBuffers();
  }
  InternalAutoCommit();
  if (!CheckPopError(FWantExceptions)) return false;
  return Check(FWantExceptions);
}

bool TAsaSQL::Delete() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  if (FReadOnly) RaiseAsa(VDB_ERR_CURS_READ_ONLY, 0);
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_delete, FProcs.dbpp_delete_pb, FCursorName, nullptr, nullptr);
  CheckPushError();
  InternalAutoCommit();
  if (!CheckPopError(FWantExceptions)) return false;
  return Check(FWantExceptions);
}

}  // namespace vdb
