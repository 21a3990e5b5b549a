// TAsaSQL execution: auto-commit with and without a user transaction, a
// commit that fails, the statement-number pool, and every library variant
// running the same statements.
#include "AsaSqlFixture.h"
#include "rtl/Windows.h"

namespace asatest {
namespace {

using vcl::Variant;

// Prepares SQL through the library itself, outside the session's pool;
// answers the number the library assigned.
int16_t RawPrepare(vdb::TAsaSession& S, const std::string& SQL) {
  int16_t Number = 0;
  void* P = vcl::GetProcAddress(S.LibraryHandle(), "dbpp_prepare");
  if (S.LibraryVersion() < 7)
    reinterpret_cast<dbpp_prepare_pb_fn>(P)(S.Sqlca(), S.ProgramBlock(), nullptr, "T", &Number, SQL.c_str(),
                                            nullptr, 1);
  else
    reinterpret_cast<dbpp_prepare_fn>(P)(S.Sqlca(), nullptr, "T", &Number, SQL.c_str(), nullptr, 1);
  return S.Sqlca()->sqlcode == 0 ? Number : -1;
}

TEST_F(AsaSqlTest, AutoCommitCommitsEachChangeOutsideAUserTransaction) {
  Run("create table t (id int)");
  struct {
    const char* Name;
    bool AutoCommit;
    bool UserTransaction;
    bool Kept;  // the insert survives a rollback
  } const Cases[] = {
      {"auto-commit", true, false, true},
      {"auto-commit in a user transaction", true, true, false},
      {"no auto-commit", false, false, false},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    Run("delete from t");
    Session->SetAutoCommit(C.AutoCommit);
    if (C.UserTransaction) Session->StartTransaction();
    auto& Q = NewSQL();
    ASSERT_TRUE(Q.Execute("insert into t values (?)", {Variant(1)}));
    Session->Rollback();
    EXPECT_EQ(C.Kept ? 1 : 0, Value("select count(*) from t").AsInteger());
  }
}

TEST_F(AsaSqlTest, ClosingACursorCommitsInAutoCommitMode) {
  Run("create table t (id int)");
  auto& Q = NewSQL();
  ASSERT_EQ(0, Exec(*Session, "insert into t values (1)"));  // pending, not committed
  ASSERT_FALSE(Q.OpenRead("select id from t where id > 1", {}));
  Q.Close();
  Session->Rollback();
  EXPECT_EQ(1, Value("select count(*) from t").AsInteger());
}

// A deferred foreign key fails only at commit: the commit is rolled back and
// its error is what the execution reports.
TEST_F(AsaSqlTest, FailingAutoCommitIsRolledBackAndReported) {
  Run("create table parent (id int primary key)");
  Run("create table child (pid int references parent(id) deferrable initially deferred)");
  auto& Q = NewSQL();
  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.Execute("insert into child values (?)", {Variant(99)}));
  EXPECT_EQ(1, Q.RowsProcessed()) << "the insert itself ran";
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_NE(std::string::npos, Q.LastError().find("FOREIGN KEY")) << Q.LastError();
  EXPECT_EQ(0, Value("select count(*) from child").AsInteger());

  // Nothing is left pending: the next change commits on its own.
  ASSERT_TRUE(Q.Execute("insert into parent values (?)", {Variant(1)}));
  Session->Rollback();
  EXPECT_EQ(1, Value("select count(*) from parent").AsInteger());

  Q.SetWantExceptions(true);
  try {
    Q.Execute("insert into child values (?)", {Variant(98)});
    FAIL() << "a failed commit was reported as success";
  } catch (const vdb::EAsaException& E) {
    EXPECT_GT(0, E.ErrorCode());
  }
}

TEST_F(AsaSqlTest, DroppedStatementNumbersAreReused) {
  vdb::TAsaStatementPool* Pool = Session->StatementPool();
  auto& A = NewSQL();
  auto& B = NewSQL();
  ASSERT_TRUE(A.Describe("select 1"));
  ASSERT_TRUE(B.Describe("select 2"));
  const int16_t First = A.CursorStatementNumber();
  const int16_t Second = B.CursorStatementNumber();
  EXPECT_NE(First, Second);
  EXPECT_EQ(2, Pool->Count());
  EXPECT_EQ(0, Pool->Next());

  // Both dropped: the next prepare takes the earlier one's number.
  A.UnprepareOpen();
  B.UnprepareOpen();
  EXPECT_EQ(First, Pool->Next());
  ASSERT_TRUE(B.Describe("select 3"));
  EXPECT_EQ(First, B.CursorStatementNumber());
  EXPECT_EQ(2, Pool->Count());
  EXPECT_EQ(Second, Pool->Next());

  // The number comes from the pool, not from the library: the library would
  // have assigned another, since this one is taken on the server meanwhile.
  B.UnprepareOpen();
  ASSERT_EQ(First, RawPrepare(*Session, "select 4"));
  ASSERT_TRUE(A.Describe("select 5"));
  EXPECT_EQ(First, A.CursorStatementNumber());
  EXPECT_EQ(2, Pool->Count());

  // A statement prepared for both halves holds one number and gives it back once.
  A.UnprepareOpen();
  auto& C = NewSQL();
  ASSERT_TRUE(C.Prepare("select 6"));
  EXPECT_EQ(C.CursorStatementNumber(), C.ExecStatementNumber());
  C.Unprepare();
  EXPECT_EQ(2, Pool->Count());
  EXPECT_EQ(First, Pool->Next());
}

TEST_F(AsaSqlTest, PoolStartsAgainAfterADisconnect) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Describe("select 1"));
  EXPECT_EQ(1, Session->StatementPool()->Count());
  Session->Close();
  EXPECT_FALSE(Q.CursorPrepared());
  EXPECT_EQ(0, Session->StatementPool()->Count());
  Session->Open();
  EXPECT_EQ(0, Session->StatementPool()->Next());
  ASSERT_TRUE(Q.Describe("select 1"));
  EXPECT_EQ(1, Session->StatementPool()->Count());
}

TEST_F(AsaSqlTest, LibrariesBeforeVersion6KeepNoPool) {
  Statements.clear();
  Session = NewSession("dbl50t.dll");
  Session->Open();
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Describe("select 1"));
  Q.UnprepareOpen();
  ASSERT_TRUE(Q.Describe("select 2"));
  EXPECT_EQ(0, Session->StatementPool()->Count());
}

// The same statements through every library variant, with and without the
// program block.
TEST_F(AsaSqlTest, EveryLibraryVariantPreparesExecutesAndFetches) {
  for (const char* Library : kVariants) {
    SCOPED_TRACE(Library);
    Statements.clear();
    Session = NewSession(Library);
    Session->Open();
    Run("create table if not exists v (id int, name varchar(10))");
    Run("delete from v");
    auto& Q = NewSQL();
    for (int I = 1; I <= 30; ++I) ASSERT_TRUE(Q.Execute("insert into v values (?, ?)", {Variant(I), Variant("n")}));
    ASSERT_TRUE(Q.OpenRead("select id, name from v where id > ? order by id", {Variant(2)}));
    int Rows = 1;
    while (Q.Next()) ++Rows;
    EXPECT_EQ(28, Rows);
    ASSERT_TRUE(Q.Execute("select count(*) from v where name = ?", {Variant("n")}));
    EXPECT_EQ(30, Q.GetOutVar(0).AsInteger());
  }
}

}  // namespace
}  // namespace asatest
