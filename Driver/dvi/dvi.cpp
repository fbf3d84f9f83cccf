// DVI inputs: receiver set-up, timing detector, scaler and EDID memory.
#include "Driver/dvi/dvi.h"

#include <algorithm>
#include <cmath>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/core/format.h"
#include "Driver/dvi/regs.h"
#include "Driver/i2c/i2c.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"
#include "Lib/Include/lanczos.h"
#include "Lib/Include/log.h"

namespace {

using namespace dvi_regs;

int inputOf(int channel) {
  MX_CHECK(channel == MX_DVI_IN_1 || channel == MX_DVI_IN_2);
  return channel - MX_DVI_IN_1;
}

u32 in(int input, u32 word) { return INPUT[input] + word; }

bool hasSignal(int input) { return mxReadReg(in(input, PERIOD)) != 0; }
bool interlaced(int input) { return hasSignal(input) && (mxReadReg(in(input, TOTAL_LINES)) & INTERLACED) != 0; }

// Lines of a detector word: the first field, plus the second one for an interlaced input.
int lines(int input, u32 word) {
  const u32 v = mxReadReg(in(input, word));
  const int first = static_cast<int>(v & LINES_MASK);
  return interlaced(input) ? first + static_cast<int>(v >> SECOND_FIELD) : first;
}

void size(int input, u32 pixels, u32 linesWord, int* width, int* height) {
  const bool signal = hasSignal(input);
  *width = signal ? static_cast<int>(mxReadReg(in(input, pixels))) : 0;
  *height = signal ? lines(input, linesWord) : 0;
}

int mod(int a, int n) { return ((a % n) + n) % n; }

// ---- receiver tables -----------------------------------------------------------------------------
enum Map : u8 { M, S };  // the receiver's main map and its second map

struct I2cWrite {
  Map map;
  u8 reg, value;
};

constexpr I2cWrite RECEIVER_SETUP[] = {
    {M, 0, 2},     {M, 1, 6},     {M, 2, 247},   {M, 3, 64},    {M, 5, 40},   {M, 6, 166},   {M, 11, 68},
    {M, 12, 66},   {M, 20, 63},   {M, 21, 176},  {M, 25, 128},  {M, 51, 64},  {M, 191, 1},   {M, 253, 104},
    {S, 186, 0},   {M, 253, 0},   {M, 249, 104}, {S, 64, 129},  {M, 249, 0},  {M, 251, 104},
    {S, 155, 3},   {S, 193, 1},   {S, 194, 1},   {S, 195, 1},   {S, 196, 1},  {S, 197, 1},   {S, 198, 1},
    {S, 199, 1},   {S, 200, 1},   {S, 201, 1},   {S, 202, 1},   {S, 203, 1},  {S, 204, 1},   {S, 0, 0},
    {S, 131, 254}, {S, 109, 0},   {S, 111, 8},   {S, 133, 31},  {S, 135, 112}, {S, 141, 4},  {S, 142, 30},
    {S, 26, 138},  {S, 87, 218},  {S, 88, 1},    {S, 117, 16},
    {M, 251, 0},
};

// I2C channels of input k: main map 3k, second map 3k + 1, EDID memory 3k + 2.
constexpr int I2C_CHANNELS_PER_INPUT = 3;

// ---- scaler ---------------------------------------------------------------------------------------
constexpr int PHASES = 32;

void write(int input, u32 word, u32 value) { mxWriteReg(in(input, word), value); }

void loadTable(int input, const u32* table, int n) {
  write(input, TABLE_ADDRESS, 0);
  mxWriteRegFifo(in(input, TABLE_DATA), table, static_cast<u32>(n));
}

// Downscaling (r < 1) takes eight taps of the stretched L(4), upscaling four of L(2); truncated.
void horizontalFilter(int input, double r) {
  const int taps = r < 1.0 ? 8 : 4;
  u32 table[8 * PHASES];
  double tap[8];
  for (int phase = 0; phase < PHASES; ++phase) {
    for (int k = 0; k < taps; ++k) {
      const double u = (k - taps / 2) - phase / 32.0;
      tap[k] = r < 1.0 ? lanczos(4.0, u * r) : lanczos(2.0, u);
    }
    storeNormalisedTaps(tap, taps, false, &table[phase], PHASES);
  }
  loadTable(input, table, taps * PHASES);
}

// Four taps t = -1..2 of L(2), stretched by the ratio in the 720-line formats and below a ratio of
// one half; rounded.
void verticalFilter(int input, double q) {
  const bool progressive = mxIs720Line(mxVideoFormat());
  u32 table[4 * PHASES];
  double tap[4];
  for (int phase = 0; phase < PHASES; ++phase) {
    for (int t = -1; t <= 2; ++t) {
      const double u = t - phase / 32.0 / q;
      tap[t + 1] = progressive ? lanczos(2.0, u * q) : q > 0.5 ? lanczos(2.0, u) : lanczos(2.0, 2.0 * u * q);
    }
    storeNormalisedTaps(tap, 4, true, &table[phase], PHASES);
  }
  loadTable(input, table, 4 * PHASES);
}

}  // namespace

