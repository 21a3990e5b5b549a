// TAsaSQL values: every host type written through parameters and read back
// from the fetch buffers, NULLs, strings at the variable length, changes of
// current-row values, and the date-time structure at its edges.
#include <cmath>

#include "AsaSqlFixture.h"
#include "rtl/DateUtils.h"

namespace asatest {
namespace {

using vcl::Variant;

vcl::TDateTime At(uint16_t Y, uint16_t M, uint16_t D, uint16_t H = 0, uint16_t N = 0, uint16_t S = 0,
                  uint16_t Ms = 0) {
  return vcl::ComposeDateTime(vcl::EncodeDate(Y, M, D), vcl::EncodeTime(H, N, S, Ms));
}

Variant Bytes(std::initializer_list<uint8_t> B) { return vcl::VarArrayFromBytes(std::data(B), B.size()); }

// A value for messages; byte arrays have no text form.
std::string Show(const Variant& V) {
  if (!vcl::VarIsArray(V)) return vcl::VarToStr(V);
  std::string S = "bytes";
  for (uint8_t B : vcl::VarArrayBytes(V)) S += " " + std::to_string(B);
  return S;
}

struct TRoundTrip {
  const char* Declared;
  Variant In;
  Variant Out;  // Empty: the same as In
  // The host variable the value is bound as.
  vdb::TVantorFieldTypes FieldType;
  int32_t ExtType;
  int32_t Size;
};

TEST_F(AsaSqlTest, EveryHostTypeRoundTripsThroughParametersAndFetch) {
  const TRoundTrip Cases[] = {
      {"varchar(40)", Variant("text with 'quotes'"), {}, vdb::vtString, DT_STRING, 8193},
      {"varchar(40)", Variant(""), {}, vdb::vtString, DT_STRING, 8193},
      {"int", Variant(int32_t{-123456}), {}, vdb::vtInteger, DT_INT, 4},
      {"smallint", Variant(int16_t{-7}), Variant(int32_t{-7}), vdb::vtInteger, DT_INT, 4},
      {"bigint", Variant(static_cast<long long>(1) << 40), {}, vdb::vtInt64, DT_BIGINT, 8},
      {"unsigned int", Variant(uint32_t{4000000000u}), Variant(static_cast<int32_t>(4000000000u)), vdb::vtFloat,
       DT_DOUBLE, 8},
      {"double", Variant(2.5e-3), {}, vdb::vtFloat, DT_DOUBLE, 8},
      {"decimal(19,4)", Variant(vcl::Currency::FromDouble(1234.5678)), Variant(1234.5678), vdb::vtCurrency, DT_DOUBLE,
       8},
      {"decimal(15,2)", Variant(17.25), {}, vdb::vtFloat, DT_DOUBLE, 8},
      {"timestamp", Variant(At(2024, 2, 29, 13, 45, 30, 250)), {}, vdb::vtDateTime, DT_TIMESTAMP_STRUCT, 14},
      {"timestamp", Variant(At(1850, 6, 1, 6, 0, 0)), {}, vdb::vtDateTime, DT_TIMESTAMP_STRUCT, 14},
      {"date", Variant(At(2001, 12, 31)), {}, vdb::vtDateTime, DT_TIMESTAMP_STRUCT, 14},
      {"time", Variant(vcl::TDateTime(vcl::EncodeTime(10, 30, 0, 0))), {}, vdb::vtDateTime, DT_TIMESTAMP_STRUCT, 14},
      {"bit", Variant(true), {}, vdb::vtBoolean, DT_BIT, 1},
      {"bit", Variant(false), {}, vdb::vtBoolean, DT_BIT, 1},
      {"binary(10)", Bytes({1, 0, 2}), {}, vdb::vtBinary, DT_BINARY, 32767},
  };
  for (size_t I = 0; I < std::size(Cases); ++I) {
    const TRoundTrip& C = Cases[I];
    SCOPED_TRACE(std::string(C.Declared) + " " + Show(C.In));
    const std::string Table = "t" + std::to_string(I);
    Run("create table " + Table + " (v " + C.Declared + ")");
    auto& Q = NewSQL();
    ASSERT_TRUE(Q.Execute("insert into " + Table + " values (?)", {C.In}));
    EXPECT_EQ(1, Q.RowsProcessed());
    const vdb::TVantorFieldDef* Var = Q.ExecVars()->Items(0);
    EXPECT_EQ(C.FieldType, Var->FieldType);
    EXPECT_EQ(C.ExtType, Var->ExtType);
    EXPECT_EQ(C.Size, Var->Size);
    ASSERT_TRUE(Q.OpenRead("select v from " + Table, {}));
    EXPECT_FALSE(Q.IsFieldNull(0));
    const Variant Got = Q.GetFieldValue(0);
    const Variant& Want = vcl::VarIsEmpty(C.Out) ? C.In : C.Out;
    if (vcl::VarType(Want) == vcl::varDate || vcl::VarType(Want) == vcl::varDouble)
      EXPECT_NEAR(Want.AsDouble(), Got.AsDouble(), 1e-9) << Show(Got);
    else
      EXPECT_TRUE(Want == Got) << Show(Got);
    EXPECT_EQ(vcl::VarType(Want), vcl::VarType(Got));
  }
}

TEST_F(AsaSqlTest, NullParametersAndSurplusVariablesAreNull) {
  Run("create table t (a int, b varchar(10), c int)");
  auto& Q = NewSQL();
  // A Null value and two variables without any value.
  ASSERT_TRUE(Q.Execute("insert into t values (?, ?, ?)", {vcl::Null(), Variant("x")}));
  ASSERT_TRUE(Q.Execute("insert into t values (?, ?, ?)", {Variant(1)}));
  ASSERT_TRUE(Q.OpenRead("select a, b, c from t order by b desc", {}));
  EXPECT_TRUE(Q.IsFieldNull(0));
  EXPECT_EQ("x", Q.GetFieldValue(1).AsString());
  EXPECT_TRUE(Q.IsFieldNull(2));
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(1, Q.GetFieldValue(0).AsInteger());
  EXPECT_TRUE(Q.IsFieldNull(1));
  EXPECT_TRUE(Q.IsFieldNull(2));
}

TEST_F(AsaSqlTest, StringsUpToTheVariableLengthBindAsStrings) {
  Run("create table t (v long varchar)");
  auto& Q = NewSQL();
  const std::string Long(8192, 'x');
  ASSERT_TRUE(Q.Execute("insert into t values (?)", {Variant(Long)}));
  EXPECT_EQ(vdb::vtString, Q.ExecVars()->Items(0)->FieldType);
  EXPECT_EQ(8193, Q.ExecVars()->Items(0)->Size);
  EXPECT_EQ(static_cast<int64_t>(Long.size()), Value("select length(v) from t").AsInt64());
}

TEST_F(AsaSqlTest, PreparedExecutionKeepsItsBindingWhileTheTypesStay) {
  Run("create table t (id int, name varchar(20))");
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.PrepareExecute("insert into t values (?, ?)"));
  ASSERT_TRUE(Q.ExecutePrepared({Variant(1), Variant("first")}));
  const vdb::TVantorFieldDef* Before = Q.ExecVars()->Items(0);
  ASSERT_TRUE(Q.ExecutePrepared({Variant(2), Variant("second")}));
  EXPECT_EQ(Before, Q.ExecVars()->Items(0));
  EXPECT_TRUE(Q.ExecVars()->Bound());
  // Another type rebuilds the variables and binds again.
  ASSERT_TRUE(Q.ExecutePrepared({Variant("3"), Variant(3.5)}));
  EXPECT_EQ(3, Value("select count(*) from t").AsInteger());
  EXPECT_EQ("3.5", Value("select name from t where id = 3").AsString());
}

TEST_F(AsaSqlTest, ExecuteReportsServerErrors) {
  Run("create table t (id int primary key)");
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("insert into t values (?)", {Variant(1)}));
  EXPECT_THROW(Q.Execute("insert into t values (?)", {Variant(1)}), vdb::EAsaException);
  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.ExecutePrepared({Variant(1)}));
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_TRUE(Q.ExecutePrepared({Variant(2)}));
  EXPECT_EQ(0, Q.LastErrorCode());
  EXPECT_EQ(2, Value("select count(*) from t").AsInteger());
}

