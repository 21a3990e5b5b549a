// Scripts with -f and -c: procedure and function bodies kept whole, result
// sets of a procedure one after the other, output parameters, messages on
// stderr, errors with their place and the server's text.
#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;

constexpr const char* kShopScript = R"(-- a table, a function and a procedure with two result sets
create table t (
  a integer not null primary key,
  b varchar(10)
);
insert into t values (1, 'one');
insert into t values (2, 'two'); insert into t values (3, 'three');

create function twice(x integer) returns integer
begin
  return x * 2;
end;

create procedure both_sets(in lim integer, out n integer)
begin
  select count(*) into n from t where a <= lim;
  select a, a * 2 as a2 from t where a <= lim order by a;
  select b from t where a <= lim order by b;
  message 'counted ' || n to client;
end;

create variable cnt integer;
call both_sets(2, cnt);
select cnt;
)";

TEST_F(VdbsqlTest, ScriptWithProcedureBodiesRunsEveryStatement) {
  const std::string Script = WriteFile("shop.sql", kShopScript);
  TRun R = Run({Db, "--format", "csv", "-f", Script});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out,
            "a,a2\r\n1,2\r\n2,4\r\n"
            "b\r\none\r\ntwo\r\n"
            "cnt\r\n2\r\n");
  EXPECT_EQ(R.Err, "counted 2\n");

  // The procedure and the function are in the catalog.
  TRun Later = Run({Db, "--format", "csv", "-c", "\\procs"});
  ASSERT_EQ(Later.Status, 0) << Later.Err;
  EXPECT_THAT(Later.Out, HasSubstr("DBA,both_sets\r\n"));
  EXPECT_THAT(Later.Out, HasSubstr("DBA,twice\r\n"));
}

TEST_F(VdbsqlTest, TableFormatCountsRowsAndChanges) {
  TRun R = Run({Db, "--format", "table", "-c", "create table t (a integer, b varchar(10))", "-c",
                "insert into t values (1, 'one')", "-c", "insert into t select a + 1, 'more' from t", "-c",
                "update t set b = 'x' where a > 0", "-c", "delete from t where a = 99", "-c",
                "select a, b from t order by a", "-c", "select a from t where a > 5"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out,
            "0 rows affected\n"
            "1 row affected\n"
            "1 row affected\n"
            "2 rows affected\n"
            "0 rows affected\n"
            "a | b\n"
            "--+--\n"
            "1 | x\n"
            "2 | x\n"
            "(2 rows)\n"
            "a\n"
            "-\n"
            "(0 rows)\n");
}

TEST_F(VdbsqlTest, ErrorsPrintTheServerTextAndStopTheScript) {
  const std::string Script =
      WriteFile("bad.sql", "create table t (a integer);\ninsert into t values (1);\n\nselect *\n  from nosuch;\n"
                           "insert into t values (2);\n");
  TRun R = Run({Db, "--format", "csv", "-f", Script});
  EXPECT_EQ(R.Status, 1);
  EXPECT_THAT(R.Err, HasSubstr(Script + ":4: Error -141: "));
  EXPECT_THAT(R.Err, HasSubstr("nosuch"));
  EXPECT_THAT(R.Err, HasSubstr("(42W33)\n"));
  TRun Count = Run({Db, "--format", "csv", "-c", "select count(*) as n from t"});
  EXPECT_EQ(Count.Out, "n\r\n1\r\n") << "the script went on after its error";

  TRun Go = Run({Db, "--format", "csv", "--continue", "-f", Script});
  EXPECT_EQ(Go.Status, 1);
  EXPECT_EQ(Run({Db, "--format", "csv", "-c", "select count(*) as n from t"}).Out, "n\r\n3\r\n");

  // A syntax error, and a constraint violation with its own code.
  TRun Syntax = Run({Db, "-c", "selec 1"});
  EXPECT_EQ(Syntax.Status, 1);
  EXPECT_THAT(Syntax.Err, HasSubstr("Error -131: "));
  TRun Key = Run({Db, "-c", "create table k (a integer primary key)", "-c", "insert into k values (1)", "-c",
                  "insert into k values (1)"});
  EXPECT_EQ(Key.Status, 1);
  EXPECT_THAT(Key.Err, HasSubstr("Error -193: "));
}

TEST_F(VdbsqlTest, PipedInputGoesOnAfterErrorsAndReportsThem) {
  TRunOptions O;
  O.Stdin = "select 1 as one;\nselect * from nosuch;\nselect\n  2 as two\n";
  TRun R = Run({Db, "--format", "csv"}, O);
  EXPECT_EQ(R.Status, 1);
  EXPECT_EQ(R.Out, "one\r\n1\r\ntwo\r\n2\r\n");
  EXPECT_THAT(R.Err, HasSubstr("Error -141"));

  O.Stdin = "\\options blocking\n\\quit\nselect 1;\n";
  TRun Quit = Run({Db, "--format", "csv"}, O);
  EXPECT_EQ(Quit.Status, 0) << Quit.Err;
  EXPECT_EQ(Quit.Out, "option,value\r\nblocking,ON\r\n");
}

TEST_F(VdbsqlTest, EchoShowsEachStatementBeforeItsResult) {
  TRun R = Run({Db, "--format", "csv", "--echo", "-c", "select 1 as x; select 2 as y", "-c", "\\options blocking"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out,
            "vdbsql> select 1 as x;\nx\r\n1\r\n"
            "vdbsql> select 2 as y;\ny\r\n2\r\n"
            "vdbsql> \\options blocking\noption,value\r\nblocking,ON\r\n");
}

TEST_F(VdbsqlTest, TransactionsFollowAutocommit) {
  Setup("create table t (a integer);\n");
  // Without auto-commit a rollback takes the insert back; with it, nothing can.
  TRun R = Run({Db, "--format", "csv", "-c", "\\autocommit off", "-c", "insert into t values (1)", "-c", "\\rollback",
                "-c", "select count(*) as n from t", "-c", "insert into t values (2)", "-c", "\\commit", "-c",
                "\\rollback", "-c", "select count(*) as n from t"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "autocommit is off\nn\r\n0\r\nn\r\n1\r\n");
  TRun On = Run({Db, "--format", "csv", "-c", "insert into t values (3)", "-c", "\\rollback", "-c",
                 "select count(*) as n from t"});
  EXPECT_EQ(On.Out, "n\r\n2\r\n");
}

}  // namespace
}  // namespace vdbsqltest
