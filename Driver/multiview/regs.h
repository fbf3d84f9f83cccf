#pragma once
// Registers of the multiview compositions in the ME2 FPGA: per output and row a window block (R) and
// a row control block (K), per output a window limit register, and the format words in front of each
// output's first window block.
#include "Lib/Include/memory_map.h"

// Window blocks: outputs 0..3 at MV_WINDOWS + 0x100 output + 0x20 row, the extended display's
// composition (output 4) at MV_GUI_WINDOWS + 0x20 row.
constexpr u32 MV_WINDOWS = MX_ME2_BASE + 0x1880, MV_GUI_WINDOWS = MX_ME2_BASE + 0x1E80;
constexpr u32 MV_WINDOWS_OUTPUT_STRIDE = 0x100, MV_WINDOWS_ROW_STRIDE = 0x20;
// Offsets in a window block: the layout word (window count and size code), windows 0..3.
constexpr u32 MV_LAYOUT = 0x00, MV_WINDOW_0 = 0x10;
// Below the block: the fifth window of outputs 0..3, and windows 4..7 of an eight-window row of
// output 4 (R - MV_GUI_UPPER - 0x10 row).
constexpr u32 MV_FIFTH_WINDOW_BELOW = 0x24, MV_GUI_UPPER_BELOW = 0x40, MV_GUI_UPPER_ROW_STRIDE = 0x10;
// Format words in front of row 0's block (R - MV_FORMAT_BELOW): on, frame lines + 4, 0, last line.
constexpr u32 MV_FORMAT_BELOW = 0x80;
constexpr u32 MV_FORMAT_LAST_LINE = 539;
// A window word: x | source << MV_SOURCE_SHIFT. A layout word: size code x 2 + 1 (MV_LAYOUT_FIVE_SIXTHS
// for five windows of size code 6) + (count - 1) << MV_COUNT_SHIFT.
constexpr u32 MV_SOURCE_SHIFT = 16, MV_COUNT_SHIFT = 8, MV_LAYOUT_FIVE_SIXTHS = 21;

// Row control blocks: outputs 0..3 at MV_CONTROL + 0x40 output + 0x10 row, output 4 at
// MV_GUI_CONTROL + 0x10 row. Offsets: control word, start line - 1, width word, window size << 16.
constexpr u32 MV_CONTROL = MX_ME2_BASE + 0x1600, MV_GUI_CONTROL = MX_ME2_BASE + 0x1D40;
constexpr u32 MV_CONTROL_OUTPUT_STRIDE = 0x40, MV_CONTROL_ROW_STRIDE = 0x10;
constexpr u32 MV_CTRL_WORD = 0x0, MV_CTRL_START = 0x4, MV_CTRL_WIDTH = 0x8, MV_CTRL_SIZE = 0xC;
constexpr u32 MV_SIZE_SHIFT = 16;
// Control words: MV_CONTROL_VALUE + MV_CONTROL_OUTPUT_STEP x output (output 4: MV_GUI_CONTROL_VALUE),
// with MV_ENABLE while the output shows.
constexpr u32 MV_CONTROL_VALUE = 0x3001, MV_CONTROL_OUTPUT_STEP = 0x200, MV_GUI_CONTROL_VALUE = 0x2201;
constexpr u32 MV_ENABLE = 0x8000;
// Width word: 128-pixel units << MV_WIDTH_SHIFT | MV_WIDTH_FLAGS.
constexpr u32 MV_WIDTH_SHIFT = 23, MV_WIDTH_FLAGS = 0x800;
// Paired-FPGA mode: outputs 0 and 1 drive the second FPGA through the control blocks of outputs 2
// and 3 (K + MV_MIRROR), whose control word carries MV_MIRROR_FLAG.
constexpr u32 MV_MIRROR = 0x80, MV_MIRROR_FLAG = 1024;

// Window limit registers of outputs 0..3 (MV_LIMITS + 4 output): first line + (row << 17), then last
// line + (row << 17) + MV_LIMIT_LAST; MV_LIMIT_NONE for both lines of an empty row.
constexpr u32 MV_LIMITS = MX_ME2_BASE + 0x1580;
constexpr u32 MV_LIMIT_ROW_SHIFT = 17, MV_LIMIT_LAST = 0x10000, MV_LIMIT_NONE = 1023, MV_LIMIT_TOP = 4;
