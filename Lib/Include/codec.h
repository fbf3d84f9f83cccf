#pragma once
// Record codec: a record lists its fields once, in wire order, and every form of the record is
// derived from that list: the big-endian wire reader and writer, the wire length, the presence-bit
// merge of `assign`, the whole-record copy of `resume`, clearing and testing the presence words,
// and the name-based text form used by the front-end tool.
//
// A record declares its fields in a static member template `fields`, called with a visitor and
// the record (const or not). The template is constexpr: the wire size is counted from it at compile
// time (so the names of array elements come from constant tables, records/names.h):
//
//   struct MxifExample {
//     u32 mask;         // presence word of the head group
//     u8 me;            // index byte, carried in every message
//     u8 mode;          // mask bit 0
//     s16 edges[4];     // mask bit 1 covers the whole array
//     u32 keyMask;      // presence word with one bit per element of `key`
//     u8 key[4];        // keyMask bits 0..3
//     Timing trans;     // sub-record: starts with its own presence word
//     template <class V, class R> static constexpr void fields(V& v, R& r) {
//       v.mask("mask", r.mask);
//       v.field("me", r.me);
//       v.field("mode", r.mode, r.mask, 0);
//       v.field("edges", r.edges, r.mask, 1);
//       v.mask("keyMask", r.keyMask);
//       v.each("key", r.key, r.keyMask, 0);
//       v.sub("trans", r.trans);            // Timing::fields lists "mask", "rate", ...
//     }
//   };
//
// Visitor calls:
//   mask(name, w)                   a presence word (u32), or an array of them (u32[N])
//   field(name, x)                  a field without presence bit: always carried, always merged
//   meField(v, name, x)             such a field that names the record's ME, in a record kept per
//   channelField(v, name, x)        ME; or its channel, in a record kept in several channels
//   field(name, x, mask, bit)       a scalar or array field; one bit covers the whole field
//   each(name, array, mask, bit)    an array with one bit per element (bit, bit + 1, ...); with a
//                                   mask array, bit 32 is bit 0 of its second word and so on
//   sub(name, s)                    a sub-record with its own `fields`; its names get "name."
// Fields are u8, s8, u16, s16, u32, s32 (or enums and bools of those widths), float, and fixed
// arrays of them; a field may name any presence word of the record (a head bit may govern a field
// that lies behind a sub-record), and several fields may share one bit (they travel together).
// Texts are declared with textField (Lib/Include/text.h).
// On the wire every field is written big-endian at its own width, presence words as u32, without
// padding; float as its IEEE-754 bit pattern.
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "Lib/Include/check.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"

namespace codec {

enum class Kind : u8 { U8, S8, U16, S16, U32, S32, F32 };

// What a field without presence bit says of the record: which instance of its type it is.
enum class Instance : u8 { NONE, ME, CHANNEL };

// What a field is to a front end besides a setting (declared with tag(), before the field):
//   STATUS          the back end sets it itself, whatever a request says (setBy names from what);
//                   `elements`: the elements it covers, a bit each (all when ~0)
//   ON_AIR_REQUEST  a layer's on-air state, which a request's value asks the layer's transition to
//                   change (setBy says how); the state it reaches is reported a frame or two later
//   REPLY           a command's reply code, which the back end fills in its answer; negative: refused
enum class Role : u8 { SETTING, STATUS, ON_AIR_REQUEST, REPLY };
struct Tag {
  Role role = Role::SETTING;
  const char* setBy = nullptr;
  u32 elements = ~0u;
  constexpr bool covers(int element) const { return element < 0 || element >= 32 || ((elements >> element) & 1u) != 0; }
};
constexpr Tag status(const char* setBy, u32 elements = ~0u) { return {Role::STATUS, setBy, elements}; }
constexpr Tag onAirRequest(const char* what) { return {Role::ON_AIR_REQUEST, what}; }
constexpr Tag REPLY = {Role::REPLY};

// Tags the next field of a field list; visitors that have no use for tags (every form of the
// record itself) pass it by.
template <class V>
constexpr void tag(V& v, const Tag& t) {
  if constexpr (requires { v.tag(t); }) v.tag(t);
}

constexpr int widthOf(Kind k) {
  switch (k) {
    case Kind::U8:
    case Kind::S8:
      return 1;
    case Kind::U16:
    case Kind::S16:
      return 2;
    default:
      return 4;
  }
}

// One declared field (or presence word) as the algorithms see it.
struct Leaf {
  const char* prefix;  // "" at the top level, "trans." inside sub-record trans
  const char* name;
  u8* data;            // first element
  Kind kind;
  int count;           // elements (1 for a scalar)
  u32* mask;           // presence word(s); null for a field without presence bit
  int bit;             // bit in mask (may exceed 31 with a mask array)
  bool perElement;     // bit + i governs element i
  bool isMask;         // this leaf is a presence word (or array of them)
  Instance instance = Instance::NONE;  // the ME or channel of the record (meField, channelField)
  int textCapacity = 0;  // > 0: a text's count, and the next leaf its characters (textField)
  Tag tag = {};          // what tag() declared for the field
};

// Receives every leaf of a record in wire order.
class LeafSink {
 public:
  virtual void leaf(const Leaf& f) = 0;

