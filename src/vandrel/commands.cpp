// Vandrel.handle: one command word, one row of the command table.
#include "vandrel/vandrel.hpp"

#include <cstring>

namespace vandrel {

namespace {

// Both exact str. The command words are interned, and words a producer put
// into an in-process queue are usually the very same objects, hence the
// identity test first.
bool same_text(PyObject *text, PyObject *word) {
    if (text == word) return true;
    Py_ssize_t length = PyUnicode_GET_LENGTH(text);
    return length == PyUnicode_GET_LENGTH(word) && PyUnicode_KIND(text) == PyUnicode_KIND(word) &&
           std::memcmp(PyUnicode_DATA(text), PyUnicode_DATA(word), length * PyUnicode_KIND(text)) == 0;
}

// `cmd == word` as the interpreter evaluates it: for anything but an exact
// str, the comparison of cmd's own type decides (a str subclass may
// override __eq__), and its result is truth-tested.
bool equals_word(PyObject *cmd, PyObject *word) {
    if (PyUnicode_CheckExact(cmd)) return same_text(cmd, word);
    return native::is_true(steal_or_throw(PyObject_RichCompare(cmd, word, Py_EQ)));
}

// The index of the first command word equal to cmd, or word_count when
// none is.
int matching_word(const State &state, PyObject *cmd) {
    if (PyUnicode_CheckExact(cmd)) {
        for (int word = 0; word < word_count; ++word) {
            if (cmd == state.words[word]) return word;
        }
        // Interning keeps one object per text, and the words are interned:
        // an interned cmd that is none of them equals none of them.
        if (PyUnicode_CHECK_INTERNED(cmd)) return word_count;
    }
    for (int word = 0; word < word_count; ++word) {
        if (equals_word(cmd, state.words[word])) return word;
    }
    return word_count;
}

// One call of a command: self.<holder>.<operation>(data), or with no
// argument when the operation takes none.
struct Step {
    PyObject *Names::*holder;
    PyObject *Names::*operation;
    bool passes_data;
};

struct Row {
    Step steps[2];
    int count;
};

// The command table, row for row in the order of the command words.
const Row command_rows[word_count] = {
    {{{&Names::point_dataset, &Names::set_column_names, true}, {&Names::toolbar, &Names::refresh_comb, false}}, 2},  // PN
    {{{&Names::trace_dataset, &Names::set_column_names, true}, {&Names::toolbar, &Names::refresh_comb, false}}, 2},  // TN
    {{{&Names::point_dataset, &Names::append, true}}, 1},                                                             // PD
    {{{&Names::trace_dataset, &Names::append, true}}, 1},                                                             // TD
    {{{&Names::point_dataset, &Names::roll, false}}, 1},                                                              // ROLL
    {{{&Names::toolbar, &Names::set_point_text, true}}, 1},                                                           // PXY
    {{{&Names::toolbar, &Names::set_trace_text, true}}, 1},                                                           // TXY
};

// The holder is read from self afresh for each step.
void apply(const Names &names, py::handle self, const Step &step, py::handle data) {
    py::object holder = attribute(self, names.*step.holder);
    if (step.passes_data) {
        call_method(names.*step.operation, holder, data);
    } else {
        call_method(names.*step.operation, holder);
    }
}

// "QueueHandler - unknown command : " + format(cmd, "")
void warn_unknown(const native::Call &c, py::handle cmd) {
    py::object text = steal_or_throw(PyObject_Format(cmd.ptr(), py::str("").ptr()));
    py::object message = steal_or_throw(PyNumber_Add(py::str("QueueHandler - unknown command : ").ptr(), text.ptr()));
    warn(c, message);
}

py::object handle(const native::Call &c) {
    dispatch(c, state_of(c), c.self(), c.arg(1), c.arg(2));
    return py::none();
}

}  // namespace

void dispatch(const native::Call &c, const State &state, py::handle self, py::handle cmd, py::handle data) {
    int word = matching_word(state, cmd.ptr());
    if (word == word_count) {
        warn_unknown(c, cmd);
        return;
    }
    const Row &row = command_rows[word];
    for (int i = 0; i < row.count; ++i) apply(state.names, self, row.steps[i], data);
}

const native::FunctionSpec handle_spec{"handle", handle, {{"self"}, {"cmd"}, {"data"}}};

}  // namespace vandrel
