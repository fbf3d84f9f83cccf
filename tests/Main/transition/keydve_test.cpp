#include "Main/transition/keydve.h"

#include <gtest/gtest.h>

#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

// Key 1 of format 0 at full size and full density.
class KeyDveTest : public EngineTest {
 protected:
  void SetUp() override { EngineTest::SetUp(), rec.dveSize = 10000, rec.adjust.density = 1000; }
  void load(float p = 1.0f, u8 inset = 0) { loadKeyDveSettings(s, rec, sys, inset, p); }
  // The key's writer over freshly loaded settings.
  void draw(u8 inset = 0) { load(1.0f, inset), calllog::clear(), applyKeyDve(s, 1.0f); }
  void shaped(u8 type) { rec.dveShapeOn = type != 0, rec.dveShapeType = type; }
  void expectCrop(std::vector<float> edges) {
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(s.crop[i], edges[i], 1e-6f) << "edge " << i;
  }
  MxifKey rec;
  MxifSystem sys;
  KeyDveSetting s;
};

TEST_F(KeyDveTest, KindBySizeScaleRotationAndChannel) {
  // Whole turns, keys 3 and 4 and a 4:3 inset stay plain (kind 0); a shaped key (shapeType) is 2-D
  // and a scaled, turned or larger one 3-D; only a 3-D key grows past full size.
  struct Case { u16 channel; s32 size; s16 scaleX, rotation[3]; u8 shapeType, inset, kind; float sizeAfter; };
  const Case cases[] = {
      {0, 10000, 0, {0, 0, 0}, 0, 0, 0, 1.0f},     {0, 10000, 0, {3600, 0, 0}, 0, 0, 0, 1.0f},
      {1, 10000, 0, {0, -7200, 0}, 0, 0, 0, 1.0f}, {0, 10000, 0, {0, 0, -3600}, 0, 0, 0, 1.0f},
      {0, 10000, 0, {0, 0, 3599}, 0, 0, 2, 1.0f},  {0, 10000, 9000, {0, 0, 0}, 0, 0, 2, 1.0f},
      {0, 20000, 0, {0, 0, 0}, 0, 0, 2, 2.0f},     {2, 20000, 9000, {0, 0, 450}, 0, 0, 0, 1.0f},
      {0, 20000, 0, {0, 0, 0}, 2, 0, 1, 1.0f},     {1, 10, 0, {0, 0, 0}, 1, 0, 1, 0.004f},
      {0, 5000, 9000, {0, 0, 450}, 0, 1, 0, 1.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channel << " " << c.size << " " << c.rotation[2]);
    rec.channel = c.channel, rec.dveSize = c.size, rec.dveScale.first = c.scaleX;
    std::copy_n(c.rotation, 3, rec.dveRotation), shaped(c.shapeType), load(1.0f, c.inset);
    EXPECT_EQ(s.kind, c.kind);
    EXPECT_FLOAT_EQ(s.sizeX, c.sizeAfter);
  }
  // Tenths of a degree to radians: x from 150, y from 148, each negated; z from 152.
  rec.dveRotation[0] = 100, rec.dveRotation[1] = 200, rec.dveRotation[2] = 300, load();
  const float radians[3] = {-0.34906584f, -0.17453292f, 0.52359876f};
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(s.rotation[i], radians[i]);
}

TEST_F(KeyDveTest, TravelMovesAndGrowsTheKeyAndHoldsItsLevel) {
  rec.travelOn = 1, rec.transIn.mode = 1;
  rec.dvePosition[0] = 5000, rec.travel12[0] = -5000, rec.travel12Rev[0] = 2000;
  load(0.5f);
  EXPECT_EQ(std::pair(s.centreX, s.sizeX), std::pair(0.5f, 0.5f));
  float p = 0.5f;
  applyKeyDveCommon(s, p);
  expectArgs(last("mxKeySetLevel"), {1.0f});
  // Reversed, the reverse start: 2000 + trunc(0.25 x 3000).
  rec.reverse = 1, rec.transOut.mode = 1, load(0.25f);
  EXPECT_FLOAT_EQ(s.centreX, 0.5f + 0.275f);
  // Without the travel the key stands at its place and the level follows the position.
  rec.travelOn = 0, load(0.25f);
  EXPECT_FLOAT_EQ(s.centreX, 1.0f);
  applyKeyDveCommon(s, p = 0.25f);
  expectArgs(last("mxKeySetLevel"), {0.25f});
}

