// The alert procedures called through TAsaSQL the way the alert component
// calls them: the owner looked up in the catalog first, then "?=call" texts
// with every argument a host variable, the inputs bound in order, and the
// return value and the outputs read by name.
#include "AsaSqlFixture.h"

#include "rtl/SysUtils.h"

namespace asatest {
namespace {

using vcl::Variant;

constexpr const char* kCreatorQuery =
    "select user_name from sys.sysprocedure, sys.sysuserperms where creator=user_id and proc_name='%s'";

class AsaAlertCallsTest : public AsaSqlTest {
 protected:
  // The owner prefix of a procedure, empty when the catalog has no row.
  std::string Prefix(const std::string& ProcName) {
    auto& Q = NewSQL();
    if (!Q.OpenRead(vcl::Format(kCreatorQuery, {ProcName}), {vdb::VdbEmptyParam})) return "";
    std::string Owner = Q.GetFieldValue(0).AsString() + ".";
    Q.Close();
    return Owner;
  }
  // Runs one of the component's call texts with the owner prefix and answers
  // the return value, read under the procedure's name.
  Variant Call(vdb::TAsaSQL& Q, const std::string& Prefix, const std::string& Proc, const char* Args,
               const vdb::TVantorValues& Values) {
    const std::string Text = "?=call " + Prefix + Proc + "(" + Args + ")";
    EXPECT_TRUE(Q.Execute(Text, Values)) << Text;
    return Q.GetOutVar(Variant(Proc));
  }
};

TEST_F(AsaAlertCallsTest, TheProceduresAnswerTheComponentsCallsWithAndWithoutOwner) {
  for (const char* Proc : {"vp_alert_subscribe", "vp_alert_receive", "vp_alert_unsubscribe", "vp_alert_send",
                           "vp_alert_clear", "vp_alert_stop"})
    EXPECT_EQ("DBA.", Prefix(Proc)) << Proc;
  EXPECT_EQ("", Prefix("vp_alert_nothing"));

  for (const std::string Owner : {"DBA.", ""}) {
    SCOPED_TRACE("prefix '" + Owner + "'");
    auto& Q = NewSQL();
    const int32_t Handle = Call(Q, Owner, "vp_alert_subscribe", "?", {Variant("news;weather")}).AsInteger();
    ASSERT_GE(Handle, 0);

    // A message with a quote and a semicolon arrives whole, its parameter as an integer.
    EXPECT_EQ(0, Call(Q, Owner, "vp_alert_send", "?,?,?", {Variant("news"), Variant("it's; out"), Variant(7)})
                     .AsInteger());
    EXPECT_EQ(0, Call(Q, Owner, "vp_alert_receive", "?,?,?,?,?", {Variant(Handle), Variant(1000)}).AsInteger());
    EXPECT_EQ("news", Q.GetOutVar(Variant("msg_name")).AsString());
    EXPECT_EQ("it's; out", Q.GetOutVar(Variant("msg")).AsString());
    EXPECT_EQ(7, Q.GetOutVar(Variant("msg_param")).AsInteger());
    EXPECT_EQ(-5, Call(Q, Owner, "vp_alert_receive", "?,?,?,?,?", {Variant(Handle), Variant(10)}).AsInteger());

    EXPECT_EQ(-4, Call(Q, Owner, "vp_alert_clear", "?", {Variant("weather")}).AsInteger());
    EXPECT_EQ(0, Call(Q, Owner, "vp_alert_send", "?,?,?", {Variant("weather"), Variant("rain"), Variant(0)})
                     .AsInteger());
    EXPECT_EQ(0, Call(Q, Owner, "vp_alert_clear", "?", {Variant("weather")}).AsInteger());
    EXPECT_EQ(-6, Call(Q, Owner, "vp_alert_send", "?,?,?", {Variant("sports"), Variant(""), Variant(0)})
                      .AsInteger());

    // A stop given while nobody waits releases the next receive of the handle.
    Call(Q, Owner, "vp_alert_stop", "?", {Variant(Handle)});
    EXPECT_EQ(-2, Call(Q, Owner, "vp_alert_receive", "?,?,?,?,?", {Variant(Handle), Variant(0)}).AsInteger());

    Call(Q, Owner, "vp_alert_unsubscribe", "?", {Variant(Handle)});
    EXPECT_EQ(-1, Call(Q, Owner, "vp_alert_receive", "?,?,?,?,?", {Variant(Handle), Variant(10)}).AsInteger());
  }
}

}  // namespace
}  // namespace asatest
