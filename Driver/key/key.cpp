// Key driver: keyer parameter blocks, the key mixer of each ME context with its rings of three
// level and layer slots, and the writers of the early update (parameters), stage 3 (mixers) and
// the tail (latch).
#include "Driver/key/key.h"

#include <cmath>

#include "Common/reg.h"
#include "Driver/calllog.h"
#include "Driver/blocks.h"
#include "Driver/filter/filter.h"
#include "Driver/key/chroma.h"
#include "Driver/key/regs.h"
#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/check.h"

namespace {

constexpr int N_KEYS = 4;
constexpr int N_HW_CONTEXTS = 2;  // contexts 12816 and 12817 drive the ME FPGAs
constexpr int DSK_BLOCK0 = 32, USK_BLOCK0 = 36, N_BLOCKS = 40;
constexpr int N_SLOTS = 3;
constexpr u32 LAYER_ON = 0x10000, DSK_LAYER_OFF = 1;
constexpr u32 CLEAN_POINT_CODE = 12, CLEAN_ALL = 8;
constexpr u32 LEVEL_MAX = 1024;
constexpr int N_WATCHED = 10;

// One keyer's parameters, in the order of its 42 words.
struct KeyBlock {
  u32 baseA = 0;
  u32 baseB = 0;
  u32 dskFlag = 0;
  u32 index = 0;
  u32 mode = 0;         // bits 0-1 to the hardware, bit 2 filter bypass request
  s32 clip = 0;
  u32 gain = 0;
  u32 gain2 = 0;
  u32 density = 0;
  u32 edgeType = 0;
  u32 edgeControl = 0;
  u32 edgeFill = 8;
  u32 edgeLevel = LEVEL_MAX;
  u32 maskEnable = 0;
  u32 maskInvert = 0;
  u32 option = 0;
  s32 box[4] = {};      // left, top, right, bottom
  u32 edgeColor = 0;
  u32 matteColor = 0;
  float filter[4] = {0.0f, 0.0f, 1.0f, 1.0f};  // a, b, c, d from the filter driver
  u32 extraColor = 0;
  s32 soft[4] = {};
  u32 softness = 0;
  u32 latched[N_WATCHED] = {};
};
static_assert(sizeof(KeyBlock) == 42 * 4);

// The parameters whose change since the last latch matters to a delayed key transition.
void watched(const KeyBlock& b, u32 out[N_WATCHED]) {
  const u32 v[N_WATCHED] = {b.mode, static_cast<u32>(b.clip), b.gain, b.gain2, b.maskEnable, b.maskInvert,
                            static_cast<u32>(b.box[0]), static_cast<u32>(b.box[1]), static_cast<u32>(b.box[2]),
                            static_cast<u32>(b.box[3])};
  for (int k = 0; k < N_WATCHED; ++k) out[k] = v[k];
}

struct LevelSlot {
  u32 level = 0;
  u32 tapA = 0;
  u32 tapB = 0;
};
struct KeyEntry {
  u8 delayed = 0;
  u32 slot = 0;
  LevelSlot slots[N_SLOTS];
};
struct LayerSlot {
  u8 priority[3] = {3, 2, 1};
  u32 cleanTap = 0;
  u32 source = 0;
  u32 flag = 0;
};
struct KeyMixer {
  u32 baseA = 0;
  u32 baseB = 0;
  KeyEntry key[N_KEYS];
  u8 anyDelayed = 0;
  u32 layerSlot = 0;
  LayerSlot layers[N_SLOTS];
  u32 preview[N_KEYS] = {};
  u32 tapA = 0;
  u32 tapB = 0;
  u8 tapFlag[3] = {};
  s32 sample[4] = {};  // x, y, width, height
};

struct KeyState {
  KeyBlock blocks[N_BLOCKS];
  KeyMixer mixers[N_CONTEXT];
};

void setBases(KeyState& s) {
  for (int c = 0; c < N_CONTEXT; ++c) {
    u32 bank = c < N_HW_CONTEXTS ? mxMeBase(c) : keyreg::SPARE_BANK;
    for (int k = 0; k < N_KEYS; ++k) {
      KeyBlock& b = s.blocks[k + N_KEYS * c];
      b.baseA = bank + keyreg::KEY_BLOCK + keyreg::KEY_STRIDE * static_cast<u32>(k);
      b.baseB = b.baseA + keyreg::KEY_B;
      b.index = static_cast<u32>(k);
    }
    s.mixers[c].baseA = bank + keyreg::MIXER_A;
    s.mixers[c].baseB = bank + keyreg::MIXER_B;
  }
  for (int n = 0; n < N_KEYS; ++n) {
    KeyBlock& dsk = s.blocks[DSK_BLOCK0 + n];
    dsk.baseA = keyreg::DSK_BLOCK + keyreg::LAYER_STRIDE * static_cast<u32>(n);
    dsk.baseB = keyreg::LAYER_B;
    dsk.dskFlag = 1;
    dsk.index = static_cast<u32>(n);
    KeyBlock& usk = s.blocks[USK_BLOCK0 + n];
    usk.baseA = keyreg::USK_BLOCK + keyreg::LAYER_STRIDE * static_cast<u32>(n);
    usk.baseB = keyreg::LAYER_B;
    usk.index = static_cast<u32>(n);
  }
  chromaSetBases();
}

KeyState& state() {
  static KeyState* s = [] {
    static KeyState built;
    setBases(built);
    return &built;
  }();
  return *s;
}

bool isKeyId(int t) { return MX_KEY1_F <= t && t <= MX_KEY4; }
bool isDskId(int t) { return MX_DSK1_F <= t && t <= MX_DSK4; }
bool isUskId(int t) { return MX_USK1_F <= t && t <= MX_USK4_S; }
bool isLayerPoint(int p) { return MX_LAYER_POINT_1 <= p && p <= MX_LAYER_POINT_4; }
u32 layerPointCode(int p) { return static_cast<u32>(4 + p - MX_LAYER_POINT_1); }

KeyMixer& mixer() { return state().mixers[mxContextIndex()]; }

// The block of a key (current context), DSK or key layer channel; the target is checked by the caller.
KeyBlock& block(int target) {
  if (isDskId(target)) return state().blocks[DSK_BLOCK0 + dskIndex(target)];
  if (isUskId(target)) return state().blocks[USK_BLOCK0 + (target - MX_USK1_F) / 2];
  return state().blocks[keyIndex(target) + N_KEYS * mxContextIndex()];
}

// The block of a key, DSK or key layer channel target, after its check.
KeyBlock& keyerBlock(int target) {
  bool isKey = isKeyId(target);
  bool isDsk = isDskId(target);
  bool isUsk = isUskId(target);
  MX_CHECK(isKey || isDsk || isUsk);
  return block(target);
}

LevelSlot& levelSlot(KeyMixer& m, int k) { return m.key[k].slots[m.key[k].slot]; }
LayerSlot& layerSlot(KeyMixer& m) { return m.layers[m.layerSlot]; }

// trunc(x) clamped to 0..max; NaN gives 0.
u32 truncClamp(float x, u32 max) {
  if (!(x > 0.0f)) return 0;
  return x >= static_cast<float>(max) ? max : static_cast<u32>(x);
}

// A position in pixels or lines: trunc(x + 0.5), bounded so that no fraction overflows a word.
s32 toPixel(float x) {
  constexpr float LIMIT = 1 << 20;
  float v = std::trunc(x + 0.5f);
  if (!(v > -LIMIT)) return v < 0.0f ? -(1 << 20) : 0;
  return v >= LIMIT ? 1 << 20 : static_cast<s32>(v);
}

// Top and bottom lines of a fraction of the frame (2H lines), even outside the 720-line formats.
s32 toLine(float fraction) {
  s32 line = toPixel(2.0f * static_cast<float>(mxFrameHeight()) * fraction);
  int format = mxVideoFormat();
  return format == 2 || format == 3 ? line : line & ~1;
}

u32 packColor(int y, int cb, int cr) {
  MX_CHECK(0 <= y && y <= 1023);
  MX_CHECK(0 <= cb && cb <= 1023);
  MX_CHECK(0 <= cr && cr <= 1023);
  return static_cast<u32>(y) | static_cast<u32>(cb) << keyreg::COLOR_CB_SHIFT |
         static_cast<u32>(cr) << keyreg::COLOR_CR_SHIFT;
}

// Edge control factor and type bits per kind and direction sector (dir / 45).
struct EdgeCode {
  u32 factor;
  u32 type;
};
constexpr EdgeCode EDGE_CODES[4][8] = {
    {{0x1122, 0}, {0x1122, 0}, {0x1122, 0}, {0x1122, 0}, {0x1122, 0}, {0x1122, 0}, {0x1122, 0}, {0x1122, 0}},
    {{0x20, 24}, {0x20, 16}, {0x220, 28}, {0x202, 32}, {0x2220, 24}, {0x2020, 16}, {0x2020, 28}, {0x2, 32}},
    {{0x22, 48}, {0x20, 48}, {0x220, 48}, {0x200, 48}, {0x2200, 48}, {0x2000, 48}, {0x2002, 48}, {0x2, 48}},
    {{0x1122, 1}, {0x1122, 1}, {0x1122, 1}, {0x1122, 1}, {0x1122, 1}, {0x1122, 1}, {0x1122, 1}, {0x1122, 1}},
};

// A product of a stored position and a filter scale, truncated (0 when it does not fit a word).
u32 scaled(s32 v, float f) {
  float p = static_cast<float>(v) * f;
  if (!(p > -2147483520.0f && p < 2147483520.0f)) return 0;
  return static_cast<u32>(static_cast<s32>(p));
}

void writeBlock(const KeyBlock& b) {
  using namespace keyreg;
  const u32 a = b.baseA;
  mxWriteReg(a + MODE, (b.mode & 3) | b.maskEnable << MODE_MASK_ENABLE | b.maskInvert << MODE_MASK_INVERT |
                           b.option << MODE_OPTION);
  mxWriteReg(a + CLIP, static_cast<u32>(b.clip));
  mxWriteReg(a + GAIN, b.gain);
  mxWriteReg(a + GAIN2, b.gain2);
  mxWriteReg(a + DENSITY, b.density);
  mxWriteReg(a + EDGE_TYPE, b.edgeType | b.edgeFill << EDGE_FILL_SHIFT);
  mxWriteReg(a + EDGE_CONTROL, b.edgeControl);
  mxWriteReg(a + EDGE_LEVEL, b.edgeLevel);
  for (u32 k = 0; k < 4; ++k) mxWriteReg(a + BOX + 4 * k, static_cast<u32>(b.box[k]));
  mxWriteReg(a + MATTE, b.matteColor);
  mxWriteReg(a + EDGE_COLOR, b.edgeColor);
  mxWriteReg(b.baseB + MASK_ENABLE, b.maskEnable);

  u32 box[4] = {0, 0, 0, 0};
  if (b.density != 0 && b.maskInvert != 0) {
    box[2] = INVERTED_BOX_RIGHT;
    box[3] = INVERTED_BOX_BOTTOM;
  } else if (b.density != 0) {
    for (int k = 0; k < 4; ++k) box[k] = scaled(b.box[k], b.filter[2 + k % 2]);
  }
  for (u32 k = 0; k < 4; ++k) mxWriteReg(b.baseB + FILTER_BOX + 4 * k, box[k]);

  for (u32 k = 0; k < 4; ++k) mxWriteReg(a + SOFT_BOX + 4 * k, static_cast<u32>(b.soft[k]));
  mxWriteReg(a + SOFTNESS, b.softness);
  mxWriteReg(a + EXTRA_COLOR, b.extraColor);
}

// Reads the slot of a ring (the next one when delayed) and advances the ring. The new current slot
// starts as a copy of the one it follows, so that a setting made once stays in force.
template <typename Slot>
Slot advance(Slot (&slots)[N_SLOTS], u32& current, bool delayed) {
  Slot read = slots[delayed ? (current + 1) % N_SLOTS : current];
  u32 next = (current + 1) % N_SLOTS;
  slots[next] = slots[current];
  current = next;
  return read;
}

void writeMixer(KeyMixer& m) {
  using namespace keyreg;
  m.anyDelayed = 0;
  for (const KeyEntry& e : m.key) m.anyDelayed |= e.delayed;
  const LayerSlot layer = advance(m.layers, m.layerSlot, m.anyDelayed != 0);
  LevelSlot level[N_KEYS];
  for (int k = 0; k < N_KEYS; ++k) level[k] = advance(m.key[k].slots, m.key[k].slot, m.key[k].delayed != 0);

  int rank[N_KEYS];
  mxStackRanks(layer.priority, rank);
  const u32 a = m.baseA;
  mxWriteReg(a + MIX_ENABLE, 1);
  for (int p = 0; p < N_KEYS; ++p) {
    u32 off = MIX_KEY_STRIDE * static_cast<u32>(p);
    bool stacked = rank[p] < 3;
    mxWriteReg(a + MIX_KEY_RANK + off, static_cast<u32>(3 - rank[p]) * 4);
    mxWriteReg(a + MIX_KEY_SOURCE + off, m.preview[p] << MIX_PREVIEW_SHIFT | mxStackSource(rank, p, nullptr) |
                                             (stacked || (m.tapA & 1) != 0 ? MIX_STACKED : 0));
  }
  for (u32 k = 0; k < 3; ++k) mxWriteReg(a + MIX_TOP + 4 * k, layer.priority[0]);
  mxWriteReg(a + MIX_CLEAN_RANK, static_cast<u32>(rank[layer.cleanTap & 3]) * 4);
  mxWriteReg(a + MIX_CLEAN_TAP, layer.cleanTap);
  int layerRank = rank[layer.source & 3] * 4 - 2;
  mxWriteReg(a + MIX_LAYER_RANK, static_cast<u32>(layerRank > 0 ? layerRank : 0));
  mxWriteReg(a + MIX_LAYER, layer.source & 3);
  mxWriteReg(a + MIX_LAYER_FLAG, layer.flag);

  const u32 b = m.baseB;
  mxWriteReg(b + MIX_CONSTANT, MIX_CONSTANT_VALUE);
  mxWriteReg(b + TAP_A, (m.tapA & 7) | static_cast<u32>(m.tapFlag[0]) << TAP_FLAG_SHIFT);
  mxWriteReg(b + TAP_B, (m.tapB & 7) | static_cast<u32>(m.tapFlag[1]) << TAP_FLAG_SHIFT);
  mxWriteReg(b + TAP_LAYER, (layer.source & 7) | static_cast<u32>(m.tapFlag[2]) << TAP_FLAG_SHIFT);
  mxWriteReg(b + SAMPLE_BOX, static_cast<u32>(m.sample[0] + 2));
  mxWriteReg(b + SAMPLE_BOX + 4, static_cast<u32>(m.sample[1] + 1));
  mxWriteReg(b + SAMPLE_BOX + 8, static_cast<u32>(m.sample[0] + m.sample[2] - 2));
  mxWriteReg(b + SAMPLE_BOX + 12, static_cast<u32>(m.sample[1] + m.sample[3]));

  for (int k = 0; k < N_KEYS; ++k) {
    const LevelSlot& l = level[k];
    bool clean = l.level != 0 && ((layer.cleanTap & CLEAN_ALL) != 0 || static_cast<u32>(k) == (layer.cleanTap & 3));
    mxWriteReg(a + MIX_KEY_LEVEL + MIX_KEY_STRIDE * static_cast<u32>(k),
               l.level | (l.tapA != 0 ? MIX_TAP_A : 0) | (l.tapB != 0 ? MIX_TAP_B : 0) | (clean ? MIX_CLEAN : 0));
  }
}

// Output tap code of a point: 5120 -> 0, 5121 -> 1 (tap A only), layer points -> 4..7.
u32 tapCode(int point, bool tapA) {
  if (point == MX_ME_OUT_1) return 0;
  if (tapA && point == MX_ME_OUT_2) return 1;
  if (isLayerPoint(point)) return layerPointCode(point);
  MX_FAIL("NeverReachHere");
  return 0;
}

}  // namespace

