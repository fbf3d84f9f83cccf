// Background and key transition images, their table addresses and the tables they load.

#include "Platform/hw_semaphore.h"
#include "tests/Driver/driver_test.h"

using namespace driver_test;

namespace {

constexpr u32 ME1_BKGD = 0x82005B00, ME1_KEY2 = 0x82006C00;
constexpr int EDGE_WIPE = 5380, FREE_WIPE = 5387, REVERSED_WIPE = 5390, SHAPE_WIPE = 5391;

u32 at(u32 base, int word) { return regPeek(base + 4 * static_cast<u32>(word)); }

class TransTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    mxSetContext(MX_CONTEXT_ME1);
  }
  // A fresh board in a board mode (0 normal, 1 paired-FPGA) and format.
  void start(int mode, int format, float scale) {
    TransTest::SetUp();
    if (mode != 0) startBoard(mode);
    mxInitialize(format, scale);
    mxSetContext(MX_CONTEXT_ME1);
  }
};

TEST_F(TransTest, TypeGivesSlopeBorderWidthAndTable) {
  // Words 13 and 14 of a wipe, and the first word of the background's table address pair.
  struct Case { int type; float border, softness; u32 slope, width, table; } cases[] = {
      {5379, 0.1f, 0.0001f, 65535, 432, 0x80000003}, {5379, 0.0f, 0.1f, 606, 0, 0x80009003},
      {5379, 0.0f, 0.2f, 303, 0, 0x8000A803},        {SHAPE_WIPE, 0.0f, 0.2f, 303, 0, 0x8000C003},
      {5379, 0.0f, 0.014814f, 4096, 0, 0x80001803},  // a slope of 4096 is not above it: table 1
      {5396, 0.0f, 0.0f, 32768, 0, 0x80013803},    {5379, -0.1f, -0.1f, 32768, 0, 0x80000003}};
  for (auto c : cases) {
    mxTransSetType(MX_BKGD, c.type, c.border, c.softness);
    mxTransUpdate();
    EXPECT_EQ(peekWords(ME1_BKGD, {13, 14}), (Words{c.slope, c.width})) << c.type << " " << c.softness;
    EXPECT_EQ(regPeek(0x82000340), c.table) << c.type << " " << c.softness;
    EXPECT_EQ(regPeek(0x82000344), ME1_BKGD + 0x78);
  }
}

TEST_F(TransTest, MixImages) {
  // w: words 0, 12, 13, 14, 15, 16, 17, 18.
  struct Case { int target, type; float position, second, border; Words w; } cases[] = {
      {MX_BKGD, MX_TRANS_MIX, 0.3f, -1.0f, 0, {0, 0, 0, 0, 716, 0, 0, 0}},
      {MX_BKGD, MX_TRANS_MIX, 0.0f, 1.0f, 0.1f, {0x10, 0, 0, 0, 1023, 0, 0, 0}},
      {MX_BKGD, MX_TRANS_MIX, 0.3f, 0.6f, 0, {0x20, 0, 0, 0, 0, 614, 307, 0xFFFFFFC0}},
      {MX_KEY2, MX_TRANS_MIX, 0.3f, 0.6f, 0, {0, 0, 0, 0, 307, 0, 0, 0}},
      {MX_BKGD, 5377, 0.2f, -1.0f, 0, {2, 0, 0, 0, 0, 0x4000, 7281, 0}},
      {MX_BKGD, 5378, 0.25f, -1.0f, 0, {1, 512, 0x100, 0x800, 0, 0, 0, 0}}};
  for (const auto& c : cases) {
    mxTransSetType(c.target, c.type, c.border, 0.01f);
    if (c.target == MX_BKGD) {
      mxTransSetBkgdPosition(c.position, 0, c.second);
    } else {
      mxTransSetKeyPosition(c.target, c.position, 0);
    }
    mxTransUpdate();
    EXPECT_EQ(peekWords(c.target == MX_BKGD ? ME1_BKGD : ME1_KEY2, {0, 12, 13, 14, 15, 16, 17, 18}), c.w)
        << c.type << " " << c.position << " " << c.second;
  }
  // The background's program/preview word and mix flag.
  mxTransSetBkgdPreview(1);
  mxTransUpdate();
  EXPECT_EQ(peek(0x82005804, {0, 8}), (Words{0, 0}));
  mxTransSetType(MX_BKGD, MX_TRANS_MIX, 0, 0);
  mxTransSetBkgdPreview(0);
  mxTransUpdate();
  EXPECT_EQ(peek(0x82005804, {0, 8}), (Words{1, 1}));
}

