#include "Common/reg.h"

#include "Lib/Include/memory_map.h"
#include "Platform/platform.h"

void mxWriteReg(u32 adr, u32 value) { platform::writeReg(adr, value); }

u32 mxReadReg(u32 adr) { return platform::readReg(adr); }

void mxCopyRegs(u32 dst, u32 src, u32 n) {
  for (u32 i = 0; i < n; ++i) platform::writeReg(dst + 4 * i, platform::readReg(src + 4 * i));
}

void mxWriteRegFifo(u32 adr, const u32* buf, u32 n) {
  for (u32 i = 0; i < n; ++i) platform::writeReg(adr, buf[i]);
}

u32 mxGetTicks(u32* out) {
  u32 t = platform::readReg(GLOBAL_TIMER_LOW);
  if (out != nullptr) *out = t;
  return t;
}

void mxWaitUs(u32 us) {
  u32 start = mxGetTicks();
  platform::timerWaitHint(start + us * platform::TICKS_PER_US);
  while (mxElapsedUs(start, mxGetTicks()) < us) {
  }
}
