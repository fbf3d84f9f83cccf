// Program entry: power-on sequence, category start-up, interrupts, and the 30 ms main loop.
#include "Amp/config.h"
#include "Common/lock.h"
#include "Common/memory.h"
#include "Driver/core/core.h"
#include "Driver/core/regs.h"
#include "Driver/ddr3/ddr3.h"
#include "Driver/resets.h"
#include "Common/reg.h"
#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Main/framework/startup.h"
#include "Main/framework/vsync.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/storage.h"
#include "Platform/platform.h"

namespace {

constexpr u32 WARM_CLEAR = 0x6000000;
constexpr u32 COLD_CLEAR = 0x8000000;
constexpr u32 WORK_CLEAR = 0x3000000;
constexpr u32 NV_VERSION = 4;  // the backup image's version word
constexpr u32 SHARED_ATTRIBUTES = 0x4DE2;
constexpr int STARTUP_RESOURCE = 95;
constexpr u32 LOOP_US = 30000;
constexpr int WATCHDOG_SECONDS = 10;

// What the board found wrong with its stored contents (flash, backup image) as it powered up.
void logBoardNotices() {
  for (int i = 0; const char* line = platform::boardNotice(i); ++i) MX_LOG(libmx::WARN, "%s", line);
}

void coldPath() {
  // Keep the other core out while shared resources are set up.
  mxHardLock(MX_HARD_LOCK_2);
  consoleReset();
  MX_LOG(libmx::INFO, "start power on sequence");
  logBoardNotices();
  u32 start = mxGetTicks();
  stopwatch(start, 0);
  // A wrong board halts; the armed watchdog restarts it.
  mxWatchdogEnable(1, WATCHDOG_SECONDS);
  if (mxGetBoardType() != 0) {
    mxHardUnlock(MX_HARD_LOCK_2);
    MX_LOG(libmx::ERR, "halt on not ORV21");
    mxHalt();
  }
  // FPGA images and the NAND image.
  mxLoadFpgaImages(1);
  stopwatch(start, 0);
  mxLoadNandImage();
  stopwatch(start, 0);
  // Link rings, shared memory, the start-up lock and the version copy.
  mxFifoReset();
  platform::clearMemory(SHARED_WINDOW_BASE, COLD_CLEAR);
  mxAcquireStartupLock();
  mxWriteReg(NON_VOLATILE_BASE + STORAGE_VERSION_COPY, mxReadReg(NON_VOLATILE_BASE + NV_VERSION));
  mxHardUnlock(MX_HARD_LOCK_2);
  stopwatch(start, 0);
  // FPGA configuration (a failure has logged itself; start-up goes on).
  mxConfigureFpgas(1);
  stopwatch(start, 0);
  mxWatchdogKick();
  // DDR3 work area and bring-up.
  setSectionAttributes(WORK_AREA_BASE, WORK_AREA_END, SHARED_ATTRIBUTES);
  platform::clearMemory(WORK_AREA_BASE, WORK_CLEAR);
  mxInitDdr3();
  stopwatch(start, 0);
  mxWatchdogKick();
  mxWatchdogEnable(1, WATCHDOG_SECONDS);
  mxWriteReg(OCM_WARM_START, 1);
}

}  // namespace

void setSectionAttributes(u32 start, u32 end, u32 attributes) {
  for (u32 section = start >> 20; section < (end >> 20); ++section) {
    platform::mmuSetSection(section, attributes | (section << 20));
  }
}

int stopwatch(u32 start, int offset) {
  int ms = static_cast<int>((mxGetTicks() - start) / 333000u) + offset;
  MX_LOG(libmx::INFO, "time : %d ms", ms);
  return ms;
}

void powerOnSequence() {
  platform::cacheInvalidateAll();
  platform::mmuSetSection(OCM_SECTION >> 20, OCM_SECTION | SHARED_ATTRIBUTES);
  mxWriteReg(OCM_HANDOFF, 0);
  setSectionAttributes(SHARED_WINDOW_BASE, WORK_AREA_BASE, SHARED_ATTRIBUTES);
  setSectionAttributes(WORK_AREA_END, LINK_WINDOW_LAST + 1, SHARED_ATTRIBUTES);
  setSectionAttributes(0, LOW_MEMORY_END, 0);

  if (mxReadReg(OCM_WARM_START) != 0) {
    logBoardNotices();
    mxFifoReset();
    platform::clearMemory(SHARED_WINDOW_BASE, WARM_CLEAR);
  } else {
    coldPath();
  }
  mxBoardInit();
}

void checkHandOff() {
  u32 address = mxReadReg(OCM_HANDOFF);
  if (address >= LINK_WINDOW_BASE && address <= LINK_WINDOW_LAST) {
    mxWriteReg(GLUE_HANDOFF_CONTROL, 0x3E00);
    shutdownInterrupts();
    MX_LOG(libmx::INFO, "return %08x", address);
    platform::endRun(platform::EndReason::HandOff, address);
  }
  mxPollInputs();
}

namespace {

void startUp() {
  mxSetMainLoop(1);
  powerOnSequence();
  MX_LOG(libmx::INFO, "Start ORVEX-21 Backend Process");
  mxSetMainLoop(0);

  category::CategoryRegistry& registry = category::CategoryRegistry::instance();
  createCategories();
  registry.initialize();
  setupInterrupts(onVsync);

  // Frames run in the waits; the driver update releases the lock at its twelfth frame.
  ResourceLock probe;
  for (;;) {
    probe.lock(STARTUP_RESOURCE, 1);
    if (probe.isValid()) break;
    mxWaitUs(LOOP_US);
  }
  probe.unlock();
  MX_LOG(libmx::INFO, "Start Timer task");
}

}  // namespace

void bpStart() {
  try {
    startUp();
  } catch (const assert::AssertException&) {
    // The failed check has logged itself. Start-up ends here and waits for the watchdog that the
    // power-on sequence armed to restart the board; the other core is not kept out meanwhile.
    mxHardUnlock(MX_HARD_LOCK_2);
    mxHalt();
  }
}

void bpMainLoopPass() {
  mxWaitUs(LOOP_US);
  mxSetMainLoop(1);
  checkHandOff();
  try {
    category::CategoryRegistry::instance().refreshAll();
  } catch (const assert::AssertException& e) {
    // The check has logged the condition; the loop goes on with the next pass.
    MX_LOG(libmx::ERR, "refresh stopped at %s(%d)", e.file(), e.line());
  }
  mxSetMainLoop(0);
}

void bpMain() {
  bpStart();
  for (;;) bpMainLoopPass();
}

void bpReset() {
  mxResetAllBlocks();
  vsyncReset();
}
