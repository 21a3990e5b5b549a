// What a connection keeps for its SQL: prepared statements by 16-bit
// number, cursors by name and the connection's server variables. Used only
// inside a request of the owning connection.
#pragma once

#include "dbsrv/Cursor.h"
#include "dbsrv/ProcCatalog.h"
#include "dbsrv/ProcInterp.h"
#include "dbsrv/ServerVariables.h"
#include "dbsrv/Statement.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace vdbsrv {

class Connection;

// Receives the single row a statement executed into output variables yields.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Column c of the row, for c below columns.
  virtual void Row(const SqlValue* values, int columns) = 0;
};

class SqlSession {
 public:
  explicit SqlSession(Connection& conn) : conn_(conn) {}

  // Prepares text under number (0: the lowest free number is assigned; a
  // number in use is taken over). Answers the number.
  int16_t Prepare(int16_t number, std::string_view text);
  // Throws errInvalidStatement for a number never prepared or dropped.
  void Drop(int16_t number);
  PreparedStatement& Statement(int16_t number);
  std::shared_ptr<PreparedStatement> StatementPtr(int16_t number);

  // Declares a cursor name over a statement; a declared name is redeclared
  // (an open cursor of that name is closed first).
  void Declare(std::string_view name, int16_t number, uint32_t flags);
  // Throws errCursorNotDeclared.
  Cursor& DeclaredCursor(std::string_view name);
  // Throws errCursorNotDeclared or errCursorNotOpen.
  Cursor& OpenCursor(std::string_view name);

  // Runs a prepared statement with input values; a result row goes to out
  // (more than one row is errSelectManyRows, none errNotFound as a warning
  // through the return value -1). Answers the rows affected or returned.
  int64_t Execute(PreparedStatement& statement, const HostInput* input, OutputSink* out);
  // Runs a text of one or more statements without host variables.
  int64_t ExecuteImmediate(std::string_view text);

  // Runs a prepared call with input values: arguments from host variables,
  // connection variables or expressions, OUT values written back to
  // connection variables passed as arguments. Throws the failing statement's
  // ServerError.
  TProcCallResult Call(PreparedStatement& statement, const HostInput* input);
  // An interpreter that steps through the connection and reports messages,
  // built-in procedures and functions to it.
  TProcInterpreter Interpreter();

  ServerVariables& Variables() { return variables_; }

  // Makes the catalog's function Name callable from SQL on this connection;
  // false when there is no such function.
  bool RegisterFunction(std::string_view name);

 private:
  int64_t ExecuteCommand(PreparedStatement& statement, const HostInput* input, OutputSink* out);
  int64_t ExecuteProcedure(PreparedStatement& statement, const HostInput* input, OutputSink* out);
  void ResolveCallee(PreparedStatement& statement);
  TStepFn Stepper();
  // A statement of the connection; a function SQLite does not know yet is
  // looked up in the catalog and the text prepared again.
  std::unique_ptr<PreparedStatement> MakeStatement(std::string_view text);
  void RecordObject(const PreparedStatement& statement);
  SqlValue Evaluate(const TDialectExpr& expr, const HostInput* input,
                    std::unique_ptr<PreparedStatement>& scratch);

  Connection& conn_;
  std::map<int16_t, std::shared_ptr<PreparedStatement>> statements_;
  std::map<std::string, std::unique_ptr<Cursor>> cursors_;  // lower-case name
  ServerVariables variables_;
  std::vector<SqlValue> bound_;  // the values of the statement being executed, for the log
  int procDepth_ = 0;  // nesting of procedure and function calls in progress
};

}  // namespace vdbsrv
