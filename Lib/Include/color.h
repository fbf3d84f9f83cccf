#pragma once
// Colour conversion: a front-end colour triple (hue in tenths of a degree, saturation and luminance
// in tenths of a percent) to the 10-bit Y, Cb, Cr codes of the video hardware, through an R, G, B
// triple on a 0..1023 scale. Pure functions in single precision; every colour of the system goes
// through colorToYCbCr, which picks the coefficient set from the system format.
#include "Lib/Include/types.h"

// Triple to Y (64..1010), Cb and Cr (64..960) with the BT.709 or the BT.601 coefficients.
void colorToYCbCr709(int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr);
void colorToYCbCr601(int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr);

// The matrix step alone (R, G, B nominally 0..1023).
void rgbToYCbCr709(float R, float G, float B, u16* Y, u16* Cb, u16* Cr);
void rgbToYCbCr601(float R, float G, float B, u16* Y, u16* Cb, u16* Cr);

// One component of the hue circle red (0), magenta (60), blue (120), cyan (180), green (240),
// yellow (300), mixed with white by saturation and scaled by luminance (percent).
float hueToRed(float hueDegrees, float satPercent, float lumPercent);
float hueToGreen(float hueDegrees, float satPercent, float lumPercent);
float hueToBlue(float hueDegrees, float satPercent, float lumPercent);

// Brings a hue into 0..360 in place (360 stays 360).
void normalizeHue(float* hueDegrees);

// The conversion every caller uses: the system formats 6 and 7 (standard definition) take the
// BT.601 set, every other the BT.709 set.
void colorToYCbCr(int systemFormat, int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr);
