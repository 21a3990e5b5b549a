// Connect outcomes, engine and database start and stop, disconnect.
#include "DbLibFixture.h"

#include <fstream>

namespace dblibtest {
namespace {

class ConnectTest : public DbLibTest {
 protected:
  Library lib;
};

TEST_F(ConnectTest, ConnectWithDatabaseFileStartsEngineThatStopsWithLastConnection) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  EXPECT_EQ(0, lib.db_find_engine(&a, "test"));  // named after the file's prefix
  EXPECT_EQ(0, lib.db_string_disconnect(&a, nullptr));
  EXPECT_EQ(SQLE_ENGINE_NOT_RUNNING, lib.db_find_engine(&a, "test"));
}

TEST_F(ConnectTest, ExplicitlyStartedEngineSurvivesItsConnections) {
  Client a(lib);
  ASSERT_EQ(0, lib.db_start_engine(&a, ("eng=" + eng + ";dbf=" + db).c_str()));
  ASSERT_EQ(0, a.Connect("eng=" + eng + ";uid=dba;pwd=SQL"));
  EXPECT_EQ(0, lib.db_string_disconnect(&a, nullptr));
  EXPECT_EQ(0, lib.db_find_engine(&a, eng.c_str()));
  EXPECT_EQ(SQLE_ENGINE_ALREADY_RUNNING, lib.db_start_engine(&a, ("eng=" + eng).c_str()));
  EXPECT_EQ(0, lib.db_stop_engine(&a, ("eng=" + eng).c_str()));
  EXPECT_EQ(SQLE_ENGINE_NOT_RUNNING, lib.db_stop_engine(&a, ("eng=" + eng).c_str()));
}

TEST_F(ConnectTest, ConnectOutcomes) {
  std::string garbage = dir.File("garbage.db");
  std::ofstream(garbage) << "this is not a database file at all, not even close........";
  std::string foreign = dir.File("foreign.db");
  ASSERT_EQ("", Sqlite3Cli(foreign, "create table t(a);"));
  struct Case {
    std::string params;
    int32_t code;
  } cases[] = {
      {"eng=nosuch;uid=DBA;pwd=SQL", SQLE_ENGINE_NOT_RUNNING},
      {"uid=DBA;pwd=SQL;dbf=" + dir.File("missing.db"), SQLE_DATABASE_NOT_FOUND},
      {"uid=DBA;pwd=wrong;dbf=" + db, SQLE_INVALID_LOGON},
      {"uid=DBA;pwd=sql;dbf=" + db, SQLE_INVALID_LOGON},  // passwords keep their case
      {"uid=nobody;pwd=SQL;dbf=" + db, SQLE_INVALID_LOGON},
      {"uid=SYS;pwd=;dbf=" + db, SQLE_INVALID_LOGON},     // SYS cannot log in
      {"pwd=SQL;dbf=" + db, SQLE_INVALID_LOGON},
      {"uid=DBA;pwd=SQL;dbf=" + garbage, SQLE_UNABLE_TO_START_DATABASE},
      {"uid=DBA;pwd=SQL;dbf=" + foreign, SQLE_UNABLE_TO_START_DATABASE},
      {"uid=DBA;pwd=SQL;bogus=1;dbf=" + db, SQLE_CONNECTION_PARSE_ERROR},
      {"uid=DBA;pwd=SQL;dbf", SQLE_CONNECTION_PARSE_ERROR},
      {"UserID=DBA;Password=SQL;DatabaseFile=" + db + ";ConnectionName=c1;CharSet=cp1252", 0},
      {"UID=DBA;PWD=SQL;DBF=" + db + ";;", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    Client a(lib);
    EXPECT_EQ(c.code, a.Connect(c.params));
    EXPECT_EQ(c.code, a.ca.sqlcode);
    if (c.code != 0) {
      EXPECT_EQ(5u, std::strlen(a.ca.sqlstate));
      EXPECT_FALSE(a.Message().empty());
      EXPECT_EQ(SQLE_NOT_CONNECTED, lib.dbpp_commit(&a, 0));
    } else {
      EXPECT_EQ(0, lib.db_string_disconnect(&a, nullptr));
    }
  }
}

TEST_F(ConnectTest, ParseErrorNamesTheOffendingItem) {
  Client a(lib);
  EXPECT_EQ(SQLE_CONNECTION_PARSE_ERROR, a.Connect("uid=DBA;colour=blue;pwd=SQL"));
  EXPECT_NE(std::string::npos, a.Message().find("colour=blue")) << a.Message();
  EXPECT_EQ(std::string("colour=blue;"), std::string(a.ca.sqlerrmc, a.ca.sqlerrml));
}

TEST_F(ConnectTest, DisconnectedSqlcaAnswersNotConnected) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, lib.db_string_disconnect(&a, nullptr));
  EXPECT_EQ(SQLE_NOT_CONNECTED, lib.dbpp_commit(&a, 0));
  EXPECT_EQ(SQLE_NOT_CONNECTED, a.Exec("select 1"));
  EXPECT_EQ(SQLE_NOT_CONNECTED, lib.db_string_disconnect(&a, nullptr));
  EXPECT_EQ("Not connected to a database", a.Message());
}

