// The database-independent access frame: column and host-variable
// descriptors, the frame's exception and message table, the fallbacks used
// when binding client-library entry points, and the abstract session that
// owns the library, one connection and the register of its statements.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/VdbUtil.h"
#include "rtl/Classes.h"
#include "rtl/Components.h"
#include "rtl/System.h"
#include "rtl/Variants.h"
#include "rtl/Windows.h"

namespace vdb {

// ---------------------------------------------------------------------------
// Column types and descriptors

// The database-independent type of a result column or host variable.
// vtMemo and vtBlob are the blob types: their values live in blob streams,
// not in the row.
enum TVantorFieldTypes : uint8_t {
  vtUnknown,   // not supported by the frame
  vtString,    // zero-terminated characters; the size counts the terminator
  vtInteger,   // signed 32-bit
  vtInt64,     // signed 64-bit
  vtFloat,     // floating point
  vtCurrency,  // money
  vtDate,      // date without time
  vtTime,      // time of day
  vtDateTime,  // date and time
  vtBoolean,   // truth value
  vtBinary,    // 16-bit length followed by the bytes; the size counts the length
  vtMemo,      // long character data
  vtBlob,      // long binary data
};

// Options of the dataset engine's searches.
enum TVantorLocateOption : uint8_t {
  vloCaseInsensitive,  // compare strings without regard to case
  vloPartialKey,       // accept a match on the leading part of a string
};
using TVantorLocateOptions = vcl::Set<TVantorLocateOption>;

// Picture format written to or read from a blob column.
enum TVantorGraphicType : uint8_t { gtBitmap, gtMetafile, gtIcon };

// Role of a result column. Hidden key columns are fetched by the statement
// for its own use; clearing a row leaves them alone.
enum TVantorKeyIndicator : uint8_t { kiRegularField, kiKeyField, kiHiddenKeyField };

class TVantorFieldDefs;

// Describes one result column or host variable: where its value lives in a
// row buffer and how it is typed. A descriptor created with an owner list
// belongs to that list; destroying it removes it from the list.
class TVantorFieldDef : public vcl::TObject {
 public:
  TVantorFieldDef(TVantorFieldDefs* AOwner, const std::string& AName);
  ~TVantorFieldDef() override;
  TVantorFieldDef(const TVantorFieldDef&) = delete;
  TVantorFieldDef& operator=(const TVantorFieldDef&) = delete;
  std::string ClassName() const override { return "TVantorFieldDef"; }

  // The list holding the descriptor, or null.
  TVantorFieldDefs* Owner() const { return FOwner; }

  std::string Name;                             // column or variable name
  int32_t FieldNo = 0;                          // position in the list when added; addresses the null indicator
  TVantorFieldTypes FieldType = vtUnknown;      // column type
  int32_t ExtType = 0;                          // the client library's own type code (opaque here)
  int32_t Size = 0;                             // bytes the value takes in a row buffer
  int32_t Offset = 0;                           // byte offset of the value in a row buffer
  int32_t Length = 0;                           // length as the concrete statement reports it
  int32_t Precision = 0;                        // numeric precision
  int32_t Decimals = 0;                         // numeric scale
  bool Nulls = false;                           // the column accepts NULL
  TVantorKeyIndicator KeyIndicator = kiRegularField;  // key role

 private:
  friend class TVantorFieldDefs;
  TVantorFieldDefs* FOwner = nullptr;
};

// An ordered list that owns its descriptors. Values are laid out back to
// back in the order the descriptors are added, without alignment gaps.
class TVantorFieldDefs : public vcl::TObject {
 public:
  TVantorFieldDefs() = default;
  ~TVantorFieldDefs() override;
  TVantorFieldDefs(const TVantorFieldDefs&) = delete;
  TVantorFieldDefs& operator=(const TVantorFieldDefs&) = delete;
  std::string ClassName() const override { return "TVantorFieldDefs"; }

