// An online backup running on one connection: the database as a consistent
// snapshot taken when file 0 is opened, and the transaction log, both read
// page by page while other connections keep working.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vdbsrv {

class Connection;

enum BackupFile : int32_t { bfLog = -2, bfWrite = -1, bfDatabase = 0 };

class BackupSession {
 public:
  explicit BackupSession(Connection& connection);
  ~BackupSession();
  BackupSession(const BackupSession&) = delete;
  BackupSession& operator=(const BackupSession&) = delete;

  // The page size every read delivers at most.
  int32_t PageSize() const { return pageSize_; }

  // Opens file F: 0 the database, -2 the transaction log. Answers the
  // number of pages; name receives the server's file name. Throws
  // ServerError: errDbspaceNotFound for files that do not exist, errRuntime
  // when another file is still open.
  uint32_t Open(int32_t file, std::string& name);
  // Copies page number page of the open file F into dest (at most
  // PageSize() bytes); answers the bytes copied. With renameLog, reading
  // the last page of the log renames the log and restarts it; renamed then
  // receives the renamed file's name. Throws errBackupCannotRenameLogYet
  // while other connections have uncommitted changes.
  uint32_t ReadPage(int32_t file, uint32_t page, void* dest, bool renameLog, std::string& renamed);
  // Closes file F (removes its snapshot).
  void Close(int32_t file);

 private:
  std::string RenamedLogName() const;

  Connection& connection_;
  int32_t pageSize_;
  int32_t openFile_ = 0;
  bool isOpen_ = false;
  std::string snapshotPath_;   // temporary copy the pages are read from
  std::FILE* snapshot_ = nullptr;
  uint64_t snapshotBytes_ = 0;
  uint32_t pages_ = 0;
  bool renamed_ = false;
};

}  // namespace vdbsrv
