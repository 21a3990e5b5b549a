// The transaction log kept beside each database: every committed
// transaction appended as one record holding its changing statements, so that
// the changes can be replayed onto a copy of the database.
//
// File layout (integers little-endian):
//   header  "VDBTLOG1" (8 bytes), u64 number of the first record
//   record  u32 payload bytes, u64 record number, payload
//   payload u32 statement count, then per statement u32 bytes + entry
//   entry   SQL text, or a statement with the values bound to its parameters:
//           a NUL byte (SQL text never starts with one), u32 bytes + SQL text,
//           u32 value count, per value a kind byte (SqlValueKind) and its
//           payload (none for NULL, 8 bytes for an integer or a double's bits,
//           u32 bytes + bytes for text and blobs). Values are kept exactly as
//           bound, which no SQL literal does for every double.
#pragma once

#include "dbsrv/SqlValue.h"

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace vdbsrv {

class TransactionLog {
 public:
  static constexpr size_t kHeaderSize = 16;

  // Opens (creating when missing) the log at path; throws ServerError.
  explicit TransactionLog(std::string path);

  const std::string& Path() const { return path_; }

  // The log's name for a database file: its extension replaced by ".log".
  static std::string PathFor(std::string_view databaseFile);

  // Serialises commits against renames; Append and RenameAndRestart expect
  // the caller to hold it.
  std::mutex& Mutex() { return mu_; }
  // The entry for a statement executed with these values bound to its
  // parameters, in order.
  static std::string BoundEntry(std::string_view sql, std::span<const SqlValue> values);

  // Appends one committed transaction (no-op for an empty one).
  void Append(const std::vector<std::string>& statements);
  // Current size in bytes.
  uint64_t Size() const;
  // Renames the log to newPath keeping exactly its first keepBytes, and
  // restarts it holding whatever followed (records appended after a backup
  // took its copy).
  void RenameAndRestart(const std::string& newPath, uint64_t keepBytes);

  // Replays every record of the log file at path onto db, one transaction
  // per record; answers the records applied. Throws ServerError on a damaged
  // log or a failing statement.
  static size_t Replay(sqlite3* db, const std::string& path);

 private:
  void WriteHeader(uint64_t firstRecord);

  std::string path_;
  std::mutex mu_;
  uint64_t nextRecord_ = 0;
};

}  // namespace vdbsrv
