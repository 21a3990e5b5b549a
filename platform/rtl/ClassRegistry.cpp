#include "rtl/ClassRegistry.h"

#include <map>
#include <memory>
#include <mutex>

namespace vcl {

namespace {

// Names compare without regard to case, as the framework's do.
struct TNameLess {
  bool operator()(const std::string& A, const std::string& B) const {
    return AnsiLowerCase(A) < AnsiLowerCase(B);
  }
};

struct TRegistry {
  std::mutex Lock;
  std::map<std::string, std::unique_ptr<TComponentClass>, TNameLess> Classes;
};

TRegistry& Registry() {
  static TRegistry* Instance = [] {
    auto* R = new TRegistry;  // lives for the whole process: classes are looked up at exit too
    std::vector<TPropInfo> Props{IntegerProperty("Tag", &TComponent::Tag, &TComponent::SetTag)};
    R->Classes.emplace("TComponent",
                       std::make_unique<TComponentClass>(
                           "TComponent", nullptr, [](TComponent* Owner) { return new TComponent(Owner); },
                           std::move(Props)));
    return R;
  }();
  return *Instance;
}

}  // namespace

TComponentClass::TComponentClass(std::string Name, const TComponentClass* Parent,
                                 TComponentFactory Factory, std::vector<TPropInfo> Properties)
    : FName(std::move(Name)), FParent(Parent), FFactory(std::move(Factory)) {
  if (FParent != nullptr) FAllProperties = FParent->FAllProperties;
  for (auto& P : Properties) {
    auto It = std::find_if(FAllProperties.begin(), FAllProperties.end(),
                           [&](const TPropInfo& Q) { return AnsiSameText(Q.Name, P.Name); });
    if (It != FAllProperties.end())
      *It = std::move(P);
    else
      FAllProperties.push_back(std::move(P));
  }
}

bool TComponentClass::InheritsFrom(const std::string& AClassName) const {
  for (const TComponentClass* C = this; C != nullptr; C = C->FParent)
    if (AnsiSameText(C->FName, AClassName)) return true;
  return false;
}

TComponent* TComponentClass::Create(TComponent* Owner) const {
  if (!FFactory) throw EFilerError("Cannot create an instance of " + FName);
  return FFactory(Owner);
}

const TPropInfo* TComponentClass::FindProperty(const std::string& Name) const {
  for (const auto& P : FAllProperties)
    if (AnsiSameText(P.Name, Name)) return &P;
  return nullptr;
}

const TComponentClass& RegisterClass(const std::string& AClassName, TComponentFactory Factory,
                                     std::vector<TPropInfo> Properties, const std::string& ParentName) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  if (R.Classes.count(AClassName) != 0) throw EFilerError("A class named " + AClassName + " already exists");
  auto Parent = R.Classes.find(ParentName);
  if (Parent == R.Classes.end()) throw EClassNotFound("Class " + ParentName + " not found");
  auto Class = std::make_unique<TComponentClass>(AClassName, Parent->second.get(), std::move(Factory),
                                                 std::move(Properties));
  const TComponentClass& Result = *Class;
  R.Classes.emplace(AClassName, std::move(Class));
  return Result;
}

void UnRegisterClass(const std::string& AClassName) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  auto It = R.Classes.find(AClassName);
  if (It == R.Classes.end() || It->second->Parent() == nullptr) return;
  for (const auto& [Name, Class] : R.Classes)
    if (Class->Parent() == It->second.get())
      throw EFilerError("Class " + AClassName + " still has registered descendants");
  R.Classes.erase(It);
}

const TComponentClass* GetClass(const std::string& AClassName) {
  TRegistry& R = Registry();
  std::lock_guard<std::mutex> Guard(R.Lock);
  auto It = R.Classes.find(AClassName);
  return It == R.Classes.end() ? nullptr : It->second.get();
}

const TComponentClass& FindClass(const std::string& AClassName) {
  const TComponentClass* C = GetClass(AClassName);
  if (C == nullptr) throw EClassNotFound("Class " + AClassName + " not found");
  return *C;
}

}  // namespace vcl