int keyIndex(int target) {
  if (!isKeyId(target)) MX_FAIL("NeverReachHere");
  return (target - MX_KEY1_F) / 2;
}

int dskIndex(int target) {
  if (!isDskId(target)) MX_FAIL("NeverReachHere");
  return (target - MX_DSK1_F) / 2;
}

void mxStackRanks(const u8 priority[3], int rank[4]) {
  for (int k = 0; k < 4; ++k) rank[k] = 3;
  for (int i = 0; i < 3; ++i) rank[priority[i] & 3] = i;
}

u32 mxStackSource(const int rank[4], int p, const u32* group) {
  if (rank[p] >= 3) return 0;
  int below = 3;
  for (int q = 0; q < 3; ++q) {
    if (rank[q] == rank[p] + 1 && (group == nullptr || group[q] == group[p])) {
      below = q;
      break;
    }
  }
  return static_cast<u32>(below < p ? below + 1 : below);
}

// ---- key mixer setters ----

void mxKeySetPriority(int level1, int level2, int level3) {
  MX_NOTE_CALL(0, static_cast<float>(level1), static_cast<float>(level2), static_cast<float>(level3));
  MX_CHECK(MX_KEY1 <= level1 && level1 <= MX_KEY4);
  MX_CHECK(MX_KEY1 <= level2 && level2 <= MX_KEY4);
  MX_CHECK(MX_KEY1 <= level3 && level3 <= MX_KEY4);
  LayerSlot& l = layerSlot(mixer());
  l.priority[0] = static_cast<u8>(keyIndex(level1));
  l.priority[1] = static_cast<u8>(keyIndex(level2));
  l.priority[2] = static_cast<u8>(keyIndex(level3));
}

