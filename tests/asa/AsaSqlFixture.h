// Per test: a connected session on a fresh database and statements on it,
// freed before the session.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AsaCallLog.h"
#include "AsaFixture.h"

namespace asatest {

class AsaSqlTest : public AsaTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A statement on Session that raises on server errors.
  vdb::TAsaSQL& NewSQL();
  // The same, logging its library calls; on Session when S is null.
  TLoggingSQL& NewLoggingSQL(vdb::TAsaSession* S = nullptr);
  // Runs a statement through the library directly and commits; fails the
  // test on an error.
  void Run(const std::string& SQL);
  // The single value of a one-row query, read through a fresh statement.
  vcl::Variant Value(const std::string& SQL);
  // Stops the engine serving the test database under its connections.
  static void StopEngine(const std::string& Name = "test");

  std::unique_ptr<vdb::TAsaSession> Session;
  std::vector<std::unique_ptr<vdb::TAsaSQL>> Statements;
};

}  // namespace asatest
