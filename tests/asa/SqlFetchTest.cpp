// TAsaSQL opening cursors and fetching in blocks: block sizes by cursor
// kind, the shrink after a small first block, end of the result, trimming,
// isolation flags and the events of open and close.
#include "AsaSqlFixture.h"
#include "rtl/FormFiles.h"

namespace asatest {
namespace {

class AsaFetchTest : public AsaSqlTest {
 protected:
  void SetUp() override {
    AsaSqlTest::SetUp();
    Run("create table t (id int primary key, name varchar(20), note long varchar)");
    std::string Insert = "insert into t (id, name) values (1, 'name 1')";
    for (int I = 2; I <= 60; ++I) Insert += ", (" + std::to_string(I) + ", 'name " + std::to_string(I) + "')";
    Run(Insert);
  }
};

TEST_F(AsaFetchTest, ReadOnlyCursorFetchesBlocksOf25AndWalksThemWithoutGaps) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("select id, name from t order by id", {}));
  EXPECT_EQ(25, Q.FetchCount());
  EXPECT_EQ(25, Q.AllocCount());
  EXPECT_EQ(25, Q.BufferCount());
  EXPECT_EQ(60, Q.RecordCount());
  int Rows = 1;
  EXPECT_EQ(0, Q.RecNo());
  EXPECT_EQ(1, Q.GetFieldValue("id").AsInteger());
  while (Q.Next()) {
    ++Rows;
    EXPECT_EQ(Rows - 1, Q.RecNo());
    EXPECT_EQ(Rows, Q.GetFieldValue(0).AsInteger());
    EXPECT_EQ("name " + std::to_string(Rows), Q.GetFieldValue(1).AsString());
  }
  EXPECT_EQ(60, Rows);
  EXPECT_TRUE(Q.Eof());
  EXPECT_FALSE(Q.Bof());
  EXPECT_EQ(0, Q.BufferCount());
  EXPECT_TRUE(Q.IsFieldNull(0));
  // Running on past the end stays there.
  EXPECT_FALSE(Q.Next());
  EXPECT_EQ(60, Q.RecNo());
}

TEST_F(AsaFetchTest, BlockSizeByCursorKind) {
  struct {
    const char* SQL;
    bool Write;
    int32_t FetchCount;
  } const Cases[] = {
      {"select id, name from t", false, 25},
      {"select id, name from t", true, 1},
      {"select id, note from t", false, 1},  // a long column
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.SQL) + (C.Write ? " for update" : ""));
    auto& Q = NewSQL();
    ASSERT_TRUE(C.Write ? Q.OpenWrite(C.SQL, {}) : Q.OpenRead(C.SQL, {}));
    EXPECT_EQ(C.FetchCount, Q.FetchCount());
    EXPECT_EQ(C.Write, !Q.ReadOnly());
    int Rows = 1;
    while (Q.Next()) ++Rows;
    EXPECT_EQ(60, Rows);
  }
}

TEST_F(AsaFetchTest, MaxFetchCountBoundsTheBlock) {
  auto& Q = NewSQL();
  Q.SetMaxFetchCount(7);
  ASSERT_TRUE(Q.OpenRead("select id from t order by id", {}));
  EXPECT_EQ(7, Q.FetchCount());
  int Rows = 1;
  while (Q.Next()) EXPECT_EQ(++Rows, Q.GetFieldValue(0).AsInteger());
  EXPECT_EQ(60, Rows);
}

TEST_F(AsaFetchTest, SmallFirstBlockShrinksTheFetchCount) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("select id from t where id <= 3 order by id", {}));
  EXPECT_EQ(3, Q.FetchCount());
  EXPECT_EQ(3, Q.BufferCount());
  EXPECT_FALSE(Q.FirstFetch());
  EXPECT_TRUE(Q.Next());
  EXPECT_TRUE(Q.Next());
  EXPECT_EQ(3, Q.GetFieldValue(0).AsInteger());
  EXPECT_FALSE(Q.Next());
  EXPECT_TRUE(Q.Eof());
  EXPECT_EQ(3, Q.RecNo());
}

