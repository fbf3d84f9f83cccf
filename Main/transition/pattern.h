#pragma once
// Helpers of the wipe and DVE effects: the 2-D pattern transforms, the rectangles that place a DVE
// picture's pre-filter and crop window, and the spin step and rotation modes.
#include "Main/transition/updater.h"

// A 2-D affine map x' = a x + b y + c, y' = d x + e y + f, as (a, b, c, d, e, f). In a * b, b is
// applied first.
struct PatternMatrix {
  float m[6];
};

void patternRotation(PatternMatrix& m, float radians);
void multiplyPattern(PatternMatrix& out, const PatternMatrix& a, const PatternMatrix& b);
void postMultiplyPattern(PatternMatrix& m, const PatternMatrix& b);  // m := m * b
void preMultiplyPattern(PatternMatrix& m, const PatternMatrix& a);   // m := a * m

// Pattern transforms: scales sx, sy, rotation in turns, a point (x, y), the picture aspect and
// the vertical factor k.
// Sc(1/sx, 1/(sy aspect)) * Rot * Sc(1, aspect) * Tr(x, y k)
void buildPatternMatrix(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float aspect,
                        float k);
// The same about the centre of a picture of size (x, y): Tr(-x/2, -(y/2) k) * ... * Tr(x/2, (y/2) k).
void buildPatternMatrixCentred(PatternMatrix& out, float sx, float sy, float turns, float x, float y,
                               float aspect, float k);
// Sc(1/sx, 1/(sy aspect)) * Rot * Sc(1, aspect) * Tr(x/2, (y/2) k)
void buildPatternMatrixHalf(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float aspect,
                            float k);
// Tr(W/2, H/2) * Sc(1/sx, 1/sy) * Rot * Tr(-x, -y)
void buildPatternMatrixAbout(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float w,
                             float h);
// Tr(W/2, (H/2) k) * Sc(1/sx, 1/(sy aspect)) * Rot * Sc(1, aspect) * Tr(-x, -y k)
void buildPatternMatrixFramed(PatternMatrix& out, float sx, float sy, float turns, float x, float y, float w,
                              float h, float aspect, float k);

// Pattern aspect and vertical factor k of the transforms by format (wide: a standard-definition
// picture shown 16:9).
void patternFormatFactors(u32 format, bool wide, float& aspect, float& k);

// Per-frame spin: a constant value turns by value / 40 of a turn per frame; a value of almost 0
// clears both the value and the accumulator.
void advancePhase(float& value, float& accumulator);
// The updater's rotation mode on one angle (mode 2 with the third accumulator), and on the two
// sizes and the border width in modes 1 to 3.
void applyRotationMode(TransitionUpdater& u, float& angle, float& sizeA, float& sizeB, float scale);
// The rotation mode on three angles (mode 2 with one accumulator each).
void applyRotationMode3(TransitionUpdater& u, float& x, float& y, float& z, float scale);

void packSixFloats(float (&record)[6], float a, float b, float c, float d, float e, float f);
void unpackSixFloats(const float (&record)[6], float& a, float& b, float& c, float& d, float& e, float& f);

// A DVE picture in pixels from the frame's top-left corner: the pre-filter rectangle, then the
// crop window. A window from (-W/2, -H/2) of size 2W x 2H cuts nothing.
struct AreaRect {
  float filterX, filterY, filterWidth, filterHeight;
  float windowX, windowY, windowWidth, windowHeight;
};

// What a two-picture effect saves before its first picture and puts back before the second: the
// area edges, softness, border and the three mode bytes.
struct SavedLayer {
  explicit SavedLayer(const TransitionUpdater& u);
  void restore(TransitionUpdater& u) const;
  float window[4];
  float soft, border;
  u8 areaMode, rotationMode, aspectFollows;
};

// Frame size W x H of the updater's format.
float frameWidth(const TransitionUpdater& u);
float frameHeight(const TransitionUpdater& u);

// Builders; l, r, t, b are the updater's window edges, soft its softness.
void collapsedAreaRect(const TransitionUpdater& u, AreaRect& a);
void fullAreaRect(const TransitionUpdater& u, AreaRect& a);
void fullAreaRectVertical(const TransitionUpdater& u, AreaRect& a);  // the vertical fields only
// The horizontal fields only.
void slideAreaWindow(const TransitionUpdater& u, AreaRect& a, float p);
void growAreaWindowRight(const TransitionUpdater& u, AreaRect& a, float p);
void growAreaWindowLeft(const TransitionUpdater& u, AreaRect& a, float p);
// A picture scaled by (sx, sy): at (x, y), at (x, y) less its size, or with the window's left-top
// or the area's right-bottom corner at (x, y).
void placeAreaRect(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy);
void placeAreaRectBehind(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy);
void placeAreaRectFromLeft(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy);
void placeAreaRectFromRight(const TransitionUpdater& u, AreaRect& a, float x, float y, float sx, float sy);

// The pre-filter rectangle normalised to the frame (out 0..3) and the window widened by the
// border, or shrunk by half the softness (out 4..7).
void areaToWindow(const TransitionUpdater& u, float (&out)[8], const AreaRect& a);
// Picture 0 (flags bit 0 clear): filter, window 0, two-picture mode, unit aspect and transforms;
// picture 1: the background's second filter slot and window 1.
void applyAreaRect(const TransitionUpdater& u, int flags, int target, const AreaRect& a);
