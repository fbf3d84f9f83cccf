#pragma once
// What the parts of the record-type library share: a record type as they need it, a record of a
// type held with its fields in wire order (its wire form and text form, its fields by name), the
// fields that name its instance, and a few texts. Only the library's own sources include this.
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Lib/Include/codec.h"
#include "Lib/Include/limits.h"
#include "Lib/Include/types.h"
#include "Tools/lib/records/types.h"

namespace frontend::records {

// ---- A record type ---------------------------------------------------------------------------------

// What the code needs of a record type that only the type itself knows; everything else works on
// the record's bytes through its field list.
struct RecordType {
  int index = 0;  // the type index
  RecordShape shape;
  // Makes a record of the type at `record` (shape.size bytes, aligned for it) as it starts.
  void (*make)(u8* record) = nullptr;
  // Hands every leaf of the record at `record` to the sink, in wire order.
  void (*walk)(u8* record, codec::LeafSink& sink) = nullptr;
  // The sub-records of the field list that are records of a type of their own: name and type.
  std::vector<std::pair<std::string, int>> (*mirrors)() = nullptr;
  // Hands every declaration of what the record's fields take (Lib/Include/limits.h) to the sink;
  // null when the record declares none.
  void (*walkLimits)(u8* record, limits::LimitSink& sink) = nullptr;
  // Sets the values that the back end starts every instance with where they are not the record's
  // defaults (the record's atStart); null where they are.
  void (*start)(u8* record) = nullptr;
  // The offset of the field whose values outside its limits the back end answers none of (the
  // record's NO_ANSWER_OUTSIDE); null where it answers every value.
  size_t (*noAnswerAt)() = nullptr;
};

// The bytes of a record, aligned for any record.
class RecordBytes {
 public:
  // A record as it starts, or a copy of one in its memory form.
  explicit RecordBytes(const RecordType& type, const u8* from = nullptr);
  u8* data() { return reinterpret_cast<u8*>(words_.data()); }

 private:
  std::vector<u64> words_;
};

// Calls fn with every leaf of the record at `record`, in wire order.
template <class Fn>
void forEachLeaf(const RecordType& type, u8* record, Fn&& fn) {
  struct Sink final : codec::LeafSink {
    explicit Sink(Fn& f) : fn(f) {}
    void leaf(const codec::Leaf& f) override { fn(f); }
    Fn& fn;
  } sink(fn);
  type.walk(record, sink);
}

// Sets every presence bit that the type declares.
void setAllPresence(const RecordType& type, u8* record);

// ---- A record seen through its field list -----------------------------------------------------------

struct Field {
  codec::Leaf leaf;
  std::string prefix;  // the walker's prefix buffer changes as it goes; each leaf keeps a copy
  std::string name;    // full dotted name
  size_t offset;       // of the field in the record
  int textCapacity;    // > 0: this is a text's count and the next field its characters
};

// A record of a type, which it holds, and its fields in wire order. Leaves point into the record.
class RecordView final : public codec::LeafSink {
 public:
  // A record as it starts, or a copy of one in its memory form.
  explicit RecordView(const RecordType& type, const u8* from = nullptr);
  RecordView(const RecordView&) = delete;
  RecordView& operator=(const RecordView&) = delete;

  void leaf(const codec::Leaf& f) override;

  const RecordType& type() const { return type_; }
  const RecordShape& shape() const { return type_.shape; }
  u8* bytes() { return record_.data(); }
  const u8* bytes() const { return const_cast<RecordBytes&>(record_).data(); }
  // Every field back to its start value (the fields keep their places).
  void reset() { type_.make(record_.data()); }

  std::deque<Field>& fields() { return fields_; }
  const std::deque<Field>& fields() const { return fields_; }

  // Sets a text and its presence bit from a word (textOfWord); false for an unknown name, another
  // form or more characters than the text holds.
  bool setText(const std::string& name, const std::string& value);
  // The value of a text (the count of one: its characters follow it) as quotedText writes it.
  std::string textValue(const Field& count) const;

  // The field a name sets ("edges", "edges[2]", a text) and the element it names (-1: all of
  // them); null when the record has none of that name.
  const Field* find(const std::string& name, int& element) const;

  // The names a front end sets, presence words and the characters of texts left out.
  std::vector<const Field*> settable() const;

