// Categories of the inputs and outputs, memories, stills and clips.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "Common/shared.h"
#include "Driver/clip/clip.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/shared.h"
#include "Main/bus/button.h"
#include "Main/bus/bus.h"
#include "Main/media/clip.h"
#include "Main/memory/eventmem.h"
#include "Main/io/io.h"
#include "Main/memory/macro.h"
#include "Main/memory/shotmem.h"
#include "Main/media/still.h"
#include "tests/Main/category_fixture.h"

namespace {

using namespace category;
using internal::MxifButtonEvent;
using testing_support::AckPacket;
using testing_support::Bytes;

class ServicesTest : public test_categories::SystemCategoriesTest {
 protected:
  void SetUp() override {
    SystemCategoriesTest::SetUp();
    sendPass(0);  // the statuses of the start
  }
  // Status packets of type `type` that one status pass sends.
  std::vector<AckPacket> sendPass(int type) {
    reg().sendAll(AcknowledgeSender::instance());
    std::vector<AckPacket> out;
    for (auto& p : peer.readPackets()) {
      if (p.type == type) out.push_back(p);
    }
    return out;
  }
};

// The command types the service categories own reach them: none is logged as undefined.
TEST_F(ServicesTest, OwnedCommandsAreTaken) {
  for (int type : {65, 66, 67, 68, 69, 81, 15, 17, 18}) {
    peer.sendPacket(type, Bytes(7, 0x5A));  // sync-like bytes inside the body
    peer.send(MxifShotMemory{});
    reg().receiveAll();
    EXPECT_EQ(testing_support::consoleCount("receive undefined category"), 0) << type;
    EXPECT_EQ(sendPass(21).size(), 1u) << type;
  }
}

TEST_F(ServicesTest, EventMemoryLinkAndPlayers) {
  const int cases[][4] = {{1, 1, 0, 1}, {1, 2, 0, 0}, {1, 2, 1, 1}, {0, 2, 1, 0}, {5, 4, 3, 1}, {1, 0, -1, 1}};
  auto& em = CategoryEventMemory::instance();
  for (auto [enable, linkedMe, me, linked] : cases) {  // enable, linked ME + 1 (0: all), ME asked, linked
    em.record(0).enable = static_cast<u8>(enable);
    em.record(0).linkedMe = static_cast<u8>(linkedMe);
    EXPECT_EQ(em.isLinkedToMe(me), linked != 0) << enable << "/" << linkedMe << "/" << me;
  }
  em.workPlayer().status = EventPlayer::STATUS_RUNNING;
  em.registerPlayer(8).status = EventPlayer::STATUS_PAUSE;
  em.initInternal();
  EXPECT_EQ(std::pair(em.workPlayer().status, em.registerPlayer(8).status),
            std::pair(EventPlayer::STATUS_IDLE, EventPlayer::STATUS_IDLE));
}

MxifButtonEvent button(u16 code, u8 state, u8 panel, u8 index) {
  MxifButtonEvent e;
  std::tie(e.code, e.state, e.panel, e.index) = std::tie(code, state, panel, index);
  return e;
}

TEST_F(ServicesTest, MacroAttachButtonTogglesItsFlag) {
  auto& macro = CategoryMacro::instance();
  macro.onAttachButton(button(1603, 1, 1, 3));
  auto sent = sendPass(20);
  ASSERT_EQ(sent.size(), 1u);
  MxifMacro echo = sent[0].as<MxifMacro>();
  EXPECT_EQ(std::tuple(echo.attach[0].mask, echo.attach[1].mask, echo.attach[1].flag[3]), std::tuple(0u, 1u << 3, 1));
  macro.onAttachButton(button(1603, 1, 1, 3));
  EXPECT_EQ(macro.record(0).attach[1].flag[3], 0);
  // Ignored: a release, group 3, index 8.
  for (auto e : {button(1603, 0, 0, 0), button(1603, 1, 3, 0), button(1603, 1, 0, 8)}) macro.onAttachButton(e);
  for (const auto& g : macro.record(0).attach) {
    for (u8 a : g.flag) EXPECT_EQ(a, 0);
  }
  EXPECT_EQ(macro.record(0).attach[1].mask, 1u << 3);
}

TEST_F(ServicesTest, ClipPlayTransitionLink) {
  auto& play = CategoryClipPlay::instance();
  play.record(2).mode = 7;
  play.record(2).linkedMe = 1;
  play.record(0).mode = 6;
  play.record(0).linkedMe = 1;
  const int cases[][3] = {{1, 2, 1}, {0, 2, 0}, {1, 0, 0}, {1, 4, 0}, {1, -1, 0}};  // me, channel, linked
  for (auto [me, channel, linked] : cases)
    EXPECT_EQ(play.isTransitionLinked(me, channel), linked) << me << "/" << channel;
}

// The trigger button (through the button dispatch) arms a player until the next update; a reset
// request, acted on by the next update, stops the players' audio and reports the four entries unready.
TEST_F(ServicesTest, ClipStatusTriggerAndReset) {
  auto& status = CategoryClipStatus::instance();
  for (auto e : {button(1616, 0, 0, 1), button(1616, 1, 0, 4), button(1617, 1, 0, 1)}) status.onButtonEvent(e);
  for (int c = 0; c < 4; ++c) EXPECT_FALSE(status.isTriggerPending(c));
  CategoryButtonEvent::instance().dispatch(button(1616, 1, 2, 2));
  EXPECT_TRUE(status.isTriggerPending(2));
  status.update();
  EXPECT_FALSE(status.isTriggerPending(2));

  for (int e = 80; e <= 84; ++e) status.record(e).ready = 1;
  mxClipReset();
  for (int c = 0; c < 4; ++c) mxClipArmAudioPlayback(MX_CLIP_1 + 2 * c);
  status.requestReset();
  EXPECT_EQ(status.record(81).ready, 1);
  platform::traceClear();
  status.update();
  std::vector<u32> stopped;
  for (const auto& e : platform::traceRecent()) {
    if ((e.adr & ~0x30u) == 0x82001904 && e.value == 1) stopped.push_back(e.adr);
  }
  EXPECT_EQ(stopped, (std::vector<u32>{0x82001904, 0x82001914, 0x82001924, 0x82001934}));
  EXPECT_EQ(status.record(80).ready, 1);
  auto sent = sendPass(13);
  ASSERT_EQ(sent.size(), 4u);
  for (int c = 0; c < 4; ++c) {
    MxifClipStatus r = sent[c].as<MxifClipStatus>();
    EXPECT_EQ(std::tuple(int(r.entry), int(r.ready), r.mask), std::tuple(81 + c, 0, 3u));
  }
}

TEST_F(ServicesTest, StillAndClipSources) {
  for (int s : {181, 184, 187, 190, 201, 204, 207, 210}) EXPECT_EQ(stillClipSourceKind(s), 13) << s;
  for (int s : {182, 185, 188, 191, 202, 205, 208, 211}) EXPECT_EQ(stillClipSourceKind(s), 14) << s;
  for (int s : {-1, 10, 180, 183, 186, 192, 193, 200, 203, 212, 213}) EXPECT_EQ(stillClipSourceKind(s), -1) << s;
  MxifStillMemory& still = CategoryStillMemory::instance().record(0);
  MxifClipRec& rec = CategoryClipRec::instance().record(0);
  // store, capturing, source, recording; clip channel, recording, source, recording
  const int cases[][8] = {{2, 1, 187, 1, 1, 1, 204, 1}, {2, 1, 188, 1, 1, 1, 205, 1}, {2, 1, 181, 0, 1, 1, 201, 0},
                          {2, 1, 189, 0, 1, 1, 206, 0}, {2, 1, 207, 0, 1, 1, 184, 0}, {2, 0, 187, 0, 1, 2, 204, 0},
                          {4, 1, 193, 0, 1, 1, 204, 1}};
  for (auto [store, capturing, s, want, channel, recording, c, wantClip] : cases) {
    still.store = static_cast<u8>(store), still.capturing = static_cast<u8>(capturing);
    rec.channel = static_cast<u8>(channel), rec.recording = static_cast<u8>(recording);
    EXPECT_EQ(isRecordingStillSource(s), want) << s;
    EXPECT_EQ(isRecordingClipSource(c), wantClip) << c;
  }
}

TEST_F(ServicesTest, ClearStillsResetsAndSendsTheFourStatuses) {
  auto& status = CategoryStillStatus::instance();
  auto valid = [](int s) { return static_cast<int>(SMEM_STILL_VALID) + 4 * s; };
  for (int s = 0; s < 4; ++s) status.record(s).data[3] = 9, SharedMemory::instance().writeWord(valid(s), 1);
  CategoryStillMemory::instance().clearStills();
  auto sent = sendPass(24);
  ASSERT_EQ(sent.size(), 4u);
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(SharedMemory::instance().readWord(valid(s)), 0u);
    auto r = sent[s].as<MxifStillStatus>();
    EXPECT_EQ(std::tuple(int(r.index), int(r.data[3]), r.mask), std::tuple(s, 0, 1u));
  }
}

