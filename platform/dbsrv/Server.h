// The process-wide registry of engines, their databases and connections.
// Every client-library variant loaded into the process shares it.
#pragma once

#include "dbsrv/ConnectString.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vdbsrv {

struct Engine;
class Database;
class Connection;

// What db_locate_servers reports of one engine.
struct EngineInfo {
  std::string name;
  std::string version;
  std::string address;
};

class Server {
 public:
  static Server& Instance();

  // All operations throw ServerError with the server's code.

  // Starts an engine named by eng=, else the start line's -n, else the
  // database file's prefix; with dbf= its first database. -96 when one of
  // that name runs. defaultVersion is reported unless the start line's -ev
  // gives one.
  void StartEngine(const ConnectParams& params, std::string_view defaultVersion);
  // Stops the named engine (or the current connection's, or the only one),
  // dropping its connections; -100 when it does not run.
  void StopEngine(const ConnectParams& params, const Connection* current);
  // Starts a database on a running engine: -100 no engine, -83 no file,
  // -77 name taken by another file, -82 not a database, -816 the file runs
  // on another engine.
  void StartDatabase(const ConnectParams& params, const Connection* current);
  // Stops a database: -75 while it has connections other than current
  // (unless unconditional=yes, which drops them).
  void StopDatabase(const ConnectParams& params, const Connection* current);

  // Connects: starts the engine (and database) on demand when dbf= is given.
  std::shared_ptr<Connection> Connect(const ConnectParams& params,
                                      std::string_view defaultVersion);
  // Rolls back, closes and unregisters; stops what stops with its last
  // connection. Safe for a dropped connection.
  void Disconnect(const std::shared_ptr<Connection>& connection);

  bool EngineRunning(std::string_view name) const;
  std::vector<EngineInfo> Engines() const;
  // The address text every in-process engine reports.
  static const char* Address() { return "local"; }

  // Transaction logs renamed by backups: only these may be deleted by a
  // client (db_delete_file), by full path or by file name.
  void NoteRenamedLog(const std::string& path);
  void DeleteRenamedLog(std::string_view name);

 private:
  Server() = default;
  std::shared_ptr<Engine> FindEngineLocked(std::string_view name) const;
  std::shared_ptr<Engine> EngineForLocked(const ConnectParams& params,
                                          const Connection* current) const;
  std::shared_ptr<Database> StartDatabaseLocked(Engine& engine, const std::string& file,
                                                std::string name, bool autoStop);
  void StopEngineLocked(const std::shared_ptr<Engine>& engine);

  mutable std::mutex mu_;
  std::vector<std::shared_ptr<Engine>> engines_;
  std::set<std::string> renamedLogs_;
  uint32_t nextConnectionId_ = 1;
};

}  // namespace vdbsrv
