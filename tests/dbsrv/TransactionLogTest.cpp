// The transaction log across a writer killed inside an append: the torn end
// goes when the log is opened again, and later records stay replayable.
#include "dbsrv/TransactionLog.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

class TransactionLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() /
          ("vdbtlog-" + std::to_string(::getpid()) + "-" + std::to_string(std::random_device{}()));
    fs::create_directories(Dir);
    Path = (Dir / "test.log").string();
  }
  void TearDown() override {
    std::error_code Ec;
    fs::remove_all(Dir, Ec);
  }

  // Replays the log onto a fresh database with table t; answers the records
  // applied and the rows of t.
  std::pair<size_t, int> ReplayOntoFreshDatabase() {
    sqlite3* Db = nullptr;
    sqlite3_open((Dir / ("replay" + std::to_string(Replays++) + ".db")).c_str(), &Db);
    sqlite3_exec(Db, "create table t(n int)", nullptr, nullptr, nullptr);
    size_t Applied = 0;
    try {
      Applied = vdbsrv::TransactionLog::Replay(Db, Path);
    } catch (...) {
      sqlite3_close(Db);
      throw;
    }
    sqlite3_stmt* St = nullptr;
    int Rows = -1;
    if (sqlite3_prepare_v2(Db, "select count(*) from t", -1, &St, nullptr) == SQLITE_OK &&
        sqlite3_step(St) == SQLITE_ROW)
      Rows = sqlite3_column_int(St, 0);
    sqlite3_finalize(St);
    sqlite3_close(Db);
    return {Applied, Rows};
  }

  fs::path Dir;
  std::string Path;
  int Replays = 0;
};

TEST_F(TransactionLogTest, TornEndIsCutOnOpenAndLaterRecordsReplay) {
  uint64_t Whole = 0;
  {
    vdbsrv::TransactionLog Log(Path);
    Log.Append({"insert into t values (1)", "insert into t values (2)"});
    Log.Append({"insert into t values (3)"});
    Whole = Log.Size();
  }
  // Cuts inside a third record: in its header, in its statement count and in
  // its text.
  for (uint64_t Torn : {5u, 14u, 30u}) {
    SCOPED_TRACE("torn after " + std::to_string(Torn) + " bytes");
    fs::resize_file(Path, Whole);
    {
      // The third record as the log writes it, cut short.
      std::string Bytes;
      const std::string Sql = "insert into t values (99)";
      auto Put = [&](uint64_t V, int N) {
        for (int I = 0; I < N; ++I) Bytes.push_back(static_cast<char>((V >> (8 * I)) & 0xff));
      };
      Put(4 + 4 + Sql.size(), 4);
      Put(2, 8);
      Put(1, 4);
      Put(Sql.size(), 4);
      Bytes += Sql;
      std::ofstream Out(Path, std::ios::binary | std::ios::app);
      Out.write(Bytes.data(), static_cast<std::streamsize>(Torn));
    }
    EXPECT_THROW(ReplayOntoFreshDatabase(), std::exception);

    vdbsrv::TransactionLog Log(Path);
    EXPECT_EQ(Whole, Log.Size());
    Log.Append({"insert into t values (4)"});
    EXPECT_EQ(std::make_pair(size_t{3}, 4), ReplayOntoFreshDatabase());
  }
}

// Reopening reads only the record headers: the numbering continues after
// records of every length, and nothing whole is cut.
TEST_F(TransactionLogTest, ReopenContinuesTheNumberingAfterLongRecords) {
  const std::string Long = "insert into t values (length('" + std::string(200000, 'x') + "'))";
  uint64_t Whole = 0;
  {
    vdbsrv::TransactionLog Log(Path);
    Log.Append({"insert into t values (1)"});
    Log.Append({Long, "insert into t values (2)"});
    Log.Append({"insert into t values (3)"});
    Whole = Log.Size();
  }
  {
    vdbsrv::TransactionLog Log(Path);
    EXPECT_EQ(Whole, Log.Size());
    Log.Append({"insert into t values (4)"});
  }
  // The appended record is the fourth: number 3 in its header.
  std::ifstream In(Path, std::ios::binary);
  In.seekg(static_cast<std::streamoff>(Whole + 4));
  unsigned char Number[8] = {};
  In.read(reinterpret_cast<char*>(Number), 8);
  uint64_t N = 0;
  for (int I = 7; I >= 0; --I) N = (N << 8) | Number[I];
  EXPECT_EQ(3u, N);
  EXPECT_EQ(std::make_pair(size_t{4}, 5), ReplayOntoFreshDatabase());
}

}  // namespace
