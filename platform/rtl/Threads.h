// Threads and the hand-over of work to the main thread: TThread, Synchronize
// and CheckSynchronize, TEvent and TCriticalSection.
//
// The main thread is the one that initialised the runtime (the program's
// main thread) unless SetMainThreadID names another. Calls a worker passes to
// Synchronize wait in a queue until the main thread runs CheckSynchronize
// (TApplication::ProcessMessages does); TThread::WaitFor and the destructor,
// when called on the main thread, keep running that queue while they wait.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "rtl/System.h"

namespace vcl {

using TThreadID = uint32_t;
using TThreadMethod = std::function<void()>;

// The kernel's id of the calling thread.
TThreadID GetCurrentThreadId();
TThreadID MainThreadID();
void SetMainThreadID(TThreadID Id);

class TThread;

// Runs Method in the main thread and waits until it ran; an exception it
// throws is raised again in the caller. On the main thread it runs at once.
void Synchronize(TThread* Thread, const TThreadMethod& Method);
// Runs the calls queued by Synchronize; waits up to TimeoutMs for the first
// one when none is queued. Answers whether any call ran. Raises EThread when
// not called on the main thread.
bool CheckSynchronize(uint32_t TimeoutMs = 0);

// TThread: derive, override Execute, and start it.
//
// C++ runs a derived constructor after the base one, so the thread cannot be
// started from TThread's constructor. A thread created with
// CreateSuspended = false starts when TThread::Create<T>(...) returns it, or
// at the first Start() or WaitFor(); one created suspended starts at Start().
//
// Deleting a thread that still runs terminates it and waits for it. A class
// whose Execute uses the derived class's own members does the same in its
// own destructor (Terminate(); WaitFor();), since those members are gone by
// the time TThread's destructor runs.
class TThread : public TObject {
 public:
  explicit TThread(bool CreateSuspended);
  ~TThread() override;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  std::string ClassName() const override { return "TThread"; }

  // Constructs a T and, unless it was created suspended, starts it.
  template <class T, class... Args>
  static T* Create(Args&&... args) {
    T* thread = new T(std::forward<Args>(args)...);
    thread->AfterConstruction();
    return thread;
  }
  void AfterConstruction();

  // Raises EThread when the thread was started already.
  void Start();
  // Asks Execute to stop; Execute polls Terminated().
  void Terminate() { FTerminated.store(true); }
  bool Terminated() const { return FTerminated.load(); }
  // Waits until the thread finished and answers ReturnValue. Raises EThread
  // for a thread that frees itself or waits for itself.
  uint32_t WaitFor();

  bool FreeOnTerminate() const { return FFreeOnTerminate.load(); }
  void SetFreeOnTerminate(bool Value) { FFreeOnTerminate.store(Value); }
  bool Suspended() const;
  bool Finished() const;
  // Zero until the thread runs.
  TThreadID ThreadID() const;
  int32_t ReturnValue() const { return FReturnValue.load(); }
  // The exception that escaped Execute (or OnTerminate), if any.
  std::exception_ptr FatalException() const;

  // Synchronize on behalf of this thread.
  void Synchronize(const TThreadMethod& Method) { vcl::Synchronize(this, Method); }
  static void Synchronize(TThread* Thread, const TThreadMethod& Method) {
    vcl::Synchronize(Thread, Method);
  }
  static void Yield() { std::this_thread::yield(); }

  // Runs in the main thread after Execute returned, before FreeOnTerminate
  // deletes the object. Set it before the thread starts.
  TNotifyEvent OnTerminate;

 protected:
  virtual void Execute() = 0;
  void SetReturnValue(int32_t Value) { FReturnValue.store(Value); }

 private:
  void Run(void (*Body)(TThread*));

  // Fields:
  //   FLock, FChanged  guard and signal FThreadID, FStarted, FFinished, FFatal
  //   FThread          the OS thread; detached when the object frees itself
  //   FStartPending    created running, waiting for construction to end
  //   FStarted         Start ran (the OS thread exists or existed)
  //   FFinished        Execute and OnTerminate are done
  //   FFatal           what escaped Execute
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::thread FThread;
  TThreadID FThreadID = 0;
  bool FStartPending = false;
  bool FStarted = false;
  bool FFinished = false;
  std::exception_ptr FFatal;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FFreeOnTerminate{false};
  std::atomic<int32_t> FReturnValue{0};
};

enum TWaitResult : uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

// An event object private to the process. A manual-reset event stays
// signalled until ResetEvent; an auto-reset one lets exactly one waiter
// through per SetEvent.
class TEvent : public TObject {
 public:
  static constexpr uint32_t Infinite = 0xFFFFFFFF;

  explicit TEvent(bool ManualReset = true, bool InitialState = false)
      : FManualReset(ManualReset), FSignaled(InitialState) {}
  std::string ClassName() const override { return "TEvent"; }

  void SetEvent();
  void ResetEvent();
  TWaitResult WaitFor(uint32_t Timeout = Infinite);

 private:
  // Fields: FLock guards FSignaled; FChanged wakes waiters on SetEvent.
  std::mutex FLock;
  std::condition_variable FChanged;
  const bool FManualReset;
  bool FSignaled;
};

// A recursive lock, entered again by its owner without blocking.
class TCriticalSection : public TObject {
 public:
  std::string ClassName() const override { return "TCriticalSection"; }
  void Enter() { FLock.lock(); }
  void Leave() { FLock.unlock(); }
  bool TryEnter() { return FLock.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }

 private:
  std::recursive_mutex FLock;
};

}  // namespace vcl
