// Colour background driver: generator shadows, their per-frame writer and the waveform tables.
#include "Driver/cbgd/cbgd.h"

#include <cmath>
#include <numbers>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/cbgd/regs.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"

namespace {

using namespace cbgd_regs;

constexpr int N_GENERATORS = 2;
constexpr int BLACK_Y = 64, NEUTRAL_C = 512, WHITE_Y = 940;
constexpr int RANGE_Y = 876, RANGE_C = 896;  // luma and chroma ranges of the 10-bit codes
constexpr float DEGREE = 0.017453292f;

struct Generator {
  u32 base = 0;
  int mode = MX_CBGD_FLAT;
  int hstep = 0, vstep = 0, phase = 0;
  int y = BLACK_Y, cb = NEUTRAL_C, cr = NEUTRAL_C;
  int dy = 0, dcb = 0, dcr = 0;
  int offsetY = BLACK_Y, offsetC = BLACK_Y;
  int gainY = RANGE_Y, gainC = RANGE_C;
};

struct CbgdState {
  Generator generators[N_GENERATORS];
  float factor = 1.0f;  // vertical factor F of the format
  float width = 0.0f;   // frame width W
  int format = 0;
};

CbgdState fresh() {
  CbgdState s;
  for (int g = 0; g < N_GENERATORS; ++g) s.generators[g].base = GENERATOR[g];
  s.width = static_cast<float>(mxFrameWidth());
  s.format = mxVideoFormat();
  return s;
}

CbgdState& state() {
  static CbgdState s = fresh();
  return s;
}

bool isSd(int format) { return format == 4 || format == 5; }

Generator& generator(int target) {
  MX_CHECK(target == MX_CBGD_1 || target == MX_CBGD_2);
  return state().generators[target - MX_CBGD_1];
}

bool isCode(int v) { return 0 <= v && v <= 1023; }

// ---- waveform tables ----

void writeTable(u32 address, const u32* words, int n) {
  mxWriteReg(TABLE_ADDRESS, address);
  mxWriteRegFifo(TABLE_DATA, words, static_cast<u32>(n));
}

// Tables 2 to 5: one word per entry, the value and the 8-bit step to the next entry.
template <class V>
void writeWaveform(u32 address, V value) {
  u32 words[TABLE_ENTRIES];
  int next = value(0);
  for (int i = 0; i < TABLE_ENTRIES; ++i) {
    int v = next;
    next = value(i + 1);
    words[i] = static_cast<u32>(v) | (static_cast<u32>(next - v) & 255u) << STEP_SHIFT;
  }
  writeTable(address, words, TABLE_ENTRIES);
}

struct Bar {
  int y, cb, cr;
};

// One bar of the 75 % colour bars (100 % white) from its R, G, B on/off and the luma the hardware
// expects; the chroma is ours: 512 + 896 (B - Y) / (2 (1 - Kb)) and 512 + 896 (R - Y) / (2 (1 - Kr))
// at 75 % level, rounded, with the luma weights Kr, Kb of BT.601 or BT.709.
Bar colourBar(int r, int g, int b, int y, bool bt601) {
  const float kr = bt601 ? 0.299f : 0.2126f, kb = bt601 ? 0.114f : 0.0722f, kg = 1.0f - kr - kb;
  const float R = 0.75f * r, G = 0.75f * g, B = 0.75f * b;
  const float Y = kr * R + kg * G + kb * B;
  const auto chroma = [](float diff, float k) { return NEUTRAL_C + static_cast<int>(std::lround(RANGE_C * diff / (2.0f * (1.0f - k)))); };
  return {y, chroma(B - Y, kb), chroma(R - Y, kr)};
}

// Table at address 0: a line of eight bars (white, yellow, cyan, green, magenta, red, blue, black),
// two words per entry {chroma sample, luma}, Cb on even entries and Cr on odd ones. The first and the
// last entry are black (512, 64); entries 1..254 hold the bars in plain steps, bar (i - 1) x 8 / 254.
void writeColourBars(bool bt601) {
  // R, G, B on or off, and the luma of BT.601 and of BT.709.
  const int colours[6][5] = {{1, 1, 0, 646, 674}, {0, 1, 1, 525, 581}, {0, 1, 0, 450, 534},
                             {1, 0, 1, 335, 251}, {1, 0, 0, 260, 204}, {0, 0, 1, 139, 111}};
  Bar bars[8] = {{WHITE_Y, NEUTRAL_C, NEUTRAL_C}};
  for (int k = 0; k < 6; ++k) {
    const int* c = colours[k];
    bars[1 + k] = colourBar(c[0], c[1], c[2], bt601 ? c[3] : c[4], bt601);
  }
  bars[7] = {BLACK_Y, NEUTRAL_C, NEUTRAL_C};
  u32 words[2 * TABLE_ENTRIES];
  for (int i = 0; i < TABLE_ENTRIES; ++i) {
    Bar bar = bars[7];
    if (i > 0 && i < TABLE_ENTRIES - 1) bar = bars[(i - 1) * 8 / (TABLE_ENTRIES - 2)];
    words[2 * i] = static_cast<u32>(i % 2 == 0 ? bar.cb : bar.cr);
    words[2 * i + 1] = static_cast<u32>(bar.y);
  }
  writeTable(TABLE_BARS, words, 2 * TABLE_ENTRIES);
}

// Luma of the hue sequence blue, blue-magenta, red, yellow, green-cyan, cyan, repeated.
constexpr float HUE_LUMA_SD[10] = {0.114f, 0.3715f, 0.2838f, 0.8848f, 0.5568f, 0.6651f, 0.114f, 0.3715f, 0.2838f, 0.8848f};
constexpr float HUE_LUMA_HD[10] = {0.0718f, 0.2413f, 0.2121f, 0.927f, 0.6077f, 0.7868f, 0.0718f, 0.2413f, 0.2121f, 0.927f};

// The curve through the control points at t (1 <= t < 8).
float hueCurve(const float* p, float t) {
  const int n = static_cast<int>(t);
  const float f = t - static_cast<float>(n);
  const float g = (f - 1.0f) * f;
  return (1.0f - f) * (1.0f - g) * p[n] + (1.0f - f) * g * p[n - 1] + f * (1.0f - g) * p[n + 1] + f * g * p[n + 2];
}

void loadTables(int format) {
  const float turn = 2.0f * std::numbers::pi_v<float> / 256.0f;
  writeColourBars(isSd(format));
  writeWaveform(TABLE_COSINE, [&](int i) { return static_cast<int>(512.0f - 511.5f * std::cos(turn * i)); });
  writeWaveform(TABLE_RAMP, [](int i) {
    return i < 249 ? static_cast<int>(4.125f * i) : static_cast<int>(static_cast<float>(256 - i) * 127.875f);
  });
  writeWaveform(TABLE_SHIFTED_COSINE,
                [&](int i) { return static_cast<int>(512.0f + 511.5f * std::cos(1.3316863f + turn * i)); });
  const float* points = isSd(format) ? HUE_LUMA_SD : HUE_LUMA_HD;
  writeWaveform(TABLE_HUE, [&](int i) { return static_cast<int>(1023.0f * hueCurve(points, i / 42.666668f + 1.5f)); });
}

void writeGenerator(const Generator& g) {
  const u32 G = g.base;
  if (g.mode == MX_CBGD_CURVE) {
    const int words[6] = {g.offsetY, g.offsetC, g.offsetC, g.gainY, g.gainC, g.gainC};
    const u32 at[6] = {LEVEL_Y, LEVEL_CB, LEVEL_CR, DIFF_Y, DIFF_CB, DIFF_CR};
    for (int i = 0; i < 6; ++i) mxWriteReg(G + at[i], static_cast<u32>(words[i]));
    mxWriteReg(G + CONTROL, CONTROL_CURVE);
  } else {
    const bool flat = g.mode == MX_CBGD_FLAT;
    mxWriteReg(G + LEVEL_Y, static_cast<u32>(g.y));
    mxWriteReg(G + LEVEL_CB, static_cast<u32>(g.cb));
    mxWriteReg(G + LEVEL_CR, static_cast<u32>(g.cr));
    mxWriteReg(G + DIFF_Y, flat ? 0 : static_cast<u32>(g.dy));
    mxWriteReg(G + DIFF_CB, flat ? 0 : static_cast<u32>(g.dcb));
    mxWriteReg(G + DIFF_CR, flat ? 0 : static_cast<u32>(g.dcr));
    mxWriteReg(G + CONTROL, g.mode == MX_CBGD_WASH2 ? CONTROL_WASH2 : CONTROL_WASH);
  }
  mxWriteReg(G + HSTEP, static_cast<u32>(g.hstep));
  mxWriteReg(G + VSTEP, static_cast<u32>(g.vstep));
  mxWriteReg(G + PHASE, static_cast<u32>(g.phase));
}

}  // namespace

