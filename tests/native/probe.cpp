// Test-only extension module: the native layer on its own, without Qt
// classes at load. Each function exercises one promise of the layer.
#include "native/native.hpp"

namespace {

using native::Call;
using native::Exact;
using native::FunctionSpec;
namespace py = pybind11;

py::object add(const Call &c) { return c.arg(0) + c.arg(1); }
const FunctionSpec add_spec{"add", add, {{"a"}, {"b"}}};

py::object typed(const Call &c) { return py::make_tuple(c.arg(0), c.arg(1), c.arg(2)); }
const FunctionSpec typed_spec{"typed",
                              typed,
                              {{"text", "str", Exact::str}, {"items", "list[str]", Exact::list}, {"count", "int", Exact::int_}},
                              "tuple[str, list, int]"};

py::object with_defaults(const Call &c) { return py::make_tuple(c.arg(0), c.arg(1), c.arg(2)); }
const FunctionSpec with_defaults_spec{"with_defaults", with_defaults, {{"a"}, {"b"}, {"c"}}};

// Raises from Python code called by the body: the error gets an entry for
// this function in its traceback.
py::object fail(const Call &c) { return c.global("int")(c.arg(0)); }
const FunctionSpec fail_spec{"fail", fail, {{"text"}}};

py::object read_global(const Call &c) { return c.global("probe_value"); }
const FunctionSpec read_global_spec{"read_global", read_global, {}};

py::object base_greet(const Call &) { return py::str("base"); }
const FunctionSpec base_greet_spec{"greet", base_greet, {{"self"}}};

py::object base_kind(const Call &c) { return py::str("kind of ") + py::type::of(c.self()).attr("__name__"); }
const FunctionSpec base_kind_spec{"kind", base_kind, {{"self"}}, "str"};

py::object child_greet(const Call &c) { return py::str("child+") + c.super().attr("greet")(); }
const FunctionSpec child_greet_spec{"greet", child_greet, {{"self"}}};

py::object recorder_init(const Call &c) {
    c.super().attr("__init__")();
    c.self().attr("keys") = py::list();
    return py::none();
}
const FunctionSpec recorder_init_spec{"__init__", recorder_init, {{"self"}}};

py::object recorder_key_press(const Call &c) {
    c.self().attr("keys").attr("append")(c.arg(1).attr("text")());
    c.super().attr("keyPressEvent")(c.arg(1));
    return py::none();
}
const FunctionSpec recorder_key_press_spec{"keyPressEvent", recorder_key_press, {{"self"}, {"ev"}}};

py::object recorder_on_change(const Call &c) {
    c.self().attr("keys").attr("append")("changed");
    return py::none();
}
const FunctionSpec recorder_on_change_spec{"on_change", recorder_on_change, {{"self"}}};

// Builds, at call time, a subclass of the given widget class whose
// keyPressEvent override Qt must reach from C++.
py::object make_recorder(const Call &c) {
    return native::make_class(c.module(), "KeyRecorder", py::make_tuple(c.arg(0)),
                              {native::method(recorder_init_spec), native::method(recorder_key_press_spec),
                               native::method(recorder_on_change_spec)});
}
const FunctionSpec make_recorder_spec{"make_recorder", make_recorder, {{"base"}}};

void probe_body(native::Module &m) {
    m.import("itertools");
    m.from_import("os", 0, {"path"});
    m.def(add_spec);
    m.def(typed_spec);
    m.set("with_defaults",
          native::make_function(m.ptr(), with_defaults_spec, "", py::handle(), py::make_tuple(2, py::none())));
    m.def(fail_spec);
    m.def(read_global_spec);
    m.def(make_recorder_spec);
    py::object base =
        m.def_class("Base", py::tuple(), {native::method(base_greet_spec), native::property(base_kind_spec)});
    m.def_class("Child", py::make_tuple(base), {native::method(child_greet_spec)});
}

}  // namespace

NATIVE_MODULE(_native_probe, probe_body)
