// The function type: one object per function or method of our modules.
//
// The Qt bindings treat a bound method's function as a CPython function:
// PySide reads the raw func_code field of PyFunctionObject and then the code
// object's argument count and flags; shiboken counts an attribute as an
// override of a C++ virtual only if it is a real PyMethod. So the object's
// leading fields mirror PyFunctionObject, func_code is a real code object
// with the true argument count, and __get__ returns PyMethod_New(func, obj).
#include "native/function.hpp"

#include "native/capi.hpp"
#include "native/module.hpp"

#include <frameobject.h>
#include <structmember.h>

#include <pthread.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace native {

struct FunctionObject {
    PyObject_HEAD
    // These mirror COMMON_FIELDS(func_) of PyFunctionObject, in its order.
    PyObject *func_globals;     // dict of the defining module
    PyObject *func_builtins;    // dict of the builtins module
    PyObject *func_name;        // str
    PyObject *func_qualname;    // str
    PyObject *func_code;        // code object: argument count, names, flags
    PyObject *func_defaults;    // NULL or a tuple
    PyObject *func_kwdefaults;  // always NULL: no keyword-only parameters
    PyObject *func_closure;     // always NULL
    PyObject *func_doc;
    PyObject *func_dict;
    PyObject *func_weakreflist;
    PyObject *func_module;       // __module__: the defining module's name
    PyObject *func_annotations;  // dict of texts
    // Our own fields.
    vectorcallfunc vectorcall;
    PyObject *module;      // the defining module object (its state)
    PyObject *class_cell;  // NULL, or the cell the class statement fills
    const FunctionSpec *spec;
    Py_ssize_t nparams;
};

#define SAME_OFFSET(field) \
    static_assert(offsetof(FunctionObject, field) == offsetof(PyFunctionObject, field), #field)
SAME_OFFSET(func_globals);
SAME_OFFSET(func_builtins);
SAME_OFFSET(func_name);
SAME_OFFSET(func_qualname);
SAME_OFFSET(func_code);
SAME_OFFSET(func_defaults);
SAME_OFFSET(func_kwdefaults);
SAME_OFFSET(func_closure);
SAME_OFFSET(func_doc);
SAME_OFFSET(func_dict);
SAME_OFFSET(func_weakreflist);
SAME_OFFSET(func_module);
SAME_OFFSET(func_annotations);
#undef SAME_OFFSET

namespace {

FunctionObject *as_function(PyObject *op) { return reinterpret_cast<FunctionObject *>(op); }

// ---------------------------------------------------------------------------
// Argument binding, with CPython's own error texts. These errors are raised
// before any frame of the function exists, so they carry no traceback entry
// of it: PyQt relies on that to retry a slot with fewer arguments.

std::string quoted_names(const std::string *names, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            text += count == 2 ? " and " : (i + 1 == count ? ", and " : ", ");
        }
        text += "'" + names[i] + "'";
    }
    return text;
}

void raise_missing(FunctionObject *f, PyObject *const *bound, Py_ssize_t required) {
    std::string names[max_params];
    std::size_t count = 0;
    for (Py_ssize_t i = 0; i < required; ++i) {
        if (bound[i] == nullptr) names[count++] = f->spec->params[i].name;
    }
    PyErr_Format(PyExc_TypeError, "%U() missing %zu required positional argument%s: %s",
                 f->func_qualname, count, count == 1 ? "" : "s",
                 quoted_names(names, count).c_str());
}

void raise_too_many(FunctionObject *f, Py_ssize_t given, Py_ssize_t ndefaults) {
    Py_ssize_t n = f->nparams;
    std::string takes = ndefaults > 0 ? "from " + std::to_string(n - ndefaults) + " to " + std::to_string(n)
                                      : std::to_string(n);
    bool plural = ndefaults > 0 || n != 1;
    PyErr_Format(PyExc_TypeError, "%U() takes %s positional argument%s but %zd %s given", f->func_qualname,
                 takes.c_str(), plural ? "s" : "", given, given == 1 ? "was" : "were");
}