TEST_F(ConnectTest, DisconnectRollsBackUncommittedWork) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, a.Exec("create table t(a integer)"));
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  ASSERT_EQ(0, a.Exec("insert into t values(1)"));
  ASSERT_EQ(0, lib.db_string_disconnect(&a, nullptr));
  EXPECT_EQ(0, CountRows(db, "t"));
}

TEST_F(ConnectTest, DatabaseStartAndStopCodes) {
  Client a(lib);
  std::string other = NewDatabase("other.db");
  std::string third = NewDatabase("third.db");
  EXPECT_EQ(SQLE_ENGINE_NOT_RUNNING, lib.db_start_database(&a, ("eng=" + eng + ";dbf=" + other).c_str()));
  ASSERT_EQ(0, lib.db_start_engine(&a, ("eng=" + eng + ";dbf=" + db).c_str()));
  struct Case {
    std::string params;
    int32_t code;
  } cases[] = {
      {"eng=" + eng + ";dbf=" + other, 0},
      {"eng=" + eng + ";dbf=" + other, 0},                      // already running: nothing to do
      {"eng=" + eng + ";dbf=" + third + ";dbn=other", SQLE_DATABASE_NAME_NOT_UNIQUE},
      {"eng=" + eng + ";dbf=" + dir.File("none.db"), SQLE_DATABASE_NOT_FOUND},
      {"eng=" + eng + ";dbn=ghost", SQLE_DATABASE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.params);
    EXPECT_EQ(c.code, lib.db_start_database(&a, c.params.c_str()));
  }
  // The same file on a second engine is in use.
  ASSERT_EQ(0, lib.db_start_engine(&a, ("eng=" + eng + "b").c_str()));
  EXPECT_EQ(SQLE_FILE_IN_USE, lib.db_start_database(&a, ("eng=" + eng + "b;dbf=" + other).c_str()));

  // Stopping a database with a connection is denied; the file name alone names it.
  Client b(lib);
  ASSERT_EQ(0, b.Connect("eng=" + eng + ";dbn=other;uid=DBA;pwd=SQL"));
  EXPECT_EQ(SQLE_START_STOP_DATABASE_DENIED, lib.db_stop_database(&a, ("eng=" + eng + ";dbf=other.db").c_str()));
  ASSERT_EQ(0, lib.db_string_disconnect(&b, nullptr));
  EXPECT_EQ(0, lib.db_stop_database(&a, ("eng=" + eng + ";dbf=other.db").c_str()));
  EXPECT_EQ(SQLE_DATABASE_NOT_FOUND, b.Connect("eng=" + eng + ";dbn=other;uid=DBA;pwd=SQL"));
}

