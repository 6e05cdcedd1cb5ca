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

// The first command word equal to cmd, or name_count when none is.
int matching_word(const native::ModuleState &state, PyObject *cmd) {
    if (PyUnicode_CheckExact(cmd)) {
        for (int word = first_word; word < name_count; ++word) {
            if (cmd == name(state, static_cast<Name>(word))) return word;
        }
        // Interning keeps one object per text, and the words are interned:
        // an interned cmd that is none of them equals none of them.
        if (PyUnicode_CHECK_INTERNED(cmd)) return name_count;
    }
    for (int word = first_word; word < name_count; ++word) {
        if (equals_word(cmd, name(state, static_cast<Name>(word)))) return word;
    }
    return name_count;
}

// One call of a command: self.<holder>.<operation>(data), or with no
// argument when the operation takes none.
struct Step {
    Name holder;
    Name operation;
    bool passes_data;
};

struct Row {
    Step steps[2];
    int count;
};

// The command table, row for row in the order of the command words.
const Row command_rows[word_count] = {
    {{{name_point_dataset, name_set_column_names, true}, {name_toolbar, name_refresh_comb, false}}, 2},  // PN
    {{{name_trace_dataset, name_set_column_names, true}, {name_toolbar, name_refresh_comb, false}}, 2},  // TN
    {{{name_point_dataset, name_append, true}}, 1},                                                       // PD
    {{{name_trace_dataset, name_append, true}}, 1},                                                       // TD
    {{{name_point_dataset, name_roll, false}}, 1},                                                        // ROLL
    {{{name_toolbar, name_set_point_text, true}}, 1},                                                     // PXY
    {{{name_toolbar, name_set_trace_text, true}}, 1},                                                     // TXY
};

void apply(Lookups &lookups, const native::ModuleState &state, py::handle self, const Step &step,
           Lookup &operation, py::handle data) {
    py::object holder = lookups.holders[step.holder - name_toolbar].read(self, name(state, step.holder));
    // A free slot before the arguments lets the callee reuse the array.
    PyObject *args[] = {nullptr, holder.ptr(), data.ptr()};
    operation.call(name(state, step.operation), args + 1, step.passes_data ? 2 : 1);
}

// "QueueHandler - unknown command : " + format(cmd, "")
void warn_unknown(const native::Call &c, py::handle cmd) {
    py::object text = steal_or_throw(PyObject_Format(cmd.ptr(), py::str("").ptr()));
    py::object message = steal_or_throw(PyNumber_Add(py::str("QueueHandler - unknown command : ").ptr(), text.ptr()));
    warn(c, message);
}

py::object handle(const native::Call &c) {
    Lookups lookups;
    dispatch(lookups, c, c.state(), c.self(), c.arg(1), c.arg(2));
    return py::none();
}

}  // namespace

void dispatch(Lookups &lookups, const native::Call &c, const native::ModuleState &state, py::handle self,
              py::handle cmd, py::handle data) {
    int word = matching_word(state, cmd.ptr());
    if (word == name_count) {
        warn_unknown(c, cmd);
        return;
    }
    const Row &row = command_rows[word - first_word];
    for (int i = 0; i < row.count; ++i) {
        apply(lookups, state, self, row.steps[i], lookups.operations[word - first_word][i], data);
    }
}

const native::FunctionSpec handle_spec{"handle", handle, {{"self"}, {"cmd"}, {"data"}}};

}  // namespace vandrel
