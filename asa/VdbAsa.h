// The SQL Anywhere session: binds the embedded-SQL client library loaded at
// run time, connects as a client, a private server or a workgroup member,
// relays the server's callbacks to events and offers the session services
// (options, connection information, cancel, online backup).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/VdbBase.h"
#include "vdb_esql.h"

namespace vdb {

class TAsaSession;

// Errors of the SQL Anywhere layer; ErrorCode is the server's sqlcode.
class EAsaException : public EVantorException {
 public:
  using EVantorException::EVantorException;
  std::string ClassName() const override { return "EAsaException"; }
};

// How a connect reaches its server.
enum TAsaServerType : uint8_t {
  stClient,     // connect to a running server (or one the connect string starts)
  stServer,     // start a private engine with the database first
  stWorkgroup,  // connect, starting the engine only when none serves the database
};

// The "isolation_level" option set after connecting; atUnchanged sends none.
enum TAsaTransIsolation : uint8_t {
  atUnchanged,
  atReadUncommitted,
  atReadCommitted,
  atReapeatableRead,
  atSerializable,
};

// What db_connection_info reports (library index = ordinal + 1).
enum TAsaConnectionInfo : uint8_t { ciEngineVersion, ciEngineName, ciDatabaseName };

// What db_get_property reports (library index = ordinal).
enum TAsaPropertyType : uint8_t { ptServerAddress };

// Kind of a message the server sends to the client.
enum TServerMessageType : uint8_t { smtUnknown, smtInfo, smtWarning, smtAction, smtStatus };

// What an online backup copies and what it does with the transaction log.
enum TBackupType : uint8_t {
  btFull,                // database files and log, log untouched
  btFullRenameLog,       // database files and log, server log renamed and restarted
  btRenameLog,           // log only, renamed and restarted on the server, nothing written here
  btFullRenameLocalLog,  // as btFullRenameLog, local copy named like the renamed log
  btRenameLocalLog,      // log only, local copy named like the renamed log
  btFullRestartLog,      // as btFullRenameLog, renamed server log deleted
  btRestartLog,          // log only, renamed server log deleted, nothing written here
};

using TServerWaitEvent = std::function<void(vcl::TObject* Sender, bool& AbortRequest)>;
using TServerMessageEvent = std::function<void(vcl::TObject* Sender, TServerMessageType MessageType,
                                               int32_t MessageCode, const std::string& Msg)>;
using TDebugMessageEvent = std::function<void(vcl::TObject* Sender, const std::string& Msg)>;
using TLocateServersEvent =
    std::function<void(vcl::TObject* Sender, const std::string& ServerName, const std::string& ServerAddress,
                       int32_t ServerPort, bool& AbortLocate)>;
using TBackupEvent = std::function<void(vcl::TObject* Sender, const std::string& BackupFile, int32_t CurrPage,
                                        int32_t NumOfPages, bool& AbortBackup)>;

// One statement number the session's statements have used.
struct TAsaStatement {
  int32_t Number = 0;  // the library's statement number
  bool InUse = true;   // a prepared statement holds it
};

// Statement numbers freed by dropped statements, handed to the next
// prepare so the library does not assign fresh ones.
class TAsaStatementPool {
 public:
  TAsaStatementPool(TAsaSession* ASession, int32_t Capacity);
  ~TAsaStatementPool();
  TAsaStatementPool(const TAsaStatementPool&) = delete;
  TAsaStatementPool& operator=(const TAsaStatementPool&) = delete;

  void Clear();
  TAsaStatement* Find(int32_t Number) const;
  // The first number not in use; 0 (the library assigns one) when none.
  int32_t Next() const;
  void Use(int32_t Number);
  void Drop(int32_t Number);
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }

 private:
  TAsaSession* FSession;                               // owner, asked for its library version
  std::vector<std::unique_ptr<TAsaStatement>> FItems;  // in creation order
};

