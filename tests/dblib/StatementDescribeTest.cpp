// Describing result columns, host variables and names; the type of each
// column from its declaration or from what its expression is.
#include "StatementFixture.h"

namespace dblibtest {
namespace {

class DescribeTest : public StatementTest {
 protected:
  struct Column {
    std::string name;
    int16_t type;  // nullable bit included
    uint16_t length;
  };
  std::vector<Column> Columns(int16_t number) {
    Da probe(lib, 0);
    EXPECT_EQ(0, esql.describe(&*client, nullptr, "VDB", &number, probe.get(), DESCRIBE_SELECT_LIST));
    int n = probe.get()->sqld;
    Da da(lib, n);
    EXPECT_EQ(0, esql.describe(&*client, nullptr, "VDB", &number, da.get(), DESCRIBE_SELECT_LIST));
    std::vector<Column> out;
    for (int i = 0; i < n; ++i)
      out.push_back({std::string(da[i].sqlname.data, da[i].sqlname.length), da[i].sqltype, da[i].sqllen});
    return out;
  }
};

TEST_F(DescribeTest, DeclaredTypesMapToServerTypes) {
  struct Case {
    const char* decl;
    int16_t type;
    uint16_t length;
  } cases[] = {
      {"varchar(40) not null", DT_VARCHAR, 40},
      {"char(8)", DT_FIXCHAR, 8},
      {"char(8192)", DT_FIXCHAR, 8192},
      {"long varchar", DT_LONGVARCHAR, 32767},
      {"text", DT_LONGVARCHAR, 32767},
      {"integer", DT_INT, 4},
      {"int not null", DT_INT, 4},
      {"smallint", DT_SMALLINT, 2},
      {"tinyint", DT_TINYINT, 1},
      {"bigint", DT_BIGINT, 8},
      {"unsigned int", DT_UNSINT, 4},
      {"unsigned smallint", DT_UNSSMALLINT, 2},
      {"unsigned bigint", DT_UNSBIGINT, 8},
      {"double", DT_DOUBLE, 8},
      {"float", DT_FLOAT, 4},
      {"real", DT_FLOAT, 4},
      {"decimal(15,2)", DT_DECIMAL, 15 | 2 << 8},
      {"numeric(19,4)", DT_DECIMAL, 19 | 4 << 8},
      {"date", DT_DATE, 10},
      {"time", DT_TIME, 8},
      {"timestamp", DT_TIMESTAMP, 26},
      {"datetime", DT_TIMESTAMP, 26},
      {"bit", DT_BIT, 1},
      {"binary(16)", DT_BINARY, 16},
      {"varbinary(100)", DT_BINARY, 100},
      {"long binary", DT_LONGBINARY, 32767},
      {"blob", DT_LONGBINARY, 32767},
  };
  std::string ddl = "create table d(id integer primary key";
  int i = 0;
  for (const auto& c : cases) ddl += ", c" + std::to_string(i++) + " " + c.decl;
  Exec(ddl + ")");
  auto cols = Columns(Prepare("select * from d"));
  ASSERT_EQ(std::size(cases) + 1, cols.size());
  EXPECT_EQ(DT_INT, cols[0].type) << "an integer primary key is never NULL";
  for (size_t k = 0; k < std::size(cases); ++k) {
    const Case& c = cases[k];
    SCOPED_TRACE(c.decl);
    bool notNull = std::strstr(c.decl, "not null") != nullptr;
    EXPECT_EQ(c.type | (notNull ? 0 : DT_NULLABLE), cols[k + 1].type);
    EXPECT_EQ(c.length, cols[k + 1].length);
    EXPECT_EQ("c" + std::to_string(k), cols[k + 1].name);
  }
}

TEST_F(DescribeTest, ExpressionsGetATypeFromWhatTheyAre) {
  Exec("create table t(n int, s varchar(40), d double)");
  struct Case {
    const char* expr;
    int16_t type;
    uint16_t length;  // 0: not checked
  } cases[] = {
      {"count(*)", DT_INT, 4},
      {"n + 1", DT_BIGINT, 8},
      {"n * d", DT_DOUBLE, 8},
      {"n * 1.5", DT_DOUBLE, 8},
      {"upper(s)", DT_VARCHAR, 40},
      {"s || 'xy'", DT_VARCHAR, 42},
      {"'abc'", DT_VARCHAR, 3},
      {"42", DT_INT, 4},
      {"cast(n as varchar(12))", DT_VARCHAR, 12},
      {"max(n)", DT_INT, 4},
      {"sum(n)", DT_BIGINT, 8},
      {"avg(n)", DT_DOUBLE, 8},
      {"date('now')", DT_DATE, 10},
      {"n > 1", DT_INT, 4},
      {"case when n > 1 then d else 0 end", DT_DOUBLE, 8},
      {"length(s)", DT_INT, 4},
      {"(n)", DT_INT, 4},
      {"t.d", DT_DOUBLE, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expr);
    auto cols = Columns(Prepare(std::string("select ") + c.expr + " as x from t"));
    ASSERT_EQ(1u, cols.size());
    EXPECT_EQ(c.type | DT_NULLABLE, cols[0].type);
    if (c.length) {
      EXPECT_EQ(c.length, cols[0].length);
    }
  }
}

TEST_F(DescribeTest, ASelectedVariableHasItsNameAndDeclaredType) {
  Exec("create variable total integer");
  Exec("create variable label varchar(12)");
  std::vector<Column> cols = Columns(Prepare("select total, label, total + 1 as next from sys.sysdomain"));
  ASSERT_EQ(3u, cols.size());
  EXPECT_EQ("total", cols[0].name);
  EXPECT_EQ(DT_INT, cols[0].type & ~1);
  EXPECT_EQ("label", cols[1].name);
  EXPECT_EQ(DT_VARCHAR, cols[1].type & ~1);
  EXPECT_EQ(12, cols[1].length);
  EXPECT_EQ("next", cols[2].name);
}

TEST_F(DescribeTest, TooSmallDescriptorReportsTheCountNeeded) {
  Exec("create table t(a int, b int, c int, d int, e int)");
  int16_t s = Prepare("select * from t");
  Da da(lib, 2);
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &s, da.get(), DESCRIBE_SELECT_LIST));
  EXPECT_EQ(5, da.get()->sqld);
  EXPECT_EQ(2, da.get()->sqln);
  EXPECT_EQ("b", std::string(da[1].sqlname.data, da[1].sqlname.length));
}

