// TAsaSQL scrolling: Last and Prev over the block fetch, the ends of the
// result, positioning without data, re-reading the current row, the server
// position after a short block on version 6 engines, the guards of the
// cursor operations, the table name, the plan and immediate execution.
#include "AsaCallLog.h"
#include "AsaSqlFixture.h"

namespace asatest {
namespace {

class AsaScrollTest : public AsaSqlTest {
 protected:
  void SetUp() override {
    AsaSqlTest::SetUp();
    Fill(*Session);
  }
  void Fill(vdb::TAsaSession& S) {
    ASSERT_EQ(0, Exec(S, "create table t (id int primary key, name varchar(20))"));
    std::string Insert = "insert into t values (1, 'name 1')";
    for (int I = 2; I <= 60; ++I) Insert += ", (" + std::to_string(I) + ", 'name " + std::to_string(I) + "')";
    ASSERT_EQ(0, Exec(S, Insert));
    ASSERT_EQ(0, Exec(S, "commit"));
  }
  static int Id(vdb::TAsaSQL& Q) { return Q.GetFieldValue("id").AsInteger(); }
};

TEST_F(AsaScrollTest, LastThenPrevWalksBackBlockByBlock) {
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenRead("select id, name from t order by id", {}));
  ASSERT_EQ(25, Q.FetchCount());
  Log().Reset();
  ASSERT_TRUE(Q.Last());
  EXPECT_EQ(1, Log().Total()) << "rows 36 to 60 in one call";
  EXPECT_EQ(25, Q.BufferCount());
  EXPECT_EQ(24, Q.BufferIndex());
  EXPECT_EQ(59, Q.RecNo());
  EXPECT_EQ(60, Id(Q));
  EXPECT_EQ("name 60", Q.GetFieldValue("name").AsString());

  int Silent = 0;
  for (int Expected = 59; Expected >= 1; --Expected) {
    SCOPED_TRACE(Expected);
    Log().Reset();
    ASSERT_TRUE(Q.Prev());
    if (Log().Total() == 0) ++Silent;
    EXPECT_EQ(Expected, Id(Q));
    EXPECT_EQ(Expected - 1, Q.RecNo());
    EXPECT_FALSE(Q.Bof());
    EXPECT_FALSE(Q.Eof());
  }
  EXPECT_EQ(24, Silent) << "the rest of the block after Last needs no server call";

  // Before the first row: no row, and no further call to find that out.
  EXPECT_FALSE(Q.Prev());
  EXPECT_TRUE(Q.Bof());
  EXPECT_EQ(0, Q.BufferCount());
  EXPECT_EQ(-1, Q.RecNo());
  Log().Reset();
  EXPECT_FALSE(Q.Prev());
  EXPECT_EQ(0, Log().Total());
  // And forwards again from there.
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(1, Id(Q));
}

TEST_F(AsaScrollTest, PrevOnTheFirstRowOfTheFirstBlockFindsNoRow) {
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenRead("select id from t order by id", {}));
  Log().Reset();
  EXPECT_FALSE(Q.Prev());
  EXPECT_EQ(1, Log().Count("dbpp_fetch_array"));
  EXPECT_EQ(SQLE_NOTFOUND, Q.LastErrorCode());
  EXPECT_TRUE(Q.Bof());
  EXPECT_EQ(0, Q.BufferCount());
  EXPECT_TRUE(Q.IsFieldNull("id"));
}

TEST_F(AsaScrollTest, PrevAfterRunningOffTheEndBringsTheLastRow) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("select id from t order by id", {}));
  while (Q.Next()) {
  }
  ASSERT_TRUE(Q.Eof());
  ASSERT_TRUE(Q.Prev());
  EXPECT_FALSE(Q.Eof());
  EXPECT_EQ(60, Id(Q));
  ASSERT_TRUE(Q.Prev());
  EXPECT_EQ(59, Id(Q));
}

