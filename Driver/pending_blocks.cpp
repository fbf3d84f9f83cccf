// Empty entries of block drivers that are not built yet. A block driver that lands defines its
// entries in its own source (with the signatures of Driver/blocks.h) and deletes its lines here;
// the linker reports a duplicate definition until it does.
#include "Driver/blocks.h"

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
void mxFilterSetParameters(int, float, float, float, float) {}

// Key driver.
void mxKeyInit() {}
void mxKeyWriteParams() {}
void mxKeyUpdateMixer() {}
void mxKeyLatchParams() {}
void mxKeySetMatteColor(int, int, int, int) {}
void mxKeySetEdgeColor(int, int, int, int) {}
void mxKeySetExtraColor(int, int, int, int) {}

// Colour background driver.
void mxCbgdInit(int, float) {}
void mxCbgdUpdate() {}

// Multiview driver and OSD renderer.
void mxMvInitFormat() {}
void mxMvReset(int) {}
void mxMvUpdate() {}
void mxOsdBoardInit() {}

// Still players, crosspoint frame writer.
void mxFrameUpdate() {}

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
