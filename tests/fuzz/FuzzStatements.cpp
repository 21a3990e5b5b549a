// Drives the client library's statement entry points with a random sequence
// of prepare, describe, declare, open, fetch, piece, close, drop and execute
// calls on one connection to a small database. Every call must answer the
// sqlcode it leaves in the SQLCA and a readable message; nothing may crash,
// leak, hang or write outside the descriptors it was handed. Each input runs
// on a fresh connection that it drops with everything still open, so the
// clean-up of a dropped connection is fuzzed as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>
#include <unistd.h>

#include "dbsrv/Catalog.h"
#include "vdb_esql.h"

// The library's sources are compiled into this program (version 7 entry
// points), so the entry points are called directly.
#define VDB_DECLARE(name) extern "C" std::remove_pointer_t<name##_fn> name;
VDB_DECLARE(db_init)
VDB_DECLARE(db_fini)
VDB_DECLARE(db_string_connect)
VDB_DECLARE(db_string_disconnect)
VDB_DECLARE(sqlerror_message)
VDB_DECLARE(alloc_sqlda)
VDB_DECLARE(free_sqlda)
VDB_DECLARE(dbpp_prepare)
VDB_DECLARE(dbpp_dropstmt)
VDB_DECLARE(dbpp_describe)
VDB_DECLARE(dbpp_describe_cursor)
VDB_DECLARE(dbpp_describe_names)
VDB_DECLARE(dbpp_declare)
VDB_DECLARE(dbpp_open)
VDB_DECLARE(dbpp_fetch)
VDB_DECLARE(dbpp_fetch_array)
VDB_DECLARE(dbpp_get_data)
VDB_DECLARE(dbpp_resume)
VDB_DECLARE(dbpp_close)
VDB_DECLARE(dbpp_explain)
VDB_DECLARE(dbpp_execute_into)
VDB_DECLARE(dbpp_execute_imm)
VDB_DECLARE(dbpp_commit)
VDB_DECLARE(dbpp_rollback)
#undef VDB_DECLARE

