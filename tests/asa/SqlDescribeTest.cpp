// TAsaSQL describing result columns: the type mapping of every column type,
// full names beyond the SQLDA's 30 bytes, and unique names.
#include "AsaSqlFixture.h"

namespace asatest {
namespace {

using vdb::TVantorFieldTypes;

struct TMapping {
  const char* Declared;          // column type in CREATE TABLE
  TVantorFieldTypes FieldType;
  int32_t ExtType;               // host type the column is fetched as
  int32_t Size;                  // -1: the blob buffer (BlobSize + 4)
  int32_t Length;
  int32_t Precision;
  int32_t Decimals;
};

constexpr TMapping kMappings[] = {
    {"date", vdb::vtDate, DT_TIMESTAMP_STRUCT, 14, 10, 0, 0},
    {"time", vdb::vtTime, DT_TIMESTAMP_STRUCT, 14, 8, 0, 0},
    {"timestamp", vdb::vtDateTime, DT_TIMESTAMP_STRUCT, 14, 19, 0, 0},
    {"varchar(40)", vdb::vtString, DT_STRING, 41, 40, 0, 0},
    {"char(8192)", vdb::vtString, DT_STRING, 8193, 8192, 0, 0},
    {"char(8193)", vdb::vtMemo, DT_STRING, -1, 0, 0, 0},
    {"long varchar", vdb::vtMemo, DT_STRING, -1, 0, 0, 0},
    {"double", vdb::vtFloat, DT_DOUBLE, 8, 10, 0, 0},
    {"real", vdb::vtFloat, DT_DOUBLE, 8, 10, 0, 0},
    {"decimal(19,4)", vdb::vtCurrency, DT_DOUBLE, 8, 10, 19, 4},
    {"decimal(10,4)", vdb::vtCurrency, DT_DOUBLE, 8, 10, 10, 4},
    {"decimal(15,2)", vdb::vtFloat, DT_DOUBLE, 8, 10, 15, 2},
    {"int", vdb::vtInteger, DT_INT, 4, 10, 0, 0},
    {"smallint", vdb::vtInteger, DT_INT, 4, 10, 0, 0},
    {"tinyint", vdb::vtInteger, DT_INT, 4, 10, 0, 0},
    {"unsigned smallint", vdb::vtInteger, DT_INT, 4, 10, 0, 0},
    {"unsigned int", vdb::vtInteger, DT_UNSINT, 4, 10, 0, 0},
    {"bigint", vdb::vtInt64, DT_BIGINT, 8, 10, 0, 0},
    {"unsigned bigint", vdb::vtInt64, DT_BIGINT, 8, 10, 0, 0},
    {"binary(10)", vdb::vtBinary, DT_BINARY, 12, 10, 0, 0},
    {"long binary", vdb::vtBlob, DT_LONGBINARY, -1, 0, 0, 0},
    {"bit", vdb::vtBoolean, DT_BIT, 1, 5, 0, 0},
};

TEST_F(AsaSqlTest, ColumnTypesMapToFieldTypesHostTypesAndSizes) {
  std::string Create = "create table types (";
  for (size_t I = 0; I < std::size(kMappings); ++I)
    Create += (I ? ", c" : "c") + std::to_string(I) + " " + kMappings[I].Declared;
  Run(Create + ")");

  for (int32_t BlobSize : {0, 100}) {
    auto& Q = NewSQL();
    Q.SetBlobSize(BlobSize);
    ASSERT_TRUE(Q.Describe("select * from types"));
    ASSERT_EQ(static_cast<int32_t>(std::size(kMappings)), Q.FieldCount());
    int32_t Offset = 0;
    for (int32_t I = 0; I < Q.FieldCount(); ++I) {
      const TMapping& M = kMappings[I];
      const vdb::TVantorFieldDef* Def = Q.GetField(I);
      SCOPED_TRACE(M.Declared);
      EXPECT_EQ("c" + std::to_string(I), Def->Name);
      EXPECT_EQ(M.FieldType, Def->FieldType);
      EXPECT_EQ(M.ExtType, Def->ExtType);
      EXPECT_EQ(M.Size < 0 ? BlobSize + 4 : M.Size, Def->Size);
      EXPECT_EQ(M.Length, Def->Length);
      EXPECT_EQ(M.Precision, Def->Precision);
      EXPECT_EQ(M.Decimals, Def->Decimals);
      EXPECT_TRUE(Def->Nulls);
      EXPECT_EQ(vdb::kiRegularField, Def->KeyIndicator);
      EXPECT_EQ(Offset, Def->Offset);
      Offset += Def->Size;
    }
    EXPECT_EQ(Offset, Q.RecordSize());
    EXPECT_EQ(2 * Q.FieldCount(), Q.IndicatorSize());
    // One stream per long column, named like it.
    EXPECT_EQ(3, Q.BlobManager()->Count());
    EXPECT_EQ("c5", Q.BlobManager()->GetBlob(0)->FieldName());
  }
}

TEST_F(AsaSqlTest, NotNullColumnsAreNotNullable) {
  Run("create table t (a int not null, b int)");
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Describe("select a, b from t"));
  EXPECT_FALSE(Q.GetFieldNulls(0));
  EXPECT_TRUE(Q.GetFieldNulls(1));
}

TEST_F(AsaSqlTest, LongAliasesKeepTheirFullNames) {
  const std::string Alias40 = "a_forty_character_alias_for_one_column_x";
  const std::string Alias30 = "exactly_thirty_characters_long";
  const std::string Alias29 = "twenty_nine_characters_long_x";
  ASSERT_EQ(40u, Alias40.size());
  ASSERT_EQ(30u, Alias30.size());
  ASSERT_EQ(29u, Alias29.size());
  const std::string SQL = "select 1 as " + Alias40 + ", 2 as " + Alias30 + ", 3 as " + Alias29 + ", 4 as short_one";
  for (const char* Library : {"dblib7.dll", "dblib6.dll", "dbl50t.dll"}) {
    SCOPED_TRACE(Library);
    Statements.clear();
    Session = NewSession(Library);
    Session->Open();
    auto& Q = NewSQL();
    ASSERT_TRUE(Q.Describe(SQL));
    EXPECT_EQ(Alias40, Q.GetFieldName(0));
    EXPECT_EQ(Alias30, Q.GetFieldName(1));
    EXPECT_EQ(Alias29, Q.GetFieldName(2));
    EXPECT_EQ("short_one", Q.GetFieldName(3));
    // After open the cursor describes the names again.
    ASSERT_TRUE(Q.OpenRead(SQL, {}));
    EXPECT_EQ(1, Q.GetFieldValue(Alias40).AsInteger());
  }
}

TEST_F(AsaSqlTest, LongAliasesStayCutWithTheOldestLibrary) {
  Session = NewSession("dbl40t.dll");
  Session->Open();
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Describe("select 1 as a_forty_character_alias_for_one_column_x"));
  EXPECT_EQ("a_forty_character_alias_for_on", Q.GetFieldName(0));
}

