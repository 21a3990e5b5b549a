// The suite's driver: generates the seeded benchmark database, runs every
// workload of every contender in a child process of its own (so that each
// cell's peak memory is its own), and prints one table of times, ratios to
// raw SQLite and peak RSS, followed by the goals and whether they are met.
//
//   vdb_bench [--scale S] [--reps N] [--results FILE] [--notes FILE] [--only w1,w2]
//             [--contenders c1,c2] [--timeout SECONDS]
//   vdb_bench --generate FILE [--scale S]
//
// --generate only writes the database, for running one contender by hand
// (VDB_BENCH_DB=FILE bench_dblib insert), e.g. under perf.
//
// VDB_BENCH_SCALE and VDB_BENCH_REPS give the defaults of --scale and --reps.
// --notes names the hand-kept text appended to the results (by default
// RESULTS.notes.md beside them).
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchCommon.h"

namespace {

namespace fs = std::filesystem;
using namespace vdbbench;

// A contender: a program of the bench build and the variant it is run with.
struct Contender {
  std::string key;      // for --contenders
  std::string title;    // column heading
  std::string program;  // executable in the driver's directory
  std::string variant;  // --variant= argument, may be empty
  bool ours;            // judged against the goals
  bool peer;            // a library our users might pick instead
  bool present = false;
  std::vector<std::string> workloads;  // what it supports
};

std::vector<Contender> AllContenders() {
  return {
      {"raw", "raw SQLite", "bench_raw", "", false, false, false, {}},
      {"dblib", "client library", "bench_dblib", "", true, false, false, {}},
      {"asasql", "TAsaSQL", "bench_asasql", "rowcounts-on", true, false, false, {}},
      {"asasql-norc", "TAsaSQL rc off", "bench_asasql", "rowcounts-off", true, false, false, {}},
      {"qt", "Qt 6 SQL", "bench_qt", "", false, true, false, {}},
      {"soci", "SOCI", "bench_soci", "", false, true, false, {}},
      {"sqlitecpp", "SQLiteCpp", "bench_sqlitecpp", "", false, true, false, {}},
  };
}

// The outcome of one cell.
struct Cell {
  bool ran = false;
  bool ok = false;
  double seconds = 0;  // fastest repetition
  double mean = 0;
  long rssKb = 0;
  std::string error;
};

struct Options {
  double scale = 1;
  int reps = 5;  // the fastest of five: the least disturbed by other work on the machine
  std::string results;
  std::string notes;
  std::vector<std::string> only;
  std::vector<std::string> contenders;
  int timeout = 600;
  std::string generate;
};

std::vector<std::string> SplitCommas(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream in(s);
  for (std::string item; std::getline(in, item, ',');)
    if (!item.empty()) out.push_back(item);
  return out;
}

bool Contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\r')) s.pop_back();
  return s;
}

// Runs Program with Args, its output appended to Log; answers its exit
// status and fills Rss with its peak resident set (kB). Kills it after
// Timeout seconds.
int RunChild(const std::string& Program, const std::vector<std::string>& Args,
             const std::vector<std::pair<std::string, std::string>>& Env, const std::string& Log, int Timeout,
             long& RssKb, std::string* Stdout = nullptr) {
  std::string captured = Log + ".out";
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    for (const auto& [k, v] : Env) setenv(k.c_str(), v.c_str(), 1);
    int out = open(Stdout ? captured.c_str() : Log.c_str(), O_WRONLY | O_CREAT | (Stdout ? O_TRUNC : O_APPEND), 0644);
    int err = open(Log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) dup2(out, 1);
    if (err >= 0) dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(Program.c_str()));
    for (const auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(Program.c_str(), argv.data());
    _exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Timeout);
  int status = 0;
  rusage ru{};
  for (;;) {
    pid_t r = wait4(pid, &status, WNOHANG, &ru);
    if (r == pid) break;
    if (r < 0) return -1;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &ru);
      RssKb = ru.ru_maxrss;
      return -2;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  RssKb = ru.ru_maxrss;
  if (Stdout) *Stdout = ReadFile(captured);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

