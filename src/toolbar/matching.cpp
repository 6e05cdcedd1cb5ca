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
#include "toolbar/matching.hpp"

namespace toolbar {
namespace py = pybind11;

namespace {

// Module state slots (see /work/notes/toolbar-state.md: 0..7 are ours).
enum MatchingRef { std_re = 0, std_re_match, std_re_compile, std_itertools, std_product };

py::object checked(PyObject *result) {
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(result);
}

bool is_true(py::handle value) {
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

// patterns.replace(" ", "").split(";"): blanks go, tabs and the like stay,
// empty parts stay.
py::list pattern_list(py::handle patterns) {
    py::object without_blanks = checked(PyUnicode_Replace(patterns.ptr(), py::str(" ").ptr(), py::str("").ptr(), -1));
    return py::reinterpret_borrow<py::list>(checked(PyUnicode_Split(without_blanks.ptr(), py::str(";").ptr(), -1)));
}

// format(value, "") as an f-string replacement field computes it: a str
// stays as it is, anything else goes through its type's __format__.
py::object text_of(py::handle value) {
    if (PyUnicode_CheckExact(value.ptr())) return py::reinterpret_borrow<py::object>(value);
    return checked(PyObject_Format(value.ptr(), nullptr));
}

// f"{x},{y}": always a str of the exact type, whatever __format__ returned.
py::object candidate_text(py::handle x, py::handle y) {
    py::object x_text = text_of(x);
    py::object y_text = text_of(y);
    py::tuple parts = py::make_tuple(x_text, py::str(","), y_text);
    return checked(PyUnicode_Join(py::str("").ptr(), parts.ptr()));
}

// `x, y = item` with the interpreter's own unpacking errors.
std::pair<py::object, py::object> unpack_pair(py::handle item) {
    PyObject *raw = item.ptr();
    if ((PyTuple_CheckExact(raw) || PyList_CheckExact(raw)) && Py_SIZE(raw) == 2) {
        PyObject *const *cells = PyTuple_CheckExact(raw) ? &PyTuple_GET_ITEM(raw, 0) : &PyList_GET_ITEM(raw, 0);
        return {py::reinterpret_borrow<py::object>(cells[0]), py::reinterpret_borrow<py::object>(cells[1])};
    }
    PyObject *iterator = PyObject_GetIter(raw);
    if (iterator == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(raw)->tp_iter == nullptr &&
            !PySequence_Check(raw)) {
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(raw)->tp_name);
        }
        throw py::error_already_set();
    }
    py::object it = py::reinterpret_steal<py::object>(iterator);
    py::object values[2];
    for (int i = 0; i < 2; ++i) {
        PyObject *next = PyIter_Next(iterator);
        if (next == nullptr) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", i);
            throw py::error_already_set();
        }
        values[i] = py::reinterpret_steal<py::object>(next);
    }
    PyObject *extra = PyIter_Next(iterator);
    if (extra != nullptr) {
        Py_DECREF(extra);
#if PY_VERSION_HEX >= 0x030D0000
        if (PyList_CheckExact(raw) || PyTuple_CheckExact(raw) || PyDict_CheckExact(raw)) {
            Py_ssize_t size = PyDict_CheckExact(raw) ? PyDict_Size(raw) : Py_SIZE(raw);
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected 2, got %zd)", size);
            throw py::error_already_set();
        }
#endif
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    return {std::move(values[0]), std::move(values[1])};
}

// `r and r.group(0) == test`, as a condition.
bool covers(py::handle r, py::handle test) {
    if (!is_true(r)) return false;
    py::object group = r.attr("group")(0);
    return is_true(checked(PyObject_RichCompare(group.ptr(), test.ptr(), Py_EQ)));
}

// The body above, step by step, through whatever `re` and `itertools` the
// module globals name at this moment.
py::list match_through_globals(const native::Call &c, py::handle patterns, py::handle lst) {
    py::list patterns_to_try = pattern_list(patterns);
    py::list pairs;
    py::object product = c.global("itertools").attr("product");
    py::dict repeat;
    repeat["repeat"] = 2;
    py::object candidates = checked(PyObject_Call(product.ptr(), py::make_tuple(lst).ptr(), repeat.ptr()));
    for (py::handle item : candidates) {
        auto [x, y] = unpack_pair(item);
        py::object test = candidate_text(x, y);
        for (py::handle pattern : patterns_to_try) {
            py::object r = c.global("re").attr("match")(pattern, test);
            if (covers(r, test)) {
                pairs.append(py::make_tuple(x, y));
                break;
            }
        }
    }
    return pairs;
}

py::object matched_xy_pairs(const native::Call &c) { return match_through_globals(c, c.arg(0), c.arg(1)); }

}  // namespace

void init_matching_state(native::Module &m) {
    native::ModuleState &state = m.state();
    py::module_ re = py::module_::import("re");
    py::module_ itertools = py::module_::import("itertools");
    native::set_state_ref(state, std_re, re);
    native::set_state_ref(state, std_re_match, re.attr("match"));
    native::set_state_ref(state, std_re_compile, re.attr("compile"));
    native::set_state_ref(state, std_itertools, itertools);
    native::set_state_ref(state, std_product, itertools.attr("product"));
}

const native::FunctionSpec matched_xy_pairs_spec{
    "matched_xy_pairs",
    matched_xy_pairs,
    {{"patterns", "str", native::Exact::str}, {"lst", "list[str]", native::Exact::list}},
    "list[tuple[str, str]]"};

}  // namespace toolbar
