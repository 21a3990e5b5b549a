// Blob streams and their manager, and the statement's copies between blob
// columns and streams, byte arrays and pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "VdbSqlTestStatement.h"
#include "core/VdbBase.h"
#include "rtl/Graphics.h"
#include "rtl/Streams.h"
#include "rtl/Variants.h"

namespace {

using vcl::Variant;
using vdbtest::TMemoryBlobStream;
using vdbtest::TMemorySession;
using vdbtest::TMemorySQL;

using vdbtest::FrameError;

std::string Content(vdb::TVantorBlobStream& Stream) {
  return Stream.Buffer() == nullptr ? std::string()
                                    : std::string(reinterpret_cast<const char*>(Stream.Buffer()), Stream.DataSize());
}

TEST(BlobStreamTest, StatesOfAFreshClearedWrittenAndTruncatedStream) {
  TMemoryBlobStream Stream(nullptr, "DOC");
  EXPECT_EQ(Stream.GetBlobSize(), 0);
  EXPECT_FALSE(Stream.IsNull());
  EXPECT_FALSE(Stream.Modified());

  Stream.Clear();
  EXPECT_TRUE(Stream.IsNull());

  EXPECT_EQ(Stream.Write("0123456789", 10), 10);
  EXPECT_EQ(Stream.DataSize(), 10);
  EXPECT_EQ(Stream.Position(), 10);
  EXPECT_TRUE(Stream.Modified());
  EXPECT_FALSE(Stream.IsNull());
  EXPECT_EQ(Stream.Seek(0, vcl::soEnd), 10);
  EXPECT_EQ(Stream.Seek(-4, vcl::soCurrent), 6);
  EXPECT_EQ(Stream.Seek(3, vcl::soBeginning), 3);

  Stream.Truncate();
  EXPECT_EQ(Stream.DataSize(), 0);
  EXPECT_EQ(Stream.Buffer(), nullptr);
  EXPECT_TRUE(Stream.Modified());
  EXPECT_TRUE(Stream.IsNull());
  EXPECT_EQ(Stream.GetBlobSize(), 0);

  Stream.Clear();
  EXPECT_EQ(Stream.Write("", 0), 0);
  EXPECT_TRUE(Stream.IsNull());
  EXPECT_FALSE(Stream.Modified());
}

TEST(BlobStreamTest, WritesLandAtThePositionAndNeverOutsideTheValue) {
  struct Step {
    int64_t SeekTo;  // from the beginning
    const char* Data;
    int64_t Written;
    std::string After;
  };
  const Step Steps[] = {
      {0, "abcdef", 6, "abcdef"},
      {2, "XY", 2, "abXYef"},                               // inside: the value keeps its size
      {4, "1234", 4, "abXY1234"},                           // across the end
      {10, "zz", 2, std::string("abXY1234\0\0zz", 12)},     // past the end: the gap is zero bytes
      {-3, "no", 0, std::string("abXY1234\0\0zz", 12)},     // before the start: nothing
  };
  TMemoryBlobStream Stream(nullptr, "DOC");
  for (const Step& S : Steps) {
    SCOPED_TRACE(S.Data);
    Stream.Seek(S.SeekTo, vcl::soBeginning);
    EXPECT_EQ(Stream.Write(S.Data, static_cast<int64_t>(std::strlen(S.Data))), S.Written);
    EXPECT_EQ(Content(Stream), S.After);
    EXPECT_EQ(Stream.DataSize(), static_cast<int32_t>(S.After.size()));
  }
  // Read serves what was written.
  std::string Back(12, '?');
  Stream.Seek(0, vcl::soBeginning);
  EXPECT_EQ(Stream.Read(Back.data(), 12), 12);
  EXPECT_EQ(Back, std::string("abXY1234\0\0zz", 12));
}

TEST(BlobStreamTest, ManagerOwnsItsStreamsAndFindsThemByName) {
  vdb::TVantorBlobManager Manager(nullptr);
  auto* Doc = new TMemoryBlobStream(&Manager, "Doc");
  auto* Pic = new TMemoryBlobStream(&Manager, "PICTURE");
  EXPECT_EQ(Manager.Count(), 2);
  EXPECT_EQ(Doc->Manager(), &Manager);
  EXPECT_EQ(Manager.BlobByName("doc"), Doc);
  EXPECT_EQ(Manager.BlobByName("Picture"), Pic);
  EXPECT_EQ(Manager.GetBlob(1), Pic);
  EXPECT_EQ(FrameError([&] { Manager.BlobByName("Other"); }), "Field \"Other\" is not a blob");
  EXPECT_THROW(Manager.GetBlob(2), vcl::EListError);

  Doc->Write("abc", 3);
  Pic->Write("xyz", 3);
  Manager.ClearBlobs();
  EXPECT_EQ(Manager.Count(), 2);
  EXPECT_TRUE(Doc->IsNull());
  EXPECT_FALSE(Pic->Modified());

  delete Doc;  // a stream freed by someone else leaves the manager
  EXPECT_EQ(Manager.Count(), 1);
  EXPECT_EQ(Manager.GetBlob(0), Pic);

  auto Taken = std::unique_ptr<vdb::TVantorBlobStream>(Pic);
  Manager.RemoveBlob(Pic);
  EXPECT_EQ(Pic->Manager(), nullptr);
  EXPECT_EQ(Manager.Count(), 0);

  new TMemoryBlobStream(&Manager, "A");
  new TMemoryBlobStream(&Manager, "B");
  Manager.Clear();
  EXPECT_EQ(Manager.Count(), 0);
}

// A writable cursor on one row with a memo, a blob and an integer column.
class SqlBlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SQL->SetSession(Session.get());
    SQL->Columns = {{"ID", vdb::vtInteger, 0}, {"DOC", vdb::vtMemo, 0}, {"IMG", vdb::vtBlob, 0}};
    SQL->Rows = {{Variant(1), Variant("fetched text"), vcl::Null()}};
    ASSERT_TRUE(SQL->OpenWrite("select * from t", {}));
  }

  std::unique_ptr<TMemorySession> Session = std::make_unique<TMemorySession>();
  std::unique_ptr<TMemorySQL> SQL = std::make_unique<TMemorySQL>();
};