TEST_F(ConnectTest, StartLineNamesEngineAndItsVersion) {
  Client a(lib);
  ASSERT_EQ(0, lib.db_start_engine(&a, ("start=dbeng6 -c 8m -n " + eng + " -ev 6.0.3.2;dbf=" + db).c_str()));
  ASSERT_EQ(0, a.Connect("eng=" + eng + ";uid=DBA;pwd=SQL"));
  SQLDA* da = lib.alloc_sqlda(1);
  char buffer[64];
  da->sqlvar[0].sqltype = DT_STRING;
  da->sqlvar[0].sqllen = sizeof buffer;
  da->sqlvar[0].sqldata = buffer;
  EXPECT_EQ(1, lib.db_connection_info(&a, DB_INFO_ENGINE_VERSION, da));
  EXPECT_STREQ("6.0.3.2", buffer);
  EXPECT_EQ(1, lib.db_connection_info(&a, DB_INFO_ENGINE_NAME, da));
  EXPECT_EQ(eng, buffer);
  EXPECT_EQ(1, lib.db_connection_info(&a, DB_INFO_DATABASE_NAME, da));
  EXPECT_STREQ("test", buffer);
  EXPECT_EQ(0, lib.db_connection_info(&a, 4, da));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, a.ca.sqlcode);
  lib.free_sqlda(da);
}

TEST_F(ConnectTest, EngineStopDropsConnectionsAndRollsBack) {
  Client a(lib), b(lib);
  static std::string dropped;
  static int droppedCalls;
  dropped.clear();
  droppedCalls = 0;
  ASSERT_EQ(0, lib.db_start_engine(&a, ("eng=" + eng + ";dbf=" + db).c_str()));
  ASSERT_EQ(0, b.Connect("eng=" + eng + ";uid=DBA;pwd=SQL;con=victim"));
  ASSERT_EQ(0, lib.db_register_a_callback(&b, DB_CALLBACK_CONN_DROPPED,
                                          reinterpret_cast<db_any_callback_fn>(+[](SQLCA*, const char* name) {
                                            dropped = name;
                                            ++droppedCalls;
                                          })));
  ASSERT_EQ(0, b.Exec("create table t(a integer)"));
  ASSERT_EQ(0, lib.dbpp_commit(&b, 0));
  ASSERT_EQ(0, b.Exec("insert into t values(1)"));

  ASSERT_EQ(0, lib.db_stop_engine(&a, ("eng=" + eng).c_str()));
  EXPECT_EQ(SQLE_CONNECTION_TERMINATED, lib.dbpp_commit(&b, 0));
  EXPECT_EQ("victim", dropped);
  EXPECT_EQ(SQLE_CONNECTION_TERMINATED, b.Exec("insert into t values(2)"));
  EXPECT_EQ(1, droppedCalls);  // once per connection
  EXPECT_EQ("Connection was terminated", b.Message());
  EXPECT_EQ(0, CountRows(db, "t"));
  EXPECT_EQ(0, lib.db_string_disconnect(&b, nullptr));
  // The SQLCA connects again afterwards.
  EXPECT_EQ(0, b.Connect("uid=DBA;pwd=SQL;dbf=" + db));
}

TEST_F(ConnectTest, VdbinitDatabaseWithOwnDbaUser) {
  std::string file = dir.File("made.db");
  std::string cmd = std::string("\"") + (std::filesystem::path(vcl::GetModuleFileName(lib.module)).parent_path() / "vdbinit").string() +
                    "\" -dba boss,Secret '" + file + "' > /dev/null";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  EXPECT_NE(0, std::system((cmd + " 2>/dev/null").c_str()));  // never overwrites
  Client a(lib);
  EXPECT_EQ(SQLE_INVALID_LOGON, a.Connect("uid=DBA;pwd=SQL;dbf=" + file));
  EXPECT_EQ(0, a.Connect("uid=BOSS;pwd=Secret;dbf=" + file));
}

TEST_F(ConnectTest, CreateDatabaseStatementMakesAConnectableDatabase) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  std::string file = dir.File("created.db");
  ASSERT_EQ(0, a.Exec("create database '" + file + "'"));
  EXPECT_EQ(SQLE_NOERROR - 110, a.Exec("create database '" + file + "'"));
  Client b(lib);
  EXPECT_EQ(0, b.Connect("uid=DBA;pwd=SQL;dbf=" + file));
}

}  // namespace
}  // namespace dblibtest
