// Pictures: bitmaps, metafiles and icons kept as the bytes of their own file
// layout. Loading checks the format's header and sizes; nothing is drawn.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Persistent.h"
#include "rtl/Streams.h"
#include "rtl/System.h"

namespace vcl {

// Objects that save themselves to and load themselves from a stream; other
// code tests for it with dynamic_cast.
class IStreamPersist {
 public:
  virtual ~IStreamPersist() = default;
  virtual void LoadFromStream(TStream& Stream) = 0;
  virtual void SaveToStream(TStream& Stream) = 0;
};

// The common part of every graphic: the file image and change reporting.
// LoadFromStream reads one file of the graphic's format from the stream's
// position; on bad or truncated input it raises EInvalidGraphic and leaves
// both the graphic and the stream position as they were.
class TGraphic : public TPersistent, public IStreamPersist {
 public:
  std::string ClassName() const override { return "TGraphic"; }

  bool Empty() const { return FImage.empty(); }
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;

  void LoadFromStream(TStream& Stream) override;
  // Writes the file image; an empty graphic writes nothing.
  void SaveToStream(TStream& Stream) override;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  // The whole file image, headers included.
  const std::vector<uint8_t>& Image() const { return FImage; }

  // Copies a graphic of the same class; anything else goes to the base.
  void Assign(TPersistent* Source) override;
  // An empty graphic of the same class.
  virtual std::unique_ptr<TGraphic> NewEmpty() const = 0;

  bool Modified() const { return FModified; }
  void SetModified(bool Value) { FModified = Value; }
  TNotifyEvent OnChange;

 protected:
  // Reads one file from Stream into Image, checking the format, or raises
  // EInvalidGraphic. Only Image and the parsed fields may be set.
  virtual void ReadImage(TStream& Stream, std::vector<uint8_t>& Image) = 0;
  // Takes the parsed fields from a checked image.
  virtual void Parse(const std::vector<uint8_t>& Image) = 0;
  // The format's "not valid" message.
  virtual std::string InvalidMessage() const = 0;
  void SetImage(std::vector<uint8_t> Image);
  std::vector<uint8_t>& MutableImage() { return FImage; }
  void Changed();

  // Reads exactly Count bytes or raises InvalidMessage().
  void ReadExact(TStream& Stream, uint8_t* Buffer, uint64_t Count);

 private:
  std::vector<uint8_t> FImage;  // the file's bytes; empty when no graphic
  bool FModified = false;       // changed since loaded or saved
};

// A Windows bitmap file: 'BM' file header, an info header of 12 bytes (core)
// or 40 bytes and more, the colour table and the pixel rows.
class TBitmap : public TGraphic {
 public:
  std::string ClassName() const override { return "TBitmap"; }
  std::unique_ptr<TGraphic> NewEmpty() const override { return std::make_unique<TBitmap>(); }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  uint16_t BitCount() const { return FBitCount; }
  // Offset of the first pixel row inside Image().
  uint32_t PixelOffset() const { return FPixelOffset; }
  // Bytes per pixel row, padded to four bytes (uncompressed bitmaps).
  uint32_t RowStride() const;

  // Makes a blank bitmap of that size: 24 or 32 bits per pixel, or 1, 4 or
  // 8 with a grey colour table. Raises EInvalidGraphic for other depths
  // and for sizes that do not fit.
  void SetSize(int32_t NewWidth, int32_t NewHeight, uint16_t NewBitCount = 24);
  // The pixel bytes of an uncompressed bitmap, bottom row first as stored.
  uint8_t* Pixels();

 protected:
  void ReadImage(TStream& Stream, std::vector<uint8_t>& Image) override;
  void Parse(const std::vector<uint8_t>& Image) override;
  std::string InvalidMessage() const override { return "Bitmap image is not valid"; }

 private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;         // always positive; top-down files too
  uint16_t FBitCount = 0;
  uint32_t FCompression = 0;   // 0 uncompressed, 3 bit fields, others as stored
  uint32_t FPixelOffset = 0;
};

// A placeable Windows metafile (key 0x9AC6CDD7) or an enhanced metafile.
// Width and Height are the picture frame at 96 pixels per inch.
class TMetafile : public TGraphic {
 public:
  std::string ClassName() const override { return "TMetafile"; }
  std::unique_ptr<TGraphic> NewEmpty() const override { return std::make_unique<TMetafile>(); }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  bool Enhanced() const { return FEnhanced; }

 protected:
  void ReadImage(TStream& Stream, std::vector<uint8_t>& Image) override;
  void Parse(const std::vector<uint8_t>& Image) override;
  std::string InvalidMessage() const override { return "Metafile is not valid"; }

 private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  bool FEnhanced = false;
};

// An icon file: the directory header, one entry per image, the images.
// Width and Height are the first image's.
class TIcon : public TGraphic {
 public:
  std::string ClassName() const override { return "TIcon"; }
  std::unique_ptr<TGraphic> NewEmpty() const override { return std::make_unique<TIcon>(); }
  int32_t Width() const override { return FWidth; }
  int32_t Height() const override { return FHeight; }
  int32_t ImageCount() const { return FCount; }

 protected:
  void ReadImage(TStream& Stream, std::vector<uint8_t>& Image) override;
  void Parse(const std::vector<uint8_t>& Image) override;
  std::string InvalidMessage() const override { return "Icon image is not valid"; }

 private:
  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FCount = 0;
};

// TPicture: holds one graphic of any kind. Bitmap(), Metafile() and Icon()
// replace the graphic by an empty one of that kind unless it is one already.
// LoadFromStream recognises the format by its header.
class TPicture : public TPersistent, public IStreamPersist {
 public:
  TPicture() = default;
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;
  std::string ClassName() const override { return "TPicture"; }

  // The graphic, or nullptr when empty.
  TGraphic* Graphic() const { return FGraphic.get(); }
  // Stores a copy of Value (nullptr empties the picture).
  void SetGraphic(TGraphic* Value);
  TBitmap* Bitmap();
  TMetafile* Metafile();
  TIcon* Icon();
  int32_t Width() const { return FGraphic ? FGraphic->Width() : 0; }
  int32_t Height() const { return FGraphic ? FGraphic->Height() : 0; }

  // Accepts a TPicture, a TGraphic or nullptr.
  void Assign(TPersistent* Source) override;

  // Raises EInvalidGraphic "Unknown picture format" for anything that is not
  // a bitmap, metafile or icon; the picture stays as it was.
  void LoadFromStream(TStream& Stream) override;
  // Writes the graphic in its own format; nothing when empty.
  void SaveToStream(TStream& Stream) override;
  void LoadFromFile(const std::string& FileName);
  void SaveToFile(const std::string& FileName);

  TNotifyEvent OnChange;

 protected:
  // Lets a graphic Assign from a picture holding one of its class.
  void AssignTo(TPersistent* Dest) override;

 private:
  void Replace(std::unique_ptr<TGraphic> Value);
  void Changed();

  std::unique_ptr<TGraphic> FGraphic;  // the current graphic; null when empty
};

}  // namespace vcl
