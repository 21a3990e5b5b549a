// TAsaSQL: scrolling over the block fetch, positioning without data, the
// query plan, the table name, further result sets of procedures and
// immediate execution.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "asa/VdbAsa.h"

namespace vdb {

namespace {

constexpr uint16_t kPlanLength = 300;
constexpr uint16_t kTableNameLength = 128;
constexpr uint32_t kNameWidth = 5;  // the width argument of dbpp_describe_names

}  // namespace

// ---------------------------------------------------------------------------
// Block fetches of the scrolling operations

int32_t TAsaSQL::FetchScrollBlock(int32_t Kind, int32_t Offset) {
  FBlockRows = FFetchCount;
  Dbpp(FProcs.dbpp_fetch_array, FProcs.dbpp_fetch_array_pb, FCursorName, Kind, Offset, FFetchSqlda, nullptr, 0u,
       static_cast<uint32_t>(FFetchCount));
  // SQLCOUNT first: handlers of the check's events may run statements.
  const int32_t Count = SqlCount();
  // Whatever the check does, the block holds nothing it did not bring.
  FBufferCount = 0;
  Check(FWantExceptions);
  const int32_t Code = LastErrorCode();
  FBufferCount = Code == SQLE_NOTFOUND || Code < 0 ? 0 : std::clamp(Count, 0, FFetchCount);
  if (FTrimBlanks && Code >= 0) TrimFetchBuffer();
  return Code;
}

bool TAsaSQL::ServerPastBlock() const {
  // No block (after an open, a move, or running off an end): the cursor
  // stands at RecNo itself.
  if (FBufferCount <= 0) return true;
  if (FBufferCount >= FBlockRows) return false;
  // A short block leaves a version 6 engine one row further.
  return AsaSession()->EngineVersion() == 6;
}

// ---------------------------------------------------------------------------
// Scrolling

bool TAsaSQL::First() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  return InternalFetchFirst();
}

bool TAsaSQL::Last() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  ClearFetchBuffers();
  const int32_t Code = FetchScrollBlock(FETCH_ABSOLUTE, -FFetchCount);
  // A lost connection closes the session, and this statement with it.
  if (!FActive) return false;
  FBOF = FEOF = Code == SQLE_NOTFOUND;
  FBufferIndex = std::max(FBufferCount - 1, 0);
  ConvertFetchedBuffers();
  FRecNo = FBufferCount > 0 ? FRecordCount - 1 : FRecordCount;
  return FBufferCount > 0;
}

bool TAsaSQL::Curr() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  // Within a block the server stands elsewhere: bring it back to the row.
  if (FFetchCount > 1 && FBufferCount >= 1)
    MoveTo(FRecNo);
  else
    ClearFetchBuffers();
  if (!FActive) return false;
  const int32_t Code = FetchScrollBlock(FETCH_RELATIVE, 0);
  if (!FActive) return false;
  if (Code >= 0 && Code != SQLE_NOTFOUND) FFetchCount = std::max(1, std::min(FFetchCount, FBufferCount));
  FBufferIndex = 0;
  ConvertFetchedBuffers();
  return FBufferCount > 0;
}

