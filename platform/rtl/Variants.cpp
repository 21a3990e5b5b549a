#include "rtl/Variants.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "rtl/StrUtils.h"
#include "rtl/SysUtils.h"

namespace vcl {

// The storage of an array Variant.
struct TVarArrayData {
  int32_t Low = 0;                // the low bound
  TVarType ElemType = varVariant; // element type (varByte keeps raw bytes)
  std::vector<Variant> Items;     // elements of every type but varByte
  std::vector<uint8_t> Bytes;     // elements of a byte array
  int32_t LockCount = 0;          // VarArrayLock calls not yet undone

  size_t Count() const { return ElemType == varByte ? Bytes.size() : Items.size(); }
  int32_t High() const { return static_cast<int32_t>(Low + static_cast<int64_t>(Count()) - 1); }
};

// The private parts the free functions below work with.
struct VariantAccess {
  static int64_t& Int(Variant& V) { return V.FInt; }
  static int64_t Int(const Variant& V) { return V.FInt; }
  static double Dbl(const Variant& V) { return V.FDouble; }
  static const std::string& Str(const Variant& V) { return V.FString; }
  static TVarArrayData* Array(const Variant& V) { return V.FArray; }
  static void SetType(Variant& V, TVarType T) { V.FType = T; }
  static Variant MakeArray(TVarArrayData* Data) {
    Variant v;
    v.FType = static_cast<TVarType>(varArray | Data->ElemType);
    v.FArray = Data;
    return v;
  }
};

namespace {

using VA = VariantAccess;

bool IsStrType(TVarType T) { return T == varString || T == varOleStr; }

bool IsOrdinalType(TVarType T) {
  switch (T) {
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64:
      return true;
    default:
      return false;
  }
}

bool IsFloatType(TVarType T) { return T == varSingle || T == varDouble || T == varCurrency; }

bool IsScalarType(TVarType T) {
  return IsOrdinalType(T) || IsFloatType(T) || IsStrType(T) || T == varDate || T == varBoolean;
}

[[noreturn]] void CastError(TVarType From, TVarType To) {
  throw EVariantTypeCastError("Could not convert variant of type (" + VarTypeAsText(From) +
                              ") into type (" + VarTypeAsText(To) + ")");
}

[[noreturn]] void OverflowError(TVarType From, TVarType To) {
  throw EVariantOverflowError("Overflow while converting variant of type (" +
                              VarTypeAsText(From) + ") into type (" + VarTypeAsText(To) + ")");
}

[[noreturn]] void NotArray() { throw EVariantError("Variant is not an array"); }

[[noreturn]] void BadIndex() {
  throw EVariantBadIndexError("Variant or safe array index out of bounds");
}

constexpr double kTwo63 = 9223372036854775808.0;

int64_t FloatToInt64(double D, TVarType From, TVarType To) {
  const double r = std::nearbyint(D);  // ties to even under the default rounding
  if (!(r >= -kTwo63 && r < kTwo63)) OverflowError(From, To);
  return static_cast<int64_t>(r);
}

int64_t CurrencyToInt64(int64_t Scaled) {
  int64_t q = Scaled / 10000;
  const int64_t rem = Scaled % 10000;
  const int64_t a = rem < 0 ? -rem : rem;
  if (a > 5000 || (a == 5000 && (q % 2) != 0)) q += rem < 0 ? -1 : 1;
  return q;
}

Currency CurrencyFromDouble(double D, TVarType From) {
  if (!std::isfinite(D)) OverflowError(From, varCurrency);
  const double r = std::nearbyint(D * 10000.0);
  if (!(r >= -kTwo63 && r < kTwo63)) OverflowError(From, varCurrency);
  return Currency::FromScaled(static_cast<int64_t>(r));
}

std::string SingleToStr(float F) {
  if (!std::isfinite(F)) return FloatToStr(F);
  // The shortest text of the float itself, not of its double widening.
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, F);
  double d = 0;
  std::from_chars(buf, r.ptr, d);
  return FloatToStr(d);
}

int64_t ToInt64(const Variant& V, TVarType To) {
  const TVarType t = V.Type();
  switch (t) {
    case varEmpty: return 0;
    case varBoolean: return VA::Int(V) ? -1 : 0;
    case varSingle: case varDouble: case varDate: return FloatToInt64(VA::Dbl(V), t, To);
    case varCurrency: return CurrencyToInt64(VA::Int(V));
    case varString: case varOleStr: {
      int64_t i = 0;
      double d = 0;
      if (TryStrToInt64(VA::Str(V), i)) return i;
      if (TryStrToFloat(VA::Str(V), d)) return FloatToInt64(d, t, To);
      CastError(t, To);
    }
    default:
      if (IsOrdinalType(t)) return VA::Int(V);
      CastError(t, To);
  }
}

int64_t ToRange(const Variant& V, TVarType To, int64_t Min, int64_t Max) {
  const int64_t v = ToInt64(V, To);
  if (v < Min || v > Max) OverflowError(V.Type(), To);
  return v;
}

// The zero of an element type.
Variant ZeroOf(TVarType T) {
  if (T == varVariant) return Variant();
  return VarAsType(Variant(int32_t{0}), T);
}

TVarArrayData& ArrayOf(const Variant& V) {
  if (!VarIsArray(V)) NotArray();
  return *VA::Array(V);
}

size_t Slot(const TVarArrayData& A, int32_t Index) {
  const int64_t i = static_cast<int64_t>(Index) - A.Low;
  if (i < 0 || static_cast<uint64_t>(i) >= A.Count()) BadIndex();
  return static_cast<size_t>(i);
}

int Cmp(int64_t A, int64_t B) { return A < B ? -1 : A > B ? 1 : 0; }

// NaN sorts before every other number and equals itself.
int CmpDouble(double A, double B) {
  const bool na = std::isnan(A), nb = std::isnan(B);
  if (na || nb) return na && nb ? 0 : na ? -1 : 1;
  return A < B ? -1 : A > B ? 1 : 0;
}

// Exact comparison of an integer with a double.
int CmpIntDouble(int64_t I, double D) {
  if (std::isnan(D)) return 1;
  if (D >= kTwo63) return -1;
  if (D < -kTwo63) return 1;
  const double f = std::floor(D);
  const int64_t fi = static_cast<int64_t>(f);
  if (I != fi) return I < fi ? -1 : 1;
  return D > f ? -1 : 0;
}

bool IsNumberLike(TVarType T) { return IsOrdinalType(T) || IsFloatType(T) || T == varDate; }

int CompareNumbers(const Variant& A, const Variant& B) {
  const TVarType ta = A.Type(), tb = B.Type();
  const bool ia = IsOrdinalType(ta), ib = IsOrdinalType(tb);
  if (ia && ib) return Cmp(VA::Int(A), VA::Int(B));
  if (ta == varCurrency && tb == varCurrency) return Cmp(VA::Int(A), VA::Int(B));
  if (ta == varCurrency && ib) {
    const __int128 a = VA::Int(A), b = static_cast<__int128>(VA::Int(B)) * 10000;
    return a < b ? -1 : a > b ? 1 : 0;
  }
  if (ia && tb == varCurrency) return -CompareNumbers(B, A);
  if (ia) return CmpIntDouble(VA::Int(A), B.AsDouble());
  if (ib) return -CmpIntDouble(VA::Int(B), A.AsDouble());
  return CmpDouble(A.AsDouble(), B.AsDouble());
}

int Rank(TVarType T) { return T == varEmpty ? 0 : T == varNull ? 1 : 2; }

int Compare(const Variant& A, const Variant& B) {
  const TVarType ta = A.Type(), tb = B.Type();
  if (Rank(ta) != 2 || Rank(tb) != 2) return Cmp(Rank(ta), Rank(tb));
  if (VarIsArray(A) || VarIsArray(B))
    throw EVariantInvalidOpError("Invalid variant operation");
  if (IsStrType(ta) && IsStrType(tb)) {
    const int c = VA::Str(A).compare(VA::Str(B));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  if (ta == varBoolean && tb == varBoolean) return Cmp(VA::Int(A), VA::Int(B));
  // A string against something else is read as that something.
  if (IsStrType(ta) || IsStrType(tb)) {
    const bool strFirst = IsStrType(ta);
    const Variant& s = strFirst ? A : B;
    const Variant& o = strFirst ? B : A;
    Variant converted;
    if (o.Type() == varDate) {
      converted = s.AsDateTime();
    } else if (o.Type() == varBoolean) {
      converted = s.AsBoolean();
    } else {
      int64_t i = 0;
      if (TryStrToInt64(VA::Str(s), i))
        converted = i;
      else
        converted = s.AsDouble();
    }
    const int c = Compare(converted, o);
    return strFirst ? c : -c;
  }
  if (ta == varBoolean || tb == varBoolean) return CmpDouble(A.AsDouble(), B.AsDouble());
  if (IsNumberLike(ta) && IsNumberLike(tb)) return CompareNumbers(A, B);
  throw EVariantInvalidOpError("Invalid variant operation");
}

bool ArraysEqual(const Variant& A, const Variant& B) {
  if (A.Type() != B.Type()) return false;
  const TVarArrayData& a = *VA::Array(A);
  const TVarArrayData& b = *VA::Array(B);
  if (a.Low != b.Low || a.Count() != b.Count()) return false;
  if (a.ElemType == varByte) return a.Bytes == b.Bytes;
  for (size_t i = 0; i < a.Items.size(); ++i)
    if (!(a.Items[i] == b.Items[i])) return false;
  return true;
}

}  // namespace

// ---- Currency ----

Currency Currency::FromDouble(double Value) { return CurrencyFromDouble(Value, varDouble); }

std::string CurrToStr(Currency Value) {
  const uint64_t a = Value.Val < 0 ? 0 - static_cast<uint64_t>(Value.Val)
                                   : static_cast<uint64_t>(Value.Val);
  std::string s = Value.Val < 0 ? "-" : "";
  s += UIntToStr(a / 10000);
  uint64_t frac = a % 10000;
  if (frac != 0) {
    std::string f = UIntToStr(frac);
    f.insert(0, 4 - f.size(), '0');
    while (f.back() == '0') f.pop_back();
    s += '.';
    s += f;
  }
  return s;
}

bool TryStrToCurr(std::string_view S, Currency& Value) {
  size_t b = 0, e = S.size();
  while (b < e && (S[b] == ' ' || S[b] == '\t')) ++b;
  while (e > b && (S[e - 1] == ' ' || S[e - 1] == '\t')) --e;
  size_t i = b;
  bool negative = false;
  if (i < e && (S[i] == '+' || S[i] == '-')) negative = S[i++] == '-';
  constexpr unsigned __int128 kLimit = static_cast<unsigned __int128>(1) << 63;
  unsigned __int128 v = 0;
  size_t digits = 0;
  for (; i < e && S[i] >= '0' && S[i] <= '9'; ++i, ++digits) {
    v = v * 10 + static_cast<unsigned>(S[i] - '0');
    if (v > kLimit) return false;
  }
  v *= 10000;
  int decimals = 0;
  bool roundUp = false;
  if (i < e && S[i] == '.') {
    ++i;
    unsigned __int128 frac = 0;
    char first = 0;  // first digit past the fourth decimal
    bool restNonZero = false;
    for (; i < e && S[i] >= '0' && S[i] <= '9'; ++i, ++digits) {
      if (decimals < 4)
        frac = frac * 10 + static_cast<unsigned>(S[i] - '0');
      else if (decimals == 4)
        first = S[i];
      else if (S[i] != '0')
        restNonZero = true;
      ++decimals;
    }
    for (int k = decimals; k < 4; ++k) frac *= 10;
    v += frac;
    if (first > '5' || (first == '5' && (restNonZero || (v % 2) != 0))) roundUp = true;
  }
  if (digits == 0 || i != e) return false;
  if (roundUp) ++v;
  if (v > kLimit || (!negative && v == kLimit)) return false;
  Value.Val = negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(v))
                       : static_cast<int64_t>(static_cast<uint64_t>(v));
  return true;
}

