// TAsaSQL: describing result columns after prepare and after open, the
// type mapping of columns to field types and host types, full column
// names, and the row layout of the fetch block.
#include <algorithm>
#include <cstring>

#include "asa/VdbAsa.h"

namespace vdb {

namespace {

constexpr char kProgram[] = "VDB";
constexpr int32_t kMaxShortString = 8192;  // longer character columns are memos
constexpr int32_t kMaxEntries = 32767;      // entries of one SQLDA (16-bit count)
constexpr uint16_t kLongNameLength = 128;

std::string EntryName(const sqlvar& V) {
  return std::string(V.sqlname.data, strnlen(V.sqlname.data, SQL_NAME_LENGTH));
}

// Whether a described column becomes a memo or a blob: such columns are
// read through the cursor's current row and so fetch one row at a time.
bool IsLongColumn(const sqlvar& V) {
  switch (V.sqltype & DT_TYPES) {
    case DT_LONGVARCHAR:
    case DT_LONGBINARY: return true;
    case DT_VARCHAR:
    case DT_FIXCHAR:
    case DT_STRING: return V.sqllen > kMaxShortString;
    default: return false;
  }
}

// Rows of a block that fit into one SQLDA with Columns entries a row.
int32_t BlockRows(int32_t Wanted, int32_t Columns) {
  if (Columns <= 0) return std::max(Wanted, 1);
  return std::clamp(kMaxEntries / Columns, 1, std::max(Wanted, 1));
}

}  // namespace

// ---------------------------------------------------------------------------
// Type mapping

void TAsaSQL::InternalInitFieldDef(TVantorFieldDefs* Defs, int32_t Index, int32_t BlobBufferSize, void* Descriptor) {
  sqlvar& V = static_cast<SQLDA*>(Descriptor)->sqlvar[Index];
  const int32_t Type = V.sqltype & DT_TYPES;
  const bool Nulls = (V.sqltype & DT_NULLABLE) != 0;
  const int32_t Declared = V.sqllen;

  TVantorFieldTypes FieldType = vtUnknown;
  int32_t Host = 0, Size = 0, Length = 0, Precision = 0, Decimals = 0;
  switch (Type) {
    case DT_DATE:
      FieldType = vtDate, Host = DT_TIMESTAMP_STRUCT, Size = 14, Length = 10;
      break;
    case DT_TIME:
      FieldType = vtTime, Host = DT_TIMESTAMP_STRUCT, Size = 14, Length = 8;
      break;
    case DT_TIMESTAMP_STRUCT:
    case DT_TIMESTAMP:
      FieldType = vtDateTime, Host = DT_TIMESTAMP_STRUCT, Size = 14, Length = 19;
      break;
    case DT_VARCHAR:
    case DT_FIXCHAR:
    case DT_STRING:
      if (Declared <= kMaxShortString) {
        FieldType = vtString, Host = DT_STRING, Size = Declared + 1, Length = Declared;
      } else {
        FieldType = vtMemo, Host = DT_STRING, Size = BlobBufferSize;
      }
      break;
    case DT_LONGVARCHAR:
      FieldType = vtMemo, Host = DT_STRING, Size = BlobBufferSize;
      break;
    case DT_DOUBLE:
    case DT_FLOAT:
      FieldType = vtFloat, Host = DT_DOUBLE, Size = 8, Length = 10;
      break;
    case DT_DECIMAL:
      Precision = Declared & 0xFF;
      Decimals = (Declared >> 8) & 0xFF;
      FieldType = Decimals == 4 && (Precision == 10 || Precision == 19) ? vtCurrency : vtFloat;
      Host = DT_DOUBLE, Size = 8, Length = 10;
      break;
    case DT_INT:
    case DT_SMALLINT:
    case DT_TINYINT:
    case DT_UNSSMALLINT:
      FieldType = vtInteger, Host = DT_INT, Size = 4, Length = 10;
      break;
    case DT_UNSINT:
      FieldType = vtInteger, Host = DT_UNSINT, Size = 4, Length = 10;
      break;
    case DT_BIGINT:
    case DT_UNSBIGINT:
      FieldType = vtInt64, Host = DT_BIGINT, Size = 8, Length = 10;
      break;
    case DT_BINARY:
      FieldType = vtBinary, Host = DT_BINARY, Size = Declared + 2, Length = Declared;
      break;
    case DT_LONGBINARY:
      // Fetched with its 32-bit length in front, so that a prefetched value
      // keeps its exact size and may hold zero bytes.
      FieldType = vtBlob, Host = DT_LONGBINARY, Size = std::max(BlobBufferSize, 4);
      break;
    case DT_BIT:
      FieldType = vtBoolean, Host = DT_BIT, Size = 1, Length = 5;
      break;
    default:
      break;
  }

  V.sqltype = static_cast<int16_t>(Host | (Nulls ? DT_NULLABLE : 0));
  V.sqllen = static_cast<uint16_t>(Host == DT_LONGBINARY ? Size - 4 : Size);

  std::string Name = EntryName(V);
  if (TVantorSession* S = GetSessionObject())
    S->TranslateChar(Name.data(), Name.data(), static_cast<int32_t>(Name.size()), false);
  InternalAddFieldDef(Defs, Name, FieldType, Host, Size, Length, Precision, Decimals, Nulls, kiRegularField);
}

// ---------------------------------------------------------------------------
// Describe

bool TAsaSQL::InternalDescribePrepare() {
  FreeSqlda(FFetchSqlda, false);
  FFetchSqlda = FProcs.alloc_sqlda_noind(0);
  if (FFetchSqlda == nullptr) throw std::bad_alloc();
  Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &FCursorStmt, FFetchSqlda, 1u);
  if (!Check(FWantExceptions)) return false;

