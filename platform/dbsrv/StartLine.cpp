#include "dbsrv/StartLine.h"

#include "dbsrv/Errors.h"
#include "dbsrv/Text.h"

namespace vdbsrv {

namespace {

std::vector<std::string> Words(std::string_view line) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string w;
    if (line[i] == '"') {
      size_t close = line.find('"', i + 1);
      if (close == std::string_view::npos) throw ServerError(errParse, line.substr(i, 64));
      w = std::string(line.substr(i + 1, close - i - 1));
      i = close + 1;
    } else {
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') w.push_back(line[i++]);
    }
    words.push_back(std::move(w));
  }
  return words;
}

// Switches of the server's command line that take an argument.
bool TakesArgument(std::string_view sw) {
  static const char* const withArg[] = {"-c", "-ch", "-cl", "-gd", "-gk", "-gn", "-gp", "-ti",
                                        "-tl", "-x", "-o", "-ot", "-z", "-ga", "-gm", "-ud"};
  for (const char* s : withArg)
    if (SameText(sw, s)) return true;
  return false;
}

}  // namespace

StartLine ParseStartLine(std::string_view line) {
  StartLine s;
  std::vector<std::string> words = Words(line);
  size_t i = 0;
  if (i < words.size() && (words[i].empty() || words[i][0] != '-')) s.program = words[i++];
  for (; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (!w.empty() && w[0] == '-') {
      bool hasNext = i + 1 < words.size();
      if (SameText(w, "-n")) {
        if (!hasNext) throw ServerError(errParse, w);
        s.engineName = words[++i];
      } else if (SameText(w, "-ev")) {
        if (!hasNext || MajorVersion(words[i + 1]) <= 0) throw ServerError(errParse, w);
        s.version = words[++i];
      } else if (TakesArgument(w) && hasNext) {
        ++i;
      }
    } else {
      s.databaseFiles.push_back(w);
    }
  }
  return s;
}

int MajorVersion(std::string_view version) {
  int v = 0;
  size_t i = 0;
  for (; i < version.size() && version[i] >= '0' && version[i] <= '9' && v < 1000; ++i)
    v = v * 10 + (version[i] - '0');
  return i == 0 ? 0 : v;
}

}  // namespace vdbsrv
