#include "rtl/Graphics.h"

#include <algorithm>
#include <cstring>
#include <typeinfo>

namespace vcl {

namespace {

constexpr uint32_t PlaceableKey = 0x9AC6CDD7;
constexpr uint32_t EmfHeaderType = 1;
constexpr uint32_t EmfSignature = 0x464D4520;  // " EMF"
constexpr size_t BmpFileHeaderSize = 14;
constexpr size_t PlaceableHeaderSize = 22;
constexpr size_t WmfHeaderSize = 18;
constexpr size_t EmfHeaderSize = 88;
constexpr size_t IconDirSize = 6;
constexpr size_t IconEntrySize = 16;
// A larger picture is taken for damaged input rather than allocated.
constexpr uint64_t MaxImageBytes = uint64_t{1} << 31;

uint16_t U16(const uint8_t* P) { return static_cast<uint16_t>(P[0] | (P[1] << 8)); }
uint32_t U32(const uint8_t* P) {
  return static_cast<uint32_t>(P[0]) | (static_cast<uint32_t>(P[1]) << 8) |
         (static_cast<uint32_t>(P[2]) << 16) | (static_cast<uint32_t>(P[3]) << 24);
}
int16_t I16(const uint8_t* P) { return static_cast<int16_t>(U16(P)); }
int32_t I32(const uint8_t* P) { return static_cast<int32_t>(U32(P)); }

void Put16(std::vector<uint8_t>& B, size_t At, uint16_t V) {
  B[At] = static_cast<uint8_t>(V);
  B[At + 1] = static_cast<uint8_t>(V >> 8);
}
void Put32(std::vector<uint8_t>& B, size_t At, uint32_t V) {
  for (int i = 0; i < 4; ++i) B[At + static_cast<size_t>(i)] = static_cast<uint8_t>(V >> (8 * i));
}

uint64_t RowBytes(uint64_t Width, uint64_t BitCount) { return (Width * BitCount + 31) / 32 * 4; }

bool ValidBitCount(uint16_t Bits) {
  return Bits == 1 || Bits == 4 || Bits == 8 || Bits == 16 || Bits == 24 || Bits == 32;
}

int32_t ScaleTo96(int64_t Units, int64_t PerInch) {
  if (PerInch <= 0) return 0;
  int64_t v = (std::llabs(Units) * 96 + PerInch / 2) / PerInch;
  return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX));
}

}  // namespace

// --- TGraphic ---------------------------------------------------------------

void TGraphic::LoadFromStream(TStream& Stream) {
  const int64_t start = Stream.Position();
  std::vector<uint8_t> image;
  try {
    ReadImage(Stream, image);
    Parse(image);
  } catch (...) {
    Stream.Seek(start, soBeginning);
    throw;
  }
  SetImage(std::move(image));
  Changed();
  FModified = false;
}

void TGraphic::SaveToStream(TStream& Stream) {
  if (!FImage.empty()) Stream.WriteBuffer(FImage.data(), static_cast<int64_t>(FImage.size()));
}

void TGraphic::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& FileName) {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
  FModified = false;
}

void TGraphic::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TGraphic*>(Source);
  if (other == nullptr || typeid(*other) != typeid(*this)) {
    TPersistent::Assign(Source);
    return;
  }
  if (other == this) return;
  std::vector<uint8_t> image = other->FImage;
  Parse(image);
  SetImage(std::move(image));
  Changed();
}

void TGraphic::SetImage(std::vector<uint8_t> Image) { FImage = std::move(Image); }

void TGraphic::Changed() {
  FModified = true;
  if (OnChange) OnChange(this);
}

void TGraphic::ReadExact(TStream& Stream, uint8_t* Buffer, uint64_t Count) {
  // Checked before anything is allocated for a length read from the input.
  const int64_t left = Stream.Size() - Stream.Position();
  if (left < 0 || static_cast<uint64_t>(left) < Count) throw EInvalidGraphic(InvalidMessage());
  uint64_t done = 0;
  while (done < Count) {
    int64_t n = Stream.Read(Buffer + done, static_cast<int64_t>(Count - done));
    if (n <= 0) throw EInvalidGraphic(InvalidMessage());
    done += static_cast<uint64_t>(n);
  }
}

