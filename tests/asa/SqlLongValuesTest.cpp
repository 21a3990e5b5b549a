// TAsaSQL long parameter values: memos and blobs beyond the variable length
// travel through temporary server variables, for executions and for cursors.
#include <cstdio>

#include "AsaSqlFixture.h"

namespace asatest {
namespace {

using vcl::Variant;

std::string Pattern(size_t Size) {
  std::string S(Size, ' ');
  for (size_t I = 0; I < Size; ++I) S[I] = static_cast<char>('a' + I % 26);
  return S;
}

// Whether the connection still has a server variable of that name.
bool VariableExists(vdb::TAsaSession& S, const std::string& Name) {
  vdb::TAsaSQL Q(nullptr);
  Q.SetSession(&S);
  return Q.Execute("select " + Name, {});
}

TEST_F(AsaSqlTest, MemoParameterTravelsThroughAServerVariable) {
  Run("create table m (memo long varchar, id int)");
  const std::string Big = Pattern(100 * 1024);
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("insert into m values (?, ?)", {Variant(Big), Variant(1)}));
  EXPECT_EQ(vdb::vtMemo, Q.ExecVars()->Items(0)->FieldType);
  EXPECT_EQ(static_cast<int32_t>(Big.size()), Q.ExecVars()->Items(0)->Size);
  EXPECT_EQ(1, Q.RowsProcessed());
  EXPECT_FALSE(VariableExists(*Session, "blobparam1")) << "dropped after the execution";
  EXPECT_EQ(static_cast<int64_t>(Big.size()), Value("select length(memo) from m where id = 1").AsInt64());
  EXPECT_EQ(Big.substr(70000, 26), Value("select substr(memo, 70001, 26) from m").AsString());

  // Executed again, the value goes through a new variable.
  ASSERT_TRUE(Q.ExecutePrepared({Variant(Big + "!"), Variant(2)}));
  EXPECT_EQ(static_cast<int64_t>(Big.size() + 1), Value("select length(memo) from m where id = 2").AsInt64());
}

// The statement's own error is what an execution reports, after its server
// variable is gone.
TEST_F(AsaSqlTest, FailingExecutionWithAMemoDropsItsVariableAndReportsItsError) {
  Run("create table m (id int primary key, memo long varchar)");
  Run("insert into m values (1, 'first')");
  const std::string Big = Pattern(50000);
  auto& Q = NewSQL();
  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.Execute("insert into m values (?, ?)", {Variant(1), Variant(Big)}));
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_NE(std::string::npos, Q.LastError().find("UNIQUE")) << Q.LastError();
  EXPECT_FALSE(VariableExists(*Session, "blobparam2"));
  Q.SetWantExceptions(true);
  EXPECT_THROW(Q.ExecutePrepared({Variant(1), Variant(Big)}), vdb::EAsaException);
  EXPECT_FALSE(VariableExists(*Session, "blobparam2"));
  // The same statement goes on working.
  ASSERT_TRUE(Q.ExecutePrepared({Variant(2), Variant(Big)}));
  EXPECT_EQ(static_cast<int64_t>(Big.size()), Value("select length(memo) from m where id = 2").AsInt64());
}

// A statement whose creation of one server variable the server refuses: the
// create runs as a statement the server cannot execute.
class TRefusingSQL : public vdb::TAsaSQL {
 public:
  using TAsaSQL::TAsaSQL;
  static inline std::string Refused;  // the create statement to refuse

  void InternalLoadLibraryProcs() override {
    TAsaSQL::InternalLoadLibraryProcs();
    vdb::TAsaSQLProcs& P = BoundProcs();
    if (P.dbpp_execute_imm == &Immediate) return;
    Real = P.dbpp_execute_imm;
    P.dbpp_execute_imm = &Immediate;
  }

 private:
  static inline dbpp_execute_imm_fn Real = nullptr;
  static int32_t Immediate(SQLCA* Ca, const char* Text, uint32_t Kind) {
    return Real(Ca, Refused == Text ? "select * from no_table_for_the_variable" : Text, Kind);
  }
};

