#include "textrows/table.hpp"

#include "textrows/real.hpp"
#include "textrows/rows.hpp"

#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace textrows {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// "am"/"pm" in any case as a whole word at p, followed by a blank or the line end.
bool is_meridiem_word(const char *p) {
    char m = static_cast<char>(p[0] | 0x20);
    if ((m != 'a' && m != 'p') || (p[1] | 0x20) != 'm') return false;
    return p[2] == ' ' || p[2] == '\t' || p[2] == '\r' || p[2] == '\n';
}

const char *line_end(const char *p) {
    while (*p != '\n') ++p;
    return p;
}

bool takes_meridiem(const TableColumn &column) {
    return column.kind == ColumnKind::time_of_pair ||
           (column.kind == ColumnKind::time && column.shape == TimeShape::daytime);
}

}  // namespace

Table::Table(TableLayout layout)
    : layout_(std::move(layout)), levels_(layout_.columns.size()), raw_(layout_.columns.size()) {
    for (const std::string &word : layout_.missing_words) {
        longest_missing_ = std::max(longest_missing_, word.size());
        if (word.empty()) empty_is_missing_ = true;
        else missing_first_[static_cast<unsigned char>(word[0])] = true;
    }
}

// Invariant of every scan in this file: the line ends with '\n', which no
// field's grammar takes, and a quote or separator byte is never part of a
// number or a time (the layout is checked for that where it is made), so
// each scan stops inside its field or at its end.

std::size_t Table::parse(const char *text, std::size_t size, double *out) {
    bad_.clear();
    for (auto &fields : raw_) fields.clear();
    clock_ = LocalClock{};  // a TZ changed since the last parse counts now
    const std::size_t width = layout_.output_width;
    const char *p = text;
    const char *end = text + size;
    std::size_t rows = 0;
    for (std::size_t number = 0; p != end; ++number) {
        words_.clear();
        scratch_.clear();
        std::size_t failed = 0;
        double *row = out + rows * width;
        const char *next = parse_line(p, row, failed);
        if (next != nullptr) {
            take_words(row);
            ++rows;
            p = next;
            continue;
        }
        set_aside(text, p, number, failed);
        p = line_end(p) + 1;
    }
    return rows;
}

const char *Table::parse_line(const char *p, double *row, std::size_t &failed) {
    const std::size_t width = layout_.columns.size();
    const bool blank_separated = layout_.separator == '\0';
    if (blank_separated) {
        while (is_blank(*p)) ++p;
    }
    for (std::size_t index = 0;; ++index) {
        failed = index;
        if (!blank_separated) {
            while (is_blank(*p)) ++p;
        } else if (*p == '\n') {
            return nullptr;  // where blanks separate fields, no field is empty
        }
        if (const char *next = number_at(p, index, row)) {
            if (index + 1 == width) return next;
            p = next;
            continue;
        }
        if ((p = parse_field(p, index, row)) == nullptr) return nullptr;
        if (index + 1 == width) break;
        if (blank_separated ? *p == '\n' : *p++ != layout_.separator) return nullptr;
    }
    return *p == '\n' ? p + 1 : nullptr;
}

// The common case on its own road: a plain number in a number column, then
// the separator (the line end after the last field). The start of the next
// field (the next line), or nullptr for parse_field to decide.
const char *Table::number_at(const char *p, std::size_t index, double *row) {
    const TableColumn &column = layout_.columns[index];
    if (column.kind != ColumnKind::number || *p == layout_.quote) return nullptr;
    double &value = row[column.output];
    // Each spelling of the point compiled on its own: the common one is the
    // loop of the plain parse.
    const char *end = layout_.decimal_point == '.' ? real::parse_real(p, '.', value) : real::parse_real(p, ',', value);
    if (end == nullptr) return nullptr;
    const char *q = end;
    while (is_blank(*q)) ++q;
    if (index + 1 == layout_.columns.size()) return *q == '\n' ? q + 1 : nullptr;
    if (layout_.separator == '\0') return q != end && *q != '\n' ? q : nullptr;
    return *q == layout_.separator ? q + 1 : nullptr;
}

