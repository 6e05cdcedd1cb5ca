// Module ploter: its top level is built in a later step; for now it loads empty.
#include "native/native.hpp"

namespace {
void ploter_body(native::Module &) {}
}  // namespace

NATIVE_MODULE(ploter, ploter_body)
