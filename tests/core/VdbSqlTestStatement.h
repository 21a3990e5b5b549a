// Test doubles for the abstract statement frame: a session without a
// server, and a statement whose result rows live in memory and which
// records every virtual operation the frame calls. The frame has no
// concrete statement or session yet, so these stand in for them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/VdbBase.h"
#include "rtl/Variants.h"

namespace vdbtest {

using TLog = std::vector<std::string>;

// A session that connects to nothing and binds the test library, so that
// statements can load "their" library through it.
class TMemorySession : public vdb::TVantorSession {
 public:
  explicit TMemorySession(vcl::TComponent* AOwner = nullptr) : vdb::TVantorSession(AOwner) {
    SetLibraryFile(VDB_CORE_TESTLIB);
  }
  ~TMemorySession() override { Shutdown(); }
  std::string ClassName() const override { return "TMemorySession"; }

  int32_t LoadCount = 0;  // InternalLoadLibraryProcs calls

  void InternalLoadLibraryProcs() override { ++LoadCount; }
  void InternalOpenDatabase(void*& AHandle) override { AHandle = &FConnection; }
  void InternalCloseDatabase() override {}
  void InternalSetHandle(void*) override {}
  bool Check(bool) override {
    FLastError.clear();
    FLastErrorCode = 0;
    return true;
  }
  bool CheckPopError(bool) override {
    FLastError = FPushedError;
    FLastErrorCode = FPushedErrorCode;
    return FLastErrorCode == 0;
  }
  void InternalCommit(bool) override {}
  void InternalRollback() override {}
  std::string GetLibraryVersion() override { return "memory"; }
  bool Stop() override { return false; }

 private:
  int FConnection = 0;
};

// Every abstract operation with a do-nothing answer, for statements that
// only take part in the session's register.
class TStubSQL : public vdb::TVantorSQL {
 public:
  using vdb::TVantorSQL::TVantorSQL;
  void InternalLoadLibraryProcs() override {}
  void InternalInitFieldDef(vdb::TVantorFieldDefs*, int32_t, int32_t, void*) override {}
  bool InternalPrepare(const std::string& SQL) override {
    return InternalPrepareOpen(SQL) && vdb::TVantorSQL::InternalPrepareExecute(SQL);
  }
  bool InternalDescribePrepare() override { return true; }
  bool InternalBindOpenVariables(vcl::TStrings*) override {
    FOpenVars->SetBound(true);
    return true;
  }
  bool InternalIsUniDirectional() override { return false; }
  bool InternalDescribeOpen(bool) override { return true; }
  bool InternalBindExecVariables(vcl::TStrings*) override {
    FExecVars->SetBound(true);
    return true;
  }
  bool InternalExecute(vcl::TStrings*) override { return true; }
  int32_t InternalGetVariableLength(vdb::TVantorFieldTypes) override { return 0; }
  int32_t InternalGetVariableExtType(vdb::TVantorFieldTypes) override { return 0; }
  bool InternalBindVariables(int32_t, vdb::TVantorVariableDefs*, vcl::TStrings*, void*&) override { return true; }
  bool InternalBindOutVariables(int32_t, vdb::TVantorVariableDefs*, vcl::TStrings*, void*&) override {
    return true;
  }
  bool InternalFetchFirst() override { return false; }
  bool InternalFetchNext() override { return false; }
  bool InternalMoveToFirst() override { return false; }
  bool InternalMoveToLast() override { return false; }
  bool InternalMoveTo(int32_t) override { return false; }
  vdb::TVantorBlobStream* InternalCreateBlobStream(const std::string&) override { return nullptr; }
  vcl::Variant GetFieldData(const uint8_t*, int32_t, int32_t, vdb::TVantorFieldTypes,
                            vdb::TVantorBlobStream*) override {
    return vcl::Null();
  }
  void PutFieldData(uint8_t*, int32_t, int32_t, vdb::TVantorFieldTypes, const vcl::Variant&,
                    vdb::TVantorBlobStream*) override {}
  bool First() override { return false; }
  bool Last() override { return false; }
  bool Next() override { return false; }
  bool Curr() override { return false; }
  bool Prev() override { return false; }
  bool Modify() override { return false; }
  bool Append() override { return false; }
  bool Delete() override { return false; }
  bool GetNullIndicator(const uint8_t*, int32_t) override { return true; }
  void PutNullIndicator(uint8_t*, int32_t, bool) override {}
  bool GetBlobTruncIndicator(const uint8_t*, int32_t) override { return false; }
};

// A blob stream whose "server value" is the current row's, served until
// the caller writes, as a concrete stream loads its value lazily.
class TMemoryBlobStream : public vdb::TVantorBlobStream {
 public:
  using vdb::TVantorBlobStream::TVantorBlobStream;
  std::string ServerValue;  // the fetched value

