// Module vandrel: the command dispatcher between the producer's queue and the
// host's data sets and toolbar. Its top level, in load order: the form-check
// setting, the imports, the class Vandrel.
#include "vandrel/vandrel.hpp"

#include <iterator>

namespace vandrel {

void warn(const native::Call &c, py::handle message) {
    const native::ModuleState &state = c.state();
    py::object warnings = c.global(py::handle(name(state, name_warnings)));
    call_method(name(state, name_warn), warnings, message);
}

namespace {

// The texts of the interned strings, in the order of Name.
const char *const name_texts[] = {
    "queue",  "toolbar",          "point_dataset", "trace_dataset", "handle",
    "empty",  "get",              "set_column_names", "append",     "roll",
    "refresh_comb", "set_point_text", "set_trace_text",
    "warnings", "warn",
    "PN", "TN", "PD", "TD", "ROLL", "PXY", "TXY",
};
static_assert(std::size(name_texts) == name_count, "one text for each Name");

// Plain attribute assignment, as `self.<name> = value` does it.
void set_attribute(py::handle obj, PyObject *attribute_name, py::handle value) {
    if (PyObject_SetAttr(obj.ptr(), attribute_name, value.ptr()) < 0) throw py::error_already_set();
}

py::object init(const native::Call &c) {
    const native::ModuleState &state = c.state();
    py::handle self = c.self();
    set_attribute(self, name(state, name_toolbar), c.arg(2));
    set_attribute(self, name(state, name_queue), c.arg(1));
    set_attribute(self, name(state, name_point_dataset), c.arg(3));
    set_attribute(self, name(state, name_trace_dataset), c.arg(4));
    return py::none();
}
const native::FunctionSpec init_spec{
    "__init__", init, {{"self"}, {"queue"}, {"toolbar"}, {"point_dataset"}, {"trace_dataset"}}};

py::tuple interned_names() {
    py::tuple names(static_cast<std::size_t>(name_count));
    for (int i = 0; i < name_count; ++i) {
        names[i] = steal_or_throw(PyUnicode_InternFromString(name_texts[i]));
    }
    return names;
}

// The form checks of queue items are assertions: they exist only when the
// runtime was not optimised (-O) at the time the module was loaded.
py::object debug_flag() {
    PyObject *value = PyDict_GetItemWithError(PyEval_GetBuiltins(), py::str("__debug__").ptr());
    if (value == nullptr) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_NameError, "name '__debug__' is not defined");
        throw py::error_already_set();
    }
    return py::bool_(native::is_true(value));
}

// The constructor's annotations are the imported objects themselves, as
// `queue: Queue` in a class body would store them.
void annotate_init(native::Module &m, py::handle cls) {
    py::object annotations = cls.attr("__init__").attr("__annotations__");
    annotations["queue"] = m.global("Queue");
    annotations["toolbar"] = m.global("ToolBar");
    annotations["point_dataset"] = m.global("Dataset");
    annotations["trace_dataset"] = m.global("Dataset");
}

void vandrel_body(native::Module &m) {
    native::set_state_ref(m.state(), StateSlot::checks_on, debug_flag());
    native::set_state_ref(m.state(), StateSlot::names, interned_names());

    m.import("warnings");
    m.from_import("multiprocessing", 0, {"Queue"});
    m.from_import("dataset", 1, {"Dataset"});
    m.from_import("toolbar", 1, {"ToolBar"});
    py::object cls = m.def_class(
        "Vandrel", py::tuple(),
        {native::method(init_spec), native::method(flush_spec), native::method(handle_spec)});
    annotate_init(m, cls);
}

}  // namespace
}  // namespace vandrel

NATIVE_MODULE(vandrel, vandrel::vandrel_body)
