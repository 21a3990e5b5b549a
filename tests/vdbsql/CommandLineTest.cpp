// Exit statuses and messages of the command line itself: usage errors,
// missing and created databases, failed logins, stopping at errors.
#include <filesystem>

#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;

TEST_F(VdbsqlTest, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> Cases = {
      {},                                  // no database
      {Db, "--no-such-option"},            // unknown option
      {Db, "--format", "xml"},             // unknown format
      {Db, "-c"},                          // value missing
      {Db, Dir + "second.db"},             // two databases
  };
  for (const auto& Args : Cases) {
    TRun R = Run(Args);
    EXPECT_EQ(R.Status, 2) << ::testing::PrintToString(Args);
    EXPECT_THAT(R.Err, HasSubstr("vdbsql: ")) << ::testing::PrintToString(Args);
    EXPECT_EQ(R.Out, "");
  }
}

TEST_F(VdbsqlTest, HelpAndVersion) {
  TRun Help = Run({"--help"});
  EXPECT_EQ(Help.Status, 0);
  EXPECT_THAT(Help.Out, HasSubstr("usage: vdbsql [options] [DATABASE-FILE]"));
  EXPECT_THAT(Help.Out, HasSubstr("--format FORMAT"));
  TRun Version = Run({"--version"});
  EXPECT_EQ(Version.Status, 0);
  EXPECT_THAT(Version.Out, HasSubstr("vdbsql "));
}

TEST_F(VdbsqlTest, MissingDatabaseIsAnErrorUnlessCreated) {
  const std::string File = Dir + "new.db";
  TRun Missing = Run({File, "-c", "\\info"});
  EXPECT_EQ(Missing.Status, 1);
  EXPECT_THAT(Missing.Err, HasSubstr("does not exist"));
  EXPECT_FALSE(std::filesystem::exists(File)) << "a failed connect left a file behind";

  TRun Created = Run({"--create", File, "--format", "csv", "-c", "\\info"});
  EXPECT_EQ(Created.Status, 0) << Created.Err;
  EXPECT_THAT(Created.Out, HasSubstr("database name,new\r\n"));
  EXPECT_TRUE(std::filesystem::exists(File));

  // --create on an existing database just opens it.
  TRun Again = Run({"--create", File, "-c", "\\info"});
  EXPECT_EQ(Again.Status, 0) << Again.Err;
}

TEST_F(VdbsqlTest, LoginFailurePrintsTheServerError) {
  TRun R = Run({Db, "-u", "DBA", "-p", "wrong", "-c", "\\info"});
  EXPECT_EQ(R.Status, 1);
  EXPECT_THAT(R.Err, HasSubstr("Error -103"));
  EXPECT_EQ(R.Out, "");

  // Another user and password, made at creation.
  const std::string File = Dir + "own.db";
  TRun Created = Run({"--create", File, "-u", "boss", "-p", "secret", "-c", "\\info"});
  EXPECT_EQ(Created.Status, 0) << Created.Err;
  EXPECT_EQ(Run({File, "-c", "\\info"}).Status, 1);
  EXPECT_EQ(Run({File, "-u", "boss", "-p", "secret", "-c", "\\info"}).Status, 0);
}

TEST_F(VdbsqlTest, StopsAtTheFirstErrorUnlessToldToContinue) {
  TRun Stop = Run({Db, "--format", "csv", "-c", "\\nosuch", "-c", "\\options blocking"});
  EXPECT_EQ(Stop.Status, 1);
  EXPECT_EQ(Stop.Err, "unknown command \\nosuch (\\help lists the commands)\n");
  EXPECT_EQ(Stop.Out, "");

  TRun Go = Run({Db, "--format", "csv", "--continue", "-c", "\\nosuch", "-c", "\\options blocking"});
  EXPECT_EQ(Go.Status, 1) << "an error must not turn into success";
  EXPECT_EQ(Go.Out, "option,value\r\nblocking,ON\r\n");

  // In a file the error says where it happened.
  const std::string Script = WriteFile("bad.sql", "\\options blocking\n\n\\nosuch\n\\info\n");
  TRun File = Run({Db, "--format", "csv", "-f", Script});
  EXPECT_EQ(File.Status, 1);
  EXPECT_EQ(File.Err, Script + ":3: unknown command \\nosuch (\\help lists the commands)\n");
  EXPECT_EQ(File.Out, "option,value\r\nblocking,ON\r\n");

  TRun NoFile = Run({Db, "-f", Dir + "absent.sql"});
  EXPECT_EQ(NoFile.Status, 1);
  EXPECT_THAT(NoFile.Err, HasSubstr("cannot open"));
}

}  // namespace
}  // namespace vdbsqltest
