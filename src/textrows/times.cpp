#include "textrows/times.hpp"

#include "textrows/clock.hpp"

#include <cstring>

namespace textrows {
namespace {

constexpr int max_fraction_digits = 9;
constexpr std::uint64_t powers_of_ten[] = {1,          10,          100,          1000,
                                           10000,      100000,      1000000,      10000000,
                                           100000000,  1000000000};
constexpr std::int64_t max_exact_integer = std::int64_t{1} << 53;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
char lower(char c) { return static_cast<char>(c | 0x20); }
bool is_letter(char c) { return lower(c) >= 'a' && lower(c) <= 'z'; }

// From `least` to `most` digits at p as a number: the end of them, or nullptr.
// A digit beyond `most` is left for the caller, whose next expectation fails.
const char *read_digits(const char *p, int least, int most, int &value) {
    int count = 0;
    value = 0;
    for (; count < most && is_digit(*p); ++p, ++count) value = value * 10 + (*p - '0');
    return count >= least ? p : nullptr;
}

const char *skip_blanks(const char *p) {
    while (is_blank(*p)) ++p;
    return p;
}

// "am"/"pm" in any case, as a word: +1 for pm, -1 for am, 0 for neither.
int meridiem_at(const char *p) {
    char m = lower(p[0]);
    if ((m != 'a' && m != 'p') || lower(p[1]) != 'm' || is_letter(p[2])) return 0;
    return m == 'p' ? 1 : -1;
}

// Z, +hh, +hhmm, +hh:mm (or -): the zone's offset east of UTC, in seconds.
const char *parse_zone(const char *p, std::int64_t &offset) {
    if (*p == 'Z' || *p == 'z') {
        offset = 0;
        return p + 1;
    }
    if (*p != '+' && *p != '-') return nullptr;
    int sign = *p++ == '-' ? -1 : 1;
    int hours = 0, minutes = 0;
    if ((p = read_digits(p, 2, 2, hours)) == nullptr || hours > 23) return nullptr;
    if (*p == ':' || is_digit(*p)) {
        if ((p = read_digits(p + (*p == ':'), 2, 2, minutes)) == nullptr || minutes > 59) return nullptr;
    }
    offset = sign * (hours * std::int64_t{3600} + minutes * 60);
    return p;
}

const char *parse_fraction(const char *p, Moment &moment) {
    if (!is_digit(*p)) return nullptr;
    moment.fraction = 0;
    moment.fraction_digits = 0;
    for (; is_digit(*p); ++p) {
        if (moment.fraction_digits < max_fraction_digits) {
            moment.fraction = moment.fraction * 10 + static_cast<std::uint64_t>(*p - '0');
            ++moment.fraction_digits;
        }
    }
    return p;
}

// 12 AM is midnight, 12 PM noon; with AM/PM the hour is 1 to 12.
const char *apply_meridiem(const char *p, int &hour) {
    const char *word = skip_blanks(p);
    int meridiem = meridiem_at(word);
    if (meridiem == 0) return p;
    if (hour < 1 || hour > 12) return nullptr;
    hour = hour % 12 + (meridiem > 0 ? 12 : 0);
    return word + 2;
}

// A month's name, full or its first three letters ("Sept" too), any case:
// 1 to 12, or 0.
int month_named(const char *begin, const char *end) {
    static constexpr const char *names[] = {"january", "february", "march",     "april",   "may",      "june",
                                            "july",    "august",   "september", "october", "november", "december"};
    auto length = static_cast<std::size_t>(end - begin);
    char word[10] = {};
    if (length < 3 || length >= sizeof word) return 0;
    for (std::size_t i = 0; i < length; ++i) word[i] = lower(begin[i]);
    if (length == 4 && std::memcmp(word, "sept", 4) == 0) return 9;
    for (int month = 0; month < 12; ++month) {
        const char *name = names[month];
        if (length == 3 ? std::memcmp(word, name, 3) == 0 : std::strcmp(word, name) == 0) return month + 1;
    }
    return 0;
}

struct Date {
    int year = 0, month = 0, day = 0;
};

// The separator between a date's parts: one of - / . or, where allowed, blanks
// (a comma before them too: "January 1, 2000").
const char *date_separator(const char *p, bool blanks_inside) {
    if (*p == '-' || *p == '/' || *p == '.') return p + 1;
    if (*p == ',' && blanks_inside && is_blank(p[1])) return skip_blanks(p + 1);
    return blanks_inside && is_blank(*p) ? skip_blanks(p) : nullptr;
}

// year-month-day (iso), day.month.year (dmy) or month/day/year (mdy): numbers
// with the same separator twice. A dmy or mdy year of two digits is 1970 to
// 2069; four digits are the year itself.
const char *parse_numeric_date(const char *p, TimeShape shape, Date &date) {
    int first = 0, second = 0, third = 0;
    bool year_first = shape == TimeShape::iso;
    if ((p = read_digits(p, year_first ? 4 : 1, year_first ? 4 : 2, first)) == nullptr) return nullptr;
    char separator = *p;
    if (separator != '-' && separator != '/' && separator != '.') return nullptr;
    if (year_first && separator == '.') return nullptr;
    if ((p = read_digits(p + 1, 1, 2, second)) == nullptr || *p != separator) return nullptr;
    const char *last = p + 1;
    if ((p = read_digits(last, year_first ? 1 : 2, year_first ? 2 : 4, third)) == nullptr) return nullptr;
    if (!year_first && p - last == 3) return nullptr;
    if (!year_first && p - last == 2) third += third < 70 ? 2000 : 1900;  // as formats/timevalues.py reads it
    if (shape == TimeShape::iso) date = {first, second, third};
    if (shape == TimeShape::dmy) date = {third, second, first};
    if (shape == TimeShape::mdy) date = {third, first, second};
    return p;
}

// Jan 1 2000, January 1, 2000, 1 Jan 2000, 01-Jan-2000, 2000-Jan-01.
const char *parse_month_date(const char *p, bool blanks_inside, Date &date) {
    int number = 0;
    if (is_letter(*p)) {
        const char *word = p;
        while (is_letter(*p)) ++p;
        if ((date.month = month_named(word, p)) == 0) return nullptr;
        if ((p = date_separator(p, blanks_inside)) == nullptr) return nullptr;
        if ((p = read_digits(p, 1, 2, date.day)) == nullptr) return nullptr;
        if ((p = date_separator(p, blanks_inside)) == nullptr) return nullptr;
        return read_digits(p, 4, 4, date.year);
    }
    const char *digits = p;
    if ((p = read_digits(p, 1, 4, number)) == nullptr) return nullptr;
    bool year_first = p - digits == 4;
    if (p - digits == 3 || (p = date_separator(p, blanks_inside)) == nullptr) return nullptr;
    const char *word = p;
    while (is_letter(*p)) ++p;
    if ((date.month = month_named(word, p)) == 0) return nullptr;
    if ((p = date_separator(p, blanks_inside)) == nullptr) return nullptr;
    if (year_first) {
        date.year = number;
        return read_digits(p, 1, 2, date.day);
    }
    date.day = number;
    return read_digits(p, 4, 4, date.year);
}

const char *parse_date(const char *p, const TimeSpelling &spelling, Date &date) {
    if (spelling.shape == TimeShape::month) return parse_month_date(p, spelling.blanks_inside, date);
    return parse_numeric_date(p, spelling.shape, date);
}

// The time of day after a date: "T" or blanks, then the time. The end of
// the date alone when none follows.
const char *parse_date_time(const char *p, const TimeSpelling &spelling, Moment &moment) {
    const char *time = nullptr;
    if ((*p == 'T' || *p == 't') && is_digit(p[1])) time = p + 1;
    if (spelling.blanks_inside && is_blank(*p) && is_digit(*skip_blanks(p))) time = skip_blanks(p);
    if (time == nullptr || spelling.date_only) return p;
    Moment of_day;
    const char *end = parse_time_of_day(time, spelling, true, of_day);
    if (end == nullptr) return p;  // the caller finds no field end after the date
    of_day.seconds += moment.seconds;
    moment = of_day;
    return end;
}

int two_digits(const char *p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

bool all_digits(const char *p, int count) {
    for (int i = 0; i < count; ++i) {
        if (!is_digit(p[i])) return false;
    }
    return true;
}

// The spelling most tools write, 2026-12-08T10:00:00[.fff][Z] (or a blank for
// the T), read at fixed places: the end of it, or nullptr for the general
// scan to decide (a zone with an offset, fewer digits, any other spelling).
// Reads no further than the general scan would: each test stops at the
// first byte out of place.
const char *parse_iso_at_fixed_places(const char *p, const TimeSpelling &spelling, Moment &moment) {
    if (!(all_digits(p, 4) && p[4] == '-' && all_digits(p + 5, 2) && p[7] == '-' && all_digits(p + 8, 2))) {
        return nullptr;
    }
    bool joint = p[10] == 'T' || (p[10] == ' ' && spelling.blanks_inside);
    if (!(joint && all_digits(p + 11, 2) && p[13] == ':' && all_digits(p + 14, 2) && p[16] == ':' &&
          all_digits(p + 17, 2))) {
        return nullptr;
    }
    int year = two_digits(p) * 100 + two_digits(p + 2), month = two_digits(p + 5), day = two_digits(p + 8);
    int hour = two_digits(p + 11), minute = two_digits(p + 14), second = two_digits(p + 17);
    if (!is_valid_date(year, month, day) || hour > 23 || minute > 59 || second > 59) return nullptr;
    const char *end = p + 19;
    if (*end == '.' && (end = parse_fraction(end + 1, moment)) == nullptr) return nullptr;
    if (*end == 'Z') {
        moment.zoned = true;
        ++end;
    }
    // AM/PM or an offset: the general scan.
    if (is_letter(*end) || is_blank(*end) || *end == '+' || *end == '-') return nullptr;
    moment.seconds = days_from_civil(year, month, day) * 86400 + hour * std::int64_t{3600} + minute * 60 + second;
    return end;
}

}  // namespace

const char *parse_time_of_day(const char *p, const TimeSpelling &spelling, bool zone_allowed, Moment &moment) noexcept {
    int hour = 0, minute = 0, second = 0;
    moment = Moment{};
    if ((p = read_digits(p, 1, 2, hour)) == nullptr || *p != ':') return nullptr;
    if ((p = read_digits(p + 1, 2, 2, minute)) == nullptr || minute > 59) return nullptr;
    if (*p == ':') {
        if ((p = read_digits(p + 1, 2, 2, second)) == nullptr || second > 59) return nullptr;
        bool fraction = *p == '.' || *p == spelling.decimal_point;
        if (fraction && (p = parse_fraction(p + 1, moment)) == nullptr) return nullptr;
    }
    if ((p = apply_meridiem(p, hour)) == nullptr || hour > 23) return nullptr;
    moment.seconds = hour * std::int64_t{3600} + minute * 60 + second;
    if (!zone_allowed) return p;
    const char *zone = spelling.blanks_inside && is_blank(*p) ? skip_blanks(p) : p;
    std::int64_t offset = 0;
    const char *end = parse_zone(zone, offset);
    if (end == nullptr) return p;
    moment.seconds -= offset;
    moment.zoned = true;
    return end;
}

const char *parse_time(const char *p, const TimeSpelling &spelling, Moment &moment) noexcept {
    moment = Moment{};
    if (spelling.shape == TimeShape::daytime) return parse_time_of_day(p, spelling, false, moment);
    if (spelling.shape == TimeShape::iso && !spelling.date_only) {
        if (const char *end = parse_iso_at_fixed_places(p, spelling, moment)) return end;
        moment = Moment{};
    }
    Date date;
    if ((p = parse_date(p, spelling, date)) == nullptr) return nullptr;
    if (!is_valid_date(date.year, date.month, date.day)) return nullptr;
    moment.seconds = days_from_civil(date.year, date.month, date.day) * 86400;
    return parse_date_time(p, spelling, moment);
}

double moment_value(std::int64_t seconds, const Moment &moment) noexcept {
    if (moment.fraction_digits == 0) return static_cast<double>(seconds);
    std::uint64_t scale = powers_of_ten[moment.fraction_digits];
    auto limit = static_cast<std::int64_t>(static_cast<std::uint64_t>(max_exact_integer) / scale);
    auto fraction = static_cast<double>(moment.fraction) / static_cast<double>(scale);
    if (seconds >= limit || seconds <= -limit) return static_cast<double>(seconds) + fraction;
    // Both exact doubles: one correctly rounded division.
    auto scaled = seconds * static_cast<std::int64_t>(scale) + static_cast<std::int64_t>(moment.fraction);
    return static_cast<double>(scaled) / static_cast<double>(scale);
}

}  // namespace textrows