void mxKeySetLayerSource(int me, int source, int flag) {
  MX_NOTE_CALL(me, static_cast<float>(source), static_cast<float>(flag));
  bool isMe = MX_CONTEXT_ME1 <= me && me <= MX_CONTEXT_ME4B;
  bool isDsk = me == 0;
  MX_CHECK(isMe || isDsk);
  if (isDsk) {
    MxDskMixer& d = mxDskMixer();
    d.layerSource = static_cast<u32>(dskIndex(source));
    d.layerFlag = flag != 0 ? LAYER_ON : DSK_LAYER_OFF;
  } else {
    u32 code = isLayerPoint(source) ? layerPointCode(source) : static_cast<u32>(keyIndex(source));
    LayerSlot& l = layerSlot(state().mixers[me - MX_CONTEXT_ME1]);
    l.source = code;
    l.flag = flag != 0 ? LAYER_ON : 0;
  }
  mxSetLayerContext(me);
}

void mxKeySetOutputTapA(int point, int mask) {
  MX_NOTE_CALL(point, static_cast<float>(mask));
  KeyMixer& m = mixer();
  m.tapA = tapCode(point, true);
  for (int k = 0; k < N_KEYS; ++k) levelSlot(m, k).tapA = (mask >> k) & 1;
}

void mxKeySetOutputTapB(int point, int mask) {
  MX_NOTE_CALL(point, static_cast<float>(mask));
  KeyMixer& m = mixer();
  m.tapB = tapCode(point, false);
  for (int k = 0; k < N_KEYS; ++k) levelSlot(m, k).tapB = (mask >> k) & 1;
}

