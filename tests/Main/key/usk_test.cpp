// Up-stream keys and their assignment: key parameters and crosspoints of each frame, panel buttons.
#include <gtest/gtest.h>

#include "Driver/xpt/xpt.h"
#include "Main/bus/bus.h"
#include "Main/key/usk.h"
#include "tests/Main/key/key_fixture.h"

namespace {

using category::CategoryBus;
using category::CategoryUpStreamKey;
using category::CategoryUpStreamKeyAssign;
using transition_test::expectArgs;
using U = MxifUpStreamKey;
using A = MxifUpStreamKeyAssign;
using key_test::bit;
using key_test::expectCall;

TEST(UskMaps, SlotSourcesAndEntries) {
  // SDI inputs end at 41: 42..137 would name the DVI inputs and nothing beyond them.
  const int slots[][2] = {{10, 4352},  {41, 4383},  {42, 0},     {137, 0},    {138, 0},    {140, 4384}, {150, 0},
                          {181, 4480}, {191, 4487}, {201, 4488}, {211, 4495}, {220, 4497}, {222, 4496}, {223, 4499}};
  for (auto [source, id] : slots) EXPECT_EQ(libmx::uskSlotSourceId(source), id) << source;
  const int entries[][2] = {{0, 4352},   {31, 4383},  {32, 0},     {127, 0},    {128, 4384}, {129, 4385},
                            {130, 4480}, {145, 4495}, {146, 4497}, {148, 4496}, {149, 4499}};
  for (auto [entry, id] : entries) EXPECT_EQ(libmx::uskEntrySourceId(entry), id) << entry;
}

class UskTest : public key_test::LoggedTest<test_categories::StartedSystemTest> {
 protected:
  void SetUp() override {
    LoggedTest::SetUp();
    framePackets();  // the start-up reports
  }
  static CategoryUpStreamKey& usk() { return CategoryUpStreamKey::instance(); }
  static CategoryUpStreamKeyAssign& assignment() { return CategoryUpStreamKeyAssign::instance(); }

  // A frame with only its own calls in the log.
  std::map<int, std::vector<testing_support::AckPacket>> frame() {
    calllog::clear();
    return framePackets();
  }
  // The input number on an up-stream key crosspoint, from the crosspoint image's words.
  static int uskByte(int dst) {
    const int slot = dst - MX_USK1_F;
    return static_cast<int>(mxXptWord(xpt::USK + slot / 4 * 4) >> 8 * (slot % 4) & 0xFF);
  }
};

TEST_F(UskTest, KeyParametersEveryFrame) {
  for (int k = 0; k < 4; ++k) {
    U& r = usk().record(k);
    r.style = {0, static_cast<u8>(k), 1, 1, 0, 1}, r.adjust = {0, 500, 1000, 800, 1};
  }
  U r;
  r.channel = 0, r.style.mask = bit(3), r.style.keySource = 1;
  peer.sendText(r);
  reg().receiveAll();
  sendPass(usk());
  const s16 red[3] = {0, 1000, 1000};
  std::copy(red, red + 3, usk().record(2).matteColor);
  auto packets = frame();
  ASSERT_EQ(packets[U::TYPE_INDEX].size(), 1u);
  const U echo = packets[U::TYPE_INDEX][0].asText<U>();
  expectCall("mxSetColor", MX_COLOR_USK1_MATTE + 2, {250, 409, 960}, 1e-5f, false);
  EXPECT_EQ(std::tuple(echo.channel, echo.style.mask, echo.style.keySource), std::tuple(0, bit(3), 0));

  // Flags, clip, gain, second level, density; the option flag.
  const std::vector<float> clipGain[4] = {
      {3, 502, 1.16895f, 1, 0.8f}, {3, 502, 1.16895f, 0, 0.8f}, {3, 0, 1, 0, 0.8f}, {7, -1023, 1, 0, 0.8f}};
  const float option[4] = {1, 1, 0, 1};
  for (int n = 0; n < 2; ++n) {  // the second frame finds no channel dirty and writes all four again
    EXPECT_TRUE(n == 0 || frame()[U::TYPE_INDEX].empty());
    for (int k = 0; k < 4; ++k) {
      expectCall("mxKeySetClipGain", MX_USK1_S + 2 * k, clipGain[k], 0.005f);
      expectCall("mxKeySetOptionFlag", MX_USK1_S + 2 * k, {option[k]}, 1e-5f, false);
    }
  }
}

TEST_F(UskTest, SlotSourcesOnTheCrosspoint) {
  A r{};
  r.sourceMask = 0xF, r.source[0] = 20, r.source[1] = 12, r.source[2] = 181, r.source[3] = 191;
  peer.send(r);
  frame();
  // Key 1 has key type 0: its key crosspoint takes the fill's source, not slot 1's.
  EXPECT_EQ(std::tuple(uskByte(MX_USK1_S), uskByte(MX_USK2_S)), std::tuple(4362 - MX_IN_1, 4480 - MX_IN_1));
  usk().record(0).style.keyType = 1, usk().record(0).style.keySource = 1;
  usk().record(1).style.keyType = 3, usk().record(1).style.keySource = 1;
  frame();
  EXPECT_EQ(std::tuple(uskByte(MX_USK1_F), uskByte(MX_USK1_S), uskByte(MX_USK2_S)),
            std::tuple(4362 - MX_IN_1, 4354 - MX_IN_1, 4487 - MX_IN_1));

  // A slot source that names no crosspoint source writes nothing: the crosspoint keeps its source.
  A& live = assignment().record(0);
  for (u8 source : {11, 42, 138}) {  // 11 is input 1
    live.source[4] = source;
    frame();
    EXPECT_EQ(uskByte(MX_USK3_F), 1) << int{source};
  }
}

TEST_F(UskTest, AttachmentsAndTheOnOffButtons) {
  A r{};
  r.entries[0] = {1, 3}, r.entries[31] = {1, 7}, r.entries[40] = {1, 5}, r.entries[149] = {1, 9};
  peer.send(r);
  frame();
  EXPECT_EQ(transition_test::calls("mxSetInputKeyAssign").size(), 54u);  // entries 32..127 write nothing
  expectCall("mxSetInputKeyAssign", MX_IN_1, {0, MX_USK3_S}, 1e-5f, false);
  expectCall("mxSetInputKeyAssign", MX_IN_32, {1, MX_USK3_S}, 1e-5f, false);
  expectCall("mxSetInputKeyAssign", MX_BLACK, {0, MX_USK1_S}, 1e-5f, false);
  EXPECT_EQ(mxXptImage()[xpt::INPUT_KEY], 4);

  // Button 2051 toggles key 2's flag, 2052 key 3's; each press is reported.
  auto press = [&](int code) {
    peer.send(test_categories::buttonEvent(code));
    return frame()[A::TYPE_INDEX];
  };
  const int steps[][3] = {{2051, 1, 0}, {2052, 1, 1}, {2051, 0, 1}};  // code, key 2's flag, key 3's flag
  for (const auto& s : steps) {
    const auto sent = press(s[0]);
    ASSERT_EQ(sent.size(), 1u) << s[0];
    EXPECT_EQ(sent[0].as<A>().onOffMask, bit(s[0] - 2050));
    EXPECT_EQ(std::tuple(assignment().record(0).onOff[1], assignment().record(0).onOff[2]), std::tuple(s[1], s[2]));
  }
  expectCall("mxSetInputKeyAssign", MX_IN_1, {1, MX_USK3_S}, 1e-5f, false);
  EXPECT_EQ(mxXptImage()[xpt::INPUT_KEY], 2);
}

}  // namespace
