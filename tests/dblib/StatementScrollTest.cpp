// Prepare, drop, block fetch and the cursor positions at both ends.
#include "StatementFixture.h"

namespace dblibtest {
namespace {

class ScrollTest : public StatementTest {
 protected:
  // A fetch SQLDA of rows × (n INT, s VARCHAR(40)).
  std::unique_ptr<Da> Block(int rows) {
    auto da = std::make_unique<Da>(lib, rows * 2);
    for (int r = 0; r < rows; ++r) {
      da->Entry(r * 2, DT_INT, 4);
      da->Entry(r * 2 + 1, DT_STRING, 41);
    }
    da->Fill();
    return da;
  }
  int32_t N(const Da& da, int row) const { return *static_cast<int32_t*>(da[row * 2].sqldata); }
  // Fetches a block and answers the row numbers it delivered.
  std::vector<int> FetchBlock(int32_t kind, int32_t offset, int rows, const char* cursor = "c") {
    auto da = Block(rows);
    int32_t rc = esql.fetch_array(&*client, cursor, kind, offset, da->get(), nullptr, 0, rows);
    std::vector<int> got;
    if (rc < 0) {
      ADD_FAILURE() << client->Message();
      return got;
    }
    for (int r = 0; r < SQLCOUNT(client->ca); ++r) got.push_back(N(*da, r));
    if (rc == SQLE_NOTFOUND) {
      EXPECT_TRUE(got.empty());
    }
    return got;
  }
  static std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i <= to; ++i) v.push_back(i);
    return v;
  }
};

TEST_F(ScrollTest, PrepareAssignsTakesOverAndReusesNumbers) {
  NumberedRows(3);
  int16_t a = Prepare("select n from t");
  int16_t b = Prepare("select s from t");
  EXPECT_GT(a, 0);
  EXPECT_NE(a, b);
  // A number given is taken over: the statement behind it is replaced.
  int16_t given = b;
  ASSERT_EQ(0, esql.prepare(&*client, nullptr, "VDB", &given, "select n, s from t", nullptr, 1));
  EXPECT_EQ(b, given);
  Da probe(lib, 0, false);
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &given, probe.get(), DESCRIBE_SELECT_LIST));
  EXPECT_EQ(2, probe.get()->sqld);

  EXPECT_EQ(0, esql.dropstmt(&*client, nullptr, "VDB", &a));
  int16_t again = Prepare("select 1");
  EXPECT_EQ(a, again) << "the lowest free number is reused";

  struct Case {
    const char* what;
    int16_t number;
  } cases[] = {{"dropped", a == again ? int16_t(0) : a}, {"never prepared", 4000}};
  EXPECT_EQ(0, esql.dropstmt(&*client, nullptr, "VDB", &again));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int16_t n = c.number ? c.number : again;
    EXPECT_EQ(-630, esql.dropstmt(&*client, nullptr, "VDB", &n));
    EXPECT_EQ(-630, esql.describe(&*client, nullptr, "VDB", &n, probe.get(), 1));
    EXPECT_EQ(-630, esql.execute_into(&*client, nullptr, "VDB", &n, nullptr, nullptr));
    EXPECT_EQ(-630, esql.declare(&*client, "x", nullptr, "VDB", &n, CUR_READONLY));
  }
  EXPECT_EQ(SQLE_INVALID_PARAMETER, esql.prepare(&*client, nullptr, "VDB", nullptr, "select 1", nullptr, 1));
}

TEST_F(ScrollTest, PrepareErrorsCarryServerCodes) {
  NumberedRows(1);
  struct Case {
    const char* sql;
    int32_t code;
  } cases[] = {
      {"select * from missing", -141},
      {"select nosuch from t", -143},
      {"selec n from t", -131},
      {"select 'unterminated from t", -131},
      {"", -131},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    int16_t n = 0;
    EXPECT_EQ(c.code, esql.prepare(&*client, nullptr, "VDB", &n, c.sql, nullptr, 1));
    EXPECT_EQ(5u, std::strlen(client->ca.sqlstate));
    EXPECT_FALSE(client->Message().empty());
  }
  // Text after a NUL byte is not part of the statement.
  int16_t n = 0;
  const char text[] = "select n from t\0 garbage that is never read";
  EXPECT_EQ(0, esql.prepare(&*client, nullptr, "VDB", &n, text, nullptr, 1));
  // A 1 MB statement text is read in full.
  std::string big = "select n from t where s <> '" + std::string(1 << 20, 'x') + "'";
  n = 0;
  EXPECT_EQ(0, esql.prepare(&*client, nullptr, "VDB", &n, big.c_str(), nullptr, 1)) << client->Message();
}

