#include "rtl/Threads.h"
#include "rtl/Windows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using vcl::TThread;

// A thread whose Execute is a function given by the test.
class TLambdaThread : public TThread {
 public:
  using TBody = std::function<void(TLambdaThread&)>;
  TLambdaThread(bool Suspended, TBody Body, std::atomic<bool>* Destroyed = nullptr)
      : TThread(Suspended), FBody(std::move(Body)), FDestroyed(Destroyed) {}
  ~TLambdaThread() override {
    // Execute uses FBody, so the thread stops before the member goes.
    Terminate();
    if (!FreeOnTerminate() && !Suspended()) WaitFor();
    if (FDestroyed != nullptr) FDestroyed->store(true);
  }
  using TThread::SetReturnValue;

 protected:
  void Execute() override { FBody(*this); }

 private:
  TBody FBody;
  std::atomic<bool>* FDestroyed;
};

// A thread with no members of its own, deleted while it runs.
std::atomic<int> GLoops{0};
class TSpinThread : public TThread {
 public:
  TSpinThread() : TThread(true) {}

 protected:
  void Execute() override {
    while (!Terminated()) {
      GLoops.fetch_add(1);
      vcl::Sleep(1);
    }
  }
};

// A thread with no members of its own that asks the main thread for a call;
// what the call sets lives outside the object, which is being destroyed.
std::atomic<bool> GSynced{false};
class TSyncOnceThread : public TThread {
 public:
  TSyncOnceThread() : TThread(true) {}

 protected:
  void Execute() override {
    Synchronize([] { GSynced = true; });
  }
};

// Pumps the main thread's queue until Done or about ten seconds passed.
template <class F>
bool PumpUntil(F Done) {
  for (int i = 0; i < 1000 && !Done(); ++i) vcl::CheckSynchronize(10);
  return Done();
}

TEST(ThreadTest, SynchronizeRunsOnMainThreadAndPassesExceptionsBack) {
  vcl::TThreadID ranOn = 0;
  bool ranBeforeReturn = false;
  std::string caught;
  int afterCall = 0;
  auto thread = std::make_unique<TLambdaThread>(true, [&](TLambdaThread& self) {
    bool ran = false;
    self.Synchronize([&] {
      ranOn = vcl::GetCurrentThreadId();
      ran = true;
    });
    ranBeforeReturn = ran;
    try {
      self.Synchronize([&] { throw vcl::EConvertError("'x' is not a valid integer value"); });
    } catch (const vcl::EConvertError& e) {
      caught = e.ClassName() + ": " + e.Message();
    }
    // A plain std exception crosses back the same way.
    try {
      TThread::Synchronize(&self, [] { throw std::out_of_range("range"); });
    } catch (const std::out_of_range& e) {
      afterCall = std::string(e.what()) == "range" ? 1 : -1;
    }
  });
  thread->Start();
  EXPECT_NE(thread->ThreadID(), 0u);
  EXPECT_NE(thread->ThreadID(), vcl::MainThreadID());
  ASSERT_TRUE(PumpUntil([&] { return thread->Finished(); }));
  thread->WaitFor();
  EXPECT_EQ(ranOn, vcl::MainThreadID());
  EXPECT_TRUE(ranBeforeReturn);
  EXPECT_EQ(caught, "EConvertError: 'x' is not a valid integer value");
  EXPECT_EQ(afterCall, 1);
  EXPECT_FALSE(thread->FatalException());
}

