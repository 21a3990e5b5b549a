#include <gtest/gtest.h>

#include "dbsrv/DialectLexer.h"

using namespace vdbsrv;

namespace {

std::string Describe(const TLexResult& R) {
  std::string S;
  for (const TToken& T : R.Tokens) {
    if (T.Kind == tkEnd) break;
    static const char* Kinds[] = {"w", "q", "s", "n", "b", "h", "o", "e"};
    S += std::string(Kinds[T.Kind]) + ":" + T.Value + (T.Value.empty() ? std::string(T.Text) : "") + " ";
  }
  return S;
}

TEST(DialectLexer, TokenKindsAndDecodedValues) {
  struct Case {
    const char* Text;
    const char* Tokens;
  } Cases[] = {
      {"select a from t", "w:select w:a w:from w:t "},
      {"'it''s' \"my \"\"col\"\"\"", "s:it's q:my \"col\" "},
      {"[odd name] `x`", "q:odd name q:x "},
      {"x'0aFF' 12 1.5 .5e3 0x1F 3e", "b:0aFF n:12 n:1.5 n:.5e3 n:0x1F n:3 w:e "},
      {"? :name ::x ?12", "h:? h:name o:: h:x h:12 "},
      {"a||b<>c!=d<=e>=f==g<<h>>i->j->>k", "w:a o:|| w:b o:<> w:c o:!= w:d o:<= w:e o:>= w:f o:== w:g o:<< "
                                            "w:h o:>> w:i o:-> w:j o:->> w:k "},
      {"'a;b' ; 'c--d' /* ; */ -- ;\n e // ;", "s:a;b o:; s:c--d w:e "},
      {"tab_type, x$1, #tmp, @v", "w:tab_type o:, w:x$1 o:, w:#tmp o:, w:@v "},
      {"''", "s:'' "},
  };
  for (const Case& C : Cases) {
    TLexResult R = LexSql(C.Text);
    ASSERT_TRUE(R.Ok) << C.Text;
    EXPECT_EQ(Describe(R), C.Tokens) << C.Text;
    EXPECT_EQ(R.Tokens.back().Kind, tkEnd);
  }
}

TEST(DialectLexer, KeepsPositionsAndGaps) {
  TLexResult R = LexSql("select\n  x, // note\n\t'y'");
  ASSERT_TRUE(R.Ok);
  ASSERT_EQ(R.Tokens.size(), 5u);
  EXPECT_EQ(R.Tokens[1].Pos.Line, 2);
  EXPECT_EQ(R.Tokens[1].Pos.Column, 3);
  EXPECT_EQ(R.Tokens[1].Pos.Offset, 9);
  EXPECT_EQ(R.Tokens[3].Pos.Line, 3);
  EXPECT_EQ(R.Tokens[3].Pos.Column, 2);
  // "//" comments reach SQLite as "--" comments.
  EXPECT_EQ(R.Tokens[3].Gap, " -- note\n\t");
  EXPECT_TRUE(R.Tokens[0].Is("SELECT"));
}

TEST(DialectLexer, UnterminatedRunsAreSyntaxErrorsAtTheirStart) {
  struct Case {
    const char* Text;
    int32_t Line;
    int32_t Column;
    const char* Message;
  } Cases[] = {
      {"select 'abc", 1, 8, "Syntax error near ''' on line 1"},
      {"select\n\"abc", 2, 1, "Syntax error near '\"' on line 2"},
      {"select 1 /* never closed", 1, 10, "Syntax error near '/*' on line 1"},
      {"select [x", 1, 8, "Syntax error near '[' on line 1"},
      {"select x'0a", 1, 9, "Syntax error near ''' on line 1"},
  };
  for (const Case& C : Cases) {
    TLexResult R = LexSql(C.Text);
    ASSERT_FALSE(R.Ok) << C.Text;
    EXPECT_EQ(R.Error.Code, -131);
    EXPECT_EQ(R.Error.SqlState, "42W04");
    EXPECT_EQ(R.Error.Pos.Line, C.Line) << C.Text;
    EXPECT_EQ(R.Error.Pos.Column, C.Column) << C.Text;
    EXPECT_EQ(R.Error.Message, C.Message);
    EXPECT_TRUE(R.Tokens.empty());
  }
}

TEST(DialectLexer, NulBytesAndHighBytesDoNotStopTheScan) {
  std::string Text("select '\0' , \xE9t\xE9", 16);
  TLexResult R = LexSql(Text);
  ASSERT_TRUE(R.Ok);
  ASSERT_EQ(R.Tokens.size(), 5u);
  EXPECT_EQ(R.Tokens[1].Value, std::string(1, '\0'));
  EXPECT_EQ(R.Tokens[3].Text, "\xE9t\xE9");
}

}  // namespace
