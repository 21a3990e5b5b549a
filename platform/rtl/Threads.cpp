#include "rtl/Threads.h"

#include <unistd.h>

#include <chrono>
#include <deque>
#include <system_error>
#include <vector>

namespace vcl {

namespace {

std::atomic<TThreadID> GMainThreadID{0};

// The program's main thread runs static initialisation.
const bool GMainThreadRecorded = [] {
  TThreadID none = 0;
  GMainThreadID.compare_exchange_strong(none, GetCurrentThreadId());
  return true;
}();

// One call waiting for the main thread.
//   Method  the call; owned by the waiting worker
//   Error   what it threw
//   Done    set by the main thread once it ran
struct TSyncRequest {
  const TThreadMethod* Method = nullptr;
  std::exception_ptr Error;
  bool Done = false;
};

// Fields:
//   Lock     guards everything below
//   Queued   wakes the main thread: a call was queued or WakeSeq moved
//   Ran      wakes workers whose calls ran
//   Pending  calls in the order they were queued
//   WakeSeq  bumped when a thread finishes, so a main thread waiting for it
//            stops waiting for calls
struct TSyncQueue {
  std::mutex Lock;
  std::condition_variable Queued;
  std::condition_variable Ran;
  std::deque<TSyncRequest*> Pending;
  uint64_t WakeSeq = 0;
};

// Never destroyed: workers may still synchronise while statics go away.
TSyncQueue& SyncQueue() {
  static TSyncQueue* queue = new TSyncQueue;
  return *queue;
}

bool OnMainThread() { return GetCurrentThreadId() == MainThreadID(); }

void WakeMainThread() {
  TSyncQueue& q = SyncQueue();
  std::lock_guard<std::mutex> guard(q.Lock);
  ++q.WakeSeq;
  q.Queued.notify_all();
}

uint64_t CurrentWakeSeq() {
  TSyncQueue& q = SyncQueue();
  std::lock_guard<std::mutex> guard(q.Lock);
  return q.WakeSeq;
}

// Runs the queued calls; first waits up to Timeout for one to arrive or for
// WakeSeq to move past SeenSeq.
bool RunQueuedCalls(std::chrono::milliseconds Timeout, uint64_t SeenSeq) {
  TSyncQueue& q = SyncQueue();
  std::vector<TSyncRequest*> batch;
  {
    std::unique_lock<std::mutex> lock(q.Lock);
    if (q.Pending.empty() && Timeout.count() > 0)
      q.Queued.wait_for(lock, Timeout, [&] { return !q.Pending.empty() || q.WakeSeq != SeenSeq; });
    batch.assign(q.Pending.begin(), q.Pending.end());
    q.Pending.clear();
  }
  for (TSyncRequest* request : batch) {
    std::exception_ptr error;
    try {
      (*request->Method)();
    } catch (...) {
      error = std::current_exception();
    }
    // Hand the only reference over before the worker wakes: a copy released
    // here afterwards would destroy the exception concurrently with the
    // worker's own use of it.
    std::lock_guard<std::mutex> guard(q.Lock);
    request->Error = std::move(error);
    request->Done = true;
    q.Ran.notify_all();
  }
  return !batch.empty();
}

using TBody = void (*)(TThread*);

}  // namespace

TThreadID GetCurrentThreadId() { return static_cast<TThreadID>(::gettid()); }

TThreadID MainThreadID() {
  TThreadID id = GMainThreadID.load();
  if (id == 0) {
    // Touched before static initialisation ran: this thread is the main one.
    GMainThreadID.compare_exchange_strong(id, GetCurrentThreadId());
    id = GMainThreadID.load();
  }
  return id;
}

void SetMainThreadID(TThreadID Id) { GMainThreadID.store(Id); }

void Synchronize(TThread* /*Thread*/, const TThreadMethod& Method) {
  if (!Method) return;
  if (OnMainThread()) {
    Method();
    return;
  }
  TSyncQueue& q = SyncQueue();
  TSyncRequest request;
  request.Method = &Method;
  std::unique_lock<std::mutex> lock(q.Lock);
  q.Pending.push_back(&request);
  q.Queued.notify_all();
  q.Ran.wait(lock, [&] { return request.Done; });
  if (request.Error) std::rethrow_exception(request.Error);
}

bool CheckSynchronize(uint32_t TimeoutMs) {
  if (!OnMainThread())
    throw EThread("CheckSynchronize called from thread " + std::to_string(GetCurrentThreadId()) +
                  ", which is NOT the main thread");
  return RunQueuedCalls(std::chrono::milliseconds(TimeoutMs), CurrentWakeSeq());
}

// --- TThread ----------------------------------------------------------------

TThread::TThread(bool CreateSuspended) : FStartPending(!CreateSuspended) {}

TThread::~TThread() {
  std::unique_lock<std::mutex> lock(FLock);
  // Whoever deletes the object owns it now; the thread must not free it too.
  FFreeOnTerminate.store(false);
  if (!FThread.joinable()) return;
  if (FThread.get_id() == std::this_thread::get_id()) {
    FThread.detach();
    return;
  }
  if (!FFinished) {
    FTerminated.store(true);
    lock.unlock();
    bool main = OnMainThread();
    for (;;) {
      uint64_t seen = CurrentWakeSeq();
      lock.lock();
      if (FFinished) break;
      if (!main) {
        FChanged.wait(lock, [&] { return FFinished; });
        break;
      }
      lock.unlock();
      RunQueuedCalls(std::chrono::milliseconds(100), seen);
    }
  }
  lock.unlock();
  FThread.join();
}

void TThread::AfterConstruction() {
  bool pending;
  {
    std::lock_guard<std::mutex> guard(FLock);
    pending = FStartPending && !FStarted;
  }
  if (pending) Start();
}

void TThread::Start() {
  std::unique_lock<std::mutex> lock(FLock);
  if (FStarted) throw EThread("Cannot call Start on a running or suspended thread");
  // Execute is looked up here, in the thread that built the object, so that
  // the worker never reads the object's vtable while a destructor may be
  // rewriting it.
  TBody body = nullptr;
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpmf-conversions"
  body = reinterpret_cast<TBody>(this->*(&TThread::Execute));
#pragma GCC diagnostic pop
#endif
  try {
    FThread = std::thread(&TThread::Run, this, body);
  } catch (const std::system_error& e) {
    throw EThread(std::string("Thread creation error: ") + e.what());
  }
  FStarted = true;
  FStartPending = false;
  FChanged.wait(lock, [&] { return FThreadID != 0; });
}

void TThread::Run(void (*Body)(TThread*)) {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FThreadID = GetCurrentThreadId();
    FChanged.notify_all();
  }
  std::exception_ptr fatal;
  try {
    if (Body != nullptr)
      Body(this);
    else
      Execute();
  } catch (...) {
    fatal = std::current_exception();
  }
  if (OnTerminate) {
    try {
      vcl::Synchronize(this, [this] { OnTerminate(this); });
    } catch (...) {
      if (!fatal) fatal = std::current_exception();
    }
  }
  bool freeIt;
  {
    std::lock_guard<std::mutex> guard(FLock);
    freeIt = FFreeOnTerminate.load();
    FFatal = fatal;
    FFinished = true;
    FChanged.notify_all();
  }
  WakeMainThread();
  if (freeIt) {
    FThread.detach();
    delete this;
  }
}

