// The class registry behind form files: each streamable component class is
// registered by name with a factory and its published-property table. A
// class's table extends its parent's.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rtl/Classes.h"
#include "rtl/Components.h"
#include "rtl/PropertyValue.h"
#include "rtl/StrUtils.h"
#include "rtl/System.h"

namespace vcl {

enum TPropKind : uint8_t {
  pkInteger,      // vaInt64
  pkFloat,        // vaExtended (integers are accepted when read)
  pkString,       // vaString
  pkBoolean,      // vaFalse / vaTrue
  pkEnumeration,  // vaIdent, one of EnumNames
  pkSet,          // vaSet, elements from EnumNames
  pkStrings,      // vaList, written as "<Name>.Strings = ( ... )"
  pkComponent,    // a reference: vaNil or the component's name, resolved after reading
};

using TPropGetter = std::function<TPropertyValue(TPersistent* Instance)>;
using TPropSetter = std::function<void(TPersistent* Instance, const TPropertyValue& Value)>;

// One published property.
struct TPropInfo {
  std::string Name;                       // as written in form files
  TPropKind Kind = pkInteger;             // decides the accepted values
  TPropGetter Get;                        // answers a value of Kind
  TPropSetter Set;                        // receives a value of Kind
  std::optional<TPropertyValue> Default;  // not written when equal; none: always written
  std::vector<std::string> EnumNames;     // pkEnumeration/pkSet: names by ordinal
};

using TComponentFactory = std::function<TComponent*(TComponent* Owner)>;

// A registered class.
class TComponentClass {
 public:
  TComponentClass(std::string Name, const TComponentClass* Parent, TComponentFactory Factory,
                  std::vector<TPropInfo> Properties);

  const std::string& ClassName() const { return FName; }
  const TComponentClass* Parent() const { return FParent; }
  bool InheritsFrom(const std::string& AClassName) const;
  // Creates an instance owned by Owner; raises EFilerError for a class
  // registered without factory.
  TComponent* Create(TComponent* Owner) const;
  // The published properties, the parent's first; a redefined name keeps
  // the parent's position.
  const std::vector<TPropInfo>& Properties() const { return FAllProperties; }
  const TPropInfo* FindProperty(const std::string& Name) const;

 private:
  std::string FName;                     // the registered class name
  const TComponentClass* FParent;        // registered parent, null for TComponent
  TComponentFactory FFactory;            // may be empty for abstract classes
  std::vector<TPropInfo> FAllProperties; // inherited and own
};

// Registers AClassName below ParentName (which must be registered already;
// TComponent always is). Raises EFilerError "A class named <name> already
// exists" for a second registration.
const TComponentClass& RegisterClass(const std::string& AClassName, TComponentFactory Factory,
                                     std::vector<TPropInfo> Properties = {},
                                     const std::string& ParentName = "TComponent");
void UnRegisterClass(const std::string& AClassName);
// GetClass answers nullptr for an unknown name; FindClass raises
// EClassNotFound "Class <name> not found".
const TComponentClass* GetClass(const std::string& AClassName);
const TComponentClass& FindClass(const std::string& AClassName);

// Table helpers over a class's accessor pair. The instance is checked to be
// a T; setters receive values already checked to be of the right kind.
namespace props_detail {
template <class T>
T* As(TPersistent* Instance, const std::string& Name) {
  T* Result = dynamic_cast<T*>(Instance);
  if (Result == nullptr)
    throw EFilerError("Property " + Name + " does not belong to a " + Instance->ClassName());
  return Result;
}
}  // namespace props_detail

template <class T, class R, class A>
TPropInfo IntegerProperty(std::string Name, R (T::*Getter)() const, void (T::*Setter)(A),
                          std::optional<int64_t> Default = 0) {
  TPropInfo P{Name, pkInteger, {}, {}, {}, {}};
  P.Get = [=](TPersistent* I) {
    return TPropertyValue::Int(static_cast<int64_t>((props_detail::As<T>(I, Name)->*Getter)()));
  };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    using Arg = std::remove_cvref_t<A>;
    if (!std::in_range<Arg>(V.Integer))
      throw EConvertError("Value " + std::to_string(V.Integer) + " out of range");
    (props_detail::As<T>(I, Name)->*Setter)(static_cast<Arg>(V.Integer));
  };
  if (Default) P.Default = TPropertyValue::Int(*Default);
  return P;
}

template <class T, class R, class A>
TPropInfo FloatProperty(std::string Name, R (T::*Getter)() const, void (T::*Setter)(A),
                        std::optional<double> Default = 0.0) {
  TPropInfo P{Name, pkFloat, {}, {}, {}, {}};
  P.Get = [=](TPersistent* I) {
    return TPropertyValue::Extended(static_cast<double>((props_detail::As<T>(I, Name)->*Getter)()));
  };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    (props_detail::As<T>(I, Name)->*Setter)(static_cast<std::remove_cvref_t<A>>(V.Float));
  };
  if (Default) P.Default = TPropertyValue::Extended(*Default);
  return P;
}

