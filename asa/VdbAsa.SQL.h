// The SQL Anywhere statement: prepares, describes, opens and fetches
// cursors in blocks, binds host variables, executes, converts values
// between the fetch buffers and Variants, scrolls, changes rows through the
// cursor and moves long values in pieces and through server variables.
//
// Included at the end of asa/VdbAsa.h; include that header, not this one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "asa/VdbAsa.h"
#include "vdb_esql.h"

namespace vdb {

class TAsaSQL;

// Scroll behaviour requested when the cursor is declared.
enum TAsaCursorType : uint8_t {
  actDefault,
  actDynamicScroll,
  actFixedScroll,
  actInsensitive,
  actNoScroll,
  actUnique,
};

// The statement's entry points of the client library, bound by each
// statement from its session's library. Missing ones fall back to a stub
// raising VDB_ERR_LIB_WRONG. The dbpp_ calls have a second form with the
// program block for libraries below version 7.
struct TAsaSQLProcs {
  alloc_sqlda_fn alloc_sqlda = nullptr;
  alloc_sqlda_noind_fn alloc_sqlda_noind = nullptr;
  fill_sqlda_fn fill_sqlda = nullptr;
  free_sqlda_fn free_sqlda = nullptr;
  free_sqlda_noind_fn free_sqlda_noind = nullptr;
  free_filled_sqlda_fn free_filled_sqlda = nullptr;
  dbpp_prepare_fn dbpp_prepare = nullptr;
  dbpp_dropstmt_fn dbpp_dropstmt = nullptr;
  dbpp_describe_fn dbpp_describe = nullptr;
  dbpp_describe_cursor_fn dbpp_describe_cursor = nullptr;
  dbpp_describe_names_fn dbpp_describe_names = nullptr;
  dbpp_declare_fn dbpp_declare = nullptr;
  dbpp_open_fn dbpp_open = nullptr;
  dbpp_fetch_fn dbpp_fetch = nullptr;
  dbpp_fetch_array_fn dbpp_fetch_array = nullptr;
  dbpp_get_data_fn dbpp_get_data = nullptr;
  dbpp_put_into_fn dbpp_put_into = nullptr;
  dbpp_update_fn dbpp_update = nullptr;
  dbpp_delete_fn dbpp_delete = nullptr;
  dbpp_resume_fn dbpp_resume = nullptr;
  dbpp_close_fn dbpp_close = nullptr;
  dbpp_explain_fn dbpp_explain = nullptr;
  dbpp_execute_into_fn dbpp_execute_into = nullptr;
  dbpp_execute_imm_fn dbpp_execute_imm = nullptr;
  dbpp_commit_fn dbpp_commit = nullptr;
  dbpp_rollback_fn dbpp_rollback = nullptr;
  // The same entry points typed for libraries below version 7.
  dbpp_prepare_pb_fn dbpp_prepare_pb = nullptr;
  dbpp_dropstmt_pb_fn dbpp_dropstmt_pb = nullptr;
  dbpp_describe_pb_fn dbpp_describe_pb = nullptr;
  dbpp_describe_cursor_pb_fn dbpp_describe_cursor_pb = nullptr;
  dbpp_describe_names_pb_fn dbpp_describe_names_pb = nullptr;
  dbpp_declare_pb_fn dbpp_declare_pb = nullptr;
  dbpp_open_pb_fn dbpp_open_pb = nullptr;
  dbpp_fetch_pb_fn dbpp_fetch_pb = nullptr;
  dbpp_fetch_array_pb_fn dbpp_fetch_array_pb = nullptr;
  dbpp_get_data_pb_fn dbpp_get_data_pb = nullptr;
  dbpp_put_into_pb_fn dbpp_put_into_pb = nullptr;
  dbpp_update_pb_fn dbpp_update_pb = nullptr;
  dbpp_delete_pb_fn dbpp_delete_pb = nullptr;
  dbpp_resume_pb_fn dbpp_resume_pb = nullptr;
  dbpp_close_pb_fn dbpp_close_pb = nullptr;
  dbpp_explain_pb_fn dbpp_explain_pb = nullptr;
  dbpp_execute_into_pb_fn dbpp_execute_into_pb = nullptr;
  dbpp_execute_imm_pb_fn dbpp_execute_imm_pb = nullptr;
  dbpp_commit_pb_fn dbpp_commit_pb = nullptr;
  dbpp_rollback_pb_fn dbpp_rollback_pb = nullptr;
};

// The value of one long column of the current row. Read loads the whole
// value from the server in pieces when nothing was written since the row
// became current; GetBlobSize does the same for an unmodified stream.
class TAsaBlobStream : public TVantorBlobStream {
 public:
  using TVantorBlobStream::TVantorBlobStream;
  std::string ClassName() const override { return "TAsaBlobStream"; }

