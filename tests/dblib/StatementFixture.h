// A connected client with the statement entry points bound, and small
// helpers to build SQLDAs through the library's own allocation calls.
#pragma once

#include "DbLibFixture.h"

#include <memory>
#include <string>
#include <vector>

namespace dblibtest {

struct StatementEntries {
  explicit StatementEntries(const Library& lib);
  dbpp_prepare_fn prepare;
  dbpp_dropstmt_fn dropstmt;
  dbpp_describe_fn describe;
  dbpp_describe_cursor_fn describe_cursor;
  dbpp_describe_names_fn describe_names;
  dbpp_declare_fn declare;
  dbpp_open_fn open;
  dbpp_fetch_fn fetch;
  dbpp_fetch_array_fn fetch_array;
  dbpp_get_data_fn get_data;
  dbpp_put_into_fn put_into;
  dbpp_update_fn update;
  dbpp_delete_fn del;
  dbpp_resume_fn resume;
  dbpp_close_fn close;
  dbpp_explain_fn explain;
  dbpp_execute_into_fn execute_into;
};

// An SQLDA from alloc_sqlda whose entries get buffers from fill_sqlda once
// their types and lengths are set.
class Da {
 public:
  Da(const Library& lib, int entries, bool indicators = true);
  ~Da();
  Da(const Da&) = delete;
  Da& operator=(const Da&) = delete;
  SQLDA* get() const { return da_; }
  sqlvar& operator[](int i) const { return da_->sqlvar[i]; }
  // Sets type and length of entry i.
  Da& Entry(int i, int16_t type, uint16_t length);
  // Gives every entry in use a buffer.
  Da& Fill();
  std::string Text(int i) const;  // a DT_STRING entry's text
  int16_t Ind(int i) const { return *da_->sqlvar[i].sqlind; }

 private:
  const Library& lib_;
  SQLDA* da_;
  bool filled_ = false;
};

class StatementTest : public DbLibTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs statements on the test connection, failing the test on an error.
  void Exec(const std::string& sql);
  int16_t Prepare(const std::string& sql, Client& c);
  int16_t Prepare(const std::string& sql) { return Prepare(sql, *client); }
  // Declares and opens cursor name over statement number.
  int32_t OpenCursor(const char* name, int16_t number, uint32_t flags = CUR_READONLY, SQLDA* bind = nullptr,
                     Client* c = nullptr);
  // Connects another client to the same database.
  std::unique_ptr<Client> Connect();
  // Creates table t(n INT, s VARCHAR(40)) with rows 1..count.
  void NumberedRows(int count);

  Library lib;
  StatementEntries esql{lib};
  std::unique_ptr<Client> client;
  std::string connect;
};

}  // namespace dblibtest
