#include "rtl/Windows.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "rtl/System.h"

namespace fs = std::filesystem;

namespace {

using TAnswerFunc = int32_t (*)();

std::string UniqueName(const std::string& Stem) {
  static std::atomic<int> counter{0};
  return Stem + "-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

// A fresh directory under the system temp dir, removed with its contents.
struct TTempDir {
  fs::path Path;
  TTempDir() {
    std::string templ = (fs::temp_directory_path() / "rtltest-XXXXXX").string();
    char* made = ::mkdtemp(templ.data());
    if (made == nullptr) throw std::runtime_error("mkdtemp failed");
    Path = fs::canonical(made);
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
};

// Puts the current directory and PATH back whatever the test does.
struct TEnvironmentGuard {
  std::string Dir = vcl::GetCurrentDir();
  std::optional<std::string> Path;
  TEnvironmentGuard() {
    if (const char* p = std::getenv("PATH")) Path = p;
  }
  ~TEnvironmentGuard() {
    vcl::SetCurrentDir(Dir);
    if (Path)
      ::setenv("PATH", Path->c_str(), 1);
    else
      ::unsetenv("PATH");
  }
};

fs::path ExecutableDir() { return fs::path(vcl::GetModuleFileName(nullptr)).parent_path(); }

// Copies of the test library under one unique file name, removed afterwards.
struct TLibraryCopies {
  std::string Name = UniqueName("rtlsearch") + ".so";
  std::vector<fs::path> Placed;
  fs::path PlaceIn(const fs::path& Dir) {
    fs::path target = Dir / Name;
    fs::copy_file(RTL_TEST_LIBRARY, target, fs::copy_options::overwrite_existing);
    Placed.push_back(target);
    return target;
  }
  ~TLibraryCopies() {
    std::error_code ec;
    for (const auto& p : Placed) fs::remove(p, ec);
  }
};

TEST(LoadLibraryTest, SearchOrderPrefersExecutableDirThenCurrentDirThenPath) {
  enum TWhere : uint8_t { wNone, wExe, wCwd, wPath };
  struct TCase {
    const char* Label;
    bool InExe, InCwd, InPath;
    TWhere Expected;
  } cases[] = {
      {"everywhere", true, true, true, wExe},
      {"executable and path", true, false, true, wExe},
      {"current and path", false, true, true, wCwd},
      {"path only", false, false, true, wPath},
      {"nowhere", false, false, false, wNone},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TEnvironmentGuard env;
    TTempDir cwd, pathDir;
    TLibraryCopies copies;
    fs::path exePath = ExecutableDir() / copies.Name;
    fs::path cwdPath = cwd.Path / copies.Name;
    fs::path pathPath = pathDir.Path / copies.Name;
    if (c.InExe) copies.PlaceIn(ExecutableDir());
    if (c.InCwd) copies.PlaceIn(cwd.Path);
    if (c.InPath) copies.PlaceIn(pathDir.Path);
    ASSERT_TRUE(vcl::SetCurrentDir(cwd.Path.string()));
    ::setenv("PATH", ("/nonexistent-rtltest:" + pathDir.Path.string()).c_str(), 1);

    std::string expected = c.Expected == wExe   ? exePath.string()
                           : c.Expected == wCwd ? cwdPath.string()
                           : c.Expected == wPath ? pathPath.string()
                                                 : std::string();
    EXPECT_EQ(vcl::SearchPath(copies.Name), expected);
    vcl::HMODULE h = vcl::LoadLibrary(copies.Name);
    if (c.Expected == wNone) {
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_MOD_NOT_FOUND);
      EXPECT_EQ(vcl::SysErrorMessage(vcl::GetLastError()), "The specified module could not be found.");
      continue;
    }
    ASSERT_NE(h, nullptr) << vcl::GetLastLoadError();
    // Opened by full path: leaving the directory does not change what is loaded.
    EXPECT_EQ(vcl::GetModuleFileName(h), expected);
    auto answer = reinterpret_cast<TAnswerFunc>(vcl::GetProcAddress(h, "rtltest_answer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_TRUE(vcl::FreeLibrary(h));
  }
}

TEST(LoadLibraryTest, NameWithDirectoryPartIsLoadedAsGiven) {
  TEnvironmentGuard env;
  TTempDir cwd;
  TLibraryCopies copies;
  // A copy next to the executable must not stand in for a missing one in "sub".
  copies.PlaceIn(ExecutableDir());
  fs::create_directory(cwd.Path / "sub");
  fs::path inSub = copies.PlaceIn(cwd.Path / "sub");
  ASSERT_TRUE(vcl::SetCurrentDir(cwd.Path.string()));

  struct TCase {
    std::string Name;
    std::string Expected;  // empty: not found
  } cases[] = {
      {"sub/" + copies.Name, inSub.string()},
      {"sub\\" + copies.Name, inSub.string()},
      {inSub.string(), inSub.string()},
      {"./" + copies.Name, ""},
      {"missing/" + copies.Name, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    vcl::HMODULE h = vcl::LoadLibrary(c.Name);
    if (c.Expected.empty()) {
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_MOD_NOT_FOUND);
      continue;
    }
    ASSERT_NE(h, nullptr) << vcl::GetLastLoadError();
    EXPECT_EQ(vcl::GetModuleFileName(h), c.Expected);
    EXPECT_TRUE(vcl::FreeLibrary(h));
  }
}

TEST(LoadLibraryTest, FailuresSetTheLastError) {
  TEnvironmentGuard env;
  TTempDir cwd;
  ASSERT_TRUE(vcl::SetCurrentDir(cwd.Path.string()));
  std::ofstream(cwd.Path / "notalib.so") << "this is text, not a shared library\n";

  EXPECT_EQ(vcl::LoadLibrary("notalib.so"), nullptr);
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_BAD_EXE_FORMAT);
  EXPECT_FALSE(vcl::GetLastLoadError().empty());

  EXPECT_EQ(vcl::LoadLibrary(""), nullptr);
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_MOD_NOT_FOUND);

  vcl::HMODULE h = vcl::LoadLibrary(RTL_TEST_LIBRARY);
  ASSERT_NE(h, nullptr) << vcl::GetLastLoadError();
  EXPECT_EQ(vcl::GetProcAddress(h, "rtltest_no_such_entry"), nullptr);
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(vcl::SysErrorMessage(vcl::ERROR_PROC_NOT_FOUND), "The specified procedure could not be found.");
  EXPECT_TRUE(vcl::FreeLibrary(h));

  EXPECT_EQ(vcl::GetProcAddress(nullptr, "rtltest_answer"), nullptr);
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(vcl::FreeLibrary(nullptr));
}

TEST(CurrentDirTest, SetCurrentDirFailsCleanlyAndKeepsTheDirectory) {
  TEnvironmentGuard env;
  TTempDir dir;
  std::ofstream(dir.Path / "plain.txt") << "x";
  ASSERT_TRUE(vcl::SetCurrentDir(dir.Path.string()));
  EXPECT_EQ(vcl::GetCurrentDir(), dir.Path.string());

  struct TCase {
    std::string Dir;
    uint32_t Error;
  } cases[] = {
      {(dir.Path / "missing").string(), vcl::ERROR_PATH_NOT_FOUND},
      {(dir.Path / "plain.txt").string(), vcl::ERROR_DIRECTORY},
      {"", vcl::ERROR_INVALID_NAME},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Dir);
    vcl::SetLastError(vcl::ERROR_SUCCESS);
    EXPECT_FALSE(vcl::SetCurrentDir(c.Dir));
    EXPECT_EQ(vcl::GetLastError(), c.Error);
    EXPECT_EQ(vcl::GetCurrentDir(), dir.Path.string());
  }
}

TEST(LastErrorTest, IsPerThreadAndRaisesWithText) {
  vcl::SetLastError(vcl::ERROR_ACCESS_DENIED);
  uint32_t seen = 1;
  std::thread([&] { seen = vcl::GetLastError(); }).join();
  EXPECT_EQ(seen, vcl::ERROR_SUCCESS);
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_ACCESS_DENIED);
  try {
    vcl::RaiseLastOSError();
    FAIL() << "no exception";
  } catch (const vcl::EOSError& e) {
    EXPECT_EQ(e.Message(), "System Error.  Code: 5.\nAccess is denied.");
  }
  EXPECT_EQ(vcl::SysErrorMessage(vcl::ErrorFromErrno(ENOENT)), "The system cannot find the file specified.");
  EXPECT_EQ(vcl::SysErrorMessage(vcl::ErrorFromErrno(EXDEV)), std::strerror(EXDEV));
  EXPECT_EQ(vcl::SysErrorMessage(99999), "Unknown error 99999");
}