  int64_t Read(void* Data, int64_t Count) override {
    const uint8_t* Source = Modified() ? Buffer() : reinterpret_cast<const uint8_t*>(ServerValue.data());
    const int64_t Size = GetBlobSize();
    if (FPosition < 0 || FPosition >= Size || Count <= 0) return 0;
    const int64_t N = std::min(Count, Size - FPosition);
    std::memcpy(Data, Source + FPosition, static_cast<size_t>(N));
    FPosition += N;
    return N;
  }
  int32_t GetBlobSize() override {
    return Modified() ? vdb::TVantorBlobStream::GetBlobSize() : static_cast<int32_t>(ServerValue.size());
  }
};

// One result column of the memory statement.
struct TColumnSpec {
  std::string Name;
  vdb::TVantorFieldTypes FieldType;
  int32_t Size;  // bytes in the row; 0 takes the type's natural width
  vdb::TVantorKeyIndicator KeyIndicator = vdb::kiRegularField;
};

// An output variable the executed statement describes and fills.
struct TOutSpec {
  std::string Name;
  vdb::TVantorFieldTypes FieldType;
  vcl::Variant Value;
};

// A statement over rows in memory. Values in the row: strings zero-
// terminated, integers 4 bytes, 64-bit integers and floats 8 bytes,
// Booleans 1 byte, binaries a 16-bit length and the bytes; blob columns
// keep their value in their stream. Indicators: 16 bits, -1 is NULL.
class TMemorySQL : public vdb::TVantorSQL {
 public:
  // External, when given, receives the log, so that a test can read it
  // after the statement is gone.
  explicit TMemorySQL(vcl::TComponent* AOwner = nullptr, TLog* External = nullptr)
      : vdb::TVantorSQL(AOwner), Log(External != nullptr ? *External : FOwnLog) {}
  ~TMemorySQL() override { Shutdown(); }
  std::string ClassName() const override { return "TMemorySQL"; }

  // --- What the "server" holds
  std::vector<TColumnSpec> Columns = {{"ID", vdb::vtInteger, 0}, {"NAME", vdb::vtString, 11}};
  std::vector<std::vector<vcl::Variant>> Rows;  // Null for NULL
  std::vector<TOutSpec> OutColumns;             // output variables of executions
  int32_t Affected = 0;                         // RowsProcessed of executions

  // --- Failure knobs
  bool FailPrepare = false;   // the cursor prepare describes, allocates, then answers false
  bool ThrowPrepare = false;  // ... or raises
  bool FailBind = false;      // binding the cursor variables answers false
  bool FailOpen = false;      // opening answers false
  bool FailPrepareExecute = false;
  bool UniDirectional = false;

  // --- What the frame did
 private:
  TLog FOwnLog;

 public:
  TLog& Log;  // virtual operations in call order
  bool BindNamesGiven = false;     // the last execute bind received a Names list
  bool ExecuteNamesGiven = false;  // the last execute received a Names list
  bool BlockClearedOnMove = false; // the fetch block read as zero data and NULL indicators at the last move

