// Construction, binding of the client library's entry points, library
// initialisation with version detection, and the statement-number pool.
#include <cstring>

#include "asa/VdbAsa.h"
#include "rtl/Windows.h"

namespace vdb {

namespace {

// The program block's constant by library version.
constexpr int16_t kProgramVersionOld = 4;  // libraries 4 and 5
constexpr int16_t kProgramVersionSix = 6;  // library 6

template <class Proc>
void Bind(vcl::HMODULE Module, Proc& P, const char* Name) {
  VdbAssignProcAddress(P, vcl::GetProcAddress(Module, Name), VdbDummyEntry<Proc>());
}

template <class Proc>
void BindOptional(vcl::HMODULE Module, Proc& P, const char* Name) {
  VdbAssignProcAddress(P, vcl::GetProcAddress(Module, Name), static_cast<Proc>(nullptr));
}

}  // namespace

TAsaSession::TAsaSession(vcl::TComponent* AOwner) : TVantorSession(AOwner), FCurrentSqlca(&FSqlca) {
  VdbAsaRegisterClasses();
  FStatementPool = std::make_unique<TAsaStatementPool>(this, 32767);
  SetLibraryFile("dblib7.dll");
}

TAsaSession::~TAsaSession() {
  // Disconnect and free the library while the overrides above still run.
  Shutdown();
  ReleaseCallbacks();
}

void TAsaSession::RaiseAsa(const std::string& Message, int32_t Code) {
  RaiseLastError<EAsaException>(Message, Code);
}

void TAsaSession::InternalLoadLibraryProcs() {
  const vcl::HMODULE M = FLibraryHandle;
  TAsaSessionProcs& P = FProcs;
  Bind(M, P.db_init, "db_init");
  Bind(M, P.db_fini, "db_fini");
  BindOptional(M, P.db_version_check, "db_version_check");
  Bind(M, P.db_string_connect, "db_string_connect");
  Bind(M, P.db_string_disconnect, "db_string_disconnect");
  Bind(M, P.db_start_engine, "db_start_engine");
  Bind(M, P.db_stop_engine, "db_stop_engine");
  Bind(M, P.db_start_database, "db_start_database");
  Bind(M, P.db_stop_database, "db_stop_database");
  Bind(M, P.db_delete_file, "db_delete_file");
  Bind(M, P.db_register_a_callback, "db_register_a_callback");
  Bind(M, P.sqlerror_message, "sqlerror_message");
  Bind(M, P.db_cancel_request, "db_cancel_request");
  Bind(M, P.db_is_working, "db_is_working");
  BindOptional(M, P.db_time_change, "db_time_change");
  Bind(M, P.db_backup, "db_backup");
  Bind(M, P.db_connection_info, "db_connection_info");
  BindOptional(M, P.db_get_property, "db_get_property");
  BindOptional(M, P.db_locate_servers, "db_locate_servers");
  Bind(M, P.sql_needs_quotes, "sql_needs_quotes");
  BindOptional(M, P.db_string_ping_server, "db_string_ping_server");
  Bind(M, P.db_find_engine, "db_find_engine");
  Bind(M, P.alloc_sqlda, "alloc_sqlda");
  Bind(M, P.free_sqlda, "free_sqlda");
  Bind(M, P.dbpp_commit, "dbpp_commit");
  Bind(M, P.dbpp_rollback, "dbpp_rollback");
  Bind(M, P.dbpp_getoption, "dbpp_getoption");
  Bind(M, P.dbpp_setoption, "dbpp_setoption");
  Bind(M, P.dbpp_commit_pb, "dbpp_commit");
  Bind(M, P.dbpp_rollback_pb, "dbpp_rollback");
  Bind(M, P.dbpp_getoption_pb, "dbpp_getoption");
  Bind(M, P.dbpp_setoption_pb, "dbpp_setoption");
}

void TAsaSession::InternalInitLibrary() {
  FProgramBlock = a_program_block{};
  FProgramVersion = 0;
  if (FProcs.db_init(&FSqlca) == 0) RaiseAsa(VDB_ERR_LIB_INIT_FAILED, 0);

  FLibraryVersion = 5;
  FProgramVersion = kProgramVersionOld;
  if (FProcs.db_version_check == nullptr) {
    FLibraryVersion = 4;
  } else {
    for (uint8_t Version : {9, 8, 7, 6}) {
      if (FProcs.db_version_check(Version) != 0) {
        FLibraryVersion = Version;
        break;
      }
    }
    if (FLibraryVersion == 6) FProgramVersion = kProgramVersionSix;
  }
  if (FLibraryVersion >= 7) {
    FProgramVersion = 0;
  } else {
    FProgramBlock.pb_version = &FProgramVersion;
    FProgramBlock.pb_version_copy = &FProgramVersion;
  }

  std::memcpy(FSqlca.sqlcaid, "SQLCA", 6);
  FSqlca.sqlcabc = static_cast<int32_t>(sizeof(SQLCA));
}

void TAsaSession::InternalFiniLibrary() {
  if (FProcs.db_fini != nullptr) FProcs.db_fini(&FSqlca);
  FProcs = TAsaSessionProcs{};
}

int32_t TAsaSession::CallCommit(SQLCA* Ca) {
  return FLibraryVersion < 7 ? FProcs.dbpp_commit_pb(Ca, &FProgramBlock, 0) : FProcs.dbpp_commit(Ca, 0);
}

int32_t TAsaSession::CallRollback(SQLCA* Ca) {
  return FLibraryVersion < 7 ? FProcs.dbpp_rollback_pb(Ca, &FProgramBlock, 0) : FProcs.dbpp_rollback(Ca, 0);
}

int32_t TAsaSession::CallGetOption(SQLCA* Ca, const char* Name, SQLDA* Da) {
  return FLibraryVersion < 7 ? FProcs.dbpp_getoption_pb(Ca, &FProgramBlock, 0, nullptr, Name, Da)
                             : FProcs.dbpp_getoption(Ca, 0, nullptr, Name, Da);
}

int32_t TAsaSession::CallSetOption(SQLCA* Ca, const char* Name, SQLDA* Da) {
  return FLibraryVersion < 7 ? FProcs.dbpp_setoption_pb(Ca, &FProgramBlock, 1, nullptr, Name, Da)
                             : FProcs.dbpp_setoption(Ca, 1, nullptr, Name, Da);
}

// ---------------------------------------------------------------------------
// TAsaStatementPool

TAsaStatementPool::TAsaStatementPool(TAsaSession* ASession, int32_t Capacity) : FSession(ASession) {
  FItems.reserve(static_cast<size_t>(Capacity > 0 ? Capacity : 0));
}

TAsaStatementPool::~TAsaStatementPool() { Clear(); }

void TAsaStatementPool::Clear() {
  while (!FItems.empty()) FItems.pop_back();
}

TAsaStatement* TAsaStatementPool::Find(int32_t Number) const {
  for (const auto& S : FItems)
    if (S->Number == Number) return S.get();
  return nullptr;
}

int32_t TAsaStatementPool::Next() const {
  for (const auto& S : FItems)
    if (!S->InUse) return S->Number;
  return 0;
}

void TAsaStatementPool::Use(int32_t Number) {
  if (TAsaStatement* S = Find(Number)) {
    S->InUse = true;
  } else if (FSession->LibraryVersion() > 5) {
    auto Entry = std::make_unique<TAsaStatement>();
    Entry->Number = Number;
    FItems.push_back(std::move(Entry));
  }
}

void TAsaStatementPool::Drop(int32_t Number) {
  if (TAsaStatement* S = Find(Number)) S->InUse = false;
}

}  // namespace vdb
