// DVE transition geometry: the perspective projection of a placed picture, and the effect
// families of kind 3 (tilt, flip, twin tilt, spin) with the end states of the DVE.
#include "Main/transition/dvegeo.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Main/transition/pattern.h"
#include "Main/transition/updater.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr float TWO_PI_F = 6.2831855f;
constexpr float DEGREES = 57.2957763671875f;
constexpr float TINY = 0.000001f;

float sqrtf64(float v) { return static_cast<float>(std::sqrt(static_cast<double>(v))); }
float cross(float ax, float ay, float bx, float by) { return ax * by - ay * bx; }

}  // namespace

int projectQuad(QuadProjection& q, float sx, float sy, float rx, float ry, float rz, float tx, float ty, float w,
                float h) {
  AffineMatrix m, step;
  scaleAffine(m, sx, sy, 1.0f);
  rotationAffine(step, EULER_XYZ, rx, ry, rz);
  postMultiplyAffine(m, step);
  float d = 2.5f * sqrtf64(w * w + h * h);
  if (d < TINY) d = 1.0f;
  scaleAffine(step, 1.0f, 1.0f, 0.5f / d);
  postMultiplyAffine(m, step);
  identityAffine(step);
  step[11] = 2.0f;
  postMultiplyAffine(m, step);

  // Corners 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right, placed and projected.
  const float plane[4][2] = {{-w, -h}, {w, -h}, {-w, h}, {w, h}};
  float X[4], Y[4], Z[4], x[4], y[4];
  for (int i = 0; i < 4; ++i) {
    const float a = plane[i][0], b = plane[i][1];
    X[i] = a * m[0] + b * m[3] + m[9];
    Y[i] = a * m[1] + b * m[4] + m[10];
    Z[i] = a * m[2] + b * m[5] + m[11];
    const bool behind = Z[i] < TINY;
    x[i] = behind ? X[i] : X[i] / Z[i];
    y[i] = behind ? Y[i] : Y[i] / Z[i];
  }

  q.visible = 0;
  q.filterX = q.filterY = q.areaRatio = 1.0f;
  const float scaled = sx * sy * w * h;
  if (scaled < 1.0f) return 0;
  const float area = 0.5f * std::fabs(cross(x[0] - x[1], y[0] - y[1], x[2] - x[1], y[2] - y[1])) +
                     0.5f * std::fabs(cross(x[0] - x[3], y[0] - y[3], x[2] - x[3], y[2] - y[3]));
  q.areaRatio = area / scaled;
  if (q.areaRatio < 0.01f && area < 600.0f) return 0;

  const float top = std::max({std::fabs(x[0] - x[1]), std::fabs(y[0] - y[1]), std::fabs(x[2] - x[3]),
                              std::fabs(y[2] - y[3])});
  const float side = std::max({std::fabs(x[0] - x[2]), std::fabs(y[0] - y[2]), std::fabs(x[1] - x[3]),
                               std::fabs(y[1] - y[3])});
  q.filterX = top < w ? top / w : 1.0f;
  q.filterY = side < h ? side / h : 1.0f;
  // A sharp corner (seen at a slant) is filtered less.
  static constexpr int CORNERS[4][3] = {{1, 0, 3}, {3, 1, 2}, {2, 3, 0}, {0, 2, 1}};  // corner, its neighbours
  for (const auto& c : CORNERS) {
    const float ax = x[c[1]] - x[c[0]], ay = y[c[1]] - y[c[0]], bx = x[c[2]] - x[c[0]], by = y[c[2]] - y[c[0]];
    const float angle = static_cast<float>(std::atan2(static_cast<double>(cross(ax, ay, bx, by)),
                                                      static_cast<double>(ax * bx + ay * by))) * DEGREES;
    if (std::fabs(angle) < 35.0f) {
      const float f = std::max(std::fabs(angle) / 35.0f, 0.4f);
      q.filterX *= f;
      q.filterY *= f;
      break;
    }
  }
  q.filterX = std::max(q.filterX, 0.05f);
  q.filterY = std::max(q.filterY, 0.05f);

  // Homogeneous screen points of corners 0, 1 and 2 onto their points in the shrunk source.
  const float cx = w * (tx + 0.5f), cy = h * (ty + 0.5f);
  Matrix3 p;
  for (int i = 0; i < 3; ++i) p[3 * i] = X[i] + Z[i] * cx, p[3 * i + 1] = Y[i] + Z[i] * cy, p[3 * i + 2] = Z[i];
  if (invertMatrix3InPlace(p) != 0) {
    std::fill_n(q.matrix, 9, 0.0f);
    return 0;
  }
  const Matrix3 s = {0, 0, 1, w * q.filterX, 0, 1, 0, h * q.filterY, 1};
  postMultiplyMatrix3(p, s);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) q.matrix[3 * r + c] = p[3 * c + r];
  }
  q.visible = 1;
  return 1;
}

