// What became of each field of a request, as the back end's answer shows it, and why: the answer
// is set against what the request carried and against what the operator typed, and every reason is
// found by running the request through the back end's own categories in this program, from the
// backup image the board held before it was sent.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <tuple>

#include "Lib/Include/memory_map.h"
#include "Lib/Include/storage.h"
#include "Main/framework/bp.h"
#include "Main/framework/typenames.h"
#include "Platform/platform.h"
#include "Tools/lib/link_ring.h"
#include "Tools/lib/record_probe.h"
#include "Tools/lib/scratch_system.h"

namespace frontend::records {
namespace {

constexpr int BACKED_UP_MES = 2;  // the backup image keeps the records of ME 0 and 1

// Bits of element e of a field whose leaf lies in the record at `record` (a view's field, its
// offset in that record).
u32 bitsIn(const u8* record, const Field& f, int e) {
  codec::Leaf leaf = f.leaf;
  leaf.data = const_cast<u8*>(record) + f.offset;
  return codec::loadElement(leaf, e);
}

// The request, as a packet.
Bytes packetOf(const RecordView& request) {
  Bytes body;
  request.write(body);
  return linkpeer::packetBytes(request.type().index, body);
}

// ---- Runs through the categories here --------------------------------------------------------------

// What a request did to its record instance, run from the backup image that was loaded: the record
// after the frame that takes it, and the rules noted on the way.
struct Outcome {
  Bytes record;
  std::vector<rules::Note> notes;
};

// A change of the state that a request is run from: bytes of a record instance as its category
// keeps it (`at` within the record).
struct Write {
  int type, me, channel;
  size_t at;
  Bytes bytes;
};

// Where an instance's record lies in the categories here; null when none keeps it.
u8* recordIn(int type, int me, int channel) {
  auto& registry = category::CategoryRegistry::instance();
  const RecordType* rt = recordTypeOf(type);
  const int row = registry.at(type, me) != nullptr ? me : 0;
  u8* area = registry.at(type, row) != nullptr ? registry.storageOf(type, row) : nullptr;
  if (rt == nullptr || area == nullptr) return nullptr;
  const int bytes = registry.boundBytes(type, row);
  if (bytes < static_cast<int>(rt->shape.size) * (channel + 1)) return nullptr;
  return area + recordOffset(bytes, rt->shape, channel);
}

// A request of the type for an instance that carries no field: its category takes nothing, but
// brings what it derives from its records up to date.
Bytes emptyRequest(int type, int me, int channel) {
  RecordView empty(*recordTypeOf(type));
  const IndexFields x = indexFields(empty);
  if (x.me != nullptr) codec::storeElement(x.me->leaf, 0, static_cast<u32>(me));
  if (x.channel != nullptr) codec::storeElement(x.channel->leaf, 0, static_cast<u32>(channel));
  return packetOf(empty);
}

class Runs {
 public:
  // warm: the state a running back end has, whose once-only rules (the first request after a start)
  // were spent by an earlier request; cold: that of a back end just started.
  // budget: the runs left to the verdict (each costs a start from the image); one past it gives an
  // outcome with no record.
  Runs(ProbeSite& site, bool warm, bool& ran, int& budget) : site_(site), warm_(warm), ran_(ran), budget_(budget) {}

  // The request from the loaded state, with the records changed first as `writes` say (each written
  // instance then takes a request that carries nothing, and a frame passes).
  Outcome run(const RecordView& request, const std::vector<Write>& writes = {}) {
    if (budget_ <= 0) return {};
    --budget_;
    auto& registry = category::CategoryRegistry::instance();
    resetScratch();
    ran_ = true;
    const auto pass = [&] {
      try {
        registry.updatePass();
      } catch (const assert::AssertException&) {
      } catch (const ScratchEnded&) {
      }
    };
    std::set<std::tuple<int, int, int>> written;
    for (const Write& w : writes) {
      u8* record = recordIn(w.type, w.me, w.channel);
      if (record == nullptr) continue;
      std::memcpy(record + w.at, w.bytes.data(), w.bytes.size());
      written.insert({w.type, w.me, w.channel});
    }
    for (const auto& [type, me, channel] : written) deliver(emptyRequest(type, me, channel));
    if (!written.empty()) pass();
    if (warm_) {
      const IndexFields x = indexFields(const_cast<RecordView&>(request));
      deliver(emptyRequest(request.type().index, x.me != nullptr ? static_cast<int>(codec::loadElement(x.me->leaf, 0)) : 0,
                           x.channel != nullptr ? static_cast<int>(codec::loadElement(x.channel->leaf, 0)) : 0));
      pass();
    }
    rules::clear();
    deliver(packetOf(request));
    pass();
    Outcome out;
    out.record.assign(site_.live, site_.live + site_.view.shape().size);
    for (int i = 0; i < rules::count(); ++i) out.notes.push_back(rules::noteAt(i));
    return out;
  }