 protected:
  ~LeafSink() = default;
};

namespace internal {

template <class X>
constexpr Kind kindOf() {
  using T = std::remove_cv_t<X>;
  if constexpr (std::is_enum_v<T>) {
    return kindOf<std::underlying_type_t<T>>();
  } else if constexpr (std::is_same_v<T, float>) {
    return Kind::F32;
  } else {
    static_assert(std::is_integral_v<T> && sizeof(T) <= 4, "record fields are 1, 2 or 4 byte integers or float");
    // Plain char (and wchar_t) is signed on one processor and unsigned on the other.
    static_assert(!std::is_same_v<T, char> && !std::is_same_v<T, wchar_t>, "record fields are s8 or u8, not char");
    if constexpr (sizeof(T) == 1) return std::is_signed_v<T> ? Kind::S8 : Kind::U8;
    if constexpr (sizeof(T) == 2) return std::is_signed_v<T> ? Kind::S16 : Kind::U16;
    return std::is_signed_v<T> ? Kind::S32 : Kind::U32;
  }
}

template <class X>
struct Shape {
  using Elem = X;
  static constexpr int count = 1;
};
template <class X, size_t N>
struct Shape<X[N]> {
  using Elem = X;
  static constexpr int count = static_cast<int>(N);
};

template <class X>
u8* bytesOf(X& x) {
  return const_cast<u8*>(reinterpret_cast<const u8*>(&x));
}

// Presence words: a u32 or an array of them; returns the first word and the number of words.
template <class M>
u32* maskWords(M& m, int& words) {
  using S = Shape<std::remove_cv_t<M>>;
  static_assert(std::is_same_v<std::remove_cv_t<typename S::Elem>, u32>, "presence words are u32");
  words = S::count;
  return reinterpret_cast<u32*>(bytesOf(m));
}

}  // namespace internal

namespace internal {

// The dotted path of the sub-record a visitor is in ("" at the top, "trans." inside trans).
class Prefix {
 public:
  const char* text() { return built_ ? text_ : build(); }
  // Goes into sub-record name; returns what leave() takes to come out again. The text is made
  // only when asked for: a merge asks only for the fields it offers.
  int enter(const char* name) {
    MX_CHECK(depth_ < MAX_DEPTH);
    names_[depth_] = name;
    built_ = false;
    return depth_++;
  }
  void leave(int keep) {
    depth_ = keep;
    built_ = false;
  }
  bool atTop() const { return depth_ == 0; }

 private:
  static constexpr int MAX_DEPTH = 8;
  const char* build();
  const char* names_[MAX_DEPTH] = {};
  int depth_ = 0;
  bool built_ = false;
  char text_[64];
};

// A field that a presence bit governs, checked against its presence words (a mistake in a field
// list fails here).
template <class X>
void checkBits(int words, int bit, bool perElement) {
  const int last = bit + (perElement ? Shape<std::remove_cv_t<X>>::count - 1 : 0);
  MX_CHECK(0 <= bit && last < 32 * words);
}

}  // namespace internal

// The visitor handed to a record's `fields`; it turns every declaration into a Leaf.
class Walker {
 public:
  explicit Walker(LeafSink& sink) : sink_(sink) {}

  template <class M>
  void mask(const char* name, M& m) {
    int words = 0;
    u32* w = internal::maskWords(m, words);
    sink_.leaf({prefix_.text(), name, reinterpret_cast<u8*>(w), Kind::U32, words, nullptr, 0, false, true});
  }

