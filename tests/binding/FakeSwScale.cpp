// A stand-in for the scaling library that exports every name the loader resolves except the one
// its version script hides: the loader must refuse it and name the missing entry point.
#include "binding/EntryPointLists.h"

#define DZ_DEFINE_EMPTY(fn) \
    extern "C" void fn() {}
SWSCALE_ENTRY_POINTS(DZ_DEFINE_EMPTY)
