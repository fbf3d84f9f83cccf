#include "Main/fader/lamptally.h"

#include "Main/tally/tally.h"
#include "Main/framework/bp.h"

namespace category {

int busTally(int me, int entry) {
  if (me < 0 || me >= N_ME) return 0;  // row bytes come as the front end sent them
  return CategoryBusTally::entryTally(me, entry);
}

bool tallyLampExclusion() {
  const MxifPeripheral* p = CategoryRegistry::instance().record<MxifPeripheral>();
  return p != nullptr && p->groups[0].exclusion != 0;
}

bool layerTallied(int me, int entry) { return busTally(me, entry) != 0 && !tallyLampExclusion(); }

bool keyTallied(int me, int k) { return layerTallied(me, KEY_FILL_ENTRY + 2 * k); }

bool dskTallied(int c) { return layerTallied(DSK_TALLY_ME, DSK_FILL_ENTRY + 2 * c); }

}  // namespace category
