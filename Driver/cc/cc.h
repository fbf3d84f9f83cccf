#pragma once
// Colour correction units on inputs MX_IN_25..MX_IN_32 and outputs MX_OUT_13..MX_OUT_16: three
// 256-entry tone curves, six coefficients, twelve hue-sector 2 x 2 matrices, luminance gain and
// pedestal, colour-space mode and enable. Unlike the other blocks these setters write the unit's
// registers at once; there is no shadow and no per-frame writer. A target with no unit fails its
// check and writes nothing. Each setter notes its call in the driver call log.
#include "Driver/core/core.h"

constexpr int CC_CURVE_ENTRIES = 256;
constexpr int CC_SECTORS = 12;

// Enable value; the two timing words of the format.
void mxColorCorrectSetEnable(int target, int value);
// Loads the three curves (CC_CURVE_ENTRIES floats each, 1.0 = 100 %), then the load trigger. Runs
// from the main loop inside a frame-deferring stretch: the frame work also uses the unit's table port.
void mxColorCorrectSetCurves(int target, const float* c0, const float* c1, const float* c2);
// Coefficient MX_CC_COEFF_1..MX_CC_COEFF_6.
void mxColorCorrectSetGain(int target, int id, float value);
// The 2 x 2 matrix m (four floats, row by row) of hue sector 0..11.
void mxColorCorrectSetHueMatrix(int target, int sector, const float* m);
void mxColorCorrectSetLevel(int target, float gain, float pedestal);
// MX_CC_MATRIX_NORMAL .. MX_CC_MATRIX_SD.
void mxColorCorrectSetMatrixMode(int target, int mode);
// Enable 1, coefficients 0, identity sector matrices, gain 1.0 and pedestal 0.
void mxColorCorrectReset(int target);

// Test support: the units' kept enable values as at program start.
void mxCcReset();
