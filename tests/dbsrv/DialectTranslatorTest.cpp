#include <gtest/gtest.h>
#include <sqlite3.h>

#include <set>
#include <string>

#include "dbsrv/DialectStatement.h"

using namespace vdbsrv;

namespace {

std::string Translated(const std::string& Text, const TDialectHooks& Hooks = {}) {
  TDialectResult R = ParseStatement(Text, Hooks);
  EXPECT_TRUE(R.Ok) << Text << ": " << R.Error.Message;
  EXPECT_EQ(R.Statement.Kind, dsSql) << Text;
  return R.Statement.Sql.Sql;
}

// An in-memory database holding stand-ins of the catalog views under the
// translator's naming rule, plus a user table.
class TCatalogDb {
 public:
  TCatalogDb() {
    sqlite3_open(":memory:", &FDb);
    Exec(R"(
      create table sys_sysuserperms(user_id integer, user_name varchar(128));
      create table sys_systable(table_id integer, table_name varchar(128), table_type char(10), creator integer);
      create table sys_syscolumn(table_id integer, column_id integer, column_name varchar(128), domain_id integer,
                                 width integer, scale integer, nulls char(1), pkey char(1), "default" text);
      create table sys_sysdomain(domain_id integer, domain_name varchar(128));
      create table sys_sysprocedure(proc_id integer, proc_name varchar(128), creator integer, proc_defn text);
      create table sys_sysprocparm(proc_id integer, parm_id integer, parm_name varchar(128), parm_type integer,
                                   parm_mode_in char(1), parm_mode_out char(1), domain_id integer, width integer,
                                   scale integer);
      create table sys_sysindex(table_id integer, index_id integer, index_name varchar(128), "unique" char(1),
                                creator integer);
      create table sys_sysixcol(table_id integer, index_id integer, column_id integer, sequence integer,
                                "order" char(1));
      insert into sys_sysuserperms values (0, 'SYS'), (1, 'DBA');
      insert into sys_systable values (7, 'orders', 'BASE', 1), (8, 'v_orders', 'VIEW', 1);
      create table people(id integer, name varchar(40), age integer);
      insert into people values (1, 'Ann', 30);
    )");
  }
  ~TCatalogDb() { sqlite3_close(FDb); }

  void Exec(const char* Sql) {
    char* Err = nullptr;
    ASSERT_EQ(sqlite3_exec(FDb, Sql, nullptr, nullptr, &Err), SQLITE_OK) << (Err ? Err : "");
  }

  // Prepares Sql; the error text when SQLite refuses it, empty otherwise.
  std::string PrepareError(const std::string& Sql) {
    sqlite3_stmt* St = nullptr;
    int Rc = sqlite3_prepare_v2(FDb, Sql.c_str(), -1, &St, nullptr);
    std::string Err = Rc == SQLITE_OK ? "" : sqlite3_errmsg(FDb);
    sqlite3_finalize(St);
    return Err;
  }

  // The first row of Sql, columns joined with "|".
  std::string FirstRow(const std::string& Sql) {
    sqlite3_stmt* St = nullptr;
    if (sqlite3_prepare_v2(FDb, Sql.c_str(), -1, &St, nullptr) != SQLITE_OK) return sqlite3_errmsg(FDb);
    std::string Row;
    if (sqlite3_step(St) == SQLITE_ROW)
      for (int C = 0; C < sqlite3_column_count(St); C++) {
        const unsigned char* V = sqlite3_column_text(St, C);
        Row += (C ? "|" : "") + std::string(V ? reinterpret_cast<const char*>(V) : "NULL");
      }
    sqlite3_finalize(St);
    return Row;
  }

