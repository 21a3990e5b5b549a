// Online backup: the database snapshot, the transaction log, its rename and
// restart, the page protocol and its bad input.
#include "DbLibFixture.h"

#include "dbsrv/TransactionLog.h"

#include <sqlite3.h>

#include <fstream>

namespace dblibtest {
namespace {

std::string vdbsrvFileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

class BackupTest : public DbLibTest {
 protected:
  void SetUp() override {
    DbLibTest::SetUp();
    ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
    ASSERT_EQ(0, a.Exec("create table t(id integer primary key, v text)"));
    for (int i = 0; i < 500; ++i)
      ASSERT_EQ(0, a.Exec("insert into t(v) values('row " + std::to_string(i) + " " +
                          std::string(50, 'x') + "')"));
    ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  }

  // Copies file F page by page, as the session does; answers the sqlcode of
  // the first failing call. renamed receives the name left after the last page.
  int32_t CopyFile(int32_t file, int32_t op, const std::string& target, std::string* renamed = nullptr) {
    if (int32_t rc = lib.db_backup(&a, DB_BACKUP_OPEN_FILE, file, 0, nullptr)) return rc;
    int32_t pages = SQLCOUNT(a.ca);
    serverName = std::string(a.ca.sqlerrmc, a.ca.sqlerrml);
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    for (int32_t p = 0; p < pages; ++p) {
      if (int32_t rc = lib.db_backup(&a, op, file, static_cast<uint32_t>(p), page)) return rc;
      uint16_t len;
      std::memcpy(&len, page->sqlvar[0].sqldata, 2);
      out.write(static_cast<char*>(page->sqlvar[0].sqldata) + 2, len);
    }
    if (renamed) *renamed = std::string(a.ca.sqlerrmc, a.ca.sqlerrml);
    out.close();
    return lib.db_backup(&a, DB_BACKUP_CLOSE_FILE, file, 0, nullptr);
  }

  void StartBackup() {
    ASSERT_EQ(0, lib.db_backup(&a, DB_BACKUP_START, 0, 0, nullptr));
    pageSize = SQLCOUNT(a.ca);
    ASSERT_GT(pageSize, 0);
    buffer.assign(static_cast<size_t>(pageSize) + 2, 0);
    page = lib.alloc_sqlda(1);
    page->sqlvar[0].sqltype = DT_BINARY;
    page->sqlvar[0].sqllen = static_cast<uint16_t>(pageSize + 2);
    page->sqlvar[0].sqldata = buffer.data();
  }
  void TearDown() override {
    if (page) lib.free_sqlda(page);
    DbLibTest::TearDown();
  }

  Library lib;
  Client a{lib};
  int32_t pageSize = 0;
  std::vector<char> buffer;
  SQLDA* page = nullptr;
  std::string serverName;
};

TEST_F(BackupTest, FullBackupOpensWithSqliteAndHoldsCommittedRowsOnly) {
  Client other(lib);
  ASSERT_EQ(0, other.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, other.Exec("insert into t(v) values('pending')"));  // not in the copy
  StartBackup();
  std::filesystem::create_directory(dir.path / "backup");
  std::string target = (dir.path / "backup" / "test.db").string();
  ASSERT_EQ(0, CopyFile(0, DB_BACKUP_READ_PAGE, target));
  EXPECT_EQ(db, serverName);
  // Work goes on while the backup runs.
  EXPECT_EQ(0, other.Exec("insert into t(v) values('during')"));
  EXPECT_EQ(0, lib.dbpp_commit(&other, 0));
  EXPECT_EQ(502, CountRows(db, "t"));
  ASSERT_EQ(0, lib.db_backup(&a, DB_BACKUP_END, 0, 0, nullptr));
  EXPECT_EQ("ok", Sqlite3Cli(target, "pragma integrity_check;"));
  EXPECT_EQ("500", Sqlite3Cli(target, "select count(*) from t;"));
  EXPECT_EQ("row 499 " + std::string(50, 'x'), Sqlite3Cli(target, "select v from t where id = 500;"));
}

TEST_F(BackupTest, LogRenameRestartsTheLogAndReplaysOntoTheBackup) {
  StartBackup();
  std::string copy = dir.File("copy.db"), logCopy = dir.File("copy.log");
  ASSERT_EQ(0, CopyFile(0, DB_BACKUP_READ_PAGE, copy));
  std::string renamed;
  ASSERT_EQ(0, CopyFile(DB_BACKUP_FILE_LOG, DB_BACKUP_READ_RENAME_LOG, logCopy, &renamed));
  EXPECT_EQ("test.log", vdbsrvFileName(serverName));
  ASSERT_FALSE(renamed.empty());
  EXPECT_EQ(12u, vdbsrvFileName(renamed).size()) << renamed;  // yymmddAA.log
  ASSERT_EQ(0, lib.db_backup(&a, DB_BACKUP_END, 0, 0, nullptr));
  std::string renamedPath = (dir.path / vdbsrvFileName(renamed)).string();
  ASSERT_TRUE(std::filesystem::exists(renamedPath));
  // The renamed log is what the backup copied.
  std::ifstream r1(renamedPath, std::ios::binary), r2(logCopy, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(r1), {}), std::string(std::istreambuf_iterator<char>(r2), {}));

