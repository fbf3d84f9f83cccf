// DVE transition effects of kind 2: one picture slides in from a corner or an edge (effects 0..7),
// or two pictures push each other across the frame in the DVE's two windows (8..11), with a pause
// half way and narrower crops while they move (12..15). They serve the background and the keys
// with a DVE alike; the background's pushes tell the source tally that a DVE transition runs.
#include <algorithm>
#include <cmath>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Main/transition/pattern.h"
#include "Main/transition/updater.h"

namespace {

constexpr float IDENTITY[6] = {1, 0, 0, 0, 1, 0};
// An area edge that crops nothing.
constexpr float OPEN_LOW = -0.5f, OPEN_HIGH = 1.5f;
enum Edge : int { LEFT = 0, RIGHT = 1, TOP = 2, BOTTOM = 3 };
// Direction codes of effects 8..11 and 12..15: 2 towards the right, 0 down, 3 left, 1 up.
constexpr int PUSH_CODES[4] = {2, 0, 3, 1};
// A border thinner than this counts as none in the pushes.
constexpr float PUSH_BORDER = 0.05f;

float ratio(float n, float d) { return std::fabs(d) < 0.0001f ? 1.0f : n / d; }
float ratioOfPositive(float n, float d) { return d < 0.0001f ? 1.0f : n / d; }

// ---- effects 0..7 ---------------------------------------------------------------------------------

// The side each slide enters from: horizontally -1 left, 1 right; vertically -1 top, 1 bottom;
// 0 does not move on that axis.
struct SlideSides {
  int h, v;
};
constexpr SlideSides SLIDES[8] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}, {-1, 0}, {0, -1}, {1, 0}, {0, 1}};

// Offsets of a picture that enters from the left (x) and from the top (y); from the other side
// the offset is the negative. In area modes 2 and 3 the centre area's edge on the entering side is
// r (R, or 1 - L for a picture from the right).
void slideOffsets(const TransitionUpdater& u, SlideSides sides, float p, float& x, float& y) {
  const float w = frameWidth(u), h = frameHeight(u);
  const float s = u.soft, t = u.edgeSpan, a = u.aspectScale;
  const float* e = u.window;
  const bool centreArea = u.areaMode == 2 || u.areaMode == 3;
  const float r = sides.h > 0 ? 1.0f - e[LEFT] : e[RIGHT];
  x = y = 0.0f;
  if (sides.h != 0 && sides.v != 0) {
    const float width = centreArea ? w * (2.0f * r - 1.0f) : w;
    const float dy = centreArea ? h + t + s : h + (t - s) / a + 2.0f * s;
    const float x1 = s * (width + t + s) / dy;
    const float dx = width + t + x1;
    if (u.areaMode == 3) {
      const float k = (width + t + s) / dy;
      x = x1 + r * (t + width + x1) * (p - 1.0f) / (2.0f * r - 1.0f) + (1.0f - r) * (w + x1);
      y = s + r * dy * (p - 1.0f) / (2.0f * r - 1.0f) + (1.0f - r) * (w + s) / k;
    } else {
      x = x1 + dx * (p - 1.0f);
      y = s + dy * (p - 1.0f);
    }
  } else if (sides.h != 0) {
    x = s + (w + t + s) * (p - 1.0f);
    if (u.areaMode == 2) x = s + (w * (2.0f * r - 1.0f) + t + s) * (p - 1.0f);
    if (u.areaMode == 3) x += w * (1.0f - r);
  } else {
    y = s / a + (h + t / a + s / a) * (p - 1.0f);
  }
  x *= static_cast<float>(sides.h < 0 ? 1 : -1);
  y *= static_cast<float>(sides.v < 0 ? 1 : -1);
}

void slide(TransitionUpdater& u, int effect, float p) {
  const SlideSides sides = SLIDES[effect];
  float x, y;
  slideOffsets(u, sides, p, x, y);
  // The edges on the entering sides, and both edges of an axis without motion, crop nothing.
  float* e = u.window;
  if (sides.h <= 0) e[LEFT] = OPEN_LOW;
  if (sides.h >= 0) e[RIGHT] = OPEN_HIGH;
  if (sides.v <= 0) e[TOP] = OPEN_LOW;
  if (sides.v >= 0) e[BOTTOM] = OPEN_HIGH;

  const float w = frameWidth(u), h = frameHeight(u);
  const bool shown = p > 0.0f;
  const float width = shown ? w * (e[RIGHT] - e[LEFT]) : 0.0f, height = shown ? h * (e[BOTTOM] - e[TOP]) : 0.0f;
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  const int t = u.target();
  mxFilterSetParameters(t, std::min(x, 0.0f) / w, std::min(y, 0.0f) / h, 1.0f, 1.0f);
  mxDveSetAspect(t, 1.0f);
  u.setEdgedWindow(t, x + w * e[LEFT], y + h * e[TOP], width, height);
  mxDveSetMatrix(t, IDENTITY);
}

