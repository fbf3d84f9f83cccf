// The field list of a record type: each field a front end sets with what the back end's checks take
// for it, instance by instance, the names of its values and the rules that decide it.
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
#include "Lib/Include/type_names.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/link/ring.h"
#include "Tools/lib/records/types.h"
#include "Tools/lib/records/view.h"

namespace frontend::records {

namespace {


// The bus entries' roles and the crosspoint codes, from the constants the bus and lamp code uses.
std::string busEntriesNote() {
  namespace B = buses;
  constexpr int keys = MxifKey::N_CHANNELS, dsks = MxifDsk::N_CHANNELS;
  auto plus = [](int base, const char* term) { return base == 0 ? std::string(term) : std::to_string(base) + " + " + term; };
  auto pairs = [&](int first, int n, const std::string& what) {
    return std::to_string(first) + ".." + std::to_string(first + 2 * n - 1) + " " + what + "s 1.." + std::to_string(n) +
           ", " + what + " k's fill " + plus(first - 2, "2k") + " and source " + plus(first - 1, "2k");
  };
  const int background = B::KEY_FILL_ENTRY - 2;
  const int aux = B::FIRST_DSK_ENTRY + 2 * dsks;
  return "entries " + std::to_string(background) + ", " + std::to_string(background + 1) + " background A and B; " +
         pairs(B::KEY_FILL_ENTRY, keys, "key") + "; " + pairs(B::FIRST_DSK_ENTRY, dsks, "DSK") + "; " +
         std::to_string(aux) + ".. AUX buses, AUX n at " + plus(aux - 1, "n") + " (AUX 1.." + std::to_string(B::N_AUX_MIX) +
         " mix). A code is panel x 256 + button (0.." + std::to_string(B::N_PANELS * 256 - 1) +
         "; the button's source is in MxifXptAssign) or " + std::to_string(B::DIRECT) + " + source; " +
         std::to_string(B::DIRECT + B::SOURCE_COLOR_BACKGROUND) + " and " +
         std::to_string(B::DIRECT + B::SOURCE_COLOR_BACKGROUND + 1) + " are the colour backgrounds 1 and 2, " +
         std::to_string(B::DIRECT + B::SOURCE_BARS) + " colour bars, " + std::to_string(B::REPLACEMENT_CODE) +
         " black, which replaces a code that an entry does not take";
}
std::string keyTypeNote() {
  return std::to_string(KeyStyle::CHROMA_KEY_TYPE) +
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

// The names of a field's values, and the rules that its record declares with it.
std::string noteOf(int type, const Field& field, const Declared& declared) {
  std::string out;
  for (const FieldNote& n : FIELD_NOTES) {
    if (n.type == type && field.name == n.field) out = n.text();
  }
  for (const rules::Rule* r : declared.rulesOf(field)) out += (out.empty() ? "" : "; ") + ("rule: " + std::string(r->text));
  return out;
}

// What an element takes on an instance as its record declares it: its runs, or, for a range computed
// from another element's value, a line for each set with the values that give it ("with
// patternKind=0: 0..14, 16, 23"). A start value outside what it takes is said (and startsOutside set).
std::string declaredText(const Declared& declared, const Target& target, limits::Inputs at, RecordView& view,
                         bool& startsOutside) {
  const std::vector<Target> inputs = declared.inputs(target);
  auto startOf = [&](const Target& t) {
    return numberOf(t.field->leaf.kind, codec::loadElement(t.field->leaf, t.element));
  };
  for (size_t i = 0; i < inputs.size(); ++i) at.value[i] = static_cast<s64>(startOf(inputs[i]));
  if (const Dependence d = declared.dependence(target, at); d.on.field != nullptr) return dependenceText(d);
  const std::vector<Interval> takes = declared.takes(target, at);
  std::string text = intervalsText(takes);
  // A start value that no request can set, as a field that a front end must set first.
  const double start = startOf(target);
  if (!takes.empty() &&
      std::none_of(takes.begin(), takes.end(), [&](const Interval& v) { return v.lo <= start && start <= v.hi; })) {
    text += " (" + numberText(start) + " at start)";
    startsOutside = true;
  }
  (void)view;
  return text;
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
  if (type.start != nullptr) type.start(view.bytes());
  const IndexFields indexes = indexFields(view);
  const bool channels = shape.perMe ? indexes.channel != nullptr : shape.channels > 1;
  std::vector<Instance> instances;
  for (int m = 0; m < (shape.perMe ? category::N_ME : 1); ++m) {
    for (int c = 0; c < (channels ? shape.channels : 1); ++c) instances.push_back({m, c});
  }
  // What each element takes, instance by instance ("" where no category keeps the instance).
  std::map<std::pair<std::string, int>, std::vector<std::string>> taken;
  bool startsOutside = false;
  const Declared declared(view);
  if (declared.any()) {
    for (size_t i = 0; i < instances.size(); ++i) {
      const limits::Inputs at{instances[i].me, instances[i].channel, {}};
      for (const Field* f : view.settable()) {
        if (f == indexes.me || f == indexes.channel) continue;
        if (f->textCapacity > 0) {
          if (!declared.refusesAll(*f)) continue;
          auto& texts = taken[{f->name, 0}];
          texts.resize(instances.size());
          texts[i] = "none";
          continue;
        }
        for (int e = 0; e < f->leaf.count; ++e) {
          const Target target{f, e};
          if (statusSetter(*f, e) != nullptr) continue;
          auto& texts = taken[{f->name, e}];
          texts.resize(instances.size());
          texts[i] = declaredText(declared, target, at, view, startsOutside);
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
      if (const char* setBy = statusSetter(*f, e)) {
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
    lines.back().note = noteOf(TYPE, *f, declared);
    if (command && f->leaf.tag.role != codec::Role::REPLY) {
      const std::string none = unansweredValues(type, *f);
      if (!none.empty()) lines.back().note += (lines.back().note.empty() ? "" : "; ") + none;
    }
  }
  std::string out = std::string(category::typeNameOf(TYPE)) + ": type " + std::to_string(TYPE);
  if (shape.perMe) out += ", a record per ME (me=0.." + std::to_string(category::N_ME - 1) + ")";
  if (shape.channels > 1) {
    out += ", " + std::to_string(shape.channels) + " channels (channel=0.." + std::to_string(shape.channels - 1) + ")";
  }
  if (command && !declared.any()) {
    out += "; a command keeps no record to read back: the ranges are the fields' widths";
  } else if (!declared.any()) {
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
