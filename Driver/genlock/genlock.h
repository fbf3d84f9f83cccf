#pragma once
// Genlock: locks the video clock to an external black-burst or tri-level reference by steering the
// reference oscillator's control value from the detector's phase measurements (coarse frequency
// pull-in, then fine phase lock), or runs it from the internal reference. It also sets the output
// timing phase, the reference output and the frame clock of the format, and keeps the averaged
// oscillator value across restarts. mxGenlockReset and mxGenlockUpdate (the untimed tail of
// mxUpdate, main field) are declared in Driver/blocks.h.
#include "Driver/blocks.h"
#include "Driver/core/core.h"

// mode MX_GENLOCK_EXTERNAL or MX_GENLOCK_INTERNAL; sync MX_GENLOCK_BBST .. MX_GENLOCK_TRI; setup
// MX_GENLOCK_NO_SETUP or MX_GENLOCK_SETUP.
void mxGenlockSetMode(int mode, int sync, int setup);
// 1 when locked (always in internal mode), else 0.
int mxGenlockIsLocked();
// Horizontal phase in samples, vertical in lines; applied by the next update.
void mxGenlockSetPhase(int h, int v);
// The frame clock of the current format.
void mxGenlockSetFormatClock();
void mxSetCustomOption(int value);  // no effect

// Test support: the state as at program start.
void mxGenlockResetDriver();
