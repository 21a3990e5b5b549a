// Byte streams: the abstract TStream and its memory, file and string
// implementations. Positions and sizes are 64-bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "rtl/System.h"

namespace vcl {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

// TFileStream modes: one access mode, optionally or-ed with a share flag.
// Share flags are accepted for compatibility and have no effect here.
constexpr uint16_t fmCreate = 0xFF00;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

class TStream : public TObject {
 public:
  std::string ClassName() const override { return "TStream"; }

  // Transfers up to Count bytes at the current position and advances it;
  // the result is the number of bytes moved (0 at the end of the stream).
  virtual int64_t Read(void* Buffer, int64_t Count) = 0;
  virtual int64_t Write(const void* Buffer, int64_t Count) = 0;
  // Moves the position and answers the new one (-1 if the stream refuses).
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;

  // Like Read/Write, but a short transfer raises EReadError/EWriteError.
  void ReadBuffer(void* Buffer, int64_t Count);
  void WriteBuffer(const void* Buffer, int64_t Count);

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t NewSize);

  // Copies Count bytes from Source's current position; Count 0 copies the
  // whole of Source from its start. Answers the number of bytes copied.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

// A stream over a growable block of memory.
class TMemoryStream : public TStream {
 public:
  std::string ClassName() const override { return "TMemoryStream"; }

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }
  // New bytes read as zero; a position past the new end moves to the end.
  void SetSize(int64_t NewSize) override;

  // The bytes themselves, valid until the next size change.
  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  void Clear();

  // Replace the content with all of Stream (read from its start) or of the
  // file, leaving the position at 0. On failure the content is unchanged.
  void LoadFromStream(TStream& Stream);
  void LoadFromFile(const std::string& FileName);
  void SaveToStream(TStream& Stream);
  void SaveToFile(const std::string& FileName);

 private:
  std::vector<uint8_t> FData;  // the content; vector growth is geometric
  int64_t FPosition = 0;       // may lie past the end or below zero after Seek
};

// A stream over an operating-system file.
class TFileStream : public TStream {
 public:
  // Raises EFCreateError / EFOpenError: Cannot open file "<name>". <reason>
  TFileStream(const std::string& FileName, uint16_t Mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  std::string ClassName() const override { return "TFileStream"; }

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // Truncates or extends the file; raises EStreamError when the system refuses.
  void SetSize(int64_t NewSize) override;

  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FHandle; }

 private:
  std::string FFileName;  // as given to the constructor
  int FHandle = -1;       // POSIX file descriptor, owned
};

// A stream over a std::string, for text kept in memory.
class TStringStream : public TStream {
 public:
  explicit TStringStream(std::string AString = {}) : FDataString(std::move(AString)) {}
  std::string ClassName() const override { return "TStringStream"; }

  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override { return static_cast<int64_t>(FDataString.size()); }
  void SetSize(int64_t NewSize) override;

  const std::string& DataString() const { return FDataString; }
  // Reads up to Count bytes from the position; writes at the position.
  std::string ReadString(int64_t Count);
  void WriteString(const std::string& AString);

 private:
  std::string FDataString;  // the content
  int64_t FPosition = 0;    // may lie past the end after Seek
};

}  // namespace vcl
