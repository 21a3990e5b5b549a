// Loading, version detection, connection strings and the three connect
// modes of TAsaSession against the real library variants.
#include <chrono>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

#include "AsaFixture.h"
#include "rtl/FormFiles.h"
#include "rtl/Windows.h"

namespace asatest {
namespace {

using vdb::TAsaSession;

TEST(AsaConnectionStrings, BuiltFromTheLoginProperties) {
  struct Case {
    const char* Engine;
    const char* Database;
    const char* User;
    const char* Password;
    const char* ClientParams;
    const char* Connect;
    const char* StartRemote;
    const char* StopRemote;
  };
  const Case Cases[] = {
      {"", "C:\\db\\sales.db", "dba", "sql", "", "eng=sales;dbn=sales;uid=dba;pwd=sql",
       "eng=sales;dbf=C:\\db\\sales.db;dbn=sales", "eng=sales;dbf=sales.db;dbn=sales"},
      {"", "C:\\db\\sales.db", "dba", "sql", "links=tcpip", "eng=sales;links=tcpip;dbn=sales;uid=dba;pwd=sql",
       "eng=sales;links=tcpip;dbf=C:\\db\\sales.db;dbn=sales", "eng=sales;links=tcpip;dbf=sales.db;dbn=sales"},
      {"   ", "", "", "", "", "", "", ""},
      {"", "", "", "", "", "", "", ""},
      {"", "sales.db", " ", "secret", "", "eng=sales;dbn=sales;pwd=secret", "eng=sales;dbf=sales.db;dbn=sales",
       "eng=sales;dbf=sales.db;dbn=sales"},
      {" srv ", "data\\sales.db", "u", "", "", "eng= srv ;dbn=data\\sales;uid=u",
       "eng= srv ;dbf=data\\sales.db;dbn=data\\sales", "eng= srv ;dbf=sales.db;dbn=data\\sales"},
      {"", "/var/db/stock.db", "", "", "", "eng=stock;dbn=stock", "eng=stock;dbf=/var/db/stock.db;dbn=stock",
       "eng=stock;dbf=stock.db;dbn=stock"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(std::string("engine '") + C.Engine + "' database '" + C.Database + "'");
    TAsaSession S(nullptr);
    S.SetLoginEngineName(C.Engine);
    S.SetLoginDatabase(C.Database);
    S.SetLoginUser(C.User);
    S.SetLoginPassword(C.Password);
    S.SetClientParams(C.ClientParams);
    EXPECT_EQ(C.Connect, S.GetConnectDatabaseParams());
    EXPECT_EQ(C.StartRemote, S.GetStartRemoteParams());
    EXPECT_EQ(C.StopRemote, S.GetStopRemoteParams());
  }
}

TEST(AsaSessionDefaults, AsConstructed) {
  TAsaSession S(nullptr);
  EXPECT_EQ("dblib7.dll", S.LibraryFile());
  EXPECT_EQ(vdb::stClient, S.ServerType());
  EXPECT_EQ(vdb::atUnchanged, S.TransIsolation());
  EXPECT_TRUE(S.WantRowCounts());
  EXPECT_FALSE(S.Connected());
  EXPECT_EQ(S.OwnSqlca(), S.Sqlca());
}

class AsaVariantTest : public AsaTest, public ::testing::WithParamInterface<const char*> {};

// Every variant: its version is detected, the program block it needs is
// passed, and commit, options and information calls work through it.
TEST_P(AsaVariantTest, ConnectsAndServesWithTheDetectedVersion) {
  const std::string File = GetParam();
  const int Expected = File == "dbl30t.dll" || File == "dbl40t.dll" ? 4
                       : File == "dbl50t.dll"                       ? 5
                                                                    : File[5] - '0';
  auto S = NewSession(File, vdb::stServer);
  S->SetWantExceptions(true);
  S->SetTransIsolation(vdb::atReadCommitted);
  S->Open();
  ASSERT_TRUE(S->Connected());
  EXPECT_EQ(Expected, S->LibraryVersion());
  EXPECT_EQ(S->OwnSqlca(), S->Handle());
  std::string Value;
  ASSERT_TRUE(S->GetOption("isolation_level", Value));
  EXPECT_EQ("1", Value);
  ASSERT_TRUE(S->GetOption("row_counts", Value));
  EXPECT_EQ("ON", Value);
  ASSERT_TRUE(S->GetOption("ansi_update_constraints", Value));
  EXPECT_EQ("OFF", Value);
  EXPECT_EQ(0, Exec(*S, "create table t(a integer)"));
  EXPECT_EQ(0, Exec(*S, "insert into t values(1)"));
  S->Commit();
  EXPECT_EQ(0, S->LastErrorCode());
  EXPECT_EQ("1", Sqlite3(Db, "select count(*) from t"));
  if (Expected > 5) {
    EXPECT_NE("", S->GetLibraryVersion());
    EXPECT_EQ(Expected, S->EngineVersion());
  } else {
    EXPECT_EQ(Expected, S->EngineVersion());
  }
  S->Close();
  EXPECT_FALSE(S->Connected());
  EXPECT_EQ(0, AdaptersInUse());
}

INSTANTIATE_TEST_SUITE_P(Variants, AsaVariantTest, ::testing::ValuesIn(kVariants));

// The connect outcomes by server type; each failure leaves the session
// disconnected with the library loaded, no adapter bound and the current
// directory unchanged.
TEST_F(AsaTest, ConnectOutcomes) {
  struct Case {
    const char* Name;
    vdb::TAsaServerType Type;
    bool EngineFirst;       // another session has started the engine with the database
    const char* Database;   // empty: test.db
    const char* Password;
    int32_t Code;           // 0: connects
  };
  const Case Cases[] = {
      {"private server", vdb::stServer, false, "", "SQL", 0},
      {"private server, engine already running", vdb::stServer, true, "", "SQL", 0},
      {"client of a running engine", vdb::stClient, true, "", "SQL", 0},
      {"client without engine", vdb::stClient, false, "", "SQL", SQLE_ENGINE_NOT_RUNNING},
      {"workgroup starts the engine", vdb::stWorkgroup, false, "", "SQL", 0},
      {"workgroup joins a running engine", vdb::stWorkgroup, true, "", "SQL", 0},
      {"wrong password", vdb::stServer, false, "", "wrong", SQLE_INVALID_LOGON},
      {"wrong password on a running engine", vdb::stClient, true, "", "wrong", SQLE_INVALID_LOGON},
      {"missing database", vdb::stServer, false, "missing.db", "SQL", SQLE_DATABASE_NOT_FOUND},
      {"missing database, workgroup", vdb::stWorkgroup, false, "missing.db", "SQL", SQLE_DATABASE_NOT_FOUND},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    const std::string Database = *C.Database ? Dir + C.Database : Db;
    std::unique_ptr<TAsaSession> First;
    if (C.EngineFirst) {
      First = NewSession("dblib7.dll", vdb::stServer);
      First->Open();
      ASSERT_TRUE(First->Connected());
    }
    auto S = NewSession("dblib7.dll", C.Type, Database);
    S->SetLoginPassword(C.Password);
    S->SetOnServerStart([](vcl::TObject*) {});
    S->SetOnDebugMessage([](vcl::TObject*, const std::string&) {});
    const std::string Cwd = vcl::GetCurrentDir();
    int32_t Code = 0;
    std::string Message;
    try {
      S->Open();
    } catch (const vdb::EAsaException& E) {
      Code = E.ErrorCode();
      Message = E.Message();
    }
    EXPECT_EQ(C.Code, Code) << Message;
    EXPECT_EQ(Cwd, vcl::GetCurrentDir());
    EXPECT_NE(nullptr, S->LibraryHandle());
    if (C.Code == 0) {
      EXPECT_TRUE(S->Connected());
      EXPECT_EQ(2, AdaptersInUse()) << "debug and start callbacks";
    } else {
      EXPECT_FALSE(S->Connected());
      EXPECT_EQ(Code, S->LastErrorCode());
      EXPECT_EQ(0u, Message.find("Error " + std::to_string(C.Code) + ": ")) << Message;
      EXPECT_EQ(0, AdaptersInUse());
      if (!C.EngineFirst) {
        EXPECT_FALSE(EngineRunning("test")) << "an engine this connect started is stopped";
      }
    }
    S.reset();
    First.reset();
    EXPECT_EQ(0, AdaptersInUse());
    TearDown();
    SetUp();
  }
}

// Libraries up to version 5 stop the engine after a refused client login;
// the error stays the login's. Newer ones leave the engine alone.
TEST_F(AsaTest, OldLibraryStopsTheEngineAfterARefusedLogin) {
  for (const char* File : {"dbl50t.dll", "dblib7.dll"}) {
    SCOPED_TRACE(File);
    const bool Old = std::string(File) == "dbl50t.dll";
    auto Owner = NewSession("dblib7.dll", vdb::stServer);
    Owner->Open();
    auto S = NewSession(File, vdb::stClient);
    S->SetLoginPassword("wrong");
    S->SetWantExceptions(true);
    try {
      S->Open();
      FAIL() << "connected with a wrong password";
    } catch (const vdb::EAsaException& E) {
      EXPECT_EQ(SQLE_INVALID_LOGON, E.ErrorCode());
    }
    EXPECT_EQ(SQLE_INVALID_LOGON, S->LastErrorCode());
    EXPECT_EQ(Old ? 5 : 7, S->LibraryVersion());
    EXPECT_EQ(!Old, EngineRunning("test"));
    S.reset();
    Owner.reset();
    TearDown();
    SetUp();
  }
}

TEST_F(AsaTest, WorkgroupConnectWaitsForTheMutexAtMostTenSeconds) {
  int Ready[2];
  ASSERT_EQ(0, pipe(Ready));
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    vcl::HANDLE M = vcl::CreateMutex("ASA_CONNECTION_TIMING_MUTEX", false);
    const bool Owned = M != nullptr && vcl::WaitForSingleObject(M, 0) == vcl::WAIT_OBJECT_0;
    const char Byte = Owned ? '1' : '0';
    (void)!write(Ready[1], &Byte, 1);
    ::sleep(11);
    _exit(0);
  }
  char Byte = 0;
  ASSERT_EQ(1, read(Ready[0], &Byte, 1));
  close(Ready[0]);
  close(Ready[1]);
  ASSERT_EQ('1', Byte) << "the other process could not take the mutex";

  auto S = NewSession("dblib7.dll", vdb::stWorkgroup);
  const auto Start = std::chrono::steady_clock::now();
  S->Open();
  const auto Waited = std::chrono::steady_clock::now() - Start;
  EXPECT_TRUE(S->Connected());
  EXPECT_GE(Waited, std::chrono::milliseconds(9900));
  EXPECT_LT(Waited, std::chrono::milliseconds(10900));
  S->Close();
  int Status = 0;
  waitpid(Child, &Status, 0);

  // The mutex was released: a second workgroup connect does not wait.
  auto T = NewSession("dblib7.dll", vdb::stWorkgroup);
  const auto Again = std::chrono::steady_clock::now();
  T->Open();
  EXPECT_LT(std::chrono::steady_clock::now() - Again, std::chrono::seconds(5));
}

TEST_F(AsaTest, ChangingServerTypeDisconnectsButNotWhileReading) {
  auto S = NewSession();
  S->Open();
  S->SetServerType(vdb::stServer);
  EXPECT_TRUE(S->Connected()) << "unchanged value";
  S->SetServerType(vdb::stWorkgroup);
  EXPECT_FALSE(S->Connected());
}

TEST_F(AsaTest, AdoptedHandleMustBeAnSqlca) {
  auto S = NewSession();
  SQLCA NotOne{};
  EXPECT_THROW(S->SetHandle(&NotOne), vdb::EAsaException);
  EXPECT_EQ("Invalid database handle", S->LastError());
  EXPECT_FALSE(S->Connected());

  auto Owner = NewSession();
  Owner->Open();
  S->SetHandle(Owner->Handle());
  EXPECT_TRUE(S->Connected());
  EXPECT_EQ(Owner->Handle(), S->Sqlca());
  std::string Value;
  EXPECT_TRUE(S->GetOption("row_counts", Value));
  S->Close();
  EXPECT_EQ(S->OwnSqlca(), S->Sqlca());
  EXPECT_TRUE(Owner->Connected()) << "a borrowed connection is not disconnected";
  EXPECT_TRUE(Owner->GetOption("row_counts", Value));
}

TEST_F(AsaTest, FormFileWithConnectedTrueConnectsAfterLoading) {
  for (bool ConnectOnLoading : {true, false}) {
    SCOPED_TRACE(ConnectOnLoading ? "ConnectOnLoading" : "not ConnectOnLoading");
    const std::string Text = "object Session1: TAsaSession\n"
                             "  ConnectOnLoading = " + std::string(ConnectOnLoading ? "True" : "False") + "\n"
                             "  LoginDatabase = '" + Db + "'\n"
                             "  LoginUser = 'DBA'\n"
                             "  LoginPassword = 'SQL'\n"
                             "  Connected = True\n"
                             "  ServerType = stServer\n"
                             "  TransIsolation = atSerializable\n"
                             "end\n";
    std::unique_ptr<vcl::TComponent> C(vcl::ComponentFromText(Text));
    auto* S = dynamic_cast<TAsaSession*>(C.get());
    ASSERT_NE(nullptr, S);
    EXPECT_EQ(vdb::stServer, S->ServerType());
    EXPECT_EQ(ConnectOnLoading, S->Connected());
    if (ConnectOnLoading) {
      std::string Value;
      ASSERT_TRUE(S->GetOption("isolation_level", Value));
      EXPECT_EQ("3", Value);
      const std::string Written = vcl::ComponentToText(S);
      EXPECT_NE(std::string::npos, Written.find("ServerType = stServer"));
      EXPECT_EQ(std::string::npos, Written.find("LibraryFile")) << "default library file is not written";
    }
  }
}

TEST_F(AsaTest, StartAndStopDatabaseOnARunningServer) {
  const std::string Second = NewDatabase("second.db");
  auto Main = NewSession("dblib7.dll", vdb::stServer);
  Main->SetLoginEngineName("eng1");
  Main->Open();

  auto S = NewSession("dblib7.dll", vdb::stClient, Second);
  S->SetLoginEngineName("eng1");
  EXPECT_TRUE(S->StartDatabase(nullptr)) << S->LastError();
  S->Open();
  EXPECT_TRUE(S->Connected());
  S->SetWantExceptions(true);
  try {
    S->StartDatabase("");
    FAIL() << "started while connected";
  } catch (const vdb::EAsaException& E) {
    EXPECT_EQ("Cannot perform this operation while connected to a database", std::string(E.Message()));
  }
  S->Close();
  EXPECT_TRUE(S->StopDatabase("eng=eng1;dbn=test;uid=DBA;pwd=SQL")) << S->LastError();
  EXPECT_THROW(S->Open(), vdb::EAsaException);
  EXPECT_TRUE(S->StartDatabase(""));
  S->Open();
  EXPECT_TRUE(S->Connected());
}

}  // namespace
}  // namespace asatest
