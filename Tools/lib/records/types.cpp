#include "Tools/lib/records/types.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>
#include <type_traits>
#include <utility>

#include "Lib/Include/codec.h"
#include "Lib/Include/data_internal.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/records/transstatus.h"
#include "Lib/Include/type_names.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/link/ring.h"
#include "Tools/lib/records/view.h"

// Records live at the top level or in namespace internal. Declaring every name in both places lets
// the table below pick whichever of them the headers define; a name left incomplete is a type whose
// record this program is not built with.
#define MX_DECLARE(index, constant, name) struct name;
MX_LINK_TYPES(MX_DECLARE)
namespace internal {
MX_LINK_TYPES(MX_DECLARE)
}
#undef MX_DECLARE

namespace frontend {
using namespace records;
namespace {

// ---- The record types built here --------------------------------------------------------------------
// Of each type only what needs the type itself (RecordType) is made here; the rest of the library
// works on its records' bytes through their field lists.

template <class T, class = void>
constexpr bool isComplete = false;
template <class T>
constexpr bool isComplete<T, std::void_t<decltype(sizeof(T))>> = true;

template <class A, class B>
using Defined = std::conditional_t<isComplete<A>, A, std::conditional_t<isComplete<B>, B, void>>;

template <class T>
void makeRecord(u8* record) {
  new (record) T{};
}

template <class T>
void walkRecord(u8* record, codec::LeafSink& sink) {
  codec::walk(*std::launder(reinterpret_cast<T*>(record)), sink);
}

template <class T>
void walkLimits(u8* record, limits::LimitSink& sink) {
  limits::walk(*std::launder(reinterpret_cast<T*>(record)), sink);
}

template <class T>
void startRecord(u8* record) {
  T::atStart(*std::launder(reinterpret_cast<T*>(record)));
}
template <class T>
constexpr auto startOf() {
  void (*start)(u8*) = nullptr;
  if constexpr (requires(T& r) { T::atStart(r); }) start = &startRecord<T>;
  return start;
}

template <class T>
size_t noAnswerOffset() {
  const T r{};
  return static_cast<size_t>(reinterpret_cast<const u8*>(&(r.*T::NO_ANSWER_OUTSIDE)) - reinterpret_cast<const u8*>(&r));
}
template <class T>
constexpr auto noAnswerOf() {
  size_t (*at)() = nullptr;
  if constexpr (requires { T::NO_ANSWER_OUTSIDE; }) at = &noAnswerOffset<T>;
  return at;
}

// The sub-records in a record's field list that are records of a type of their own ("bkgd[3]" of
// the background wipe memory holds a background record), with that type.
struct MirrorFinder {
  std::vector<std::pair<std::string, int>> found;
  template <class M>
  void mask(const char*, M&) {}
  template <class X>
  void field(const char*, X&) {}
  template <class X, class M>
  void field(const char*, X&, M&, int) {}
  template <class X, class M>
  void each(const char*, X&, M&, int) {}
  template <class S>
  void sub(const char* name, S&) {
    if constexpr (requires { S::TYPE_INDEX; }) found.emplace_back(name, S::TYPE_INDEX);
  }
};

template <class T>
std::vector<std::pair<std::string, int>> mirrorsOf() {
  MirrorFinder mirrors;
  T r{};
  T::fields(mirrors, r);
  return mirrors.found;
}

template <class T>
constexpr bool isPerMe() {
  if constexpr (requires { T::PER_ME; }) return T::PER_ME;
  return false;
}
template <class T>
constexpr int channelsOf() {
  if constexpr (requires { T::N_CHANNELS; }) return T::N_CHANNELS;
  return 1;
}

template <class T, int TYPE>
constexpr RecordType recordTypeOf() {
  if constexpr (std::is_void_v<T>) {
    return {};
  } else {
    static_assert(T::TYPE_INDEX == TYPE, "a record structure has its type's name");
    // The fields that name a record's instance are declared in its field list (codec::meField,
    // codec::channelField): one ME field in a record kept per ME, one channel field in a record
    // with several channels, none otherwise.
    static_assert(codec::instanceFields<T>(codec::Instance::ME) == (isPerMe<T>() ? 1 : 0));
    static_assert(codec::instanceFields<T>(codec::Instance::CHANNEL) == (channelsOf<T>() > 1 ? 1 : 0));
    return {TYPE,          {sizeof(T), isPerMe<T>(), channelsOf<T>()}, &makeRecord<T>, &walkRecord<T>, &mirrorsOf<T>,
            limits::declares<T>() ? &walkLimits<T> : nullptr, startOf<T>(), noAnswerOf<T>()};
  }
}

#define MX_RECORD_TYPE(index, constant, name) recordTypeOf<Defined<::name, ::internal::name>, index>(),
constexpr RecordType RECORD_TYPES[] = {MX_LINK_TYPES(MX_RECORD_TYPE)};
#undef MX_RECORD_TYPE
static_assert(sizeof RECORD_TYPES / sizeof RECORD_TYPES[0] == category::N_TYPES);

// The type's record; null for a type whose record is not built here.
const RecordType* recordTypeAt(int type) {
  if (type < 0 || type >= category::N_TYPES || RECORD_TYPES[type].make == nullptr) return nullptr;
  return &RECORD_TYPES[type];
}

// ---- Requests -------------------------------------------------------------------------------------

// The items of a value: one, or a list's, split at its commas.
std::vector<std::string> itemsOf(const std::string& value, bool list) {
  std::vector<std::string> items;
  for (size_t start = 0;;) {
    const size_t comma = list ? value.find(',', start) : std::string::npos;
    items.push_back(value.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

// The whole number that the assignments give element `element` of a field (the last that gives
// it, as an element or a list's item); false when none does.
bool givenNumber(const RecordView& view, const Assignments& fields, const std::string& field, int element, double& value) {
  bool given = false;
  for (const auto& [name, text] : fields) {
    int e = -1;
    const Field* f = view.find(name, e);
    if (f == nullptr || f->name != field || (e >= 0 && e != element)) continue;
    const std::vector<std::string> items = itemsOf(text, e < 0);
    long long v = 0;
    const size_t at = e < 0 ? static_cast<size_t>(element) : 0;
    if (at < items.size() && cli::parseWhole(items[at], v)) value = static_cast<double>(v), given = true;
  }
  return given;
}

// Why a value cannot be set into the field (element -1: the whole field, comma-separated). takes:
// what the back end's checks take for an element, named for a number beyond what the field holds.
std::string valueProblem(const Field& f, int element, const std::string& value,
                         const std::function<std::string(int element)>& takes) {
  if (std::string chars, why; f.textCapacity > 0) {
    // The record holds bytes: a character beyond ASCII takes more than one.
    return textOfWord(value, chars, why) ? std::to_string(chars.size()) + " bytes, more than the " +
                                               std::to_string(f.textCapacity) + " it holds"
                                         : why;
  }
  const int count = f.leaf.count;
  if (element >= count) return "no element " + std::to_string(element) + " (0.." + std::to_string(count - 1) + ")";
  const std::vector<std::string> items = itemsOf(value, element < 0);
  if (static_cast<int>(items.size()) > count) {
    return count == 1 ? "takes a single value" : "takes at most " + std::to_string(count) + " values";
  }
  long long lo = 0, hi = 0;
  codec::kindRange(f.leaf.kind, lo, hi);
  const bool real = f.leaf.kind == codec::Kind::F32;
  for (size_t k = 0; k < items.size(); ++k) {
    long long v = 0;
    double x = 0;
    if (items[k].empty()) return items.size() > 1 ? "its element " + std::to_string(k) + " is empty" : "no value given";
    const std::string what = items.size() > 1 ? items[k] + " is " : "";
    if (real ? !cli::parseDecimal(items[k], x) : !cli::parseWhole(items[k], v)) {
      return what + (real ? "not a decimal number" : "not a whole decimal number");
    }
    if (!real && (v < lo || v > hi)) return what + "out of range: " + takes(element >= 0 ? element : static_cast<int>(k));
  }
  return "not accepted";
}

std::string joinNames(const std::vector<const Field*>& fields) {
  std::string out;
  for (const Field* f : fields) out += (out.empty() ? "" : ", ") + f->name;
  return out;
}

// The elements under one presence bit (an array without a bit per element, or fields that share one)
// of which a request gives some but not all: the back end takes them all, so the others go with the
// values the instance holds (Request::fill). given: the elements given, by field. Of the first such
// bit, the elements given and left, and the words that give them all, for a fill that cannot be made.
void missingElements(Request::Parsed& p, const std::map<const Field*, std::vector<char>>& given) {
  // Texts are left out: none shares its bit.
  std::map<std::pair<const u32*, int>, std::vector<const Field*>> groups;
  for (const Field* f : p.view.settable()) {
    if (f->leaf.mask == nullptr || f->leaf.perElement || f->textCapacity > 0) continue;
    groups[presenceOf(f->leaf, 0)].push_back(f);
  }
  for (const auto& [word, members] : groups) {
    std::vector<Target> missing;
    std::string asked, left, whole;
    for (const Field* f : members) {
      const auto at = given.find(f);
      const int count = f->leaf.count;
      for (int e = 0; e < count; ++e) {
        const std::string name = elementName(*f, e);
        if (at != given.end() && at->second[e]) {
          asked += (asked.empty() ? "" : ", ") + name;
        } else {
          left += (left.empty() ? "" : ", ") + name;
          missing.push_back({f, e});
        }
      }
      whole += " " + f->name + "=";
      for (int e = 0; e < count; ++e) whole += (e == 0 ? "v" : ",v") + (count > 1 ? std::to_string(e + 1) : "");
    }
    if (asked.empty() || missing.empty()) continue;
    if (p.missing.empty()) {
      const bool several = asked.find(',') != std::string::npos;
      p.unfilled = std::string(category::typeNameOf(p.type.index)) + ": " + asked + (several ? " share" : " shares") +
                   " one presence bit with " + left + ", which the back end then takes too, and their values are not known (";
      p.giveAll = "): give them all:" + whole;
    }
    p.missing.insert(p.missing.end(), missing.begin(), missing.end());
  }
}

// Why a record of the type takes no me= (it is not kept per ME) or channel= (it has one channel).
std::string instancesProblem(const RecordType& type, const std::string& index) {
  const RecordShape& shape = type.shape;
  const std::string name = category::typeNameOf(type.index);
  const std::string me = "me=0.." + std::to_string(category::N_ME - 1);
  const std::string channels = "channel=0.." + std::to_string(shape.channels - 1);
  if (index == "me") {
    return name + " is not kept per ME: " + (shape.channels > 1 ? "its channels (" + channels + ")" : "one record") +
           " serve" + (shape.channels > 1 ? "" : "s") + " every ME; leave me= out";
  }
  return name + " has one channel" + (shape.perMe ? ", a record per ME (" + me + ")" : "") + "; leave channel= out";
}

// Parses the assignments into the record of the request (p, made for the type); false with a usage
// error. context->current serves the values a usage error names, as the instance holds them.
bool parseRecord(const Assignments& fields, Request::Parsed& p, std::string& error, RequestContext* context) {
  const RecordType& type = p.type;
  RecordView& view = p.view;
  const std::string typeName = category::typeNameOf(type.index);
  const IndexFields& indexes = p.indexes;
  // The word that gave each element (an index field's too), so that none is given twice.
  std::map<std::pair<const Field*, int>, std::string> givenBy;
  const auto giveOnce = [&](const Field* f, int element, const std::string& word, const std::string& what) {
    const auto [at, first] = givenBy.emplace(std::pair(f, element), word);
    if (!first) error = typeName + ": " + cli::givenTwice(at->second, word, what);
    return first;
  };
  // The instance first, wherever its words stand: a value's problem may depend on it.
  bool meGiven = false, channelGiven = false;
  for (const auto& [name, value] : fields) {
    const bool isMe = indexes.me != nullptr && name == "me";
    if (!isMe && (indexes.channel == nullptr || name != "channel")) continue;
    if (!giveOnce(isMe ? indexes.me : indexes.channel, 0, name + "=" + value, name)) return false;
    const long limit = isMe ? category::N_ME : type.shape.channels;
    long v = 0;
    if (!cli::parseNumber(value, 0, limit - 1, v)) {
      error = typeName + ": " + name + "=" + value + ": out of range 0.." + std::to_string(limit - 1);
      return false;
    }
    codec::storeElement((isMe ? indexes.me : indexes.channel)->leaf, 0, static_cast<u32>(v));
    (isMe ? meGiven : channelGiven) = true;
  }
  const auto instanceOf = [&](const Field* f) { return f != nullptr ? static_cast<int>(codec::loadElement(f->leaf, 0)) : 0; };
  // The value that the request gives an element, else the one the instance holds now.
  const ValueOf valueOf = [&](const std::string& field, int element, double& value, std::string& as) {
    if (givenNumber(view, fields, field, element, value)) return as.clear(), true;
    Bytes held;
    std::string why;
    if (context == nullptr || !context->current || !context->current(instanceOf(indexes.me), instanceOf(indexes.channel), held, why) ||
        held.size() < type.shape.size) {
      return false;
    }
    RecordView record(type, held.data());
    int unused = 0;
    const Field* f = record.find(field, unused);
    value = numberOf(f->leaf.kind, codec::loadElement(f->leaf, element));
    as = " as last backed up";
    return true;
  };
  // What an element takes on this instance, as the field list gives it, with the values that the
  // request goes with.
  const auto takes = [&](const Field& f, int element) {
    ElementTakes values;
    std::string unused;
    const Assignments with = type.shape.perMe && indexes.channel != nullptr
                                 ? Assignments{{"channel", std::to_string(instanceOf(indexes.channel))}}
                                 : Assignments{};
    if (!declaredTakes(type, elementName(f, element), instanceOf(type.shape.perMe ? indexes.me : indexes.channel), with,
                     valueOf, values, unused)) {
      return "the field holds " + rangeText(f);
    }
    return elementName(f, element) + " takes" +
           (values.each.empty() ? " " + intervalsText(values.takes) + values.with : ", " + values.each);
  };
  std::map<const Field*, std::vector<char>> given;
  for (const auto& [name, value] : fields) {
    if ((indexes.me != nullptr && name == "me") || (indexes.channel != nullptr && name == "channel")) continue;
    int element = -1;
    const Field* f = view.find(name, element);
    if (f == nullptr && (name == "me" || name == "channel")) {
      error = instancesProblem(type, name);
      return false;
    }
    const size_t open = name.find('[');
    int whole = -1;
    if (const Field* array = f == nullptr && open != std::string::npos ? view.find(name.substr(0, open), whole) : nullptr;
        array != nullptr && array->textCapacity == 0 && array->leaf.count > 1 && name.back() == ']') {
      // An array's element by an index it has not (negative, or no number).
      error = typeName + ": " + name + ": no element " + name.substr(open + 1, name.size() - open - 2) + " (0.." +
              std::to_string(array->leaf.count - 1) + ")";
      return false;
    }
    if (f == nullptr || f == indexes.me || f == indexes.channel) {
      // The nearest field names to the one given, an element's index left aside.
      std::vector<std::string> names;
      for (const Field* settable : view.settable()) names.emplace_back(settable->name);
      error = typeName + " has no field " + name + cli::nearestNote(name.substr(0, name.find('[')), names) +
              "; its fields: " + joinNames(view.settable());
      return false;
    }
    if (const char* setBy = statusSetter(*f, element); setBy != nullptr && context != nullptr &&
                                                                         context->refuseStatus) {
      error = typeName + ": " + name + " is status: the back end sets it from " + setBy + ", not from a request";
      return false;
    }
    const bool ok = f->textCapacity > 0 ? view.setText(name, value) : view.setValue(name, value);
    if (!ok) {
      error = typeName + ": " + name + "=" + value + ": " +
              valueProblem(*f, element, value, [&](int e) { return takes(*f, e); });
      return false;
    }
    // A list sets the elements from the first, as many as it has.
    const int listed = element >= 0 || f->textCapacity > 0 ? f->leaf.count
                                                            : static_cast<int>(std::count(value.begin(), value.end(), ',')) + 1;
    std::vector<char>& elements = given[f];
    elements.resize(static_cast<size_t>(f->leaf.count));
    // A text is given whole.
    if (f->textCapacity > 0 && !giveOnce(f, 0, name + "=" + value, f->name)) return false;
    for (int e = 0; e < f->leaf.count; ++e) {
      if (!(element < 0 ? e < listed : element == e)) continue;
      if (f->textCapacity == 0 && !giveOnce(f, e, name + "=" + value, elementName(*f, e))) return false;
      elements[e] = 1;
    }
  }
  for (const auto& [f, elements] : given) {
    for (int e = 0; e < f->leaf.count; ++e) {
      if (elements[static_cast<size_t>(e)]) p.typed.insert(f->textCapacity > 0 ? f->name : elementName(*f, e));
    }
  }
  missingElements(p, given);
  if (indexes.me != nullptr && !meGiven) p.defaulted += " me=0";
  if (indexes.channel != nullptr && !channelGiven) p.defaulted += " channel=0";
  if (!p.defaulted.empty()) p.defaulted.erase(0, 1);
  p.me = instanceOf(indexes.me);
  p.channel = instanceOf(indexes.channel);
  p.instance = typeName + indexText(indexes);
  return true;
}

// ---- The text form ----------------------------------------------------------------------------------

std::string hexText(const u8* body, size_t size) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(b, sizeof b, " %02x", body[i]);
    out += b;
  }
  return out;
}

std::string unknownText(int type, const u8* body, size_t size, const char* note) {
  const char* name = category::typeNameOf(type);
  std::string out = *name ? name : "type=" + std::to_string(type);
  return out + " (" + std::to_string(size) + " bytes" + note + ")" + hexText(body, size);
}

std::vector<FieldInfo> settableOf(const RecordType& type) {
  RecordView view(type);
  const IndexFields indexes = indexFields(view);
  std::vector<FieldInfo> out;
  for (const Field* f : view.settable()) {
    if (f != indexes.me && f != indexes.channel) out.push_back({f->name, f->leaf.count, f->textCapacity, f->leaf.kind, f->leaf.tag.role});
  }
  return out;
}

// The type name, the indexes of records that have them, then the carried fields.
std::string recordText(RecordView& view) {
  const IndexFields indexes = indexFields(view);
  return category::typeNameOf(view.type().index) + indexText(indexes) + view.text(indexes.me, indexes.channel);
}

std::string describeRecord(const RecordType& type, const u8* body, size_t size) {
  RecordView view(type);
  if (!view.read(body, size)) return unknownText(type.index, body, size, ", short");
  return recordText(view);
}

// A record as the back end keeps it: every field, whatever its presence bit says.
std::string describeStoredRecord(const RecordType& type, const u8* record, int me, int channel) {
  RecordView view(type, record);
  setAllPresence(type, view.bytes());
  const IndexFields indexes = indexFields(view);
  if (indexes.me != nullptr) codec::storeElement(indexes.me->leaf, 0, static_cast<u32>(me));
  if (indexes.channel != nullptr) codec::storeElement(indexes.channel->leaf, 0, static_cast<u32>(channel));
  return recordText(view);
}

// The value of one element (or of the whole field, element -1) as the text form writes it.
std::string valueText(const Field& f, const RecordView& view, int element) {
  if (f.textCapacity > 0) return view.textValue(f);
  codec::Leaf leaf = f.leaf;
  leaf.mask = nullptr;
  leaf.perElement = false;
  if (element >= 0) leaf.data += element * codec::widthOf(leaf.kind), leaf.count = 1;
  std::string line;
  codec::appendTextLeaf(leaf, line);
  return line.substr(line.find('=') + 1, line.size() - line.find('=') - 2);
}

// The elements that a presence bit of a field covers: element `element`, or all of them (-1).
std::pair<int, int> coveredElements(const Field& f, int element) {
  return element >= 0 ? std::pair(element, element + 1) : std::pair(0, f.textCapacity > 0 ? 1 : f.leaf.count);
}

// Whether two records hold the field (of the same place in their field lists) alike, element by
// element; a text by its count and characters. chars, chars2: the text's characters.
bool sameElements(const Field& f, const Field& g, int element, const Field* chars, const Field* chars2) {
  const auto [from, to] = coveredElements(f, element);
  for (int e = from; e < to; ++e) {
    if (codec::loadElement(f.leaf, e) != codec::loadElement(g.leaf, e)) return false;
  }
  if (f.textCapacity <= 0) return true;
  const int count = static_cast<s16>(codec::loadElement(f.leaf, 0));
  return count < 0 || std::memcmp(chars->leaf.data, chars2->leaf.data, static_cast<size_t>(std::min(count, f.textCapacity) + 1)) == 0;
}

std::vector<double> numbersOf(const Field& f, int element) {
  std::vector<double> out;
  if (f.textCapacity > 0) return out;
  const auto [from, to] = coveredElements(f, element);
  for (int e = from; e < to; ++e) out.push_back(numberOf(f.leaf.kind, codec::loadElement(f.leaf, e)));
  return out;
}

// Each field carried by the request that its answer does not carry with the same elements.
bool echoRefusalsOf(RecordView& a, const u8* echo, size_t echoSize, std::vector<Refusal>& out) {
  RecordView b(a.type());
  // Without an answer, every field of the request counts as left out.
  if (echo != nullptr && !b.read(echo, echoSize)) return false;
  const IndexFields ia = indexFields(a), ib = indexFields(b);
  for (Field* x : {ia.me, ia.channel}) {
    Field* y = x == ia.me ? ib.me : ib.channel;
    if (echo != nullptr && x != nullptr && codec::loadElement(x->leaf, 0) != codec::loadElement(y->leaf, 0)) return false;
  }
  out.clear();
  auto& fa = a.fields();
  auto& fb = b.fields();
  for (size_t i = 0; i < fa.size(); ++i) {
    const Field& f = fa[i];
    const Field& g = fb[i];
    const bool text = f.textCapacity > 0;
    if (f.leaf.isMask || &f == ia.me || &f == ia.channel) {
      if (text) ++i;
      continue;
    }
    // A field without a presence bit is carried always, by the request and its answer.
    const bool always = f.leaf.mask == nullptr;
    const int elements = f.leaf.perElement ? f.leaf.count : 1;
    for (int e = 0; e < elements; ++e) {
      const int present = f.leaf.bit + e;
      if (!always && !codec::presenceBit(f.leaf.mask, present)) continue;
      const int element = f.leaf.perElement ? e : -1;
      const bool answered = echo != nullptr && (always || codec::presenceBit(g.leaf.mask, present));
      if (answered && sameElements(f, g, element, text ? &fa[i + 1] : nullptr, text ? &fb[i + 1] : nullptr)) continue;
      std::string name = f.name;
      if (element >= 0) name.append("[").append(std::to_string(e)).append("]");
      out.push_back({std::move(name), valueText(f, a, element),
                     answered ? valueText(g, b, element) : "", numbersOf(f, element),
                     answered ? numbersOf(g, element) : std::vector<double>{}});
    }
    if (text) ++i;
  }
  return true;
}

// Where the fields that name the instance lie in the type's records (offset, bytes), which the
// record's place names (as describeStored sets them).
const std::vector<std::pair<size_t, size_t>>& instanceBytesOf(const RecordType& type) {
  static const auto places = [] {
    std::array<std::vector<std::pair<size_t, size_t>>, category::N_TYPES> out;
    for (int t = 0; t < category::N_TYPES; ++t) {
      if (recordTypeAt(t) == nullptr) continue;
      RecordView view(RECORD_TYPES[t]);
      const IndexFields x = indexFields(view);
      for (const Field* f : {x.me, x.channel}) {
        if (f != nullptr) out[static_cast<size_t>(t)].emplace_back(f->offset, codec::widthOf(f->leaf.kind));
      }
    }
    return out;
  }();
  return places[static_cast<size_t>(type.index)];
}

bool sameStoredRecords(const RecordType& type, const u8* a, const u8* b) {
  RecordBytes ra(type, a), rb(type, b);
  for (const auto& [at, bytes] : instanceBytesOf(type)) std::memcpy(rb.data() + at, a + at, bytes);
  // Most records compare equal byte for byte once their presence bits agree; the field walk,
  // which leaves padding and presence words out, is for the others.
  setAllPresence(type, ra.data());
  setAllPresence(type, rb.data());
  if (std::memcmp(ra.data(), rb.data(), type.shape.size) == 0) return true;
  bool same = true;
  const u8* const base = ra.data();
  const u8* const other = rb.data();
  forEachLeaf(type, ra.data(), [&](const codec::Leaf& f) {
    const size_t bytes = static_cast<size_t>(codec::widthOf(f.kind) * f.count);
    if (!f.isMask) same = same && std::memcmp(f.data, other + (f.data - base), bytes) == 0;
  });
  return same;
}

// Types that have a command of their own, and the others whose record is not built here.
bool notBuilt(int type, std::string& error) {
  const char* name = category::typeNameOf(type);
  if (type == category::TYPE_WAIT_CMD) {
    error = std::string(name) + " is sent with: frontend wait N";
  } else if (type == category::TYPE_FADER_EVENT) {
    error = std::string(name) + " is sent with: frontend fader LEVER VALUE [panel=N]";
  } else {
    error = std::string(*name ? name : "type " + std::to_string(type)) +
            ": the record of this type is not built into this program (send its bytes with raw)";
  }
  return false;
}

}  // namespace

int typeIndexOf(std::string_view name) {
  if (name.empty()) return -1;
  for (int i = 0; i < category::N_TYPES; ++i) {
    if (name == category::typeNameOf(i)) return i;
  }
  int v = 0;
  for (char c : name) {
    if (c < '0' || c > '9' || v > category::N_TYPES) return -1;
    v = v * 10 + (c - '0');
  }
  return v < category::N_TYPES ? v : -1;
}

bool isRecordBuilt(int type) { return recordTypeAt(type) != nullptr; }

std::vector<std::string> typeNames() {
  std::vector<std::string> names;
  for (int i = 0; i < category::N_TYPES; ++i) names.emplace_back(category::typeNameOf(i));
  return names;
}

bool declaresLimits(int type) {
  const RecordType* record = recordTypeAt(type);
  return record != nullptr && record->walkLimits != nullptr;
}

std::vector<const rules::Rule*> declaredRules(int type) {
  std::vector<const rules::Rule*> out;
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr || record->walkLimits == nullptr) return out;
  struct Sink final : limits::LimitSink {
    explicit Sink(std::vector<const rules::Rule*>& to) : rules(to) {}
    void limit(const limits::Limit& l) override {
      if (l.kind == limits::Limit::RULE && std::find(rules.begin(), rules.end(), l.rule) == rules.end()) rules.push_back(l.rule);
    }
    std::vector<const rules::Rule*>& rules;
  } sink(out);
  RecordBytes bytes(*record);
  record->walkLimits(bytes.data(), sink);
  return out;
}

bool fieldList(int type, std::string& out, std::string& error) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return notBuilt(type, error);
  out = fieldListOf(*record);
  return true;
}

