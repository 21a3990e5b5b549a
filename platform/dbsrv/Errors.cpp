#include "dbsrv/Errors.h"

#include <sqlite3.h>

#include <cstring>

namespace vdbsrv {

namespace {

struct CodeText {
  int32_t code;
  const char* state;
  const char* text;  // %1 is the substitution text
};

// The message table. Texts follow the server's own wording.
constexpr CodeText kCodes[] = {
    {errOk, "00000", ""},
    {errNotFound, "02000", "Row not found"},
    {errTruncated, "01004", "Value truncated"},
    {errProcedureComplete, "01W05", "Procedure has completed"},
    {errNeedsQuotes, "01W20", "Identifier '%1' needs quotes"},
    {errStartStopDenied, "08W16", "Request to start/stop database denied: %1"},
    {errDatabaseNameNotUnique, "08W30", "Database name not unique: '%1'"},
    {errNoMemory, "08W26", "Dynamic memory exhausted"},
    {errUnableToStartEngine, "08W05", "Unable to start database server: %1"},
    {errUnableToStartDatabase, "08W07", "Unable to start specified database: %1"},
    {errDatabaseNotFound, "08W08", "Specified database not found: %1"},
    {errParse, "08W09", "Parse error: invalid or missing keyword near '%1'"},
    {errEngineAlreadyRunning, "08W10", "Database server already running: '%1'"},
    {errEngineNotRunning, "08W11", "Database server not found: '%1'"},
    {errNotConnected, "08003", "Not connected to a database"},
    {errInvalidLogon, "28000", "Invalid user ID or password"},
    {errConnectionNotFound, "08W17", "Connection not found: '%1'"},
    {errItemExists, "52010", "Item already exists: %1"},
    {errPermissionDenied, "42501", "Permission denied: %1"},
    {errCallbackInvalid, "WI008", "Invalid callback index %1"},
    {errSyntax, "42W04", "Syntax error near '%1'"},
    {errNotImplemented, "0AQ52", "Feature '%1' not implemented"},
    {errDbspaceNotFound, "42W08", "Dbspace '%1' not found"},
    {errTableNotFound, "42W33", "Table not found: %1"},
    {errColumnNotFound, "52003", "Column not found: %1"},
    {errReadOnlyDatabase, "42W55", "Cannot modify a read-only database: %1"},
    {errConversion, "53018", "Cannot convert value: %1"},
    {errPrimaryKeyNotUnique, "23W01", "Primary key not unique: %1"},
    {errForeignKey, "23503", "No primary key value for foreign key: %1"},
    {errColumnNotNull, "23502", "Column cannot be NULL: %1"},
    {errIndexNotUnique, "23505", "Index would not be unique: %1"},
    {errInvalidOption, "42W16", "Invalid option '%1' -- no PUBLIC setting exists"},
    {errInvalidOptionSetting, "42W17", "Invalid setting for option '%1'"},
    {errCheckConstraint, "23W02", "Invalid value for column: %1"},
    {errRowLocked, "42W18", "Row or table locked by another connection: %1"},
    {errBackupNotStarted, "WB001", "Backup not started: %1"},
    {errBackupCannotRenameLogYet, "WB005", "Unable to rename the transaction log yet: transactions are still open"},
    {errProcedureNotFound, "42W34", "Procedure or function not found: %1"},
    {errInterrupted, "57014", "Statement interrupted by user"},
    {errRuntime, "WW001", "Run time SQL error -- %1"},
    {errDiskFull, "53100", "Disk full -- transaction rolled back: %1"},
    {errIoError, "08W31", "I/O error -- transaction rolled back: %1"},
    {errConnectionTerminated, "08W01", "Connection was terminated"},
    {errInvalidParameter, "07009", "Invalid parameter: %1"},
    {errInvalidStatement, "26501", "Invalid statement: %1"},
    {errCursorNotDeclared, "34W01", "Cursor has not been declared: %1"},
    {errCursorAlreadyOpen, "24502", "Cursor already open: %1"},
    {errCursorNotOpen, "24501", "Cursor not open: %1"},
    {errNoIndicator, "22002", "No indicator variable provided for NULL result"},
    {errSelectManyRows, "21000", "SELECT returns more than one row"},
    {errNotEnoughValues, "07002", "Not enough values for host variables"},
    {errUpdateExpression, "42W30", "Cannot update an expression: %1"},
    {errNotUpdatable, "42W31", "Cursor not updatable: %1"},
    {errNoCurrentRow, "24503", "No current row of cursor"},
    {errValueOutOfRange, "22003", "Value %1 out of range for destination"},
    {errVariableNotFound, "42W14", "Variable '%1' not found"},
    {errNestingTooDeep, "42W26", "Procedure or trigger calls have nested too deeply"},
    {errCursorReadOnly, "42W29", "Update operation attempted on a read-only cursor"},
    {errFetchNextOnly, "WI001", "Cursor is restricted to FETCH NEXT operations"},
    {errDescriptorMismatch, "07008", "Invalid descriptor: %1"},
    {errFileInUse, "08W35", "Specified database file already in use: %1"},
};

const CodeText* Find(int32_t code) {
  for (const auto& c : kCodes)
    if (c.code == code) return &c;
  return nullptr;
}

std::string Substitute(const char* text, std::string_view param) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (p[0] == '%' && p[1] == '1') {
      out.append(param);
      ++p;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

}  // namespace

ServerError::ServerError(Error e) : std::runtime_error(e.message), error_(std::move(e)) {}

ServerError::ServerError(int32_t code, std::string_view param)
    : ServerError(MakeError(code, param)) {}

Error MakeError(int32_t code, std::string_view param) {
  return Error{code, std::string(param), FormatMessage(code, param)};
}

const char* SqlState(int32_t code) {
  const CodeText* c = Find(code);
  return c ? c->state : "HY000";
}

std::string FormatMessage(int32_t code, std::string_view param) {
  const CodeText* c = Find(code);
  if (!c) return param.empty() ? "Server error " + std::to_string(code) : std::string(param);
  return Substitute(c->text, param);
}

Error MapSqliteError(int rc, std::string_view text) {
  int32_t code = errRuntime;
  auto has = [&](const char* s) { return text.find(s) != std::string_view::npos; };
  switch (rc) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_BUSY_SNAPSHOT:
    case SQLITE_LOCKED_SHAREDCACHE:
      code = errRowLocked;
      break;
    case SQLITE_CONSTRAINT_PRIMARYKEY:
    case SQLITE_CONSTRAINT_ROWID:
      code = errPrimaryKeyNotUnique;
      break;
    case SQLITE_CONSTRAINT_UNIQUE:
      code = errIndexNotUnique;
      break;
    case SQLITE_CONSTRAINT_NOTNULL:
      code = errColumnNotNull;
      break;
    case SQLITE_CONSTRAINT_FOREIGNKEY:
      code = errForeignKey;
      break;
    case SQLITE_CONSTRAINT_CHECK:
    case SQLITE_CONSTRAINT:
      code = errCheckConstraint;
      break;
    case SQLITE_READONLY:
    case SQLITE_READONLY_DBMOVED:
    case SQLITE_READONLY_DIRECTORY:
      code = errReadOnlyDatabase;
      break;
    case SQLITE_FULL:
      code = errDiskFull;
      break;
    case SQLITE_NOMEM:
      code = errNoMemory;
      break;
    case SQLITE_INTERRUPT:
      code = errInterrupted;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      code = errUnableToStartDatabase;
      break;
    case SQLITE_CANTOPEN:
      code = errDatabaseNotFound;
      break;
    case SQLITE_MISMATCH:
      code = errConversion;
      break;
    case SQLITE_PERM:
    case SQLITE_AUTH:
      code = errPermissionDenied;
      break;
    default:
      if ((rc & 0xff) == SQLITE_IOERR) {
        code = errIoError;
      } else if (has("no such table") || has("no such view")) {
        code = errTableNotFound;
      } else if (has("no such column")) {
        code = errColumnNotFound;
      } else if (has("no such function")) {
        code = errProcedureNotFound;
      } else if (has("syntax error") || has("incomplete input") || has("unrecognized token")) {
        code = errSyntax;
      } else if (has("already exists")) {
        code = errItemExists;
      }
      break;
  }
  if (code == errInterrupted) return MakeError(code);
  Error e = MakeError(code, text);
  return e;
}

Error MapSqliteError(sqlite3* db, int rc) {
  const char* text = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (db) rc = sqlite3_extended_errcode(db);
  return MapSqliteError(rc, text ? text : "");
}

void ThrowSqlite(sqlite3* db, int rc) { throw ServerError(MapSqliteError(db, rc)); }

}  // namespace vdbsrv
