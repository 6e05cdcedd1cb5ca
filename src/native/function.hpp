// Function objects that behave like Python functions, with bodies in C++.
//
// A module describes each function once, as a static FunctionSpec (plain C
// data: names, parameter list, body pointer). At load time it turns that
// into a function object bound to the module (for globals and module state)
// and, for methods, to the class cell of the class being created (for the
// zero-argument super()).
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>

namespace native {

namespace py = pybind11;

// Built-in types a parameter may insist on. Exact means exact: a subclass
// (bool for int, a str subclass for str) is rejected like any other type.
enum class Exact { any, str, list, int_ };

struct Param {
    const char *name = nullptr;  // nullptr ends the parameter list
    const char *annotation = nullptr;  // stored as text; nullptr for none
    Exact exact = Exact::any;
};

constexpr std::size_t max_params = 6;

struct FunctionObject;

// What a body sees of one call: the bound arguments, in parameter order,
// borrowed from the caller for the duration of the call.
class Call {
public:
    Call(FunctionObject *function, PyObject *const *args) : function_(function), args_(args) {}

    py::handle arg(std::size_t i) const { return args_[i]; }
    py::handle self() const { return args_[0]; }

    // super(<defining class>, <first argument>), as the zero-argument form.
    py::object super() const;
    // Module global, then built-in, as a name in a Python body is looked up;
    // NameError when neither has it.
    py::object global(py::handle name) const;
    py::object global(const char *name) const;
    // The defining module (module_state<State>(c.module()) is its state).
    PyObject *module() const;

private:
    FunctionObject *function_;
    PyObject *const *args_;
};

using Body = py::object (*)(const Call &);

struct FunctionSpec {
    const char *name;
    Body body;
    Param params[max_params];
    const char *returns = nullptr;  // return annotation text, or nullptr
    // Where the FunctionSpec is written: the frame shown in tracebacks.
    const char *file = __builtin_FILE();
    int line = __builtin_LINE();
};

// Creates the function object for `spec`. `qualname_prefix` is "" for a
// module-level function and "Class." for a method; `class_cell` is the cell
// that will hold the defining class (or none); `defaults` holds values for
// the last parameters.
py::object make_function(PyObject *module, const FunctionSpec &spec, const std::string &qualname_prefix,
                         py::handle class_cell, py::tuple defaults);

// True when `callable` is the function object made from `spec` (for modules
// that take a direct road when the callable is known to be their own).
bool is_function_of(PyObject *callable, const FunctionSpec &spec) noexcept;

// Adds the traceback entry that a call of `function` (a function object made
// here) leaves on the error being raised: for a module that runs a body of
// its own directly instead of calling the function object.
void add_traceback_entry(PyObject *function) noexcept;

// The function type; each module creates its own at load and keeps it in
// its state.
PyObject *create_function_type(PyObject *module) noexcept;

}  // namespace native