  static void copyIndexes(const RecordView& from, RecordView& to) {
    const IndexFields x = indexFields(const_cast<RecordView&>(from)), y = indexFields(to);
    for (auto [a, b] : {std::pair(x.me, y.me), std::pair(x.channel, y.channel)}) {
      if (a != nullptr) codec::storeElement(b->leaf, 0, codec::loadElement(a->leaf, 0));
    }
  }

 private:
  ProbeSite& site_;
  bool warm_;
  bool& ran_;
  int& budget_;
};

// ---- One element of the request ---------------------------------------------------------------------

struct Element {
  Target t;             // in the site's view
  std::string name;     // "maskBox[3]"
  bool typed = false;   // given by the operator (not filled in by the tool)
  std::string sentText;
  std::string heldText;  // "" when the answer leaves it out
  u32 sent = 0;
  bool heldKnown = false;
  u32 held = 0;
  bool text = false;
};

// A record instance of ME 0 or 1 that the backup image holds.
struct Instance {
  int type, me, channel;
};

// ---- The judge --------------------------------------------------------------------------------------

class Judge {
 public:
  Judge(ProbeSite& site, const Bytes& body, const std::set<std::string>& typed, bool known,
        std::vector<std::pair<std::string, const rules::Rule*>>& named)
      : site_(site), sent_(site.view.type()), typed_(typed), known_(known), named_(named) {
    read_ = sent_.read(body.data(), body.size());
    const IndexFields x = indexFields(sent_);
    me_ = site.view.shape().perMe && x.me != nullptr ? static_cast<int>(codec::loadElement(x.me->leaf, 0)) : 0;
    channel_ = x.channel != nullptr ? static_cast<int>(codec::loadElement(x.channel->leaf, 0)) : 0;
  }
  bool readable() const { return read_; }

  // Whether the operator typed element e of f (every element counts when nothing is known of what
  // was typed).
  bool typed(const Field& f, int e) const {
    return typed_.empty() || typed_.count(f.name) != 0 || typed_.count(elementName(f, e)) != 0;
  }

  // The elements of each field the answer does not carry as sent; heldAfter: the instance's record
  // as the back end holds it after the request (empty: not known), for fields the answer leaves out.
  std::vector<Element> elementsOf(const std::vector<Refusal>& refused, const Bytes& heldAfter) {
    std::vector<Element> out;
    for (const Refusal& r : refused) {
      int element = -1;
      const Field* f = site_.view.find(r.field, element);
      if (f == nullptr) continue;
      int whole = -1;
      const Field& g = *sent_.find(f->name, whole);
      const bool text = f->textCapacity > 0;
      const int from = element >= 0 ? element : 0, to = element >= 0 ? element + 1 : text ? 1 : f->leaf.count;
      for (int e = from; e < to; ++e) {
        // A field without a presence bit goes with every request: only a value typed counts.
        if (f->leaf.mask == nullptr && (typed_.empty() || !typed(*f, e))) continue;
        Element x;
        x.t = {f, e};
        x.name = text ? f->name : elementName(*f, e);
        x.typed = typed(*f, e);
        x.text = text;
        const size_t k = static_cast<size_t>(e - from);
        x.sentText = text ? r.sent : k < r.sentValues.size() ? numberText(r.sentValues[k]) : r.sent;
        x.sent = text ? 0 : codec::loadElement(g.leaf, e);
        if (!r.answered.empty()) {
          x.heldText = text ? r.answered : k < r.answeredValues.size() ? numberText(r.answeredValues[k]) : r.answered;
          if (!text && k < r.answeredValues.size()) x.held = bitsOf(f->leaf.kind, r.answeredValues[k]), x.heldKnown = true;
        } else if (!text && heldAfter.size() >= site_.view.shape().size) {
          x.held = bitsIn(heldAfter.data(), *f, e);
          x.heldKnown = true;
        }
        // An element of a field held otherwise that the record still holds as sent is no matter.
        if (!text && x.heldKnown && x.held == x.sent) continue;
        out.push_back(x);
      }
    }
    return out;
  }