  // The restarted log holds only what is committed afterwards.
  ASSERT_EQ(0, a.Exec("insert into t(v) values('after backup')"));
  ASSERT_EQ(0, a.Exec("update t set v = 'changed' where id = 1"));
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  ASSERT_EQ(0, a.Exec("insert into t(v) values('rolled back')"));
  ASSERT_EQ(0, lib.dbpp_rollback(&a, 0));
  sqlite3* h = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(copy.c_str(), &h));
  EXPECT_EQ(1u, vdbsrv::TransactionLog::Replay(h, dir.File("test.log")));
  sqlite3_close(h);
  EXPECT_EQ("501", Sqlite3Cli(copy, "select count(*) from t;"));
  EXPECT_EQ("changed", Sqlite3Cli(copy, "select v from t where id = 1;"));

  // The renamed log is deletable by the name the server left; other files are not.
  EXPECT_EQ(0, lib.db_delete_file(&a, renamed.c_str()));
  EXPECT_FALSE(std::filesystem::exists(renamedPath));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.db_delete_file(&a, renamed.c_str()));
}

TEST_F(BackupTest, LogCannotBeRenamedWhileOthersHaveOpenTransactions) {
  Client other(lib);
  ASSERT_EQ(0, other.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, other.Exec("insert into t(v) values('open')"));
  StartBackup();
  ASSERT_EQ(0, lib.db_backup(&a, DB_BACKUP_OPEN_FILE, DB_BACKUP_FILE_LOG, 0, nullptr));
  uint32_t last = static_cast<uint32_t>(SQLCOUNT(a.ca)) - 1;
  for (uint32_t p = 0; p < last; ++p)
    ASSERT_EQ(0, lib.db_backup(&a, DB_BACKUP_READ_RENAME_LOG, DB_BACKUP_FILE_LOG, p, page));
  EXPECT_EQ(SQLE_BACKUP_CANNOT_RENAME_LOG_YET,
            lib.db_backup(&a, DB_BACKUP_READ_RENAME_LOG, DB_BACKUP_FILE_LOG, last, page));
  ASSERT_EQ(0, lib.dbpp_commit(&other, 0));
  EXPECT_EQ(0, lib.db_backup(&a, DB_BACKUP_READ_RENAME_LOG, DB_BACKUP_FILE_LOG, last, page));
  EXPECT_GT(a.ca.sqlerrml, 0);
  // The commit that came after the copy was taken moved into the new log.
  sqlite3* h = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(":memory:", &h));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(h, "create table t(id integer primary key, v text)", nullptr, nullptr, nullptr));
  EXPECT_EQ(1u, vdbsrv::TransactionLog::Replay(h, dir.File("test.log")));
  sqlite3_close(h);
  EXPECT_EQ(0, lib.db_backup(&a, DB_BACKUP_CLOSE_FILE, DB_BACKUP_FILE_LOG, 0, nullptr));
  EXPECT_EQ(0, lib.db_backup(&a, DB_BACKUP_END, 0, 0, nullptr));
}

TEST_F(BackupTest, BadCallsAnswerErrors) {
  EXPECT_EQ(SQLE_BACKUP_NOT_STARTED, lib.db_backup(&a, DB_BACKUP_OPEN_FILE, 0, 0, nullptr));
  StartBackup();
  struct Case {
    int32_t op, file;
    uint32_t page;
    bool withSqlda;
    int32_t code;
  } cases[] = {
      {DB_BACKUP_OPEN_FILE, 1, 0, false, -138},                       // no such dbspace
      {DB_BACKUP_OPEN_FILE, DB_BACKUP_FILE_WRITE, 0, false, -138},    // no write file
      {DB_BACKUP_READ_PAGE, 0, 0, true, SQLE_ERROR},                  // not open
      {DB_BACKUP_OPEN_FILE, 0, 0, false, 0},
      {DB_BACKUP_OPEN_FILE, DB_BACKUP_FILE_LOG, 0, false, SQLE_ERROR},  // one file at a time
      {DB_BACKUP_READ_PAGE, 0, 1000000, true, SQLE_INVALID_PARAMETER},  // page out of range
      {DB_BACKUP_READ_PAGE, 0, 0, false, SQLE_INVALID_PARAMETER},       // no SQLDA
      {DB_BACKUP_READ_PAGE, DB_BACKUP_FILE_LOG, 0, true, SQLE_ERROR},   // another file
      {99, 0, 0, false, SQLE_INVALID_PARAMETER},
      {DB_BACKUP_READ_PAGE, 0, 0, true, 0},
      {DB_BACKUP_CLOSE_FILE, 0, 0, false, 0},
      {DB_BACKUP_CLOSE_FILE, 0, 0, false, SQLE_ERROR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "op " << c.op << " file " << c.file << " page " << c.page);
    EXPECT_EQ(c.code, lib.db_backup(&a, c.op, c.file, c.page, c.withSqlda ? page : nullptr));
  }
  // A page buffer too small for a page is refused, never overrun.
  ASSERT_EQ(0, lib.db_backup(&a, DB_BACKUP_OPEN_FILE, 0, 0, nullptr));
  page->sqlvar[0].sqllen = static_cast<uint16_t>(pageSize);
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.db_backup(&a, DB_BACKUP_READ_PAGE, 0, 0, page));
  page->sqlvar[0].sqltype = DT_STRING;
  page->sqlvar[0].sqllen = static_cast<uint16_t>(pageSize + 2);
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.db_backup(&a, DB_BACKUP_READ_PAGE, 0, 0, page));
  EXPECT_EQ(0, lib.db_backup(&a, DB_BACKUP_END, 0, 0, nullptr));
}

TEST_F(BackupTest, NeedsAConnection) {
  Client b(lib);
  EXPECT_EQ(SQLE_NOT_CONNECTED, lib.db_backup(&b, DB_BACKUP_START, 0, 0, nullptr));
}

}  // namespace
}  // namespace dblibtest
