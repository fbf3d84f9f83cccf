#pragma once
// Extended display: a picture of the switcher's output for the front end, either a reduced picture
// from the glue FPGA's encoder or a JPEG picture, with a status record in the shared window
// (DisplayStatus, Lib/Include/shared.h). mxDisplayInit and mxDisplayUpdate (stage 4 of mxUpdate)
// are in Driver/blocks.h.
#include "Driver/core/core.h"

constexpr int MX_DISPLAY_PICTURE = 13313;  // on, reduced picture (between MX_DISPLAY_NONE and _JPEG)

// MX_DISPLAY_NONE (off), MX_DISPLAY_PICTURE or MX_DISPLAY_JPEG; JPEG pictures every interval frames
// (below 1 counts as 1); the parameter comes back in the status record two JPEG frames later. A
// change into or out of JPEG sets the pipeline up again in the next update.
void mxDisplaySetMode(int display, int interval, int parameter);
// The state word: 0 off, 1 reduced picture, 2 JPEG.
int mxDisplayState();

// Test support: the driver as at program start, and the setter that receives the parameters of the
// display's two filter slots (null: mxFilterSetParameters).
void mxDisplayReset();
using MxDisplayFilterSetter = void (*)(int target, float a, float b, float c, float d);
void mxDisplaySetFilterSetter(MxDisplayFilterSetter setter);