  // What each element says, refusals and notes apart.
  void judge(const std::vector<Element>& elements, Verdict& verdict) {
    elements_ = elements;
    if (elements_.empty()) return;
    resetScratch();
    before_.assign(site_.live, site_.live + site_.view.shape().size);
    if (known_ && me_ < BACKED_UP_MES) findBaseline();
    // Range faults, fields that went with one at fault, a whole field refused: one line a field.
    std::set<const Field*> doneFields;
    for (const Element& x : elements_) {
      if (x.text) {
        (x.typed ? verdict.refused : verdict.notes).push_back(x.name + "=" + x.sentText + ": " + keptOrHeld(x) + generalText());
        continue;
      }
      if (!x.typed) {
        if (!x.heldText.empty()) verdict.notes.push_back(noteText(x));
        continue;
      }
      // An on-air request is answered by the state the layer's transition reached.
      if (const codec::Tag& tag = x.t.field->leaf.tag; tag.role == codec::Role::ON_AIR_REQUEST) {
        verdict.refused.push_back(x.name + "=" + x.sentText + ": " + keptOrHeld(x) + tag.setBy);
        continue;
      }
      if (sameMeaning(x)) {
        verdict.notes.push_back(x.name + "=" + x.sentText + ": it holds " + x.heldText + ": " + rulesText(x));
        continue;
      }
      const Verdict_& v = verdictOf(x.t);
      if (v.atFault && x.t.field->leaf.count > 1 && !x.t.field->leaf.perElement && x.heldText.empty()) {
        if (!doneFields.insert(x.t.field).second) continue;
        verdict.refused.push_back(wholeFieldFaults(*x.t.field));
        continue;
      }
      verdict.refused.push_back(refusalText(x, v));
    }
  }

 private:
  struct Verdict_ {
    std::vector<Interval> takes;
    std::string with;             // " with patternKind=2": the element it depends on as sent
    Target keptWith{nullptr, 0};  // the element at fault that it depends on
    bool atFault = false;
  };

  static std::pair<const Field*, int> key(const Target& t) { return {t.field, t.element}; }

  // The value of an element in the request.
  double sent(const Target& t) {
    int ignored = 0;
    const Field* f = sent_.find(t.field->name, ignored);
    return numberOf(f->leaf.kind, codec::loadElement(f->leaf, t.element));
  }
  std::string sentText(const Target& t) { return elementName(*t.field, t.element) + "=" + numberText(sent(t)); }

  // Probes run on the state of the backup image, once-only rules spent (after runs, set again).
  void probeState() {
    if (!ran_) return;
    ran_ = false;
    resetScratch();
    RecordView empty(site_.view.type());
    Runs::copyIndexes(sent_, empty);
    deliver(packetOf(empty));
    try {
      category::CategoryRegistry::instance().updatePass();
    } catch (const assert::AssertException&) {
    } catch (const ScratchEnded&) {
    }
    // No field counts as sent yet: a value offered that equals the one held is taken only where the
    // category marks it so.
    for (const Field& f : site_.view.fields()) {
      if (f.leaf.isMask) std::memset(site_.live + f.offset, 0, static_cast<size_t>(4 * f.leaf.count));
    }
  }

  const std::vector<Interval>& plain(const Target& t) {
    auto at = plain_.find(key(t));
    if (at != plain_.end()) return at->second;
    probeState();
    return plain_.emplace(key(t), probeTargets(site_, {t}, false)[0]).first->second;
  }
  const Dependence& dependence(const Target& t) {
    auto at = dependences_.find(key(t));
    if (at != dependences_.end()) return at->second;
    const std::vector<Interval> takes = plain(t);
    probeState();
    const auto lookup = [this](const Target& p) { return &plain(p); };
    return dependences_[key(t)] = dependenceOf(site_, t, takes, lookup);
  }

