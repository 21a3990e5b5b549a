// Command line of vdbsql: what to connect to, what to run and how to print.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdbsql {

// How result rows are printed.
enum TOutputFormat : uint8_t {
  ofTable,  // aligned columns for people
  ofCsv,    // RFC 4180
  ofTsv,    // tab-separated, with backslash escapes
  ofJson,   // one typed JSON object per row
};

// One -c text or -f file, in command-line order.
struct TScriptSource {
  bool IsFile = false;  // Text is a file name (-f), else SQL (-c)
  std::string Text;
};

struct TOptions {
  std::string Database;                 // the database file; empty: none
  std::string User = "DBA";             // -u
  std::string Password = "SQL";         // -p
  std::string Engine;                   // --engine
  std::string Params;                   // --params, extra connection parameters
  std::string Library;                  // --library: client library file; empty: the session's default
  bool Server = false;                  // --server: start a private server
  bool Create = false;                  // --create: create the database file when missing
  std::vector<TScriptSource> Scripts;   // -c and -f
  bool FormatGiven = false;             // --format was given
  TOutputFormat Format = ofTable;       // --format
  bool NullGiven = false;               // --null was given
  std::string NullText;                 // --null
  bool NoHeader = false;                // --no-header
  bool Continue = false;                // --continue: go on after an error in -c/-f
  bool Echo = false;                    // --echo: print each statement before running it
  bool ShowHelp = false;                // --help
  bool ShowVersion = false;             // --version
};

// Parses argv. On a usage error answers false with Error set.
bool ParseOptions(int argc, char** argv, TOptions& Options, std::string& Error);

// The --help text.
std::string UsageText();

// The text a NULL prints as in a format when --null was not given.
std::string DefaultNullText(TOutputFormat Format);

bool ParseFormat(const std::string& Name, TOutputFormat& Format);

}  // namespace vdbsql
