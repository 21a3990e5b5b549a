#include "rtl/Windows.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "rtl/System.h"

namespace vcl {

namespace {

thread_local uint32_t GLastError = ERROR_SUCCESS;
thread_local std::string GLastLoadError;

bool FileExists(const std::string& Path) {
  struct stat st {};
  return ::stat(Path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ExecutableDir() {
  std::string exe = GetModuleFileName(nullptr);
  auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

std::string JoinPath(const std::string& Dir, const std::string& Name) {
  if (Dir.empty() || Dir.back() == '/') return Dir + Name;
  return Dir + "/" + Name;
}

bool HasDirectoryPart(const std::string& Name) {
  return Name.find('/') != std::string::npos || Name.find('\\') != std::string::npos ||
         (Name.size() >= 2 && Name[1] == ':');
}

// Where a library name resolves to, or empty. Does not touch the last error.
std::string ResolveLibrary(const std::string& FileName) {
  if (FileName.empty()) return {};
  if (HasDirectoryPart(FileName)) {
    std::string path = FileName;
    for (char& c : path)
      if (c == '\\') c = '/';
    if (path[0] != '/') path = JoinPath(GetCurrentDir(), path);
    return FileExists(path) ? path : std::string();
  }
  std::vector<std::string> dirs{ExecutableDir(), GetCurrentDir()};
  if (const char* env = std::getenv("PATH")) {
    std::string list = env;
    size_t start = 0;
    while (start <= list.size()) {
      size_t end = list.find(':', start);
      if (end == std::string::npos) end = list.size();
      // An empty entry would mean the current directory, searched already.
      if (end > start) dirs.push_back(list.substr(start, end - start));
      start = end + 1;
    }
  }
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    std::string path = JoinPath(dir, FileName);
    if (FileExists(path)) return path;
  }
  return {};
}

}  // namespace

uint32_t GetLastError() { return GLastError; }
void SetLastError(uint32_t Code) { GLastError = Code; }
std::string GetLastLoadError() { return GLastLoadError; }

uint32_t ErrorFromErrno(int Errno) {
  switch (Errno) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EBUSY: return ERROR_BUSY;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC: return ERROR_DISK_FULL;
    case EIO: return ERROR_IO_DEVICE;
    case ETIMEDOUT: return WAIT_TIMEOUT;
    default: return ERROR_POSIX_FLAG | static_cast<uint32_t>(Errno);
  }
}

std::string SysErrorMessage(uint32_t Code) {
  if ((Code & ERROR_POSIX_FLAG) != 0 && (Code & ~ERROR_POSIX_FLAG) < 4096)
    return std::strerror(static_cast<int>(Code & ~ERROR_POSIX_FLAG));
  switch (Code) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_INVALID_FUNCTION: return "Incorrect function.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case ERROR_TOO_MANY_OPEN_FILES: return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "Not enough memory resources are available to process this command.";
    case ERROR_WRITE_PROTECT: return "The media is write protected.";
    case ERROR_GEN_FAILURE: return "A device attached to the system is not functioning.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case ERROR_INVALID_NAME:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_MOD_NOT_FOUND: return "The specified module could not be found.";
    case ERROR_PROC_NOT_FOUND: return "The specified procedure could not be found.";
    case ERROR_BUSY: return "The requested resource is in use.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case ERROR_BAD_EXE_FORMAT: return "The file is not a valid shared library.";
    case ERROR_FILENAME_EXCED_RANGE: return "The filename or extension is too long.";
    case WAIT_TIMEOUT: return "The wait operation timed out.";
    case ERROR_DIRECTORY: return "The directory name is invalid.";
    case ERROR_NOT_OWNER: return "Attempt to release mutex not owned by caller.";
    case ERROR_IO_DEVICE:
      return "The request could not be performed because of an I/O device error.";
    default: return "Unknown error " + std::to_string(Code);
  }
}

void RaiseLastOSError() {
  uint32_t code = GetLastError();
  if (code == ERROR_SUCCESS) throw EOSError("A call to an OS function failed");
  throw EOSError("System Error.  Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code));
}

HMODULE LoadLibrary(const std::string& FileName) {
  std::string path = ResolveLibrary(FileName);
  if (path.empty()) {
    GLastLoadError = FileName + ": not found in the library search path";
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = ::dlerror();
    GLastLoadError = text != nullptr ? text : path;
    // A dependency that cannot be found is a missing module; anything else
    // about a file that exists means it is not a loadable library.
    bool missingDependency = GLastLoadError.find("cannot open shared object file") != std::string::npos;
    SetLastError(missingDependency ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT);
    return nullptr;
  }
  GLastLoadError.clear();
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HMODULE>(handle);
}

void* GetProcAddress(HMODULE Module, const std::string& ProcName) {
  if (Module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ::dlerror();
  void* sym = ::dlsym(reinterpret_cast<void*>(Module), ProcName.c_str());
  if (sym == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return sym;
}

bool FreeLibrary(HMODULE Module) {
  if (Module == nullptr || ::dlclose(reinterpret_cast<void*>(Module)) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  return true;
}

std::string SearchPath(const std::string& FileName) {
  std::string path = ResolveLibrary(FileName);
  if (path.empty()) SetLastError(ERROR_FILE_NOT_FOUND);
  return path;
}

std::string GetModuleFileName(HMODULE Module) {
  if (Module == nullptr) {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n < 0) {
      SetLastError(ErrorFromErrno(errno));
      return {};
    }
    return std::string(buf.data(), static_cast<size_t>(n));
  }
  struct link_map* map = nullptr;
  if (::dlinfo(reinterpret_cast<void*>(Module), RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
      map->l_name == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return {};
  }
  return map->l_name;
}

std::string GetCurrentDir() {
  std::vector<char> buf(1024);
  while (::getcwd(buf.data(), buf.size()) == nullptr) {
    if (errno != ERANGE) {
      SetLastError(ErrorFromErrno(errno));
      return {};
    }
    buf.resize(buf.size() * 2);
  }
  return buf.data();
}

bool SetCurrentDir(const std::string& Dir) {
  if (Dir.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  if (::chdir(Dir.c_str()) != 0) {
    int err = errno;
    if (err == ENOENT)
      SetLastError(ERROR_PATH_NOT_FOUND);
    else if (err == ENOTDIR)
      SetLastError(ERROR_DIRECTORY);
    else
      SetLastError(ErrorFromErrno(err));
    return false;
  }
  return true;
}

void Sleep(uint32_t Milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

// ---------------------------------------------------------------------------
// Named mutexes.
//
// A named mutex is a file <dir>/vcl-mutex-<name> with two one-byte lock
// ranges taken through open-file-description locks, which the kernel drops
// when the holder dies:
//   byte 0  ownership: an exclusive lock while some thread owns the mutex;
//           the byte's content is 1 while owned, so a new owner that reads 1
//           knows the previous one died holding it (abandoned);
//   byte 1  presence: every process with an open handle holds a shared lock;
//           a process that can take it exclusively is alone, so the mutex did
//           not exist yet (on open) or is gone (on close, the file is removed).
// Inside a process one TNamedMutex per name carries the per-thread,
// recursive ownership; only the owning thread touches the file lock.
// <dir> is /tmp, or the directory VCL_MUTEX_DIR names: names are shared by
// every process that sees the same directory, as a login session's are, so a
// test run gives its processes a directory of their own.

namespace {

constexpr off_t OwnershipByte = 0;
constexpr off_t PresenceByte = 1;
constexpr size_t MaxNameLength = 200;

bool LockByte(int Fd, off_t Byte, short Type, bool Wait) {
  struct flock fl {};
  fl.l_type = Type;
  fl.l_whence = SEEK_SET;
  fl.l_start = Byte;
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(Fd, Wait ? F_OFD_SETLKW : F_OFD_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

bool SameFile(int Fd, const std::string& Path) {
  struct stat a {}, b {};
  return ::fstat(Fd, &a) == 0 && ::stat(Path.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// Fields:
//   Path      the lock file; empty for a mutex private to the process
//   Fd        the lock file, open with the presence lock held; -1 if private
//   Lock      guards Owner and Count
//   Changed   signalled when the mutex becomes free inside the process
//   Owner     the owning thread, or none
//   Count     recursion depth of the owner
struct TNamedMutex {
  std::string Path;
  int Fd = -1;
  std::mutex Lock;
  std::condition_variable Changed;
  std::thread::id Owner;
  uint32_t Count = 0;

  ~TNamedMutex() {
    if (Fd < 0) return;
    // Alone with the file: nobody else can reach this mutex any more.
    if (LockByte(Fd, PresenceByte, F_WRLCK, false) && SameFile(Fd, Path)) ::unlink(Path.c_str());
    ::close(Fd);
  }

  // Takes the file's ownership lock before Deadline; sets Abandoned when the
  // previous owner died holding it.
  bool AcquireFile(std::chrono::steady_clock::time_point Deadline, bool Infinite, bool& Abandoned) {
    auto pause = std::chrono::microseconds(500);
    for (;;) {
      if (LockByte(Fd, OwnershipByte, F_WRLCK, false)) {
        char state = 0;
        Abandoned = ::pread(Fd, &state, 1, OwnershipByte) == 1 && state == 1;
        const char held = 1;
        if (::pwrite(Fd, &held, 1, OwnershipByte) != 1) {
          LockByte(Fd, OwnershipByte, F_UNLCK, false);
          return false;
        }
        return true;
      }
      if (errno != EAGAIN && errno != EACCES) return false;
      auto now = std::chrono::steady_clock::now();
      if (!Infinite && now >= Deadline) return false;
      auto step = pause;
      if (!Infinite && Deadline - now < step)
        step = std::chrono::duration_cast<std::chrono::microseconds>(Deadline - now);
      std::this_thread::sleep_for(step);
      pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
  }

  void ReleaseFile() {
    const char free = 0;
    if (::pwrite(Fd, &free, 1, OwnershipByte) != 1) {
      // Leaving the byte at 1 only makes the next owner see "abandoned".
    }
    LockByte(Fd, OwnershipByte, F_UNLCK, false);
  }
};

}  // namespace

struct THandleObject {
  std::shared_ptr<TNamedMutex> Mutex;
};

namespace {

// Fields:
//   Lock     guards both maps
//   Named    the open named mutexes of this process, by lock file path
//   Handles  the live handles, so a stale or foreign handle fails cleanly
struct TMutexRegistry {
  std::mutex Lock;
  std::map<std::string, std::weak_ptr<TNamedMutex>> Named;
  std::set<THandleObject*> Handles;
};

TMutexRegistry* GRegistry = nullptr;
// Registries a forked child inherited; kept, never used again.
std::vector<TMutexRegistry*>* GInherited = nullptr;

// A forked child does not inherit handles: it drops its copies of the lock
// files (the parent's locks stay with the parent) and starts empty. The old
// registry is not freed; its mutex may have been held at fork time.
void RegistryAfterFork() {
  if (GRegistry == nullptr) return;
  for (auto& [path, weak] : GRegistry->Named) {
    if (auto m = weak.lock()) {
      if (m->Fd >= 0) ::close(m->Fd);
      m->Fd = -1;
    }
  }
  if (GInherited == nullptr) GInherited = new std::vector<TMutexRegistry*>;
  GInherited->push_back(GRegistry);
  GRegistry = new TMutexRegistry;
}

TMutexRegistry& Registry() {
  static std::once_flag once;
  std::call_once(once, [] {
    GRegistry = new TMutexRegistry;
    ::pthread_atfork(nullptr, nullptr, RegistryAfterFork);
  });
  return *GRegistry;
}

std::shared_ptr<TNamedMutex> MutexOf(HANDLE Handle) {
  TMutexRegistry& reg = Registry();
  std::lock_guard<std::mutex> guard(reg.Lock);
  if (Handle == nullptr || reg.Handles.count(Handle) == 0) return nullptr;
  return Handle->Mutex;
}

HANDLE NewHandle(std::shared_ptr<TNamedMutex> Mutex) {
  auto* handle = new THandleObject{std::move(Mutex)};
  TMutexRegistry& reg = Registry();
  std::lock_guard<std::mutex> guard(reg.Lock);
  reg.Handles.insert(handle);
  return handle;
}

// Opens (or creates) the lock file with the presence lock held. Answers -1
// with the last error set on failure.
int OpenLockFile(const std::string& Path, bool InitialOwner, bool& Existed, bool& Owned) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = ::open(Path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
      SetLastError(ErrorFromErrno(errno));
      return -1;
    }
    Existed = !LockByte(fd, PresenceByte, F_WRLCK, false);
    if (Existed && (errno != EAGAIN && errno != EACCES)) {
      SetLastError(ErrorFromErrno(errno));
      ::close(fd);
      return -1;
    }
    if (Existed && !LockByte(fd, PresenceByte, F_RDLCK, true)) {
      SetLastError(ErrorFromErrno(errno));
      ::close(fd);
      return -1;
    }
    // The last handle elsewhere may have removed the file meanwhile.
    if (!SameFile(fd, Path)) {
      ::close(fd);
      continue;
    }
    Owned = false;
    if (!Existed) {
      // A fresh mutex: whatever a dead process left in the file is void.
      if (::ftruncate(fd, 0) != 0) {
        SetLastError(ErrorFromErrno(errno));
        ::close(fd);
        return -1;
      }
      // Taken before others can open it, so initial ownership cannot be raced.
      if (InitialOwner && LockByte(fd, OwnershipByte, F_WRLCK, false)) {
        const char held = 1;
        Owned = ::pwrite(fd, &held, 1, OwnershipByte) == 1;
        if (!Owned) LockByte(fd, OwnershipByte, F_UNLCK, false);
      }
      LockByte(fd, PresenceByte, F_RDLCK, false);
    }
    return fd;
  }
  SetLastError(ERROR_BUSY);
  return -1;
}

}  // namespace

HANDLE CreateMutex(const std::string& Name, bool InitialOwner, bool* AlreadyExisted) {
  if (AlreadyExisted != nullptr) *AlreadyExisted = false;
  std::string name = Name;
  for (const char* prefix : {"Global\\", "Local\\"})
    if (name.rfind(prefix, 0) == 0) name.erase(0, std::strlen(prefix));
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (name.size() > MaxNameLength) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }

  auto me = std::this_thread::get_id();
  if (Name.empty()) {
    auto m = std::make_shared<TNamedMutex>();
    if (InitialOwner) {
      m->Owner = me;
      m->Count = 1;
    }
    SetLastError(ERROR_SUCCESS);
    return NewHandle(std::move(m));
  }

  const char* dir = std::getenv("VCL_MUTEX_DIR");
  std::string path = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vcl-mutex-" + name;
  TMutexRegistry& reg = Registry();
  std::unique_lock<std::mutex> guard(reg.Lock);
  if (auto existing = reg.Named[path].lock()) {
    guard.unlock();
    if (AlreadyExisted != nullptr) *AlreadyExisted = true;
    HANDLE h = NewHandle(std::move(existing));
    SetLastError(ERROR_ALREADY_EXISTS);
    return h;
  }
  bool existed = false, owned = false;
  int fd = OpenLockFile(path, InitialOwner, existed, owned);
  if (fd < 0) {
    reg.Named.erase(path);
    return nullptr;
  }
  auto m = std::make_shared<TNamedMutex>();
  m->Path = path;
  m->Fd = fd;
  if (owned) {
    m->Owner = me;
    m->Count = 1;
  }
  reg.Named[path] = m;
  auto* handle = new THandleObject{std::move(m)};
  reg.Handles.insert(handle);
  if (AlreadyExisted != nullptr) *AlreadyExisted = existed;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

uint32_t WaitForSingleObject(HANDLE Handle, uint32_t Milliseconds) {
  std::shared_ptr<TNamedMutex> m = MutexOf(Handle);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const bool infinite = Milliseconds == INFINITE;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(infinite ? 0 : Milliseconds);
  const auto me = std::this_thread::get_id();

  std::unique_lock<std::mutex> lock(m->Lock);
  if (m->Owner == me) {
    ++m->Count;
    return WAIT_OBJECT_0;
  }
  auto isFree = [&] { return m->Owner == std::thread::id(); };
  if (infinite)
    m->Changed.wait(lock, isFree);
  else if (!m->Changed.wait_until(lock, deadline, isFree))
    return WAIT_TIMEOUT;
  // Claimed inside the process; other threads now wait on Changed while this
  // one competes with other processes for the file lock.
  m->Owner = me;
  if (m->Fd < 0) {
    m->Count = 1;
    return WAIT_OBJECT_0;
  }
  lock.unlock();
  bool abandoned = false;
  bool got = m->AcquireFile(deadline, infinite, abandoned);
  int err = errno;
  lock.lock();
  if (!got) {
    m->Owner = std::thread::id();
    m->Changed.notify_one();
    if (err == EAGAIN || err == EACCES) return WAIT_TIMEOUT;
    SetLastError(ErrorFromErrno(err));
    return WAIT_FAILED;
  }
  m->Count = 1;
  return abandoned ? WAIT_ABANDONED : WAIT_OBJECT_0;
}

bool ReleaseMutex(HANDLE Handle) {
  std::shared_ptr<TNamedMutex> m = MutexOf(Handle);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  std::lock_guard<std::mutex> lock(m->Lock);
  if (m->Owner != std::this_thread::get_id() || m->Count == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return false;
  }
  if (--m->Count == 0) {
    if (m->Fd >= 0) m->ReleaseFile();
    m->Owner = std::thread::id();
    m->Changed.notify_one();
  }
  return true;
}

bool CloseHandle(HANDLE Handle) {
  std::shared_ptr<TNamedMutex> last;
  {
    TMutexRegistry& reg = Registry();
    std::lock_guard<std::mutex> guard(reg.Lock);
    if (Handle == nullptr || reg.Handles.erase(Handle) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    last = std::move(Handle->Mutex);
    delete Handle;
    // The registry entry goes with the last handle; the lock file is
    // released by the destructor, outside the registry lock.
    if (last.use_count() == 1 && !last->Path.empty()) reg.Named.erase(last->Path);
  }
  return true;
}

}  // namespace vcl
