// Module toolbar: the selection toolbar and its parts. The top-level
// statements below run in this order when the module loads; each class takes
// its base from QtWidgets (or from the module) as its statement runs.
#include "toolbar/bundle.hpp"
#include "toolbar/matching.hpp"
#include "toolbar/toolbar_widget.hpp"
#include "toolbar/widgets.hpp"

namespace {
void toolbar_body(native::Module &m) {
    m.import("itertools");
    m.import("re");
    m.from_import("typing", 0, {"Callable"});
    m.from_import("config", 1, {"style"});
    m.from_import("qt_compat", 1, {"AlignRight", "QtWidgets"});
    toolbar::init_matching_state(m);
    m.def(toolbar::matched_xy_pairs_spec);
    toolbar::def_format_combo(m);
    toolbar::def_x_format_combo(m);
    toolbar::def_y_format_combo(m);
    toolbar::def_line_edit(m);
    toolbar::def_selection_bundle(m);
    toolbar::def_tool_bar(m);
}
}  // namespace

NATIVE_MODULE(toolbar, toolbar_body)
