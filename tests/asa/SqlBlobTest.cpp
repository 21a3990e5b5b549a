// TAsaSQL long values: reading whole values in pieces through the blob
// stream, the prefix in the fetch buffer and its truncation test, NULL
// values, failed reads, auxiliary statements with values, and procedure
// result sets stepped through with Resume.
#include <numeric>

#include "AsaCallLog.h"
#include "AsaSqlFixture.h"

namespace asatest {
namespace {

using vcl::Variant;

class AsaBlobTest : public AsaSqlTest {
 protected:
  void SetUp() override {
    AsaSqlTest::SetUp();
    Run("create table b (id int primary key, memo long varchar, data long binary)");
    Run("insert into b values (1, 'abc', x'010203'), (2, null, null), (3, '" + std::string(1000, 'k') + "', null)");
  }
  static std::string Bytes(size_t Length) {
    std::string S(Length, '\0');
    for (size_t I = 0; I < Length; ++I) S[I] = static_cast<char>(I * 7 + I / 251);
    return S;
  }
  static std::string Text(vcl::TMemoryStream& M) {
    return std::string(reinterpret_cast<const char*>(M.Memory()), static_cast<size_t>(M.Size()));
  }
};

TEST_F(AsaBlobTest, A100000ByteValueTravelsInPiecesBothWays) {
  const std::string Value = Bytes(100000);
  {
    auto& W = NewLoggingSQL();
    ASSERT_TRUE(W.OpenWrite("select id, data from b where id = 2", {}));
    vcl::TMemoryStream Source;
    Source.Write(Value.data(), static_cast<int64_t>(Value.size()));
    W.StreamToBlob("data", &Source);
    Log().Reset();
    ASSERT_TRUE(W.Modify());
    EXPECT_EQ((std::vector<int>{32765, 32765, 32765, 1705}), Log().Pieces);
    EXPECT_EQ(1, Log().Count("dbpp_prepare")) << "one append statement for all pieces";
  }
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenRead("select data from b where id = 2", {}));
  vdb::TVantorBlobStream* Blob = Q.BlobManager()->BlobByName("data");
  Log().Reset();
  vcl::TMemoryStream Target;
  Q.BlobToStream("data", &Target);
  EXPECT_EQ(4, Log().Count("dbpp_get_data")) << "at most 32765 bytes a piece, read once";
  EXPECT_TRUE(Text(Target) == Value);
  EXPECT_EQ(100000, Blob->GetBlobSize());
  EXPECT_FALSE(Blob->Modified());
  EXPECT_EQ(4, Log().Count("dbpp_get_data")) << "the current row's value is held";

  // The stream itself, in uneven reads.
  Blob->SetPosition(0);
  std::string Read;
  char Chunk[7777];
  for (int64_t N; (N = Blob->Read(Chunk, sizeof Chunk)) > 0;) Read.append(Chunk, static_cast<size_t>(N));
  EXPECT_TRUE(Read == Value);
  EXPECT_EQ(0, Blob->Read(Chunk, sizeof Chunk));
  EXPECT_EQ(100000, Blob->Seek(0, vcl::soEnd));

