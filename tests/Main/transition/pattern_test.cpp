#include "Main/transition/pattern.h"

#include <gtest/gtest.h>

#include <numbers>

#include "tests/Main/transition/engine_fixture.h"

using namespace transition_test;

namespace {

void expectMatrix(const PatternMatrix& m, std::vector<float> expected, float tolerance = 1e-4f) {
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(m.m[i], expected[static_cast<size_t>(i)], tolerance) << i;
}

TEST(PatternMatrixTest, ProductsAndBuilders) {
  PatternMatrix m;
  patternRotation(m, std::numbers::pi_v<float> / 2);
  expectMatrix(m, {0, 1, 0, -1, 0, 0});
  const PatternMatrix move = {{1, 0, 1, 0, 1, 2}}, stretch = {{3, 0, 0, 0, 4, 0}};
  multiplyPattern(m, move, stretch);  // stretch first
  expectMatrix(m, {3, 0, 1, 0, 4, 2});
  multiplyPattern(m, stretch, move);
  expectMatrix(m, {3, 0, 3, 0, 4, 8});
  buildPatternMatrix(m, 1.3f, 0.8f, 0.1f, 960, 540, 1.125f, 1);
  expectMatrix(m, {0.622321f, 0.50866f, 872.104f, -0.653095f, 1.01127f, -80.8844f}, 2e-3f);
  buildPatternMatrixCentred(m, 2, 1, 0, 1920, 1080, 1, 1);
  expectMatrix(m, {0.5f, 0, -480, 0, 1, 0});
  buildPatternMatrixHalf(m, 2, 1, 0, 1920, 1080, 1, 2);
  expectMatrix(m, {0.5f, 0, 480, 0, 1, 1080});
  buildPatternMatrixAbout(m, 1, 1, 0.25f, 100, 50, 1920, 1080);
  expectMatrix(m, {0, 1, 910, -1, 0, 640}, 1e-3f);
  buildPatternMatrixFramed(m, 1, 1, 0, 100, 50, 1920, 1080, 1, 2);
  expectMatrix(m, {1, 0, 860, 0, 1, 980});
}

TEST(PatternMatrixTest, SpinStepAndRotationModes) {
  struct Phase { float value, acc, after; };
  Phase phases[] = {{40, 0, 0}, {20, 0, 0.5f}, {-20, 0, -0.5f}, {20, 0.6f, 0.1f}, {1e-7f, 0.3f, 0}};
  for (const Phase& c : phases) {
    float v = c.value, acc = c.acc;
    advancePhase(v, acc);
    EXPECT_NEAR(v, c.after, 1e-6f) << c.value;
    EXPECT_NEAR(acc, c.after, 1e-6f) << c.value;
  }

  struct Mode { u8 mode; float angle, size, border; };
  Mode modes[] = {{0, 0, 1, 0.21f}, {1, 0.1f, 2.1f, 0.1f}, {2, 0.005f, 2.1f, 0.1f}, {3, 0.2f, 2.1f, 0.1f}};
  BkgdTransition u;
  for (const Mode& c : modes) {
    u.rotationMode = c.mode, u.border = 0.21f, u.spinAccumulator[2] = 0;
    float angle = 0.2f, a = 1, b = 1;
    applyRotationMode(u, angle, a, b, 0.5f);
    EXPECT_NEAR(angle, c.angle, 1e-6f) << int(c.mode);
    EXPECT_NEAR(a, c.size, 1e-6f);
    EXPECT_NEAR(b, c.size, 1e-6f);
    EXPECT_NEAR(u.border, c.border, 1e-6f);
  }
  u.rotationMode = 2;
  u.spinAccumulator[0] = 0.5f, u.spinAccumulator[1] = 0, u.spinAccumulator[2] = 0.2f;
  float x = 4, y = 20, z = 40;
  applyRotationMode3(u, x, y, z, 0.5f);  // one accumulator per axis
  EXPECT_FLOAT_EQ(x, 0.6f);
  EXPECT_FLOAT_EQ(y, 0.5f);
  EXPECT_FLOAT_EQ(z, 0.2f);
}

// Format 0 (1920 x 1080); area edges l 0.1, r 0.9, t 0.2, b 0.8; softness 2.
class AreaTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    u.soft = 2, u.aspectScale = 1;
    const float edges[4] = {0.1f, 0.9f, 0.2f, 0.8f};
    std::copy_n(edges, 4, u.window);
  }
  static std::vector<float> fields(const AreaRect& a) {
    return {a.filterX, a.filterY, a.filterWidth, a.filterHeight, a.windowX, a.windowY, a.windowWidth, a.windowHeight};
  }
  BkgdTransition u;
};

