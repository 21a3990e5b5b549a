// The exact output of every format for a table of every column type, with
// a row of NULLs and a row of edge values (empty text and binary, quotes,
// separators, line breaks, tabs and backslashes in text). Decimal columns
// print with their scale.
#include "VdbsqlFixture.h"

namespace vdbsqltest {
namespace {

constexpr const char* kAllTypes = R"(create table alltypes (
  id integer not null primary key,
  i  integer, s smallint, b bigint, d double, n numeric(10,2), m decimal(19,4),
  vc varchar(20), ch char(3), tx varchar(30),
  dt date, tm time, ts timestamp, bt bit, bn binary(20)
);
insert into alltypes values (1, -7, 12, 9007199254740993, 1.5, 12.25, 1234.5678,
  'say "hi", ok', 'ab', 'two
lines', '2024-02-29', '13:45:30', '2024-02-29 13:45:30.250', 1, X'89504E470D0A1A0A0000000D4948445200');
insert into alltypes (id) values (2);
insert into alltypes values (3, 0, 0, -1, -0.1, 0, 0, '', 'x', 'tab	and \ back',
  '0001-01-01', '00:00:00', '1999-12-31 23:59:59', 0, X'');
)";

constexpr const char* kQuery = "select * from alltypes order by id";

class FormatTest : public VdbsqlTest {
 protected:
  void SetUp() override {
    VdbsqlTest::SetUp();
    Setup(kAllTypes);
  }
  std::string Output(const std::vector<std::string>& Extra) {
    std::vector<std::string> Args = {Db, "-c", kQuery};
    Args.insert(Args.begin() + 1, Extra.begin(), Extra.end());
    TRun R = Run(Args);
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Err, "");
    return R.Out;
  }
};

TEST_F(FormatTest, Csv) {
  EXPECT_EQ(Output({"--format", "csv"}),
            "id,i,s,b,d,n,m,vc,ch,tx,dt,tm,ts,bt,bn\r\n"
            "1,-7,12,9007199254740993,1.5,12.25,1234.5678,\"say \"\"hi\"\", ok\",ab,\"two\nlines\",2024-02-29,"
            "13:45:30,2024-02-29 13:45:30.250,1,0x89504e470d0a1a0a0000000d4948445200\r\n"
            "2,,,,,,,,,,,,,,\r\n"
            "3,0,0,-1,-0.1,0.00,0.0000,\"\",x,tab\tand \\ back,0001-01-01,00:00:00,1999-12-31 23:59:59,0,0x\r\n");
  // Without the header, NULL spelt out; the empty text stays "".
  EXPECT_EQ(Output({"--format", "csv", "--no-header", "--null", "NULL"}),
            "1,-7,12,9007199254740993,1.5,12.25,1234.5678,\"say \"\"hi\"\", ok\",ab,\"two\nlines\",2024-02-29,"
            "13:45:30,2024-02-29 13:45:30.250,1,0x89504e470d0a1a0a0000000d4948445200\r\n"
            "2,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL,NULL\r\n"
            "3,0,0,-1,-0.1,0.00,0.0000,\"\",x,tab\tand \\ back,0001-01-01,00:00:00,1999-12-31 23:59:59,0,0x\r\n");
}

TEST_F(FormatTest, CsvIsTheDefaultOffATerminal) {
  // stdout is a pipe here; the table default on a terminal is in TerminalTest.
  TRun R = Run({Db, "-c", "select 1 as a, null as b, 'x,y' as c", "-c", "create table more (a integer)"});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "a,b,c\r\n1,,\"x,y\"\r\n") << "no row count after a statement outside the table format";
}