  // A memo of the same length as text.
  Run("update b set memo = '" + std::string(99999, 'm') + "z' where id = 2");
  auto& M = NewLoggingSQL();
  ASSERT_TRUE(M.OpenRead("select memo from b where id = 2", {}));
  Log().Reset();
  const std::string Memo = M.GetFieldValue("memo").AsString();
  EXPECT_EQ(100000u, Memo.size());
  EXPECT_EQ('z', Memo.back());
  EXPECT_EQ(4, Log().Count("dbpp_get_data"));
}

// What a read costs and answers, by BlobSize and value.
TEST_F(AsaBlobTest, ValuesComeFromThePrefixOrThroughTheStream) {
  struct Case {
    int32_t BlobSize;
    int Id;
    bool Truncated;
    int Calls;  // dbpp_get_data calls to read the memo
    bool Null;
    size_t Length;
  } const Cases[] = {
      {0, 1, true, 1, false, 3},      // BlobSize 0: every value through the stream
      {100, 1, false, 0, false, 3},   // fits into the prefix
      {0, 2, true, 1, true, 0},       // NULL, found out from the server
      {100, 2, false, 0, true, 0},    // NULL is not truncated
      {100, 3, true, 1, false, 1000}, // longer than the prefix
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(std::to_string(C.BlobSize) + " / " + std::to_string(C.Id));
    auto& Q = NewLoggingSQL();
    Q.SetBlobSize(C.BlobSize);
    ASSERT_TRUE(Q.OpenRead("select memo from b where id = " + std::to_string(C.Id), {}));
    vdb::TVantorBlobStream* Blob = Q.BlobManager()->BlobByName("memo");
    EXPECT_EQ(C.Truncated, Q.IsBlobTruncated(Blob));
    EXPECT_EQ(C.Null, Q.IsFieldNull("memo"));
    Log().Reset();
    const std::string Value = Q.GetFieldValue("memo").AsString();
    EXPECT_EQ(C.Calls, Log().Count("dbpp_get_data"));
    EXPECT_EQ(C.Length, Value.size());
    if (C.Truncated) {
      EXPECT_EQ(C.Null, Blob->IsNull());
      EXPECT_EQ(static_cast<int32_t>(C.Length), Blob->GetBlobSize());
    }
  }
}

// An empty value is a value: it reads as empty, never as NULL, whether it
// came with the row or through the stream.
TEST_F(AsaBlobTest, EmptyLongValuesReadAsEmptyNotNull) {
  Run("insert into b values (4, '', x'')");
  for (int32_t BlobSize : {0, 100}) {
    SCOPED_TRACE(BlobSize);
    auto& Q = NewSQL();
    Q.SetBlobSize(BlobSize);
    ASSERT_TRUE(Q.OpenRead("select memo, data from b where id = 4", {}));
    EXPECT_FALSE(Q.IsFieldNull("memo"));
    EXPECT_FALSE(Q.IsFieldNull("data"));
    const Variant Memo = Q.GetFieldValue("memo");
    ASSERT_FALSE(vcl::VarIsNull(Memo));
    EXPECT_EQ("", Memo.AsString());
    const Variant Data = Q.GetFieldValue("data");
    ASSERT_TRUE(vcl::VarIsArray(Data));
    EXPECT_TRUE(vcl::VarArrayBytes(Data).empty());
    vcl::TMemoryStream Target;
    Q.BlobToStream("data", &Target);
    EXPECT_EQ(0, Target.Size());
    EXPECT_EQ(0, Q.BlobManager()->BlobByName("memo")->GetBlobSize());
  }
}

// Character columns past 8192 are memos: every cursor over them fetches one
// row at a time, also those described only at open, so that a value read
// through the stream is the current row's.
TEST_F(AsaBlobTest, LongCharacterColumnsFetchOneRowAtATime) {
  Run("create table w (id int primary key, text varchar(9000))");
  Run("insert into w values (1, '" + std::string(500, 'a') + "'), (2, '" + std::string(600, 'b') + "'), (3, '" +
      std::string(700, 'c') + "')");
  Run("create procedure p_w() begin select id, text from w order by id; end");
  struct {
    const char* SQL;
    vdb::TAsaCursorType Type;
  } const Cases[] = {
      {"select id, text from w order by id", vdb::actDefault},
      {"select id, text from w order by id", vdb::actUnique},
      {"call p_w()", vdb::actDefault},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.SQL) + " / " + std::to_string(C.Type));
    auto& Q = NewSQL();
    Q.SetCursorType(C.Type);
    ASSERT_TRUE(Q.OpenRead(C.SQL, {}));
    EXPECT_EQ(vdb::vtMemo, Q.GetFieldType(1));
    EXPECT_EQ(1, Q.FetchCount());
    for (int Id = 1; Id <= 3; ++Id) {
      SCOPED_TRACE(Id);
      EXPECT_EQ(Id, Q.GetFieldValue("id").AsInteger());
      EXPECT_EQ(std::string(400 + 100 * Id, static_cast<char>('a' + Id - 1)), Q.GetFieldValue("text").AsString());
      EXPECT_EQ(Id < 3, Q.Next());
    }
  }
}

TEST_F(AsaBlobTest, StreamsAreEmptiedWhenTheRowChanges) {
  auto& Q = NewLoggingSQL();
  ASSERT_TRUE(Q.OpenRead("select id, memo from b order by id", {}));
  vdb::TVantorBlobStream* Blob = Q.BlobManager()->BlobByName("memo");
  EXPECT_EQ(3, Blob->GetBlobSize());
  ASSERT_TRUE(Q.Next());
  ASSERT_TRUE(Q.Next());
  EXPECT_EQ(1000, Blob->GetBlobSize());
  ASSERT_TRUE(Q.Prev());
  ASSERT_TRUE(Q.Prev());
  EXPECT_EQ(3, Blob->GetBlobSize());
  EXPECT_EQ("abc", Q.GetFieldValue("memo").AsString());
}

