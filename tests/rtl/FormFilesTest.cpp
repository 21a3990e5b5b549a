#include "rtl/FormFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "rtl/ClassRegistry.h"

namespace {

using vcl::TComponent;

enum TShape : uint8_t { shCircle, shSquare, shTriangle };
enum TStyle : uint8_t { stBold, stItalic, stUnderline };
using TStyles = vcl::Set<TStyle>;

// What the setters and Loaded saw, in order.
std::vector<std::string> Log;

std::string Flags(TComponent* C) {
  std::string S;
  if (C->ComponentState().Contains(vcl::csLoading)) S += 'L';
  if (C->ComponentState().Contains(vcl::csReading)) S += 'R';
  if (C->ComponentState().Contains(vcl::csWriting)) S += 'W';
  return S;
}

// A component with one property of every kind, a binary property and a
// defined integer property.
class TWidget : public TComponent {
 public:
  explicit TWidget(TComponent* AOwner) : TComponent(AOwner), FLines(std::make_unique<vcl::TStringList>()) {}
  std::string ClassName() const override { return "TWidget"; }

  int32_t Count() const { return FCount; }
  void SetCount(int32_t V) { Note("Count"); FCount = V; }
  double Ratio() const { return FRatio; }
  void SetRatio(double V) { Note("Ratio"); FRatio = V; }
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& V) { Note("Caption"); FCaption = V; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool V) { Note("Enabled"); FEnabled = V; }
  TShape Shape() const { return FShape; }
  void SetShape(TShape V) { Note("Shape"); FShape = V; }
  TStyles Styles() const { return FStyles; }
  void SetStyles(TStyles V) { Note("Styles"); FStyles = V; }
  vcl::TStringList* Lines() const { return FLines.get(); }
  TWidget* Buddy() const { return FBuddy; }
  void SetBuddy(TWidget* V) { Note("Buddy"); FBuddy = V; }

  std::string Blob;   // streamed as the binary property Data
  int64_t Extra = 0;  // streamed as the defined property Extra when not 0

 protected:
  void Notification(TComponent* AComponent, vcl::TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == vcl::opRemove && AComponent == FBuddy) FBuddy = nullptr;
  }
  void Loaded() override {
    Log.push_back("Loaded " + Name() + " " + Flags(this));
    TComponent::Loaded();
  }
  void DefineProperties(vcl::TFiler* Filer) override {
    auto* Ancestor = dynamic_cast<TWidget*>(Filer->Ancestor());
    bool BlobDiffers = Ancestor ? Ancestor->Blob != Blob : !Blob.empty();
    bool ExtraDiffers = Ancestor ? Ancestor->Extra != Extra : Extra != 0;
    Filer->DefineBinaryProperty(
        "Data",
        [this](vcl::TStream& S) {
          Note("Data");
          Blob.resize(static_cast<size_t>(S.Size()));
          S.ReadBuffer(Blob.data(), S.Size());
        },
        [this](vcl::TStream& S) { S.WriteBuffer(Blob.data(), static_cast<int64_t>(Blob.size())); }, BlobDiffers);
    Filer->DefineProperty(
        "Extra", [this](vcl::TReader& R) { Note("Extra"); Extra = R.ReadInteger(); },
        [this](vcl::TWriter& W) { W.WriteInteger(Extra); }, ExtraDiffers);
  }

 private:
  void Note(const char* What) {
    if (ComponentState().Contains(vcl::csLoading)) Log.push_back(Name() + "." + What + " " + Flags(this));
  }
  int32_t FCount = 0;
  double FRatio = 0;
  std::string FCaption;
  bool FEnabled = true;
  TShape FShape = shCircle;
  TStyles FStyles;
  std::unique_ptr<vcl::TStringList> FLines;
  TWidget* FBuddy = nullptr;
};

// A descendant class: its table extends TWidget's and changes a default.
class TGadget : public TWidget {
 public:
  explicit TGadget(TComponent* AOwner) : TWidget(AOwner) { SetShape(shSquare); }
  std::string ClassName() const override { return "TGadget"; }
  int32_t Size() const { return FSize; }
  void SetSize(int32_t V) { FSize = V; }

 private:
  int32_t FSize = 10;
};