// --- named mutexes --------------------------------------------------------

// One byte each way between the test and a forked child.
struct TChildChannel {
  int ToChild[2]{-1, -1};
  int ToParent[2]{-1, -1};
  TChildChannel() {
    if (::pipe(ToChild) != 0 || ::pipe(ToParent) != 0) throw std::runtime_error("pipe failed");
  }
  ~TChildChannel() {
    for (int fd : {ToChild[0], ToChild[1], ToParent[0], ToParent[1]})
      if (fd >= 0) ::close(fd);
  }
  static void Send(int Fd, char c) {
    if (::write(Fd, &c, 1) != 1) _exit(90);
  }
  static char Receive(int Fd) {
    char c = 0;
    return ::read(Fd, &c, 1) == 1 ? c : '\0';
  }
};

int WaitChild(pid_t Pid) {
  int status = 0;
  ::waitpid(Pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(NamedMutexTest, HeldBySecondProcessTimesOutThenSucceedsAfterRelease) {
  std::string name = UniqueName("rtltest-mutex");
  bool existed = true;
  vcl::HANDLE mine = vcl::CreateMutex(name, false, &existed);
  ASSERT_NE(mine, nullptr);
  EXPECT_FALSE(existed);

  TChildChannel ch;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    bool childExisted = false;
    vcl::HANDLE h = vcl::CreateMutex(name, true, &childExisted);
    // The parent's handle keeps the mutex alive, so ownership is not granted.
    if (h == nullptr || !childExisted) _exit(1);
    if (vcl::WaitForSingleObject(h, 5000) != vcl::WAIT_OBJECT_0) _exit(2);
    TChildChannel::Send(ch.ToParent[1], 'h');
    if (TChildChannel::Receive(ch.ToChild[0]) != 'r') _exit(3);
    if (!vcl::ReleaseMutex(h)) _exit(4);
    TChildChannel::Send(ch.ToParent[1], 'd');
    TChildChannel::Receive(ch.ToChild[0]);
    vcl::CloseHandle(h);
    _exit(0);
  }
  ASSERT_EQ(TChildChannel::Receive(ch.ToParent[0]), 'h');
  EXPECT_EQ(vcl::WaitForSingleObject(mine, 100), vcl::WAIT_TIMEOUT);
  EXPECT_EQ(vcl::WaitForSingleObject(mine, 0), vcl::WAIT_TIMEOUT);
  EXPECT_FALSE(vcl::ReleaseMutex(mine));
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_NOT_OWNER);
  TChildChannel::Send(ch.ToChild[1], 'r');
  EXPECT_EQ(vcl::WaitForSingleObject(mine, 10000), vcl::WAIT_OBJECT_0);
  EXPECT_EQ(TChildChannel::Receive(ch.ToParent[0]), 'd');
  TChildChannel::Send(ch.ToChild[1], 'x');
  EXPECT_EQ(WaitChild(pid), 0);
  EXPECT_TRUE(vcl::ReleaseMutex(mine));
  EXPECT_TRUE(vcl::CloseHandle(mine));
}

