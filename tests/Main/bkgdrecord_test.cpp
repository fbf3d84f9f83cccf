#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "records/bkgd.h"

namespace {

// A whole background record on the wire, written field by field from the record's table
// (wire position in the comment).
const std::vector<u8> kWire = {
    0x01, 0xFF, 0xFF, 0xFF,              //   0 mask: bits 0..24
    0x02,                                //   4 me
    0x01,                                //   5 direction
    0x01,                                //   6 nrMode
    0x02,                                //   7 borderSource
    0x00, 0x00, 0x00, 0x01,              //   8 nextMask
    0x01,                                //  12 nextBkgd
    0x00, 0x00, 0x00, 0x0F,              //  13 nextKeyMask
    0x01, 0x00, 0x01, 0x00,              //  17 nextKey[4]
    0x00, 0x00, 0x00, 0x07,              //  21 mixMask
    0x01,                                //  25 type
    0x01,                                //  26 nam
    0x00,                                //  27 namCmix
    0x0E, 0x0F, 0x03, 0xE8, 0x04, 0x38,  //  28 mixColor 3599, 1000, 1080
    0x00, 0x00, 0x00, 0x1F,              //  34 trans.mask
    0x01,                                //  38 trans.flag
    0x00, 0x00,                          //  39 trans.value
    0x03, 0xE7,                          //  41 trans.rate 999
    0x02, 0xBC,                          //  43 trans.limitStart 700
    0x01, 0x2C,                          //  45 trans.limitEnd 300
    0x00, 0x00, 0x00, 0x07,              //  47 positionMask
    0x01,                                //  51 partialOn
    0x27, 0x10,                          //  52 partialPosition 10000
    0x00, 0x1E,                          //  54 partialRate 30
    0x10,                                //  56 patternNumber 16
    0x00,                                //  57 patternKind 0
    0x00, 0x00, 0x00, 0x07,              //  58 borderMask
    0x01,                                //  62 borderOn
    0x01, 0xF4,                          //  63 borderWidth 500
    0x00, 0xFA,                          //  65 softness 250
    0x04, 0xB0, 0x01, 0xF4, 0x03, 0x84,  //  67 borderColor 1200, 500, 900
    0x00, 0x00, 0x00, 0x0F,              //  73 dustMask
    0x01,                                //  77 dustOn
    0xFF, 0xFE,                          //  78 dustGain -2
    0x01,                                //  80 dustLevelOn
    0x0F,                                //  81 dustLevel
    0x00, 0x00, 0x00, 0x07,              //  82 linkMask
    0x03,                                //  86 selectA
    0x02,                                //  87 selectB
    0x01,                                //  88 selectLink
    0x00, 0x00, 0x00, 0x0F,              //  89 modulationX.mask
    0x01,                                //  93 waveform
    0x27, 0x10,                          //  94 amplitude 10000
    0x12, 0x34,                          //  96 frequency
    0xFF, 0xCE,                          //  98 phaseSpeed -50
    0x00, 0x00, 0x00, 0x05,              // 100 modulationY.mask
    0x00,                                // 104 waveform
    0x00, 0x01,                          // 105 amplitude
    0x00, 0x02,                          // 107 frequency
    0x00, 0x32,                          // 109 phaseSpeed 50
    0xEC, 0x78, 0x13, 0x88, 0xFF, 0xFF, 0x01, 0x02,  // 111 edges -5000, 5000, -1, 258
    0x01,                                // 119 option144
    0x02,                                // 120 option145
    0x04,                                // 121 option146
    0x01,                                // 122 edgeSymmetry
    0x01,                                // 123 option148
    0x01,                                // 124 presetCheck
    0x03,                                // 125 option150
    0xEC, 0x78,                          // 126 option152 -5000
    0x27, 0x10,                          // 128 size1 10000
    0x0B, 0xB8,                          // 130 size2 3000
    0xD8, 0xF0, 0x27, 0x10,              // 132 point1 -10000, 10000
    0x00, 0x64, 0xFF, 0x9C,              // 136 center 100, -100
    0x03, 0xE8, 0xFC, 0x18,              // 140 point2 1000, -1000
    0xFE, 0x0C, 0x00, 0x00, 0x01, 0xF4,  // 144 offsets -500, 0, 500
    0x00, 0x00, 0x00, 0x0F,              // 150 spin.mask
    0x01,                                // 154 spin.on
    0xF1, 0xF0, 0x0E, 0x10, 0x00, 0x05,  // 155 spin -3600, 3600, 5
    0x00, 0x00, 0x00, 0x0E,              // 161 modify.mask
    0x00,                                // 165 modify.on
    0x03, 0xE8, 0x00, 0x00, 0xFF, 0xD3,  // 166 modify 1000, 0, -45
    0x00, 0x00, 0x00, 0x07,              // 172 statusMask
    0x11, 0x22, 0x33, 0x44,              // 176 status values
    0x55,                                // 180 status byte
    0x00, 0x00, 0x07, 0xFF,              // 181 patFree1.mask
    0x00, 0x01, 0x23, 0x45,              // 185 size
    0x01, 0x01, 0x02, 0x02,              // 189 positionX, positionY
    0x03, 0x03, 0x04, 0x04, 0x05, 0x05,  // 193 rotation1..3
    0x06, 0x06, 0x07, 0x07, 0x08, 0x08, 0x09, 0x09,  // 199 edges
    0x01,                                // 207 edgeSymmetry
    0x00, 0x00, 0x00, 0x41,              // 208 patFree2.mask
    0x00, 0x00, 0x27, 0x10,              // 212 size 10000
    0xFF, 0xFF, 0x80, 0x00,              // 216 positionX -1, positionY -32768
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 220 rotation1..3
    0x0A, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 226 edges
    0x00,                                // 234 edgeSymmetry
    0x01, 0x00, 0x01, 0x01,              // 235 status flags 0..3
};

template <class X>
X at(const MxifBkgd& r, size_t offset) {
  X x;
  std::memcpy(&x, reinterpret_cast<const u8*>(&r) + offset, sizeof(X));
  return x;
}

TEST(BkgdRecordTest, WireRoundTripIsByteExact) {
  ASSERT_EQ(kWire.size(), MxifBkgd::WIRE_SIZE);
  MxifBkgd r;
  ASSERT_TRUE(MxifBkgd::read(kWire.data(), kWire.size(), r));

  // Fields land where the memory layout puts them.
  EXPECT_EQ(at<u32>(r, 0), 0x01FFFFFFu);
  EXPECT_EQ(at<u8>(r, 4), 2);
  EXPECT_EQ(at<u8>(r, 7), 2);
  EXPECT_EQ(at<u8>(r, 12), 1);
  EXPECT_EQ(at<u8>(r, 22), 1);
  EXPECT_EQ(at<s16>(r, 32), 3599);
  EXPECT_EQ(at<s16>(r, 36), 1080);
  EXPECT_EQ(at<u32>(r, 40), 0x1Fu);
  EXPECT_EQ(at<s16>(r, 48), 999);
  EXPECT_EQ(at<s16>(r, 50), 700);
  EXPECT_EQ(at<s16>(r, 52), 300);
  EXPECT_EQ(at<s16>(r, 62), 10000);
  EXPECT_EQ(at<u8>(r, 68), 16);
  EXPECT_EQ(at<s16>(r, 80), 250);
  EXPECT_EQ(at<s16>(r, 84), 1200);
  EXPECT_EQ(at<s16>(r, 98), -2);
  EXPECT_EQ(at<u8>(r, 101), 15);
  EXPECT_EQ(at<u8>(r, 108), 3);
  EXPECT_EQ(at<u8>(r, 110), 1);
  EXPECT_EQ(at<s16>(r, 122), -50);
  EXPECT_EQ(at<s16>(r, 134), 50);
  EXPECT_EQ(at<s16>(r, 136), -5000);
  EXPECT_EQ(at<u8>(r, 146), 4);
  EXPECT_EQ(at<s16>(r, 152), -5000);
  EXPECT_EQ(at<s16>(r, 158), -10000);
  EXPECT_EQ(at<s16>(r, 174), 500);
  EXPECT_EQ(at<s16>(r, 182), -3600);
  EXPECT_EQ(at<s16>(r, 198), -45);
  EXPECT_EQ(at<s16>(r, 204), 0x1122);
  EXPECT_EQ(at<u8>(r, 208), 0x55);
  EXPECT_EQ(at<u32>(r, 216), 0x12345u);
  EXPECT_EQ(at<s16>(r, 230), 0x0606);
  EXPECT_EQ(at<u8>(r, 238), 1);
  EXPECT_EQ(at<u32>(r, 240), 0x41u);
  EXPECT_EQ(at<s16>(r, 250), -32768);
  EXPECT_EQ(at<u8>(r, 268), 1);
  EXPECT_EQ(at<u8>(r, 269), 0);
  EXPECT_EQ(at<u8>(r, 271), 1);

  std::vector<u8> out(300, 0xAA);
  ASSERT_EQ(MxifBkgd::write(r, out.data(), out.size()), MxifBkgd::WIRE_SIZE);
  EXPECT_EQ(std::vector<u8>(out.begin(), out.begin() + 239), kWire);
  EXPECT_EQ(out[239], 0xAA);
  EXPECT_EQ(MxifBkgd::write(r, out.data(), 238), 0u);
}

TEST(BkgdRecordTest, ReaderNormalisesOption148AndRefusesShortBodies) {
  std::vector<u8> wire = kWire;
  wire[123] = 7;
  MxifBkgd r;
  ASSERT_TRUE(MxifBkgd::read(wire.data(), wire.size(), r));
  EXPECT_EQ(r.option148, 1);
  wire[123] = 0;
  ASSERT_TRUE(MxifBkgd::read(wire.data(), wire.size(), r));
  EXPECT_EQ(r.option148, 0);

  MxifBkgd untouched;
  untouched.size1 = 77;
  EXPECT_FALSE(MxifBkgd::read(kWire.data(), 238, untouched));
  EXPECT_EQ(untouched.size1, 77);
  EXPECT_EQ(untouched.mask, 0u);
}

TEST(BkgdRecordTest, MergeCopiesPresentFieldsOnly) {
  MxifBkgd live;
  ASSERT_TRUE(MxifBkgd::read(kWire.data(), kWire.size(), live));
  live.clearPresence();
  MxifBkgd in;
  in.me = 3;
  in.setPattern(23, 3);
  in.trans.rate = 12;
  in.trans.limitEnd = 5;  // bit clear: not taken
  in.trans.mask = 1u << 2;
  in.patFree1.size = 4242;
  in.patFree1.edges[2] = -7;
  in.patFree1.mask = (1u << 0) | (1u << 8);
  in.nextKey[1] = 1;
  in.nextKeyMask = 1u << 1;
  in.setStatus1(1);

  MxifBkgd::merge(live, in);
  EXPECT_EQ(live.me, 3);
  EXPECT_EQ(live.patternNumber, 23);
  EXPECT_EQ(live.patternKind, 3);
  EXPECT_EQ(live.trans.rate, 12);
  EXPECT_EQ(live.trans.limitEnd, 300);
  EXPECT_EQ(live.trans.mask, 1u << 2);
  EXPECT_EQ(live.patFree1.size, 4242u);
  EXPECT_EQ(live.patFree1.edges[2], -7);
  EXPECT_EQ(live.patFree1.edges[0], 0x0606);
  EXPECT_EQ(live.patFree1.positionX, 0x0101);
  EXPECT_EQ(live.patFree1.mask, (1u << 0) | (1u << 8));
  EXPECT_EQ(live.nextKey[0], 1);
  EXPECT_EQ(live.nextKey[1], 1);
  EXPECT_EQ(live.nextKeyMask, 1u << 1);
  EXPECT_EQ(live.status[1], 1);
  EXPECT_EQ(live.status[0], 1);
  EXPECT_EQ(live.mask, (1u << MxifBkgd::BIT_PATTERN) | (1u << (MxifBkgd::BIT_STATUS0 + 1)));
  EXPECT_EQ(live.size1, 10000);
  EXPECT_EQ(live.mixMask, 0u);

  MxifBkgd::PatFree pf{};
  MxifBkgd::PatFree::merge(pf, in.patFree1);
  EXPECT_EQ(pf.size, 4242u);
  EXPECT_EQ(pf.edges[2], -7);
  EXPECT_EQ(pf.mask, in.patFree1.mask);
}

TEST(BkgdRecordTest, ResumeSetsEveryPresenceBitAndClearEmptiesThem) {
  MxifBkgd saved;
  saved.trans.rate = 25;
  saved.patFree2.edgeSymmetry = 1;
  saved.status[3] = 1;
  MxifBkgd r;
  EXPECT_FALSE(r.hasAny());
  r.resumeFrom(saved);
  EXPECT_EQ(r.trans.rate, 25);
  EXPECT_EQ(r.patFree2.edgeSymmetry, 1);
  EXPECT_EQ(r.status[3], 1);
  const u32 words[16] = {r.mask,          r.nextMask,         r.nextKeyMask,        r.mixMask,
                         r.trans.mask,    r.positionMask,     r.borderMask,         r.dustMask,
                         r.link.mask,     r.modulationX.mask, r.modulationY.mask,   r.spin.mask,
                         r.modify.mask,   r.statusMask,       r.patFree1.mask,      r.patFree2.mask};
  const u32 expected[16] = {0x01FFFFFF, 0x1, 0xF, 0x7, 0x1F, 0x7, 0x7, 0xF,
                            0x7,        0xF, 0xF, 0xF, 0xF,  0x7, 0x7FF, 0x7FF};
  for (int i = 0; i < 16; ++i) EXPECT_EQ(words[i], expected[i]) << "presence word " << i;
  // A resumed record writes every field as it stands.
  std::vector<u8> out(239);
  ASSERT_EQ(MxifBkgd::write(r, out.data(), out.size()), 239u);
  EXPECT_EQ(out[41], 0);
  EXPECT_EQ(out[42], 25);

  r.clearPresence();
  EXPECT_FALSE(r.hasAny());
  EXPECT_EQ(r.trans.rate, 25);
  r.patFree2.mask = 1;
  EXPECT_TRUE(r.hasAny());
}

TEST(BkgdRecordTest, HeadSettersSetTheirBit) {
  MxifBkgd r;
  const s16 edges[4] = {-1, 2, -3, 4};
  r.setDirection(1);
  r.setEdges(edges);
  r.setOption152(-5);
  r.setOffsets(edges);
  r.setStatus3(1);
  EXPECT_EQ(r.mask, (1u << 0) | (1u << 6) | (1u << 14) | (1u << 20) | (1u << 24));
  EXPECT_EQ(r.getEdges()[2], -3);
  EXPECT_EQ(r.getOffsets()[2], -3);
  EXPECT_EQ(r.getOption152(), -5);
  EXPECT_EQ(r.status[3], 1);
  EXPECT_EQ(r.status[2], 0);
}

TEST(BkgdRecordTest, SelectorMergeChecksRanges) {
  struct Case {
    u8 a, b, link;
    u32 bits;
  } cases[] = {
      {3, 3, 1, 0x7}, {4, 0, 0, 0x6}, {0, 4, 2, 0x1}, {255, 255, 1, 0x4},
  };
  for (const Case& c : cases) {
    MxifBkgd::Selectors to{};
    to.selectA = to.selectB = 9;
    MxifBkgd::Selectors from{7, c.a, c.b, c.link};
    MxifBkgd::mergeSelectors(to, from);
    EXPECT_EQ(to.mask, c.bits);
    EXPECT_EQ(to.selectA, (c.bits & 1) ? c.a : 9);
    EXPECT_EQ(to.selectB, (c.bits & 2) ? c.b : 9);
  }
  // A field whose bit is clear is not taken even when valid.
  MxifBkgd::Selectors to{};
  MxifBkgd::mergeSelectors(to, MxifBkgd::Selectors{0x2, 1, 2, 1});
  EXPECT_EQ(to.selectA, 0);
  EXPECT_EQ(to.selectB, 2);
  EXPECT_EQ(to.mask, 0x2u);
}

TEST(BkgdRecordTest, ModulationAndModifyMergesCheckRanges) {
  struct ModCase {
    u8 waveform;
    s16 amplitude, frequency, phaseSpeed;
    u32 bits;
  } mods[] = {
      {1, 10000, 0, -50, 0xF}, {2, 10001, -1, 51, 0x0}, {0, 0, 10000, 50, 0xF}, {1, -1, 5, -51, 0x5},
  };
  for (const ModCase& c : mods) {
    MxifBkgd::Modulation to{};
    MxifBkgd::mergeLevels10000(to, MxifBkgd::Modulation{0xF, c.waveform, c.amplitude, c.frequency, c.phaseSpeed});
    EXPECT_EQ(to.mask, c.bits) << c.amplitude << " " << c.frequency << " " << c.phaseSpeed;
  }
  struct ModifyCase {
    u8 on;
    s16 v1, v2, v3;
    u32 bits;
  } modifies[] = {
      {1, 1000, 0, -45, 0xF}, {2, 1001, -1, 46, 0x0}, {0, 0, 1000, 45, 0xF}, {1, 500, 1001, -46, 0x3},
  };
  for (const ModifyCase& c : modifies) {
    MxifModify to{};
    MxifBkgd::mergeFlagLevelsAngle(to, MxifModify{0xF, c.on, c.v1, c.v2, c.v3});
    EXPECT_EQ(to.mask, c.bits) << c.v1 << " " << c.v2 << " " << c.v3;
    EXPECT_EQ(to.value1, (c.bits & 0x2) ? c.v1 : 0);
  }
}

TEST(BkgdRecordTest, ColourRanges) {
  const s16 ok[3] = {3599, 1000, 1080};
  const s16 hue[3] = {3600, 0, 0};
  const s16 sat[3] = {0, -1, 0};
  const s16 lum[3] = {0, 0, 1081};
  EXPECT_TRUE(MxifBkgd::isColorValid(ok));
  EXPECT_FALSE(MxifBkgd::isColorValid(hue));
  EXPECT_FALSE(MxifBkgd::isColorValid(sat));
  EXPECT_FALSE(MxifBkgd::isColorValid(lum));
}

}  // namespace
