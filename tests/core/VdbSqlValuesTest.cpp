// Field values of the current row: lookup by position or name, the null
// and change tests against the row as fetched, reading and writing values,
// clearing columns, and the conversions that never raise.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "VdbSqlTestStatement.h"
#include "core/VdbBase.h"
#include "rtl/Variants.h"

namespace {

using vcl::Variant;
using vdbtest::TMemorySession;
using vdbtest::TMemorySQL;

using vdbtest::FrameError;

// A writable cursor on one row: ID 1, NAME 'alpha', NOTE NULL, DOC 'long',
// and a hidden key column.
class SqlValuesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SQL->SetSession(Session.get());
    SQL->Columns = {{"ID", vdb::vtInteger, 0},
                    {"NAME", vdb::vtString, 11},
                    {"NOTE", vdb::vtString, 11},
                    {"DOC", vdb::vtMemo, 0},
                    {"ROWKEY", vdb::vtInteger, 0, vdb::kiHiddenKeyField}};
    SQL->Rows = {{Variant(1), Variant("alpha"), vcl::Null(), Variant("long"), Variant(77)}};
    ASSERT_TRUE(SQL->OpenWrite("select * from t", {}));
  }

  std::unique_ptr<TMemorySession> Session = std::make_unique<TMemorySession>();
  std::unique_ptr<TMemorySQL> SQL = std::make_unique<TMemorySQL>();
};

TEST_F(SqlValuesTest, ColumnsAreFoundByOrdinalPositionOrByName) {
  struct Case {
    Variant Index;
    const char* Expected;  // null: no column
  };
  const Case Cases[] = {
      {Variant(0), "ID"},
      {Variant(int16_t{1}), "NAME"},
      {Variant(static_cast<unsigned char>(2)), "NOTE"},
      {Variant(4LL), "ROWKEY"},
      {Variant("name"), "NAME"},
      {Variant("0"), nullptr},  // a text is always a name
      {Variant(5), nullptr},
      {Variant(-1), nullptr},
      {Variant(1LL << 40), nullptr},
      {Variant("missing"), nullptr},
      {vcl::Null(), nullptr},
      {vcl::VarArrayOf({Variant(0)}), nullptr},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(vcl::VarTypeAsText(vcl::VarType(C.Index)));
    const vdb::TVantorFieldDef* Def = SQL->GetField(C.Index);
    if (C.Expected == nullptr) {
      EXPECT_EQ(Def, nullptr);
    } else {
      ASSERT_NE(Def, nullptr);
      EXPECT_EQ(Def->Name, C.Expected);
    }
  }
  EXPECT_TRUE(SQL->FindField("doc"));
  EXPECT_FALSE(SQL->FindField("nothing"));
  EXPECT_EQ(SQL->GetFieldCount(), 5);
  EXPECT_EQ(SQL->GetFieldName(1), "NAME");
  EXPECT_EQ(SQL->GetFieldName(5), "");
  EXPECT_EQ(SQL->GetFieldName(-1), "");
}

TEST_F(SqlValuesTest, AttributesOfUnknownColumnsAreEmptyWithoutError) {
  EXPECT_EQ(SQL->GetFieldType("NAME"), vdb::vtString);
  EXPECT_EQ(SQL->GetFieldSize("NAME"), 11);
  EXPECT_EQ(SQL->GetFieldLength("NAME"), 11);
  EXPECT_TRUE(SQL->GetFieldNulls("NAME"));
  for (const Variant& Index : {Variant("nothing"), Variant(9)}) {
    SCOPED_TRACE(vcl::VarToStr(Index));
    EXPECT_EQ(SQL->GetFieldType(Index), vdb::vtUnknown);
    EXPECT_EQ(SQL->GetFieldSize(Index), 0);
    EXPECT_EQ(SQL->GetFieldLength(Index), 0);
    EXPECT_EQ(SQL->GetFieldPrecision(Index), 0);
    EXPECT_EQ(SQL->GetFieldDecimals(Index), 0);
    EXPECT_FALSE(SQL->GetFieldNulls(Index));
  }
}

