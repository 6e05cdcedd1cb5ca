// Rows of plain real numbers (rows.hpp), in the notation of real.hpp.
#include "textrows/rows.hpp"

#include "textrows/real.hpp"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace textrows {

// The general parser knows '.' only: a number with another decimal point is
// copied with '.' in its place (a number longer than the copy is refused).
bool real::general_value(const char *begin, const char *end, char point, double &value) {
    if (point == '.') {
        auto [stop, error] = std::from_chars(begin, end, value, std::chars_format::general);
        return error == std::errc() && stop == end;
    }
    char copy[512];
    auto length = static_cast<std::size_t>(end - begin);
    if (length > sizeof copy) return false;
    std::replace_copy(begin, end, copy, point, '.');
    auto [stop, error] = std::from_chars(copy, copy + length, value, std::chars_format::general);
    return error == std::errc() && stop == copy + length;
}

const char *parse_real(const char *p, char point, double &value) noexcept {
    return real::parse_real(p, point, value);
}

namespace {

// Invariant relied on by every scan below: the text ends with '\n', which
// belongs to no grammar element, so each scan stops on it (or before it)
// and none reads past the end of the text.

bool is_padding(char c, Separator separator) {
    return c == ' ' || (c == '\t' && separator != Separator::tab);
}

// One line at p into `row`: the start of the next line, or nullptr.
const char *parse_line(const char *p, Separator separator, std::size_t width, double *row) {
    const char separator_byte = separator == Separator::comma ? ',' : '\t';
    for (std::size_t field = 0;; ++field) {
        while (is_padding(*p, separator)) ++p;
        if ((p = real::parse_real(p, '.', row[field])) == nullptr) return nullptr;
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
    for (std::size_t row = 0; row < rows; ++row) {
        if (p == end) return false;  // fewer lines than rows
        p = parse_line(p, separator, width, out + row * width);
        if (p == nullptr) return false;
    }
    return p == end;  // else more lines than rows
}

}  // namespace textrows
