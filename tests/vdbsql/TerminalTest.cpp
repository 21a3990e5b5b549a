// vdbsql on a terminal (a pseudo-terminal here): the prompt with its
// continuation for multi-line statements, the table format by default,
// line editing with the history recalled by the up arrow and kept in
// ~/.vdbsql_history, Ctrl-C cancelling a running statement with the tool
// staying, and Ctrl-C twice at the prompt leaving.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// One vdbsql on the slave side of a pseudo-terminal, driven through its master.
class TTerminal {
 public:
  TTerminal(const std::string& Tool, const std::vector<std::string>& Args, const std::string& Home) {
    std::vector<std::string> All = {Tool};
    All.insert(All.end(), Args.begin(), Args.end());
    FPid = ::forkpty(&FMaster, nullptr, nullptr, nullptr);
    if (FPid == 0) {
      ::setenv("HOME", Home.c_str(), 1);
      ::setenv("TERM", "xterm", 1);
      std::vector<char*> Argv;
      for (auto& A : All) Argv.push_back(A.data());
      Argv.push_back(nullptr);
      ::execv(Tool.c_str(), Argv.data());
      ::_exit(127);
    }
  }
  ~TTerminal() {
    if (FPid > 0 && Status() < 0) {
      ::kill(FPid, SIGKILL);
      Wait();
    }
    if (FMaster >= 0) ::close(FMaster);
  }

  bool Started() const { return FPid > 0; }
  void Send(const std::string& Keys) {
    size_t Done = 0;
    while (Done < Keys.size()) {
      ssize_t N = ::write(FMaster, Keys.data() + Done, Keys.size() - Done);
      if (N <= 0) return;
      Done += static_cast<size_t>(N);
    }
  }
  void Interrupt() { ::kill(FPid, SIGINT); }

  // Reads until Text shows after what earlier calls consumed; false after
  // 30 s or at the end of the output.
  bool Expect(const std::string& Text) {
    const auto End = Clock::now() + std::chrono::seconds(30);
    for (;;) {
      if (size_t At = FOut.find(Text, FSeen); At != std::string::npos) {
        FSeen = At + Text.size();
        return true;
      }
      const int Left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(End - Clock::now()).count());
      if (Left <= 0 || !ReadSome(Left)) return false;
    }
  }
  // Waits for the tool to end and answers its exit status (-1 when it
  // has not ended within 30 s).
  int Wait() {
    const auto End = Clock::now() + std::chrono::seconds(30);
    while (Status() < 0 && Clock::now() < End) ReadSome(100);
    return FStatus;
  }
  const std::string& Output() const { return FOut; }

 private:
  bool ReadSome(int Ms) {
    pollfd P{FMaster, POLLIN, 0};
    const int R = ::poll(&P, 1, Ms);
    if (R < 0) return errno == EINTR;
    if (R == 0) return true;
    char Buf[4096];
    ssize_t N = ::read(FMaster, Buf, sizeof Buf);
    if (N <= 0) return false;  // EIO: the slave side has closed
    FOut.append(Buf, static_cast<size_t>(N));
    return true;
  }
  int Status() {
    if (FStatus >= 0) return FStatus;
    int S = 0;
    if (::waitpid(FPid, &S, WNOHANG) == FPid) FStatus = WIFEXITED(S) ? WEXITSTATUS(S) : 128 + WTERMSIG(S);
    return FStatus;
  }

  int FMaster = -1;
  pid_t FPid = -1;
  int FStatus = -1;
  std::string FOut;
  size_t FSeen = 0;
};

TEST_F(VdbsqlTest, TerminalPromptEditsRecallsAndPrintsTables) {
  TTerminal T(BinDir() + "/vdbsql", {Db}, Dir);
  ASSERT_TRUE(T.Started());
  ASSERT_TRUE(T.Expect("vdbsql> ")) << T.Output();
  // A statement over two lines, the second behind the continuation prompt.
  T.Send("select 1 as one,\r");
  ASSERT_TRUE(T.Expect("   ...> ")) << T.Output();
  T.Send("  'two' as two;\r");
  ASSERT_TRUE(T.Expect("one | two\r\n----+----\r\n  1 | two\r\n(1 row)\r\n")) << T.Output();
  ASSERT_TRUE(T.Expect("vdbsql> ")) << T.Output();
  // Up arrow: the whole statement comes back; Enter runs it again.
  T.Send("\x1b[A\r");
  ASSERT_TRUE(T.Expect("  1 | two\r\n(1 row)\r\n")) << T.Output();
  // A typed line edited before Enter.
  T.Send("select 4 as x\b\b\b\b\b2 as x;\r");
  ASSERT_TRUE(T.Expect("x\r\n--\r\n42\r\n(1 row)\r\n")) << T.Output();
  T.Send("\\quit\r");
  EXPECT_EQ(T.Wait(), 0) << T.Output();

  std::ifstream History(Dir + ".vdbsql_history");
  std::stringstream Text;
  Text << History.rdbuf();
  EXPECT_THAT(Text.str(), HasSubstr("select\\0401\\040as\\040one,")) << Text.str();
}

TEST_F(VdbsqlTest, TerminalCtrlCCancelsThenTwiceLeaves) {
  TTerminal T(BinDir() + "/vdbsql", {Db}, Dir);
  ASSERT_TRUE(T.Started());
  ASSERT_TRUE(T.Expect("vdbsql> ")) << T.Output();
  T.Send("waitfor delay '00:00:20';\r");
  ASSERT_TRUE(T.Expect("waitfor delay '00:00:20';\r\n")) << T.Output();
  // Past the echo the line is read; the statement starts a moment later.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const auto Start = Clock::now();
  T.Interrupt();
  ASSERT_TRUE(T.Expect("Error -299: Statement interrupted by user (57014)")) << T.Output();
  EXPECT_LT(Clock::now() - Start, std::chrono::seconds(15)) << "the wait ran to its end";
  T.Send("select 5 as five;\r");
  ASSERT_TRUE(T.Expect("   5\r\n(1 row)\r\n")) << T.Output();
  ASSERT_TRUE(T.Expect("vdbsql> ")) << T.Output();
  // A half-typed statement is dropped by the first Ctrl-C; the second leaves.
  T.Send("select\r");
  ASSERT_TRUE(T.Expect("   ...> ")) << T.Output();
  T.Interrupt();
  ASSERT_TRUE(T.Expect("(Ctrl-C again to quit)")) << T.Output();
  ASSERT_TRUE(T.Expect("vdbsql> ")) << T.Output();
  T.Interrupt();
  EXPECT_EQ(T.Wait(), 0) << T.Output();
}

}  // namespace
}  // namespace vdbsqltest
