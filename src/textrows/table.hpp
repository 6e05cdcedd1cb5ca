// Lines of a typed table parsed into rows of doubles: numbers, times (as
// seconds since the epoch, UTC) and words of text columns (as level codes),
// under a layout decided beforehand (tarvinel/stelvane/formats/layout.py).
//
// A line that does not fit its layout is set aside with the reason; the
// others are written one after another into the rows given.
#pragma once

#include "textrows/clock.hpp"
#include "textrows/levels.hpp"
#include "textrows/times.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace textrows {

enum class ColumnKind : std::uint8_t {
    number,
    epoch,         // a number times `scale`: seconds since the epoch
    text,          // a word: its level code
    raw,           // kept as text for the caller (a time format read by Python)
    time,          // a date, date-time or time of day of `shape`
    date_of_pair,  // a date whose time of day is in the next field
    time_of_pair,  // that time of day; the two make one output column
};

struct TableColumn {
    ColumnKind kind = ColumnKind::number;
    TimeShape shape = TimeShape::iso;
    double scale = 1.0;
    double divisor = 0.0;  // when not 0, an epoch value is divided by it instead (1000 for 1e-3)
    std::size_t output = 0;  // the column of the rows it goes to
};

struct TableLayout {
    char separator = ',';     // '\0': runs of blanks
    char quote = '"';         // '\0': no quoting
    char decimal_point = '.';  // or ','
    std::vector<TableColumn> columns;
    std::size_t output_width = 0;
    std::vector<std::string> missing_words;  // stand for NaN in any column
    // Where blanks separate fields: the last column, a text one, takes the
    // rest of the line from its first field on (free text with blanks in
    // it, as ps prints a command with its arguments).
    bool rest_of_line = false;
};

// Why a line was set aside.
enum class Reason : int {
    field_count = 1,   // `field` holds the number of fields found
    not_of_kind = 2,   // field `field` is not of its column's kind
    unclosed_quote = 3,
    after_quote = 4,   // text between a closing quote and the separator
};

struct BadLine {
    std::size_t line;
    Reason reason;
    std::size_t field;
    std::size_t field_begin, field_end;  // offsets in the text
};

class Table {
public:
    explicit Table(TableLayout layout);

    // Parses `size` bytes of whole lines (each ending in '\n'; "\r\n" too)
    // into rows of layout().output_width doubles at `out`, with room for one
    // row per line. Returns the rows written; bad_lines() and raw_fields()
    // tell the rest. The words learnt stay for the next parse.
    // Requires: size == 0 or text[size - 1] == '\n'.
    std::size_t parse(const char *text, std::size_t size, double *out);

    const TableLayout &layout() const { return layout_; }
    const std::vector<BadLine> &bad_lines() const { return bad_; }
    // The fields of a raw column, one per row written, unquoted.
    const std::vector<std::string> &raw_fields(std::size_t column) const { return raw_[column]; }
    const Levels &levels(std::size_t column) const { return levels_[column]; }

private:
    struct Word {  // a text or raw field, taken once its line is known good
        std::size_t column;
        const char *begin;  // or nullptr: the unquoted bytes are in scratch_
        std::size_t scratch_offset;
        std::size_t size;
    };
    struct Field {
        const char *begin;
        const char *end;
        bool escaped;  // quoted with "" inside: the bytes are not the value
    };

    const char *parse_line(const char *p, double *row, std::size_t &failed);
    const char *number_at(const char *p, std::size_t index, double *row);
    const char *parse_field(const char *p, std::size_t index, double *row);
    const char *parse_value(const char *p, const TableColumn &column, bool quoted, double &value);
    bool quoted_value(Field field, std::size_t index, double *row);
    void store(const TableColumn &column, double *row, double value);
    void keep_word(const Field &field, std::size_t index, double *row);
    void take_words(double *row);
    const char *field_end(const char *p) const;
    const char *scan_quoted(const char *p, Field &field) const;
    const char *scan_unquoted(const char *p, Field &field) const;
    bool takes_rest(std::size_t index) const;
    void trim(Field &field) const;
    bool is_missing(const char *begin, const char *end) const;
    bool is_blank(char c) const { return c == ' ' || c == '\r' || (c == '\t' && layout_.separator != '\t'); }
    std::vector<Field> split(const char *line, Reason &problem) const;
    void set_aside(const char *text, const char *line, std::size_t number, std::size_t failed);

    TableLayout layout_;
    std::size_t longest_missing_ = 0;
    bool empty_is_missing_ = false;
    bool missing_first_[256] = {};  // the first bytes of the missing words
    std::vector<Levels> levels_;                // per layout column (used by text columns)
    std::vector<std::vector<std::string>> raw_;  // per layout column (used by raw columns)
    std::vector<BadLine> bad_;
    std::vector<Word> words_;  // of the line under way
    std::string scratch_;
    double pair_date_ = 0.0;  // a pair's date (wall seconds, or NaN), until its time of day comes
    LocalClock clock_;
};

}  // namespace textrows
