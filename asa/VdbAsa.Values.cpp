// TAsaSQL: values between the fetch and variable buffers and Variants, null
// indicators, and the library's date-time structure.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "asa/VdbAsa.h"

namespace vdb {

namespace {

template <class T>
T Load(const uint8_t* P) {
  T X;
  std::memcpy(&X, P, sizeof X);
  return X;
}

template <class T>
void Store(uint8_t* P, T X) {
  std::memcpy(P, &X, sizeof X);
}

bool IsByteArray(const vcl::Variant& V) { return vcl::VarType(V) == (vcl::varArray | vcl::varByte); }

}  // namespace

// ---------------------------------------------------------------------------
// Date-time structure

vcl::TDateTime GetAsaTimeStamp(const SQLDATETIME& T) {
  double Date = 0;
  if (T.year >= 1 && T.year <= 9999 && T.month < 12 && T.day >= 1 &&
      T.day <= vcl::DaysInAMonth(T.year, static_cast<uint16_t>(T.month + 1))) {
    vcl::TDateTime D;
    if (vcl::TryEncodeDate(T.year, static_cast<uint16_t>(T.month + 1), T.day, D)) Date = D;
  }
  double Time = 0;
  if (T.hour <= 23 && T.minute < 60 && T.second < 60 && T.microsecond <= 999999) {
    vcl::TDateTime D;
    if (vcl::TryEncodeTime(T.hour, T.minute, T.second, static_cast<uint16_t>(T.microsecond / 1000), D)) Time = D;
  }
  // Before the epoch the day counts backwards while the time counts forwards.
  return Date >= 0 ? Date + Time : Date - Time;
}

void PutAsaTimeStamp(bool WithDate, vcl::TDateTime Value, SQLDATETIME& T) {
  std::memset(&T, 0, sizeof T);
  uint16_t Hour = 0, Min = 0, Sec = 0, MSec = 0;
  vcl::DecodeTime(Value, Hour, Min, Sec, MSec);
  T.hour = static_cast<uint8_t>(Hour);
  T.minute = static_cast<uint8_t>(Min);
  T.second = static_cast<uint8_t>(Sec);
  T.microsecond = static_cast<uint32_t>(MSec) * 1000u;
  if (!WithDate && std::trunc(Value.Val) == 0) return;

  uint16_t Year = 0, Month = 0, Day = 0;
  vcl::DecodeDate(Value, Year, Month, Day);
  T.year = Year;
  T.month = static_cast<uint8_t>(Month - 1);
  T.day = static_cast<uint8_t>(Day);
  T.day_of_week = static_cast<uint8_t>(vcl::DayOfWeek(Value) - 1);
  uint16_t DayOfYear = static_cast<uint16_t>(Day - 1);
  for (uint16_t M = 1; M < Month; ++M) DayOfYear = static_cast<uint16_t>(DayOfYear + vcl::DaysInAMonth(Year, M));
  T.day_of_year = DayOfYear;
}

// ---------------------------------------------------------------------------
// Null indicators

bool TAsaSQL::GetNullIndicator(const uint8_t* Buffer, int32_t FieldNo) {
  return Load<int16_t>(Buffer + 2 * static_cast<size_t>(FieldNo)) == -1;
}

void TAsaSQL::PutNullIndicator(uint8_t* Buffer, int32_t FieldNo, bool IsNull) {
  Store<int16_t>(Buffer + 2 * static_cast<size_t>(FieldNo), IsNull ? -1 : 0);
}

// ---------------------------------------------------------------------------
// Values

vcl::Variant TAsaSQL::GetFieldData(const uint8_t* Buffer, int32_t Offset, int32_t Size, TVantorFieldTypes FieldType,
                                   TVantorBlobStream* Blob) {
  const uint8_t* P = Buffer + Offset;
  auto Text = [this](const char* Chars, size_t Length) {
    std::string S(Chars, Length);
    if (TVantorSession* Session = GetSessionObject(); Session != nullptr && Session->OEMConvert())
      Session->TranslateChar(S.data(), S.data(), static_cast<int32_t>(S.size()), false);
    return vcl::Variant(std::move(S));
  };
  // The stream's whole value, loaded from the server when nothing is held.
  auto StreamBytes = [](TVantorBlobStream* S, const uint8_t*& Data) {
    if (S->Buffer() == nullptr && !S->Modified()) S->GetBlobSize();
    Data = S->Buffer();
    return Data != nullptr ? static_cast<size_t>(S->DataSize()) : size_t{0};
  };

  switch (FieldType) {
    case vtString: {
      const char* C = reinterpret_cast<const char*>(P);
      return Text(C, strnlen(C, static_cast<size_t>(std::max(Size, 0))));
    }
    case vtInteger: return vcl::Variant(Load<int32_t>(P));
    case vtInt64: return vcl::Variant(static_cast<long long>(Load<int64_t>(P)));
    case vtFloat:
    case vtCurrency: return vcl::Variant(Load<double>(P));
    case vtBoolean: return vcl::Variant(*P != 0);
    case vtDate:
    case vtTime:
    case vtDateTime: return vcl::Variant(GetAsaTimeStamp(Load<SQLDATETIME>(P)));
    case vtBinary: {
      // The value's own length, never past the column's width.
      const size_t Room = static_cast<size_t>(std::max(Size - 2, 0));
      const size_t Length = std::min<size_t>(Load<uint16_t>(P), Room);
      return vcl::VarArrayFromBytes(P + 2, Length);
    }
    case vtMemo: {
      if (Blob != nullptr && IsBlobTruncated(Blob)) {
        const uint8_t* Data = nullptr;
        const size_t Length = StreamBytes(Blob, Data);
        return Text(reinterpret_cast<const char*>(Data), Length);
      }
      const char* C = reinterpret_cast<const char*>(P);
      return Text(C, strnlen(C, static_cast<size_t>(std::max(Size, 0))));
    }
    case vtBlob: {
      if (Blob != nullptr && IsBlobTruncated(Blob)) {
        const uint8_t* Data = nullptr;
        const size_t Length = StreamBytes(Blob, Data);
        return vcl::VarArrayFromBytes(Data, Length);
      }
      // The prefetched value behind its 32-bit length.
      const size_t Room = static_cast<size_t>(std::max(Size - 4, 0));
      const size_t Length = Size >= 4 ? std::min<size_t>(Load<uint32_t>(P), Room) : 0;
      return vcl::VarArrayFromBytes(P + 4, Length);
    }
    case vtUnknown: break;
  }
  return vcl::Null();
}

void TAsaSQL::PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, TVantorFieldTypes FieldType,
                           const vcl::Variant& Value, TVantorBlobStream* Blob) {
  uint8_t* P = Buffer + Offset;
  TVantorSession* Session = GetSessionObject();
  const bool Oem = Session != nullptr && Session->OEMConvert();
  switch (FieldType) {
    case vtString: {
      if (Size < 1) return;
      const std::string S = SetVarToStr(Value);
      const size_t N = std::min(S.size(), static_cast<size_t>(Size - 1));
      std::memcpy(P, S.data(), N);
      P[N] = 0;
      if (Oem) Session->TranslateChar(reinterpret_cast<char*>(P), reinterpret_cast<char*>(P), static_cast<int32_t>(N), true);
      return;
    }
    case vtInteger: Store<int32_t>(P, SetVarToInt(Value)); return;
    case vtInt64: Store<int64_t>(P, SetVarToInt64(Value)); return;
    case vtFloat:
    case vtCurrency: Store<double>(P, SetVarToFloat(Value)); return;
    case vtBoolean: *P = SetVarToBoolean(Value) ? 1 : 0; return;
    case vtDate:
    case vtDateTime:
    case vtTime: {
      SQLDATETIME T;
      PutAsaTimeStamp(FieldType != vtTime, SetVarToDateTime(Value), T);
      Store<SQLDATETIME>(P, T);
      return;
    }
    case vtBinary: {
      if (!IsByteArray(Value) || Size < 2) return;
      const auto Bytes = vcl::VarArrayBytes(Value);
      const size_t N = std::min(Bytes.size(), static_cast<size_t>(Size - 2));
      Store<uint16_t>(P, static_cast<uint16_t>(N));
      std::memcpy(P + 2, Bytes.data(), N);
      return;
    }
    case vtMemo: {
      if (!vcl::VarIsStr(Value)) return;
      std::string S = Value.AsString();
      if (Oem) Session->TranslateChar(S.data(), S.data(), static_cast<int32_t>(S.size()), true);
      if (Blob != nullptr) {
        // An empty value still counts as written.
        Blob->Clear();
        if (S.empty())
          Blob->Truncate();
        else
          Blob->Write(S.data(), static_cast<int64_t>(S.size()));
      } else if (Size > 0) {
        const size_t N = std::min(S.size(), static_cast<size_t>(Size));
        std::memcpy(P, S.data(), N);
        std::memset(P + N, 0, static_cast<size_t>(Size) - N);
      }
      return;
    }
    case vtBlob: {
      if (!IsByteArray(Value)) return;
      const auto Bytes = vcl::VarArrayBytes(Value);
      if (Blob != nullptr) {
        Blob->Clear();
        if (Bytes.empty())
          Blob->Truncate();
        else
          Blob->Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
      } else if (Size > 0) {
        const size_t N = std::min(Bytes.size(), static_cast<size_t>(Size));
        std::memcpy(P, Bytes.data(), N);
        std::memset(P + N, 0, static_cast<size_t>(Size) - N);
      }
      return;
    }
    case vtUnknown: return;
  }
}

}  // namespace vdb
