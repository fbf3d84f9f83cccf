#include "Main/transition/updater.h"

#include <algorithm>
#include <cstring>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Driver/key/key.h"
#include "Driver/transition/transition.h"
#include "Lib/Include/log.h"
#include "Main/tally/tally.h"
#include "Main/framework/bp.h"
#include "Main/system/system.h"

namespace {

constexpr float END_LOW = 0.0001f;
constexpr float END_HIGH = 0.9999f;
bool between(float p) { return END_LOW < p && p < END_HIGH; }

float wrapPhase(float phase) {
  if (phase > 1.0f) return phase - 1.0f;
  if (phase < 0.0f) return phase + 1.0f;
  return phase;
}

}  // namespace

// Formats 0..3 and 8..11 differ only in the area rows 108..168, where 0, 3, 8, 10 form one group
// and 1, 2, 9, 11 the other.
const float FormatGeometry[16 * N_SYSTEM_FORMATS] = {
    // 0: DVE scale of border and softness
    128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128, 128,
    // 12: border divisor of wipes
    700, 700, 700, 700, 700, 700, 500, 500, 700, 700, 700, 700,
    // 24: lines
    1080, 1080, 1080, 1080, 720, 720, 488, 576, 1080, 1080, 1080, 1080,
    // 36: full window, left edge
    -0.49898165f, -0.49898165f, -0.49898165f, -0.49898165f, -0.49766f, -0.49766f,
    -0.49756944f, -0.49713945f, -0.49898165f, -0.49898165f, -0.49898165f, -0.49898165f,
    // 48: full window, right edge
    0.49851167f, 0.49851167f, 0.49851167f, 0.49851167f, 0.496955f, 0.496955f,
    0.49631944f, 0.49588946f, 0.49851167f, 0.49851167f, 0.49851167f, 0.49851167f,
    // 60: full window, top edge
    0.4972613f, 0.4972613f, 0.4972613f, 0.4972613f, 0.49444443f, 0.49444443f,
    0.49399644f, 0.49488556f, 0.4972613f, 0.4972613f, 0.4972613f, 0.4972613f,
    // 72: full window, bottom edge
    -0.4982063f, -0.4982063f, -0.4982063f, -0.4982063f, -0.49597445f, -0.49597445f,
    -0.49410143f, -0.49666557f, -0.4982063f, -0.4982063f, -0.4982063f, -0.4982063f,
    // 84: width in pixels
    1920, 1920, 1920, 1920, 1280, 1280, 720, 720, 1920, 1920, 1920, 1920,
    // 96: height in lines
    1080, 1080, 1080, 1080, 720, 720, 487, 576, 1080, 1080, 1080, 1080,
    // 108: area 1, left edge
    -0.48960668f, -0.48023167f, -0.48023167f, -0.48960668f, -0.49062875f, -0.4804725f,
    -0.47951388f, -0.48186168f, -0.48960668f, -0.48023167f, -0.48960668f, -0.48023167f,
    // 120: area 1, right edge
    0.48913667f, 0.47976166f, 0.47976166f, 0.48913667f, 0.48992375f, 0.4797675f,
    0.47826388f, 0.48061165f, 0.48913667f, 0.47976166f, 0.48913667f, 0.47976166f,
    // 132: areas 1 to 3, bottom edge
    -0.48987296f, -0.48153964f, -0.48153964f, -0.48987296f, -0.49041888f, -0.48208556f,
    -0.47767434f, -0.48451278f, -0.48987296f, -0.48153964f, -0.48987296f, -0.48153964f,
    // 144: areas 1 to 3, top edge
    0.48892796f, 0.48059464f, 0.48059464f, 0.48892796f, 0.4888889f, 0.48055556f,
    0.47756934f, 0.48273277f, 0.48892796f, 0.48059464f, 0.48892796f, 0.48059464f,
    // 156: areas 2 and 3, left edge
    -0.3646f, -0.3595f, -0.3595f, -0.3646f, -0.3646f, -0.3595f,
    -0.47951388f, -0.48186168f, -0.3646f, -0.3595f, -0.3646f, -0.3595f,
    // 168: areas 2 and 3, right edge
    0.3646f, 0.3595f, 0.3595f, 0.3646f, 0.3646f, 0.3595f,
    0.47826388f, 0.48061165f, 0.3646f, 0.3595f, 0.3646f, 0.3595f,
    // 180: pixel aspect factor of the DVE kinds
    1, 1, 1, 1, 1, 1, 1.125f, 0.9375f, 1, 1, 1, 1,
};

