// One client connection to a running database: its own SQLite handle, its
// user, options and transaction, and the bracket every request runs in.
//
// Statements, cursors and server variables of the connection hang off this
// object as well (their tables are added beside the option store); every
// statement step goes through Step() so that transactions, the transaction
// log, cancel and lock waits behave the same for all of them.
#pragma once

#include "dbsrv/ConnectionEvents.h"
#include "dbsrv/Errors.h"
#include "dbsrv/Options.h"
#include "dbsrv/SqlValue.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_context;
struct sqlite3_value;

namespace vdbsrv {

class Database;
class AlertStore;
class BackupSession;
class SqlSession;

class Connection {
 public:
  // Interval after which a running request reports RequestWaiting, and again
  // after each further interval.
  static constexpr std::chrono::milliseconds kWaitInterval{100};

  // Takes ownership of handle, an open SQLite handle on the database's file.
  Connection(std::shared_ptr<Database> database, sqlite3* handle, uint32_t id, int32_t userId,
             std::string userName, std::string name);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  uint32_t Id() const { return id_; }
  const std::string& Name() const { return name_; }
  int32_t UserId() const { return userId_; }
  const std::string& UserName() const { return userName_; }
  Database& Db() const { return *database_; }
  const std::shared_ptr<Database>& DbPtr() const { return database_; }
  // Copies taken at connect, valid after the engine went away.
  const std::string& EngineName() const { return engineName_; }
  const std::string& EngineVersion() const { return engineVersion_; }
  const std::string& DatabaseName() const { return databaseName_; }

  // The SQLite handle; only inside a Request.
  sqlite3* Handle() const { return db_; }
  OptionStore& Options() { return options_; }

  // The client's receiver of waits and messages; nullptr for none.
  void SetEvents(ConnectionEvents* events) { events_ = events; }

  // ---- requests ----

  // Brackets one request: exclusive use of the connection by one thread.
  // Throws ServerError -308 when the connection was dropped, -101 when it
  // was closed, errRuntime when the same thread is already inside a request.
  class Request {
   public:
    explicit Request(Connection& c);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

   private:
    Connection& c_;
  };

  // 1 while a request runs.
  bool IsWorking() const { return working_.load(std::memory_order_acquire); }
  // True while another thread than the caller runs a request here.
  bool BusyElsewhere() const {
    return IsWorking() && requestThread_.load() != std::this_thread::get_id();
  }
  // Ends the running request with -299; any thread; no-op when idle.
  void Cancel();
  // True once the server dropped the connection (engine or database stop).
  bool Dropped() const { return dropped_.load(std::memory_order_acquire); }
  // Called by the registry: marks the connection dropped, interrupts a
  // running request and closes the handle (now, or when that request ends).
  void Drop();
  // Rolls back and closes the handle; the client's disconnect.
  void Close();

  // ---- execution ----

  // Steps a statement prepared on Handle(): begins the transaction before
  // the first change (and before the first read at isolation 2 and 3),
  // records changes for the transaction log, waits for locks as the
  // "blocking" options say. Answers SQLITE_ROW or SQLITE_DONE; throws
  // ServerError for everything else (-299 on cancel, -308 when dropped).
  // bound, when given, holds the values bound to every parameter, in order:
  // the log then records them as they are instead of as SQL literals.
  int Step(sqlite3_stmt* statement, std::span<const SqlValue> bound = {});
  // Runs a text of one or more statements, including the statements the
  // connection handles itself (commit, rollback, set option, message,
  // create database). Answers the rows the last statement changed.
  int64_t ExecuteImmediate(std::string_view sql);

  // A function called from SQL failed: the step that ran it throws this
  // error instead of SQLite's.
  void SetFunctionError(Error e) { functionError_ = std::move(e); hasFunctionError_ = true; }

  // Sleeps within a request, reporting waits and ending early with -299 on
  // cancel (the server's "waitfor delay").
  void Wait(std::chrono::milliseconds duration);
  // For a request that waits on something else: throws -299 on cancel,
  // -308 when dropped, and reports the wait to the client.
  void CheckWaiting();
  // Delivers a server message to the client during the current request.
  void Message(MessageType type, std::string_view text, int32_t code = 0);

  // ---- transactions ----

  bool InTransaction() const { return inTransaction_.load(std::memory_order_acquire); }
  // Opens the transaction now when none is open (before changes made in
  // several statements that must stay together, such as catalog rows).
  void BeginWrite();
  void Commit();
  void Rollback();

  // The backup running on this connection, created by the first backup call.
  BackupSession* Backup() const { return backup_.get(); }
  void SetBackup(std::unique_ptr<BackupSession> backup);

  // Prepared statements, cursors and server variables; only inside a Request.
  SqlSession& Sql();

  // The database's alert store; the connection's subscriptions end with it.
  AlertStore& Alerts();

 private:
  static int ProgressHandler(void* self);
  static int BusyHandler(void* self, int count);
  static void MessageFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
  static void WaitforFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
  bool Interrupted();
  void ReportWaiting();
  void BeginTransaction();
  void CloseHandle();
  [[noreturn]] void ThrowStepError(int rc);

  std::shared_ptr<Database> database_;
  sqlite3* db_;                 // owned; nullptr once closed
  const uint32_t id_;           // unique in the process
  const int32_t userId_;
  const std::string userName_;
  const std::string name_;      // "con=" name or a generated one
  std::string engineName_, engineVersion_, databaseName_;
  OptionStore options_;
  ConnectionEvents* events_ = nullptr;  // not owned

  std::mutex requestMu_;                       // held for the length of a request
  std::atomic<std::thread::id> requestThread_{};  // thread inside a request
  std::mutex handleMu_;                        // guards db_ against close during interrupt
  std::atomic<bool> working_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<bool> dropped_{false};
  std::atomic<bool> inTransaction_{false};
  std::chrono::steady_clock::time_point requestStart_, lastWait_;
  std::vector<std::string> pendingLog_;  // changing statements of the open transaction
  std::unique_ptr<BackupSession> backup_;
  std::unique_ptr<SqlSession> sql_;  // created by the first Sql()
  std::atomic<bool> alerts_{false};  // the connection used the alert store
  Error functionError_;              // see SetFunctionError
  bool hasFunctionError_ = false;
};

}  // namespace vdbsrv
