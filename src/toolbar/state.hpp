// The toolbar module's state: what it keeps beyond one call.
#pragma once

#include "native/native.hpp"

namespace toolbar {

// The standard objects as the module loaded them, so that matched_xy_pairs
// can tell whether the module globals `re` and `itertools` (and their
// `match` and `product`) still name them (matching.cpp). All owned; all
// nullptr when the load failed before they were remembered.
struct State {
    native::CommonState common;
    PyObject *std_re;
    PyObject *std_re_match;
    PyObject *std_re_compile;
    PyObject *std_itertools;
    PyObject *std_product;

    int traverse(visitproc visit, void *arg) {
        Py_VISIT(std_re);
        Py_VISIT(std_re_match);
        Py_VISIT(std_re_compile);
        Py_VISIT(std_itertools);
        Py_VISIT(std_product);
        return 0;
    }
    void clear() {
        Py_CLEAR(std_re);
        Py_CLEAR(std_re_match);
        Py_CLEAR(std_re_compile);
        Py_CLEAR(std_itertools);
        Py_CLEAR(std_product);
    }
};

inline State &state_of(PyObject *module) { return native::module_state<State>(module); }

}  // namespace toolbar
