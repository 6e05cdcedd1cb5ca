// Module toolbar: the selection toolbar and its parts. The top-level
// statements below run in this order when the module loads; each class takes
// its base from QtWidgets (or from the module) as its statement runs.
//
// Short names the module inherits and keeps, since the host and its users
// reach them by these names:
//   ps, ts  the ToolBar's two SelectionBundles: the points bundle (mode "P")
//           and the traces bundle (mode "T"); each keeps its own pattern,
//           formats and boxes.
//   stx     a bundle's selection text: the LineEdit holding its X;Y patterns.
//   rm4l    "remove from layout": SelectionBundle.rm4l() takes the bundle's
//           seven widgets off the toolbar's grid (it keeps them).
//   a2l     "add to layout": SelectionBundle.a2l(layout) places them again.
//   AR      the ToolBar's "AR" (auto range) button, wired to the host.
//   CR      the ToolBar's "CLR" button, which clears the history plots; its
//           slot CR_action raises CR_flag for the host to read.
#include "toolbar/bundle.hpp"
#include "toolbar/matching.hpp"
#include "toolbar/state.hpp"
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

NATIVE_MODULE_WITH_STATE(toolbar, toolbar::State, toolbar_body)