TEST_F(FormatTest, Tsv) {
  // The NULL text goes out as given; backslashes in values are doubled.
  EXPECT_EQ(Output({"--format", "tsv", "--null", "\\N"}),
            "id\ti\ts\tb\td\tn\tm\tvc\tch\ttx\tdt\ttm\tts\tbt\tbn\n"
            "1\t-7\t12\t9007199254740993\t1.5\t12.25\t1234.5678\tsay \"hi\", ok\tab\ttwo\\nlines\t2024-02-29\t"
            "13:45:30\t2024-02-29 13:45:30.250\t1\t0x89504e470d0a1a0a0000000d4948445200\n"
            "2\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\t\\N\n"
            "3\t0\t0\t-1\t-0.1\t0.00\t0.0000\t\tx\ttab\\tand \\\\ back\t0001-01-01\t00:00:00\t1999-12-31 23:59:59\t0\t0x\n");
  EXPECT_EQ(Output({"--format", "tsv", "--no-header"}).substr(0, 5), "1\t-7\t");
}

TEST_F(FormatTest, Json) {
  EXPECT_EQ(Output({"--format", "json"}),
            "{\"id\":1,\"i\":-7,\"s\":12,\"b\":9007199254740993,\"d\":1.5,\"n\":12.25,\"m\":1234.5678,"
            "\"vc\":\"say \\\"hi\\\", ok\",\"ch\":\"ab\",\"tx\":\"two\\nlines\",\"dt\":\"2024-02-29\","
            "\"tm\":\"13:45:30\",\"ts\":\"2024-02-29 13:45:30.250\",\"bt\":true,\"bn\":\"iVBORw0KGgoAAAANSUhEUgA=\"}\n"
            "{\"id\":2,\"i\":null,\"s\":null,\"b\":null,\"d\":null,\"n\":null,\"m\":null,\"vc\":null,\"ch\":null,"
            "\"tx\":null,\"dt\":null,\"tm\":null,\"ts\":null,\"bt\":null,\"bn\":null}\n"
            "{\"id\":3,\"i\":0,\"s\":0,\"b\":-1,\"d\":-0.1,\"n\":0.00,\"m\":0.0000,\"vc\":\"\",\"ch\":\"x\","
            "\"tx\":\"tab\\tand \\\\ back\",\"dt\":\"0001-01-01\",\"tm\":\"00:00:00\",\"ts\":\"1999-12-31 23:59:59\","
            "\"bt\":false,\"bn\":\"\"}\n");
}

TEST_F(FormatTest, Table) {
  EXPECT_EQ(Output({"--format", "table"}),
            "id | i    | s    | b                | d    | n     | m         | vc           | ch   | tx              "
            "| dt         | tm       | ts                      | bt   | bn\n"
            "---+------+------+------------------+------+-------+-----------+--------------+------+-----------------"
            "+------------+----------+-------------------------+------+-------------------------------------------------\n"
            " 1 |   -7 |   12 | 9007199254740993 |  1.5 | 12.25 | 1234.5678 | say \"hi\", ok | ab   | two\\nlines      "
            "| 2024-02-29 | 13:45:30 | 2024-02-29 13:45:30.250 | 1    | 0x89504e470d0a1a0a0000000d49484452... (17 bytes)\n"
            " 2 | NULL | NULL |             NULL | NULL |  NULL |      NULL | NULL         | NULL | NULL            "
            "| NULL       | NULL     | NULL                    | NULL | NULL\n"
            " 3 |    0 |    0 |               -1 | -0.1 |  0.00 |    0.0000 |              | x    | tab\\tand \\ back "
            "| 0001-01-01 | 00:00:00 | 1999-12-31 23:59:59     | 0    | 0x\n"
            "(3 rows)\n");
  EXPECT_EQ(Output({"--format", "table", "--no-header", "--null", "-"}).substr(0, 20), "1 | -7 | 12 | 900719");
}

TEST_F(FormatTest, TextThatIsNotUtf8StaysReadableInJson) {
  // Windows-1252 bytes (e acute, euro sign) pass as their Latin-1 characters.
  const std::string Script = WriteFile("latin.sql", "select 'caf\xe9 \x80' as t, 'na\xc3\xafve' as u;\n");
  TRun R = Run({Db, "--format", "json", "-f", Script});
  ASSERT_EQ(R.Status, 0) << R.Err;
  EXPECT_EQ(R.Out, "{\"t\":\"caf\xc3\xa9 \xc2\x80\",\"u\":\"na\xc3\xafve\"}\n");
}

}  // namespace
}  // namespace vdbsqltest
