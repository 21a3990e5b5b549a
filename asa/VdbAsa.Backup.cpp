// Online backup: the database files and the transaction log copied page by
// page into a local directory, with the log's rename, restart or deletion
// on the server as the backup type says.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "asa/VdbAsa.h"
#include "rtl/FileUtils.h"
#include "rtl/StrUtils.h"
#include "rtl/Windows.h"

namespace vdb {

namespace {

constexpr char kBackupMediaError[] = "Not able to backup to the selected media.";
constexpr char kBackupAborted[] = "User aborted backup operation.";
constexpr char kBackupRenameError[] = "Unable to rename local transaction log.";
constexpr int32_t kLastDatabaseFile = 12;
constexpr uint32_t kRenameRetryDelay = 1000;

bool LogOnly(TBackupType T) { return T == btRenameLog || T == btRenameLocalLog || T == btRestartLog; }

// The server's file name in sqlerrmc, reduced to its file-name part.
std::string ServerFileName(const SQLCA& Ca) {
  const size_t N = strnlen(Ca.sqlerrmc, sizeof Ca.sqlerrmc);
  return vcl::Trim(vcl::ExtractFileName(std::string(Ca.sqlerrmc, N)));
}

struct TFileCloser {
  void operator()(std::FILE* F) const {
    if (F != nullptr) std::fclose(F);
  }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

}  // namespace

bool TAsaSession::Backup(const std::string& Directory, TBackupType BackupType) {
  InternalNeedLibrary();
  std::string Dir = Directory;
  for (char& C : Dir)
    if (C == '\\') C = '/';
  if (!Dir.empty() && Dir.back() != '/') Dir += '/';

  FProcs.db_backup(FCurrentSqlca, DB_BACKUP_START, 0, 0, nullptr);
  if (!Check(FWantExceptions)) return false;

  // Whatever happens now, the backup ends on the server.
  struct TEndBackup {
    TAsaSession& S;
    ~TEndBackup() {
      const SQLCA Saved = *S.FCurrentSqlca;
      S.FProcs.db_backup(S.FCurrentSqlca, DB_BACKUP_END, 0, 0, nullptr);
      *S.FCurrentSqlca = Saved;
    }
  } End{*this};

  const int32_t PageSize = SQLCOUNT(*FCurrentSqlca);
  if (PageSize <= 0 || PageSize > 0xFFFF - 2) RaiseAsa("Invalid backup page size", 0);
  std::vector<unsigned char> Buffer(static_cast<size_t>(PageSize) + 2);
  SQLDA* Page = FProcs.alloc_sqlda(1);
  if (Page == nullptr) throw std::bad_alloc();
  struct TFreeSqlda {
    const TAsaSessionProcs& P;
    SQLDA* Da;
    ~TFreeSqlda() { P.free_sqlda(Da); }
  } FreePage{FProcs, Page};
  Page->sqld = 1;
  Page->sqlvar[0].sqltype = DT_BINARY;
  Page->sqlvar[0].sqllen = static_cast<uint16_t>(Buffer.size());
  Page->sqlvar[0].sqldata = Buffer.data();

  bool AnyDatabaseFile = false;
  if (LogOnly(BackupType)) {
    BackupFile(Dir, BackupType, DB_BACKUP_FILE_LOG, Page);
  } else {
    for (int32_t F = 0; F <= kLastDatabaseFile; ++F) {
      if (!BackupFile(Dir, BackupType, F, Page)) break;
      AnyDatabaseFile = true;
    }
    if (AnyDatabaseFile) {
      BackupFile(Dir, BackupType, DB_BACKUP_FILE_WRITE, Page);
      BackupFile(Dir, BackupType, DB_BACKUP_FILE_LOG, Page);
    }
  }
  return AnyDatabaseFile;
}

bool TAsaSession::BackupFile(const std::string& Directory, TBackupType BackupType, int32_t File, SQLDA* Page) {
  SQLCA* Ca = FCurrentSqlca;
  FProcs.db_backup(Ca, DB_BACKUP_OPEN_FILE, File, 0, nullptr);
  // Past the last database file and without a write file the open fails
  // by design: that ends the sequence and is no error to raise.
  const bool MayBeMissing = File > 0 || File == DB_BACKUP_FILE_WRITE;
  if (!Check(FWantExceptions && !MayBeMissing)) return false;

  struct TCloseFile {
    TAsaSession& S;
    int32_t File;
    ~TCloseFile() {
      const SQLCA Saved = *S.FCurrentSqlca;
      S.FProcs.db_backup(S.FCurrentSqlca, DB_BACKUP_CLOSE_FILE, File, 0, nullptr);
      *S.FCurrentSqlca = Saved;
    }
  } Close{*this, File};

  const int32_t Pages = SQLCOUNT(*Ca);
  const std::string Target = Directory + ServerFileName(*Ca);
  const bool IsLog = File == DB_BACKUP_FILE_LOG;
  const int32_t Operation = IsLog && BackupType != btFull ? DB_BACKUP_READ_RENAME_LOG : DB_BACKUP_READ_PAGE;
  const bool WritesLocally = BackupType != btRenameLog && BackupType != btRestartLog;

  TFilePtr Out;
  if (WritesLocally) {
    Out.reset(std::fopen(Target.c_str(), "wb"));
    if (!Out) RaiseLastError(kBackupMediaError, 0);
  }
  const auto* Data = static_cast<const unsigned char*>(Page->sqlvar[0].sqldata);
  bool AllPages = true;
  for (int32_t P = 0; P < Pages; ++P) {
    for (;;) {
      FProcs.db_backup(Ca, Operation, File, static_cast<uint32_t>(P), Page);
      if (Ca->sqlcode != SQLE_BACKUP_CANNOT_RENAME_LOG_YET) break;
      vcl::Sleep(kRenameRetryDelay);
    }
    if (!Check(FWantExceptions)) {
      AllPages = false;
      break;
    }
    uint16_t Length = 0;
    std::memcpy(&Length, Data, sizeof Length);
    if (Length > Page->sqlvar[0].sqllen - 2) Length = static_cast<uint16_t>(Page->sqlvar[0].sqllen - 2);
    if (Out && Length > 0 && std::fwrite(Data + 2, 1, Length, Out.get()) != Length)
      RaiseLastError(kBackupMediaError, 0);
    if (FOnBackup) {
      bool Abort = false;
      FOnBackup(this, Target, P + 1, Pages, Abort);
      if (Abort) RaiseLastError(kBackupAborted, 0);
    }
  }
  if (Out) {
    std::FILE* F = Out.release();
    if (std::fclose(F) != 0) RaiseLastError(kBackupMediaError, 0);
  }
  if (!AllPages) return false;

  if (IsLog && (BackupType == btFullRestartLog || BackupType == btRestartLog)) {
    const std::string Renamed(Ca->sqlerrmc, strnlen(Ca->sqlerrmc, sizeof Ca->sqlerrmc));
    FProcs.db_delete_file(Ca, Renamed.c_str());
    return Check(FWantExceptions);
  }
  if (IsLog && (BackupType == btFullRenameLocalLog || BackupType == btRenameLocalLog)) {
    const std::string LocalName = Directory + ServerFileName(*Ca);
    if (!vcl::RenameFile(Target, LocalName)) RaiseLastError(kBackupRenameError, 0);
  }
  return true;
}

}  // namespace vdb
