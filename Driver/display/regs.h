#pragma once
// Registers of the extended display: the picture encoder of the glue FPGA with its window, tables and
// status, the scaler path in the ME FPGAs, and the display memory the encoder works in.
#include "Driver/core/core.h"

// ---- Display memory ------------------------------------------------------------------------------
constexpr u32 DISPLAY_BLACK = 0x10801080;  // two pixels of black

// ---- Glue FPGA -------------------------------------------------------------------------------------
constexpr u32 DISPLAY_GLUE_JPEG = MX_GLUE_BASE + 0x4000;     // 1 in JPEG mode
// GLUE_TIMING_CONTROL (Driver/core/regs.h) is rewritten when the JPEG mode changes.
constexpr u32 DISPLAY_GLUE_FIELD = MX_GLUE_BASE + 0x4510;    // bit 1 toggles the JPEG chroma phase
constexpr u32 DISPLAY_JPEG_TOGGLE = 1u << 1;

// Encoder set-up (from DISPLAY_ENCODER): offsets, stride, last pixel and line, luminance table port.
constexpr u32 DISPLAY_ENCODER = MX_GLUE_BASE + 0x5000;
constexpr u32 DISPLAY_ENC_X = 0x14, DISPLAY_ENC_Y = 0x18, DISPLAY_ENC_STRIDE = 0x1C;
constexpr u32 DISPLAY_ENC_LAST_PIXEL = 0x24, DISPLAY_ENC_LAST_LINE = 0x28;
constexpr u32 DISPLAY_ENC_QUANT = 0x2C;
constexpr u32 DISPLAY_ENC_STRIDE_VALUE = 0x100000;

// Encoder control and status.
constexpr u32 DISPLAY_CONTROL = MX_GLUE_BASE + 0x5100;  // DISPLAY_CTRL_* below
constexpr u32 DISPLAY_STATUS = MX_GLUE_BASE + 0x5104;   // (status & DISPLAY_DONE_MASK) == DISPLAY_DONE: done
constexpr u32 DISPLAY_SIZE = MX_GLUE_BASE + 0x5108;     // bytes of the last picture
constexpr u32 DISPLAY_CHROMA_WORD = MX_GLUE_BASE + 0x5110;
constexpr u32 DISPLAY_CHROMA_QUANT = MX_GLUE_BASE + 0x5120;  // port: JPEG chrominance table
constexpr u32 DISPLAY_DCT = MX_GLUE_BASE + 0x5130;           // four ports of eight DCT words, 4 bytes apart
constexpr u32 DISPLAY_WINDOW = MX_GLUE_BASE + 0x5150;        // four words: left, top, right, bottom
constexpr u32 DISPLAY_CHROMA_OFFSET = MX_GLUE_BASE + 0x5180; // float, written +s then -s
constexpr u32 DISPLAY_DONE_MASK = 0x60, DISPLAY_DONE = 0x20;
constexpr u32 DISPLAY_CTRL_IDLE = 0, DISPLAY_CTRL_START = 1, DISPLAY_CTRL_JPEG_IDLE = 2, DISPLAY_CTRL_JPEG_START = 3;
// Chroma words of the two fields (or phases).
constexpr u32 DISPLAY_CHROMA_FIRST = 16000, DISPLAY_CHROMA_SECOND = 15872;

// ---- ME FPGAs ----------------------------------------------------------------------------------------
constexpr u32 DISPLAY_ME_JPEG = MX_ME1_BASE + 0x2100;   // 1 in JPEG mode
constexpr u32 DISPLAY_ME_TIMING_1 = MX_ME1_BASE + 0x2104, DISPLAY_ME_TIMING_2 = MX_ME1_BASE + 0x2108;
constexpr u32 DISPLAY_ME_BLOCK = MX_ME1_BASE + 0x2400;  // DISPLAY_ME_BLOCK_VALUE
constexpr u32 DISPLAY_ME_LAST_PIXEL = MX_ME1_BASE + 0x2410;
constexpr u32 DISPLAY_ME_STEP = MX_ME1_BASE + 0x2414;
constexpr u32 DISPLAY_ME_LAST_LINE = MX_ME1_BASE + 0x2418;
constexpr u32 DISPLAY_ME_BLOCK_VALUE = 37632;
constexpr u32 DISPLAY_ME2_SD = MX_ME2_BASE + 0x1794;     // 1 for the 480/576-line formats in JPEG mode
constexpr u32 DISPLAY_ME2_LINES = MX_ME2_BASE + 0x1798;  // 544 for a 1920-pixel JPEG picture
