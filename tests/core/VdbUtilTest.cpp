#include "core/VdbUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

struct TTableCase {
  const char* Name;
  std::string SQL;
  std::string Table;
};

class TableNameTest : public ::testing::TestWithParam<TTableCase> {};

TEST_P(TableNameTest, FindsFirstTableOfFromClause) {
  EXPECT_EQ(vdb::VdbGetTableNameFromSQL(GetParam().SQL), GetParam().Table);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, TableNameTest,
    ::testing::Values(
        TTableCase{"Plain", "select * from orders", "orders"},
        TTableCase{"OwnerQualified", "select * from sales.orders o where o.id = 1", "orders"},
        TTableCase{"UpperCaseKeywords", "SELECT A FROM Customers WHERE A > 1", "Customers"},
        TTableCase{"MixedCaseKeywords", "SeLeCt a FrOm t1", "t1"},
        TTableCase{"NothingAfterFrom", "select * from", ""},
        TTableCase{"NoFrom", "update orders set a = 1", ""},
        TTableCase{"Empty", "", ""},
        TTableCase{"OnlySeparators", " ,\r\n,, \n", ""},
        TTableCase{"DoubleQuoted", "select * from \"My Table\"", "My Table"},
        TTableCase{"QuotedOwnerAndTable", "select * from \"dba\".\"My Table\" x", "My Table"},
        TTableCase{"BlockCommentBeforeTable", "select * from /* the table */ orders", "orders"},
        TTableCase{"LineCommentBeforeTable", "select * from // note\norders", "orders"},
        TTableCase{"UnclosedBlockComment", "select * from /* never closed orders", ""},
        TTableCase{"UnclosedLineCommentAtEnd", "select * from //", ""},
        TTableCase{"NewlinesAndCommas", "select a,b\r\nfrom\r\nt,u", "t"},
        TTableCase{"WhereBeforeTable", "select * from where x", ""},
        TTableCase{"TabIsNoSeparator", "select a from\torders", ""},
        TTableCase{"KeywordInQuotesIsValue", "select * from 'from'", "from"},
        TTableCase{"UnclosedQuoteIsOrdinary", "select * from 'orders", "'orders"},
        TTableCase{"HighBytes", "select * from \xC4rger\xFF", "\xC4rger\xFF"},
        TTableCase{"FromInsideIdentifierIsNoKeyword", "select fromage from t", "t"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(TableNameTest, VeryLongIdentifier) {
  const std::string Name(100000, 'x');
  EXPECT_EQ(vdb::VdbGetTableNameFromSQL("select * from " + Name + " where a = 1"), Name);
}

struct TOrderCase {
  const char* Name;
  std::string SQL;
  std::string Columns;
  std::string Directions;
};

class OrderByTest : public ::testing::TestWithParam<TOrderCase> {};

TEST_P(OrderByTest, ListsColumnsWithDirections) {
  std::string Directions = "stale";
  EXPECT_EQ(vdb::VdbGetOrderByFromSQL(GetParam().SQL, Directions), GetParam().Columns);
  EXPECT_EQ(Directions, GetParam().Directions);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, OrderByTest,
    ::testing::Values(
        TOrderCase{"Worked", "select * from t ORDER BY name DESC, 2, t.id ASC", "name;2;id", "DESC;ASC;ASC"},
        TOrderCase{"SingleColumn", "select a from t order by a", "a", "ASC"},
        TOrderCase{"DescThenDefault", "select a from t order by a desc, b", "a;b", "DESC;ASC"},
        TOrderCase{"LongForms", "select a from t order by a descending, b ascending", "a;b", "DESC;ASC"},
        TOrderCase{"NoOrderBy", "select a from t where b = 1", "", ""},
        TOrderCase{"OrderWithoutBy", "select a from t order a", "", ""},
        TOrderCase{"Empty", "", "", ""},
        TOrderCase{"EndsAtNextSection", "select a from t order by a for update", "a", "ASC"},
        TOrderCase{"EndsAtUnion", "select a from t order by a union select b from u order by c", "a", "ASC"},
        TOrderCase{"QuotedColumn", "select * from t order by \"Last Name\" desc", "Last Name", "DESC"},
        TOrderCase{"CommentSkipped", "select * from t order by /* x */ a", "a", "ASC"},
        TOrderCase{"NothingAfterOrderBy", "select * from t order by", "", ""},
        TOrderCase{"UnclosedComment", "select * from t order by a /* b desc", "a", "ASC"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct TParamsCase {
  const char* Name;
  std::string SQL;
  std::string Params;
};

class ParamsTest : public ::testing::TestWithParam<TParamsCase> {};

TEST_P(ParamsTest, FindsMarkersInTextOrder) {
  EXPECT_EQ(vdb::VdbGetParamsFromSQL(GetParam().SQL), GetParam().Params);
}

INSTANTIATE_TEST_SUITE_P(
    Scanner, ParamsTest,
    ::testing::Values(
        TParamsCase{"InList", "select * from t where id in (:a,:b)", "a;b"},
        TParamsCase{"QuotedMarkerIgnored", "select * from t where x = :p1 and y = :p2 or z = ':p3'", "p1;p2"},
        TParamsCase{"DirectlyAfterWord", "select * from t where x=:p", "p"},
        TParamsCase{"DuplicatesKept", "select * from t where a = :x or b = :x", "x;x"},
        TParamsCase{"AssignmentIsNoMarker", "set a := 5", ""},
        TParamsCase{"AssignmentGlued", "set a:=b", ""},
        TParamsCase{"ColonAtEnd", "select a: from t", ""},
        TParamsCase{"InsideComments", "select * from t /* :a */ where b = 1 // :c", ""},
        TParamsCase{"InFromClauseIsTable", "select * from :tab", ""},
        TParamsCase{"InFromClauseProcedureCall", "select * from p(:a)", ""},
        TParamsCase{"ClosingParenthesisInWhere", "select * from t where f(:a) > 0", "a"},
        TParamsCase{"Empty", "", ""},
        TParamsCase{"OnlyColons", ":::", "::"},
        TParamsCase{"HighBytes", "select * from t where a = :\xE9t\xE9", "\xE9t\xE9"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

// Every kind of unterminated construct at the very end of the text must stop
// the scan at the terminator (the address sanitizer run and the fuzz target
// catch a read past it).
TEST(ScannerTest, UnterminatedConstructsStopAtEnd) {
  const std::vector<std::string> Texts = {
      "'",      "\"",     "`",       "/",       "/*",       "/*/",     "//",      ":",
      ".",      "<",      "9.",      "*",       "is",       "is not",  "group",   "order",
      "for",    "a.",     "'a'.",    "x'y",     "select *", "from \"", "order by", "where a :",
      "\xFF",   "\x80\x81", "is is is is", "is not is not null", ",,,,", "/**",
  };
  for (const std::string& Text : Texts) {
    SCOPED_TRACE(Text);
    std::string Directions;
    EXPECT_EQ(vdb::VdbGetTableNameFromSQL(Text), Text == "from \"" ? "\"" : "");
    EXPECT_EQ(vdb::VdbGetOrderByFromSQL(Text, Directions), "");
    EXPECT_EQ(Directions, "");
    vdb::VdbGetParamsFromSQL(Text);
  }
}

// A long run of IS words must neither recurse per word nor take quadratic
// time; a naive look-ahead overflows the stack here.
TEST(ScannerTest, LongRunOfLookAheadKeywords) {
  std::string Text = "select * from t where ";
  for (int I = 0; I < 200000; ++I) Text += "is ";
  Text += ":p";
  EXPECT_EQ(vdb::VdbGetParamsFromSQL(Text), "p");
  EXPECT_EQ(vdb::VdbGetTableNameFromSQL(Text), "t");
}

TEST(ScannerTest, IsNullFormsAreNotFieldNames) {
  // A marker hidden by IS NULL joining would be lost; a following one is kept.
  EXPECT_EQ(vdb::VdbGetParamsFromSQL("select * from t where a is null and b = :b"), "b");
  EXPECT_EQ(vdb::VdbGetParamsFromSQL("select * from t where a is not null and b = :b"), "b");
  // IS not followed by NULL keeps the next word as an ordinary token.
  EXPECT_EQ(vdb::VdbGetParamsFromSQL("select * from t where a is :v"), "v");
  // GROUP BY ends the FROM section: the next word is not a table.
  EXPECT_EQ(vdb::VdbGetTableNameFromSQL("select a from group by a"), "");
}

TEST(ConcateTest, SeparatorRules) {
  struct TCase {
    std::string Dest, Value, Concate, ConcateEmpty;
  };
  const TCase Cases[] = {
      {"", "a", "a", "a"},
      {"a", "b", "a;b", "a;b"},
      {"a", "", "a;", "a"},
      {"", "", "", ""},
  };
  for (const TCase& C : Cases) {
    std::string D1 = C.Dest, D2 = C.Dest;
    vdb::VdbConcateField(D1, ";", C.Value);
    vdb::VdbConcateEmptyField(D2, ";", C.Value);
    EXPECT_EQ(D1, C.Concate) << C.Dest << "+" << C.Value;
    EXPECT_EQ(D2, C.ConcateEmpty) << C.Dest << "+" << C.Value;
  }
}

TEST(ExtractFieldTest, EntriesByIndex) {
  struct TCase {
    std::string Text;
    int Index;
    std::string Result;
  };
  const TCase Cases[] = {
      {"a;b;c", 1, "a"},   {"a;b;c", 3, "c"},   {"a;b;c", 4, ""},  {"a;b;c", 0, ""},
      {"a;b;c", -1, ""},   {"", 1, ""},         {";", 1, ""},      {";b", 2, "b"},
      {"a;;c", 2, ""},     {"a;;c", 3, "c"},    {"a;b;", 3, ""},   {"srv.db.x", 1, "srv"},
  };
  for (const TCase& C : Cases) {
    const char Separator = C.Text.find('.') != std::string::npos ? '.' : ';';
    EXPECT_EQ(vdb::VdbExtractField(C.Text, Separator, C.Index), C.Result) << C.Text << " #" << C.Index;
  }
}

TEST(FileNameTest, IsPath) {
  struct TCase {
    std::string Name;
    bool IsPath;
  };
  const TCase Cases[] = {
      {"/x", true},  {"\\x", true}, {"./x", true}, {".\\x", true}, {"../x", true}, {"..\\x", true},
      {"..x", false}, {".x", false}, {"x/y", false}, {"", false},   {".", false},   {"..", false},
      {"C:\\x", false},
  };
  for (const TCase& C : Cases) EXPECT_EQ(vdb::VdbIsPath(C.Name), C.IsPath) << C.Name;
}

TEST(FileNameTest, ExtractFilePrefix) {
  struct TCase {
    std::string Name, Prefix;
  };
  const TCase Cases[] = {
      {"C:\\data\\demo.db", "demo"},  {".\\demo.db", "demo"},        {"demo.db", "demo"},
      {"demo", "demo"},               {"/var/db/asademo.db", "asademo"}, {"../up/x.tar.gz", "x.tar"},
      {"sub\\file.db", "sub\\file"},  {"", ""},
  };
  for (const TCase& C : Cases) EXPECT_EQ(vdb::VdbExtractFilePrefix(C.Name), C.Prefix) << C.Name;
}

TEST(ReplaceCharTest, ReplacesEveryOccurrence) {
  struct TCase {
    std::string Chars, Replacement, Text, Result;
  };
  const TCase Cases[] = {
      {"\\", "/", "C:\\a\\b\\", "C:/a/b/"},
      {"ab", "-", "abcab", "--c--"},
      {"x", "", "xaxbx", "ab"},
      {"x", "yy", "", ""},
      {"", "y", "abc", "abc"},
      // The replacement holds a character to replace: one pass, no endless loop.
      {"\\", "\\\\", "a\\b", "a\\\\b"},
      {"a", "aa", "aaa", "aaaaaa"},
  };
  for (const TCase& C : Cases) EXPECT_EQ(vdb::VdbReplaceChar(C.Chars, C.Replacement, C.Text), C.Result) << C.Text;
}

TEST(TrimTrailBlanksTest, CutsBlanksAndControlsInPlace) {
  struct TCase {
    std::string Text, Result;
  };
  const TCase Cases[] = {
      {"ab  \n", "ab"}, {"   ", ""}, {"", ""}, {"a b", "a b"}, {"ab\t\r\x01", "ab"},
      {"ab\xA0", "ab\xA0"}, {"\xFF ", "\xFF"}, {" a", " a"},
  };
  for (const TCase& C : Cases) {
    std::vector<char> Buffer(C.Text.begin(), C.Text.end());
    Buffer.push_back('\0');
    char* Result = vdb::VdbTrimTrailBlanks(Buffer.data());
    EXPECT_EQ(Result, Buffer.data());
    EXPECT_STREQ(Result, C.Result.c_str());
  }
  EXPECT_EQ(vdb::VdbTrimTrailBlanks(nullptr), nullptr);
}

int Answer() { return 1; }
int Fallback() { return 2; }

TEST(AssignProcAddressTest, AddressOrDefault) {
  using TProc = int (*)();
  TProc P = nullptr;
  vdb::VdbAssignProcAddress(P, reinterpret_cast<void*>(&Answer), &Fallback);
  EXPECT_EQ(P(), 1);
  vdb::VdbAssignProcAddress(P, nullptr, &Fallback);
  EXPECT_EQ(P(), 2);
  vdb::VdbAssignProcAddress<TProc>(P, nullptr, nullptr);
  EXPECT_EQ(P, nullptr);
}

}  // namespace
