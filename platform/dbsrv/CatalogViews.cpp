#include "dbsrv/CatalogViews.h"

#include "dbsrv/Errors.h"
#include "dbsrv/ProcCatalog.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace vdbsrv {

namespace {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

std::string Lower(std::string_view s) {
  std::string r(s);
  std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return std::tolower(c); });
  return r;
}

// Words of the type without its parenthesised part, single-blank separated,
// and the numbers inside the parentheses.
void SplitType(std::string_view text, std::string& words, std::vector<int32_t>& args) {
  std::string t = Lower(text);
  size_t open = t.find('(');
  std::string head = t.substr(0, open);
  if (open != std::string::npos) {
    size_t close = t.find(')', open);
    std::string inner = t.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
    int64_t value = -1;
    for (char c : inner + ",") {
      if (std::isdigit(static_cast<unsigned char>(c))) {
        value = (value < 0 ? 0 : value) * 10 + (c - '0');
        if (value > 1000000000) value = 1000000000;
      } else if (c == ',') {
        args.push_back(value < 0 ? 0 : static_cast<int32_t>(value));
        value = -1;
      }
    }
  }
  std::string cur;
  for (char c : head + " ") {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!cur.empty()) words += (words.empty() ? "" : " ") + cur;
      cur.clear();
    } else {
      cur += c;
    }
  }
}

struct TDomainRule {
  const char* Words;
  int32_t DomainId;
  int32_t DefaultWidth;
};

// Exact declared types; everything else falls back on SQLite's affinity.
constexpr TDomainRule kRules[] = {
    {"smallint", 1, 2},          {"integer", 2, 4},          {"int", 2, 4},
    {"numeric", 3, 30},          {"float", 4, 4},            {"real", 4, 4},
    {"double", 5, 8},            {"double precision", 5, 8}, {"date", 6, 4},
    {"char", 7, 1},              {"character", 7, 1},        {"varchar", 9, 1},
    {"character varying", 9, 1}, {"char varying", 9, 1},     {"long varchar", 10, 32767},
    {"text", 10, 32767},         {"clob", 10, 32767},        {"binary", 11, 1},
    {"long binary", 12, 32767},  {"blob", 12, 32767},        {"image", 12, 32767},
    {"timestamp", 13, 8},        {"datetime", 13, 8},        {"time", 14, 8},
    {"tinyint", 19, 1},          {"bigint", 20, 8},          {"unsigned int", 21, 4},
    {"unsigned integer", 21, 4}, {"unsigned smallint", 22, 2}, {"unsigned bigint", 23, 8},
    {"bit", 24, 1},              {"decimal", 27, 30},        {"varbinary", 28, 1},
};

// The rows of sysdomain; numbers left out are reserved.
constexpr const char* kDomainRows =
    "(1,'smallint'),(2,'integer'),(3,'numeric'),(4,'float'),(5,'double'),(6,'date'),(7,'char'),"
    "(8,'char varying'),(9,'varchar'),(10,'long varchar'),(11,'binary'),(12,'long binary'),"
    "(13,'timestamp'),(14,'time'),(19,'tinyint'),(20,'bigint'),(21,'unsigned int'),"
    "(22,'unsigned smallint'),(23,'unsigned bigint'),(24,'bit'),(27,'decimal'),(28,'varbinary')";

void DomainFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const unsigned char* text = sqlite3_value_text(argv[0]);
  std::string_view type = text ? reinterpret_cast<const char*>(text) : "";
  TDomainInfo d = DomainOf(type);
  auto which = reinterpret_cast<intptr_t>(sqlite3_user_data(ctx));
  sqlite3_result_int(ctx, which == 0 ? d.DomainId : which == 1 ? d.Width : d.Scale);
}

void Exec(sqlite3* db, const char* sql) {
  int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
}