// A component whose setter refuses a value, and one created with children.
class TPicky : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TPicky"; }
  const std::string& Mode() const { return FMode; }
  void SetMode(const std::string& V) {
    if (V == "bad") throw vcl::EInvalidOperation("Mode bad is not allowed");
    FMode = V;
  }

 private:
  std::string FMode;
};

void RegisterTestClasses() {
  static bool Done = [] {
    vcl::RegisterClass("TWidget", [](TComponent* Owner) { return new TWidget(Owner); },
                       {vcl::IntegerProperty("Count", &TWidget::Count, &TWidget::SetCount),
                        vcl::FloatProperty("Ratio", &TWidget::Ratio, &TWidget::SetRatio),
                        vcl::StringProperty("Caption", &TWidget::Caption, &TWidget::SetCaption),
                        vcl::BooleanProperty("Enabled", &TWidget::Enabled, &TWidget::SetEnabled, true),
                        vcl::EnumProperty("Shape", {"shCircle", "shSquare", "shTriangle"}, &TWidget::Shape,
                                          &TWidget::SetShape, std::optional<TShape>(shCircle)),
                        vcl::SetProperty("Styles", {"stBold", "stItalic", "stUnderline"}, &TWidget::Styles,
                                         &TWidget::SetStyles),
                        vcl::StringsProperty("Lines", &TWidget::Lines),
                        vcl::ComponentProperty("Buddy", &TWidget::Buddy, &TWidget::SetBuddy)});
    vcl::RegisterClass("TGadget", [](TComponent* Owner) { return new TGadget(Owner); },
                       {vcl::IntegerProperty("Size", &TGadget::Size, &TGadget::SetSize, 10),
                        vcl::EnumProperty("Shape", {"shCircle", "shSquare", "shTriangle"}, &TWidget::Shape,
                                          &TWidget::SetShape, std::optional<TShape>(shSquare))},
                       "TWidget");
    vcl::RegisterClass("TPicky", [](TComponent* Owner) { return new TPicky(Owner); },
                       {vcl::StringProperty("Mode", &TPicky::Mode, &TPicky::SetMode)});
    return true;
  }();
  (void)Done;
}

class FormFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    Log.clear();
  }
};

// Everything a TWidget streams, for comparisons.
std::string Describe(TWidget* W) {
  std::string S = W->Name() + "|" + std::to_string(W->Count()) + "|" + std::to_string(W->Ratio()) + "|" +
                  W->Caption() + "|" + (W->Enabled() ? "T" : "F") + "|" + std::to_string(W->Shape()) + "|" +
                  std::to_string(W->Styles().Bits()) + "|" + W->Lines()->CommaText() + "|" + W->Blob + "|" +
                  std::to_string(W->Extra);
  if (auto* G = dynamic_cast<TGadget*>(W)) S += "|" + std::to_string(G->Size());
  return S;
}

std::string DescribeTree(TComponent* Root) {
  std::string S = Describe(dynamic_cast<TWidget*>(Root));
  for (int32_t i = 0; i < Root->ComponentCount(); ++i)
    S += "\n" + Root->Components(i)->ClassName() + " " + Describe(dynamic_cast<TWidget*>(Root->Components(i)));
  return S;
}

std::unique_ptr<TWidget> SampleForm() {
  auto Form = std::make_unique<TWidget>(nullptr);
  Form->SetName("Form1");
  Form->SetCaption("It's a \"form\"\r\n\twith \xE9\xFF and \x01 bytes");
  Form->SetCount(-2147483647 - 1);
  Form->SetRatio(0.1);
  Form->SetEnabled(false);
  Form->SetShape(shTriangle);
  Form->SetStyles({stBold, stUnderline});
  Form->Lines()->Add("select *");
  Form->Lines()->Add("");
  Form->Lines()->Add("from t where name = 'x'");
  Form->Lines()->Add(std::string(150, 'L'));
  for (int i = 0; i < 100; ++i) Form->Blob += static_cast<char>(i * 37);
  Form->Extra = 1LL << 40;

  auto* W = new TWidget(Form.get());
  W->SetName("Widget1");
  W->SetRatio(-2.5e-300);
  W->SetCaption(std::string(200, 'x') + "'");
  auto* G = new TGadget(Form.get());
  G->SetName("Gadget1");
  G->SetSize(0);
  G->SetRatio(3.0);
  G->SetStyles({stItalic});
  auto* Plain = new TWidget(Form.get());
  Plain->SetName("Plain");
  return Form;
}

