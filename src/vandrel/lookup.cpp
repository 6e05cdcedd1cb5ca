// Attribute reads and method calls: see lookup.hpp.
#include "vandrel/lookup.hpp"

#include <cstddef>

namespace vandrel {

namespace {

// args[0] is the target. PyObject_VectorcallMethod leaves args[-1] alone
// and, with the offset flag, may lend args[0] to the callee for a bound call.
py::object vectorcall_method(PyObject *name, PyObject *const *args, std::size_t nargs) {
    return steal_or_throw(PyObject_VectorcallMethod(name, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

}  // namespace

py::object attribute(py::handle obj, PyObject *name) { return steal_or_throw(PyObject_GetAttr(obj.ptr(), name)); }

py::object call_method(PyObject *name, py::handle target) {
    PyObject *args[] = {target.ptr()};
    return vectorcall_method(name, args, 1);
}

py::object call_method(PyObject *name, py::handle target, py::handle arg) {
    PyObject *args[] = {target.ptr(), arg.ptr()};
    return vectorcall_method(name, args, 2);
}

py::object call_method(PyObject *name, py::handle target, py::handle first, py::handle second) {
    PyObject *args[] = {target.ptr(), first.ptr(), second.ptr()};
    return vectorcall_method(name, args, 3);
}

}  // namespace vandrel
