// The pattern and projection matrices and the kind-3 geometry families.
#include "Main/transition/dvegeo.h"
#include "Main/transition/pattern.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <tuple>
#include <vector>

#include "Main/transition/updater.h"
#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

constexpr float PI = std::numbers::pi_v<float>;

TEST(PatternMatrixTest, CentredAndHalfBuilders) {
  PatternMatrix centred, half;
  buildPatternMatrixCentred(centred, 2, 1, 0, 1920, 1080, 1, 1);
  buildPatternMatrixHalf(half, 2, 1, 0, 1920, 1080, 1, 2);
  const float want[2][6] = {{0.5f, 0, -480, 0, 1, 0}, {0.5f, 0, 480, 0, 1, 1080}};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(std::pair(centred.m[i], half.m[i]), std::pair(want[0][i], want[1][i])) << i;
}

TEST(PatternMatrixTest, SpinStepAndAccumulatorPerAxis) {
  struct Phase { float value, acc, after; } phases[] = {{40, 0, 0}, {20, 0, 0.5f}, {-20, 0, -0.5f}, {20, 0.6f, 0.1f}, {1e-7f, 0.3f, 0}};
  for (const Phase& c : phases) {
    float v = c.value, acc = c.acc;
    advancePhase(v, acc);
    EXPECT_NEAR(v, c.after, 1e-6f) << c.value;
    EXPECT_NEAR(acc, c.after, 1e-6f) << c.value;
  }
  BkgdTransition u;  // rotation mode 2 turns by the spin step, draws the pattern 2.1 times larger, thins the border
  u.rotationMode = 2, u.border = 0.21f;
  float angle = 0.2f, a = 1, b = 1;
  applyRotationMode(u, angle, a, b, 0.5f);
  u.spinAccumulator[0] = 0.5f, u.spinAccumulator[1] = 0, u.spinAccumulator[2] = 0.2f;
  float x = 4, y = 20, z = 40;
  applyRotationMode3(u, x, y, z, 0.5f);  // one accumulator per axis
  const std::pair<float, float> worked[] = {{angle, 0.005f}, {a, 2.1f}, {b, 2.1f}, {u.border, 0.1f}, {x, 0.6f}, {y, 0.5f}, {z, 0.2f}};
  for (auto [got, want] : worked) EXPECT_NEAR(got, want, 1e-6f) << want;
}

// A determinant within 1e-6 of 0 inverts nothing and leaves the output alone; an axis is
// normalised in place, and one of almost no length gives the identity.
TEST(MatrixTest, SingularBoundAndAxisNormalisation) {
  for (auto [det, inverted] : {std::pair(5e-7f, false), {-5e-7f, false}, {2e-6f, true}}) {
    const Matrix3 m = {det, 0, 0, 0, 1, 0, 0, 0, 1};
    Matrix3 out = {7, 7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(invertMatrix3(out, m), inverted ? 0 : -1) << det;
    EXPECT_NEAR(inverted ? out[0] * det : out[0], inverted ? 1.0f : 7.0f, 1e-6f) << det;
  }
  struct Axis { float axis[3], unit[3], rows[9]; } axes[] = {
      {{0, 0, 2}, {0, 0, 1}, {0, 1, 0, -1, 0, 0, 0, 0, 1}}, {{0, 0, 0}, {0, 0, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}}};
  for (Axis& c : axes) {
    AffineMatrix r;
    std::fill_n(r, 12, 5.0f);
    axisRotationAffine(r, c.axis, PI / 2);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c.axis[i], c.unit[i]) << i;
    for (int i = 0; i < 12; ++i) EXPECT_NEAR(r[i], i < 9 ? c.rows[i] : 0.0f, 1e-6f) << c.unit[2] << " " << i;
  }
}

// A column-vector mapping takes output pixel (x, y) to source pixel (u, v) after dehomogenising.
void expectMaps(const float* m, double x, double y, double u, double v, double tolerance) {
  const double w = m[6] * x + m[7] * y + m[8];
  EXPECT_NEAR((m[0] * x + m[1] * y + m[2]) / w, u, tolerance) << "x " << x << " y " << y;
  EXPECT_NEAR((m[3] * x + m[4] * y + m[5]) / w, v, tolerance) << "x " << x << " y " << y;
}

