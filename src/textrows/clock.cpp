#include "textrows/clock.hpp"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace textrows {
namespace {

constexpr std::int64_t seconds_per_day = 86400;
constexpr std::int64_t seconds_per_hour = 3600;

// Floor division: -1 s is in the hour before the epoch, not in the epoch's.
std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The wall time at the instant `utc`, counted as if the wall clock were UTC.
// Outside what the C library converts, the wall clock is taken as UTC.
std::int64_t wall_at(std::int64_t utc) {
    auto t = static_cast<std::time_t>(utc);
    std::tm tm{};
    if (localtime_r(&t, &tm) == nullptr) return utc;
    return days_from_civil(tm.tm_year + std::int64_t{1900}, tm.tm_mon + 1, tm.tm_mday) * seconds_per_day +
           tm.tm_hour * seconds_per_hour + tm.tm_min * 60 + tm.tm_sec;
}

// The instant at which the wall clock shows `wall`, solving wall_at(u) == wall
// as datetime.timestamp() does for fold 0: with two solutions the earlier,
// with none (a skipped hour) the later of the two offsets' guesses, which is
// the offset in force before the change.
std::int64_t instant_of(std::int64_t wall) {
    std::int64_t a = wall_at(wall) - wall;
    std::int64_t u1 = wall - a;
    std::int64_t t1 = wall_at(u1);
    std::int64_t b = 0;
    if (t1 == wall) {
        std::int64_t day_before = u1 - seconds_per_day;
        b = wall_at(day_before) - day_before;
        if (a == b) return u1;
    } else {
        b = t1 - u1;
    }
    std::int64_t u2 = wall - b;
    if (wall_at(u2) == wall) return u2;
    if (t1 == wall) return u1;
    return std::max(u1, u2);
}

}  // namespace

std::int64_t days_from_civil(std::int64_t year, int month, int day) noexcept {
    // Years counted from March, so that the leap day ends a year.
    year -= month <= 2;
    std::int64_t era = floor_div(year, 400);
    std::int64_t year_of_era = year - era * 400;
    std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

bool is_valid_date(std::int64_t year, int month, int day) noexcept {
    static constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= month_days[month - 1] + (month == 2 && leap ? 1 : 0);
}

const LocalClock::Hour &LocalClock::hour_of(std::int64_t hour) noexcept {
    Hour &slot = hours_[static_cast<std::uint64_t>(hour) % cache_size];
    if (slot.known && slot.hour == hour) return slot;
    std::int64_t first = hour * seconds_per_hour;
    std::int64_t last = first + seconds_per_hour - 1;
    std::int64_t offset = first - instant_of(first);
    slot = Hour{hour, offset, last - instant_of(last) == offset, true};
    return slot;
}

std::int64_t LocalClock::to_utc(std::int64_t wall) noexcept {
    const Hour &hour = hour_of(floor_div(wall, seconds_per_hour));
    return hour.uniform ? wall - hour.offset : instant_of(wall);
}

double LocalClock::to_utc(double wall) noexcept {
    // Beyond +-2^62 s no calendar applies; such values pass unchanged.
    if (!(std::fabs(wall) < 4.6e18)) return wall;
    double whole = std::floor(wall);
    auto seconds = static_cast<std::int64_t>(whole);
    return static_cast<double>(to_utc(seconds)) + (wall - whole);
}

}  // namespace textrows
