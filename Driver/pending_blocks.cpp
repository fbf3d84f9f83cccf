// Empty entries of block drivers that are not built yet. A block driver that lands defines its
// entries in its own source (with the signatures of Driver/blocks.h) and deletes its lines here;
// the linker reports a duplicate definition until it does.
#include "Driver/blocks.h"


// Still players, crosspoint frame writer.
void mxFrameUpdate() {}

// SDI and DVI inputs, output converters, genlock.
void mxDviInit() {}
void mxOutConvInit() {}
