#include "dbsrv/TransactionLog.h"

#include "dbsrv/Errors.h"

#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

namespace vdbsrv {

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'V', 'D', 'B', 'T', 'L', 'O', 'G', '1'};

void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void PutU64(std::string& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
uint64_t GetLE(const unsigned char* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

[[noreturn]] void IoFailure(const std::string& what) { throw ServerError(errIoError, what); }

[[noreturn]] void Damaged() { throw ServerError(errRuntime, "damaged transaction log record"); }

// Reads an entry made by BoundEntry (past its NUL byte) and runs it on db.
void RunBoundEntry(sqlite3* db, std::string_view entry) {
  size_t q = 1;
  auto take = [&](size_t n) {
    if (entry.size() - q < n) Damaged();
    std::string_view part = entry.substr(q, n);
    q += n;
    return part;
  };
  auto number = [&](int bytes) {
    return GetLE(reinterpret_cast<const unsigned char*>(take(static_cast<size_t>(bytes)).data()), bytes);
  };
  std::string_view sql = take(number(4));
  sqlite3_stmt* st = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st, nullptr);
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(st, sqlite3_finalize);
  if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  if (!st) Damaged();
  const uint64_t count = number(4);
  if (count != static_cast<uint64_t>(sqlite3_bind_parameter_count(st))) Damaged();
  for (uint64_t i = 0; i < count; ++i) {
    const int index = static_cast<int>(i + 1);
    const auto kind = static_cast<unsigned char>(take(1)[0]);
    switch (kind) {
      case svNull: rc = sqlite3_bind_null(st, index); break;
      case svInteger: rc = sqlite3_bind_int64(st, index, static_cast<int64_t>(number(8))); break;
      case svDouble: {
        const uint64_t bits = number(8);
        double d;
        std::memcpy(&d, &bits, sizeof d);
        rc = sqlite3_bind_double(st, index, d);
        break;
      }
      case svText:
      case svBlob: {
        std::string_view bytes = take(number(4));
        rc = kind == svText ? sqlite3_bind_text64(st, index, bytes.data(), bytes.size(), SQLITE_STATIC, SQLITE_UTF8)
                            : sqlite3_bind_blob64(st, index, bytes.data(), bytes.size(), SQLITE_STATIC);
        break;
      }
      default: Damaged();
    }
    if (rc != SQLITE_OK) ThrowSqlite(db, rc);
  }
  if (q != entry.size()) Damaged();
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) ThrowSqlite(db, rc);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) IoFailure("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::string TransactionLog::PathFor(std::string_view databaseFile) {
  fs::path p(databaseFile);
  p.replace_extension(".log");
  return p.string();
}

TransactionLog::TransactionLog(std::string path) : path_(std::move(path)) {
  std::error_code ec;
  if (!fs::exists(path_, ec)) {
    WriteHeader(0);
    return;
  }
  // Continue the numbering of an existing log. Only the record headers are
  // read, so that starting a database costs neither time nor memory in
  // proportion to its log.
  std::ifstream in(path_, std::ios::binary);
  if (!in) IoFailure("cannot read " + path_);
  const uint64_t size = fs::file_size(path_, ec);
  if (ec) IoFailure("cannot read " + path_);
  unsigned char header[kHeaderSize];
  if (size < kHeaderSize || !in.read(reinterpret_cast<char*>(header), kHeaderSize) ||
      std::memcmp(header, kMagic, 8) != 0)
    throw ServerError(errUnableToStartDatabase, "damaged transaction log " + path_);
  nextRecord_ = GetLE(header + 8, 8);
  uint64_t pos = kHeaderSize;
  unsigned char head[12];
  while (pos + 12 <= size) {
    if (!in.read(reinterpret_cast<char*>(head), 12)) IoFailure("cannot read " + path_);
    uint64_t len = GetLE(head, 4);
    if (pos + 12 + len > size) break;
    nextRecord_ = GetLE(head + 4, 8) + 1;
    pos += 12 + len;
    // Small records are passed over in the stream's buffer, long ones sought past.
    if (len < 65536)
      in.ignore(static_cast<std::streamsize>(len));
    else
      in.seekg(static_cast<std::streamoff>(pos));
  }
  in.close();
  // A writer killed inside an append leaves part of a record at the end.
  // Records appended after it would be out of reach of a replay, so the
  // torn rest goes.
  if (pos < size) {
    std::error_code cut;
    fs::resize_file(path_, pos, cut);
    if (cut) IoFailure("cannot truncate the torn end of " + path_);
  }
}

