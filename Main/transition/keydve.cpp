#include "Main/transition/keydve.h"

#include <algorithm>
#include <cmath>

#include "Driver/core/core.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Driver/key/key.h"
#include "Driver/transition/transition.h"
#include "Main/transition/dvegeo.h"
#include "Main/transition/pattern.h"

namespace {

constexpr float END_LOW = 0.0001f;
constexpr float END_HIGH = 0.9999f;
bool between(float p) { return END_LOW < p && p < END_HIGH; }

constexpr float TENTH_DEGREE = 0.0017453292f;
constexpr float TWO_PI_F = 6.2831855f;
constexpr float MIN_SIZE = 0.004f;
constexpr float FIXED = 0.00001f;
constexpr float IDENTITY[6] = {1, 0, 0, 0, 1, 0};
constexpr int N_DVE_KEYS = 2;  // keys 1 and 2 have DVE transforms

float width(const KeyDveSetting& s) { return formatGeometry(ROW_WIDTH, s.format); }
float height(const KeyDveSetting& s) { return formatGeometry(ROW_LINES, s.format); }
bool standardDefinition(u32 format) { return format == 6 || format == 7; }
// A record scale: 0 stands for full size.
int rawScale(s16 v) { return v == 0 ? 10000 : v; }

// Each edge of a pair that crosses the other goes to their mean.
void uncross(float& low, float& high) {
  if (low > high) low = high = (low + high) / 2;
}

// A rectangle whose width or height went negative collapses to 0 about its centre.
struct Rect {
  float x, y, width, height;
  void collapse() {
    if (width < 0) x += width / 2, width = 0;
    if (height < 0) y += height / 2, height = 0;
  }
};

// Shaped types 5391..5394: the top of the shape, its half width by format class (other, class 6,
// class 7), and the shape factor of the pattern.
constexpr float SHAPE_TOP[4] = {-0.5f, -0.4488f, -0.4457f, -0.3868f};
constexpr float SHAPE_WIDTH[4][3] = {
    {0.28f, 0.3361f, 0.3704f}, {0.2227f, 0.2671f, 0.2904f}, {0.1708f, 0.2051f, 0.2255f}, {0.156f, 0.1869f, 0.205f}};
constexpr float SHAPE_FACTOR[4] = {1.0f, 0.95f, 0.95f, 0.85f};

int shapeIndex(u16 type) { return type >= KEY_DVE_SHAPED_FIRST && type <= KEY_DVE_SHAPED_LAST ? type - KEY_DVE_SHAPED_FIRST : -1; }

}  // namespace

int KeyDveSetting::target() const { return MX_KEY1 + 2 * static_cast<int>(channel); }

int isFractionalTurn(float angle) {
  const float r = std::fmod(std::fabs(angle), TWO_PI_F);
  return r < -1e-7f || r > 1e-7f ? 1 : 0;
}

void keyDveAspect(const KeyDveSetting& s, float& w, float& h) {
  w = standardDefinition(s.format) && s.aspectScale > 0.99f ? 1.3333334f : 1.7777778f;
  h = 1.0f;
}

// ---- loading ----------------------------------------------------------------------------------------

void loadKeyDveSettings(KeyDveSetting& s, const MxifKey& rec, const MxifSystem& sys, u8 inset, float p) {
  s.channel = rec.channel;
  s.isKey = 1;
  s.isBkgd = 0;
  s.loadSystem(sys);
  // The travel follows the mode of the transition setting of the running direction.
  const MxifKey::Trans& setting = rec.inOutLink != 1 && rec.reverse != 0 ? rec.transOut : rec.transIn;
  s.travel = rec.travelOn != 0 ? setting.mode : 0;
  loadKeyDveStart(s, rec);
  s.shape = rec.dveShapeOn == 1;
  s.cropMode = s.shape != 0 ? rec.dveShape.mode : 0;
  selectKeyDveType(s, rec);
  s.inset = inset;
  loadKeyDvePosition(s, rec, p);
  loadKeyDveSize(s, rec, p);
  chooseKeyDveKind(s, rec);
  loadKeyDveBorder(s, rec);
  loadKeyDveCrop(s, rec);
  s.level = rec.adjust.density * 0.001f;
}

