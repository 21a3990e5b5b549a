#include <gtest/gtest.h>

#include "CatalogFixture.h"
#include "dbsrv/Catalog.h"
#include "dbsrv/CatalogViews.h"
#include "dbsrv/DialectStatement.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ProcCatalog.h"

using namespace vdbsrv;
using vdbsrv_test::TCatalogFixture;
using Rows = std::vector<std::string>;

namespace {

constexpr const char* kSchema = R"(
create table customer (id integer primary key, name varchar(40) not null, note long varchar,
                       photo long binary, limit_amt numeric(10,2) default 0);
create table orders (id integer not null, line smallint not null, cust integer references customer(id),
                     placed timestamp default current timestamp, "order" char(1),
                     primary key (id, line), unique (cust, placed));
create index ix_orders_placed on orders (placed desc, "order");
create view v_orders as select id, cust from orders;
create procedure p_orders(in cust integer, inout total numeric(12,2), out cnt integer)
  result (id integer, placed timestamp)
begin
  select id, placed from orders where orders.cust = cust;
end;
create function f_tax(amount double) returns double
begin
  return amount * 0.2;
end;
)";

struct TSystemText {
  const char* Text;
  std::map<std::string, std::string> Hosts;
  Rows Expected;
};

// Every catalog text the components send, as they send it (with their %s
// places filled in), against a schema that exercises each column they read.
TEST(CatalogViews, SystemTextsReturnTheCatalogRows) {
  const Rows AllProcs = {"f_tax", "p_orders", "vp_alert_clear", "vp_alert_receive", "vp_alert_send",
                         "vp_alert_stop", "vp_alert_subscribe", "vp_alert_unsubscribe"};
  // Every owner's tables: the server's own belong to SYS.
  const Rows OwnerTables = {"DBA|customer",         "DBA|orders",         "SYS|vdbsys_info",  "SYS|vdbsys_object",
                            "SYS|vdbsys_procedure", "SYS|vdbsys_procparm", "SYS|vdbsys_user"};
  Rows OwnedProcs, MetaProcs;
  for (const std::string& P : AllProcs) {
    OwnedProcs.push_back("DBA|" + P);
    MetaProcs.push_back("NULL|NULL|DBA|DBA." + P + "|1|0|0");
  }
  const TSystemText Cases[] = {
      {"select user_name, table_name from sys.systable, sys.sysuserperms where creator=user_id and "
       "table_type='BASE' and creator=1 order by 1,2",
       {},
       {"DBA|customer", "DBA|orders"}},
      {"select user_name, table_name from sys.systable, sys.sysuserperms where creator=user_id and "
       "table_type='BASE' order by 1,2",
       {},
       OwnerTables},
      {"select user_name, proc_name from sys.sysprocedure, sys.sysuserperms where creator=user_id order by 1,2",
       {},
       OwnedProcs},
      {"select column_name from sys.systable st, sys.syscolumn sc, sys.sysuserperms up where "
       "st.table_id=sc.table_id and creator=user_id and table_name=:table_name and user_name=:user_name order by "
       "column_id",
       {{"table_name", "orders"}, {"user_name", "DBA"}},
       {"id", "line", "cust", "placed", "order"}},
      {"select column_name from sys.systable st, sys.syscolumn sc, sys.sysuserperms up where "
       "st.table_id=sc.table_id and creator=user_id and table_name=:table_name order by column_id",
       {{"table_name", "v_orders"}},
       {"id", "cust"}},
      {"select column_name from sys.syscolumn, sys.systable where (sys.systable.table_id=sys.syscolumn.table_id) and "
       "(sys.systable.table_name=:table_name) and (pkey='Y')",
       {{"table_name", "orders"}},
       {"id", "line"}},
      {"select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if "
       "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and "
       "parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and "
       "parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, domain_id as data_type from "
       "sys.sysprocedure pr, sys.sysprocparm pp, sys.sysuserperms up where pr.proc_id=pp.proc_id and "
       "creator=user_id and proc_name=:proc_name and user_name='DBA' order by pp.proc_id, parm_id",
       {{"proc_name", "p_orders"}},
       {"cust|1|2", "total|2|3", "cnt|3|2", "id|0|2", "placed|0|13"}},
      {"select parm_name, (if (parm_mode_in='Y' and parm_mode_out='N' and parm_type=0) then 1 else (if "
       "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 2 else (if (parm_mode_in='N' and "
       "parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and parm_mode_out='Y' and "
       "parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, domain_id as data_type from "
       "sys.sysprocedure pr, sys.sysprocparm pp, sys.sysuserperms up where pr.proc_id=pp.proc_id and "
       "creator=user_id and proc_name=:proc_name order by pp.proc_id, parm_id",
       {{"proc_name", "f_tax"}},
       {"amount|1|5", "f_tax|4|5"}},
      {"select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name=:proc_name",
       {{"proc_name", "p_orders"}},
       {"create procedure p_orders(in cust integer, inout total numeric(12,2), out cnt integer)\n"
        "  result (id integer, placed timestamp)\nbegin\n  select id, placed from orders where orders.cust = cust;\n"
        "end"}},
      {"select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name=:proc_name "
       "and user_name='' ",
       {{"proc_name", "f_tax"}},
       {}},
      {"select proc_defn from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name=:proc_name "
       "and user_name='DBA' ",
       {{"proc_name", "f_tax"}},
       {"create function f_tax(amount double) returns double\nbegin\n  return amount * 0.2;\nend"}},
      {"select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and "
       "proc_name='vp_alert_send'",
       {},
       {"DBA"}},
      {"select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and "
       "proc_name='no_such_proc'",
       {},
       {}},
      {"select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
       "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
       "creator=user_id and (table_type='BASE' or table_type='VIEW') and creator=1 order by 3,4",
       {},
       {"NULL|NULL|DBA|DBA.customer|1", "NULL|NULL|DBA|DBA.orders|1", "NULL|NULL|DBA|DBA.v_orders|2"}},
      {"select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
       "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
       "creator=user_id and (table_type='BASE' or table_type='') and creator=1 order by 3,4",
       {},
       {"NULL|NULL|DBA|DBA.customer|1", "NULL|NULL|DBA|DBA.orders|1"}},
      {"select null, null, user_name, user_name+'.'+table_name, (if table_type='BASE' then 1 else (if "
       "table_type='VIEW' then 2 else 1 endif) endif) as tab_type from sys.systable, sys.sysuserperms where "
       "creator=user_id and (table_type='' or table_type='VIEW')  order by 3,4",
       {},
       {"NULL|NULL|DBA|DBA.v_orders|2"}},
      {"select null, null, user_name, user_name+'.'+proc_name, 1, 0, 0 from sys.sysprocedure, sys.sysuserperms "
       "where creator=user_id order by 3,4",
       {},
       MetaProcs},
      {"select null, null, user_name, table_name, column_name, column_id, 8, sc.domain_id as data_type, "
       "sd.domain_name as type_name, (if sc.domain_id=10 then 22 else (if sc.domain_id=12 then 23 else 0 endif) "
       "endif) as sub_type, sc.width as data_length, sc.width as data_prec, sc.scale as data_scale, (if "
       "sc.nulls='Y' then 1 else 0 endif) as data_nullable from sys.systable st, sys.syscolumn sc, sysdomain sd, "
       "sys.sysuserperms sp where st.table_id=sc.table_id and sc.domain_id=sd.domain_id and st.creator=user_id "
       "and st.table_name='customer' order by 6",
       {},
       {"NULL|NULL|DBA|customer|id|1|8|2|integer|0|4|4|0|0",
        "NULL|NULL|DBA|customer|name|2|8|9|varchar|0|40|40|0|0",
        "NULL|NULL|DBA|customer|note|3|8|10|long varchar|22|32767|32767|0|1",
        "NULL|NULL|DBA|customer|photo|4|8|12|long binary|23|32767|32767|0|1",
        "NULL|NULL|DBA|customer|limit_amt|5|8|3|numeric|0|10|10|2|1"}},
      {"select null, null, user_name, proc_name, parm_name, parm_id, (if (parm_mode_in='Y' and parm_mode_out='N' "
       "and parm_type=0) then 1 else (if (parm_mode_in='N' and parm_mode_out='Y' and parm_type=0) then 2 else (if "
       "(parm_mode_in='Y' and parm_mode_out='Y' and parm_type=0) then 3 else (if (parm_mode_in='N' and "
       "parm_mode_out='Y' and parm_type=4) then 4 else 0 endif) endif) endif) endif) as parm_type, pp.domain_id "
       "as data_type, (if pp.domain_id=10 then 22 else (if pp.domain_id=12 then 23 else 0 endif) endif) as "
       "sub_type, sd.domain_name as type_name, pp.width as data_length, pp.width as data_prec, pp.scale as "
       "data_scale, 1 as data_nullable from sys.sysprocedure sp, sys.sysprocparm pp, sysdomain sd, "
       "sys.sysuserperms up where sp.proc_id=pp.proc_id and pp.domain_id=sd.domain_id and sp.creator=user_id and "
       "proc_name='p_orders' order by 6",
       {},
       {"NULL|NULL|DBA|p_orders|cust|1|1|2|0|integer|4|4|0|1",
        "NULL|NULL|DBA|p_orders|total|2|3|3|0|numeric|12|12|2|1",
        "NULL|NULL|DBA|p_orders|cnt|3|2|2|0|integer|4|4|0|1",
        "NULL|NULL|DBA|p_orders|id|4|0|2|0|integer|4|4|0|1",
        "NULL|NULL|DBA|p_orders|placed|5|0|13|0|timestamp|8|8|0|1"}},
      {"select null, null, user_name, table_name, index_name, column_name, sequence, null, (if \"unique\"='N' then "
       "1 else (if \"unique\"='Y' then 2 else (if \"unique\"='U' then 2 else 0 endif) endif) endif) as index_type, "
       "(if \"order\"='D' then 'd' else 'a' endif) as sort_order, null from sys.systable st, sys.sysindex si, "
       "sys.sysixcol sx, sys.syscolumn sc, sys.sysuserperms sp where st.table_id=si.table_id and "
       "si.table_id=sx.table_id and si.index_id=sx.index_id and sc.table_id=sx.table_id and "
       "sx.column_id=sc.column_id and si.creator=user_id and st.table_name='orders' order by 5,7",
       {},
       {"NULL|NULL|DBA|orders|ix_orders_placed|placed|0|NULL|1|d|NULL",
        "NULL|NULL|DBA|orders|ix_orders_placed|order|1|NULL|1|a|NULL",
        "NULL|NULL|DBA|orders|sqlite_autoindex_orders_2|cust|0|NULL|2|a|NULL",
        "NULL|NULL|DBA|orders|sqlite_autoindex_orders_2|placed|1|NULL|2|a|NULL"}},
      {"select null, null, user_name, table_name, column_name from sys.systable st, sys.syscolumn sc, "
       "sys.sysuserperms sp where st.table_id=sc.table_id and st.creator=user_id and st.table_name='nothing'",
       {},
       {}},
  };
  TCatalogFixture Db;
  Db.Exec(kSchema);
  for (const TSystemText& C : Cases) EXPECT_EQ(Db.Rows(C.Text, C.Hosts), C.Expected) << C.Text;
}

