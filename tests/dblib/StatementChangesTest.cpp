// Changes through a cursor, the current row as stored now, long values in
// pieces and written through server variables.
#include "StatementFixture.h"

namespace dblibtest {
namespace {

class ChangesTest : public StatementTest {
 protected:
  // An SQLDA of one named text value.
  std::unique_ptr<Da> Named(const char* name, const char* text) {
    auto da = std::make_unique<Da>(lib, 1);
    da->Entry(0, DT_STRING, 64).Fill();
    std::memcpy((*da)[0].sqlname.data, name, std::strlen(name));
    (*da)[0].sqlname.length = static_cast<int16_t>(std::strlen(name));
    std::strcpy(static_cast<char*>((*da)[0].sqldata), text);
    return da;
  }
  // Row (n, s) of the cursor fetched with kind and offset.
  std::pair<int32_t, std::string> Row(Client& c, const char* cursor, int32_t kind, int32_t offset, int32_t* rc = nullptr) {
    Da da(lib, 2);
    da.Entry(0, DT_INT, 4).Entry(1, DT_STRING, 41).Fill();
    int32_t code = esql.fetch(&c, cursor, kind, offset, da.get(), nullptr, 0);
    if (rc) *rc = code;
    if (code != 0) return {-1, ""};
    return {*static_cast<int32_t*>(da[0].sqldata), da.Text(1)};
  }
  std::string ValueOf(Client& c, const std::string& sql) {
    int16_t s = Prepare(sql, c);
    Da out(lib, 1);
    out.Entry(0, DT_STRING, 200).Fill();
    int32_t rc = esql.execute_into(&c, nullptr, "VDB", &s, nullptr, out.get());
    esql.dropstmt(&c, nullptr, "VDB", &s);
    return rc == 0 ? out.Text(0) : "code " + std::to_string(rc);
  }
};

TEST_F(ChangesTest, PositionedUpdateAndDeleteAreSeenByASecondConnection) {
  NumberedRows(5);
  auto other = Connect();
  int16_t s = Prepare("select n, s from t order by n");
  ASSERT_EQ(0, OpenCursor("c", s, CUR_UPDATE));
  EXPECT_EQ(2, Row(*client, "c", FETCH_ABSOLUTE, 2).first);
  ASSERT_EQ(0, esql.update(&*client, "c", Named("s", "changed")->get())) << client->Message();
  EXPECT_EQ(1, SQLCOUNT(client->ca));
  EXPECT_EQ((std::pair<int32_t, std::string>(2, "changed")), Row(*client, "c", FETCH_RELATIVE, 0));
  EXPECT_EQ(4, Row(*client, "c", FETCH_ABSOLUTE, 4).first);
  ASSERT_EQ(0, esql.del(&*client, "c", nullptr, nullptr));
  EXPECT_EQ(1, SQLCOUNT(client->ca));
  ASSERT_EQ(0, lib.dbpp_commit(&*client, 0));
  EXPECT_EQ("changed", ValueOf(*other, "select s from t where n = 2"));
  EXPECT_EQ("4", ValueOf(*other, "select count(*) from t"));
  EXPECT_EQ("row 3", ValueOf(*other, "select s from t where n = 3")) << "only the current row changed";
}

TEST_F(ChangesTest, CurrentRowFetchedAgainShowsAnotherConnectionsChange) {
  NumberedRows(30);
  auto other = Connect();
  struct Case {
    const char* what;
    uint32_t flags;
  } cases[] = {{"for update", CUR_UPDATE}, {"read-only, dynamic scroll", CUR_READONLY}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int16_t s = Prepare("select n, s from t order by n");
    ASSERT_EQ(0, OpenCursor("c", s, c.flags));
    EXPECT_EQ("row 3", Row(*client, "c", FETCH_ABSOLUTE, 3).second);
    ASSERT_EQ(0, other->Exec(std::string("update t set s = '") + c.what + "' where n = 3"));
    ASSERT_EQ(0, other->Exec("commit"));
    EXPECT_EQ(c.what, Row(*client, "c", FETCH_RELATIVE, 0).second);
    EXPECT_EQ(4, Row(*client, "c", FETCH_RELATIVE, 1).first) << "the cursor goes on from there";
    ASSERT_EQ(0, other->Exec("delete from t where n = 4; commit"));
    int32_t rc = 0;
    Row(*client, "c", FETCH_RELATIVE, 0, &rc);
    EXPECT_EQ(SQLE_NOTFOUND, rc) << "a deleted row is gone";
    ASSERT_EQ(0, other->Exec("insert into t values (4, 'row 4'); update t set s = 'row 3' where n = 3; commit"));
    ASSERT_EQ(0, esql.close(&*client, "c"));
  }
  // An insensitive cursor keeps the values of its open.
  int16_t s = Prepare("select n, s from t order by n");
  ASSERT_EQ(0, OpenCursor("i", s, CUR_READONLY | CUR_INSENSITIVE));
  EXPECT_EQ(30, SQLCOUNT(client->ca));
  EXPECT_EQ(1, Row(*client, "i", FETCH_ABSOLUTE, 1).first);
  ASSERT_EQ(0, other->Exec("update t set s = 'later' where n = 1; commit"));
  EXPECT_EQ("row 1", Row(*client, "i", FETCH_RELATIVE, 0).second);
}

TEST_F(ChangesTest, LockTakesTheWriteLock) {
  NumberedRows(3);
  auto other = Connect();
  ASSERT_EQ(0, other->Exec("set temporary option blocking = 'OFF'"));
  int16_t s = Prepare("select n, s from t");
  ASSERT_EQ(0, OpenCursor("c", s, CUR_UPDATE));
  ASSERT_EQ(1, Row(*client, "c", FETCH_ABSOLUTE, 1).first);
  ASSERT_EQ(0, esql.fetch(&*client, "c", FETCH_RELATIVE, 0, nullptr, nullptr, FETCH_LOCK));
  EXPECT_GT(0, other->Exec("update t set s = 'other' where n = 2")) << "the locked table refuses other writers";
  ASSERT_EQ(0, lib.dbpp_commit(&*client, 0));
  EXPECT_EQ(0, other->Exec("update t set s = 'other' where n = 2")) << other->Message();
}

TEST_F(ChangesTest, PutIntoReturnsTheStoredRow) {
  Exec("create table p(id integer primary key, s varchar(20) default 'dflt', n int)");
  int16_t s = Prepare("select id, s, n from p");
  ASSERT_EQ(0, OpenCursor("c", s, CUR_UPDATE));
  Da values(lib, 1, false);  // only n: the other columns take their defaults
  values.Entry(0, DT_INT, 4).Fill();
  std::memcpy(values[0].sqlname.data, "n", 1);
  values[0].sqlname.length = 1;
  *static_cast<int32_t*>(values[0].sqldata) = 5;
  Da row(lib, 3);
  row.Entry(0, DT_INT, 4).Entry(1, DT_STRING, 21).Entry(2, DT_INT, 4).Fill();
  ASSERT_EQ(0, esql.put_into(&*client, "c", values.get(), row.get())) << client->Message();
  EXPECT_EQ(1, SQLCOUNT(client->ca));
  EXPECT_EQ(1, *static_cast<int32_t*>(row[0].sqldata)) << "the generated key";
  EXPECT_EQ("dflt", row.Text(1)) << "the default";
  EXPECT_EQ(5, *static_cast<int32_t*>(row[2].sqldata));
  ASSERT_EQ(0, lib.dbpp_commit(&*client, 0));
  EXPECT_EQ("1|dflt|5", Sqlite3Cli(db, "select * from p"));
}

TEST_F(ChangesTest, CursorsThatCannotChangeRefuse) {
  NumberedRows(3);
  Exec("create table u(n int, x int)");
  struct Case {
    const char* sql;
    uint32_t flags;
    int32_t fetchTo;  // absolute row to stand on first, 0 for none
    const char* column;
    int32_t code;
  } cases[] = {
      {"select n, s from t", CUR_READONLY, 1, "s", -633},
      {"select t.n, s from t join u on t.n = u.n", CUR_UPDATE, 0, "s", -192},
      {"select count(*) as k from t", CUR_UPDATE, 1, "k", -192},
      {"select n, s || '!' as e from t", CUR_UPDATE, 1, "e", -190},
      {"select n, s from t", CUR_UPDATE, 1, "nosuch", -143},
      {"select n, s from t", CUR_UPDATE, 0, "s", -197},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    int16_t s = Prepare(c.sql);
    ASSERT_EQ(0, OpenCursor("c", s, c.flags)) << client->Message();
    if (c.fetchTo) {
      ASSERT_EQ(0, esql.fetch(&*client, "c", FETCH_ABSOLUTE, c.fetchTo, nullptr, nullptr, 0));
    }
    EXPECT_EQ(c.code, esql.update(&*client, "c", Named(c.column, "v")->get()));
    if (c.code != -143 && c.code != -190) {
      EXPECT_EQ(c.code, esql.del(&*client, "c", nullptr, nullptr));
    }
    ASSERT_EQ(0, esql.close(&*client, "c"));
  }
  EXPECT_EQ("row 1", ValueOf(*client, "select s from t where n = 1"));
}

TEST_F(ChangesTest, LongValuesReadInPiecesAndWrittenThroughAServerVariable) {
  Exec("create table b(id int, data long binary, memo long varchar)");
  std::string value(100000, '\0');
  for (size_t i = 0; i < value.size(); ++i) value[i] = static_cast<char>(i * 7 + i / 251);
  std::string text(100000, 'm');
  text[99999] = 'z';

  // Written in pieces of 32765 bytes through a connection variable.
  Exec("create variable blobparam1 long binary");
  Exec("set blobparam1 = ''");
  int16_t append = Prepare("set blobparam1 = blobparam1 || :blob_host");
  Da piece(lib, 1);
  piece.Entry(0, DT_BINARY, 32767).Fill();
  for (size_t sent = 0; sent < value.size();) {
    uint16_t n = static_cast<uint16_t>(std::min<size_t>(32765, value.size() - sent));
    std::memcpy(piece[0].sqldata, &n, 2);
    std::memcpy(static_cast<char*>(piece[0].sqldata) + 2, value.data() + sent, n);
    ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &append, piece.get(), nullptr)) << client->Message();
    sent += n;
  }
  int16_t ins = Prepare("insert into b values (1, ?, '" + text + "')");
  Da var(lib, 1);
  var.Entry(0, DT_VARIABLE, 30).Fill();
  std::strcpy(static_cast<char*>(var[0].sqldata), "blobparam1");
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins, var.get(), nullptr)) << client->Message();
  Exec("drop variable blobparam1");
  Exec("insert into b values (2, null, null)");

  int16_t sel = Prepare("select id, data, memo from b order by id");
  ASSERT_EQ(0, OpenCursor("c", sel));
  Da row(lib, 3);
  row.Entry(0, DT_INT, 4).Entry(1, DT_STRING, 104).Entry(2, DT_STRING, 104).Fill();
  EXPECT_EQ(SQLE_TRUNCATED, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, row.get(), nullptr, 0));
  EXPECT_GE(row.Ind(1), 1) << "the prefix in the fetch buffer is marked truncated";

  struct Column {
    uint32_t number;
    const std::string* expect;
  } columns[] = {{2, &value}, {3, &text}};
  for (const auto& col : columns) {
    SCOPED_TRACE(col.number);
    std::string got;
    int calls = 0;
    int32_t rc;
    do {
      rc = esql.get_data(&*client, "c", col.number, static_cast<uint32_t>(got.size()), piece.get(), 0);
      ASSERT_GE(rc, 0) << client->Message();
      uint16_t n;
      std::memcpy(&n, piece[0].sqldata, 2);
      got.append(static_cast<char*>(piece[0].sqldata) + 2, n);
      ++calls;
    } while (rc == SQLE_TRUNCATED);
    EXPECT_EQ(4, calls);
    EXPECT_TRUE(got == *col.expect);
  }
  ASSERT_EQ(0, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, row.get(), nullptr, 0));
  EXPECT_EQ(-1, row.Ind(1)) << "a NULL long value is not truncated";
  ASSERT_EQ(0, esql.get_data(&*client, "c", 2, 0, piece.get(), 0));
  EXPECT_EQ(-1, piece.Ind(0));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, esql.get_data(&*client, "c", 4, 0, piece.get(), 0));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, esql.get_data(&*client, "c", 0, 0, piece.get(), 0));
}

TEST_F(ChangesTest, ExplainAndImmediateExecution) {
  NumberedRows(3);
  int16_t s = Prepare("select s from t where n = 2");
  ASSERT_EQ(0, OpenCursor("c", s));
  Da plan(lib, 1);
  plan.Entry(0, DT_STRING, 300).Fill();
  ASSERT_EQ(0, esql.explain(&*client, "c", nullptr, plan.get()));
  EXPECT_NE(std::string::npos, plan.Text(0).find("t")) << plan.Text(0);
  ASSERT_EQ(0, esql.close(&*client, "c"));
  EXPECT_EQ(-180, esql.explain(&*client, "c", nullptr, plan.get()));
  EXPECT_EQ(0, client->Exec("update t set s = 'x' where n >= 2"));
  EXPECT_EQ(2, SQLCOUNT(client->ca));
}

}  // namespace
}  // namespace dblibtest
