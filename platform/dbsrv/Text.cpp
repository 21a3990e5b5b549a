#include "dbsrv/Text.h"

#include <cstring>

namespace vdbsrv {

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
    --e;
  return s.substr(b, e - b);
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string FileNamePart(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  if (slash != std::string_view::npos) path = path.substr(slash + 1);
  if (path.size() >= 2 && path[1] == ':') path = path.substr(2);
  return std::string(path);
}

std::string FilePrefix(std::string_view path) {
  std::string name = FileNamePart(path);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

size_t CopyText(char* dest, size_t size, std::string_view text) {
  if (!dest || size == 0) return 0;
  size_t n = std::min(size - 1, text.size());
  std::memcpy(dest, text.data(), n);
  dest[n] = '\0';
  return n;
}

}  // namespace vdbsrv
