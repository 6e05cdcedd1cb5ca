// Rows of real numbers in text, parsed without Python: the plain case of the
// text format (see tarvinel/stelvane/textformat.py), where every line holds
// exactly `width` real numbers in Python's float() notation.
//
// The parser accepts a subset of what numpy's loadtxt and Python's float()
// both accept, and reads it to the same bits; anything else is refused, and
// the caller's general parser takes the block instead. Refusing is always
// safe; accepting differently never is.
#pragma once

#include <cstddef>

namespace textrows {

// How fields are separated: one comma, one tab, or any run of spaces and tabs.
enum class Separator { comma, tab, whitespace };

// One real number at p in Python's float() notation (as rows.cpp spells it out), with `point` as its decimal
// point ('.' or ','): the end of it, or nullptr when none begins there.
// Requires: the text goes on to a byte that belongs to no number ('\n' at
// the latest), where the scan stops.
const char *parse_real(const char *p, char point, double &value) noexcept;

// The number of lines: of '\n' bytes.
std::size_t count_lines(const char *text, std::size_t size) noexcept;

// Parses `size` bytes of whole lines into `rows` x `width` doubles at `out`,
// row by row; false when a line is not `width` plain real numbers, or the
// text does not hold `rows` lines (then the contents of `out` are
// unspecified; no text is no rows). A line may end in "\r\n", as numpy's loadtxt allows.
// Requires: size == 0 or text[size - 1] == '\n'.
bool parse_rows(const char *text, std::size_t size, Separator separator, std::size_t width, double *out,
                std::size_t rows) noexcept;

}  // namespace textrows