// ---- effects 8..15 ------------------------------------------------------------------------------

// Which picture of a push plays which side: codes 1 and 3 run as 0 and 2 backwards with the sides
// exchanged. Side 1 leaves the frame, side 0 enters it.
struct PushPicture {
  int picture, side;
  bool horizontal;
  float q;
};
PushPicture pushPicture(int code, float p, int picture) {
  const bool backwards = code == 1 || code == 3;
  return {picture, backwards ? picture ^ 1 : picture, (code & 2) != 0, backwards ? 1.0f - p : p};
}

// Crops nothing across the motion of a push picture.
void openAcross(float* e, bool horizontal) {
  e[horizontal ? TOP : LEFT] = OPEN_LOW;
  e[horizontal ? BOTTOM : RIGHT] = OPEN_HIGH;
}

void sendPushPicture(TransitionUpdater& u, const PushPicture& pp, float x, float y) {
  AreaRect r;
  placeAreaRect(u, r, x, y, 1.0f, 1.0f);
  if (pp.q <= 0.0f) r.windowWidth = r.windowHeight = 0.0f;
  applyAreaRect(u, pp.picture, u.target(), r);
}

// Area mode 3, horizontal: the pictures first sweep across the margins beside the centre area.
void pushInCentreArea(TransitionUpdater& u, const PushPicture& pp) {
  const float w = frameWidth(u), h = frameHeight(u), s = u.soft, b = u.border, q = pp.q;
  float* e = u.window;
  const float l = e[LEFT], r = e[RIGHT], top = e[TOP] * h;
  AreaRect a;
  fullAreaRect(u, a);
  // The picture's window placed with its left-top corner at x; leaving, its window reaches 1.5 W;
  // entering, it reaches back to -W / 2.
  auto leaving = [&](float x) {
    placeAreaRectFromLeft(u, a, x, top, 1.0f, 1.0f);
    a.windowWidth += (1.5f - r) * w;
  };
  auto entering = [&](float x) {
    placeAreaRectFromLeft(u, a, x, top, 1.0f, 1.0f);
    a.windowX -= (l + 0.5f) * w;
    a.windowWidth += (l + 0.5f) * w;
  };
  if (b <= PUSH_BORDER) {
    const float d = s + w, at = q * d;
    if (pp.side == 1) {
      const float e1 = s + l * w;
      if (e1 >= at) {
        growAreaWindowLeft(u, a, ratio(at, e1));
      } else if (d >= at) {
        leaving(l * w + (w - l * w) * ratio(at - e1, d - e1));
      } else {
        collapsedAreaRect(u, a);
      }
    } else {
      const float e1 = r * w;
      e[RIGHT] = r + 1.0f / w;
      if (e1 >= at) {
        entering(-(r - l) * w + e1 * ratio(at, e1));
      } else if (d >= at) {
        growAreaWindowRight(u, a, ratio(at - e1, d - e1));
      } else {
        fullAreaRect(u, a);
      }
    }
    if (pp.picture == 0) u.soft = 0.0f;
  } else {
    const float travel = b + w + 2.0f * s, at = q * travel;
    if (pp.side == 1) {
      const float e1 = s + l * w, e3 = b + w + s;
      if (at <= e1) {
        growAreaWindowLeft(u, a, ratioOfPositive(at, e1));
      } else if (at <= e3) {
        leaving(l * w + ratioOfPositive(at - e1, e3 - e1) * (b + w - l * w));
      } else if (at <= travel) {
        leaving(b + w);
      } else {
        collapsedAreaRect(u, a);
      }
    } else {
      const float outside = b + (r - l) * w, e2 = b + s + r * w;
      if (at <= s) {
        placeAreaRectFromLeft(u, a, -outside, top, 1.0f, 1.0f);
      } else if (at <= e2) {
        entering(ratioOfPositive(at - s, e2 - s) * (l * w + outside) - outside);
      } else if (at <= travel) {
        growAreaWindowRight(u, a, ratioOfPositive(at - e2, travel - e2));
      } else {
        fullAreaRect(u, a);
      }
    }
  }
  fullAreaRectVertical(u, a);
  applyAreaRect(u, pp.picture, u.target(), a);
}

