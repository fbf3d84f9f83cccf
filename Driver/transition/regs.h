#pragma once
// Registers of the transition (mix and wipe) blocks of the ME FPGAs, and the FPGA memory that holds
// the wipe pattern tables.
#include "Lib/Include/types.h"

namespace trans {

// Block bases, as offsets in an ME FPGA's register bank.
constexpr u32 BKGD_BLOCK = 0x5B00;
constexpr u32 KEY_BLOCK = 0x6400;         // key 1; key k at + KEY_STRIDE x (k - 1)
constexpr u32 KEY_STRIDE = 0x800;
// In paired-FPGA mode the ME2 background block sits in the ME2 FPGA's normal bank.
constexpr u32 ME2_PAIRED_BKGD_BLOCK = 0x83003100;

// Register image of a block: 28 words from the block base (byte offsets).
constexpr int N_REGS = 28;
constexpr u32 CONTROL = 0x00;        // mix/wipe kind, border on, border source
constexpr u32 INVERT = 0x08;         // invert | modulation pattern X << 2 | Y << 3
constexpr u32 REVERSED = 0x0C;       // 1 for the reversed pattern wipe
constexpr u32 BORDER_Y = 0x10;
constexpr u32 BORDER_CB = 0x14;
constexpr u32 BORDER_CR = 0x18;
constexpr u32 LEVEL = 0x1C;
constexpr u32 ORIGIN_X = 0x20;
constexpr u32 ORIGIN_Y = 0x24;
constexpr u32 OFFSET_X = 0x28;
constexpr u32 OFFSET_Y = 0x2C;
constexpr u32 EDGE = 0x30;
constexpr u32 SLOPE = 0x34;
constexpr u32 BORDER_WIDTH = 0x38;
constexpr u32 MIX_LEVEL = 0x3C;
constexpr u32 MIX_FIRST = 0x40;
constexpr u32 MIX_SECOND = 0x44;
constexpr u32 MIX_THIRD = 0x48;
constexpr u32 PATTERN_SIZE = 0x4C;
constexpr u32 MATRIX = 0x50;         // four words: m0, m1, m3, m4
constexpr u32 MODULATION_FREQUENCY = 0x60;
constexpr u32 MODULATION_PHASE = 0x64;
constexpr u32 MODULATION_AMPLITUDE = 0x68;
// Control word bits.
constexpr u32 CONTROL_WIPE = 1;
constexpr u32 CONTROL_FIVE_SEVEN = 2;    // the two-position mix of type 5377
constexpr u32 CONTROL_BORDER = 0x10;
constexpr u32 CONTROL_TWO_POSITIONS = 0x20;
// Words a key's block gets cleared while its delayed image waits for changed key settings.
constexpr u32 KEY_CLEAR[] = {CONTROL, EDGE, SLOPE, BORDER_WIDTH, MIX_LEVEL};

// Bank control after the image.
constexpr u32 STROBE = 0x70;         // written 0 after an image or the reciprocal table
constexpr u32 RECIPROCAL = 0x74;     // port of the 256-word reciprocal table
constexpr u32 TABLE_PORT = 0x78;     // named in a table pair's second word
constexpr u32 BANK = 0x7C;           // 0, or 3 for bank 1 (the bank number before the table)
constexpr u32 BANK_ONE = 3;

// ME registers (offsets in an ME bank): program/preview word and the mix flag of the background.
constexpr u32 PGM_PVW = 0x5804;
constexpr u32 MIX_FLAG = 0x580C;
constexpr u32 ME2_PAIRED_PGM_PVW = 0x83003004;
// Table address pairs: first word the pattern section, second the block's TABLE_PORT.
constexpr u32 TABLE_PAIRS = 0x340;   // + 8 x key index (0 background)
constexpr u32 TABLE_PAIR_STRIDE = 8;
constexpr u32 ME2_PAIRED_BKGD_TABLE_PAIR = 0x83000368;
constexpr u32 TABLE_COUNT = 0x328;   // 4, or 5 on ME2 in paired-FPGA mode
constexpr u32 TABLE_ADDRESS_FLAGS = 3;

// FPGA memory of a pattern table: section (aspect j, table n) at PATTERN_MEMORY + ((j + 6 n) << 10).
constexpr u32 PATTERN_MEMORY = 0x80000000;
constexpr int SECTION_SHIFT = 10;
constexpr int SECTION_WORDS = 256;

}  // namespace trans
