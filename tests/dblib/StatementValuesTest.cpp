// Host values in and out of SQLDA buffers: every host type, indicators,
// truncation, conversions and server variables named by type 600.
#include "StatementFixture.h"

#include <sqlite3.h>

#include "dbsrv/TransactionLog.h"

#include <cstdio>
#include <functional>

namespace dblibtest {
namespace {

SQLDATETIME Stamp(uint16_t y, uint8_t mo0, uint8_t d, uint8_t h, uint8_t mi, uint8_t s, uint32_t us) {
  SQLDATETIME t{};
  t.year = y;
  t.month = mo0;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.microsecond = us;
  return t;
}

// The value of an output entry as text, for comparing.
std::string Render(const sqlvar& v) {
  const void* p = v.sqldata;
  char buf[128];
  switch (v.sqltype & DT_TYPES) {
    case DT_INT: return std::to_string(*static_cast<const int32_t*>(p));
    case DT_UNSINT: return std::to_string(*static_cast<const uint32_t*>(p));
    case DT_BIGINT: return std::to_string(*static_cast<const int64_t*>(p));
    case DT_DOUBLE: std::snprintf(buf, sizeof buf, "%g", *static_cast<const double*>(p)); return buf;
    case DT_BIT: return std::to_string(*static_cast<const uint8_t*>(p));
    case DT_STRING: return static_cast<const char*>(p);
    case DT_BINARY: {
      uint16_t n;
      std::memcpy(&n, p, 2);
      std::string hex;
      for (uint16_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<const unsigned char*>(p)[2 + i]);
        hex += buf;
      }
      return hex;
    }
    case DT_TIMESTAMP_STRUCT: {
      SQLDATETIME t;
      std::memcpy(&t, p, sizeof t);
      std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%06u dow %u doy %u", t.year, t.month, t.day,
                    t.hour, t.minute, t.second, t.microsecond, t.day_of_week, t.day_of_year);
      return buf;
    }
    default: return "?";
  }
}

class ValuesTest : public StatementTest {
 protected:
  // Stores one value through an input entry into a new table of one column,
  // then reads it back into an output entry.
  std::string RoundTrip(const std::string& decl, int16_t inType, uint16_t inLen,
                        const std::function<void(void*)>& put, int16_t outType, uint16_t outLen,
                        int32_t* fetchCode = nullptr) {
    std::string table = "v" + std::to_string(++tables_);
    Exec("create table " + table + "(x " + decl + ")");
    Da in(lib, 1);
    in.Entry(0, inType, inLen).Fill();
    put(in[0].sqldata);
    int16_t ins = Prepare("insert into " + table + " values (?)");
    EXPECT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins, in.get(), nullptr)) << client->Message();
    EXPECT_EQ(1, SQLCOUNT(client->ca));
    int16_t sel = Prepare("select x from " + table);
    Da out(lib, 1);
    out.Entry(0, outType, outLen).Fill();
    int32_t rc = esql.execute_into(&*client, nullptr, "VDB", &sel, nullptr, out.get());
    if (fetchCode) {
      *fetchCode = rc;
    } else {
      EXPECT_EQ(0, rc) << client->Message();
    }
    return rc < 0 ? client->Message() : Render(out[0]);
  }
  int tables_ = 0;
};

template <class T>
std::function<void(void*)> Put(T value) {
  return [value](void* p) { std::memcpy(p, &value, sizeof value); };
}
std::function<void(void*)> PutText(const char* s) {
  return [s](void* p) { std::strcpy(static_cast<char*>(p), s); };
}
std::function<void(void*)> PutBytes(std::string bytes) {
  return [bytes](void* p) {
    uint16_t n = static_cast<uint16_t>(bytes.size());
    std::memcpy(p, &n, 2);
    std::memcpy(static_cast<char*>(p) + 2, bytes.data(), bytes.size());
  };
}

