// A second process for the alert tests: loads the client library, starts its
// own engine on the database file and sends or receives one alert message.
//
//   dblib_alert_peer send <connect> <name> <message> <param>
//       prints the return code of vp_alert_send
//   dblib_alert_peer receive <connect> <names> <timeout ms>
//       subscribes, prints "subscribed <handle>", waits for one message and
//       prints "<code> <name>|<message>|<param>"
#include "rtl/Windows.h"
#include "vdb_esql.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Api {
  db_init_fn init;
  db_fini_fn fini;
  db_string_connect_fn connect;
  db_string_disconnect_fn disconnect;
  dbpp_prepare_fn prepare;
  dbpp_describe_fn describe;
  dbpp_execute_into_fn execute_into;
  dbpp_dropstmt_fn dropstmt;
  dbpp_commit_fn commit;
  alloc_sqlda_fn alloc_sqlda;
  fill_sqlda_fn fill_sqlda;
  free_filled_sqlda_fn free_filled_sqlda;
  free_sqlda_fn free_sqlda;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    q += c;
    if (c == '\'') q += '\'';
  }
  return q + "'";
}

// Runs a call whose arguments are literals or output markers and answers
// its outputs as text; exits on a failure.
std::vector<std::string> Call(const Api& api, SQLCA* ca, const std::string& text) {
  int16_t n = 0;
  if (api.prepare(ca, nullptr, "VDB", &n, text.c_str(), nullptr, 1) != 0) {
    std::printf("prepare failed %d\n", ca->sqlcode);
    std::exit(2);
  }
  SQLDA* probe = api.alloc_sqlda(0);
  api.describe(ca, nullptr, "VDB", &n, probe, DESCRIBE_SELECT_LIST);
  int count = probe->sqld;
  api.free_sqlda(probe);
  SQLDA* out = api.alloc_sqlda(static_cast<uint32_t>(count));
  api.describe(ca, nullptr, "VDB", &n, out, DESCRIBE_SELECT_LIST);
  for (int i = 0; i < count; ++i) {
    out->sqlvar[i].sqltype = DT_STRING | DT_NULLABLE;
    out->sqlvar[i].sqllen = 32767;
  }
  api.fill_sqlda(out);
  if (api.execute_into(ca, nullptr, "VDB", &n, nullptr, out) != 0) {
    std::printf("call failed %d\n", ca->sqlcode);
    std::exit(3);
  }
  std::vector<std::string> values;
  for (int i = 0; i < count; ++i) values.emplace_back(static_cast<const char*>(out->sqlvar[i].sqldata));
  api.free_filled_sqlda(out);
  api.dropstmt(ca, nullptr, "VDB", &n);
  api.commit(ca, 0);
  return values;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 1;
  std::string verb = argv[1];
  vcl::HMODULE lib = vcl::LoadLibrary("dblib7.dll");
  if (!lib) return 1;
  Api api{};
#define BIND(field, name) api.field = reinterpret_cast<name##_fn>(vcl::GetProcAddress(lib, #name))
  BIND(init, db_init);
  BIND(fini, db_fini);
  BIND(connect, db_string_connect);
  BIND(disconnect, db_string_disconnect);
  BIND(prepare, dbpp_prepare);
  BIND(describe, dbpp_describe);
  BIND(execute_into, dbpp_execute_into);
  BIND(dropstmt, dbpp_dropstmt);
  BIND(commit, dbpp_commit);
  BIND(alloc_sqlda, alloc_sqlda);
  BIND(fill_sqlda, fill_sqlda);
  BIND(free_filled_sqlda, free_filled_sqlda);
  BIND(free_sqlda, free_sqlda);
#undef BIND
  SQLCA ca{};
  if (!api.init(&ca)) return 1;
  std::memcpy(ca.sqlcaid, "SQLCA", 6);
  ca.sqlcabc = sizeof ca;
  if (api.connect(&ca, argv[2]) != 0) {
    std::printf("connect failed %d\n", ca.sqlcode);
    return 4;
  }
  if (verb == "send" && argc == 6) {
    auto r = Call(api, &ca, std::string("?=call vp_alert_send(") + Quote(argv[3]) + "," + Quote(argv[4]) + "," +
                                std::to_string(std::atoi(argv[5])) + ")");
    std::printf("%s\n", r[0].c_str());
  } else if (verb == "receive" && argc == 5) {
    auto h = Call(api, &ca, std::string("?=call vp_alert_subscribe(") + Quote(argv[3]) + ")");
    std::printf("subscribed %s\n", h[0].c_str());
    std::fflush(stdout);
    auto r = Call(api, &ca, "?=call vp_alert_receive(" + h[0] + "," + std::to_string(std::atoi(argv[4])) +
                                ",?,?,?)");
    std::printf("%s %s|%s|%s\n", r[0].c_str(), r[1].c_str(), r[2].c_str(), r[3].c_str());
    Call(api, &ca, "?=call vp_alert_unsubscribe(" + h[0] + ")");
  } else {
    return 1;
  }
  std::fflush(stdout);
  api.disconnect(&ca, nullptr);
  api.fini(&ca);
  return 0;
}
