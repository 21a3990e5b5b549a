#include "dbsrv/Backup.h"

#include "dbsrv/Connection.h"
#include "dbsrv/Database.h"
#include "dbsrv/Errors.h"
#include "dbsrv/Server.h"
#include "dbsrv/Text.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace vdbsrv {

namespace fs = std::filesystem;

namespace {

std::string TempSnapshotPath() {
  static std::atomic<uint64_t> counter{0};
  auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path p = fs::temp_directory_path() /
               ("vdbsrv-backup-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1)) + "-" + std::to_string(tick));
  return p.string();
}

void CopyDatabase(const Database& db, const std::string& target) {
  // A handle of its own: the copy holds what is committed, whatever the
  // backing-up connection has pending. In WAL mode the copy runs in one
  // read transaction that writers do not wait for.
  sqlite3* source = db.OpenHandle(true);
  sqlite3* dest = nullptr;
  int rc = sqlite3_open_v2(target.c_str(), &dest, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                           nullptr);
  Error failure;
  if (rc == SQLITE_OK) {
    sqlite3_backup* b = sqlite3_backup_init(dest, "main", source, "main");
    if (!b) {
      failure = MapSqliteError(dest, sqlite3_errcode(dest));
    } else {
      rc = sqlite3_backup_step(b, -1);
      sqlite3_backup_finish(b);
      if (rc != SQLITE_DONE) failure = MapSqliteError(dest, rc);
      // The copy stands alone: no WAL file beside it is needed to open it.
      else sqlite3_exec(dest, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
    }
  } else {
    failure = MakeError(errIoError, "cannot create backup snapshot");
  }
  sqlite3_close_v2(dest);
  sqlite3_close_v2(source);
  if (failure.code != 0) {
    std::error_code ec;
    fs::remove(target, ec);
    throw ServerError(failure);
  }
}

}  // namespace

BackupSession::BackupSession(Connection& connection)
    : connection_(connection), pageSize_(connection.Db().PageSize()) {}

BackupSession::~BackupSession() {
  if (isOpen_) Close(openFile_);
}

uint32_t BackupSession::Open(int32_t file, std::string& name) {
  if (isOpen_) throw ServerError(errRuntime, "backup file " + std::to_string(openFile_) + " is still open");
  if (file != bfDatabase && file != bfLog) throw ServerError(errDbspaceNotFound, std::to_string(file));
  Database& db = connection_.Db();
  snapshotPath_ = TempSnapshotPath();
  if (file == bfDatabase) {
    CopyDatabase(db, snapshotPath_);
    name = db.File();
  } else {
    TransactionLog& log = db.Log();
    std::lock_guard lock(log.Mutex());
    std::error_code ec;
    fs::copy_file(log.Path(), snapshotPath_, fs::copy_options::overwrite_existing, ec);
    if (ec) throw ServerError(errIoError, "cannot copy " + log.Path());
    name = log.Path();
  }
  snapshot_ = std::fopen(snapshotPath_.c_str(), "rb");
  if (!snapshot_) {
    std::error_code ec;
    fs::remove(snapshotPath_, ec);
    throw ServerError(errIoError, "cannot read backup snapshot");
  }
  std::error_code ec;
  snapshotBytes_ = fs::file_size(snapshotPath_, ec);
  pages_ = static_cast<uint32_t>((snapshotBytes_ + pageSize_ - 1) / pageSize_);
  openFile_ = file;
  isOpen_ = true;
  renamed_ = false;
  return pages_;
}

std::string BackupSession::RenamedLogName() const {
  // The server's convention: yymmdd followed by a two-letter sequence.
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%y%m%d", &tm);
  fs::path dir = fs::path(connection_.Db().Log().Path()).parent_path();
  for (int n = 0; n < 26 * 26; ++n) {
    std::string file = std::string(stamp) + static_cast<char>('A' + n / 26) +
                       static_cast<char>('A' + n % 26) + ".log";
    fs::path candidate = dir / file;
    std::error_code ec;
    if (!fs::exists(candidate, ec)) return candidate.string();
  }
  throw ServerError(errIoError, "no free name for the renamed transaction log");
}

uint32_t BackupSession::ReadPage(int32_t file, uint32_t page, void* dest, bool renameLog,
                                 std::string& renamed) {
  if (!isOpen_ || file != openFile_)
    throw ServerError(errRuntime, "backup file " + std::to_string(file) + " is not open");
  if (page >= pages_)
    throw ServerError(errInvalidParameter, "backup page " + std::to_string(page) + " out of range");
  bool last = page + 1 == pages_;
  if (renameLog && file == bfLog && last && !renamed_) {
    Database& db = connection_.Db();
    TransactionLog& log = db.Log();
    std::lock_guard lock(log.Mutex());
    if (db.OtherTransactionsOpen(&connection_)) throw ServerError(errBackupCannotRenameLogYet);
    std::string newName = RenamedLogName();
    log.RenameAndRestart(newName, snapshotBytes_);
    Server::Instance().NoteRenamedLog(newName);
    renamed_ = true;
    renamed = newName;
  }
  uint64_t offset = uint64_t(page) * pageSize_;
  uint32_t bytes = static_cast<uint32_t>(std::min<uint64_t>(pageSize_, snapshotBytes_ - offset));
  if (std::fseek(snapshot_, static_cast<long>(offset), SEEK_SET) != 0 ||
      std::fread(dest, 1, bytes, snapshot_) != bytes)
    throw ServerError(errIoError, "cannot read backup snapshot");
  return bytes;
}

void BackupSession::Close(int32_t file) {
  if (!isOpen_ || file != openFile_)
    throw ServerError(errRuntime, "backup file " + std::to_string(file) + " is not open");
  if (snapshot_) std::fclose(snapshot_);
  snapshot_ = nullptr;
  std::error_code ec;
  fs::remove(snapshotPath_, ec);
  isOpen_ = false;
}

}  // namespace vdbsrv
