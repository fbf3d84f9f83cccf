// Categories of the inputs and outputs, memories, stills and clips.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "Common/shared.h"
#include "Driver/clip/clip.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/shared.h"
#include "Main/bus/button.h"
#include "Main/media/clip.h"
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
  void SetUp() override { SystemCategoriesTest::SetUp(), sendPass(0); }  // the statuses of the start
  // Status packets of type `type` that one status pass sends.
  std::vector<AckPacket> sendPass(int type) {
    reg().sendAll(AcknowledgeSender::instance());
    std::vector<AckPacket> out;
    for (auto& p : peer.readPackets()) if (p.type == type) out.push_back(p);
    return out;
  }
};

// The command types the service categories own reach them: none is logged as undefined, and the
// stream stays in step (sync-like bytes inside the body).
TEST_F(ServicesTest, OwnedCommandsAreTaken) {
  for (int type : {65, 66, 67, 68, 69, 81, 15, 17, 18}) {
    peer.sendPacket(type, Bytes(7, 0x5A)), peer.send(MxifShotMemory{}), reg().receiveAll();
    EXPECT_EQ(std::tuple(testing_support::consoleCount("receive undefined category"), sendPass(21).size()),
              std::tuple(0, 1u)) << type;
  }
}

MxifButtonEvent button(int code, int state, int panel, int index) {
  return test_categories::buttonEvent(code, 0, state, panel, index);
}

TEST_F(ServicesTest, MacroAttachButtonTogglesItsFlag) {
  auto& macro = CategoryMacro::instance();
  macro.onAttachButton(button(1603, 1, 1, 3));
  auto sent = sendPass(20);
  ASSERT_EQ(sent.size(), 1u);
  const MxifMacro echo = sent[0].as<MxifMacro>();
  EXPECT_EQ(std::tuple(echo.attach[0].mask, echo.attach[1].mask, echo.attach[1].flag[3]), std::tuple(0u, 1u << 3, 1));
  // Pressed again: off. Ignored: a release, group 3, index 8.
  for (auto e : {button(1603, 1, 1, 3), button(1603, 0, 0, 0), button(1603, 1, 3, 0), button(1603, 1, 0, 8)}) macro.onAttachButton(e);
  for (const auto& g : macro.record(0).attach) for (u8 a : g.flag) EXPECT_EQ(a, 0);
  EXPECT_EQ(macro.record(0).attach[1].mask, 1u << 3);
}

// The trigger button (through the button dispatch) arms a player until the next update; a reset
// request, acted on by the next update, stops the players' audio and reports the four entries unready.
TEST_F(ServicesTest, ClipStatusTriggerAndReset) {
  auto& status = CategoryClipStatus::instance();
  for (auto e : {button(1616, 0, 0, 1), button(1616, 1, 0, 4), button(1617, 1, 0, 1)}) status.onButtonEvent(e);
  for (int c = 0; c < 4; ++c) EXPECT_FALSE(status.isTriggerPending(c));
  CategoryButtonEvent::instance().dispatch(button(1616, 1, 2, 2));
  EXPECT_TRUE(status.isTriggerPending(2));
  status.update();  // the next update takes it
  EXPECT_FALSE(status.isTriggerPending(2));

  for (int e = 80; e <= 84; ++e) status.record(e).ready = 1;
  mxClipReset();
  for (int c = 0; c < 4; ++c) mxClipArmAudioPlayback(MX_CLIP_1 + 2 * c);
  status.requestReset();
  EXPECT_EQ(status.record(81).ready, 1);
  platform::traceClear(), status.update();
  std::vector<u32> stopped;
  for (const auto& e : platform::traceRecent()) {
    if ((e.adr & ~0x30u) == 0x82001904 && e.value == 1) stopped.push_back(e.adr);
  }
  EXPECT_EQ(std::tuple(stopped, status.record(80).ready),
            std::tuple(std::vector<u32>{0x82001904, 0x82001914, 0x82001924, 0x82001934}, 1));
  auto sent = sendPass(13);
  ASSERT_EQ(sent.size(), 4u);
  for (int c = 0; c < 4; ++c) {
    MxifClipStatus r = sent[c].as<MxifClipStatus>();
    EXPECT_EQ(std::tuple(int(r.entry), int(r.ready), r.mask), std::tuple(81 + c, 0, 3u));
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

TEST_F(ServicesTest, MultiViewLayoutAndRedraw) {
  auto& mv = CategoryMultiView::instance();
  mv.setVideoFormat(3, 1, 5), mv.setVideoFormat(4, 0, 8);  // no such channel 8
  EXPECT_EQ(std::pair(mv.needsRedraw(5), mv.needsRedraw(4)), std::pair(true, false));
  auto sent = sendPass(40);
  ASSERT_EQ(sent.size(), 1u);
  MxifMultiView r = sent[0].as<MxifMultiView>();
  EXPECT_EQ(std::tuple(int(r.channel), int(r.format), int(r.formatFlag), r.mask), std::tuple(5, 3, 1, 1u));
  mv.markAllChanged();
  sent = sendPass(40);
  ASSERT_EQ(sent.size(), 8u);
  for (int ch = 0; ch < 8; ++ch) EXPECT_EQ(std::pair(mv.needsRedraw(ch), sent[ch].as<MxifMultiView>().mask), std::pair(true, 0x80u));
}

TEST_F(ServicesTest, ExtendedDisplayAndOutputsRouteAuxBuses) {
  auto image = [] { return std::vector<u8>(mxXptImage(), mxXptImage() + xpt::SIZE); };
  mxXptReset();
  const auto empty = image();
  mxSetAuxSource(MX_EXT_OUT_3, MX_AUX1 + 4), mxSetOutputSource(MX_OUT_1 + 3, MX_AUX1 + 8);
  const auto routed = image();

  auto& ext = CategoryExtendedDisplay::instance();
  auto& out = CategoryOutput::instance();
  mxXptReset();
  // AUX 17 does not feed outputs: left alone; there is no AUX bus 25.
  ext.record(0).aux = 3, out.record(0).source[5] = 17, out.record(0).source[6] = 25;
  ext.update(), out.update();
  EXPECT_EQ(image(), empty);  // display off, no output code set

  ext.record(0).display = 1, out.record(0).source[3] = 5;
  ext.update(), out.update();
  EXPECT_EQ(image(), routed);
  ext.record(0).aux = 20;  // no such AUX bus: external output 3 keeps AUX 3
  ext.update();
  EXPECT_EQ(image(), routed);
}

}  // namespace
