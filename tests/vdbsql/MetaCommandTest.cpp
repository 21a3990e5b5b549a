// The backslash commands that talk to the session: information, options,
// transactions' switches and the online backup.
#include <filesystem>

#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;

TEST_F(VdbsqlTest, InfoReportsEngineAndDatabase) {
  TRun R = Run({Db, "--format", "csv", "-c", "\\info"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_THAT(R.Out, HasSubstr("property,value\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("engine version,7."));
  EXPECT_THAT(R.Out, HasSubstr("engine name,test\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("database name,test\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("database file," + Db + "\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("client library,dblib7.dll (version 7)\r\n"));

  // Another client library variant and an engine name of our choosing.
  TRun Old = Run({Db, "--format", "csv", "--library", "dblib6.dll", "--engine", "shop", "-c", "\\info"});
  ASSERT_EQ(Old.Status, 0) << Old.Err;
  EXPECT_THAT(Old.Out, HasSubstr("engine name,shop\r\n"));
  EXPECT_THAT(Old.Out, HasSubstr("client library,dblib6.dll (version 6)\r\n"));

  // Connection parameters of --params reach the connect string; bad ones
  // fail with the server's error.
  TRun Params = Run({Db, "--format", "csv", "--params", "eng=fromparams", "-c", "\\info"});
  ASSERT_EQ(Params.Status, 0) << Params.Err;
  EXPECT_THAT(Params.Out, HasSubstr("engine name,fromparams\r\n"));
  TRun BadParams = Run({Db, "--params", "bogus", "-c", "\\info"});
  EXPECT_EQ(BadParams.Status, 1);
  EXPECT_THAT(BadParams.Err, HasSubstr("Error -95: "));
  EXPECT_EQ(BadParams.Out, "");

  TRun Private = Run({Db, "--server", "--format", "csv", "-c", "\\info"});
  ASSERT_EQ(Private.Status, 0) << Private.Err;
  EXPECT_THAT(Private.Out, HasSubstr("database name,test\r\n"));

  TRun Table = Run({Db, "--format", "table", "-c", "\\info"});
  ASSERT_EQ(Table.Status, 0) << Table.Err;
  EXPECT_THAT(Table.Out, HasSubstr("property       | value\n---------------+-"));
  EXPECT_THAT(Table.Out, HasSubstr("\nengine name    | test\n"));
  EXPECT_THAT(Table.Out, HasSubstr("(5 rows)\n"));
}

TEST_F(VdbsqlTest, OptionsAreReadAndSetPerConnection) {
  TRun R = Run({Db, "--format", "csv", "-c", "\\options", "-c", "\\set blocking_timeout 250", "-c",
                "\\set date_order 'DMY'", "-c", "\\options blocking_timeout", "-c", "\\options date_order"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_THAT(R.Out, HasSubstr("option,value\r\nisolation_level,0\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("\r\nblocking_timeout,5000\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("option,value\r\nblocking_timeout,250\r\noption,value\r\ndate_order,DMY\r\n"));

  // A bad value and an unknown option fail with the server's error.
  TRun Bad = Run({Db, "-c", "\\set blocking maybe"});
  EXPECT_EQ(Bad.Status, 1);
  EXPECT_THAT(Bad.Err, HasSubstr("Error -"));
  TRun Unknown = Run({Db, "-c", "\\options no_such_option"});
  EXPECT_EQ(Unknown.Status, 1);
  EXPECT_THAT(Unknown.Err, HasSubstr("Error -"));
}

TEST_F(VdbsqlTest, SwitchesAndUsageOfCommands) {
  TRun R = Run({Db, "-c", "\\autocommit off", "-c", "\\autocommit", "-c", "\\timing on", "-c", "\\commit", "-c",
                "\\rollback", "-c", "\\timing off", "-c", "\\help"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_THAT(R.Out, HasSubstr("autocommit is off\nautocommit is off\ntiming is on\ntiming is off\n"));
  EXPECT_THAT(R.Out, HasSubstr("\\columns [OWNER.]TABLE"));
  EXPECT_THAT(R.Err, HasSubstr("Time: "));

  const std::vector<std::pair<std::string, std::string>> Usage = {
      {"\\columns", "usage: \\columns"},     {"\\set blocking", "usage: \\set"},
      {"\\autocommit maybe", "usage: \\autocommit"}, {"\\backup", "usage: \\backup"},
      {"\\backup " + Dir + "b sideways", "unknown backup type sideways"},
      {"\\modify select 1", "usage: \\modify"},  {"\\explain", "usage: \\explain"},
  };
  for (const auto& [Command, Message] : Usage) {
    TRun U = Run({Db, "-c", Command});
    EXPECT_EQ(U.Status, 1) << Command;
    EXPECT_THAT(U.Err, HasSubstr(Message)) << Command;
  }
}

TEST_F(VdbsqlTest, BackupWritesTheDatabaseAndReportsProgress) {
  const std::string Target = Dir + "backup/today";
  TRun R = Run({Db, "-c", "\\backup " + Target});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "backup to " + Target + " done\n");
  EXPECT_THAT(R.Err, HasSubstr("backup test.db: "));
  EXPECT_THAT(R.Err, HasSubstr(" pages\n"));
  EXPECT_TRUE(std::filesystem::exists(Target + "/test.db"));
  EXPECT_EQ(std::filesystem::file_size(Target + "/test.db"), std::filesystem::file_size(Db));
  // The copy is a database of its own.
  TRun Copy = Run({Target + "/test.db", "--format", "csv", "-c", "\\info"});
  EXPECT_EQ(Copy.Status, 0) << Copy.Err;

  // Log only: nothing of the database is copied, and that is no error.
  TRun Log = Run({Db, "-c", "\\backup " + Dir + "logs renamelog"});
  EXPECT_EQ(Log.Status, 0) << Log.Err;
  EXPECT_FALSE(std::filesystem::exists(Dir + "logs/test.db"));
}

}  // namespace
}  // namespace vdbsqltest

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;

constexpr const char* kItems =
    "create table items (id integer not null primary key, name varchar(20) not null, price numeric(8,2));\n"
    "create table notes (body long varchar);\n"
    "insert into items values (1, 'pen', 1.50);\ninsert into items values (2, 'ink', 4.00);\n";

TEST_F(VdbsqlTest, TablesAndProcsListTheCatalog) {
  Setup(kItems);
  TRun R = Run({Db, "--format", "csv", "-c", "\\tables", "-c", "\\procs"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_THAT(R.Out, HasSubstr("user_name,table_name\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("DBA,items\r\nDBA,notes\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("user_name,proc_name\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("DBA,vp_alert_receive\r\n"));

  Setup("create procedure show_items() begin select id, name from items; end;\n");
  TRun Procs = Run({Db, "--format", "csv", "-c", "\\procs"});
  EXPECT_THAT(Procs.Out, HasSubstr("DBA,show_items\r\n"));
}

TEST_F(VdbsqlTest, ColumnsListsTypesInColumnOrder) {
  Setup(kItems);
  TRun R = Run({Db, "--format", "csv", "-c", "\\columns items", "-c", "\\columns DBA.notes", "-c",
                "\\columns nobody.items"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_THAT(R.Out, HasSubstr("column_name,domain_name,width,scale,nulls,pkey\r\n"
                               "id,integer,4,0,N,Y\r\nname,varchar,20,0,N,N\r\nprice,numeric,8,2,Y,N\r\n"));
  EXPECT_THAT(R.Out, HasSubstr("column_name,domain_name,width,scale,nulls,pkey\r\nbody,long varchar,"));
  // An owner without such a table lists nothing.
  EXPECT_TRUE(R.Out.ends_with("column_name,domain_name,width,scale,nulls,pkey\r\n")) << R.Out;
}

TEST_F(VdbsqlTest, ExplainAndModifyThroughTheCursor) {
  Setup(kItems);
  TRun Plan = Run({Db, "-c", "\\explain select name from items where id = 1"});
  ASSERT_EQ(Plan.Status, 0) << Plan.Err;
  EXPECT_NE(Plan.Out, "\n");

  TRun Modify = Run({Db, "--format", "csv", "-c",
                     "\\modify name='fine pen' price=2.25 select id, name, price from items where id = 1", "-c",
                     "select id, name, price from items order by id"});
  ASSERT_EQ(Modify.Status, 0) << Modify.Err;
  EXPECT_EQ(Modify.Out, "1 row modified through the cursor\nid,name,price\r\n1,fine pen,2.25\r\n2,ink,4.00\r\n");

  TRun BadColumn = Run({Db, "-c", "\\modify colour=red select id from items"});
  EXPECT_EQ(BadColumn.Status, 1);
  EXPECT_THAT(BadColumn.Err, HasSubstr("column colour is not in the query"));
}

}  // namespace
}  // namespace vdbsqltest
