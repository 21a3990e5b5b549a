#include "FaultVfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace vdbtest {

namespace {

// The fault settings; connections may run on any thread.
struct Settings {
  std::mutex Mu;                         // guards Prefix
  std::string Prefix;                    // empty: no file is a target
  std::atomic<int64_t> WriteBudget{-1};  // bytes left before SQLITE_FULL, -1 unlimited
  std::atomic<bool> Reads{false};
  std::atomic<bool> Syncs{false};
  std::atomic<int64_t> Injected{0};
};
Settings gSettings;

sqlite3_vfs* gReal = nullptr;  // the default VFS before ours
sqlite3_vfs gVfs;               // ours

// Our file: the wrapper's header, then the real VFS's file object.
struct File {
  sqlite3_file Base;  // pMethods = our methods
  const char* Name;   // SQLite keeps it valid until the file closes; null for temporary files
  sqlite3_file* Real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
  bool Target() const;  // the faults apply to this file now
};

bool File::Target() const {
  if (Name == nullptr) return false;
  std::lock_guard Lock(gSettings.Mu);
  return !gSettings.Prefix.empty() && std::strncmp(Name, gSettings.Prefix.c_str(), gSettings.Prefix.size()) == 0;
}

File* Of(sqlite3_file* F) { return reinterpret_cast<File*>(F); }

int Fault(int Code) {
  ++gSettings.Injected;
  return Code;
}

int Close(sqlite3_file* F) {
  return Of(F)->Real()->pMethods ? Of(F)->Real()->pMethods->xClose(Of(F)->Real()) : SQLITE_OK;
}

int Read(sqlite3_file* F, void* Buf, int Amount, sqlite3_int64 Offset) {
  if (gSettings.Reads && Of(F)->Target()) return Fault(SQLITE_IOERR_READ);
  return Of(F)->Real()->pMethods->xRead(Of(F)->Real(), Buf, Amount, Offset);
}

int Write(sqlite3_file* F, const void* Buf, int Amount, sqlite3_int64 Offset) {
  if (Of(F)->Target()) {
    int64_t Budget = gSettings.WriteBudget.load();
    while (Budget >= 0) {
      if (Budget < Amount) {
        gSettings.WriteBudget = 0;
        return Fault(SQLITE_FULL);
      }
      if (gSettings.WriteBudget.compare_exchange_weak(Budget, Budget - Amount)) break;
    }
  }
  return Of(F)->Real()->pMethods->xWrite(Of(F)->Real(), Buf, Amount, Offset);
}

int Truncate(sqlite3_file* F, sqlite3_int64 Size) {
  return Of(F)->Real()->pMethods->xTruncate(Of(F)->Real(), Size);
}

int Sync(sqlite3_file* F, int Flags) {
  if (gSettings.Syncs && Of(F)->Target()) return Fault(SQLITE_IOERR_FSYNC);
  return Of(F)->Real()->pMethods->xSync(Of(F)->Real(), Flags);
}

int FileSize(sqlite3_file* F, sqlite3_int64* Size) {
  return Of(F)->Real()->pMethods->xFileSize(Of(F)->Real(), Size);
}
int Lock(sqlite3_file* F, int Level) { return Of(F)->Real()->pMethods->xLock(Of(F)->Real(), Level); }
int Unlock(sqlite3_file* F, int Level) { return Of(F)->Real()->pMethods->xUnlock(Of(F)->Real(), Level); }
int CheckReservedLock(sqlite3_file* F, int* Out) {
  return Of(F)->Real()->pMethods->xCheckReservedLock(Of(F)->Real(), Out);
}
int FileControl(sqlite3_file* F, int Op, void* Arg) {
  return Of(F)->Real()->pMethods->xFileControl(Of(F)->Real(), Op, Arg);
}
int SectorSize(sqlite3_file* F) { return Of(F)->Real()->pMethods->xSectorSize(Of(F)->Real()); }
int DeviceCharacteristics(sqlite3_file* F) {
  return Of(F)->Real()->pMethods->xDeviceCharacteristics(Of(F)->Real());
}
int ShmMap(sqlite3_file* F, int Region, int Size, int Extend, void volatile** Out) {
  return Of(F)->Real()->pMethods->xShmMap(Of(F)->Real(), Region, Size, Extend, Out);
}
int ShmLock(sqlite3_file* F, int Offset, int N, int Flags) {
  return Of(F)->Real()->pMethods->xShmLock(Of(F)->Real(), Offset, N, Flags);
}
void ShmBarrier(sqlite3_file* F) { Of(F)->Real()->pMethods->xShmBarrier(Of(F)->Real()); }
int ShmUnmap(sqlite3_file* F, int Delete) { return Of(F)->Real()->pMethods->xShmUnmap(Of(F)->Real(), Delete); }
int Fetch(sqlite3_file* F, sqlite3_int64 Offset, int Amount, void** Out) {
  // Memory-mapped reads would bypass the read fault; refusing them makes
  // SQLite fall back to xRead.
  if (Of(F)->Target()) {
    *Out = nullptr;
    return SQLITE_OK;
  }
  return Of(F)->Real()->pMethods->xFetch(Of(F)->Real(), Offset, Amount, Out);
}
int Unfetch(sqlite3_file* F, sqlite3_int64 Offset, void* P) {
  return Of(F)->Real()->pMethods->xUnfetch(Of(F)->Real(), Offset, P);
}

// Our methods offer what the real file offers, up to version 3.
sqlite3_io_methods gMethods[4];

void InitMethods(int Version) {
  sqlite3_io_methods& M = gMethods[Version];
  M = sqlite3_io_methods{};
  M.iVersion = Version;
  M.xClose = Close;
  M.xRead = Read;
  M.xWrite = Write;
  M.xTruncate = Truncate;
  M.xSync = Sync;
  M.xFileSize = FileSize;
  M.xLock = Lock;
  M.xUnlock = Unlock;
  M.xCheckReservedLock = CheckReservedLock;
  M.xFileControl = FileControl;
  M.xSectorSize = SectorSize;
  M.xDeviceCharacteristics = DeviceCharacteristics;
  if (Version >= 2) {
    M.xShmMap = ShmMap;
    M.xShmLock = ShmLock;
    M.xShmBarrier = ShmBarrier;
    M.xShmUnmap = ShmUnmap;
  }
  if (Version >= 3) {
    M.xFetch = Fetch;
    M.xUnfetch = Unfetch;
  }
}

int Open(sqlite3_vfs*, sqlite3_filename Name, sqlite3_file* F, int Flags, int* OutFlags) {
  File* Ours = Of(F);
  Ours->Base.pMethods = nullptr;
  Ours->Name = Name;
  int Rc = gReal->xOpen(gReal, Name, Ours->Real(), Flags, OutFlags);
  if (Ours->Real()->pMethods != nullptr) {
    int Version = Ours->Real()->pMethods->iVersion;
    Ours->Base.pMethods = &gMethods[Version > 3 ? 3 : Version];
  }
  return Rc;
}

int Delete(sqlite3_vfs*, const char* Name, int SyncDir) { return gReal->xDelete(gReal, Name, SyncDir); }
int Access(sqlite3_vfs*, const char* Name, int Flags, int* Out) { return gReal->xAccess(gReal, Name, Flags, Out); }
int FullPathname(sqlite3_vfs*, const char* Name, int N, char* Out) {
  return gReal->xFullPathname(gReal, Name, N, Out);
}
void* DlOpen(sqlite3_vfs*, const char* Name) { return gReal->xDlOpen(gReal, Name); }
void DlError(sqlite3_vfs*, int N, char* Out) { gReal->xDlError(gReal, N, Out); }
void (*DlSym(sqlite3_vfs*, void* H, const char* Sym))(void) { return gReal->xDlSym(gReal, H, Sym); }
void DlClose(sqlite3_vfs*, void* H) { gReal->xDlClose(gReal, H); }
int Randomness(sqlite3_vfs*, int N, char* Out) { return gReal->xRandomness(gReal, N, Out); }
int SleepFor(sqlite3_vfs*, int Micros) { return gReal->xSleep(gReal, Micros); }
int CurrentTime(sqlite3_vfs*, double* Out) { return gReal->xCurrentTime(gReal, Out); }
int GetLastError(sqlite3_vfs*, int N, char* Out) {
  return gReal->xGetLastError ? gReal->xGetLastError(gReal, N, Out) : 0;
}
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* Out) { return gReal->xCurrentTimeInt64(gReal, Out); }

}  // namespace

