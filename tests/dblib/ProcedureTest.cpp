// Stored procedures and functions at the C ABI, driven the way the statement
// component drives them: probe describe, input describe with output-only
// marks, output describe, execute into the output descriptor, and cursors
// over calls stepped through their result sets with resume.
#include "StatementFixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace dblibtest {

namespace {

// Server codes the header does not name.
constexpr int32_t kProcedureNotFound = -265;
constexpr int32_t kPrimaryKeyNotUnique = -193;
constexpr int32_t kConversion = -157;
constexpr int32_t kNotEnoughValues = -188;
constexpr int32_t kSyntax = -131;
constexpr int32_t kItemExists = -110;
constexpr int32_t kNestingTooDeep = -274;

std::vector<std::string> gMessages;

void OnMessage(SQLCA*, uint8_t type, int32_t, uint16_t length, const char* text) {
  gMessages.push_back(std::to_string(type) + " " + std::string(text, length));
}

constexpr const char* kDemo =
    "create procedure p_demo(in a integer, out b varchar(20), inout c integer)\n"
    "begin\n"
    "  message 'working on ' || a to client;\n"
    "  set b = 'got ' || a;\n"
    "  set c = c * 10 + a;\n"
    "  select name, qty from item where qty >= a order by id;\n"
    "  select count(*) as n from item;\n"
    "  return a + 100;\n"
    "end";

class ProcedureTest : public StatementTest {
 protected:
  void SetUp() override {
    StatementTest::SetUp();
    gMessages.clear();
    Exec("create table item(id integer primary key, name varchar(20), qty integer)");
    Exec("insert into item values (1, 'bolt', 5), (2, 'nut', 7), (3, 'gear', 1)");
    Exec(kDemo);
    Exec("commit");
  }

  int32_t Describe(int16_t number, SQLDA* da, uint32_t kind) {
    return esql.describe(&*client, nullptr, "VDB", &number, da, kind);
  }

  // Describes the input variables the way the component does: a probe of
  // zero entries for the count, then the real descriptor.
  std::unique_ptr<Da> DescribeInput(int16_t number) {
    Da probe(lib, 0);
    EXPECT_EQ(0, Describe(number, probe.get(), DESCRIBE_BIND_VARS)) << client->Message();
    auto da = std::make_unique<Da>(lib, probe.get()->sqld);
    EXPECT_EQ(0, Describe(number, da->get(), DESCRIBE_BIND_VARS)) << client->Message();
    return da;
  }
  std::unique_ptr<Da> DescribeOutput(int16_t number) {
    Da probe(lib, 0);
    EXPECT_EQ(0, Describe(number, probe.get(), DESCRIBE_SELECT_LIST)) << client->Message();
    auto da = std::make_unique<Da>(lib, probe.get()->sqld);
    EXPECT_EQ(0, Describe(number, da->get(), DESCRIBE_SELECT_LIST)) << client->Message();
    return da;
  }

  static bool OutputOnly(const sqlvar& v) { return v.sqlind && (*v.sqlind & 0x8000) && !(*v.sqlind & 0x4000); }
  static std::string Name(const sqlvar& v) { return std::string(v.sqlname.data, v.sqlname.length); }

