// Per test: a temporary directory with a database, sessions on the real
// client-library variants, and every engine stopped afterwards.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "asa/VdbAsa.Adapters.h"
#include "asa/VdbAsa.h"

namespace asatest {

inline constexpr const char* kVariants[] = {"dbl30t.dll", "dbl40t.dll", "dbl50t.dll", "dblib6.dll",
                                            "dblib7.dll", "dblib8.dll", "dblib9.dll"};

class AsaTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A new database file in the temporary directory.
  std::string NewDatabase(const std::string& Name);
  // A session logging in as DBA to Database (test.db when empty).
  std::unique_ptr<vdb::TAsaSession> NewSession(const std::string& Library = "dblib7.dll",
                                               vdb::TAsaServerType Type = vdb::stServer,
                                               const std::string& Database = "");
  // Runs a statement on the session's connection through the library's own
  // entry point; answers the sqlcode.
  int32_t Exec(vdb::TAsaSession& S, const std::string& SQL);
  // Adapters of every kind still bound.
  static int32_t AdaptersInUse();
  // Whether the in-process server runs an engine of that name.
  static bool EngineRunning(const std::string& Name);
  // Stops every engine, so that the next connect opens its database anew.
  static void StopEngines();
  // The first value of SQL's first row, read from File beside any engine
  // through SQLite itself: "<null>" for NULL, "<error>" when it cannot be read.
  static std::string FileScalar(const std::string& File, const std::string& SQL);

  std::string Dir;  // the temporary directory, with a trailing "/"
  std::string Db;   // Dir + "test.db"
};

// Runs the sqlite3 command-line tool on a file; answers its trimmed output.
std::string Sqlite3(const std::string& File, const std::string& SQL);

}  // namespace asatest
