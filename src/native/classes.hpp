// Class creation at module load, as a class statement does it: through the
// metaclass of the bases (type, sip's or shiboken's), with the class cell
// that gives the methods their zero-argument super().
#pragma once

#include "native/module.hpp"

namespace native {

py::object make_class(PyObject *module, const char *name, py::tuple bases, std::initializer_list<Member> members);

}  // namespace native