bool settableFields(int type, std::vector<FieldInfo>& out) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return false;
  out = settableOf(*record);
  return true;
}

int recordOffset(int bytes, const RecordShape& shape, int channel) {
  const int records = static_cast<int>(shape.size) * shape.channels;
  return (bytes - records) / 4 * 4 + static_cast<int>(shape.size) * channel;
}

int replyOffset(int type) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return -1;
  RecordView view(*record);
  for (const Field* f : view.settable()) {
    if (f->leaf.tag.role == codec::Role::REPLY) return static_cast<int>(view.wireOffset(*f, 0));
  }
  return -1;
}

bool recordShape(int type, RecordShape& shape) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return false;
  shape = record->shape;
  return true;
}

std::string describeStored(int type, const u8* record, int me, int channel) {
  return describeStoredRecord(*recordTypeAt(type), record, me, channel);
}

bool sameStoredValues(int type, const u8* a, const u8* b) { return sameStoredRecords(*recordTypeAt(type), a, b); }

bool buildBody(int type, const Assignments& fields, Bytes& body, std::string& error, RequestContext* context) {
  Request request;
  if (!parseRequest(type, fields, request, error, context)) return false;
  if (request.needsFill()) {
    Bytes current;
    std::string why = "no back end state is read here";
    if (context == nullptr || !context->current || !context->current(request.me(), request.channel(), current, why) ||
        current.size() < recordTypeAt(type)->shape.size) {
      return error = request.fillProblem(why), false;
    }
    const std::string filled = request.fill(current.data());
    if (context != nullptr) context->filled = filled;
  }
  const Bytes packet = request.packet();
  body.assign(packet.begin() + LINK_HEADER_BYTES, packet.end());
  return true;
}

