// matched_xy_pairs: which ordered pairs of column names some pattern covers.
//
// The function behaves as this Python body, with `re` and `itertools` looked
// up as globals of the module at call time:
//
//     pattern_list = patterns.replace(" ", "").split(";")
//     pairs = []
//     for x, y in itertools.product(lst, repeat=2):
//         test = f"{x},{y}"
//         for pattern in pattern_list:
//             r = re.match(pattern, test)
//             if r and r.group(0) == test:
//                 pairs.append((x, y))
//                 break
//     return pairs
//
// Two roads lead there: that body step by step, through whatever the globals
// name, and a fast road while they name the standard objects. The literal
// shapes the fast road rules candidates out with are read in literal_shape.cpp.
#include "toolbar/matching.hpp"

#include "toolbar/literal_shape.hpp"
#include "toolbar/state.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace toolbar {
namespace py = pybind11;
using native::is_true;
using native::steal_or_throw;

namespace {

// patterns.replace(" ", "").split(";"): blanks go, tabs and the like stay,
// empty parts stay.
py::list pattern_list(py::handle patterns) {
    py::object without_blanks = steal_or_throw(PyUnicode_Replace(patterns.ptr(), py::str(" ").ptr(), py::str("").ptr(), -1));
    return steal_or_throw<py::list>(PyUnicode_Split(without_blanks.ptr(), py::str(";").ptr(), -1));
}

// format(value, "") as an f-string replacement field computes it: a str
// stays as it is, anything else goes through its type's __format__.
py::object text_of(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::object>(value);
    return steal_or_throw(PyObject_Format(value.ptr(), nullptr));
}

// f"{x},{y}": always a str of the exact type, whatever __format__ returned.
py::object candidate_text(py::handle x, py::handle y) {
    py::object x_text = text_of(x);
    py::object y_text = text_of(y);
    py::tuple parts = py::make_tuple(x_text, py::str(","), y_text);
    return steal_or_throw(PyUnicode_Join(py::str("").ptr(), parts.ptr()));
}

// `r and r.group(0) == test`, as a condition.
bool covers(py::handle r, py::handle test) {
    if (!is_true(r)) return false;
    py::object group = r.attr("group")(0);
    return is_true(steal_or_throw(PyObject_RichCompare(group.ptr(), test.ptr(), Py_EQ)));
}

// The body above, step by step, through whatever `re` and `itertools` the
// module globals name at this moment. `re_failure`, when given, is the error
// that reading `re.match` raised while the road was chosen: the body meets it
// at its own first read of `re.match` (and never, when it has no candidates).
py::list match_through_globals(const native::Call &c, py::handle patterns, py::handle lst,
                               const py::error_already_set *re_failure = nullptr) {
    py::list patterns_to_try = pattern_list(patterns);
    py::list pairs;
    py::object product = c.global("itertools").attr("product");
    py::dict repeat;
    repeat["repeat"] = 2;
    py::object candidates = steal_or_throw(PyObject_Call(product.ptr(), py::make_tuple(lst).ptr(), repeat.ptr()));
    for (py::handle item : candidates) {
        auto [x, y] = native::unpack_pair(item);
        py::object test = candidate_text(x, y);
        for (py::handle pattern : patterns_to_try) {
            if (re_failure != nullptr) throw *re_failure;
            py::object r = c.global("re").attr("match")(pattern, test);
            if (covers(r, test)) {
                pairs.append(py::make_tuple(x, y));
                break;
            }
        }
    }
    return pairs;
}

// ---------------------------------------------------------------------------
// The fast road, taken while `re`, `re.match`, `itertools` and
// `itertools.product` are the standard objects. Its result, its errors and
// the order in which patterns are compiled (so the compile errors and
// warnings) are those of the body above; it gets there with less work:
// - each element's text is computed once, and each pattern compiled once,
//   when the first candidate reaches it (re.match(p, t) is re.compile(p).match(t));
// - candidates that cannot be accepted by a pattern because of the literal
//   text that pattern requires (its literal shape, literal_shape.hpp) are not
//   matched at all, and rows whose x text rules out every pattern are skipped
//   as a whole.

constexpr std::size_t not_found = std::u32string_view::npos;

bool starts_with(std::u32string_view text, std::u32string_view head) { return text.substr(0, head.size()) == head; }

bool ends_with(std::u32string_view text, std::u32string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The text "x,y" may be accepted as far as the literal shape can tell.
bool may_accept(const LiteralShape &shape, std::u32string_view test) {
    if (!ends_with(test, shape.suffix)) return false;
    for (const std::u32string &piece : shape.inner) {
        if (test.find(piece) == not_found) return false;
    }
    return true;
}

// What a pattern's literal shape leaves open for the candidates of one row
// (one x text): nothing, every y, or the y texts that start with `y_head`;
// for a plain-text pattern, the one y text `y_head`.
struct RowView {
    bool dead = false;
    bool y_exact = false;
    std::u32string_view y_head;
};

RowView row_view(const LiteralShape &shape, std::u32string_view x) {
    RowView dead;
    dead.dead = true;
    std::u32string_view head = shape.prefix;
    if (x.size() >= head.size()) {
        // x alone covers the head; a plain-text pattern is shorter than "x,y".
        if (shape.exact || !starts_with(x, head)) return dead;
        return {};
    }
    if (!starts_with(head, x) || head[x.size()] != U',') return dead;
    return {false, shape.exact, head.substr(x.size() + 1)};
}

std::u32string code_points(py::handle text) {
    Py_ssize_t size = PyUnicode_GetLength(text.ptr());
    if (size < 0) throw py::error_already_set();
    std::u32string chars(static_cast<std::size_t>(size), U'\0');
    if (size > 0 && PyUnicode_AsUCS4(text.ptr(), reinterpret_cast<Py_UCS4 *>(chars.data()), size, 0) == nullptr)
        throw py::error_already_set();
    return chars;
}

py::object str_of(std::u32string_view chars) {
    return steal_or_throw(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, chars.data(), static_cast<Py_ssize_t>(chars.size())));
}

// The texts of the elements, in list order, computed once each. The body
// above first needs element k's text at candidate (lst[0], lst[k]); when it
// fails, `error` holds the exception and `texts` the texts before it, so
// that the candidates before that one still run (and may raise first).
struct ElementTexts {
    std::vector<std::u32string> texts;
    std::optional<py::error_already_set> error;
};

ElementTexts element_texts(py::tuple names) {
    ElementTexts result;
    result.texts.reserve(names.size());
    try {
        for (py::handle name : names) result.texts.push_back(code_points(text_of(name)));
    } catch (py::error_already_set &error) {
        result.error = std::move(error);
    }
    return result;
}

// The patterns of one call, each compiled when a candidate first reaches it.
// A candidate reaches pattern j only after patterns 0..j-1, so they are
// compiled in list order, and a compile error comes from the same pattern,
// at the same candidate, as in the body above.
class CallPatterns {
public:
    CallPatterns(py::list texts, py::handle compile) : texts_(std::move(texts)), compile_(compile) {
        for (py::handle text : texts_) shapes_.push_back(literal_shape(code_points(text)));
        matchers_.resize(shapes_.size());
    }

