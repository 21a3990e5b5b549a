#include "dbsrv/Alerts.h"

#include "dbsrv/Connection.h"
#include "dbsrv/Database.h"
#include "dbsrv/DialectLexer.h"
#include "dbsrv/Errors.h"

#include <sqlite3.h>

#include <condition_variable>
#include <csignal>
#include <cerrno>
#include <map>
#include <unistd.h>

namespace vdbsrv {

namespace {

struct Finalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, Finalizer>;

constexpr const char* kTables =
    "CREATE TABLE IF NOT EXISTS vdbsys_alert_subscriber(handle INTEGER PRIMARY KEY AUTOINCREMENT,"
    " subscription TEXT NOT NULL, pid INTEGER NOT NULL, connection INTEGER NOT NULL,"
    " stopped INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS vdbsys_alert_message(msg_id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " handle INTEGER NOT NULL, msg_name TEXT NOT NULL, msg TEXT, msg_param INTEGER);"
    "CREATE INDEX IF NOT EXISTS vdbsys_alert_message_handle ON vdbsys_alert_message(handle, msg_id);";

// How long a statement of the store waits for another connection's write lock.
constexpr int kBusyTimeoutMs = 5000;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// The names of a subscription, blanks around each removed, empty ones dropped.
std::vector<std::string_view> Names(std::string_view list) {
  std::vector<std::string_view> names;
  while (true) {
    size_t semi = list.find(';');
    std::string_view name = Trim(list.substr(0, semi));
    if (!name.empty()) names.push_back(name);
    if (semi == std::string_view::npos) break;
    list.remove_prefix(semi + 1);
  }
  return names;
}

void BindText(sqlite3_stmt* st, int i, std::string_view v) {
  sqlite3_bind_text64(st, i, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

std::string ColumnText(sqlite3_stmt* st, int c) {
  const unsigned char* t = sqlite3_column_text(st, c);
  return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(st, c)))
           : std::string();
}

// A short write transaction of the store; rolled back unless committed.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db) {
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
  }
  ~Transaction() {
    if (db_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  void Commit() {
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db_, rc);
    db_ = nullptr;
  }

 private:
  sqlite3* db_;
};

}  // namespace

// Wakes the waiters of one database file in this process.
struct AlertStore::Signal {
  std::mutex mu;
  std::condition_variable cv;
  uint64_t generation = 0;  // bumped by every change a waiter may care for

  static std::shared_ptr<Signal> For(const std::string& file) {
    static std::mutex registryMu;
    static std::map<std::string, std::weak_ptr<Signal>> registry;
    std::lock_guard lock(registryMu);
    std::shared_ptr<Signal> s = registry[file].lock();
    if (!s) {
      s = std::make_shared<Signal>();
      registry[file] = s;
    }
    return s;
  }
};

std::string AlertStore::PathFor(std::string_view databaseFile) { return std::string(databaseFile) + "-alerts"; }

AlertStore::AlertStore(const Database& database) : signal_(Signal::For(database.File())) {
  const std::string path = PathFor(database.File());
  int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                           nullptr);
  if (rc == SQLITE_OK) {
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    // Readers (waiting receivers polling) never hold up a writer.
    rc = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, kTables, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    Error e = MapSqliteError(db_, rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    throw ServerError(std::move(e));
  }
}

AlertStore::~AlertStore() { sqlite3_close_v2(db_); }

sqlite3_stmt* AlertStore::Prepare(const char* sql) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &st, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    ThrowSqlite(db_, rc);
  }
  return st;
}

