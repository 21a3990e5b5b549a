#include "dbsrv/Statement.h"

#include "dbsrv/DialectStatement.h"

#include "dbsrv/Errors.h"
#include "dbsrv/ProcAst.h"
#include "dbsrv/ServerVariables.h"

#include <sqlite3.h>

#include <cctype>

namespace vdbsrv {

namespace {

[[noreturn]] void ThrowDialect(const TDialectError& e) {
  Error err;
  err.code = e.Code;
  err.param = e.Message;
  err.message = e.Message;
  throw ServerError(std::move(err));
}

bool Blank(std::string_view s) {
  for (char c : s)
    if (!std::isspace(static_cast<unsigned char>(c)) && c != ';') return false;
  return true;
}

bool IsAggregate(const TToken& t) {
  static constexpr const char* kNames[] = {"count", "sum", "avg", "min", "max", "total", "group_concat"};
  for (const char* n : kNames)
    if (t.Is(n)) return true;
  return false;
}

std::string_view NameOf(const TToken& t) {
  return t.Kind == tkQuotedName ? std::string_view(t.Value) : t.Text;
}

bool IsNameToken(const TToken& t) {
  return t.Kind == tkQuotedName || (t.Kind == tkWord && !IsSqlKeyword(t.Text));
}

// The shape of a SELECT read from its tokens at nesting depth 0.
struct SelectShape {
  bool select = false;                           // starts with SELECT
  size_t selectToken = 0;                        // index of SELECT
  size_t listBegin = 0, listEnd = 0;             // the select list
  std::vector<std::pair<size_t, size_t>> items;  // select-list items, aliases removed
  bool star = false;                             // an item is * or t.*
  struct From { std::string table, alias; };
  std::vector<From> from;                        // tables of the FROM clause
  bool single = true;                            // one plain table, no grouping, no set operation
};

SelectShape ReadShape(const std::vector<TToken>& t) {
  SelectShape s;
  if (t.empty() || !t[0].Is("select")) return s;
  s.select = true;
  size_t p = 1;
  if (t[p].Is("distinct")) s.single = false;
  if (t[p].Is("distinct") || t[p].Is("all")) ++p;
  s.listBegin = p;
  int depth = 0;
  size_t itemStart = p;
  auto closeItem = [&](size_t end) {
    size_t b = itemStart, e = end;
    if (e > b + 2 && t[e - 2].Is("as")) e -= 2;
    else if (e > b + 1 && IsNameToken(t[e - 1]) && !t[e - 2].IsOp(".") &&
             (t[e - 2].Kind != tkOperator || t[e - 2].IsOp(")")))
      e -= 1;
    if (e == b + 1 && t[b].IsOp("*")) s.star = true;
    if (e == b + 3 && t[b + 2].IsOp("*")) s.star = true;
    s.items.emplace_back(b, e);
  };
  for (; t[p].Kind != tkEnd; ++p) {
    const TToken& k = t[p];
    if (k.IsOp("(")) ++depth;
    else if (k.IsOp(")")) --depth;
    if (depth == 0 && k.IsOp(",")) {
      closeItem(p);
      itemStart = p + 1;
    }
    if (IsAggregate(k) && t[p + 1].IsOp("(")) s.single = false;
    if (k.Is("over")) s.single = false;
    if (depth == 0 && k.Is("from")) break;
  }
  s.listEnd = p;
  if (p > itemStart) closeItem(p);
  if (!t[p].Is("from")) {
    s.single = false;
    return s;
  }
  ++p;
  bool expectTable = true;
  for (; t[p].Kind != tkEnd; ++p) {
    const TToken& k = t[p];
    if (k.IsOp("(")) {
      ++depth;
      if (depth == 1 && expectTable) s.single = false;
    } else if (k.IsOp(")")) {
      --depth;
    }
    if (depth != 0) continue;
    if (k.Is("where") || k.Is("order") || k.Is("limit") || k.Is("group") || k.Is("having") ||
        k.Is("window") || k.Is("union") || k.Is("intersect") || k.Is("except") || k.IsOp(";"))
      break;
    if (k.IsOp(",") || k.Is("join")) {
      s.single = false;
      expectTable = true;
      continue;
    }
    if (k.Is("on") || k.Is("using")) expectTable = false;
    if (expectTable && IsNameToken(k)) {
      SelectShape::From f;
      f.table = std::string(NameOf(k));
      size_t q = p + 1;
      if (t[q].IsOp(".") && IsNameToken(t[q + 1])) {  // schema.table
        f.table = std::string(NameOf(t[q + 1]));
        q += 2;
      }
      if (t[q].Is("as")) ++q;
      if (IsNameToken(t[q])) {
        f.alias = std::string(NameOf(t[q]));
        ++q;
      }
      s.from.push_back(std::move(f));
      p = q - 1;
      expectTable = false;
    }
  }
  for (; t[p].Kind != tkEnd; ++p) {
    if (t[p].IsOp("(")) ++depth;
    else if (t[p].IsOp(")")) --depth;
    else if (depth == 0 && (t[p].Is("group") || t[p].Is("having") || t[p].Is("union") ||
                            t[p].Is("intersect") || t[p].Is("except") || t[p].Is("window")))
      s.single = false;
  }
  if (s.from.size() != 1) s.single = false;
  return s;
}

bool TableColumnType(sqlite3* db, const std::string& table, std::string_view column, SqlType& type) {
  const char* decl = nullptr;
  const char* coll = nullptr;
  int notNull = 0, pk = 0, autoinc = 0;
  std::string col(column);
  if (sqlite3_table_column_metadata(db, nullptr, table.c_str(), col.c_str(), &decl, &coll, &notNull,
                                    &pk, &autoinc) != SQLITE_OK)
    return false;
  type = MapDeclaredType(decl ? decl : "");
  type.nullable = !notNull && !(pk && decl && sqlite3_stricmp(decl, "integer") == 0);
  return true;
}

// The object a CREATE statement makes, and whether it may exist already
// (IF NOT EXISTS); empty for other statements.
// The table, view or index a CREATE or DROP statement of the main schema
// names, and what the statement does to it; empty for other statements.
std::string SchemaObjectOf(const std::string& sql, SchemaChange& change) {
  change = scNone;
  TLexResult lex = LexSql(sql);
  if (!lex.Ok) return {};
  const auto& t = lex.Tokens;
  size_t p = 0;
  bool create = t[p].Is("create");
  if (!create && !t[p].Is("drop")) return {};
  ++p;
  if (t[p].Is("temp") || t[p].Is("temporary")) return {};
  while (t[p].Is("unique") || t[p].Is("virtual")) ++p;
  if (!t[p].Is("table") && !t[p].Is("view") && !t[p].Is("index")) return {};
  ++p;
  change = create ? scCreate : scDrop;
  if (create && t[p].Is("if") && t[p + 1].Is("not") && t[p + 2].Is("exists")) {
    change = scCreateIfNotExists;
    p += 3;
  } else if (!create && t[p].Is("if") && t[p + 1].Is("exists")) {
    p += 2;
  }
  auto name = [&](const TToken& k) { return k.Kind == tkQuotedName ? k.Value : std::string(k.Text); };
  if (t[p].Kind != tkWord && t[p].Kind != tkQuotedName) {
    change = scNone;
    return {};
  }
  std::string n = name(t[p]);
  if (t[p + 1].IsOp(".") && (t[p + 2].Kind == tkWord || t[p + 2].Kind == tkQuotedName)) {
    if (!SameName(n, "main")) {
      change = scNone;
      return {};
    }
    n = name(t[p + 2]);
  }
  return n;
}

}  // namespace

PreparedStatement::PreparedStatement(sqlite3* db, std::string_view text, ServerVariables& variables) {
  TDialectHooks hooks;
  hooks.IsVariable = [&variables](std::string_view name) { return variables.Exists(name); };
  hooks.IsStringName = [&variables](std::string_view qualifier, std::string_view name) {
    if (!qualifier.empty()) return false;
    ServerVariable* v = variables.Find(name);
    return v && (v->type.code == stVarchar || v->type.code == stFixchar || v->type.code == stLongVarchar);
  };
  TDialectResult r = ParseStatement(text, hooks);
  if (!r.Ok) ThrowDialect(r.Error);
  if (r.Statement.TailOffset < text.size() && !Blank(text.substr(r.Statement.TailOffset)))
    throw ServerError(errSyntax, text.substr(r.Statement.TailOffset, 40));
  TDialectStatement& p = r.Statement;
  text_ = p.Text;
  hostVars_ = std::move(p.HostVars);
  switch (p.Kind) {
    case dsSql: {
      const std::string& v = p.Verb;
      if (v == "BEGIN" || v == "COMMIT" || v == "ROLLBACK" || v == "END") kind_ = skConnection;
      break;
    }
    case dsCreateVariable:
      kind_ = skCreateVariable;
      command_.name = p.CreateVariable.Name;
      command_.declaredType = p.CreateVariable.TypeText;
      return;
    case dsSetVariable:
      kind_ = skSetVariable;
      command_.name = p.SetVariable.Name;
      command_.append = p.SetVariable.Append;
      command_.value = p.SetVariable.Append ? std::move(p.SetVariable.Appended) : std::move(p.SetVariable.Value);
      return;
    case dsDropVariable:
      kind_ = skDropVariable;
      command_.name = p.DropVariable.Name;
      return;
    case dsWaitfor:
      kind_ = skWaitfor;
      command_.millis = p.Waitfor.Until ? -1 : p.Waitfor.Millis;
      return;
    case dsCall:
      kind_ = skProcedure;
      procedure_.command = pcCall;
      procedure_.call = std::move(p.Call);
      return;
    case dsCreateProcedure:
      kind_ = skProcedure;
      procedure_.command = pcCreate;
      procedure_.definition = std::move(p.Procedure);
      return;
    case dsDropProcedure:
      kind_ = skProcedure;
      procedure_.command = pcDrop;
      procedure_.drop = std::move(p.DropProcedure);
      return;
    default:
      kind_ = skConnection;
      return;
  }
  if (kind_ != skSql) return;
  sql_ = std::move(p.Sql);
  const std::string& sql = sql_.Sql;
  int rc = sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                              &exec_, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  if (!exec_) throw ServerError(errSyntax, text.substr(0, 40));
  if (p.Verb == "CREATE" || p.Verb == "DROP") schemaObject_ = SchemaObjectOf(sql, schemaChange_);
  Describe(db, p.Verb, variables);
}

PreparedStatement::~PreparedStatement() {
  for (sqlite3_stmt* st : spares_) sqlite3_finalize(st);
  sqlite3_finalize(exec_);
}

sqlite3_stmt* PreparedStatement::TakeSpare(SpareKind kind) const {
  sqlite3_stmt* st = spares_[kind];
  spares_[kind] = nullptr;
  return st;
}

void PreparedStatement::KeepSpare(SpareKind kind, sqlite3_stmt* st) const {
  if (!st) return;
  if (spares_[kind]) {
    sqlite3_finalize(st);
    return;
  }
  sqlite3_reset(st);
  sqlite3_clear_bindings(st);
  spares_[kind] = st;
}

void PreparedStatement::Describe(sqlite3* db, const std::string& verb, ServerVariables& variables) {
  int n = sqlite3_column_count(exec_);
  if (n == 0) return;
  TLexResult lex = LexSql(sql_.Sql);
  SelectShape shape;
  if (lex.Ok) shape = ReadShape(lex.Tokens);

  ColumnTypeLookup lookup = [&](std::string_view qualifier, std::string_view name, SqlType& type) {
    for (const auto& f : shape.from) {
      if (!qualifier.empty() && !SameName(qualifier, f.alias) && !SameName(qualifier, f.table)) continue;
      if (TableColumnType(db, f.table, name, type)) return true;
    }
    return false;
  };
  // A selected variable has the type it was created with.
  ParameterTypeLookup parameters = [&](long number, SqlType& type) {
    if (number < 1 || static_cast<size_t>(number) > sql_.Slots.size()) return false;
    const TParamSlot& slot = sql_.Slots[static_cast<size_t>(number - 1)];
    if (slot.Kind != slVariable) return false;
    const ServerVariable* var = variables.Find(slot.Variable);
    if (!var) return false;
    type = var->type;
    return true;
  };
  bool itemsAlign = shape.select && !shape.star && shape.items.size() == static_cast<size_t>(n);

  columns_.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    ColumnInfo& c = columns_[static_cast<size_t>(i)];
    const char* name = sqlite3_column_name(exec_, i);
    c.name = name ? name : "";
    const char* table = sqlite3_column_table_name(exec_, i);
    const char* origin = sqlite3_column_origin_name(exec_, i);
    if (table && origin) {
      c.originTable = table;
      c.originColumn = origin;
    }
    const char* decl = sqlite3_column_decltype(exec_, i);
    if (decl) {
      c.type = MapDeclaredType(decl);
      SqlType t;
      if (!c.originTable.empty() && TableColumnType(db, c.originTable, c.originColumn, t))
        c.type.nullable = t.nullable;
    } else if (itemsAlign) {
      auto [b, e] = shape.items[static_cast<size_t>(i)];
      c.type = ExpressionType(lex.Tokens, b, e, lookup, parameters);
    } else {
      c.type.code = stVarchar;
      c.type.length = kExpressionTextLength;
    }
  }