TEST_F(KeyDveTest, CropsByModeTypeAndInset) {
  // Crop edges left, right, top, bottom: the 4:3 crop of the format (mode 1); shaped, half width by
  // format class and top by type; in the inset, class 6 and a = 0.8888889 for format 0, then mapped
  // into the inset.
  struct Case { u32 format; u8 shapeType, cropMode, inset; std::vector<float> crop; } cases[] = {
      {0, 0, 1, 0, {-0.3646f, 0.3646f, -0.48892796f, 0.48987296f}},
      {4, 0, 1, 0, {-0.3646f, 0.3646f, -0.4888889f, 0.49041888f}},
      {6, 0, 1, 0, {-0.47951388f, 0.47826388f, -0.47756934f, 0.47767434f}},
      {7, 0, 1, 0, {-0.48186168f, 0.48061165f, -0.48273277f, 0.48451278f}},
      {0, 1, 0, 0, {-0.28f, 0.28f, -0.5f, 0.5f}}, {6, 2, 0, 0, {-0.2671f, 0.2671f, -0.4488f, 0.5f}},
      {7, 4, 0, 0, {-0.205f, 0.205f, -0.3868f, 0.5f}},
      {0, 3, 0, 1, {-0.39902656f, -0.22597344f, -0.47551471f, -0.04907407f}},
      {1, 0, 0, 1, {-0.5f, -0.125f, -0.5f, 0.03333335f}}, {0, 0, 1, 1, {-0.5f, -0.125f, -0.5f, -0.04907407f}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.format << " type " << int(c.shapeType) << " mode " << int(c.cropMode));
    sys.format = static_cast<u8>(c.format), rec.dveShapeOn = c.shapeType != 0 || c.cropMode != 0;
    rec.dveShapeType = c.shapeType, rec.dveShape.mode = c.cropMode, load(1.0f, c.inset);
    expectCrop(c.crop);
  }
}

TEST_F(KeyDveTest, BorderSoftnessAndTheFrameEdges) {
  rec.dveBorder.softness = 40;  // 0.005
  struct Case { s16 x, y, rotation; u8 format, scaled; float border, softness; } cases[] = {
      {0, 0, 0, 0, 0, 0, 0.007f},              // centre (0.5, 0.5): grown
      {100, 0, 0, 6, 0, 0, 0.009f},
      {-5000, 5000, 0, 0, 0, 0, 0.005f},       // centre (0, 0), whole, uncropped: as loaded
      {0, 0, 450, 0, 0, 0.008f, 0.007f},       // 3-D: the border of 0.01 halved
      {0, 0, 450, 0, 1, 0.0055f, 0.0045f}};    // with the size (0.5)
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << " " << c.y << " " << c.rotation << " " << int(c.format));
    rec.dvePosition[0] = c.x, rec.dvePosition[1] = c.y, rec.dveRotation[2] = c.rotation;
    sys.format = c.format, rec.dveBorderScale = c.scaled, rec.dveSize = c.scaled != 0 ? 5000 : 10000;
    rec.dveShapeOn = rec.dveBorder.on = c.border > 0, rec.dveBorder.width = c.border > 0 ? 80 : 0, load();
    EXPECT_NEAR(s.border, c.border, 1e-7f);
    EXPECT_NEAR(s.softness, c.softness, 1e-7f);
  }

  // A full-size key whose crop edges lie on the frame border: they move beyond it.
  rec = MxifKey{}, sys.format = 0, rec.dveSize = rec.dveScale.first = rec.dveScale.second = 10000;
  rec.dveShapeOn = 1, rec.dveShape.mode = 2;
  const s16 edges[4] = {-5000, 5000, -5000, 5000};  // left, top, bottom, right
  std::copy_n(edges, 4, rec.dveCrop);
  load();
  expectCrop({-1, 1, -1, 1});
  rec.dveCrop[0] = -4000, rec.dvePosition[1] = 100, load();  // above the centre: the bottom edge is off the border
  expectCrop({-0.4f, 1, -1, 0.5f});
  rec.dveShape.mode = 0, load();  // no crop: every edge on its side
  expectCrop({-1, 1, -1, 0.5f});
}

