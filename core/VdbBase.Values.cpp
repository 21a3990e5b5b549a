// TVantorSQL: lookup, null and change tests, reading and writing the values
// of the current row, and the conversions that never raise.
#include <cstring>

#include "core/VdbBase.h"
#include "rtl/SysUtils.h"

namespace vdb {

namespace {

// The text of a column index for messages and name lookups; an index that
// has no text form (an array) names no column.
std::string IndexText(const vcl::Variant& Index) {
  try {
    return vcl::VarToStr(Index);
  } catch (const vcl::Exception&) {
    return std::string();
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Lookup and attributes

bool TVantorSQL::CheckVarType(const vcl::Variant& Value, vcl::TVarType VarType) {
  switch (VarType) {
    case vcl::varSmallint:
    case vcl::varInteger:
    case vcl::varShortInt:
    case vcl::varByte:
    case vcl::varWord:
      return vcl::VarIsOrdinal(Value);
    default:
      return vcl::VarType(Value) == VarType;
  }
}

TVantorFieldDef* TVantorSQL::GetField(const vcl::Variant& Index) const {
  // A position as a plain integer, the way rows are read in a loop, without
  // the general conversion below.
  if (Index.Type() == vcl::varInteger) return FFieldDefs->Items(Index.AsInteger());
  if (CheckVarType(Index, vcl::varInteger)) {
    int64_t Position = -1;
    try {
      Position = Index.AsInt64();
    } catch (const vcl::Exception&) {
      return nullptr;
    }
    if (Position < 0 || Position >= FFieldDefs->Count()) return nullptr;
    return FFieldDefs->Items(static_cast<int32_t>(Position));
  }
  if (vcl::VarIsArray(Index)) return nullptr;
  return FFieldDefs->FieldByName(IndexText(Index));
}

bool TVantorSQL::FindField(const std::string& Name) const { return FFieldDefs->FieldByName(Name) != nullptr; }

std::string TVantorSQL::GetFieldName(int32_t Position) const {
  const TVantorFieldDef* Def = FFieldDefs->Items(Position);
  return Def != nullptr ? Def->Name : std::string();
}

TVantorFieldTypes TVantorSQL::GetFieldType(const vcl::Variant& Index) const {
  const TVantorFieldDef* Def = GetField(Index);
  return Def != nullptr ? Def->FieldType : vtUnknown;
}

int32_t TVantorSQL::GetFieldSize(const vcl::Variant& Index) const {
  const TVantorFieldDef* Def = GetField(Index);
  return Def != nullptr ? Def->Size : 0;
}

int32_t TVantorSQL::GetFieldLength(const vcl::Variant& Index) const {
  const TVantorFieldDef* Def = GetField(Index);
  return Def != nullptr ? Def->Length : 0;
}

int32_t TVantorSQL::GetFieldPrecision(const vcl::Variant& Index) const {
  const TVantorFieldDef* Def = GetField(Index);
  return Def != nullptr ? Def->Precision : 0;
}

int32_t TVantorSQL::GetFieldDecimals(const vcl::Variant& Index) const {
  const TVantorFieldDef* Def = GetField(Index);
  return Def != nullptr ? Def->Decimals : 0;
}

bool TVantorSQL::GetFieldNulls(const vcl::Variant& Index) const {
  const TVantorFieldDef* Def = GetField(Index);
  return Def != nullptr && Def->Nulls;
}

TVantorFieldDef* TVantorSQL::NeedField(const vcl::Variant& Index) {
  TVantorFieldDef* Def = GetField(Index);
  if (Def == nullptr) RaiseLastError(vcl::Format(VDB_ERR_FIELD_NOT_FOUND, {IndexText(Index)}), 0);
  return Def;
}

TVantorBlobStream* TVantorSQL::StreamOf(const TVantorFieldDef* Def) const {
  if (Def->FieldType != vtMemo && Def->FieldType != vtBlob) return nullptr;
  return FBlobManager->BlobByName(Def->Name);
}

void TVantorSQL::NeedRowBuffers(const TVantorFieldDef* Def) {
  // Row buffers exist from a successful prepare to the unprepare; a column
  // reaching past them would read or write foreign memory.
  const bool Fits = FRowBuffer && FOldRowBuffer && FIndicatorBuffer && FOldIndicatorBuffer && Def->Offset >= 0 &&
                    Def->Size >= 0 && int64_t{Def->Offset} + Def->Size <= FRecordSize;
  if (!Fits) RaiseLastError(VDB_ERR_CURS_NOT_PREPARED, 0);
}

// ---------------------------------------------------------------------------
// Null and change state

bool TVantorSQL::IsFieldNull(const vcl::Variant& Index) {
  TVantorFieldDef* Def = NeedField(Index);
  NeedRowBuffers(Def);
  return GetNullIndicator(FIndicatorBuffer.get(), Def->FieldNo);
}

bool TVantorSQL::IsFieldDirty(const vcl::Variant& Index) {
  TVantorFieldDef* Def = NeedField(Index);
  NeedRowBuffers(Def);
  if (GetNullIndicator(FIndicatorBuffer.get(), Def->FieldNo) !=
      GetNullIndicator(FOldIndicatorBuffer.get(), Def->FieldNo))
    return true;
  const char* Current = reinterpret_cast<const char*>(FRowBuffer.get() + Def->Offset);
  const char* Old = reinterpret_cast<const char*>(FOldRowBuffer.get() + Def->Offset);
  switch (Def->FieldType) {
    case vtString:
      // Bytes after the terminator are leftovers of longer values.
      return Def->Size > 1 && std::strncmp(Current, Old, static_cast<size_t>(Def->Size - 1)) != 0;
    case vtMemo:
    case vtBlob:
      return FBlobManager->BlobByName(Def->Name)->Modified();
    default:
      return Def->Size > 0 && std::memcmp(Current, Old, static_cast<size_t>(Def->Size)) != 0;
  }
}

bool TVantorSQL::IsDirty() {
  if (!FActive) RaiseLastError(VDB_ERR_CURS_NOT_OPENED, 0);
  for (int32_t I = 0; I < FFieldDefs->Count(); ++I) {
    if (IsFieldDirty(I)) return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Values

vcl::Variant TVantorSQL::ReadValue(const vcl::Variant& Index, const uint8_t* Buffer) {
  TVantorFieldDef* Def = NeedField(Index);
  NeedRowBuffers(Def);
  TVantorBlobStream* Blob = StreamOf(Def);
  return GetFieldData(Buffer, Def->Offset, Def->Size, Def->FieldType, Blob);
}

vcl::Variant TVantorSQL::GetFieldValue(const vcl::Variant& Index) {
  return ReadValue(Index, FRowBuffer.get());
}

vcl::Variant TVantorSQL::GetOldValue(const vcl::Variant& Index) {
  return ReadValue(Index, FOldRowBuffer.get());
}

void TVantorSQL::SetFieldValue(const vcl::Variant& Index, const vcl::Variant& Value) {
  if (FReadOnly) RaiseLastError(VDB_ERR_CURS_READ_ONLY, 0);
  TVantorFieldDef* Def = NeedField(Index);
  NeedRowBuffers(Def);
  if (vcl::VarIsNull(Value)) {
    InternalClearField(Def, true);
    return;
  }
  PutFieldData(FRowBuffer.get(), Def->Offset, Def->Size, Def->FieldType, Value, StreamOf(Def));
  PutNullIndicator(FIndicatorBuffer.get(), Def->FieldNo, false);
}

void TVantorSQL::ClearField(const std::string& Name) {
  if (TVantorFieldDef* Def = FFieldDefs->FieldByName(Name)) InternalClearField(Def, true);
}

void TVantorSQL::ClearFieldNotNull(const std::string& Name) {
  if (TVantorFieldDef* Def = FFieldDefs->FieldByName(Name)) InternalClearField(Def, false);
}

void TVantorSQL::Clear() {
  if (!FActive) RaiseLastError(VDB_ERR_CURS_NOT_OPENED, 0);
  if (FReadOnly) RaiseLastError(VDB_ERR_CURS_READ_ONLY, 0);
  for (int32_t I = 0; I < FFieldDefs->Count(); ++I) {
    TVantorFieldDef* Def = FFieldDefs->Items(I);
    if (Def->KeyIndicator != kiHiddenKeyField) InternalClearField(Def, true);
  }
}

void TVantorSQL::ClearNotNull() {
  if (!FActive) RaiseLastError(VDB_ERR_CURS_NOT_OPENED, 0);
  if (FReadOnly) RaiseLastError(VDB_ERR_CURS_READ_ONLY, 0);
  for (int32_t I = 0; I < FFieldDefs->Count(); ++I) {
    TVantorFieldDef* Def = FFieldDefs->Items(I);
    if (Def->KeyIndicator != kiHiddenKeyField) InternalClearField(Def, false);
  }
}

void TVantorSQL::InternalClearField(TVantorFieldDef* Def, bool SetNull) {
  NeedRowBuffers(Def);
  std::memset(FRowBuffer.get() + Def->Offset, 0, static_cast<size_t>(Def->Size));
  PutNullIndicator(FIndicatorBuffer.get(), Def->FieldNo, SetNull);
}

// ---------------------------------------------------------------------------
// Conversions that never raise

std::string TVantorSQL::SetVarToStr(const vcl::Variant& Value) {
  try {
    return vcl::VarToStr(Value);
  } catch (const vcl::Exception&) {
    return std::string();
  }
}

int32_t TVantorSQL::SetVarToInt(const vcl::Variant& Value) {
  try {
    if (vcl::VarType(Value) == vcl::varBoolean) return Value.AsBoolean() ? 1 : 0;
    return Value.AsInteger();
  } catch (const vcl::Exception&) {
    return 0;
  }
}

int64_t TVantorSQL::SetVarToInt64(const vcl::Variant& Value) {
  try {
    if (vcl::VarType(Value) == vcl::varBoolean) return Value.AsBoolean() ? 1 : 0;
    return Value.AsInt64();
  } catch (const vcl::Exception&) {
    return 0;
  }
}

double TVantorSQL::SetVarToFloat(const vcl::Variant& Value) {
  try {
    if (vcl::VarType(Value) == vcl::varBoolean) return Value.AsBoolean() ? 1.0 : 0.0;
    return Value.AsDouble();
  } catch (const vcl::Exception&) {
    return 0.0;
  }
}

bool TVantorSQL::SetVarToBoolean(const vcl::Variant& Value) {
  try {
    return Value.AsBoolean();
  } catch (const vcl::Exception&) {
    return false;
  }
}

vcl::TDateTime TVantorSQL::SetVarToDateTime(const vcl::Variant& Value) {
  try {
    return Value.AsDateTime();
  } catch (const vcl::Exception&) {
    return vcl::TDateTime(0);
  }
}

}  // namespace vdb