TEST_F(TransTest, WipeOriginOffsetsAndEdgeByFormat) {
  // Position 0.5, softness 0.01 without border, centre (0.5, 0.5); words 3, 8, 9, 10, 11, 12, 19.
  struct Case { int format; float scale; int type; std::vector<int> w; } cases[] = {
      {0, 1.0f, EDGE_WIPE, {0, -15356, -4316, -7373, -8640, -307, 0x0437077F}},
      {0, 1.0f, FREE_WIPE, {0, -7676, -4316, -3533, -1853, -307, 0x0437077F}},
      {0, 1.0f, REVERSED_WIPE, {1, -7676, -4316, 4147, 2467, -307, 0x0437077F}},
      {0, 1.0f, SHAPE_WIPE, {0, -7676, -4316, 0, 0, -3840, 0x0437077F}},
      {2, 1.0f, EDGE_WIPE, {0, -10236, -5756, -4916, -11520, -204, 0x059F04FF}},
      {2, 1.0f, REVERSED_WIPE, {1, -5116, -5756, 2764, 3084, -204, 0x059F04FF}},
      {4, 1.0f, FREE_WIPE, {0, -2876, -1948, -1325, -861, -115, 0x01E702CF}},
      {4, 1.0f, SHAPE_WIPE, {0, -2876, -1948, 0, 0, -1440, 0x01E702CF}},
      {4, 0.75f, FREE_WIPE, {0, -2876, -1948, -1325, -822, -115, 0x01E702CF}}};
  int format = -1;
  float scale = 0;
  for (const auto& c : cases) {
    if (c.format != format || c.scale != scale) start(0, format = c.format, scale = c.scale);
    mxTransSetType(MX_BKGD, c.type, 0, 0.01f);
    mxTransSetBkgdPosition(0.5f, 0, -1);
    mxTransSetPatternPosition(MX_BKGD, 0.5f, 0.5f);
    mxTransUpdate();
    std::vector<int> got;
    for (int k : {3, 8, 9, 10, 11, 12, 19}) got.push_back(static_cast<int>(at(ME1_BKGD, k)));
    EXPECT_EQ(got, c.w) << c.format << " " << c.scale << " " << c.type;
  }
  // Without border and softness an axis at position 0 sits at -48, and the edge is at least 16.
  mxTransSetType(MX_BKGD, FREE_WIPE, 0, 0);
  mxTransSetBkgdPosition(0, 0, -1);
  mxTransUpdate();
  EXPECT_EQ(peekWords(ME1_BKGD, {10, 11, 12}), (Words{48, 48, static_cast<u32>(-16)}));
}

TEST_F(TransTest, WipeControlMatrixAndModulation) {
  const float m[] = {0.5f, 0.25f, 10, -0.5f, 1, 0};
  mxTransSetType(MX_BKGD, FREE_WIPE, 0.1f, 0);
  mxTransSetBorderSource(MX_BKGD, MX_UTIL1);
  mxTransSetPatternMatrix(MX_BKGD, m);
  mxTransSetPatternSize(MX_BKGD, 0.5f, 0.25f, 1, 2);
  mxTransSetModulation(MX_BKGD, MX_TRANS_MOD_X, 0.25f, 10, 0.5f);
  mxTransSetModulation(MX_BKGD, MX_TRANS_MOD_Y, 0.5f, 20, 0.25f);
  mxTransSetModulationPattern(MX_BKGD, MX_TRANS_MOD_Y, MX_TRANS_MOD_DELTA);
  mxTransSetBkgdPosition(0.5f, 1, -1);
  mxTransSetLevel(MX_BKGD, 0.5f);
  mxTransUpdate();
  EXPECT_EQ(peekWords(ME1_BKGD, {0, 2, 7, 8, 19, 20, 21, 22, 23, 24, 25, 26}),
            (Words{0x15, 9, 512, static_cast<u32>(-76), 959 + (269 << 16) + (1 << 12) + (2u << 28), 524288,
                              262144, 0xFFF80000, 1048576, 341 + (1213 << 16), 2048 + (1024 << 16),
                              17280 + (61440u << 16)}));
  mxTransSetBkgdDveFlag(1);  // the border source is left out while the background DVE is on
  mxTransUpdate();
  EXPECT_EQ(at(ME1_BKGD, 0), 0x11u);
}

