// The notation of real numbers the text parsers read (rows.cpp, table.cpp),
// as inline functions that each parser compiles into its own loop.
//
// The grammar accepted, per field, is Python's float() notation without its
// rarer corners (underscores, white space other than spaces and tabs):
//
//     padding [sign] (decimal | "nan" | "inf" | "infinity") padding
//     decimal  = digits ["." [digits]] [exponent] | "." digits [exponent]
//     exponent = ("e" | "E") [sign] digits
//
// with the words in any case. numpy's loadtxt reads the same text to the same
// bits: both round correctly, as this parser does.
#pragma once

#include <algorithm>
#include <cfloat>
#include <cstdint>
#include <limits>

// The exact fast path below relies on each double operation rounding once,
// to double: no wider evaluation (x87) in between.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must be evaluated in double");

namespace textrows::real {

// Invariant relied on by every scan below: the text goes on to a byte that
// belongs to no grammar element ('\n' at the latest), so each scan stops on
// it (or before it) and none reads past the end of the text.

// The general case of a decimal (more than 19 digits, or a power of ten
// beyond 22), correctly rounded; false for a value beyond the range of doubles.
bool general_value(const char *begin, const char *end, char point, double &value);

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Lower case for letters; no other byte becomes a letter.
inline char lower(char c) { return static_cast<char>(c | 0x20); }

// `word` (lower case) at p in any case: the end of it, or nullptr. Stops at
// the first byte that differs, so never passes a '\n'.
inline const char *match_word(const char *p, const char *word) {
    for (; *word != '\0'; ++p, ++word) {
        if (lower(*p) != *word) return nullptr;
    }
    return p;
}

inline const char *parse_special(const char *p, double &value) {
    if (const char *end = match_word(p, "nan")) {
        value = std::numeric_limits<double>::quiet_NaN();
        return end;
    }
    const char *end = match_word(p, "infinity");
    if (end == nullptr) end = match_word(p, "inf");
    if (end != nullptr) value = std::numeric_limits<double>::infinity();
    return end;
}

// 10^0 .. 10^22: every one exactly a double.
constexpr double exact_powers_of_ten[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                          1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                          1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int max_exact_power = 22;
constexpr std::uint64_t max_exact_mantissa = std::uint64_t{1} << 53;
constexpr long max_mantissa_digits = 19;  // any 19 digits fit into 64 bits
constexpr long exponent_cap = 100000;     // far beyond any finite double

// Digits from p, added to the mantissa. More than 19 digits wrap it around
// (unsigned arithmetic): the caller uses it only when they are 19 at most.
inline const char *add_digits(const char *p, std::uint64_t &mantissa) {
    for (; is_digit(*p); ++p) mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    return p;
}

inline const char *parse_exponent(const char *p, long &exponent) {
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!is_digit(*p)) return nullptr;  // "1e" is no number
    long value = 0;
    for (; is_digit(*p); ++p) value = std::min(value * 10 + (*p - '0'), exponent_cap);
    exponent = negative ? -value : value;
    return p;
}

// Clinger's fast path: a mantissa and a power of ten that are both exact
// doubles give the correctly rounded value in one operation. False when the
// number is outside it.
inline bool exact_value(std::uint64_t mantissa, long scale, double &value) {
    if (mantissa > max_exact_mantissa || scale < -max_exact_power || scale > max_exact_power) return false;
    auto exact_mantissa = static_cast<double>(mantissa);
    value = scale < 0 ? exact_mantissa / exact_powers_of_ten[-scale] : exact_mantissa * exact_powers_of_ten[scale];
    return true;
}

inline const char *parse_decimal(const char *begin, char point, double &value) {
    std::uint64_t mantissa = 0;
    const char *integer_end = add_digits(begin, mantissa);
    const char *fraction_begin = *integer_end == point ? integer_end + 1 : integer_end;
    const char *p = add_digits(fraction_begin, mantissa);
    long fraction_digits = p - fraction_begin;
    long digits = (integer_end - begin) + fraction_digits;
    if (digits == 0) return nullptr;  // "." alone
    long exponent = 0;
    if (lower(*p) == 'e' && (p = parse_exponent(p + 1, exponent)) == nullptr) return nullptr;
    if (digits <= max_mantissa_digits) {
        if (mantissa == 0) {
            value = 0.0;
            return p;
        }
        if (exact_value(mantissa, exponent - fraction_digits, value)) return p;
    }
    // The general case, correctly rounded as well. A value beyond the range
    // of doubles is refused: the general parser makes it an infinity or zero.
    return general_value(begin, p, point, value) ? p : nullptr;
}

// One real number at p, with `point` as its decimal point: the end of it,
// or nullptr when none begins there.
inline const char *parse_real(const char *p, char point, double &value) {
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char *end = is_digit(*p) || *p == point ? parse_decimal(p, point, value) : parse_special(p, value);
    if (end != nullptr && negative) value = -value;  // -0.0 and -nan keep their sign, as in Python
    return end;
}

}  // namespace textrows::real