void loadKeyDveStart(KeyDveSetting& s, const MxifKey& rec) {
  const s16* start = nullptr;
  if (s.channel <= 1) {
    start = rec.travel12Both == 1 || rec.reverse == 0 ? rec.travel12 : rec.travel12Rev;
  } else if (s.channel <= 3) {
    start = rec.travel34Both == 1 || rec.reverse == 0 ? rec.travel34 : rec.travel34Rev;
  }
  s.startX = start != nullptr ? start[0] : 0;
  s.startY = start != nullptr ? start[1] : 0;
}

void selectKeyDveType(KeyDveSetting& s, const MxifKey& rec) {
  if (s.shape == 0 || rec.dveShapeType == 0) {
    s.type = KEY_DVE_PLAIN;
  } else if (rec.dveShapeType <= 4) {
    s.type = static_cast<u16>(KEY_DVE_SHAPED_FIRST + rec.dveShapeType - 1);
  }
}

void loadKeyDvePosition(KeyDveSetting& s, const MxifKey& rec, float p) {
  float x = rec.dvePosition[0], y = rec.dvePosition[1];
  if (s.travel == 1 && between(p)) {
    x = s.startX + std::trunc(p * (x - s.startX));
    y = s.startY + std::trunc(p * (y - s.startY));
  }
  s.centreX = 0.5f + x / 10000.0f;
  s.centreY = 0.5f - y / 10000.0f;
}

void loadKeyDveSize(KeyDveSetting& s, const MxifKey& rec, float p) {
  if (s.inset != 0) {
    s.sizeX = s.sizeY = 1.0f;
    return;
  }
  float size = static_cast<float>(rec.dveSize);
  if (rec.travelOn == 1 && s.travel == 1 && between(p)) size = std::trunc(p * size);
  size /= 10000.0f;
  if (-1e-7f <= size && size <= 1e-7f) size = 1e-7f;
  if ((s.type != KEY_DVE_PLAIN || s.channel >= N_DVE_KEYS) && size > 1.0f) size = 1.0f;
  s.sizeX = s.sizeY = size;
}

void chooseKeyDveKind(KeyDveSetting& s, const MxifKey& rec) {
  const int rawX = rawScale(rec.dveScale.first), rawY = rawScale(rec.dveScale.second);
  s.scaleX = rawX * 0.0001f;
  s.scaleY = rawY * 0.0001f;
  s.perspective = rec.dvePerspective * 0.0002f;
  s.rotation[0] = -rec.dveRotation[1] * TENTH_DEGREE;
  s.rotation[1] = -rec.dveRotation[0] * TENTH_DEGREE;
  s.rotation[2] = rec.dveRotation[2] * TENTH_DEGREE;
  const bool plain = s.type == KEY_DVE_PLAIN;
  s.kind = rawX != 10000 || rawY != 10000 || (s.perspective != 0.0f && !plain) ? 1 : 0;
  if (s.isBkgd != 0 || s.channel >= N_DVE_KEYS) {
    s.kind = 0;
    s.scaleX = s.scaleY = 1.0f;
    s.perspective = 0.0f;
  } else if (s.inset != 0) {
    s.kind = 0;
  } else if (!plain) {
    s.kind = 1;
    s.sizeX = std::max(s.sizeX, MIN_SIZE);
    s.sizeY = std::max(s.sizeY, MIN_SIZE);
  } else if (s.sizeX > 1.0f) {
    s.kind = 2;
  } else {
    const bool turned = isFractionalTurn(s.rotation[0]) != 0 || isFractionalTurn(s.rotation[1]) != 0 ||
                        isFractionalTurn(s.rotation[2]) != 0;
    s.kind = turned || s.kind == 1 ? 2 : 0;
  }
}

void loadKeyDveBorder(KeyDveSetting& s, const MxifKey& rec) {
  s.softness = rec.dveBorder.softness * 0.000125f;
  s.border = 0.0f;
  if (s.shape != 0 && rec.dveBorder.on == 1) {
    s.border = rec.dveBorder.width * 0.000125f;
    if (s.kind != 2 && s.border > 0.0f) s.border += 2.0f * s.softness;
  }
  if (s.kind == 2) s.border /= 2.0f;
  if (rec.dveBorderScale == 1) {
    s.border *= s.sizeX;
    s.softness *= s.sizeX;
  }
}

