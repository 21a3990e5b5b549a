// Variant: a value of one of the OLE automation types, as datasets, fields
// and parameters pass values around. Scalars live inside the object (no
// heap); strings use std::string's own storage; arrays are one-dimensional,
// owned by the Variant and copied deeply.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "rtl/DateUtils.h"
#include "rtl/System.h"

namespace vcl {

// A failed conversion ("Could not convert variant of type (String) into
// type (Double)"), a value out of the target's range, a bad array index.
VCL_DECLARE_EXCEPTION(EVariantTypeCastError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantOverflowError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantBadIndexError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantBadVarTypeError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantArrayLockedError, EVariantError);
VCL_DECLARE_EXCEPTION(EVariantInvalidOpError, EVariantError);

using TVarType = uint16_t;

constexpr TVarType varEmpty = 0x0000;
constexpr TVarType varNull = 0x0001;
constexpr TVarType varSmallint = 0x0002;
constexpr TVarType varInteger = 0x0003;
constexpr TVarType varSingle = 0x0004;
constexpr TVarType varDouble = 0x0005;
constexpr TVarType varCurrency = 0x0006;
constexpr TVarType varDate = 0x0007;
constexpr TVarType varOleStr = 0x0008;
constexpr TVarType varBoolean = 0x000B;
constexpr TVarType varVariant = 0x000C;
constexpr TVarType varShortInt = 0x0010;
constexpr TVarType varByte = 0x0011;
constexpr TVarType varWord = 0x0012;
constexpr TVarType varLongWord = 0x0013;
constexpr TVarType varInt64 = 0x0014;
constexpr TVarType varString = 0x0100;
constexpr TVarType varTypeMask = 0x0FFF;
constexpr TVarType varArray = 0x2000;

// A fixed-point amount with four decimals, kept as the amount times 10,000.
struct Currency {
  int64_t Val = 0;  // the amount * 10,000

  static constexpr Currency FromScaled(int64_t Scaled) { return Currency{Scaled}; }
  // Rounds to four decimals, ties to even; EVariantOverflowError when the
  // amount does not fit (NaN and infinities included).
  static Currency FromDouble(double Value);
  double ToDouble() const { return static_cast<double>(Val) / 10000.0; }
  constexpr auto operator<=>(const Currency&) const = default;
};

// "12.5", "-0.0001", "3": no trailing zeros, '.' as the decimal point.
std::string CurrToStr(Currency Value);
// Digits with an optional '.' and up to four decimals (more are rounded,
// ties to even), blanks around and a sign allowed.
bool TryStrToCurr(std::string_view S, Currency& Value);

struct TVarArrayData;

class Variant {
 public:
  Variant() noexcept : FType(varEmpty), FInt(0) {}
  Variant(int16_t V) : FType(varSmallint), FInt(V) {}
  Variant(int32_t V) : FType(varInteger), FInt(V) {}
  Variant(long V) : FType(varInt64), FInt(V) {}
  Variant(long long V) : FType(varInt64), FInt(V) {}
  Variant(signed char V) : FType(varShortInt), FInt(V) {}
  Variant(unsigned char V) : FType(varByte), FInt(V) {}
  Variant(uint16_t V) : FType(varWord), FInt(V) {}
  Variant(uint32_t V) : FType(varLongWord), FInt(V) {}
  // Stored as varInt64; EVariantOverflowError above INT64_MAX.
  Variant(unsigned long V);
  Variant(unsigned long long V);
  Variant(float V) : FType(varSingle), FDouble(V) {}
  Variant(double V) : FType(varDouble), FDouble(V) {}
  Variant(bool V) : FType(varBoolean), FInt(V ? 1 : 0) {}
  Variant(Currency V) : FType(varCurrency), FInt(V.Val) {}
  Variant(TDateTime V) : FType(varDate), FDouble(V.Val) {}
  // A char is a one-character string, as in the framework.
  Variant(char V);
  Variant(const char* V);
  Variant(const std::string& V);
  Variant(std::string&& V);
  Variant(std::string_view V);
  // Pointers other than text would silently turn into Booleans.
  Variant(const void*) = delete;
  Variant(std::nullptr_t) = delete;

  Variant(const Variant& Other);
  Variant(Variant&& Other) noexcept;
  Variant& operator=(const Variant& Other);
  Variant& operator=(Variant&& Other) noexcept;
  ~Variant();

