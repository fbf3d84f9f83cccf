// DVE effects of kind 1 on format 0 (1920 x 1080, the background's loaded softness 2.0 and no
// border unless a case says otherwise), and the kind-3 placements 22 and 23.
#include <gtest/gtest.h>

#include "Driver/core/core.h"
#include "Main/transition/updater.h"
#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

class KeyEffectsTest : public LayerTest {
 protected:
  // The effect alone on the background at p after its load.
  void effect(u8 number, float p, u8 kind = 1) {
    rec.setPattern(number, kind);
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    calllog::clear();
    KeyTransition::applyEffect(bkgd, p);
  }
  void keyEffect(u8 number, float p) {
    loadKeyEffect(number, 1, p);
    KeyTransition::applyEffect(key, p);
  }
  // One frame through the updater's load and apply.
  void frame(u8 number, u8 kind, float p) {
    rec.setPattern(number, kind);
    calllog::clear();
    bkgd.load(rec, sys, p, 1, 0, 0, 0);
    bkgd.apply(0, p, -1.0f);
  }
  static std::vector<float> argsOf(const calllog::Call& c) { return {c.args, c.args + c.count}; }
};

// Growth at 0.5: (1080 + 2) / 1080 for corners and the top edge, (1920 + 2) / 1920 for the left edge,
// (1080 + 2) / 1080 for the right edge too, (1920 + 4) / 1920 for the vertical centre line; the
// picture's corner follows its fixed point. Effect 1 grows in double precision (0.003 gives
// 0.0030055556, not the single-precision 0.0030055554). Effect 5, the end check's picture, is
// whole at 1 and a zero-height window at 0.
TEST_F(KeyEffectsTest, ZoomsGrowByTheirMember) {
  struct Case {
    u8 effect;
    float p;
    std::vector<float> filter;
  } cases[] = {
      {0, 0.5f, {0, 0, 0.50092593f, 0.50092593f}},     {4, 0.5f, {0, 0, 0.50052083f, 1}},
      {6, 0.5f, {0.49907407f, 0, 0.50092593f, 1}},     {8, 0.5f, {0.24947917f, 0, 0.50104167f, 1}},
      {1, 0.003f, {0.99699444f, 0, 0.0030055556f, 0.0030055556f}},
      {5, 1.0f, {0, 0, 1, 1}},                         {5, 0.0f, {0, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    effect(c.effect, c.p);
    SCOPED_TRACE(testing::Message() << int(c.effect) << " at " << c.p);
    expectArgs(last("mxFilterSetParameters"), c.filter, 1e-7f);
    expectArgs(last("mxDveSetMatrix"), {1, 0, 0, 0, 1, 0});
  }
  effect(1, 0.003f);
  EXPECT_EQ(last("mxFilterSetParameters").args[2], 0.0030055556f);
  effect(5, 1.0f);  // g = 1.0018519 over the loaded area: 2W wide from -W/2, no edge shrink
  expectArgs(last("mxDveSetWindow"), {-959, -540, 3838, 1619.0592f, 2, 0}, 1e-3f);
  effect(5, 0.0f);
  expectArgs(last("mxDveSetWindow"), {-959, 1, 3838, 0, 2, 0}, 1e-3f);
}

// Effect 10: the background flies in in 3-D; a key zooms about its pattern position (0.6, 0.45 at
// 0.5 for a travel of (2000, 1000)), its picture half size there.
TEST_F(KeyEffectsTest, EffectTenFliesTheBackgroundAndZoomsAKeyAboutItsPoint) {
  effect(10, 0.5f);
  EXPECT_EQ(calls("mxDveSetMatrixFloat").size(), 1u);
  EXPECT_TRUE(calls("mxDveSetMatrix").empty());
  keyRec.travel12[0] = 2000, keyRec.travel12[1] = 1000;
  keyEffect(10, 0.5f);
  expectArgs(last("mxFilterSetParameters"), {0.35f, 0.2f, 0.5f, 0.5f}, 1e-6f);
  EXPECT_EQ(last("mxFilterSetParameters").target, MX_KEY1);
  EXPECT_TRUE(calls("mxDveSetMatrixFloat").empty());
}

// Shape 5391 (constant 0.5) travels 16/9 / 0.5 frame heights: at 0.5 the pattern has outgrown the
// frame (size 0.8888889 sent as the mix position), the picture stands at rest and its window
// grows about the centre by g = 1.7777778; the pattern's softness has its minimum 0.002.
TEST_F(KeyEffectsTest, ShapedZoomGrowsThePictureInsideItsPattern) {
  effect(11, 0.5f);
  expectArgs(last("mxTransSetType"), {5391, 0, 0.002f});
  expectArgs(last("mxTransSetBkgdPosition"), {0.8888889f, 0, -1});
  expectArgs(last("mxTransSetPatternMatrix"), {1, 0, 960, 0, 1, 540}, 1e-4f);
  expectArgs(last("mxFilterSetParameters"), {0, 0, 1, 1});
  expectArgs(last("mxDveSetWindow"), {-743.1897f, -414.7407f, 3404.775f, 1911.296f, 0.002f, 0}, 2e-3f);
}

// Effects 16..19 run without border and with softness 2.0 whatever the record says: picture 0
// hard-edged, picture 1 with the 2.0.
TEST_F(KeyEffectsTest, SqueezePushesRunWithoutBorderAndWithSoftnessTwo) {
  rec.borderOn = 1, rec.borderWidth = 50, rec.softness = 300;
  for (u8 number = 16; number <= 19; ++number) {
    effect(number, 0.5f);
    SCOPED_TRACE(int(number));
    expectArgs(last("mxTransSetType"), {MX_TRANS_MIX, 0, 2});
    EXPECT_EQ(last("mxDveSetWindow").args[4], 0.0f);
    EXPECT_EQ(last("mxDveSetWindow").args[5], 0.0f);
    EXPECT_EQ(last("mxDveSetDualWindow").args[4], 2.0f);
    EXPECT_EQ(last("mxDveSetDualWindow").args[5], 0.0f);
  }
  // Effect 17 squeezes vertically: at 0.5 picture 1 is 0.5 + 0.5 k of its height, anchored at the
  // bottom, k = 0.0017937 / 0.9972613 + 3 / 1080.
  effect(17, 0.5f);
  EXPECT_NEAR(last("mxFilterSetParameters").args[3], 0.5022882f, 1e-6f);
  EXPECT_NEAR(last("mxFilterSetParameters").args[1], 0.4977118f, 1e-6f);
  // Effects 16 and 18 squeeze sideways: the entering picture (0 of 16, 1 of 18) widens from the
  // left edge in its own window, neither moved nor widened.
  effect(16, 0.5f);
  expectArgs(last("mxDveSetWindow"), {0, -540, 961.0465f, 2160, 0, 0}, 1e-3f);
  effect(18, 0.5f);
  expectArgs(last("mxDveSetDualWindow"), {1, -539, 959.0465f, 2158, 2, 0}, 1e-3f);
}

// The timed move: a first stage to 0.4, held to 0.6, at rest at 1.0. The two-picture moves write
// both pictures for the background (their places and bus flags swapped from 0.4 on), each with the
// frame's loaded border, and leave a key's DVE alone.
TEST_F(KeyEffectsTest, TimedMovesStageHoldAndRest) {
  rec.center[0] = 2000, rec.center[1] = 1000, rec.size1 = 5000;
  effect(23, 0.2f);
  const auto early = calls("mxDveSetWindow");
  effect(23, 0.45f);
  const auto held = calls("mxDveSetWindow");
  ASSERT_EQ(held.size(), 1u);
  EXPECT_NE(argsOf(early.back()), argsOf(held.back()));
  effect(23, 0.6f);
  expectArgs(last("mxDveSetWindow"), argsOf(held.back()), 0);
  effect(23, 1.0f);
  expectArgs(last("mxFilterSetParameters"), {0, 0, 1, 1});
  expectArgs(last("mxDveSetMatrixFloat"), {1, 0, 0, 0, 1, 0, 0, 0, 1});

  rec.borderOn = 1;
  rec.option145 = 2;
  for (float p : {0.2f, 0.5f}) {
    for (s16 width : {10, 30}) {
      rec.borderWidth = width;
      effect(20, p);
      SCOPED_TRACE(testing::Message() << p << " " << width);
      const float b = 0.128f * width;
      EXPECT_NEAR(last("mxDveSetWindow").args[5], b * calls("mxFilterSetParameters").end()[-2].args[2], 1e-4f);
      EXPECT_NEAR(last("mxDveSetDualWindow").args[5], b * last("mxFilterSetParameters").args[2], 1e-4f);
      EXPECT_EQ(last("mxFilterSetParameters").target, MX_BKGD_B);
      EXPECT_EQ(last("mxDveSetMatricesFloat").args[18], MX_DVE_EFFECT_PAIR);
      expectArgs(last("mxDveSetBkgdBuses"), {p < 0.4f ? 1.0f : 0.0f, p < 0.4f ? 0.0f : 1.0f, 2});
    }
  }
  for (u8 number : {20, 21, 22}) {
    keyEffect(number, 0.5f);
    EXPECT_EQ(calllog::size(), 0u) << int(number);
  }
}

// Kind 3: effect 22 places one picture, effect 23 two (in the DVE's two windows), at 0.5 whatever
// the position; the ends keep their end states, and through apply the end check finishes both.
TEST_F(KeyEffectsTest, KindThreePlacementsOfOneAndTwoPictures) {
  rec.patFree1.size = 5000, rec.patFree2.size = 7000;
  rec.patFree2.positionX = 2000;
  for (float p : {0.3f, 0.7f}) {
    frame(22, 3, p);
    EXPECT_EQ(calls("mxDveSetWindow").size(), 1u);
    EXPECT_TRUE(calls("mxDveSetDualWindow").empty());
    const auto single = argsOf(last("mxDveSetWindow"));
    frame(22, 3, 0.5f);
    expectArgs(last("mxDveSetWindow"), single, 0);
    frame(23, 3, p);
    EXPECT_EQ(calls("mxDveSetWindow").size(), 1u);
    EXPECT_EQ(calls("mxDveSetDualWindow").size(), 1u);
    EXPECT_EQ(last("mxDveSetMatricesFloat").args[18], MX_DVE_EFFECT_PAIR);
  }
  // The second picture (size 0.7) comes first unless the ordering byte is set.
  EXPECT_NEAR(last("mxFilterSetParameters").args[2], 0.5f, 1e-3f);
  rec.option144 = 1;
  frame(23, 3, 0.5f);
  EXPECT_NEAR(last("mxFilterSetParameters").args[2], 0.7f, 1e-3f);

  for (u8 number : {22, 23}) {
    frame(number, 3, 0.5f);
    bkgd.applyDveGeometry(0.0f);
    EXPECT_STREQ(calls().back().function, "mxDveClearTransform");
    bkgd.applyDveGeometry(1.0f);
    EXPECT_STREQ(calls().back().function, "mxDveReset");
    frame(number, 3, 1.0f);
    expectArgs(last("mxDveSetMatrix"), {1, 0, 0, 0, 1, 0});
    EXPECT_TRUE(calls("mxDveSetMatricesFloat").empty());
  }
}

}  // namespace
