// Filter driver: slot shadows, the coefficient banks and line windows, and the per-frame writer.
#include "Driver/filter/filter.h"

#include <cmath>
#include <initializer_list>
#include <numbers>
#include <utility>

#include "Common/reg.h"
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/filter/regs.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"
#include "Lib/Include/fixedpoint.h"

namespace {

using namespace filter_regs;

constexpr int SLOT_A = 0, SLOT_B = 1, SLOT_KEY1 = 2, N_KEYS = 4, N_SLOTS = SLOT_KEY1 + N_KEYS;
constexpr int FIXED_AUX_OUT = 0, FIXED_DISPLAY = 1, N_FIXED = 2;
constexpr int N_ME_FPGAS = 2;                 // contexts 12816 and 12817 reach the hardware
constexpr u32 FRAMES_MAX = 255;               // effect frame counters stop here
constexpr u32 BUS_START_FRAMES = 2, DUST_START_FRAMES = 4;
constexpr float NO_EFFECT = 0.99f, HALF_EFFECT = 0.49f, BOOST_LEVEL = 2.05f, BOOST = 1.333f;
constexpr int STEP_ONE = 32768;               // a filter step of 1.0

enum class Kind : u8 { Bus, Key, AuxOut, Display };

struct Effect {
  int mosaic = 0;
  float scale = 1.0f;
  u32 word = 0;
};

struct Slot {
  Kind kind = Kind::Bus;
  u32 filter = 0, scaler = 0, option = 0, enable = 0;  // absolute addresses; 0: none
  u32 initCode = 0;
  float a = 0.0f, b = 0.0f, c = 1.0f, d = 1.0f;
  float scale = 1.0f;
  // Set when the background's parameters put the slot back to the whole picture.
  u8 marker = 0;
  bool keyDve = false, keyFlagA = false, keyFlagB = false, mosaic = false, boost = false;
  int imageMode = 0;
  float level = 0.0f;
  bool posterize = false, colorize = false;
  int posterizeY = 0, posterizeC = 0, cb = 0, cr = 0;
  // A and B bus test effects.
  bool modeOn = false, gainOn = false;
  int mode = 0;
  float gain = 0.0f;
  u32 modeFrames = 0, gainFrames = 0;
  // Dust of the background and the keys; dustShown: on in the last frame written.
  bool dustOn = false, dustShown = false;
  float dustGain = 0.0f;
  int dust = 0;
  u32 dustFrames = 0;
};

struct FilterState {
  Slot slots[N_CONTEXT][N_SLOTS];
  Slot fixed[N_FIXED];
};

// The ME bank of a context: the two hardware MEs, the others on the paired ME2 bank.
u32 contextBase(int context) { return context < N_ME_FPGAS ? mxMeBase(context) : MX_ME2_PAIRED_BASE; }

// Register bases and init codes of every slot for the current board mode.
void mapSlots(FilterState& st) {
  for (int ctx = 0; ctx < N_CONTEXT; ++ctx) {
    const u32 base = contextBase(ctx);
    Slot* s = st.slots[ctx];
    s[SLOT_A].kind = s[SLOT_B].kind = Kind::Bus;
    s[SLOT_A].filter = base + BKGD_A_FILTER, s[SLOT_A].scaler = base + BKGD_A_SCALER;
    s[SLOT_A].enable = base + BKGD_A_ENABLE, s[SLOT_A].initCode = INIT_BKGD_A;
    s[SLOT_B].filter = base + BKGD_B_FILTER, s[SLOT_B].scaler = base + BKGD_B_SCALER;
    s[SLOT_B].enable = base + BKGD_B_ENABLE, s[SLOT_B].initCode = INIT_BKGD_B;
    for (int k = 0; k < N_KEYS; ++k) {
      Slot& key = s[SLOT_KEY1 + k];
      key.kind = Kind::Key;
      key.filter = base + KEY_FILTER + KEY_STRIDE * k;
      key.scaler = base + KEY_SCALER[k];
      key.option = base + KEY_OPTION + KEY_STRIDE * k;
      key.initCode = INIT_KEY[k];
    }
  }
  Slot& aux = st.fixed[FIXED_AUX_OUT];
  aux.kind = Kind::AuxOut, aux.filter = AUX_OUT_FILTER, aux.scaler = AUX_OUT_SCALER, aux.initCode = INIT_AUX_OUT;
  Slot& display = st.fixed[FIXED_DISPLAY];
  display.kind = Kind::Display, display.filter = DISPLAY_FILTER, display.scaler = DISPLAY_SCALER;
  display.initCode = INIT_DISPLAY;
}

FilterState& state() {
  static FilterState st = [] {
    FilterState s;
    mapSlots(s);
    return s;
  }();
  return st;
}

Slot* contextSlots() { return state().slots[mxContextIndex()]; }

bool isKeyTarget(int target) { return MX_KEY1 <= target && target <= MX_KEY4 && (target - MX_KEY1) % 2 == 0; }

int keyIndex(int target) { return (target - MX_KEY1) / 2; }

// A key slot of the current context; the fill ids between the keys name none.
Slot& keySlot(int target) {
  MX_CHECK((target - MX_KEY1) % 2 == 0);
  return contextSlots()[SLOT_KEY1 + keyIndex(target)];
}

// The slot of an image-effect target: MX_ABUS, MX_BBUS or a key with image-effect hardware.
Slot& imageSlot(int target) {
  MX_CHECK(target == MX_ABUS || target == MX_BBUS || (MX_KEY1 <= target && target <= MX_KEY_DVE_MAX));
  if (target == MX_ABUS) return contextSlots()[SLOT_A];
  if (target == MX_BBUS) return contextSlots()[SLOT_B];
  return keySlot(target);
}

// The slot of a bus test target, null for targets other than the two background buses.
Slot* busSlot(int bus) {
  if (bus == MX_ABUS) return &contextSlots()[SLOT_A];
  if (bus == MX_BBUS) return &contextSlots()[SLOT_B];
  return nullptr;
}

void count(u32& frames) {
  if (frames < FRAMES_MAX) ++frames;
}

// ---- coefficient banks ----

double sinc(double x) {
  double px = std::numbers::pi * x;
  return std::sin(px) / px;
}

// Kernels scaled to 16384: kind 1 sinc within one tap, kind 2 Lanczos-2 within two.
int kernel(int kind, double x) {
  const double ax = std::fabs(x);
  if (ax < 0.001) return 16384;
  if (kind == 1) return ax <= 1.0 ? static_cast<int>(16384.0 * sinc(x)) : 0;
  return ax <= 2.0 ? static_cast<int>(16384.0 * sinc(x) * sinc(x / 2.0)) : 0;
}

constexpr int BANK_WORDS = 4 * (64 + 64 + 128);

struct Bank {
  u32 words[BANK_WORDS];
};

void taps(u32*& w, std::initializer_list<int> values) {
  for (int v : values) *w++ = static_cast<u32>(v) & 0xFFFF;
}

// Four taps of a Lanczos-2 phase, the centre tap making the sum 16384.
void lanczosPhase(u32*& w, double t) {
  int left = kernel(2, t - 2.0), near = kernel(2, t - 1.0), right = kernel(2, t + 1.0);
  taps(w, {left, near, 16384 - left - near - right, right});
}

// Bank 0: 64 Lanczos-2 phases, 64 two-tap sinc phases, 128 Lanczos-2 phases.
Bank kernelBank() {
  Bank b{};
  u32* w = b.words;
  for (int i = 0; i < 64; ++i) lanczosPhase(w, i / 64.0);
  for (int i = 0; i < 64; ++i) {
    int tap = kernel(1, i / 64.0 - 1.0);
    taps(w, {tap, 16384 - tap, 0, 0});
  }
  for (int i = 0; i < 128; ++i) lanczosPhase(w, i / 128.0);
  return b;
}

// Bank 1: flat taps in the same layout.
Bank flatBank() {
  Bank b{};
  u32* w = b.words;
  for (int i = 0; i < 64; ++i) taps(w, {4096, 4096, 4096, 4096});
  for (int i = 0; i < 64; ++i) taps(w, {8192, 8192, 0, 0});
  for (int i = 0; i < 128; ++i) taps(w, {4096, 4096, 4096, 4096});
  return b;
}

const Bank& coefficientBank(int bank) {
  static const Bank banks[2] = {kernelBank(), flatBank()};
  return banks[bank];
}

void loadPort(u32 port, int bank) {
  const int format = mxVideoFormat();
  const u32 width = mxFrameWidth(), height = mxFrameHeight();
  mxWriteReg(port + PORT_ADDRESS, static_cast<u32>(bank) << BANK_SHIFT);
  mxWriteRegFifo(port + PORT_DATA, coefficientBank(bank).words, BANK_WORDS);
  mxWriteReg(port + PORT_WIDTH, width + 7);
  mxWriteReg(port + PORT_HEIGHT, (format == 4 ? ((height - 1) | HEIGHT_480_FLAG) : height) + 4);
}

void loadLineWindows(u32 base) {
  const u32 width = mxFrameWidth(), height = mxFrameHeight();
  const u32 blockWidth = (width + 127) / 128 * 128 - 1;
  mxWriteReg(base + WINDOW_SETUP_A, 4);
  mxWriteReg(base + WINDOW_SETUP_B, 1);
  for (int w = 0; w < 2; ++w) {
    const u32 window = base + WINDOW[w];
    mxWriteReg(window + WINDOW_WIDTH, width - 1);
    for (int j = 0; j < 4; ++j) {
      const bool full = w == 0 && j < 2;
      const u32 start = full ? 2 : 0, end = full ? 2 + height : height / 2;
      mxWriteReg(window + WINDOW_RANGE[j], start);
      mxWriteReg(window + WINDOW_RANGE[j] + 4, end);
      const u32 block = window + WINDOW_BLOCK + WINDOW_BLOCK_STRIDE * j;
      const u32 words[4] = {WINDOW_BLOCK_MODE, start, blockWidth, end};
      for (int i = 0; i < 4; ++i) mxWriteReg(block + 4 * i, words[i]);
    }
    for (int i = 0; i < 3; ++i) mxWriteReg(base + WINDOW_TAIL[w] + 4 * i, WINDOW_TAIL_WORDS[i]);
  }
}

// ---- per-frame writer ----

// The image scale, flags and effect word of a slot for this frame.
Effect imageEffect(Slot& s) {
  s.scale = 1.0f;
  s.mosaic = s.boost = false;
  if (s.imageMode != 0) {
    s.scale = 1.0f / (2.0f * s.level + 1.0f);
    if (s.imageMode == MX_IMAGE_DEFOCUS && s.kind == Kind::Bus && s.level >= BOOST_LEVEL) {
      s.boost = true;
      s.scale *= BOOST;
    }
    s.mosaic = s.imageMode == MX_IMAGE_MOSAIC;
  }
  u32 word = s.posterize ? static_cast<u32>(s.posterizeY | s.posterizeC << 4) : 0;
  if (s.colorize) word |= static_cast<u32>(s.cr) << 20 | static_cast<u32>(s.cb) << 10 | 128;
  return {s.mosaic ? 1 : 0, s.scale, word};
}

u32 gainValue(float gain) { return truncateToWord(gain * 1023.0f) + GAIN_BASE; }

void writeBusTest(u32 base, Slot& s, int bus) {
  const u32 gainCode = BUS_GAIN_CODE + bus, modeCode = BUS_MODE_CODE + bus;
  u32 value = 0, first = modeCode, second = modeCode;
  if (s.gainOn) {
    value = s.gainFrames < BUS_START_FRAMES ? 0 : gainValue(s.gain);
    first = second = ACTIVE + gainCode;
  } else if (s.modeOn) {
    const bool starting = s.modeFrames < BUS_START_FRAMES;
    value = starting ? BUS_START : BUS_RUN;
    first = starting ? ACTIVE + modeCode : modeCode;
    second = starting ? modeCode : ACTIVE + modeCode;
  }
  if (s.modeOn && s.mode == 1) second &= ~BUS_MODE1_CLEAR;
  if (s.gainOn) count(s.gainFrames);
  if (s.modeOn) count(s.modeFrames);
  mxWriteReg(base + BUS_VALUE + BUS_VALUE_STRIDE * bus, value);
  mxWriteReg(base + BUS_CONTROL1 + BUS_CONTROL1_STRIDE * bus, first);
  mxWriteReg(base + BUS_CONTROL2 + BUS_CONTROL2_STRIDE * bus, second);
}

// Dust of the background (unit 0) or key 1 (unit 1). It starts over when the last frame written had
// it off: one switched off and on again between two frames (the background at rest, then the test
// pattern) keeps running.
void writeDust(u32 base, Slot& s, int unit) {
  u32 value = 0, control = DUST_CODE + unit;
  if (s.dustOn && !s.dustShown) s.dustFrames = 0;
  s.dustShown = s.dustOn;
  if (s.dustOn) {
    value = s.dustFrames < DUST_START_FRAMES ? GAIN_BASE
                                              : gainValue(s.dustGain) + (static_cast<u32>(s.dust) << DUST_SHIFT);
    control += ACTIVE;
    count(s.dustFrames);
  }
  mxWriteReg(base + DUST_VALUE[unit], value);
  mxWriteReg(base + DUST_CONTROL1[unit], control);
  mxWriteReg(base + DUST_CONTROL2[unit], control);
}

// Left shifts (0..15) that bring the first set bit of the 16-bit step into bit 15; 15 for none.
u32 shiftCode(u32 step) {
  u32 v = step & 0xFFFF;
  if (v == 0) return 15;
  u32 n = 0;
  for (; (v & 0x8000) == 0; v <<= 1) ++n;
  return n;
}

void writeResize(const Slot& s) {
  const int format = mxVideoFormat();
  const bool is720 = format == 2 || format == 3;
  const float W = static_cast<float>(mxFrameWidth()), H = static_cast<float>(mxFrameHeight());
  float a = s.a, b = s.b, c = s.c, d = s.d;
  const float sc = s.scale;
  if (sc < NO_EFFECT) {
    c = 1.0f / W + c * sc;
    a = a * sc;
    if (is720) {
      b = b * sc;
      d = 1.0f / H + d * sc;
    } else if (sc < HALF_EFFECT) {
      d = 1.0f / H + 2.0f * d * sc;
      b = 2.0f * b * sc;
    }
  }
  const float X = a * W - 5.0f * c - 1.0f;
  const float Y = b * H - d;
  const int left = 2 * truncateToInt(std::floor(X / 2.0f));
  const float top = std::floor(Y);
  const int R2 = truncateToInt(top);
  const u32 rows = truncateToWord(d * H), columns = truncateToWord((W + 6.0f) * c);

  u32 hstep, vstep, option = 0;
  if (s.keyDve) {
    hstep = format == 1 ? KEY_DVE_HSTEP_50 : KEY_DVE_HSTEP;
    vstep = KEY_DVE_VSTEP;
    option = format == 1 ? 1 : 0;
  } else {
    hstep = truncateToWord(c * STEP_ONE);
    vstep = truncateToWord(d * STEP_ONE);
  }

  const u32 sca = s.scaler;
  mxWriteReg(sca + SCALER_LEFT, static_cast<u32>(left));
  mxWriteReg(sca + SCALER_TOP, static_cast<u32>(R2 - 1));
  mxWriteReg(sca + SCALER_MODE, SCALER_MODE_VALUE);
  mxWriteReg(sca + SCALER_ENABLE, 1);
  mxWriteReg(sca + SCALER_COLUMNS, columns + 4);
  mxWriteReg(sca + SCALER_ROWS, s.kind == Kind::AuxOut && rows >= 540 ? AUX_OUT_FULL_ROWS : rows + 4);
  if (s.kind == Kind::AuxOut) {
    mxWriteReg(sca + SCALER_OUT_LEFT, static_cast<u32>(left));
    mxWriteReg(sca + SCALER_OUT_TOP, static_cast<u32>(R2 + static_cast<int>(AUX_OUT_TOP_OFFSET)));
    mxWriteReg(sca + SCALER_OUT_ROWS, AUX_OUT_ROWS);
  } else if (s.kind == Kind::Display) {
    mxWriteReg(sca + SCALER_OUT_WIDTH, format == 4 || format == 5 ? DISPLAY_WIDTH_SD : DISPLAY_WIDTH_HD);
    mxWriteReg(sca + SCALER_OUT_TOP, static_cast<u32>(R2 - 1));
    mxWriteReg(sca + SCALER_OUT_ROWS, rows + 4);
  }
  if (s.kind == Kind::AuxOut || s.kind == Kind::Display) {
    mxWriteReg(sca + SCALER_OUT_MODE, SCALER_MODE_VALUE);
    mxWriteReg(sca + SCALER_OUT_ENABLE, 1);
    mxWriteReg(sca + SCALER_OUT_COLUMNS, columns + 4);
  }

  const u32 hphase = truncateToWord((X - static_cast<float>(left)) * STEP_ONE / 2.0f);
  u32 vphase0 = 0, vphase1 = 0;
  if (!s.keyDve) {
    vphase0 = vphase1 = truncateToWord((Y - top) * STEP_ONE);
    const float rest = 1.0f - d;
    if (rest >= 0.0f && sc >= HALF_EFFECT) vphase0 += truncateToWord(rest * 16384.0f);
  }
  const u32 fil = s.filter;
  mxWriteReg(fil + FILTER_HSTEP, hstep);
  mxWriteReg(fil + FILTER_VSTEP, vstep);
  mxWriteReg(fil + FILTER_HPHASE0, hphase);
  mxWriteReg(fil + FILTER_HPHASE1, hphase);
  mxWriteReg(fil + FILTER_VPHASE0, vphase0);
  mxWriteReg(fil + FILTER_VPHASE1, vphase1);
  mxWriteReg(fil + FILTER_SHIFT, shiftCode(vstep) << 8 | shiftCode(hstep));
  mxWriteReg(fil + FILTER_CONTROL, (sc < NO_EFFECT ? 1u : 0u) | (s.keyFlagA && s.keyFlagB ? 2u : 0u));
  if (s.option != 0) mxWriteReg(s.option, option);
  if (s.enable != 0) mxWriteReg(s.enable, s.boost ? 1 : 0);
}

void handOver(int context, int slot, const Effect& e) { mxDveSetImageEffect(context, slot, e.mosaic, e.scale, e.word); }

void updateContext(FilterState& st, int ctx) {
  const int context = MX_CONTEXT_ME1 + ctx;
  const u32 base = contextBase(ctx);
  Slot* s = st.slots[ctx];
  Effect a = imageEffect(s[SLOT_A]), b = imageEffect(s[SLOT_B]);
  int flagA = 0, flagB = 0;
  mxDveGetBusFlags(context, &flagA, &flagB);
  // With the DVE taking the B bus in place of the A bus, the two pictures' effects change places.
  if (flagA != 0 && flagB == 0) std::swap(a, b);
  handOver(context, MX_BKGD, a);
  handOver(context, MX_BKGD_B, b);
  writeBusTest(base, s[SLOT_A], 0);
  writeBusTest(base, s[SLOT_B], 1);
  writeDust(base, s[SLOT_A], 0);
  writeDust(base, s[SLOT_KEY1], 1);
  writeResize(s[SLOT_A]);
  writeResize(s[SLOT_B]);
  for (int k = 0; k < N_KEYS; ++k) {
    Slot& key = s[SLOT_KEY1 + k];
    handOver(context, MX_KEY1 + 2 * k, imageEffect(key));
    writeResize(key);
  }
}

}  // namespace

