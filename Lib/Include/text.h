#pragma once
// Short texts carried in records (control panel configuration, system settings): the text field,
// the block of four texts, their wire form, the check that decides whether a received text may be
// taken, and the copy rule used when records are merged.
#include "types.h"

// A text of at most CAPACITY characters. `count` is the number of characters: as received until the
// field is merged, then the number of characters kept. After a merge `chars` is zero-terminated.
template <int CAPACITY>
struct TextField {
  static_assert(CAPACITY > 0 && CAPACITY < 0x7FFF);
  static constexpr int capacity = CAPACITY;
  s16 count;
  u8 chars[CAPACITY + 1];
};

// Four texts with a presence mask (bit n: text n + 1 present).
struct TextBlock {
  static constexpr int N_TEXTS = 4;
  u32 mask;
  TextField<15> text1;
  TextField<15> text2;
  TextField<15> text3;
  TextField<17> text4;
};
static_assert(sizeof(TextField<15>) == 18 && sizeof(TextField<17>) == 20);
static_assert(sizeof(TextBlock) == 80);
static_assert(offsetof(TextBlock, text1) == 4 && offsetof(TextBlock, text2) == 22 &&
              offsetof(TextBlock, text3) == 40 && offsetof(TextBlock, text4) == 58);

namespace libmx {

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
inline u32 textWireLength(int count) { return 2u + (count < 0 ? 0u : static_cast<u32>(count) + 1u); }

}  // namespace libmx

template <int C>
bool isValidEscapedText(const TextField<C>& t) {
  return libmx::isValidEscapedText(t.count, t.chars, C);
}

// Copy rule of a merge: target takes source's characters up to its zero byte or the capacity.
template <int C>
void copyText(TextField<C>& target, const TextField<C>& source) {
  libmx::copyTextChars(target.count, target.chars, source.chars, C);
}

// Copies all four texts whatever the source's mask and marks them present in the target.
void copyTextFields(TextBlock& target, const TextBlock& source);
// Copies the texts whose bit is set in the source's mask and sets those bits in the target.
void mergeTextBlock(TextBlock& target, const TextBlock& source);

// Wire length of a text block: the u32 mask and four texts.
u32 textBlockWireLength(const TextBlock& block);

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

template <class In>
void readTextBlock(In& in, TextBlock& b) {
  b.mask = in.readU32();
  readText(in, b.text1);
  readText(in, b.text2);
  readText(in, b.text3);
  readText(in, b.text4);
}

template <class Out>
void writeTextBlock(Out& out, const TextBlock& b) {
  libmx::writeU32(out, b.mask);
  writeText(out, b.text1);
  writeText(out, b.text2);
  writeText(out, b.text3);
  writeText(out, b.text4);
}
