#include "rtl/Components.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using vcl::TComponent;

// Records its destruction and the notifications it receives.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* AOwner, std::vector<std::string>* ALog, std::string ATag = {})
      : TComponent(AOwner), Log(ALog), Label(std::move(ATag)) {}
  ~TProbe() override {
    if (Log) Log->push_back("free " + Label + (ComponentState().Contains(vcl::csDestroying) ? "" : " (not destroying)"));
  }
  std::string ClassName() const override { return "TProbe"; }
  std::vector<std::string>* Log;
  std::string Label;
  std::vector<std::pair<TComponent*, vcl::TOperation>> Heard;

 protected:
  void Notification(TComponent* AComponent, vcl::TOperation Operation) override {
    Heard.emplace_back(AComponent, Operation);
    TComponent::Notification(AComponent, Operation);
  }
};

// Holds a reference to another component and lets go of it when told,
// the way a data link holds its source.
class TLinker : public TComponent {
 public:
  using TComponent::TComponent;
  std::string ClassName() const override { return "TLinker"; }
  void SetTarget(TComponent* Value) {
    if (Target) Target->RemoveFreeNotification(this);
    Target = Value;
    if (Target) Target->FreeNotification(this);
  }
  std::string TargetName() const { return Target ? Target->Name() : "-"; }
  TComponent* Target = nullptr;

 protected:
  void Notification(TComponent* AComponent, vcl::TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation == vcl::opRemove && AComponent == Target) Target = nullptr;
  }
};

TEST(ComponentsTest, OwnerFreesItsComponentsInReverseOrder) {
  std::vector<std::string> Log;
  {
    auto Root = std::make_unique<TProbe>(nullptr, &Log, "root");
    auto* A = new TProbe(Root.get(), &Log, "a");
    new TProbe(A, &Log, "a.1");
    new TProbe(Root.get(), &Log, "b");
    new TProbe(Root.get(), &Log, "c");
    EXPECT_EQ(Root->ComponentCount(), 3);
    EXPECT_EQ(Root->Components(0), A);
    EXPECT_EQ(A->Owner(), Root.get());
  }
  // The root's own destructor body runs before the base marks it; what it
  // owns is marked before it is freed.
  EXPECT_EQ(Log, (std::vector<std::string>{"free root (not destroying)", "free c", "free b", "free a",
                                           "free a.1"}));
}

TEST(ComponentsTest, DeletingAnOwnedComponentLeavesItsOwner) {
  TComponent Root(nullptr);
  auto* A = new TComponent(&Root);
  auto* B = new TComponent(&Root);
  EXPECT_EQ(B->ComponentIndex(), 1);
  delete A;
  EXPECT_EQ(Root.ComponentCount(), 1);
  EXPECT_EQ(B->ComponentIndex(), 0);
  EXPECT_THROW(Root.Components(1), vcl::EListError);
}

TEST(ComponentsTest, NamesAreIdentifiersUniqueWithinTheOwner) {
  TComponent Root(nullptr);
  auto* First = new TComponent(&Root);
  First->SetName("Session1");
  auto* Second = new TComponent(&Root);
  struct Case { std::string Name; std::string Error; };
  std::vector<Case> Cases{
      {"Query_2", ""},
      {"_x", ""},
      {"", ""},
      {"2Fast", "'2Fast' is not a valid component name"},
      {"has space", "'has space' is not a valid component name"},
      {"dot.ted", "'dot.ted' is not a valid component name"},
      {"Session1", "A component named Session1 already exists"},
      {"SESSION1", "A component named SESSION1 already exists"},
  };
  for (auto& C : Cases) {
    Second->SetName("Before");
    try {
      Second->SetName(C.Name);
      EXPECT_EQ(C.Error, "") << C.Name;
      EXPECT_EQ(Second->Name(), C.Name);
    } catch (const vcl::EComponentError& E) {
      EXPECT_EQ(E.Message(), C.Error);
      EXPECT_EQ(Second->Name(), "Before");
    }
  }
  First->SetName("SESSION1");  // a change of case is no clash with itself
  EXPECT_EQ(Root.FindComponent("session1"), First);
  EXPECT_EQ(Root.FindComponent("Before"), Second);
  EXPECT_EQ(Root.FindComponent(""), nullptr);
  EXPECT_EQ(First->GetNamePath(), "SESSION1");

  // Another owner may use the same name, but moving into a clash fails.
  TComponent Other(nullptr);
  auto* Twin = new TComponent(&Other);
  Twin->SetName("Session1");
  EXPECT_THROW(Root.InsertComponent(Twin), vcl::EComponentError);
  EXPECT_EQ(Twin->Owner(), &Other);
  Twin->SetName("Moved");
  Root.InsertComponent(Twin);
  EXPECT_EQ(Twin->Owner(), &Root);
  EXPECT_EQ(Other.ComponentCount(), 0);
}

