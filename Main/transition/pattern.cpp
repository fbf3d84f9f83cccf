#include "Main/transition/pattern.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr float IDENTITY[6] = {1, 0, 0, 0, 1, 0};

PatternMatrix scale(float p, float q) { return {{p, 0, 0, 0, q, 0}}; }
PatternMatrix translation(float p, float q) { return {{1, 0, p, 0, 1, q}}; }
PatternMatrix rotation(float turns) {
  PatternMatrix m;
  patternRotation(m, static_cast<float>(turns * TWO_PI));
  return m;
}

// The product of the maps, the last applied first.
PatternMatrix chain(std::initializer_list<PatternMatrix> maps) {
  PatternMatrix out = {{1, 0, 0, 0, 1, 0}};
  for (const PatternMatrix& m : maps) postMultiplyPattern(out, m);
  return out;
}

}  // namespace

void patternRotation(PatternMatrix& m, float radians) {
  const float c = std::cos(radians), s = std::sin(radians);
  m = {{c, s, 0, -s, c, 0}};
}

void multiplyPattern(PatternMatrix& out, const PatternMatrix& x, const PatternMatrix& y) {
  const float* a = x.m;
  const float* b = y.m;
  out = {{a[0] * b[0] + a[1] * b[3], a[0] * b[1] + a[1] * b[4], a[0] * b[2] + a[1] * b[5] + a[2],
          a[3] * b[0] + a[4] * b[3], a[3] * b[1] + a[4] * b[4], a[3] * b[2] + a[4] * b[5] + a[5]}};
}

void postMultiplyPattern(PatternMatrix& m, const PatternMatrix& b) {
  PatternMatrix t;
  multiplyPattern(t, m, b);
  m = t;
}

void preMultiplyPattern(PatternMatrix& m, const PatternMatrix& a) {
  PatternMatrix t;
  multiplyPattern(t, a, m);
  m = t;
}

void buildPatternMatrix(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float aspect,
                        float k) {
  out = chain({scale(1 / sx, 1 / (sy * aspect)), rotation(turns), scale(1, aspect), translation(x, y * k)});
}

void buildPatternMatrixCentred(PatternMatrix& out, float sx, float sy, float turns, float x, float y,
                               float aspect, float k) {
  out = chain({translation(-x / 2, -(y / 2) * k), scale(1 / sx, 1 / (sy * aspect)), rotation(turns),
               scale(1, aspect), translation(x / 2, (y / 2) * k)});
}

void buildPatternMatrixHalf(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float aspect,
                            float k) {
  out = chain({scale(1 / sx, 1 / (sy * aspect)), rotation(turns), scale(1, aspect),
               translation(x / 2, (y / 2) * k)});
}

void buildPatternMatrixAbout(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float w,
                             float h) {
  out = chain({translation(w / 2, h / 2), scale(1 / sx, 1 / sy), rotation(turns), translation(-x, -y)});
}

void buildPatternMatrixFramed(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float w,
                              float h, float aspect, float k) {
  out = chain({translation(w / 2, (h / 2) * k), scale(1 / sx, 1 / (sy * aspect)), rotation(turns),
               scale(1, aspect), translation(-x, -y * k)});
}

void patternFormatFactors(u32 format, bool wide, float& aspect, float& k) {
  k = 1.0f;
  switch (format) {
    case 4:
    case 5:
      aspect = 0.5f, k = 2.0f;
      break;
    case 6:
      aspect = wide ? 0.84375f : 1.125f;
      break;
    case 7:
      aspect = wide ? 0.703125f : 0.9375f;
      break;
    default:
      aspect = 1.0f;
      break;
  }
}

void advancePhase(float& value, float& accumulator) {
  if (-2.777778e-7f < value && value < 2.777778e-7f) {
    value = accumulator = 0.0f;
    return;
  }
  accumulator += value * 0.025f;
  if (accumulator >= 1.0f) {
    accumulator -= 1.0f;
  } else if (accumulator <= -1.0f) {
    accumulator += 1.0f;
  }
  value = accumulator;
}

void applyRotationMode(TransitionUpdater& u, float& angle, float& sizeA, float& sizeB, float scale) {
  switch (u.rotationMode) {
    case 0:
      angle = 0.0f;
      return;
    case 1:
      angle *= scale;
      break;
    case 2:
      advancePhase(angle, u.spinAccumulator[2]);
      break;
    case 3:
      break;
    default:
      return;
  }
  // A turning pattern is drawn larger so that its edges stay outside the picture.
  sizeA *= 2.1f;
  sizeB *= 2.1f;
  u.border /= 2.1f;
}

void applyRotationMode3(TransitionUpdater& u, float& x, float& y, float& z, float scale) {
  float* angles[3] = {&x, &y, &z};
  for (int i = 0; i < 3; ++i) {
    switch (u.rotationMode) {
      case 0:
        *angles[i] = 0.0f;
        break;
      case 1:
        *angles[i] *= scale;
        break;
      case 2:
        advancePhase(*angles[i], u.spinAccumulator[i]);
        break;
      default:
        break;
    }
  }
}

void packSixFloats(float (&record)[6], float a, float b, float c, float d, float e, float f) {
  record[0] = a, record[1] = b, record[2] = c, record[3] = d, record[4] = e, record[5] = f;
}

