// The exported entry points. This file is compiled once per library
// version (VDBLIB_VERSION 3 for 3.2, then 4 to 9); everything else of the
// library is shared by all versions.
#include "dblib/Services.h"
#include "dblib/Statements.h"
#include "vdb_esql.h"

#include <type_traits>

#ifndef VDBLIB_VERSION
#error "VDBLIB_VERSION must be defined"
#endif

#define VDB_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* EngineVersionText() {
  switch (VDBLIB_VERSION) {
    case 3: return "3.2.0.1";
    case 4: return "4.0.0.1";
    case 5: return "5.5.0.1";
    case 6: return "6.0.4.1";
    case 7: return "7.0.4.1";
    case 8: return "8.0.3.1";
    default: return "9.0.2.1";
  }
}

constexpr vdblib::LibraryInfo kLibrary{VDBLIB_VERSION, EngineVersionText()};

}  // namespace

// Below version 7 every dbpp_ call carries the program block after the SQLCA.
#if VDBLIB_VERSION < 7
#define VDB_PB , PB pb
#define VDB_PB_CHECK(ca) \
  if (!vdblib::CheckProgramBlock(ca, pb, VDBLIB_VERSION)) return ca ? ca->sqlcode : -1
#define VDB_FN(name) name##_pb_fn
#else
#define VDB_PB
#define VDB_PB_CHECK(ca) (void)0
#define VDB_FN(name) name##_fn
#endif

