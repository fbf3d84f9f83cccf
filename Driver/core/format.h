#pragma once
// Format-dependent register setup besides the block drivers: window and still timing, the glue
// FPGA's format timing and format table, the FPGA clock PLLs, the XADC temperature alarms, the
// alarm word with the power-down restart, and the debug reports of the driver update. Everything
// here writes registers directly; nothing keeps a shadow. The format and the paired-FPGA flag are the
// driver core's (Driver/core/core.h).
#include "Driver/blocks.h"
#include "Lib/Include/types.h"

// Video format classes of the timing tables.
inline bool mxIs720Line(int format) { return format == 2 || format == 3; }
inline bool mxIsSdLine(int format) { return format == 4 || format == 5; }  // 480/576-line

// ---- Board monitoring -----------------------------------------------------------------------------
// XADC over-temperature alarm of the FPGA whose reconfiguration port is at port: set at celsius + 2,
// cleared below celsius - 10.
void mxSetTemperatureAlarm(u32 port, int celsius);
// The sensor code of a temperature: integer part of (x + 273.15) x 8.127387 x 16.
u32 mxTemperatureCode(double celsius);
// Bits 5 and 6 of the strap word (BOARD_STRAPS) clear: optional units A and B fitted. Returns the word.
u32 mxReadPowerUnitFlags(int* unitA, int* unitB);
// The alarm word (bits 0..11). A board whose power is going down is restarted; the call then does
// not return.
u32 mxGetAlarmStatus();

// ---- Clock PLLs -----------------------------------------------------------------------------------
// Reprograms clock PLL port of the block at base for the current format: five attempts at the row
// table and lock; returns 0 when locked, -1 when left unlocked.
int mxPllInitialize(u32 base, int port);

// ---- Steps of mxInitialize --------------------------------------------------------------------------
void mxInitWindowTiming();
void mxStillInitialize();         // the still players' window registers
void mxSetDefaultFormatTiming();  // glue FPGA format timing for the current format
// Glue FPGA format table: 256 words of a rising curve 0..255 (255 x (i / 255) ^ 0.3 for 480/576
// lines, ^ 0.4 for the others).
void mxLoadFormatTable();
// Display timing preset 0..3 (others: the default row) and its flag, for the current format.
void mxSetFormatTiming(int preset, int flag);

// ---- Debug reports of the driver update (each call is one frame; a report every 180 frames) ------
void mxReportBandwidth();
void mxReportBlockTimes();
// Both reports' frame counters back to 0, as at program start.
void mxFormatReset();