TEST_F(FormFilesTest, RoundTripKeepsEveryKindOfValue) {
  auto Form = SampleForm();
  std::string Text = vcl::ComponentToText(Form.get());
  std::unique_ptr<TComponent> Back(vcl::ComponentFromText(Text));
  ASSERT_EQ(Back->ClassName(), "TWidget");
  EXPECT_EQ(DescribeTree(Back.get()), DescribeTree(Form.get()));
  EXPECT_EQ(Back->Components(1)->ClassName(), "TGadget");
  EXPECT_EQ(vcl::ComponentToText(Back.get()), Text);
  EXPECT_EQ(Back->ComponentState(), vcl::TComponentState{});
  EXPECT_EQ(Back->Components(0)->ComponentState(), vcl::TComponentState{});
}

TEST_F(FormFilesTest, WriterOutputFormat) {
  TWidget Root(nullptr);
  Root.SetName("Form1");
  Root.SetCount(42);
  Root.SetCaption("It's");
  Root.SetStyles({stBold, stItalic});
  Root.SetShape(shSquare);
  Root.Lines()->Add("a");
  Root.Lines()->Add("b\tc");
  Root.Blob = std::string("\x00\x01\xAB\xFF", 4);
  Root.Extra = -7;
  auto* G = new TGadget(&Root);
  G->SetName("Gadget1");
  G->SetSize(11);
  auto* W = new TWidget(&Root);  // an unnamed object with only defaults
  (void)W;
  EXPECT_EQ(vcl::ComponentToText(&Root),
            "object Form1: TWidget\r\n"
            "  Count = 42\r\n"
            "  Caption = 'It''s'\r\n"
            "  Shape = shSquare\r\n"
            "  Styles = [stBold, stItalic]\r\n"
            "  Lines.Strings = (\r\n"
            "    'a'\r\n"
            "    'b'#9'c')\r\n"
            "  Data = {\r\n"
            "    0001ABFF}\r\n"
            "  Extra = -7\r\n"
            "  object Gadget1: TGadget\r\n"
            "    Size = 11\r\n"
            "  end\r\n"
            "  object TWidget\r\n"
            "  end\r\n"
            "end\r\n");
}

std::string HexRun(int Pairs) {
  std::string S;
  for (int i = 0; i < Pairs; ++i) S += "5A";
  return S;
}

TEST_F(FormFilesTest, ValueTextsReadBackAsTheSameValue) {
  using V = vcl::TPropertyValue;
  struct Case { V Value; std::string Text; };
  std::vector<Case> Cases{
      {V::Int(-9223372036854775807LL - 1), "-9223372036854775808"},
      {V::Extended(0.1), "0.1"},
      {V::Extended(3.0), "3.0"},
      {V::Extended(1e20), "1e+20"},
      {V::Extended(-2.5e-300), "-2.5e-300"},
      {V::String(""), "''"},
      {V::String("\xE9t\xE9\r\n"), "#233't'#233#13#10"},
      {V::String(std::string(64, 'a') + "'b"), "'" + std::string(64, 'a') + "' +\r\n    '''b'"},
      {V::Boolean(true), "True"},
      {V::SetOf({}), "[]"},
      {V::List({}), "()"},
      {V::List({"", "x"}), "(\r\n    ''\r\n    'x')"},
      {V::Binary(""), "{}"},
      {V::Binary(std::string(33, '\x5A')), "{\r\n    " + HexRun(32) + "\r\n    5A}"},
  };
  for (auto& C : Cases) {
    std::string Text = vcl::TWriter::FormatValue(C.Value, 1);
    EXPECT_EQ(Text, C.Text);
    std::unique_ptr<TComponent> Back;
    if (C.Value.Type == vcl::vaString) {
      Back.reset(vcl::ComponentFromText("object TWidget\n Caption = " + Text + "\nend\n"));
      EXPECT_EQ(dynamic_cast<TWidget*>(Back.get())->Caption(), C.Value.Text);
    } else if (C.Value.Type == vcl::vaExtended) {
      Back.reset(vcl::ComponentFromText("object TWidget\n Ratio = " + Text + "\nend\n"));
      EXPECT_EQ(dynamic_cast<TWidget*>(Back.get())->Ratio(), C.Value.Float);
    } else if (C.Value.Type == vcl::vaList) {
      Back.reset(vcl::ComponentFromText("object TWidget\n Lines.Strings = " + Text + "\nend\n"));
      EXPECT_EQ(dynamic_cast<TWidget*>(Back.get())->Lines()->Count(), static_cast<int32_t>(C.Value.Items.size()));
    } else if (C.Value.Type == vcl::vaBinary) {
      Back.reset(vcl::ComponentFromText("object TWidget\n Data = " + Text + "\nend\n"));
      EXPECT_EQ(dynamic_cast<TWidget*>(Back.get())->Blob, C.Value.Text);
    }
  }
  EXPECT_THROW(vcl::TWriter::FormatValue(V::Extended(INFINITY), 0), vcl::EWriteError);
}

