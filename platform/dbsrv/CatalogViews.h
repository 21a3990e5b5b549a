// The system catalog as the server's clients read it. Views derive tables,
// columns and indexes from SQLite's own schema, so they never lag behind it.
// They are stored in the database file when it starts (a connection then only
// reads them with the rest of the schema); a handle on a file that cannot hold
// them, or holds other definitions, makes them in its TEMP schema instead.
// What SQLite does not keep lives in tables of the database file:
//
//   vdbsys_object (name TEXT PRIMARY KEY NOCASE, creator INTEGER)
//       the user who created a table, view or index; absent means DBA.
//   vdbsys_procedure (proc_id INTEGER PRIMARY KEY, proc_name TEXT NOCASE,
//                     creator INTEGER, proc_defn TEXT)
//   vdbsys_procparm (proc_id, parm_id, parm_name, parm_type, parm_mode_in,
//                    parm_mode_out, domain_id, width, scale, "default")
//       parm_type 0 parameter, 1 RESULT column, 4 return value.
//
// The views are sys_systable, sys_syscolumn, sys_sysdomain, sys_sysuserperms,
// sys_sysprocedure, sys_sysprocparm, sys_sysindex and sys_sysixcol, the names
// the dialect layer gives `sys.systable` and its siblings.
#pragma once

#include <cstdint>
#include <string_view>

struct sqlite3;

namespace vdbsrv {

/// A declared type's catalog domain, width and scale.
struct TDomainInfo {
  int32_t DomainId = 0;
  int32_t Width = 0;
  int32_t Scale = 0;
};

/// Maps a declared type as written ("varchar(40)", "numeric(10,2)", "long binary",
/// or an SQLite type) to its domain; unknown types go by SQLite's affinity rules.
TDomainInfo DomainOf(std::string_view TypeText);

/// Creates the catalog tables of a database of this server when they are missing,
/// with the built-in procedures. Does nothing to a file without vdbsys_info.
/// Throws ServerError when they cannot be written.
void EnsureCatalogTables(sqlite3* Db);

/// Stores this build's catalog views in the database file, replacing other
/// definitions (vdbsys_info "catalog_views" names the stored ones). Answers
/// false when the file cannot take them (read-only, locked, not a database of
/// this server); then nothing is changed.
bool StoreCatalogViews(sqlite3* Db);

/// Registers the catalog's SQL functions on this handle and, unless the file
/// holds the current catalog views, creates them in its TEMP schema. Answers
/// false when the handle cannot hold them (then nothing is left half made).
bool InstallCatalogViews(sqlite3* Db);

/// Records who created the table, view or index Name.
void RecordCreator(sqlite3* Db, std::string_view Name, int32_t UserId);

}  // namespace vdbsrv
