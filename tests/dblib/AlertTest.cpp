// The server's alert procedures at the C ABI: subscriptions by names and by
// user, delivery between connections of one process and between processes,
// timeouts, stop, cancel and the codes of bad calls.
#include "StatementFixture.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <thread>
#include <unistd.h>

namespace dblibtest {

namespace {

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    q += c;
    if (c == '\'') q += '\'';
  }
  return q + "'";
}

std::string ExecutableDir() {
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  return p.substr(0, p.rfind('/'));
}

class AlertTest : public StatementTest {
 protected:
  // Runs "?=call ..." (literal arguments, `?` for outputs) and answers the
  // outputs as text, the return value first; the code in code.
  std::vector<std::string> Call(Client& c, const std::string& text, int32_t* code = nullptr) {
    std::vector<std::string> values;
    int16_t n = 0;
    int32_t rc = esql.prepare(&c, nullptr, "VDB", &n, text.c_str(), nullptr, 1);
    if (rc == 0) {
      Da probe(lib, 0);
      esql.describe(&c, nullptr, "VDB", &n, probe.get(), DESCRIBE_SELECT_LIST);
      Da out(lib, probe.get()->sqld);
      esql.describe(&c, nullptr, "VDB", &n, out.get(), DESCRIBE_SELECT_LIST);
      for (int i = 0; i < out.get()->sqld; ++i) out.Entry(i, DT_STRING | DT_NULLABLE, 20000);
      out.Fill();
      rc = esql.execute_into(&c, nullptr, "VDB", &n, nullptr, out.get());
      if (rc == 0)
        for (int i = 0; i < out.get()->sqld; ++i) values.push_back(out.Ind(i) < 0 ? "NULL" : out.Text(i));
      esql.dropstmt(&c, nullptr, "VDB", &n);
    }
    if (code)
      *code = rc;
    else
      EXPECT_EQ(0, rc) << text << ": " << c.Message();
    return values;
  }
  int32_t Code(Client& c, const std::string& text) {
    auto v = Call(c, text);
    return v.empty() ? INT32_MIN : std::stoi(v[0]);
  }
  int32_t Subscribe(Client& c, const std::string& names) {
    return Code(c, "?=call vp_alert_subscribe(" + Quote(names) + ")");
  }
  int32_t Send(Client& c, const std::string& name, const std::string& msg, int param) {
    return Code(c, "?=call vp_alert_send(" + Quote(name) + "," + Quote(msg) + "," + std::to_string(param) + ")");
  }
  // "code name|msg|param"
  std::string Receive(Client& c, int32_t handle, int timeout, int32_t* callCode = nullptr) {
    auto v = Call(c, "?=call vp_alert_receive(" + std::to_string(handle) + "," + std::to_string(timeout) + ",?,?,?)",
                  callCode);
    if (v.size() != 4) return "call failed";
    return v[0] + " " + v[1] + "|" + v[2] + "|" + v[3];
  }
  // Waits until c is inside a request.
  void AwaitWorking(Client& c) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!lib.db_is_working(&c) && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(1, lib.db_is_working(&c));
  }
};

TEST_F(AlertTest, DeliversBetweenTwoConnectionsOfOneProcess) {
  auto other = Connect();
  int32_t h = Subscribe(*client, "news; weather");
  ASSERT_GT(h, 0);
  EXPECT_EQ(0, Send(*other, "NEWS", "it's out", 7));  // names compare without case
  EXPECT_EQ(0, Send(*other, "weather", "rain", -1));
  EXPECT_EQ("0 NEWS|it's out|7", Receive(*client, h, 1000));
  EXPECT_EQ("0 weather|rain|-1", Receive(*client, h, 0));
  EXPECT_EQ("-5 NULL|NULL|NULL", Receive(*client, h, 30));
  EXPECT_EQ(-6, Send(*other, "sports", "", 0));
  EXPECT_EQ(0, Code(*client, "?=call vp_alert_unsubscribe(" + std::to_string(h) + ")"));
  EXPECT_EQ(-6, Send(*other, "news", "", 0));
}

