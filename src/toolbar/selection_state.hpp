// The toolbar's published selection state: the members of ToolBar that turn
// the active bundle into xypairs, formats, log choices and change flags.
#pragma once

#include "native/native.hpp"

namespace toolbar::selection_state {

extern const native::FunctionSpec column_names_spec;  // property
extern const native::FunctionSpec selections_spec;    // property
extern const native::FunctionSpec set_trace_text_spec;
extern const native::FunctionSpec set_point_text_spec;
extern const native::FunctionSpec sharexy_spec;
extern const native::FunctionSpec refresh_comb_spec;
extern const native::FunctionSpec link_edited_spec;
extern const native::FunctionSpec generate_xyfm_spec;
extern const native::FunctionSpec text_edited_spec;

}  // namespace toolbar::selection_state
