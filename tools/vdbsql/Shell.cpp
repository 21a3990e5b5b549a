#include "Shell.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Interrupt.h"
#include "LineInput.h"
#include "Query.h"
#include "core/VdbUtil.h"

extern char** environ;

namespace vdbsql {

namespace fs = std::filesystem;

TShell::TShell(TOptions Options) : FOptions(std::move(Options)) {}

TShell::~TShell() {
  FRunner.reset();
  FSession.reset();
}

bool TShell::CancelRequested() const { return CancelPending(); }

void TShell::ReportError(const std::string& Message) {
  std::string Text = Message;
  if (Text.empty() && FSession) Text = FSession->LastError();
  if (Text.empty()) Text = "unknown error";
  std::fflush(stdout);
  std::fprintf(stderr, "%s%s\n", FWhere.c_str(), Text.c_str());
}

int TShell::Run() {
  // Results written to a file or a pipe go out in large blocks.
  if (!::isatty(STDOUT_FILENO)) std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  if (!FOptions.FormatGiven) FOptions.Format = ::isatty(STDOUT_FILENO) ? ofTable : ofCsv;
  if (!FOptions.NullGiven) FOptions.NullText = DefaultNullText(FOptions.Format);
  FWriter = CreateResultWriter(FOptions.Format, stdout, FOptions.NullText, FOptions.NoHeader);
  FStderrTerminal = ::isatty(STDERR_FILENO);
  InstallInterruptHandler();

  if (!Connect()) return kExitError;
  FRunner = std::make_unique<TQueryRunner>(*this);

  int Status = kExitOk;
  if (!FOptions.Scripts.empty()) {
    for (const TScriptSource& Source : FOptions.Scripts) {
      if (!RunSource(Source) || FQuit) break;
    }
    if (FInterrupted) Status = kExitInterrupt;
    else if (FAnyError) Status = kExitError;
  } else {
    Status = RunPrompt();
  }

  FRunner.reset();
  FWhere.clear();
  try {
    FSession->Close();
  } catch (const vcl::Exception& E) {
    ReportError(E.Message());
    Status = kExitError;
  }
  std::fflush(stdout);
  return Status;
}

bool TShell::CreateDatabaseFile() {
  // Databases are made by vdbinit, which is built and installed beside this tool.
  std::string Tool = "vdbinit";
  std::error_code Ec;
  fs::path Self = fs::read_symlink("/proc/self/exe", Ec);
  if (!Ec && fs::exists(Self.parent_path() / "vdbinit")) Tool = (Self.parent_path() / "vdbinit").string();
  const std::string Dba = FOptions.User + "," + FOptions.Password;
  std::vector<std::string> Args = {Tool, "-dba", Dba, FOptions.Database};
  std::vector<char*> Argv;
  for (auto& A : Args) Argv.push_back(A.data());
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t Pid = 0;
  int Rc = posix_spawnp(&Pid, Tool.c_str(), &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Rc != 0) {
    std::fprintf(stderr, "vdbsql: cannot run vdbinit to create %s\n", FOptions.Database.c_str());
    return false;
  }
  int WaitStatus = 0;
  while (::waitpid(Pid, &WaitStatus, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(WaitStatus) || WEXITSTATUS(WaitStatus) != 0) {
    std::fprintf(stderr, "vdbsql: could not create %s\n", FOptions.Database.c_str());
    return false;
  }
  return true;
}

void TShell::InstallEvents() {
  FSession->SetOnServerMessage(
      [](vcl::TObject*, vdb::TServerMessageType, int32_t, const std::string& Msg) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", Msg.c_str());
      });
  // The server asks about every 100 ms of a request whether to go on; a
  // Ctrl-C makes the session cancel the request from inside that call.
  FSession->SetOnServerWait([this](vcl::TObject*, bool& AbortRequest) {
    if (CancelRequested()) AbortRequest = true;
  });
  FSession->SetOnBackup([this](vcl::TObject*, const std::string& File, int32_t Page, int32_t Pages, bool& Abort) {
    if (CancelPending()) Abort = true;
    std::fflush(stdout);
    const std::string Name = fs::path(File).filename().string();
    if (FStderrTerminal) {
      std::fprintf(stderr, "\rbackup %s: page %d of %d", Name.c_str(), Page, Pages);
      FBackupProgressOpen = Page < Pages;
      if (Page >= Pages) std::fputc('\n', stderr);
    } else if (Page >= Pages) {
      std::fprintf(stderr, "backup %s: %d pages\n", Name.c_str(), Pages);
    }
  });
}

bool TShell::Connect() {
  FSession = std::make_unique<vdb::TAsaSession>(nullptr);
  if (FOptions.Database.empty() && FOptions.Engine.empty()) {
    std::fprintf(stderr, "vdbsql: no database file given (vdbsql --help)\n");
    return false;
  }
  std::string Params;
  if (!FOptions.Database.empty()) {
    // The connect runs in the library's directory: a relative name would
    // point there.
    std::error_code Ec;
    fs::path Absolute = fs::absolute(FOptions.Database, Ec);
    if (!Ec) FOptions.Database = Absolute.lexically_normal().string();
    if (!fs::exists(FOptions.Database)) {
      if (!FOptions.Create) {
        std::fprintf(stderr, "vdbsql: database file %s does not exist (--create makes it)\n",
                     FOptions.Database.c_str());
        return false;
      }
      if (!CreateDatabaseFile()) return false;
    }
    if (!FOptions.Server) Params = "dbf=" + FOptions.Database;
  }
  vdb::VdbConcateEmptyField(Params, ";", FOptions.Params);
  if (!FOptions.Library.empty()) FSession->SetLibraryFile(FOptions.Library);
  FSession->SetLoginDatabase(FOptions.Database);
  FSession->SetLoginUser(FOptions.User);
  FSession->SetLoginPassword(FOptions.Password);
  FSession->SetLoginEngineName(FOptions.Engine);
  FSession->SetClientParams(Params);
  FSession->SetServerType(FOptions.Server ? vdb::stServer : vdb::stClient);
  // The printers count the rows themselves; an exact count at every open
  // would run each query twice.
  FSession->SetWantRowCounts(false);
  InstallEvents();
  try {
    FSession->Open();
  } catch (const vcl::Exception& E) {
    std::fprintf(stderr, "%s\n", E.Message().c_str());
    return false;
  }
  if (!FSession->Connected()) {
    ReportError();
    return false;
  }
  return true;
}

bool TShell::RunItem(const TScriptItem& Item) {
  const auto Start = std::chrono::steady_clock::now();
  // From here a Ctrl-C cancels this statement, also one pressed as soon as
  // its echo shows.
  SetStatementRunning(true);
  if (FOptions.Echo) {
    std::string Text = "vdbsql> " + (Item.Meta ? "\\" + Item.Text : Item.Text + ";");
    std::fprintf(stdout, "%s\n", Text.c_str());
    std::fflush(stdout);
  }
  bool Ok = false;
  try {
    Ok = Item.Meta ? RunMeta(Item.Text) : FRunner->RunStatement(Item.Text);
  } catch (const vcl::Exception& E) {
    ReportError(E.Message());
  } catch (const std::exception& E) {
    ReportError(E.what());
  }
  SetStatementRunning(false);
  std::fflush(stdout);
  if (FTiming) {
    const double Ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
    std::fprintf(stderr, "Time: %.3f ms\n", Ms);
  }
  if (!Ok) FAnyError = true;
  return Ok;
}

bool TShell::RunSource(const TScriptSource& Source) {
  // Answers false when the script must stop here.
  auto RunAll = [&](std::vector<TScriptItem>& Items, const std::string& Name) {
    for (const TScriptItem& Item : Items) {
      if (TakeInterrupt()) {
        FInterrupted = true;
        return false;
      }
      FWhere = Name.empty() ? "" : Name + ":" + std::to_string(Item.Line) + ": ";
      const bool Ok = RunItem(Item);
      if (FQuit) return false;
      if (!Ok && !FOptions.Continue) return false;
    }
    Items.clear();
    return true;
  };
  if (!Source.IsFile) {
    std::vector<TScriptItem> Items = SplitScript(Source.Text);
    const bool Ok = RunAll(Items, "");
    FWhere.clear();
    return Ok;
  }
  std::ifstream In(Source.Text, std::ios::binary);
  if (!In) {
    std::fprintf(stderr, "vdbsql: cannot open %s\n", Source.Text.c_str());
    FAnyError = true;
    return FOptions.Continue;
  }
  TStatementSplitter Splitter;
  std::vector<TScriptItem> Items;
  std::string Line;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    Splitter.AddLine(Line, Items);
    if (!RunAll(Items, Source.Text)) {
      FWhere.clear();
      return false;
    }
  }
  Splitter.Finish(Items);
  const bool Ok = RunAll(Items, Source.Text);
  FWhere.clear();
  return Ok;
}