void loadKeyDveCrop(KeyDveSetting& s, const MxifKey& rec) {
  float* c = s.crop;  // left, right, top, bottom
  c[0] = -0.5f, c[1] = 0.5f, c[2] = -0.5f, c[3] = 0.5f;
  const u32 f = s.format;
  const bool wideInset = f == 0 || f == 8 || f == 10;
  const float a = s.inset == 0 ? 1.0f : wideInset ? 0.8888889f : 1.0666667f;
  const u32 group = s.inset == 0 ? f : wideInset ? 6 : 7;
  const int shape = shapeIndex(s.type);
  bool insetX = s.inset != 0;
  if (s.type == KEY_DVE_PLAIN && s.cropMode == 2) {
    c[0] = rec.dveCrop[0] * 0.0001f, c[1] = rec.dveCrop[3] * 0.0001f;
    c[2] = -rec.dveCrop[1] * 0.0001f, c[3] = -rec.dveCrop[2] * 0.0001f;
  } else if (s.type == KEY_DVE_PLAIN && s.cropMode == 1 && s.inset == 0) {
    // The 4:3 area of the format.
    c[0] = formatGeometry(ROW_AREA2_LEFT, f), c[1] = formatGeometry(ROW_AREA2_RIGHT, f);
    c[2] = -formatGeometry(ROW_AREA_TOP, f), c[3] = -formatGeometry(ROW_AREA_BOTTOM, f);
  } else if (s.type == KEY_DVE_PLAIN && s.cropMode == 1) {
    c[1] = -0.125f;
    insetX = false;
  } else if (shape >= 0) {
    const float half = SHAPE_WIDTH[shape][group == 6 ? 1 : group == 7 ? 2 : 0] * s.aspectScale / a;
    c[0] = -half, c[1] = half, c[2] = SHAPE_TOP[shape], c[3] = 0.5f;
  }
  if (s.inset != 0) {
    if (insetX) {
      c[0] = -0.3125f + 0.375f * c[0];
      c[1] = -0.3125f + 0.375f * c[1];
    }
    const float y0 = wideInset ? -0.27453703f : -0.23333333f, ky = wideInset ? 0.45092592f : 0.53333336f;
    c[2] = y0 + ky * c[2];
    c[3] = y0 + ky * c[3];
  }
  if (s.kind != 2 && s.border > 0.0f) {
    float wf, hf;
    keyDveAspect(s, wf, hf);
    const float d = (s.border / 2.0f - s.softness) / s.sizeX;
    c[0] -= d, c[1] += d, c[2] -= d * wf, c[3] += d * wf;
  }
  adjustKeyDveSoftness(s);
  snapKeyDveCrop(s, rec);
}

void adjustKeyDveSoftness(KeyDveSetting& s) {
  const float* c = s.crop;
  const bool untouched = s.centreX == 0.0f && s.centreY == 0.0f && s.sizeX == 1.0f && c[0] == -0.5f &&
                         c[1] == 0.5f && c[2] == -0.5f && c[3] == 0.5f;
  if (untouched) return;
  const bool sd = standardDefinition(s.format);
  s.softness += sd ? 0.004f : 0.002f;
  if (s.border > 0.0f) s.border += sd ? 0.006f : 0.003f;
}

void snapKeyDveCrop(KeyDveSetting& s, const MxifKey& rec) {
  const s16* r = rec.dveRotation;
  if (s.type != KEY_DVE_PLAIN || (s.cropMode != 0 && s.cropMode != 2) || rec.dveSize != 10000 || r[0] != 0 ||
      r[1] != 0 || r[2] != 0) {
    return;
  }
  if (rec.travelOn != 0 && !(0.99999f <= s.sizeX && s.sizeX <= 1.00001f)) return;
  const bool any = s.cropMode == 0;
  const int x = rec.dvePosition[0], y = rec.dvePosition[1];
  const s16* e = rec.dveCrop;  // left, top, bottom, right
  if (rec.dveScale.first == 10000) {
    if (x <= 0 && (e[0] == -5000 || any)) s.crop[0] = -1.0f;
    if (x >= 0 && (e[3] == 5000 || any)) s.crop[1] = 1.0f;
  }
  if (rec.dveScale.second == 10000) {
    if (y >= 0 && (e[1] == 5000 || any)) s.crop[2] = -1.0f;
    if (y <= 0 && (e[2] == -5000 || any)) s.crop[3] = 1.0f;
  }
}

