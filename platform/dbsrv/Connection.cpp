#include "dbsrv/Connection.h"

#include "dbsrv/Alerts.h"
#include "dbsrv/Backup.h"
#include "dbsrv/Catalog.h"
#include "dbsrv/Database.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ServerStatement.h"
#include "dbsrv/SqlSession.h"

#include <sqlite3.h>

#include <memory>

namespace vdbsrv {

namespace {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

}  // namespace

Connection::Connection(std::shared_ptr<Database> database, sqlite3* handle, uint32_t id,
                       int32_t userId, std::string userName, std::string name)
    : database_(std::move(database)),
      db_(handle),
      id_(id),
      userId_(userId),
      userName_(std::move(userName)),
      name_(std::move(name)),
      engineName_(database_->EngineName()),
      engineVersion_(database_->EngineVersion()),
      databaseName_(database_->Name()),
      options_(database_->Options()) {
  sqlite3_progress_handler(db_, 1000, &Connection::ProgressHandler, this);
  sqlite3_busy_handler(db_, &Connection::BusyHandler, this);
  sqlite3_create_function_v2(db_, "vdb_message", -1, SQLITE_UTF8, this,
                             &Connection::MessageFunction, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db_, "vdb_waitfor", 1, SQLITE_UTF8, this,
                             &Connection::WaitforFunction, nullptr, nullptr, nullptr);
}

Connection::~Connection() { CloseHandle(); }

void Connection::SetBackup(std::unique_ptr<BackupSession> backup) { backup_ = std::move(backup); }

AlertStore& Connection::Alerts() {
  alerts_.store(true);
  return database_->Alerts();
}

SqlSession& Connection::Sql() {
  if (!sql_) sql_ = std::make_unique<SqlSession>(*this);
  return *sql_;
}

// ---- requests ----

Connection::Request::Request(Connection& c) : c_(c) {
  if (c.requestThread_.load() == std::this_thread::get_id())
    throw ServerError(errRuntime, "a request is already running on this connection");
  c.requestMu_.lock();
  c.requestThread_.store(std::this_thread::get_id());
  if (c.dropped_.load() || !c.db_) {
    bool dropped = c.dropped_.load();
    c.requestThread_.store(std::thread::id());
    c.requestMu_.unlock();
    throw ServerError(dropped ? errConnectionTerminated : errNotConnected);
  }
  c.cancel_.store(false);
  c.hasFunctionError_ = false;
  c.requestStart_ = c.lastWait_ = std::chrono::steady_clock::now();
  c.working_.store(true, std::memory_order_release);
}

Connection::Request::~Request() {
  c_.working_.store(false, std::memory_order_release);
  // A drop that arrived during the request closes the handle now.
  if (c_.dropped_.load()) c_.CloseHandle();
  c_.requestThread_.store(std::thread::id());
  c_.requestMu_.unlock();
}

void Connection::Cancel() {
  if (!working_.load(std::memory_order_acquire)) return;
  cancel_.store(true);
  // From inside the request (a wait callback) the progress handler sees the flag.
  if (requestThread_.load() == std::this_thread::get_id()) return;
  std::lock_guard lock(handleMu_);
  if (db_) sqlite3_interrupt(db_);
}

void Connection::Drop() {
  dropped_.store(true);
  {
    std::lock_guard lock(handleMu_);
    if (db_) sqlite3_interrupt(db_);
  }
  if (requestThread_.load() == std::this_thread::get_id()) return;  // closed when the request ends
  if (requestMu_.try_lock()) {
    CloseHandle();
    requestMu_.unlock();
  }
}

void Connection::Close() {
  if (requestThread_.load() == std::this_thread::get_id())
    throw ServerError(errRuntime, "cannot disconnect inside a request");
  std::lock_guard request(requestMu_);
  CloseHandle();
}

void Connection::CloseHandle() {
  backup_.reset();
  sql_.reset();  // its SQLite statements go before the handle
  sqlite3* db = nullptr;
  {
    // Only the pointer under the lock: closing takes SQLite's own mutex.
    std::lock_guard lock(handleMu_);
    std::swap(db, db_);
  }
  if (!db) return;
  if (alerts_.exchange(false)) database_->Alerts().ReleaseConnection(id_);
  // Closing with an open transaction rolls it back.
  sqlite3_close_v2(db);
  inTransaction_.store(false);
  pendingLog_.clear();
}

bool Connection::Interrupted() { return cancel_.load() || dropped_.load(); }

void Connection::ReportWaiting() {
  auto now = std::chrono::steady_clock::now();
  if (now - lastWait_ < kWaitInterval) return;
  lastWait_ = now;
  if (events_) events_->RequestWaiting();
}

int Connection::ProgressHandler(void* self) {
  auto* c = static_cast<Connection*>(self);
  if (c->Interrupted()) return 1;
  c->ReportWaiting();
  return c->Interrupted() ? 1 : 0;
}

int Connection::BusyHandler(void* self, int /*count*/) {
  auto* c = static_cast<Connection*>(self);
  if (!c->options_.Blocking() || c->Interrupted()) return 0;
  int timeout = c->options_.BlockingTimeoutMs();
  if (timeout > 0 &&
      std::chrono::steady_clock::now() - c->requestStart_ >= std::chrono::milliseconds(timeout))
    return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  c->ReportWaiting();
  return c->Interrupted() ? 0 : 1;
}

void Connection::MessageFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  // vdb_message(text) or vdb_message(type, text) or vdb_message(type, code, text)
  auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  if (argc < 1 || argc > 3) {
    sqlite3_result_error(ctx, "vdb_message takes 1 to 3 arguments", -1);
    return;
  }
  int type = argc >= 2 ? sqlite3_value_int(argv[0]) : mtInfo;
  int code = argc == 3 ? sqlite3_value_int(argv[1]) : 0;
  sqlite3_value* textValue = argv[argc - 1];
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(textValue));
  std::string_view msg(text ? text : "", static_cast<size_t>(sqlite3_value_bytes(textValue)));
  c->Message(static_cast<MessageType>(type & 0xff), msg, code);
  sqlite3_result_null(ctx);
}

