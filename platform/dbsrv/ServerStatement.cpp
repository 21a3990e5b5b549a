#include "dbsrv/ServerStatement.h"

#include "dbsrv/Errors.h"
#include "dbsrv/Text.h"

#include <vector>

namespace vdbsrv {

namespace {

struct Token {
  std::string text;   // word in lower case, or the string's content
  bool quoted = false;
  char symbol = 0;    // '=', '.', ';' or 0
};

// Nothing here is worth tokenising a long text for.
constexpr size_t kMaxTokens = 16;

bool Tokenise(std::string_view s, std::vector<Token>& out) {
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '\'') {
      std::string v;
      ++i;
      for (;;) {
        if (i >= s.size()) return false;
        if (s[i] == '\'') {
          if (i + 1 < s.size() && s[i + 1] == '\'') {
            v.push_back('\'');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        v.push_back(s[i++]);
      }
      out.push_back({std::move(v), true, 0});
    } else if (c == '=' || c == '.' || c == ';') {
      out.push_back({std::string(1, c), false, c});
      ++i;
    } else {
      size_t b = i;
      while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\r' && s[i] != '\n' &&
             s[i] != '=' && s[i] != '.' && s[i] != ';' && s[i] != '\'')
        ++i;
      out.push_back({LowerCase(s.substr(b, i - b)), false, 0});
    }
    if (out.size() > kMaxTokens) return false;
  }
  if (!out.empty() && out.back().symbol == ';') out.pop_back();
  return true;
}

bool IsWord(const Token& t, const char* w) { return !t.quoted && t.symbol == 0 && t.text == w; }

}  // namespace

std::optional<ServerStatement> ParseServerStatement(std::string_view text) {
  std::string_view t = Trim(text);
  // Cheap first-word filter: most texts are plain SQL.
  size_t sp = t.find_first_of(" \t\r\n;'");
  std::string first = LowerCase(t.substr(0, sp == std::string_view::npos ? t.size() : sp));
  if (first != "commit" && first != "rollback" && first != "begin" && first != "set" &&
      first != "message" && first != "create")
    return std::nullopt;
  std::vector<Token> tk;
  if (!Tokenise(t, tk) || tk.empty()) return std::nullopt;
  auto endsAfter = [&](size_t n) { return tk.size() == n; };
  auto optionalWorkAt = [&](size_t i) {
    return endsAfter(i) || (endsAfter(i + 1) && (IsWord(tk[i], "work") || IsWord(tk[i], "transaction")));
  };
  ServerStatement s{};
  if (IsWord(tk[0], "commit") && optionalWorkAt(1)) {
    s.kind = sskCommit;
    return s;
  }
  if (IsWord(tk[0], "rollback") && optionalWorkAt(1)) {
    s.kind = sskRollback;
    return s;
  }
  if (IsWord(tk[0], "begin") && optionalWorkAt(1)) {
    s.kind = sskBegin;
    return s;
  }
  if (IsWord(tk[0], "set")) {
    size_t i = 1;
    if (i < tk.size() && IsWord(tk[i], "temporary")) ++i;
    if (i >= tk.size() || !IsWord(tk[i], "option")) return std::nullopt;
    ++i;
    s.kind = sskSetOption;
    if (i + 1 < tk.size() && tk[i + 1].symbol == '.') {
      s.isPublic = tk[i].text == "public";
      i += 2;
    }
    if (i + 1 >= tk.size() || tk[i].symbol || tk[i + 1].symbol != '=')
      throw ServerError(errSyntax, t.substr(0, 64));
    s.name = tk[i].text;
    i += 2;
    if (i == tk.size()) {
      s.value.clear();  // "set option x =" resets to the default
    } else if (i + 1 == tk.size() && tk[i].symbol == 0) {
      s.value = tk[i].text;
    } else {
      throw ServerError(errSyntax, t.substr(0, 64));
    }
    return s;
  }
  if (IsWord(tk[0], "message")) {
    if (tk.size() < 2 || !tk[1].quoted) return std::nullopt;  // expressions go elsewhere
    s.kind = sskMessage;
    s.text = tk[1].text;
    size_t i = 2;
    if (i < tk.size() && IsWord(tk[i], "type")) {
      if (i + 1 >= tk.size()) throw ServerError(errSyntax, t.substr(0, 64));
      const std::string& ty = tk[i + 1].text;
      if (ty == "info") s.messageType = mtInfo;
      else if (ty == "warning") s.messageType = mtWarning;
      else if (ty == "action") s.messageType = mtAction;
      else if (ty == "status") s.messageType = mtStatus;
      else throw ServerError(errSyntax, ty);
      i += 2;
    }
    if (i < tk.size() && IsWord(tk[i], "to")) {
      if (i + 1 >= tk.size() || !IsWord(tk[i + 1], "client")) throw ServerError(errSyntax, t.substr(0, 64));
      i += 2;
    }
    if (i != tk.size()) throw ServerError(errSyntax, t.substr(0, 64));
    return s;
  }
  if (IsWord(tk[0], "create") && tk.size() >= 2 && IsWord(tk[1], "database")) {
    if (tk.size() != 3 || !tk[2].quoted) throw ServerError(errSyntax, t.substr(0, 64));
    s.kind = sskCreateDatabase;
    s.text = tk[2].text;
    return s;
  }
  return std::nullopt;
}

}  // namespace vdbsrv