// ---- applying ---------------------------------------------------------------------------------------

void applyKeyDve(KeyDveSetting& s, float p) {
  const bool dve = s.channel < N_DVE_KEYS;
  if (s.kind == 1 && dve) {
    applyKeyDveShaped(s, p);
  } else if (s.kind == 2 && dve) {
    applyKeyDve3D(s, p);
  } else {
    applyKeyDvePlain(s, p);
  }
}

void applyKeyDveCommon(KeyDveSetting& s, float& p) {
  if (s.travel == 1 && between(p)) p = 1.0f;
  const int t = s.target();
  mxKeySetLevel(t, p);
  mxKeySetPreview(t, 1);
  mxDveSetEnable(t, 1, 0);
  mxTransSetLatency(t, 1);
  mxTransSetType(t, s.type, s.border, s.softness);
  mxTransSetLevel(t, s.level);
  mxTransSetPatternSize(t, 1.0f, 1.0f, 0, 0);
  mxTransSetModulation(t, MX_TRANS_MOD_X, 0.0f, 0.0f, 0.0f);
  mxTransSetModulation(t, MX_TRANS_MOD_Y, 0.0f, 0.0f, 0.0f);
  if (s.shape != 0) {
    mxKeySetClipGain(t, 4, -1023.0f, 1.0f, 0.0f, s.level);
    mxKeySetMask(t, 0.0f, 0.0f, 1.0f, 1.0f, 0, 0);
  }
}

void applyKeyDvePlain(KeyDveSetting& s, float p) {
  applyKeyDveCommon(s, p);
  const int t = s.target();
  mxDveReset(t);
  float ox = 0.0f, oy = 0.0f;
  if (s.inset != 0) {
    const bool wide = s.format == 0 || s.format == 8;
    s.sizeX *= wide ? 0.8888889f : 1.0666667f;
    ox = 0.3125f;
    oy = wide ? 0.27453703f : 0.23333333f;
  }
  mxFilterSetKeyDveFlag(t, s.inset != 0 ? 1 : 0);
  const float cx = s.centreX, cy = s.centreY, sx = s.sizeX, sy = s.sizeY;
  const float* c = s.crop;
  mxFilterSetParameters(t, cx + (ox - 0.5f) * sx, cy + (oy - 0.5f) * sy, sx, sy);
  mxTransSetPatternPosition(t, cx + (ox + (c[0] + c[1]) / 2) * sx, cy + (oy + (c[2] + c[3]) / 2) * sy);
  mxTransSetKeyPositionXY(t, (c[1] - c[0]) * sx, (c[3] - c[2]) * sy);
  mxTransSetPatternMatrix(t, IDENTITY);
  if (s.channel < N_DVE_KEYS) mxDveSetMatrix(t, IDENTITY);
}

namespace {

// Steps shared by the shaped and the 3-D key: pattern and key position, the projection and its
// pre-filter. Not visible: an empty window. The scaled sizes come back in sx, sy.
bool placeKeyDve(KeyDveSetting& s, QuadProjection& q, bool turned, float& sx, float& sy) {
  const int t = s.target();
  const float w = width(s), h = height(s);
  mxTransSetPatternPosition(t, 0.0f, 0.0f);
  mxFilterSetKeyDveFlag(t, 0);
  mxTransSetKeyPosition(t, 1.0f, 0);
  sx = std::max(s.sizeX * s.scaleX, MIN_SIZE);
  sy = std::max(s.sizeY * s.scaleY, MIN_SIZE);
  const float size = std::max(s.sizeX, MIN_SIZE);
  mxTransSetKeyPositionXY(t, size * (s.crop[1] - s.crop[0]), size * (s.crop[3] - s.crop[2]));
  const float* r = s.rotation;
  projectQuad(q, sx, sy, turned ? r[0] : 0.0f, turned ? r[1] : 0.0f, r[2], s.centreX - 0.5f,
              s.centreY - 0.5f + 1.0f / w, w, h);
  mxDveSetMatrixFloat(t, q.matrix);
  mxFilterSetParameters(t, 0.0f, 0.0f, q.filterX, q.filterY);
  if (q.visible != 0) return true;
  mxDveSetWindow(t, -w / 2, -h / 2, 0.0f, 0.0f, 0.0f, 0.0f);
  return false;
}

// The inset in pixels that keeps a slanted picture's edge inside the DVE's safe area.
float safeInset(const QuadProjection& q) { return q.areaRatio < 0.95f ? (0.95f - q.areaRatio) * 16.0f : 0.0f; }

// A window from crop edges, in the pre-filtered source.
Rect windowFromEdges(const KeyDveSetting& s, const QuadProjection& q, float left, float right, float top,
                     float bottom) {
  const float w = width(s), h = height(s);
  uncross(left, right);
  uncross(top, bottom);
  return {(left + 0.5f) * w * q.filterX, (top + 0.5f) * h * q.filterY, (right - left) * w * q.filterX,
          (bottom - top) * h * q.filterY};
}

}  // namespace

