#include <gtest/gtest.h>
#include <sqlite3.h>

#include "dbsrv/DialectStatement.h"
#include "dbsrv/ProcAst.h"

using namespace vdbsrv;

namespace {

std::shared_ptr<const TProcDefinition> Parsed(const std::string& Text, const TDialectHooks& Hooks = {}) {
  TDialectResult R = ParseStatement(Text, Hooks);
  EXPECT_TRUE(R.Ok) << Text << ": " << R.Error.Message;
  EXPECT_EQ(R.Statement.Kind, dsCreateProcedure);
  EXPECT_TRUE(R.Statement.HostVars.empty());
  return R.Statement.Procedure;
}

std::vector<std::string> SlotNames(const TDialectExpr& E) {
  std::vector<std::string> R;
  for (const TParamSlot& S : E.Slots) {
    EXPECT_EQ(S.Kind, slVariable);
    R.push_back(S.Variable);
  }
  return R;
}

const char* const ProcText =
    "create procedure dba.fill(IN a integer, OUT b varchar(40), INOUT c numeric(10,2) default 5, d int)\n"
    "result (id integer, name varchar(40))\n"
    "begin\n"
    "  declare i integer default 0;\n"
    "  declare s long varchar;\n"
    "  set s = 'n' + a;\n"
    "  select count(*) into i from t where k = a;\n"
    "  while i < 3 loop\n"
    "    set i = i + 1;\n"
    "    if i = 1 then message 'one' type info to client;\n"
    "    elseif i = 2 then insert into t (k, v) values (i, s);\n"
    "    else call dba.other(i, b); end if;\n"
    "  end loop;\n"
    "  select id, name from t where k = c;\n"
    "  select 2;\n"
    "  begin declare j int; set j = i; end;\n"
    "  return\n"
    "end";

TEST(ProcParser, ParsesTheHeadAndKeepsTheDefinition) {
  auto D = Parsed(ProcText);
  ASSERT_TRUE(D);
  EXPECT_FALSE(D->IsFunction);
  EXPECT_EQ(D->Owner, "dba");
  EXPECT_EQ(D->Name, "fill");
  EXPECT_EQ(D->Text, ProcText);
  struct Param {
    TParamMode Mode;
    const char* Name;
    const char* Type;
    bool HasDefault;
  } Expected[] = {{pmIn, "a", "integer", false},
                  {pmOut, "b", "varchar(40)", false},
                  {pmInOut, "c", "numeric(10,2)", true},
                  {pmIn, "d", "int", false}};
  ASSERT_EQ(D->Params.size(), std::size(Expected));
  for (size_t I = 0; I < std::size(Expected); I++) {
    EXPECT_EQ(D->Params[I].Mode, Expected[I].Mode) << I;
    EXPECT_EQ(D->Params[I].Name, Expected[I].Name) << I;
    EXPECT_EQ(D->Params[I].TypeText, Expected[I].Type) << I;
    EXPECT_EQ(D->Params[I].HasDefault, Expected[I].HasDefault) << I;
  }
  EXPECT_EQ(D->Params[2].Default.Sql, "5");
  EXPECT_EQ(D->Params[1].Pos.Line, 1);
  ASSERT_EQ(D->Result.size(), 2u);
  EXPECT_EQ(D->Result[1].Name, "name");
  EXPECT_EQ(D->Result[1].TypeText, "varchar(40)");
}

TEST(ProcParser, BodyBecomesStatementsWithTranslatedSqlAndVariableSlots) {
  auto D = Parsed(ProcText);
  ASSERT_TRUE(D);
  const auto& B = D->Body;
  ASSERT_EQ(B.size(), 9u);
  EXPECT_EQ(B[0].Kind, psDeclare);
  EXPECT_EQ(B[0].Name, "i");
  EXPECT_TRUE(B[0].HasValue);
  EXPECT_EQ(B[0].Value.Sql, "0");
  EXPECT_EQ(B[1].TypeText, "long varchar");
  EXPECT_FALSE(B[1].HasValue);

  EXPECT_EQ(B[2].Kind, psSet);
  EXPECT_EQ(B[2].Name, "s");
  EXPECT_EQ(B[2].Value.Sql, "'n' || ?1");
  EXPECT_EQ(SlotNames(B[2].Value), std::vector<std::string>{"a"});
  EXPECT_FALSE(B[2].Append);

  EXPECT_EQ(B[3].Kind, psSelectInto);
  EXPECT_EQ(B[3].Targets, std::vector<std::string>{"i"});
  EXPECT_EQ(B[3].Sql.Sql, "select count(*) from t where k = ?1");
  EXPECT_EQ(B[3].Text, "select count(*) into i from t where k = a");

  ASSERT_EQ(B[4].Kind, psWhile);
  EXPECT_EQ(B[4].Cond.Sql, "?1 < 3");
  ASSERT_EQ(B[4].Body.size(), 2u);
  EXPECT_EQ(B[4].Body[0].Value.Sql, "?1 + 1");
  const TProcStmt& If = B[4].Body[1];
  ASSERT_EQ(If.Kind, psIf);
  EXPECT_EQ(If.Pos.Line, 10);
  ASSERT_EQ(If.Branches.size(), 2u);
  EXPECT_EQ(If.Branches[0].Cond.Sql, "?1 = 1");
  ASSERT_EQ(If.Branches[0].Body.size(), 1u);
  EXPECT_EQ(If.Branches[0].Body[0].Kind, psMessage);
  EXPECT_EQ(If.Branches[0].Body[0].Message.Target, mgClient);
  ASSERT_EQ(If.Branches[1].Body.size(), 1u);
  EXPECT_EQ(If.Branches[1].Body[0].Kind, psSql);
  EXPECT_FALSE(If.Branches[1].Body[0].IsResultSet);
  EXPECT_EQ(If.Branches[1].Body[0].Sql.Sql, "insert into t (k, v) values (?1, ?2)");
  EXPECT_EQ(SlotNames(If.Branches[1].Body[0].Sql), (std::vector<std::string>{"i", "s"}));
  ASSERT_TRUE(If.HasElse);
  ASSERT_EQ(If.Else.size(), 1u);
  EXPECT_EQ(If.Else[0].Kind, psCall);
  EXPECT_EQ(If.Else[0].Call.Owner, "dba");
  EXPECT_EQ(If.Else[0].Call.Args[1].Value.BareName, "b");
  EXPECT_TRUE(If.Else[0].Call.Args[1].Value.IsVariableRef());

  EXPECT_EQ(B[5].Kind, psSql);
  EXPECT_TRUE(B[5].IsResultSet);
  EXPECT_EQ(B[5].Sql.Sql, "select id, name from t where k = ?1");
  EXPECT_TRUE(B[6].IsResultSet);
  ASSERT_EQ(B[7].Kind, psBlock);
  EXPECT_EQ(B[7].Body[1].Value.Sql, "?1");
  EXPECT_EQ(SlotNames(B[7].Body[1].Value), std::vector<std::string>{"i"});
  EXPECT_EQ(B[8].Kind, psReturn);
  EXPECT_FALSE(B[8].HasValue);
}

TEST(ProcParser, LocalsAreVariablesOnlyInTheirBlock) {
  auto D = Parsed(
      "create procedure p() begin begin declare x int; set x = 1; end; select x from t; end");
  ASSERT_TRUE(D);
  ASSERT_EQ(D->Body.size(), 2u);
  EXPECT_EQ(D->Body[1].Sql.Sql, "select x from t");
  EXPECT_TRUE(D->Body[1].Sql.Slots.empty());
}

TEST(ProcParser, HeadVariantsAndTheDefinitionTextAsWritten) {
  // The definition text is kept byte for byte: the components search it for "result(".
  const char* Text = "create or replace procedure q(out x int)result(a int) begin select 1 end";
  auto D = Parsed(Text);
  ASSERT_TRUE(D);
  EXPECT_TRUE(D->OrReplace);
  EXPECT_EQ(D->Text, Text);
  EXPECT_EQ(D->Params[0].Mode, pmOut);
  ASSERT_EQ(D->Result.size(), 1u);
  ASSERT_EQ(D->Body.size(), 1u);
  EXPECT_TRUE(D->Body[0].IsResultSet);
  auto NoParams = Parsed("create procedure r begin end");
  ASSERT_TRUE(NoParams);
  EXPECT_TRUE(NoParams->Params.empty());
  EXPECT_TRUE(NoParams->Body.empty());
}

TEST(ProcParser, SetRecognisesAppendsToStringVariables) {
  auto D = Parsed(
      "create procedure p(in piece long varchar) begin declare s long varchar; declare n int;\n"
      "set s = s || piece; set s = s + 'x'; set n = n + 1; set s = s || piece + 1; end");
  ASSERT_TRUE(D);
  ASSERT_EQ(D->Body.size(), 6u);
  EXPECT_TRUE(D->Body[2].Append);
  EXPECT_EQ(D->Body[2].Appended.Sql, "?1");
  EXPECT_EQ(SlotNames(D->Body[2].Appended), std::vector<std::string>{"piece"});
  EXPECT_TRUE(D->Body[3].Append);
  EXPECT_EQ(D->Body[3].Value.Sql, "?1 || 'x'");
  EXPECT_EQ(D->Body[3].Appended.Sql, "'x'");
  EXPECT_FALSE(D->Body[4].Append);
  EXPECT_EQ(D->Body[4].Value.Sql, "?1 + 1");
  EXPECT_FALSE(D->Body[5].Append);
}

TEST(ProcParser, Functions) {
  auto D = Parsed(
      "create function dba.full_name(first varchar(20), last varchar(20)) returns varchar(41)\n"
      "begin\n"
      "  declare r varchar(41);\n"
      "  set r = first + ' ' + last;\n"
      "  return (if r = ' ' then null else r endif)\n"
      "end");
  ASSERT_TRUE(D);
  EXPECT_TRUE(D->IsFunction);
  EXPECT_EQ(D->ReturnType, "varchar(41)");
  ASSERT_EQ(D->Params.size(), 2u);
  EXPECT_EQ(D->Body[1].Value.Sql, "?1 || ' ' || ?2");
  EXPECT_EQ(SlotNames(D->Body[1].Value), (std::vector<std::string>{"first", "last"}));
  ASSERT_EQ(D->Body[2].Kind, psReturn);
  EXPECT_TRUE(D->Body[2].HasValue);
  EXPECT_EQ(D->Body[2].Value.Sql, "(CASE WHEN ?1 = ' ' then null else ?1 END)");
}

TEST(ProcParser, EmbeddedSqlPreparesInSqlite) {
  auto D = Parsed(ProcText);
  ASSERT_TRUE(D);
  sqlite3* Db = nullptr;
  sqlite3_open(":memory:", &Db);
  sqlite3_exec(Db, "create table t(id integer, name text, k integer, v text)", nullptr, nullptr, nullptr);
  std::vector<const TDialectExpr*> Sql;
  std::function<void(const std::vector<TProcStmt>&)> Collect = [&](const std::vector<TProcStmt>& L) {
    for (const TProcStmt& S : L) {
      if (S.Kind == psSql || S.Kind == psSelectInto) Sql.push_back(&S.Sql);
      if (S.Kind == psSet || (S.Kind == psDeclare && S.HasValue)) Sql.push_back(&S.Value);
      if (S.Kind == psWhile) Sql.push_back(&S.Cond);
      for (const TProcBranch& Br : S.Branches) {
        Sql.push_back(&Br.Cond);
        Collect(Br.Body);
      }
      Collect(S.Else);
      Collect(S.Body);
    }
  };
  Collect(D->Body);
  EXPECT_GE(Sql.size(), 10u);
  for (const TDialectExpr* E : Sql) {
    std::string Text = E->Sql.rfind("select", 0) == 0 || E->Sql.rfind("insert", 0) == 0 ? E->Sql : "select " + E->Sql;
    sqlite3_stmt* St = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(Db, Text.c_str(), -1, &St, nullptr), SQLITE_OK) << Text << ": " << sqlite3_errmsg(Db);
    EXPECT_EQ(sqlite3_bind_parameter_count(St), static_cast<int>(E->Slots.size())) << Text;
    sqlite3_finalize(St);
  }
  sqlite3_close(Db);
}

