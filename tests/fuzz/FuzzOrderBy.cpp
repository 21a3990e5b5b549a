// Feeds arbitrary text to the ORDER BY finder: every direction it reports is
// ASC or DESC, and each column it reports has a direction.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/VdbUtil.h"

namespace {

// Entries of a ";"-separated list; an empty list has none.
size_t Entries(const std::string& List) {
  if (List.empty()) return 0;
  size_t N = 1;
  for (char C : List) N += C == ';';
  return N;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  std::string Directions = "stale";
  const std::string Columns = vdb::VdbGetOrderByFromSQL(Text, Directions);
  for (int I = 1; I <= static_cast<int>(Entries(Directions)); ++I) {
    const std::string D = vdb::VdbExtractField(Directions, ';', I);
    if (D != "ASC" && D != "DESC") __builtin_trap();
  }
  if (Columns.empty() && Directions == "stale") __builtin_trap();
  // Column texts may themselves hold ";" only when the input does.
  if (Text.find(';') == std::string::npos && Entries(Columns) > Entries(Directions)) __builtin_trap();
  return 0;
}
