// Extended display: pipeline set-up of the reduced-picture and JPEG modes, and the per-frame step
// that starts the encoder, adapts its quantiser scale and publishes the status record.
#include "Driver/display/display.h"

#include <algorithm>
#include <bit>

#include "Common/reg.h"
#include "Common/shared.h"
#include "Driver/blocks.h"
#include "Driver/clip/clip.h"
#include "Driver/core/regs.h"
#include "Driver/display/regs.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"
#include "Lib/Include/shared.h"
#include "Platform/platform.h"

namespace {

constexpr u32 COUNT_STOP = 120;
constexpr u32 CLEAR_FIRST = 9, CLEAR_LAST = 24;  // frames that clear a megabyte of display memory
constexpr u32 CLEAR_BYTES = 0x100000;
constexpr u32 SIZE_WITHHELD = 30;                // frames after a set-up without reported sizes
constexpr u32 PICTURE_WIDTH = 1152, PICTURE_HEIGHT = 288;
constexpr u32 JPEG_HEIGHT = 912, JPEG_WINDOW_HEIGHT = 928;
constexpr float PICTURE_SCALE = 2.0f, JPEG_SCALE = 1.0f;
constexpr float SCALE_MIN = 0.25f, SCALE_MAX = 15.5f, RATIO_MIN = 0.8f;
constexpr float CHROMA_FIRST = 0.5f, CHROMA_SECOND = 0.5625f;
constexpr double BUDGET_PER_INTERVAL = 4166.6665;  // JPEG bytes per frame of the interval

struct DisplayDriver {
  bool on = false;
  bool jpeg = false;
  int interval = 1;
  u32 parameter = 0;
  u32 delayed[2] = {0, 0};  // the parameter one and two JPEG frames ago
  bool toggle = false;
  u32 frames = 0;
  bool setupPending = false;
  float scale = PICTURE_SCALE;
  u32 width = PICTURE_WIDTH, height = PICTURE_HEIGHT;
  float chroma = CHROMA_FIRST;
  u8 ready = 0;
  MxDisplayFilterSetter filter = nullptr;
};

DisplayDriver& driver() {
  static DisplayDriver d;
  return d;
}

bool isSd(int format) { return format == 4 || format == 5; }
bool is720(int format) { return format == 2 || format == 3; }

void setFilter(DisplayDriver& d, int target, float a, float b, float c, float e) {
  (d.filter != nullptr ? d.filter : mxFilterSetParameters)(target, a, b, c, e);
}

void writeWindow(u32 left, u32 top, u32 right, u32 bottom) {
  const u32 words[4] = {left, top, right, bottom};
  for (u32 k = 0; k < 4; ++k) mxWriteReg(DISPLAY_WINDOW + 4 * k, words[k]);
}

void writeEncoder(u32 width, u32 height, u32 x, u32 y) {
  u32 dct[32];
  mxDctCoefficients(dct);
  for (u32 k = 0; k < 4; ++k) mxWriteRegFifo(DISPLAY_DCT + 4 * k, dct + 8 * k, 8);
  mxWriteReg(DISPLAY_ENCODER + DISPLAY_ENC_LAST_PIXEL, width - 1);
  mxWriteReg(DISPLAY_ENCODER + DISPLAY_ENC_LAST_LINE, height - 1);
  mxWriteReg(DISPLAY_ENCODER + DISPLAY_ENC_X, x);
  mxWriteReg(DISPLAY_ENCODER + DISPLAY_ENC_Y, y);
  mxWriteReg(DISPLAY_ENCODER + DISPLAY_ENC_STRIDE, DISPLAY_ENC_STRIDE_VALUE);
}

void setUpJpeg(DisplayDriver& d, int format, float w, float h) {
  mxWriteReg(DISPLAY_ME_JPEG, 1);
  mxWriteReg(DISPLAY_GLUE_JPEG, 1);
  d.width = is720(format) ? 1280 : isSd(format) ? 768 : 1920;
  d.height = JPEG_HEIGHT;
  d.scale = JPEG_SCALE;
  writeEncoder(d.width, d.height, 0, 0);
  writeWindow(0, 0, d.width, JPEG_WINDOW_HEIGHT);
  if (isSd(format)) mxWriteReg(DISPLAY_ME2_SD, 1);
  if (d.width == 1920) mxWriteReg(DISPLAY_ME2_LINES, 544);
  setFilter(d, MX_EXT_OUT_3, 0, 0, 1.0f, 1.0f);
  if (isSd(format)) setFilter(d, MX_DISPLAY_FILTER, 0, 0, 320 / w, 1.0f);
  else setFilter(d, MX_DISPLAY_FILTER, 3 / w, 0, 640 / w, 360 / h);
}

void setUpPicture(DisplayDriver& d, int format, float w, float h) {
  mxWriteReg(DISPLAY_ME_JPEG, 0);
  mxWriteReg(DISPLAY_GLUE_JPEG, 0);
  struct Window {
    u32 x, y, w, h;
  };
  const Window win = format == 4 ? Window{96, 32, 320, 256} : format == 5 ? Window{64, 0, 384, 288} : Window{0, 0, 512, 288};
  d.width = PICTURE_WIDTH;
  d.height = PICTURE_HEIGHT;
  d.scale = PICTURE_SCALE;
  writeEncoder(d.width, d.height, 4, format == 4 ? 236 : 284);
  writeWindow(win.x, win.y, win.x + win.w, win.y + win.h);
  if (format == 4) setFilter(d, MX_EXT_OUT_3, 96 / w, 32 / h, 320 / w, 1.0f);
  else if (format == 5) setFilter(d, MX_EXT_OUT_3, 64 / w, 0, 384 / w, 287 / h);
  else setFilter(d, MX_EXT_OUT_3, 1 / w, 0, (is720(format) ? 507 : 508) / w, 287 / h);
}

void setUp(DisplayDriver& d) {
  const int format = mxVideoFormat();
  const float w = static_cast<float>(mxFrameWidth()), h = static_cast<float>(mxFrameHeight());
  if (d.jpeg) setUpJpeg(d, format, w, h);
  else setUpPicture(d, format, w, h);
  // Line timing of the scaler path by format code 1..9, 4400 for the others.
  static constexpr u32 LINE[10] = {4400, 5280, 3300, 3960, 1716, 1728, 5500, 5500, 4400, 5280};
  const u32 t = (format >= 0 && format < 10) ? LINE[format] : 4400;
  mxWriteReg(DISPLAY_ME_TIMING_1, t - 12);
  mxWriteReg(DISPLAY_ME_TIMING_2, t - 21);
  mxWriteReg(DISPLAY_ME_BLOCK, DISPLAY_ME_BLOCK_VALUE);
  mxWriteReg(DISPLAY_ME_LAST_PIXEL, isSd(format) ? 719 : 1279);
  mxWriteReg(DISPLAY_ME_STEP, 2);
  mxWriteReg(DISPLAY_ME_LAST_LINE, format == 4 ? 245 : format == 5 ? 290 : 362);
  d.frames = 0;
}

void publish(const DisplayDriver& d, u32 size) {
  DisplayStatus s;
  s.chromaOffset = d.chroma;
  s.ready = d.ready;
  s.size = d.frames < SIZE_WITHHELD ? 0 : size;
  s.scale = d.scale;
  s.width = d.width;
  s.height = d.height;
  s.parameter = d.delayed[1];
  SharedMemory::instance().write(SMEM_DISPLAY_STATUS, &s, sizeof s);
}

u32 encodedSize(const DisplayDriver& d) {
  if (!d.on || (mxReadReg(DISPLAY_STATUS) & DISPLAY_DONE_MASK) != DISPLAY_DONE) return 0;
  return mxReadReg(DISPLAY_SIZE);
}

void writeChroma(DisplayDriver& d, bool second) {
  const float s = second ? CHROMA_SECOND : CHROMA_FIRST;
  mxWriteReg(DISPLAY_CHROMA_WORD, second ? DISPLAY_CHROMA_SECOND : DISPLAY_CHROMA_FIRST);
  mxWriteReg(DISPLAY_CHROMA_OFFSET, std::bit_cast<u32>(s));
  mxWriteReg(DISPLAY_CHROMA_OFFSET, std::bit_cast<u32>(-s));
  d.chroma = s;
}

void adaptScale(DisplayDriver& d, float ratio) { d.scale = std::clamp(std::max(ratio, RATIO_MIN) * d.scale, SCALE_MIN, SCALE_MAX); }

void pictureStep(DisplayDriver& d) {
  const u32 size = encodedSize(d);
  publish(d, size);
  mxWriteReg(DISPLAY_CONTROL, DISPLAY_CTRL_IDLE);
  writeChroma(d, mxGlueFieldBit() == 1);
  if (size != 0) adaptScale(d, static_cast<float>(size) * 480e-6f / 30);
  u32 table[64];
  mxClipLoadQuantTable(table, d.scale);
  mxWriteRegFifo(DISPLAY_ENCODER + DISPLAY_ENC_QUANT, table, 64);
  d.ready = 0;
  if (d.on) mxWriteReg(DISPLAY_CONTROL, DISPLAY_CTRL_START);
}

void jpegStep(DisplayDriver& d) {
  if (mxGlueFieldBit() == 1) {
    publish(d, 0);
    return;
  }
  d.toggle = is720(mxVideoFormat()) ? !d.toggle : (mxReadReg(DISPLAY_GLUE_FIELD) & DISPLAY_JPEG_TOGGLE) != 0;
  const u64 budget = static_cast<u64>(d.interval * BUDGET_PER_INTERVAL);
  u32 size = encodedSize(d);
  if (static_cast<u64>(size) * 10 > budget * 11) size = 0;  // over 110 % of the budget
  publish(d, size);
  mxWriteReg(DISPLAY_CONTROL, DISPLAY_CTRL_JPEG_IDLE);
  writeChroma(d, d.toggle);
  if (size != 0) adaptScale(d, static_cast<float>(static_cast<double>(size) / static_cast<double>(budget)));
  u32 tables[128];
  mxJpegQuantTables(tables, d.scale);
  mxWriteRegFifo(DISPLAY_CHROMA_QUANT, tables + 64, 64);
  mxWriteRegFifo(DISPLAY_ENCODER + DISPLAY_ENC_QUANT, tables, 64);
  d.ready = 1;
  d.delayed[1] = d.delayed[0];
  d.delayed[0] = d.parameter;
  if (d.on) mxWriteReg(DISPLAY_CONTROL, DISPLAY_CTRL_JPEG_START);
}

}  // namespace

