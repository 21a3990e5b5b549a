// Keeping stored procedures and functions in the catalog: the definition text
// in vdbsys_procedure, one vdbsys_procparm row per parameter, RESULT column and
// return value (see CatalogViews.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbsrv/ProcAst.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vdbsrv {

/// Steps one statement: answers SQLITE_ROW or SQLITE_DONE, throws ServerError
/// otherwise. A connection passes its own Step, so that catalog changes join
/// its transaction and wait for locks like every other statement; without one
/// the statement is stepped directly.
using TStepFn = std::function<int(sqlite3_stmt*)>;

/// A procedure as the catalog holds it.
struct TStoredProcedure {
  int64_t ProcId = 0;
  int32_t Creator = 0;
  std::string OwnerName;
  std::string Name;
  std::string Definition;  ///< proc_defn
};

/// Stores Def as created by user Creator. An existing procedure of that name and
/// creator is replaced when Def says `or replace`, else ServerError errItemExists.
/// Answers the new proc_id. All rows change or none (a savepoint inside the
/// caller's transaction).
int64_t StoreProcedure(sqlite3* Db, const TProcDefinition& Def, int32_t Creator, const TStepFn& Step = {});

/// Removes the procedure; false when there is none (IfExists callers ignore that).
/// Owner empty: the one of Creator, else the DBA's.
bool RemoveProcedure(sqlite3* Db, std::string_view Owner, std::string_view Name, int32_t Creator,
                     const TStepFn& Step = {});

/// Finds a procedure by [owner.]name the way a call resolves it: the named owner's,
/// or without owner the caller's own, then the DBA's. False when none exists.
bool FindProcedure(sqlite3* Db, std::string_view Owner, std::string_view Name, int32_t Caller,
                   TStoredProcedure& Found, const TStepFn& Step = {});

/// The names of the functions (procedures with a return value) in the catalog.
std::vector<std::string> FunctionNames(sqlite3* Db, const TStepFn& Step = {});

/// Whether Name is one of the procedures the server carries out itself.
bool IsBuiltinProcedure(std::string_view Name);

/// Stores the server's own procedures (the alert procedures), owned by DBA.
void InstallBuiltinProcedures(sqlite3* Db);

}  // namespace vdbsrv
