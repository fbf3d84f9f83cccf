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
#include "Main/framework/typenames.h"
#include "Main/system/mfconfig.h"
#include "Platform/platform.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/link_ring.h"
#include "Tools/lib/record_view.h"
#include "Tools/lib/scratch_system.h"

namespace frontend::records {

// ---- Fields the back end sets itself, and names of values -------------------------------------------

namespace {

// Fields (or one element of a field) that the back end sets itself every frame, whatever a request
// says, and what a front end does to change them.
struct StatusField {
  int type;
  const char* field;
  int element;  // -1: every element
  const char* setBy;
};
constexpr const char* KEY_TRANSITION = "the key's transition (buttons key-cut, key-auto, key-trans: frontend buttons)";
constexpr const char* DSK_TRANSITION =
    "the downstream key's transition (buttons dsk-cut, dsk-auto, dsk-trans: frontend buttons)";
constexpr const char* FADE = "the fade to black, which ftb.target starts";
constexpr const char* POWER_UNITS = "the power units fitted";
constexpr const char* ALARMS = "the board's alarm inputs";
using HourMeter = MaintenanceHourMeter;
const StatusField STATUS_FIELDS[] = {
    {MxifKey::TYPE_INDEX, "onAir", -1, KEY_TRANSITION},
    {MxifKey::TYPE_INDEX, "stopping", -1, KEY_TRANSITION},
    {MxifKey::TYPE_INDEX, "inTransition", -1, KEY_TRANSITION},
    {MxifKey::TYPE_INDEX, "reverse", -1, KEY_TRANSITION},
    {MxifDsk::TYPE_INDEX, "onAir", -1, DSK_TRANSITION},
    {MxifDsk::TYPE_INDEX, "stopping", -1, DSK_TRANSITION},
    {MxifDsk::TYPE_INDEX, "inTransition", -1, DSK_TRANSITION},
    {MxifDsk::TYPE_INDEX, "reverse", -1, DSK_TRANSITION},
    {MxifBkgd::TYPE_INDEX, "status", -1, "the transitions of the ME's background and keys"},
    {MxifOperate::TYPE_INDEX, "ftb.onAir", -1, FADE},
    {MxifOperate::TYPE_INDEX, "ftb.transitioning", -1, FADE},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_A_FITTED, POWER_UNITS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_B_FITTED, POWER_UNITS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_A_ALARM, ALARMS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::UNIT_B_ALARM, ALARMS},
    {MxifMaintenance::TYPE_INDEX, "hourMeter.status", HourMeter::INPUT_ALARM, ALARMS},
    {MxifSystem::TYPE_INDEX, "genlockStatus", -1, "the genlock's lock on its reference"},
};

}  // namespace

const char* statusSetter(int type, const std::string& field, int element) {
  for (const StatusField& s : STATUS_FIELDS) {
    if (s.type == type && field == s.field && (s.element < 0 || element < 0 || s.element == element)) return s.setBy;
  }
  return nullptr;
}

namespace {

// The bus entries' roles and the crosspoint codes, from the constants the bus and lamp code uses.
std::string busEntriesNote() {
  using Fader = category::CategoryFaderEvent;
  using Bus = category::CategoryBus;
  auto plus = [](int base, const char* term) { return base == 0 ? std::string(term) : std::to_string(base) + " + " + term; };
  auto pairs = [&](int first, int n, const std::string& what) {
    return std::to_string(first) + ".." + std::to_string(first + 2 * n - 1) + " " + what + "s 1.." + std::to_string(n) +
           ", " + what + " k's fill " + plus(first - 2, "2k") + " and source " + plus(first - 1, "2k");
  };
  const int background = category::KEY_FILL_ENTRY - 2;
  const int aux = category::DSK_FILL_ENTRY + 2 * Fader::N_DSK;
  return "entries " + std::to_string(background) + ", " + std::to_string(background + 1) + " background A and B; " +
         pairs(category::KEY_FILL_ENTRY, Fader::N_KEYS, "key") + "; " + pairs(category::DSK_FILL_ENTRY, Fader::N_DSK, "DSK") +
         "; " + std::to_string(aux) + ".. AUX buses, AUX n at " + plus(aux - 1, "n") + " (AUX 1.." +
         std::to_string(Bus::N_AUX_MIX) + " mix). A code is panel x 256 + button (0.." +
         std::to_string(Bus::N_PANELS * 256 - 1) + "; the button's source is in MxifXptAssign) or " +
         std::to_string(Bus::DIRECT) + " + source; " + std::to_string(Bus::DIRECT + Bus::SOURCE_COLOR_BACKGROUND) + " and " +
         std::to_string(Bus::DIRECT + Bus::SOURCE_COLOR_BACKGROUND + 1) + " are the colour backgrounds 1 and 2, " +
         std::to_string(Bus::DIRECT + Bus::SOURCE_BARS) + " colour bars, " + std::to_string(Bus::REPLACEMENT_CODE) +
         " black, which replaces a code that an entry does not take";
}
std::string keyTypeNote() {
  return std::to_string(category::CategoryMainframeConfig::CHROMA_KEY_TYPE) +
         " chroma key (its settings: MxifChromaKey); with a key type other than 0, style.keySource=1 takes the key "
         "signal from the key's source bus entry (frontend fields MxifBus)";
}
// The pattern kinds as the transition code tells them apart (it has no names for them).
std::string patternKindNote() { return "kinds: 0 wipe, 1 and 2 the DVE effect families, 3 3-D DVE"; }
std::string effectNote() { return "[0] the effect (pattern) number, [1] its kind: as MxifBkgd patternKind"; }

// Names of a field's values, for a front end to set it without reading the code.
struct FieldNote {
  int type;
  const char* field;
  std::string (*text)();
};
const FieldNote FIELD_NOTES[] = {
    {MxifBus::TYPE_INDEX, "entries", busEntriesNote},
    {MxifSwitchingCmd::TYPE_INDEX, "bus.entries", busEntriesNote},
    {MxifKey::TYPE_INDEX, "style.keyType", keyTypeNote},
    {MxifBkgd::TYPE_INDEX, "patternKind", patternKindNote},
    {MxifKey::TYPE_INDEX, "effectA", effectNote},
    {MxifKey::TYPE_INDEX, "effectB", effectNote},
};

std::string edgeRuleNoteOf(int type, const std::string& field);

std::string noteOf(int type, const std::string& field) {
  for (const FieldNote& n : FIELD_NOTES) {
    if (n.type == type && field == n.field) return n.text();
  }
  return edgeRuleNoteOf(type, field);
}

}  // namespace

// ---- The values a field's checks take ---------------------------------------------------------------