TEST_F(FormFilesTest, ReaderRunsSettersInStreamOrderWhileLoading) {
  const std::string Text =
      "object Form1: TWidget\n"
      "  Extra = $10\n"
      "  caption = 'one' + \n"
      "    'two'#13#10'three'#$41\n"
      "  Count = -5\n"
      "  Data = { 00 FF\n"
      "           7f }\n"
      "  Enabled = false\n"
      "  Lines = ('x' 'y' +\n"
      "    'z')\n"
      "  object Child: TGadget\n"
      "    Ratio = 1e3\n"
      "    Shape = SHTRIANGLE\n"
      "    Styles = []\n"
      "  end\n"
      "  Ratio = 2\n"
      "end\n";
  std::unique_ptr<TComponent> Root(vcl::ComponentFromText(Text));
  auto* Form = dynamic_cast<TWidget*>(Root.get());
  ASSERT_NE(Form, nullptr);
  EXPECT_EQ(Form->Extra, 16);
  EXPECT_EQ(Form->Caption(), "onetwo\r\nthreeA");
  EXPECT_EQ(Form->Count(), -5);
  EXPECT_EQ(Form->Blob, std::string("\x00\xFF\x7F", 3));
  EXPECT_FALSE(Form->Enabled());
  EXPECT_EQ(Form->Lines()->CommaText(), "x,yz");
  EXPECT_EQ(Form->Ratio(), 2.0);
  auto* Child = dynamic_cast<TGadget*>(Form->FindComponent("Child"));
  ASSERT_NE(Child, nullptr);
  EXPECT_EQ(Child->Owner(), Form);
  EXPECT_EQ(Child->Ratio(), 1000.0);
  EXPECT_EQ(Child->Shape(), shTriangle);
  EXPECT_EQ(Log, (std::vector<std::string>{
                     "Form1.Extra LR", "Form1.Caption LR", "Form1.Count LR", "Form1.Data LR",
                     "Form1.Enabled LR", "Child.Ratio LR", "Child.Shape LR", "Child.Styles LR",
                     "Form1.Ratio LR", "Loaded Form1 L", "Loaded Child L"}));
}

TEST_F(FormFilesTest, AncestorDecidesWhatIsWrittenAndInheritedObjectsReadBack) {
  auto Ancestor = SampleForm();
  auto Descendant = SampleForm();
  Descendant->SetCount(7);
  Descendant->Extra = 0;  // differs from the ancestor, so it must be written even though it is 0
  dynamic_cast<TGadget*>(Descendant->FindComponent("Gadget1"))->SetSize(99);
  auto* Added = new TWidget(Descendant.get());
  Added->SetName("Added");
  Added->SetCaption("new");

  std::string Text = vcl::ComponentToText(Descendant.get(), Ancestor.get());
  EXPECT_EQ(Text,
            "inherited Form1: TWidget\r\n"
            "  Count = 7\r\n"
            "  Extra = 0\r\n"
            "  inherited Widget1: TWidget\r\n"
            "  end\r\n"
            "  inherited Gadget1: TGadget\r\n"
            "    Size = 99\r\n"
            "  end\r\n"
            "  inherited Plain: TWidget\r\n"
            "  end\r\n"
            "  object Added: TWidget\r\n"
            "    Caption = 'new'\r\n"
            "  end\r\n"
            "end\r\n");

  // Reading the difference into a copy of the ancestor gives the descendant.
  auto Copy = SampleForm();
  vcl::ReadComponentFromText(Text, Copy.get());
  EXPECT_EQ(DescribeTree(Copy.get()), DescribeTree(Descendant.get()));
  EXPECT_EQ(Log, (std::vector<std::string>{"Form1.Count LR", "Form1.Extra LR", "Added.Caption LR", "Loaded Form1 L",
                                           "Loaded Widget1 L", "Loaded Gadget1 L", "Loaded Plain L",
                                           "Loaded Added L"}));
}