float formatGeometry(int row, u32 format) {
  return FormatGeometry[row + (format < N_SYSTEM_FORMATS ? static_cast<int>(format) : 0)];
}

// ---- loading ----------------------------------------------------------------------------------------

void CommonSetting::loadCommon(const MxifSystem& sys, u8 latencyOption) {
  format = sys.format;
  systemMode = sys.mode;
  latency = latencyOption <= 1 ? 1u - latencyOption : 0u;
  aspectScale = libmx::sdAspectScale(sys.format, sys.sdScale);
}

int TransitionUpdater::target() const { return isBkgd != 0 ? MX_BKGD : MX_KEY1 + 2 * static_cast<int>(channel); }

// Edges from the picture centre (x to the right, y upward) into window coordinates, ordered.
void TransitionUpdater::setWindowFromEdges(float left, float right, float top, float bottom) {
  const float x0 = left + 0.5f, x1 = right + 0.5f, y0 = 0.5f - top, y1 = 0.5f - bottom;
  window[0] = std::min(x0, x1);
  window[1] = std::max(x0, x1);
  window[2] = std::min(y0, y1);
  window[3] = std::max(y0, y1);
}

// The centre of a kind-1 pattern travels from its set place to the picture centre as it grows.
void TransitionUpdater::loadMovingCentre(float x, float y, float p) {
  const float dx = x / 10000.0f, dy = y / 10000.0f;
  const float t = reverse != 0 ? 1.0f - p : p;
  startCentre[0] = 0.5f + dx;
  startCentre[1] = 0.5f - dy;
  const float h = formatGeometry(ROW_HEIGHT, format);
  const float k = isBkgd != 0 && areaMode == 3 ? 1.389f : 1.0f;
  const float d = (h * k + 2.0f * soft) / h * t;
  if (d <= 1.0f) {
    position[0] = 0.5f + dx * (1.0f - d);
    position[1] = 0.5f - dy * (1.0f - d);
  } else {
    position[0] = position[1] = 0.5f;
  }
}

void TransitionUpdater::loadModulation(const MxifBkgd::Modulation& x, const MxifBkgd::Modulation& y, float p) {
  const MxifBkgd::Modulation* groups[2] = {&x, &y};
  for (int d = 0; d < 2; ++d) {
    const MxifBkgd::Modulation& g = *groups[d];
    // Scaled in double precision: a speed of 40 steps the phase by 0.1f exactly.
    modFreq[d] = static_cast<float>(g.frequency * 0.01 * 0.5);
    modSpeed[d] = modFreq[d] != 0.0f ? static_cast<float>(g.phaseSpeed * 0.02) : 0.0f;
    modPhase[d] = modSpeed[d] == 0.0f ? 0.0f : wrapPhase(modPhase[d] + modSpeed[d] * 0.125f);
    modAmp[d] = between(p) ? static_cast<float>(g.amplitude * 0.0001 * 0.25) : 0.0f;
    modPattern[d] = g.waveform != 0 ? MX_TRANS_MOD_DELTA : MX_TRANS_MOD_SINE;
  }
}