TEST_F(AsaSqlTest, SelectIntoOutputVariables) {
  Run("create table t (id int, name varchar(20), born timestamp, pic binary(8))");
  Run("insert into t values (7, 'seven', '1999-12-31 23:59:58', x'0102')");
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("select name, born, pic, id + ? from t", {Variant(1)}));
  ASSERT_EQ(4, Q.OutVars()->Count());
  EXPECT_EQ("seven", Q.GetOutVar(0).AsString());
  EXPECT_EQ("seven", Q.GetOutVar("NAME").AsString());
  EXPECT_NEAR(At(1999, 12, 31, 23, 59, 58), Q.GetOutVar("born").AsDouble(), 1e-9);
  EXPECT_TRUE(Bytes({1, 2}) == Q.GetOutVar(2));
  EXPECT_EQ(8, Q.GetOutVar(3).AsInteger());
  EXPECT_THROW(Q.GetOutVar(4), vdb::EVantorException);
}

TEST_F(AsaSqlTest, CurrentRowValuesChangeInMemory) {
  Run("create table t (id int, name varchar(10), pic binary(4), at timestamp)");
  Run("insert into t values (1, 'abc', x'01', '2020-01-02 03:04:05')");
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenWrite("select id, name, pic, at from t", {}));
  EXPECT_FALSE(Q.IsDirty());
  Q.SetFieldValue("name", Variant("abc"));
  EXPECT_FALSE(Q.IsFieldDirty("name"));
  Q.SetFieldValue("name", Variant("a much longer text"));
  EXPECT_TRUE(Q.IsFieldDirty("name"));
  EXPECT_EQ("a much lon", Q.GetFieldValue("name").AsString());
  EXPECT_EQ("abc", Q.GetOldValue("name").AsString());
  Q.SetFieldValue("pic", Bytes({9, 8, 7, 6, 5}));
  EXPECT_TRUE(Bytes({9, 8, 7, 6}) == Q.GetFieldValue("pic"));
  Q.SetFieldValue("id", Variant("42"));
  EXPECT_EQ(42, Q.GetFieldValue("id").AsInteger());
  Q.SetFieldValue("at", Variant(At(2021, 5, 6, 7, 8, 9)));
  EXPECT_NEAR(At(2021, 5, 6, 7, 8, 9), Q.GetFieldValue("at").AsDouble(), 1e-9);
  Q.SetFieldValue("id", vcl::Null());
  EXPECT_TRUE(Q.IsFieldNull("id"));
}