TEST_F(ServicesTest, InputVideoChannelWordAndByte16) {
  auto& in = CategoryInputVideo::instance();
  in.record(0).state = 2, in.record(0).byte16 = 1;
  in.record(127).state = 7, in.record(127).byte16 = 4;
  const int cases[][3] = {{10, 2, 1}, {137, 7, 4}, {11, 0, 0}, {9, 0, 0}, {138, 0, 0}, {140, 0, 0}};
  for (auto [source, flag, byte16] : cases) {
    EXPECT_EQ(in.channelFlag(source), static_cast<u32>(flag)) << source;
    EXPECT_EQ(in.channelByte16(source), byte16) << source;
  }
}

TEST_F(ServicesTest, MultiViewLayoutAndRedraw) {
  auto& mv = CategoryMultiView::instance();
  mv.setVideoFormat(3, 1, 5);
  mv.setVideoFormat(4, 0, 8);  // no such channel
  EXPECT_EQ(std::pair(mv.needsRedraw(5), mv.needsRedraw(4)), std::pair(true, false));
  auto sent = sendPass(40);
  ASSERT_EQ(sent.size(), 1u);
  MxifMultiView r = sent[0].as<MxifMultiView>();
  EXPECT_EQ(std::tuple(int(r.channel), int(r.format), int(r.formatFlag), r.mask), std::tuple(5, 3, 1, 1u));
  mv.markAllChanged();
  sent = sendPass(40);
  ASSERT_EQ(sent.size(), 8u);
  for (int ch = 0; ch < 8; ++ch) {
    EXPECT_TRUE(mv.needsRedraw(ch));
    EXPECT_EQ(sent[ch].as<MxifMultiView>().mask, 0x80u);
  }
}