    std::size_t size() const { return shapes_.size(); }
    const LiteralShape &shape(std::size_t j) const { return shapes_[j]; }

    void reach(std::size_t j) {
        while (compiled_ <= j) {
            matchers_[compiled_] = compile_(texts_[compiled_]).attr("match");
            ++compiled_;
        }
    }
    void reach_all() {
        if (!shapes_.empty()) reach(shapes_.size() - 1);
    }

    // The match of pattern j (reached) covers the whole of `test`.
    bool covers(std::size_t j, std::u32string_view test, const py::object &end_name) const {
        py::object text = str_of(test);
        // Each argument vector has a free slot in front (PY_VECTORCALL_ARGUMENTS_OFFSET).
        PyObject *match_args[] = {nullptr, text.ptr()};
        py::object found = steal_or_throw(
            PyObject_Vectorcall(matchers_[j].ptr(), match_args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        if (found.is_none()) return false;
        PyObject *end_args[] = {nullptr, found.ptr()};
        py::object end = steal_or_throw(
            PyObject_VectorcallMethod(end_name.ptr(), end_args + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
        Py_ssize_t end_at = PyLong_AsSsize_t(end.ptr());
        if (end_at == -1 && PyErr_Occurred()) throw py::error_already_set();
        return static_cast<std::size_t>(end_at) == test.size();
    }

private:
    py::list texts_;
    py::handle compile_;
    std::vector<LiteralShape> shapes_;
    std::vector<py::object> matchers_;
    std::size_t compiled_ = 0;
};

// Candidates (names[row], names[y]) for y < y_end, appended when accepted.
void match_row(CallPatterns &patterns, const ElementTexts &texts, py::tuple names, std::size_t row, std::size_t y_end,
               py::list &pairs) {
    std::u32string_view x = texts.texts[row];
    std::vector<RowView> views;
    views.reserve(patterns.size());
    for (std::size_t j = 0; j < patterns.size(); ++j) views.push_back(row_view(patterns.shape(j), x));
    if (std::all_of(views.begin(), views.end(), [](const RowView &view) { return view.dead; })) {
        // Every candidate of the row is tried with every pattern and none accepts.
        patterns.reach_all();
        return;
    }
    py::object end_name = py::str("end");
    std::u32string test;
    for (std::size_t y = 0; y < y_end; ++y) {
        std::u32string_view y_text = texts.texts[y];
        test.clear();
        for (std::size_t j = 0; j < patterns.size(); ++j) {
            patterns.reach(j);
            const RowView &view = views[j];
            if (view.dead || !starts_with(y_text, view.y_head)) continue;
            bool accepted;
            if (view.y_exact) {
                accepted = y_text.size() == view.y_head.size();
            } else {
                if (test.empty()) test.append(x).append(1, U',').append(y_text);
                accepted = may_accept(patterns.shape(j), test) && patterns.covers(j, test, end_name);
            }
            if (accepted) {
                pairs.append(py::make_tuple(names[row], names[y]));
                break;
            }
        }
    }
}

py::list match_on_fast_road(const native::Call &c, py::handle patterns, py::handle lst) {
    CallPatterns call_patterns(pattern_list(patterns), state_of(c.module()).std_re_compile);
    // The candidates are those of the list as it is now (product takes a copy).
    py::tuple names = steal_or_throw<py::tuple>(PySequence_Tuple(lst.ptr()));
    ElementTexts texts = element_texts(names);
    py::list pairs;
    if (!texts.error) {
        for (std::size_t row = 0; row < names.size(); ++row) match_row(call_patterns, texts, names, row, names.size(), pairs);
    } else {
        // Only the candidates (lst[0], lst[y]) before the first failing text run.
        if (!texts.texts.empty()) match_row(call_patterns, texts, names, 0, texts.texts.size(), pairs);
        throw *texts.error;
    }
    return pairs;
}

// ---------------------------------------------------------------------------
// Choosing the road.

void remember(PyObject *&field, py::object value) { Py_XSETREF(field, value.release().ptr()); }

// std_re last: it says that all of them are there.
void remember_standard_objects(State &state) {
    py::module_ re = py::module_::import("re");
    py::module_ itertools = py::module_::import("itertools");
    remember(state.std_re_match, re.attr("match"));
    remember(state.std_re_compile, re.attr("compile"));
    remember(state.std_itertools, itertools);
    remember(state.std_product, itertools.attr("product"));
    remember(state.std_re, re);
}

// The module global `name` is the standard module `standard_module` and its
// `attribute` the standard object `standard_attribute`. Looking the global up
// may run code (a key of the module dict with the same hash, whose __eq__
// raises); its error is thrown. Reading the attribute of the standard module
// runs none of ours.
bool is_standard(const native::Call &c, const char *name, PyObject *standard_module, const char *attribute,
                 PyObject *standard_attribute) {
    py::object module = native::dict_item(PyModule_GetDict(c.module()), py::str(name));
    if (module.ptr() != standard_module) return false;
    py::object value = steal_or_throw(PyObject_GetAttrString(module.ptr(), attribute));
    return value.ptr() == standard_attribute;
}

py::object matched_xy_pairs(const native::Call &c) {
    const State &state = state_of(c.module());
    py::handle patterns = c.arg(0), lst = c.arg(1);
    // Without the objects remembered at load, nothing says what standard is.
    if (state.std_re == nullptr) return match_through_globals(c, patterns, lst);
    // The body reads itertools.product first: its error comes first here too.
    if (!is_standard(c, "itertools", state.std_itertools, "product", state.std_product)) {
        return match_through_globals(c, patterns, lst);
    }
    // re.match is read at the first candidate only: an error of reading it
    // now is raised there.
    bool standard_re;
    try {
        standard_re = is_standard(c, "re", state.std_re, "match", state.std_re_match);
    } catch (py::error_already_set &failure) {
        return match_through_globals(c, patterns, lst, &failure);
    }
    return standard_re ? match_on_fast_road(c, patterns, lst) : match_through_globals(c, patterns, lst);
}

}  // namespace

void init_matching_state(native::Module &m) { remember_standard_objects(state_of(m.ptr())); }

const native::FunctionSpec matched_xy_pairs_spec{
    "matched_xy_pairs",
    matched_xy_pairs,
    {{"patterns", "str", native::Exact::str}, {"lst", "list[str]", native::Exact::list}},
    "list[tuple[str, str]]"};

}  // namespace toolbar
