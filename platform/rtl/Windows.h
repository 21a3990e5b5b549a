// Operating-system shims with the Windows calling conventions the components
// were written against: loading libraries by file name, the current
// directory, the per-thread last error, sleeping, and named mutexes shared
// between processes. Everything is built on POSIX.
//
// Library search order (LoadLibrary and SearchPath):
//   - a name with a directory part ('/' or '\' anywhere, or a drive) is taken
//     as given, relative to the current directory when it is not absolute;
//   - a bare name is looked up in the executable's directory, then in the
//     current directory, then in each directory of PATH, in that order;
//   - the file found is opened by its full path, so a copy in the current
//     directory is loaded only when the executable's directory has none.
// No extension is appended and the system's own library directories are not
// searched: what loads is always a file the caller can point at.
#pragma once

#include <cstdint>
#include <string>

namespace vcl {

// A loaded module; the value is the loader's handle and is never dereferenced.
using HMODULE = struct TModuleHandle*;
// A kernel object handle (only mutexes are kept behind handles here).
using HANDLE = struct THandleObject*;

// The Windows error codes these shims report through GetLastError.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_INVALID_FUNCTION = 1;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_GEN_FAILURE = 31;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_BUSY = 170;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_BAD_EXE_FORMAT = 193;
constexpr uint32_t ERROR_FILENAME_EXCED_RANGE = 206;
constexpr uint32_t ERROR_DIRECTORY = 267;
constexpr uint32_t ERROR_NOT_OWNER = 288;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_WRITE_PROTECT = 19;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_IO_DEVICE = 1117;
// Codes with this bit carry a POSIX errno that has no Windows equivalent.
constexpr uint32_t ERROR_POSIX_FLAG = 0x20000000;

// WaitForSingleObject answers.
constexpr uint32_t WAIT_OBJECT_0 = 0;
constexpr uint32_t WAIT_ABANDONED = 0x80;
constexpr uint32_t WAIT_TIMEOUT = 0x102;
constexpr uint32_t WAIT_FAILED = 0xFFFFFFFF;
constexpr uint32_t INFINITE = 0xFFFFFFFF;

// The calling thread's last error.
uint32_t GetLastError();
void SetLastError(uint32_t Code);
// The system's text for an error code ("The specified module could not be
// found."); unknown codes answer "Unknown error <code>".
std::string SysErrorMessage(uint32_t Code);
// The Windows code for a POSIX errno (ENOENT -> ERROR_FILE_NOT_FOUND, ...);
// errnos without one are kept as ERROR_POSIX_FLAG | errno.
uint32_t ErrorFromErrno(int Errno);
// Raises EOSError for GetLastError() with the framework's message layout.
[[noreturn]] void RaiseLastOSError();
// The dynamic loader's own text for the last LoadLibrary that failed in this
// thread (missing symbols, wrong architecture); empty when none failed.
std::string GetLastLoadError();

// Loads a library by the search order above. Answers nullptr and sets the
// last error (ERROR_MOD_NOT_FOUND, ERROR_BAD_EXE_FORMAT, ...) on failure.
HMODULE LoadLibrary(const std::string& FileName);
// An exported symbol, or nullptr with ERROR_PROC_NOT_FOUND.
void* GetProcAddress(HMODULE Module, const std::string& ProcName);
// Drops one reference; the loader unloads on the last one.
bool FreeLibrary(HMODULE Module);
// The full path LoadLibrary would open, or empty with ERROR_FILE_NOT_FOUND.
std::string SearchPath(const std::string& FileName);
// The full file name of a loaded module; nullptr means the executable.
std::string GetModuleFileName(HMODULE Module);

std::string GetCurrentDir();
// False with the last error set when the directory cannot be entered.
bool SetCurrentDir(const std::string& Dir);

void Sleep(uint32_t Milliseconds);

// Named mutexes work between processes; an empty name makes a mutex private
// to this process. Ownership is per thread and recursive, as on Windows.
// AlreadyExisted (when given) tells whether another handle to the name was
// open anywhere; then InitialOwner is ignored. A name holding '/' or '\'
// (other than a leading "Global\" or "Local\") answers nullptr with
// ERROR_INVALID_NAME. When a holding process dies, the next waiter gets the
// mutex with WAIT_ABANDONED.
HANDLE CreateMutex(const std::string& Name, bool InitialOwner, bool* AlreadyExisted = nullptr);
uint32_t WaitForSingleObject(HANDLE Handle, uint32_t Milliseconds);
// False with ERROR_NOT_OWNER when the calling thread does not own it.
bool ReleaseMutex(HANDLE Handle);
bool CloseHandle(HANDLE Handle);

}  // namespace vcl