  // Input values bound in order to the entries that are not output-only, as
  // the component binds its descriptors; every entry keeps its own buffer.
  struct Bound {
    std::vector<int32_t> ints;
    std::vector<std::string> texts;
  };
  void BindInts(Da& in, const std::vector<int32_t>& values, Bound& b) {
    b.ints = values;
    size_t j = 0;
    for (int i = 0; i < in.get()->sqld; ++i) {
      sqlvar& v = in[i];
      if (OutputOnly(v)) {
        *v.sqlind = -1;
        continue;
      }
      if (j >= b.ints.size()) {
        *v.sqlind = -1;
        continue;
      }
      v.sqltype = DT_INT;
      v.sqllen = 4;
      v.sqldata = &b.ints[j++];
      *v.sqlind = 0;
    }
  }
  // Host types and buffers for an output descriptor.
  static void Buffers(Da& out) {
    for (int i = 0; i < out.get()->sqld; ++i) {
      sqlvar& v = out[i];
      int16_t t = v.sqltype & DT_TYPES;
      if (t == DT_INT || t == DT_SMALLINT || t == DT_TINYINT)
        out.Entry(i, DT_INT | DT_NULLABLE, 4);
      else
        out.Entry(i, DT_STRING | DT_NULLABLE, static_cast<uint16_t>(v.sqllen + 1));
    }
    out.Fill();
  }
  static int32_t IntAt(Da& out, int i) {
    int32_t x;
    std::memcpy(&x, out[i].sqldata, 4);
    return x;
  }
};

TEST_F(ProcedureTest, CallWithInOutInoutReturnValueAndMessageExecutesIntoOutputs) {
  ASSERT_EQ(0, lib.db_register_a_callback(&*client, DB_CALLBACK_MESSAGE,
                                          reinterpret_cast<db_any_callback_fn>(&OnMessage)));
  int16_t n = Prepare("?=call p_demo(?,?,?)");
  ASSERT_NE(0, n);

  Da probe(lib, 0, false);
  ASSERT_EQ(0, Describe(n, probe.get(), DESCRIBE_PROBE));
  EXPECT_EQ(0, SQLCOUNT(client->ca));  // a call: result sets are known only when it runs

  auto in = DescribeInput(n);
  ASSERT_EQ(4, in->get()->sqld);
  EXPECT_TRUE(OutputOnly((*in)[0])) << "the return value";
  EXPECT_FALSE(OutputOnly((*in)[1]));
  EXPECT_TRUE(OutputOnly((*in)[2])) << "OUT b";
  EXPECT_FALSE(OutputOnly((*in)[3])) << "INOUT c";
  EXPECT_EQ(DT_INT, (*in)[1].sqltype & DT_TYPES);

  auto out = DescribeOutput(n);
  ASSERT_EQ(3, out->get()->sqld);
  EXPECT_EQ("p_demo", Name((*out)[0]));
  EXPECT_EQ("b", Name((*out)[1]));
  EXPECT_EQ("c", Name((*out)[2]));
  EXPECT_EQ(DT_INT, (*out)[0].sqltype & DT_TYPES);
  EXPECT_EQ(DT_VARCHAR, (*out)[1].sqltype & DT_TYPES);
  EXPECT_EQ(20, (*out)[1].sqllen);
  Buffers(*out);

  Bound b;
  BindInts(*in, {6, 4}, b);  // a = 6, c = 4; b is skipped
  EXPECT_EQ(-1, *(*in)[2].sqlind);
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &n, in->get(), out->get())) << client->Message();
  EXPECT_EQ(106, IntAt(*out, 0));
  EXPECT_EQ("got 6", out->Text(1));
  EXPECT_EQ(46, IntAt(*out, 2));
  EXPECT_EQ(0, out->Ind(0));
  EXPECT_EQ((std::vector<std::string>{"0 working on 6"}), gMessages);
  EXPECT_EQ(0, esql.dropstmt(&*client, nullptr, "VDB", &n));
}

// The call texts the datasets build, owner prefix and named markers
// included, describe and run like the positional form.
TEST_F(ProcedureTest, CallFormsOfTheDatasetsDescribeAndRunAlike) {
  struct Case {
    const char* sql;
    std::vector<bool> outputOnly;
    std::vector<std::string> outputs;
  } cases[] = {
      {"?=call p_demo(?,?,?)", {true, false, true, false}, {"p_demo", "b", "c"}},
      {":Result = call dba.p_demo(:a,:b,:c)", {true, false, true, false}, {"p_demo", "b", "c"}},
      {"call dba.p_demo(:a,:b,:c)", {false, true, false}, {"b", "c"}},
      {"call p_demo(?, ?, ?)", {false, true, false}, {"b", "c"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    int16_t n = Prepare(c.sql);
    Da probe(lib, 0, false);
    ASSERT_EQ(0, Describe(n, probe.get(), DESCRIBE_PROBE));
    EXPECT_EQ(0, SQLCOUNT(client->ca));
    auto in = DescribeInput(n);
    std::vector<bool> marks;
    for (int i = 0; i < in->get()->sqld; ++i) marks.push_back(OutputOnly((*in)[i]));
    EXPECT_EQ(c.outputOnly, marks);
    auto out = DescribeOutput(n);
    std::vector<std::string> names;
    for (int i = 0; i < out->get()->sqld; ++i) names.push_back(Name((*out)[i]));
    EXPECT_EQ(c.outputs, names);
    Buffers(*out);
    Bound b;
    BindInts(*in, {6, 4}, b);
    ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &n, in->get(), out->get())) << client->Message();
    const int first = c.outputs.size() == 3 ? 1 : 0;
    if (first == 1) {
      EXPECT_EQ(106, IntAt(*out, 0));
    }
    EXPECT_EQ("got 6", out->Text(first));
    EXPECT_EQ(46, IntAt(*out, first + 1));
    EXPECT_EQ(0, esql.dropstmt(&*client, nullptr, "VDB", &n));
  }
}

