#include "Main/memory/shotmem.h"

#include <initializer_list>

#include "Main/key/keypreset.h"

namespace category {

CategoryShotMemory& CategoryShotMemory::instance() {
  static CategoryShotMemory category;
  return category;
}

CategoryShotMemory::KeyPreset CategoryShotMemory::decodeKeyPreset(int r) {
  const int n = r - FIRST_KEY_PRESET;
  // Registers below 81 would give a negative group: they are no key presets either.
  if (n < 0 || (n >> 4) >= CategoryKeyPreset::N_PRESET_GROUPS) MX_FAIL("NeverReachHere");
  return {n >> 4, (n & 15) >> 2, n & 3};
}

void CategoryShotMemory::selectKeyPreset(int r, u8 window, u8 set) {
  const KeyPreset k = decodeKeyPreset(r);
  auto* presets = CategoryRegistry::instance().find<CategoryKeyPreset>(TYPE_KEY_PRESET, 0);
  if (presets != nullptr) presets->selectPreset(k.group, k.key, k.preset, window, set);
}

void CategoryShotMemory::keyPresetStored(int r) { selectKeyPreset(r, 0, 1); }

void CategoryShotMemory::keyPresetRecalled(int r) { selectKeyPreset(r, 1, 1); }

void CategoryShotMemory::keyPresetCommandDone(int code, int r) {
  for (int c : {1, 2, 4, 10, 11, 12}) {
    if (c == code) selectKeyPreset(r, 1, 0);
  }
}

CategoryShotMemoryStatus& CategoryShotMemoryStatus::instance() {
  static CategoryShotMemoryStatus category;
  return category;
}

u8 CategoryShotMemoryStatus::isStored(int r) const { return 1 <= r && r <= N_REGISTERS ? stored_[r - 1] : 0; }

void CategoryShotMemoryStatus::setStored(int r, u8 stored) {
  MX_CHECK(1 <= r && r <= N_REGISTERS);
  stored_[r - 1] = stored;
}

void CategoryShotMemoryStatus::initInternal() {
  CategoryCommon::initInternal();
  for (auto& s : stored_) s = 0;
}

}  // namespace category
