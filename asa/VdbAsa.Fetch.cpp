// TAsaSQL: opening the cursor with its scroll flags and isolation level,
// block fetches of the first and the next rows, the current row copied out
// of the block, trimming of fixed strings, and closing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asa/VdbAsa.h"

namespace vdb {

namespace {

constexpr char kProgram[] = "VDB";

void Fire(const vcl::TNotifyEvent& Event, vcl::TObject* Sender) {
  if (Event) Event(Sender);
}

}  // namespace

// ---------------------------------------------------------------------------
// Open and close

bool TAsaSQL::InternalOpen(bool AReadOnly) {
  InternalNeedLibrary();
  uint32_t Flags = AReadOnly ? CUR_READONLY : CUR_UPDATE;
  switch (FCursorType) {
    case actFixedScroll: Flags |= CUR_FIXEDSCROLL; break;
    case actInsensitive: Flags |= CUR_INSENSITIVE; break;
    case actNoScroll: Flags |= CUR_NOSCROLL; break;
    case actUnique: Flags |= CUR_UNIQUE; break;
    case actDefault:
    case actDynamicScroll: break;
  }
  int32_t Isolation = 0;
  if (FTransIsolation != atUnchanged) {
    Flags |= CUR_ISOLATION;
    Isolation = static_cast<int32_t>(FTransIsolation) - 1;
  }

  Fire(FBeforeOpen, this);
  std::snprintf(FCursorName, sizeof FCursorName, "%s-%d", szVantorLibraryShortName, FCursorStmt);
  Dbpp(FProcs.dbpp_declare, FProcs.dbpp_declare_pb, FCursorName, nullptr, kProgram, &FCursorStmt, Flags);
  Dbpp(FProcs.dbpp_open, FProcs.dbpp_open_pb, FCursorName, nullptr, kProgram, &FCursorStmt, FBindSqlda, nullptr,
       Isolation, Flags);
  FRecordCount = std::abs(SqlCount());
  if (FOpenBlobVariables->Count() > 0) {
    // The cursor has read its long parameters: their server variables go,
    // and the open's own outcome is what counts.
    CheckPushError();
    InternalDropBlobVariables(FOpenBlobVariables.get());
    FOpenBlobVariables->Clear();
    CheckPopError(FWantExceptions);
  } else {
    Check(FWantExceptions);
  }
  const int32_t Code = LastErrorCode();
  // A lost connection closes the session, and this statement with it.
  if (Code < 0 || !FCursorPrepared) return false;

  FTrimBlanks = AsaSession()->TrimBlanks();
  bool Result = false;
  try {
    if (FResumable || FCursorType == actUnique) {
      if (Code == SQLE_PROCEDURE_COMPLETE) RaiseAsa(VDB_ERR_CURS_NOT_QUERY, 0);
      Result = InternalDescribeOpen(AReadOnly);
    } else {
      FFetchCount = FFieldDefs->AnyBlob() || !AReadOnly ? 1 : FAllocCount;
      Result = true;
    }
  } catch (...) {
    // The server cursor is open: mark it so that Close closes it.
    FStillInProc = false;
    TVantorSQL::InternalOpen(AReadOnly);
    throw;
  }
  FStillInProc = Result && FResumable;
  TVantorSQL::InternalOpen(AReadOnly);
  FFirstFetch = true;
  return Result;
}

void TAsaSQL::InternalClose() {
  if (!FActive) {
    TVantorSQL::InternalClose();
    return;
  }
  if (!BeingDestroyed()) Fire(FBeforeClose, this);
  if (!FLibraryProcsInvalid) {
    Dbpp(FProcs.dbpp_close, FProcs.dbpp_close_pb, FCursorName);
    InternalAutoCommit();
  }
  FStillInProc = false;
  TVantorSQL::InternalClose();
  if (!BeingDestroyed()) Fire(FAfterClose, this);
}

// ---------------------------------------------------------------------------
// Block fetch

void TAsaSQL::ClearFetchBuffers() {
  const size_t Rows = static_cast<size_t>(std::clamp(FFetchCount, 0, FAllocCount));
  if (FFetchBuffer) std::memset(FFetchBuffer.get(), 0, Rows * static_cast<size_t>(std::max(FRecordSize, 0)));
  if (FFetchIndicatorBuffer)
    std::memset(FFetchIndicatorBuffer.get(), 0xFF, Rows * static_cast<size_t>(std::max(FIndicatorSize, 0)));
}

int32_t TAsaSQL::TakeFetchedBlock() {
  // SQLCOUNT first: handlers of the check's events may run statements.
  const int32_t Count = SqlCount();
  FBlockRows = FFetchCount;
  Check(FWantExceptions);
  const int32_t Code = LastErrorCode();
  FBufferCount = Code == SQLE_NOTFOUND || Code < 0 ? 0 : std::clamp(Count, 0, FFetchCount);
  if (FTrimBlanks && Code >= 0) TrimFetchBuffer();
  if (FFirstFetch) {
    FFetchCount = std::max(1, std::min(FFetchCount, FBufferCount));
    FFirstFetch = false;
  }
  return Code;
}

bool TAsaSQL::InternalFetchFirst() {
  ClearFetchBuffers();
  Dbpp(FProcs.dbpp_fetch_array, FProcs.dbpp_fetch_array_pb, FCursorName, FETCH_ABSOLUTE, 1, FFetchSqlda, nullptr,
       0u, static_cast<uint32_t>(FFetchCount));
  const int32_t Code = TakeFetchedBlock();
  if (!FActive) return false;
  FBOF = FEOF = Code == SQLE_NOTFOUND;
  FBufferIndex = 0;
  ConvertFetchedBuffers();
  FRecNo = FBufferCount > 0 ? 0 : -1;
  return FBufferCount > 0;
}

bool TAsaSQL::InternalFetchNext() {
  if (FBufferIndex < FBufferCount - 1) {
    ++FBufferIndex;
    ++FRecNo;
  } else {
    ClearFetchBuffers();
    Dbpp(FProcs.dbpp_fetch_array, FProcs.dbpp_fetch_array_pb, FCursorName, FETCH_RELATIVE, 1, FFetchSqlda, nullptr,
         0u, static_cast<uint32_t>(FFetchCount));
    const int32_t Code = TakeFetchedBlock();
    if (!FActive) return false;
    if (!FEOF) ++FRecNo;
    FEOF = Code == SQLE_NOTFOUND;
    if (FBufferCount > 0) FBOF = false;
    FBufferIndex = 0;
  }
  ConvertFetchedBuffers();
  return FBufferCount > 0;
}

bool TAsaSQL::Next() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  return InternalFetchNext();
}

