// Column pattern matching: matched_xy_pairs(patterns, lst).
//
// Turns a pattern text ("x,y" regular expressions separated by ";") and the
// column names into the list of (x, y) pairs whose text "x,y" some pattern
// covers with the match that re.match finds.
#pragma once

#include "native/native.hpp"

namespace toolbar {

extern const native::FunctionSpec matched_xy_pairs_spec;

// Remembers the standard re and itertools objects in the module state
// (toolbar/state.hpp), so that a call can tell whether the module globals
// still name them.
void init_matching_state(native::Module &m);

}  // namespace toolbar
