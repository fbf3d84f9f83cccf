#include "Main/transition/matrix.h"

#include <algorithm>
#include <cmath>

#include "Lib/Include/check.h"

namespace {

constexpr float SINGULAR = 0.000001f;
constexpr float NEAR_ONE = 0.999999f;

float sinf64(float a) { return static_cast<float>(std::sin(static_cast<double>(a))); }
float cosf64(float a) { return static_cast<float>(std::cos(static_cast<double>(a))); }
float sqrtf64(float a) { return static_cast<float>(std::sqrt(static_cast<double>(a))); }

// The axes of each order, the first applied first.
constexpr const char* ORDER_AXES[15] = {"x", "y", "z", "xy", "xz", "yz", "yx", "zx", "zy",
                                        "xyz", "xzy", "yzx", "yxz", "zxy", "zyx"};

// m := the product that fill writes, through a stack temporary.
template <size_t N, class Fill>
void viaTemporary(float (&m)[N], Fill fill) {
  float t[N];
  fill(t);
  std::copy_n(t, N, m);
}

void multiply3(float* out, const float* a, const float* b) {
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) out[3 * r + c] = a[3 * r] * b[c] + a[3 * r + 1] * b[3 + c] + a[3 * r + 2] * b[6 + c];
  }
}

void elementary(Matrix3& m, char axis, float angle) {
  const float s = sinf64(angle), c = cosf64(angle);
  switch (axis) {
    case 'x':
      m[0] = 1, m[1] = 0, m[2] = 0, m[3] = 0, m[4] = c, m[5] = s, m[6] = 0, m[7] = -s, m[8] = c;
      break;
    case 'y':
      m[0] = c, m[1] = 0, m[2] = -s, m[3] = 0, m[4] = 1, m[5] = 0, m[6] = s, m[7] = 0, m[8] = c;
      break;
    default:
      m[0] = c, m[1] = s, m[2] = 0, m[3] = -s, m[4] = c, m[5] = 0, m[6] = 0, m[7] = 0, m[8] = 1;
      break;
  }
}

// The rotation of an order into out's first nine elements; false for an order outside 0..14.
bool rotation(float* out, int order, float ax, float ay, float az) {
  if (order < EULER_X || order > EULER_ZYX) return false;
  Matrix3 r = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (const char* axis = ORDER_AXES[order]; *axis != 0; ++axis) {
    Matrix3 e;
    elementary(e, *axis, *axis == 'x' ? ax : *axis == 'y' ? ay : az);
    postMultiplyMatrix3(r, e);
  }
  std::copy_n(r, 9, out);
  return true;
}

void multiplyAffineInto(float* out, const AffineMatrix& a, const AffineMatrix& b) {
  multiply3(out, a, b);
  for (int c = 0; c < 3; ++c) out[9 + c] = a[9] * b[c] + a[10] * b[3 + c] + a[11] * b[6 + c] + b[9 + c];
}

void printRows(FILE* stream, const float* m, int rows) {
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < 3; ++c) {
      const float v = m[3 * r + c];
      std::fprintf(stream, "%12g ", -SINGULAR < v && v < SINGULAR ? 0.0 : static_cast<double>(v));
    }
    std::fputc('\n', stream);
  }
  std::fflush(stream);
}

}  // namespace

int invertMatrix3(Matrix3& out, const Matrix3& m) {
  const float c00 = m[4] * m[8] - m[5] * m[7], c10 = -(m[1] * m[8] - m[2] * m[7]), c20 = m[1] * m[5] - m[2] * m[4];
  const float det = m[0] * c00 + m[3] * c10 + m[6] * c20;
  if (-SINGULAR < det && det < SINGULAR) return -1;
  const Matrix3 inverse = {
      c00 / det, c10 / det, c20 / det,
      -(m[3] * m[8] - m[5] * m[6]) / det, (m[0] * m[8] - m[2] * m[6]) / det, -(m[0] * m[5] - m[2] * m[3]) / det,
      (m[3] * m[7] - m[4] * m[6]) / det, -(m[0] * m[7] - m[1] * m[6]) / det, (m[0] * m[4] - m[1] * m[3]) / det,
  };
  std::copy_n(inverse, 9, out);
  return 0;
}

int invertMatrix3InPlace(Matrix3& m) { return invertMatrix3(m, m); }

void multiplyMatrix3(Matrix3& out, const Matrix3& a, const Matrix3& b) {
  MX_CHECK(&out != &a && &out != &b);
  multiply3(out, a, b);
}

void postMultiplyMatrix3(Matrix3& a, const Matrix3& b) {
  viaTemporary(a, [&](float* t) { multiply3(t, a, b); });
}

void preMultiplyMatrix3(Matrix3& a, const Matrix3& b) {
  viaTemporary(a, [&](float* t) { multiply3(t, b, a); });
}

void identityAffine(AffineMatrix& m) { scaleAffine(m, 1, 1, 1); }

void scaleAffine(AffineMatrix& m, float sx, float sy, float sz) {
  std::fill_n(m, 12, 0.0f);
  m[0] = sx, m[4] = sy, m[8] = sz;
}

void rotationAffine(AffineMatrix& m, int order, float ax, float ay, float az) {
  rotation(m, order, ax, ay, az);
  m[9] = m[10] = m[11] = 0.0f;
}

void rotationMatrix3(Matrix3& m, int order, float ax, float ay, float az) { rotation(m, order, ax, ay, az); }