// The session's entry points of the client library. Optional ones stay
// null when the library lacks them; the others fall back to a stub raising
// VDB_ERR_LIB_WRONG. The dbpp_ calls exist in two forms: with a program
// block below library version 7, without from 7 on.
struct TAsaSessionProcs {
  db_init_fn db_init = nullptr;
  db_fini_fn db_fini = nullptr;
  db_version_check_fn db_version_check = nullptr;  // optional
  db_string_connect_fn db_string_connect = nullptr;
  db_string_disconnect_fn db_string_disconnect = nullptr;
  db_start_engine_fn db_start_engine = nullptr;
  db_stop_engine_fn db_stop_engine = nullptr;
  db_start_database_fn db_start_database = nullptr;
  db_stop_database_fn db_stop_database = nullptr;
  db_delete_file_fn db_delete_file = nullptr;
  db_register_a_callback_fn db_register_a_callback = nullptr;
  sqlerror_message_fn sqlerror_message = nullptr;
  db_cancel_request_fn db_cancel_request = nullptr;
  db_is_working_fn db_is_working = nullptr;
  db_time_change_fn db_time_change = nullptr;  // optional
  db_backup_fn db_backup = nullptr;
  db_connection_info_fn db_connection_info = nullptr;
  db_get_property_fn db_get_property = nullptr;  // optional
  db_locate_servers_fn db_locate_servers = nullptr;  // optional
  sql_needs_quotes_fn sql_needs_quotes = nullptr;
  db_string_ping_server_fn db_string_ping_server = nullptr;  // optional
  db_find_engine_fn db_find_engine = nullptr;
  alloc_sqlda_fn alloc_sqlda = nullptr;
  free_sqlda_fn free_sqlda = nullptr;
  dbpp_commit_fn dbpp_commit = nullptr;
  dbpp_rollback_fn dbpp_rollback = nullptr;
  dbpp_getoption_fn dbpp_getoption = nullptr;
  dbpp_setoption_fn dbpp_setoption = nullptr;
  // The same four entry points typed for libraries below version 7.
  dbpp_commit_pb_fn dbpp_commit_pb = nullptr;
  dbpp_rollback_pb_fn dbpp_rollback_pb = nullptr;
  dbpp_getoption_pb_fn dbpp_getoption_pb = nullptr;
  dbpp_setoption_pb_fn dbpp_setoption_pb = nullptr;
};

// Records the trampolines hand to the callback methods.
struct TAsaCallbackRecord {
  SQLCA* Sqlca;  // the SQLCA the library called back with
};
struct TAsaMessageRecord {
  SQLCA* Sqlca;
  int16_t MessageType;  // the library's 8-bit type, widened
  int32_t Code;
  uint16_t Length;      // bytes of Text
  const char* Text;
};
struct TAsaDroppedRecord {
  SQLCA* Sqlca;
  const char* ConnectionName;
};
struct TAsaDebugRecord {
  SQLCA* Sqlca;
  const char* Text;
};
struct TAsaLocateRecord {
  SQLCA* Sqlca;
  const a_server_address* Server;
  void* UserValue;
  int32_t Result;  // 1 continue with the next server, 0 stop
};

// A registration's plain function, bound to one session and one method
// until released. Defined with the pools in VdbAsa.Callbacks.cpp.
struct TAsaAdapter;

class TAsaSession : public TVantorSession {
 public:
  explicit TAsaSession(vcl::TComponent* AOwner);
  ~TAsaSession() override;
  std::string ClassName() const override { return "TAsaSession"; }

  // Connection strings built from the login properties.
  std::string GetEngineParam() const;
  std::string GetDatabaseFileParam() const;
  std::string GetDatabaseNameParam() const;
  std::string GetStartDatabaseParams() const;
  std::string GetStartRemoteParams() const;
  std::string GetStopRemoteParams() const;
  std::string GetConnectEngineParams() const;
  std::string GetConnectDatabaseParams() const;

  // Starts an engine for the login properties; EngineStarted tells whether
  // this call started it.
  void StartDatabaseEngine(bool& EngineStarted);
  // Start or stop the login database on a running server without staying
  // connected. ConnectString may be null or empty.
  bool StartDatabase(const char* ConnectString);
  bool StopDatabase(const char* ConnectString);

