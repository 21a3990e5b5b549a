// The abstract session through a small recording session of our own (the
// frame has no concrete session yet) and a real shared library that the
// session loads from temporary directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "VdbSqlTestStatement.h"
#include "core/VdbBase.h"
#include "rtl/Application.h"
#include "rtl/ClassRegistry.h"
#include "rtl/FileUtils.h"
#include "rtl/FormFiles.h"
#include "rtl/Variants.h"
#include "rtl/Windows.h"

namespace {

namespace fs = std::filesystem;

using TLog = std::vector<std::string>;

using TAnswerProc = int (*)();
using TAddProc = int (*)(int, int);

// A session that records every virtual operation the frame calls and binds
// the test library's entry points for real.
class TRecordingSession : public vdb::TVantorSession {
 public:
  // External, when given, receives the log instead of the session's own,
  // so that a test can still read it after the session is gone.
  explicit TRecordingSession(TLog* External = nullptr, vcl::TComponent* AOwner = nullptr)
      : vdb::TVantorSession(AOwner), Log(External != nullptr ? *External : FOwnLog) {
    SetLibraryFile(VDB_CORE_TESTLIB);
  }
  ~TRecordingSession() override { Shutdown(); }
  std::string ClassName() const override { return "TRecordingSession"; }

 private:
  TLog FOwnLog;

 public:
  TLog& Log;                    // operations in call order
  bool FailInit = false;        // InternalInitLibrary raises
  bool FailOpen = false;        // InternalOpenDatabase raises
  void* BadHandle = nullptr;    // InternalSetHandle refuses this one
  int32_t NextCode = 0;         // outcome the next Check reads
  std::string NextMessage;
  TAnswerProc Answer = nullptr;   // bound from the library
  TAddProc Missing = nullptr;     // not exported: bound to the raising fallback

  void InternalLoadLibraryProcs() override {
    Log.push_back("LoadLibraryProcs");
    vdb::VdbAssignProcAddress(Answer, vcl::GetProcAddress(FLibraryHandle, "vdb_test_answer"),
                              vdb::VdbDummyEntry<TAnswerProc>());
    vdb::VdbAssignProcAddress(Missing, vcl::GetProcAddress(FLibraryHandle, "vdb_test_missing"),
                              vdb::VdbDummyEntry<TAddProc>());
  }
  void InternalInitLibrary() override {
    Log.push_back("InitLibrary");
    if (FailInit) RaiseLastError(vdb::VDB_ERR_LIB_INIT_FAILED, 0);
  }
  void InternalFiniLibrary() override { Log.push_back("FiniLibrary"); }
  void InternalOpenDatabase(void*& AHandle) override {
    Log.push_back("OpenDatabase");
    if (FailOpen) RaiseLastError("Unable to connect", -103);
    AHandle = &FOwnConnection;
  }
  void InternalCloseDatabase() override { Log.push_back("CloseDatabase"); }
  void InternalSetHandle(void* AHandle) override {
    Log.push_back(AHandle == nullptr ? "SetHandle(own)" : "SetHandle(foreign)");
    if (AHandle != nullptr && AHandle == BadHandle) RaiseLastError(vdb::VDB_ERR_SESS_INVALID_HANDLE, 0);
  }
  bool Check(bool RaiseError) override {
    FLastErrorCode = NextCode;
    FLastError = NextMessage;
    if (NextCode < 0 && FOnError) FOnError(this);
    if (RaiseError && NextCode < 0) RaiseLastError(NextMessage, NextCode);
    return NextCode == 0;
  }
  bool CheckPopError(bool RaiseError) override {
    FLastError = FPushedError;
    FLastErrorCode = FPushedErrorCode;
    if (RaiseError && FLastErrorCode < 0) RaiseLastError(FLastError, FLastErrorCode);
    return FLastErrorCode == 0;
  }
  void InternalCommit(bool RaiseError) override { Log.push_back(RaiseError ? "Commit(raise)" : "Commit(quiet)"); }
  void InternalRollback() override { Log.push_back("Rollback"); }
  std::string GetLibraryVersion() override { return "test"; }
  bool Stop() override { return false; }

  // Records the connection events as well.
  void RecordEvents() {
    SetBeforeConnect([this](vcl::TObject*) { Log.push_back("BeforeConnect"); });
    SetAfterConnect([this](vcl::TObject*) { Log.push_back("AfterConnect"); });
    SetBeforeDisconnect([this](vcl::TObject*) { Log.push_back("BeforeDisconnect"); });
    SetAfterDisconnect([this](vcl::TObject*) { Log.push_back("AfterDisconnect"); });
  }