// One picture of a push: it moves by the area's extent, plus the border or less the softness, so
// that the two pictures meet edge to edge. Without a border picture 0 is drawn hard-edged.
void pushOne(TransitionUpdater& u, int code, float p, int picture) {
  const PushPicture pp = pushPicture(code, p, picture);
  if (pp.horizontal && u.areaMode == 3) {
    pushInCentreArea(u, pp);
    return;
  }
  float* e = u.window;
  float d = pp.horizontal ? (e[RIGHT] - e[LEFT]) * frameWidth(u) : (e[BOTTOM] - e[TOP]) * frameHeight(u);
  const float k = pp.horizontal ? 1.0f : 1.0f / u.aspectScale;
  if (u.border > PUSH_BORDER) {
    d += k * u.border;
  } else {
    d -= k * u.soft;
    if (picture == 0 && u.soft > 0.0f) u.soft = 0.0f;
  }
  const int low = pp.horizontal ? LEFT : TOP, high = pp.horizontal ? RIGHT : BOTTOM;
  const float travel = pp.horizontal ? d : d - 1.0f;
  float offset;
  if (pp.side == 1) {
    offset = travel * pp.q;
    e[high] = OPEN_HIGH;
  } else {
    offset = -travel * (1.0f - pp.q);
    e[low] = OPEN_LOW;
  }
  openAcross(e, pp.horizontal);
  sendPushPicture(u, pp, pp.horizontal ? offset : 0.0f, pp.horizontal ? 0.0f : offset);
}

void push(TransitionUpdater& u, int code, float p) {
  u.applyEffectFrame(p, 1.0f, MX_TRANS_MIX);
  u.border *= 2.0f;
  const SavedLayer loaded(u);
  pushOne(u, code, p, 0);
  loaded.restore(u);
  pushOne(u, code, p, 1);
}

// The paused push's time: half way at 0.4, held there until 0.6.
float pauseCurve(float p) {
  if (p <= 0.0f) return 0.0f;
  if (p <= 0.4f) return p * 0.5f / 0.4f;
  if (p <= 0.6f) return 0.5f;
  if (p <= 1.0f) return (p - 0.6f) * 0.5f / 0.39999998f + 0.5f;
  return 1.0f;
}

// One picture of a paused push: the gap between the pictures is largest at the pause.
void pausedOne(TransitionUpdater& u, int code, float q, int picture) {
  const PushPicture pp = pushPicture(code, q, picture);
  const int low = pp.horizontal ? LEFT : TOP, high = pp.horizontal ? RIGHT : BOTTOM;
  const float size = pp.horizontal ? frameWidth(u) : frameHeight(u);
  float* e = u.window;
  const float a0 = -e[low] * size, a1 = -e[high] * size;
  float k = pp.horizontal ? 1.0f : 1.0f / u.aspectScale;
  if (u.border > PUSH_BORDER) {
    k *= u.border;
  } else {
    k *= -u.soft;
    if (picture == 0 && u.soft > 0.0f) u.soft = 0.0f;
  }
  const float m = std::min(pp.q, 1.0f - pp.q) * k, d = size + k;
  float offset;
  if (pp.side == 1) {
    e[low] += m / size;
    e[high] = OPEN_HIGH;
    offset = a0 - m + d * pp.q;
  } else {
    offset = a1 - k + m + d * pp.q;
    e[high] -= m / size;
    e[low] = OPEN_LOW;
  }
  openAcross(e, pp.horizontal);
  sendPushPicture(u, pp, pp.horizontal ? offset : 0.0f, pp.horizontal ? 0.0f : offset);
}

void pausedPush(TransitionUpdater& u, int code, float p) {
  const float q = pauseCurve(p);
  u.border *= 2.0f;
  u.applyEffectFrame(q, 1.0f, MX_TRANS_MIX);
  // Crop margins across the motion: (0, 0.125) at the start, (0.25, 0.25) at the pause, (0.125, 0)
  // at the end.
  float lead, trail;
  if (q < 0.5f) {
    lead = 0.5f * q, trail = 0.125f + 0.25f * q;
  } else {
    const float g = 2.0f * (1.0f - q);
    lead = 0.125f + 0.125f * g, trail = 0.25f * g;
  }
  float* e = u.window;
  const bool horizontal = (code & 2) != 0, backwards = code == 1 || code == 3;
  e[horizontal ? LEFT : TOP] = backwards ? trail : lead;
  e[horizontal ? RIGHT : BOTTOM] = 1.0f - (backwards ? lead : trail);
  const SavedLayer loaded(u);
  pausedOne(u, code, q, 0);
  loaded.restore(u);
  pausedOne(u, code, q, 1);
}

}  // namespace

void BkgdTransition::applyEffect(TransitionUpdater& u, float position) {
  const float p = u.reverse == 1 ? 1.0f - position : position;
  const int effect = u.effect;
  if (effect <= 7) {
    slide(u, effect, p);
    return;
  }
  if (effect > 15) return;
  if (effect <= 11) {
    push(u, PUSH_CODES[effect - 8], p);
  } else {
    pausedPush(u, PUSH_CODES[effect - 12], p);
  }
  u.markRunningBkgdDve(p);
}
