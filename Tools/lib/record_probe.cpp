// The values that a record's fields take, found by offering values to the back end's categories,
// and the field list of a type that shows them.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <map>
#include <set>
#include <tuple>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/records/dsk.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/fader/lamptally.h"
#include "Main/framework/bp.h"
#include "Lib/Include/type_names.h"
#include "Main/system/mfconfig.h"
#include "Platform/platform.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/link_ring.h"
#include "Tools/lib/record_probe.h"
#include "Tools/lib/scratch_system.h"

namespace frontend::records {

// A value in the bits of an element of the kind.
u32 bitsOf(codec::Kind kind, double value) {
  if (kind == codec::Kind::F32) {
    const float f = static_cast<float>(value);
    u32 b;
    std::memcpy(&b, &f, 4);
    return b;
  }
  return static_cast<u32>(static_cast<long long>(value));
}

bool ProbeSite::open(int instance, const Assignments& fields, std::string& error) {
  const int type = view.type().index;
  const RecordShape& shape = view.shape();
  const std::string typeName = category::typeNameOf(type);
  if (type >= category::FIRST_COMMAND_TYPE) {
    error = typeName + " is a command: it keeps no record to read values back from";
    return false;
  }
  useScratchSystem();
  for (auto [field, value] : fields) {
    if (field == "channel" && shape.perMe && indexes.channel != nullptr) field = indexes.channel->name;
    if (!view.setValue(field, value)) {
      error = typeName + ": cannot set " + field + "=" + value;
      return false;
    }
    with.emplace_back(field, value);
  }
  int channel = shape.perMe ? 0 : instance;
  if (const Field* c = shape.perMe ? indexes.channel : nullptr) channel = static_cast<int>(codec::loadElement(c->leaf, 0));
  if (instance < 0 || instance >= indexLimit(shape) || channel >= shape.channels) {
    error = typeName + ": no " + (shape.perMe ? "ME " + std::to_string(instance) + " or " : "") + "channel " +
            std::to_string(channel);
    return false;
  }
  auto& registry = category::CategoryRegistry::instance();
  const int me = shape.perMe ? instance : 0;
  const int row = registry.at(type, me) != nullptr ? me : 0;
  u8* stored = registry.at(type, row) != nullptr ? registry.storageOf(type, row) : nullptr;
  const int bytes = stored != nullptr ? registry.boundBytes(type, row) : 0;
  if (bytes < static_cast<int>(shape.size) * (channel + 1)) {
    error = typeName + " is kept by no category of the back end";
    return false;
  }
  live = stored + recordOffset(bytes, shape, channel);
  index = shape.perMe ? indexes.me : indexes.channel;
  indexValue = instance;
  return true;
}

double ProbeSite::stored(const Target& t) const {
  codec::Leaf leaf = t.field->leaf;
  return numberOf(leaf.kind, storedBits(t));
}

u32 ProbeSite::storedBits(const Target& t) const {
  codec::Leaf leaf = t.field->leaf;
  leaf.data = live + t.field->offset;
  return codec::loadElement(leaf, t.element);
}

// The fields under the presence bit of a field's element that the back end takes with it (fields
// that share the bit, the field itself when one bit covers all of its elements); none when the
// element has a bit of its own or none.
std::vector<const Field*> fieldsUnderBit(const RecordView& view, const Field& field, int element) {
  std::vector<const Field*> out;
  const auto bit = presenceOf(field.leaf, element);
  if (bit.first == nullptr || field.leaf.perElement) return out;
  for (const Field& g : view.fields()) {
    if (!g.leaf.isMask && !g.leaf.perElement && g.textCapacity == 0 && presenceOf(g.leaf, 0) == bit) out.push_back(&g);
  }
  return out;
}

// The other elements under a target's presence bit, in wire order.
std::vector<Target> bitPartners(const RecordView& view, const Target& t) {
  std::vector<Target> out;
  for (const Field* g : fieldsUnderBit(view, *t.field, t.element)) {
    for (int e = 0; e < g->leaf.count; ++e) {
      if (g != t.field || e != t.element) out.push_back({g, e});
    }
  }
  return out;
}

KeptRecords::KeptRecords(int type) {
  auto& registry = category::CategoryRegistry::instance();
  for (int m = 0; m < category::N_ME; ++m) {
    u8* area = registry.at(type, m) != nullptr ? registry.storageOf(type, m) : nullptr;
    if (area != nullptr) saved_.push_back({area, Bytes(area, area + registry.boundBytes(type, m))});
  }
}

// Writes a packet into the request ring and lets the categories read it; false when a check failed
// on it.
bool deliver(const Bytes& packet) {
  linkpeer::ringWrite(platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA), packet.data(), packet.size());
  try {
    category::CategoryRegistry::instance().receiveAll();
  } catch (const assert::AssertException&) {
    return false;  // a failed check refuses the value
  } catch (const ScratchEnded&) {
    return false;  // so does a halt or restart
  }
  return true;
}

