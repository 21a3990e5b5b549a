// The baseline: the raw SQLite C API on the benchmark file, the physical
// limit under our server. Written as SQLite's documentation advises for
// speed: statements prepared once and reset between executions, values bound
// without copies (SQLITE_STATIC), one explicit transaction around bulk
// writes, column values read straight from the statement.
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

using namespace vdbbench;

struct Db {
  sqlite3* db = nullptr;
  explicit Db(int flags = SQLITE_OPEN_READWRITE) {
    Require(sqlite3_open_v2(DatabaseFile().c_str(), &db, flags, nullptr) == SQLITE_OK, "open the database");
  }
  ~Db() { sqlite3_close(db); }
  void Exec(const char* sql) {
    Require(sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK, std::string(sql) + ": " + sqlite3_errmsg(db));
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* st = nullptr;
    Require(sqlite3_prepare_v2(db, sql, -1, &st, nullptr) == SQLITE_OK, std::string(sql) + ": " + sqlite3_errmsg(db));
    return st;
  }
};

// What every contender does with a fetched row: each value lands in a
// variable of the reader's own (strings copied to a buffer).
struct RowReader {
  int64_t rows = 0, sumI = 0;
  double sumD = 0;
  size_t bytes = 0;
  char s[64], ts[32];
  void Read(sqlite3_stmt* st) {
    ++rows;
    sumI += sqlite3_column_int64(st, 0);
    size_t n = static_cast<size_t>(sqlite3_column_bytes(st, 1));
    std::memcpy(s, sqlite3_column_text(st, 1), std::min(n, sizeof s));
    sumD += sqlite3_column_double(st, 2);
    size_t m = static_cast<size_t>(sqlite3_column_bytes(st, 3));
    std::memcpy(ts, sqlite3_column_text(st, 3), std::min(m, sizeof ts));
    bytes += n + m + static_cast<unsigned char>(s[0]) + static_cast<unsigned char>(ts[0]);
  }
};

void Scan(benchmark::State& state) {
  Db db(SQLITE_OPEN_READONLY);
  const int64_t n = CurrentSizes().scanRows;
  RowReader r;
  for (auto _ : state) {
    sqlite3_stmt* st = db.Prepare(kScanSql);
    while (sqlite3_step(st) == SQLITE_ROW) r.Read(st);
    sqlite3_finalize(st);
  }
  benchmark::DoNotOptimize(r.bytes);
  Require(r.rows == n && r.sumI == n * (n + 1) / 2, "scan read wrong rows");
}

// The counting pass an exact row count at open costs at most: stepping
// through the result without reading a column.
void ScanSteps(benchmark::State& state) {
  Db db(SQLITE_OPEN_READONLY);
  int64_t rows = 0;
  for (auto _ : state) {
    sqlite3_stmt* st = db.Prepare(kScanSql);
    while (sqlite3_step(st) == SQLITE_ROW) ++rows;
    sqlite3_finalize(st);
  }
  Require(rows == CurrentSizes().scanRows, "step pass counted wrong rows");
}

