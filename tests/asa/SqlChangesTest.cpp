// TAsaSQL positioned changes: update of the changed columns only, insert
// of the current row with long values through server variables, delete and
// repositioning, row locks, and what a failing change leaves behind.
#include "AsaCallLog.h"
#include "AsaSqlFixture.h"

namespace asatest {
namespace {

using vcl::Variant;

class AsaChangesTest : public AsaSqlTest {
 protected:
  void SetUp() override {
    AsaSqlTest::SetUp();
    Run("create table t (id int primary key, name varchar(20) not null, note long varchar, data long binary)");
    std::string Insert = "insert into t (id, name) values (1, 'name 1')";
    for (int I = 2; I <= 10; ++I) Insert += ", (" + std::to_string(I) + ", 'name " + std::to_string(I) + "')";
    Run(Insert);
    Other = NewSession();
    Other->Open();
  }
  void TearDown() override {
    Other.reset();
    AsaSqlTest::TearDown();
  }
  // A value as the second session reads it.
  Variant Seen(const std::string& SQL) {
    vdb::TAsaSQL Q(nullptr);
    Q.SetSession(Other.get());
    Q.SetWantExceptions(true);
    if (!Q.OpenRead(SQL, {})) return vcl::Unassigned();
    return Q.IsFieldNull(0) ? vcl::Null() : Q.GetFieldValue(0);
  }
  // Whether the connection still has a server variable of that name.
  bool VariableExists(const std::string& Name) {
    const bool Exists = Exec(*Session, "set " + Name + " = ''") == 0;
    if (Exists) Exec(*Session, "drop variable " + Name);
    return Exists;
  }
  static int Id(vdb::TAsaSQL& Q) { return Q.GetFieldValue("id").AsInteger(); }

  std::unique_ptr<vdb::TAsaSession> Other;
};

TEST_F(AsaChangesTest, ModifyWithoutChangesSendsNothing) {
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenWrite("select id, name, note from t where id = 3", {}));
  Q.SetFieldValue("name", Variant("name 3"));  // the same value
  Log().Reset();
  EXPECT_TRUE(Q.Modify());
  EXPECT_EQ(0, Log().Total());
}

TEST_F(AsaChangesTest, ModifySendsTheChangedColumnsAndIsSeenByASecondSession) {
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenWrite("select id, name, note from t where id = 3", {}));
  // Changed elsewhere after the fetch: an update that sent every column
  // would put the old note back.
  ASSERT_EQ(0, Exec(*Other, "update t set note = 'from the other session' where id = 3"));
  ASSERT_EQ(0, Exec(*Other, "commit"));
  Q.SetFieldValue("name", Variant("renamed"));
  EXPECT_TRUE(Q.IsDirty());
  Log().Reset();
  ASSERT_TRUE(Q.Modify());
  EXPECT_EQ(1, Log().Count("dbpp_update"));
  EXPECT_EQ(0, Log().Count("dbpp_execute_imm")) << "no long value, no server variable";
  EXPECT_FALSE(Q.IsDirty()) << "the row is clean again";
  EXPECT_EQ("renamed", Seen("select name from t where id = 3").AsString());
  EXPECT_EQ("from the other session", Seen("select note from t where id = 3").AsString());

  // A NULL goes as a NULL indicator.
  ASSERT_TRUE(Q.Curr());
  ASSERT_FALSE(Q.IsFieldNull("note"));
  Q.SetFieldValue("note", vcl::Null());
  ASSERT_TRUE(Q.Modify());
  EXPECT_TRUE(vcl::VarIsNull(Seen("select note from t where id = 3")));
}

TEST_F(AsaChangesTest, ModifyOfALongValueGoesThroughAServerVariableInPieces) {
  struct Case {
    const char* Name;
    size_t Length;
    std::vector<int> Pieces;
  } const Cases[] = {
      {"70000 bytes", 70000, {32765, 32765, 4470}},
      {"exactly one piece", 32765, {32765}},
      {"empty", 0, {0}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    auto& Q = NewLoggingSQL();
    ASSERT_TRUE(Q.OpenWrite("select id, note from t where id = 4", {}));
    std::string Text(C.Length, 'a');
    for (size_t I = 0; I < Text.size(); ++I) Text[I] = static_cast<char>('a' + I % 26);
    Q.SetFieldValue("note", Variant(Text));
    Log().Reset();
    ASSERT_TRUE(Q.Modify());
    const std::vector<std::string> Immediate = {"create variable note long binary", "set note=''",
                                                "drop variable note"};
    EXPECT_EQ(Immediate, Log().Immediate);
    EXPECT_EQ(C.Pieces, Log().Pieces);
    EXPECT_FALSE(VariableExists("note"));
    const Variant Stored = Seen("select note from t where id = 4");
    ASSERT_FALSE(vcl::VarIsNull(Stored)) << "an empty value is not NULL";
    EXPECT_TRUE(Stored.AsString() == Text);
    // The value reads back from the server, not from the old prefix.
    EXPECT_TRUE(Q.GetFieldValue("note").AsString() == Text);
    Q.Close();
  }
}

TEST_F(AsaChangesTest, ModifiedLongValueReadsBackWithAPrefetchedPrefix) {
  auto& Q = NewSQL();
  Q.SetBlobSize(10);
  ASSERT_TRUE(Q.OpenWrite("select id, note from t where id = 5", {}));
  const std::string Text(500, 'q');
  Q.SetFieldValue("note", Variant(Text));
  ASSERT_TRUE(Q.Modify());
  EXPECT_TRUE(Q.GetFieldValue("note").AsString() == Text);
  ASSERT_TRUE(Q.Curr());
  EXPECT_TRUE(Q.GetFieldValue("note").AsString() == Text);
}

TEST_F(AsaChangesTest, AppendSendsTheRowWithALongValueThroughAServerVariable) {
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenWrite("select id, name, note from t order by id", {}));
  Q.Clear();
  Q.SetFieldValue("id", Variant(100));
  Q.SetFieldValue("name", Variant("appended"));
  const std::string Memo(40000, 'm');
  Q.SetFieldValue("note", Variant(Memo));
  Log().Reset();
  ASSERT_TRUE(Q.Append()) << Q.LastError();
  EXPECT_EQ(1, Log().Count("dbpp_put_into"));
  const std::vector<int> Pieces = {32765, 7235};
  EXPECT_EQ(Pieces, Log().Pieces);
  ASSERT_EQ(3u, Log().Immediate.size());
  EXPECT_EQ("drop variable note", Log().Immediate[2]);
  EXPECT_FALSE(VariableExists("note"));
  // The inserted row comes back into the block; its count is the insert's.
  EXPECT_EQ(1, Q.BufferCount());
  EXPECT_EQ(100, Id(Q));
  EXPECT_EQ("appended", Q.GetFieldValue("name").AsString());
  EXPECT_FALSE(Q.IsDirty());
  EXPECT_TRUE(Seen("select note from t where id = 100").AsString() == Memo);
  EXPECT_EQ("appended", Seen("select name from t where id = 100").AsString());
}