namespace {

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

// Fewer values, for the edges alone: the ends of the kind and a few points between them.
std::vector<double> edgeCandidates(codec::Kind kind) {
  if (kind == codec::Kind::F32) return candidateValues(kind);
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  std::vector<double> out;
  for (long long v : {lo, -10000LL, -1000LL, -1LL, 0LL, 1LL, 2LL, 10LL, 100LL, 1000LL, 5000LL, 10000LL, hi}) {
    if (lo <= v && v <= hi) out.push_back(static_cast<double>(v));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

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

// A record instance that values are offered to: the request's index (ME or channel), the fields of
// `with` ("channel" of a record per ME with channels, by whatever name the record gives it) and the
// instance's stored record.
class ProbeSite {
 public:
  explicit ProbeSite(const RecordType& type) : view(type), indexes(indexFields(view)) {}
  ProbeSite(const ProbeSite&) = delete;
  ProbeSite& operator=(const ProbeSite&) = delete;

  // False with a message when no category keeps the instance.
  bool open(int instance, const Assignments& fields, std::string& error) {
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

  // A target's value in the stored record.
  double stored(const Target& t) const {
    codec::Leaf leaf = t.field->leaf;
    leaf.data = live + t.field->offset;
    return numberOf(leaf.kind, codec::loadElement(leaf, t.element));
  }

  RecordView view;  // the request
  IndexFields indexes;
  const Field* index = nullptr;
  int indexValue = 0;
  Assignments with;
  u8* live = nullptr;  // the instance's stored record
  // Elements that every request holds at these values (the element another's values depend on).
  std::vector<std::pair<Target, double>> fixed;
};

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

// The records of a type as its categories keep them, put back when this ends.
class KeptRecords {
 public:
  explicit KeptRecords(int type) {
    auto& registry = category::CategoryRegistry::instance();
    for (int m = 0; m < category::N_ME; ++m) {
      u8* area = registry.at(type, m) != nullptr ? registry.storageOf(type, m) : nullptr;
      if (area != nullptr) saved_.push_back({area, Bytes(area, area + registry.boundBytes(type, m))});
    }
  }
  ~KeptRecords() { restore(); }
  KeptRecords(const KeptRecords&) = delete;
  KeptRecords& operator=(const KeptRecords&) = delete;
  void restore() {
    for (auto& [area, bytes] : saved_) std::memcpy(area, bytes.data(), bytes.size());
  }

 private:
  std::vector<std::pair<u8*, Bytes>> saved_;
};

// Writes a packet into the request ring and lets the categories read it; false when a check failed
// on it.
bool deliver(const Bytes& packet) {
  linkpeer::ringWrite(platform::memory(LINK_REQUEST_RING, 8 + LINK_RING_DATA), packet.data(), packet.size());
  try {
    category::CategoryRegistry::instance().receiveAll();
  } catch (const assert::AssertException&) {
    return false;  // a failed check refuses the value
  }
  return true;
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
        taken[i] = now == expected(i, bits_[i]) &&
                   (now != before_[i] || bit.first == nullptr || ((*bit.first >> bit.second) & 1u));
      }
    } else {
      for (size_t i = 0; i < targets_.size(); ++i) taken[i] = holds(i, value) ? 0 : NOT_OFFERED;
    }
    restore();
  }

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
    return records::deliver(packet_);
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

// Every value of a 16-bit kind.
std::vector<double> everyValue(codec::Kind kind) {
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  std::vector<double> out;
  for (long long v = lo; v <= hi; ++v) out.push_back(static_cast<double>(v));
  return out;
}

// What each target takes, as intervals. The candidates of the targets' kinds are offered to every
// target together and each edge closed in on; a value equal to the stored one is offered again after
// another; a 16-bit target that takes more than one run is offered every value (a list of codes
// has isolated ones). Several targets' answers are checked one target at a time at the ends of
// their runs (a check may read two targets together), and a target whose answers differ there is
// probed alone. A target under one bit with other fields that takes nothing with their stored
// values (which then fail the checks together) is probed with the record's defaults in them.
std::vector<std::vector<Interval>> probeTargets(ProbeSite& site, const std::vector<Target>& targets, bool edgesOnly,
                                                bool livePartners = true) {
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
    for (double v : edgesOnly ? edgeCandidates(kind) : candidateValues(kind)) answers.at(v);
  }
  for (size_t t = 0; t < n; ++t) answers.bisect(t, kindOf(t) == codec::Kind::F32);
  storedValues();
  auto runs = answers.runs();
  // The scattered 16-bit targets, by kind: offered every value here when they are all the targets,
  // else by a probe of their own.
  std::map<codec::Kind, std::vector<size_t>> scattered;
  for (size_t t = 0; t < n; ++t) {
    if (!edgesOnly && codec::widthOf(kindOf(t)) == 2 && Answers::takenOf(runs[t]).size() > 1) {
      scattered[kindOf(t)].push_back(t);
    }
  }
  if (scattered.size() == 1 && scattered.begin()->second.size() == n) {
    for (double v : everyValue(kindOf(0))) answers.at(v);
    storedValues();
    runs = answers.runs();
  } else {
    for (const auto& [kind, of] : scattered) {
      std::vector<Target> some;
      for (size_t t : of) some.push_back(targets[t]);
      const auto results = probeTargets(site, some, edgesOnly, livePartners);
      for (size_t i = 0; i < of.size(); ++i) out[of[i]] = results[i], done[of[i]] = 1;
    }
  }
  std::vector<char> one;
  for (size_t t = 0; t < n; ++t) {
    if (done[t]) continue;
    out[t] = Answers::takenOf(runs[t]);
    if (out[t].empty() && livePartners && probe.hasPartners(t)) {
      out[t] = probeTargets(site, {targets[t]}, edgesOnly, false)[0];
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
    if (!same) out[t] = probeTargets(site, {targets[t]}, edgesOnly, livePartners)[0];
  }
  return out;
}

// What each element takes with the others as the record holds them.
struct PlainSets : std::map<std::pair<const Field*, int>, std::vector<Interval>> {
  std::function<const std::vector<Interval>*(const Target&)> lookup() const {
    return [this](const Target& t) {
      const auto at = find({t.field, t.element});
      return at != end() ? &at->second : nullptr;
    };
  }
};

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

// What an element takes for each value of another element under its presence bit (`on`), where
// that differs from value to value; `on.field` null where it does not.
struct Dependence {
  Target on{nullptr, 0};
  std::vector<std::pair<double, std::vector<Interval>>> sets;
  // The set for a value of `on`; null for a value it does not take.
  const std::vector<Interval>* setFor(double value) const {
    for (const auto& [v, set] : sets) {
      if (v == value) return &set;
    }
    return nullptr;
  }
};

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
        d.sets.emplace_back(v, probeTargets(site, {target}, false)[0]);
      }
    }
    site.fixed.clear();
    for (const auto& [v, set] : d.sets) {
      if (set != d.sets.front().second) return d;
    }
  }
  return {};
}