  // What an element takes, with the element it depends on as sent: at fault when that does not hold
  // its value; one that depends on an element at fault goes with that element.
  const Verdict_& verdictOf(const Target& t) {
    if (const auto at = verdicts_.find(key(t)); at != verdicts_.end()) return at->second;
    Verdict_ v;
    v.takes = plain(t);
    const Dependence& d = dependence(t);
    if (d.on.field != nullptr) {
      const double by = sent(d.on);
      if (verdictOf(d.on).atFault) {
        v.keptWith = d.on;
      } else if (const std::vector<Interval>* set = d.setFor(by)) {
        v.takes = *set;
        v.with = " with " + elementName(*d.on.field, d.on.element) + "=" + numberText(by);
      }
    }
    v.atFault = v.keptWith.field == nullptr && !holds(v.takes, sent(t));
    return verdicts_[key(t)] = v;
  }

  // "window[2]=-1: takes 0..10000; window kept its value" for every element of a field at fault,
  // those typed first.
  std::string wholeFieldFaults(const Field& f) {
    std::string out;
    for (const bool typedOnes : {true, false}) {
      for (int e = 0; e < f.leaf.count; ++e) {
        const Verdict_& v = verdictOf({&f, e});
        if (v.atFault && typed(f, e) == typedOnes) out += faultText({&f, e}) + "; ";
      }
    }
    return out + f.name + " kept its value";
  }

  // "window[2]=-1: takes 0..10000", of an element at fault; one the tool filled in says so.
  std::string faultText(const Target& t) {
    const Verdict_& v = verdictOf(t);
    return sentText(t) + (typed(*t.field, t.element) ? "" : " (sent as last backed up)") + ": takes " +
           intervalsText(v.takes) + v.with;
  }

  // ---- The state before the request, as the categories here take it --------------------------------

  // Runs the request cold and warm: the one whose outcome holds every element as the answer does is
  // the state the back end took it in (warm where both do). None when neither does.
  void findBaseline() {
    for (const bool warm : {true, false}) {
      Runs runs(site_, warm, ran_, budget_);
      Outcome o = runs.run(sent_);
      if (o.record.empty() || !matches(o)) continue;
      baseline_ = std::move(o);
      warm_ = warm;
      return;
    }
  }

  bool matches(const Outcome& o) const {
    return std::all_of(elements_.begin(), elements_.end(), [&](const Element& x) {
      if (x.text) return true;
      const u32 now = bitsIn(o.record.data(), *x.t.field, x.t.element);
      return x.heldKnown ? now == x.held : now != x.sent;
    });
  }

  // ---- Reasons -------------------------------------------------------------------------------------

  std::vector<const rules::Rule*> rulesOf(const Element& x) const {
    if (!baseline_) return {};
    return rulesOn(site_.view.type().index, *x.t.field, x.t.element, baseline_->notes);
  }
  std::string rulesText(const Element& x) {
    std::string out;
    for (const rules::Rule* r : rulesOf(x)) {
      out += (out.empty() ? "" : "; ") + std::string(r->text);
      named_.emplace_back(x.name, r);
    }
    return out;
  }
  bool sameMeaning(const Element& x) const {
    const auto of = rulesOf(x);
    return !of.empty() && std::all_of(of.begin(), of.end(), [](const rules::Rule* r) { return r->effect == rules::Effect::SAME; });
  }

  // What is said where nothing here explains it.
  std::string generalText() const {
    if (!known_) return "the back end's state before the request is not known here (no backup image was read)";
    if (me_ >= BACKED_UP_MES) {
      return "ME " + std::to_string(me_) + " is not kept in the backup image, so what decided it is not known here";
    }
    if (!baseline_) {
      return "the back end held it otherwise than its own rules give from the backup image before the request: state "
             "the image does not keep decided it (a running transition, a selection the back end keeps in memory), or "
             "another request changed the record meanwhile";
    }
    return "the back end's own code, run here from the backup image, holds it so too, by a rule that names no reason";
  }

  std::string keptOrHeld(const Element& x) const { return x.heldText.empty() ? "kept its value: " : "it holds " + x.heldText + ": "; }

