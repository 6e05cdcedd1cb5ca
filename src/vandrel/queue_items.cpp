// Vandrel.flush: draining the queue, checking the form of each item and
// handing well-formed commands to handle.
//
// The form checks are assertions, made only when the runtime's __debug__
// was true at load. An AssertionError raised while an item is checked and
// unpacked becomes a warning with the assertion's text, and the item is
// dropped; every other error ends flush. Items still in the queue stay
// there for the next flush.
#include "vandrel/vandrel.hpp"

#include <utility>

namespace vandrel {

namespace {

const char not_tuple_text[] = "QueueHandler - fifo Content must be tuple";
const char tuple_form_text[] = "QueueHandler -the tuple must be like (\"command_type\" , \"DATA\")";
const char not_string_text[] = "QueueHandler - the command should be a string";

[[noreturn]] void fail_check(const char *text) {
    PyErr_SetString(PyExc_AssertionError, text);
    throw py::error_already_set();
}

// isinstance(obj, type), which also honours a __class__ that claims the type.
inline bool is_instance(py::handle obj, PyTypeObject *type) {
    if (PyObject_TypeCheck(obj.ptr(), type)) return true;
    int answer = PyObject_IsInstance(obj.ptr(), reinterpret_cast<PyObject *>(type));
    if (answer < 0) throw py::error_already_set();
    return answer != 0;
}

// len(obj); a tuple subclass may define its own __len__.
Py_ssize_t length(py::handle obj) {
    if (PyTuple_CheckExact(obj.ptr())) return PyTuple_GET_SIZE(obj.ptr());
    Py_ssize_t size = PyObject_Size(obj.ptr());
    if (size < 0) throw py::error_already_set();
    return size;
}

struct Command {
    py::object cmd;
    py::object data;
};

// The protected block: the form checks (when on) around the unpacking.
Command split_item(const State &state, py::handle words) {
    bool checking = state.checks_on;
    if (checking) {
        if (!is_instance(words, &PyTuple_Type)) fail_check(not_tuple_text);
        if (length(words) != 2) fail_check(tuple_form_text);
    }
    auto [cmd, data] = native::unpack_pair(words);  // cmd, data = words
    if (checking && !is_instance(cmd, &PyUnicode_Type)) fail_check(not_string_text);
    return {std::move(cmd), std::move(data)};
}

// For the span of an `except` block: the exception being handled, so that
// an error raised meanwhile (a warning filtered to "error") gets it as its
// __context__, as in the interpreter.
class HandlingException {
public:
    explicit HandlingException(py::handle error) : saved_(PyErr_GetHandledException()) {
        PyErr_SetHandledException(error.ptr());
    }
    ~HandlingException() {
        PyErr_SetHandledException(saved_);
        Py_XDECREF(saved_);
    }
    HandlingException(const HandlingException &) = delete;
    HandlingException &operator=(const HandlingException &) = delete;

private:
    PyObject *saved_;  // owned; NULL when nothing was being handled
};

// except AssertionError as e: warnings.warn(e.args[0])
void report_failed_check(const native::Call &c, const py::error_already_set &failure) {
    py::handle error = failure.value();
    HandlingException handling(error);
    py::object text = error.attr("args")[py::int_(0)];
    warn(c, text);
}

// self.queue.empty(), truth-tested.
bool queue_is_empty(const Names &names, py::handle self) {
    return native::is_true(call_method(names.empty, attribute(self, names.queue)));
}

// self.queue.get()
py::object next_item(const Names &names, py::handle self) {
    return call_method(names.get, attribute(self, names.queue));
}

// self.handle(cmd, data), looked up on the instance for every item, so that
// an override or an instance attribute takes its place. When the lookup
// finds this module's own handle bound to self, its body runs here, with
// the traceback entry a call would leave. A flush nested in a data set's
// operation then costs the recursion limit one native level (flush) and
// the queue's calls, so nested flushes without end stop at the limit on
// entering flush or reading the queue, never between taking an item and
// applying it.
void hand_over(const native::Call &c, const State &state, py::handle self, const Command &command) {
    py::object method = attribute(self, state.names.handle);
    PyObject *raw = method.ptr();
    if (!PyMethod_Check(raw) || PyMethod_GET_SELF(raw) != self.ptr() ||
        !native::is_function_of(PyMethod_GET_FUNCTION(raw), handle_spec)) {
        PyObject *args[] = {command.cmd.ptr(), command.data.ptr()};
        steal_or_throw(PyObject_Vectorcall(raw, args, 2, nullptr));
        return;
    }
    try {
        dispatch(c, state, self, command.cmd, command.data);
    } catch (py::error_already_set &error) {
        error.restore();
        native::add_traceback_entry(PyMethod_GET_FUNCTION(raw));
        throw py::error_already_set();
    }
}

py::object flush(const native::Call &c) {
    const State &state = state_of(c);
    const Names &names = state.names;
    py::handle self = c.self();
    while (!queue_is_empty(names, self)) {
        py::object words = next_item(names, self);
        Command command;
        try {
            command = split_item(state, words);
        } catch (py::error_already_set &failure) {
            if (!failure.matches(PyExc_AssertionError)) throw;
            report_failed_check(c, failure);
            continue;
        }
        hand_over(c, state, self, command);
    }
    return py::none();
}

}  // namespace

const native::FunctionSpec flush_spec{"flush", flush, {{"self"}}};

}  // namespace vandrel
