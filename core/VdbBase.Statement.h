// The abstract statement: one cursor statement and one executed statement
// with their host variables, the fetch block and row buffers, field values
// of the current row, and the blob streams of its long columns. Every
// client-library action is a virtual operation of the concrete statement.
//
// Included at the end of core/VdbBase.h; include that header, not this one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/VdbBase.h"
#include "rtl/Classes.h"
#include "rtl/Components.h"
#include "rtl/DateUtils.h"
#include "rtl/Graphics.h"
#include "rtl/Streams.h"
#include "rtl/System.h"
#include "rtl/Variants.h"

namespace vdb {

class TVantorBlobManager;
class TVantorSQL;

// Parameter values of an open or execute: one Variant per host variable,
// or all of them in one Variant array as the only element.
using TVantorValues = std::vector<vcl::Variant>;

// ---------------------------------------------------------------------------
// Blob streams

// The value of one blob column of the current row, kept in memory. The
// concrete statement's stream supplies Read (loading the value from the
// server when nothing was written) and may override GetBlobSize.
//
// A stream created with a manager belongs to it; destroying the stream
// removes it from the manager.
class TVantorBlobStream : public vcl::TStream {
 public:
  TVantorBlobStream(TVantorBlobManager* AManager, const std::string& AFieldName);
  ~TVantorBlobStream() override;
  TVantorBlobStream(const TVantorBlobStream&) = delete;
  TVantorBlobStream& operator=(const TVantorBlobStream&) = delete;
  std::string ClassName() const override { return "TVantorBlobStream"; }

  // Grows the value to cover Position + Count and copies the bytes there.
  // A negative position, or a value that would pass 2 GB, writes nothing.
  int64_t Write(const void* Data, int64_t Count) override;
  // Origins beginning, current and end (the end is GetBlobSize); the
  // position is not clamped to the value.
  int64_t Seek(int64_t Offset, vcl::TSeekOrigin Origin) override;

  // Bytes of the value: what was written since the last Clear, else 0.
  virtual int32_t GetBlobSize();
  // Drops the value: no data, not modified, NULL.
  void Clear();
  // An emptied value that counts as changed.
  void Truncate();

  // FieldNo and ExtType of the statement's column of this name, or -1.
  int32_t GetFieldNo() const;
  int32_t GetFieldExtType() const;

  TVantorBlobManager* Manager() const { return FManager; }
  const std::string& FieldName() const { return FFieldName; }
  int32_t DataSize() const { return FDataSize; }
  // The value's bytes, or null when it is empty.
  const uint8_t* Buffer() const { return FBuffer.empty() ? nullptr : FBuffer.data(); }
  bool Modified() const { return FModified; }
  bool IsNull() const { return FIsNull; }

 protected:
  // Takes Data as the value read from the server for the current row: held
  // without counting as written, positioned at its start.
  void AssignFetched(std::vector<uint8_t>&& Data);

  // The raw position, for the concrete stream's Read.
  int64_t FPosition = 0;

 private:
  friend class TVantorBlobManager;

  TVantorBlobManager* FManager = nullptr;  // the manager listing the stream; may be null
  std::string FFieldName;                  // name of the blob column
  int32_t FDataSize = 0;                   // bytes held in FBuffer
  std::vector<uint8_t> FBuffer;            // the value; empty when there is none
  bool FModified = false;                  // written or truncated since the last Clear
  bool FIsNull = false;                    // holds no value; set by Clear
};

// The blob streams of a statement's result columns, one per blob column.
// The manager owns its streams.
class TVantorBlobManager : public vcl::TObject {
 public:
  explicit TVantorBlobManager(TVantorSQL* ASQL);
  ~TVantorBlobManager() override;
  TVantorBlobManager(const TVantorBlobManager&) = delete;
  TVantorBlobManager& operator=(const TVantorBlobManager&) = delete;
  std::string ClassName() const override { return "TVantorBlobManager"; }

