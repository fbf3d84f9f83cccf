// Chroma keys: the per-frame writes, the sample box, the ready words and the blocks through a restart.
#include <gtest/gtest.h>

#include "Common/shared.h"
#include "Main/key/chrkey.h"
#include "Main/key/key.h"
#include "Main/system/system.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryChromaKey;
using C = MxifChromaKey;
using transition_test::calls;

using key_test::bit;

class ChromaTest : public key_test::LoggedTest<> {
 protected:
  static CategoryChromaKey& chroma(int me) { return CategoryChromaKey::instance()[me]; }
  static void setKeyType(int me, int ch, int type) {
    category::CategoryKey::keyCategory(me).record(ch).style.keyType = static_cast<u8>(type);
  }
  // The first argument after the target of each call of a setter in the log, with its context.
  static std::vector<std::pair<int, int>> targets(const char* name) {
    std::vector<std::pair<int, int>> out;
    for (const auto& c : calls(name)) out.emplace_back(c.context - MX_CONTEXT_ME1, c.target);
    return out;
  }
  C request(int me, int ch) {
    C r;
    r.me = static_cast<u8>(me), r.channel = static_cast<u16>(ch);
    return r;
  }
  void writeBlock(int unit, s16 red) {
    ChromaKeyBlock b{};
    b.colorA[0] = red, b.table[0] = 77, b.frontEnd[818] = 9;
    SharedMemory::instance().writeChromakey(unit, &b, sizeof b);
  }
};

// The range width reaches the keyer divided by 5; the box of the sample key's channel, a chroma
// key, reaches the sample area.
TEST_F(ChromaTest, RangeAndSampleBoxReachTheDriver) {
  setKeyType(0, 1, 2);
  C r = request(0, 1);
  r.mask = bit(C::RANGE_WIDTH) | bit(C::SAMPLE_KEY) | bit(C::SAMPLE_CENTRE) | bit(C::SAMPLE_SIZE);
  r.rangeWidth = -40, r.sampleKey = 2, r.sampleX = -2500, r.sampleY = -2500, r.sampleSize = 125;  // y upwards
  peer.send(r);
  category::CategorySystem::instance().record(0).format = 6;
  runFrame(0);
  std::vector<float> widths;
  for (const auto& c : key_test::callsFor("mxChromaKeySetRange", MX_KEY2)) if (c.context == MX_CONTEXT_ME1) widths.push_back(c.args[1]);
  EXPECT_EQ(widths, std::vector<float>{-8});
  ASSERT_EQ(calls("mxChromaKeySetSampleArea").size(), 1u);
  transition_test::expectArgs(calls("mxChromaKeySetSampleArea")[0], {176, 181, 8, 3});

}

// Boxes at the frame edges: centred on the right edge, the box starts on the last even pixel
// with no width (beyond the edge too); one pixel left of the whole frame, it ends a pixel short.
TEST(ChromaSampleBoxTest, FrameEdges) {
  struct Case { int format; float x, s; std::tuple<int, int, int, int> box; } cases[] = {
      {0, 1.0f, 1.0f, {1918, 0, 0, 539}}, {4, 1.0f, 0.01f, {1278, 356, 0, 7}}, {0, -0.0003f, 1.0f, {0, 0, 1918, 539}}};
  for (const Case& c : cases) {
    const libmx::SampleBox b = libmx::chromaSampleBox(c.format, c.x, 0.0f, c.s);
    EXPECT_EQ(std::tuple(b.start, b.top, b.width, b.height), c.box) << c.format << " " << c.x;
  }
}

