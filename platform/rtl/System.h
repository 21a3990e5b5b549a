// The root of the runtime stand-in: TObject, the exception hierarchy the
// components raise and catch, small sets over enumerations, and the event
// signature every component uses.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <initializer_list>
#include <new>
#include <string>
#include <type_traits>

namespace vcl {

// Every framework object derives from TObject so that Sender arguments and
// list entries can be passed as TObject*.
class TObject {
 public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;

  // The class name as the framework reports it (used in messages such as
  // "Cannot assign a TFoo to a TBar"). Classes override it.
  virtual std::string ClassName() const { return "TObject"; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Exception: the framework's root exception. Message() is the text the user
// sees; what() returns the same bytes.
class Exception : public TObject, public std::exception {
 public:
  explicit Exception(std::string Msg) : FMessage(std::move(Msg)) {}
  const std::string& Message() const { return FMessage; }
  void SetMessage(const std::string& Msg) { FMessage = Msg; }
  const char* what() const noexcept override { return FMessage.c_str(); }
  std::string ClassName() const override { return "Exception"; }

 private:
  std::string FMessage;
};

#define VCL_DECLARE_EXCEPTION(Name, Base)                     \
  class Name : public Base {                                  \
   public:                                                    \
    using Base::Base;                                         \
    std::string ClassName() const override { return #Name; } \
  }

VCL_DECLARE_EXCEPTION(EAbort, Exception);
VCL_DECLARE_EXCEPTION(EConvertError, Exception);
VCL_DECLARE_EXCEPTION(EVariantError, Exception);
VCL_DECLARE_EXCEPTION(EListError, Exception);
VCL_DECLARE_EXCEPTION(EStringListError, EListError);
VCL_DECLARE_EXCEPTION(EStreamError, Exception);
VCL_DECLARE_EXCEPTION(EFCreateError, EStreamError);
VCL_DECLARE_EXCEPTION(EFOpenError, EStreamError);
VCL_DECLARE_EXCEPTION(EFilerError, EStreamError);
VCL_DECLARE_EXCEPTION(EReadError, EFilerError);
VCL_DECLARE_EXCEPTION(EWriteError, EFilerError);
VCL_DECLARE_EXCEPTION(EClassNotFound, EFilerError);
VCL_DECLARE_EXCEPTION(EInvalidOperation, Exception);
VCL_DECLARE_EXCEPTION(EInvalidPointer, Exception);
VCL_DECLARE_EXCEPTION(EComponentError, Exception);
VCL_DECLARE_EXCEPTION(EInvalidGraphic, Exception);
VCL_DECLARE_EXCEPTION(EOSError, Exception);
VCL_DECLARE_EXCEPTION(EThread, Exception);
VCL_DECLARE_EXCEPTION(EIntError, Exception);
VCL_DECLARE_EXCEPTION(ERangeError, EIntError);
VCL_DECLARE_EXCEPTION(EMathError, Exception);

// Out of memory is the standard library's own exception.
using EOutOfMemory = std::bad_alloc;

// Set<E>: a set over an enumeration whose values are below 64, the
// equivalent of the framework's "set of" types.
template <class E>
class Set {
  static_assert(std::is_enum_v<E>, "Set is for enumerations");

 public:
  constexpr Set() = default;
  constexpr Set(std::initializer_list<E> Items) {
    for (E e : Items) FBits |= Bit(e);
  }

  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr Set& Include(E e) { FBits |= Bit(e); return *this; }
  constexpr Set& Exclude(E e) { FBits &= ~Bit(e); return *this; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint64_t Bits() const { return FBits; }
  static constexpr Set FromBits(uint64_t Bits) { Set s; s.FBits = Bits; return s; }

  constexpr Set operator+(Set o) const { return FromBits(FBits | o.FBits); }
  constexpr Set operator-(Set o) const { return FromBits(FBits & ~o.FBits); }
  constexpr Set operator*(Set o) const { return FromBits(FBits & o.FBits); }
  constexpr Set& operator+=(Set o) { FBits |= o.FBits; return *this; }
  constexpr Set& operator-=(Set o) { FBits &= ~o.FBits; return *this; }
  constexpr bool operator==(const Set&) const = default;

 private:
  static constexpr uint64_t Bit(E e) { return uint64_t{1} << static_cast<unsigned>(e); }
  uint64_t FBits = 0;
};

}  // namespace vcl
