#pragma once
// Short texts carried in records (control panel configuration, system settings): the text field,
// the block of four texts, their wire form, the check that decides whether a received text may be
// taken, and the copy rule used when records are merged.
#include <type_traits>

#include "Lib/Include/codec.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"

// A text of at most CAPACITY characters. `count` is the number of characters: as received until the
// field is merged, then the number of characters kept. After a merge `chars` is zero-terminated.
template <int CAPACITY>
struct TextField {
  static_assert(CAPACITY > 0 && CAPACITY < 0x7FFF);
  static constexpr int capacity = CAPACITY;
  s16 count = 0;
  u8 chars[CAPACITY + 1] = {};
};

// Declares a text in a record's field list. The wire visitors of records with texts (below) take it
// whole through text(); the record codec sees its count and its characters as two fields that
// share the text's presence bit (its fixed-size wire form is not the text's, so records with texts
// are read and written by the visitors below), and its walk (codec::Walker) marks the count with
// the text's capacity.
template <class V, class T, class M>
constexpr void textField(V& v, const char* name, const char* charsName, T& t, M& mask, int bit) {
  if constexpr (requires { v.text(name, t, mask, bit); }) {
    v.text(name, t, mask, bit);
  } else if constexpr (requires { v.text(name, charsName, t, mask, bit); }) {
    v.text(name, charsName, t, mask, bit);
  } else {
    v.field(name, t.count, mask, bit);
    v.field(charsName, t.chars, mask, bit);
  }
}
#define MX_TEXT_FIELD(v, r, member, maskMember, bit) \
  textField(v, #member, #member ".chars", (r).member, (r).maskMember, bit)

// Four texts with a presence mask (bit n: text n + 1 present).
struct TextBlock {
  static constexpr int N_TEXTS = 4;
  u32 mask = 0;
  TextField<15> text1 = {};
  TextField<15> text2 = {};
  TextField<15> text3 = {};
  TextField<17> text4 = {};

  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    MX_TEXT_FIELD(v, r, text1, mask, 0);
    MX_TEXT_FIELD(v, r, text2, mask, 1);
    MX_TEXT_FIELD(v, r, text3, mask, 2);
    MX_TEXT_FIELD(v, r, text4, mask, 3);
  }
};
static_assert(sizeof(TextField<15>) == 18 && sizeof(TextField<17>) == 20);
static_assert(sizeof(TextBlock) == 80);
static_assert(offsetof(TextBlock, text1) == 4 && offsetof(TextBlock, text2) == 22 &&
              offsetof(TextBlock, text3) == 40 && offsetof(TextBlock, text4) == 58);

namespace libmx {

// The escape rule of texts: a character that stands for itself (printable ASCII but the double quote
// and the backslash, which the escape character opens) and what may follow the escape character.
constexpr u8 TEXT_ESCAPE = '\\';
constexpr bool isPlainTextChar(u8 c) { return c >= 0x20 && c <= 0x7E && c != '"' && c != TEXT_ESCAPE; }
constexpr bool isTextEscape(u8 c) { return c == '\'' || c == TEXT_ESCAPE || c == '"'; }

// Whether count characters of chars form an acceptable escaped text: printable ASCII where a double
// quote or a backslash appears only escaped by a backslash, and the only escapes are \' \\ \".
// A negative count, or a count above the field's capacity (more characters than were stored), is
// refused; no byte beyond the capacity is looked at.
bool isValidEscapedText(int count, const u8* chars, int capacity);

// Copies characters until a zero byte has been copied or capacity characters have been; sets the
// target's count to the characters kept and zero-terminates it. The source's count is not used.
// Both arrays hold capacity + 1 bytes.
void copyTextChars(s16& targetCount, u8* target, const u8* source, int capacity);

// Bytes a text takes on the wire: the u16 count, then count + 1 bytes unless the count is negative.
constexpr u32 textWireLength(int count) { return 2u + (count < 0 ? 0u : static_cast<u32>(count) + 1u); }

}  // namespace libmx

// A text's fixed-size form (its count and characters) is its wire form at its capacity, so the wire
// size of a record with texts (codec::wireSize) is the record's largest wire form; a longer text
// would be refused.
static_assert(libmx::textWireLength(15) == sizeof(TextField<15>::count) + sizeof(TextField<15>::chars));