Py_ssize_t param_index(FunctionObject *f, PyObject *keyword) {
    for (Py_ssize_t i = 0; i < f->nparams; ++i) {
        if (PyUnicode_CompareWithASCIIString(keyword, f->spec->params[i].name) == 0) return i;
    }
    return -1;
}

bool bind_keywords(FunctionObject *f, PyObject *const *values, PyObject *kwnames, PyObject **bound) {
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
        PyObject *keyword = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, "%U() keywords must be strings", f->func_qualname);
            return false;
        }
        Py_ssize_t i = param_index(f, keyword);
        if (i < 0) {
            PyErr_Format(PyExc_TypeError, "%U() got an unexpected keyword argument '%S'", f->func_qualname,
                         keyword);
            return false;
        }
        if (bound[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%U() got multiple values for argument '%S'", f->func_qualname,
                         keyword);
            return false;
        }
        bound[i] = values[k];
    }
    return true;
}

// Fills `bound` (borrowed references) from a vectorcall, in the order CPython
// checks: keywords, then surplus positionals, then missing ones.
bool bind_arguments(FunctionObject *f, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                    PyObject **bound) {
    Py_ssize_t n = f->nparams;
    Py_ssize_t ndefaults = f->func_defaults ? PyTuple_GET_SIZE(f->func_defaults) : 0;
    for (Py_ssize_t i = 0; i < n; ++i) bound[i] = i < nargs ? args[i] : nullptr;
    if (kwnames != nullptr && !bind_keywords(f, args + nargs, kwnames, bound)) return false;
    if (nargs > n) {
        raise_too_many(f, nargs, ndefaults);
        return false;
    }
    Py_ssize_t required = n - ndefaults;
    for (Py_ssize_t i = 0; i < required; ++i) {
        if (bound[i] == nullptr) {
            raise_missing(f, bound, required);
            return false;
        }
    }
    for (Py_ssize_t i = required; i < n; ++i) {
        if (bound[i] == nullptr) bound[i] = PyTuple_GET_ITEM(f->func_defaults, i - required);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Running the body.

// One traceback entry for the function, as a Python frame would leave. Errors
// from inside the body need it: without one, PyQt would take a TypeError from
// deep inside a slot for an argument mismatch and call the slot again.
void add_traceback(FunctionObject *f) {
    if (f->func_globals == nullptr) return;  // cleared by the collector: no frame to show
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyFrameObject *frame = PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject *>(f->func_code),
                                       f->func_globals, nullptr);
    PyErr_Restore(type, value, traceback);
    if (frame == nullptr) return;  // keep the original error, without the entry
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

const char *exact_type_name(Exact exact) {
    switch (exact) {
        case Exact::str: return "str";
        case Exact::list: return "list";
        case Exact::int_: return "int";
        case Exact::any: break;
    }
    return "object";
}

bool has_exact_type(PyObject *value, Exact exact) {
    switch (exact) {
        case Exact::str: return PyUnicode_CheckExact(value);
        case Exact::list: return PyList_CheckExact(value);
        case Exact::int_: return PyLong_CheckExact(value);
        case Exact::any: break;
    }
    return true;
}

bool check_exact_types(FunctionObject *f, PyObject *const *args) {
    for (Py_ssize_t i = 0; i < f->nparams; ++i) {
        const Param &param = f->spec->params[i];
        if (has_exact_type(args[i], param.exact)) continue;
        PyErr_Format(PyExc_TypeError, "Argument '%s' has incorrect type (expected %s, got %s)", param.name,
                     exact_type_name(param.exact), Py_TYPE(args[i])->tp_name);
        return false;
    }
    return true;
}

PyObject *run_body_checked(FunctionObject *f, PyObject *const *args) noexcept {
    if (check_exact_types(f, args)) {
        try {
            py::object result = f->spec->body(Call(f, args));
            if (result) return result.release().ptr();
            PyErr_Format(PyExc_SystemError, "%U() returned no result", f->func_qualname);
        } catch (...) {
            py::detail::translate_exception(std::current_exception());
        }
    }
    add_traceback(f);
    return nullptr;
}

// Stack a body may still need below the point where it is entered: room for
// the calls it makes before it reaches Python (or our next body) again.
constexpr std::uintptr_t stack_reserve = 1 << 20;

// The lowest address this thread's stack may grow to; 1 when not known (no
// check is made then). Plain integers, kept per thread.
std::uintptr_t stack_floor() noexcept {
    thread_local std::uintptr_t floor = 0;
    if (floor == 0) {
        floor = 1;
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void *low = nullptr;
            std::size_t size = 0;
            if (pthread_attr_getstack(&attr, &low, &size) == 0 && low != nullptr) {
                floor = reinterpret_cast<std::uintptr_t>(low);
            }
            pthread_attr_destroy(&attr);
        }
    }
    return floor;
}

bool stack_nearly_used_up() noexcept {
    char here = 0;
    auto position = reinterpret_cast<std::uintptr_t>(&here);
    return position < stack_floor() + stack_reserve;
}

// Bodies call back into Python without a frame of their own: the recursion
// limit guards the C stack, as it does for built-in functions. Each level of
// a recursion through a body (body -> Python -> body) takes some kilobytes of
// C stack, far more than the interpreter reckons a level at: with a raised
// limit the stack would run out before the limit is reached, so the stack
// left is checked as well.
PyObject *run_body(FunctionObject *f, PyObject *const *args) noexcept {
    if (stack_nearly_used_up()) {
        PyErr_SetString(PyExc_RecursionError,
                        "maximum recursion depth exceeded while calling a Python object (the C stack is used up)");
        return nullptr;
    }
    if (Py_EnterRecursiveCall(" while calling a Python object")) return nullptr;
    PyObject *result = run_body_checked(f, args);
    Py_LeaveRecursiveCall();
    return result;
}

PyObject *function_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf,
                              PyObject *kwnames) noexcept {
    FunctionObject *f = as_function(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (kwnames == nullptr && nargs == f->nparams) return run_body(f, args);
    PyObject *bound[max_params];
    if (!bind_arguments(f, args, nargs, kwnames, bound)) return nullptr;
    return run_body(f, bound);
}

// ---------------------------------------------------------------------------
// Type slots, in the manner of funcobject.c.

int function_traverse(PyObject *self, visitproc visit, void *arg) {
    FunctionObject *f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->func_globals);
    Py_VISIT(f->func_builtins);
    Py_VISIT(f->func_name);
    Py_VISIT(f->func_qualname);
    Py_VISIT(f->func_code);
    Py_VISIT(f->func_defaults);
    Py_VISIT(f->func_doc);
    Py_VISIT(f->func_dict);
    Py_VISIT(f->func_module);
    Py_VISIT(f->func_annotations);
    Py_VISIT(f->module);
    Py_VISIT(f->class_cell);
    return 0;
}

