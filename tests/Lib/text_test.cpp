#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "Lib/Include/text.h"

namespace {

struct BodyOut {
  std::vector<u8> bytes;
  void write(u8 b) { bytes.push_back(b); }
};

template <int C>
TextField<C> text(const std::string& s, int count = -2) {
  TextField<C> t{};
  std::memcpy(t.chars, s.data(), std::min<size_t>(s.size(), C + 1));
  t.count = static_cast<s16>(count == -2 ? static_cast<int>(s.size()) : count);
  return t;
}

TEST(EscapedText, Validity) {
  const std::tuple<std::string, int, bool> cases[] = {  // chars, count (-2: their length), valid
      {"", 0, true}, {"", -1, false}, {"\\\\", -2, true}, {"\\\"", -2, true}, {"\\'", -2, true}, {"it's", -2, true},
      {"\\", -2, false}, {"\"", -2, false}, {"\\n", -2, false},  // unpaired backslash, plain quote, unknown escape
      {std::string("a\0b", 3), -2, false}, {"\x7F", -2, false}, {"\x1F", -2, false},  // zero and control bytes
      {"~", -2, true}, {" ", -2, true}, {"192.168.0.1", -2, true},
      {"abc", 2, true}, {"a\"", 1, true},  // only count characters are examined
      {"123456789012345", -2, true}, {"1234567890123456", -2, false},  // the capacity, one past it
      {"abc", 20, false}, {"abc", 0x7FFF, false},                       // count far past the stored bytes
  };
  for (const auto& [chars, count, valid] : cases) {
    EXPECT_EQ(isValidEscapedText(text<15>(chars, count)), valid) << '"' << chars << "\" count " << count;
  }
  // The capacity-17 field takes 17 characters.
  EXPECT_TRUE(isValidEscapedText(text<17>("12345678901234567")));
  EXPECT_FALSE(libmx::isValidEscapedText(18, text<17>("12345678901234567").chars, 17));
}

// A received text is taken only when the copy keeps exactly the characters that were checked.
TEST(EscapedText, ReceivedTextKeepsOnlyCheckedCharacters) {
  const std::tuple<std::string, int, bool> cases[] = {  // chars, count, taken
      {"abc", 3, true}, {"", 0, true}, {"123456789012345", 15, true},
      {"abc", 2, false}, {"\x03", 0, false}, {"a\x01", 1, false},  // the copy would run past the count
  };
  for (const auto& [chars, count, taken] : cases) {
    EXPECT_EQ(isReceivedTextValid(text<15>(chars, count)), taken) << '"' << chars << "\" count " << count;
  }
}

// The count is kept as received; bytes 0..capacity are stored, the rest skipped, never past the body.
TEST(EscapedText, ReadStoresCapacityPlusOneBytesAndKeepsTheCount) {
  using namespace std::string_literals;
  const std::tuple<std::string, s16, std::string, size_t, bool> cases[] = {  // body, count, chars, consumed, short
      {"\x00\x03" "abc\0X"s, 3, "abc\0"s, 6, false},  // count 3: four bytes
      {"\xFF\xFF" "X"s, -1, "", 2, false},            // negative: nothing
      {"\x80\x00" "X"s, -32768, "", 2, false},
      {"\x00\x00\x00" "X"s, 0, "\0"s, 3, false},
      {"\x00\x14" "ABCDEFGHIJKLMNOPQRST\0Z"s, 20, "ABCDEFGHIJKLMNOP", 23, false},  // 21 bytes, 16 kept
      {"\x7F\xFF" "ab"s, 0x7FFF, "ab\0"s, 4, true},                                // the body ends first
      {"\x00\x28"s + std::string(20, 'x'), 40, std::string(16, 'x'), 22, true},
  };
  for (const auto& [body, count, stored, consumed, isShort] : cases) {
    libmx::WireIn in(reinterpret_cast<const u8*>(body.data()), body.size());
    TextField<15> t{};
    readText(in, t);
    EXPECT_EQ(std::tuple(t.count, in.position(), in.isShort()), std::tuple(count, consumed, isShort)) << count;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.chars), stored.size()), stored);
  }
}

TEST(EscapedText, WriteSendsCountPlusOneBytesZeroBeyondTheCapacity) {
  const std::pair<TextField<7>, std::vector<u8>> cases[] = {
      {text<7>(std::string("ab\0", 3), 2), {0x00, 0x02, 'a', 'b', 0}},
      {text<7>("xyz", -1), {0xFF, 0xFF}},
      {text<7>("", 0), {0x00, 0x00, 0}},
      // A count as received beyond the capacity: the stored 8 bytes, then zeros.
      {text<7>("ABCDEFGH", 10), {0x00, 0x0A, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0, 0, 0}},
  };
  for (const auto& [t, wire] : cases) {
    BodyOut out;
    writeText(out, t);
    EXPECT_EQ(out.bytes, wire);
    EXPECT_EQ(out.bytes.size(), textWireLength(t));
  }
}

TEST(EscapedText, CopyRule) {
  const std::tuple<std::string, s16, s16, std::string> cases[] = {  // source bytes and count, count and text kept
      {"ABCDEFGHIJKLMNOP", 16, 15, "ABCDEFGHIJKLMNO"},           // no zero: 15 kept, zero at 15
      {std::string("abcd\0zz", 7), 9, 4, "abcd"},                 // stops at the zero byte
      {std::string("abcd\0zz", 7), -1, 4, "abcd"},                // the source count is not used
      {std::string(1, '\0'), 5, 0, ""},
      {"123456789012345", 15, 15, "123456789012345"},
  };
  for (const auto& [source, sourceCount, count, kept] : cases) {
    TextField<15> dst;
    std::memset(static_cast<void*>(&dst), 0xEE, sizeof dst);
    copyText(dst, text<15>(source, sourceCount));
    EXPECT_EQ(dst.count, count) << source;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.chars), static_cast<size_t>(dst.count) + 1), kept + '\0');
  }
}

}  // namespace
