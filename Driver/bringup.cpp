#include "Driver/bringup.h"

#include "platform.h"

int mxBoardVersion() { return (platform::readMem32(0xFFFF0000) & (1u << 13)) != 0 ? 1 : 2; }

void mxBringUpRestart() { platform::endRun(platform::EndReason::Restart, 1); }