void unpackSixFloats(const float (&record)[6], float& a, float& b, float& c, float& d, float& e, float& f) {
  a = record[0], b = record[1], c = record[2], d = record[3], e = record[4], f = record[5];
}

SavedLayer::SavedLayer(const TransitionUpdater& u)
    : soft(u.soft), border(u.border), areaMode(u.areaMode), rotationMode(u.rotationMode),
      aspectFollows(u.aspectFollows) {
  std::copy_n(u.window, 4, window);
}

void SavedLayer::restore(TransitionUpdater& u) const {
  std::copy_n(window, 4, u.window);
  u.soft = soft, u.border = border;
  u.areaMode = areaMode, u.rotationMode = rotationMode, u.aspectFollows = aspectFollows;
}

// ---- area rectangles --------------------------------------------------------------------------------

float frameWidth(const TransitionUpdater& u) { return formatGeometry(ROW_WIDTH, u.format); }
float frameHeight(const TransitionUpdater& u) { return formatGeometry(ROW_LINES, u.format); }

void collapsedAreaRect(const TransitionUpdater& u, AreaRect& a) {
  const float w = frameWidth(u), h = frameHeight(u);
  a = {-w / 2, -h / 2, 0, 0, -w / 2, -h / 2, 0, 0};
}

void fullAreaRect(const TransitionUpdater& u, AreaRect& a) {
  const float w = frameWidth(u), h = frameHeight(u);
  a = {0, 0, w, h, -w / 2, -h / 2, 2 * w, 2 * h};
}

void fullAreaRectVertical(const TransitionUpdater& u, AreaRect& a) {
  const float h = frameHeight(u);
  a.filterY = 0, a.filterHeight = h;
  a.windowY = -h / 2, a.windowHeight = 2 * h;
}

void slideAreaWindow(const TransitionUpdater& u, AreaRect& a, float p) {
  const float w = frameWidth(u), s = u.soft, l = u.window[0], r = u.window[1];
  a.filterX = 0, a.filterWidth = w;
  a.windowX = -s + (s + w * l) * p;
  a.windowWidth = (w + 2 * s) + (w * (r - l) - (w + 2 * s)) * p;
}

void growAreaWindowRight(const TransitionUpdater& u, AreaRect& a, float p) {
  const float w = frameWidth(u), s = u.soft, r = u.window[1];
  a.filterX = 0, a.filterWidth = w;
  a.windowX = -w / 2;
  a.windowWidth = w / 2 + (w + s) + (w * r - (w + s)) * p;
}

void growAreaWindowLeft(const TransitionUpdater& u, AreaRect& a, float p) {
  const float w = frameWidth(u), s = u.soft, l = u.window[0];
  const float q = -s + (s + w * l) * p;
  a.filterX = 0, a.filterWidth = w;
  a.windowX = q;
  a.windowWidth = 1.5f * w - q;
}

void placeAreaRect(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy) {
  const float w = sx * frameWidth(u), h = sy * frameHeight(u);
  const float* e = u.window;  // left, right, top, bottom
  a = {x, y, w, h, x + w * e[0], y + h * e[2], w * (e[1] - e[0]), h * (e[3] - e[2])};
}

void placeAreaRectBehind(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy) {
  placeAreaRect(u, a, x - sx * frameWidth(u), y - sy * frameHeight(u), sx, sy);
}

void placeAreaRectFromLeft(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy) {
  placeAreaRect(u, a, x - sx * frameWidth(u) * u.window[0], y - sy * frameHeight(u) * u.window[2], sx, sy);
}

void placeAreaRectFromRight(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy) {
  placeAreaRect(u, a, x - sx * frameWidth(u) * u.window[1], y - sy * frameHeight(u) * u.window[3], sx, sy);
}

void areaToWindow(const TransitionUpdater& u, float (&out)[8], const AreaRect& a) {
  const float w = frameWidth(u), h = frameHeight(u);
  const float b = u.border, s = u.soft, asp = u.aspectScale;
  out[0] = a.filterX / w, out[1] = a.filterY / h, out[2] = a.filterWidth / w, out[3] = a.filterHeight / h;
  if (b > 0.00001f) {
    out[4] = a.windowX - b, out[5] = a.windowY - b / asp;
    out[6] = a.windowWidth + 2 * b, out[7] = a.windowHeight + 2 * b / asp;
  } else {
    const float half = s / 2;
    out[4] = a.windowX + half, out[5] = a.windowY + half / asp;
    out[6] = std::max(a.windowWidth - s, 0.00001f), out[7] = std::max(a.windowHeight - s / asp, 0.00001f);
  }
}

void applyAreaRect(const TransitionUpdater& u, int flags, int target, const AreaRect& a) {
  float o[8];
  areaToWindow(u, o, a);
  if ((flags & 1) != 0) {
    mxFilterSetParameters(MX_BKGD_B, o[0], o[1], o[2], o[3]);
    mxDveSetDualWindow(target, o[4], o[5], o[6], o[7], u.soft, u.border);
    return;
  }
  mxFilterSetParameters(target, o[0], o[1], o[2], o[3]);
  mxDveSetWindow(target, o[4], o[5], o[6], o[7], u.soft, u.border);
  mxDveSetEnable(target, 2, u.imageOnA != 0 ? 1 : u.imageOnB);
  mxDveSetAspect(target, 1.0f);
  mxDveSetMatrices(target, IDENTITY, IDENTITY, MX_DVE_EFFECT_DUAL);
}
