#include "dblib/Services.h"

#include "dbsrv/Backup.h"
#include "dbsrv/Catalog.h"
#include "dbsrv/ConnectString.h"
#include "dbsrv/Database.h"
#include "dbsrv/Identifiers.h"
#include "dbsrv/Server.h"
#include "dbsrv/Text.h"

#include <algorithm>
#include <cstring>

namespace vdblib {

using vdbsrv::ServerError;

namespace {

// Limits on texts handed in; anything longer is refused, never read on.
constexpr size_t kMaxParamText = 1 << 20;
constexpr size_t kMaxName = 4096;

vdbsrv::ConnectParams Parse(const char* params) {
  return vdbsrv::ParseConnectString(ArgText(params, kMaxParamText, "connection string"));
}

// sqlerrmc holds the server's file name; when the full path does not fit,
// the file name alone (which is all a client uses of it).
void PutFileName(SQLCA* ca, const std::string& path) {
  std::string text = path.size() < sizeof ca->sqlerrmc ? path : vdbsrv::FileNamePart(path);
  std::memset(ca->sqlerrmc, 0, sizeof ca->sqlerrmc);
  size_t n = std::min(text.size(), sizeof ca->sqlerrmc);
  std::memcpy(ca->sqlerrmc, text.data(), n);
  ca->sqlerrml = static_cast<int16_t>(n);
}

sqlvar& FirstEntry(SQLDA* sqlda, const char* what) {
  if (!sqlda || sqlda->sqln < 1 || sqlda->sqld < 1)
    throw ServerError(vdbsrv::errInvalidParameter, std::string(what) + ": SQLDA without an entry");
  return sqlda->sqlvar[0];
}

}  // namespace

// ---- library frame ----

int32_t Init(SQLCA* ca) {
  if (!ca) return 0;
  try {
    // A repeated db_init on the same SQLCA starts over.
    if (auto old = RemoveContext(ca)) {
      if (auto conn = old->Connection()) vdbsrv::Server::Instance().Disconnect(conn);
    }
    CreateContext(ca);
    ResetSqlca(ca);
    std::memcpy(ca->sqlcaid, "SQLCA\0\0", 8);
    ca->sqlcabc = sizeof(SQLCA);
    return 1;
  } catch (...) {
    return 0;
  }
}

int32_t Fini(SQLCA* ca) {
  if (!ca) return 0;
  try {
    std::shared_ptr<ClientContext> ctx = RemoveContext(ca);
    if (!ctx) return 0;
    if (auto conn = ctx->Connection()) {
      conn->SetEvents(nullptr);
      vdbsrv::Server::Instance().Disconnect(conn);
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

// ---- connections, engines, databases ----

int32_t StringConnect(SQLCA* ca, const char* params, const LibraryInfo& lib) {
  return Call(ca, [&](ClientContext& ctx) {
    std::string_view text = ArgText(params, kMaxParamText, "connection string");
    vdbsrv::ConnectParams p;
    try {
      p = vdbsrv::ParseConnectString(text);
    } catch (const ServerError&) {
      ctx.Trace("Connection string rejected");
      throw;
    }
    ctx.SetDebug(p.debug.value_or(false));
    ctx.Trace("Attempting to connect using: " + vdbsrv::MaskPassword(text.substr(0, 1024)));
    if (auto old = ctx.Connection()) {
      if (!old->Dropped()) throw ServerError(vdbsrv::errRuntime, "this SQLCA is already connected");
      vdbsrv::Server::Instance().Disconnect(old);
      ctx.SetConnection(nullptr);
    }
    std::shared_ptr<vdbsrv::Connection> conn;
    try {
      conn = vdbsrv::Server::Instance().Connect(p, lib.engineVersion);
    } catch (const ServerError& e) {
      ctx.Trace("Connect failed: " + e.Detail().message);
      throw;
    }
    conn->SetEvents(&ctx);
    ctx.SetConnection(conn);
    ctx.Trace("Connected to database \"" + conn->DatabaseName() + "\" on engine \"" +
              conn->EngineName() + "\" as connection \"" + conn->Name() + "\"");
  });
}

int32_t StringDisconnect(SQLCA* ca, const char* params) {
  return Call(ca, [&](ClientContext& ctx) {
    vdbsrv::ConnectParams p = Parse(params);
    std::shared_ptr<vdbsrv::Connection> conn = ctx.Connection();
    if (!conn) throw ServerError(vdbsrv::errNotConnected);
    if (!p.connectionName.empty() && !vdbsrv::SameText(p.connectionName, conn->Name()))
      throw ServerError(vdbsrv::errConnectionNotFound, p.connectionName);
    if (conn->Dropped()) ctx.ReportDropped();
    conn->SetEvents(nullptr);
    vdbsrv::Server::Instance().Disconnect(conn);
    ctx.SetConnection(nullptr);
    ctx.Trace("Disconnected \"" + conn->Name() + "\"");
  });
}

int32_t StartEngine(SQLCA* ca, const char* params, const LibraryInfo& lib) {
  return Call(ca, [&](ClientContext& ctx) {
    vdbsrv::Server::Instance().StartEngine(Parse(params), lib.engineVersion);
    ctx.Trace("Database server started");
  });
}

int32_t StopEngine(SQLCA* ca, const char* params) {
  return Call(ca, [&](ClientContext& ctx) {
    vdbsrv::Server::Instance().StopEngine(Parse(params), ctx.Connection().get());
    ctx.Trace("Database server stopped");
  });
}

int32_t StartDatabase(SQLCA* ca, const char* params) {
  return Call(ca, [&](ClientContext& ctx) {
    vdbsrv::Server::Instance().StartDatabase(Parse(params), ctx.Connection().get());
  });
}

int32_t StopDatabase(SQLCA* ca, const char* params) {
  return Call(ca, [&](ClientContext& ctx) {
    vdbsrv::Server::Instance().StopDatabase(Parse(params), ctx.Connection().get());
  });
}

int32_t DeleteFile(SQLCA* ca, const char* name) {
  return Call(ca, [&](ClientContext&) {
    if (!name) throw ServerError(vdbsrv::errInvalidParameter, "no file name");
    vdbsrv::Server::Instance().DeleteRenamedLog(ArgText(name, kMaxName, "file name"));
  });
}

int32_t FindEngine(SQLCA* ca, const char* name) {
  return Call(ca, [&](ClientContext&) {
    std::string_view n = ArgText(name, kMaxName, "engine name");
    if (!vdbsrv::Server::Instance().EngineRunning(n)) throw ServerError(vdbsrv::errEngineNotRunning, n);
  });
}

int32_t PingServer(SQLCA* ca, const char* params, int32_t connectToDb, const LibraryInfo& lib) {
  return Call(ca, [&](ClientContext&) {
    vdbsrv::ConnectParams p = Parse(params);
    vdbsrv::Server& server = vdbsrv::Server::Instance();
    std::string engine = !p.engineName.empty()    ? p.engineName
                         : !p.databaseFile.empty() ? vdbsrv::FilePrefix(p.databaseFile)
                                                   : std::string();
    bool running = engine.empty() ? !server.Engines().empty() : server.EngineRunning(engine);
    if (!running) throw ServerError(vdbsrv::errEngineNotRunning, engine);
    if (connectToDb) {
      // A ping never starts anything: the engine runs, so the connect only
      // looks for the database and checks the user.
      p.autoStop = true;
      server.Disconnect(server.Connect(p, lib.engineVersion));
    }
  });
}

// ---- services ----

int32_t RegisterCallback(SQLCA* ca, int32_t index, db_any_callback_fn fn) {
  return Call(ca, [&](ClientContext& ctx) {
    switch (index) {
      case DB_CALLBACK_START: case DB_CALLBACK_WAIT: case DB_CALLBACK_FINISH:
      case DB_CALLBACK_MESSAGE: case DB_CALLBACK_CONN_DROPPED: case DB_CALLBACK_DEBUG_MESSAGE:
        ctx.SetCallback(index, fn);
        break;
      default:
        throw ServerError(vdbsrv::errCallbackInvalid, std::to_string(index));
    }
  });
}

char* ErrorMessage(SQLCA* ca, char* buffer, int32_t max) {
  if (!buffer || max <= 0) return buffer;
  try {
    std::string text;
    if (!ValidSqlca(ca)) {
      text = "Invalid SQLCA";
    } else {
      std::shared_ptr<ClientContext> ctx = FindContext(ca);
      if (!ctx || !ctx->LastMessage(ca->sqlcode, text)) {
        size_t n = static_cast<size_t>(std::clamp<int>(ca->sqlerrml, 0, static_cast<int>(sizeof ca->sqlerrmc)));
        text = vdbsrv::FormatMessage(ca->sqlcode, std::string_view(ca->sqlerrmc, strnlen(ca->sqlerrmc, n)));
      }
    }
    vdbsrv::CopyText(buffer, static_cast<size_t>(max), text);
  } catch (...) {
    buffer[0] = '\0';
  }
  return buffer;
}

int32_t CancelRequest(SQLCA* ca) {
  if (!ValidSqlca(ca)) return -1;
  std::shared_ptr<ClientContext> ctx = FindContext(ca);
  std::shared_ptr<vdbsrv::Connection> conn = ctx ? ctx->Connection() : nullptr;
  if (!conn) return vdbsrv::errNotConnected;
  // Another thread's request owns the SQLCA now: its result lands there.
  if (conn->BusyElsewhere()) {
    conn->Cancel();
    return 0;
  }
  return Call(ca, [&](ClientContext&) { conn->Cancel(); });
}

int32_t IsWorking(SQLCA* ca) {
  if (!ValidSqlca(ca)) return 0;
  std::shared_ptr<ClientContext> ctx = FindContext(ca);
  std::shared_ptr<vdbsrv::Connection> conn = ctx ? ctx->Connection() : nullptr;
  return conn && conn->IsWorking() ? 1 : 0;
}

int32_t TimeChange(SQLCA* ca) {
  // The engine reads the clock at each use; nothing is cached to refresh.
  return Call(ca, [](ClientContext&) {});
}

int32_t ConnectionInfo(SQLCA* ca, int32_t index, SQLDA* sqlda) {
  bool delivered = false;
  Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    sqlvar& v = FirstEntry(sqlda, "db_connection_info");
    const std::string* text = nullptr;
    switch (index) {
      case DB_INFO_ENGINE_VERSION: text = &conn.EngineVersion(); break;
      case DB_INFO_ENGINE_NAME: text = &conn.EngineName(); break;
      case DB_INFO_DATABASE_NAME: text = &conn.DatabaseName(); break;
      default: throw ServerError(vdbsrv::errInvalidParameter, "connection information " + std::to_string(index));
    }
    if (PutEntryText(v, *text)) throw ServerError(vdbsrv::errTruncated);
    delivered = true;
  });
  return delivered ? 1 : 0;
}

int32_t GetProperty(SQLCA* ca, int32_t property, char* buffer, int32_t size) {
  bool delivered = false;
  Call(ca, [&](ClientContext& ctx) {
    if (!buffer || size <= 0) throw ServerError(vdbsrv::errInvalidParameter, "no property buffer");
    if (property != DB_PROP_SERVER_ADDRESS)
      throw ServerError(vdbsrv::errInvalidParameter, "property " + std::to_string(property));
    if (!ctx.Connection()) throw ServerError(vdbsrv::errNotConnected);
    vdbsrv::CopyText(buffer, static_cast<size_t>(size), vdbsrv::Server::Address());
    delivered = true;
  });
  return delivered ? 1 : 0;
}

int32_t LocateServers(SQLCA* ca, db_locate_callback_fn fn, void* user) {
  return Call(ca, [&](ClientContext&) {
    if (!fn) throw ServerError(vdbsrv::errInvalidParameter, "no locate callback");
    // A snapshot: the callback may start or stop engines itself.
    for (const vdbsrv::EngineInfo& e : vdbsrv::Server::Instance().Engines()) {
      a_server_address rec{};
      rec.port_type = 0;
      vdbsrv::CopyText(rec.name, sizeof rec.name, e.name);
      vdbsrv::CopyText(rec.address, sizeof rec.address, e.address);
      if (fn(ca, &rec, user) == 0) break;
    }
  });
}

int32_t NeedsQuotes(SQLCA* ca, const char* identifier) {
  return Call(ca, [&](ClientContext& ctx) {
    if (!identifier) throw ServerError(vdbsrv::errInvalidParameter, "no identifier");
    std::string_view id = ArgText(identifier, kMaxName, "identifier");
    if (vdbsrv::NeedsQuotes(id)) SetError(ca, vdbsrv::errNeedsQuotes, id.substr(0, 64), &ctx);
  });
}

int32_t Backup(SQLCA* ca, int32_t op, int32_t file, uint32_t page, SQLDA* sqlda) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    vdbsrv::BackupSession* b = conn.Backup();
    if (op != DB_BACKUP_START && !b) throw ServerError(vdbsrv::errBackupNotStarted, "db_backup start first");
    switch (op) {
      case DB_BACKUP_START:
        if (conn.UserId() != vdbsrv::kDbaUserId)
          throw ServerError(vdbsrv::errPermissionDenied, "backup needs DBA authority");
        conn.SetBackup(std::make_unique<vdbsrv::BackupSession>(conn));
        SQLCOUNT(*ca) = conn.Backup()->PageSize();
        ctx.Trace("Backup started");
        break;
      case DB_BACKUP_OPEN_FILE: {
        std::string name;
        SQLCOUNT(*ca) = static_cast<int32_t>(b->Open(file, name));
        PutFileName(ca, name);
        break;
      }
      case DB_BACKUP_READ_PAGE:
      case DB_BACKUP_READ_RENAME_LOG: {
        sqlvar& v = FirstEntry(sqlda, "db_backup");
        if ((v.sqltype & DT_TYPES) != DT_BINARY || !v.sqldata || v.sqllen < 2 ||
            v.sqllen - 2u < static_cast<uint32_t>(b->PageSize()))
          throw ServerError(vdbsrv::errInvalidParameter, "db_backup needs a binary entry of a page");
        std::string renamed;
        auto* data = static_cast<unsigned char*>(v.sqldata);
        uint32_t bytes = b->ReadPage(file, page, data + 2, op == DB_BACKUP_READ_RENAME_LOG, renamed);
        uint16_t len = static_cast<uint16_t>(bytes);
        std::memcpy(data, &len, sizeof len);
        if (v.sqlind) *v.sqlind = 0;
        SQLCOUNT(*ca) = static_cast<int32_t>(bytes);
        if (!renamed.empty()) {
          PutFileName(ca, renamed);
          ctx.Trace("Transaction log renamed to " + renamed);
        }
        break;
      }
      case DB_BACKUP_CLOSE_FILE:
        b->Close(file);
        break;
      case DB_BACKUP_END:
        conn.SetBackup(nullptr);
        ctx.Trace("Backup ended");
        break;
      default:
        throw ServerError(vdbsrv::errInvalidParameter, "backup operation " + std::to_string(op));
    }
  });
}