uint32_t TThread::WaitFor() {
  if (FFreeOnTerminate.load()) throw EThread("Cannot call WaitFor on a thread that frees itself");
  bool startNow;
  {
    std::lock_guard<std::mutex> guard(FLock);
    if (FStarted && FThreadID == GetCurrentThreadId()) throw EThread("A thread cannot wait for itself");
    startNow = FStartPending && !FStarted;
    if (!FStarted && !startNow) throw EThread("Cannot call WaitFor on a thread that was never started");
  }
  if (startNow) Start();
  bool main = OnMainThread();
  for (;;) {
    uint64_t seen = CurrentWakeSeq();
    std::unique_lock<std::mutex> lock(FLock);
    if (FFinished) break;
    if (!main) {
      FChanged.wait(lock, [&] { return FFinished; });
      break;
    }
    lock.unlock();
    // The worker may be waiting for the main thread, which is this one.
    RunQueuedCalls(std::chrono::milliseconds(100), seen);
  }
  return static_cast<uint32_t>(FReturnValue.load());
}

bool TThread::Suspended() const {
  std::lock_guard<std::mutex> guard(FLock);
  return !FStarted;
}

bool TThread::Finished() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FFinished;
}

TThreadID TThread::ThreadID() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FThreadID;
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard<std::mutex> guard(FLock);
  return FFatal;
}

// --- TEvent -----------------------------------------------------------------

void TEvent::SetEvent() {
  std::lock_guard<std::mutex> guard(FLock);
  FSignaled = true;
  if (FManualReset)
    FChanged.notify_all();
  else
    FChanged.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> guard(FLock);
  FSignaled = false;
}

TWaitResult TEvent::WaitFor(uint32_t Timeout) {
  std::unique_lock<std::mutex> lock(FLock);
  auto signaled = [&] { return FSignaled; };
  if (Timeout == Infinite)
    FChanged.wait(lock, signaled);
  else if (!FChanged.wait_for(lock, std::chrono::milliseconds(Timeout), signaled))
    return wrTimeout;
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}

}  // namespace vcl
