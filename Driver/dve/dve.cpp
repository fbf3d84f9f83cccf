// DVE driver: a shadow state per ME context and target, its register image built one frame ahead,
// the control words with their two-frame switch-on, and the background's falloff table.
#include "Driver/dve/dve.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/dve/regs.h"
#include "Driver/transition/transition.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"
#include "Lib/Include/log.h"

namespace {

constexpr int N_TARGETS = 5;  // MX_BKGD and the four keys
constexpr int N_WRITTEN_CONTEXTS = 2;
constexpr int N_FALLOFF = 256;
constexpr int FALLOFF_LOG_FRAMES = 240;

constexpr u32 MODE_SINGLE = 0, MODE_DUAL = 1, MODE_ROTATION = 3, MODE_DUAL_EFFECT = 17;
constexpr int BUS_DISABLED = 1, BUS_DIRECTION = 2;

// Reset defaults of the windows.
constexpr u32 FULL_WINDOW = 32767, DEFAULT_SCALE = 31232, DEFAULT_SOFTNESS = 12032;
// Unit transform words; word 3 differs in the 720-line formats.
constexpr u32 UNIT_WORD3 = static_cast<u32>(-64), UNIT_WORD3_720 = 0x10000000;

constexpr u32 INIT_CODES[N_TARGETS][2] = {{0x0A000800, 3072}, {4096, 4608}, {5120, 5632}, {6144, 6144}, {7168, 7168}};

struct Window {
  u32 position, width, height, scale, aspect, softness;
};

struct Effect {
  int mosaic;
  float scale;
  u32 word;
};
constexpr Effect NO_EFFECT = {0, 1.0f, 0};

struct DveState {
  bool built;
  u32 block, control;
  int context, key;
  bool hasControl;  // the background's control block with its two banks
  bool hasDve;      // background, keys 1 and 2
  bool enabled, dual, active;
  int counter;      // frames since the last change of enabled, up to 2
  int busA, busB, direction;
  float aspect[2];
  Window window[2];
  bool single;
  u32 transform[2][6];
  u32 mode;
  u32 rotationLevel;
  u32 color;
  Effect effect;
  int bank;
  u32 savedBus[2];
  bool savedActive[2];
  u32 image[dve::IMAGE_WORDS];
  u32 falloff[N_FALLOFF];
};

struct Driver {
  DveState states[N_CONTEXT][N_TARGETS];
  Effect effectB[N_CONTEXT];  // the B-bus slot's effect, last call
  float formatAspect = 1.0f;
  u32 phase = 0;
  int logCounter = 0;
  Driver() : states() { std::fill_n(effectB, N_CONTEXT, NO_EFFECT); }
};

Driver& driver() {
  static Driver d;
  return d;
}

bool is720() { return mxVideoFormat() == 2 || mxVideoFormat() == 3; }

u32 meBank(int context) { return context < N_WRITTEN_CONTEXTS ? mxMeBase(context) : MX_ME2_PAIRED_BASE; }

// Integer part of a float as a register word (saturated instead of overflowing).
u32 word(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<u32>(static_cast<s32>(std::clamp(v, -2147483648.0, 2147483647.0)));
}
u32 pack16(u32 low, u32 high) { return (low & 0xFFFF) | (high << 16); }

void unitTransform(u32* w) {
  const u32 unit[] = {8192, 0, 0x10000000, is720() ? UNIT_WORD3_720 : UNIT_WORD3, 0, 0x20000};
  std::copy_n(unit, 6, w);
}

void resetWindows(DveState& s) {
  for (Window& w : s.window) w = {0, FULL_WINDOW, FULL_WINDOW, DEFAULT_SCALE, 0, DEFAULT_SOFTNESS};
  s.single = true;
  const u32 reset[] = {8192, 0x1000100, 0x10000000, is720() ? UNIT_WORD3_720 : UNIT_WORD3, 0, 0x20000};
  std::copy_n(reset, 6, s.transform[0]);
  std::fill_n(s.transform[1], 6, 0u);
  s.mode = MODE_SINGLE;
  s.rotationLevel = 0;
}

void setDefaults(DveState& s) {
  const u32 bank = meBank(s.context), k = static_cast<u32>(s.key);
  s.block = bank + (k == 0 ? dve::BKGD_BLOCK : dve::KEY_BLOCK + dve::KEY_STRIDE * (k - 1));
  s.control = bank + (k == 0 ? dve::BKGD_CONTROL : dve::KEY_CONTROL + dve::KEY_STRIDE * (k - 1));
  s.hasControl = k == 0;
  s.hasDve = k <= 2;
  s.enabled = s.dual = s.active = false;
  s.counter = 0;
  s.aspect[0] = s.aspect[1] = 1.0f;
  s.color = dve::BLACK;
  s.effect = NO_EFFECT;
  resetWindows(s);
}

DveState& stateAt(int me, int target) {
  MX_CHECK(MX_CONTEXT_ME1 <= me && me <= MX_CONTEXT_ME4B);
  const int context = me - MX_CONTEXT_ME1, key = mxTargetKeyIndex(target);
  DveState& s = driver().states[context][key];
  if (!s.built) {
    s = DveState{};
    s.built = true;
    s.context = context;
    s.key = key;
    setDefaults(s);
  }
  return s;
}

DveState& state(int target) { return stateAt(mxCurrentContext(), target); }

void checkTarget(int target) { MX_CHECK(target == MX_BKGD || (MX_KEY1 <= target && target <= MX_KEY4)); }
void checkDveTarget(int target) { MX_CHECK(target == MX_BKGD || (MX_KEY1 <= target && target <= MX_KEY_DVE_MAX)); }

// ---- window and transform words -----------------------------------------------------------------------

Window windowWords(float x, float y, float width, float height, float scale, float softness, float aspect) {
  const bool v720 = is720();
  if (v720) {
    y *= 2;
    height *= 2;
  }
  Window w{};
  u32 xPart, yPart;
  if (x < -1000) {
    xPart = 16000;
    width += x + 1000;
    x = -1000;
  } else {
    xPart = word(-16.0 * x) & 0xFFFF;
  }
  if (y < -1000) {
    yPart = 0x1F50;
    height += y + 1000;
    y = -1000;
  } else {
    yPart = word((1.0 - y / 2.0) * 16.0);
  }
  w.position = (yPart << 16) | xPart;
  if (x + width >= 3000) width = 3000 - x;
  if (y + height >= 2000) height = 2000 - y;
  height /= 2;
  w.width = word(width * 16.0);
  w.height = word(height * 16.0);
  double s = scale < 1 ? 1024.0 : 1024.0 / scale;
  const double a = driver().formatAspect * aspect * (v720 ? 1 : 2);
  if (a * s > 1024) {
    s = 1024 / a;
    w.aspect = 16384;
  } else {
    w.aspect = word(a * s * 16);
  }
  w.scale = word(s * 16);
  w.softness = softness < 0.001f ? 0 : word(512 + s * softness);
  return w;
}

void affineWords(const float* m, u32* w) {
  if (m[0] == 1 && m[1] == 0 && m[2] == 0 && m[3] == 0 && m[4] == 1 && m[5] == 0) {
    unitTransform(w);
    return;
  }
  const bool v720 = is720();
  w[0] = pack16(word(8192.0 * m[0]), word((v720 ? 4096.0 : 8192.0) * m[1]));
  w[1] = word(128.0 * m[2]);
  w[2] = pack16(word((v720 ? 8192.0 : 4096.0) * m[3]), word(4096.0 * m[4]));
  w[3] = word(64.0 * m[5]);
  w[4] = 0;
  w[5] = 0x20000;
}

void projectiveWords(const float* m, u32* w) {
  if (m[0] == m[4] && m[4] == m[8] && m[1] == 0 && m[2] == 0 && m[3] == 0 && m[5] == 0 && m[6] == 0 &&
      m[7] == 0) {
    unitTransform(w);
    return;
  }
  const bool v720 = is720();
  double d = m[8];
  if (m[6] > 0) d += mxFrameWidth() * static_cast<double>(m[6]);
  if (m[7] != 0) d += mxFrameHeight() * static_cast<double>(m[7]) * (v720 ? 1 : 2);
  if (-0.001 < d && d < 0.001) {
    const u32 unit[] = {0x2000, 0x100000, 0x10000000, UNIT_WORD3, 0, 0x20000};
    std::copy_n(unit, 6, w);
    return;
  }
  const double k = 0.95 / d;
  const double rowScale[3] = {k, v720 ? k : k / 2, 1024 * k};
  double p[3], q[3], t[3], largest = 0;
  for (int r = 0; r < 3; ++r) {
    p[r] = rowScale[r] * m[3 * r] * 4096 * 4;
    q[r] = rowScale[r] * m[3 * r + 1] * (v720 ? 2048 : 4096) * 4;
    t[r] = rowScale[r] * m[3 * r + 2] * 256;
    largest = std::max({largest, std::abs(p[r]), std::abs(q[r])});
  }
  const double g = largest > 32700 ? 32700 / largest : 1;
  for (int r = 0; r < 3; ++r) {
    w[2 * r] = pack16(word(std::round(g * p[r])), word(std::round(g * q[r])));
    w[2 * r + 1] = word(std::round(g * t[r]));
  }
}

// The unit transform of mxDveClearTransform (no values to read).
void clearedWords(const float*, u32* w) {
  const u32 unit[] = {8192, 0x100000, 0x10000000, UNIT_WORD3, 0, 0x20000};
  std::copy_n(unit, 6, w);
}

// Transform words of slot 0 from a, and of slot 1 from b (cleared without b), with the mode.
void setTransforms(int target, void (*words)(const float*, u32*), const float* a, const float* b, u32 mode) {
  checkDveTarget(target);
  DveState& s = state(target);
  words(a, s.transform[0]);
  if (b != nullptr) {
    words(b, s.transform[1]);
  } else {
    std::fill_n(s.transform[1], 6, 0u);
  }
  s.mode = mode;
}

u32 pack14(double a, double b) { return pack16(word(16384 * a), word(16384 * b)); }

// 2-D rotation about the frame with the travel offset, into both transform slots.
void rotationWords(DveState& s, float angle, float offset, float stripe) {
  constexpr double PI = 3.14159265358979323846;
  const int format = mxVideoFormat();
  const bool v720 = is720();
  const double t = angle * PI / 180.0;
  const double width = mxFrameWidth(), height = mxFrameHeight() * (v720 ? 1.0 : 2.0);
  const double f = driver().formatAspect;
  double x0 = offset * width;
  if (t > 3 * PI / 2) {
    x0 -= height / f * std::cos(t - 3 * PI / 2);
  } else if (t > PI) {
    x0 -= width * std::cos(t - PI) + height / f * std::sin(t - PI);
  } else if (t > PI / 2) {
    x0 -= width * std::sin(t - PI / 2);
  }
  const double sf = stripe * (v720 ? 170.0 : (format == 4 || format == 5) ? 129.0 : 255.0) / 128.0;
  const double a = f * sf, c = std::cos(t), n = std::sin(t);
  const double high = v720 ? 0.5 : 1.0;
  u32* w0 = s.transform[0];
  w0[0] = pack14(c / sf, high * n / a);
  w0[1] = word(256 * (-x0 / sf));
  w0[2] = pack14(-n / sf, high * c / a);
  w0[3] = 0;
  u32* w1 = s.transform[1];
  const double half = v720 ? 2 : 4;
  w1[0] = pack14(sf * c / 2, -sf * n / 2);
  w1[1] = word(16 * x0 * c);
  w1[2] = pack14(a * n / half, a * c / half);
  w1[3] = v720 ? word(16 * f * x0 * n) : word(8 * f * x0 * n - 8);
}

// ---- image and writer -------------------------------------------------------------------------------------

// Image scale word: the step (scale x 32768) in the low half with the top bit set from half scale
// up; 720-line formats repeat the step in the high half, small scales put it at bit 17.
constexpr u32 SCALE_TOP_BIT = 1u << 31;
constexpr u32 SCALE_NONE = SCALE_TOP_BIT | 0x8000;

u32 scaleCode(float scale) {
  if (scale >= 0.99f) return SCALE_NONE;
  const u32 q = word(scale * 32768.0);
  if (is720()) return q | (q << 16);
  return scale < 0.49f ? q | (q << 17) : q | SCALE_TOP_BIT;
}

void buildImage(DveState& s) {
  Driver& d = driver();
  const Window& w0 = s.window[0];
  Window w1 = s.window[1];
  if (s.single) w1 = {w1.position, w0.width, w0.height, w0.scale, w0.aspect, w0.softness};
  u32* image = s.image;
  std::fill_n(image, dve::IMAGE_WORDS, 0u);
  auto at = [image](int k) -> u32& { return image[k - dve::IMAGE_FIRST]; };

  u32 position0 = w0.position, height0 = w0.height;
  const int yPart = static_cast<s16>(position0 >> 16);
  if (s.effect.scale < 0.6f && -23 <= yPart && yPart <= 15) {
    // A reduced picture needs its top above the frame: the window starts at -24 instead.
    height0 += static_cast<u32>(yPart + 24);
    position0 = (static_cast<u32>(-24) << 16) | (position0 & 0xFFFF);
  }
  const Effect& a = s.effect;
  const Effect& b = s.key == 0 ? d.effectB[s.context] : s.effect;
  at(dve::W_COLOR) = w0.softness != 0 ? s.color : dve::BLACK;
  at(dve::W_WIDTH) = pack16(w0.width, w1.width);
  at(dve::W_HEIGHT) = pack16(height0, w1.height);
  at(dve::W_SCALE) = pack16(w0.scale, w1.scale);
  at(dve::W_ASPECT) = pack16(w0.aspect, w1.aspect);
  at(dve::W_MODE) = s.mode;
  at(dve::W_ROTATION_LEVEL) = s.rotationLevel;
  at(dve::W_DUAL_WINDOW) = s.single ? 0 : 1;
  at(dve::W_POSITION0) = position0;
  at(dve::W_POSITION1) = s.mode == MODE_ROTATION ? w0.position : w1.position;
  at(dve::W_SCALE_CODE_A) = scaleCode(a.scale);
  at(dve::W_SCALE_CODE_B) = s.dual ? scaleCode(b.scale) : at(dve::W_SCALE_CODE_A);
  at(dve::W_MOSAIC_A) = static_cast<u32>(a.mosaic);
  at(dve::W_MOSAIC_B) = static_cast<u32>(b.mosaic);
  at(dve::W_SOFTNESS0) = w0.softness;
  at(dve::W_SOFTNESS1) = w1.softness;
  at(dve::W_EFFECT_A) = a.word;
  at(dve::W_EFFECT_B) = b.word;
  std::copy_n(s.transform[0], 6, &at(dve::W_TRANSFORM0));
  std::copy_n(s.transform[1], 6, &at(dve::W_TRANSFORM1));
  if (s.key == 0) {
    if (s.context == 0) d.phase = (d.phase - mxReadReg(OCM_PHASE_STEP)) & 0xFF;
    at(dve::W_BKGD_CONSTANT) = dve::BKGD_CONSTANT;
    at(dve::W_PHASE) = mxReadReg(OCM_PHASE_BASE) + (d.phase << 16);
    at(dve::W_BKGD_TUNING) = mxReadReg(OCM_TUNING);
  }
}

void writeState(DveState& s) {
  const bool on = s.enabled && s.counter > 1;
  if (s.hasControl) {
    const u32 enable = (s.savedActive[s.bank] ? 2u : 0u) | (on ? 5u : 0u);
    const u32 buses = static_cast<u32>(s.busA | (s.busB << 1));
    mxWriteReg(s.control + dve::CONTROL_ENABLE, enable);
    mxWriteReg(s.control + dve::CONTROL_BUS, buses | (on ? s.savedBus[s.bank] << 2 : 4u));
    s.savedBus[s.bank] = static_cast<u32>(!s.enabled ? BUS_DISABLED : s.dual ? s.direction + BUS_DIRECTION : s.busB);
    s.savedActive[s.bank] = s.active;
    s.bank = 1 - s.bank;
  } else {
    mxWriteReg(s.control + dve::CONTROL_ENABLE, on ? 1u : 0u);
  }
  s.counter = std::min(s.counter + 1, 2);
  if (!s.hasDve) return;
  for (int i = 0; i < dve::IMAGE_WORDS; ++i) mxWriteReg(s.block + dve::IMAGE + 4 * static_cast<u32>(i), s.image[i]);
  if (s.key == 0) mxWriteRegFifo(s.block + dve::FALLOFF_PORT, s.falloff, N_FALLOFF);
  buildImage(s);
}

void writeEffectB(int context, const Effect& e) {
  const u32 me = meBank(context);
  if (e.scale >= 0.99f) {
    mxWriteReg(me + dve::EFFECT_B_MODE, 0);
  } else {
    mxWriteReg(me + dve::EFFECT_B_MODE, e.mosaic != 0 ? 3 : 1);
    const u32 step = word(e.scale * 65536.0);
    mxWriteReg(me + dve::EFFECT_B_SCALE, step);
    const u32 v = is720() ? step : 2 * step;
    const bool capped = v > 65535;
    mxWriteReg(me + dve::EFFECT_B_STEP, capped ? 65535 : v);
    mxWriteReg(me + dve::EFFECT_B_REST_H, capped ? 0 : 65535 - v);
    mxWriteReg(me + dve::EFFECT_B_REST_V, capped ? 0 : 65535 - v);
  }
  mxWriteReg(me + dve::EFFECT_B_WORD, e.word);
}

// Falloff table from the on-chip tuning words: segment i holds e(i) high and the step to e(i + 1) low.
void buildFalloff(u32* table) {
  const u64 gain = mxReadReg(OCM_FALLOFF_GAIN), width = mxReadReg(OCM_FALLOFF_WIDTH);
  const s64 centre = mxReadReg(OCM_FALLOFF_CENTRE);
  auto e = [&](s64 i) -> u32 {
    if (i > N_FALLOFF) return 0;
    const u64 drop = width * static_cast<u64>(std::llabs(i - centre)) / 256;
    const u64 factor = drop >= 256 ? 0 : 256 - drop;
    return static_cast<u32>(std::min<u64>((gain << 12) / static_cast<u64>(i) * factor / 256, 65535));
  };
  u32 next = e(1);
  for (int i = 1; i <= N_FALLOFF; ++i) {
    const u32 current = next;
    next = e(i + 1);
    table[i - 1] = ((next - current) & 0xFFFF) | (current << 16);
  }
}

void setAspects(int target, float a0, float a1) {
  checkTarget(target);
  DveState& s = state(target);
  s.aspect[0] = a0;
  s.aspect[1] = a1;
}

// The call log's entry of the two-transform setters: both transforms, then the effect id.
void noteTransforms(const char* function, int target, const float* a, const float* b, int width, int effect) {
  calllog::Call* c = calllog::begin(function, target);
  calllog::add(c, a, width);
  calllog::add(c, b, width);
  calllog::add(c, static_cast<float>(effect));
}

}  // namespace

