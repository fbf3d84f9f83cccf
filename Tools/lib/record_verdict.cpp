// What became of each field of a request, as the back end's answer shows it, and why: the answer
// is set against what the request carried and against what the operator typed, and every reason is
// the rule that the running back end noted when it took the request, with the values it read to
// decide (linkpeer::RequestNotes). Only the set of values a field takes, for a value refused by its
// own range check, is found by offering values to the back end's categories in this program.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "Lib/Include/memory_map.h"
#include "Main/framework/bp.h"
#include "Main/framework/typenames.h"
#include "Platform/platform.h"
#include "Tools/lib/link_ring.h"
#include "Tools/lib/record_probe.h"
#include "Tools/lib/scratch_system.h"

namespace frontend::records {
namespace {

// The request, as a packet.
Bytes packetOf(const RecordView& request) {
  Bytes body;
  request.write(body);
  return linkpeer::packetBytes(request.type().index, body);
}

// Where element e of a field lies in its record's memory form.
size_t elementAt(const Field& f, int e) { return f.offset + static_cast<size_t>(codec::widthOf(f.leaf.kind)) * static_cast<size_t>(e); }

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

// A rule the back end noted on an element, with the values it read to decide.
struct Decided {
  std::string rule;
  rules::Effect effect;
  std::vector<size_t> inputs;  // indexes of its input notes
};

// ---- The judge --------------------------------------------------------------------------------------

class Judge {
 public:
  Judge(ProbeSite& site, const Bytes& body, const std::set<std::string>& typed, const linkpeer::RequestNotes& notes,
        const Bytes& before, std::vector<std::pair<std::string, std::string>>& named)
      : site_(site), sent_(site.view.type()), typed_(typed), notes_(notes), before_(before), named_(named) {
    sent_.read(body.data(), body.size());
    const IndexFields x = indexFields(sent_);
    me_ = site.view.shape().perMe && x.me != nullptr ? static_cast<int>(codec::loadElement(x.me->leaf, 0)) : 0;
    channel_ = x.channel != nullptr ? static_cast<int>(codec::loadElement(x.channel->leaf, 0)) : 0;
  }

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
          codec::Leaf leaf = f->leaf;
          leaf.data = const_cast<u8*>(heldAfter.data()) + f->offset;
          x.held = codec::loadElement(leaf, e);
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
    std::set<const Field*> doneFields;
    for (const Element& x : elements) {
      if (x.text) {
        (x.typed ? verdict.refused : verdict.notes).push_back(x.name + "=" + x.sentText + ": " + keptOrHeld(x) + reasons(x, false));
        continue;
      }
      if (!x.typed) {
        if (!x.heldText.empty()) verdict.notes.push_back(x.name + " (sent as last backed up: " + x.sentText + "): it holds " + x.heldText + ": " + reasons(x, false));
        continue;
      }
      // An on-air request is answered by the state the layer's transition reached.
      if (const codec::Tag& tag = x.t.field->leaf.tag; tag.role == codec::Role::ON_AIR_REQUEST) {
        verdict.refused.push_back(x.name + "=" + x.sentText + ": " + keptOrHeld(x) + tag.setBy);
        continue;
      }
      const std::vector<Decided> by = decided(x.t);
      if (!by.empty() && std::all_of(by.begin(), by.end(), [](const Decided& d) { return d.effect == rules::Effect::SAME; })) {
        verdict.notes.push_back(x.name + "=" + x.sentText + ": it holds " + x.heldText + ": " + reasons(x, false));
        continue;
      }
      const bool ranges = by.empty() && judgesRanges();
      const Verdict_& v = ranges ? verdictOf(x.t) : noFault_;
      if (v.atFault && x.t.field->leaf.count > 1 && !x.t.field->leaf.perElement && x.heldText.empty()) {
        if (!doneFields.insert(x.t.field).second) continue;
        verdict.refused.push_back(wholeFieldFaults(*x.t.field));
        continue;
      }
      verdict.refused.push_back(refusalText(x, v));
    }
  }

  bool probed() const { return opened_; }

