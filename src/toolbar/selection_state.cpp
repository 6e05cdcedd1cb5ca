// The toolbar's published selection state.
//
// The toolbar only ever sets its flags to true; reading and clearing them is
// the host's. Every handler reads the active bundle anew, whichever bundle's
// widget fired.
#include "toolbar/selection_state.hpp"

namespace toolbar::selection_state {

namespace {

namespace py = pybind11;
using native::Call;
using native::Exact;
using native::FunctionSpec;

bool mode_is(py::handle self, const char *mode) {
    py::object current = self.attr("mode");
    return current.equal(py::str(mode));
}

py::object active_bundle(py::handle self) { return self.attr("selections"); }

}  // namespace

// Both data boxes are read at every access, whatever the mode, so a host
// missing either fails in both modes alike.
py::object column_names(const Call &c) {
    py::object point_names = c.self().attr("mainwindow").attr("point_data_box").attr("column_names");
    py::object trace_names = c.self().attr("mainwindow").attr("trace_data_box").attr("column_names");
    py::object names;
    if (mode_is(c.self(), "P")) {
        names = point_names;
    } else if (mode_is(c.self(), "T")) {
        names = trace_names;
    } else {
        names = py::none();
    }
    if (!names.is_none() && !PyList_CheckExact(names.ptr())) {
        PyErr_Format(PyExc_TypeError, "column_names must be a list or None, not %s", Py_TYPE(names.ptr())->tp_name);
        throw py::error_already_set();
    }
    return names;
}
const FunctionSpec column_names_spec{"column_names", column_names, {{"self"}}, "list[str]"};

py::object selections(const Call &c) {
    if (mode_is(c.self(), "P")) return c.self().attr("ps");
    if (mode_is(c.self(), "T")) return c.self().attr("ts");
    return py::none();
}
const FunctionSpec selections_spec{"selections", selections, {{"self"}}, "SelectionBundle"};

py::object set_trace_text(const Call &c) {
    c.self().attr("ts").attr("stx").attr("set_text")(c.arg(1));
    return py::none();
}
const FunctionSpec set_trace_text_spec{"set_trace_text", set_trace_text, {{"self"}, {"text", "str", Exact::str}}};

py::object set_point_text(const Call &c) {
    c.self().attr("ps").attr("stx").attr("set_text")(c.arg(1));
    return py::none();
}
const FunctionSpec set_point_text_spec{"set_point_text", set_point_text, {{"self"}, {"text", "str", Exact::str}}};

py::object sharexy(const Call &c) {
    py::object share_x = active_bundle(c.self()).attr("linkx").attr("isChecked")();
    py::object share_y = active_bundle(c.self()).attr("linky").attr("isChecked")();
    return py::make_tuple(share_x, share_y);
}
const FunctionSpec sharexy_spec{"sharexy", sharexy, {{"self"}}};

// An error of the matching leaves the tool tip as it was; the formats read
// before it stay.
py::object refresh_comb(const Call &c) {
    py::handle self = c.self();
    self.attr("generateXYFM")();
    self.attr("textEdited")();
    py::str names_text = py::repr(self.attr("column_names"));
    self.attr("ytxt_lb").attr("setToolTip")(names_text);
    return py::none();
}
const FunctionSpec refresh_comb_spec{"refresh_comb", refresh_comb, {{"self"}}};

py::object link_edited(const Call &c) {
    c.self().attr("link_dirty") = true;
    return py::none();
}
const FunctionSpec link_edited_spec{"link_edited", link_edited, {{"self"}}};

// Set dirty at every reading, also when nothing changed.
py::object generate_xyfm(const Call &c) {
    py::handle self = c.self();
    self.attr("fx") = active_bundle(self).attr("fx").attr("currentText")();
    self.attr("fy") = active_bundle(self).attr("fy").attr("currentText")();
    self.attr("lx") = active_bundle(self).attr("lx").attr("isChecked")();
    self.attr("ly") = active_bundle(self).attr("ly").attr("isChecked")();
    self.attr("xyfm_dirty") = true;
    return py::none();
}
const FunctionSpec generate_xyfm_spec{"generateXYFM", generate_xyfm, {{"self"}}};

namespace {

// True when `new_pairs` differs from `self.xypairs` in length, order or
// content (pairs compare element by element).
bool selection_changed(py::handle self, py::handle new_pairs) {
    if (py::len(self.attr("xypairs")) != py::len(new_pairs)) return true;
    Py_ssize_t i = 0;
    for (py::handle xy : new_pairs) {
        py::object previous = self.attr("xypairs")[py::int_(i)];
        if (xy.not_equal(previous)) return true;
        ++i;
    }
    return false;
}

}  // namespace

// The pattern text is read before the column names. Matching comes first so
// that an error of it leaves xypairs and its flag untouched; the flag is only
// ever set, never cleared.
py::object text_edited(const Call &c) {
    py::handle self = c.self();
    py::object pattern_text = active_bundle(self).attr("stx").attr("text")();
    py::object new_pairs = c.global("matched_xy_pairs")(pattern_text, self.attr("column_names"));
    if (selection_changed(self, new_pairs)) self.attr("xypairs_dirty") = true;
    self.attr("xypairs") = new_pairs;
    return py::none();
}
const FunctionSpec text_edited_spec{"textEdited", text_edited, {{"self"}}};

}  // namespace toolbar::selection_state