  // Sets a field, an element or (a comma-separated list) the first elements of an array, and their
  // presence bits, from decimal numbers; false for an unknown name or another form of value.
  bool setValue(const std::string& name, const std::string& value);

  // Wire form: every field big-endian at its width, a text as its u16 count and then count + 1
  // characters (zero beyond the capacity), nothing more when the count is negative.
  void write(Bytes& out) const;
  // Where element `element` of a field starts in the wire form of the record as it is.
  size_t wireOffset(const Field& field, int element) const;

  // Reads the wire form above; false (the record partly read) when the body is too short.
  bool read(const u8* data, size_t size);

  // The carried fields as " name=value" words; the index fields are left out.
  std::string text(const Field* skip, const Field* skip2) const;

 private:
  const RecordType& type_;
  RecordBytes record_;
  std::deque<Field> fields_;
  mutable std::map<std::string, const Field*> byName_;  // built on the first find
};

// ---- Texts -----------------------------------------------------------------------------------------

// A text's characters (up to a zero byte, at most n) as the text form writes them: in double quotes,
// by the escape rule of texts (a double quote and a backslash escaped by a backslash), a byte outside
// printable ASCII as \xHH, so that textOfWord reads them back as they are.
std::string quotedText(const u8* chars, int n);

// The characters a word gives a text: in double quotes, as quotedText writes them (\' a single quote
// too); a word without them, as it stands. False, with why, for another form or a zero byte.
bool textOfWord(const std::string& word, std::string& chars, std::string& why);

// ---- Instances --------------------------------------------------------------------------------------

// Records with an index byte take "me=N" (per ME) or "channel=N"; the limit of that index.
int indexLimit(const RecordShape& shape);

// The fields that say which instance a record is for, as its field list declares them: the ME of a
// record per ME and the channel of a record with several.
struct IndexFields {
  Field* me = nullptr;
  Field* channel = nullptr;
};
IndexFields indexFields(RecordView& view);

// " me=M channel=C" as the record holds them.
std::string indexText(const IndexFields& x);

// ---- Elements and values ----------------------------------------------------------------------------

// An element of a field, as values are offered to it.
struct Target {
  const Field* field;
  int element;
};

// "name[e]" of an array's element, "name" of a single field.
std::string elementName(const Field& f, int element);

// The presence word and bit of an element ({null, 0}: it has none).
std::pair<const u32*, int> presenceOf(const codec::Leaf& leaf, int element);

// The fields under the presence bit of a field's element that the back end takes with it (fields
// that share the bit, the field itself when one bit covers all of its elements); none when the
// element has a bit of its own or none.
std::vector<const Field*> fieldsUnderBit(const RecordView& view, const Field& field, int element);
// The other elements under a target's presence bit, in wire order.
std::vector<Target> bitPartners(const RecordView& view, const Target& t);
// A value in the bits of an element of the kind.
u32 bitsOf(codec::Kind kind, double value);

// The number that an element's bits (as loadElement gives them) hold.
double numberOf(codec::Kind kind, u32 bits);

// A number as send takes it back: a whole number as an integer ("4294967295", not "4.2949673e+09").
std::string numberText(double v);

// "0..255", or what else the field takes.
std::string rangeText(const Field& f);

// What sets element `element` of a field (-1: any of its elements) that the back end keeps itself,
// as the record's field list declares it; null for others.
const char* statusSetter(const Field& f, int element);

// ---- The values the back end takes, as the record declares them (records/limits.cpp) ---------------

// "0..1, 3".
std::string numbersText(const std::set<int>& numbers);

// What an element takes for each value of another element under its presence bit (`on`), where
// that differs from value to value; `on.field` null where it does not.
struct Dependence {
  Target on{nullptr, 0};
  std::vector<std::pair<double, std::vector<Interval>>> sets;
  // For a value of `on` where the set also changes with a second element that the range reads: the
  // other sets, each with the values of that element that give it ("; 1..29 with mvTime[0]=2000").
  std::map<double, std::string> otherwise = {};
  // The set for a value of `on`; null for a value it does not take.
  const std::vector<Interval>* setFor(double value) const {
    for (const auto& [v, set] : sets) {
      if (v == value) return &set;
    }
    return nullptr;
  }
};

// "with effectA[1]=0: 0..14, 16" a line for each set, with the values that give it.
std::string dependenceText(const Dependence& d);

// The limits a record type declares (Lib/Include/limits.h), on the record of a view.
class Declared {
 public:
  explicit Declared(RecordView& view);
  Declared(const Declared&) = delete;  // byByte_ points into all_
  Declared& operator=(const Declared&) = delete;
  // Whether the type declares any.
  bool any() const { return !all_.empty() || view_.type().walkLimits != nullptr; }
  // The declarations that cover an element.
  std::vector<const limits::Limit*> of(const Target& t) const;
  // The rules declared on any element of a field, in the order declared.
  std::vector<const rules::Rule*> rulesOf(const Field& f) const;
  // The elements that a computed range of the element reads, in the order declared.
  std::vector<Target> inputs(const Target& t) const;
  // What the element takes from a request with these inputs (the instance, and the values of the
  // elements it reads): its declared runs less what the rules declared with it refuse; the field's
  // width where nothing is declared; none where a rule refuses all.
  std::vector<Interval> takes(const Target& t, const limits::Inputs& in) const;
  // Whether a rule declared with the field (a text's count) refuses every value of it.
  bool refusesAll(const Field& f) const;
  // What the element takes for each value of the first element its computed range reads (those
  // values: what that element takes at `at`, if at most 16), where the sets differ; none otherwise.
  // The second input stays as `at` gives it, and the sets that others of its values (if at most 64)
  // give are said besides.
  Dependence dependence(const Target& t, const limits::Inputs& at) const;