namespace {

const char* const kTexts[] = {
    "select n, s, b, d from t order by n",
    "select n, s from t where n > ?",
    "select count(*), max(s) from t",
    "select s from t where s like ? order by s desc",
    "insert into t(n, s) values (?, ?)",
    "update t set s = ? where n = ?",
    "delete from t where n = ?",
    "select n, b from t for update",
    "select * from t a, t b where a.n = b.n",
    "select from where",
    "",
    "select ?, ?",
    "call sp_nothing(?)",
    "select n, s from t union all select n, s from t",
    "if 1 = 1 then select 1 else select 2 endif",
    "select 'a' + 'b', null",
};
constexpr int kTextCount = sizeof kTexts / sizeof kTexts[0];
constexpr int kSlots = 4;       // statement numbers and cursors in play
constexpr int kEntries = 8;     // entries of every descriptor
constexpr int kBufferSize = 256;  // bytes behind every entry

const char* const kCursors[kSlots] = {"c0", "c1", "c2", "c3"};

const int16_t kTypes[] = {DT_STRING, DT_FIXCHAR,  DT_VARCHAR, DT_LONGVARCHAR, DT_BINARY,
                          DT_INT,    DT_SMALLINT, DT_BIGINT,  DT_DOUBLE,      DT_FLOAT,
                          DT_TINYINT, DT_BIT,     DT_TIMESTAMP_STRUCT, DT_DATE, DT_LONGBINARY,
                          DT_UNSBIGINT};
constexpr int kTypeCount = sizeof kTypes / sizeof kTypes[0];

std::string gConnect;  // connect string of the database every input uses

// Consumes the input byte by byte; zeros once it is used up.
class TInput {
 public:
  TInput(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool More() const { return FPos < FSize; }
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  int Pick(int N) { return Byte() % N; }
  int32_t Int() {
    uint32_t V = 0;
    for (int I = 0; I < 4; ++I) V = (V << 8) | Byte();
    return static_cast<int32_t>(V);
  }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

// A descriptor of kEntries entries from the library, each entry pointing at
// a buffer of its own that holds any type at up to kBufferSize - 8 bytes.
class TDescriptor {
 public:
  TDescriptor() : FDa(alloc_sqlda(kEntries)) {
    if (FDa == nullptr) __builtin_trap();
    for (int I = 0; I < kEntries; ++I) FDa->sqlvar[I].sqldata = FBuffers[I];
  }
  ~TDescriptor() { free_sqlda(FDa); }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  SQLDA* Get() { return FDa; }

  // Entries in use, types, lengths, indicators and contents from the input.
  void Shape(TInput& In) {
    FDa->sqld = static_cast<int16_t>(In.Pick(kEntries + 2) - 1);  // -1 .. kEntries
    for (int I = 0; I < kEntries; ++I) {
      sqlvar& V = FDa->sqlvar[I];
      V.sqltype = static_cast<int16_t>(kTypes[In.Pick(kTypeCount)] | (In.Byte() & DT_NULLABLE));
      V.sqllen = static_cast<uint16_t>(In.Pick(kBufferSize - 8));
      V.sqldata = In.Pick(16) == 0 ? nullptr : FBuffers[I];
      V.sqlind = In.Pick(8) == 0 ? nullptr : &FIndicators[I];
      FIndicators[I] = static_cast<int16_t>(In.Pick(3) - 1);
      for (int B = 0; B < 8; ++B) FBuffers[I][B] = static_cast<char>(In.Byte());
      std::memset(V.sqlname.data, 0, SQL_NAME_LENGTH);
      V.sqlname.length = 1;
      V.sqlname.data[0] = "nsbd"[In.Pick(4)];
    }
  }
  // After a describe: the reported types at lengths the buffers hold.
  void Fit() {
    for (int I = 0; I < kEntries; ++I) {
      sqlvar& V = FDa->sqlvar[I];
      if (V.sqllen > kBufferSize - 8) V.sqllen = kBufferSize - 8;
      V.sqldata = FBuffers[I];
      if (V.sqlind == nullptr) V.sqlind = &FIndicators[I];
    }
    if (FDa->sqld > kEntries) FDa->sqld = kEntries;
  }

 private:
  SQLDA* FDa;
  alignas(8) char FBuffers[kEntries][kBufferSize] = {};
  int16_t FIndicators[kEntries] = {};
};

// The call answers the code it leaves in the SQLCA, and the message of that
// code fits every buffer it is asked into.
void Checked(SQLCA& Ca, int32_t Rc, TInput& In) {
  if (Rc != Ca.sqlcode) __builtin_trap();
  char Message[80];
  const int32_t Max = 1 + In.Pick(static_cast<int>(sizeof Message));
  std::memset(Message, 'x', sizeof Message);
  sqlerror_message(&Ca, Message, Max);
  if (std::memchr(Message, '\0', static_cast<size_t>(Max)) == nullptr) __builtin_trap();
}

void MakeDatabase() {
  char Template[] = "/tmp/vdb-fuzz-XXXXXX";
  if (mkdtemp(Template) == nullptr) __builtin_trap();
  const std::string File = std::string(Template) + "/fuzz.db";
  vdbsrv::CreateDatabase(File);
  gConnect = "uid=DBA;pwd=SQL;eng=fuzz" + std::to_string(getpid()) + ";dbf=" + File;

  SQLCA Ca{};
  if (!db_init(&Ca) || db_string_connect(&Ca, gConnect.c_str()) != 0) __builtin_trap();
  const char* const Setup[] = {
      "create table t(n int not null primary key, s varchar(20), b long binary, d timestamp)",
      "insert into t values (1, 'one', x'00ff', '2001-02-03 04:05:06')",
      "insert into t values (2, 'two', null, null)",
      "insert into t values (3, null, x'', '1999-12-31 23:59:59.999')",
      "insert into t values (4, 'a somewhat longer text', x'0102030405060708090a', '2024-02-29 00:00:00')",
      "commit"};
  for (const char* Sql : Setup)
    if (dbpp_execute_imm(&Ca, Sql, 2) != 0) __builtin_trap();
  // This connection stays, so the engine and its database keep running
  // between inputs.
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeDatabase();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TInput In(Data, Size);
  SQLCA Ca{};
  if (!db_init(&Ca)) __builtin_trap();
  std::memcpy(Ca.sqlcaid, "SQLCA", 6);
  Ca.sqlcabc = sizeof(SQLCA);
  if (db_string_connect(&Ca, gConnect.c_str()) != 0) __builtin_trap();

  int16_t Numbers[kSlots] = {};
  TDescriptor Out, Bind;
  for (int Step = 0; Step < 64 && In.More(); ++Step) {
    int16_t& Number = Numbers[In.Pick(kSlots)];
    if (In.Pick(16) == 0) Number = static_cast<int16_t>(In.Int());  // any number at all
    const char* Cursor = In.Pick(16) == 0 ? "nosuch" : kCursors[In.Pick(kSlots)];
    int32_t Rc = 0;
    switch (In.Pick(16)) {
      case 0:
        Rc = dbpp_prepare(&Ca, nullptr, "VDB", &Number, kTexts[In.Pick(kTextCount)], nullptr, 0);
        break;
      case 1:
        Out.Shape(In);
        Rc = dbpp_describe(&Ca, nullptr, "VDB", &Number, Out.Get(),
                           In.Pick(2) ? DESCRIBE_SELECT_LIST : DESCRIBE_BIND_VARS);
        Out.Fit();
        break;
      case 2:
        Rc = dbpp_declare(&Ca, Cursor, nullptr, "VDB", &Number,
                          static_cast<uint32_t>(In.Byte()) << (In.Pick(2) * 8));
        break;
      case 3:
        Bind.Shape(In);
        Rc = dbpp_open(&Ca, Cursor, nullptr, "VDB", &Number, In.Pick(4) ? Bind.Get() : nullptr, nullptr,
                       In.Pick(5) - 1, static_cast<uint32_t>(In.Byte()) << 4);
        break;
      case 4:
      case 5:
        Rc = dbpp_fetch(&Ca, Cursor, In.Pick(4), static_cast<int8_t>(In.Byte()), In.Pick(8) ? Out.Get() : nullptr,
                        nullptr, In.Pick(2) ? FETCH_LOCK : 0);
        break;
      case 6:
        Rc = dbpp_fetch_array(&Ca, Cursor, In.Pick(3), static_cast<int8_t>(In.Byte()), Out.Get(), nullptr, 0,
                              static_cast<uint32_t>(In.Pick(5)));
        break;
      case 7:
        Out.Shape(In);
        Rc = dbpp_get_data(&Ca, Cursor, static_cast<uint32_t>(In.Pick(6)), static_cast<uint32_t>(In.Int() & 0xffff),
                           Out.Get(), 0);
        break;
      case 8:
        Out.Shape(In);
        Rc = dbpp_describe_cursor(&Ca, Cursor, Out.Get(), DESCRIBE_SELECT_LIST);
        Out.Fit();
        break;
      case 9:
        Out.Shape(In);
        Rc = dbpp_describe_names(&Ca, nullptr, "VDB", &Number, Cursor, Out.Get(), 0,
                                 In.Pick(2) ? DESCRIBE_NAMES_COLUMNS : DESCRIBE_NAMES_TABLE);
        break;
      case 10:
        Rc = dbpp_close(&Ca, Cursor);
        break;
      case 11:
        Rc = dbpp_dropstmt(&Ca, nullptr, "VDB", &Number);
        break;
      case 12:
        Bind.Shape(In);
        Out.Shape(In);
        Rc = dbpp_execute_into(&Ca, nullptr, "VDB", &Number, In.Pick(4) ? Bind.Get() : nullptr,
                               In.Pick(2) ? Out.Get() : nullptr);
        break;
      case 13:
        Rc = dbpp_resume(&Ca, Cursor);
        break;
      case 14:
        Out.Shape(In);
        Rc = dbpp_explain(&Ca, Cursor, nullptr, Out.Get());
        break;
      default:
        Rc = dbpp_rollback(&Ca, 0);
        break;
    }
    Checked(Ca, Rc, In);
  }
  // Whatever the input changed goes, and the connection leaves with its
  // statements and cursors still open.
  dbpp_rollback(&Ca, 0);
  db_string_disconnect(&Ca, "");
  db_fini(&Ca);
  return 0;
}
