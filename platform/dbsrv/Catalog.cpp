#include "dbsrv/Catalog.h"

#include "dbsrv/Errors.h"

#include <sqlite3.h>

#include <filesystem>
#include <memory>

namespace vdbsrv {

namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};

void Exec(sqlite3* db, const char* sql) {
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
}

}  // namespace

void CreateDatabase(const std::string& path, std::string_view dbaUser,
                    std::string_view dbaPassword) {
  std::error_code ec;
  if (path.empty()) throw ServerError(errInvalidParameter, "empty database file name");
  if (std::filesystem::exists(path, ec)) throw ServerError(errItemExists, path);
  if (dbaUser.empty()) throw ServerError(errInvalidParameter, "empty DBA user name");
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<sqlite3, DbCloser> db(raw);
  if (rc != SQLITE_OK) throw ServerError(errIoError, "cannot create " + path);
  try {
    // WAL lets the backup copy and readers run beside a writer.
    Exec(db.get(), "PRAGMA journal_mode=WAL");
    Exec(db.get(),
         "BEGIN;"
         "CREATE TABLE vdbsys_info(name TEXT PRIMARY KEY, value TEXT);"
         "CREATE TABLE vdbsys_user(user_id INTEGER PRIMARY KEY,"
         " user_name TEXT NOT NULL UNIQUE COLLATE NOCASE, password TEXT);"
         "INSERT INTO vdbsys_info VALUES('format','1');"
         "INSERT INTO vdbsys_user VALUES(0,'SYS',NULL);"
         "INSERT INTO vdbsys_user VALUES(2,'PUBLIC',NULL);");
    sqlite3_stmt* st = nullptr;
    rc = sqlite3_prepare_v2(db.get(), "INSERT INTO vdbsys_user VALUES(1,?,?)", -1, &st, nullptr);
    if (rc != SQLITE_OK) ThrowSqlite(db.get(), rc);
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> guard(st);
    sqlite3_bind_text(st, 1, dbaUser.data(), static_cast<int>(dbaUser.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, dbaPassword.data(), static_cast<int>(dbaPassword.size()),
                      SQLITE_TRANSIENT);
    rc = sqlite3_step(st);
    if (rc != SQLITE_DONE) ThrowSqlite(db.get(), rc);
    Exec(db.get(), "COMMIT");
  } catch (...) {
    db.reset();
    std::filesystem::remove(path, ec);
    std::filesystem::remove(path + "-wal", ec);
    std::filesystem::remove(path + "-shm", ec);
    throw;
  }
}

void CheckCatalog(sqlite3* db) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT value FROM vdbsys_info WHERE name='format'", -1, &st,
                              nullptr);
  std::unique_ptr<sqlite3_stmt, StmtFinalizer> guard(st);
  if (rc != SQLITE_OK) {
    std::string text = sqlite3_errmsg(db);
    throw ServerError(errUnableToStartDatabase,
                      rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT ? text
                                                                   : "not a database of this server");
  }
  rc = sqlite3_step(st);
  if (rc != SQLITE_ROW) throw ServerError(errUnableToStartDatabase, "not a database of this server");
}

int32_t Authenticate(sqlite3* db, std::string_view user, std::string_view password) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT user_id, password FROM vdbsys_user WHERE user_name=?",
                              -1, &st, nullptr);
  std::unique_ptr<sqlite3_stmt, StmtFinalizer> guard(st);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  sqlite3_bind_text(st, 1, user.data(), static_cast<int>(user.size()), SQLITE_TRANSIENT);
  rc = sqlite3_step(st);
  if (rc == SQLITE_DONE) return -1;
  if (rc != SQLITE_ROW) ThrowSqlite(db, rc);
  if (sqlite3_column_type(st, 1) == SQLITE_NULL) return -1;
  auto* stored = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
  std::string_view pw(stored, static_cast<size_t>(sqlite3_column_bytes(st, 1)));
  if (pw != password) return -1;
  return sqlite3_column_int(st, 0);
}

}  // namespace vdbsrv
