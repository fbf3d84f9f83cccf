#pragma once
// Registers the temperature and DDR3 monitor uses, at the same offsets in each video FPGA: the die
// temperature sensor, the DDR3 ports' calibration control and the DDR3 test engine.
#include "Lib/Include/types.h"

// Temperature sensor: a write of 0 starts a conversion; busy while MONITOR_TEMP_BUSY is set in
// MONITOR_TEMP_CONTROL; the 12-bit code in bits 4..15 of MONITOR_TEMP_CODE.
constexpr u32 MONITOR_TEMP_CONTROL = 0x80, MONITOR_TEMP_DATA = 0x84, MONITOR_TEMP_CODE = 0x88;
constexpr u32 MONITOR_TEMP_BUSY = 1u << 15;

// DDR3 port p at MONITOR_PORT_0 + MONITOR_PORT_STRIDE x p: command word, status (bit 2 calibrated).
constexpr u32 MONITOR_PORT_0 = 0x100, MONITOR_PORT_STRIDE = 0x100;
constexpr u32 MONITOR_PORT_STATUS = 0x04;
constexpr u32 MONITOR_CALIBRATED = 1u << 2;
// Calibration: reset, start, reset; idle once calibrated.
constexpr u32 MONITOR_CAL_RESET = 0x40, MONITOR_CAL_START = 0x44, MONITOR_CAL_IDLE = 0;

// Test engine: region start (bit 31 selects port 1), length command (region size - 0x100 writes the
// pattern, size - 0xFF reads and compares), status (bits 0..1 busy, 16..31 errors), pattern, and
// the first wrong word found with the word expected there.
constexpr u32 MONITOR_TEST_REGION = 0x310, MONITOR_TEST_COMMAND = 0x314, MONITOR_TEST_STATUS = 0x318,
              MONITOR_TEST_PATTERN = 0x31C, MONITOR_TEST_FOUND = 0x320, MONITOR_TEST_EXPECTED = 0x324;
constexpr u32 MONITOR_TEST_BUSY = 3, MONITOR_TEST_ERROR_SHIFT = 16;
constexpr u32 MONITOR_TEST_WRITE = 0x100, MONITOR_TEST_READ = 0xFF;  // subtracted from the region size