void mxKeySetCleanTap(int point) {
  MX_NOTE_CALL(point);
  u32 code = point == MX_CLEAN_POINT ? CLEAN_POINT_CODE
             : isLayerPoint(point)  ? layerPointCode(point)
                                    : static_cast<u32>(keyIndex(point));
  layerSlot(mixer()).cleanTap = code;
}

void mxKeySetPreview(int key, int pvw) {
  MX_NOTE_CALL(key, static_cast<float>(pvw));
  MX_CHECK(pvw == 0 || pvw == 1);
  mixer().preview[keyIndex(key)] = static_cast<u32>(1 - pvw);
}

void mxKeySetTapFlag(int tap, int on) {
  MX_NOTE_CALL(tap, static_cast<float>(on));
  int flag = tap == MX_ME_OUT_2 ? 0 : tap == MX_TAP_FLAG_B ? 1 : tap == MX_TAP_FLAG_LAYER ? 2 : -1;
  mixer().tapFlag[flag < 0 ? 0 : flag] = on != 0 ? 1 : 0;
  if (flag < 0) MX_FAIL("NeverReachHere");
}

void mxChromaKeySetSampleArea(int x, int y, int width, int height) {
  MX_NOTE_CALL(0, static_cast<float>(x), static_cast<float>(y), static_cast<float>(width), static_cast<float>(height));
  if (width < 4) {
    x -= (4 - width) / 2;
    if (x < 0) x = 0;
    width = 4;
  }
  if (height < 2) {
    y -= (2 - height) / 2;
    height = 2;
  }
  s32* s = mixer().sample;
  s[0] = x, s[1] = y, s[2] = width, s[3] = height;
}