TEST_F(AsaFetchTest, EmptyResult) {
  auto& Q = NewSQL();
  int AfterOpen = 0;
  Q.SetAfterOpen([&](vcl::TObject*) { ++AfterOpen; });
  EXPECT_FALSE(Q.OpenRead("select id from t where id > 100", {}));
  EXPECT_TRUE(Q.Active());
  EXPECT_EQ(0, AfterOpen);
  EXPECT_EQ(1, Q.FetchCount());
  EXPECT_EQ(-1, Q.RecNo());
  EXPECT_TRUE(Q.Bof());
  EXPECT_TRUE(Q.Eof());
  EXPECT_EQ(0, Q.BufferCount());
  EXPECT_EQ(SQLE_NOTFOUND, Q.LastErrorCode());
  EXPECT_FALSE(Q.Next());
}

TEST_F(AsaFetchTest, OpenWithParametersReusesThePreparedCursor) {
  auto& Q = NewSQL();
  int Prepares = 0;
  Q.SetAfterPrepare([&](vcl::TObject*) { ++Prepares; });
  const std::string SQL = "select name from t where id between ? and ? order by id";
  ASSERT_TRUE(Q.OpenRead(SQL, {vcl::Variant(5), vcl::Variant(6)}));
  EXPECT_EQ("name 5", Q.GetFieldValue(0).AsString());
  const int16_t Number = Q.CursorStatementNumber();
  EXPECT_EQ(std::string("VDB-") + std::to_string(Number), Q.CursorName());
  ASSERT_TRUE(Q.OpenRead(SQL, {vcl::Variant(40), vcl::Variant(41)}));
  EXPECT_EQ("name 40", Q.GetFieldValue(0).AsString());
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ("name 41", Q.GetFieldValue(0).AsString());
  EXPECT_FALSE(Q.Next());
  EXPECT_EQ(1, Prepares);
  EXPECT_EQ(Number, Q.CursorStatementNumber());
}

TEST_F(AsaFetchTest, TrimBlanksCutsFixedStrings) {
  Run("create table f (c char(10), v varchar(10))");
  Run("insert into f values ('ab   ', 'cd \t ')");
  for (bool Trim : {false, true}) {
    SCOPED_TRACE(Trim);
    Session->SetTrimBlanks(Trim);
    auto& Q = NewSQL();
    ASSERT_TRUE(Q.OpenRead("select c, v from f", {}));
    EXPECT_EQ(Trim ? "ab" : "ab   ", Q.GetFieldValue(0).AsString());
    EXPECT_EQ(Trim ? "cd" : "cd \t ", Q.GetFieldValue(1).AsString());
  }
}

TEST_F(AsaFetchTest, EventsOfOpenAndClose) {
  auto& Q = NewSQL();
  std::vector<std::string> Events;
  Q.SetBeforeOpen([&](vcl::TObject*) { Events.push_back("BeforeOpen"); });
  Q.SetAfterOpen([&](vcl::TObject*) { Events.push_back("AfterOpen"); });
  Q.SetBeforeClose([&](vcl::TObject*) { Events.push_back("BeforeClose"); });
  Q.SetAfterClose([&](vcl::TObject*) { Events.push_back("AfterClose"); });
  Q.SetAfterPrepare([&](vcl::TObject*) { Events.push_back("AfterPrepare"); });
  Q.SetAfterUnprepare([&](vcl::TObject*) { Events.push_back("AfterUnprepare"); });
  ASSERT_TRUE(Q.OpenRead("select id from t", {}));
  Q.Close();
  Q.Close();
  Q.UnprepareOpen();
  const std::vector<std::string> Expected = {"AfterPrepare", "BeforeOpen",  "AfterOpen",
                                             "BeforeClose",  "AfterClose", "AfterUnprepare"};
  EXPECT_EQ(Expected, Events);
  EXPECT_FALSE(Q.Active());
  EXPECT_FALSE(Q.CursorPrepared());
}

TEST_F(AsaFetchTest, NextOnAClosedCursorRaises) {
  auto& Q = NewSQL();
  try {
    Q.Next();
    FAIL();
  } catch (const vdb::EAsaException& E) {
    EXPECT_STREQ(vdb::VDB_ERR_CURS_NOT_OPENED, E.Message().c_str());
  }
}

// A serializable cursor reads inside a transaction that holds the database;
// with the isolation left unchanged a read-only cursor holds nothing.
TEST_F(AsaFetchTest, TransIsolationOpensWithItsLevel) {
  auto Other = NewSession();
  Other->Open();
  ASSERT_TRUE(Other->SetOption("blocking", "OFF"));
  for (vdb::TAsaTransIsolation Level : {vdb::atUnchanged, vdb::atSerializable}) {
    SCOPED_TRACE(static_cast<int>(Level));
    auto& Q = NewSQL();
    Q.SetTransIsolation(Level);
    ASSERT_TRUE(Q.OpenRead("select id from t", {}));
    const int32_t Code = Exec(*Other, "update t set name = 'x' where id = 1");
    if (Level == vdb::atUnchanged)
      EXPECT_EQ(0, Code);
    else
      EXPECT_GT(0, Code);
    Q.Close();
    Session->Rollback();
    Other->Rollback();
  }
}

