#include "dblib/Services.h"

#include "dbsrv/Errors.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace vdblib {

namespace {

constexpr uint32_t kMaxEntries = 32767;  // sqln is 16 bits

// Buffer bytes fill_sqlda gives an entry, 0 for a type it cannot size.
size_t DataSize(const sqlvar& v) {
  size_t len = v.sqllen;
  switch (v.sqltype & DT_TYPES) {
    case DT_STRING: return len ? len : 1;  // the length counts the terminator
    case DT_FIXCHAR: case DT_DATE: case DT_TIME: case DT_TIMESTAMP: case DT_VARIABLE:
      return len + 1;
    case DT_VARCHAR: return len + 2;       // 16-bit length, then the bytes
    case DT_LONGVARCHAR: case DT_LONGBINARY: return len + 4;
    case DT_BINARY: return len >= 2 ? len : 2;  // the length counts its 16-bit prefix
    case DT_INT: case DT_UNSINT: case DT_FLOAT: return 4;
    case DT_SMALLINT: case DT_UNSSMALLINT: return 2;
    case DT_TINYINT: case DT_BIT: return 1;
    case DT_DOUBLE: case DT_BIGINT: case DT_UNSBIGINT: return 8;
    case DT_TIMESTAMP_STRUCT: return sizeof(SQLDATETIME);
    case DT_DECIMAL: return (len & 0xff) / 2 + 1;  // packed digits, precision in the low byte
    default: return 0;
  }
}

}  // namespace

SQLDA* AllocSqlda(uint32_t count, bool withIndicators) {
  if (count > kMaxEntries) return nullptr;
  size_t entries = count ? count : 1;
  size_t head = offsetof(SQLDA, sqlvar) + entries * sizeof(sqlvar);
  size_t size = head + (withIndicators ? entries * sizeof(int16_t) : 0);
  auto* da = static_cast<SQLDA*>(std::calloc(1, size));
  if (!da) return nullptr;
  std::memcpy(da->sqldaid, "SQLDA   ", 8);
  da->sqldabc = static_cast<int32_t>(size);
  da->sqln = static_cast<int16_t>(count);
  da->sqld = static_cast<int16_t>(count);
  if (withIndicators) {
    auto* ind = reinterpret_cast<int16_t*>(reinterpret_cast<char*>(da) + head);
    for (uint32_t i = 0; i < count; ++i) da->sqlvar[i].sqlind = &ind[i];
  }
  return da;
}

SQLDA* FillSqlda(SQLDA* da) {
  if (!da || da->sqld < 0 || da->sqld > da->sqln) return nullptr;
  for (int i = 0; i < da->sqld; ++i) {
    size_t size = DataSize(da->sqlvar[i]);
    void* p = size ? std::calloc(1, size) : nullptr;
    if (!p) {
      for (int j = 0; j < i; ++j) {
        std::free(da->sqlvar[j].sqldata);
        da->sqlvar[j].sqldata = nullptr;
      }
      return nullptr;
    }
    da->sqlvar[i].sqldata = p;
  }
  return da;
}

void FreeSqlda(SQLDA* da) { std::free(da); }

void FreeFilledSqlda(SQLDA* da) {
  if (!da) return;
  for (int i = 0; i < da->sqld && i < da->sqln; ++i) {
    std::free(da->sqlvar[i].sqldata);
    da->sqlvar[i].sqldata = nullptr;
  }
  std::free(da);
}

std::string EntryText(const sqlvar& v) {
  if (!v.sqldata) throw vdbsrv::ServerError(vdbsrv::errInvalidParameter, "entry without data");
  const char* p = static_cast<const char*>(v.sqldata);
  switch (v.sqltype & DT_TYPES) {
    case DT_STRING: return std::string(p, strnlen(p, v.sqllen));
    case DT_FIXCHAR: {
      std::string s(p, strnlen(p, v.sqllen));
      while (!s.empty() && s.back() == ' ') s.pop_back();
      return s;
    }
    case DT_VARCHAR: {
      uint16_t n;
      std::memcpy(&n, p, 2);
      return std::string(p + 2, std::min<size_t>(n, v.sqllen));
    }
    case DT_INT: { int32_t x; std::memcpy(&x, p, 4); return std::to_string(x); }
    case DT_UNSINT: { uint32_t x; std::memcpy(&x, p, 4); return std::to_string(x); }
    case DT_SMALLINT: { int16_t x; std::memcpy(&x, p, 2); return std::to_string(x); }
    case DT_UNSSMALLINT: { uint16_t x; std::memcpy(&x, p, 2); return std::to_string(x); }
    case DT_TINYINT: return std::to_string(static_cast<unsigned char>(*p));
    case DT_BIT: return *p ? "1" : "0";
    case DT_BIGINT: { int64_t x; std::memcpy(&x, p, 8); return std::to_string(x); }
    case DT_UNSBIGINT: { uint64_t x; std::memcpy(&x, p, 8); return std::to_string(x); }
    default:
      throw vdbsrv::ServerError(vdbsrv::errConversion, "type " + std::to_string(v.sqltype));
  }
}

bool PutEntryText(sqlvar& v, std::string_view text) {
  if (!v.sqldata) throw vdbsrv::ServerError(vdbsrv::errInvalidParameter, "entry without data");
  char* p = static_cast<char*>(v.sqldata);
  const size_t full = text.size();
  size_t room = 0;
  bool cut = false;
  switch (v.sqltype & DT_TYPES) {
    case DT_STRING:
      if (v.sqllen == 0) throw vdbsrv::ServerError(vdbsrv::errInvalidParameter, "entry of length 0");
      room = v.sqllen - 1u;
      cut = text.size() > room;
      text = text.substr(0, room);
      std::memcpy(p, text.data(), text.size());
      p[text.size()] = '\0';
      break;
    case DT_FIXCHAR:
      room = v.sqllen;
      cut = text.size() > room;
      text = text.substr(0, room);
      std::memset(p, ' ', room);
      std::memcpy(p, text.data(), text.size());
      break;
    case DT_VARCHAR: {
      room = v.sqllen;
      cut = text.size() > room;
      text = text.substr(0, room);
      uint16_t n = static_cast<uint16_t>(text.size());
      std::memcpy(p, &n, 2);
      std::memcpy(p + 2, text.data(), text.size());
      break;
    }
    default:
      throw vdbsrv::ServerError(vdbsrv::errConversion, "type " + std::to_string(v.sqltype));
  }
  if (v.sqlind) *v.sqlind = cut ? static_cast<int16_t>(std::min<size_t>(full, 32767)) : 0;
  return cut;
}

}  // namespace vdblib