  template <class X>
  void field(const char* name, X& x) {
    emit(name, x, nullptr, 0, 0, false);
  }

  template <class X, class M>
  void field(const char* name, X& x, M& m, int bit) {
    int words = 0;
    u32* w = internal::maskWords(m, words);
    emit(name, x, w, words, bit, false);
  }

  template <class X, class M>
  void each(const char* name, X& x, M& m, int bit) {
    static_assert(std::is_array_v<X>, "each() takes an array");
    int words = 0;
    u32* w = internal::maskWords(m, words);
    emit(name, x, w, words, bit, true);
  }

  template <class S>
  void sub(const char* name, S& s) {
    const int keep = prefix_.enter(name);
    std::remove_const_t<S>::fields(*this, s);
    prefix_.leave(keep);
  }

  // A field that names the record's instance (meField, channelField); in a sub-record that is a
  // record of its own, it names none of this one.
  template <class X>
  void instance(const char* name, X& x, Instance which) {
    emit(name, x, nullptr, 0, 0, false, prefix_.atTop() ? which : Instance::NONE);
  }

  // A text (textField): its count, which carries the capacity, then its characters, both under
  // the text's bit.
  template <class T, class M>
  void text(const char* name, const char* charsName, T& t, M& m, int bit) {
    int words = 0;
    u32* w = internal::maskWords(m, words);
    const Tag both = tag_;
    emit(name, t.count, w, words, bit, false, Instance::NONE, std::remove_const_t<T>::capacity);
    tag_ = both;
    emit(charsName, t.chars, w, words, bit, false);
  }

  // The tag of the next field.
  void tag(const Tag& t) { tag_ = t; }

 private:
  template <class X>
  void emit(const char* name, X& x, u32* mask, int words, int bit, bool perElement,
            Instance instance = Instance::NONE, int textCapacity = 0) {
    using S = internal::Shape<std::remove_cv_t<X>>;
    constexpr Kind kind = internal::kindOf<typename S::Elem>();
    if (mask != nullptr) internal::checkBits<X>(words, bit, perElement);
    sink_.leaf({prefix_.text(), name, internal::bytesOf(x), kind, S::count, mask, bit, perElement, false, instance,
                textCapacity, tag_});
    tag_ = {};
  }

  LeafSink& sink_;
  internal::Prefix prefix_;
  Tag tag_ = {};
};

// Declares a field without presence bit that names the record's instance: its ME (a record kept per
// ME) or its channel (a record kept in several channels). Visitors without instance() take it as
// field(name, x).
template <class V, class X>
constexpr void instanceField(V& v, const char* name, X& x, Instance which) {
  if constexpr (requires { v.instance(name, x, which); }) {
    v.instance(name, x, which);
  } else {
    v.field(name, x);
  }
}
template <class V, class X>
constexpr void meField(V& v, const char* name, X& x) {
  instanceField(v, name, x, Instance::ME);
}
template <class V, class X>
constexpr void channelField(V& v, const char* name, X& x) {
  instanceField(v, name, x, Instance::CHANNEL);
}

// Walks every leaf of a record (leaf data points into r).
template <class T>
void walk(const T& r, LeafSink& sink) {
  static_assert(std::is_trivially_copyable_v<T>, "records are plain structures");
  Walker w(sink);
  T::fields(w, r);
}

// Element i of a leaf as raw bits (sign-extended for signed kinds), and storing raw bits back.
u32 loadElement(const Leaf& f, int i);
void storeElement(const Leaf& f, int i, u32 bits);

inline bool presenceBit(const u32* mask, int bit) { return (mask[bit / 32] >> (bit % 32)) & 1u; }
inline void setPresenceBit(u32* mask, int bit) { mask[bit / 32] |= 1u << (bit % 32); }

// A visitor of a record's field list, inlined where it is used, that hands every field and presence
// word (an array whole) to Derived::value in the list's order, sub-records through their own lists.
template <class Derived>
class EachValue {
 public:
  template <class M>
  constexpr void mask(const char*, M& m) { self().value(m); }
  template <class X>
  constexpr void field(const char*, X& x) { self().value(x); }
  template <class X, class M>
  constexpr void field(const char*, X& x, M&, int) { self().value(x); }
  template <class X, class M>
  constexpr void each(const char*, X& x, M&, int) { self().value(x); }
  template <class S>
  constexpr void sub(const char*, S& s) { std::remove_const_t<S>::fields(self(), s); }

