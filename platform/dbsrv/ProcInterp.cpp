#include "dbsrv/ProcInterp.h"

#include "dbsrv/DialectStatement.h"
#include "dbsrv/Errors.h"
#include "dbsrv/ProcCatalog.h"
#include "dbsrv/ServerVariables.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace vdbsrv {

namespace {

struct StmtFinalizer {
  void operator()(sqlite3_stmt* st) const { sqlite3_finalize(st); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

std::string Key(std::string_view name) {
  std::string k(name);
  std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });
  return k;
}

// The text form of a value, as concatenation sees it.
std::string TextOf(const OwnedValue& v) {
  switch (v.kind) {
    case svInteger: return std::to_string(v.i);
    case svDouble: {
      char buf[64];
      snprintf(buf, sizeof buf, "%.15g", v.d);
      return buf;
    }
    case svText: case svBlob: return v.bytes;
    default: return {};
  }
}

}  // namespace

OwnedValue ConvertToDeclared(const OwnedValue& Value, std::string_view TypeText) {
  if (Value.kind == svNull || TypeText.empty()) return Value;
  ServerVariable holder;
  holder.type = MapDeclaredType(TypeText);
  ServerVariables::Assign(holder, Value.View());
  OwnedValue& v = holder.value;
  // A whole number in a floating or decimal parameter computes as one.
  if (v.kind == svInteger && (holder.type.code == stDouble || holder.type.code == stFloat ||
                              holder.type.code == stDecimal)) {
    v.kind = svDouble;
    v.d = static_cast<double>(v.i);
  }
  return std::move(v);
}

SqlType TypeOfValues(const std::vector<std::vector<OwnedValue>>& Rows, size_t Column) {
  bool ints = false, doubles = false, texts = false, blobs = false, wide = false;
  size_t width = 1;
  for (const auto& row : Rows) {
    if (Column >= row.size()) continue;
    const OwnedValue& v = row[Column];
    switch (v.kind) {
      case svInteger:
        ints = true;
        wide |= v.i < INT32_MIN || v.i > INT32_MAX;
        break;
      case svDouble: doubles = true; break;
      case svText: texts = true; width = std::max(width, v.bytes.size()); break;
      case svBlob: blobs = true; width = std::max(width, v.bytes.size()); break;
      default: break;
    }
  }
  SqlType t;
  if (blobs && !texts && !ints && !doubles) {
    t.code = width > kExpressionTextLength ? stLongBinary : stBinary;
    t.length = width > kExpressionTextLength ? kLongLength : static_cast<uint16_t>(width);
  } else if (texts || blobs) {
    t.code = width > kExpressionTextLength ? stLongVarchar : stVarchar;
    t.length = width > kExpressionTextLength ? kLongLength : static_cast<uint16_t>(width);
  } else if (doubles) {
    t.code = stDouble;
    t.length = 8;
  } else if (ints) {
    t.code = wide ? stBigint : stInt;
    t.length = wide ? 8 : 4;
  } else {
    t.code = stVarchar;  // only NULLs: any type will do
    t.length = 1;
  }
  return t;
}

// The variables of one running call: parameters and locals by lower-case name.
struct TProcInterpreter::TFrame {
  std::map<std::string, OwnedValue> Vars;
  OwnedValue ReturnValue;
  std::vector<TProcResultSet>* ResultSets = nullptr;
  const TProcDefinition* Def = nullptr;
  int Depth = 0;

  OwnedValue& Var(std::string_view name) {
    auto it = Vars.find(Key(name));
    if (it == Vars.end()) throw ServerError(errVariableNotFound, name);
    return it->second;
  }
};

TProcCallResult TProcInterpreter::Call(std::string_view Owner, std::string_view Name,
                                       const std::vector<TProcArg>& Args) {
  return CallAt(Owner, Name, Args, 0);
}

