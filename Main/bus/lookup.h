#pragma once
// Reading other categories through the registry, for the bus, fader-event and lamp code.
#include <typeinfo>

#include "Main/framework/bp.h"

namespace category {

// Another category's record; all zeros while that category is absent.
template <class R>
const R& recordOf(int me = 0, int channel = 0) {
  static const R absent{};
  const R* r = CategoryRegistry::instance().record<R>(me, channel);
  return r != nullptr ? *r : absent;
}

// A category as class C; null when it is none or not a C. One of class C exactly, as registered
// categories are, is known by its type alone, without the search of a dynamic cast.
template <class C>
C* categoryAs(CategoryInterface* category) {
  if (category != nullptr && typeid(*category) == typeid(C)) return static_cast<C*>(category);
  return dynamic_cast<C*>(category);
}

// The category registered under a type for exactly this ME, as class C; null when there is none.
template <class C>
C* categoryAt(int type, int me) {
  return categoryAs<C>(CategoryRegistry::instance().at(type, me));
}

}  // namespace category
