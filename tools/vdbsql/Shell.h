// The tool itself: one TAsaSession, the statements and meta-commands it
// runs from -c, -f or the prompt, and the printer the results go to.
#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Formatter.h"
#include "Options.h"
#include "Splitter.h"
#include "asa/VdbAsa.h"

namespace vdbsql {

class TQueryRunner;

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitError = 1;      // a statement or the connection failed
constexpr int kExitUsage = 2;      // bad command line
constexpr int kExitInterrupt = 130;  // Ctrl-C stopped a script between statements

class TShell {
 public:
  explicit TShell(TOptions Options);
  ~TShell();
  TShell(const TShell&) = delete;
  TShell& operator=(const TShell&) = delete;

  // Connects, runs the scripts or the prompt, disconnects; answers the exit status.
  int Run();

  // What the query runner needs (Query.cpp).
  vdb::TAsaSession& Session() { return *FSession; }
  TResultWriter& Writer() { return *FWriter; }
  // Prints the session's last error (or Fallback when it has none) to stderr.
  void ReportError(const std::string& Fallback = "");
  // A Ctrl-C asked to stop the running statement.
  bool CancelRequested() const;

 private:
  bool Connect();
  bool CreateDatabaseFile();
  void InstallEvents();

  // Runs one -c text or -f file; false after an error or Ctrl-C that stops the script.
  bool RunSource(const TScriptSource& Source);
  int RunPrompt();
  // One statement or meta-command; false when it failed.
  bool RunItem(const TScriptItem& Item);
  bool RunMeta(const std::string& Text);  // MetaCommands.cpp
  void PrintHelp();

  TOptions FOptions;
  std::unique_ptr<vdb::TAsaSession> FSession;
  std::unique_ptr<TResultWriter> FWriter;
  std::unique_ptr<TQueryRunner> FRunner;
  std::string FWhere;          // "file:line: " put before errors of a script item
  bool FQuit = false;          // \quit was given
  bool FTiming = false;        // \timing on
  bool FAnyError = false;      // some item failed
  bool FInterrupted = false;   // Ctrl-C stopped a script between statements
  bool FBackupProgressOpen = false;  // a progress line waits for its end on stderr
  bool FStderrTerminal = false;
};

}  // namespace vdbsql