template <int C>
bool isValidEscapedText(const TextField<C>& t) {
  return libmx::isValidEscapedText(t.count, t.chars, C);
}

// Whether a received text that the copy rule (copyText) stores may be taken: its count characters
// are a valid escaped text and the copy keeps exactly those, a zero byte following them or the
// field full. A zero byte further on would store characters that were never checked.
template <int C>
bool isReceivedTextValid(const TextField<C>& t) {
  return isValidEscapedText(t) && (t.count == C || t.chars[t.count] == 0);
}

namespace libmx {
// The characters a text takes beyond its count's range (0..capacity).
extern const rules::Rule ESCAPED_TEXT;
}  // namespace libmx

// After a request's text t (within record `request`) was refused: notes the text rule on it when its
// count lay within the capacity and its characters were what was refused.
template <class R, int C>
void noteRefusedText(const R& request, const TextField<C>& t) {
  if (0 <= t.count && t.count <= C && !isValidEscapedText(t)) rules::note(libmx::ESCAPED_TEXT, request, t);
}

// Copy rule of a merge: target takes source's characters up to its zero byte or the capacity.
template <int C>
void copyText(TextField<C>& target, const TextField<C>& source) {
  libmx::copyTextChars(target.count, target.chars, source.chars, C);
}

// Copies all four texts whatever the source's mask and marks them present in the target.
void copyTextFields(TextBlock& target, const TextBlock& source);

template <int C>
u32 textWireLength(const TextField<C>& t) {
  return libmx::textWireLength(t.count);
}

namespace libmx {

// Bounded big-endian reader over a byte span (a packet body taken out of a ring). Reading past the
// end yields zeros and marks it short; nothing beyond it is touched.
class WireIn {
 public:
  WireIn(const u8* data, size_t size) : data_(data), size_(size) {}
  u8 readU8() {
    if (pos_ < size_) return data_[pos_++];
    short_ = true;
    return 0;
  }
  u16 readU16() {
    const u16 hi = readU8();
    return static_cast<u16>(hi << 8 | readU8());
  }
  u32 readU32() {
    const u32 hi = readU16();
    return hi << 16 | readU16();
  }
  // Skips n bytes, as far as the body goes.
  void skip(int n) {
    if (n < 0) return;
    if (static_cast<size_t>(n) > size_ - pos_) {
      pos_ = size_;
      short_ = true;
    } else {
      pos_ += n;
    }
  }
  size_t position() const { return pos_; }
  bool isShort() const { return short_; }

 private:
  const u8* data_;
  size_t size_;
  size_t pos_ = 0;
  bool short_ = false;
};

// Big-endian writes onto anything with write(u8).
template <class Out>
void writeU16(Out& out, u16 v) {
  out.write(static_cast<u8>(v >> 8));
  out.write(static_cast<u8>(v));
}
template <class Out>
void writeU32(Out& out, u32 v) {
  writeU16(out, static_cast<u16>(v >> 16));
  writeU16(out, static_cast<u16>(v));
}

}  // namespace libmx

// Reads a text from a packet body (In: readU8, readU16, readU32 and skip(int), bounded by the
// body, as the request receiver and WireIn are). The count is kept as received; the bytes at
// indexes 0..capacity are stored and the rest skipped.
template <class In, int C>
void readText(In& in, TextField<C>& t) {
  const u16 n = in.readU16();
  t.count = static_cast<s16>(n);
  if (n & 0x8000u) return;
  const int stored = n < C ? n + 1 : C + 1;
  for (int i = 0; i < stored; ++i) t.chars[i] = in.readU8();
  in.skip(n + 1 - stored);
}

// Writes a text onto anything with write(u8): the count, then for indexes 0..count the stored byte
// up to the capacity and a zero beyond it.
template <class Out, int C>
void writeText(Out& out, const TextField<C>& t) {
  libmx::writeU16(out, static_cast<u16>(t.count));
  for (int i = 0; i <= t.count; ++i) out.write(i <= C ? t.chars[i] : 0);
}