TEST_F(KeyDveTest, CommonAndPlainWriters) {
  rec.dveShapeOn = 1, rec.adjust.density = 600, load();
  float p = 0.5f;
  applyKeyDveCommon(s, p);
  expectLast({{"mxKeySetLevel", {0.5f}}, {"mxKeySetPreview", {1}}, {"mxDveSetEnable", {1, 0}}, {"mxTransSetLatency", {1}},
              {"mxTransSetType", {5387, 0, 0.002f}}, {"mxTransSetLevel", {0.6f}}, {"mxTransSetPatternSize", {1, 1, 0, 0}},
              {"mxKeySetClipGain", {4, -1023, 1, 0, 0.6f}}, {"mxKeySetMask", {0, 0, 1, 1, 0, 0}}});

  // Plain, half size at x 1000; then as a 4:3 inset of format 0.
  rec.dveShapeOn = 0, rec.dveSize = 5000, rec.dvePosition[0] = 1000, draw();
  ASSERT_EQ(s.kind, 0);
  expectLast({{"mxFilterSetParameters", {0.35f, 0.25f, 0.5f, 0.5f}}, {"mxTransSetPatternPosition", {0.6f, 0.5f}},
              {"mxTransSetKeyPositionXY", {0.5f, 0.5f}}, {"mxFilterSetKeyDveFlag", {0}}});
  EXPECT_EQ(std::pair(calls("mxDveReset").size(), calls("mxDveSetMatrix").size()), std::pair(1ul, 1ul));
  rec.dvePosition[0] = 0, draw(1);
  expectLast({{"mxFilterSetParameters", {0.33333334f, 0.27453703f, 0.8888889f, 1}}, {"mxFilterSetKeyDveFlag", {1}}});
  // Keys 3 and 4 have no DVE transform.
  rec.channel = 2, draw();
  EXPECT_EQ(std::pair(calls("mxDveSetMatrix").size(), last("mxDveSetEnable").target), std::pair(0ul, int{MX_KEY3}));
}

TEST_F(KeyDveTest, ShapedAnd3DKeysThroughTheProjection) {
  // Shaped type 5391 at full size, no rotation: a shift of the pattern to the frame centre, and
  // the safe window one pixel in at the right and the top.
  shaped(1), draw();
  ASSERT_EQ(s.kind, 1);
  // Softness 0.004: cropped, plus the area's 0.002.
  expectLast({{"mxTransSetPatternMatrix", {1, 0, 960, 0, 1, 540}, 1e-3f}, {"mxTransSetType", {5391, 0, 0.004f}},
              {"mxDveSetWindow", {0, 1, 1919, 1079, 0, 0}, 1e-3f}});
  EXPECT_EQ(s.softness, 0.0f);

  // 3-D, turned a quarter about z: the projected frame fills the frame, the softness of 0.004
  // (0.002 off the frame's centre, 0.002 of the area) shrinks the window by 0.004 in width and
  // 0.004 x 1920 in height.
  shaped(0), rec.dveRotation[2] = 900, draw();
  ASSERT_EQ(s.kind, 2);
  expectLast({{"mxDveSetAspect", {1}}, {"mxDveSetWindow", {0.002f, 4.84f, 1918.996f, 1071.32f, 0.004f, 0}, 2e-3f}});
  EXPECT_EQ(s.type, MX_TRANS_MIX);  // kept for the next frame
  EXPECT_STREQ(calls().back().function, "mxTransSetModulation");

  // Seen edge-on: an empty window and nothing more.
  rec.dveRotation[2] = 0, rec.dveRotation[0] = 900, draw();
  EXPECT_STREQ(calls().back().function, "mxDveSetWindow");
  expectArgs(last("mxDveSetWindow"), {-960, -540, 0, 0, 0, 0});
  EXPECT_TRUE(calls("mxKeySetLevel").empty());
}

}  // namespace
