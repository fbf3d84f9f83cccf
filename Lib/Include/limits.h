#pragma once
// What each field of a record takes from a request, declared once beside the record's field list,
// in a static member template `limits` that a record (or sub-record) defines:
//
//   template <class L, class R>
//   static constexpr void limits(L& l, R& r) {
//     l.take(r.format, 0, N_FORMATS - 1);          // every element of the field: lo..hi
//     l.take(r.window[2], 0, 10000);                // one element
//     l.take(r.dveScale.first, SCALE_VALUES);       // a set of runs (a constant Range[N])
//     l.take(r.patternNumber, PATTERN_NUMBERS, r.patternKind);  // a range computed from values
//     l.rule(r.dveBorder.width, BORDER_WIDTH, limits::refuses(0, 0));  // a rule that decides it
//     l.rule(r.source, FOLLOWS_BUS, limits::refusesOutside(SLOT_SOURCES));  // ... of a set's values
//     l.sub(r.trans);                               // a sub-record's own limits
//   }
//
// The back end's checks apply them (check, takes); the front end's tools read the same lists to say
// what a field takes. A field without a declaration takes whatever its width holds.
//
// A computed range is a named rule both sides run (Computed): it reads the record's instance (its ME
// and channel) and up to two elements of the request itself, which a request carries with the field
// (they lie under its presence bit), and says which of them decided.
#include <cstddef>
#include <type_traits>

#include "Lib/Include/codec.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"

namespace limits {

using rules::Range;

// The runs a computed range gives, in ascending order.
struct Runs {
  static constexpr int CAPACITY = 32;
  Range run[CAPACITY] = {};
  int count = 0;
  constexpr void add(s32 lo, s32 hi) {
    if (count > 0 && run[count - 1].hi + 1 == lo) {
      run[count - 1].hi = hi;
    } else if (count < CAPACITY) {
      run[count++] = {lo, hi};
    }
  }
  constexpr bool holds(s64 v) const {
    for (int i = 0; i < count; ++i) {
      if (run[i].lo <= v && v <= run[i].hi) return true;
    }
    return false;
  }
};

// What a computed range reads: the instance, and the values of the elements it names (as the
// request carries them).
struct Inputs {
  int me = 0;
  int channel = 0;
  s64 value[2] = {};
};

// A range computed from the values it reads. runs() fills `out` and returns a bit for each element
// input whose value decided (bit 0 the first), so that a refusal names exactly those.
struct Computed {
  int (*runs)(const Inputs& in, Runs& out);
  bool readsMe = false;
  bool readsChannel = false;
};

// What a rule declared with a field refuses of the field's own values in a request (the values its
// range check would take): nothing (it moves or reads the field), all of them, a run, or every value
// outside a set of runs.
struct Refuses {
  enum Kind : u8 { NOTHING, ALL, RUN, OUTSIDE } kind = NOTHING;
  Range run = {0, 0};
  const Runs* set = nullptr;  // OUTSIDE: the runs it leaves
};
constexpr Refuses REFUSES_ALL = {Refuses::ALL, {0, 0}};
constexpr Refuses refuses(s32 lo, s32 hi) { return {Refuses::RUN, {lo, hi}}; }
constexpr Refuses refusesOutside(const Runs& set) { return {Refuses::OUTSIDE, {0, 0}, &set}; }

// The instance a record's checks run for.
struct Instance {
  int me = 0;
  int channel = 0;
};

// ---- Walking the declarations -------------------------------------------------------------------

// One declaration as a walker hands it out: the bytes it covers in the record walked (a field, or
// one element of it), and what they take.
struct Limit {
  enum Kind : u8 { RUNS, COMPUTED, RULE } kind = RUNS;
  const u8* at = nullptr;  // in the record walked
  size_t size = 0;         // bytes: a whole field or one element
  int width = 1;           // bytes of an element
  // RUNS: the runs: a constant table, or `one` (runs null) for lo..hi.
  const Range* runs = nullptr;
  int count = 0;
  Range one = {0, 0};
  const Range* run() const { return runs != nullptr ? runs : &one; }
  // COMPUTED: the rule, and the elements it reads (null where it reads fewer).
  const Computed* computed = nullptr;
  const u8* input[2] = {nullptr, nullptr};
  int inputWidth[2] = {0, 0};
  bool inputSigned[2] = {false, false};
  // RULE: a rule that decides the bytes, and what it refuses of their values.
  const rules::Rule* rule = nullptr;
  Refuses refuses = {};
};

// Receives every declaration of a record, in the order of its list.
class LimitSink {
 public:
  virtual void limit(const Limit& l) = 0;