TProcCallResult TProcInterpreter::CallAt(std::string_view Owner, std::string_view Name,
                                         const std::vector<TProcArg>& Args, int Depth) {
  if (Depth >= kMaxDepth || (SharedDepth && *SharedDepth >= kMaxDepth)) throw ServerError(errNestingTooDeep);
  struct TDepthGuard {
    int* D;
    ~TDepthGuard() {
      if (D) --*D;
    }
  } guard{SharedDepth};
  if (SharedDepth) ++*SharedDepth;
  TStoredProcedure stored;
  TStepFn lookupStep;
  if (Step) lookupStep = [this](sqlite3_stmt* st) { return Step(st, {}); };
  if (!FindProcedure(FDb, Owner, Name, FUserId, stored, lookupStep)) throw ServerError(errProcedureNotFound, Name);
  bool builtin = IsBuiltinProcedure(stored.Name);
  if (builtin && !OnBuiltin) throw ServerError(errNotImplemented, stored.Name);
  TDialectResult parsed = ParseStatement(stored.Definition);
  if (!parsed.Ok || !parsed.Statement.Procedure) throw ServerError(errSyntax, parsed.Error.Message);

  TProcCallResult result;
  result.Definition = parsed.Statement.Procedure;
  const TProcDefinition& def = *result.Definition;
  TFrame frame;
  frame.Depth = Depth;
  frame.Def = &def;
  frame.ResultSets = &result.ResultSets;
  if (!def.IsFunction) frame.ReturnValue = OwnedValue(SqlValue::Integer(0));

  // Arguments by position first, then by name; the rest take their defaults.
  std::vector<const TProcArg*> given(def.Params.size(), nullptr);
  size_t position = 0;
  for (const TProcArg& a : Args) {
    size_t at = def.Params.size();
    if (a.Name.empty()) {
      at = position++;
    } else {
      for (size_t i = 0; i < def.Params.size(); ++i)
        if (Key(def.Params[i].Name) == Key(a.Name)) at = i;
    }
    if (at >= def.Params.size()) throw ServerError(errInvalidParameter, a.Name.empty() ? stored.Name : a.Name);
    given[at] = &a;
  }
  for (size_t i = 0; i < def.Params.size(); ++i) {
    const TProcParam& p = def.Params[i];
    OwnedValue v;
    if (p.Mode == pmOut) {
      // An output parameter starts NULL whatever the caller passed.
    } else if (given[i] && given[i]->Value) {
      v = *given[i]->Value;
    } else if (p.HasDefault) {
      v = Evaluate(p.Default, frame);
    } else if (!given[i]) {
      throw ServerError(errNotEnoughValues, p.Name);
    }
    frame.Vars[Key(p.Name)] = ConvertToDeclared(v, p.TypeText);
  }
  if (builtin) {
    std::vector<OwnedValue> values;
    for (const TProcParam& p : def.Params) values.push_back(frame.Var(p.Name));
    OnBuiltin(def, values, frame.ReturnValue);
    for (size_t i = 0; i < def.Params.size(); ++i) frame.Var(def.Params[i].Name) = std::move(values[i]);
  } else {
    Run(def.Body, frame);
  }
  result.ReturnValue = def.IsFunction ? ConvertToDeclared(frame.ReturnValue, def.ReturnType)
                                      : ConvertToDeclared(frame.ReturnValue, "integer");
  for (const TProcParam& p : def.Params) {
    const OwnedValue& v = frame.Var(p.Name);
    result.Params.push_back(p.Mode == pmIn ? v : ConvertToDeclared(v, p.TypeText));
    result.ParamInfo.push_back(&p);
  }
  return result;
}

TProcInterpreter::TFlow TProcInterpreter::Run(const std::vector<TProcStmt>& Body, TFrame& F) {
  for (const TProcStmt& s : Body)
    if (RunOne(s, F) == flReturn) return flReturn;
  return flNext;
}

