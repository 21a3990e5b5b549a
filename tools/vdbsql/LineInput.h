// Where interactive lines come from: the line editor with history on a
// terminal (when the tool was built with libedit), plain reads otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vdbsql {

enum TReadResult : uint8_t {
  rrLine,       // a line was read
  rrEnd,        // end of input
  rrInterrupt,  // Ctrl-C while waiting for the line
};

class TLineInput {
 public:
  virtual ~TLineInput() = default;
  virtual TReadResult ReadLine(const std::string& Prompt, std::string& Line) = 0;
  // Remembers a finished statement or command for the history.
  virtual void AddHistory(const std::string& /*Entry*/) {}
};

// With Terminal, lines are edited and prompted for; the history lives in
// HistoryFile (none when empty).
std::unique_ptr<TLineInput> CreateLineInput(bool Terminal, const std::string& HistoryFile);

}  // namespace vdbsql
