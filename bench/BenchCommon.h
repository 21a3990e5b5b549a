// What every benchmark program of the suite shares: the workload sizes, the
// seeded data of the benchmark database, and the main routine that runs one
// workload of one contender and writes its timing for the suite's driver.
//
// A contender program is called as `bench_x --list` (prints the workloads it
// supports) or `bench_x WORKLOAD [--variant=V] [benchmark flags]`; the driver
// passes the database file, the scale, the repetitions and the result file in
// the environment (VDB_BENCH_DB, VDB_BENCH_SCALE, VDB_BENCH_REPS,
// VDB_BENCH_RESULT).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vdbbench {

// Sizes of the workloads. Scale 1 is the suite's full size; smaller scales
// shrink every count (never below a useful minimum) for quick runs.
struct Sizes {
  double scale = 1;
  int64_t scanRows = 1000000;     // rows of table t, read by the scan
  int64_t inserts = 100000;       // prepared INSERTs in one transaction
  int64_t lookups = 100000;       // primary-key SELECTs
  int64_t bigBlob = 10 << 20;     // bytes of the one large blob
  int64_t smallBlobs = 10000;     // count of the small blobs
  int64_t smallBlobSize = 2048;   // bytes of each small blob (not scaled)
  int64_t scrollRows = 100000;    // rows of the scrollable cursor
  int64_t scrollMoves = 10000;    // random absolute moves in it
  int64_t connects = 1000;        // connect/disconnect cycles

  static Sizes ForScale(double scale);
};

// The sizes for VDB_BENCH_SCALE (1 when unset).
const Sizes& CurrentSizes();

// Deterministic pseudo-random numbers (splitmix64): the same seed gives the
// same sequence on every machine.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // Uniform in [lo, hi].
  int64_t Between(int64_t lo, int64_t hi) { return lo + static_cast<int64_t>(Next() % uint64_t(hi - lo + 1)); }

 private:
  uint64_t state_;
};

inline constexpr uint64_t kSeed = 20261211;

// The values of row i (1-based) of table t, and of the i-th insert.
struct RowValues {
  int64_t i;
  std::string s;   // 8 to 40 characters
  double d;
  std::string ts;  // "yyyy-mm-dd hh:nn:ss.ffffff" between 2000 and 2029
};
RowValues MakeRow(int64_t i);

// Broken-down timestamp of a RowValues::ts, for contenders with a typed
// date-time parameter.
struct DateTime {
  int year, month, day, hour, minute, second, microsecond;
};
DateTime ParseTimestamp(const std::string& ts);

// Bytes of the large blob (seeded) and of small blob number k.
std::string BigBlobValue(int64_t size);
std::string SmallBlobValue(int64_t k, int64_t size);
// Seeded primary keys for the lookups and positions for the scroll moves.
std::vector<int64_t> LookupKeys(int64_t count, int64_t rows);
std::vector<int32_t> ScrollPositions(int64_t count, int64_t rows);

// The SQL every contender runs (parameters as "?").
inline constexpr const char* kScanSql = "select i, s, d, ts from t";
inline constexpr const char* kInsertSql = "insert into ins(i, s, d, ts) values (?, ?, ?, ?)";
inline constexpr const char* kLookupSql = "select i, s, d, ts from t where i = ?";
inline constexpr const char* kBigBlobUpdateSql = "update blobs set b = ? where id = 1";
inline constexpr const char* kBigBlobSelectSql = "select b from blobs where id = 1";
inline constexpr const char* kSmallBlobInsertSql = "insert into blobs2(id, b) values (?, ?)";
inline constexpr const char* kSmallBlobSelectSql = "select id, b from blobs2";
// Rows 1..n of t in key order, for the scrollable cursor.
std::string ScrollSql(int64_t rows);

// Creates the benchmark database at File with the sizes given (the file
// must not exist). The data depends only on the seed and the sizes, so
// every run at one scale reads identical tables.
void GenerateDatabase(const std::string& File, const Sizes& S);

// The workloads of the suite, in report order. The scroll workload runs at
// two cursor sizes and two move counts so that the driver can tell the
// cost of one move at each size (see the driver).
struct WorkloadInfo {
  const char* name;
  const char* title;
};
const std::vector<WorkloadInfo>& Workloads();

// Environment of a contender run.
const std::string& DatabaseFile();
const std::string& ContenderVariant();

// The cursor size and move count of a scroll workload name.
void ScrollShape(const std::string& Workload, int64_t& Rows, int64_t& Moves);

// One workload of a contender: a Google Benchmark function that does its
// set-up before the timing loop and verifies its result (SkipWithError on a
// wrong one).
struct Case {
  std::string workload;
  std::function<void(benchmark::State&)> run;
};

// Runs the workload named on the command line (or lists the cases) and
// writes "ok <min seconds> <mean seconds>" or "error <text>" to the result
// file. Answers the process exit code.
int RunContender(int argc, char** argv, const std::vector<Case>& Cases);

// Throws std::runtime_error with What unless Ok.
void Require(bool Ok, const std::string& What);

// Throws unless the lookups of Keys found one row each: Rows rows whose keys
// add up to SumI.
void RequireLookupsFound(int64_t Rows, int64_t SumI, const std::vector<int64_t>& Keys);

// Throws unless Moves moves to Positions read Rows rows whose keys add up to
// SumI (the key of row p is p).
void RequireScrollReached(int64_t Rows, int64_t SumI, int64_t Moves, const std::vector<int32_t>& Positions);

// Adds the four scroll workloads (two cursor sizes, two move counts) run by
// a contender's Scroll function.
void AddScrollCases(std::vector<Case>& Cases,
                    const std::function<void(benchmark::State&, const std::string&)>& Scroll);

}  // namespace vdbbench
