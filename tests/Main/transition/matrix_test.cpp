#include "Main/transition/matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "Lib/Include/check.h"

namespace {

constexpr float PI = std::numbers::pi_v<float>;

void expectNear(const float* m, std::vector<float> expected, float tolerance = 1e-5f) {
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(m[i], expected[i], tolerance) << "element " << i;
}
std::vector<float> of(const float* m, int n = 12) { return {m, m + n}; }

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
    Matrix3 r3;
    rotationMatrix3(r3, order, 0.3f, -0.7f, 1.1f);
    Matrix4 r4;
    rotationMatrix4(r4, order, 0.3f, -0.7f, 1.1f);
    for (int i = 0; i < 9; ++i) {
      const double want = ref[3 * (i % 3) + i / 3];
      EXPECT_NEAR(m[i], want, 1e-6);
      EXPECT_NEAR(r3[i], want, 1e-6);
      EXPECT_NEAR(r4[4 * (i / 3) + i % 3], want, 1e-6);
    }
    expectNear(m + 9, {0, 0, 0}, 0);
    expectNear(r4 + 12, {0, 0, 0, 1}, 0);
    EXPECT_EQ(r4[3] + r4[7] + r4[11], 0.0f);
  }
  AffineMatrix kept = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  rotationAffine(kept, 15, 1, 1, 1);
  expectNear(kept, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}, 0);
}

TEST(MatrixTest, AffineComposition) {
  AffineMatrix a, b, out, c, inverse;
  scaleAffine(a, 2, 2, 2);
  a[9] = 1, a[10] = 2, a[11] = 3;
  rotationAffine(b, EULER_Z, 0, 0, PI / 2);
  b[9] = 10;
  multiplyAffine(out, a, b);  // scale and move, then turn and move: (1, 0, 0) goes to (8, 3, 3)
  expectNear(out, {0, 2, 0, -2, 0, 0, 0, 0, 2, 8, 1, 3});
  std::copy_n(b, 12, c);
  preMultiplyAffine(c, a);
  expectNear(c, of(out));
  std::copy_n(a, 12, c);
  postMultiplyAffine(c, b);
  composeAffine(a, a, b);
  expectNear(a, of(c), 0);
  EXPECT_THROW(multiplyAffine(a, a, b), assert::AssertException);
  EXPECT_EQ(invertAffine(inverse, out), 0);
  composeAffine(c, out, inverse);
  expectNear(c, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
  AffineMatrix flat, untouched = {};
  scaleAffine(flat, 1, 1, 0);
  EXPECT_EQ(invertAffine(untouched, flat), -1);
  expectNear(untouched, std::vector<float>(12, 0.0f), 0);
}

TEST(MatrixTest, AxisAngleAndInterpolation) {
  AffineMatrix m, turn;
  float axis[3] = {0, 0, 2}, none[3] = {0, 0, 0};
  axisRotationAffine(m, axis, PI / 2);
  expectNear(axis, {0, 0, 1}, 0);
  rotationAffine(turn, EULER_Z, 0, 0, PI / 2);
  expectNear(m, of(turn));
  axisRotationAffine(m, none, 1.0f);
  expectNear(m, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}, 0);
  // The three special cases and the general one.
  struct Case {
    float axis[3], angle, expectedAxis[3], expectedAngle;
  } cases[] = {
      {{1, 1, 1}, PI / 2, {0.57735f, 0.57735f, 0.57735f}, 1.5707964f}, {{0, 0, 1}, 0, {1, 0, 0}, 0},
      {{0, 0.6f, 0.8f}, PI, {0, 0.6f, 0.8f}, PI},                       {{1, 0, 0}, PI, {1, 0, 0}, PI},
      {{1, 2, 2}, 0.8f, {1.0f / 3, 2.0f / 3, 2.0f / 3}, 0.8f},
  };
  for (Case& c : cases) {
    float out[3], angle;
    axisRotationAffine(m, c.axis, c.angle);
    affineToAxisAngle(m, out, angle);
    EXPECT_FLOAT_EQ(angle, c.expectedAngle);
    expectNear(out, of(c.expectedAxis, 3), 1e-3f);
  }
  AffineMatrix a, b, out;
  rotationAffine(a, EULER_XYZ, 0.2f, 0.1f, 0.3f);
  a[9] = 5, a[10] = 6, a[11] = 7;
  rotationAffine(b, EULER_XYZ, -0.4f, 0.9f, 1.2f);
  b[9] = -1;
  interpolateRotation(out, 0, a, b);
  expectNear(out, of(a));
  interpolateRotation(out, 1, a, b);
  expectNear(out, {b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], 5, 6, 7});
  EXPECT_THROW(interpolateRotation(a, 0.5f, a, b), assert::AssertException);
  // Half way about one axis is half the angle.
  rotationAffine(a, EULER_Z, 0, 0, 0.2f);
  rotationAffine(b, EULER_Z, 0, 0, 1.0f);
  rotationAffine(turn, EULER_Z, 0, 0, 0.6f);
  interpolateRotationSafe(b, 0.5f, a, b);
  expectNear(b, of(turn));
  rotationAffine(b, EULER_Z, 0, 0, 1.0f);
  interpolateRotationInPlace(0.5f, a, b);
  expectNear(a, of(turn));
}

}  // namespace
