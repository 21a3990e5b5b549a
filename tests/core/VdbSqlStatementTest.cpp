// The statement frame's state machine through a memory statement: when it
// prepares, binds, opens and fetches, how parameter values become host
// variables, the executed half, output variables, moves and settings.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "VdbSqlTestStatement.h"
#include "core/VdbBase.h"
#include "rtl/ClassRegistry.h"
#include "rtl/FormFiles.h"
#include "rtl/Variants.h"

namespace {

using vcl::Variant;
using vdbtest::TMemorySession;
using vdbtest::TMemorySQL;

const bool MemoryClassesRegistered = [] {
  vdb::VdbRegisterBaseClasses();
  vcl::RegisterClass(
      "TMemorySession", [](vcl::TComponent* Owner) -> vcl::TComponent* { return new TMemorySession(Owner); }, {},
      "TVantorSession");
  vcl::RegisterClass(
      "TMemorySQL", [](vcl::TComponent* Owner) -> vcl::TComponent* { return new TMemorySQL(Owner); }, {},
      "TVantorSQL");
  return true;
}();

class SqlStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SQL->SetSession(Session.get());
    SQL->SetAfterOpen([this](vcl::TObject*) { ++AfterOpenCount; });
  }

  // The session outlives the statement.
  std::unique_ptr<TMemorySession> Session = std::make_unique<TMemorySession>();
  std::unique_ptr<TMemorySQL> SQL = std::make_unique<TMemorySQL>();
  int AfterOpenCount = 0;
};

using vdbtest::FrameError;

TEST_F(SqlStatementTest, OpenPreparesOnlyWhenTheTextChanges) {
  struct Case {
    const char* First;
    const char* Second;
    int Prepares;
  };
  const Case Cases[] = {
      {"select * from t", "select * from t", 1},
      {"select * from t", "SELECT * FROM t", 2},  // letter case counts
      {"select * from t", "select * from u", 2},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(std::string(C.First) + " / " + C.Second);
    SQL->Unprepare();
    SQL->Log.clear();
    ASSERT_TRUE(SQL->Open(C.First, {}, true));
    ASSERT_TRUE(SQL->Open(C.Second, {}, true));
    EXPECT_EQ(SQL->CountPrefix("PrepareOpen("), C.Prepares);
    EXPECT_EQ(SQL->Count("UnprepareOpen"), C.Prepares - 1);
    // The second open always closes the first cursor.
    EXPECT_EQ(SQL->Count("Close"), 1);
    EXPECT_EQ(SQL->OpenSQL(), C.Second);
  }
}

TEST_F(SqlStatementTest, OpenOnEmptyResultAnswersTrueButOpenReadAnswersFalseWithoutAfterOpen) {
  struct Case {
    const char* Name;
    bool WithRow;
    bool (*Run)(TMemorySQL&);
    bool Result;
    int AfterOpens;
  };
  const Case Cases[] = {
      {"Open, no rows", false, [](TMemorySQL& S) { return S.Open("q", {}, true); }, true, 1},
      {"OpenRead, no rows", false, [](TMemorySQL& S) { return S.OpenRead("q", {}); }, false, 0},
      {"OpenWrite, no rows", false, [](TMemorySQL& S) { return S.OpenWrite("q", {}); }, false, 0},
      {"OpenRead, one row", true, [](TMemorySQL& S) { return S.OpenRead("q", {}); }, true, 1},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    SQL->Unprepare();
    SQL->Rows.clear();
    if (C.WithRow) SQL->Rows.push_back({Variant(1), Variant("a")});
    AfterOpenCount = 0;
    EXPECT_EQ(C.Run(*SQL), C.Result);
    EXPECT_EQ(AfterOpenCount, C.AfterOpens);
    // An empty result still leaves the cursor open.
    EXPECT_TRUE(SQL->Active());
  }
}

TEST_F(SqlStatementTest, OpenWriteAfterReadOnlyOpenPreparesAgainButNotTheOtherWayRound) {
  struct Case {
    const char* Name;
    std::vector<int> Steps;  // 0 OpenRead, 1 OpenWrite, 2 OpenWritePrepared, 3 Open read-only
    int Prepares;
  };
  const Case Cases[] = {
      {"read, write", {0, 1}, 2},
      {"write, read", {1, 0}, 1},
      {"write, write", {1, 1}, 1},
      {"read, write prepared", {0, 2}, 1},
      {"Open read-only, write", {3, 1}, 2},
  };
  SQL->Rows = {{Variant(1), Variant("a")}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    SQL->Unprepare();
    SQL->Log.clear();
    for (int Step : C.Steps) {
      switch (Step) {
        case 0: ASSERT_TRUE(SQL->OpenRead("q", {})); break;
        case 1: ASSERT_TRUE(SQL->OpenWrite("q", {})); break;
        case 2: ASSERT_TRUE(SQL->OpenWritePrepared({})); break;
        case 3: ASSERT_TRUE(SQL->Open("q", {}, true)); break;
      }
    }
    EXPECT_EQ(SQL->CountPrefix("PrepareOpen("), C.Prepares);
    EXPECT_EQ(SQL->CanModify(), C.Steps.back() == 1 || C.Steps.back() == 2);
  }
}

