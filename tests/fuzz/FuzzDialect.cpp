// Feeds arbitrary text to the SQL dialect layer: it must answer a statement or a
// syntax error, never crash, hang or read outside the text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dbsrv/DialectStatement.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  std::string Text(reinterpret_cast<const char*>(Data), Size);
  vdbsrv::TDialectHooks Hooks;
  Hooks.IsVariable = [](std::string_view N) { return !N.empty() && (N[0] == 'v' || N[0] == 'V'); };
  Hooks.IsStringName = [](std::string_view, std::string_view N) { return !N.empty() && N[0] == 's'; };
  Hooks.IsOwner = [](std::string_view N) { return vdbsrv::SameName(N, "dba"); };
  vdbsrv::TDialectResult R = vdbsrv::ParseStatement(Text, Hooks);
  if (R.Ok && R.Statement.TailOffset > Size) __builtin_trap();
  if (!R.Ok && (R.Error.Pos.Offset < 0 || static_cast<size_t>(R.Error.Pos.Offset) > Size)) __builtin_trap();
  for (auto [B, E] : vdbsrv::SplitStatements(Text))
    if (B > E || E > Size) __builtin_trap();
  return 0;
}
