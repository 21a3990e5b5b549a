// Runs SQL through TAsaSQL: queries and procedure calls print their result
// sets through the shell's writer row by row, other statements report the
// rows they changed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rtl/Variants.h"

namespace vdb {
class TAsaSQL;
}

namespace vdbsql {

class TShell;

// One column := value of \modify; the value is text the statement converts.
using TAssignment = std::pair<std::string, std::string>;

class TQueryRunner {
 public:
  explicit TQueryRunner(TShell& Shell);
  ~TQueryRunner();
  TQueryRunner(const TQueryRunner&) = delete;
  TQueryRunner& operator=(const TQueryRunner&) = delete;

  // Any statement typed or read from a script; false when it failed (the
  // error is reported).
  bool RunStatement(const std::string& SQL);
  // A query with host-variable values ('?' markers); its rows are printed.
  bool RunQuery(const std::string& SQL, const std::vector<vcl::Variant>& Values);
  // The plan of a query.
  bool Explain(const std::string& SQL, std::string& Plan);
  // Opens SQL for update and writes Assignments into every row through the
  // cursor; Count tells how many rows were written.
  bool ModifyRows(const std::string& SQL, const std::vector<TAssignment>& Assignments, int64_t& Count);

 private:
  bool PrintCursor(vdb::TAsaSQL& Q);
  bool PrintResult(vdb::TAsaSQL& Q, bool RowCurrent, bool& Cancelled);

  TShell& FShell;
  std::unique_ptr<vdb::TAsaSQL> FQuery;  // reused: same text, no new prepare
  std::vector<vcl::Variant> FValues;      // the current row, reused
};

}  // namespace vdbsql