 private:
  sqlite3* FDb = nullptr;
};

TEST(DialectTranslator, RewritesTheServersConstructs) {
  TDialectHooks Hooks;
  Hooks.IsStringName = [](std::string_view Q, std::string_view N) {
    return N == "name" || (Q == "p" && N == "city");
  };
  struct Case {
    const char* Text;
    const char* Sql;
  } Cases[] = {
      {"select a from t", "select a from t"},
      {"select if a=1 then 'x' else 'y' endif from t", "select CASE WHEN a=1 then 'x' else 'y' END from t"},
      {"select (if a then 1 else (if b then 2 else 3 endif) endif) as k from t",
       "select (CASE WHEN a then 1 else (CASE WHEN b then 2 else 3 END) END) as k from t"},
      {"select if a then 1 elseif b then 2 end if", "select CASE WHEN a then 1 WHEN b then 2 end"},
      {"select if a then 1 endif", "select CASE WHEN a then 1 END"},
      {"select user_name+'.'+table_name from x", "select user_name||'.'||table_name from x"},
      {"select a + b from t", "select a + b from t"},
      {"select name + ', ' + p.city, p.city + 1, age + 1 from p", "select name || ', ' || p.city, p.city || 1, age + 1 from p"},
      {"select a * 2 + 'x'", "select (a * 2) || 'x'"},
      {"select a - b + 'x'", "select (a - b) || 'x'"},
      {"select 'x' + a - b", "select 'x' || a - b"},
      {"select upper(a) + b, cast(a as varchar(10)) + b, (a + 'x') + b", "select upper(a) || b, cast(a as varchar(10)) || b, (a || 'x') || b"},
      {"select (if a then 'x' else 'y' endif) + b", "select (CASE WHEN a then 'x' else 'y' END) || b"},
      {"select case when a then 'x' end + b", "select case when a then 'x' end || b"},
      {"select a where b between 1 + 'x' and 2", "select a where b between 1 || 'x' and 2"},
      {"select * from sys.systable, SYS.SysColumn where sys.systable.table_id = 1",
       "select * from sys_systable, sys_syscolumn where sys_systable.table_id = 1"},
      {"select * from sysdomain sd", "select * from sys_sysdomain sd"},
      {"select * from sys.\"systable\"", "select * from \"sys_systable\""},
      {"select \"unique\", \"order\" from x", "select \"unique\", \"order\" from x"},
      {"select current date, current timestamp", "select CURRENT_DATE, CURRENT_TIMESTAMP"},
      {"select 'if a then' + 'endif', '+'", "select 'if a then' || 'endif', '+'"},
      {"select a // trailing\n from t", "select a -- trailing\n from t"},
      {"create table t (id integer default autoincrement primary key, n varchar(10))",
       "create table t (id integer  primary key, n varchar(10))"},
      {"create table if not exists t (a int)", "create table if not exists t (a int)"},
      {"create table t (a varchar(10) default upper('x'), b int default (1), c date default current date)",
       "create table t (a varchar(10) default (upper('x')), b int default (1), c date default CURRENT_DATE)"},
      {"select iif(a, 1, 2), if(a, 1, 2) from t", "select iif(a, 1, 2), if(a, 1, 2) from t"},
      {"select x.systable from x", "select x.systable from x"},
  };
  for (const Case& C : Cases) EXPECT_EQ(Translated(C.Text, Hooks), C.Sql) << C.Text;
}

TEST(DialectTranslator, ReportsAutoIncrementColumns) {
  TDialectResult R = ParseStatement("create table t (a int, \"Id\" bigint default autoincrement, b int)");
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Statement.AutoIncrementColumns, std::vector<std::string>{"Id"});
  EXPECT_EQ(R.Statement.Verb, "CREATE");
}