TEST(CatalogViews, FollowSchemaChangesAtOnceOnEveryHandle) {
  TCatalogFixture Db;
  Db.Exec("create table t (a integer);");
  const std::string Columns =
      "select column_name from sys.systable st, sys.syscolumn sc where st.table_id=sc.table_id and "
      "table_name='t' order by column_id";
  EXPECT_EQ(Db.Rows(Columns), (Rows{"a"}));
  Db.Exec("alter table t add column b varchar(5) not null default 'x'; create unique index ux on t (b);");
  EXPECT_EQ(Db.Rows(Columns), (Rows{"a", "b"}));
  EXPECT_EQ(Db.Rows("select width, nulls, pkey, \"default\" from syscolumn where column_name='b'"),
            (Rows{"5|N|N|'x'"}));
  EXPECT_EQ(Db.Rows("select index_name, \"unique\" from sysindex si, systable st where si.table_id=st.table_id "
                    "and table_name='t'"),
            (Rows{"ux|Y"}));
  Db.Exec("drop table t;");
  EXPECT_EQ(Db.Rows(Columns), Rows{});
  EXPECT_EQ(Db.Rows("select count(*) from sys.sysindex where index_name='ux'"), (Rows{"0"}));
}

namespace {

int64_t CountOf(sqlite3* Db, const std::string& Sql) {
  sqlite3_stmt* St = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(Db, Sql.c_str(), -1, &St, nullptr), SQLITE_OK) << Sql << ": " << sqlite3_errmsg(Db);
  int64_t N = -1;
  if (St && sqlite3_step(St) == SQLITE_ROW) N = sqlite3_column_int64(St, 0);
  sqlite3_finalize(St);
  return N;
}