void mxDviInit() {
  for (u32 f : FPGA) mxWriteReg(f + RESET, RESET_HOLD);
  mxWaitUs(10000);
  for (u32 f : FPGA) mxWriteReg(f + RESET, RESET_RUN);
  for (int input = 0; input < 2; ++input) {
    const I2cChannel maps[2] = {i2cOpen(I2C_CHANNELS_PER_INPUT * input), i2cOpen(I2C_CHANNELS_PER_INPUT * input + 1)};
    for (const I2cWrite& w : RECEIVER_SETUP) i2cWriteVerify(maps[w.map], w.reg, w.value, 0);
  }
}

void mxDviGetTotalSize(int channel, int* width, int* height) {
  size(inputOf(channel), TOTAL_PIXELS, TOTAL_LINES, width, height);
}

void mxDviGetActiveSize(int channel, int* width, int* height) {
  size(inputOf(channel), ACTIVE_PIXELS, ACTIVE_LINES, width, height);
}

int mxDviIsInterlaced(int channel) { return interlaced(inputOf(channel)) ? 1 : 0; }

float mxDviGetFieldRate(int channel) {
  const u32 period = mxReadReg(in(inputOf(channel), PERIOD));
  return period != 0 ? 1000.0f / (static_cast<float>(period) * 0.02f) : 0.0f;
}

float mxDviGetVerticalFrequency(int channel) {
  const u32 period = mxReadReg(in(inputOf(channel), PERIOD));
  return period != 0 ? static_cast<float>(50000000.0 / period) : 0.0f;
}

int mxDviIsLocked(int channel) { return mxReadReg(in(inputOf(channel), LOCK)) != 0 ? 1 : 0; }

void mxDviSetScaler(int channel, float x, float y, float sx, float sy) {
  const int input = inputOf(channel);
  MX_CHECK(sx > 0.0f && sy > 0.0f);
  const bool il = interlaced(input);
  int aw = 0, ah = 0;
  mxDviGetActiveSize(channel, &aw, &ah);
  if (il) ah /= 2;
  if (aw == 0 || ah == 0) return;  // no signal: nothing to scale from

  write(input, APPLY, APPLY_HOLD);
  write(input, APPLY, 0);
  const int format = mxVideoFormat();
  const double W = mxFrameWidth(), H = mxFrameHeight() - (format == 4 ? 0.5 : 0.0);
  write(input, CONTROL, CONTROL_VALUE);
  write(input, CONTROL_2, CONTROL_VALUE);
  write(input, LOAD, 1);
  write(input, LOAD, 0);

  // Horizontal ratio, step, phase and first tap.
  const double r = W / aw * sx;
  int p = 0;
  if (r >= 1.0) {
    write(input, H_MODE, il ? H_MODE_INTERLACED : 0);
    write(input, H_STEP, truncateToWord(UNITY / r));
    p = truncateToInt(5.0 * r);
    write(input, H_PHASE, truncateToWord((5.0 * r - p) * UNITY / r));
  } else {
    write(input, H_MODE, (il ? H_MODE_INTERLACED : 0) | H_MODE_DOWN);
    write(input, H_STEP, truncateToWord(UNITY * r));
    const double f = 0.2 + 3.0 * r;
    p = truncateToInt(f);
    write(input, H_PHASE, truncateToWord((1.0 - (f - p)) * UNITY));
  }
  write(input, H_TAP, static_cast<u32>(p));
  horizontalFilter(input, r);

  // Horizontal position: a negative x starts inside the source, a positive one inside the output.
  const double start = x < 0 ? -(x * aw) / sx : 0.0;
  write(input, H_START, truncateToWord(start));
  write(input, OUT_X, x > 0 ? truncateToWord(x * W) & ~1u : 0);
  write(input, OUT_WIDTH, truncateToWord(sx < 1 ? sx * W : W));
  if (sx <= 1) {
    write(input, H_SOURCE_WIDTH, static_cast<u32>(aw + 20));
    write(input, H_SOURCE_END, static_cast<u32>(aw));
  } else {
    write(input, H_SOURCE_WIDTH, truncateToWord(aw / sx) + 20);
    write(input, H_SOURCE_END, truncateToWord(start + aw / sx));
  }

  // Vertical ratio: a reduction filters at the ratio, an enlargement steps down the output instead.
  double q = H / ah * sy;
  const u32 base = il ? V_BASE_INTERLACED : V_BASE_PROGRESSIVE;
  if (q <= 1.0) {
    write(input, V_STEP, truncateToWord(UNITY * q));
    verticalFilter(input, q);
    write(input, V_DOWN_STEP, UNITY);
    const double phase = (mxIs720Line(format) ? 0.0 : -0.5) + (il ? q / 2.0 : 0.0);
    const int start = static_cast<int>(base) + static_cast<int>(phase * UNITY);
    write(input, V_PHASE, static_cast<u32>(std::clamp(start, 32768, 65535)));
  } else {
    verticalFilter(input, 1.0);
    write(input, V_STEP, UNITY);
    write(input, V_DOWN_STEP, truncateToWord(UNITY / q));
    write(input, V_PHASE, base);
    q = 1.0;
  }

  // Vertical position.
  write(input, V_START, y < 0 ? truncateToWord(0.01 + (-(y * ah) / sy) * q) : 0);
  write(input, OUT_Y, (y > 0 ? truncateToWord(y * H) : 0) + (mxIs720Line(format) ? 0 : 1));
  write(input, V_BASE, base);
  write(input, OUT_HEIGHT, truncateToWord(sy < 1 ? sy * H + 2.0 : H + 2.0));
  write(input, V_GAIN, UNITY);
  write(input, GAIN_A, UNITY / 2);
  write(input, GAIN_B, UNITY / 2);
  write(input, FIELD_MODE, il ? 2 : 0);
}