TProcInterpreter::TFlow TProcInterpreter::RunOne(const TProcStmt& S, TFrame& F) {
  switch (S.Kind) {
    case psDeclare:
      F.Vars[Key(S.Name)] = S.HasValue ? Evaluate(S.Value, F) : OwnedValue();
      return flNext;
    case psSet: {
      OwnedValue& var = F.Var(S.Name);
      if (S.Append) {
        OwnedValue piece = Evaluate(S.Appended, F);
        if (var.kind == svNull || piece.kind == svNull) {
          var = OwnedValue();
        } else {
          std::string text = TextOf(var) + TextOf(piece);
          var = OwnedValue(var.kind == svBlob ? SqlValue::Blob(text) : SqlValue::Text(text));
        }
      } else {
        var = Evaluate(S.Value, F);
      }
      return flNext;
    }
    case psSelectInto: {
      StmtPtr st(Prepare(S.Sql.Sql));
      std::vector<SqlValue> bound = Bind(st.get(), S.Sql, F);
      if (DoStep(st.get(), bound) != SQLITE_ROW) return flNext;  // no row: the targets keep their values
      std::vector<OwnedValue> row;
      int n = std::min<int>(sqlite3_column_count(st.get()), static_cast<int>(S.Targets.size()));
      for (int c = 0; c < n; ++c) row.emplace_back(ColumnValue(st.get(), c));
      if (DoStep(st.get(), bound) == SQLITE_ROW) throw ServerError(errSelectManyRows);
      for (int c = 0; c < n; ++c) F.Var(S.Targets[static_cast<size_t>(c)]) = std::move(row[static_cast<size_t>(c)]);
      return flNext;
    }
    case psIf:
      for (const TProcBranch& b : S.Branches)
        if (IsTrue(b.Cond, F)) return Run(b.Body, F);
      return S.HasElse ? Run(S.Else, F) : flNext;
    case psWhile:
      while (IsTrue(S.Cond, F))
        if (Run(S.Body, F) == flReturn) return flReturn;
      return flNext;
    case psReturn:
      if (S.HasValue) F.ReturnValue = Evaluate(S.Value, F);
      return flReturn;
    case psMessage: {
      std::string text;
      for (const TDialectExpr& part : S.Message.Parts) text += TextOf(Evaluate(part, F));
      if (S.Message.Target == mgClient && OnMessage) OnMessage(S.Message.Type, text);
      return flNext;
    }
    case psCall: {
      std::vector<TProcArg> args;
      for (const TCallArg& a : S.Call.Args) args.push_back({a.Name, Evaluate(a.Value, F)});
      TProcCallResult inner = CallAt(S.Call.Owner, S.Call.Name, args, F.Depth + 1);
      // OUT and INOUT values go back to arguments that name a variable.
      for (size_t i = 0; i < S.Call.Args.size(); ++i) {
        const TCallArg& a = S.Call.Args[i];
        size_t at = i;
        if (!a.Name.empty())
          for (size_t j = 0; j < inner.ParamInfo.size(); ++j)
            if (Key(inner.ParamInfo[j]->Name) == Key(a.Name)) at = j;
        if (at < inner.ParamInfo.size() && inner.ParamInfo[at]->Mode != pmIn && a.Value.IsVariableRef())
          F.Var(a.Value.Slots[0].Variable) = inner.Params[at];
      }
      for (TProcResultSet& rs : inner.ResultSets) F.ResultSets->push_back(std::move(rs));
      return flNext;
    }
    case psSql: {
      if (OnTransaction) {
        std::string verb;
        for (char c : S.Sql.Sql) {
          if (std::isalpha(static_cast<unsigned char>(c))) verb += static_cast<char>(std::tolower(c));
          else if (!verb.empty() || !std::isspace(static_cast<unsigned char>(c))) break;
        }
        bool toSavepoint = Key(S.Sql.Sql).find(" to ") != std::string::npos;
        if (verb == "commit" || (verb == "rollback" && !toSavepoint)) {
          OnTransaction(verb == "commit");
          return flNext;
        }
      }
      StmtPtr st(Prepare(S.Sql.Sql));
      // The rows a result set collects change no variable, so the bound
      // values stay valid through the loop.
      std::vector<SqlValue> bound = Bind(st.get(), S.Sql, F);
      TProcResultSet* rs = nullptr;
      int columns = sqlite3_column_count(st.get());
      if (S.IsResultSet) {
        rs = &F.ResultSets->emplace_back();
        for (int c = 0; c < columns; ++c) rs->Columns.emplace_back(sqlite3_column_name(st.get(), c));
      }
      while (DoStep(st.get(), bound) == SQLITE_ROW) {
        if (!rs) continue;
        auto& row = rs->Rows.emplace_back();
        for (int c = 0; c < columns; ++c) row.emplace_back(ColumnValue(st.get(), c));
      }
      if (rs) {
        // The RESULT clause names the types when it fits the select list.
        bool declared = F.Def && F.Def->Result.size() == static_cast<size_t>(columns);
        for (int c = 0; c < columns; ++c) {
          const char* decl = sqlite3_column_decltype(st.get(), c);
          if (declared)
            rs->Types.push_back(MapDeclaredType(F.Def->Result[static_cast<size_t>(c)].TypeText));
          else if (decl)
            rs->Types.push_back(MapDeclaredType(decl));
          else
            rs->Types.push_back(TypeOfValues(rs->Rows, static_cast<size_t>(c)));
          rs->Types.back().nullable = true;
        }
      }
      return flNext;
    }
    case psBlock:
      return Run(S.Body, F);
  }
  return flNext;
}

