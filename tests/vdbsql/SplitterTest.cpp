// The statement splitter: where statements end, what stays inside them.
#include <gtest/gtest.h>

#include "Splitter.h"

namespace {

using vdbsql::SplitScript;
using vdbsql::TScriptItem;

std::vector<std::string> Texts(const std::vector<TScriptItem>& Items) {
  std::vector<std::string> Out;
  for (const auto& I : Items) Out.push_back((I.Meta ? "\\" : "") + I.Text);
  return Out;
}

struct TSplitCase {
  const char* Name;
  const char* Script;
  std::vector<std::string> Expected;
};

TEST(Splitter, CutsStatementsWhereTheyEnd) {
  const TSplitCase Cases[] = {
      {"semicolon at line end", "select 1;\nselect 2;\n", {"select 1", "select 2"}},
      {"semicolon on its own line", "select 1\n;\nselect 2\n  ;  \n", {"select 1", "select 2"}},
      {"two on one line", "select 1; select 2;", {"select 1", "select 2"}},
      {"last one without semicolon", "select 1;\nselect\n  2", {"select 1", "select\n  2"}},
      {"multi-line statement keeps its lines", "select a,\n  b\nfrom t;", {"select a,\n  b\nfrom t"}},
      {"semicolons in quotes", "select ';', \"a;b\", `c;d`, [e;f] from t;", {"select ';', \"a;b\", `c;d`, [e;f] from t"}},
      {"doubled quotes stay inside", "select 'it''s; here';\nselect 2;", {"select 'it''s; here'", "select 2"}},
      {"quote across lines", "insert into t values ('a;\nb');\n", {"insert into t values ('a;\nb')"}},
      {"line comments", "-- a comment; not a statement\nselect 1; -- trailing; comment\n// another;\nselect 2;",
       {"select 1", "select 2"}},
      {"comment inside a statement stays", "select 1 -- one;\n, 2;", {"select 1 -- one;\n, 2"}},
      {"block comments", "/* select 0; */ select 1 /* ; */;\n/* multi\n line; */select 2;",
       {"select 1 /* ; */", "select 2"}},
      {"empty statements vanish", ";;\n ; \nselect 1;;", {"select 1"}},
      {"procedure body kept whole",
       "create procedure p(in a int)\nbegin\n  declare x int;\n  set x = a;\n  select x;\nend;\ncall p(1);",
       {"create procedure p(in a int)\nbegin\n  declare x int;\n  set x = a;\n  select x;\nend", "call p(1)"}},
      {"nested blocks and end if/loop/case",
       "create procedure p()\nbegin\n  if 1 = 1 then\n    select 1;\n  end if;\n  while 0 = 1 loop\n    select 2;\n"
       "  end loop;\n  case 1 when 1 then select 3; end case;\n  begin\n    select case when 1 then 2 end;\n  end;\n"
       "end;\nselect 9;",
       {"create procedure p()\nbegin\n  if 1 = 1 then\n    select 1;\n  end if;\n  while 0 = 1 loop\n    select 2;\n"
        "  end loop;\n  case 1 when 1 then select 3; end case;\n  begin\n    select case when 1 then 2 end;\n  end;\n"
        "end",
        "select 9"}},
      {"trigger body", "create trigger tr after insert on t begin update t set a = 1; end;\nselect 1;",
       {"create trigger tr after insert on t begin update t set a = 1; end", "select 1"}},
      {"begin transaction is no block", "begin transaction;\ninsert into t values (1);\ncommit;",
       {"begin transaction", "insert into t values (1)", "commit"}},
      {"bare begin is no block", "begin;\nselect 1;", {"begin", "select 1"}},
      {"case expression", "select case when a then 1 else 2 end from t;\nselect 2;",
       {"select case when a then 1 else 2 end from t", "select 2"}},
      {"keywords inside words and quotes", "select begin_date, 'begin', \"end\" from t;\nselect 2;",
       {"select begin_date, 'begin', \"end\" from t", "select 2"}},
      {"meta-commands on their own lines", "\\tables\nselect 1;\n  \\columns t\n", {"\\tables", "select 1", "\\columns t"}},
      {"backslash inside a quote is text", "select '\n\\tables\n';", {"select '\n\\tables\n'"}},
      {"windows line ends", "select 1;\r\nselect 2;\r\n", {"select 1", "select 2"}},
  };
  for (const auto& C : Cases) EXPECT_EQ(Texts(SplitScript(C.Script)), C.Expected) << C.Name;
}

TEST(Splitter, RecordsStartLinesAndPendingState) {
  auto Items = SplitScript("\n-- header\nselect 1;\n\nselect\n2;\n\\info\n");
  ASSERT_EQ(Items.size(), 3u);
  EXPECT_EQ(Items[0].Line, 3);
  EXPECT_EQ(Items[1].Line, 5);
  EXPECT_EQ(Items[2].Line, 7);
  EXPECT_TRUE(Items[2].Meta);

  vdbsql::TStatementSplitter S;
  std::vector<TScriptItem> Out;
  S.AddLine("-- only a comment", Out);
  EXPECT_FALSE(S.Pending());
  S.AddLine("create procedure p() begin", Out);
  EXPECT_TRUE(S.Pending());
  S.AddLine("  select 1;", Out);
  EXPECT_TRUE(Out.empty());
  S.Reset();
  EXPECT_FALSE(S.Pending());
  S.AddLine("select 2;", Out);
  EXPECT_EQ(Texts(Out), std::vector<std::string>{"select 2"});
}

}  // namespace
