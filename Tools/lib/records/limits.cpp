// What a record's fields take, read from the limits the record declares beside its field list
// (Lib/Include/limits.h): the declarations that the back end's checks apply, evaluated here for an
// instance and the values a request goes with.
#include <algorithm>
#include <cmath>
#include <set>

#include "Lib/Include/type_names.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/records/view.h"

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

// The intervals' values that lie in one of the runs.
std::vector<Interval> within(const std::vector<Interval>& in, const limits::Range* runs, int count) {
  std::vector<Interval> out;
  for (const Interval& i : in) {
    for (int r = 0; r < count; ++r) {
      const double lo = std::max(i.lo, static_cast<double>(runs[r].lo)), hi = std::min(i.hi, static_cast<double>(runs[r].hi));
      if (lo <= hi) out.push_back({lo, hi});
    }
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
  for (const limits::Limit& l : all_) {
    const size_t at = static_cast<size_t>(l.at - view.bytes());
    if (byByte_.size() < at + l.size) byByte_.resize(at + l.size);
    for (size_t b = at; b < at + l.size; ++b) byByte_[b].push_back(&l);
  }
}

std::vector<const limits::Limit*> Declared::of(const Target& t) const {
  std::vector<const limits::Limit*> out;
  const int width = codec::widthOf(t.field->leaf.kind);
  const size_t from = t.field->offset + static_cast<size_t>(width) * static_cast<size_t>(t.element);
  return from < byByte_.size() ? byByte_[from] : out;
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
    if (l->refuses.kind == limits::Refuses::OUTSIDE) out = within(out, l->refuses.set->run, l->refuses.set->count);
  }
  return out;
}

namespace {

// Each value of the intervals; none when they hold more than `most`.
std::vector<double> valuesIn(const std::vector<Interval>& in, long long most) {
  long long n = 0;
  for (const Interval& v : in) n += static_cast<long long>(v.hi - v.lo) + 1;
  std::vector<double> out;
  for (const Interval& v : in) {
    for (double x = v.lo; x <= v.hi && n <= most; ++x) out.push_back(x);
  }
  return out;
}

}  // namespace

Dependence Declared::dependence(const Target& t, const limits::Inputs& at) const {
  const std::vector<Target> in = inputs(t);
  if (in.empty()) return {};
  const std::vector<double> values = valuesIn(takes(in[0], at), 16);
  if (values.size() <= 1) return {};
  const std::vector<double> seconds = in.size() > 1 ? valuesIn(takes(in[1], at), 64) : std::vector<double>{};
  Dependence d{in[0], {}, {}};
  for (const double x : values) {
    limits::Inputs with = at;
    with.value[0] = static_cast<s64>(x);
    d.sets.emplace_back(x, takes(t, with));
    std::vector<std::pair<std::vector<Interval>, std::set<int>>> others;
    for (const double y : seconds) {
      with.value[1] = static_cast<s64>(y);
      const std::vector<Interval> set = takes(t, with);
      if (set == d.sets.back().second) continue;
      auto other = std::find_if(others.begin(), others.end(), [&](const auto& o) { return o.first == set; });
      if (other == others.end()) other = others.insert(others.end(), {set, {}});
      other->second.insert(static_cast<int>(y));
    }
    for (const auto& [set, ys] : others) {
      d.otherwise[x] += "; " + intervalsText(set) + " with " + elementName(*in[1].field, in[1].element) + "=" + numbersText(ys);
    }
  }
  if (!d.otherwise.empty()) return d;
  for (const auto& [v, set] : d.sets) {
    if (set != d.sets.front().second) return d;
  }
  return {};
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

// "0..1, 3".
std::string numbersText(const std::set<int>& numbers) {
  std::string out;
  for (auto i = numbers.begin(); i != numbers.end();) {
    auto last = i;
    while (std::next(last) != numbers.end() && *std::next(last) == *last + 1) ++last;
    out += (out.empty() ? "" : ", ") + std::to_string(*i) + (last == i ? "" : ".." + std::to_string(*last));
    i = std::next(last);
  }
  return out;
}

// "with effectA[1]=0: 0..14, 16" a line for each set, with the values that give it.
std::string dependenceText(const Dependence& d) {
  std::vector<std::pair<std::string, std::set<int>>> lines;
  for (const auto& [v, set] : d.sets) {
    const auto otherwise = d.otherwise.find(v);
    const std::string text = intervalsText(set) + (otherwise != d.otherwise.end() ? otherwise->second : "");
    auto at = std::find_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == text; });
    if (at == lines.end()) at = lines.insert(lines.end(), {text, {}});
    at->second.insert(static_cast<int>(v));
  }
  std::string out;
  for (const auto& [text, values] : lines) {
    out += (out.empty() ? "with " : "\nwith ") + elementName(*d.on.field, d.on.element) + "=" + numbersText(values) +
           ": " + text;
  }
  return out;
}


