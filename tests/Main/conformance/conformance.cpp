// The harness of the record conformance tables (conformance.h): each row through the link, as the
// front end sends it, and through the backup image.
#include "tests/Main/conformance/conformance.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <utility>

#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/link/ring.h"
#include "Tools/lib/records/types.h"

namespace conformance {
namespace {

using testing_support::consoleCount;
using Fields = frontend::Assignments;
using Words = std::map<std::string, u32>;
using Record = std::vector<u8>;

struct Interval {
  long long lo, hi;
};

long long number(const std::string& s) { return std::strtoll(s.c_str(), nullptr, 0); }

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, s.find_last_not_of(' ') + 1 - a);
}

std::vector<std::string> split(const std::string& s, char at) {
  std::vector<std::string> out;
  for (size_t start = 0; start <= s.size();) {
    const size_t end = std::min(s.find(at, start), s.size());
    if (const std::string item = trim(s.substr(start, end - start)); !item.empty()) out.push_back(item);
    start = end + 1;
  }
  return out;
}

// "lo..hi, v, ..."; a leading "N+" adds N to each.
std::vector<Interval> intervals(const std::string& text) {
  std::string list = text;
  long long offset = 0;
  if (const size_t plus = list.find('+'); plus != std::string::npos) {
    offset = number(list.substr(0, plus));
    list = list.substr(plus + 1);
  }
  std::vector<Interval> out;
  for (const std::string& item : split(list, ',')) {
    const size_t dots = item.find("..", 1);
    const long long lo = number(item.substr(0, dots));
    const long long hi = dots == std::string::npos ? lo : number(item.substr(dots + 2));
    out.push_back({lo + offset, hi + offset});
  }
  return out;
}

bool inside(const std::vector<Interval>& set, long long v) {
  return std::any_of(set.begin(), set.end(), [v](const Interval& i) { return i.lo <= v && v <= i.hi; });
}

// "name=value" words (a bare name has an empty value).
std::vector<std::pair<std::string, std::string>> assignments(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& word : split(text, ' ')) {
    const size_t eq = word.find('=');
    out.emplace_back(word.substr(0, eq), eq == std::string::npos ? "" : word.substr(eq + 1));
  }
  return out;
}

// A clause of a row's `more` ("refuse: 65535; on: 0"), empty when it has none.
std::string clause(const Row& row, const std::string& key) {
  for (const std::string& c : split(row.more, ';')) {
    if (c.compare(0, key.size() + 1, key + ":") == 0) return trim(c.substr(key.size() + 1));
  }
  return "";
}

std::string baseName(const std::string& name) {
  return name.back() == ']' ? name.substr(0, name.rfind('[')) : name;
}

// A text of n characters, A..Z over and over.
std::string fullText(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('A' + i % 26);
  return s;
}
std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// One field of a row, with its presence bit.
struct Concrete { std::string name; std::string word; int bit = 0; const Row* row = nullptr; };

// The fields of a row: every one, or (ends) the first and the last of each run of its name.
std::vector<Concrete> expand(const Row& row, bool ends) {
  struct Run { char open; long long lo, hi; };
  std::vector<std::string> literals(1);
  std::vector<Run> runs;
  for (const char* p = row.field; *p != 0; ++p) {
    if (*p != '{' && *p != '[') {
      literals.back() += *p;
      continue;
    }
    const char* close = std::strchr(p, *p == '{' ? '}' : ']');
    const auto span = intervals(std::string(p + 1, close));
    runs.push_back({*p, span[0].lo, span[0].hi});
    literals.emplace_back();
    p = close;
  }
  const std::string presence = row.presence;
  const size_t colon = presence.find(':');
  const auto bits = intervals(presence.substr(colon + 1));
  std::vector<Concrete> out;
  std::vector<long long> at(runs.size());
  std::function<void(size_t)> walk = [&](size_t r) {
    if (r < runs.size()) {
      std::vector<long long> choices;
      for (long long v = runs[r].lo; v <= runs[r].hi; ++v) {
        if (!ends || v == runs[r].lo || v == runs[r].hi) choices.push_back(v);
      }
      for (long long v : choices) at[r] = v, walk(r + 1);
      return;
    }
    Concrete c;
    c.row = &row;
    c.word = presence.substr(0, colon);
    long long element = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
      c.name += literals[i] + (runs[i].open == '[' ? "[" + std::to_string(at[i]) + "]" : std::to_string(at[i]));
      if (runs[i].open == '[') element = at[i];
      if (const size_t slot = c.word.find("{}"); runs[i].open == '{' && slot != std::string::npos) {
        c.word.replace(slot, 2, std::to_string(at[i]));
      }
      if (const size_t slot = c.word.find("[]"); runs[i].open == '[' && slot != std::string::npos) {
        c.word.replace(slot, 2, "[" + std::to_string(at[i]) + "]");
      }
    }
    c.name += literals.back();
    c.bit = static_cast<int>(bits[0].lo + (bits[0].hi > bits[0].lo ? element : 0));
    out.push_back(c);
  };
  walk(0);
  return out;
}