bool TableExists(sqlite3* db, const char* name) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT 1 FROM main.sqlite_schema WHERE type='table' AND name=?", -1, &raw,
                              nullptr);
  StmtPtr st(raw);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  sqlite3_bind_text(raw, 1, name, -1, SQLITE_STATIC);
  rc = sqlite3_step(raw);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(db, rc);
  return rc == SQLITE_ROW;
}

// The views over pragma functions end in LIMIT -1 so that SQLite never
// flattens them into a bigger join: flattened, an ORDER BY over a join of
// several of them answered no rows at all. The views are stored in the file
// (CREATE VIEW goes to main) or made per handle (TEMP inserted); systable
// leaves them out either way, so both answer the same rows.
constexpr const char* kViews = R"(
CREATE VIEW sys_sysuserperms AS
  SELECT user_id, user_name FROM main.vdbsys_user;
CREATE VIEW sys_sysdomain AS
  SELECT column1 AS domain_id, column2 AS domain_name FROM (VALUES %DOMAINS%);
CREATE VIEW sys_systable AS
  SELECT s.rowid AS table_id, s.name AS table_name,
         CASE s.type WHEN 'view' THEN 'VIEW' ELSE 'BASE' END AS table_type,
         CASE WHEN s.name LIKE 'vdbsys\_%' ESCAPE '\' THEN 0 ELSE coalesce(o.creator, 1) END AS creator
    FROM main.sqlite_schema s LEFT JOIN main.vdbsys_object o ON o.name = s.name
   WHERE s.type IN ('table', 'view') AND s.name NOT LIKE 'sqlite\_%' ESCAPE '\'
     AND NOT (s.type = 'view' AND s.name IN (%VIEWNAMES%));
CREATE VIEW sys_syscolumn AS
  SELECT t.table_id, c.cid + 1 AS column_id, c.name AS column_name,
         vdb_domain_id(c.type) AS domain_id, vdb_domain_width(c.type) AS width,
         vdb_domain_scale(c.type) AS scale,
         CASE WHEN c."notnull" OR c.pk > 0 THEN 'N' ELSE 'Y' END AS nulls,
         CASE WHEN c.pk > 0 THEN 'Y' ELSE 'N' END AS pkey,
         c.dflt_value AS "default"
    FROM sys_systable t, pragma_table_info(t.table_name, 'main') c LIMIT -1;
CREATE VIEW sys_sysindex AS
  SELECT t.table_id, s.rowid AS index_id, il.name AS index_name,
         CASE WHEN il.origin = 'u' THEN 'U' WHEN il."unique" THEN 'Y' ELSE 'N' END AS "unique",
         coalesce(o.creator, t.creator) AS creator
    FROM sys_systable t, pragma_index_list(t.table_name, 'main') il
         JOIN main.sqlite_schema s ON s.type = 'index' AND s.name = il.name
         LEFT JOIN main.vdbsys_object o ON o.name = il.name
   WHERE t.table_type = 'BASE' AND il.origin <> 'pk' LIMIT -1;
CREATE VIEW sys_sysixcol AS
  SELECT i.table_id, i.index_id, x.cid + 1 AS column_id, x.seqno AS sequence,
         CASE WHEN x."desc" THEN 'D' ELSE 'A' END AS "order"
    FROM sys_sysindex i, pragma_index_xinfo(i.index_name, 'main') x
   WHERE x."key" = 1 AND x.cid >= 0 LIMIT -1;
CREATE VIEW sys_sysprocedure AS
  SELECT proc_id, proc_name, creator, proc_defn FROM main.vdbsys_procedure;
CREATE VIEW sys_sysprocparm AS
  SELECT proc_id, parm_id, parm_name, parm_type, parm_mode_in, parm_mode_out, domain_id, width, scale,
         "default"
    FROM main.vdbsys_procparm;
)";

constexpr const char* kViewNames[] = {"sys_sysuserperms", "sys_sysdomain",    "sys_systable",
                                     "sys_syscolumn",    "sys_sysindex",     "sys_sysixcol",
                                     "sys_sysprocedure", "sys_sysprocparm"};
