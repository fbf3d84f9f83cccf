#pragma once
// The simulated board behind the platform seam: memory map, board directory, FPGA register file
// with its write trace, virtual clock, and hooks for board models (DMA engine, interrupts, I2C,
// NAND, ...). Host only: tests and the host programs use it; the system never includes it.
#include <string>
#include <utility>
#include <vector>

#include "Lib/Include/memory_map.h"
#include "Platform/platform.h"

namespace platform {

// ---- Memory map -------------------------------------------------------------------------------
// Target addresses (Lib/Include/memory_map.h) of the board directory files and of the host-only
// memory regions.
constexpr u32 LINK_BASE = LINK_WINDOW_BASE, LINK_SIZE = LINK_WINDOW_SIZE;  // link.mem
constexpr u32 SHARED_BASE = SHARED_WINDOW_BASE, SHARED_SIZE = 0x8000000;  // shared.mem
constexpr u32 NVRAM_BASE = NON_VOLATILE_BASE, NVRAM_SIZE = NON_VOLATILE_SIZE;  // nvram.mem
constexpr u32 OCM_BASE = ON_CHIP_BASE, OCM_SIZE = 0x10000;                // ocm.mem
// Working memory of the board that the front end does not see: the work area, the display memory
// the extended display's encoder works in, then the DMA buffers up to the link window.
constexpr u32 DRAM_BASE = WORK_AREA_BASE, DRAM_SIZE = DISPLAY_MEMORY_BASE - WORK_AREA_BASE;
constexpr u32 DISPLAY_BASE = DISPLAY_MEMORY_BASE, DISPLAY_SIZE = DISPLAY_MEMORY_SIZE;
constexpr u32 BUFFER_BASE = WORK_AREA_END, BUFFER_SIZE = LINK_WINDOW_BASE - WORK_AREA_END;
// Program memory: statics that a DMA engine must reach (the backup buffer).
constexpr u32 PROGRAM_BASE = BACKUP_BUFFER_ADR, PROGRAM_SIZE = 0x100000;
// Working memory that receives the length-prefixed image read from NAND at power-on (0x31FFFFFC).
constexpr u32 IMAGE_RAM_BASE = 0x31F00000, IMAGE_RAM_SIZE = 0x500000;

// The flash's file in the board directory: there once the board has been started (a new board's is
// written with the factory contents).
constexpr const char* FLASH_FILE = "nand.img";

enum class ClockMode { RealTime, Stepped, Fast };

struct BoardOptions {
  std::string dir;          // board directory; empty: anonymous memory (unit tests)
  bool powerOn = false;     // clear the volatile regions first, as a power cycle does
  ClockMode clock = ClockMode::Stepped;
  std::string traceFile;    // every register write as text lines; empty: none
  // Address ranges (first, last, both included) whose writes go to the trace file; empty: all.
  std::vector<std::pair<u32, u32>> traceRanges;
};

// Maps the board (closing a board that is open). Files that are missing are created zeroed.
void boardOpen(const BoardOptions& options);
void boardClose();
bool boardIsOpen();
const BoardOptions& boardOptions();

// Adds a line for the start-up to log at WARN (platform::boardNotice); boardOpen forgets them.
void boardNote(const std::string& line);
// A name for a copy kept aside: path when no file has it, else the first of path.2, path.3, ... that
// none has, so that no copy kept earlier is replaced.
std::string boardFreeName(const std::string& path);
// Writes bytes as a new file FILE.REASON in the board directory, under its free name (above).
// Returns the new file's name; empty without a board directory, or when it could not be written
// (said on standard error).
std::string boardKeepAside(const std::string& file, const std::string& reason, const std::vector<u8>& bytes);

// Zeroes every volatile region (tests; a power cycle), giving their whole pages back.
void boardClearVolatile();
// Gives back the disk of the shared window file's all-zero pages (a start-up clears most of it);
// they read as zero as before. Nothing but this process may write the window meanwhile.
void boardReleaseZeroPages();

// A board model that stores into memory by pointer (the DMA engine) says first what [adr, adr + size)
// is to hold: the board keeps what the non-volatile window holds beside its file (a file cut,
// removed or replaced gets it back).
void boardStores(u32 adr, const void* data, u32 size);

// A board file mapped at [at, at + size): a store there that its file system cannot back (the disk
// full, the file cut) faults naming the file (instead of SIGBUS). boardOpen notes its own files.
void boardFileMapped(const void* at, size_t size, const std::string& path);
void boardFileUnmapped(const void* at);

// ---- Faults -------------------------------------------------------------------------------------
// An access outside every mapped range calls this handler with a message naming the address.
// The default prints the message and aborts; tests install one that throws.
using FaultHandler = void (*)(const char* message);
void setFaultHandler(FaultHandler handler);
// Whether the fault being handled came from the bus-error signal (a store into a page of a board file
// that its file system cannot back): its handler then runs in the signal handler, and may only call
// what is safe there.
bool faultInSignalHandler();
[[noreturn]] void fault(const char* format, ...);

// ---- End of a run of main ------------------------------------------------------------------------
// Called by endRun; must not return (the host program exits or restarts, a test throws).
using EndHandler = void (*)(EndReason reason, u32 arg);
void setEndHandler(EndHandler handler);

// ---- FPGA register file --------------------------------------------------------------------------
// Every register reads the last value written unless a board model answers for it.
struct RegisterDevice {
  virtual ~RegisterDevice() = default;
  // Return true and set value to answer a read; false leaves the stored value.
  virtual bool read(u32 adr, u32& value) { (void)adr; (void)value; return false; }
  // Called after the value is stored and traced.
  virtual void write(u32 adr, u32 value) { (void)adr; (void)value; }
};
// Routes accesses to [base, base + size) to the device. Ranges are word aligned; up to twelve devices
// may share one 4 KiB page.
void attachDevice(u32 base, u32 size, RegisterDevice* device);
void detachDevice(RegisterDevice* device);

// Test access: the stored value, and setting it without a trace entry (what a status read returns).
u32 regPeek(u32 adr);
void regPoke(u32 adr, u32 value);
// Clears every register (a new board).
void regReset();

struct TraceEntry {
  u32 frame;
  int stage;
  u32 adr;
  u32 value;
};
// The most recent writes (bounded), oldest first, and a way to forget them.
std::vector<TraceEntry> traceRecent();
void traceClear();
u64 traceWriteCount();

// ---- Memory write log ---------------------------------------------------------------------------
// While on, every 32-bit word that writeMemory or writeMem32 stores into [base, base + size) is noted
// with its address, in the order of the stores. Starting empties the log; stopping keeps it.
struct MemoryWrite {
  u32 adr;
  u32 value;
};
void memoryLogStart(u32 base, u32 size);
void memoryLogStop();
const std::vector<MemoryWrite>& memoryLog();

// ---- Virtual clock ------------------------------------------------------------------------------
// In stepped and fast mode every read of the timer advances it by one microsecond (333 ticks), so
// busy waits end deterministically; in real-time mode it follows the host clock.
void clockSetMode(ClockMode mode);
ClockMode clockMode();
u64 clockNow();                 // ticks since the board was opened, without advancing
void clockAdvance(u64 ticks);   // moves the clock on (tests), running due timer hooks

// Board models that act as time passes (VSYNC, DMA completion, watchdog) register a hook that
// runs whenever the running code reads the timer, with the current tick count.
using TimerHook = void (*)(u64 now);
void addTimerHook(TimerHook hook);
void removeTimerHook(TimerHook hook);
// Called by a hook: its next event is due at tick. In real-time mode a busy wait sleeps no later.
void clockWakeBy(u64 tick);

// ---- Interrupt controller (host side) -------------------------------------------------------------
// Calls the handler of an enabled, connected interrupt (unless it is running already). Returns
// whether it ran.
bool irqRaise(int id);
bool irqIsEnabled(int id);
bool irqIsConnected(int id);

// ---- Host console -------------------------------------------------------------------------------
// Whether console output is mirrored to the host's standard output (default on), and a sink that
// takes the mirrored bytes instead (null: standard output without the log's ESC bytes).
void setDebugEcho(bool on);
using DebugSink = void (*)(const char* data, size_t n);
void setDebugSink(DebugSink sink);

}  // namespace platform
