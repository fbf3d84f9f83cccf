#pragma once
// Registers of the two DVI inputs in the SDI FPGAs (input 1 in SDI1, input 2 in SDI2): the timing
// detector and the scaler of each input, and the input's words in its FPGA.
#include "Lib/Include/memory_map.h"

namespace dvi_regs {

constexpr u32 FPGA[2] = {MX_SDI1_BASE, MX_SDI2_BASE};
constexpr u32 INPUT[2] = {MX_SDI1_BASE + 0x1100, MX_SDI2_BASE + 0x1100};  // detector and scaler

// ---- Words of the FPGA -------------------------------------------------------------------------------
// The receivers' reset: RESET_HOLD, then RESET_RUN. The same word starts the FPGA's clock part
// (Driver/i2c/regs.h) with its other bit.
constexpr u32 RESET = 0x10;
constexpr u32 RESET_HOLD = 2, RESET_RUN = 3;
constexpr u32 OPTION_ON = 0x50, OPTION_FLAG = 0x54;

// ---- Timing detector (from INPUT[k]) -----------------------------------------------------------------
constexpr u32 TOTAL_PIXELS = 128;
constexpr u32 TOTAL_LINES = 132;  // LINES_MASK, INTERLACED, the second field's lines from SECOND_FIELD
constexpr u32 ACTIVE_PIXELS = 136;
constexpr u32 ACTIVE_LINES = 140;  // LINES_MASK, the second field's lines from SECOND_FIELD
constexpr u32 PERIOD = 144;        // vertical period in 20 ns units, 0 without signal
constexpr u32 LOCK = 152;
constexpr u32 LINES_MASK = 0x7FFF, INTERLACED = 0x8000, SECOND_FIELD = 16;

// ---- Scaler (from INPUT[k]) -------------------------------------------------------------------------------
constexpr u32 CONTROL = 0, CONTROL_2 = 256;  // CONTROL_VALUE
constexpr u32 LOAD = 4;                      // 1, then 0
constexpr u32 TABLE_ADDRESS = 8, TABLE_DATA = 12;
constexpr u32 H_MODE = 16;                   // H_MODE_* below
constexpr u32 APPLY = 20;                    // APPLY_HOLD or APPLY_TAKE, then 0
constexpr u32 H_START = 24, H_SOURCE_END = 28, H_SOURCE_WIDTH = 32;
constexpr u32 H_STEP = 36, H_PHASE = 40, H_TAP = 44;  // steps and phases x 32768
constexpr u32 V_STEP = 52, V_BASE = 56, V_PHASE = 60, V_START = 64;
constexpr u32 SYNC_ON = 72, RANGE = 76;
constexpr u32 SYNC_H_START = 112, SYNC_H_END = 116, SYNC_V_START = 120, SYNC_V_END = 124;  // V: field 2 << 16
constexpr u32 OUT_X = 264, OUT_WIDTH = 268, OUT_HEIGHT = 272, OUT_Y = 276, V_DOWN_STEP = 280;
constexpr u32 V_GAIN = 284, GAIN_A = 288, GAIN_B = 292, FIELD_MODE = 296;

constexpr u32 CONTROL_VALUE = 35840;
constexpr u32 APPLY_TAKE = 1, APPLY_HOLD = 2;
constexpr u32 H_MODE_DOWN = 1, H_MODE_INTERLACED = 2;
constexpr u32 UNITY = 32768;  // a step of 1.0
constexpr u32 V_BASE_INTERLACED = 32768, V_BASE_PROGRESSIVE = 49152;

}  // namespace dvi_regs