TEST_F(ProcedureTest, CursorOverCallDeliversEachResultSetThroughResume) {
  int16_t n = Prepare("call p_demo(?,?,?)");
  auto in = DescribeInput(n);
  ASSERT_EQ(3, in->get()->sqld);
  Bound b;
  BindInts(*in, {5, 0}, b);
  ASSERT_EQ(0, OpenCursor("VDB-1", n, CUR_READONLY, in->get())) << client->Message();

  auto describeCursor = [&](std::vector<std::string>& names) {
    Da probe(lib, 0, false);
    ASSERT_EQ(0, esql.describe_cursor(&*client, "VDB-1", probe.get(), DESCRIBE_SELECT_LIST));
    auto da = std::make_unique<Da>(lib, probe.get()->sqld);
    ASSERT_EQ(0, esql.describe_cursor(&*client, "VDB-1", da->get(), DESCRIBE_SELECT_LIST));
    for (int i = 0; i < da->get()->sqld; ++i) names.push_back(Name((*da)[i]));
  };
  std::vector<std::string> names;
  describeCursor(names);
  EXPECT_EQ((std::vector<std::string>{"name", "qty"}), names);

  // Two rows of (name, qty) in one block fetch.
  Da rows(lib, 4);
  for (int r = 0; r < 2; ++r) rows.Entry(r * 2, DT_STRING | DT_NULLABLE, 21).Entry(r * 2 + 1, DT_INT | DT_NULLABLE, 4);
  rows.Fill();
  ASSERT_EQ(0, esql.fetch_array(&*client, "VDB-1", 1, 1, rows.get(), 0, 0, 2)) << client->Message();
  EXPECT_EQ(2, SQLCOUNT(client->ca));
  EXPECT_EQ("bolt", rows.Text(0));
  EXPECT_EQ(5, IntAt(rows, 1));
  EXPECT_EQ("nut", rows.Text(2));
  EXPECT_EQ(100, esql.fetch_array(&*client, "VDB-1", 2, 1, rows.get(), 0, 0, 2));

  ASSERT_EQ(0, esql.resume(&*client, "VDB-1")) << client->Message();
  names.clear();
  describeCursor(names);
  EXPECT_EQ((std::vector<std::string>{"n"}), names);
  Da one(lib, 1);
  one.Entry(0, DT_INT | DT_NULLABLE, 4).Fill();
  ASSERT_EQ(0, esql.fetch(&*client, "VDB-1", 1, 1, one.get(), nullptr, 0));
  EXPECT_EQ(3, IntAt(one, 0));

  EXPECT_EQ(SQLE_PROCEDURE_COMPLETE, esql.resume(&*client, "VDB-1"));
  EXPECT_EQ(SQLE_PROCEDURE_COMPLETE, esql.resume(&*client, "VDB-1"));
  EXPECT_EQ(0, esql.close(&*client, "VDB-1"));
  // Reopened, the call runs again from its first result set.
  ASSERT_EQ(0, esql.open(&*client, "VDB-1", nullptr, "VDB", &n, in->get(), nullptr, 0, CUR_READONLY));
  ASSERT_EQ(0, esql.fetch_array(&*client, "VDB-1", 1, 1, rows.get(), 0, 0, 2));
  EXPECT_EQ("bolt", rows.Text(0));
  EXPECT_EQ(0, esql.close(&*client, "VDB-1"));
}

TEST_F(ProcedureTest, CallWithoutResultSetOpensCompleted) {
  Exec("create procedure p_none(in x integer) begin update item set qty = x where id = 1 end");
  int16_t n = Prepare("call p_none(9)");
  EXPECT_EQ(SQLE_PROCEDURE_COMPLETE, OpenCursor("c", n));
  EXPECT_EQ(SQLE_PROCEDURE_COMPLETE, esql.resume(&*client, "c"));
  EXPECT_EQ(0, esql.close(&*client, "c"));
  Da one(lib, 1);
  one.Entry(0, DT_INT | DT_NULLABLE, 4).Fill();
  int16_t q = Prepare("select qty from item where id = 1");
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &q, nullptr, one.get()));
  EXPECT_EQ(9, IntAt(one, 0));
}