TEST_F(SqlStatementTest, FirstRowComesFromFetchNextOnForwardOnlyCursors) {
  SQL->Rows = {{Variant(1), Variant("a")}};
  for (bool Forward : {false, true}) {
    SCOPED_TRACE(Forward ? "forward only" : "scrollable");
    SQL->UniDirectional = Forward;
    SQL->Log.clear();
    ASSERT_TRUE(SQL->OpenRead("q", {}));
    EXPECT_EQ(SQL->Count("FetchNext"), Forward ? 1 : 0);
    EXPECT_EQ(SQL->Count("FetchFirst"), Forward ? 0 : 1);
    EXPECT_EQ(SQL->GetFieldValue("NAME"), Variant("a"));
  }
}

TEST_F(SqlStatementTest, OpenStopsAtTheFirstFailingStepAndLeavesNothingHalfPrepared) {
  struct Case {
    const char* Name;
    bool TMemorySQL::*Knob;
    bool Prepared;   // the cursor statement is still prepared afterwards
    int Binds;
  };
  const Case Cases[] = {
      {"prepare fails", &TMemorySQL::FailPrepare, false, 0},
      {"bind fails", &TMemorySQL::FailBind, true, 1},
      {"open fails", &TMemorySQL::FailOpen, true, 1},
  };
  SQL->Columns = {{"ID", vdb::vtInteger, 0}, {"DOC", vdb::vtMemo, 0}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    SQL->Unprepare();
    SQL->Log.clear();
    (*SQL).*C.Knob = true;
    AfterOpenCount = 0;
    EXPECT_FALSE(SQL->OpenRead("q", {}));
    (*SQL).*C.Knob = false;
    EXPECT_FALSE(SQL->Active());
    EXPECT_EQ(AfterOpenCount, 0);
    EXPECT_EQ(SQL->CountPrefix("BindOpen"), C.Binds);
    EXPECT_EQ(SQL->CursorPrepared(), C.Prepared);
    if (!C.Prepared) {
      EXPECT_EQ(SQL->FieldCount(), 0);
      EXPECT_EQ(SQL->RecordSize(), 0);
      EXPECT_EQ(SQL->RowBuffer(), nullptr);
      EXPECT_EQ(SQL->BlobManager()->Count(), 0);
      EXPECT_EQ(SQL->OpenSQL(), "");
    }
    // The next attempt starts cleanly.
    EXPECT_TRUE(SQL->Open("q", {}, true));
  }
}

TEST_F(SqlStatementTest, PrepareThatRaisesLeavesBothHalvesUnprepared) {
  SQL->Columns = {{"ID", vdb::vtInteger, 0}, {"DOC", vdb::vtBlob, 0}};
  SQL->ThrowPrepare = true;
  for (int Form = 0; Form < 3; ++Form) {
    SCOPED_TRACE(Form);
    try {
      if (Form == 0) SQL->Prepare("q");
      if (Form == 1) SQL->PrepareOpen("q");
      if (Form == 2) SQL->Open("q", {Variant(1)}, false);
      ADD_FAILURE() << "no exception";
    } catch (const vdb::EVantorException& E) {
      EXPECT_EQ(E.ErrorCode(), -131);
    }
    EXPECT_FALSE(SQL->CursorPrepared());
    EXPECT_FALSE(SQL->ExecPrepared());
    EXPECT_EQ(SQL->FieldCount(), 0);
    EXPECT_EQ(SQL->BlobManager()->Count(), 0);
    EXPECT_EQ(SQL->RowBuffer(), nullptr);
    EXPECT_EQ(SQL->AllocCount(), 0);
  }
}