TEST_F(AsaChangesTest, AppendLeavesNullColumnsToTheirDefaults) {
  Run("create table d (id int, state varchar(10) default 'new', note long varchar)");
  auto& Q = NewSQL();
  Q.OpenWrite("select id, state, note from d", {});
  Q.Clear();
  Q.SetFieldValue("id", Variant(1));
  ASSERT_TRUE(Q.Append());
  EXPECT_EQ("new", Q.GetFieldValue("state").AsString());
  EXPECT_EQ("new", Seen("select state from d").AsString());
  EXPECT_TRUE(vcl::VarIsNull(Seen("select note from d")));
}

TEST_F(AsaChangesTest, FailingChangesReportTheServerErrorAndDropTheirVariables) {
  auto& Q = NewSQL();
  Q.SetWantExceptions(false);
  ASSERT_TRUE(Q.OpenWrite("select id, name, note from t order by id", {}));
  // Update: a NULL into a NOT NULL column, with a long value on the way.
  Q.SetFieldValue("name", vcl::Null());
  Q.SetFieldValue("note", Variant(std::string(1000, 'x')));
  EXPECT_FALSE(Q.Modify());
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_TRUE(Q.IsDirty()) << "the edits stay for another try";
  EXPECT_FALSE(VariableExists("note"));
  EXPECT_EQ("name 1", Seen("select name from t where id = 1").AsString());

  // Insert: a duplicate key; the caller's row stays in the buffers.
  Q.Clear();
  Q.SetFieldValue("id", Variant(2));
  Q.SetFieldValue("name", Variant("again"));
  Q.SetFieldValue("note", Variant("n"));
  EXPECT_FALSE(Q.Append());
  EXPECT_GT(0, Q.LastErrorCode());
  EXPECT_EQ("again", Q.GetFieldValue("name").AsString());
  EXPECT_FALSE(VariableExists("note"));

  Q.SetWantExceptions(true);
  EXPECT_THROW(Q.Append(), vdb::EAsaException);
  EXPECT_FALSE(VariableExists("note"));
  EXPECT_EQ(10, Seen("select count(*) from t").AsInteger());
}

TEST_F(AsaChangesTest, DeleteRemovesTheRowAndTheCursorMovesOn) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenWrite("select id, name from t order by id", {}));
  ASSERT_TRUE(Q.Next());
  ASSERT_TRUE(Q.Next());
  ASSERT_EQ(3, Id(Q));
  ASSERT_TRUE(Q.Delete());
  EXPECT_EQ(9, Seen("select count(*) from t").AsInteger());
  EXPECT_TRUE(vcl::VarIsEmpty(Seen("select id from t where id = 3")));
  // The deleted row is gone for a re-read; the cursor goes on around it.
  EXPECT_FALSE(Q.Curr());
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(4, Id(Q));
  ASSERT_TRUE(Q.MoveTo(3));
  ASSERT_TRUE(Q.Curr());
  EXPECT_EQ(4, Id(Q));

  // Reopened, as a dataset repositions after its change.
  ASSERT_TRUE(Q.OpenWrite("select id, name from t order by id", {}));
  std::vector<int> Ids = {Id(Q)};
  while (Q.Next()) Ids.push_back(Id(Q));
  EXPECT_EQ((std::vector<int>{1, 2, 4, 5, 6, 7, 8, 9, 10}), Ids);
}

TEST_F(AsaChangesTest, LockTakesTheCurrentRow) {
  ASSERT_TRUE(Other->SetOption("blocking", "OFF"));
  Session->StartTransaction();
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenWrite("select id, name from t where id = 6", {}));
  ASSERT_TRUE(Q.Lock());
  EXPECT_EQ(6, Id(Q));
  EXPECT_GT(0, Exec(*Other, "update t set name = 'other' where id = 6")) << "the row is locked";
  Q.SetFieldValue("name", Variant("mine"));
  ASSERT_TRUE(Q.Modify());
  Session->Commit();
  EXPECT_EQ("mine", Seen("select name from t where id = 6").AsString());
}

}  // namespace
}  // namespace asatest
