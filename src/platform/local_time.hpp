// Local time: the current time as the phone records keep it, and local dates and times
// composed into seconds since 1970 with the zone's daylight saving rules deciding the offset.
#pragma once

#include <array>
#include <cstdint>

namespace kiv {

// Seconds since 1970, 32-bit.
uint32_t CurrentTime();

// The local date and time as mktime with an unknown daylight flag (tm_isdst = -1) gives it;
// -1 when it cannot be told. Days past the month's end roll into the next month.
int64_t MakeLocalTime(int year, int month, int day, int hour, int minute, int second);

// The same for many dates in a row, as a parse of a large list has them. mktime re-reads the
// zone file on every call when TZ is unset, which costs more than the whole parse of a large
// list, and even localtime_r costs more than the rest of an item; so the offset is looked up
// once per calendar day and used for the whole day while it holds from the day before to the
// day after. Days near a change of offset go to mktime, whose choice decides the skipped and
// repeated hours. Made for one parse: it runs tzset() so that the zone of the moment applies.
class LocalClock {
 public:
  LocalClock();
  int64_t Compose(int year, int month, int day, int hour, int minute, int second);

 private:
  struct Day {
    int64_t number = -1;  // days since 1970; the dates read are never earlier
    long offset = 0;
    bool steady = false;  // the same offset a day before and a day after
  };
  std::array<Day, 64> days_{};
};

}  // namespace kiv