  int32_t Count(const std::string& Entry) const {
    return static_cast<int32_t>(std::count(Log.begin(), Log.end(), Entry));
  }
  int32_t CountPrefix(const std::string& Prefix) const {
    return static_cast<int32_t>(
        std::count_if(Log.begin(), Log.end(), [&](const std::string& E) { return E.rfind(Prefix, 0) == 0; }));
  }

  // Raw access for tests that alter row bytes directly.
  uint8_t* OldRow() const { return OldRowBuffer(); }
  uint8_t* OldIndicators() const { return OldIndicatorBuffer(); }
  vdb::TVantorBlobStream* CreateStream(const std::string& Name) { return InternalCreateBlobStream(Name); }
  // Fills the fetch block with data bytes and not-NULL indicators.
  void ScribbleBlock() {
    std::memset(FetchBuffer(), 0xAB, static_cast<size_t>(AllocCount()) * static_cast<size_t>(RecordSize()));
    std::memset(FetchIndicatorBuffer(), 0, static_cast<size_t>(AllocCount()) * static_cast<size_t>(IndicatorSize()));
  }

  static int32_t NaturalSize(vdb::TVantorFieldTypes Type) {
    switch (Type) {
      case vdb::vtInteger: return 4;
      case vdb::vtBoolean: return 1;
      case vdb::vtString: return 8193;
      case vdb::vtBinary:
      case vdb::vtMemo:
      case vdb::vtBlob: return 32767;
      case vdb::vtUnknown: return 0;
      default: return 8;
    }
  }