bool declaredTakes(const RecordType& type, const std::string& name, int index, const Assignments& with,
                   const ValueOf& valueOf, ElementTakes& out, std::string& error) {
  RecordView view(type);
  const IndexFields indexes = indexFields(view);
  const std::string typeName = category::typeNameOf(type.index);
  int element = -1;
  const Field* field = view.find(name, element);
  if (field == nullptr || field->textCapacity > 0 || field == indexes.me || field == indexes.channel) {
    error = typeName + " has no field " + name + " that takes a number";
    return false;
  }
  if (element >= field->leaf.count) {
    error = typeName + ": no element " + name;
    return false;
  }
  if (type.walkLimits == nullptr) {
    error = typeName + " declares no limits: its fields take what their widths hold";
    return false;
  }
  const RecordShape& shape = type.shape;
  limits::Inputs at{shape.perMe ? index : 0, shape.perMe ? 0 : index, {}};
  for (const auto& [f, value] : with) {
    long v = 0;
    if (f == "channel" && cli::parseNumber(value, 0, shape.channels - 1, v)) at.channel = static_cast<int>(v);
  }
  if (index < 0 || index >= indexLimit(shape) || at.channel >= shape.channels) {
    error = typeName + ": no " + (shape.perMe ? "ME " + std::to_string(index) + " or " : "") + "channel " +
            std::to_string(at.channel);
    return false;
  }
  const Declared declared(view);
  const Target target{field, std::max(element, 0)};
  // The elements its range reads: as the request goes with them, else as the record starts.
  const std::vector<Target> inputs = declared.inputs(target);
  std::vector<std::string> as(inputs.size());
  std::vector<char> known(inputs.size(), 0);
  for (size_t i = 0; i < inputs.size(); ++i) {
    double v = numberOf(inputs[i].field->leaf.kind, codec::loadElement(inputs[i].field->leaf, inputs[i].element));
    known[i] = valueOf && valueOf(inputs[i].field->name, inputs[i].element, v, as[i]);
    at.value[i] = static_cast<s64>(v);
  }
  out = {declared.takes(target, at), "", ""};
  const Dependence d = declared.dependence(target, at);
  if (d.on.field == nullptr) return true;
  if (const std::vector<Interval>* set = known[0] ? d.setFor(static_cast<double>(at.value[0])) : nullptr) {
    out.takes = *set;
    out.with = " with " + elementName(*d.on.field, d.on.element) + "=" + numberText(static_cast<double>(at.value[0])) + as[0];
    // The second element it reads, where that changes the set for this value of the first.
    if (inputs.size() > 1 && known[1] && d.otherwise.count(static_cast<double>(at.value[0])) != 0) {
      out.with += " and " + elementName(*inputs[1].field, inputs[1].element) + "=" +
                  numberText(static_cast<double>(at.value[1])) + as[1];
    }
  } else {
    out.each = dependenceText(d);
    for (size_t i = out.each.find('\n'); i != std::string::npos; i = out.each.find('\n', i)) out.each.replace(i, 1, "; ");
  }
  return true;
}

std::string unansweredValues(const RecordType& type, const Field& field) {
  if (type.noAnswerAt == nullptr || field.offset != type.noAnswerAt()) return "";
  RecordView view(type);
  int element = 0;
  const Field& f = *view.find(field.name, element);
  std::vector<Interval> none = {valuesOfKind(f.leaf.kind)};
  for (const Interval& taken : Declared(view).takes({&f, 0}, {})) none = without(none, taken.lo, taken.hi);
  return none.empty() ? "" : "no answer with " + field.name + "=" + intervalsText(none);
}

}  // namespace frontend::records
