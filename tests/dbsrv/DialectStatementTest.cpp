#include <gtest/gtest.h>

#include "dbsrv/DialectStatement.h"

using namespace vdbsrv;

namespace {

TDialectStatement Parsed(const std::string& Text, const TDialectHooks& Hooks = {}) {
  TDialectResult R = ParseStatement(Text, Hooks);
  EXPECT_TRUE(R.Ok) << Text << ": " << R.Error.Message;
  return R.Statement;
}

TEST(DialectStatement, CallsWithResultMarkersOwnersAndArguments) {
  struct Case {
    const char* Text;
    const char* Owner;
    const char* Name;
    int32_t ResultHost;
    size_t Args;
    size_t HostVars;
  } Cases[] = {
      {"call p", "", "p", -1, 0, 0},
      {"call p()", "", "p", -1, 0, 0},
      {"call dba.myproc(:a)", "dba", "myproc", -1, 1, 1},
      {"? = call p(?,?)", "", "p", 0, 2, 3},
      {"?=call DBA.vp_alert_receive(?,?,?,?,?)", "DBA", "vp_alert_receive", 0, 5, 6},
      {":Result = call dba.p(:a,:b)", "dba", "p", 0, 2, 3},
      {"call \"my proc\"(1, 'a,b', (2, 3))", "", "my proc", -1, 3, 0},
  };
  for (const Case& C : Cases) {
    TDialectStatement S = Parsed(C.Text);
    ASSERT_EQ(S.Kind, dsCall) << C.Text;
    EXPECT_EQ(S.Call.Owner, C.Owner) << C.Text;
    EXPECT_EQ(S.Call.Name, C.Name) << C.Text;
    EXPECT_EQ(S.Call.ResultHost, C.ResultHost) << C.Text;
    EXPECT_EQ(S.Call.Args.size(), C.Args) << C.Text;
    EXPECT_EQ(S.HostVars.size(), C.HostVars) << C.Text;
  }
}

TEST(DialectStatement, CallArgumentsKeepWhatTheEngineBindsAndWritesBack) {
  TDialectHooks Hooks;
  Hooks.IsVariable = [](std::string_view N) { return N == "v"; };
  TDialectStatement S = Parsed(":r = call p(:x, v, x = 1 + 'a', if :x > 0 then 1 else 2 endif, :x)", Hooks);
  ASSERT_EQ(S.Call.Args.size(), 5u);
  EXPECT_EQ(S.Call.ResultHost, 0);
  EXPECT_EQ(S.Call.Args[0].Value.Host, 1);
  EXPECT_TRUE(S.Call.Args[1].Value.IsVariableRef());
  EXPECT_EQ(S.Call.Args[1].Value.BareName, "v");
  EXPECT_EQ(S.Call.Args[2].Name, "x");
  EXPECT_EQ(S.Call.Args[2].Value.Sql, "1 || 'a'");
  EXPECT_EQ(S.Call.Args[3].Value.Sql, "CASE WHEN ?1 > 0 then 1 else 2 END");
  ASSERT_EQ(S.Call.Args[3].Value.Slots.size(), 1u);
  EXPECT_EQ(S.Call.Args[3].Value.Slots[0].Host, 1);
  EXPECT_EQ(S.Call.Args[4].Value.Host, 1);
  EXPECT_EQ(S.HostVars.size(), 2u);
}

TEST(DialectStatement, ServerVariables) {
  TDialectHooks Hooks;
  Hooks.IsVariable = [](std::string_view N) { return SameName(N, "blob_1"); };
  TDialectStatement C = Parsed("create variable blob_1 long binary");
  ASSERT_EQ(C.Kind, dsCreateVariable);
  EXPECT_EQ(C.CreateVariable.Name, "blob_1");
  EXPECT_EQ(C.CreateVariable.TypeText, "long binary");
  EXPECT_EQ(Parsed("create variable n numeric( 10 , 2 )").CreateVariable.TypeText, "numeric(10,2)");

  TDialectStatement Init = Parsed("set blob_1=''", Hooks);
  ASSERT_EQ(Init.Kind, dsSetVariable);
  EXPECT_EQ(Init.SetVariable.Value.Sql, "''");
  EXPECT_FALSE(Init.SetVariable.Append);

  struct Case {
    const char* Text;
    bool Append;
    const char* Sql;
  } Sets[] = {
      {"set blob_1=blob_1 || :blob_host", true, ":blob_host"},
      {"set blob_1 = BLOB_1 || ? || 'x'", true, "? || 'x'"},
      {"set blob_1 = blob_1 + 'x'", true, "'x'"},
      {"set blob_1 = blob_1 || :a + 1", false, ""},
      {"set blob_1 = blob_1 || :a collate nocase", false, ""},
      {"set blob_1 = blob_1", false, ""},
      {"set blob_1 = other || ?", false, ""},
  };
  for (const Case& S : Sets) {
    TDialectStatement St = Parsed(S.Text, Hooks);
    ASSERT_EQ(St.Kind, dsSetVariable) << S.Text;
    EXPECT_EQ(St.SetVariable.Append, S.Append) << S.Text;
    if (S.Append) {
      EXPECT_EQ(St.SetVariable.Appended.Text, S.Sql) << S.Text;
    }
  }
  TDialectStatement Append = Parsed("set blob_1=blob_1 || :blob_host", Hooks);
  EXPECT_EQ(Append.SetVariable.Value.Sql, "?1 || ?2");
  EXPECT_EQ(Append.SetVariable.Appended.Sql, "?1");
  ASSERT_EQ(Append.SetVariable.Appended.Slots.size(), 1u);
  EXPECT_EQ(Append.SetVariable.Appended.Slots[0].Host, 0);

  TDialectStatement D = Parsed("drop variable blob_1");
  ASSERT_EQ(D.Kind, dsDropVariable);
  EXPECT_EQ(D.DropVariable.Name, "blob_1");
}

TEST(DialectStatement, Options) {
  struct Case {
    const char* Text;
    bool Temporary;
    const char* User;
    const char* Name;
    bool HasValue;
    const char* Value;
  } Cases[] = {
      {"set option row_counts = 'ON'", false, "", "row_counts", true, "ON"},
      {"SET TEMPORARY OPTION isolation_level = 3", true, "", "isolation_level", true, "3"},
      {"set option public.ansi_update_constraints = OFF", false, "public", "ansi_update_constraints", true, "OFF"},
      {"set option dba.x =", false, "dba", "x", false, ""},
      {"set option x = -1", false, "", "x", true, "-1"},
  };
  for (const Case& C : Cases) {
    TDialectStatement S = Parsed(C.Text);
    ASSERT_EQ(S.Kind, dsSetOption) << C.Text;
    EXPECT_EQ(S.SetOption.Temporary, C.Temporary) << C.Text;
    EXPECT_EQ(S.SetOption.User, C.User) << C.Text;
    EXPECT_EQ(S.SetOption.Name, C.Name) << C.Text;
    EXPECT_EQ(S.SetOption.HasValue, C.HasValue) << C.Text;
    EXPECT_EQ(S.SetOption.Value, C.Value) << C.Text;
  }
}

TEST(DialectStatement, Messages) {
  TDialectStatement S = Parsed("message 'Done: ' + string(:n), ' rows' type warning to client");
  ASSERT_EQ(S.Kind, dsMessage);
  ASSERT_EQ(S.Message.Parts.size(), 2u);
  EXPECT_EQ(S.Message.Parts[0].Sql, "'Done: ' || string(?1)");
  EXPECT_EQ(S.Message.Parts[1].Sql, "' rows'");
  EXPECT_EQ(S.Message.Type, mtWarning);
  EXPECT_EQ(S.Message.Target, mgClient);
  TDialectStatement Plain = Parsed("message 'x'");
  EXPECT_EQ(Plain.Message.Type, mtInfo);
  EXPECT_EQ(Plain.Message.Target, mgConsole);
  TDialectStatement Debug = Parsed("message 'x' to log debug only");
  EXPECT_EQ(Debug.Message.Target, mgLog);
  EXPECT_TRUE(Debug.Message.DebugOnly);
}

TEST(DialectStatement, WaitforTimes) {
  struct Case {
    const char* Text;
    bool Until;
    int64_t Millis;
  } Cases[] = {
      {"waitfor delay '00:00:02'", false, 2000},
      {"waitfor delay '01:02:03.5'", false, 3723500},
      {"waitfor delay '0:1'", false, 1000},
      {"waitfor time '13:00:00'", true, 46800000},
  };
  for (const Case& C : Cases) {
    TDialectStatement S = Parsed(C.Text);
    ASSERT_EQ(S.Kind, dsWaitfor) << C.Text;
    EXPECT_EQ(S.Waitfor.Until, C.Until);
    EXPECT_EQ(S.Waitfor.Millis, C.Millis) << C.Text;
  }
  for (const char* Bad : {"", "1:2:3:4", "00:61", "a", "1.", "00:00:01x"}) EXPECT_EQ(ParseTimeOfDay(Bad), -1) << Bad;
}

TEST(DialectStatement, ProceduresDatabasesAndTransactions) {
  TDialectStatement D = Parsed("drop procedure if exists dba.p");
  ASSERT_EQ(D.Kind, dsDropProcedure);
  EXPECT_TRUE(D.DropProcedure.IfExists);
  EXPECT_FALSE(D.DropProcedure.IsFunction);
  EXPECT_EQ(D.DropProcedure.Owner, "dba");
  EXPECT_EQ(D.DropProcedure.Name, "p");
  EXPECT_TRUE(Parsed("drop function f").DropProcedure.IsFunction);

  TDialectStatement Db = Parsed("create database 'c:\\data\\demo.db' page size 4096");
  ASSERT_EQ(Db.Kind, dsCreateDatabase);
  EXPECT_EQ(Db.CreateDatabase.FileName, "c:\\data\\demo.db");
  EXPECT_EQ(Db.CreateDatabase.OptionsText, "page size 4096");

  EXPECT_EQ(Parsed("commit").Kind, dsCommit);
  EXPECT_EQ(Parsed("COMMIT WORK;").Kind, dsCommit);
  EXPECT_EQ(Parsed("rollback").Kind, dsRollback);
  TDialectStatement ToSavepoint = Parsed("rollback to savepoint a");
  EXPECT_EQ(ToSavepoint.Kind, dsSql);
  EXPECT_EQ(ToSavepoint.Verb, "ROLLBACK");
}

TEST(DialectStatement, MalformedCommandsAreSyntaxErrorsAtTheOffendingToken) {
  struct Case {
    const char* Text;
    const char* Near;
  } Cases[] = {
      {"call", "(end of line)"},
      {"call p(1,", "(end of line)"},
      {"call p(1))", ")"},
      {"call p() extra", "extra"},
      {"? = call", "(end of line)"},
      {"create variable v", "(end of line)"},
      {"set = 1", "="},
      {"set x 1", "1"},
      {"set x =", "(end of line)"},
      {"set option x = 'a' 'b'", "'a'"},
      {"drop variable", "(end of line)"},
      {"message", "(end of line)"},
      {"message 'x' type loud", "loud"},
      {"message 'x' to nowhere", "nowhere"},
      {"waitfor delay 5", "5"},
      {"waitfor delay 'soon'", "'soon'"},
      {"create database file", "file"},
      {"drop procedure", "(end of line)"},
  };
  for (const Case& C : Cases) {
    TDialectResult R = ParseStatement(C.Text);
    ASSERT_FALSE(R.Ok) << C.Text;
    EXPECT_EQ(R.Error.Code, -131);
    EXPECT_EQ(R.Error.Message, std::string("Syntax error near '") + C.Near + "' on line 1") << C.Text;
  }
}

TEST(DialectStatement, SplitsScriptsOnlyBetweenStatements) {
  std::string Text =
      "select ';' from t;;\n"
      "create procedure p() begin if 1 = 1 then select 1; end if; select case when 1 then 2 end; end;\n"
      "create trigger tr after insert on t begin update t set a = 1; end;\n"
      "-- only a comment;\n"
      "select 2";
  auto Ranges = SplitStatements(Text);
  std::vector<std::string> Parts;
  for (auto [B, E] : Ranges) Parts.push_back(Text.substr(B, E - B));
  EXPECT_EQ(Parts, (std::vector<std::string>{
                       "select ';' from t",
                       "create procedure p() begin if 1 = 1 then select 1; end if; select case when 1 then 2 end; end",
                       "create trigger tr after insert on t begin update t set a = 1; end", "select 2"}));
  std::string Broken = "select 1; select 'open";
  auto BrokenRanges = SplitStatements(Broken);
  ASSERT_EQ(BrokenRanges.size(), 2u);
  EXPECT_EQ(Broken.substr(BrokenRanges[1].first), "select 'open");
}

}  // namespace