// The third entry's variable cannot be made: the statement does not run with
// that value missing, and the variable made for the second is gone again.
TEST_F(AsaSqlTest, ExecutionWhoseServerVariableCannotBeMadeDoesNotRun) {
  Run("create table m (id int, a long varchar, b long varchar)");
  const std::string Big = Pattern(20000);
  TRefusingSQL Q(nullptr);
  Q.SetSession(Session.get());
  TRefusingSQL::Refused = "create variable blobparam3 long binary";
  for (bool Exceptions : {false, true}) {
    SCOPED_TRACE(Exceptions);
    Q.SetWantExceptions(Exceptions);
    if (Exceptions) {
      EXPECT_THROW(Q.Execute("insert into m values (?, ?, ?)", {Variant(1), Variant(Big), Variant(Big)}),
                   vdb::EAsaException);
    } else {
      EXPECT_FALSE(Q.Execute("insert into m values (?, ?, ?)", {Variant(1), Variant(Big), Variant(Big)}));
      EXPECT_GT(0, Q.LastErrorCode());
      EXPECT_NE(std::string::npos, Q.LastError().find("no_table_for_the_variable")) << Q.LastError();
    }
    EXPECT_FALSE(VariableExists(*Session, "blobparam2")) << "made for the statement, dropped again";
    EXPECT_EQ(0, Value("select count(*) from m").AsInteger()) << "nothing stored without its value";
  }
  TRefusingSQL::Refused.clear();
  ASSERT_TRUE(Q.Execute("insert into m values (?, ?, ?)", {Variant(1), Variant(Big), Variant(Big)}));
  EXPECT_EQ(1, Value("select count(*) from m where a = b").AsInteger());

  // A cursor parameter the same way: no open, no variable left.
  TRefusingSQL::Refused = "create variable blobparam2 long binary";
  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.OpenRead("select id from m where a = ? and b = ?", {Variant(Big), Variant(Big)}));
  EXPECT_FALSE(Q.Active());
  EXPECT_FALSE(VariableExists(*Session, "blobparam1"));
  TRefusingSQL::Refused.clear();
  ASSERT_TRUE(Q.OpenRead("select id from m where a = ? and b = ?", {Variant(Big), Variant(Big)}));
  EXPECT_EQ(1, Q.GetFieldValue(0).AsInteger());
}

TEST_F(AsaSqlTest, BlobParameterTravelsThroughAServerVariable) {
  Run("create table b (id int, data long binary)");
  std::vector<uint8_t> Data(40000);
  for (size_t I = 0; I < Data.size(); ++I) Data[I] = static_cast<uint8_t>(I * 7);
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("insert into b values (?, ?)",
                        {Variant(1), vcl::VarArrayFromBytes(Data.data(), Data.size())}));
  EXPECT_EQ(vdb::vtBlob, Q.ExecVars()->Items(1)->FieldType);
  EXPECT_FALSE(VariableExists(*Session, "blobparam2"));
  EXPECT_EQ(40000, Value("select length(data) from b").AsInteger());
  char Last[3];
  std::snprintf(Last, sizeof Last, "%02X", Data[39999]);
  EXPECT_EQ(Last, Value("select hex(substr(data, 40000, 1)) from b").AsString());
}

TEST_F(AsaSqlTest, LongCursorParametersTravelThroughServerVariables) {
  Run("create table m (id int, memo long varchar)");
  const std::string Big = Pattern(20000);
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.Execute("insert into m values (?, ?)", {Variant(1), Variant(Big)}));
  ASSERT_TRUE(Q.Execute("insert into m values (?, ?)", {Variant(2), Variant(Big + "x")}));
  auto& R = NewSQL();
  ASSERT_TRUE(R.OpenRead("select id from m where memo = ?", {Variant(Big + "x")}));
  EXPECT_EQ(2, R.GetFieldValue(0).AsInteger());
  EXPECT_FALSE(R.Next());
  EXPECT_FALSE(VariableExists(*Session, "blobparam1")) << "dropped after the open";
  // Reopened with another long value.
  ASSERT_TRUE(R.OpenRead("select id from m where memo = ?", {Variant(Big)}));
  EXPECT_EQ(1, R.GetFieldValue(0).AsInteger());
}

}  // namespace
}  // namespace asatest