  // Appends a descriptor placed directly after the existing ones; the caller
  // fills in type and size.
  TVantorFieldDef* AddFieldDef(const std::string& Name);
  // Frees the descriptors, always the last one first.
  virtual void Clear();

  // Sum of the sizes of all descriptors: the bytes of one row.
  int32_t Size() const;
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  int32_t GetCount() const { return Count(); }
  // The descriptor at Index, or null when Index is out of range.
  TVantorFieldDef* Items(int32_t Index) const;
  TVantorFieldDef* GetItem(int32_t Index) const { return Items(Index); }
  // Position of the first descriptor named Name (ANSI case-insensitive), or -1.
  int32_t IndexOf(const std::string& Name) const;
  TVantorFieldDef* FieldByName(const std::string& Name) const;
  // Whether some descriptor has a blob type.
  bool AnyBlob() const;

 private:
  friend class TVantorFieldDef;
  void Remove(TVantorFieldDef* Def);

  std::vector<std::unique_ptr<TVantorFieldDef>> FItems;  // the descriptors, in order
};

// Host-variable descriptors together with the one buffer that holds all
// their values, each at its descriptor's offset.
class TVantorVariableDefs : public TVantorFieldDefs {
 public:
  TVantorVariableDefs() = default;
  ~TVantorVariableDefs() override;
  std::string ClassName() const override { return "TVantorVariableDefs"; }

  // Frees the descriptors and the buffer; the list is no longer bound.
  void Clear() override;
  // Zero-fills the buffer, when there is one.
  void ClearBuffer();
  // Replaces the buffer by a zero-filled one of Size bytes (negative: none).
  void SetBufSize(int32_t Size);

  uint8_t* Buffer() const { return FBuffer.get(); }
  int32_t BufSize() const { return FBufSize; }
  // The concrete statement has bound these descriptors to its prepared
  // statement, so the next open or execute skips binding.
  bool Bound() const { return FBound; }
  void SetBound(bool Value) { FBound = Value; }

