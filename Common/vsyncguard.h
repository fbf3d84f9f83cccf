#pragma once
// The guard that defers the frame work while the main loop changes video formats. The VSYNC side
// marks a frame that arrives inside a deferring stretch as pending, and the end of the outermost
// stretch runs it; drivers that change formats from the main loop open such stretches.
#include "Lib/Include/types.h"

// `busy` while the main loop is inside a deferring stretch, `pending` when a frame arrived
// meanwhile. Stretches nest: `depth` counts the open ones.
struct VsyncGuard {
  u8 busy = 0;
  u8 pending = 0;
  u32 depth = 0;
};
VsyncGuard& vsyncGuard();

// How the end of a stretch runs a deferred frame; the VSYNC side sets it when it defers one.
using DeferredFrame = void (*)();
void vsyncSetDeferredFrame(DeferredFrame run);

// A deferring stretch of the main loop; only the end of the outermost one runs a deferred frame.
void beginVsyncDefer();
void endVsyncDefer();