// A record type's fields by name, read and written in records in memory.
class Layout {
 public:
  explicit Layout(const Access& access) : fields_(access.fields()) {
    for (const Field& f : fields_) {
      if (f.isMask) continue;
      byName_.try_emplace(f.name, Entry{&f, nullptr});
      // A text: its count, then its characters "<name>.chars".
      const size_t dot = f.name.rfind(".chars");
      if (dot != std::string::npos && dot + 6 == f.name.size()) {
        if (auto text = byName_.find(f.name.substr(0, dot)); text != byName_.end()) text->second.chars = &f;
      }
      if (f.offset == 4 && f.count == 1 && codec::widthOf(f.kind) <= 2) index_ = &f;
    }
  }

  // The value leaf of a field's base name ("entries", a text's count "name1"); null when none.
  const Field* find(const std::string& base) const {
    auto at = byName_.find(base);
    return at == byName_.end() ? nullptr : at->second.value;
  }
  // The characters a text holds; 0 when the field is no text.
  int textCapacity(const std::string& base) const {
    auto at = byName_.find(base);
    return at == byName_.end() || at->second.chars == nullptr ? 0 : at->second.chars->count - 1;
  }
  const Field* indexField() const { return index_; }

  // A field ("rate", "edges[2]", a text) as the text form writes it: "12", "-5", "\"ABC\"".
  std::string value(const u8* record, const std::string& name) const {
    const std::string base = baseName(name);
    auto at = byName_.find(base);
    if (at == byName_.end()) return "(no field)";
    if (const Field* chars = at->second.chars) {
      const char* text = reinterpret_cast<const char*>(record + chars->offset);
      return quoted(std::string(text, strnlen(text, static_cast<size_t>(chars->count))));
    }
    const Field& f = *at->second.value;
    codec::Leaf leaf = leafOf(f, record);
    if (base != name) leaf.data += number(name.substr(base.size() + 1)) * codec::widthOf(f.kind), leaf.count = 1;
    leaf.mask = nullptr;
    leaf.perElement = false;
    std::string line;
    codec::appendTextLeaf(leaf, line);
    return line.substr(line.find('=') + 1, line.size() - line.find('=') - 2);
  }

  // Sets a field from its text form and its presence bit.
  bool set(u8* record, const std::string& name, const std::string& value) const {
    const std::string base = baseName(name);
    auto at = byName_.find(base);
    if (at == byName_.end()) return false;
    const codec::Leaf leaf = leafOf(*at->second.value, record);
    if (const Field* chars = at->second.chars) {
      if (value.size() + 1 > static_cast<size_t>(chars->count)) return false;
      std::memset(record + chars->offset, 0, static_cast<size_t>(chars->count));
      std::memcpy(record + chars->offset, value.data(), value.size());
      codec::storeElement(leaf, 0, static_cast<u32>(value.size()));
      codec::setPresenceBit(leaf.mask, leaf.bit);
      return true;
    }
    bool found = false;
    return codec::setTextLeaf(leaf, name, value, found) && found;
  }

  // Every presence word: "mask", "group0.mask", "entryMask[1]".
  Words words(const u8* record) const {
    Words out;
    for (const Field& f : fields_) {
      if (!f.isMask) continue;
      const codec::Leaf leaf = leafOf(f, record);
      for (int i = 0; i < f.count; ++i) {
        out[f.count > 1 ? f.name + "[" + std::to_string(i) + "]" : f.name] = codec::loadElement(leaf, i);
      }
    }
    return out;
  }

