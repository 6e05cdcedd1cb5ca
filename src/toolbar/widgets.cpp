// The format selectors and the pattern field.
//
// Each widget keeps one change handler in `on_change_callable`. A user change
// reaches it through the Qt signal it is connected to; a program change
// (set_idx, set_text) calls it directly, because setCurrentIndex and setText
// emit neither `activated` nor `editingFinished`.
#include "toolbar/widgets.hpp"

#include <initializer_list>

namespace toolbar {

namespace {

namespace py = pybind11;
using native::Call;
using native::Exact;
using native::FunctionSpec;

constexpr const char *change_handler = "Callable[[], None]";

// Runs the stored handler when it is callable (None is not); its result is
// ignored.
void notify(py::handle handler) {
    if (PyCallable_Check(handler.ptr())) handler();
}

// The attribute when the object has it, None when it has not; any other
// error of the lookup propagates.
py::object attribute_or_none(py::handle object, const char *name) {
    py::object value = native::attribute_if_present(object, name);
    return value ? value : py::none();
}

// The handler is stored before the connection is made: a callback that the
// signal refuses stays stored and the signal's error propagates.
void install_handler(py::handle widget, const char *signal, py::handle callback) {
    widget.attr("on_change_callable") = callback;
    widget.attr(signal).attr("connect")(callback);
}

void add_items(py::handle combo, std::initializer_list<const char *> texts) {
    for (const char *text : texts) combo.attr("addItem")(text);
}

// --- FormatCombo ------------------------------------------------------------

py::object format_combo_init(const Call &c) {
    c.super().attr("__init__")();
    c.self().attr("on_change_callable") = py::none();
    return py::none();
}
const FunctionSpec format_combo_init_spec{"__init__", format_combo_init, {{"self"}}};

py::object format_combo_set_on_change_event_action(const Call &c) {
    install_handler(c.self(), "activated", c.arg(1));
    return py::none();
}
const FunctionSpec format_combo_set_on_change_event_action_spec{
    "set_on_change_event_action", format_combo_set_on_change_event_action, {{"self"}, {"callback", change_handler}}};

// The index goes to the toolkit unchanged: no range check of our own.
py::object format_combo_set_idx(const Call &c) {
    c.self().attr("setCurrentIndex")(c.arg(1));
    notify(c.self().attr("on_change_callable"));
    return py::none();
}
const FunctionSpec format_combo_set_idx_spec{
    "set_idx", format_combo_set_idx, {{"self"}, {"idx", "int", Exact::int_}}};

// --- XFormatCombo, YFormatCombo ---------------------------------------------
// The toolkit makes the first item added current: X shows "real", Y "mag".

py::object x_format_combo_init(const Call &c) {
    c.super().attr("__init__")();
    add_items(c.self(), {"real", "imag", "mag", "phase"});
    return py::none();
}
const FunctionSpec x_format_combo_init_spec{"__init__", x_format_combo_init, {{"self"}}};

py::object y_format_combo_init(const Call &c) {
    c.super().attr("__init__")();
    add_items(c.self(), {"mag", "phase", "real", "imag"});
    return py::none();
}
const FunctionSpec y_format_combo_init_spec{"__init__", y_format_combo_init, {{"self"}}};

// --- LineEdit -----------------------------------------------------------------
// No constructor of its own; `on_change_callable` exists only once a handler
// was installed.

py::object line_edit_set_on_change_event_action(const Call &c) {
    install_handler(c.self(), "editingFinished", c.arg(1));
    return py::none();
}
const FunctionSpec line_edit_set_on_change_event_action_spec{
    "set_on_change_event_action", line_edit_set_on_change_event_action, {{"self"}, {"callback", change_handler}}};

// A field that never got a handler is treated like one whose handler is None.
py::object line_edit_set_text(const Call &c) {
    c.self().attr("setText")(c.arg(1));
    notify(attribute_or_none(c.self(), "on_change_callable"));
    return py::none();
}
const FunctionSpec line_edit_set_text_spec{"set_text", line_edit_set_text, {{"self"}, {"w"}}};

}  // namespace

void def_format_combo(native::Module &m) {
    m.def_class("FormatCombo", py::make_tuple(m.global("QtWidgets").attr("QComboBox")),
                {native::method(format_combo_init_spec), native::method(format_combo_set_on_change_event_action_spec),
                 native::method(format_combo_set_idx_spec)});
}

void def_x_format_combo(native::Module &m) {
    m.def_class("XFormatCombo", py::make_tuple(m.global("FormatCombo")), {native::method(x_format_combo_init_spec)});
}

void def_y_format_combo(native::Module &m) {
    m.def_class("YFormatCombo", py::make_tuple(m.global("FormatCombo")), {native::method(y_format_combo_init_spec)});
}

void def_line_edit(native::Module &m) {
    m.def_class("LineEdit", py::make_tuple(m.global("QtWidgets").attr("QLineEdit")),
                {native::method(line_edit_set_on_change_event_action_spec), native::method(line_edit_set_text_spec)});
}

}  // namespace toolbar