constexpr int kViewCount = sizeof kViewNames / sizeof kViewNames[0];

std::string ViewNameList() {
  std::string list;
  for (const char* name : kViewNames) list += std::string(list.empty() ? "" : ", ") + "'" + name + "'";
  return list;
}

// The views as stored in the file.
const std::string& StoredViewsSql() {
  static const std::string sql = [] {
    std::string s = kViews;
    s.replace(s.find("%DOMAINS%"), 9, kDomainRows);
    s.replace(s.find("%VIEWNAMES%"), 11, ViewNameList());
    return s;
  }();
  return sql;
}

// The same views in the handle's TEMP schema, which SQLite searches before main.
const std::string& TempViewsSql() {
  static const std::string sql = [] {
    std::string s = StoredViewsSql();
    for (size_t at = s.find("CREATE VIEW "); at != std::string::npos; at = s.find("CREATE VIEW ", at))
      s.replace(at, 12, "CREATE TEMP VIEW ");
    return s;
  }();
  return sql;
}

// Identifies the definitions this build stores; a file holding other ones
// (made by an older build) gets them replaced when the database starts.
const std::string& ViewsVersion() {
  static const std::string version = [] {
    uint64_t h = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : StoredViewsSql()) h = (h ^ c) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return std::string(text);
  }();
  return version;
}

constexpr const char* kViewsVersionKey = "catalog_views";

// True when the file holds every catalog view in this build's definitions.
bool StoredViewsCurrent(sqlite3* db) {
  const std::string sql = "SELECT (SELECT value FROM main.vdbsys_info WHERE name = '" + std::string(kViewsVersionKey) +
                          "') = ?1 AND (SELECT count(*) FROM main.sqlite_schema WHERE type = 'view' AND name IN (" +
                          ViewNameList() + ")) = " + std::to_string(kViewCount);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    return false;
  }
  StmtPtr st(raw);
  sqlite3_bind_text(raw, 1, ViewsVersion().c_str(), -1, SQLITE_STATIC);
  return sqlite3_step(raw) == SQLITE_ROW && sqlite3_column_int(raw, 0) == 1;
}

bool RegisterDomainFunctions(sqlite3* db) {
  static const char* kNames[] = {"vdb_domain_id", "vdb_domain_width", "vdb_domain_scale"};
  for (intptr_t i = 0; i < 3; ++i)
    if (sqlite3_create_function_v2(db, kNames[i], 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                   reinterpret_cast<void*>(i), DomainFunction, nullptr, nullptr,
                                   nullptr) != SQLITE_OK)
      return false;
  return true;
}

}  // namespace

TDomainInfo DomainOf(std::string_view TypeText) {
  std::string words;
  std::vector<int32_t> args;
  SplitType(TypeText, words, args);
  TDomainInfo d;
  const TDomainRule* rule = nullptr;
  for (const TDomainRule& r : kRules)
    if (words == r.Words) rule = &r;
  if (rule) {
    d.DomainId = rule->DomainId;
    d.Width = rule->DefaultWidth;
  } else if (words.find("int") != std::string::npos) {
    d = {2, 4, 0};
  } else if (words.find("char") != std::string::npos) {
    d = {9, 1, 0};
  } else if (words.find("clob") != std::string::npos || words.find("text") != std::string::npos) {
    d = {10, 32767, 0};
  } else if (words.empty() || words.find("blob") != std::string::npos) {
    d = {12, 32767, 0};
  } else if (words.find("real") != std::string::npos || words.find("floa") != std::string::npos ||
             words.find("doub") != std::string::npos) {
    d = {5, 8, 0};
  } else {
    d = {3, 30, 6};
  }
  bool sized = d.DomainId == 7 || d.DomainId == 9 || d.DomainId == 11 || d.DomainId == 28 ||
               d.DomainId == 3 || d.DomainId == 27;
  if (sized && !args.empty()) d.Width = args[0];
  if (d.DomainId == 3 || d.DomainId == 27) d.Scale = args.size() > 1 ? args[1] : args.empty() ? 6 : 0;
  return d;
}