std::string FormatTime(double s) {
  char b[32];
  if (s >= 10) std::snprintf(b, sizeof b, "%.1f s", s);
  else if (s >= 1) std::snprintf(b, sizeof b, "%.2f s", s);
  else if (s >= 0.01) std::snprintf(b, sizeof b, "%.0f ms", s * 1e3);
  else if (s >= 0.001) std::snprintf(b, sizeof b, "%.1f ms", s * 1e3);
  else std::snprintf(b, sizeof b, "%.0f us", s * 1e6);
  return b;
}

std::string FormatPerOp(double s) {
  char b[32];
  if (s >= 1e-3) std::snprintf(b, sizeof b, "%.2f ms", s * 1e3);
  else if (s >= 1e-6) std::snprintf(b, sizeof b, "%.2f us", s * 1e6);
  else std::snprintf(b, sizeof b, "%.0f ns", s * 1e9);
  return b;
}

std::string FormatRatio(double r) {
  char b[32];
  std::snprintf(b, sizeof b, "x%.2f", r);
  return b;
}

std::string FormatMb(long kb) {
  char b[32];
  std::snprintf(b, sizeof b, "%.0f MB", static_cast<double>(kb) / 1024.0);
  return b;
}

std::string Machine(std::string& cpu, int& cores) {
  cores = static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
  std::ifstream in("/proc/cpuinfo");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("model name", 0) == 0) {
      cpu = Trim(line.substr(line.find(':') + 2));
      break;
    }
  }
  if (cpu.empty()) cpu = "unknown CPU";
  return cpu;
}

double LoadAverage() {
  double l = 0;
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &l) != 1) l = 0;
    std::fclose(f);
  }
  return l;
}

std::string UtcNow() {
  std::time_t t = std::time(nullptr);
  char b[64];
  std::strftime(b, sizeof b, "%Y-%m-%d %H:%M UTC", std::gmtime(&t));
  return b;
}

std::string Pad(const std::string& s, size_t w) { return s.size() >= w ? s : s + std::string(w - s.size(), ' '); }

