// Classification of one statement of the server's SQL: plain SQL for SQLite
// (translated), or one of the server's own commands, parsed into its fields.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbsrv/ConnectionEvents.h"
#include "dbsrv/DialectLexer.h"
#include "dbsrv/DialectTranslator.h"

namespace vdbsrv {

struct TProcDefinition;

enum TStatementKind : uint8_t {
  dsSql,              ///< anything SQLite runs; see Sql
  dsCall,             ///< [? = | :r =] call [owner.]name(args)
  dsCreateVariable,   ///< create variable NAME TYPE
  dsSetVariable,      ///< set NAME = expr
  dsDropVariable,     ///< drop variable NAME
  dsSetOption,        ///< set [temporary] option [user.]name = [value]
  dsMessage,          ///< message expr, ... [type ...] [to ...]
  dsWaitfor,          ///< waitfor delay 'hh:mm:ss' | waitfor time 'hh:mm:ss'
  dsCreateProcedure,  ///< create procedure / create function; see Procedure
  dsDropProcedure,    ///< drop procedure / drop function
  dsCreateDatabase,   ///< create database 'file' [options]
  dsCommit,           ///< commit [work]
  dsRollback          ///< rollback [work]
};

/// One argument of a call; Name is set for `name = value` arguments.
struct TCallArg {
  std::string Name;
  TDialectExpr Value;
};

struct TCallStmt {
  std::string Owner;  ///< empty when the call names no owner
  std::string Name;
  std::vector<TCallArg> Args;
  int32_t ResultHost = -1;  ///< host index that receives the return value, -1 without
};

struct TCreateVariableStmt {
  std::string Name;
  std::string TypeText;  ///< the declared type as written, e.g. "long binary", "varchar(40)"
};

struct TSetVariableStmt {
  std::string Name;
  TDialectExpr Value;
  /// `set x = x || expr` (or `x + expr` for a string): append Appended to x in place.
  bool Append = false;
  TDialectExpr Appended;
};

struct TDropVariableStmt {
  std::string Name;
};

struct TSetOptionStmt {
  bool Temporary = false;
  std::string User;  ///< "public", a user name, or empty (the current user)
  std::string Name;
  bool HasValue = false;  ///< false for `set option name =` (back to the default)
  std::string Value;      ///< string literal unquoted, or the number/word as written
};

enum TMessageTarget : uint8_t { mgConsole, mgClient, mgLog };

struct TMessageStmt {
  std::vector<TDialectExpr> Parts;  ///< concatenated to form the text
  MessageType Type = mtInfo;  ///< the connection's message types
  TMessageTarget Target = mgConsole;
  bool DebugOnly = false;
};

struct TWaitforStmt {
  bool Until = false;    ///< `waitfor time`: wait until that time of day
  int64_t Millis = 0;    ///< delay, or milliseconds after midnight for Until
};

struct TDropProcedureStmt {
  bool IsFunction = false;
  bool IfExists = false;
  std::string Owner;
  std::string Name;
};

struct TCreateDatabaseStmt {
  std::string FileName;
  std::string OptionsText;  ///< whatever follows the file name, as written
};

/// A parsed statement. Only the member named by Kind is filled.
struct TDialectStatement {
  TStatementKind Kind = dsSql;
  std::string Text;                 ///< the statement as written, without its ";"
  TTextPos Pos;                     ///< where it starts
  size_t TailOffset = 0;            ///< where the next statement of the text starts
  std::vector<THostVar> HostVars;   ///< `?` and `:name` in order of first appearance

  TDialectExpr Sql;                 ///< dsSql: SQLite text and parameter slots
  std::string Verb;                 ///< dsSql: first word in upper case (SELECT, INSERT, WITH, ...)
  std::vector<std::string> AutoIncrementColumns;  ///< dsSql: `default autoincrement` columns

  TCallStmt Call;
  TCreateVariableStmt CreateVariable;
  TSetVariableStmt SetVariable;
  TDropVariableStmt DropVariable;
  TSetOptionStmt SetOption;
  TMessageStmt Message;
  TWaitforStmt Waitfor;
  std::shared_ptr<const TProcDefinition> Procedure;  ///< dsCreateProcedure
  TDropProcedureStmt DropProcedure;
  TCreateDatabaseStmt CreateDatabase;
};

struct TDialectResult {
  bool Ok = true;
  TDialectError Error;  ///< when not Ok
  TDialectStatement Statement;
};

/// Parses and translates the first statement of Text (a trailing ";" is allowed;
/// Statement.TailOffset tells where the next one starts, as SQLite's prepare does).
/// An empty text is a syntax error.
TDialectResult ParseStatement(std::string_view Text, const TDialectHooks& Hooks = {});

/// Byte ranges [first, second) of the statements of a script separated by ";"
/// (semicolons inside literals, comments and procedure or trigger bodies do not
/// separate). Empty statements are skipped. A lexical error gives the ranges before it.
std::vector<std::pair<size_t, size_t>> SplitStatements(std::string_view Text);

/// Parses 'hh:mm:ss[.fff]' (also 'mm:ss' and 'ss') into milliseconds; -1 when malformed.
int64_t ParseTimeOfDay(std::string_view Text);

}  // namespace vdbsrv
