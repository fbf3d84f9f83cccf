#pragma once
// FPGA temperature and DDR3 calibration monitor: the die temperature of the four video FPGAs, and a
// check that calibrates and tests the ME1 FPGA's two DDR3 ports again. mxTemperatureMonitorStart
// (frame 12 of mxUpdate) is in Driver/blocks.h.
#include "Lib/Include/types.h"

// Degrees Celsius of the FPGA at base (0x82000000 .. 0x85000000).
float mxFpgaTemperature(u32 base);
// Logs every FPGA's temperature, then up to five attempts of calibrating and testing both ports;
// restarts the board when all five fail or a test never ends.
void mxDdr3CalibrationCheck();
