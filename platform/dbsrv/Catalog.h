// The server's own tables inside every database file. SQLite keeps the
// schema; these hold what it does not: the database's identity and the users.
//
//   vdbsys_info (name TEXT PRIMARY KEY, value TEXT)
//       "format" = "1" marks a file made by this server; "page_size".
//   vdbsys_user (user_id INTEGER PRIMARY KEY, user_name TEXT UNIQUE NOCASE,
//                password TEXT)
//       SYS 0 and PUBLIC 2 cannot log in (NULL password); DBA is 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct sqlite3;

namespace vdbsrv {

inline constexpr int32_t kSysUserId = 0;
inline constexpr int32_t kDbaUserId = 1;
inline constexpr int32_t kPublicUserId = 2;

// Creates a new database file with the catalog and the DBA user. Throws
// ServerError: errItemExists when the file exists, errIoError when it cannot
// be written.
void CreateDatabase(const std::string& path, std::string_view dbaUser = "DBA",
                    std::string_view dbaPassword = "SQL");

// Throws ServerError(errUnableToStartDatabase) unless db is a database of
// this server.
void CheckCatalog(sqlite3* db);

// The user id for a name and password, or -1 when they do not match.
// User names fold case; passwords do not.
int32_t Authenticate(sqlite3* db, std::string_view user, std::string_view password);

}  // namespace vdbsrv
