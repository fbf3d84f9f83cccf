#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <vector>

#include "Lib/Include/records/bkgd.h"

namespace {

// A whole background record on the wire, written field by field from the record's table
// (wire position in the comment).
const std::vector<u8> kWire = {
    0x01, 0xFF, 0xFF, 0xFF,              //   0 mask: bits 0..24
    0x02, 0x01, 0x01, 0x02,              //   4 me, direction, nrMode, borderSource
    0x00, 0x00, 0x00, 0x01,              //   8 nextMask
    0x01, 0x00, 0x00, 0x00, 0x0F,        //  12 nextBkgd, nextKeyMask
    0x01, 0x00, 0x01, 0x00,              //  17 nextKey[4]
    0x00, 0x00, 0x00, 0x07,              //  21 mixMask
    0x01, 0x01, 0x00,                    //  25 type, nam, namCmix
    0x0E, 0x0F, 0x03, 0xE8, 0x04, 0x38,  //  28 mixColor 3599, 1000, 1080
    0x00, 0x00, 0x00, 0x1F,              //  34 trans.mask
    0x01, 0x00, 0x00,                    //  38 trans.flag, trans.value
    0x03, 0xE7, 0x02, 0xBC, 0x01, 0x2C,  //  41 trans.rate 999, limitStart 700, limitEnd 300
    0x00, 0x00, 0x00, 0x07,              //  47 positionMask
    0x01, 0x27, 0x10, 0x00, 0x1E,        //  51 partialOn, partialPosition 10000, partialRate 30
    0x10, 0x00,                          //  56 patternNumber 16, patternKind 0
    0x00, 0x00, 0x00, 0x07,              //  58 borderMask
    0x01, 0x01, 0xF4, 0x00, 0xFA,        //  62 borderOn, borderWidth 500, softness 250
    0x04, 0xB0, 0x01, 0xF4, 0x03, 0x84,  //  67 borderColor 1200, 500, 900
    0x00, 0x00, 0x00, 0x0F,              //  73 dustMask
    0x01, 0xFF, 0xFE,                    //  77 dustOn, dustGain -2
    0x01, 0x0F,                          //  80 dustLevelOn, dustLevel
    0x00, 0x00, 0x00, 0x07,              //  82 linkMask
    0x03, 0x02, 0x01,                    //  86 selectA, selectB, selectLink
    0x00, 0x00, 0x00, 0x0F,              //  89 modulationX.mask
    0x01, 0x27, 0x10,                    //  93 waveform, amplitude 10000
    0x12, 0x34, 0xFF, 0xCE,              //  96 frequency, phaseSpeed -50
    0x00, 0x00, 0x00, 0x05,              // 100 modulationY.mask
    0x00, 0x00, 0x01,                    // 104 waveform, amplitude
    0x00, 0x02, 0x00, 0x32,              // 107 frequency, phaseSpeed 50
    0xEC, 0x78, 0x13, 0x88, 0xFF, 0xFF, 0x01, 0x02,  // 111 edges -5000, 5000, -1, 258
    0x01, 0x02, 0x04,                    // 119 option144, option145, option146
    0x01, 0x01, 0x01, 0x03,              // 122 edgeSymmetry, option148, presetCheck, option150
    0xEC, 0x78,                          // 126 option152 -5000
    0x27, 0x10, 0x0B, 0xB8,              // 128 size1 10000, size2 3000
    0xD8, 0xF0, 0x27, 0x10,              // 132 point1 -10000, 10000
    0x00, 0x64, 0xFF, 0x9C,              // 136 center 100, -100
    0x03, 0xE8, 0xFC, 0x18,              // 140 point2 1000, -1000
    0xFE, 0x0C, 0x00, 0x00, 0x01, 0xF4,  // 144 offsets -500, 0, 500
    0x00, 0x00, 0x00, 0x0F,              // 150 spin.mask
    0x01, 0xF1, 0xF0, 0x0E, 0x10, 0x00, 0x05,  // 154 spin.on, spin -3600, 3600, 5
    0x00, 0x00, 0x00, 0x0E,              // 161 modify.mask
    0x00, 0x03, 0xE8, 0x00, 0x00, 0xFF, 0xD3,  // 165 modify.on, modify 1000, 0, -45
    0x00, 0x00, 0x00, 0x07,              // 172 statusMask
    0x11, 0x22, 0x33, 0x44, 0x55,        // 176 status values, status byte
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

// The value at a memory offset, read as u8, s16 or u32 by its size.
s64 at(const MxifBkgd& r, size_t offset, int size) {
  const u8* p = reinterpret_cast<const u8*>(&r) + offset;
  s16 h;
  u32 w;
  if (size == 1) return *p;
  if (size == 2) return std::memcpy(&h, p, 2), h;
  return std::memcpy(&w, p, 4), w;
}

TEST(BkgdRecordTest, WireRoundTripIsByteExact) {
  ASSERT_EQ(kWire.size(), MxifBkgd::WIRE_SIZE);
  MxifBkgd r;
  ASSERT_TRUE(MxifBkgd::read(kWire.data(), kWire.size(), r));
  // Fields land where the memory layout puts them: {offset, size, value}.
  const s64 layout[][3] = {
      {0, 4, 0x01FFFFFF}, {4, 1, 2},      {7, 1, 2},         {12, 1, 1},     {22, 1, 1},     {32, 2, 3599},
      {36, 2, 1080},      {40, 4, 0x1F},  {48, 2, 999},      {50, 2, 700},   {52, 2, 300},   {62, 2, 10000},
      {68, 1, 16},        {80, 2, 250},   {84, 2, 1200},     {98, 2, -2},    {101, 1, 15},   {108, 1, 3},
      {110, 1, 1},        {122, 2, -50},  {134, 2, 50},      {136, 2, -5000}, {146, 1, 4},   {152, 2, -5000},
      {158, 2, -10000},   {174, 2, 500},  {182, 2, -3600},   {198, 2, -45},  {204, 2, 0x1122}, {208, 1, 0x55},
      {216, 4, 0x12345},  {230, 2, 0x0606}, {238, 1, 1},     {240, 4, 0x41}, {250, 2, -32768}, {268, 1, 1},
      {269, 1, 0},        {271, 1, 1},
  };
  for (const auto& f : layout) EXPECT_EQ(at(r, f[0], static_cast<int>(f[1])), f[2]) << "offset " << f[0];

  std::vector<u8> out(300, 0xAA);
  ASSERT_EQ(MxifBkgd::write(r, out.data(), out.size()), MxifBkgd::WIRE_SIZE);
  EXPECT_EQ(std::vector<u8>(out.begin(), out.begin() + 239), kWire);
  EXPECT_EQ(out[239], 0xAA);
  EXPECT_EQ(MxifBkgd::write(r, out.data(), 238), 0u);
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
  // Given fields are taken, the rest (and fields whose bit is clear) keep the live values.
  const s64 merged[][2] = {
      {live.me, 3},          {live.patternNumber, 23},       {live.patternKind, 3},
      {live.trans.rate, 12}, {live.trans.limitEnd, 300},     {live.patFree1.size, 4242},
      {live.patFree1.edges[2], -7}, {live.patFree1.edges[0], 0x0606}, {live.patFree1.positionX, 0x0101},
      {live.nextKey[0], 1},  {live.nextKey[1], 1},           {live.status[0], 1},
      {live.status[1], 1},   {live.size1, 10000},
      // The presence words become those of the request.
      {live.trans.mask, 1u << 2}, {live.patFree1.mask, (1u << 0) | (1u << 8)}, {live.nextKeyMask, 1u << 1},
      {live.mask, (1u << MxifBkgd::BIT_PATTERN) | (1u << (MxifBkgd::BIT_STATUS0 + 1))}, {live.mixMask, 0},
  };
  for (const auto& m : merged) EXPECT_EQ(m[0], m[1]) << "merged field " << (&m - merged);

  MxifBkgd::PatFree pf{};
  MxifBkgd::PatFree::merge(pf, in.patFree1);
  EXPECT_EQ(std::tuple(pf.size, pf.edges[2], pf.mask), std::tuple(4242u, s16{-7}, in.patFree1.mask));
}

}  // namespace
