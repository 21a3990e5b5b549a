// Our client library at its C ABI, loaded by file name and bound entry
// point by entry point as every application does. Written the way embedded
// SQL is fast: statements prepared once and executed by number, host values
// in SQLDA buffers filled once, read-only no-scroll cursors fetched in wide
// blocks (dbpp_fetch_array), single-row SELECTs executed INTO an output
// descriptor, long values through a server variable in 64 kB pieces and read
// back with dbpp_get_data. Host types mirror what the raw baseline reads
// (the timestamp as text), so the ratio is the library's own cost.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "rtl/Windows.h"
#include "vdb_esql.h"

namespace {

using namespace vdbbench;

constexpr int kBlock = 100;         // rows per dbpp_fetch_array
constexpr uint16_t kPiece = 65535;  // bytes of one long-value piece

struct Library {
  vcl::HMODULE lib = nullptr;
#define ENTRY(name) name##_fn name = nullptr;
  ENTRY(db_init) ENTRY(db_fini) ENTRY(db_string_connect) ENTRY(db_string_disconnect) ENTRY(alloc_sqlda)
  ENTRY(fill_sqlda) ENTRY(free_filled_sqlda) ENTRY(dbpp_prepare) ENTRY(dbpp_dropstmt) ENTRY(dbpp_declare)
  ENTRY(dbpp_open) ENTRY(dbpp_close) ENTRY(dbpp_fetch_array) ENTRY(dbpp_execute_into) ENTRY(dbpp_execute_imm)
  ENTRY(dbpp_commit) ENTRY(dbpp_rollback) ENTRY(dbpp_get_data)
#undef ENTRY