#define VDB_CHECK_TYPE(name, type) \
  static_assert(std::is_same_v<decltype(&name), type>, #name " differs from its published type")

// ---- library frame ----

VDB_EXPORT int32_t db_init(SQLCA* ca) { return vdblib::Init(ca); }
VDB_EXPORT int32_t db_fini(SQLCA* ca) { return vdblib::Fini(ca); }
#if VDBLIB_VERSION >= 5
VDB_EXPORT int32_t db_version_check(uint32_t version) {
  return version >= 1 && version <= VDBLIB_VERSION ? 1 : 0;
}
VDB_CHECK_TYPE(db_version_check, db_version_check_fn);
#endif
VDB_CHECK_TYPE(db_init, db_init_fn);
VDB_CHECK_TYPE(db_fini, db_fini_fn);

// ---- connections, engines, databases ----

VDB_EXPORT int32_t db_string_connect(SQLCA* ca, const char* params) {
  return vdblib::StringConnect(ca, params, kLibrary);
}
VDB_EXPORT int32_t db_string_disconnect(SQLCA* ca, const char* params) {
  return vdblib::StringDisconnect(ca, params);
}
VDB_EXPORT int32_t db_start_engine(SQLCA* ca, const char* params) {
  return vdblib::StartEngine(ca, params, kLibrary);
}
VDB_EXPORT int32_t db_stop_engine(SQLCA* ca, const char* params) {
  return vdblib::StopEngine(ca, params);
}
VDB_EXPORT int32_t db_start_database(SQLCA* ca, const char* params) {
  return vdblib::StartDatabase(ca, params);
}
VDB_EXPORT int32_t db_stop_database(SQLCA* ca, const char* params) {
  return vdblib::StopDatabase(ca, params);
}
VDB_EXPORT int32_t db_delete_file(SQLCA* ca, const char* name) { return vdblib::DeleteFile(ca, name); }
VDB_EXPORT int32_t db_find_engine(SQLCA* ca, const char* name) { return vdblib::FindEngine(ca, name); }
#if VDBLIB_VERSION >= 5
VDB_EXPORT int32_t db_string_ping_server(SQLCA* ca, const char* params, int32_t connect_to_db) {
  return vdblib::PingServer(ca, params, connect_to_db, kLibrary);
}
VDB_CHECK_TYPE(db_string_ping_server, db_string_ping_server_fn);
#endif
VDB_CHECK_TYPE(db_string_connect, db_string_connect_fn);
VDB_CHECK_TYPE(db_string_disconnect, db_string_disconnect_fn);
VDB_CHECK_TYPE(db_start_engine, db_start_engine_fn);
VDB_CHECK_TYPE(db_stop_engine, db_stop_engine_fn);
VDB_CHECK_TYPE(db_start_database, db_start_database_fn);
VDB_CHECK_TYPE(db_stop_database, db_stop_database_fn);
VDB_CHECK_TYPE(db_delete_file, db_delete_file_fn);
VDB_CHECK_TYPE(db_find_engine, db_find_engine_fn);

// ---- services ----

VDB_EXPORT int32_t db_register_a_callback(SQLCA* ca, int32_t index, db_any_callback_fn fn) {
  return vdblib::RegisterCallback(ca, index, fn);
}
VDB_EXPORT char* sqlerror_message(SQLCA* ca, char* buffer, int32_t max) {
  return vdblib::ErrorMessage(ca, buffer, max);
}
VDB_EXPORT int32_t db_cancel_request(SQLCA* ca) { return vdblib::CancelRequest(ca); }
VDB_EXPORT int32_t db_is_working(SQLCA* ca) { return vdblib::IsWorking(ca); }
#if VDBLIB_VERSION >= 6
VDB_EXPORT int32_t db_time_change(SQLCA* ca) { return vdblib::TimeChange(ca); }
VDB_EXPORT int32_t db_locate_servers(SQLCA* ca, db_locate_callback_fn fn, void* user) {
  return vdblib::LocateServers(ca, fn, user);
}
VDB_CHECK_TYPE(db_time_change, db_time_change_fn);
VDB_CHECK_TYPE(db_locate_servers, db_locate_servers_fn);
#endif
#if VDBLIB_VERSION >= 7
VDB_EXPORT int32_t db_get_property(SQLCA* ca, int32_t property, char* buffer, int32_t size) {
  return vdblib::GetProperty(ca, property, buffer, size);
}
VDB_CHECK_TYPE(db_get_property, db_get_property_fn);
#endif
VDB_EXPORT int32_t db_backup(SQLCA* ca, int32_t op, int32_t file, uint32_t page, SQLDA* sqlda) {
  return vdblib::Backup(ca, op, file, page, sqlda);
}
VDB_EXPORT int32_t db_connection_info(SQLCA* ca, int32_t index, SQLDA* sqlda) {
  return vdblib::ConnectionInfo(ca, index, sqlda);
}
VDB_EXPORT int32_t sql_needs_quotes(SQLCA* ca, const char* identifier) {
  return vdblib::NeedsQuotes(ca, identifier);
}
VDB_CHECK_TYPE(db_register_a_callback, db_register_a_callback_fn);
VDB_CHECK_TYPE(sqlerror_message, sqlerror_message_fn);
VDB_CHECK_TYPE(db_cancel_request, db_cancel_request_fn);
VDB_CHECK_TYPE(db_is_working, db_is_working_fn);
VDB_CHECK_TYPE(db_backup, db_backup_fn);
VDB_CHECK_TYPE(db_connection_info, db_connection_info_fn);
VDB_CHECK_TYPE(sql_needs_quotes, sql_needs_quotes_fn);

// ---- descriptor helpers ----

VDB_EXPORT SQLDA* alloc_sqlda(uint32_t count) { return vdblib::AllocSqlda(count, true); }
VDB_EXPORT SQLDA* alloc_sqlda_noind(uint32_t count) { return vdblib::AllocSqlda(count, false); }
VDB_EXPORT SQLDA* fill_sqlda(SQLDA* sqlda) { return vdblib::FillSqlda(sqlda); }
VDB_EXPORT void free_sqlda(SQLDA* sqlda) { vdblib::FreeSqlda(sqlda); }
VDB_EXPORT void free_sqlda_noind(SQLDA* sqlda) { vdblib::FreeSqlda(sqlda); }
VDB_EXPORT void free_filled_sqlda(SQLDA* sqlda) { vdblib::FreeFilledSqlda(sqlda); }
VDB_CHECK_TYPE(alloc_sqlda, alloc_sqlda_fn);
VDB_CHECK_TYPE(alloc_sqlda_noind, alloc_sqlda_noind_fn);
VDB_CHECK_TYPE(fill_sqlda, fill_sqlda_fn);
VDB_CHECK_TYPE(free_sqlda, free_sqlda_fn);
VDB_CHECK_TYPE(free_sqlda_noind, free_sqlda_noind_fn);
VDB_CHECK_TYPE(free_filled_sqlda, free_filled_sqlda_fn);

// ---- statements, cursors, transactions, options ----

VDB_EXPORT int32_t dbpp_prepare(SQLCA* ca VDB_PB, const char*, const char*, int16_t* stmt,
                                const char* text, SQLDA*, uint32_t) {
  VDB_PB_CHECK(ca);
  return vdblib::Prepare(ca, stmt, text);
}
VDB_EXPORT int32_t dbpp_dropstmt(SQLCA* ca VDB_PB, const char*, const char*, int16_t* stmt) {
  VDB_PB_CHECK(ca);
  return vdblib::DropStatement(ca, stmt);
}
VDB_EXPORT int32_t dbpp_describe(SQLCA* ca VDB_PB, const char*, const char*, int16_t* stmt,
                                 SQLDA* sqlda, uint32_t kind) {
  VDB_PB_CHECK(ca);
  return vdblib::Describe(ca, stmt, sqlda, kind);
}
VDB_EXPORT int32_t dbpp_describe_cursor(SQLCA* ca VDB_PB, const char* cursor, SQLDA* sqlda,
                                        uint32_t kind) {
  VDB_PB_CHECK(ca);
  return vdblib::DescribeCursor(ca, cursor, sqlda, kind);
}
VDB_EXPORT int32_t dbpp_describe_names(SQLCA* ca VDB_PB, const char*, const char*, int16_t* stmt,
                                       const char* cursor, SQLDA* sqlda, uint32_t, uint32_t kind) {
  VDB_PB_CHECK(ca);
  return vdblib::DescribeNames(ca, stmt, cursor, sqlda, kind);
}
VDB_EXPORT int32_t dbpp_declare(SQLCA* ca VDB_PB, const char* cursor, const char*, const char*,
                                int16_t* stmt, uint32_t flags) {
  VDB_PB_CHECK(ca);
  return vdblib::Declare(ca, cursor, stmt, flags);
}
VDB_EXPORT int32_t dbpp_open(SQLCA* ca VDB_PB, const char* cursor, const char*, const char*,
                             int16_t* stmt, SQLDA* bind, SQLDA*, int32_t isolation, uint32_t flags) {
  VDB_PB_CHECK(ca);
  return vdblib::Open(ca, cursor, stmt, bind, isolation, flags);
}
VDB_EXPORT int32_t dbpp_fetch(SQLCA* ca VDB_PB, const char* cursor, int32_t kind, int32_t offset,
                              SQLDA* sqlda, void*, uint32_t option) {
  VDB_PB_CHECK(ca);
  return vdblib::Fetch(ca, cursor, kind, offset, sqlda, option, 1);
}
VDB_EXPORT int32_t dbpp_fetch_array(SQLCA* ca VDB_PB, const char* cursor, int32_t kind,
                                    int32_t offset, SQLDA* sqlda, void*, uint32_t option,
                                    uint32_t rows) {
  VDB_PB_CHECK(ca);
  return vdblib::Fetch(ca, cursor, kind, offset, sqlda, option, rows);
}
VDB_EXPORT int32_t dbpp_get_data(SQLCA* ca VDB_PB, const char* cursor, uint32_t column,
                                 uint32_t offset, SQLDA* sqlda, uint32_t) {
  VDB_PB_CHECK(ca);
  return vdblib::GetData(ca, cursor, column, offset, sqlda);
}
VDB_EXPORT int32_t dbpp_put_into(SQLCA* ca VDB_PB, const char* cursor, SQLDA* values,
                                 SQLDA* fetch_sqlda) {
  VDB_PB_CHECK(ca);
  return vdblib::PutInto(ca, cursor, values, fetch_sqlda);
}
VDB_EXPORT int32_t dbpp_update(SQLCA* ca VDB_PB, const char* cursor, SQLDA* values) {
  VDB_PB_CHECK(ca);
  return vdblib::Update(ca, cursor, values);
}
VDB_EXPORT int32_t dbpp_delete(SQLCA* ca VDB_PB, const char* cursor, void*, void*) {
  VDB_PB_CHECK(ca);
  return vdblib::Delete(ca, cursor);
}
VDB_EXPORT int32_t dbpp_resume(SQLCA* ca VDB_PB, const char* cursor) {
  VDB_PB_CHECK(ca);
  return vdblib::Resume(ca, cursor);
}
VDB_EXPORT int32_t dbpp_close(SQLCA* ca VDB_PB, const char* cursor) {
  VDB_PB_CHECK(ca);
  return vdblib::Close(ca, cursor);
}
VDB_EXPORT int32_t dbpp_explain(SQLCA* ca VDB_PB, const char* cursor, void*, SQLDA* sqlda) {
  VDB_PB_CHECK(ca);
  return vdblib::Explain(ca, cursor, sqlda);
}
VDB_EXPORT int32_t dbpp_execute_into(SQLCA* ca VDB_PB, const char*, const char*, int16_t* stmt,
                                     SQLDA* in, SQLDA* out) {
  VDB_PB_CHECK(ca);
  return vdblib::ExecuteInto(ca, stmt, in, out);
}
VDB_EXPORT int32_t dbpp_execute_imm(SQLCA* ca VDB_PB, const char* text, uint32_t) {
  VDB_PB_CHECK(ca);
  return vdblib::ExecuteText(ca, text);
}
VDB_EXPORT int32_t dbpp_commit(SQLCA* ca VDB_PB, uint32_t) {
  VDB_PB_CHECK(ca);
  return vdblib::Commit(ca);
}
VDB_EXPORT int32_t dbpp_rollback(SQLCA* ca VDB_PB, uint32_t) {
  VDB_PB_CHECK(ca);
  return vdblib::Rollback(ca);
}
VDB_EXPORT int32_t dbpp_getoption(SQLCA* ca VDB_PB, int32_t scope, const char* user,
                                  const char* name, SQLDA* sqlda) {
  VDB_PB_CHECK(ca);
  return vdblib::GetOption(ca, scope, user, name, sqlda);
}
VDB_EXPORT int32_t dbpp_setoption(SQLCA* ca VDB_PB, int32_t scope, const char* user,
                                  const char* name, SQLDA* sqlda) {
  VDB_PB_CHECK(ca);
  return vdblib::SetOption(ca, scope, user, name, sqlda);
}

VDB_CHECK_TYPE(dbpp_prepare, VDB_FN(dbpp_prepare));
VDB_CHECK_TYPE(dbpp_dropstmt, VDB_FN(dbpp_dropstmt));
VDB_CHECK_TYPE(dbpp_describe, VDB_FN(dbpp_describe));
VDB_CHECK_TYPE(dbpp_describe_cursor, VDB_FN(dbpp_describe_cursor));
VDB_CHECK_TYPE(dbpp_describe_names, VDB_FN(dbpp_describe_names));
VDB_CHECK_TYPE(dbpp_declare, VDB_FN(dbpp_declare));
VDB_CHECK_TYPE(dbpp_open, VDB_FN(dbpp_open));
VDB_CHECK_TYPE(dbpp_fetch, VDB_FN(dbpp_fetch));
VDB_CHECK_TYPE(dbpp_fetch_array, VDB_FN(dbpp_fetch_array));
VDB_CHECK_TYPE(dbpp_get_data, VDB_FN(dbpp_get_data));
VDB_CHECK_TYPE(dbpp_put_into, VDB_FN(dbpp_put_into));
VDB_CHECK_TYPE(dbpp_update, VDB_FN(dbpp_update));
VDB_CHECK_TYPE(dbpp_delete, VDB_FN(dbpp_delete));
VDB_CHECK_TYPE(dbpp_resume, VDB_FN(dbpp_resume));
VDB_CHECK_TYPE(dbpp_close, VDB_FN(dbpp_close));
VDB_CHECK_TYPE(dbpp_explain, VDB_FN(dbpp_explain));
VDB_CHECK_TYPE(dbpp_execute_into, VDB_FN(dbpp_execute_into));
VDB_CHECK_TYPE(dbpp_execute_imm, VDB_FN(dbpp_execute_imm));
VDB_CHECK_TYPE(dbpp_commit, VDB_FN(dbpp_commit));
VDB_CHECK_TYPE(dbpp_rollback, VDB_FN(dbpp_rollback));
VDB_CHECK_TYPE(dbpp_getoption, VDB_FN(dbpp_getoption));
VDB_CHECK_TYPE(dbpp_setoption, VDB_FN(dbpp_setoption));
