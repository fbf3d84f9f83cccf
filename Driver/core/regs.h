#pragma once
// Registers of the driver core: the glue FPGA's frame, interrupt, watchdog and format timing
// registers, the board control words, and the per-FPGA temperature, clock PLL, field and window
// registers that the format initialisation writes. Register spaces: Lib/Include/memory_map.h.
#include "Lib/Include/memory_map.h"

// ---- Glue FPGA ------------------------------------------------------------------------------------
constexpr u32 GLUE_IRQ_STATUS = MX_GLUE_BASE + 0x10;    // write one to clear
constexpr u32 GLUE_FRAME_PERIOD = MX_GLUE_BASE + 0x14;  // 50 x frame period (us) - 50000
constexpr u32 GLUE_IRQ_ENABLE = MX_GLUE_BASE + 0x18;
constexpr u32 GLUE_BOARD_ID = MX_GLUE_BASE + 0x1C;      // 0 on the supported board
constexpr u32 GLUE_WDT_CONTROL = MX_GLUE_BASE + 0x30;   // WDT_CONTROL_KEY + seconds arms, the key alone disarms
constexpr u32 GLUE_WDT_KICK = MX_GLUE_BASE + 0x34;      // WDT_KICK_KEY
constexpr u32 WDT_CONTROL_KEY = 0x5AF0;
constexpr u32 WDT_KICK_KEY = 0xA5F0;
constexpr u32 GLUE_XADC = MX_GLUE_BASE + 0x80;          // temperature port (XADC_* below)
constexpr u32 GLUE_HANDOFF_CONTROL = MX_GLUE_BASE + 0x4200;
constexpr u32 GLUE_PLL = MX_GLUE_BASE + 0x4400;         // clock PLL port (PLL_* below)
constexpr u32 GLUE_FIELD = MX_GLUE_BASE + 0x4510;       // field bits (FIELD_* below)
// Format timing: control word, mode, four timing values, and the 256-word format table loaded
// through one data register while the table control reads FORMAT_TABLE_LOAD.
constexpr u32 GLUE_TIMING_CONTROL = MX_GLUE_BASE + 0x4800;
constexpr u32 GLUE_TIMING_MODE = MX_GLUE_BASE + 0x4804;
constexpr u32 GLUE_TIMING_VALUES = MX_GLUE_BASE + 0x4810;
constexpr u32 GLUE_FORMAT_TABLE_CONTROL = MX_GLUE_BASE + 0x4820;
constexpr u32 GLUE_FORMAT_TABLE_DATA = MX_GLUE_BASE + 0x4824;
constexpr u32 TIMING_CONTROL_DEFAULT = 0x3E000440;
constexpr u32 FORMAT_TABLE_LOAD = 3;

// ---- Board control ----------------------------------------------------------------------------------
// Strap word: board type in bits 13-14 and 17-18; bits 5 and 6 clear when the optional power units A
// and B are fitted.
constexpr u32 BOARD_STRAPS = MX_BOARD_BASE + 0x20;
constexpr u32 BOARD_POWER_STATUS = MX_BOARD_BASE + 0x24;  // bit 0 clear: power going down

// ---- Registers at the same offset in the ME and SDI FPGAs ---------------------------------------------
constexpr u32 FPGA_XADC = 0x80;
constexpr u32 FPGA_PLL = 0x400;
constexpr u32 FPGA_FIELD = 0x510;

// Temperature port: internal register address, data, and the over-temperature alarm (bit 0).
constexpr u32 XADC_ADDRESS = 0x0, XADC_DATA = 0x4, XADC_ALARM = 0xC;
constexpr u32 XADC_BUSY = 1u << 15;  // in XADC_ADDRESS
constexpr u32 XADC_UPPER_THRESHOLD = 0x50, XADC_LOWER_THRESHOLD = 0x54;  // internal registers

// Clock PLL port: control (a reset bit per port in bits 0..15, lock bit port + 16 in 16..31), the
// address of a PLL register (port << 8 | register), data to write, data read.
constexpr u32 PLL_CONTROL = 0x0, PLL_ADDRESS = 0x4, PLL_WRITE = 0x8, PLL_READ = 0xC;
constexpr u32 PLL_LOCK_SHIFT = 16;
// Busy bit in PLL_ADDRESS: bit 15, on the four-port PLL of ME1 bit port + 16.
constexpr u32 PLL_BUSY = 1u << 15;
constexpr u32 ME1_PLL = MX_ME1_BASE + FPGA_PLL;  // the four-port PLL

// Field bits: bit 0 the field of 1080-line and SD formats, bit 1 of 720-line formats.
constexpr u32 FIELD_1080 = 1u << 0, FIELD_720 = 1u << 1;

// ---- ME FPGAs (offsets from mxMeBase) -----------------------------------------------------------------
// Window blocks (WINDOW_* below): the three mixer windows, then the field window's top and bottom.
constexpr u32 ME_MIXER_WINDOW_1 = 0x4200, ME_MIXER_WINDOW_2 = 0x4400, ME_MIXER_WINDOW_3 = 0x4480;
constexpr u32 ME_FIELD_TOP = 0x4704, ME_FIELD_BOTTOM = 0x4708;
// Processing time of the background and the first two key blocks (units of 0.96 us).
constexpr u32 ME_BKGD_TIME = 0x5C00, ME_KEY1_TIME = 0x6500, ME_KEY2_TIME = 0x6D00;

// Window block: four source words (bit 15 set), the last pixel, then four top / bottom line pairs.
constexpr u32 WINDOW_SOURCES = 0x00;
constexpr u32 WINDOW_SOURCE_ON = 0x8000;
constexpr u32 WINDOW_LAST_PIXEL = 0x10;
constexpr u32 WINDOW_TOPS[4] = {0x14, 0x20, 0x28, 0x30};
constexpr u32 WINDOW_BOTTOMS[4] = {0x18, 0x24, 0x2C, 0x34};

// ---- Fixed windows of ME1 and ME2 ----------------------------------------------------------------------
constexpr u32 ME1_PLAYER_WINDOWS[4] = {MX_ME1_BASE + 0x1200, MX_ME1_BASE + 0x1280, MX_ME1_BASE + 0x1300,
                                       MX_ME1_BASE + 0x1380};
constexpr u32 ME2_OUTPUT_WINDOW_1 = MX_ME2_BASE + 0x1700, ME2_OUTPUT_WINDOW_2 = MX_ME2_BASE + 0x1740,
              ME2_OUTPUT_WINDOW_3 = MX_ME2_BASE + 0x1780;

// Still players' store windows (ME1): store word, second word, mask, line stride, top line, last
// pixel, bottom line.
constexpr u32 ME1_STILL_WINDOWS[2] = {MX_ME1_BASE + 0x1100, MX_ME1_BASE + 0x1120};
constexpr u32 STILL_STORE = 0x00, STILL_STORE_2 = 0x04, STILL_MASK = 0x08, STILL_STRIDE = 0x10, STILL_TOP = 0x14,
              STILL_LAST_PIXEL = 0x18, STILL_BOTTOM = 0x1C;

// Control word of the reference oscillator (ME1).
constexpr u32 ME1_GENLOCK_DAC = MX_ME1_BASE + 0x80C;
