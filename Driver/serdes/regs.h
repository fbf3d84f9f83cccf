#pragma once
// Registers of the serdes links between the FPGAs: each link has a block on its sending side (the
// control register of the trainer) and one on its receiving side (the channel port). Offsets are the
// same in the ME and SDI FPGAs (bases in Lib/Include/memory_map.h).
#include "Lib/Include/memory_map.h"

// Link blocks: the sending side's at SERDES_TX + 0x10 x n, the receiving side's at SERDES_RX + 0x10 x n.
constexpr u32 SERDES_TX = 0x700, SERDES_RX = 0x600, SERDES_BLOCK_STRIDE = 0x10;
constexpr u32 GLUE_SERDES_RX = MX_GLUE_BASE + 0x4600;

// Trainer control words.
constexpr u32 SERDES_CONTROL_IDLE = 0, SERDES_CONTROL_SCAN = 1, SERDES_CONTROL_BITSLIP = 2,
              SERDES_CONTROL_SYNC = 3, SERDES_CONTROL_RESET = 4;

// Channel port: channel select, then the command register, which reads back the channel's status
// (the received word in the low bits; bits 8..15 the sync flags).
constexpr u32 SERDES_SELECT = 0x0, SERDES_COMMAND = 0x4;
// Command bits: a strobe carries out the step that the other bits set up (a delay tap down, or up
// with SERDES_UP), a delay reset, a word-boundary slip; the sync check's arming bits.
constexpr u32 SERDES_STROBE = 1u << 0, SERDES_UP = 1u << 1, SERDES_DELAY_RESET = 1u << 2, SERDES_SLIP = 1u << 3;
constexpr u32 SERDES_SYNC_ARM = 1u << 5, SERDES_SYNC_INPUT = 1u << 15;
// Status bits of the sync check: internal and input HSYNC seen, training passed.
constexpr u32 SERDES_SYNC_INTERNAL = 0x0F00, SERDES_SYNC_SEEN = 0xF000, SERDES_SYNC_TRAINED = 0xE000;
