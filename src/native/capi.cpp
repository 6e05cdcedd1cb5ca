// The helpers of capi.hpp that are not inline.
#include "native/capi.hpp"

namespace native {

py::object attribute_if_present(py::handle obj, const char *name) {
    PyObject *value = PyObject_GetAttrString(obj.ptr(), name);
    if (value != nullptr) return py::reinterpret_steal<py::object>(value);
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return py::object();
}

namespace detail {

namespace {

// iter(value), with the interpreter's message for what cannot be unpacked
// at all; an error raised by the object's own __iter__ stays as it is.
py::object iterator_for_unpacking(PyObject *value) {
    PyObject *iterator = PyObject_GetIter(value);
    if (iterator == nullptr && PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(value)->tp_iter == nullptr &&
        !PySequence_Check(value)) {
        PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(value)->tp_name);
    }
    return steal_or_throw(iterator);
}

}  // namespace

// The slow road of unpack_pair: anything but an exact tuple or list of two.
std::pair<py::object, py::object> unpack_pair_by_iteration(py::handle value) {
    py::object iterator = iterator_for_unpacking(value.ptr());
    py::object values[2];
    for (int got = 0; got < 2; ++got) {
        PyObject *next = PyIter_Next(iterator.ptr());
        if (next == nullptr) {
            if (!PyErr_Occurred()) {
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", got);
            }
            throw py::error_already_set();
        }
        values[got] = py::reinterpret_steal<py::object>(next);
    }
    PyObject *surplus = PyIter_Next(iterator.ptr());
    if (surplus != nullptr) {
        Py_DECREF(surplus);
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    return {std::move(values[0]), std::move(values[1])};
}

}  // namespace detail
}  // namespace native
