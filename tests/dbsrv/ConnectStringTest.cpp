// Connection-string, start-line and server-statement parsing of the engine.
#include "dbsrv/ConnectString.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ServerStatement.h"
#include "dbsrv/StartLine.h"

#include <gtest/gtest.h>

namespace vdbsrv {
namespace {

TEST(ConnectStringTest, LongAndShortKeysWithoutRegardToCase) {
  ConnectParams p = ParseConnectString(
      " EngineName = sales ; DBF=C:\\data\\sales.db;dbn=s1;UserID=DBA;PWD=;"
      "start=dbeng7 -n x;ConnectionName=c;cs=cp1252;AutoStop=no;DEBUG=Yes;links=tcpip;");
  EXPECT_EQ("sales", p.engineName);
  EXPECT_EQ("C:\\data\\sales.db", p.databaseFile);
  EXPECT_EQ("s1", p.databaseName);
  EXPECT_EQ("DBA", p.userId);
  EXPECT_TRUE(p.hasPassword);
  EXPECT_EQ("", p.password);
  EXPECT_EQ("dbeng7 -n x", p.startLine);
  EXPECT_EQ("c", p.connectionName);
  EXPECT_EQ("cp1252", p.charSet);
  EXPECT_EQ(false, p.autoStop);
  EXPECT_EQ(true, p.debug);
  ConnectParams braced = ParseConnectString("pwd={a;b=c};uid=x");
  EXPECT_EQ("a;b=c", braced.password);
  EXPECT_EQ("x", braced.userId);
  EXPECT_EQ("", ParseConnectString("").engineName);
  EXPECT_EQ("", ParseConnectString(" ; ;").engineName);
}

TEST(ConnectStringTest, MalformedItemsNameTheOffendingText) {
  struct Case {
    std::string text;
    std::string offending;
  } cases[] = {
      {"uid=DBA;colour=red", "colour=red"},
      {"uid=DBA;justaword;pwd=x", "justaword"},
      {"uid=DBA;pwd", "pwd"},
      {"=value", "=value"},
      {"autostop=perhaps", "autostop=perhaps"},
      {"pwd={open", "pwd={open"},
      {"pwd={a}b", "pwd={a}b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseConnectString(c.text);
      ADD_FAILURE() << "parsed";
    } catch (const ServerError& e) {
      EXPECT_EQ(errParse, e.Code());
      EXPECT_EQ(c.offending, e.Detail().param);
      EXPECT_NE(std::string::npos, e.Detail().message.find(c.offending));
    }
  }
  EXPECT_THROW(ParseConnectString(std::string(kMaxConnectStringLength + 1, 'a')), ServerError);
}

TEST(ConnectStringTest, MaskPasswordHidesOnlyThePassword) {
  EXPECT_EQ("uid=a;pwd=***;dbf=x", MaskPassword("uid=a;pwd=secret;dbf=x"));
  EXPECT_EQ("Password=***", MaskPassword("Password=secret"));
  EXPECT_EQ("eng=e", MaskPassword("eng=e"));
}

TEST(StartLineTest, NameVersionAndFilesAmongOtherSwitches) {
  StartLine s = ParseStartLine("dbeng7 -c 8m -n sales -x tcpip -ev 6.0.3.2 -q \"my db.db\" two.db");
  EXPECT_EQ("dbeng7", s.program);
  EXPECT_EQ("sales", s.engineName);
  EXPECT_EQ("6.0.3.2", s.version);
  EXPECT_EQ((std::vector<std::string>{"my db.db", "two.db"}), s.databaseFiles);
  EXPECT_EQ(6, MajorVersion(s.version));
  EXPECT_EQ(0, MajorVersion("x"));
  EXPECT_THROW(ParseStartLine("dbeng7 -n"), ServerError);
  EXPECT_THROW(ParseStartLine("dbeng7 -ev bogus"), ServerError);
  EXPECT_THROW(ParseStartLine("dbeng7 \"open"), ServerError);
}

TEST(ServerStatementTest, RecognisedStatements) {
  struct Case {
    const char* text;
    ServerStatementKind kind;
    const char* name;
    const char* value;
  } cases[] = {
      {"commit", sskCommit, "", ""},
      {" COMMIT WORK ;", sskCommit, "", ""},
      {"rollback transaction", sskRollback, "", ""},
      {"begin", sskBegin, "", ""},
      {"set option row_counts = 'ON'", sskSetOption, "row_counts", "ON"},
      {"SET TEMPORARY OPTION isolation_level = 3", sskSetOption, "isolation_level", "3"},
      {"set option public.x = 'it''s'", sskSetOption, "x", "it's"},
      {"set option date_format =", sskSetOption, "date_format", ""},
      {"message 'hi' type warning to client", sskMessage, "", ""},
      {"create database '/tmp/a b.db'", sskCreateDatabase, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    auto s = ParseServerStatement(c.text);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(c.kind, s->kind);
    EXPECT_EQ(c.name, s->name);
    EXPECT_EQ(c.value, s->value);
  }
  EXPECT_TRUE(ParseServerStatement("set option public.x = 1")->isPublic);
  EXPECT_EQ("/tmp/a b.db", ParseServerStatement("create database '/tmp/a b.db'")->text);
  EXPECT_EQ(mtWarning, ParseServerStatement("message 'hi' type warning")->messageType);
}

TEST(ServerStatementTest, OtherTextsPassThroughAndBrokenOnesAreSyntaxErrors) {
  for (const char* text : {"select 1", "rollback to savepoint a", "set x = 1", "begin transaction t; select 1",
                           "create table t(a)", "message x to client", "committed", ""})
    EXPECT_FALSE(ParseServerStatement(text).has_value()) << text;
  for (const char* text : {"set option = 1", "set option a b", "message 'x' type loud",
                           "message 'x' to server", "create database x"})
    EXPECT_THROW(ParseServerStatement(text), ServerError) << text;
}

}  // namespace
}  // namespace vdbsrv