  // A typed element not held as typed.
  std::string refusalText(const Element& x, const Verdict_& v) {
    const std::string head = x.name + "=" + x.sentText + ": ";
    if (v.keptWith.field != nullptr && x.heldText.empty()) {
      return head + "kept its value with " + sentText(v.keptWith) + ", which shares its presence bit";
    }
    if (x.heldText.empty() && !v.atFault) {
      for (const Target& p : bitPartners(site_.view, x.t)) {
        if (!verdictOf(p).atFault) continue;
        if (typed(*p.field, p.element)) return head + "kept its value with " + sentText(p) + ", which shares its presence bit";
        return head + "kept its value with " + faultText(p) + ", which shares its presence bit";
      }
    }
    std::string out = head + (x.heldText.empty() ? (v.atFault ? "" : "kept its value") : "it holds " + x.heldText);
    if (v.atFault) out += (x.heldText.empty() ? "takes " : " (takes ") + intervalsText(v.takes) + v.with + (x.heldText.empty() ? "" : ")");
    const std::string rules = rulesText(x);
    const std::string by = decider(x, v.atFault);
    if (!rules.empty()) out += ": " + rules;
    if (!by.empty()) out += (rules.empty() ? ": " : "; ") + by;
    if (v.atFault && x.heldText.empty()) out += "; kept its value";
    if (!v.atFault && rules.empty() && by.empty()) out += ": " + generalText();
    return out;
  }

  // A field the tool filled in that a rule moved.
  std::string noteText(const Element& x) {
    std::string out = x.name + " (sent as last backed up: " + x.sentText + "): it holds " + x.heldText;
    const std::string rules = rulesText(x);
    const std::string by = decider(x, false);
    if (!rules.empty()) out += ": " + rules;
    if (!by.empty()) out += (rules.empty() ? ": " : "; ") + by;
    if (rules.empty() && by.empty()) out += ": " + generalText();
    return out;
  }

  // The value that decided the element: one sent with it, one the back end holds in the record, or
  // one of another record it holds; "" when none is found (or the state is not known). An element
  // refused for its range is decided by what moves it from the value it holds (settled otherwise
  // than as sent); others by what lets it be held as sent.
  std::string decider(const Element& x, bool rangeFault) {
    if (!baseline_) return "";
    const u32 was = bitsIn(baseline_->record.data(), *x.t.field, x.t.element);
    Runs runs(site_, warm_, ran_, budget_);
    const auto settles = [&](const Outcome& o) {
      if (o.record.empty()) return false;
      const u32 now = bitsIn(o.record.data(), *x.t.field, x.t.element);
      return rangeFault ? now != was : now == x.sent;
    };
    // Another element sent: left out of the request (the value held in its place when it shares a
    // presence bit with others).
    for (const Element& y : carried()) {
      if (!y.typed || (y.t.field == x.t.field && y.t.element == x.t.element)) continue;
      RecordView without(site_.view.type(), sent_.bytes());
      leaveOut(without, y.t);
      if (settles(runs.run(without))) return "decided by " + y.name + "=" + y.sentText + ", sent with it";
    }
    // A value sent with it that, left out, makes the element settle otherwise (where none lets it be
    // held as sent: another value of that field may decide as this one does).
    for (const Element& y : carried()) {
      if (rangeFault || !y.typed || (y.t.field == x.t.field && y.t.element == x.t.element)) continue;
      RecordView without(site_.view.type(), sent_.bytes());
      leaveOut(without, y.t);
      const Outcome o = runs.run(without);
      if (!o.record.empty() && bitsIn(o.record.data(), *x.t.field, x.t.element) != was) {
        return "decided by " + y.name + "=" + y.sentText + ", sent with it";
      }
    }
    // The values that the rule itself says it read.
    if (const std::string read = inputsOf(x); !read.empty()) return "decided by " + read;
    // The elements of the record that the back end holds otherwise than it starts, set to their
    // start (in the request where it carries them), halves at a time.
    std::vector<Target> held;
    RecordView start(site_.view.type());
    for (const Field* f : site_.view.settable()) {
      if (f == site_.indexes.me || f == site_.indexes.channel || f->textCapacity > 0 || f->leaf.mask == nullptr) continue;
      for (int e = 0; e < f->leaf.count; ++e) {
        const bool typedHere = sentBit(*f, e) && typed(*f, e);
        if (!typedHere && bitsIn(before_.data(), *f, e) != bitsIn(start.bytes(), *f, e)) held.push_back({f, e});
      }
    }
    const auto heldRun = [&](const std::vector<Target>& some) {
      RecordView request(site_.view.type(), sent_.bytes());
      std::vector<Write> writes;
      for (const Target& t : some) {
        const u32 bits = bitsIn(start.bytes(), *t.field, t.element);
        if (sentBit(*t.field, t.element)) {
          setElement(request, t, bits);
        } else {
          writes.push_back(elementWrite(site_.view.type().index, me_, channel_, t, start.bytes()));
        }
      }
      return settles(runs.run(request, writes));
    };
    if (const auto found = narrow(held, heldRun); !found.empty()) {
      return "decided by " + heldText(found, before_.data(), "") + ", as the back end holds it";
    }
    // Records of other types and instances, set to their start: a record first, then its elements.
    const auto recordsRun = [&](const std::vector<Instance>& some) {
      std::vector<Write> writes;
      for (const Instance& k : some) {
        RecordView start(*recordTypeOf(k.type));
        Bytes bytes(start.bytes(), start.bytes() + start.shape().size);
        keepIndexes(k, bytes);
        writes.push_back({k.type, k.me, k.channel, 0, bytes});
      }
      return settles(runs.run(sent_, writes));
    };
    const std::vector<Instance> records = narrow(otherRecords(), recordsRun);
    if (records.size() != 1) return "";
    return "decided by " + otherRecordText(records[0], runs, settles) + ", as the back end holds it";
  }

