#include "dbsrv/TypeMap.h"

#include "dbsrv/DialectLexer.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace vdbsrv {

namespace {

// Declared type -> type code and length. The first entry whose words the
// declaration starts with wins, so longer names come first.
//
//   declared type                         code  length
//   ------------------------------------  ----  ---------------------------
//   LONG VARCHAR, TEXT, CLOB, LONG NVARCHAR 456 32767
//   LONG BINARY, BLOB, IMAGE              528   32767
//   VARCHAR(n), CHARACTER VARYING(n),     448   n (1 without n)
//     NVARCHAR(n), CHAR VARYING(n)
//   CHAR(n), CHARACTER(n), NCHAR(n)       452   n (1 without n)
//   VARBINARY(n), BINARY VARYING(n)       524   n (1 without n)
//   BINARY(n)                             524   n (1 without n)
//   UNSIGNED BIGINT                       620   8
//   UNSIGNED SMALLINT                     616   2
//   UNSIGNED INT, UNSIGNED INTEGER        612   4
//   BIGINT                                608   8
//   SMALLINT                              500   2
//   TINYINT                               604   1
//   INTEGER, INT                          496   4
//   DOUBLE [PRECISION]                    480   8
//   FLOAT(p) with p > 24                  480   8
//   FLOAT, REAL                           482   4
//   DECIMAL(p,s), NUMERIC(p,s), DEC       484   p | s << 8 (30 and 6 when absent)
//   MONEY                                 484   19 | 4 << 8
//   TIMESTAMP, DATETIME                   392   26
//   DATE                                  384   10
//   TIME                                  388   8
//   BIT, BOOLEAN                          624   1
//   anything else by SQLite's affinity rules: containing INT 608 / 8,
//     CHAR, CLOB or TEXT 448 / 32767, BLOB 528 / 32767, REAL, FLOA or DOUB
//     480 / 8, otherwise (NUMERIC affinity) 480 / 8
struct Mapping {
  const char* words;  // upper case, single blanks
  int16_t code;
  uint16_t length;    // 0: the declared (n), 1 when absent
};

constexpr Mapping kMappings[] = {
    {"LONG VARCHAR", stLongVarchar, kLongLength},
    {"LONG NVARCHAR", stLongVarchar, kLongLength},
    {"TEXT", stLongVarchar, kLongLength},
    {"CLOB", stLongVarchar, kLongLength},
    {"LONG BINARY", stLongBinary, kLongLength},
    {"BLOB", stLongBinary, kLongLength},
    {"IMAGE", stLongBinary, kLongLength},
    {"CHARACTER VARYING", stVarchar, 0},
    {"CHAR VARYING", stVarchar, 0},
    {"VARCHAR", stVarchar, 0},
    {"NVARCHAR", stVarchar, 0},
    {"CHARACTER", stFixchar, 0},
    {"CHAR", stFixchar, 0},
    {"NCHAR", stFixchar, 0},
    {"VARBINARY", stBinary, 0},
    {"BINARY VARYING", stBinary, 0},
    {"BINARY", stBinary, 0},
    {"UNSIGNED BIGINT", stUnsBigint, 8},
    {"UNSIGNED SMALLINT", stUnsSmallint, 2},
    {"UNSIGNED INTEGER", stUnsInt, 4},
    {"UNSIGNED INT", stUnsInt, 4},
    {"BIGINT", stBigint, 8},
    {"SMALLINT", stSmallint, 2},
    {"TINYINT", stTinyint, 1},
    {"INTEGER", stInt, 4},
    {"INT", stInt, 4},
    {"DOUBLE", stDouble, 8},
    {"REAL", stFloat, 4},
    {"TIMESTAMP", stTimestamp, 26},
    {"DATETIME", stTimestamp, 26},
    {"DATE", stDate, 10},
    {"TIME", stTime, 8},
    {"BIT", stBit, 1},
    {"BOOLEAN", stBit, 1},
};

std::string Normalise(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Starts with the words w, followed by the end, a blank or "(".
bool StartsWithWords(const std::string& s, std::string_view w) {
  if (s.compare(0, w.size(), w) != 0) return false;
  return s.size() == w.size() || s[w.size()] == ' ' || s[w.size()] == '(';
}

// The numbers inside the first parentheses: (a) or (a, b); -1 when absent.
void Arguments(const std::string& s, long& a, long& b) {
  a = b = -1;
  size_t open = s.find('(');
  if (open == std::string::npos) return;
  const char* p = s.c_str() + open + 1;
  char* end = nullptr;
  a = std::strtol(p, &end, 10);
  if (end == p) {
    a = -1;
    return;
  }
  while (*end == ' ') ++end;
  if (*end == ',') b = std::strtol(end + 1, nullptr, 10);
}

uint16_t Clamp(long n) { return static_cast<uint16_t>(n < 1 ? 1 : n > kLongLength ? kLongLength : n); }

}  // namespace

SqlType MapDeclaredType(std::string_view declared) {
  std::string s = Normalise(declared);
  SqlType t;
  if (s.empty()) {
    t.code = stLongVarchar;
    t.length = kLongLength;
    return t;
  }
  long a, b;
  Arguments(s, a, b);
  if (StartsWithWords(s, "DECIMAL") || StartsWithWords(s, "NUMERIC") || StartsWithWords(s, "DEC") ||
      StartsWithWords(s, "MONEY")) {
    long precision = StartsWithWords(s, "MONEY") ? 19 : a > 0 ? a : 30;
    long scale = StartsWithWords(s, "MONEY") ? 4 : b >= 0 ? b : a > 0 ? 0 : 6;
    if (precision > 127) precision = 127;
    if (scale > precision) scale = precision;
    t.code = stDecimal;
    t.length = static_cast<uint16_t>(precision | (scale << 8));
    return t;
  }
  if (StartsWithWords(s, "FLOAT")) {
    t.code = a > 24 ? stDouble : stFloat;
    t.length = a > 24 ? 8 : 4;
    return t;
  }
  for (const Mapping& m : kMappings) {
    if (!StartsWithWords(s, m.words)) continue;
    t.code = m.code;
    t.length = m.length ? m.length : Clamp(a);
    return t;
  }
  // SQLite's affinity rules for names it does not know.
  if (s.find("INT") != std::string::npos) {
    t.code = stBigint;
    t.length = 8;
  } else if (s.find("CHAR") != std::string::npos || s.find("CLOB") != std::string::npos ||
             s.find("TEXT") != std::string::npos) {
    t.code = stVarchar;
    t.length = kLongLength;
  } else if (s.find("BLOB") != std::string::npos) {
    t.code = stLongBinary;
    t.length = kLongLength;
  } else {
    t.code = stDouble;
    t.length = 8;
  }
  return t;
}

namespace {

SqlType Make(int16_t code, uint16_t length) {
  SqlType t;
  t.code = code;
  t.length = length;
  return t;
}

bool IsText(const SqlType& t) {
  return t.code == stVarchar || t.code == stFixchar || t.code == stLongVarchar || t.code == stString;
}
bool IsInteger(const SqlType& t) {
  switch (t.code) {
    case stInt: case stSmallint: case stTinyint: case stBigint: case stUnsInt: case stUnsSmallint:
    case stUnsBigint: case stBit: return true;
    default: return false;
  }
}

class Typer {
 public:
  Typer(const std::vector<TToken>& t, const ColumnTypeLookup& c, const ParameterTypeLookup& p)
      : t_(t), columns_(c), parameters_(p) {}

