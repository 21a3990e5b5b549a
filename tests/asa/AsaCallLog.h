// A statement that logs its client-library calls: each bound entry point
// (library version 7 and later) is wrapped by a function that records the
// call and passes it on. The log is process-wide; tests reset it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "asa/VdbAsa.h"

namespace asatest {

struct TCallLog {
  // Entry-point names in call order.
  std::vector<std::string> Calls;
  // Texts of dbpp_execute_imm, and data lengths of the binary pieces sent
  // by dbpp_execute_into, in call order.
  std::vector<std::string> Immediate;
  std::vector<int> Pieces;
  // Flags of dbpp_declare, and flags and isolation level of dbpp_open.
  std::vector<uint32_t> DeclareFlags;
  std::vector<std::pair<uint32_t, int32_t>> Opens;

  void Reset() {
    Calls.clear();
    Immediate.clear();
    Pieces.clear();
    DeclareFlags.clear();
    Opens.clear();
  }
  int Count(const std::string& Name) const { return static_cast<int>(std::count(Calls.begin(), Calls.end(), Name)); }
  int Total() const { return static_cast<int>(Calls.size()); }
};

inline TCallLog& Log() {
  static TCallLog L;
  return L;
}

inline void Observe(const char* Name, SQLCA*, const char* Text, uint32_t) {
  if (std::strcmp(Name, "dbpp_execute_imm") == 0) Log().Immediate.emplace_back(Text);
}
inline void Observe(const char* Name, SQLCA*, const char*, const char*, int16_t*, SQLDA* In, SQLDA*) {
  if (std::strcmp(Name, "dbpp_execute_into") != 0 || In == nullptr || In->sqld != 1) return;
  const sqlvar& V = In->sqlvar[0];
  if ((V.sqltype & DT_TYPES) != DT_BINARY || V.sqldata == nullptr) return;
  uint16_t N = 0;
  std::memcpy(&N, V.sqldata, sizeof N);
  Log().Pieces.push_back(N);
}
inline void Observe(const char*, SQLCA*, const char*, const char*, const char*, int16_t*, uint32_t Flags) {
  Log().DeclareFlags.push_back(Flags);
}
inline void Observe(const char*, SQLCA*, const char*, const char*, const char*, int16_t*, SQLDA*, SQLDA*,
                    int32_t Isolation, uint32_t Flags) {
  Log().Opens.emplace_back(Flags, Isolation);
}
template <class... A>
void Observe(const char*, A...) {}

template <auto Member, class Fn>
struct THook;

template <auto Member, class R, class... A>
struct THook<Member, R (*)(A...)> {
  static inline R (*Real)(A...) = nullptr;
  static inline const char* Name = nullptr;
  static R Call(A... Args) {
    Log().Calls.emplace_back(Name);
    Observe(Name, Args...);
    return Real(Args...);
  }
  static void Install(vdb::TAsaSQLProcs& P, const char* AName) {
    if (P.*Member == &Call) return;
    Real = P.*Member;
    Name = AName;
    P.*Member = &Call;
  }
};

class TLoggingSQL : public vdb::TAsaSQL {
 public:
  using TAsaSQL::TAsaSQL;
  void InternalLoadLibraryProcs() override {
    TAsaSQL::InternalLoadLibraryProcs();
    vdb::TAsaSQLProcs& P = BoundProcs();
#define ASATEST_HOOK(Entry) THook<&vdb::TAsaSQLProcs::Entry, decltype(vdb::TAsaSQLProcs::Entry)>::Install(P, #Entry)
    ASATEST_HOOK(dbpp_prepare);
    ASATEST_HOOK(dbpp_dropstmt);
    ASATEST_HOOK(dbpp_describe);
    ASATEST_HOOK(dbpp_describe_cursor);
    ASATEST_HOOK(dbpp_describe_names);
    ASATEST_HOOK(dbpp_declare);
    ASATEST_HOOK(dbpp_open);
    ASATEST_HOOK(dbpp_fetch);
    ASATEST_HOOK(dbpp_fetch_array);
    ASATEST_HOOK(dbpp_get_data);
    ASATEST_HOOK(dbpp_put_into);
    ASATEST_HOOK(dbpp_update);
    ASATEST_HOOK(dbpp_delete);
    ASATEST_HOOK(dbpp_resume);
    ASATEST_HOOK(dbpp_close);
    ASATEST_HOOK(dbpp_explain);
    ASATEST_HOOK(dbpp_execute_into);
    ASATEST_HOOK(dbpp_execute_imm);
    ASATEST_HOOK(dbpp_commit);
    ASATEST_HOOK(dbpp_rollback);
#undef ASATEST_HOOK
  }
};

}  // namespace asatest
