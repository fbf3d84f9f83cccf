// The matrix helpers, the projection of a picture and the kind-3 geometry families.
#include "Main/transition/dvegeo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "Lib/Include/check.h"
#include "Main/transition/updater.h"
#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

constexpr float PI = std::numbers::pi_v<float>;

void expectNear(const float* m, std::vector<float> expected, float tolerance = 1e-5f) {
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(m[i], expected[i], tolerance) << "element " << i;
}

TEST(MatrixTest, InverseAndProducts) {
  Matrix3 out = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  const Matrix3 nearlySingular = {5e-7f, 0, 0, 0, 1, 0, 0, 0, 1}, small = {2e-6f, 0, 0, 0, 1, 0, 0, 0, 1};
  EXPECT_EQ(invertMatrix3(out, nearlySingular), -1);
  expectNear(out, std::vector<float>(9, 7.0f));
  EXPECT_EQ(invertMatrix3(out, small), 0);
  EXPECT_NEAR(out[0], 5e5f, 1.0f);
  // det = -3; every cofactor differs, so a misplaced one shows.
  const Matrix3 a = {2, 1, 0, 1, 3, 1, 0, 1, 1}, b = {1, 2, 0, 0, 1, 0, 3, 0, 1};
  Matrix3 m = {2, 1, 0, 1, 3, 1, 0, 1, 1};
  EXPECT_EQ(invertMatrix3InPlace(m), 0);
  expectNear(m, {2.0f / 3, -1.0f / 3, 1.0f / 3, -1.0f / 3, 2.0f / 3, -2.0f / 3, 1.0f / 3, -2.0f / 3, 5.0f / 3});
  multiplyMatrix3(out, a, b);
  expectNear(out, {2, 5, 0, 4, 5, 1, 3, 1, 1});
  std::copy_n(a, 9, m);
  postMultiplyMatrix3(m, b);
  expectNear(m, {2, 5, 0, 4, 5, 1, 3, 1, 1});
  std::copy_n(a, 9, m);
  preMultiplyMatrix3(m, b);  // b * a
  expectNear(m, {4, 7, 2, 1, 3, 1, 6, 4, 1});
  EXPECT_THROW(multiplyMatrix3(m, m, b), assert::AssertException);
}

// The row-vector builders against column-vector elementary rotations applied in the order named:
// the transpose of their product taken in reverse.
TEST(MatrixTest, EulerOrdersAgainstColumnVectorRotations) {
  const char* orders[15] = {"x", "y", "z", "xy", "xz", "yz", "yx", "zx", "zy", "xyz", "xzy", "yzx", "yxz", "zxy", "zyx"};
  const double angle[3] = {0.3, -0.7, 1.1};
  for (int order = 0; order < 15; ++order) {
    SCOPED_TRACE(orders[order]);
    double ref[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (const char* a = orders[order]; *a != 0; ++a) {
      const double c = std::cos(angle[*a - 'x']), s = std::sin(angle[*a - 'x']);
      const double e[3][9] = {{1, 0, 0, 0, c, -s, 0, s, c}, {c, 0, s, 0, 1, 0, -s, 0, c}, {c, -s, 0, s, c, 0, 0, 0, 1}};
      double n[9];
      for (int i = 0; i < 9; ++i) {
        n[i] = 0;
        for (int k = 0; k < 3; ++k) n[i] += e[*a - 'x'][3 * (i / 3) + k] * ref[3 * k + i % 3];
      }
      std::copy_n(n, 9, ref);
    }
    AffineMatrix m;
    std::fill_n(m, 12, 9.0f);
    rotationAffine(m, order, 0.3f, -0.7f, 1.1f);
    for (int i = 0; i < 9; ++i) {
      EXPECT_NEAR(m[i], ref[3 * (i % 3) + i / 3], 1e-6);
    }
    expectNear(m + 9, {0, 0, 0}, 0);
  }
  AffineMatrix kept = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  rotationAffine(kept, 15, 1, 1, 1);
  expectNear(kept, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}, 0);
}

// Scale then turn: (1, 0, 0) goes to (0, 2, 0) and the translation follows the turn.
TEST(MatrixTest, AffineProducts) {
  AffineMatrix a, b;
  scaleAffine(a, 2, 2, 2);
  a[9] = 1, a[10] = 2, a[11] = 3;
  rotationAffine(b, EULER_Z, 0, 0, PI / 2);
  b[9] = 10;
  postMultiplyAffine(a, b);
  expectNear(a, {0, 2, 0, -2, 0, 0, 0, 0, 2, 8, 1, 3});
}

// A column-vector mapping takes output pixel (x, y) to source pixel (u, v) after dehomogenising.
void expectMaps(const float* m, double x, double y, double u, double v, double tolerance) {
  const double w = m[6] * x + m[7] * y + m[8];
  EXPECT_NEAR((m[0] * x + m[1] * y + m[2]) / w, u, tolerance) << "x " << x << " y " << y;
  EXPECT_NEAR((m[3] * x + m[4] * y + m[5]) / w, v, tolerance) << "x " << x << " y " << y;
}

