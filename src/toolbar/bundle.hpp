// The selection bundle: one row of selection widgets of the toolbar.
#pragma once

#include "native/native.hpp"

namespace toolbar {

// class SelectionBundle
void def_selection_bundle(native::Module &m);

}  // namespace toolbar