namespace {

// The rules noted on fields while they were probed: the type, the field's offset, the rule.
std::vector<std::tuple<int, size_t, const rules::Rule*>>& probedRuleTable() {
  static std::vector<std::tuple<int, size_t, const rules::Rule*>> table;
  return table;
}

}  // namespace

bool takesText(ProbeSite& site, const Field& text) {
  static const std::string OFFERED = "A";
  RecordView& message = site.view;
  message.reset();
  for (const auto& [name, value] : site.with) message.setValue(name, value);
  if (site.index != nullptr) codec::storeElement(site.index->leaf, 0, static_cast<u32>(site.indexValue));
  if (!message.setText(text.name, OFFERED)) return true;
  Bytes body;
  message.write(body);
  const int type = message.type().index;
  const KeptRecords kept(type);
  rules::clear();
  deliver(linkpeer::packetBytes(type, body));
  const u8* stored = site.live + text.offset;
  s16 count = 0;
  std::memcpy(&count, stored, sizeof count);
  const bool taken = count == static_cast<s16>(OFFERED.size()) && std::memcmp(stored + sizeof count, OFFERED.data(), OFFERED.size()) == 0;
  for (int k = 0; !taken && k < rules::count(); ++k) {
    const rules::Note& n = rules::noteAt(k);
    if (n.rule != nullptr && n.type == type && n.at == text.offset) {
      const auto entry = std::tuple(type, text.offset, n.rule);
      auto& table = probedRuleTable();
      if (std::find(table.begin(), table.end(), entry) == table.end()) table.push_back(entry);
    }
  }
  return taken;
}

std::vector<std::string> probedRules(int type, const Field& field) {
  std::vector<std::string> out;
  for (const auto& [t, at, rule] : probedRuleTable()) {
    if (t == type && at == field.offset) out.emplace_back(rule->text);
  }
  return out;
}

