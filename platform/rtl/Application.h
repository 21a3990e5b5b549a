// TApplication: the process-wide application object. It reports exceptions
// nobody handled, serves the calls worker threads hand to the main thread,
// and keeps the forms and data modules in the order they were created.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "rtl/Components.h"
#include "rtl/System.h"

namespace vcl {

using TExceptionEvent = std::function<void(TObject* Sender, const Exception& E)>;

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;
  std::string ClassName() const override { return "TApplication"; }

  // Reports the exception being handled (call it from a catch block):
  // OnException when assigned, else ShowException. EAbort stays silent; an
  // exception that is not an Exception is reported with its what() text.
  void HandleException(TObject* Sender);
  // Writes E's message to stderr.
  void ShowException(const Exception& E);

  // Runs the calls worker threads queued with Synchronize. Only the main
  // thread serves them; elsewhere this does nothing.
  void ProcessMessages();
  // Serves the main thread's queue until Terminate is called.
  void Run();
  void Terminate() { FTerminated = true; }
  bool Terminated() const { return FTerminated; }

  const std::string& Title() const { return FTitle; }
  void SetTitle(const std::string& Value) { FTitle = Value; }
  std::string ExeName() const;

  // Forms and data modules in creation order. Forms(i) and DataModules(i)
  // raise EListError "List index out of bounds (<i>)".
  int32_t FormCount() const { return static_cast<int32_t>(FForms.size()); }
  TComponent* Forms(int32_t Index) const;
  int32_t DataModuleCount() const { return static_cast<int32_t>(FDataModules.size()); }
  TComponent* DataModules(int32_t Index) const;

  // A form or data module enters the registry when it is created and leaves
  // when it is destroyed; a component freed without leaving is dropped
  // through its free notification. Registering twice keeps one entry.
  void RegisterForm(TComponent* Form);
  void UnregisterForm(TComponent* Form);
  void RegisterDataModule(TComponent* DataModule);
  void UnregisterDataModule(TComponent* DataModule);

  TExceptionEvent OnException;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  std::vector<TComponent*> FForms;        // registered forms, not owned
  std::vector<TComponent*> FDataModules;  // registered data modules, not owned
  std::string FTitle;                     // shown in messages; free text
  bool FTerminated = false;               // Terminate was called
};

// The application object of the process; never freed.
extern TApplication* Application;

}  // namespace vcl