namespace libmx {

// Wire form of a record whose field list (T::fields, as for the record codec) holds texts: every
// field big-endian at its width without padding, presence words as u32, texts in their wire form.
template <class In>
struct TextRecordReader : codec::EachValue<TextRecordReader<In>> {
  explicit TextRecordReader(In& i) : in(i) {}
  In& in;
  template <class X>
  void value(X& x) {
    if constexpr (std::is_array_v<X>) {
      for (size_t i = 0; i < std::extent_v<X>; ++i) value(x[i]);
    } else if constexpr (sizeof(X) == 1) {
      x = static_cast<X>(in.readU8());
    } else if constexpr (sizeof(X) == 2) {
      x = static_cast<X>(in.readU16());
    } else {
      static_assert(sizeof(X) == 4 && std::is_integral_v<X>);
      x = static_cast<X>(in.readU32());
    }
  }
  template <int C, class M>
  void text(const char*, TextField<C>& t, M&, int) { readText(in, t); }
};

template <class Out>
struct TextRecordWriter : codec::EachValue<TextRecordWriter<Out>> {
  explicit TextRecordWriter(Out& o) : out(o) {}
  Out& out;
  template <class X>
  void value(const X& x) {
    if constexpr (std::is_array_v<X>) {
      for (const auto& e : x) value(e);
    } else if constexpr (sizeof(X) == 1) {
      out.write(static_cast<u8>(x));
    } else if constexpr (sizeof(X) == 2) {
      writeU16(out, static_cast<u16>(x));
    } else {
      static_assert(sizeof(X) == 4 && std::is_integral_v<X>);
      writeU32(out, static_cast<u32>(x));
    }
  }
  template <int C, class M>
  void text(const char*, const TextField<C>& t, const M&, int) { writeText(out, t); }
};

struct TextRecordCounter : codec::EachValue<TextRecordCounter> {
  u32 n = 0;
  template <class X>
  void value(const X& x) { n += sizeof x; }
  template <int C, class M>
  void text(const char*, const TextField<C>& t, const M&, int) { n += textWireLength(t.count); }
};

// Copies each text whose presence bit is set in `from` into the same text of `to` by the copy rule.
template <class T>
struct TextRecordCopier {
  T& to;
  const T& from;
  template <class M>
  void mask(const char*, const M&) {}
  template <class X>
  void field(const char*, const X&) {}
  template <class X, class M>
  void field(const char*, const X&, const M&, int) {}
  template <class X, class M>
  void each(const char*, const X&, const M&, int) {}
  template <class S>
  void sub(const char*, const S& s) { S::fields(*this, s); }
  template <int C, class M>
  void text(const char*, const TextField<C>& t, const M& mask, int bit) {
    if (!codec::presenceBit(&mask, bit)) return;
    const auto offset = reinterpret_cast<const u8*>(&t) - reinterpret_cast<const u8*>(&from);
    copyText(*reinterpret_cast<TextField<C>*>(reinterpret_cast<u8*>(&to) + offset), t);
  }
};

// Presence-bit merge of a record with texts: the record codec's merge (each present field copied,
// its bit set in `to`), then every present text taken again by the copy rule, so that the merged
// text holds at most its capacity, its count says what it holds, and a zero follows.
template <class T>
void mergeTextRecord(T& to, const T& from) {
  codec::merge(to, from);
  TextRecordCopier<T> v{to, from};
  T::fields(v, from);
}

// Reads the record from a packet body (In as for readText); false when the body was too short.
template <class T, class In>
bool readTextRecord(In& in, T& r) {
  if constexpr (requires { in.finish(in.cursor()); }) {
    // Through a cursor kept in locals: the record's byte stores cannot alias it.
    auto c = in.cursor();
    TextRecordReader<decltype(c)> v{c};
    T::fields(v, r);
    in.finish(c);
  } else {
    TextRecordReader<In> v{in};
    T::fields(v, r);
  }
  return !in.isShort();
}

// Writes the record onto anything with write(u8).
template <class T, class Out>
void writeTextRecord(Out& out, const T& r) {
  TextRecordWriter<Out> v{out};
  T::fields(v, r);
}

// Bytes of the record's wire form.
template <class T>
u32 textRecordWireLength(const T& r) {
  TextRecordCounter v;
  T::fields(v, r);
  return v.n;
}

}  // namespace libmx
