// Storage faults under a connected session: a full disk, failing reads and
// failing syncs, injected below SQLite by the fault VFS. The server's code and
// text must reach the session, the database must stay intact, and what was
// committed before the fault must still be there afterwards.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <memory>
#include <string>

#include "AsaFixture.h"
#include "FaultVfs.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"

namespace {

constexpr int32_t kDiskFull = -304;
constexpr int32_t kIoError = -305;
constexpr int kCommitted = 200;  // rows committed before any fault

class FaultInjectionTest : public asatest::AsaTest {
 protected:
  void SetUp() override {
    AsaTest::SetUp();
    Faults = std::make_unique<vdbtest::FaultScope>();
  }
  void TearDown() override {
    Faults.reset();
    AsaTest::TearDown();
  }

  // A connected session on File whose table t holds rows 1..kCommitted.
  std::unique_ptr<vdb::TAsaSession> Filled(const std::string& File) {
    auto S = NewSession("dblib7.dll", vdb::stServer, File);
    S->Open();
    EXPECT_EQ(0, Run(*S, "create table t(n int primary key, pad varchar(2000))"));
    EXPECT_EQ(0, Run(*S, "insert into t with recursive r(i) as (select 1 union all select i + 1 from r where i < " +
                             std::to_string(kCommitted) + ") select i, hex(randomblob(300)) from r"));
    S->Commit();
    return S;
  }

  // Runs SQL through the library and lets the session check the outcome, as
  // its statements do; answers the code the session recorded.
  int32_t Run(vdb::TAsaSession& S, const std::string& SQL) {
    Exec(S, SQL);
    S.Check(false);
    return S.LastErrorCode();
  }

  // Commits, answering the code of the exception it raised (0: none).
  static int32_t CommitCode(vdb::TAsaSession& S) {
    S.SetWantExceptions(true);
    try {
      S.Commit();
    } catch (const vdb::EAsaException& E) {
      S.SetWantExceptions(false);
      EXPECT_EQ(E.ErrorCode(), S.LastErrorCode());
      EXPECT_EQ(E.Message(), S.LastError());
      return E.ErrorCode();
    }
    S.SetWantExceptions(false);
    return 0;
  }

  // The file passes SQLite's integrity check and t holds exactly Rows rows,
  // the committed ones among them.
  static void ExpectIntact(const std::string& File, int Rows) {
    EXPECT_EQ("ok", FileScalar(File, "PRAGMA integrity_check"));
    EXPECT_EQ(std::to_string(Rows), FileScalar(File, "select count(*) from t"));
    EXPECT_EQ(std::to_string(kCommitted), FileScalar(File, "select count(*) from t where n <= " + std::to_string(kCommitted)));
  }


