// Error checks, options, callback events, information calls, locating
// servers and online backup of a connected TAsaSession.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "AsaFixture.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"

namespace asatest {
namespace {

using vdb::TAsaSession;
namespace fs = std::filesystem;

// The engine goes away under a connected session: the next call reports
// -308, the session disconnects and tells so.
TEST_F(AsaTest, TerminatedConnectionDisconnectsTheSession) {
  auto S = NewSession();
  std::vector<std::string> Events;
  S->SetOnError([&](vcl::TObject*) { Events.push_back("error"); });
  S->SetOnConnectionTerminated([&](vcl::TObject*) { Events.push_back("terminated"); });
  S->SetAfterDisconnect([&](vcl::TObject*) { Events.push_back("disconnected"); });
  S->SetOnConnectionDropped([&](vcl::TObject*) { Events.push_back("dropped"); });
  S->Open();
  vdbsrv::ConnectParams P;
  P.engineName = "test";
  vdbsrv::Server::Instance().StopEngine(P, nullptr);

  S->SetWantExceptions(true);
  try {
    S->Commit();
    FAIL() << "commit on a dropped connection succeeded";
  } catch (const vdb::EAsaException& E) {
    EXPECT_EQ(SQLE_CONNECTION_TERMINATED, E.ErrorCode());
  }
  EXPECT_FALSE(S->Connected());
  EXPECT_EQ(SQLE_CONNECTION_TERMINATED, S->LastErrorCode());
  EXPECT_EQ(0u, S->LastError().find("Error -308: "));
  EXPECT_EQ(std::string::npos, S->LastError().find('(')) << S->LastError();
  const std::vector<std::string> Expected = {"dropped", "error", "disconnected", "terminated"};
  EXPECT_EQ(Expected, Events);
  EXPECT_EQ(0, AdaptersInUse());
}

TEST_F(AsaTest, ErrorAndWarningTexts) {
  auto S = NewSession();
  S->Open();
  S->SetWantExceptions(true);
  // A warning never raises and keeps its SQLSTATE.
  EXPECT_TRUE(S->NeedQuotes("select"));
  EXPECT_EQ(SQLE_NEEDS_QUOTES, S->LastErrorCode());
  EXPECT_EQ(0u, S->LastError().find("Warning: ")) << S->LastError();
  EXPECT_EQ(')', S->LastError().back());
  EXPECT_FALSE(S->NeedQuotes("plain"));
  EXPECT_EQ("", S->LastError());

  int Errors = 0;
  S->SetOnError([&](vcl::TObject*) { ++Errors; });
  try {
    S->SetOption("isolation_level", "7");
    FAIL();
  } catch (const vdb::EAsaException& E) {
    EXPECT_GT(0, E.ErrorCode());
    EXPECT_EQ(S->LastError(), std::string(E.Message()));
    EXPECT_EQ(0u, S->LastError().find("Error " + std::to_string(E.ErrorCode()) + ": "));
    const std::string& T = S->LastError();
    ASSERT_GE(T.size(), 8u);
    EXPECT_EQ(" (", T.substr(T.size() - 8, 2)) << "five-character SQLSTATE at the end: " << T;
  }
  EXPECT_EQ(1, Errors);
  S->SetWantExceptions(false);
  EXPECT_FALSE(S->SetOption("isolation_level", "7"));
  EXPECT_EQ(2, Errors);
  EXPECT_TRUE(S->Connected());

  // The pushed outcome survives clean-up calls.
  S->CheckPushError();
  std::string V;
  EXPECT_TRUE(S->GetOption("row_counts", V));
  EXPECT_FALSE(S->CheckPopError(false));
  EXPECT_GT(0, S->LastErrorCode());
  EXPECT_THROW(S->CheckPopError(true), vdb::EAsaException);
}

// Options are sent only when the server's value differs; the library's
// trace (debug=yes) shows every SET it receives.
TEST_F(AsaTest, OptionsAreNotSentWhenUnchangedAndDebugLinesArrive) {
  auto S = NewSession();
  S->SetClientParams("debug=yes");
  std::vector<std::string> Lines;
  S->SetOnDebugMessage([&](vcl::TObject*, const std::string& L) { Lines.push_back(L); });
  S->Open();
  auto Sets = [&](const std::string& Option) {
    int N = 0;
    for (const auto& L : Lines) N += L.find("Set option " + Option + " = ") != std::string::npos;
    return N;
  };
  ASSERT_FALSE(Lines.empty());
  EXPECT_EQ(1, Sets("row_counts"));
  EXPECT_EQ(1, Sets("ansi_update_constraints"));
  EXPECT_EQ(0, Sets("isolation_level")) << "atUnchanged sends nothing";
  S->SetWantRowCounts(true);
  EXPECT_EQ(1, Sets("row_counts")) << "already ON on the server";
  S->SetWantRowCounts(false);
  EXPECT_EQ(2, Sets("row_counts"));
  std::string V;
  ASSERT_TRUE(S->GetOption("row_counts", V));
  EXPECT_EQ("OFF", V);
  S->SetTransIsolation(vdb::atReapeatableRead);
  ASSERT_TRUE(S->GetOption("isolation_level", V));
  EXPECT_EQ("2", V);
  for (const auto& L : Lines) {
    EXPECT_EQ(std::string::npos, L.find('\n'));
    EXPECT_EQ(std::string::npos, L.find('\r'));
  }
}

TEST_F(AsaTest, DebugTextIsSplitIntoLines) {
  struct Case {
    const char* Text;
    std::vector<std::string> Lines;
  };
  const Case Cases[] = {
      {"a\r\nb\n", {"a", "b"}},
      {"\nx", {"", "x"}},
      {"one", {"one"}},
      {"", {}},
      {"a\n\n\r\nb", {"a", "b"}},
  };
  TAsaSession S(nullptr);
  std::vector<std::string> Got;
  S.SetOnDebugMessage([&](vcl::TObject*, const std::string& L) { Got.push_back(L); });
  for (const Case& C : Cases) {
    Got.clear();
    vdb::TAsaDebugRecord Rec{nullptr, C.Text};
    S.DebugMessageCall(Rec);
    EXPECT_EQ(C.Lines, Got) << C.Text;
  }
}

TEST_F(AsaTest, ServerMessagesAndRequestCallbacksReachTheirEvents) {
  auto S = NewSession();
  struct Msg {
    vdb::TServerMessageType Type;
    int32_t Code;
    std::string Text;
  };
  std::vector<Msg> Messages;
  int Starts = 0, Finishes = 0;
  S->SetOnServerMessage([&](vcl::TObject* Sender, vdb::TServerMessageType T, int32_t C, const std::string& Text) {
    EXPECT_EQ(S.get(), Sender);
    Messages.push_back({T, C, Text});
  });
  S->SetOnServerStart([&](vcl::TObject*) { ++Starts; });
  S->SetOnServerFinish([&](vcl::TObject*) { ++Finishes; });
  S->Open();
  // A second session's events stay its own.
  auto Other = NewSession("dblib7.dll", vdb::stClient);
  int OtherMessages = 0;
  Other->SetOnServerMessage([&](vcl::TObject*, vdb::TServerMessageType, int32_t, const std::string&) {
    ++OtherMessages;
  });
  Other->Open();

  Starts = Finishes = 0;
  ASSERT_EQ(0, Exec(*S, "message 'hello there' to client")) << S->LastError();
  ASSERT_EQ(1u, Messages.size());
  EXPECT_EQ(vdb::smtInfo, Messages[0].Type);
  EXPECT_EQ("hello there", Messages[0].Text);
  EXPECT_EQ(1, Starts);
  EXPECT_EQ(1, Finishes);
  EXPECT_EQ(0, OtherMessages);

  // A handler removed after the connect is not called.
  S->SetOnServerMessage(nullptr);
  ASSERT_EQ(0, Exec(*S, "message 'again' to client"));
  EXPECT_EQ(1u, Messages.size());
  S->Close();
  EXPECT_EQ(1, AdaptersInUse()) << "only the other session's";
  Other->Close();
  EXPECT_EQ(0, AdaptersInUse());
}

TEST_F(AsaTest, ServerWaitCancelsALongRequest) {
  auto S = NewSession();
  int Waits = 0;
  S->SetOnServerWait([&](vcl::TObject*, bool& Abort) { Abort = ++Waits >= 3; });
  S->Open();
  const auto Start = std::chrono::steady_clock::now();
  const int32_t Code = Exec(*S, "waitfor delay '00:00:05'");
  if (Code == SQLE_NOT_IMPLEMENTED || Code == -131) GTEST_SKIP() << "the server has no waitfor yet: " << Code;
  EXPECT_EQ(SQLE_INTERRUPTED, Code);
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(3));
  EXPECT_GE(Waits, 3);
  EXPECT_TRUE(S->Connected());
  EXPECT_FALSE(S->IsWorking());
  EXPECT_TRUE(S->Stop()) << "nothing to cancel";
}

TEST_F(AsaTest, LocateServersReportsEachEngineUntilAborted) {
  const std::string Second = NewDatabase("other.db");
  auto A = NewSession();
  A->Open();
  auto B = NewSession("dblib7.dll", vdb::stServer, Second);
  B->Open();

  TAsaSession S(nullptr);
  EXPECT_FALSE(S.LocateServers()) << "no handler";
  std::vector<std::string> Names;
  bool AbortFirst = false;
  S.SetOnLocateServers([&](vcl::TObject*, const std::string& Name, const std::string& Address, int32_t Port,
                           bool& Abort) {
    Names.push_back(Name);
    EXPECT_EQ("local", Address);
    EXPECT_EQ(0, Port);
    Abort = AbortFirst;
  });
  EXPECT_TRUE(S.LocateServers());
  std::sort(Names.begin(), Names.end());
  EXPECT_EQ((std::vector<std::string>{"other", "test"}), Names);
  Names.clear();
  AbortFirst = true;
  EXPECT_TRUE(S.LocateServers());
  EXPECT_EQ(1u, Names.size());
  EXPECT_EQ(0, vdb::VdbAdaptersInUse(vdb::akLocate));

  TAsaSession Old(nullptr);
  Old.SetLibraryFile("dbl50t.dll");
  Old.SetOnLocateServers([&](vcl::TObject*, const std::string&, const std::string&, int32_t, bool&) {});
  EXPECT_FALSE(Old.LocateServers()) << "library without db_locate_servers";
}

// Libraries without the optional entry points: the services answer false
// and Ping falls back to looking the engine up by name.
TEST_F(AsaTest, MissingOptionalEntryPointsFallBack) {
  struct Case {
    const char* File;
    bool HasProperty, HasTimeChange, HasPing;
  };
  const Case Cases[] = {{"dbl40t.dll", false, false, false},
                        {"dbl50t.dll", false, false, true},
                        {"dblib6.dll", false, true, true},
                        {"dblib7.dll", true, true, true}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.File);
    auto S = NewSession(C.File, vdb::stServer);
    S->Open();
    std::string Address;
    EXPECT_EQ(C.HasProperty, S->GetProperty(vdb::ptServerAddress, Address));
    EXPECT_EQ(C.HasProperty ? "local" : "", Address);
    EXPECT_EQ(C.HasTimeChange, S->TimeChange());
    EXPECT_TRUE(S->Ping("ENG=test;uid=x"));
    // Only the engine lookup takes a bare name for a whole string.
    EXPECT_EQ(!C.HasPing, S->Ping("test"));
    EXPECT_FALSE(S->Ping("Eng=nosuch;dbn=x"));
    EXPECT_EQ(SQLE_ENGINE_NOT_RUNNING, S->LastErrorCode());
    std::string Name;
    EXPECT_TRUE(S->GetConnectionInfo(vdb::ciEngineName, Name));
    EXPECT_EQ("test", Name);
    EXPECT_TRUE(S->GetConnectionInfo(vdb::ciDatabaseName, Name));
    EXPECT_EQ("test", Name);
    S.reset();
    TearDown();
    SetUp();
  }
}