// "with effectA[1]=0: 0..14, 16" a line for each set, with the values that give it.
std::string dependenceText(const Dependence& d) {
  std::vector<std::pair<std::vector<Interval>, std::set<int>>> lines;
  for (const auto& [v, set] : d.sets) {
    auto at = std::find_if(lines.begin(), lines.end(), [&s = set](const auto& l) { return l.first == s; });
    if (at == lines.end()) at = lines.insert(lines.end(), {set, {}});
    at->second.insert(static_cast<int>(v));
  }
  std::string out;
  for (const auto& [set, values] : lines) {
    out += (out.empty() ? "with " : "\nwith ") + elementName(*d.on.field, d.on.element) + "=" + numbersText(values) +
           ": " + intervalsText(set);
  }
  return out;
}

}  // namespace

bool probeRecord(const RecordType& type, const std::string& name, int index, const Assignments& with,
                 std::vector<Interval>& out, std::string& error, bool edgesOnly) {
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
  out = probeTargets(site, {{field, std::max(element, 0)}}, edgesOnly)[0];
  return true;
}

// ---- What a refusal says ----------------------------------------------------------------------------

namespace {

bool holds(const std::vector<Interval>& takes, double v) {
  return std::any_of(takes.begin(), takes.end(), [&](const Interval& i) { return i.lo <= v && v <= i.hi; });
}

// The elements of a request that its answer left out or holds otherwise, judged at an open site as
// the field list finds what they take: an element is at fault when what it takes, with the element
// it depends on as sent, does not hold its value; one that depends on an element at fault goes with
// that element. Probes are made once for all the refusals of an answer.
class Judge {
 public:
  // held: the instance's record as the back end holds it (memory form), empty when not known.
  Judge(ProbeSite& site, const Bytes& body, const Bytes& held) : site_(site), sent_(site.view.type()) {
    read_ = sent_.read(body.data(), body.size());
    if (held.size() >= site.view.shape().size) held_ = std::make_unique<RecordView>(site.view.type(), held.data());
  }
  bool readable() const { return read_; }
  const RecordView& request() const { return sent_; }

  // The value of an element (or of the field of that name) in the record the back end holds; false
  // when that is not known.
  bool heldValue(const Target& t, double& out) const {
    if (held_ == nullptr) return false;
    int ignored = 0;
    const Field* f = held_->find(t.field->name, ignored);
    if (f == nullptr || f->textCapacity > 0) return false;
    out = numberOf(f->leaf.kind, codec::loadElement(f->leaf, t.element));
    return true;
  }
  // The value of an element as the back end takes it with this request: as sent when the request
  // carries it, else as the back end holds it; false when that is not known.
  bool valueWith(const Target& t, double& out) {
    if (sentBit(presenceOf(t.field->leaf, t.element))) return out = sent(t), true;
    return heldValue(t, out);
  }

  struct Verdict {
    std::vector<Interval> takes;
    std::string with;                  // " with patternKind=2": the element it depends on as sent
    Target keptWith{nullptr, 0};       // the element at fault that it depends on
    bool atFault = false;
  };

  const Verdict& verdict(const Target& t) {
    if (const auto at = verdicts_.find(key(t)); at != verdicts_.end()) return at->second;
    Verdict v;
    v.takes = plain(t);
    const Dependence& d = dependence(t);
    if (d.on.field != nullptr) {
      const double by = sent(d.on);
      if (verdict(d.on).atFault) {
        v.keptWith = d.on;
      } else if (const std::vector<Interval>* set = d.setFor(by)) {
        v.takes = *set;
        v.with = " with " + elementName(*d.on.field, d.on.element) + "=" + numberText(by);
      }
    }
    v.atFault = v.keptWith.field == nullptr && !holds(v.takes, sent(t));
    return verdicts_[key(t)] = v;
  }

  // The value of the element in the request.
  double sent(const Target& t) {
    int ignored = 0;
    const Field* f = sent_.find(t.field->name, ignored);
    return numberOf(f->leaf.kind, codec::loadElement(f->leaf, t.element));
  }
  std::string sentText(const Target& t) { return elementName(*t.field, t.element) + "=" + numberText(sent(t)); }

  // What the elements take, as one text: "0..10000", or "window[0..1] -5000..5000, window[2..3] 0..10000".
  std::string takesText(const std::vector<Target>& elements) {
    std::string out;
    for (size_t i = 0; i < elements.size();) {
      const Verdict& v = verdict(elements[i]);
      size_t last = i;
      while (last + 1 < elements.size() && verdict(elements[last + 1]).takes == v.takes &&
             verdict(elements[last + 1]).with == v.with) {
        ++last;
      }
      const std::string set = intervalsText(v.takes) + v.with;
      if (i == 0 && last + 1 == elements.size()) return set;
      const Field& f = *elements[i].field;
      out += (out.empty() ? "" : ", ") + f.name + "[" + std::to_string(elements[i].element) +
             (last == i ? "" : ".." + std::to_string(elements[last].element)) + "] " + set;
      i = last + 1;
    }
    return out;
  }

  // The element whose value makes the back end change the target after taking it (its frame update
  // sets the target from it): first of those the request carries, then of those it leaves as the
  // record holds them (carried false); a null element when none is found. False when the update
  // keeps the target as sent.
  // Here the records are this program's, not the board's: where the update keeps the target as sent
  // here, an element that the request leaves out is tried with the value the back end holds (held
  // true, by set); false when none changes it either.
  bool changedByUpdate(const Target& t, Target& by, bool& carried, bool& held) {
    by = {nullptr, 0};
    held = false;
    double now = 0;
    if (!afterUpdate(sent_, t, now)) return false;
    if (now == sent(t)) return (held = carried = heldChanges(t, by), held);
    const int type = site_.view.type().index;
    for (const bool inRequest : {true, false}) {
      for (const Field* f : site_.view.settable()) {
        if (f->leaf.mask == nullptr || f->textCapacity > 0 || f == t.field) continue;
        for (int e = 0; e < f->leaf.count; ++e) {
          const Target c{f, e};
          if (sentBit(presenceOf(f->leaf, e)) != inRequest || statusSetter(type, f->name, e) != nullptr) continue;
          double other = 0;
          if (!(inRequest ? otherValue(c, other) : nextValue(c, other))) continue;
          RecordView changed(site_.view.type(), sent_.bytes());
          int ignored = 0;
          const codec::Leaf& leaf = changed.find(f->name, ignored)->leaf;
          if (!inRequest) {  // sent with the elements under its bit as the record holds them
            for (const Field* g : fieldsUnderBit(site_.view, *f, e)) {
              std::memcpy(changed.bytes() + g->offset, site_.live + g->offset,
                          static_cast<size_t>(codec::widthOf(g->leaf.kind) * g->leaf.count));
            }
            codec::setPresenceBit(leaf.mask, leaf.bit + (leaf.perElement ? e : 0));
          }
          codec::storeElement(leaf, e, bitsOf(leaf.kind, other));
          if (afterUpdate(changed, t, now) && now == sent(t)) return by = c, carried = inRequest, true;
        }
      }
    }
    return true;
  }

