// The toolbar's construction, grid, mode switch and buttons.
//
// Grid row 0: "Points" 0, "Traces" 1, "(X,Y)" 2, pattern field 3, "fx" 4,
// X format 5, "fy" 6, Y format 7, "AR" 8, "CLR" 9, logX 10, logY 11,
// ShareX 12, ShareY 13. Columns 3, 5, 7 and 10 to 13 belong to the active
// bundle, which places itself.
//
// Every slot is a bound method obtained by attribute lookup on self: the
// bindings then hold self weakly, so the connections keep no toolbar alive.
#include "toolbar/toolbar_widget.hpp"

#include "toolbar/selection_state.hpp"

namespace toolbar {

namespace {

namespace py = pybind11;
using native::Call;
using native::FunctionSpec;

py::object qt_class(const Call &c, const char *name) { return c.global("QtWidgets").attr(name); }

py::object right_aligned_label(const Call &c, const char *text) {
    py::object label = qt_class(c, "QLabel")(text);
    label.attr("setAlignment")(c.global("AlignRight"));
    return label;
}

py::object small_button(const Call &c, const char *text, const char *tool_tip) {
    py::object button = qt_class(c, "QPushButton")(text);
    button.attr("setMaximumWidth")(30);
    button.attr("setToolTip")(tool_tip);
    return button;
}

py::object wired_bundle(const Call &c) {
    py::handle self = c.self();
    py::object bundle = c.global("SelectionBundle")();
    bundle.attr("set_on_change_event_actions")(self.attr("textEdited"), self.attr("generateXYFM"),
                                               self.attr("link_edited"));
    return bundle;
}

void add_to_grid(py::handle self, const char *widget, int column) {
    self.attr("layout").attr("addWidget")(self.attr(widget), 0, column);
}

void create_mode_buttons(const Call &c) {
    py::handle self = c.self();
    self.attr("pb") = qt_class(c, "QRadioButton")("Points");
    // Checked before it is connected: construction runs no mode switch.
    self.attr("pb").attr("setChecked")(true);
    self.attr("pb").attr("toggled").attr("connect")(self.attr("toggle_mode"));
    self.attr("tb") = qt_class(c, "QRadioButton")("Traces");
    self.attr("tb").attr("toggled").attr("connect")(self.attr("toggle_mode"));
}

void init_published_state(py::handle self) {
    self.attr("xypairs") = py::list();
    self.attr("xypairs_dirty") = true;
    self.attr("fx") = py::none();
    self.attr("fy") = py::none();
    self.attr("xyfm_dirty") = true;
    self.attr("link_dirty") = true;
    self.attr("lx") = false;
    self.attr("ly") = false;
}

// The instance attribute `layout` shadows QWidget.layout(); it is the grid
// installed on the widget.
void create_grid(const Call &c) {
    py::handle self = c.self();
    self.attr("layout") = qt_class(c, "QGridLayout")();
    self.attr("layout").attr("setContentsMargins")(0, 0, 0, 0);
    self.attr("setLayout")(self.attr("layout"));
    add_to_grid(self, "pb", 0);
    add_to_grid(self, "tb", 1);
    add_to_grid(self, "ytxt_lb", 2);
    add_to_grid(self, "fx_lb", 4);
    add_to_grid(self, "fy_lb", 6);
}

py::object tool_bar_init(const Call &c) {
    py::handle self = c.self();
    c.super().attr("__init__")();
    self.attr("mode") = "P";
    self.attr("setStyleSheet")(c.global("style"));
    create_mode_buttons(c);
    self.attr("ytxt_lb") = right_aligned_label(c, "(X,Y)");
    self.attr("fx_lb") = right_aligned_label(c, "fx");
    self.attr("fy_lb") = right_aligned_label(c, "fy");
    py::object point_bundle = wired_bundle(c);
    py::object trace_bundle = wired_bundle(c);
    self.attr("ps") = point_bundle;
    self.attr("ts") = trace_bundle;
    init_published_state(self);
    create_grid(c);
    self.attr("AR") = small_button(c, "AR", "Auto Range");
    self.attr("CR") = small_button(c, "CLR", "Clearing History Plots");
    self.attr("CR_flag") = false;
    add_to_grid(self, "AR", 8);
    add_to_grid(self, "CR", 9);
    self.attr("refresh_layout")();
    return py::none();
}
const FunctionSpec tool_bar_init_spec{"__init__", tool_bar_init, {{"self"}}};

// Each call adds both connections again; none is ever removed.
py::object set_mainwindow(const Call &c) {
    py::handle self = c.self();
    self.attr("mainwindow") = c.arg(1);
    self.attr("AR").attr("clicked").attr("connect")(self.attr("mainwindow").attr("all_enable_auto_range"));
    self.attr("CR").attr("clicked").attr("connect")(self.attr("CR_action"));
    return py::none();
}
const FunctionSpec set_mainwindow_spec{"set_mainwindow", set_mainwindow, {{"self"}, {"mainwindow"}}};

// Connected to nothing: "AR" reaches the host's all_enable_auto_range instead.
py::object ar_action(const Call &c) {
    c.self().attr("mainwindow").attr("enable_all_auto_range")();
    return py::none();
}
const FunctionSpec ar_action_spec{"AR_action", ar_action, {{"self"}}};

py::object cr_action(const Call &c) {
    c.self().attr("CR_flag") = true;
    return py::none();
}
const FunctionSpec cr_action_spec{"CR_action", cr_action, {{"self"}}};

// Removal before placing; run again in the same mode it leaves the same row.
py::object refresh_layout(const Call &c) {
    py::handle self = c.self();
    py::object mode = self.attr("mode");
    if (mode.equal(py::str("P"))) {
        self.attr("ts").attr("rm4l")();
        self.attr("ps").attr("a2l")(self.attr("layout"));
    } else if (mode.equal(py::str("T"))) {
        self.attr("ps").attr("rm4l")();
        self.attr("ts").attr("a2l")(self.attr("layout"));
    }
    return py::none();
}
const FunctionSpec refresh_layout_spec{"refresh_layout", refresh_layout, {{"self"}}};

// Slot of both radio buttons: one click emits toggled twice (the button
// leaving and the button entering), and both runs read the same end state.
py::object toggle_mode(const Call &c) {
    py::handle self = c.self();
    if (py::bool_(self.attr("pb").attr("isChecked")())) {
        self.attr("mode") = "P";
    } else if (py::bool_(self.attr("tb").attr("isChecked")())) {
        self.attr("mode") = "T";
    }
    self.attr("refresh_layout")();
    self.attr("refresh_comb")();
    return py::none();
}
const FunctionSpec toggle_mode_spec{"toggle_mode", toggle_mode, {{"self"}}};

}  // namespace

void def_tool_bar(native::Module &m) {
    namespace state = selection_state;
    m.def_class("ToolBar", py::make_tuple(m.global("QtWidgets").attr("QWidget")),
                {native::method(tool_bar_init_spec), native::method(set_mainwindow_spec),
                 native::method(ar_action_spec), native::method(cr_action_spec),
                 native::method(refresh_layout_spec), native::method(toggle_mode_spec),
                 native::property(state::column_names_spec), native::property(state::selections_spec),
                 native::method(state::set_trace_text_spec), native::method(state::set_point_text_spec),
                 native::method(state::sharexy_spec), native::method(state::refresh_comb_spec),
                 native::method(state::link_edited_spec), native::method(state::generate_xyfm_spec),
                 native::method(state::text_edited_spec)});
}

}  // namespace toolbar