// The catalog views a handle makes for itself; none when the file holds them.
int64_t TempViews(sqlite3* Db) { return CountOf(Db, "select count(*) from sqlite_temp_schema where type='view'"); }

const char* const kColumnsOfT =
    "select column_name from sys.systable st, sys.syscolumn sc where st.table_id=sc.table_id and "
    "table_name='t' order by column_id";

}  // namespace

// A started database keeps the catalog views in its file, so a connection
// only reads them with the schema; the catalog lists them nowhere.
TEST(CatalogViews, StoredInTheFileWhenTheDatabaseStarts) {
  TCatalogFixture Db;
  Db.Exec("create table t (a integer, b varchar(3));");
  EXPECT_EQ(TempViews(Db.Handle()), 0);
  EXPECT_EQ(CountOf(Db.Handle(), "select count(*) from main.sqlite_schema where type='view' and name like 'sys_sys%'"),
            8);
  EXPECT_EQ(Db.Rows(kColumnsOfT), (Rows{"a", "b"}));
  EXPECT_EQ(Db.Rows("select count(*) from sys.systable where table_name like 'sys%'"), (Rows{"0"}));
  // Starting it again finds them current and commits nothing.
  const int64_t Version = CountOf(Db.Handle(), "pragma data_version");
  { Database Again(Db.File(), "cat2", "eng", "7.0", false); }
  EXPECT_EQ(CountOf(Db.Handle(), "pragma data_version"), Version);
}

