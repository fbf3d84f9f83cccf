#pragma once
// Transition (mix and wipe) driver: the mix and wipe of an ME background (MX_BKGD) and of its four
// keys. Setters change a shadow state per ME context and target (the current context); the writer
// of the early update (mxTransUpdate, Driver/blocks.h) turns the states of the two hardware MEs
// into 28-word register images. The wipe patterns are 14 radius tables in the ME FPGAs' memory.
#include "Driver/core/core.h"

void mxTransSetPatternSize(int target, float width, float height, int shiftX, int shiftY);
// dir MX_TRANS_MOD_X or MX_TRANS_MOD_Y; amp 0..0.5, freq 0..100, phase 0..1.
void mxTransSetModulation(int target, int dir, float amp, float freq, float phase);
void mxTransSetModulationPattern(int target, int dir, int pattern);
