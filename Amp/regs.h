#pragma once
// Registers of FPGA configuration: the configuration port of each FPGA and the enable bits that
// open an FPGA for configuration. Register spaces: Lib/Include/memory_map.h.
#include "Lib/Include/memory_map.h"

// Configuration ports.
constexpr u32 GLUE_CONFIG_PORT = MX_GLUE_BASE + 0x100;
constexpr u32 ME1_CONFIG_PORT = MX_BOARD_BASE + 0x400, ME2_CONFIG_PORT = MX_BOARD_BASE + 0x500;
constexpr u32 SDI1_CONFIG_PORT = MX_BOARD_BASE + 0x600, SDI2_CONFIG_PORT = MX_BOARD_BASE + 0x700;
constexpr u32 LAN1_CONFIG_PORT = MX_BOARD_BASE + 0x800, LAN2_CONFIG_PORT = MX_BOARD_BASE + 0x900;
// A port: mode word, PROG pulse, status, data (the image word by word).
constexpr u32 CONFIG_MODE = 0x0, CONFIG_PROG = 0x4, CONFIG_STATUS = 0x8, CONFIG_DATA = 0xC;
constexpr u32 CONFIG_INIT_B = 1u << 0, CONFIG_DONE = 1u << 1;  // in CONFIG_STATUS

// Enable registers: bits 0..2 of FPGA_ENABLE open the glue, ME1 and ME2 FPGAs; bit 1 of BOARD_ENABLE
// the SDI1 FPGA (bit 0 is cleared once the glue FPGA is configured); bit 1 of SDI2_ENABLE the SDI2 FPGA.
constexpr u32 FPGA_ENABLE = 0x80000000;
constexpr u32 BOARD_ENABLE = MX_BOARD_BASE + 0x4;
constexpr u32 SDI2_ENABLE = MX_SDI1_BASE + 0x4;
constexpr u32 BOARD_ENABLE_GLUE = 1u << 0;
