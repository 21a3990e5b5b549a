// The demo of `make demo`, end to end: the shop database is made from
// examples/demo.sql and the tour runs every step without an error.
#include <cstdio>
#include <filesystem>

#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST_F(VdbsqlTest, DemoTourRunsEveryStep) {
  const std::string Build = std::filesystem::path(BinDir()).parent_path().string();
  const std::string Demo = Dir + "demo";
  const std::string Cmd = "VDB_DEMO_DIR='" + Demo + "' bash '" VDBSQL_SOURCE_DIR "/scripts/demo-tour.sh' '" + Build +
                          "' 2>&1";
  std::string Out;
  int Status = -1;
  if (FILE* P = ::popen(Cmd.c_str(), "r")) {
    char Buf[4096];
    size_t N;
    while ((N = std::fread(Buf, 1, sizeof Buf, P)) > 0) Out.append(Buf, N);
    Status = ::pclose(P);
  }
  ASSERT_EQ(Status, 0) << Out;
  EXPECT_THAT(Out, Not(HasSubstr("Error"))) << Out;
  // The catalog, the join, the procedure's two result sets, its output
  // parameter and message, the positioned update and the backup.
  EXPECT_THAT(Out, HasSubstr("DBA       | customers"));
  EXPECT_THAT(Out, HasSubstr("1001 | Ada Lovelace"));
  EXPECT_THAT(Out, HasSubstr("customer 1 has 2 orders"));
  EXPECT_THAT(Out, HasSubstr("order_id | placed"));
  EXPECT_THAT(Out, HasSubstr("| bought\n"));
  EXPECT_THAT(Out, HasSubstr("orders_of_ada\n-------------\n            2\n"));
  EXPECT_THAT(Out, HasSubstr("1 row modified through the cursor"));
  EXPECT_THAT(Out, HasSubstr("3 | Hand grinder | 49.50 |     7"));
  EXPECT_THAT(Out, HasSubstr("backup to " + Demo + "/backup done"));
  EXPECT_TRUE(std::filesystem::exists(Demo + "/demo.db"));
  EXPECT_TRUE(std::filesystem::exists(Demo + "/backup/demo.db"));
}

}  // namespace
}  // namespace vdbsqltest
