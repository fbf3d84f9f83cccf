#pragma once
// Register access and the global timer (333 ticks per microsecond).
#include "Lib/Include/types.h"

void mxWriteReg(u32 adr, u32 value);
u32 mxReadReg(u32 adr);
// Copies n words between two register ranges, both addresses advancing.
void mxCopyRegs(u32 dst, u32 src, u32 n);
// Writes n words to one register.
void mxWriteRegFifo(u32 adr, const u32* buf, u32 n);
// Returns the timer value and stores it in *out when out is given.
u32 mxGetTicks(u32* out = nullptr);
// Busy-waits until (now - start) / 333 >= us.
void mxWaitUs(u32 us);
// Microseconds since a tick count (differences modulo 2^32).
inline u32 mxElapsedUs(u32 start, u32 now) { return (now - start) / 333u; }