// ---- setters ----

void mxFilterSetParameters(int target, float a, float b, float c, float d) {
  MX_NOTE_CALL(target, a, b, c, d);
  const bool isFixed = target == MX_EXT_OUT_3 || target == MX_DISPLAY_FILTER;
  const bool isBkgd = target == MX_BKGD || target == MX_BKGD_B;
  const bool isKey = isKeyTarget(target);
  if (!isFixed) MX_CHECK(isBkgd || isKey);
  if (c > 1.0f) c = 1.0f;
  Slot* slots = contextSlots();
  Slot& s = isFixed ? state().fixed[target == MX_EXT_OUT_3 ? FIXED_AUX_OUT : FIXED_DISPLAY]
            : isKey ? slots[SLOT_KEY1 + keyIndex(target)]
                    : slots[target == MX_BKGD ? SLOT_A : SLOT_B];
  s.a = a, s.b = b, s.c = c, s.d = d;
  s.marker = 0;
  if (target == MX_BKGD) {
    Slot& bBus = slots[SLOT_B];
    bBus.a = 0.0f, bBus.b = 0.0f, bBus.c = 1.0f, bBus.d = 1.0f;
    bBus.marker = 1;
  }
  if (isKey) mxKeySetFilterParameters(target, a, b, c, d);
}

