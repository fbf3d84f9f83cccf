#pragma once
// Registers of the on-screen display engine in the ME2 FPGA, its command words, and the OSD memory
// behind ME2's memory port.
#include "Lib/Include/memory_map.h"

// Target and plane select: (target id - OSD_TARGET_BASE_ID) << OSD_TARGET_SHIFT | OSD_PLANES.
constexpr u32 OSD_TARGET = MX_ME2_BASE + 0x1500;
constexpr int OSD_TARGET_BASE_ID = 4528;
constexpr u32 OSD_TARGET_SHIFT = 9, OSD_PLANES = 0x38000000;
// Status and control: status bits below; writing OSD_RESET then 0 resets the engine, OSD_FLUSH then
// 0 starts a flush.
constexpr u32 OSD_STATUS = MX_ME2_BASE + 0x1504;
constexpr u32 OSD_FIFO_FULL = 1u << 2, OSD_BUSY = 1u << 3, OSD_FLUSH_PENDING = 1u << 4;
constexpr u32 OSD_RESET = 1, OSD_FLUSH = 2;
constexpr u32 OSD_FIFO = MX_ME2_BASE + 0x1508;  // rectangle commands, four words each
// Plane geometry, written with each target.
constexpr u32 OSD_GEOMETRY_A = MX_ME2_BASE + 0x1510, OSD_GEOMETRY_B = MX_ME2_BASE + 0x1514;
constexpr u32 OSD_GEOMETRY_A_VALUE = 448, OSD_GEOMETRY_B_VALUE = 192;

// First command word: x1 | function << OSD_FUNCTION_SHIFT | y1 << 16 | the kind. A gradient fill
// goes on with x2 | y2 << 16, alpha start | fill colour, dx | dy << 16; a copy with x2 | y2 << 16,
// the copy colour, source x | source y << 16.
constexpr u32 OSD_CMD_FILL = 0x20000000, OSD_CMD_COPY = 0x10000000;
constexpr u32 OSD_FUNCTION_SHIFT = 12;

// OSD memory in ME2's memory space: 2 bytes a pixel, OSD_LINE_BYTES a line, OSD_LINES lines.
constexpr u32 OSD_MEMORY = 0xB8000000;
constexpr u32 OSD_LINE_BYTES = 8192;
constexpr int OSD_LINE_PIXELS = 4096, OSD_LINES = 2048;