// --- TBitmap ----------------------------------------------------------------

uint32_t TBitmap::RowStride() const { return static_cast<uint32_t>(RowBytes(FWidth, FBitCount)); }

void TBitmap::ReadImage(TStream& Stream, std::vector<uint8_t>& Image) {
  uint8_t header[BmpFileHeaderSize];
  ReadExact(Stream, header, sizeof header);
  const uint32_t fileSize = U32(header + 2);
  if (header[0] != 'B' || header[1] != 'M' || fileSize < BmpFileHeaderSize + 12 || fileSize > MaxImageBytes)
    throw EInvalidGraphic(InvalidMessage());
  const int64_t left = Stream.Size() - Stream.Position();
  if (left < 0 || static_cast<uint64_t>(left) < fileSize - BmpFileHeaderSize)
    throw EInvalidGraphic(InvalidMessage());
  Image.resize(fileSize);
  std::memcpy(Image.data(), header, sizeof header);
  ReadExact(Stream, Image.data() + sizeof header, fileSize - sizeof header);
}

void TBitmap::Parse(const std::vector<uint8_t>& Image) {
  if (Image.empty()) {
    FWidth = FHeight = 0;
    FBitCount = 0;
    FCompression = 0;
    FPixelOffset = 0;
    return;
  }
  const std::string bad = InvalidMessage();
  const uint64_t size = Image.size();
  if (size < BmpFileHeaderSize + 12 || Image[0] != 'B' || Image[1] != 'M' || U32(&Image[2]) != size)
    throw EInvalidGraphic(bad);
  const uint8_t* p = Image.data();
  const uint32_t offset = U32(p + 10);
  const uint32_t infoSize = U32(p + 14);
  int64_t width, height;
  uint16_t planes, bits;
  uint32_t compression = 0, colorsUsed = 0;
  bool core = infoSize == 12;
  if (core) {
    width = U16(p + 18);
    height = U16(p + 20);
    planes = U16(p + 22);
    bits = U16(p + 24);
  } else {
    if (infoSize < 40 || BmpFileHeaderSize + uint64_t{infoSize} > size) throw EInvalidGraphic(bad);
    width = I32(p + 18);
    height = I32(p + 22);
    planes = U16(p + 26);
    bits = U16(p + 28);
    compression = U32(p + 30);
    colorsUsed = U32(p + 46);
  }
  if (planes != 1 || width <= 0 || height == 0 || height == INT32_MIN || !ValidBitCount(bits) ||
      compression > 3 || (compression == 1 && bits != 8) || (compression == 2 && bits != 4) ||
      (compression == 3 && bits != 16 && bits != 32))
    throw EInvalidGraphic(bad);
  // Header, optional colour masks and colour table all lie before the pixels.
  uint64_t tableEntries = 0;
  if (bits <= 8) {
    const uint64_t most = uint64_t{1} << bits;
    if (colorsUsed > most) throw EInvalidGraphic(bad);
    tableEntries = colorsUsed != 0 ? colorsUsed : most;
  } else if (!core) {
    tableEntries = colorsUsed;
  }
  uint64_t before = BmpFileHeaderSize + infoSize + tableEntries * (core ? 3 : 4);
  if (compression == 3 && infoSize == 40) before += 12;
  if (offset < before || offset > size) throw EInvalidGraphic(bad);
  const uint64_t rows = static_cast<uint64_t>(height < 0 ? -height : height);
  if ((compression == 0 || compression == 3) &&
      RowBytes(static_cast<uint64_t>(width), bits) * rows > size - offset)
    throw EInvalidGraphic(bad);
  FWidth = static_cast<int32_t>(width);
  FHeight = static_cast<int32_t>(rows);
  FBitCount = bits;
  FCompression = compression;
  FPixelOffset = offset;
}