namespace {

// Values worth offering to a field of kind k: every value of a byte; otherwise the small ones, round
// numbers, powers of two and their neighbours, and a coarse grid over the whole width. The edges
// between them are then found by bisection.
std::vector<double> candidateValues(codec::Kind kind) {
  std::vector<double> out;
  if (kind == codec::Kind::F32) {
    for (double m : {0.0, 1e-6, 1e-5, 1e-4, 1e-3, 0.01, 0.1, 0.25, 0.5, 1.0, 1.5, 2.0, 4.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6,
                     1e9, 1e20, static_cast<double>(std::numeric_limits<float>::max())}) {
      out.push_back(m);
      out.push_back(-m);
    }
  } else {
    long long lo = 0, hi = 0;
    codec::kindRange(kind, lo, hi);
    auto add = [&](long long v) {
      if (lo <= v && v <= hi) out.push_back(static_cast<double>(v));
    };
    if (hi - lo <= 0xFF) {
      for (long long v = lo; v <= hi; ++v) add(v);
    } else {
      for (long long v = -32; v <= 32; ++v) add(v);
      for (long long v = -1000; v <= 5000; v += 20) add(v);
      for (long long p = 1; p <= (1LL << 32); p *= 2) {
        for (long long v : {p - 1, p, p + 1}) add(v), add(-v);
      }
      for (long long p = 10; p <= 10000000000LL; p *= 10) {
        for (long long v : {p - 1, p, p + 1}) add(v), add(-v);
      }
      for (long long i = 0; i <= 64; ++i) add(lo + (hi - lo) / 64 * i);
      add(hi);
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

// Offers values to targets of an open site through the request ring, to the back end's category of
// the type, and says which targets the category keeps a value in: the stored element equals it, and
// its presence bit is set where the value was already there. Every stored record of the type is put back
// after each offer. Each target has a presence bit of its own, so that one request offers a value to
// all of them; the other fields under a target's bit go with their stored values, as buildBody
// sends them, or (livePartners false) with the record's defaults.
class Probe {
 public:
  Probe(ProbeSite& site, std::vector<Target> targets, bool livePartners = true)
      : site_(site), targets_(std::move(targets)), livePartners_(livePartners), kept_(site.view.type().index) {
    u8* const base = site.view.bytes();
    u8* const live = site.live;
    for (const Target& t : targets_) {
      codec::Leaf leaf = t.field->leaf;
      leaf.data = live + t.field->offset;
      if (leaf.mask != nullptr) leaf.mask = reinterpret_cast<u32*>(live + (reinterpret_cast<u8*>(leaf.mask) - base));
      live_.push_back(leaf);
      before_.push_back(codec::loadElement(leaf, t.element));
      partners_.push_back(fieldsUnderBit(site.view, *t.field, t.element));
    }
    bits_.resize(targets_.size());
    for (const Target& t : targets_) {
      long long lo = 0, hi = 0;
      codec::kindRange(t.field->leaf.kind, lo, hi);
      ranges_.push_back({static_cast<double>(lo), static_cast<double>(hi)});
    }
  }
  size_t size() const { return targets_.size(); }
  // Whether other fields or elements go under target i's bit.
  bool hasPartners(size_t i) const {
    return partners_[i].size() > 1 || (!partners_[i].empty() && targets_[i].field->leaf.count > 1);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // The stored value of target i.
  double before(size_t i) const { return numberOf(live_[i].kind, before_[i]); }

  // Offers the value to every target whose kind holds it (the others get their stored value);
  // taken[i]: 1 target i keeps it, 0 it does not, NOT_OFFERED.
  static constexpr char NOT_OFFERED = 2;
  void offer(double value, std::vector<char>& taken) {
    taken.assign(targets_.size(), NOT_OFFERED);
    for (size_t i = 0; i < targets_.size(); ++i) bits_[i] = holds(i, value) ? bitsOf(i, value) : before_[i];
    if (deliver()) {
      for (size_t i = 0; i < targets_.size(); ++i) {
        if (!holds(i, value)) continue;
        const u32 now = codec::loadElement(live_[i], targets_[i].element);
        const auto bit = presenceOf(live_[i], targets_[i].element);
        // A rule that refused the value leaves the field as it was, which may be the value; one that
        // takes it in another form takes it.
        const bool refused = effects_[i] & 1u << static_cast<int>(rules::Effect::REFUSES);
        const bool same = effects_[i] & 1u << static_cast<int>(rules::Effect::SAME);
        const bool looksTaken = now == expected(i, bits_[i]) &&
                                (now != before_[i] || bit.first == nullptr || ((*bit.first >> bit.second) & 1u));
        taken[i] = same || (!refused && looksTaken);
        if (same && !looksTaken) sameValues_[i].insert(value);
      }
    } else {
      for (size_t i = 0; i < targets_.size(); ++i) taken[i] = holds(i, value) ? 0 : NOT_OFFERED;
    }
    restore();
  }

  // The values that target i takes only in another form that means the same (0 for the full scale):
  // isolated values that say nothing of the values around them.
  const std::set<double>& sameValues(size_t i) const { return sameValues_[i]; }

  // Whether target i's kind holds the value.
  bool holds(size_t i, double value) const {
    return targets_[i].field->leaf.kind == codec::Kind::F32 ||
           (value == std::floor(value) && ranges_[i].lo <= value && value <= ranges_[i].hi);
  }

  // Whether the one target keeps `value` offered after `first` (a value it keeps): a category may
  // drop a value equal to the stored one as no change, which does not make the value refused.
  bool keepsAfter(double first, double value) {
    const u32 a = bitsOf(0, first), b = bitsOf(0, value);
    bits_[0] = a;
    bool kept = deliver() && codec::loadElement(live_[0], targets_[0].element) == expected(0, a);
    bits_[0] = b;
    kept = kept && deliver() && codec::loadElement(live_[0], targets_[0].element) == expected(0, b);
    restore();
    return kept;
  }

 private:
  // Writes the request with bits_ in the targets and lets the category read it; false when a check
  // failed on it.
  bool deliver() {
    if (packet_.empty()) prepare();
    for (size_t i = 0; i < targets_.size(); ++i) {
      const int width = codec::widthOf(targets_[i].field->leaf.kind);
      for (int b = 0; b < width; ++b) packet_[at_[i] + b] = static_cast<u8>(bits_[i] >> (8 * (width - 1 - b)));
    }
    rules::clear();
    const bool read = records::deliver(packet_);
    noteProbedRules();
    return read;
  }

  // Keeps the rules noted on the targets' fields, for the field list, and their effects on each
  // target in this delivery. Each note goes to the targets whose bytes it covers (a byte map of the
  // record, made once).
  void noteProbedRules() {
    const int type = site_.view.type().index;
    if (targetAt_.empty()) {
      targetAt_.assign(site_.view.shape().size, -1);
      for (size_t i = 0; i < targets_.size(); ++i) {
        const size_t width = static_cast<size_t>(codec::widthOf(targets_[i].field->leaf.kind));
        const size_t from = targets_[i].field->offset + width * static_cast<size_t>(targets_[i].element);
        for (size_t b = from; b < from + width && b < targetAt_.size(); ++b) targetAt_[b] = static_cast<int>(i);
      }
    }
    std::fill(effects_.begin(), effects_.end(), 0);
    auto& table = probedRuleTable();
    for (int k = 0; k < rules::count(); ++k) {
      const rules::Note& n = rules::noteAt(k);
      if (n.rule == nullptr || n.type != type) continue;
      int last = -1;
      for (size_t b = n.at; b < static_cast<size_t>(n.at) + n.size && b < targetAt_.size(); ++b) {
        const int i = targetAt_[b];
        if (i < 0 || i == last) continue;
        last = i;
        effects_[static_cast<size_t>(i)] |= static_cast<u8>(1u << static_cast<int>(n.rule->effect));
        const auto entry = std::tuple(type, targets_[static_cast<size_t>(i)].field->offset, n.rule);
        if (std::find(table.begin(), table.end(), entry) == table.end()) table.push_back(entry);
      }
    }
  }

  // Target i's element holding the bits, as the record reads it back (a signed kind sign-extended).
  u32 expected(size_t i, u32 bits) {
    codec::storeElement(targets_[i].field->leaf, targets_[i].element, bits);
    return codec::loadElement(targets_[i].field->leaf, targets_[i].element);
  }

  // The request, and where each target's bytes lie in it: behind the packet's head, where the
  // record's wire form puts them.
  void prepare() {
    RecordView& message = site_.view;
    message.reset();
    for (const auto& [name, value] : site_.with) message.setValue(name, value);
    if (site_.index != nullptr) codec::storeElement(site_.index->leaf, 0, static_cast<u32>(site_.indexValue));
    u8* const base = message.bytes();
    const u8* const live = site_.live;
    for (size_t i = 0; i < targets_.size(); ++i) {
      const codec::Leaf& leaf = targets_[i].field->leaf;
      for (size_t p = 0; livePartners_ && p < partners_[i].size(); ++p) {
        const Field& g = *partners_[i][p];
        std::memcpy(base + g.offset, live + g.offset, static_cast<size_t>(codec::widthOf(g.leaf.kind) * g.leaf.count));
      }
      codec::storeElement(leaf, targets_[i].element, 0);
      if (leaf.mask != nullptr) codec::setPresenceBit(leaf.mask, leaf.bit + (leaf.perElement ? targets_[i].element : 0));
    }
    for (const auto& [t, value] : site_.fixed) codec::storeElement(t.field->leaf, t.element, records::bitsOf(t.field->leaf.kind, value));
    Bytes body;
    message.write(body);
    packet_ = linkpeer::packetBytes(message.type().index, body);
    const size_t head = packet_.size() - body.size();
    for (const Target& t : targets_) at_.push_back(head + message.wireOffset(*t.field, t.element));
  }

  u32 bitsOf(size_t i, double value) const { return records::bitsOf(targets_[i].field->leaf.kind, value); }
  void restore() { kept_.restore(); }

  ProbeSite& site_;
  std::vector<Target> targets_;
  std::vector<codec::Leaf> live_;
  std::vector<u32> before_;
  std::vector<u32> bits_;
  std::vector<Interval> ranges_;  // of each target's kind
  std::vector<std::vector<const Field*>> partners_;
  bool livePartners_;
  std::vector<u8> effects_ = std::vector<u8>(targets_.size(), 0);  // the rules' effects on each target, by the last delivery
  std::vector<std::set<double>> sameValues_ = std::vector<std::set<double>>(targets_.size());
  std::vector<int> targetAt_;  // the target whose bytes lie at each byte of the record, -1 none
  KeptRecords kept_;
  Bytes packet_;
  std::vector<size_t> at_;
};

// What a probe's targets take, value by value: each value offered once, to every target.
class Answers {
 public:
  static constexpr char NOT_OFFERED = Probe::NOT_OFFERED;
  explicit Answers(Probe& probe) : probe_(probe) {}

  const std::vector<char>& at(double v) {
    auto [it, fresh] = seen_.try_emplace(v);
    if (fresh) probe_.offer(v, it->second);
    return it->second;
  }
  // Whether target t was offered v and refused it.
  bool refused(double v, size_t t) const {
    const auto at = seen_.find(v);
    return at != seen_.end() && at->second[t] == 0;
  }
  void take(double v, size_t t) { seen_.at(v)[t] = 1; }

  // Closes in on every edge of what target t takes between neighbouring values offered to it.
  void bisect(size_t t, bool isFloat) {
    std::vector<std::pair<double, bool>> points;
    for (const auto& [v, taken] : seen_) {
      if (taken[t] != NOT_OFFERED) points.emplace_back(v, taken[t] != 0);
    }
    for (size_t i = 0; i + 1 < points.size(); ++i) {
      if (points[i].second == points[i + 1].second) continue;
      double a = points[i].first, b = points[i + 1].first;
      for (int step = 0; step < 64; ++step) {
        const double mid = isFloat ? static_cast<double>(static_cast<float>((a + b) / 2)) : std::floor((a + b) / 2);
        if (mid <= a || mid >= b) break;
        ((at(mid)[t] == 1) == points[i].second ? a : b) = mid;
      }
    }
  }

  // Each target's runs of values offered to it that it keeps, or does not keep, in order.
  struct Run {
    Interval values;
    bool taken;
  };
  std::vector<std::vector<Run>> runs() const {
    std::vector<std::vector<Run>> out(probe_.size());
    for (const auto& [v, answers] : seen_) {
      for (size_t t = 0; t < out.size(); ++t) {
        if (answers[t] == NOT_OFFERED) continue;
        const bool taken = answers[t] != 0;
        if (!out[t].empty() && out[t].back().taken == taken) {
          out[t].back().values.hi = v;
        } else {
          out[t].push_back({{v, v}, taken});
        }
      }
    }
    return out;
  }
  static std::vector<Interval> takenOf(const std::vector<Run>& runs) {
    std::vector<Interval> out;
    for (const Run& r : runs) {
      if (r.taken) out.push_back(r.values);
    }
    return out;
  }
  // The first value that target t keeps; false when it keeps none.
  bool anyTaken(size_t t, double& v) const {
    for (const auto& [x, answers] : seen_) {
      if (answers[t] == 1) return v = x, true;
    }
    return false;
  }

 private:
  Probe& probe_;
  std::map<double, std::vector<char>> seen_;
};

// The runs of taken values that hold any but the given isolated ones.
size_t runsBesides(const std::vector<Interval>& taken, const std::set<double>& isolated) {
  return static_cast<size_t>(std::count_if(taken.begin(), taken.end(), [&](const Interval& i) {
    return !(i.lo == i.hi && isolated.count(i.lo) != 0);
  }));
}

// Every value of a 16-bit kind.
std::vector<double> everyValue(codec::Kind kind) {
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  std::vector<double> out;
  for (long long v = lo; v <= hi; ++v) out.push_back(static_cast<double>(v));
  return out;
}

}  // namespace

// What each target takes, as intervals. The candidates of the targets' kinds are offered to every
// target together and each edge closed in on; a value equal to the stored one is offered again after
// another; a 16-bit target that takes more than one run is offered every value (a list of codes
// has isolated ones). Several targets' answers are checked one target at a time at the ends of
// their runs (a check may read two targets together), and a target whose answers differ there is
// probed alone. A target under one bit with other fields that takes nothing with their stored
// values (which then fail the checks together) is probed with the record's defaults in them.
std::vector<std::vector<Interval>> probeTargets(ProbeSite& site, const std::vector<Target>& targets, bool livePartners) {
  const size_t n = targets.size();
  auto kindOf = [&](size_t t) { return targets[t].field->leaf.kind; };
  std::vector<std::vector<Interval>> out(n);
  std::vector<char> keptAfter(n, 0), done(n, 0);
  Probe probe(site, targets, livePartners);
  Answers answers(probe);
  auto storedValues = [&] {
    for (size_t t = 0; t < n; ++t) {
      const double stored = probe.before(t);
      double other = 0;
      if (keptAfter[t] || !answers.refused(stored, t) || !answers.anyTaken(t, other)) continue;
      Probe alone(site, {targets[t]}, livePartners);
      if (!alone.keepsAfter(other, stored)) continue;
      answers.take(stored, t);
      keptAfter[t] = 1;
      answers.bisect(t, kindOf(t) == codec::Kind::F32);
    }
  };
  std::set<codec::Kind> kinds;
  for (size_t t = 0; t < n; ++t) kinds.insert(kindOf(t));
  for (codec::Kind kind : kinds) {
    for (double v : candidateValues(kind)) answers.at(v);
  }
  for (size_t t = 0; t < n; ++t) answers.bisect(t, kindOf(t) == codec::Kind::F32);
  storedValues();
  auto runs = answers.runs();
  // The scattered 16-bit targets, by kind: offered every value here when they are all the targets,
  // else by a probe of their own.
  std::map<codec::Kind, std::vector<size_t>> scattered;
  for (size_t t = 0; t < n; ++t) {
    if (codec::widthOf(kindOf(t)) != 2) continue;
    if (runsBesides(Answers::takenOf(runs[t]), probe.sameValues(t)) > 1) scattered[kindOf(t)].push_back(t);
  }
  if (scattered.size() == 1 && scattered.begin()->second.size() == n) {
    for (double v : everyValue(kindOf(0))) answers.at(v);
    storedValues();
    runs = answers.runs();
  } else {
    for (const auto& [kind, of] : scattered) {
      std::vector<Target> some;
      for (size_t t : of) some.push_back(targets[t]);
      const auto results = probeTargets(site, some, livePartners);
      for (size_t i = 0; i < of.size(); ++i) out[of[i]] = results[i], done[of[i]] = 1;
    }
  }
  std::vector<char> one;
  for (size_t t = 0; t < n; ++t) {
    if (done[t]) continue;
    out[t] = Answers::takenOf(runs[t]);
    if (out[t].empty() && livePartners && probe.hasPartners(t)) {
      out[t] = probeTargets(site, {targets[t]}, false)[0];
    }
    if (n == 1) continue;
    Probe alone(site, {targets[t]}, livePartners);
    bool same = true;
    for (const auto& run : runs[t]) {
      for (double v : {run.values.lo, run.values.hi}) {
        if (!same || (keptAfter[t] && v == probe.before(t))) continue;
        alone.offer(v, one);
        same = (one[0] != 0) == run.taken;
      }
    }
    if (!same) out[t] = probeTargets(site, {targets[t]}, livePartners)[0];
  }
  return out;
}

namespace {

// An element whose values are each offered with another element's values, to find whether what that
// element takes depends on it (a kind, a mode), takes at most this many.
constexpr long long MAX_SELECTOR_VALUES = 16;

// The whole numbers in intervals; -1 when there are more than MAX_SELECTOR_VALUES.
long long selectorValues(const std::vector<Interval>& takes) {
  long long n = 0;
  for (const Interval& i : takes) {
    if (i.lo != std::floor(i.lo) || i.hi != std::floor(i.hi)) return -1;
    n += static_cast<long long>(i.hi - i.lo) + 1;
    if (n > MAX_SELECTOR_VALUES) return -1;
  }
  return n;
}

}  // namespace

// The element under the target's presence bit whose values change what the target takes: of those
// that take at most MAX_SELECTOR_VALUES values, fewer than the target (or as many and earlier in
// wire order), the first with the fewest whose values give different sets. takesOf: what an
// element takes with the others as the record holds them (null: not known).
Dependence dependenceOf(ProbeSite& site, const Target& target, const std::vector<Interval>& takes,
                        const std::function<const std::vector<Interval>*(const Target&)>& takesOf) {
  struct Candidate {
    Target element;
    long long values;
    size_t at;
  };
  const long long own = selectorValues(takes);
  const size_t targetAt = site.view.wireOffset(*target.field, target.element);
  std::vector<Candidate> candidates;
  for (const Target& p : bitPartners(site.view, target)) {
    const std::vector<Interval>* of = takesOf(p);
    const long long n = of != nullptr ? selectorValues(*of) : -1;
    const size_t at = site.view.wireOffset(*p.field, p.element);
    if (n > 1 && (own < 0 || n < own || (n == own && at < targetAt))) candidates.push_back({p, n, at});
  }
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const Candidate& a, const Candidate& b) { return std::tie(a.values, a.at) < std::tie(b.values, b.at); });
  for (const Candidate& c : candidates) {
    Dependence d{c.element, {}};
    for (const Interval& i : *takesOf(c.element)) {
      for (double v = i.lo; v <= i.hi; ++v) {
        site.fixed = {{c.element, v}};
        d.sets.emplace_back(v, probeTargets(site, {target})[0]);
      }
    }
    site.fixed.clear();
    for (const auto& [v, set] : d.sets) {
      if (set != d.sets.front().second) return d;
    }
  }
  return {};
}

namespace {

// The numeric elements of a record in groups that each value is offered to together: as few as
// hold every element once with no two under one presence bit (an array under one bit, or fields
// that share one, spread over as many groups). Status fields and the index fields are left out.
std::vector<std::vector<Target>> targetGroups(RecordView& view, const IndexFields& indexes) {
  std::vector<std::vector<Target>> groups;
  std::vector<std::set<std::pair<const u32*, int>>> bits;
  for (const Field* f : view.settable()) {
    if (f == indexes.me || f == indexes.channel || f->textCapacity > 0) continue;
    for (int e = 0; e < f->leaf.count; ++e) {
      if (statusSetter(*f, e) != nullptr) continue;
      const auto bit = presenceOf(f->leaf, e);
      size_t g = 0;
      while (g < groups.size() && bit.first != nullptr && bits[g].count(bit) != 0) ++g;
      if (g == groups.size()) groups.emplace_back(), bits.emplace_back();
      groups[g].push_back({f, e});
      if (bit.first != nullptr) bits[g].insert(bit);
    }
  }
  return groups;
}

}  // namespace

InstanceSets::InstanceSets(ProbeSite& site) : site_(site), groups_(targetGroups(site.view, site.indexes)) {
  for (const auto& group : groups_) {
    const auto results = probeTargets(site, group);
    for (size_t t = 0; t < group.size(); ++t) plain_[{group[t].field, group[t].element}] = results[t];
  }
}

const std::vector<Interval>& InstanceSets::plain(const Target& t) const {
  static const std::vector<Interval> none;
  const auto at = plain_.find({t.field, t.element});
  return at != plain_.end() ? at->second : none;
}

bool probeRecord(const RecordType& type, const std::string& name, int index, const Assignments& with,
                 const ValueOf& valueOf, ElementTakes& out, std::string& error) {
  if (type.walkLimits != nullptr) return declaredTakes(type, name, index, with, valueOf, out, error);
  ProbeSite site(type);
  int element = -1;
  const Field* field = site.view.find(name, element);
  if (field == nullptr || field->textCapacity > 0 || field == site.indexes.me || field == site.indexes.channel) {
    error = std::string(category::typeNameOf(type.index)) + " has no field " + name + " that takes a number";
    return false;
  }
  if (element >= field->leaf.count) {
    error = std::string(category::typeNameOf(type.index)) + ": no element " + name;
    return false;
  }
  if (!site.open(index, with, error)) return false;
  InstanceSets sets(site);
  const Target target{field, std::max(element, 0)};
  out = {sets.plain(target), "", ""};
  const Dependence d = sets.dependence(target);
  if (d.on.field == nullptr) return true;
  double value = 0;
  std::string as;
  const std::vector<Interval>* set =
      valueOf && valueOf(d.on.field->name, d.on.element, value, as) ? d.setFor(value) : nullptr;
  if (set != nullptr) {
    out.takes = *set;
    out.with = " with " + elementName(*d.on.field, d.on.element) + "=" + numberText(value) + as;
  } else {
    out.each = dependenceText(d);
    for (size_t at = out.each.find('\n'); at != std::string::npos; at = out.each.find('\n', at)) out.each.replace(at, 1, "; ");
  }
  return true;
}

// ---- Commands -----------------------------------------------------------------------------------------

namespace {

// The request, as a packet.
Bytes packetOf(const RecordView& request) {
  Bytes body;
  request.write(body);
  return linkpeer::packetBytes(request.type().index, body);
}

}  // namespace

// Whether the categories here answer the command: it is run through a frame (two, for one that
// waits its turn), and an answer of its type is looked for in the acknowledgement ring.
bool answered(const Bytes& packet, int type) {
  resetScratch();
  u8* const ack = platform::memory(LINK_ACK_RING, 8 + LINK_RING_DATA);
  linkpeer::ringConsume(ack, linkpeer::ringUsed(ack));
  linkpeer::ringWrite(platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA), packet.data(), packet.size());
  auto& registry = category::CategoryRegistry::instance();
  for (int frame = 0; frame < 2; ++frame) {
    try {
      registry.process();
    } catch (const assert::AssertException&) {
    } catch (const ScratchEnded&) {
      return false;  // the board would restart on it: no answer
    }
  }
  std::vector<linkpeer::Packet> out;
  size_t garbage = 0;
  linkpeer::parsePackets(linkpeer::ringPeek(ack), out, garbage);
  linkpeer::ringConsume(ack, linkpeer::ringUsed(ack));
  return std::any_of(out.begin(), out.end(), [&](const linkpeer::Packet& p) { return p.type == type; });
}

std::string unansweredValues(const RecordType& type, const Field& field) {
  RecordView request(type);
  int ignored = 0;
  const Field& f = *request.find(field.name, ignored);
  long long lo = 0, hi = 0;
  codec::kindRange(f.leaf.kind, lo, hi);
  if (f.textCapacity > 0 || f.leaf.count != 1 || hi - lo > 0xFF || !scratchIsOwn()) return "";
  std::set<int> none;
  for (long long v = lo; v <= hi; ++v) {
    codec::storeElement(f.leaf, 0, static_cast<u32>(v));
    if (!answered(packetOf(request), type.index)) none.insert(static_cast<int>(v));
  }
  resetScratch();
  if (none.empty() || static_cast<long long>(none.size()) == hi - lo + 1) return "";
  return "no answer with " + field.name + "=" + numbersText(none);
}

}  // namespace frontend::records
