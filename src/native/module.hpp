// Multi-phase module initialisation and module state.
//
// Each extension module is created by the import system first (so that its
// __name__, __spec__ and __package__ are set) and then executed: its exec
// function runs the module's top-level statements in order, with relative
// imports resolved against the module's own package.
#pragma once

#include "native/function.hpp"

#include <cstddef>
#include <initializer_list>
#include <string>
#include <type_traits>

namespace native {

// What the native layer itself keeps for every module: the head of each
// module's state.
struct CommonState {
    PyObject *function_type;  // the module's own function type (function.cpp)
};

// A module's state is a struct of its own with named fields, in the style
//
//     struct State {
//         native::CommonState common;  // first member, always
//         PyObject *some_object;       // owned; nullptr until the load sets it
//         int traverse(visitproc visit, void *arg) { Py_VISIT(some_object); return 0; }
//         void clear() { Py_CLEAR(some_object); }
//     };
//
// The interpreter allocates it with the module, zero-filled, and never runs
// a constructor: so it holds plain data only, and the native layer reaches
// `common` through the same pointer because a standard-layout struct starts
// with its first member. Python objects that a module keeps beyond one call
// live here, never in C++ statics, so that the collector sees them and each
// interpreter gets its own.
template <typename State>
constexpr bool is_module_state() {
    return std::is_standard_layout_v<State> && std::is_trivial_v<State> &&
           std::is_same_v<decltype(State::common), CommonState> && offsetof(State, common) == 0;
}

// The state of a module that keeps nothing of its own.
struct BareState {
    CommonState common;
    int traverse(visitproc, void *) { return 0; }
    void clear() {}
};

inline CommonState &common_state(PyObject *module) { return *static_cast<CommonState *>(PyModule_GetState(module)); }

template <typename State>
inline State &module_state(PyObject *module) {
    static_assert(is_module_state<State>(), "a module state starts with `CommonState common` and is plain data");
    return *static_cast<State *>(PyModule_GetState(module));
}

// The module definition's m_traverse, m_clear and m_free. The state is
// absent (nullptr) only for a module object made without executing it.
template <typename State>
int state_traverse(PyObject *module, visitproc visit, void *arg) {
    auto *state = static_cast<State *>(PyModule_GetState(module));
    if (state == nullptr) return 0;
    Py_VISIT(state->common.function_type);
    return state->traverse(visit, arg);
}

template <typename State>
int state_clear(PyObject *module) {
    auto *state = static_cast<State *>(PyModule_GetState(module));
    if (state == nullptr) return 0;
    Py_CLEAR(state->common.function_type);
    state->clear();
    return 0;
}

template <typename State>
void state_free(void *module) {
    state_clear<State>(static_cast<PyObject *>(module));
}

// A class member: a method, or a read-only property whose getter is `spec`.
struct Member {
    enum class Kind { method, property } kind;
    const FunctionSpec *spec;
    py::tuple defaults = py::tuple();
};

inline Member method(const FunctionSpec &spec) { return {Member::Kind::method, &spec}; }
inline Member method(const FunctionSpec &spec, py::tuple defaults) {
    return {Member::Kind::method, &spec, std::move(defaults)};
}
inline Member property(const FunctionSpec &spec) { return {Member::Kind::property, &spec}; }

// The module being executed, with the statements its top level is made of.
class Module {
public:
    explicit Module(PyObject *module);

    // import <name>
    void import(const char *name);
    // import <name> as <alias>
    void import_as(const char *name, const char *alias);
    // from <dots><name> import <names...>  (level = number of dots)
    void from_import(const char *name, int level, std::initializer_list<const char *> names);
    // def <spec.name>(...)
    void def(const FunctionSpec &spec);
    // class <name>(<bases>): <members>, bound as a module global.
    py::object def_class(const char *name, py::tuple bases, std::initializer_list<Member> members);

    void set(const char *name, py::handle value);
    py::object global(const char *name) const;
    PyObject *ptr() const { return module_; }

private:
    PyObject *module_;
    py::dict globals_;
};

using ExecBody = void (*)(Module &);

// Runs `body` as the module's exec slot: any exception becomes the Python
// error that makes the import fail.
int exec_module(PyObject *module, ExecBody body) noexcept;

}  // namespace native

// Qt, the bindings and pybind11 keep per-process state: one interpreter only.
#if PY_VERSION_HEX >= 0x030C0000
#define NATIVE_INTERPRETER_SLOT \
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#else
#define NATIVE_INTERPRETER_SLOT
#endif

// Defines PyInit_<name> for a module whose top level is `body` and whose
// state is the struct `State` (NATIVE_MODULE: one that keeps nothing of its
// own).
#define NATIVE_MODULE_WITH_STATE(name, State, body)                                          \
    static_assert(::native::is_module_state<State>(), "see native::is_module_state");       \
    static int name##_exec(PyObject *m) { return ::native::exec_module(m, body); }          \
    extern "C" __attribute__((visibility("default"))) PyObject *PyInit_##name() {            \
        static PyModuleDef_Slot slots[] = {                                                  \
            {Py_mod_exec, reinterpret_cast<void *>(name##_exec)},                            \
            NATIVE_INTERPRETER_SLOT{0, nullptr}};                                            \
        static PyModuleDef def = {PyModuleDef_HEAD_INIT, #name, nullptr, sizeof(State),       \
                                  nullptr, slots, ::native::state_traverse<State>,           \
                                  ::native::state_clear<State>, ::native::state_free<State>}; \
        return PyModuleDef_Init(&def);                                                       \
    }

#define NATIVE_MODULE(name, body) NATIVE_MODULE_WITH_STATE(name, ::native::BareState, body)