 private:
  constexpr Derived& self() { return static_cast<Derived&>(*this); }
};

namespace internal {

// Adds up the wire bytes of a field list; the lists are constexpr, so this runs at compile time.
class WireCount : public EachValue<WireCount> {
 public:
  template <class X>
  constexpr void value(const X&) {
    using S = Shape<std::remove_cv_t<X>>;
    bytes += static_cast<size_t>(widthOf(kindOf<typename S::Elem>())) * S::count;
  }
  size_t bytes = 0;
};

template <class T>
constexpr size_t countWireBytes() {
  T r{};
  WireCount c;
  T::fields(c, r);
  return c.bytes;
}

template <class T>
inline constexpr size_t WIRE_BYTES = countWireBytes<T>();

}  // namespace internal

// Bytes of the record on the wire (a constant: usable in static_assert beside the record).
template <class T>
constexpr size_t wireSize() {
  return internal::WIRE_BYTES<T>;
}

namespace internal {

// Counts the fields of a list that name an instance of the given kind; the lists are constexpr.
class InstanceCount : public EachValue<InstanceCount> {
 public:
  explicit constexpr InstanceCount(Instance which) : which_(which) {}
  template <class X>
  constexpr void value(const X&) {}
  template <class X>
  constexpr void instance(const char*, const X&, Instance which) {
    count += depth_ == 0 && which == which_ ? 1 : 0;
  }
  // A sub-record that is a record of its own names no instance of this one.
  template <class S>
  constexpr void sub(const char*, S& s) {
    ++depth_;
    std::remove_const_t<S>::fields(*this, s);
    --depth_;
  }
  int count = 0;