// ---- setters ----------------------------------------------------------------------------------------
void mxDveSetEnable(int target, int mode, int on) {
  MX_NOTE_CALL(target, static_cast<float>(mode), static_cast<float>(on));
  checkTarget(target);
  DveState& s = state(target);
  const bool enabled = on != 0 || mode != 0;
  if (enabled != s.enabled) s.counter = 0;
  s.enabled = enabled;
  s.dual = mode == 2;
  s.active = on != 0 && mode != 2;
  if (target == MX_BKGD) mxTransSetBkgdDveFlag(mode != 0 ? 1 : 0);
}

void mxDveSetBkgdBuses(int target, int a, int b, int dir) {
  MX_NOTE_CALL(target, static_cast<float>(a), static_cast<float>(b), static_cast<float>(dir));
  MX_CHECK(target == MX_BKGD);
  DveState& s = state(target);
  s.busA = a != 0 ? 1 : 0;
  s.busB = b != 0 ? 1 : 0;
  s.direction = dir == 1 ? 0 : dir == 2 ? 1 : 2;
}

void mxDveSetWindow(int target, float x, float y, float width, float height, float scale, float softness) {
  MX_NOTE_CALL(target, x, y, width, height, scale, softness);
  checkDveTarget(target);
  DveState& s = state(target);
  s.window[0] = windowWords(x, y, width, height, scale, softness, s.aspect[0]);
  s.single = true;
}