TEST_F(AsaBlobTest, AFailedPieceReadIsReportedNotTakenForAnEmptyValue) {
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("select memo from b where id = 3", {}));
  vdb::TVantorBlobStream* Blob = Q.BlobManager()->BlobByName("memo");
  Q.Close();
  EXPECT_THROW(Blob->GetBlobSize(), vdb::EAsaException);
  Q.SetWantExceptions(false);
  char Buffer[10];
  EXPECT_EQ(0, Blob->Read(Buffer, sizeof Buffer));
  EXPECT_TRUE(Blob->IsNull());
  EXPECT_GT(0, Q.LastErrorCode());
}

TEST_F(AsaBlobTest, LocalExecuteRunsWithAndWithoutValues) {
  auto& Q = NewSQL();
  const uint8_t Data[] = {9, 8, 7};
  ASSERT_TRUE(Q.InternalLocalExecute("insert into b (id, memo, data) values (?, ?, ?)",
                                     vcl::VarArrayOf({Variant(10), Variant("ten"),
                                                      vcl::VarArrayFromBytes(Data, sizeof Data)})));
  ASSERT_TRUE(Q.InternalLocalExecute("update b set memo = memo || '!' where id = 10", vcl::Null()));
  EXPECT_EQ("ten!", Value("select memo from b where id = 10").AsString());
  EXPECT_TRUE(vcl::VarArrayFromBytes(Data, sizeof Data) == Value("select data from b where id = 10"));
  // Each statement with values went back to the pool: one number served both.
  EXPECT_EQ(1, Session->StatementPool()->Count());
  EXPECT_NE(0, Session->StatementPool()->Next());
  Q.SetWantExceptions(false);
  EXPECT_FALSE(Q.InternalLocalExecute("insert into nowhere values (?)", vcl::VarArrayOf({Variant(1)})));
  EXPECT_GT(0, Q.LastErrorCode());
}

// A call whose result sets follow one another: Resume opens the next one
// and, past the last, ends StillInProc.
TEST_F(AsaBlobTest, ResumeStepsThroughTheResultSetsOfACall) {
  Run("create table t (id int primary key, name varchar(20))");
  std::string Insert = "insert into t values (1, 'name 1')";
  for (int I = 2; I <= 30; ++I) Insert += ", (" + std::to_string(I) + ", 'name " + std::to_string(I) + "')";
  Run(Insert);
  Run("create procedure p_two(in k integer)\n"
      "begin\n"
      "  select id, name from t where id <= k order by id;\n"
      "  select count(*) as n from t;\n"
      "end");
  auto& Q = NewSQL();
  ASSERT_TRUE(Q.OpenRead("call p_two(?)", {Variant(28)}));
  EXPECT_TRUE(Q.GetResumable());
  EXPECT_TRUE(Q.StillInProc());
  ASSERT_EQ(2, Q.FieldCount());
  EXPECT_EQ("name", Q.GetFieldName(1));
  std::vector<int> Ids = {Q.GetFieldValue("id").AsInteger()};
  while (Q.Next()) Ids.push_back(Q.GetFieldValue("id").AsInteger());
  std::vector<int> Expected(28);
  std::iota(Expected.begin(), Expected.end(), 1);
  EXPECT_EQ(Expected, Ids) << "in blocks over the first result set";

  ASSERT_TRUE(Q.Resume());
  EXPECT_TRUE(Q.StillInProc());
  ASSERT_EQ(1, Q.FieldCount());
  EXPECT_EQ("n", Q.GetFieldName(0));
  EXPECT_EQ(0, Q.RecNo());
  EXPECT_EQ(30, Q.GetFieldValue("n").AsInteger());
  EXPECT_FALSE(Q.Next());

  EXPECT_FALSE(Q.Resume());
  EXPECT_FALSE(Q.StillInProc());
  EXPECT_EQ(SQLE_PROCEDURE_COMPLETE, Q.LastErrorCode());
  EXPECT_FALSE(Q.Resume());
  EXPECT_FALSE(Q.StillInProc());

  // Reopened, the call starts again with its first result set.
  ASSERT_TRUE(Q.OpenRead("call p_two(?)", {Variant(3)}));
  EXPECT_TRUE(Q.StillInProc());
  EXPECT_EQ(1, Q.GetFieldValue("id").AsInteger());
}

}  // namespace
}  // namespace asatest
