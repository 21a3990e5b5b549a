#include <gtest/gtest.h>

#include "CatalogFixture.h"
#include "dbsrv/Catalog.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ProcInterp.h"

using namespace vdbsrv;
using vdbsrv_test::TCatalogFixture;

namespace {

std::string Show(const OwnedValue& V) {
  switch (V.kind) {
    case svNull: return "NULL";
    case svInteger: return std::to_string(V.i);
    case svDouble: return std::to_string(V.d);
    default: return V.bytes;
  }
}

TProcArg Int(int64_t V) { return {"", OwnedValue(SqlValue::Integer(V))}; }
TProcArg Str(const std::string& V) { return {"", OwnedValue(SqlValue::Text(V))}; }

constexpr const char* kProcs = R"(
create table item (id integer primary key, name varchar(20), qty integer);
insert into item values (1, 'bolt', 5), (2, 'nut', 7), (3, 'gear', 1);
create procedure p_stock(in lo integer, inout tag varchar(40), out total integer, in step integer default 2)
begin
  declare i integer default 0;
  declare n integer;
  select sum(qty), count(*) into total, n from item where qty >= lo;
  set tag = tag || ':' || n;
  while i < 3 loop
    set i = i + step;
  end loop;
  if total > 10 then
    message 'big ' || total to client;
  elseif total > 0 then
    message 'small' to client;
  else
    set tag = 'none';
  end if;
  select name from item where qty >= lo order by id;
  select count(*) as c from item;
  update item set qty = qty + i where id = 3;
  return i;
end;
create procedure p_outer(in lo integer)
begin
  declare t varchar(40) default 'o';
  declare s integer;
  call p_stock(lo, t, s);
  return s + length(t);
end;
create procedure p_loop(in n integer)
begin
  call p_loop(n + 1);
end;
create procedure p_fail()
begin
  insert into item values (1, 'dup', 0);
end;
)";

TEST(ProcInterp, ParametersBodyResultSetsAndMessages) {
  TCatalogFixture Db;
  Db.Exec(kProcs);
  TProcInterpreter In(Db.Handle(), kDbaUserId);
  std::vector<std::string> Messages;
  In.OnMessage = [&](MessageType, std::string_view T) { Messages.emplace_back(T); };

  TProcCallResult R = In.Call("", "p_stock", {Int(2), Str("t")});
  EXPECT_EQ(Show(R.ReturnValue), "4");  // 0, 2, 4 with the default step
  ASSERT_EQ(R.Params.size(), 4u);
  EXPECT_EQ(Show(R.Params[1]), "t:2");
  EXPECT_EQ(Show(R.Params[2]), "12");
  EXPECT_EQ(Messages, (std::vector<std::string>{"big 12"}));
  ASSERT_EQ(R.ResultSets.size(), 2u);
  EXPECT_EQ(R.ResultSets[0].Columns, (std::vector<std::string>{"name"}));
  ASSERT_EQ(R.ResultSets[0].Rows.size(), 2u);
  EXPECT_EQ(Show(R.ResultSets[0].Rows[1][0]), "nut");
  EXPECT_EQ(Show(R.ResultSets[1].Rows[0][0]), "3");
  EXPECT_EQ(Db.Rows("select qty from item where id = 3"), (std::vector<std::string>{"5"}));

  // Named argument for the default, the ELSEIF branch and the other loop step.
  Messages.clear();
  R = In.Call("dba", "p_stock", {Int(6), Str("x"), {"step", OwnedValue(SqlValue::Integer(5))}});
  EXPECT_EQ(Show(R.ReturnValue), "5");
  EXPECT_EQ(Show(R.Params[1]), "x:1");
  EXPECT_EQ(Messages, (std::vector<std::string>{"small"}));

  // No row: SUM gives NULL, so neither branch of the comparison holds.
  R = In.Call("", "p_stock", {Int(100), Str("y")});
  EXPECT_EQ(Show(R.Params[1]), "none");
  EXPECT_EQ(Show(R.Params[2]), "NULL");
}

TEST(ProcInterp, NestedCallsPassOutValuesBack) {
  TCatalogFixture Db;
  Db.Exec(kProcs);
  TProcInterpreter In(Db.Handle(), kDbaUserId);
  TProcCallResult R = In.Call("", "p_outer", {Int(2)});
  EXPECT_EQ(Show(R.ReturnValue), "15");  // total 12 + length('o:2')
  EXPECT_EQ(R.ResultSets.size(), 2u);    // the inner call's result sets are the caller's
}