TEST_F(SqlValuesTest, UnknownColumnsRaiseFieldNotFoundWithTheIndexText) {
  struct Case {
    const char* Name;
    void (*Run)(TMemorySQL&, const Variant&);
  };
  const Case Cases[] = {
      {"IsFieldNull", [](TMemorySQL& S, const Variant& I) { S.IsFieldNull(I); }},
      {"IsFieldDirty", [](TMemorySQL& S, const Variant& I) { S.IsFieldDirty(I); }},
      {"GetFieldValue", [](TMemorySQL& S, const Variant& I) { S.GetFieldValue(I); }},
      {"GetOldValue", [](TMemorySQL& S, const Variant& I) { S.GetOldValue(I); }},
      {"SetFieldValue", [](TMemorySQL& S, const Variant& I) { S.SetFieldValue(I, Variant(1)); }},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(FrameError([&] { C.Run(*SQL, Variant("Missing")); }), "Field \"Missing\" not found");
    EXPECT_EQ(FrameError([&] { C.Run(*SQL, Variant(12)); }), "Field \"12\" not found");
    EXPECT_EQ(Session->LastError(), "Field \"12\" not found");
  }
  // Clearing by an unknown name is quietly nothing.
  SQL->ClearField("Missing");
  SQL->ClearFieldNotNull("Missing");
}

TEST_F(SqlValuesTest, ValuesAndNullStateOfTheFetchedRow) {
  EXPECT_EQ(SQL->GetFieldValue(0), Variant(1));
  EXPECT_EQ(SQL->GetFieldValue("NAME"), Variant("alpha"));
  EXPECT_EQ(SQL->GetFieldValue("DOC"), Variant("long"));
  EXPECT_FALSE(SQL->IsFieldNull("NAME"));
  EXPECT_TRUE(SQL->IsFieldNull("NOTE"));
  EXPECT_FALSE(SQL->IsDirty());
}

TEST_F(SqlValuesTest, WritingChangesTheCurrentRowOnly) {
  SQL->SetFieldValue("NAME", Variant("beta"));
  SQL->SetFieldValue("NOTE", Variant("now set"));
  SQL->SetFieldValue(0, Variant(5));
  EXPECT_EQ(SQL->GetFieldValue("NAME"), Variant("beta"));
  EXPECT_EQ(SQL->GetOldValue("NAME"), Variant("alpha"));
  EXPECT_EQ(SQL->GetFieldValue("ID"), Variant(5));
  EXPECT_EQ(SQL->GetOldValue("ID"), Variant(1));
  EXPECT_FALSE(SQL->IsFieldNull("NOTE"));
  EXPECT_TRUE(SQL->IsDirty());

  SQL->SetFieldValue("ID", vcl::Null());
  EXPECT_TRUE(SQL->IsFieldNull("ID"));
  EXPECT_EQ(SQL->GetFieldValue("ID"), Variant(0));  // NULL columns read their zeroed bytes
}

TEST_F(SqlValuesTest, ChangeTestOnStringsFollowsTextAndNullState) {
  struct Step {
    Variant Value;
    bool Dirty;
  };
  const Step Steps[] = {
      {Variant("alpha"), false},  // the same text
      {vcl::Null(), true},
      {Variant("alpha"), false},  // back to the old text, not NULL again
      {Variant("alphabet"), true},
      {Variant("alpha"), false},  // bytes left after the terminator do not count
  };
  for (const Step& S : Steps) {
    SCOPED_TRACE(vcl::VarToStr(S.Value));
    SQL->SetFieldValue("NAME", S.Value);
    EXPECT_EQ(SQL->IsFieldDirty("NAME"), S.Dirty);
    EXPECT_EQ(SQL->IsDirty(), S.Dirty);
  }
}

