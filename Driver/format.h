#pragma once
// Format-dependent register setup besides the block drivers: window and still timing, the glue
// FPGA's format timing and format table, the FPGA clock PLLs, the XADC temperature alarms, the
// alarm word with the power-down restart, and the debug reports of the driver update. Everything
// here writes registers directly; nothing keeps a shadow.
#include "types.h"

// ---- Driver-core state read here ------------------------------------------------------------------
// The driver core records its format state here whenever mxInitialize changes the format or
// mxBoardInit reads the board mode. Mode flag A of the board routines is the core's paired-FPGA
// flag (stored board mode not 0: the ME FPGAs' 0x86/0x87 banks); mode flag B is its 4K flag
// (stored board mode 2).
struct MxFormatState {
  int format = 0;        // current video format code 0..7
  int width = 1920;      // frame width in pixels
  int height = 540;      // frame height in lines per field
  int lineOffset = 675;  // the format's line offset (mxGetLineOffset)
  bool paired = false;   // mode flag A
  bool fourK = false;    // mode flag B
};
void mxSetFormatState(const MxFormatState& state);
const MxFormatState& mxFormatState();

// Video format classes of the timing tables.
inline bool mxIs720Line(int format) { return format == 2 || format == 3; }
inline bool mxIsSdLine(int format) { return format == 4 || format == 5; }  // 480/576-line

// The driver core's watchdog calls (Driver/core).
void mxWatchdogKick();
void mxRestart();  // arms the watchdog with 1 s and spins until it restarts the board

// ---- Board monitoring -----------------------------------------------------------------------------
// XADC over-temperature alarm of the FPGA whose reconfiguration port is at port: set at celsius + 2,
// cleared below celsius - 10.
void mxSetTemperatureAlarm(u32 port, int celsius);
// The sensor code of a temperature: integer part of (x + 273.15) x 8.127387 x 16.
u32 mxTemperatureCode(double celsius);
// Bits 5 and 6 of the board word (0x81000020) clear: optional units A and B fitted. Returns the word.
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
void mxLoadFormatTable();         // glue FPGA format table (256 words)
// Display timing preset 0..3 (others: the default row) and its flag, for the current format.
void mxSetFormatTiming(int preset, int flag);
// One word of the format table: a rising curve 0..255 (exponent 0.3 for 480/576 lines, else 0.4).
u32 mxFormatTableWord(int format, int i);

// ---- Debug reports of the driver update (each call is one frame; a report every 180 frames) ------
void mxReportBandwidth();
void mxReportBlockTimes();