TEST(ThreadTest, SynchronizeOnMainThreadRunsAtOnce) {
  bool ran = false;
  vcl::Synchronize(nullptr, [&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(vcl::Synchronize(nullptr, [] { throw vcl::EAbort("stop"); }), vcl::EAbort);
  EXPECT_FALSE(vcl::CheckSynchronize(0));
}

TEST(ThreadTest, FreeOnTerminateRunsOnTerminateInMainThreadThenDeletes) {
  std::atomic<bool> destroyed{false};
  vcl::TThreadID terminateRanOn = 0;
  bool aliveInOnTerminate = false;
  vcl::TObject* sender = nullptr;
  auto* thread = new TLambdaThread(true, [](TLambdaThread&) {}, &destroyed);
  thread->SetFreeOnTerminate(true);
  thread->OnTerminate = [&](vcl::TObject* Sender) {
    terminateRanOn = vcl::GetCurrentThreadId();
    aliveInOnTerminate = !destroyed.load();
    sender = Sender;
  };
  vcl::TObject* expectedSender = thread;
  thread->Start();
  EXPECT_THROW(thread->WaitFor(), vcl::EThread);
  ASSERT_TRUE(PumpUntil([&] { return destroyed.load(); }));
  EXPECT_EQ(terminateRanOn, vcl::MainThreadID());
  EXPECT_TRUE(aliveInOnTerminate);
  EXPECT_EQ(sender, expectedSender);
}

TEST(ThreadTest, EscapingExceptionIsKeptAndWaitForAnswersReturnValue) {
  struct TCase {
    const char* Label;
    std::function<void(TLambdaThread&)> Body;
    uint32_t Result;
    std::string Fatal;  // empty: none
  } cases[] = {
      {"returns", [](TLambdaThread& t) { t.SetReturnValue(7); }, 7, ""},
      {"framework exception", [](TLambdaThread& t) { t.SetReturnValue(3); throw vcl::EListError("List index out of bounds (5)"); },
       3, "List index out of bounds (5)"},
      {"std exception", [](TLambdaThread&) { throw std::runtime_error("boom"); }, 0, "boom"},
      {"foreign type", [](TLambdaThread&) { throw 42; }, 0, "?"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    bool onTerminateRan = false;
    auto thread = std::make_unique<TLambdaThread>(true, c.Body);
    thread->OnTerminate = [&](vcl::TObject*) { onTerminateRan = true; };
    thread->Start();
    EXPECT_EQ(thread->WaitFor(), c.Result);
    EXPECT_TRUE(onTerminateRan);
    std::exception_ptr fatal = thread->FatalException();
    if (c.Fatal.empty()) {
      EXPECT_FALSE(fatal);
      continue;
    }
    ASSERT_TRUE(fatal);
    std::string text = "?";
    try {
      std::rethrow_exception(fatal);
    } catch (const std::exception& e) {
      text = e.what();
    } catch (...) {
    }
    EXPECT_EQ(text, c.Fatal);
  }
}

TEST(ThreadTest, StartingRules) {
  std::atomic<int> runs{0};
  auto body = [&](TLambdaThread&) { runs.fetch_add(1); };

  auto suspended = std::make_unique<TLambdaThread>(true, body);
  vcl::Sleep(20);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_TRUE(suspended->Suspended());
  EXPECT_EQ(suspended->ThreadID(), 0u);
  EXPECT_THROW(suspended->WaitFor(), vcl::EThread);
  suspended->Start();
  EXPECT_THROW(suspended->Start(), vcl::EThread);
  suspended->WaitFor();
  EXPECT_EQ(runs.load(), 1);

  std::unique_ptr<TLambdaThread> running(TThread::Create<TLambdaThread>(false, body));
  EXPECT_FALSE(running->Suspended());
  running->WaitFor();
  EXPECT_EQ(runs.load(), 2);

  // Created running but built with new: WaitFor starts it rather than hang.
  auto pending = std::make_unique<TLambdaThread>(false, body);
  pending->WaitFor();
  EXPECT_EQ(runs.load(), 3);

  // Never started: deleting it runs nothing.
  auto never = std::make_unique<TLambdaThread>(true, body);
  never.reset();
  EXPECT_EQ(runs.load(), 3);
}

TEST(ThreadTest, DeletingRunningThreadTerminatesAndWaits) {
  GLoops = 0;
  std::atomic<int>& loops = GLoops;
  auto spinning = std::make_unique<TSpinThread>();
  spinning->Start();
  while (loops.load() == 0) TThread::Yield();
  spinning.reset();
  int after = loops.load();
  vcl::Sleep(10);
  EXPECT_EQ(loops.load(), after);

  // A worker blocked in Synchronize while the main thread deletes it: the
  // destructor keeps serving the main thread's queue.
  GSynced = false;
  auto blocked = std::make_unique<TSyncOnceThread>();
  blocked->Start();
  vcl::Sleep(10);
  blocked.reset();
  EXPECT_TRUE(GSynced.load());
}

TEST(ThreadTest, CheckSynchronizeRefusesOtherThreads) {
  std::string message;
  std::thread([&] {
    try {
      vcl::CheckSynchronize(0);
    } catch (const vcl::EThread& e) {
      message = e.Message();
    }
  }).join();
  EXPECT_NE(message.find("NOT the main thread"), std::string::npos) << message;
}

TEST(EventTest, ManualAndAutoReset) {
  struct TCase {
    bool Manual, Initial;
    vcl::TWaitResult First, Second;
  } cases[] = {
      {true, true, vcl::wrSignaled, vcl::wrSignaled},
      {true, false, vcl::wrTimeout, vcl::wrTimeout},
      {false, true, vcl::wrSignaled, vcl::wrTimeout},
      {false, false, vcl::wrTimeout, vcl::wrTimeout},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.Manual ? "manual" : "auto") + (c.Initial ? " set" : " clear"));
    vcl::TEvent e(c.Manual, c.Initial);
    EXPECT_EQ(e.WaitFor(0), c.First);
    EXPECT_EQ(e.WaitFor(5), c.Second);
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), vcl::wrSignaled);
    EXPECT_EQ(e.WaitFor(0), c.Manual ? vcl::wrSignaled : vcl::wrTimeout);
    e.ResetEvent();
    EXPECT_EQ(e.WaitFor(0), vcl::wrTimeout);
  }
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  vcl::TEvent e(false, false);
  std::atomic<int> through{0};
  std::thread a([&] { if (e.WaitFor(10000) == vcl::wrSignaled) through.fetch_add(1); });
  std::thread b([&] { if (e.WaitFor(10000) == vcl::wrSignaled) through.fetch_add(1); });
  e.SetEvent();
  while (through.load() < 1) TThread::Yield();
  vcl::Sleep(30);
  EXPECT_EQ(through.load(), 1);
  e.SetEvent();
  a.join();
  b.join();
  EXPECT_EQ(through.load(), 2);
}

TEST(CriticalSectionTest, RecursiveForOwnerExclusiveForOthers) {
  vcl::TCriticalSection cs;
  cs.Enter();
  cs.Acquire();  // same thread enters again
  bool otherGot = true;
  std::thread([&] { otherGot = cs.TryEnter(); }).join();
  EXPECT_FALSE(otherGot);
  cs.Release();
  cs.Leave();
  std::thread([&] {
    otherGot = cs.TryEnter();
    if (otherGot) cs.Leave();
  }).join();
  EXPECT_TRUE(otherGot);

  int counter = 0;
  auto add = [&] {
    for (int i = 0; i < 10000; ++i) {
      cs.Enter();
      ++counter;
      cs.Leave();
    }
  };
  std::thread t1(add), t2(add);
  t1.join();
  t2.join();
  EXPECT_EQ(counter, 20000);
}

}  // namespace