void mxCbgdSetColors(int target, int y1, int cb1, int cr1, int y2, int cb2, int cr2) {
  MX_NOTE_CALL(target, static_cast<float>(y1), static_cast<float>(cb1), static_cast<float>(cr1), static_cast<float>(y2),
               static_cast<float>(cb2), static_cast<float>(cr2));
  Generator& g = generator(target);
  MX_CHECK(isCode(y1) && isCode(cb1) && isCode(cr1) && isCode(y2) && isCode(cb2) && isCode(cr2));
  g.y = y1, g.cb = cb1, g.cr = cr1;
  g.dy = y2 - y1, g.dcb = cb2 - cb1, g.dcr = cr2 - cr1;
}

void mxCbgdSetMode(int target, int mode) {
  MX_NOTE_CALL(target, static_cast<float>(mode));
  Generator& g = generator(target);
  MX_CHECK(mode == MX_CBGD_FLAT || mode == MX_CBGD_WASH || mode == MX_CBGD_WASH2 || mode == MX_CBGD_CURVE);
  g.mode = mode;
}

void mxCbgdSetWashRange(int target, float size, float centre) {
  MX_NOTE_CALL(target, size, centre);
  Generator& g = generator(target);
  MX_CHECK(0.0f <= size && size <= 1.0f);
  MX_CHECK(0.0f <= centre && centre <= 1.0f);
  const float half = size / 2.0f;
  if (centre + half > 1.0f) {
    centre = 1.0f - half;
  } else if (centre - half < 0.0f) {
    centre = half;
  }
  g.gainY = static_cast<int>(size * RANGE_Y);
  g.gainC = static_cast<int>(size * RANGE_C);
  g.offsetC = NEUTRAL_C - g.gainC / 2;
  g.offsetY = BLACK_Y + RANGE_Y / 2 - g.gainY / 2 + static_cast<int>((centre - 0.5f) * RANGE_Y);
}

void mxCbgdSetWash(int target, float rate, float position, float direction) {
  Generator& g = generator(target);
  const CbgdState& s = state();
  const float a = direction * DEGREE;
  const float r = rate > 0.1f ? rate : 0.1f;
  const float k = 4194304.0f / s.width * r;
  const float aspect = isSd(s.format) ? 0.75f : 0.5625f;
  const float c = std::cos(a), sn = std::sin(a);
  g.hstep = truncateToInt(k * c);
  g.vstep = truncateToInt(k * sn * s.factor);
  g.phase = truncateToInt((r * (1.0f - (c + aspect * sn)) - position / 180.0f) * 32768.0f);
}

void mxCbgdInit(int format, float factor) {
  CbgdState& s = state();
  s.format = format;
  s.width = static_cast<float>(mxFrameWidth());
  s.factor = format == 4 ? factor * 1.125f : format == 5 ? factor * 0.9375f : factor;
  loadTables(format);
}

void mxCbgdUpdate() {
  for (const Generator& g : state().generators) writeGenerator(g);
}

void mxCbgdReset() { state() = fresh(); }