  TVantorSQL* SQL() const { return FSQL; }
  // Takes ownership of Stream and records this manager in it.
  void AddBlob(TVantorBlobStream* Stream);
  // Gives up ownership of Stream (the caller then owns it).
  void RemoveBlob(TVantorBlobStream* Stream);
  int32_t Count() const { return static_cast<int32_t>(FBlobs.size()); }
  // Frees all streams, the last one first.
  void Clear();
  // Empties every stream; the streams stay.
  void ClearBlobs();
  // The stream at Index, found again by its name; EListError when Index is
  // out of range.
  TVantorBlobStream* GetBlob(uint16_t Index) const;
  // The first stream of that column name (ANSI case-insensitive); raises
  // VDB_ERR_BLOB_REQUIRED when there is none.
  TVantorBlobStream* BlobByName(const std::string& Name) const;

 private:
  TVantorSQL* FSQL;                                          // the owning statement
  std::vector<std::unique_ptr<TVantorBlobStream>> FBlobs;    // the streams, in creation order
};

// ---------------------------------------------------------------------------
// Statement

// Two independent prepared statements in one object: the cursor statement
// (prepared, opened, fetched, closed) and the executed statement (prepared,
// executed with input and output host variables).
//
// A concrete statement's destructor calls Shutdown() first, so that its own
// overrides still run while the statement is closed and unprepared.
class TVantorSQL : public vcl::TComponent {
 public:
  explicit TVantorSQL(vcl::TComponent* AOwner);
  ~TVantorSQL() override;
  std::string ClassName() const override { return "TVantorSQL"; }

  // --- Session link
  // The linked session; raises VDB_ERR_SESS_NIL when there is none, except
  // in the designer, where it answers null.
  TVantorSession* Session() const;
  // The linked session without any check.
  TVantorSession* GetSessionObject() const { return FSession; }
  // Unlinks from the current session (which unprepares this statement) and
  // registers with Value, when given.
  void SetSession(TVantorSession* Value);
  // Binds the entry points before the first client-library call.
  void InternalNeedLibrary();
  // The library went away: bind the entry points again before the next call.
  void InternalInvalidateLibrary() { FLibraryProcsInvalid = true; }
  bool LibraryProcsInvalid() const { return FLibraryProcsInvalid; }

  // Errors, forwarded to the session.
  bool Check(bool RaiseError);
  void CheckPushError();
  bool CheckPopError(bool RaiseError);
  template <class E = EVantorException>
  [[noreturn]] void RaiseLastError(const std::string& Message, int32_t Code) {
    if (TVantorSession* S = Session()) S->RaiseLastError<E>(Message, Code);
    throw E(Message, Code, 0);
  }
  std::string LastError() const;
  int32_t LastErrorCode() const;

  // --- Cursor statement
  bool PrepareOpen(std::string SQL);
  // Prepares both halves with one text.
  bool Prepare(std::string SQL);
  // Prepares the cursor statement (unless it is prepared with this text)
  // and answers whether it has result columns.
  bool Describe(std::string SQL);
  bool Open(std::string SQL, const TVantorValues& Values, bool AReadOnly);
  // Open and fetch the first row; false also for an empty result.
  bool OpenRead(std::string SQL, const TVantorValues& Values);
  bool OpenWrite(std::string SQL, const TVantorValues& Values);
  bool OpenPrepared(const TVantorValues& Values, bool AReadOnly);
  bool OpenReadPrepared(const TVantorValues& Values);
  bool OpenWritePrepared(const TVantorValues& Values);
  void Close();
  void UnprepareOpen();
  void Unprepare();
  bool MoveToFirst();
  bool MoveToLast();
  bool MoveTo(int32_t Row);
  bool CanModify() const { return FActive && !FReadOnly; }

  // --- Executed statement
  bool PrepareExecute(std::string SQL);
  bool Execute(std::string SQL, const TVantorValues& Values);
  bool ExecutePrepared(const TVantorValues& Values);
  void UnprepareExecute();
  // An output variable by position or name, else an input variable by
  // position (or the name "?"); raises VDB_ERR_PARAM_NOT_FOUND.
  vcl::Variant GetOutVar(const vcl::Variant& Index);

