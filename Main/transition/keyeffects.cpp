// DVE transition effects of kind 1: the picture zooms in from a corner, an edge, a centre line or
// a point (effects 0..10), grows inside a shaped wipe (11..14), flies in in 3-D (15), is squeezed
// by the other picture (16..19) or moves in 3-D in timed stages (20..23); and the fixed 3-D
// placements of kind 3. They serve the keys with a DVE and the background alike.
#include <algorithm>
#include <cmath>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Driver/transition/transition.h"
#include "Main/transition/dvegeo.h"
#include "Main/transition/pattern.h"
#include "Main/transition/updater.h"

namespace {

constexpr float IDENTITY[6] = {1, 0, 0, 0, 1, 0};
constexpr Matrix3 UNIT_MAPPING = {1, 0, 0, 0, 1, 0, 0, 0, 1};
constexpr float OPEN_LOW = -0.5f, OPEN_HIGH = 1.5f;
enum Edge : int { LEFT = 0, RIGHT = 1, TOP = 2, BOTTOM = 3 };
constexpr float FIXED = 0.00001f;
// The centre area's travel in area mode 3 is this many frame heights.
constexpr float CENTRE_AREA_TRAVEL = 1.389f;

float shrinkRatio(float n, float d) { return d < 0.0001f ? 1.0f : n / d; }

// ---- zooms, effects 0..10 ---------------------------------------------------------------------------

// The fixed point of a zoom on each axis: the fraction of the picture that stays in place (-1 on
// an axis that does not scale), and the edges that crop nothing (bit per Edge).
struct ZoomMember {
  float fx, fy;
  u8 open;
};
constexpr u8 OPEN_L = 1, OPEN_R = 2, OPEN_T = 4, OPEN_B = 8;
constexpr ZoomMember ZOOMS[11] = {
    {0, 0, OPEN_L | OPEN_T},           {1, 0, OPEN_R | OPEN_T},           {1, 1, OPEN_R | OPEN_B},
    {0, 1, OPEN_L | OPEN_B},           {0, -1, OPEN_L | OPEN_T | OPEN_B}, {-1, 0, OPEN_L | OPEN_T | OPEN_R},
    {1, -1, OPEN_R | OPEN_T | OPEN_B}, {-1, 1, OPEN_L | OPEN_R | OPEN_B}, {0.5f, -1, OPEN_T | OPEN_B},
    {-1, 0.5f, OPEN_L | OPEN_R},       {0.5f, 0.5f, 0},
};

float zoomGrowth(const TransitionUpdater& u, int effect, float p) {
  const float w = frameWidth(u), h = frameHeight(u), s = u.soft, a = u.aspectScale;
  switch (effect) {
    case 1: {
      const double g = (static_cast<double>(h) + static_cast<double>(s) / a) / h * p;
      return static_cast<float>(g);
    }
    case 4:
      return (w + s) / w * p;
    case 6:
      return (h + s) / h * p;
    case 8:
      return (w + 2.0f * s / a) / w * p;
    case 9:
      return (h + 2.0f * s) / h * p;
    case 10:
      return (h + 2.0f * s / a) / h * p;
    default:
      return (h + s / a) / h * p;
  }
}

// One axis of a zoom: the window from the area edges lo..hi scaled by g about the fixed point
// (fraction f of the picture at frame coordinate at), and the picture's corner at the scale
// clamped to 1 for the filter.
struct ZoomAxis {
  float corner, scale, window, length;
};
ZoomAxis zoomAxis(float size, float f, float at, float g, float lo, float hi) {
  if (f < 0.0f) return {0.0f, 1.0f, size * lo, size * (hi - lo)};
  const float gc = std::min(g, 1.0f), corner = at - f * size * g;
  return {at - f * size * gc, gc, corner + size * g * lo, size * g * (hi - lo)};
}

void zoom(TransitionUpdater& u, int effect, float p) {
  const float w = frameWidth(u), h = frameHeight(u), s = u.soft;
  float* e = u.window;
  ZoomMember z = ZOOMS[effect];
  const bool fromLeft = z.fx == 0.0f;
  float atX = z.fx * w, atY = z.fy * h;
  if (effect == 10) atX = u.position[0] * w, atY = u.position[1] * h;
  float g = zoomGrowth(u, effect, p);
  // In the 4:3 centre area the corner and edge zooms grow from the area's edge, which stays in
  // place; in area mode 3 the window then grows on to the far frame edge, twice as fast.
  const bool centreArea = effect <= 7 && (u.areaMode == 2 || u.areaMode == 3);
  if (centreArea) {
    z.open &= static_cast<u8>(~(OPEN_L | OPEN_R));
    if (z.fx >= 0.0f) {
      z.fx = fromLeft ? e[LEFT] : e[RIGHT];
      atX = z.fx * w;
      if (u.areaMode == 3) {
        const float area = w * (e[RIGHT] - e[LEFT]), far = fromLeft ? 1.0f - e[LEFT] : e[RIGHT];
        const float k = (s + area) / area, g0 = (s + w * far) / area * p;
        g = g0 < k ? g0 : 2.0f * (g0 - k) + k;
      }
    }
  } else if ((effect == 8 || effect == 10) && u.areaMode == 3) {
    g = (2.0f * s + CENTRE_AREA_TRAVEL * h) / h * p;
  } else if (effect == 8 && u.areaMode == 2 && g > 1.0f) {
    e[LEFT] -= (g - 1.0f) * 0.25f;
    e[RIGHT] += (g - 1.0f) * 0.25f;
  }
  if ((z.open & OPEN_L) != 0) e[LEFT] = OPEN_LOW;
  if ((z.open & OPEN_R) != 0) e[RIGHT] = OPEN_HIGH;
  if ((z.open & OPEN_T) != 0) e[TOP] = OPEN_LOW;
  if ((z.open & OPEN_B) != 0) e[BOTTOM] = OPEN_HIGH;
  // The edge shrinks with the picture.
  if (g < 1.0f) {
    u.soft = 2.0f + (u.soft - 2.0f) * g;
    u.border *= g;
  }
  const ZoomAxis x = zoomAxis(w, z.fx, atX, g, e[LEFT], e[RIGHT]);
  const ZoomAxis y = zoomAxis(h, z.fy, atY, g, e[TOP], e[BOTTOM]);
  float left = x.window, width = x.length;
  if (centreArea && z.fx >= 0.0f) {
    // The window's edge on the fixed side stands the softness outside the area.
    if (fromLeft) {
      left = w * e[LEFT] - s, width = x.window + x.length - left;
    } else {
      width = w * e[RIGHT] + s - left;
    }
  }
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const int t = u.target();
  mxFilterSetParameters(t, x.corner / w, y.corner / h, x.scale, y.scale);
  mxDveSetAspect(t, 1.0f);
  u.setEdgedWindow(t, left, y.window, width, y.length);
  mxDveSetMatrix(t, IDENTITY);
}

// ---- the placed picture of the shaped zoom and the 3-D moves ----------------------------------------

// A picture placed in 3-D, ready for the drivers.
struct PlacedPicture {
  float filter[4];
  float window[6];  // x, y, width, height, softness, border
  float aspect;
  Matrix3 mapping;
};

void uncross(float& low, float& high) {
  if (low > high) low = high = (low + high) / 2.0f;
}

// The window of a projected picture at growth g: the area edges, pulled in where the picture is
// seen at a slant, on the picture's place, widened by the border or shrunk by the softness.
void placedWindow(TransitionUpdater& u, const QuadProjection& q, float g, float (&out)[6]) {
  const float w = frameWidth(u), h = frameHeight(u), sx = q.filterX, sy = q.filterY;
  const float s = u.soft, b = u.border, a = u.aspectScale;
  float x = 0.0f, y = 0.0f, pw = w * sx, ph = h * sy;
  if (q.visible == 0 || g <= 0.0f) {
    x = 1.5f * w, y = 1.5f * h, pw = ph = 0.0f;
  } else if (g > 1.0f) {
    x = (w - w * g) / 2.0f, y = (h - h * g) / 2.0f, pw = w * g, ph = h * g;
  }
  float* e = u.window;
  const float m = q.areaRatio < 0.95f ? 0.95f - q.areaRatio : 0.0f;
  e[LEFT] += 16.0f * m / w, e[RIGHT] -= 16.0f * m / w;
  e[TOP] += 16.0f * m / h, e[BOTTOM] -= 16.0f * m / h;
  uncross(e[LEFT], e[RIGHT]);
  uncross(e[TOP], e[BOTTOM]);
  float wx = x + pw * e[LEFT], wy = y + ph * e[TOP];
  float ww = (e[RIGHT] - e[LEFT]) * pw, wh = (e[BOTTOM] - e[TOP]) * ph;
  if (b > FIXED) {
    wx -= b * sx, ww += 2.0f * b * sx;
    wy -= b * sy / a, wh += 2.0f * b * sy / a;
  } else {
    wx += s * sx / 2.0f, ww -= s * sx;
    wy += s * sy / a / 2.0f, wh -= s * sy / a;
  }
  if (ww < 0.0f) wx += ww / 2.0f, ww = 0.0f;
  if (wh < 0.0f) wy += wh / 2.0f, wh = 0.0f;
  out[0] = wx, out[1] = wy, out[2] = ww, out[3] = wh, out[4] = s * sx, out[5] = b * sx;
}

// Draws the area edges towards the frame by f (0 brings them onto the frame's edges).
void drawAreaToFrame(float* e, float f, bool onlyInside) {
  for (int i = 0; i < 4; ++i) {
    if (onlyInside && !(0.0f <= e[i] && e[i] <= 1.0f)) continue;
    e[i] = i == LEFT || i == TOP ? f * e[i] : 1.0f - f * (1.0f - e[i]);
  }
}

// A 3-D state: centre (frame units, 0.5 the middle), a third position value, three rotations in
// turns, the size, two further values.
struct Dve3D {
  float x, y, z;
  float turn[3];
  float size;
  float extra[2];
};
constexpr Dve3D REST = {0.5f, 0.5f, 0.0f, {0, 0, 0}, 1.0f, {0, 0}};

// The updater's first or second placement, with the rotations turned as the key DVE turns them.
Dve3D placement(const TransitionUpdater& u, bool second) {
  const float* c = second ? u.position2 : u.startCentre;
  const float* r = second ? u.spin2 : u.spin;
  return {c[0], c[1], 0.0f, {-r[0], -r[1], r[2]}, second ? u.size2 : u.size, {0, 0}};
}

Dve3D between(const Dve3D& s, const Dve3D& e, float t) {
  Dve3D m = s;
  m.x += t * (e.x - s.x), m.y += t * (e.y - s.y), m.size += t * (e.size - s.size);
  for (int i = 0; i < 3; ++i) m.turn[i] += t * (e.turn[i] - s.turn[i]);
  return m;
}

bool nearUnit(float v) { return 0.99999f <= v && v <= 1.00001f; }

// At full size and unturned, an area edge on the side the picture never leaves crops nothing (in
// area mode 4 only where the user area reaches the frame's edge). box: left, right, -bottom, -top.
void openEdgesAtRest(TransitionUpdater& u, const Dve3D& s, const Dve3D& e, const s16* box) {
  if (!(u.areaMode == 0 || u.areaMode == 4) || !nearUnit(s.size) || !nearUnit(e.size)) return;
  if (u.aspectFollows != 0 && !std::all_of(s.turn, s.turn + 3, [](float r) { return std::fabs(r) <= FIXED; })) return;
  const bool user = u.areaMode == 4;
  const float sc[2] = {s.x, s.y}, ec[2] = {e.x, e.y};
  const s16 lows[2] = {box[0], box[3]}, highs[2] = {box[1], box[2]};
  for (int axis = 0; axis < 2; ++axis) {
    if (sc[axis] < 0.50001f && ec[axis] < 0.50001f && (!user || lows[axis] < -4999)) {
      u.window[axis == 0 ? LEFT : TOP] = OPEN_LOW;
    }
    if (sc[axis] > 0.49999f && ec[axis] > 0.49999f && (!user || highs[axis] >= 5000)) {
      u.window[axis == 0 ? RIGHT : BOTTOM] = OPEN_HIGH;
    }
  }
}

// The move from s to e at t, the area drawn to the frame from c on.
void evaluateMove(TransitionUpdater& u, const Dve3D& s, const Dve3D& e, float t, float c, const s16* box,
                  PlacedPicture& out) {
  if (u.isKey != 0) u.rotationMode = 1, u.aspectFollows = 0, u.patternAspect = 0.0f;
  openEdgesAtRest(u, s, e, box);
  const float w = frameWidth(u), h = frameHeight(u);
  const float v = u.areaMode == 3 ? CENTRE_AREA_TRAVEL * h : h;
  const float d = u.rotationMode < 2 ? v + 2.0f * u.soft : h;
  const float g = t * d / h, g1 = std::min(g, 1.0f);
  float r[3] = {s.turn[0], s.turn[1], s.turn[2]};
  applyRotationMode3(u, r[0], r[1], r[2], 1.0f - g1);
  QuadProjection q;
  projectQuadTurns(q, s.size + g1 * (e.size - s.size), r[0], r[1], r[2], s.x + g1 * (e.x - s.x) - 0.5f,
                   s.y + g1 * (e.y - s.y) - 0.5f, w, h);
  if (u.areaMode == 4 && u.aspectFollows != 0) {
    const float from = std::clamp(c, 0.001f, 0.999f);
    if (g1 > from) drawAreaToFrame(u.window, 1.0f - (g1 - from) / (1.0f - from), true);
  }
  placedWindow(u, q, g, out.window);
  out.filter[0] = out.filter[1] = 0.0f;
  out.filter[2] = q.filterX, out.filter[3] = q.filterY;
  out.aspect = q.filterX / q.filterY * u.aspectScale;
  std::copy_n(q.matrix, 9, out.mapping);
}

// A picture placed as an area rectangle, at unit scale and without perspective.
void flatPicture(const TransitionUpdater& u, const AreaRect& r, PlacedPicture& out) {
  float o[8];
  areaToWindow(u, o, r);
  out = {{0, 0, 1, 1}, {o[4], o[5], o[6], o[7], u.soft, u.border}, 1.0f, {}};
  std::copy_n(UNIT_MAPPING, 9, out.mapping);
}

void writePicture(const TransitionUpdater& u, const PlacedPicture& pic) {
  const int t = u.target();
  const float* f = pic.filter;
  const float* w = pic.window;
  mxFilterSetParameters(t, f[0], f[1], f[2], f[3]);
  mxDveSetWindow(t, w[0], w[1], w[2], w[3], w[4], w[5]);
  mxDveSetAspect(t, pic.aspect);
  mxDveSetMatrixFloat(t, pic.mapping);
}

// Both pictures in the DVE's two windows, the second picture first when swapped (with the bus
// flags).
void writePair(TransitionUpdater& u, float p, const PlacedPicture& first, const PlacedPicture& second, bool swap) {
  const int t = u.target();
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  mxDveSetEnable(t, 2, u.imageOnA != 0 ? 1 : u.imageOnB);
  int a, b;
  u.busFlags(a, b);
  if (swap) std::swap(a, b);
  const PlacedPicture& p0 = swap ? second : first;
  const PlacedPicture& p1 = swap ? first : second;
  mxFilterSetParameters(t, p0.filter[0], p0.filter[1], p0.filter[2], p0.filter[3]);
  mxDveSetWindow(t, p0.window[0], p0.window[1], p0.window[2], p0.window[3], p0.window[4], p0.window[5]);
  mxFilterSetParameters(MX_BKGD_B, p1.filter[0], p1.filter[1], p1.filter[2], p1.filter[3]);
  mxDveSetDualWindow(t, p1.window[0], p1.window[1], p1.window[2], p1.window[3], p1.window[4], p1.window[5]);
  mxDveSetMatricesFloat(t, p0.mapping, p1.mapping, MX_DVE_EFFECT_PAIR);
  mxDveSetAspects(t, p0.aspect, p1.aspect);
  mxDveSetBkgdBuses(MX_BKGD, a, b, u.busOption);
}

// ---- shaped zooms, effects 11..14 -------------------------------------------------------------------

constexpr int SHAPED_TYPES[4] = {5391, 5392, 5394, 5393};

float shapeConstant(int type) {
  switch (type) {
    case 5391:
      return 0.5f;
    case 5392:
      return 0.38f;
    case 5393:
      return 0.3f;
    case 5394:
      return 0.24f;
    default:
      return 0.2f;
  }
}

void shapedZoom(TransitionUpdater& u, int type, float p) {
  if (u.isKey != 0) u.rotationMode = 0, u.aspectFollows = 0, u.patternAspect = 0.0f;
  const float w = frameWidth(u), h = frameHeight(u), c = shapeConstant(type);
  const bool sd = u.format == 6 || u.format == 7;
  const float d = u.rotationMode < 2 ? 2.0f * (u.border + u.soft) + h * (1.7777778f / c) : h;
  const float g = d / h * p, g1 = std::min(g, 1.0f);
  // The pattern's edge grows with it, never below a visible minimum (pattern units).
  const bool bordered = u.border > 0.0f;
  if (g1 < 1.0f) u.border *= g1, u.soft *= g1;
  u.soft += sd ? 0.004f : 0.002f;
  if (bordered) u.border = std::max(u.border, sd ? 0.0066f : 0.003f);
  u.applyEffectFrame(p, p < 1.0f ? g * c : 1.5f, type);

  float turn[3] = {0.0f, 0.0f, u.spin[2]};
  applyRotationMode3(u, turn[0], turn[1], turn[2], 1.0f - g1);
  const float cx = u.startCentre[0] + g1 * (0.5f - u.startCentre[0]);
  const float cy = u.startCentre[1] + g1 * (0.5f - u.startCentre[1]);
  float half = u.patternAspect / 2.0f;
  if (u.aspectFollows != 0 && g > 1.0f && d / h - 1.0f > 0.0001f) half *= 1.0f - (g - 1.0f) / (d / h - 1.0f);
  const float ax = half < 0.0f ? 1.0f + half : 1.0f, ay = half > 0.0f ? 1.0f - half : 1.0f;
  float aspect, k;
  patternFormatFactors(u.format, u.aspectFlag != 0, aspect, k);
  PatternMatrix pattern;
  buildPatternMatrix(pattern, ax, ay, turn[2], w * cx, h * cy, aspect, k);
  const int t = u.target();
  mxTransSetPatternMatrix(t, pattern.m);
  mxTransSetPatternPosition(t, 0.0f, 0.0f);

  QuadProjection q;
  projectQuadTurns(q, g1, turn[0], turn[1], turn[2], cx - 0.5f, cy - 0.5f, w, h);
  mxDveSetMatrixFloat(t, q.matrix);
  mxFilterSetParameters(t, 0.0f, 0.0f, q.filterX, q.filterY);
  mxDveSetAspect(t, q.filterX / q.filterY * u.aspectScale);
  if (u.areaMode == 4 && u.aspectFollows != 0) drawAreaToFrame(u.window, 1.0f - g1, false);
  float window[6];
  placedWindow(u, q, g, window);
  mxDveSetWindow(t, window[0], window[1], window[2], window[3], window[4], window[5]);
}

// ---- 3-D flies and timed moves, effects 15 and 20..23 -----------------------------------------------

void fly(TransitionUpdater& u, float p) {
  PlacedPicture pic;
  evaluateMove(u, placement(u, false), REST, p, 0.8f, u.userBox, pic);
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  writePicture(u, pic);
}

constexpr float MARK_1 = 0.4f, MARK_2 = 0.6f;

// A move in three stages: to half way by the first mark, held until the second, then to rest.
void timedMove(TransitionUpdater& u, Dve3D start, float p, const s16* box, PlacedPicture& out) {
  const Dve3D half = between(start, REST, 0.5f);
  if (p < 0.0f) {
    AreaRect r;
    collapsedAreaRect(u, r);
    flatPicture(u, r, out);
  } else if (p <= MARK_1) {
    if (u.areaMode == 3) u.areaMode = 2;
    if (u.rotationMode == 0) std::fill_n(start.turn, 3, 0.0f);
    if (u.rotationMode != 2) u.rotationMode = 3;
    evaluateMove(u, start, half, p / MARK_1, 0.8f, box, out);
  } else if (p <= MARK_2) {
    evaluateMove(u, start, REST, 0.5f, 0.8f, box, out);
  } else if (p < 1.0f) {
    evaluateMove(u, half, REST, (p - MARK_2) / (1.0f - MARK_2), 0.0f, box, out);
  } else {
    AreaRect r;
    fullAreaRect(u, r);
    flatPicture(u, r, out);
  }
}

// Mirrors the second picture's states: variant 0 across, 1 up and down, 2 both.
Dve3D mirrored(Dve3D s, int variant) {
  if (variant != 1) s.x = 1.0f - s.x;
  if (variant != 0) s.y = 1.0f - s.y;
  return s;
}

void timedPair(TransitionUpdater& u, int variant, float p) {
  if (u.isBkgd == 0) return;
  const Dve3D start = placement(u, false);
  const SavedLayer loaded(u);
  PlacedPicture first, second;
  timedMove(u, start, p, u.userBox, first);
  loaded.restore(u);
  timedMove(u, mirrored(start, variant), 1.0f - p, u.userBox, second);
  writePair(u, p, first, second, p >= MARK_1);
}

void timedSingle(TransitionUpdater& u, float p) {
  if (u.rotationMode == 2) u.rotationMode = 3;
  PlacedPicture pic;
  timedMove(u, placement(u, false), p, u.userBox, pic);
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  writePicture(u, pic);
}

// ---- squeeze pushes, effects 16..19 -----------------------------------------------------------------

// The horizontal squeeze of one picture by f: the leaving picture (side 1) narrows towards the
// right in a window half as wide again, the entering one (side 0) widens from the left in its own
// window; to the area's edges (area modes 2 and 3), or to the frame's.
void squeezeAcross(TransitionUpdater& u, AreaRect& r, int side, float f, bool toArea) {
  const float w = frameWidth(u), h = frameHeight(u);
  float* e = u.window;
  float k = 6.0f / w;
  if (side == 1) {
    if (!toArea) {
      k = 1.0f - e[LEFT] < 0.0001f ? 1.0f : std::min((1.0f - e[RIGHT]) / (1.0f - e[LEFT]) + 3.0f / w, 1.0f);
      e[RIGHT] = 1.0f;
    }
    placeAreaRectFromRight(u, r, w * e[RIGHT], h * e[BOTTOM], 1.0f + (k - 1.0f) * f, 1.0f);
    r.windowWidth *= 1.5f;
  } else {
    if (!toArea) {
      k = e[RIGHT] < 0.0001f ? 1.0f : std::min(e[LEFT] / e[RIGHT] + 3.0f / w, 1.0f);
      e[LEFT] = 0.0f;
    }
    placeAreaRectFromLeft(u, r, w * e[LEFT], h * e[TOP], k + (1.0f - k) * f, 1.0f);
  }
}

void squeezeDown(TransitionUpdater& u, AreaRect& r, int side, float q) {
  const float w = frameWidth(u), h = frameHeight(u);
  float* e = u.window;
  e[LEFT] = OPEN_LOW, e[RIGHT] = OPEN_HIGH;
  if (side == 1) {
    const float k = 1.0f - e[TOP] < 0.0001f ? 1.0f : std::min((1.0f - e[BOTTOM]) / (1.0f - e[TOP]) + 3.0f / h, 1.0f);
    e[BOTTOM] = 1.0f;
    placeAreaRectFromRight(u, r, w * e[RIGHT], h * e[BOTTOM], 1.0f, 1.0f + (k - 1.0f) * q);
    r.windowHeight *= 1.5f;
  } else {
    const float k = e[BOTTOM] < 0.0001f ? 1.0f : std::min(e[TOP] / e[BOTTOM] + 3.0f / h, 1.0f);
    e[TOP] = 0.0f;
    placeAreaRectFromLeft(u, r, w * e[LEFT], h * e[TOP], 1.0f, k + (1.0f - k) * q);
    r.windowY -= r.windowHeight / 2.0f;
    r.windowHeight *= 1.5f;
  }
}

// Area mode 3: the leaving picture is first cropped to the centre area, then squeezed out; the
// entering one squeezed in, then uncropped. saved: the softness before picture 0 cleared it.
void squeezeInCentreArea(TransitionUpdater& u, AreaRect& r, int side, float q, float saved) {
  const float w = frameWidth(u);
  float* e = u.window;
  const float travel = 2.0f * saved + w, at = q * travel;
  const float e1 = saved + w * e[LEFT], e2 = saved + w * e[RIGHT];
  e[TOP] = OPEN_LOW, e[BOTTOM] = OPEN_HIGH;
  const float squeeze = shrinkRatio(at - e1, e2 - e1);
  if (side == 1) {
    if (at < e1) {
      slideAreaWindow(u, r, shrinkRatio(at, e1));
    } else if (at < e2) {
      squeezeAcross(u, r, 1, squeeze, true);
    } else {
      collapsedAreaRect(u, r);
    }
  } else {
    if (at < e1) {
      collapsedAreaRect(u, r);
    } else if (at < e2) {
      squeezeAcross(u, r, 0, squeeze, true);
    } else if (at <= travel) {
      slideAreaWindow(u, r, 1.0f - shrinkRatio(at - e2, travel - e2));
    } else {
      fullAreaRect(u, r);
    }
  }
}

void squeezeOne(TransitionUpdater& u, int code, float p, int picture, float saved) {
  const bool backwards = code == 1 || code == 3;
  const int side = backwards ? picture ^ 1 : picture;
  const float q = backwards ? 1.0f - p : p;
  AreaRect r;
  fullAreaRect(u, r);
  if ((code & 2) == 0) {
    squeezeDown(u, r, side, q);
  } else {
    if (u.areaMode == 3) {
      squeezeInCentreArea(u, r, side, q, saved);
    } else {
      float* e = u.window;
      const float extent = (e[RIGHT] - e[LEFT]) * frameWidth(u);
      const float f = extent < 0.0001f ? 1.0f : q;
      if (q * extent <= extent) {
        squeezeAcross(u, r, side, f, u.areaMode == 2);
      } else if (side == 1) {
        collapsedAreaRect(u, r);
      } else {
        fullAreaRect(u, r);
      }
    }
    fullAreaRectVertical(u, r);
  }
  applyAreaRect(u, picture, u.target(), r);
}

void squeezePush(TransitionUpdater& u, int code, float p) {
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const SavedLayer loaded(u);
  // The softness before picture 0 is drawn hard-edged; it sets the travel of area mode 3.
  const float saved = u.soft;
  if (u.soft > 0.0f) u.soft = 0.0f;
  squeezeOne(u, code, p, 0, saved);
  loaded.restore(u);
  squeezeOne(u, code, p, 1, saved);
}

constexpr int SQUEEZE_CODES[4] = {2, 0, 3, 1};

}  // namespace