// ---- Variant ----

Variant::Variant(unsigned long V) : Variant(static_cast<unsigned long long>(V)) {}

Variant::Variant(unsigned long long V) : FType(varInt64), FInt(0) {
  if (V > static_cast<unsigned long long>(std::numeric_limits<int64_t>::max()))
    throw EVariantOverflowError("Overflow while converting variant of type (UInt64) into type (Int64)");
  FInt = static_cast<int64_t>(V);
}

Variant::Variant(char V) : FType(varString) { new (&FString) std::string(1, V); }
Variant::Variant(const char* V) : FType(varString) {
  new (&FString) std::string(V ? V : "");
}
Variant::Variant(const std::string& V) : FType(varString) { new (&FString) std::string(V); }
Variant::Variant(std::string&& V) : FType(varString) { new (&FString) std::string(std::move(V)); }
Variant::Variant(std::string_view V) : FType(varString) { new (&FString) std::string(V); }

Variant::Variant(const Variant& Other) : FType(varEmpty), FInt(0) { CopyFrom(Other); }

Variant::Variant(Variant&& Other) noexcept : FType(varEmpty), FInt(0) { MoveFrom(Other); }

void Variant::MoveFrom(Variant& Other) noexcept {
  if (IsStrType(Other.FType))
    new (&FString) std::string(std::move(Other.FString));
  else if (Other.FType & varArray)
    FArray = std::exchange(Other.FArray, nullptr);
  else
    FInt = Other.FInt;  // the union's 8 bytes carry doubles too
  FType = Other.FType;
  Other.Clear();
}