// Each move positions without data; the row after it comes with the next
// Next, the row before with Prev, the row itself with Curr.
TEST_F(AsaScrollTest, MovesPositionWithoutData) {
  struct Case {
    const char* Name;
    std::function<bool(vdb::TAsaSQL&)> Move;
    int RecNo;
    bool Bof, Eof;
    int Next, Prev, Curr;  // ids read afterwards; 0 = no row
  };
  const Case Cases[] = {
      {"MoveTo(10)", [](vdb::TAsaSQL& Q) { return Q.MoveTo(10); }, 10, false, false, 12, 10, 11},
      {"MoveTo(59)", [](vdb::TAsaSQL& Q) { return Q.MoveTo(59); }, 59, false, false, 0, 59, 60},
      {"MoveTo past the end", [](vdb::TAsaSQL& Q) { return Q.MoveTo(100); }, 60, false, true, 0, 60, 0},
      {"MoveTo before the start", [](vdb::TAsaSQL& Q) { return Q.MoveTo(-5); }, -1, true, false, 1, 0, 0},
      {"MoveToFirst", [](vdb::TAsaSQL& Q) { return Q.MoveToFirst(); }, -1, true, false, 1, 0, 0},
      {"MoveToLast", [](vdb::TAsaSQL& Q) { return Q.MoveToLast(); }, 60, false, true, 0, 60, 0},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    for (int Read : {0, 1, 2}) {
      SCOPED_TRACE(Read == 0 ? "Next" : Read == 1 ? "Prev" : "Curr");
      auto& Q = NewSQL();
      ASSERT_TRUE(Q.OpenRead("select id from t order by id", {}));
      ASSERT_TRUE(Q.Next());  // somewhere inside the first block
      ASSERT_TRUE(C.Move(Q));
      EXPECT_EQ(C.RecNo, Q.RecNo());
      EXPECT_EQ(C.Bof, Q.Bof());
      EXPECT_EQ(C.Eof, Q.Eof());
      EXPECT_EQ(0, Q.BufferCount());
      const bool Got = Read == 0 ? Q.Next() : Read == 1 ? Q.Prev() : Q.Curr();
      const int Expected = Read == 0 ? C.Next : Read == 1 ? C.Prev : C.Curr;
      EXPECT_EQ(Expected != 0, Got);
      if (Got) {
        EXPECT_EQ(Expected, Id(Q));
      }
    }
  }
}

TEST_F(AsaScrollTest, CurrReadsTheCurrentRowAgainAsStoredNow) {
  auto Other = NewSession();
  Other->Open();
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("select id, name from t order by id", {}));
  for (int I = 0; I < 30; ++I) ASSERT_TRUE(Q.Next());
  ASSERT_EQ(31, Id(Q));
  ASSERT_EQ(0, Exec(*Other, "update t set name = 'renamed' where id = 31"));
  ASSERT_EQ(0, Exec(*Other, "commit"));
  EXPECT_EQ("name 31", Q.GetFieldValue("name").AsString());
  ASSERT_TRUE(Q.Curr());
  EXPECT_EQ(31, Id(Q));
  EXPECT_EQ(30, Q.RecNo());
  EXPECT_EQ("renamed", Q.GetFieldValue("name").AsString());
  // The block now starts at the current row and goes on from there.
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(32, Id(Q));
  ASSERT_TRUE(Q.Prev());
  EXPECT_EQ(31, Id(Q));
  ASSERT_TRUE(Q.Prev());
  EXPECT_EQ(30, Id(Q));
}

// A short block (the end of the result in a block) leaves a version 6
// engine one row further than other engines; positioning from such a block
// lands on the same rows on both.
TEST_F(AsaScrollTest, PositionsAfterAShortBlockOnEveryEngineVersion) {
  struct Engine {
    const char* ServerParams;
    int Version;
  } const Engines[] = {{"", 7}, {"start=dbeng7 -ev 6.0.3.2", 6}};
  for (const Engine& E : Engines) {
    SCOPED_TRACE(E.Version);
    const std::string File = NewDatabase("v" + std::to_string(E.Version) + ".db");
    auto S = NewSession("dblib7.dll", vdb::stServer, File);
    S->SetServerParams(E.ServerParams);
    S->Open();
    ASSERT_EQ(E.Version, S->EngineVersion());
    Fill(*S);

    auto Walk = [&](int To) -> vdb::TAsaSQL& {
      auto& Q = NewLoggingSQL(S.get());
      EXPECT_TRUE(Q.OpenRead("select id from t order by id", {}));
      while (Id(Q) < To) EXPECT_TRUE(Q.Next());
      return Q;
    };
    {
      // Rows 51 to 60 are the third, short block.
      auto& Q = Walk(51);
      EXPECT_EQ(10, Q.BufferCount());
      ASSERT_TRUE(Q.Prev());
      EXPECT_EQ(50, Id(Q));
    }
    {
      auto& Q = Walk(55);
      ASSERT_TRUE(Q.Curr());
      EXPECT_EQ(55, Id(Q));
    }
    {
      auto& Q = Walk(57);
      ASSERT_TRUE(Q.MoveTo(29));
      ASSERT_TRUE(Q.Curr());
      EXPECT_EQ(30, Id(Q));
      ASSERT_TRUE(Q.Next());
      EXPECT_EQ(31, Id(Q));
    }
    {
      // A first block smaller than asked for shrinks the block size.
      auto& Q = NewLoggingSQL(S.get());
      ASSERT_TRUE(Q.OpenRead("select id from t where id <= 3 order by id", {}));
      EXPECT_EQ(3, Q.FetchCount());
      ASSERT_TRUE(Q.Next());
      ASSERT_TRUE(Q.Curr());
      EXPECT_EQ(2, Id(Q));
      ASSERT_TRUE(Q.MoveTo(0));
      ASSERT_TRUE(Q.Next());
      EXPECT_EQ(2, Id(Q));
    }
    Statements.clear();
    S->Close();
  }
}