TEST_F(ChromaTest, OnlyReadyChannelsLoad) {
  for (int ch = 0; ch < 4; ++ch) setKeyType(0, ch, 2);
  writeBlock(0, 100);
  runFrame(0);
  // After start-up only channel 0 loads: the working block holds what the backup image kept.
  EXPECT_EQ(targets("mxChromaKeyWriteTable"), (std::vector<std::pair<int, int>>{{0, MX_KEY1}}));
  EXPECT_EQ(chroma(0).workingBlock(0).colorA[0], 0);
  for (int frame = 2; frame <= 5; ++frame) {
    if (frame == 5) {
      SharedMemory::instance().writeWord(SMEM_CHROMA_READY, CHROMA_READY_MAGIC);
      SharedMemory::instance().writeWord(SMEM_CHROMA_READY + 4, 1);
    }
    calllog::clear();
    runFrame(0);
    const auto loaded = targets("mxChromaKeyWriteTable");
    // Every ME polls the same words: channel 1 of each loads in the fifth frame.
    EXPECT_EQ(loaded.size(), frame < 5 ? 0u : 4u) << frame;
    EXPECT_TRUE(frame < 5 || loaded[0] == std::make_pair(0, MX_KEY1 + 2));
  }
  SharedMemory::instance().writeWord(SMEM_CHROMA_READY + 4, CHROMA_READY_MAGIC);
  calllog::clear();
  runFrame(0);
  runFrame(0);
  EXPECT_TRUE(calls("mxChromaKeyWriteTable").empty());  // channel 2 was refused for good
}

// Types 1 and 26 through the ring: the sample of ME 0 drives taps 5121 and 5127 unless the
// mainframe configuration ignores chroma there; ME 1's key fader marks its chroma channel (5128).
TEST_F(ChromaTest, OutputTapsFollowTheSampleAndTheMainframeConfiguration) {
  setKeyType(0, 2, 2);
  setKeyType(1, 2, 2);
  auto taps = [](int me) {
    calllog::clear();
    runFrame(0);
    std::vector<int> on;
    for (const auto& c : calls("mxKeySetTapFlag")) if (c.context == MX_CONTEXT_ME1 + me && on.size() < 3) on.push_back(int(c.args[0]));

    return on;
  };
  auto config = [&](auto change) {
    MxifMainframeConfig r;
    change(r);
    peer.send(r);
  };
  EXPECT_EQ(taps(0), (std::vector<int>{0, 0, 0}));  // no sample key
  C r = request(0, 0);
  r.mask = bit(C::SAMPLE_KEY), r.sampleKey = 3;
  peer.send(r);
  EXPECT_EQ(taps(0), (std::vector<int>{1, 1, 0}));
  config([](MxifMainframeConfig& m) { m.meConfig[0].mask = MainframeMeConfig::TAP_A_IGNORE_CHROMA, m.meConfig[0].tapAIgnoreChroma = 1; });
  EXPECT_EQ(taps(0), (std::vector<int>{0, 1, 0}));
  config([](MxifMainframeConfig& m) { m.meConfig[0].mask = MainframeMeConfig::TAP_B_IGNORE_CHROMA, m.meConfig[0].tapBIgnoreChroma = 1; });
  EXPECT_EQ(taps(0), (std::vector<int>{0, 0, 0}));
  // Key channel 2 of ME 1 listed for the key fader and selected: the marked chroma channel.
  config([](MxifMainframeConfig& m) {
    m.faderKeys[1].entryMask = 1u << 2, m.faderKeys[1].entries[2] = 1;
    m.mask = MxifMainframeConfig::FADER_SELECT, m.faderSelect = 4 + 2;
  });
  EXPECT_EQ(taps(1), (std::vector<int>{0, 0, 1}));
  config([](MxifMainframeConfig& m) { m.mask = MxifMainframeConfig::FADER_SELECT, m.faderSelect = 4 + 3; });
  EXPECT_EQ(taps(1), (std::vector<int>{0, 0, 0}));
}

TEST_F(ChromaTest, RestartBringsBackTheBackedUpPartOfTheBlocks) {
  writeBlock(5, 123);  // ME 1, channel 1
  MxifChromaKeyCmd cmd;
  cmd.me = 1, cmd.channel = 1;
  peer.send(cmd);
  runFrame(0);
  ASSERT_EQ(chroma(1).workingBlock(1).frontEnd[818], 9);
  peer.readPackets();
  restart();
  const ChromaKeyBlock& b = chroma(1).workingBlock(1);  // front end byte 818 lies beyond the backed-up part
  EXPECT_EQ(std::tuple(b.colorA[0], b.table[0], b.frontEnd[818]), std::tuple(123, 77, 0));
}

}  // namespace