TEST_F(SqlValuesTest, ChangeTestComparesRawBytesOfNonStringColumns) {
  const vdb::TVantorFieldDef* Id = SQL->GetField("ID");
  const vdb::TVantorFieldDef* Note = SQL->GetField("NOTE");
  const vdb::TVantorFieldDef* Name = SQL->GetField("NAME");
  // Same value: clean.
  SQL->SetFieldValue("ID", Variant(1));
  EXPECT_FALSE(SQL->IsFieldDirty("ID"));
  // One byte of the integer differs.
  SQL->RowBuffer()[Id->Offset + 3] ^= 0x01;
  EXPECT_TRUE(SQL->IsFieldDirty("ID"));
  SQL->RowBuffer()[Id->Offset + 3] ^= 0x01;
  // A NULL string whose bytes changed counts as changed, though both are NULL.
  SQL->RowBuffer()[Note->Offset] = 'z';
  EXPECT_TRUE(SQL->IsFieldNull("NOTE"));
  EXPECT_TRUE(SQL->IsFieldDirty("NOTE"));
  SQL->RowBuffer()[Note->Offset] = 0;
  // Old and new differ only after the terminator.
  SQL->OldRow()[Name->Offset + 8] = 'q';
  EXPECT_FALSE(SQL->IsFieldDirty("NAME"));
  EXPECT_FALSE(SQL->IsDirty());
}

TEST_F(SqlValuesTest, BlobColumnsAreChangedExactlyWhenTheirStreamWasWritten) {
  EXPECT_FALSE(SQL->IsFieldDirty("DOC"));
  SQL->SetFieldValue("DOC", Variant("replaced"));
  EXPECT_TRUE(SQL->IsFieldDirty("DOC"));
  EXPECT_EQ(SQL->GetFieldValue("DOC"), Variant("replaced"));
  SQL->BlobManager()->ClearBlobs();
  EXPECT_FALSE(SQL->IsFieldDirty("DOC"));
  SQL->BlobManager()->BlobByName("doc")->Truncate();
  EXPECT_TRUE(SQL->IsFieldDirty("DOC"));
}

TEST_F(SqlValuesTest, ClearEmptiesEveryColumnButHiddenKeys) {
  const vdb::TVantorFieldDef* Name = SQL->GetField("NAME");
  SQL->Clear();
  EXPECT_TRUE(SQL->IsFieldNull("ID"));
  EXPECT_TRUE(SQL->IsFieldNull("NAME"));
  EXPECT_EQ(SQL->RowBuffer()[Name->Offset], 0);
  EXPECT_FALSE(SQL->IsFieldNull("ROWKEY"));
  EXPECT_EQ(SQL->GetFieldValue("ROWKEY"), Variant(77));
  // The stream of a blob column is left alone.
  EXPECT_EQ(SQL->GetFieldValue("DOC"), Variant("long"));

  SQL->ClearNotNull();
  EXPECT_FALSE(SQL->IsFieldNull("NOTE"));
  EXPECT_EQ(SQL->GetFieldValue("NOTE"), Variant(""));
  EXPECT_EQ(SQL->GetFieldValue("ID"), Variant(0));

  SQL->ClearField("name");
  EXPECT_TRUE(SQL->IsFieldNull("NAME"));
  SQL->ClearFieldNotNull("NAME");
  EXPECT_FALSE(SQL->IsFieldNull("NAME"));
}

TEST_F(SqlValuesTest, StateChecksComeInTheirOrder) {
  SQL->Close();
  EXPECT_EQ(FrameError([&] { SQL->Clear(); }), vdb::VDB_ERR_CURS_NOT_OPENED);
  EXPECT_EQ(FrameError([&] { SQL->ClearNotNull(); }), vdb::VDB_ERR_CURS_NOT_OPENED);
  EXPECT_EQ(FrameError([&] { SQL->IsDirty(); }), vdb::VDB_ERR_CURS_NOT_OPENED);

  ASSERT_TRUE(SQL->OpenRead("select * from t", {}));
  EXPECT_EQ(FrameError([&] { SQL->Clear(); }), vdb::VDB_ERR_CURS_READ_ONLY);
  EXPECT_EQ(FrameError([&] { SQL->ClearNotNull(); }), vdb::VDB_ERR_CURS_READ_ONLY);
  // Read-only is checked before the column is looked up.
  EXPECT_EQ(FrameError([&] { SQL->SetFieldValue("Missing", Variant(1)); }), vdb::VDB_ERR_CURS_READ_ONLY);
  EXPECT_EQ(SQL->GetFieldValue("NAME"), Variant("alpha"));
  EXPECT_FALSE(SQL->IsDirty());
}