TEST_F(AlertTest, AWaitingReceiveWakesForAMessageFromAnotherConnection) {
  auto sender = Connect();
  int32_t h = Subscribe(*client, "go");
  auto received = std::async(std::launch::async, [&] { return Receive(*client, h, 0); });
  AwaitWorking(*client);
  EXPECT_EQ(0, Send(*sender, "go", "now", 1));
  EXPECT_EQ("0 go|now|1", received.get());
}

TEST_F(AlertTest, SubscriptionsByUserAndByUserAndNames) {
  auto other = Connect();
  int32_t byUser = Subscribe(*client, "DBA");
  int32_t both = Subscribe(*other, "DBA;a;b");
  EXPECT_EQ(0, Send(*other, "dba", "for the user", 1));
  EXPECT_EQ(0, Send(*client, "b", "for b", 2));
  EXPECT_EQ("0 dba|for the user|1", Receive(*client, byUser, 100));
  EXPECT_EQ("-5 NULL|NULL|NULL", Receive(*client, byUser, 10));
  EXPECT_EQ("0 dba|for the user|1", Receive(*other, both, 100));
  EXPECT_EQ("0 b|for b|2", Receive(*other, both, 100));
}

TEST_F(AlertTest, StopReleasesAWaitingReceiveOfItsHandle) {
  auto app = Connect();
  int32_t h = Subscribe(*client, "x");
  auto received = std::async(std::launch::async, [&] { return Receive(*client, h, 0); });
  AwaitWorking(*client);
  EXPECT_EQ(0, Code(*app, "?=call vp_alert_stop(" + std::to_string(h) + ")"));
  EXPECT_EQ("-2 NULL|NULL|NULL", received.get());
  // The stop is used up; the handle goes on receiving.
  EXPECT_EQ(0, Send(*app, "x", "after", 0));
  EXPECT_EQ("0 x|after|0", Receive(*client, h, 1000));
}

TEST_F(AlertTest, CancelEndsAWaitingReceiveWithTheInterruptCode) {
  int32_t h = Subscribe(*client, "x");
  // Prepared and described here, so that the only request of the other
  // thread is the waiting receive: a cancel between two requests cancels
  // nothing.
  int16_t n = Prepare("?=call vp_alert_receive(" + std::to_string(h) + ",0,?,?,?)");
  Da out(lib, 4);
  ASSERT_EQ(0, esql.describe(&*client, nullptr, "VDB", &n, out.get(), DESCRIBE_SELECT_LIST));
  for (int i = 0; i < 4; ++i) out.Entry(i, DT_STRING | DT_NULLABLE, 100);
  out.Fill();
  auto received = std::async(std::launch::async,
                             [&] { return esql.execute_into(&*client, nullptr, "VDB", &n, nullptr, out.get()); });
  AwaitWorking(*client);
  EXPECT_EQ(0, lib.db_cancel_request(&*client));
  EXPECT_EQ(SQLE_INTERRUPTED, received.get());
  EXPECT_EQ(0, client->Exec("select 1"));  // the connection goes on working
}

TEST_F(AlertTest, BadHandlesNamesAndClear) {
  auto other = Connect();
  EXPECT_EQ("-1 NULL|NULL|NULL", Receive(*client, 4711, 10));
  EXPECT_EQ(-1, Code(*client, "?=call vp_alert_unsubscribe(4711)"));
  EXPECT_EQ(-1, Code(*client, "?=call vp_alert_stop(4711)"));
  EXPECT_EQ(-3, Subscribe(*client, " ; "));

  // A 10 kB message name, with quotes and semicolons in the message.
  std::string longName(10 * 1024, 'n');
  int32_t h = Subscribe(*client, longName);
  ASSERT_GT(h, 0);
  EXPECT_EQ(0, Send(*other, longName, "a;b 'c'", 3));
  EXPECT_EQ("0 " + longName + "|a;b 'c'|3", Receive(*client, h, 1000));

  int32_t k = Subscribe(*client, "c");
  EXPECT_EQ(0, Send(*other, "c", "1", 0));
  EXPECT_EQ(0, Send(*other, "c", "2", 0));
  EXPECT_EQ(0, Code(*other, "?=call vp_alert_clear('c')"));
  EXPECT_EQ(-4, Code(*other, "?=call vp_alert_clear('c')"));
  EXPECT_EQ("-5 NULL|NULL|NULL", Receive(*client, k, 10));
}