std::string describe(int type, const u8* body, size_t size) {
  const RecordType* record = recordTypeAt(type);
  return record != nullptr ? describeRecord(*record, body, size) : unknownText(type, body, size, "");
}

bool acceptedValues(int type, const std::string& field, int index, const Assignments& with, std::vector<Interval>& out,
                    std::string& error) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return notBuilt(type, error);
  ElementTakes takes;
  if (!declaredTakes(*record, field, index, with, nullptr, takes, error)) return false;
  out = takes.takes;
  return true;
}

// ---- A request, parsed once ------------------------------------------------------------------------

std::string Request::Parsed::fill(const u8* held) {
  std::string filled;
  for (const Target& m : missing) {
    const size_t width = static_cast<size_t>(codec::widthOf(m.field->leaf.kind));
    const size_t at = m.field->offset + width * static_cast<size_t>(m.element);
    std::memcpy(view.bytes() + at, held + at, width);
    // Appended in steps: GCC 12 at -O3 takes the one expression for an overlapping copy.
    if (!filled.empty()) filled += ' ';
    filled.append(elementName(*m.field, m.element)).append("=");
    filled += numberText(numberOf(m.field->leaf.kind, codec::loadElement(m.field->leaf, m.element)));
  }
  return filled;
}

Request::Request() = default;
Request::~Request() = default;
Request::Request(Request&&) noexcept = default;
Request& Request::operator=(Request&&) noexcept = default;

