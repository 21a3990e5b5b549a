// Translation of the server's SQL expressions and statements into SQLite's.
//
// Rules (applied on tokens, so text inside literals and comments is never touched):
//  - `if c then a [elseif c2 then b] else d endif` (also `end if`) becomes
//    `CASE WHEN c THEN a WHEN c2 THEN b ELSE d END`, nested to any depth.
//  - `+` is concatenation in an additive chain (operands joined by `+`/`-`) where
//    any operand is a string: a string literal, a name the engine reports as a
//    string (`IsStringName`: string columns and string variables), a call of a
//    string function (`string`, `upper`, `substr`, ...), `cast(... as char/varchar/...)`,
//    an operand containing `||`, or a parenthesised or `if` expression whose value
//    is such a string. Then every `+` of that chain becomes `||`; the operands are
//    parenthesised where SQLite's `||` would otherwise bind differently.
//  - Catalog names: `sys.NAME` (any name) becomes `sys_name`, and the bare catalog
//    table names systable, syscolumn, sysdomain, sysuserperms, sysprocedure,
//    sysprocparm, sysindex and sysixcol become `sys_systable` and so on (so
//    `sys.systable.table_id` reads `sys_systable.table_id`). Quoted names are kept.
//  - `current date|time|timestamp` become CURRENT_DATE, CURRENT_TIME, CURRENT_TIMESTAMP.
//  - A column's `default autoincrement` is dropped from DDL and the column reported.
//  - `owner.table`: the owner is dropped when the engine's `IsOwner` says it is a user.
//  - Host markers `?` and `:name` and references to variables (`IsVariable`) become
//    numbered SQLite parameters `?1`, `?2`, ...; `Slots` says what each one is.
//    Variables are recognised in expressions, not as table or column names that a
//    statement defines or assigns (after AS/FROM/JOIN/INTO/UPDATE/TABLE, in an INSERT
//    column list, left of `=` in a SET list) nor before `.` or `(`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "dbsrv/DialectLexer.h"

namespace vdbsrv {

/// What the engine tells the translator about names. Every hook may be empty.
struct TDialectHooks {
  /// Whether Name is a server variable (connection or procedure variable).
  std::function<bool(std::string_view Name)> IsVariable;
  /// Whether Qualifier.Name (Qualifier empty when unqualified) holds a string:
  /// a column of a string type, or a variable of a string type.
  std::function<bool(std::string_view Qualifier, std::string_view Name)> IsStringName;
  /// Whether Name is a user (owner) whose qualifier SQLite cannot read.
  std::function<bool(std::string_view Name)> IsOwner;
};

/// A host variable of a statement: `?` or `:name`. A repeated `:name` is one
/// host variable; Positions lists every occurrence.
struct THostVar {
  std::string Name;  ///< without the colon; empty for `?`
  std::vector<TTextPos> Positions;
};

enum TSlotKind : uint8_t {
  slHost,     ///< bind host variable number Host (index into the statement's HostVars)
  slVariable  ///< bind the current value of variable Variable
};

/// What SQLite parameter ?N (N = index + 1) stands for.
struct TParamSlot {
  TSlotKind Kind = slHost;
  int32_t Host = -1;
  std::string Variable;
};

/// A translated statement or expression.
struct TDialectExpr {
  std::string Text;  ///< as written
  std::string Sql;   ///< SQLite text; parameters are ?1..?n
  std::vector<TParamSlot> Slots;
  TTextPos Pos;
  std::string BareName;  ///< when the text is exactly one unqualified name
  int32_t Host = -1;     ///< when the text is exactly one host marker: its host index
  bool IsString = false; ///< statically a string (literal, concatenation, string function)

  bool IsHostMarker() const { return Host >= 0; }
  bool IsVariableRef() const { return Slots.size() == 1 && Slots[0].Kind == slVariable && !BareName.empty(); }
};

/// Raised inside the parsers; the public entry points turn it into TDialectError.
struct TDialectFault {
  size_t Token;  ///< index of the offending token
};

/// Translates ranges of one lexed text. Host variables are numbered once for the
/// whole text, in the order they are written.
class TSqlTranslator {
 public:
  TSqlTranslator(const std::vector<TToken>& Tokens, std::string_view Source, const TDialectHooks& Hooks);

  /// Translates tokens [B, E). With Variables false, names are never taken for
  /// variables. Omit lists token ranges [first, last) left out (SELECT ... INTO).
  /// Throws TDialectFault.
  TDialectExpr Translate(size_t B, size_t E, bool Variables,
                         const std::vector<std::pair<size_t, size_t>>& Omit = {});

  const std::vector<THostVar>& HostVars() const { return FHostVars; }
  /// The host index of a marker token, -1 for other tokens.
  int32_t HostOf(size_t Token) const { return FHostOf[Token]; }
  /// Columns whose `default autoincrement` the last translation removed.
  const std::vector<std::string>& AutoIncrementColumns() const { return FAutoIncrement; }
  /// The source text of tokens [B, E).
  std::string_view SourceText(size_t B, size_t E) const;

 private:
  const std::vector<TToken>& FTokens;
  std::string_view FSource;
  const TDialectHooks& FHooks;
  std::vector<THostVar> FHostVars;
  std::vector<int32_t> FHostOf;
  std::vector<std::string> FAutoIncrement;
};

/// Whether Word is one of the SQL keywords that never name a column or variable.
bool IsSqlKeyword(std::string_view Word);

}  // namespace vdbsrv
