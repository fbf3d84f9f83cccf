#pragma once
// Board model of the DDR3 controllers of the ME and SDI FPGAs (bases 0x82000000 to 0x85000000):
// per port the command and status registers with initialisation and calibration, and per FPGA the
// test engine (write, read-and-compare, clear). Faults: calibration that never completes, an
// initialisation that never reports ready, compare errors, a test engine that never finishes.
// Host only.
#include "Platform/platform.h"

namespace platform {

constexpr int DDR3_FPGAS = 4;  // ME1, ME2, SDI1, SDI2
constexpr u32 DDR3_BASE[DDR3_FPGAS] = {0x82000000, 0x83000000, 0x84000000, 0x85000000};
// Model timing: calibration and the test passes complete this long after they start.
constexpr u32 DDR3_CALIBRATION_US = 400;
constexpr u32 DDR3_TEST_US = 2000;

// All ports in reset, no faults, counters cleared.
void ddr3Reset();
// The next `starts` calibrations of the port never complete (-1: none ever does).
void ddr3FailCalibration(int fpga, int port, int starts);
void ddr3FailInit(int fpga, int port, bool on);
// The next `passes` read-and-compare passes of the port report `errors` errors.
void ddr3CompareErrors(int fpga, int port, int errors, int passes);
void ddr3StuckTestEngine(int fpga, bool on);
// Calibration starts of a port, and passes of the test engine by command (clear 0x1FFFFF00, else a
// length with low byte 0 to write or 1 to read and compare, as 0xFFFF00 and 0xFFFF01) for a port.
// The port is bit 31 of the test region word.
u32 ddr3CalibrationStarts(int fpga, int port);
u32 ddr3TestPasses(int fpga, int port, u32 command);

}  // namespace platform