void TBitmap::SetSize(int32_t NewWidth, int32_t NewHeight, uint16_t NewBitCount) {
  if (NewWidth <= 0 || NewHeight <= 0 || !ValidBitCount(NewBitCount) || NewBitCount == 16)
    throw EInvalidGraphic(InvalidMessage());
  const uint64_t table = NewBitCount <= 8 ? (uint64_t{1} << NewBitCount) : 0;
  const uint64_t offset = BmpFileHeaderSize + 40 + table * 4;
  const uint64_t pixels = RowBytes(static_cast<uint64_t>(NewWidth), NewBitCount) * static_cast<uint64_t>(NewHeight);
  if (offset + pixels > MaxImageBytes) throw EInvalidGraphic(InvalidMessage());
  std::vector<uint8_t> image(offset + pixels, 0);
  image[0] = 'B';
  image[1] = 'M';
  Put32(image, 2, static_cast<uint32_t>(image.size()));
  Put32(image, 10, static_cast<uint32_t>(offset));
  Put32(image, 14, 40);
  Put32(image, 18, static_cast<uint32_t>(NewWidth));
  Put32(image, 22, static_cast<uint32_t>(NewHeight));
  Put16(image, 26, 1);
  Put16(image, 28, NewBitCount);
  Put32(image, 34, static_cast<uint32_t>(pixels));
  Put32(image, 38, 3780);  // 96 dpi in pixels per metre
  Put32(image, 42, 3780);
  for (uint64_t i = 0; i < table; ++i) {
    const auto grey = static_cast<uint8_t>(i * 255 / (table - 1));
    const size_t at = BmpFileHeaderSize + 40 + static_cast<size_t>(i) * 4;
    image[at] = image[at + 1] = image[at + 2] = grey;
  }
  Parse(image);
  SetImage(std::move(image));
  Changed();
}

uint8_t* TBitmap::Pixels() {
  if (Empty()) return nullptr;
  return MutableImage().data() + FPixelOffset;
}

// --- TMetafile --------------------------------------------------------------

void TMetafile::ReadImage(TStream& Stream, std::vector<uint8_t>& Image) {
  uint8_t head[4];
  ReadExact(Stream, head, sizeof head);
  uint64_t total;
  std::vector<uint8_t> start(head, head + sizeof head);
  if (U32(head) == PlaceableKey) {
    start.resize(PlaceableHeaderSize + WmfHeaderSize);
    ReadExact(Stream, start.data() + 4, start.size() - 4);
    total = PlaceableHeaderSize + uint64_t{U32(&start[PlaceableHeaderSize + 6])} * 2;
  } else if (U32(head) == EmfHeaderType) {
    start.resize(EmfHeaderSize);
    ReadExact(Stream, start.data() + 4, start.size() - 4);
    if (U32(&start[40]) != EmfSignature) throw EInvalidGraphic(InvalidMessage());
    total = U32(&start[48]);
  } else {
    throw EInvalidGraphic(InvalidMessage());
  }
  if (total < start.size() || total > MaxImageBytes) throw EInvalidGraphic(InvalidMessage());
  const int64_t left = Stream.Size() - Stream.Position();
  if (left < 0 || static_cast<uint64_t>(left) < total - start.size()) throw EInvalidGraphic(InvalidMessage());
  Image = std::move(start);
  const size_t have = Image.size();
  Image.resize(total);
  ReadExact(Stream, Image.data() + have, total - have);
}