 private:
  static codec::Leaf leafOf(const Field& f, const u8* record) {
    u8* base = const_cast<u8*>(record);
    u32* mask = f.maskOffset >= 0 ? reinterpret_cast<u32*>(base + f.maskOffset) : nullptr;
    return {"", f.name.c_str(), base + f.offset, f.kind, f.count, mask, f.bit, f.perElement, f.isMask};
  }

  struct Entry {
    const Field* value;
    const Field* chars;  // a text's characters
  };
  std::vector<Field> fields_;
  std::map<std::string, Entry> byName_;
  const Field* index_ = nullptr;
};

class Harness {
 public:
  Harness(const Table& table, testing_support::FrontendPeer& peer, std::function<void()> restart)
      : t_(table), a_(table.access), layout_(table.access), peer_(peer), restart_(std::move(restart)) {
    name_ = category::typeNameOf(a_.type);
    const auto address = split(table.addressing, ' ');
    int channels = 1;
    if (!address.empty()) {
      index_ = address[0];
      count_ = static_cast<int>(intervals(address[1])[0].hi) + 1;
      if (index_ == "channel") channels = count_;
      // "me 0..3 channels 16": per ME, with channels of which the table addresses channel 0.
      if (address.size() > 3 && address[2] == "channels") channels = static_cast<int>(number(address[3]));
    }
    if (address.size() == 4 && address[2] != "channels") {  // "me 0..3 channel 0..3": instance i is channel
      channelField_ = address[2];                                   // i % channels of ME i / channels
      channels_ = static_cast<int>(intervals(address[3])[0].hi) + 1;
      count_ *= channels_;
      channels = channels_;
    }
    frontend::RecordShape shape;
    if (!frontend::recordShape(a_.type, shape)) fail(name_, "no record of this type is built");
    // A per-ME record with channels may also be addressed by channel alone, on ME 0.
    const bool meChannels = shape.perMe && index_ == "channel" && shape.channels == count_;
    if (!meChannels && (shape.perMe != (index_ == "me") || shape.channels != channels)) {
      fail(name_ + " addressing", "the record is " + std::string(shape.perMe ? "per ME" : "single") + " with " +
                                      std::to_string(shape.channels) + " channels");
    }
    for (const Row& row : t_.rows) {
      for (const Concrete& c : expand(row, false)) all_.try_emplace(c.name, c);
      const std::string base = baseName(expand(row, true)[0].name);
      if (layout_.find(base) == nullptr) {
        fail(name_ + " " + row.field, "the record has no such field");
      } else if ((row.kind & TEXT) != 0 && layout_.textCapacity(base) != number(row.values)) {
        fail(name_ + " " + row.field, "holds " + std::to_string(layout_.textCapacity(base)) + " characters");
      }
    }
    for (int i = 0; i < count_; ++i) fresh_.push_back(copy(i));
  }

  void runAll() {
    const std::vector<int> ends = count_ > 1 ? std::vector<int>{0, count_ - 1} : std::vector<int>{0};
    for (int index : ends) emptyRequest(index, index == ends[0]);
    if (count_ > 1) beyondLast();
    for (int index : ends) {
      for (const Row& row : t_.rows) {
        if (!holdsFor(row, index)) continue;
        for (const Concrete& c : expand(row, true)) {
          declared(c, index);
          accept(c, index);
          refuse(c, index);
        }
      }
    }
    for (int low : count_ > 1 ? std::vector<int>{0} : std::vector<int>{0, 1}) restartWhole(low);
    for (int pass = 0; pass < 2; ++pass) damage(pass);
  }

 private:
  struct Answer { bool found = false; Record record; size_t size = 0; };

  std::string where(int index, const std::string& what) const {
    std::string at = index_.empty() ? "" : " " + index_ + " " + std::to_string(channels_ > 1 ? meOf(index) : index);
    if (channels_ > 1) at += " channel " + std::to_string(channelOf(index));
    return name_ + at + ", " + what;
  }
  void fail(const std::string& at, const std::string& problem) {
    if (++failures_ <= 40) ADD_FAILURE() << at << ": " << problem;
  }