void BkgdTransition::load(const MxifBkgd& rec, const MxifSystem& sys, float p, unsigned mode_, u8 reverse_,
                          unsigned abSelect_, u8 presetOk) {
  channel = 0;
  isKey = 0;
  isBkgd = 1;
  bkgdInNext = rec.nextBkgd == 1;
  loadCommon(sys, sys.bkgdLatency);

  abSelect = abSelect_;
  mode = mode_;
  reverse = reverse_ != 0;
  toggleMode = rec.nrMode == 1;
  nam = rec.nam == 1;
  effect = rec.patternNumber;
  kind = rec.patternKind;
  if (mode == 1) {
    static constexpr u32 REVERSED_TILTS = 0xF0F;  // kind 3, effects 0..3 and 8..11 run the other way
    if (kind == 3 && effect < 12 && (REVERSED_TILTS >> effect & 1) != 0) reverse = 1 - reverse;
    if (kind >= 1 && kind <= 3) aspectScale *= formatGeometry(ROW_PIXEL_ASPECT, format);
  }
  aspectFlag = sys.sdScale == 1;
  busOption = rec.option145;

  const bool freePattern = (kind == 0 && effect == 23) || (kind == 3 && (effect == 22 || effect == 23));
  if (mode == 1) loadEdges(rec);
  loadWindow(rec, p, presetOk);
  if (mode == 1) {
    const float x = rec.center[0], y = rec.center[1];
    if (kind == 0 && effect == 23) {
      position[0] = rec.patFree1.positionX * 0.0001f;
      position[1] = -rec.patFree1.positionY * 0.0001f;
    } else if (kind == 0) {
      position[0] = x * 0.0001f;
      position[1] = -y * 0.0001f;
    } else if (kind == 1) {
      loadMovingCentre(x, y, p);
      position2[0] = 0.5f + rec.point2[0] * 0.0001f;
      position2[1] = 0.5f - rec.point2[1] * 0.0001f;
    } else if (kind == 3 && (effect == 22 || effect == 23)) {
      startCentre[0] = 0.5f + rec.patFree1.positionX * 0.0001f;
      startCentre[1] = 0.5f - rec.patFree1.positionY * 0.0001f;
      position2[0] = 0.5f + rec.patFree2.positionX * 0.0001f;
      position2[1] = 0.5f - rec.patFree2.positionY * 0.0001f;
    }
  }
  if (freePattern) {
    const MxifBkgd::PatFree& a = rec.patFree1;
    const MxifBkgd::PatFree& b = rec.patFree2;
    spin[0] = a.rotation1 * 0.001f, spin[1] = a.rotation2 * 0.001f, spin[2] = a.rotation3 * 0.001f;
    spin2[0] = b.rotation1 * 0.001f, spin2[1] = b.rotation2 * 0.001f, spin2[2] = b.rotation3 * 0.001f;
    freeFlag = rec.option144 != 0;
    size = static_cast<float>(a.size) * 0.0001f;
    size2 = static_cast<float>(b.size) * 0.0001f;
  } else {
    spin[0] = spin2[0] = rec.spin.value1 * 0.001f;
    spin[1] = spin2[1] = rec.spin.value2 * 0.001f;
    spin[2] = spin2[2] = rec.spin.value3 * 0.001f;
    size = rec.size1 * 0.0001f;
    size2 = rec.size2 * 0.0001f;
  }

  static_assert(sizeof modify == sizeof rec.modify);
  std::memcpy(modify, &rec.modify, sizeof modify);
  patternAspect = rec.option152 * 0.0002f;
  rotationMode = rec.option150;
  aspectFollows = rec.option148;
  shiftX = between(p) ? rec.link.selectA : 0;
  shiftY = between(p) ? rec.link.selectB : 0;
  loadModulation(rec.modulationX, rec.modulationY, p);
}