void Connection::WaitforFunction(sqlite3_context* ctx, int /*argc*/, sqlite3_value** argv) {
  auto* c = static_cast<Connection*>(sqlite3_user_data(ctx));
  try {
    c->Wait(std::chrono::milliseconds(sqlite3_value_int64(argv[0])));
    sqlite3_result_null(ctx);
  } catch (const ServerError&) {
    sqlite3_result_error_code(ctx, SQLITE_INTERRUPT);
  }
}

void Connection::Wait(std::chrono::milliseconds duration) {
  auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    if (Interrupted()) break;
    std::this_thread::sleep_for(std::min<std::chrono::nanoseconds>(
        std::chrono::milliseconds(10), end - std::chrono::steady_clock::now()));
    ReportWaiting();
  }
  if (dropped_.load()) throw ServerError(errConnectionTerminated);
  if (cancel_.load()) throw ServerError(errInterrupted);
}

void Connection::CheckWaiting() {
  if (dropped_.load()) throw ServerError(errConnectionTerminated);
  if (cancel_.load()) throw ServerError(errInterrupted);
  ReportWaiting();
}

void Connection::Message(MessageType type, std::string_view text, int32_t code) {
  if (events_) events_->ServerMessage(type, code, text);
}

// ---- execution ----

void Connection::ThrowStepError(int rc) {
  if (dropped_.load()) throw ServerError(errConnectionTerminated);
  if ((rc & 0xff) == SQLITE_INTERRUPT) throw ServerError(errInterrupted);
  Error e;
  if (hasFunctionError_) {
    e = std::move(functionError_);
    hasFunctionError_ = false;
  } else {
    e = MapSqliteError(db_, rc);
  }
  // SQLite rolled back on its own (disk full, I/O): the transaction is gone.
  if (inTransaction_.load() && sqlite3_get_autocommit(db_)) {
    inTransaction_.store(false);
    pendingLog_.clear();
  }
  throw ServerError(std::move(e));
}