// A file holding other definitions (an older build's, or a view replaced by
// hand) still answers every catalog query: its handles make their own views
// until the next start replaces the stored ones.
TEST(CatalogViews, StaleStoredViewsAreShadowedThenReplaced) {
  TCatalogFixture Db;
  Db.Exec("create table t (a integer, b varchar(3));");
  ASSERT_EQ(sqlite3_exec(Db.Handle(),
                         "drop view sys_syscolumn; create view sys_syscolumn as select 1 as table_id, 'stale' as "
                         "column_name, 1 as column_id; update vdbsys_info set value='older' where name='catalog_views'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const char* const Columns =
      "select group_concat(column_name, ',') from (select column_name from sys_systable st, sys_syscolumn sc "
      "where st.table_id=sc.table_id and table_name='t' order by column_id)";
  for (bool ReadOnly : {false, true}) {
    sqlite3* H = Db.Started().OpenHandle(ReadOnly);
    EXPECT_EQ(TempViews(H), 8) << ReadOnly;
    sqlite3_stmt* St = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(H, Columns, -1, &St, nullptr), SQLITE_OK) << sqlite3_errmsg(H);
    ASSERT_EQ(sqlite3_step(St), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(St, 0)), "a,b") << ReadOnly;
    sqlite3_finalize(St);
    sqlite3_close_v2(H);
  }
  { Database Restarted(Db.File(), "cat2", "eng", "7.0", false); }
  sqlite3* H = Db.Started().OpenHandle(false);
  EXPECT_EQ(TempViews(H), 0);
  EXPECT_EQ(CountOf(H, "select count(*) from sys_syscolumn where column_name='stale'"), 0);
  sqlite3_close_v2(H);
  EXPECT_EQ(Db.Rows(kColumnsOfT), (Rows{"a", "b"}));
}

TEST(CatalogViews, UsersAndCreators) {
  TCatalogFixture Db;
  Db.Exec("create table mine (a integer); create table theirs (a integer);");
  RecordCreator(Db.Handle(), "theirs", 2);
  EXPECT_EQ(Db.Rows("select user_id, user_name from sys.sysuserperms order by 1"),
            (Rows{"0|SYS", "1|DBA", "2|PUBLIC"}));
  EXPECT_EQ(Db.Rows("select table_name, creator from systable where table_name in ('mine','theirs', "
                    "'vdbsys_user') order by 1"),
            (Rows{"mine|1", "theirs|2", "vdbsys_user|0"}));
}

TEST(CatalogViews, DomainsOfDeclaredTypes) {
  struct TCase {
    const char* Type;
    int32_t Domain, Width, Scale;
  } Cases[] = {
      {"smallint", 1, 2, 0},          {"INTEGER", 2, 4, 0},         {"numeric(10,2)", 3, 10, 2},
      {"numeric", 3, 30, 6},          {"decimal(5)", 27, 5, 0},     {"float", 4, 4, 0},
      {"double", 5, 8, 0},            {"date", 6, 4, 0},            {"char(8)", 7, 8, 0},
      {"varchar(40)", 9, 40, 0},      {"long  varchar", 10, 32767, 0}, {"binary(16)", 11, 16, 0},
      {"long binary", 12, 32767, 0},  {"timestamp", 13, 8, 0},      {"time", 14, 8, 0},
      {"tinyint", 19, 1, 0},          {"bigint", 20, 8, 0},         {"unsigned int", 21, 4, 0},
      {"unsigned smallint", 22, 2, 0}, {"unsigned bigint", 23, 8, 0}, {"bit", 24, 1, 0},
      {"varbinary(300)", 28, 300, 0}, {"", 12, 32767, 0},           {"nvarchar(12)", 9, 12, 0},
      {"mediumint", 2, 4, 0},         {"text", 10, 32767, 0},       {"varchar(99999999999999)", 9, 1000000000, 0},
  };
  for (const TCase& C : Cases) {
    TDomainInfo D = DomainOf(C.Type);
    EXPECT_EQ(D.DomainId, C.Domain) << C.Type;
    EXPECT_EQ(D.Width, C.Width) << C.Type;
    EXPECT_EQ(D.Scale, C.Scale) << C.Type;
  }
  TCatalogFixture Db;
  EXPECT_EQ(Db.Rows("select domain_name from sysdomain where domain_id in (7, 13, 28) order by domain_id"),
            (Rows{"char", "timestamp", "varbinary"}));
}

}  // namespace