void BkgdTransition::loadEdges(const MxifBkgd& rec) {
  const float b = rec.borderWidth, s = rec.softness;
  const bool borderOn = rec.borderOn == 1;
  const float row0 = formatGeometry(ROW_DVE_SCALE, format);
  if (kind == 0 || (kind == 1 && effect >= 11 && effect <= 14)) {
    float minimum = 0.0f;
    if (kind == 0) minimum = (format == 6 || format == 7) ? 0.004f : systemMode == 2 ? 0.001f : 0.002f;
    soft = minimum + (s >= 1.0f ? s / 10000.0f : 0.0f);
    if (borderOn) {
      halfSoft = 0.0f;
      border = b / 10.0f / formatGeometry(ROW_BORDER_DIVISOR, format) + 2.0f * soft;
    } else {
      border = 0.0f;
      halfSoft = soft * 0.5f;
    }
    return;
  }
  if (kind == 1 || kind == 2) {
    const float g = aspectScale * row0;
    if (borderOn) {
      border = b * 0.001f * g;
      soft = s * 0.001f * border;
    } else {
      border = 0.0f;
      soft = s * 0.001f * g;
    }
    soft += 2.0f;
    if (kind == 1 && effect >= 20 && effect <= 23) soft = 2.0f + (soft - 2.0f) * 0.5f;
  } else if (kind == 3) {
    if (borderOn) {
      border = b / 1000.0f * row0;
      soft = s / 1000.0f * border;
    } else {
      border = 0.0f;
      soft = s / 1000.0f * row0;
    }
    if (effect == 22 || effect == 23) {
      soft = 2.0f + soft * 0.5f;
    } else if (effect != 0 && effect != 2 && effect != 6 && effect != 8) {
      soft += 2.0f;
    }
  } else {
    return;
  }
  edgeSpan = 2.0f * border + soft;
}

void BkgdTransition::loadWindow(const MxifBkgd& rec, float p, u8 presetOk) {
  const bool freeBoxes = kind == 3 && (effect == 22 || effect == 23);
  areaMode = rec.option146;
  if (freeBoxes) {
    areaMode = 4;
  } else if (rec.option146 == 4 &&
             !(kind == 1 && (effect == 10 || effect == 15 || (effect >= 20 && effect <= 23)))) {
    areaMode = 0;
  }
  holdAtZero = p <= END_LOW && rec.nrMode == 1;
  if (holdAtZero != 0) {
    areaMode = 0;
    setWindowFromEdges(-0.6f, 0.6f, 0.6f, -0.6f);
    std::copy_n(window, 4, window2);
    return;
  }

  const float w = formatGeometry(ROW_WIDTH, format), h = formatGeometry(ROW_HEIGHT, format);
  // A box in 1/10000 of the picture from its centre, with an inset of 4 pixels and 4 lines.
  auto box = [&](float l, float r, float d, float u, float* out) {
    const float x0 = 0.5f + 4.0f / w + l / 10000.0f, x1 = 0.5f - 4.0f / w + r / 10000.0f;
    const float y0 = 0.5f + 4.0f / h - u / 10000.0f, y1 = 0.5f - 4.0f / h - d / 10000.0f;
    out[0] = std::min(x0, x1), out[1] = std::max(x0, x1);
    out[2] = std::min(y0, y1), out[3] = std::max(y0, y1);
  };
  // Formats 6 and 7 have no 4:3 centre area: their area modes 2 and 3 choose the full window.
  const int choice = (format == 6 || format == 7) && (areaMode == 2 || areaMode == 3) ? 0 : areaMode;
  int left = ROW_FULL_LEFT, right = ROW_FULL_RIGHT, top = ROW_FULL_TOP, bottom = ROW_FULL_BOTTOM;
  switch (choice) {
    case 1:
      left = ROW_AREA1_LEFT, right = ROW_AREA1_RIGHT, top = ROW_AREA_TOP, bottom = ROW_AREA_BOTTOM;
      break;
    case 2:
    case 3:
      left = ROW_AREA2_LEFT, right = ROW_AREA2_RIGHT, top = ROW_AREA_TOP, bottom = ROW_AREA_BOTTOM;
      if (rec.presetCheck == 1 && presetOk != 0) {
        left = ROW_AREA1_LEFT, right = ROW_AREA1_RIGHT;
        areaMode = 1;
      }
      break;
    case 4:
      if (freeBoxes) {
        const s16* a = rec.patFree1.edges;  // left, right, bottom, top
        const s16* b = rec.patFree2.edges;
        box(a[0], a[1], a[2], a[3], window);
        box(b[0], b[1], b[2], b[3], window2);
        const s16 boxA[4] = {a[0], a[1], static_cast<s16>(-a[2]), static_cast<s16>(-a[3])};
        const s16 boxB[4] = {b[0], b[1], static_cast<s16>(-b[2]), static_cast<s16>(-b[3])};
        std::copy_n(boxA, 4, userBox);
        std::copy_n(boxB, 4, userBox2);
        return;
      } else {
        const s16* e = rec.edges;  // left, top, bottom, right
        box(e[0], e[3], e[2], e[1], window);
        const s16 boxA[4] = {e[0], e[3], static_cast<s16>(-e[2]), static_cast<s16>(-e[1])};
        std::copy_n(boxA, 4, userBox);
        std::copy_n(boxA, 4, userBox2);
        std::copy_n(window, 4, window2);
        return;
      }
    default:
      break;
  }
  setWindowFromEdges(formatGeometry(left, format), formatGeometry(right, format), formatGeometry(top, format),
                     formatGeometry(bottom, format));
  std::copy_n(window, 4, window2);
}