TEST_F(SqlStatementTest, DescribeAnswersWhetherThereAreResultColumns) {
  EXPECT_TRUE(SQL->Describe("q"));
  EXPECT_EQ(SQL->FieldCount(), 2);
  // Same text: no second prepare.
  SQL->Log.clear();
  EXPECT_TRUE(SQL->Describe("q"));
  EXPECT_EQ(SQL->CountPrefix("PrepareOpen("), 0);

  SQL->Columns.clear();
  EXPECT_FALSE(SQL->Describe("update t set a = 1"));
  EXPECT_TRUE(SQL->CursorPrepared());
}

TEST_F(SqlStatementTest, ParameterValuesFoldIntoHostVariables) {
  const Variant Pair = vcl::VarArrayOf({Variant(7), Variant("abc")});
  struct Case {
    const char* Name;
    vdb::TVantorValues Values;
    std::vector<vdb::TVantorFieldTypes> Types;
  };
  const Case Cases[] = {
      {"no values", {}, {}},
      {"the empty parameter", {vdb::VdbEmptyParam}, {}},
      {"one Null", {vcl::Null()}, {}},
      {"one empty value", {vcl::Unassigned()}, {}},
      {"two values, one Null", {vcl::Null(), Variant(5)}, {vdb::vtUnknown, vdb::vtInteger}},
      {"element by element", {Variant(7), Variant("abc")}, {vdb::vtInteger, vdb::vtString}},
      {"as one array", {Pair}, {vdb::vtInteger, vdb::vtString}},
      {"one array, further values ignored", {Pair, Variant(1.5)}, {vdb::vtInteger, vdb::vtString}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    ASSERT_TRUE(SQL->Open("q", C.Values, true));
    vdb::TVantorVariableDefs* Vars = SQL->OpenVars();
    ASSERT_EQ(Vars->Count(), static_cast<int32_t>(C.Types.size()));
    for (int32_t I = 0; I < Vars->Count(); ++I) {
      EXPECT_EQ(Vars->Items(I)->FieldType, C.Types[static_cast<size_t>(I)]);
      EXPECT_EQ(Vars->Items(I)->Name, "?");
      EXPECT_EQ(Vars->Items(I)->ExtType, 100 + C.Types[static_cast<size_t>(I)]);
    }
    EXPECT_EQ(Vars->BufSize(), Vars->Size());
  }
}

TEST_F(SqlStatementTest, OneArrayAndSeparateValuesGiveTheSameVariablesAndBytes) {
  const vdb::TVantorValues Separate = {Variant(42), Variant("text"), Variant(2.5), Variant(true)};
  const vdb::TVantorValues Folded = {
      vcl::VarArrayOf({Variant(42), Variant("text"), Variant(2.5), Variant(true)})};
  ASSERT_TRUE(SQL->Execute("call p(?,?,?,?)", Separate));
  const std::vector<uint8_t> Bytes(SQL->ExecVars()->Buffer(), SQL->ExecVars()->Buffer() + SQL->ExecVars()->BufSize());
  std::vector<std::pair<vdb::TVantorFieldTypes, int32_t>> Shape;
  for (int32_t I = 0; I < SQL->ExecVars()->Count(); ++I)
    Shape.emplace_back(SQL->ExecVars()->Items(I)->FieldType, SQL->ExecVars()->Items(I)->Size);

  SQL->UnprepareExecute();
  ASSERT_TRUE(SQL->Execute("call p(?,?,?,?)", Folded));
  std::vector<std::pair<vdb::TVantorFieldTypes, int32_t>> FoldedShape;
  for (int32_t I = 0; I < SQL->ExecVars()->Count(); ++I)
    FoldedShape.emplace_back(SQL->ExecVars()->Items(I)->FieldType, SQL->ExecVars()->Items(I)->Size);
  EXPECT_EQ(FoldedShape, Shape);
  EXPECT_EQ(std::vector<uint8_t>(SQL->ExecVars()->Buffer(), SQL->ExecVars()->Buffer() + SQL->ExecVars()->BufSize()),
            Bytes);
  EXPECT_EQ(SQL->GetOutVar(1), Variant("text"));
}

TEST_F(SqlStatementTest, VariableTypeAndLengthFollowTheValue) {
  const std::vector<uint8_t> Ten(10, 1);
  const std::vector<uint8_t> Long(32768, 2);
  struct Case {
    const char* Name;
    Variant Value;
    vdb::TVantorFieldTypes Type;
    int32_t Length;
  };
  const Case Cases[] = {
      {"short text", Variant("0123456789"), vdb::vtString, 8193},
      {"text that just fits", Variant(std::string(8192, 'x')), vdb::vtString, 8193},
      {"long text", Variant(std::string(8193, 'x')), vdb::vtMemo, 8193},
      {"empty", vcl::Unassigned(), vdb::vtUnknown, 0},
      {"Null", vcl::Null(), vdb::vtUnknown, 0},
      {"small integer", Variant(int16_t{3}), vdb::vtInteger, 4},
      {"byte", Variant(static_cast<unsigned char>(3)), vdb::vtInteger, 4},
      {"word", Variant(uint16_t{3}), vdb::vtInteger, 4},
      {"short integer", Variant(static_cast<signed char>(-3)), vdb::vtInteger, 4},
      {"unsigned 32-bit", Variant(uint32_t{3}), vdb::vtFloat, 8},
      {"64-bit", Variant(3LL), vdb::vtInt64, 8},
      {"single", Variant(1.5f), vdb::vtFloat, 8},
      {"currency", Variant(vcl::Currency::FromScaled(15000)), vdb::vtCurrency, 8},
      {"date", Variant(vcl::TDateTime(45000.5)), vdb::vtDateTime, 8},
      {"Boolean", Variant(false), vdb::vtBoolean, 1},
      {"short byte array", vcl::VarArrayFromBytes(Ten.data(), Ten.size()), vdb::vtBinary, 32767},
      {"long byte array", vcl::VarArrayFromBytes(Long.data(), Long.size()), vdb::vtBlob, 32768},
      {"array of Variants", vcl::VarArrayOf({Variant(1)}), vdb::vtUnknown, 0},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    vdb::TVantorFieldTypes Type = vdb::vtString;
    int32_t Length = -1;
    SQL->InternalGetVariableTypeAndLength(C.Value, Type, Length);
    EXPECT_EQ(Type, C.Type);
    EXPECT_EQ(Length, C.Length);
  }
}

TEST_F(SqlStatementTest, VariableListIsKeptWhileTypesAndLengthsStayAndRebuiltOtherwise) {
  struct Case {
    const char* Name;
    vdb::TVantorValues Next;
    bool Rebound;
  };
  const Case Cases[] = {
      {"longer text of the same kind", {Variant("abcdef")}, false},
      {"a number instead of text", {Variant(12)}, true},
      {"one more value", {Variant("abcde"), Variant(1)}, true},
      {"a long text", {Variant(std::string(9000, 'y'))}, true},
      {"no values", {}, true},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    SQL->Unprepare();
    ASSERT_TRUE(SQL->Open("q where name = ?", {Variant("abcde")}, true));
    SQL->Log.clear();
    ASSERT_TRUE(SQL->Open("q where name = ?", C.Next, true));
    EXPECT_EQ(SQL->CountPrefix("BindOpen"), C.Rebound ? 1 : 0);
    EXPECT_TRUE(SQL->OpenVars()->Bound());
  }
  // A list whose sizes no longer match what the values need is rebuilt too.
  SQL->Unprepare();
  ASSERT_TRUE(SQL->Open("q", {Variant("abcde")}, true));
  SQL->OpenVars()->Items(0)->Size = 10;
  SQL->Log.clear();
  ASSERT_TRUE(SQL->Open("q", {Variant("abcde")}, true));
  EXPECT_EQ(SQL->CountPrefix("BindOpen"), 1);
  EXPECT_EQ(SQL->OpenVars()->Items(0)->Size, 8193);
}

TEST_F(SqlStatementTest, LongValuesAreRebuiltOnEveryExecution) {
  const vdb::TVantorValues Values = {Variant(std::string(9000, 'm'))};
  ASSERT_TRUE(SQL->Execute("insert into t values (?)", Values));
  ASSERT_TRUE(SQL->Execute("insert into t values (?)", Values));
  EXPECT_EQ(SQL->Count("BindExec"), 2);
  EXPECT_EQ(SQL->CountPrefix("PrepareExecute("), 1);
  EXPECT_EQ(SQL->ExecVars()->Items(0)->FieldType, vdb::vtMemo);
  EXPECT_EQ(SQL->GetOutVar(0), Variant(std::string(9000, 'm')));
}

TEST_F(SqlStatementTest, ExecutePreparesOncePerTextAndHandsTheNamesList) {
  SQL->Affected = 3;
  ASSERT_TRUE(SQL->Execute("delete from t where id = ?", {Variant(1)}));
  ASSERT_TRUE(SQL->Execute("delete from t where id = ?", {Variant(2)}));
  EXPECT_EQ(SQL->CountPrefix("PrepareExecute("), 1);
  EXPECT_EQ(SQL->Count("BindExec"), 1);
  EXPECT_EQ(SQL->Count("Execute"), 2);
  EXPECT_TRUE(SQL->BindNamesGiven);
  EXPECT_EQ(SQL->RowsProcessed(), 3);
  EXPECT_EQ(SQL->GetOutVar(0), Variant(2));

  ASSERT_TRUE(SQL->Execute("delete from u", {}));
  EXPECT_EQ(SQL->Count("UnprepareExecute"), 1);
  EXPECT_EQ(SQL->ExecSQL(), "delete from u");
  // The cursor half is untouched by all of it.
  EXPECT_FALSE(SQL->CursorPrepared());
}

TEST_F(SqlStatementTest, ExecuteThatCannotPrepareLeavesTheExecutedHalfUnprepared) {
  SQL->FailPrepareExecute = true;
  EXPECT_FALSE(SQL->Execute("bad", {Variant(1)}));
  EXPECT_FALSE(SQL->ExecPrepared());
  EXPECT_EQ(SQL->ExecSQL(), "");
  EXPECT_EQ(SQL->Count("Execute"), 0);
}

TEST_F(SqlStatementTest, PreparedFormsRefuseWithoutPreparation) {
  struct Case {
    const char* Name;
    bool (*Run)(TMemorySQL&);
    const char* Message;
  };
  const Case Cases[] = {
      {"OpenPrepared", [](TMemorySQL& S) { return S.OpenPrepared({}, true); }, vdb::VDB_ERR_CURS_NOT_PREPARED},
      {"OpenReadPrepared", [](TMemorySQL& S) { return S.OpenReadPrepared({}); }, vdb::VDB_ERR_CURS_NOT_PREPARED},
      {"OpenWritePrepared", [](TMemorySQL& S) { return S.OpenWritePrepared({}); }, vdb::VDB_ERR_CURS_NOT_PREPARED},
      {"ExecutePrepared", [](TMemorySQL& S) { return S.ExecutePrepared({Variant(1)}); }, vdb::VDB_ERR_STMT_NOT_PREPARED},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(FrameError([&] { C.Run(*SQL); }), C.Message);
    EXPECT_EQ(Session->LastError(), C.Message);
    EXPECT_EQ(Session->LastErrorCode(), 0);
    EXPECT_TRUE(SQL->Log.empty());
    EXPECT_EQ(SQL->OpenVars()->Count(), 0);
    EXPECT_EQ(SQL->ExecVars()->Count(), 0);
  }
}

TEST_F(SqlStatementTest, PreparedFormsReuseThePreparedText) {
  ASSERT_TRUE(SQL->PrepareExecute("update t set a = ?"));
  ASSERT_TRUE(SQL->ExecutePrepared({Variant(1)}));
  ASSERT_TRUE(SQL->PrepareOpen("select a from t"));
  ASSERT_TRUE(SQL->OpenPrepared({}, true));
  EXPECT_EQ(SQL->CountPrefix("PrepareOpen("), 1);
  EXPECT_EQ(SQL->CountPrefix("PrepareExecute("), 1);

  SQL->Log.clear();
  ASSERT_TRUE(SQL->Prepare("select b from t"));
  EXPECT_EQ(SQL->Log, (vdbtest::TLog{"Close", "UnprepareOpen", "UnprepareExecute", "Prepare(select b from t)",
                                     "PrepareOpen(select b from t)"}));
  EXPECT_EQ(SQL->OpenSQL(), "select b from t");
  EXPECT_EQ(SQL->ExecSQL(), "select b from t");
}

TEST_F(SqlStatementTest, OutputVariablesByPositionOrNameThenInputVariables) {
  SQL->OutColumns = {{"Total", vdb::vtInteger, Variant(99)}, {"Label", vdb::vtString, Variant("done")}};
  ASSERT_TRUE(SQL->Execute("call p(?, ?)", {Variant(5), Variant("in")}));
  struct Case {
    Variant Index;
    Variant Expected;
  };
  const Case Found[] = {
      {Variant(0), Variant(99)},
      {Variant(1), Variant("done")},
      {Variant("total"), Variant(99)},  // names ignore case
      {Variant("LABEL"), Variant("done")},
      {Variant("?"), Variant(5)},  // the input variables' common name
  };
  for (const Case& C : Found) {
    SCOPED_TRACE(vcl::VarToStr(C.Index));
    EXPECT_EQ(SQL->GetOutVar(C.Index), C.Expected);
  }
  SQL->OutColumns.clear();
  SQL->UnprepareExecute();
  ASSERT_TRUE(SQL->Execute("call q(?, ?)", {Variant(5), Variant("in")}));
  EXPECT_EQ(SQL->GetOutVar(1), Variant("in"));

  struct Miss {
    Variant Index;
    const char* Message;
  };
  const Miss Misses[] = {
      {Variant(2), "Host variable \"2\" not found"},
      {Variant(-1), "Host variable \"-1\" not found"},
      {Variant("Total"), "Host variable \"Total\" not found"},
  };
  for (const Miss& M : Misses) {
    SCOPED_TRACE(M.Message);
    EXPECT_EQ(FrameError([&] { SQL->GetOutVar(M.Index); }), M.Message);
    EXPECT_EQ(Session->LastError(), M.Message);
  }
}

TEST_F(SqlStatementTest, MovesNeedAnOpenCursorAndStartFromAnEmptyBlock) {
  struct Case {
    const char* Name;
    bool (*Run)(TMemorySQL&);
    const char* Logged;
  };
  const Case Cases[] = {
      {"MoveToFirst", [](TMemorySQL& S) { return S.MoveToFirst(); }, "MoveToFirst"},
      {"MoveToLast", [](TMemorySQL& S) { return S.MoveToLast(); }, "MoveToLast"},
      {"MoveTo", [](TMemorySQL& S) { return S.MoveTo(1); }, "MoveTo(1)"},
  };
  SQL->Rows = {{Variant(1), Variant("a")}, {Variant(2), Variant("b")}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    SQL->Close();
    EXPECT_EQ(FrameError([&] { C.Run(*SQL); }), vdb::VDB_ERR_CURS_NOT_OPENED);
    ASSERT_TRUE(SQL->OpenRead("q", {}));
    SQL->ScribbleBlock();
    SQL->Log.clear();
    C.Run(*SQL);
    EXPECT_EQ(SQL->Log, vdbtest::TLog{C.Logged});
    EXPECT_TRUE(SQL->BlockClearedOnMove);
  }
}

TEST_F(SqlStatementTest, ClosedCursorReportsNoPosition) {
  SQL->Rows = {{Variant(1), Variant("a")}, {Variant(2), Variant("b")}};
  ASSERT_TRUE(SQL->OpenRead("q", {}));
  EXPECT_EQ(SQL->RecNo(), 0);
  EXPECT_EQ(SQL->RecordCount(), 2);
  EXPECT_FALSE(SQL->Bof());
  SQL->Close();
  EXPECT_FALSE(SQL->Active());
  EXPECT_EQ(SQL->RecNo(), -1);
  EXPECT_EQ(SQL->RecordCount(), 0);
  EXPECT_TRUE(SQL->Bof());
  EXPECT_TRUE(SQL->Eof());
  EXPECT_TRUE(SQL->CursorPrepared());
}

TEST(SqlSettingsTest, SettingsOutsideTheirRangeAreIgnored) {
  struct Case {
    int32_t Value;
    int32_t MaxFetchCount;  // from the default 25
    int32_t BlobSize;       // from the default 0
  };
  const Case Cases[] = {
      {0, 25, 0},         {1001, 25, 1001},   {-1, 25, 0},        {1, 1, 1},
      {1000, 1000, 1000}, {32763, 25, 32763}, {32764, 25, 0},     {INT32_MIN, 25, 0},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Value);
    TMemorySQL SQL;
    SQL.SetMaxFetchCount(C.Value);
    SQL.SetBlobSize(C.Value);
    EXPECT_EQ(SQL.MaxFetchCount(), C.MaxFetchCount);
    EXPECT_EQ(SQL.BlobSize(), C.BlobSize);
  }
}