void mxDveSetDualWindow(int target, float x, float y, float width, float height, float scale, float softness) {
  MX_NOTE_CALL(target, x, y, width, height, scale, softness);
  checkDveTarget(target);
  DveState& s = state(target);
  s.window[1] = windowWords(x, y, width, height, scale, softness, s.aspect[1]);
  s.single = false;
}

void mxDveSetWindowOffset(int target, float x, float y) {
  MX_NOTE_CALL(target, x, y);
  checkDveTarget(target);
  DveState& s = state(target);
  s.window[1] = windowWords(x, y, 0, 0, 0, 0, s.aspect[1]);
  s.single = true;
}

void mxDveSetAspect(int target, float a) {
  MX_NOTE_CALL(target, a);
  setAspects(target, a, a);
}

void mxDveSetAspects(int target, float a0, float a1) {
  MX_NOTE_CALL(target, a0, a1);
  setAspects(target, a0, a1);
}

void mxDveReset(int target) {
  MX_NOTE_CALL(target);
  checkTarget(target);
  resetWindows(state(target));
}

void mxDveClearTransform(int target) {
  MX_NOTE_CALL(target);
  setTransforms(target, clearedWords, nullptr, nullptr, MODE_SINGLE);
}

void mxDveSetMatrix(int target, const float* m) {
  MX_NOTE_ARRAY(target, m, 6);
  setTransforms(target, affineWords, m, nullptr, MODE_SINGLE);
}