// One field at p (blanks before it skipped): the end of its trailing
// blanks, or nullptr when it is not a value of its column.
const char *Table::parse_field(const char *p, std::size_t index, double *row) {
    const TableColumn &column = layout_.columns[index];
    double value = nan;
    Field field{};
    if (layout_.quote != '\0' && *p == layout_.quote) {
        const char *after = scan_quoted(p, field);
        if (after == nullptr || (after = field_end(after)) == nullptr) return nullptr;
        return quoted_value(field, index, row) ? after : nullptr;
    }
    if (column.kind == ColumnKind::text || column.kind == ColumnKind::raw) {
        const char *after = nullptr;
        if (takes_rest(index)) {
            field = {p, after = line_end(p), false};
            trim(field);
        } else {
            after = field_end(scan_unquoted(p, field));
        }
        // A raw field is kept even when missing: one per row.
        store(column, row, value);
        if (column.kind == ColumnKind::raw || !is_missing(field.begin, field.end)) keep_word(field, index, row);
        return after;
    }
    const char *after = parse_value(p, column, false, value);
    if (after == nullptr || (after = field_end(after)) == nullptr) {
        // Not a value: a missing one, or none.
        after = field_end(scan_unquoted(p, field));
        if (!is_missing(field.begin, field.end)) return nullptr;
        value = nan;
    }
    store(column, row, value);
    return after;
}

// A number or time of the column's kind at p: the end of it, or nullptr.
const char *Table::parse_value(const char *p, const TableColumn &column, bool quoted, double &value) {
    TimeSpelling spelling{column.shape, quoted || layout_.separator != '\0', false, layout_.decimal_point};
    Moment moment;
    switch (column.kind) {
    case ColumnKind::number:
        return parse_real(p, layout_.decimal_point, value);
    case ColumnKind::epoch:
        if ((p = parse_real(p, layout_.decimal_point, value)) == nullptr) return nullptr;
        value = column.divisor != 0.0 ? value / column.divisor : value * column.scale;
        return p;
    case ColumnKind::time:
        if ((p = parse_time(p, spelling, moment)) == nullptr) return nullptr;
        if (column.shape == TimeShape::daytime || moment.zoned) {
            value = moment_value(moment.seconds, moment);
        } else {
            value = moment_value(clock_.to_utc(moment.seconds), moment);
        }
        return p;
    case ColumnKind::date_of_pair:
        spelling.date_only = true;
        if ((p = parse_time(p, spelling, moment)) != nullptr) value = static_cast<double>(moment.seconds);
        return p;
    case ColumnKind::time_of_pair:
        if ((p = parse_time_of_day(p, spelling, true, moment)) == nullptr) return nullptr;
        if (std::isnan(pair_date_)) {
            value = nan;
            return p;
        }
        moment.seconds += static_cast<std::int64_t>(pair_date_);
        value = moment_value(moment.zoned ? moment.seconds : clock_.to_utc(moment.seconds), moment);
        return p;
    case ColumnKind::text:
    case ColumnKind::raw:
        break;
    }
    return nullptr;
}

bool Table::quoted_value(Field field, std::size_t index, double *row) {
    const TableColumn &column = layout_.columns[index];
    trim(field);
    store(column, row, nan);
    bool missing = !field.escaped && is_missing(field.begin, field.end);
    if (column.kind == ColumnKind::text || column.kind == ColumnKind::raw) {
        if (column.kind == ColumnKind::raw || !missing) keep_word(field, index, row);
        return true;
    }
    if (missing) return true;
    // A quote inside makes no number or time.
    double value = nan;
    if (field.escaped || parse_value(field.begin, column, true, value) != field.end) return false;
    store(column, row, value);
    return true;
}

void Table::store(const TableColumn &column, double *row, double value) {
    if (column.kind == ColumnKind::date_of_pair) {
        pair_date_ = value;
    } else {
        row[column.output] = value;
    }
}

// A known word's code is written at once; a new word (and a raw field)
// waits for the end of its line, so that a bad line teaches no words.
void Table::keep_word(const Field &field, std::size_t index, double *row) {
    auto size = static_cast<std::size_t>(field.end - field.begin);
    const TableColumn &column = layout_.columns[index];
    if (!field.escaped && column.kind == ColumnKind::text) {
        std::size_t code = levels_[index].find(std::string_view(field.begin, size));
        if (code != SIZE_MAX) {
            row[column.output] = static_cast<double>(code);
            return;
        }
    }
    if (!field.escaped) {
        words_.push_back({index, field.begin, 0, size});
        return;
    }
    std::size_t offset = scratch_.size();
    for (const char *p = field.begin; p != field.end; ++p) {
        scratch_.push_back(*p);
        if (*p == layout_.quote) ++p;  // "" is one quote
    }
    words_.push_back({index, nullptr, offset, scratch_.size() - offset});
}

void Table::take_words(double *row) {
    for (const Word &word : words_) {
        std::string_view text(word.begin != nullptr ? word.begin : scratch_.data() + word.scratch_offset, word.size);
        const TableColumn &column = layout_.columns[word.column];
        if (column.kind == ColumnKind::raw) {
            raw_[word.column].emplace_back(text);
        } else {
            row[column.output] = static_cast<double>(levels_[word.column].code(text));
        }
    }
}