OwnedValue TProcInterpreter::Evaluate(const TDialectExpr& E, TFrame& F) {
  if (E.IsVariableRef()) return F.Var(E.Slots[0].Variable);
  StmtPtr st(Prepare("SELECT " + E.Sql));
  std::vector<SqlValue> bound = Bind(st.get(), E, F);
  if (DoStep(st.get(), bound) != SQLITE_ROW) return {};
  return OwnedValue(ColumnValue(st.get(), 0));
}

bool TProcInterpreter::IsTrue(const TDialectExpr& E, TFrame& F) {
  StmtPtr st(Prepare("SELECT CASE WHEN (" + E.Sql + ") THEN 1 ELSE 0 END"));
  std::vector<SqlValue> bound = Bind(st.get(), E, F);
  return DoStep(st.get(), bound) == SQLITE_ROW && sqlite3_column_int(st.get(), 0) != 0;
}

std::vector<SqlValue> TProcInterpreter::Bind(sqlite3_stmt* St, const TDialectExpr& E, TFrame& F) {
  std::vector<SqlValue> bound;
  bound.reserve(E.Slots.size());
  for (size_t i = 0; i < E.Slots.size(); ++i) {
    const TParamSlot& slot = E.Slots[i];
    // A body has no host variables of its own; only variables are bound.
    if (slot.Kind != slVariable) throw ServerError(errNotEnoughValues);
    bound.push_back(F.Var(slot.Variable).View());
    BindValue(St, static_cast<int>(i + 1), bound.back());
  }
  return bound;
}

sqlite3_stmt* TProcInterpreter::Prepare(const std::string& Sql) {
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(FDb, Sql.c_str(), static_cast<int>(Sql.size()), &st, nullptr);
  if (rc != SQLITE_OK && ResolveFunction) {
    std::string message = sqlite3_errmsg(FDb);
    constexpr std::string_view kMissing = "no such function: ";
    if (message.compare(0, kMissing.size(), kMissing) == 0 && ResolveFunction(message.substr(kMissing.size()))) {
      sqlite3_finalize(st);
      st = nullptr;
      rc = sqlite3_prepare_v2(FDb, Sql.c_str(), static_cast<int>(Sql.size()), &st, nullptr);
    }
  }
  if (rc != SQLITE_OK) {
    sqlite3_finalize(st);
    ThrowSqlite(FDb, rc);
  }
  if (!st) throw ServerError(errSyntax, Sql.substr(0, 40));
  return st;
}

int TProcInterpreter::DoStep(sqlite3_stmt* St, std::span<const SqlValue> Bound) {
  if (Step) return Step(St, Bound);
  int rc = sqlite3_step(St);
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) ThrowSqlite(FDb, rc);
  return rc;
}

}  // namespace vdbsrv