  // "MxifXptAssign channel=0 source[0]=302": the values that the rules which decided the element
  // read, as the back end held them before the request; "" when they say none.
  std::string inputsOf(const Element& x) {
    const int type = site_.view.type().index;
    std::vector<rules::Note> read;
    bool after = false;
    for (const rules::Note& n : baseline_->notes) {
      if (n.rule != nullptr) {
        after = !rulesOn(type, *x.t.field, x.t.element, {n}).empty();
      } else if (after) {
        read.push_back(n);
      }
    }
    if (read.empty()) return "";
    resetScratch();
    ran_ = true;
    std::string out;
    for (const rules::Note& n : read) {
      const int me = n.me < 0 ? me_ : n.me, channel = n.channel < 0 ? channel_ : n.channel;
      const RecordType* rt = recordTypeOf(n.type);
      const u8* record = recordIn(n.type, me, channel);
      if (rt == nullptr || record == nullptr) continue;
      RecordView held(*rt, record);
      for (const Field* f : held.settable()) {
        const size_t width = static_cast<size_t>(codec::widthOf(f->leaf.kind));
        if (f->textCapacity > 0 || n.at < f->offset || n.at >= f->offset + width * static_cast<size_t>(f->leaf.count)) continue;
        const int e = static_cast<int>((n.at - f->offset) / width);
        const bool own = n.me < 0 && n.type == type;
        // A value of the request's own record that the request carries is the one it read.
        int ignored = 0;
        const Field* asSent = own ? site_.view.find(f->name, ignored) : nullptr;
        if (asSent != nullptr && sentBit(*asSent, e)) {
          out += (out.empty() ? "" : " and ") + elementName(*f, e) + "=" + numberText(sent({asSent, e})) + ", sent with it";
          break;
        }
        std::string head = own ? "" : category::typeNameOf(n.type);
        if (!own && rt->shape.perMe) head += " me=" + std::to_string(me);
        if (!own && rt->shape.channels > 1) head += " channel=" + std::to_string(channel);
        out += (out.empty() ? "" : " and ") + heldText({{f, e}}, held.bytes(), head) + ", as the back end holds it";
        break;
      }
    }
    return out;
  }

  // The write that sets one element of an instance's record to its value in `from` (a record of the
  // type in its memory form).
  static Write elementWrite(int type, int me, int channel, const Target& t, const u8* from) {
    const size_t width = static_cast<size_t>(codec::widthOf(t.field->leaf.kind));
    const size_t at = t.field->offset + width * static_cast<size_t>(t.element);
    return {type, me, channel, at, Bytes(from + at, from + at + width)};
  }

  // A record's start with the instance's own ME and channel in the fields that name them.
  static void keepIndexes(const Instance& k, Bytes& record) {
    RecordView view(*recordTypeOf(k.type), record.data());
    const IndexFields x = indexFields(view);
    if (x.me != nullptr) codec::storeElement(x.me->leaf, 0, static_cast<u32>(k.me));
    if (x.channel != nullptr) codec::storeElement(x.channel->leaf, 0, static_cast<u32>(k.channel));
    std::memcpy(record.data(), view.bytes(), record.size());
  }

