// The engine command line of a "start=" item ("dbeng7 -n sales -ev 6.0.3.2 sales.db").
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vdbsrv {

// What we honour of an engine command line. Switches we do not know are
// accepted and ignored, with their argument when they take one.
struct StartLine {
  std::string program;                     // first word (the engine executable)
  std::string engineName;                  // -n name
  std::string version;                     // -ev version text, e.g. "6.0.3.2"
  std::vector<std::string> databaseFiles;  // plain arguments after the switches
};

StartLine ParseStartLine(std::string_view line);

// The major number of a version text ("7.0.4.1" gives 7), 0 when none.
int MajorVersion(std::string_view version);

}  // namespace vdbsrv