TEST_F(SqlStatementTest, BuffersFollowTheDescribedRowsAndGoAtUnprepare) {
  SQL->SetMaxFetchCount(7);
  SQL->Columns = {{"A", vdb::vtInteger, 0}, {"B", vdb::vtString, 21}, {"C", vdb::vtBlob, 0}};
  ASSERT_TRUE(SQL->PrepareOpen("q"));
  EXPECT_EQ(SQL->RecordSize(), 4 + 21 + 4);
  EXPECT_EQ(SQL->IndicatorSize(), 6);
  EXPECT_EQ(SQL->AllocCount(), 7);
  EXPECT_NE(SQL->RowBuffer(), nullptr);
  EXPECT_NE(SQL->IndicatorBuffer(), nullptr);
  EXPECT_EQ(SQL->BlobManager()->Count(), 1);
  SQL->UnprepareOpen();
  EXPECT_EQ(SQL->RecordSize(), 0);
  EXPECT_EQ(SQL->IndicatorSize(), 0);
  EXPECT_EQ(SQL->AllocCount(), 0);
  EXPECT_EQ(SQL->RowBuffer(), nullptr);
  EXPECT_EQ(SQL->BlobManager()->Count(), 0);
  EXPECT_EQ(SQL->FieldCount(), 0);
}

