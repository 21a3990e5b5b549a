#include "rtl/Graphics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using TBytes = std::vector<uint8_t>;

void Put16(TBytes& B, size_t At, uint16_t V) {
  B[At] = static_cast<uint8_t>(V);
  B[At + 1] = static_cast<uint8_t>(V >> 8);
}
void Put32(TBytes& B, size_t At, uint32_t V) {
  for (size_t i = 0; i < 4; ++i) B[At + i] = static_cast<uint8_t>(V >> (8 * i));
}

// A 3 x 2 bitmap, 24 bits per pixel, with recognisable pixels.
TBytes BitmapFile() {
  vcl::TBitmap bmp;
  bmp.SetSize(3, 2);
  for (uint32_t i = 0; i < bmp.RowStride() * 2; ++i) bmp.Pixels()[i] = static_cast<uint8_t>(i + 1);
  return bmp.Image();
}

// A placeable metafile of one inch by half an inch holding only the end record.
TBytes PlaceableMetafile() {
  TBytes b(22 + 18 + 6, 0);
  Put32(b, 0, 0x9AC6CDD7);
  Put16(b, 10, 1440);  // right
  Put16(b, 12, 720);   // bottom
  Put16(b, 14, 1440);  // units per inch
  uint16_t sum = 0;
  for (size_t i = 0; i < 20; i += 2) sum ^= static_cast<uint16_t>(b[i] | (b[i + 1] << 8));
  Put16(b, 20, sum);
  Put16(b, 22, 1);       // in memory
  Put16(b, 24, 9);       // header words
  Put16(b, 26, 0x0300);  // version
  Put32(b, 28, 12);      // size in words
  Put32(b, 34, 3);       // largest record
  Put32(b, 40, 3);       // end record: three words, function 0
  return b;
}

// An enhanced metafile of 1 x 2 inches: header and end record.
TBytes EnhancedMetafile() {
  TBytes b(88 + 20, 0);
  Put32(b, 0, 1);
  Put32(b, 4, 88);
  Put32(b, 32, 2540);  // frame right, 0.01 mm
  Put32(b, 36, 5080);  // frame bottom
  Put32(b, 40, 0x464D4520);
  Put32(b, 44, 0x10000);
  Put32(b, 48, static_cast<uint32_t>(b.size()));
  Put32(b, 52, 2);
  Put32(b, 88, 14);  // end record
  Put32(b, 92, 20);
  return b;
}

// An icon file with a 16 x 16 image and a 256 x 256 one.
TBytes IconFile() {
  TBytes b(6 + 2 * 16 + 40 + 8, 0);
  Put16(b, 2, 1);
  Put16(b, 4, 2);
  b[6] = 16;
  b[7] = 16;
  Put16(b, 6 + 4, 1);
  Put16(b, 6 + 6, 32);
  Put32(b, 6 + 8, 40);
  Put32(b, 6 + 12, 38);
  Put32(b, 22 + 8, 8);
  Put32(b, 22 + 12, 78);
  for (size_t i = 38; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i);
  return b;
}

vcl::TMemoryStream StreamOf(const TBytes& Prefix, const TBytes& Data, const TBytes& Suffix) {
  vcl::TMemoryStream s;
  for (const TBytes* part : {&Prefix, &Data, &Suffix})
    if (!part->empty()) s.WriteBuffer(part->data(), static_cast<int64_t>(part->size()));
  s.SetPosition(static_cast<int64_t>(Prefix.size()));
  return s;
}

TBytes Contents(vcl::TMemoryStream& S) { return TBytes(S.Memory(), S.Memory() + S.Size()); }

