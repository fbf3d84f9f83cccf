// Driver core: contexts, format selection and block initialisation, the per-frame update in five
// timed stages, board start, watchdog and the colour dispatcher.
#include "Driver/core/core.h"

#include <initializer_list>
#include <new>

#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/core/regs.h"
#include "Driver/dma/dma.h"
#include "Common/reg.h"
#include "Common/lock.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Lib/Include/shared.h"
#include "Lib/Include/storage.h"
#include "Common/vsyncguard.h"
#include "Platform/platform.h"

namespace {

// The control word of DMA channel 1, which carries the per-frame register update.
constexpr u32 UPDATE_DMA_CONTROL = MX_DMA_REGS + MX_DMA_REG_STRIDE * MX_DMA_UPDATE + MX_DMA_CONTROL;
constexpr u32 ME1_FIELD = MX_ME1_BASE + FPGA_FIELD;
constexpr int STARTUP_RESOURCE = 95;

constexpr u32 FRAME_COUNT_MAX = 60;
constexpr u32 STAT_REPORT_AT = 60;
constexpr u32 STAT_WRAP = 180;

struct Stat {
  u32 worstUs = 0;
  u32 count = 0;
};

struct CoreState {
  int context = 0;
  int format = 0;
  u32 width = 1920;
  u32 height = 540;
  u32 periodUs = 16666;
  bool paired = false;
  bool fourK = false;
  u32 initTicks = 0;
  u32 frameCount = 0;
  u32 frameNo = 0;  // frames since start, for the register trace
  bool statTiming = false;
  bool statBandwidth = false;
  bool statBlock = false;
  bool lockReleased = false;
  bool firstUpdate = true;
  bool devicesDone = false;
  int meField = 0;
  int glueField = 0;
  bool overrun = false;
  Stat update;
  Stat early;
  int mainLoop = 0;
};

CoreState& core() {
  static CoreState state;
  return state;
}

ResourceLock& startupLock() {
  // Never destroyed: the lock words may be gone when the program's statics are torn down.
  alignas(ResourceLock) static unsigned char storage[sizeof(ResourceLock)];
  static ResourceLock* lock = new (storage) ResourceLock;
  return *lock;
}

float msSince(u32 start) { return static_cast<float>(mxGetTicks() - start) / 333000.0f; }

bool is720(int format) { return format == 2 || format == 3; }

int lineOffset(int format) {
  static const int offsets[] = {675, 939, 345, 543, 0, 0};
  return (format >= 0 && format < 6) ? offsets[format] : 1005;
}

// Per-frame timing statistics of the update and the early update (timing switch on).
void recordTiming(Stat& stat, u32 us, const char* line) {
  if (us > stat.worstUs) stat.worstUs = us;
  if (++stat.count >= STAT_WRAP) stat.count = 0;
  if (stat.count == STAT_REPORT_AT) {
    MX_LOG(libmx::INFO, line, static_cast<double>(us) / 1000.0, static_cast<double>(stat.worstUs) / 1000.0);
    stat.worstUs = 0;
  }
}

void frameCounterEvents(CoreState& s) {
  if (s.frameCount == 10) {
    MX_LOG(libmx::INFO, "mxInitialize to mxUpdate : %f ms", static_cast<double>(msSince(s.initTicks)));
    initSdiTransceivers();
    s.devicesDone = true;
    adjustAllSerdesDelays();
  }
  if (s.frameCount == 12) {
    // The pattern tables go through ME2's memory port, which a main-loop upload may hold inside a
    // deferring stretch: the frame-12 events then wait for a later frame.
    if (vsyncGuard().busy != 0) return;
    // The pattern tables load after every format change; the rest happens once, at start-up.
    const bool first = !s.lockReleased;
    mxWatchdogKick();
    if (first) mxTemperatureMonitorStart();
    mxTransLoadPatternTables();
    if (first) {
      // Start-up is complete: the main function leaves its wait on resource 95.
      s.lockReleased = true;
      mxWriteReg(OCM_STARTUP_DONE, 1);
      startupLock().unlock();
    }
  }
  if (s.frameCount < FRAME_COUNT_MAX) ++s.frameCount;
}

}  // namespace

// ---- contexts ---------------------------------------------------------------------------------------
void mxSetContext(int target) {
  MX_CHECK(MX_CONTEXT_ME1 <= target && target <= MX_CONTEXT_ME4B);
  core().context = target - MX_CONTEXT_ME1;
}

void mxSelectContext(int target) { mxSetContext(target); }
int mxCurrentContext() { return MX_CONTEXT_ME1 + core().context; }
int mxContextIndex() { return core().context; }

