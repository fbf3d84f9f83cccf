#include "Main/bkgd/bkgdwipe.h"

#include <cstring>
#include <type_traits>

#include "Lib/Include/rules.h"
#include "Main/bkgd/bkgd.h"

namespace category {
namespace {

using B = MxifBkgd;

constexpr u32 bit(int n) { return 1u << n; }

// A visitor of a sub-record's field list that hands each field, with the same field of another
// sub-record, to fn (presence words too when withMasks); inlined, as it runs for every background
// every frame.
template <class Fn>
struct PairVisit {
  Fn& fn;
  const u8* base;
  const u8* other;
  bool withMasks;
  template <class X>
  void at(const X& x) {
    fn(x, *reinterpret_cast<const X*>(other + (reinterpret_cast<const u8*>(&x) - base)));
  }
  template <class M>
  void mask(const char*, const M& m) {
    if (withMasks) at(m);
  }
  template <class X>
  void field(const char*, const X& x) {
    at(x);
  }
  template <class X, class M>
  void field(const char*, const X& x, const M&, int) {
    at(x);
  }
  template <class X, class M>
  void each(const char*, const X& x, const M&, int) {
    at(x);
  }
  template <class T>
  void sub(const char*, const T& t) {
    T::fields(*this, t);
  }
};

// Calls fn(field of a, same field of b) for each field of sub-records a and b.
template <class S, class Fn>
void eachFieldPair(const S& a, const S& b, bool withMasks, Fn&& fn) {
  PairVisit<Fn> visit{fn, reinterpret_cast<const u8*>(&a), reinterpret_cast<const u8*>(&b), withMasks};
  S::fields(visit, a);
}

// Whether two sub-records hold the same fields, presence words included.
template <class S>
bool sameFields(const S& a, const S& b) {
  bool same = true;
  eachFieldPair(a, b, true, [&](const auto& x, const auto& y) { same = same && std::memcmp(&x, &y, sizeof x) == 0; });
  return same;
}

// The wipe settings of a background, in the order they are tracked: field(member, presence word,
// bits) for the fields, sub(member) for the sub-records, which travel whole.
template <class Field, class Sub>
void wipeGroups(Field&& field, Sub&& sub) {
  field(&B::direction, &B::mask, bit(B::BIT_DIRECTION));
  field(&B::nrMode, &B::mask, bit(B::BIT_NR_MODE));
  field(&B::borderSource, &B::mask, bit(B::BIT_BORDER_SOURCE));
  field(&B::partialOn, &B::positionMask, bit(0));
  field(&B::partialPosition, &B::positionMask, bit(1));
  field(&B::partialRate, &B::positionMask, bit(2));
  field(&B::patternNumber, &B::mask, bit(B::BIT_PATTERN));
  field(&B::patternKind, &B::mask, bit(B::BIT_PATTERN));
  field(&B::borderOn, &B::borderMask, bit(0));
  field(&B::borderWidth, &B::borderMask, bit(1));
  field(&B::softness, &B::borderMask, bit(2));
  field(&B::borderColor, &B::mask, bit(B::BIT_BORDER_COLOR));
  field(&B::dustOn, &B::dustMask, bit(0));
  field(&B::dustGain, &B::dustMask, bit(1));
  field(&B::dustLevelOn, &B::dustMask, bit(2));
  field(&B::dustLevel, &B::dustMask, bit(3));
  field(&B::edges, &B::mask, bit(B::BIT_EDGES));
  field(&B::option144, &B::mask, bit(B::BIT_OPTION144));
  field(&B::option145, &B::mask, bit(B::BIT_OPTION145));
  field(&B::option146, &B::mask, bit(B::BIT_OPTION146));
  field(&B::edgeSymmetry, &B::mask, bit(B::BIT_EDGE_SYMMETRY));
  field(&B::option148, &B::mask, bit(B::BIT_OPTION148));
  field(&B::presetCheck, &B::mask, bit(B::BIT_PRESET_CHECK));
  field(&B::option150, &B::mask, bit(B::BIT_OPTION150));
  field(&B::option152, &B::mask, bit(B::BIT_OPTION152));
  field(&B::size1, &B::mask, bit(B::BIT_SIZE1));
  field(&B::size2, &B::mask, bit(B::BIT_SIZE2));
  field(&B::point1, &B::mask, bit(B::BIT_POINT1));
  field(&B::center, &B::mask, bit(B::BIT_CENTER));
  field(&B::point2, &B::mask, bit(B::BIT_POINT2));
  field(&B::offsets, &B::mask, bit(B::BIT_OFFSETS));
  sub(&B::spin);
  sub(&B::modify);
  field(&B::statusValue1, &B::statusMask, bit(0));
  field(&B::statusValue2, &B::statusMask, bit(1));
  field(&B::statusFlag, &B::statusMask, bit(2));
  sub(&B::patFree1);
  sub(&B::patFree2);
  sub(&B::link);
  sub(&B::modulationX);
  sub(&B::modulationY);
}

constexpr rules::Rule FOLLOWS_BACKGROUND = {
    rules::Effect::MOVES, "the selected wipe entry (bkgd[selected]) follows the ME's background (MxifBkgd): every "
                          "frame it takes each wipe setting of the background that differs"};

// Notes the rule on each element of a wipe entry (within the wipe record) that is about to take the
// background's differing element, with that element as what decided it.
struct FollowNotes {
  const MxifBkgdWipe& wipe;
  const B& live;
  int me;