TEST(ProcParser, SyntaxErrorsCarryThePositionInTheBody) {
  struct Case {
    const char* Text;
    const char* Near;
    int32_t Line;
  } Cases[] = {
      {"create procedure p() begin\n set x = 1\n set y = 2; end", "set", 3},
      {"create procedure p() begin\n if a then select 1; end", "(end of line)", 2},
      {"create procedure p() begin\n if a select 1; end if; end", "select", 2},
      {"create procedure p() begin\n while a loop set x = 1; end if; end", "if", 2},
      {"create procedure p() begin\n frobnicate x; end", "frobnicate", 2},
      {"create procedure p() begin\n select ?; end", "?", 2},
      {"create procedure p(in) begin end", ")", 1},
      {"create procedure p(a) begin end", ")", 1},
      {"create procedure p() result (a) begin end", ")", 1},
      {"create function f() begin return 1; end", "begin", 1},
      {"create procedure p() begin select 1; end extra", "extra", 1},
      {"create procedure p() begin\n declare x; end", ";", 2},
      {"create procedure p() begin\n select a into from t; end", "from", 2},
  };
  for (const Case& C : Cases) {
    TDialectResult R = ParseStatement(C.Text);
    ASSERT_FALSE(R.Ok) << C.Text;
    EXPECT_EQ(R.Error.Code, -131);
    EXPECT_EQ(R.Error.Message,
              std::string("Syntax error near '") + C.Near + "' on line " + std::to_string(C.Line))
        << C.Text;
  }
}

TEST(ProcParser, DeepNestingIsRefused) {
  std::string Text = "create procedure p() begin ";
  for (int I = 0; I < 2000; I++) Text += "begin ";
  for (int I = 0; I < 2000; I++) Text += "end; ";
  Text += "end";
  EXPECT_FALSE(ParseStatement(Text).Ok);
}

}  // namespace
