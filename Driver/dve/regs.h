#pragma once
// Registers of the DVE blocks of the ME FPGAs, their control blocks, the B-bus image effect of an
// ME, and the on-chip words that tune the background's falloff table.
#include "Lib/Include/types.h"

namespace dve {

// Block bases, as offsets in an ME FPGA's register bank.
constexpr u32 BKGD_BLOCK = 0x5C00;
constexpr u32 BKGD_CONTROL = 0x5800;
constexpr u32 KEY_BLOCK = 0x6500;        // key 1; key k at + KEY_STRIDE x (k - 1)
constexpr u32 KEY_CONTROL = 0x6004;
constexpr u32 KEY_STRIDE = 0x800;

// DVE block: set-up words written at initialisation.
constexpr u32 INIT_FIRST = 0x00;         // first init code | INIT_LOAD
constexpr u32 INIT_SECOND = 0x04;        // second init code | INIT_LOAD
constexpr u32 FRAME_WIDTH = 0x08;        // width rounded up to 64, minus 1
constexpr u32 FRAME_HEIGHT = 0x0C;       // lines rounded up to 32, minus 1
constexpr u32 INTERLACE = 0x10;          // 0 in the 720-line formats, else INTERLACED
constexpr u32 INIT_LAST = 0x14;
constexpr u32 INIT_LOAD = 0x8000;
constexpr u32 INTERLACED = 5;
// DVE block: the register image, words 53..94 from IMAGE (word k at IMAGE + 4 x (k - 53)).
constexpr u32 IMAGE = 0x20;
constexpr int IMAGE_FIRST = 53;
constexpr int IMAGE_WORDS = 42;
constexpr u32 FALLOFF_PORT = 0xC8;       // the background's 256-word falloff table

// Image words by index.
constexpr int W_COLOR = 53;
constexpr int W_WIDTH = 57;              // window 0 low, window 1 high half
constexpr int W_HEIGHT = 58;
constexpr int W_SCALE = 59;
constexpr int W_ASPECT = 60;
constexpr int W_MODE = 61;
constexpr int W_ROTATION_LEVEL = 62;
constexpr int W_DUAL_WINDOW = 63;
constexpr int W_POSITION0 = 65;
constexpr int W_POSITION1 = 66;
constexpr int W_SCALE_CODE_A = 69;
constexpr int W_SCALE_CODE_B = 70;
constexpr int W_MOSAIC_A = 71;
constexpr int W_MOSAIC_B = 72;
constexpr int W_SOFTNESS0 = 73;
constexpr int W_SOFTNESS1 = 74;
constexpr int W_EFFECT_A = 75;
constexpr int W_EFFECT_B = 76;
constexpr int W_TRANSFORM0 = 77;         // six words
constexpr int W_BKGD_CONSTANT = 83;
constexpr int W_PHASE = 84;
constexpr int W_TRANSFORM1 = 85;         // six words
constexpr int W_BKGD_TUNING = 91;
constexpr u32 BKGD_CONSTANT = 35390400;
constexpr u32 BLACK = 0x20080040;        // Y 64, Cb 512, Cr 512

// Control block of the background (+ 0 enable word, + 8 bus word) and of a key (+ 0).
constexpr u32 CONTROL_ENABLE = 0x00;
constexpr u32 CONTROL_BUS = 0x08;

// B-bus image effect of an ME (offsets in the ME bank).
constexpr u32 EFFECT_B_MODE = 0x4700;    // 0 none, 1 scaled, 3 mosaic
constexpr u32 EFFECT_B_SCALE = 0x4710;
constexpr u32 EFFECT_B_STEP = 0x4714;
constexpr u32 EFFECT_B_REST_H = 0x4718;
constexpr u32 EFFECT_B_REST_V = 0x471C;
constexpr u32 EFFECT_B_WORD = 0x4720;

}  // namespace dve