// ---------------------------------------------------------------------------
// Date-time structure

SQLDATETIME Stamp(uint16_t Year, uint8_t Month, uint8_t Day, uint8_t Hour, uint8_t Minute, uint8_t Second,
                  uint32_t Microsecond = 0) {
  SQLDATETIME T{};
  T.year = Year;
  T.month = Month;
  T.day = Day;
  T.hour = Hour;
  T.minute = Minute;
  T.second = Second;
  T.microsecond = Microsecond;
  return T;
}

TEST(AsaTimeStamp, ReadsTheStructureAtItsEdges) {
  const double Time1030 = vcl::EncodeTime(10, 30, 0, 0);
  struct {
    SQLDATETIME In;
    double Out;
  } const Cases[] = {
      {Stamp(0, 0, 0, 10, 30, 0), Time1030},                              // a pure time
      {Stamp(2024, 12, 1, 10, 30, 0), Time1030},                          // month 12: time only
      {Stamp(2024, 0, 0, 10, 30, 0), Time1030},                           // day 0: time only
      {Stamp(2023, 1, 29, 0, 0, 0), 0},                                   // 29 February of a common year
      {Stamp(2024, 1, 29, 0, 0, 0), vcl::EncodeDate(2024, 2, 29)},        // of a leap year
      {Stamp(10000, 0, 1, 0, 0, 0), 0},                                   // past year 9999
      {Stamp(2024, 0, 1, 24, 0, 0), vcl::EncodeDate(2024, 1, 1)},         // hour 24: date only
      {Stamp(2024, 0, 1, 1, 2, 3, 456789), At(2024, 1, 1, 1, 2, 3, 456)},  // microseconds cut to ms
      // Before the epoch the day counts back, the time forward.
      {Stamp(1899, 11, 29, 6, 0, 0), -1.25},
      {Stamp(1899, 11, 30, 12, 0, 0), 0.5},
      {Stamp(1, 0, 1, 0, 0, 0), vcl::EncodeDate(1, 1, 1)},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::to_string(C.In.year) + "-" + std::to_string(C.In.month) + "-" + std::to_string(C.In.day) +
                 " " + std::to_string(C.In.hour));
    EXPECT_NEAR(C.Out, vdb::GetAsaTimeStamp(C.In), 1e-9);
  }
}