int projectQuadTurns(QuadProjection& q, float size, float rx, float ry, float rz, float tx, float ty, float w,
                     float h) {
  return projectQuad(q, size, size, rx * TWO_PI_F, ry * TWO_PI_F, rz * TWO_PI_F, tx, ty, w, h);
}

bool perspectiveMapping(Matrix3& out, const float (&corners)[3][3], const float (&sources)[3][2], float w,
                        float h) {
  Matrix3 p, s;
  for (int i = 0; i < 3; ++i) {
    const float z = corners[i][2];
    p[3 * i] = corners[i][0], p[3 * i + 1] = corners[i][1], p[3 * i + 2] = 1.0f;
    s[3 * i] = sources[i][0] / z, s[3 * i + 1] = sources[i][1] / z, s[3 * i + 2] = 1.0f / z;
  }
  if (invertMatrix3InPlace(p) != 0) return false;
  postMultiplyMatrix3(p, s);
  // Transposed for column vectors, after the shift of the output origin to the frame's centre.
  for (int r = 0; r < 3; ++r) {
    const float a = p[r], b = p[3 + r], c = p[6 + r];
    out[3 * r] = a;
    out[3 * r + 1] = b;
    out[3 * r + 2] = c - a * w / 2 - b * h / 2;
  }
  return true;
}

// ---- the effect families ------------------------------------------------------------------------------

namespace {

constexpr float FIXED = 0.00001f;
constexpr float ZEROS[9] = {};

// The window of a flip or tilt frame: shrunk by the softness or grown by the border, each scaled
// by the picture's squeeze (kx, ky).
struct EdgedWindow {
  float x, y, width, height, scale, softness;
};
EdgedWindow squeezedWindow(const TransitionUpdater& u, float x, float y, float width, float height, float kx,
                           float ky) {
  const float s = u.soft, b = u.border, asp = u.aspectScale;
  if (b <= FIXED) {
    const float sx = (s - 2.0f) * kx + 2.0f, sy = (s - 2.0f) * ky / asp + 2.0f;
    return {x + sx / 2, y + sy / 2, width - sx, height - sy, sx, kx * b};
  }
  const float bx = kx * b, by = ky * b / asp;
  return {x - bx, y - by, width + 2 * bx, height + 2 * by, (s - 2.0f) * kx + 2.0f, bx};
}
void setWindow(int target, const EdgedWindow& e) {
  mxDveSetWindow(target, e.x, e.y, e.width, e.height, e.scale, e.softness);
}

// The pre-filter value of the tilts: the picture is shrunk while it stands steep.
float tiltFilter(float u) { return u <= 0.8f ? 0.15f + 0.85f * 1.25f * u : 1.0f; }

// A picture part swung about a hinge line across one axis (0: x moves, 1: y moves), in the corner
// scheme of projectQuad (picture at depth 2, corners at -+W, -+H): a point at in-plane distance q
// from the hinge lies at distance q cos a and depth 2 + q sin a x depth (sign 1 for a picture on
// the positive side of the hinge, -1 for one on the negative side).
struct Swing {
  int axis;
  float hinge, sign, depth, cosA, sinA;