void applyKeyDveShaped(KeyDveSetting& s, float p) {
  QuadProjection q;
  float sx, sy;
  if (!placeKeyDve(s, q, false, sx, sy)) return;
  const int t = s.target();
  const float w = width(s), h = height(s);
  const int shape = shapeIndex(s.type);
  const float f = shape >= 0 ? SHAPE_FACTOR[shape] : 0.85f;
  float a = f * s.scaleX, b = f * s.scaleY;
  const float v = s.perspective / 2.0f;
  if (v > 0.0f) b *= 1.0f - v;
  if (v < 0.0f) a *= 1.0f + v;
  mxDveSetAspect(t, a > 0.0001f ? b / a : 1.0f);
  float aspect, k;
  patternFormatFactors(s.format, false, aspect, k);
  PatternMatrix pattern;
  buildPatternMatrix(pattern, a, b, s.rotation[2] / TWO_PI_F, w * s.centreX, h * s.centreY, aspect, k);
  mxTransSetPatternMatrix(t, pattern.m);

  // The shape cuts the picture: the crop gives way to the safe window.
  const float g = safeInset(q);
  Rect window = windowFromEdges(s, q, g / w - 0.5f, 0.5f - (1.0f + g) / w, (1.0f + g) / h - 0.5f, 0.5f - g / h);
  if (s.border <= FIXED) s.softness += q.areaRatio * 0.002f;
  applyKeyDveCommon(s, p);
  s.border = s.softness = 0.0f;
  window.collapse();
  mxDveSetWindow(t, window.x, window.y, window.width, window.height, 0.0f, 0.0f);
}

void applyKeyDve3D(KeyDveSetting& s, float p) {
  QuadProjection q;
  float sx, sy;
  if (!placeKeyDve(s, q, true, sx, sy)) return;
  const int t = s.target();
  const float w = width(s), h = height(s);
  const float g = safeInset(q);
  const float* c = s.crop;
  Rect window = windowFromEdges(s, q, c[0] + g / w, c[1] - (1.0f + g) / w, c[2] + (1.0f + g) / h, c[3] - g / h);
  if (s.sizeX < MIN_SIZE) window = {window.x + window.width / 2, window.y + window.height / 2, 0.0f, 0.0f};
  if (s.border <= FIXED) s.softness += q.areaRatio * 0.002f;

  const float v = w * q.filterY / sy * s.scaleY / s.aspectScale;
  const float hv = s.format == 6 ? v / 1.125f : s.format == 7 ? v / 0.9375f : v;
  float u = w * q.filterX / sx * s.scaleX;
  if (v > 0.0001f) u /= v;
  mxDveSetAspect(t, u);
  if (s.border > FIXED) {
    window.x -= s.border * u, window.width += 2.0f * s.border * u;
    window.y -= s.border * hv, window.height += 2.0f * s.border * hv;
  } else {
    window.x += s.softness * u / 2, window.width -= s.softness * u;
    window.y += s.softness * hv / 2, window.height -= s.softness * hv;
  }
  window.collapse();
  mxDveSetWindow(t, window.x, window.y, window.width, window.height, s.softness * u, s.border * u);
  s.type = MX_TRANS_MIX;
  applyKeyDveCommon(s, p);
}
