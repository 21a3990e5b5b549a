// Server callbacks, cancel from a second thread, server and debug messages.
#include "DbLibFixture.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace dblibtest {
namespace {

// What the callbacks saw; one recorder per test, reached through a global
// because the library's callbacks carry no user value.
struct Recorder {
  std::mutex mu;
  std::vector<std::string> events;
  std::atomic<int> waits{0};
  Library* lib = nullptr;
  bool cancelOnWait = false;
  void Add(std::string e) {
    std::lock_guard lock(mu);
    events.push_back(std::move(e));
  }
};
Recorder* gRecorder = nullptr;

void OnStart(SQLCA*) { gRecorder->Add("start"); }
void OnFinish(SQLCA*) { gRecorder->Add("finish"); }
void OnWait(SQLCA* ca) {
  ++gRecorder->waits;
  if (gRecorder->cancelOnWait) gRecorder->lib->db_cancel_request(ca);
}
void OnMessage(SQLCA*, uint8_t type, int32_t code, uint16_t length, const char* msg) {
  gRecorder->Add("message " + std::to_string(type) + " " + std::to_string(code) + " " +
                 std::string(msg, length));
}
void OnDebug(SQLCA*, const char* text) { gRecorder->Add(std::string("debug ") + text); }

template <class F>
db_any_callback_fn Fn(F f) {
  return reinterpret_cast<db_any_callback_fn>(f);
}

// A query that runs until it is cancelled (several seconds otherwise).
const char* kLongQuery =
    "with recursive c(x) as (select 1 union all select x + 1 from c where x < 300000000) "
    "select count(*) from c";

class CallbackTest : public DbLibTest {
 protected:
  void SetUp() override {
    DbLibTest::SetUp();
    rec.lib = &lib;
    gRecorder = &rec;
  }
  void TearDown() override {
    DbLibTest::TearDown();
    gRecorder = nullptr;
  }
  Library lib;
  Recorder rec;
};

TEST_F(CallbackTest, StartAndFinishBracketEveryRequest) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_START, Fn(OnStart)));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_FINISH, Fn(OnFinish)));
  EXPECT_EQ(0, a.Exec("create table t(a integer)"));
  EXPECT_EQ(-141, a.Exec("insert into nosuch values(1)"));
  EXPECT_EQ((std::vector<std::string>{"start", "finish", "start", "finish"}), rec.events);
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_START, nullptr));
  rec.events.clear();
  EXPECT_EQ(0, lib.dbpp_commit(&a, 0));
  EXPECT_EQ((std::vector<std::string>{"finish"}), rec.events);
}

TEST_F(CallbackTest, UnknownCallbackIndexIsRefused) {
  Client a(lib);
  for (int index : {-1, 3, 4, 5, 6, 10, 1000})
    EXPECT_EQ(SQLE_CALLBACK_INVALID, lib.db_register_a_callback(&a, index, Fn(OnStart))) << index;
}

TEST_F(CallbackTest, CancelFromSecondThreadEndsLongQuery) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_WAIT, Fn(OnWait)));
  EXPECT_EQ(0, lib.db_is_working(&a));
  std::atomic<int32_t> result{1};
  std::thread worker([&] { result = a.Exec(kLongQuery); });
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!lib.db_is_working(&a) && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(250));  // long enough for a wait callback
  EXPECT_EQ(1, lib.db_is_working(&a));
  EXPECT_EQ(0, lib.db_cancel_request(&a));
  worker.join();
  EXPECT_EQ(SQLE_INTERRUPTED, result.load());
  EXPECT_EQ(SQLE_INTERRUPTED, a.ca.sqlcode);
  EXPECT_STREQ("57014", a.ca.sqlstate);
  EXPECT_GE(rec.waits.load(), 1);
  EXPECT_EQ(0, lib.db_is_working(&a));
  // The connection goes on working.
  EXPECT_EQ(0, a.Exec("select 1"));
}

TEST_F(CallbackTest, WaitCallbackMayCancelItsRequest) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_WAIT, Fn(OnWait)));
  rec.cancelOnWait = true;
  EXPECT_EQ(SQLE_INTERRUPTED, a.Exec(kLongQuery));
  EXPECT_EQ(1, rec.waits.load());
}

TEST_F(CallbackTest, ServerMessagesArriveDuringTheirRequest) {
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_START, Fn(OnStart)));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_FINISH, Fn(OnFinish)));
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_MESSAGE, Fn(OnMessage)));
  struct Case {
    const char* sql;
    const char* event;
  } cases[] = {
      {"message 'hello' type info to client", "message 0 0 hello"},
      {"MESSAGE 'careful' TYPE WARNING TO CLIENT", "message 1 0 careful"},
      {"message 'do it' type action to client", "message 2 0 do it"},
      {"message 'it''s 50%' type status to client;", "message 3 0 it's 50%"},
      {"message 'plain' to client", "message 0 0 plain"},
      {"select vdb_message(1, 42, 'from sql')", "message 1 42 from sql"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    rec.events.clear();
    EXPECT_EQ(0, a.Exec(c.sql));
    EXPECT_EQ((std::vector<std::string>{"start", c.event, "finish"}), rec.events);
  }
  EXPECT_EQ(-131, a.Exec("message 'x' type loud to client"));
}

TEST_F(CallbackTest, DebugCallbackTracesWhenAsked) {
  Client a(lib);
  ASSERT_EQ(0, lib.db_register_a_callback(&a, DB_CALLBACK_DEBUG_MESSAGE, Fn(OnDebug)));
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  EXPECT_TRUE(rec.events.empty());  // no trace unless the connection string asks
  ASSERT_EQ(0, lib.db_string_disconnect(&a, nullptr));

  ASSERT_EQ(SQLE_INVALID_LOGON, a.Connect("uid=DBA;pwd=Secret1;debug=yes;dbf=" + db));
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbg=on;con=traced;dbf=" + db));
  ASSERT_EQ(0, lib.dbpp_commit(&a, 0));
  ASSERT_EQ(0, lib.db_string_disconnect(&a, nullptr));
  std::string all;
  for (const auto& e : rec.events) {
    EXPECT_EQ(0u, e.rfind("debug ", 0));
    all += e + "\n";
  }
  EXPECT_NE(std::string::npos, all.find("Connect failed")) << all;
  EXPECT_NE(std::string::npos, all.find("traced")) << all;
  EXPECT_NE(std::string::npos, all.find("Commit")) << all;
  EXPECT_NE(std::string::npos, all.find("Disconnected")) << all;
  EXPECT_EQ(std::string::npos, all.find("Secret1")) << "passwords never reach the trace";
  EXPECT_EQ(std::string::npos, all.find("pwd=SQL")) << all;
}

}  // namespace
}  // namespace dblibtest
