#include "rtl/Classes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "rtl/Streams.h"

namespace {

using vcl::TStringList;

std::vector<std::string> Lines(vcl::TStrings& L) {
  std::vector<std::string> Result;
  for (int32_t i = 0; i < L.Count(); ++i) Result.push_back(L.Strings(i));
  return Result;
}

TEST(TListTest, KeepsOrderThroughInsertMoveExchangeAndRemove) {
  int A = 1, B = 2, C = 3, D = 4;
  vcl::TList L;
  L.Add(&A);
  L.Add(&C);
  L.Insert(1, &B);
  L.Insert(3, &D);
  EXPECT_EQ(L.Count(), 4);
  EXPECT_EQ(L.Items(1), &B);
  L.Move(0, 3);  // B C D A
  EXPECT_EQ(L.First(), &B);
  EXPECT_EQ(L.Last(), &A);
  L.Exchange(0, 1);  // C B D A
  EXPECT_EQ(L.IndexOf(&C), 0);
  EXPECT_EQ(L.Remove(&D), 2);
  EXPECT_EQ(L.Remove(&D), -1);
  EXPECT_EQ(L.Extract(&B), &B);
  EXPECT_EQ(L.Extract(&B), nullptr);
  EXPECT_EQ(L.Count(), 2);
  L.Add(nullptr);
  L.Pack();
  EXPECT_EQ(L.Count(), 2);
  L.Clear();
  EXPECT_EQ(L.Count(), 0);
}

TEST(TListTest, SortIsStableByComparer) {
  std::vector<std::pair<int, char>> Items{{2, 'a'}, {1, 'b'}, {2, 'c'}, {0, 'd'}};
  vcl::TList L;
  for (auto& I : Items) L.Add(&I);
  L.Sort([](void* X, void* Y) {
    return static_cast<std::pair<int, char>*>(X)->first - static_cast<std::pair<int, char>*>(Y)->first;
  });
  std::string Order;
  for (int32_t i = 0; i < L.Count(); ++i) Order += static_cast<std::pair<int, char>*>(L.Items(i))->second;
  EXPECT_EQ(Order, "dbac");
}

TEST(TListTest, BadIndexRaisesListErrorWithIndex) {
  int A = 0;
  vcl::TList L;
  L.Add(&A);
  struct Case { const char* What; std::function<void()> Call; int Index; };
  std::vector<Case> Cases{
      {"Items", [&] { L.Items(1); }, 1},
      {"Items negative", [&] { L.Items(-1); }, -1},
      {"Delete", [&] { L.Delete(5); }, 5},
      {"Insert past end", [&] { L.Insert(2, &A); }, 2},
      {"Exchange", [&] { L.Exchange(0, 3); }, 3},
      {"Move", [&] { L.Move(0, 7); }, 7},
      {"SetItems", [&] { L.SetItems(9, &A); }, 9},
  };
  for (auto& C : Cases) {
    try {
      C.Call();
      ADD_FAILURE() << C.What << " did not raise";
    } catch (const vcl::EListError& E) {
      EXPECT_EQ(E.Message(), "List index out of bounds (" + std::to_string(C.Index) + ")") << C.What;
    }
  }
  EXPECT_EQ(L.Count(), 1);
}

// A list that records what it is told, to check the notifications.
class TRecordingList : public vcl::TList {
 public:
  std::string Log;
 protected:
  void Notify(void*, vcl::TListNotification Action) override {
    Log += Action == vcl::lnAdded ? 'a' : Action == vcl::lnDeleted ? 'd' : 'x';
  }
};

TEST(TListTest, NotifiesAdditionsDeletionsAndExtractions) {
  int A = 0, B = 0;
  TRecordingList L;
  L.Add(&A);
  L.Add(&B);
  L.Add(nullptr);  // nil entries are not announced
  L.Extract(&A);
  L.Delete(0);
  L.Clear();
  EXPECT_EQ(L.Log, "aaxd");
}

TEST(TStringListTest, IndexOfIgnoresCaseUnlessCaseSensitive) {
  TStringList L;
  L.Add("Alpha");
  L.Add("\xC9t\xE9");  // Été in Windows-1252
  EXPECT_EQ(L.IndexOf("ALPHA"), 0);
  EXPECT_EQ(L.IndexOf("\xE9T\xC9"), 1);
  EXPECT_EQ(L.IndexOf("Beta"), -1);
  L.SetCaseSensitive(true);
  EXPECT_EQ(L.IndexOf("ALPHA"), -1);
  EXPECT_EQ(L.IndexOf("Alpha"), 0);
}

TEST(TStringListTest, SortedListKeepsOrderAndHandlesDuplicates) {
  struct Case { vcl::TDuplicates Dup; std::vector<std::string> Expected; bool Raises; };
  std::vector<Case> Cases{
      {vcl::dupIgnore, {"apple", "Banana", "cherry"}, false},
      {vcl::dupAccept, {"apple", "banana", "Banana", "cherry"}, false},
      {vcl::dupError, {"apple", "Banana", "cherry"}, true},
  };
  for (auto& C : Cases) {
    TStringList L;
    L.SetSorted(true);
    L.SetDuplicates(C.Dup);
    L.Add("cherry");
    L.Add("Banana");
    L.Add("apple");
    try {
      int32_t Index = L.Add("banana");
      EXPECT_FALSE(C.Raises);
      EXPECT_EQ(L.Strings(Index).substr(1), "anana");
    } catch (const vcl::EStringListError& E) {
      EXPECT_TRUE(C.Raises);
      EXPECT_EQ(E.Message(), "String list does not allow duplicates");
    }
    EXPECT_EQ(Lines(L), C.Expected) << int(C.Dup);
    int32_t Index = -1;
    EXPECT_TRUE(L.Find("BANANA", Index));
    EXPECT_EQ(Index, 1);
    EXPECT_FALSE(L.Find("blueberry", Index));
    EXPECT_EQ(Index, static_cast<int32_t>(C.Expected.size()) - 1);
    EXPECT_EQ(L.IndexOf("CHERRY"), static_cast<int32_t>(C.Expected.size()) - 1);
  }
}

TEST(TStringListTest, SortedListRefusesPositionalChanges) {
  TStringList L;
  L.Add("b");
  L.Add("a");
  L.SetSorted(true);
  EXPECT_EQ(Lines(L), (std::vector<std::string>{"a", "b"}));
  EXPECT_THROW(L.Insert(0, "z"), vcl::EStringListError);
  EXPECT_THROW(L.SetStrings(0, "z"), vcl::EStringListError);
  EXPECT_EQ(Lines(L), (std::vector<std::string>{"a", "b"}));
}

TEST(TStringListTest, ObjectsTravelWithTheirStrings) {
  vcl::TObject O1, O2, O3;
  TStringList L;
  L.AddObject("c", &O3);
  L.AddObject("a", &O1);
  L.AddObject("b", &O2);
  L.Sort();
  EXPECT_EQ(L.Objects(0), &O1);
  EXPECT_EQ(L.Objects(2), &O3);
  L.Exchange(0, 2);
  EXPECT_EQ(L.Strings(0), "c");
  EXPECT_EQ(L.Objects(0), &O3);
  L.Move(0, 1);
  EXPECT_EQ(Lines(L), (std::vector<std::string>{"b", "c", "a"}));
  EXPECT_EQ(L.Objects(1), &O3);
  EXPECT_EQ(L.IndexOfObject(&O2), 0);
  L.CustomSort([](TStringList* List, int32_t A, int32_t B) {
    return List->Strings(B).compare(List->Strings(A));  // descending
  });
  EXPECT_EQ(Lines(L), (std::vector<std::string>{"c", "b", "a"}));
  EXPECT_EQ(L.Objects(0), &O3);
}

TEST(TStringListTest, BadIndexRaisesStringListError) {
  TStringList L;
  L.Add("x");
  struct Case { const char* What; std::function<void()> Call; int Index; };
  std::vector<Case> Cases{
      {"Strings", [&] { L.Strings(1); }, 1},
      {"Objects", [&] { L.Objects(-1); }, -1},
      {"Delete", [&] { L.Delete(3); }, 3},
      {"Insert", [&] { L.Insert(2, "y"); }, 2},
      {"Exchange", [&] { L.Exchange(0, 1); }, 1},
      {"Move", [&] { L.Move(0, 1); }, 1},
      {"Names", [&] { L.Names(4); }, 4},
  };
  for (auto& C : Cases) {
    try {
      C.Call();
      ADD_FAILURE() << C.What << " did not raise";
    } catch (const vcl::EStringListError& E) {
      EXPECT_EQ(E.Message(), "List index out of bounds (" + std::to_string(C.Index) + ")") << C.What;
    }
  }
  EXPECT_EQ(Lines(L), std::vector<std::string>{"x"});
}

TEST(TStringListTest, TextSplitsOnAnyLineBreakAndJoinsWithCrLf) {
  struct Case { std::string In; std::vector<std::string> Lines; };
  std::vector<Case> Cases{
      {"", {}},
      {"a", {"a"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {"a\rb\r\r\n", {"a", "b", ""}},
      {"\r\n", {""}},
  };
  for (auto& C : Cases) {
    TStringList L;
    L.SetText(C.In);
    EXPECT_EQ(Lines(L), C.Lines) << C.In;
    std::string Joined;
    for (auto& S : C.Lines) Joined += S + "\r\n";
    EXPECT_EQ(L.Text(), Joined);
  }
}

TEST(TStringListTest, CommaTextQuotesWhatNeedsIt) {
  struct Case { std::vector<std::string> Items; std::string Comma; };
  std::vector<Case> Cases{
      {{}, ""},
      {{""}, "\"\""},
      {{"a", "b"}, "a,b"},
      {{"a b", "c"}, "\"a b\",c"},
      {{"x,y"}, "\"x,y\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"", "z", ""}, ",z,"},
      {{"tab\there"}, "\"tab\there\""},
  };
  for (auto& C : Cases) {
    TStringList L;
    for (auto& S : C.Items) L.Add(S);
    EXPECT_EQ(L.CommaText(), C.Comma);
    TStringList Back;
    Back.SetCommaText(C.Comma);
    // ",z," reads back as "", "z", "" too: a trailing delimiter adds an empty item.
    EXPECT_EQ(Lines(Back), C.Items) << C.Comma;
  }
}

TEST(TStringListTest, CommaTextReadingSplitsOnBlanksUnlessQuotedOrStrict) {
  struct Case { std::string In; bool Strict; std::vector<std::string> Items; };
  std::vector<Case> Cases{
      {"a b,c", false, {"a", "b", "c"}},
      {"a b,c", true, {"a b", "c"}},
      {"  a , b  ", false, {"a", "b"}},
      {"\"a b\" , \"c\"\"d\"", false, {"a b", "c\"d"}},
      {"\"unclosed, rest", false, {"unclosed, rest"}},
      {"a,,b", false, {"a", "", "b"}},
  };
  for (auto& C : Cases) {
    TStringList L;
    L.SetStrictDelimiter(C.Strict);
    L.SetCommaText(C.In);
    EXPECT_EQ(Lines(L), C.Items) << C.In;
  }
}

TEST(TStringListTest, DelimitedTextUsesDelimiterAndQuoteChar) {
  TStringList L;
  L.SetDelimiter(';');
  L.SetQuoteChar('\'');
  L.Add("a;b");
  L.Add("it's");
  L.Add("plain,comma");
  EXPECT_EQ(L.DelimitedText(), "'a;b';'it''s';plain,comma");
  EXPECT_EQ(L.CommaText(), "a;b,it's,\"plain,comma\"");
  TStringList Back;
  Back.SetDelimiter(';');
  Back.SetQuoteChar('\'');
  Back.SetDelimitedText(L.DelimitedText());
  EXPECT_EQ(Lines(Back), Lines(L));
  EXPECT_EQ(Back.Delimiter(), ';');  // CommaText leaves the settings alone
}

TEST(TStringListTest, NamesAndValues) {
  TStringList L;
  L.SetText("Host=localhost\r\nport=2638\r\nflag\r\nEmpty=\r\nExpr=a=b\r\n");
  EXPECT_EQ(L.Values("HOST"), "localhost");
  EXPECT_EQ(L.Values("Port"), "2638");
  EXPECT_EQ(L.Values("flag"), "");
  EXPECT_EQ(L.Values("Expr"), "a=b");
  EXPECT_EQ(L.IndexOfName("empty"), 3);
  EXPECT_EQ(L.Names(2), "");
  EXPECT_EQ(L.ValueFromIndex(2), "");
  EXPECT_EQ(L.Names(4), "Expr");
  EXPECT_EQ(L.ValueFromIndex(4), "a=b");

  L.SetValues("Port", "49152");
  L.SetValues("User", "dba");
  L.SetValues("Host", "");
  EXPECT_EQ(L.Text(), "Port=49152\r\nflag\r\nEmpty=\r\nExpr=a=b\r\nUser=dba\r\n");
  L.SetValues("NotThere", "");
  EXPECT_EQ(L.Count(), 5);
}

TEST(TStringListTest, ChangeEventsFireOncePerUpdateBracket) {
  TStringList L;
  std::string Log;
  L.OnChanging = [&](vcl::TObject* Sender) { Log += '<'; EXPECT_EQ(Sender, &L); };
  L.OnChange = [&](vcl::TObject* Sender) { Log += '>'; EXPECT_EQ(Sender, &L); };
  L.Add("a");
  L.Add("b");
  EXPECT_EQ(Log, "<><>");
  Log.clear();
  L.BeginUpdate();
  L.BeginUpdate();
  L.Add("c");
  L.Delete(0);
  L.EndUpdate();
  EXPECT_EQ(Log, "<");
  L.EndUpdate();
  EXPECT_EQ(Log, "<>");
  Log.clear();
  L.SetText("x\ny\nz");
  EXPECT_EQ(Log, "<>");
  Log.clear();
  L.SetCommaText("p,q");
  TStringList Other;
  Other.Add("1");
  L.Assign(&Other);
  EXPECT_EQ(Log, "<><>");
  Log.clear();
  TStringList Empty;
  Empty.Clear();  // clearing an empty list is no change
  L.EndUpdate();  // an unmatched EndUpdate is ignored
  EXPECT_EQ(Log, "");
}

TEST(TStringListTest, AssignAddStringsAndEquals) {
  vcl::TObject O;
  TStringList A, B;
  A.AddObject("one", &O);
  A.Add("two");
  A.SetDelimiter('|');
  B.Add("old");
  B.Assign(&A);
  EXPECT_EQ(Lines(B), Lines(A));
  EXPECT_EQ(B.Objects(0), &O);
  EXPECT_EQ(B.Delimiter(), '|');
  EXPECT_TRUE(B.Equals(&A));
  B.AddStrings(&A);
  EXPECT_EQ(B.Count(), 4);
  EXPECT_FALSE(B.Equals(&A));
  B.Assign(&B);
  EXPECT_EQ(B.Count(), 4);

  vcl::TPersistent NotAList;
  try {
    B.Assign(&NotAList);
    ADD_FAILURE();
  } catch (const vcl::EConvertError& E) {
    EXPECT_EQ(E.Message(), "Cannot assign a TPersistent to a TStringList");
  }
  EXPECT_EQ(B.Count(), 4);
}

TEST(TStringListTest, SaveAndLoadThroughStreamsAndFiles) {
  TStringList L;
  L.SetText("first\nsecond line\n\nlast");
  vcl::TMemoryStream M;
  M.WriteBuffer("HDR", 3);
  L.SaveToStream(M);
  M.SetPosition(3);
  TStringList Back;
  Back.LoadFromStream(M);
  EXPECT_EQ(Lines(Back), Lines(L));
  EXPECT_EQ(M.Size(), 3 + static_cast<int64_t>(L.Text().size()));

  std::string Template = (std::filesystem::temp_directory_path() / "vdb-classes-XXXXXX").string();
  ASSERT_NE(mkdtemp(Template.data()), nullptr);
  std::filesystem::path Dir = Template;
  std::string File = (Dir / "list.txt").string();
  L.SaveToFile(File);
  TStringList FromFile;
  FromFile.LoadFromFile(File);
  EXPECT_EQ(Lines(FromFile), Lines(L));
  EXPECT_THROW(FromFile.LoadFromFile((Dir / "missing.txt").string()), vcl::EFOpenError);
  EXPECT_EQ(Lines(FromFile), Lines(L));
  std::filesystem::remove_all(Dir);
}

}  // namespace