// After a field that ended at p: the end of the blanks behind it, when a
// separator or the line's end comes next (for blank separated fields, when
// at least one blank does); else nullptr.
const char *Table::field_end(const char *p) const {
    const char *q = p;
    while (is_blank(*q)) ++q;
    if (*q == '\n') return q;
    if (layout_.separator == '\0') return q != p ? q : nullptr;
    return *q == layout_.separator ? q : nullptr;
}

// A quoted field at p (its opening quote): the byte after its closing quote,
// or nullptr when the line ends first.
const char *Table::scan_quoted(const char *p, Field &field) const {
    const char quote = layout_.quote;
    field = {p + 1, nullptr, false};
    for (const char *q = p + 1;; ++q) {
        if (*q == '\n') return nullptr;
        if (*q != quote) continue;
        if (q[1] != quote) {
            field.end = q;
            return q + 1;
        }
        field.escaped = true;
        ++q;
    }
}

// An unquoted field at p: up to the separator (or a blank) or the line's
// end, where the scan stops; trailing blanks are not the field's.
const char *Table::scan_unquoted(const char *p, Field &field) const {
    const char *q = p;
    if (layout_.separator == '\0') {
        while (*q != '\n' && !is_blank(*q)) ++q;
    } else {
        while (*q != '\n' && *q != layout_.separator) ++q;
    }
    field = {p, q, false};
    trim(field);
    return q;
}

// Whether field `index` is the last, a text one that takes the rest of the line.
bool Table::takes_rest(std::size_t index) const {
    const std::size_t width = layout_.columns.size();
    if (!layout_.rest_of_line || layout_.separator != '\0' || index + 1 != width) return false;
    const ColumnKind kind = layout_.columns[index].kind;
    return kind == ColumnKind::text || kind == ColumnKind::raw;
}

void Table::trim(Field &field) const {
    while (field.begin != field.end && is_blank(*field.begin)) ++field.begin;
    while (field.end != field.begin && is_blank(field.end[-1])) --field.end;
}

bool Table::is_missing(const char *begin, const char *end) const {
    auto size = static_cast<std::size_t>(end - begin);
    if (size == 0) return empty_is_missing_;
    if (size > longest_missing_ || !missing_first_[static_cast<unsigned char>(*begin)]) return false;
    for (const std::string &word : layout_.missing_words) {
        if (word.size() == size && std::memcmp(word.data(), begin, size) == 0) return true;
    }
    return false;
}

// The fields of a line that did not parse, as a reader of the table would
// split it, and the first quoting problem on the way (then the fields so far).
std::vector<Table::Field> Table::split(const char *p, Reason &problem) const {
    std::vector<Field> fields;
    const bool blank_separated = layout_.separator == '\0';
    while (blank_separated && is_blank(*p)) ++p;
    while (!(blank_separated && *p == '\n')) {
        while (!blank_separated && is_blank(*p)) ++p;
        Field field{};
        const char *after = nullptr;
        if (layout_.quote != '\0' && *p == layout_.quote) {
            if ((after = scan_quoted(p, field)) == nullptr) problem = Reason::unclosed_quote;
            else if ((after = field_end(after)) == nullptr) problem = Reason::after_quote;
            if (after == nullptr) {
                fields.push_back({p, line_end(p), false});
                return fields;
            }
        } else if (takes_rest(fields.size())) {
            field = {p, after = line_end(p), false};
            trim(field);
        } else {
            after = scan_unquoted(p, field);
            bool is_time = fields.size() < layout_.columns.size() && takes_meridiem(layout_.columns[fields.size()]);
            const char *next = after;
            while (is_blank(*next)) ++next;
            if (blank_separated && is_time && next != after && is_meridiem_word(next)) after = field.end = next + 2;
        }
        fields.push_back(field);
        while (blank_separated && is_blank(*after)) ++after;
        p = after;
        if (!blank_separated && *p++ != layout_.separator) break;
    }
    return fields;
}

void Table::set_aside(const char *text, const char *line, std::size_t number, std::size_t failed) {
    Reason problem{};
    std::vector<Field> fields = split(line, problem);
    auto offset = [text](const char *p) { return static_cast<std::size_t>(p - text); };
    const char *end = line_end(line);
    if (problem != Reason{}) {
        bad_.push_back({number, problem, fields.size() - 1, offset(fields.back().begin), offset(end)});
    } else if (fields.size() != layout_.columns.size()) {
        bad_.push_back({number, Reason::field_count, fields.size(), offset(line), offset(end)});
    } else {
        const Field &field = fields[failed];
        bad_.push_back({number, Reason::not_of_kind, failed, offset(field.begin), offset(field.end)});
    }
}

}  // namespace textrows