  void* OwnHandle() { return &FOwnConnection; }

 protected:
  void Loaded() override {
    Log.push_back("Loaded");
    vdb::TVantorSession::Loaded();
  }

 private:
  int FOwnConnection = 0;
};

const bool RecordingSessionRegistered = [] {
  vdb::VdbRegisterBaseClasses();
  vcl::RegisterClass(
      "TRecordingSession", [](vcl::TComponent* Owner) -> vcl::TComponent* { return new TRecordingSession(nullptr, Owner); },
      {}, "TVantorSession");
  return true;
}();

// A statement that records what the session's register makes it do.
class TRecordingSQL : public vdbtest::TStubSQL {
 public:
  TRecordingSQL(TLog& ALog, std::string AName) : vdbtest::TStubSQL(nullptr), FLog(ALog), FTag(std::move(AName)) {}

  // Pretends both halves are prepared and the cursor open.
  void PretendPrepared() {
    FCursorPrepared = true;
    FExecPrepared = true;
    FActive = true;
    FLibraryProcsInvalid = false;
  }

 protected:
  void InternalClose() override {
    FLog.push_back(FTag + ".Close");
    vdb::TVantorSQL::InternalClose();
  }
  void InternalUnprepareOpen() override {
    FLog.push_back(FTag + ".UnprepareOpen");
    vdb::TVantorSQL::InternalUnprepareOpen();
  }
  void InternalUnprepareExecute() override {
    FLog.push_back(FTag + ".UnprepareExecute");
    vdb::TVantorSQL::InternalUnprepareExecute();
  }

 private:
  TLog& FLog;
  std::string FTag;
};

// A fresh temporary directory, removed afterwards; also restores the
// process's current directory, which library loading switches.
class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SavedDir = fs::current_path();
    std::string Template = (fs::temp_directory_path() / "vdbcore-XXXXXX").string();
    ASSERT_NE(::mkdtemp(Template.data()), nullptr);
    TempDir = Template;
  }
  void TearDown() override {
    fs::current_path(SavedDir);
    std::error_code Ignored;
    fs::remove_all(TempDir, Ignored);
  }

  // Copies the test library into Dir under Name (a name the executable's
  // directory does not hold, so the search cannot find it there).
  void CopyLibrary(const fs::path& Dir, const std::string& Name) {
    fs::create_directories(Dir);
    fs::copy_file(VDB_CORE_TESTLIB, Dir / Name, fs::copy_options::overwrite_existing);
  }

  static bool Contains(const TLog& Log, const std::string& Entry) {
    return std::find(Log.begin(), Log.end(), Entry) != Log.end();
  }

  fs::path SavedDir;
  fs::path TempDir;
};

TEST_F(SessionTest, Defaults) {
  TRecordingSession S;
  EXPECT_TRUE(S.AutoCommit());
  EXPECT_TRUE(S.CommitOnDisconnect());
  EXPECT_FALSE(S.InTransaction());
  EXPECT_TRUE(S.KeepConnection());
  EXPECT_EQ(S.OpenCount(), 0);
  EXPECT_FALSE(S.HandleShared());
  EXPECT_EQ(S.Handle(), nullptr);
  EXPECT_FALSE(S.Connected());
  EXPECT_EQ(S.LibraryHandle(), nullptr);
  EXPECT_EQ(S.LibraryPath(), "");
  EXPECT_EQ(S.LibraryDirectory(), "");
  EXPECT_FALSE(S.OEMConvert());
  EXPECT_TRUE(S.ConnectOnLoading());
  EXPECT_FALSE(S.StreamedConnected());
  EXPECT_FALSE(S.WantExceptions());
  EXPECT_EQ(S.LastError(), "");
  EXPECT_EQ(S.LastErrorCode(), 0);
  EXPECT_EQ(S.QueryCount(), 0);
  EXPECT_EQ(S.GetDataSetCount(), 0);
  EXPECT_FALSE(S.Execute("select 1"));
  EXPECT_FALSE(S.Ping("eng=x"));
}