  // --- The concrete operations
  void InternalLoadLibraryProcs() override { Log.push_back("LoadLibraryProcs"); }
  void InternalInitFieldDef(vdb::TVantorFieldDefs* Defs, int32_t Index, int32_t, void*) override {
    const TColumnSpec& C = Columns[static_cast<size_t>(Index)];
    const int32_t Size = C.Size > 0 ? C.Size
                         : (C.FieldType == vdb::vtMemo || C.FieldType == vdb::vtBlob) ? 4
                                                                                        : NaturalSize(C.FieldType);
    InternalAddFieldDef(Defs, C.Name, C.FieldType, 100 + C.FieldType, Size, Size, 0, 0, true, C.KeyIndicator);
  }
  bool InternalPrepare(const std::string& SQL) override {
    Log.push_back("Prepare(" + SQL + ")");
    return InternalPrepareOpen(SQL) && vdb::TVantorSQL::InternalPrepareExecute(SQL);
  }
  bool InternalPrepareOpen(const std::string& SQL) override {
    InternalNeedLibrary();
    Log.push_back("PrepareOpen(" + SQL + ")");
    FieldDefs()->Clear();
    BlobManager()->Clear();
    for (size_t I = 0; I < Columns.size(); ++I) InternalInitFieldDef(FieldDefs(), static_cast<int32_t>(I), 0, nullptr);
    FRecordSize = FieldDefs()->Size();
    FIndicatorSize = 2 * FieldDefs()->Count();
    FFetchCount = MaxFetchCount();
    InternalAllocOpenBuffer();
    for (int32_t I = 0; I < FieldDefs()->Count(); ++I) {
      const vdb::TVantorFieldDef* Def = FieldDefs()->Items(I);
      if (Def->FieldType == vdb::vtMemo || Def->FieldType == vdb::vtBlob) InternalCreateBlobStream(Def->Name);
    }
    if (ThrowPrepare) throw vdb::EVantorException("Syntax error near 'x'", -131);
    if (FailPrepare) return false;
    return vdb::TVantorSQL::InternalPrepareOpen(SQL);
  }
  bool InternalDescribePrepare() override { return true; }
  bool InternalBindOpenVariables(vcl::TStrings* Names) override {
    Log.push_back(std::string("BindOpen(") + (Names != nullptr ? "names" : "none") + ")");
    OpenVars()->SetBound(!FailBind);
    return OpenVars()->Bound();
  }
  bool InternalIsUniDirectional() override { return UniDirectional; }
  bool InternalOpen(bool AReadOnly) override {
    Log.push_back(AReadOnly ? "Open(read)" : "Open(write)");
    if (FailOpen) return false;
    FCurrent = -1;
    const bool Result = vdb::TVantorSQL::InternalOpen(AReadOnly);
    FRecordCount = static_cast<int32_t>(Rows.size());
    return Result;
  }
  bool InternalDescribeOpen(bool) override { return true; }
  void InternalClose() override {
    if (Active()) Log.push_back("Close");
    vdb::TVantorSQL::InternalClose();
  }
  void InternalUnprepareOpen() override {
    Log.push_back("UnprepareOpen");
    vdb::TVantorSQL::InternalUnprepareOpen();
  }
  bool InternalPrepareExecute(const std::string& SQL) override {
    InternalNeedLibrary();
    Log.push_back("PrepareExecute(" + SQL + ")");
    if (FailPrepareExecute) return false;
    return vdb::TVantorSQL::InternalPrepareExecute(SQL);
  }
  bool InternalBindExecVariables(vcl::TStrings* Names) override {
    Log.push_back("BindExec");
    BindNamesGiven = Names != nullptr;
    if (Names != nullptr) Names->Add("blobparam1");
    OutVars()->Clear();
    for (const TOutSpec& Out : OutColumns)
      InternalAddFieldDef(OutVars(), Out.Name, Out.FieldType, 0, NaturalSize(Out.FieldType), 0, 0, 0, true,
                          vdb::kiRegularField);
    OutVars()->SetBufSize(OutVars()->Size());
    ExecVars()->SetBound(true);
    OutVars()->SetBound(true);
    return true;
  }
  bool InternalExecute(vcl::TStrings* Names) override {
    Log.push_back("Execute");
    ExecuteNamesGiven = Names != nullptr && Names->Count() == 1;
    for (int32_t I = 0; I < OutVars()->Count(); ++I) {
      const vdb::TVantorFieldDef* Def = OutVars()->Items(I);
      PutFieldData(OutVars()->Buffer(), Def->Offset, Def->Size, Def->FieldType,
                   OutColumns[static_cast<size_t>(I)].Value, nullptr);
    }
    SetRowsProcessed(Affected);
    return true;
  }
  void InternalUnprepareExecute() override {
    Log.push_back("UnprepareExecute");
    vdb::TVantorSQL::InternalUnprepareExecute();
  }
  int32_t InternalGetVariableLength(vdb::TVantorFieldTypes FieldType) override { return NaturalSize(FieldType); }
  int32_t InternalGetVariableExtType(vdb::TVantorFieldTypes FieldType) override { return 100 + FieldType; }
  bool InternalBindVariables(int32_t, vdb::TVantorVariableDefs*, vcl::TStrings*, void*&) override { return true; }
  bool InternalBindOutVariables(int32_t, vdb::TVantorVariableDefs*, vcl::TStrings*, void*&) override {
    return true;
  }
  bool InternalFetchFirst() override {
    Log.push_back("FetchFirst");
    return LoadRow(0);
  }
  bool InternalFetchNext() override {
    Log.push_back("FetchNext");
    return LoadRow(FCurrent + 1);
  }
  bool InternalMoveToFirst() override {
    Log.push_back("MoveToFirst");
    NoteBlock();
    FCurrent = -1;
    return true;
  }
  bool InternalMoveToLast() override {
    Log.push_back("MoveToLast");
    NoteBlock();
    FCurrent = static_cast<int32_t>(Rows.size());
    return true;
  }
  bool InternalMoveTo(int32_t Row) override {
    Log.push_back("MoveTo(" + std::to_string(Row) + ")");
    NoteBlock();
    return LoadRow(Row);
  }
  vdb::TVantorBlobStream* InternalCreateBlobStream(const std::string& Name) override {
    return new TMemoryBlobStream(BlobManager(), Name);
  }

