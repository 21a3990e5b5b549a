// The writer the crash-consistency test kills: commits numbered rows through
// a statement in batches of one to four, forever, and after each commit
// reports the highest committed number on its report pipe.
//
//   asa_crash_child <library> <database> <first number> <report fd>
//
// Rows are t(n, batch, size): every row of a batch carries the batch's first
// number and its size, so a reader can tell a torn batch from a whole one.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "asa/VdbAsa.h"

namespace {

void Report(int Fd, int64_t Last) {
  const char* P = reinterpret_cast<const char*>(&Last);
  size_t Left = sizeof Last;
  while (Left > 0) {
    ssize_t N = write(Fd, P, Left);
    if (N < 0 && errno == EINTR) continue;
    if (N <= 0) std::exit(3);  // the parent is gone
    P += N;
    Left -= static_cast<size_t>(N);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: %s library database first-number report-fd\n", argv[0]);
    return 2;
  }
  const int64_t First = std::strtoll(argv[3], nullptr, 10);
  const int Fd = std::atoi(argv[4]);
  try {
    vdb::TAsaSession S(nullptr);
    S.SetLibraryFile(argv[1]);
    S.SetServerType(vdb::stServer);
    S.SetLoginDatabase(argv[2]);
    S.SetLoginUser("DBA");
    S.SetLoginPassword("SQL");
    S.SetWantExceptions(true);
    S.Open();
    vdb::TAsaSQL Insert(nullptr);
    Insert.SetSession(&S);
    Insert.SetWantExceptions(true);
    for (int64_t N = First;;) {
      const int64_t Size = 1 + N % 4;
      S.StartTransaction();
      for (int64_t I = 0; I < Size; ++I)
        Insert.Execute("insert into t values (?, ?, ?)",
                       {vcl::Variant(N + I), vcl::Variant(N), vcl::Variant(Size)});
      S.Commit();
      N += Size;
      Report(Fd, N - 1);
    }
  } catch (const std::exception& E) {
    std::fprintf(stderr, "crash child: %s\n", E.what());
    return 1;
  }
}
