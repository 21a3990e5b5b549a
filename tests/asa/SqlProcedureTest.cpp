// TAsaSQL and stored procedures: IN, OUT and INOUT parameters bound from the
// values in order, output values and function results through GetOutVar,
// and calls opened as cursors, which are described only when they run.
#include "AsaSqlFixture.h"

namespace asatest {
namespace {

using vcl::Variant;

class AsaProcedureTest : public AsaSqlTest {
 protected:
  void SetUp() override {
    AsaSqlTest::SetUp();
    Run("create table item (id integer primary key, name varchar(20), qty integer)");
    Run("insert into item values (1, 'bolt', 5), (2, 'nut', 7), (3, 'gear', 1)");
    Run("create procedure p_abc(in a integer, out b varchar(20), inout c integer)\n"
        "begin\n"
        "  set b = 'got ' || a;\n"
        "  set c = c * 10 + a;\n"
        "end");
    Run("create procedure p_items(in lo integer)\n"
        "begin\n"
        "  select name, qty from item where qty >= lo order by id;\n"
        "end");
    Run("create procedure p_none(in x integer) begin update item set qty = x where id = 1 end");
    Run("create function f_twice(in x integer) returns integer begin return x * 2 end");
  }
};

// The output-only b takes no value: a gets 1 and c gets 2.
TEST_F(AsaProcedureTest, CallBindsInAndInoutParametersAndReturnsOutputs) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("call p_abc(?, ?, ?)", {Variant(1), Variant(2)}));
  ASSERT_EQ(2, Q.OutVars()->Count());
  EXPECT_EQ("got 1", Q.GetOutVar("b").AsString());
  EXPECT_EQ(21, Q.GetOutVar("c").AsInteger());
  EXPECT_EQ(vdb::vtString, Q.OutVars()->Items(0)->FieldType);

  // Again with other values, through the same binding.
  ASSERT_TRUE(Q.ExecutePrepared({Variant(3), Variant(4)}));
  EXPECT_TRUE(Q.ExecVars()->Bound());
  EXPECT_EQ("got 3", Q.GetOutVar(0).AsString());
  EXPECT_EQ(43, Q.GetOutVar(1).AsInteger());
}

// A Null value for the INOUT parameter binds as NULL; the call still runs.
TEST_F(AsaProcedureTest, NullValueOfACallBindsAsNull) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("call p_abc(?, ?, ?)", {Variant(7), vcl::Null()}));
  EXPECT_EQ("got 7", Q.GetOutVar("b").AsString());
}

TEST_F(AsaProcedureTest, FunctionResultThroughGetOutVar) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("? = call f_twice(?)", {Variant(21)}));
  EXPECT_EQ(42, Q.GetOutVar(0).AsInteger());
  EXPECT_EQ(42, Q.GetOutVar("f_twice").AsInteger());
  ASSERT_TRUE(Q.ExecutePrepared({Variant(-5)}));
  EXPECT_EQ(-10, Q.GetOutVar(0).AsInteger());
  EXPECT_THROW(Q.GetOutVar("nothing"), vdb::EVantorException);
}

TEST_F(AsaProcedureTest, CallOpenedAsCursorIsDescribedAtOpen) {
  vdb::TAsaStatementPool* Pool = Session->StatementPool();
  auto& Other = NewSQL();
  ASSERT_TRUE(Other.Describe("select 1"));
  EXPECT_EQ(1, Pool->Count());

  auto& Q = NewSQL();
  ASSERT_TRUE(Q.PrepareOpen("call p_items(?)"));
  EXPECT_TRUE(Q.Resumable());
  EXPECT_TRUE(Q.GetResumable());
  EXPECT_EQ(0, Q.FieldCount()) << "not described before it runs";
  EXPECT_EQ(0, Pool->Count()) << "a resumable prepare clears the pool";

  ASSERT_TRUE(Q.OpenReadPrepared({Variant(5)}));
  ASSERT_EQ(2, Q.FieldCount());
  EXPECT_EQ("name", Q.GetFieldName(0));
  EXPECT_EQ(vdb::vtString, Q.GetFieldType(0));
  EXPECT_TRUE(Q.StillInProc());
  EXPECT_EQ("bolt", Q.GetFieldValue(0).AsString());
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(7, Q.GetFieldValue("qty").AsInteger());
  EXPECT_FALSE(Q.Next());
  Q.Close();
  EXPECT_FALSE(Q.StillInProc());

  // Opened again with another value, it runs and is described anew.
  ASSERT_TRUE(Q.OpenReadPrepared({Variant(1)}));
  int Rows = 1;
  while (Q.Next()) ++Rows;
  EXPECT_EQ(3, Rows);
}

TEST_F(AsaProcedureTest, CallWithoutResultSetRefusesToOpen) {
  auto& Q = NewSQL();
  try {
    Q.OpenRead("call p_none(9)", {});
    FAIL() << "opened a call without a result set";
  } catch (const vdb::EAsaException& E) {
    EXPECT_STREQ(vdb::VDB_ERR_CURS_NOT_QUERY, E.Message().c_str());
  }
  Q.Close();
  EXPECT_FALSE(Q.Active());
  // Executed instead, it runs.
  ASSERT_TRUE(Q.Execute("call p_none(?)", {Variant(9)}));
  EXPECT_EQ(9, Value("select qty from item where id = 1").AsInteger());
}

}  // namespace
}  // namespace asatest
