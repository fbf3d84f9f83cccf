#include "Common/vsyncguard.h"

namespace {

DeferredFrame deferredFrame = nullptr;

}  // namespace

VsyncGuard& vsyncGuard() {
  static VsyncGuard guard;
  return guard;
}

void vsyncSetDeferredFrame(DeferredFrame run) { deferredFrame = run; }

void beginVsyncDefer() {
  VsyncGuard& guard = vsyncGuard();
  ++guard.depth;
  guard.busy = 1;
}

void endVsyncDefer() {
  VsyncGuard& guard = vsyncGuard();
  if (guard.depth > 1) {  // an inner stretch: the outer one still runs
    --guard.depth;
    return;
  }
  // pending is cleared before the frame runs, and the runner contains a frame that fails, so it
  // cannot leave pending set and stop the frames for good. busy stays set (and the stretch open)
  // while it runs: a VSYNC arriving meanwhile is deferred again and run here in turn, and a stretch
  // inside the frame runs none, instead of nesting.
  guard.depth = 1;
  while (guard.pending != 0) {
    guard.pending = 0;
    if (deferredFrame != nullptr) deferredFrame();
  }
  guard.depth = 0;
  guard.busy = 0;
}