// What the cursor kind, the access and the isolation level make of the
// declare and open: the isolation goes to the server only when it is set.
TEST_F(AsaFetchTest, CursorTypeAndIsolationChooseTheOpenFlags) {
  struct {
    vdb::TAsaCursorType Type;
    vdb::TAsaTransIsolation Level;
    bool Write;
    uint32_t Flags;
    int32_t Isolation;
  } const Cases[] = {
      {vdb::actDefault, vdb::atUnchanged, false, CUR_READONLY, 0},
      {vdb::actDefault, vdb::atUnchanged, true, CUR_UPDATE, 0},
      {vdb::actDynamicScroll, vdb::atUnchanged, false, CUR_READONLY, 0},
      {vdb::actFixedScroll, vdb::atUnchanged, false, CUR_READONLY | CUR_FIXEDSCROLL, 0},
      {vdb::actInsensitive, vdb::atUnchanged, true, CUR_UPDATE | CUR_INSENSITIVE, 0},
      {vdb::actNoScroll, vdb::atUnchanged, false, CUR_READONLY | CUR_NOSCROLL, 0},
      {vdb::actUnique, vdb::atUnchanged, false, CUR_READONLY | CUR_UNIQUE, 0},
      {vdb::actDefault, vdb::atReadUncommitted, false, CUR_READONLY | CUR_ISOLATION, 0},
      {vdb::actDefault, vdb::atReadCommitted, true, CUR_UPDATE | CUR_ISOLATION, 1},
      {vdb::actDefault, vdb::atReapeatableRead, false, CUR_READONLY | CUR_ISOLATION, 2},
      {vdb::actNoScroll, vdb::atSerializable, false, CUR_READONLY | CUR_NOSCROLL | CUR_ISOLATION, 3},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Type) + " / " + std::to_string(C.Level) + (C.Write ? " for update" : ""));
    auto& Q = NewLoggingSQL();
    Q.SetCursorType(C.Type);
    Q.SetTransIsolation(C.Level);
    Log().Reset();
    ASSERT_TRUE(C.Write ? Q.OpenWrite("select id from t", {}) : Q.OpenRead("select id from t", {}));
    EXPECT_EQ(std::vector<uint32_t>{C.Flags}, Log().DeclareFlags);
    ASSERT_EQ(1u, Log().Opens.size());
    EXPECT_EQ(C.Flags, Log().Opens[0].first);
    EXPECT_EQ(C.Isolation, Log().Opens[0].second);
    Q.Close();
    Session->Rollback();
  }
}

}  // namespace
}  // namespace asatest

namespace asatest {
namespace {

TEST(AsaSQLFormFile, PublishedPropertiesStream) {
  const std::string Text = "object SQL1: TAsaSQL\n"
                           "  WantExceptions = True\n"
                           "  CursorType = actNoScroll\n"
                           "  TransIsolation = atReadCommitted\n"
                           "end\n";
  std::unique_ptr<vcl::TComponent> C(vcl::ComponentFromText(Text));
  auto* Q = dynamic_cast<vdb::TAsaSQL*>(C.get());
  ASSERT_NE(nullptr, Q);
  EXPECT_TRUE(Q->WantExceptions());
  EXPECT_EQ(vdb::actNoScroll, Q->CursorType());
  EXPECT_EQ(vdb::atReadCommitted, Q->TransIsolation());
  EXPECT_TRUE(Q->InternalIsUniDirectional());
  const std::string Written = vcl::ComponentToText(Q);
  EXPECT_NE(std::string::npos, Written.find("CursorType = actNoScroll"));
  EXPECT_NE(std::string::npos, Written.find("TransIsolation = atReadCommitted"));

  vdb::TAsaSQL Defaults(nullptr);
  const std::string Plain = vcl::ComponentToText(&Defaults);
  EXPECT_EQ(std::string::npos, Plain.find("CursorType")) << "defaults are not written";
  EXPECT_EQ(std::string::npos, Plain.find("TransIsolation"));
}

}  // namespace
}  // namespace asatest

