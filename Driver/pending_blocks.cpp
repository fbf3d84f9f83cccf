// Empty entries of block drivers that are not built yet. A block driver that lands defines its
// entries in its own source (with the signatures of Driver/blocks.h) and deletes its lines here;
// the linker reports a duplicate definition until it does.
#include "Driver/blocks.h"

// Format timing and board monitoring.
void mxTemperatureMonitorStart() {}

// Transition driver.
void mxTransInitialize(float) {}
void mxTransLoadPatternTables() {}
void mxTransUpdate() {}
void mxTransSetBkgdBorderColor(int, int, int) {}
void mxTransSetKeyBorderColor(int, int, int, int) {}

// DVE driver.
void mxDveInitialize(float) {}
void mxDveUpdate() {}
void mxDveUpdateTail() {}
void mxDveSetColor(int, int, int, int) {}
void mxDveSetImageEffect(int, int, int, float, u32) {}
void mxDveGetBusFlags(int, int* a, int* b) {
  *a = 0;
  *b = 0;
}

// Key driver.
void mxKeyInit() {}
void mxKeyWriteParams() {}
void mxKeyUpdateMixer() {}
void mxKeyLatchParams() {}
void mxKeySetMatteColor(int, int, int, int) {}
void mxKeySetEdgeColor(int, int, int, int) {}
void mxKeySetExtraColor(int, int, int, int) {}
void mxKeySetFilterParameters(int, float, float, float, float) {}

// Multiview driver and OSD renderer.
void mxMvInitFormat() {}
void mxMvReset(int) {}
void mxMvUpdate() {}
void mxOsdBoardInit() {}

// Still players, crosspoint frame writer, clip players, extended display.
void mxFrameUpdate() {}
void mxClipInit() {}
void mxClipResetHeader(int) {}
void mxClipUpdate() {}
void mxClipUpdateOutputs() {}
void mxDisplayInit() {}
void mxDisplayUpdate() {}

// SDI and DVI inputs, output converters, genlock.
void mxSdiInit() {}
void mxSdiUpdateControl() {}
void mxSdiUpdateStatus() {}
void mxSdiPollInputs() {}
int mxSdiGetStatusBit(int) { return 0; }
int mxSdiGetFormat(int) { return -1; }
void mxDviInit() {}
void mxOutConvInit() {}
void mxGenlockReset() {}
void mxGenlockUpdate(int) {}

// Setters of the transition and key drivers, which are built on their own branches: delete this
// block when they are merged (their headers replace the two below).
#include "Driver/key/key.h"
#include "Driver/transition/transition.h"
void mxTransSetPatternSize(int, float, float, int, int) {}
void mxTransSetModulation(int, int, float, float, float) {}
void mxTransSetModulationPattern(int, int, int) {}
void mxKeySetSoftMask(int, float, float, float, float, float) {}
