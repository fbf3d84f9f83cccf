// OSD renderer: drawing state, rectangle commands, flush and image upload.
#include "Driver/osd/osd.h"

#include <cstring>

#include "Common/memory.h"
#include "Common/reg.h"
#include "Driver/osd/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Common/vsyncguard.h"

namespace {

constexpr u32 TIMEOUT_US = 4000000, POLL_US = 100;
constexpr int NO_SOURCE = -1;

struct Drawing {
  int target = -1;  // output index 0..3, -1 none
  u32 fillColor = 0;
  u32 copyColor = 0xFF8080FF;
  int alphaStart = 255, alphaRight = 255, alphaBottom = 255;
  u32 function = 0;
  int sourceX = NO_SOURCE, sourceY = NO_SOURCE;
};

Drawing& drawing() {
  static Drawing d;
  return d;
}

// Polls until the status bits in mask are clear. After the time-out the engine is reset and the
// wait given up (false).
bool waitClear(u32 mask) {
  const u32 start = mxGetTicks();
  for (;;) {
    const u32 status = mxReadReg(OSD_STATUS);
    if ((status & mask) == 0) return true;
    if (mxElapsedUs(start, mxGetTicks()) > TIMEOUT_US) {
      MX_LOG(libmx::ERR, "OSD rendering timeout : %x!!!\n", status);
      mxWriteReg(OSD_STATUS, OSD_RESET);
      mxWriteReg(OSD_STATUS, 0);
      return false;
    }
    mxWaitUs(POLL_US);
  }
}

// The memory port keeps one address: a frame that used it in the middle of a line would send the rest
// of the line elsewhere, so frames wait while a line goes out (inside a stretch that defers already,
// that stretch covers it).
struct DeferFrames {
  const bool own = vsyncGuard().busy == 0;
  DeferFrames() {
    if (own) beginVsyncDefer();
  }
  ~DeferFrames() {
    if (own) endVsyncDefer();
  }
  DeferFrames(const DeferFrames&) = delete;
  DeferFrames& operator=(const DeferFrames&) = delete;
};

int alphaOf(float x) { return static_cast<int>(x * 255.0f); }

// The alpha step per pixel over an extent (0 for none), as a 16-bit field.
u32 alphaStep(int from, int to, int extent) {
  const int step = extent == 0 ? 0 : (to - from) * 256 / extent;
  return static_cast<u32>(step) & 0xFFFF;
}

}  // namespace

void mxOsdSetColor(int y, int cb, int cr) {
  MX_CHECK(0 <= y && y <= 0x3ff);
  MX_CHECK(0 <= cb && cb <= 0x3ff);
  MX_CHECK(0 <= cr && cr <= 0x3ff);
  drawing().fillColor = static_cast<u32>(y / 4) << 24 | static_cast<u32>(cb / 4) << 16 | static_cast<u32>(cr / 4) << 8;
}

void mxOsdSetLevel(float y, float a) {
  MX_CHECK(0.0f <= y && y <= 1.001f);
  MX_CHECK(0.0f <= a && a <= 1.001f);
  drawing().copyColor = static_cast<u32>(a * 255.5f) | static_cast<u32>(y * 255.5f) << 24 | 0x808000;
}

void mxOsdSetAlphaGradient(float start, float right, float bottom) {
  MX_CHECK(0.0f <= start && start <= 1.0f);
  MX_CHECK(0.0f <= right && right <= 1.0f);
  MX_CHECK(0.0f <= bottom && bottom <= 1.0f);
  Drawing& d = drawing();
  d.alphaStart = alphaOf(start);
  d.alphaRight = alphaOf(right);
  d.alphaBottom = alphaOf(bottom);
}

void mxOsdSetFunction(int func) {
  MX_CHECK(MX_OSD_REPLACE <= func && func <= MX_OSD_MAX);
  drawing().function = static_cast<u32>(func - MX_OSD_REPLACE);
}

void mxOsdSetSourcePosition(int x, int y) {
  MX_CHECK(-1 <= x && x < 4096);
  MX_CHECK(-1 <= y && y < 2048);
  drawing().sourceX = x;
  drawing().sourceY = y;
}