TEST_F(FormFilesTest, BadInputRaisesWithLineAndLeavesNothingBehind) {
  struct Case { std::string Text; std::string Message; bool ClassNotFound = false; };
  const std::string Head = "object Form1: TWidget\n  Count = 1\n";
  std::vector<Case> Cases{
      {Head + "  object W: TNope\n  end\nend\n", "Class TNope not found on line 3", true},
      {Head + "  object W: TWidget\n    Bogus = 1\n  end\nend\n",
       "Error reading W.Bogus: Property Bogus does not exist on line 4"},
      {Head + "  object W: TWidget\n    Count = 2\n", "Unexpected end of file on line 4"},
      {Head, "Unexpected end of file on line 2"},
      {"", "Expected 'object' but found end of file on line 1"},
      {Head + "  Data = {\n    00FG}\nend\n", "Invalid binary value 'G' on line 4"},
      {Head + "  Data = { 0 }\nend\n", "Odd number of hex digits in binary data on line 3"},
      {Head + "  Data = { 00\n", "Unexpected end of file in binary data on line 4"},
      {Head + "  Ratio = 1.2.3\nend\n", "Invalid number 1.2.3 on line 3"},
      {Head + "  Count = 12x\nend\n", "Invalid number 12x on line 3"},
      {Head + "  Extra = 99999999999999999999\nend\n", "Invalid number 99999999999999999999 on line 3"},
      {Head + "  Count = 4294967296\nend\n", "Error reading Form1.Count: Value 4294967296 out of range on line 3"},
      {Head + "  Count = 'one'\nend\n", "Error reading Form1.Count: Invalid property value on line 3"},
      {Head + "  Extra = 'one'\nend\n", "Error reading Form1.Extra: Invalid property value on line 3"},
      {Head + "  Data = 5\nend\n", "Error reading Form1.Data: Invalid property value on line 3"},
      {Head + "  Shape = shOval\nend\n", "Error reading Form1.Shape: Invalid property value on line 3"},
      {Head + "  Styles = [stBold, stWavy]\nend\n", "Error reading Form1.Styles: Invalid property value on line 3"},
      {Head + "  Styles = [stBold stItalic]\nend\n", "Expected ',' or ']' but found 'stItalic' on line 3"},
      {Head + "  Caption = 'open\nend\n", "Unterminated string on line 3"},
      {Head + "  Caption = #\nend\n", "Invalid character code on line 3"},
      {Head + "  Caption 'x'\nend\n", "Expected '=' after Caption but found a string on line 3"},
      {Head + "  Lines.Strings = ( 1 )\nend\n", "Expected a string or ')' but found number 1 on line 3"},
      {Head + "  object A: TWidget\n  end\n  object a: TWidget\n  end\nend\n",
       "A component named a already exists on line 5"},
      {Head + "  object 9: TWidget\n", "Expected a class name but found number 9 on line 3"},
      {Head + "  inherited Missing: TWidget\n  end\nend\n", "Ancestor for 'Missing' not found on line 3"},
      {Head + "  object P: TPicky\n    Mode = 'bad'\n  end\nend\n",
       "Error reading P.Mode: Mode bad is not allowed on line 4"},
      {Head + "  Count = ?\n", "Invalid character '?' on line 3"},
      {Head + "end\nobject X: TWidget\nend\n", "Expected end of file but found 'object' on line 4"},
      {Head + "  object W: TWidget\n    Buddy = Nobody\n  end\nend\n",
       "Error reading W.Buddy: Component Nobody not found on line 4"},
      {Head + "  Buddy = P\n  object P: TPicky\n  end\nend\n",
       "Error reading Form1.Buddy: P is a TPicky, which does not fit property Buddy on line 3"},
      {Head + "  Buddy = 'W'\nend\n", "Error reading Form1.Buddy: Invalid property value on line 3"},
  };
  for (auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    TComponent Holder(nullptr);
    try {
      vcl::ComponentFromText(C.Text, &Holder);
      ADD_FAILURE() << "no error";
    } catch (const vcl::EClassNotFound& E) {
      EXPECT_TRUE(C.ClassNotFound);
      EXPECT_EQ(E.Message(), C.Message);
    } catch (const vcl::EReadError& E) {
      EXPECT_FALSE(C.ClassNotFound);
      EXPECT_EQ(E.Message(), C.Message);
    }
    EXPECT_EQ(Holder.ComponentCount(), 0);

    // Read into an existing root: it keeps what it had and loses the flags.
    TWidget Root(nullptr);
    auto* Kept = new TWidget(&Root);
    Kept->SetName("Kept");
    EXPECT_THROW(vcl::ReadComponentFromText(C.Text, &Root), vcl::EFilerError);
    ASSERT_EQ(Root.ComponentCount(), 1);
    EXPECT_EQ(Root.Components(0), Kept);
    EXPECT_EQ(Root.ComponentState(), vcl::TComponentState{});
  }
}