  int64_t Read(void* Buffer, int64_t Count) override;
  int32_t GetBlobSize() override;

 private:
  // The statement the stream's manager belongs to.
  TAsaSQL* Statement() const;
};

class TAsaSQL : public TVantorSQL {
 public:
  explicit TAsaSQL(vcl::TComponent* AOwner);
  ~TAsaSQL() override;
  std::string ClassName() const override { return "TAsaSQL"; }

  // --- Published properties; both are used from the next open on.
  TAsaCursorType CursorType() const { return FCursorType; }
  void SetCursorType(TAsaCursorType Value);
  TAsaTransIsolation TransIsolation() const { return FTransIsolation; }
  void SetTransIsolation(TAsaTransIsolation Value);

  // --- State of the server statements
  // The session as the SQL Anywhere session it must be; null when unlinked.
  TAsaSession* AsaSession() const { return static_cast<TAsaSession*>(FSession); }
  const TAsaSQLProcs& Procs() const { return FProcs; }
  uint8_t LibraryVersion() const { return FLibraryVersion; }
  int16_t CursorStatementNumber() const { return FCursorStmt; }
  int16_t ExecStatementNumber() const { return FExecStmt; }
  // "VDB-<cursor statement number>", formatted at open.
  const char* CursorName() const { return FCursorName; }
  bool Resumable() const { return FResumable; }
  bool FirstFetch() const { return FFirstFetch; }

  // --- Frame overrides: prepare, describe, open, fetch, close
  void InternalLoadLibraryProcs() override;
  void InternalInitFieldDef(TVantorFieldDefs* Defs, int32_t Index, int32_t BlobBufferSize,
                            void* Descriptor) override;
  bool InternalPrepare(const std::string& SQL) override;
  bool InternalPrepareOpen(const std::string& SQL) override;
  bool InternalDescribePrepare() override;
  bool InternalBindOpenVariables(vcl::TStrings* Names) override;
  bool InternalIsUniDirectional() override;
  bool InternalOpen(bool AReadOnly) override;
  bool InternalDescribeOpen(bool AReadOnly) override;
  void InternalClose() override;
  void InternalUnprepareOpen() override;

  // --- Frame overrides: host variables and execution
  bool InternalPrepareExecute(const std::string& SQL) override;
  bool InternalBindExecVariables(vcl::TStrings* Names) override;
  bool InternalExecute(vcl::TStrings* Names) override;
  void InternalUnprepareExecute() override;
  int32_t InternalGetVariableLength(TVantorFieldTypes FieldType) override;
  int32_t InternalGetVariableExtType(TVantorFieldTypes FieldType) override;
  // Descriptor is the SQLDA* to build; it is freed first when set.
  bool InternalBindVariables(int32_t StatementNo, TVantorVariableDefs* Defs, vcl::TStrings* Names,
                             void*& Descriptor) override;
  bool InternalBindOutVariables(int32_t StatementNo, TVantorVariableDefs* Defs, vcl::TStrings* Names,
                                void*& Descriptor) override;
  bool InternalFetchFirst() override;
  bool InternalFetchNext() override;

  // --- Frame overrides: scrolling, positioned changes, procedures
  bool InternalMoveToFirst() override;
  bool InternalMoveToLast() override;
  bool InternalMoveTo(int32_t Row) override;
  TVantorBlobStream* InternalCreateBlobStream(const std::string& Name) override;
  bool GetStillInProc() override;
  std::string GetTableName() override;

