#include "rtl/Components.h"

#include <algorithm>

#include "rtl/StrUtils.h"

namespace vcl {

namespace {

bool IsIdentChar(char C, bool First) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || C == '_' ||
         (!First && C >= '0' && C <= '9');
}

bool IsValidName(const std::string& Ident) {
  if (Ident.empty()) return false;
  for (size_t i = 0; i < Ident.size(); ++i)
    if (!IsIdentChar(Ident[i], i == 0)) return false;
  return true;
}

void EraseOne(std::vector<TComponent*>& List, TComponent* Item) {
  auto It = std::find(List.begin(), List.end(), Item);
  if (It != List.end()) List.erase(It);
}

}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  // Partners hear about us while we are still whole; then both sides of
  // every link are cut, whatever the partner's override did with the news.
  while (!FFreeNotifies.empty()) {
    TComponent* Partner = FFreeNotifies.back();
    Partner->Notification(this, opRemove);
    Unlink(Partner);
  }
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int32_t Index) const {
  if (Index < 0 || Index >= ComponentCount())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return FComponents[static_cast<size_t>(Index)];
}

int32_t TComponent::ComponentIndex() const {
  if (FOwner == nullptr) return -1;
  auto& List = FOwner->FComponents;
  return static_cast<int32_t>(std::find(List.begin(), List.end(), this) - List.begin());
}

TComponent* TComponent::FindComponent(const std::string& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* C : FComponents)
    if (AnsiSameText(C->FName, AName)) return C;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent->FOwner == this) return;
  ValidateRename(AComponent, "", AComponent->FName);
  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  InsertOwned(AComponent);
  if (FComponentState.Contains(csDesigning)) AComponent->SetDesigning(true);
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  RemoveOwned(AComponent);
}

void TComponent::InsertOwned(TComponent* AComponent) {
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::RemoveOwned(TComponent* AComponent) {
  EraseOne(FComponents, AComponent);
  AComponent->FOwner = nullptr;
}

void TComponent::DestroyComponents() {
  while (!FComponents.empty()) {
    TComponent* Instance = FComponents.back();
    // Removal first, so the remaining components hear about it and the
    // instance's destructor finds no owner to report to.
    RemoveComponent(Instance);
    delete Instance;
  }
}

void TComponent::SetName(const std::string& NewName) {
  if (FName == NewName) return;
  if (!NewName.empty() && !IsValidName(NewName))
    throw EComponentError("'" + NewName + "' is not a valid component name");
  if (FOwner != nullptr)
    FOwner->ValidateRename(this, FName, NewName);
  else
    ValidateRename(nullptr, FName, NewName);
  FName = NewName;
}

void TComponent::ValidateRename(TComponent* AComponent, const std::string& CurName,
                                const std::string& NewName) {
  if (AComponent == nullptr || NewName.empty() || AnsiSameText(CurName, NewName)) return;
  TComponent* Existing = FindComponent(NewName);
  if (Existing != nullptr && Existing != AComponent)
    throw EComponentError("A component named " + NewName + " already exists");
}

void TComponent::SetDesigning(bool Value, bool SetChildren) {
  if (Value)
    FComponentState.Include(csDesigning);
  else
    FComponentState.Exclude(csDesigning);
  if (SetChildren)
    for (TComponent* C : FComponents) C->SetDesigning(Value, true);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  // Components of one owner hear about each other through the owner.
  if (FOwner == nullptr || AComponent->FOwner != FOwner) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
      FFreeNotifies.push_back(AComponent);
      AComponent->FreeNotification(this);
    }
  }
  FComponentState.Include(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) { Unlink(AComponent); }

void TComponent::Unlink(TComponent* AComponent) {
  EraseOne(FFreeNotifies, AComponent);
  EraseOne(AComponent->FFreeNotifies, this);
}

void TComponent::Destroying() {
  if (FComponentState.Contains(csDestroying)) return;
  FComponentState.Include(csDestroying);
  for (TComponent* C : FComponents) C->Destroying();
}

void TComponent::GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root) {
  if (Root != this) return;
  for (TComponent* C : FComponents) Proc(C);
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
  // A receiver may free components of ours, so walk by index and re-check.
  for (size_t i = FComponents.size(); i-- > 0;) {
    if (i >= FComponents.size()) {
      i = FComponents.size();
      continue;
    }
    FComponents[i]->Notification(AComponent, Operation);
  }
}

}  // namespace vcl
