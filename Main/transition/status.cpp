// Transition status: the per-frame scan of the transitions and aux mixes.
#include "Main/transition/status.h"

#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"

namespace category {

namespace {

using S = MxifTransitionStatus;

constexpr int N_KEYS = 4;

}  // namespace

CategoryTransitionStatus& CategoryTransitionStatus::instance() {
  static CategoryTransitionStatus object;
  return object;
}

int CategoryTransitionStatus::bindStorage(void* area) {
  (void)area;
  own_ = S{};
  records = &own_;
  return 0;
}

void CategoryTransitionStatus::resume(const void* saved, int flag) {
  (void)saved;
  (void)flag;
}

void CategoryTransitionStatus::assign(const S& in, int ch) {
  S& r = record(ch);
  for (int g = 0; g < S::N_GROUPS; ++g) {
    for (int e = 0; e < S::N_ENTRIES; ++e) {
      if ((in.group[g].mask >> e & 1u) == 0) continue;
      r.group[g].state[e] = in.group[g].state[e];
      r.group[g].mask |= 1u << e;
    }
  }
  dirty[ch] = 1;
}

void CategoryTransitionStatus::note(int seen, int g, int e, u8 state) {
  if (seen_[seen] == state) return;
  seen_[seen] = state;
  S& r = record(0);
  r.group[g].state[e] = state;
  r.group[g].mask |= 1u << e;
}

void CategoryTransitionStatus::update() {
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
  auto state = [&](int slot) { return static_cast<u8>(faders.transition(slot).state); };
  for (int m = 0; m < N_ME; ++m) note(m, S::BKGD, m, state(AutoTransition::bkgdSlot(m)));
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_KEYS; ++k) {
      note(N_ME + N_KEYS * m + k, S::KEY1 + k, m, state(AutoTransition::keySlot(m, k)));
    }
  }
  for (int d = 0; d < S::N_ENTRIES; ++d) note(20 + d, S::DSK, d, state(AutoTransition::dskSlot(d)));
  const auto* bus = CategoryRegistry::instance().find<const CategoryBus>(TYPE_BUS, 0);
  for (int a = 0; a < S::N_ENTRIES; ++a) {
    const u8 mix = bus == nullptr ? 0 : bus->isMixRunning(a) != 0 ? 1 : bus->isMixHeld(a) != 0 ? 2 : 0;
    note(24 + a, S::AUX, a, mix);
  }
}

}  // namespace category
