// Server options of one connection: the known options with their defaults
// and value rules, PUBLIC settings shared by the database's connections, and
// the connection's own (temporary) settings over them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace vdbsrv {

// PUBLIC settings of one running database, shared by its connections.
class PublicOptions {
 public:
  // The PUBLIC value of a known or user-defined option; false when neither.
  bool Get(std::string_view name, std::string& value) const;
  // Sets a PUBLIC value; a name no option has yet defines a new option.
  void Set(std::string_view name, std::string value);

 private:
  mutable std::mutex mu_;
  std::map<std::string, std::string> values_;  // lower-case name -> value, overrides defaults
};

class OptionStore {
 public:
  explicit OptionStore(std::shared_ptr<PublicOptions> publicOptions);

  // The connection's value. Throws ServerError(errInvalidOption) for a name
  // that is neither a known option nor a PUBLIC one.
  std::string Get(std::string_view name) const;
  // Checks the value against the option's rule and stores it for this
  // connection, or as PUBLIC setting with isPublic. Values of known options
  // are normalised (ON/OFF in capitals). Throws errInvalidOption or
  // errInvalidOptionSetting.
  void Set(std::string_view name, std::string_view value, bool isPublic = false);

  // Cached values of the options the engine itself applies.
  int IsolationLevel() const { return isolationLevel_; }
  bool RowCounts() const { return rowCounts_; }
  bool Blocking() const { return blocking_; }
  int BlockingTimeoutMs() const { return blockingTimeout_; }

 private:
  void Refresh(const std::string& lowerName, const std::string& value);

  std::shared_ptr<PublicOptions> public_;
  std::map<std::string, std::string> own_;  // lower-case name -> temporary setting
  int isolationLevel_ = 0;                  // "isolation_level" 0..3
  bool rowCounts_ = false;                  // "row_counts": exact counts at cursor open
  bool blocking_ = true;                    // "blocking": wait for locks
  int blockingTimeout_ = 5000;              // "blocking_timeout" ms, 0 = no limit
};

}  // namespace vdbsrv
