// Module vandrel: what its source files share.
//
// Vandrel drains the host's command queue (flush, queue_items.cpp) and
// dispatches each command to a data set or the toolbar (handle,
// commands.cpp). Every name it looks up on an object is an interned string
// made once at load and kept in module state, so the per-item work is
// attribute lookups and calls, never string creation.
#pragma once

#include "native/native.hpp"
#include "vandrel/lookup.hpp"

#include <cstddef>
#include <iterator>

namespace vandrel {

namespace py = pybind11;

// The interned strings that flush and handle look up. Owned, all nullptr
// until the load made them.
struct Names {
    // attributes of a Vandrel instance
    PyObject *queue, *toolbar, *point_dataset, *trace_dataset, *handle;
    // operations of the objects it holds
    PyObject *empty, *get, *set_column_names, *append, *roll, *refresh_comb, *set_point_text, *set_trace_text;
    // the warnings module global and its function
    PyObject *warnings, *warn;
};

// Each field of Names with its text; load, traverse and clear go through it.
struct NameText {
    PyObject *Names::*field;
    const char *text;
};
inline constexpr NameText name_texts[] = {
    {&Names::queue, "queue"},
    {&Names::toolbar, "toolbar"},
    {&Names::point_dataset, "point_dataset"},
    {&Names::trace_dataset, "trace_dataset"},
    {&Names::handle, "handle"},
    {&Names::empty, "empty"},
    {&Names::get, "get"},
    {&Names::set_column_names, "set_column_names"},
    {&Names::append, "append"},
    {&Names::roll, "roll"},
    {&Names::refresh_comb, "refresh_comb"},
    {&Names::set_point_text, "set_point_text"},
    {&Names::set_trace_text, "set_trace_text"},
    {&Names::warnings, "warnings"},
    {&Names::warn, "warn"},
};
static_assert(sizeof(Names) == std::size(name_texts) * sizeof(PyObject *), "one text for each field of Names");

// The command words, in the order handle compares them.
inline constexpr const char *word_texts[] = {"PN", "TN", "PD", "TD", "ROLL", "PXY", "TXY"};
constexpr int word_count = static_cast<int>(std::size(word_texts));

struct State {
    native::CommonState common;
    bool checks_on;  // the runtime's __debug__ at load: the form checks of flush
    Names names;
    PyObject *words[word_count];  // interned, in the order of word_texts; owned

    int traverse(visitproc visit, void *arg) {
        for (const NameText &name : name_texts) Py_VISIT(names.*name.field);
        for (PyObject *word : words) Py_VISIT(word);
        return 0;
    }
    void clear() {
        for (const NameText &name : name_texts) Py_CLEAR(names.*name.field);
        for (PyObject *&word : words) Py_CLEAR(word);
    }
};

// The state stays filled for as long as a call runs: the function being
// called holds its module, which the collector therefore does not clear.
inline const State &state_of(const native::Call &c) { return native::module_state<State>(c.module()); }

// warnings.warn(message), with `warnings` read as a module global now, so a
// host that replaced the global is obeyed.
void warn(const native::Call &c, py::handle message);

extern const native::FunctionSpec flush_spec;
extern const native::FunctionSpec handle_spec;

// The body of handle: applies one command.
void dispatch(const native::Call &c, const State &state, py::handle self, py::handle cmd, py::handle data);

}  // namespace vandrel
