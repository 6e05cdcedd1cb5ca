// Module _textrows: the native fast path of the text format's plain rows
// (tarvinel/stelvane/textformat.py), and of typed tables. Its top level is
// parse_into(data, sep, out), which fills a float64 array from whole lines
// of text, or answers False so that the general parser takes them, and the
// table functions of table_functions.hpp.
#include "native/native.hpp"
#include "textrows/buffer.hpp"
#include "textrows/rows.hpp"
#include "textrows/table_functions.hpp"

#include <cstring>
#include <string>

namespace textrows {
namespace {

namespace py = pybind11;

Separator separator_of(py::handle sep) {
    if (sep.is_none()) return Separator::whitespace;
    if (PyUnicode_Check(sep.ptr())) {
        if (PyUnicode_CompareWithASCIIString(sep.ptr(), ",") == 0) return Separator::comma;
        if (PyUnicode_CompareWithASCIIString(sep.ptr(), "\t") == 0) return Separator::tab;
    }
    throw py::value_error("sep must be ',', '\\t' or None");
}

// The text holds a line for each row of out: refused text is counted, so
// that a caller's miscount is an error rather than a refusal.
void check_line_count(const char *text, std::size_t size, std::size_t rows) {
    std::size_t lines = count_lines(text, size);
    if (lines != rows) {
        throw py::value_error("data holds " + std::to_string(lines) + " lines for " + std::to_string(rows) +
                              " rows of out");
    }
}

py::object parse_into(const native::Call &c) {
    py::handle data = c.arg(0);
    if (!PyBytes_Check(data.ptr())) {
        throw py::type_error(std::string("data must be bytes, not ") + Py_TYPE(data.ptr())->tp_name);
    }
    Separator separator = separator_of(c.arg(1));
    ExportedBuffer out(c.arg(2), PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | PyBUF_WRITABLE);
    check_float64_matrix(out.view());
    const char *text = PyBytes_AS_STRING(data.ptr());
    auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(data.ptr()));
    if (size > 0 && text[size - 1] != '\n') throw py::value_error("data must end with a newline");
    auto rows = static_cast<std::size_t>(out.view().shape[0]);
    auto width = static_cast<std::size_t>(out.view().shape[1]);
    auto *values = static_cast<double *>(out.view().buf);
    bool parsed = false;
    {
        // The bytes are immutable and the caller keeps them; the exported
        // array cannot be resized or freed while the export lasts. Other
        // threads (the queue's feeder) run meanwhile.
        py::gil_scoped_release unlocked;
        parsed = parse_rows(text, size, separator, width, values, rows);
    }
    if (!parsed) check_line_count(text, size, rows);
    return py::bool_(parsed);
}
const native::FunctionSpec parse_into_spec{
    "parse_into", parse_into, {{"data", "bytes"}, {"sep", "str | None"}, {"out", "numpy.ndarray"}}, "bool"};

void textrows_body(native::Module &m) {
    m.def(parse_into_spec);
    m.def(table_parser_spec);
    m.def(parse_table_spec);
    m.def(local_to_utc_spec);
}

}  // namespace
}  // namespace textrows

NATIVE_MODULE(_textrows, textrows::textrows_body)
