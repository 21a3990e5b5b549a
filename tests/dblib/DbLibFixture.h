// Loads one client-library variant by file name and binds its entry points;
// gives each test a temporary directory and a fresh engine registry.
#pragma once

#include "rtl/Windows.h"
#include "vdb_esql.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace dblibtest {

inline constexpr const char* kVariants[] = {"dbl30t.dll", "dbl40t.dll", "dbl50t.dll", "dblib6.dll",
                                            "dblib7.dll", "dblib8.dll", "dblib9.dll"};

// Entry points of a version 7 or later library (the ones without program block).
struct Library {
  explicit Library(const std::string& file = "dblib7.dll");
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  void* Proc(const char* name) const { return vcl::GetProcAddress(module, name); }
  template <class F>
  F Bind(const char* name) const {
    return reinterpret_cast<F>(Proc(name));
  }

  vcl::HMODULE module = nullptr;
  db_init_fn db_init = nullptr;
  db_fini_fn db_fini = nullptr;
  db_string_connect_fn db_string_connect = nullptr;
  db_string_disconnect_fn db_string_disconnect = nullptr;
  db_start_engine_fn db_start_engine = nullptr;
  db_stop_engine_fn db_stop_engine = nullptr;
  db_start_database_fn db_start_database = nullptr;
  db_stop_database_fn db_stop_database = nullptr;
  db_delete_file_fn db_delete_file = nullptr;
  db_find_engine_fn db_find_engine = nullptr;
  db_register_a_callback_fn db_register_a_callback = nullptr;
  sqlerror_message_fn sqlerror_message = nullptr;
  db_cancel_request_fn db_cancel_request = nullptr;
  db_is_working_fn db_is_working = nullptr;
  db_backup_fn db_backup = nullptr;
  db_connection_info_fn db_connection_info = nullptr;
  sql_needs_quotes_fn sql_needs_quotes = nullptr;
  alloc_sqlda_fn alloc_sqlda = nullptr;
  alloc_sqlda_noind_fn alloc_sqlda_noind = nullptr;
  fill_sqlda_fn fill_sqlda = nullptr;
  free_sqlda_fn free_sqlda = nullptr;
  free_filled_sqlda_fn free_filled_sqlda = nullptr;
  // Present from version 7 (dbpp_ without program block).
  dbpp_execute_imm_fn dbpp_execute_imm = nullptr;
  dbpp_commit_fn dbpp_commit = nullptr;
  dbpp_rollback_fn dbpp_rollback = nullptr;
  dbpp_getoption_fn dbpp_getoption = nullptr;
  dbpp_setoption_fn dbpp_setoption = nullptr;
};

// A temporary directory removed with everything in it.
struct TempDir {
  TempDir();
  ~TempDir();
  std::string File(const std::string& name) const { return (path / name).string(); }
  std::filesystem::path path;
};

// An initialised SQLCA of one library.
struct Client {
  explicit Client(const Library& lib);
  ~Client();
  SQLCA* operator&() { return &ca; }
  int32_t Connect(const std::string& params) { return lib.db_string_connect(&ca, params.c_str()); }
  int32_t Exec(const std::string& sql) { return lib.dbpp_execute_imm(&ca, sql.c_str(), 2); }
  std::string Message();  // sqlerror_message of the current code

  const Library& lib;
  SQLCA ca{};
};

// Per test: a temporary directory with one database "<dir>/test.db", and
// every engine stopped afterwards.
class DbLibTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Creates a database file in the temporary directory.
  std::string NewDatabase(const std::string& name);
  // Rows of a single-value query through a second connection string.
  int64_t CountRows(const std::string& file, const std::string& table);  // committed rows, read beside the engine

  TempDir dir;
  std::string db;   // test.db's path
  std::string eng;  // an engine name unique to this test
};

// Runs sqlite3's command-line tool and answers its output (trimmed).
std::string Sqlite3Cli(const std::string& file, const std::string& sql);

}  // namespace dblibtest