  const int32_t Columns = FFetchSqlda->sqld;
  FreeSqlda(FFetchSqlda, false);
  FFetchCount = BlockRows(FMaxFetchCount, Columns);
  FFetchSqlda = FProcs.alloc_sqlda_noind(static_cast<uint32_t>(Columns * FFetchCount));
  if (FFetchSqlda == nullptr) throw std::bad_alloc();
  Dbpp(FProcs.dbpp_describe, FProcs.dbpp_describe_pb, nullptr, kProgram, &FCursorStmt, FFetchSqlda, 1u);
  return BuildRowLayout(Columns, false);
}

bool TAsaSQL::InternalDescribeOpen(bool AReadOnly) {
  FreeSqlda(FFetchSqlda, false);
  InternalFreeOpenBuffer();
  auto DescribeCursor = [this](uint32_t Entries) {
    FreeSqlda(FFetchSqlda, false);
    FFetchSqlda = FProcs.alloc_sqlda_noind(Entries);
    if (FFetchSqlda == nullptr) throw std::bad_alloc();
    Dbpp(FProcs.dbpp_describe_cursor, FProcs.dbpp_describe_cursor_pb, FCursorName, FFetchSqlda, 1u);
  };
  DescribeCursor(0);
  if (!Check(FWantExceptions)) return false;

  const int32_t Columns = FFetchSqlda->sqld;
  DescribeCursor(static_cast<uint32_t>(Columns));
  bool LongColumn = false;
  for (int32_t C = 0; C < Columns && C < FFetchSqlda->sqln; ++C)
    LongColumn = LongColumn || IsLongColumn(FFetchSqlda->sqlvar[C]);
  FFetchCount = !AReadOnly || LongColumn ? 1 : BlockRows(FMaxFetchCount, Columns);
  if (FFetchCount > 1) DescribeCursor(static_cast<uint32_t>(Columns * FFetchCount));
  return BuildRowLayout(Columns, true);
}

// ---------------------------------------------------------------------------
// Row layout

