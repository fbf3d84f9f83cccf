#pragma once
// Registers of the crosspoint block: the crosspoint words of the ME2 FPGA that the frame writer
// fills from the crosspoint image, four source codes a register with the first in bits 0-7, the
// fixed routing and timing words, the tally selectors, and the 4K output group.
#include "Lib/Include/memory_map.h"

// ---- Crosspoint words (ME2), filled from the image blocks of Driver/xpt/xpt.h --------------------------
constexpr u32 XPT_BUS = MX_ME2_BASE + 0x1100;        // buses of contexts 0..3, DSK inputs and fills, memory source
constexpr u32 XPT_BUS_ME = MX_ME2_BASE + 0x1200;     // ME-output markers of the buses
constexpr u32 XPT_OUTPUT = MX_ME2_BASE + 0x1300;     // outputs, AUX buses, external outputs, layer context
constexpr u32 XPT_MULTIVIEW = MX_ME2_BASE + 0x1398;  // multiview inputs
constexpr u32 XPT_DSK_ME = MX_ME2_BASE + 0x2000;     // DSK crosspoint markers
constexpr u32 XPT_USK = MX_ME2_BASE + 0x2500;        // key-layer sources
constexpr u32 XPT_INPUT_KEY = MX_ME2_BASE + 0x2540;  // up-stream key of every input

constexpr u32 XPT_AUX_FLAG = MX_ME2_BASE + 0x13A0;
constexpr u32 XPT_AUX_TRANS = MX_ME2_BASE + 0x13B0;    // four words, one per AUX transition
constexpr u32 XPT_DSK_STAGE = MX_ME2_BASE + 0x201C;    // stage pair of DSK outputs 1, 2 | of outputs 3, 4 << 16

// ---- Timing and fixed words (ME2) --------------------------------------------------------------------
// Four timing words chosen by the paired-FPGA mode and by whether ME1 takes an ME2 output, a fifth
// written in the paired-FPGA mode only, and three constants.
constexpr u32 XPT_TIMING_0 = MX_ME2_BASE + 0x1240, XPT_TIMING_1 = MX_ME2_BASE + 0x1244;
constexpr u32 XPT_TIMING_2 = MX_ME2_BASE + 0x1260, XPT_TIMING_3 = MX_ME2_BASE + 0x1264;
constexpr u32 XPT_TIMING_PAIRED = MX_ME2_BASE + 0x1258;
constexpr u32 XPT_FIXED_0 = MX_ME2_BASE + 0x1254, XPT_FIXED_1 = MX_ME2_BASE + 0x2010,
              XPT_FIXED_2 = MX_ME2_BASE + 0x13A4;

// ---- Tally selectors -----------------------------------------------------------------------------------
constexpr u32 ME_TALLY = 0x4500;                       // in each ME FPGA (offset from mxMeBase)
constexpr u32 XPT_TALLY = MX_ME2_BASE + 0x1270;        // + 4 x ME
constexpr u32 XPT_TALLY_PAIRED = MX_ME2_BASE + 0x3000; // ME2's selector again, paired-FPGA mode

// ---- 4K output group (ME2 unless named) ----------------------------------------------------------------
constexpr u32 XPT_4K_ALL_BLACK = MX_ME2_BASE + 0x3010;
constexpr u32 XPT_4K_BUS_CLASSES = MX_ME2_BASE + 0x3014;     // class of bus A | of bus B << 8
constexpr u32 XPT_4K_OUTPUT_CLASSES = MX_ME2_BASE + 0x3018;  // classes of the first three outputs, a byte each
constexpr u32 XPT_4K_LOCKS = MX_ME2_BASE + 0x301C;           // lock flag 0 | lock flag 1 << 8
constexpr u32 XPT_4K_BLACK_FADE = MX_ME2_BASE + 0x3024;      // 1: the memory source fades through black
constexpr u32 XPT_4K_FADE_01 = MX_ME2_BASE + 0x3028;         // fade levels of outputs 1 | 2 << 16
constexpr u32 XPT_4K_FADE_2 = MX_ME2_BASE + 0x302C;          // fade level of output 3
constexpr u32 XPT_4K_MODE = MX_ME2_BASE + 0xC14;
constexpr u32 ME_4K_BUS_SOURCE = 0xC28;  // ME1: bus A, ME2: bus B; source | sub-source << 8
// Six routes of 0x20 bytes from XPT_4K_ROUTES, each a pair of sources and an enable word.
constexpr u32 XPT_4K_ROUTES = MX_ME2_BASE + 0x2A40, XPT_4K_ROUTE_STRIDE = 0x20;
constexpr u32 ROUTE_FIRST = 0x0, ROUTE_SECOND = 0x4, ROUTE_ENABLE = 0x8;
