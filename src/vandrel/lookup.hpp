// Attribute reads and method calls for the dispatch loop, with the meaning
// of `obj.name` and `obj.name(...)` in Python, made cheap by remembering what
// a name resolved to for as long as nothing it came from has changed.
//
// flush reads `self.queue` twice per item, looks up `self.handle`, and reads
// a holder and calls one of its operations per command; done through the
// generic C API, those lookups cost more than the interpreter's own
// specialised attribute access. A Lookup lives on the stack of one flush (or
// of one direct call of handle) and answers again from memory while:
//  - the object's type has the same version tag: the runtime resets a type's
//    tag whenever the type or one of its bases changes (attribute access
//    hooks included) and never hands out a tag twice, so an equal tag means
//    the same, unchanged type, and the object found along its MRO is still
//    held there;
//  - the object's instance dict is the same dict with the same PEP 509
//    version: the version changes at every mutation and is unique across
//    dicts, so an equal version means the same, unchanged contents.
// Whenever one of them differs the lookup is made again; when the type
// customises attribute access, it is made the ordinary way every time.
#pragma once

#include "native/capi.hpp"

#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstring>

namespace vandrel {

namespace py = pybind11;
using native::steal_or_throw;

// PEP 509 dict versions: deprecated from 3.12 on in favour of dict watchers,
// but kept up to date at every mutation, and instance dicts stay dicts once
// made, on the runtimes this module is built for (3.11, 3.12). Later
// runtimes look instance attributes up again at every use.
#if PY_VERSION_HEX < 0x030D0000
constexpr bool dict_versions_kept = true;
inline std::uint64_t dict_version(PyObject *dict) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    return reinterpret_cast<PyDictObject *>(dict)->ma_version_tag;
#pragma GCC diagnostic pop
}
#else
constexpr bool dict_versions_kept = false;
inline std::uint64_t dict_version(PyObject *) { return 0; }
#endif

// What a type's MRO holds under one name (borrowed: the type keeps it).
class TypeAnswer {
public:
    // False when the type takes part in attribute access itself
    // (__getattribute__, __getattr__) or has no valid version tag: then only
    // the ordinary lookup can tell.
    bool resolve(PyTypeObject *type, PyObject *name) {
        if (type == type_ && version_ != 0 && type->tp_version_tag == version_ &&
            PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG)) {
            return true;
        }
        return look_up(type, name);
    }
    PyObject *found() const { return found_; }

private:
    bool look_up(PyTypeObject *type, PyObject *name);

    PyTypeObject *type_ = nullptr;
    unsigned int version_ = 0;
    PyObject *found_ = nullptr;
};

// Whose attributes a Lookup reads. Instances of classes written in Python
// keep their attributes inline until something asks for their __dict__; a
// made dict stays, and then the interpreter's own attribute access to that
// object is slower. A Lookup makes the dict of the Vandrel instance only;
// another object whose dict is not at hand is looked up the ordinary way.
enum class Owner { vandrel, other };

// What an instance dict holds under one name (borrowed: the dict keeps it).
// It holds the object it last answered for, so that the object's dict slot,
// found once, stays the slot of that object.
class DictAnswer {
public:
    explicit DictAnswer(Owner owner) : may_make_dict_(owner == Owner::vandrel) {}

    // False when the instance dict cannot be reached (then only the ordinary
    // lookup can tell); throws when looking the name up in it failed.
    bool resolve(PyObject *obj, PyObject *name) { return unchanged(obj) || look_up(obj, name); }
    // The same, when unchanged(obj) was just asked.
    bool resolve(PyObject *obj, PyObject *name, bool known) { return known || look_up(obj, name); }

    // True when the last answer still holds for `obj` without looking: no
    // code runs then.
    bool unchanged(PyObject *obj) const {
        if (obj != owner_.ptr() || Py_TYPE(obj) != owner_type_ || !reachable_) return false;
        if (slot_ == nullptr) return true;  // the type has no instance dict
        PyObject *dict = *slot_;
        return dict_versions_kept && dict == dict_ && dict != nullptr && dict_version(dict) == version_;
    }
    PyObject *value() const { return value_; }

private:
    bool look_up(PyObject *obj, PyObject *name);

    bool may_make_dict_;
    py::object owner_;
    PyTypeObject *owner_type_ = nullptr;
    bool reachable_ = false;
    PyObject **slot_ = nullptr;
    PyObject *dict_ = nullptr;
    std::uint64_t version_ = 0;
    PyObject *value_ = nullptr;
};

// One place in the code that reads obj.<name> or calls obj.<name>(...),
// always with the same name.
class Lookup {
public:
    explicit Lookup(Owner owner = Owner::other) : dict_(owner) {}

    // obj.<name>
    py::object read(py::handle obj, PyObject *name);
    // obj.<name>(args[1:]), with args[0] == obj; args[-1] must exist and
    // may be used by the callee (PY_VECTORCALL_ARGUMENTS_OFFSET).
    py::object call(PyObject *name, PyObject *const *args, std::size_t nargs);
    // The function that obj.<name>(...) would run, found in obj's class with
    // no instance attribute in its way; else a null object (the ordinary call
    // then finds whatever takes its place).
    py::object class_method(py::handle obj, PyObject *name);

private:
    TypeAnswer type_;
    DictAnswer dict_;
};

