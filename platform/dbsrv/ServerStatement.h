// The few statements a connection carries out itself instead of handing
// them to SQLite: transaction control, options, client messages and
// database creation.
#pragma once

#include "dbsrv/ConnectionEvents.h"

#include <optional>
#include <string>
#include <string_view>

namespace vdbsrv {

enum ServerStatementKind : uint8_t {
  sskCommit,          // commit [work|transaction]
  sskRollback,        // rollback [work|transaction]
  sskBegin,           // begin [work|transaction]
  sskSetOption,       // set [temporary] option [public.]name = value
  sskMessage,         // message 'text' [type info|warning|action|status] [to client]
  sskCreateDatabase,  // create database 'file'
};

struct ServerStatement {
  ServerStatementKind kind;
  std::string name;     // sskSetOption: the option
  std::string value;    // sskSetOption: the value, quotes removed
  bool isPublic = false;
  std::string text;     // sskMessage: the message; sskCreateDatabase: the file
  MessageType messageType = mtInfo;
};

// The statement when text is one of these (a trailing ";" allowed), else
// nullopt. Throws ServerError(errSyntax) for a malformed one of them.
std::optional<ServerStatement> ParseServerStatement(std::string_view text);

}  // namespace vdbsrv