 private:
  static std::pair<const Field*, int> key(const Target& t) { return {t.field, t.element}; }

  const std::vector<Interval>& plain(const Target& t) {
    auto at = plain_.find(key(t));
    if (at == plain_.end()) at = plain_.emplace(key(t), probeTargets(site_, {t}, false)[0]).first;
    return at->second;
  }
  const Dependence& dependence(const Target& t) {
    auto at = dependences_.find(key(t));
    if (at != dependences_.end()) return at->second;
    const std::vector<Interval> takes = plain(t);
    const auto lookup = [this](const Target& p) { return &plain(p); };
    return dependences_[key(t)] = dependenceOf(site_, t, takes, lookup);
  }

  // Whether the request sets the presence bit (at the same place in the request's record).
  bool sentBit(std::pair<const u32*, int> bit) {
    if (bit.first == nullptr) return false;
    const u8* word = sent_.bytes() + (reinterpret_cast<const u8*>(bit.first) - site_.view.bytes());
    u32 w;
    std::memcpy(&w, word, 4);
    return (w >> bit.second) & 1u;
  }

  // A value next to the one the record holds, which the element's kind holds.
  bool nextValue(const Target& c, double& out) const {
    if (c.field->leaf.kind == codec::Kind::F32) return false;
    long long lo = 0, hi = 0;
    codec::kindRange(c.field->leaf.kind, lo, hi);
    const double v = site_.stored(c);
    out = v + 1 <= static_cast<double>(hi) ? v + 1 : v - 1;
    return true;
  }

  // The value nearest to the one sent that the element takes besides it.
  bool otherValue(const Target& c, double& out) {
    const double v = sent(c);
    bool found = false;
    for (const Interval& i : plain(c)) {
      for (double x : {i.lo, i.hi, std::floor(v) - 1, std::floor(v) + 1}) {
        if (x == v || x < i.lo || x > i.hi || (found && std::fabs(x - v) >= std::fabs(out - v))) continue;
        out = x, found = true;
      }
    }
    return found;
  }

  // An element that the request leaves out, whose value as the back end holds it (other than this
  // program's) makes the frame update change the target.
  bool heldChanges(const Target& t, Target& by) {
    const RecordType& type = site_.view.type();
    for (const Field* f : site_.view.settable()) {
      if (f->leaf.mask == nullptr || f->textCapacity > 0 || f == t.field) continue;
      for (int e = 0; e < f->leaf.count; ++e) {
        const Target c{f, e};
        double value = 0, now = 0;
        if (sentBit(presenceOf(f->leaf, e)) || statusSetter(type.index, f->name, e) != nullptr || !heldValue(c, value) ||
            value == site_.stored(c)) {
          continue;
        }
        const bool changes = afterUpdate(withElement(sent_, c, value), t, now) && now != sent(t);
        // The categories keep more than their records (an applied format): the element goes back.
        RecordView back(type);
        for (const Field* x : {site_.indexes.me, site_.indexes.channel}) {
          if (x != nullptr) std::memcpy(back.bytes() + x->offset, sent_.bytes() + x->offset, static_cast<size_t>(codec::widthOf(x->leaf.kind)));
        }
        afterUpdate(withElement(back, c, site_.stored(c)), t, now);
        if (changes) return by = c, true;
      }
    }
    return false;
  }

  // A copy of a request that carries element c with the value (the elements under its bit as the
  // record here holds them).
  std::unique_ptr<RecordView> withElement(const RecordView& request, const Target& c, double value) {
    auto out = std::make_unique<RecordView>(site_.view.type(), request.bytes());
    for (const Field* g : fieldsUnderBit(site_.view, *c.field, c.element)) {
      std::memcpy(out->bytes() + g->offset, site_.live + g->offset, static_cast<size_t>(codec::widthOf(g->leaf.kind) * g->leaf.count));
    }
    int ignored = 0;
    const codec::Leaf& leaf = out->find(c.field->name, ignored)->leaf;
    codec::setPresenceBit(leaf.mask, leaf.bit + (leaf.perElement ? c.element : 0));
    codec::storeElement(leaf, c.element, bitsOf(leaf.kind, value));
    return out;
  }
  bool afterUpdate(const std::unique_ptr<RecordView>& request, const Target& t, double& out) { return afterUpdate(*request, t, out); }

  // The target's stored value after the category took the request and ran its frame update.
  bool afterUpdate(const RecordView& request, const Target& t, double& out) {
    const int type = site_.view.type().index;
    KeptRecords kept(type);
    Bytes body;
    request.write(body);
    if (!deliver(linkpeer::packetBytes(type, body))) return false;
    auto& registry = category::CategoryRegistry::instance();
    const int me = site_.view.shape().perMe ? site_.indexValue : 0;
    category::CategoryInterface* owner = registry.at(type, registry.at(type, me) != nullptr ? me : 0);
    try {
      owner->update();
    } catch (const assert::AssertException&) {
      return false;
    }
    out = site_.stored(t);
    return true;
  }