  // Frame overrides.
  void InternalLoadLibraryProcs() override;
  void InternalInitLibrary() override;
  void InternalFiniLibrary() override;
  void InternalOpenDatabase(void*& AHandle) override;
  void InternalCloseDatabase() override;
  void InternalSetHandle(void* AHandle) override;
  bool Check(bool RaiseError) override;
  bool CheckPopError(bool RaiseError) override;
  void InternalCommit(bool RaiseError) override;
  void InternalRollback() override;
  std::string GetLibraryVersion() override;
  bool Ping(const std::string& ConnectString) override;
  bool Stop() override;

  // Services.
  bool GetOption(const std::string& Name, std::string& Value);
  bool SetOption(const std::string& Name, const std::string& Value);
  void SetAnsiUpdateConstraints(const std::string& Value);
  bool GetConnectionInfo(TAsaConnectionInfo Info, std::string& Value);
  bool GetProperty(TAsaPropertyType Prop, std::string& Value);
  bool IsWorking();
  bool TimeChange();
  bool NeedQuotes(const std::string& Identifier);
  bool LocateServers();
  bool Backup(const std::string& Directory, TBackupType BackupType);

  // Callback methods, reached through the adapters.
  void StartCall(TAsaCallbackRecord& Rec);
  void FinishCall(TAsaCallbackRecord& Rec);
  void WaitCall(TAsaCallbackRecord& Rec);
  void ServerMessageCall(TAsaMessageRecord& Rec);
  void ConnDroppedCall(TAsaDroppedRecord& Rec);
  void DebugMessageCall(TAsaDebugRecord& Rec);
  void LocateServerCall(TAsaLocateRecord& Rec);

  // What the statements need of the session.
  SQLCA* Sqlca() { return FCurrentSqlca; }
  SQLCA* OwnSqlca() { return &FSqlca; }
  const a_program_block* ProgramBlock() const { return &FProgramBlock; }
  uint8_t LibraryVersion() const { return FLibraryVersion; }
  uint8_t EngineVersion() const { return FEngineVersion; }
  TAsaStatementPool* StatementPool() const { return FStatementPool.get(); }
  const TAsaSessionProcs& Procs() const { return FProcs; }

  // Properties.
  const std::string& ClientParams() const { return FClientParams; }
  void SetClientParams(const std::string& Value) { FClientParams = Value; }
  const std::string& ServerParams() const { return FServerParams; }
  void SetServerParams(const std::string& Value) { FServerParams = Value; }
  const std::string& LoginEngineName() const { return FLoginEngineName; }
  void SetLoginEngineName(const std::string& Value) { FLoginEngineName = Value; }
  TAsaServerType ServerType() const { return FServerType; }
  void SetServerType(TAsaServerType Value);
  TAsaTransIsolation TransIsolation() const { return FTransIsolation; }
  void SetTransIsolation(TAsaTransIsolation Value);
  bool TrimBlanks() const { return FTrimBlanks; }
  void SetTrimBlanks(bool Value) { FTrimBlanks = Value; }
  bool WantRowCounts() const { return FWantRowCounts; }
  void SetWantRowCounts(bool Value);

  // Events.
  const TBackupEvent& OnBackup() const { return FOnBackup; }
  void SetOnBackup(TBackupEvent Value) { FOnBackup = std::move(Value); }
  const vcl::TNotifyEvent& OnConnectionDropped() const { return FOnConnectionDropped; }
  void SetOnConnectionDropped(vcl::TNotifyEvent Value) { FOnConnectionDropped = std::move(Value); }
  const TDebugMessageEvent& OnDebugMessage() const { return FOnDebugMessage; }
  void SetOnDebugMessage(TDebugMessageEvent Value) { FOnDebugMessage = std::move(Value); }
  const TLocateServersEvent& OnLocateServers() const { return FOnLocateServers; }
  void SetOnLocateServers(TLocateServersEvent Value) { FOnLocateServers = std::move(Value); }
  const vcl::TNotifyEvent& OnServerFinish() const { return FOnServerFinish; }
  void SetOnServerFinish(vcl::TNotifyEvent Value) { FOnServerFinish = std::move(Value); }
  const TServerMessageEvent& OnServerMessage() const { return FOnServerMessage; }
  void SetOnServerMessage(TServerMessageEvent Value) { FOnServerMessage = std::move(Value); }
  const vcl::TNotifyEvent& OnServerStart() const { return FOnServerStart; }
  void SetOnServerStart(vcl::TNotifyEvent Value) { FOnServerStart = std::move(Value); }
  const TServerWaitEvent& OnServerWait() const { return FOnServerWait; }
  void SetOnServerWait(TServerWaitEvent Value) { FOnServerWait = std::move(Value); }