void mxDveSetMatrixFloat(int target, const float* m) {
  MX_NOTE_ARRAY(target, m, 9);
  setTransforms(target, projectiveWords, m, nullptr, MODE_SINGLE);
}

void mxDveSetMatrices(int target, const float* a, const float* b, int effect) {
  if (calllog::active()) noteTransforms(__func__, target, a, b, 6, effect);
  setTransforms(target, affineWords, a, b, effect == MX_DVE_EFFECT_DUAL ? MODE_DUAL_EFFECT : MODE_DUAL);
}

void mxDveSetMatricesFloat(int target, const float* a, const float* b, int effect) {
  if (calllog::active()) noteTransforms(__func__, target, a, b, 9, effect);
  setTransforms(target, projectiveWords, a, b, effect == MX_DVE_EFFECT_DUAL ? MODE_DUAL_EFFECT : MODE_DUAL);
}

void mxDveSetRotation(int target, float angle, float offset, float level, float stripe) {
  MX_NOTE_CALL(target, angle, offset, level, stripe);
  checkDveTarget(target);
  DveState& s = state(target);
  rotationWords(s, angle, offset, stripe);
  s.mode = MODE_ROTATION;
  s.rotationLevel = static_cast<u32>(std::clamp(truncateToInt(level * 1023.0f), 0, 1023));
}

