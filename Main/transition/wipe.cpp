// The wipe: a pattern number (the effect of kind 0) becomes one of the transition block's pattern
// types, a wipe position from the transition position, border, softness and picture aspect, and
// the pattern's transform (size, aspect, rotation, centre).
#include <cmath>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Driver/transition/transition.h"
#include "Main/transition/pattern.h"
#include "Main/transition/updater.h"

namespace {

enum Family { NONE, W1, W2, W3, W4, FREE };
struct WipePattern {
  Family family;
  int type;
};
// Patterns 0..23; 15 and 17..22 (and any above 23) set nothing.
constexpr WipePattern PATTERNS[24] = {
    {W1, 5383}, {W1, 5384}, {W1, 5386}, {W1, 5385}, {W2, 5379}, {W2, 5381}, {W2, 5380}, {W2, 5382},
    {W3, 5388}, {W3, 5389}, {W3, 5387}, {W4, 5391}, {W4, 5392}, {W4, 5394}, {W4, 5393}, {NONE, 0},
    {W3, 5390}, {NONE, 0},  {NONE, 0},  {NONE, 0},  {NONE, 0},  {NONE, 0},  {NONE, 0},  {FREE, 5387},
};
constexpr int TYPE_W3_HALF_A = 5388, TYPE_W3_HALF_B = 5389, TYPE_FREE = 5387;

// By format and aspect flag (format + 12 x flag): the picture ratio and the diagonals of the
// four W4 types.
constexpr float RATIO[24] = {
    0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.75f,   0.75f,   0.5625f, 0.5625f, 0.5625f, 0.5625f,
    0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f, 0.5625f,
};
constexpr float D11[24] = {
    1.1474f, 1.1474f, 1.1474f, 1.1474f, 1.1474f, 1.1474f, 1.12f,  1.254f,  1.1474f, 1.1474f, 1.1474f, 1.1474f,
    1.1474f, 1.1474f, 1.1474f, 1.1474f, 1.1474f, 1.1474f, 1.153f, 1.155f,  1.1474f, 1.1474f, 1.1474f, 1.1474f,
};
constexpr float D12[24] = {
    1.12f, 1.12f, 1.12f, 1.12f, 1.12f, 1.12f, 1.112f, 1.246f, 1.12f, 1.12f, 1.12f, 1.12f,
    1.12f, 1.12f, 1.12f, 1.12f, 1.12f, 1.12f, 1.132f, 1.126f, 1.12f, 1.12f, 1.12f, 1.12f,
};
constexpr float D13[24] = {
    1.31f, 1.31f, 1.31f, 1.31f, 1.31f, 1.31f, 1.171f, 1.316f, 1.31f, 1.31f, 1.31f, 1.31f,
    1.31f, 1.31f, 1.31f, 1.31f, 1.31f, 1.31f, 1.317f, 1.318f, 1.31f, 1.31f, 1.31f, 1.31f,
};
constexpr float D14[24] = {
    1.045f, 1.045f, 1.045f, 1.045f, 1.045f, 1.045f, 0.92f,  1.048f, 1.045f, 1.045f, 1.045f, 1.045f,
    1.045f, 1.045f, 1.045f, 1.045f, 1.045f, 1.045f, 1.048f, 1.051f, 1.045f, 1.045f, 1.045f, 1.045f,
};
// Pixel factor by format.
constexpr float PIXEL[12] = {1, 1, 1, 1, 1, 1, 1.11f, 1, 1, 1, 1, 1};

// What every family uses: e half the softness, h e widened for format 6 at full aspect, px the
// pixel factor at full aspect, A the picture ratio.
struct WipeTerms {
  float e, h, px, a;
  int index;  // format + 12 x aspect flag
  u32 format;

  explicit WipeTerms(const TransitionUpdater& u) {
    format = u.format < 12 ? u.format : 0;
    index = static_cast<int>(format) + (u.aspectFlag != 0 ? 12 : 0);
    const bool full = u.aspectScale > 0.99f;
    e = u.halfSoft;
    h = full && format == 6 ? e * 1.25f : e;
    px = full ? PIXEL[format] : 1.0f;
    a = RATIO[index];
  }
};

}  // namespace

void TransitionUpdater::applyWipe(float p) {
  if (effect >= 24 || PATTERNS[effect].family == NONE) return;
  const int type = PATTERNS[effect].type;
  const WipeTerms c(*this);
  const bool bkgd = isBkgd != 0, rev = reverse != 0;
  float w = 0.0f;
  switch (PATTERNS[effect].family) {
    case W1: {
      const float s = soft + PIXEL[c.format] * border + c.h;
      const float r = p * (1.0f + s * (0.5f / c.a + 0.5f) + 0.002f);
      const float a2 = c.a * (aspectScale <= 0.99f && c.format == 6 ? 1.1f : 1.0f);
      w = !bkgd ? r : !rev ? r - s * 0.5f - c.h * 0.5f : 1.0f - r + s / a2 * 0.5f - c.e / a2 * 0.5f;
      setWipePatternGeometry(p, false);
      break;
    }
    case W2: {
      const float m = bkgd && border == 0.0f ? 2.0f : 1.0f;
      const float span = (c.px * border + m * soft) / c.a + 1.0f + 0.002f;
      const float base = p * span - (span - 1.0f) * 0.5f;
      w = !bkgd ? base : !rev ? base - m / c.a * c.e : 1.0f - base;
      setWipePatternGeometry(p, false);
      break;
    }
    case W4: {
      const float* table = type == 5391 ? D11 : type == 5392 ? D12 : type == 5394 ? D13 : D14;
      const float d = table[c.index];
      const float s = soft + border + c.e;
      const float span = 2.0f * s + d + 0.002f;
      const float base = p * span - (span - d) * 0.5f;
      w = bkgd ? (rev ? (d - base) - c.e : base - c.e) : (p < 1.0f ? base : p + 0.5f);
      setWipePatternGeometry(p, true);
      break;
    }
    case FREE:
      if (0.0001f < p && p < 0.9999f) {
        const float s = rev ? 1.0f - size : size;
        rotationMode = 3;
        aspectFollows = 0;
        patternAspect = 0.0f;
        setFreePatternGeometry();
        applyWipeFrame(freePatternPosition(s, TYPE_FREE), TYPE_FREE);
        return;
      }
      [[fallthrough]];  // at its ends the free pattern is the circle of pattern 10
    default:
      w = wipePositionW3(p, type);
      setWipePatternGeometry(p, type == TYPE_FREE);
      break;
  }
  applyWipeFrame(w, type);
}

