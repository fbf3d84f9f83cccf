#pragma once
// FPGA configuration at a cold power-on: the images of the board's seven FPGAs are read from NAND
// flash into RAM and written to each FPGA's configuration port (glue first, then the two LAN FPGAs,
// then ME1, ME2, SDI1 and SDI2 together with interleaved data).
#include "Lib/Include/memory_map.h"
#include "Lib/Include/types.h"

constexpr int MX_FPGA_COUNT = 7;  // glue, lan1, lan2, me1, me2, sdi1, sdi2
constexpr u32 MX_FPGA_IMAGE_AREA = WORK_AREA_BASE;

// Loads the glue image, configures the glue FPGA, reads the board mode and loads the images of the
// other six FPGAs. Returns 1. A missing or unreadable image logs "cannot load %s FPGA config data"
// and fails its check (start-up ends; the armed watchdog restarts the board).
int mxLoadFpgaImages(int doLoad);
// Configures lan1 and lan2 (boards from version 2; results not checked), then the ME and SDI FPGAs
// together. Returns 0, or 1 when the joint configuration failed (its error is logged).
int mxConfigureFpgas(int doLoad);
// Reads the length-prefixed image at NAND 0x4A00000 (0xCA00000 in the second bank) to RAM
// NAND_IMAGE_RAM. A length below 4097 logs "Bad NAND data %d byte" and restarts the board.
int mxLoadNandImage();
// Sets or clears the FPGA's enable bit, where it has one.
void enableFpga(int index, int on);

// Where FPGA index's image was loaded (offset in the image area, -1 before) and its length.
int mxFpgaImageOffset(int index);
int mxFpgaImageSize(int index);