 protected:
  ~LimitSink() = default;
};

namespace internal {

template <class X>
using Elem = std::remove_cv_t<std::remove_all_extents_t<std::remove_cv_t<X>>>;

template <class X>
constexpr int widthOf() {
  return static_cast<int>(sizeof(Elem<X>));
}

template <class X>
const u8* bytesOf(const X& x) {
  return reinterpret_cast<const u8*>(&x);
}

}  // namespace internal

// The visitor that hands each declaration to a sink (the tools', and the tests').
class Walker {
 public:
  explicit Walker(LimitSink& sink) : sink_(sink) {}

  template <class X>
  void take(const X& x, s32 lo, s32 hi) {
    Limit l = base(x);
    l.one = {lo, hi};
    l.count = 1;
    sink_.limit(l);
  }
  template <class X, size_t N>
  void take(const X& x, const Range (&set)[N]) {
    Limit l = base(x);
    l.runs = set;
    l.count = static_cast<int>(N);
    sink_.limit(l);
  }
  template <class X>
  void take(const X& x, const Computed& c) {
    Limit l = base(x);
    l.kind = Limit::COMPUTED;
    l.computed = &c;
    sink_.limit(l);
  }
  template <class X, class A>
  void take(const X& x, const Computed& c, const A& a) {
    Limit l = base(x);
    l.kind = Limit::COMPUTED;
    l.computed = &c;
    input(l, 0, a);
    sink_.limit(l);
  }
  template <class X, class A, class B>
  void take(const X& x, const Computed& c, const A& a, const B& b) {
    Limit l = base(x);
    l.kind = Limit::COMPUTED;
    l.computed = &c;
    input(l, 0, a);
    input(l, 1, b);
    sink_.limit(l);
  }
  template <class X>
  void rule(const X& x, const rules::Rule& r, Refuses what = {}) {
    Limit l = base(x);
    l.kind = Limit::RULE;
    l.rule = &r;
    l.refuses = what;
    sink_.limit(l);
  }
  template <class S>
  void sub(const S& s) {
    if constexpr (requires(Walker& w) { S::limits(w, s); }) S::limits(*this, s);
  }

 private:
  template <class X>
  static Limit base(const X& x) {
    Limit l;
    l.at = internal::bytesOf(x);
    l.size = sizeof x;
    l.width = internal::widthOf<X>();
    return l;
  }
  template <class A>
  static void input(Limit& l, int i, const A& a) {
    static_assert(!std::is_array_v<A>, "a computed range reads elements");
    l.input[i] = internal::bytesOf(a);
    l.inputWidth[i] = static_cast<int>(sizeof a);
    if constexpr (std::is_enum_v<A>) {
      l.inputSigned[i] = std::is_signed_v<std::underlying_type_t<A>>;
    } else {
      l.inputSigned[i] = std::is_signed_v<internal::Elem<A>>;
    }
  }
  LimitSink& sink_;
};

// Walks every declaration of a record (their bytes point into r).
template <class T>
void walk(const T& r, LimitSink& sink) {
  Walker w(sink);
  if constexpr (requires { T::limits(w, r); }) T::limits(w, r);
}

// Whether the record type declares its limits.
template <class T>
constexpr bool declares() {
  return requires(Walker& w, const T& r) { T::limits(w, r); };
}

// ---- One run, read at compile time ----------------------------------------------------------------

namespace internal {

// Finds the run lo..hi that a record declares for the field at `at`.
class RunFinder {
 public:
  constexpr explicit RunFinder(const void* at) : at_(at) {}
  template <class X>
  constexpr void take(const X& x, s32 lo, s32 hi) {
    if (static_cast<const void*>(&x) == at_) run = {lo, hi}, found = true;
  }
  template <class X, size_t N>
  constexpr void take(const X&, const Range (&)[N]) {}
  template <class X, class... A>
  constexpr void take(const X&, const Computed&, const A&...) {}
  template <class X>
  constexpr void rule(const X&, const rules::Rule&, Refuses = {}) {}
  template <class S>
  constexpr void sub(const S& s) {
    if constexpr (requires(RunFinder& f) { S::limits(f, s); }) S::limits(*this, s);
  }
  Range run = {0, -1};
  bool found = false;