// Each backup type: which files land in the directory and what the
// result says. The full copy opens with sqlite3 and holds every committed
// row, and not the uncommitted one.
TEST_F(AsaTest, BackupOfEachType) {
  struct Case {
    vdb::TBackupType Type;
    bool Result;
    bool DatabaseFile;  // test.db copied
    bool LogFile;       // test.log copied under its own name
    bool RenamedLog;    // the local log copy carries the renamed log's name
  };
  const Case Cases[] = {
      {vdb::btFull, true, true, true, false},
      {vdb::btFullRenameLog, true, true, true, false},
      {vdb::btRenameLog, false, false, false, false},
      {vdb::btFullRenameLocalLog, true, true, false, true},
      {vdb::btRenameLocalLog, false, false, false, true},
      {vdb::btFullRestartLog, true, true, true, false},
      {vdb::btRestartLog, false, false, false, false},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE("type " + std::to_string(C.Type));
    auto S = NewSession();
    S->SetWantExceptions(true);
    S->Open();
    ASSERT_EQ(0, Exec(*S, "create table t(a integer)"));
    for (int I = 0; I < 50; ++I) ASSERT_EQ(0, Exec(*S, "insert into t values(" + std::to_string(I) + ")"));
    S->Commit();
    const std::string Target = Dir + "backup";
    fs::create_directories(Target);
    int LastPage = 0, Pages = 0;
    S->SetOnBackup([&](vcl::TObject*, const std::string& File, int32_t Curr, int32_t Num, bool&) {
      EXPECT_EQ(0u, File.find(Target + "/"));
      LastPage = Curr;
      Pages = Num;
    });
    std::string Windowsish = Target;
    for (char& Ch : Windowsish)
      if (Ch == '/') Ch = '\\';
    EXPECT_EQ(C.Result, S->Backup(Windowsish, C.Type));
    EXPECT_EQ(LastPage, Pages);
    EXPECT_EQ(C.DatabaseFile, fs::exists(Target + "/test.db"));
    EXPECT_EQ(C.LogFile, fs::exists(Target + "/test.log"));
    int Renamed = 0;
    for (const auto& E : fs::directory_iterator(Target))
      Renamed += E.path().filename() != "test.db" && E.path().filename() != "test.log";
    EXPECT_EQ(C.RenamedLog ? 1 : 0, Renamed);
    if (C.Type == vdb::btRenameLog || C.Type == vdb::btRestartLog) {
      EXPECT_TRUE(fs::is_empty(Target)) << "nothing is written locally";
    }
    if (C.DatabaseFile) {
      EXPECT_EQ("50", Sqlite3(Target + "/test.db", "select count(*) from t"));
    }
    S->Close();
    S.reset();
    TearDown();
    SetUp();
  }
}

TEST_F(AsaTest, BackupAbortAndMediaErrorsEndTheBackup) {
  auto S = NewSession();
  S->Open();
  S->SetOnBackup([](vcl::TObject*, const std::string&, int32_t, int32_t, bool& Abort) { Abort = true; });
  try {
    S->Backup(Dir + "b1", vdb::btFull);
    FAIL() << "no such directory";
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ("Not able to backup to the selected media.", std::string(E.Message()));
  }
  fs::create_directories(Dir + "b2");
  try {
    S->Backup(Dir + "b2/", vdb::btFull);
    FAIL() << "not aborted";
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ("User aborted backup operation.", std::string(E.Message()));
    EXPECT_EQ(0, E.ErrorCode());
  }
  // The server's backup ended: another one starts.
  S->SetOnBackup(nullptr);
  EXPECT_TRUE(S->Backup(Dir + "b2", vdb::btFull)) << S->LastError();
}

}  // namespace
}  // namespace asatest