u32 mxMeBase(int me) {
  MX_CHECK(me == 0 || me == 1);
  bool paired = core().paired;
  if (me == 0) return paired ? MX_ME1_PAIRED_BASE : MX_ME1_BASE;
  return paired ? MX_ME2_PAIRED_BASE : MX_ME2_BASE;
}

// ---- formats -----------------------------------------------------------------------------------------
MxFormat mxFormatInfo(int format) {
  switch (format) {
    case 0: return {1920, 540, 16666};
    case 1: return {1920, 540, 20000};
    case 2: return {1280, 720, 16666};
    case 3: return {1280, 720, 20000};
    case 4: return {720, 244, 16666};
    case 5: return {720, 288, 20000};
    case 6:
    case 7: return {1920, 540, 20833};
    default: MX_FAIL("NeverReachHere"); return {0, 0, 20833};
  }
}

int mxVideoFormat() { return core().format; }
u32 mxFrameWidth() { return core().width; }
u32 mxFrameHeight() { return core().height; }
u32 mxFramePeriodUs() { return core().periodUs; }
bool mxPairedFpga() { return core().paired; }
bool mx4kMode() { return core().fourK; }
u32 mxFrameCount() { return core().frameCount; }
int mxMeFieldBit() { return core().meField; }
int mxGlueFieldBit() { return core().glueField; }

int mxGetLineOffset() { return lineOffset(core().format); }

bool mxBoardRunsFormat(int format, bool paired, bool fourK) {
  return fourK == (format > 9) && (fourK || paired == (format == 8 || format == 9));
}

void mxInitialize(int format, float scale) {
  CoreState& s = core();
  u32 start = mxGetTicks();
  if (!mxBoardRunsFormat(format, s.paired, s.fourK)) {
    MX_LOG(libmx::ERR, "Invalid Video format %d in %d mode", format, s.paired ? 1 : 0);
    return;
  }
  s.paired = format >= 8;
  int folded;
  if (format == 12 || format == 13) {
    folded = format - 6;
    s.paired = false;
  } else if (format == 14 || format == 15) {
    folded = format - 14;
    s.paired = false;
  } else {
    folded = s.paired ? (format & 1) : (format & 7);
  }
  MxFormat info = mxFormatInfo(folded);
  s.format = folded;
  s.width = info.width;
  s.height = info.height;
  s.periodUs = info.periodUs;
  mxWriteReg(GLUE_FRAME_PERIOD, 50 * info.periodUs - 50000);

  initDevices();  // clock generator and board devices
  s.initTicks = mxGetTicks();
  initSyncTiming();
  initSyncTiming2();
  mxInitWindowTiming();
  mxTransInitialize(scale);
  mxSdiInit();
  mxStillInitialize();
  mxClipInit();
  mxDisplayInit();
  mxCbgdInit(folded, scale);
  mxFilterInitialize();
  mxDveInitialize(scale);
  mxKeyInit();
  mxMvInitFormat();
  mxGenlockReset();
  for (int mv : {MX_MULTI1, MX_MULTI2, MX_MULTI3, MX_MULTI4, MX_MULTI_GUI}) mxMvReset(mv);
  mxDviInit();
  mxOutConvInit();
  mxSetDefaultFormatTiming();
  mxLoadFormatTable();

  s.frameCount = 0;
  MX_LOG(libmx::INFO, "mxInitialize: %f ms", static_cast<double>(msSince(start)));
}

void mxSetVideoFormat(int format, float scale) {
  MX_NOTE_CALL(format, scale);
  mxInitialize(format, scale);
}

// ---- per-frame update ----------------------------------------------------------------------------------
void mxUpdateStage(int stage, u32 t0) {
  CoreState& s = core();
  platform::traceStage(s.frameNo, stage);
  switch (stage) {
    case 1:
      mxCrosspointUpdate();
      break;
    case 2:
      mxFrameUpdate();
      if (s.fourK) {
        while (mxElapsedUs(t0, mxGetTicks()) < 47) {
        }
      }
      mxFilterUpdate();
      mxClipUpdateOutputs();
      break;
    case 3:
      mxKeyUpdateMixer();
      mxSdiUpdateControl();
      mxCbgdUpdate();
      break;
    case 4:
      mxDveUpdate();
      mxDisplayUpdate();
      break;
    case 5:
      mxMvUpdate();
      mxClipUpdate();
      break;
    case MX_TRACE_TAIL:
      mxKeyLatchParams();
      mxSdiUpdateStatus();
      mxDveUpdateTail();
      if (s.glueField == 1) mxGenlockUpdate(s.glueField);
      break;
    default:
      MX_FAIL("NeverReachHere");
  }
}

void mxUpdateEntry() {
  CoreState& s = core();
  if (s.firstUpdate) {
    s.firstUpdate = false;
    mxWatchdogKick();
  }
  mxUpdate();
}

