#include "rtl/DateUtils.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "rtl/SysUtils.h"

namespace vcl {

namespace {

// Day number (TTimeStamp::Date) of 9999-12-31.
constexpr int64_t kMaxDate = 3652059;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const int64_t era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(Y - era * 400);
  const unsigned doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t Z, int64_t& Y, unsigned& M, unsigned& D) {
  Z += 719468;
  const int64_t era = (Z >= 0 ? Z : Z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(Z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  D = doy - (153 * mp + 2) / 5 + 1;
  M = mp < 10 ? mp + 3 : mp - 9;
  Y = static_cast<int64_t>(yoe) + era * 400 + (M <= 2);
}

[[noreturn]] void InvalidDateTime(double V) {
  throw EConvertError("'" + FloatToStr(V) + "' is not a valid date and time");
}

// The fields of a valid date-time.
struct DateTimeParts {
  uint16_t Year, Month, Day, Hour, Min, Sec, MSec;
};

DateTimeParts Split(TDateTime DateTime) {
  const TTimeStamp ts = DateTimeToTimeStamp(DateTime);
  DateTimeParts p{};
  int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(static_cast<int64_t>(ts.Date) - DateDelta - UnixDateDelta, y, m, d);
  p.Year = static_cast<uint16_t>(y);
  p.Month = static_cast<uint16_t>(m);
  p.Day = static_cast<uint16_t>(d);
  int32_t t = ts.Time;
  p.MSec = static_cast<uint16_t>(t % 1000);
  t /= 1000;
  p.Sec = static_cast<uint16_t>(t % 60);
  t /= 60;
  p.Min = static_cast<uint16_t>(t % 60);
  p.Hour = static_cast<uint16_t>(t / 60);
  return p;
}

// A small cursor over the text being parsed.
class Scanner {
 public:
  explicit Scanner(std::string_view S) : FS(S) {}

  bool AtEnd() const { return FPos >= FS.size(); }
  char Peek() const { return AtEnd() ? '\0' : FS[FPos]; }
  size_t Pos() const { return FPos; }
  void Reset(size_t P) { FPos = P; }

  bool Char(char C) {
    if (Peek() != C) return false;
    ++FPos;
    return true;
  }

  // MinDigits..MaxDigits decimal digits; answers their count (0 = failed).
  size_t Number(size_t MinDigits, size_t MaxDigits, unsigned& Value) {
    size_t n = 0;
    Value = 0;
    while (n < MaxDigits && Peek() >= '0' && Peek() <= '9') {
      Value = Value * 10 + static_cast<unsigned>(FS[FPos++] - '0');
      ++n;
    }
    if (n < MinDigits || (Peek() >= '0' && Peek() <= '9')) return 0;
    return n;
  }

  size_t SkipBlanks() {
    size_t n = 0;
    while (Peek() == ' ' || Peek() == '\t') ++FPos, ++n;
    return n;
  }

 private:
  std::string_view FS;
  size_t FPos = 0;
};

bool ScanDate(Scanner& S, TDateTime& Value) {
  unsigned y, m, d;
  if (!S.Number(1, 4, y) || !S.Char('-') || !S.Number(1, 2, m) || !S.Char('-') ||
      !S.Number(1, 2, d))
    return false;
  return TryEncodeDate(static_cast<uint16_t>(y), static_cast<uint16_t>(m),
                       static_cast<uint16_t>(d), Value);
}

bool ScanTime(Scanner& S, TDateTime& Value) {
  unsigned h, n, s = 0, ms = 0;
  if (!S.Number(1, 2, h) || !S.Char(':') || !S.Number(1, 2, n)) return false;
  if (S.Char(':')) {
    if (!S.Number(1, 2, s)) return false;
    if (S.Char('.')) {
      const size_t digits = S.Number(1, 3, ms);
      if (digits == 0) return false;
      for (size_t i = digits; i < 3; ++i) ms *= 10;
    }
  }
  return TryEncodeTime(static_cast<uint16_t>(h), static_cast<uint16_t>(n),
                       static_cast<uint16_t>(s), static_cast<uint16_t>(ms), Value);
}

}  // namespace

bool IsLeapYear(uint16_t Year) {
  return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0);
}

uint16_t DaysInAMonth(uint16_t Year, uint16_t Month) {
  static const uint16_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return Month == 2 && IsLeapYear(Year) ? 29 : kDays[Month - 1];
}

uint16_t DaysInMonth(TDateTime DateTime) {
  const DateTimeParts p = Split(DateTime);
  return DaysInAMonth(p.Year, p.Month);
}

bool TryEncodeDate(uint16_t Year, uint16_t Month, uint16_t Day, TDateTime& Result) {
  if (Year < 1 || Year > 9999 || Day < 1 || Day > DaysInAMonth(Year, Month)) return false;
  Result = static_cast<double>(DaysFromCivil(Year, Month, Day) + UnixDateDelta);
  return true;
}

bool TryEncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec, TDateTime& Result) {
  if (Hour >= 24 || Min >= 60 || Sec >= 60 || MSec >= 1000) return false;
  const int32_t ms = ((Hour * 60 + Min) * 60 + Sec) * 1000 + MSec;
  Result = static_cast<double>(ms) / MSecsPerDay;
  return true;
}

TDateTime EncodeDate(uint16_t Year, uint16_t Month, uint16_t Day) {
  TDateTime r;
  if (!TryEncodeDate(Year, Month, Day, r)) throw EConvertError("Invalid argument to date encode");
  return r;
}

TDateTime EncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec) {
  TDateTime r;
  if (!TryEncodeTime(Hour, Min, Sec, MSec, r))
    throw EConvertError("Invalid argument to time encode");
  return r;
}

