#pragma once
// SDI input driver: the 32 inputs MX_IN_1 .. MX_IN_32 spread over the receivers of the four video
// FPGAs. Setters change a control shadow that mxSdiUpdateControl (stage 3) writes; the status
// writer mxSdiUpdateStatus (untimed tail) reads every input's format, flags and timing and checks
// the alignment of 4K inputs; mxSdiPollInputs (main loop) reads the error counters of one group of
// inputs per call. The entries the core calls are declared in Driver/blocks.h.
//
// Board modes: normal (32 inputs, a channel each); dual-link (paired-FPGA mode without 4K: inputs
// 1-16, two channels each); quad-link (4K mode: inputs 1, 5, ..., 29, four channels each). Setters
// of inputs the mode does not have do nothing.
#include "Driver/blocks.h"
#include "Driver/core/core.h"

constexpr int RX_CHANNELS = 32;

// Input modes of mxSdiSetMode.
constexpr int MX_SDI_CONVERT = 8705;  // colour conversion on (between MX_SDI_NORMAL and MX_SDI_UC)
// Input select options of mxSdiSetInputSelect.
constexpr int MX_SDI_SELECT_NONE = 13568, MX_SDI_SELECT_1 = 13569, MX_SDI_SELECT_OTHER = 13570,
              MX_SDI_SELECT_2 = 13571;

// 0: links 1-3 off; 1: link 1; 2: links 1 and 2; other: links 1 and 3, link 2 in 4K mode.
void mxSdiSetLinkMode(int id, int mode);
// companion: taken only while on; always set in the paired-FPGA mode.
void mxSdiSetEnable(int id, int on, int companion);
void mxSdiSetMode(int id, int mode);  // MX_SDI_NORMAL, MX_SDI_CONVERT, MX_SDI_UC (inputs 27, 28, 31, 32)
void mxSdiSetInputSelect(int id, int option);
// Written at once, in 4K mode only: the input delay 0..2 of all four FPGAs.
void mxSdiSetDelay(int delay);
// The input delay last written (0 outside 4K mode, where it is never written).
int mxSdiGetDelay();
// Written at once. kind 0: a nibble of inputs 27, 28, 31, 32; kind 1: value 0..15 for both links
// of dual-link inputs 14 and 16.
void mxSdiSetChannelOption(int id, int value, int kind);

// Format flags: 1 or 2 by the link status (+ 16 + the payload's top bits for payloads 151, 152),
// + 32 while the input is flagged asynchronous; 0 for ids outside the range.
int mxSdiGetFormatFlags(int id);
// The receiver's 16 error flags and 16 error counters from the last poll of its group.
void mxSdiGetInfoBytes(int id, u8* bytes);
void mxSdiGetStatusWords(int id, u32* words);

// ---- Up-converters of MX_IN_27, MX_IN_28, MX_IN_31, MX_IN_32 (Driver/sdi/upconv.cpp) ----
// The kernel tables of the five filter modes (once).
void mxSdiBuildKernels();
// Window position and size (fractions of the frame) and filter mode 1..5; each recomputes.
void mxSdiSetUpConverterWindow(int id, float x, float y, float width, float height);
void mxSdiSetUpConverterMode(int id, int mode);
// Enhancement 1 (off) .. 4; other values clear it. Written at once; the next recompute zero-fills
// the enhancement table while it is off.
void mxSdiSetUpConverterOption(int id, int value);
// Step, phase and window words and the three coefficient tables of a converter.
void mxSdiRecomputeUpConverter(int id);
// Kernel tables built, every converter at its defaults (mode 3, full frame, option 3 written).
void mxSdiUpConverterInit();
// The converters' records at their defaults, nothing written (test support).
void mxSdiUpConverterReset();

// Test support: the shadow, status and converters as at program start.
void mxSdiReset();