void KeyTransition::load(const MxifKey& rec, const MxifSystem& sys, float p) {
  isKey = 1;
  channel = rec.channel;
  isBkgd = 0;
  loadCommon(sys, sys.keyLatency);

  // Settings A (transIn, effectA) and B (transOut, effectB).
  const bool reversed = rec.reverse != 0;
  const u8* pair = rec.effectA;
  if (rec.inOutLink == 1) {
    mode = rec.transIn.mode;
    if (rec.effectBoth != 1 && reversed) pair = rec.effectB;
  } else if (!reversed) {
    mode = rec.transIn.mode;
  } else {
    mode = rec.transOut.mode;
    if (rec.effectBoth != 1) pair = rec.effectB;
  }
  effect = pair[0];
  kind = pair[1];
  if (mode == 1 && kind != 0) aspectScale *= formatGeometry(ROW_PIXEL_ASPECT, format);
  aspectFlag = sys.sdScale == 1;
  border = soft = edgeSpan = 0.0f;

  areaMode = 0;
  const bool pointZoom = kind == 1 && effect == 16;
  if (p >= 1.0f && !pointZoom) {
    setWindowFromEdges(-0.6f, 0.6f, 0.6f, -0.6f);
  } else {
    setWindowFromEdges(formatGeometry(ROW_FULL_LEFT, format), formatGeometry(ROW_FULL_RIGHT, format),
                       formatGeometry(ROW_FULL_TOP, format), formatGeometry(ROW_FULL_BOTTOM, format));
  }

  if (mode == 1) {
    float x = 0.0f, y = 0.0f;
    if (channel <= 1) {
      const s16* xy = rec.travel12Both != 1 && reversed ? rec.travel12Rev : rec.travel12;
      x = xy[0], y = xy[1];
    } else if (channel <= 3) {
      const s16* xy = rec.travel34Both != 1 && reversed ? rec.travel34Rev : rec.travel34;
      x = xy[0], y = xy[1];
    }
    if (kind == 0) {
      position[0] = x / 10000.0f;
      position[1] = -y / 10000.0f;
    } else if (pointZoom) {
      size = static_cast<float>(rec.effectSize) / 10000.0f;
      position[0] = 0.5f + rec.effectParams[0] / 10000.0f;
      position[1] = 0.5f - rec.effectParams[1] / 10000.0f;
      keyEffectValue = rec.effectParams[2];
    } else if (kind == 1) {
      loadMovingCentre(x, y, p);
    }
  }

  const s16* angles = reversed && rec.spinBoth != 1 ? rec.spinRev : rec.spin;
  for (int i = 0; i < 3; ++i) spin[i] = angles[i] * 0.1f;
  shiftX = between(p) ? rec.shift.selectA : 0;
  shiftY = between(p) ? rec.shift.selectB : 0;
  loadModulation(rec.modulationX, rec.modulationY, p);
}