  ProbeSite& site_;
  RecordView sent_;
  std::unique_ptr<RecordView> held_;
  bool read_ = false;
  std::map<std::pair<const Field*, int>, std::vector<Interval>> plain_;
  std::map<std::pair<const Field*, int>, Dependence> dependences_;
  std::map<std::pair<const Field*, int>, Verdict> verdicts_;
};

// The numbers of a refusal's elements, sent or answered, from its text form where the refusal
// carries no numbers (one built by hand).
std::vector<double> numbersOf(const std::vector<double>& values, const std::string& text) {
  if (!values.empty() || text.empty()) return values;
  std::vector<double> out;
  for (size_t at = 0; at <= text.size();) {
    const size_t comma = std::min(text.find(',', at), text.size());
    out.push_back(std::strtod(text.substr(at, comma - at).c_str(), nullptr));
    at = comma + 1;
  }
  return out;
}

// ---- Rules on other fields and records -------------------------------------------------------------

// Fields of four edges that the back end's edge rule (libmx::clampEdges) keeps in order when a request
// changes some: the element of each edge of the rule (left, top, bottom, right) and the field that
// makes the edges symmetric (null: none), at 1 or at any value other than 0.
struct EdgeRule {
  int type;
  const char* field;
  int element[4];
  const char* symmetry;
  bool symmetricIfNonZero;
};
constexpr const char* EDGE_NAMES[4] = {"left", "top", "bottom", "right"};
const EdgeRule EDGE_RULES[] = {
    {MxifKey::TYPE_INDEX, "maskBox", {0, 1, 2, 3}, nullptr, false},
    {MxifKey::TYPE_INDEX, "dveCrop", {0, 1, 2, 3}, "dveShape.cropMode", false},
    {MxifDsk::TYPE_INDEX, "maskBox", {0, 1, 2, 3}, nullptr, false},
    {MxifUpStreamKey::TYPE_INDEX, "maskBox", {0, 1, 2, 3}, nullptr, false},
    {MxifBkgd::TYPE_INDEX, "edges", {0, 1, 2, 3}, "edgeSymmetry", false},
    {MxifBkgd::TYPE_INDEX, "patFree1.edges", {0, 3, 2, 1}, "patFree1.edgeSymmetry", true},
    {MxifBkgd::TYPE_INDEX, "patFree2.edges", {0, 3, 2, 1}, "patFree2.edgeSymmetry", true},
};

const EdgeRule* edgeRuleOf(int type, const std::string& field) {
  for (const EdgeRule& r : EDGE_RULES) {
    if (r.type == type && field == r.field) return &r;
  }
  return nullptr;
}

// The edge of the rule at an element of the field.
int edgeAt(const EdgeRule& rule, int element) {
  return static_cast<int>(std::find(rule.element, rule.element + 4, element) - rule.element);
}

// "left, top, bottom, right; a changed edge pushes its opposite: right is kept at least left, top at
// least bottom; with dveShape.cropMode=1 ...": the field list's note of an edge field.
std::string edgeRuleNote(const EdgeRule& rule) {
  std::string names;
  for (int e = 0; e < 4; ++e) names += (e == 0 ? "" : ", ") + std::string(EDGE_NAMES[edgeAt(rule, e)]);
  std::string out = names + "; a changed edge pushes its opposite: right is kept at least left, top at least bottom";
  if (rule.symmetry != nullptr) {
    out += std::string("; with ") + rule.symmetry + (rule.symmetricIfNonZero ? " other than 0" : "=1") +
           " the edges are symmetric: a changed edge sets its opposite to minus it, and left and bottom are kept at most "
           "0, top and right at least 0";
  }
  return out;
}

// Why the edge rule holds an edge field otherwise than sent: each element it moved, and the part of
// the rule that moved it. symmetric: 1, 0, or -1 when not known (then whichever part fits).
std::string edgeRuleText(const EdgeRule& rule, const std::string& field, int element, const std::vector<double>& sent,
                         const std::vector<double>& held, int symmetric, double symmetryValue) {
  const bool whole = element < 0 && sent.size() == 4 && held.size() == 4;
  std::string out;
  for (size_t k = 0; k < held.size() && k < sent.size(); ++k) {
    if (held[k] == sent[k]) continue;
    const int x = whole ? static_cast<int>(k) : element;
    const int edge = edgeAt(rule, x);
    if (edge > 3) continue;
    const int partner = rule.element[3 - edge];
    const bool upper = edge == 1 || edge == 3;  // top and right are kept above their opposites
    const std::string name = EDGE_NAMES[edge], opposite = EDGE_NAMES[3 - edge];
    const std::string symmetryText = rule.symmetry == nullptr ? "" : std::string(rule.symmetry) + "=" + numberText(symmetryValue);
    std::string why;
    if (whole && symmetric != 1 && held[k] == sent[static_cast<size_t>(partner)]) {
      why = name + " is kept at " + (upper ? "least " : "most ") + opposite + ", " + field + "[" + std::to_string(partner) +
            "]=" + numberText(sent[static_cast<size_t>(partner)]);
    } else if (symmetric != 0 && held[k] == 0) {
      why = (symmetric == 1 ? "with " + symmetryText + " the edges are symmetric and " : "") + name + " is kept at " +
            (upper ? "least" : "most") + " 0";
    } else if (whole && symmetric != 0 && held[k] == -sent[static_cast<size_t>(partner)]) {
      why = (symmetric == 1 ? "with " + symmetryText + " the edges are symmetric: " : "") + name + " is set to minus " +
            opposite + ", " + field + "[" + std::to_string(partner) + "]=" + numberText(sent[static_cast<size_t>(partner)]);
    } else {
      why = "the rule moved it with the other edges as the back end holds them";
    }
    out += (out.empty() ? "" : "; ") + field + "[" + std::to_string(x) + "] (" + name + ") from " + numberText(sent[k]) +
           " to " + numberText(held[k]) + ": " + why;
  }
  if (out.empty()) return "";
  std::string names;
  for (int e = 0; e < 4; ++e) names += (e == 0 ? "" : ", ") + std::string(EDGE_NAMES[edgeAt(rule, e)]);
  return "the edge rule moved " + out + " (" + field + ": " + names + "; every value sent is in range)";
}

// A bus source on entries 0..11 that is an ME's output is refused where it would close a loop: that
// ME takes this ME's output, directly or through another ME (the bus category's reentry check). With
// the bus records the back end holds in the buses here, the MEs that take this ME's output and the
// entries where they do; "" when those records do not refuse the source.
std::string busLoopText(const RecordView& request, int me, int entry, const HeldRecords& held) {
  using Bus = category::CategoryBus;
  constexpr int LOOP_ENTRIES = 12;
  if (entry >= LOOP_ENTRIES || !held) return "";
  auto& registry = category::CategoryRegistry::instance();
  const auto busOf = [&](int m) { return dynamic_cast<Bus*>(registry.at(MxifBus::TYPE_INDEX, m)); };
  const auto entriesOf = [&](int m) {
    return reinterpret_cast<MxifBus*>(registry.storageOf(MxifBus::TYPE_INDEX, m) +
                                      recordOffset(registry.boundBytes(MxifBus::TYPE_INDEX, m), {sizeof(MxifBus), true, 1}, 0))
        ->entries;
  };
  std::string out;
  {
    KeptRecords kept(MxifBus::TYPE_INDEX);
    std::vector<int> loaded;
    for (int m = 0; m < category::N_ME; ++m) {
      Bytes record;
      if (busOf(m) == nullptr || !held(MxifBus::TYPE_INDEX, m, 0, record) || record.size() < sizeof(MxifBus)) continue;
      std::memcpy(entriesOf(m), reinterpret_cast<const MxifBus*>(record.data())->entries, sizeof MxifBus::entries);
      busOf(m)->refreshUsage();
      loaded.push_back(m);
    }
    u16* const entries = entriesOf(me);
    int ignored = 0;
    const u16 code = static_cast<u16>(codec::loadElement(request.find("entries", ignored)->leaf, entry));
    const u16 before = entries[entry];
    Bytes body;
    request.write(body);
    // The request offered to the buses as the back end holds them: refused there too?
    const bool refused = deliver(linkpeer::packetBytes(MxifBus::TYPE_INDEX, body)) && entries[entry] != code;
    entries[entry] = before;
    busOf(me)->refreshUsage();
    for (int m : refused ? loaded : std::vector<int>{}) {
      if (m == me || !Bus::uses(m, me)) continue;
      u16* const of = entriesOf(m);
      std::string where;
      for (int e = 0; e < LOOP_ENTRIES; ++e) {
        const u16 was = of[e];
        of[e] = static_cast<u16>(Bus::REPLACEMENT_CODE);
        busOf(m)->refreshUsage();
        if (!Bus::uses(m, me)) where += (where.empty() ? "" : " ") + ("entries[" + std::to_string(e) + "]=" + std::to_string(was));
        of[e] = was;
        busOf(m)->refreshUsage();
      }
      out += (out.empty() ? "" : ", ") + ("ME " + std::to_string(m) + " takes ME " + std::to_string(me) + "'s output") +
             (where.empty() ? "" : " (MxifBus me=" + std::to_string(m) + " " + where + ", as the back end holds it)");
    }
    if (refused && out.empty()) out = "another ME takes ME " + std::to_string(me) + "'s output through a third";
  }
  for (int m = 0; m < category::N_ME; ++m) {
    if (busOf(m) != nullptr) busOf(m)->refreshUsage();
  }
  if (out.empty()) return "";
  return out + ": entries 0..11 take no output of an ME that takes this ME's output, directly or through another ME "
               "(a loop)";
}

// Why a field whose values sent are all ones its checks take is held otherwise: a rule on the
// record's other fields (the edge rule, the frame update) or on other records (a bus loop).
std::string otherReason(Judge& judge, const RecordView& view, const Refusal& r, const std::vector<Target>& elements,
                        const HeldRecords& held, int me) {
  const Field* f = elements[0].field;
  const int type = view.type().index;
  const int element = elements.size() > 1 ? -1 : elements[0].element;
  const std::vector<double> sent = numbersOf(r.sentValues, r.sent), answered = numbersOf(r.answeredValues, r.answered);
  if (const EdgeRule* rule = edgeRuleOf(type, f->name); rule != nullptr && !answered.empty()) {
    int symmetric = rule->symmetry == nullptr ? 0 : -1;
    double value = 0;
    int ignored = 0;
    const Field* symmetry = rule->symmetry != nullptr ? view.find(rule->symmetry, ignored) : nullptr;
    if (symmetry != nullptr && judge.valueWith({symmetry, 0}, value)) {
      symmetric = (rule->symmetricIfNonZero ? value != 0 : value == 1) ? 1 : 0;
    }
    const std::string text = edgeRuleText(*rule, f->name, element < 0 || f->leaf.count == 1 ? -1 : element, sent,
                                          answered, symmetric, value);
    if (!text.empty()) return text;
  }
  Target by{nullptr, 0};
  bool carried = false, fromHeld = false;
  if (!answered.empty() && elements.size() == 1 && judge.changedByUpdate(elements[0], by, carried, fromHeld)) {
    double value = 0;
    if (by.field == nullptr) return "the back end sets it from the record's other fields";
    if (fromHeld && judge.heldValue(by, value)) {
      return elementName(*by.field, by.element) + "=" + numberText(value) + ", as the back end holds it, sets it so";
    }
    if (!carried) return elementName(*by.field, by.element) + ", as the back end holds it, sets it so";
    return judge.sentText(by) + " sets it so";
  }
  if (type == MxifBus::TYPE_INDEX && f->name == "entries" && element >= 0) {
    const std::string loop = busLoopText(judge.request(), me, element, held);
    if (!loop.empty()) return loop;
  }
  return "its checks take it with the fields sent, so a rule on fields or records that the request leaves out decided it";
}

// What a refusal says after the field and the value sent. A set of values is quoted only where it
// does not hold a value sent.
std::string refusalText(Judge& judge, const RecordView& view, const Refusal& r, const HeldRecords& held, int me) {
  int element = -1;
  const Field* f = view.find(r.field, element);
  const std::string head = r.field + "=" + r.sent + ": ";
  if (f == nullptr || f->textCapacity > 0 || !judge.readable()) {
    return head + (r.answered.empty() ? "kept its value" : "it holds " + r.answered);
  }
  std::vector<Target> elements;
  for (int e = 0; e < f->leaf.count; ++e) {
    if (element < 0 || e == element) elements.push_back({f, e});
  }
  const bool whole = elements.size() > 1;
  const bool atFault = std::any_of(elements.begin(), elements.end(), [&](const Target& t) { return judge.verdict(t).atFault; });
  if (!r.answered.empty()) {
    const std::string out = head + "it holds " + r.answered;
    if (atFault) return out + " (takes " + judge.takesText(elements) + ")";
    return out + ": " + otherReason(judge, view, r, elements, held, me);
  }
  std::string faults;
  Target with{nullptr, 0};
  for (const Target& t : elements) {
    const Judge::Verdict& v = judge.verdict(t);
    if (v.atFault) faults += (whole ? judge.sentText(t) + ": " : head) + "takes " + intervalsText(v.takes) + v.with + "; ";
    if (v.keptWith.field != nullptr && v.keptWith.field != f) with = v.keptWith;
  }
  if (!faults.empty()) return faults + (whole ? f->name + " kept its value" : "kept its value");
  if (with.field == nullptr) {
    for (const Target& p : bitPartners(view, elements[0])) {
      if (p.field != f && judge.verdict(p).atFault) {
        with = p;
        break;
      }
    }
  }
  if (with.field != nullptr) return head + "kept its value with " + judge.sentText(with) + ", which shares its presence bit";
  return head + "kept its value: " + otherReason(judge, view, r, elements, held, me);
}

}  // namespace

