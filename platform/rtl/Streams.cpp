#include "rtl/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace vcl {

namespace {

// CopyFrom's transfer unit.
constexpr int64_t kCopyBufferSize = 64 * 1024;

int64_t SeekTarget(int64_t Offset, TSeekOrigin Origin, int64_t Position, int64_t Size) {
  switch (Origin) {
    case soBeginning: return Offset;
    case soCurrent: return Position + Offset;
    case soEnd: return Size + Offset;
  }
  return Position;
}

std::string SystemErrorText(int Code) {
  char Buffer[256];
  // GNU strerror_r may return a static string instead of filling Buffer.
  const char* Text = strerror_r(Code, Buffer, sizeof Buffer);
  return Text;
}

}  // namespace

// --- TStream ---------------------------------------------------------------

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

int64_t TStream::Size() {
  int64_t Pos = Seek(0, soCurrent);
  int64_t Result = Seek(0, soEnd);
  Seek(Pos, soBeginning);
  return Result;
}

void TStream::SetSize(int64_t) {
  throw EStreamError(ClassName() + " does not support changing its size");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  int64_t Result = Count;
  auto Buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(std::min(Count, kCopyBufferSize)) + 1);
  while (Count > 0) {
    int64_t N = std::min(Count, kCopyBufferSize);
    Source.ReadBuffer(Buffer.get(), N);
    WriteBuffer(Buffer.get(), N);
    Count -= N;
  }
  return Result;
}

// --- TMemoryStream ---------------------------------------------------------

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  int64_t Available = Size() - FPosition;
  if (FPosition < 0 || Count <= 0 || Available <= 0) return 0;
  int64_t N = std::min(Count, Available);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  int64_t End = FPosition + Count;
  if (End > Size()) {
    // Buffer may point into our own block, which the resize can move.
    auto* Source = static_cast<const uint8_t*>(Buffer);
    bool Inside = !FData.empty() && Source >= FData.data() && Source < FData.data() + FData.size();
    size_t SourceOffset = Inside ? static_cast<size_t>(Source - FData.data()) : 0;
    FData.resize(static_cast<size_t>(End));
    if (Inside) Buffer = FData.data() + SourceOffset;
  }
  std::memmove(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = SeekTarget(Offset, Origin, FPosition, Size());
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid stream size");
  FData.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  std::vector<uint8_t> Data(static_cast<size_t>(std::max<int64_t>(Stream.Size(), 0)));
  Stream.ReadBuffer(Data.data(), static_cast<int64_t>(Data.size()));
  FData.swap(Data);
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream File(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(File);
}

void TMemoryStream::SaveToStream(TStream& Stream) { Stream.WriteBuffer(FData.data(), Size()); }

void TMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream File(FileName, fmCreate);
  SaveToStream(File);
}

// --- TFileStream -----------------------------------------------------------

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
  if ((Mode & fmCreate) == fmCreate) {
    FHandle = ::open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError("Cannot create file \"" + FileName + "\". " + SystemErrorText(errno));
    return;
  }
  int Flags = O_CLOEXEC;
  switch (Mode & 0x000F) {
    case fmOpenWrite: Flags |= O_WRONLY; break;
    case fmOpenReadWrite: Flags |= O_RDWR; break;
    default: Flags |= O_RDONLY; break;
  }
  FHandle = ::open(FileName.c_str(), Flags);
  int Error = FHandle < 0 ? errno : 0;
  // POSIX lets a directory be opened for reading; as a file it is unusable.
  struct stat Info;
  if (FHandle >= 0 && ::fstat(FHandle, &Info) == 0 && S_ISDIR(Info.st_mode)) {
    ::close(FHandle);
    FHandle = -1;
    Error = EISDIR;
  }
  if (FHandle < 0)
    throw EFOpenError("Cannot open file \"" + FileName + "\". " + SystemErrorText(Error));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  int64_t Done = 0;
  auto* Bytes = static_cast<uint8_t*>(Buffer);
  while (Done < Count) {
    ssize_t N = ::read(FHandle, Bytes + Done, static_cast<size_t>(Count - Done));
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;
    Done += N;
  }
  return Done;
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  int64_t Done = 0;
  auto* Bytes = static_cast<const uint8_t*>(Buffer);
  while (Done < Count) {
    ssize_t N = ::write(FHandle, Bytes + Done, static_cast<size_t>(Count - Done));
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) break;
    Done += N;
  }
  return Done;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int Whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
  return static_cast<int64_t>(::lseek(FHandle, static_cast<off_t>(Offset), Whence));
}

void TFileStream::SetSize(int64_t NewSize) {
  int64_t Pos = Position();
  if (NewSize < 0 || ::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError("Cannot change the size of \"" + FFileName + "\". " +
                       SystemErrorText(NewSize < 0 ? EINVAL : errno));
  if (Pos > NewSize) Seek(NewSize, soBeginning);
}

// --- TStringStream ---------------------------------------------------------

int64_t TStringStream::Read(void* Buffer, int64_t Count) {
  int64_t Available = Size() - FPosition;
  if (FPosition < 0 || Count <= 0 || Available <= 0) return 0;
  int64_t N = std::min(Count, Available);
  std::memcpy(Buffer, FDataString.data() + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int64_t TStringStream::Write(const void* Buffer, int64_t Count) {
  if (FPosition < 0 || Count <= 0) return 0;
  int64_t End = FPosition + Count;
  if (End > Size()) FDataString.resize(static_cast<size_t>(End));
  std::memcpy(FDataString.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = End;
  return Count;
}

int64_t TStringStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  FPosition = SeekTarget(Offset, Origin, FPosition, Size());
  return FPosition;
}

void TStringStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid stream size");
  FDataString.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
}

std::string TStringStream::ReadString(int64_t Count) {
  int64_t Available = Size() - FPosition;
  if (FPosition < 0 || Count <= 0 || Available <= 0) return {};
  int64_t N = std::min(Count, Available);
  std::string Result = FDataString.substr(static_cast<size_t>(FPosition), static_cast<size_t>(N));
  FPosition += N;
  return Result;
}

void TStringStream::WriteString(const std::string& AString) {
  Write(AString.data(), static_cast<int64_t>(AString.size()));
}

}  // namespace vcl
