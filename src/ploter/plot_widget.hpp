// PlotWidget's methods, in the order the class defines them. Construction,
// labels, ranges and data binding are in plot_widget.cpp; the key and mouse
// handlers in interaction.cpp.
#pragma once

#include "native/native.hpp"

namespace ploter {

namespace py = pybind11;

extern const native::FunctionSpec init_spec;
extern const native::FunctionSpec set_x_label_spec;
extern const native::FunctionSpec set_y_label_spec;
extern const native::FunctionSpec auto_range_spec;
extern const native::FunctionSpec enable_auto_range_spec;
extern const native::FunctionSpec key_press_spec;
extern const native::FunctionSpec key_release_spec;
extern const native::FunctionSpec mouse_press_spec;
extern const native::FunctionSpec mouse_release_spec;
extern const native::FunctionSpec update_spec;
extern const native::FunctionSpec set_data_spec;

using native::is_true;

// The view box of the widget's plot item, which the range operations, the
// letter keys and the clipboard tool act on.
inline py::object view_box(py::handle self) { return self.attr("plotItem").attr("vb"); }

// The same for the event handlers, or None once the plot is closed:
// pyqtgraph's close() drops the plot item (and the item's close() its view
// box), and the events already queued for the widget still arrive. A handler
// that raised there would abort a PyQt application.
inline py::object open_view_box(py::handle self) {
    py::object item = self.attr("plotItem");
    return item.is_none() ? item : py::object(item.attr("vb"));
}

}  // namespace ploter