  SqlType Type(size_t b, size_t e) {
    while (e > b + 1 && t_[b].IsOp("(") && Matching(b) == e - 1) {
      ++b;
      --e;
    }
    if (b >= e) return Make(stVarchar, kExpressionTextLength);
    // Loosest operators first: logic and comparison give 0 or 1.
    static constexpr const char* kCompare[] = {"=", "==", "<>", "!=", "<", ">", "<=", ">="};
    bool concat = false, arithmetic = false;
    for (size_t p = b; p < e; p = Skip(p)) {
      const TToken& k = t_[p];
      if (k.Is("and") || k.Is("or") || k.Is("not") || k.Is("like") || k.Is("glob") ||
          k.Is("between") || k.Is("in") || k.Is("is") || k.Is("exists") || k.Is("regexp"))
        return Make(stInt, 4);
      if (k.Kind == tkOperator) {
        for (const char* op : kCompare)
          if (k.Text == op) return Make(stInt, 4);
        if (k.IsOp("||")) concat = true;
        if (p > b && (k.IsOp("+") || k.IsOp("-") || k.IsOp("*") || k.IsOp("/") || k.IsOp("%") ||
                      k.IsOp("&") || k.IsOp("|") || k.IsOp("<<") || k.IsOp(">>")))
          arithmetic = true;
      }
    }
    if (concat) {
      unsigned length = 0;
      for (size_t p = b, start = b; p <= e; p = p < e ? Skip(p) : e + 1) {
        if (p == e || t_[p].IsOp("||")) {
          SqlType part = Type(start, p);
          length += IsText(part) || part.code == stBinary ? part.length : 20;
          start = p + 1;
        }
      }
      return Make(stVarchar, static_cast<uint16_t>(length > kExpressionTextLength ? kExpressionTextLength : length));
    }
    if (arithmetic) {
      bool allInteger = true;
      for (size_t p = b, start = b; p <= e; p = p < e ? Skip(p) : e + 1) {
        bool op = p < e && p > start && t_[p].Kind == tkOperator && !t_[p].IsOp("(");
        if (p == e || op) {
          if (p > start && !IsInteger(Type(start, p))) allInteger = false;
          start = p + 1;
        }
      }
      return allInteger ? Make(stBigint, 8) : Make(stDouble, 8);
    }
    return Primary(b, e);
  }