bool TAsaSQL::Prev() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  if (FBufferIndex > 0) {
    --FBufferIndex;
    --FRecNo;
  } else {
    const int32_t Before = FBufferCount;
    const bool PastBlock = ServerPastBlock();
    // The wanted row is the one before the old block's first row.
    const int32_t BlockStart = FRecNo - FBufferIndex;
    const int32_t ServerRow = BlockStart + Before - (PastBlock ? 0 : 1);
    // Near the start a block FetchCount rows back would begin before the
    // first row, and the server would answer that there is none.
    const bool FromStart = BlockStart > 0 && ServerRow - FFetchCount < 0;
    ClearFetchBuffers();
    if (!FBOF) {
      const int32_t Code = FromStart ? FetchScrollBlock(FETCH_ABSOLUTE, 1)
                                     : FetchScrollBlock(FETCH_RELATIVE, -FFetchCount);
      if (!FActive) return false;
      --FRecNo;
      FBOF = Code == SQLE_NOTFOUND;
    }
    if (FBOF) {
      FBufferIndex = 0;
      FBufferCount = 0;
    } else {
      const int32_t Got = FBufferCount;
      int32_t Index = 0;
      if (FromStart)
        Index = BlockStart - 1;
      else if (Before < FFetchCount)
        Index = PastBlock ? Got - Before - 1 : Got - Before;
      FBufferIndex = std::clamp(Index, 0, std::max(Got - 1, 0));
    }
  }
  if (FBufferCount > 0) FEOF = false;
  ConvertFetchedBuffers();
  return FBufferCount > 0;
}

// ---------------------------------------------------------------------------
// Positioning without data

bool TAsaSQL::InternalMoveToFirst() {
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_fetch, FProcs.dbpp_fetch_pb, FCursorName, FETCH_ABSOLUTE, 1, nullptr, nullptr, 0u);
  Check(FWantExceptions);
  int32_t Code = LastErrorCode();
  FEOF = Code == SQLE_NOTFOUND;
  if (FEOF) {
    FBOF = true;  // no rows at all
  } else if (Code >= 0) {
    // Back before the first row, so that the next fetch brings it.
    Dbpp(FProcs.dbpp_fetch, FProcs.dbpp_fetch_pb, FCursorName, FETCH_RELATIVE, -1, nullptr, nullptr, 0u);
    Check(FWantExceptions);
    Code = LastErrorCode();
    FBOF = Code == SQLE_NOTFOUND;
  }
  FBufferIndex = 0;
  FBufferCount = 0;
  ConvertFetchedBuffers();
  FRecNo = -1;
  return Code >= 0;
}

bool TAsaSQL::InternalMoveToLast() {
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_fetch, FProcs.dbpp_fetch_pb, FCursorName, FETCH_ABSOLUTE, -1, nullptr, nullptr, 0u);
  Check(FWantExceptions);
  int32_t Code = LastErrorCode();
  FBOF = Code == SQLE_NOTFOUND;
  if (FBOF) {
    FEOF = true;  // no rows at all
  } else if (Code >= 0) {
    // On past the last row, so that a Prev brings it.
    Dbpp(FProcs.dbpp_fetch, FProcs.dbpp_fetch_pb, FCursorName, FETCH_RELATIVE, 1, nullptr, nullptr, 0u);
    Check(FWantExceptions);
    Code = LastErrorCode();
    FEOF = Code == SQLE_NOTFOUND;
  }
  FBufferIndex = 0;
  FBufferCount = 0;
  ConvertFetchedBuffers();
  FRecNo = FRecordCount;
  return Code >= 0;
}

bool TAsaSQL::InternalMoveTo(int32_t Row) {
  InternalNeedLibrary();
  // The row the server cursor stands on: the block's last, or one further.
  const int32_t ServerRow = FRecNo - FBufferIndex + FBufferCount - (ServerPastBlock() ? 0 : 1);
  const int32_t Offset = Row - ServerRow;
  Dbpp(FProcs.dbpp_fetch, FProcs.dbpp_fetch_pb, FCursorName, FETCH_RELATIVE, Offset, nullptr, nullptr, 0u);
  const int32_t Count = SqlCount();
  Check(FWantExceptions);
  const int32_t Code = LastErrorCode();
  if (Code == SQLE_NOTFOUND) {
    // Off an end: stand before the first or after the last row.
    if (Count < 0 || Offset < 0) return InternalMoveToFirst();
    if (Count > 0 || Offset > 0) return InternalMoveToLast();
    return true;
  }
  if (Code < 0) return false;
  FBOF = FEOF = false;
  FBufferIndex = 0;
  FBufferCount = 0;
  ConvertFetchedBuffers();
  FRecNo = Row;
  return true;
}