 private:
  RecordView& view_;
  std::vector<limits::Limit> all_;
  std::vector<std::vector<const limits::Limit*>> byByte_;  // the declarations that cover each byte
};

// ---- The values the back end takes (records/limits.cpp) ------------------------------------------

// What an element takes on an instance, as the field list gives it.
struct ElementTakes {
  std::vector<Interval> takes;  // with the elements under its bit as the instance holds them, or as `with` says
  std::string with;  // " with patternKind=2": the value of the element it depends on that gives `takes`
  std::string each;  // where that value is not known: "with patternKind=0: 0..14, 16, 23; with patternKind=1: ..."
};
// The value of an element (field name, element) that a request goes with, and how it is known ("":
// sent in it, " as last backed up"); false when it is not known.
using ValueOf = std::function<bool(const std::string& field, int element, double& value, std::string& as)>;

// What element `name` of instance `index` takes as the record declares it (acceptedValues; with
// valueOf, for the values that a request goes with), as the field list computes it, so the two agree.
// False with a message for a type that declares nothing (its fields take what their widths hold).
bool declaredTakes(const RecordType& type, const std::string& name, int index, const Assignments& with,
                   const ValueOf& valueOf, ElementTakes& out, std::string& error);

// Request::judge (send/verdict.cpp): sent is the request as parsed.
Verdict judgeAnswerOf(RecordView& sent, const std::set<std::string>& typed, const std::vector<Refusal>& refused,
                      const linkpeer::RequestNotes& notes, const Bytes& heldAfter);

// "no answer with me=4..255": the values of a command's field that the back end answers none of, as
// the record declares them (a NO_ANSWER_OUTSIDE field gets no answer outside its limits); "" for
// another field.
std::string unansweredValues(const RecordType& type, const Field& field);

// The record type of a type index; null when its record is not built here (records/types.cpp).
const RecordType* recordTypeOf(int type);

// fieldList for a type whose record is built.
std::string fieldListOf(const RecordType& type);

}  // namespace frontend::records

namespace frontend {

// A request as parsed: its record, the fields that name its instance, and what parsing found.
struct Request::Parsed {
  explicit Parsed(const records::RecordType& t) : type(t), view(t), indexes(records::indexFields(view)) {}
  // Sets the elements to fill from the instance's record as held; what it set.
  std::string fill(const u8* held);

  const records::RecordType& type;
  records::RecordView view;
  records::IndexFields indexes;
  std::set<std::string> typed;
  std::string defaulted, instance;
  int me = 0, channel = 0;
  std::vector<records::Target> missing;  // the elements to fill
  std::string unfilled, giveAll;         // around the reason, the problem when they cannot be
};

}  // namespace frontend
