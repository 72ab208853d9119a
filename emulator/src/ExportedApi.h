// The two C APIs the library exports. The library is built with hidden
// visibility, so their declarations are included with default visibility
// here, once for every source file that needs them.
#ifndef KORVANE_EMU_EXPORTED_API_H
#define KORVANE_EMU_EXPORTED_API_H

#pragma GCC visibility push(default)
#include <hidapi.h>
#include "korvane_emu.h"
#pragma GCC visibility pop

#endif