void EnsureCatalogTables(sqlite3* Db) {
  if (!TableExists(Db, "vdbsys_info") || TableExists(Db, "vdbsys_procparm")) return;
  Exec(Db, "SAVEPOINT vdbsys_catalog");
  try {
    Exec(Db,
         "CREATE TABLE IF NOT EXISTS vdbsys_object(name TEXT PRIMARY KEY COLLATE NOCASE, creator INTEGER NOT NULL);"
         "CREATE TABLE IF NOT EXISTS vdbsys_procedure(proc_id INTEGER PRIMARY KEY,"
         " proc_name TEXT NOT NULL COLLATE NOCASE, creator INTEGER NOT NULL, proc_defn TEXT,"
         " UNIQUE(creator, proc_name));"
         "CREATE TABLE IF NOT EXISTS vdbsys_procparm(proc_id INTEGER NOT NULL, parm_id INTEGER NOT NULL,"
         " parm_name TEXT NOT NULL, parm_type INTEGER NOT NULL, parm_mode_in TEXT NOT NULL,"
         " parm_mode_out TEXT NOT NULL, domain_id INTEGER NOT NULL, width INTEGER NOT NULL,"
         " scale INTEGER NOT NULL, \"default\" TEXT, PRIMARY KEY(proc_id, parm_id));");
    InstallBuiltinProcedures(Db);
    Exec(Db, "RELEASE vdbsys_catalog");
  } catch (...) {
    sqlite3_exec(Db, "ROLLBACK TO vdbsys_catalog; RELEASE vdbsys_catalog", nullptr, nullptr, nullptr);
    throw;
  }
}

bool StoreCatalogViews(sqlite3* Db) {
  if (StoredViewsCurrent(Db)) return true;
  std::string sql = "SAVEPOINT vdbsys_stored_views;";
  for (const char* name : kViewNames) sql += std::string("DROP VIEW IF EXISTS main.") + name + ";";
  sql += StoredViewsSql();
  sql += "INSERT OR REPLACE INTO main.vdbsys_info(name, value) VALUES('" + std::string(kViewsVersionKey) + "', '" +
         ViewsVersion() + "');RELEASE vdbsys_stored_views;";
  if (sqlite3_exec(Db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  sqlite3_exec(Db, "ROLLBACK TO vdbsys_stored_views; RELEASE vdbsys_stored_views", nullptr, nullptr, nullptr);
  return false;
}

bool InstallCatalogViews(sqlite3* Db) {
  if (!RegisterDomainFunctions(Db)) return false;
  if (StoredViewsCurrent(Db)) return true;
  if (sqlite3_exec(Db, ("SAVEPOINT vdbsys_views;" + TempViewsSql() + "RELEASE vdbsys_views;").c_str(), nullptr,
                   nullptr, nullptr) == SQLITE_OK)
    return true;
  sqlite3_exec(Db, "ROLLBACK TO vdbsys_views; RELEASE vdbsys_views", nullptr, nullptr, nullptr);
  return false;
}

void RecordCreator(sqlite3* Db, std::string_view Name, int32_t UserId) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(Db, "INSERT OR REPLACE INTO main.vdbsys_object(name, creator) VALUES(?, ?)", -1,
                              &raw, nullptr);
  StmtPtr st(raw);
  if (rc != SQLITE_OK) ThrowSqlite(Db, rc);
  sqlite3_bind_text(raw, 1, Name.data(), static_cast<int>(Name.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int(raw, 2, UserId);
  rc = sqlite3_step(raw);
  if (rc != SQLITE_DONE) ThrowSqlite(Db, rc);
}

}  // namespace vdbsrv