  void place(float x, float y, float (&out)[3]) const {
    const float q = (axis == 0 ? x : y) - hinge;
    const float along = hinge + q * cosA;
    out[0] = axis == 0 ? along : x;
    out[1] = axis == 0 ? y : along;
    out[2] = 2.0f + sign * q * sinA * depth;
  }
  // The mapping of the part whose corners 0, 1, 2 lie at plane points, projected and shifted by
  // (ox, oy) pixels, onto the source points.
  bool mapping(Matrix3& out, const float (&plane)[3][2], const float (&sources)[3][2], float ox, float oy, float w,
               float h) const {
    float corners[3][3];
    for (int i = 0; i < 3; ++i) {
      float c[3];
      place(plane[i][0], plane[i][1], c);
      corners[i][0] = c[0] / c[2] + ox, corners[i][1] = c[1] / c[2] + oy, corners[i][2] = c[2];
    }
    return perspectiveMapping(out, corners, sources, w, h);
  }
};

Swing swingAt(int axis, float hinge, float sign, float depth, float a) {
  return {axis, hinge, sign, depth, static_cast<float>(std::cos(static_cast<double>(a))),
          static_cast<float>(std::sin(static_cast<double>(a)))};
}

// Per-format shift of the tilt's projected corners in pixels while it moves.
constexpr float TILT_SHIFT_Y[12] = {-1.3f, -1.3f, -1.5f, -1.5f, -0.9f, -0.9f, -1.1f, -1.1f, -1.5f, -1.5f, -1.3f, -1.3f};

bool sdWide(u32 format) { return format == 4 || format == 5; }

}  // namespace

void TransitionUpdater::applyDveGeometry(float p) {
  if (reverse == 1) p = 1.0f - p;
  if (effect <= 3) {
    applyTiltEffect(p);
  } else if (effect <= 5) {
    applyFlipEffect(p);
  } else if (effect <= 7) {
    applyTwinTiltEffect(p);
  } else if (effect <= 11) {
    applySpinEffect(p);
  } else if (effect == 22) {
    KeyTransition::applyDvePlacement(*this);
  } else if (effect == 23) {
    KeyTransition::applyDvePlacementPair(*this);
    markRunningBkgdDve(p);
  }
  const int t = target();
  if (p <= 0.0f) {
    mxDveClearTransform(t);
  } else if (p >= 1.0f) {
    mxDveReset(t);
  }
}

