#pragma once
// Key driver: the keyers of each ME context and the downstream keys.
#include "Driver/core/core.h"

// Soft-edged window of a key (MX_KEY1..MX_KEY4): left, top, width and height as fractions of the
// frame, softness 0..1.
void mxKeySetSoftMask(int target, float left, float top, float width, float height, float softness);
