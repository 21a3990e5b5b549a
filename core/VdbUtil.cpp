#include "core/VdbUtil.h"

#include <cstdint>
#include <cstring>

#include "rtl/FileUtils.h"
#include "rtl/StrUtils.h"

namespace vdb {

namespace {

// Token kinds of the scanner. The nine from tkSelect to tkForUpdate are the
// section keywords; the section a caller keeps is one of them or tkNone.
enum TTokenKind : uint8_t {
  tkNone,
  tkTableName,
  tkFieldName,
  tkAscending,
  tkDescending,
  tkSelect,
  tkFrom,
  tkWhere,
  tkGroupBy,
  tkHaving,
  tkUnion,
  tkPlan,
  tkOrderBy,
  tkForUpdate,
  tkEnd,
  tkPredicate,
  tkValue,
  tkIsNull,
  tkIsNotNull,
  tkLike,
  tkAnd,
  tkOr,
  tkNumber,
  tkAllFields,
  tkComment,
  tkDistinct,
  tkAssignment,
};

bool IsSectionKeyword(TTokenKind Kind) { return Kind >= tkSelect && Kind <= tkForUpdate; }

bool IsSeparator(char C) { return C == '\0' || C == '\n' || C == '\r' || C == ' ' || C == ','; }
bool IsQuote(char C) { return C == '"' || C == '\'' || C == '`'; }
bool IsPredicateChar(char C) { return C == '<' || C == '=' || C == '>'; }
bool IsDigit(char C) { return C >= '0' && C <= '9'; }

bool SameWord(const std::string& Text, const std::string& Keyword) {
  return vcl::AnsiCompareText(Text, Keyword) == 0;
}

// The text between the enclosing quotes, doubled quotes folded to one;
// empty when Text does not start with Quote.
std::string ExtractQuoted(const char* Begin, const char* End, char Quote) {
  std::string Result;
  if (Begin == End || *Begin != Quote) return Result;
  for (const char* P = Begin + 1; P < End; ++P) {
    if (*P == Quote) {
      if (P + 1 < End && P[1] == Quote) {
        Result += Quote;
        ++P;
      } else {
        break;
      }
    } else {
      Result += *P;
    }
  }
  return Result;
}

struct TToken {
  TTokenKind Kind = tkEnd;  // what the token is
  std::string Text;         // its text (quotes removed, joined keywords)
};

// One scanner step over the zero-terminated text at Pos. Section changes how
// '*', DISTINCT and plain words are classified. With LookAhead false the
// multi-word keywords (IS NULL, GROUP BY, ...) are not joined: the look-ahead
// itself scans that way, which keeps every step flat (no recursion over a run
// of IS) and does not change which words match, since a joined keyword never
// equals the single word looked for.
TToken NextToken(const char*& Pos, TTokenKind Section, bool LookAhead = true);

// Scans the next token and consumes it only when its text is Word.
bool NextWordIs(const char*& Pos, TTokenKind Section, const std::string& Word) {
  const char* Ahead = Pos;
  TToken Next = NextToken(Ahead, Section, false);
  if (!SameWord(Next.Text, Word)) return false;
  Pos = Ahead;
  return true;
}

TTokenKind ClassifyWord(std::string& Text, const char*& Pos, TTokenKind Section, bool DotSeen,
                        bool LookAhead) {
  static const std::string kDistinct = "DISTINCT", kAsc = "ASC", kAscending = "ASCENDING",
                           kDesc = "DESC", kDescending = "DESCENDING", kSelect = "SELECT",
                           kAnd = "AND", kOr = "OR", kLike = "LIKE", kIs = "IS", kNull = "NULL",
                           kNot = "NOT", kFrom = "FROM", kWhere = "WHERE", kGroup = "GROUP",
                           kBy = "BY", kHaving = "HAVING", kUnion = "UNION", kPlan = "PLAN",
                           kFor = "FOR", kUpdate = "UPDATE", kOrder = "ORDER";

  if (Text.empty()) return tkEnd;
  if (Text == "*" && Section == tkSelect) return tkAllFields;
  if (DotSeen) return tkFieldName;
  if (Section == tkSelect && SameWord(Text, kDistinct)) return tkDistinct;
  if (SameWord(Text, kAsc) || SameWord(Text, kAscending)) return tkAscending;
  if (SameWord(Text, kDesc) || SameWord(Text, kDescending)) return tkDescending;
  if (SameWord(Text, kSelect)) return tkSelect;
  if (SameWord(Text, kAnd)) return tkAnd;
  if (SameWord(Text, kOr)) return tkOr;
  if (SameWord(Text, kLike)) return tkLike;
  if (SameWord(Text, kIs)) {
    if (LookAhead) {
      if (NextWordIs(Pos, Section, kNull)) {
        Text = "IS NULL";
        return tkIsNull;
      }
      const char* Ahead = Pos;
      if (NextWordIs(Ahead, Section, kNot) && NextWordIs(Ahead, Section, kNull)) {
        Pos = Ahead;
        Text = "IS NOT NULL";
        return tkIsNotNull;
      }
    }
    return tkValue;
  }
  if (SameWord(Text, kFrom)) return tkFrom;
  if (SameWord(Text, kWhere)) return tkWhere;
  if (LookAhead && SameWord(Text, kGroup) && NextWordIs(Pos, Section, kBy)) {
    Text = "GROUP BY";
    return tkGroupBy;
  }
  if (SameWord(Text, kHaving)) return tkHaving;
  if (SameWord(Text, kUnion)) return tkUnion;
  if (SameWord(Text, kPlan)) return tkPlan;
  if (LookAhead && SameWord(Text, kFor) && NextWordIs(Pos, Section, kUpdate)) {
    Text = "FOR UPDATE";
    return tkForUpdate;
  }
  if (LookAhead && SameWord(Text, kOrder) && NextWordIs(Pos, Section, kBy)) {
    Text = "ORDER BY";
    return tkOrderBy;
  }
  if (SameWord(Text, kNull)) return tkValue;
  return Section == tkFrom ? tkTableName : tkFieldName;
}

TToken NextToken(const char*& Pos, TTokenKind Section, bool LookAhead) {
  TToken Token;
  const char* Start = nullptr;
  bool DotSeen = false;
  for (;;) {
    const char C = *Pos;
    if (IsSeparator(C)) {
      if (Start != nullptr) {
        Token.Text.assign(Start, Pos);
        Token.Kind = ClassifyWord(Token.Text, Pos, Section, DotSeen, LookAhead);
        return Token;
      }
      if (C == '\0') return Token;
      while (*Pos != '\0' && IsSeparator(*Pos)) ++Pos;
      continue;
    }
    if (IsQuote(C)) {
      if (Start == nullptr) Start = Pos;
      const char* Open = Pos;
      ++Pos;
      while (*Pos != '\0' && *Pos != C) ++Pos;
      if (*Pos == '\0') {
        // Unclosed: the quote is an ordinary character of the token.
        Pos = Open + 1;
        continue;
      }
      ++Pos;
      Token.Text = ExtractQuoted(Start, Pos, C);
      Token.Kind = DotSeen ? tkFieldName : (*Pos == '.' ? tkTableName : tkValue);
      return Token;
    }
    if (C == '.') {
      if (Start != nullptr) {
        Token.Text.assign(Start, Pos);
        Token.Kind = tkTableName;
        return Token;
      }
      DotSeen = true;
      ++Pos;
      continue;
    }
    if (C == '/') {
      if (Start == nullptr) Start = Pos;
      ++Pos;
      if (*Pos == '/') {
        while (*Pos != '\0' && *Pos != '\n' && *Pos != '\r') ++Pos;
        Token.Text.assign(Start, Pos);
        Token.Kind = tkComment;
        return Token;
      }
      if (*Pos == '*') {
        ++Pos;
        while (*Pos != '\0' && !(Pos[0] == '*' && Pos[1] == '/')) ++Pos;
        Token.Text.assign(Start, Pos);
        if (*Pos != '\0') Pos += 2;
        Token.Kind = tkComment;
        return Token;
      }
      continue;
    }
    if (IsPredicateChar(C) && Start == nullptr) {
      Start = Pos;
      while (IsPredicateChar(*Pos)) ++Pos;
      Token.Text.assign(Start, Pos);
      Token.Kind = tkPredicate;
      return Token;
    }
    if (IsDigit(C) && Start == nullptr) {
      Start = Pos;
      while (IsDigit(*Pos) || *Pos == '.') ++Pos;
      Token.Text.assign(Start, Pos);
      Token.Kind = tkNumber;
      return Token;
    }
    if (C == ':') {
      if (Start == nullptr) Start = Pos;
      ++Pos;
      if (*Pos == '=') {
        ++Pos;
        Token.Text.assign(Start, Pos);
        Token.Kind = tkAssignment;
        return Token;
      }
      continue;
    }
    if (Start == nullptr) Start = Pos;
    ++Pos;
  }
}

}  // namespace

std::string VdbGetTableNameFromSQL(const std::string& SQL) {
  const char* Pos = SQL.c_str();
  TTokenKind Section = tkNone;
  for (;;) {
    TToken Token = NextToken(Pos, Section);
    if (Token.Kind == tkEnd) return std::string();
    if (IsSectionKeyword(Token.Kind)) Section = Token.Kind;
    if (Token.Kind == tkFrom) break;
  }
  for (;;) {
    TToken Token = NextToken(Pos, Section);
    if (Token.Kind == tkEnd) return std::string();
    if (IsSectionKeyword(Token.Kind)) {
      Section = Token.Kind;
      if (Section != tkFrom) return std::string();
      continue;
    }
    if (Token.Kind == tkTableName || Token.Kind == tkValue) {
      std::string Result = std::move(Token.Text);
      TToken Next = NextToken(Pos, Section);
      if (Next.Kind == tkFieldName) Result = std::move(Next.Text);
      return Result;
    }
  }
}

std::string VdbGetOrderByFromSQL(const std::string& SQL, std::string& Directions) {
  static const std::string kSeparator = ";", kAsc = "ASC", kDesc = "DESC";
  std::string Result;
  Directions.clear();
  const char* Pos = SQL.c_str();
  TTokenKind Section = tkNone;
  for (;;) {
    TToken Token = NextToken(Pos, Section);
    if (Token.Kind == tkEnd) return Result;
    if (IsSectionKeyword(Token.Kind)) Section = Token.Kind;
    if (Token.Kind == tkOrderBy) break;
  }
  bool Pending = false;
  while (Section == tkOrderBy) {
    TToken Token = NextToken(Pos, Section);
    if (Token.Kind == tkEnd) break;
    switch (Token.Kind) {
      case tkFieldName:
      case tkValue:
      case tkNumber:
        if (Pending) VdbConcateEmptyField(Directions, kSeparator, kAsc);
        VdbConcateEmptyField(Result, kSeparator, Token.Text);
        Pending = true;
        break;
      case tkDescending:
        VdbConcateEmptyField(Directions, kSeparator, kDesc);
        Pending = false;
        break;
      default:
        if (IsSectionKeyword(Token.Kind)) Section = Token.Kind;
        break;
    }
  }
  if (Pending) VdbConcateEmptyField(Directions, kSeparator, kAsc);
  return Result;
}

std::string VdbGetParamsFromSQL(const std::string& SQL) {
  static const std::string kSeparator = ";";
  std::string Result;
  const char* Pos = SQL.c_str();
  TTokenKind Section = tkNone;
  for (;;) {
    TToken Token = NextToken(Pos, Section);
    if (Token.Kind == tkEnd) return Result;
    if (IsSectionKeyword(Token.Kind)) {
      Section = Token.Kind;
      continue;
    }
    if (Token.Kind != tkFieldName) continue;
    const std::string& Text = Token.Text;
    const size_t Colon = Text.find(':');
    if (Colon == std::string::npos || Colon + 1 >= Text.size()) continue;
    const size_t NameEnd = Text.find_first_of(" ),", Colon + 1);
    VdbConcateEmptyField(Result, kSeparator,
                         Text.substr(Colon + 1, NameEnd == std::string::npos ? std::string::npos
                                                                              : NameEnd - Colon - 1));
  }
}

void VdbConcateField(std::string& Dest, const std::string& Separator, const std::string& Value) {
  if (!Dest.empty()) Dest += Separator;
  Dest += Value;
}

void VdbConcateEmptyField(std::string& Dest, const std::string& Separator, const std::string& Value) {
  if (Value.empty()) return;
  if (!Dest.empty()) Dest += Separator;
  Dest += Value;
}

std::string VdbExtractField(const std::string& Text, char Separator, int Index) {
  if (Index < 1) return std::string();
  size_t EntryStart = 0;
  int Number = 1;
  while (EntryStart < Text.size()) {
    const size_t EntryEnd = Text.find(Separator, EntryStart);
    if (Number == Index) {
      return Text.substr(EntryStart, EntryEnd == std::string::npos ? std::string::npos
                                                                    : EntryEnd - EntryStart);
    }
    if (EntryEnd == std::string::npos) break;
    EntryStart = EntryEnd + 1;
    ++Number;
  }
  return std::string();
}

bool VdbIsPath(const std::string& FileName) {
  auto IsDelimiter = [&](size_t I) {
    return I < FileName.size() && (FileName[I] == '/' || FileName[I] == '\\');
  };
  if (IsDelimiter(0)) return true;
  if (FileName.size() >= 2 && FileName[0] == '.' && IsDelimiter(1)) return true;
  return FileName.size() >= 3 && FileName[0] == '.' && FileName[1] == '.' && IsDelimiter(2);
}

std::string VdbExtractFilePrefix(const std::string& FileName) {
  std::string Name = FileName;
  if (!vcl::ExtractFileDrive(FileName).empty() || VdbIsPath(FileName)) {
    Name = vcl::ExtractFileName(FileName);
  }
  return vcl::ChangeFileExt(Name, "");
}

std::string VdbReplaceChar(const std::string& Chars, const std::string& Replacement, const std::string& Text) {
  std::string Result;
  Result.reserve(Text.size());
  for (const char C : Text) {
    if (Chars.find(C) != std::string::npos) {
      Result += Replacement;
    } else {
      Result += C;
    }
  }
  return Result;
}

char* VdbTrimTrailBlanks(char* Text) {
  if (Text == nullptr) return Text;
  size_t Length = std::strlen(Text);
  while (Length > 0 && static_cast<unsigned char>(Text[Length - 1]) <= 32) --Length;
  Text[Length] = '\0';
  return Text;
}

}  // namespace vdb
