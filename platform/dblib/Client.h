// The client library's state per SQLCA and the frame every entry point runs
// in: argument checks, the request bracket with its callbacks, and the
// translation of engine errors (and any other exception) into the SQLCA.
#pragma once

#include "dbsrv/Connection.h"
#include "dbsrv/Errors.h"
#include "vdb_esql.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vdblib {

// What differs between the library's version builds.
struct LibraryInfo {
  int version;                // 3 (3.2), 4, 5, ... 9
  const char* engineVersion;  // version text of engines this build starts
};

// One SQLCA's state from db_init to db_fini.
class ClientContext final : public vdbsrv::ConnectionEvents {
 public:
  explicit ClientContext(SQLCA* sqlca) : sqlca_(sqlca) {}

  SQLCA* Sqlca() const { return sqlca_; }

  // Callback functions by index; nullptr for none.
  void SetCallback(int index, db_any_callback_fn fn) { callbacks_[index].store(fn); }
  db_any_callback_fn Callback(int index) const { return callbacks_[index].load(); }

  // The connection; null while disconnected. Set and cleared by the thread
  // that connects and disconnects; read by any thread (cancel, is_working).
  std::shared_ptr<vdbsrv::Connection> Connection() const;
  void SetConnection(std::shared_ptr<vdbsrv::Connection> c);

  // Trace to callback 9 when the connection string asked for it.
  void SetDebug(bool on) { debug_.store(on); }
  void Trace(std::string_view text);

  // Fires callback 8 once for a connection the server dropped.
  void ReportDropped();

  // The full text of the last error written, for sqlerror_message.
  void RememberMessage(int32_t code, std::string message);
  bool LastMessage(int32_t code, std::string& message) const;

  // vdbsrv::ConnectionEvents
  void RequestWaiting() override;
  void ServerMessage(vdbsrv::MessageType type, int32_t code, std::string_view text) override;

 private:
  SQLCA* const sqlca_;
  std::atomic<db_any_callback_fn> callbacks_[10] = {};
  mutable std::mutex mu_;                          // guards connection_ and the message
  std::shared_ptr<vdbsrv::Connection> connection_;
  std::atomic<bool> debug_{false};
  bool droppedReported_ = false;
  int32_t lastCode_ = 0;
  std::string lastMessage_;
};

// ---- SQLCA ----

// Clears the result fields before a call.
void ResetSqlca(SQLCA* ca);
// Writes an error or warning.
void SetError(SQLCA* ca, const vdbsrv::Error& e, ClientContext* ctx);
inline void SetError(SQLCA* ca, int32_t code, std::string_view param, ClientContext* ctx) {
  SetError(ca, vdbsrv::MakeError(code, param), ctx);
}
// True when the pointer is an SQLCA that carries its identifier.
bool ValidSqlca(const SQLCA* ca);

// ---- contexts ----

std::shared_ptr<ClientContext> CreateContext(SQLCA* ca);
std::shared_ptr<ClientContext> FindContext(SQLCA* ca);
std::shared_ptr<ClientContext> RemoveContext(SQLCA* ca);

// ---- call frames ----

// Inside a catch block: writes the current exception into the SQLCA.
void TranslateException(SQLCA* ca, ClientContext* ctx) noexcept;
// The context of an initialised SQLCA after resetting it; writes the error
// and answers null otherwise.
std::shared_ptr<ClientContext> Enter(SQLCA* ca) noexcept;
// The request's connection, or null after writing -101, or -308 after
// firing callback 8 for a dropped one.
std::shared_ptr<vdbsrv::Connection> RequestConnection(ClientContext& ctx) noexcept;
void FireCallback(ClientContext& ctx, int index) noexcept;

// Runs body(ClientContext&) for an initialised SQLCA: resets it, catches
// everything, and answers the resulting sqlcode (-1 when ca is null).
template <class Body>
int32_t Call(SQLCA* ca, Body&& body) noexcept {
  if (!ca) return -1;
  std::shared_ptr<ClientContext> ctx = Enter(ca);
  if (!ctx) return ca->sqlcode;
  try {
    body(*ctx);
  } catch (...) {
    TranslateException(ca, ctx.get());
  }
  return ca->sqlcode;
}

// Runs body(ClientContext&, Connection&) as one request on the SQLCA's
// connection: start callback, the connection's request bracket, finish
// callback; -101 when not connected, -308 (after callback 8) when the server
// dropped the connection. No allocation on this path.
template <class Body>
int32_t Request(SQLCA* ca, Body&& body) noexcept {
  if (!ca) return -1;
  std::shared_ptr<ClientContext> ctx = Enter(ca);
  if (!ctx) return ca->sqlcode;
  std::shared_ptr<vdbsrv::Connection> conn = RequestConnection(*ctx);
  if (!conn) return ca->sqlcode;
  FireCallback(*ctx, DB_CALLBACK_START);
  try {
    vdbsrv::Connection::Request request(*conn);
    body(*ctx, *conn);
  } catch (...) {
    TranslateException(ca, ctx.get());
  }
  if (ca->sqlcode == vdbsrv::errConnectionTerminated) ctx->ReportDropped();
  FireCallback(*ctx, DB_CALLBACK_FINISH);
  return ca->sqlcode;
}

// Checks the program block passed below version 7; writes the error into
// the SQLCA when it is wrong.
bool CheckProgramBlock(SQLCA* ca, const a_program_block* pb, int libraryVersion);

// Reads a C string argument of at most max bytes; a missing terminator
// within max is an error (ServerError errInvalidParameter).
std::string_view ArgText(const char* text, size_t max, const char* what);

}  // namespace vdblib