void KeyTransition::applyZoom(TransitionUpdater& u, int effect, float p) { zoom(u, effect, p); }

void KeyTransition::applyEffect(TransitionUpdater& u, float position) {
  const int effect = u.effect;
  if (effect >= 16 && effect <= 19) u.border = 0.0f, u.soft = 2.0f;
  const float p = u.reverse == 1 ? 1.0f - position : position;
  if (effect <= 9 || (effect == 10 && u.isBkgd == 0)) {
    zoom(u, effect, p);
    return;
  }
  if (effect == 10 || effect == 15) {
    fly(u, p);
    return;
  }
  if (effect <= 14) {
    shapedZoom(u, SHAPED_TYPES[effect - 11], p);
  } else if (effect <= 19) {
    squeezePush(u, SQUEEZE_CODES[effect - 16], p);
  } else if (effect <= 22) {
    timedPair(u, effect - 20, p);
  } else if (effect == 23) {
    timedSingle(u, p);
  } else {
    return;
  }
  u.markRunningBkgdDve(p);
}

void KeyTransition::applyDvePlacement(TransitionUpdater& u) {
  u.rotationMode = 3;
  const Dve3D at = placement(u, false);
  PlacedPicture pic;
  evaluateMove(u, at, at, 0.5f, 0.8f, u.userBox, pic);
  u.applyEffectFrame(0.5f, 1.0f, MX_TRANS_MIX);
  writePicture(u, pic);
}

void KeyTransition::applyDvePlacementPair(TransitionUpdater& u) {
  if (u.isBkgd == 0) return;
  const SavedLayer loaded(u);
  const Dve3D at = placement(u, false), at2 = placement(u, true);
  PlacedPicture first, second;
  u.rotationMode = 3;
  evaluateMove(u, at, at, 0.5f, 0.8f, u.userBox, first);
  loaded.restore(u);
  std::copy_n(u.window2, 4, u.window);
  u.rotationMode = 3;
  evaluateMove(u, at2, at2, 0.5f, 0.8f, u.userBox2, second);
  writePair(u, 0.5f, first, second, u.freeFlag == 0);
}