TEST_F(ProcedureTest, CreateDropAndCallByImmediateExecution) {
  Exec("create function f_twice(in x integer) returns integer begin return x * 2 end");
  Exec("call p_demo(1, null, 0)");
  int16_t n = Prepare("? = call f_twice(?)");
  auto out = DescribeOutput(n);
  ASSERT_EQ(1, out->get()->sqld);
  EXPECT_EQ("f_twice", Name((*out)[0]));
  Buffers(*out);
  auto in = DescribeInput(n);
  Bound b;
  BindInts(*in, {21}, b);
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &n, in->get(), out->get())) << client->Message();
  EXPECT_EQ(42, IntAt(*out, 0));

  Exec("drop procedure p_demo");
  EXPECT_EQ(kProcedureNotFound, client->Exec("call p_demo(1, null, 0)"));
  EXPECT_EQ(kProcedureNotFound, client->Exec("drop procedure p_demo"));
  Exec("drop procedure if exists p_demo");
  int16_t none = 0;
  EXPECT_EQ(kProcedureNotFound,
            esql.prepare(&*client, nullptr, "VDB", &none, "call p_demo(1, 2, 3)", nullptr, 1));
}

TEST_F(ProcedureTest, ProcedureCreatedOnOneConnectionRunsOnAnother) {
  auto other = Connect();
  Exec("create procedure p_add(in x integer) begin insert into item values (x, 'new', x) end");
  Exec("commit");
  ASSERT_EQ(0, other->Exec("call p_add(10)")) << other->Message();
  ASSERT_EQ(0, other->Exec("commit"));
  EXPECT_EQ(4, CountRows(db, "item"));
}

TEST_F(ProcedureTest, FailuresInsideABodyCarryTheStatementsCode) {
  Exec("create procedure p_dup() begin insert into item values (1, 'dup', 0) end");
  Exec("create procedure p_deep(in n integer) begin call p_deep(n + 1) end");
  Exec("create procedure p_typed(in n integer) begin select n * 2 as twice end");
  struct Case {
    const char* sql;
    int32_t code;
  } cases[] = {
      {"call p_dup()", kPrimaryKeyNotUnique},
      {"call p_deep(0)", kNestingTooDeep},
      {"call p_typed('abc')", kConversion},
      {"call p_demo()", kNotEnoughValues},
      {"create procedure p_bad() begin set x = end", kSyntax},
      {"create procedure p_dup() begin return 1 end", kItemExists},
  };
  for (const Case& c : cases) EXPECT_EQ(c.code, client->Exec(c.sql)) << c.sql << ": " << client->Message();
  // A failed call leaves the connection usable.
  EXPECT_EQ(0, client->Exec("select 1"));
}

TEST_F(ProcedureTest, CommitAndRollbackInABodyEndTheConnectionsTransaction) {
  Exec("create procedure p_keep(in x integer) begin insert into item values (x, 'kept', 0); commit end");
  Exec("create procedure p_undo() begin delete from item; rollback end");
  Exec("commit");
  Exec("call p_keep(20)");
  EXPECT_EQ(4, CountRows(db, "item"));  // committed: a reader beside the engine sees it
  Exec("call p_undo()");
  EXPECT_EQ(4, CountRows(db, "item"));
  // The connection's own account of the transaction still holds.
  Exec("insert into item values (21, 'gone', 0)");
  Exec("rollback");
  Exec("insert into item values (22, 'here', 0)");
  Exec("commit");
  EXPECT_EQ(5, CountRows(db, "item"));
}

TEST_F(ProcedureTest, ArgumentsAreConvertedToTheDeclaredTypes) {
  Exec("create procedure p_conv(in n integer, in s varchar(10), out t varchar(30)) "
       "begin set t = typeof(n) || ' ' || typeof(s) || ' ' || (n + 1) || ' ' || s end");
  int16_t n = Prepare("call p_conv('41', 7, ?)");
  auto out = DescribeOutput(n);
  Buffers(*out);
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &n, nullptr, out->get())) << client->Message();
  EXPECT_EQ("integer text 42 7", out->Text(0));
}