int AlertStore::Step(sqlite3_stmt* st) {
  int rc = sqlite3_step(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(db_, rc);
  return rc;
}

bool AlertStore::HandleExists(int32_t handle) {
  StmtPtr st(Prepare("SELECT 1 FROM vdbsys_alert_subscriber WHERE handle=?"));
  sqlite3_bind_int(st.get(), 1, handle);
  return Step(st.get()) == SQLITE_ROW;
}

void AlertStore::Notify() {
  {
    std::lock_guard lock(signal_->mu);
    ++signal_->generation;
  }
  signal_->cv.notify_all();
}

int32_t AlertStore::Subscribe(const Connection& conn, std::string_view subscription) {
  if (Names(subscription).empty()) return alUnknownName;
  std::lock_guard lock(mu_);
  Transaction tx(db_);
  // Subscribers of processes that are gone receive nothing any more.
  std::vector<int64_t> gone;
  {
    StmtPtr pids(Prepare("SELECT DISTINCT pid FROM vdbsys_alert_subscriber WHERE pid<>?"));
    sqlite3_bind_int64(pids.get(), 1, ::getpid());
    while (Step(pids.get()) == SQLITE_ROW) {
      int64_t pid = sqlite3_column_int64(pids.get(), 0);
      if (pid <= 0 || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) gone.push_back(pid);
    }
  }
  for (int64_t pid : gone) {
    StmtPtr msgs(Prepare("DELETE FROM vdbsys_alert_message WHERE handle IN"
                         " (SELECT handle FROM vdbsys_alert_subscriber WHERE pid=?)"));
    sqlite3_bind_int64(msgs.get(), 1, pid);
    Step(msgs.get());
    StmtPtr subs(Prepare("DELETE FROM vdbsys_alert_subscriber WHERE pid=?"));
    sqlite3_bind_int64(subs.get(), 1, pid);
    Step(subs.get());
  }
  StmtPtr count(Prepare("SELECT count(*) FROM vdbsys_alert_subscriber"));
  Step(count.get());
  if (sqlite3_column_int(count.get(), 0) >= kMaxSubscribers) return alNoHandles;
  StmtPtr ins(Prepare("INSERT INTO vdbsys_alert_subscriber(subscription, pid, connection) VALUES(?,?,?)"));
  BindText(ins.get(), 1, subscription);
  sqlite3_bind_int64(ins.get(), 2, ::getpid());
  sqlite3_bind_int64(ins.get(), 3, conn.Id());
  Step(ins.get());
  int64_t handle = sqlite3_last_insert_rowid(db_);
  if (handle > INT32_MAX) return alNoHandles;
  tx.Commit();
  return static_cast<int32_t>(handle);
}

int32_t AlertStore::Unsubscribe(int32_t handle) {
  {
    std::lock_guard lock(mu_);
    Transaction tx(db_);
    StmtPtr msgs(Prepare("DELETE FROM vdbsys_alert_message WHERE handle=?"));
    sqlite3_bind_int(msgs.get(), 1, handle);
    Step(msgs.get());
    StmtPtr sub(Prepare("DELETE FROM vdbsys_alert_subscriber WHERE handle=?"));
    sqlite3_bind_int(sub.get(), 1, handle);
    Step(sub.get());
    if (sqlite3_changes(db_) == 0) return alInvalidHandle;
    tx.Commit();
  }
  Notify();  // a receive waiting on the handle answers that it is gone
  return alOk;
}

int32_t AlertStore::Send(std::string_view name, std::string_view text, int32_t param) {
  {
    std::lock_guard lock(mu_);
    Transaction tx(db_);
    std::vector<int64_t> receivers;
    StmtPtr subs(Prepare("SELECT handle, subscription FROM vdbsys_alert_subscriber"));
    while (Step(subs.get()) == SQLITE_ROW) {
      std::string subscription = ColumnText(subs.get(), 1);
      for (std::string_view n : Names(subscription))
        if (SameName(n, name)) {
          receivers.push_back(sqlite3_column_int64(subs.get(), 0));
          break;
        }
    }
    if (receivers.empty()) return alNoSubscribers;
    StmtPtr ins(Prepare("INSERT INTO vdbsys_alert_message(handle, msg_name, msg, msg_param) VALUES(?,?,?,?)"));
    for (int64_t h : receivers) {
      sqlite3_reset(ins.get());
      sqlite3_bind_int64(ins.get(), 1, h);
      BindText(ins.get(), 2, name);
      BindText(ins.get(), 3, text);
      sqlite3_bind_int(ins.get(), 4, param);
      Step(ins.get());
    }
    tx.Commit();
  }
  Notify();
  return alOk;
}

int32_t AlertStore::Clear(std::string_view name) {
  std::lock_guard lock(mu_);
  StmtPtr del(Prepare("DELETE FROM vdbsys_alert_message WHERE msg_name=? COLLATE NOCASE"));
  BindText(del.get(), 1, name);
  Step(del.get());
  return sqlite3_changes(db_) > 0 ? alOk : alNoMessages;
}

int32_t AlertStore::Stop(int32_t handle) {
  {
    std::lock_guard lock(mu_);
    StmtPtr upd(Prepare("UPDATE vdbsys_alert_subscriber SET stopped=1 WHERE handle=?"));
    sqlite3_bind_int(upd.get(), 1, handle);
    Step(upd.get());
    if (sqlite3_changes(db_) == 0) return alInvalidHandle;
  }
  Notify();
  return alOk;
}

int32_t AlertStore::Receive(Connection& conn, int32_t handle, std::chrono::milliseconds timeout,
                            AlertMessage& message) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = timeout.count() > 0 ? Clock::now() + timeout : Clock::time_point::max();
  while (true) {
    uint64_t seen;
    {
      std::lock_guard lock(signal_->mu);
      seen = signal_->generation;
    }
    {
      std::lock_guard lock(mu_);
      if (!HandleExists(handle)) return alInvalidHandle;
      StmtPtr stop(Prepare("UPDATE vdbsys_alert_subscriber SET stopped=0 WHERE handle=? AND stopped<>0"));
      sqlite3_bind_int(stop.get(), 1, handle);
      Step(stop.get());
      if (sqlite3_changes(db_) > 0) return alCancelled;
      // One statement takes the oldest message, so that two receivers of a
      // handle never both get it.
      StmtPtr take(Prepare(
          "DELETE FROM vdbsys_alert_message WHERE msg_id ="
          " (SELECT min(msg_id) FROM vdbsys_alert_message WHERE handle=?) RETURNING msg_name, msg, msg_param"));
      sqlite3_bind_int(take.get(), 1, handle);
      if (Step(take.get()) == SQLITE_ROW) {
        message.name = ColumnText(take.get(), 0);
        message.text = ColumnText(take.get(), 1);
        message.param = sqlite3_column_int(take.get(), 2);
        while (Step(take.get()) == SQLITE_ROW) {
        }
        return alOk;
      }
    }
    if (timeout.count() < 0 || Clock::now() >= deadline) return alTimedOut;
    conn.CheckWaiting();
    Clock::time_point until = std::min(deadline, Clock::now() + kPollInterval);
    std::unique_lock lock(signal_->mu);
    signal_->cv.wait_until(lock, until, [&] { return signal_->generation != seen; });
    lock.unlock();
    conn.CheckWaiting();
  }
}

