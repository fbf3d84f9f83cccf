#include "Lib/Include/codec.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Timing {
  u32 mask;
  u8 flag;   // bit 0
  s16 rate;  // bit 1
  template <class V, class R>
  static void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
    v.field("rate", r.rate, r.mask, 1);
  }
};

// Every kind of declaration: unmasked field, shared bit, whole-array bit, per-element bits,
// sub-records (the same form twice), a float, a mask array, and a head bit behind sub-records.
struct Sample {
  u32 mask;
  u8 me;
  u8 mode;
  u8 pairA;
  u8 pairB;
  s16 edges[4];
  u32 keyMask;
  u8 key[4];
  Timing trans;
  float level;
  u32 tallyMask[2];
  u16 tally[40];
  Timing other;
  s8 status;
  template <class V, class R>
  static void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("me", r.me);
    v.field("mode", r.mode, r.mask, 0);
    v.field("pairA", r.pairA, r.mask, 1);
    v.field("pairB", r.pairB, r.mask, 1);
    v.field("edges", r.edges, r.mask, 2);
    v.mask("keyMask", r.keyMask);
    v.each("key", r.key, r.keyMask, 0);
    v.sub("trans", r.trans);
    v.field("level", r.level, r.mask, 3);
    v.mask("tallyMask", r.tallyMask);
    v.each("tally", r.tally, r.tallyMask, 0);
    v.sub("other", r.other);
    v.field("status", r.status, r.mask, 4);
  }
};

constexpr size_t SAMPLE_WIRE = 4 + 4 + 8 + 4 + 4 + 7 + 4 + 8 + 80 + 7 + 1;

Sample filled() {
  Sample s{};
  s.mask = 0x1F;
  s.me = 2;
  s.mode = 7;
  s.pairA = 1;
  s.pairB = 2;
  s.edges[0] = -2;
  s.edges[3] = 0x1234;
  s.keyMask = 0x5;
  s.key[0] = 9;
  s.key[2] = 8;
  s.trans = {0x3, 1, -300};
  s.level = 1.5f;
  s.tallyMask[1] = 0x8;  // tally[35]
  s.tally[35] = 0xBEEF;
  s.other = {0x2, 0, 77};
  s.status = -5;
  return s;
}

bool same(const Sample& a, const Sample& b) { return codec::toText(a) == codec::toText(b) && a.mask == b.mask; }

TEST(CodecWire, WritesEveryFieldBigEndianInDeclarationOrder) {
  EXPECT_EQ(codec::wireSize<Sample>(), SAMPLE_WIRE);
  std::vector<u8> out(SAMPLE_WIRE + 4, 0xCC);
  ASSERT_EQ(codec::encode(filled(), out.data(), out.size()), SAMPLE_WIRE);
  struct Expect {
    size_t at;
    std::vector<u8> bytes;
  } expects[] = {
      {0, {0, 0, 0, 0x1F}},         // mask
      {4, {2, 7, 1, 2}},            // me, mode, pairA, pairB
      {8, {0xFF, 0xFE, 0, 0}},      // edges[0] = -2
      {14, {0x12, 0x34}},           // edges[3]
      {16, {0, 0, 0, 5}},           // keyMask
      {20, {9, 0, 8, 0}},           // key
      {24, {0, 0, 0, 3, 1, 0xFE, 0xD4}},  // trans: mask, flag, rate -300
      {31, {0x3F, 0xC0, 0, 0}},     // level 1.5
      {39, {0, 0, 0, 8}},           // tallyMask[1]
      {43 + 70, {0xBE, 0xEF}},      // tally[35]
      {123, {0, 0, 0, 2, 0, 0, 77}},  // other
      {130, {0xFB}},                // status -5
      {131, {0xCC}},                // nothing beyond the wire length
  };
  for (const auto& e : expects) {
    for (size_t i = 0; i < e.bytes.size(); ++i) EXPECT_EQ(out[e.at + i], e.bytes[i]) << "byte " << e.at + i;
  }
  EXPECT_EQ(codec::encode(filled(), out.data(), SAMPLE_WIRE - 1), 0u);
}

