// The toolbar module's state: what it keeps beyond one call, one slot each.
#pragma once

#include "native/native.hpp"

namespace toolbar {

// The standard objects as the module loaded them, so that matched_xy_pairs
// can tell whether the module globals `re` and `itertools` (and their
// `match` and `product`) still name them (matching.cpp).
enum class StateSlot {
    std_re,
    std_re_match,
    std_re_compile,
    std_itertools,
    std_product,
    count
};

}  // namespace toolbar