TEST_F(SessionTest, OpenLoadsBindsAndConnectsOnce) {
  TRecordingSession S;
  S.RecordEvents();
  S.Open();
  EXPECT_EQ(S.Log, (TLog{"BeforeConnect", "LoadLibraryProcs", "InitLibrary", "SetHandle(own)", "OpenDatabase",
                         "AfterConnect"}));
  EXPECT_TRUE(S.Connected());
  EXPECT_EQ(S.Handle(), S.OwnHandle());
  ASSERT_NE(S.LibraryHandle(), nullptr);
  ASSERT_NE(S.Answer, nullptr);
  EXPECT_EQ(S.Answer(), 42);
  EXPECT_EQ(S.LibraryDirectory(), vcl::ExtractFilePath(VDB_CORE_TESTLIB));

  S.Log.clear();
  S.Open();
  EXPECT_TRUE(S.Log.empty()) << "a second Open does nothing";

  S.Close();
  EXPECT_EQ(S.Log, (TLog{"BeforeDisconnect", "CloseDatabase", "AfterDisconnect"}));
  EXPECT_NE(S.LibraryHandle(), nullptr) << "disconnecting keeps the library";
  S.Log.clear();
  S.Close();
  EXPECT_TRUE(S.Log.empty()) << "Close on a disconnected session does nothing";

  S.Open();
  EXPECT_EQ(S.Log, (TLog{"BeforeConnect", "SetHandle(own)", "OpenDatabase", "AfterConnect"}))
      << "the library is loaded and bound only once";
}

TEST_F(SessionTest, MissingEntryPointRaisesOnlyWhenCalled) {
  TRecordingSession S;
  S.Open();
  ASSERT_NE(S.Missing, nullptr);
  try {
    S.Missing(1, 2);
    FAIL() << "the fallback must raise";
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ(E.Message(), vdb::VDB_ERR_LIB_WRONG);
    EXPECT_EQ(E.ErrorCode(), 0);
  }
  EXPECT_EQ(vdb::VdbDummyEntryNoExcept<TAddProc>()(1, 2), 0);
  EXPECT_EQ(vdb::VdbDummyProcNoExcept(), 0);
  EXPECT_THROW(vdb::VdbDummyProc(), vdb::EVantorException);
}

TEST_F(SessionTest, FailedConnectLeavesSessionDisconnected) {
  TRecordingSession S;
  S.RecordEvents();
  S.FailOpen = true;
  try {
    S.Open();
    FAIL();
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ(E.ErrorCode(), -103);
  }
  EXPECT_FALSE(S.Connected());
  EXPECT_FALSE(Contains(S.Log, "AfterConnect"));
  S.FailOpen = false;
  S.Open();
  EXPECT_TRUE(S.Connected());
}

TEST_F(SessionTest, FailedInitKeepsLibraryLoadedAndIsNotRepeated) {
  TRecordingSession S;
  S.FailInit = true;
  EXPECT_THROW(S.Open(), vdb::EVantorException);
  EXPECT_FALSE(S.Connected());
  EXPECT_NE(S.LibraryHandle(), nullptr);
  S.Log.clear();
  S.Open();
  EXPECT_EQ(S.Log, (TLog{"SetHandle(own)", "OpenDatabase"}));
}

TEST_F(SessionTest, OpenSessionCountsUsers) {
  TRecordingSession S;
  S.SetKeepConnection(false);
  S.OpenSession(nullptr);
  S.OpenSession(nullptr);
  S.CloseSession(nullptr);
  EXPECT_TRUE(S.Connected());
  EXPECT_EQ(S.OpenCount(), 1);
  S.CloseSession(nullptr);
  EXPECT_FALSE(S.Connected());
  EXPECT_EQ(S.OpenCount(), 0);
  S.CloseSession(nullptr);
  EXPECT_EQ(S.OpenCount(), 0) << "never negative";
}

TEST_F(SessionTest, KeepConnection) {
  TRecordingSession S;
  S.Open();
  S.SetKeepConnection(false);
  EXPECT_FALSE(S.Connected()) << "no users: disconnects at once";

  vcl::TComponent User(nullptr);
  S.SetKeepConnection(true);
  S.OpenSession(&User);
  EXPECT_EQ(S.GetDataSetCount(), 1);
  EXPECT_EQ(S.GetDataSet(0), &User);
  EXPECT_THROW(S.GetDataSet(1), vcl::EListError);
  S.SetKeepConnection(false);
  EXPECT_TRUE(S.Connected()) << "a user is registered";
  S.CloseSession(&User);
  EXPECT_FALSE(S.Connected()) << "the last user left";
  EXPECT_EQ(S.GetDataSetCount(), 0);

  S.SetKeepConnection(true);
  S.OpenSession(nullptr);
  S.CloseSession(nullptr);
  EXPECT_TRUE(S.Connected()) << "KeepConnection holds the connection";
  S.Close();
  EXPECT_EQ(S.OpenCount(), 0);
}