TEST_F(FormFilesTest, RegistryChainsTablesAndRejectsDuplicates) {
  const vcl::TComponentClass& Gadget = vcl::FindClass("tgadget");
  EXPECT_EQ(Gadget.ClassName(), "TGadget");
  EXPECT_TRUE(Gadget.InheritsFrom("TWidget"));
  EXPECT_TRUE(Gadget.InheritsFrom("TComponent"));
  EXPECT_FALSE(vcl::FindClass("TWidget").InheritsFrom("TGadget"));
  std::vector<std::string> Names;
  for (const auto& P : Gadget.Properties()) Names.push_back(P.Name);
  EXPECT_EQ(Names, (std::vector<std::string>{"Tag", "Count", "Ratio", "Caption", "Enabled", "Shape", "Styles",
                                             "Lines", "Buddy", "Size"}));
  EXPECT_EQ(*Gadget.FindProperty("shape")->Default, vcl::TPropertyValue::Ident("shSquare"));
  EXPECT_EQ(*vcl::FindClass("TWidget").FindProperty("Shape")->Default, vcl::TPropertyValue::Ident("shCircle"));

  EXPECT_THROW(vcl::RegisterClass("TWidget", nullptr), vcl::EFilerError);
  EXPECT_THROW(vcl::RegisterClass("TOrphan", nullptr, {}, "TNoSuchParent"), vcl::EClassNotFound);
  EXPECT_EQ(vcl::GetClass("TNoSuchClass"), nullptr);
  try {
    vcl::FindClass("TNoSuchClass");
    ADD_FAILURE();
  } catch (const vcl::EClassNotFound& E) {
    EXPECT_EQ(E.Message(), "Class TNoSuchClass not found");
  }
  vcl::RegisterClass("TTemporary", nullptr, {}, "TWidget");
  EXPECT_THROW(vcl::FindClass("TTemporary").Create(nullptr), vcl::EFilerError);
  EXPECT_THROW(vcl::UnRegisterClass("TWidget"), vcl::EFilerError);  // TGadget still needs it
  vcl::UnRegisterClass("TTemporary");
  EXPECT_EQ(vcl::GetClass("TTemporary"), nullptr);
}

