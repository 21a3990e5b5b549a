#include "AsaSqlFixture.h"

#include "dbsrv/ConnectString.h"
#include "dbsrv/Server.h"

namespace asatest {

void AsaSqlTest::SetUp() {
  AsaTest::SetUp();
  Session = NewSession();
  Session->Open();
}

void AsaSqlTest::TearDown() {
  Statements.clear();
  Session.reset();
  AsaTest::TearDown();
}

vdb::TAsaSQL& AsaSqlTest::NewSQL() {
  Statements.push_back(std::make_unique<vdb::TAsaSQL>(nullptr));
  vdb::TAsaSQL& Q = *Statements.back();
  Q.SetSession(Session.get());
  Q.SetWantExceptions(true);
  return Q;
}

TLoggingSQL& AsaSqlTest::NewLoggingSQL(vdb::TAsaSession* S) {
  Statements.push_back(std::make_unique<TLoggingSQL>(nullptr));
  auto& Q = static_cast<TLoggingSQL&>(*Statements.back());
  Q.SetSession(S != nullptr ? S : Session.get());
  Q.SetWantExceptions(true);
  return Q;
}

void AsaSqlTest::Run(const std::string& SQL) {
  const int32_t Code = Exec(*Session, SQL);
  ASSERT_EQ(0, Code) << SQL << ": " << Session->Sqlca()->sqlerrmc;
  ASSERT_EQ(0, Exec(*Session, "commit"));
}

vcl::Variant AsaSqlTest::Value(const std::string& SQL) {
  vdb::TAsaSQL Q(nullptr);
  Q.SetSession(Session.get());
  Q.SetWantExceptions(true);
  if (!Q.OpenRead(SQL, {})) return vcl::Unassigned();
  return Q.GetFieldValue(0);
}

void AsaSqlTest::StopEngine(const std::string& Name) {
  vdbsrv::ConnectParams P;
  P.engineName = Name;
  vdbsrv::Server::Instance().StopEngine(P, nullptr);
}

}  // namespace asatest
