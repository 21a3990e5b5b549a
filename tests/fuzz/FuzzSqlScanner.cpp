// Feeds arbitrary bytes to the SQL text finders and the list and blank
// helpers: none may read outside its input or hang, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/VdbUtil.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  std::string Directions;
  (void)vdb::VdbGetTableNameFromSQL(Text);
  (void)vdb::VdbGetOrderByFromSQL(Text, Directions);
  (void)vdb::VdbGetParamsFromSQL(Text);

  if (Size > 0) {
    (void)vdb::VdbExtractField(Text, static_cast<char>(Data[0]), Data[Size - 1] % 8 - 1);
    (void)vdb::VdbReplaceChar(Text.substr(0, 2), Text.substr(0, 3), Text);
  }
  (void)vdb::VdbIsPath(Text);

  // An exactly sized zero-terminated copy, so a read past the terminator hits
  // the sanitizer's red zone.
  auto Buffer = std::make_unique<char[]>(Size + 1);
  std::memcpy(Buffer.get(), Data, Size);
  Buffer[Size] = '\0';
  (void)vdb::VdbTrimTrailBlanks(Buffer.get());
  return 0;
}
