#pragma once
// Reading other categories through the registry, for the bus, fader-event and lamp code.
#include "Main/framework/bp.h"

namespace category {

// Another category's record; all zeros while that category is absent.
template <class R>
const R& recordOf(int me = 0, int channel = 0) {
  static const R absent{};
  const R* r = CategoryRegistry::instance().record<R>(me, channel);
  return r != nullptr ? *r : absent;
}

// The category registered under a type for exactly this ME, as class C; null when there is none.
template <class C>
C* categoryAt(int type, int me) {
  return CategoryRegistry::instance().findAt<C>(type, me);
}

}  // namespace category