// ---- applying ---------------------------------------------------------------------------------------

void TransitionUpdater::apply(int me, float p, float q) {
  const int t = target();
  if (isKey != 0) mxFilterSetKeyDveFlag(t, 0);

  if (isBkgd != 0 && latency == 0 && holdAtZero == 0 && mode == 1 && kind != 0 && p < END_LOW) {
    if (previousPosition > END_LOW) {
      pendingFrames = 2;
    } else if (pendingFrames >= 1) {
      --pendingFrames;
    }
  } else {
    pendingFrames = 0;
  }
  previousPosition = p;

  // Keys 3 and 4 have no DVE: a DVE kind (which only an unchecked record can bring) mixes.
  const bool dveKind = kind >= 1 && kind <= 3;
  if (isKey != 0 && channel >= 2 && mode == 1 && dveKind) {
    if (refusedKind != kind) {
      MX_LOG(libmx::ERR, "key %u has no DVE: transition kind %u mixes", channel + 1, kind);
      refusedKind = kind;
    }
    applyMix(me, p, q);
    return;
  }
  refusedKind = 0;

  if (mode == 0 || (p < END_LOW && holdAtZero == 0 && pendingFrames == 0)) {
    applyMix(me, p, q);
    return;
  }
  if (mode != 1 || endCheckFinishes(p)) return;
  switch (kind) {
    case 0:
      applyWipe(p);
      break;
    case 1:
      KeyTransition::applyEffect(*this, p);
      break;
    case 2:
      BkgdTransition::applyEffect(*this, p);
      break;
    case 3:
      applyDveGeometry(p);
      break;
    default:
      break;
  }
}

// At the ends of a DVE transition the picture is drawn whole or not at all.
bool TransitionUpdater::endCheckFinishes(float p) {
  if (between(p) || kind == 0 || kind > 3 || (kind == 3 && effect != 22 && effect != 23)) return false;
  window[0] = window[2] = -0.5f;
  window[1] = window[3] = 1.5f;
  applyZoomFromTop(reverse == 1 ? 1.0f - p : p);
  return true;
}

void TransitionUpdater::applyMix(int me, float p, float q) {
  const int t = target();
  resetForMix();
  int type = MX_TRANS_MIX;
  if (nam != 0) {
    const bool running = q < 0.0f ? (END_LOW <= p && p <= END_HIGH)
                                  : !((p < END_LOW && q > END_HIGH) || (p > END_HIGH && q < END_LOW));
    if (running) {
      const MxifBkgd* live = category::CategoryRegistry::instance().record<MxifBkgd>(me);
      const int namCmix = live != nullptr ? live->namCmix : -1;
      type = namCmix == 0 ? MX_TRANS_MIX + 1 : namCmix == 1 ? MX_TRANS_MIX + 2 : -1;
    } else {
      nam = 0;
    }
  }
  if (type >= 0) mxTransSetType(t, type, 0.0f, 0.0f);

  if (isKey != 0) {
    mxKeySetLevel(t, 1.0f);
    mxTransSetKeyPosition(t, p, 0);
    mxKeySetPreview(t, 0);
    return;
  }
  if (abSelect == 1) {
    mxTransSetBkgdPosition(p, 0, q);
  } else {
    mxTransSetBkgdPosition(1.0f - p, 0, q < 0.0f ? -1.0f : 1.0f - q);
  }
  updateBkgd(static_cast<int>(abSelect));
}

// Also the start of every wipe frame. An image effect routes the layer through the DVE with one
// frame of latency even in a mix.
void TransitionUpdater::resetForMix() {
  const int t = target();
  mxFilterSetParameters(t, 0.0f, 0.0f, 1.0f, 1.0f);
  mxDveReset(t);
  if (isBkgd != 0) mxDveSetBkgdBuses(MX_BKGD, 0, 1, 0);
  const int e = latency == 1 || imageOnA != 0 || imageOnB != 0 ? 1 : 0;
  mxTransSetLatency(t, e);
  mxDveSetEnable(t, 0, e);
}

