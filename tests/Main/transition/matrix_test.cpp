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

}  // namespace
