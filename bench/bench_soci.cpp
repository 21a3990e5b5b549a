// Peer: SOCI with its sqlite3 backend. Written as SOCI's documentation
// advises for speed: statements prepared once (session::prepare) and
// re-executed, bulk operations with vectors for many rows (into/use of
// std::vector, 100 rows a batch), bulk writes inside one transaction, long
// values through soci::blob. SOCI has no scrollable cursor, so it has no
// scroll cells.
#include <soci/soci.h>
#include <soci/sqlite3/soci-sqlite3.h>

#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

using namespace vdbbench;

constexpr size_t kBulk = 100;

std::string Params() { return "db=" + DatabaseFile(); }

struct RowReader {
  int64_t rows = 0, sumI = 0;
  double sumD = 0;
  size_t bytes = 0;
  void Read(long long i, const std::string& s, double d, const std::string& ts) {
    ++rows;
    sumI += i;
    sumD += d;
    bytes += s.size() + ts.size();
  }
};

void Scan(benchmark::State& state) {
  soci::session sql(soci::sqlite3, Params());
  const int64_t n = CurrentSizes().scanRows;
  RowReader r;
  for (auto _ : state) {
    std::vector<long long> vi(kBulk);
    std::vector<std::string> vs(kBulk), vts(kBulk);
    std::vector<double> vd(kBulk);
    soci::statement st = (sql.prepare << kScanSql, soci::into(vi), soci::into(vs), soci::into(vd), soci::into(vts));
    st.execute();
    while (st.fetch()) {
      for (size_t k = 0; k < vi.size(); ++k) r.Read(vi[k], vs[k], vd[k], vts[k]);
      vi.resize(kBulk), vs.resize(kBulk), vd.resize(kBulk), vts.resize(kBulk);
    }
  }
  benchmark::DoNotOptimize(r.bytes);
  Require(r.rows == n && r.sumI == n * (n + 1) / 2, "scan read wrong rows");
}

void Insert(benchmark::State& state) {
  soci::session sql(soci::sqlite3, Params());
  std::vector<RowValues> values;
  for (int64_t i = 1; i <= CurrentSizes().inserts; ++i) values.push_back(MakeRow(i));
  std::vector<long long> vi;
  std::vector<std::string> vs, vts;
  std::vector<double> vd;
  int64_t done = 0;
  for (auto _ : state) {
    soci::transaction tr(sql);
    vi.resize(kBulk), vs.resize(kBulk), vd.resize(kBulk), vts.resize(kBulk);
    soci::statement st = (sql.prepare << kInsertSql, soci::use(vi), soci::use(vs), soci::use(vd), soci::use(vts));
    for (size_t b = 0; b < values.size(); b += kBulk) {
      const size_t m = std::min(kBulk, values.size() - b);
      vi.resize(m), vs.resize(m), vd.resize(m), vts.resize(m);
      for (size_t k = 0; k < m; ++k) {
        const RowValues& v = values[b + k];
        vi[k] = v.i, vs[k] = v.s, vd[k] = v.d, vts[k] = v.ts;
      }
      st.execute(true);
      done += static_cast<int64_t>(m);
    }
    tr.rollback();
  }
  Require(done == static_cast<int64_t>(values.size()), "inserts failed");
}

void Lookup(benchmark::State& state) {
  soci::session sql(soci::sqlite3, Params());
  const std::vector<int64_t> keys = LookupKeys(CurrentSizes().lookups, CurrentSizes().scanRows);
  RowReader r;
  for (auto _ : state) {
    long long key = 0, i = 0;
    std::string s, ts;
    double d = 0;
    soci::statement st =
        (sql.prepare << kLookupSql, soci::use(key), soci::into(i), soci::into(s), soci::into(d), soci::into(ts));
    for (int64_t k : keys) {
      key = k;
      if (st.execute(true)) r.Read(i, s, d, ts);
    }
  }
  RequireLookupsFound(r.rows, r.sumI, keys);
}

void BlobBig(benchmark::State& state) {
  soci::session sql(soci::sqlite3, Params());
  const std::string value = BigBlobValue(CurrentSizes().bigBlob);
  std::string back;
  for (auto _ : state) {
    {
      soci::blob b(sql);
      b.write(0, value.data(), value.size());
      sql << kBigBlobUpdateSql, soci::use(b);
    }
    soci::blob b(sql);
    sql << kBigBlobSelectSql, soci::into(b);
    back.resize(b.get_len());
    b.read(0, back.data(), back.size());
  }
  sql << "update blobs set b = null where id = 1";
  Require(back == value, "blob read back differs");
}

void BlobSmall(benchmark::State& state) {
  soci::session sql(soci::sqlite3, Params());
  const Sizes& z = CurrentSizes();
  std::vector<std::string> values;
  for (int64_t k = 1; k <= z.smallBlobs; ++k) values.push_back(SmallBlobValue(k, z.smallBlobSize));
  int64_t rows = 0;
  size_t bytes = 0;
  std::string buf;
  for (auto _ : state) {
    soci::transaction tr(sql);
    {
      long long id = 0;
      soci::blob b(sql);
      soci::statement st = (sql.prepare << kSmallBlobInsertSql, soci::use(id), soci::use(b));
      for (size_t k = 0; k < values.size(); ++k) {
        id = static_cast<long long>(k + 1);
        b.trim(0);
        b.write(0, values[k].data(), values[k].size());
        st.execute(true);
      }
    }
    long long id = 0;
    soci::blob b(sql);
    soci::statement st = (sql.prepare << kSmallBlobSelectSql, soci::into(id), soci::into(b));
    st.execute();
    while (st.fetch()) {
      ++rows;
      buf.resize(b.get_len());
      b.read(0, buf.data(), buf.size());
      bytes += buf.size();
    }
    tr.rollback();
  }
  Require(rows == z.smallBlobs && bytes == static_cast<size_t>(z.smallBlobs * z.smallBlobSize),
          "small blobs read back wrong");
}

void Connect(benchmark::State& state) {
  const int64_t n = CurrentSizes().connects;
  const std::string params = Params();
  for (auto _ : state)
    for (int64_t k = 0; k < n; ++k) soci::session sql(soci::sqlite3, params);
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