TEST_F(TransTest, LatencyDelaysTheImageTwoFrames) {
  // Word 15 of a background mix at the position of each frame; latency 1 until frame 4.
  mxTransSetLatency(MX_BKGD, 1);
  const float positions[] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f};
  const int latency[] = {1, 1, 1, 0, 1, 1};
  const u32 written[] = {0, 0, 921, 614, 614, 614};
  const size_t images[] = {0, 0, 1, 1, 0, 0};
  for (int f = 0; f < 6; ++f) {
    mxTransSetLatency(MX_BKGD, latency[f]);
    mxTransSetBkgdPosition(positions[f], 0, -1);
    traceClear();
    mxTransUpdate();
    EXPECT_EQ(writesTo(ME1_BKGD + 0x3C).size(), images[f]) << f;
    EXPECT_EQ(at(ME1_BKGD, 15), written[f]) << f;
    Words tail;  // the bank (3 for bank 1), then the strobe
    for (const auto& e : traceRecent()) {
      if (e.adr == ME1_BKGD + 0x7C || e.adr == ME1_BKGD + 0x70) tail.insert(tail.end(), {e.adr - ME1_BKGD, e.value});
    }
    EXPECT_EQ(tail, (Words{0x7C, f % 2 == 1 ? 3u : 0u, 0x70, 0})) << f;
  }
}

TEST_F(TransTest, TableAddressPairsByModeAndAspect) {
  struct Case { int mode, format; float scale; int context, target; u32 pair, first, second; } cases[] = {
      {0, 0, 1.0f, MX_CONTEXT_ME1, MX_BKGD, 0x82000340, 0x8000C003, 0x82005B78},
      {0, 2, 1.0f, MX_CONTEXT_ME2, MX_KEY2, 0x83000350, 0x8000C403, 0x83006C78},
      {0, 4, 1.0f, MX_CONTEXT_ME2, MX_BKGD, 0x83000340, 0x8000C803, 0x83005B78},
      {0, 4, 0.8f, MX_CONTEXT_ME1, MX_KEY4, 0x82000360, 0x8000D003, 0x82007C78},
      {1, 8, 1.0f, MX_CONTEXT_ME1, MX_KEY1, 0x86000348, 0x8000C003, 0x86006478},
      {1, 8, 1.0f, MX_CONTEXT_ME2, MX_BKGD, 0x83000368, 0x8000C003, 0x83003178},
      {1, 8, 1.0f, MX_CONTEXT_ME2, MX_KEY1, 0x83000348, 0, 0}};  // ME2 keys have no pair
  for (auto c : cases) {
    start(c.mode, c.format, c.scale);
    mxSetContext(c.context);
    mxTransSetType(c.target, SHAPE_WIPE, 0, 0);
    mxTransUpdate();
    EXPECT_EQ(peek(c.pair, {0, 4}), (Words{c.first, c.second})) << c.mode << " " << c.format << " " << c.target;
    EXPECT_EQ((Words{regPeek(0x82000328), regPeek(0x83000328)}), (Words{4, c.mode != 0 ? 5u : 4u}));
  }
  // Paired-FPGA mode: the ME2 background's program/preview word goes to both of its banks.
  mxTransSetBkgdPreview(1);
  mxTransUpdate();
  EXPECT_EQ((Words{regPeek(0x87005804), regPeek(0x83003004)}), (Words{0, 0}));
}

TEST_F(TransTest, FrameTwelveLoadsThePatternTablesIntoBothMes) {
  mxInitialize(0, 1.0f);
  const MemoryPorts& mem = memoryPorts();
  for (int frame = 0; frame < 12; ++frame) mxUpdate();
  EXPECT_EQ(mem.word(0x82000000, 0x80000000), 0u);
  mxUpdate();
  // Start radius (low half) and end radius (low + high half) of each quadrant.
  auto quadrant = [&](u32 fpga, int table, int section, int q) {
    u32 address = 0x80000000 + (static_cast<u32>(section + 6 * table) << 10) + 256 * static_cast<u32>(q);
    u32 first = mem.word(fpga, address), last = mem.word(fpga, address + 4 * 63);
    return std::vector<int>{static_cast<int>(first & 0xFFFF), static_cast<int>((last & 0xFFFF) + (last >> 16)) & 0xFFFF};
  };
  // Table (its kind), aspect section, quadrant: radii worked from the radius rule.
  const struct { int table, section, q; std::vector<int> radii; } rows[] = {
      {8, 1, 0, {32768, 36635}},  {8, 1, 1, {16384, 36635}},  {12, 0, 0, {16384, 32767}},
      {0, 0, 0, {32768, 32918}},  {7, 0, 2, {32768, 33436}},  {9, 0, 2, {27415, 29308}},
      {9, 1, 1, {13707, 35519}},  {10, 0, 3, {20164, 37072}}, {11, 0, 1, {40960, 33312}}, {13, 0, 0, {37837, 51686}}};
  for (u32 fpga : {0x82000000u, 0x83000000u}) {
    for (int q = 0; q < 4; ++q) EXPECT_EQ(quadrant(fpga, 8, 0, q), (std::vector<int>{32768, 46340})) << q;
    for (const auto& r : rows) EXPECT_EQ(quadrant(fpga, r.table, r.section, r.q), r.radii) << r.table << " " << r.q;
  }
}

}  // namespace