TEST(ComponentsTest, OwnedComponentsHearOfInsertionAndRemoval) {
  std::vector<std::string> Log;
  TProbe Root(nullptr, nullptr);
  auto* A = new TProbe(&Root, nullptr);
  auto* B = new TComponent(&Root);
  delete B;
  std::vector<std::pair<TComponent*, vcl::TOperation>> Expected{
      {A, vcl::opInsert}, {B, vcl::opInsert}, {B, vcl::opRemove}};
  EXPECT_EQ(Root.Heard, Expected);
  EXPECT_EQ(A->Heard, (std::vector<std::pair<TComponent*, vcl::TOperation>>(Expected.begin() + 1, Expected.end())));
}

TEST(ComponentsTest, FreeNotificationIsSafeWhicheverPartnerGoesFirst) {
  for (bool TargetFirst : {true, false}) {
    auto FormA = std::make_unique<TComponent>(nullptr);
    auto FormB = std::make_unique<TComponent>(nullptr);
    auto* Target = new TComponent(FormA.get());
    Target->SetName("Target");
    auto* Link = new TLinker(FormB.get());
    Link->SetTarget(Target);
    EXPECT_TRUE(Target->ComponentState().Contains(vcl::csFreeNotification));
    EXPECT_EQ(Link->TargetName(), "Target");
    if (TargetFirst) {
      FormA.reset();
      EXPECT_EQ(Link->Target, nullptr);
      FormB.reset();
    } else {
      FormB.reset();  // the target must forget the link, or freeing it would touch freed memory
      FormA.reset();
    }
  }
}

TEST(ComponentsTest, RemoveFreeNotificationStopsTheMessages) {
  TProbe Watcher(nullptr, nullptr);
  auto Subject = std::make_unique<TComponent>(nullptr);
  Subject->FreeNotification(&Watcher);
  Subject->FreeNotification(&Watcher);  // asking twice is asking once
  Subject->RemoveFreeNotification(&Watcher);
  Subject.reset();
  EXPECT_TRUE(Watcher.Heard.empty());

  Subject = std::make_unique<TComponent>(nullptr);
  TComponent* Raw = Subject.get();
  Subject->FreeNotification(&Watcher);
  Subject.reset();
  ASSERT_EQ(Watcher.Heard.size(), 1u);
  EXPECT_EQ(Watcher.Heard[0], std::make_pair(Raw, vcl::opRemove));
}

TEST(ComponentsTest, SiblingsReferencingEachOtherDieCleanly) {
  // Links within one owner go through the owner's notifications.
  auto Root = std::make_unique<TComponent>(nullptr);
  auto* Target = new TComponent(Root.get());
  auto* Link = new TLinker(Root.get());
  auto* Early = new TLinker(Root.get());
  Link->SetTarget(Target);
  Early->SetTarget(Link);
  delete Target;
  EXPECT_EQ(Link->Target, nullptr);
  Root.reset();
}

TEST(ComponentsTest, DesigningAndDestroyingStates) {
  TComponent Root(nullptr);
  auto* Child = new TComponent(&Root);
  Root.SetDesigning(true);
  EXPECT_TRUE(Child->ComponentState().Contains(vcl::csDesigning));
  auto* Late = new TComponent(&Root);
  EXPECT_TRUE(Late->ComponentState().Contains(vcl::csDesigning));
  Root.SetDesigning(false, false);
  EXPECT_FALSE(Root.ComponentState().Contains(vcl::csDesigning));
  EXPECT_TRUE(Child->ComponentState().Contains(vcl::csDesigning));
  Root.Destroying();
  EXPECT_TRUE(Late->ComponentState().Contains(vcl::csDestroying));

  std::vector<std::string> Log;
  {
    TProbe Owner(nullptr, &Log, "owner");
    new TProbe(&Owner, &Log, "child");
  }
  EXPECT_EQ(Log, (std::vector<std::string>{"free owner (not destroying)", "free child"}));
}

TEST(ComponentsTest, TagAndAssignErrors) {
  TComponent A(nullptr), B(nullptr);
  A.SetTag(-42);
  EXPECT_EQ(A.Tag(), -42);
  struct Case { vcl::TPersistent* Source; std::string Message; };
  vcl::TPersistent Plain;
  std::vector<Case> Cases{
      {&B, "Cannot assign a TComponent to a TComponent"},
      {nullptr, "Cannot assign a nil to a TComponent"},
      {&Plain, "Cannot assign a TPersistent to a TComponent"},
  };
  for (auto& C : Cases) {
    try {
      A.Assign(C.Source);
      ADD_FAILURE() << C.Message;
    } catch (const vcl::EConvertError& E) {
      EXPECT_EQ(E.Message(), C.Message);
    }
  }
  EXPECT_EQ(Plain.GetNamePath(), "TPersistent");
}

}  // namespace
