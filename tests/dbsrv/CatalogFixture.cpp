#include "CatalogFixture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "dbsrv/Catalog.h"
#include "dbsrv/DialectStatement.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ProcCatalog.h"

namespace fs = std::filesystem;
using namespace vdbsrv;

namespace vdbsrv_test {

namespace {
std::atomic<int> gSerial{0};
}

TCatalogFixture::TCatalogFixture() {
  FDir = fs::temp_directory_path() /
         ("vdb_catalog_" + std::to_string(getpid()) + "_" + std::to_string(gSerial++));
  fs::remove_all(FDir);
  fs::create_directories(FDir);
  FFile = (FDir / "cat.db").string();
  CreateDatabase(FFile);
  FDatabase = std::make_unique<Database>(FFile, "cat", "eng", "7.0", false);
  FDb = FDatabase->OpenHandle(false);
}

TCatalogFixture::~TCatalogFixture() {
  sqlite3_close_v2(FDb);
  FDatabase.reset();
  std::error_code ec;
  fs::remove_all(FDir, ec);
}

void TCatalogFixture::Exec(const std::string& Script) {
  for (auto [B, E] : SplitStatements(Script)) {
    std::string Text = Script.substr(B, E - B);
    TDialectResult R = ParseStatement(Text);
    ASSERT_TRUE(R.Ok) << Text << ": " << R.Error.Message;
    if (R.Statement.Kind == dsCreateProcedure) {
      StoreProcedure(FDb, *R.Statement.Procedure, kDbaUserId);
      continue;
    }
    ASSERT_EQ(R.Statement.Kind, dsSql) << Text;
    char* Err = nullptr;
    int Rc = sqlite3_exec(FDb, R.Statement.Sql.Sql.c_str(), nullptr, nullptr, &Err);
    std::string Msg = Err ? Err : "";
    sqlite3_free(Err);
    ASSERT_EQ(Rc, SQLITE_OK) << Text << ": " << Msg;
  }
}

std::vector<std::string> TCatalogFixture::Rows(const std::string& Text,
                                               const std::map<std::string, std::string>& Hosts) {
  std::vector<std::string> Out;
  TDialectResult R = ParseStatement(Text);
  EXPECT_TRUE(R.Ok) << Text << ": " << R.Error.Message;
  if (!R.Ok) return Out;
  sqlite3_stmt* St = nullptr;
  int Rc = sqlite3_prepare_v2(FDb, R.Statement.Sql.Sql.c_str(), -1, &St, nullptr);
  EXPECT_EQ(Rc, SQLITE_OK) << Text << "\n=> " << R.Statement.Sql.Sql << ": " << sqlite3_errmsg(FDb);
  if (Rc != SQLITE_OK) return Out;
  const auto& Slots = R.Statement.Sql.Slots;
  for (size_t I = 0; I < Slots.size(); ++I) {
    const THostVar& H = R.Statement.HostVars[static_cast<size_t>(Slots[I].Host)];
    std::string Key = H.Name.empty() ? std::to_string(Slots[I].Host + 1) : H.Name;
    auto It = Hosts.find(Key);
    if (It == Hosts.end()) {
      ADD_FAILURE() << "no value for host variable " << Key;
    } else {
      sqlite3_bind_text(St, static_cast<int>(I + 1), It->second.c_str(), -1, SQLITE_TRANSIENT);
    }
  }
  while ((Rc = sqlite3_step(St)) == SQLITE_ROW) {
    std::string Row;
    for (int C = 0; C < sqlite3_column_count(St); ++C) {
      if (C) Row += "|";
      const unsigned char* V = sqlite3_column_text(St, C);
      Row += V ? reinterpret_cast<const char*>(V) : "NULL";
    }
    Out.push_back(Row);
  }
  EXPECT_EQ(Rc, SQLITE_DONE) << Text << ": " << sqlite3_errmsg(FDb);
  sqlite3_finalize(St);
  return Out;
}

}  // namespace vdbsrv_test
