// DVE effects of kind 2 on format 0 (1920 x 1080), without border and with the loaded softness
// 2.0 unless a case says otherwise: slides, pushes and paused pushes.
#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Main/transition/updater.h"
#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

class BkgdEffectsTest : public LayerTest {
 protected:
  // The effect alone at p after the background's load (reverse the direction byte).
  void effect(u8 number, float p, u8 reverse = 0) {
    rec.setPattern(number, 2);
    bkgd.load(rec, sys, p, 1, reverse, 0, 0);
    calllog::clear();
    BkgdTransition::applyEffect(bkgd, p);
  }
  void keyEffect(u8 number, float p) {
    loadKeyEffect(number, 2, p);
    BkgdTransition::applyEffect(key, p);
  }
};

// Effect 0 enters from the top-left corner: x1 = 2 x 3844 / 1084, DX = 1922 + x1, DY = 1084; the
// filter takes the share of the picture left of and above the frame. Effect 6 enters from the
// right edge: x = -2 + 1924 (1 - p), with the left edge, top and bottom uncropped.
TEST_F(BkgdEffectsTest, SlidesFromACornerAndAnEdge) {
  struct Case {
    u8 effect;
    float p;
    std::vector<float> filter, window;
  } cases[] = {
      {0, 0.0f, {-1.0010417f, -1.0018519f, 1, 1}, {-2881.0f, -1621.0f, 0.00001f, 0, 2, 0}},
      {0, 0.5f, {-0.4995964f, -0.5f, 1, 1}, {-1918.2251f, -1079.0f, 2875.1423f, 1616.0627f, 2, 0}},
      {6, 0.5f, {0, 0, 1, 1}, {962.95523f, -539.0f, 2876.0447f, 2158.0f, 2, 0}},
  };
  for (const Case& c : cases) {
    effect(c.effect, c.p);
    SCOPED_TRACE(testing::Message() << int(c.effect) << " at " << c.p);
    expectArgs(last("mxFilterSetParameters"), c.filter, 1e-6f);
    expectArgs(last("mxDveSetWindow"), c.window, 2e-3f);
    expectArgs(last("mxDveSetMatrix"), {1, 0, 0, 0, 1, 0});
  }
}

// Reversed, 0.3 is drawn as 0.7 is forwards; only the two bus flags of the set-up change places.
TEST_F(BkgdEffectsTest, ReverseRunsThePositionBackwardsWithTheBusesSwapped) {
  for (u8 number : {2, 9, 13}) {
    effect(number, 0.7f);
    const auto forwards = calls();
    effect(number, 0.3f, 1);
    const auto backwards = calls();
    ASSERT_EQ(forwards.size(), backwards.size()) << int(number);
    for (size_t i = 0; i < forwards.size(); ++i) {
      const calllog::Call &f = forwards[i], &b = backwards[i];
      ASSERT_STREQ(f.function, b.function);
      std::vector<float> expected(f.args, f.args + f.count);
      if (std::string(f.function) == "mxDveSetBkgdBuses") std::swap(expected[0], expected[1]);
      expectArgs(b, expected);
    }
  }
}

// Effect 8 at 0.5 pushes by D = 1915.1872 - 2: picture 0 enters from the left hard-edged, picture 1
// leaves to the right with the softness, in the second window and the second filter slot. A key's
// DVE takes the same pictures (a key loads no softness).
TEST_F(BkgdEffectsTest, PushDrawsBothPicturesInTheTwoWindows) {
  effect(8, 0.5f);
  expectArgs(last("mxFilterSetParameters"), {0.49822584f, 0, 1, 1}, 1e-6f);
  EXPECT_EQ(last("mxFilterSetParameters").target, MX_BKGD_B);
  expectArgs(last("mxDveSetWindow"), {-1916.5936f, -540, 2877.1423f, 2160, 0, 0}, 2e-3f);
  expectArgs(last("mxDveSetDualWindow"), {959.5488f, -539, 2876.0447f, 2158, 2, 0}, 2e-3f);
  expectArgs(last("mxDveSetEnable"), {2, 0});

  keyEffect(8, 0.5f);
  EXPECT_EQ(last("mxDveSetWindow").target, MX_KEY1);
  expectArgs(last("mxDveSetWindow"), {-1917.5936f, -540, 2877.1423f, 2160, 0, 0}, 2e-3f);
  expectArgs(last("mxDveSetDualWindow"), {959.5488f, -540, 2878.0447f, 2160, 0, 0}, 2e-3f);
}

// Each frame's pictures use that frame's loaded border and softness, both of them.
TEST_F(BkgdEffectsTest, BothPicturesStartFromTheLoadedEdges) {
  rec.borderOn = 1;
  for (u8 number : {10, 15}) {
    for (s16 width : {10, 20}) {
      rec.borderWidth = width;
      effect(number, 0.3f);
      const float doubled = 2 * 0.128f * width;
      EXPECT_NEAR(last("mxDveSetWindow").args[5], doubled, 1e-5f) << int(number) << " " << width;
      EXPECT_NEAR(last("mxDveSetDualWindow").args[5], doubled, 1e-5f) << int(number) << " " << width;
    }
  }
  // Without a border only picture 0 is hard-edged; the softness is the record's.
  rec.borderOn = 0, rec.softness = 500;
  effect(14, 0.3f);
  EXPECT_EQ(last("mxDveSetWindow").args[4], 0.0f);
  EXPECT_NEAR(last("mxDveSetDualWindow").args[4], 66.0f, 1e-4f);
}

// Effect 12 moves at half speed to 0.4, holds half way to 0.6, then goes on. At p 0.2 (q 0.25) the
// crop margins are (0.125, 0.1875); in the pause (0.25, 0.25) with the largest gap; at 1.0
// (0.125, 0). Picture 0 (window 0) enters hard-edged, picture 1 leaves.
TEST_F(BkgdEffectsTest, PausedPushHoldsHalfWayWithItsMargins) {
  struct Case {
    float p;
    std::vector<float> window, dual;
  } cases[] = {
      {0.2f, {-2039, -540, 2520.5f, 2160, 0, 0}, {480.5f, -539, 2638.5f, 2158, 2, 0}},
      {0.5f, {-1440, -540, 2401, 2160, 0, 0}, {960, -539, 2399, 2158, 2, 0}},
      {1.0f, {-960, -540, 2880, 2160, 0, 0}, {1919, -539, 2638, 2158, 2, 0}},
  };
  for (const Case& c : cases) {
    effect(12, c.p);
    SCOPED_TRACE(c.p);
    expectArgs(last("mxDveSetWindow"), c.window, 1e-3f);
    expectArgs(last("mxDveSetDualWindow"), c.dual, 1e-3f);
  }
  effect(12, 0.4f);
  const std::string held = sequence();
  const auto first = calls();
  for (float p : {0.45f, 0.55f, 0.6f}) {
    effect(12, p);
    ASSERT_EQ(sequence(), held);
    const auto now = calls();
    for (size_t i = 0; i < first.size(); ++i) expectArgs(now[i], {first[i].args, first[i].args + first[i].count}, 0);
  }
}

TEST_F(BkgdEffectsTest, EffectsAbove15WriteNothing) {
  for (u8 number : {16, 23, 255}) {
    effect(number, 0.5f);
    EXPECT_EQ(calllog::size(), 0u) << int(number);
  }
}

}  // namespace
