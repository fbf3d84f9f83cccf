#pragma once
// Driver core: the numbered targets that name hardware block instances, the ME contexts, the
// video format and board mode flags shared by every driver, the format initialisation of every
// block (mxInitialize) and the per-frame flush of the block shadows in five timed stages (mxUpdate).
#include "Lib/Include/memory_map.h"
#include "Lib/Include/types.h"

// ---- Targets ------------------------------------------------------------------------------------
// Fixed values; drivers compute indexes from them. Fill ids are even, key ids odd.
enum MxTarget : int {
  // SDI and DVI inputs
  MX_IN_1 = 4352, MX_IN_2, MX_IN_3, MX_IN_4, MX_IN_5, MX_IN_6, MX_IN_7, MX_IN_8,
  MX_IN_9, MX_IN_10, MX_IN_11, MX_IN_12, MX_IN_13, MX_IN_14, MX_IN_15, MX_IN_16,
  MX_IN_17, MX_IN_18, MX_IN_19, MX_IN_20, MX_IN_21, MX_IN_22, MX_IN_23, MX_IN_24,
  MX_IN_25, MX_IN_26, MX_IN_27, MX_IN_28, MX_IN_29, MX_IN_30, MX_IN_31, MX_IN_32,  // 4383
  MX_DVI_IN_1 = 4384, MX_DVI_IN_2 = 4385,
  // still and clip players, colour backgrounds, black (sources span 4352..4499)
  MX_STILL_1 = 4480, MX_STILL_2 = 4482, MX_STILL_3 = 4484, MX_STILL_4 = 4486,
  MX_CLIP_1 = 4488, MX_CLIP_2 = 4490, MX_CLIP_3 = 4492, MX_CLIP_4 = 4494,
  MX_CBGD_1 = 4497, MX_CBGD_2 = 4498, MX_BLACK = 4499,
  // ME outputs 4512..4543
  MX_ME2_PGM = 4516, MX_ME2_KEYPVW = 4519,
  // DSK outputs, clean feeds, multiview
  MX_DSK_PGM1 = 4544, MX_DSK_PGM2 = 4546,
  MX_DSK_CLN1 = 4548, MX_DSK_CLN2, MX_DSK_CLN3, MX_DSK_CLN4,  // 4551
  MX_MULTI1 = 4552, MX_MULTI2, MX_MULTI3, MX_MULTI4,          // 4555
  MX_MULTI_GUI = 4557,
  // ME buses and keys
  MX_ABUS = 4608, MX_BBUS = 4609, MX_UTIL1 = 4610, MX_UTIL2 = 4611,
  MX_KEY1_F = 4612, MX_KEY1 = 4613, MX_KEY2_F = 4614, MX_KEY2 = 4615,
  MX_KEY3_F = 4616, MX_KEY3 = 4617, MX_KEY4_F = 4618, MX_KEY4 = 4619,
  MX_KEY1_S = MX_KEY1, MX_KEY2_S = MX_KEY2, MX_KEY3_S = MX_KEY3, MX_KEY4_S = MX_KEY4,
  MX_KEY_DVE_MAX = MX_KEY2,  // the last key with DVE and image-effect hardware
  // DSK crosspoints
  MX_DSK1_F = 4624, MX_DSK1 = 4625, MX_DSK2_F = 4626, MX_DSK2 = 4627,
  MX_DSK3_F = 4628, MX_DSK3 = 4629, MX_DSK4_F = 4630, MX_DSK4 = 4631,
  MX_DSK1_S = MX_DSK1, MX_DSK2_S = MX_DSK2, MX_DSK3_S = MX_DSK3, MX_DSK4_S = MX_DSK4,
  MX_DSK_BKGD_PGM2 = 4633,
  // AUX buses (4640..4670) and external outputs (4752..4754)
  MX_AUX1 = 4640, MX_AUX2 = 4642, MX_AUX3 = 4644, MX_AUX4 = 4646,
  // up-stream key crosspoints
  MX_USK1_F = 4736, MX_USK1_S = 4737, MX_USK2_F = 4738, MX_USK2_S = 4739,
  MX_USK3_F = 4740, MX_USK3_S = 4741, MX_USK4_F = 4742, MX_USK4_S = 4743,
  // outputs
  MX_OUT_1 = 4864, MX_OUT_2, MX_OUT_3, MX_OUT_4, MX_OUT_5, MX_OUT_6, MX_OUT_7, MX_OUT_8,
  MX_OUT_9, MX_OUT_10, MX_OUT_11, MX_OUT_12, MX_OUT_13, MX_OUT_14, MX_OUT_15, MX_OUT_16,
  MX_OUT_MAX = MX_OUT_16,  // 4879
  // transition types and modulation
  MX_TRANS_MIX = 5376, MX_TRANS_HEXAGON = 5396,
  MX_TRANS_MOD_X = 5408, MX_TRANS_MOD_Y = 5409, MX_TRANS_MOD_SINE = 5410, MX_TRANS_MOD_DELTA = 5411,
  // background, its B-bus filter slot, the DVE effects of two placed pictures and of two transforms
  MX_BKGD = 5632, MX_BKGD_B = 5633, MX_DVE_EFFECT_PAIR = 5649, MX_DVE_EFFECT_DUAL = 5650,
  // image modes
  MX_IMAGE_DEFOCUS = 5888, MX_IMAGE_MOSAIC = 5889,
  // colours of mxSetColor
  MX_COLOR_BKGD_BORDER = 8448,
  MX_COLOR_KEY1_BORDER = 8449, MX_COLOR_KEY4_BORDER = 8452,
  MX_COLOR_KEY1_MATTE = 8453, MX_COLOR_KEY4_MATTE = 8456,
  MX_COLOR_KEY1_SECOND = 8457, MX_COLOR_KEY4_SECOND = 8460,
  MX_COLOR_KEY1_THIRD = 8461, MX_COLOR_KEY4_THIRD = 8464,
  MX_COLOR_DSK1_MATTE = 8480, MX_COLOR_DSK4_MATTE = 8483,
  MX_COLOR_DSK1_SECOND = 8484, MX_COLOR_DSK4_SECOND = 8487,
  MX_COLOR_USK1_MATTE = 8488, MX_COLOR_USK4_MATTE = 8491,
  // multiview sizes
  MX_MV_SIZE_1_2 = 8512, MX_MV_SIZE_1_6 = 8523,
  // SDI input modes
  MX_SDI_NORMAL = 8704, MX_SDI_UC = 8706,
  // OSD draw functions
  MX_OSD_REPLACE = 12304, MX_OSD_MAX = 12306,
  // ME contexts: ME n is 12816 + n; 12820..12823 the second halves (key layers)
  MX_CONTEXT_ME1 = 12816, MX_CONTEXT_ME2, MX_CONTEXT_ME3, MX_CONTEXT_ME4,
  MX_CONTEXT_ME1B, MX_CONTEXT_ME2B, MX_CONTEXT_ME3B, MX_CONTEXT_ME4B,  // 12823
  // genlock
  MX_GENLOCK_EXTERNAL = 13056, MX_GENLOCK_INTERNAL = 13057,
  MX_GENLOCK_BBST = 13058, MX_GENLOCK_BBST2 = 13059, MX_GENLOCK_TRI = 13060,
  MX_GENLOCK_NO_SETUP = 13061, MX_GENLOCK_SETUP = 13062,
  // output converter modes: aspect (squeeze, side crop, letterbox) and phase
  MX_OUTCONV_SQUEEZE = 13072, MX_OUTCONV_SIDE_CROP = 13073, MX_OUTCONV_LETTERBOX = 13074,
  MX_OUTCONV_PHASE_1 = 13075, MX_OUTCONV_PHASE_2 = 13076,
  // colour correction: the six coefficients, the matrix modes (normal, and for 480/576-line inputs)
  MX_CC_COEFF_1 = 13088, MX_CC_COEFF_6 = 13093, MX_CC_MATRIX_NORMAL = 13094, MX_CC_MATRIX_SD = 13096,
  // extended display modes
  MX_DISPLAY_NONE = 13312, MX_DISPLAY_JPEG = 13314,
  MX_DISPLAY_FILTER = 13315,  // the extended display's filter slot
};