TEST(ProjectQuadTest, RestSizeAndEdgeOn) {
  QuadProjection q;
  ASSERT_EQ(projectQuad(q, 1, 1, 0, 0, 0, 0, 0, 1920, 1080), 1);
  EXPECT_EQ(std::tuple(q.areaRatio, q.filterX, q.filterY), std::tuple(1.0f, 1.0f, 1.0f));
  expectMaps(q.matrix, 0, 0, 0, 0, 1e-3);
  expectMaps(q.matrix, 1920, 1080, 1920, 1080, 1e-2);
  EXPECT_EQ(projectQuad(q, 1, 1, 0, PI / 2, 0, 0, 0, 1920, 1080), 0);
  std::fill_n(q.matrix, 9, 7.0f);
  EXPECT_EQ(projectQuad(q, 0.0001f, 0.0001f, 0, 0, 0, 0, 0, 720, 488), 0);
  EXPECT_EQ(std::tuple(q.matrix[4], q.filterX), std::tuple(7.0f, 1.0f));  // not projected
  for (auto [size, filter] : {std::pair(0.5f, 0.5f), std::pair(0.01f, 0.05f)}) {
    ASSERT_EQ(projectQuad(q, size, size, 0, 0, 0, 0, 0, 1920, 1080), 1) << size;
    EXPECT_EQ(std::tuple(q.filterX, q.filterY), std::tuple(filter, filter));
  }
}

// Visible poses: the pre-filter factors and the mapping (scaled to m8 = 1), the homography of the
// projected corners onto the shrunk source.
TEST(ProjectQuadTest, PosesMapTheirCornersOntoTheShrunkSource) {
  struct Pose { float sx, sy, rx, ry, rz, tx, ty, w, h, fx, fy; float m[8]; } poses[] = {
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
}

// A background updater of kind 3 over format 0: full area, stored softness 2, no border.
class DveGeometryTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    u.isBkgd = 1, u.kind = 3, u.mode = 1, u.latency = 1;
    u.soft = 2.0f, u.aspectScale = 1.0f;
    u.modPattern[0] = u.modPattern[1] = MX_TRANS_MOD_SINE;
  }
  void frame(u8 effect, float p) {
    u.effect = effect;
    const float full[4] = {0, 1, 0, 1};
    std::copy_n(full, 4, u.window);
    calllog::clear();
    u.applyDveGeometry(p);
  }
  BkgdTransition u;
};

// Each family ends with its own transform; other effects write only their end states.
TEST_F(DveGeometryTest, FamiliesAndTheEndStatesOfOtherEffects) {
  struct Case { u8 effect; float p; const char* last; } cases[] = {
      {3, 0.5f, "mxDveSetMatrixFloat"}, {5, 0.5f, "mxDveSetMatrixFloat"}, {7, 0.5f, "mxDveSetMatricesFloat"},
      {10, 0.5f, "mxDveSetRotation"},   {4, 1.0f, "mxDveReset"},          {4, 0.0f, "mxDveClearTransform"},
      {12, 0.5f, ""}, {15, 0.0f, "mxDveClearTransform"}, {21, 1.0f, "mxDveReset"},
  };
  for (const Case& c : cases) {
    frame(c.effect, c.p);
    EXPECT_STREQ(calllog::size() == 0 ? "" : calls().back().function, c.last) << int(c.effect) << " at " << c.p;
    EXPECT_EQ(calls("mxDveSetWindow").size(), c.effect < 12 ? 1u : 0u) << int(c.effect);
    for (const calllog::Call& call : calls()) EXPECT_EQ(call.context, MX_CONTEXT_ME1);
  }
  // Past its end the flip sends nine zeros (the unit transform) before the reset.
  frame(4, 1.0f);
  expectArgs(last("mxDveSetMatrixFloat"), {0, 0, 0, 0, 0, 0, 0, 0, 0});
  // The twin tilt runs only for kind 3.
  u.kind = 1;
  frame(6, 0.5f);
  EXPECT_EQ(calllog::size(), 0u);
}

TEST_F(DveGeometryTest, FlipSqueezesAndTurnsThePicture) {
  // u = 0.5: a = pi / 4, k = 0.1 + 0.9 cos a = 0.7363961; the edges move in by 2 lines.
  const float p = 540.0f / 1084.0f;
  // x, y: the projected top-left corner, lift its source row.
  struct Case { u8 effect; u32 format; float aspect, filterW, filterH; std::vector<float> window; float x, y, lift; };
  const Case cases[] = {
      {4, 0, 0.7363961f, 0.7363961f, 1, {1, 3, 1411.8805f, 1074, 2, 0}, 135.40902f, -115.95811f, -1},
      {5, 0, 1.3579648f, 1, 0.7363961f, {1, 2.4727922f, 1918, 790.3622f, 2, 0}, -206.14774f, 76.16757f, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.effect));
    u.format = c.format;
    frame(c.effect, p);
    expectArgs(last("mxDveSetAspect"), {c.aspect});
    expectArgs(last("mxFilterSetParameters"), {0, 0, c.filterW, c.filterH});
    expectArgs(last("mxDveSetWindow"), c.window, 2e-3f);
    expectMaps(last("mxDveSetMatrixFloat").args, c.x, c.y, 0, c.lift, 1e-2);
  }
  // Reversed, 0.25 runs at 0.75 (u = 0.7527778, k = 0.9329865); its end states swap.
  u.reverse = 1;
  frame(4, 0.25f);
  expectArgs(last("mxDveSetAspect"), {0.9329865f});
  frame(4, 1.0f);
  EXPECT_EQ(calls("mxDveClearTransform").size(), 1u);
  frame(4, 0.0f);
  EXPECT_EQ(calls("mxDveReset").size(), 1u);
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
      {8, 7, 1.0f, 55, 0.17916667f + 1.33f, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.effect) << " format " << c.format);
    u.format = c.format, u.aspectScale = c.aspect;
    frame(c.effect, 0.0f);
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