void TransitionUpdater::applyTiltEffect(float p) {
  applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const int t = target();
  const float w = frameWidth(*this), h = frameHeight(*this), s = soft;
  float* e = window;  // left, right, top, bottom
  float u;
  if (areaMode == 3) {
    // Two phases over the area's width.
    const float area = w * (e[1] - e[0]), k1 = (s + w * (1.0f - e[0])) / area, k2 = (s + area) / area;
    u = k1 * p;
    if (u >= k2) u = k2 + 2.0f * (k1 * p - k2);
  } else {
    u = p * (h + (effect == 0 || effect == 2 ? s : 2.0f * s)) / h;
  }
  const float m = std::min(u, 1.0f);
  const float a = static_cast<float>((1.0f - m) * PI * 120.0 / 180.0);
  const bool horizontal = effect == 0 || effect == 2;
  const bool fixedArea = areaMode == 2 || areaMode == 3;
  float f = tiltFilter(u);
  if (systemMode == 2 && (format == 0 || format == 9 || format == 10)) f = std::min(0.15f + 0.85f * u, 1.0f);

  // The hinge edge leaves the frame; the other edges come in while the picture stands steep.
  if (effect == 0 && !fixedArea) e[0] = -0.5f;
  if (effect == 1) e[2] = -0.5f;
  if (effect == 2 && !fixedArea) e[1] = 1.5f;
  if (effect == 3) e[3] = 1.5f;
  e[2] += 3.0f * (1.0f - m) / h;
  e[3] -= 3.0f * (1.0f - m) / h;

  const float wp = horizontal ? w * f : w, hp = horizontal ? h : h * f;
  mxFilterSetParameters(t, 0.0f, 0.0f, wp / w, hp / h);
  mxDveSetAspect(t, horizontal ? f : 1.0f / f);
  setWindow(t, squeezedWindow(*this, wp * e[0], hp * e[2], (e[1] - e[0]) * wp, (e[3] - e[2]) * hp,
                              horizontal ? f : 1.0f, horizontal ? 1.0f : f));
  if (p >= 1.0f) {
    mxDveSetMatrixFloat(t, ZEROS);
    return;
  }

  // The hinge sits 2.6 pixels outside the frame until half way, and reaches the edge at u = 1.
  const float d = m <= 0.5f ? 2.6f * 2.0f : 2.6f * (2.0f - 4.0f * (m - 0.5f));
  const float extent = horizontal ? w : h;
  const bool negative = effect >= 2;  // hinge on the right or bottom edge
  float hinge, shift;
  if (horizontal && fixedArea) {
    hinge = -w + 2.0f * w * (effect == 0 ? e[0] : e[1]);
    shift = 0.0f;
  } else {
    shift = negative ? d : -d;
    hinge = (negative ? extent : -extent) + shift;
  }
  const Swing swing = swingAt(horizontal ? 0 : 1, hinge, negative ? -1.0f : 1.0f, 1.1547005f / extent, a);
  float plane[3][2] = {{-w, -h}, {w, -h}, {-w, h}};
  for (auto& c : plane) c[horizontal ? 0 : 1] += shift;
  // While it moves, the picture is placed a line up and shifted to the DVE's pixel phase.
  const bool moving = u < 1.0f;
  const float lift = moving && !sdWide(format) ? -1.0f : 0.0f;
  const float ox = moving ? (sdWide(format) ? 1.1f : 0.1f) : 0.0f, oy = moving ? TILT_SHIFT_Y[format < 12 ? format : 0] : 0.0f;
  const float sources[3][2] = {{0.0f, lift}, {wp, lift}, {0.0f, hp + lift}};
  Matrix3 matrix;
  if (swing.mapping(matrix, plane, sources, ox, oy, w, h)) mxDveSetMatrixFloat(t, matrix);
}

void TransitionUpdater::applyFlipEffect(float p) {
  applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const int t = target();
  const float w = frameWidth(*this), h = frameHeight(*this), s = soft;
  float* e = window;
  const float u = p * (areaMode == 3 ? 2.0f * s + 1.389f * h : h + 2.0f * s) / h;
  float a = 0.0f, k = 1.0f, lift = 0.0f, d = 0.0f, g = u;
  if (u <= 1.0f) {
    a = static_cast<float>((1.0f - u) * PI / 2.0);
    k = 0.1f + 0.9f * static_cast<float>(std::cos(static_cast<double>(a)));
    lift = sdWide(format) ? 0.0f : -1.0f;
    d = 4.0f * (1.0f - u);
    g = 1.0f;
  }
  e[2] += d / h;
  e[3] -= d / h;
  const bool vertical = effect == 4;  // turns about the vertical centre line
  float wp = g * w, hp = g * h;
  (vertical ? wp : hp) *= k;
  const float kx = vertical ? k : 1.0f, ky = vertical ? 1.0f : k;
  float x = wp * e[0], y = hp * e[2];
  const float width = (e[1] - e[0]) * wp, height = (e[3] - e[2]) * hp;
  mxFilterSetParameters(t, 0.0f, 0.0f, wp / w, hp / h);
  if (u > 1.0f) {
    x += (w - wp) / 2;
    y += (h - hp) / 2;
    wp = w, hp = h;
  }
  mxDveSetAspect(t, kx / ky);
  setWindow(t, squeezedWindow(*this, x, y, width, height, kx, ky));
  if (p >= 1.0f) {
    mxDveSetMatrixFloat(t, ZEROS);
    return;
  }

  // The near edge at depth 2 - sin(a) / 2, the far edge at 2 + sin(a) / 2.
  const float c = static_cast<float>(std::cos(static_cast<double>(a)));
  const float sn = static_cast<float>(std::sin(static_cast<double>(a)));
  const float zn = 2.0f - sn / 2, zf = 2.0f + sn / 2;
  const float placed[3][3] = {
      {vertical ? -w * c : -w, vertical ? -h : -h * c, zn},
      {vertical ? w * c : w, vertical ? -h : -h * c, vertical ? zf : zn},
      {vertical ? -w * c : -w, vertical ? h : h * c, vertical ? zn : zf},
  };
  float corners[3][3];
  for (int i = 0; i < 3; ++i) {
    corners[i][0] = placed[i][0] / placed[i][2], corners[i][1] = placed[i][1] / placed[i][2];
    corners[i][2] = placed[i][2];
  }
  const float sources[3][2] = {{0.0f, lift}, {wp, lift}, {0.0f, hp + lift}};
  Matrix3 matrix;
  if (perspectiveMapping(matrix, corners, sources, w, h)) mxDveSetMatrixFloat(t, matrix);
}

