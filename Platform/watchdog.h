#pragma once
// Board model of the hardware watchdog: armed with 0x5AF0 + seconds (1..15) at 0x40000030,
// disarmed with 0x5AF0, kicked with 0xA5F0 at 0x40000034. When it expires the run of main ends
// with platform::endRun(Restart), and keeps ending it until the model is attached again.
#include "Platform/platform.h"

namespace platform {

constexpr u32 WDT_CONTROL = 0x40000030;
constexpr u32 WDT_KICK = 0x40000034;

void watchdogAttach();
void watchdogDetach();
bool watchdogArmed();
u32 watchdogSeconds();

}  // namespace platform
