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

constexpr std::size_t max_refs = 24;

// Per-module state. Python objects that a module keeps beyond one call live
// here, never in C++ statics, so that the collector sees them and each
// interpreter gets its own.
struct ModuleState {
    PyObject *function_type;
    PyObject *refs[max_refs];  // reached through state_ref/set_state_ref only
};

// A module names its slots with one enum class of its own whose last
// enumerator is `count`; the accessors take that enum only, and a module
// whose slots outgrow the state does not compile.
template <typename Slot>
constexpr std::size_t slot_index(Slot slot) {
    static_assert(std::is_enum_v<Slot> && !std::is_convertible_v<Slot, int>,
                  "module state slots are named by an enum class");
    static_assert(static_cast<std::size_t>(Slot::count) <= max_refs,
                  "the module's state slots do not fit into ModuleState::refs");
    return static_cast<std::size_t>(slot);
}

// Borrowed; nullptr until set (a failed load leaves later slots unset).
template <typename Slot>
inline PyObject *state_ref(const ModuleState &state, Slot slot) {
    return state.refs[slot_index(slot)];
}

template <typename Slot>
inline void set_state_ref(ModuleState &state, Slot slot, py::handle value) {
    Py_XSETREF(state.refs[slot_index(slot)], Py_XNewRef(value.ptr()));
}

ModuleState &module_state(PyObject *module);

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
    ModuleState &state() const { return module_state(module_); }
    PyObject *ptr() const { return module_; }

private:
    PyObject *module_;
    py::dict globals_;
};

using ExecBody = void (*)(Module &);

// Runs `body` as the module's exec slot: any exception becomes the Python
// error that makes the import fail.
int exec_module(PyObject *module, ExecBody body) noexcept;

int state_traverse(PyObject *module, visitproc visit, void *arg);
int state_clear(PyObject *module);
void state_free(void *module);

}  // namespace native

// Qt, the bindings and pybind11 keep per-process state: one interpreter only.
#if PY_VERSION_HEX >= 0x030C0000
#define NATIVE_INTERPRETER_SLOT \
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#else
#define NATIVE_INTERPRETER_SLOT
#endif

// Defines PyInit_<name> for a module whose top level is `body`.
#define NATIVE_MODULE(name, body)                                                    \
    static int name##_exec(PyObject *m) { return ::native::exec_module(m, body); }  \
    extern "C" __attribute__((visibility("default"))) PyObject *PyInit_##name() {    \
        static PyModuleDef_Slot slots[] = {                                          \
            {Py_mod_exec, reinterpret_cast<void *>(name##_exec)},                    \
            NATIVE_INTERPRETER_SLOT{0, nullptr}};                                    \
        static PyModuleDef def = {PyModuleDef_HEAD_INIT, #name, nullptr,              \
                                  sizeof(::native::ModuleState), nullptr, slots,     \
                                  ::native::state_traverse, ::native::state_clear,   \
                                  ::native::state_free};                             \
        return PyModuleDef_Init(&def);                                               \
    }
