#include "dblib/Client.h"

#include "dbsrv/Text.h"

#include <cstring>
#include <new>
#include <unordered_map>

namespace vdblib {

namespace {

struct Registry {
  std::mutex mu;
  std::unordered_map<SQLCA*, std::shared_ptr<ClientContext>> contexts;
};

Registry& Contexts() {
  // Dies with the library image: each loaded copy of the library has its own.
  static Registry r;
  return r;
}

}  // namespace

// ---- ClientContext ----

std::shared_ptr<vdbsrv::Connection> ClientContext::Connection() const {
  std::lock_guard lock(mu_);
  return connection_;
}

void ClientContext::SetConnection(std::shared_ptr<vdbsrv::Connection> c) {
  std::lock_guard lock(mu_);
  connection_ = std::move(c);
  droppedReported_ = false;
}

void ClientContext::Trace(std::string_view text) {
  if (!debug_.load()) return;
  auto fn = reinterpret_cast<db_debug_callback_fn>(Callback(DB_CALLBACK_DEBUG_MESSAGE));
  if (!fn) return;
  std::string line(text);
  fn(sqlca_, line.c_str());
}

void ClientContext::ReportDropped() {
  std::string name;
  {
    std::lock_guard lock(mu_);
    if (droppedReported_ || !connection_) return;
    droppedReported_ = true;
    name = connection_->Name();
  }
  Trace("Connection " + name + " was dropped by the server");
  auto fn = reinterpret_cast<db_dropped_callback_fn>(Callback(DB_CALLBACK_CONN_DROPPED));
  if (fn) fn(sqlca_, name.c_str());
}

void ClientContext::RememberMessage(int32_t code, std::string message) {
  std::lock_guard lock(mu_);
  lastCode_ = code;
  lastMessage_ = std::move(message);
}

bool ClientContext::LastMessage(int32_t code, std::string& message) const {
  std::lock_guard lock(mu_);
  if (code != lastCode_ || code == 0) return false;
  message = lastMessage_;
  return true;
}

void ClientContext::RequestWaiting() {
  auto fn = reinterpret_cast<db_callback_fn>(Callback(DB_CALLBACK_WAIT));
  if (fn) fn(sqlca_);
}

void ClientContext::ServerMessage(vdbsrv::MessageType type, int32_t code, std::string_view text) {
  auto fn = reinterpret_cast<db_message_callback_fn>(Callback(DB_CALLBACK_MESSAGE));
  if (!fn) return;
  // The length field is 16 bits; longer messages arrive cut.
  std::string msg(text.substr(0, 32767));
  fn(sqlca_, static_cast<uint8_t>(type), code, static_cast<uint16_t>(msg.size()), msg.c_str());
}

// ---- SQLCA ----

bool ValidSqlca(const SQLCA* ca) {
  return ca && std::memcmp(ca->sqlcaid, "SQLCA", 6) == 0;
}

void ResetSqlca(SQLCA* ca) {
  ca->sqlcode = 0;
  ca->sqlerrml = 0;
  std::memset(ca->sqlerrmc, 0, sizeof ca->sqlerrmc);
  std::memset(ca->sqlerrd, 0, sizeof ca->sqlerrd);
  std::memset(ca->sqlwarn, 0, sizeof ca->sqlwarn);
  std::memcpy(ca->sqlstate, "00000", 6);
}

void SetError(SQLCA* ca, const vdbsrv::Error& e, ClientContext* ctx) {
  ca->sqlcode = e.code;
  size_t n = std::min(e.param.size(), sizeof ca->sqlerrmc);
  std::memset(ca->sqlerrmc, 0, sizeof ca->sqlerrmc);
  std::memcpy(ca->sqlerrmc, e.param.data(), n);
  ca->sqlerrml = static_cast<int16_t>(n);
  std::memcpy(ca->sqlstate, vdbsrv::SqlState(e.code), 5);
  ca->sqlstate[5] = '\0';
  if (e.code > 0) {
    ca->sqlwarn[0] = 'W';
    if (e.code == vdbsrv::errTruncated) ca->sqlwarn[1] = 'W';
  }
  if (ctx) ctx->RememberMessage(e.code, e.message);
}

// ---- contexts ----

std::shared_ptr<ClientContext> CreateContext(SQLCA* ca) {
  auto ctx = std::make_shared<ClientContext>(ca);
  Registry& r = Contexts();
  std::lock_guard lock(r.mu);
  r.contexts[ca] = ctx;
  return ctx;
}

std::shared_ptr<ClientContext> FindContext(SQLCA* ca) {
  Registry& r = Contexts();
  std::lock_guard lock(r.mu);
  auto it = r.contexts.find(ca);
  return it == r.contexts.end() ? nullptr : it->second;
}

std::shared_ptr<ClientContext> RemoveContext(SQLCA* ca) {
  Registry& r = Contexts();
  std::lock_guard lock(r.mu);
  auto it = r.contexts.find(ca);
  if (it == r.contexts.end()) return nullptr;
  auto ctx = std::move(it->second);
  r.contexts.erase(it);
  return ctx;
}

// ---- call frames ----

void TranslateException(SQLCA* ca, ClientContext* ctx) noexcept {
  try {
    throw;
  } catch (const vdbsrv::ServerError& e) {
    SetError(ca, e.Detail(), ctx);
  } catch (const std::bad_alloc&) {
    SetError(ca, vdbsrv::errNoMemory, {}, ctx);
  } catch (const std::exception& e) {
    SetError(ca, vdbsrv::errRuntime, e.what(), ctx);
  } catch (...) {
    SetError(ca, vdbsrv::errRuntime, "unknown failure", ctx);
  }
}

std::shared_ptr<ClientContext> Enter(SQLCA* ca) noexcept {
  if (!ValidSqlca(ca)) {
    ResetSqlca(ca);
    SetError(ca, vdbsrv::errInvalidParameter, "SQLCA without its identifier", nullptr);
    return nullptr;
  }
  ResetSqlca(ca);
  std::shared_ptr<ClientContext> ctx = FindContext(ca);
  if (!ctx) SetError(ca, vdbsrv::errInvalidParameter, "SQLCA not initialised by db_init", nullptr);
  return ctx;
}

std::shared_ptr<vdbsrv::Connection> RequestConnection(ClientContext& ctx) noexcept {
  std::shared_ptr<vdbsrv::Connection> conn = ctx.Connection();
  if (!conn) {
    SetError(ctx.Sqlca(), vdbsrv::errNotConnected, {}, &ctx);
    return nullptr;
  }
  if (conn->Dropped()) {
    ctx.ReportDropped();
    SetError(ctx.Sqlca(), vdbsrv::errConnectionTerminated, {}, &ctx);
    return nullptr;
  }
  return conn;
}

void FireCallback(ClientContext& ctx, int index) noexcept {
  auto fn = reinterpret_cast<db_callback_fn>(ctx.Callback(index));
  if (fn) fn(ctx.Sqlca());
}

bool CheckProgramBlock(SQLCA* ca, const a_program_block* pb, int libraryVersion) {
  const int16_t expected = libraryVersion >= 6 ? 6 : 4;
  bool ok = pb != nullptr;
  if (ok)
    for (char c : pb->pb_reserved) ok = ok && c == 0;
  ok = ok && pb->pb_version && pb->pb_version_copy && *pb->pb_version == expected &&
       *pb->pb_version_copy == expected;
  if (!ok && ca) {
    ResetSqlca(ca);
    SetError(ca, vdbsrv::errInvalidParameter, "invalid program block", FindContext(ca).get());
  }
  return ok;
}

std::string_view ArgText(const char* text, size_t max, const char* what) {
  if (!text) return {};
  size_t n = strnlen(text, max + 1);
  if (n > max) throw vdbsrv::ServerError(vdbsrv::errInvalidParameter, std::string(what) + " too long");
  return std::string_view(text, n);
}

}  // namespace vdblib