bool TAsaSQL::BuildRowLayout(int32_t Columns, bool AfterOpen) {
  SQLDA* Da = FFetchSqlda;
  Da->sqld = Da->sqln;
  Columns = std::min<int32_t>(Columns, Da->sqln);
  FRecordSize = 0;
  FIndicatorSize = 0;
  FFieldDefs->Clear();

  bool LongNames = false;
  for (int32_t C = 0; C < Columns; ++C) {
    LongNames = LongNames || strnlen(Da->sqlvar[C].sqlname.data, SQL_NAME_LENGTH) >= SQL_NAME_LENGTH;
    InternalInitFieldDef(FFieldDefs.get(), C, FBlobSize + 4, Da);
    FRecordSize += FFieldDefs->Items(C)->Size;
    FIndicatorSize += 2;
  }
  for (int32_t R = 1; R < FFetchCount; ++R) {
    for (int32_t C = 0; C < Columns; ++C) {
      const sqlvar& From = Da->sqlvar[C];
      sqlvar& To = Da->sqlvar[R * Columns + C];
      To.sqltype = From.sqltype;
      To.sqllen = From.sqllen;
      To.sqlname = From.sqlname;
    }
  }
  if (LongNames && FLibraryVersion > 4) DescribeLongNames(Columns, AfterOpen);

  InternalAllocOpenBuffer();
  FBlobManager->Clear();
  for (int32_t R = 0; R < FFetchCount; ++R) {
    uint8_t* Row = FFetchBuffer.get() + static_cast<size_t>(R) * static_cast<size_t>(FRecordSize);
    uint8_t* Indicators = FFetchIndicatorBuffer.get() + static_cast<size_t>(R) * static_cast<size_t>(FIndicatorSize);
    for (int32_t C = 0; C < Columns; ++C) {
      const TVantorFieldDef* Def = FFieldDefs->Items(C);
      sqlvar& V = Da->sqlvar[R * Columns + C];
      V.sqldata = Row + Def->Offset;
      V.sqlind = reinterpret_cast<int16_t*>(Indicators + 2 * C);
      if (R == 0 && (Def->FieldType == vtMemo || Def->FieldType == vtBlob)) InternalCreateBlobStream(Def->Name);
    }
  }
  return true;
}

void TAsaSQL::DescribeLongNames(int32_t Columns, bool AfterOpen) {
  SQLDA* Names = FProcs.alloc_sqlda_noind(static_cast<uint32_t>(Columns));
  if (Names == nullptr) throw std::bad_alloc();
  for (int32_t C = 0; C < Columns; ++C) {
    Names->sqlvar[C].sqltype = DT_STRING;
    Names->sqlvar[C].sqllen = kLongNameLength;
  }
  if (FProcs.fill_sqlda(Names) == nullptr) {
    FProcs.free_sqlda_noind(Names);
    return;
  }
  if (AfterOpen)
    Dbpp(FProcs.dbpp_describe_names, FProcs.dbpp_describe_names_pb, nullptr, nullptr, nullptr, FCursorName, Names,
         5u, 1u);
  else
    Dbpp(FProcs.dbpp_describe_names, FProcs.dbpp_describe_names_pb, nullptr, kProgram, &FCursorStmt, nullptr, Names,
         5u, 1u);
  if (SqlCode() >= 0) {
    for (int32_t C = 0; C < Columns && C < Names->sqld; ++C) {
      const char* Text = static_cast<const char*>(Names->sqlvar[C].sqldata);
      std::string Full(Text, strnlen(Text, kLongNameLength));
      if (Full.size() < SQL_NAME_LENGTH - 1) continue;
      if (TVantorSession* S = GetSessionObject())
        S->TranslateChar(Full.data(), Full.data(), static_cast<int32_t>(Full.size()), false);
      FFieldDefs->Items(C)->Name = Full;
    }
  }
  FProcs.free_filled_sqlda(Names);
}

}  // namespace vdb