  std::unique_ptr<vdbtest::FaultScope> Faults;
};

// The session's error text carries the server's code, message and SQLSTATE.
void ExpectServerError(const vdb::TAsaSession& S, int32_t Code, const std::string& Message,
                       const std::string& SqlState) {
  EXPECT_EQ(Code, S.LastErrorCode());
  const std::string Head = "Error " + std::to_string(Code) + ": " + Message;
  EXPECT_EQ(Head, S.LastError().substr(0, Head.size())) << S.LastError();
  EXPECT_NE(std::string::npos, S.LastError().find("(" + SqlState + ")")) << S.LastError();
}

TEST_F(FaultInjectionTest, DiskFullReachesTheSessionAndLosesNothingCommitted) {
  // Budgets that run out at different points: the first page written, inside
  // the WAL, while the transaction grows and at its commit.
  for (int64_t Budget : {0, 100, 5000, 40000, 150000}) {
    SCOPED_TRACE("budget " + std::to_string(Budget));
    const std::string File = NewDatabase("full" + std::to_string(Budget) + ".db");
    auto S = Filled(File);

    Faults->Vfs.Target(File);
    Faults->Vfs.FailWritesAfter(Budget);
    int32_t Code = Run(*S, "insert into t select n + 1000, hex(randomblob(500)) from t");
    if (Code == 0) Code = CommitCode(*S);
    EXPECT_EQ(kDiskFull, Code);
    ExpectServerError(*S, kDiskFull, "Disk full -- transaction rolled back", "53100");
    EXPECT_GT(Faults->Vfs.Injected(), 0);

    // With space again the session goes on; the failed work is gone, as the
    // message says.
    Faults->Vfs.Clear();
    EXPECT_EQ(0, Run(*S, "insert into t values (5000, 'after')"));
    EXPECT_EQ(0, CommitCode(*S));
    ExpectIntact(File, kCommitted + 1);
    S->Close();
    ExpectIntact(File, kCommitted + 1);
  }
}

TEST_F(FaultInjectionTest, FailedSyncAtCommitReachesTheSessionAndReleasesTheTransaction) {
  auto S = Filled(Db);
  Faults->Vfs.Target(Db);
  Faults->Vfs.FailSyncs(true);
  ASSERT_EQ(0, Run(*S, "update t set pad = 'changed' where n <= 10"));
  EXPECT_EQ(kIoError, CommitCode(*S));
  ExpectServerError(*S, kIoError, "I/O error -- transaction rolled back", "08W31");
  Faults->Vfs.Clear();

  // Another connection can write: the failed transaction holds no lock.
  auto Other = NewSession("dblib7.dll", vdb::stServer, Db);
  Other->Open();
  EXPECT_EQ(0, Run(*Other, "insert into t values (7000, 'other')")) << Other->LastError();
  EXPECT_EQ(0, CommitCode(*Other));
  EXPECT_EQ(0, Run(*S, "insert into t values (7001, 'again')")) << S->LastError();
  EXPECT_EQ(0, CommitCode(*S));
  Other->Close();
  S->Close();
  ExpectIntact(Db, kCommitted + 2);
  EXPECT_EQ("0", FileScalar(Db, "select count(*) from t where pad = 'changed'"));
}

TEST_F(FaultInjectionTest, FailedReadsReachTheSessionAndLeaveTheDatabaseReadable) {
  {
    auto S = Filled(Db);
    S->Close();
  }
  // A fresh connection has read only the catalog; the table's pages come
  // from the file, where every read now fails.
  auto S = NewSession("dblib7.dll", vdb::stServer, Db);
  S->Open();
  Faults->Vfs.Target(Db);
  Faults->Vfs.FailReads(true);
  EXPECT_EQ(kIoError, Run(*S, "update t set pad = 'x' where pad like '%zz%'"));
  ExpectServerError(*S, kIoError, "I/O error -- transaction rolled back", "08W31");
  EXPECT_GT(Faults->Vfs.Injected(), 0);
  Faults->Vfs.Clear();

  EXPECT_EQ(0, Run(*S, "insert into t values (9000, 'after')")) << S->LastError();
  EXPECT_EQ(0, CommitCode(*S));
  S->Close();
  ExpectIntact(Db, kCommitted + 1);
}

TEST_F(FaultInjectionTest, ConnectWithFailingReadsRaisesAndLeavesTheSessionClosed) {
  {
    auto S = Filled(Db);
    S->Close();
  }
  StopEngines();
  Faults->Vfs.Target(Db);
  Faults->Vfs.FailReads(true);
  auto S = NewSession("dblib7.dll", vdb::stServer, Db);
  try {
    S->Open();
    ADD_FAILURE() << "connected over failing reads";
  } catch (const vdb::EAsaException& E) {
    EXPECT_LT(E.ErrorCode(), 0);
    EXPECT_EQ(E.ErrorCode(), S->LastErrorCode());
    EXPECT_NE(std::string::npos, S->LastError().find("I/O")) << S->LastError();
  }
  EXPECT_FALSE(S->Connected());
  Faults->Vfs.Clear();
  S->Open();
  EXPECT_TRUE(S->Connected());
  S->Close();
  ExpectIntact(Db, kCommitted);
}

TEST_F(FaultInjectionTest, StatementsRaiseTheServerErrorOfEveryFault) {
  struct Case {
    const char* Name;
    void (*Arm)(vdbtest::FaultVfs&);
    bool Query;  // opens a cursor instead of executing
    const char* SQL;
    int32_t Code;
    const char* Message;
  };
  const Case Cases[] = {
      {"disk full", [](vdbtest::FaultVfs& V) { V.FailWritesAfter(2000); }, false,
       "insert into t select n + 1000, hex(randomblob(500)) from t", kDiskFull, "Disk full -- transaction rolled back"},
      {"failing sync", [](vdbtest::FaultVfs& V) { V.FailSyncs(true); }, false,
       "update t set pad = 'changed' where n <= 10", kIoError, "I/O error -- transaction rolled back"},
      {"failing read", [](vdbtest::FaultVfs& V) { V.FailReads(true); }, true,
       "select count(*) from t where pad like '%zz%'", kIoError, "I/O error -- transaction rolled back"},
  };
  int Number = 0;
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string File = NewDatabase("statement" + std::to_string(Number++) + ".db");
    Filled(File)->Close();
    StopEngines();
    // A fresh connection, so that the table's pages come from the file.
    auto S = NewSession("dblib7.dll", vdb::stServer, File);
    S->Open();
    {
      vdb::TAsaSQL Q(nullptr);
      Q.SetSession(S.get());
      Q.SetWantExceptions(true);
      Faults->Vfs.Target(File);
      C.Arm(Faults->Vfs);
      try {
        if (C.Query)
          Q.OpenRead(C.SQL, {});
        else
          Q.Execute(C.SQL, {});
        ADD_FAILURE() << "no error";
      } catch (const vdb::EAsaException& E) {
        EXPECT_EQ(C.Code, E.ErrorCode());
        EXPECT_EQ(E.Message(), S->LastError());
        ExpectServerError(*S, C.Code, C.Message, C.Code == kDiskFull ? "53100" : "08W31");
      }
      Faults->Vfs.Clear();
      Q.Close();
      EXPECT_TRUE(Q.Execute("insert into t values (?, ?)", {vcl::Variant(8000), vcl::Variant("after")}));
    }
    S->Close();
    ExpectIntact(File, kCommitted + 1);
    EXPECT_EQ("0", FileScalar(File, "select count(*) from t where pad = 'changed'"));
  }
}

}  // namespace