void mxOsdFillRect(int target, int x1, int y1, int x2, int y2) {
  MX_CHECK(MX_MULTI1 <= target && target <= MX_MULTI4);
  MX_CHECK(x1 <= x2);
  MX_CHECK(0 <= x1 && x2 < 2048);
  MX_CHECK(y1 <= y2);
  MX_CHECK(0 <= y1 && y2 < 2048);
  Drawing& d = drawing();
  if (target - MX_MULTI1 != d.target) {
    mxOsdFlush();
    d.target = target - MX_MULTI1;
    mxWriteReg(OSD_TARGET, static_cast<u32>(target - OSD_TARGET_BASE_ID) << OSD_TARGET_SHIFT | OSD_PLANES);
    mxWriteReg(OSD_GEOMETRY_A, OSD_GEOMETRY_A_VALUE);
    mxWriteReg(OSD_GEOMETRY_B, OSD_GEOMETRY_B_VALUE);
  }
  if (!waitClear(OSD_FIFO_FULL)) return;  // the rectangle is dropped
  const bool gradient = d.sourceX == NO_SOURCE;
  const u32 corner = static_cast<u32>(x1) | d.function << OSD_FUNCTION_SHIFT | static_cast<u32>(y1) << 16;
  u32 words[4] = {corner | (gradient ? OSD_CMD_FILL : OSD_CMD_COPY), static_cast<u32>(x2) | static_cast<u32>(y2) << 16};
  if (gradient) {
    words[2] = static_cast<u32>(d.alphaStart) | d.fillColor;
    // Each step is a 16-bit field, so that a falling ramp does not spill into its neighbour.
    words[3] = alphaStep(d.alphaStart, d.alphaRight, x2 - x1) | alphaStep(d.alphaStart, d.alphaBottom, y2 - y1) << 16;
  } else {
    words[2] = d.copyColor;
    words[3] = static_cast<u32>(d.sourceX) | static_cast<u32>(d.sourceY) << 16;
  }
  mxWriteRegFifo(OSD_FIFO, words, 4);
}

void mxOsdFlush() {
  if (!waitClear(OSD_BUSY)) return;
  if ((mxReadReg(OSD_STATUS) & OSD_FLUSH_PENDING) == 0) return;
  mxWriteReg(OSD_STATUS, OSD_FLUSH);
  mxWriteReg(OSD_STATUS, 0);
  waitClear(OSD_FLUSH_PENDING);
}

void mxOsdBlit(int x, int y, int width, int lines, const u16* pixels) {
  MX_CHECK(0 <= x && x < 4096);
  MX_CHECK(0 <= y && y < 2048);
  MX_CHECK(x % 128 == 0);
  // The extent too: a line must not run past the line, nor the lines past the OSD area.
  MX_CHECK(0 <= width && x + width <= 4096);
  MX_CHECK(0 <= lines && y + lines <= 2048);
  MX_CHECK(pixels != nullptr || width == 0 || lines == 0);
  static u32 line[OSD_LINE_BYTES / 4];
  const size_t bytes = static_cast<size_t>(width) * 2;
  for (int n = 0; n < lines; ++n) {
    std::memcpy(line, pixels + static_cast<size_t>(n) * static_cast<size_t>(width), bytes);
    const u32 address = OSD_MEMORY + OSD_LINE_BYTES * static_cast<u32>(y + n) + 2 * static_cast<u32>(x);
    DeferFrames defer;
    mxWriteFpgaMemory(MX_ME2_BASE, address, line, static_cast<int>(bytes));
  }
}

void mxOsdBoardInit() {
  mxOsdSetSourcePosition(NO_SOURCE, NO_SOURCE);
  mxOsdSetAlphaGradient(1.0f, 1.0f, 1.0f);
  mxOsdSetFunction(MX_OSD_REPLACE);
  mxOsdSetColor(64, 512, 512);
  mxOsdSetAlphaGradient(0.0f, 0.0f, 0.0f);
  for (int target = MX_MULTI1; target <= MX_MULTI4; ++target) mxOsdFillRect(target, 0, 0, 1930, 1090);
  mxOsdFlush();
}

void mxOsdReset() { drawing() = Drawing{}; }
