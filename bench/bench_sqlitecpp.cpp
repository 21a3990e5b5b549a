// Peer: SQLiteCpp. Written as its documentation advises for speed:
// SQLite::Statement objects prepared once and reused with reset(), values
// bound without copies (bindNoCopy), bulk writes inside a
// SQLite::Transaction, columns read by index. SQLiteCpp has no scrollable
// cursor, so it has no scroll cells.
#include <SQLiteCpp/SQLiteCpp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

using namespace vdbbench;

struct RowReader {
  int64_t rows = 0, sumI = 0;
  double sumD = 0;
  size_t bytes = 0;
  char s[64], ts[32];
  void Read(SQLite::Statement& q) {
    ++rows;
    sumI += q.getColumn(0).getInt64();
    const SQLite::Column cs = q.getColumn(1);
    const size_t n = static_cast<size_t>(cs.getBytes());
    std::memcpy(s, cs.getText(), std::min(n, sizeof s));
    sumD += q.getColumn(2).getDouble();
    const SQLite::Column cts = q.getColumn(3);
    const size_t m = static_cast<size_t>(cts.getBytes());
    std::memcpy(ts, cts.getText(), std::min(m, sizeof ts));
    bytes += n + m + static_cast<unsigned char>(s[0]) + static_cast<unsigned char>(ts[0]);
  }
};

void Scan(benchmark::State& state) {
  SQLite::Database db(DatabaseFile(), SQLite::OPEN_READONLY);
  const int64_t n = CurrentSizes().scanRows;
  RowReader r;
  for (auto _ : state) {
    SQLite::Statement q(db, kScanSql);
    while (q.executeStep()) r.Read(q);
  }
  benchmark::DoNotOptimize(r.bytes);
  Require(r.rows == n && r.sumI == n * (n + 1) / 2, "scan read wrong rows");
}

void Insert(benchmark::State& state) {
  SQLite::Database db(DatabaseFile(), SQLite::OPEN_READWRITE);
  std::vector<RowValues> values;
  for (int64_t i = 1; i <= CurrentSizes().inserts; ++i) values.push_back(MakeRow(i));
  int64_t done = 0;
  for (auto _ : state) {
    SQLite::Transaction tr(db);  // rolled back when it goes out of scope uncommitted
    SQLite::Statement q(db, kInsertSql);
    for (const RowValues& v : values) {
      q.bind(1, static_cast<int64_t>(v.i));
      q.bindNoCopy(2, v.s);
      q.bind(3, v.d);
      q.bindNoCopy(4, v.ts);
      done += q.exec();
      q.reset();
    }
  }
  Require(done == static_cast<int64_t>(values.size()), "inserts failed");
}

void Lookup(benchmark::State& state) {
  SQLite::Database db(DatabaseFile(), SQLite::OPEN_READONLY);
  const std::vector<int64_t> keys = LookupKeys(CurrentSizes().lookups, CurrentSizes().scanRows);
  RowReader r;
  for (auto _ : state) {
    SQLite::Statement q(db, kLookupSql);
    for (int64_t k : keys) {
      q.bind(1, static_cast<int64_t>(k));
      if (q.executeStep()) r.Read(q);
      q.reset();
    }
  }
  RequireLookupsFound(r.rows, r.sumI, keys);
}

void BlobBig(benchmark::State& state) {
  SQLite::Database db(DatabaseFile(), SQLite::OPEN_READWRITE);
  const std::string value = BigBlobValue(CurrentSizes().bigBlob);
  std::string back;
  for (auto _ : state) {
    SQLite::Statement w(db, kBigBlobUpdateSql);
    w.bindNoCopy(1, static_cast<const void*>(value.data()), static_cast<int>(value.size()));
    w.exec();
    SQLite::Statement q(db, kBigBlobSelectSql);
    Require(q.executeStep(), "no blob row");
    const SQLite::Column c = q.getColumn(0);
    back.assign(static_cast<const char*>(c.getBlob()), static_cast<size_t>(c.getBytes()));
  }
  db.exec("update blobs set b = null where id = 1");
  Require(back == value, "blob read back differs");
}

void BlobSmall(benchmark::State& state) {
  SQLite::Database db(DatabaseFile(), SQLite::OPEN_READWRITE);
  const Sizes& z = CurrentSizes();
  std::vector<std::string> values;
  for (int64_t k = 1; k <= z.smallBlobs; ++k) values.push_back(SmallBlobValue(k, z.smallBlobSize));
  int64_t rows = 0;
  size_t bytes = 0;
  std::string buf;
  for (auto _ : state) {
    SQLite::Transaction tr(db);
    SQLite::Statement ins(db, kSmallBlobInsertSql);
    for (size_t k = 0; k < values.size(); ++k) {
      ins.bind(1, static_cast<int64_t>(k + 1));
      ins.bindNoCopy(2, static_cast<const void*>(values[k].data()), static_cast<int>(values[k].size()));
      ins.exec();
      ins.reset();
    }
    SQLite::Statement q(db, kSmallBlobSelectSql);
    while (q.executeStep()) {
      ++rows;
      const SQLite::Column c = q.getColumn(1);
      buf.assign(static_cast<const char*>(c.getBlob()), static_cast<size_t>(c.getBytes()));
      bytes += buf.size();
    }
  }
  Require(rows == z.smallBlobs && bytes == static_cast<size_t>(z.smallBlobs * z.smallBlobSize),
          "small blobs read back wrong");
}

void Connect(benchmark::State& state) {
  const int64_t n = CurrentSizes().connects;
  for (auto _ : state)
    for (int64_t k = 0; k < n; ++k) SQLite::Database db(DatabaseFile(), SQLite::OPEN_READWRITE);
}

}  // namespace

int main(int argc, char** argv) {
  return RunContender(argc, argv,
                      {{"scan", Scan},
                       {"insert", Insert},
                       {"lookup", Lookup},
                       {"blob_big", BlobBig},
                       {"blob_small", BlobSmall},
                       {"connect", Connect}});
}