void mxFilterSetKeyDveFlag(int target, int flag) {
  MX_NOTE_CALL(target, static_cast<float>(flag));
  MX_CHECK(MX_KEY1 <= target && target <= MX_KEY4);
  keySlot(target).keyDve = flag != 0;
}

void mxFilterSetKeyFlagA(int channel, int flag) {
  MX_CHECK(MX_KEY1 <= channel && channel <= MX_KEY4);
  keySlot(channel).keyFlagA = flag != 0;
}

void mxFilterSetKeyFlagB(int channel, int flag) {
  MX_CHECK(MX_KEY1 <= channel && channel <= MX_KEY4);
  keySlot(channel).keyFlagB = flag != 0;
}

void mxFilterSetImageMode(int target, int mode, float level) {
  MX_NOTE_CALL(target, static_cast<float>(mode), level);
  Slot& s = imageSlot(target);
  MX_CHECK(mode == 0 || mode == MX_IMAGE_DEFOCUS || mode == MX_IMAGE_MOSAIC);
  // A negative level would divide by zero or below in the image scale.
  MX_CHECK(0.0f <= level);
  s.imageMode = mode;
  s.level = level;
}

void mxFilterSetPosterize(int target, int on, int y, int c) {
  MX_NOTE_CALL(target, static_cast<float>(on), static_cast<float>(y), static_cast<float>(c));
  Slot& s = imageSlot(target);
  MX_CHECK(0 <= y && y <= 7);
  MX_CHECK(0 <= c && c <= 7);
  s.posterize = on != 0;
  s.posterizeY = y;
  s.posterizeC = c;
}