FaultVfs& FaultVfs::Install() {
  static FaultVfs Instance = [] {
    gReal = sqlite3_vfs_find(nullptr);
    if (gReal == nullptr || gReal->iVersion < 2) throw std::runtime_error("no usable default VFS");
    for (int Version = 1; Version <= 3; ++Version) InitMethods(Version);
    gVfs = sqlite3_vfs{};
    gVfs.iVersion = 2;
    gVfs.szOsFile = static_cast<int>(sizeof(File)) + gReal->szOsFile;
    gVfs.mxPathname = gReal->mxPathname;
    gVfs.zName = "vdbfault";
    gVfs.xOpen = Open;
    gVfs.xDelete = Delete;
    gVfs.xAccess = Access;
    gVfs.xFullPathname = FullPathname;
    gVfs.xDlOpen = DlOpen;
    gVfs.xDlError = DlError;
    gVfs.xDlSym = DlSym;
    gVfs.xDlClose = DlClose;
    gVfs.xRandomness = Randomness;
    gVfs.xSleep = SleepFor;
    gVfs.xCurrentTime = CurrentTime;
    gVfs.xGetLastError = GetLastError;
    gVfs.xCurrentTimeInt64 = CurrentTimeInt64;
    if (sqlite3_vfs_register(&gVfs, 1) != SQLITE_OK) throw std::runtime_error("cannot register the fault VFS");
    return FaultVfs{};
  }();
  return Instance;
}

void FaultVfs::Target(const std::string& Prefix) {
  std::lock_guard Lock(gSettings.Mu);
  gSettings.Prefix = Prefix;
}

void FaultVfs::FailWritesAfter(int64_t Bytes) { gSettings.WriteBudget = Bytes < 0 ? -1 : Bytes; }
void FaultVfs::FailReads(bool On) { gSettings.Reads = On; }
void FaultVfs::FailSyncs(bool On) { gSettings.Syncs = On; }

void FaultVfs::Clear() {
  Target("");
  FailWritesAfter(-1);
  FailReads(false);
  FailSyncs(false);
  gSettings.Injected = 0;
}

int64_t FaultVfs::Injected() const { return gSettings.Injected; }

}  // namespace vdbtest