void TMetafile::Parse(const std::vector<uint8_t>& Image) {
  if (Image.empty()) {
    FWidth = FHeight = 0;
    FEnhanced = false;
    return;
  }
  const std::string bad = InvalidMessage();
  const uint8_t* p = Image.data();
  const uint64_t size = Image.size();
  if (size >= PlaceableHeaderSize + WmfHeaderSize && U32(p) == PlaceableKey) {
    uint16_t sum = 0;
    for (size_t i = 0; i < 10; ++i) sum ^= U16(p + 2 * i);
    const uint16_t inch = U16(p + 14);
    const uint8_t* wmf = p + PlaceableHeaderSize;
    const uint16_t type = U16(wmf), headerWords = U16(wmf + 2), version = U16(wmf + 4);
    const uint64_t words = U32(wmf + 6);
    if (sum != U16(p + 20) || inch == 0 || (type != 1 && type != 2) || headerWords != 9 ||
        (version != 0x0100 && version != 0x0300) || PlaceableHeaderSize + words * 2 != size)
      throw EInvalidGraphic(bad);
    FWidth = ScaleTo96(int64_t{I16(p + 10)} - I16(p + 6), inch);
    FHeight = ScaleTo96(int64_t{I16(p + 12)} - I16(p + 8), inch);
    FEnhanced = false;
    return;
  }
  if (size >= EmfHeaderSize && U32(p) == EmfHeaderType && U32(p + 40) == EmfSignature) {
    const uint32_t headerSize = U32(p + 4);
    if (headerSize < EmfHeaderSize || headerSize > size || U32(p + 48) != size || size % 4 != 0)
      throw EInvalidGraphic(bad);
    // The frame is in hundredths of a millimetre.
    FWidth = ScaleTo96(int64_t{I32(p + 32)} - I32(p + 24), 2540);
    FHeight = ScaleTo96(int64_t{I32(p + 36)} - I32(p + 28), 2540);
    FEnhanced = true;
    return;
  }
  throw EInvalidGraphic(bad);
}

// --- TIcon ------------------------------------------------------------------

void TIcon::ReadImage(TStream& Stream, std::vector<uint8_t>& Image) {
  uint8_t dir[IconDirSize];
  ReadExact(Stream, dir, sizeof dir);
  const uint16_t count = U16(dir + 4);
  if (U16(dir) != 0 || U16(dir + 2) != 1 || count == 0) throw EInvalidGraphic(InvalidMessage());
  std::vector<uint8_t> image(dir, dir + sizeof dir);
  image.resize(IconDirSize + IconEntrySize * count);
  ReadExact(Stream, image.data() + IconDirSize, image.size() - IconDirSize);
  uint64_t end = image.size();
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = image.data() + IconDirSize + IconEntrySize * i;
    const uint64_t bytes = U32(e + 8), offset = U32(e + 12);
    if (bytes == 0 || offset < image.size()) throw EInvalidGraphic(InvalidMessage());
    end = std::max(end, offset + bytes);
  }
  if (end > MaxImageBytes) throw EInvalidGraphic(InvalidMessage());
  const int64_t left = Stream.Size() - Stream.Position();
  if (left < 0 || static_cast<uint64_t>(left) < end - image.size()) throw EInvalidGraphic(InvalidMessage());
  const size_t have = image.size();
  image.resize(end);
  ReadExact(Stream, image.data() + have, end - have);
  Image = std::move(image);
}

void TIcon::Parse(const std::vector<uint8_t>& Image) {
  if (Image.empty()) {
    FWidth = FHeight = FCount = 0;
    return;
  }
  const std::string bad = InvalidMessage();
  const uint8_t* p = Image.data();
  if (Image.size() < IconDirSize + IconEntrySize || U16(p) != 0 || U16(p + 2) != 1) throw EInvalidGraphic(bad);
  const uint16_t count = U16(p + 4);
  const uint64_t dirEnd = IconDirSize + uint64_t{IconEntrySize} * count;
  if (count == 0 || dirEnd > Image.size()) throw EInvalidGraphic(bad);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = p + IconDirSize + IconEntrySize * i;
    const uint64_t bytes = U32(e + 8), offset = U32(e + 12);
    if (bytes == 0 || offset < dirEnd || offset + bytes > Image.size()) throw EInvalidGraphic(bad);
  }
  // A stored size of 0 means 256.
  FWidth = p[IconDirSize] == 0 ? 256 : p[IconDirSize];
  FHeight = p[IconDirSize + 1] == 0 ? 256 : p[IconDirSize + 1];
  FCount = count;
}