 private:
  // One callback registered for the current connection.
  struct TRegistration {
    int32_t Index;          // the library's callback index
    TAsaAdapter* Adapter;   // the function registered there
  };

  bool Designing() const { return ComponentState().Contains(vcl::csDesigning); }
  bool Reading() const { return ComponentState().Contains(vcl::csReading); }
  bool BeingDestroyed() const { return ComponentState().Contains(vcl::csDestroying); }
  // Raises EAsaException with Message and Code, recorded as the last error.
  [[noreturn]] void RaiseAsa(const std::string& Message, int32_t Code);

  // The connect's parts (VdbAsa.Connect.cpp).
  void ConnectClient();
  void ConnectServer();
  void ConnectWorkgroup();
  void RegisterDebugCallback();
  void RegisterEventCallbacks();
  // Unregisters and releases every callback of the connection.
  void ReleaseCallbacks() noexcept;
  void ApplyConnectOptions();
  bool StartStopDatabase(const char* ConnectString, bool Start);

  // Program-block-aware calls of the dbpp_ entry points.
  int32_t CallCommit(SQLCA* Ca);
  int32_t CallRollback(SQLCA* Ca);
  int32_t CallGetOption(SQLCA* Ca, const char* Name, SQLDA* Da);
  int32_t CallSetOption(SQLCA* Ca, const char* Name, SQLDA* Da);

  // Backup of one file (VdbAsa.Backup.cpp).
  bool BackupFile(const std::string& Directory, TBackupType BackupType, int32_t File, SQLDA* Page);

  SQLCA FSqlca{};                       // the session's own SQLCA
  SQLCA* FCurrentSqlca;                 // own SQLCA, or one adopted through SetHandle
  a_program_block FProgramBlock{};      // passed to dbpp_ calls below library version 7
  int16_t FProgramVersion = 0;          // the constant the program block points at
  uint8_t FLibraryVersion = 0;          // 4 to 9
  uint8_t FEngineVersion = 0;           // major version of the connected server
  TAsaSessionProcs FProcs;              // bound entry points
  std::unique_ptr<TAsaStatementPool> FStatementPool;
  std::vector<TRegistration> FCallbacks;  // adapters registered for the current connection

  std::string FClientParams;            // extra connection parameters after the engine name
  std::string FServerParams;            // extra engine start parameters
  std::string FLoginEngineName;         // server (engine) name
  TAsaServerType FServerType = stClient;
  TAsaTransIsolation FTransIsolation = atUnchanged;
  bool FTrimBlanks = false;             // trim trailing blanks of fetched strings
  bool FWantRowCounts = true;           // the "row_counts" option

  TBackupEvent FOnBackup;
  vcl::TNotifyEvent FOnConnectionDropped;
  TDebugMessageEvent FOnDebugMessage;
  TLocateServersEvent FOnLocateServers;
  vcl::TNotifyEvent FOnServerFinish;
  TServerMessageEvent FOnServerMessage;
  vcl::TNotifyEvent FOnServerStart;
  TServerWaitEvent FOnServerWait;
};

// Registers TAsaSession and TAsaSQL (and the frame's classes) for form-file streaming;
// idempotent. Runs at start-up as well.
void VdbAsaRegisterClasses();

}  // namespace vdb

#include "asa/VdbAsa.SQL.h"
