#include "rtl/Application.h"

#include <algorithm>
#include <iostream>

#include "rtl/Threads.h"
#include "rtl/Windows.h"

namespace vcl {

TApplication* Application = new TApplication(nullptr);

namespace {

void RemoveEntry(std::vector<TComponent*>& List, TComponent* Item) {
  List.erase(std::remove(List.begin(), List.end(), Item), List.end());
}

TComponent* EntryAt(const std::vector<TComponent*>& List, int32_t Index) {
  if (Index < 0 || static_cast<size_t>(Index) >= List.size())
    throw EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return List[static_cast<size_t>(Index)];
}

}  // namespace

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {}

TApplication::~TApplication() {
  // Cut the links while the registry still exists.
  for (TComponent* C : FForms) RemoveFreeNotification(C);
  for (TComponent* C : FDataModules) RemoveFreeNotification(C);
  FForms.clear();
  FDataModules.clear();
}

void TApplication::HandleException(TObject* Sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const EAbort&) {
  } catch (const Exception& E) {
    if (OnException)
      OnException(Sender, E);
    else
      ShowException(E);
  } catch (const std::exception& E) {
    Exception wrapped(E.what());
    if (OnException)
      OnException(Sender, wrapped);
    else
      ShowException(wrapped);
  } catch (...) {
    Exception wrapped("Unknown exception");
    if (OnException)
      OnException(Sender, wrapped);
    else
      ShowException(wrapped);
  }
}

void TApplication::ShowException(const Exception& E) {
  std::cerr << E.Message() << std::endl;
}

void TApplication::ProcessMessages() {
  if (GetCurrentThreadId() != MainThreadID()) return;
  while (CheckSynchronize(0)) {
  }
}

void TApplication::Run() {
  while (!FTerminated) CheckSynchronize(50);
}

std::string TApplication::ExeName() const { return GetModuleFileName(nullptr); }

TComponent* TApplication::Forms(int32_t Index) const { return EntryAt(FForms, Index); }

TComponent* TApplication::DataModules(int32_t Index) const { return EntryAt(FDataModules, Index); }

void TApplication::RegisterForm(TComponent* Form) {
  if (Form == nullptr || std::find(FForms.begin(), FForms.end(), Form) != FForms.end()) return;
  FForms.push_back(Form);
  FreeNotification(Form);
}

void TApplication::UnregisterForm(TComponent* Form) { RemoveEntry(FForms, Form); }

void TApplication::RegisterDataModule(TComponent* DataModule) {
  if (DataModule == nullptr ||
      std::find(FDataModules.begin(), FDataModules.end(), DataModule) != FDataModules.end())
    return;
  FDataModules.push_back(DataModule);
  FreeNotification(DataModule);
}

void TApplication::UnregisterDataModule(TComponent* DataModule) { RemoveEntry(FDataModules, DataModule); }

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  // Only a component on its way out leaves; one merely changing owner stays.
  if (Operation == opRemove && AComponent != nullptr &&
      AComponent->ComponentState().Contains(csDestroying)) {
    RemoveEntry(FForms, AComponent);
    RemoveEntry(FDataModules, AComponent);
  }
  TComponent::Notification(AComponent, Operation);
}

}  // namespace vcl
