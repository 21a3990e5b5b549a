// Feeds arbitrary text to the parameter-marker finder: every name it reports
// is a piece of the text that followed a colon and holds no blank, ")" or
// ",", and a text without a colon has no markers.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/VdbUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const std::string Params = vdb::VdbGetParamsFromSQL(Text);
  if (Params.empty()) return 0;
  if (Text.find(':') == std::string::npos) __builtin_trap();
  // Names may hold the separator when the text does, and quoted names are
  // unquoted, so they need not appear in the text as they are reported.
  if (Text.find_first_of(";\"'`") != std::string::npos) return 0;
  for (int I = 1;; ++I) {
    const std::string Name = vdb::VdbExtractField(Params, ';', I);
    if (Name.empty()) break;
    if (Name.find_first_of(" ),") != std::string::npos) __builtin_trap();
    if (Text.find(":" + Name) == std::string::npos) __builtin_trap();
  }
  return 0;
}