void mxUpdate() {
  CoreState& s = core();
  ++s.frameNo;
  platform::traceStage(s.frameNo, MX_TRACE_NONE);
  s.statTiming = mxReadReg(OCM_STAT_TIMING) != 0;
  s.statBandwidth = mxReadReg(OCM_STAT_BANDWIDTH) != 0;
  s.statBlock = mxReadReg(OCM_STAT_BLOCK) != 0;

  frameCounterEvents(s);

  mxWriteReg(UPDATE_DMA_CONTROL, 1);
  u32 t[MX_UPDATE_STAGES + 1];
  t[0] = mxGetTicks();
  u32 fieldMask = is720(s.format) ? FIELD_720 : FIELD_1080;
  s.meField = (mxReadReg(ME1_FIELD) & fieldMask) != 0 ? 1 : 0;
  s.glueField = (mxReadReg(GLUE_FIELD) & fieldMask) != 0 ? 1 : 0;

  for (int stage = 1; stage <= MX_UPDATE_STAGES; ++stage) {
    mxUpdateStage(stage, t[0]);
    t[stage] = mxGetTicks();
    if (stage == 4) mxWriteReg(UPDATE_DMA_CONTROL, 0);  // the command list of the frame is complete
  }
  mxUpdateStage(MX_TRACE_TAIL, t[0]);

  bool over = false;
  for (int k = 0; k < MX_UPDATE_STAGES; ++k) {
    u32 us = mxElapsedUs(t[0], t[k + 1]);
    if (us >= MX_STAGE_LIMIT_US[k]) {
      if (!s.overrun) {
        MX_LOG(libmx::WARN, "update time(%d) %d us, must be less than %d us", k, static_cast<int>(us),
               static_cast<int>(MX_STAGE_LIMIT_US[k]));
      }
      over = true;
    }
  }
  s.overrun = over;

  if (s.statTiming) recordTiming(s.update, mxElapsedUs(t[0], mxGetTicks()), "update %f ms : %f ms\n");
  if (s.statBandwidth) mxReportBandwidth();
  if (s.statBlock) mxReportBlockTimes();
  if (mxReadReg(OCM_SERDES_REQUEST) != 0) {
    adjustSerdesDelay(static_cast<int>(mxReadReg(OCM_SERDES_LINK)), static_cast<int>(mxReadReg(OCM_SERDES_REQUEST)));
    mxWriteReg(OCM_SERDES_REQUEST, 0);
  }
  // Whatever the frame's category work writes belongs to no stage.
  platform::traceStage(s.frameNo, MX_TRACE_NONE);
}

void mxUpdateEarly() {
  CoreState& s = core();
  platform::traceStage(s.frameNo, MX_TRACE_EARLY);
  mxWriteReg(UPDATE_DMA_CONTROL, 1);
  u32 t0 = mxGetTicks();
  mxTransUpdate();
  mxKeyWriteParams();
  mxWriteReg(UPDATE_DMA_CONTROL, 0);
  if (s.statTiming) recordTiming(s.early, mxElapsedUs(t0, mxGetTicks()), "update early %f ms : %f ms\n");
  platform::traceStage(s.frameNo, MX_TRACE_NONE);
}

// ---- board -------------------------------------------------------------------------------------------
int mxGetBoardVersion() { return (mxReadReg(OCM_BOOT_MODE) & BOOT_MODE_BOARD_V1) != 0 ? 1 : 2; }

int mxGetBoardType() {
  if (mxReadReg(GLUE_BOARD_ID) == 0) return 0;
  u32 r = mxReadReg(BOARD_STRAPS);
  bool high = ((r >> 17) & 3) == 3;
  bool low = ((r >> 13) & 3) == 3;
  return (high && !low) ? 1 : 3;
}

void mxWatchdogKick() { mxWriteReg(GLUE_WDT_KICK, WDT_KICK_KEY); }

void mxWatchdogEnable(int enable, int second) {
  MX_CHECK(enable == 0 || enable == 1);
  MX_CHECK(1 <= second && second <= 15);
  if (enable == 1) {
    mxWatchdogKick();
    mxWriteReg(GLUE_WDT_CONTROL, WDT_CONTROL_KEY + static_cast<u32>(second));
  } else {
    mxWriteReg(GLUE_WDT_CONTROL, WDT_CONTROL_KEY);
  }
}

void mxHalt() {
  // With the watchdog armed the board restarts out of this spin; without it nothing ever can.
  u32 control = mxReadReg(GLUE_WDT_CONTROL);
  if (control <= WDT_CONTROL_KEY || control > WDT_CONTROL_KEY + 15) platform::endRun(platform::EndReason::Halt, 0);
  for (;;) mxGetTicks();
}