int function_clear(PyObject *self) {
    FunctionObject *f = as_function(self);
    Py_CLEAR(f->func_globals);
    Py_CLEAR(f->func_builtins);
    Py_CLEAR(f->func_defaults);
    Py_CLEAR(f->func_doc);
    Py_CLEAR(f->func_dict);
    Py_CLEAR(f->func_module);
    Py_CLEAR(f->func_annotations);
    Py_CLEAR(f->module);
    Py_CLEAR(f->class_cell);
    // Name, qualname and code stay until dealloc: they are never NULL while
    // the object is reachable (repr and error texts rely on them).
    return 0;
}

void function_dealloc(PyObject *self) {
    FunctionObject *f = as_function(self);
    PyTypeObject *type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    if (f->func_weakreflist != nullptr) PyObject_ClearWeakRefs(self);
    function_clear(self);
    Py_CLEAR(f->func_name);
    Py_CLEAR(f->func_qualname);
    Py_CLEAR(f->func_code);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject *function_descr_get(PyObject *self, PyObject *obj, PyObject *) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject *function_repr(PyObject *self) {
    return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->func_qualname, self);
}

PyObject *get_or_none(PyObject *value) { return Py_NewRef(value != nullptr ? value : Py_None); }

PyObject *function_get_code(PyObject *self, void *) { return Py_NewRef(as_function(self)->func_code); }
PyObject *function_get_defaults(PyObject *self, void *) { return get_or_none(as_function(self)->func_defaults); }
PyObject *function_get_none(PyObject *, void *) { Py_RETURN_NONE; }
PyObject *function_get_name(PyObject *self, void *) { return Py_NewRef(as_function(self)->func_name); }
PyObject *function_get_qualname(PyObject *self, void *) { return Py_NewRef(as_function(self)->func_qualname); }

