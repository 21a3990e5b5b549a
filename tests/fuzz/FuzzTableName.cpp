// Feeds arbitrary text to the table-name finder: it must stop inside the
// text, and without the word FROM anywhere there is no table to find.
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/VdbUtil.h"

namespace {

bool ContainsFrom(const std::string& Text) {
  std::string Lower(Text);
  std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  return Lower.find("from") != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const std::string Table = vdb::VdbGetTableNameFromSQL(Text);
  if (Table.size() > Size) __builtin_trap();
  if (!Table.empty() && !ContainsFrom(Text)) __builtin_trap();
  // Text after the terminator the scanner stops at must not matter.
  const std::string Cut = Text.substr(0, Text.find('\0'));
  if (Cut.size() != Text.size() && vdb::VdbGetTableNameFromSQL(Cut) != Table) __builtin_trap();
  return 0;
}
