#pragma once
// Registers of the NAND flash port in the glue FPGA: status, the latch that says whether a data
// write is a command or an address byte, data, the page transfer, the ECC words of the last page
// and the two page buffers.
#include "Lib/Include/memory_map.h"

constexpr u32 NAND_PORT_STATUS = MX_GLUE_BASE + 0x200;    // NAND_READY, NAND_BUSY; bits 8..15 ECC flags
constexpr u32 NAND_PORT_LATCH = MX_GLUE_BASE + 0x204;     // NAND_LATCH_* below
constexpr u32 NAND_PORT_DATA = MX_GLUE_BASE + 0x208;
constexpr u32 NAND_PORT_TRANSFER = MX_GLUE_BASE + 0x210;  // 4 x buffer + 3 moves a page into a buffer
constexpr u32 NAND_PORT_ECC = MX_GLUE_BASE + 0x280;       // 32 words, one per 64-byte unit
constexpr u32 NAND_PAGE_BUFFER = MX_GLUE_BASE + 0x2000;   // two buffers of one page each

constexpr u32 NAND_READY = 1u << 0, NAND_BUSY = 1u << 1;
constexpr u32 NAND_LATCH_IDLE = 0, NAND_LATCH_ADDRESS = 1, NAND_LATCH_COMMAND = 2;