TEST_F(AsaScrollTest, CursorOperationsRefuseAClosedOrReadOnlyCursor) {
  using Op = std::function<void(vdb::TAsaSQL&)>;
  const std::pair<const char*, Op> OnCursor[] = {
      {"First", [](vdb::TAsaSQL& Q) { Q.First(); }},   {"Last", [](vdb::TAsaSQL& Q) { Q.Last(); }},
      {"Next", [](vdb::TAsaSQL& Q) { Q.Next(); }},     {"Curr", [](vdb::TAsaSQL& Q) { Q.Curr(); }},
      {"Prev", [](vdb::TAsaSQL& Q) { Q.Prev(); }},     {"Explain", [](vdb::TAsaSQL& Q) { Q.Explain(); }},
      {"Resume", [](vdb::TAsaSQL& Q) { Q.Resume(); }},
  };
  const std::pair<const char*, Op> Changing[] = {
      {"Modify", [](vdb::TAsaSQL& Q) { Q.Modify(); }},
      {"Append", [](vdb::TAsaSQL& Q) { Q.Append(); }},
      {"Delete", [](vdb::TAsaSQL& Q) { Q.Delete(); }},
      {"Lock", [](vdb::TAsaSQL& Q) { Q.Lock(); }},
  };
  auto Raises = [](vdb::TAsaSQL& Q, const Op& F, const char* Message) {
    try {
      F(Q);
      ADD_FAILURE() << "no exception";
    } catch (const vdb::EAsaException& E) {
      EXPECT_EQ(Message, E.Message());
      EXPECT_EQ(0, E.ErrorCode());
    }
  };
  auto& Closed = NewSQL();
  for (const auto& [Name, F] : OnCursor) {
    SCOPED_TRACE(Name);
    Raises(Closed, F, vdb::VDB_ERR_CURS_NOT_OPENED);
  }
  for (const auto& [Name, F] : Changing) {
    SCOPED_TRACE(Name);
    Raises(Closed, F, vdb::VDB_ERR_CURS_NOT_OPENED);
  }
  auto& Reading = NewSQL();
  ASSERT_TRUE(Reading.OpenRead("select id from t", {}));
  for (const auto& [Name, F] : Changing) {
    SCOPED_TRACE(Name);
    Raises(Reading, F, vdb::VDB_ERR_CURS_READ_ONLY);
  }
  // Closed after a read-only open: Lock names the read-only cursor first.
  Reading.Close();
  Raises(Reading, Changing[3].second, vdb::VDB_ERR_CURS_READ_ONLY);
  Raises(Reading, Changing[0].second, vdb::VDB_ERR_CURS_NOT_OPENED);
}

TEST_F(AsaScrollTest, TableNameFromTheServerOrFromTheText) {
  Run("create table u (id int, other varchar(10))");
  struct Case {
    const char* SQL;
    const char* Table;
  } const Cases[] = {
      {"select id, name from t", "t"},
      {"select t.id, u.other from t join u on t.id = u.id", "t"},  // the server names none for a join
      {"select x.id from u x, t y where x.id = y.id", "u"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.SQL);
    auto& Q = NewSQL();
    Q.Open(C.SQL, {}, true);
    EXPECT_EQ(C.Table, Q.TableName());
    Q.Close();
    EXPECT_EQ(C.Table, Q.TableName()) << "closed: the text alone";
  }
}

TEST_F(AsaScrollTest, ExplainGivesThePlanOfTheOpenCursor) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("select name from t where id = 7", {}));
  const std::string Plan = Q.Explain();
  EXPECT_NE(std::string::npos, Plan.find("t")) << Plan;
  EXPECT_LE(Plan.size(), 300u);
}

TEST_F(AsaScrollTest, ExecuteImmediateRunsCountsAndCommits) {
  auto Other = NewSession();
  Other->Open();
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.ExecuteImmediate("update t set name = 'x' where id <= 3"));
  EXPECT_EQ(3, Q.RowsProcessed());
  vdb::TAsaSQL R(nullptr);
  R.SetSession(Other.get());
  ASSERT_TRUE(R.OpenRead("select count(*) from t where name = 'x'", {}));
  EXPECT_EQ(3, R.GetFieldValue(0).AsInteger()) << "committed in auto-commit mode";

  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.ExecuteImmediate("update nowhere set a = 1"));
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_NE("", Q.LastError());
  Q.SetWantExceptions(true);
  EXPECT_THROW(Q.ExecuteImmediate("update nowhere set a = 1"), vdb::EAsaException);
}

}  // namespace
}  // namespace asatest