struct TTempDir {
  fs::path Path;
  TTempDir() {
    std::string templ = (fs::temp_directory_path() / "rtlgfx-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    Path = templ;
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
};

TEST(PictureTest, EachFormatRoundTripsThroughStreamsAndFiles) {
  struct TCase {
    const char* Label;
    TBytes File;
    std::string Class;
    int32_t Width, Height;
  } cases[] = {
      {"bitmap", BitmapFile(), "TBitmap", 3, 2},
      {"placeable metafile", PlaceableMetafile(), "TMetafile", 96, 48},
      {"enhanced metafile", EnhancedMetafile(), "TMetafile", 96, 192},
      {"icon", IconFile(), "TIcon", 16, 16},
  };
  TTempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    // Embedded between other bytes, as in a blob with a header.
    vcl::TMemoryStream in = StreamOf({9, 9, 9}, c.File, {7, 7});
    vcl::TPicture picture;
    picture.LoadFromStream(in);
    EXPECT_EQ(in.Position(), static_cast<int64_t>(3 + c.File.size()));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassName(), c.Class);
    EXPECT_EQ(picture.Width(), c.Width);
    EXPECT_EQ(picture.Height(), c.Height);
    EXPECT_FALSE(picture.Graphic()->Modified());

    vcl::TMemoryStream out;
    picture.SaveToStream(out);
    EXPECT_EQ(Contents(out), c.File);

    fs::path file = dir.Path / (std::string(c.Label) + ".img");
    picture.SaveToFile(file.string());
    vcl::TPicture fromFile;
    fromFile.LoadFromFile(file.string());
    ASSERT_NE(fromFile.Graphic(), nullptr);
    EXPECT_EQ(fromFile.Graphic()->Image(), c.File);
    EXPECT_EQ(fs::file_size(file), c.File.size());
  }
  vcl::TPicture icon;
  vcl::TMemoryStream in = StreamOf({}, IconFile(), {});
  icon.Icon()->LoadFromStream(in);
  EXPECT_EQ(icon.Icon()->ImageCount(), 2);
  vcl::TMemoryStream emf = StreamOf({}, EnhancedMetafile(), {});
  vcl::TMetafile meta;
  meta.LoadFromStream(emf);
  EXPECT_TRUE(meta.Enhanced());
}

