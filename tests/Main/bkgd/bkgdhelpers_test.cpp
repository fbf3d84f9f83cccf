#include <gtest/gtest.h>

#include <array>

#include "Driver/core/core.h"
#include "Main/bkgd/bkgdhelpers.h"

namespace {

using Edges = std::array<s16, 4>;

TEST(ClampEdges, RangeDragAndSymmetry) {
  struct Case {
    int mode;
    Edges old, in;
    int result;
    Edges out;
  };
  const Case cases[] = {
      // Any edge outside -5000..5000 refuses all four.
      {0, {0, 0, 0, 0}, {5001, 0, 0, 0}, 0, {5001, 0, 0, 0}},
      {0, {0, 0, 0, 0}, {-5000, 5000, -5000, 5000}, 1, {-5000, 5000, -5000, 5000}},
      // Other modes: a changed edge drags its opposite.
      {0, {0, 0, 0, 0}, {100, 0, 0, 0}, 1, {100, 0, 0, 100}},
      {0, {0, 0, 0, 0}, {0, -50, 0, 0}, 1, {0, -50, -50, 0}},
      {0, {-100, 100, -100, 100}, {-200, 200, -200, 200}, 1, {-200, 200, -200, 200}},
      // An unchanged edge out of order is left alone.
      {0, {500, 0, 0, 100}, {500, 0, 0, 100}, 1, {500, 0, 0, 100}},
      // Mode 1: a changed edge sets its partner to its negation, then the sides are clamped at 0.
      {1, {0, 0, 0, 0}, {-100, 0, 0, 0}, 1, {-100, 0, 0, 100}},
      {1, {0, 0, 0, 0}, {100, 0, 0, 0}, 1, {0, 0, 0, 0}},
      {1, {0, 0, 0, 0}, {0, 200, 0, 0}, 1, {0, 200, -200, 0}},
      {1, {-10, 10, -10, 10}, {-10, 10, -40, 10}, 1, {-10, 40, -40, 10}},
  };
  for (const auto& c : cases) {
    Edges e = c.in;
    EXPECT_EQ(libmx::clampEdges(c.mode, c.old.data(), e.data()), c.result);
    EXPECT_EQ(e, c.out) << "mode " << c.mode << " in " << c.in[0] << "," << c.in[1] << "," << c.in[2] << "," << c.in[3];
  }
}

TEST(PatternValid, AllowedNumbersPerGroupAndCode) {
  struct Case {
    u8 number, group;
    int valid;
  };
  const Case cases[] = {
      {0, 0, 1}, {14, 0, 1}, {15, 0, 0}, {16, 0, 1}, {22, 0, 0}, {23, 0, 1},
      {15, 1, 0}, {17, 1, 1}, {23, 1, 1}, {24, 1, 0},
      {15, 2, 1}, {16, 2, 0},
      {16, 3, 1}, {17, 3, 0}, {21, 3, 0}, {22, 3, 1}, {23, 3, 1}, {29, 3, 0},
      {0, 4, 0}, {30, 0, 0}, {31, 1, 0},
  };
  for (const auto& c : cases) {
    const u8 p[2] = {c.number, c.group};
    EXPECT_EQ(libmx::isPatternValid(p, MX_BKGD), c.valid) << int(c.number) << "/" << int(c.group);
  }
  const u8 ok[2] = {0, 0};
  for (int code : {0, static_cast<int>(MX_KEY1_F), MX_BKGD + 1}) EXPECT_EQ(libmx::isPatternValid(ok, code), 0) << code;
}



}  // namespace
