#pragma once
// Record codec: a record lists its fields once, in wire order, and every form of the record is
// derived from that list: the big-endian wire reader and writer, the wire length, the presence-bit
// merge of `assign`, the whole-record copy of `resume`, clearing and testing the presence words,
// and the name-based text form used by the front-end tool.
//
// A record declares its fields in a static member template `fields`, called with a visitor and
// the record (const or not):
//
//   struct MxifExample {
//     u32 mask;         // presence word of the head group
//     u8 me;            // index byte, carried in every message
//     u8 mode;          // mask bit 0
//     s16 edges[4];     // mask bit 1 covers the whole array
//     u32 keyMask;      // presence word with one bit per element of `key`
//     u8 key[4];        // keyMask bits 0..3
//     Timing trans;     // sub-record: starts with its own presence word
//     template <class V, class R> static void fields(V& v, R& r) {
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
//   field(name, x, mask, bit)       a scalar or array field; one bit covers the whole field
//   each(name, array, mask, bit)    an array with one bit per element (bit, bit + 1, ...); with a
//                                   mask array, bit 32 is bit 0 of its second word and so on
//   sub(name, s)                    a sub-record with its own `fields`; its names get "name."
// Fields are u8, s8, u16, s16, u32, s32 (or enums and bools of those widths), float, and fixed
// arrays of them; a field may name any presence word of the record (a head bit may govern a field
// that lies behind a sub-record), and several fields may share one bit (they travel together).
// On the wire every field is written big-endian at its own width, presence words as u32, without
// padding; float as its IEEE-754 bit pattern.
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

#include "Lib/Include/check.h"
#include "Lib/Include/types.h"

