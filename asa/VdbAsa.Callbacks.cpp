// Callback adapters and the session's callback methods.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

#include "asa/VdbAsa.Adapters.h"
#include "asa/VdbAsa.h"

namespace vdb {

// One slot of a table: the session and method a fixed function reaches.
struct TAsaAdapter {
  std::atomic<TAsaSession*> Session{nullptr};  // null while free
  std::atomic<uint8_t> Method{rmStart};        // TAsaRequestMethod for akRequest
  TAsaAdapterKind Kind = akRequest;
  bool InUse = false;                          // guarded by the pools' mutex
  void* Function = nullptr;                    // the slot's plain function
};

namespace {

// A request callback can come three times per connection, the others once.
constexpr size_t kRequestSlots = 192;
constexpr size_t kOtherSlots = 64;

template <TAsaAdapterKind K>
constexpr size_t SlotCount() {
  return K == akRequest ? kRequestSlots : kOtherSlots;
}

template <TAsaAdapterKind K>
struct TTable {
  static inline std::array<TAsaAdapter, SlotCount<K>()> Slots;
};

std::mutex& PoolMutex() {
  static std::mutex M;
  return M;
}

// The callbacks arrive from C: nothing may escape them.
template <class Body>
void Guarded(TAsaSession* Session, Body&& F) noexcept {
  try {
    F();
  } catch (...) {
    try {
      VdbApplicationHandleException(Session);
    } catch (...) {
    }
  }
}

template <size_t I>
void RequestThunk(SQLCA* Ca) {
  TAsaAdapter& A = TTable<akRequest>::Slots[I];
  TAsaSession* S = A.Session.load(std::memory_order_acquire);
  if (S == nullptr) return;
  TAsaCallbackRecord Rec{Ca};
  const uint8_t Method = A.Method.load(std::memory_order_acquire);
  Guarded(S, [&] {
    switch (Method) {
      case rmStart: S->StartCall(Rec); break;
      case rmWait: S->WaitCall(Rec); break;
      default: S->FinishCall(Rec); break;
    }
  });
}

template <size_t I>
void MessageThunk(SQLCA* Ca, uint8_t Type, int32_t Code, uint16_t Length, const char* Msg) {
  TAsaSession* S = TTable<akMessage>::Slots[I].Session.load(std::memory_order_acquire);
  if (S == nullptr) return;
  TAsaMessageRecord Rec{Ca, static_cast<int16_t>(Type), Code, Length, Msg};
  Guarded(S, [&] { S->ServerMessageCall(Rec); });
}

template <size_t I>
void DroppedThunk(SQLCA* Ca, const char* Name) {
  TAsaSession* S = TTable<akDropped>::Slots[I].Session.load(std::memory_order_acquire);
  if (S == nullptr) return;
  TAsaDroppedRecord Rec{Ca, Name};
  Guarded(S, [&] { S->ConnDroppedCall(Rec); });
}

template <size_t I>
void DebugThunk(SQLCA* Ca, const char* Text) {
  TAsaSession* S = TTable<akDebug>::Slots[I].Session.load(std::memory_order_acquire);
  if (S == nullptr) return;
  TAsaDebugRecord Rec{Ca, Text};
  Guarded(S, [&] { S->DebugMessageCall(Rec); });
}

template <size_t I>
int32_t LocateThunk(SQLCA* Ca, const a_server_address* Server, void* User) {
  TAsaSession* S = TTable<akLocate>::Slots[I].Session.load(std::memory_order_acquire);
  if (S == nullptr) return 0;
  TAsaLocateRecord Rec{Ca, Server, User, 1};
  bool Failed = true;
  Guarded(S, [&] {
    S->LocateServerCall(Rec);
    Failed = false;
  });
  return Failed ? 0 : Rec.Result;
}

template <TAsaAdapterKind K, size_t I>
void* ThunkOf() {
  if constexpr (K == akRequest) return reinterpret_cast<void*>(&RequestThunk<I>);
  if constexpr (K == akMessage) return reinterpret_cast<void*>(&MessageThunk<I>);
  if constexpr (K == akDropped) return reinterpret_cast<void*>(&DroppedThunk<I>);
  if constexpr (K == akDebug) return reinterpret_cast<void*>(&DebugThunk<I>);
  if constexpr (K == akLocate) return reinterpret_cast<void*>(&LocateThunk<I>);
  return nullptr;
}

template <TAsaAdapterKind K, size_t... I>
void InitTable(std::index_sequence<I...>) {
  auto& Slots = TTable<K>::Slots;
  ((Slots[I].Kind = K, Slots[I].Function = ThunkOf<K, I>()), ...);
}

// Fills the tables' functions once; called under the pools' mutex.
void InitTables() {
  static bool Done = false;
  if (Done) return;
  InitTable<akRequest>(std::make_index_sequence<kRequestSlots>());
  InitTable<akMessage>(std::make_index_sequence<kOtherSlots>());
  InitTable<akDropped>(std::make_index_sequence<kOtherSlots>());
  InitTable<akDebug>(std::make_index_sequence<kOtherSlots>());
  InitTable<akLocate>(std::make_index_sequence<kOtherSlots>());
  Done = true;
}

template <TAsaAdapterKind K>
TAsaAdapter* TakeFree(TAsaSession* Session, TAsaRequestMethod Method) {
  for (TAsaAdapter& A : TTable<K>::Slots) {
    if (A.InUse) continue;
    A.InUse = true;
    A.Method.store(Method, std::memory_order_release);
    A.Session.store(Session, std::memory_order_release);
    return &A;
  }
  return nullptr;
}

template <TAsaAdapterKind K>
int32_t CountInUse() {
  return static_cast<int32_t>(
      std::count_if(TTable<K>::Slots.begin(), TTable<K>::Slots.end(), [](const TAsaAdapter& A) { return A.InUse; }));
}

}  // namespace

TAsaAdapter* VdbAcquireAdapter(TAsaAdapterKind Kind, TAsaSession* Session, TAsaRequestMethod Method) {
  TAsaAdapter* Result = nullptr;
  {
    std::lock_guard<std::mutex> Lock(PoolMutex());
    InitTables();
    switch (Kind) {
      case akRequest: Result = TakeFree<akRequest>(Session, Method); break;
      case akMessage: Result = TakeFree<akMessage>(Session, Method); break;
      case akDropped: Result = TakeFree<akDropped>(Session, Method); break;
      case akDebug: Result = TakeFree<akDebug>(Session, Method); break;
      case akLocate: Result = TakeFree<akLocate>(Session, Method); break;
    }
  }
  if (Result == nullptr) throw EAsaException("No free callback adapter: too many sessions with server callbacks", 0);
  return Result;
}

void VdbReleaseAdapter(TAsaAdapter* Adapter) noexcept {
  if (Adapter == nullptr) return;
  std::lock_guard<std::mutex> Lock(PoolMutex());
  Adapter->Session.store(nullptr, std::memory_order_release);
  Adapter->InUse = false;
}

db_any_callback_fn VdbAdapterFunction(const TAsaAdapter* Adapter) {
  return Adapter != nullptr ? reinterpret_cast<db_any_callback_fn>(Adapter->Function) : nullptr;
}

db_locate_callback_fn VdbLocateFunction(const TAsaAdapter* Adapter) {
  return Adapter != nullptr && Adapter->Kind == akLocate ? reinterpret_cast<db_locate_callback_fn>(Adapter->Function)
                                                         : nullptr;
}

int32_t VdbAdaptersInUse(TAsaAdapterKind Kind) {
  std::lock_guard<std::mutex> Lock(PoolMutex());
  switch (Kind) {
    case akRequest: return CountInUse<akRequest>();
    case akMessage: return CountInUse<akMessage>();
    case akDropped: return CountInUse<akDropped>();
    case akDebug: return CountInUse<akDebug>();
    case akLocate: return CountInUse<akLocate>();
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Registration for one connection

void TAsaSession::RegisterDebugCallback() {
  if (Designing() || !FOnDebugMessage) return;
  TAsaAdapter* A = VdbAcquireAdapter(akDebug, this);
  FCallbacks.push_back({DB_CALLBACK_DEBUG_MESSAGE, A});
  FProcs.db_register_a_callback(&FSqlca, DB_CALLBACK_DEBUG_MESSAGE, VdbAdapterFunction(A));
}

void TAsaSession::RegisterEventCallbacks() {
  if (Designing()) return;
  struct TWanted {
    bool Assigned;
    int32_t Index;
    TAsaAdapterKind Kind;
    TAsaRequestMethod Method;
  };
  const TWanted Wanted[] = {
      {static_cast<bool>(FOnServerStart), DB_CALLBACK_START, akRequest, rmStart},
      {static_cast<bool>(FOnServerFinish), DB_CALLBACK_FINISH, akRequest, rmFinish},
      {static_cast<bool>(FOnServerWait), DB_CALLBACK_WAIT, akRequest, rmWait},
      {static_cast<bool>(FOnServerMessage), DB_CALLBACK_MESSAGE, akMessage, rmStart},
      {static_cast<bool>(FOnConnectionDropped), DB_CALLBACK_CONN_DROPPED, akDropped, rmStart},
  };
  for (const TWanted& W : Wanted) {
    if (!W.Assigned) continue;
    TAsaAdapter* A = VdbAcquireAdapter(W.Kind, this, W.Method);
    FCallbacks.push_back({W.Index, A});
    FProcs.db_register_a_callback(&FSqlca, W.Index, VdbAdapterFunction(A));
  }
}

void TAsaSession::ReleaseCallbacks() noexcept {
  // Unregister in the reverse order of registration, then free the slots.
  for (auto It = FCallbacks.rbegin(); It != FCallbacks.rend(); ++It) {
    if (FProcs.db_register_a_callback != nullptr) {
      try {
        FProcs.db_register_a_callback(&FSqlca, It->Index, nullptr);
      } catch (...) {
      }
    }
    VdbReleaseAdapter(It->Adapter);
  }
  FCallbacks.clear();
}

// ---------------------------------------------------------------------------
// Callback methods

void TAsaSession::StartCall(TAsaCallbackRecord& Rec) {
  (void)Rec;
  if (!BeingDestroyed() && FOnServerStart) FOnServerStart(this);
}

void TAsaSession::FinishCall(TAsaCallbackRecord& Rec) {
  (void)Rec;
  if (!BeingDestroyed() && FOnServerFinish) FOnServerFinish(this);
}

void TAsaSession::ConnDroppedCall(TAsaDroppedRecord& Rec) {
  (void)Rec;
  if (!BeingDestroyed() && FOnConnectionDropped) FOnConnectionDropped(this);
}

void TAsaSession::WaitCall(TAsaCallbackRecord& Rec) {
  if (BeingDestroyed() || !FOnServerWait) return;
  bool AbortRequest = false;
  FOnServerWait(this, AbortRequest);
  if (AbortRequest) FProcs.db_cancel_request(Rec.Sqlca);
}

void TAsaSession::ServerMessageCall(TAsaMessageRecord& Rec) {
  if (BeingDestroyed() || !FOnServerMessage) return;
  std::string Text;
  if (Rec.Text != nullptr) {
    const size_t Max = std::min<size_t>(Rec.Length, 32766);
    Text.assign(Rec.Text, strnlen(Rec.Text, Max));
  }
  if (!Text.empty()) TranslateChar(Text.data(), Text.data(), static_cast<int32_t>(Text.size()), false);
  TServerMessageType Type = smtUnknown;
  switch (Rec.MessageType) {
    case MESSAGE_TYPE_INFO: Type = smtInfo; break;
    case MESSAGE_TYPE_WARNING: Type = smtWarning; break;
    case MESSAGE_TYPE_ACTION: Type = smtAction; break;
    case MESSAGE_TYPE_STATUS: Type = smtStatus; break;
    default: break;
  }
  FOnServerMessage(this, Type, Rec.Code, Text);
}

void TAsaSession::DebugMessageCall(TAsaDebugRecord& Rec) {
  if (BeingDestroyed() || !FOnDebugMessage || Rec.Text == nullptr) return;
  const char* P = Rec.Text;
  for (;;) {
    const char* Break = std::strpbrk(P, "\r\n");
    if (Break == nullptr) break;
    FOnDebugMessage(this, std::string(P, Break));
    P = Break;
    while (*P == '\r' || *P == '\n') ++P;
  }
  if (*P != '\0') FOnDebugMessage(this, std::string(P));
}

void TAsaSession::LocateServerCall(TAsaLocateRecord& Rec) {
  if (BeingDestroyed() || !FOnLocateServers || Rec.Server == nullptr) {
    Rec.Result = 0;
    return;
  }
  bool AbortLocate = false;
  const a_server_address& S = *Rec.Server;
  FOnLocateServers(this, std::string(S.name, strnlen(S.name, sizeof S.name)),
                   std::string(S.address, strnlen(S.address, sizeof S.address)), static_cast<int32_t>(S.port_type),
                   AbortLocate);
  if (AbortLocate) Rec.Result = 0;
}

}  // namespace vdb
