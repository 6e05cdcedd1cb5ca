// A buffer exported by an object (a numpy array the caller fills), for the
// functions of module _textrows.
#pragma once

#include <pybind11/pybind11.h>

#include <cstring>

namespace textrows {

namespace py = pybind11;

// A buffer exported by an object, released (with the GIL held) at the end of
// the scope.
class ExportedBuffer {
public:
    ExportedBuffer(py::handle obj, int flags) {
        if (PyObject_GetBuffer(obj.ptr(), &view_, flags) < 0) throw py::error_already_set();
    }
    ~ExportedBuffer() { PyBuffer_Release(&view_); }
    ExportedBuffer(const ExportedBuffer &) = delete;
    ExportedBuffer &operator=(const ExportedBuffer &) = delete;

    const Py_buffer &view() const { return view_; }

private:
    Py_buffer view_{};
};

// numpy exports a float64 array of the machine's byte order as "d".
inline void check_float64_matrix(const Py_buffer &view) {
    bool is_float64 = view.format != nullptr && std::strcmp(view.format, "d") == 0 &&
                      view.itemsize == sizeof(double);
    if (!is_float64 || view.ndim != 2) {
        throw py::type_error("out must be a C-contiguous float64 array of 2 dimensions");
    }
}

}  // namespace textrows