void mxFilterSetColorize(int target, int on, int cb, int cr) {
  MX_NOTE_CALL(target, static_cast<float>(on), static_cast<float>(cb), static_cast<float>(cr));
  Slot& s = imageSlot(target);
  MX_CHECK(0 <= cb && cb < 0x3ff);
  MX_CHECK(0 <= cr && cr < 0x3ff);
  s.colorize = on != 0;
  s.cb = cb;
  s.cr = cr;
}

void mxFilterSetBusMode(int bus, int on, int mode) {
  MX_NOTE_CALL(bus, static_cast<float>(on), static_cast<float>(mode));
  MX_CHECK(mode == 0 || mode == 1);
  Slot* s = busSlot(bus);
  if (s == nullptr) return;
  if ((on != 0 && !s->modeOn) || on == 2) s->modeFrames = 0;
  s->modeOn = on != 0;
  s->mode = mode;
}

void mxFilterSetBusGain(int bus, int on, float gain) {
  MX_NOTE_CALL(bus, static_cast<float>(on), gain);
  MX_CHECK(0.0f <= gain && gain <= 1.0f);
  Slot* s = busSlot(bus);
  if (s == nullptr) return;
  if (on != 0 && !s->gainOn) s->gainFrames = 0;
  s->gainOn = on != 0;
  s->gain = gain;
}