template <class T, class R, class A>
TPropInfo StringProperty(std::string Name, R (T::*Getter)() const, void (T::*Setter)(A),
                         std::optional<std::string> Default = std::string()) {
  TPropInfo P{Name, pkString, {}, {}, {}, {}};
  P.Get = [=](TPersistent* I) { return TPropertyValue::String((props_detail::As<T>(I, Name)->*Getter)()); };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) { (props_detail::As<T>(I, Name)->*Setter)(V.Text); };
  if (Default) P.Default = TPropertyValue::String(*Default);
  return P;
}

template <class T, class R, class A>
TPropInfo BooleanProperty(std::string Name, R (T::*Getter)() const, void (T::*Setter)(A),
                          std::optional<bool> Default = false) {
  TPropInfo P{Name, pkBoolean, {}, {}, {}, {"False", "True"}};
  P.Get = [=](TPersistent* I) { return TPropertyValue::Boolean((props_detail::As<T>(I, Name)->*Getter)()); };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    (props_detail::As<T>(I, Name)->*Setter)(V.Type == vaTrue);
  };
  if (Default) P.Default = TPropertyValue::Boolean(*Default);
  return P;
}

// Names lists the enumerators' names by ordinal.
template <class T, class E, class A>
TPropInfo EnumProperty(std::string Name, std::vector<std::string> Names, E (T::*Getter)() const,
                       void (T::*Setter)(A), std::optional<E> Default) {
  static_assert(std::is_enum_v<E>);
  TPropInfo P{Name, pkEnumeration, {}, {}, {}, Names};
  P.Get = [=](TPersistent* I) {
    size_t Ordinal = static_cast<size_t>((props_detail::As<T>(I, Name)->*Getter)());
    if (Ordinal >= Names.size()) throw EWriteError("Invalid value of property " + Name);
    return TPropertyValue::Ident(Names[Ordinal]);
  };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    for (size_t i = 0; i < Names.size(); ++i)
      if (AnsiSameText(Names[i], V.Text)) {
        (props_detail::As<T>(I, Name)->*Setter)(static_cast<E>(i));
        return;
      }
  };
  if (Default) P.Default = TPropertyValue::Ident(Names.at(static_cast<size_t>(*Default)));
  return P;
}

template <class T, class E, class A>
TPropInfo SetProperty(std::string Name, std::vector<std::string> Names, Set<E> (T::*Getter)() const,
                      void (T::*Setter)(A), std::optional<Set<E>> Default = Set<E>()) {
  auto ToValue = [Names](Set<E> S) {
    std::vector<std::string> Elements;
    for (size_t i = 0; i < Names.size(); ++i)
      if (S.Contains(static_cast<E>(i))) Elements.push_back(Names[i]);
    return TPropertyValue::SetOf(std::move(Elements));
  };
  TPropInfo P{Name, pkSet, {}, {}, {}, Names};
  P.Get = [=](TPersistent* I) { return ToValue((props_detail::As<T>(I, Name)->*Getter)()); };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    Set<E> S;
    for (const auto& Element : V.Items)
      for (size_t i = 0; i < Names.size(); ++i)
        if (AnsiSameText(Names[i], Element)) S.Include(static_cast<E>(i));
    (props_detail::As<T>(I, Name)->*Setter)(S);
  };
  if (Default) P.Default = ToValue(*Default);
  return P;
}

// A TStrings held by the instance; an empty list is not written.
template <class T, class S>
TPropInfo StringsProperty(std::string Name, S* (T::*Getter)() const) {
  TPropInfo P{Name, pkStrings, {}, {}, TPropertyValue::List({}), {}};
  P.Get = [=](TPersistent* I) {
    TStrings* Strings = (props_detail::As<T>(I, Name)->*Getter)();
    std::vector<std::string> Items;
    for (int32_t i = 0; i < Strings->Count(); ++i) Items.push_back(Strings->Strings(i));
    return TPropertyValue::List(std::move(Items));
  };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    TStrings* Strings = (props_detail::As<T>(I, Name)->*Getter)();
    Strings->BeginUpdate();
    try {
      Strings->Clear();
      for (const auto& Item : V.Items) Strings->Add(Item);
    } catch (...) {
      Strings->EndUpdate();
      throw;
    }
    Strings->EndUpdate();
  };
  return P;
}

// A reference to another component, written as its name (or Owner.Name
// for a component of another root) and resolved once the whole stream is
// read. The setter receives nullptr or a C.
template <class T, class C, class A>
TPropInfo ComponentProperty(std::string Name, C* (T::*Getter)() const, void (T::*Setter)(A)) {
  TPropInfo P{Name, pkComponent, {}, {}, TPropertyValue::ComponentRef(nullptr), {}};
  P.Get = [=](TPersistent* I) { return TPropertyValue::ComponentRef((props_detail::As<T>(I, Name)->*Getter)()); };
  P.Set = [=](TPersistent* I, const TPropertyValue& V) {
    C* Target = nullptr;
    if (V.Reference != nullptr) {
      Target = dynamic_cast<C*>(V.Reference);
      if (Target == nullptr)
        throw EConvertError(V.Reference->Name() + " is a " + V.Reference->ClassName() +
                            ", which does not fit property " + Name);
    }
    (props_detail::As<T>(I, Name)->*Setter)(Target);
  };
  return P;
}

}  // namespace vcl
