// A database made and started by the engine in a fresh temporary directory,
// with one SQLite handle on it, and a runner for texts of the server's dialect.
#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbsrv/Database.h"

namespace vdbsrv_test {

class TCatalogFixture {
 public:
  TCatalogFixture();
  ~TCatalogFixture();

  sqlite3* Handle() const { return FDb; }
  const std::string& File() const { return FFile; }
  vdbsrv::Database& Started() const { return *FDatabase; }
  /// Runs a script of the dialect; procedure definitions are stored as DBA's.
  void Exec(const std::string& Script);
  /// Rows of a dialect query as "a|b|c" (NULL as "NULL"); host variables by name
  /// (`:name`), or "1", "2"... for `?` in order.
  std::vector<std::string> Rows(const std::string& Text, const std::map<std::string, std::string>& Hosts = {});

 private:
  std::filesystem::path FDir;
  std::string FFile;
  std::unique_ptr<vdbsrv::Database> FDatabase;
  sqlite3* FDb = nullptr;
};

}  // namespace vdbsrv_test