  // The smallest part of `all` (halving) whose run settles the element; empty when the whole does not.
  template <class T, class Run>
  static std::vector<T> narrow(std::vector<T> all, const Run& run) {
    if (all.empty() || !run(all)) return {};
    while (all.size() > 1) {
      const auto half = all.begin() + static_cast<long>(all.size() / 2);
      std::vector<T> a(all.begin(), half), b(half, all.end());
      if (run(a)) {
        all = std::move(a);
      } else if (run(b)) {
        all = std::move(b);
      } else {
        break;  // it takes elements of both halves
      }
    }
    return all;
  }

  // The elements the request carries.
  std::vector<Element> carried() {
    std::vector<Element> out;
    for (const Field* f : site_.view.settable()) {
      if (f == site_.indexes.me || f == site_.indexes.channel || f->textCapacity > 0) continue;
      for (int e = 0; e < f->leaf.count; ++e) {
        if (!sentBit(*f, e)) continue;
        Element y;
        y.t = {f, e};
        y.name = elementName(*f, e);
        y.typed = typed(*f, e);
        y.sentText = numberText(sent(y.t));
        out.push_back(y);
      }
    }
    return out;
  }

  // Whether the request sets the presence bit of element e of f (a field of the site's view).
  bool sentBit(const Field& f, int e) const {
    const auto bit = presenceOf(f.leaf, e);
    if (bit.first == nullptr) return false;
    u32 w;
    std::memcpy(&w, sent_.bytes() + (reinterpret_cast<const u8*>(bit.first) - site_.view.bytes()), 4);
    return (w >> bit.second) & 1u;
  }

  // The element in a request leaves it: its own presence bit cleared, or where others share the
  // bit, the value the back end holds in its place.
  void leaveOut(RecordView& request, const Target& t) {
    int ignored = 0;
    const Field& f = *request.find(t.field->name, ignored);
    if (f.leaf.perElement || (fieldsUnderBit(site_.view, *t.field, t.element).size() <= 1 && f.leaf.count == 1)) {
      const auto bit = presenceOf(f.leaf, t.element);
      if (bit.first != nullptr) const_cast<u32*>(bit.first)[0] &= ~(1u << bit.second);
      return;
    }
    codec::storeElement(f.leaf, t.element, bitsIn(before_.data(), *t.field, t.element));
  }

  // Sets an element of a request.
  static void setElement(RecordView& request, const Target& t, u32 bits) {
    int ignored = 0;
    codec::storeElement(request.find(t.field->name, ignored)->leaf, t.element, bits);
  }

  // "format=1" or "MxifXptAssign channel=0 source[7]=150" of elements in a record.
  static std::string heldText(const std::vector<Target>& elements, const u8* record, const std::string& head) {
    std::string out = head;
    // Appended in steps: GCC 12 at -O3 takes the one expression for an overlapping copy.
    for (const Target& t : elements) {
      if (!out.empty()) out.append(" ");
      out.append(elementName(*t.field, t.element)).append("=");
      out.append(numberText(numberOf(t.field->leaf.kind, bitsIn(record, *t.field, t.element))));
    }
    return out;
  }

  // The records of ME 0 and 1 that the image holds, but the request's own instance.
  std::vector<Instance> otherRecords() const {
    std::vector<Instance> out;
    for (int type = 0; type < category::FIRST_COMMAND_TYPE; ++type) {
      const RecordType* rt = recordTypeOf(type);
      if (rt == nullptr) continue;
      for (int m = 0; m < (rt->shape.perMe ? BACKED_UP_MES : 1); ++m) {
        for (int c = 0; c < rt->shape.channels; ++c) {
          const bool own = type == site_.view.type().index && m == me_ && c == channel_;
          if (!own && recordIn(type, m, c) != nullptr) out.push_back({type, m, c});
        }
      }
    }
    return out;
  }