void mxDveSetColor(int target, int y, int cb, int cr) {
  checkTarget(target);
  MX_CHECK(0 <= y && y <= 1023);
  MX_CHECK(0 <= cb && cb <= 1023);
  MX_CHECK(0 <= cr && cr <= 1023);
  state(target).color = static_cast<u32>(y | (cb << 10) | (cr << 20));
}

void mxDveSetImageEffect(int context, int slot, int mosaic, float scale, u32 word) {
  const Effect e{mosaic != 0 ? 1 : 0, scale, word};
  if (slot == MX_BKGD_B) {
    MX_CHECK(MX_CONTEXT_ME1 <= context && context <= MX_CONTEXT_ME4B);
    Effect& b = driver().effectB[context - MX_CONTEXT_ME1];
    writeEffectB(context - MX_CONTEXT_ME1, b);
    b = e;
    return;
  }
  stateAt(context, slot).effect = e;
}

void mxDveGetBusFlags(int context, int* a, int* b) {
  const DveState& s = stateAt(context, MX_BKGD);
  *a = s.busA;
  *b = s.busB;
}

// ---- initialisation and writers ------------------------------------------------------------------------
void mxDveInitialize(float scale) {
  Driver& d = driver();
  const int format = mxVideoFormat();
  d.formatAspect = scale * (format == 4 ? 1.125f : format == 5 ? 0.9375f : 1.0f);
  const u32 width = (mxFrameWidth() + 63) / 64 * 64 - 1, height = (mxFrameHeight() + 31) / 32 * 32 - 1;
  for (int context = 0; context < N_WRITTEN_CONTEXTS; ++context) {
    for (int key = 0; key < N_TARGETS; ++key) {
      DveState& s = stateAt(MX_CONTEXT_ME1 + context, mxKeyTarget(key));
      setDefaults(s);
      mxWriteReg(s.block + dve::INIT_FIRST, INIT_CODES[key][0] | dve::INIT_LOAD);
      mxWriteReg(s.block + dve::INIT_SECOND, INIT_CODES[key][1] | dve::INIT_LOAD);
      mxWriteReg(s.block + dve::FRAME_WIDTH, width);
      mxWriteReg(s.block + dve::FRAME_HEIGHT, height);
      mxWriteReg(s.block + dve::INTERLACE, is720() ? 0 : dve::INTERLACED);
      mxWriteReg(s.block + dve::INIT_LAST, 0);
    }
  }
  mxDveUpdate();
}

void mxDveUpdate() {
  for (int context = 0; context < N_WRITTEN_CONTEXTS; ++context) {
    for (int key = 0; key < N_TARGETS; ++key) writeState(stateAt(MX_CONTEXT_ME1 + context, mxKeyTarget(key)));
  }
}

void mxDveUpdateTail() {
  Driver& d = driver();
  u32* me1 = stateAt(MX_CONTEXT_ME1, MX_BKGD).falloff;
  buildFalloff(me1);
  std::copy_n(me1, N_FALLOFF, stateAt(MX_CONTEXT_ME2, MX_BKGD).falloff);
  if (mxReadReg(OCM_FALLOFF_LOG) == 0) {
    d.logCounter = 0;
    return;
  }
  if (d.logCounter == 0) {
    for (int i = 0; i < N_FALLOFF; ++i) consolePrintf("%08x\n", me1[i]);
  }
  d.logCounter = (d.logCounter + 1) % FALLOFF_LOG_FRAMES;
}

void mxDveResetDriver() { driver() = Driver{}; }
