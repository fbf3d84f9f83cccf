#include "Main/panel/recentcolor.h"

#include <algorithm>
#include <cstring>

namespace category {

namespace {

constexpr u32 ALL_COLORS = (1u << MxifRecentColor::N_COLORS) - 1;

bool sameColor(const s16 (&a)[3], const s16 (&b)[3]) { return std::equal(a, a + 3, b); }

}  // namespace

CategoryRecentColor& CategoryRecentColor::instance() {
  static CategoryRecentColor cat;
  return cat;
}

void CategoryRecentColor::assign(const MxifRecentColor& in, int idx) {
  MxifRecentColor& live = record(idx);
  const u32 present = in.colorMask & ALL_COLORS;
  if (present == ALL_COLORS) {
    std::memcpy(live.colors, in.colors, sizeof live.colors);
    live.colorMask |= ALL_COLORS;
  } else if ((present & 3u) == 1u) {
    const auto held = std::find_if(std::begin(live.colors), std::end(live.colors),
                                   [&](const s16(&c)[3]) { return sameColor(c, in.colors[0]); });
    if (held == std::end(live.colors)) {
      std::memmove(live.colors[1], live.colors[0], sizeof live.colors - sizeof live.colors[0]);  // the last drops
      std::copy(in.colors[0], in.colors[0] + 3, live.colors[0]);
      live.colorMask |= ALL_COLORS;
    }
  }
  dirty[idx] = 1;
}

}  // namespace category
