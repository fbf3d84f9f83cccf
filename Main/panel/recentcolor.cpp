#include "Main/panel/recentcolor.h"

#include <algorithm>
#include <cstring>

#include "Lib/Include/rules.h"

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
  static constexpr rules::Rule HELD_ALREADY = {
      rules::Effect::REFUSES, "color0 sent alone goes to the front of the recent colours unless the list holds it "
                              "already: then the list stays as it is"};
  MxifRecentColor& live = record(idx);
  const u32 present = in.colorMask & ALL_COLORS;
  u32 refused = 0;
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
    } else if (held != std::begin(live.colors)) {
      rules::note(HELD_ALREADY, in, in.colors[0]);
      for (const s16& v : *held) rules::input(live, v);
    }
    refused = present & ~1u;
  } else {
    refused = present;
  }
  for (int n = 0; n < MxifRecentColor::N_COLORS; ++n) {
    if ((refused >> n & 1u) == 0) continue;
    rules::note(MxifRecentColor::ALL_OR_JUST_USED, in, in.colors[n]);
    // Colour 0 would have been taken as the colour just used without colour 1.
    if (n == 0) rules::sent(in, in.colors[1][0]);
  }
  dirty[idx] = 1;
}

}  // namespace category
