// The format selectors and the pattern field: Qt widgets with one change
// handler each.
#pragma once

#include "native/native.hpp"

namespace toolbar {

// class FormatCombo(QtWidgets.QComboBox)
void def_format_combo(native::Module &m);
// class XFormatCombo(FormatCombo)
void def_x_format_combo(native::Module &m);
// class YFormatCombo(FormatCombo)
void def_y_format_combo(native::Module &m);
// class LineEdit(QtWidgets.QLineEdit)
void def_line_edit(native::Module &m);

}  // namespace toolbar