TDateTime ComposeDateTime(TDateTime Date, TDateTime Time) {
  const double day = std::trunc(Date.Val);
  const double time = std::fabs(Time.Val);
  return day < 0 ? day - time : day + time;
}

TTimeStamp DateTimeToTimeStamp(TDateTime DateTime) {
  const double v = DateTime.Val;
  // The bounds keep the conversions below defined; the exact range is
  // checked on the day number.
  if (!std::isfinite(v) || v < -700000.0 || v > 3000000.0) InvalidDateTime(v);
  const double whole = std::trunc(v);
  int64_t day = static_cast<int64_t>(whole);
  int64_t ms = std::llround(std::fabs(v - whole) * MSecsPerDay);
  if (ms >= MSecsPerDay) {
    // Rounded up to the next midnight: the next day in time, which for
    // negative values is the day number one closer to zero.
    ms -= MSecsPerDay;
    day += 1;
  }
  const int64_t date = day + DateDelta;
  if (date < 1 || date > kMaxDate) InvalidDateTime(v);
  return TTimeStamp{static_cast<int32_t>(ms), static_cast<int32_t>(date)};
}

TDateTime TimeStampToDateTime(const TTimeStamp& TimeStamp) {
  if (TimeStamp.Time < 0 || TimeStamp.Time >= MSecsPerDay || TimeStamp.Date <= 0)
    throw EConvertError("'" + std::to_string(TimeStamp.Time) + "." +
                        std::to_string(TimeStamp.Date) + "' is not a valid timestamp");
  return ComposeDateTime(static_cast<double>(TimeStamp.Date - DateDelta),
                         static_cast<double>(TimeStamp.Time) / MSecsPerDay);
}

void DecodeDate(TDateTime DateTime, uint16_t& Year, uint16_t& Month, uint16_t& Day) {
  const DateTimeParts p = Split(DateTime);
  Year = p.Year;
  Month = p.Month;
  Day = p.Day;
}

void DecodeTime(TDateTime DateTime, uint16_t& Hour, uint16_t& Min, uint16_t& Sec,
                uint16_t& MSec) {
  const DateTimeParts p = Split(DateTime);
  Hour = p.Hour;
  Min = p.Min;
  Sec = p.Sec;
  MSec = p.MSec;
}

void DecodeDateTime(TDateTime DateTime, uint16_t& Year, uint16_t& Month, uint16_t& Day, uint16_t& Hour,
                    uint16_t& Min, uint16_t& Sec, uint16_t& MSec) {
  const DateTimeParts p = Split(DateTime);
  Year = p.Year;
  Month = p.Month;
  Day = p.Day;
  Hour = p.Hour;
  Min = p.Min;
  Sec = p.Sec;
  MSec = p.MSec;
}

int DayOfWeek(TDateTime DateTime) { return DateTimeToTimeStamp(DateTime).Date % 7 + 1; }

TDateTime Now() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const std::time_t secs = static_cast<std::time_t>(ms.count() / 1000);
  std::tm local{};
  localtime_r(&secs, &local);
  return EncodeDate(static_cast<uint16_t>(local.tm_year + 1900),
                    static_cast<uint16_t>(local.tm_mon + 1), static_cast<uint16_t>(local.tm_mday)) +
         EncodeTime(static_cast<uint16_t>(local.tm_hour), static_cast<uint16_t>(local.tm_min),
                    // a leap second reads as the last ordinary one
                    static_cast<uint16_t>(local.tm_sec > 59 ? 59 : local.tm_sec),
                    static_cast<uint16_t>(ms.count() % 1000));
}

TDateTime Date() { return std::trunc(Now().Val); }

TDateTime Time() {
  const double n = Now().Val;
  return n - std::trunc(n);
}

std::string DateToStr(TDateTime DateTime) {
  const DateTimeParts p = Split(DateTime);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02u", p.Year, p.Month, p.Day);
  return buf;
}

std::string TimeToStr(TDateTime DateTime) {
  const DateTimeParts p = Split(DateTime);
  char buf[32];
  if (p.MSec != 0)
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%03u", p.Hour, p.Min, p.Sec, p.MSec);
  else
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", p.Hour, p.Min, p.Sec);
  return buf;
}

std::string DateTimeToStr(TDateTime DateTime) {
  return DateToStr(DateTime) + " " + TimeToStr(DateTime);
}

bool TryStrToDateTime(std::string_view S, TDateTime& Value) {
  Scanner sc(S);
  sc.SkipBlanks();
  TDateTime date = 0.0, time = 0.0;
  const size_t start = sc.Pos();
  bool haveDate = ScanDate(sc, date);
  bool haveTime = false;
  if (haveDate) {
    const size_t afterDate = sc.Pos();
    if (sc.SkipBlanks() > 0 || sc.Char('T')) {
      sc.SkipBlanks();
      if (!sc.AtEnd()) {
        haveTime = ScanTime(sc, time);
        if (!haveTime) return false;
      }
    } else {
      sc.Reset(afterDate);
    }
  } else {
    sc.Reset(start);
    haveTime = ScanTime(sc, time);
    if (!haveTime) return false;
  }
  sc.SkipBlanks();
  if (!sc.AtEnd()) return false;
  Value = ComposeDateTime(date, time);
  return true;
}

TDateTime StrToDateTime(std::string_view S) {
  TDateTime v;
  if (!TryStrToDateTime(S, v))
    throw EConvertError("'" + std::string(S) + "' is not a valid date and time");
  return v;
}

}  // namespace vcl
