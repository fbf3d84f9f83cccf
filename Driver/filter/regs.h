#pragma once
// Registers of the filter blocks: the resizing filters and scalers of the ME background buses and
// keys, their coefficient ports and line windows, the image effect of the B bus, the bus test
// effects and dust. Offsets in an ME bank are added to mxMeBase(me); the AUX output and extended
// display filters sit at fixed addresses.
#include "Lib/Include/types.h"

namespace filter_regs {

// ---- Slots (offsets in an ME bank) ----
constexpr u32 BKGD_A_FILTER = 0x5A20, BKGD_A_SCALER = 0x4100, BKGD_A_ENABLE = 0x5810;
constexpr u32 BKGD_B_FILTER = 0x5A40, BKGD_B_SCALER = 0x4120, BKGD_B_ENABLE = 0x5814;
// Key k (0..3): filter and optional register at + KEY_STRIDE k.
constexpr u32 KEY_FILTER = 0x6320, KEY_OPTION = 0x6000, KEY_STRIDE = 0x800;
constexpr u32 KEY_SCALER[4] = {0x4300, 0x4320, 0x4380, 0x43A0};
// Fixed slots: the AUX output filter (glue FPGA) and the extended display filter.
constexpr u32 AUX_OUT_FILTER = 0x40004120, AUX_OUT_SCALER = 0x40004200;
constexpr u32 DISPLAY_FILTER = 0x82002220, DISPLAY_SCALER = 0x82002300;

// Scaler init codes (written with INIT_ON).
constexpr u32 INIT_BKGD_A = 2048, INIT_BKGD_B = 2560;
constexpr u32 INIT_KEY[4] = {4096, 5120, 6144, 7168};
constexpr u32 INIT_AUX_OUT = 15872, INIT_DISPLAY = 4864;
constexpr u32 INIT_ON = 0x8000;

// ---- Scaler block ----
constexpr u32 SCALER_INIT = 0;
constexpr u32 SCALER_LEFT = 4;      // even column of the first pixel
constexpr u32 SCALER_TOP = 8;       // first line - 1
constexpr u32 SCALER_MODE = 16;     // SCALER_MODE_VALUE
constexpr u32 SCALER_ENABLE = 20;   // 1
constexpr u32 SCALER_COLUMNS = 24;  // columns + 4
constexpr u32 SCALER_ROWS = 28;     // rows + 4
constexpr u32 SCALER_INIT2 = 32;    // second init word of the fixed slots
// Second output of the fixed slots.
constexpr u32 SCALER_OUT_WIDTH = 36;  // extended display: the output width code
constexpr u32 SCALER_OUT_LEFT = 36;   // AUX output: the first column again
constexpr u32 SCALER_OUT_TOP = 40;
constexpr u32 SCALER_OUT_MODE = 48, SCALER_OUT_ENABLE = 52, SCALER_OUT_COLUMNS = 56, SCALER_OUT_ROWS = 60;
constexpr u32 SCALER_MODE_VALUE = 2048;
constexpr u32 AUX_OUT_TOP_OFFSET = 543, AUX_OUT_ROWS = 361, AUX_OUT_FULL_ROWS = 545;
constexpr u32 DISPLAY_WIDTH_SD = 384, DISPLAY_WIDTH_HD = 640;

// ---- Filter block ----
constexpr u32 FILTER_HSTEP = 0, FILTER_VSTEP = 4;
constexpr u32 FILTER_HPHASE0 = 8, FILTER_HPHASE1 = 12;
constexpr u32 FILTER_VPHASE0 = 16, FILTER_VPHASE1 = 20;
constexpr u32 FILTER_SHIFT = 24;    // (n(vertical step) << 8) | n(horizontal step)
constexpr u32 FILTER_CONTROL = 28;  // bit 0 image effect, bit 1 key flags A and B
constexpr u32 KEY_DVE_HSTEP = 29127, KEY_DVE_HSTEP_50 = 32768, KEY_DVE_VSTEP = 32768;

// ---- Coefficient ports ----
constexpr u32 PORT_ADDRESS = 0, PORT_DATA = 4, PORT_WIDTH = 8, PORT_HEIGHT = 12;
constexpr u32 ME_PORTS[5] = {0x5A00, 0x6300, 0x6B00, 0x7300, 0x7B00};
constexpr u32 FIXED_PORTS[3] = {0x83001C00, 0x40004100, 0x82002200};
constexpr u32 BANK_SHIFT = 10;
constexpr u32 HEIGHT_480_FLAG = 0x8000;

// ---- Line windows (offsets in an ME bank, then in a window) ----
constexpr u32 WINDOW[2] = {0x4900, 0x4B00};
constexpr u32 WINDOW_SETUP_A = 0x4920, WINDOW_SETUP_B = 0x4924;  // 4 and 1, before window 0
constexpr u32 WINDOW_WIDTH = 0x50;
constexpr u32 WINDOW_RANGE[4] = {0x54, 0x60, 0x68, 0x70};      // start, end + 4
constexpr u32 WINDOW_BLOCK = 0x90, WINDOW_BLOCK_STRIDE = 32;    // mode, start, width, end
constexpr u32 WINDOW_BLOCK_MODE = 2048;
constexpr u32 WINDOW_TAIL[2] = {0x4A24, 0x4B24};                 // TAIL_WORDS at + 0, + 4, + 8
constexpr u32 WINDOW_TAIL_WORDS[3] = {0x200008A, 0, 4096};

// ---- Bus test effects (bus 0 A, 1 B) and dust (0 background, 1 key 1) ----
constexpr u32 BUS_VALUE = 0x4900, BUS_VALUE_STRIDE = 4;
constexpr u32 BUS_CONTROL1 = 0x4980, BUS_CONTROL1_STRIDE = 32;
constexpr u32 BUS_CONTROL2 = 0x4940, BUS_CONTROL2_STRIDE = 4;
constexpr u32 BUS_GAIN_CODE = 3620, BUS_MODE_CODE = 3588;  // + bus
constexpr u32 BUS_START = 0x20000, BUS_RUN = 0x40000;
constexpr u32 BUS_MODE1_CLEAR = 4;
constexpr u32 DUST_VALUE[2] = {0x4948, 0x494C};
constexpr u32 DUST_CONTROL1[2] = {0x49C0, 0x49E0};
constexpr u32 DUST_CONTROL2[2] = {0x4A00, 0x4A04};
constexpr u32 DUST_CODE = 3716;  // + 0 background, + 1 key 1
constexpr u32 ACTIVE = 32768;
constexpr u32 GAIN_BASE = 0x10000;
constexpr int DUST_SHIFT = 12;

}  // namespace filter_regs