// ---------------------------------------------------------------------------
// Procedures

bool TAsaSQL::Resume() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_resume, FProcs.dbpp_resume_pb, FCursorName);
  FRecordCount = std::abs(SqlCount());
  Check(FWantExceptions);
  const int32_t Code = LastErrorCode();
  if (Code < 0 || Code == SQLE_PROCEDURE_COMPLETE) {
    FStillInProc = false;
    return false;
  }
  FBufferIndex = 0;
  FBufferCount = 0;
  FRecNo = -1;
  FBOF = FEOF = false;
  if (!InternalDescribeOpen(FReadOnly)) return false;
  // A new result: its first block may shrink the block size, as after an open.
  FFirstFetch = true;
  return InternalFetchNext();
}

bool TAsaSQL::GetResumable() { return FResumable && FLibraryVersion > 5; }

bool TAsaSQL::GetStillInProc() { return FStillInProc; }

// ---------------------------------------------------------------------------
// Plan and table name

std::string TAsaSQL::Explain() {
  if (!FActive) RaiseAsa(VDB_ERR_CURS_NOT_OPENED, 0);
  InternalNeedLibrary();
  SQLDA* Da = FProcs.alloc_sqlda(1);
  if (Da == nullptr) throw std::bad_alloc();
  char Plan[kPlanLength + 1] = {};
  Da->sqlvar[0].sqltype = DT_STRING;
  Da->sqlvar[0].sqllen = kPlanLength;
  Da->sqlvar[0].sqldata = Plan;
  std::string Result;
  try {
    Dbpp(FProcs.dbpp_explain, FProcs.dbpp_explain_pb, FCursorName, nullptr, Da);
    if (Check(FWantExceptions)) Result.assign(Plan, strnlen(Plan, kPlanLength));
  } catch (...) {
    FreeSqlda(Da, true);
    throw;
  }
  FreeSqlda(Da, true);
  return Result;
}

std::string TAsaSQL::GetTableName() {
  std::string Result;
  if (FActive && FLibraryVersion > 4) {
    InternalNeedLibrary();
    SQLDA* Da = FProcs.alloc_sqlda_noind(1);
    if (Da == nullptr) throw std::bad_alloc();
    Da->sqlvar[0].sqltype = DT_STRING;
    Da->sqlvar[0].sqllen = kTableNameLength;
    if (FProcs.fill_sqlda(Da) == nullptr) {
      FProcs.free_sqlda_noind(Da);
    } else {
      Dbpp(FProcs.dbpp_describe_names, FProcs.dbpp_describe_names_pb, nullptr, nullptr, nullptr, FCursorName, Da,
           kNameWidth, static_cast<uint32_t>(DESCRIBE_NAMES_TABLE));
      if (SqlCode() == 0) {
        const char* Text = static_cast<const char*>(Da->sqlvar[0].sqldata);
        Result.assign(Text, strnlen(Text, kTableNameLength));
        if (TVantorSession* S = GetSessionObject())
          S->TranslateChar(Result.data(), Result.data(), static_cast<int32_t>(Result.size()), false);
      }
      FProcs.free_filled_sqlda(Da);
    }
  }
  // A join, an expression or an older library: the name in the text.
  if (Result.empty()) Result = TVantorSQL::GetTableName();
  return Result;
}

// ---------------------------------------------------------------------------
// Immediate execution

bool TAsaSQL::ExecuteImmediate(std::string SQL) {
  StatementToOem(SQL);
  InternalNeedLibrary();
  Dbpp(FProcs.dbpp_execute_imm, FProcs.dbpp_execute_imm_pb, SQL.c_str(), 2u);
  const int32_t Count = SqlCount();
  CheckPushError();
  FRowsProcessed = Count;
  InternalAutoCommit();
  if (!CheckPopError(FWantExceptions)) return false;
  return Check(FWantExceptions);
}

}  // namespace vdb
