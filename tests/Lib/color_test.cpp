#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "Lib/Include/color.h"

namespace {

using Codes = std::array<int, 3>;

Codes convert(int format, int hue, int sat, int lum) {
  u16 y, cb, cr;
  colorToYCbCr(format, hue, sat, lum, &y, &cb, &cr);
  return {y, cb, cr};
}

TEST(ColorConversion, WorkedCodesOfBothSets) {
  const std::tuple<const char*, int, int, int, Codes, Codes> cases[] = {  // what, hue, sat, lum, bt601, bt709
      {"black", 1234, 700, 0, {64, 512, 512}, {64, 512, 512}},
      {"white", 0, 0, 1000, {940, 512, 512}, {940, 512, 512}},
      {"sat 1", 0, 1, 1000, {941, 512, 512}, {941, 512, 512}},
      {"lum 1079", 0, 0, 1079, {1010, 512, 512}, {1010, 512, 512}},
      {"lum 1080", 0, 0, 1080, {1010, 512, 512}, {1010, 512, 512}},
      {"red", 0, 1000, 1000, {326, 361, 960}, {250, 409, 960}},
      {"magenta", 600, 1000, 1000, {426, 809, 888}, {314, 858, 920}},
      {"blue", 1200, 1000, 1000, {164, 960, 439}, {127, 960, 471}},
      {"cyan", 1800, 1000, 1000, {679, 663, 64}, {755, 615, 64}},
      {"green", 2400, 1000, 1000, {579, 215, 136}, {692, 166, 104}},
      {"yellow", 3000, 1000, 1000, {842, 64, 585}, {879, 64, 553}},
      {"half red", 0, 500, 1000, {634, 437, 736}, {596, 461, 736}},
      {"hue 3600", 3600, 1000, 1000, {326, 361, 960}, {250, 409, 960}},
      {"hue -600", -600, 1000, 1000, {842, 64, 585}, {879, 64, 553}},
  };
  // Formats 6 and 7 (480 and 576 lines) take the first set, every other format the second.
  for (const auto& [what, hue, sat, lum, bt601, bt709] : cases) {
    for (int format = 0; format <= 11; ++format) {
      EXPECT_EQ(convert(format, hue, sat, lum), format == 6 || format == 7 ? bt601 : bt709) << what << format;
    }
  }
}

TEST(ColorConversion, HueFarOffTheCircleStillEnds) {
  float hue = 1e30f;
  normalizeHue(&hue);
  EXPECT_TRUE(0.0f <= hue && hue <= 360.0f);
  EXPECT_EQ(convert(0, 2000000000, 1000, 1000), convert(0, 2000000000 % 3600, 1000, 1000));
}

}  // namespace
