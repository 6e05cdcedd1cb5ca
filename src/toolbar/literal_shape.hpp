// The literal shape of a regular expression: what the literal text at the
// top level of a pattern says about every text that re.match of the pattern
// covers in full (the fast road of matched_xy_pairs, matching.cpp).
//
// Soundness rule: a shape may claim less than the pattern requires, never
// more. Every fact it states (prefix, suffix, inner pieces, exactness) holds
// for every text the pattern accepts; wherever the reader does not
// understand the pattern it states nothing, so a candidate the shape rules
// out is one the pattern would have refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace toolbar {

// An empty shape (no prefix, no suffix, nothing inner, not exact) claims
// nothing: every text may be accepted.
struct LiteralShape {
    bool exact = false;                 // the pattern is plain text: it accepts `prefix` only
    std::u32string prefix;              // each accepted text starts with it
    std::u32string suffix;              // each accepted text ends with it
    std::vector<std::u32string> inner;  // each accepted text contains every one of them
};

LiteralShape literal_shape(std::u32string_view pattern);

}  // namespace toolbar
