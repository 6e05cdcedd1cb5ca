// The toolbar: mode switch, two selection bundles, "AR" and "CLR" buttons and
// the published selection state, in one grid row.
#pragma once

#include "native/native.hpp"

namespace toolbar {

// class ToolBar(QtWidgets.QWidget)
void def_tool_bar(native::Module &m);

}  // namespace toolbar