TEST_F(ValuesTest, EveryHostTypeInAndOut) {
  struct Case {
    const char* decl;
    int16_t inType;
    uint16_t inLen;
    std::function<void(void*)> put;
    int16_t outType;
    uint16_t outLen;
    std::string expect;
  } cases[] = {
      {"int", DT_INT, 4, Put<int32_t>(-42), DT_INT, 4, "-42"},
      {"int", DT_INT, 4, Put<int32_t>(7), DT_STRING, 10, "7"},
      {"int", DT_INT, 4, Put<int32_t>(7), DT_DOUBLE, 8, "7"},
      {"unsigned int", DT_UNSINT, 4, Put<uint32_t>(4000000000u), DT_UNSINT, 4, "4000000000"},
      {"bigint", DT_BIGINT, 8, Put<int64_t>(int64_t(1) << 40), DT_BIGINT, 8, "1099511627776"},
      {"double", DT_DOUBLE, 8, Put<double>(2.5), DT_DOUBLE, 8, "2.5"},
      {"double", DT_DOUBLE, 8, Put<double>(2.5), DT_STRING, 20, "2.5"},
      {"bit", DT_BIT, 1, Put<uint8_t>(1), DT_BIT, 1, "1"},
      {"varchar(20)", DT_STRING, 21, PutText("hello"), DT_STRING, 21, "hello"},
      {"varchar(20)", DT_STRING, 21, PutText(" 123 "), DT_INT, 4, "123"},
      {"long binary", DT_BINARY, 10, PutBytes(std::string("\0\1\2\xff", 4)), DT_BINARY, 10, "000102ff"},
      {"timestamp", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(2024, 1, 29, 13, 45, 10, 250000)), DT_TIMESTAMP_STRUCT,
       14, "2024-01-29 13:45:10.250000 dow 4 doy 59"},
      // Day of the year after February: leap, centennial common, quadricentennial leap.
      {"timestamp", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(2024, 2, 1, 0, 0, 0, 0)), DT_TIMESTAMP_STRUCT, 14,
       "2024-02-01 00:00:00.000000 dow 5 doy 60"},
      {"timestamp", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(2100, 11, 31, 0, 0, 0, 0)), DT_TIMESTAMP_STRUCT, 14,
       "2100-11-31 00:00:00.000000 dow 5 doy 364"},
      {"timestamp", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(2000, 11, 31, 0, 0, 0, 0)), DT_TIMESTAMP_STRUCT, 14,
       "2000-11-31 00:00:00.000000 dow 0 doy 365"},
      {"timestamp", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(2024, 1, 29, 13, 45, 10, 250000)), DT_STRING, 40,
       "2024-02-29 13:45:10.250"},
      {"date", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(1899, 11, 30, 0, 0, 0, 0)), DT_STRING, 40, "1899-12-30"},
      {"time", DT_TIMESTAMP_STRUCT, 14, Put(Stamp(0, 0, 0, 10, 30, 0, 0)), DT_STRING, 40, "10:30:00"},
      {"time", DT_STRING, 10, PutText("10:30:00"), DT_TIMESTAMP_STRUCT, 14,
       "0000-00-00 10:30:00.000000 dow 0 doy 0"},
      {"date", DT_STRING, 12, PutText("2000-03-01"), DT_TIMESTAMP_STRUCT, 14,
       "2000-02-01 00:00:00.000000 dow 3 doy 60"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.decl) + " -> " + c.expect);
    EXPECT_EQ(c.expect, RoundTrip(c.decl, c.inType, c.inLen, c.put, c.outType, c.outLen));
  }
}

