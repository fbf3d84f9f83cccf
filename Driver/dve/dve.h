#pragma once
// DVE driver: position, scale, rotation and transforms of the picture of an ME background
// (MX_BKGD) and of its keys. Setters change a shadow state per ME context and target (the current
// context); the writers of mxUpdate (mxDveUpdate in stage 4, mxDveUpdateTail in the tail,
// Driver/blocks.h) write the states of the two hardware MEs. Only the background and keys 1 and 2
// (up to MX_KEY_DVE_MAX) have DVE hardware: windows and transforms accept only those.
#include "Driver/core/core.h"

// DVE of a target on when on is set or mode is nonzero; mode 2 shows two pictures.
void mxDveSetEnable(int target, int mode, int on);
// Which background buses pass the DVE (flags a, b) and the direction mode 1, 2 or other.
void mxDveSetBkgdBuses(int target, int a, int b, int dir);
// Window 0 in pixels (single-window mode); window 1 (dual-window mode); window 1 from a position
// only (single-window mode).
void mxDveSetWindow(int target, float x, float y, float width, float height, float scale, float softness);
void mxDveSetDualWindow(int target, float x, float y, float width, float height, float scale, float softness);
void mxDveSetWindowOffset(int target, float x, float y);
// Aspect factor of both windows, or of each; applies to windows set afterwards.
void mxDveSetAspect(int target, float a);
void mxDveSetAspects(int target, float a0, float a1);
// Full-frame window and unit transform of the format.
void mxDveReset(int target);
void mxDveClearTransform(int target);
// A 2 x 3 affine (m0..m5) or 3 x 3 projective (m0..m8) transform into slot 0, or two of them into
// slots 0 and 1 (effect MX_DVE_EFFECT_DUAL selects the dual-transform mode).
void mxDveSetMatrix(int target, const float* m);
void mxDveSetMatrixFloat(int target, const float* m);
void mxDveSetMatrices(int target, const float* a, const float* b, int effect);
void mxDveSetMatricesFloat(int target, const float* a, const float* b, int effect);
// 2-D rotation: angle in degrees, travel offset (fraction of the width), level 0..1, stripe factor.
void mxDveSetRotation(int target, float angle, float offset, float level, float stripe);

// Test support: forgets every state, the format aspect and the phase, as at program start.
void mxDveResetDriver();