  template <class X>
  void element(const X& to, const X& from) const {
    if constexpr (std::is_array_v<X>) {
      for (size_t i = 0; i < std::extent_v<X>; ++i) element(to[i], from[i]);
    } else if (std::memcmp(&to, &from, sizeof to) != 0) {
      rules::note(FOLLOWS_BACKGROUND, wipe, to);
      rules::input(live, from, me, 0);
    }
  }
  // A sub-record's fields (presence words are no settings), each against the same field of from.
  template <class S>
  void sub(const S& to, const S& from) const {
    eachFieldPair(to, from, false, [&](const auto& x, const auto& y) { element(x, y); });
  }
};

// Copies the wipe settings of from into to with their presence bits: all of them, or with
// onlyChanged those that differ, each noted by notes unless null.
void copyWipe(const B& from, B& to, bool onlyChanged, const FollowNotes* notes = nullptr) {
  wipeGroups(
      [&](auto B::*m, u32 B::*mask, u32 bits) {
        if (onlyChanged && std::memcmp(&(from.*m), &(to.*m), sizeof(from.*m)) == 0) return;
        if (notes != nullptr) notes->element(to.*m, from.*m);
        std::memcpy(&(to.*m), &(from.*m), sizeof(from.*m));
        to.*mask |= bits;
      },
      [&](auto B::*m) {
        if (onlyChanged && sameFields(from.*m, to.*m)) return;
        if (notes != nullptr) notes->sub(to.*m, from.*m);
        to.*m = from.*m;
        codec::setAllPresence(to.*m);
      });
}

// The step cycles of each pattern group: {first, length}.
struct Cycle {
  int first, length;
};
constexpr int N_STEP_GROUPS = 4;
constexpr Cycle CYCLES[N_STEP_GROUPS][5] = {
    {{0, 4}, {4, 4}, {8, 2}},
    {{0, 4}, {4, 4}, {8, 2}, {16, 4}, {20, 3}},
    {{0, 4}, {4, 4}, {8, 4}, {12, 4}},
    {{0, 4}, {4, 2}, {6, 2}, {8, 4}, {12, 4}},
};

// The pattern number that follows n in the step cycle of pattern group k; -1 when none does.
int nextPattern(int k, int n) {
  if (k < 0 || k >= N_STEP_GROUPS) return -1;
  for (const Cycle& c : CYCLES[k]) {
    if (c.length > 0 && c.first <= n && n < c.first + c.length) return c.first + (n - c.first + 1) % c.length;
  }
  return -1;
}

}  // namespace

CategoryBkgdWipe* CategoryBkgdWipe::instance() {
  static CategoryBkgdWipe objects[N_ME];
  return objects;
}

void CategoryBkgdWipe::initInternal() {
  CategoryCommon::initInternal();
  applied_ = record(0).selected;
}

void CategoryBkgdWipe::assign(const MxifBkgdWipe& in, int ch) {
  static constexpr rules::Rule PATTERN_15_OF_KIND_1 = {
      rules::Effect::MOVES, "a stored wipe's pattern 15 of patternKind 1 (which the background does not draw) is "
                            "stored as pattern 0 of kind 0"};
  MxifBkgdWipe copy = in;
  for (int n = 0; n < N_ENTRIES; ++n) {
    MxifBkgd& e = copy.entries[n];
    if (e.patternNumber != 15 || e.patternKind != 1) continue;
    if ((e.mask & bit(B::BIT_PATTERN)) != 0) {
      rules::note(PATTERN_15_OF_KIND_1, in, in.entries[n].patternNumber);
      rules::sent(in, in.entries[n].patternKind);
      rules::note(PATTERN_15_OF_KIND_1, in, in.entries[n].patternKind);
      rules::sent(in, in.entries[n].patternNumber);
    }
    e.setPattern(0, 0);
  }
  CategoryCommon::assign(copy, ch);
}

void CategoryBkgdWipe::stepPattern() {
  const MxifBkgd* live = CategoryRegistry::instance().record<MxifBkgd>(me);
  if (live == nullptr) return;
  const int m = nextPattern(live->patternKind, live->patternNumber);
  if (m < 0) return;
  MxifBkgd step;
  step.setPattern(static_cast<u8>(m), live->patternKind);
  toBackground(step);
}

// A change of the background goes through the background's own checks.
void CategoryBkgdWipe::toBackground(const MxifBkgd& change) {
  auto* bkgd = CategoryRegistry::instance().find<CategoryBkgd>(TYPE_BKGD, me);
  if (bkgd != nullptr) bkgd->assign(change, 0);
}

void CategoryBkgdWipe::update() {
  MxifBkgdWipe& w = record(0);
  if (w.stepRequest == 1) {
    stepPattern();
    w.stepRequest = 0;
    w.mask |= bit(MxifBkgdWipe::BIT_STEP_REQUEST);
  }
  const MxifBkgd* live = CategoryRegistry::instance().record<MxifBkgd>(me);
  if (applied_ < N_ENTRIES && live != nullptr) {
    const FollowNotes notes{w, *live, me};
    copyWipe(*live, w.entries[applied_], true, &notes);
  }
  if (w.selected != applied_) {
    const bool inRange = w.selected < N_ENTRIES;
    MxifBkgd& entry = w.entries[inRange ? w.selected : 0];
    const MxifOperate* op = CategoryRegistry::instance().record<MxifOperate>();
    // A stored wipe that ran reversed under normal/reverse alternation starts normal again.
    if (inRange && op != nullptr && op->wipeFlag == 1 && entry.nrMode == 1 && entry.direction == 1) {
      static constexpr rules::Rule RECALLED_NORMAL = {
          rules::Effect::MOVES, "with MxifOperate wipeFlag=1 a stored wipe recalled with nrMode 1 (normal/reverse) "
                                "starts normal again: its direction is set to 0"};
      rules::note(RECALLED_NORMAL, w, entry.direction);
      rules::input(*op, op->wipeFlag, 0, 0);
      rules::input(w, entry.nrMode, me, 0);
      entry.setDirection(0);
    }
    MxifBkgd settings;
    copyWipe(entry, settings, false);
    toBackground(settings);
    applied_ = w.selected;
  }
}

}  // namespace category