TEST(ProcInterp, FailuresCarryTheServersCodes) {
  TCatalogFixture Db;
  Db.Exec(kProcs);
  TProcInterpreter In(Db.Handle(), kDbaUserId);
  struct TCase {
    const char* Name;
    std::vector<TProcArg> Args;
    int32_t Code;
  } Cases[] = {
      {"p_loop", {Int(0)}, errNestingTooDeep},
      {"p_fail", {}, errPrimaryKeyNotUnique},
      {"no_such", {}, errProcedureNotFound},
      {"p_stock", {}, errNotEnoughValues},
      {"p_stock", {Int(1), Str("a"), Int(3), Int(4), Int(5)}, errInvalidParameter},
  };
  for (const TCase& C : Cases) {
    try {
      In.Call("", C.Name, C.Args);
      ADD_FAILURE() << C.Name << " succeeded";
    } catch (const ServerError& E) {
      EXPECT_EQ(E.Code(), C.Code) << C.Name << ": " << E.what();
    }
  }
  EXPECT_EQ(Db.Rows("select name from item where id = 1"), (std::vector<std::string>{"bolt"}));
}

TEST(ProcInterp, ValuesTakeTheDeclaredTypes) {
  TCatalogFixture Db;
  Db.Exec(kProcs);
  Db.Exec(R"(
create procedure p_types(in n integer, in s varchar(10), out o integer, inout d double)
begin
  select typeof(n) || ' ' || typeof(s) as kinds, o as seen_out;
  set o = '7';
  set d = d / 4;
  select name, qty * 1.5 as half from item where id = 1;
end;
create function f_text(x integer) returns varchar(10) begin return x + 1 end;
)");
  TProcInterpreter In(Db.Handle(), kDbaUserId);
  TProcCallResult R = In.Call("", "p_types", {Str("12"), Int(5), Int(99), Str("10")});
  ASSERT_EQ(R.ResultSets.size(), 2u);
  // An OUT parameter starts NULL whatever the caller passes.
  EXPECT_EQ(Show(R.ResultSets[0].Rows[0][0]) + "/" + Show(R.ResultSets[0].Rows[0][1]), "integer text/NULL");
  EXPECT_EQ(R.Params[2].kind, svInteger);
  EXPECT_EQ(Show(R.Params[2]), "7");
  EXPECT_EQ(R.Params[3].kind, svDouble);
  EXPECT_DOUBLE_EQ(R.Params[3].d, 2.5);
  // Column types: declared columns keep theirs, expressions go by their values.
  const auto& Types = R.ResultSets[1].Types;
  ASSERT_EQ(Types.size(), 2u);
  EXPECT_EQ(Types[0].code, stVarchar);
  EXPECT_EQ(Types[0].length, 20);
  EXPECT_EQ(Types[1].code, stDouble);
  EXPECT_EQ(R.ResultSets[0].Types[0].code, stVarchar);

  R = In.Call("", "f_text", {Int(41)});
  EXPECT_EQ(R.ReturnValue.kind, svText);
  EXPECT_EQ(Show(R.ReturnValue), "42");

  try {
    In.Call("", "p_types", {Str("twelve"), Int(5)});
    ADD_FAILURE() << "a text that is no number went into an integer";
  } catch (const ServerError& E) {
    EXPECT_EQ(E.Code(), errConversion);
  }
}

TEST(ProcInterp, HooksCarryOutBuiltinsAndShareTheDepth) {
  TCatalogFixture Db;
  Db.Exec(kProcs);
  TProcInterpreter In(Db.Handle(), kDbaUserId);
  std::string Seen;
  In.OnBuiltin = [&](const TProcDefinition& Def, std::vector<OwnedValue>& Args, OwnedValue& Ret) {
    Seen = Def.Name + "(" + Show(Args[0]) + "," + Show(Args[1]) + ")";
    Args[2] = OwnedValue(SqlValue::Text("name"));
    Ret = OwnedValue(SqlValue::Integer(0));
  };
  TProcCallResult R = In.Call("dba", "vp_alert_receive", {Int(3), Str("250")});
  EXPECT_EQ(Seen, "vp_alert_receive(3,250)");
  EXPECT_EQ(Show(R.Params[2]), "name");
  EXPECT_EQ(Show(R.ReturnValue), "0");

  int Shared = TProcInterpreter::kMaxDepth;  // calls already running elsewhere
  In.SharedDepth = &Shared;
  try {
    In.Call("", "p_outer", {Int(2)});
    ADD_FAILURE() << "the shared depth was not counted";
  } catch (const ServerError& E) {
    EXPECT_EQ(E.Code(), errNestingTooDeep);
  }
  EXPECT_EQ(Shared, TProcInterpreter::kMaxDepth);
}

}  // namespace
