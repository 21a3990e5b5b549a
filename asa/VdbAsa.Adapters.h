// Callback adapters: the client library calls plain functions without a
// user value, so every registration takes one function of a fixed table
// whose slot names the session and the method it reaches. Slots are
// process-wide, one table per callback shape, and reused once released.
#pragma once

#include <cstdint>

#include "vdb_esql.h"

namespace vdb {

class TAsaSession;

// The shape of a callback, and so the table its adapter comes from.
enum TAsaAdapterKind : uint8_t {
  akRequest,  // SQLCA only: start, wait, finish
  akMessage,  // server messages
  akDropped,  // dropped connections
  akDebug,    // the library's trace lines
  akLocate,   // db_locate_servers, one per server found
};

// Which session method a request-shaped adapter reaches.
enum TAsaRequestMethod : uint8_t { rmStart, rmWait, rmFinish };

struct TAsaAdapter;

// Takes a free adapter of Kind bound to Session (and, for akRequest, to
// Method); raises EAsaException when every adapter of the kind is taken.
TAsaAdapter* VdbAcquireAdapter(TAsaAdapterKind Kind, TAsaSession* Session, TAsaRequestMethod Method = rmStart);
// Unbinds the adapter and makes it available again; null is ignored.
void VdbReleaseAdapter(TAsaAdapter* Adapter) noexcept;
// The plain function to hand to the library.
db_any_callback_fn VdbAdapterFunction(const TAsaAdapter* Adapter);
db_locate_callback_fn VdbLocateFunction(const TAsaAdapter* Adapter);
// Adapters of Kind currently bound (for tests and diagnostics).
int32_t VdbAdaptersInUse(TAsaAdapterKind Kind);

}  // namespace vdb
