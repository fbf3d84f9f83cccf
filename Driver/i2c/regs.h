#pragma once
// Registers of the I2C controllers and of the board device bring-up: format and mode words, sync
// timing, the SDI transceivers of the four video FPGAs and the clock parts. Offsets below are the
// same in the ME and SDI FPGAs (bases in Lib/Include/memory_map.h) unless an FPGA is named.
#include "Lib/Include/memory_map.h"

// ---- I2C controllers ------------------------------------------------------------------------------
// A controller (in SDI1, SDI2 and the glue FPGA) and its three command registers, one per bus.
constexpr u32 SDI_I2C = 0x1000;
constexpr u32 GLUE_I2C = MX_GLUE_BASE + 0x400;
constexpr u32 I2C_COMMAND_0 = 0x20, I2C_COMMAND_1 = 0x24, I2C_COMMAND_2 = 0x28;
constexpr u32 I2C_SETUP = 125;  // written to the controller when a channel opens
// Command words.
constexpr u32 I2C_SEND = 0x100;     // | byte; the first after a stop is the address byte
constexpr u32 I2C_LAST = 0x300;     // | byte, then stop
constexpr u32 I2C_RESTART = 0x500;  // | register, then a repeated start
constexpr u32 I2C_READ = 0x3FF;     // read a byte into bits 0..7, then stop
constexpr u32 I2C_BUSY = 1u << 9;   // read back while the transfer runs

// ---- Format and mode words --------------------------------------------------------------------------
constexpr u32 FPGA_FORMAT = 0x500;  // folded video format code
constexpr u32 FPGA_MODE = 0x504;    // 1 in the paired-FPGA mode
constexpr u32 GLUE_FORMAT = MX_GLUE_BASE + 0x4500;
constexpr u32 GLUE_MODE = MX_GLUE_BASE + 0x4504;  // 2 in the 4K mode, + 1 in the paired-FPGA mode

// ---- Sync timing: runs of consecutive words ----------------------------------------------------------
constexpr u32 FPGA_SYNC_TIMING = 0x580;
constexpr u32 FPGA_SYNC_TIMING_2 = 0x5C0;
constexpr u32 SDI_SYNC_DELAYS = 0x5D4;  // SDI FPGAs: three words
constexpr u32 GLUE_SYNC_TIMING = MX_GLUE_BASE + 0x4580;
constexpr u32 GLUE_SYNC_TIMING_2 = MX_GLUE_BASE + 0x45C0;

// ---- SDI transceivers --------------------------------------------------------------------------------
constexpr u32 XCVR_RX_CONTROL = 0xB00;  // reset steps; bits 16.. the receivers' lock bits
constexpr u32 XCVR_MODE = 0xB04;
constexpr u32 XCVR_ENABLE = 0xB30;
constexpr u32 XCVR_TX_CONTROL = 0xB40;  // reset steps
constexpr u32 XCVR_CLOCK = 0xB44;
constexpr u32 XCVR_DELAY = 0xB48;
constexpr u32 XCVR_TX_SETUP = 0xB4C;    // SDI FPGAs
constexpr u32 XCVR_TX_STATUS = 0xB50;   // the transmitters' lock bits
constexpr u32 XCVR_LINK_WORDS = 0xB60;  // ME FPGAs: four words

// ---- Clock parts -------------------------------------------------------------------------------------
// Control (1, then 3 starts the part) and status (bits 0 and 1 set: locked): the GS4915 clock
// generator in SDI1, the ispClock PLL in SDI2.
constexpr u32 CLOCK_PART_CONTROL = 0x10, CLOCK_PART_STATUS = 0x14;
constexpr u32 CLOCK_PART_LOCKED = 3;
constexpr u32 GS4915 = MX_SDI1_BASE, ISP_CLOCK = MX_SDI2_BASE;