void TransitionUpdater::applyEffectFrame(float /*p*/, float m, int type) {
  const int t = target();
  mxTransSetLatency(t, 1);
  mxTransSetType(t, type, border, soft);
  mxTransSetPatternPosition(t, position[0], position[1]);
  mxTransSetPatternSize(t, 1.0f, 1.0f, 0, 0);
  applyModulation(modulationAllowed());
  if (isKey != 0) {
    mxDveSetEnable(t, 1, 0);
    mxKeySetLevel(t, 1.0f);
    mxTransSetKeyPosition(t, m, 0);
    mxKeySetPreview(t, 0);
    return;
  }
  int a = 0, b = 0;
  busFlags(a, b);
  mxDveSetBkgdBuses(MX_BKGD, a, b, busOption);
  mxDveSetEnable(MX_BKGD, 1, latency == 1 || imageOnA != 0 || imageOnB != 0 ? 1 : 0);
  mxTransSetBkgdPosition(m, 0, -1.0f);
  updateBkgd(static_cast<int>(abSelect));
}

void TransitionUpdater::applyModulation(bool on) {
  const int t = target();
  const int dirs[2] = {MX_TRANS_MOD_X, MX_TRANS_MOD_Y};
  for (int d = 0; d < 2; ++d) {
    if (on) {
      mxTransSetModulation(t, dirs[d], modAmp[d], modFreq[d], modPhase[d]);
    } else {
      mxTransSetModulation(t, dirs[d], 0.0f, 0.0f, 0.0f);
    }
  }
  for (int d = 0; d < 2; ++d) mxTransSetModulationPattern(t, dirs[d], static_cast<int>(modPattern[d]));
}

bool TransitionUpdater::modulationAllowed() const {
  if (kind == 0) return effect <= 14 || effect == 16;
  return kind == 1 && effect >= 10 && effect <= 14;
}

void TransitionUpdater::busFlags(int& a, int& b) const {
  const bool same = (reverse != 0) == (abSelect != 0);
  a = same ? 1 : 0;
  b = same ? 0 : 1;
}

void BkgdTransition::updateBkgd(int ab) {
  // A bus selector above 1 counts as bus B.
  const int b = ab >= 1 ? 1 : 0;
  mxTransSetBkgdPreview(bkgdInNext != 0 ? b : 1 - b);
}

// ---- the DVE picture at the ends of an effect -------------------------------------------------------

void TransitionUpdater::setEdgedWindow(int t, float x, float y, float width, float height) {
  const float s = soft, b = border, a = aspectScale;
  if (b > 0.00001f) {
    mxDveSetWindow(t, x - b, y - b / a, std::max(width + 2.0f * b - 0.1f, 0.0f),
                   std::max(height + 2.0f * b / a - 0.1f, 0.0f), s, b);
  } else if (width - s < 0.00001f) {
    mxDveSetWindow(t, x + s / 2.0f, y + s / 2.0f, 0.00001f, std::max(height - s, 0.0f), s, b);
  } else {
    mxDveSetWindow(t, x + s / 2.0f, y + s / (2.0f * a), width - s, std::max(height - s / a, 0.0f), s, b);
  }
}

// The zoom from the top edge is the picture that finishes every DVE transition at its ends.
void TransitionUpdater::applyZoomFromTop(float p) { KeyTransition::applyZoom(*this, 5, p); }

void TransitionUpdater::markRunningBkgdDve(float p) const {
  if (isBkgd != 0 && between(p)) markBkgdDveTransition();
}

void markBkgdDveTransition() {
  auto* tally = category::CategoryRegistry::instance().find<category::CategorySourceTally>(category::TYPE_SOURCE_TALLY, 0);
  if (tally != nullptr) tally->markBkgdDveTransition();
}
