#include "DbLibFixture.h"

#include "dbsrv/Catalog.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"

#include <sqlite3.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace dblibtest {

namespace fs = std::filesystem;

Library::Library(const std::string& file) {
  module = vcl::LoadLibrary(file);
  if (!module) throw std::runtime_error("cannot load " + file);
#define BIND(name) name = Bind<name##_fn>(#name)
  BIND(db_init);
  BIND(db_fini);
  BIND(db_string_connect);
  BIND(db_string_disconnect);
  BIND(db_start_engine);
  BIND(db_stop_engine);
  BIND(db_start_database);
  BIND(db_stop_database);
  BIND(db_delete_file);
  BIND(db_find_engine);
  BIND(db_register_a_callback);
  BIND(sqlerror_message);
  BIND(db_cancel_request);
  BIND(db_is_working);
  BIND(db_backup);
  BIND(db_connection_info);
  BIND(sql_needs_quotes);
  BIND(alloc_sqlda);
  BIND(alloc_sqlda_noind);
  BIND(fill_sqlda);
  BIND(free_sqlda);
  BIND(free_filled_sqlda);
  if (Proc("db_get_property")) {  // version 7 and later: dbpp_ calls without program block
    BIND(dbpp_execute_imm);
    BIND(dbpp_commit);
    BIND(dbpp_rollback);
    BIND(dbpp_getoption);
    BIND(dbpp_setoption);
  }
#undef BIND
}

Library::~Library() {
  if (module) vcl::FreeLibrary(module);
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  path = fs::temp_directory_path() /
         ("vdblib-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
          std::to_string(rd()));
  fs::create_directories(path);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path, ec);
}

Client::Client(const Library& l) : lib(l) {
  if (!lib.db_init(&ca)) throw std::runtime_error("db_init failed");
  std::memcpy(ca.sqlcaid, "SQLCA", 6);
  ca.sqlcabc = sizeof(SQLCA);
}

Client::~Client() { lib.db_fini(&ca); }

std::string Client::Message() {
  char buffer[512];
  lib.sqlerror_message(&ca, buffer, sizeof buffer);
  return buffer;
}

void DbLibTest::SetUp() {
  db = NewDatabase("test.db");
  eng = "eng" + dir.path.filename().string().substr(std::string("vdblib-test-").size());
}

void DbLibTest::TearDown() {
  auto& server = vdbsrv::Server::Instance();
  for (const auto& e : server.Engines()) {
    vdbsrv::ConnectParams p;
    p.engineName = e.name;
    server.StopEngine(p, nullptr);
  }
}

std::string DbLibTest::NewDatabase(const std::string& name) {
  std::string file = dir.File(name);
  vdbsrv::CreateDatabase(file);
  return file;
}

int64_t DbLibTest::CountRows(const std::string& file, const std::string& table) {
  sqlite3* h = nullptr;
  sqlite3_open_v2(file.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* st = nullptr;
  int64_t n = -1;
  if (sqlite3_prepare_v2(h, ("SELECT count(*) FROM " + table).c_str(), -1, &st, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close_v2(h);
  return n;
}

std::string Sqlite3Cli(const std::string& file, const std::string& sql) {
  std::string cmd = "sqlite3 '" + file + "' \"" + sql + "\" 2>&1";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    std::array<char, 256> buf;
    while (fgets(buf.data(), buf.size(), p)) out += buf.data();
    pclose(p);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

}  // namespace dblibtest
