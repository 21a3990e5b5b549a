// Error checking, transactions, options, connection information and the
// small services of a connected session.
#include <cstring>
#include <vector>

#include "asa/VdbAsa.Adapters.h"
#include "asa/VdbAsa.h"
#include "rtl/StrUtils.h"
#include "rtl/SysUtils.h"

namespace vdb {

namespace {

constexpr int32_t kMessageBufferSize = 512;
constexpr uint16_t kOptionBufferSize = 31;
constexpr uint16_t kInfoBufferSize = 32767;
constexpr int32_t kPropertyBufferSize = 30;

// A one-entry SQLDA of the library, freed with the scope.
class TSingleSqlda {
 public:
  TSingleSqlda(const TAsaSessionProcs& Procs, int16_t Type, uint16_t Length, void* Data) : FProcs(Procs) {
    FSqlda = FProcs.alloc_sqlda(1);
    if (FSqlda == nullptr) throw std::bad_alloc();
    FSqlda->sqld = 1;
    sqlvar& V = FSqlda->sqlvar[0];
    V.sqltype = Type;
    V.sqllen = Length;
    V.sqldata = Data;
  }
  ~TSingleSqlda() { FProcs.free_sqlda(FSqlda); }
  TSingleSqlda(const TSingleSqlda&) = delete;
  TSingleSqlda& operator=(const TSingleSqlda&) = delete;
  SQLDA* Get() const { return FSqlda; }