namespace {

std::shared_ptr<const TProcDefinition> Parsed(const char* Text) {
  TDialectResult R = ParseStatement(Text);
  EXPECT_TRUE(R.Ok) << Text << ": " << R.Error.Message;
  return R.Statement.Procedure;
}

TEST(ProcCatalog, StoreReplaceFindAndRemove) {
  TCatalogFixture Db;
  sqlite3* H = Db.Handle();
  StoreProcedure(H, *Parsed("create procedure p(in a integer) begin return a end"), 1);
  try {
    StoreProcedure(H, *Parsed("create procedure p(in b integer) begin return b end"), 1);
    ADD_FAILURE() << "a second p was stored";
  } catch (const ServerError& E) {
    EXPECT_EQ(E.Code(), errItemExists);
  }
  StoreProcedure(H, *Parsed("create or replace procedure p(out c varchar(3), inout d bit) begin return 1 end"), 1);
  EXPECT_EQ(Db.Rows("select parm_name, parm_mode_in, parm_mode_out, width from sysprocparm pp, sysprocedure pr "
                    "where pp.proc_id=pr.proc_id and proc_name='p' order by parm_id"),
            (Rows{"c|N|Y|3", "d|Y|Y|1"}));
  EXPECT_EQ(Db.Rows("select count(*) from sysprocedure where proc_name='p'"), (Rows{"1"}));

  // PUBLIC's own procedure hides DBA's of the same name from PUBLIC only.
  StoreProcedure(H, *Parsed("create procedure p() begin return 2 end"), kPublicUserId);
  TStoredProcedure Found;
  ASSERT_TRUE(FindProcedure(H, "", "P", kPublicUserId, Found));
  EXPECT_EQ(Found.OwnerName, "PUBLIC");
  ASSERT_TRUE(FindProcedure(H, "dba", "p", kPublicUserId, Found));
  EXPECT_EQ(Found.Creator, kDbaUserId);
  ASSERT_TRUE(FindProcedure(H, "", "vp_alert_receive", kPublicUserId, Found));
  EXPECT_EQ(Found.OwnerName, "DBA");
  EXPECT_FALSE(FindProcedure(H, "nobody", "p", kDbaUserId, Found));

  EXPECT_TRUE(RemoveProcedure(H, "", "p", kDbaUserId));
  EXPECT_FALSE(RemoveProcedure(H, "", "p", kDbaUserId));
  EXPECT_EQ(Db.Rows("select count(*) from sysprocparm pp where not exists (select 1 from sysprocedure pr "
                    "where pr.proc_id=pp.proc_id)"),
            (Rows{"0"}));
  EXPECT_EQ(Db.Rows("select user_name from sysprocedure, sysuserperms where creator=user_id and proc_name='p'"),
            (Rows{"PUBLIC"}));
}

TEST(ProcCatalog, AlertProceduresAreDbasWithTheirParameters) {
  TCatalogFixture Db;
  EXPECT_EQ(Db.Rows("select parm_name, parm_mode_in || parm_mode_out, domain_id from sysprocparm pp, sysprocedure "
                    "pr where pp.proc_id=pr.proc_id and proc_name='vp_alert_receive' order by parm_id"),
            (Rows{"handle|YN|2", "timeout|YN|2", "msg_name|NY|10", "msg|NY|10", "msg_param|NY|2"}));
  EXPECT_TRUE(IsBuiltinProcedure("VP_ALERT_STOP"));
  EXPECT_FALSE(IsBuiltinProcedure("vp_alert"));
}

}  // namespace