float TransitionUpdater::wipePositionW3(float p, int type) const {
  const WipeTerms c(*this);
  const bool twoSided = type == TYPE_W3_HALF_A || type == TYPE_W3_HALF_B;
  const float a9 = type == TYPE_W3_HALF_B ? c.a : 1.0f;
  const float g = type == TYPE_W3_HALF_B ? c.a : type == TYPE_W3_HALF_A ? 1.0f : c.a;
  const float s = soft + c.px * border + c.h;
  const float factor = twoSided ? 2.0f / g : 1.0f / g + 1.0f;
  const float span = factor * s + 1.0f + 0.002f;
  const float r = p * span;
  if (isBkgd == 0) return reverse != 0 ? span - r : r;
  if (reverse != 0) return s / g + (1.0f - r) - c.e / a9;
  const float k = type == TYPE_W3_HALF_B ? 1.4f : 1.0f;
  return r - (c.px * border + k * soft + c.h) / a9 - c.h;
}

float TransitionUpdater::freePatternPosition(float s, int type) const { return wipePositionW3(s, type); }

void TransitionUpdater::setWipePatternGeometry(float p, bool withCentre) {
  if (isKey != 0) {
    rotationMode = 0;
    patternAspect = 0.0f;
    aspectFollows = 0;
  }
  const float width = formatGeometry(ROW_WIDTH, format), lines = formatGeometry(ROW_LINES, format);
  const float t = reverse != 0 ? p : 1.0f - p;
  float sx = 1.0f, sy = 1.0f, cx = 0.0f, cy = 0.0f;
  if (withCentre) {
    cx = (0.5f + t * position[0]) * width;
    cy = (0.5f + t * position[1]) * lines;
  }
  const float a = patternAspect * 3.0f * (aspectFollows != 0 ? t : 1.0f);
  if (patternAspect > 0.0f) {
    sx = 1.0f + a;
  } else if (patternAspect < 0.0f) {
    sy = 1.0f - a;
  }
  // Room for the modulation's ripple.
  if (modAmp[0] > 0.0f || modAmp[1] > 0.0f) {
    sx += 1.5f * modAmp[1];
    sy += (isBkgd != 0 ? 1.25f : 1.3025f) * modAmp[0];
  }
  float angle = spin[2];
  applyRotationMode(*this, angle, sx, sy, t);
  float aspect = 1.0f, k = 1.0f;
  patternFormatFactors(format, aspectFlag != 0, aspect, k);
  PatternMatrix m;
  if (effect <= 7) {
    buildPatternMatrixCentred(m, sx, sy, angle, width, lines, aspect, k);
  } else if (effect == 8 || effect == 9 || effect == 16) {
    buildPatternMatrixHalf(m, sx, sy, angle, width, lines, aspect, k);
  } else {
    buildPatternMatrix(m, sx, sy, angle, cx, cy, aspect, k);
  }
  mxTransSetPatternMatrix(target(), m.m);
  mxTransSetPatternPosition(target(), 0.0f, 0.0f);
}

void TransitionUpdater::setFreePatternGeometry() {
  if (isKey != 0) {
    rotationMode = 0;
    patternAspect = 0.0f;
    aspectFollows = 0;
  }
  const float width = formatGeometry(ROW_WIDTH, format), lines = formatGeometry(ROW_LINES, format);
  const float sx = patternAspect > 0.0f ? 1.0f + 3.0f * patternAspect : 1.0f;
  const float sy = patternAspect < 0.0f ? 1.0f - 3.0f * patternAspect : 1.0f;
  float aspect = 1.0f, k = 1.0f;
  patternFormatFactors(format, aspectFlag != 0, aspect, k);
  PatternMatrix m;
  buildPatternMatrix(m, sx, sy, spin[2], (position[0] + 0.5f) * width, (position[1] + 0.5f) * lines, aspect, k);
  mxTransSetPatternMatrix(target(), m.m);
  mxTransSetPatternPosition(target(), 0.0f, 0.0f);
}

void TransitionUpdater::applyWipeFrame(float w, int type) {
  const int t = target();
  mxTransSetPatternSize(t, std::ldexp(1.0f, -shiftX), std::ldexp(1.0f, -shiftY), shiftX, shiftY);
  applyModulation(modulationAllowed());
  resetForMix();
  if (isKey != 0) {
    mxKeySetLevel(t, 1.0f);
    mxTransSetType(t, type, border, soft);
    mxTransSetKeyPosition(t, w, 0);
    return;
  }
  mxTransSetType(MX_BKGD, type, border, soft);
  const int invert = reverse != 0 ? static_cast<int>(abSelect) : abSelect > 1 ? 0 : 1 - static_cast<int>(abSelect);
  mxTransSetBkgdPosition(w, invert, -1.0f);
  updateBkgd(static_cast<int>(abSelect));
}
