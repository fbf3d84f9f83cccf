#pragma once
// Registers of the two colour background generators of the ME2 FPGA and their shared table port.
#include "Lib/Include/types.h"

namespace cbgd_regs {

constexpr u32 GENERATOR[2] = {0x83001440, 0x83001480};  // MX_CBGD_1, MX_CBGD_2

// Offsets in a generator.
constexpr u32 CONTROL = 0;  // CONTROL_* below
constexpr u32 HSTEP = 4, VSTEP = 8, PHASE = 12;
constexpr u32 LEVEL_Y = 32, LEVEL_CB = 36, LEVEL_CR = 40;  // colour 1, or the curve offsets
constexpr u32 DIFF_Y = 48, DIFF_CB = 52, DIFF_CR = 56;     // colour 2 - colour 1, or the curve gains
constexpr u32 CONTROL_WASH = 0, CONTROL_WASH2 = 1, CONTROL_CURVE = 2;

// Waveform tables: the address, then the data words in order.
constexpr u32 TABLE_ADDRESS = 0x83001410, TABLE_DATA = 0x83001414;
constexpr u32 TABLE_BARS = 0, TABLE_COSINE = 1024, TABLE_RAMP = 1280, TABLE_SHIFTED_COSINE = 1536, TABLE_HUE = 1792;
constexpr int TABLE_ENTRIES = 256;
constexpr int STEP_SHIFT = 10;  // data word: value | (step to the next entry & 255) << STEP_SHIFT

}  // namespace cbgd_regs