 private:
  std::unique_ptr<uint8_t[]> FBuffer;  // values of all variables; null until SetBufSize
  int32_t FBufSize = 0;                // bytes in FBuffer
  bool FBound = false;                 // see Bound()
};

// ---------------------------------------------------------------------------
// Exception, message table and module-level items

// The frame's exception: a message and the server's error code (0 for
// errors the frame detects itself).
class EVantorException : public vcl::Exception {
 public:
  // The third argument exists for callers that pass one; it is not kept.
  EVantorException(const std::string& Msg, int32_t AErrorCode, int32_t Unused = 0)
      : vcl::Exception(Msg), FErrorCode(AErrorCode) {
    (void)Unused;
  }
  std::string ClassName() const override { return "EVantorException"; }
  int32_t ErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;  // server or frame error code
};

// Message table of the frame.
inline constexpr char VDB_ERR_LIB_PATH_NOT_FOUND[] = "Could not find database library path";
inline constexpr char VDB_ERR_LIB_LOAD_FAILED[] = "Could not load the Database Interface library";
inline constexpr char VDB_ERR_LIB_INIT_FAILED[] = "Unable to initialize database interface";
inline constexpr char VDB_ERR_LIB_WRONG[] =
    "Function not supported by this version of the Database Interface library";
inline constexpr char VDB_ERR_SESS_NIL[] = "The session property is not linked to a session";
inline constexpr char VDB_ERR_SESS_TRANS_ACTIVE[] = "A user transaction is already in progress";
inline constexpr char VDB_ERR_SESS_CONNECTED[] = "Cannot perform this operation while connected to a database";
inline constexpr char VDB_ERR_SESS_INVALID_HANDLE[] = "Invalid database handle";
inline constexpr char VDB_ERR_STMT_NOT_PREPARED[] = "The statement is not prepared";
inline constexpr char VDB_ERR_CURS_NOT_QUERY[] = "The statement doesn't return a result-set";
inline constexpr char VDB_ERR_CURS_IS_QUERY[] = "The statement returns a result-set";
inline constexpr char VDB_ERR_CURS_BI_NOT_SUPP[] = "Bidirectional cursors not supported";
inline constexpr char VDB_ERR_CURS_NOT_PREPARED[] = "The cursor is not prepared";
inline constexpr char VDB_ERR_CURS_NOT_OPENED[] = "The cursor is not opened";
inline constexpr char VDB_ERR_CURS_READ_ONLY[] = "The cursor is read-only";
inline constexpr char VDB_ERR_CURS_MISSING_ROWID[] = "Cursor is missing rowid";
inline constexpr char VDB_ERR_FIELD_NOT_FOUND[] = "Field \"%s\" not found";
inline constexpr char VDB_ERR_PARAM_NOT_FOUND[] = "Host variable \"%s\" not found";
inline constexpr char VDB_ERR_BLOB_REQUIRED[] = "Field \"%s\" is not a blob";
inline constexpr char VDB_ERR_BLOB_STREAM_INVALID[] = "Not a valid stream parameter";
inline constexpr char VDB_ERR_BLOB_PICTURE_INVALID[] = "Not a valid picture parameter";
inline constexpr char VDB_TXT_FALSE[] = "False";
inline constexpr char VDB_TXT_TRUE[] = "True";

// Prefix of the cursor names the concrete statement makes up.
inline constexpr char szVantorLibraryShortName[] = "VDB";

// Fallback for an entry point the loaded library version does not export:
// calling it raises EVantorException with VDB_ERR_LIB_WRONG and code 0.
void VdbDummyProc();
// Fallback for an optional entry point: answers 0 and raises nothing.
int32_t VdbDummyProcNoExcept() noexcept;

// The two fallbacks with the exact signature of an entry-point type, so a
// missing entry point can be bound and called without casting between
// function types: VdbAssignProcAddress(P, Address, VdbDummyEntry<TProc>()).
template <class Proc>
struct TVdbDummyEntry;
template <class R, class... A>
struct TVdbDummyEntry<R (*)(A...)> {
  static R Raise(A...) {
    VdbDummyProc();
    return R();
  }
  static R Quiet(A...) noexcept { return R(); }
};
template <class Proc>
Proc VdbDummyEntry() {
  return &TVdbDummyEntry<Proc>::Raise;
}
template <class Proc>
Proc VdbDummyEntryNoExcept() {
  return &TVdbDummyEntry<Proc>::Quiet;
}

// Hands the exception being handled to the application's exception hook
// with Sender, when an application object is installed; otherwise nothing.
void VdbApplicationHandleException(vcl::TObject* Sender);

// Passed as the only parameter value to say that there are no parameter
// values. Null for the whole life of the program.
extern const vcl::Variant VdbEmptyParam;

// Registers the frame's streamable classes (TVantorSession and its
// published properties) with the form-file class registry; idempotent. A
// concrete session's registration calls it first, since static
// initialisation order between modules is not defined.
void VdbRegisterBaseClasses();

// ---------------------------------------------------------------------------
// Session

class TVantorSession;

// The abstract statement (core/VdbBase.Statement.h, included at the end).
class TVantorSQL;

// The abstract session: loads the client library, holds one connection (its
// own or a borrowed one) and the register of the statements and dataset
// users that work through it. Every client-library action is a virtual
// operation of the concrete session.
//
// A concrete session's destructor calls Shutdown() first, while its own
// overrides can still run: that disconnects and frees the library.
class TVantorSession : public vcl::TComponent {
 public:
  explicit TVantorSession(vcl::TComponent* AOwner);
  ~TVantorSession() override;
  std::string ClassName() const override { return "TVantorSession"; }

  // Connection
  void Open();
  void Close();
  bool Connected() const { return FHandle != nullptr; }
  void SetConnected(bool Value);
  void OpenSession(vcl::TComponent* Component);
  void CloseSession(vcl::TComponent* Component);
  void* Handle() const { return FHandle; }
  // Adopts a foreign connection handle (null: back to the own connection).
  void SetHandle(void* Value);
  bool HandleShared() const { return FHandleShared; }
  int32_t OpenCount() const { return FOpenCount; }
  vcl::TComponent* GetDataSet(int32_t Index) const;
  int32_t GetDataSetCount() const { return FDataSets.Count(); }