int Request::type() const { return parsed_->type.index; }
const std::string& Request::instance() const { return parsed_->instance; }
int Request::me() const { return parsed_->me; }
int Request::channel() const { return parsed_->channel; }
const std::set<std::string>& Request::typed() const { return parsed_->typed; }
const std::string& Request::defaulted() const { return parsed_->defaulted; }
bool Request::needsFill() const { return !parsed_->missing.empty(); }
std::string Request::fill(const u8* held) { return parsed_->fill(held); }
std::string Request::fillProblem(const std::string& why) const { return parsed_->unfilled + why + parsed_->giveAll; }

Bytes Request::packet() const {
  Bytes body;
  parsed_->view.write(body);
  return linkpeer::packetBytes(type(), body);
}

std::vector<Refusal> Request::fields() const {
  std::vector<Refusal> out;
  echoRefusalsOf(parsed_->view, nullptr, 0, out);
  return out;
}

bool Request::isOnAirRequest(const std::string& field) const {
  int element = -1;
  const Field* f = parsed_->view.find(field, element);
  return f != nullptr && f->leaf.tag.role == codec::Role::ON_AIR_REQUEST;
}

bool Request::refusalsIn(const linkpeer::Packet& report, std::vector<Refusal>& out) const {
  return report.type == type() && echoRefusalsOf(parsed_->view, report.body.data(), report.body.size(), out);
}

