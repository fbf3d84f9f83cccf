#pragma once
// Multiview driver: the four multiview outputs MX_MULTI1 .. MX_MULTI4 and the extended display's
// composition MX_MULTI_GUI, each four rows of up to five windows of one size (eight on a row of
// MX_MULTI_GUI). Setters change the row records; mxMvUpdate (stage 5) writes them every frame.
// mxMvInitFormat, mxMvReset and mxMvUpdate are declared in Driver/blocks.h.
#include "Driver/blocks.h"
#include "Driver/core/core.h"

constexpr int N_ROW = 4;

// One row of an output: window size by size code (MX_MV_SIZE_1_2 .. MX_MV_SIZE_1_6), start line,
// count windows at xs[i] (pixels) showing sources[i]. Eight windows on MX_MULTI_GUI make the fixed
// eight-window row, which the first eight calls after a reset leave alone.
void mxMvSetRow(int target, int row, int size, int start, int count, const int* xs, const int* sources);
// Holds every output's enable off for four frames (the genlock driver, when the timing moves).
void mxMvBlank();

// Test support: the row records as at program start.
void mxMvResetDriver();