namespace detail {

// Takes precedence over an instance attribute of the same name.
inline bool is_data_descriptor(PyObject *descr) { return Py_TYPE(descr)->tp_descr_set != nullptr; }

// A function that a method call passes the instance to, unbound.
inline bool is_method_descriptor(PyObject *descr) {
    return PyType_HasFeature(Py_TYPE(descr), Py_TPFLAGS_METHOD_DESCRIPTOR);
}

// Reading it through an instance calls its __get__.
inline bool binds(PyObject *descr) { return Py_TYPE(descr)->tp_descr_get != nullptr; }

// PyVectorcall_Function, which 3.12 no longer inlines.
inline vectorcallfunc vectorcall_of(PyObject *callable) {
    PyTypeObject *type = Py_TYPE(callable);
    if (!PyType_HasFeature(type, Py_TPFLAGS_HAVE_VECTORCALL)) return nullptr;
    vectorcallfunc function;
    std::memcpy(&function, reinterpret_cast<char *>(callable) + type->tp_vectorcall_offset, sizeof(function));
    return function;
}

// Calls `callable`, holding it for the duration: the call may drop the last
// other reference to it (a method that deletes itself from its class).
inline py::object call_held(PyObject *callable, PyObject *const *args, std::size_t nargsf) {
    py::object held = py::reinterpret_borrow<py::object>(callable);
    vectorcallfunc vectorcall = vectorcall_of(callable);
    if (vectorcall == nullptr) return steal_or_throw(PyObject_Vectorcall(callable, args, nargsf, nullptr));
    PyObject *result = vectorcall(callable, args, nargsf, nullptr);
    if (result == nullptr && !PyErr_Occurred()) {
        PyErr_Format(PyExc_SystemError, "%R returned NULL without setting an exception", callable);
    }
    return steal_or_throw(result);
}

inline py::object hold_unless(bool safe, PyObject *object) {
    return safe ? py::object() : py::reinterpret_borrow<py::object>(object);
}

// The class attribute `descr` (bound through its __get__ when it binds) for
// an access whose instance-dict lookup missed; with none, the interpreter's
// AttributeError for a missing attribute.
inline py::object class_attribute(py::handle obj, PyObject *descr, PyObject *name) {
    if (descr == nullptr) {
        PyErr_Format(PyExc_AttributeError, "'%.100s' object has no attribute '%U'", Py_TYPE(obj.ptr())->tp_name,
                     name);
        PyObject *type, *value, *traceback;
        PyErr_Fetch(&type, &value, &traceback);
        PyErr_NormalizeException(&type, &value, &traceback);
        if (value != nullptr && (PyObject_SetAttrString(value, "name", name) < 0 ||
                                 PyObject_SetAttrString(value, "obj", obj.ptr()) < 0)) {
            PyErr_Clear();  // the context is a courtesy; the error stands without it
        }
        PyErr_Restore(type, value, traceback);
        throw py::error_already_set();
    }
    descrgetfunc get = Py_TYPE(descr)->tp_descr_get;
    py::object held = py::reinterpret_borrow<py::object>(descr);  // its __get__ may drop it from the class
    if (get == nullptr) return held;
    return steal_or_throw(get(descr, obj.ptr(), reinterpret_cast<PyObject *>(Py_TYPE(obj.ptr()))));
}

}  // namespace detail

// The interpreter's generic attribute read, in the order it consults the
// type and the instance: a data descriptor of the type, else the instance
// dict, else a plain class attribute; anything else the ordinary way.
inline py::object Lookup::read(py::handle obj, PyObject *name) {
    using namespace detail;
    if (type_.resolve(Py_TYPE(obj.ptr()), name)) {
        PyObject *descr = type_.found();
        // Held, as the interpreter holds it, when looking in the instance dict
        // may run code (a key's __eq__) that takes it out of the class.
        bool known = dict_.unchanged(obj.ptr());
        py::object held = hold_unless(known, descr);
        if ((descr == nullptr || !is_data_descriptor(descr)) && dict_.resolve(obj.ptr(), name, known)) {
            // One look into the dict per access, as the interpreter makes:
            // what it found, or missed, is the answer.
            if (dict_.value() != nullptr) return py::reinterpret_borrow<py::object>(dict_.value());
            return class_attribute(obj, descr, name);
        }
    }
    return steal_or_throw(PyObject_GetAttr(obj.ptr(), name));
}

// The interpreter's method call: an instance attribute is called without
// obj, a function of the class with obj first, a plain class attribute
// without obj; anything else the ordinary way.
inline py::object Lookup::call(PyObject *name, PyObject *const *args, std::size_t nargs) {
    using namespace detail;
    PyObject *obj = args[0];
    if (type_.resolve(Py_TYPE(obj), name)) {
        PyObject *descr = type_.found();
        bool known = dict_.unchanged(obj);
        py::object held = hold_unless(known, descr);  // as in read
        if ((descr == nullptr || !is_data_descriptor(descr)) && dict_.resolve(obj, name, known)) {
            if (dict_.value() != nullptr) {
                return call_held(dict_.value(), args + 1, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET);
            }
            if (descr != nullptr && is_method_descriptor(descr)) {
                return call_held(descr, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET);
            }
            if (descr != nullptr && !binds(descr)) {
                return call_held(descr, args + 1, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET);
            }
            py::object callable = class_attribute(py::handle(obj), descr, name);
            return call_held(callable.ptr(), args + 1, (nargs - 1) | PY_VECTORCALL_ARGUMENTS_OFFSET);
        }
    }
    return steal_or_throw(PyObject_VectorcallMethod(name, args, nargs | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

inline py::object Lookup::class_method(py::handle obj, PyObject *name) {
    using namespace detail;
    if (!type_.resolve(Py_TYPE(obj.ptr()), name)) return py::object();
    py::object held = py::reinterpret_borrow<py::object>(type_.found());  // as in read
    if (!held || !is_method_descriptor(held.ptr()) || !dict_.resolve(obj.ptr(), name)) return py::object();
    return dict_.value() == nullptr ? held : py::object();
}

}  // namespace vandrel
