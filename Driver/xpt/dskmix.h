#pragma once
// Downstream key mixer state: stacking priority, levels, output assignment, flags, options, clean
// feed and output sources, layer source and fade level of the four DSKs; the DSK stage that the key
// mixer writer puts into the ME2 FPGA every frame, and the DSK stage codes that the crosspoint
// frame writer derives from the state. DSK levels and the DSK layer source are set through
// mxKeySetLevel and mxKeySetLayerSource (Driver/key/key.h).
#include "Lib/Include/types.h"

struct MxDskMixer {
  u8 priority[3] = {3, 2, 1};       // DSK indexes; the first gets rank 0
  u32 level[4] = {};                // 0..1024
  u32 output[4] = {};               // 0: MX_DSK_PGM1, 1: MX_DSK_PGM2
  u32 flag[4] = {};
  u32 cleanSource[4] = {};          // DSK index, or 4..7 for 5136..5139
  u32 option[4] = {1, 1, 1, 1};
  u32 outputSource[2] = {};         // outputs 4545, 4547
  u32 layerSource = 0;
  u32 layerFlag = 0;
  u32 fadeLevel = 0;                // 0..1023
};

// The one mixer state (built on first use).
MxDskMixer& mxDskMixer();

// Stacking order: three DSK ids (MX_DSK1_F .. MX_DSK4_S), the first on top.
void mxDskSetPriority(int d1, int d2, int d3);
// Program output (MX_DSK_PGM1 or MX_DSK_PGM2) that DSK dsk feeds.
void mxDskSetOutput(int dsk, int output);
// Source of clean feed MX_DSK_CLN1 .. MX_DSK_CLN4: a DSK id, or 5136..5139.
void mxDskSetCleanSource(int target, int source);
// Fade level 0..1 of the DSK stage.
void mxDskSetFadeLevel(float x);
// Flag of DSK n from bit n of mask.
void mxDskSetFlags(int mask);
// Output option (0 or 1) of a DSK id.
void mxDskSetOutputOption(int dsk, int value);
// Source of output 4545 or 4547: 5136..5139 (codes 4..7), 5140/5141 (codes 2, 3), else code 0.
void mxDskSetOutputSource(int output, int source);

// The DSK stage of the key mixer writer (stage 3 of mxUpdate).
void mxDskWriteStage();

// The DSK stage code of an output id with the enable flags of the two program outputs.
int dskStageCode(int output, int e0, int e1);

// Test support: the defaults, as at program start.
void mxDskReset();
