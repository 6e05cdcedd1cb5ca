// Module toolbar.
#include "toolbar/matching.hpp"

namespace {
void toolbar_body(native::Module &m) {
    m.import("itertools");
    m.import("re");
    m.from_import("typing", 0, {"Callable"});
    m.from_import("config", 1, {"style"});
    m.from_import("qt_compat", 1, {"AlignRight", "QtWidgets"});
    m.def(toolbar::matched_xy_pairs_spec);
}
}  // namespace

NATIVE_MODULE(toolbar, toolbar_body)
