#include "rtl/DateUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

struct Ymd {
  uint16_t Y, M, D;
};

TEST(DateUtilsTest, EncodeDateCountsFromTheEpoch) {
  struct Case {
    Ymd Date;
    double Expected;
  } cases[] = {
      {{1899, 12, 30}, 0},       {{1899, 12, 29}, -1},     {{1900, 1, 1}, 2},
      {{1900, 3, 1}, 61},        {{2000, 1, 1}, 36526},    {{2000, 2, 29}, 36585},
      {{1970, 1, 1}, 25569},     {{1, 1, 1}, -693593},     {{9999, 12, 31}, 2958465},
      {{1600, 2, 29}, -109512},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(double(vcl::EncodeDate(c.Date.Y, c.Date.M, c.Date.D)), c.Expected)
        << c.Date.Y << "-" << c.Date.M << "-" << c.Date.D;
    uint16_t y, m, d;
    vcl::DecodeDate(c.Expected, y, m, d);
    EXPECT_EQ(y, c.Date.Y);
    EXPECT_EQ(m, c.Date.M);
    EXPECT_EQ(d, c.Date.D);
  }
}

TEST(DateUtilsTest, InvalidDatesAndTimesAreRejected) {
  const Ymd badDates[] = {{0, 1, 1},     {10000, 1, 1}, {2023, 2, 29}, {1900, 2, 29},
                          {2024, 2, 30}, {2024, 4, 31}, {2024, 13, 1}, {2024, 0, 1},
                          {2024, 1, 0}};
  for (const Ymd& b : badDates) {
    vcl::TDateTime r = 42.0;
    EXPECT_FALSE(vcl::TryEncodeDate(b.Y, b.M, b.D, r)) << b.Y << "-" << b.M << "-" << b.D;
    EXPECT_EQ(double(r), 42.0);
    try {
      vcl::EncodeDate(b.Y, b.M, b.D);
      ADD_FAILURE() << "no exception";
    } catch (const vcl::EConvertError& e) {
      EXPECT_EQ(e.Message(), "Invalid argument to date encode");
    }
  }
  const uint16_t badTimes[][4] = {{24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}};
  for (const auto& t : badTimes) {
    vcl::TDateTime r = 42.0;
    EXPECT_FALSE(vcl::TryEncodeTime(t[0], t[1], t[2], t[3], r));
    EXPECT_EQ(double(r), 42.0);
    EXPECT_THROW(vcl::EncodeTime(t[0], t[1], t[2], t[3]), vcl::EConvertError);
  }
  EXPECT_EQ(double(vcl::EncodeTime(6, 0, 0, 0)), 0.25);
  EXPECT_EQ(double(vcl::EncodeTime(23, 59, 59, 999)), 86399999.0 / vcl::MSecsPerDay);
}

TEST(DateUtilsTest, EveryDayOfACalendarCycleRoundTrips) {
  // The Gregorian calendar repeats every 400 years; check one whole cycle
  // and both ends of the range day by day.
  struct Range {
    int First, Last;
  } ranges[] = {{-693593, -693593 + 800}, {-109513, -109513 + 146097 + 1}, {2958465 - 800, 2958465}};
  for (const Range& r : ranges) {
    uint16_t py, pm, pd;
    vcl::DecodeDate(r.First - 1 >= -693593 ? r.First - 1 : r.First, py, pm, pd);
    for (int day = r.First; day <= r.Last; ++day) {
      uint16_t y, m, d;
      vcl::DecodeDate(day, y, m, d);
      ASSERT_EQ(double(vcl::EncodeDate(y, m, d)), day) << y << "-" << m << "-" << d;
      // 1899-12-30 was a Saturday.
      ASSERT_EQ(vcl::DayOfWeek(day), ((day % 7) + 7 + 6) % 7 + 1) << day;
      if (day > -693593) {  // each day follows the previous one
        const bool nextInMonth = y == py && m == pm && d == pd + 1;
        const bool nextMonth = d == 1 && pd == vcl::DaysInAMonth(py, pm) &&
                               ((m == pm + 1 && y == py) || (m == 1 && pm == 12 && y == py + 1));
        ASSERT_TRUE(nextInMonth || nextMonth) << y << "-" << m << "-" << d;
      }
      py = y, pm = m, pd = d;
    }
  }
}