void Connection::BeginTransaction() {
  // IMMEDIATE takes the write lock now, so that a later write cannot fail
  // after the transaction has read.
  int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowStepError(rc);
  inTransaction_.store(true);
}

void Connection::BeginWrite() {
  if (!db_) throw ServerError(dropped_.load() ? errConnectionTerminated : errNotConnected);
  if (!inTransaction_.load() && sqlite3_get_autocommit(db_)) BeginTransaction();
}

int Connection::Step(sqlite3_stmt* statement, std::span<const SqlValue> bound) {
  if (!db_) throw ServerError(dropped_.load() ? errConnectionTerminated : errNotConnected);
  bool changes = !sqlite3_stmt_readonly(statement);
  if (!inTransaction_.load() && sqlite3_get_autocommit(db_) &&
      (changes || options_.IsolationLevel() >= 2) && !sqlite3_stmt_busy(statement))
    BeginTransaction();
  int rc = sqlite3_step(statement);
  if (rc == SQLITE_ROW) return rc;
  if (rc == SQLITE_DONE) {
    if (changes) {
      // The statement's own text when nothing is bound; its text and values
      // when the caller gave them; else SQLite's text with the values as
      // literals.
      const int parameters = sqlite3_bind_parameter_count(statement);
      if (parameters == 0) {
        if (const char* sql = sqlite3_sql(statement)) pendingLog_.emplace_back(sql);
      } else if (bound.size() == static_cast<size_t>(parameters)) {
        pendingLog_.push_back(TransactionLog::BoundEntry(sqlite3_sql(statement), bound));
      } else {
        char* sql = sqlite3_expanded_sql(statement);
        if (sql) pendingLog_.emplace_back(sql);
        sqlite3_free(sql);
      }
    }
    return rc;
  }
  ThrowStepError(rc);
}

int64_t Connection::ExecuteImmediate(std::string_view sql) {
  if (!db_) throw ServerError(dropped_.load() ? errConnectionTerminated : errNotConnected);
  int64_t rows = 0;
  const char* pos = sql.data();
  const char* end = sql.data() + sql.size();
  while (pos < end) {
    // Statements the connection handles itself come one per text.
    if (auto own = ParseServerStatement(std::string_view(pos, static_cast<size_t>(end - pos)))) {
      switch (own->kind) {
        case sskCommit: Commit(); break;
        case sskRollback: Rollback(); break;
        case sskBegin:
          if (!inTransaction_.load()) BeginTransaction();
          break;
        case sskSetOption: options_.Set(own->name, own->value, own->isPublic); break;
        case sskMessage: Message(own->messageType, own->text); break;
        case sskCreateDatabase: CreateDatabase(own->text); break;
      }
      return 0;
    }
    sqlite3_stmt* raw = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, pos, static_cast<int>(end - pos), &raw, &tail);
    StmtPtr st(raw);
    if (rc != SQLITE_OK) ThrowStepError(rc);
    pos = tail;
    if (!st) continue;  // blanks or a comment
    while (Step(st.get()) == SQLITE_ROW) {
    }
    rows = sqlite3_changes64(db_);
  }
  return rows;
}

// ---- transactions ----

void Connection::Commit() {
  if (!db_) throw ServerError(dropped_.load() ? errConnectionTerminated : errNotConnected);
  if (sqlite3_get_autocommit(db_)) {
    inTransaction_.store(false);
    pendingLog_.clear();
    return;
  }
  TransactionLog& log = database_->Log();
  std::lock_guard lock(log.Mutex());
  int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowStepError(rc);
  inTransaction_.store(false);
  std::vector<std::string> committed;
  committed.swap(pendingLog_);
  log.Append(committed);
}

void Connection::Rollback() {
  if (!db_) throw ServerError(dropped_.load() ? errConnectionTerminated : errNotConnected);
  if (!sqlite3_get_autocommit(db_)) {
    int rc = sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowStepError(rc);
  }
  inTransaction_.store(false);
  pendingLog_.clear();
}

}  // namespace vdbsrv