 private:
  Instance which_;
  int depth_ = 0;
};

}  // namespace internal

// How many fields of the record's list name its ME (Instance::ME) or its channel.
template <class T>
constexpr int instanceFields(Instance which) {
  T r{};
  internal::InstanceCount c(which);
  T::fields(c, r);
  return c.count;
}

namespace internal {

// Unsigned integer of a field's width.
template <size_t N>
using WireWord = std::conditional_t<N == 1, u8, std::conditional_t<N == 2, u16, u32>>;

// The wire form written and read straight through a record's field list: every field big-endian
// at its width, in the order of the list (the order of the leaves of walk()).
class Encoder : public EachValue<Encoder> {
 public:
  explicit Encoder(u8* out) : p(out) {}
  template <class X>
  void value(const X& x) {
    if constexpr (std::is_array_v<X>) {
      for (const auto& e : x) value(e);
    } else {
      static_assert(sizeof(X) == 1 || sizeof(X) == 2 || sizeof(X) == 4, "record fields are 1, 2 or 4 bytes");
      WireWord<sizeof(X)> v;
      std::memcpy(&v, &x, sizeof v);
      for (int b = static_cast<int>(sizeof v) - 1; b >= 0; --b) *p++ = static_cast<u8>(v >> (8 * b));
    }
  }
  u8* p;
};

class Decoder : public EachValue<Decoder> {
 public:
  explicit Decoder(const u8* in) : p(in) {}
  template <class X>
  void value(X& x) {
    if constexpr (std::is_array_v<X>) {
      for (auto& e : x) value(e);
    } else {
      static_assert(sizeof(X) == 1 || sizeof(X) == 2 || sizeof(X) == 4, "record fields are 1, 2 or 4 bytes");
      WireWord<sizeof(X)> v = 0;
      for (size_t b = 0; b < sizeof v; ++b) v = static_cast<WireWord<sizeof(X)>>(v << 8 | *p++);
      std::memcpy(&x, &v, sizeof v);
    }
  }
  const u8* p;
};

}  // namespace internal

// Writes the record's wire form to anything with write(const u8*, int), in one piece.
template <class T, class Out>
void write(const T& r, Out& out) {
  u8 bytes[sizeof(T)];
  const size_t n = wireSize<T>();
  MX_CHECK(n <= sizeof bytes);  // every field once, without the padding
  internal::Encoder e(bytes);
  T::fields(e, r);
  out.write(bytes, static_cast<int>(n));
}

// Writes the wire form into out; returns the bytes written, 0 when cap is too small.
template <class T>
size_t encode(const T& r, u8* out, size_t cap) {
  size_t n = wireSize<T>();
  if (cap < n) return 0;
  internal::Encoder e(out);
  T::fields(e, r);
  return n;
}

// Reads the record from exactly the first wireSize<T>() bytes of data. Returns false, leaving r
// as it was, when size is shorter than that.
template <class T>
bool read(const u8* data, size_t size, T& r) {
  if (size < wireSize<T>()) return false;
  internal::Decoder d(data);
  T::fields(d, r);
  return true;
}

// One field (or one element of a per-element array) offered to a merge.
struct FieldView {
  const char* prefix;
  const char* name;
  const void* field;  // start of the field in the incoming record
  int index;          // element of a per-element array, -1 for a whole field
  size_t size = 0;    // bytes of the whole field
  int count = 1;      // its elements
  template <class X>
  bool is(const X& member) const {
    return field == static_cast<const void*>(&member);
  }
  // Whether the field lies within a sub-record of the incoming record.
  template <class S>
  bool in(const S& sub) const {
    const u8* p = static_cast<const u8*>(field);
    const u8* first = reinterpret_cast<const u8*>(&sub);
    return first <= p && p < first + sizeof sub;
  }
  // The element of an array of sub-records that holds the field, -1 when none does.
  template <class X, size_t N>
  int elementOf(const X (&array)[N]) const {
    const u8* p = static_cast<const u8*>(field);
    const u8* first = reinterpret_cast<const u8*>(array);
    if (p < first || p >= first + sizeof array) return -1;
    return static_cast<int>(static_cast<size_t>(p - first) / sizeof(X));
  }
};

// Presence word algorithms.
// Sets bit in out when it is set in in and cond holds (a range check that takes a present field).
inline void acceptIf(u32 in, u32& out, u32 bit, bool cond) {
  if ((in & bit) && cond) out |= bit;
}
void setAllPresence(const Leaf& f);

// Where the presence words of a record type lie, found once from its field list: the byte offset
// of each. The status pass asks every record every frame whether anything is present, so that
// answer reads these words rather than walking the field list.
template <class T>
struct PresenceWords {
  static constexpr int CAPACITY = static_cast<int>(sizeof(T) / 4) + 1;
  static_assert(sizeof(T) <= 0x10000, "offsets are 16 bits");
  u16 offset[CAPACITY];
  int count;
};

template <class T>
[[gnu::noinline]] PresenceWords<T> findPresenceWords() {
  struct S : LeafSink {
    const u8* base = nullptr;
    PresenceWords<T> words{};
    void leaf(const Leaf& f) override {
      if (!f.isMask) return;
      for (int i = 0; i < f.count; ++i) {
        MX_CHECK(words.count < PresenceWords<T>::CAPACITY);
        words.offset[words.count++] = static_cast<u16>(f.data + 4 * i - base);
      }
    }
  } s;
  const T r{};
  s.base = reinterpret_cast<const u8*>(&r);
  walk(r, s);
  return s.words;
}

template <class T>
const PresenceWords<T>& presenceWords() {
  static const PresenceWords<T> words = findPresenceWords<T>();
  return words;
}

template <class T>
void clearPresence(T& r) {
  const PresenceWords<T>& p = presenceWords<T>();
  u8* base = reinterpret_cast<u8*>(&r);
  for (int i = 0; i < p.count; ++i) std::memset(base + p.offset[i], 0, 4);
}

// Every presence bit that a record type declares, word by word in the order of presenceWords<T>().
template <class T>
struct DeclaredBits {
  u32 bits[PresenceWords<T>::CAPACITY];
};

template <class T>
[[gnu::noinline]] DeclaredBits<T> findDeclaredBits() {
  struct S : LeafSink {
    void leaf(const Leaf& f) override { setAllPresence(f); }
  } s;
  T r{};
  clearPresence(r);
  walk(r, s);
  const PresenceWords<T>& p = presenceWords<T>();
  DeclaredBits<T> d{};
  for (int i = 0; i < p.count; ++i) std::memcpy(&d.bits[i], reinterpret_cast<const u8*>(&r) + p.offset[i], 4);
  return d;
}

// Sets every declared presence bit.
template <class T>
void setAllPresence(T& r) {
  static const DeclaredBits<T> declared = findDeclaredBits<T>();
  const PresenceWords<T>& p = presenceWords<T>();
  u8* base = reinterpret_cast<u8*>(&r);
  for (int i = 0; i < p.count; ++i) {
    u32 w;
    std::memcpy(&w, base + p.offset[i], 4);
    w |= declared.bits[i];
    std::memcpy(base + p.offset[i], &w, 4);
  }
}

// How many presence bits are set in r.
template <class T>
int presentBits(const T& r) {
  const PresenceWords<T>& p = presenceWords<T>();
  int present = 0;
  for (int i = 0; i < p.count; ++i) {
    u32 w;
    std::memcpy(&w, reinterpret_cast<const u8*>(&r) + p.offset[i], 4);
    present += std::popcount(w);
  }
  return present;
}

// Whether any of count words at the given byte offsets from base is non-zero.
bool anyWord(const u8* base, const u16* offset, int count);

// With the type's presence words at hand (a pass over many records of one type).
template <class T>
bool hasAny(const T& r, const PresenceWords<T>& p) {
  const u8* base = reinterpret_cast<const u8*>(&r);
  // Most records have a few presence words: those are read here, inline.
  if (p.count > 4) return anyWord(base, p.offset, p.count);
  for (int i = 0; i < p.count; ++i) {
    u32 w;
    std::memcpy(&w, base + p.offset[i], 4);
    if (w != 0) return true;
  }
  return false;
}

template <class T>
bool hasAny(const T& r) {
  return hasAny(r, presenceWords<T>());
}

namespace internal {

// Compares every field of the record visited with the same field of the record at other.
class SameValues {
 public:
  SameValues(const u8* base, const u8* other) : base_(base), other_(other) {}
  bool same = true;
  template <class M>
  void mask(const char*, const M&) {}
  template <class X>
  void field(const char*, const X& x) {
    same = same && std::memcmp(&x, other_ + (reinterpret_cast<const u8*>(&x) - base_), sizeof x) == 0;
  }
  template <class X, class M>
  void field(const char* name, const X& x, const M&, int) {
    field(name, x);
  }
  template <class X, class M>
  void each(const char* name, const X& x, const M&, int) {
    field(name, x);
  }
  template <class S>
  void sub(const char*, const S& s) {
    S::fields(*this, s);
  }

