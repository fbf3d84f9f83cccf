#pragma once
// The seam between the system and the hardware. The system reaches the chip and the board only
// through these calls, by physical address. On the target they are the chip support package's
// accessors; here they are backed by the simulated board (Platform/board.h).
#include "Lib/Include/types.h"

namespace platform {

// 32-bit register access by physical address (FPGA register spaces, CPU private registers).
u32 readReg(u32 adr);
void writeReg(u32 adr, u32 value);

// Pointer to size bytes of mapped memory starting at physical address adr (rings, shared window,
// on-chip words, non-volatile window, DMA buffers). Faults when the range is not mapped.
u8* memory(u32 adr, u32 size);

// Memory words (little-endian, as on the target processor).
u32 readMem32(u32 adr);
void writeMem32(u32 adr, u32 value);
// Copies size bytes into mapped memory at adr, as one store after another.
void writeMemory(u32 adr, const void* data, u32 size);
// Sets size bytes of mapped memory at adr to zero. The target stores zeroes; a host board gives the
// whole pages of a board file back to its file system instead, so clearing a window takes no disk.
void clearMemory(u32 adr, u32 size);

// Global timer, low 32 bits, 333 ticks per microsecond.
constexpr u32 TICKS_PER_US = 333;
u32 timerTicks();
// Says that the running code now reads the timer in a busy wait until its low 32 bits reach
// untilTicks. The target ignores it; a host board may sleep through the wait.
void timerWaitHint(u32 untilTicks);

// Generic interrupt controller: connect and enable one handler per interrupt id.
using IrqHandler = void (*)(void* context);
bool irqConnect(int id, IrqHandler handler, void* context);
void irqDisconnect(int id);
void irqEnable(int id);
void irqDisable(int id);

// Caches and MMU: translation table entries and cache maintenance have no effect off the target.
void mmuSetSection(u32 sectionIndex, u32 entry);
void cacheInvalidateAll();

// Tells the register trace which frame and driver update stage the following writes belong to.
void traceStage(u32 frame, int stage);

// Host mirror of console output (the console ring is the real sink).
void debugOut(const char* data, size_t n);

// What the board has to say of its stored contents when it powers up, for start-up to log at WARN:
// the i-th line (from 0), or null past the last. None on the target; a host board reports a board
// file that it could not take as it stood (another size, contents it cannot read) and where it
// kept it.
const char* boardNotice(int i);

// The non-volatile window as the board found it when it powered up: how many bytes from its start
// held stored contents. All of them on the target, and on a new host board (nothing stored, all
// zero); fewer where a host board's store was shorter, an empty one on a board started before
// among them, and the rest of the window then reads zero and holds nothing stored.
u32 nonVolatileStoredBytes();
// Whether the board had to make the non-volatile window's store whole again since the last call (a
// host board's file cut, grown back, lengthened, removed or replaced while the system ran: the
// board writes it anew with the window's contents), with a line that says so for the log at WARN;
// null when not (always on the target). Called once a frame; a host board looks a few times a second.
const char* nonVolatileRestored();
// Keeps a copy of the window's contents as found at power-up where nothing overwrites it, before
// the system writes anew over contents that it cannot read; reason is one word for the copy's name.
// Returns the name of the copy, or null when the board has nowhere to keep one (the target).
const char* keepNonVolatile(const char* reason);

// The end of a run of main: a watchdog restart, a halt, or a jump to a hand-off address.
enum class EndReason { Restart, Halt, HandOff };
[[noreturn]] void endRun(EndReason reason, u32 arg);

}  // namespace platform
