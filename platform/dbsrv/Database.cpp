#include "dbsrv/Database.h"

#include "dbsrv/Alerts.h"
#include "dbsrv/Catalog.h"
#include "dbsrv/CatalogViews.h"
#include "dbsrv/Connection.h"
#include "dbsrv/Errors.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

namespace vdbsrv {

namespace {

std::string CheckedFile(const std::string& file) {
  std::error_code ec;
  if (file.empty() || !std::filesystem::is_regular_file(file, ec))
    throw ServerError(errDatabaseNotFound, file);
  return file;
}

}  // namespace

Database::Database(std::string file, std::string name, std::string engineName,
                   std::string engineVersion, bool autoStop)
    : file_(CheckedFile(file)),
      name_(std::move(name)),
      engineName_(std::move(engineName)),
      engineVersion_(std::move(engineVersion)),
      autoStop_(autoStop),
      log_([&] {
        // Check the file before the log beside it is created.
        sqlite3* db = OpenHandle(false);
        try {
          CheckCatalog(db);
          EnsureCatalogTables(db);
          // Connections then find the catalog views in the schema instead of
          // creating their own; a file that cannot take them still works.
          StoreCatalogViews(db);
          sqlite3_stmt* st = nullptr;
          if (sqlite3_prepare_v2(db, "PRAGMA page_size", -1, &st, nullptr) == SQLITE_OK &&
              sqlite3_step(st) == SQLITE_ROW)
            pageSize_ = sqlite3_column_int(st, 0);
          sqlite3_finalize(st);
          // A file touched by other tools may have left WAL mode.
          sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        } catch (...) {
          sqlite3_close_v2(db);
          throw;
        }
        sqlite3_close_v2(db);
        return TransactionLog::PathFor(file_);
      }()) {}

Database::~Database() = default;

AlertStore& Database::Alerts() {
  std::lock_guard lock(alertsMu_);
  if (!alerts_) alerts_ = std::make_unique<AlertStore>(*this);
  return *alerts_;
}

sqlite3* Database::OpenHandle(bool readOnly) const {
  sqlite3* db = nullptr;
  int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_FULLMUTEX;
  int rc = sqlite3_open_v2(file_.c_str(), &db, flags, nullptr);
  if (rc != SQLITE_OK) {
    Error e = MapSqliteError(db, rc);
    sqlite3_close_v2(db);
    if (e.code == errDatabaseNotFound) throw ServerError(errDatabaseNotFound, file_);
    throw ServerError(errUnableToStartDatabase, e.message);
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_exec(db, "PRAGMA foreign_keys=ON", nullptr, nullptr, nullptr);
  // A file that is not ours fails here harmlessly; the catalog check reports it.
  InstallCatalogViews(db);
  return db;
}

void Database::Attach(Connection* c) {
  std::lock_guard lock(mu_);
  connections_.push_back(c);
}

void Database::Detach(Connection* c) {
  std::lock_guard lock(mu_);
  connections_.erase(std::remove(connections_.begin(), connections_.end(), c), connections_.end());
}

std::vector<Connection*> Database::Connections() const {
  std::lock_guard lock(mu_);
  return connections_;
}

size_t Database::ConnectionCount() const {
  std::lock_guard lock(mu_);
  return connections_.size();
}

bool Database::OtherTransactionsOpen(const Connection* except) const {
  std::lock_guard lock(mu_);
  for (const Connection* c : connections_)
    if (c != except && c->InTransaction()) return true;
  return false;
}

}  // namespace vdbsrv