void rotationMatrix4(Matrix4& m, int order, float ax, float ay, float az) {
  Matrix3 r;
  if (!rotation(r, order, ax, ay, az)) {
    for (int i = 0; i < 3; ++i) std::copy_n(m + 4 * i, 3, r + 3 * i);
  }
  std::fill_n(m, 16, 0.0f);
  for (int i = 0; i < 3; ++i) std::copy_n(r + 3 * i, 3, m + 4 * i);
  m[15] = 1.0f;
}

void multiplyAffine(AffineMatrix& out, const AffineMatrix& a, const AffineMatrix& b) {
  MX_CHECK(&out != &a && &out != &b);
  multiplyAffineInto(out, a, b);
}

void postMultiplyAffine(AffineMatrix& a, const AffineMatrix& b) {
  viaTemporary(a, [&](float* t) { multiplyAffineInto(t, a, b); });
}

void preMultiplyAffine(AffineMatrix& a, const AffineMatrix& b) {
  viaTemporary(a, [&](float* t) { multiplyAffineInto(t, b, a); });
}

void composeAffine(AffineMatrix& out, const AffineMatrix& a, const AffineMatrix& b) {
  if (&out != &a && &out != &b) {
    multiplyAffineInto(out, a, b);
  } else {
    viaTemporary(out, [&](float* t) { multiplyAffineInto(t, a, b); });
  }
}

int invertAffine(AffineMatrix& out, const AffineMatrix& in) {
  Matrix3 linear;
  std::copy_n(in, 9, linear);
  if (invertMatrix3InPlace(linear) != 0) return -1;
  const float* t = in + 9;
  AffineMatrix r;
  std::copy_n(linear, 9, r);
  for (int c = 0; c < 3; ++c) r[9 + c] = -(t[0] * linear[c] + t[1] * linear[3 + c] + t[2] * linear[6 + c]);
  std::copy_n(r, 12, out);
  return 0;
}

void axisRotationAffine(AffineMatrix& m, float (&axis)[3], float angle) {
  const float n = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
  if (n < NEAR_ONE || n > 1.000001f) {
    if (n < SINGULAR) {
      identityAffine(m);
      return;
    }
    const float k = 1.0f / sqrtf64(n);
    for (float& v : axis) v *= k;
  }
  const float x = axis[0], y = axis[1], z = axis[2];
  const float c = cosf64(angle), s = sinf64(angle), v = 1.0f - c;
  const AffineMatrix r = {
      x * x + (1 - x * x) * c, x * y * v + z * s,       x * z * v - y * s,
      x * y * v - z * s,       y * y + (1 - y * y) * c, y * z * v + x * s,
      x * z * v + y * s,       y * z * v - x * s,       z * z + (1 - z * z) * c,
      0, 0, 0,
  };
  std::copy_n(r, 12, m);
}

void affineToAxisAngle(const AffineMatrix& m, float (&axis)[3], float& angle) {
  const float c = (m[0] + m[4] + m[8] - 1.0f) / 2.0f;
  if (-SINGULAR < c && c < SINGULAR) {
    axis[0] = (m[5] - m[7]) / 2, axis[1] = (m[6] - m[2]) / 2, axis[2] = (m[1] - m[3]) / 2;
    angle = 1.5707964f;
  } else if (c > NEAR_ONE) {
    axis[0] = 1, axis[1] = 0, axis[2] = 0;
    angle = 0.0f;
  } else if (c < -NEAR_ONE) {
    angle = 3.1415927f;
    float x = sqrtf64((m[0] + 1) / 2), y = 0, z = 0;
    if (x > SINGULAR) {
      y = m[3] / (2 * x);
      z = m[6] / (2 * x);
    } else {
      x = 0;
      y = sqrtf64((m[4] + 1) / 2);
      if (y > SINGULAR) {
        z = m[7] / (2 * y);
      } else {
        y = 0;
        z = 1;
      }
    }
    axis[0] = x, axis[1] = y, axis[2] = z;
  } else {
    const float s = sqrtf64(1 - c * c), k = 0.5f / s;
    axis[0] = (m[5] - m[7]) * k, axis[1] = (m[6] - m[2]) * k, axis[2] = (m[1] - m[3]) * k;
    angle = static_cast<float>(std::atan2(static_cast<double>(s), static_cast<double>(c)));
  }
}

namespace {

// The rotation t of the way from a's to b's.
void partialRotation(AffineMatrix& step, float t, const AffineMatrix& a, const AffineMatrix& b) {
  AffineMatrix r;
  identityAffine(r);
  invertAffine(r, a);
  preMultiplyAffine(r, b);
  float axis[3], angle;
  affineToAxisAngle(r, axis, angle);
  axisRotationAffine(step, axis, t * angle);
}

}  // namespace

void interpolateRotation(AffineMatrix& out, float t, const AffineMatrix& a, const AffineMatrix& b) {
  AffineMatrix step;
  partialRotation(step, t, a, b);
  multiplyAffine(out, step, a);
}

void interpolateRotationInPlace(float t, AffineMatrix& a, const AffineMatrix& b) {
  interpolateRotationSafe(a, t, a, b);
}

void interpolateRotationSafe(AffineMatrix& out, float t, const AffineMatrix& a, const AffineMatrix& b) {
  AffineMatrix step;
  partialRotation(step, t, a, b);
  composeAffine(out, step, a);
}

void printMatrix3(FILE* stream, const Matrix3& m) { printRows(stream, m, 3); }
void printAffineMatrix(FILE* stream, const AffineMatrix& m) { printRows(stream, m, 4); }

void printVector3(FILE* stream, const float (&v)[3]) {
  std::fprintf(stream, "(%8g,%8g,%8g)\n", static_cast<double>(v[0]), static_cast<double>(v[1]),
               static_cast<double>(v[2]));
}