  int meOf(int index) const { return index_ == "me" ? index / channels_ : 0; }
  int channelOf(int index) const { return index_ == "channel" ? index : index % channels_; }
  // The fields that address an instance in a request.
  Fields address(int index) const {
    if (channels_ > 1) return {{"me", std::to_string(meOf(index))}, {channelField_, std::to_string(channelOf(index))}};
    return index_.empty() ? Fields{} : Fields{{index_, std::to_string(index)}};
  }
  // Whether a record names this instance.
  bool names(const Record& r, int index) const {
    if (channels_ > 1) {
      return layout_.value(r.data(), "me") == std::to_string(meOf(index)) &&
             layout_.value(r.data(), channelField_) == std::to_string(channelOf(index));
    }
    return index_.empty() || r[4] == index;
  }
  const u8* live(int index) const { return a_.live(meOf(index), channelOf(index)); }
  Record copy(int index) const { return Record(live(index), live(index) + a_.size); }
  std::string stored(int index, const std::string& name) const { return layout_.value(live(index), name); }

  // Delivers a request body; what a status pass of every instance of the type then sends.
  std::vector<testing_support::AckPacket> deliver(const Record& body) {
    peer_.write(linkpeer::packetBytes(a_.type, body));
    category::CategoryRegistry::instance().receiveAll();
    for (int m = 0; m < category::N_ME; ++m) {
      if (auto* cat = category::CategoryRegistry::instance().at(a_.type, m)) cat->sendStatus(AcknowledgeSender::instance());
    }
    AcknowledgeSender::instance().flush();
    return peer_.readPackets();
  }

  // Sends a request body; the answer for the instance is the packet of the type that names it.
  Answer exchange(const Record& body, int index, const std::string& at) {
    Answer a;
    for (const auto& p : deliver(body)) {
      Record r(a_.size);
      if (p.type != a_.type || !a_.decode(p.body, r.data()) || !names(r, index)) continue;
      a = {true, r, p.body.size()};
    }
    if (!a.found) fail(at, "no answer");
    return a;
  }

  // A request for the instance with these fields (each with its presence bit), the others 0.
  Record request(int index, const Fields& fields, const std::string& at) {
    Record r(a_.size);
    for (const auto& [name, value] : fields) {
      if (!layout_.set(r.data(), name, value)) fail(at, "cannot set " + name + "=" + value + " in a request");
    }
    if (channels_ > 1) {
      for (const auto& [name, value] : address(index)) layout_.set(r.data(), name, value);
    } else if (const Field* i = layout_.indexField(); i != nullptr && !index_.empty()) {
      r[i->offset] = static_cast<u8>(index);
    }
    return a_.encode(r.data());
  }

  Answer send(int index, const Fields& f, const std::string& at) { return exchange(request(index, f, at), index, at); }

  // The answer carries exactly the presence bits of these fields.
  void expectBits(const Answer& a, const std::vector<const Concrete*>& carried, const std::string& at) {
    if (!a.found) return;
    const Words words = layout_.words(a.record.data());
    Words want;
    for (const Concrete* c : carried) {
      std::string key = c->word;
      if (words.count(key) == 0) key += "[" + std::to_string(c->bit / 32) + "]";
      if (words.count(key) == 0) {
        fail(at, "the answer has no presence word " + c->word);
        continue;
      }
      want[key] |= 1u << (c->bit % 32);
    }
    std::string wrong;
    for (const auto& [word, bits] : words) {
      const u32 expected = want.count(word) != 0 ? want[word] : 0;
      char b[64];
      std::snprintf(b, sizeof b, "=0x%X (not 0x%X)", bits, expected);
      if (bits != expected) wrong += " " + word + b;
    }
    if (!wrong.empty()) fail(at, "answered with" + wrong);
  }

  void expectValue(const u8* record, const std::string& field, const std::string& want, const std::string& at,
                   const char* what) {
    const std::string got = layout_.value(record, field);
    if (got != want) fail(at, std::string(what) + " " + field + "=" + got + ", not " + want);
  }

  const Concrete* concrete(const std::string& field, const std::string& at) {
    auto found = all_.find(field);
    if (found != all_.end()) return &found->second;
    fail(at, "the table has no row for " + field);
    return nullptr;
  }

  bool holdsFor(const Row& row, int index) const {
    const std::string on = clause(row, "on");
    return on.empty() || inside(intervals(on), channels_ > 1 ? channelOf(index) : index);
  }

