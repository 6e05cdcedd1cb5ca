// Column pattern matching: matched_xy_pairs(patterns, lst).
#pragma once

#include "native/native.hpp"

namespace toolbar {

extern const native::FunctionSpec matched_xy_pairs_spec;

}  // namespace toolbar