TEST(CodecWire, ReadsExactlyTheWireLengthAndRefusesShortBodies) {
  std::vector<u8> wire(SAMPLE_WIRE + 10, 0xAA);
  codec::encode(filled(), wire.data(), wire.size());
  Sample back{};
  ASSERT_TRUE(codec::read(wire.data(), wire.size(), back));
  EXPECT_TRUE(same(back, filled()));

  Sample untouched{};
  untouched.mode = 42;
  EXPECT_FALSE(codec::read(wire.data(), SAMPLE_WIRE - 1, untouched));
  EXPECT_EQ(untouched.mode, 42);
  EXPECT_EQ(untouched.mask, 0u);
}

TEST(CodecMerge, CopiesOnlyFieldsWhosePresenceBitIsSet) {
  Sample live = filled();
  live.mask = 0;
  live.keyMask = 0;
  live.trans.mask = 0;
  live.tallyMask[1] = 0;
  Sample in{};
  in.me = 3;           // no presence bit: always taken
  in.mask = 0x2;       // pairA and pairB travel together
  in.pairA = 5;
  in.pairB = 6;
  in.mode = 99;        // bit 0 clear: ignored
  in.keyMask = 0x2;    // only key[1]
  in.key[0] = 50;
  in.key[1] = 51;
  in.trans.mask = 0x2;
  in.trans.rate = 25;
  in.trans.flag = 0;
  in.tallyMask[1] = 0x1;  // tally[32]
  in.tally[32] = 321;
  in.tally[35] = 1;
  codec::merge(live, in);
  // me, pairA, pairB, mode, key[0], key[1], trans.rate, trans.flag, tally[32], tally[35]
  EXPECT_EQ(std::vector<int>({live.me, live.pairA, live.pairB, live.mode, live.key[0], live.key[1], live.trans.rate,
                              live.trans.flag, live.tally[32], live.tally[35]}),
            std::vector<int>({3, 5, 6, 7, 9, 51, 25, 1, 321, 0xBEEF}));
  // The presence words: mask, keyMask, trans.mask, tallyMask[0], tallyMask[1].
  EXPECT_EQ(std::vector<u32>({live.mask, live.keyMask, live.trans.mask, live.tallyMask[0], live.tallyMask[1]}),
            std::vector<u32>({0x2, 0x2, 0x2, 0, 0x1}));
}

TEST(CodecMerge, ValidationHookDropsFieldsAndLeavesTheirBitsClear) {
  Sample live{};
  Sample in = filled();
  in.trans.rate = 5000;
  std::vector<std::string> offered;
  codec::merge(live, in, [&](const codec::FieldView& f) {
    offered.push_back(std::string(f.prefix) + f.name + (f.index >= 0 ? "[" + std::to_string(f.index) + "]" : ""));
    if (f.is(in.trans.rate)) return in.trans.rate <= 999;
    if (f.is(in.key)) return f.index != 2;
    return true;
  });
  EXPECT_EQ(std::vector<int>({live.trans.rate, live.trans.flag, live.key[0], live.key[2]}),
            std::vector<int>({0, 1, 9, 0}));
  EXPECT_EQ(live.trans.mask, 0x1u);
  EXPECT_EQ(live.keyMask, 0x1u);
  std::vector<std::string> expected = {"mode",      "pairA",      "pairB", "edges",      "key[0]",
                                       "key[2]",    "trans.flag", "trans.rate", "level", "tally[35]",
                                       "other.rate", "status"};
  EXPECT_EQ(offered, expected);
}

