// VSYNC interrupt handler, frame callback and frame deferral.
#include "Main/framework/vsync.h"

#include <cstdlib>

#include "Driver/core/core.h"
#include "Driver/core/regs.h"
#include "Common/reg.h"
#include "Main/framework/startup.h"
#include "Lib/Include/log.h"
#include "Lib/Include/memory_map.h"
#include "Platform/platform.h"
#include "Main/framework/bp.h"

namespace {

constexpr int VSYNC_IRQ_ID = 31;
constexpr u32 IRQ_ALL = 7;
constexpr u32 STATUS_EARLY = 1u << 0;
constexpr u32 STATUS_FIELD_SHIFT = 2;
constexpr u32 STAT_EVERY = 120;
constexpr u32 SECTION_ATTRIBUTES = 0x4DE2;

struct HandlerDescriptor {
  u32 id;
  u32 statusRegister;
  u32 word2;
  u32 word3;
};

struct HandlerState {
  VsyncCallback callback = nullptr;
  HandlerDescriptor descriptor{};
  u8 lastOnTime = 0;
  u32 lastVsync = 0;
  u32 statCount = 0;
  u32 statMaxUs = 0;
  int field = 0;
};

HandlerState& handler() {
  static HandlerState state;
  return state;
}

void registryProcess() { category::CategoryRegistry::instance().process(); }

FrameWork frameWork = registryProcess;

// Frame work never escapes: a failed check has logged itself, the rest of the work is lost and the
// next frame runs normally.
template <class Work>
void contained(Work&& work) {
  try {
    work();
  } catch (...) {
  }
}

// The frame's category work, with the driver's main-loop flag cleared while it runs.
void runFrame() {
  struct Restore {
    int flag;
    ~Restore() { mxSetMainLoop(flag); }
  } restore{mxMainLoop()};
  mxSetMainLoop(0);
  frameWork();
}

float toMs(u32 us) { return static_cast<float>(us) / 1000.0f; }

}  // namespace

int vsyncFieldBit() { return handler().field; }
void vsyncSetFrameWork(FrameWork work) { frameWork = work != nullptr ? work : registryProcess; }

void vsyncReset() {
  handler() = HandlerState{};
  vsyncGuard() = VsyncGuard{};
  frameWork = registryProcess;
}

void setupInterrupts(VsyncCallback callback) {
  HandlerState& h = handler();
  mxWriteReg(GLUE_IRQ_ENABLE, 0);
  h.descriptor = HandlerDescriptor{static_cast<u32>(VSYNC_IRQ_ID), GLUE_IRQ_STATUS, 0x11111111, 0};
  setSectionAttributes(0, 0x100000, SECTION_ATTRIBUTES);
  bool connected = platform::irqConnect(VSYNC_IRQ_ID, vsyncHandler, &h.descriptor);
  if (connected) platform::irqEnable(VSYNC_IRQ_ID);
  setSectionAttributes(0, 0x100000, 0);
  if (!connected) {
    consolePrintf("ERROR: cannot register interrupt handler\n");
    return;
  }
  h.callback = callback;
  mxWriteReg(GLUE_IRQ_STATUS, IRQ_ALL);
  mxWriteReg(GLUE_IRQ_ENABLE, IRQ_ALL);
}

void shutdownInterrupts() {
  platform::irqDisable(VSYNC_IRQ_ID);
  platform::irqDisconnect(VSYNC_IRQ_ID);
  mxWriteReg(GLUE_IRQ_ENABLE, 0);
}

void vsyncHandler(void*) {
  HandlerState& h = handler();
  u32 status = mxReadReg(GLUE_IRQ_STATUS);
  mxWriteReg(GLUE_IRQ_STATUS, status & IRQ_ALL);
  mxWriteReg(GLUE_IRQ_ENABLE, 0);

  if ((status & STATUS_EARLY) != 0) {
    if (h.callback != nullptr) h.callback(-1);
  } else {
    u32 now = mxGetTicks();
    u32 period = mxFramePeriodUs();
    if (h.lastOnTime != 0) {
      u32 since = mxElapsedUs(h.lastVsync, now);
      if (std::abs(static_cast<s64>(since) - static_cast<s64>(period)) > 1000) {
        MX_LOG(libmx::WARN, "Lost VSYNC %f ms", static_cast<double>(toMs(since)));
      }
    }
    h.lastVsync = now;

    if (h.callback != nullptr) h.callback(static_cast<int>((status >> STATUS_FIELD_SHIFT) & 1));
    u32 run = mxElapsedUs(now, mxGetTicks());
    if (run >= period) MX_LOG(libmx::WARN, "VSYNC handler executes for %f ms\n", static_cast<double>(toMs(run)));
    // A late frame makes the next period meaningless: its check is skipped.
    h.lastOnTime = run < period ? 1 : 0;

    if (mxReadReg(OCM_STAT_TIMING) != 0) {
      if (run > h.statMaxUs) h.statMaxUs = run;
      if (++h.statCount >= STAT_EVERY) {
        consolePrintf("executes time %f ms : %f ms\n", static_cast<double>(toMs(run)),
                      static_cast<double>(toMs(h.statMaxUs)));
        h.statCount = 0;
        h.statMaxUs = 0;
      }
    }
    mxWriteReg(GLUE_IRQ_STATUS, 6);
  }
  mxWriteReg(GLUE_IRQ_ENABLE, IRQ_ALL);
}

void onVsync(int arg) {
  contained([arg] { onVsyncFrame(vsyncGuard(), arg); });
}

void onVsyncFrame(VsyncGuard& guard, int arg) {
  if (arg == -1) {
    mxUpdateEarly();
    return;
  }
  mxUpdateEntry();
  handler().field = arg;  // the system category's phase predicates read it (vsyncFieldBit)
  if (guard.busy != 0) {
    guard.pending = 1;
    vsyncSetDeferredFrame([] { contained(runFrame); });
  } else if (guard.pending == 0) {
    runFrame();
  }
}
