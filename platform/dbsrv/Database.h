// A database running on an engine: one SQLite file, its transaction log,
// its PUBLIC options and the connections to it.
#pragma once

#include "dbsrv/Options.h"
#include "dbsrv/TransactionLog.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct sqlite3;

namespace vdbsrv {

class Connection;
class AlertStore;

class Database {
 public:
  // Opens and checks the file (ServerError -83 missing, -82 not a database
  // of this server or damaged) and opens its transaction log.
  Database(std::string file, std::string name, std::string engineName, std::string engineVersion,
           bool autoStop);
  ~Database();

  const std::string& File() const { return file_; }  // absolute, normalised
  const std::string& Name() const { return name_; }
  const std::string& EngineName() const { return engineName_; }
  const std::string& EngineVersion() const { return engineVersion_; }
  // Stops when its last connection leaves (started by a connect).
  bool AutoStop() const { return autoStop_; }
  int PageSize() const { return pageSize_; }
  TransactionLog& Log() { return log_; }
  const std::shared_ptr<PublicOptions>& Options() const { return options_; }

  // A new SQLite handle on the file with the server's settings; throws.
  sqlite3* OpenHandle(bool readOnly) const;

  // The store of the alert procedures, made on first use. Throws ServerError
  // when its tables cannot be made.
  AlertStore& Alerts();

  // The registry attaches and detaches connections.
  void Attach(Connection* c);
  void Detach(Connection* c);
  std::vector<Connection*> Connections() const;
  size_t ConnectionCount() const;
  // True when a connection other than except has uncommitted changes.
  bool OtherTransactionsOpen(const Connection* except) const;

 private:
  std::string file_, name_, engineName_, engineVersion_;
  bool autoStop_;
  int pageSize_ = 4096;
  TransactionLog log_;
  std::shared_ptr<PublicOptions> options_ = std::make_shared<PublicOptions>();
  mutable std::mutex mu_;                // guards connections_
  std::vector<Connection*> connections_; // not owned; each detaches before it dies
  std::mutex alertsMu_;                  // guards alerts_
  std::unique_ptr<AlertStore> alerts_;
};

}  // namespace vdbsrv
