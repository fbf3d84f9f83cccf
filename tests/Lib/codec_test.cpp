#include "Lib/Include/codec.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <tuple>
#include <vector>

namespace {

struct Timing {
  u32 mask;
  u8 flag;   // bit 0
  s16 rate;  // bit 1
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
    v.field("rate", r.rate, r.mask, 1);
  }
};

// Every kind of declaration: unmasked field, shared bit, whole-array bit, per-element bits,
// sub-records (the same form twice), a float, a mask array, and a head bit behind sub-records.
struct Sample {
  u32 mask;
  u8 me, mode, pairA, pairB;
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
  static constexpr void fields(V& v, R& r) {
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
  Sample s{.mask = 0x1F, .me = 2, .mode = 7, .pairA = 1, .pairB = 2, .edges = {-2, 0, 0, 0x1234}, .keyMask = 0x5,
           .key = {9, 0, 8, 0}, .trans = {0x3, 1, -300}, .level = 1.5f, .tallyMask = {0, 0x8}, .tally = {},
           .other = {0x2, 0, 77}, .status = -5};
  s.tally[35] = 0xBEEF;  // the bit 3 of tallyMask[1]
  return s;
}

TEST(CodecWire, WritesEveryFieldBigEndianInDeclarationOrderAndReadsItBack) {
  EXPECT_EQ(codec::wireSize<Sample>(), SAMPLE_WIRE);
  std::vector<u8> out(SAMPLE_WIRE + 4, 0xCC);
  ASSERT_EQ(codec::encode(filled(), out.data(), out.size()), SAMPLE_WIRE);
  struct Expect { size_t at; std::vector<u8> bytes; } expects[] = {
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
  Sample back{};
  ASSERT_TRUE(codec::read(out.data(), out.size(), back));
  EXPECT_TRUE(codec::toText(back) == codec::toText(filled()) && back.mask == 0x1Fu);
  Sample untouched{};  // a short body is refused and changes nothing
  EXPECT_FALSE(codec::read(out.data(), SAMPLE_WIRE - 1, untouched));
  EXPECT_EQ(codec::toText(untouched), "me=0\n");
}

TEST(CodecMerge, CopiesOnlyFieldsWhosePresenceBitIsSet) {
  Sample live = filled();
  live.mask = live.keyMask = live.trans.mask = live.tallyMask[1] = 0;
  // me has no presence bit: always taken; pairA and pairB travel together; mode's bit is clear;
  // only key[1] and tally[32] are present.
  Sample in{.mask = 0x2, .me = 3, .mode = 99, .pairA = 5, .pairB = 6, .edges = {}, .keyMask = 0x2, .key = {50, 51},
            .trans = {0x2, 0, 25}, .level = 0, .tallyMask = {0, 0x1}, .tally = {}, .other = {}, .status = 0};
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

// The hook's range checks note the range that refused a field on its bytes; one noted on the way to
// a field taken after all is withdrawn.
TEST(CodecMerge, ValidationHookDropsFieldsAndLeavesTheirBitsClear) {
  Sample live{};
  Sample in = filled();
  in.trans.rate = 5000;
  std::vector<std::string> offered;
  rules::clear();
  const rules::Checking checking(1, &in, sizeof in);
  codec::merge(live, in, [&](const codec::FieldView& f) {
    offered.push_back(std::string(f.prefix) + f.name + (f.index >= 0 ? "[" + std::to_string(f.index) + "]" : ""));
    if (f.is(in.trans.rate)) return rules::within(in.trans.rate, 0, 999);
    if (f.is(in.key)) return f.index != 2;
    if (f.is(in.mode)) rules::within(in.mode, 0, 1);  // refuses 7, and the field is taken all the same
    return true;
  });
  ASSERT_EQ(rules::count(), 2);
  EXPECT_EQ(std::tuple(rules::noteAt(0).type, rules::noteAt(1).type, rules::noteAt(1).at), std::tuple(-1, 1, offsetof(Sample, trans.rate)));
  EXPECT_EQ(std::vector<u8>(rules::noteAt(1).value, rules::noteAt(1).value + 8), std::vector<u8>({0, 0, 0, 0, 0xE7, 3, 0, 0}));
  EXPECT_EQ(std::vector<int>({live.trans.rate, live.trans.flag, live.key[0], live.key[2]}),
            std::vector<int>({0, 1, 9, 0}));
  EXPECT_EQ(std::tuple(live.trans.mask, live.keyMask), std::tuple(0x1u, 0x1u));
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
  EXPECT_EQ(std::tuple(codec::hasAny(live), live.tally[35]), std::tuple(false, 0xBEEF));
  live.other.mask = 4;  // a sub-record's word, then the last bit of a mask array's second word
  EXPECT_TRUE(codec::hasAny(live));
  live.other.mask = 0;
  live.tallyMask[1] = 0x80000000;
  EXPECT_TRUE(codec::hasAny(live));
}

// Each field takes the whole range of its kind and no more.
TEST(CodecText, SetsFieldsByNameAndListsWhatIsCarried) {
  Sample r{};
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"mode", "3", true},           {"trans.rate", "-25", true},  {"edges", "1,-2,0x10,4", true},
      {"key[2]", "1", true},         {"level", "0.5", true},       {"tally[33]", "7", true},
      {"me", "1", true},             {"mode", "256", false},       {"edges", "1,2,3,4,5", false},
      {"key[4]", "1", false},        {"nosuch", "1", false},       {"trans.rat", "1", false},
      {"status", "x", false},        {"key[1]", "-1", false},      {"key[3]", "255", true},
      {"status", "-129", false},     {"status", "128", false},     {"status", "-128", true},
      {"tally[34]", "0x10000", false}, {"tally[34]", "0xFFFF", true}, {"other.rate", "0x8000", false},
      {"other.rate", "-32769", false}, {"other.rate", "-32768", true},
  };
  for (const auto& [name, value, ok] : cases) EXPECT_EQ(codec::setText(r, name, value), ok) << name << "=" << value;
  // The text lists the fields whose bits are set, with their values.
  EXPECT_EQ(codec::toText(r), "me=1\nmode=3\nedges=1,-2,16,4\nkey[2]=1\nkey[3]=255\ntrans.rate=-25\nlevel=0.5\n"
                              "tally[33]=7\ntally[34]=65535\nother.rate=-32768\nstatus=-128\n");
}

// The 32-bit kinds, which the sample record does not have.
struct Wide {
  u32 u;
  s32 s;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) { v.field("u32", r.u), v.field("s32", r.s); }
};

TEST(CodecText, WideKindsTakeTheirWholeRangeAndNoMore) {
  Wide r{};
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"u32", "0x100000000", false}, {"u32", "-1", false},          {"u32", "0xFFFFFFFF", true},
      {"s32", "2147483648", false},  {"s32", "-2147483649", false}, {"s32", "-2147483648", true},
  };
  for (const auto& [name, value, ok] : cases) EXPECT_EQ(codec::setText(r, name, value), ok) << name << "=" << value;
  EXPECT_EQ(codec::toText(r), "u32=4294967295\ns32=-2147483648\n");
}

}  // namespace
