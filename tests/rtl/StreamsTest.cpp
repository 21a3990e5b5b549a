#include "rtl/Streams.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {

// A private directory under the system's temporary directory, removed at the end.
class StreamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string Template = (std::filesystem::temp_directory_path() / "vdb-streams-XXXXXX").string();
    ASSERT_NE(mkdtemp(Template.data()), nullptr);
    Dir = Template;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::string PathOf(const std::string& Name) { return (Dir / Name).string(); }
  std::filesystem::path Dir;
};

std::string Slurp(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(In), {});
}

// The same contract for every concrete stream.
void CheckStreamContract(vcl::TStream& S) {
  SCOPED_TRACE(S.ClassName());
  S.WriteBuffer("hello world", 11);
  EXPECT_EQ(S.Position(), 11);
  EXPECT_EQ(S.Size(), 11);
  EXPECT_EQ(S.Seek(-5, vcl::soEnd), 6);
  char Buf[16] = {};
  EXPECT_EQ(S.Read(Buf, 100), 5);
  EXPECT_STREQ(Buf, "world");
  EXPECT_EQ(S.Read(Buf, 1), 0);
  EXPECT_THROW(S.ReadBuffer(Buf, 1), vcl::EReadError);
  EXPECT_EQ(S.Seek(-6, vcl::soCurrent), 5);
  S.WriteBuffer("_", 1);  // overwrites without truncating
  S.SetPosition(0);
  std::memset(Buf, 0, sizeof Buf);
  S.ReadBuffer(Buf, 11);
  EXPECT_STREQ(Buf, "hello_world");
  // Writing past the end leaves a zero-filled gap.
  S.Seek(int64_t{2}, vcl::soEnd);
  S.WriteBuffer("!", 1);
  EXPECT_EQ(S.Size(), 14);
  S.SetPosition(11);
  S.ReadBuffer(Buf, 3);
  EXPECT_EQ(std::string(Buf, 3), std::string("\0\0!", 3));
  S.SetSize(5);
  EXPECT_EQ(S.Size(), 5);
  EXPECT_EQ(S.Position(), 5);
  S.SetSize(8);
  S.SetPosition(0);
  S.ReadBuffer(Buf, 8);
  EXPECT_EQ(std::string(Buf, 8), std::string("hello\0\0\0", 8));
  // Positions beyond 32 bits are representable.
  EXPECT_EQ(S.Seek(int64_t{5} << 32, vcl::soBeginning), int64_t{5} << 32);
  S.SetPosition(0);
  EXPECT_EQ(S.Read(Buf, 0), 0);
}

TEST_F(StreamsTest, EveryStreamKeepsTheSameContract) {
  vcl::TMemoryStream M;
  CheckStreamContract(M);
  vcl::TStringStream T;
  CheckStreamContract(T);
  vcl::TFileStream F(PathOf("contract.bin"), vcl::fmCreate);
  CheckStreamContract(F);
}

TEST_F(StreamsTest, CopyFromCopiesCountOrTheWholeSource) {
  std::string Data(200000, '\0');
  for (size_t i = 0; i < Data.size(); ++i) Data[i] = static_cast<char>(i * 7);
  vcl::TStringStream Source(Data);
  Source.SetPosition(1000);

  vcl::TMemoryStream Part;
  EXPECT_EQ(Part.CopyFrom(Source, 70000), 70000);
  EXPECT_EQ(Source.Position(), 71000);
  EXPECT_EQ(std::memcmp(Part.Memory(), Data.data() + 1000, 70000), 0);

  vcl::TMemoryStream Whole;  // count 0 rewinds the source first
  EXPECT_EQ(Whole.CopyFrom(Source, 0), 200000);
  EXPECT_EQ(std::memcmp(Whole.Memory(), Data.data(), Data.size()), 0);

  Source.SetPosition(199990);
  vcl::TMemoryStream Short;
  EXPECT_THROW(Short.CopyFrom(Source, 20), vcl::EReadError);
}

TEST_F(StreamsTest, MemoryStreamFileRoundTripAndClear) {
  vcl::TMemoryStream M;
  for (int i = 0; i < 10000; ++i) M.WriteBuffer(&i, sizeof i);
  EXPECT_EQ(M.Size(), 40000);
  M.SaveToFile(PathOf("m.bin"));
  EXPECT_EQ(std::filesystem::file_size(PathOf("m.bin")), 40000u);

  vcl::TMemoryStream L;
  L.WriteBuffer("junk", 4);
  L.LoadFromFile(PathOf("m.bin"));
  EXPECT_EQ(L.Position(), 0);
  ASSERT_EQ(L.Size(), 40000);
  EXPECT_EQ(std::memcmp(L.Memory(), M.Memory(), 40000), 0);

  // A failed load leaves the old content in place.
  EXPECT_THROW(L.LoadFromFile(PathOf("missing.bin")), vcl::EFOpenError);
  EXPECT_EQ(L.Size(), 40000);

  vcl::TStringStream Copy;
  L.SaveToStream(Copy);
  EXPECT_EQ(Copy.Size(), 40000);
  L.Clear();
  EXPECT_EQ(L.Size(), 0);
  EXPECT_EQ(L.Position(), 0);
}