 private:
  const void* at_;
};

}  // namespace internal

// The run lo..hi that record type R declares for one of its fields, for code that must say or parse
// the same numbers without a record at hand (a tool's usage line). R declares exactly one run of it.
template <class R, class F>
consteval Range runOf(F R::*member) {
  const R r{};
  internal::RunFinder f(&(r.*member));
  R::limits(f, r);
  if (!f.found) throw "the record declares no single run of the field";
  return f.run;
}

// ---- The back end's checks ------------------------------------------------------------------------

namespace internal {

// Checks the bytes [from, from + size) of the record visited against each declaration that covers
// any of them: every element there must lie in its range; each that does not is noted (rules.h),
// with the inputs of a computed range that decided. found: some declaration covered them.
class Checker {
 public:
  Checker(const void* from, size_t size, const Instance& at)
      : from_(static_cast<const u8*>(from)), to_(static_cast<const u8*>(from) + size), at_(at) {}

  template <class X>
  void take(const X& x, s32 lo, s32 hi) {
    each(x, [&](const auto& e) { return rules::within(e, lo, hi); });
  }
  template <class X, size_t N>
  void take(const X& x, const Range (&set)[N]) {
    each(x, [&](const auto& e) { return rules::withinAny(e, set, N); });
  }
  template <class X>
  void take(const X& x, const Computed& c) {
    computed(x, c, static_cast<const int*>(nullptr), static_cast<const int*>(nullptr));
  }
  template <class X, class A>
  void take(const X& x, const Computed& c, const A& a) {
    computed(x, c, &a, static_cast<const A*>(nullptr));
  }
  template <class X, class A, class B>
  void take(const X& x, const Computed& c, const A& a, const B& b) {
    computed(x, c, &a, &b);
  }
  template <class X>
  void rule(const X&, const rules::Rule&, Refuses = {}) {}
  template <class S>
  void sub(const S& s) {
    if constexpr (requires(Checker& c) { S::limits(c, s); }) S::limits(*this, s);
  }

  bool found = false;
  bool ok = true;

 private:
  // Calls check(element) for each element of x that lies in the bytes checked.
  template <class X, class Check>
  void each(const X& x, Check&& check) {
    const u8* p = bytesOf(x);
    if (p + sizeof x <= from_ || p >= to_) return;
    found = true;
    if constexpr (std::is_array_v<X>) {
      for (const auto& e : x) {
        if (bytesOf(e) >= from_ && bytesOf(e) < to_) ok = check(e) && ok;
      }
    } else {
      ok = check(x) && ok;
    }
  }
  template <class X, class A, class B>
  void computed(const X& x, const Computed& c, const A* a, const B* b) {
    Inputs in{at_.me, at_.channel, {}};
    if (a != nullptr) in.value[0] = rules::valueOf(*a);
    if (b != nullptr) in.value[1] = rules::valueOf(*b);
    Runs runs;
    bool evaluated = false;
    int decided = 0;
    each(x, [&](const auto& e) {
      if (!evaluated) decided = c.runs(in, runs), evaluated = true;
      if (rules::withinAny(e, runs.run, static_cast<size_t>(runs.count))) return true;
      if (a != nullptr && (decided & 1) != 0) rules::dependsOn(*a);
      if (b != nullptr && (decided & 2) != 0) rules::dependsOn(*b);
      return false;
    });
  }
  const u8* from_;
  const u8* to_;
  Instance at_;
};

}  // namespace internal

// The check of the field (or element) that a merge offers, by the record's declared limits: 1 every
// element offered lies in them, 0 some does not (each noted), -1 the record declares none of it.
// sent: the record the merge takes from (the request), whose elements a computed range reads.
template <class R>
int check(const R& sent, const codec::FieldView& f, const Instance& at = {}) {
  const u8* p = static_cast<const u8*>(f.field);
  const size_t width = f.index >= 0 ? f.size / static_cast<size_t>(f.count) : f.size;
  internal::Checker c(f.index >= 0 ? p + width * static_cast<size_t>(f.index) : p, width, at);
  R::limits(c, sent);
  return c.found ? (c.ok ? 1 : 0) : -1;
}

// Whether a field (or element) of `sent` lies in the limits the record declares for it; one that
// does not is noted. The record declares limits of the field.
template <class R, class X>
bool takes(const R& sent, const X& field, const Instance& at = {}) {
  internal::Checker c(&field, sizeof field, at);
  R::limits(c, sent);
  MX_CHECK(c.found);
  return c.ok;
}

// Sets `bit` in `out` when it is set in `in` and the field lies in the limits the record declares
// for it (a check by presence bit).
template <class R, class X>
void accept(const R& sent, u32 in, u32& out, u32 bit, const X& field, const Instance& at = {}) {
  if ((in & bit) != 0 && takes(sent, field, at)) out |= bit;
}

}  // namespace limits
