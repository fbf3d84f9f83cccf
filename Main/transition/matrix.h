#pragma once
// Matrix and vector math of the DVE geometry: 3 x 3 matrices (the projective mapping the DVE
// takes), 3-D affine transforms (scale, rotation, translation of a picture) and 4 x 4 rotations.
// Single-precision floats in caller-owned arrays, row-major; vectors are row vectors (a point p
// maps to p * M). Sines, cosines, arc tangents and roots are computed in double and stored as float.
// Nothing is allocated and nothing is kept.
#include <cstdio>

// Element [r][c] at index 3r + c.
using Matrix3 = float[9];
// Linear part L at 0..8 (row-major), translation t at 9..11: (x, y, z) maps to (x, y, z) * L + t.
// "a then b" is the product a * b: linear part aL * bL, translation at * bL + bt.
using AffineMatrix = float[12];
using Matrix4 = float[16];

// Which elementary rotations a builder combines, the first named applied first (row vectors:
// EULER_XYZ is Rx * Ry * Rz). Angles of axes not named are ignored.
enum EulerOrder : int {
  EULER_X = 0, EULER_Y = 1, EULER_Z = 2,
  EULER_XY = 3, EULER_XZ = 4, EULER_YZ = 5, EULER_YX = 6, EULER_ZX = 7, EULER_ZY = 8,
  EULER_XYZ = 9, EULER_XZY = 10, EULER_YZX = 11, EULER_YXZ = 12, EULER_ZXY = 13, EULER_ZYX = 14,
};

// Inverse by the adjugate over the determinant (cofactors along the first column): 0; -1 with out
// untouched when |det| < 1e-6. out may be in.
int invertMatrix3(Matrix3& out, const Matrix3& in);
int invertMatrix3InPlace(Matrix3& m);
// out = a * b; out must be a third array (checked).
void multiplyMatrix3(Matrix3& out, const Matrix3& a, const Matrix3& b);
void postMultiplyMatrix3(Matrix3& a, const Matrix3& b);  // a := a * b
void preMultiplyMatrix3(Matrix3& a, const Matrix3& b);   // a := b * a

void identityAffine(AffineMatrix& m);
// Linear part diag(sx, sy, sz), translation 0.
void scaleAffine(AffineMatrix& m, float sx, float sy, float sz);
// Linear part the rotation of an order 0..14 (radians); translation 0. Another order leaves the
// linear part as it was.
void rotationAffine(AffineMatrix& m, int order, float ax, float ay, float az);
void rotationMatrix3(Matrix3& m, int order, float ax, float ay, float az);
// The rotation in the upper-left 3 x 3, [3][3] = 1, the rest 0.
void rotationMatrix4(Matrix4& m, int order, float ax, float ay, float az);
// out = a then b; out must be a third array (checked).
void multiplyAffine(AffineMatrix& out, const AffineMatrix& a, const AffineMatrix& b);
void postMultiplyAffine(AffineMatrix& a, const AffineMatrix& b);  // a := a then b
void preMultiplyAffine(AffineMatrix& a, const AffineMatrix& b);   // a := b then a
// out = a then b; out may be a or b.
void composeAffine(AffineMatrix& out, const AffineMatrix& a, const AffineMatrix& b);
// Linear part inverted as by invertMatrix3, translation -t * L^-1: 0; -1 with out untouched.
int invertAffine(AffineMatrix& out, const AffineMatrix& in);
// Rotation by angle about an axis, which is normalised in place when its length is not 1; an
// axis of almost zero length gives the identity.
void axisRotationAffine(AffineMatrix& m, float (&axis)[3], float angle);
// Axis and angle (0..pi) of the rotation in the linear part.
void affineToAxisAngle(const AffineMatrix& m, float (&axis)[3], float& angle);
// The rotation t of the way from a's to b's (about the axis of b then a^-1), then a: t = 0 gives
// a, t = 1 gives b's rotation with a's translation. out must be a third array (checked).
void interpolateRotation(AffineMatrix& out, float t, const AffineMatrix& a, const AffineMatrix& b);
void interpolateRotationInPlace(float t, AffineMatrix& a, const AffineMatrix& b);
// As interpolateRotation; out may be a or b.
void interpolateRotationSafe(AffineMatrix& out, float t, const AffineMatrix& a, const AffineMatrix& b);

// Rows of "%12g " fields, a value within 1e-6 of 0 as 0; the stream is flushed.
void printMatrix3(FILE* stream, const Matrix3& m);
void printAffineMatrix(FILE* stream, const AffineMatrix& m);  // four rows, the translation last
// "(%8g,%8g,%8g)\n", not flushed.
void printVector3(FILE* stream, const float (&v)[3]);
