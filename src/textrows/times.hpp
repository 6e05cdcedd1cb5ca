// The spellings of dates and times a table's time column may hold, read in
// one scan each (see tarvinel/stelvane/formats/layout.py for the shapes):
//
//     iso      2026-12-08, 2026/12/08, 2026-12-08T10:00:00.250+01:00, ... 10:00 Z
//     dmy      08.12.2026, 8/12/2026, 8-12-2026, 8.12.26 [time]
//     mdy      12/8/2026, 12/8/26 [time]
//     month    Jan 1 2000, 1 Jan 2000, January 1, 2000, 01-Jan-2000, 2000-Jan-01 [time]
//     daytime  12:00:01, 12:00:01.5, 9:05, 12:00:01 AM
//
// where [time] is "T" or blanks, then a time of day
//
//     h[h]:mm[:ss[.fraction]] [AM|PM] [zone]     zone = Z | +hh[:mm] | +hhmm | -...
//
// Like the number parser (rows.hpp), each scan stops at the first byte its
// spelling has no place for, and relies on the text going on to such a byte
// ('\n' at the latest); the caller checks that the field ends there.
#pragma once

#include <cstdint>

namespace textrows {

enum class TimeShape { iso, dmy, mdy, month, daytime };

// A time as read: whole seconds and a decimal fraction of a second.
struct Moment {
    std::int64_t seconds = 0;  // wall-clock seconds (as if UTC), or UTC when zoned
    std::uint64_t fraction = 0;
    int fraction_digits = 0;  // fraction / 10^fraction_digits, at most 9 digits kept
    bool zoned = false;
};

struct TimeSpelling {
    TimeShape shape;
    // Blanks may separate a date's parts and its time of day: not where
    // blanks separate the fields.
    bool blanks_inside;
    bool date_only;  // a date with no time of day (it comes in the next column)
    // Before a fraction of a second: '.' or this (',' in a table of decimal commas).
    char decimal_point;
};

// A time at p: the end of it, or nullptr. A daytime's seconds are seconds
// since midnight and never zoned.
const char *parse_time(const char *p, const TimeSpelling &spelling, Moment &moment) noexcept;

// A time of day at p, "12:00:01.5 PM+01:00": seconds since midnight. Blanks
// may come before AM/PM even where blanks separate fields (as tools print
// "12:00:01 AM" in aligned columns); before a zone only with blanks_inside,
// and a zone only with `zone_allowed`. The spelling's shape is not looked at.
const char *parse_time_of_day(const char *p, const TimeSpelling &spelling, bool zone_allowed, Moment &moment) noexcept;

// Seconds and fraction as one double, correctly rounded while the seconds
// and the fraction's digits fit into 53 bits together.
double moment_value(std::int64_t seconds, const Moment &moment) noexcept;

}  // namespace textrows