// A 60-row result read forwards and backwards in blocks of 25, as a
// dataset's First, Last, Next and Prior do.
TEST_F(ScrollTest, BlocksOf25OverSixtyRowsInBothDirections) {
  NumberedRows(60);
  int16_t s = Prepare("select n, s from t order by n");
  ASSERT_EQ(0, client->Exec("set temporary option row_counts = 'ON'"));
  ASSERT_EQ(0, OpenCursor("c", s));
  EXPECT_EQ(60, SQLCOUNT(client->ca)) << "exact count with row_counts ON";

  struct Step {
    int32_t kind, offset;
    std::vector<int> rows;
  } steps[] = {
      {FETCH_ABSOLUTE, 1, Range(1, 25)},     // first block
      {FETCH_RELATIVE, 1, Range(26, 50)},    // next
      {FETCH_RELATIVE, 1, Range(51, 60)},    // a short block leaves the cursor on row 60
      {FETCH_RELATIVE, 1, {}},               // past the end
      {FETCH_RELATIVE, -1, {60}},            // after the last row, one back is the last
      {FETCH_ABSOLUTE, -25, Range(36, 60)},  // last block
      {FETCH_RELATIVE, -25, Range(35, 59)},  // prior from row 60
      {FETCH_RELATIVE, -25, Range(34, 58)},
      {FETCH_ABSOLUTE, 1, Range(1, 25)},
      {FETCH_RELATIVE, -25, {}},             // before the first row
      {FETCH_RELATIVE, 1, Range(1, 25)},     // from before the first row
      {FETCH_RELATIVE, 0, Range(25, 49)},    // the current row again, then on
      {FETCH_ABSOLUTE, 61, {}},
      {FETCH_RELATIVE, -60, Range(1, 25)},   // from after the last row (61 - 60)
      {FETCH_ABSOLUTE, -60, Range(1, 25)},
      {FETCH_ABSOLUTE, -61, {}},
      {FETCH_RELATIVE, 0, {}},               // before the first row there is no current row
      {FETCH_ABSOLUTE, 0, {}},
  };
  int i = 0;
  for (const auto& st : steps) {
    SCOPED_TRACE("step " + std::to_string(i++));
    std::vector<int> got = FetchBlock(st.kind, st.offset, 25);
    EXPECT_EQ(st.rows, got);
    EXPECT_EQ(st.rows.empty() ? SQLE_NOTFOUND : 0, client->ca.sqlcode);
  }
}

TEST_F(ScrollTest, PositioningWithoutDataMovesToTheCracks) {
  NumberedRows(10);
  int16_t s = Prepare("select n, s from t order by n");
  ASSERT_EQ(0, OpenCursor("c", s));
  // First: row 1, then one back lands before the first row with 100.
  EXPECT_EQ(0, esql.fetch(&*client, "c", FETCH_ABSOLUTE, 1, nullptr, nullptr, 0));
  EXPECT_EQ(SQLE_NOTFOUND, esql.fetch(&*client, "c", FETCH_RELATIVE, -1, nullptr, nullptr, 0));
  EXPECT_EQ(std::vector<int>{1}, FetchBlock(FETCH_RELATIVE, 1, 1));
  // Last: row 10, then one on lands after the last row.
  EXPECT_EQ(0, esql.fetch(&*client, "c", FETCH_ABSOLUTE, -1, nullptr, nullptr, 0));
  EXPECT_EQ(SQLE_NOTFOUND, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, nullptr, nullptr, 0));
  EXPECT_EQ(std::vector<int>{10}, FetchBlock(FETCH_RELATIVE, -1, 1));
  // Moving to row 4 from row 10, then reading it.
  EXPECT_EQ(0, esql.fetch(&*client, "c", FETCH_RELATIVE, -6, nullptr, nullptr, 0));
  EXPECT_EQ(std::vector<int>({4, 5, 6}), FetchBlock(FETCH_RELATIVE, 0, 3));
}