TEST_F(ProcedureTest, FunctionsAreCallableInSqlExpressions) {
  Exec("create function f_twice(x integer) returns integer begin return x * 2 end");
  Exec("create function f_label(s varchar(10), n integer) returns varchar(30) "
       "begin return upper(s) || '-' || f_twice(n) end");
  Exec("create function f_fail() returns integer begin insert into item values (1, 'dup', 0); return 1 end");
  Exec("create function f_self(n integer) returns integer begin return f_self(n + 1) end");
  Exec("create procedure p_uses(out r varchar(30)) begin set r = f_label('ab', 4) end");
  auto text = [&](Client& c, const std::string& sql, int32_t& code) {
    int16_t n = 0;
    code = esql.prepare(&c, nullptr, "VDB", &n, sql.c_str(), nullptr, 1);
    if (code != 0) return std::string();
    Da out(lib, 1);
    out.Entry(0, DT_STRING | DT_NULLABLE, 100).Fill();
    code = esql.execute_into(&c, nullptr, "VDB", &n, nullptr, out.get());
    esql.dropstmt(&c, nullptr, "VDB", &n);
    return code == 0 ? out.Text(0) : std::string();
  };
  struct Case {
    const char* sql;
    int32_t code;
    const char* value;
  } cases[] = {
      {"select f_twice(21)", 0, "42"},
      {"select f_label('x', qty) from item where id = 2", 0, "X-14"},
      {"select sum(f_twice(qty)) from item", 0, "26"},
      {"select f_twice('4')", 0, "8"},
      {"select f_fail()", kPrimaryKeyNotUnique, ""},
      {"select f_self(0)", kNestingTooDeep, ""},
      {"select f_twice()", kNotEnoughValues, ""},
      {"select no_such_function(1)", kProcedureNotFound, ""},
      {"call p_uses(?)", 0, "AB-8"},
  };
  for (const Case& c : cases) {
    int32_t code = 0;
    EXPECT_EQ(c.value, text(*client, c.sql, code)) << c.sql;
    EXPECT_EQ(c.code, code) << c.sql << ": " << client->Message();
  }
  // Another connection finds the functions in the catalog when it first uses them.
  Exec("commit");
  auto other = Connect();
  int32_t code = 0;
  EXPECT_EQ("6", text(*other, "select f_twice(3)", code));
  Exec("drop function f_twice");
  Exec("commit");
  EXPECT_EQ("", text(*other, "select f_twice(3)", code));
  EXPECT_EQ(kProcedureNotFound, code);
}

TEST_F(ProcedureTest, ObjectsCarryTheConnectedUserAsCreator) {
  Exec("insert into vdbsys_user values (5, 'ALICE', 'pw')");
  Exec("commit");
  Client alice(lib);
  ASSERT_EQ(0, alice.Connect("uid=ALICE;pwd=pw;eng=" + eng + ";dbf=" + db)) << alice.Message();
  for (const char* sql : {"create table a_tab(k integer primary key, v varchar(5))", "create view a_view as select k from a_tab",
                          "create index a_idx on a_tab(v)", "create table if not exists item(x integer)",
                          "create procedure a_proc() begin return 1 end", "commit"})
    ASSERT_EQ(0, alice.Exec(sql)) << sql << ": " << alice.Message();
  auto rows = [&](const std::string& sql) {
    int16_t n = Prepare(sql);
    EXPECT_EQ(0, OpenCursor("r", n));
    std::string all;
    Da row(lib, 1);
    row.Entry(0, DT_STRING | DT_NULLABLE, 100).Fill();
    while (esql.fetch(&*client, "r", 2, 1, row.get(), nullptr, 0) == 0) all += row.Text(0) + ";";
    esql.close(&*client, "r");
    return all;
  };
  EXPECT_EQ("a_tab 5;a_view 5;item 1;", rows("select table_name || ' ' || creator from sys.systable "
                                              "where table_name not like 'vdbsys%' order by 1"));
  EXPECT_EQ("a_idx 5;", rows("select index_name || ' ' || creator from sys.sysindex where index_name = 'a_idx'"));
  // Dropped and made again by another user, a name takes the new creator.
  Exec("drop table a_tab");
  Exec("create table if not exists a_tab(k integer)");
  Exec("create index a_idx on a_tab(k)");
  EXPECT_EQ("a_tab 1;a_idx 1;", rows("select table_name || ' ' || creator from sys.systable where table_name = 'a_tab' "
                                    "union all select index_name || ' ' || creator from sys.sysindex where index_name = 'a_idx'"));
  EXPECT_EQ("a_proc ALICE;", rows("select proc_name || ' ' || user_name from sys.sysprocedure, sys.sysuserperms "
                                  "where creator = user_id and proc_name = 'a_proc'"));
  // A call without owner finds the caller's own procedure first, then the DBA's.
  EXPECT_EQ(0, alice.Exec("call p_demo(1, null, 0)")) << alice.Message();
  EXPECT_EQ(kProcedureNotFound, client->Exec("call a_proc()"));
  EXPECT_EQ(0, client->Exec("call alice.a_proc()")) << client->Message();
}

}  // namespace
}  // namespace dblibtest