  // --- Settings and state
  bool WantExceptions() const { return FWantExceptions; }
  void SetWantExceptions(bool Value) { FWantExceptions = Value; }
  int32_t MaxFetchCount() const { return FMaxFetchCount; }
  // Values outside 1..1000 are ignored.
  void SetMaxFetchCount(int32_t Value);
  int32_t BlobSize() const { return FBlobSize; }
  // Values outside 0..32763 are ignored.
  void SetBlobSize(int32_t Value);
  int32_t RowsProcessed() const { return FRowsProcessed; }
  void SetRowsProcessed(int32_t Value) { FRowsProcessed = Value; }

  bool Active() const { return FActive; }
  bool ReadOnly() const { return FReadOnly; }
  bool CursorPrepared() const { return FCursorPrepared; }
  bool ExecPrepared() const { return FExecPrepared; }
  const std::string& OpenSQL() const { return FOpenSQL; }
  const std::string& ExecSQL() const { return FExecSQL; }
  uint8_t* RowBuffer() const { return FRowBuffer.get(); }
  uint8_t* IndicatorBuffer() const { return FIndicatorBuffer.get(); }
  TVantorFieldDefs* FieldDefs() const { return FFieldDefs.get(); }
  TVantorVariableDefs* OpenVars() const { return FOpenVars.get(); }
  TVantorVariableDefs* ExecVars() const { return FExecVars.get(); }
  TVantorVariableDefs* OutVars() const { return FOutVars.get(); }
  TVantorBlobManager* BlobManager() const { return FBlobManager.get(); }
  int32_t FetchCount() const { return FFetchCount; }
  int32_t AllocCount() const { return FAllocCount; }
  int32_t BufferIndex() const { return FBufferIndex; }
  int32_t BufferCount() const { return FBufferCount; }
  int32_t RecNo() const { return FRecNo; }
  int32_t RecordSize() const { return FRecordSize; }
  int32_t IndicatorSize() const { return FIndicatorSize; }
  int32_t RecordCount() const { return FRecordCount; }
  // Before the first row / past the last row, or no rows at all; both
  // true while closed. (Named so as not to meet the C library's EOF macro.)
  bool Bof() const { return FBOF; }
  bool Eof() const { return FEOF; }
  bool StillInProc() { return GetStillInProc(); }
  std::string TableName() { return GetTableName(); }

  // --- Events (AfterOpen is fired by the frame, the others by the concrete statement)
  const vcl::TNotifyEvent& AfterOpen() const { return FAfterOpen; }
  void SetAfterOpen(vcl::TNotifyEvent Value) { FAfterOpen = std::move(Value); }
  const vcl::TNotifyEvent& BeforeOpen() const { return FBeforeOpen; }
  void SetBeforeOpen(vcl::TNotifyEvent Value) { FBeforeOpen = std::move(Value); }
  const vcl::TNotifyEvent& AfterClose() const { return FAfterClose; }
  void SetAfterClose(vcl::TNotifyEvent Value) { FAfterClose = std::move(Value); }
  const vcl::TNotifyEvent& BeforeClose() const { return FBeforeClose; }
  void SetBeforeClose(vcl::TNotifyEvent Value) { FBeforeClose = std::move(Value); }
  const vcl::TNotifyEvent& AfterPrepare() const { return FAfterPrepare; }
  void SetAfterPrepare(vcl::TNotifyEvent Value) { FAfterPrepare = std::move(Value); }
  const vcl::TNotifyEvent& AfterUnprepare() const { return FAfterUnprepare; }
  void SetAfterUnprepare(vcl::TNotifyEvent Value) { FAfterUnprepare = std::move(Value); }

  // --- Field values of the current row. A column index is a position when
  // the Variant is ordinal, otherwise a column name (case-insensitive).
  TVantorFieldDef* GetField(const vcl::Variant& Index) const;
  bool FindField(const std::string& Name) const;
  int32_t GetFieldCount() const { return FFieldDefs->Count(); }
  int32_t FieldCount() const { return GetFieldCount(); }
  std::string GetFieldName(int32_t Position) const;
  TVantorFieldTypes GetFieldType(const vcl::Variant& Index) const;
  int32_t GetFieldSize(const vcl::Variant& Index) const;
  int32_t GetFieldLength(const vcl::Variant& Index) const;
  int32_t GetFieldPrecision(const vcl::Variant& Index) const;
  int32_t GetFieldDecimals(const vcl::Variant& Index) const;
  bool GetFieldNulls(const vcl::Variant& Index) const;
  // Integer codes stand for every ordinal Variant; others must match exactly.
  static bool CheckVarType(const vcl::Variant& Value, vcl::TVarType VarType);

