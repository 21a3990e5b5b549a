// Peer: Qt 6 SQL with its QSQLITE driver. Written as Qt's documentation
// advises for speed: QSqlQuery::setForwardOnly(true) wherever the result is
// read once, queries prepared once and re-executed with bindValue, values
// read by column index, bulk writes inside one transaction(). The scroll
// workload uses a query that is not forward-only and seek().
#include <QByteArray>
#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

using namespace vdbbench;

// A named connection, removed again when done.
class Connection {
 public:
  Connection() {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench");
      db.setDatabaseName(QString::fromStdString(DatabaseFile()));
      Require(db.open(), "open: " + db.lastError().text().toStdString());
    }
  }
  ~Connection() {
    Db().close();
    QSqlDatabase::removeDatabase("bench");
  }
  static QSqlDatabase Db() { return QSqlDatabase::database("bench", false); }
};

void Check(bool ok, const QSqlQuery& q, const char* what) {
  Require(ok, std::string(what) + ": " + q.lastError().text().toStdString());
}

struct RowReader {
  int64_t rows = 0, sumI = 0;
  double sumD = 0;
  qsizetype chars = 0;
  void Read(const QSqlQuery& q) {
    ++rows;
    sumI += q.value(0).toLongLong();
    const QString s = q.value(1).toString();
    sumD += q.value(2).toDouble();
    const QString ts = q.value(3).toString();
    chars += s.size() + ts.size();
  }
};

void Scan(benchmark::State& state) {
  Connection c;
  const int64_t n = CurrentSizes().scanRows;
  RowReader r;
  for (auto _ : state) {
    QSqlQuery q(Connection::Db());
    q.setForwardOnly(true);
    Check(q.exec(kScanSql), q, "scan");
    while (q.next()) r.Read(q);
  }
  benchmark::DoNotOptimize(r.chars);
  Require(r.rows == n && r.sumI == n * (n + 1) / 2, "scan read wrong rows");
}

struct QtRow {
  qint64 i;
  QString s;
  double d;
  QString ts;
};

void Insert(benchmark::State& state) {
  Connection c;
  std::vector<QtRow> values;
  for (int64_t i = 1; i <= CurrentSizes().inserts; ++i) {
    RowValues v = MakeRow(i);
    values.push_back({v.i, QString::fromStdString(v.s), v.d, QString::fromStdString(v.ts)});
  }
  int64_t done = 0;
  QSqlDatabase db = Connection::Db();
  for (auto _ : state) {
    Require(db.transaction(), "begin");
    QSqlQuery q(db);
    Check(q.prepare(kInsertSql), q, "prepare");
    for (const QtRow& v : values) {
      q.bindValue(0, v.i);
      q.bindValue(1, v.s);
      q.bindValue(2, v.d);
      q.bindValue(3, v.ts);
      if (q.exec()) ++done;
    }
  }
  db.rollback();
  Require(done == static_cast<int64_t>(values.size()), "inserts failed");
}

void Lookup(benchmark::State& state) {
  Connection c;
  const std::vector<int64_t> keys = LookupKeys(CurrentSizes().lookups, CurrentSizes().scanRows);
  RowReader r;
  for (auto _ : state) {
    QSqlQuery q(Connection::Db());
    q.setForwardOnly(true);
    Check(q.prepare(kLookupSql), q, "prepare");
    for (int64_t k : keys) {
      q.bindValue(0, static_cast<qint64>(k));
      Check(q.exec(), q, "lookup");
      if (q.next()) r.Read(q);
    }
  }
  RequireLookupsFound(r.rows, r.sumI, keys);
}

void BlobBig(benchmark::State& state) {
  Connection c;
  const std::string raw = BigBlobValue(CurrentSizes().bigBlob);
  const QByteArray value(raw.data(), static_cast<qsizetype>(raw.size()));
  QByteArray back;
  for (auto _ : state) {
    QSqlQuery w(Connection::Db());
    Check(w.prepare(kBigBlobUpdateSql), w, "prepare");
    w.bindValue(0, value);
    Check(w.exec(), w, "update");
    QSqlQuery q(Connection::Db());
    q.setForwardOnly(true);
    Check(q.exec(kBigBlobSelectSql), q, "select");
    Require(q.next(), "no blob row");
    back = q.value(0).toByteArray();
  }
  QSqlQuery(Connection::Db()).exec("update blobs set b = null where id = 1");
  Require(back == value, "blob read back differs");
}

void BlobSmall(benchmark::State& state) {
  Connection c;
  const Sizes& z = CurrentSizes();
  std::vector<QByteArray> values;
  for (int64_t k = 1; k <= z.smallBlobs; ++k) {
    std::string v = SmallBlobValue(k, z.smallBlobSize);
    values.emplace_back(v.data(), static_cast<qsizetype>(v.size()));
  }
  int64_t rows = 0;
  qsizetype bytes = 0;
  QSqlDatabase db = Connection::Db();
  for (auto _ : state) {
    Require(db.transaction(), "begin");
    QSqlQuery ins(db);
    Check(ins.prepare(kSmallBlobInsertSql), ins, "prepare");
    for (size_t k = 0; k < values.size(); ++k) {
      ins.bindValue(0, static_cast<qint64>(k + 1));
      ins.bindValue(1, values[k]);
      Check(ins.exec(), ins, "small blob insert");
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    Check(q.exec(kSmallBlobSelectSql), q, "select");
    while (q.next()) {
      ++rows;
      bytes += q.value(1).toByteArray().size();
    }
  }
  db.rollback();
  Require(rows == z.smallBlobs && bytes == z.smallBlobs * z.smallBlobSize, "small blobs read back wrong");
}

void Scroll(benchmark::State& state, const std::string& workload) {
  int64_t rows, moves;
  ScrollShape(workload, rows, moves);
  Connection c;
  const std::vector<int32_t> pos = ScrollPositions(moves, rows);
  RowReader r;
  for (auto _ : state) {
    QSqlQuery q(Connection::Db());
    q.setForwardOnly(false);
    Check(q.exec(QString::fromStdString(ScrollSql(rows))), q, "scroll");
    for (int32_t p : pos)
      if (q.seek(p - 1)) r.Read(q);
  }
  RequireScrollReached(r.rows, r.sumI, moves, pos);
}

void Connect(benchmark::State& state) {
  const int64_t n = CurrentSizes().connects;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "cycle");
    db.setDatabaseName(QString::fromStdString(DatabaseFile()));
    for (auto _ : state) {
      for (int64_t k = 0; k < n; ++k) {
        Require(db.open(), "open");
        db.close();
      }
    }
  }
  QSqlDatabase::removeDatabase("cycle");
}

}  // namespace

int main(int argc, char** argv) {
  int qargc = 1;
  QCoreApplication app(qargc, argv);
  std::vector<Case> cases = {
      {"scan", Scan},   {"insert", Insert},       {"lookup", Lookup},   {"blob_big", BlobBig},
      {"blob_small", BlobSmall}, {"connect", Connect},
  };
  AddScrollCases(cases, Scroll);
  return RunContender(argc, argv, cases);
}
