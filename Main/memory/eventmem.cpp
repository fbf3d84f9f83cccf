#include "Main/memory/eventmem.h"

namespace category {

CategoryEventMemory& CategoryEventMemory::instance() {
  static CategoryEventMemory category;
  return category;
}

bool CategoryEventMemory::isLinkedToMe(int me) {
  const MxifEventMemory& r = record(0);
  return r.enable != 0 && r.linkedMe == me + 1;
}

EventPlayer& CategoryEventMemory::registerPlayer(int n) {
  MX_CHECK(0 <= n && n < N_REGISTER_PLAYERS);
  return registers_[n];
}

void CategoryEventMemory::initInternal() {
  CategoryCommon::initInternal();
  work_.status = EventPlayer::STATUS_IDLE;
  for (auto& p : registers_) p.status = EventPlayer::STATUS_IDLE;
}

CategoryEventMemoryStatus& CategoryEventMemoryStatus::instance() {
  static CategoryEventMemoryStatus category;
  return category;
}

}  // namespace category