 private:
  const u8* base_;
  const u8* other_;
};

}  // namespace internal

// Whether two records hold the same value in every field; presence words and padding do not count.
template <class T>
bool sameValues(const T& a, const T& b) {
  internal::SameValues v(reinterpret_cast<const u8*>(&a), reinterpret_cast<const u8*>(&b));
  T::fields(v, a);
  return v.same;
}

namespace internal {

// The merge, straight through the incoming record's field list (inlined); a field's place in `to`
// is its offset in the incoming record. The accept function is called through a pointer: one
// instance of each field list serves every merge, and a whole field's index (-1) is not followed
// into checks that only elements reach.
class Merger {
 public:
  using AcceptFn = bool (*)(void* context, const FieldView& view);
  // refused, when not null, is laid out as the record: a refused field that holds another value
  // than `to` sets its bit there.
  Merger(u8* to, const u8* from, AcceptFn accept, void* context, u8* refused = nullptr)
      : toBase(to), fromBase(from), fn(accept), context(context), refused(refused) {}
  template <class M>
  void mask(const char*, const M&) {}
  template <class X>
  void field(const char*, const X& x) {
    std::memcpy(target(&x), &x, sizeof x);
  }
  // The bit tests are inlined in each record's field list (most fields are absent); a present
  // field is taken out of line.
  template <class X, class M>
  [[gnu::always_inline]] void field(const char* name, const X& x, const M& m, int bit) {
    int words = 0;
    const u32* w = maskWords(m, words);
    checkBits<X>(words, bit, false);
    if (presenceBit(w, bit)) take(name, &x, -1, &x, sizeof x, Shape<std::remove_cv_t<X>>::count, w, bit);
  }
  template <class X, class M>
  [[gnu::always_inline]] void each(const char* name, const X& x, const M& m, int bit) {
    static_assert(std::is_array_v<X>, "each() takes an array");
    int words = 0;
    const u32* w = maskWords(m, words);
    checkBits<X>(words, bit, true);
    for (int i = 0; i < static_cast<int>(std::extent_v<X>); ++i) {
      if (presenceBit(w, bit + i)) take(name, &x, i, &x[i], sizeof x[i], static_cast<int>(std::extent_v<X>), w, bit + i);
    }
  }
  template <class S>
  void sub(const char* name, const S& s) {
    const int keep = prefix.enter(name);
    S::fields(*this, s);
    prefix.leave(keep);
  }

