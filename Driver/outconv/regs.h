#pragma once
// Registers of the SD down-converters of the SDI FPGAs (unit 0 in SDI1 for MX_OUT_14, unit 1 in
// SDI2 for MX_OUT_16): the converter with its filter tables, the output's SDI transmitter, the
// coefficient block, and the set-up words of the SD output path.
#include "Lib/Include/memory_map.h"

namespace outconv_regs {

constexpr u32 FPGA[2] = {MX_SDI1_BASE, MX_SDI2_BASE};
constexpr u32 CONVERTER = 0x3800, TRANSMITTER = 0xB00, COEFFS = 0x3000;  // blocks, from FPGA[unit]

// ---- Converter ------------------------------------------------------------------------------------
// Filter tables: TABLE_SELECT picks a table, then its words go to TABLE_DATA in order.
constexpr u32 TABLE_SELECT = 0, TABLE_DATA = 4;
constexpr u32 SELECT_HORIZONTAL_1 = 0xFFFFFFFF, SELECT_HORIZONTAL_2 = 2047, SELECT_VERTICAL = 0xFFF;
constexpr u32 PROGRESSIVE = 8;  // 1 for the 720-line formats
constexpr u32 H_RATIO = 16, LINE_END = 20, V_RATIO = 24, LINES = 28;  // ratios x 32768
constexpr u32 H_CROP = 32, V_OFFSET = 36, H_PHASE = 40, V_PHASE = 44;
constexpr u32 PHASE_MODE = 48, SCALE_MODE = 52;
constexpr u32 RESET_A = 256, LOCK = 260, PHASE_A = 272, PHASE_B = 276, RESET_B = 280;
constexpr u32 LOCKED_BITS = 7;  // LOCK bits 0..2, or-ed with the transmitter's lock bits x 2

// ---- SDI transmitter --------------------------------------------------------------------------------
constexpr u32 TX_MODE = 76;     // TX_MODE_ON or TX_MODE_OFF
constexpr u32 TX_ENABLE = 96;
constexpr u32 TX_RESET = 112;   // the re-lock steps
constexpr u32 TX_LOCK = 116;
constexpr u32 TX_MODE_ON = 21, TX_MODE_OFF = 85;

// ---- Coefficient block ----------------------------------------------------------------------------
constexpr u32 V_WINDOW_FIRST = 1044, V_WINDOW_LAST = 1048;

// ---- Set-up words of the SD output path (from FPGA[unit]), written as the format initialisation
// gives them --------------------------------------------------------------------------------------
constexpr u32 SD_FORMAT = 0xE00;  // 5 for the 50 Hz formats 1, 3, 5, else 4
constexpr u32 SD_ENABLE = 0x4F00;
constexpr u32 SD_SYNC = 0x594, SD_TX_TIMING = 0x5CC, SD_TX_DELAY = 0x5D0, SD_TX_LIMIT = 0x5A0;
constexpr u32 SD_TIMING = 0xE80;  // three words
constexpr u32 SD_OUTPUT_DELAY = 0xEC0;
constexpr u32 SD_FRAME = COEFFS + 0x300;   // words 0..7: control, ..., lines at word 7
constexpr u32 SD_WINDOW = COEFFS + 0x400;  // control, then the width at + 0x10

}  // namespace outconv_regs