int TShell::RunPrompt() {
  const bool Terminal = ::isatty(STDIN_FILENO);
  std::string History;
  if (Terminal) {
    if (const char* Home = std::getenv("HOME"); Home && *Home) History = std::string(Home) + "/.vdbsql_history";
    std::printf("vdbsql %s on %s. \\help lists the commands, \\quit leaves.\n", VDBSQL_VERSION,
                FOptions.Database.empty() ? FOptions.Engine.c_str() : FOptions.Database.c_str());
  }
  std::unique_ptr<TLineInput> Input = CreateLineInput(Terminal, History);
  TStatementSplitter Splitter;
  std::vector<TScriptItem> Items;
  bool LastWasInterrupt = false;
  std::string Line;
  while (!FQuit) {
    const TReadResult R = Input->ReadLine(Splitter.Pending() ? "   ...> " : "vdbsql> ", Line);
    if (R == rrInterrupt) {
      if (!Terminal) return kExitInterrupt;
      if (LastWasInterrupt) break;
      LastWasInterrupt = true;
      Splitter.Reset();
      std::printf("(Ctrl-C again to quit)\n");
      continue;
    }
    if (R == rrEnd) {
      Splitter.Finish(Items);
    } else {
      LastWasInterrupt = false;
      Splitter.AddLine(Line, Items);
    }
    for (const TScriptItem& Item : Items) {
      Input->AddHistory(Item.Meta ? "\\" + Item.Text : Item.Text + ";");
      // A Ctrl-C that came before the statement could start drops it and
      // the rest of the line, as one during the statement would.
      if (InterruptWaiting()) break;
      RunItem(Item);
      if (FQuit || InterruptWaiting()) break;
    }
    Items.clear();
    if (R == rrEnd) {
      if (Terminal) std::printf("\n");
      break;
    }
  }
  return !Terminal && FAnyError ? kExitError : kExitOk;
}

}  // namespace vdbsql