Variant& Variant::operator=(const Variant& Other) {
  if (this != &Other) {
    Variant copy(Other);
    *this = std::move(copy);
  }
  return *this;
}

Variant& Variant::operator=(Variant&& Other) noexcept {
  if (this != &Other) {
    Clear();
    MoveFrom(Other);
  }
  return *this;
}

Variant::~Variant() { Clear(); }

void Variant::Clear() noexcept {
  if (IsStrType(FType))
    FString.~basic_string();
  else if (FType & varArray)
    delete FArray;  // null once moved from
  FType = varEmpty;
  FInt = 0;
}

void Variant::CopyFrom(const Variant& Other) {
  if (IsStrType(Other.FType)) {
    new (&FString) std::string(Other.FString);
  } else if (Other.FType & varArray) {
    auto* copy = new TVarArrayData(*Other.FArray);
    copy->LockCount = 0;
    FArray = copy;
  } else {
    FInt = Other.FInt;
  }
  FType = Other.FType;
}

std::string Variant::AsString() const {
  switch (FType) {
    case varEmpty: return "";
    case varBoolean: return FInt ? "True" : "False";
    case varSingle: return SingleToStr(static_cast<float>(FDouble));
    case varDouble: return FloatToStr(FDouble);
    case varCurrency: return CurrToStr(Currency::FromScaled(FInt));
    case varDate: return DateTimeToStr(FDouble);
    case varString: case varOleStr: return FString;
    default:
      if (IsOrdinalType(FType)) return IntToStr(FInt);
      CastError(FType, varString);
  }
}