  bool IsFieldNull(const vcl::Variant& Index);
  // Whether the column differs from the row as fetched.
  bool IsFieldDirty(const vcl::Variant& Index);
  bool IsDirty();
  vcl::Variant GetFieldValue(const vcl::Variant& Index);
  vcl::Variant GetOldValue(const vcl::Variant& Index);
  void SetFieldValue(const vcl::Variant& Index, const vcl::Variant& Value);
  void ClearField(const std::string& Name);
  void ClearFieldNotNull(const std::string& Name);
  // Clears every column but the hidden key columns, to NULL or to zero bytes.
  void Clear();
  void ClearNotNull();
  void InternalClearField(TVantorFieldDef* Def, bool SetNull);

  // Conversions for PutFieldData that never raise: a value that does not
  // convert gives the empty text, 0, false or the zero date-time.
  static std::string SetVarToStr(const vcl::Variant& Value);
  static int32_t SetVarToInt(const vcl::Variant& Value);
  static int64_t SetVarToInt64(const vcl::Variant& Value);
  static double SetVarToFloat(const vcl::Variant& Value);
  static bool SetVarToBoolean(const vcl::Variant& Value);
  static vcl::TDateTime SetVarToDateTime(const vcl::Variant& Value);

  // --- Blob columns
  void StreamToBlob(const vcl::Variant& Index, vcl::TStream* Stream);
  void BlobToStream(const vcl::Variant& Index, vcl::TStream* Stream);
  void GraphicToBlob(const vcl::Variant& Index, vcl::TPicture* Picture, TVantorGraphicType GraphicType);
  void BlobToGraphic(const vcl::Variant& Index, vcl::TPicture* Picture, TVantorGraphicType GraphicType);
  // A byte array with bounds 0..Length-1 holding a copy of Data, or Null
  // when Length is below 1.
  static vcl::Variant StrToVarByte(const void* Data, int32_t Length);
  static vcl::Variant StreamToVarByte(vcl::TMemoryStream* Stream);
  static std::string StreamToStr(vcl::TMemoryStream* Stream);

  // --- Virtual operations of the concrete statement, in this order.
  // Descriptor is the concrete statement's own description structure,
  // opaque to the frame.
  virtual void InternalLoadLibraryProcs() = 0;
  virtual void InternalInitFieldDef(TVantorFieldDefs* Defs, int32_t Index, int32_t BlobBufferSize,
                                    void* Descriptor) = 0;
  virtual bool InternalPrepare(const std::string& SQL) = 0;
  virtual bool InternalPrepareOpen(const std::string& SQL);
  virtual bool InternalDescribePrepare() = 0;
  virtual bool InternalBindOpenVariables(vcl::TStrings* Names) = 0;
  virtual bool InternalIsUniDirectional() = 0;
  virtual bool InternalOpen(bool AReadOnly);
  virtual bool InternalDescribeOpen(bool AReadOnly) = 0;
  virtual void InternalClose();
  virtual void InternalUnprepareOpen();
  virtual bool InternalPrepareExecute(const std::string& SQL);
  virtual bool InternalBindExecVariables(vcl::TStrings* Names) = 0;
  virtual bool InternalExecute(vcl::TStrings* Names) = 0;
  virtual void InternalUnprepareExecute();
  virtual int32_t InternalGetVariableLength(TVantorFieldTypes FieldType) = 0;
  virtual int32_t InternalGetVariableExtType(TVantorFieldTypes FieldType) = 0;
  virtual bool InternalBindVariables(int32_t StatementNo, TVantorVariableDefs* Defs, vcl::TStrings* Names,
                                     void*& Descriptor) = 0;
  virtual bool InternalBindOutVariables(int32_t StatementNo, TVantorVariableDefs* Defs, vcl::TStrings* Names,
                                        void*& Descriptor) = 0;
  virtual bool InternalFetchFirst() = 0;
  virtual bool InternalFetchNext() = 0;
  virtual bool InternalMoveToFirst() = 0;
  virtual bool InternalMoveToLast() = 0;
  virtual bool InternalMoveTo(int32_t Row) = 0;
  // A new stream for the blob column Name, owned by BlobManager().
  virtual TVantorBlobStream* InternalCreateBlobStream(const std::string& Name) = 0;
  virtual bool GetStillInProc();
  virtual std::string GetTableName();
  // Reads the value at Offset of a row or variable buffer (blob types from
  // Blob); writes Value there. PutFieldData must accept Null.
  virtual vcl::Variant GetFieldData(const uint8_t* Buffer, int32_t Offset, int32_t Size,
                                    TVantorFieldTypes FieldType, TVantorBlobStream* Blob) = 0;
  virtual void PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TVantorFieldTypes FieldType,
                            const vcl::Variant& Value, TVantorBlobStream* Blob) = 0;
  virtual bool Resume();
  virtual bool First() = 0;
  virtual bool Last() = 0;
  virtual bool Next() = 0;
  virtual bool Curr() = 0;
  virtual bool Prev() = 0;
  virtual bool Modify() = 0;
  virtual bool Append() = 0;
  virtual bool Delete() = 0;
  virtual bool GetNullIndicator(const uint8_t* Buffer, int32_t FieldNo) = 0;
  virtual void PutNullIndicator(uint8_t* Buffer, int32_t FieldNo, bool IsNull) = 0;
  virtual bool GetBlobTruncIndicator(const uint8_t* Buffer, int32_t FieldNo) = 0;

