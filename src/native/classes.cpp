// Class creation, after builtin___build_class__ and type_new: compute the most
// derived metaclass of the bases, let it prepare the namespace, fill in
// __module__ and __qualname__, the members and __classcell__, then call the
// metaclass. type.__new__ (which sip's and shiboken's metaclasses reach with
// the namespace unchanged) fills the cell with the new class.
#include "native/classes.hpp"

#include "native/capi.hpp"

namespace native {

namespace {

py::object most_derived_metaclass(py::tuple bases) {
    PyTypeObject *winner = &PyType_Type;
    for (py::handle base : bases) {
        PyTypeObject *meta = Py_TYPE(base.ptr());
        if (PyType_IsSubtype(winner, meta)) continue;
        if (!PyType_IsSubtype(meta, winner)) {
            PyErr_SetString(PyExc_TypeError,
                            "metaclass conflict: the metaclass of a derived class must be a (non-strict) "
                            "subclass of the metaclasses of all its bases");
            throw py::error_already_set();
        }
        winner = meta;
    }
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(winner));
}

py::object prepared_namespace(py::handle meta, const char *name, py::tuple bases) {
    if (!py::hasattr(meta, "__prepare__")) return py::dict();
    return meta.attr("__prepare__")(name, bases);
}

py::object member_object(PyObject *module, const Member &member, const std::string &prefix, py::handle cell) {
    py::object function = make_function(module, *member.spec, prefix, cell, member.defaults);
    if (member.kind == Member::Kind::method) return function;
    return py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject *>(&PyProperty_Type))(function);
}

}  // namespace

py::object make_class(PyObject *module, const char *name, py::tuple bases, std::initializer_list<Member> members) {
    py::object meta = most_derived_metaclass(bases);
    py::object ns = prepared_namespace(meta, name, bases);
    py::object module_name = steal_or_throw(PyModule_GetNameObject(module));
    ns[py::str("__module__")] = module_name;
    ns[py::str("__qualname__")] = py::str(name);
    py::object cell = steal_or_throw(PyCell_New(nullptr));
    std::string prefix = std::string(name) + ".";
    for (const Member &member : members) {
        ns[py::str(member.spec->name)] = member_object(module, member, prefix, cell);
    }
    ns[py::str("__classcell__")] = cell;
    py::object cls = meta(name, bases, ns);
    if (PyCell_GET(cell.ptr()) != cls.ptr()) {
        PyErr_Format(PyExc_RuntimeError,
                     "__class__ not set defining '%s' as %R. Was __classcell__ propagated to type.__new__?", name,
                     cls.ptr());
        throw py::error_already_set();
    }
    return cls;
}

}  // namespace native