void mxKeySetDelayed(int key, int on) { mixer().key[keyIndex(key)].delayed = on != 0 ? 1 : 0; }

// ---- keyer parameters ----

void mxKeySetLevel(int target, float level) {
  MX_NOTE_CALL(target, level);
  bool isKey = isKeyId(target);
  bool isDsk = isDskId(target);
  MX_CHECK(isKey || isDsk);
  if (level < -0.5f) return;
  u32 v = truncClamp(level * 1024.5f, LEVEL_MAX);
  if (isDsk) {
    mxDskMixer().level[dskIndex(target)] = v;
  } else {
    int k = keyIndex(target);
    levelSlot(mixer(), k).level = v;
  }
}

void mxKeySetClipGain(int target, int flags, float clip, float gain, float gain2, float density) {
  MX_NOTE_CALL(target, static_cast<float>(flags), clip, gain, gain2, density);
  KeyBlock& b = keyerBlock(target);
  b.mode = static_cast<u32>(flags);
  float whole = std::trunc(clip);
  b.clip = whole > -65536.0f && whole < 65536.0f ? -static_cast<s32>(whole) : 0;
  b.gain = truncClamp(gain * 256.0f, 65535);
  b.gain2 = truncClamp(gain2 * 256.0f, 65535);
  b.density = truncClamp(density * 1024.0f, LEVEL_MAX);
  // Bit 2 with full density asks the key's filter to pass the key through.
  if (isKeyId(target)) {
    mxFilterSetKeyFlagA(MX_KEY1 + 2 * keyIndex(target), (flags & 4) != 0 && density >= 0.99999f ? 1 : 0);
  }
}

