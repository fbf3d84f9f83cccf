#pragma once
// Word access to the shared-memory and non-volatile windows, the glue FPGA's hardware semaphores,
// and the memory ports of the ME and SDI FPGAs.
#include "Lib/Include/memory_map.h"
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

// Streams nbyte bytes to address in the memory of the FPGA at fpga (MX_ME1_BASE, MX_ME2_BASE,
// MX_SDI1_BASE or MX_SDI2_BASE) in 256-byte blocks; a trailing partial block is sent padded with
// zeroes.
void mxWriteFpgaMemory(u32 fpga, u32 address, const u32* data, int nbyte);
