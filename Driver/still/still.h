#pragma once
// Still players: four players MX_STILL_1..MX_STILL_4 (two in the paired-FPGA mode), each showing
// its own store, and one capture path that writes the current picture into a store over a few
// frames and then marks the store valid in the shared window (SMEM_STILL_VALID). Setters change
// the shadow only; mxFrameUpdate (stage 2 of mxUpdate, Driver/blocks.h) writes the players and the
// capture path.
#include "Driver/core/core.h"

constexpr int N_STILL = 4;

// Starts a capture into a still (dst 0: nothing); mode non-zero captures in the other capture mode.
// In the paired-FPGA mode a request while a capture runs is not taken.
void mxFrameCapture(int dst, int mode);
// Mode 0 shows the still as a frame, 1 as a field.
void mxFrameSetMode(int channel, int mode);
void mxFrameSetEnable(int channel, int enable);
// Marks the four stores empty.
void mxFrameClearStills();

// The players and the capture as at program start (mxStillInitialize and test support).
void mxStillReset();
