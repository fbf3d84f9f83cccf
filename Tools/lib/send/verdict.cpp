// What became of each field of a request, as the back end's answer shows it, and why: the answer
// is set against what the request carried and against what the operator typed, and every reason is
// what the running back end noted when it took the request (linkpeer::RequestNotes): the rule that
// decided a field, or the range by which a field's own check refused its value, each with the values
// read to decide.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "Lib/Include/type_names.h"
#include "Tools/lib/link/ring.h"
#include "Tools/lib/records/view.h"

namespace frontend::records {
namespace {

// Where element e of a field lies in its record's memory form.
size_t elementAt(const Field& f, int e) { return f.offset + static_cast<size_t>(codec::widthOf(f.leaf.kind)) * static_cast<size_t>(e); }

// ---- One element of the request ---------------------------------------------------------------------

struct Element {
  Target t;             // in the request
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

// The values an element's own range check takes, as the back end noted them where it refused the
// value, with the values its limits depend on.
struct Takes {
  std::vector<Interval> set;
  std::vector<size_t> inputs;  // indexes of the input notes
};

// ---- The judge --------------------------------------------------------------------------------------

class Judge {
 public:
  Judge(RecordView& sent, const std::set<std::string>& typed, const linkpeer::RequestNotes& notes,
        std::vector<std::pair<std::string, std::string>>& named)
      : sent_(sent), start_(sent.type()), typed_(typed), notes_(notes), named_(named) {
    const RecordType& type = sent.type();
    const IndexFields x = indexFields(sent_);
    me_ = type.shape.perMe && x.me != nullptr ? static_cast<int>(codec::loadElement(x.me->leaf, 0)) : 0;
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
    heldUnread_ = heldAfter.empty();
    std::vector<Element> out;
    for (const Refusal& r : refused) {
      int element = -1;
      const Field* f = sent_.find(r.field, element);
      if (f == nullptr) continue;
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
        x.sent = text ? 0 : codec::loadElement(f->leaf, e);
        if (!r.answered.empty()) {
          x.heldText = text ? r.answered : k < r.answeredValues.size() ? numberText(r.answeredValues[k]) : r.answered;
          if (!text && k < r.answeredValues.size()) x.held = bitsOf(f->leaf.kind, r.answeredValues[k]), x.heldKnown = true;
        } else if (!text && heldAfter.size() >= sent_.shape().size) {
          codec::Leaf leaf = f->leaf;
          leaf.data = const_cast<u8*>(heldAfter.data()) + f->offset;
          x.held = codec::loadElement(leaf, e);
          x.heldKnown = true;
        }
        // An element of a field held otherwise that the record still holds as sent is no matter, but
        // for an on-air request that a rule says changed nothing: the layer runs on to the other state.
        const bool onAir = f->leaf.tag.role == codec::Role::ON_AIR_REQUEST;
        if (!text && x.heldKnown && x.held == x.sent && (!onAir || decided(x.t).empty())) continue;
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
        unexplained_ = unexplained_ || (x.typed && ruleless(x));
        (x.typed ? verdict.refused : verdict.notes).push_back(x.name + "=" + x.sentText + ": " + keptOrHeld(x) + reasons(x));
        continue;
      }
      if (!x.typed) {
        if (!x.heldText.empty()) verdict.notes.push_back(x.name + " (sent as last backed up: " + x.sentText + "): it holds " + x.heldText + ": " + reasons(x));
        continue;
      }
      // An on-air request in range is answered by the state the layer's transition reached, or by the
      // rule that says it changed nothing.
      if (const codec::Tag& tag = x.t.field->leaf.tag; tag.role == codec::Role::ON_AIR_REQUEST && takesOf(x.t).set.empty()) {
        const bool ruled = !decided(x.t).empty();
        verdict.refused.push_back(x.name + "=" + x.sentText + ": " + (ruled ? reasons(x) : keptOrHeld(x) + tag.setBy));
        continue;
      }
      // Refused by its own range: a field taken only whole names each element at fault once.
      if (const Takes takes = takesOf(x.t); !takes.set.empty()) {
        if (x.t.field->leaf.count > 1 && !x.t.field->leaf.perElement && x.heldText.empty()) {
          if (doneFields.insert(x.t.field).second) verdict.refused.push_back(wholeFieldFaults(*x.t.field));
        } else {
          (keptUnseen(x) ? verdict.notKnown : verdict.refused).push_back(rangeText(x, takes));
        }
        continue;
      }
      const std::vector<Decided> by = decided(x.t);
      if (!by.empty() && std::all_of(by.begin(), by.end(), [](const Decided& d) { return d.effect == rules::Effect::SAME; })) {
        const std::string held = !x.heldText.empty() ? x.heldText : x.heldKnown ? numberText(numberOf(x.t.field->leaf.kind, x.held)) : "";
        verdict.notes.push_back(x.name + "=" + x.sentText + ": " + (held.empty() ? "" : "it holds " + held + ": ") + reasons(x));
        continue;
      }
      (keptUnseen(x) && !by.empty() ? verdict.notKnown : verdict.refused).push_back(refusalText(x, by.empty()));
    }
    verdict.unexplained = verdict.unexplained || unexplained_;
  }

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
  // Whether an element that the back end kept at the value it held may hold the value typed, which
  // nothing shows: the answer leaves it out, no image shows the instance, and the value typed is the
  // one the record starts with (a value the back end kept since, which a refusal may keep again).
  bool keptUnseen(const Element& x) const {
    int element = -1;
    const Field* start = start_.find(x.t.field->name, element);
    return heldUnread_ && x.heldText.empty() && start != nullptr && codec::loadElement(start->leaf, x.t.element) == x.sent;
  }

