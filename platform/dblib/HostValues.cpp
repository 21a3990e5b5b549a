#include "dblib/HostValues.h"

#include "dbsrv/Errors.h"
#include "dbsrv/ServerVariables.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace vdblib {

using vdbsrv::ServerError;
using vdbsrv::SqlValue;

namespace {

template <class T>
T Load(const void* p) {
  T x;
  std::memcpy(&x, p, sizeof x);
  return x;
}
template <class T>
void Store(void* p, T x) {
  std::memcpy(p, &x, sizeof x);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {  // m 1..12
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Sunday = 0, for the proleptic Gregorian calendar.
int DayOfWeek(int y, int m, int d) {
  static constexpr int kT[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return (y + y / 4 - y / 100 + y / 400 + kT[m - 1] + d) % 7;
}

// Writes v in decimal, zero-padded to at least width digits, as "%0*u" does.
char* PutDigits(char* p, uint32_t v, int width) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  for (int i = n; i < width; ++i) *p++ = '0';
  while (n > 0) *p++ = digits[--n];
  return p;
}

// "yyyy-mm-dd", "hh:nn:ss[.fff|.ffffff]" or both, written by hand: the
// text of every date-time host value sent to the server (snprintf cost more
// than the rest of an insert).
void FormatDateTime(const SQLDATETIME& t, char* out, size_t size) {
  if (size == 0) return;
  const bool hasTime = t.hour || t.minute || t.second || t.microsecond;
  char text[64];
  char* p = text;
  if (t.year != 0) {
    p = PutDigits(p, t.year, 4);
    *p++ = '-';
    p = PutDigits(p, t.month + 1u, 2);
    *p++ = '-';
    p = PutDigits(p, t.day, 2);
  }
  if (t.year == 0 || hasTime) {
    if (t.year != 0) *p++ = ' ';
    p = PutDigits(p, t.hour, 2);
    *p++ = ':';
    p = PutDigits(p, t.minute, 2);
    *p++ = ':';
    p = PutDigits(p, t.second, 2);
    if (t.microsecond != 0) {
      *p++ = '.';
      p = t.microsecond % 1000 == 0 ? PutDigits(p, t.microsecond / 1000, 3) : PutDigits(p, t.microsecond, 6);
    }
  }
  const size_t length = std::min(static_cast<size_t>(p - text), size - 1);
  std::memcpy(out, text, length);
  out[length] = '\0';
}

bool ValidDateTime(const SQLDATETIME& t) {
  if (t.hour > 23 || t.minute > 59 || t.second > 59 || t.microsecond > 999999) return false;
  if (t.year == 0) return t.month == 0 && t.day == 0;
  return t.year <= 9999 && t.month <= 11 && t.day >= 1 && t.day <= DaysInMonth(t.year, t.month + 1);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Reads n digits at p; -1 when they are not all digits.
int Digits(std::string_view s, size_t p, size_t n) {
  if (p + n > s.size()) return -1;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = s[p + i];
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::string NumberText(const SqlValue& v, char* buf, size_t size) {
  if (v.kind == vdbsrv::svInteger) return std::to_string(v.i);
  std::snprintf(buf, size, "%.15g", v.d);
  return buf;
}

[[noreturn]] void ConversionError(const SqlValue& v) {
  std::string text;
  char buf[40];
  switch (v.kind) {
    case vdbsrv::svText: text = std::string(v.Bytes().substr(0, 60)); break;
    case vdbsrv::svBlob: text = "binary value"; break;
    default: text = NumberText(v, buf, sizeof buf); break;
  }
  throw ServerError(vdbsrv::errConversion, text);
}

// The value as an integer within [lo, hi].
int64_t ToInteger(const SqlValue& v, int64_t lo, uint64_t hi) {
  char buf[40];
  int64_t x = 0;
  switch (v.kind) {
    case vdbsrv::svInteger:
      x = v.i;
      break;
    case vdbsrv::svDouble:
      if (!std::isfinite(v.d) || v.d < static_cast<double>(lo) || v.d >= static_cast<double>(hi) + 1.0)
        throw ServerError(vdbsrv::errValueOutOfRange, NumberText(v, buf, sizeof buf));
      x = static_cast<int64_t>(v.d);
      break;
    case vdbsrv::svText: {
      std::string s(Trim(v.Bytes()));
      if (s.empty()) ConversionError(v);
      char* end = nullptr;
      errno = 0;
      long long i = std::strtoll(s.c_str(), &end, 10);
      if (*end == '\0' && errno == 0) {
        x = i;
        break;
      }
      double d = std::strtod(s.c_str(), &end);
      if (*end != '\0') ConversionError(v);
      return ToInteger(SqlValue::Double(d), lo, hi);
    }
    default:
      ConversionError(v);
  }
  if (x < lo || (x >= 0 && static_cast<uint64_t>(x) > hi))
    throw ServerError(vdbsrv::errValueOutOfRange, NumberText(v, buf, sizeof buf));
  return x;
}

uint64_t ToUnsigned64(const SqlValue& v) {
  if (v.kind == vdbsrv::svText) {
    std::string s(Trim(v.Bytes()));
    char* end = nullptr;
    errno = 0;
    if (!s.empty() && s[0] != '-') {
      unsigned long long u = std::strtoull(s.c_str(), &end, 10);
      if (*end == '\0' && errno == 0) return u;
    }
  }
  if (v.kind == vdbsrv::svDouble && v.d >= 9.2e18 && v.d < 1.8446744073709552e19)
    return static_cast<uint64_t>(v.d);
  return static_cast<uint64_t>(ToInteger(v, 0, static_cast<uint64_t>(INT64_MAX)));
}

double ToDouble(const SqlValue& v) {
  switch (v.kind) {
    case vdbsrv::svInteger: return static_cast<double>(v.i);
    case vdbsrv::svDouble: return v.d;
    case vdbsrv::svText: {
      std::string s(Trim(v.Bytes()));
      char* end = nullptr;
      double d = std::strtod(s.c_str(), &end);
      if (s.empty() || *end != '\0') ConversionError(v);
      return d;
    }
    default: ConversionError(v);
  }
}

// Copies bytes into room bytes at p; answers whether it was cut.
bool CopyCut(char* p, size_t room, std::string_view bytes, size_t& copied) {
  copied = bytes.size() < room ? bytes.size() : room;
  std::memcpy(p, bytes.data(), copied);
  return copied < bytes.size();
}

int16_t Indicator(size_t full) { return static_cast<int16_t>(full > 32767 ? 32767 : full); }

}  // namespace

bool ParseDateTime(std::string_view s, SQLDATETIME& t) {
  s = Trim(s);
  std::memset(&t, 0, sizeof t);
  size_t p = 0;
  int y = -1, mo = 0, d = 0;
  if (s.size() >= 10 && s[4] == '-' && s[7] == '-') {
    y = Digits(s, 0, 4);
    mo = Digits(s, 5, 2);
    d = Digits(s, 8, 2);
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) return false;
    p = 10;
    if (p < s.size()) {
      if (s[p] != ' ' && s[p] != 'T') return false;
      ++p;
    }
  }
  int h = 0, mi = 0, sec = 0;
  uint32_t us = 0;
  if (p < s.size()) {
    h = Digits(s, p, 2);
    if (h < 0 || p + 2 >= s.size() || s[p + 2] != ':') return false;
    mi = Digits(s, p + 3, 2);
    p += 5;
    if (p < s.size() && s[p] == ':') {
      sec = Digits(s, p + 1, 2);
      p += 3;
    }
    if (mi < 0 || sec < 0 || h > 23 || mi > 59 || sec > 59) return false;
    if (p < s.size() && s[p] == '.') {
      ++p;
      uint32_t scale = 100000;
      while (p < s.size() && s[p] >= '0' && s[p] <= '9') {
        us += static_cast<uint32_t>(s[p] - '0') * scale;
        scale /= 10;
        ++p;
      }
    }
    if (p != s.size()) return false;
  } else if (y < 0) {
    return false;
  }
  if (y > 0) {
    t.year = static_cast<uint16_t>(y);
    t.month = static_cast<uint8_t>(mo - 1);
    t.day = static_cast<uint8_t>(d);
    t.day_of_week = static_cast<uint8_t>(DayOfWeek(y, mo, d));
    // Days before the month in a common year; one more after February in a leap year.
    static constexpr int kDaysBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const int doy = kDaysBefore[mo - 1] + d - 1 + (mo > 2 && IsLeap(y) ? 1 : 0);
    t.day_of_year = static_cast<uint16_t>(doy);
  }
  t.hour = static_cast<uint8_t>(h);
  t.minute = static_cast<uint8_t>(mi);
  t.second = static_cast<uint8_t>(sec);
  t.microsecond = us;
  return true;
}

SqlValue EntryValue(const sqlvar& v, vdbsrv::ServerVariables& variables, DateTimeText& scratch) {
  if (v.sqlind && *v.sqlind < 0) return SqlValue::Null();
  const int type = v.sqltype & DT_TYPES;
  if (!v.sqldata) throw ServerError(vdbsrv::errInvalidParameter, "host variable without data");
  const char* p = static_cast<const char*>(v.sqldata);
  switch (type) {
    case DT_STRING: case DT_DATE: case DT_TIME: case DT_TIMESTAMP:
      return SqlValue::Text({p, strnlen(p, v.sqllen)});
    case DT_FIXCHAR: return SqlValue::Text({p, v.sqllen});
    case DT_VARCHAR: {
      uint16_t n = Load<uint16_t>(p);
      return SqlValue::Text({p + 2, n < v.sqllen ? n : v.sqllen});
    }
    case DT_LONGVARCHAR: {
      uint32_t n = Load<uint32_t>(p);
      return SqlValue::Text({p + 4, n < v.sqllen ? n : v.sqllen});
    }
    case DT_BINARY: {
      uint16_t n = Load<uint16_t>(p);
      size_t room = v.sqllen >= 2 ? v.sqllen - 2u : 0;
      return SqlValue::Blob({p + 2, n < room ? n : room});
    }
    case DT_LONGBINARY: {
      uint32_t n = Load<uint32_t>(p);
      return SqlValue::Blob({p + 4, n < v.sqllen ? n : v.sqllen});
    }
    case DT_INT: return SqlValue::Integer(Load<int32_t>(p));
    case DT_UNSINT: return SqlValue::Integer(Load<uint32_t>(p));
    case DT_SMALLINT: return SqlValue::Integer(Load<int16_t>(p));
    case DT_UNSSMALLINT: return SqlValue::Integer(Load<uint16_t>(p));
    case DT_TINYINT: return SqlValue::Integer(Load<uint8_t>(p));
    case DT_BIT: return SqlValue::Integer(Load<uint8_t>(p) ? 1 : 0);
    case DT_BIGINT: return SqlValue::Integer(Load<int64_t>(p));
    case DT_UNSBIGINT: {
      uint64_t u = Load<uint64_t>(p);
      return u > static_cast<uint64_t>(INT64_MAX) ? SqlValue::Double(static_cast<double>(u))
                                                   : SqlValue::Integer(static_cast<int64_t>(u));
    }
    case DT_DOUBLE: return SqlValue::Double(Load<double>(p));
    case DT_FLOAT: return SqlValue::Double(Load<float>(p));
    case DT_TIMESTAMP_STRUCT: {
      SQLDATETIME t = Load<SQLDATETIME>(p);
      if (!ValidDateTime(t)) throw ServerError(vdbsrv::errConversion, "date-time structure");
      FormatDateTime(t, scratch.text, sizeof scratch.text);
      return SqlValue::Text(scratch.text);
    }
    case DT_VARIABLE: {
      std::string_view name(p, strnlen(p, v.sqllen ? v.sqllen : 128));
      return variables.Get(name).value.View();
    }
    default:
      throw ServerError(vdbsrv::errConversion, "host type " + std::to_string(v.sqltype));
  }
}

bool PutValue(sqlvar& v, const SqlValue& value) {
  if (!v.sqldata) throw ServerError(vdbsrv::errInvalidParameter, "result entry without data");
  if (value.kind == vdbsrv::svNull) {
    if (!v.sqlind) throw ServerError(vdbsrv::errNoIndicator);
    *v.sqlind = -1;
    return false;
  }
  char* p = static_cast<char*>(v.sqldata);
  const int type = v.sqltype & DT_TYPES;
  bool cut = false;
  size_t full = 0;
  char buf[40];
  auto bytesOf = [&](std::string& keep) -> std::string_view {
    if (value.kind == vdbsrv::svText || value.kind == vdbsrv::svBlob) return value.Bytes();
    keep = NumberText(value, buf, sizeof buf);
    return keep;
  };
  std::string keep;
  switch (type) {
    case DT_STRING: case DT_DATE: case DT_TIME: case DT_TIMESTAMP: {
      std::string_view b = bytesOf(keep);
      size_t room = type == DT_STRING ? (v.sqllen ? v.sqllen - 1u : 0) : v.sqllen;
      if (type == DT_STRING && v.sqllen == 0) throw ServerError(vdbsrv::errInvalidParameter, "string entry of length 0");
      size_t n;
      cut = CopyCut(p, room, b, n);
      p[n] = '\0';
      full = b.size();
      break;
    }
    case DT_FIXCHAR: {
      std::string_view b = bytesOf(keep);
      size_t n;
      cut = CopyCut(p, v.sqllen, b, n);
      std::memset(p + n, ' ', v.sqllen - n);
      full = b.size();
      break;
    }
    case DT_VARCHAR: case DT_BINARY: {
      std::string_view b = bytesOf(keep);
      size_t room = type == DT_BINARY ? (v.sqllen >= 2 ? v.sqllen - 2u : 0) : v.sqllen;
      size_t n;
      cut = CopyCut(p + 2, room, b, n);
      Store<uint16_t>(p, static_cast<uint16_t>(n));
      full = b.size();
      break;
    }
    case DT_LONGVARCHAR: case DT_LONGBINARY: {
      std::string_view b = bytesOf(keep);
      size_t n;
      cut = CopyCut(p + 4, v.sqllen, b, n);
      Store<uint32_t>(p, static_cast<uint32_t>(n));
      full = b.size();
      break;
    }
    case DT_INT: Store<int32_t>(p, static_cast<int32_t>(ToInteger(value, INT32_MIN, INT32_MAX))); break;
    case DT_UNSINT: Store<uint32_t>(p, static_cast<uint32_t>(ToInteger(value, 0, UINT32_MAX))); break;
    case DT_SMALLINT: Store<int16_t>(p, static_cast<int16_t>(ToInteger(value, INT16_MIN, INT16_MAX))); break;
    case DT_UNSSMALLINT: Store<uint16_t>(p, static_cast<uint16_t>(ToInteger(value, 0, UINT16_MAX))); break;
    case DT_TINYINT: Store<uint8_t>(p, static_cast<uint8_t>(ToInteger(value, 0, UINT8_MAX))); break;
    case DT_BIT: Store<uint8_t>(p, ToInteger(value, INT64_MIN, INT64_MAX) != 0 ? 1 : 0); break;
    case DT_BIGINT: Store<int64_t>(p, ToInteger(value, INT64_MIN, INT64_MAX)); break;
    case DT_UNSBIGINT: Store<uint64_t>(p, ToUnsigned64(value)); break;
    case DT_DOUBLE: Store<double>(p, ToDouble(value)); break;
    case DT_FLOAT: Store<float>(p, static_cast<float>(ToDouble(value))); break;
    case DT_TIMESTAMP_STRUCT: {
      SQLDATETIME t;
      if (value.kind != vdbsrv::svText || !ParseDateTime(value.Bytes(), t)) ConversionError(value);
      Store<SQLDATETIME>(p, t);
      break;
    }
    default:
      throw ServerError(vdbsrv::errConversion, "host type " + std::to_string(v.sqltype));
  }
  if (v.sqlind) *v.sqlind = cut ? Indicator(full) : 0;
  return cut;
}

SqldaInput::SqldaInput(const SQLDA* sqlda, vdbsrv::ServerVariables& variables)
    : sqlda_(sqlda), variables_(variables) {
  if (sqlda_) EntriesInUse(sqlda_, "input descriptor");
  size_t n = Count();
  if (n > kInline) more_ = std::make_unique<DateTimeText[]>(n - kInline);
}

size_t SqldaInput::Count() const { return sqlda_ ? static_cast<size_t>(sqlda_->sqld) : 0; }

SqlValue SqldaInput::Value(size_t host) const {
  DateTimeText& scratch = host < kInline ? inline_[host] : more_[host - kInline];
  return EntryValue(sqlda_->sqlvar[host], variables_, scratch);
}

int EntriesInUse(const SQLDA* sqlda, const char* what) {
  if (!sqlda) throw ServerError(vdbsrv::errInvalidParameter, std::string("no ") + what);
  if (sqlda->sqld < 0 || sqlda->sqld > sqlda->sqln)
    throw ServerError(vdbsrv::errDescriptorMismatch, std::string(what) + " uses more entries than it has");
  return sqlda->sqld;
}

void PutName(sqlvar& v, std::string_view name) {
  size_t n = name.size() < SQL_NAME_LENGTH ? name.size() : SQL_NAME_LENGTH;
  std::memset(v.sqlname.data, 0, SQL_NAME_LENGTH);
  std::memcpy(v.sqlname.data, name.data(), n);
  v.sqlname.length = static_cast<int16_t>(n);
}

std::string_view EntryName(const sqlvar& v) {
  size_t n = v.sqlname.length > 0 && v.sqlname.length <= SQL_NAME_LENGTH
                 ? static_cast<size_t>(v.sqlname.length)
                 : SQL_NAME_LENGTH;
  return {v.sqlname.data, strnlen(v.sqlname.data, n)};
}

}  // namespace vdblib