void mxDviApplyScaler(int channel) {
  const int input = inputOf(channel);
  write(input, APPLY, APPLY_TAKE);
  write(input, APPLY, 0);
}

void mxDviSetSyncOffset(int channel, int h, int v) {
  const int input = inputOf(channel);
  int tw = 0, th = 0, aw = 0, ah = 0;
  mxDviGetTotalSize(channel, &tw, &th);
  mxDviGetActiveSize(channel, &aw, &ah);
  if ((h == 0 && v == 0) || tw == 0 || th == 0) {  // off, or no signal to place it in
    write(input, SYNC_ON, 0);
    return;
  }
  const int ph = mod(tw - 6 - h, tw);
  write(input, SYNC_H_START, static_cast<u32>(ph));
  write(input, SYNC_H_END, static_cast<u32>(mod(ph + aw, tw)));
  auto pair = [](int first, int second) { return static_cast<u32>(first) | static_cast<u32>(second) << 16; };
  if (!interlaced(input)) {
    const int vs = mod(th - 1 - v, th), ve = mod(vs + ah, th);
    write(input, SYNC_V_START, pair(vs, vs));
    write(input, SYNC_V_END, pair(ve, ve));
  } else {
    const u32 fields = mxReadReg(in(input, TOTAL_LINES));
    const int longest = static_cast<int>(std::max(fields & LINES_MASK, fields >> SECOND_FIELD));
    const int a = v >= 0 ? th - 1 - v : -1 - v;
    const int b = -1 - v + longest;
    const int half = ah / 2;
    write(input, SYNC_V_START, pair(a, b));
    write(input, SYNC_V_END, pair(mod(a + half, th), mod(b + half, th)));
  }
  write(input, SYNC_ON, 1);
}

void mxDviSetOptions(int channel, int on, int flag) {
  const u32 f = FPGA[inputOf(channel)];
  mxWriteReg(f + OPTION_FLAG, on != 0 && flag != 0 ? 1 : 0);
  mxWriteReg(f + OPTION_ON, on != 0 ? 1 : 0);
}

void mxDviSetRange(int channel, int range) {
  const int input = inputOf(channel);
  MX_CHECK(range == 0 || range == 1);
  write(input, RANGE, static_cast<u32>(range));
}

int mxDviWriteEdid(int channel, const u8* data) {
  if (data == nullptr) return -1;
  MX_CHECK(MX_DVI_IN_1 <= channel && channel <= MX_DVI_IN_2);
  const I2cChannel edid = i2cOpen(I2C_CHANNELS_PER_INPUT * (channel - MX_DVI_IN_1) + 2);
  for (int adr = 0; adr < DVI_EDID_BYTES; ++adr) {
    i2cWrite(edid, static_cast<u8>(adr), data[adr]);
    mxWaitUs(10000);  // the memory's write cycle
  }
  for (int adr = 0; adr < DVI_EDID_BYTES; ++adr) {
    const int read = i2cRead(edid, static_cast<u8>(adr));
    if (read != data[adr]) {
      consolePrintf("EDID: Verify ERROR adr:%x %02x must be %02x\n", static_cast<unsigned>(adr),
                    static_cast<unsigned>(read & 0xFF), static_cast<unsigned>(data[adr]));
      return 1;
    }
  }
  return 0;
}
