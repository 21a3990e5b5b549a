// The version-independent bodies of the entry points. DbLibEntries.cpp,
// compiled once per library version, exports them under their C names.
#pragma once

#include "dblib/Client.h"
#include "vdb_esql.h"

namespace vdblib {

int32_t Init(SQLCA* ca);
int32_t Fini(SQLCA* ca);

int32_t StringConnect(SQLCA* ca, const char* params, const LibraryInfo& lib);
int32_t StringDisconnect(SQLCA* ca, const char* params);
int32_t StartEngine(SQLCA* ca, const char* params, const LibraryInfo& lib);
int32_t StopEngine(SQLCA* ca, const char* params);
int32_t StartDatabase(SQLCA* ca, const char* params);
int32_t StopDatabase(SQLCA* ca, const char* params);
int32_t DeleteFile(SQLCA* ca, const char* name);
int32_t FindEngine(SQLCA* ca, const char* name);
int32_t PingServer(SQLCA* ca, const char* params, int32_t connectToDb, const LibraryInfo& lib);

int32_t RegisterCallback(SQLCA* ca, int32_t index, db_any_callback_fn fn);
char* ErrorMessage(SQLCA* ca, char* buffer, int32_t max);
int32_t CancelRequest(SQLCA* ca);
int32_t IsWorking(SQLCA* ca);
int32_t TimeChange(SQLCA* ca);
int32_t ConnectionInfo(SQLCA* ca, int32_t index, SQLDA* sqlda);
int32_t GetProperty(SQLCA* ca, int32_t property, char* buffer, int32_t size);
int32_t LocateServers(SQLCA* ca, db_locate_callback_fn fn, void* user);
int32_t NeedsQuotes(SQLCA* ca, const char* identifier);
int32_t Backup(SQLCA* ca, int32_t op, int32_t file, uint32_t page, SQLDA* sqlda);

int32_t Commit(SQLCA* ca);
int32_t Rollback(SQLCA* ca);
int32_t GetOption(SQLCA* ca, int32_t scope, const char* user, const char* name, SQLDA* sqlda);
int32_t SetOption(SQLCA* ca, int32_t scope, const char* user, const char* name, SQLDA* sqlda);
int32_t ExecuteImmediate(SQLCA* ca, const char* text, uint32_t kind);
// Statement entry points still to come answer "not implemented".
int32_t NotImplemented(SQLCA* ca, const char* entryPoint);

SQLDA* AllocSqlda(uint32_t count, bool withIndicators);
SQLDA* FillSqlda(SQLDA* sqlda);
void FreeSqlda(SQLDA* sqlda);
void FreeFilledSqlda(SQLDA* sqlda);

// One entry's value as text (string, integer and float types), for option
// values; throws ServerError for other types or a missing buffer.
std::string EntryText(const sqlvar& v);
// Writes text into a string entry (460, 448, 452); answers true when it was
// cut to fit (indicator = full length), false otherwise (indicator 0).
bool PutEntryText(sqlvar& v, std::string_view text);

}  // namespace vdblib