  // Library
  vcl::HMODULE LibraryHandle() const { return FLibraryHandle; }
  const std::string& LibraryFile() const { return FLibraryFile; }
  void SetLibraryFile(const std::string& Value);
  const std::string& LibraryPath() const { return FLibraryPath; }
  void SetLibraryPath(const std::string& Value);
  const std::string& LibraryDirectory() const { return FLibraryDirectory; }
  void InternalNeedLibrary();
  void InternalLoadLibrary();
  void InternalFreeLibrary();

  // Statement register
  void AddQuery(TVantorSQL* SQL);
  void RemoveQuery(TVantorSQL* SQL);
  int32_t QueryCount() const { return static_cast<int32_t>(FQueries.size()); }
  TVantorSQL* GetQuery(int32_t Index) const;
  void InternalCloseQueries();
  void InternalInvalidateQueries();

  // Errors
  template <class E = EVantorException>
  [[noreturn]] void RaiseLastError(const std::string& Message, int32_t Code) {
    FLastError = Message;
    FLastErrorCode = Code;
    throw E(Message, Code, 0);
  }
  void CheckPushError();
  const std::string& LastError() const { return FLastError; }
  int32_t LastErrorCode() const { return FLastErrorCode; }
  const std::string& PushedError() const { return FPushedError; }
  int32_t PushedErrorCode() const { return FPushedErrorCode; }

  // Transactions
  void StartTransaction();
  void Commit();
  void Rollback();
  bool InTransaction() const { return FInTransaction; }

  // Converts Length characters between the ANSI and the OEM code page when
  // OEMConvert is on (Source and Dest may be the same buffer); otherwise
  // does nothing.
  void TranslateChar(const char* Source, char* Dest, int32_t Length, bool ToOem) const;

  // Properties
  bool AutoCommit() const { return FAutoCommit; }
  void SetAutoCommit(bool Value) { FAutoCommit = Value; }
  bool CommitOnDisconnect() const { return FCommitOnDisconnect; }
  void SetCommitOnDisconnect(bool Value) { FCommitOnDisconnect = Value; }
  bool KeepConnection() const { return FKeepConnection; }
  void SetKeepConnection(bool Value);
  const std::string& LoginDatabase() const { return FLoginDatabase; }
  void SetLoginDatabase(const std::string& Value) { FLoginDatabase = Value; }
  const std::string& LoginUser() const { return FLoginUser; }
  void SetLoginUser(const std::string& Value) { FLoginUser = Value; }
  const std::string& LoginPassword() const { return FLoginPassword; }
  void SetLoginPassword(const std::string& Value) { FLoginPassword = Value; }
  bool OEMConvert() const { return FOEMConvert; }
  void SetOEMConvert(bool Value) { FOEMConvert = Value; }
  bool ConnectOnLoading() const { return FConnectOnLoading; }
  void SetConnectOnLoading(bool Value) { FConnectOnLoading = Value; }
  bool StreamedConnected() const { return FStreamedConnected; }
  bool WantExceptions() const { return FWantExceptions; }
  void SetWantExceptions(bool Value) { FWantExceptions = Value; }