TEST_F(SessionTest, UserDestroyedWhileRegisteredIsDropped) {
  TRecordingSession S;
  auto User = std::make_unique<vcl::TComponent>(nullptr);
  S.OpenSession(User.get());
  User.reset();
  EXPECT_EQ(S.GetDataSetCount(), 0);
}

TEST_F(SessionTest, LibrarySettersWhileConnected) {
  TRecordingSession S;
  S.Open();
  EXPECT_NO_THROW(S.SetLibraryFile(S.LibraryFile())) << "same value is no change";
  EXPECT_NO_THROW(S.SetLibraryPath(""));
  struct TCase {
    const char* Name;
    std::function<void()> Set;
  };
  const TCase Cases[] = {
      {"LibraryFile", [&] { S.SetLibraryFile("other.dll"); }},
      {"LibraryPath", [&] { S.SetLibraryPath(TempDir.string()); }},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    try {
      C.Set();
      FAIL();
    } catch (const vdb::EVantorException& E) {
      EXPECT_EQ(E.Message(), vdb::VDB_ERR_SESS_CONNECTED);
      EXPECT_EQ(E.ErrorCode(), 0);
    }
    EXPECT_EQ(S.LastError(), vdb::VDB_ERR_SESS_CONNECTED);
    EXPECT_EQ(S.LastErrorCode(), 0);
  }
  EXPECT_EQ(S.LibraryFile(), VDB_CORE_TESTLIB);
  EXPECT_EQ(S.LibraryPath(), "");
  EXPECT_TRUE(S.Connected());
}

TEST_F(SessionTest, ChangingTheLibraryFreesTheOldOne) {
  TRecordingSession S;
  TRecordingSQL Q(S.Log, "Q");
  Q.SetSession(&S);
  S.Open();
  S.Close();
  Q.PretendPrepared();
  S.Log.clear();
  CopyLibrary(TempDir, "vdbcorecopy.dll");
  S.SetLibraryFile((TempDir / "vdbcorecopy.dll").string());
  EXPECT_EQ(S.Log, (TLog{"FiniLibrary"}));
  EXPECT_EQ(S.LibraryHandle(), nullptr);
  EXPECT_EQ(S.LibraryDirectory(), "");
  EXPECT_TRUE(Q.LibraryProcsInvalid()) << "statements re-bind after the library went away";
  S.Open();
  EXPECT_EQ(S.LibraryDirectory(), TempDir.string() + "/");
}

TEST_F(SessionTest, LibraryPathIsTrimmedAndEndsWithDelimiter) {
  const fs::path LibDir = TempDir / "lib dir";
  CopyLibrary(LibDir, "vdbcorebare.dll");
  struct TCase {
    std::string Path;
  };
  const TCase Cases[] = {{"  " + LibDir.string() + "  "}, {LibDir.string()}, {LibDir.string() + "/"}};
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Path);
    TRecordingSession S;
    S.SetLibraryFile("vdbcorebare.dll");  // a bare name, found in the library directory
    S.SetLibraryPath(C.Path);
    S.Open();
    EXPECT_EQ(S.LibraryDirectory(), LibDir.string() + "/");
    ASSERT_NE(S.Answer, nullptr);
    EXPECT_EQ(S.Answer(), 42);
    EXPECT_EQ(fs::current_path(), SavedDir) << "the current directory is restored";
  }
}

TEST_F(SessionTest, LibraryFoundThroughTheSearchOrder) {
  // An empty path searches: the bare name is found in the current directory.
  CopyLibrary(TempDir, "vdbcoresearch.dll");
  fs::current_path(TempDir);
  TRecordingSession S;
  S.SetLibraryFile("vdbcoresearch.dll");
  S.Open();
  EXPECT_EQ(S.LibraryDirectory(), TempDir.string() + "/");
  EXPECT_EQ(fs::current_path(), TempDir);
}