// --- TPicture ---------------------------------------------------------------

TPicture::~TPicture() = default;

void TPicture::Replace(std::unique_ptr<TGraphic> Value) {
  FGraphic = std::move(Value);
  if (FGraphic) FGraphic->OnChange = [this](TObject*) { Changed(); };
  Changed();
}

void TPicture::Changed() {
  if (OnChange) OnChange(this);
}

void TPicture::SetGraphic(TGraphic* Value) {
  if (Value == nullptr) {
    Replace(nullptr);
    return;
  }
  if (Value == FGraphic.get()) return;
  std::unique_ptr<TGraphic> copy = Value->NewEmpty();
  copy->Assign(Value);
  Replace(std::move(copy));
}

TBitmap* TPicture::Bitmap() {
  if (!dynamic_cast<TBitmap*>(FGraphic.get())) Replace(std::make_unique<TBitmap>());
  return static_cast<TBitmap*>(FGraphic.get());
}

TMetafile* TPicture::Metafile() {
  if (!dynamic_cast<TMetafile*>(FGraphic.get())) Replace(std::make_unique<TMetafile>());
  return static_cast<TMetafile*>(FGraphic.get());
}

TIcon* TPicture::Icon() {
  if (!dynamic_cast<TIcon*>(FGraphic.get())) Replace(std::make_unique<TIcon>());
  return static_cast<TIcon*>(FGraphic.get());
}

void TPicture::Assign(TPersistent* Source) {
  if (Source == nullptr) {
    SetGraphic(nullptr);
  } else if (auto* picture = dynamic_cast<TPicture*>(Source)) {
    if (picture != this) SetGraphic(picture->Graphic());
  } else if (auto* graphic = dynamic_cast<TGraphic*>(Source)) {
    SetGraphic(graphic);
  } else {
    TPersistent::Assign(Source);
  }
}

void TPicture::AssignTo(TPersistent* Dest) {
  const TGraphic* Mine = FGraphic.get();
  if (Mine && dynamic_cast<TGraphic*>(Dest) != nullptr && typeid(*Dest) == typeid(*Mine)) {
    Dest->Assign(FGraphic.get());
    return;
  }
  TPersistent::AssignTo(Dest);
}

void TPicture::LoadFromStream(TStream& Stream) {
  const int64_t start = Stream.Position();
  uint8_t head[44] = {};
  int64_t got = 0;
  while (got < static_cast<int64_t>(sizeof head)) {
    int64_t n = Stream.Read(head + got, static_cast<int64_t>(sizeof head) - got);
    if (n <= 0) break;
    got += n;
  }
  Stream.Seek(start, soBeginning);
  std::unique_ptr<TGraphic> graphic;
  if (got >= 2 && head[0] == 'B' && head[1] == 'M')
    graphic = std::make_unique<TBitmap>();
  else if (got >= 4 && (U32(head) == PlaceableKey || (got >= 44 && U32(head) == EmfHeaderType && U32(head + 40) == EmfSignature)))
    graphic = std::make_unique<TMetafile>();
  else if (got >= 6 && U16(head) == 0 && U16(head + 2) == 1)
    graphic = std::make_unique<TIcon>();
  else
    throw EInvalidGraphic("Unknown picture format");
  graphic->LoadFromStream(Stream);
  graphic->SetModified(false);
  Replace(std::move(graphic));
}

void TPicture::SaveToStream(TStream& Stream) {
  if (FGraphic) FGraphic->SaveToStream(Stream);
}

void TPicture::LoadFromFile(const std::string& FileName) {
  TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(stream);
}

void TPicture::SaveToFile(const std::string& FileName) {
  TFileStream stream(FileName, fmCreate);
  SaveToStream(stream);
}

}  // namespace vcl
