#pragma once
// Perspective projection of a flat picture placed in 3-D space: the 3 x 3 mapping from output
// pixels to source pixels and the pre-filter factors that the DVE takes. The effect families of
// kind 3 (tilt, flip, twin tilt, spin) are TransitionUpdater::applyDveGeometry (updater.h).
#include "Main/transition/matrix.h"

struct QuadProjection {
  int visible = 0;        // 1 shown, 0 not shown
  float filterX = 1.0f;   // pre-filter factors 0.05..1.0
  float filterY = 1.0f;
  float areaRatio = 1.0f; // projected area over the scaled picture's area
  // Maps a column vector (u, v, 1) of output pixels, from the frame's top-left corner, to
  // homogeneous source pixels of the pre-filtered (shrunk) source.
  Matrix3 matrix = {};
};

// A W x H picture scaled by (sx, sy), turned about X, then Y, then Z (radians) and offset by
// (tx, ty) frame widths and heights from the centre, seen from 2.5 frame diagonals. Returns
// q.visible. A picture smaller than a pixel or seen edge-on is not shown (the matrix is then not
// written, or zero when the corners are degenerate).
int projectQuad(QuadProjection& q, float sx, float sy, float rx, float ry, float rz, float tx, float ty, float w,
                float h);
// The same with one size and the angles in turns.
int projectQuadTurns(QuadProjection& q, float size, float rx, float ry, float rz, float tx, float ty, float w,
                     float h);

// The mapping that takes three projected corners of a picture (screen x, y about the frame centre,
// and depth z) to their source points (u, v), perspective-correct, for output pixels from the
// frame's top-left corner (column vectors). False, and out untouched, when the corners are in line.
bool perspectiveMapping(Matrix3& out, const float (&corners)[3][3], const float (&sources)[3][2], float w,
                        float h);