void Insert(benchmark::State& state) {
  Db db;
  std::vector<RowValues> values;
  for (int64_t i = 1; i <= CurrentSizes().inserts; ++i) values.push_back(MakeRow(i));
  int64_t done = 0;
  for (auto _ : state) {
    db.Exec("begin");
    sqlite3_stmt* st = db.Prepare(kInsertSql);
    for (const RowValues& v : values) {
      sqlite3_bind_int64(st, 1, v.i);
      sqlite3_bind_text(st, 2, v.s.data(), static_cast<int>(v.s.size()), SQLITE_STATIC);
      sqlite3_bind_double(st, 3, v.d);
      sqlite3_bind_text(st, 4, v.ts.data(), static_cast<int>(v.ts.size()), SQLITE_STATIC);
      if (sqlite3_step(st) == SQLITE_DONE) ++done;
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  db.Exec("rollback");
  Require(done == static_cast<int64_t>(values.size()), "inserts failed");
}

void Lookup(benchmark::State& state) {
  Db db(SQLITE_OPEN_READONLY);
  const std::vector<int64_t> keys = LookupKeys(CurrentSizes().lookups, CurrentSizes().scanRows);
  RowReader r;
  for (auto _ : state) {
    sqlite3_stmt* st = db.Prepare(kLookupSql);
    for (int64_t k : keys) {
      sqlite3_bind_int64(st, 1, k);
      if (sqlite3_step(st) == SQLITE_ROW) r.Read(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  RequireLookupsFound(r.rows, r.sumI, keys);
}

void BlobBig(benchmark::State& state) {
  Db db;
  const std::string value = BigBlobValue(CurrentSizes().bigBlob);
  std::string back;
  for (auto _ : state) {
    // Each statement commits by itself, as the others' auto-commit does.
    sqlite3_stmt* st = db.Prepare(kBigBlobUpdateSql);
    sqlite3_bind_blob(st, 1, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    Require(sqlite3_step(st) == SQLITE_DONE, "blob update");
    sqlite3_finalize(st);
    st = db.Prepare(kBigBlobSelectSql);
    Require(sqlite3_step(st) == SQLITE_ROW, "blob select");
    back.assign(static_cast<const char*>(sqlite3_column_blob(st, 0)), static_cast<size_t>(sqlite3_column_bytes(st, 0)));
    sqlite3_finalize(st);
  }
  db.Exec("update blobs set b = null where id = 1");
  Require(back == value, "blob read back differs");
}

void BlobSmall(benchmark::State& state) {
  Db db;
  const Sizes& z = CurrentSizes();
  std::vector<std::string> values;
  for (int64_t k = 1; k <= z.smallBlobs; ++k) values.push_back(SmallBlobValue(k, z.smallBlobSize));
  int64_t rows = 0;
  size_t bytes = 0;
  std::string buf;
  for (auto _ : state) {
    db.Exec("begin");
    sqlite3_stmt* st = db.Prepare(kSmallBlobInsertSql);
    for (size_t k = 0; k < values.size(); ++k) {
      sqlite3_bind_int64(st, 1, static_cast<int64_t>(k + 1));
      sqlite3_bind_blob(st, 2, values[k].data(), static_cast<int>(values[k].size()), SQLITE_STATIC);
      Require(sqlite3_step(st) == SQLITE_DONE, "small blob insert");
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    st = db.Prepare(kSmallBlobSelectSql);
    while (sqlite3_step(st) == SQLITE_ROW) {
      ++rows;
      buf.assign(static_cast<const char*>(sqlite3_column_blob(st, 1)), static_cast<size_t>(sqlite3_column_bytes(st, 1)));
      bytes += buf.size();
    }
    sqlite3_finalize(st);
  }
  db.Exec("rollback");
  Require(rows == z.smallBlobs && bytes == static_cast<size_t>(z.smallBlobs * z.smallBlobSize),
          "small blobs read back wrong");
}

// SQLite has no scrollable cursor: the physical limit of "go to row p" of
// the ordered result is a keyed lookup of p (keys are dense from 1).
void Scroll(benchmark::State& state, const std::string& workload) {
  int64_t rows, moves;
  ScrollShape(workload, rows, moves);
  Db db(SQLITE_OPEN_READONLY);
  const std::vector<int32_t> pos = ScrollPositions(moves, rows);
  RowReader r;
  for (auto _ : state) {
    sqlite3_stmt* st = db.Prepare(kLookupSql);
    for (int32_t p : pos) {
      sqlite3_bind_int64(st, 1, p);
      if (sqlite3_step(st) == SQLITE_ROW) r.Read(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
  }
  RequireScrollReached(r.rows, r.sumI, moves, pos);
}

void Connect(benchmark::State& state) {
  const int64_t n = CurrentSizes().connects;
  for (auto _ : state) {
    for (int64_t k = 0; k < n; ++k) {
      sqlite3* db = nullptr;
      Require(sqlite3_open_v2(DatabaseFile().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK, "open");
      sqlite3_close(db);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<Case> cases = {
      {"scan", Scan},         {"scan_steps", ScanSteps}, {"insert", Insert},   {"lookup", Lookup},
      {"blob_big", BlobBig},  {"blob_small", BlobSmall}, {"connect", Connect},
  };
  AddScrollCases(cases, Scroll);
  return RunContender(argc, argv, cases);
}
