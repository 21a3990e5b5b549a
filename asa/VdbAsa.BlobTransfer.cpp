// Long values: the blob stream that reads a value from the server in
// pieces, the truncation test of prefetched values, and the server
// variables that carry long values to the server.
#include <cstring>

#include "asa/VdbAsa.h"

namespace vdb {

// ---------------------------------------------------------------------------
// TAsaBlobStream

TAsaSQL* TAsaBlobStream::Statement() const {
  return Manager() != nullptr ? static_cast<TAsaSQL*>(Manager()->SQL()) : nullptr;
}

int64_t TAsaBlobStream::Read(void* Buffer, int64_t Count) {
  (void)Buffer;
  (void)Count;
  throw EAsaException("TAsaBlobStream.Read is not supported yet", 0);
}

int32_t TAsaBlobStream::GetBlobSize() {
  if (Modified()) return TVantorBlobStream::GetBlobSize();
  throw EAsaException("TAsaBlobStream.GetBlobSize is not supported yet", 0);
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
  (void)SQL;
  (void)Values;
  NotSupportedYet("InternalLocalExecute");
}

bool TAsaSQL::InternalCreateBlobVariable(const std::string& Name, const void* Data, int32_t Length) {
  (void)Name;
  (void)Data;
  (void)Length;
  NotSupportedYet("InternalCreateBlobVariable");
}

void TAsaSQL::InternalDropBlobVariables(vcl::TStrings* Names) {
  if (Names == nullptr || Names->Count() == 0) return;
  NotSupportedYet("InternalDropBlobVariables");
}

}  // namespace vdb
