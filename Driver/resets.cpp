// The reset table of the driver blocks: one row per reset, beside the block index
// (Driver/blocks.h). A new block adds the row of its reset here. Blocks that keep no state between
// calls (i2c, the DDR3 bring-up, which starts afresh at every call) have no row.
#include "Driver/resets.h"

#include "Driver/cbgd/cbgd.h"
#include "Driver/cc/cc.h"
#include "Driver/clip/clip.h"
#include "Driver/core/core.h"
#include "Driver/core/format.h"
#include "Driver/display/display.h"
#include "Driver/dma/dma.h"
#include "Driver/dve/dve.h"
#include "Driver/filter/filter.h"
#include "Driver/genlock/genlock.h"
#include "Driver/key/key.h"
#include "Driver/multiview/multiview.h"
#include "Driver/nand/nandflash.h"
#include "Driver/outconv/outconv.h"
#include "Driver/osd/osd.h"
#include "Driver/sdi/sdi.h"
#include "Driver/serdes/serdes.h"
#include "Driver/still/still.h"
#include "Driver/transition/transition.h"
#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"

namespace {

using Reset = void (*)();

constexpr Reset BLOCK_RESETS[] = {
    mxCoreReset,    // core: contexts, format, frame counter, start-up lock
    mxFormatReset,  // core: report counters
    mxDmaReset,     // dma
    mxNandReset,    // nand
    mxSerdesReset,  // serdes
    mxSdiReset,     // sdi: control shadow, input status, up-converters
    mxXptReset,     // xpt: crosspoint image and 4K writer state
    mxDskReset,     // xpt: DSK mixer
    mxTransReset,   // transition
    mxDveResetDriver,  // dve
    mxFilterReset,  // filter
    mxCbgdReset,    // cbgd
    mxClipReset,    // clip
    mxDisplayReset,  // display
    mxKeyReset,     // key: key blocks, key mixers, chroma keys
    mxStillReset,   // still: players and capture
    mxCcReset,      // cc: the units' kept enable values
    mxOutConvReset, // outconv: both down-converters
    mxMvResetDriver,  // multiview
    mxOsdReset,     // osd
    mxGenlockResetDriver,  // genlock
};

}  // namespace

void mxResetAllBlocks() {
  for (Reset reset : BLOCK_RESETS) reset();
}
