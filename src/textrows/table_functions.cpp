// The typed-table functions of module _textrows (table_functions.hpp); the
// Python side is tarvinel/stelvane/formats/tableblock.py.
#include "textrows/table_functions.hpp"

#include "textrows/buffer.hpp"
#include "textrows/rows.hpp"
#include "textrows/table.hpp"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace textrows {
namespace {

constexpr const char *capsule_name = "tarvinel.stelvane._textrows.Table";

// A table and the words it has learnt, for one stream. `busy` (read and set
// with the GIL held) keeps a second thread out while a parse runs without it.
struct Parser {
    Table table;
    bool busy = false;
};

void free_parser(PyObject *capsule) {
    delete static_cast<Parser *>(PyCapsule_GetPointer(capsule, capsule_name));
}

Parser &parser_of(py::handle capsule) {
    auto *parser = static_cast<Parser *>(PyCapsule_GetPointer(capsule.ptr(), capsule_name));
    if (parser == nullptr) throw py::error_already_set();
    return *parser;
}

std::string utf8_of(py::handle text) {
    Py_ssize_t size = 0;
    const char *bytes = PyUnicode_Check(text.ptr()) ? PyUnicode_AsUTF8AndSize(text.ptr(), &size) : nullptr;
    if (bytes == nullptr) {
        if (!PyErr_Occurred()) throw py::type_error("expected a str");
        throw py::error_already_set();
    }
    return std::string(bytes, static_cast<std::size_t>(size));
}

// None, or one ASCII character that no number or time holds (so that a scan
// of one never runs into it: table.cpp relies on that).
char character_of(py::handle value, const char *what) {
    if (value.is_none()) return '\0';
    std::string text = utf8_of(value);
    bool ok = text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80 && std::isalnum(text[0]) == 0 &&
              std::strchr("+-.:/ \r\n", text[0]) == nullptr;
    if (!ok) throw py::value_error(std::string(what) + " must be None or one character that is no part of a number");
    return text[0];
}

ColumnKind kind_of(const std::string &kind, const std::string &shape) {
    if (kind == "number") return ColumnKind::number;
    if (kind == "text") return ColumnKind::text;
    if (kind == "raw") return ColumnKind::raw;
    if (kind == "time") return shape == "epoch" ? ColumnKind::epoch : ColumnKind::time;
    throw py::value_error("column kind must be 'number', 'text', 'time' or 'raw', not '" + kind + "'");
}

TimeShape shape_of(const std::string &shape) {
    if (shape == "iso") return TimeShape::iso;
    if (shape == "dmy") return TimeShape::dmy;
    if (shape == "mdy") return TimeShape::mdy;
    if (shape == "month") return TimeShape::month;
    if (shape == "daytime") return TimeShape::daytime;
    throw py::value_error("time shape must be iso, dmy, mdy, month, daytime or epoch, not '" + shape + "'");
}

// An epoch's unit as a divisor where it is the inverse of a whole number
// (1e-3: 1000), so that 1500 ms is 1.5 s to the bit.
double divisor_of(double scale) {
    if (!(scale > 0.0) || scale >= 1.0) return 0.0;
    double inverse = std::round(1.0 / scale);
    return std::fabs(inverse * scale - 1.0) < 1e-12 ? inverse : 0.0;
}

// (kind, shape, scale, with_next) per field; a pair's date and time of day
// share one column of the rows.
void add_columns(TableLayout &layout, py::handle columns) {
    py::sequence fields = py::reinterpret_borrow<py::sequence>(columns);
    bool pair_open = false;
    for (py::handle item : fields) {
        py::tuple spec = py::reinterpret_borrow<py::tuple>(item);
        if (!PyTuple_Check(item.ptr()) || spec.size() != 4) {
            throw py::type_error("each column must be a tuple (kind, shape, scale, with_next)");
        }
        TableColumn column;
        std::string kind = utf8_of(spec[0]), shape = utf8_of(spec[1]);
        column.kind = kind_of(kind, shape);
        column.scale = PyFloat_AsDouble(spec[2].ptr());
        if (column.scale == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        column.divisor = divisor_of(column.scale);
        if (column.kind == ColumnKind::time) column.shape = shape_of(shape);
        bool with_next = native::is_true(spec[3]);
        if (pair_open) {
            if (column.kind != ColumnKind::time) throw py::value_error("the column after a date must be a time");
            column.kind = ColumnKind::time_of_pair;
            column.output = layout.output_width - 1;
        } else {
            if (with_next && column.kind == ColumnKind::time) column.kind = ColumnKind::date_of_pair;
            column.output = layout.output_width++;
        }
        if (column.kind == ColumnKind::date_of_pair && column.shape == TimeShape::daytime) {
            throw py::value_error("a time of day cannot take the next column's time");
        }
        pair_open = column.kind == ColumnKind::date_of_pair;
        layout.columns.push_back(column);
    }
    if (pair_open) throw py::value_error("the last column cannot take the next column's time");
    if (layout.columns.empty()) throw py::value_error("a table needs one column at least");
}

py::object table_parser(const native::Call &c) {
    TableLayout layout;
    layout.separator = character_of(c.arg(0), "sep");
    layout.quote = character_of(c.arg(1), "quote");
    if (layout.quote != '\0' && layout.quote == layout.separator) throw py::value_error("quote and sep must differ");
    if (native::is_true(c.arg(2))) {
        if (layout.separator == ',') throw py::value_error("a decimal comma needs a separator other than ','");
        layout.decimal_point = ',';
    }
    add_columns(layout, c.arg(3));
    for (py::handle word : py::reinterpret_borrow<py::sequence>(c.arg(4))) layout.missing_words.push_back(utf8_of(word));
    layout.rest_of_line = native::is_true(c.arg(5));
    if (layout.rest_of_line && layout.separator != '\0') throw py::value_error("only a blank separated table's last column takes the rest of the line");
    auto *parser = new Parser{Table(std::move(layout))};
    PyObject *capsule = PyCapsule_New(parser, capsule_name, free_parser);
    if (capsule == nullptr) {
        delete parser;
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(capsule);
}
const native::FunctionSpec table_parser_spec_{"table_parser",
                                              table_parser,
                                              {{"sep", "str | None"},
                                               {"quote", "str | None"},
                                               {"decimal_comma", "bool"},
                                               {"columns", "tuple"},
                                               {"missing", "tuple[str, ...]"},
                                               {"rest_of_line", "bool"}},
                                              "object"};

py::str decoded(std::string_view text) {
    return native::steal_or_throw<py::str>(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

py::list bad_list(const Table &table) {
    py::list bad;
    for (const BadLine &line : table.bad_lines()) {
        bad.append(py::make_tuple(line.line, static_cast<int>(line.reason), line.field, line.field_begin,
                                  line.field_end));
    }
    return bad;
}

// {output column: the words it learnt in this parse} for the text columns
// that learnt some, and {output column: its fields} for the raw columns.
std::pair<py::dict, py::dict> words_and_raw(const Table &table, const std::vector<std::size_t> &known) {
    py::dict words, raw;
    const auto &columns = table.layout().columns;
    for (std::size_t index = 0; index < columns.size(); ++index) {
        py::int_ output(columns[index].output);
        if (columns[index].kind == ColumnKind::raw) {
            py::list fields;
            for (const std::string &field : table.raw_fields(index)) fields.append(decoded(field));
            raw[output] = fields;
        } else if (columns[index].kind == ColumnKind::text && table.levels(index).size() > known[index]) {
            py::list learnt;
            for (std::size_t code = known[index]; code < table.levels(index).size(); ++code) {
                learnt.append(decoded(table.levels(index).word(code)));
            }
            words[output] = learnt;
        }
    }
    return {words, raw};
}

// Clears the busy mark however the parse ends.
class BusyMark {
public:
    explicit BusyMark(Parser &parser) : parser_(parser) {
        if (parser.busy) {
            PyErr_SetString(PyExc_RuntimeError, "the table parser is in use by another thread");
            throw py::error_already_set();
        }
        parser.busy = true;
    }
    ~BusyMark() { parser_.busy = false; }
    BusyMark(const BusyMark &) = delete;
    BusyMark &operator=(const BusyMark &) = delete;

private:
    Parser &parser_;
};

py::object parse_table(const native::Call &c) {
    Parser &parser = parser_of(c.arg(0));
    py::handle data = c.arg(1);
    if (!PyBytes_Check(data.ptr())) {
        throw py::type_error(std::string("data must be bytes, not ") + Py_TYPE(data.ptr())->tp_name);
    }
    const char *text = PyBytes_AS_STRING(data.ptr());
    auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(data.ptr()));
    if (size > 0 && text[size - 1] != '\n') throw py::value_error("data must end with a newline");
    ExportedBuffer out(c.arg(2), PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE);
    check_float64_matrix(out.view());
    Table &table = parser.table;
    std::size_t lines = count_lines(text, size);
    if (static_cast<std::size_t>(out.view().shape[0]) != lines ||
        static_cast<std::size_t>(out.view().shape[1]) != table.layout().output_width) {
        throw py::value_error("out must have a row per line of data and " +
                              std::to_string(table.layout().output_width) + " columns");
    }
    std::vector<std::size_t> known;
    for (std::size_t index = 0; index < table.layout().columns.size(); ++index) known.push_back(table.levels(index).size());
    BusyMark busy(parser);
    std::size_t rows = 0;
    {
        // The bytes are immutable and the caller keeps them and the parser;
        // the exported array cannot be resized while the export lasts.
        py::gil_scoped_release unlocked;
        rows = table.parse(text, size, static_cast<double *>(out.view().buf));
    }
    auto [words, raw] = words_and_raw(table, known);
    return py::make_tuple(rows, bad_list(table), words, raw);
}
const native::FunctionSpec parse_table_spec_{"parse_table",
                                             parse_table,
                                             {{"parser", "object"}, {"data", "bytes"}, {"out", "numpy.ndarray"}},
                                             "tuple"};

py::object local_to_utc(const native::Call &c) {
    ExportedBuffer values(c.arg(0), PyBUF_STRIDES | PyBUF_FORMAT | PyBUF_WRITABLE);
    const Py_buffer &view = values.view();
    if (view.ndim != 1 || view.format == nullptr || std::strcmp(view.format, "d") != 0) {
        throw py::type_error("values must be a float64 array of 1 dimension");
    }
    {
        py::gil_scoped_release unlocked;
        LocalClock clock;
        auto *base = static_cast<char *>(view.buf);
        for (Py_ssize_t i = 0; i < view.shape[0]; ++i) {
            auto *value = reinterpret_cast<double *>(base + i * view.strides[0]);
            *value = clock.to_utc(*value);
        }
    }
    return py::none();
}
const native::FunctionSpec local_to_utc_spec_{"local_to_utc", local_to_utc, {{"values", "numpy.ndarray"}}, "None"};

}  // namespace

const native::FunctionSpec table_parser_spec = table_parser_spec_;
const native::FunctionSpec parse_table_spec = parse_table_spec_;
const native::FunctionSpec local_to_utc_spec = local_to_utc_spec_;

}  // namespace textrows
