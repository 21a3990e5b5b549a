// vdbsql: the interactive SQL tool over TAsaSession and TAsaSQL.
#include <cstdio>

#include "Options.h"
#include "Shell.h"

int main(int argc, char** argv) {
  vdbsql::TOptions Options;
  std::string Error;
  if (!vdbsql::ParseOptions(argc, argv, Options, Error)) {
    std::fprintf(stderr, "vdbsql: %s (vdbsql --help)\n", Error.c_str());
    return vdbsql::kExitUsage;
  }
  if (Options.ShowHelp) {
    std::fputs(vdbsql::UsageText().c_str(), stdout);
    return vdbsql::kExitOk;
  }
  if (Options.ShowVersion) {
    std::printf("vdbsql %s (VantorDB for C++)\n", VDBSQL_VERSION);
    return vdbsql::kExitOk;
  }
  if (Options.Database.empty() && Options.Engine.empty()) {
    std::fprintf(stderr, "vdbsql: no database file given (vdbsql --help)\n");
    return vdbsql::kExitUsage;
  }
  try {
    vdbsql::TShell Shell(std::move(Options));
    return Shell.Run();
  } catch (const std::exception& E) {
    std::fflush(stdout);
    std::fprintf(stderr, "vdbsql: %s\n", E.what());
    return vdbsql::kExitError;
  }
}