void mxKeySetEdge(int target, int type, int width, int dir, float level) {
  MX_NOTE_CALL(target, static_cast<float>(type), static_cast<float>(width), static_cast<float>(dir), level);
  bool isKey = isKeyId(target);
  bool isDsk = isDskId(target);
  MX_CHECK(isKey || isDsk);
  MX_CHECK(0 <= width && width <= 4);
  MX_CHECK(0 <= dir && dir < 360);
  if (type < MX_KEY_EDGE_1 || type > MX_KEY_EDGE_NONE) MX_FAIL("NeverReachHere");
  KeyBlock& b = block(target);
  if (type == MX_KEY_EDGE_NONE) {
    b.edgeType = 0;
    b.edgeControl = 0;
  } else {
    const EdgeCode& e = EDGE_CODES[type - MX_KEY_EDGE_1][dir / 45];
    b.edgeType = e.type;
    b.edgeControl = e.factor * static_cast<u32>(width);
  }
  b.edgeLevel = truncClamp(level * 1024.5f, LEVEL_MAX);
}

void mxKeySetEdgeFill(int target, int source) {
  MX_NOTE_CALL(target, static_cast<float>(source));
  bool isKey = isKeyId(target);
  bool isDsk = isDskId(target);
  MX_CHECK(isKey || isDsk);
  u32 fill;
  if (isKey) {
    if (source == MX_UTIL2) {
      fill = 3;
    } else if (source == MX_UTIL1) {
      fill = 1;
    } else if (MX_COLOR_KEY1_SECOND <= source && source <= MX_COLOR_KEY4_SECOND) {
      fill = 0;
    } else {
      MX_FAIL("NeverReachHere");
      return;
    }
  } else if (MX_COLOR_DSK1_SECOND <= source && source <= MX_COLOR_DSK4_SECOND) {
    fill = 0;
  } else {
    mxSetDskFillSource(MX_DSK1 + 2 * dskIndex(target), source);
    fill = 1;
  }
  block(target).edgeFill = fill;
}

void mxKeySetMask(int target, float left, float top, float width, float height, int enable, int invert) {
  MX_NOTE_CALL(target, left, top, width, height, static_cast<float>(enable), static_cast<float>(invert));
  KeyBlock& b = keyerBlock(target);
  const float w = static_cast<float>(mxFrameWidth());
  s32 l = toPixel(left * w);
  s32 r = toPixel((left + width) * w);
  bool empty = l == 0 && r == 0;
  b.box[0] = empty ? 0 : l - 1;
  b.box[1] = toLine(top);
  b.box[2] = empty ? 0 : r - 1;
  b.box[3] = toLine(top + height);
  b.maskEnable = enable != 0 ? 1 : 0;
  b.maskInvert = invert != 0 ? 1 : 0;
  if (isKeyId(target)) {
    bool full = left < 0.00001f && top < 0.00001f && width > 0.99999f && height > 0.99999f;
    mxFilterSetKeyFlagB(MX_KEY1 + 2 * keyIndex(target), full ? 1 : 0);
  }
}

