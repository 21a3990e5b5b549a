// Feeds arbitrary bytes to the engine's connection-string and start-line
// parsers: each either parses or throws the server's parse error.
#include "dbsrv/ConnectString.h"
#include "dbsrv/Errors.h"
#include "dbsrv/StartLine.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    vdbsrv::ConnectParams p = vdbsrv::ParseConnectString(text);
    vdbsrv::ParseStartLine(p.startLine);
  } catch (const vdbsrv::ServerError& e) {
    if (e.Code() != vdbsrv::errParse) __builtin_trap();
  }
  vdbsrv::MaskPassword(text);
  return 0;
}
