// The client library against the raw SQLite C API on the same file:
// block fetch, prepared inserts with host variables, a streaming cursor's
// memory, and a long value written through a server variable and read in
// pieces. Prints the ratio of each pair at the end.
//
// VDB_BENCH_ROWS sets the row count of the fetch benchmarks (1,000,000).
#include "dbsrv/Catalog.h"
#include "rtl/Windows.h"
#include "vdb_esql.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

int64_t Rows() {
  const char* env = std::getenv("VDB_BENCH_ROWS");
  return env ? std::atoll(env) : 1000000;
}

struct Fixture {
  fs::path dir;
  std::string file;
  vcl::HMODULE lib = nullptr;
  SQLCA ca{};
#define ENTRY(name) name##_fn name = nullptr;
  ENTRY(db_init) ENTRY(db_fini) ENTRY(db_string_connect) ENTRY(db_string_disconnect) ENTRY(alloc_sqlda)
  ENTRY(fill_sqlda) ENTRY(free_filled_sqlda) ENTRY(dbpp_prepare) ENTRY(dbpp_dropstmt) ENTRY(dbpp_declare)
  ENTRY(dbpp_open) ENTRY(dbpp_close) ENTRY(dbpp_fetch_array) ENTRY(dbpp_execute_into) ENTRY(dbpp_execute_imm)
  ENTRY(dbpp_commit) ENTRY(dbpp_get_data)
#undef ENTRY