void TransitionUpdater::applyTwinTiltEffect(float p) {
  if (kind != 3) return;
  applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const int t = target();
  const float w = frameWidth(*this), h = frameHeight(*this), s = soft;
  float* e = window;
  const float u = p * (areaMode == 3 ? s + 1.389f * h : h + 2.0f * s) / h;
  const float m = std::min(u, 1.0f);
  const float a = static_cast<float>((1.0f - m) * PI * 120.0 / 180.0);
  const bool horizontal = effect == 6;  // left and right halves
  const bool fixedArea = areaMode == 2 || areaMode == 3;
  const float f = tiltFilter(u);
  if (horizontal) {
    if (!fixedArea) e[0] = -0.5f, e[1] = 1.5f;
    e[2] += 3.0f * (1.0f - m) / h;
    e[3] -= 3.0f * (1.0f - m) / h;
  } else {
    e[2] = -0.5f, e[3] = 1.5f;
  }

  const float wp = horizontal ? w * f : w, hp = horizontal ? h : h * f;
  mxFilterSetParameters(t, 0.0f, 0.0f, wp / w, hp / h);
  mxDveSetAspect(t, horizontal ? f : 1.0f / f);
  // Window 0 holds the first half; window 1 the second, as large, from the centre line on.
  const float x = wp * e[0], y = hp * e[2];
  const float halfWidth = horizontal ? (0.5f - e[0]) * wp : (e[1] - e[0]) * wp;
  const float halfHeight = horizontal ? (e[3] - e[2]) * hp : (0.5f - e[2]) * hp;
  const EdgedWindow first = squeezedWindow(*this, x, y, halfWidth, halfHeight, horizontal ? f : 1.0f,
                                           horizontal ? 1.0f : f);
  mxDveReset(t);
  setWindow(t, first);
  mxDveSetWindowOffset(t, first.x + (horizontal ? halfWidth : 0.0f), first.y + (horizontal ? 0.0f : halfHeight));
  if (p >= 1.0f) {
    mxDveSetMatricesFloat(t, ZEROS, ZEROS, 0);
    return;
  }

  // Each half swings about its outer edge (the area's edge in area modes 2 and 3).
  const float lift = u < 1.0f && !sdWide(format) ? -1.0f : 0.0f;
  const float extent = horizontal ? w : h;
  const float hingeA = horizontal && fixedArea ? -w + 2.0f * w * e[0] : -extent;
  const float hingeB = horizontal && fixedArea ? -w + 2.0f * w * e[1] : extent;
  const int axis = horizontal ? 0 : 1;
  const Swing swingA = swingAt(axis, hingeA, 1.0f, 2.309401f / extent, a);
  const Swing swingB = swingAt(axis, hingeB, -1.0f, 2.309401f / extent, a);
  Matrix3 ma, mb;
  bool ok;
  if (horizontal) {
    const float planeA[3][2] = {{-w, -h}, {0, -h}, {-w, h}}, planeB[3][2] = {{0, -h}, {w, -h}, {0, h}};
    const float srcA[3][2] = {{0, lift}, {wp / 2, lift}, {0, hp + lift}};
    const float srcB[3][2] = {{wp / 2, lift}, {wp, lift}, {wp / 2, hp + lift}};
    ok = swingA.mapping(ma, planeA, srcA, 0, 0, w, h) && swingB.mapping(mb, planeB, srcB, 0, 0, w, h);
  } else {
    const float planeA[3][2] = {{-w, -h}, {w, -h}, {-w, 0}}, planeB[3][2] = {{-w, 0}, {w, 0}, {-w, h}};
    const float srcA[3][2] = {{0, lift}, {wp, lift}, {0, hp / 2 + lift}};
    const float srcB[3][2] = {{0, hp / 2 + lift}, {wp, hp / 2 + lift}, {0, hp + lift}};
    ok = swingA.mapping(ma, planeA, srcA, 0, 0, w, h) && swingB.mapping(mb, planeB, srcB, 0, 0, w, h);
  }
  // Two transforms of one picture, one per window.
  if (ok) mxDveSetMatricesFloat(t, ma, mb, 0);
}