int32_t Variant::AsInteger() const {
  return static_cast<int32_t>(ToRange(*this, varInteger, std::numeric_limits<int32_t>::min(),
                                      std::numeric_limits<int32_t>::max()));
}

int64_t Variant::AsInt64() const { return ToInt64(*this, varInt64); }

double Variant::AsDouble() const {
  switch (FType) {
    case varEmpty: return 0;
    case varBoolean: return FInt ? -1 : 0;
    case varSingle: case varDouble: case varDate: return FDouble;
    case varCurrency: return Currency::FromScaled(FInt).ToDouble();
    case varString: case varOleStr: {
      double d = 0;
      if (TryStrToFloat(FString, d)) return d;
      CastError(FType, varDouble);
    }
    default:
      if (IsOrdinalType(FType)) return static_cast<double>(FInt);
      CastError(FType, varDouble);
  }
}

bool Variant::AsBoolean() const {
  switch (FType) {
    case varEmpty: return false;
    case varBoolean: return FInt != 0;
    case varSingle: case varDouble: case varDate: return FDouble != 0;
    case varCurrency: return FInt != 0;
    case varString: case varOleStr: {
      if (AnsiSameText(Trim(FString), "True")) return true;
      if (AnsiSameText(Trim(FString), "False")) return false;
      double d = 0;
      if (TryStrToFloat(FString, d)) return d != 0;
      CastError(FType, varBoolean);
    }
    default:
      if (IsOrdinalType(FType)) return FInt != 0;
      CastError(FType, varBoolean);
  }
}

TDateTime Variant::AsDateTime() const {
  switch (FType) {
    case varEmpty: return 0.0;
    case varString: case varOleStr: {
      TDateTime d;
      if (TryStrToDateTime(FString, d)) return d;
      CastError(FType, varDate);
    }
    case varNull: CastError(FType, varDate);
    default:
      if (IsNumberLike(FType) || FType == varBoolean) return AsDouble();
      CastError(FType, varDate);
  }
}

Currency Variant::AsCurrency() const {
  constexpr int64_t kMaxUnits = std::numeric_limits<int64_t>::max() / 10000;
  switch (FType) {
    case varEmpty: return Currency{};
    case varBoolean: return Currency::FromScaled(FInt ? -10000 : 0);
    case varCurrency: return Currency::FromScaled(FInt);
    case varSingle: case varDouble: case varDate: return CurrencyFromDouble(FDouble, FType);
    case varString: case varOleStr: {
      Currency c;
      double d = 0;
      if (TryStrToCurr(FString, c)) return c;
      if (TryStrToFloat(FString, d)) return CurrencyFromDouble(d, FType);
      CastError(FType, varCurrency);
    }
    default:
      if (IsOrdinalType(FType)) {
        if (FInt > kMaxUnits || FInt < -kMaxUnits) OverflowError(FType, varCurrency);
        return Currency::FromScaled(FInt * 10000);
      }
      CastError(FType, varCurrency);
  }
}