TEST(DialectTranslator, NumbersHostVariablesAndVariablesAsParameters) {
  TDialectHooks Hooks;
  Hooks.IsVariable = [](std::string_view N) { return SameName(N, "v") || SameName(N, "w"); };
  TDialectResult R = ParseStatement(
      "select ?, :a, v, :A, t.v, v(1), ?, w from t where x = v and :b = 1 order by w", Hooks);
  ASSERT_TRUE(R.Ok) << R.Error.Message;
  const TDialectStatement& S = R.Statement;
  EXPECT_EQ(S.Sql.Sql,
            "select ?1, ?2, ?3 AS \"v\", ?2, t.v, v(1), ?4, ?5 AS \"w\" from t where x = ?3 and ?6 = 1 order by ?5");
  ASSERT_EQ(S.HostVars.size(), 4u);
  EXPECT_EQ(S.HostVars[0].Name, "");
  EXPECT_EQ(S.HostVars[1].Name, "a");
  ASSERT_EQ(S.HostVars[1].Positions.size(), 2u);
  EXPECT_EQ(S.HostVars[1].Positions[0].Offset, 10);
  EXPECT_EQ(S.HostVars[1].Positions[1].Offset, 17);
  EXPECT_EQ(S.HostVars[3].Name, "b");
  struct Slot {
    TSlotKind Kind;
    int32_t Host;
    const char* Variable;
  } Expected[] = {{slHost, 0, ""}, {slHost, 1, ""}, {slVariable, -1, "v"},
                  {slHost, 2, ""}, {slVariable, -1, "w"}, {slHost, 3, ""}};
  ASSERT_EQ(S.Sql.Slots.size(), std::size(Expected));
  for (size_t I = 0; I < std::size(Expected); I++) {
    EXPECT_EQ(S.Sql.Slots[I].Kind, Expected[I].Kind) << I;
    EXPECT_EQ(S.Sql.Slots[I].Host, Expected[I].Host) << I;
    EXPECT_EQ(S.Sql.Slots[I].Variable, Expected[I].Variable) << I;
  }
}

TEST(DialectTranslator, AVariableSelectedAloneNamesItsColumn) {
  TDialectHooks Hooks;
  Hooks.IsVariable = [](std::string_view N) { return SameName(N, "v"); };
  struct Case {
    const char* Text;
    const char* Sql;
  } Cases[] = {
      {"select v", "select ?1 AS \"v\""},
      {"select distinct V from t", "select distinct ?1 AS \"V\" from t"},
      {"select v x, v as y, v + 1, f(v, 1) from t", "select ?1 x, ?1 as y, ?1 + 1, f(?1, 1) from t"},
      {"select a from t where b in (select v) and c = v", "select a from t where b in (select ?1 AS \"v\") and c = ?1"},
      {"select a, v from t union select b, v from u", "select a, ?1 AS \"v\" from t union select b, ?1 AS \"v\" from u"},
  };
  for (const Case& C : Cases) EXPECT_EQ(Translated(C.Text, Hooks), C.Sql) << C.Text;
}

TEST(DialectTranslator, NumberedMarkersKeepTheirIdentity) {
  TDialectResult R = ParseStatement("select ?2, ?1, ?2, ?");
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Statement.Sql.Sql, "select ?1, ?2, ?1, ?3");
  ASSERT_EQ(R.Statement.HostVars.size(), 3u);
  EXPECT_EQ(R.Statement.HostVars[0].Name, "2");
}

TEST(DialectTranslator, LeavesNamesThatAStatementDefinesOrAssigns) {
  TDialectHooks Hooks;
  Hooks.IsVariable = [](std::string_view N) { return N == "v"; };
  struct Case {
    const char* Text;
    const char* Sql;
  } Cases[] = {
      {"insert into t (v, b) values (v, 1)", "insert into t (v, b) values (?1, 1)"},
      {"update t set v = v + 1, b = v", "update t set v = ?1 + 1, b = ?1"},
      {"select a as v from v", "select a as v from v"},
      {"create table v (v int)", "create table v (v int)"},
  };
  for (const Case& C : Cases) EXPECT_EQ(Translated(C.Text, Hooks), C.Sql) << C.Text;
}

TEST(DialectTranslator, DropsOwnersTheEngineKnows) {
  TDialectHooks Hooks;
  Hooks.IsOwner = [](std::string_view N) { return SameName(N, "dba"); };
  EXPECT_EQ(Translated("select o.a, DBA.orders.b from dba.orders o", Hooks),
            "select o.a, orders.b from orders o");
}

