// Module ploter: the plot widget. Its top level, in load order: the host's
// settings and Qt widgets, pyqtgraph (required), pyperclip (optional), then
// the class PlotWidget.
#include "ploter/plot_widget.hpp"

namespace {

namespace py = pybind11;

// `raise ImportError(message)` inside `except Exception:` — the new error
// carries the original failure as its context. The context is set here and
// the error raised with PyErr_Restore, since PyErr_SetObject would replace
// it with whatever exception the importing code happens to be handling.
[[noreturn]] void raise_import_error_from(const py::error_already_set &failure, const char *message) {
    py::object error = py::reinterpret_borrow<py::object>(PyExc_ImportError)(message);
    PyException_SetContext(error.ptr(), failure.value().inc_ref().ptr());
    PyErr_Restore(Py_NewRef(PyExc_ImportError), error.release().ptr(), nullptr);
    throw py::error_already_set();
}

// Without pyqtgraph there is no base class: the load fails, telling the user
// what to install. Only ordinary failures are translated; an interrupt or an
// exit request during the import stays what it is.
void import_pyqtgraph(native::Module &m) {
    try {
        m.import_as("pyqtgraph", "pg");
    } catch (py::error_already_set &failure) {
        if (!failure.matches(PyExc_Exception)) throw;
        raise_import_error_from(failure, "Please install pyqtgraph first");
    }
}

// The clipboard is optional: whatever keeps pyperclip from loading only turns
// the middle-button tool off.
void import_pyperclip(native::Module &m) {
    try {
        m.import_as("pyperclip", "pc");
        m.set("hasCliper", py::bool_(true));
    } catch (py::error_already_set &failure) {
        if (!failure.matches(PyExc_Exception)) throw;
        m.set("hasCliper", py::bool_(false));
    }
}

void ploter_body(native::Module &m) {
    m.from_import("config", 1, {"COL_SEL", "COL_UNSEL", "SymSize", "defualt_colors", "ridx", "widths"});
    m.from_import("qt_compat", 1, {"QtWidgets"});
    import_pyqtgraph(m);
    import_pyperclip(m);
    m.def_class("PlotWidget", py::make_tuple(m.global("pg").attr("PlotWidget")),
                {native::method(ploter::init_spec, py::make_tuple(300, py::none())),
                 native::method(ploter::set_x_label_spec), native::method(ploter::set_y_label_spec),
                 native::method(ploter::auto_range_spec), native::method(ploter::enable_auto_range_spec),
                 native::method(ploter::key_press_spec), native::method(ploter::key_release_spec),
                 native::method(ploter::mouse_press_spec), native::method(ploter::mouse_release_spec),
                 native::method(ploter::update_spec), native::method(ploter::set_data_spec)});
}

}  // namespace

NATIVE_MODULE(ploter, ploter_body)
