#pragma once
// SD down-conversion of outputs MX_OUT_14 and MX_OUT_16: on/off with the SDI transmitter re-lock,
// aspect conversion (MX_OUTCONV_SQUEEZE, _SIDE_CROP, _LETTERBOX) for formats 0..3, phase, filter
// level and scale mode, and the polyphase filters. The setters write the converter at once.
// mxOutConvInit (Driver/blocks.h) sets up the SD output path for the format.
#include "Driver/core/core.h"

void mxOutConvSetEnable(int id, int on);
// Other modes act as MX_OUTCONV_SQUEEZE; formats 4 and above change nothing.
void mxOutConvSetAspectMode(int id, int mode);
// Levels 1..5 (detail factors 0.0 .. 0.8); others act as 1.
void mxOutConvSetFilterLevel(int id, int level);
// MX_OUTCONV_PHASE_1 or MX_OUTCONV_PHASE_2.
void mxOutConvSetPhaseMode(int id, int mode);
void mxOutConvSetScaleMode(int id, int on, float ratio);

// The kernel tables of the filters: 6144 samples of x = -6 + i / 512. Low-pass: the Lanczos kernel
// L(3, x); detail: (L(3, x) - L(3, x / 2)) / 2, 0 at the centre. Each of the three filters (first and
// second horizontal, vertical) takes low-pass + f x detail for the level's factor f.
constexpr int OUTCONV_KERNEL_SAMPLES = 6144;
const float* mxOutConvLowPass();
const float* mxOutConvDetail();

// Test support: both units as at program start.
void mxOutConvReset();