TEST_F(AreaTest, RectangleBuilders) {
  AreaRect a{};
  auto expect = [&](std::vector<float> want, const char* what) {
    auto got = fields(a);
    for (size_t i = 0; i < 8; ++i) EXPECT_NEAR(got[i], want[i], 1e-3f) << what << " " << i;
  };
  fullAreaRect(u, a);
  expect({0, 0, 1920, 1080, -960, -540, 3840, 2160}, "full");
  collapsedAreaRect(u, a);
  expect({-960, -540, 0, 0, -960, -540, 0, 0}, "collapsed");
  fullAreaRectVertical(u, a);
  expect({-960, 0, 0, 1080, -960, -540, 0, 2160}, "vertical");
  slideAreaWindow(u, a, 0);
  expect({0, 0, 1920, 1080, -2, -540, 1924, 2160}, "slide 0");
  slideAreaWindow(u, a, 1);
  expect({0, 0, 1920, 1080, 192, -540, 1536, 2160}, "slide 1");
  growAreaWindowRight(u, a, 1);
  expect({0, 0, 1920, 1080, -960, -540, 2688, 2160}, "right");
  growAreaWindowLeft(u, a, 1);
  expect({0, 0, 1920, 1080, 192, -540, 2688, 2160}, "left");
  placeAreaRect(u, a, 100, 50, 0.5f, 0.5f);
  expect({100, 50, 960, 540, 196, 158, 768, 324}, "place");
  placeAreaRectFromLeft(u, a, 100, 50, 0.5f, 0.5f);
  expect({4, -58, 960, 540, 100, 50, 768, 324}, "from left");
  placeAreaRectFromRight(u, a, 100, 50, 0.5f, 0.5f);
  expect({-764, -382, 960, 540, -668, -274, 768, 324}, "from right");
}

TEST_F(AreaTest, WindowsAndTheirDriverCalls) {
  struct Case { float border, soft, aspect, width; std::vector<float> window; } cases[] = {
      {2, 2, 0.5f, 100, {8, 16, 104, 58}},
      {0, 4, 2, 100, {12, 21, 96, 48}},
      {0, 4, 2, 3, {12, 21, 0.00001f, 48}},
  };
  const AreaRect base = {960, 540, 1920, 1080, 10, 20, 100, 50};
  for (const Case& c : cases) {
    u.border = c.border, u.soft = c.soft, u.aspectScale = c.aspect;
    AreaRect a = base;
    a.windowWidth = c.width;
    float out[8];
    areaToWindow(u, out, a);
    const std::vector<float> want = {0.5f, 0.5f, 1, 1, c.window[0], c.window[1], c.window[2], c.window[3]};
    for (size_t i = 0; i < 8; ++i) EXPECT_NEAR(out[i], want[i], 1e-6f) << c.width << " " << i;
  }

  u.border = 0, u.soft = 4, u.aspectScale = 2, u.imageOnB = 1;
  calllog::clear();
  applyAreaRect(u, 0, MX_KEY2, base);
  expectLast({{"mxFilterSetParameters", {0.5f, 0.5f, 1, 1}}, {"mxDveSetWindow", {12, 21, 96, 48, 4, 0}},
              {"mxDveSetEnable", {2, 1}}, {"mxDveSetAspect", {1}},
              {"mxDveSetMatrices", {1, 0, 0, 0, 1, 0, 1, 0, 0, 0, 1, 0, MX_DVE_EFFECT_DUAL}}});
  EXPECT_EQ(last("mxDveSetMatrices").target, MX_KEY2);
  calllog::clear();
  applyAreaRect(u, 1, MX_BKGD, base);
  EXPECT_EQ(sequence(), "mxFilterSetParameters\nmxDveSetDualWindow\n");
  EXPECT_EQ(last("mxFilterSetParameters").target, MX_BKGD_B);
  expectArgs(last("mxDveSetDualWindow"), {12, 21, 96, 48, 4, 0});
}

}  // namespace