TEST_F(SessionTest, LoadingFailuresNameTheCauseAndLeaveNothingLoaded) {
  std::ofstream(TempDir / "notalib.dll") << "this is not a shared object";
  const std::string Missing = (TempDir / "missing").string() + "/";
  struct TCase {
    const char* Name;
    std::string Path;
    std::string File;
    std::string Message;
  };
  const TCase Cases[] = {
      {"DirectoryMissing", Missing, "x.dll",
       std::string(vdb::VDB_ERR_LIB_PATH_NOT_FOUND) + " (" + Missing + "," +
           vcl::SysErrorMessage(vcl::ERROR_PATH_NOT_FOUND) + ")"},
      {"FileMissing", TempDir.string(), "nosuchlib.dll",
       std::string(vdb::VDB_ERR_LIB_LOAD_FAILED) + " (nosuchlib.dll," +
           vcl::SysErrorMessage(vcl::ERROR_MOD_NOT_FOUND) + ")"},
      {"NotALibrary", TempDir.string(), "notalib.dll",
       std::string(vdb::VDB_ERR_LIB_LOAD_FAILED) + " (notalib.dll," +
           vcl::SysErrorMessage(vcl::ERROR_BAD_EXE_FORMAT) + ")"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRecordingSession S;
    S.RecordEvents();
    S.SetLibraryFile(C.File);
    S.SetLibraryPath(C.Path);
    try {
      S.Open();
      FAIL();
    } catch (const vdb::EVantorException& E) {
      EXPECT_EQ(E.Message(), C.Message);
      EXPECT_EQ(E.ErrorCode(), 0);
    }
    EXPECT_EQ(S.LastError(), C.Message);
    EXPECT_EQ(S.LastErrorCode(), 0);
    EXPECT_EQ(S.LibraryHandle(), nullptr);
    EXPECT_EQ(S.LibraryDirectory(), "");
    EXPECT_FALSE(S.Connected());
    EXPECT_FALSE(Contains(S.Log, "LoadLibraryProcs"));
    EXPECT_EQ(fs::current_path(), SavedDir);
  }
}

TEST_F(SessionTest, BorrowedConnection) {
  TRecordingSession S;
  S.RecordEvents();
  int Foreign = 0;
  S.StartTransaction();
  S.Log.clear();
  S.SetHandle(&Foreign);
  EXPECT_EQ(S.Log, (TLog{"LoadLibraryProcs", "InitLibrary", "BeforeConnect", "SetHandle(foreign)", "AfterConnect"}));
  EXPECT_TRUE(S.Connected());
  EXPECT_TRUE(S.HandleShared());
  EXPECT_EQ(S.Handle(), &Foreign);
  EXPECT_TRUE(S.InTransaction()) << "adopting a handle leaves the transaction flag";

  S.Log.clear();
  S.Close();
  EXPECT_EQ(S.Log, (TLog{"BeforeDisconnect", "SetHandle(own)", "AfterDisconnect"}))
      << "a borrowed connection is never disconnected";
  EXPECT_FALSE(S.Connected());
  EXPECT_FALSE(S.HandleShared());

  // Adopting while connected closes the own connection first.
  S.Open();
  S.Log.clear();
  S.SetHandle(&Foreign);
  EXPECT_EQ(S.Log, (TLog{"BeforeDisconnect", "CloseDatabase", "AfterDisconnect", "BeforeConnect",
                         "SetHandle(foreign)", "AfterConnect"}));
  S.Log.clear();
  S.SetHandle(nullptr);
  EXPECT_EQ(S.Log, (TLog{"BeforeDisconnect", "SetHandle(own)", "AfterDisconnect", "SetHandle(own)"}));
  EXPECT_FALSE(S.Connected());
}

TEST_F(SessionTest, RefusedHandleLeavesSessionDisconnected) {
  TRecordingSession S;
  int Bad = 0;
  S.BadHandle = &Bad;
  try {
    S.SetHandle(&Bad);
    FAIL();
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ(E.Message(), vdb::VDB_ERR_SESS_INVALID_HANDLE);
  }
  EXPECT_FALSE(S.Connected());
  EXPECT_FALSE(S.HandleShared());
}

TEST_F(SessionTest, StatementRegister) {
  TLog Log;
  auto S = std::make_unique<TRecordingSession>();
  TRecordingSQL A(Log, "A"), B(Log, "B");
  A.SetSession(S.get());
  B.SetSession(S.get());
  ASSERT_EQ(S->QueryCount(), 2);
  EXPECT_EQ(S->GetQuery(0), &A);
  EXPECT_EQ(S->GetQuery(1), &B);
  EXPECT_EQ(S->GetQuery(-1), nullptr);
  EXPECT_EQ(S->GetQuery(S->QueryCount()), nullptr);
  EXPECT_EQ(A.GetSessionObject(), S.get());

  // Disconnecting closes and unprepares every statement, in list order.
  S->Open();
  A.PretendPrepared();
  B.PretendPrepared();
  S->Close();
  EXPECT_EQ(Log, (TLog{"A.Close", "A.UnprepareOpen", "A.UnprepareExecute", "B.Close", "B.UnprepareOpen",
                       "B.UnprepareExecute"}));
  EXPECT_FALSE(A.CursorPrepared());
  EXPECT_FALSE(B.ExecPrepared());

  // Assigning the same session again unprepares and re-registers.
  Log.clear();
  A.PretendPrepared();
  A.SetSession(S.get());
  EXPECT_EQ(Log, (TLog{"A.Close", "A.UnprepareOpen", "A.UnprepareExecute"}));
  EXPECT_TRUE(A.LibraryProcsInvalid());
  EXPECT_EQ(S->GetQuery(0), &B);
  EXPECT_EQ(S->GetQuery(1), &A);

  // Moving to another session leaves the first one's register.
  TRecordingSession Other;
  B.SetSession(&Other);
  EXPECT_EQ(S->QueryCount(), 1);
  EXPECT_EQ(Other.GetQuery(0), &B);
  B.SetSession(nullptr);
  EXPECT_EQ(Other.QueryCount(), 0);
  EXPECT_EQ(B.GetSessionObject(), nullptr);

  // The session goes first: its statements are only unlinked.
  S->Open();
  A.PretendPrepared();
  Log.clear();
  S.reset();
  EXPECT_EQ(A.GetSessionObject(), nullptr);
  EXPECT_EQ(Log, (TLog{"A.Close", "A.UnprepareOpen", "A.UnprepareExecute"})) << "only the Close of the session";
}

TEST_F(SessionTest, StatementDestroyedFirstLeavesTheRegister) {
  TRecordingSession S;
  {
    TLog Log;
    TRecordingSQL Q(Log, "Q");
    Q.SetSession(&S);
    EXPECT_EQ(S.QueryCount(), 1);
  }
  EXPECT_EQ(S.QueryCount(), 0);
  S.Open();
  S.Close();
}

TEST_F(SessionTest, DestructionClosesFreesAndFiresNoDisconnectEvents) {
  TLog Log;
  TLog StatementLog;
  TRecordingSQL Q(StatementLog, "Q");
  {
    TRecordingSession S(&Log);
    S.RecordEvents();
    Q.SetSession(&S);
    S.Open();
    Q.PretendPrepared();
    Log.clear();
  }
  EXPECT_EQ(Log, (TLog{"CloseDatabase", "FiniLibrary"}));
  EXPECT_EQ(StatementLog, (TLog{"Q.Close", "Q.UnprepareOpen", "Q.UnprepareExecute"}));
  EXPECT_EQ(Q.GetSessionObject(), nullptr);
}

TEST_F(SessionTest, Transactions) {
  TRecordingSession S;
  S.Open();
  S.StartTransaction();
  EXPECT_EQ(S.Log.back(), "Commit(quiet)") << "work so far is committed before the transaction";
  EXPECT_TRUE(S.InTransaction());

  const size_t Before = S.Log.size();
  try {
    S.StartTransaction();
    FAIL();
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ(E.Message(), vdb::VDB_ERR_SESS_TRANS_ACTIVE);
    EXPECT_EQ(E.ErrorCode(), 0);
  }
  EXPECT_EQ(S.Log.size(), Before) << "nothing committed";
  EXPECT_TRUE(S.InTransaction());

  S.SetWantExceptions(true);
  S.Commit();
  EXPECT_EQ(S.Log.back(), "Commit(raise)");
  EXPECT_FALSE(S.InTransaction());

  struct TCase {
    const char* Name;
    std::function<void()> End;
  };
  const TCase Cases[] = {
      {"Commit", [&] { S.Commit(); }},
      {"Rollback", [&] { S.Rollback(); }},
      {"Close", [&] { S.Close(); }},
      {"Open", [&] { S.Close(); S.Open(); }},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    if (!S.Connected()) S.Open();
    S.StartTransaction();
    C.End();
    EXPECT_FALSE(S.InTransaction());
  }
  // Without a user transaction both still clear the flag and reach the server.
  S.Rollback();
  EXPECT_EQ(S.Log.back(), "Rollback");
  EXPECT_FALSE(S.InTransaction());
}

TEST_F(SessionTest, PushedErrorSurvivesCleanUp) {
  TRecordingSession S;
  int Errors = 0;
  S.SetOnError([&](vcl::TObject* Sender) {
    EXPECT_EQ(Sender, &S);
    ++Errors;
  });
  S.NextCode = -141;
  S.NextMessage = "Table 'x' not found";
  S.CheckPushError();
  EXPECT_EQ(S.PushedErrorCode(), -141);
  EXPECT_EQ(S.PushedError(), "Table 'x' not found");

  // A clean-up call succeeds and overwrites the last error ...
  S.NextCode = 0;
  S.NextMessage = "";
  EXPECT_TRUE(S.Check(true));
  EXPECT_EQ(S.LastErrorCode(), 0);
  // ... and popping restores the first outcome.
  EXPECT_FALSE(S.CheckPopError(false));
  EXPECT_EQ(S.LastErrorCode(), -141);
  EXPECT_EQ(S.LastError(), "Table 'x' not found");
  try {
    S.CheckPopError(true);
    FAIL();
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ(E.ErrorCode(), -141);
    EXPECT_EQ(E.Message(), "Table 'x' not found");
  }
  EXPECT_EQ(Errors, 1);
}

class EDerivedError : public vdb::EVantorException {
 public:
  using vdb::EVantorException::EVantorException;
};

TEST_F(SessionTest, RaiseLastErrorRecordsAndRaisesTheGivenClass) {
  TRecordingSession S;
  try {
    S.RaiseLastError<EDerivedError>("server gone", -308);
    FAIL();
  } catch (const EDerivedError& E) {
    EXPECT_EQ(E.Message(), "server gone");
    EXPECT_EQ(E.ErrorCode(), -308);
  }
  EXPECT_EQ(S.LastError(), "server gone");
  EXPECT_EQ(S.LastErrorCode(), -308);
  vdb::EVantorException Plain("m", 7, 99);
  EXPECT_EQ(Plain.ErrorCode(), 7);
  EXPECT_EQ(Plain.ClassName(), "EVantorException");
}

TEST_F(SessionTest, TranslateCharConvertsOnlyWhenAsked) {
  TRecordingSession S;
  // "Grüße" in Windows-1252 and in code page 437.
  const std::string Ansi = "Gr\xFC\xDF" "e";
  const std::string Oem = "Gr\x81\xE1" "e";
  std::string Buffer = Ansi;
  S.TranslateChar(Buffer.data(), Buffer.data(), static_cast<int32_t>(Buffer.size()), true);
  EXPECT_EQ(Buffer, Ansi) << "OEMConvert is off";

  S.SetOEMConvert(true);
  S.TranslateChar(Buffer.data(), Buffer.data(), static_cast<int32_t>(Buffer.size()), true);
  EXPECT_EQ(Buffer, Oem);
  std::string Back(Oem.size(), '\0');
  S.TranslateChar(Buffer.data(), Back.data(), static_cast<int32_t>(Back.size()), false);
  EXPECT_EQ(Back, Ansi);
  // Only Length characters are touched.
  Buffer = Ansi;
  S.TranslateChar(Buffer.data(), Buffer.data(), 3, true);
  EXPECT_EQ(Buffer, "Gr\x81\xDF" "e");
  S.TranslateChar(Buffer.data(), Buffer.data(), 0, true);
  S.TranslateChar(nullptr, nullptr, 5, true);
}

// Installs an application exception hook for one test and removes it again.
class THookedApplication {
 public:
  THookedApplication() {
    vcl::Application->OnException = [this](vcl::TObject* Sender, const vcl::Exception& E) {
      Senders.push_back(Sender);
      Messages.push_back(E.Message());
    };
  }
  ~THookedApplication() { vcl::Application->OnException = nullptr; }
  std::vector<vcl::TObject*> Senders;
  std::vector<std::string> Messages;
};

std::string SessionForm(const std::string& Body) {
  return "object Session1: TRecordingSession\n" + Body + "end\n";
}

TEST_F(SessionTest, StoredConnectedActsOnlyAfterLoading) {
  struct TCase {
    const char* Name;
    bool Designing;
    bool ConnectOnLoading;
    bool StoredConnected;
    bool Connected;
  };
  const TCase Cases[] = {
      {"RunTime", false, true, true, true},
      {"RunTimeIgnoresStoredValue", false, false, true, false},
      {"RunTimeNotStored", false, true, false, false},
      {"DesignerConnectsRegardless", true, false, true, true},
      {"Designer", true, true, true, true},
      {"DesignerNotStored", true, false, false, false},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    TRecordingSession S;
    S.SetDesigning(C.Designing);
    std::string Body = std::string("  ConnectOnLoading = ") + (C.ConnectOnLoading ? "True" : "False") + "\n" +
                       "  Connected = " + (C.StoredConnected ? "True" : "False") + "\n" +
                       "  LibraryFile = '" + VDB_CORE_TESTLIB + "'\n";
    vcl::ReadComponentFromText(SessionForm(Body), &S);
    EXPECT_EQ(S.Connected(), C.Connected);
    EXPECT_EQ(S.StreamedConnected(), C.StoredConnected);
    EXPECT_EQ(S.ConnectOnLoading(), C.ConnectOnLoading);
    if (C.Connected) {
      // Nothing connects while the properties are read.
      const auto Loaded = std::find(S.Log.begin(), S.Log.end(), "Loaded");
      const auto Opened = std::find(S.Log.begin(), S.Log.end(), "OpenDatabase");
      EXPECT_LT(Loaded, Opened);
    }
  }
}

TEST_F(SessionTest, FormFileRoundTrip) {
  TRecordingSession S;
  S.SetLoginUser("dba");
  S.SetLoginDatabase("demo");
  S.SetOEMConvert(true);
  S.SetKeepConnection(false);
  S.SetConnectOnLoading(false);
  S.Open();
  S.OpenSession(nullptr);
  const std::string Text = vcl::ComponentToText(&S);
  EXPECT_NE(Text.find("Connected = True"), std::string::npos) << Text;

  std::unique_ptr<vcl::TComponent> Read(vcl::ComponentFromText(Text));
  auto* R = dynamic_cast<TRecordingSession*>(Read.get());
  ASSERT_NE(R, nullptr);
  EXPECT_EQ(R->LoginUser(), "dba");
  EXPECT_EQ(R->LoginDatabase(), "demo");
  EXPECT_TRUE(R->OEMConvert());
  EXPECT_FALSE(R->KeepConnection());
  EXPECT_FALSE(R->ConnectOnLoading());
  EXPECT_TRUE(R->StreamedConnected());
  EXPECT_FALSE(R->Connected()) << "ConnectOnLoading is off at run time";
  EXPECT_EQ(R->LibraryFile(), VDB_CORE_TESTLIB);
}

TEST_F(SessionTest, UnreachableDatabaseOnLoading) {
  const std::string Form = SessionForm("  LibraryFile = 'nosuchlib.dll'\n  Connected = True\n");
  {
    // At run time the error propagates and the half-read session is freed.
    THookedApplication Hook;
    EXPECT_THROW(std::unique_ptr<vcl::TComponent>(vcl::ComponentFromText(Form)), vdb::EVantorException);
    EXPECT_TRUE(Hook.Messages.empty());
  }
  {
    // In the designer the form still opens; the error goes to the application.
    THookedApplication Hook;
    TRecordingSession S;
    S.SetDesigning(true);
    EXPECT_NO_THROW(vcl::ReadComponentFromText(Form, &S));
    EXPECT_FALSE(S.Connected());
    ASSERT_EQ(Hook.Messages.size(), 1u);
    EXPECT_EQ(Hook.Senders[0], &S);
    EXPECT_EQ(Hook.Messages[0].rfind(vdb::VDB_ERR_LIB_LOAD_FAILED, 0), 0u) << Hook.Messages[0];
  }
}

TEST(VdbBaseModuleTest, ApplicationHandleExceptionReachesTheHook) {
  THookedApplication Hook;
  vcl::TComponent Sender(nullptr);
  try {
    throw vdb::EVantorException("boom", -1, 0);
  } catch (...) {
    vdb::VdbApplicationHandleException(&Sender);
  }
  ASSERT_EQ(Hook.Messages.size(), 1u);
  EXPECT_EQ(Hook.Messages[0], "boom");
  EXPECT_EQ(Hook.Senders[0], &Sender);
}

TEST(VdbBaseModuleTest, EmptyParamIsNull) {
  EXPECT_TRUE(vcl::VarIsNull(vdb::VdbEmptyParam));
  EXPECT_EQ(std::string(vdb::szVantorLibraryShortName), "VDB");
}

}  // namespace