Variant Variant::GetElement(int32_t Index) const {
  const TVarArrayData& a = ArrayOf(*this);
  const size_t i = Slot(a, Index);
  if (a.ElemType == varByte) return Variant(a.Bytes[i]);
  return a.Items[i];
}

void Variant::PutElement(const Variant& Value, int32_t Index) {
  TVarArrayData& a = ArrayOf(*this);
  const size_t i = Slot(a, Index);
  if (a.ElemType == varByte)
    a.Bytes[i] = static_cast<uint8_t>(ToRange(Value, varByte, 0, 255));
  else if (a.ElemType == varVariant)
    a.Items[i] = Value;
  else
    a.Items[i] = VarAsType(Value, a.ElemType);
}

bool operator==(const Variant& A, const Variant& B) {
  if (VarIsArray(A) || VarIsArray(B)) return VarIsArray(A) && VarIsArray(B) && ArraysEqual(A, B);
  return Compare(A, B) == 0;
}

std::weak_ordering operator<=>(const Variant& A, const Variant& B) {
  const int c = Compare(A, B);
  return c < 0 ? std::weak_ordering::less
               : c > 0 ? std::weak_ordering::greater : std::weak_ordering::equivalent;
}

// ---- free functions ----

Variant Null() {
  Variant v;
  VA::SetType(v, varNull);
  return v;
}

Variant Unassigned() { return Variant(); }

TVarType VarType(const Variant& V) { return V.Type(); }
bool VarIsNull(const Variant& V) { return V.Type() == varNull; }
bool VarIsEmpty(const Variant& V) { return V.Type() == varEmpty; }
bool VarIsArray(const Variant& V) { return (V.Type() & varArray) != 0; }
bool VarIsOrdinal(const Variant& V) { return IsOrdinalType(V.Type()) || V.Type() == varBoolean; }
bool VarIsFloat(const Variant& V) { return IsFloatType(V.Type()); }
bool VarIsNumeric(const Variant& V) { return VarIsOrdinal(V) || VarIsFloat(V); }
bool VarIsStr(const Variant& V) { return IsStrType(V.Type()); }

std::string VarTypeAsText(TVarType Type) {
  std::string name;
  switch (Type & varTypeMask) {
    case varEmpty: name = "Empty"; break;
    case varNull: name = "Null"; break;
    case varSmallint: name = "Smallint"; break;
    case varInteger: name = "Integer"; break;
    case varSingle: name = "Single"; break;
    case varDouble: name = "Double"; break;
    case varCurrency: name = "Currency"; break;
    case varDate: name = "Date"; break;
    case varOleStr: name = "OleStr"; break;
    case varBoolean: name = "Boolean"; break;
    case varVariant: name = "Variant"; break;
    case varShortInt: name = "ShortInt"; break;
    case varByte: name = "Byte"; break;
    case varWord: name = "Word"; break;
    case varLongWord: name = "LongWord"; break;
    case varInt64: name = "Int64"; break;
    case varString: name = "String"; break;
    default: name = "$" + IntToHex(Type & varTypeMask, 4); break;
  }
  return (Type & varArray) ? "Array " + name : name;
}

std::string VarToStr(const Variant& V) { return VarIsNull(V) ? std::string() : V.AsString(); }

Variant VarAsType(const Variant& V, TVarType Type) {
  if (Type == V.Type()) return V;
  Variant r;
  switch (Type) {
    case varEmpty: return Variant();
    case varNull: return Null();
    case varVariant: return V;
    case varSmallint: return Variant(static_cast<int16_t>(ToRange(V, Type, -32768, 32767)));
    case varShortInt: return Variant(static_cast<signed char>(ToRange(V, Type, -128, 127)));
    case varByte: return Variant(static_cast<unsigned char>(ToRange(V, Type, 0, 255)));
    case varWord: return Variant(static_cast<uint16_t>(ToRange(V, Type, 0, 65535)));
    case varLongWord: return Variant(static_cast<uint32_t>(ToRange(V, Type, 0, 4294967295LL)));
    case varInteger: return Variant(V.AsInteger());
    case varInt64: return Variant(static_cast<long long>(V.AsInt64()));
    case varSingle: {
      const double d = V.AsDouble();
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        OverflowError(V.Type(), Type);
      return Variant(static_cast<float>(d));
    }
    case varDouble: return Variant(V.AsDouble());
    case varCurrency: return Variant(V.AsCurrency());
    case varDate: return Variant(V.AsDateTime());
    case varBoolean: return Variant(V.AsBoolean());
    case varString: case varOleStr:
      if (VarIsNull(V)) CastError(V.Type(), Type);
      r = V.AsString();
      VA::SetType(r, Type);
      return r;
    default:
      if (VarIsArray(V) || (Type & varArray)) CastError(V.Type(), Type);
      throw EVariantBadVarTypeError("Invalid variant type");
  }
}