constexpr int N_CONTEXT = 8;

// ---- Register banks ------------------------------------------------------------------------------
// The ME1 / ME2 FPGA bank of the paired-FPGA mode or the normal one.
u32 mxMeBase(int me);

// ---- Contexts -------------------------------------------------------------------------------------
// Selects the ME context that the per-ME setters address.
void mxSetContext(int target);
void mxSelectContext(int target);
int mxCurrentContext();
int mxContextIndex();  // 0..7

// ---- Video format and board mode ------------------------------------------------------------------
struct MxFormat {
  u32 width;          // pixels
  u32 height;         // lines per field
  u32 periodUs;       // frame (interrupt) period
};
// The frame size and period of a folded format code 0..7; any other code fails "NeverReachHere".
MxFormat mxFormatInfo(int format);

int mxVideoFormat();        // current folded code 0..7
u32 mxFrameWidth();
u32 mxFrameHeight();
u32 mxFramePeriodUs();      // read by the VSYNC handler
bool mxPairedFpga();        // paired-FPGA mode: ME FPGA banks at MX_ME1_PAIRED_BASE, MX_ME2_PAIRED_BASE
bool mx4kMode();            // codes below 10 refused
u32 mxFrameCount();         // frames since the last mxInitialize, stops at 60
int mxMeFieldBit();         // field bits read at the start of the frame
int mxGlueFieldBit();
// A per-format horizontal timing constant of the genlock driver.
int mxGetLineOffset();

