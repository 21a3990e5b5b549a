// The backslash commands: catalog listings, connection information,
// options, transactions, plans, backups and the tool's own switches.
#include <cctype>
#include <filesystem>

#include "Query.h"
#include "Shell.h"
#include "ValueText.h"

namespace vdbsql {

namespace {

// The catalog queries the components use for their pick lists.
constexpr const char* kTablesSQL =
    "select user_name, table_name from sys.systable, sys.sysuserperms "
    "where creator=user_id and table_type='BASE' order by 1,2";
constexpr const char* kProcsSQL =
    "select user_name, proc_name from sys.sysprocedure, sys.sysuserperms where creator=user_id order by 1,2";
constexpr const char* kColumnsSQL =
    "select column_name, domain_name, width, scale, nulls, pkey "
    "from sys.systable st, sys.syscolumn sc, sys.sysdomain sd, sys.sysuserperms up "
    "where st.table_id=sc.table_id and sc.domain_id=sd.domain_id and creator=user_id and table_name=? ";

// Options \options lists.
constexpr const char* kOptionNames[] = {
    "isolation_level", "row_counts",  "blocking",         "blocking_timeout", "ansi_update_constraints",
    "chained",         "ansinull",    "quoted_identifier", "date_format",      "time_format",
    "timestamp_format", "date_order", "precision",        "scale",
};

struct TBackupName {
  const char* Name;
  vdb::TBackupType Type;
};
constexpr TBackupName kBackupTypes[] = {
    {"full", vdb::btFull},
    {"fullrenamelog", vdb::btFullRenameLog},
    {"renamelog", vdb::btRenameLog},
    {"fullrenamelocallog", vdb::btFullRenameLocalLog},
    {"renamelocallog", vdb::btRenameLocalLog},
    {"fullrestartlog", vdb::btFullRestartLog},
    {"restartlog", vdb::btRestartLog},
};

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

std::string Trim(const std::string& S) {
  size_t B = S.find_first_not_of(" \t\r\n");
  if (B == std::string::npos) return "";
  size_t E = S.find_last_not_of(" \t\r\n;");
  return E == std::string::npos || E < B ? "" : S.substr(B, E - B + 1);
}

// Splits "word rest" at the first blank.
void SplitWord(const std::string& Text, std::string& Word, std::string& Rest) {
  size_t E = Text.find_first_of(" \t");
  Word = Text.substr(0, E);
  Rest = E == std::string::npos ? "" : Trim(Text.substr(E));
}

bool ParseOnOff(const std::string& Text, bool& Value) {
  const std::string L = Lower(Text);
  if (L == "on" || L == "true" || L == "1") Value = true;
  else if (L == "off" || L == "false" || L == "0") Value = false;
  else return false;
  return true;
}

// Reads "col=value col='some text' ... rest": the assignments, then the rest
// (the query) from the first word that is not an assignment.
bool ParseAssignments(const std::string& Text, std::vector<TAssignment>& Out, std::string& Rest) {
  size_t P = 0;
  const size_t N = Text.size();
  for (;;) {
    while (P < N && std::isspace(static_cast<unsigned char>(Text[P]))) ++P;
    size_t E = P;
    while (E < N && (std::isalnum(static_cast<unsigned char>(Text[E])) || Text[E] == '_')) ++E;
    if (E == P || E >= N || Text[E] != '=') break;
    std::string Column = Text.substr(P, E - P);
    P = E + 1;
    std::string Value;
    if (P < N && Text[P] == '\'') {
      ++P;
      for (;;) {
        if (P >= N) return false;  // unclosed quote
        if (Text[P] == '\'') {
          if (P + 1 < N && Text[P + 1] == '\'') {
            Value += '\'';
            P += 2;
            continue;
          }
          ++P;
          break;
        }
        Value += Text[P++];
      }
    } else {
      while (P < N && !std::isspace(static_cast<unsigned char>(Text[P]))) Value += Text[P++];
    }
    Out.emplace_back(Column, Value);
  }
  Rest = Trim(Text.substr(P));
  return !Out.empty() && !Rest.empty();
}

}  // namespace

void TShell::PrintHelp() {
  std::fputs(
      "Statements end with ';' at the end of a line. Commands:\n"
      "  \\tables                  base tables (owner, name)\n"
      "  \\procs                   stored procedures and functions\n"
      "  \\columns [OWNER.]TABLE   columns of a table\n"
      "  \\info                    engine version, engine name, database name\n"
      "  \\options [NAME]          server options of the connection\n"
      "  \\set OPTION VALUE        set a server option for the connection\n"
      "  \\commit, \\rollback       end the transaction\n"
      "  \\autocommit on|off       commit after every statement (default on)\n"
      "  \\explain QUERY           the plan of a query\n"
      "  \\modify COL=VALUE ... QUERY\n"
      "                           write the values into every row of QUERY through its cursor\n"
      "  \\backup DIR [TYPE]       online backup into DIR; TYPE is full (default), fullrenamelog,\n"
      "                           renamelog, fullrenamelocallog, renamelocallog, fullrestartlog\n"
      "                           or restartlog\n"
      "  \\timing on|off           print how long each statement took (to stderr)\n"
      "  \\help                    this text\n"
      "  \\quit                    leave (Ctrl-D too)\n"
      "Ctrl-C cancels the running statement; twice at the prompt it leaves.\n",
      stdout);
}

bool TShell::RunMeta(const std::string& Text) {
  std::string Command, Args;
  SplitWord(Trim(Text), Command, Args);
  Command = Lower(Command);
  vdb::TAsaSession& S = *FSession;

  if (Command == "q" || Command == "quit" || Command == "exit") {
    FQuit = true;
    return true;
  }
  if (Command == "help" || Command == "?" || Command == "h") {
    PrintHelp();
    return true;
  }
  if (Command == "tables") return FRunner->RunQuery(kTablesSQL, {});
  if (Command == "procs") return FRunner->RunQuery(kProcsSQL, {});
  if (Command == "columns") {
    if (Args.empty()) {
      ReportError("usage: \\columns [OWNER.]TABLE");
      return false;
    }
    std::string Owner, Table = Args;
    if (size_t Dot = Args.find('.'); Dot != std::string::npos) {
      Owner = Trim(Args.substr(0, Dot));
      Table = Trim(Args.substr(Dot + 1));
    }
    std::string SQL = kColumnsSQL;
    std::vector<vcl::Variant> Values = {vcl::Variant(Table)};
    if (!Owner.empty()) {
      SQL += "and user_name=? ";
      Values.emplace_back(Owner);
    }
    SQL += "order by column_id";
    return FRunner->RunQuery(SQL, Values);
  }
  if (Command == "info") {
    static const struct {
      const char* Name;
      vdb::TAsaConnectionInfo Info;
    } kInfo[] = {{"engine version", vdb::ciEngineVersion},
                 {"engine name", vdb::ciEngineName},
                 {"database name", vdb::ciDatabaseName}};
    std::vector<std::pair<std::string, std::string>> Rows;
    for (const auto& I : kInfo) {
      std::string Value;
      if (!S.GetConnectionInfo(I.Info, Value)) {
        ReportError();
        return false;
      }
      Rows.emplace_back(I.Name, Value);
    }
    Rows.emplace_back("database file", S.LoginDatabase());
    Rows.emplace_back("client library", S.LibraryFile() + " (version " + std::to_string(S.LibraryVersion()) + ")");
    Writer().BeginResult({{"property", vdb::vtString}, {"value", vdb::vtString}});
    for (const auto& [Name, Value] : Rows) Writer().Row({vcl::Variant(Name), vcl::Variant(Value)});
    Writer().EndResult();
    return true;
  }
  if (Command == "options") {
    std::vector<std::string> Names;
    if (!Args.empty()) Names.push_back(Args);
    else Names.assign(std::begin(kOptionNames), std::end(kOptionNames));
    std::vector<std::pair<std::string, std::string>> Rows;
    for (const std::string& Name : Names) {
      std::string Value;
      if (S.GetOption(Name, Value)) {
        Rows.emplace_back(Name, Value);
      } else if (!Args.empty()) {
        ReportError();
        return false;
      }
    }
    Writer().BeginResult({{"option", vdb::vtString}, {"value", vdb::vtString}});
    for (const auto& [Name, Value] : Rows) Writer().Row({vcl::Variant(Name), vcl::Variant(Value)});
    Writer().EndResult();
    return true;
  }
  if (Command == "set") {
    std::string Name, Value;
    SplitWord(Args, Name, Value);
    if (Name.empty() || Value.empty()) {
      ReportError("usage: \\set OPTION VALUE");
      return false;
    }
    if (Value.size() >= 2 && Value.front() == '\'' && Value.back() == '\'') Value = Value.substr(1, Value.size() - 2);
    if (!S.SetOption(Name, Value)) {
      ReportError();
      return false;
    }
    return true;
  }
  if (Command == "commit" || Command == "rollback") {
    if (Command == "commit") S.Commit();
    else S.Rollback();
    if (S.LastErrorCode() < 0) {
      ReportError();
      return false;
    }
    return true;
  }
  if (Command == "autocommit") {
    bool On = S.AutoCommit();
    if (!Args.empty() && !ParseOnOff(Args, On)) {
      ReportError("usage: \\autocommit on|off");
      return false;
    }
    S.SetAutoCommit(On);
    std::printf("autocommit is %s\n", On ? "on" : "off");
    return true;
  }
  if (Command == "timing") {
    bool On = !FTiming;
    if (!Args.empty() && !ParseOnOff(Args, On)) {
      ReportError("usage: \\timing on|off");
      return false;
    }
    FTiming = On;
    std::printf("timing is %s\n", On ? "on" : "off");
    return true;
  }
  if (Command == "explain") {
    if (Args.empty()) {
      ReportError("usage: \\explain QUERY");
      return false;
    }
    std::string Plan;
    if (!FRunner->Explain(Args, Plan)) return false;
    std::printf("%s\n", Plan.c_str());
    return true;
  }
  if (Command == "modify") {
    std::vector<TAssignment> Assignments;
    std::string SQL;
    if (!ParseAssignments(Args, Assignments, SQL)) {
      ReportError("usage: \\modify COLUMN=VALUE [COLUMN='VALUE' ...] QUERY");
      return false;
    }
    int64_t Count = 0;
    if (!FRunner->ModifyRows(SQL, Assignments, Count)) return false;
    std::printf("%lld %s modified through the cursor\n", static_cast<long long>(Count), Count == 1 ? "row" : "rows");
    return true;
  }
  if (Command == "backup") {
    std::string Dir, TypeName;
    SplitWord(Args, Dir, TypeName);
    if (Dir.empty()) {
      ReportError("usage: \\backup DIR [full|fullrenamelog|renamelog|fullrenamelocallog|renamelocallog|"
                  "fullrestartlog|restartlog]");
      return false;
    }
    vdb::TBackupType Type = vdb::btFull;
    if (!TypeName.empty()) {
      const std::string L = Lower(TypeName);
      const TBackupName* Found = nullptr;
      for (const auto& B : kBackupTypes)
        if (L == B.Name) Found = &B;
      if (!Found) {
        ReportError("unknown backup type " + TypeName);
        return false;
      }
      Type = Found->Type;
    }
    std::error_code Ec;
    std::filesystem::create_directories(Dir, Ec);
    const bool LogOnly = Type == vdb::btRenameLog || Type == vdb::btRenameLocalLog || Type == vdb::btRestartLog;
    const bool Ok = S.Backup(Dir, Type);
    if (FBackupProgressOpen) {
      std::fputc('\n', stderr);
      FBackupProgressOpen = false;
    }
    // The log-only kinds copy no database file and answer false by design.
    if (S.LastErrorCode() < 0 || (!Ok && !LogOnly)) {
      ReportError();
      return false;
    }
    std::printf("backup to %s done\n", Dir.c_str());
    return true;
  }
  ReportError("unknown command \\" + Command + " (\\help lists the commands)");
  return false;
}

}  // namespace vdbsql