TEST_F(SqlStatementTest, ResultColumnNamesAreMadeUnique) {
  SQL->Columns = {{"ID", vdb::vtInteger, 0}, {"ID", vdb::vtInteger, 0}, {"id", vdb::vtInteger, 0},
                  {"X_1", vdb::vtInteger, 0}, {"X", vdb::vtInteger, 0}, {"X", vdb::vtInteger, 0}};
  ASSERT_TRUE(SQL->PrepareOpen("q"));
  std::vector<std::string> Names;
  for (int32_t I = 0; I < SQL->FieldCount(); ++I) Names.push_back(SQL->GetFieldName(I));
  EXPECT_EQ(Names, (std::vector<std::string>{"ID", "ID_1", "id_2", "X_1", "X", "X_2"}));
  // Host variables are checked against the result columns, not each other.
  ASSERT_TRUE(SQL->Execute("call p(?, ?)", {Variant(1), Variant(2)}));
  EXPECT_EQ(SQL->ExecVars()->Items(1)->Name, "?");
}

TEST_F(SqlStatementTest, StatementTextGoesToTheOemCodePageWhenTheSessionAsks) {
  // e-acute and a-grave in Windows-1252; the OEM page has them at 0x82 and 0x85.
  const std::string Ansi = "select * from caf\xE9 where x = '\xE0'";
  const std::string Oem = "select * from caf\x82 where x = '\x85'";
  SQL->Open(Ansi, {}, true);
  EXPECT_EQ(SQL->OpenSQL(), Ansi);

  Session->SetOEMConvert(true);
  SQL->Open(Ansi, {}, true);
  EXPECT_EQ(SQL->OpenSQL(), Oem);
  EXPECT_EQ(SQL->TableName(), "caf\xE9");
  // Nothing after a zero character reaches the library.
  SQL->Execute(std::string("delete from t\0garbage", 21), {});
  EXPECT_EQ(SQL->ExecSQL(), "delete from t");
}

