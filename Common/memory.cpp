#include "Common/memory.h"

#include <algorithm>
#include <cstring>

#include "Common/shared.h"
#include "Common/reg.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/storage.h"
#include "Lib/Include/check.h"
#include "Platform/platform.h"

namespace {

constexpr u32 SEMAPHORE_REGS = 0x40001900;
constexpr int SEMAPHORE_TRIES = 30;
constexpr u32 PAGE = 0x1000;

// Copies whole words between a buffer and mapped memory, a page at a time so that a copy may run
// across the boundary of two mapped regions.
void copyTo(u32 adr, const void* buf, int nbyte) {
  const u8* src = static_cast<const u8*>(buf);
  u32 left = nbyte > 0 ? static_cast<u32>(nbyte / 4) * 4 : 0;
  while (left > 0) {
    const u32 n = std::min(left, PAGE - (adr & (PAGE - 1)));
    platform::writeMemory(adr, src, n);
    adr += n;
    src += n;
    left -= n;
  }
}

void copyFrom(u32 adr, void* buf, int nbyte) {
  u8* dst = static_cast<u8*>(buf);
  u32 left = nbyte > 0 ? static_cast<u32>(nbyte / 4) * 4 : 0;
  while (left > 0) {
    const u32 n = std::min(left, PAGE - (adr & (PAGE - 1)));
    std::memcpy(dst, platform::memory(adr, n), n);
    adr += n;
    dst += n;
    left -= n;
  }
}

u32 semaphoreReg(int lock) {
  MX_CHECK(MX_HARD_LOCK_0 <= lock && lock < MX_HARD_LOCK_7);
  return SEMAPHORE_REGS + 4 * static_cast<u32>(lock - MX_HARD_LOCK_0);
}

void checkShared(s64 offset, s64 nbyte) { MX_CHECK(0 <= offset && offset + nbyte <= SharedMemory::SMEM_SIZE); }
void checkNonVolatile(s64 offset, s64 nbyte) { MX_CHECK(0 <= offset && offset + nbyte <= NON_VOLATILE_SIZE); }

// Busy-waits for the memory port's status bits.
void waitPort(u32 status, u32 bit, bool set) {
  while (((mxReadReg(status) & bit) != 0) != set) {
  }
}

}  // namespace

int mxHardLock(int lock) {
  const u32 reg = semaphoreReg(lock);
  for (int i = 0; i < SEMAPHORE_TRIES; ++i) {
    mxWriteReg(reg, 1);
    if (mxReadReg(reg) == 1) return 1;
  }
  return 0;
}

void mxHardUnlock(int lock) {
  const u32 reg = semaphoreReg(lock);
  if (mxReadReg(reg) == 1) mxWriteReg(reg, 0);
}

void mxWriteSharedMemory(int offset, const void* buf, int nbyte) {
  checkShared(offset, nbyte);
  copyTo(SHARED_WINDOW_BASE + static_cast<u32>(offset), buf, nbyte);
}

void mxReadSharedMemory(int offset, void* buf, int nbyte) {
  checkShared(offset, nbyte);
  copyFrom(SHARED_WINDOW_BASE + static_cast<u32>(offset), buf, nbyte);
}

void mxWriteNonVolatile(int offset, const void* buf, int nbyte) {
  checkNonVolatile(offset, nbyte);
  copyTo(NON_VOLATILE_BASE + static_cast<u32>(offset), buf, nbyte);
}

void mxReadNonVolatile(int offset, void* buf, int nbyte) {
  checkNonVolatile(offset, nbyte);
  copyFrom(NON_VOLATILE_BASE + static_cast<u32>(offset), buf, nbyte);
}

void mxWriteFpgaMemory(u32 fpga, u32 address, const u32* data, int nbyte) {
  constexpr u32 ME1 = MX_ME1_BASE, ME2 = MX_ME2_BASE, SDI1 = MX_SDI1_BASE, SDI2 = MX_SDI2_BASE;
  MX_CHECK(fpga == ME1 || fpga == ME2 || fpga == SDI1 || fpga == SDI2);
  constexpr int BLOCK = 256;
  const u32 status = fpga + 0x304;
  mxWriteReg(fpga + 0x300, address);
  mxWriteReg(status, 0);
  const u8* src = reinterpret_cast<const u8*>(data);
  for (int done = 0; done < nbyte; done += BLOCK) {
    // The port takes whole blocks: the last one is filled up with zeroes.
    u32 block[BLOCK / 4] = {};
    std::memcpy(block, src + done, static_cast<size_t>(std::min(BLOCK, nbyte - done)));
    waitPort(status, 1u << 0, true);
    mxWriteRegFifo(fpga + 0x308, block, BLOCK / 4);
  }
  waitPort(status, 1u << 2, false);
}