void TAsaSQL::ConvertFetchedBuffers() {
  if (FAllocCount > 0) {
    const size_t Row = static_cast<size_t>(std::clamp(FBufferIndex, 0, FAllocCount - 1));
    const size_t RecordSize = static_cast<size_t>(std::max(FRecordSize, 0));
    const size_t IndicatorSize = static_cast<size_t>(std::max(FIndicatorSize, 0));
    if (RecordSize > 0) {
      std::memcpy(FRowBuffer.get(), FFetchBuffer.get() + Row * RecordSize, RecordSize);
      std::memcpy(FOldRowBuffer.get(), FRowBuffer.get(), RecordSize);
    }
    if (IndicatorSize > 0) {
      std::memcpy(FIndicatorBuffer.get(), FFetchIndicatorBuffer.get() + Row * IndicatorSize, IndicatorSize);
      std::memcpy(FOldIndicatorBuffer.get(), FIndicatorBuffer.get(), IndicatorSize);
    }
  }
  FBlobManager->ClearBlobs();
}

void TAsaSQL::TrimFetchBuffer() {
  const int32_t Rows = std::min(FBufferCount, FAllocCount);
  for (int32_t I = 0; I < FFieldDefs->Count(); ++I) {
    const TVantorFieldDef* Def = FFieldDefs->Items(I);
    if (Def->FieldType != vtString) continue;
    for (int32_t R = 0; R < Rows; ++R)
      VdbTrimTrailBlanks(reinterpret_cast<char*>(FFetchBuffer.get() + static_cast<size_t>(R) * FRecordSize +
                                                 Def->Offset));
  }
}

}  // namespace vdb