TEST(PictureTest, WrongOrDamagedBytesAreRejectedAndChangeNothing) {
  using TEdit = std::function<void(TBytes&)>;
  struct TCase {
    const char* Label;
    std::function<std::unique_ptr<vcl::TGraphic>()> Make;  // null: load through TPicture
    TBytes File;
    TEdit Edit;
    std::string Message;
  };
  auto bitmap = [] { return std::make_unique<vcl::TBitmap>(); };
  auto metafile = [] { return std::make_unique<vcl::TMetafile>(); };
  auto icon = [] { return std::make_unique<vcl::TIcon>(); };
  const std::string badBmp = "Bitmap image is not valid", badMeta = "Metafile is not valid",
                    badIcon = "Icon image is not valid";
  TCase cases[] = {
      {"bitmap truncated", bitmap, BitmapFile(), [](TBytes& b) { b.pop_back(); }, badBmp},
      {"bitmap file size too small", bitmap, BitmapFile(), [](TBytes& b) { Put32(b, 2, 20); }, badBmp},
      {"bitmap pixels past the end", bitmap, BitmapFile(), [](TBytes& b) { Put32(b, 10, static_cast<uint32_t>(b.size() - 4)); }, badBmp},
      {"bitmap offset inside header", bitmap, BitmapFile(), [](TBytes& b) { Put32(b, 10, 20); }, badBmp},
      {"bitmap zero planes", bitmap, BitmapFile(), [](TBytes& b) { Put16(b, 26, 0); }, badBmp},
      {"bitmap odd depth", bitmap, BitmapFile(), [](TBytes& b) { Put16(b, 28, 7); }, badBmp},
      {"bitmap info header size", bitmap, BitmapFile(), [](TBytes& b) { Put32(b, 14, 30); }, badBmp},
      {"bitmap huge width", bitmap, BitmapFile(), [](TBytes& b) { Put32(b, 18, 0x7FFFFFFF); }, badBmp},
      {"bitmap given an icon", bitmap, IconFile(), nullptr, badBmp},
      {"metafile checksum", metafile, PlaceableMetafile(), [](TBytes& b) { b[20] ^= 1; }, badMeta},
      {"metafile truncated", metafile, PlaceableMetafile(), [](TBytes& b) { b.resize(b.size() - 2); }, badMeta},
      {"metafile plain header only", metafile, PlaceableMetafile(), [](TBytes& b) { b.erase(b.begin(), b.begin() + 22); }, badMeta},
      {"emf signature", metafile, EnhancedMetafile(), [](TBytes& b) { b[40] = 'X'; }, badMeta},
      {"emf size beyond data", metafile, EnhancedMetafile(), [](TBytes& b) { Put32(b, 48, 4000); }, badMeta},
      {"emf header size", metafile, EnhancedMetafile(), [](TBytes& b) { Put32(b, 4, 40); }, badMeta},
      {"metafile given a bitmap", metafile, BitmapFile(), nullptr, badMeta},
      {"icon cursor type", icon, IconFile(), [](TBytes& b) { Put16(b, 2, 2); }, badIcon},
      {"icon no images", icon, IconFile(), [](TBytes& b) { Put16(b, 4, 0); }, badIcon},
      {"icon image past the end", icon, IconFile(), [](TBytes& b) { Put32(b, 22 + 12, 4000); }, badIcon},
      {"icon image inside directory", icon, IconFile(), [](TBytes& b) { Put32(b, 6 + 12, 10); }, badIcon},
      {"icon truncated", icon, IconFile(), [](TBytes& b) { b.resize(50); }, badIcon},
      {"picture unknown format", nullptr, TBytes{'G', 'I', 'F', '8', '9', 'a', 0, 0}, nullptr, "Unknown picture format"},
      {"picture empty stream", nullptr, TBytes{}, nullptr, "Unknown picture format"},
      {"picture truncated bitmap", nullptr, BitmapFile(), [](TBytes& b) { b.resize(30); }, badBmp},
  };
  for (TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    if (c.Edit) c.Edit(c.File);
    vcl::TMemoryStream in = StreamOf({1, 2}, c.File, {});

    // What was loaded before stays: a valid file of the target's own kind.
    std::unique_ptr<vcl::TGraphic> graphic = c.Make ? c.Make() : nullptr;
    std::string kind = graphic ? graphic->ClassName() : "TPicture";
    TBytes valid = kind == "TBitmap" ? BitmapFile() : kind == "TMetafile" ? PlaceableMetafile() : IconFile();
    vcl::TMemoryStream validStream = StreamOf({}, valid, {});
    vcl::TPicture picture;
    int changes = 0;
    if (graphic) {
      graphic->LoadFromStream(validStream);
      graphic->OnChange = [&](vcl::TObject*) { ++changes; };
    } else {
      picture.LoadFromStream(validStream);
      picture.OnChange = [&](vcl::TObject*) { ++changes; };
    }
    vcl::TGraphic* current = graphic ? graphic.get() : picture.Graphic();

    try {
      if (graphic)
        graphic->LoadFromStream(in);
      else
        picture.LoadFromStream(in);
      FAIL() << "no exception";
    } catch (const vcl::EInvalidGraphic& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    EXPECT_EQ(in.Position(), 2);
    EXPECT_EQ(changes, 0);
    if (!graphic) {
      EXPECT_EQ(picture.Graphic(), current);
    }
    EXPECT_EQ(current->Image(), valid);
    EXPECT_GT(current->Width(), 0);
  }
}

TEST(PictureTest, AccessorsAssignAndStreamPersistence) {
  vcl::TPicture picture;
  int changes = 0;
  picture.OnChange = [&](vcl::TObject*) { ++changes; };
  EXPECT_EQ(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Width(), 0);

  vcl::TBitmap* bmp = picture.Bitmap();
  EXPECT_EQ(picture.Bitmap(), bmp);  // already a bitmap: kept
  bmp->SetSize(5, 4, 8);
  EXPECT_EQ(picture.Width(), 5);
  EXPECT_EQ(bmp->BitCount(), 8);
  EXPECT_TRUE(bmp->Modified());
  EXPECT_GE(changes, 2);

  // Another picture gets its own copy.
  vcl::TPicture copy;
  copy.Assign(&picture);
  ASSERT_NE(copy.Graphic(), nullptr);
  EXPECT_NE(copy.Graphic(), picture.Graphic());
  EXPECT_EQ(copy.Graphic()->Image(), bmp->Image());
  bmp->Pixels()[0] = 0xAB;
  EXPECT_NE(copy.Graphic()->Image(), bmp->Image());

  // A graphic takes a picture holding its own kind.
  vcl::TBitmap standalone;
  standalone.Assign(&picture);
  EXPECT_EQ(standalone.Image(), bmp->Image());
  vcl::TIcon icon;
  EXPECT_THROW(icon.Assign(&picture), vcl::EConvertError);

  // Asking for another kind replaces the graphic.
  EXPECT_TRUE(picture.Icon()->Empty());
  EXPECT_EQ(picture.Graphic()->ClassName(), "TIcon");
  vcl::TMemoryStream empty;
  picture.SaveToStream(empty);
  EXPECT_EQ(empty.Size(), 0);

  vcl::TPersistent unrelated;
  EXPECT_THROW(picture.Assign(&unrelated), vcl::EConvertError);
  picture.Assign(nullptr);
  EXPECT_EQ(picture.Graphic(), nullptr);

  // Code that only knows a TPersistent finds the stream interface.
  vcl::TPersistent* asPersistent = &copy;
  auto* persist = dynamic_cast<vcl::IStreamPersist*>(asPersistent);
  ASSERT_NE(persist, nullptr);
  vcl::TMemoryStream saved;
  persist->SaveToStream(saved);
  saved.SetPosition(0);
  vcl::TPicture reloaded;
  dynamic_cast<vcl::IStreamPersist&>(reloaded).LoadFromStream(saved);
  EXPECT_EQ(reloaded.Graphic()->Image(), copy.Graphic()->Image());
  EXPECT_EQ(reloaded.Height(), 4);

}

}  // namespace