  // --- For the concrete statement
  // Allocates the block and row buffers for FetchCount rows of RecordSize
  // and IndicatorSize bytes, zero-filled.
  void InternalAllocOpenBuffer();
  // Frees the blob streams and the six buffers.
  void InternalFreeOpenBuffer();
  // Adds a descriptor whose name is made unique among the result columns.
  TVantorFieldDef* InternalAddFieldDef(TVantorFieldDefs* Defs, const std::string& Name, TVantorFieldTypes FieldType,
                                       int32_t ExtType, int32_t Size, int32_t Length, int32_t Precision,
                                       int32_t Decimals, bool Nulls, TVantorKeyIndicator KeyIndicator);
  // Type and buffer length of a host variable for Value; long texts and
  // byte arrays become vtMemo and vtBlob.
  void InternalGetVariableTypeAndLength(const vcl::Variant& Value, TVantorFieldTypes& FieldType, int32_t& Length);
  // Folds parameter values into one Variant: Null for none, else an array.
  static vcl::Variant InternalCheckVarValues(const TVantorValues& Values);
  // Whether Vars must be rebuilt for the values V (see InternalSetVariables).
  bool InternalNeedNewVariables(const vcl::Variant& V, TVantorVariableDefs* Vars);
  // Builds (or keeps) the host-variable list for V and writes the values.
  void InternalSetVariables(const vcl::Variant& V, TVantorVariableDefs* Vars);
  // Converts SQL to the OEM code page when the session asks for it.
  void StatementToOem(std::string& SQL) const;

 protected:
  // Closes and unprepares both halves and leaves the session while the
  // concrete overrides still run; a concrete destructor calls it first.
  // Idempotent.
  void Shutdown();

  uint8_t* FetchBuffer() const { return FFetchBuffer.get(); }
  uint8_t* OldRowBuffer() const { return FOldRowBuffer.get(); }
  uint8_t* FetchIndicatorBuffer() const { return FFetchIndicatorBuffer.get(); }
  uint8_t* OldIndicatorBuffer() const { return FOldIndicatorBuffer.get(); }

