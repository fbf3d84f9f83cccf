#pragma once
// NAND flash reads through the glue FPGA's command port and DMA channel 0. Pages of 2048 bytes come
// with 32 ECC status words (one per 64-byte unit) that correct single-bit errors; a sector table
// in one of the physical blocks 0 to 3 maps logical 128 KiB sectors to physical blocks.
#include "Lib/Include/types.h"

constexpr u32 MX_NAND_BLOCK_SIZE = 0x20000;
constexpr u32 MX_NAND_BLOCKS = 4096;
constexpr u32 MX_NAND_SECTORS = 3840;
constexpr u32 MX_NAND_TABLE_MAGIC = 0xA5F01234;

// Driver error word.
constexpr int MX_NAND_OK = 0;
constexpr int MX_NAND_ADDRESS_ERROR = 0x4010;
constexpr int MX_NAND_ECC_ERROR = 0x4013;
constexpr int MX_NAND_UNFORMATTED = 0x4016;

// Reads the length-prefixed image at logical address adr into buf. The first word of the image is
// its total length in bytes (the word included). Returns that length, or -1 when the flash cannot
// be read or the length is below 4 or above maxBytes. Never writes more than maxBytes into buf.
int mxNandRead(u32 adr, u32* buf, int maxBytes);

// Physical address of a logical address through the sector table, and back (for messages).
u32 mxNandPhysicalAddress(u32 adr);
u32 mxNandLogicalAddress(u32 padr);

// The error word of the last read.
int mxNandError();

// What one ECC status word says about its 64-byte unit.
enum class MxNandEcc { None, EccOnly, Corrected, Uncorrectable1, Uncorrectable2, Uncorrectable3 };
// Classifies e; for Corrected, *position gets the bit position p (bit p % 32 of word p / 32).
MxNandEcc mxNandCheckEcc(u32 e, u32* position);

// Forgets the sector table, so that the next read loads it again (a flash that was rewritten).
void mxNandForgetTable();
// The driver as at program start: no table, no error, ECC messages from the first read on.
void mxNandReset();