TEST_F(AsaSqlTest, DuplicateColumnNamesAreMadeUnique) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Describe("select 1 as x, 2 as x, 3 as x"));
  EXPECT_EQ("x", Q.GetFieldName(0));
  EXPECT_EQ("x_1", Q.GetFieldName(1));
  EXPECT_EQ("x_2", Q.GetFieldName(2));
}

TEST_F(AsaSqlTest, StatementWithoutResultColumnsDescribesNone) {
  Run("create table t (a int)");
  auto& Q = NewSQL();
  EXPECT_FALSE(Q.Describe("insert into t values (1)"));
  EXPECT_TRUE(Q.CursorPrepared());
  EXPECT_EQ(0, Q.FieldCount());
}

TEST_F(AsaSqlTest, FailedPrepareLeavesTheStatementUnprepared) {
  auto& Q = NewSQL();
  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.Describe("select * from no_such_table"));
  EXPECT_FALSE(Q.CursorPrepared());
  EXPECT_EQ(0, Q.CursorStatementNumber());
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_NE(std::string::npos, Q.LastError().find("no_such_table")) << Q.LastError();
  // Nothing stays marked in use in the pool.
  EXPECT_EQ(0, Session->StatementPool()->Next());
  Q.SetWantExceptions(true);
  EXPECT_THROW(Q.Describe("select * from no_such_table"), vdb::EAsaException);
}

}  // namespace
}  // namespace asatest