TEST(DialectTranslator, RefusesWhatItCannotParseWithThePosition) {
  struct Case {
    const char* Text;
    const char* Message;
    int32_t Offset;
  } Cases[] = {
      {"select if a then 1 else 2 from t", "Syntax error near '(end of line)' on line 1", 32},
      {"select if a then 1 else 2 else 3 endif", "Syntax error near 'else' on line 1", 26},
      {"select a endif", "Syntax error near 'endif' on line 1", 9},
      {"select (a from t", "Syntax error near '(end of line)' on line 1", 16},
      {"select a) from t", "Syntax error near ')' on line 1", 8},
      {"select\n (if a then b endif))", "Syntax error near ')' on line 2", 27},
      {"select case when a then 1", "Syntax error near '(end of line)' on line 1", 25},
      {"", "Syntax error near '(end of line)' on line 1", 0},
      {" ; ;", "Syntax error near '(end of line)' on line 1", 4},
  };
  for (const Case& C : Cases) {
    TDialectResult R = ParseStatement(C.Text);
    ASSERT_FALSE(R.Ok) << C.Text;
    EXPECT_EQ(R.Error.Code, -131);
    EXPECT_EQ(R.Error.SqlState, "42W04");
    EXPECT_EQ(R.Error.Message, C.Message) << C.Text;
    EXPECT_EQ(R.Error.Pos.Offset, C.Offset) << C.Text;
  }
}

TEST(DialectTranslator, RefusesHostileNestingInsteadOfOverflowing) {
  std::string Deep = "select " + std::string(20000, '(') + "1" + std::string(20000, ')');
  TDialectResult R = ParseStatement(Deep);
  EXPECT_FALSE(R.Ok);
  std::string Ifs = "select ";
  for (int I = 0; I < 10000; I++) Ifs += "if a then ";
  EXPECT_FALSE(ParseStatement(Ifs).Ok);
}

TEST(DialectTranslator, StopsAtTheFirstStatementAndReportsTheTail) {
  std::string Text = "select 'a;b' from t; ; select 2";
  TDialectResult R = ParseStatement(Text);
  ASSERT_TRUE(R.Ok);
  EXPECT_EQ(R.Statement.Text, "select 'a;b' from t");
  EXPECT_EQ(R.Statement.Sql.Sql, "select 'a;b' from t");
  EXPECT_EQ(Text.substr(R.Statement.TailOffset), "select 2");
  TDialectResult Last = ParseStatement("select 1;  ");
  EXPECT_EQ(Last.Statement.TailOffset, 11u);
}

