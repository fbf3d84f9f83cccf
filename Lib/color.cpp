// Colour conversion in single precision, in a fixed order of operations so that every caller gets
// the same codes.
#include "Lib/Include/color.h"

#include <cmath>
#include <iterator>

#include "Lib/Include/fixedpoint.h"

namespace {

constexpr float FULL = 1023.0f;

struct Coefficients {
  float yR, yG, yB;
  float cbR, cbG, cbB;
  float crR, crG, crB;
};

constexpr Coefficients BT601 = {0.2568f, 0.5041f, 0.0979f, 0.1482f, 0.291f, 0.4392f, 0.4392f, 0.3678f, 0.0714f};
constexpr Coefficients BT709 = {0.1826f, 0.6142f, 0.062f, 0.1007f, 0.3385f, 0.4392f, 0.4392f, 0.399f, 0.0402f};

// The code is kept as a 16-bit value and read back signed before the clamp.
u16 clampCode(s64 value, int low, int high) {
  s16 code = static_cast<s16>(static_cast<u16>(value));
  if (code > high) return static_cast<u16>(high);
  if (code < low) return static_cast<u16>(low);
  return static_cast<u16>(code);
}

void matrix(const Coefficients& k, float R, float G, float B, u16* Y, u16* Cb, u16* Cr) {
  float y = (G * k.yG + R * k.yR) + B * k.yB;
  float cb = (B * k.cbB - R * k.cbR) - G * k.cbG;
  float cr = (R * k.crR - G * k.crG) - B * k.crB;
  *Y = clampCode(s64{truncateToInt(y)} + 64, 64, 1010);
  *Cb = clampCode(s64{truncateToInt(cb)} + 512, 64, 960);
  *Cr = clampCode(s64{truncateToInt(cr)} + 512, 64, 960);
}

// Rising and falling edges of a sector of 60 degrees.
float rising(float h, float from) { return (h - from) / 60.0f * FULL; }
float falling(float h, float from) { return (1.0f - (h - from) / 60.0f) * FULL; }

float mix(float v, float sat, float lum) { return ((FULL - v) * (100.0f - sat) / 100.0f + v) * lum / 100.0f; }

void convert(const Coefficients& k, int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr) {
  float h = static_cast<float>(hue) / 10.0f;
  float s = static_cast<float>(sat) / 10.0f;
  float l = static_cast<float>(lum) / 10.0f;
  // Puts white at 100 % on Y 940 rather than 942.
  if (sat == 0) l = l * 0.998f;
  float r = hueToRed(h, s, l);
  float g = hueToGreen(h, s, l);
  float b = hueToBlue(h, s, l);
  matrix(k, r, g, b, Y, Cb, Cr);
}

}  // namespace

void normalizeHue(float* hueDegrees) {
  float h = *hueDegrees;
  if (!std::isfinite(h)) h = 0.0f;
  // Far from the circle the steps of 360 would take long or stop changing the value.
  if (std::fabs(h) > 3600.0f) h = std::fmod(h, 360.0f);
  for (;;) {
    if (h < 0.0f) {
      h += 360.0f;
    } else if (h > 360.0f) {
      h -= 360.0f;
    } else {
      break;
    }
  }
  *hueDegrees = h;
}

float hueToRed(float h, float sat, float lum) {
  normalizeHue(&h);
  float v;
  if (h < 60.0f) {
    v = FULL;
  } else if (h < 120.0f) {
    v = falling(h, 60.0f);
  } else if (h < 240.0f) {
    v = 0.0f;
  } else if (h < 300.0f) {
    v = rising(h, 240.0f);
  } else {
    v = FULL;
  }
  return mix(v, sat, lum);
}

float hueToGreen(float h, float sat, float lum) {
  normalizeHue(&h);
  float v;
  if (h < 120.0f) {
    v = 0.0f;
  } else if (h < 180.0f) {
    v = rising(h, 120.0f);
  } else if (h < 300.0f) {
    v = FULL;
  } else {
    v = falling(h, 300.0f);
  }
  return mix(v, sat, lum);
}

float hueToBlue(float h, float sat, float lum) {
  normalizeHue(&h);
  float v;
  if (h < 60.0f) {
    v = rising(h, 0.0f);
  } else if (h < 180.0f) {
    v = FULL;
  } else if (h < 240.0f) {
    v = falling(h, 180.0f);
  } else {
    v = 0.0f;
  }
  return mix(v, sat, lum);
}

void rgbToYCbCr709(float R, float G, float B, u16* Y, u16* Cb, u16* Cr) { matrix(BT709, R, G, B, Y, Cb, Cr); }
void rgbToYCbCr601(float R, float G, float B, u16* Y, u16* Cb, u16* Cr) { matrix(BT601, R, G, B, Y, Cb, Cr); }

void colorToYCbCr709(int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr) { convert(BT709, hue, sat, lum, Y, Cb, Cr); }
void colorToYCbCr601(int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr) { convert(BT601, hue, sat, lum, Y, Cb, Cr); }

void colorToYCbCr(int systemFormat, int hue, int sat, int lum, u16* Y, u16* Cb, u16* Cr) {
  // The same few colours are converted every frame: the codes of recent ones are kept, by a hash
  // of the colour, and a colour met again takes them (the conversion depends on nothing else).
  struct Kept {
    int hue, sat, lum;
    bool sd, valid;
    u16 y, cb, cr;
  };
  static Kept kept[64];
  const bool sd = systemFormat == 6 || systemFormat == 7;
  const u32 hash = static_cast<u32>(hue) * 7u + static_cast<u32>(sat) * 131u + static_cast<u32>(lum) * 31u + sd;
  Kept& k = kept[hash % std::size(kept)];
  if (!k.valid || k.hue != hue || k.sat != sat || k.lum != lum || k.sd != sd) {
    k = {hue, sat, lum, sd, true, 0, 0, 0};
    convert(sd ? BT601 : BT709, hue, sat, lum, &k.y, &k.cb, &k.cr);
  }
  *Y = k.y;
  *Cb = k.cb;
  *Cr = k.cr;
}
