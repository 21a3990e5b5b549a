#include "BenchCommon.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "dbsrv/Catalog.h"
#include "dbsrv/Database.h"

namespace vdbbench {

namespace {

int64_t Scaled(int64_t full, double scale, int64_t least) {
  return std::max<int64_t>(least, static_cast<int64_t>(std::llround(static_cast<double>(full) * scale)));
}

std::string Env(const char* name, const char* fallback = "") {
  const char* v = std::getenv(name);
  return v ? v : fallback;
}

// Days from 1970-01-01 to y-m-d (proleptic Gregorian), and back.
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

uint64_t Mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

void Exec(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string text = err ? err : "?";
    sqlite3_free(err);
    throw std::runtime_error(std::string(sql) + ": " + text);
  }
}

}  // namespace

Sizes Sizes::ForScale(double scale) {
  Sizes s;
  s.scale = scale;
  s.scanRows = Scaled(s.scanRows, scale, 2000);
  s.inserts = Scaled(s.inserts, scale, 200);
  s.lookups = Scaled(s.lookups, scale, 200);
  s.bigBlob = Scaled(s.bigBlob, scale, 100000);
  s.smallBlobs = Scaled(s.smallBlobs, scale, 50);
  s.scrollRows = std::min(s.scanRows, Scaled(s.scrollRows, scale, 1000));
  s.scrollMoves = Scaled(s.scrollMoves, scale, 100);
  s.connects = Scaled(s.connects, scale, 10);
  return s;
}

const Sizes& CurrentSizes() {
  static const Sizes s = Sizes::ForScale(std::atof(Env("VDB_BENCH_SCALE", "1").c_str()));
  return s;
}

