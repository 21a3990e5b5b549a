// Ctrl-C while a statement runs cancels it through the session; the tool
// itself goes on with the next statement.
#include <csignal>

#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;

// With --echo the statement counts as running once its echo shows, so the
// signal meets the statement and not the gap before it.
void Interrupt(int Pid) { ::kill(Pid, SIGINT); }

TEST_F(VdbsqlTest, CtrlCCancelsTheRunningStatementAndTheToolGoesOn) {
  TRunOptions O;
  O.Stdin = "waitfor delay '00:00:10';\nselect 42 as answer;\n";
  O.WaitFor = "vdbsql> waitfor";
  O.OnSeen = Interrupt;
  const auto Start = std::chrono::steady_clock::now();
  TRun R = Run({Db, "--format", "csv", "--echo"}, O);
  const auto Took = std::chrono::steady_clock::now() - Start;
  EXPECT_EQ(R.Status, 1) << "a cancelled statement is an error";
  EXPECT_THAT(R.Err, HasSubstr("Error -299: Statement interrupted by user (57014)\n"));
  EXPECT_EQ(R.Out, "vdbsql> waitfor delay '00:00:10';\nvdbsql> select 42 as answer;\nanswer\r\n42\r\n");
  EXPECT_LT(Took, std::chrono::seconds(9)) << "the wait ran to its end";
}

TEST_F(VdbsqlTest, CtrlCStopsAScriptWithTheCancelledStatement) {
  TRunOptions O;
  O.WaitFor = "vdbsql> waitfor";
  O.OnSeen = Interrupt;
  TRun R = Run({Db, "--format", "csv", "--echo", "-c", "waitfor delay '00:00:10'", "-c", "select 42 as answer"}, O);
  EXPECT_EQ(R.Status, 1);
  EXPECT_THAT(R.Err, HasSubstr("Error -299"));
  EXPECT_EQ(R.Out, "vdbsql> waitfor delay '00:00:10';\n");
}

}  // namespace
}  // namespace vdbsqltest
