// Date and time as the framework keeps them: a double counting days since
// 1899-12-30, the fraction being the time of day. Before that day the whole
// part counts backwards while the fraction still counts forwards in time
// from midnight: -1.25 is 1899-12-29 06:00.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/System.h"

namespace vcl {

// A double with its own type, so that a date can be told from a number
// (Variant keeps them apart); it converts both ways implicitly.
struct TDateTime {
  double Val = 0;  // days since 1899-12-30 plus the time as a fraction
  constexpr TDateTime() = default;
  constexpr TDateTime(double V) : Val(V) {}
  constexpr operator double() const { return Val; }
};

constexpr int32_t HoursPerDay = 24;
constexpr int32_t MinsPerDay = HoursPerDay * 60;
constexpr int32_t SecsPerDay = MinsPerDay * 60;
constexpr int32_t MSecsPerDay = SecsPerDay * 1000;
// Day number (TTimeStamp::Date) of 1899-12-30, and TDateTime of 1970-01-01.
constexpr int32_t DateDelta = 693594;
constexpr int32_t UnixDateDelta = 25569;

// A date-time split into whole numbers.
struct TTimeStamp {
  int32_t Time;  // milliseconds since midnight, 0..86399999
  int32_t Date;  // days since 0001-01-01 plus one (0001-01-01 is 1)
};

bool IsLeapYear(uint16_t Year);
// Days in Month of Year; 0 for a month outside 1..12.
uint16_t DaysInAMonth(uint16_t Year, uint16_t Month);
uint16_t DaysInMonth(TDateTime DateTime);

// Years 1..9999. Failures raise EConvertError "Invalid argument to date
// encode" / "Invalid argument to time encode"; the Try forms answer false
// and leave the result alone.
TDateTime EncodeDate(uint16_t Year, uint16_t Month, uint16_t Day);
TDateTime EncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec);
bool TryEncodeDate(uint16_t Year, uint16_t Month, uint16_t Day, TDateTime& Result);
bool TryEncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec, TDateTime& Result);
// Joins a whole-day date and a time of day the way negative values count.
TDateTime ComposeDateTime(TDateTime Date, TDateTime Time);

// Decoding rounds to the nearest millisecond (so 23:59:59.9996 is the next
// day's midnight). Values outside 0001-01-01..9999-12-31, NaN and
// infinities raise EConvertError "'<value>' is not a valid date and time".
void DecodeDate(TDateTime DateTime, uint16_t& Year, uint16_t& Month, uint16_t& Day);
void DecodeTime(TDateTime DateTime, uint16_t& Hour, uint16_t& Min, uint16_t& Sec,
                uint16_t& MSec);
// Both at once, from one decoding of the value.
void DecodeDateTime(TDateTime DateTime, uint16_t& Year, uint16_t& Month, uint16_t& Day, uint16_t& Hour,
                    uint16_t& Min, uint16_t& Sec, uint16_t& MSec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime DateTime);

TTimeStamp DateTimeToTimeStamp(TDateTime DateTime);
// Raises EConvertError "'<time>.<date>' is not a valid timestamp" for a
// time outside a day or a date before 0001-01-01.
TDateTime TimeStampToDateTime(const TTimeStamp& TimeStamp);

// Local time of the system clock: now, today at midnight, the time of day.
TDateTime Now();
TDateTime Date();
TDateTime Time();

// The one text format: "yyyy-mm-dd hh:nn:ss", with ".zzz" (milliseconds)
// appended only when they are not zero.
std::string DateTimeToStr(TDateTime DateTime);
std::string DateToStr(TDateTime DateTime);  // "yyyy-mm-dd"
std::string TimeToStr(TDateTime DateTime);  // "hh:nn:ss[.zzz]"

// Reads "yyyy-mm-dd", "hh:nn[:ss[.f]]" or both separated by blanks or a
// 'T'; blanks around the text are ignored. The fraction of seconds has one
// to three digits (".5" is 500 ms). A time alone is a time on 1899-12-30.
// Failures raise EConvertError "'<text>' is not a valid date and time".
TDateTime StrToDateTime(std::string_view S);
bool TryStrToDateTime(std::string_view S, TDateTime& Value);

}  // namespace vcl