  // ---- The back end's notes ------------------------------------------------------------------------

  // A note of the given kind on the request's own record instance.
  bool own(const rules::PublishedNote& n, rules::From from) const {
    return n.from == static_cast<u8>(from) && n.type == sent_.type().index && (n.me < 0 || n.me == me_ || !sent_.shape().perMe) &&
           (n.channel < 0 || n.channel == channel_);
  }
  bool ownRule(const rules::PublishedNote& n) const { return own(n, rules::From::RULE); }
  static bool covers(const rules::PublishedNote& n, const Field& f, int e) {
    const size_t at = elementAt(f, e), end = at + static_cast<size_t>(codec::widthOf(f.leaf.kind)) * (f.textCapacity > 0 ? static_cast<size_t>(f.leaf.count) : 1);
    return n.at < end && at < static_cast<size_t>(n.at) + n.size;
  }
  static bool leads(const rules::PublishedNote& n) {
    return n.from == static_cast<u8>(rules::From::RULE) || n.from == static_cast<u8>(rules::From::RANGE);
  }
  // The input notes that follow note i: the values its rule or range read.
  std::vector<size_t> inputsOf(size_t i) const {
    std::vector<size_t> out;
    for (size_t k = i + 1; k < notes_.notes.size() && !leads(notes_.notes[k]); ++k) out.push_back(k);
    return out;
  }

  // The rules noted on an element, each with the inputs that follow it.
  std::vector<Decided> decided(const Target& t) const {
    std::vector<Decided> out;
    for (size_t i = 0; i < notes_.notes.size(); ++i) {
      const rules::PublishedNote& n = notes_.notes[i];
      if (!ownRule(n) || !covers(n, *t.field, t.element)) continue;
      if (std::any_of(out.begin(), out.end(), [&](const Decided& d) { return d.rule == notes_.texts[i]; })) continue;
      out.push_back({notes_.texts[i], static_cast<rules::Effect>(n.effect), inputsOf(i)});
    }
    return out;
  }

  // The ranges by which the element's own check refused its value, and the values they depend on.
  Takes takesOf(const Target& t) const {
    Takes out;
    for (size_t i = 0; i < notes_.notes.size(); ++i) {
      const rules::PublishedNote& n = notes_.notes[i];
      if (!own(n, rules::From::RANGE) || !covers(n, *t.field, t.element)) continue;
      s32 lo = 0, hi = 0;
      std::memcpy(&lo, n.value, sizeof lo);
      std::memcpy(&hi, n.value + sizeof lo, sizeof hi);
      if (std::find(out.set.begin(), out.set.end(), Interval{double(lo), double(hi)}) == out.set.end()) out.set.push_back({double(lo), double(hi)});
      for (size_t k : inputsOf(i)) {
        if (std::find(out.inputs.begin(), out.inputs.end(), k) == out.inputs.end()) out.inputs.push_back(k);
      }
    }
    std::sort(out.set.begin(), out.set.end(), [](const Interval& a, const Interval& b) { return a.lo < b.lo; });
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
      std::string head;
      const bool ours = own(n, static_cast<rules::From>(n.from));
      if (!ours) {
        head = std::string(category::typeNameOf(n.type)) + " ";
        if (rt->shape.perMe) head += "me=" + std::to_string(n.me < 0 ? me_ : n.me) + " ";
        if (rt->shape.channels > 1) head += "channel=" + std::to_string(n.channel < 0 ? channel_ : n.channel) + " ";
      }
      head.append(elementName(f, e)).append("=").append(numberText(numberOf(f.leaf.kind, codec::loadElement(f.leaf, e))));
      return head + (ours && n.from == static_cast<u8>(rules::From::SENT) ? sentAs(f.name, e, codec::loadElement(f.leaf, e)) : ", as the back end held it");
    }
    return "";
  }

  // How a value (its bits) that the back end read as sent came: typed by the operator, or filled in by
  // the tool; one that the request does not carry as such was taken by an earlier request whose answer
  // had not gone out yet, and is held.
  std::string sentAs(const std::string& name, int e, u32 bits) const {
    int element = -1;
    const Field* f = sent_.find(name, element);
    const auto [word, bit] = f != nullptr ? presenceOf(f->leaf, e) : std::pair<const u32*, int>{nullptr, 0};
    if (f == nullptr || (word != nullptr && (*word >> bit & 1u) == 0) || codec::loadElement(f->leaf, e) != bits) {
      return ", as the back end held it";
    }
    return typed(*f, e) ? ", sent with it" : ", as last backed up";
  }

