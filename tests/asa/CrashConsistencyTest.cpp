// A writer process killed with SIGKILL at random moments: after every kill a
// fresh session must find every row the writer reported committed, no torn
// batch, and a database that passes SQLite's integrity check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "AsaFixture.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"

extern char** environ;

namespace {

constexpr int kKills = 24;

// Reads the child's reports: 8-byte numbers, each the highest it committed.
class ReportPipe {
 public:
  ReportPipe() {
    if (pipe2(Fds, O_CLOEXEC) != 0) Fds[0] = Fds[1] = -1;
  }
  ~ReportPipe() {
    CloseWriteEnd();
    if (Fds[0] >= 0) close(Fds[0]);
  }
  bool Ok() const { return Fds[0] >= 0; }
  int WriteEnd() const { return Fds[1]; }
  void CloseWriteEnd() {
    if (Fds[1] >= 0) close(Fds[1]);
    Fds[1] = -1;
  }
  // Waits up to TimeoutMs for more reports; answers false at end of file.
  bool Read(int TimeoutMs) {
    pollfd P{Fds[0], POLLIN, 0};
    if (poll(&P, 1, TimeoutMs) <= 0) return true;
    char Chunk[512];
    ssize_t N = read(Fds[0], Chunk, sizeof Chunk);
    if (N <= 0) return N < 0 && errno == EINTR;
    Pending.append(Chunk, static_cast<size_t>(N));
    while (Pending.size() >= sizeof(int64_t)) {
      std::memcpy(&Last, Pending.data(), sizeof Last);
      Pending.erase(0, sizeof Last);
      ++Count;
    }
    return true;
  }

  int64_t Last = 0;  // highest number reported
  int Count = 0;     // reports received

 private:
  int Fds[2];
  std::string Pending;  // bytes of a report not complete yet
};

class CrashConsistencyTest : public asatest::AsaTest {
 protected:
  // The single integer a query answers, read through a statement.
  static int64_t Value(vdb::TAsaSession& S, const std::string& SQL) {
    vdb::TAsaSQL Q(nullptr);
    Q.SetSession(&S);
    Q.SetWantExceptions(true);
    if (!Q.OpenRead(SQL, {})) return -1;
    return Q.GetFieldValue(0).AsInt64();
  }


  // Starts the writer at First; answers its process id.
  pid_t StartChild(int64_t First, ReportPipe& Pipe) {
    const std::string FdText = std::to_string(Pipe.WriteEnd());
    const std::string FirstText = std::to_string(First);
    std::vector<std::string> Args = {VDB_CRASH_CHILD, "dblib7.dll", Db, FirstText, FdText};
    std::vector<char*> Argv;
    for (auto& A : Args) Argv.push_back(A.data());
    Argv.push_back(nullptr);
    // The report pipe is the one descriptor the child keeps open across exec.
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe.WriteEnd(), Pipe.WriteEnd());
    pid_t Pid = -1;
    int Rc = posix_spawn(&Pid, VDB_CRASH_CHILD, &Actions, nullptr, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    return Rc == 0 ? Pid : -1;
  }
};

TEST_F(CrashConsistencyTest, EveryReportedCommitSurvivesSigkill) {
  {
    auto S = NewSession();
    S->Open();
    vdb::TAsaSQL Q(nullptr);
    Q.SetSession(S.get());
    Q.SetWantExceptions(true);
    ASSERT_TRUE(Q.Execute("create table t(n int primary key, batch int not null, size int not null)", {}));
    S->Close();
  }
  StopEngines();

  std::mt19937 Random(std::random_device{}());
  int64_t Committed = 0;  // rows the database holds, all numbered 1..Committed
  int Reported = 0;       // reports over all children
  for (int Kill = 0; Kill < kKills; ++Kill) {
    SCOPED_TRACE("kill " + std::to_string(Kill));
    ReportPipe Pipe;
    ASSERT_TRUE(Pipe.Ok());
    const pid_t Pid = StartChild(Committed + 1, Pipe);
    ASSERT_GT(Pid, 0);
    // Dup2 onto itself clears close-on-exec for the child only; the parent's
    // copy goes so that the end of the child is the end of the pipe.
    Pipe.CloseWriteEnd();

    // Kill after a random number of reports (none: while it starts), then a
    // random moment later, inside whatever it does then.
    const int Reports = std::uniform_int_distribution<int>(0, 8)(Random);
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    bool Alive = true;
    while (Alive && Pipe.Count < Reports && std::chrono::steady_clock::now() < Deadline) Alive = Pipe.Read(50);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(Random)));
    kill(Pid, SIGKILL);
    int Status = 0;
    ASSERT_EQ(Pid, waitpid(Pid, &Status, 0));
    ASSERT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == SIGKILL)
        << "the writer ended on its own, status " << Status;
    // Drain what the writer reported before it died, up to the end of file.
    const auto DrainEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (Pipe.Read(100) && std::chrono::steady_clock::now() < DrainEnd) {
    }
    Reported += Pipe.Count;

    ASSERT_EQ("ok", FileScalar(Db, "PRAGMA integrity_check"));

    // A fresh session opens the database the killed writer left behind and
    // finds every reported row, no gap and no batch committed in part.
    auto S = NewSession();
    S->Open();
    const int64_t Max = Value(*S, "select coalesce(max(n), 0) from t");
    if (Pipe.Count > 0) {
      ASSERT_GE(Max, Pipe.Last) << "a reported commit is missing";
    }
    EXPECT_EQ(Max, Value(*S, "select count(*) from t")) << "a gap among the numbers";
    EXPECT_EQ(0, Value(*S, "select count(*) from (select batch from t group by batch, size having count(*) <> size)"))
        << "a batch committed in part";
    S->Close();
    StopEngines();
    Committed = Max;
  }
  EXPECT_GT(Reported, kKills) << "the writer hardly ever committed before it was killed";
}

}  // namespace