TEST_F(ValuesTest, ImpossibleConversionsAnswerTheServerError) {
  struct Case {
    const char* decl;
    int16_t inType;
    uint16_t inLen;
    std::function<void(void*)> put;
    int16_t outType;
    uint16_t outLen;
    int32_t code;
  } cases[] = {
      {"varchar(20)", DT_STRING, 21, PutText("abc"), DT_INT, 4, -157},
      {"double", DT_DOUBLE, 8, Put<double>(3e10), DT_INT, 4, -158},
      {"bigint", DT_BIGINT, 8, Put<int64_t>(-1), DT_UNSINT, 4, -158},
      {"varchar(20)", DT_STRING, 21, PutText("not a date"), DT_TIMESTAMP_STRUCT, 14, -157},
      {"long binary", DT_BINARY, 10, PutBytes("ab"), DT_DOUBLE, 8, -157},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.decl);
    int32_t rc = 0;
    RoundTrip(c.decl, c.inType, c.inLen, c.put, c.outType, c.outLen, &rc);
    EXPECT_EQ(c.code, rc);
  }
  // An impossible date-time structure is refused on the way in.
  Exec("create table d(x timestamp)");
  int16_t ins = Prepare("insert into d values (?)");
  Da in(lib, 1);
  in.Entry(0, DT_TIMESTAMP_STRUCT, 14).Fill();
  SQLDATETIME bad = Stamp(2023, 1, 29, 0, 0, 0, 0);  // 29 February 2023
  std::memcpy(in[0].sqldata, &bad, sizeof bad);
  EXPECT_EQ(-157, esql.execute_into(&*client, nullptr, "VDB", &ins, in.get(), nullptr));
}

TEST_F(ValuesTest, TruncationWarnsAndIndicatesTheFullLength) {
  Exec("create table t(s varchar(20), b long binary)");
  Exec("insert into t values ('abcdefghij', x'00010203040506')");
  int16_t sel = Prepare("select s, b from t");
  Da out(lib, 2);
  out.Entry(0, DT_STRING, 5).Entry(1, DT_BINARY, 5).Fill();
  EXPECT_EQ(SQLE_TRUNCATED, esql.execute_into(&*client, nullptr, "VDB", &sel, nullptr, out.get()));
  EXPECT_EQ("abcd", out.Text(0));
  EXPECT_EQ(10, out.Ind(0));
  EXPECT_EQ("000102", Render(out[1]));
  EXPECT_EQ(7, out.Ind(1));
  // Through a cursor the same.
  ASSERT_EQ(0, OpenCursor("c", sel));
  EXPECT_EQ(SQLE_TRUNCATED, esql.fetch(&*client, "c", FETCH_RELATIVE, 1, out.get(), nullptr, 0));
  EXPECT_EQ(1, SQLCOUNT(client->ca));
  EXPECT_EQ(10, out.Ind(0));
}

TEST_F(ValuesTest, NullsTravelThroughIndicators) {
  Exec("create table t(a int, b varchar(10))");
  int16_t ins = Prepare("insert into t values (?, ?)");
  Da in(lib, 2);
  in.Entry(0, DT_INT, 4).Entry(1, DT_STRING, 11).Fill();
  *in[0].sqlind = -1;
  std::strcpy(static_cast<char*>(in[1].sqldata), "x");
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins, in.get(), nullptr));
  // An output-only parameter mark (bit 15 set, bit 14 clear) reads as NULL too.
  *in[0].sqlind = 0;
  *in[1].sqlind = static_cast<int16_t>(0x8000);
  *static_cast<int32_t*>(in[0].sqldata) = 5;
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins, in.get(), nullptr));
  Exec("commit");
  EXPECT_EQ("1", Sqlite3Cli(db, "select count(*) from t where a is null and b = 'x'"));
  EXPECT_EQ("1", Sqlite3Cli(db, "select count(*) from t where a = 5 and b is null"));

  int16_t sel = Prepare("select a from t where b = 'x'");
  Da out(lib, 1);
  out.Entry(0, DT_INT, 4).Fill();
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &sel, nullptr, out.get()));
  EXPECT_EQ(-1, out.Ind(0));
  Da noInd(lib, 1, false);
  noInd.Entry(0, DT_INT, 4).Fill();
  EXPECT_EQ(-181, esql.execute_into(&*client, nullptr, "VDB", &sel, nullptr, noInd.get()));
  // Fewer values than host variables.
  Da one(lib, 1);
  one.Entry(0, DT_INT, 4).Fill();
  EXPECT_EQ(-188, esql.execute_into(&*client, nullptr, "VDB", &ins, one.get(), nullptr));
  EXPECT_EQ(-188, esql.execute_into(&*client, nullptr, "VDB", &ins, nullptr, nullptr));
  Da noData(lib, 2);
  noData.Entry(0, DT_INT, 4).Entry(1, DT_INT, 4);
  EXPECT_EQ(SQLE_INVALID_PARAMETER, esql.execute_into(&*client, nullptr, "VDB", &ins, noData.get(), nullptr));
}

