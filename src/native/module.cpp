// Module execution and module state.
#include "native/module.hpp"

#include "native/capi.hpp"
#include "native/classes.hpp"

namespace native {

Module::Module(PyObject *module)
    : module_(module), globals_(py::reinterpret_borrow<py::dict>(PyModule_GetDict(module))) {}

namespace {

py::object import_level(py::dict globals, const char *name, py::handle fromlist, int level) {
    return steal_or_throw(
        PyImport_ImportModuleLevelObject(py::str(name).ptr(), globals.ptr(), nullptr, fromlist.ptr(), level));
}

// One name of a from-import, as the interpreter's IMPORT_FROM finds it: an
// attribute of the module, else a submodule already imported, else ImportError.
py::object import_from(py::handle from, const char *name) {
    if (py::object value = attribute_if_present(from, name)) return value;
    py::object package = py::getattr(from, "__name__", py::none());
    if (!package.is_none()) {
        py::str full = py::str("{}.{}").format(package, name);
        PyObject *submodule = PyImport_GetModule(full.ptr());
        if (submodule != nullptr) return py::reinterpret_steal<py::object>(submodule);
        if (PyErr_Occurred()) throw py::error_already_set();
    }
    py::object path = py::getattr(from, "__file__", py::str("unknown location"));
    py::str message = py::str("cannot import name {!r} from {!r} ({})").format(name, package, path);
    PyErr_SetImportError(message.ptr(), package.ptr(), path.ptr());
    throw py::error_already_set();
}

}  // namespace

void Module::import(const char *name) { set(name, import_level(globals_, name, py::none(), 0)); }

void Module::import_as(const char *name, const char *alias) {
    import_level(globals_, name, py::none(), 0);
    // The leaf module, as "import a.b as c" binds it.
    set(alias, steal_or_throw(PyImport_GetModule(py::str(name).ptr())));
}

void Module::from_import(const char *name, int level, std::initializer_list<const char *> names) {
    py::tuple fromlist(names.size());
    std::size_t i = 0;
    for (const char *item : names) fromlist[i++] = py::str(item);
    py::object from = import_level(globals_, name, fromlist, level);
    for (const char *item : names) set(item, import_from(from, item));
}

void Module::def(const FunctionSpec &spec) { set(spec.name, make_function(module_, spec, "", py::handle(), py::tuple())); }

py::object Module::def_class(const char *name, py::tuple bases, std::initializer_list<Member> members) {
    py::object cls = make_class(module_, name, std::move(bases), members);
    set(name, cls);
    return cls;
}

void Module::set(const char *name, py::handle value) { globals_[py::str(name)] = value; }

py::object Module::global(const char *name) const {
    py::str key(name);
    if (py::object value = dict_item(globals_, key)) return value;
    if (py::object value = dict_item(PyEval_GetBuiltins(), key)) return value;
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
    throw py::error_already_set();
}

int exec_module(PyObject *module, ExecBody body) noexcept {
    CommonState &common = common_state(module);
    common.function_type = create_function_type(module);
    if (common.function_type == nullptr) return -1;
    try {
        Module m(module);
        body(m);
        return 0;
    } catch (...) {
        py::detail::translate_exception(std::current_exception());
    }
    return -1;
}

}  // namespace native
