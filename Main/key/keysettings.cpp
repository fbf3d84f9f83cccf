// Key hardware settings: the shared keyer writers and the key category's per-frame settings.
#include "Main/key/keysettings.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Driver/xpt/dskmix.h"
#include "Lib/Include/color.h"
#include "Lib/Include/log.h"
#include "Lib/Include/rules.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/io/io.h"
#include "Main/key/imageflags.h"
#include "Main/key/key.h"
#include "Main/system/system.h"

namespace libmx {
namespace {

constexpr float TEN_THOUSANDTHS = 10000.0f;
constexpr int GAIN_LINEAR_MAX = 1000;  // gain values above it follow the tangent curve
constexpr int EDGE_STEP_DEGREES = 45;

// The box of mask mode 1 by system format, as fractions of the frame around its centre, y upwards.
struct MaskBox {
  float left, right, top, bottom;
};
constexpr MaskBox FIXED_MASK[] = {
    {-0.36460f, 0.36460f, 0.48893f, -0.48987f}, {-0.35950f, 0.35950f, 0.48059f, -0.48154f},
    {-0.35950f, 0.35950f, 0.48059f, -0.48154f}, {-0.36460f, 0.36460f, 0.48893f, -0.48987f},
    {-0.36460f, 0.36460f, 0.48889f, -0.49042f}, {-0.35950f, 0.35950f, 0.48056f, -0.48209f},
    {-0.47951f, 0.47826f, 0.47757f, -0.47767f}, {-0.48186f, 0.48061f, 0.48273f, -0.48451f},
    {-0.36460f, 0.36460f, 0.48893f, -0.48987f}, {-0.35950f, 0.35950f, 0.48059f, -0.48154f},
    {-0.36460f, 0.36460f, 0.48893f, -0.48987f}, {-0.35950f, 0.35950f, 0.48059f, -0.48154f},
};

// Per rank 0..2 the target of the highest-numbered keyer holding it, else base + 2 x rank.
void rankHolders(const u8 rank[4], int base, int holder[3]) {
  for (int r = 0; r < 3; ++r) holder[r] = base + 2 * r;
  for (int k = 0; k < 4; ++k) {
    if (rank[k] < 3) holder[rank[k]] = base + 2 * k;
  }
}

int systemFormat() { return category::CategorySystem::instance().format(); }

void writeKeyBox(const KeyerFields& f, int target) {
  if (f.maskMode != 1 && f.maskMode != 2) {
    mxKeySetMask(target, 0.0f, 0.0f, 1.0f, 1.0f, 0, 0);
    return;
  }
  const int format = systemFormat();
  MaskBox b = f.maskMode == 2 ? MaskBox{f.maskBox[0] / TEN_THOUSANDTHS, f.maskBox[3] / TEN_THOUSANDTHS,
                                        f.maskBox[1] / TEN_THOUSANDTHS, f.maskBox[2] / TEN_THOUSANDTHS}
                              : FIXED_MASK[format < static_cast<int>(std::size(FIXED_MASK)) ? format : 0];
  if (b.left > b.right) std::swap(b.left, b.right);
  if (b.top < b.bottom) std::swap(b.top, b.bottom);
  mxKeySetMask(target, b.left + 0.5f, 0.5f - b.top, b.right - b.left, b.top - b.bottom, f.maskEnable,
               f.maskSense == 0 ? 1 : 0);
}

// Gain value 0..2000: linear up to 1000, then the tangent of 45 to 89.73 degrees; in code-value units.
float keyGain(int g) {
  g = std::min<int>(g, KeyAdjust::GAIN_MAX);
  const double v = g <= GAIN_LINEAR_MAX ? g / 1000.0
                                        : std::tan((45.0 + (g - GAIN_LINEAR_MAX) * 0.04473) * std::numbers::pi / 180.0);
  return static_cast<float>(v * 1024.0 / 876.0);
}

void writeKeyProcessing(const KeyerFields& f, int target) {
  const KeyStyle& s = *f.style;
  const KeyAdjust& a = *f.adjust;
  const int mode = std::min<int>(s.keyType, 3);  // 2 chroma key, 3 and above the fixed-level mode
  float clip = mode == 3 ? -1023.0f : 0.0f;
  float gain = 1.0f;
  if (mode <= 1) {
    clip = a.clip * 876.0f / 1000.0f + 64.0f;
    gain = keyGain(a.gain);
  }
  const float second = mode == 0 && s.secondLevel == 1 ? a.gain / 1000.0f : 0.0f;
  const int flags = (s.secondMode == 1 ? 2 : 0) | (a.modeFlag == 1 ? 1 : 0) | (mode == 3 ? 4 : 0);
  mxKeySetClipGain(target, flags, clip, gain, second, a.density / 1000.0f);
  mxKeySetOptionFlag(target, mode != 2 && s.option == 1 ? 1 : 0);
}

bool isDskTarget(int target) { return MX_DSK1 <= target && target <= MX_DSK4; }

// The edge fill source of a fill code, 0 for none.
int edgeFillSource(int target, int fill) {
  if (isDskTarget(target)) {
    const int d = (target - MX_DSK1) / 2;
    if (fill == 0) return MX_COLOR_DSK1_SECOND + d;
    if (fill == 3) return MX_CBGD_1;
    if (fill == 4) return MX_CBGD_2;
    if (5 <= fill && fill <= 8) return MX_STILL_1 + 2 * (fill - 5);
    if (9 <= fill && fill <= 12) return MX_CLIP_1 + 2 * (fill - 9);
    return 0;
  }
  if (fill == 0) return MX_COLOR_KEY1_SECOND + (target - MX_KEY1) / 2;
  if (fill == 1) return MX_UTIL1;
  if (fill == 2) return MX_UTIL2;
  return 0;
}

// One side of the soft window: start and size in fractions of the frame, cut to the frame.
void fitSpan(float& start, float& size) {
  if (start + size > 1.0f) size -= start + size - 1.0f;
  if (start < 0.0f) {
    size += start;
    start = 0.0f;
  }
}

}  // namespace

KeyerFields keyerFields(MxifKey& r, int me, int channel) {
  return {&r.style, &r.adjust, r.maskSet.mode, r.maskSet.sense, r.maskSet.enable, r.maskBox, MxifKey::TYPE_INDEX, &r, me, channel};
}
KeyerFields keyerFields(MxifDsk& r, int channel) {
  return {&r.style, &r.adjust, r.maskSet.mode, r.maskSet.sense, r.maskSet.enable, r.maskBox, MxifDsk::TYPE_INDEX, &r, 0, channel};
}
KeyerFields keyerFields(MxifUpStreamKey& r, int channel) {
  return {&r.style, &r.adjust, r.maskSet.mode, r.maskSet.sense, r.maskSet.enable, r.maskBox, MxifUpStreamKey::TYPE_INDEX, &r, 0, channel};
}

void setKeyMatteColor(int target, const s16 hsl[3], u16* ycc) {
  u16 c[3];
  colorToYCbCr(systemFormat(), hsl[0], hsl[1], hsl[2], &c[0], &c[1], &c[2]);
  mxSetColor(target, c[0], c[1], c[2]);
  if (ycc != nullptr) std::copy(c, c + 3, ycc);
}

void correctKeySource(const KeyerFields& f) {
  static constexpr rules::Rule KEY_SOURCE_OF_TYPE = {
      rules::Effect::MOVES, "key type 0 (style.keyType=0) takes no key source: style.keySource is set to 0"};
  KeyStyle& style = *f.style;
  if (style.keyType != 0 || style.keySource != 1) return;
  rules::note(KEY_SOURCE_OF_TYPE, f.type, f.record, &style.keySource, sizeof style.keySource);
  // The key type's presence bit stays set until the record's report goes out: a request took it.
  if ((style.mask & 1u) != 0) {
    rules::sent(f.type, f.record, &style.keyType, sizeof style.keyType);
  } else {
    rules::input(f.type, f.record, &style.keyType, sizeof style.keyType, f.me, f.channel);
  }
  style.keySource = 0;
  style.mask |= 1u << 3;
}

void writeKeyParams(const KeyerFields& f, int target) {
  correctKeySource(f);
  writeKeyBox(f, target);
  writeKeyProcessing(f, target);
}

void writeKeyEdgeIfChanged(const KeyEdge& edge, int target) {
  if (edge.mask != 0 || category::CategorySystem::instance().formatChanged() != 0) applyKeyEdge(edge, target);
}

void applyKeyEdge(const KeyEdge& edge, int target) {
  const bool drawn = 1 <= edge.type && edge.type <= 4;
  const int kind = drawn ? MX_KEY_EDGE_1 + edge.type - 1 : MX_KEY_EDGE_NONE;
  const int width = drawn ? std::min<int>(edge.width, KeyEdge::WIDTH_MAX) : 0;
  const int direction = std::min<int>(edge.direction, KeyEdge::DIRECTION_MAX) * EDGE_STEP_DEGREES;
  const float level = std::clamp((edge.level + 1) * 0.25f, 0.0f, 1.0f);
  mxKeySetEdge(target, kind, width, direction, level);
  const int fill = edgeFillSource(target, edge.fill);
  if (fill != 0) mxKeySetEdgeFill(target, fill);
}

void applyKeyMask(int target, const s16 window[4], int softness, int softOn) {
  float w = window[2] / TEN_THOUSANDTHS;
  float x0 = (window[0] + 5000) / TEN_THOUSANDTHS - w / 2;
  fitSpan(x0, w);
  float h = window[3] / TEN_THOUSANDTHS;
  float y0 = (5000 - window[1]) / TEN_THOUSANDTHS - h / 2;
  fitSpan(y0, h);
  mxKeySetSoftMask(target, x0, y0, w, h, softOn == 1 ? softness / 1000.0f : 0.0f);
}

void writeKeyPriority(const u8 rank[4]) {
  int holder[3];
  rankHolders(rank, MX_KEY1, holder);
  mxKeySetPriority(holder[0], holder[1], holder[2]);
}

void writeDskPriority(const u8 rank[4]) {
  int holder[3];
  rankHolders(rank, MX_DSK1, holder);
  mxDskSetPriority(holder[0], holder[1], holder[2]);
}

bool copyKeyGeometry(const MxifKey& s, MxifKey& t, int channel) {
  // Signs of position x, y and rotation x, y, z by mirror mode.
  static constexpr int SIGNS[4][5] = {{1, -1, 1, -1, -1}, {-1, 1, -1, 1, -1}, {-1, -1, -1, -1, -1}, {1, 1, 1, 1, 1}};
  if (s.mirrorMode >= std::size(SIGNS)) return false;
  const int* sign = SIGNS[s.mirrorMode];
  for (int i = 0; i < 2; ++i) t.dvePosition[i] = static_cast<s16>(sign[i] * s.dvePosition[i]);
  for (int i = 0; i < 3; ++i) t.dveRotation[i] = static_cast<s16>(sign[2 + i] * s.dveRotation[i]);
  if (s.mirrorMode == 3) t.dvePosition[2] = s.dvePosition[2];
  t.dveSize = fitKeySize(s.dveSize, channel);
  t.mask |= 1u << MxifKey::W0_DVE_POSITION | 1u << MxifKey::W0_DVE_SIZE | 1u << MxifKey::W0_DVE_ROTATION;
  return true;
}

}  // namespace libmx