  // What the record declares the field takes on the instance (the limits that the back end applies
  // and the front end's tools read) is what the row holds of it.
  void declared(const Concrete& c, int index) {
    const Row& row = *c.row;
    if ((row.kind & (TEXT | TRUTH)) != 0 || !frontend::declaresLimits(a_.type)) return;
    frontend::Assignments with;
    if (channels_ > 1) with.emplace_back("channel", std::to_string(channelOf(index)));
    std::vector<frontend::Interval> takes;
    std::string error;
    if (!frontend::acceptedValues(a_.type, c.name, channels_ > 1 ? meOf(index) : index, with, takes, error)) {
      return fail(where(index, c.name), "no declaration: " + error);
    }
    std::vector<frontend::Interval> want;
    const std::string declares = clause(row, "declared");
    if ((row.kind & NEVER) == 0 || !declares.empty()) {
      for (const Interval& i : intervals(declares.empty() ? row.values : declares)) {
        want.push_back({static_cast<double>(i.lo), static_cast<double>(i.hi)});
      }
    }
    if (takes != want) {
      fail(where(index, c.name), "declared " + frontend::intervalsText(takes) + ", the row holds " + frontend::intervalsText(want));
    }
  }

  // The values to send as taken (each bound of each run), as text.
  std::vector<std::string> bounds(const Row& row) const {
    std::vector<std::string> out;
    if ((row.kind & TEXT) != 0) {
      if ((row.kind & NEVER) == 0) out.push_back("");
      out.push_back(fullText(static_cast<int>(number(row.values))));
      return out;
    }
    for (const Interval& i : intervals(row.values)) {
      out.push_back(std::to_string(i.lo));
      if (i.hi != i.lo) out.push_back(std::to_string(i.hi));
    }
    return out;
  }
  std::string highest(const Row& row) const { return bounds(row).back(); }

