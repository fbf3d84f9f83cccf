#pragma once
// Board model of the NAND flash behind the glue FPGA's command port: command and address latches,
// the page transfer into two 2048-byte page buffers, and the 32 ECC status words of a transfer.
// The flash contents are the board directory's nand.img (anonymous memory when the board has no
// directory). A board without nand.img gets one with the factory contents (nandWriteFactoryFile);
// a nand.img of another size is kept aside first, under a name that gives its size, with a board
// note. Host only: tests and the host programs use it.
#include <string>

#include "Platform/platform.h"

namespace platform {

constexpr u32 NAND_PAGE = 2048;
constexpr u32 NAND_BLOCK = 0x20000;
constexpr u32 NAND_BLOCKS = 4096;
constexpr u32 NAND_SECTORS = 3840;
constexpr u32 NAND_BYTES = NAND_BLOCK * NAND_BLOCKS;
constexpr u32 NAND_TABLE_MAGIC = 0xA5F01234;
// Physical block of logical sector s in the factory layout (the table itself lives in block 0).
constexpr u32 NAND_FIRST_DATA_BLOCK = 4;

// Maps the flash and attaches the port (after boardOpen). Idempotent per board.
void nandAttach();
void nandDetach();
// The raw flash contents (NAND_BYTES), by physical address.
u8* nandFlash();

// ---- contents ------------------------------------------------------------------------------------
// Clears the whole flash to zeroes (no table, no images); with factory set, programs the factory
// contents afterwards.
void nandReset(bool factory);
// Writes a sector table to physical block `block` (0 to 3): logical sector s to block
// first + s (skipping the blocks in `bad`), with the given count and magic.
void nandWriteTable(u8* flash, u32 block, u32 count = NAND_BLOCKS - NAND_FIRST_DATA_BLOCK,
                    u32 magic = NAND_TABLE_MAGIC, const u32* bad = nullptr, int nbad = 0);
// Writes bytes at a logical address through the table held in physical block `tableBlock`.
void nandWriteLogical(u8* flash, u32 adr, const void* data, u32 n, u32 tableBlock = 0);
// Builds a configuration image as the FPGA tools deliver it, behind its length word: a bitstream
// header (design, part, date, time) and payloadBytes of data, every byte in reversed bit order.
// Returns the total length (length word included); out must hold it (nandImageBytes).
u32 nandImageBytes(const char* design, u32 payloadBytes);
u32 nandMakeImage(u8* out, const char* design, u32 payloadBytes, u32 seed);
// Factory contents: the sector table, every FPGA image in both banks and their variants, and the
// length-prefixed boot data at 0x4A00000 and 0xCA00000.
void nandProgramFactory(u8* flash);
// Writes a flash file with the factory contents at path, so that an interruption at any moment
// leaves either no file there or a whole one: written to path.partial (replacing what an earlier
// interrupted write left), synced, then renamed into place, with the permissions of a file it
// replaces. False with the reason. With fileOnly,
// path.partial and path are replaced only where they are missing or regular files, checked as the
// file is moved into place (where the file system can, by the move itself): anything else there
// is left as it is.
bool nandWriteFactoryFile(const std::string& path, std::string& error, bool fileOnly = false);

// ---- faults --------------------------------------------------------------------------------------
// A single-bit error at a physical byte address (word aligned): the data read shows the bit flipped
// and the transfer reports the ECC word that locates it.
void nandInjectBitError(u32 physAdr, int bit);
// A raw ECC status word for one 64-byte unit of a physical page; the data is left as it is.
void nandInjectEcc(u32 physPage, int unit, u16 ecc);
void nandClearFaults();
// Page transfers since attach (tests check that reads stay within their pages).
u32 nandTransferCount();

}  // namespace platform