TEST_F(ValuesTest, ExecuteIntoCountsRowsAndRefusesManyRows) {
  NumberedRows(5);
  struct Case {
    const char* sql;
    int32_t code;
    int32_t count;
  } cases[] = {
      {"update t set s = 'x' where n > 2", 0, 3},
      {"delete from t where n = 1", 0, 1},
      {"select n from t where n = 3", 0, 1},
      {"select n from t where n = 99", SQLE_NOTFOUND, 0},
      {"select n from t", -185, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sql);
    int16_t s = Prepare(c.sql);
    Da out(lib, 1);
    out.Entry(0, DT_INT, 4).Fill();
    EXPECT_EQ(c.code, esql.execute_into(&*client, nullptr, "VDB", &s, nullptr, out.get()));
    if (c.code >= 0) {
      EXPECT_EQ(c.count, SQLCOUNT(client->ca));
    }
  }
  EXPECT_EQ(0, client->Exec("insert into t values (10, 'a'); insert into t values (11, 'b')"));
  EXPECT_EQ(1, SQLCOUNT(client->ca));
}

TEST_F(ValuesTest, ServerVariablesStandForValues) {
  Exec("create table t(a int, b varchar(40))");
  Exec("create variable greeting varchar(40)");
  Exec("set greeting = 'hello'");
  Exec("set greeting = greeting || ' world'");
  int16_t ins = Prepare("insert into t values (1, greeting)");
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins, nullptr, nullptr));
  // Type 600: the entry's data names the variable whose value is used.
  int16_t ins2 = Prepare("insert into t values (2, ?)");
  Da in(lib, 1);
  in.Entry(0, DT_VARIABLE, 30).Fill();
  std::strcpy(static_cast<char*>(in[0].sqldata), "GREETING");
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins2, in.get(), nullptr)) << client->Message();
  Exec("commit");
  EXPECT_EQ("2", Sqlite3Cli(db, "select count(*) from t where b = 'hello world'"));
  // Variables belong to their connection.
  auto other = Connect();
  EXPECT_EQ(-143, other->Exec("insert into t values (3, greeting)")) << other->Message();
  Exec("drop variable greeting");
  EXPECT_EQ(-260, client->Exec("drop variable greeting"));
  std::strcpy(static_cast<char*>(in[0].sqldata), "greeting");
  EXPECT_EQ(-260, esql.execute_into(&*client, nullptr, "VDB", &ins2, in.get(), nullptr));
}

// The transaction log is the record a copy of the database is brought up to
// date from: values given through host variables replay exactly as they
// were bound, doubles to the last bit and bytes that are no text included.
// A copy of the database as it stands now, before the log's later records.
sqlite3* CopyOfDatabase(const std::string& Db, const std::string& Copy) {
  sqlite3* H = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_open(Copy.c_str(), &H));
  sqlite3* Source = nullptr;
  EXPECT_EQ(SQLITE_OK, sqlite3_open_v2(Db.c_str(), &Source, SQLITE_OPEN_READONLY, nullptr));
  sqlite3_backup* B = sqlite3_backup_init(H, "main", Source, "main");
  EXPECT_NE(nullptr, B);
  EXPECT_EQ(SQLITE_DONE, sqlite3_backup_step(B, -1));
  sqlite3_backup_finish(B);
  sqlite3_close(Source);
  return H;
}