  TVarType Type() const { return FType; }

  // Conversions. Null raises EVariantTypeCastError for every target but
  // text (VarToStr answers "" for it); Empty reads as 0, False, "" or
  // 1899-12-30. Text is parsed (numbers, "True"/"False", date-times in the
  // DateUtils format); a value outside the target's range raises
  // EVariantOverflowError. True reads as -1 in numbers, as in OLE.
  // Floats become integers rounding ties to even.
  std::string AsString() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  bool AsBoolean() const;
  TDateTime AsDateTime() const;
  Currency AsCurrency() const;

  // Array elements by index between the bounds; EVariantBadIndexError
  // outside them, EVariantError "Variant is not an array" for scalars.
  // Typed arrays convert what is put into their element type.
  Variant GetElement(int32_t Index) const;
  void PutElement(const Variant& Value, int32_t Index);

  // A total order for sorting and searching: Empty, then Null, then values.
  // Numbers of every kind compare numerically (integers exactly), Booleans
  // as False < True, strings by bytes. A string against a number or date
  // is read as one, raising EVariantTypeCastError when it is not. Arrays
  // are equal when their bounds, element types and elements are; ordering
  // them raises EVariantInvalidOpError.
  friend bool operator==(const Variant& A, const Variant& B);
  friend std::weak_ordering operator<=>(const Variant& A, const Variant& B);

 private:
  friend struct VariantAccess;
  void Clear() noexcept;
  void CopyFrom(const Variant& Other);
  void MoveFrom(Variant& Other) noexcept;

  TVarType FType;  // a var* code, varArray added for arrays
  union {
    int64_t FInt;          // ordinals, Boolean (0/1), currency (scaled)
    double FDouble;        // single, double, date
    std::string FString;   // varString and varOleStr
    TVarArrayData* FArray; // varArray: owned
  };
};

Variant Null();
Variant Unassigned();

TVarType VarType(const Variant& V);
bool VarIsNull(const Variant& V);
bool VarIsEmpty(const Variant& V);
bool VarIsArray(const Variant& V);
// Integer types and Boolean.
bool VarIsOrdinal(const Variant& V);
// Single, double and currency.
bool VarIsFloat(const Variant& V);
bool VarIsNumeric(const Variant& V);
bool VarIsStr(const Variant& V);
// The framework's name of a type: "Integer", "String", "Array Byte".
std::string VarTypeAsText(TVarType Type);

// Text of a value, "" for Null.
std::string VarToStr(const Variant& V);
// The value converted to Type (a scalar type; varString and varOleStr
// both give text), raising as the conversions above do.
Variant VarAsType(const Variant& V, TVarType Type);

// A varVariant array with bounds 0..n-1.
Variant VarArrayOf(std::initializer_list<Variant> Values);
// An array of ElemType (varVariant or a scalar type) with the given
// bounds, elements empty or zero; HighBound may be LowBound - 1 (no
// elements). Bad types raise EVariantBadVarTypeError.
Variant VarArrayCreate(int32_t LowBound, int32_t HighBound, TVarType ElemType);
// A byte array (varArray | varByte) holding a copy of the bytes, bounds 0..Size-1.
Variant VarArrayFromBytes(const void* Data, size_t Size);
int32_t VarArrayDimCount(const Variant& V);
// Dim must be 1; others raise EVariantBadIndexError.
int32_t VarArrayLowBound(const Variant& V, int32_t Dim);
int32_t VarArrayHighBound(const Variant& V, int32_t Dim);
// Changes the high bound, keeping the elements that remain; raises
// EVariantArrayLockedError while the array is locked.
void VarArrayRedim(Variant& V, int32_t HighBound);
Variant VarArrayGet(const Variant& V, int32_t Index);
void VarArrayPut(Variant& V, const Variant& Value, int32_t Index);

// Direct access to a byte array's storage for blob code: the bytes stay
// where they are until the array is resized or destroyed. Lock/Unlock pair
// up (Unlock without Lock raises); Redim refuses while locked. Lock on any
// other array answers its Variant elements; on a scalar, VarArrayBytes and
// Lock raise EVariantError.
std::span<uint8_t> VarArrayBytes(Variant& V);
std::span<const uint8_t> VarArrayBytes(const Variant& V);
void* VarArrayLock(Variant& V);
void VarArrayUnlock(Variant& V);

}  // namespace vcl
