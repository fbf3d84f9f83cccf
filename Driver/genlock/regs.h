#pragma once
// Registers of the genlock: the reference oscillator's control value and the reference detector in
// the ME1 FPGA, the black-burst level detector, the reference output and the frame clock, and the
// board's reference select.
#include "Driver/core/regs.h"

// Reference oscillator: ME1_GENLOCK_DAC (Driver/core/regs.h) takes the 20-bit control value, up to
// GENLOCK_DAC_MAX; GENLOCK_OSCILLATOR is set to GENLOCK_OSCILLATOR_ON with the detector.
constexpr u32 GENLOCK_OSCILLATOR = MX_ME1_BASE + 0x800;
constexpr u32 GENLOCK_OSCILLATOR_ON = 4;
constexpr u32 GENLOCK_DAC_MAX = 0xFFC00, GENLOCK_DAC_CENTRE = 0x80000;

// Reference detector. Control: GENLOCK_SETUP while it is set up, GENLOCK_START then 0 starts it;
// GENLOCK_ALIGN then 0 (entering fine tuning) and GENLOCK_REALIGN then 0 (while it settles) align
// the timing to the reference.
constexpr u32 GENLOCK_CONTROL = MX_ME1_BASE + 0x900;
constexpr u32 GENLOCK_SETUP = 12, GENLOCK_START = 8, GENLOCK_ALIGN = 1, GENLOCK_REALIGN = 2;
constexpr u32 GENLOCK_MODE = MX_ME1_BASE + 0x904;
constexpr u32 GENLOCK_PERIOD = MX_ME1_BASE + 0x910;     // measured sync period
constexpr u32 GENLOCK_PHASE = MX_ME1_BASE + 0x914;      // output timing phase
constexpr u32 GENLOCK_COUNT = MX_ME1_BASE + 0x920;      // detector period P - 1
constexpr u32 GENLOCK_SELECT = MX_ME1_BASE + 0x924;
constexpr u32 GENLOCK_SAMPLES = MX_ME1_BASE + 0x928;    // N
constexpr u32 GENLOCK_SLICE = MX_ME1_BASE + 0x92C;      // W
constexpr u32 GENLOCK_PULSES = MX_ME1_BASE + 0x930;     // sync pulses counted
constexpr u32 GENLOCK_SAMPLE_INDEX = MX_ME1_BASE + 0x934;
constexpr u32 GENLOCK_SAMPLE = MX_ME1_BASE + 0x938;     // (count << 8) | fraction 0..7
constexpr u32 GENLOCK_SAMPLE_SHIFT = 8, GENLOCK_SAMPLE_FRACTION = 7;

// Black-burst level detector: control, histogram bin select and count, the slice level derived from
// the histogram's peaks, and the capture word (1 then 0 every analysis cycle).
constexpr u32 GENLOCK_LEVEL_CONTROL = MX_ME1_BASE + 0xA00;
constexpr u32 GENLOCK_LEVEL_ON = 8;
constexpr u32 GENLOCK_BIN = MX_ME1_BASE + 0xA08, GENLOCK_BIN_COUNT = MX_ME1_BASE + 0xA0C;
constexpr u32 GENLOCK_LEVEL = MX_ME1_BASE + 0xA24;
constexpr u32 GENLOCK_CAPTURE = MX_ME1_BASE + 0xA30;
constexpr int GENLOCK_BINS = 256;

// Reference output: three words by format and setup.
constexpr u32 GENLOCK_REF_OUT_A = MX_ME1_BASE + 0xE00, GENLOCK_REF_OUT_B = MX_ME1_BASE + 0xE04,
              GENLOCK_REF_OUT_C = MX_ME1_BASE + 0xE08;
// Frame clock: load (0 then 1), divider value, 24-frame flag.
constexpr u32 GENLOCK_CLOCK_LOAD = MX_ME1_BASE + 0xE10, GENLOCK_CLOCK_VALUE = MX_ME1_BASE + 0xE14,
              GENLOCK_CLOCK_24 = MX_ME1_BASE + 0xE18;

// Board control: 1 selects the internal reference.
constexpr u32 GENLOCK_INTERNAL_SELECT = MX_BOARD_BASE + 0x30;