  // The inputs as one text: "a=1, sent with it and b=2, as the back end held it".
  std::string inputsText(const std::vector<size_t>& inputs) const {
    std::string out;
    for (size_t i : inputs) {
      const std::string input = inputText(notes_.notes[i]);
      if (!input.empty() && out.find(input) == std::string::npos) out += (out.empty() ? "" : " and ") + input;
    }
    return out;
  }

  // "<rule>; decided by <inputs>" of every rule noted on the element, or what is known of why.
  // refusing: also the rules that refuse it (not where its own range refused it already).
  std::string reasons(const Element& x, bool refusing = true) {
    std::string out;
    for (const Decided& d : decided(x.t)) {
      if (!refusing && d.effect == rules::Effect::REFUSES) continue;
      named_.emplace_back(x.name, d.rule);
      const std::string by = inputsText(d.inputs);
      out += (out.empty() ? "" : "; ") + d.rule + (by.empty() ? "" : "; decided by " + by);
    }
    return out.empty() ? whyUnknown() : out;
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

  // The value of an element in the request.
  double sent(const Target& t) const { return numberOf(t.field->leaf.kind, codec::loadElement(t.field->leaf, t.element)); }
  std::string sentText(const Target& t) const { return elementName(*t.field, t.element) + "=" + numberText(sent(t)); }

  // "takes 0..15 with patternKind=2, sent with it": the values an element's check takes.
  std::string takesText(const Takes& takes) const {
    const std::string with = inputsText(takes.inputs);
    return "takes " + intervalsText(takes.set) + (with.empty() ? "" : " with " + with);
  }

  // "window[2]=-1: takes 0..10000; window kept its value" for every element of a field at fault,
  // those typed first.
  std::string wholeFieldFaults(const Field& f) {
    std::string out;
    for (const bool typedOnes : {true, false}) {
      for (int e = 0; e < f.leaf.count; ++e) {
        if (typed(f, e) == typedOnes && !takesOf({&f, e}).set.empty()) out += faultText({&f, e}) + "; ";
      }
    }
    return out + f.name + " kept its value";
  }

  // "window[2]=-1: takes 0..10000", of an element at fault; one the tool filled in says so.
  std::string faultText(const Target& t) const {
    return sentText(t) + (typed(*t.field, t.element) ? "" : " (sent as last backed up)") + ": " + takesText(takesOf(t));
  }

  std::string keptOrHeld(const Element& x) const { return x.heldText.empty() ? "kept its value: " : "it holds " + x.heldText + ": "; }

  // A typed element refused by its own range; one the answer carries with another value names the
  // rules that decided that value too.
  std::string rangeText(const Element& x, const Takes& takes) {
    const std::string head = x.name + "=" + x.sentText + ": ";
    if (x.heldText.empty()) return head + takesText(takes) + "; kept its value";
    const std::vector<Decided> by = decided(x.t);
    const bool moved = std::any_of(by.begin(), by.end(), [](const Decided& d) { return d.effect != rules::Effect::REFUSES; });
    return head + "it holds " + x.heldText + " (" + takesText(takes) + ")" + (moved ? ": " + reasons(x, false) : "");
  }

  // A typed element not held as typed, by the rules noted on it or, where none (alone), with an
  // element at fault under its presence bit (the answer may carry the value kept).
  std::string refusalText(const Element& x, bool alone) {
    const std::string head = x.name + "=" + x.sentText + ": ";
    if (alone) {
      for (const Target& p : bitPartners(sent_, x.t)) {
        if (takesOf(p).set.empty()) continue;
        return head + (x.heldText.empty() ? "kept its value" : "it holds " + x.heldText + ", kept") + " with " +
               (typed(*p.field, p.element) ? sentText(p) : faultText(p)) + ", which shares its presence bit";
      }
    }
    unexplained_ = unexplained_ || ruleless(x);
    return head + keptOrHeld(x) + reasons(x);
  }

  // Whether the answer holds the element otherwise though the back end, whose notes of the request
  // were read, noted no rule for it: no answer of its own does.
  bool ruleless(const Element& x) const {
    using Found = linkpeer::RequestNotes::Found;
    return !x.heldText.empty() && decided(x.t).empty() && (notes_.found == Found::Notes || notes_.found == Found::None);
  }
  bool unexplained_ = false;

  RecordView& sent_;
  RecordView start_;    // the record as it starts
  bool heldUnread_ = false;  // no image gave what the instance holds after the request
  const std::set<std::string>& typed_;
  const linkpeer::RequestNotes& notes_;
  std::vector<std::pair<std::string, std::string>>& named_;
  int me_ = 0, channel_ = 0;
};

}  // namespace

Verdict judgeAnswerOf(RecordView& sent, const std::set<std::string>& typed, const std::vector<Refusal>& refused,
                      const linkpeer::RequestNotes& notes, const Bytes& heldAfter) {
  Verdict out;
  Judge judge(sent, typed, notes, out.rules);
  judge.judge(judge.elementsOf(refused, heldAfter), out);
  judge.notRun(out);
  return out;
}

}  // namespace frontend::records
