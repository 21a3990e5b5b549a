#include "dbsrv/Identifiers.h"

#include "dbsrv/Text.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>

namespace vdbsrv {

namespace {

// The server's reserved words beyond SQLite's own.
constexpr std::array<std::string_view, 96> kReserved{
    "add", "all", "alter", "and", "any", "as", "asc", "backup", "begin", "between", "bigint",
    "binary", "bit", "bottom", "break", "by", "call", "capability", "cascade", "case", "cast",
    "char", "char_convert", "character", "check", "checkpoint", "close", "comment", "commit",
    "connect", "constraint", "contains", "continue", "convert", "create", "cross", "cube",
    "current", "cursor", "date", "dbspace", "deallocate", "dec", "decimal", "declare",
    "default", "delete", "deleting", "desc", "distinct", "do", "double", "drop", "dynamic",
    "else", "elseif", "encrypted", "end", "endif", "escape", "exception", "exec", "execute",
    "existing", "exists", "externlogin", "fetch", "first", "float", "for", "foreign",
    "forward", "from", "full", "goto", "grant", "group", "having", "holdlock", "identified",
    "if", "in", "index", "inner", "inout", "insensitive", "insert", "inserting", "install",
    "instead", "int", "integer", "integrated", "into", "iq", "is"};
constexpr std::array<std::string_view, 95> kReserved2{
    "isolation", "join", "key", "lateral", "left", "like", "lock", "login", "long", "match",
    "membership", "message", "mode", "modify", "natural", "new", "no", "noholdlock", "not",
    "notify", "null", "numeric", "of", "off", "on", "open", "option", "options", "or",
    "order", "others", "out", "outer", "over", "passthrough", "precision", "prepare",
    "primary", "print", "privileges", "proc", "procedure", "publication", "raiserror",
    "readtext", "real", "reference", "references", "release", "remote", "remove", "rename",
    "reorganize", "resource", "restore", "restrict", "return", "revoke", "right", "rollback",
    "rollup", "save", "savepoint", "scroll", "select", "sensitive", "session", "set",
    "setuser", "share", "smallint", "some", "sqlcode", "sqlstate", "start", "stop",
    "subtrans", "subtransaction", "synchronize", "syntax_error", "table", "temporary",
    "then", "time", "timestamp", "tinyint", "to", "top", "tran", "trigger", "truncate",
    "tsequal", "unbounded", "union", "unique"};
constexpr std::array<std::string_view, 20> kReserved3{
    "unknown", "unsigned", "update", "updating", "user", "using", "validate", "values",
    "varbinary", "varchar", "variable", "varying", "view", "wait", "waitfor", "when",
    "where", "while", "window", "with"};

bool IsReserved(const std::string& lower) {
  auto in = [&](const auto& list) {
    return std::find(list.begin(), list.end(), lower) != list.end();
  };
  return in(kReserved) || in(kReserved2) || in(kReserved3) ||
         sqlite3_keyword_check(lower.data(), static_cast<int>(lower.size())) != 0;
}

bool IsIdentChar(char c, bool first) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '@' || c == '#' ||
      c == '$' || static_cast<unsigned char>(c) >= 0x80)
    return true;
  return !first && c >= '0' && c <= '9';
}

}  // namespace

bool NeedsQuotes(std::string_view identifier) {
  if (identifier.empty() || identifier.size() > 128) return true;
  for (size_t i = 0; i < identifier.size(); ++i)
    if (!IsIdentChar(identifier[i], i == 0)) return true;
  return IsReserved(LowerCase(identifier));
}

}  // namespace vdbsrv