std::vector<std::string> refusalTextsOf(const RecordType& type, const Bytes& sent, const std::vector<Refusal>& refused,
                                        const HeldRecords& held) {
  ProbeSite site(type);
  RecordView request(type);
  request.read(sent.data(), sent.size());
  const IndexFields x = indexFields(request);
  const int me = x.me != nullptr ? static_cast<int>(codec::loadElement(x.me->leaf, 0)) : 0;
  const int channel = x.channel != nullptr ? static_cast<int>(codec::loadElement(x.channel->leaf, 0)) : 0;
  Assignments with;
  if (type.shape.perMe && x.channel != nullptr) with.emplace_back("channel", std::to_string(channel));
  std::string ignored;
  const bool open = site.open(type.shape.perMe ? me : channel, with, ignored);
  Bytes record;
  if (!held || !held(type.index, me, channel, record)) record.clear();
  Judge judge(site, open ? sent : Bytes{}, record);
  std::vector<std::string> out;
  for (const Refusal& r : refused) out.push_back(refusalText(judge, site.view, r, held, me));
  return out;
}

// ---- The field list ---------------------------------------------------------------------------------

namespace {

std::string edgeRuleNoteOf(int type, const std::string& field) {
  const EdgeRule* rule = edgeRuleOf(type, field);
  return rule != nullptr ? edgeRuleNote(*rule) : "";
}

// A field name with the number of each numbered sub-record as '#' ("entry#.code", "bkgd[#].rate"):
// the same field in every sub-record of a repeated group.
std::string shapeOf(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    size_t end = i;
    while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
    if (end > i && end < name.size() && (name[end] == '.' || name.compare(end, 2, "].") == 0)) {
      out += '#';
      i = end - 1;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The numeric elements of a record in groups that each value is offered to together: as few as
// hold every element once with no two under one presence bit (an array under one bit, or fields
// that share one, spread over as many groups). Status fields and the index fields are left out.
std::vector<std::vector<Target>> targetGroups(RecordView& view, const IndexFields& indexes, int type) {
  std::vector<std::vector<Target>> groups;
  std::vector<std::set<std::pair<const u32*, int>>> bits;
  for (const Field* f : view.settable()) {
    if (f == indexes.me || f == indexes.channel || f->textCapacity > 0) continue;
    for (int e = 0; e < f->leaf.count; ++e) {
      if (statusSetter(type, f->name, e) != nullptr) continue;
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

// An instance of a record: its ME and channel.
struct Instance {
  int me = 0;
  int channel = 0;
};

// Instances as what they have in common ("channel=2..3", "me=1 channel=0"), ME by ME when they are
// not every pairing of their MEs and channels.
std::string instancesText(const std::vector<Instance>& all, const std::vector<Instance>& some, bool perMe, bool channels) {
  std::set<int> allMes, allChannels, mes, chs;
  for (const Instance& i : all) allMes.insert(i.me), allChannels.insert(i.channel);
  for (const Instance& i : some) mes.insert(i.me), chs.insert(i.channel);
  if (!perMe) return "channel=" + numbersText(chs);
  if (!channels) return "me=" + numbersText(mes);
  if (mes.size() * chs.size() == some.size()) {
    const std::string me = mes == allMes ? "" : "me=" + numbersText(mes);
    const std::string ch = chs == allChannels ? "" : "channel=" + numbersText(chs);
    return me + (me.empty() || ch.empty() ? "" : " ") + ch;
  }
  std::string out;
  for (int m : mes) {
    std::set<int> of;
    for (const Instance& i : some) {
      if (i.me == m) of.insert(i.channel);
    }
    out += (out.empty() ? "" : ", ") + ("me=" + std::to_string(m)) + " channel=" + numbersText(of);
  }
  return out;
}

// One text per instance as one: the text when all agree, else each text with its instances
// ("0..40000 on channel=0..1; 0..10000 on channel=2..3").
std::string perInstanceText(const std::vector<std::string>& texts, const std::vector<Instance>& instances, bool perMe,
                            bool channels) {
  if (std::all_of(texts.begin(), texts.end(), [&](const std::string& t) { return t == texts[0]; })) return texts[0];
  std::vector<std::string> order;
  std::map<std::string, std::vector<Instance>> by;
  for (size_t i = 0; i < texts.size(); ++i) {
    auto& of = by[texts[i]];
    if (of.empty()) order.push_back(texts[i]);
    of.push_back(instances[i]);
  }
  std::string out;
  // Texts of several lines (a field whose values depend on another's) give each line its instances.
  const bool lines = std::any_of(texts.begin(), texts.end(), [](const std::string& t) { return t.find('\n') != t.npos; });
  for (const std::string& t : order) {
    const std::string on = "on " + instancesText(instances, by[t], perMe, channels);
    if (!lines) {
      out += (out.empty() ? "" : "; ") + t + " " + on;
      continue;
    }
    if (t.find('\n') == t.npos) {
      out += (out.empty() ? "" : "\n") + on + ": " + t;
      continue;
    }
    for (size_t at = 0; at < t.size();) {
      const size_t end = std::min(t.find('\n', at), t.size());
      out += (out.empty() ? "" : "\n") + on + " " + t.substr(at, end - at);
      at = end + 1;
    }
  }
  return out;
}

// A line of the list: a field (or a run of its elements), what it takes, and the names of its values.
struct Line {
  std::string name;
  std::string takes;
  std::string note;
  bool operator==(const Line&) const = default;
};

// The lines of fields in numbered sub-records ("bkgd[3].rate") that read the same in every
// sub-record of the group, as one line each ("bkgd[0..11].rate").
std::vector<Line> collapseRepeats(const std::vector<Line>& lines) {
  // The group ("bkgd") and the number of a line in a bracketed sub-record, -1 for other lines.
  auto split = [](const std::string& name, std::string& group, std::string& rest) {
    const size_t close = name.find("].");
    const size_t open = close == std::string::npos ? close : name.rfind('[', close);
    long k = -1;
    if (open == std::string::npos || !cli::parseNumber(name.substr(open + 1, close - open - 1), 0, 0xFFFF, k)) return -1;
    group = name.substr(0, open);
    rest = name.substr(close + 1);
    return static_cast<int>(k);
  };
  std::vector<Line> out;
  std::set<std::string> done;
  for (const Line& line : lines) {
    std::string group, rest;
    if (split(line.name, group, rest) < 0) {
      out.push_back(line);
      continue;
    }
    if (!done.insert(group).second) continue;
    std::map<int, std::vector<Line>> subs;
    std::vector<Line> all;
    for (const Line& l : lines) {
      std::string g, r;
      const int k = split(l.name, g, r);
      if (k < 0 || g != group) continue;
      all.push_back(l);
      subs[k].push_back({r, l.takes, l.note});
    }
    bool same = true;
    for (const auto& [k, sub] : subs) same = same && sub == subs.begin()->second;
    if (!same) {
      out.insert(out.end(), all.begin(), all.end());
      continue;
    }
    const std::string head = group + "[" + std::to_string(subs.begin()->first) + ".." + std::to_string(subs.rbegin()->first) + "]";
    for (const Line& l : subs.begin()->second) out.push_back({head + l.name, l.takes, l.note});
  }
  return out;
}

}  // namespace

// The header line, then a line per field, or per run of its elements, that a front end sets, with
// what the back end's checks take for each instance (ME, channel) of the record.
std::string fieldListOf(const RecordType& type) {
  const int TYPE = type.index;
  const RecordShape& shape = type.shape;
  const bool command = TYPE >= category::FIRST_COMMAND_TYPE;
  RecordView view(type);
  const IndexFields indexes = indexFields(view);
  const bool channels = shape.perMe ? indexes.channel != nullptr : shape.channels > 1;
  std::vector<Instance> instances;
  for (int m = 0; m < (shape.perMe ? category::N_ME : 1); ++m) {
    for (int c = 0; c < (channels ? shape.channels : 1); ++c) instances.push_back({m, c});
  }
  // What each element takes, instance by instance ("" where no category keeps the instance).
  std::map<std::pair<std::string, int>, std::vector<std::string>> taken;
  bool probed = false, startsOutside = false;
  for (size_t i = 0; i < instances.size() && !command; ++i) {
    ProbeSite site(type);
    Assignments with;
    if (shape.perMe && channels) with.emplace_back("channel", std::to_string(instances[i].channel));
    std::string ignored;
    if (!site.open(shape.perMe ? instances[i].me : instances[i].channel, with, ignored)) continue;
    probed = true;
    PlainSets plain;
    const auto groups = targetGroups(site.view, site.indexes, TYPE);
    for (const auto& group : groups) {
      const auto results = probeTargets(site, group, false);
      for (size_t t = 0; t < group.size(); ++t) plain[{group[t].field, group[t].element}] = results[t];
    }
    for (const auto& group : groups) {
      for (const Target& target : group) {
        const std::vector<Interval>& takes = plain[{target.field, target.element}];
        auto& texts = taken[{target.field->name, target.element}];
        texts.resize(instances.size());
        if (const Dependence d = dependenceOf(site, target, takes, plain.lookup()); d.on.field != nullptr) {
          texts[i] = dependenceText(d);
          continue;
        }
        texts[i] = intervalsText(takes);
        // A start value that no request can set, as a field that a front end must set first.
        const double start = site.stored(target);
        if (!takes.empty() && std::none_of(takes.begin(), takes.end(), [&](const Interval& v) {
              return v.lo <= start && start <= v.hi;
            })) {
          texts[i] += " (" + numberText(start) + " at start)";
          startsOutside = true;
        }
      }
    }
  }
  std::vector<Line> lines;
  bool none = false, status = false;
  for (const Field* f : view.settable()) {
    if (f == indexes.me || f == indexes.channel) continue;
    const int count = f->textCapacity > 0 ? 1 : f->leaf.count;
    std::vector<std::string> texts;
    for (int e = 0; e < count; ++e) {
      if (const char* setBy = statusSetter(TYPE, f->name, e)) {
        texts.push_back(std::string("status, set by ") + setBy);
        status = true;
        continue;
      }
      auto at = taken.find({f->name, e});
      std::vector<std::string> each = at != taken.end() ? at->second : std::vector<std::string>{};
      for (std::string& x : each) {
        if (x.empty()) x = rangeText(*f);
      }
      texts.push_back(each.empty() ? rangeText(*f) : perInstanceText(each, instances, shape.perMe, channels));
      none = none || texts.back().find("none") != std::string::npos;
    }
    // A run of elements that take the same values is one line.
    for (int e = 0; e < count;) {
      int last = e;
      while (last + 1 < count && texts[last + 1] == texts[e]) ++last;
      std::string name = f->name;
      // Appended in steps: GCC 12 at -O3 takes the one expression for an overlapping copy.
      if (count > 1) {
        name.append("[").append(std::to_string(e));
        if (e != last) name.append("..").append(std::to_string(last));
        name.append("]");
      }
      lines.push_back({name, texts[e], ""});
      e = last + 1;
    }
    lines.back().note = noteOf(TYPE, f->name);
  }
  std::string out = std::string(category::typeNameOf(TYPE)) + ": type " + std::to_string(TYPE);
  if (shape.perMe) out += ", a record per ME (me=0.." + std::to_string(category::N_ME - 1) + ")";
  if (shape.channels > 1) {
    out += ", " + std::to_string(shape.channels) + " channels (channel=0.." + std::to_string(shape.channels - 1) + ")";
  }
  if (command) {
    out += "; a command keeps no record to read back: the ranges are the fields' widths";
  } else if (!probed) {
    out += "; the back end keeps no record of it to read values back from: the ranges are the fields' widths";
  }
  out += "; an array takes name[i]=v or name=v1,v2,...";
  if (none) out += "; none: the back end takes no value of the field from a request";
  if (status) out += "; status: the back end sets the field itself, a request does not";
  if (startsOutside) out += "; (N at start): the value the back end starts with, which a request does not set";
  out += "\n";
  const std::vector<std::pair<std::string, int>> mirrors = type.mirrors();
  std::set<std::string> mirrored;
  for (const auto& [name, of] : mirrors) {
    const std::string group = shapeOf(std::string(name) + ".");
    if (of == TYPE || !mirrored.insert(group).second) continue;
    const int n = static_cast<int>(
        std::count_if(mirrors.begin(), mirrors.end(), [&](const auto& m) { return shapeOf(m.first + ".") == group; }));
    const std::string typeName = category::typeNameOf(of);
    std::string head = n > 1 ? group.substr(0, group.size() - 1) : name;
    if (n > 1) head.replace(head.find('#'), 1, "0.." + std::to_string(n - 1));
    out += "  " + head + ": " + (n > 1 ? "each " : "") + "a " + typeName + " record (frontend fields " + typeName +
           " lists what the back end takes for " + typeName + " itself)\n";
  }
  for (const Line& line : collapseRepeats(lines)) {
    std::string name = line.name;
    name.resize(std::max<size_t>(name.size() + 2, 32), ' ');
    // The lines of what a field takes for each value of another stand under each other.
    std::string takes = line.takes;
    for (size_t at = takes.find('\n'); at != takes.npos; at = takes.find('\n', at + 1)) takes.insert(at + 1, 34, ' ');
    out += "  " + name + takes + "\n";
    // The names, in lines of up to 100 characters.
    for (size_t at = 0; at < line.note.size();) {
      size_t end = line.note.size();
      if (end - at > 94) end = std::max(line.note.rfind(' ', at + 94), at + 1);
      out += "      " + line.note.substr(at, end - at) + "\n";
      at = end + 1;
    }
  }
  return out;
}

}  // namespace frontend::records
