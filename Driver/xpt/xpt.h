#pragma once
// Crosspoint routing: the setters store one source code per destination (bus, DSK and up-stream key
// crosspoints, AUX buses, external and program outputs, ME output taps, DSK stages, multiview
// inputs) in a crosspoint image; the frame writer (stage 1 of mxUpdate) copies the image to the
// crosspoint registers of the ME2 FPGA every frame. Setters address the current ME context where
// a destination is per ME. Input sources are mapped to what the board can route in the paired-FPGA
// and 4K modes.
#include "Driver/core/core.h"

// Destinations and sources beyond the core's target enumerators.
constexpr int MX_AUX = MX_AUX1;            // AUX 1 following its own bus (mxSetMeOutputSource)
constexpr int MX_AUX_LAST = 4670;          // last AUX bus id
constexpr int MX_EXT_OUT_1 = 4752, MX_EXT_OUT_2 = 4753, MX_EXT_OUT_3 = 4754;  // external outputs
constexpr int MX_DSK_BKGD_PGM1 = 4632;     // background of DSK program output 1 (ME output)
constexpr int MX_ME_OUT_1 = 5120, MX_ME_OUT_2 = 5121;    // ME output taps of a context
constexpr int MX_MEM_BLACK_FADE = 4500;    // memory source 11 of mxSelectMemorySource
constexpr int N_AUX_TRANS = 4;

// Byte offsets into the crosspoint image (words are little-endian, four bytes each).
namespace xpt {
constexpr int ME2_FLAG = 0;             // word: ME1 takes an ME2 output
constexpr int BUS = 4;                  // + 16 c + d, contexts 0..3
constexpr int DSK = 68;                 // + dst - MX_DSK1_F
constexpr int DSK_FILL = 76;            // + DSK index
constexpr int MEMORY = 80;              // memory source index
constexpr int BUS_B = 84;               // + 16 (c - 4) + d, contexts 4..7
constexpr int OUTPUT = 164;             // + output index
constexpr int AUX = 244;                // + dst - MX_AUX1
constexpr int EXT = 308;                // + dst - MX_EXT_OUT_1
constexpr int LAYER_CONTEXT = 311;
constexpr int BUS_ME = 312;             // + 16 c + d
constexpr int BUS_ME_B = 376;           // + 16 (c - 4) + d
constexpr int DSK_ME = 440;             // + dst - MX_DSK1_F
constexpr int USK = 452;                // + dst - MX_USK1_F
constexpr int INPUT_KEY = 460;          // + src - MX_IN_1
constexpr int MULTIVIEW = 608;          // + dst - MX_MULTI1
constexpr int AUX_TRANS = 612;          // word 153 + a
constexpr int AUX_FLAG = 628;           // word 157
constexpr int ME_OUTPUT = 632;          // word 158 + 2 c + o
constexpr int DSK_STAGE = 696;          // words 174..177
constexpr int DSK1_FIRST = 756;
constexpr int SIZE = 760;
}  // namespace xpt

// The source an input id stands for on this board: in paired-FPGA mode SDI inputs above 16 are
// black; in 4K mode only every fourth input exists (input 4n + 1 routes as input n + 1); stills and
// clips 3 and 4 are black. Other ids are kept.
int mxMapSource(int src);

// ME bus or key bus (MX_ABUS .. MX_KEY4_S) of the current context from an input or an ME output.
void mxSetBusSource(int dst, int src);
// DSK crosspoint (MX_DSK1_F .. MX_DSK_BKGD_PGM2) from an input (DSK fill and key only) or ME output.
void mxSetDskSource(int dst, int src);
// Key-layer crosspoint (MX_USK1_F .. MX_USK4_S) from an input.
void mxSetUskSource(int dst, int src);
// Which up-stream key (usk MX_USK1_F .. MX_USK4_S) keys the input target; on 0 marks none.
void mxSetInputKeyAssign(int target, int on, int usk);
// DSK fill (MX_DSK1 .. MX_DSK4) from a still or clip player or a colour background.
void mxSetDskFillSource(int dst, int src);
// AUX bus (MX_AUX1 .. 4670) or external output (4752 .. 4754) from an input, ME output, DSK
// output, clean feed or multiview output; 4754 also takes the assignment of an AUX bus (4640..4686).
void mxSetAuxSource(int dst, int src);
// Program output (MX_OUT_1 .. MX_OUT_MAX) from an ME output, DSK output or AUX bus.
void mxSetOutputSource(int dst, int src);
// Mix position 0..1 of AUX transition ch (MX_AUX1 .. MX_AUX4); anc 1 mixes the ancillary data too.
void mxSetAuxTransition(int ch, float position, int anc);
// Memory source of the fade (stills, clips, colour backgrounds, black, 4500); returns its index.
int mxSelectMemorySource(int src);
// ME output tap 5120/5121 of the current context (MX_ABUS, MX_BBUS, a key, MX_BLACK), or MX_AUX
// with MX_AUX / MX_BLACK.
void mxSetMeOutputSource(int dst, int src);
// Stage feeding DSK output 4544 .. 4547: MX_BKGD, MX_DSK1 .. MX_DSK4 or MX_BLACK.
void mxSetDskOutputSource(int dst, int src);
// Multiview input MX_MULTI1 .. MX_MULTI4 from an ME output pair, MX_DSK_PGM1/2 or MX_BLACK.
void mxSetMultiviewSource(int dst, int src);
// For the key driver: the ME context (id, or 0 for the DSKs) of the key layer, and whether the
// first DSK of the stacking order is MX_DSK1.
void mxSetLayerContext(int context);
void mxSetDsk1First(int dsk);

// The frame writer: stage 1 of mxUpdate.
void mxCrosspointUpdate();

// The crosspoint image (read only; tests and tally).
const u8* mxXptImage();
u32 mxXptWord(int offset);

// Test support: an empty image and writer state, as at program start.
void mxXptReset();
