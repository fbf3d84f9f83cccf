#pragma once
// Registers of the keyers: the key parameter blocks of the ME keys, downstream keys and key layer
// channels, the chroma keyers of the ME keys, the key mixer of each ME, the downstream key mixer of
// the ME2 FPGA and the tally words. Offsets in an ME bank are added to mxMeBase(me).
#include "Lib/Include/types.h"

namespace keyreg {

// ---- Key parameter blocks ----
// ME key k (0..3): register set A at KEY_BLOCK + KEY_STRIDE k of its ME bank, set B at A + KEY_B.
constexpr u32 KEY_BLOCK = 0x6200, KEY_STRIDE = 0x800, KEY_B = 0x80;
// Downstream key n and key layer channel n (0..3); both share one set B.
constexpr u32 DSK_BLOCK = 0x83002100, USK_BLOCK = 0x83002600, LAYER_STRIDE = 0x100;
constexpr u32 LAYER_B = 0x87000000;
// The ME contexts without hardware point their blocks at this bank (never written).
constexpr u32 SPARE_BANK = 0x87000000;

// Set A.
constexpr u32 MODE = 0;            // mode bits 0-1 | mask enable << 2 | invert << 3 | option << 4
constexpr u32 CLIP = 4;
constexpr u32 GAIN = 8;
constexpr u32 GAIN2 = 12;
constexpr u32 DENSITY = 16;
constexpr u32 EDGE_TYPE = 20;      // type bits | edge fill << 6
constexpr u32 EDGE_CONTROL = 24;
constexpr u32 EDGE_LEVEL = 28;
constexpr u32 BOX = 32;            // left, top, right, bottom
constexpr u32 MATTE = 48;
constexpr u32 EDGE_COLOR = 52;
constexpr u32 SOFT_BOX = 192;      // left, top, right, bottom
constexpr u32 SOFTNESS = 208;
constexpr u32 EXTRA_COLOR = 212;
// Set B.
constexpr u32 MASK_ENABLE = 0;
constexpr u32 FILTER_BOX = 16;     // the box scaled by the filter parameters: left, top, right, bottom
constexpr u32 INVERTED_BOX_RIGHT = 3920, INVERTED_BOX_BOTTOM = 2160;

// Field positions.
constexpr int MODE_MASK_ENABLE = 2, MODE_MASK_INVERT = 3, MODE_OPTION = 4;
constexpr int EDGE_FILL_SHIFT = 6;
constexpr int COLOR_CB_SHIFT = 10, COLOR_CR_SHIFT = 20;

// ---- Chroma keyers (ME key k at CHROMA_BLOCK + KEY_STRIDE k of its ME bank) ----
constexpr u32 CHROMA_BLOCK = 0x6100;
constexpr u32 CHROMA_MODE = 0;         // mode | range << CHROMA_RANGE_SHIFT
constexpr u32 CHROMA_BANK = 4;
constexpr u32 CHROMA_RAW_A = 8;        // R, G, B of colour A as passed
constexpr u32 CHROMA_COLOR_A = 20;     // Y, Cb, Cr
constexpr u32 CHROMA_COLOR_B = 32;
constexpr u32 CHROMA_TABLE_ADDRESS = 60;
constexpr u32 CHROMA_TABLE_DATA = 64;
constexpr int CHROMA_RANGE_SHIFT = 6;

// ---- Key mixer of an ME (offsets in its bank) ----
constexpr u32 MIXER_A = 0x4500, MIXER_B = 0x4800;
// Set A.
constexpr u32 MIX_ENABLE = 4;
constexpr u32 MIX_KEY_STRIDE = 16;
constexpr u32 MIX_KEY_RANK = 64;       // (3 - rank) x 4
constexpr u32 MIX_KEY_SOURCE = 68;     // preview << 8 | source code | MIX_STACKED
constexpr u32 MIX_KEY_LEVEL = 72;      // level | tap A << 16 | tap B << 17 | MIX_CLEAN
constexpr u32 MIX_TOP = 128;           // three words: the first key of the priority
constexpr u32 MIX_CLEAN_RANK = 140;
constexpr u32 MIX_CLEAN_TAP = 144;
constexpr u32 MIX_LAYER_RANK = 148;
constexpr u32 MIX_LAYER = 152;
constexpr u32 MIX_LAYER_FLAG = 156;
constexpr u32 TALLY_STATUS = 0xC0;
constexpr u32 TALLY_CONTROL = 0xC4;
constexpr u32 MIX_STACKED = 1u << 9, MIX_TAP_A = 1u << 16, MIX_TAP_B = 1u << 17, MIX_CLEAN = 0x40000;
constexpr int MIX_PREVIEW_SHIFT = 8;
// Set B.
constexpr u32 SAMPLE_BOX = 0;          // chroma sample area: left, top, right, bottom
constexpr u32 MIX_CONSTANT = 16;
constexpr u32 MIX_CONSTANT_VALUE = 0x3506CCCC;
constexpr u32 TAP_A = 32, TAP_B = 36, TAP_LAYER = 40;  // code & 7 | tap flag << 3
constexpr int TAP_FLAG_SHIFT = 3;

// ---- Downstream key mixer (ME2 FPGA) ----
constexpr u32 DSK_FADE = 0x83002020;
constexpr u32 DSK_FADE_MODE = 0x83002024;
constexpr u32 DSK_STRIDE = 16;
constexpr u32 DSK_RANK = 0x83002040;   // (3 - rank) x 4 | (rank + 1) << DSK_RANK_SHIFT
constexpr u32 DSK_ROUTE = 0x83002044;  // output << 2 | option << 8 | source code
constexpr u32 DSK_LEVEL = 0x83002048;  // level | flag << 16
constexpr u32 DSK_LAYER_RANK = 0x83002080;
constexpr u32 DSK_LAYER = 0x83002084;
constexpr u32 DSK_LAYER_FLAG = 0x83002088;
constexpr u32 DSK_OUT_STRIDE = 8;
constexpr u32 DSK_OUT_TOP = 0x83002090;    // code of the top DSK of a program output
constexpr u32 DSK_OUT_INDEX = 0x83002094;  // its DSK index | output source code << 8
constexpr u32 DSK_CLEAN_STRIDE = 8;
constexpr u32 DSK_CLEAN_RANK = 0x830020A0;
constexpr u32 DSK_CLEAN = 0x830020A4;
constexpr u32 DSK_LEVELS_4K = 0x83003020;  // level of DSK 1 | level of DSK 2 << 16
constexpr int DSK_RANK_SHIFT = 10, DSK_OUTPUT_SHIFT = 2, DSK_OPTION_SHIFT = 8;
constexpr u32 DSK_OUT_NONE = 17, DSK_OUT_OWN_SOURCE = 0x1100;

// ---- Tally words ----
constexpr u32 DSK_TALLY_PGM1 = 0x830020C0;
constexpr u32 DSK_TALLY_CLN1 = 0x830020C4;
constexpr u32 DSK_TALLY_CONTROL = 0x830020C8;
constexpr u32 ME2_PAIRED_TALLY = 0x830030C0;

}  // namespace keyreg