  Library() {
    lib = vcl::LoadLibrary("dblib7.dll");
    Require(lib != nullptr, "cannot load dblib7.dll");
#define BIND(name) name = reinterpret_cast<name##_fn>(vcl::GetProcAddress(lib, #name)), Require(name, #name);
    BIND(db_init) BIND(db_fini) BIND(db_string_connect) BIND(db_string_disconnect) BIND(alloc_sqlda)
    BIND(fill_sqlda) BIND(free_filled_sqlda) BIND(dbpp_prepare) BIND(dbpp_dropstmt) BIND(dbpp_declare)
    BIND(dbpp_open) BIND(dbpp_close) BIND(dbpp_fetch_array) BIND(dbpp_execute_into) BIND(dbpp_execute_imm)
    BIND(dbpp_commit) BIND(dbpp_rollback) BIND(dbpp_get_data)
#undef BIND
  }
};

Library& L() {
  static Library l;
  return l;
}

std::string ConnectString() { return "uid=DBA;pwd=SQL;eng=bench;dbf=" + DatabaseFile(); }

// One connection (one SQLCA).
struct Conn {
  SQLCA ca{};
  bool connected = false;
  explicit Conn(bool connect = true) {
    Require(L().db_init(&ca) != 0, "db_init");
    if (connect) Check(L().db_string_connect(&ca, ConnectString().c_str()), "connect");
    connected = connect;
  }
  ~Conn() {
    if (connected) L().db_string_disconnect(&ca, nullptr);
    L().db_fini(&ca);
  }
  void Check(int32_t rc, const char* what) {
    if (rc < 0) {
      std::string msg(ca.sqlerrmc, static_cast<size_t>(std::max<int16_t>(0, std::min<int16_t>(ca.sqlerrml, 70))));
      throw std::runtime_error(std::string(what) + " failed: " + std::to_string(rc) + " " + msg);
    }
  }
  int16_t Prepare(const std::string& sql) {
    int16_t stmt = 0;
    Check(L().dbpp_prepare(&ca, nullptr, "VDB", &stmt, sql.c_str(), nullptr, 1), "prepare");
    return stmt;
  }
  void Drop(int16_t& stmt) { L().dbpp_dropstmt(&ca, nullptr, "VDB", &stmt); }
  void Imm(const char* sql) { Check(L().dbpp_execute_imm(&ca, sql, 2), sql); }
};

// A filled descriptor of Rows rows of (i, s, d, ts) as the raw baseline
// reads them.
struct RowDescriptor {
  SQLDA* da;
  explicit RowDescriptor(int rows) {
    da = L().alloc_sqlda(static_cast<uint32_t>(rows * 4));
    for (int r = 0; r < rows; ++r) {
      sqlvar* v = &da->sqlvar[r * 4];
      v[0].sqltype = DT_BIGINT, v[0].sqllen = 8;
      v[1].sqltype = DT_STRING, v[1].sqllen = 41;
      v[2].sqltype = DT_DOUBLE, v[2].sqllen = 8;
      v[3].sqltype = DT_STRING, v[3].sqllen = 27;
    }
    Require(L().fill_sqlda(da) != nullptr, "fill_sqlda");
  }
  ~RowDescriptor() { L().free_filled_sqlda(da); }
  RowDescriptor(const RowDescriptor&) = delete;
  RowDescriptor& operator=(const RowDescriptor&) = delete;
};

// What every contender does with a fetched row: each value lands in a
// variable of the reader's own (strings copied to a buffer).
struct RowReader {
  int64_t rows = 0, sumI = 0;
  double sumD = 0;
  size_t bytes = 0;
  char s[64], ts[32];
  void Read(const sqlvar* v) {
    ++rows;
    sumI += *static_cast<const int64_t*>(v[0].sqldata);
    size_t n = std::strlen(static_cast<const char*>(v[1].sqldata));
    std::memcpy(s, v[1].sqldata, std::min(n, sizeof s));
    sumD += *static_cast<const double*>(v[2].sqldata);
    size_t m = std::strlen(static_cast<const char*>(v[3].sqldata));
    std::memcpy(ts, v[3].sqldata, std::min(m, sizeof ts));
    bytes += n + m + static_cast<unsigned char>(s[0]) + static_cast<unsigned char>(ts[0]);
  }
};

void Scan(benchmark::State& state) {
  Conn c;
  RowDescriptor block(kBlock);
  const int64_t n = CurrentSizes().scanRows;
  RowReader r;
  for (auto _ : state) {
    int16_t stmt = c.Prepare(kScanSql);
    const uint32_t flags = CUR_READONLY | CUR_NOSCROLL;
    c.Check(L().dbpp_declare(&c.ca, "c", nullptr, "VDB", &stmt, flags), "declare");
    c.Check(L().dbpp_open(&c.ca, "c", nullptr, "VDB", &stmt, nullptr, nullptr, 0, flags), "open");
    while (L().dbpp_fetch_array(&c.ca, "c", FETCH_RELATIVE, 1, block.da, nullptr, 0, kBlock) == 0)
      for (int32_t k = 0; k < SQLCOUNT(c.ca); ++k) r.Read(&block.da->sqlvar[k * 4]);
    c.Check(c.ca.sqlcode, "fetch");
    L().dbpp_close(&c.ca, "c");
    c.Drop(stmt);
  }
  benchmark::DoNotOptimize(r.bytes);
  Require(r.rows == n && r.sumI == n * (n + 1) / 2, "scan read wrong rows");
}

void Insert(benchmark::State& state) {
  Conn c;
  std::vector<RowValues> values;
  for (int64_t i = 1; i <= CurrentSizes().inserts; ++i) values.push_back(MakeRow(i));
  SQLDA* in = L().alloc_sqlda(4);
  in->sqlvar[0].sqltype = DT_BIGINT, in->sqlvar[0].sqllen = 8;
  in->sqlvar[1].sqltype = DT_STRING, in->sqlvar[1].sqllen = 41;
  in->sqlvar[2].sqltype = DT_DOUBLE, in->sqlvar[2].sqllen = 8;
  in->sqlvar[3].sqltype = DT_STRING, in->sqlvar[3].sqllen = 27;
  Require(L().fill_sqlda(in) != nullptr, "fill_sqlda");
  int64_t done = 0;
  for (auto _ : state) {
    int16_t stmt = c.Prepare(kInsertSql);
    for (const RowValues& v : values) {
      *static_cast<int64_t*>(in->sqlvar[0].sqldata) = v.i;
      std::memcpy(in->sqlvar[1].sqldata, v.s.c_str(), v.s.size() + 1);
      *static_cast<double*>(in->sqlvar[2].sqldata) = v.d;
      std::memcpy(in->sqlvar[3].sqldata, v.ts.c_str(), v.ts.size() + 1);
      c.Check(L().dbpp_execute_into(&c.ca, nullptr, "VDB", &stmt, in, nullptr), "insert");
      done += SQLCOUNT(c.ca);
    }
    c.Drop(stmt);
  }
  L().dbpp_rollback(&c.ca, 0);
  L().free_filled_sqlda(in);
  Require(done == static_cast<int64_t>(values.size()), "inserts failed");
}

void Lookup(benchmark::State& state) {
  Conn c;
  const std::vector<int64_t> keys = LookupKeys(CurrentSizes().lookups, CurrentSizes().scanRows);
  SQLDA* in = L().alloc_sqlda(1);
  in->sqlvar[0].sqltype = DT_BIGINT, in->sqlvar[0].sqllen = 8;
  Require(L().fill_sqlda(in) != nullptr, "fill_sqlda");
  RowDescriptor out(1);
  RowReader r;
  for (auto _ : state) {
    int16_t stmt = c.Prepare(kLookupSql);
    for (int64_t k : keys) {
      *static_cast<int64_t*>(in->sqlvar[0].sqldata) = k;
      if (L().dbpp_execute_into(&c.ca, nullptr, "VDB", &stmt, in, out.da) == 0) r.Read(out.da->sqlvar);
      c.Check(c.ca.sqlcode, "lookup");
    }
    c.Drop(stmt);
  }
  L().free_filled_sqlda(in);
  RequireLookupsFound(r.rows, r.sumI, keys);
}

// One long-value piece entry of kPiece bytes.
struct PieceDescriptor {
  SQLDA* da;
  PieceDescriptor() {
    da = L().alloc_sqlda(1);
    da->sqlvar[0].sqltype = DT_LONGBINARY;
    da->sqlvar[0].sqllen = kPiece;
    Require(L().fill_sqlda(da) != nullptr, "fill_sqlda");
  }
  ~PieceDescriptor() { L().free_filled_sqlda(da); }
  char* Bytes() const { return static_cast<char*>(da->sqlvar[0].sqldata) + 4; }
  uint32_t Length() const {
    uint32_t n;
    std::memcpy(&n, da->sqlvar[0].sqldata, 4);
    return n;
  }
  void SetLength(uint32_t n) { std::memcpy(da->sqlvar[0].sqldata, &n, 4); }
};

// Writes Value through the server variable bv in pieces and updates the
// blob row from it; reads the value back in pieces into Back.
void WriteReadLong(Conn& c, const std::string& value, std::string& back, int16_t append, int16_t update,
                   int16_t select, PieceDescriptor& piece) {
  c.Imm("set bv = ''");
  for (size_t sent = 0; sent < value.size();) {
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(kPiece, value.size() - sent));
    piece.SetLength(n);
    std::memcpy(piece.Bytes(), value.data() + sent, n);
    c.Check(L().dbpp_execute_into(&c.ca, nullptr, "VDB", &append, piece.da, nullptr), "append");
    sent += n;
  }
  c.Check(L().dbpp_execute_into(&c.ca, nullptr, "VDB", &update, nullptr, nullptr), "update");
  c.Check(L().dbpp_commit(&c.ca, 0), "commit");
  const uint32_t flags = CUR_READONLY | CUR_NOSCROLL;
  c.Check(L().dbpp_declare(&c.ca, "b", nullptr, "VDB", &select, flags), "declare");
  c.Check(L().dbpp_open(&c.ca, "b", nullptr, "VDB", &select, nullptr, nullptr, 0, flags), "open");
  c.Check(L().dbpp_fetch_array(&c.ca, "b", FETCH_RELATIVE, 1, nullptr, nullptr, 0, 1), "fetch");
  back.clear();
  int32_t rc;
  do {
    rc = L().dbpp_get_data(&c.ca, "b", 1, static_cast<uint32_t>(back.size()), piece.da, 0);
    c.Check(rc, "get_data");
    back.append(piece.Bytes(), std::min<uint32_t>(piece.Length(), kPiece));
  } while (rc == SQLE_TRUNCATED);
  L().dbpp_close(&c.ca, "b");
}

