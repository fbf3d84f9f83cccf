#pragma once
// The board's memory map: where the system finds the memories it shares with the front end and the
// other core, its working memory, and the register spaces of the FPGAs. Offsets inside a region are
// named by the region's layout header (Lib/Include/shared.h, Lib/Include/storage.h,
// Lib/Include/link_window.h); registers inside an FPGA's space by the driver block's regs.h.
#include "Lib/Include/types.h"

// ---- Working memory -------------------------------------------------------------------------------
// Sections below this address are unmapped once the program runs.
constexpr u32 LOW_MEMORY_END = 0x30000000;
// Program memory that the DMA engine reaches: the backup buffer and its extension.
constexpr u32 BACKUP_BUFFER_ADR = 0x20000000;
// The length-prefixed image read from NAND flash at power-on.
constexpr u32 NAND_IMAGE_RAM = 0x31FFFFFC;
// Work area (0x3B000000 .. 0x3F000000): the FPGA images at power-on, cleared before the DDR3 bring-up.
constexpr u32 WORK_AREA_BASE = 0x3B000000;
constexpr u32 WORK_AREA_END = 0x3F000000;
// Display memory at the top of the work area, where the extended display's encoder works.
constexpr u32 DISPLAY_MEMORY_BASE = 0x3E000000;
constexpr u32 DISPLAY_MEMORY_SIZE = 0x1000000;
// DMA command and read buffers (the DMA driver lays out the channels' buffers inside them).
constexpr u32 MX_DMA_CMD_BASE = 0x3F400000;
constexpr u32 MX_DMA_READ_BASE = 0x3F600000;

// ---- Memory shared with the front end ---------------------------------------------------------------
// The shared window: lock words, memories, clip headers (Lib/Include/shared.h).
constexpr u32 SHARED_WINDOW_BASE = 0x33000000;
// The link window: console ring, acknowledgement and request rings, the rules' notes
// (Lib/Include/link_window.h). A hand-off address must lie inside it.
constexpr u32 LINK_WINDOW_BASE = 0x3FF00000;
constexpr u32 LINK_WINDOW_SIZE = 0x100000;
constexpr u32 LINK_WINDOW_LAST = LINK_WINDOW_BASE + (LINK_WINDOW_SIZE - 1);

// ---- Non-volatile window -----------------------------------------------------------------------------
// Backup image and settings words (Lib/Include/storage.h).
constexpr u32 NON_VOLATILE_BASE = 0x81800000;
constexpr int NON_VOLATILE_SIZE = 0x20000;

// ---- On-chip memory words shared with the other core -------------------------------------------------
constexpr u32 OCM_SECTION = 0xFFF00000;
constexpr u32 ON_CHIP_BASE = 0xFFFF0000;  // the words' 64 KiB
constexpr u32 OCM_BOOT_MODE = ON_CHIP_BASE;
constexpr u32 OCM_STAT_TIMING = 0xFFFF0004;     // statistics switches: frame timing,
constexpr u32 OCM_STAT_BANDWIDTH = 0xFFFF0008;  // memory bandwidth,
constexpr u32 OCM_STAT_BLOCK = 0xFFFF000C;      // block processing times,
constexpr u32 OCM_PROFILE = 0xFFFF0010;         // profile of the category update
constexpr u32 OCM_SERDES_LINK = 0xFFFF0020;     // serdes adjustment request: link,
constexpr u32 OCM_SERDES_REQUEST = 0xFFFF0024;  // delay (0 trains), cleared when taken
// DVE service words (set by the other core): bank phase, tuning, falloff table shape and log.
constexpr u32 OCM_PHASE_BASE = 0xFFFF0040;
constexpr u32 OCM_PHASE_STEP = 0xFFFF0044;
constexpr u32 OCM_TUNING = 0xFFFF0048;
constexpr u32 OCM_FALLOFF_GAIN = 0xFFFF004C;
constexpr u32 OCM_FALLOFF_WIDTH = 0xFFFF0050;
constexpr u32 OCM_FALLOFF_CENTRE = 0xFFFF0054;
constexpr u32 OCM_FALLOFF_LOG = 0xFFFF0060;
constexpr u32 OCM_STARTUP_DONE = 0xFFFFFFE0;
constexpr u32 OCM_HANDOFF = 0xFFFFFFF0;
constexpr u32 OCM_WARM_START = 0xFFFFFFF8;

// Bits of the boot mode word.
constexpr u32 BOOT_MODE_BOARD_V1 = 1u << 13;       // board version 1 (else 2)
constexpr u32 BOOT_MODE_NO_BACKUP = 1u << 14;      // initialise everything and keep no backup; the
                                                   // FPGA images come from the first NAND bank
constexpr u32 BOOT_MODE_KEEP_WATCHDOG = 1u << 24;  // the board start leaves the watchdog armed

// ---- Register spaces ----------------------------------------------------------------------------------
constexpr u32 MX_GLUE_BASE = 0x40000000;   // glue FPGA
constexpr u32 MX_BOARD_BASE = 0x81000000;  // board control: straps, power status, configuration ports
constexpr u32 MX_ME1_BASE = 0x82000000, MX_ME2_BASE = 0x83000000;
constexpr u32 MX_SDI1_BASE = 0x84000000, MX_SDI2_BASE = 0x85000000;
// The ME FPGAs in the paired-FPGA mode.
constexpr u32 MX_ME1_PAIRED_BASE = 0x86000000, MX_ME2_PAIRED_BASE = 0x87000000;
// The CPU's global timer, low and high words.
constexpr u32 GLOBAL_TIMER_LOW = 0xF8F00200;
constexpr u32 GLOBAL_TIMER_HIGH = 0xF8F00204;
