// Runs the built vdbsql as a child process on databases in a temporary
// directory and collects its output and exit status.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vdbsqltest {

struct TRun {
  int Status = -1;  // exit status; 128 + signal number when killed
  std::string Out;  // stdout
  std::string Err;  // stderr
};

// How to run: standard input, and an action once stderr or stdout shows a text.
struct TRunOptions {
  std::string Stdin;                       // written to the tool, then closed
  std::string WaitFor;                     // text to watch for in stdout or stderr
  std::function<void(int Pid)> OnSeen;     // called once WaitFor appeared
};

class VdbsqlTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The directory of the test binary, where vdbsql, vdbinit and the client
  // library variants are built.
  static std::string BinDir();
  // vdbsql with Args (the database file first when given).
  TRun Run(const std::vector<std::string>& Args, const TRunOptions& Options = {});
  // A new database file in the temporary directory (made by vdbinit).
  std::string NewDatabase(const std::string& Name = "test.db");
  // Runs Script with -f on Db; fails the test when it does not succeed.
  TRun Setup(const std::string& Script);
  std::string WriteFile(const std::string& Name, const std::string& Text);

  std::string Dir;  // temporary directory with a trailing "/"
  std::string Db;   // Dir + "test.db", created
};

}  // namespace vdbsqltest