bool Request::heldIn(const u8* record, const std::string& field) const {
  const RecordView& request = parsed_->view;
  RecordView stored(parsed_->type, record);
  int element = -1;
  const Field* f = request.find(field, element);
  const Field* g = stored.find(field, element);
  if (f == nullptr || g == nullptr) return false;
  // A text's characters follow its count in the field list.
  const auto charsOf = [](const std::deque<Field>& all, const Field* x) -> const Field* {
    if (x->textCapacity <= 0) return nullptr;
    const auto at = std::find_if(all.begin(), all.end(), [&](const Field& y) { return &y == x; });
    return &*std::next(at);
  };
  return sameElements(*f, *g, element, charsOf(request.fields(), f), charsOf(stored.fields(), g));
}

Verdict Request::judge(const std::vector<Refusal>& refused, const linkpeer::RequestNotes& notes, const Bytes& heldAfter) const {
  return judgeAnswerOf(parsed_->view, parsed_->typed, refused, notes, heldAfter);
}

bool parseRequest(int type, const Assignments& fields, Request& out, std::string& error, RequestContext* context) {
  const RecordType* record = recordTypeAt(type);
  if (record == nullptr) return notBuilt(type, error);
  auto parsed = std::make_unique<Request::Parsed>(*record);
  if (!parseRecord(fields, *parsed, error, context)) return false;
  out.parsed_ = std::move(parsed);
  return true;
}

bool storedNumber(int type, const u8* record, const std::string& field, int element, double& out) {
  const RecordType* t = recordTypeAt(type);
  if (t == nullptr) return false;
  RecordView stored(*t, record);
  int ignored = -1;
  const Field* f = stored.find(field, ignored);
  if (f == nullptr || f->textCapacity > 0 || element < 0 || element >= f->leaf.count) return false;
  out = numberOf(f->leaf.kind, codec::loadElement(f->leaf, element));
  return true;
}

namespace records {
const RecordType* recordTypeOf(int type) { return recordTypeAt(type); }
}  // namespace records

std::string intervalsText(const std::vector<Interval>& intervals) {
  if (intervals.empty()) return "none";
  std::string out;
  for (const Interval& i : intervals) {
    out += (out.empty() ? "" : ", ") + numberText(i.lo) + (i.lo == i.hi ? "" : ".." + numberText(i.hi));
  }
  return out;
}

}  // namespace frontend
