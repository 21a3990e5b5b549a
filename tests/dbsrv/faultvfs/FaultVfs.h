// A SQLite VFS for tests that wraps the default one and injects faults into
// the files of one database: writes fail as on a full disk once a byte budget
// is spent, reads and syncs fail with I/O errors. It installs itself as the
// default VFS, so every handle the server opens afterwards goes through it
// without the server knowing; files outside the target pass straight through.
#pragma once

#include <cstdint>
#include <string>

namespace vdbtest {

class FaultVfs {
 public:
  // Registers the wrapper as the default VFS (once per process) and answers
  // it with every fault switched off.
  static FaultVfs& Install();

  // Files whose names start with Prefix (a database file: its journal and
  // WAL file share the prefix) receive the faults.
  void Target(const std::string& Prefix);
  // Writes succeed for Bytes more bytes in total, then fail with SQLITE_FULL
  // (the write that crosses the budget writes nothing); negative: no limit.
  void FailWritesAfter(int64_t Bytes);
  void FailReads(bool On);
  void FailSyncs(bool On);
  // Switches every fault off and forgets the target.
  void Clear();
  // Faults injected since the last Clear.
  int64_t Injected() const;
};

// Clears the faults when it goes out of scope, so a failing assertion never
// leaves them armed for the next test.
class FaultScope {
 public:
  FaultScope() : Vfs(FaultVfs::Install()) { Vfs.Clear(); }
  ~FaultScope() { Vfs.Clear(); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
  FaultVfs& Vfs;
};

}  // namespace vdbtest