  if (shape.select && shape.single && verb == "SELECT") {
    table_ = shape.from[0].table;
    // The hidden last column identifies the row a positioned change or a
    // refetch of the current row works on. Last, so that ORDER BY 1 still
    // means the first column the statement names.
    const TToken& from = lex.Tokens[shape.listEnd];
    size_t at = static_cast<size_t>(from.Pos.Offset) - from.Gap.size();
    cursorSql_ = sql_.Sql.substr(0, at) + ", rowid AS vdb_rowid_" + sql_.Sql.substr(at);
    sqlite3_stmt* probe = nullptr;
    if (sqlite3_prepare_v2(db, cursorSql_.c_str(), -1, &probe, nullptr) == SQLITE_OK && probe &&
        sqlite3_column_count(probe) == n + 1)
      updatable_ = true;
    sqlite3_finalize(probe);
    if (!updatable_) cursorSql_.clear();
  }
}

void PreparedStatement::Bind(sqlite3_stmt* st, const HostInput* input, ServerVariables& variables,
                             std::vector<OwnedValue>* copies, std::vector<SqlValue>* bound) const {
  const auto& slots = sql_.Slots;
  if (!hostVars_.empty() && (!input || input->Count() < hostVars_.size()))
    throw ServerError(errNotEnoughValues);
  if (copies) {
    copies->clear();
    copies->reserve(slots.size());  // bound views point into it
  }
  if (bound) bound->clear();
  for (size_t i = 0; i < slots.size(); ++i) {
    const TParamSlot& slot = slots[i];
    SqlValue v;
    if (slot.Kind == slHost)
      v = input->Value(static_cast<size_t>(slot.Host));
    else
      v = variables.Get(slot.Variable).value.View();
    if (copies) {
      copies->emplace_back(v);
      v = copies->back().View();
    }
    BindValue(st, static_cast<int>(i + 1), v);
    if (bound) bound->push_back(v);
  }
}