// Every catalog and system text the components send, as they send it (with
// their %s places filled in), must become SQL that SQLite prepares against the
// catalog views.
TEST(DialectTranslator, SystemTextsPrepareInSqlite) {
  const char* Texts[] = {
      "select user_name, table_name from sys.systable, sys.sysuserperms where creator=user_id and "
      "table_type='BASE' and creator=1 order by 1,2",
      "select user_name, proc_name from sys.sysprocedure, sys.sysuserperms where creator=user_id order by 1,2",
      "select column_name from sys.systable st, sys.syscolumn sc, sys.sysuserperms up where "
      "st.table_id=sc.table_id and creator=user_id and table_name=:table_name and user_name=:user_name order by "
      "column_id",
      "select column_name from sys.syscolumn, sys.systable where (sys.systable.table_id=sys.syscolumn.table_id) and "
      "(sys.systable.table_name=:table_name) and (pkey='Y')",
      "select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if "
      "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and "
      "parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and "
      "parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, domain_id as data_type from "
      "sys.sysprocedure pr, sys.sysprocparm pp, sys.sysuserperms up where pr.proc_id=pp.proc_id and "
      "creator=user_id and proc_name=:proc_name and user_name='DBA' order by pp.proc_id, parm_id",
      "select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name=:proc_name "
      "and user_name='DBA' ",
      "select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and "
      "proc_name='vp_alert_send'",
      "select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
      "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
      "creator=user_id and (table_type='BASE' or table_type='VIEW') and creator=1 order by 3,4",
      "select null, null, user_name, user_name+'.'+proc_name, 1, 0, 0 from sys.sysprocedure, sys.sysuserperms "
      "where creator=user_id order by 3,4",
      "select null, null, user_name, table_name, column_name, column_id, 8, sc.domain_id as data_type, "
      "sd.domain_name as type_name, (if sc.domain_id=10 then 22 else (if sc.domain_id=12 then 23 else 0 endif) "
      "endif) as sub_type, sc.width as data_length, sc.width as data_prec, sc.scale as data_scale, (if "
      "sc.nulls='Y' then 1 else 0 endif) as data_nullable from sys.systable st, sys.syscolumn sc, sysdomain sd, "
      "sys.sysuserperms sp where st.table_id=sc.table_id and sc.domain_id=sd.domain_id and st.creator=user_id "
      "and st.table_name='orders' order by 6",
      "select null, null, user_name, proc_name, parm_name, parm_id, (if (parm_mode_in='Y' and parm_mode_out='N' "
      "and parm_type=0) then 1 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=0) then 2 else (if "
      "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and "
      "parm_mode_out='Y' and parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, pp.domain_id "
      "as data_type, (if pp.domain_id=10 then 22 else (if pp.domain_id=12 then 23 else 0 endif) endif) as "
      "sub_type, sd.domain_name as type_name, pp.width as data_length, pp.width as data_prec, pp.scale as "
      "data_scale, 1 as data_nullable from sys.sysprocedure sp, sys.sysprocparm pp, sysdomain sd, "
      "sys.sysuserperms up where sp.proc_id=pp.proc_id and pp.domain_id=sd.domain_id and sp.creator=user_id and "
      "proc_name='p' order by 6",
      "select null, null, user_name, table_name, index_name, column_name, sequence, null, (if \"unique\"='N' then "
      "1 else (if \"unique\"='Y' then 2 else (if \"unique\"='U' then 2 else 0 endif) endif) endif) as index_type, "
      "(if \"order\"='D' then 'd' else 'a' endif) as sort_order, null from sys.systable st, sys.sysindex si, "
      "sys.sysixcol sx, sys.syscolumn sc, sys.sysuserperms sp where st.table_id=si.table_id and "
      "si.table_id=sx.table_id and si.index_id=sx.index_id and sc.table_id=sx.table_id and "
      "sx.column_id=sc.column_id and si.creator=user_id and st.table_name='orders' order by 5,7",
  };
  TCatalogDb Db;
  for (const char* Text : Texts) {
    std::string Sql = Translated(Text);
    EXPECT_EQ(Db.PrepareError(Sql), "") << Text << "\n=> " << Sql;
  }
}

TEST(DialectTranslator, ServerDdlRunsInSqliteAndKeepsDeclaredTypes) {
  const char* Texts[] = {
      "create table orders (id integer default autoincrement primary key, note long varchar, pic long binary, "
      "qty unsigned int, price numeric(10,2), flag bit not null default 0, made timestamp default current "
      "timestamp, \"order\" char(1), who varchar(20) default upper('dba'))",
      "create unique index ix_orders on orders (qty desc, \"order\")",
      "create view v_orders as select id, (if flag = 1 then 'on' else 'off' endif) + '!' as state from orders",
      "insert into orders (note, qty, flag) values ('a' + 'b', 2, 1)",
  };
  TCatalogDb Db;
  for (const char* Text : Texts) Db.Exec(Translated(Text).c_str());
  EXPECT_EQ(Db.FirstRow("select id, note, state, who, made is not null from orders join v_orders using (id)"),
            "1|ab|on!|DBA|1");
  EXPECT_EQ(Db.FirstRow("select type from pragma_table_info('orders') where name in ('note', 'price') order by cid"),
            "long varchar");
}

TEST(DialectTranslator, TranslatedCatalogTextsComputeTheServersValues) {
  TCatalogDb Db;
  EXPECT_EQ(Db.FirstRow(Translated(
                "select user_name+'.'+table_name, (if table_type='BASE' then 1 else (if table_type='VIEW' then 2 "
                "else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where creator=user_id and "
                "table_type='VIEW'")),
            "DBA.v_orders|2");
  TDialectHooks Hooks;
  Hooks.IsStringName = [](std::string_view, std::string_view N) { return N == "name"; };
  EXPECT_EQ(Db.FirstRow(Translated("select name + ' (' + age + ')', age + 1, 2 * age + 'y' from people", Hooks)),
            "Ann (30)|31|60y");
}

}  // namespace