  // --- Frame overrides: values
  vcl::Variant GetFieldData(const uint8_t* Buffer, int32_t Offset, int32_t Size, TVantorFieldTypes FieldType,
                            TVantorBlobStream* Blob) override;
  void PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TVantorFieldTypes FieldType,
                    const vcl::Variant& Value, TVantorBlobStream* Blob) override;

  bool Resume() override;
  bool First() override;
  bool Last() override;
  bool Next() override;
  bool Curr() override;
  bool Prev() override;
  bool Modify() override;
  bool Append() override;
  bool Delete() override;
  bool GetNullIndicator(const uint8_t* Buffer, int32_t FieldNo) override;
  void PutNullIndicator(uint8_t* Buffer, int32_t FieldNo, bool IsNull) override;
  bool GetBlobTruncIndicator(const uint8_t* Buffer, int32_t FieldNo) override;

  // --- Operations of this statement
  // Locks the current row.
  bool Lock();
  // The query plan of the open cursor.
  std::string Explain();
  // Runs a statement without preparing it.
  bool ExecuteImmediate(std::string SQL);
  // A procedure call whose further result sets Resume can open.
  bool GetResumable();
  void SetResumable(bool Value) { FResumable = Value; }
  // Whether the prefetched part of the long value in Stream's column is
  // incomplete (the value must come from the server).
  bool IsBlobTruncated(TVantorBlobStream* Stream);

  // --- For the statement's own parts
  // Copies block row BufferIndex into the current and the old row and
  // empties the blob streams.
  void ConvertFetchedBuffers();
  // Cuts trailing blanks and control characters of the string columns of
  // the BufferCount rows of the block.
  void TrimFetchBuffer();
  // Returns Number to the pool and drops the server statement.
  void InternalDropStatement(int16_t Number);
  // Commits after a change in auto-commit mode, outside a user transaction;
  // a failed commit is rolled back and stays in the SQLCA for the next check.
  void InternalAutoCommit();
  // Runs an auxiliary statement on the connection: without values
  // immediately, otherwise prepared with Values bound as host variables.
  bool InternalLocalExecute(const std::string& SQL, const vcl::Variant& Values);
  // Creates the connection-level long binary variable Name holding Length
  // bytes at Data.
  bool InternalCreateBlobVariable(const std::string& Name, const void* Data, int32_t Length);
  // Drops every server variable listed in Names.
  void InternalDropBlobVariables(vcl::TStrings* Names);
  // Reads the whole long value of column FieldNo of the current row in
  // pieces; false for NULL or a failed read (reported by the check).
  bool ReadLongValue(int32_t FieldNo, std::vector<uint8_t>& Value);

  // Calls a dbpp_ entry point on the session's current SQLCA, with the
  // program block below library version 7.
  template <class Fn, class FnPb, class... A>
  int32_t Dbpp(Fn F, FnPb FPb, A... Args) {
    SQLCA* Ca = AsaSession()->Sqlca();
    return FLibraryVersion < 7 ? FPb(Ca, FProgramBlock, Args...) : F(Ca, Args...);
  }
  // SQLCOUNT and sqlcode of the session's current SQLCA.
  int32_t SqlCount() const { return SQLCOUNT(*AsaSession()->Sqlca()); }
  int32_t SqlCode() const { return AsaSession()->Sqlca()->sqlcode; }
  // Frees an SQLDA of the library (with or without indicators) and
  // forgets it; nothing when it is null.
  void FreeSqlda(SQLDA*& Sqlda, bool WithIndicators);

 protected:
  // The bound entry points, for a subclass that wraps them (tracing,
  // counting calls); rebound whenever InternalLoadLibraryProcs runs.
  TAsaSQLProcs& BoundProcs() { return FProcs; }