void BlobBig(benchmark::State& state) {
  Conn c;
  const std::string value = BigBlobValue(CurrentSizes().bigBlob);
  c.Imm("create variable bv long binary");
  int16_t append = c.Prepare("set bv = bv || ?");
  int16_t update = c.Prepare("update blobs set b = bv where id = 1");
  int16_t select = c.Prepare(kBigBlobSelectSql);
  PieceDescriptor piece;
  std::string back;
  for (auto _ : state) WriteReadLong(c, value, back, append, update, select, piece);
  c.Imm("update blobs set b = null where id = 1");
  c.Check(L().dbpp_commit(&c.ca, 0), "commit");
  Require(back == value, "blob read back differs");
}

void BlobSmall(benchmark::State& state) {
  Conn c;
  const Sizes& z = CurrentSizes();
  std::vector<std::string> values;
  for (int64_t k = 1; k <= z.smallBlobs; ++k) values.push_back(SmallBlobValue(k, z.smallBlobSize));
  const uint16_t len = static_cast<uint16_t>(z.smallBlobSize + 2);
  SQLDA* in = L().alloc_sqlda(2);
  in->sqlvar[0].sqltype = DT_BIGINT, in->sqlvar[0].sqllen = 8;
  in->sqlvar[1].sqltype = DT_BINARY, in->sqlvar[1].sqllen = len;
  Require(L().fill_sqlda(in) != nullptr, "fill_sqlda");
  SQLDA* out = L().alloc_sqlda(2 * kBlock);
  for (int r = 0; r < kBlock; ++r) {
    out->sqlvar[2 * r].sqltype = DT_BIGINT, out->sqlvar[2 * r].sqllen = 8;
    out->sqlvar[2 * r + 1].sqltype = DT_BINARY, out->sqlvar[2 * r + 1].sqllen = len;
  }
  Require(L().fill_sqlda(out) != nullptr, "fill_sqlda");
  int64_t rows = 0;
  size_t bytes = 0;
  std::string buf;
  for (auto _ : state) {
    int16_t ins = c.Prepare(kSmallBlobInsertSql);
    for (size_t k = 0; k < values.size(); ++k) {
      *static_cast<int64_t*>(in->sqlvar[0].sqldata) = static_cast<int64_t>(k + 1);
      char* p = static_cast<char*>(in->sqlvar[1].sqldata);
      const uint16_t n = static_cast<uint16_t>(values[k].size());
      std::memcpy(p, &n, 2);
      std::memcpy(p + 2, values[k].data(), n);
      c.Check(L().dbpp_execute_into(&c.ca, nullptr, "VDB", &ins, in, nullptr), "small blob insert");
    }
    c.Drop(ins);
    int16_t sel = c.Prepare(kSmallBlobSelectSql);
    const uint32_t flags = CUR_READONLY | CUR_NOSCROLL;
    c.Check(L().dbpp_declare(&c.ca, "s", nullptr, "VDB", &sel, flags), "declare");
    c.Check(L().dbpp_open(&c.ca, "s", nullptr, "VDB", &sel, nullptr, nullptr, 0, flags), "open");
    while (L().dbpp_fetch_array(&c.ca, "s", FETCH_RELATIVE, 1, out, nullptr, 0, kBlock) == 0) {
      for (int32_t r = 0; r < SQLCOUNT(c.ca); ++r) {
        const char* p = static_cast<const char*>(out->sqlvar[2 * r + 1].sqldata);
        uint16_t n;
        std::memcpy(&n, p, 2);
        buf.assign(p + 2, n);
        bytes += buf.size();
        ++rows;
      }
    }
    c.Check(c.ca.sqlcode, "fetch");
    L().dbpp_close(&c.ca, "s");
    c.Drop(sel);
  }
  L().dbpp_rollback(&c.ca, 0);
  L().free_filled_sqlda(in);
  L().free_filled_sqlda(out);
  Require(rows == z.smallBlobs && bytes == static_cast<size_t>(z.smallBlobs * z.smallBlobSize),
          "small blobs read back wrong");
}