TEST_F(ScrollTest, NoScrollCursorStreamsForwardOnly) {
  NumberedRows(30);
  int16_t s = Prepare("select n, s from t order by n");
  ASSERT_EQ(0, OpenCursor("c", s, CUR_READONLY | CUR_NOSCROLL));
  EXPECT_EQ(Range(1, 25), FetchBlock(FETCH_RELATIVE, 1, 25));
  EXPECT_EQ(std::vector<int>{25}, FetchBlock(FETCH_RELATIVE, 0, 1)) << "the current row again";
  EXPECT_EQ(-668, esql.fetch_array(&*client, "c", FETCH_RELATIVE, -2, Block(1)->get(), nullptr, 0, 1));
  EXPECT_EQ(-668, esql.fetch_array(&*client, "c", FETCH_ABSOLUTE, -1, Block(1)->get(), nullptr, 0, 1));
  EXPECT_EQ(Range(28, 30), FetchBlock(FETCH_ABSOLUTE, 28, 25));
  EXPECT_TRUE(FetchBlock(FETCH_RELATIVE, 1, 25).empty());
}

TEST_F(ScrollTest, CursorLifecycleErrors) {
  NumberedRows(3);
  int16_t s = Prepare("select n, s from t");
  auto da = Block(1);
  EXPECT_EQ(-170, esql.fetch(&*client, "never", FETCH_RELATIVE, 1, da->get(), nullptr, 0));
  EXPECT_EQ(-170, esql.open(&*client, "never", nullptr, "VDB", &s, nullptr, nullptr, 0, CUR_READONLY));
  ASSERT_EQ(0, esql.declare(&*client, "c", nullptr, "VDB", &s, CUR_READONLY));
  EXPECT_EQ(-180, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, da->get(), nullptr, 0));
  ASSERT_EQ(0, esql.open(&*client, "c", nullptr, "VDB", &s, nullptr, nullptr, 0, CUR_READONLY));
  EXPECT_EQ(-172, esql.open(&*client, "c", nullptr, "VDB", &s, nullptr, nullptr, 0, CUR_READONLY));
  EXPECT_EQ(0, esql.close(&*client, "c"));
  EXPECT_EQ(-180, esql.close(&*client, "c"));
  EXPECT_EQ(-180, esql.update(&*client, "c", da->get()));
  // Reopened after close, the cursor starts before the first row again.
  ASSERT_EQ(0, esql.open(&*client, "c", nullptr, "VDB", &s, nullptr, nullptr, 0, CUR_READONLY));
  EXPECT_EQ(0, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, da->get(), nullptr, 0));
  EXPECT_EQ(SQLE_PROCEDURE_COMPLETE, esql.resume(&*client, "c"));
}

TEST_F(ScrollTest, FetchDescriptorMustMatchTheColumns) {
  NumberedRows(3);
  int16_t s = Prepare("select n, s from t");
  ASSERT_EQ(0, OpenCursor("c", s));
  Da small(lib, 1);
  small.Entry(0, DT_INT, 4).Fill();
  EXPECT_EQ(-642, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, small.get(), nullptr, 0));
  auto two = Block(1);
  EXPECT_EQ(-642, esql.fetch_array(&*client, "c", FETCH_RELATIVE, 1, two->get(), nullptr, 0, 2))
      << "two rows need four entries";
  Da noData(lib, 2);
  noData.Entry(0, DT_INT, 4).Entry(1, DT_STRING, 41);
  EXPECT_EQ(SQLE_INVALID_PARAMETER, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, noData.get(), nullptr, 0));
  // Column 2 is text: into an integer entry it does not convert.
  Da wrong(lib, 2);
  wrong.Entry(0, DT_INT, 4).Entry(1, DT_INT, 4).Fill();
  EXPECT_EQ(-157, esql.fetch(&*client, "c", FETCH_ABSOLUTE, 1, wrong.get(), nullptr, 0));
}

TEST_F(ScrollTest, OrderByPositionSortsByTheFirstSelectedColumnOfAnUpdatableCursor) {
  // Stored in the reverse order of n, so rowid order and n order differ.
  Exec("create table t(n int not null, s varchar(40))");
  Exec("insert into t values (3, 'c'), (1, 'a'), (2, 'b')");
  for (uint32_t flags : {uint32_t(CUR_READONLY), uint32_t(CUR_UPDATE)}) {
    int16_t n = Prepare("select n, s from t order by 1");
    ASSERT_EQ(0, OpenCursor("c", n, flags)) << client->Message();
    EXPECT_EQ(Range(1, 3), FetchBlock(1, 1, 3)) << flags;
    // The refetch of the current row reads the same row again.
    auto one = Block(1);
    ASSERT_EQ(0, esql.fetch(&*client, "c", 2, 0, one->get(), nullptr, 0));
    EXPECT_EQ(3, N(*one, 0)) << flags;
    EXPECT_EQ(0, esql.close(&*client, "c"));
  }
}

}  // namespace
}  // namespace dblibtest