TEST_F(DescribeTest, HostVariablesAndProbe) {
  Exec("create table t(a int, b varchar(10))");
  int16_t ins = Prepare("insert into t values (:a + 0, ?) ");
  int16_t rep = Prepare("select * from t where a = :a or a > :a or b = ?");
  Da da(lib, 4);
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &ins, da.get(), DESCRIBE_BIND_VARS));
  EXPECT_EQ(2, da.get()->sqld);
  EXPECT_EQ("a", std::string(da[0].sqlname.data, da[0].sqlname.length));
  EXPECT_EQ(0, da[1].sqlname.length);
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &rep, da.get(), DESCRIBE_BIND_VARS));
  EXPECT_EQ(2, da.get()->sqld) << "a repeated :name is one variable";

  Da probe(lib, 0, false);
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &rep, probe.get(), DESCRIBE_PROBE));
  EXPECT_EQ(2, probe.get()->sqld);
  EXPECT_EQ(1, SQLCOUNT(client->ca)) << "the result set is known at prepare";
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &ins, probe.get(), DESCRIBE_PROBE));
  EXPECT_EQ(0, probe.get()->sqld);
  EXPECT_NE(0, SQLCOUNT(client->ca));
}

TEST_F(DescribeTest, FullColumnNamesAndTheTableOfACursor) {
  Exec("create table orders(id int, amount double)");
  Exec("create table lines(order_id int, qty int)");
  const std::string alias = "a_column_alias_of_exactly_forty_chars_xx";
  ASSERT_EQ(40u, alias.size());
  int16_t s = Prepare("select id as " + alias + ", amount from orders");
  auto cols = Columns(s);
  EXPECT_EQ(alias.substr(0, 30), cols[0].name);
  Da names(lib, 2, false);
  names.Entry(0, DT_STRING, 128).Entry(1, DT_STRING, 128).Fill();
  ASSERT_EQ(0, esql.describe_names(&*client, nullptr, "VDB", &s, nullptr, names.get(), 5, DESCRIBE_NAMES_COLUMNS));
  EXPECT_EQ(alias, names.Text(0));
  EXPECT_EQ("amount", names.Text(1));

  struct Case {
    std::string sql;
    std::string table;
  } cases[] = {
      {"select id, amount from orders where id > 1", "orders"},
      {"select o.id from orders o", "orders"},
      {"select * from orders, lines", ""},
      {"select id from orders join lines on id = order_id", ""},
      {"select count(*) from orders", ""},
      {"select 1 + 2", ""},
      {"select id from orders union select qty from lines", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    int16_t n = Prepare(c.sql);
    ASSERT_EQ(0, OpenCursor("c", n));
    Da table(lib, 1, false);
    table.Entry(0, DT_STRING, 128).Fill();
    ASSERT_EQ(0, esql.describe_names(&*client, nullptr, nullptr, nullptr, "c", table.get(), 5, DESCRIBE_NAMES_TABLE));
    EXPECT_EQ(c.table, table.Text(0));
    Da cursorCols(lib, 4);
    ASSERT_EQ(0, esql.describe_cursor(&*client, "c", cursorCols.get(), DESCRIBE_SELECT_LIST));
    EXPECT_EQ(Columns(n).size(), static_cast<size_t>(cursorCols.get()->sqld));
    ASSERT_EQ(0, esql.close(&*client, "c"));
  }
}

}  // namespace
}  // namespace dblibtest
