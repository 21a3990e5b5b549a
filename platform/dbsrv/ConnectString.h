// Connection strings: ";"-separated key=value items, keys without regard to
// case, in the server's long or short form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vdbsrv {

// The items of one connection string. An item that was not given stays
// empty (or nullopt for the switches).
struct ConnectParams {
  std::string engineName;      // eng / EngineName / ServerName
  std::string databaseFile;    // dbf / DatabaseFile
  std::string databaseName;    // dbn / DatabaseName
  std::string userId;          // uid / UserID
  std::string password;        // pwd / Password
  bool hasPassword = false;    // pwd given, even when empty
  std::string startLine;       // start / Start: the engine's command line
  std::string connectionName;  // con / ConnectionName
  std::string charSet;         // cs / CharSet (accepted, text passes unconverted)
  std::optional<bool> autoStop;       // autostop / astop
  std::optional<bool> autoStart;      // autostart / astart
  std::optional<bool> debug;          // debug / dbg: the library traces to callback 9
  std::optional<bool> unconditional;  // unconditional / unc: stop even with connections
};

// Longest connection string accepted; longer ones are a parse error.
constexpr size_t kMaxConnectStringLength = 32 * 1024;

// Parses text; throws ServerError(errParse) naming the offending item for an
// unknown key, an item without "=", a bad switch value or an over-long text.
// A NUL pointer is parsed as an empty string.
ConnectParams ParseConnectString(std::string_view text);

// Parses a yes/no switch value (yes, no, on, off, true, false, 1, 0).
std::optional<bool> ParseSwitch(std::string_view value);

// The connection string with the password replaced, for traces.
std::string MaskPassword(std::string_view text);

}  // namespace vdbsrv
