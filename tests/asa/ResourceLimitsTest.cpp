// Resources a session holds come back: a session abandoned by a failing test
// leaves no file descriptor or thread behind once the engines stop, and many
// connect/disconnect cycles leave memory, descriptors and threads flat.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>

#include "AsaFixture.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"

namespace {

namespace fs = std::filesystem;

int64_t Entries(const char* Dir) {
  int64_t N = 0;
  std::error_code Ec;
  for (auto It = fs::directory_iterator(Dir, Ec); !Ec && It != fs::directory_iterator(); It.increment(Ec)) ++N;
  return N;
}

int64_t OpenDescriptors() { return Entries("/proc/self/fd"); }
int64_t Threads() { return Entries("/proc/self/task"); }

int64_t ResidentBytes() {
  std::ifstream Statm("/proc/self/statm");
  int64_t Size = 0, Resident = 0;
  Statm >> Size >> Resident;
  return Resident * sysconf(_SC_PAGESIZE);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;  // the sanitizer's allocator keeps freed memory in quarantine
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Under a sanitizer its leak checker finds what the resident-set bound would,
// more precisely, so fewer cycles do.
constexpr int kCycles = kSanitized ? 100 : 1000;

class ResourceLimitsTest : public asatest::AsaTest {
 protected:
  // What a failing test does: connects, starts work and leaves by an
  // exception with the session still connected and a transaction open.
  // The session's destruction disconnects, committing when told to.
  void AbandonSession(bool CommitOnDisconnect) {
    try {
      auto S = NewSession();
      S->SetCommitOnDisconnect(CommitOnDisconnect);
      S->Open();
      Exec(*S, "create table if not exists t(n int)");
      Exec(*S, "insert into t values (1)");
      throw std::runtime_error("assertion failed");
    } catch (const std::runtime_error&) {
    }
  }
};

TEST_F(ResourceLimitsTest, AbandonedSessionsLeaveNoDescriptorsOrThreads) {
  AbandonSession(true);  // the libraries are loaded once and stay
  StopEngines();
  const int64_t Fds = OpenDescriptors();
  const int64_t Tasks = Threads();
  const int32_t Adapters = AdaptersInUse();

  for (int I = 0; I < 10; ++I) AbandonSession(I % 2 == 0);
  EXPECT_EQ(Adapters, AdaptersInUse());
  StopEngines();
  EXPECT_EQ(Fds, OpenDescriptors());
  EXPECT_EQ(Tasks, Threads());

  // The first and every other abandoned transaction were committed.
  auto S = NewSession();
  S->Open();
  EXPECT_EQ(0, Exec(*S, "create table probe as select count(*) as c from t"));
  S->Close();
  StopEngines();
  EXPECT_EQ("6", asatest::Sqlite3(Db, "select c from probe"));
}

TEST_F(ResourceLimitsTest, ThousandConnectCyclesLeaveResourcesFlat) {
  // One session keeps the engine and its database running; the cycles
  // connect and disconnect fresh sessions as clients.
  auto Keeper = NewSession();
  Keeper->Open();
  auto Cycle = [&] {
    auto S = NewSession("dblib7.dll", vdb::stClient);
    S->SetWantExceptions(true);
    S->Open();
    S->Close();
  };
  for (int I = 0; I < 50; ++I) Cycle();
  const int64_t Fds = OpenDescriptors();
  const int64_t Tasks = Threads();
  const int32_t Adapters = AdaptersInUse();
  const int64_t Rss = ResidentBytes();

  for (int I = 0; I < kCycles; ++I) Cycle();
  EXPECT_EQ(Fds, OpenDescriptors());
  EXPECT_EQ(Tasks, Threads());
  EXPECT_EQ(Adapters, AdaptersInUse());
  if (!kSanitized) {
    // A leak of 8 KiB per cycle would show; the allocator's own slack does not.
    EXPECT_LT(ResidentBytes() - Rss, 8 << 20) << "resident set grew from " << Rss;
  }
  Keeper->Close();
}

}  // namespace