Variant VarArrayOf(std::initializer_list<Variant> Values) {
  auto data = std::make_unique<TVarArrayData>();
  data->Items.assign(Values.begin(), Values.end());
  return VA::MakeArray(data.release());
}

Variant VarArrayCreate(int32_t LowBound, int32_t HighBound, TVarType ElemType) {
  if (ElemType != varVariant && !IsScalarType(ElemType))
    throw EVariantBadVarTypeError("Invalid variant type");
  const int64_t count = static_cast<int64_t>(HighBound) - LowBound + 1;
  if (count < 0) throw EVariantError("Error creating variant or safe array");
  auto data = std::make_unique<TVarArrayData>();
  data->Low = LowBound;
  data->ElemType = ElemType;
  if (ElemType == varByte)
    data->Bytes.assign(static_cast<size_t>(count), 0);
  else
    data->Items.assign(static_cast<size_t>(count), ZeroOf(ElemType));
  return VA::MakeArray(data.release());
}

Variant VarArrayFromBytes(const void* Data, size_t Size) {
  if (Size > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    throw EVariantError("Error creating variant or safe array");
  auto data = std::make_unique<TVarArrayData>();
  data->ElemType = varByte;
  const auto* p = static_cast<const uint8_t*>(Data);
  if (Size > 0) data->Bytes.assign(p, p + Size);
  return VA::MakeArray(data.release());
}

int32_t VarArrayDimCount(const Variant& V) { return VarIsArray(V) ? 1 : 0; }

int32_t VarArrayLowBound(const Variant& V, int32_t Dim) {
  const TVarArrayData& a = ArrayOf(V);
  if (Dim != 1) BadIndex();
  return a.Low;
}

int32_t VarArrayHighBound(const Variant& V, int32_t Dim) {
  const TVarArrayData& a = ArrayOf(V);
  if (Dim != 1) BadIndex();
  return a.High();
}

void VarArrayRedim(Variant& V, int32_t HighBound) {
  TVarArrayData& a = ArrayOf(V);
  if (a.LockCount > 0) throw EVariantArrayLockedError("Variant or safe array is locked");
  const int64_t count = static_cast<int64_t>(HighBound) - a.Low + 1;
  if (count < 0) BadIndex();
  if (a.ElemType == varByte)
    a.Bytes.resize(static_cast<size_t>(count), 0);
  else
    a.Items.resize(static_cast<size_t>(count), ZeroOf(a.ElemType));
}

Variant VarArrayGet(const Variant& V, int32_t Index) { return V.GetElement(Index); }

void VarArrayPut(Variant& V, const Variant& Value, int32_t Index) { V.PutElement(Value, Index); }

std::span<uint8_t> VarArrayBytes(Variant& V) {
  TVarArrayData& a = ArrayOf(V);
  if (a.ElemType != varByte) throw EVariantInvalidOpError("Invalid variant operation");
  return {a.Bytes.data(), a.Bytes.size()};
}

std::span<const uint8_t> VarArrayBytes(const Variant& V) {
  const TVarArrayData& a = ArrayOf(V);
  if (a.ElemType != varByte) throw EVariantInvalidOpError("Invalid variant operation");
  return {a.Bytes.data(), a.Bytes.size()};
}

void* VarArrayLock(Variant& V) {
  TVarArrayData& a = ArrayOf(V);
  ++a.LockCount;
  return a.ElemType == varByte ? static_cast<void*>(a.Bytes.data())
                               : static_cast<void*>(a.Items.data());
}

void VarArrayUnlock(Variant& V) {
  TVarArrayData& a = ArrayOf(V);
  if (a.LockCount == 0) throw EVariantError("Variant or safe array is not locked");
  --a.LockCount;
}

}  // namespace vcl
