// TComponent: objects that own other components, carry a validated Name and
// tell each other when one of them goes away.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "rtl/Persistent.h"
#include "rtl/System.h"

namespace vcl {

enum TComponentStateFlag : uint8_t {
  csLoading,           // being read from a form file; cleared by Loaded
  csReading,           // its properties are being read right now
  csWriting,           // being written to a form file
  csDestroying,        // on its way out: Destroying() ran
  csDesigning,         // lives in a designer
  csAncestor,          // comes from an ancestor form
  csUpdating,          // an ancestor is being updated
  csFixups,            // has unresolved references from reading
  csFreeNotification,  // takes part in free notifications
  csInline,            // an embedded frame
  csDesignInstance,    // the root a designer edits
};
using TComponentState = Set<TComponentStateFlag>;

enum TOperation : uint8_t { opInsert, opRemove };

class TReader;
class TWriter;

// Ownership: a component with an Owner is freed by it, last-inserted first;
// deleting a component yourself removes it from its Owner. Free
// notifications are kept on both sides, so either partner may go first.
//
// The owner frees its components from ~TComponent, when the overrides of a
// descendant owner no longer run. A descendant that must see opRemove for
// its own components while it is destroyed calls DestroyComponents() in its
// destructor, and one that wants csDestroying set for its own teardown calls
// Destroying() first.
class TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  std::string ClassName() const override { return "TComponent"; }

  TComponent* Owner() const { return FOwner; }
  int32_t ComponentCount() const { return static_cast<int32_t>(FComponents.size()); }
  // Raises EListError "List index out of bounds (<Index>)".
  TComponent* Components(int32_t Index) const;
  // Position in the owner's list, -1 without owner.
  int32_t ComponentIndex() const;
  // The owned component of that name (case-insensitive), or nullptr.
  TComponent* FindComponent(const std::string& AName) const;

  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  void DestroyComponents();

  const std::string& Name() const { return FName; }
  // Raises EComponentError for an invalid identifier or a name already used
  // by another component of the same owner.
  virtual void SetName(const std::string& NewName);
  int64_t Tag() const { return FTag; }
  void SetTag(int64_t Value) { FTag = Value; }

  TComponentState ComponentState() const { return FComponentState; }
  void SetDesigning(bool Value, bool SetChildren = true);

  // AComponent is told (Notification opRemove) when this component is freed,
  // and this one when AComponent is.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);
  // Marks this component and everything it owns csDestroying.
  void Destroying();

  std::string GetNamePath() override { return FName; }

  // Children written as nested objects: by default the components the root
  // owns when this is the root, none otherwise.
  virtual void GetChildren(const std::function<void(TComponent*)>& Proc, TComponent* Root);

 protected:
  // Runs after the whole form file was read; clears csLoading.
  virtual void Loaded();
  // Told about components inserted into or removed from the owner, and about
  // free-notification partners going away. Overrides call the base, which
  // passes the news on to the owned components.
  virtual void Notification(TComponent* AComponent, TOperation Operation);
  // Checks a rename of AComponent (owned by this) from CurName to NewName.
  virtual void ValidateRename(TComponent* AComponent, const std::string& CurName,
                              const std::string& NewName);
  TPersistent* GetOwner() override { return FOwner; }

  friend class TReader;
  friend class TWriter;

 private:
  void InsertOwned(TComponent* AComponent);
  void RemoveOwned(TComponent* AComponent);
  void Unlink(TComponent* AComponent);

  TComponent* FOwner = nullptr;             // frees this component; may be null
  std::vector<TComponent*> FComponents;     // owned, in insertion order
  std::vector<TComponent*> FFreeNotifies;   // free-notification partners, not owned
  std::string FName;                        // empty or a valid identifier
  int64_t FTag = 0;                         // free for the application
  TComponentState FComponentState;          // cs* flags
};

}  // namespace vcl