// Visible poses: the pre-filter factors and the mapping (scaled to m8 = 1), the homography of the
// projected corners onto the shrunk source. At rest the mapping is the identity; a flat picture of
// size 0.5 is pre-filtered by 0.5, one of 0.04 by no less than 0.05. Edge-on or tiny: not projected.
TEST(ProjectQuadTest, PosesMapTheirCornersOntoTheShrunkSource) {
  struct Pose { float sx, sy, rx, ry, rz, tx, ty, w, h, fx, fy; float m[8]; } poses[] = {
      {1, 1, 0, 0, 0, 0, 0, 1920, 1080, 1, 1, {1, 0, 0, 0, 1, 0, 0, 0}},
      {0.5f, 0.5f, 0, 0, 0, 0, 0, 1920, 1080, 0.5f, 0.5f, {1, 0, -480, 0, 1, -270, 0, 0}},
      {0.04f, 0.04f, 0, 0, 0, 0, 0, 1920, 1080, 0.05f, 0.05f, {1.25f, 0, -1152, 0, 1.25f, -648, 0, 0}},
      {0.8f, 0.6f, 0.3f, -0.5f, 0.7f, 0.1f, -0.2f, 1920, 1080, 0.5415432f, 0.4415366f,
       {0.4885866f, 0.5346382f, -235.3381f, -0.4819427f, 0.5545019f, 605.1887f, -1.668087e-05f, -5.435046e-05f}},
      // Corner 3 at 20.59 degrees: both factors times 20.59 / 35.
      {1.0f, 1.0f, 1.2f, 1.2f, 0, 0, 0, 1920, 1080, 0.2338326f, 0.5490764f,
       {0.6208535f, -1.505303f, 416.5902f, 0.06161093f, 1.178304f, -431.5985f, 0.0002077936f, -0.0005734488f}},
  };
  for (const Pose& p : poses) {
    SCOPED_TRACE(testing::Message() << p.rx << " " << p.ry << " " << p.rz);
    QuadProjection q;
    ASSERT_EQ(projectQuad(q, p.sx, p.sy, p.rx, p.ry, p.rz, p.tx, p.ty, p.w, p.h), 1);
    EXPECT_NEAR(q.filterX, p.fx, 1e-4f);
    EXPECT_NEAR(q.filterY, p.fy, 1e-4f);
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(q.matrix[i] / q.matrix[8], p.m[i], 1e-4 * (1 + std::fabs(p.m[i]))) << i;
  }
  QuadProjection q;
  EXPECT_EQ(projectQuad(q, 1, 1, 0, PI / 2, 0, 0, 0, 1920, 1080), 0);
  std::fill_n(q.matrix, 9, 7.0f);
  EXPECT_EQ(projectQuad(q, 0.0001f, 0.0001f, 0, 0, 0, 0, 0, 720, 488), 0);
  EXPECT_EQ(std::tuple(q.matrix[4], q.filterX), std::tuple(7.0f, 1.0f));  // left as it was
}

// A background updater of kind 3 over format 0: full area, stored softness 2, no border.
class DveGeometryTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    u.isBkgd = 1, u.kind = 3, u.mode = 1, u.latency = 1, u.soft = 2.0f, u.aspectScale = 1.0f;
    u.modPattern[0] = u.modPattern[1] = MX_TRANS_MOD_SINE;
  }
  void frame(u8 effect, float p) {
    u.effect = effect, u.window[0] = 0, u.window[1] = 1, u.window[2] = 0, u.window[3] = 1;  // the full area
    calllog::clear(), u.applyDveGeometry(p);
  }
  BkgdTransition u;
};

// Each family ends with its own transform; other effects write only their end states.
TEST_F(DveGeometryTest, FamiliesAndTheEndStatesOfOtherEffects) {
  struct Case { u8 effect; float p; const char* last; } cases[] = {
      {3, 0.5f, "mxDveSetMatrixFloat"}, {5, 0.5f, "mxDveSetMatrixFloat"}, {7, 0.5f, "mxDveSetMatricesFloat"},
      {10, 0.5f, "mxDveSetRotation"},   {4, 1.0f, "mxDveReset"},          {4, 0.0f, "mxDveClearTransform"},
      {12, 0.5f, ""}, {15, 0.0f, "mxDveClearTransform"}, {21, 1.0f, "mxDveReset"},
      {22, 0.0f, "mxDveClearTransform"}, {23, 1.0f, "mxDveReset"}};
  for (const Case& c : cases) {
    frame(c.effect, c.p);
    EXPECT_STREQ(calllog::size() == 0 ? "" : calls().back().function, c.last) << int(c.effect) << " at " << c.p;
    EXPECT_EQ(calls("mxDveSetWindow").size(), c.effect < 12 || c.effect > 21 ? 1u : 0u) << int(c.effect);
    for (const calllog::Call& call : calls()) EXPECT_EQ(call.context, MX_CONTEXT_ME1);
  }
  // Past its end the flip sends nine zeros (the unit transform) before the reset.
  frame(4, 1.0f);
  expectArgs(last("mxDveSetMatrixFloat"), {0, 0, 0, 0, 0, 0, 0, 0, 0});
  u.kind = 1, frame(6, 0.5f);  // the twin tilt runs only for kind 3
  EXPECT_EQ(calllog::size(), 0u);
}

