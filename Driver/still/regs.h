#pragma once
// Registers of the still players and the capture path in the mixer (ME1) FPGA.
#include "Lib/Include/memory_map.h"

namespace still_regs {

// Player words of stills 1..4. In the paired-FPGA mode still 1 uses PLAYER[0] and still 2
// PLAYER[2], each written to that word and the next one.
constexpr u32 PLAYER[4] = {MX_ME1_BASE + 0x1200, MX_ME1_BASE + 0x1204, MX_ME1_BASE + 0x1280, MX_ME1_BASE + 0x1284};

// Capture control (the capture mode flag while a capture runs, 1 when idle) and the two store
// words of the still windows (whose other words mxStillInitialize sets).
constexpr u32 CAPTURE_CONTROL = MX_ME1_BASE + 0x1000;
constexpr u32 CAPTURE_STORE = MX_ME1_BASE + 0x1100, CAPTURE_STORE_2 = MX_ME1_BASE + 0x1120;
constexpr u32 CAPTURE_IDLE = 1;

// Store word of still s: STORE_BASE + STORE_STRIDE x s. A player showing a valid store adds
// (valid word + 127) << VALID_SHIFT; field mode clears the FIELD_CLEAR bits outside 720-line formats.
constexpr u32 STORE_BASE = 3092, STORE_STRIDE = 512, VALID_SHIFT = 8, FIELD_CLEAR = 0xC;
// An enabled player, in 720-line formats and the paired-FPGA mode, or in the others.
constexpr u32 SHOW_720 = 0x8A08, SHOW = 0x8A14;
// The second store word of an idle capture (720-line or paired, other), and the bit that a
// running capture adds.
constexpr u32 IDLE_STORE_2_720 = 0x0A08, IDLE_STORE_2 = 0x0A14;
constexpr u32 WRITING = 0x8000;

}  // namespace still_regs