TEST_F(ValuesTest, TheTransactionLogReplaysBoundValuesExactly) {
  sqlite3* H = CopyOfDatabase(db, dir.File("copy.db"));
  Exec("create table w(d double, s varchar(20), b long binary, i bigint, z int)");
  Exec("commit");
  Da in(lib, 5);
  in.Entry(0, DT_DOUBLE, 8).Entry(1, DT_STRING, 21).Entry(2, DT_BINARY, 10).Entry(3, DT_BIGINT, 8);
  in.Entry(4, DT_INT, 4).Fill();
  const double D = 0.1 + 0.2;  // 0.30000000000000004: no 15-digit literal
  std::memcpy(in[0].sqldata, &D, sizeof D);
  std::strcpy(static_cast<char*>(in[1].sqldata), "it's");
  const uint16_t Length = 4;
  std::memcpy(in[2].sqldata, &Length, 2);
  std::memcpy(static_cast<char*>(in[2].sqldata) + 2, "\0\1'\xff", 4);
  const int64_t I = INT64_MIN;
  std::memcpy(in[3].sqldata, &I, sizeof I);
  *in[4].sqlind = -1;
  int16_t ins = Prepare("insert into w values (?, ?, ?, ?, ?)");
  ASSERT_EQ(0, esql.execute_into(&*client, nullptr, "VDB", &ins, in.get(), nullptr)) << client->Message();
  ASSERT_EQ(0, lib.dbpp_commit(&client->ca, 0));

  vdbsrv::TransactionLog::Replay(H, dir.File("test.log"));
  sqlite3_stmt* St = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(H, "select d, s, hex(b), i, z is null from w", -1, &St, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(St));
  const double Back = sqlite3_column_double(St, 0);
  EXPECT_EQ(0, std::memcmp(&Back, &D, sizeof D)) << Back;
  EXPECT_STREQ("it's", reinterpret_cast<const char*>(sqlite3_column_text(St, 1)));
  EXPECT_STREQ("000127FF", reinterpret_cast<const char*>(sqlite3_column_text(St, 2)));
  EXPECT_EQ(I, sqlite3_column_int64(St, 3));
  EXPECT_EQ(1, sqlite3_column_int(St, 4));
  EXPECT_EQ(SQLITE_DONE, sqlite3_step(St));
  sqlite3_finalize(St);
  sqlite3_close(H);
}

// Statements of a procedure body bind the body's variables; the log records
// them with those values, as it does host values.
TEST_F(ValuesTest, TheTransactionLogReplaysProcedureVariablesExactly) {
  sqlite3* H = CopyOfDatabase(db, dir.File("copy.db"));
  Exec("create table w(d double, s long varchar)");
  Exec("create procedure p_store() begin declare v double; declare t long varchar; "
       "set v = 0.1 + 0.2; set t = 'it''s ' || x'00ff'; insert into w values (v, t) end");
  Exec("call p_store()");
  ASSERT_EQ(0, lib.dbpp_commit(&client->ca, 0));

  vdbsrv::TransactionLog::Replay(H, dir.File("test.log"));
  sqlite3_stmt* St = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(H, "select d, hex(s) from w", -1, &St, nullptr));
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(St));
  const double Back = sqlite3_column_double(St, 0);
  const double D = 0.1 + 0.2;
  EXPECT_EQ(0, std::memcmp(&Back, &D, sizeof D)) << Back;
  EXPECT_STREQ("6974277320", std::string(reinterpret_cast<const char*>(sqlite3_column_text(St, 1))).substr(0, 10).c_str());
  EXPECT_EQ(SQLITE_DONE, sqlite3_step(St));
  sqlite3_finalize(St);
  sqlite3_close(H);
}

}  // namespace
}  // namespace dblibtest