 private:
  // Offers the present field (or element index of it) and copies size bytes from at with its bit.
  [[gnu::noinline]] void take(const char* name, const void* field, int index, const void* at, size_t size,
                              int count, const u32* mask, int bit) {
    const u32 noted = rules::written();
    if (!fn(context, FieldView{prefix.text(), name, field, index, index >= 0 ? size * static_cast<size_t>(count) : size, count})) {
      if (refused != nullptr && std::memcmp(target(static_cast<const u8*>(at)), at, size) != 0) {
        setPresenceBit(reinterpret_cast<u32*>(refused + (reinterpret_cast<const u8*>(mask) - fromBase)), bit);
      }
      return;
    }
    // A range that a check noted on the way to taking it refused nothing.
    if (rules::written() != noted) rules::withdrawSince(noted);
    std::memcpy(target(static_cast<const u8*>(at)), at, size);
    setPresenceBit(target(mask), bit);
  }
  template <class X>
  X* target(const X* inFrom) {
    return reinterpret_cast<X*>(toBase + (reinterpret_cast<const u8*>(inFrom) - fromBase));
  }
  u8* toBase;
  const u8* fromBase;
  AcceptFn fn;
  void* context;
  u8* refused;
  Prefix prefix;
};

template <class T, class Accept>
void merge(T& to, const T& from, Accept& accept, u8* refused) {
  static_assert(std::is_trivially_copyable_v<T>, "records are plain structures");
  using Fn = std::remove_reference_t<Accept>;
  auto call = [](void* context, const FieldView& view) -> bool { return (*static_cast<Fn*>(context))(view); };
  Merger m(reinterpret_cast<u8*>(&to), reinterpret_cast<const u8*>(&from), call,
           const_cast<void*>(static_cast<const void*>(&accept)), refused);
  // The checks note their ranges on the record offered (a sub-record's, on the record around it).
  if constexpr (requires { T::TYPE_INDEX; }) {
    const rules::Checking checking(from);
    T::fields(m, from);
  } else {
    T::fields(m, from);
  }
}

}  // namespace internal

// Copies into `to` every field whose presence bit is set in `from` and for which accept(view)
// returns true, and sets that bit in `to`. Fields without presence bit are always copied;
// presence words themselves are only ever OR-ed through their fields.
template <class T, class Accept>
void merge(T& to, const T& from, Accept&& accept) {
  internal::merge(to, from, accept, nullptr);
}

// The same, and returns how many presence bits govern a present field (or element) that accept
// refused while it held another value than `to` keeps: the values of `from` lost. Fields that share
// a bit count once together.
template <class T, class Accept>
int mergeCountRefused(T& to, const T& from, Accept&& accept) {
  T refused;
  clearPresence(refused);
  internal::merge(to, from, accept, reinterpret_cast<u8*>(&refused));
  return presentBits(refused);
}

template <class T>
void merge(T& to, const T& from) {
  merge(to, from, [](const FieldView&) { return true; });
}

// Copies every field of saved and sets every presence bit (so the record is sent whole).
template <class T>
void resume(T& to, const T& saved) {
  std::memcpy(static_cast<void*>(&to), &saved, sizeof(T));
  setAllPresence(to);
}

// Clears in r every presence bit that is clear in allowed.
template <class T>
void keepPresence(T& r, const T& allowed) {
  const PresenceWords<T>& p = presenceWords<T>();
  u8* base = reinterpret_cast<u8*>(&r);
  const u8* kept = reinterpret_cast<const u8*>(&allowed);
  for (int i = 0; i < p.count; ++i) {
    u32 w, k;
    std::memcpy(&w, base + p.offset[i], 4);
    std::memcpy(&k, kept + p.offset[i], 4);
    w &= k;
    std::memcpy(base + p.offset[i], &w, 4);
  }
}

// A saved record as a resume takes it: every field present that passes check (a range check that
// builds into its second argument the present fields of its first that it takes, each with its
// presence bit), with its saved value; every other field absent.
template <class T, class Check>
T checkedImage(const T& saved, Check&& check) {
  T full = saved;
  setAllPresence(full);
  T taken{};
  check(full, taken);
  keepPresence(full, taken);
  return full;
}

namespace internal {

// Marks in the presence words of a scratch record (marks, laid out as the record visited: image)
// the bit of every field that is clear in taken and that holds another value in image than in kept.
class RefusedBits {
 public:
  RefusedBits(const u8* image, const u8* taken, const u8* kept, u8* marks)
      : image_(image), taken_(taken), kept_(kept), marks_(marks) {}
  template <class M>
  void mask(const char*, const M&) {}
  // A field without presence bit is an index byte: not counted.
  template <class X>
  void field(const char*, const X&) {}
  template <class X, class M>
  void field(const char*, const X& x, const M& m, int bit) {
    note(&x, sizeof x, m, bit);
  }
  template <class X, class M>
  void each(const char*, const X& x, const M& m, int bit) {
    for (int i = 0; i < static_cast<int>(std::extent_v<X>); ++i) note(&x[i], sizeof x[i], m, bit + i);
  }
  template <class S>
  void sub(const char*, const S& s) {
    S::fields(*this, s);
  }