  vcl::Variant GetFieldData(const uint8_t* Buffer, int32_t Offset, int32_t Size, vdb::TVantorFieldTypes FieldType,
                            vdb::TVantorBlobStream* Blob) override {
    const uint8_t* P = Buffer + Offset;
    switch (FieldType) {
      case vdb::vtString:
        return std::string(reinterpret_cast<const char*>(P), strnlen(reinterpret_cast<const char*>(P), Size));
      case vdb::vtInteger: {
        int32_t V;
        std::memcpy(&V, P, 4);
        return V;
      }
      case vdb::vtInt64: {
        long long V;
        std::memcpy(&V, P, 8);
        return V;
      }
      case vdb::vtFloat:
      case vdb::vtCurrency:
      case vdb::vtDate:
      case vdb::vtTime:
      case vdb::vtDateTime: {
        double V;
        std::memcpy(&V, P, 8);
        return V;
      }
      case vdb::vtBoolean:
        return *P != 0;
      case vdb::vtBinary: {
        uint16_t N;
        std::memcpy(&N, P, 2);
        return vcl::VarArrayFromBytes(P + 2, std::min<size_t>(N, static_cast<size_t>(Size - 2)));
      }
      case vdb::vtMemo:
      case vdb::vtBlob: {
        if (Blob == nullptr) {  // a host variable: the bytes are in the buffer
          const char* Text = reinterpret_cast<const char*>(P);
          if (FieldType == vdb::vtMemo) return std::string(Text, strnlen(Text, Size));
          return vcl::VarArrayFromBytes(P, static_cast<size_t>(Size));
        }
        std::string Content(static_cast<size_t>(Blob->GetBlobSize()), '\0');
        Blob->SetPosition(0);
        Blob->Read(Content.data(), static_cast<int64_t>(Content.size()));
        if (FieldType == vdb::vtMemo) return Content;
        return vcl::VarArrayFromBytes(Content.data(), Content.size());
      }
      default:
        return vcl::Null();
    }
  }

  void PutFieldData(uint8_t* Buffer, int32_t Offset, int32_t Size, vdb::TVantorFieldTypes FieldType,
                    const vcl::Variant& Value, vdb::TVantorBlobStream* Blob) override {
    if (vcl::VarIsNull(Value) || Size <= 0) return;
    uint8_t* P = Buffer + Offset;
    switch (FieldType) {
      case vdb::vtString: {
        const std::string S = SetVarToStr(Value);
        const size_t N = std::min(S.size(), static_cast<size_t>(Size - 1));
        std::memcpy(P, S.data(), N);
        P[N] = 0;
        break;
      }
      case vdb::vtInteger: {
        const int32_t V = SetVarToInt(Value);
        std::memcpy(P, &V, 4);
        break;
      }
      case vdb::vtInt64: {
        const int64_t V = SetVarToInt64(Value);
        std::memcpy(P, &V, 8);
        break;
      }
      case vdb::vtBoolean:
        *P = SetVarToBoolean(Value) ? 1 : 0;
        break;
      case vdb::vtBinary: {
        if (vcl::VarType(Value) != (vcl::varArray | vcl::varByte)) break;
        auto Bytes = vcl::VarArrayBytes(Value);
        const uint16_t N = static_cast<uint16_t>(std::min<size_t>(Bytes.size(), static_cast<size_t>(Size - 2)));
        std::memcpy(P, &N, 2);
        std::memcpy(P + 2, Bytes.data(), N);
        break;
      }
      case vdb::vtMemo:
      case vdb::vtBlob: {
        std::string Bytes;
        if (vcl::VarType(Value) == (vcl::varArray | vcl::varByte)) {
          auto Span = vcl::VarArrayBytes(Value);
          Bytes.assign(reinterpret_cast<const char*>(Span.data()), Span.size());
        } else {
          Bytes = SetVarToStr(Value);
        }
        if (Blob != nullptr) {
          Blob->Clear();
          Blob->Write(Bytes.data(), static_cast<int64_t>(Bytes.size()));
        } else {
          std::memcpy(P, Bytes.data(), std::min(Bytes.size(), static_cast<size_t>(Size)));
        }
        break;
      }
      case vdb::vtUnknown:
        break;
      default: {
        const double V = SetVarToFloat(Value);
        std::memcpy(P, &V, 8);
        break;
      }
    }
  }