  // The values refused: the neighbours of the runs that the field's width holds, then `refuse`.
  std::vector<std::string> refusals(const Concrete& c) const {
    const Row& row = *c.row;
    if ((row.kind & TEXT) != 0) return split(clause(row, "refuse"), '|');
    const Field* f = layout_.find(baseName(c.name));
    if (f == nullptr) return {};
    long long lo = 0, hi = 0;
    codec::kindRange(f->kind, lo, hi);
    const auto taken = intervals(row.values);
    std::vector<long long> candidates;
    for (const Interval& i : taken) candidates.insert(candidates.end(), {i.lo - 1, i.hi + 1});
    if ((row.kind & TRUTH) != 0) candidates.push_back(hi);
    for (const Interval& i : intervals(clause(row, "refuse"))) {
      for (long long v = i.lo; v <= i.hi; ++v) candidates.push_back(v);
    }
    std::vector<std::string> out;
    for (long long v : candidates) {
      const std::string s = std::to_string(v);
      if (lo <= v && v <= hi && !inside(taken, v) && std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
    }
    return out;
  }

  std::string shown(const Row& row, const std::string& v) const { return (row.kind & TEXT) != 0 ? quoted(v) : v; }

  void emptyRequest(int index, bool first) {
    const std::string at = where(index, "an empty request (step 0)");
    std::vector<const Concrete*> kept;
    for (const auto& [name, c] : all_) {
      if (first && (c.row->kind & FIRST_KEPT) != 0) kept.push_back(&c);
    }
    // Built by the front end's own builder, as its tool sends it (which names any channel "channel").
    Fields fields = address(index);
    for (auto& [name, value] : fields) name = name == channelField_ ? "channel" : name;
    frontend::Bytes b;
    std::string error;
    if (!frontend::buildBody(a_.type, fields, b, error)) return fail(at, "the front end builds no body: " + error);
    if (b.size() != t_.wireSize) fail(at, "the front end's body is " + std::to_string(b.size()) + " bytes");
    const Answer a = exchange(b, index, at);
    // A kept text is answered with its characters.
    size_t size = t_.wireSize;
    for (const Concrete* c : kept) size += (c->row->kind & TEXT) != 0 ? stored(index, c->name).size() - 2 : 0;
    if (a.found && a.size != size) fail(at, "answered with " + std::to_string(a.size) + " bytes");
    expectBits(a, kept, at);
  }

  // A request for the instance after the last is dropped.
  void beyondLast() {
    const std::string at = where(count_, "a request beyond the last (step 0)");
    const Record body = request(count_, {}, at);
    if (!deliver(body).empty()) fail(at, "answered");
  }

  // Sends the fields: c is then stored as want (and answered so when `answered`), each of `kept`
  // that has a value is stored as given, and the answer carries exactly the bits of `carried` (and
  // c's when answered).
  void check(const Concrete& c, int index, const Fields& fields, const std::string& want, bool answered,
             const Fields& kept, std::vector<const Concrete*> carried, const std::string& at) {
    const Answer a = send(index, fields, at);
    expectValue(live(index), c.name, want, at, "stored");
    if (answered && a.found) expectValue(a.record.data(), c.name, want, at, "answered");
    for (const auto& [name, value] : kept) {
      if (!value.empty()) expectValue(live(index), name, value, at, "stored");
    }
    if (answered) carried.push_back(&c);
    expectBits(a, carried, at);
  }

  void accept(const Concrete& c, int index) {
    const Row& row = *c.row;
    const std::string top = highest(row);
    for (const std::string& v : bounds(row)) {
      const std::string at = where(index, c.name + "=" + shown(row, v) + " (step 1)");
      const std::string before = stored(index, c.name);
      Fields context = v == top ? assignments(clause(row, "with")) : Fields{};
      for (const auto& word : assignments(clause(row, "beside"))) context.push_back(word);
      Fields fields = {{c.name, v}}, kept = context;
      fields.insert(fields.end(), context.begin(), context.end());
      for (const auto& word : v == top ? assignments(clause(row, "then")) : Fields{}) kept.push_back(word);
      std::vector<const Concrete*> carried;
      for (const auto& list : {kept, assignments(clause(row, "also"))}) {
        for (const auto& [name, value] : list) {
          if (const Concrete* x = concrete(name, at)) carried.push_back(x);
        }
      }
      const bool taken = (row.kind & NEVER) == 0 && !((row.kind & NEW_ONLY) != 0 && before == v);
      const std::string want = !taken ? before : (row.kind & TRUTH) != 0 ? (number(v) != 0 ? "1" : "0") : shown(row, v);
      check(c, index, fields, want, taken, kept, carried, at);
    }
  }

  void refuse(const Concrete& c, int index) {
    const Row& row = *c.row;
    if ((row.kind & NEVER) != 0) return;
    const Concrete* witness = nullptr;
    std::string witnessValue;
    for (const auto& [name, value] : assignments(t_.witnesses)) {
      const Concrete* w = concrete(name, name_ + " witness");
      if (w != nullptr && (w->word != c.word || w->bit != c.bit)) {
        witness = w, witnessValue = value;
        break;
      }
    }
    if (witness == nullptr) return;
    auto values = (row.kind & NEW_ONLY) != 0 ? std::vector<std::string>{stored(index, c.name)} : refusals(c);
    for (const std::string& v : values) {
      const std::string at = where(index, c.name + "=" + shown(row, v) + " beside " + witness->name + " (step 2)");
      Fields fields = {{c.name, v}, {witness->name, witnessValue}};
      for (const auto& word : assignments(clause(row, "beside"))) fields.push_back(word);
      check(c, index, fields, (row.kind & TRUTH) != 0 ? "1" : stored(index, c.name), (row.kind & (ANSWERED | TRUTH)) != 0,
            {{witness->name, witnessValue}}, {witness}, at);
    }
  }

  // Whether the records lie in the backup image (a category may keep them and save other bytes).
  bool inImage() const {
    const u8* image = platform::memory(BACKUP_BUFFER_ADR, BUF_SIZE * 4);
    const u8* record = a_.live(0, 0);
    return image <= record && record < image + BUF_SIZE * 4;
  }

  // The instances whose records lie in the backup image: MEs 0 and 1, every channel.
  std::vector<int> imageIndexes() const {
    std::vector<int> out;
    for (int i = 0; i < (index_ == "me" ? 2 * channels_ : count_); ++i) out.push_back(i);
    return out;
  }

  // Every field of an instance at its highest, or (every other instance; a single one in a second
  // round) at its lowest.
  void restartWhole(int low) {
    for (int index : imageIndexes()) {
      const bool lowest = (index + low) % 2 == 1;
      Fields fields;
      for (const auto& [name, c] : all_) {
        if ((c.row->kind & NEVER) != 0 || !holdsFor(*c.row, index)) continue;
        fields.emplace_back(name, lowest ? bounds(*c.row).front() : highest(*c.row));
      }
      send(index, fields, where(index, std::string("every field at its ") + (lowest ? "lowest" : "highest") + " (step 3)"));
    }
    const auto before = testing_support::backedUp();
    testing_support::consoleClear();
    restart_();
    const std::string changes = frontend::restartChanges(before, testing_support::backedUp());
    if (!changes.empty()) fail(name_ + ", a restart (step 3)", "changed\n" + changes);
    expectClean(name_ + ", a restart (step 3)");
  }

  void expectClean(const std::string& at) {
    for (const char* line : {"is broken", "Assertion failed"}) {
      if (consoleCount(line) != 0) fail(at, "logged " + testing_support::consoleText());
    }
  }

  // Damages every other row that has a refused value (pass 0 the first, pass 1 the second) at its
  // first field in each record of the image, and restarts.
  void damage(int pass) {
    std::set<std::pair<int, std::pair<std::string, int>>> dropped;  // index, word and bit
    std::set<std::pair<int, std::pair<std::string, int>>> lost;     // dropped, and saved unlike the fresh value
    int ordinal = 0;
    for (const Row& row : t_.rows) {
      if ((row.kind & (ANSWERED | NEVER | NEW_ONLY | TRUTH)) != 0 || (ordinal++ % 2) != pass) continue;
      const Concrete c = expand(row, false)[0];
      auto values = refusals(c);
      const auto kept = intervals(clause(row, "image"));
      values.erase(std::remove_if(values.begin(), values.end(),
                                  [&kept](const std::string& v) { return inside(kept, number(v)); }),
                   values.end());
      if (values.empty()) continue;
      for (int index : imageIndexes()) {
        if (!holdsFor(row, index)) continue;
        if (!layout_.set(a_.live(meOf(index), channelOf(index)), c.name, values[0])) {
          fail(where(index, c.name + " (step 4)"), "cannot write " + values[0] + " into the image");
        }
        dropped.insert({index, {c.word, c.bit}});
        if (values[0] != layout_.value(fresh_[index].data(), c.name)) lost.insert({index, {c.word, c.bit}});
        for (const auto& [name, value] : assignments(clause(row, "also"))) {
          if (auto x = all_.find(name); x != all_.end()) dropped.insert({index, {x->second.word, x->second.bit}});
        }
      }
    }
    std::map<int, Record> before;
    for (int index : imageIndexes()) before[index] = copy(index);
    testing_support::consoleClear();
    restart_();
    const std::string at = "a restart with a damaged image (step 4)";
    for (int index : imageIndexes()) {
      for (const auto& [name, c] : all_) {
        if ((c.row->kind & NEVER) != 0 || !holdsFor(*c.row, index)) continue;
        const bool gone = dropped.count({index, {c.word, c.bit}}) != 0;
        const Record& want = gone ? fresh_[index] : before[index];
        expectValue(live(index), name, layout_.value(want.data(), name), where(index, at),
                    gone ? "damaged, resumed as" : "resumed as");
        if (gone && layout_.value(before[index].data(), name) != layout_.value(want.data(), name)) {
          lost.insert({index, {c.word, c.bit}});
        }
      }
    }
    expectClean(name_ + ", " + at);
    // One line for the type counts the saved values lost: each presence bit once, over every instance.
    // Records kept outside the image (in the category) are not saved: their damage is lost anyway.
    if (!inImage()) lost.clear();
    const std::string line = "backup data of " + name_ + ": " + std::to_string(lost.size()) + " fields out of range";
    const int lines = consoleCount("backup data of " + name_ + ":");
    if (lost.empty() ? lines != 0 : lines != 1 || consoleCount(line) != 1) {
      fail(name_ + ", " + at, "expected " + (lost.empty() ? "no line" : "\"" + line + "\"") + ", logged\n" +
                                  testing_support::consoleText());
    }
  }

  const Table& t_;
  const Access& a_;
  Layout layout_;
  testing_support::FrontendPeer& peer_;
  std::function<void()> restart_;
  std::string name_;
  std::string index_;  // "me", "channel" or "" for a record without index
  int count_ = 1;
  int channels_ = 1;  // channels of each ME, for records addressed by ME and channel
  std::string channelField_ = "channel";  // the field that names the channel
  std::map<std::string, Concrete> all_;
  std::vector<Record> fresh_;
  int failures_ = 0;
};

}  // namespace

void ConformanceTest::run(const Table& table) {
  Harness(table, peer, [] { restart(); }).runAll();
}

}  // namespace conformance