 private:
  template <class M>
  void note(const void* at, size_t size, const M& m, int bit) {
    int words = 0;
    const size_t field = static_cast<size_t>(static_cast<const u8*>(at) - image_);
    const size_t mask = static_cast<size_t>(reinterpret_cast<const u8*>(maskWords(m, words)) - image_);
    if (presenceBit(reinterpret_cast<const u32*>(taken_ + mask), bit)) return;
    if (std::memcmp(image_ + field, kept_ + field, size) == 0) return;
    setPresenceBit(reinterpret_cast<u32*>(marks_ + mask), bit);
  }
  const u8* image_;
  const u8* taken_;
  const u8* kept_;
  u8* marks_;
};

}  // namespace internal

// The saved values that a range check refused: how many presence bits govern a field of image that
// taken (image as the check took it: the bits of the fields it took) leaves out and that holds
// another value in image than in kept (what the field holds instead). Fields that share a bit count
// once together; fields without presence bit (index bytes) do not count.
template <class T>
int refusedFields(const T& image, const T& taken, const T& kept) {
  T marks;
  clearPresence(marks);
  internal::RefusedBits v(reinterpret_cast<const u8*>(&image), reinterpret_cast<const u8*>(&taken),
                          reinterpret_cast<const u8*>(&kept), reinterpret_cast<u8*>(&marks));
  T::fields(v, image);
  return presentBits(marks);
}

// ---- Text form (front-end tool, tests) -----------------------------------------------------------
// A field is named by its dotted path ("trans.rate"); an element of an array by "edges[2]".
// Values are decimal or 0x hexadecimal integers (floats for float fields); a whole array takes
// a comma-separated list. Setting a field sets its presence bit; a presence word may be set by
// name too. Returns false for an unknown name or a malformed value.
bool setTextLeaf(const Leaf& f, std::string_view name, std::string_view value, bool& found);
// The values an integer kind holds (F32: the s32 range, unused).
void kindRange(Kind kind, long long& lo, long long& hi);
void appendTextLeaf(const Leaf& f, std::string& out);

template <class T>
bool setText(T& r, std::string_view name, std::string_view value) {
  struct S : LeafSink {
    std::string_view name, value;
    bool found = false, ok = true;
    void leaf(const Leaf& f) override {
      if (!found) ok = setTextLeaf(f, name, value, found);
    }
  } s;
  s.name = name;
  s.value = value;
  walk(r, s);
  return s.found && s.ok;
}

// One "name=value" line per field that is carried: fields without presence bit, fields whose bit
// is set, and the set elements of per-element arrays as "name[i]=value".
template <class T>
std::string toText(const T& r) {
  struct S : LeafSink {
    std::string out;
    void leaf(const Leaf& f) override { appendTextLeaf(f, out); }
  } s;
  walk(r, s);
  return s.out;
}

}  // namespace codec
