#include "dbsrv/ConnectString.h"

#include "dbsrv/Errors.h"
#include "dbsrv/Text.h"

#include <array>

namespace vdbsrv {

namespace {

enum Key : uint8_t {
  keyEngine, keyDbf, keyDbn, keyUid, keyPwd, keyStart, keyCon, keyCharSet, keyAutoStop,
  keyAutoStart, keyDebug, keyUnconditional, keyIgnored
};

struct KeyName {
  const char* name;
  Key key;
};

// Long and short forms. The ignored ones are network and client settings an
// in-process server has no use for, accepted so that existing strings work.
constexpr std::array kKeys{
    KeyName{"eng", keyEngine},          KeyName{"enginename", keyEngine},
    KeyName{"servername", keyEngine},   KeyName{"dbf", keyDbf},
    KeyName{"databasefile", keyDbf},    KeyName{"dbn", keyDbn},
    KeyName{"databasename", keyDbn},    KeyName{"uid", keyUid},
    KeyName{"userid", keyUid},          KeyName{"pwd", keyPwd},
    KeyName{"password", keyPwd},        KeyName{"start", keyStart},
    KeyName{"con", keyCon},             KeyName{"connectionname", keyCon},
    KeyName{"cs", keyCharSet},          KeyName{"charset", keyCharSet},
    KeyName{"autostop", keyAutoStop},   KeyName{"astop", keyAutoStop},
    KeyName{"autostart", keyAutoStart}, KeyName{"astart", keyAutoStart},
    KeyName{"debug", keyDebug},         KeyName{"dbg", keyDebug},
    KeyName{"unconditional", keyUnconditional}, KeyName{"unc", keyUnconditional},
    KeyName{"links", keyIgnored},       KeyName{"commlinks", keyIgnored},
    KeyName{"integrated", keyIgnored},  KeyName{"int", keyIgnored},
    KeyName{"appinfo", keyIgnored},     KeyName{"app", keyIgnored},
    KeyName{"databaseswitches", keyIgnored}, KeyName{"dbs", keyIgnored},
    KeyName{"logfile", keyIgnored},     KeyName{"log", keyIgnored},
    KeyName{"idle", keyIgnored},        KeyName{"livenesstimeout", keyIgnored},
    KeyName{"lto", keyIgnored},         KeyName{"compress", keyIgnored},
    KeyName{"comp", keyIgnored},        KeyName{"encryption", keyIgnored},
    KeyName{"enc", keyIgnored},         KeyName{"dbkey", keyIgnored},
    KeyName{"dbkey", keyIgnored},       KeyName{"language", keyIgnored},
    KeyName{"lang", keyIgnored},        KeyName{"disablemultirowfetch", keyIgnored},
    KeyName{"dmrf", keyIgnored},        KeyName{"dsn", keyIgnored},
    KeyName{"datasourcename", keyIgnored},
};

[[noreturn]] void Fail(std::string_view near) {
  // The whole offending text would not fit any message; the start says enough.
  throw ServerError(errParse, near.substr(0, 64));
}

void SetSwitch(std::optional<bool>& target, std::string_view item, std::string_view value) {
  target = ParseSwitch(value);
  if (!target) Fail(item);
}

}  // namespace

std::optional<bool> ParseSwitch(std::string_view value) {
  std::string v = LowerCase(Trim(value));
  if (v == "yes" || v == "on" || v == "true" || v == "1" || v == "y") return true;
  if (v == "no" || v == "off" || v == "false" || v == "0" || v == "n") return false;
  return std::nullopt;
}

ConnectParams ParseConnectString(std::string_view text) {
  ConnectParams p;
  if (text.size() > kMaxConnectStringLength) Fail(text);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t itemStart = pos;
    size_t eq = text.find('=', pos);
    size_t semi = text.find(';', pos);
    if (semi != std::string_view::npos && (eq == std::string_view::npos || semi < eq)) {
      // An item without "=": blank items (";;", a trailing ";") are harmless.
      if (!Trim(text.substr(pos, semi - pos)).empty()) Fail(text.substr(pos, semi - pos));
      pos = semi + 1;
      continue;
    }
    if (eq == std::string_view::npos) {
      if (!Trim(text.substr(pos)).empty()) Fail(text.substr(pos));
      break;
    }
    std::string key = LowerCase(Trim(text.substr(pos, eq - pos)));
    pos = eq + 1;
    std::string value;
    size_t valueStart = pos;
    while (valueStart < text.size() && (text[valueStart] == ' ' || text[valueStart] == '\t'))
      ++valueStart;
    if (valueStart < text.size() && text[valueStart] == '{') {
      // A braced value may hold semicolons.
      size_t close = text.find('}', valueStart + 1);
      if (close == std::string_view::npos) Fail(text.substr(itemStart));
      value = std::string(text.substr(valueStart + 1, close - valueStart - 1));
      pos = close + 1;
      size_t next = text.find(';', pos);
      if (!Trim(text.substr(pos, next == std::string_view::npos ? text.size() - pos : next - pos))
               .empty())
        Fail(text.substr(itemStart));
      pos = next == std::string_view::npos ? text.size() : next + 1;
    } else {
      size_t end = text.find(';', pos);
      if (end == std::string_view::npos) end = text.size();
      value = std::string(Trim(text.substr(pos, end - pos)));
      pos = end + 1;
    }
    std::string_view item = text.substr(itemStart, std::min(pos, text.size()) - itemStart);
    if (key.empty()) Fail(item);
    const KeyName* found = nullptr;
    for (const auto& k : kKeys)
      if (key == k.name) found = &k;
    if (!found) Fail(item);
    switch (found->key) {
      case keyEngine: p.engineName = value; break;
      case keyDbf: p.databaseFile = value; break;
      case keyDbn: p.databaseName = value; break;
      case keyUid: p.userId = value; break;
      case keyPwd: p.password = value; p.hasPassword = true; break;
      case keyStart: p.startLine = value; break;
      case keyCon: p.connectionName = value; break;
      case keyCharSet: p.charSet = value; break;
      case keyAutoStop: SetSwitch(p.autoStop, item, value); break;
      case keyAutoStart: SetSwitch(p.autoStart, item, value); break;
      case keyDebug: SetSwitch(p.debug, item, value); break;
      case keyUnconditional: SetSwitch(p.unconditional, item, value); break;
      case keyIgnored: break;
    }
  }
  return p;
}

std::string MaskPassword(std::string_view text) {
  std::string out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(';', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(pos, end - pos);
    size_t eq = item.find('=');
    std::string key = eq == std::string_view::npos ? "" : LowerCase(Trim(item.substr(0, eq)));
    if (!out.empty() || pos > 0) out.push_back(';');
    if (key == "pwd" || key == "password")
      out.append(item.substr(0, eq + 1)).append("***");
    else
      out.append(item);
    pos = end + 1;
  }
  return out;
}

}  // namespace vdbsrv
