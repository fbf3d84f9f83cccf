#pragma once
// DDR3 bring-up of the ME and SDI FPGAs' memory controllers at a cold power-on.

// Logs the FPGA versions, then up to five attempts of reset, initialisation, calibration and a
// write/read test of every port; after a passed attempt clears the memories. Restarts the board when
// all five attempts fail or a port cannot be initialised, calibrated or tested in time.
void mxInitDdr3();