void mxRestart() {
  mxWatchdogEnable(1, 1);
  mxHalt();
}

void mxAcquireStartupLock() {
  ResourceLock& lock = startupLock();
  if (!lock.isValid()) lock.lock(STARTUP_RESOURCE, 1);
}

bool mxStartupLockReleased() { return core().lockReleased; }
void mxPollInputs() { mxSdiPollInputs(); }
bool mxBoardDevicesDone() { return core().devicesDone; }

void mxSetMainLoop(int flag) { core().mainLoop = flag; }
int mxMainLoop() { return core().mainLoop; }

void mxBoardInit() {
  CoreState& s = core();
  libmx::LogInstance::instance().setHandle(0);
  MX_LOG(libmx::INFO, "Board version %d", mxGetBoardVersion());

  const int mode = boardModeOf(mxReadReg(NON_VOLATILE_BASE + STORAGE_BOARD_MODE_MARKER),
                               mxReadReg(NON_VOLATILE_BASE + STORAGE_BOARD_MODE));
  s.paired = mode != 0;
  s.fourK = mode == 2;
  if ((mxReadReg(OCM_BOOT_MODE) & BOOT_MODE_KEEP_WATCHDOG) == 0) mxWatchdogEnable(0, 10);
  mxWriteReg(ME1_GENLOCK_DAC, 0x80000);

  mxSetTemperatureAlarm(GLUE_XADC, 90);
  for (u32 fpga : {MX_ME1_BASE, MX_ME2_BASE, MX_SDI1_BASE, MX_SDI2_BASE}) mxSetTemperatureAlarm(fpga + FPGA_XADC, 100);

  for (u32 player = 0; player < 4; ++player) mxWriteReg(SHARED_WINDOW_BASE + SMEM_STILL_VALID + 4 * player, 0);
  mxClipResetHeader(-1);
  mxOsdBoardInit();

  mxInitialize(s.fourK ? 10 : s.paired ? 8 : 0, 1.0f);
}

// ---- colours -------------------------------------------------------------------------------------------
void mxSetColor(int target, int y, int cb, int cr) {
  MX_NOTE_CALL(target, static_cast<float>(y), static_cast<float>(cb), static_cast<float>(cr));
  MX_CHECK(MX_COLOR_BKGD_BORDER <= target && target <= MX_COLOR_USK4_MATTE);
  auto in = [target](int first, int last) { return first <= target && target <= last; };
  if (target == MX_COLOR_BKGD_BORDER) {
    mxTransSetBkgdBorderColor(y, cb, cr);
    mxDveSetColor(MX_BKGD, y, cb, cr);
  } else if (in(MX_COLOR_KEY1_BORDER, MX_COLOR_KEY4_BORDER)) {
    int key = MX_KEY1 + 2 * (target - MX_COLOR_KEY1_BORDER);
    mxTransSetKeyBorderColor(key, y, cb, cr);
    mxDveSetColor(key, y, cb, cr);
  } else if (in(MX_COLOR_KEY1_MATTE, MX_COLOR_KEY4_MATTE)) {
    mxKeySetMatteColor(MX_KEY1 + 2 * (target - MX_COLOR_KEY1_MATTE), y, cb, cr);
  } else if (in(MX_COLOR_KEY1_SECOND, MX_COLOR_KEY4_SECOND)) {
    mxKeySetEdgeColor(MX_KEY1 + 2 * (target - MX_COLOR_KEY1_SECOND), y, cb, cr);
  } else if (in(MX_COLOR_KEY1_THIRD, MX_COLOR_KEY4_THIRD)) {
    mxKeySetExtraColor(MX_KEY1 + 2 * (target - MX_COLOR_KEY1_THIRD), y, cb, cr);
  } else if (in(MX_COLOR_DSK1_MATTE, MX_COLOR_DSK4_MATTE)) {
    mxKeySetMatteColor(MX_DSK1 + 2 * (target - MX_COLOR_DSK1_MATTE), y, cb, cr);
  } else if (in(MX_COLOR_DSK1_SECOND, MX_COLOR_DSK4_SECOND)) {
    mxKeySetEdgeColor(MX_DSK1 + 2 * (target - MX_COLOR_DSK1_SECOND), y, cb, cr);
  } else if (in(MX_COLOR_USK1_MATTE, MX_COLOR_USK4_MATTE)) {
    mxKeySetMatteColor(MX_USK1_S + 2 * (target - MX_COLOR_USK1_MATTE), y, cb, cr);
  }
  // Codes between the groups are accepted and change nothing.
}

// ---- test support -----------------------------------------------------------------------------------
void mxCoreReset() {
  startupLock().unlock();
  core() = CoreState{};
}
