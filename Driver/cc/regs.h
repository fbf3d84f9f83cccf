#pragma once
// Registers of the colour correction units of the SDI FPGAs: eight on inputs, four on outputs.
#include "Lib/Include/memory_map.h"

namespace cc_regs {

// Register blocks: inputs 0..3 on SDI1 and 4..7 on SDI2, UNIT_STRIDE apart; outputs two on each.
constexpr u32 INPUT_UNITS[2] = {MX_SDI1_BASE + 0x2000, MX_SDI2_BASE + 0x2000};
constexpr u32 OUTPUT_UNITS[2] = {MX_SDI1_BASE + 0x2200, MX_SDI2_BASE + 0x2200};
constexpr u32 UNIT_STRIDE = 0x40;

// Words of a unit, 4 bytes apart from its base.
constexpr u32 ENABLE = 0;       // the enable value; + CURVE_LOAD after the curves are loaded
constexpr u32 MATRIX_MODE = 1;  // colour-space mode
constexpr u32 COEFF = 2;        // six coefficients, words 2..7
constexpr u32 TIMING_A = 8, ZERO_A = 9, ZERO_B = 10, TIMING_B = 11;
constexpr u32 TABLE_ADDRESS = 12, TABLE_DATA = 13;  // port of the curves and sector matrices
constexpr u32 LEVEL_GAIN = 14, PEDESTAL = 15;

constexpr u32 CURVE_LOAD = 0x7000;
// Table address of curve c: c << CURVE_SHIFT. Sector matrices: (slot + (q + SECTOR_BASE) x 4) x 4
// for hue quadrant q and slot 0, 1 (which fills 2 as well) or 3.
constexpr u32 CURVE_SHIFT = 9, SECTOR_BASE = 96;
// Ring position of curve entry 0: position 0 holds entry 256 - CURVE_ROTATION.
constexpr int CURVE_ROTATION = 160;
// Timing words for the 480/576-line formats and for the others.
constexpr u32 TIMING_A_SD = 2021, TIMING_A_HD = 1931, TIMING_B_SD = 2555, TIMING_B_HD = 2275;
// Register levels: curve values (x 4096) above the top or below the bottom code; level gain and
// pedestal are stored x LEVEL_SCALE.
constexpr u16 CURVE_TOP = 10240, CURVE_BOTTOM = 0xE801;
constexpr int LEVEL_SCALE = 16;

}  // namespace cc_regs
