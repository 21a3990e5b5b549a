// What each library variant exports and how it checks versions and the
// program block.
#include "DbLibFixture.h"

namespace dblibtest {
namespace {

struct VariantCase {
  const char* file;
  int version;          // 3 for 3.2
  bool hasVersionCheck;
  bool hasPing, hasTimeChange, hasLocate, hasProperty;
};

const VariantCase kCases[] = {
    {"dbl30t.dll", 3, false, false, false, false, false},
    {"dbl40t.dll", 4, false, false, false, false, false},
    {"dbl50t.dll", 5, true, true, false, false, false},
    {"dblib6.dll", 6, true, true, true, true, false},
    {"dblib7.dll", 7, true, true, true, true, true},
    {"dblib8.dll", 8, true, true, true, true, true},
    {"dblib9.dll", 9, true, true, true, true, true},
};

class VersionTest : public DbLibTest, public ::testing::WithParamInterface<VariantCase> {};

TEST_P(VersionTest, ExportsAndVersionCheck) {
  const VariantCase& c = GetParam();
  Library lib(c.file);
  EXPECT_EQ(c.hasPing, lib.Proc("db_string_ping_server") != nullptr);
  EXPECT_EQ(c.hasTimeChange, lib.Proc("db_time_change") != nullptr);
  EXPECT_EQ(c.hasLocate, lib.Proc("db_locate_servers") != nullptr);
  EXPECT_EQ(c.hasProperty, lib.Proc("db_get_property") != nullptr);
  auto check = lib.Bind<db_version_check_fn>("db_version_check");
  ASSERT_EQ(c.hasVersionCheck, check != nullptr);
  if (check) {
    // The session asks for 9, 8, 7, 6 in turn and takes the first accepted.
    for (uint32_t v : {9u, 8u, 7u, 6u, 5u})
      EXPECT_EQ(static_cast<int>(v) <= c.version, check(v) != 0) << "version " << v;
    EXPECT_EQ(0, check(10));
  }
  for (const char* name : {"db_init", "db_fini", "db_string_connect", "db_backup", "dbpp_prepare",
                           "dbpp_fetch_array", "dbpp_commit", "fill_sqlda", "sqlerror_message"})
    EXPECT_NE(nullptr, lib.Proc(name)) << name;
}

TEST_P(VersionTest, ProgramBlockBelowVersionSeven) {
  const VariantCase& c = GetParam();
  Library lib(c.file);
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  if (c.version >= 7) {
    auto commit = lib.Bind<dbpp_commit_fn>("dbpp_commit");
    EXPECT_EQ(0, commit(&a, 0));
    return;
  }
  auto commit = lib.Bind<dbpp_commit_pb_fn>("dbpp_commit");
  auto exec = lib.Bind<dbpp_execute_imm_pb_fn>("dbpp_execute_imm");
  const int16_t good = c.version == 6 ? 6 : 4, bad = c.version == 6 ? 4 : 6;
  a_program_block pb{};
  pb.pb_version = pb.pb_version_copy = &good;
  EXPECT_EQ(0, exec(&a, &pb, "create table t(a integer)", 2));
  EXPECT_EQ(0, commit(&a, &pb, 0));
  EXPECT_EQ(1, CountRows(db, "sqlite_master WHERE name='t'"));

  a_program_block wrong = pb;
  wrong.pb_version = wrong.pb_version_copy = &bad;
  a_program_block dirty = pb;
  dirty.pb_reserved[3] = 1;
  a_program_block half = pb;
  half.pb_version_copy = nullptr;
  for (const a_program_block* p : {static_cast<const a_program_block*>(nullptr),
                                   static_cast<const a_program_block*>(&wrong),
                                   static_cast<const a_program_block*>(&dirty),
                                   static_cast<const a_program_block*>(&half)}) {
    EXPECT_EQ(SQLE_INVALID_PARAMETER, exec(&a, p, "insert into t values(1)", 2));
    EXPECT_EQ(SQLE_INVALID_PARAMETER, a.ca.sqlcode);
  }
  EXPECT_EQ(0, commit(&a, &pb, 0));
  EXPECT_EQ(0, CountRows(db, "t"));
}

TEST_P(VersionTest, EnginesStartedByTheVariantReportItsVersion) {
  const VariantCase& c = GetParam();
  Library lib(c.file);
  Client a(lib);
  ASSERT_EQ(0, a.Connect("uid=DBA;pwd=SQL;dbf=" + db));
  SQLDA* da = lib.alloc_sqlda(1);
  char buffer[32] = {};
  da->sqlvar[0].sqltype = DT_STRING;
  da->sqlvar[0].sqllen = sizeof buffer;
  da->sqlvar[0].sqldata = buffer;
  EXPECT_EQ(1, lib.db_connection_info(&a, DB_INFO_ENGINE_VERSION, da));
  EXPECT_EQ(c.version, std::atoi(buffer)) << buffer;
  lib.free_sqlda(da);
}

INSTANTIATE_TEST_SUITE_P(Variants, VersionTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                           std::string n = info.param.file;
                           return n.substr(0, n.find('.'));
                         });

TEST_F(DbLibTest, VariantsShareOneEngineRegistry) {
  Library seven("dblib7.dll"), six("dblib6.dll");
  Client a(seven), b(six);
  ASSERT_EQ(0, seven.db_start_engine(&a, ("eng=" + eng + ";dbf=" + db).c_str()));
  EXPECT_EQ(0, six.db_find_engine(&b, eng.c_str()));
  EXPECT_EQ(0, b.Connect("eng=" + eng + ";uid=DBA;pwd=SQL"));
}

}  // namespace
}  // namespace dblibtest
