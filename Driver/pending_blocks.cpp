// Empty entries of block drivers that are not built yet. A block driver that lands defines its
// entries in its own source (with the signatures of Driver/blocks.h) and deletes its lines here;
// the linker reports a duplicate definition until it does.
#include "Driver/blocks.h"
#include "Driver/calllog.h"
#include "Driver/key/key.h"

// Format timing and board monitoring.
void mxTemperatureMonitorStart() {}


// Key driver.
void mxKeyInit() {}
void mxKeyWriteParams() {}
void mxKeyUpdateMixer() {}
void mxKeyLatchParams() {}
void mxKeySetMatteColor(int, int, int, int) {}
void mxKeySetEdgeColor(int, int, int, int) {}
void mxKeySetExtraColor(int, int, int, int) {}
void mxKeySetFilterParameters(int, float, float, float, float) {}
void mxKeySetDelayed(int, int) {}
int mxKeyParamsChanged(int, int) { return 0; }
void mxKeySetLevel(int target, float level) { MX_NOTE_CALL(target, level); }
void mxKeySetPreview(int key, int pvw) { MX_NOTE_CALL(key, static_cast<float>(pvw)); }

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