  Fixture() {
    dir = fs::temp_directory_path() / ("vdb-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    file = (dir / "bench.db").string();
    vdbsrv::CreateDatabase(file);
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    sqlite3_exec(db,
                 "create table t(i int, s varchar(40), d double, ts timestamp);"
                 "create table ins(i int, s varchar(40), d double);"
                 "create table blobs(id int, b long binary)",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "insert into t values (?, ?, ?, ?)", -1, &st, nullptr);
    for (int64_t i = 0; i < Rows(); ++i) {
      char s[64], ts[32];
      std::snprintf(s, sizeof s, "row number %lld of the benchmark", static_cast<long long>(i));
      std::snprintf(ts, sizeof ts, "2024-%02d-%02d 12:%02d:%02d", int(i % 12 + 1), int(i % 28 + 1),
                    int(i % 60), int(i / 60 % 60));
      sqlite3_bind_int64(st, 1, i);
      sqlite3_bind_text(st, 2, s, -1, SQLITE_TRANSIENT);
      sqlite3_bind_double(st, 3, i * 0.5);
      sqlite3_bind_text(st, 4, ts, -1, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_close(db);

    lib = vcl::LoadLibrary("dblib7.dll");
    if (!lib) throw std::runtime_error("cannot load dblib7.dll");
#define BIND(name) name = reinterpret_cast<name##_fn>(vcl::GetProcAddress(lib, #name));
    BIND(db_init) BIND(db_fini) BIND(db_string_connect) BIND(db_string_disconnect) BIND(alloc_sqlda)
    BIND(fill_sqlda) BIND(free_filled_sqlda) BIND(dbpp_prepare) BIND(dbpp_dropstmt) BIND(dbpp_declare)
    BIND(dbpp_open) BIND(dbpp_close) BIND(dbpp_fetch_array) BIND(dbpp_execute_into) BIND(dbpp_execute_imm)
    BIND(dbpp_commit) BIND(dbpp_get_data)
#undef BIND
    db_init(&ca);
    std::memcpy(ca.sqlcaid, "SQLCA", 6);
    ca.sqlcabc = sizeof ca;
    if (db_string_connect(&ca, ("uid=DBA;pwd=SQL;eng=bench;dbf=" + file).c_str()) != 0)
      throw std::runtime_error("connect failed");
  }
  ~Fixture() {
    db_string_disconnect(&ca, nullptr);
    db_fini(&ca);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void Check(int32_t rc, const char* what) {
    if (rc < 0) throw std::runtime_error(std::string(what) + " failed: " + std::to_string(rc));
  }
};

Fixture& F() {
  static Fixture f;
  return f;
}

void RawFetch(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(F().file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  char s[41], ts[27];
  for (auto _ : state) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "select i, s, d, ts from t", -1, &st, nullptr);
    int64_t sum = 0;
    while (sqlite3_step(st) == SQLITE_ROW) {
      sum += sqlite3_column_int(st, 0);
      std::strncpy(s, reinterpret_cast<const char*>(sqlite3_column_text(st, 1)), sizeof s - 1);
      sum += static_cast<int64_t>(sqlite3_column_double(st, 2));
      std::strncpy(ts, reinterpret_cast<const char*>(sqlite3_column_text(st, 3)), sizeof ts - 1);
      sum += s[0] + ts[0];
    }
    sqlite3_finalize(st);
    benchmark::DoNotOptimize(sum);
  }
  sqlite3_close(db);
}

void FetchArray(benchmark::State& state, uint32_t flags) {
  Fixture& f = F();
  constexpr int kRows = 25;
  int16_t stmt = 0;
  f.Check(f.dbpp_prepare(&f.ca, nullptr, "VDB", &stmt, "select i, s, d, ts from t", nullptr, 1), "prepare");
  SQLDA* da = f.alloc_sqlda(kRows * 4);
  for (int r = 0; r < kRows; ++r) {
    da->sqlvar[r * 4 + 0].sqltype = DT_INT, da->sqlvar[r * 4 + 0].sqllen = 4;
    da->sqlvar[r * 4 + 1].sqltype = DT_STRING, da->sqlvar[r * 4 + 1].sqllen = 41;
    da->sqlvar[r * 4 + 2].sqltype = DT_DOUBLE, da->sqlvar[r * 4 + 2].sqllen = 8;
    da->sqlvar[r * 4 + 3].sqltype = DT_TIMESTAMP_STRUCT, da->sqlvar[r * 4 + 3].sqllen = 14;
  }
  f.fill_sqlda(da);
  for (auto _ : state) {
    f.Check(f.dbpp_declare(&f.ca, "c", nullptr, "VDB", &stmt, flags), "declare");
    f.Check(f.dbpp_open(&f.ca, "c", nullptr, "VDB", &stmt, nullptr, nullptr, 0, flags), "open");
    int64_t rows = 0;
    while (f.dbpp_fetch_array(&f.ca, "c", FETCH_RELATIVE, 1, da, nullptr, 0, kRows) == 0)
      rows += SQLCOUNT(f.ca);
    f.dbpp_close(&f.ca, "c");
    if (rows != Rows()) state.SkipWithError("wrong row count");
  }
  f.free_filled_sqlda(da);
  f.dbpp_dropstmt(&f.ca, nullptr, "VDB", &stmt);
}

void RawInsert(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open(F().file.c_str(), &db);
  for (auto _ : state) {
    sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "insert into ins values (?, ?, ?)", -1, &st, nullptr);
    for (int i = 0; i < 100000; ++i) {
      sqlite3_bind_int(st, 1, i);
      sqlite3_bind_text(st, 2, "a value of the insert", -1, SQLITE_STATIC);
      sqlite3_bind_double(st, 3, i * 0.25);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
}

void ExecuteInsert(benchmark::State& state) {
  Fixture& f = F();
  int16_t stmt = 0;
  f.Check(f.dbpp_prepare(&f.ca, nullptr, "VDB", &stmt, "insert into ins values (?, ?, ?)", nullptr, 1), "prepare");
  SQLDA* da = f.alloc_sqlda(3);
  da->sqlvar[0].sqltype = DT_INT, da->sqlvar[0].sqllen = 4;
  da->sqlvar[1].sqltype = DT_STRING, da->sqlvar[1].sqllen = 41;
  da->sqlvar[2].sqltype = DT_DOUBLE, da->sqlvar[2].sqllen = 8;
  f.fill_sqlda(da);
  std::strcpy(static_cast<char*>(da->sqlvar[1].sqldata), "a value of the insert");
  for (auto _ : state) {
    for (int i = 0; i < 100000; ++i) {
      *static_cast<int32_t*>(da->sqlvar[0].sqldata) = i;
      *static_cast<double*>(da->sqlvar[2].sqldata) = i * 0.25;
      f.Check(f.dbpp_execute_into(&f.ca, nullptr, "VDB", &stmt, da, nullptr), "insert");
    }
    f.dbpp_execute_imm(&f.ca, "rollback", 2);
  }
  f.free_filled_sqlda(da);
  f.dbpp_dropstmt(&f.ca, nullptr, "VDB", &stmt);
}

constexpr size_t kBlob = 10 * 1024 * 1024;

std::string BlobValue() {
  std::string v(kBlob, '\0');
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<char>(i * 31 + i / 7);
  return v;
}

void RawBlob(benchmark::State& state) {
  std::string value = BlobValue();
  sqlite3* db = nullptr;
  sqlite3_open(F().file.c_str(), &db);
  for (auto _ : state) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "insert into blobs values (1, ?)", -1, &st, nullptr);
    sqlite3_bind_blob(st, 1, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    sqlite3_step(st);
    sqlite3_finalize(st);
    sqlite3_prepare_v2(db, "select b from blobs where id = 1", -1, &st, nullptr);
    sqlite3_step(st);
    std::string back(static_cast<const char*>(sqlite3_column_blob(st, 0)),
                     static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    sqlite3_finalize(st);
    sqlite3_exec(db, "delete from blobs", nullptr, nullptr, nullptr);
    if (back != value) state.SkipWithError("blob differs");
  }
  sqlite3_close(db);
}

void LibraryBlob(benchmark::State& state) {
  Fixture& f = F();
  std::string value = BlobValue();
  int16_t append = 0, insert = 0, select = 0;
  f.Check(f.dbpp_execute_imm(&f.ca, "create variable bv long binary", 2), "create variable");
  f.Check(f.dbpp_prepare(&f.ca, nullptr, "VDB", &append, "set bv = bv || ?", nullptr, 1), "prepare");
  f.Check(f.dbpp_prepare(&f.ca, nullptr, "VDB", &insert, "insert into blobs values (1, bv)", nullptr, 1), "prepare");
  f.Check(f.dbpp_prepare(&f.ca, nullptr, "VDB", &select, "select b from blobs where id = 1", nullptr, 1), "prepare");
  SQLDA* piece = f.alloc_sqlda(1);
  piece->sqlvar[0].sqltype = DT_BINARY;
  piece->sqlvar[0].sqllen = 32767;
  f.fill_sqlda(piece);
  char* buf = static_cast<char*>(piece->sqlvar[0].sqldata);
  for (auto _ : state) {
    f.Check(f.dbpp_execute_imm(&f.ca, "set bv = ''", 2), "set");
    for (size_t sent = 0; sent < value.size();) {
      uint16_t n = static_cast<uint16_t>(std::min<size_t>(32765, value.size() - sent));
      std::memcpy(buf, &n, 2);
      std::memcpy(buf + 2, value.data() + sent, n);
      f.Check(f.dbpp_execute_into(&f.ca, nullptr, "VDB", &append, piece, nullptr), "append");
      sent += n;
    }
    f.Check(f.dbpp_execute_into(&f.ca, nullptr, "VDB", &insert, nullptr, nullptr), "insert");
    f.Check(f.dbpp_declare(&f.ca, "b", nullptr, "VDB", &select, CUR_READONLY | CUR_NOSCROLL), "declare");
    f.Check(f.dbpp_open(&f.ca, "b", nullptr, "VDB", &select, nullptr, nullptr, 0, CUR_READONLY | CUR_NOSCROLL), "open");
    f.Check(f.dbpp_fetch_array(&f.ca, "b", FETCH_RELATIVE, 1, nullptr, nullptr, 0, 1), "fetch");
    std::string back;
    int32_t rc;
    do {
      rc = f.dbpp_get_data(&f.ca, "b", 1, static_cast<uint32_t>(back.size()), piece, 0);
      uint16_t n;
      std::memcpy(&n, buf, 2);
      back.append(buf + 2, n);
    } while (rc == SQLE_TRUNCATED);
    f.dbpp_close(&f.ca, "b");
    f.Check(f.dbpp_execute_imm(&f.ca, "delete from blobs; commit", 2), "delete");
    if (back != value) state.SkipWithError("blob differs");
  }
  f.free_filled_sqlda(piece);
}

long PeakKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Records every run's time so that the pairs can be compared at the end.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      std::string name = r.benchmark_name();
      times_[name.substr(0, name.find("/iterations"))] = r.GetAdjustedRealTime();
    }
  }
  void Ratios() const {
    struct Pair {
      const char* name;
      const char* ours;
      const char* raw;
      double limit;
    } pairs[] = {
        {"fetch_array 25-row blocks, no-scroll", "FetchArray/NoScroll", "RawFetch", 1.3},
        {"fetch_array 25-row blocks, dynamic scroll", "FetchArray/DynamicScroll", "RawFetch", 0},
        {"prepared insert with host variables", "ExecuteInsert", "RawInsert", 1.3},
        {"10 MB long binary via variable and get_data", "LibraryBlob", "RawBlob", 3.0},
    };
    std::printf("\nratios against raw SQLite in this run:\n");
    for (const Pair& p : pairs) {
      auto a = times_.find(p.ours), b = times_.find(p.raw);
      if (a == times_.end() || b == times_.end() || b->second <= 0) continue;
      double ratio = a->second / b->second;
      if (p.limit > 0)
        std::printf("  %-46s %5.2f (goal <= %.1f)%s\n", p.name, ratio, p.limit, ratio <= p.limit ? "" : "  MISSED");
      else
        std::printf("  %-46s %5.2f\n", p.name, ratio);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  F();
  RatioReporter reporter;
  benchmark::RegisterBenchmark("RawFetch", RawFetch)->Unit(benchmark::kMillisecond)->Iterations(3);
  long before = PeakKb();
  benchmark::RegisterBenchmark("FetchArray/NoScroll", FetchArray, CUR_READONLY | CUR_NOSCROLL)
      ->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  long afterStreaming = PeakKb();
  benchmark::ClearRegisteredBenchmarks();
  benchmark::RegisterBenchmark("RawInsert", RawInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::RegisterBenchmark("ExecuteInsert", ExecuteInsert)->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::RegisterBenchmark("RawBlob", RawBlob)->Unit(benchmark::kMillisecond)->Iterations(3);
  benchmark::RegisterBenchmark("LibraryBlob", LibraryBlob)->Unit(benchmark::kMillisecond)->Iterations(3);
  // A scrolling cursor keeps the rows it has read; it runs last.
  benchmark::RegisterBenchmark("FetchArray/DynamicScroll", FetchArray, CUR_READONLY)
      ->Unit(benchmark::kMillisecond)->Iterations(1);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Ratios();
  std::printf("  peak memory growth of the no-scroll cursor runs: %ld kB over %lld rows\n", afterStreaming - before,
              static_cast<long long>(Rows()));
  benchmark::Shutdown();
  return 0;
}
