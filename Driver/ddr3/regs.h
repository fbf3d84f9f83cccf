#pragma once
// Registers of the DDR3 memory controllers, at the same offsets in the ME and SDI FPGAs (bases in
// Lib/Include/memory_map.h): a control word, up to two memory ports and a test engine.
#include "Lib/Include/memory_map.h"

// Version words logged before the bring-up.
constexpr u32 GLUE_VERSION = MX_GLUE_BASE;
constexpr u32 BOARD_VERSION = MX_BOARD_BASE;

constexpr u32 DDR3_CONTROL = 0x04;     // reset bits
constexpr u32 DDR3_CALIBRATED = 0x90;  // 1 once every port calibrated
// Reset bits of the control word: an ME FPGA's ports and its bit 3 (cleared once both ports
// started), the single port of an SDI FPGA.
constexpr u32 DDR3_RESET_ME = 7, DDR3_RESET_SDI = 1, DDR3_ME_HOLD = 1u << 3;

// Memory port p at DDR3_PORT_0 + DDR3_PORT_STRIDE x p.
constexpr u32 DDR3_PORT_0 = 0x100, DDR3_PORT_1 = 0x200, DDR3_PORT_STRIDE = 0x100;
constexpr u32 DDR3_PORT_COMMAND = 0x00;
constexpr u32 DDR3_PORT_STATUS = 0x04;          // bits 0..1 set: started; 7: calibrated
constexpr u32 DDR3_PORT_MODE = 0x20;
constexpr u32 DDR3_PORT_MODE_2 = 0x24;
constexpr u32 DDR3_PORT_COUNT_CONTROL = 0x30;   // bandwidth counters: 1 clears, 0 lets them run
constexpr u32 DDR3_PORT_IDLE_COUNT = 0x34;      // idle cycles
constexpr u32 DDR3_PORT_TRANSFER_COUNT = 0x38;  // 256-byte transfers
constexpr u32 DDR3_PORT_CAL_ERROR = 0x50;
constexpr u32 DDR3_PORT_CAL_RESULT = 0x80;      // four rows of four words
// Port commands: reset and start, then calibration reset and start; idle ends the calibration.
constexpr u32 DDR3_CMD_RESET = 255, DDR3_CMD_START = 252, DDR3_CMD_CAL_RESET = 60, DDR3_CMD_CAL_START = 48,
              DDR3_CMD_IDLE = 0;
// Port mode for the 40 parameter, else the other one.
constexpr u32 DDR3_MODE_40 = 3, DDR3_MODE_OTHER = 1;

// Test engine: port select, command, status (bits 0..1 busy, 16..31 errors), pattern, the first wrong
// word found and the word expected there.
constexpr u32 DDR3_TEST = 0x300;
constexpr u32 DDR3_TEST_SELECT = 0x10, DDR3_TEST_COMMAND = 0x14, DDR3_TEST_STATUS = 0x18,
              DDR3_TEST_PATTERN = 0x1C, DDR3_TEST_FOUND = 0x20, DDR3_TEST_EXPECTED = 0x24;
constexpr u32 DDR3_TEST_PORT_1 = 1u << 31;  // in DDR3_TEST_SELECT
constexpr u32 DDR3_TEST_WRITE = 0xFFFF00, DDR3_TEST_READ = 0xFFFF01, DDR3_TEST_CLEAR = 0x1FFFFF00;