// The structure is packed: fields are compared as values (+T.x), never bound
// to references.
TEST(AsaTimeStamp, WritesDateFieldsUnlessAPureTime) {
  SQLDATETIME T;
  const vcl::TDateTime Time(vcl::EncodeTime(10, 30, 15, 250));
  vdb::PutAsaTimeStamp(false, Time, T);
  EXPECT_EQ(0, +T.year);
  EXPECT_EQ(0, +T.month);
  EXPECT_EQ(0, +T.day);
  EXPECT_EQ(10, +T.hour);
  EXPECT_EQ(30, +T.minute);
  EXPECT_EQ(15, +T.second);
  EXPECT_EQ(250000u, +T.microsecond);

  vdb::PutAsaTimeStamp(true, Time, T);
  EXPECT_EQ(1899, +T.year);
  EXPECT_EQ(11, +T.month);
  EXPECT_EQ(30, +T.day);
  EXPECT_EQ(6, +T.day_of_week);  // a Saturday
  EXPECT_EQ(363, +T.day_of_year);

  vdb::PutAsaTimeStamp(false, At(2024, 3, 1, 8, 0, 0), T);  // not the epoch day: the date stays
  EXPECT_EQ(2024, +T.year);
  EXPECT_EQ(2, +T.month);
  EXPECT_EQ(1, +T.day);
  EXPECT_EQ(5, +T.day_of_week);   // a Friday
  EXPECT_EQ(60, +T.day_of_year);  // after a leap February
  EXPECT_EQ(8, +T.hour);

  vdb::PutAsaTimeStamp(true, vcl::TDateTime(-1.25), T);
  EXPECT_EQ(1899, +T.year);
  EXPECT_EQ(11, +T.month);
  EXPECT_EQ(29, +T.day);
  EXPECT_EQ(6, +T.hour);
  EXPECT_NEAR(-1.25, vdb::GetAsaTimeStamp(T), 1e-9);
}

}  // namespace
}  // namespace asatest

namespace asatest {
namespace {

// With OEMConvert the server sees OEM text (0x82 for the ANSI 0xE9) in
// statements, parameters and names, and the application ANSI text.
TEST_F(AsaSqlTest, OemConvertTranslatesTextBothWays) {
  Run("create table t (name varchar(10), memo long varchar)");
  Session->SetOEMConvert(true);
  auto& Q = NewSQL();
  Q.SetBlobSize(100);
  ASSERT_TRUE(Q.Execute("insert into t values ('a\xE9', ?)", {Variant("b\xE9")}));
  ASSERT_TRUE(Q.OpenRead("select name as \"n\xE9\", memo from t", {}));
  EXPECT_EQ("n\xE9", Q.GetFieldName(0));
  EXPECT_EQ("a\xE9", Q.GetFieldValue(0).AsString());
  EXPECT_EQ("b\xE9", Q.GetFieldValue(1).AsString());
  Q.Close();
  Session->SetOEMConvert(false);
  EXPECT_EQ("a\x82", Value("select name from t").AsString());
  EXPECT_EQ("b\x82", Value("select cast(memo as varchar(10)) from t").AsString());
}

}  // namespace
}  // namespace asatest
