#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Lib/Include/text.h"

namespace {

using libmx::WireIn;

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
  struct Case {
    std::string chars;
    int count;  // -2: the length of chars
    bool valid;
  } cases[] = {
      {"", 0, true}, {"", -1, false}, {"\\\\", -2, true}, {"\\\"", -2, true}, {"\\'", -2, true}, {"it's", -2, true},
      {"\\", -2, false}, {"\"", -2, false}, {"\\n", -2, false},  // unpaired backslash, plain quote, unknown escape
      {std::string("a\0b", 3), -2, false}, {"\x7F", -2, false}, {"\x1F", -2, false},  // zero and control bytes
      {"~", -2, true}, {" ", -2, true}, {"192.168.0.1", -2, true},
      {"abc", 2, true}, {"a\"", 1, true},  // only count characters are examined
      {"123456789012345", -2, true}, {"1234567890123456", -2, false},  // the capacity, one past it
      {"abc", 20, false}, {"abc", 0x7FFF, false},                       // count far past the stored bytes
  };
  for (const auto& c : cases) {
    const auto t = text<15>(c.chars, c.count);
    EXPECT_EQ(isValidEscapedText(t), c.valid) << '"' << c.chars << "\" count " << t.count;
  }
  // The capacity-17 field takes 17 characters.
  EXPECT_TRUE(isValidEscapedText(text<17>("12345678901234567")));
  EXPECT_FALSE(libmx::isValidEscapedText(18, text<17>("12345678901234567").chars, 17));
}

TEST(EscapedText, ReadStoresCapacityPlusOneBytesAndKeepsTheCount) {
  struct Case {
    std::vector<u8> body;
    s16 count;
    std::string stored;   // chars[0..15] after the read
    size_t consumed;
  } cases[] = {
      {{0x00, 0x03, 'a', 'b', 'c', 0, 'X'}, 3, std::string("abc\0", 4), 6},  // count 3: four bytes
      {{0xFF, 0xFF, 'X'}, -1, "", 2},                                        // negative: nothing
      {{0x80, 0x00, 'X'}, -32768, "", 2},
      {{0x00, 0x00, 0, 'X'}, 0, std::string(1, '\0'), 3},
  };
  for (const auto& c : cases) {
    WireIn in(c.body.data(), c.body.size());
    TextField<15> t{};
    readText(in, t);
    EXPECT_EQ(t.count, c.count);
    EXPECT_EQ(in.position(), c.consumed);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.chars), c.stored.size()), c.stored);
  }

  // Count 20 for capacity 15: 21 bytes follow; the first 16 are kept, the rest dropped.
  std::vector<u8> body{0x00, 20};
  for (int i = 0; i < 20; ++i) body.push_back(static_cast<u8>('A' + i));
  body.push_back(0);
  body.push_back(0x5A);  // next field
  WireIn in(body.data(), body.size());
  TextField<15> t{};
  readText(in, t);
  EXPECT_EQ(t.count, 20);
  EXPECT_EQ(in.position(), body.size() - 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.chars), 16), "ABCDEFGHIJKLMNOP");
  EXPECT_FALSE(isValidEscapedText(t));
}

TEST(EscapedText, ReadOfATruncatedBodyStopsAtItsEnd) {
  const std::vector<u8> body{0x7F, 0xFF, 'a', 'b'};
  WireIn in(body.data(), body.size());
  TextField<15> t{};
  readText(in, t);
  EXPECT_TRUE(in.isShort());
  EXPECT_EQ(in.position(), body.size());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.chars), 3), std::string("ab\0", 3));  // nothing beyond

  // Dropping the rest of an over-long text stops at the body's end as well.
  std::vector<u8> longer{0x00, 40};
  for (int i = 0; i < 20; ++i) longer.push_back('x');
  WireIn in2(longer.data(), longer.size());
  readText(in2, t);
  EXPECT_TRUE(in2.isShort());
  EXPECT_EQ(in2.position(), longer.size());
}

TEST(EscapedText, WriteSendsCountPlusOneBytesZeroBeyondTheCapacity) {
  struct Case {
    TextField<7> t;
    std::vector<u8> wire;
  } cases[] = {
      {text<7>(std::string("ab\0", 3), 2), {0x00, 0x02, 'a', 'b', 0}},
      {text<7>("xyz", -1), {0xFF, 0xFF}},
      {text<7>("", 0), {0x00, 0x00, 0}},
      // A count as received beyond the capacity: the stored 8 bytes, then zeros.
      {text<7>("ABCDEFGH", 10), {0x00, 0x0A, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 0, 0, 0}},
  };
  for (const auto& c : cases) {
    BodyOut out;
    writeText(out, c.t);
    EXPECT_EQ(out.bytes, c.wire);
    EXPECT_EQ(out.bytes.size(), textWireLength(c.t));
  }
}

TEST(EscapedText, CopyRule) {
  struct Case {
    std::string source;  // stored bytes (up to 16)
    s16 sourceCount;
    s16 count;
    std::string kept;
  } cases[] = {
      {"ABCDEFGHIJKLMNOP", 16, 15, "ABCDEFGHIJKLMNO"},           // no zero: 15 kept, zero at 15
      {std::string("abcd\0zz", 7), 9, 4, "abcd"},                 // stops at the zero byte
      {std::string("abcd\0zz", 7), -1, 4, "abcd"},                // the source count is not used
      {std::string(1, '\0'), 5, 0, ""},
      {"123456789012345", 15, 15, "123456789012345"},
  };
  for (const auto& c : cases) {
    TextField<15> src = text<15>(c.source, c.sourceCount);
    TextField<15> dst;
    std::memset(static_cast<void*>(&dst), 0xEE, sizeof dst);
    copyText(dst, src);
    EXPECT_EQ(dst.count, c.count) << c.source;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(dst.chars), static_cast<size_t>(dst.count)), c.kept);
    EXPECT_EQ(dst.chars[dst.count], 0);
  }
}

// The block's wire form and merge: the system record, which carries it.
TEST(EscapedText, BlockCopiesAllFourTexts) {
  TextBlock back{};
  back.text1 = text<15>("one");
  back.text2 = text<15>("", -1);
  back.text4 = text<17>("12345678901234567");
  TextBlock all{};
  copyTextFields(all, back);
  EXPECT_EQ(all.mask, 0xFu);
  EXPECT_EQ(std::vector<int>({all.text1.count, all.text2.count, all.text4.count, all.text4.chars[17]}),
            std::vector<int>({3, 0, 17, 0}));
}

}  // namespace