// The workload sizes as the table's first column says them.
std::string SizeText(const std::string& w, const Sizes& z) {
  auto k = [](int64_t n) {
    char b[32];
    if (n >= 1000000 && n % 1000000 == 0) std::snprintf(b, sizeof b, "%lldM", static_cast<long long>(n / 1000000));
    else if (n >= 1000 && n % 1000 == 0) std::snprintf(b, sizeof b, "%lldk", static_cast<long long>(n / 1000));
    else std::snprintf(b, sizeof b, "%lld", static_cast<long long>(n));
    return std::string(b);
  };
  if (w == "scan") return "scan " + k(z.scanRows) + " rows";
  if (w == "insert") return "insert " + k(z.inserts);
  if (w == "lookup") return "lookup " + k(z.lookups);
  if (w == "blob_big") {
    char b[48];
    std::snprintf(b, sizeof b, "blob 1 x %.1f MB", static_cast<double>(z.bigBlob) / (1 << 20));
    return b;
  }
  if (w == "blob_small") return "blob " + k(z.smallBlobs) + " x 2 kB";
  if (w == "scroll") return "scroll " + k(z.scrollMoves) + " in " + k(z.scrollRows);
  if (w == "connect") return "connect " + k(z.connects);
  return w;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const char* e = std::getenv("VDB_BENCH_SCALE")) o.scale = std::atof(e);
  if (const char* e = std::getenv("VDB_BENCH_REPS")) o.reps = std::atoi(e);
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    auto next = [&]() -> std::string {
      if (k + 1 >= argc) {
        std::fprintf(stderr, "vdb_bench: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      return argv[++k];
    };
    if (a == "--scale") o.scale = std::atof(next().c_str());
    else if (a == "--reps") o.reps = std::atoi(next().c_str());
    else if (a == "--results") o.results = next();
    else if (a == "--notes") o.notes = next();
    else if (a == "--only") o.only = SplitCommas(next());
    else if (a == "--contenders") o.contenders = SplitCommas(next());
    else if (a == "--timeout") o.timeout = std::atoi(next().c_str());
    else if (a == "--generate") o.generate = next();
    else {
      std::fprintf(stderr, "usage: vdb_bench [--scale S] [--reps N] [--results FILE] [--notes FILE] [--only w,..] "
                           "[--contenders c,..] [--timeout SECONDS] | --generate FILE [--scale S]\n");
      return 2;
    }
  }
  if (o.scale <= 0) o.scale = 1;
  if (o.reps < 1) o.reps = 1;
  const Sizes z = Sizes::ForScale(o.scale);
  if (!o.generate.empty()) {
    try {
      GenerateDatabase(o.generate, z);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vdb_bench: cannot generate %s: %s\n", o.generate.c_str(), e.what());
      return 1;
    }
    return 0;
  }
  const fs::path binDir = fs::canonical("/proc/self/exe").parent_path();
  const auto started = std::chrono::steady_clock::now();
  const double loadBefore = LoadAverage();

  std::vector<Contender> contenders = AllContenders();
  std::vector<std::string> skipped;
  for (Contender& c : contenders) {
    if (!o.contenders.empty() && !Contains(o.contenders, c.key)) continue;
    const fs::path p = binDir / c.program;
    if (!fs::exists(p)) {
      if (!Contains(skipped, c.program)) skipped.push_back(c.program);
      continue;
    }
    long rss = 0;
    std::string out;
    std::vector<std::string> args = {"--list"};
    if (RunChild(p.string(), args, {}, "/dev/null", 60, rss, &out) == 0) {
      c.present = true;
      std::stringstream in(out);
      for (std::string line; std::getline(in, line);)
        if (!line.empty()) c.workloads.push_back(line);
    }
  }

  // The database, generated fresh into a private directory.
  char tmpl[] = "/tmp/vdb-bench-XXXXXX";
  const char* tmp = mkdtemp(tmpl);
  if (!tmp) {
    std::perror("vdb_bench: mkdtemp");
    return 1;
  }
  const fs::path work(tmp);
  const std::string db = (work / "bench.db").string();
  const std::string log = (fs::path(binDir).parent_path() / "bench.log").string();
  std::ofstream(log, std::ios::trunc) << "vdb_bench log " << UtcNow() << "\n";
  std::fprintf(stderr, "vdb_bench: generating %lld rows into %s (scale %g)\n", static_cast<long long>(z.scanRows),
               db.c_str(), o.scale);
  {
    auto t0 = std::chrono::steady_clock::now();
    try {
      GenerateDatabase(db, z);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "vdb_bench: cannot generate the database: %s\n", e.what());
      return 1;
    }
    std::fprintf(stderr, "vdb_bench: generated in %.1f s; child logs in %s\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), log.c_str());
  }

  // Cells: contender x workload (the scroll shapes and the step pass are
  // extra workloads behind the table's lines).
  std::vector<std::string> runList;
  for (const WorkloadInfo& w : Workloads()) {
    if (!o.only.empty() && !Contains(o.only, w.name)) continue;
    runList.push_back(w.name);
    if (std::string(w.name) == "scan") runList.push_back("scan_steps");
    if (std::string(w.name) == "scroll")
      for (const char* s : {"scroll_x2", "scroll_small", "scroll_small_x2"}) runList.push_back(s);
  }
  std::map<std::string, std::map<std::string, Cell>> cells;  // workload -> contender key -> cell
  const std::string resultFile = (work / "result.txt").string();
  for (const std::string& w : runList) {
    for (const Contender& c : contenders) {
      if (!c.present || !Contains(c.workloads, w)) continue;
      std::fprintf(stderr, "vdb_bench: %-16s %-16s ", w.c_str(), c.title.c_str());
      std::fflush(stderr);
      std::remove(resultFile.c_str());
      std::vector<std::string> args = {w};
      if (!c.variant.empty()) args.push_back("--variant=" + c.variant);
      std::ofstream(log, std::ios::app) << "\n== " << c.title << " / " << w << "\n";
      Cell cell;
      cell.ran = true;
      char scale[32];
      std::snprintf(scale, sizeof scale, "%g", o.scale);
      int rc = RunChild((binDir / c.program).string(), args,
                        {{"VDB_BENCH_DB", db},
                         {"VDB_BENCH_SCALE", scale},
                         {"VDB_BENCH_REPS", std::to_string(o.reps)},
                         {"VDB_BENCH_RESULT", resultFile},
                         {"TMPDIR", work.string()}},
                        log, o.timeout, cell.rssKb);
      const std::string line = Trim(ReadFile(resultFile));
      if (line.rfind("ok ", 0) == 0) {
        cell.ok = std::sscanf(line.c_str(), "ok %lf %lf", &cell.seconds, &cell.mean) == 2;
      } else if (!line.empty()) {
        cell.error = line.substr(line.find(' ') + 1);
      } else {
        cell.error = rc == -2 ? "timed out" : "exit status " + std::to_string(rc) + " without a result";
      }
      if (cell.ok) std::fprintf(stderr, "%10s  %s\n", FormatTime(cell.seconds).c_str(), FormatMb(cell.rssKb).c_str());
      else std::fprintf(stderr, "ERROR %s\n", cell.error.c_str());
      cells[w][c.key] = cell;
    }
  }
  std::error_code ec;
  fs::remove_all(work, ec);

  // ---- the report
  std::string cpu;
  int cores = 0;
  Machine(cpu, cores);
  const double loadAfter = LoadAverage();
  const double minutes = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() / 60;
  std::vector<const Contender*> shown;
  for (const Contender& c : contenders)
    if (c.present) shown.push_back(&c);

  auto cellOf = [&](const std::string& w, const std::string& key) -> const Cell* {
    auto a = cells.find(w);
    if (a == cells.end()) return nullptr;
    auto b = a->second.find(key);
    return b == a->second.end() ? nullptr : &b->second;
  };
  auto ratioOf = [&](const std::string& w, const std::string& key, double& r) {
    const Cell* base = cellOf(w, "raw");
    const Cell* c = cellOf(w, key);
    if (!base || !c || !base->ok || !c->ok || base->seconds <= 0) return false;
    r = c->seconds / base->seconds;
    return true;
  };

  // Rows of text cells: heading first.
  std::vector<std::vector<std::string>> table;
  {
    std::vector<std::string> head = {"workload"};
    for (const Contender* c : shown) head.push_back(c->title);
    table.push_back(head);
  }
  for (const WorkloadInfo& w : Workloads()) {
    if (!cells.count(w.name)) continue;
    std::vector<std::string> row = {SizeText(w.name, z)};
    for (const Contender* c : shown) {
      const Cell* cell = cellOf(w.name, c->key);
      if (!cell) {
        row.push_back("n/a");
        continue;
      }
      if (!cell->ok) {
        row.push_back("error");
        continue;
      }
      std::string text = FormatTime(cell->seconds);
      double r;
      if (c->key != "raw" && ratioOf(w.name, c->key, r)) text += " " + FormatRatio(r);
      text += " " + FormatMb(cell->rssKb);
      row.push_back(text);
    }
    table.push_back(row);
  }

  // Goals.
  std::vector<std::string> goals;
  auto verdict = [](bool met) { return met ? std::string("met") : std::string("MISSED"); };
  auto fasterThanPeers = [&](const std::string& w, const std::string& key, std::string& slower) {
    const Cell* me = cellOf(w, key);
    if (!me || !me->ok) return false;
    bool all = true;
    for (const Contender* p : shown) {
      if (!p->peer) continue;
      const Cell* pc = cellOf(w, p->key);
      if (pc && pc->ok && pc->seconds <= me->seconds) {
        all = false;
        slower += (slower.empty() ? "" : ", ") + p->title;
      }
    }
    return all;
  };
  auto ratioGoal = [&](const std::string& w, const std::string& key, double limit, bool peers) {
    const Contender* c = nullptr;
    for (const Contender* s : shown)
      if (s->key == key) c = s;
    if (!c) return;
    double r;
    if (!ratioOf(w, key, r)) {
      const Cell* cell = cellOf(w, key);
      goals.push_back(SizeText(w, z) + ", " + c->title + ": not measured" +
                      (cell && !cell->error.empty() ? " (" + cell->error + ")" : ""));
      return;
    }
    char b[160];
    std::snprintf(b, sizeof b, "%s, %s: ratio %.2f, goal <= %.1f: %s", SizeText(w, z).c_str(), c->title.c_str(), r,
                  limit, verdict(r <= limit).c_str());
    std::string line = b;
    if (peers) {
      std::string beaten;
      bool ok = fasterThanPeers(w, key, beaten);
      line += ok ? "; faster than every peer: met" : "; faster than every peer: MISSED (not faster than " + beaten + ")";
    }
    goals.push_back(line);
  };
  ratioGoal("scan", "dblib", 1.3, true);
  ratioGoal("scan", "asasql", 1.5, true);
  ratioGoal("scan", "asasql-norc", 1.5, true);
  for (const char* w : {"insert", "lookup"})
    for (const char* k : {"dblib", "asasql", "asasql-norc"}) ratioGoal(w, k, 1.5, true);
  for (const char* w : {"blob_big", "blob_small"})
    for (const char* k : {"dblib", "asasql", "asasql-norc"}) ratioGoal(w, k, 3.0, false);
  // Exact row counts at open against a bare stepping pass.
  {
    const Cell* on = cellOf("scan", "asasql");
    const Cell* off = cellOf("scan", "asasql-norc");
    const Cell* steps = cellOf("scan_steps", "raw");
    if (on && off && steps && on->ok && off->ok && steps->ok) {
      const double extra = on->seconds - off->seconds;
      goals.push_back("scan, TAsaSQL exact row counts: cost " + FormatTime(std::max(0.0, extra)) +
                      " over row counts off; a raw stepping pass without columns takes " +
                      FormatTime(steps->seconds) + ": " + verdict(extra <= steps->seconds));
    }
  }
  // Scroll: the cost of one more move, at the cursor's size and at a tenth
  // of it. Both runs at a size read the same rows into the cursor, so the
  // difference of the 2x run and the 1x run is the cost of the moves alone.
  std::vector<std::string> scrollLines;
  for (const Contender* c : shown) {
    const Cell* a = cellOf("scroll", c->key);
    const Cell* a2 = cellOf("scroll_x2", c->key);
    const Cell* b = cellOf("scroll_small", c->key);
    const Cell* b2 = cellOf("scroll_small_x2", c->key);
    if (!a || !a2 || !b || !b2 || !a->ok || !a2->ok || !b->ok || !b2->ok) continue;
    const double moves = static_cast<double>(z.scrollMoves);
    const double big = std::max(1e-9, (a2->seconds - a->seconds) / moves);
    const double small = std::max(1e-9, (b2->seconds - b->seconds) / moves);
    const double growth = big / small;
    char line[256];
    std::snprintf(line, sizeof line, "%s: one move costs %s at %lld rows and %s at %lld rows (growth %.2f)",
                  c->title.c_str(), FormatPerOp(small).c_str(), static_cast<long long>(std::max<int64_t>(100, z.scrollRows / 10)),
                  FormatPerOp(big).c_str(), static_cast<long long>(z.scrollRows), growth);
    std::string text = line;
    // Ten times the rows: O(log n) grows the per-move cost by about
    // log(n)/log(n/10) (1.2 here), O(n) by 10. Allow noise up to 3.
    if (c->ours) text += std::string(", goal O(log n) per move (growth <= 3): ") + verdict(growth <= 3.0);
    scrollLines.push_back(text);
  }
  for (const char* k : {"dblib", "asasql", "asasql-norc"}) {
    const Cell* cell = cellOf("connect", k);
    const Contender* c = nullptr;
    for (const Contender* s : shown)
      if (s->key == k) c = s;
    if (!c || !cell) continue;
    if (!cell->ok) {
      goals.push_back("connect, " + c->title + ": not measured (" + cell->error + ")");
      continue;
    }
    const double per = cell->seconds / static_cast<double>(z.connects);
    goals.push_back("connect, " + c->title + ": " + FormatPerOp(per) + " per cycle, goal < 2 ms: " +
                    verdict(per < 2e-3));
  }

  std::vector<std::string> errors;
  for (const auto& [w, byContender] : cells)
    for (const auto& [k, cell] : byContender)
      if (cell.ran && !cell.ok) errors.push_back(w + " / " + k + ": " + cell.error);

  // ---- print and write
  std::vector<size_t> widths(table[0].size(), 0);
  for (const auto& row : table)
    for (size_t k = 0; k < row.size(); ++k) widths[k] = std::max(widths[k], row[k].size());
  std::ostringstream text;
  text << "\nVantorDB benchmark suite, " << UtcNow() << "\n";
  text << "machine: " << cores << " cores (nproc), " << cpu << "; load average " << loadBefore << " before, "
       << loadAfter << " after\n";
  text << "SQLite " << sqlite3_libversion() << ", scale " << o.scale << ", fastest of " << o.reps
       << " repetitions per cell, each cell in its own process; cell = time, ratio to raw SQLite, peak RSS\n\n";
  for (size_t r = 0; r < table.size(); ++r) {
    for (size_t k = 0; k < table[r].size(); ++k) text << Pad(table[r][k], widths[k] + 2);
    text << "\n";
  }
  if (!skipped.empty()) {
    text << "\nskipped (not built: library not found when configured):";
    for (const auto& s : skipped) text << " " << s;
    text << "\n";
  }
  text << "\ngoals:\n";
  for (const auto& g : goals) text << "  " << g << "\n";
  for (const auto& g : scrollLines) text << "  scroll, " << g << "\n";
  if (!errors.empty()) {
    text << "\nerrors:\n";
    for (const auto& e : errors) text << "  " << e << "\n";
  }
  char took[64];
  std::snprintf(took, sizeof took, "%.1f minutes", minutes);
  text << "\nsuite ran " << took << "\n";
  std::fputs(text.str().c_str(), stdout);

  if (!o.results.empty()) {
    std::ofstream md(o.results, std::ios::trunc);
    md << "# Benchmark results\n\n";
    md << "Written by `make bench` (bench/vdb_bench.cpp); the text after the tables is kept by hand in "
          "bench/RESULTS.notes.md and appended.\n\n";
    md << "- date: " << UtcNow() << "\n";
    md << "- machine: " << cores << " cores (`nproc`), " << cpu << "\n";
    md << "- load average: " << loadBefore << " before the run, " << loadAfter << " after";
    if (std::max(loadBefore, loadAfter) > 0.75 * cores)
      md << " - **taken on a shared " << cores << "-core machine while other work (builds and tests) ran on it**: "
            "ratios within one run are comparable, absolute times are pessimistic and noisy; the profiles below "
            "count instructions (callgrind), which the load does not change";
    md << "\n";
    md << "- SQLite " << sqlite3_libversion() << "; scale " << o.scale << "; the fastest of " << o.reps
       << " repetitions per cell; every cell ran in a process of its own; the suite took " << took << "\n";
    md << "- cell: time of the whole workload, its ratio to raw SQLite, the process's peak RSS\n\n";
    md << "|";
    for (const auto& h : table[0]) md << " " << h << " |";
    md << "\n|";
    for (size_t k = 0; k < table[0].size(); ++k) md << (k == 0 ? " --- |" : " ---: |");
    md << "\n";
    for (size_t r = 1; r < table.size(); ++r) {
      md << "|";
      for (const auto& c : table[r]) md << " " << c << " |";
      md << "\n";
    }
    if (!skipped.empty()) {
      md << "\nSkipped (library not found when the bench build was configured):";
      for (const auto& s : skipped) md << " " << s;
      md << "\n";
    }
    md << "\n## Goals\n\n";
    for (const auto& g : goals) md << "- " << g << "\n";
    for (const auto& g : scrollLines) md << "- scroll, " << g << "\n";
    if (!errors.empty()) {
      md << "\n## Errors\n\n";
      for (const auto& e : errors) md << "- " << e << "\n";
    }
    const fs::path notes =
        o.notes.empty() ? fs::path(o.results).parent_path() / "RESULTS.notes.md" : fs::path(o.notes);
    if (fs::exists(notes)) md << "\n" << ReadFile(notes.string());
    std::fprintf(stderr, "vdb_bench: wrote %s\n", o.results.c_str());
  }
  return errors.empty() ? 0 : 1;
}
