// The grammar accepted, per field, is Python's float() notation without its
// rarer corners (underscores, white space other than spaces and tabs):
//
//     padding [sign] (decimal | "nan" | "inf" | "infinity") padding
//     decimal  = digits ["." [digits]] [exponent] | "." digits [exponent]
//     exponent = ("e" | "E") [sign] digits
//
// with the words in any case. numpy's loadtxt reads the same text to the same
// bits: both round correctly, as this parser does.
#include "textrows/rows.hpp"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

// The exact fast path below relies on each double operation rounding once,
// to double: no wider evaluation (x87) in between.
static_assert(FLT_EVAL_METHOD == 0, "double arithmetic must be evaluated in double");

namespace textrows {
namespace {

// Invariant relied on by every scan below: the text ends with '\n', which
// belongs to no grammar element, so each scan stops on it (or before it)
// and none reads past the end of the text.

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_padding(char c, Separator separator) {
    return c == ' ' || (c == '\t' && separator != Separator::tab);
}

// Lower case for letters; no other byte becomes a letter.
char lower(char c) { return static_cast<char>(c | 0x20); }

// `word` (lower case) at p in any case: the end of it, or nullptr. Stops at
// the first byte that differs, so never passes a '\n'.
const char *match_word(const char *p, const char *word) {
    for (; *word != '\0'; ++p, ++word) {
        if (lower(*p) != *word) return nullptr;
    }
    return p;
}

const char *parse_special(const char *p, double &value) {
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
constexpr int max_mantissa_digits = 19;  // fit into 64 bits
constexpr long exponent_cap = 100000;    // far beyond any finite double

// The digits of a decimal number as mantissa x 10^scale, while they fit.
struct Decimal {
    std::uint64_t mantissa = 0;
    int digits = 0;  // significant digits in the mantissa
    long scale = 0;
    bool fits = true;
    bool any_digit = false;

    void add_digit(char c) {
        any_digit = true;
        if (mantissa == 0 && c == '0') return;  // a leading zero
        if (digits == max_mantissa_digits) {
            fits = false;
            return;
        }
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(c - '0');
        ++digits;
    }
};

const char *parse_exponent(const char *p, long &exponent) {
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
bool exact_value(const Decimal &decimal, double &value) {
    if (!decimal.fits) return false;
    if (decimal.mantissa == 0) {
        value = 0.0;
        return true;
    }
    if (decimal.mantissa > max_exact_mantissa || decimal.scale < -max_exact_power ||
        decimal.scale > max_exact_power) {
        return false;
    }
    auto mantissa = static_cast<double>(decimal.mantissa);
    value = decimal.scale < 0 ? mantissa / exact_powers_of_ten[-decimal.scale]
                              : mantissa * exact_powers_of_ten[decimal.scale];
    return true;
}

const char *parse_decimal(const char *begin, double &value) {
    const char *p = begin;
    Decimal decimal;
    long fraction_digits = 0;
    for (; is_digit(*p); ++p) decimal.add_digit(*p);
    if (*p == '.') {
        for (++p; is_digit(*p); ++p, ++fraction_digits) decimal.add_digit(*p);
    }
    if (!decimal.any_digit) return nullptr;  // "." alone
    long exponent = 0;
    if (lower(*p) == 'e' && (p = parse_exponent(p + 1, exponent)) == nullptr) return nullptr;
    decimal.scale = exponent - fraction_digits;
    if (exact_value(decimal, value)) return p;
    // The general case, correctly rounded as well. A value beyond the range
    // of doubles is refused: the general parser makes it an infinity or zero.
    auto [end, error] = std::from_chars(begin, p, value, std::chars_format::general);
    return error == std::errc() && end == p ? p : nullptr;
}

// One real number at p: the end of it, or nullptr when none begins there.
const char *parse_real(const char *p, double &value) {
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char *end = is_digit(*p) || *p == '.' ? parse_decimal(p, value) : parse_special(p, value);
    if (end != nullptr && negative) value = -value;  // -0.0 and -nan keep their sign, as in Python
    return end;
}

// One line at p into `row`: the start of the next line, or nullptr.
const char *parse_line(const char *p, Separator separator, std::size_t width, double *row) {
    const char separator_byte = separator == Separator::comma ? ',' : '\t';
    for (std::size_t field = 0;; ++field) {
        while (is_padding(*p, separator)) ++p;
        if ((p = parse_real(p, row[field])) == nullptr) return nullptr;
        const char *number_end = p;
        while (is_padding(*p, separator)) ++p;
        if (field + 1 == width) break;
        if (separator == Separator::whitespace) {
            if (p == number_end) return nullptr;  // "1-2": no separator
        } else if (*p++ != separator_byte) {
            return nullptr;
        }
    }
    if (*p == '\r') ++p;
    return *p == '\n' ? p + 1 : nullptr;
}

}  // namespace

std::size_t count_lines(const char *text, std::size_t size) noexcept {
    return static_cast<std::size_t>(std::count(text, text + size, '\n'));
}

bool parse_rows(const char *text, std::size_t size, Separator separator, std::size_t width, double *out,
                std::size_t rows) noexcept {
    if (width == 0) return false;  // numpy has no rows without values
    const char *p = text;
    const char *end = text + size;
    // Each parsed line ends at its '\n': with `rows` of them in the text,
    // the row index stays below `rows`.
    for (std::size_t row = 0; row < rows; ++row) {
        p = parse_line(p, separator, width, out + row * width);
        if (p == nullptr) return false;
    }
    return p == end;
}

}  // namespace textrows