void AlertStore::ReleaseConnection(uint32_t connectionId) {
  std::lock_guard lock(mu_);
  try {
    Transaction tx(db_);
    StmtPtr msgs(Prepare("DELETE FROM vdbsys_alert_message WHERE handle IN"
                         " (SELECT handle FROM vdbsys_alert_subscriber WHERE pid=? AND connection=?)"));
    sqlite3_bind_int64(msgs.get(), 1, ::getpid());
    sqlite3_bind_int64(msgs.get(), 2, connectionId);
    Step(msgs.get());
    StmtPtr subs(Prepare("DELETE FROM vdbsys_alert_subscriber WHERE pid=? AND connection=?"));
    sqlite3_bind_int64(subs.get(), 1, ::getpid());
    sqlite3_bind_int64(subs.get(), 2, connectionId);
    Step(subs.get());
    tx.Commit();
  } catch (const ServerError&) {
    // A file that cannot be written keeps the rows; the next subscribe of a
    // live process does not clean them, but sends to them only cost a row.
  }
}

namespace {

int32_t IntArg(const std::vector<OwnedValue>& args, size_t i, int32_t otherwise) {
  if (i >= args.size() || args[i].kind != svInteger) return otherwise;
  int64_t v = args[i].i;
  return v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
}

std::string_view TextArg(const std::vector<OwnedValue>& args, size_t i) {
  return i < args.size() && args[i].kind != svNull ? std::string_view(args[i].bytes) : std::string_view();
}

}  // namespace

void RunAlertProcedure(Connection& conn, std::string_view name, std::vector<OwnedValue>& args,
                       OwnedValue& returnValue) {
  AlertStore& store = conn.Alerts();
  int32_t code = alUnspecified;
  if (SameName(name, "vp_alert_subscribe")) {
    code = store.Subscribe(conn, TextArg(args, 0));
  } else if (SameName(name, "vp_alert_unsubscribe")) {
    code = store.Unsubscribe(IntArg(args, 0, -1));
  } else if (SameName(name, "vp_alert_send")) {
    code = store.Send(TextArg(args, 0), TextArg(args, 1), IntArg(args, 2, 0));
  } else if (SameName(name, "vp_alert_clear")) {
    code = store.Clear(TextArg(args, 0));
  } else if (SameName(name, "vp_alert_stop")) {
    code = store.Stop(IntArg(args, 0, -1));
  } else if (SameName(name, "vp_alert_receive")) {
    AlertMessage m;
    code = store.Receive(conn, IntArg(args, 0, -1), std::chrono::milliseconds(IntArg(args, 1, 0)), m);
    if (code == alOk && args.size() >= 5) {
      args[2] = OwnedValue(SqlValue::Text(m.name));
      args[3] = OwnedValue(SqlValue::Text(m.text));
      args[4] = OwnedValue(SqlValue::Integer(m.param));
    }
  } else {
    throw ServerError(errProcedureNotFound, name);
  }
  returnValue = OwnedValue(SqlValue::Integer(code));
}

}  // namespace vdbsrv