TEST_F(SqlStatementTest, TableNameComesFromThePreparedText) {
  EXPECT_EQ(SQL->TableName(), "");
  ASSERT_TRUE(SQL->PrepareOpen("select a, b from dba.customer c where c.id = 1"));
  EXPECT_EQ(SQL->TableName(), "customer");
  EXPECT_FALSE(SQL->StillInProc());
  EXPECT_FALSE(SQL->Resume());
}

// ---------------------------------------------------------------------------
// The session link

TEST(SqlSessionLinkTest, WithoutSessionTheStatementRefusesExceptInTheDesigner) {
  TMemorySQL SQL;
  struct Case {
    const char* Name;
    void (*Run)(TMemorySQL&);
  };
  const Case Cases[] = {
      {"Session", [](TMemorySQL& S) { (void)S.Session(); }},
      {"Open", [](TMemorySQL& S) { S.Open("q", {}, true); }},
      {"PrepareExecute", [](TMemorySQL& S) { S.PrepareExecute("q"); }},
      {"MoveToFirst", [](TMemorySQL& S) { S.MoveToFirst(); }},
      {"Check", [](TMemorySQL& S) { S.Check(false); }},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(FrameError([&] { C.Run(SQL); }), vdb::VDB_ERR_SESS_NIL);
    EXPECT_FALSE(SQL.CursorPrepared());
  }
  SQL.SetDesigning(true);
  EXPECT_EQ(SQL.Session(), nullptr);
  // Loading a library still needs a session.
  EXPECT_EQ(FrameError([&] { SQL.Open("q", {}, true); }), vdb::VDB_ERR_SESS_NIL);
  // The frame's own errors keep their text.
  EXPECT_EQ(FrameError([&] { SQL.MoveToFirst(); }), vdb::VDB_ERR_CURS_NOT_OPENED);
}

