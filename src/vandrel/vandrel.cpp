// Module vandrel: the command dispatcher between the producer's queue and the
// host's data sets and toolbar. Its top level, in load order: the form-check
// setting, the imports, the class Vandrel.
#include "vandrel/vandrel.hpp"

namespace vandrel {

void warn(const native::Call &c, py::handle message) {
    const Names &names = state_of(c).names;
    py::object warnings = c.global(py::handle(names.warnings));
    call_method(names.warn, warnings, message);
}

namespace {

// Plain attribute assignment, as `self.<name> = value` does it.
void set_attribute(py::handle obj, PyObject *attribute_name, py::handle value) {
    if (PyObject_SetAttr(obj.ptr(), attribute_name, value.ptr()) < 0) throw py::error_already_set();
}

py::object init(const native::Call &c) {
    const Names &names = state_of(c).names;
    py::handle self = c.self();
    set_attribute(self, names.toolbar, c.arg(2));
    set_attribute(self, names.queue, c.arg(1));
    set_attribute(self, names.point_dataset, c.arg(3));
    set_attribute(self, names.trace_dataset, c.arg(4));
    return py::none();
}
const native::FunctionSpec init_spec{
    "__init__", init, {{"self"}, {"queue"}, {"toolbar"}, {"point_dataset"}, {"trace_dataset"}}};

// The strings flush and handle look up, made once; a failed load leaves
// the rest nullptr.
void intern_names(State &state) {
    for (const NameText &name : name_texts) {
        state.names.*name.field = steal_or_throw(PyUnicode_InternFromString(name.text)).release().ptr();
    }
    for (int i = 0; i < word_count; ++i) {
        state.words[i] = steal_or_throw(PyUnicode_InternFromString(word_texts[i])).release().ptr();
    }
}

// The form checks of queue items are assertions: they exist only when the
// runtime was not optimised (-O) at the time the module was loaded.
bool debug_flag() {
    py::object value = native::dict_item(PyEval_GetBuiltins(), py::str("__debug__"));
    if (!value) {
        PyErr_SetString(PyExc_NameError, "name '__debug__' is not defined");
        throw py::error_already_set();
    }
    return native::is_true(value);
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
    State &state = native::module_state<State>(m.ptr());
    state.checks_on = debug_flag();
    intern_names(state);

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

NATIVE_MODULE_WITH_STATE(vandrel, vandrel::State, vandrel::vandrel_body)
