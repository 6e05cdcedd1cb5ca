// PlotWidget's key and mouse handlers: F fits the view, A calls the auto-pan
// setter, R held switches the middle-button clipboard tool from one x
// position to an x range. Key events always reach the base class; middle
// button events never do; every other button reaches it unchanged.
#include "ploter/plot_widget.hpp"

namespace ploter {

using native::Call;

namespace {

bool is_letter(py::handle text, const char *lower, const char *upper) {
    return text.equal(py::str(lower)) || text.equal(py::str(upper));
}

void call_on_view_box(py::handle self, const char *method) {
    py::object vb = open_view_box(self);
    if (!vb.is_none()) vb.attr(method)();
}

// The three letter commands; `pressed` tells a press from a release, which
// differ only in what R does to the range mode.
void apply_letter_command(const Call &c, py::handle ev, bool pressed) {
    py::handle self = c.self();
    py::object text = ev.attr("text")();
    if (is_letter(text, "f", "F")) call_on_view_box(self, "autoRange");
    if (is_letter(text, "a", "A")) call_on_view_box(self, "setAutoPan");
    if (is_letter(text, "r", "R")) self.attr("range_select") = pressed;
}

py::object key_press(const Call &c) {
    apply_letter_command(c, c.arg(1), true);
    c.super().attr("keyPressEvent")(c.arg(1));
    return py::none();
}

py::object key_release(const Call &c) {
    apply_letter_command(c, c.arg(1), false);
    c.super().attr("keyReleaseEvent")(c.arg(1));
    return py::none();
}

// Qt's middle button is 4. PyQt5 gives an int-like enum; PyQt6 and PySide6
// give Python enums that do not equal the int, but carry it as `value`.
bool is_middle_button(py::handle button) {
    py::int_ middle(4);
    if (button.equal(middle)) return true;
    return py::getattr(button, "value", py::none()).equal(middle);
}

// The pointer position for the view box's mapping. Qt 6 events give it as
// position() (a QPointF) and warn at every pos(), which a host that turns
// warnings into errors would see as a failing click; Qt 5 events have pos()
// only. pos() gives a QPoint, which pyqtgraph's mapping accepts only as a
// QPointF under PyQt6; the conversion is exact, so it is made on every binding.
py::object pointer_position(const Call &c, py::handle ev) {
    if (py::hasattr(ev, "position")) return ev.attr("position")();
    py::object position = ev.attr("pos")();
    py::object qt_core = c.global("pg").attr("QtCore");
    if (py::isinstance(position, qt_core.attr("QPoint"))) return qt_core.attr("QPointF")(position);
    return position;
}

py::object x_under_pointer(const Call &c, py::handle vb, py::handle ev) {
    py::object position = pointer_position(c, ev);
    return vb.attr("mapSceneToView")(position).attr("x")();
}

py::object mouse_press(const Call &c) {
    py::handle ev = c.arg(1);
    if (!is_middle_button(ev.attr("button")())) {
        c.super().attr("mousePressEvent")(ev);
        return py::none();
    }
    if (!is_true(c.global("hasCliper"))) return py::none();
    py::object vb = open_view_box(c.self());
    if (!vb.is_none()) c.self().attr("clippos1") = x_under_pointer(c, vb, ev);
    return py::none();
}

// The range mode is read here, at the release, not at the press. A failing
// copy propagates after clippos2 has been stored.
void copy_clip_positions(const Call &c, py::handle ev) {
    py::handle self = c.self();
    py::object vb = open_view_box(self);
    if (vb.is_none()) return;  // closed: no position to copy
    self.attr("clippos2") = x_under_pointer(c, vb, ev);
    if (is_true(self.attr("range_select"))) {
        py::object range = py::str(self.attr("clippos1")) + py::str(",") + py::str(self.attr("clippos2"));
        c.global("pc").attr("copy")(range);
    } else {
        c.global("pc").attr("copy")(self.attr("clippos2"));
    }
}

py::object mouse_release(const Call &c) {
    py::handle ev = c.arg(1);
    if (!is_middle_button(ev.attr("button")())) {
        c.super().attr("mouseReleaseEvent")(ev);
        return py::none();
    }
    if (is_true(c.global("hasCliper"))) copy_clip_positions(c, ev);
    return py::none();
}

}  // namespace

const native::FunctionSpec key_press_spec{"keyPressEvent", key_press, {{"self"}, {"ev"}}};
const native::FunctionSpec key_release_spec{"keyReleaseEvent", key_release, {{"self"}, {"ev"}}};
const native::FunctionSpec mouse_press_spec{"mousePressEvent", mouse_press, {{"self"}, {"ev"}}};
const native::FunctionSpec mouse_release_spec{"mouseReleaseEvent", mouse_release, {{"self"}, {"ev"}}};

}  // namespace ploter
