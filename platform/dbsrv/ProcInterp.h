// Runs stored procedures and functions of the catalog over SQLite: the
// parsed body is walked statement by statement, every embedded expression
// and statement is the SQLite text the parser produced with the procedure's
// variables bound to its parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbsrv/ConnectionEvents.h"
#include "dbsrv/ProcAst.h"
#include "dbsrv/SqlValue.h"
#include "dbsrv/TypeMap.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vdbsrv {

/// The rows of one SELECT without INTO in a body, in order.
struct TProcResultSet {
  std::vector<std::string> Columns;
  std::vector<SqlType> Types;  ///< per column: the RESULT clause's, the declared column's, or the values'
  std::vector<std::vector<OwnedValue>> Rows;
};

/// What a call leaves behind.
struct TProcCallResult {
  OwnedValue ReturnValue;          ///< procedures: integer, 0 without RETURN; functions: the value
  std::vector<OwnedValue> Params;  ///< every parameter's final value, in declaration order
  std::vector<const TProcParam*> ParamInfo;  ///< valid while Definition lives
  std::shared_ptr<const TProcDefinition> Definition;
  std::vector<TProcResultSet> ResultSets;
};

/// Value converted to a declared type as a parameter or variable of that type
/// holds it (numbers from text, text from numbers); NULL stays NULL. Throws
/// errConversion or errValueOutOfRange.
OwnedValue ConvertToDeclared(const OwnedValue& Value, std::string_view TypeText);

/// The result type of one column from the values in it (integers, floats,
/// text of its longest width, bytes).
SqlType TypeOfValues(const std::vector<std::vector<OwnedValue>>& Rows, size_t Column);

/// An argument of a call: by position when Name is empty; no value takes the default.
struct TProcArg {
  std::string Name;
  std::optional<OwnedValue> Value;
};

class TProcInterpreter {
 public:
  /// Nested calls beyond this depth fail with errNestingTooDeep.
  static constexpr int kMaxDepth = 64;

  TProcInterpreter(sqlite3* Db, int32_t UserId) : FDb(Db), FUserId(UserId) {}

  /// Steps a statement; answers SQLITE_ROW or SQLITE_DONE, throws otherwise.
  /// Bound holds the values bound to the statement's parameters, in order, so
  /// that a change is recorded with them exactly. The default steps directly;
  /// a connection passes its own Step.
  std::function<int(sqlite3_stmt*, std::span<const SqlValue> Bound)> Step;
  /// Receives `message ... to client` texts.
  std::function<void(MessageType Type, std::string_view Text)> OnMessage;
  /// Carries out the server's own procedures (IsBuiltinProcedure); without it
  /// calling one is errNotImplemented. Args are in declaration order, converted.
  std::function<void(const TProcDefinition& Def, std::vector<OwnedValue>& Args, OwnedValue& ReturnValue)>
      OnBuiltin;
  /// Carries out COMMIT and ROLLBACK statements of a body (the connection
  /// keeps its own account of the transaction); without it SQLite runs them.
  std::function<void(bool Commit)> OnTransaction;
  /// When set, the nesting count shared with other interpreters of the same
  /// connection (functions called from SQL start interpreters of their own);
  /// the depth limit applies to the sum.
  int* SharedDepth = nullptr;
  /// Called when SQLite knows no function of a name used in a body; answers
  /// true when it registered one, and the statement is prepared again.
  std::function<bool(std::string_view Name)> ResolveFunction;

  /// Calls [Owner.]Name. Throws ServerError: errProcedureNotFound, errNestingTooDeep,
  /// the failing statement's code.
  TProcCallResult Call(std::string_view Owner, std::string_view Name, const std::vector<TProcArg>& Args);

 private:
  struct TFrame;
  enum TFlow : uint8_t { flNext, flReturn };

  TProcCallResult CallAt(std::string_view Owner, std::string_view Name, const std::vector<TProcArg>& Args,
                         int Depth);
  TFlow Run(const std::vector<TProcStmt>& Body, TFrame& F);
  TFlow RunOne(const TProcStmt& S, TFrame& F);
  OwnedValue Evaluate(const TDialectExpr& E, TFrame& F);
  bool IsTrue(const TDialectExpr& E, TFrame& F);
  // Binds the variables E's parameters name; answers the values bound, which
  // stay valid while the variables keep their values.
  std::vector<SqlValue> Bind(sqlite3_stmt* St, const TDialectExpr& E, TFrame& F);
  sqlite3_stmt* Prepare(const std::string& Sql);
  int DoStep(sqlite3_stmt* St, std::span<const SqlValue> Bound);

  sqlite3* FDb;
  int32_t FUserId;
};

}  // namespace vdbsrv
