#pragma once
// Filter driver: the resizing filters in front of the ME mixers (one slot per background bus and
// key of each ME context, plus the AUX output and extended display filters), their image effects
// (defocus, mosaic, posterize, colour modulation), and the test effects and dust of the background
// buses. Setters address the current ME context (the fixed slots excepted) and change only the
// shadow; mxFilterUpdate (stage 2 of mxUpdate) writes the two hardware MEs every frame and
// mxFilterInitialize (Driver/blocks.h) loads the coefficient banks.
#include "Driver/core/core.h"

// Resize parameters of a slot (MX_BKGD, MX_BKGD_B, MX_KEY1..MX_KEY4, MX_EXT_OUT_3 or
// MX_DISPLAY_FILTER) in frame units: offsets a, b and scales c (at most 1.0), d. The background's
// parameters also reset the B-bus slot; a key's go to the key driver as well.
void mxFilterSetParameters(int target, float a, float b, float c, float d);
// Flags of a key slot: the key DVE flag (fixed steps), and the key driver's flags A (full level)
// and B (full-frame mask).
void mxFilterSetKeyDveFlag(int target, int flag);
void mxFilterSetKeyFlagA(int channel, int flag);
void mxFilterSetKeyFlagB(int channel, int flag);
// Image effect of MX_ABUS, MX_BBUS, MX_KEY1..MX_KEY_DVE_MAX: mode 0, MX_IMAGE_DEFOCUS or
// MX_IMAGE_MOSAIC with its level (0 or more); posterize steps 0..7; colour modulation Cb, Cr.
void mxFilterSetImageMode(int target, int mode, float level);
void mxFilterSetPosterize(int target, int on, int y, int c);
void mxFilterSetColorize(int target, int on, int cb, int cr);
// Test effects of MX_ABUS and MX_BBUS (other targets are ignored): mode 0 or 1, gain 0..1.
// Switching on (on = 2: always) restarts the effect.
void mxFilterSetBusMode(int bus, int on, int mode);
void mxFilterSetBusGain(int bus, int on, float gain);
// Dust of MX_BKGD or a key: gain 0..1, dust 0..15; it restarts in the first frame written on after
// one written off (switched off and on again between two frames, it runs on).
void mxFilterSetDust(int target, int on, float gain, int dust);

// Test support: the slots as at program start.
void mxFilterReset();
