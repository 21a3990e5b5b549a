#include "dbsrv/Server.h"

#include "dbsrv/Catalog.h"
#include "dbsrv/Connection.h"
#include "dbsrv/Database.h"
#include "dbsrv/Engine.h"
#include "dbsrv/Errors.h"
#include "dbsrv/StartLine.h"
#include "dbsrv/Text.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

namespace vdbsrv {

namespace fs = std::filesystem;

namespace {

// Database files are named the Windows way or the POSIX way; both
// separators work, and the registry compares absolute, normalised paths.
std::string NormaliseFile(std::string_view file) {
  std::string f(Trim(file));
  std::replace(f.begin(), f.end(), '\\', '/');
  if (f.empty()) return f;
  std::error_code ec;
  fs::path p = fs::absolute(fs::path(f), ec);
  if (ec) return f;
  fs::path canonical = fs::weakly_canonical(p, ec);
  return (ec ? p.lexically_normal() : canonical).string();
}

bool SameFile(const std::string& a, const std::string& b) { return a == b; }

}  // namespace

Server& Server::Instance() {
  // Never destroyed: connections may still be closed by static destructors
  // of the client library after this module's statics would have gone.
  static Server* server = new Server();
  return *server;
}

std::shared_ptr<Engine> Server::FindEngineLocked(std::string_view name) const {
  for (const auto& e : engines_)
    if (SameText(e->name, Trim(name))) return e;
  return nullptr;
}

std::shared_ptr<Engine> Server::EngineForLocked(const ConnectParams& params,
                                                const Connection* current) const {
  if (!params.engineName.empty()) return FindEngineLocked(params.engineName);
  if (current && !current->Dropped()) {
    if (auto e = FindEngineLocked(current->EngineName())) return e;
  }
  if (!params.databaseFile.empty()) {
    if (auto e = FindEngineLocked(FilePrefix(NormaliseFile(params.databaseFile)))) return e;
  }
  // The default engine: the first one started.
  return engines_.empty() ? nullptr : engines_.front();
}

std::shared_ptr<Database> Server::StartDatabaseLocked(Engine& engine, const std::string& file,
                                                      std::string name, bool autoStop) {
  for (const auto& other : engines_) {
    if (other.get() == &engine) continue;
    for (const auto& db : other->databases)
      if (SameFile(db->File(), file)) throw ServerError(errFileInUse, file);
  }
  for (const auto& db : engine.databases) {
    if (SameText(db->Name(), name)) {
      if (SameFile(db->File(), file)) return db;
      throw ServerError(errDatabaseNameNotUnique, name);
    }
    if (SameFile(db->File(), file)) return db;
  }
  auto db = std::make_shared<Database>(file, std::move(name), engine.name, engine.version, autoStop);
  engine.databases.push_back(db);
  return db;
}

void Server::StartEngine(const ConnectParams& params, std::string_view defaultVersion) {
  StartLine line = ParseStartLine(params.startLine);
  std::string file = NormaliseFile(!params.databaseFile.empty() ? params.databaseFile
                                   : line.databaseFiles.empty() ? std::string()
                                                                : line.databaseFiles.front());
  std::string name = !params.engineName.empty() ? std::string(Trim(params.engineName))
                     : !line.engineName.empty() ? line.engineName
                                                : FilePrefix(file);
  if (name.empty()) throw ServerError(errUnableToStartEngine, "no engine name");
  std::lock_guard lock(mu_);
  if (FindEngineLocked(name)) throw ServerError(errEngineAlreadyRunning, name);
  auto engine = std::make_shared<Engine>();
  engine->name = name;
  engine->version = line.version.empty() ? std::string(defaultVersion) : line.version;
  engine->autoStop = params.autoStop.value_or(false);
  if (!file.empty()) {
    std::string dbName = params.databaseName.empty() ? FilePrefix(file) : params.databaseName;
    StartDatabaseLocked(*engine, file, dbName, false);
  }
  engines_.push_back(engine);
}

void Server::StopEngineLocked(const std::shared_ptr<Engine>& engine) {
  for (const auto& db : engine->databases)
    for (Connection* c : db->Connections()) c->Drop();
  engines_.erase(std::remove(engines_.begin(), engines_.end(), engine), engines_.end());
}

void Server::StopEngine(const ConnectParams& params, const Connection* current) {
  std::lock_guard lock(mu_);
  std::shared_ptr<Engine> engine = EngineForLocked(params, current);
  if (!engine) throw ServerError(errEngineNotRunning, params.engineName);
  StopEngineLocked(engine);
}

void Server::StartDatabase(const ConnectParams& params, const Connection* current) {
  std::lock_guard lock(mu_);
  std::shared_ptr<Engine> engine = EngineForLocked(params, current);
  if (!engine) throw ServerError(errEngineNotRunning, params.engineName);
  std::string file = NormaliseFile(params.databaseFile);
  if (file.empty()) {
    for (const auto& db : engine->databases)
      if (!params.databaseName.empty() && SameText(db->Name(), params.databaseName)) return;
    throw ServerError(errDatabaseNotFound, params.databaseName);
  }
  StartDatabaseLocked(*engine, file,
                      params.databaseName.empty() ? FilePrefix(file) : params.databaseName, false);
}

void Server::StopDatabase(const ConnectParams& params, const Connection* current) {
  std::lock_guard lock(mu_);
  std::shared_ptr<Engine> engine = EngineForLocked(params, current);
  if (!engine) throw ServerError(errEngineNotRunning, params.engineName);
  std::shared_ptr<Database> target;
  std::string wantedFile = params.databaseFile;
  std::replace(wantedFile.begin(), wantedFile.end(), '\\', '/');
  for (const auto& db : engine->databases) {
    if (!params.databaseName.empty()) {
      if (SameText(db->Name(), params.databaseName)) target = db;
    } else if (!wantedFile.empty()) {
      // A bare file name (directory removed) matches the running file's name.
      if (SameFile(db->File(), NormaliseFile(wantedFile)) ||
          (wantedFile.find('/') == std::string::npos && FileNamePart(db->File()) == wantedFile))
        target = db;
    } else if (current && &current->Db() == db.get()) {
      target = db;
    }
  }
  if (!target) throw ServerError(errDatabaseNotFound, params.databaseName.empty() ? params.databaseFile : params.databaseName);
  std::vector<Connection*> connections = target->Connections();
  bool others = std::any_of(connections.begin(), connections.end(),
                            [&](Connection* c) { return c != current && !c->Dropped(); });
  if (others && !params.unconditional.value_or(false))
    throw ServerError(errStartStopDenied, "the database has connections");
  for (Connection* c : connections) c->Drop();
  auto& dbs = engine->databases;
  dbs.erase(std::remove(dbs.begin(), dbs.end(), target), dbs.end());
}

std::shared_ptr<Connection> Server::Connect(const ConnectParams& params,
                                            std::string_view defaultVersion) {
  std::lock_guard lock(mu_);
  std::string file = NormaliseFile(params.databaseFile);
  std::shared_ptr<Engine> engine;
  if (!params.engineName.empty()) engine = FindEngineLocked(params.engineName);
  else if (!file.empty()) engine = FindEngineLocked(FilePrefix(file));
  else if (!engines_.empty()) engine = engines_.front();

  bool startedEngine = false;
  if (!engine) {
    if (file.empty())
      throw ServerError(errEngineNotRunning, params.engineName);
    engine = std::make_shared<Engine>();
    engine->name = params.engineName.empty() ? FilePrefix(file) : std::string(Trim(params.engineName));
    engine->version = std::string(defaultVersion);
    engine->autoStop = params.autoStop.value_or(true);
    StartLine line = ParseStartLine(params.startLine);
    if (!line.version.empty()) engine->version = line.version;
    startedEngine = true;
  }

  std::shared_ptr<Database> db;
  std::shared_ptr<Connection> connection;
  try {
    if (!params.databaseName.empty()) {
      for (const auto& d : engine->databases)
        if (SameText(d->Name(), params.databaseName)) db = d;
    }
    if (!db && !file.empty()) {
      for (const auto& d : engine->databases)
        if (SameFile(d->File(), file)) db = d;
      if (!db)
        db = StartDatabaseLocked(*engine, file,
                                 params.databaseName.empty() ? FilePrefix(file) : params.databaseName,
                                 params.autoStop.value_or(true));
    }
    if (!db && params.databaseName.empty() && file.empty() && !engine->databases.empty())
      db = engine->databases.front();
    if (!db) throw ServerError(errDatabaseNotFound, params.databaseName);

    sqlite3* handle = db->OpenHandle(false);
    int32_t userId = -1;
    try {
      if (!params.userId.empty()) userId = Authenticate(handle, params.userId, params.password);
    } catch (...) {
      sqlite3_close_v2(handle);
      throw;
    }
    if (userId < 0) {
      sqlite3_close_v2(handle);
      throw ServerError(errInvalidLogon);
    }
    uint32_t id = nextConnectionId_++;
    std::string name = params.connectionName.empty() ? "SQL_DBC_" + std::to_string(id)
                                                     : params.connectionName;
    connection = std::make_shared<Connection>(db, handle, id, userId, params.userId, name);
  } catch (...) {
    // A database this connect started on an existing engine stops again.
    if (!startedEngine && db && db->AutoStop() && db->ConnectionCount() == 0) {
      auto& dbs = engine->databases;
      dbs.erase(std::remove(dbs.begin(), dbs.end(), db), dbs.end());
    }
    throw;
  }
  if (startedEngine) engines_.push_back(engine);
  db->Attach(connection.get());
  return connection;
}

void Server::Disconnect(const std::shared_ptr<Connection>& connection) {
  if (!connection) return;
  connection->Close();
  std::lock_guard lock(mu_);
  std::shared_ptr<Database> db = connection->DbPtr();
  db->Detach(connection.get());
  for (const auto& engine : engines_) {
    auto& dbs = engine->databases;
    if (std::find(dbs.begin(), dbs.end(), db) == dbs.end()) continue;
    if (db->AutoStop() && db->ConnectionCount() == 0)
      dbs.erase(std::remove(dbs.begin(), dbs.end(), db), dbs.end());
    if (engine->autoStop) {
      bool idle = std::all_of(dbs.begin(), dbs.end(),
                              [](const auto& d) { return d->ConnectionCount() == 0; });
      if (idle) StopEngineLocked(engine);
    }
    break;
  }
}

bool Server::EngineRunning(std::string_view name) const {
  std::lock_guard lock(mu_);
  return FindEngineLocked(name) != nullptr;
}

std::vector<EngineInfo> Server::Engines() const {
  std::lock_guard lock(mu_);
  std::vector<EngineInfo> out;
  for (const auto& e : engines_) out.push_back({e->name, e->version, Address()});
  return out;
}

void Server::NoteRenamedLog(const std::string& path) {
  std::lock_guard lock(mu_);
  renamedLogs_.insert(path);
}

void Server::DeleteRenamedLog(std::string_view name) {
  std::string wanted(Trim(name));
  std::replace(wanted.begin(), wanted.end(), '\\', '/');
  std::lock_guard lock(mu_);
  for (auto it = renamedLogs_.begin(); it != renamedLogs_.end(); ++it) {
    if (*it == wanted || FileNamePart(*it) == wanted) {
      std::error_code ec;
      fs::remove(*it, ec);
      renamedLogs_.erase(it);
      if (ec) throw ServerError(errIoError, wanted);
      return;
    }
  }
  throw ServerError(errInvalidParameter, "not a renamed transaction log: " + wanted.substr(0, 200));
}

}  // namespace vdbsrv