  TVantorSession* FSession = nullptr;              // session link, set by the session's register
  bool FLibraryProcsInvalid = true;                // entry points must be bound before the next call
  std::unique_ptr<uint8_t[]> FFetchBuffer;         // AllocCount data rows
  std::unique_ptr<uint8_t[]> FRowBuffer;           // the current data row
  std::unique_ptr<uint8_t[]> FOldRowBuffer;        // the current row as fetched
  std::unique_ptr<uint8_t[]> FFetchIndicatorBuffer;  // AllocCount indicator rows
  std::unique_ptr<uint8_t[]> FIndicatorBuffer;     // indicators of the current row
  std::unique_ptr<uint8_t[]> FOldIndicatorBuffer;  // indicators of the current row as fetched
  bool FReadOnly = false;                          // the cursor was last opened read-only
  bool FCursorPrepared = false;                    // the cursor statement is prepared
  bool FExecPrepared = false;                      // the executed statement is prepared
  bool FActive = false;                            // the cursor is open
  std::string FOpenSQL;                            // text of the prepared cursor statement (OEM)
  std::string FExecSQL;                            // text of the prepared executed statement (OEM)
  std::unique_ptr<TVantorFieldDefs> FFieldDefs;    // result columns
  std::unique_ptr<TVantorVariableDefs> FOpenVars;  // host variables of the cursor statement
  std::unique_ptr<TVantorVariableDefs> FExecVars;  // input host variables of the executed statement
  std::unique_ptr<TVantorVariableDefs> FOutVars;   // output host variables of the executed statement
  int32_t FFetchCount = 0;                         // rows per fetch; never above FAllocCount
  int32_t FAllocCount = 0;                         // rows the block buffers hold
  int32_t FBufferIndex = 0;                        // current row within the block
  int32_t FBufferCount = 0;                        // valid rows in the block
  int32_t FRecNo = -1;                             // zero-based current row; -1 before the first
  int32_t FRecordSize = 0;                         // bytes of one data row
  int32_t FIndicatorSize = 0;                      // bytes of one indicator row
  int32_t FRecordCount = 0;                        // rows as the server estimated them at open
  bool FBOF = true;                                // positioned before the first row, or no rows
  bool FEOF = true;                                // positioned past the last row, or no rows
  bool FWantExceptions = false;                    // server errors of this statement raise
  std::unique_ptr<TVantorBlobManager> FBlobManager;  // streams of the blob columns
  int32_t FBlobSize = 0;                           // bytes of each blob prefetched with the row
  vcl::TNotifyEvent FAfterOpen;
  vcl::TNotifyEvent FBeforeOpen;
  vcl::TNotifyEvent FAfterClose;
  vcl::TNotifyEvent FBeforeClose;
  vcl::TNotifyEvent FAfterPrepare;
  vcl::TNotifyEvent FAfterUnprepare;
  int32_t FRowsProcessed = 0;                      // rows affected by the last execution
  int32_t FMaxFetchCount = 25;                     // upper bound of FFetchCount

 private:
  friend class TVantorSession;

  enum TOpenKind : uint8_t { okAny, okRead, okWrite };
  // Steps shared by the open forms once the text is settled.
  bool OpenWithValues(const TVantorValues& Values, const std::string& SQL, bool AReadOnly, TOpenKind Kind);
  bool ExecuteWithValues(const TVantorValues& Values, const std::string& SQL);
  // The prepare steps, undoing a half-finished prepare on failure.
  bool SafePrepareOpen(const std::string& SQL);
  bool SafePrepareExecute(const std::string& SQL);
  // The frame's part of unpreparing the cursor: buffers, streams, columns.
  void InternalFrameUnprepareOpen();
  // Empties the fetch block before a move: zero data, NULL indicators.
  void ClearFetchBlock();
  // The column for Index, raising VDB_ERR_FIELD_NOT_FOUND.
  TVantorFieldDef* NeedField(const vcl::Variant& Index);
  // The stream of a blob column, none for other types.
  TVantorBlobStream* StreamOf(const TVantorFieldDef* Def) const;
  // Raises VDB_ERR_CURS_NOT_PREPARED unless the row buffers hold Def.
  void NeedRowBuffers(const TVantorFieldDef* Def);
  vcl::Variant ReadValue(const vcl::Variant& Index, const uint8_t* Buffer);
  TVantorSession* NeedSession() const;

  bool FShutDown = false;  // Shutdown() has run
};

// Registers TVantorSQL with the form-file class registry; part of
// VdbRegisterBaseClasses, which callers use instead.
void VdbRegisterStatementClass();

}  // namespace vdb