TEST(NamedMutexTest, HolderDyingAbandonsTheMutex) {
  std::string name = UniqueName("rtltest-mutex");
  vcl::HANDLE mine = vcl::CreateMutex(name, false);
  ASSERT_NE(mine, nullptr);
  TChildChannel ch;
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    vcl::HANDLE h = vcl::CreateMutex(name, false);
    if (h == nullptr || vcl::WaitForSingleObject(h, 5000) != vcl::WAIT_OBJECT_0) _exit(1);
    TChildChannel::Send(ch.ToParent[1], 'h');
    _exit(0);  // dies holding it
  }
  ASSERT_EQ(TChildChannel::Receive(ch.ToParent[0]), 'h');
  EXPECT_EQ(WaitChild(pid), 0);
  EXPECT_EQ(vcl::WaitForSingleObject(mine, 5000), vcl::WAIT_ABANDONED);
  EXPECT_TRUE(vcl::ReleaseMutex(mine));
  // A regular release clears the mark.
  EXPECT_EQ(vcl::WaitForSingleObject(mine, 0), vcl::WAIT_OBJECT_0);
  EXPECT_TRUE(vcl::ReleaseMutex(mine));
  EXPECT_TRUE(vcl::CloseHandle(mine));
}

TEST(NamedMutexTest, OwnershipIsPerThreadAndRecursive) {
  for (std::string name : {UniqueName("rtltest-mutex"), std::string()}) {
    SCOPED_TRACE(name.empty() ? "private" : "named");
    bool existed = true;
    vcl::HANDLE a = vcl::CreateMutex(name, true, &existed);
    ASSERT_NE(a, nullptr);
    EXPECT_FALSE(existed);
    // A second handle to a named mutex reaches the same object.
    vcl::HANDLE b = name.empty() ? a : vcl::CreateMutex(name, true, &existed);
    if (!name.empty()) {
      EXPECT_TRUE(existed);
      EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_ALREADY_EXISTS);
    }
    EXPECT_EQ(vcl::WaitForSingleObject(b, 0), vcl::WAIT_OBJECT_0);  // recursion

    uint32_t otherTimedOut = 0, otherAfterRelease = 0;
    bool otherReleaseRefused = false;
    std::atomic<bool> timedOut{false};
    std::thread other([&] {
      otherReleaseRefused = !vcl::ReleaseMutex(b) && vcl::GetLastError() == vcl::ERROR_NOT_OWNER;
      otherTimedOut = vcl::WaitForSingleObject(b, 50);
      timedOut = true;
      otherAfterRelease = vcl::WaitForSingleObject(b, 10000);
      vcl::ReleaseMutex(b);
    });
    while (!timedOut) vcl::Sleep(1);
    // Held twice: the first release keeps it.
    EXPECT_TRUE(vcl::ReleaseMutex(a));
    vcl::Sleep(20);
    EXPECT_TRUE(vcl::ReleaseMutex(a));
    other.join();
    EXPECT_TRUE(otherReleaseRefused);
    EXPECT_EQ(otherTimedOut, vcl::WAIT_TIMEOUT);
    EXPECT_EQ(otherAfterRelease, vcl::WAIT_OBJECT_0);
    EXPECT_FALSE(vcl::ReleaseMutex(a));

    if (!name.empty()) {
      EXPECT_TRUE(vcl::CloseHandle(b));
    }
    EXPECT_TRUE(vcl::CloseHandle(a));
    EXPECT_FALSE(vcl::CloseHandle(a));
    EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_INVALID_HANDLE);
    if (!name.empty()) {
      // All handles closed: the name is free again.
      vcl::HANDLE again = vcl::CreateMutex(name, false, &existed);
      ASSERT_NE(again, nullptr);
      EXPECT_FALSE(existed);
      EXPECT_TRUE(vcl::CloseHandle(again));
    }
  }
}

