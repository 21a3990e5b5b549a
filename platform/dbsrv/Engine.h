// A named database server running in this process.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vdbsrv {

class Database;

struct Engine {
  std::string name;      // as started; looked up without regard to case
  std::string version;   // reported engine version, e.g. "7.0.4.1"
  bool autoStop = false; // started by a connect: stops when its last connection leaves
  std::vector<std::shared_ptr<Database>> databases;  // in start order; the first is the default
};

}  // namespace vdbsrv