TEST_F(FormFilesTest, WriterFailureLeavesStreamAndStateClean) {
  TWidget Root(nullptr);
  Root.SetName("Form1");
  auto* W = new TWidget(&Root);
  W->SetRatio(std::numeric_limits<double>::quiet_NaN());
  vcl::TMemoryStream Out;
  EXPECT_THROW(vcl::WriteComponentToStream(Out, &Root), vcl::EWriteError);
  EXPECT_EQ(Out.Size(), 0);
  EXPECT_EQ(Root.ComponentState(), vcl::TComponentState{});
  EXPECT_EQ(W->ComponentState(), vcl::TComponentState{});

  // A class the registry does not know cannot be written.
  class TUnregistered : public TComponent {
   public:
    using TComponent::TComponent;
    std::string ClassName() const override { return "TUnregistered"; }
  } Stranger(nullptr);
  EXPECT_THROW(vcl::ComponentToText(&Stranger), vcl::EClassNotFound);
}

TEST_F(FormFilesTest, ResFilesRoundTripThroughTheFileSystem) {
  std::string Template = (std::filesystem::temp_directory_path() / "vdb-forms-XXXXXX").string();
  ASSERT_NE(mkdtemp(Template.data()), nullptr);
  std::filesystem::path Dir = Template;
  auto Form = SampleForm();
  std::string File = (Dir / "form1.dfm").string();
  vcl::WriteComponentResFile(File, Form.get());
  TComponent Owner(nullptr);
  TComponent* Back = vcl::ReadComponentResFile(File, &Owner);
  EXPECT_EQ(Back->Owner(), &Owner);
  EXPECT_EQ(DescribeTree(Back), DescribeTree(Form.get()));
  EXPECT_THROW(vcl::ReadComponentResFile((Dir / "none.dfm").string()), vcl::EFOpenError);
  // A second root of the same name under one owner is refused.
  EXPECT_THROW(vcl::ReadComponentResFile(File, &Owner), vcl::EReadError);
  EXPECT_EQ(Owner.ComponentCount(), 1);
  std::filesystem::remove_all(Dir);
}

}  // namespace

namespace {

TEST_F(FormFilesTest, ComponentReferencesResolveAfterTheWholeTree) {
  const std::string Text =
      "object Form1: TWidget\n"
      "  Buddy = Form1\n"
      "  object First: TWidget\n"
      "    Buddy = Second\n"  // comes later in the stream
      "  end\n"
      "  object Second: TWidget\n"
      "    Buddy = form1.FIRST\n"
      "  end\n"
      "  object Third: TWidget\n"
      "    Buddy = nil\n"
      "  end\n"
      "end\n";
  TComponent Application(nullptr);
  auto* Form = dynamic_cast<TWidget*>(vcl::ComponentFromText(Text, &Application));
  ASSERT_NE(Form, nullptr);
  auto* First = dynamic_cast<TWidget*>(Form->FindComponent("First"));
  auto* Second = dynamic_cast<TWidget*>(Form->FindComponent("Second"));
  EXPECT_EQ(Form->Buddy(), Form);
  EXPECT_EQ(First->Buddy(), Second);
  EXPECT_EQ(Second->Buddy(), First);
  EXPECT_EQ(dynamic_cast<TWidget*>(Form->FindComponent("Third"))->Buddy(), nullptr);
  // References are set with csLoading but after the reading proper.
  EXPECT_EQ(std::count(Log.begin(), Log.end(), "Second.Buddy L"), 1);
  EXPECT_EQ(Log.back(), "Loaded Third L");
  EXPECT_EQ(vcl::ComponentToText(Form),
            "object Form1: TWidget\r\n"
            "  Buddy = Form1\r\n"
            "  object First: TWidget\r\n"
            "    Buddy = Second\r\n"
            "  end\r\n"
            "  object Second: TWidget\r\n"
            "    Buddy = First\r\n"
            "  end\r\n"
            "  object Third: TWidget\r\n"
            "  end\r\n"
            "end\r\n");

  // A second root under the same owner can point into the first one.
  auto* Other = dynamic_cast<TWidget*>(vcl::ComponentFromText(
      "object Form2: TWidget\n  Buddy = Form1.Second\nend\n", &Application));
  EXPECT_EQ(Other->Buddy(), Second);
  EXPECT_EQ(vcl::ComponentToText(Other), "object Form2: TWidget\r\n  Buddy = Form1.Second\r\nend\r\n");
  delete Second;
  EXPECT_EQ(First->Buddy(), nullptr);
  Other->SetBuddy(nullptr);
}

}  // namespace
