#pragma once
// Helpers of the driver tests, defined in format_test.cpp.
#include <vector>

#include "Lib/Include/types.h"

namespace board_devices_test {
// Register writes to one address since the trace was cleared.
std::vector<u32> writesTo(u32 adr);
// The driver core in a format code under a stored board mode, the models afresh.
void useFormat(int code, int boardMode);
}  // namespace board_devices_test