namespace category {

void CategoryKey::update() {
  mxSetContext(MX_CONTEXT_ME1 + me);
  u8 rank[N_KEYS];
  for (int k = 0; k < N_KEYS; ++k) rank[k] = record(k).priority;
  libmx::writeKeyPriority(rank);
  auto& reg = CategoryRegistry::instance();
  auto* bus = reg.find<CategoryBus>(TYPE_BUS, me);
  const MxifSystem& sys = CategorySystem::instance().record(0);
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
  for (int k = 0; k < N_KEYS; ++k) {
    MxifKey& r = record(k);
    ParamView& v = views_[k];
    const int target = MX_KEY1 + 2 * k;
    if (bus != nullptr) bus->routeKeySources(r.style.keyType, r.style.keySource, k);

    const AutoTransition& t = faders.transition(AutoTransition::keySlot(me, k));
    const float p = t.flip < 0 ? 1.0f - t.positionA : t.positionA;
    const u8 reverse = t.flip < 0 ? 1 : 0;
    if (r.reverse != reverse) {
      r.reverse = reverse;
      r.mask |= 1u << MxifKey::W0_REVERSE;
    }

    const bool dve = r.dveTransOn == 1;
    if (dve && r.dveShapeOn == 1) {
      // The DVE border colour takes the place of the key parameters in this frame.
      libmx::setKeyMatteColor(MX_COLOR_KEY1_BORDER + k, r.dveBorderColor);
      libmx::correctKeySource(libmx::keyerFields(r, me, k));
    } else {
      libmx::setKeyMatteColor(MX_COLOR_KEY1_MATTE + k, r.matteColor, v.matte);
      libmx::setKeyMatteColor(MX_COLOR_KEY1_SECOND + k, r.edgeColor, v.edge);
      libmx::writeKeyParams(libmx::keyerFields(r, me, k), target);
      libmx::writeKeyEdgeIfChanged(r.edge, target);
    }
    libmx::setKeyMatteColor(MX_COLOR_KEY1_THIRD + k, r.thirdColor);
    libmx::applyKeyMask(target, r.window, r.softness, r.softOn);
    if (dve) {
      if (geometryChanged_[k] != 0) {
        // Cleared first: a follower that cannot be served is not tried again every frame.
        geometryChanged_[k] = 0;
        followGeometry(k);
      }
      loadKeyDveSettings(keyDve_[k], r, sys, insetFlag(bus, sys.format, k), p);
      applyKeyDve(keyDve_[k], p);
    } else {
      KeyTransition& kt = transitions_[k];
      kt.load(r, sys, p);
      if (k < 2) {
        kt.imageOnA = imageFlag(me, k == 0 ? ImageFlags::KEY1_ON : ImageFlags::KEY2_ON) == 1 ? 1 : 0;
        kt.imageOnB = 0;
      }
      kt.apply(me, p, -1.0f);
    }
    serveOnAirRequest(faders, k);
  }
}

u8 CategoryKey::insetFlag(CategoryBus* bus, int format, int k) {
  if (bus == nullptr || !(format == 0 || format == 1 || format == 8 || format == 9)) return 0;
  auto* inputs = CategoryRegistry::instance().find<CategoryInputVideo>(TYPE_INPUT_VIDEO, 0);
  return inputs != nullptr && inputs->isChannelMode3(bus->busSource(2 * (k + 1))) == 1 ? 1 : 0;
}

void CategoryKey::serveOnAirRequest(CategoryFaderEvent& faders, int k) {
  static constexpr rules::Rule SAME_AS_ON_AIR_BYTE = {
      rules::Effect::REFUSES,
      "an onAir equal to the key's on-air byte changes nothing: a key in transition runs on to the end its "
      "reverse byte names, off air for 1 (the on-air byte stays 1 until it ends), on air for 0"};
  const s32 want = onAirRequest_[k];
  onAirRequest_[k] = -1;
  const MxifKey& r = record(k);
  if (!libmx::onAirRequestChanges(r, want, SAME_AS_ON_AIR_BYTE)) return;
  for (int j = 0; j < N_KEYS; ++j) {
    const MxifKey& o = record(j);
    if (j != k && !(r.group != 0 && o.group != 0 && o.onAir == r.onAir)) continue;
    const int slot = AutoTransition::keySlot(me, j);
    faders.transition(slot).stop();
    faders.fader(slot).ownerFader = TransitionFader::NO_OWNER;
  }
}

void CategoryKey::followGeometry(int k) {
  bool visited[N_KEYS] = {};
  visited[k] = true;
  int s = k;
  // The follower of this key, then at most two more hops.
  for (int hop = 0; hop < 3; ++hop) {
    const int n = record(s).follower;
    if (n < 1 || n > N_KEYS || visited[n - 1]) return;
    const int t = n - 1;
    if (!libmx::copyKeyGeometry(record(s), record(t), t)) {
      MX_LOG(libmx::ERR, "key follower: mirror mode %d of ME %d key %d unknown", record(s).mirrorMode, me, s + 1);
      return;
    }
    dirty[t] = 1;
    visited[t] = true;
    s = t;
  }
}

}  // namespace category
