#include "StatementFixture.h"

namespace dblibtest {

StatementEntries::StatementEntries(const Library& lib) {
#define BIND(field, name) field = lib.Bind<name##_fn>(#name)
  BIND(prepare, dbpp_prepare);
  BIND(dropstmt, dbpp_dropstmt);
  BIND(describe, dbpp_describe);
  BIND(describe_cursor, dbpp_describe_cursor);
  BIND(describe_names, dbpp_describe_names);
  BIND(declare, dbpp_declare);
  BIND(open, dbpp_open);
  BIND(fetch, dbpp_fetch);
  BIND(fetch_array, dbpp_fetch_array);
  BIND(get_data, dbpp_get_data);
  BIND(put_into, dbpp_put_into);
  BIND(update, dbpp_update);
  BIND(del, dbpp_delete);
  BIND(resume, dbpp_resume);
  BIND(close, dbpp_close);
  BIND(explain, dbpp_explain);
  BIND(execute_into, dbpp_execute_into);
#undef BIND
}

Da::Da(const Library& lib, int entries, bool indicators)
    : lib_(lib), da_(indicators ? lib.alloc_sqlda(entries) : lib.alloc_sqlda_noind(entries)) {
  if (!da_) throw std::runtime_error("alloc_sqlda failed");
}

Da::~Da() {
  if (filled_)
    lib_.free_filled_sqlda(da_);
  else
    lib_.free_sqlda(da_);
}

Da& Da::Entry(int i, int16_t type, uint16_t length) {
  da_->sqlvar[i].sqltype = type;
  da_->sqlvar[i].sqllen = length;
  return *this;
}

Da& Da::Fill() {
  if (!lib_.fill_sqlda(da_)) throw std::runtime_error("fill_sqlda failed");
  filled_ = true;
  return *this;
}

std::string Da::Text(int i) const { return static_cast<const char*>(da_->sqlvar[i].sqldata); }

void StatementTest::SetUp() {
  DbLibTest::SetUp();
  connect = "uid=DBA;pwd=SQL;eng=" + eng + ";dbf=" + db;
  client = Connect();
}

void StatementTest::TearDown() {
  client.reset();
  DbLibTest::TearDown();
}

std::unique_ptr<Client> StatementTest::Connect() {
  auto c = std::make_unique<Client>(lib);
  if (c->Connect(connect) != 0) throw std::runtime_error("connect failed: " + c->Message());
  return c;
}

void StatementTest::Exec(const std::string& sql) {
  ASSERT_EQ(0, client->Exec(sql)) << sql << ": " << client->Message();
}

int16_t StatementTest::Prepare(const std::string& sql, Client& c) {
  int16_t number = 0;
  EXPECT_EQ(0, esql.prepare(&c, nullptr, "VDB", &number, sql.c_str(), nullptr, 1)) << sql << ": " << c.Message();
  return number;
}

int32_t StatementTest::OpenCursor(const char* name, int16_t number, uint32_t flags, SQLDA* bind, Client* c) {
  Client& cl = c ? *c : *client;
  int32_t rc = esql.declare(&cl, name, nullptr, "VDB", &number, flags);
  if (rc < 0) return rc;
  return esql.open(&cl, name, nullptr, "VDB", &number, bind, nullptr, 0, flags);
}

void StatementTest::NumberedRows(int count) {
  Exec("create table t(n int not null primary key, s varchar(40))");
  Exec("with recursive r(i) as (select 1 union all select i + 1 from r where i < " + std::to_string(count) +
       ") insert into t select i, 'row ' || i from r");
  Exec("commit");
}

}  // namespace dblibtest
