#include "Main/key/keymem.h"

#include "Lib/Include/check.h"

void KeyMemory::init() {
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_KEY; ++k) {
      keys[m][k].me = static_cast<u32>(m);
      keys[m][k].key = static_cast<u32>(k);
      keys[m][k].changed = 0;
    }
  }
  for (int c = 0; c < N_DSK; ++c) {
    dsks[c].me = 0;
    dsks[c].key = static_cast<u32>(c);
    dsks[c].changed = 0;
  }
}

void KeyMemory::onOperateAssign(const Switches& change, const Switches& live) {
  if (busy) return;
  const bool enable = (change.mask & Switches::ENABLE) && change.enable != live.enable;
  const bool share = (change.mask & Switches::SHARE) && change.share != live.share;
  if (enable || share) clearAll();
}

void KeyMemory::update(const Switches& live) {
  if (live.enable != 1) return;
  shared = live.share == 1 ? 1 : 0;
  // The current key sources are stored here once the memory keeps parameters.
  auto settle = [](Entry& e) {
    e.changed = 0;
    e.previousSource = e.source;
  };
  for (auto& row : keys) {
    for (auto& e : row) settle(e);
  }
  for (auto& e : dsks) settle(e);
}

void KeyMemory::clearAll() {
  init();
  // The source units are emptied here once the memory keeps parameters.
}

void KeyMemory::setDskChanged(int ch) { MX_CHECK(0 <= ch && ch < N_DSK); }
