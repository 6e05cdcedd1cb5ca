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

namespace vandrel {

namespace py = pybind11;

// Slots of the module state.
enum class StateSlot {
    checks_on,  // Py_True or Py_False: the runtime's __debug__ at load
    names,      // tuple of interned strings, indexed by Name
    count
};

// The interned strings, in the order of their texts (vandrel.cpp).
enum Name : int {
    // attributes of a Vandrel instance
    name_queue,
    name_toolbar,
    name_point_dataset,
    name_trace_dataset,
    name_handle,
    // operations of the objects it holds
    name_empty,
    name_get,
    name_set_column_names,
    name_append,
    name_roll,
    name_refresh_comb,
    name_set_point_text,
    name_set_trace_text,
    // the warnings module global and its function
    name_warnings,
    name_warn,
    // the command words, in the order handle compares them
    word_PN,
    word_TN,
    word_PD,
    word_TD,
    word_ROLL,
    word_PXY,
    word_TXY,
    name_count
};

constexpr int first_word = word_PN;
constexpr int word_count = name_count - first_word;

// Borrowed from the names tuple, which the state holds once the module loaded.
inline PyObject *name(const native::ModuleState &state, Name which) {
    return PyTuple_GET_ITEM(native::state_ref(state, StateSlot::names), which);
}

inline bool checks_on(const native::ModuleState &state) {
    return native::state_ref(state, StateSlot::checks_on) == Py_True;
}

// target.<method>(arg), looked up as the interpreter does for a method call.
inline py::object call_method(PyObject *method_name, py::handle target, py::handle arg) {
    PyObject *args[] = {target.ptr(), arg.ptr()};
    return steal_or_throw(PyObject_VectorcallMethod(method_name, args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// warnings.warn(message), with `warnings` read as a module global now, so a
// host that replaced the global is obeyed.
void warn(const native::Call &c, py::handle message);

extern const native::FunctionSpec flush_spec;
extern const native::FunctionSpec handle_spec;

// The lookups of one flush, or of one direct call of handle: one for each
// place that reads an attribute or calls an operation (lookup.hpp).
struct Lookups {
    Lookup queue{Owner::vandrel};   // self.queue
    Lookup empty;                   // queue.empty()
    Lookup get;                     // queue.get()
    Lookup handle{Owner::vandrel};  // self.handle(cmd, data)
    // self.toolbar, self.point_dataset, self.trace_dataset
    Lookup holders[3] = {Lookup(Owner::vandrel), Lookup(Owner::vandrel), Lookup(Owner::vandrel)};
    Lookup operations[word_count][2];  // the calls of each command, in order

    // Whether `method` is this module's own handle; the answer for the last
    // one asked about is kept, with the function held so that its address
    // cannot come back as another object.
    bool is_own_handle(PyObject *method) {
        if (method == own_handle.ptr()) return true;
        if (!native::is_function_of(method, handle_spec)) return false;
        own_handle = py::reinterpret_borrow<py::object>(method);
        return true;
    }
    py::object own_handle;
};

// The body of handle: applies one command with the given lookups.
void dispatch(Lookups &lookups, const native::Call &c, const native::ModuleState &state, py::handle self,
              py::handle cmd, py::handle data);

}  // namespace vandrel
