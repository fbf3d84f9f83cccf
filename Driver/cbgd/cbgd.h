#pragma once
// Colour background driver: the two generators MX_CBGD_1 and MX_CBGD_2, each a flat colour, a
// two-colour wash or a wash through a fixed colour curve with a moving phase. Setters change the
// shadow only; mxCbgdUpdate (stage 3 of mxUpdate) writes both generators every frame, and
// mxCbgdInit (Driver/blocks.h) loads the waveform tables for the video format.
#include "Driver/core/core.h"

// Generator modes.
constexpr int MX_CBGD_FLAT = 8496, MX_CBGD_WASH = 8481, MX_CBGD_WASH2 = 8498, MX_CBGD_CURVE = 8499;

// Colour 1 and colour 2 as 10-bit Y, Cb, Cr.
void mxCbgdSetColors(int target, int y1, int cb1, int cr1, int y2, int cb2, int cr2);
void mxCbgdSetMode(int target, int mode);
// The curve wash's range: size and centre as fractions 0..1 (the centre kept inside the frame).
void mxCbgdSetWashRange(int target, float size, float centre);
// Wash geometry: rate (at least 0.1), position and direction in degrees.
void mxCbgdSetWash(int target, float rate, float position, float direction);

// Test support: the generators as at program start.
void mxCbgdReset();