TEST(SqlSessionLinkTest, EntryPointsAreBoundOnceUntilTheLibraryGoesAway) {
  TMemorySession Session;
  TMemorySQL SQL;
  SQL.SetSession(&Session);
  EXPECT_TRUE(SQL.LibraryProcsInvalid());
  ASSERT_TRUE(SQL.Open("q", {}, true));
  ASSERT_TRUE(SQL.Execute("x", {}));
  EXPECT_EQ(SQL.Count("LoadLibraryProcs"), 1);
  EXPECT_EQ(Session.LoadCount, 1);
  EXPECT_FALSE(SQL.LibraryProcsInvalid());

  // A new library file frees the old library; the statement binds again.
  Session.InternalFreeLibrary();
  EXPECT_TRUE(SQL.LibraryProcsInvalid());
  SQL.Unprepare();
  ASSERT_TRUE(SQL.Open("q", {}, true));
  EXPECT_EQ(SQL.Count("LoadLibraryProcs"), 2);
  EXPECT_EQ(Session.LoadCount, 2);
}

TEST(SqlSessionLinkTest, RelinkingAndTheSessionsCloseUnprepareTheStatement) {
  TMemorySession Session;
  TMemorySession Other;
  TMemorySQL SQL;
  SQL.SetSession(&Session);
  EXPECT_EQ(Session.QueryCount(), 1);

  ASSERT_TRUE(SQL.Open("q", {}, true));
  SQL.SetSession(&Session);  // the same session again
  EXPECT_FALSE(SQL.CursorPrepared());
  EXPECT_EQ(Session.QueryCount(), 1);

  ASSERT_TRUE(SQL.Open("q", {}, true));
  ASSERT_TRUE(SQL.Execute("x", {}));
  SQL.SetSession(&Other);
  EXPECT_FALSE(SQL.CursorPrepared());
  EXPECT_FALSE(SQL.ExecPrepared());
  EXPECT_EQ(Session.QueryCount(), 0);
  EXPECT_EQ(Other.GetQuery(0), &SQL);

  Other.Open();
  ASSERT_TRUE(SQL.Open("q", {}, true));
  Other.Close();
  EXPECT_FALSE(SQL.Active());
  EXPECT_FALSE(SQL.CursorPrepared());
  EXPECT_EQ(SQL.GetSessionObject(), &Other);
}

