#pragma once
// Registers of the DMA engine in the glue FPGA: one control block per channel, and the opcodes
// that a command list carries in the low two bits of a register address.
#include "Lib/Include/memory_map.h"

// Control block of a channel, at MX_DMA_REGS + MX_DMA_REG_STRIDE x channel.
constexpr u32 MX_DMA_REGS = MX_GLUE_BASE + 0x300;
constexpr u32 MX_DMA_REG_STRIDE = 32;
constexpr u32 MX_DMA_CMD_ADR = 0x00;     // command list address; bit 31 starts, 0 stops the channel
constexpr u32 MX_DMA_CMD_STATUS = 0x04;  // bit 31 busy
constexpr u32 MX_DMA_CMD_LENGTH = 0x08;  // list length in bytes minus 1
constexpr u32 MX_DMA_READ_ADR = 0x10;    // read buffer address; bit 31 starts the read side
constexpr u32 MX_DMA_READ_STATUS = 0x14; // bit 31 busy
constexpr u32 MX_DMA_CONTROL = 0x1C;     // channel control word
constexpr u32 MX_DMA_START = 0x80000000u;

// Opcodes in the low two bits of a command's register address.
constexpr u32 MX_DMA_OP_WRITE = 0;
constexpr u32 MX_DMA_OP_BURST = 1;
constexpr u32 MX_DMA_OP_POLL = 2;
constexpr u32 MX_DMA_OP_READ = 3;

// Register whose reads pad a list's reads to a multiple of 64 words.
constexpr u32 MX_DMA_PAD_REG = MX_GLUE_BASE + 0x4;
