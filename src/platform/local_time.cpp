#include "platform/local_time.hpp"

#include <ctime>

namespace kiv {
namespace {

// Days from 1970-01-01 to the given proleptic Gregorian date.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The local time's offset from UTC at t: its fields read as if they were UTC, less t (not
// every system's tm carries the offset).
long UtcOffsetAt(int64_t t) {
  const std::time_t at = static_cast<std::time_t>(t);
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &at) != 0) return 0;
#else
  if (!localtime_r(&at, &local)) return 0;
#endif
  const int64_t asUtc = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
                        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  return static_cast<long>(asUtc - t);
}

}  // namespace

uint32_t CurrentTime() { return static_cast<uint32_t>(std::time(nullptr)); }

int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&tm));
}

LocalClock::LocalClock() {
#ifdef _WIN32
  _tzset();
#else
  tzset();
#endif
}

int64_t LocalClock::Compose(int year, int month, int day, int hour, int minute, int second) {
  const int64_t dayNumber = DaysFromCivil(year, month, 1) + (day - 1);
  Day& known = days_[static_cast<std::size_t>(dayNumber) % days_.size()];
  if (known.number != dayNumber) {
    const long before = UtcOffsetAt((dayNumber - 1) * 86400);
    known = {dayNumber, before, before == UtcOffsetAt((dayNumber + 2) * 86400)};
  }
  if (!known.steady) return MakeLocalTime(year, month, day, hour, minute, second);
  return dayNumber * 86400 + hour * 3600 + minute * 60 + second - known.offset;
}

}  // namespace kiv