uint64_t Random::Next() {
  state_ += 0x9e3779b97f4a7c15ULL;
  uint64_t z = state_;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

RowValues MakeRow(int64_t i) {
  // Each row has its own stream, so that a row's values do not depend on
  // how many rows come before it.
  Random r(Mix(kSeed ^ static_cast<uint64_t>(i)));
  RowValues v;
  v.i = i;
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  const int64_t len = r.Between(8, 40);
  v.s.resize(static_cast<size_t>(len));
  for (auto& c : v.s) c = kLetters[r.Next() % (sizeof kLetters - 1)];
  v.d = static_cast<double>(r.Between(-1000000000, 1000000000)) / 1024.0;
  const int64_t days = DaysFromCivil(2000, 1, 1) + r.Between(0, 30 * 365 - 1);
  const int64_t secs = r.Between(0, 86399);
  const int64_t micros = r.Between(0, 999999);
  int y, m, d;
  CivilFromDays(days, y, m, d);
  char ts[64];
  std::snprintf(ts, sizeof ts, "%04d-%02d-%02d %02d:%02d:%02d.%06d", y, m, d, int(secs / 3600), int(secs / 60 % 60),
                int(secs % 60), int(micros));
  v.ts = ts;
  return v;
}

DateTime ParseTimestamp(const std::string& ts) {
  DateTime t{};
  std::sscanf(ts.c_str(), "%d-%d-%d %d:%d:%d.%d", &t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second,
              &t.microsecond);
  return t;
}

std::string BigBlobValue(int64_t size) {
  std::string v(static_cast<size_t>(size), '\0');
  Random r(kSeed + 1);
  for (size_t k = 0; k < v.size(); k += 8) {
    uint64_t x = r.Next();
    std::memcpy(&v[k], &x, std::min<size_t>(8, v.size() - k));
  }
  return v;
}

std::string SmallBlobValue(int64_t k, int64_t size) {
  std::string v(static_cast<size_t>(size), '\0');
  Random r(Mix(kSeed + 2 + static_cast<uint64_t>(k)));
  for (size_t p = 0; p < v.size(); p += 8) {
    uint64_t x = r.Next();
    std::memcpy(&v[p], &x, std::min<size_t>(8, v.size() - p));
  }
  return v;
}

std::vector<int64_t> LookupKeys(int64_t count, int64_t rows) {
  Random r(kSeed + 3);
  std::vector<int64_t> keys(static_cast<size_t>(count));
  for (auto& k : keys) k = r.Between(1, rows);
  return keys;
}

std::vector<int32_t> ScrollPositions(int64_t count, int64_t rows) {
  Random r(kSeed + 4);
  std::vector<int32_t> pos(static_cast<size_t>(count));
  for (auto& p : pos) p = static_cast<int32_t>(r.Between(1, rows));
  return pos;
}

std::string ScrollSql(int64_t rows) {
  return "select i, s, d, ts from t where i <= " + std::to_string(rows) + " order by i";
}

void GenerateDatabase(const std::string& File, const Sizes& S) {
  // The server's catalog first, so that our own server accepts the file;
  // the peers see an ordinary SQLite database with a few extra tables.
  vdbsrv::CreateDatabase(File);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(File.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot open " + File);
  }
  try {
    Exec(db,
         "create table t(i integer primary key, s varchar(40), d double, ts timestamp);"
         "create table ins(i int, s varchar(40), d double, ts timestamp);"
         "create table blobs(id integer primary key, b long binary);"
         "create table blobs2(id integer primary key, b long binary);"
         "insert into blobs(id, b) values (1, null);"
         "begin");
    sqlite3_stmt* st = nullptr;
    Require(sqlite3_prepare_v2(db, "insert into t(i, s, d, ts) values (?, ?, ?, ?)", -1, &st, nullptr) == SQLITE_OK,
            "prepare the generator's insert");
    for (int64_t i = 1; i <= S.scanRows; ++i) {
      RowValues v = MakeRow(i);
      sqlite3_bind_int64(st, 1, v.i);
      sqlite3_bind_text(st, 2, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC);
      sqlite3_bind_double(st, 3, v.d);
      sqlite3_bind_text(st, 4, v.ts.data(), static_cast<int>(v.ts.size()), SQLITE_STATIC);
      if (sqlite3_step(st) != SQLITE_DONE) {
        sqlite3_finalize(st);
        throw std::runtime_error(std::string("generate: ") + sqlite3_errmsg(db));
      }
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    Exec(db, "commit; analyze");
  } catch (...) {
    sqlite3_close(db);
    throw;
  }
  sqlite3_close(db);
  // Starting the database once completes what our server keeps in the file
  // (its catalog tables and views), so that every cell, whichever runs
  // first, opens the same schema.
  { vdbsrv::Database started(File, "bench", "bench", "", false); }
  if (sqlite3_open_v2(File.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK)
    sqlite3_exec(db, "pragma wal_checkpoint(truncate)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

const std::vector<WorkloadInfo>& Workloads() {
  static const std::vector<WorkloadInfo> w = {
      {"scan", "scan: read every value of (INT, VARCHAR(40), DOUBLE, TIMESTAMP) rows"},
      {"insert", "insert: prepared INSERTs with 4 parameters, one transaction"},
      {"lookup", "point lookups: prepared primary-key SELECT, one parameter"},
      {"blob_big", "blob: write and read back one large value"},
      {"blob_small", "blob: write and read back 2 kB values, one transaction"},
      {"scroll", "scroll: random absolute moves in a scrollable cursor"},
      {"connect", "connect: connect/disconnect cycles"},
  };
  return w;
}

const std::string& DatabaseFile() {
  static const std::string f = Env("VDB_BENCH_DB");
  return f;
}

namespace {
std::string gVariant;
}

const std::string& ContenderVariant() { return gVariant; }

void ScrollShape(const std::string& Workload, int64_t& Rows, int64_t& Moves) {
  const Sizes& s = CurrentSizes();
  Rows = s.scrollRows;
  Moves = s.scrollMoves;
  if (Workload.find("small") != std::string::npos) Rows = std::max<int64_t>(100, Rows / 10);
  if (Workload.find("x2") != std::string::npos) Moves *= 2;
}

void Require(bool Ok, const std::string& What) {
  if (!Ok) throw std::runtime_error(What);
}

void RequireLookupsFound(int64_t Rows, int64_t SumI, const std::vector<int64_t>& Keys) {
  int64_t want = 0;
  for (int64_t k : Keys) want += k;
  Require(Rows == static_cast<int64_t>(Keys.size()) && SumI == want, "lookups found wrong rows");
}

void RequireScrollReached(int64_t Rows, int64_t SumI, int64_t Moves, const std::vector<int32_t>& Positions) {
  int64_t want = 0;
  for (int32_t p : Positions) want += p;
  Require(Rows == Moves && SumI == want, "scroll reached wrong rows");
}

void AddScrollCases(std::vector<Case>& Cases,
                    const std::function<void(benchmark::State&, const std::string&)>& Scroll) {
  for (const char* w : {"scroll", "scroll_x2", "scroll_small", "scroll_small_x2"})
    Cases.push_back({w, [Scroll, w](benchmark::State& s) { Scroll(s, w); }});
}

namespace {

// Keeps the fastest and the mean time of the repetitions; errors win.
class ResultReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      if (r.error_occurred) {
        error_ = r.error_message.empty() ? "failed" : r.error_message;
        continue;
      }
      const double t = r.real_accumulated_time / static_cast<double>(std::max<int64_t>(1, r.iterations));
      min_ = count_ == 0 ? t : std::min(min_, t);
      sum_ += t;
      ++count_;
    }
  }
  std::string Line() const {
    if (!error_.empty()) return "error " + error_;
    if (count_ == 0) return "error no run";
    char buf[64];
    std::snprintf(buf, sizeof buf, "ok %.9f %.9f", min_, sum_ / count_);
    return buf;
  }

 private:
  double min_ = 0, sum_ = 0;
  int count_ = 0;
  std::string error_;
};

}  // namespace

int RunContender(int argc, char** argv, const std::vector<Case>& Cases) {
  std::vector<char*> args;
  std::string workload;
  bool list = false;
  for (int k = 0; k < argc; ++k) {
    std::string a = argv[k];
    if (k > 0 && a == "--list") list = true;
    else if (k > 0 && a.rfind("--variant=", 0) == 0) gVariant = a.substr(10);
    else if (k > 0 && a[0] != '-' && workload.empty()) workload = a;
    else args.push_back(argv[k]);
  }
  if (list) {
    for (const Case& c : Cases) std::printf("%s\n", c.workload.c_str());
    return 0;
  }
  const Case* chosen = nullptr;
  for (const Case& c : Cases)
    if (c.workload == workload) chosen = &c;
  const std::string resultFile = Env("VDB_BENCH_RESULT");
  auto writeResult = [&](const std::string& line) {
    if (resultFile.empty()) {
      std::printf("%s\n", line.c_str());
      return;
    }
    std::ofstream(resultFile) << line << "\n";
  };
  if (!chosen) {
    writeResult("error unknown workload '" + workload + "'");
    return 2;
  }
  if (DatabaseFile().empty()) {
    writeResult("error VDB_BENCH_DB is not set");
    return 2;
  }
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  const int reps = std::max(1, std::atoi(Env("VDB_BENCH_REPS", "3").c_str()));
  auto fn = chosen->run;
  benchmark::RegisterBenchmark(workload.c_str(),
                               [fn](benchmark::State& state) {
                                 try {
                                   fn(state);
                                 } catch (const std::exception& e) {
                                   state.SkipWithError(e.what());
                                 }
                               })
      ->Iterations(1)
      ->Repetitions(reps)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  ResultReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  writeResult(reporter.Line());
  return 0;
}

}  // namespace vdbbench
