// Feeds arbitrary text to the form-file reader. A text either reads, and then
// what is written back reads again into the same text, or it raises a filer
// error and leaves nothing behind in the owner.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "rtl/ClassRegistry.h"
#include "rtl/FormFiles.h"

namespace {

enum TShape : uint8_t { shCircle, shSquare, shTriangle };
enum TStyle : uint8_t { stBold, stItalic, stUnderline };
using TStyles = vcl::Set<TStyle>;

// One published property of every kind, plus a binary and a defined one.
class TWidget : public vcl::TComponent {
 public:
  explicit TWidget(vcl::TComponent* AOwner) : TComponent(AOwner), FLines(std::make_unique<vcl::TStringList>()) {}
  std::string ClassName() const override { return "TWidget"; }

  int32_t Count() const { return FCount; }
  void SetCount(int32_t V) { FCount = V; }
  double Ratio() const { return FRatio; }
  void SetRatio(double V) { FRatio = V; }
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& V) {
    if (V == "refused") throw vcl::EInvalidOperation("Caption refused");
    FCaption = V;
  }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool V) { FEnabled = V; }
  TShape Shape() const { return FShape; }
  void SetShape(TShape V) { FShape = V; }
  TStyles Styles() const { return FStyles; }
  void SetStyles(TStyles V) { FStyles = V; }
  vcl::TStringList* Lines() const { return FLines.get(); }
  TWidget* Buddy() const { return FBuddy; }
  void SetBuddy(TWidget* V) {
    if (FBuddy) FBuddy->RemoveFreeNotification(this);
    FBuddy = V;
    if (V) V->FreeNotification(this);
  }

 protected:
  void Notification(vcl::TComponent* AComponent, vcl::TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == vcl::opRemove && AComponent == FBuddy) FBuddy = nullptr;
  }
  void DefineProperties(vcl::TFiler* Filer) override {
    Filer->DefineBinaryProperty(
        "Data",
        [this](vcl::TStream& S) {
          FBlob.resize(static_cast<size_t>(S.Size()));
          S.ReadBuffer(FBlob.data(), S.Size());
        },
        [this](vcl::TStream& S) { S.WriteBuffer(FBlob.data(), static_cast<int64_t>(FBlob.size())); },
        !FBlob.empty());
    Filer->DefineProperty(
        "Extra", [this](vcl::TReader& R) { FExtra = R.ReadInteger(); },
        [this](vcl::TWriter& W) { W.WriteInteger(FExtra); }, FExtra != 0);
  }

 private:
  int32_t FCount = 0;
  double FRatio = 0;
  std::string FCaption;
  bool FEnabled = true;
  TShape FShape = shCircle;
  TStyles FStyles;
  std::unique_ptr<vcl::TStringList> FLines;
  TWidget* FBuddy = nullptr;
  std::string FBlob;
  int64_t FExtra = 0;
};

void RegisterWidget() {
  vcl::RegisterClass("TWidget", [](vcl::TComponent* Owner) { return new TWidget(Owner); },
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
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  RegisterWidget();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  vcl::TComponent Holder(nullptr);
  vcl::TComponent* Read = nullptr;
  try {
    Read = vcl::ComponentFromText(Text, &Holder);
  } catch (const vcl::EFilerError&) {
    if (Holder.ComponentCount() != 0) __builtin_trap();
    return 0;
  }
  if (Read == nullptr || Holder.ComponentCount() != 1) __builtin_trap();

  // What was read writes back into a text that reads into itself.
  const std::string Written = vcl::ComponentToText(Read);
  vcl::TComponent Again(nullptr);
  vcl::TComponent* Reread = vcl::ComponentFromText(Written, &Again);
  if (vcl::ComponentToText(Reread) != Written) __builtin_trap();
  return 0;
}