 private:
  bool BeingDestroyed() const { return ComponentState().Contains(vcl::csDestroying); }
  [[noreturn]] void RaiseAsa(const std::string& Message, int32_t Code = 0);
  // Raised by the operations another part of the statement still lacks.
  [[noreturn]] void NotSupportedYet(const char* Operation);
  // Describes the fetch SQLDA's n columns into FieldDefs, allocates the
  // block and row buffers and points the entries at them.
  bool BuildRowLayout(int32_t Columns, bool AfterOpen);
  // Full names of the columns whose names the 30-byte SQLDA name cut.
  void DescribeLongNames(int32_t Columns, bool AfterOpen);
  // Applies the outcome of a block fetch: BufferCount, trimming and the
  // shrink of FetchCount after the first fetch. Answers the sqlcode.
  int32_t TakeFetchedBlock();
  // Empties the fetch block: zero data, NULL indicators.
  void ClearFetchBuffers();
  // Remembers the server variable name an SQLDA entry of type 600 points
  // at, for as long as that SQLDA lives.
  const char* KeepVariableName(const SQLDA* Sqlda, std::string Name);
  void ForgetVariableNames(const SQLDA* Sqlda);
  // A block fetch of the scrolling operations: BufferCount and trimming
  // from its outcome (no FetchCount shrink). Answers the sqlcode.
  int32_t FetchScrollBlock(int32_t Kind, int32_t Offset);
  // Whether the server cursor stands one row after the block in the
  // buffers rather than on its last row: after an empty block, and on a
  // version 6 engine after a short one.
  bool ServerPastBlock() const;
  // Points a positioned-change entry at a server variable, named like the
  // field, holding the field's long value; false when it cannot be made.
  bool PutLongEntry(sqlvar& Entry, const TVantorFieldDef* Def, vcl::TStrings* Variables,
                    std::vector<std::string>& Names);
  // Drops the listed server variables, keeping the error of what ran
  // before.
  void DropVariablesAfterError(vcl::TStrings* Variables);
  // Drops and forgets the server variables a binding made for a statement
  // that will not run.
  void DropBindVariables(vcl::TStrings* Names);
  // Appends Length bytes at Data to the server variable Name in pieces.
  bool AppendToBlobVariable(const std::string& Name, const uint8_t* Data, int32_t Length);

  TAsaSQLProcs FProcs;                          // bound entry points
  const a_program_block* FProgramBlock = nullptr;  // the session's, for libraries below 7
  uint8_t FLibraryVersion = 0;                  // the session's library version
  TAsaCursorType FCursorType = actDefault;
  TAsaTransIsolation FTransIsolation = atUnchanged;
  SQLDA* FFetchSqlda = nullptr;                 // FetchCount x columns entries, no indicators
  SQLDA* FBindSqlda = nullptr;                  // input variables of the cursor
  SQLDA* FExecInSqlda = nullptr;                // input variables of the executed statement
  SQLDA* FExecOutSqlda = nullptr;               // output variables of the executed statement
  int16_t FCursorStmt = 0;                      // statement number of the cursor (0 = none)
  int16_t FExecStmt = 0;                        // statement number of the executed statement
  bool FResumable = false;                      // a procedure call, described at each open
  bool FStillInProc = false;                    // the procedure may have further result sets
  bool FFirstFetch = false;                     // no block fetched since the open
  bool FTrimBlanks = false;                     // the session's TrimBlanks as of the open
  int32_t FBlockRows = 0;                       // rows the fetch that filled the block asked for
  char FCursorName[32] = {};                    // "VDB-<n>"
  // Server variables carrying long cursor parameters, dropped after the open.
  std::unique_ptr<vcl::TStringList> FOpenBlobVariables;
  // Names that type-600 entries point at, by the SQLDA holding the entry.
  std::vector<std::pair<const SQLDA*, std::unique_ptr<std::string>>> FVariableNames;
};

// Between the library's date-time structure and the framework's date-time.
// An invalid date part reads as the time alone; an invalid time part as 0.
vcl::TDateTime GetAsaTimeStamp(const SQLDATETIME& T);
// Without WithDate, a value on the epoch day 1899-12-30 leaves the date
// fields 0 (a pure time).
void PutAsaTimeStamp(bool WithDate, vcl::TDateTime Value, SQLDATETIME& T);

}  // namespace vdb
