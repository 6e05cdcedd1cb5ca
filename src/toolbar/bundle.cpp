// The selection bundle: pattern field, format selectors, log and share boxes.
//
// A plain object, not a widget. It owns its seven widgets; the toolbar's grid
// holds them only while the bundle is shown, so a detached bundle keeps its
// text, items, check states and connections.
#include "toolbar/bundle.hpp"

namespace toolbar {

namespace {

namespace py = pybind11;
using native::Call;
using native::FunctionSpec;

// The seven widgets, in the order in which they are created, detached and
// placed.
constexpr const char *widget_names[] = {"stx", "fx", "fy", "lx", "ly", "linkx", "linky"};

py::object check_box(const Call &c, const char *caption) {
    return c.global("QtWidgets").attr("QCheckBox")(caption);
}

py::object bundle_init(const Call &c) {
    py::handle self = c.self();
    self.attr("stx") = c.global("LineEdit")();
    self.attr("fx") = c.global("XFormatCombo")();
    self.attr("fy") = c.global("YFormatCombo")();
    self.attr("lx") = check_box(c, "logX");
    self.attr("ly") = check_box(c, "logY");
    self.attr("linkx") = check_box(c, "ShareX");
    self.attr("linky") = check_box(c, "ShareY");
    self.attr("sels") = py::list();
    return py::none();
}
const FunctionSpec bundle_init_spec{"__init__", bundle_init, {{"self"}}};

// The log boxes report through the format handler; the share boxes have the
// third handler to themselves.
py::object bundle_set_on_change_event_actions(const Call &c) {
    py::handle self = c.self();
    py::handle on_text_edited = c.arg(1);
    py::handle on_format_changed = c.arg(2);
    py::handle on_log_scale_marker_changed = c.arg(3);
    self.attr("stx").attr("set_on_change_event_action")(on_text_edited);
    self.attr("fx").attr("set_on_change_event_action")(on_format_changed);
    self.attr("fy").attr("set_on_change_event_action")(on_format_changed);
    self.attr("lx").attr("toggled").attr("connect")(on_format_changed);
    self.attr("ly").attr("toggled").attr("connect")(on_format_changed);
    self.attr("linkx").attr("toggled").attr("connect")(on_log_scale_marker_changed);
    self.attr("linky").attr("toggled").attr("connect")(on_log_scale_marker_changed);
    return py::none();
}
const FunctionSpec bundle_set_on_change_event_actions_spec{
    "set_on_change_event_actions",
    bundle_set_on_change_event_actions,
    {{"self"}, {"on_text_edited"}, {"on_format_changed"}, {"on_log_scale_marker_changed"}}};

// Leaving the parent hides a widget and takes it out of the layout; the
// bundle's reference keeps it alive.
py::object bundle_rm4l(const Call &c) {
    for (const char *name : widget_names) c.self().attr(name).attr("setParent")(py::none());
    return py::none();
}
const FunctionSpec bundle_rm4l_spec{"rm4l", bundle_rm4l, {{"self"}}};

// Row 0: the pattern field and the format selectors at 3, 5, 7 leave room for
// the toolbar's labels between them; the boxes follow the buttons at 10 to 13.
py::object bundle_a2l(const Call &c) {
    py::handle self = c.self();
    py::handle layout = c.arg(1);
    int column = 3;
    for (const char *name : {"stx", "fx", "fy"}) {
        layout.attr("addWidget")(self.attr(name), 0, column);
        column += 2;
    }
    layout.attr("addWidget")(self.attr("lx"), 0, 10);
    layout.attr("addWidget")(self.attr("ly"), 0, 11);
    layout.attr("addWidget")(self.attr("linkx"), 0, 12);
    layout.attr("addWidget")(self.attr("linky"), 0, 13);
    return py::none();
}
const FunctionSpec bundle_a2l_spec{"a2l", bundle_a2l, {{"self"}, {"layout"}}};

}  // namespace

void def_selection_bundle(native::Module &m) {
    m.def_class("SelectionBundle", py::tuple(),
                {native::method(bundle_init_spec), native::method(bundle_set_on_change_event_actions_spec),
                 native::method(bundle_rm4l_spec), native::method(bundle_a2l_spec)});
}

}  // namespace toolbar
