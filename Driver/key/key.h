#pragma once
// Key driver: the shadow of every keyer (the four keys of each ME context, the four downstream keys
// and the four key layer channels), the key mixer of each ME context (stacking order, levels, output
// and clean taps, preview marks, chroma sample area), the chroma keyers of the ME keys and the
// tally words. Setters change the shadow of the current ME context only; the writers of
// Driver/blocks.h put the two hardware MEs, the downstream keys and the key layer into the
// registers every frame. The entries the core, the transition and the filter drivers call are
// declared in Driver/blocks.h.
#include "Driver/xpt/xpt.h"  // the ME output ids MX_ME_OUT_1, MX_ME_OUT_2

// Ids beyond the core's target enumerators.
constexpr int MX_LAYER_POINT_1 = 5122, MX_LAYER_POINT_4 = 5125;  // layer points of an ME: codes 4..7
constexpr int MX_CLEAN_POINT = 5126;                              // clean point of an ME: code 12
constexpr int MX_TAP_FLAG_B = 5127, MX_TAP_FLAG_LAYER = 5128;     // tap flags 1 and 2 (5121 is flag 0)
constexpr int MX_DSK_CLEAN_POINT_1 = 5136, MX_DSK_CLEAN_POINT_4 = 5139;
constexpr int MX_DSK_OUT_POINT_1 = 5140, MX_DSK_OUT_POINT_2 = 5141;
constexpr int MX_KEY_EDGE_1 = 8192, MX_KEY_EDGE_4 = 8195, MX_KEY_EDGE_NONE = 8196;
constexpr int MX_CHROMA_MODE_A0 = 8208, MX_CHROMA_MODE_A1 = 8209;
constexpr int MX_CHROMA_MODE_B0 = 8210, MX_CHROMA_MODE_B1 = 8211, MX_CHROMA_MODE_B2 = 8212;
constexpr int N_CHROMA_TABLE = 1152;

// Key 0..3 of a key id (fill or key, MX_KEY1_F .. MX_KEY4) and DSK 0..3 of a DSK id; any other id
// fails "NeverReachHere".
int keyIndex(int target);
int dskIndex(int target);

// ---- Key mixer of the current context ----
// Stacking order: three key ids (MX_KEY1 .. MX_KEY4), the first on top.
void mxKeySetPriority(int level1, int level2, int level3);
// Key layer source of context me (an ME context id) or of the DSKs (0): a key id or layer point,
// resp. a DSK id; flag marks the layer on.
void mxKeySetLayerSource(int me, int source, int flag);
// Output tap A (MX_ME_OUT_1, MX_ME_OUT_2 or a layer point) and B (MX_ME_OUT_1 or a layer point);
// bit k of mask puts key k on the tap.
void mxKeySetOutputTapA(int point, int mask);
void mxKeySetOutputTapB(int point, int mask);
// Clean tap: MX_CLEAN_POINT, a layer point or a key id.
void mxKeySetCleanTap(int point);
// Key on program (pvw 0) or preview (pvw 1).
void mxKeySetPreview(int key, int pvw);
// Tap flag of MX_ME_OUT_2, MX_TAP_FLAG_B or MX_TAP_FLAG_LAYER.
void mxKeySetTapFlag(int tap, int on);
// Chroma sample area in pixels and lines.
void mxChromaKeySetSampleArea(int x, int y, int width, int height);

// ---- Keyer parameters (ME keys of the current context, DSKs, key layer channels) ----
// Level 0..1 of a key or DSK; a level below -0.5 changes nothing.
void mxKeySetLevel(int target, float level);
// flags bit 0-1 the hardware mode, bit 2 filter bypass; clip as a code value; gains and density 0..1.
void mxKeySetClipGain(int target, int flags, float clip, float gain, float gain2, float density);
// Edge kind MX_KEY_EDGE_1 .. MX_KEY_EDGE_NONE, width 0..4, direction 0..359 degrees, level 0..1.
void mxKeySetEdge(int target, int type, int width, int dir, float level);
// Edge fill: MX_UTIL1, MX_UTIL2 or the key's edge colour id; for a DSK its edge colour id or a
// still, clip or colour background routed to its fill.
void mxKeySetEdgeFill(int target, int source);
// Box mask in fractions of the frame.
void mxKeySetMask(int target, float left, float top, float width, float height, int enable, int invert);
// Soft mask of an ME key in fractions of the frame; softness 0..1.
void mxKeySetSoftMask(int target, float left, float top, float width, float height, float softness);
void mxKeySetOptionFlag(int target, int on);

// ---- Chroma keyers of the ME keys of the current context ----
// modeA MX_CHROMA_MODE_A0/A1, modeB MX_CHROMA_MODE_B0/B1/B2.
void mxChromaKeySetMode(int target, int enable, int spill, int modeA, int modeB);
void mxChromaKeySetRange(int target, int base, int width);
// Reference colours as R, G, B on the 12-bit scale.
void mxChromaKeySetColorA(int target, int r, int g, int b);
void mxChromaKeySetColorB(int target, int r, int g, int b);
// Writes the N_CHROMA_TABLE entries at once; the keyer switches banks at the next frame.
void mxChromaKeyWriteTable(int target, const u16* table);

// ---- Tally (read and written at once) ----
// Status of MX_DSK_PGM1, MX_DSK_CLN1, MX_CONTEXT_ME1 or MX_CONTEXT_ME2; 0 for any other target.
u32 mxGetTallyStatus(int target);
// Control of MX_DSK_PGM1, MX_CONTEXT_ME1 or MX_CONTEXT_ME2; other targets are ignored.
void mxSetTallyControl(int target, u32 value);

// ---- Shared with the DSK stage ----
// Ranks 0..3 from a stacking priority of three indexes (a later entry wins; unnamed ones rank 3).
void mxStackRanks(const u8 priority[3], int rank[4]);
// Source code of layer p: 0 when p ranks 3, else the position of the layer ranked one below it
// (searched among layers 0..2 with the same group, layer 3 when none), counted from p with the
// others following by index. group may be null (one group).
u32 mxStackSource(const int rank[4], int p, const u32* group);

// Test support: every keyer and key mixer as at program start.
void mxKeyReset();
