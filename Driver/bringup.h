#pragma once
// What the power-on bring-up needs of the driver core: the board version and the restart.
#include "types.h"

int mxBoardVersion();
[[noreturn]] void mxBringUpRestart();