  // "format=10: <the rule>" of each typed element the record keeps but the hardware does not run.
  void notRun(Verdict& verdict) {
    for (size_t i = 0; i < notes_.notes.size(); ++i) {
      const rules::PublishedNote& n = notes_.notes[i];
      if (!ownRule(n) || n.effect != static_cast<u8>(rules::Effect::NOT_RUN)) continue;
      for (const Field* f : sent_.settable()) {
        for (int e = 0; e < f->leaf.count; ++e) {
          if (f->textCapacity > 0 || !covers(n, *f, e) || !typed(*f, e)) continue;
          verdict.notRun.push_back(elementName(*f, e) + "=" + numberText(sent({f, e})) + ": " + notes_.texts[i]);
          named_.emplace_back(elementName(*f, e), notes_.texts[i]);
        }
      }
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

  // ---- The back end's notes ------------------------------------------------------------------------

  // A rule noted on the request's own record instance.
  bool ownRule(const rules::PublishedNote& n) const {
    return n.from == static_cast<u8>(rules::From::RULE) && n.type == site_.view.type().index && (n.me < 0 || n.me == me_ || !site_.view.shape().perMe) &&
           (n.channel < 0 || n.channel == channel_);
  }
  static bool covers(const rules::PublishedNote& n, const Field& f, int e) {
    const size_t at = elementAt(f, e), end = at + static_cast<size_t>(codec::widthOf(f.leaf.kind)) * (f.textCapacity > 0 ? static_cast<size_t>(f.leaf.count) : 1);
    return n.at < end && at < static_cast<size_t>(n.at) + n.size;
  }

  // The rules noted on an element, each with the inputs that follow it.
  std::vector<Decided> decided(const Target& t) const {
    std::vector<Decided> out;
    for (size_t i = 0; i < notes_.notes.size(); ++i) {
      const rules::PublishedNote& n = notes_.notes[i];
      if (!ownRule(n) || !covers(n, *t.field, t.element)) continue;
      if (std::any_of(out.begin(), out.end(), [&](const Decided& d) { return d.rule == notes_.texts[i]; })) continue;
      Decided d{notes_.texts[i], static_cast<rules::Effect>(n.effect), {}};
      bool self = false;  // the rule read the element itself: its own value decided it, by its range
      for (size_t k = i + 1; k < notes_.notes.size() && notes_.notes[k].from != static_cast<u8>(rules::From::RULE); ++k) {
        const rules::PublishedNote& input = notes_.notes[k];
        const bool itself = input.type == n.type && input.me < 0 && input.at == elementAt(*t.field, t.element);
        self = self || itself;
        if (!itself) d.inputs.push_back(k);
      }
      if (self) continue;
      out.push_back(std::move(d));
    }
    return out;
  }

  // "maskBox[0]=5000, sent with it", "MxifXptAssign channel=0 source[7]=150, as the back end held it":
  // an input note as the operator reads it; "" for one no field of its record names.
  std::string inputText(const rules::PublishedNote& n) const {
    const RecordType* rt = recordTypeOf(n.type);
    if (rt == nullptr) return "";
    RecordView record(*rt);
    for (const Field& f : record.fields()) {
      if (f.leaf.isMask || f.textCapacity > 0 || n.at < f.offset || n.at >= elementAt(f, f.leaf.count)) continue;
      const int e = static_cast<int>((n.at - f.offset) / static_cast<size_t>(codec::widthOf(f.leaf.kind)));
      const size_t width = static_cast<size_t>(codec::widthOf(f.leaf.kind));
      std::memcpy(record.bytes() + elementAt(f, e), n.value, std::min<size_t>(width, rules::VALUE_BYTES));
      const bool own = n.type == site_.view.type().index && (n.me < 0 || n.me == me_ || !rt->shape.perMe) && (n.channel < 0 || n.channel == channel_);
      std::string head;
      if (!own) {
        head = std::string(category::typeNameOf(n.type)) + " ";
        if (rt->shape.perMe) head += "me=" + std::to_string(n.me < 0 ? me_ : n.me) + " ";
        if (rt->shape.channels > 1) head += "channel=" + std::to_string(n.channel < 0 ? channel_ : n.channel) + " ";
      }
      const u32 value = codec::loadElement(f.leaf, e);
      head.append(elementName(f, e)).append("=").append(numberText(numberOf(f.leaf.kind, value)));
      // A value of its own record that the request carries as the rule read it is the one sent.
      int ignored = 0;
      const Field* asSent = own ? sent_.find(f.name, ignored) : nullptr;
      const bool sentSo = asSent != nullptr && carries(*asSent, e) && codec::loadElement(asSent->leaf, e) == value;
      return head + (n.from == static_cast<u8>(rules::From::SENT) || sentSo ? ", sent with it" : ", as the back end held it");
    }
    return "";
  }

  // Whether the request sets the presence bit of element e of f (a field of sent_).
  bool carries(const Field& f, int e) const {
    const auto bit = presenceOf(f.leaf, e);
    return bit.first != nullptr && ((*bit.first >> bit.second) & 1u) != 0;
  }

  // "<rule>; decided by <inputs>" of every rule noted on the element, or what is known of why.
  std::string reasons(const Element& x, bool rangeFault) {
    std::string out;
    for (const Decided& d : decided(x.t)) {
      named_.emplace_back(x.name, d.rule);
      std::string by;
      for (size_t i : d.inputs) {
        const std::string input = inputText(notes_.notes[i]);
        if (!input.empty() && by.find(input) == std::string::npos) by += (by.empty() ? "" : " and ") + input;
      }
      out += (out.empty() ? "" : "; ") + d.rule + (by.empty() ? "" : "; decided by " + by);
    }
    return out.empty() && !rangeFault ? whyUnknown() : out;
  }

  // What is said where the back end noted no rule for an element.
  std::string whyUnknown() const {
    switch (notes_.found) {
      case linkpeer::RequestNotes::Found::OtherBuild: {
        char marks[80];
        std::snprintf(marks, sizeof marks, " (mark %08x) than these tools (%08x)", notes_.build, rules::buildMark());
        return std::string("the back end runs another build") + marks + ", so they do not read its reasons";
      }
      case linkpeer::RequestNotes::Found::Unpublished: return "the back end publishes no reasons (the link window holds no notes)";
      case linkpeer::RequestNotes::Found::Lost: return "the back end's reasons for it were overwritten by later requests before they were read";
      default: return "the back end noted no rule for it";
    }
  }
  // Whether the sets a field takes are found here: only for a back end of this build.
  bool judgesRanges() const { return notes_.found != linkpeer::RequestNotes::Found::OtherBuild; }

  // The value of an element in the request.
  double sent(const Target& t) {
    int ignored = 0;
    const Field* f = sent_.find(t.field->name, ignored);
    return numberOf(f->leaf.kind, codec::loadElement(f->leaf, t.element));
  }
  std::string sentText(const Target& t) { return elementName(*t.field, t.element) + "=" + numberText(sent(t)); }

  // ---- The sets a field takes, for a value its own range check refused --------------------------------

  // Whether values can be offered to the instance here: the categories here are set as the backup
  // image before the request held them, once, when a set is first asked for.
  bool probes() {
    if (!opened_) {
      opened_ = true;
      loadScratchImage(before_);
      Assignments with;
      if (site_.view.shape().perMe && indexFields(sent_).channel != nullptr) with.emplace_back("channel", std::to_string(channel_));
      std::string ignored;
      open_ = site_.open(site_.view.shape().perMe ? me_ : channel_, with, ignored);
      site_.thorough = true;
    }
    return open_;
  }

  const std::vector<Interval>& plain(const Target& t) {
    auto at = plain_.find(key(t));
    if (at != plain_.end()) return at->second;
    resetScratch();
    return plain_.emplace(key(t), probeTargets(site_, {t}, false)[0]).first->second;
  }
  const Dependence& dependence(const Target& t) {
    auto at = dependences_.find(key(t));
    if (at != dependences_.end()) return at->second;
    const std::vector<Interval> takes = plain(t);
    resetScratch();
    const auto lookup = [this](const Target& p) { return &plain(p); };
    return dependences_[key(t)] = dependenceOf(site_, t, takes, lookup);
  }

  // What an element takes, with the element it depends on as sent: at fault when that does not hold
  // its value; one that depends on an element at fault goes with that element.
  const Verdict_& verdictOf(const Target& t) {
    if (const auto at = verdicts_.find(key(t)); at != verdicts_.end()) return at->second;
    if (!probes()) return noFault_;
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

  std::string keptOrHeld(const Element& x) const { return x.heldText.empty() ? "kept its value: " : "it holds " + x.heldText + ": "; }

  // A typed element not held as typed.
  std::string refusalText(const Element& x, const Verdict_& v) {
    const std::string head = x.name + "=" + x.sentText + ": ";
    // Kept with an element at fault under its presence bit (the answer may carry the value kept).
    const std::string kept = (x.heldText.empty() ? "kept its value" : "it holds " + x.heldText + ", kept") + " with ";
    if (v.keptWith.field != nullptr) return head + kept + sentText(v.keptWith) + ", which shares its presence bit";
    if (!v.atFault && judgesRanges() && decided(x.t).empty()) {
      for (const Target& p : bitPartners(site_.view, x.t)) {
        if (!verdictOf(p).atFault) continue;
        return head + kept + (typed(*p.field, p.element) ? sentText(p) : faultText(p)) + ", which shares its presence bit";
      }
    }
    std::string out = head + (x.heldText.empty() ? (v.atFault ? "" : "kept its value") : "it holds " + x.heldText);
    if (v.atFault) out += (x.heldText.empty() ? "takes " : " (takes ") + intervalsText(v.takes) + v.with + (x.heldText.empty() ? "" : ")");
    const std::string why = reasons(x, v.atFault);
    if (!why.empty()) out += ": " + why;
    if (v.atFault && x.heldText.empty()) out += "; kept its value";
    return out;
  }

  ProbeSite& site_;
  RecordView sent_;
  std::set<std::string> typed_;
  const linkpeer::RequestNotes& notes_;
  const Bytes& before_;
  bool opened_ = false, open_ = false;
  std::vector<std::pair<std::string, std::string>>& named_;
  int me_ = 0, channel_ = 0;
  std::map<std::pair<const Field*, int>, std::vector<Interval>> plain_;
  std::map<std::pair<const Field*, int>, Dependence> dependences_;
  std::map<std::pair<const Field*, int>, Verdict_> verdicts_;
  const Verdict_ noFault_{};
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
                      const std::vector<Refusal>& refused, const linkpeer::RequestNotes& notes, const Bytes& before,
                      const Bytes& heldAfter) {
  Verdict out;
  ProbeSite site(type);
  Judge judge(site, sent, typed, notes, before, out.rules);
  judge.judge(judge.elementsOf(refused, heldAfter), out);
  judge.notRun(out);
  if (judge.probed()) resetScratch();
  return out;
}

}  // namespace frontend::records