// Whether a board runs format code `format`: a 4K board the codes above 9 only; another board, with
// the paired FPGA codes 8 and 9, without it the others up to 9. mxInitialize refuses the rest.
bool mxBoardRunsFormat(int format, bool paired, bool fourK);
// Initialises every block for a format code (0..7, paired variants 8..15) and picture scale.
void mxInitialize(int format, float scale);
void mxSetVideoFormat(int format, float scale);

// ---- Per-frame update ----------------------------------------------------------------------------
void mxUpdateEntry();  // from the frame callback: kicks the watchdog on its first call, then mxUpdate
void mxUpdate();
void mxUpdateEarly();  // from the early interrupt

// One stage of mxUpdate (1..5, or MX_TRACE_TAIL) with the update's start time t0.
void mxUpdateStage(int stage, u32 t0);
// Stage limits of mxUpdate (cumulative microseconds after its start).
constexpr int MX_UPDATE_STAGES = 5;
constexpr u32 MX_STAGE_LIMIT_US[MX_UPDATE_STAGES] = {130, 400, 550, 1000, 6000};
// Trace stage numbers of the register writes (platform::traceStage): 1..5 the timed stages,
// 6 the untimed tail, 7 the early update, 0 everything else.
constexpr int MX_TRACE_TAIL = 6, MX_TRACE_EARLY = 7, MX_TRACE_NONE = 0;

// ---- Board ----------------------------------------------------------------------------------------
void mxBoardInit();
int mxGetBoardType();       // 0: the supported board
int mxGetBoardVersion();    // 1 or 2
void mxWatchdogKick();
void mxWatchdogEnable(int enable, int second);
void mxRestart();  // does not return: the watchdog restarts the board
// Spins for good; an armed watchdog restarts the board.
[[noreturn]] void mxHalt();
void mxAcquireStartupLock();
bool mxStartupLockReleased();
void mxPollInputs();
// Set once the board devices finished their start-up (frame 10).
bool mxBoardDevicesDone();

// The main-loop flag: 1 while the main loop (not the frame callback) runs driver code.
void mxSetMainLoop(int flag);
int mxMainLoop();

// ---- Colours --------------------------------------------------------------------------------------
void mxSetColor(int target, int y, int cb, int cr);

// ---- Test support ---------------------------------------------------------------------------------
// Resets the core's state as at program start (host tests restart the system in one process).
void mxCoreReset();
