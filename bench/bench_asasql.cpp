// TAsaSQL over TAsaSession, the way an application uses the components
// for speed: statements prepared once (PrepareOpen, PrepareExecute) and
// re-opened or re-executed with new values, forward-only cursors
// (actNoScroll) wherever rows are read once, column indexes held as
// Variants instead of names, bulk writes inside one user transaction
// (StartTransaction), long values through StreamToBlob/Modify and
// BlobToStream. Run twice by the suite: with the session's default options
// (WantRowCounts on: exact counts at open) and with WantRowCounts off
// (--variant=rowcounts-off).
#include <memory>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "asa/VdbAsa.h"
#include "rtl/DateUtils.h"
#include "rtl/Streams.h"
#include "rtl/Variants.h"

namespace {

using namespace vdbbench;
using vcl::Variant;

std::unique_ptr<vdb::TAsaSession> NewSession(vdb::TAsaServerType Type) {
  auto S = std::make_unique<vdb::TAsaSession>(nullptr);
  S->SetLibraryFile("dblib7.dll");
  S->SetServerType(Type);
  S->SetLoginEngineName("bench");
  S->SetLoginDatabase(DatabaseFile());
  S->SetLoginUser("DBA");
  S->SetLoginPassword("SQL");
  S->SetWantRowCounts(ContenderVariant() != "rowcounts-off");
  return S;
}

// A connected session (it starts the engine) and one statement on it.
struct Fixture {
  std::unique_ptr<vdb::TAsaSession> S = NewSession(vdb::stServer);
  std::unique_ptr<vdb::TAsaSQL> Q = std::make_unique<vdb::TAsaSQL>(nullptr);
  Fixture() {
    // A workload that fails half-way leaves nothing behind: disconnecting
    // without a commit rolls its transaction back.
    S->SetCommitOnDisconnect(false);
    S->Open();
    Q->SetSession(S.get());
    Q->SetWantExceptions(true);
  }
  ~Fixture() {
    Q.reset();
    S->Close();
  }
};

const Variant kCol0(0), kCol1(1), kCol2(2), kCol3(3);

struct RowReader {
  int64_t rows = 0, sumI = 0;
  double sumD = 0, sumT = 0;
  size_t bytes = 0;
  std::string s;
  void Read(vdb::TAsaSQL& Q) {
    ++rows;
    sumI += Q.GetFieldValue(kCol0).AsInt64();
    s = Q.GetFieldValue(kCol1).AsString();
    sumD += Q.GetFieldValue(kCol2).AsDouble();
    sumT += Q.GetFieldValue(kCol3).AsDateTime().Val;
    bytes += s.size();
  }
};

vcl::TDateTime ToDateTime(const std::string& ts) {
  const DateTime t = ParseTimestamp(ts);
  return vcl::TDateTime(vcl::EncodeDate(static_cast<uint16_t>(t.year), static_cast<uint16_t>(t.month),
                                        static_cast<uint16_t>(t.day)).Val +
                        vcl::EncodeTime(static_cast<uint16_t>(t.hour), static_cast<uint16_t>(t.minute),
                                        static_cast<uint16_t>(t.second),
                                        static_cast<uint16_t>(t.microsecond / 1000)).Val);
}

void Scan(benchmark::State& state) {
  Fixture f;
  f.Q->SetCursorType(vdb::actNoScroll);
  const int64_t n = CurrentSizes().scanRows;
  RowReader r;
  for (auto _ : state) {
    bool more = f.Q->OpenRead(kScanSql, {});
    while (more) {
      r.Read(*f.Q);
      more = f.Q->Next();
    }
    f.Q->Close();
  }
  benchmark::DoNotOptimize(r.bytes);
  Require(r.rows == n && r.sumI == n * (n + 1) / 2, "scan read wrong rows");
}

void Insert(benchmark::State& state) {
  Fixture f;
  struct Row {
    int64_t i;
    std::string s;
    double d;
    vcl::TDateTime ts;
  };
  std::vector<Row> values;
  for (int64_t i = 1; i <= CurrentSizes().inserts; ++i) {
    RowValues v = MakeRow(i);
    values.push_back({v.i, v.s, v.d, ToDateTime(v.ts)});
  }
  vdb::TVantorValues params(4);
  int64_t done = 0;
  for (auto _ : state) {
    f.S->StartTransaction();
    f.Q->PrepareExecute(kInsertSql);
    for (const Row& v : values) {
      params[0] = Variant(static_cast<long long>(v.i));
      params[1] = Variant(v.s);
      params[2] = Variant(v.d);
      params[3] = Variant(v.ts);
      if (f.Q->ExecutePrepared(params)) done += f.Q->RowsProcessed();
    }
    f.Q->UnprepareExecute();
  }
  f.S->Rollback();
  Require(done == static_cast<int64_t>(values.size()), "inserts failed");
}

void Lookup(benchmark::State& state) {
  Fixture f;
  f.Q->SetCursorType(vdb::actNoScroll);
  const std::vector<int64_t> keys = LookupKeys(CurrentSizes().lookups, CurrentSizes().scanRows);
  vdb::TVantorValues params(1);
  RowReader r;
  for (auto _ : state) {
    f.Q->PrepareOpen(kLookupSql);
    for (int64_t k : keys) {
      params[0] = Variant(static_cast<long long>(k));
      if (f.Q->OpenReadPrepared(params)) r.Read(*f.Q);
      f.Q->Close();
    }
    f.Q->UnprepareOpen();
  }
  RequireLookupsFound(r.rows, r.sumI, keys);
}

void BlobBig(benchmark::State& state) {
  Fixture f;
  const std::string value = BigBlobValue(CurrentSizes().bigBlob);
  vcl::TMemoryStream in;
  in.Write(value.data(), static_cast<int64_t>(value.size()));
  vcl::TMemoryStream out;
  for (auto _ : state) {
    // Auto-commit: Modify commits, as the raw update does.
    in.Seek(0, vcl::soBeginning);
    Require(f.Q->OpenWrite("select id, b from blobs where id = 1", {}), "no blob row");
    f.Q->StreamToBlob(kCol1, &in);
    Require(f.Q->Modify(), "modify");
    f.Q->Close();
    f.Q->SetCursorType(vdb::actNoScroll);
    Require(f.Q->OpenRead(kBigBlobSelectSql, {}), "no blob row");
    out.Clear();
    f.Q->BlobToStream(kCol0, &out);
    f.Q->Close();
    f.Q->SetCursorType(vdb::actDefault);
  }
  f.Q->Execute("update blobs set b = null where id = 1", {});
  Require(out.Size() == static_cast<int64_t>(value.size()) &&
              std::string(reinterpret_cast<const char*>(out.Memory()), value.size()) == value,
          "blob read back differs");
}

void BlobSmall(benchmark::State& state) {
  Fixture f;
  f.Q->SetCursorType(vdb::actNoScroll);
  const Sizes& z = CurrentSizes();
  std::vector<Variant> values;
  for (int64_t k = 1; k <= z.smallBlobs; ++k) {
    std::string v = SmallBlobValue(k, z.smallBlobSize);
    values.push_back(vdb::TVantorSQL::StrToVarByte(v.data(), static_cast<int32_t>(v.size())));
  }
  vdb::TVantorValues params(2);
  int64_t rows = 0;
  int64_t bytes = 0;
  vcl::TMemoryStream buf;
  for (auto _ : state) {
    f.S->StartTransaction();
    f.Q->PrepareExecute(kSmallBlobInsertSql);
    for (size_t k = 0; k < values.size(); ++k) {
      params[0] = Variant(static_cast<long long>(k + 1));
      params[1] = values[k];
      Require(f.Q->ExecutePrepared(params), "small blob insert");
    }
    f.Q->UnprepareExecute();
    bool more = f.Q->OpenRead(kSmallBlobSelectSql, {});
    while (more) {
      buf.Clear();
      f.Q->BlobToStream(kCol1, &buf);
      bytes += buf.Size();
      ++rows;
      more = f.Q->Next();
    }
    f.Q->Close();
  }
  f.S->Rollback();
  Require(rows == z.smallBlobs && bytes == z.smallBlobs * z.smallBlobSize, "small blobs read back wrong");
}

// The default cursor type scrolls; MoveTo takes zero-based rows.
void Scroll(benchmark::State& state, const std::string& workload) {
  int64_t rows, moves;
  ScrollShape(workload, rows, moves);
  Fixture f;
  // Rows read at random places, not changed: an insensitive cursor, which
  // reads each row once instead of re-reading it from the table at every Curr.
  f.Q->SetCursorType(vdb::actInsensitive);
  const std::vector<int32_t> pos = ScrollPositions(moves, rows);
  const std::string sql = ScrollSql(rows);
  RowReader r;
  for (auto _ : state) {
    Require(f.Q->OpenRead(sql, {}), "scroll open");
    // A move positions without data; Curr reads the row it stands on.
    for (int32_t p : pos)
      if (f.Q->MoveTo(p - 1) && f.Q->Curr()) r.Read(*f.Q);
    f.Q->Close();
  }
  RequireScrollReached(r.rows, r.sumI, moves, pos);
}

// Sessions connecting to the running engine that a first session started.
void Connect(benchmark::State& state) {
  Fixture holder;
  std::unique_ptr<vdb::TAsaSession> S = NewSession(vdb::stClient);
  const int64_t n = CurrentSizes().connects;
  for (auto _ : state) {
    for (int64_t k = 0; k < n; ++k) {
      S->Open();
      S->Close();
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
