// Options, transactions, information calls, quoting, SQLDA helpers and
// bad arguments.
#include "DbLibFixture.h"

#include <vector>

namespace dblibtest {
namespace {

class ServicesTest : public DbLibTest {
 protected:
  void SetUp() override {
    DbLibTest::SetUp();
    ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  }
  // dbpp_getoption into a 460 entry of `length` bytes; answers the sqlcode.
  int32_t GetOption(const char* name, std::string& value, uint16_t length = 31) {
    SQLDA* da = lib.alloc_sqlda(1);
    std::vector<char> buffer(length + 1, 'x');
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = length;
    da->sqlvar[0].sqldata = buffer.data();
    int32_t code = lib.dbpp_getoption(&a, 0, nullptr, name, da);
    value = code >= 0 ? std::string(buffer.data()) : std::string();
    lib.free_sqlda(da);
    return code;
  }
  int32_t SetOption(const char* name, const std::string& value) {
    SQLDA* da = lib.alloc_sqlda(1);
    std::string copy = value;
    da->sqlvar[0].sqltype = DT_STRING;
    da->sqlvar[0].sqllen = static_cast<uint16_t>(copy.size() + 1);
    da->sqlvar[0].sqldata = copy.data();
    int32_t code = lib.dbpp_setoption(&a, 1, nullptr, name, da);
    lib.free_sqlda(da);
    return code;
  }
  Library lib;
  Client a{lib};
};

TEST_F(ServicesTest, OptionsReadBackWhatWasSetAndRefuseBadValues) {
  struct Case {
    const char* name;
    const char* value;
    int32_t code;
    const char* readBack;
  } cases[] = {
      {"isolation_level", "3", 0, "3"},
      {"ISOLATION_LEVEL", "0", 0, "0"},
      {"isolation_level", "4", SQLE_INVALID_OPTION_SETTING, "0"},
      {"isolation_level", "-1", SQLE_INVALID_OPTION_SETTING, "0"},
      {"isolation_level", "one", SQLE_INVALID_OPTION_SETTING, "0"},
      {"row_counts", "on", 0, "ON"},
      {"row_counts", "maybe", SQLE_INVALID_OPTION_SETTING, "ON"},
      {"ansi_update_constraints", "OFF", 0, "OFF"},
      {"ansi_update_constraints", "sometimes", SQLE_INVALID_OPTION_SETTING, "OFF"},
      {"date_format", "DD.MM.YYYY", 0, "DD.MM.YYYY"},
      {"no_such_option", "1", SQLE_INVALID_OPTION, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.value);
    EXPECT_EQ(c.code, SetOption(c.name, c.value));
    std::string value;
    if (c.readBack) {
      EXPECT_EQ(0, GetOption(c.name, value));
      EXPECT_EQ(c.readBack, value);
    } else {
      EXPECT_EQ(SQLE_INVALID_OPTION, GetOption(c.name, value));
    }
  }
}

TEST_F(ServicesTest, OptionDefaultsStatementsAndPublicSettings) {
  std::string value;
  ASSERT_EQ(0, GetOption("row_counts", value));
  EXPECT_EQ("OFF", value);
  ASSERT_EQ(0, GetOption("ansi_update_constraints", value));
  EXPECT_EQ("CURSORS", value);
  EXPECT_EQ(0, a.Exec("set temporary option row_counts = 'ON'"));
  ASSERT_EQ(0, GetOption("row_counts", value));
  EXPECT_EQ("ON", value);
  EXPECT_EQ(SQLE_INVALID_OPTION, a.Exec("set option nonsense = 1"));
  // PUBLIC settings define new options, seen by other connections.
  EXPECT_EQ(0, a.Exec("set option public.my_setting = 'abc'"));
  Client b(lib);
  ASSERT_EQ(0, b.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  SQLDA* da = lib.alloc_sqlda(1);
  char buffer[31];
  da->sqlvar[0].sqltype = DT_STRING;
  da->sqlvar[0].sqllen = 30;
  da->sqlvar[0].sqldata = buffer;
  EXPECT_EQ(0, lib.dbpp_getoption(&b, 0, nullptr, "my_setting", da));
  EXPECT_STREQ("abc", buffer);
  // A connection's own setting stays its own.
  EXPECT_EQ(0, lib.dbpp_getoption(&b, 0, nullptr, "row_counts", da));
  EXPECT_STREQ("OFF", buffer);
  lib.free_sqlda(da);
}

TEST_F(ServicesTest, LongOptionValueIsCutWithWarning) {
  ASSERT_EQ(0, SetOption("date_format", std::string(40, 'Y')));
  std::string value;
  EXPECT_EQ(SQLE_TRUNCATED, GetOption("date_format", value, 10));
  EXPECT_EQ(std::string(9, 'Y'), value);
  EXPECT_EQ('W', a.ca.sqlwarn[0]);
}

TEST_F(ServicesTest, CommitKeepsAndRollbackDiscards) {
  ASSERT_EQ(0, a.Exec("create table t(a integer primary key)"));
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  ASSERT_EQ(0, a.Exec("insert into t values(1)"));
  EXPECT_EQ(1, SQLCOUNT(a.ca));
  EXPECT_EQ(0, CountRows(db, "t"));  // not yet committed
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  EXPECT_EQ(1, CountRows(db, "t"));
  ASSERT_EQ(0, a.Exec("insert into t values(2); insert into t values(3)"));
  ASSERT_EQ(0, lib.dbpp_rollback(&a, 0));
  EXPECT_EQ(1, CountRows(db, "t"));
  EXPECT_EQ(0, lib.dbpp_rollback(&a, 0));  // nothing open: harmless
}

TEST_F(ServicesTest, SqliteErrorsMapToServerCodes) {
  ASSERT_EQ(0, a.Exec("create table p(id integer primary key, u text unique, n text not null,"
                      " c integer check (c > 0))"));
  ASSERT_EQ(0, a.Exec("create table f(p integer references p(id))"));
  ASSERT_EQ(0, a.Exec("insert into p values(1, 'a', 'x', 1)"));
  struct Case {
    const char* sql;
    int32_t code;
    const char* sqliteText;
  } cases[] = {
      {"insert into p values(1, 'b', 'x', 1)", -193, "UNIQUE constraint failed"},
      {"insert into p values(2, 'a', 'x', 1)", -196, "UNIQUE constraint failed: p.u"},
      {"insert into p values(3, 'c', null, 1)", -195, "NOT NULL constraint failed"},
      {"insert into p values(4, 'd', 'x', 0)", -209, "CHECK constraint failed"},
      {"insert into f values(99)", -194, "FOREIGN KEY constraint failed"},
      {"select * from nosuch", -141, "no such table: nosuch"},
      {"select nosuch from p", -143, "no such column: nosuch"},
      {"selec 1", -131, "syntax error"},
      {"create table p(x)", -110, "already exists"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(c.code, a.Exec(c.sql));
    EXPECT_NE(std::string::npos, a.Message().find(c.sqliteText)) << a.Message();
    EXPECT_NE(std::string("00000"), a.ca.sqlstate);
  }
}

TEST_F(ServicesTest, LockedDatabaseAnswersLockErrorAfterTheBlockingTimeout) {
  ASSERT_EQ(0, a.Exec("create table t(a integer)"));
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  ASSERT_EQ(0, a.Exec("insert into t values(1)"));
  Client b(lib);
  ASSERT_EQ(0, b.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, b.Exec("set temporary option blocking_timeout = '50'"));
  EXPECT_EQ(-210, b.Exec("insert into t values(2)"));
  ASSERT_EQ(0, b.Exec("set temporary option blocking = 'OFF'"));
  EXPECT_EQ(-210, b.Exec("insert into t values(2)"));
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  EXPECT_EQ(0, b.Exec("insert into t values(2)"));
}

TEST_F(ServicesTest, InformationCalls) {
  auto getProperty = lib.Bind<db_get_property_fn>("db_get_property");
  char buffer[30];
  EXPECT_EQ(1, getProperty(&a, DB_PROP_SERVER_ADDRESS, buffer, sizeof buffer));
  EXPECT_STREQ("local", buffer);
  EXPECT_EQ(0, getProperty(&a, 7, buffer, sizeof buffer));
  EXPECT_EQ(0, lib.db_find_engine(&a, "TEST"));  // names fold case
  EXPECT_EQ(SQLE_ENGINE_NOT_RUNNING, lib.db_find_engine(&a, "other"));

  auto ping = lib.Bind<db_string_ping_server_fn>("db_string_ping_server");
  EXPECT_EQ(0, ping(&a, "eng=test", 0));
  EXPECT_EQ(0, ping(&a, "eng=test;uid=DBA;pwd=SQL", 1));
  EXPECT_EQ(SQLE_INVALID_LOGON, ping(&a, "eng=test;uid=DBA;pwd=bad", 1));
  EXPECT_EQ(SQLE_ENGINE_NOT_RUNNING, ping(&a, "eng=other", 0));

  Client b(lib);
  ASSERT_EQ(0, lib.db_start_engine(&b, ("eng=" + eng).c_str()));
  static std::vector<std::string> seen;
  static int stopAfter;
  seen.clear();
  auto locate = lib.Bind<db_locate_servers_fn>("db_locate_servers");
  db_locate_callback_fn cb = [](SQLCA*, const a_server_address* s, void* user) -> int32_t {
    seen.push_back(std::string(s->name) + "@" + s->address);
    EXPECT_EQ(&stopAfter, user);
    return static_cast<int32_t>(seen.size()) < stopAfter ? 1 : 0;
  };
  stopAfter = 10;
  EXPECT_EQ(0, locate(&b, cb, &stopAfter));
  EXPECT_EQ((std::vector<std::string>{"test@local", eng + "@local"}), seen);
  seen.clear();
  stopAfter = 1;
  EXPECT_EQ(0, locate(&b, cb, &stopAfter));
  EXPECT_EQ(1u, seen.size());
  EXPECT_EQ(SQLE_INVALID_PARAMETER, locate(&b, nullptr, nullptr));
}

TEST_F(ServicesTest, IdentifiersThatNeedQuotes) {
  struct Case {
    const char* id;
    int32_t code;
  } cases[] = {
      {"customer", 0}, {"Order_Lines2", 0}, {"_x", 0}, {"@var", 0},
      {"select", 200}, {"ORDER", 200},      {"user", 200},  {"unique", 200},
      {"two words", 200}, {"2nd", 200},     {"a-b", 200},   {"", 200},
  };
  for (const auto& c : cases) EXPECT_EQ(c.code, lib.sql_needs_quotes(&a, c.id)) << c.id;
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.sql_needs_quotes(&a, nullptr));
}

TEST_F(ServicesTest, SqldaHelpers) {
  SQLDA* da = lib.alloc_sqlda(3);
  ASSERT_NE(nullptr, da);
  EXPECT_EQ(0, std::memcmp(da->sqldaid, "SQLDA   ", 8));
  EXPECT_EQ(3, da->sqln);
  for (int i = 0; i < 3; ++i) ASSERT_NE(nullptr, da->sqlvar[i].sqlind);
  da->sqlvar[0] = {DT_STRING, 31, nullptr, da->sqlvar[0].sqlind, {}};
  da->sqlvar[1] = {DT_INT | DT_NULLABLE, 4, nullptr, da->sqlvar[1].sqlind, {}};
  da->sqlvar[2] = {DT_BINARY, 102, nullptr, da->sqlvar[2].sqlind, {}};
  ASSERT_EQ(da, lib.fill_sqlda(da));
  std::memset(da->sqlvar[0].sqldata, 'a', 31);
  std::memset(da->sqlvar[1].sqldata, 1, 4);
  std::memset(da->sqlvar[2].sqldata, 2, 102);
  lib.free_filled_sqlda(da);

  SQLDA* bad = lib.alloc_sqlda_noind(1);
  EXPECT_EQ(nullptr, bad->sqlvar[0].sqlind);
  bad->sqlvar[0].sqltype = 9998;  // no such type
  EXPECT_EQ(nullptr, lib.fill_sqlda(bad));
  EXPECT_EQ(nullptr, bad->sqlvar[0].sqldata);
  lib.free_sqlda(bad);
  EXPECT_EQ(nullptr, lib.alloc_sqlda(40000));
  EXPECT_EQ(nullptr, lib.fill_sqlda(nullptr));
  lib.free_sqlda(nullptr);
  lib.free_filled_sqlda(nullptr);
}

TEST_F(ServicesTest, BadArgumentsAnswerErrors) {
  EXPECT_EQ(-1, lib.db_string_connect(nullptr, "uid=DBA"));
  EXPECT_EQ(-1, lib.dbpp_commit(nullptr, 0));
  EXPECT_EQ(0, lib.db_init(nullptr));
  SQLCA raw{};  // never initialised, no identifier
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.db_string_connect(&raw, "uid=DBA"));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, raw.sqlcode);
  std::memcpy(raw.sqlcaid, "SQLCA", 6);  // identifier, but no db_init
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.dbpp_commit(&raw, 0));

