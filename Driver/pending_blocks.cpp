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

// Filter driver.
void mxFilterInitialize() {}
void mxFilterUpdate() {}
// Called by the key driver; delete at merge with the filter driver, which defines them.
void mxFilterSetKeyFlagA(int, int) {}
void mxFilterSetKeyFlagB(int, int) {}

// Colour background driver.
void mxCbgdInit(int, float) {}
void mxCbgdUpdate() {}

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
