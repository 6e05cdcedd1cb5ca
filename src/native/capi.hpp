// Small helpers at the boundary to the C API, shared by every module: taking
// ownership of a new reference or raising the error the call reported, the
// truth test of `if value:`, the unpacking `a, b = value`, a dict lookup and
// an attribute read that each tell a missing key or attribute from a failing
// lookup.
//
// Every helper that throws does so with the Python error set, as
// py::error_already_set expects; the module's entry points turn it back into
// the raised exception.
#pragma once

#include <pybind11/pybind11.h>

#include <utility>

namespace native {

namespace py = pybind11;

// A new reference from the C API, owned by the result; nullptr means the call
// failed with an error set, which is thrown.
template <typename Object = py::object>
inline Object steal_or_throw(PyObject *result) {
    if (result == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<Object>(result);
}

// `if value:` as the interpreter evaluates it (__bool__, else __len__); the
// two bools are answered without a call, as PyObject_IsTrue answers them.
inline bool is_true(py::handle value) {
    if (value.ptr() == Py_True) return true;
    if (value.ptr() == Py_False) return false;
    int truth = PyObject_IsTrue(value.ptr());
    if (truth < 0) throw py::error_already_set();
    return truth != 0;
}

// dict[key] when the dict holds the key, else a null object. An error raised
// while looking (by a key's __hash__ or __eq__) is thrown, never swallowed.
// The value is a strong reference: code run later cannot take it away.
inline py::object dict_item(py::handle dict, py::handle key) {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject *value = nullptr;
    if (PyDict_GetItemRef(dict.ptr(), key.ptr(), &value) < 0) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(value);
#else
    PyObject *value = PyDict_GetItemWithError(dict.ptr(), key.ptr());
    if (value == nullptr && PyErr_Occurred()) throw py::error_already_set();
    return py::reinterpret_borrow<py::object>(value);  // owned before any code can run
#endif
}

// obj.<name> when obj has it; a null object when the lookup raised
// AttributeError (then cleared). Any other error of the lookup is thrown.
py::object attribute_if_present(py::handle obj, const char *name);

namespace detail {
std::pair<py::object, py::object> unpack_pair_by_iteration(py::handle value);
}

// `a, b = value`, with the interpreter's own errors and messages (3.11 to
// 3.13) when value is not an iterable of exactly two. An exact tuple or list
// of two is read in place; anything else is iterated, as the interpreter
// does (a subclass's __iter__ is honoured).
inline std::pair<py::object, py::object> unpack_pair(py::handle value) {
    PyObject *raw = value.ptr();
    if (PyTuple_CheckExact(raw) && PyTuple_GET_SIZE(raw) == 2) {
        return {py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(raw, 0)),
                py::reinterpret_borrow<py::object>(PyTuple_GET_ITEM(raw, 1))};
    }
    if (PyList_CheckExact(raw) && PyList_GET_SIZE(raw) == 2) {
        return {py::reinterpret_borrow<py::object>(PyList_GET_ITEM(raw, 0)),
                py::reinterpret_borrow<py::object>(PyList_GET_ITEM(raw, 1))};
    }
    return detail::unpack_pair_by_iteration(value);
}

}  // namespace native