  bool First() override { return LoadRow(0); }
  bool Last() override { return LoadRow(static_cast<int32_t>(Rows.size()) - 1); }
  bool Next() override { return LoadRow(FCurrent + 1); }
  bool Curr() override { return LoadRow(FCurrent); }
  bool Prev() override { return LoadRow(FCurrent - 1); }
  bool Modify() override { return true; }
  bool Append() override { return true; }
  bool Delete() override { return true; }
  bool GetNullIndicator(const uint8_t* Buffer, int32_t FieldNo) override {
    int16_t V;
    std::memcpy(&V, Buffer + 2 * FieldNo, 2);
    return V == -1;
  }
  void PutNullIndicator(uint8_t* Buffer, int32_t FieldNo, bool IsNull) override {
    const int16_t V = IsNull ? -1 : 0;
    std::memcpy(Buffer + 2 * FieldNo, &V, 2);
  }
  bool GetBlobTruncIndicator(const uint8_t*, int32_t) override { return true; }

 private:
  // Makes row K current in the row buffers and the old-row buffers.
  bool LoadRow(int32_t K) {
    if (K < 0 || K >= static_cast<int32_t>(Rows.size())) {
      if (K < 0) FBOF = true; else FEOF = true;
      FCurrent = std::clamp(K, -1, static_cast<int32_t>(Rows.size()));
      return false;
    }
    FCurrent = K;
    FRecNo = K;
    FBOF = FEOF = false;
    std::memset(RowBuffer(), 0, static_cast<size_t>(RecordSize()));
    BlobManager()->ClearBlobs();
    for (int32_t I = 0; I < FieldDefs()->Count(); ++I) {
      const vdb::TVantorFieldDef* Def = FieldDefs()->Items(I);
      const vcl::Variant& V = Rows[static_cast<size_t>(K)][static_cast<size_t>(I)];
      PutNullIndicator(IndicatorBuffer(), Def->FieldNo, vcl::VarIsNull(V));
      if (Def->FieldType == vdb::vtMemo || Def->FieldType == vdb::vtBlob) {
        auto* Blob = static_cast<TMemoryBlobStream*>(BlobManager()->BlobByName(Def->Name));
        Blob->Clear();
        Blob->ServerValue = vcl::VarIsNull(V) ? std::string() : SetVarToStr(V);
      } else {
        PutFieldData(RowBuffer(), Def->Offset, Def->Size, Def->FieldType, V, nullptr);
      }
    }
    std::memcpy(OldRowBuffer(), RowBuffer(), static_cast<size_t>(RecordSize()));
    std::memcpy(OldIndicatorBuffer(), IndicatorBuffer(), static_cast<size_t>(IndicatorSize()));
    return true;
  }

  void NoteBlock() {
    const uint8_t* Data = FetchBuffer();
    const uint8_t* Ind = FetchIndicatorBuffer();
    bool Clean = true;
    for (int64_t I = 0; I < int64_t{FetchCount()} * RecordSize(); ++I) Clean = Clean && Data[I] == 0;
    for (int32_t Row = 0; Row < FetchCount(); ++Row)
      for (int32_t F = 0; F < FieldDefs()->Count(); ++F)
        Clean = Clean && GetNullIndicator(Ind + static_cast<size_t>(Row) * IndicatorSize(), F);
    BlockClearedOnMove = Clean;
  }

  int32_t FCurrent = -1;  // the current row of Rows
};

// Runs Call and answers the frame error's message; fails the test when
// nothing or something else is raised.
template <class F>
std::string FrameError(F&& Call) {
  try {
    Call();
  } catch (const vdb::EVantorException& E) {
    EXPECT_EQ(E.ErrorCode(), 0);
    return E.Message();
  }
  ADD_FAILURE() << "no EVantorException";
  return {};
}

}  // namespace vdbtest
