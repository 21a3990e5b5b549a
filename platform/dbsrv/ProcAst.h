// The parsed form of a stored procedure or function in the server's procedure
// language. Every embedded expression and statement is already translated for
// SQLite; its slots name the procedure variables to bind (slVariable), so an
// interpreter binds values and runs the SQL without parsing anything again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbsrv/DialectStatement.h"
#include "dbsrv/DialectTranslator.h"

namespace vdbsrv {

enum TParamMode : uint8_t { pmIn, pmOut, pmInOut };

struct TProcParam {
  TParamMode Mode = pmIn;
  std::string Name;
  std::string TypeText;  ///< declared type as written ("varchar(40)", "long binary")
  bool HasDefault = false;
  TDialectExpr Default;
  TTextPos Pos;
};

/// A column of a RESULT (...) clause.
struct TResultColumn {
  std::string Name;
  std::string TypeText;
};

enum TProcStmtKind : uint8_t {
  psDeclare,     ///< DECLARE Name TypeText [DEFAULT Value]
  psSet,         ///< SET Name = Value
  psSelectInto,  ///< Sql without its INTO clause; the row's columns go to Targets
  psIf,          ///< Branches in order, then Else when HasElse
  psWhile,       ///< WHILE Cond LOOP Body END LOOP
  psReturn,      ///< RETURN [Value]
  psMessage,     ///< MESSAGE ...
  psCall,        ///< CALL ...; arguments that are bare variable names can receive OUT values
  psSql,         ///< any other statement; a SELECT here is a result set (IsResultSet)
  psBlock        ///< BEGIN Body END
};

struct TProcStmt;

struct TProcBranch {
  TDialectExpr Cond;
  std::vector<TProcStmt> Body;
};

struct TProcStmt {
  TProcStmtKind Kind = psSql;
  TTextPos Pos;
  std::string Text;  ///< the statement as written

  std::string Name;      ///< psDeclare, psSet: the variable
  std::string TypeText;  ///< psDeclare
  bool HasValue = false; ///< psDeclare (a default), psReturn (a value)
  TDialectExpr Value;    ///< psDeclare, psSet, psReturn
  bool Append = false;   ///< psSet: `set x = x || piece`, append Appended in place
  TDialectExpr Appended;

  TDialectExpr Sql;                  ///< psSelectInto, psSql
  std::vector<std::string> Targets;  ///< psSelectInto
  bool IsResultSet = false;          ///< psSql: a SELECT without INTO

  std::vector<TProcBranch> Branches;  ///< psIf
  bool HasElse = false;
  std::vector<TProcStmt> Else;        ///< psIf

  TDialectExpr Cond;                  ///< psWhile
  std::vector<TProcStmt> Body;        ///< psWhile, psBlock

  TMessageStmt Message;  ///< psMessage
  TCallStmt Call;        ///< psCall
};

struct TProcDefinition {
  bool IsFunction = false;
  bool OrReplace = false;
  std::string Owner;  ///< empty when the definition names none
  std::string Name;
  std::vector<TProcParam> Params;
  std::vector<TResultColumn> Result;  ///< RESULT (...) columns
  std::string ReturnType;             ///< functions: RETURNS type
  std::vector<TProcStmt> Body;
  std::string Text;  ///< the whole definition as written (kept as proc_defn)
  TTextPos Pos;
};

}  // namespace vdbsrv