TEST(NamedMutexTest, BadNamesAndHandlesFailCleanly) {
  struct TCase {
    std::string Name;
    uint32_t Error;  // ERROR_SUCCESS: accepted
  } cases[] = {
      {"a/b", vcl::ERROR_INVALID_NAME},
      {"../../etc/passwd", vcl::ERROR_INVALID_NAME},
      {"x\\y", vcl::ERROR_INVALID_NAME},
      {std::string(300, 'n'), vcl::ERROR_FILENAME_EXCED_RANGE},
      {"Global\\" + UniqueName("rtltest-mutex"), vcl::ERROR_SUCCESS},
      {"Local\\" + UniqueName("rtltest-mutex") + " with spaces", vcl::ERROR_SUCCESS},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    vcl::HANDLE h = vcl::CreateMutex(c.Name, false);
    if (c.Error != vcl::ERROR_SUCCESS) {
      EXPECT_EQ(h, nullptr);
      EXPECT_EQ(vcl::GetLastError(), c.Error);
      continue;
    }
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(vcl::WaitForSingleObject(h, 0), vcl::WAIT_OBJECT_0);
    EXPECT_TRUE(vcl::ReleaseMutex(h));
    EXPECT_TRUE(vcl::CloseHandle(h));
  }
  EXPECT_EQ(vcl::WaitForSingleObject(nullptr, 0), vcl::WAIT_FAILED);
  EXPECT_EQ(vcl::GetLastError(), vcl::ERROR_INVALID_HANDLE);
  EXPECT_FALSE(vcl::ReleaseMutex(nullptr));
  EXPECT_FALSE(vcl::CloseHandle(nullptr));
}

TEST(NamedMutexTest, NamesLiveInTheDirectoryTheEnvironmentGives) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / UniqueName("rtltest-mutexdir");
  fs::create_directories(dir);
  std::string name = UniqueName("rtltest-mutex");
  ::setenv("VCL_MUTEX_DIR", dir.c_str(), 1);
  vcl::HANDLE inDir = vcl::CreateMutex(name, true);
  ::unsetenv("VCL_MUTEX_DIR");
  ASSERT_NE(inDir, nullptr);
  EXPECT_TRUE(fs::exists(dir / ("vcl-mutex-" + name)));
  // The same name under the default directory is another mutex: a second
  // process can own it while the first is owned here.
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    vcl::HANDLE h = vcl::CreateMutex(name, false);
    _exit(h != nullptr && vcl::WaitForSingleObject(h, 0) == vcl::WAIT_OBJECT_0 ? 0 : 1);
  }
  EXPECT_EQ(WaitChild(child), 0);
  EXPECT_TRUE(vcl::ReleaseMutex(inDir));
  EXPECT_TRUE(vcl::CloseHandle(inDir));
  fs::remove_all(dir);
}

}  // namespace