// ---- transactions and options ----

int32_t Commit(SQLCA* ca) {
  return Request(ca, [](ClientContext& ctx, vdbsrv::Connection& conn) {
    ctx.Trace("Commit");
    conn.Commit();
  });
}

int32_t Rollback(SQLCA* ca) {
  return Request(ca, [](ClientContext& ctx, vdbsrv::Connection& conn) {
    ctx.Trace("Rollback");
    conn.Rollback();
  });
}

int32_t GetOption(SQLCA* ca, int32_t /*scope*/, const char* /*user*/, const char* name,
                  SQLDA* sqlda) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    std::string_view n = ArgText(name, 128, "option name");
    sqlvar& v = FirstEntry(sqlda, "dbpp_getoption");
    std::string value = conn.Options().Get(n);
    if (PutEntryText(v, value)) SetError(ca, vdbsrv::errTruncated, n, &ctx);
  });
}

int32_t SetOption(SQLCA* ca, int32_t /*scope*/, const char* user, const char* name, SQLDA* sqlda) {
  return Request(ca, [&](ClientContext& ctx, vdbsrv::Connection& conn) {
    std::string_view n = ArgText(name, 128, "option name");
    sqlvar& v = FirstEntry(sqlda, "dbpp_setoption");
    std::string value = (v.sqlind && *v.sqlind < 0) ? std::string() : EntryText(v);
    bool isPublic = user && vdbsrv::SameText(ArgText(user, 128, "user"), "public");
    conn.Options().Set(n, value, isPublic);
    ctx.Trace("Set option " + std::string(n) + " = " + value);
  });
}

int32_t ExecuteImmediate(SQLCA* ca, const char* text, uint32_t /*kind*/) {
  return Request(ca, [&](ClientContext&, vdbsrv::Connection& conn) {
    if (!text) throw ServerError(vdbsrv::errInvalidParameter, "no statement text");
    std::string_view sql = ArgText(text, size_t(1) << 28, "statement text");
    int64_t rows = conn.ExecuteImmediate(sql);
    SQLCOUNT(*ca) = static_cast<int32_t>(std::min<int64_t>(rows, INT32_MAX));
  });
}

int32_t NotImplemented(SQLCA* ca, const char* entryPoint) {
  return Call(ca, [&](ClientContext&) { throw ServerError(vdbsrv::errNotImplemented, entryPoint); });
}

}  // namespace vdblib