TEST_F(SqlBlobTest, StreamsKnowTheirColumn) {
  vdb::TVantorBlobStream* Img = SQL->BlobManager()->BlobByName("img");
  EXPECT_EQ(Img->GetFieldNo(), 2);
  EXPECT_EQ(Img->GetFieldExtType(), 100 + vdb::vtBlob);
  TMemoryBlobStream Loose(nullptr, "IMG");
  EXPECT_EQ(Loose.GetFieldNo(), -1);
  EXPECT_EQ(Loose.GetFieldExtType(), -1);
  TMemoryBlobStream Stray(SQL->BlobManager(), "GONE");
  EXPECT_EQ(Stray.GetFieldNo(), -1);
}

TEST_F(SqlBlobTest, StreamToBlobCopiesTheWholeSourceAndMarksTheColumn) {
  vcl::TStringStream Source("new content");
  Source.Seek(4, vcl::soBeginning);  // copied from the beginning regardless
  SQL->StreamToBlob("IMG", &Source);
  EXPECT_FALSE(SQL->IsFieldNull("IMG"));
  EXPECT_TRUE(SQL->IsFieldDirty("IMG"));
  EXPECT_EQ(Content(*SQL->BlobManager()->BlobByName("IMG")), "new content");

  vcl::TMemoryStream Target;
  Target.Write("previous longer content", 23);
  Target.Seek(0, vcl::soBeginning);  // a reused target, rewound: the old tail goes
  SQL->BlobToStream(2, &Target);
  EXPECT_EQ(Target.Size(), 11);
  EXPECT_EQ(Target.Position(), 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(Target.Memory()), 11), "new content");
}

TEST_F(SqlBlobTest, BlobToStreamReadsTheFetchedValueAlsoOnReadOnlyCursors) {
  ASSERT_TRUE(SQL->OpenRead("select * from t", {}));
  vcl::TStringStream Target;
  SQL->BlobToStream("doc", &Target);
  EXPECT_EQ(Target.DataString(), "fetched text");
  EXPECT_EQ(Target.Position(), 0);
  EXPECT_FALSE(SQL->IsFieldDirty("DOC"));
}