TEST_F(DveGeometryTest, FlipSqueezesAndTurnsThePicture) {
  // u = 0.5: a = pi / 4, k = 0.1 + 0.9 cos a = 0.7363961; the edges move in by 2 lines.
  const float p = 540.0f / 1084.0f;
  // x, y: the projected top-left corner, lift its source row.
  struct Case { u8 effect; u32 format; float aspect, filterW, filterH; std::vector<float> window; float x, y, lift; };
  const Case cases[] = {{4, 0, 0.7363961f, 0.7363961f, 1, {1, 3, 1411.8805f, 1074, 2, 0}, 135.40902f, -115.95811f, -1},
                        {5, 0, 1.3579648f, 1, 0.7363961f, {1, 2.4727922f, 1918, 790.3622f, 2, 0}, -206.14774f, 76.16757f, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.effect));
    u.format = c.format, frame(c.effect, p);
    expectArgs(last("mxDveSetAspect"), {c.aspect});
    expectArgs(last("mxFilterSetParameters"), {0, 0, c.filterW, c.filterH});
    expectArgs(last("mxDveSetWindow"), c.window, 2e-3f);
    expectMaps(last("mxDveSetMatrixFloat").args, c.x, c.y, 0, c.lift, 1e-2);
  }
  // Reversed, 0.25 runs at 0.75 (u = 0.7527778, k = 0.9329865); its end states swap.
  u.reverse = 1, frame(4, 0.25f);
  expectArgs(last("mxDveSetAspect"), {0.9329865f});
  frame(4, 1.0f);
  const size_t clearedAtOne = calls("mxDveClearTransform").size();
  frame(4, 0.0f);
  EXPECT_EQ(std::pair(clearedAtOne, calls("mxDveReset").size()), std::pair(1ul, 1ul));
}

TEST_F(DveGeometryTest, SpinTurnsTowardsItsCornerAndTravels) {
  // Full size (the edges at the corner leave the frame), offset 500 (o = 1), angle 10, level on.
  const MxifModify mod = {0xF, 1, 1000, 500, 10};
  std::memcpy(u.modify, &mod, sizeof mod);
  // At p = 0: travel o S / W + c; x, y the window's corner.
  struct Case { u8 effect; u32 format; float aspect, angle, travel, x, y; } cases[] = {
      {8, 0, 1.0f, 55, 0.1328125f + 1.1473474f, 1, 1},       {9, 4, 1.0f, 145, 0.1328125f + 1.1473474f, -639, 1},
      // The window's top moves in by half the softness over the aspect.
      {10, 6, 1.125f, 235, 0.17916667f + 1.25f, -359, -243.11111f},
      {11, 6, 0.945f, 325, 0.17916667f + 1.3825f, 1, -242.94180f},
      {8, 7, 0.9375f, 55, 0.17916667f + 1.6318f, 1, 1.0666667f},
      {8, 7, 1.0f, 55, 0.17916667f + 1.33f, 1, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.effect) << " format " << c.format);
    u.format = c.format, u.aspectScale = c.aspect, frame(c.effect, 0.0f);
    expectArgs(last("mxDveSetRotation"), {c.angle, c.travel, 1, 1}, 1e-5f);
    EXPECT_NEAR(last("mxDveSetWindow").args[0], c.x, 1e-3f);
    EXPECT_NEAR(last("mxDveSetWindow").args[1], c.y, 1e-3f);
  }
}

TEST_F(DveGeometryTest, TiltsStandAtRestAtTheEndAndTurnAwayAtTheStart) {
  // At u >= 1 (raw position still below 1) every mapping is the identity of the frame.
  for (u8 effect = 0; effect < 8; ++effect) {
    SCOPED_TRACE(int(effect));
    frame(effect, 0.999f);
    const bool twin = effect >= 6;
    const calllog::Call m = last(twin ? "mxDveSetMatricesFloat" : "mxDveSetMatrixFloat");
    const float* second = twin ? m.args + 9 : m.args;
    expectMaps(m.args, 0, 0, 0, 0, 1e-2);
    expectMaps(second, 1920, 1080, 1920, 1080, 1e-2);
  }
  // At u = 0 the tilt has swung 120 degrees onto its hinge at the left frame edge, and the flip
  // stands edge-on at the centre line: the picture's far edge is seen within pixels of them.
  struct Case { u8 effect; float p, near; } cases[] = {{0, 0.0f, 0}, {4, 0.001f, 960}};
  for (const Case& c : cases) {
    frame(c.effect, c.p);
    Matrix3 inverse, forward;
    std::copy_n(last("mxDveSetMatrixFloat").args, 9, forward);
    ASSERT_EQ(invertMatrix3(inverse, forward), 0);
    const float wp = last("mxFilterSetParameters").args[2] * 1920;
    const float x = (inverse[0] * wp - inverse[1] + inverse[2]) / (inverse[6] * wp - inverse[7] + inverse[8]);
    EXPECT_NEAR(x, c.near, 3.0f) << int(c.effect);
  }
}

}  // namespace