 private:
  size_t Matching(size_t open) const {
    int depth = 0;
    for (size_t p = open; p < t_.size(); ++p) {
      if (t_[p].IsOp("(")) ++depth;
      if (t_[p].IsOp(")") && --depth == 0) return p;
      if (t_[p].Kind == tkEnd) return p;
    }
    return t_.size() - 1;
  }
  // The token after p, stepping over a parenthesised group and CASE ... END.
  size_t Skip(size_t p) const {
    if (t_[p].IsOp("(")) return Matching(p) + 1;
    if (t_[p].Is("case")) {
      int depth = 0;
      for (size_t q = p; t_[q].Kind != tkEnd; ++q) {
        if (t_[q].Is("case")) ++depth;
        if (t_[q].Is("end") && --depth == 0) return q + 1;
      }
    }
    return p + 1;
  }

  SqlType Primary(size_t b, size_t e) {
    const TToken& k = t_[b];
    if (k.IsOp("-") || k.IsOp("+")) return Type(b + 1, e);
    if (e == b + 1) {
      if (k.Kind == tkNumber) {
        bool real = k.Text.find_first_of(".eE") != std::string_view::npos &&
                    !(k.Text.size() > 1 && (k.Text[1] == 'x' || k.Text[1] == 'X'));
        return real ? Make(stDouble, 8) : Make(stInt, 4);
      }
      if (k.Kind == tkString) return Make(stVarchar, Clamp(static_cast<long>(k.Value.size())));
      if (k.Kind == tkBlob) return Make(stBinary, Clamp(static_cast<long>(k.Text.size() - 3) / 2));
      if (k.Is("null")) return Make(stVarchar, 1);
      if (k.Is("current_date")) return Make(stDate, 10);
      if (k.Is("current_time")) return Make(stTime, 8);
      if (k.Is("current_timestamp")) return Make(stTimestamp, 26);
      SqlType t;
      if (k.Kind == tkHostMarker && parameters_ && !k.Value.empty() &&
          parameters_(std::strtol(k.Value.c_str(), nullptr, 10), t))
        return t;
    }
    if (k.Kind == tkWord || k.Kind == tkQuotedName) {
      // qualifier.name
      if (e == b + 3 && t_[b + 1].IsOp(".")) return Column(Name(k), Name(t_[b + 2]));
      if (e == b + 1) return Column({}, Name(k));
      if (t_[b + 1].IsOp("(")) return Function(b, e);
    }
    if (k.Is("case")) return Case(b, e);
    return Make(stVarchar, kExpressionTextLength);
  }