TEST_F(SqlBlobTest, BlobOperationsCheckInTheirOrder) {
  vcl::TStringStream Stream("x");
  vcl::TPicture Picture;
  struct Case {
    const char* Name;
    bool ReadOnly;
    std::function<void()> Run;
    std::string Message;
  };
  const std::vector<Case> Cases = {
      {"read-only before the missing stream", true, [&] { SQL->StreamToBlob("IMG", nullptr); },
       vdb::VDB_ERR_CURS_READ_ONLY},
      {"read-only before the missing picture", true,
       [&] { SQL->GraphicToBlob("IMG", nullptr, vdb::gtBitmap); }, vdb::VDB_ERR_CURS_READ_ONLY},
      {"missing stream", false, [&] { SQL->StreamToBlob("IMG", nullptr); }, vdb::VDB_ERR_BLOB_STREAM_INVALID},
      {"missing target stream", true, [&] { SQL->BlobToStream("IMG", nullptr); }, vdb::VDB_ERR_BLOB_STREAM_INVALID},
      {"missing picture", false, [&] { SQL->GraphicToBlob("IMG", nullptr, vdb::gtIcon); },
       vdb::VDB_ERR_BLOB_PICTURE_INVALID},
      {"missing target picture", true, [&] { SQL->BlobToGraphic("IMG", nullptr, vdb::gtIcon); },
       vdb::VDB_ERR_BLOB_PICTURE_INVALID},
      {"unknown column", false, [&] { SQL->StreamToBlob("NOPE", &Stream); }, "Field \"NOPE\" not found"},
      {"unknown position", true, [&] { SQL->BlobToStream(7, &Stream); }, "Field \"7\" not found"},
      {"not a blob", false, [&] { SQL->StreamToBlob("ID", &Stream); }, "Field \"ID\" is not a blob"},
      {"not a blob to picture", true, [&] { SQL->BlobToGraphic(0, &Picture, vdb::gtBitmap); },
       "Field \"ID\" is not a blob"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (C.ReadOnly) {
      ASSERT_TRUE(SQL->OpenRead("select * from t", {}));
    } else {
      ASSERT_TRUE(SQL->OpenWrite("select * from t", {}));
    }
    EXPECT_EQ(FrameError(C.Run), C.Message);
    EXPECT_EQ(Session->LastError(), C.Message);
  }
}

TEST_F(SqlBlobTest, PicturesGoThroughTheBlobInTheNamedFormat) {
  vcl::TPicture Source;
  Source.Bitmap()->SetSize(3, 2, 24);
  Source.Bitmap()->Pixels()[0] = 0x7F;
  SQL->GraphicToBlob("IMG", &Source, vdb::gtBitmap);
  EXPECT_FALSE(SQL->IsFieldNull("IMG"));
  EXPECT_EQ(SQL->BlobManager()->BlobByName("IMG")->DataSize(),
            static_cast<int32_t>(Source.Bitmap()->Image().size()));

  vcl::TPicture Back;
  SQL->BlobToGraphic("IMG", &Back, vdb::gtBitmap);
  ASSERT_NE(dynamic_cast<vcl::TBitmap*>(Back.Graphic()), nullptr);
  EXPECT_EQ(Back.Width(), 3);
  EXPECT_EQ(Back.Height(), 2);
  EXPECT_EQ(Back.Bitmap()->Image(), Source.Bitmap()->Image());

  // The caller names the format; a bitmap is no icon.
  vcl::TPicture Wrong;
  EXPECT_THROW(SQL->BlobToGraphic("IMG", &Wrong, vdb::gtIcon), vcl::EInvalidGraphic);
}

TEST(BlobConversionTest, BytesToVariantsAndText) {
  EXPECT_TRUE(vcl::VarIsNull(vdb::TVantorSQL::StrToVarByte("abc", 0)));
  EXPECT_TRUE(vcl::VarIsNull(vdb::TVantorSQL::StrToVarByte("abc", -1)));
  const Variant Bytes = vdb::TVantorSQL::StrToVarByte("a\0c", 3);
  EXPECT_EQ(vcl::VarType(Bytes), vcl::varArray | vcl::varByte);
  EXPECT_EQ(vcl::VarArrayLowBound(Bytes, 1), 0);
  EXPECT_EQ(vcl::VarArrayHighBound(Bytes, 1), 2);
  EXPECT_EQ(Bytes.GetElement(1), Variant(static_cast<unsigned char>(0)));

  EXPECT_TRUE(vcl::VarIsNull(vdb::TVantorSQL::StreamToVarByte(nullptr)));
  EXPECT_EQ(vdb::TVantorSQL::StreamToStr(nullptr), "");
  vcl::TMemoryStream Stream;
  EXPECT_TRUE(vcl::VarIsNull(vdb::TVantorSQL::StreamToVarByte(&Stream)));
  EXPECT_EQ(vdb::TVantorSQL::StreamToStr(&Stream), "");
  Stream.Write("x\0yz", 4);
  Stream.Seek(2, vcl::soBeginning);  // the whole content, whatever the position
  EXPECT_EQ(vdb::TVantorSQL::StreamToStr(&Stream), std::string("x\0yz", 4));
  EXPECT_EQ(vdb::TVantorSQL::StreamToVarByte(&Stream), vcl::VarArrayFromBytes("x\0yz", 4));
}

}  // namespace
