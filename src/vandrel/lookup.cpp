// Remembered lookups: see lookup.hpp for what makes a remembered answer
// still true.
#include "vandrel/lookup.hpp"

namespace vandrel {

namespace {

bool has_valid_version(PyTypeObject *type) { return PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG); }

bool has_instance_dict(PyTypeObject *type) {
    return PyType_HasFeature(type, Py_TPFLAGS_MANAGED_DICT) || type->tp_dictoffset != 0;
}

}  // namespace

bool TypeAnswer::look_up(PyTypeObject *type, PyObject *name) {
    type_ = type;
    version_ = 0;
    if (type->tp_getattro != PyObject_GenericGetAttr) return false;
    // _PyType_Lookup runs no Python code and gives the type a version tag
    // when it can; the tag read afterwards covers the answer.
    found_ = _PyType_Lookup(type, name);
    if (has_valid_version(type)) version_ = type->tp_version_tag;
    return version_ != 0;
}

bool DictAnswer::look_up(PyObject *obj, PyObject *name) {
    owner_ = py::reinterpret_borrow<py::object>(obj);
    owner_type_ = Py_TYPE(obj);
    reachable_ = false;
    slot_ = nullptr;
    dict_ = nullptr;
    value_ = nullptr;
    if (!has_instance_dict(owner_type_)) {
        reachable_ = true;
        return true;
    }
    if (PyType_HasFeature(owner_type_, Py_TPFLAGS_MANAGED_DICT) && !may_make_dict_) return false;
    // For a managed dict this makes the dict of attributes kept inline: only
    // a dict has a version, and once made it stays.
    PyObject **slot = _PyObject_GetDictPtr(obj);
    if (slot == nullptr) {
        owner_ = py::object();  // not reachable now; try again next time
        return false;
    }
    PyObject *dict = *slot;
    if (dict != nullptr && !PyDict_Check(dict)) return false;
    reachable_ = true;
    slot_ = slot;
    if (dict == nullptr) return true;
    // The version is taken before the lookup: if the lookup itself changes
    // the dict (a key's __eq__), the next use looks again.
    py::object held = py::reinterpret_borrow<py::object>(dict);
    std::uint64_t version = dict_version(dict);
    PyObject *value = PyDict_GetItemWithError(dict, name);
    if (value == nullptr && PyErr_Occurred()) {
        owner_ = py::object();
        throw py::error_already_set();
    }
    dict_ = dict;
    version_ = version;
    value_ = value;
    return true;
}

}  // namespace vandrel