  static std::string_view Name(const TToken& k) {
    return k.Kind == tkQuotedName ? std::string_view(k.Value) : k.Text;
  }

  SqlType Column(std::string_view qualifier, std::string_view name) {
    SqlType t;
    if (columns_ && columns_(qualifier, name, t)) return t;
    return Make(stVarchar, kExpressionTextLength);
  }

  // Arguments of the call at b: ranges between its parentheses.
  std::vector<std::pair<size_t, size_t>> Args(size_t b) const {
    std::vector<std::pair<size_t, size_t>> args;
    size_t close = Matching(b + 1);
    size_t start = b + 2;
    for (size_t p = start; p <= close; p = p < close ? Skip(p) : close + 1) {
      if (p == close || t_[p].IsOp(",")) {
        if (p > start) args.emplace_back(start, p);
        start = p + 1;
      }
    }
    return args;
  }

  SqlType Function(size_t b, size_t e) {
    std::string f = LowerName(t_[b].Text);
    auto args = Args(b);
    auto first = [&] { return args.empty() ? Make(stVarchar, kExpressionTextLength) : Type(args[0].first, args[0].second); };
    if (f == "count" || f == "length" || f == "instr" || f == "unicode" || f == "sign" ||
        f == "octet_length" || f == "row_number" || f == "rank" || f == "dense_rank")
      return Make(stInt, 4);
    if (f == "random" || f == "changes" || f == "total_changes" || f == "last_insert_rowid")
      return Make(stBigint, 8);
    if (f == "sum") {
      SqlType a = first();
      return IsInteger(a) ? Make(stBigint, 8) : Make(stDouble, 8);
    }
    if (f == "avg" || f == "total" || f == "julianday" || f == "round" || f == "pi" || f == "sqrt" ||
        f == "power" || f == "pow" || f == "exp" || f == "ln" || f == "log" || f == "log10")
      return Make(stDouble, 8);
    if (f == "min" || f == "max" || f == "coalesce" || f == "ifnull" || f == "nullif" ||
        f == "abs" || f == "likely" || f == "unlikely")
      return first();
    if (f == "upper" || f == "lower" || f == "trim" || f == "ltrim" || f == "rtrim" ||
        f == "replace" || f == "substr" || f == "substring") {
      SqlType a = first();
      return Make(stVarchar, IsText(a) && a.code != stLongVarchar ? a.length : kExpressionTextLength);
    }
    if (f == "date") return Make(stDate, 10);
    if (f == "time") return Make(stTime, 8);
    if (f == "datetime") return Make(stTimestamp, 26);
    if (f == "cast" && !args.empty()) {
      // cast(x AS type): the type words after AS.
      for (size_t p = args[0].first; p < args[0].second; p = Skip(p))
        if (t_[p].Is("as")) {
          std::string decl;
          for (size_t q = p + 1; q < args[0].second; ++q) decl += std::string(t_[q].Gap) + std::string(t_[q].Text);
          return MapDeclaredType(decl);
        }
    }
    if (f == "zeroblob" || f == "randomblob") return Make(stLongBinary, kLongLength);
    (void)e;
    return Make(stVarchar, kExpressionTextLength);
  }

  SqlType Case(size_t b, size_t e) {
    for (size_t p = b + 1; p < e; p = Skip(p)) {
      if (!t_[p].Is("then")) continue;
      size_t q = p + 1;
      while (q < e && !t_[q].Is("when") && !t_[q].Is("else") && !t_[q].Is("end")) q = Skip(q);
      return Type(p + 1, q);
    }
    return Make(stVarchar, kExpressionTextLength);
  }

  const std::vector<TToken>& t_;
  const ColumnTypeLookup& columns_;
  const ParameterTypeLookup& parameters_;
};

}  // namespace

SqlType ExpressionType(const std::vector<TToken>& Tokens, size_t B, size_t E,
                       const ColumnTypeLookup& Columns, const ParameterTypeLookup& Parameters) {
  Typer typer(Tokens, Columns, Parameters);
  SqlType t = typer.Type(B, E);
  t.nullable = true;
  return t;
}

}  // namespace vdbsrv