// Sources carried reach the bus's table, others leave it alone; findIndex finds an ME's first slot.
TEST_F(ServicesTest, CustomInfoSourcesAndSlots) {
  auto& info = CategoryCustomInfo::instance();
  auto& bus = CategoryBus::instance()[0];
  MxifCustomInfo in{};
  in.source[0] = 20, in.source[35] = 21, in.source[7] = 99;
  codec::setPresenceBit(in.sourceMask, 0);
  codec::setPresenceBit(in.sourceMask, 35);
  in.slotMask = 0x0E;
  in.meSlot[1] = 3, in.meSlot[2] = 3, in.meSlot[3] = 4;  // ME number + 1
  bus.setCustomInfoSource(7, 5);
  info.assign(in, 0);
  EXPECT_EQ(std::vector<int>({bus.customInfoSource(0), bus.customInfoSource(35), bus.customInfoSource(7)}),
            std::vector<int>({20, 21, 5}));
  EXPECT_EQ(std::vector<int>({info.findIndex(2), info.findIndex(3), info.findIndex(0), info.findIndex(-1)}),
            std::vector<int>({1, 3, -1, -1}));
}

TEST_F(ServicesTest, ExtendedDisplayAndOutputsRouteAuxBuses) {
  auto image = [] { return std::vector<u8>(mxXptImage(), mxXptImage() + xpt::SIZE); };
  mxXptReset();
  const auto empty = image();
  mxSetAuxSource(MX_EXT_OUT_3, MX_AUX1 + 4);
  mxSetOutputSource(MX_OUT_1 + 3, MX_AUX1 + 8);
  const auto routed = image();

  auto& ext = CategoryExtendedDisplay::instance();
  auto& out = CategoryOutput::instance();
  mxXptReset();
  ext.record(0).aux = 3;
  out.record(0).source[5] = 17;  // AUX 17 does not feed outputs: left alone
  out.record(0).source[6] = 25;  // no such AUX bus
  ext.update();
  out.update();
  EXPECT_EQ(image(), empty);  // display off, no output code set

  ext.record(0).display = 1;
  out.record(0).source[3] = 5;
  ext.update();
  out.update();
  EXPECT_EQ(image(), routed);
  ext.record(0).aux = 20;  // no such AUX bus: external output 3 keeps AUX 3
  ext.update();
  EXPECT_EQ(image(), routed);
}

// A command that carries one time stamp (under a command type that no category owns).
struct TimeCmd {
  static constexpr int TYPE_INDEX = TYPE_PLUGIN_CMD;
  u8 unused;
  template <class V, class R>
  static void fields(V& v, R& r) {
    v.field("unused", r.unused);
  }
};
struct TimeCategory : CategoryWithoutStatus<TimeCmd> {
  TimeStamp got;
  bool ok = false;
  void receiveCommand(int, RequestReceiver& rx) override { ok = readTimeStamp(rx, got); }
};

TEST_F(ServicesTest, TimeStampWireForm) {
  TimeCategory cat;
  const Bytes wire = {0x07, 0xEA, 0x00, 0x0C, 0x00, 0x06, 0x00, 0x12, 0x00, 0x3B, 0xFF, 0xFF};
  peer.sendPacket(TYPE_PLUGIN_CMD, wire);
  reg().receiveAll();
  ASSERT_TRUE(cat.ok);
  const auto& t = cat.got;
  EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
            std::vector<int>({2026, 12, 6, 18, 59, -1}));

  AcknowledgeSender& tx = AcknowledgeSender::instance();
  ASSERT_TRUE(tx.beginPacket(TYPE_PLUGIN_CMD, TimeStamp::WIRE_BYTES));
  writeTimeStamp(tx, cat.got);
  tx.flush();
  auto packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].body, wire);

  cat.got = TimeStamp{};
  peer.sendPacket(TYPE_PLUGIN_CMD, Bytes(wire.begin(), wire.end() - 1));
  reg().receiveAll();
  EXPECT_FALSE(cat.ok);
  EXPECT_EQ(cat.got.year, 0);
}

}  // namespace
