#include "Options.h"

#include <cstring>

namespace vdbsql {

bool ParseFormat(const std::string& Name, TOutputFormat& Format) {
  static const struct {
    const char* Name;
    TOutputFormat Format;
  } kFormats[] = {{"table", ofTable}, {"csv", ofCsv}, {"tsv", ofTsv}, {"json", ofJson}};
  for (const auto& F : kFormats)
    if (Name == F.Name) {
      Format = F.Format;
      return true;
    }
  return false;
}

std::string DefaultNullText(TOutputFormat Format) { return Format == ofTable ? "NULL" : ""; }

std::string UsageText() {
  return "usage: vdbsql [options] [DATABASE-FILE]\n"
         "\n"
         "Connects to DATABASE-FILE and runs the statements of -c and -f in order, or\n"
         "reads statements interactively. A statement ends with ';' at the end of a\n"
         "line (or on a line of its own); begin ... end bodies are kept whole.\n"
         "\n"
         "Connection:\n"
         "  -u USER             login user (default DBA)\n"
         "  -p PASSWORD         login password (default SQL)\n"
         "  --engine NAME       server (engine) name\n"
         "  --params \"k=v;...\"  extra connection parameters\n"
         "  --server            start a private server for the database\n"
         "  --create            create DATABASE-FILE first when it does not exist\n"
         "  --library FILE      client library file (default dblib7.dll)\n"
         "\n"
         "Statements:\n"
         "  -c SQL              run SQL (repeatable); no prompt\n"
         "  -f FILE             run the statements of FILE (repeatable); no prompt\n"
         "  --continue          go on after an error (the exit status is still 1)\n"
         "  --echo              print each statement before running it\n"
         "\n"
         "Output:\n"
         "  --format FORMAT     table (default on a terminal), csv (default otherwise),\n"
         "                      tsv or json (one object per row)\n"
         "  --null TEXT         how NULL prints (table: NULL, csv and tsv: empty)\n"
         "  --no-header         no column names\n"
         "\n"
         "  --help              this text\n"
         "  --version           the version\n"
         "\n"
         "Interactive commands start with a backslash; \\help lists them.\n"
         "Exit status: 0 success, 1 a statement or the connection failed, 2 bad usage.\n";
}

namespace {

// The value of an option given as "--name value" or "--name=value".
bool TakeValue(int argc, char** argv, int& i, const char* Arg, size_t NameLength, std::string& Value,
               std::string& Error) {
  if (Arg[NameLength] == '=') {
    Value = Arg + NameLength + 1;
    return true;
  }
  if (i + 1 >= argc) {
    Error = std::string("option ") + Arg + " needs a value";
    return false;
  }
  Value = argv[++i];
  return true;
}

bool IsOption(const char* Arg, const char* Name) {
  size_t N = std::strlen(Name);
  return std::strncmp(Arg, Name, N) == 0 && (Arg[N] == '\0' || Arg[N] == '=');
}

}  // namespace

bool ParseOptions(int argc, char** argv, TOptions& O, std::string& Error) {
  bool OptionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* A = argv[i];
    std::string Value;
    if (OptionsEnded || A[0] != '-' || A[1] == '\0') {
      if (!O.Database.empty()) {
        Error = "more than one database file given";
        return false;
      }
      O.Database = A;
      continue;
    }
    if (std::strcmp(A, "--") == 0) {
      OptionsEnded = true;
    } else if (std::strcmp(A, "-u") == 0 || std::strcmp(A, "-p") == 0 || std::strcmp(A, "-c") == 0 ||
               std::strcmp(A, "-f") == 0) {
      if (i + 1 >= argc) {
        Error = std::string("option ") + A + " needs a value";
        return false;
      }
      Value = argv[++i];
      switch (A[1]) {
        case 'u': O.User = Value; break;
        case 'p': O.Password = Value; break;
        case 'c': O.Scripts.push_back({false, Value}); break;
        default: O.Scripts.push_back({true, Value}); break;
      }
    } else if (IsOption(A, "--engine")) {
      if (!TakeValue(argc, argv, i, A, 8, O.Engine, Error)) return false;
    } else if (IsOption(A, "--params")) {
      if (!TakeValue(argc, argv, i, A, 8, O.Params, Error)) return false;
    } else if (IsOption(A, "--library")) {
      if (!TakeValue(argc, argv, i, A, 9, O.Library, Error)) return false;
    } else if (IsOption(A, "--format")) {
      if (!TakeValue(argc, argv, i, A, 8, Value, Error)) return false;
      if (!ParseFormat(Value, O.Format)) {
        Error = "unknown format '" + Value + "' (table, csv, tsv or json)";
        return false;
      }
      O.FormatGiven = true;
    } else if (IsOption(A, "--null")) {
      if (!TakeValue(argc, argv, i, A, 6, O.NullText, Error)) return false;
      O.NullGiven = true;
    } else if (std::strcmp(A, "--server") == 0) {
      O.Server = true;
    } else if (std::strcmp(A, "--create") == 0) {
      O.Create = true;
    } else if (std::strcmp(A, "--no-header") == 0) {
      O.NoHeader = true;
    } else if (std::strcmp(A, "--continue") == 0) {
      O.Continue = true;
    } else if (std::strcmp(A, "--echo") == 0) {
      O.Echo = true;
    } else if (std::strcmp(A, "--help") == 0 || std::strcmp(A, "-h") == 0) {
      O.ShowHelp = true;
    } else if (std::strcmp(A, "--version") == 0) {
      O.ShowVersion = true;
    } else {
      Error = std::string("unknown option ") + A;
      return false;
    }
  }
  return true;
}

}  // namespace vdbsql
