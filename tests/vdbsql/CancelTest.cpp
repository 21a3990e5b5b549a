// Ctrl-C while a statement runs cancels it through the session; the tool
// itself goes on with the next statement.
#include <csignal>
#include <thread>

#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;

// The procedure says "waiting" from inside the running call, so the signal
// surely meets the statement and not the gap before it.
constexpr const char* kSlowProcedure =
    "create procedure slow()\n"
    "begin\n"
    "  message 'waiting' to client;\n"
    "  waitfor delay '00:00:10';\n"
    "  select 'not reached' as never;\n"
    "end;\n";

TEST_F(VdbsqlTest, CtrlCCancelsTheRunningStatementAndTheToolGoesOn) {
  Setup(kSlowProcedure);
  TRunOptions O;
  O.Stdin = "call slow();\nselect 42 as answer;\n";
  O.WaitFor = "waiting";
  O.OnSeen = [](int Pid) { ::kill(Pid, SIGINT); };
  const auto Start = std::chrono::steady_clock::now();
  TRun R = Run({Db, "--format", "csv"}, O);
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_EQ(R.Status, 1) << "a cancelled statement is an error";
  EXPECT_THAT(R.Err, HasSubstr("waiting\n"));
  EXPECT_THAT(R.Err, HasSubstr("Error -299"));
  EXPECT_EQ(R.Out, "answer\r\n42\r\n");
  EXPECT_LT(Took, std::chrono::seconds(9)) << "the wait ran to its end";
}

TEST_F(VdbsqlTest, CtrlCStopsAScriptWithTheCancelledStatement) {
  Setup(kSlowProcedure);
  TRunOptions O;
  O.WaitFor = "waiting";
  O.OnSeen = [](int Pid) { ::kill(Pid, SIGINT); };
  TRun R = Run({Db, "--format", "csv", "-c", "call slow()", "-c", "select 42 as answer"}, O);
  EXPECT_EQ(R.Status, 1);
  EXPECT_THAT(R.Err, HasSubstr("Error -299"));
  EXPECT_EQ(R.Out, "");
}

}  // namespace
}  // namespace vdbsqltest
