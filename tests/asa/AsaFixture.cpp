#include "AsaFixture.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sqlite3.h>
#include <unistd.h>

#include "dbsrv/Catalog.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"
#include "rtl/Windows.h"

namespace asatest {

namespace fs = std::filesystem;

void AsaTest::SetUp() {
  static std::atomic<int> Counter{0};
  std::random_device Rd;
  fs::path P = fs::temp_directory_path() / ("vdbasa-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(Counter++) + "-" + std::to_string(Rd()));
  fs::create_directories(P);
  Dir = P.string() + "/";
  // Named mutexes of this test (and of the processes it starts) stay apart
  // from those of tests running beside it.
  ::setenv("VCL_MUTEX_DIR", P.c_str(), 1);
  Db = NewDatabase("test.db");
}

void AsaTest::TearDown() {
  auto& Server = vdbsrv::Server::Instance();
  for (const auto& E : Server.Engines()) {
    vdbsrv::ConnectParams Params;
    Params.engineName = E.name;
    try {
      Server.StopEngine(Params, nullptr);
    } catch (...) {
    }
  }
  std::error_code Ec;
  fs::remove_all(Dir, Ec);
}

std::string AsaTest::NewDatabase(const std::string& Name) {
  const std::string File = Dir + Name;
  vdbsrv::CreateDatabase(File);
  return File;
}

std::unique_ptr<vdb::TAsaSession> AsaTest::NewSession(const std::string& Library, vdb::TAsaServerType Type,
                                                      const std::string& Database) {
  auto S = std::make_unique<vdb::TAsaSession>(nullptr);
  S->SetLibraryFile(Library);
  S->SetServerType(Type);
  S->SetLoginDatabase(Database.empty() ? Db : Database);
  S->SetLoginUser("DBA");
  S->SetLoginPassword("SQL");
  return S;
}

int32_t AsaTest::Exec(vdb::TAsaSession& S, const std::string& SQL) {
  void* P = vcl::GetProcAddress(S.LibraryHandle(), "dbpp_execute_imm");
  if (P == nullptr) return -1;
  if (S.LibraryVersion() < 7)
    return reinterpret_cast<dbpp_execute_imm_pb_fn>(P)(S.Sqlca(), S.ProgramBlock(), SQL.c_str(), 2);
  return reinterpret_cast<dbpp_execute_imm_fn>(P)(S.Sqlca(), SQL.c_str(), 2);
}

int32_t AsaTest::AdaptersInUse() {
  int32_t N = 0;
  for (auto K : {vdb::akRequest, vdb::akMessage, vdb::akDropped, vdb::akDebug, vdb::akLocate})
    N += vdb::VdbAdaptersInUse(K);
  return N;
}

bool AsaTest::EngineRunning(const std::string& Name) { return vdbsrv::Server::Instance().EngineRunning(Name); }

void AsaTest::StopEngines() {
  auto& Server = vdbsrv::Server::Instance();
  for (const auto& E : Server.Engines()) {
    vdbsrv::ConnectParams Params;
    Params.engineName = E.name;
    Server.StopEngine(Params, nullptr);
  }
}

std::string AsaTest::FileScalar(const std::string& File, const std::string& SQL) {
  sqlite3* Handle = nullptr;
  std::string Result = "<error>";
  if (sqlite3_open_v2(File.c_str(), &Handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* St = nullptr;
    if (sqlite3_prepare_v2(Handle, SQL.c_str(), -1, &St, nullptr) == SQLITE_OK && sqlite3_step(St) == SQLITE_ROW) {
      const unsigned char* Text = sqlite3_column_text(St, 0);
      Result = Text ? reinterpret_cast<const char*>(Text) : "<null>";
    }
    sqlite3_finalize(St);
  }
  sqlite3_close_v2(Handle);
  return Result;
}

std::string Sqlite3(const std::string& File, const std::string& SQL) {
  const std::string Cmd = "sqlite3 '" + File + "' \"" + SQL + "\" 2>&1";
  std::string Out;
  if (FILE* P = popen(Cmd.c_str(), "r")) {
    std::array<char, 256> Buf;
    while (fgets(Buf.data(), Buf.size(), P)) Out += Buf.data();
    pclose(P);
  }
  while (!Out.empty() && (Out.back() == '\n' || Out.back() == '\r')) Out.pop_back();
  return Out;
}

}  // namespace asatest
