// The native layer: functions, classes and modules with C++ bodies that
// behave like their Python counterparts.
#pragma once

#include "native/capi.hpp"
#include "native/classes.hpp"
#include "native/function.hpp"
#include "native/module.hpp"
