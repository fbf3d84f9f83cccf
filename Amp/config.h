#pragma once
// FPGA configuration loading from NAND flash.
#include "types.h"

// Loads the glue image, configures the glue FPGA, reads the board mode, loads the images of FPGAs
// 1 to 6; returns 1.
int mxLoadFpgaImages(int doLoad);
// Configures the LAN, ME and SDI FPGAs; 1 on failure.
int mxConfigureFpgas(int doLoad);
// Reads the length-prefixed image at its NAND address to RAM; returns its length.
int mxLoadNandImage();
