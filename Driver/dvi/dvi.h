#pragma once
// DVI inputs MX_DVI_IN_1 and MX_DVI_IN_2: receivers set up over I2C at the format initialisation
// (mxDviInit, Driver/blocks.h), the measured input timing, the scaler to the output format, sync
// offset, options, signal range and the EDID memory. The setters write the input's registers at once.
// Without a signal (PERIOD 0) the sizes, the interlace flag and the rates read 0.
#include "Driver/core/core.h"

// Totals and active size; the height counts both fields of an interlaced input.
void mxDviGetTotalSize(int channel, int* width, int* height);
void mxDviGetActiveSize(int channel, int* width, int* height);
int mxDviIsInterlaced(int channel);
float mxDviGetFieldRate(int channel);          // 1000 / period in microseconds
float mxDviGetVerticalFrequency(int channel);  // Hz
int mxDviIsLocked(int channel);

// The scaler for position (x, y) and size (sx, sy) as fractions of the output frame; without a
// signal the scaler stays as it is. mxDviApplyScaler makes the hardware take it.
void mxDviSetScaler(int channel, float x, float y, float sx, float sy);
void mxDviApplyScaler(int channel);
// Moves the input's sync by h pixels and v lines (both 0: off); without a signal only off.
void mxDviSetSyncOffset(int channel, int h, int v);
void mxDviSetOptions(int channel, int on, int flag);
void mxDviSetRange(int channel, int range);  // 0 or 1

constexpr int DVI_EDID_BYTES = 256;
// Writes the input's EDID memory and reads it back: 0 verified, 1 at the first byte that differs
// (logged on the console), -1 for no data or another channel.
int mxDviWriteEdid(int channel, const u8* data);
