#pragma once
// What the fader events' frame work (levers and buttons, key faders, lamps) asks of a transition
// and of a key's transition settings.
#include "Lib/Include/data_internal.h"
#include "Main/bkgd/autotrans.h"

namespace category::faderwork {

constexpr float LOW = AutoTransition::LOW;
constexpr float HIGH = AutoTransition::HIGH;

inline bool runs(const AutoTransition& t) { return t.state == AutoTransition::RUNNING; }
inline bool paused(const AutoTransition& t) { return t.state == AutoTransition::PAUSED; }
inline bool stopping(const AutoTransition& t) { return t.state == AutoTransition::STOP_REQUEST; }

// The transition setting in force of a key or downstream key: setting B while it runs reversed and
// the two are not linked, else setting A.
template <class R>
const MxifKey::Trans& activeTrans(const R& r) {
  return r.inOutLink != 1 && r.reverse != 0 ? r.transOut : r.transIn;
}
// Its rate, 0 (a cut) while the setting is off.
template <class R>
int activeRate(const R& r) {
  const MxifKey::Trans& a = activeTrans(r);
  return a.on == 1 ? a.value : 0;
}

// The position of a transition in program terms: 1 - position A while its flip is negative.
inline float programPosition(const AutoTransition& t) { return t.flip < 0 ? 1.0f - t.positionA : t.positionA; }

// The on-air sense of a key or downstream key: +1 on air forward, -1 on air in the reversed sense
// (flip negative), 0 off air.
inline int onAirSign(const AutoTransition& t) {
  if (t.flip >= 0) return t.positionA > LOW ? 1 : 0;
  return 1.0f - t.positionA > LOW ? -1 : 0;
}

}  // namespace category::faderwork