void mxFilterSetDust(int target, int on, float gain, int dust) {
  MX_NOTE_CALL(target, static_cast<float>(on), gain, static_cast<float>(dust));
  MX_CHECK(target == MX_BKGD || isKeyTarget(target));
  MX_CHECK(0.0f <= gain && gain <= 1.0f);
  MX_CHECK(0 <= dust && dust <= 15);
  Slot& s = target == MX_BKGD ? contextSlots()[SLOT_A] : contextSlots()[SLOT_KEY1 + keyIndex(target)];
  s.dustOn = on != 0;
  s.dustGain = gain;
  s.dust = dust;
}

// ---- block entries ----

void mxFilterInitialize() {
  FilterState& st = state();
  mapSlots(st);
  auto init = [](const Slot& s) { mxWriteReg(s.scaler + SCALER_INIT, s.initCode | INIT_ON); };
  for (auto& context : st.slots) {
    for (const Slot& s : context) init(s);
  }
  for (const Slot& s : st.fixed) {
    init(s);
    mxWriteReg(s.scaler + SCALER_INIT2, s.initCode | INIT_ON);
  }
  for (int bank = 0; bank < 2; ++bank) {
    for (int me = 0; me < N_ME_FPGAS; ++me) {
      for (u32 port : ME_PORTS) loadPort(mxMeBase(me) + port, bank);
    }
    for (u32 port : FIXED_PORTS) loadPort(port, bank);
  }
  for (int me = 0; me < N_ME_FPGAS; ++me) loadLineWindows(mxMeBase(me));
}

void mxFilterUpdate() {
  FilterState& st = state();
  for (int ctx = 0; ctx < N_ME_FPGAS; ++ctx) updateContext(st, ctx);
  for (const Slot& s : st.fixed) writeResize(s);
}

void mxFilterReset() {
  FilterState& st = state();
  st = FilterState{};
  mapSlots(st);
}