void TransitionUpdater::applySpinEffect(float p) {
  MxifModify mod;
  std::memcpy(&mod, modify, sizeof mod);
  const float offset = mod.value2 / 1000.0f + 0.5f;
  const float level = mod.on != 0 ? 1.0f : 0.0f;
  applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const int t = target();
  const float w = frameWidth(*this), h = frameHeight(*this), s = soft, b = border;
  float* e = window;
  const float u = p * (areaMode == 3 ? 2.0f * s + 1.389f * h : h + 2.0f * s) / h;

  // The picture travels in at its set size, then grows to full size.
  float sc = 1.0f, travel = u;
  if (u < 1.0f) {
    const float z = 0.1f + 0.9f * mod.value1 / 1000.0f, grown = 1.0f - 1.5f * (1.0f - u);
    if (grown <= z) {
      sc = z;
      travel = u / (1.0f - (1.0f - z) / 1.5f);
    } else {
      sc = grown;
      travel = 1.0f;
    }
  }
  float c = 1.1473474f;
  if (format == 6) c = aspectScale < 1.0f ? 1.3825f : 1.25f;
  if (format == 7) c = aspectScale < 1.0f ? 1.6318f : 1.33f;
  const float stripe = format == 6 || format == 7 ? 129.0f : sdWide(format) ? 170.0f : 255.0f;

  const float angle = mod.value3 + 45.0f + 90.0f * static_cast<float>(effect - 8);
  const bool fixedArea = areaMode == 2 || areaMode == 3;
  if (mod.value1 == 1000) {
    // Full size: the two edges at the corner it comes from leave the frame.
    const bool right = effect == 8 || effect == 11, bottom = effect == 8 || effect == 9;
    if (!fixedArea) (right ? e[1] : e[0]) = right ? 1.5f : -0.5f;
    (bottom ? e[3] : e[2]) = bottom ? 1.5f : -0.5f;
  }
  const float g = u < 1.0f ? 1.0f : u;
  const float wp = w * sc * g, hp = h * sc * g;
  const float x0 = wp * e[0] + (w - wp) / 2, y0 = hp * e[2] + (h - hp) / 2;
  mxFilterSetParameters(t, (1.0f - sc) / 2, (1.0f - sc) / 2, sc, sc);
  mxDveSetAspect(t, 1.0f);
  setEdgedWindow(t, x0, y0, (e[1] - e[0]) * wp, (e[3] - e[2]) * hp);

  float shift = offset * stripe / w;
  if (!fixedArea) {
    shift = (1.0f - travel) * (shift + c);
  } else {
    const float across = 1.25f * ((e[1] - e[0]) + b / w) * (areaMode == 3 ? 1.16f : 1.0f);
    shift = (1.0f - travel) * (shift + across);
    if (u <= 1.0f) shift += 1.25f * (e[0] - b / w);
  }
  mxDveSetRotation(t, angle, shift, level, offset);
}
