#pragma once
// Transition (mix and wipe) driver: the mix and wipe of an ME background (MX_BKGD) and of its four
// keys. Setters change a shadow state per ME context and target (the current context); the writer
// of the early update (mxTransUpdate, Driver/blocks.h) turns the states of the two hardware MEs
// into 28-word register images. The wipe patterns are 14 radius tables in the ME FPGAs' memory.
#include "Driver/core/core.h"

constexpr int N_TRANSTABLES = 14;
constexpr int N_ASPECTS = 6;

// Key number of a transition or DVE target: 0 for MX_BKGD, 1..4 for MX_KEY1..MX_KEY4 (odd ids);
// any other target fails the value check against MX_BKGD.
int mxTargetKeyIndex(int target);
// The target of a key number 0..4.
inline int mxKeyTarget(int key) { return key == 0 ? MX_BKGD : MX_KEY1 + 2 * (key - 1); }

// target MX_BKGD or a key; type MX_TRANS_MIX..MX_TRANS_HEXAGON; border and softness as fractions
// of the frame height (0: none).
void mxTransSetType(int target, int type, float border, float softness);
// Background position 0..1, invert flag, second position (-1 when unused).
void mxTransSetBkgdPosition(float position, int invert, float second);
void mxTransSetKeyPosition(int key, float position, int kinv);
void mxTransSetKeyPositionXY(int key, float x, float y);
void mxTransSetLevel(int target, float level);
// pvw 0: the background transition drives program, 1: preview.
void mxTransSetBkgdPreview(int pvw);
// Pattern centre as fractions of the frame width and height.
void mxTransSetPatternPosition(int target, float x, float y);
// 2 x 3 pattern transform m0..m5.
void mxTransSetPatternMatrix(int target, const float* m);
void mxTransSetPatternSize(int target, float width, float height, int shiftX, int shiftY);
// dir MX_TRANS_MOD_X or MX_TRANS_MOD_Y; amp 0..0.5, freq 0..100, phase 0..1.
void mxTransSetModulation(int target, int dir, float amp, float freq, float phase);
void mxTransSetModulationPattern(int target, int dir, int pattern);
// Border fill of the background wipe: MX_UTIL1, MX_UTIL2 or MX_COLOR_BKGD_BORDER.
void mxTransSetBorderSource(int target, int src);
// Latency 0 or 1 frame of the background or a key (a key's keyer is told too).
void mxTransSetLatency(int target, int latency);
// The background DVE is on (set by the DVE driver).
void mxTransSetBkgdDveFlag(int flag);

// Test support: forgets every state and the aspect index, as at program start.
void mxTransReset();