TEST(CodecPresence, ResumeSetsEveryDeclaredBitAndClearEmptiesEveryWord) {
  Sample saved = filled();
  saved.mask = saved.keyMask = saved.trans.mask = saved.other.mask = 0;
  saved.tallyMask[0] = saved.tallyMask[1] = 0;
  Sample live{};
  codec::resume(live, saved);
  EXPECT_EQ(live.tally[35], 0xBEEF);
  // mask, keyMask, trans.mask, other.mask, tallyMask[0], tallyMask[1]: every declared bit, no other.
  EXPECT_EQ(std::vector<u32>({live.mask, live.keyMask, live.trans.mask, live.other.mask, live.tallyMask[0],
                              live.tallyMask[1]}),
            std::vector<u32>({0x1F, 0xF, 0x3, 0x3, 0xFFFFFFFF, 0xFF}));
  EXPECT_TRUE(codec::hasAny(live));
  Sample allowed{};
  allowed.keyMask = 0x4;
  allowed.tallyMask[1] = 0x8;
  Sample kept = live;
  codec::keepPresence(kept, allowed);
  EXPECT_EQ(std::vector<u32>({kept.mask, kept.keyMask, kept.trans.mask, kept.tallyMask[0], kept.tallyMask[1]}),
            std::vector<u32>({0, 0x4, 0, 0, 0x8}));
  // Presence words do not count in sameValues; a field of a sub-record does.
  EXPECT_TRUE(codec::sameValues(live, kept));
  kept.other.rate = 78;
  EXPECT_FALSE(codec::sameValues(live, kept));
  codec::clearPresence(live);
  EXPECT_FALSE(codec::hasAny(live));
  EXPECT_EQ(live.tally[35], 0xBEEF);
  live.other.mask = 4;
  EXPECT_TRUE(codec::hasAny(live));
  live.other.mask = 0;
  live.tallyMask[1] = 0x80000000;  // the last bit of a mask array's second word
  EXPECT_TRUE(codec::hasAny(live));
}

TEST(CodecText, SetsFieldsByNameAndListsWhatIsCarried) {
  Sample r{};
  struct Case {
    const char* name;
    const char* value;
    bool ok;
  } cases[] = {
      {"mode", "3", true},           {"trans.rate", "-25", true},  {"edges", "1,-2,0x10,4", true},
      {"key[2]", "1", true},         {"level", "0.5", true},       {"tally[33]", "7", true},
      {"me", "1", true},             {"mode", "256", false},       {"edges", "1,2,3,4,5", false},
      {"key[4]", "1", false},        {"nosuch", "1", false},       {"trans.rat", "1", false},
      {"status", "x", false},
  };
  for (const auto& c : cases) EXPECT_EQ(codec::setText(r, c.name, c.value), c.ok) << c.name << "=" << c.value;
  // The text lists the fields whose bits are set, with their values.
  EXPECT_EQ(codec::toText(r),
            "me=1\nmode=3\nedges=1,-2,16,4\nkey[2]=1\ntrans.rate=-25\nlevel=0.5\ntally[33]=7\n");
}

// One field of each integer kind, for the limits of the text form.
struct Kinds {
  u8 a;
  s8 b;
  u16 c;
  s16 d;
  u32 e;
  s32 f;
  template <class V, class R>
  static void fields(V& v, R& r) {
    v.field("u8", r.a);
    v.field("s8", r.b);
    v.field("u16", r.c);
    v.field("s16", r.d);
    v.field("u32", r.e);
    v.field("s32", r.f);
  }
};

TEST(CodecText, EachKindTakesItsWholeRangeAndNoMore) {
  Kinds r{};
  struct Case {
    const char* name;
    const char* value;
    bool ok;
  } cases[] = {
      {"u8", "255", true},           {"u8", "256", false},          {"u8", "-1", false},
      {"s8", "127", true},           {"s8", "128", false},          {"s8", "-129", false},
      {"s8", "-128", true},          {"u16", "0xFFFF", true},       {"u16", "0x10000", false},
      {"s16", "0x7FFF", true},       {"s16", "0x8000", false},      {"s16", "-32769", false},
      {"s16", "-32768", true},       {"u32", "0x100000000", false}, {"u32", "0xFFFFFFFF", true},
      {"s32", "2147483647", true},   {"s32", "2147483648", false},  {"s32", "-2147483649", false},
      {"s32", "-2147483648", true},
  };
  for (const auto& c : cases) EXPECT_EQ(codec::setText(r, c.name, c.value), c.ok) << c.name << "=" << c.value;
  EXPECT_EQ(codec::toText(r), "u8=255\ns8=-128\nu16=65535\ns16=-32768\nu32=4294967295\ns32=-2147483648\n");
}

}  // namespace