// A scrollable read-only cursor positioned by absolute fetches of one row.
void Scroll(benchmark::State& state, const std::string& workload) {
  int64_t rows, moves;
  ScrollShape(workload, rows, moves);
  Conn c;
  const std::vector<int32_t> pos = ScrollPositions(moves, rows);
  RowDescriptor one(1);
  RowReader r;
  for (auto _ : state) {
    int16_t stmt = c.Prepare(ScrollSql(rows));
    c.Check(L().dbpp_declare(&c.ca, "s", nullptr, "VDB", &stmt, CUR_READONLY), "declare");
    c.Check(L().dbpp_open(&c.ca, "s", nullptr, "VDB", &stmt, nullptr, nullptr, 0, CUR_READONLY), "open");
    for (int32_t p : pos) {
      if (L().dbpp_fetch_array(&c.ca, "s", FETCH_ABSOLUTE, p, one.da, nullptr, 0, 1) == 0) r.Read(one.da->sqlvar);
      c.Check(c.ca.sqlcode, "fetch absolute");
    }
    L().dbpp_close(&c.ca, "s");
    c.Drop(stmt);
  }
  RequireScrollReached(r.rows, r.sumI, moves, pos);
}

// Connections to the running engine: a first connection holds the
// database open, as a server's own clients would find it.
void Connect(benchmark::State& state) {
  Conn holder;
  const std::string params = ConnectString();
  const int64_t n = CurrentSizes().connects;
  Conn c(false);
  for (auto _ : state) {
    for (int64_t k = 0; k < n; ++k) {
      c.Check(L().db_string_connect(&c.ca, params.c_str()), "connect");
      c.Check(L().db_string_disconnect(&c.ca, nullptr), "disconnect");
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Case> cases = {
      {"scan", Scan},   {"insert", Insert},       {"lookup", Lookup},   {"blob_big", BlobBig},
      {"blob_small", BlobSmall}, {"connect", Connect},
  };
  AddScrollCases(cases, Scroll);
  return RunContender(argc, argv, cases);
}
