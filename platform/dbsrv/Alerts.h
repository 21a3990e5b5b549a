// The server's alert procedures: subscribers wait for short messages that
// other connections post, in this process or in another one.
//
// Subscribers and waiting messages live in two tables of a companion file
// beside the database (PathFor), so that every process serving the database
// sees them:
//
//   vdbsys_alert_subscriber (handle INTEGER PRIMARY KEY AUTOINCREMENT,
//       subscription TEXT, pid INTEGER, connection INTEGER, stopped INTEGER)
//   vdbsys_alert_message (msg_id INTEGER PRIMARY KEY AUTOINCREMENT,
//       handle INTEGER, msg_name TEXT, msg TEXT, msg_param INTEGER)
//
// They are written through a handle of their own with short transactions of
// their own: a message is there for its receiver at once, whatever the
// sender's transaction does later, and a waiting receiver holds no lock.
// The file is not the database itself because SQLite lets one writer at a
// time into a file: a connection with uncommitted changes would otherwise
// hold every send, subscribe and receive of every connection until it ends.
// Waiters of this process are woken when a message for their file arrives;
// changes made by other processes are seen by polling.
#pragma once

#include "dbsrv/SqlValue.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace vdbsrv {

class Connection;
class Database;

// Answers of the alert procedures.
enum AlertCode : int32_t {
  alOk = 0,
  alInvalidHandle = -1,
  alCancelled = -2,
  alUnknownName = -3,
  alNoMessages = -4,
  alTimedOut = -5,
  alNoSubscribers = -6,
  alNoHandles = -7,
  alUnspecified = -10,
};

// A received message.
struct AlertMessage {
  std::string name;
  std::string text;
  int32_t param = 0;
};

class AlertStore {
 public:
  // Longest a waiter goes without looking at the tables (other processes).
  static constexpr std::chrono::milliseconds kPollInterval{50};
  // Most subscribers a database holds at once.
  static constexpr int kMaxSubscribers = 100000;

  explicit AlertStore(const Database& database);
  // The companion file of a database file.
  static std::string PathFor(std::string_view databaseFile);
  ~AlertStore();
  AlertStore(const AlertStore&) = delete;
  AlertStore& operator=(const AlertStore&) = delete;

  // A new subscriber for a ";"-separated list of message names (a user name
  // in the list receives the messages posted under that name). Answers the
  // handle (1 or more) or alUnknownName for an empty list, alNoHandles.
  int32_t Subscribe(const Connection& conn, std::string_view subscription);
  // alOk or alInvalidHandle; waiting messages of the handle go with it.
  int32_t Unsubscribe(int32_t handle);
  // Posts a message to every subscriber of its name: alOk, or alNoSubscribers.
  int32_t Send(std::string_view name, std::string_view text, int32_t param);
  // Removes the waiting messages of a name: alOk, or alNoMessages.
  int32_t Clear(std::string_view name);
  // Releases the handle's waiting (or next) receive with alCancelled.
  int32_t Stop(int32_t handle);
  // Waits for the handle's next message up to timeout (0: no limit, below 0:
  // no wait). Answers alOk with the message, alTimedOut, alCancelled,
  // alInvalidHandle. Throws ServerError -299 when conn's request is
  // cancelled, -308 when it is dropped.
  int32_t Receive(Connection& conn, int32_t handle, std::chrono::milliseconds timeout, AlertMessage& message);

  // Removes the subscribers a closed connection of this process left.
  void ReleaseConnection(uint32_t connectionId);

 private:
  struct Signal;
  sqlite3_stmt* Prepare(const char* sql);
  int Step(sqlite3_stmt* st);
  bool HandleExists(int32_t handle);
  void Notify();

  std::mutex mu_;          // guards db_ and the statements run on it
  sqlite3* db_ = nullptr;  // owned
  std::shared_ptr<Signal> signal_;  // shared by every store of the same file in the process
};

// Carries out one of the six alert procedures for conn: Args are the
// procedure's parameters in declaration order (OUT ones are written),
// ReturnValue receives the alert code or handle.
void RunAlertProcedure(Connection& conn, std::string_view name, std::vector<OwnedValue>& args,
                       OwnedValue& returnValue);

}  // namespace vdbsrv