int set_text(PyObject *&field, PyObject *value, const char *what) {
    if (value == nullptr || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_SETREF(field, Py_NewRef(value));
    return 0;
}

int function_set_name(PyObject *self, PyObject *value, void *) {
    return set_text(as_function(self)->func_name, value, "__name__");
}
int function_set_qualname(PyObject *self, PyObject *value, void *) {
    return set_text(as_function(self)->func_qualname, value, "__qualname__");
}

PyObject *function_get_annotations(PyObject *self, void *) {
    FunctionObject *f = as_function(self);
    if (f->func_annotations == nullptr) {
        f->func_annotations = PyDict_New();
        if (f->func_annotations == nullptr) return nullptr;
    }
    return Py_NewRef(f->func_annotations);
}

int function_set_annotations(PyObject *self, PyObject *value, void *) {
    if (value == Py_None) value = nullptr;
    if (value != nullptr && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(as_function(self)->func_annotations, Py_XNewRef(value));
    return 0;
}

PyGetSetDef function_getset[] = {
    {"__code__", function_get_code, nullptr, nullptr, nullptr},
    {"__defaults__", function_get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", function_get_none, nullptr, nullptr, nullptr},
    {"__closure__", function_get_none, nullptr, nullptr, nullptr},
    {"__annotations__", function_get_annotations, function_set_annotations, nullptr, nullptr},
    {"__name__", function_get_name, function_set_name, nullptr, nullptr},
    {"__qualname__", function_get_qualname, function_set_qualname, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__globals__", T_OBJECT, offsetof(FunctionObject, func_globals), READONLY, nullptr},
    {"__builtins__", T_OBJECT, offsetof(FunctionObject, func_builtins), READONLY, nullptr},
    {"__doc__", T_OBJECT, offsetof(FunctionObject, func_doc), 0, nullptr},
    {"__module__", T_OBJECT, offsetof(FunctionObject, func_module), 0, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(FunctionObject, func_dict), READONLY, nullptr},
    {"__weaklistoffset__", T_PYSSIZET, offsetof(FunctionObject, func_weakreflist), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FunctionObject, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void *>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void *>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void *>(function_clear)},
    {Py_tp_descr_get, reinterpret_cast<void *>(function_descr_get)},
    {Py_tp_repr, reinterpret_cast<void *>(function_repr)},
    {Py_tp_call, reinterpret_cast<void *>(PyVectorcall_Call)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "tarvinel.stelvane.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    function_slots,
};

// ---------------------------------------------------------------------------
// Construction.

Py_ssize_t count_params(const FunctionSpec &spec) {
    Py_ssize_t n = 0;
    while (n < static_cast<Py_ssize_t>(max_params) && spec.params[n].name != nullptr) ++n;
    return n;
}

// Our sources are compiled from absolute paths; tracebacks show them from
// the project's src/ folder on.
const char *source_name(const char *file) {
    const char *src = std::strstr(file, "src/");
    return src != nullptr ? src : file;
}

// A real code object: PySide and inspect read the argument count, the
// parameter names and the flags from it.
py::object make_code(const FunctionSpec &spec, Py_ssize_t nparams, py::str qualname) {
    py::object empty =
        steal_or_throw(reinterpret_cast<PyObject *>(PyCode_NewEmpty(source_name(spec.file), spec.name, spec.line)));
    py::tuple varnames(nparams);
    for (Py_ssize_t i = 0; i < nparams; ++i) varnames[i] = py::str(spec.params[i].name);
    return empty.attr("replace")(py::arg("co_argcount") = nparams, py::arg("co_nlocals") = nparams,
                                 py::arg("co_varnames") = varnames,
                                 py::arg("co_flags") = CO_OPTIMIZED | CO_NEWLOCALS,
                                 py::arg("co_qualname") = qualname);
}

py::dict make_annotations(const FunctionSpec &spec, Py_ssize_t nparams) {
    py::dict annotations;
    for (Py_ssize_t i = 0; i < nparams; ++i) {
        if (spec.params[i].annotation != nullptr) annotations[spec.params[i].name] = spec.params[i].annotation;
    }
    if (spec.returns != nullptr) annotations["return"] = spec.returns;
    return annotations;
}

}  // namespace

// ---------------------------------------------------------------------------
// Public interface.

PyObject *create_function_type(PyObject *module) noexcept {
    return PyType_FromModuleAndSpec(module, &function_spec, nullptr);
}

py::object make_function(PyObject *module, const FunctionSpec &spec, const std::string &qualname_prefix,
                         py::handle class_cell, py::tuple defaults) {
    Py_ssize_t nparams = count_params(spec);
    py::str qualname(qualname_prefix + spec.name);
    py::object code = make_code(spec, nparams, qualname);
    py::dict annotations = make_annotations(spec, nparams);
    py::object module_name = dict_item(PyModule_GetDict(module), py::str("__name__"));
    auto *type = reinterpret_cast<PyTypeObject *>(common_state(module).function_type);
    py::object object = steal_or_throw(type->tp_alloc(type, 0));
    // tp_alloc zero-fills: every field not set below stays NULL.
    FunctionObject *f = as_function(object.ptr());
    f->func_globals = Py_NewRef(PyModule_GetDict(module));
    f->func_builtins = Py_NewRef(PyEval_GetBuiltins());
    f->func_name = py::str(spec.name).release().ptr();
    f->func_qualname = qualname.release().ptr();
    f->func_code = code.release().ptr();
    f->func_defaults = PyTuple_GET_SIZE(defaults.ptr()) > 0 ? defaults.release().ptr() : nullptr;
    f->func_doc = Py_NewRef(Py_None);
    f->func_module = module_name.release().ptr();
    f->func_annotations = annotations.release().ptr();
    f->vectorcall = function_vectorcall;
    f->module = Py_NewRef(module);
    f->class_cell = Py_XNewRef(class_cell.ptr());
    f->spec = &spec;
    f->nparams = nparams;
    return object;
}

void add_traceback_entry(PyObject *function) noexcept {
    if (Py_TYPE(function)->tp_dealloc == function_dealloc) add_traceback(as_function(function));
}

bool is_function_of(PyObject *callable, const FunctionSpec &spec) noexcept {
    return Py_TYPE(callable)->tp_dealloc == function_dealloc && as_function(callable)->spec == &spec;
}

// ---------------------------------------------------------------------------
// Call.

py::object Call::super() const {
    PyObject *cls = function_->class_cell != nullptr ? PyCell_GET(function_->class_cell) : nullptr;
    if (cls == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "super(): empty __class__ cell");
        throw py::error_already_set();
    }
    return steal_or_throw(
        PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PySuper_Type), cls, args_[0], nullptr));
}

py::object Call::global(py::handle name) const {
    if (py::object value = dict_item(function_->func_globals, name)) return value;
    if (py::object value = dict_item(function_->func_builtins, name)) return value;
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name.ptr());
    throw py::error_already_set();
}

py::object Call::global(const char *name) const { return global(py::str(name)); }

PyObject *Call::module() const { return function_->module; }

}  // namespace native
