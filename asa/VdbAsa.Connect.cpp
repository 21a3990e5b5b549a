// Connection strings, the three connect modes, disconnecting, adopted
// handles, engine start and the start and stop of databases.
#include <cstring>

#include "asa/VdbAsa.h"
#include "rtl/FileUtils.h"
#include "rtl/StrUtils.h"
#include "rtl/SysUtils.h"
#include "rtl/Windows.h"

namespace vdb {

namespace {

bool Blank(const std::string& S) { return vcl::Trim(S).empty(); }

std::string Join(std::initializer_list<std::string> Items) {
  std::string Result;
  for (const std::string& Item : Items) VdbConcateEmptyField(Result, ";", Item);
  return Result;
}

// Codes with which a workgroup connect finds no server for its database
// and starts one.
bool NeedsEngine(int32_t Code) {
  return Code == SQLE_ENGINE_NOT_RUNNING || Code == SQLE_DATABASE_NOT_FOUND ||
         Code == SQLE_UNABLE_TO_START_DATABASE || Code == SQLE_DATABASE_NAME_NOT_UNIQUE ||
         Code == SQLE_START_STOP_DATABASE_DENIED;
}

// Workgroup connects of all processes take turns through this mutex.
constexpr char kConnectionMutexName[] = "ASA_CONNECTION_TIMING_MUTEX";
constexpr uint32_t kConnectionMutexWait = 10000;

// Restores the current directory when a connect ends, however it ends.
struct TRestoreCurrentDir {
  std::string Dir;
  ~TRestoreCurrentDir() {
    if (!Dir.empty()) vcl::SetCurrentDir(Dir);
  }
};

// Holds the workgroup mutex for one connect.
struct TConnectionMutex {
  vcl::HANDLE Handle = nullptr;
  bool Owned = false;
  TConnectionMutex() {
    Handle = vcl::CreateMutex(kConnectionMutexName, false);
    if (Handle != nullptr) {
      const uint32_t R = vcl::WaitForSingleObject(Handle, kConnectionMutexWait);
      Owned = R == vcl::WAIT_OBJECT_0 || R == vcl::WAIT_ABANDONED;
    }
  }
  ~TConnectionMutex() {
    if (Handle == nullptr) return;
    if (Owned) vcl::ReleaseMutex(Handle);
    vcl::CloseHandle(Handle);
  }
  TConnectionMutex(const TConnectionMutex&) = delete;
  TConnectionMutex& operator=(const TConnectionMutex&) = delete;
};

}  // namespace

// ---------------------------------------------------------------------------
// Connection strings

std::string TAsaSession::GetEngineParam() const {
  if (!Blank(FLoginEngineName)) return "eng=" + FLoginEngineName;
  const std::string Prefix = VdbExtractFilePrefix(FLoginDatabase);
  if (!Prefix.empty()) return "eng=" + Prefix;
  return std::string();
}

std::string TAsaSession::GetDatabaseFileParam() const {
  return Blank(FLoginDatabase) ? std::string() : "dbf=" + FLoginDatabase;
}

std::string TAsaSession::GetDatabaseNameParam() const {
  const std::string Prefix = VdbExtractFilePrefix(FLoginDatabase);
  return Blank(Prefix) ? std::string() : "dbn=" + Prefix;
}

std::string TAsaSession::GetStartDatabaseParams() const {
  return Join({GetEngineParam(), GetDatabaseFileParam(), GetDatabaseNameParam()});
}

std::string TAsaSession::GetStartRemoteParams() const {
  return Join({GetEngineParam(), FClientParams, GetDatabaseFileParam(), GetDatabaseNameParam()});
}

std::string TAsaSession::GetStopRemoteParams() const {
  const std::string FileName = vcl::ExtractFileName(FLoginDatabase);
  return Join({GetEngineParam(), FClientParams, Blank(FileName) ? std::string() : "dbf=" + FileName,
               GetDatabaseNameParam()});
}

std::string TAsaSession::GetConnectEngineParams() const { return Join({GetEngineParam(), FClientParams}); }

std::string TAsaSession::GetConnectDatabaseParams() const {
  return Join({GetEngineParam(), FClientParams, GetDatabaseNameParam(),
               Blank(FLoginUser) ? std::string() : "uid=" + FLoginUser,
               Blank(FLoginPassword) ? std::string() : "pwd=" + FLoginPassword});
}

// ---------------------------------------------------------------------------
// Engine and databases

void TAsaSession::StartDatabaseEngine(bool& EngineStarted) {
  InternalNeedLibrary();
  std::string Params;
  VdbConcateEmptyField(Params, ";", FServerParams);
  VdbConcateEmptyField(Params, ";", GetEngineParam());
  if (FLibraryVersion > 5) {
    VdbConcateEmptyField(Params, ";", GetDatabaseFileParam());
    VdbConcateEmptyField(Params, ";", GetDatabaseNameParam());
  }
  FProcs.db_start_engine(&FSqlca, Params.c_str());
  const int32_t Code = FSqlca.sqlcode;
  EngineStarted = Code == 0;
  if (Code != SQLE_ENGINE_ALREADY_RUNNING && FLibraryVersion > 5) {
    Check(true);
    return;
  }
  if (Code != SQLE_ENGINE_ALREADY_RUNNING) Check(true);
  const std::string DbParams = GetStartDatabaseParams();
  FProcs.db_start_database(&FSqlca, DbParams.c_str());
  switch (FSqlca.sqlcode) {
    case SQLE_DATABASE_NAME_NOT_UNIQUE:
    case SQLE_DATABASE_NOT_FOUND:
    case SQLE_ENGINE_NOT_RUNNING:
    case SQLE_FILE_IN_USE:
      break;
    default:
      Check(true);
  }
}

bool TAsaSession::StartStopDatabase(const char* ConnectString, bool Start) {
  if (Connected()) RaiseAsa(VDB_ERR_SESS_CONNECTED, 0);
  InternalNeedLibrary();
  const std::string Params = Start ? GetStartRemoteParams() : GetStopRemoteParams();
  auto Run = [&] {
    if (Start)
      FProcs.db_start_database(FCurrentSqlca, Params.c_str());
    else
      FProcs.db_stop_database(FCurrentSqlca, Params.c_str());
  };
  const std::string Given = ConnectString != nullptr ? ConnectString : "";
  if (!Blank(Given)) {
    FProcs.db_string_connect(FCurrentSqlca, Given.c_str());
    if (FCurrentSqlca->sqlcode < 0) return Check(FWantExceptions);
    bool Result = false;
    try {
      Run();
      Result = Check(FWantExceptions);
    } catch (...) {
      FProcs.db_string_disconnect(FCurrentSqlca, Given.c_str());
      throw;
    }
    FProcs.db_string_disconnect(FCurrentSqlca, Given.c_str());
    return Result;
  }
  Run();
  if (FCurrentSqlca->sqlcode == SQLE_ENGINE_NOT_RUNNING) {
    const std::string EngineParams = GetConnectEngineParams();
    FProcs.db_string_connect(FCurrentSqlca, EngineParams.c_str());
    Run();
  }
  return Check(FWantExceptions);
}

bool TAsaSession::StartDatabase(const char* ConnectString) { return StartStopDatabase(ConnectString, true); }

bool TAsaSession::StopDatabase(const char* ConnectString) { return StartStopDatabase(ConnectString, false); }

// ---------------------------------------------------------------------------
// Connecting

void TAsaSession::ConnectClient() {
  const std::string Params = GetConnectDatabaseParams();
  FProcs.db_string_connect(&FSqlca, Params.c_str());
  if (FLibraryVersion <= 5 && FSqlca.sqlcode == SQLE_INVALID_LOGON) {
    const std::string EngineParam = GetEngineParam();
    FProcs.db_stop_engine(&FSqlca, EngineParam.c_str());
    FSqlca.sqlcode = SQLE_INVALID_LOGON;
  }
  Check(true);
}

void TAsaSession::ConnectServer() {
  bool EngineStarted = false;
  try {
    StartDatabaseEngine(EngineStarted);
    const std::string Params = GetConnectDatabaseParams();
    FProcs.db_string_connect(&FSqlca, Params.c_str());
    Check(true);
  } catch (...) {
    if (EngineStarted) {
      // Keep the connect's error in the SQLCA and the last error.
      const SQLCA Saved = FSqlca;
      const std::string EngineParam = GetEngineParam();
      FProcs.db_stop_engine(&FSqlca, EngineParam.c_str());
      FSqlca = Saved;
    }
    throw;
  }
}

void TAsaSession::ConnectWorkgroup() {
  TConnectionMutex Mutex;
  const std::string Params = GetConnectDatabaseParams();
  FProcs.db_string_connect(&FSqlca, Params.c_str());
  if (NeedsEngine(FSqlca.sqlcode)) {
    ConnectServer();
    return;
  }
  if (FLibraryVersion <= 5 && FSqlca.sqlcode == SQLE_INVALID_LOGON) {
    const std::string EngineParam = GetEngineParam();
    FProcs.db_stop_engine(&FSqlca, EngineParam.c_str());
    FSqlca.sqlcode = SQLE_INVALID_LOGON;
  }
  Check(true);
}

void TAsaSession::InternalOpenDatabase(void*& AHandle) {
  TRestoreCurrentDir Restore{vcl::GetCurrentDir()};
  if (!FLibraryDirectory.empty() && !vcl::SetCurrentDir(FLibraryDirectory))
    RaiseAsa(std::string(VDB_ERR_LIB_PATH_NOT_FOUND) + " (" + FLibraryDirectory + ")", 0);

  FStatementPool->Clear();
  try {
    RegisterDebugCallback();
    switch (FServerType) {
      case stClient: ConnectClient(); break;
      case stServer: ConnectServer(); break;
      case stWorkgroup: ConnectWorkgroup(); break;
    }
  } catch (...) {
    ReleaseCallbacks();
    throw;
  }

  // Connected from here on: the option setters below ask for it.
  AHandle = &FSqlca;
  FHandle = AHandle;
  try {
    RegisterEventCallbacks();
    FEngineVersion = FLibraryVersion;
    std::string Version;
    if (FLibraryVersion > 5 && GetConnectionInfo(ciEngineVersion, Version)) {
      const std::string Major = Version.substr(0, Version.find('.'));
      int32_t Value = 0;
      if (vcl::TryStrToInt(Major, Value) && Value >= 0 && Value <= 255) FEngineVersion = static_cast<uint8_t>(Value);
    }
    ApplyConnectOptions();
  } catch (...) {
    // Nothing half-connected survives a failure after the connect itself.
    ReleaseCallbacks();
    const SQLCA Saved = FSqlca;
    FProcs.db_string_disconnect(&FSqlca, nullptr);
    FSqlca = Saved;
    FHandle = nullptr;
    AHandle = nullptr;
    throw;
  }
}

void TAsaSession::ApplyConnectOptions() {
  SetTransIsolation(FTransIsolation);
  SetWantRowCounts(FWantRowCounts);
  SetAnsiUpdateConstraints("OFF");
}

void TAsaSession::InternalCloseDatabase() {
  FStatementPool->Clear();
  if (FCommitOnDisconnect) CallCommit(&FSqlca);
  FProcs.db_string_disconnect(&FSqlca, nullptr);
  ReleaseCallbacks();
}

void TAsaSession::InternalSetHandle(void* AHandle) {
  if (AHandle == nullptr) {
    FCurrentSqlca = &FSqlca;
    return;
  }
  auto* Ca = static_cast<SQLCA*>(AHandle);
  if (std::memcmp(Ca->sqlcaid, "SQLCA", 5) != 0) RaiseAsa(VDB_ERR_SESS_INVALID_HANDLE, 0);
  FCurrentSqlca = Ca;
}

// ---------------------------------------------------------------------------
// Setters

void TAsaSession::SetServerType(TAsaServerType Value) {
  if (Value == FServerType) return;
  if (!Reading()) Close();
  FServerType = Value;
}

}  // namespace vdb
