// Long values: the blob stream that reads a value from the server in
// pieces, the truncation test of prefetched values, and the server
// variables that carry long values to the server.
#include <algorithm>
#include <cstring>

#include "asa/VdbAsa.h"
#include "rtl/SysUtils.h"

namespace vdb {

namespace {

constexpr char kProgram[] = "VDB";
constexpr uint16_t kPieceBuffer = 32767;     // a binary piece: 16-bit length, then the bytes
constexpr int32_t kPieceData = kPieceBuffer - 2;

// Keeps the outcome in the SQLCA across clean-up calls, so that a later
// check still reports it.
class TKeepOutcome {
 public:
  explicit TKeepOutcome(SQLCA* Ca) : FCa(Ca), FSaved(*Ca) {}
  ~TKeepOutcome() { *FCa = FSaved; }
  TKeepOutcome(const TKeepOutcome&) = delete;
  TKeepOutcome& operator=(const TKeepOutcome&) = delete;

 private:
  SQLCA* FCa;
  SQLCA FSaved;
};

}  // namespace

// ---------------------------------------------------------------------------
// TAsaBlobStream

TAsaSQL* TAsaBlobStream::Statement() const {
  return Manager() != nullptr ? static_cast<TAsaSQL*>(Manager()->SQL()) : nullptr;
}

int64_t TAsaBlobStream::Read(void* Buffer, int64_t Count) {
  if (this->Buffer() == nullptr) GetBlobSize();
  const uint8_t* Data = this->Buffer();
  if (Data == nullptr || Count <= 0 || FPosition < 0 || FPosition >= DataSize()) return 0;
  const int64_t N = std::min<int64_t>(Count, DataSize() - FPosition);
  std::memcpy(Buffer, Data + FPosition, static_cast<size_t>(N));
  FPosition += N;
  return N;
}

int32_t TAsaBlobStream::GetBlobSize() {
  if (Modified()) return TVantorBlobStream::GetBlobSize();
  // Streams are emptied whenever another row becomes current, so a value
  // held here is the current row's: it is read from the server only once.
  if (Buffer() != nullptr) return DataSize();
  Clear();
  TAsaSQL* Q = Statement();
  const int32_t FieldNo = GetFieldNo();
  if (Q == nullptr || FieldNo < 0) return 0;
  std::vector<uint8_t> Value;
  if (Q->ReadLongValue(FieldNo, Value)) AssignFetched(std::move(Value));
  return DataSize();
}

bool TAsaSQL::ReadLongValue(int32_t FieldNo, std::vector<uint8_t>& Value) {
  InternalNeedLibrary();
  Value.clear();
  SQLDA* Da = FProcs.alloc_sqlda(1);
  if (Da == nullptr) throw std::bad_alloc();
  int32_t Code = 0;
  bool IsNull = false;
  try {
    auto Piece = std::make_unique<uint8_t[]>(kPieceBuffer);
    sqlvar& V = Da->sqlvar[0];
    V.sqltype = DT_BINARY;
    V.sqllen = kPieceBuffer;
    V.sqldata = Piece.get();
    uint32_t Offset = 0;
    uint16_t Length = 0;
    do {
      Offset += Length;
      Length = 0;
      std::memset(Piece.get(), 0, 2);
      *V.sqlind = 0;
      Dbpp(FProcs.dbpp_get_data, FProcs.dbpp_get_data_pb, FCursorName, static_cast<uint32_t>(FieldNo + 1), Offset,
           Da, 0u);
      Code = SqlCode();
      if (Code != 0 && Code != SQLE_TRUNCATED) break;
      if (*V.sqlind < 0) {
        IsNull = true;
        break;
      }
      std::memcpy(&Length, Piece.get(), sizeof Length);
      Length = static_cast<uint16_t>(std::min<int32_t>(Length, kPieceData));
      Value.insert(Value.end(), Piece.get() + 2, Piece.get() + 2 + Length);
      // A piece without bytes cannot make progress, whatever the code says.
    } while (Code == SQLE_TRUNCATED && Length > 0);
  } catch (...) {
    FreeSqlda(Da, true);
    throw;
  }
  FreeSqlda(Da, true);
  // A failed read must not pass for an empty value.
  if (Code < 0) Check(FWantExceptions);
  if (Code != 0 || IsNull) {
    Value.clear();
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Truncation and streams

TVantorBlobStream* TAsaSQL::InternalCreateBlobStream(const std::string& Name) {
  // The manager owns the stream from its construction on.
  return new TAsaBlobStream(FBlobManager.get(), Name);
}

bool TAsaSQL::GetBlobTruncIndicator(const uint8_t* Buffer, int32_t FieldNo) {
  if (FBlobSize == 0) return true;
  int16_t Indicator = 0;
  std::memcpy(&Indicator, Buffer + 2 * static_cast<size_t>(FieldNo), sizeof Indicator);
  return Indicator >= 1;
}

bool TAsaSQL::IsBlobTruncated(TVantorBlobStream* Stream) {
  if (Stream == nullptr) return false;
  const int32_t FieldNo = Stream->GetFieldNo();
  if (FieldNo < 0 || FieldNo >= FFieldDefs->Count() || FIndicatorBuffer == nullptr) return false;
  return GetBlobTruncIndicator(FIndicatorBuffer.get(), FieldNo);
}

// ---------------------------------------------------------------------------
// Server variables

bool TAsaSQL::InternalLocalExecute(const std::string& SQL, const vcl::Variant& Values) {
  InternalNeedLibrary();
  if (vcl::VarIsNull(Values) || vcl::VarIsEmpty(Values)) {
    Dbpp(FProcs.dbpp_execute_imm, FProcs.dbpp_execute_imm_pb, SQL.c_str(), 2u);
    return Check(FWantExceptions);
  }

  TAsaStatementPool* Pool = AsaSession()->StatementPool();
  int16_t Number = static_cast<int16_t>(Pool->Next());
  Dbpp(FProcs.dbpp_prepare, FProcs.dbpp_prepare_pb, nullptr, kProgram, &Number, SQL.c_str(), nullptr, 1u);
  if (!Check(FWantExceptions)) return false;
  Pool->Use(Number);

  TVantorVariableDefs Vars;
  void* Descriptor = nullptr;
  bool Result = false;
  try {
    InternalSetVariables(vcl::VarIsArray(Values) ? Values : vcl::VarArrayOf({Values}), &Vars);
    Result = InternalBindVariables(Number, &Vars, nullptr, Descriptor);
    if (Result) {
      Dbpp(FProcs.dbpp_execute_into, FProcs.dbpp_execute_into_pb, nullptr, kProgram, &Number,
           static_cast<SQLDA*>(Descriptor), nullptr);
      Result = Check(FWantExceptions);
    }
  } catch (...) {
    SQLDA* Da = static_cast<SQLDA*>(Descriptor);
    FreeSqlda(Da, true);
    TKeepOutcome Keep(AsaSession()->Sqlca());
    InternalDropStatement(Number);
    throw;
  }
  SQLDA* Da = static_cast<SQLDA*>(Descriptor);
  FreeSqlda(Da, true);
  TKeepOutcome Keep(AsaSession()->Sqlca());
  InternalDropStatement(Number);
  return Result;
}

bool TAsaSQL::InternalCreateBlobVariable(const std::string& Name, const void* Data, int32_t Length) {
  if (!InternalLocalExecute(vcl::Format("create variable %s long binary", {Name}), vcl::Null())) return false;
  bool Result = InternalLocalExecute(vcl::Format("set %s=''", {Name}), vcl::Null());
  if (Result && Data != nullptr) Result = AppendToBlobVariable(Name, static_cast<const uint8_t*>(Data), Length);
  if (!Result) {
    // Nobody drops a variable that is not handed out.
    vcl::TStringList Own;
    Own.Add(Name);
    DropVariablesAfterError(&Own);
  }
  return Result;
}

bool TAsaSQL::AppendToBlobVariable(const std::string& Name, const uint8_t* Data, int32_t Length) {
  // One statement and one piece buffer serve all appends; every append is
  // the same SET statement with the next piece as its host value.
  const std::string SQL = vcl::Format("set %s=%s || :blob_host", {Name, Name});
  TAsaStatementPool* Pool = AsaSession()->StatementPool();
  int16_t Number = static_cast<int16_t>(Pool->Next());
  Dbpp(FProcs.dbpp_prepare, FProcs.dbpp_prepare_pb, nullptr, kProgram, &Number, SQL.c_str(), nullptr, 1u);
  if (!Check(FWantExceptions)) return false;
  Pool->Use(Number);

  SQLDA* Da = FProcs.alloc_sqlda(1);
  bool Result = false;
  try {
    if (Da == nullptr) throw std::bad_alloc();
    auto Piece = std::make_unique<uint8_t[]>(kPieceBuffer);
    sqlvar& V = Da->sqlvar[0];
    V.sqltype = DT_BINARY;
    V.sqllen = kPieceBuffer;
    V.sqldata = Piece.get();
    *V.sqlind = 0;
    const int32_t Total = std::max(Length, 0);
    int32_t Sent = 0;
    do {
      const uint16_t N = static_cast<uint16_t>(std::min(Total - Sent, kPieceData));
      std::memcpy(Piece.get(), &N, sizeof N);
      if (N > 0) std::memcpy(Piece.get() + 2, Data + Sent, N);
      Dbpp(FProcs.dbpp_execute_into, FProcs.dbpp_execute_into_pb, nullptr, kProgram, &Number, Da, nullptr);
      Sent += N;
    } while (Sent < Total && SqlCode() >= 0);
    Result = Check(FWantExceptions);
  } catch (...) {
    FreeSqlda(Da, true);
    TKeepOutcome Keep(AsaSession()->Sqlca());
    InternalDropStatement(Number);
    throw;
  }
  FreeSqlda(Da, true);
  TKeepOutcome Keep(AsaSession()->Sqlca());
  InternalDropStatement(Number);
  return Result;
}

void TAsaSQL::InternalDropBlobVariables(vcl::TStrings* Names) {
  if (Names == nullptr) return;
  for (int32_t I = 0; I < Names->Count(); ++I)
    InternalLocalExecute(vcl::Format("drop variable %s", {Names->Strings(I)}), vcl::Null());
}

}  // namespace vdb
