#pragma once
// Word access to the shared-memory and non-volatile windows, the glue FPGA's hardware semaphores,
// and the memory ports of the ME and SDI FPGAs.
#include "Lib/Include/types.h"

// Hardware semaphores, semaphore n at register 0x40001900 + 4 x n.
enum MxHardLock {
  MX_HARD_LOCK_0 = 0x4000,  // the resource lock words
  MX_HARD_LOCK_1,
  MX_HARD_LOCK_2,           // held by the cold power-on path
  MX_HARD_LOCK_3,
  MX_HARD_LOCK_4,
  MX_HARD_LOCK_5,
  MX_HARD_LOCK_6,
  MX_HARD_LOCK_7,           // bound
};
// Up to 30 requests; 1 when this processor holds the semaphore, 0 when the other one kept it.
int mxHardLock(int lock);
void mxHardUnlock(int lock);

// nbyte / 4 whole words between buf and the window at offset (a trailing partial word is left).
void mxWriteSharedMemory(int offset, const void* buf, int nbyte);
void mxReadSharedMemory(int offset, void* buf, int nbyte);
void mxWriteNonVolatile(int offset, const void* buf, int nbyte);
void mxReadNonVolatile(int offset, void* buf, int nbyte);

// Register bases of the FPGAs with a memory port.
constexpr u32 MX_FPGA_ME1 = 0x82000000;
constexpr u32 MX_FPGA_ME2 = 0x83000000;
constexpr u32 MX_FPGA_SDI1 = 0x84000000;
constexpr u32 MX_FPGA_SDI2 = 0x85000000;
// Streams nbyte bytes to the FPGA's memory at address in 256-byte blocks; a trailing partial block
// is sent padded with zeroes.
void mxWriteFpgaMemory(u32 fpga, u32 address, const u32* data, int nbyte);
