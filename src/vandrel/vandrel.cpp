// Module vandrel: its top level is built in a later step; for now it loads empty.
#include "native/native.hpp"

namespace {
void vandrel_body(native::Module &) {}
}  // namespace

NATIVE_MODULE(vandrel, vandrel_body)
