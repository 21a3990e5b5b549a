#include "dbsrv/SqlSession.h"

#include "dbsrv/Alerts.h"
#include "dbsrv/Connection.h"
#include "dbsrv/DialectStatement.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ProcCatalog.h"

#include <sqlite3.h>

namespace vdbsrv {

namespace {

struct Resetter {
  sqlite3_stmt* st;
  ~Resetter() { sqlite3_reset(st); }
};

struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

constexpr std::string_view kMissingFunction = "no such function: ";

// A catalog function as SQLite calls it.
struct FunctionContext {
  Connection* conn;
  std::string name;
};

void ResultValue(sqlite3_context* ctx, const OwnedValue& v) {
  switch (v.kind) {
    case svNull: sqlite3_result_null(ctx); break;
    case svInteger: sqlite3_result_int64(ctx, v.i); break;
    case svDouble: sqlite3_result_double(ctx, v.d); break;
    case svText: sqlite3_result_text64(ctx, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8); break;
    case svBlob: sqlite3_result_blob64(ctx, v.bytes.data(), v.bytes.size(), SQLITE_TRANSIENT); break;
  }
}

void CallFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  auto* f = static_cast<FunctionContext*>(sqlite3_user_data(ctx));
  try {
    std::vector<TProcArg> args;
    for (int i = 0; i < argc; ++i) args.push_back({"", OwnedValue(ValueOf(argv[i]))});
    TProcInterpreter interp = f->conn->Sql().Interpreter();
    TProcCallResult r = interp.Call("", f->name, args);
    ResultValue(ctx, r.ReturnValue);
  } catch (const ServerError& e) {
    f->conn->SetFunctionError(e.Detail());
    sqlite3_result_error(ctx, e.Detail().message.c_str(), -1);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(ctx);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

void FreeFunction(void* p) { delete static_cast<FunctionContext*>(p); }

}  // namespace

int16_t SqlSession::Prepare(int16_t number, std::string_view text) {
  if (number < 0) throw ServerError(errInvalidStatement, std::to_string(number));
  std::shared_ptr<PreparedStatement> statement = MakeStatement(text);
  if (statement->IsCall()) ResolveCallee(*statement);
  if (number == 0) {
    number = 1;
    for (const auto& [n, s] : statements_) {
      if (n != number) break;
      if (number == INT16_MAX) throw ServerError(errNoMemory);
      ++number;
    }
  }
  statements_[number] = std::move(statement);
  return number;
}

void SqlSession::Drop(int16_t number) {
  if (statements_.erase(number) == 0) throw ServerError(errInvalidStatement, std::to_string(number));
}

std::shared_ptr<PreparedStatement> SqlSession::StatementPtr(int16_t number) {
  auto it = statements_.find(number);
  if (it == statements_.end()) throw ServerError(errInvalidStatement, std::to_string(number));
  return it->second;
}

PreparedStatement& SqlSession::Statement(int16_t number) { return *StatementPtr(number); }

void SqlSession::Declare(std::string_view name, int16_t number, uint32_t flags) {
  auto statement = StatementPtr(number);
  cursors_[LowerName(name)] = std::make_unique<Cursor>(std::string(name), std::move(statement), flags);
}

Cursor& SqlSession::DeclaredCursor(std::string_view name) {
  auto it = cursors_.find(LowerName(name));
  if (it == cursors_.end()) throw ServerError(errCursorNotDeclared, name);
  return *it->second;
}

Cursor& SqlSession::OpenCursor(std::string_view name) {
  Cursor& c = DeclaredCursor(name);
  if (!c.IsOpen()) throw ServerError(errCursorNotOpen, name);
  return c;
}

SqlValue SqlSession::Evaluate(const TDialectExpr& expr, const HostInput* input,
                              std::unique_ptr<PreparedStatement>& scratch) {
  if (expr.IsHostMarker()) {
    if (!input || input->Count() <= static_cast<size_t>(expr.Host)) throw ServerError(errNotEnoughValues);
    return input->Value(static_cast<size_t>(expr.Host));
  }
  if (expr.IsVariableRef()) return variables_.Get(expr.Slots[0].Variable).value.View();
  scratch = MakeStatement("SELECT " + expr.Text);
  // The scratch statement numbers its own markers from 0 in the same order.
  sqlite3_stmt* st = scratch->Exec();
  scratch->Bind(st, input, variables_, nullptr);
  if (conn_.Step(st) != SQLITE_ROW) return {};
  return ColumnValue(st, 0);  // valid until scratch is reset or freed
}

std::unique_ptr<PreparedStatement> SqlSession::MakeStatement(std::string_view text) {
  try {
    return std::make_unique<PreparedStatement>(conn_.Handle(), text, variables_);
  } catch (const ServerError&) {
    std::string message = sqlite3_errmsg(conn_.Handle());
    if (message.compare(0, kMissingFunction.size(), kMissingFunction) != 0 ||
        !RegisterFunction(std::string_view(message).substr(kMissingFunction.size())))
      throw;
  }
  return std::make_unique<PreparedStatement>(conn_.Handle(), text, variables_);
}

bool SqlSession::RegisterFunction(std::string_view name) {
  TStoredProcedure stored;
  if (!FindProcedure(conn_.Handle(), "", name, conn_.UserId(), stored, Stepper())) return false;
  TDialectResult parsed = ParseStatement(stored.Definition);
  if (!parsed.Ok || !parsed.Statement.Procedure || !parsed.Statement.Procedure->IsFunction) return false;
  auto* ctx = new FunctionContext{&conn_, stored.Name};
  // SQLite frees the context with the function (also when registering fails).
  return sqlite3_create_function_v2(conn_.Handle(), stored.Name.c_str(), -1, SQLITE_UTF8, ctx, &CallFunction,
                                    nullptr, nullptr, &FreeFunction) == SQLITE_OK;
}

void SqlSession::RecordObject(const PreparedStatement& statement) {
  const std::string& name = statement.SchemaObject();
  const char* sql = nullptr;
  switch (statement.SchemaObjectChange()) {
    case scNone: return;
    case scCreate: sql = "INSERT OR REPLACE INTO main.vdbsys_object(name, creator) VALUES(?1, ?2)"; break;
    // An object that existed already keeps its creator.
    case scCreateIfNotExists: sql = "INSERT OR IGNORE INTO main.vdbsys_object(name, creator) VALUES(?1, ?2)"; break;
    // The indexes of a dropped table go with it.
    case scDrop: sql = "DELETE FROM main.vdbsys_object WHERE name NOT IN (SELECT name FROM main.sqlite_schema)"; break;
  }
  sqlite3_stmt* raw = nullptr;
  int rc = sqlite3_prepare_v2(conn_.Handle(), sql, -1, &raw, nullptr);
  StmtPtr st(raw);
  if (rc != SQLITE_OK) ThrowSqlite(conn_.Handle(), rc);
  if (statement.SchemaObjectChange() != scDrop) {
    sqlite3_bind_text(raw, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int(raw, 2, conn_.UserId());
  }
  conn_.Step(raw);
}

TStepFn SqlSession::Stepper() {
  return [this](sqlite3_stmt* st) { return conn_.Step(st); };
}

void SqlSession::ResolveCallee(PreparedStatement& statement) {
  const TCallStmt& call = statement.Procedure().call;
  TStoredProcedure stored;
  if (!FindProcedure(conn_.Handle(), call.Owner, call.Name, conn_.UserId(), stored, Stepper()))
    throw ServerError(errProcedureNotFound, call.Name);
  TDialectResult parsed = ParseStatement(stored.Definition);
  if (!parsed.Ok || !parsed.Statement.Procedure) throw ServerError(errSyntax, parsed.Error.Message);
  statement.SetCallee(std::move(parsed.Statement.Procedure));
}

TProcInterpreter SqlSession::Interpreter() {
  TProcInterpreter interp(conn_.Handle(), conn_.UserId());
  interp.Step = [this](sqlite3_stmt* st, std::span<const SqlValue> bound) { return conn_.Step(st, bound); };
  interp.OnMessage = [this](MessageType type, std::string_view text) { conn_.Message(type, text); };
  interp.OnBuiltin = [this](const TProcDefinition& def, std::vector<OwnedValue>& args, OwnedValue& ret) {
    RunAlertProcedure(conn_, def.Name, args, ret);
  };
  interp.ResolveFunction = [this](std::string_view name) { return RegisterFunction(name); };
  interp.OnTransaction = [this](bool commit) {
    if (commit)
      conn_.Commit();
    else
      conn_.Rollback();
  };
  interp.SharedDepth = &procDepth_;
  return interp;
}

TProcCallResult SqlSession::Call(PreparedStatement& statement, const HostInput* input) {
  if (!statement.IsCall()) throw ServerError(errInvalidStatement, "not a procedure call");
  const TCallStmt& call = statement.Procedure().call;
  std::vector<TProcArg> args;
  args.reserve(call.Args.size());
  for (const TCallArg& a : call.Args) {
    TProcArg arg;
    arg.Name = a.Name;
    if (a.Value.IsHostMarker() && statement.HostIsOutputOnly(static_cast<size_t>(a.Value.Host))) {
      arg.Value = OwnedValue();  // written only; the client need not send a value
    } else {
      std::unique_ptr<PreparedStatement> scratch;
      arg.Value = OwnedValue(Evaluate(a.Value, input, scratch));
    }
    args.push_back(std::move(arg));
  }
  TProcInterpreter interp = Interpreter();
  TProcCallResult result = interp.Call(call.Owner, call.Name, args);
  // OUT values go back to connection variables named as arguments.
  size_t position = 0;
  for (const TCallArg& a : call.Args) {
    size_t at = result.ParamInfo.size();
    if (a.Name.empty()) {
      at = position++;
    } else {
      for (size_t i = 0; i < result.ParamInfo.size(); ++i)
        if (SameName(result.ParamInfo[i]->Name, a.Name)) at = i;
    }
    if (at >= result.ParamInfo.size() || result.ParamInfo[at]->Mode == pmIn || !a.Value.IsVariableRef()) continue;
    ServerVariables::Assign(variables_.Get(a.Value.Slots[0].Variable), result.Params[at].View());
  }
  // The catalog may have changed since the prepare: describe against the callee that ran.
  if (result.Definition && statement.Procedure().definition &&
      result.Definition->Text != statement.Procedure().definition->Text)
    statement.SetCallee(result.Definition);
  return result;
}

int64_t SqlSession::ExecuteProcedure(PreparedStatement& statement, const HostInput* input, OutputSink* out) {
  const ProcedureFields& proc = statement.Procedure();
  switch (proc.command) {
    case pcCreate:
      // The catalog rows join the connection's transaction, as any change does.
      conn_.BeginWrite();
      StoreProcedure(conn_.Handle(), *proc.definition, conn_.UserId(), Stepper());
      return 0;
    case pcDrop:
      conn_.BeginWrite();
      if (!RemoveProcedure(conn_.Handle(), proc.drop.Owner, proc.drop.Name, conn_.UserId(), Stepper()) &&
          !proc.drop.IfExists)
        throw ServerError(errProcedureNotFound, proc.drop.Name);
      return 0;
    case pcCall: {
      TProcCallResult result = Call(statement, input);
      if (out) {
        const auto& outputs = statement.Outputs();
        std::vector<SqlValue> values;
        values.reserve(outputs.size());
        for (const CallOutput& o : outputs)
          values.push_back(o.param < 0 ? result.ReturnValue.View()
                                       : result.Params[static_cast<size_t>(o.param)].View());
        out->Row(values.data(), static_cast<int>(values.size()));
      }
      return 0;
    }
  }
  return 0;
}

int64_t SqlSession::ExecuteCommand(PreparedStatement& statement, const HostInput* input, OutputSink* out) {
  const CommandFields& c = statement.Command();
  std::unique_ptr<PreparedStatement> scratch;
  switch (statement.Kind()) {
    case skCreateVariable:
      variables_.Create(c.name, c.declaredType);
      return 0;
    case skDropVariable:
      variables_.Drop(c.name);
      return 0;
    case skSetVariable: {
      ServerVariable& var = variables_.Get(c.name);
      SqlValue v = Evaluate(c.value, input, scratch);
      if (c.append)
        ServerVariables::Append(var, v);
      else
        ServerVariables::Assign(var, v);
      return 0;
    }
    case skWaitfor:
      if (c.millis < 0) throw ServerError(errNotImplemented, "waitfor time");
      conn_.Wait(std::chrono::milliseconds(c.millis));
      return 0;
    case skProcedure:
      return ExecuteProcedure(statement, input, out);
    default:
      return conn_.ExecuteImmediate(statement.Text());
  }
}

int64_t SqlSession::Execute(PreparedStatement& statement, const HostInput* input, OutputSink* out) {
  if (statement.Kind() != skSql) return ExecuteCommand(statement, input, out);
  sqlite3_stmt* st = statement.Exec();
  Resetter reset{st};
  statement.Bind(st, input, variables_, nullptr, &bound_);
  int rc = conn_.Step(st, bound_);
  if (!statement.HasResultSet()) {
    while (rc == SQLITE_ROW) rc = conn_.Step(st, bound_);
    int64_t changes = sqlite3_changes64(conn_.Handle());
    RecordObject(statement);
    return changes;
  }
  if (rc != SQLITE_ROW) return -1;
  if (out) {
    int n = sqlite3_column_count(st);
    SqlValue values[64];
    std::vector<SqlValue> many;
    SqlValue* v = values;
    if (n > 64) {
      many.resize(static_cast<size_t>(n));
      v = many.data();
    }
    for (int c = 0; c < n; ++c) v[c] = ColumnValue(st, c);
    out->Row(v, n);
  }
  if (conn_.Step(st) == SQLITE_ROW) throw ServerError(errSelectManyRows);
  return 1;
}

int64_t SqlSession::ExecuteImmediate(std::string_view text) {
  int64_t rows = 0;
  for (auto [b, e] : SplitScript(text)) {
    std::unique_ptr<PreparedStatement> statement = MakeStatement(text.substr(b, e - b));
    if (statement->IsCall()) ResolveCallee(*statement);
    if (statement->HasResultSet()) {
      sqlite3_stmt* st = statement->Exec();
      Resetter reset{st};
      statement->Bind(st, nullptr, variables_, nullptr);
      while (conn_.Step(st) == SQLITE_ROW) {
      }
      rows = 0;
      continue;
    }
    rows = Execute(*statement, nullptr, nullptr);
  }
  return rows;
}

}  // namespace vdbsrv
