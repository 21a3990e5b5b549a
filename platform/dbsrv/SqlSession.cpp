#include "dbsrv/SqlSession.h"

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

}  // namespace

int16_t SqlSession::Prepare(int16_t number, std::string_view text) {
  if (number < 0) throw ServerError(errInvalidStatement, std::to_string(number));
  auto statement = std::make_shared<PreparedStatement>(conn_.Handle(), text, variables_);
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
  scratch = std::make_unique<PreparedStatement>(conn_.Handle(), "SELECT " + expr.Text, variables_);
  // The scratch statement numbers its own markers from 0 in the same order.
  sqlite3_stmt* st = scratch->Exec();
  scratch->Bind(st, input, variables_, nullptr);
  if (conn_.Step(st) != SQLITE_ROW) return {};
  return ColumnValue(st, 0);  // valid until scratch is reset or freed
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
  interp.Step = [this](sqlite3_stmt* st) { return conn_.Step(st); };
  interp.OnMessage = [this](MessageType type, std::string_view text) { conn_.Message(type, text); };
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
  statement.Bind(st, input, variables_, nullptr);
  int rc = conn_.Step(st);
  if (!statement.HasResultSet()) {
    while (rc == SQLITE_ROW) rc = conn_.Step(st);
    return sqlite3_changes64(conn_.Handle());
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
    PreparedStatement statement(conn_.Handle(), text.substr(b, e - b), variables_);
    if (statement.HasResultSet()) {
      sqlite3_stmt* st = statement.Exec();
      Resetter reset{st};
      statement.Bind(st, nullptr, variables_, nullptr);
      while (conn_.Step(st) == SQLITE_ROW) {
      }
      rows = 0;
      continue;
    }
    rows = Execute(statement, nullptr, nullptr);
  }
  return rows;
}

}  // namespace vdbsrv