namespace asatest {
namespace {

// Values that fit into the BlobSize prefix come from the fetch buffer.
TEST_F(AsaSqlTest, ShortLongValuesAreServedFromTheFetchBuffer) {
  Run("create table l (id int, memo long varchar, data long binary)");
  Run("insert into l values (1, 'short memo', x'00010200ff'), (2, null, null)");
  auto& Q = NewSQL();
  Q.SetBlobSize(100);
  ASSERT_TRUE(Q.OpenRead("select memo, data from l order by id", {}));
  EXPECT_EQ(vdb::vtMemo, Q.GetFieldType(0));
  EXPECT_EQ(vdb::vtBlob, Q.GetFieldType(1));
  EXPECT_FALSE(Q.IsBlobTruncated(Q.BlobManager()->BlobByName("memo")));
  EXPECT_EQ("short memo", Q.GetFieldValue("memo").AsString());
  const uint8_t Expected[] = {0, 1, 2, 0, 0xFF};
  EXPECT_TRUE(vcl::VarArrayFromBytes(Expected, sizeof Expected) == Q.GetFieldValue("data"));
  ASSERT_TRUE(Q.Next());
  EXPECT_TRUE(Q.IsFieldNull("memo"));
  EXPECT_TRUE(Q.IsFieldNull("data"));
  EXPECT_FALSE(Q.IsBlobTruncated(Q.BlobManager()->BlobByName("data")));
}

TEST_F(AsaSqlTest, LongValuesPastThePrefixAreMarkedTruncated) {
  Run("create table l (memo long varchar)");
  Run("insert into l values ('" + std::string(200, 'm') + "')");
  for (int32_t BlobSize : {0, 100}) {
    SCOPED_TRACE(BlobSize);
    auto& Q = NewSQL();
    Q.SetBlobSize(BlobSize);
    ASSERT_TRUE(Q.OpenRead("select memo from l", {}));
    EXPECT_TRUE(Q.IsBlobTruncated(Q.BlobManager()->BlobByName("memo")));
    EXPECT_TRUE(Q.GetBlobTruncIndicator(Q.IndicatorBuffer(), 0));
  }
}

TEST_F(AsaSqlTest, UniqueCursorIsDescribedAtOpen) {
  Run("create table u (id int primary key, name varchar(10))");
  Run("insert into u values (1, 'a'), (2, 'b')");
  auto& Q = NewSQL();
  Q.SetCursorType(vdb::actUnique);
  ASSERT_TRUE(Q.OpenRead("select id, name from u order by id", {}));
  EXPECT_EQ(2, Q.FieldCount());
  EXPECT_EQ("a", Q.GetFieldValue("name").AsString());
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(2, Q.GetFieldValue("id").AsInteger());
  EXPECT_FALSE(Q.Next());
}

TEST_F(AsaSqlTest, CursorTypesOpenAndFetch) {
  Run("create table c (id int)");
  Run("insert into c values (1), (2), (3)");
  for (vdb::TAsaCursorType Type : {vdb::actDefault, vdb::actDynamicScroll, vdb::actFixedScroll,
                                   vdb::actInsensitive, vdb::actNoScroll, vdb::actUnique}) {
    SCOPED_TRACE(static_cast<int>(Type));
    auto& Q = NewSQL();
    Q.SetCursorType(Type);
    ASSERT_TRUE(Q.OpenRead("select id from c order by id", {}));
    int Sum = Q.GetFieldValue(0).AsInteger();
    while (Q.Next()) Sum += Q.GetFieldValue(0).AsInteger();
    EXPECT_EQ(6, Sum);
  }
}

// The engine goes away in the middle of a result: the fetch reports it and
// the statement is left closed and unprepared, never half-alive.
TEST_F(AsaSqlTest, LostConnectionDuringFetchLeavesTheStatementClosed) {
  Run("create table big (id int)");
  std::string Insert = "insert into big values (1)";
  for (int I = 2; I <= 40; ++I) Insert += ", (" + std::to_string(I) + ")";
  Run(Insert);
  auto& Q = NewSQL();
  Q.SetWantExceptions(false);
  ASSERT_TRUE(Q.OpenRead("select id from big", {}));
  StopEngine();
  int Rows = 1;
  while (Q.Next()) ++Rows;
  EXPECT_EQ(25, Rows) << "the first block was already here";
  EXPECT_FALSE(Q.Active());
  EXPECT_FALSE(Q.CursorPrepared());
  EXPECT_FALSE(Session->Connected());
  EXPECT_GT(0, Q.LastErrorCode());
}

}  // namespace
}  // namespace asatest