  // "MxifXptAssign channel=0 source[7]=150": the record and the elements of it that settle the
  // element when set to their start (a few at most); the record alone otherwise.
  template <class Settles>
  std::string otherRecordText(const Instance& k, Runs& runs, const Settles& settles) {
    const RecordType& rt = *recordTypeOf(k.type);
    resetScratch();
    RecordView held(rt, recordIn(k.type, k.me, k.channel));
    const IndexFields x = indexFields(held);
    std::string head = category::typeNameOf(k.type);
    if (rt.shape.perMe) head += " me=" + std::to_string(k.me);
    if (rt.shape.channels > 1) head += " channel=" + std::to_string(k.channel);
    RecordView start(rt);
    std::vector<Target> differ;
    for (const Field* f : held.settable()) {
      if (f == x.me || f == x.channel || f->textCapacity > 0) continue;
      for (int e = 0; e < f->leaf.count; ++e) {
        if (bitsIn(held.bytes(), *f, e) != bitsIn(start.bytes(), *f, e)) differ.push_back({f, e});
      }
    }
    const auto run = [&](const std::vector<Target>& some) {
      std::vector<Write> writes;
      for (const Target& t : some) writes.push_back(elementWrite(k.type, k.me, k.channel, t, start.bytes()));
      return settles(runs.run(sent_, writes));
    };
    const std::vector<Target> found = narrow(differ, run);
    if (found.empty() || found.size() > 3) return head;
    return heldText(found, held.bytes(), head);
  }

  ProbeSite& site_;
  RecordView sent_;
  std::set<std::string> typed_;
  bool known_;
  bool read_ = false;
  int me_ = 0, channel_ = 0;
  std::vector<Element> elements_;
  std::vector<std::pair<std::string, const rules::Rule*>>& named_;
  std::optional<Outcome> baseline_;
  bool warm_ = true;
  bool ran_ = true;  // runs changed the state since the probes' state was set
  int budget_ = 400;  // runs left: a request with many fields refused is not judged for long
  Bytes before_;     // the instance's record before the request
  std::map<std::pair<const Field*, int>, std::vector<Interval>> plain_;
  std::map<std::pair<const Field*, int>, Dependence> dependences_;
  std::map<std::pair<const Field*, int>, Verdict_> verdicts_;
};

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

bool commandAnswersOf(const RecordType& type, const Bytes& body, std::string& why) {
  RecordView request(type);
  if (type.index < category::FIRST_COMMAND_TYPE || !request.read(body.data(), body.size()) || !scratchIsOwn()) return true;
  if (answered(packetOf(request), type.index)) return true;
  // The field whose value, set to 0, gets an answer.
  why = "the back end's code answers none such";
  for (const Field* f : request.settable()) {
    if (f->textCapacity > 0 || f->leaf.tag.role == codec::Role::REPLY) continue;
    for (int e = 0; e < f->leaf.count; ++e) {
      const u32 was = codec::loadElement(f->leaf, e);
      if (was == 0) continue;
      codec::storeElement(f->leaf, e, 0);
      const bool then = answered(packetOf(request), type.index);
      codec::storeElement(f->leaf, e, was);
      if (then) {
        why = "the back end's code answers none with " + elementName(*f, e) + "=" + numberText(numberOf(f->leaf.kind, was)) +
              " (it does with " + elementName(*f, e) + "=0)";
        return false;
      }
    }
  }
  return false;
}

Verdict judgeAnswerOf(const RecordType& type, const Bytes& sent, const std::set<std::string>& typed,
                      const std::vector<Refusal>& refused, const Bytes& before, const Bytes& heldAfter) {
  Verdict out;
  if (refused.empty()) return out;
  const bool known = loadScratchImage(before);
  ProbeSite site(type);
  RecordView request(type);
  request.read(sent.data(), sent.size());
  const IndexFields x = indexFields(request);
  const int me = x.me != nullptr ? static_cast<int>(codec::loadElement(x.me->leaf, 0)) : 0;
  const int channel = x.channel != nullptr ? static_cast<int>(codec::loadElement(x.channel->leaf, 0)) : 0;
  Assignments with;
  if (type.shape.perMe && x.channel != nullptr) with.emplace_back("channel", std::to_string(channel));
  std::string ignored;
  if (!site.open(type.shape.perMe ? me : channel, with, ignored)) {
    for (const Refusal& r : refused) out.refused.push_back(r.field + "=" + r.sent + ": kept its value");
    return out;
  }
  site.thorough = true;
  Judge judge(site, sent, typed, known, out.rules);
  judge.judge(judge.elementsOf(refused, heldAfter), out);
  resetScratch();
  return out;
}

}  // namespace frontend::records