TEST(DateUtilsTest, NegativeValuesCountTimeForwardFromMidnight) {
  struct Case {
    double Value;
    const char* Text;
  } cases[] = {
      {-1.25, "1899-12-29 06:00:00"},
      {-1.75, "1899-12-29 18:00:00"},
      {-0.5, "1899-12-30 12:00:00"},
      {0.5, "1899-12-30 12:00:00"},
      {-2.0, "1899-12-28 00:00:00"},
      {-693593.5, "0001-01-01 12:00:00"},
      // Rounding up to the next midnight moves to the next day in time.
      {0.99999999999, "1899-12-31 00:00:00"},
      {-1.99999999999, "1899-12-30 00:00:00"},
      {-2.99999999999, "1899-12-29 00:00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vcl::DateTimeToStr(c.Value), c.Text) << c.Value;
    EXPECT_EQ(double(vcl::StrToDateTime(vcl::DateTimeToStr(c.Value))),
              double(vcl::StrToDateTime(c.Text)));
  }
  EXPECT_EQ(double(vcl::ComposeDateTime(-1, 0.25)), -1.25);
  EXPECT_EQ(double(vcl::ComposeDateTime(vcl::EncodeDate(1899, 12, 29), vcl::EncodeTime(6, 0, 0, 0))),
            -1.25);
  EXPECT_EQ(double(vcl::ComposeDateTime(3, 0.25)), 3.25);
}

TEST(DateUtilsTest, MillisecondsSurviveComposeAndDecode) {
  const int days[] = {0, 1, -1, -2, -700, 45000, 2958465, -693593};
  for (int day : days) {
    for (int32_t ms = 0; ms < vcl::MSecsPerDay; ms += 4999) {
      for (int32_t t : {ms, vcl::MSecsPerDay - 1 - ms}) {
        const vcl::TDateTime v =
            vcl::ComposeDateTime(day, static_cast<double>(t) / vcl::MSecsPerDay);
        const vcl::TTimeStamp ts = vcl::DateTimeToTimeStamp(v);
        ASSERT_EQ(ts.Time, t) << day;
        ASSERT_EQ(ts.Date, day + vcl::DateDelta) << t;
        ASSERT_EQ(double(vcl::TimeStampToDateTime(ts)), double(v));
        uint16_t h, n, s, z;
        vcl::DecodeTime(v, h, n, s, z);
        ASSERT_EQ(((h * 60 + n) * 60 + s) * 1000 + z, t);
        // Decoded at once, date and time agree with the separate calls.
        uint16_t y, m, d, y2, m2, d2, h2, n2, s2, z2;
        vcl::DecodeDate(v, y, m, d);
        vcl::DecodeDateTime(v, y2, m2, d2, h2, n2, s2, z2);
        ASSERT_EQ(std::vector<int>({y, m, d, h, n, s, z}), std::vector<int>({y2, m2, d2, h2, n2, s2, z2})) << t;
      }
    }
  }
}

TEST(DateUtilsTest, TimeStampsUseTheDayNumberSinceYearOne) {
  const vcl::TTimeStamp zero = vcl::DateTimeToTimeStamp(0.0);
  EXPECT_EQ(zero.Date, 693594);
  EXPECT_EQ(zero.Time, 0);
  EXPECT_EQ(vcl::DateTimeToTimeStamp(vcl::EncodeDate(1, 1, 1)).Date, 1);
  const vcl::TTimeStamp t = vcl::DateTimeToTimeStamp(vcl::EncodeDate(2024, 2, 29) + 0.75);
  EXPECT_EQ(t.Time, 64800000);
  EXPECT_EQ(double(vcl::TimeStampToDateTime(t)), double(vcl::EncodeDate(2024, 2, 29)) + 0.75);

  const vcl::TTimeStamp bad[] = {{-1, 1}, {vcl::MSecsPerDay, 1}, {0, 0}, {0, -5}};
  for (const vcl::TTimeStamp& b : bad) EXPECT_THROW(vcl::TimeStampToDateTime(b), vcl::EConvertError);
  try {
    vcl::TimeStampToDateTime({5, 0});
  } catch (const vcl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'5.0' is not a valid timestamp");
  }
}

TEST(DateUtilsTest, OutOfRangeValuesRaiseInsteadOfDecodingGarbage) {
  const double bad[] = {std::numeric_limits<double>::quiet_NaN(),
                        std::numeric_limits<double>::infinity(),
                        -std::numeric_limits<double>::infinity(),
                        1e300,
                        -1e300,
                        2958466.0,
                        -693594.0};
  for (double v : bad) {
    uint16_t a, b, c, d;
    EXPECT_THROW(vcl::DecodeDate(v, a, b, c), vcl::EConvertError) << v;
    EXPECT_THROW(vcl::DecodeTime(v, a, b, c, d), vcl::EConvertError) << v;
    EXPECT_THROW(vcl::DateTimeToStr(v), vcl::EConvertError) << v;
    EXPECT_THROW(vcl::DayOfWeek(v), vcl::EConvertError) << v;
  }
  try {
    vcl::DateTimeToStr(std::numeric_limits<double>::quiet_NaN());
  } catch (const vcl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'NAN' is not a valid date and time");
  }
}

TEST(DateUtilsTest, CalendarHelpers) {
  struct Case {
    uint16_t Year;
    bool Leap;
  } years[] = {{1900, false}, {2000, true}, {2023, false}, {2024, true}, {1600, true}, {1, false}};
  for (const Case& c : years) {
    EXPECT_EQ(vcl::IsLeapYear(c.Year), c.Leap) << c.Year;
    EXPECT_EQ(vcl::DaysInAMonth(c.Year, 2), c.Leap ? 29 : 28);
  }
  EXPECT_EQ(vcl::DaysInAMonth(2023, 4), 30);
  EXPECT_EQ(vcl::DaysInAMonth(2023, 12), 31);
  EXPECT_EQ(vcl::DaysInAMonth(2023, 13), 0);
  EXPECT_EQ(vcl::DaysInMonth(vcl::EncodeDate(2024, 2, 10) + 0.5), 29);
  EXPECT_EQ(vcl::DayOfWeek(0), 7);                              // Saturday
  EXPECT_EQ(vcl::DayOfWeek(vcl::EncodeDate(2024, 1, 7)), 1);    // Sunday
  EXPECT_EQ(vcl::DayOfWeek(-1.25), 6);                          // 1899-12-29, Friday
}

TEST(DateUtilsTest, TextFormat) {
  struct Case {
    double Value;
    const char* Text;
  } cases[] = {
      {vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(7, 8, 9, 0), "2024-03-05 07:08:09"},
      {vcl::EncodeDate(2024, 3, 5) + vcl::EncodeTime(7, 8, 9, 45), "2024-03-05 07:08:09.045"},
      {vcl::EncodeDate(2024, 3, 5), "2024-03-05 00:00:00"},
      {vcl::EncodeDate(1, 1, 1), "0001-01-01 00:00:00"},
      {vcl::EncodeDate(9999, 12, 31) + vcl::EncodeTime(23, 59, 59, 999), "9999-12-31 23:59:59.999"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vcl::DateTimeToStr(c.Value), c.Text);
    EXPECT_EQ(double(vcl::StrToDateTime(c.Text)), c.Value) << c.Text;
  }
  EXPECT_EQ(vcl::DateToStr(vcl::EncodeDate(2024, 3, 5) + 0.5), "2024-03-05");
  EXPECT_EQ(vcl::TimeToStr(0.5), "12:00:00");
}

TEST(DateUtilsTest, StrToDateTimeAcceptsPartsAndRejectsJunk) {
  const double d = vcl::EncodeDate(2024, 3, 5);
  struct Case {
    const char* Text;
    bool Ok;
    double Value;
  } cases[] = {
      {"2024-03-05", true, d},
      {"2024-3-5", true, d},
      {"  2024-03-05  ", true, d},
      {"2024-03-05 10:30", true, d + vcl::EncodeTime(10, 30, 0, 0)},
      {"2024-03-05T10:30:15", true, d + vcl::EncodeTime(10, 30, 15, 0)},
      {"2024-03-05   10:30:15.5", true, d + vcl::EncodeTime(10, 30, 15, 500)},
      {"2024-03-05 10:30:15.05", true, d + vcl::EncodeTime(10, 30, 15, 50)},
      {"2024-03-05 10:30:15.123", true, d + vcl::EncodeTime(10, 30, 15, 123)},
      {"10:30", true, vcl::EncodeTime(10, 30, 0, 0)},
      {"23:59:59.999", true, vcl::EncodeTime(23, 59, 59, 999)},
      {"1899-12-29 06:00", true, -1.25},
      {"", false, 0},
      {"   ", false, 0},
      {"2024-02-30", false, 0},
      {"2024-13-01", false, 0},
      {"0000-01-01", false, 0},
      {"12024-01-01", false, 0},
      {"2024-03-05 24:00", false, 0},
      {"2024-03-05 10:60", false, 0},
      {"2024-03-05 10:30:15.1234", false, 0},
      {"2024-03-05 10:30:15.", false, 0},
      {"2024-03-05 10", false, 0},
      {"2024-03-05x", false, 0},
      {"2024-03-05 10:30 x", false, 0},
      {"2024/03/05", false, 0},
      {"10:30:", false, 0},
      {"-2024-03-05", false, 0},
  };
  for (const Case& c : cases) {
    vcl::TDateTime v = 99.0;
    EXPECT_EQ(vcl::TryStrToDateTime(c.Text, v), c.Ok) << c.Text;
    if (c.Ok) {
      EXPECT_EQ(double(v), c.Value) << c.Text;
    } else {
      EXPECT_EQ(double(v), 99.0) << c.Text;
    }
  }
  try {
    vcl::StrToDateTime("abc");
    FAIL() << "no exception";
  } catch (const vcl::EConvertError& e) {
    EXPECT_EQ(e.Message(), "'abc' is not a valid date and time");
  }
}

TEST(DateUtilsTest, TextRoundTripsAtMillisecondPrecision) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int64_t> day(-693593, 2958465);
  std::uniform_int_distribution<int32_t> ms(0, vcl::MSecsPerDay - 1);
  for (int i = 0; i < 5000; ++i) {
    const vcl::TTimeStamp ts{ms(rng), static_cast<int32_t>(day(rng) + vcl::DateDelta)};
    const vcl::TDateTime v = vcl::TimeStampToDateTime(ts);
    const std::string s = vcl::DateTimeToStr(v);
    const vcl::TTimeStamp back = vcl::DateTimeToTimeStamp(vcl::StrToDateTime(s));
    ASSERT_EQ(back.Date, ts.Date) << s;
    ASSERT_EQ(back.Time, ts.Time) << s;
  }
}

TEST(DateUtilsTest, NowIsTheLocalWallClock) {
  const std::time_t before = std::time(nullptr);
  const vcl::TDateTime now = vcl::Now();
  std::tm local{};
  localtime_r(&before, &local);
  const double expected =
      double(vcl::EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday)) +
      double(vcl::EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, 0));
  EXPECT_GE(double(now), expected);
  EXPECT_LT(double(now), expected + 5.0 / vcl::SecsPerDay);
  const double today = vcl::Date();
  EXPECT_EQ(today, std::trunc(today));
  const double time = vcl::Time();
  EXPECT_GE(time, 0.0);
  EXPECT_LT(time, 1.0);
}

}  // namespace