  Client b(lib);
  std::string huge = "uid=DBA;pwd=SQL;dbf=" + std::string(100 * 1024, 'x');
  EXPECT_EQ(SQLE_CONNECTION_PARSE_ERROR, b.Connect(huge));
  EXPECT_LE(b.ca.sqlerrml, 70);
  EXPECT_EQ(SQLE_CONNECTION_PARSE_ERROR, b.Connect("uid=DBA;pwd=SQL;dbf={" + db));
  EXPECT_EQ(SQLE_CONNECTION_PARSE_ERROR, lib.db_start_engine(&b, "start=dbeng7 -n"));
  EXPECT_EQ(0, lib.db_connection_info(&a, DB_INFO_ENGINE_NAME, nullptr));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, a.ca.sqlcode);
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.dbpp_getoption(&a, 0, nullptr, "row_counts", nullptr));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.dbpp_execute_imm(&a, nullptr, 2));
  EXPECT_EQ(SQLE_INVALID_PARAMETER, lib.db_delete_file(&a, db.c_str()));  // only renamed logs
  EXPECT_TRUE(std::filesystem::exists(db));

  // sqlerror_message never writes past the size it is given.
  EXPECT_EQ(SQLE_INVALID_LOGON, b.Connect("uid=DBA;pwd=no;dbf=" + db));
  char small[8];
  std::memset(small, '#', sizeof small);
  lib.sqlerror_message(&b, small, 5);
  EXPECT_STREQ("Inva", small);
  EXPECT_EQ('#', small[5]);
  EXPECT_EQ(nullptr, lib.sqlerror_message(&b, nullptr, 10));
  lib.sqlerror_message(&b, small, 0);
  EXPECT_EQ('I', small[0]);
}

}  // namespace
}  // namespace dblibtest