std::string TransactionLog::BoundEntry(std::string_view sql, std::span<const SqlValue> values) {
  size_t size = 1 + 4 + sql.size() + 4;
  for (const SqlValue& v : values) size += 1 + (v.kind == svText || v.kind == svBlob ? 4 + v.n : 8);
  std::string entry;
  entry.reserve(size);
  entry.push_back('\0');
  PutU32(entry, static_cast<uint32_t>(sql.size()));
  entry.append(sql);
  PutU32(entry, static_cast<uint32_t>(values.size()));
  for (const SqlValue& v : values) {
    entry.push_back(static_cast<char>(v.kind));
    switch (v.kind) {
      case svNull: break;
      case svInteger: PutU64(entry, static_cast<uint64_t>(v.i)); break;
      case svDouble: {
        uint64_t bits;
        std::memcpy(&bits, &v.d, sizeof bits);
        PutU64(entry, bits);
        break;
      }
      case svText:
      case svBlob:
        PutU32(entry, static_cast<uint32_t>(v.n));
        entry.append(v.Bytes());
        break;
    }
  }
  return entry;
}

void TransactionLog::WriteHeader(uint64_t firstRecord) {
  std::string header(kMagic, 8);
  PutU64(header, firstRecord);
  std::ofstream out(path_, std::ios::binary | std::ios::trunc);
  out.write(header.data(), static_cast<std::streamsize>(header.size()));
  if (!out) IoFailure("cannot create transaction log " + path_);
}

void TransactionLog::Append(const std::vector<std::string>& statements) {
  if (statements.empty()) return;
  std::string payload;
  PutU32(payload, static_cast<uint32_t>(statements.size()));
  for (const auto& s : statements) {
    PutU32(payload, static_cast<uint32_t>(s.size()));
    payload.append(s);
  }
  std::string record;
  PutU32(record, static_cast<uint32_t>(payload.size()));
  PutU64(record, nextRecord_);
  record.append(payload);
  std::ofstream out(path_, std::ios::binary | std::ios::app);
  out.write(record.data(), static_cast<std::streamsize>(record.size()));
  out.flush();
  if (!out) IoFailure("cannot write transaction log " + path_);
  ++nextRecord_;
}

uint64_t TransactionLog::Size() const {
  std::error_code ec;
  auto size = fs::file_size(path_, ec);
  return ec ? 0 : size;
}

void TransactionLog::RenameAndRestart(const std::string& newPath, uint64_t keepBytes) {
  std::string data = ReadAll(path_);
  if (keepBytes > data.size()) keepBytes = data.size();
  std::error_code ec;
  fs::rename(path_, newPath, ec);
  if (ec) IoFailure("cannot rename transaction log to " + newPath);
  fs::resize_file(newPath, keepBytes, ec);
  if (ec) IoFailure("cannot truncate " + newPath);
  // The restarted log numbers on from the first record it does not hold.
  uint64_t first = nextRecord_;
  std::string tail = data.substr(keepBytes);
  if (tail.size() >= 12)
    first = GetLE(reinterpret_cast<const unsigned char*>(tail.data()) + 4, 8);
  WriteHeader(first);
  if (!tail.empty()) {
    std::ofstream out(path_, std::ios::binary | std::ios::app);
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    if (!out) IoFailure("cannot write transaction log " + path_);
  }
}

size_t TransactionLog::Replay(sqlite3* db, const std::string& path) {
  std::string data = ReadAll(path);
  if (data.size() < kHeaderSize || std::memcmp(data.data(), kMagic, 8) != 0)
    throw ServerError(errRuntime, "not a transaction log: " + path);
  auto* p = reinterpret_cast<const unsigned char*>(data.data());
  size_t pos = kHeaderSize, applied = 0;
  auto exec = [&](const std::string& sql) {
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    std::string text = err ? err : "";
    sqlite3_free(err);
    if (rc != SQLITE_OK) throw ServerError(MapSqliteError(rc, text));
  };
  while (pos < data.size()) {
    if (pos + 12 > data.size()) throw ServerError(errRuntime, "damaged transaction log record");
    uint64_t len = GetLE(p + pos, 4);
    size_t end = pos + 12 + len;
    if (end > data.size() || len < 4) throw ServerError(errRuntime, "damaged transaction log record");
    size_t q = pos + 12;
    uint64_t count = GetLE(p + q, 4);
    q += 4;
    exec("BEGIN");
    try {
      for (uint64_t i = 0; i < count; ++i) {
        if (q + 4 > end) throw ServerError(errRuntime, "damaged transaction log record");
        uint64_t n = GetLE(p + q, 4);
        q += 4;
        if (q + n > end) throw ServerError(errRuntime, "damaged transaction log record");
        if (n > 0 && data[q] == '\0')
          RunBoundEntry(db, std::string_view(data).substr(q, n));
        else
          exec(data.substr(q, n));
        q += n;
      }
      exec("COMMIT");
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    pos = end;
    ++applied;
  }
  return applied;
}

}  // namespace vdbsrv