void PreparedStatement::SetCallee(std::shared_ptr<const TProcDefinition> callee) {
  procedure_.definition = std::move(callee);
  const TProcDefinition& def = *procedure_.definition;
  const TCallStmt& call = procedure_.call;
  columns_.clear();
  outputs_.clear();
  hostOutputOnly_.assign(hostVars_.size(), 0);
  hostTypes_.assign(hostVars_.size(), SqlType{});
  hostTyped_.assign(hostVars_.size(), 0);
  if (call.ResultHost >= 0) {
    ColumnInfo c;
    c.name = def.Name;
    c.type = MapDeclaredType(def.IsFunction ? def.ReturnType : "integer");
    columns_.push_back(std::move(c));
    outputs_.push_back({-1});
    size_t h = static_cast<size_t>(call.ResultHost);
    if (h < hostOutputOnly_.size()) {
      hostOutputOnly_[h] = 1;
      hostTypes_[h] = columns_.back().type;
      hostTyped_[h] = 1;
    }
  }
  for (size_t i = 0; i < def.Params.size(); ++i) {
    const TProcParam& p = def.Params[i];
    if (p.Mode == pmIn) continue;
    ColumnInfo c;
    c.name = p.Name;
    c.type = MapDeclaredType(p.TypeText);
    columns_.push_back(std::move(c));
    outputs_.push_back({static_cast<int>(i)});
  }
  // Arguments that are a bare host marker take their parameter's type; an OUT
  // parameter's marker is written only.
  size_t position = 0;
  for (const TCallArg& a : call.Args) {
    size_t at = def.Params.size();
    if (a.Name.empty()) {
      at = position++;
    } else {
      for (size_t i = 0; i < def.Params.size(); ++i)
        if (SameName(def.Params[i].Name, a.Name)) at = i;
    }
    if (at >= def.Params.size() || !a.Value.IsHostMarker()) continue;
    size_t h = static_cast<size_t>(a.Value.Host);
    if (h >= hostVars_.size()) continue;
    const TProcParam& p = def.Params[at];
    hostTypes_[h] = MapDeclaredType(p.TypeText);
    hostTyped_[h] = 1;
    if (p.Mode == pmOut) hostOutputOnly_[h] = 1;
  }
}

bool PreparedStatement::HostType(size_t host, SqlType& type) const {
  if (host >= hostTyped_.size() || !hostTyped_[host]) return false;
  type = hostTypes_[host];
  return true;
}

std::vector<std::pair<size_t, size_t>> SplitScript(std::string_view text) { return SplitStatements(text); }

}  // namespace vdbsrv
