// PlotWidget: construction and styling, the corner labels, the two range
// operations, the repaint request and the data binding of the curves.
#include "ploter/plot_widget.hpp"

namespace ploter {

using native::Call;
using namespace pybind11::literals;

namespace {

// The colour list the widget keeps: the module's defaults themselves, or the
// caller's list, which is filled up in place when it is shorter (the caller
// sees the longer list).
py::object settled_colors(const Call &c, py::handle colors) {
    py::object defaults = c.global("defualt_colors");
    if (colors.is_none()) return defaults;
    py::object caller = py::reinterpret_borrow<py::object>(colors);
    if (py::len(caller) < py::len(defaults)) {
        // `extend` first: an immutable sequence fails here, with its
        // AttributeError, before anything else is read.
        py::object extend = caller.attr("extend");
        py::object start = py::int_(py::len(caller));
        py::object tail = native::steal_or_throw(PySlice_New(start.ptr(), nullptr, nullptr));
        extend(defaults[tail]);
    }
    return caller;
}

// A child label of the widget at (0, top) with the given caption; stored on
// the widget before it is configured, so a failure leaves it in place.
void add_corner_label(const Call &c, py::handle self, const char *attribute, const char *caption, int top) {
    self.attr(attribute) = c.global("QtWidgets").attr("QLabel")(self);
    py::object label = self.attr(attribute);
    label.attr("setText")(caption);
    label.attr("move")(0, top);
}

// One curve per curve key, in the iteration order of `ridx`, each with its
// own pen, symbol brush, symbol pen and symbol size. A key that indexes
// nothing fails here; the curves made before it stay in `plots`.
void add_curves(const Call &c, py::handle self, py::handle colors) {
    py::object keys = c.global("ridx");
    for (py::handle key : keys) {
        // One lookup per statement: C++ leaves the order of arguments open,
        // and the first lookup that fails is the error the caller sees.
        py::object plot = self.attr("plot");
        py::object pen_color = colors[key];
        py::object width = c.global("widths")[key];
        py::object symbol_brush = colors[key];
        py::object symbol_color = colors[key];
        py::object symbol_size = c.global("SymSize")[key];
        py::dict pen("color"_a = pen_color, "width"_a = width);
        py::dict symbol_pen("width"_a = 0, "color"_a = symbol_color);
        py::object curve = plot(py::list(), py::list(), "pen"_a = pen, "symbolBrush"_a = symbol_brush,
                                "symbolPen"_a = symbol_pen, "symbolSize"_a = symbol_size);
        self.attr("plots")[key] = curve;
    }
}

// The text form a label shows: a text unchanged, a number in its shortest
// decimal form, anything else in its default form (format(w, "")).
py::object text_form(py::handle value) {
    return native::steal_or_throw(PyObject_Format(value.ptr(), nullptr));
}

py::object set_label(const Call &c, const char *name_attribute, const char *label_attribute, const char *caption) {
    py::handle self = c.self();
    py::handle name = c.arg(1);
    self.attr(name_attribute) = name;
    self.attr(label_attribute).attr("setText")(py::str(caption) + text_form(name));
    return py::none();
}

// Everything up to the colour list and the names happens before the base
// class is initialised, so the widget exists as a Qt object only once the
// colour list is settled.
py::object init(const Call &c) {
    py::handle self = c.self();
    self.attr("XAxisLinked") = false;
    self.attr("YAxisLinked") = false;
    py::object colors = settled_colors(c, c.arg(2));
    self.attr("colors") = colors;
    self.attr("xname") = py::str("");
    self.attr("yname") = py::str("");
    c.super().attr("__init__")();
    self.attr("setMinimumHeight")(c.arg(1));
    self.attr("showGrid")("x"_a = true, "y"_a = true);
    self.attr("setBackground")(c.global("COL_UNSEL"));
    view_box(self).attr("autoRange")();
    add_corner_label(c, self, "XLabel", "X:", 5);
    add_corner_label(c, self, "YLabel", "Y:", 35);
    self.attr("plots") = py::dict();
    self.attr("clippos1") = 0;
    self.attr("clippos2") = 0;
    self.attr("range_select") = false;
    add_curves(c, self, colors);
    // Through the attribute, so that a subclass's update is the one called.
    self.attr("update")();
    return py::none();
}

py::object set_x_label(const Call &c) { return set_label(c, "xname", "XLabel", "X:"); }

py::object set_y_label(const Call &c) { return set_label(c, "yname", "YLabel", "Y:"); }

py::object auto_range(const Call &c) {
    view_box(c.self()).attr("autoRange")();
    return py::none();
}

py::object enable_auto_range(const Call &c) {
    view_box(c.self()).attr("enableAutoRange")();
    return py::none();
}

py::object update(const Call &c) {
    c.super().attr("update")();
    return py::none();
}

// The hot path of the host's refresh: x and y go to the existing curve as
// they are, without copying or conversion.
py::object set_data(const Call &c) {
    c.self().attr("plots")[c.arg(1)].attr("setData")(c.arg(2), c.arg(3));
    return py::none();
}

}  // namespace

const native::FunctionSpec init_spec{"__init__", init, {{"self"}, {"minimum_height"}, {"colors"}}};
const native::FunctionSpec set_x_label_spec{"set_X_label", set_x_label, {{"self"}, {"w"}}};
const native::FunctionSpec set_y_label_spec{"set_Y_label", set_y_label, {{"self"}, {"w"}}};
const native::FunctionSpec auto_range_spec{"auto_range", auto_range, {{"self"}}};
const native::FunctionSpec enable_auto_range_spec{"enable_auto_range", enable_auto_range, {{"self"}}};
const native::FunctionSpec update_spec{"update", update, {{"self"}}};
const native::FunctionSpec set_data_spec{"set_data", set_data, {{"self"}, {"i"}, {"x"}, {"y"}}};

}  // namespace ploter