// Uncommitted changes of one connection hold up no alert call of any
// connection, and a message stays sent when its sender rolls back.
TEST_F(AlertTest, AnOpenTransactionHoldsUpNoAlertCall) {
  auto other = Connect();
  Exec("create table w(a integer)");
  Exec("commit");
  Exec("insert into w values (1)");
  int32_t h = Subscribe(*other, "tx");
  ASSERT_GT(h, 0);
  EXPECT_EQ(0, Send(*client, "tx", "during", 1));
  EXPECT_EQ("0 tx|during|1", Receive(*other, h, 1000));
  int32_t mine = Subscribe(*client, "back");
  ASSERT_GT(mine, 0);
  EXPECT_EQ(0, Send(*other, "back", "to you", 2));
  EXPECT_EQ("0 back|to you|2", Receive(*client, mine, 1000));
  EXPECT_EQ(0, Send(*client, "tx", "kept", 3));
  Exec("rollback");
  EXPECT_EQ(0, CountRows(db, "w"));
  EXPECT_EQ("0 tx|kept|3", Receive(*other, h, 1000));
}

TEST_F(AlertTest, SubscriptionsEndWithTheirConnection) {
  auto gone = Connect();
  Subscribe(*gone, "bye");
  gone.reset();
  EXPECT_EQ(-6, Send(*client, "bye", "", 0));
}

TEST_F(AlertTest, TheProceduresBelongToDba) {
  int16_t n = Prepare(
      "select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name='vp_alert_receive'");
  Da out(lib, 1);
  out.Entry(0, DT_STRING | DT_NULLABLE, 129).Fill();
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &n, nullptr, out.get())) << client->Message();
  EXPECT_EQ("DBA", out.Text(0));
}

TEST_F(AlertTest, DeliversBetweenTwoProcesses) {
  std::string peer = ExecutableDir() + "/dblib_alert_peer";
  // The child serves the file with an engine of its own.
  std::string childConnect = "uid=DBA;pwd=SQL;eng=" + eng + "child;dbf=" + db;

  // Child to parent.
  int32_t h = Subscribe(*client, "from_child");
  ASSERT_GT(h, 0);
  {
    FILE* p = popen((peer + " send '" + childConnect + "' from_child hello 42").c_str(), "r");
    ASSERT_NE(nullptr, p);
    char line[256] = "";
    ASSERT_NE(nullptr, fgets(line, sizeof line, p));
    EXPECT_STREQ("0\n", line);
    EXPECT_EQ(0, pclose(p));
  }
  EXPECT_EQ("0 from_child|hello|42", Receive(*client, h, 20000));

  // Parent to a child that waits.
  FILE* p = popen((peer + " receive '" + childConnect + "' to_child 20000").c_str(), "r");
  ASSERT_NE(nullptr, p);
  char line[256] = "";
  ASSERT_NE(nullptr, fgets(line, sizeof line, p));
  EXPECT_EQ(0, std::string(line).rfind("subscribed ", 0)) << line;
  EXPECT_EQ(0, Send(*client, "to_child", "hi there", 5));
  ASSERT_NE(nullptr, fgets(line, sizeof line, p));
  EXPECT_STREQ("0 to_child|hi there|5\n", line);
  EXPECT_EQ(0, pclose(p));
}

}  // namespace
}  // namespace dblibtest
