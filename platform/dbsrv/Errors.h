// Server error codes, their SQLSTATEs and message texts, and the mapping of
// SQLite's result codes onto them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;

namespace vdbsrv {

// Codes the server answers. Negative are errors, positive warnings.
enum ErrorCode : int32_t {
  errOk = 0,
  errNotFound = 100,
  errTruncated = 101,
  errProcedureComplete = 105,
  errNeedsQuotes = 200,
  errStartStopDenied = -75,
  errDatabaseNameNotUnique = -77,
  errNoMemory = -78,
  errUnableToStartEngine = -80,
  errUnableToStartDatabase = -82,
  errDatabaseNotFound = -83,
  errParse = -95,
  errEngineAlreadyRunning = -96,
  errEngineNotRunning = -100,
  errNotConnected = -101,
  errInvalidLogon = -103,
  errConnectionNotFound = -108,
  errItemExists = -110,
  errCallbackInvalid = -130,
  errSyntax = -131,
  errNotImplemented = -134,
  errDbspaceNotFound = -138,
  errTableNotFound = -141,
  errColumnNotFound = -143,
  errConversion = -157,
  errPrimaryKeyNotUnique = -193,
  errForeignKey = -194,
  errColumnNotNull = -195,
  errIndexNotUnique = -196,
  errInvalidOption = -200,
  errInvalidOptionSetting = -201,
  errCheckConstraint = -209,
  errRowLocked = -210,
  errBackupNotStarted = -240,
  errBackupCannotRenameLogYet = -242,
  errProcedureNotFound = -265,
  errPermissionDenied = -121,
  errInterrupted = -299,
  errRuntime = -300,
  errDiskFull = -304,
  errIoError = -305,
  errConnectionTerminated = -308,
  errReadOnlyDatabase = -151,
  errInvalidParameter = -735,
  // statements and cursors
  errInvalidStatement = -630,  // statement number never prepared or already dropped
  errCursorNotDeclared = -170,
  errCursorAlreadyOpen = -172,
  errCursorNotOpen = -180,
  errNoIndicator = -181,
  errSelectManyRows = -185,
  errNotEnoughValues = -188,
  errUpdateExpression = -190,
  errNotUpdatable = -192,
  errNoCurrentRow = -197,
  errValueOutOfRange = -158,
  errVariableNotFound = -260,
  errNestingTooDeep = -274,
  errCursorReadOnly = -633,
  errFetchNextOnly = -668,
  errDescriptorMismatch = -642,
  errFileInUse = -816,
};

// One server error: the code, the substitution text the SQLCA carries, and
// the full message text the client library reports.
struct Error {
  int32_t code = 0;          // ErrorCode or any other server code
  std::string param;         // the substitution text (%1 of the code's template)
  std::string message;       // the complete message, SQLite's own text included where it came from
};

// Thrown inside the engine; the client library turns it into an sqlcode.
class ServerError : public std::runtime_error {
 public:
  explicit ServerError(Error e);
  ServerError(int32_t code, std::string_view param = {});
  int32_t Code() const { return error_.code; }
  const Error& Detail() const { return error_; }

 private:
  Error error_;
};

// Builds the error for a code and its substitution text.
Error MakeError(int32_t code, std::string_view param = {});

// The five-character SQLSTATE of a code ("00000" for 0, "HY000" for unknown ones).
const char* SqlState(int32_t code);

// The message of a code with its template's %1 replaced by param.
std::string FormatMessage(int32_t code, std::string_view param);

// The server error for an SQLite result code (extended codes understood) and
// its message; SQLite's text stays in the message.
Error MapSqliteError(int rc, std::string_view sqliteText);
// The same for the last failure on a handle.
Error MapSqliteError(sqlite3* db, int rc);
[[noreturn]] void ThrowSqlite(sqlite3* db, int rc);

}  // namespace vdbsrv