void mxKeySetSoftMask(int target, float left, float top, float width, float height, float softness) {
  MX_NOTE_CALL(target, left, top, width, height, softness);
  MX_CHECK(MX_KEY1 <= target && target <= MX_KEY4);
  KeyBlock& b = block(target);
  const float w = static_cast<float>(mxFrameWidth());
  b.soft[0] = toPixel(left * w);
  b.soft[1] = toLine(top);
  b.soft[2] = toPixel((left + width) * w);
  b.soft[3] = toLine(top + height);
  b.softness = truncClamp(std::sqrt(softness) * 1023.0f + 0.5f, 1023);  // NaN (negative): 0
}

void mxKeySetOptionFlag(int target, int on) {
  MX_NOTE_CALL(target, static_cast<float>(on));
  keyerBlock(target).option = on != 0 ? 1 : 0;
}

void mxKeySetMatteColor(int target, int y, int cb, int cr) { keyerBlock(target).matteColor = packColor(y, cb, cr); }

void mxKeySetEdgeColor(int target, int y, int cb, int cr) { keyerBlock(target).edgeColor = packColor(y, cb, cr); }

void mxKeySetExtraColor(int channel, int y, int cb, int cr) {
  MX_CHECK(MX_KEY1 <= channel && channel <= MX_KEY4);
  block(channel).extraColor = packColor(y, cb, cr);
}

void mxKeySetFilterParameters(int target, float a, float b, float c, float d) {
  MX_CHECK(MX_KEY1 <= target && target <= MX_KEY4);
  float* f = block(target).filter;
  f[0] = a, f[1] = b, f[2] = c, f[3] = d;
}

int mxKeyParamsChanged(int context, int key) {
  MX_CHECK(MX_CONTEXT_ME1 <= context && context <= MX_CONTEXT_ME4B);
  const KeyBlock& b = state().blocks[keyIndex(key) + N_KEYS * (context - MX_CONTEXT_ME1)];
  u32 now[N_WATCHED];
  watched(b, now);
  for (int k = 0; k < N_WATCHED; ++k) {
    if (now[k] != b.latched[k]) return 1;
  }
  return 0;
}

// ---- tally ----

u32 mxGetTallyStatus(int target) {
  using namespace keyreg;
  if (target == MX_DSK_PGM1) return mxReadReg(DSK_TALLY_PGM1);
  if (target == MX_DSK_CLN1) return mxReadReg(DSK_TALLY_CLN1);
  if (target == MX_CONTEXT_ME1) return mxReadReg(MX_ME1_BASE + MIXER_A + TALLY_STATUS);
  if (target != MX_CONTEXT_ME2) return 0;
  if (!mxPairedFpga()) return mxReadReg(MX_ME2_BASE + MIXER_A + TALLY_STATUS);
  u32 r = mxReadReg(ME2_PAIRED_TALLY);
  return (r & 0xFFFF) | (r & 0xFF) << 16;
}

void mxSetTallyControl(int target, u32 value) {
  // Only the two hardware MEs have a tally control; the other contexts would reach another ME's.
  if (target == MX_DSK_PGM1) {
    mxWriteReg(keyreg::DSK_TALLY_CONTROL, value);
  } else if (target == MX_CONTEXT_ME1 || target == MX_CONTEXT_ME2) {
    mxWriteReg(mxMeBase(target - MX_CONTEXT_ME1) + keyreg::MIXER_A + keyreg::TALLY_CONTROL, value);
  }
}

// ---- writers ----

void mxKeyInit() { setBases(state()); }

void mxKeyWriteParams() {
  KeyState& s = state();
  for (int n = 0; n < N_KEYS * N_HW_CONTEXTS; ++n) {
    writeBlock(s.blocks[n]);
    chromaWriteBlock(n);
  }
  for (int n = DSK_BLOCK0; n < N_BLOCKS; ++n) writeBlock(s.blocks[n]);
}

void mxKeyUpdateMixer() {
  for (int c = 0; c < N_HW_CONTEXTS; ++c) writeMixer(state().mixers[c]);
  mxDskWriteStage();
}

void mxKeyLatchParams() {
  for (int n = 0; n < N_KEYS * N_HW_CONTEXTS; ++n) {
    KeyBlock& b = state().blocks[n];
    watched(b, b.latched);
  }
}

void mxKeyReset() {
  KeyState& s = state();
  s = KeyState{};
  chromaReset();
  setBases(s);
}
