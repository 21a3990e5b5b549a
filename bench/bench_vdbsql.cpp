// vdbsql's printers against its fetching: the suite's scan of table t read
// the way the tool reads a result (a forward-only TAsaSQL cursor, every
// value of every row taken as a Variant), once without printing and once
// printed in each format to /dev/null. The goal is that printing costs at
// most as much again as fetching: fetch and print within twice the fetch.
//
//   bench_vdbsql [benchmark flags]     (VDB_BENCH_SCALE shrinks the table)
//
// A program of its own, not one of the suite's contenders: it measures the
// tool, not a way to reach the database.
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "BenchCommon.h"
#include "Formatter.h"
#include "asa/VdbAsa.h"
#include "rtl/Variants.h"

namespace {

namespace fs = std::filesystem;
using namespace vdbbench;

struct Database {
  fs::path Dir;
  std::string File;
  Database() {
    Dir = fs::temp_directory_path() / ("bench_vdbsql-" + std::to_string(::getpid()));
    fs::create_directories(Dir);
    File = (Dir / "bench.db").string();
    GenerateDatabase(File, CurrentSizes());
  }
  ~Database() {
    std::error_code Ec;
    fs::remove_all(Dir, Ec);
  }
};

struct Connection {
  std::unique_ptr<vdb::TAsaSession> S = std::make_unique<vdb::TAsaSession>(nullptr);
  explicit Connection(const std::string& File) {
    S->SetLibraryFile("dblib7.dll");
    S->SetServerType(vdb::stServer);
    S->SetLoginEngineName("bench");
    S->SetLoginDatabase(File);
    S->SetLoginUser("DBA");
    S->SetLoginPassword("SQL");
    S->SetWantRowCounts(false);  // as vdbsql connects
    S->Open();
  }
  ~Connection() { S->Close(); }
};

Connection* Conn = nullptr;
constexpr int kRepetitions = 5;

// One scan; Writer null: fetch only. Answers the rows read.
int64_t Scan(vdbsql::TResultWriter* Writer) {
  vdb::TAsaSQL Q(nullptr);
  Q.SetSession(Conn->S.get());
  Q.SetWantExceptions(true);
  Q.SetCursorType(vdb::actNoScroll);
  Require(Q.OpenRead(kScanSql, {}), "open the scan");
  const int32_t N = Q.FieldCount();
  std::vector<vdbsql::TResultColumn> Columns;
  for (int32_t I = 0; I < N; ++I) {
    const vdb::TVantorFieldDef* Def = Q.FieldDefs()->Items(I);
    Columns.push_back({Q.GetFieldName(I), Def->FieldType, 0});
  }
  if (Writer) Writer->BeginResult(Columns);
  std::vector<vcl::Variant> Values(static_cast<size_t>(N));
  std::vector<vcl::Variant> Index;
  for (int32_t I = 0; I < N; ++I) Index.emplace_back(I);
  int64_t Rows = 0;
  for (bool Have = true; Have; Have = Q.Next()) {
    for (int32_t I = 0; I < N; ++I)
      Values[I] = Q.IsFieldNull(Index[I]) ? vcl::Null() : Q.GetFieldValue(Index[I]);
    if (Writer) Writer->Row(Values);
    ++Rows;
  }
  if (Writer) Writer->EndResult();
  Q.Close();
  return Rows;
}

void Run(benchmark::State& State, bool Print, vdbsql::TOutputFormat Format) {
  std::FILE* Out = std::fopen("/dev/null", "w");
  std::setvbuf(Out, nullptr, _IOFBF, 1 << 16);  // as vdbsql writes to a file or pipe
  auto Writer = vdbsql::CreateResultWriter(Format, Out, "", false);
  int64_t Rows = 0;
  for (auto _ : State) Rows = Scan(Print ? Writer.get() : nullptr);
  if (Rows != CurrentSizes().scanRows) State.SkipWithError("the scan read a wrong number of rows");
  State.SetItemsProcessed(State.iterations() * Rows);
  Writer.reset();
  std::fclose(Out);
}

// Keeps each benchmark's least CPU time over its repetitions for the ratios
// printed at the end: the machine may be shared, and the least time is the
// one least disturbed by others.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run& R : Runs) {
      if (R.error_occurred || R.run_type != Run::RT_Iteration) continue;
      const double T = R.GetAdjustedCPUTime();
      auto [It, New] = Seconds.emplace(R.run_name.function_name, T);
      if (!New && T < It->second) It->second = T;
    }
  }
  std::map<std::string, double> Seconds;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Database Db;
  Connection C(Db.File);
  Conn = &C;
  const struct {
    const char* Name;
    vdbsql::TOutputFormat Format;
  } kFormats[] = {{"csv", vdbsql::ofCsv}, {"tsv", vdbsql::ofTsv}, {"json", vdbsql::ofJson}, {"table", vdbsql::ofTable}};
  benchmark::RegisterBenchmark("fetch", [](benchmark::State& S) { Run(S, false, vdbsql::ofCsv); })
      ->Unit(benchmark::kSecond)->Repetitions(kRepetitions);
  for (const auto& F : kFormats) {
    const vdbsql::TOutputFormat Format = F.Format;
    benchmark::RegisterBenchmark((std::string("print/") + F.Name).c_str(),
                                 [Format](benchmark::State& S) { Run(S, true, Format); })
        ->Unit(benchmark::kSecond)->Repetitions(kRepetitions);
  }
  TRatioReporter Reporter;
  benchmark::RunSpecifiedBenchmarks(&Reporter);
  benchmark::Shutdown();
  Conn = nullptr;

  const auto Fetch = Reporter.Seconds.find("fetch");
  if (Fetch == Reporter.Seconds.end()) return 1;
  std::printf("\n%llu rows; CPU time of fetch and print against fetch alone (goal: at most 2.00)\n",
              static_cast<unsigned long long>(CurrentSizes().scanRows));
  bool Met = true;
  for (const auto& F : kFormats) {
    const auto It = Reporter.Seconds.find(std::string("print/") + F.Name);
    if (It == Reporter.Seconds.end()) continue;
    const double Ratio = It->second / Fetch->second;
    std::printf("  %-6s %5.2f  %s\n", F.Name, Ratio, Ratio <= 2.0 ? "met" : "NOT MET");
    Met = Met && Ratio <= 2.0;
  }
  return Met ? 0 : 1;
}
