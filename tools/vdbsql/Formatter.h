// Result printers: table, CSV, TSV and JSON. Each takes the rows one at a
// time and writes them out as they come, so a result of any size prints in
// constant memory (the table keeps only its first rows to size the columns).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "Options.h"
#include "core/VdbBase.h"
#include "rtl/Variants.h"

namespace vdbsql {

struct TResultColumn {
  std::string Name;
  vdb::TVantorFieldTypes Type = vdb::vtString;
  int32_t Decimals = 0;  // a decimal column's scale: its values print with that many decimals
};

class TResultWriter {
 public:
  TResultWriter(std::FILE* Out, std::string NullText, bool NoHeader)
      : FOut(Out), FNullText(std::move(NullText)), FNoHeader(NoHeader) {}
  virtual ~TResultWriter() = default;
  TResultWriter(const TResultWriter&) = delete;
  TResultWriter& operator=(const TResultWriter&) = delete;

  // A result set begins; its rows follow.
  virtual void BeginResult(const std::vector<TResultColumn>& Columns);
  // One row, a value per column (Null for NULL).
  virtual void Row(const std::vector<vcl::Variant>& Values) = 0;
  // The result set ended (also when fetching stopped early).
  virtual void EndResult() {}
  // A statement without a result changed Count rows.
  virtual void RowsAffected(int64_t /*Count*/) {}

  int64_t RowCount() const { return FRowCount; }

 protected:
  void Write(const std::string& Text) { std::fwrite(Text.data(), 1, Text.size(), FOut); }

  std::FILE* FOut;                      // where the rows go (not owned)
  std::string FNullText;                // what NULL prints as
  bool FNoHeader;                       // leave out the column names
  std::vector<TResultColumn> FColumns;  // of the current result
  int64_t FRowCount = 0;                // rows of the current result so far
  std::string FLine;                    // scratch line, reused row after row
  std::string FCell;                    // scratch value text, reused the same way
};

std::unique_ptr<TResultWriter> CreateResultWriter(TOutputFormat Format, std::FILE* Out, const std::string& NullText,
                                                  bool NoHeader);

}  // namespace vdbsql