  // Events
  const vcl::TNotifyEvent& AfterConnect() const { return FAfterConnect; }
  void SetAfterConnect(vcl::TNotifyEvent Value) { FAfterConnect = std::move(Value); }
  const vcl::TNotifyEvent& BeforeConnect() const { return FBeforeConnect; }
  void SetBeforeConnect(vcl::TNotifyEvent Value) { FBeforeConnect = std::move(Value); }
  const vcl::TNotifyEvent& AfterDisconnect() const { return FAfterDisconnect; }
  void SetAfterDisconnect(vcl::TNotifyEvent Value) { FAfterDisconnect = std::move(Value); }
  const vcl::TNotifyEvent& BeforeDisconnect() const { return FBeforeDisconnect; }
  void SetBeforeDisconnect(vcl::TNotifyEvent Value) { FBeforeDisconnect = std::move(Value); }
  const vcl::TNotifyEvent& OnError() const { return FOnError; }
  void SetOnError(vcl::TNotifyEvent Value) { FOnError = std::move(Value); }
  const vcl::TNotifyEvent& OnConnectionTerminated() const { return FOnConnectionTerminated; }
  void SetOnConnectionTerminated(vcl::TNotifyEvent Value) { FOnConnectionTerminated = std::move(Value); }

  // Virtual operations of the concrete session, in this order.
  virtual void InternalLoadLibraryProcs() = 0;
  virtual void InternalInitLibrary() {}
  virtual void InternalFiniLibrary() {}
  virtual void InternalOpenDatabase(void*& AHandle) = 0;
  virtual void InternalCloseDatabase() = 0;
  virtual void InternalSetHandle(void* AHandle) = 0;
  virtual bool Check(bool RaiseError) = 0;
  virtual bool CheckPopError(bool RaiseError) = 0;
  virtual void InternalCommit(bool RaiseError) = 0;
  virtual void InternalRollback() = 0;
  virtual bool Execute(const std::string& SQL);
  virtual std::string GetLibraryVersion() = 0;
  virtual bool Ping(const std::string& ConnectString);
  virtual bool Stop() = 0;

 protected:
  void Loaded() override;
  // Drops a registered user that is freed without CloseSession.
  void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override;
  // Disconnects and frees the library while the concrete overrides still
  // run; a concrete destructor calls it first. Idempotent.
  void Shutdown();

  std::vector<TVantorSQL*> FQueries;  // registered statements (not owned)
  vcl::TList FDataSets;               // users registered through OpenSession (not owned)
  bool FAutoCommit = true;            // interpreted by the concrete session and statement
  bool FCommitOnDisconnect = true;    // interpreted by the concrete disconnect
  bool FInTransaction = false;        // a user transaction is running
  bool FKeepConnection = true;        // stay connected when the last user leaves
  int32_t FOpenCount = 0;             // OpenSession calls not yet matched by CloseSession
  bool FHandleShared = false;         // FHandle was borrowed through SetHandle
  void* FHandle = nullptr;            // connection handle; connected exactly when set
  vcl::HMODULE FLibraryHandle = nullptr;  // the loaded client library
  std::string FLibraryFile;           // file name of the client library
  std::string FLibraryPath;           // its directory; empty means search
  std::string FLibraryDirectory;      // directory actually loaded from, with a trailing delimiter
  std::string FLoginDatabase;         // login properties, used by the concrete connect
  std::string FLoginUser;
  std::string FLoginPassword;
  bool FOEMConvert = false;           // convert text to and from the OEM code page
  bool FConnectOnLoading = true;      // honour a stored Connected = true at run time
  bool FStreamedConnected = false;    // Connected as read from the component stream
  std::string FLastError;             // text of the last error or warning
  int32_t FLastErrorCode = 0;         // code of the last error or warning
  std::string FPushedError;           // outcome saved by CheckPushError
  int32_t FPushedErrorCode = 0;
  vcl::TNotifyEvent FAfterConnect;
  vcl::TNotifyEvent FBeforeConnect;
  vcl::TNotifyEvent FAfterDisconnect;
  vcl::TNotifyEvent FBeforeDisconnect;
  vcl::TNotifyEvent FOnError;         // fired by the concrete Check
  vcl::TNotifyEvent FOnConnectionTerminated;  // fired by the concrete Check
  bool FWantExceptions = false;       // session-level server errors raise

 private:
  bool FShutDown = false;  // Shutdown() has run
};

}  // namespace vdb

#include "core/VdbBase.Statement.h"