TEST_F(SqlValuesTest, WithoutRowBuffersValuesAreRefusedInsteadOfRead) {
  SQL->Unprepare();
  // The descriptors are gone as well, so the lookup fails first.
  EXPECT_EQ(FrameError([&] { SQL->GetFieldValue(0); }), "Field \"0\" not found");
  ASSERT_TRUE(SQL->Describe("select * from t"));
  EXPECT_EQ(SQL->GetFieldValue("NAME"), Variant(""));
}

TEST(SqlConversionTest, ConversionsNeverRaise) {
  using S = vdb::TVantorSQL;
  struct Case {
    const char* Name;
    Variant Value;
    std::string Text;
    int32_t Int;
    int64_t Int64;
    double Float;
    bool Boolean;
    double DateTime;
  };
  const Case Cases[] = {
      {"integer", Variant(42), "42", 42, 42, 42.0, true, 42.0},
      {"true", Variant(true), "True", 1, 1, 1.0, true, -1.0},
      {"false", Variant(false), "False", 0, 0, 0.0, false, 0.0},
      {"number text", Variant("17"), "17", 17, 17, 17.0, false, 0.0},
      {"no number", Variant("abc"), "abc", 0, 0, 0.0, false, 0.0},
      {"Null", vcl::Null(), "", 0, 0, 0.0, false, 0.0},
      {"too big for 32 bits", Variant(5000000000LL), "5000000000", 0, 5000000000LL, 5e9, true, 5e9},
      {"array", vcl::VarArrayOf({Variant(1)}), "", 0, 0, 0.0, false, 0.0},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(S::SetVarToStr(C.Value), C.Text);
    EXPECT_EQ(S::SetVarToInt(C.Value), C.Int);
    EXPECT_EQ(S::SetVarToInt64(C.Value), C.Int64);
    EXPECT_DOUBLE_EQ(S::SetVarToFloat(C.Value), C.Float);
    if (std::string(C.Name) != "number text") {
      EXPECT_EQ(S::SetVarToBoolean(C.Value), C.Boolean);
    }
    EXPECT_DOUBLE_EQ(S::SetVarToDateTime(C.Value).Val, C.DateTime);
  }
  EXPECT_DOUBLE_EQ(S::SetVarToDateTime(Variant("2026-12-11 00:00:00")).Val, 46367.0);
}

TEST(SqlConversionTest, IntegerTypeCodesStandForEveryOrdinal) {
  using S = vdb::TVantorSQL;
  struct Case {
    Variant Value;
    vcl::TVarType Code;
    bool Expected;
  };
  const Case Cases[] = {
      {Variant(5LL), vcl::varInteger, true},
      {Variant(uint16_t{5}), vcl::varSmallint, true},
      {Variant(true), vcl::varByte, true},
      {Variant(5.0), vcl::varInteger, false},
      {Variant("5"), vcl::varInteger, false},
      {Variant(5.0), vcl::varDouble, true},
      {Variant(5.0f), vcl::varDouble, false},
      {Variant("x"), vcl::varString, true},
      {Variant(5), vcl::varInt64, false},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(vcl::VarTypeAsText(vcl::VarType(C.Value)) + " as " + std::to_string(C.Code));
    EXPECT_EQ(S::CheckVarType(C.Value, C.Code), C.Expected);
  }
}

}  // namespace