TEST(SqlSessionLinkTest, EitherPartnerMayBeDestroyedFirst) {
  {
    auto Session = std::make_unique<TMemorySession>();
    auto SQL = std::make_unique<TMemorySQL>();
    SQL->SetSession(Session.get());
    ASSERT_TRUE(SQL->Open("q", {}, true));
    SQL.reset();
    EXPECT_EQ(Session->QueryCount(), 0);
  }
  {
    auto Session = std::make_unique<TMemorySession>();
    auto SQL = std::make_unique<TMemorySQL>();
    SQL->SetSession(Session.get());
    ASSERT_TRUE(SQL->Open("q", {}, true));
    Session.reset();
    EXPECT_EQ(SQL->GetSessionObject(), nullptr);
    SQL->Log.clear();
    SQL.reset();  // unprepares without a session
  }
}

TEST(SqlSessionLinkTest, DestructionClosesThroughTheConcreteStatement) {
  TMemorySession Session;
  vdbtest::TLog Log;
  {
    TMemorySQL SQL(nullptr, &Log);
    SQL.SetSession(&Session);
    ASSERT_TRUE(SQL.Open("q", {}, true));
    ASSERT_TRUE(SQL.Execute("x", {}));
    Log.clear();
  }
  EXPECT_EQ(Log, (vdbtest::TLog{"Close", "UnprepareOpen", "UnprepareExecute"}));
  EXPECT_EQ(Session.QueryCount(), 0);
}

TEST(SqlSessionLinkTest, FormFilesKeepTheSessionLinkAndWantExceptions) {
  const std::string Form =
      "object Module: TComponent\n"
      "  object Db: TMemorySession\n"
      "  end\n"
      "  object Query: TMemorySQL\n"
      "    Session = Db\n"
      "    WantExceptions = True\n"
      "  end\n"
      "end\n";
  std::unique_ptr<vcl::TComponent> Module(vcl::ComponentFromText(Form));
  auto* Db = dynamic_cast<TMemorySession*>(Module->FindComponent("Db"));
  auto* Query = dynamic_cast<TMemorySQL*>(Module->FindComponent("Query"));
  ASSERT_NE(Db, nullptr);
  ASSERT_NE(Query, nullptr);
  EXPECT_EQ(Query->GetSessionObject(), Db);
  EXPECT_EQ(Db->GetQuery(0), Query);
  EXPECT_TRUE(Query->WantExceptions());

  const std::string Written = vcl::ComponentToText(Module.get());
  EXPECT_NE(Written.find("Session = Db"), std::string::npos) << Written;
  EXPECT_NE(Written.find("WantExceptions = True"), std::string::npos) << Written;
}

}  // namespace