void mxDisplaySetMode(int display, int interval, int parameter) {
  MX_CHECK(MX_DISPLAY_NONE <= display && display <= MX_DISPLAY_JPEG);
  DisplayDriver& d = driver();
  d.interval = std::max(interval, 1);
  d.parameter = static_cast<u32>(parameter);
  d.on = display != MX_DISPLAY_NONE;
  const bool jpeg = display == MX_DISPLAY_JPEG;
  if (jpeg != d.jpeg) {
    d.jpeg = jpeg;
    d.setupPending = true;
  }
}

int mxDisplayState() {
  const DisplayDriver& d = driver();
  return !d.on ? 0 : d.jpeg ? 2 : 1;
}

void mxDisplayInit() {
  DisplayDriver& d = driver();
  d.setupPending = false;
  setUp(d);
}

void mxDisplayUpdate() {
  DisplayDriver& d = driver();
  if (d.setupPending) {
    d.setupPending = false;
    mxWriteReg(GLUE_TIMING_CONTROL, TIMING_CONTROL_DEFAULT);
    setUp(d);
  }
  if (d.frames >= CLEAR_FIRST && d.frames <= CLEAR_LAST) {
    const u32 at = DISPLAY_MEMORY_BASE + (d.frames - CLEAR_FIRST) * CLEAR_BYTES;
    u32* words = reinterpret_cast<u32*>(platform::memory(at, CLEAR_BYTES));
    std::fill_n(words, CLEAR_BYTES / 4, DISPLAY_BLACK);
  }
  if (d.jpeg) jpegStep(d);
  else pictureStep(d);
  if (d.frames < COUNT_STOP) ++d.frames;
}

void mxDisplayReset() { driver() = DisplayDriver{}; }

void mxDisplaySetFilterSetter(MxDisplayFilterSetter setter) { driver().filter = setter; }
