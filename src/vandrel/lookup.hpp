// Attribute reads and method calls for the dispatch loop, with the meaning
// of `obj.name` and `obj.name(...)` in Python, through the runtime's own
// generic lookup at every use: an attribute replaced between two reads, an
// override in a subclass or a class that customises attribute access is seen
// exactly as the interpreter sees it. The names are interned strings kept in
// module state, so a read makes no string and hashes none.
#pragma once

#include "native/capi.hpp"

#include <pybind11/pybind11.h>

namespace vandrel {

namespace py = pybind11;
using native::steal_or_throw;

// obj.<name>
py::object attribute(py::handle obj, PyObject *name);

// target.<name>(args...), found as the interpreter finds a method to call
// (no bound method is made for a function of the class).
py::object call_method(PyObject *name, py::handle target);
py::object call_method(PyObject *name, py::handle target, py::handle arg);
py::object call_method(PyObject *name, py::handle target, py::handle first, py::handle second);

}  // namespace vandrel