 private:
  const TAsaSessionProcs& FProcs;
  SQLDA* FSqlda;
};

std::string SqlStateOf(const SQLCA& Ca) { return std::string(Ca.sqlstate, strnlen(Ca.sqlstate, 5)); }

}  // namespace

// ---------------------------------------------------------------------------
// Errors

bool TAsaSession::Check(bool RaiseError) {
  SQLCA* Ca = FCurrentSqlca;
  const int32_t Code = Ca->sqlcode;
  FLastErrorCode = Code;
  FLastError.clear();
  if (Code == 0) return true;

  char Buffer[kMessageBufferSize] = {};
  if (FProcs.sqlerror_message != nullptr) FProcs.sqlerror_message(Ca, Buffer, kMessageBufferSize);
  Buffer[kMessageBufferSize - 1] = '\0';
  std::string Message(Buffer);
  if (!Message.empty()) TranslateChar(Message.data(), Message.data(), static_cast<int32_t>(Message.size()), false);
  const std::string SqlState = SqlStateOf(*Ca);

  if (Code > 0) {
    FLastError = vcl::Format("Warning: %s (%s)", Message, SqlState);
    return false;
  }
  FLastError = vcl::Format("Error %d: %s (%s)", Code, Message, SqlState);
  if (FOnError) FOnError(this);
  if ((Code == SQLE_NOT_CONNECTED || Code == SQLE_CONNECTION_TERMINATED) && Connected()) {
    Close();
    if (FOnConnectionTerminated) FOnConnectionTerminated(this);
    FLastError = vcl::Format("Error %d: %s", Code, Message);
    FLastErrorCode = Code;
  }
  if (RaiseError) RaiseAsa(FLastError, Code);
  return false;
}

bool TAsaSession::CheckPopError(bool RaiseError) {
  FLastError = FPushedError;
  FLastErrorCode = FPushedErrorCode;
  if (RaiseError && FLastErrorCode < 0) RaiseAsa(FLastError, FLastErrorCode);
  return FLastErrorCode == 0;
}

// ---------------------------------------------------------------------------
// Transactions and options

void TAsaSession::InternalCommit(bool RaiseError) {
  InternalNeedLibrary();
  CallCommit(FCurrentSqlca);
  Check(RaiseError);
}

void TAsaSession::InternalRollback() {
  InternalNeedLibrary();
  CallRollback(FCurrentSqlca);
  Check(FWantExceptions);
}

bool TAsaSession::GetOption(const std::string& Name, std::string& Value) {
  Value.clear();
  InternalNeedLibrary();
  char Buffer[kOptionBufferSize] = {};
  TSingleSqlda Da(FProcs, DT_STRING, kOptionBufferSize - 1, Buffer);
  CallGetOption(FCurrentSqlca, Name.c_str(), Da.Get());
  if (!Check(FWantExceptions)) return false;
  Value.assign(Buffer, strnlen(Buffer, sizeof Buffer));
  return true;
}

bool TAsaSession::SetOption(const std::string& Name, const std::string& Value) {
  InternalNeedLibrary();
  std::vector<char> Buffer(Value.begin(), Value.end());
  Buffer.push_back('\0');
  if (Buffer.size() > 0xFFFF) RaiseAsa("Option value too long: " + Name, 0);
  TSingleSqlda Da(FProcs, DT_STRING, static_cast<uint16_t>(Buffer.size()), Buffer.data());
  CallSetOption(FCurrentSqlca, Name.c_str(), Da.Get());
  return Check(FWantExceptions);
}

void TAsaSession::SetTransIsolation(TAsaTransIsolation Value) {
  static const char* const Texts[] = {"", "0", "1", "2", "3"};
  if (!Reading() && Connected() && Value != atUnchanged) SetOption("isolation_level", Texts[Value]);
  FTransIsolation = Value;
}

void TAsaSession::SetWantRowCounts(bool Value) {
  if (!Reading() && Connected()) {
    const std::string Wanted = Value ? "ON" : "OFF";
    std::string Current;
    if (GetOption("row_counts", Current) && Current != Wanted) SetOption("row_counts", Wanted);
  }
  FWantRowCounts = Value;
}

void TAsaSession::SetAnsiUpdateConstraints(const std::string& Value) {
  if (Reading() || !Connected()) return;
  const bool SavedWantExceptions = FWantExceptions;
  FWantExceptions = false;
  try {
    std::string Current;
    if (GetOption("ansi_update_constraints", Current) && Current != Value)
      SetOption("ansi_update_constraints", Value);
  } catch (...) {
    FWantExceptions = SavedWantExceptions;
    throw;
  }
  FWantExceptions = SavedWantExceptions;
}

// ---------------------------------------------------------------------------
// Information

bool TAsaSession::GetConnectionInfo(TAsaConnectionInfo Info, std::string& Value) {
  Value.clear();
  InternalNeedLibrary();
  std::vector<char> Buffer(kInfoBufferSize + 1, '\0');
  TSingleSqlda Da(FProcs, DT_STRING, kInfoBufferSize, Buffer.data());
  if (FProcs.db_connection_info(FCurrentSqlca, static_cast<int32_t>(Info) + 1, Da.Get()) == 1)
    Value.assign(Buffer.data(), strnlen(Buffer.data(), kInfoBufferSize));
  return Check(false);
}

std::string TAsaSession::GetLibraryVersion() {
  std::string Value;
  GetConnectionInfo(ciEngineVersion, Value);
  return Value;
}

bool TAsaSession::GetProperty(TAsaPropertyType Prop, std::string& Value) {
  Value.clear();
  InternalNeedLibrary();
  if (FProcs.db_get_property == nullptr) return false;
  char Buffer[kPropertyBufferSize + 1] = {};
  FProcs.db_get_property(FCurrentSqlca, static_cast<int32_t>(Prop), Buffer, kPropertyBufferSize);
  if (!Check(FWantExceptions)) return false;
  Value.assign(Buffer, strnlen(Buffer, kPropertyBufferSize));
  return true;
}

bool TAsaSession::IsWorking() {
  InternalNeedLibrary();
  return FProcs.db_is_working(FCurrentSqlca) == 1;
}

bool TAsaSession::Stop() {
  if (!IsWorking()) return true;
  FProcs.db_cancel_request(FCurrentSqlca);
  return Check(FWantExceptions);
}

bool TAsaSession::TimeChange() {
  InternalNeedLibrary();
  if (FProcs.db_time_change == nullptr) return false;
  FProcs.db_time_change(FCurrentSqlca);
  return Check(FWantExceptions);
}

bool TAsaSession::NeedQuotes(const std::string& Identifier) {
  InternalNeedLibrary();
  FProcs.sql_needs_quotes(FCurrentSqlca, Identifier.c_str());
  Check(FWantExceptions);
  return FLastErrorCode == SQLE_NEEDS_QUOTES;
}

bool TAsaSession::Ping(const std::string& ConnectString) {
  InternalNeedLibrary();
  if (FProcs.db_string_ping_server != nullptr) {
    FProcs.db_string_ping_server(FCurrentSqlca, ConnectString.c_str(), 0);
  } else {
    std::string Name = ConnectString;
    const size_t At = vcl::Pos("ENG=", vcl::UpperCase(ConnectString));
    if (At != 0) {
      Name = ConnectString.substr(At - 1 + 4);
      const size_t End = Name.find(';');
      if (End != std::string::npos) Name.erase(End);
    }
    FProcs.db_find_engine(FCurrentSqlca, Name.c_str());
  }
  return Check(FWantExceptions);
}

bool TAsaSession::LocateServers() {
  InternalNeedLibrary();
  if (FProcs.db_locate_servers == nullptr || !FOnLocateServers) return false;
  TAsaAdapter* Adapter = VdbAcquireAdapter(akLocate, this);
  bool Result = false;
  try {
    FProcs.db_locate_servers(FCurrentSqlca, VdbLocateFunction(Adapter), nullptr);
    Result = Check(FWantExceptions);
  } catch (...) {
    VdbReleaseAdapter(Adapter);
    throw;
  }
  VdbReleaseAdapter(Adapter);
  return Result;
}

}  // namespace vdb
