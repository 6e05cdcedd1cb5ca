// Calendar arithmetic and the local time of the process, for the time
// columns of a table (table.hpp).
//
// A time without a zone is a wall-clock time of the time zone the process
// sees (TZ). It becomes an instant as Python's datetime.timestamp() makes it
// one (fold 0): a wall time that happens twice (the hour repeated when
// daylight-saving time ends) is its first occurrence, and one that never
// happens (the hour skipped when it begins) takes the offset in force before
// the change.
#pragma once

#include <cstddef>
#include <cstdint>

namespace textrows {

// Days from 1970-01-01 to year-month-day of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t year, int month, int day) noexcept;

// True when day is a day of that month (1..28, 29, 30 or 31).
bool is_valid_date(std::int64_t year, int month, int day) noexcept;

// Wall-clock seconds (counted as if the wall clock were UTC) to seconds since
// the epoch, UTC. The zone's offset is asked of the C library once per wall
// hour seen (a small cache of hours); only in an hour that holds a change of
// offset is it asked per value. A clock lives for one parse, so a change of
// TZ (time.tzset()) counts from the next parse on.
class LocalClock {
public:
    std::int64_t to_utc(std::int64_t wall) noexcept;
    // NaN stays NaN; fractions of a second are kept.
    double to_utc(double wall) noexcept;

private:
    struct Hour {
        std::int64_t hour = 0;
        std::int64_t offset = 0;  // wall minus UTC, through the whole hour
        bool uniform = false;     // false: the offset changes within the hour
        bool known = false;
    };
    static constexpr std::size_t cache_size = 64;

    const Hour &hour_of(std::int64_t hour) noexcept;

    Hour hours_[cache_size];
};

}  // namespace textrows