namespace codec {

enum class Kind : u8 { U8, S8, U16, S16, U32, S32, F32 };

inline int widthOf(Kind k) {
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

// The visitor handed to a record's `fields`; it turns every declaration into a Leaf.
class Walker {
 public:
  explicit Walker(LeafSink& sink) : sink_(sink) { prefix_[0] = 0; }

  template <class M>
  void mask(const char* name, M& m) {
    int words = 0;
    u32* w = internal::maskWords(m, words);
    sink_.leaf({prefix_, name, reinterpret_cast<u8*>(w), Kind::U32, words, nullptr, 0, false, true});
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
    size_t keep = std::strlen(prefix_);
    size_t n = std::strlen(name);
    MX_CHECK(keep + n + 2 <= sizeof(prefix_));
    std::memcpy(prefix_ + keep, name, n);
    prefix_[keep + n] = '.';
    prefix_[keep + n + 1] = 0;
    std::remove_const_t<S>::fields(*this, s);
    prefix_[keep] = 0;
  }

 private:
  template <class X>
  void emit(const char* name, X& x, u32* mask, int words, int bit, bool perElement) {
    using S = internal::Shape<std::remove_cv_t<X>>;
    constexpr Kind kind = internal::kindOf<typename S::Elem>();
    int last = bit + (perElement ? S::count - 1 : 0);
    MX_CHECK(mask == nullptr || (0 <= bit && last < 32 * words));
    sink_.leaf({prefix_, name, internal::bytesOf(x), kind, S::count, mask, bit, perElement, false});
  }

  LeafSink& sink_;
  char prefix_[64];
};

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

// Bytes of the record on the wire.
template <class T>
size_t wireSize() {
  struct Count : LeafSink {
    size_t n = 0;
    void leaf(const Leaf& f) override { n += static_cast<size_t>(widthOf(f.kind)) * f.count; }
  };
  static const size_t size = [] {
    T t{};
    Count c;
    walk(t, c);
    return c.n;
  }();
  return size;
}

// Writes the record's wire form, byte by byte, to anything with write(u8).
template <class T, class Out>
void write(const T& r, Out& out) {
  struct Writer : LeafSink {
    explicit Writer(Out& o) : out(o) {}
    Out& out;
    void leaf(const Leaf& f) override {
      int w = widthOf(f.kind);
      for (int i = 0; i < f.count; ++i) {
        u32 v = loadElement(f, i);
        for (int b = w - 1; b >= 0; --b) out.write(static_cast<u8>(v >> (8 * b)));
      }
    }
  } writer(out);
  walk(r, writer);
}

// Writes the wire form into out; returns the bytes written, 0 when cap is too small.
template <class T>
size_t encode(const T& r, u8* out, size_t cap) {
  size_t n = wireSize<T>();
  if (cap < n) return 0;
  struct Span {
    u8* p;
    void write(u8 b) { *p++ = b; }
  } span{out};
  write(r, span);
  return n;
}

// Reads the record from exactly the first wireSize<T>() bytes of data. Returns false, leaving r
// as it was, when size is shorter than that.
void decodeLeaf(const Leaf& f, const u8*& p);
template <class T>
bool read(const u8* data, size_t size, T& r) {
  if (size < wireSize<T>()) return false;
  struct Reader : LeafSink {
    const u8* p;
    void leaf(const Leaf& f) override { decodeLeaf(f, p); }
  } reader;
  reader.p = data;
  walk(r, reader);
  return true;
}

// One field (or one element of a per-element array) offered to a merge.
struct FieldView {
  const char* prefix;
  const char* name;
  const void* field;  // start of the field in the incoming record
  int index;          // element of a per-element array, -1 for a whole field
  template <class X>
  bool is(const X& member) const {
    return field == static_cast<const void*>(&member);
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
void clearPresence(const Leaf& f);
bool anyPresence(const Leaf& f);
using AcceptFn = bool (*)(void* context, const FieldView& view);
void mergeLeaf(const Leaf& from, const u8* fromBase, u8* toBase, AcceptFn accept, void* context);

template <class T>
void setAllPresence(T& r) {
  struct S : LeafSink {
    void leaf(const Leaf& f) override { setAllPresence(f); }
  } s;
  walk(r, s);
}

template <class T>
void clearPresence(T& r) {
  struct S : LeafSink {
    void leaf(const Leaf& f) override { clearPresence(f); }
  } s;
  walk(r, s);
}

template <class T>
bool hasAny(const T& r) {
  struct S : LeafSink {
    bool any = false;
    void leaf(const Leaf& f) override { any = any || anyPresence(f); }
  } s;
  walk(r, s);
  return s.any;
}

// Whether two records hold the same value in every field; presence words and padding do not count.
template <class T>
bool sameValues(const T& a, const T& b) {
  struct S : LeafSink {
    const u8* aBase;
    const u8* bBase;
    bool same = true;
    void leaf(const Leaf& f) override {
      if (!same || f.isMask) return;
      const u8* other = bBase + (f.data - aBase);
      same = std::memcmp(f.data, other, static_cast<size_t>(widthOf(f.kind) * f.count)) == 0;
    }
  } s;
  s.aBase = reinterpret_cast<const u8*>(&a);
  s.bBase = reinterpret_cast<const u8*>(&b);
  walk(a, s);
  return s.same;
}

// Copies into `to` every field whose presence bit is set in `from` and for which accept(view)
// returns true, and sets that bit in `to`. Fields without presence bit are always copied;
// presence words themselves are only ever OR-ed through their fields.
template <class T, class Accept>
void merge(T& to, const T& from, Accept&& accept) {
  struct S : LeafSink {
    const u8* fromBase;
    u8* toBase;
    std::remove_reference_t<Accept>* fn;
    static bool call(void* ctx, const FieldView& v) { return (*static_cast<std::remove_reference_t<Accept>*>(ctx))(v); }
    void leaf(const Leaf& f) override { mergeLeaf(f, fromBase, toBase, &S::call, fn); }
  } s;
  s.fromBase = reinterpret_cast<const u8*>(&from);
  s.toBase = reinterpret_cast<u8*>(&to);
  s.fn = &accept;
  walk(from, s);
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
  struct S : LeafSink {
    const u8* base;
    const u8* other;
    void leaf(const Leaf& f) override {
      if (!f.isMask) return;
      Leaf o = f;
      o.data = const_cast<u8*>(other) + (f.data - base);
      for (int i = 0; i < f.count; ++i) storeElement(f, i, loadElement(f, i) & loadElement(o, i));
    }
  } s;
  s.base = reinterpret_cast<const u8*>(&r);
  s.other = reinterpret_cast<const u8*>(&allowed);
  walk(r, s);
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
