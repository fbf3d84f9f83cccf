// What a record's fields take, read from the limits the record declares beside its field list
// (Lib/Include/limits.h): the declarations that the back end's checks apply, evaluated here for an
// instance and the values a request goes with.
#include <algorithm>
#include <cmath>
#include <set>

#include "Tools/lib/record_view.h"

namespace frontend::records {

namespace {

// A run of a declaration's as an interval.
Interval intervalOf(const limits::Range& r) { return {static_cast<double>(r.lo), static_cast<double>(r.hi)}; }

// The values of a kind's width.
Interval valuesOfKind(codec::Kind kind) {
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  return {static_cast<double>(lo), static_cast<double>(hi)};
}

// The intervals less the values lo..hi.
std::vector<Interval> without(const std::vector<Interval>& in, double lo, double hi) {
  std::vector<Interval> out;
  for (const Interval& i : in) {
    if (i.hi < lo || i.lo > hi) {
      out.push_back(i);
      continue;
    }
    if (i.lo < lo) out.push_back({i.lo, lo - 1});
    if (i.hi > hi) out.push_back({hi + 1, i.hi});
  }
  return out;
}

}  // namespace

Declared::Declared(RecordView& view) : view_(view) {
  if (view.type().walkLimits == nullptr) return;
  struct Sink final : limits::LimitSink {
    explicit Sink(std::vector<limits::Limit>& to) : all(to) {}
    void limit(const limits::Limit& l) override { all.push_back(l); }
    std::vector<limits::Limit>& all;
  } sink(all_);
  view.type().walkLimits(view.bytes(), sink);
}

std::vector<const limits::Limit*> Declared::of(const Target& t) const {
  std::vector<const limits::Limit*> out;
  const int width = codec::widthOf(t.field->leaf.kind);
  const u8* from = view_.bytes() + t.field->offset + static_cast<size_t>(width) * static_cast<size_t>(t.element);
  for (const limits::Limit& l : all_) {
    if (l.at <= from && from < l.at + l.size) out.push_back(&l);
  }
  return out;
}

std::vector<const rules::Rule*> Declared::rulesOf(const Field& f) const {
  std::vector<const rules::Rule*> out;
  const u8* from = view_.bytes() + f.offset;
  const size_t size = static_cast<size_t>(codec::widthOf(f.leaf.kind)) * static_cast<size_t>(f.leaf.count) +
                      (f.textCapacity > 0 ? static_cast<size_t>(f.textCapacity) + 1 : 0);
  for (const limits::Limit& l : all_) {
    if (l.kind != limits::Limit::RULE || l.at + l.size <= from || l.at >= from + size) continue;
    if (std::find(out.begin(), out.end(), l.rule) == out.end()) out.push_back(l.rule);
  }
  return out;
}

std::vector<Target> Declared::inputs(const Target& t) const {
  std::vector<Target> out;
  for (const limits::Limit* l : of(t)) {
    if (l->kind != limits::Limit::COMPUTED) continue;
    for (int i = 0; i < 2 && l->input[i] != nullptr; ++i) {
      const size_t at = static_cast<size_t>(l->input[i] - view_.bytes());
      for (const Field& f : view_.fields()) {
        const size_t width = static_cast<size_t>(codec::widthOf(f.leaf.kind));
        if (f.leaf.isMask || at < f.offset || at >= f.offset + width * static_cast<size_t>(f.leaf.count)) continue;
        out.push_back({&f, static_cast<int>((at - f.offset) / width)});
        break;
      }
    }
  }
  return out;
}

std::vector<Interval> Declared::takes(const Target& t, const limits::Inputs& in) const {
  std::vector<Interval> out{valuesOfKind(t.field->leaf.kind)};
  for (const limits::Limit* l : of(t)) {
    switch (l->kind) {
      case limits::Limit::RUNS:
        out.clear();
        for (int i = 0; i < l->count; ++i) out.push_back(intervalOf(l->run()[i]));
        break;
      case limits::Limit::COMPUTED: {
        limits::Runs runs;
        l->computed->runs(in, runs);
        out.clear();
        for (int i = 0; i < runs.count; ++i) out.push_back(intervalOf(runs.run[i]));
        break;
      }
      case limits::Limit::RULE:
        break;
    }
  }
  for (const limits::Limit* l : of(t)) {
    if (l->kind != limits::Limit::RULE) continue;
    if (l->refuses.kind == limits::Refuses::ALL) out.clear();
    if (l->refuses.kind == limits::Refuses::RUN) out = without(out, l->refuses.run.lo, l->refuses.run.hi);
  }
  return out;
}

bool Declared::refusesAll(const Field& f) const {
  const u8* from = view_.bytes() + f.offset;
  for (const limits::Limit& l : all_) {
    if (l.kind == limits::Limit::RULE && l.refuses.kind == limits::Refuses::ALL && l.at <= from && from < l.at + l.size) {
      return true;
    }
  }
  return false;
}

}  // namespace frontend::records
