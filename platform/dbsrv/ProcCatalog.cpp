#include "dbsrv/ProcCatalog.h"

#include "dbsrv/CatalogViews.h"
#include "dbsrv/DialectStatement.h"
#include "dbsrv/Errors.h"

#include <sqlite3.h>

#include <strings.h>

namespace vdbsrv {

namespace {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

StmtPtr Prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  StmtPtr st(raw);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  return st;
}

void BindText(sqlite3_stmt* st, int i, std::string_view v) {
  sqlite3_bind_text(st, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
}

// Steps through the caller's step function, or directly.
int StepWith(sqlite3* db, sqlite3_stmt* st, const TStepFn& step) {
  if (step) return step(st);
  int rc = sqlite3_step(st);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(db, rc);
  return rc;
}

void Run(sqlite3* db, const char* sql, const TStepFn& step) {
  StmtPtr st = Prepare(db, sql);
  StepWith(db, st.get(), step);
}

// The user id of a user name, -1 when there is none.
int32_t UserId(sqlite3* db, std::string_view name, const TStepFn& step) {
  StmtPtr st = Prepare(db, "SELECT user_id FROM main.vdbsys_user WHERE user_name=?");
  BindText(st.get(), 1, name);
  if (StepWith(db, st.get(), step) == SQLITE_ROW) return sqlite3_column_int(st.get(), 0);
  return -1;
}

bool Lookup(sqlite3* db, int32_t creator, std::string_view name, TStoredProcedure& found, const TStepFn& step) {
  StmtPtr st = Prepare(db,
                       "SELECT p.proc_id, p.creator, u.user_name, p.proc_name, p.proc_defn"
                       " FROM main.vdbsys_procedure p JOIN main.vdbsys_user u ON u.user_id=p.creator"
                       " WHERE p.creator=? AND p.proc_name=?");
  sqlite3_bind_int(st.get(), 1, creator);
  BindText(st.get(), 2, name);
  if (StepWith(db, st.get(), step) != SQLITE_ROW) return false;
  auto text = [&](int i) {
    const unsigned char* t = sqlite3_column_text(st.get(), i);
    return std::string(t ? reinterpret_cast<const char*>(t) : "");
  };
  found.ProcId = sqlite3_column_int64(st.get(), 0);
  found.Creator = sqlite3_column_int(st.get(), 1);
  found.OwnerName = text(2);
  found.Name = text(3);
  found.Definition = text(4);
  return true;
}

void InsertParm(sqlite3* db, sqlite3_stmt* st, const TStepFn& step, int64_t procId, int parmId,
                std::string_view name, int type, bool in, bool out, std::string_view typeText,
                const std::string* dflt) {
  TDomainInfo d = DomainOf(typeText);
  sqlite3_reset(st);
  sqlite3_bind_int64(st, 1, procId);
  sqlite3_bind_int(st, 2, parmId);
  BindText(st, 3, name);
  sqlite3_bind_int(st, 4, type);
  sqlite3_bind_text(st, 5, in ? "Y" : "N", 1, SQLITE_STATIC);
  sqlite3_bind_text(st, 6, out ? "Y" : "N", 1, SQLITE_STATIC);
  sqlite3_bind_int(st, 7, d.DomainId);
  sqlite3_bind_int(st, 8, d.Width);
  sqlite3_bind_int(st, 9, d.Scale);
  if (dflt)
    BindText(st, 10, *dflt);
  else
    sqlite3_bind_null(st, 10);
  StepWith(db, st, step);
}

// The alert procedures; their bodies are the server's own code.
constexpr const char* kBuiltins[] = {
    "create procedure vp_alert_subscribe(in subscription long varchar) begin return 0 end",
    "create procedure vp_alert_receive(in handle integer, in timeout integer, out msg_name long varchar,"
    " out msg long varchar, out msg_param integer) begin return 0 end",
    "create procedure vp_alert_unsubscribe(in handle integer) begin return 0 end",
    "create procedure vp_alert_send(in msg_name long varchar, in msg long varchar, in msg_param integer)"
    " begin return 0 end",
    "create procedure vp_alert_clear(in msg_name long varchar) begin return 0 end",
    "create procedure vp_alert_stop(in handle integer) begin return 0 end",
};

}  // namespace

int64_t StoreProcedure(sqlite3* Db, const TProcDefinition& Def, int32_t Creator, const TStepFn& Step) {
  int32_t owner = Creator;
  if (!Def.Owner.empty()) {
    owner = UserId(Db, Def.Owner, Step);
    if (owner < 0) throw ServerError(errPermissionDenied, Def.Owner);
  }
  TStoredProcedure existing;
  bool exists = Lookup(Db, owner, Def.Name, existing, Step);
  if (exists && !Def.OrReplace) throw ServerError(errItemExists, Def.Name);
  Run(Db, "SAVEPOINT vdbsys_proc", Step);
  try {
    int64_t procId = 0;
    if (exists) {
      procId = existing.ProcId;
      StmtPtr del = Prepare(Db, "DELETE FROM main.vdbsys_procparm WHERE proc_id=?");
      sqlite3_bind_int64(del.get(), 1, procId);
      StepWith(Db, del.get(), Step);
      StmtPtr upd = Prepare(Db, "UPDATE main.vdbsys_procedure SET proc_defn=? WHERE proc_id=?");
      BindText(upd.get(), 1, Def.Text);
      sqlite3_bind_int64(upd.get(), 2, procId);
      StepWith(Db, upd.get(), Step);
    } else {
      StmtPtr ins = Prepare(Db, "INSERT INTO main.vdbsys_procedure(proc_name, creator, proc_defn) VALUES(?,?,?)");
      BindText(ins.get(), 1, Def.Name);
      sqlite3_bind_int(ins.get(), 2, owner);
      BindText(ins.get(), 3, Def.Text);
      StepWith(Db, ins.get(), Step);
      procId = sqlite3_last_insert_rowid(Db);
    }
    StmtPtr parm = Prepare(Db,
                           "INSERT INTO main.vdbsys_procparm(proc_id, parm_id, parm_name, parm_type, parm_mode_in,"
                           " parm_mode_out, domain_id, width, scale, \"default\") VALUES(?,?,?,?,?,?,?,?,?,?)");
    int id = 0;
    for (const TProcParam& p : Def.Params)
      InsertParm(Db, parm.get(), Step, procId, ++id, p.Name, 0, p.Mode != pmOut, p.Mode != pmIn, p.TypeText,
                 p.HasDefault ? &p.Default.Text : nullptr);
    for (const TResultColumn& c : Def.Result)
      InsertParm(Db, parm.get(), Step, procId, ++id, c.Name, 1, false, true, c.TypeText, nullptr);
    if (Def.IsFunction)
      InsertParm(Db, parm.get(), Step, procId, ++id, Def.Name, 4, false, true, Def.ReturnType, nullptr);
    Run(Db, "RELEASE vdbsys_proc", Step);
    return procId;
  } catch (...) {
    // Undo what the savepoint holds without touching the rest of the caller's transaction.
    sqlite3_exec(Db, "ROLLBACK TO vdbsys_proc; RELEASE vdbsys_proc", nullptr, nullptr, nullptr);
    throw;
  }
}

bool FindProcedure(sqlite3* Db, std::string_view Owner, std::string_view Name, int32_t Caller,
                   TStoredProcedure& Found, const TStepFn& Step) {
  if (!Owner.empty()) {
    int32_t owner = UserId(Db, Owner, Step);
    return owner >= 0 && Lookup(Db, owner, Name, Found, Step);
  }
  return Lookup(Db, Caller, Name, Found, Step) || (Caller != 1 && Lookup(Db, 1, Name, Found, Step));
}

bool RemoveProcedure(sqlite3* Db, std::string_view Owner, std::string_view Name, int32_t Creator,
                     const TStepFn& Step) {
  TStoredProcedure found;
  if (!FindProcedure(Db, Owner, Name, Creator, found, Step)) return false;
  StmtPtr parms = Prepare(Db, "DELETE FROM main.vdbsys_procparm WHERE proc_id=?");
  sqlite3_bind_int64(parms.get(), 1, found.ProcId);
  StepWith(Db, parms.get(), Step);
  StmtPtr proc = Prepare(Db, "DELETE FROM main.vdbsys_procedure WHERE proc_id=?");
  sqlite3_bind_int64(proc.get(), 1, found.ProcId);
  StepWith(Db, proc.get(), Step);
  return true;
}

std::vector<std::string> FunctionNames(sqlite3* Db, const TStepFn& Step) {
  StmtPtr st = Prepare(Db,
                       "SELECT DISTINCT p.proc_name FROM main.vdbsys_procedure p JOIN main.vdbsys_procparm r"
                       " ON r.proc_id = p.proc_id AND r.parm_type = 4");
  std::vector<std::string> names;
  while (StepWith(Db, st.get(), Step) == SQLITE_ROW)
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0)));
  return names;
}

bool IsBuiltinProcedure(std::string_view Name) {
  static constexpr std::string_view kNames[] = {"vp_alert_subscribe", "vp_alert_receive", "vp_alert_unsubscribe",
                                                "vp_alert_send",      "vp_alert_clear",   "vp_alert_stop"};
  for (std::string_view n : kNames)
    if (n.size() == Name.size() && strncasecmp(n.data(), Name.data(), n.size()) == 0) return true;
  return false;
}

void InstallBuiltinProcedures(sqlite3* Db) {
  for (const char* text : kBuiltins) {
    TDialectResult r = ParseStatement(text);
    if (!r.Ok || !r.Statement.Procedure) throw ServerError(errRuntime, text);
    StoreProcedure(Db, *r.Statement.Procedure, 1);
  }
}

}  // namespace vdbsrv
