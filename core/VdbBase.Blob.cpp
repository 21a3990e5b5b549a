// Blob streams, the blob manager of a statement, and the statement's
// conversions between blob columns, streams, byte arrays and pictures.
#include <algorithm>
#include <climits>
#include <cstring>

#include "core/VdbBase.h"
#include "rtl/StrUtils.h"
#include "rtl/SysUtils.h"

namespace vdb {

// ---------------------------------------------------------------------------
// TVantorBlobStream

TVantorBlobStream::TVantorBlobStream(TVantorBlobManager* AManager, const std::string& AFieldName)
    : FFieldName(AFieldName) {
  if (AManager != nullptr) AManager->AddBlob(this);
}

TVantorBlobStream::~TVantorBlobStream() {
  if (FManager != nullptr) FManager->RemoveBlob(this);
}

int64_t TVantorBlobStream::Write(const void* Data, int64_t Count) {
  if (Count < 0 || FPosition < 0) return 0;
  // The value covers everything up to the end of this write; a gap left by
  // a seek past the end reads as zero bytes.
  const int64_t NewSize = std::max<int64_t>(FDataSize, FPosition + Count);
  if (NewSize > INT32_MAX) return 0;
  FDataSize = static_cast<int32_t>(NewSize);
  FBuffer.resize(static_cast<size_t>(FDataSize));
  FIsNull = FBuffer.empty();
  if (FBuffer.empty()) return 0;
  if (Count > 0) std::memcpy(FBuffer.data() + FPosition, Data, static_cast<size_t>(Count));
  FPosition += Count;
  FModified = true;
  return Count;
}

int64_t TVantorBlobStream::Seek(int64_t Offset, vcl::TSeekOrigin Origin) {
  switch (Origin) {
    case vcl::soBeginning:
      FPosition = Offset;
      break;
    case vcl::soCurrent:
      FPosition += Offset;
      break;
    case vcl::soEnd:
      FPosition = GetBlobSize() + Offset;
      break;
  }
  return FPosition;
}

int32_t TVantorBlobStream::GetBlobSize() { return FModified ? FDataSize : 0; }

void TVantorBlobStream::Clear() {
  FBuffer.clear();
  FBuffer.shrink_to_fit();
  FDataSize = 0;
  FPosition = 0;
  FModified = false;
  FIsNull = true;
}

void TVantorBlobStream::AssignFetched(std::vector<uint8_t>&& Data) {
  if (Data.size() > INT32_MAX) throw vcl::EStreamError("Blob value too large for a stream");
  FBuffer = std::move(Data);
  FDataSize = static_cast<int32_t>(FBuffer.size());
  FPosition = 0;
  FModified = false;
  FIsNull = FBuffer.empty();
}

void TVantorBlobStream::Truncate() {
  Clear();
  FModified = true;
}

int32_t TVantorBlobStream::GetFieldNo() const {
  if (FManager == nullptr || FManager->SQL() == nullptr) return -1;
  const TVantorFieldDef* Def = FManager->SQL()->FieldDefs()->FieldByName(FFieldName);
  return Def != nullptr ? Def->FieldNo : -1;
}

int32_t TVantorBlobStream::GetFieldExtType() const {
  if (FManager == nullptr || FManager->SQL() == nullptr) return -1;
  const TVantorFieldDef* Def = FManager->SQL()->FieldDefs()->FieldByName(FFieldName);
  return Def != nullptr ? Def->ExtType : -1;
}

// ---------------------------------------------------------------------------
// TVantorBlobManager

TVantorBlobManager::TVantorBlobManager(TVantorSQL* ASQL) : FSQL(ASQL) {}

TVantorBlobManager::~TVantorBlobManager() { Clear(); }

void TVantorBlobManager::AddBlob(TVantorBlobStream* Stream) {
  if (Stream == nullptr || Stream->FManager == this) return;
  if (Stream->FManager != nullptr) Stream->FManager->RemoveBlob(Stream);
  FBlobs.emplace_back(Stream);
  Stream->FManager = this;
}

void TVantorBlobManager::RemoveBlob(TVantorBlobStream* Stream) {
  auto It = std::find_if(FBlobs.begin(), FBlobs.end(),
                         [Stream](const std::unique_ptr<TVantorBlobStream>& Item) { return Item.get() == Stream; });
  if (It == FBlobs.end()) return;
  // Ownership passes back to the caller (or to the stream's own destructor).
  (void)It->release();
  FBlobs.erase(It);
  Stream->FManager = nullptr;
}

void TVantorBlobManager::Clear() {
  while (!FBlobs.empty()) {
    std::unique_ptr<TVantorBlobStream> Last = std::move(FBlobs.back());
    FBlobs.pop_back();
    Last->FManager = nullptr;
  }
}

void TVantorBlobManager::ClearBlobs() {
  for (const auto& Blob : FBlobs) Blob->Clear();
}

TVantorBlobStream* TVantorBlobManager::GetBlob(uint16_t Index) const {
  if (Index >= FBlobs.size()) throw vcl::EListError("List index out of bounds (" + std::to_string(Index) + ")");
  return BlobByName(FBlobs[Index]->FieldName());
}

TVantorBlobStream* TVantorBlobManager::BlobByName(const std::string& Name) const {
  for (const auto& Blob : FBlobs) {
    if (vcl::AnsiSameText(Blob->FieldName(), Name)) return Blob.get();
  }
  const std::string Message = vcl::Format(VDB_ERR_BLOB_REQUIRED, {Name});
  if (FSQL != nullptr) FSQL->RaiseLastError(Message, 0);
  throw EVantorException(Message, 0, 0);
}

// ---------------------------------------------------------------------------
// TVantorSQL: blob columns

void TVantorSQL::StreamToBlob(const vcl::Variant& Index, vcl::TStream* Stream) {
  if (FReadOnly) RaiseLastError(VDB_ERR_CURS_READ_ONLY, 0);
  if (Stream == nullptr) RaiseLastError(VDB_ERR_BLOB_STREAM_INVALID, 0);
  TVantorFieldDef* Def = NeedField(Index);
  TVantorBlobStream* Blob = FBlobManager->BlobByName(Def->Name);
  NeedRowBuffers(Def);
  Blob->Clear();
  Blob->CopyFrom(*Stream, 0);
  PutNullIndicator(FIndicatorBuffer.get(), Def->FieldNo, false);
}

void TVantorSQL::BlobToStream(const vcl::Variant& Index, vcl::TStream* Stream) {
  if (Stream == nullptr) RaiseLastError(VDB_ERR_BLOB_STREAM_INVALID, 0);
  TVantorFieldDef* Def = NeedField(Index);
  TVantorBlobStream* Blob = FBlobManager->BlobByName(Def->Name);
  Blob->SetPosition(0);
  if (auto* Memory = dynamic_cast<vcl::TMemoryStream*>(Stream)) Memory->SetSize(Blob->GetBlobSize());
  Stream->CopyFrom(*Blob, 0);
  Stream->SetPosition(0);
}

namespace {

vcl::TGraphic* GraphicOf(vcl::TPicture* Picture, TVantorGraphicType GraphicType) {
  switch (GraphicType) {
    case gtMetafile:
      return Picture->Metafile();
    case gtIcon:
      return Picture->Icon();
    case gtBitmap:
    default:
      return Picture->Bitmap();
  }
}

}  // namespace

void TVantorSQL::GraphicToBlob(const vcl::Variant& Index, vcl::TPicture* Picture, TVantorGraphicType GraphicType) {
  if (FReadOnly) RaiseLastError(VDB_ERR_CURS_READ_ONLY, 0);
  if (Picture == nullptr) RaiseLastError(VDB_ERR_BLOB_PICTURE_INVALID, 0);
  TVantorFieldDef* Def = NeedField(Index);
  TVantorBlobStream* Blob = FBlobManager->BlobByName(Def->Name);
  NeedRowBuffers(Def);
  Blob->Clear();
  GraphicOf(Picture, GraphicType)->SaveToStream(*Blob);
  PutNullIndicator(FIndicatorBuffer.get(), Def->FieldNo, false);
}

void TVantorSQL::BlobToGraphic(const vcl::Variant& Index, vcl::TPicture* Picture, TVantorGraphicType GraphicType) {
  if (Picture == nullptr) RaiseLastError(VDB_ERR_BLOB_PICTURE_INVALID, 0);
  TVantorFieldDef* Def = NeedField(Index);
  TVantorBlobStream* Blob = FBlobManager->BlobByName(Def->Name);
  Blob->SetPosition(0);
  GraphicOf(Picture, GraphicType)->LoadFromStream(*Blob);
}

vcl::Variant TVantorSQL::StrToVarByte(const void* Data, int32_t Length) {
  if (Length < 1 || Data == nullptr) return vcl::Null();
  return vcl::VarArrayFromBytes(Data, static_cast<size_t>(Length));
}

vcl::Variant TVantorSQL::StreamToVarByte(vcl::TMemoryStream* Stream) {
  if (Stream == nullptr) return vcl::Null();
  const int64_t Size = Stream->Size();
  if (Size > INT32_MAX) throw vcl::EStreamError("Stream too large for a byte array");
  return StrToVarByte(Stream->Memory(), static_cast<int32_t>(Size));
}

std::string TVantorSQL::StreamToStr(vcl::TMemoryStream* Stream) {
  if (Stream == nullptr) return std::string();
  return std::string(reinterpret_cast<const char*>(Stream->Memory()), static_cast<size_t>(Stream->Size()));
}

}  // namespace vdb
