#include "toolbar/matching.hpp"

namespace toolbar {
namespace py = pybind11;

namespace {
py::object matched_xy_pairs(const native::Call &) { return py::list(); }
}  // namespace

const native::FunctionSpec matched_xy_pairs_spec{
    "matched_xy_pairs",
    matched_xy_pairs,
    {{"patterns", "str", native::Exact::str}, {"lst", "list[str]", native::Exact::list}},
    "list[tuple[str, str]]"};

}  // namespace toolbar