TEST_F(StreamsTest, MemoryStreamWritesFromItsOwnMemory) {
  vcl::TMemoryStream M;
  M.WriteBuffer("abcd", 4);
  for (int i = 0; i < 12; ++i) M.WriteBuffer(M.Memory(), M.Size());  // forces reallocation
  ASSERT_EQ(M.Size(), 4 << 12);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(M.Memory()) + (4 << 11), 8), "abcdabcd");
}

TEST_F(StreamsTest, NegativePositionTransfersNothing) {
  vcl::TMemoryStream M;
  M.WriteBuffer("abc", 3);
  EXPECT_EQ(M.Seek(-10, vcl::soCurrent), -7);
  char C;
  EXPECT_EQ(M.Read(&C, 1), 0);
  EXPECT_EQ(M.Write("x", 1), 0);
  EXPECT_THROW(M.WriteBuffer("x", 1), vcl::EWriteError);
  EXPECT_THROW(M.SetSize(-1), vcl::EStreamError);
  EXPECT_EQ(M.Size(), 3);
}

TEST_F(StreamsTest, FileStreamModes) {
  std::string File = PathOf("modes.txt");
  {
    vcl::TFileStream Create(File, vcl::fmCreate | vcl::fmShareExclusive);
    Create.WriteBuffer("0123456789", 10);
    EXPECT_EQ(Create.FileName(), File);
  }
  {
    vcl::TFileStream Read(File, vcl::fmOpenRead | vcl::fmShareDenyNone);
    EXPECT_EQ(Read.Size(), 10);
    EXPECT_THROW(Read.WriteBuffer("x", 1), vcl::EWriteError);
  }
  {
    vcl::TFileStream Write(File, vcl::fmOpenWrite);
    Write.SetPosition(2);
    Write.WriteBuffer("ab", 2);
    char C;
    Write.SetPosition(0);
    EXPECT_EQ(Write.Read(&C, 1), 0);
  }
  EXPECT_EQ(Slurp(File), "01ab456789");
  {
    vcl::TFileStream Both(File, vcl::fmOpenReadWrite | vcl::fmShareDenyWrite);
    Both.Seek(0, vcl::soEnd);
    Both.WriteBuffer("!", 1);
    Both.SetSize(4);
  }
  EXPECT_EQ(Slurp(File), "01ab");
  {
    vcl::TFileStream Again(File, vcl::fmCreate);  // truncates
  }
  EXPECT_EQ(std::filesystem::file_size(File), 0u);
}

TEST_F(StreamsTest, FileStreamFailuresNameTheFileAndTheReason) {
  struct Case { std::string File; uint16_t Mode; std::string Message; bool Create; };
  std::filesystem::create_directory(Dir / "sub");
  std::vector<Case> Cases{
      {PathOf("none.txt"), vcl::fmOpenRead,
       "Cannot open file \"" + PathOf("none.txt") + "\". No such file or directory", false},
      {PathOf("sub"), vcl::fmOpenRead,
       "Cannot open file \"" + PathOf("sub") + "\". Is a directory", false},
      {PathOf("no/dir/x.txt"), vcl::fmCreate,
       "Cannot create file \"" + PathOf("no/dir/x.txt") + "\". No such file or directory", true},
  };
  for (auto& C : Cases) {
    try {
      vcl::TFileStream F(C.File, C.Mode);
      ADD_FAILURE() << C.File;
    } catch (const vcl::EFCreateError& E) {
      EXPECT_TRUE(C.Create);
      EXPECT_EQ(E.Message(), C.Message);
    } catch (const vcl::EFOpenError& E) {
      EXPECT_FALSE(C.Create);
      EXPECT_EQ(E.Message(), C.Message);
    }
  }
}

TEST_F(StreamsTest, StringStreamReadsAndWritesText) {
  vcl::TStringStream S("name=value");
  EXPECT_EQ(S.ReadString(4), "name");
  EXPECT_EQ(S.ReadString(100), "=value");
  EXPECT_EQ(S.ReadString(1), "");
  S.SetPosition(5);
  S.WriteString("VALUE!");
  EXPECT_EQ(S.DataString(), "name=VALUE!");
}

}  // namespace
