// Categories of the inputs and outputs, memories, stills and clips.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "Common/shared.h"
#include "Driver/clip/clip.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/shared.h"
#include "Main/framework/bp.h"
#include "Main/bus/button.h"
#include "Main/bus/bus.h"
#include "Main/media/clip.h"
#include "Main/memory/eventmem.h"
#include "Main/io/io.h"
#include "Main/memory/macro.h"
#include "Main/memory/shotmem.h"
#include "Main/framework/startup.h"
#include "Main/media/still.h"
#include "tests/support/board_fixture.h"
#include "tests/support/frontend_peer.h"
#include "Platform/platform.h"
#include "Lib/Include/storage.h"
#include "tests/Main/test_categories.h"

namespace {

using namespace category;
using internal::MxifButtonEvent;
using testing_support::AckPacket;
using testing_support::Bytes;
using testing_support::FrontendPeer;

class ServicesTest : public testing_support::BoardTest {
 protected:
  void SetUp() override {
    BoardTest::SetUp();
    reg().reset();
    peer.reset();
    AcknowledgeSender::instance().reset();
    createCategories();
    reg().initialize();
    testing_support::consoleClear();
  }

  static CategoryRegistry& reg() { return CategoryRegistry::instance(); }

  // Status packets of type `type` that one status pass sends.
  std::vector<AckPacket> sendPass(int type) {
    reg().sendAll(AcknowledgeSender::instance());
    std::vector<AckPacket> out;
    for (auto& p : peer.readPackets()) {
      if (p.type == type) out.push_back(p);
    }
    return out;
  }

  // Connects the link (the first request byte) with a record no test looks at.
  void connect() {
    peer.send(MxifShotMemoryStatus{});
    reg().receiveAll();
    reg().sendAll(AcknowledgeSender::instance());
    peer.readPackets();
  }

  FrontendPeer peer;
};

// Every field byte set to a pattern, every presence bit set, and the index byte naming a channel.
template <class T>
T patterned(int channel) {
  T r{};
  struct Fill : codec::LeafSink {
    u32 n = 0;
    void leaf(const codec::Leaf& f) override {
      if (f.isMask) return;
      for (int i = 0; i < f.count; ++i) codec::storeElement(f, i, (++n * 37 + 5) & 0x7F);
    }
  } fill;
  codec::walk(r, fill);
  codec::setAllPresence(r);
  if (RecordInfo<T>::N_CHANNELS > 1) reinterpret_cast<u8*>(&r)[4] = static_cast<u8>(channel);
  return r;
}

struct Registration {
  int type;
  const char* name;
  CategoryInterface* (*get)();
  int priority;
};

template <class C>
CategoryInterface* inst() {
  return &C::instance();
}

const Registration REGISTRATIONS[] = {
    {TYPE_CLIP_PLAY, "MxifClipPlay", inst<CategoryClipPlay>, 9},
    {TYPE_CLIP_REC, "MxifClipRec", inst<CategoryClipRec>, 9},
    {TYPE_CLIP_REGISTER, "MxifClipRegister", inst<CategoryClipRegister>, 9},
    {TYPE_CLIP_STATUS, "MxifClipStatus", inst<CategoryClipStatus>, 9},
    {TYPE_EVENT_MEMORY, "MxifEventMemory", inst<CategoryEventMemory>, 5},
    {TYPE_EVENT_MEMORY_STATUS, "MxifEventMemoryStatus", inst<CategoryEventMemoryStatus>, 9},
    {TYPE_MACRO, "MxifMacro", inst<CategoryMacro>, 9},
    {TYPE_SHOT_MEMORY, "MxifShotMemory", inst<CategoryShotMemory>, 4},
    {TYPE_SHOT_MEMORY_STATUS, "MxifShotMemoryStatus", inst<CategoryShotMemoryStatus>, 9},
    {TYPE_STILL_MEMORY, "MxifStillMemory", inst<CategoryStillMemory>, 9},
    {TYPE_STILL_STATUS, "MxifStillStatus", inst<CategoryStillStatus>, 9},
    {TYPE_EXTENDED_DISPLAY, "MxifExtendedDisplay", inst<CategoryExtendedDisplay>, 9},
    {TYPE_CUSTOM_INFO, "MxifCustomInfo", inst<CategoryCustomInfo>, 9},
    {TYPE_SOURCE_NAME, "MxifSourceName", inst<CategoryButtonSourceName>, 9},
    {TYPE_MULTI_VIEW, "MxifMultiView", inst<CategoryMultiView>, 9},
    {TYPE_INPUT_DVI, "MxifInputDvi", inst<CategoryInputDvi>, 9},
    {TYPE_INPUT_VIDEO, "MxifInputVideo", inst<CategoryInputVideo>, 9},
    {TYPE_OUTPUT, "MxifOutput", inst<CategoryOutput>, 9},
};

TEST_F(ServicesTest, RegisteredUnderTheirTypesWithPrioritiesAndOwners) {
  for (const auto& r : REGISTRATIONS) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(reg().at(r.type, 0), r.get());
    EXPECT_EQ(reg().instanceCount(r.type), 1);
    EXPECT_EQ(reg().get(r.type, 3), r.get());  // single instances answer for every ME
    EXPECT_EQ(r.get()->ownedByME(), 0);
    EXPECT_STREQ(r.get()->typeName(), r.name);
    EXPECT_EQ(reg().updatePriorityOf(r.type), r.priority);
  }
  const std::pair<int, int> owners[] = {
      {TYPE_EVENT_MEMORY_CMD, TYPE_EVENT_MEMORY}, {TYPE_SHOT_MEMORY_CMD, TYPE_SHOT_MEMORY},
      {TYPE_STILL_MEMORY_CMD, TYPE_STILL_MEMORY}, {TYPE_CLIP_PLAY_CMD, TYPE_CLIP_PLAY},
      {TYPE_CLIP_REC_CMD, TYPE_CLIP_REC}, {TYPE_CLIP_REGISTER_CMD, TYPE_CLIP_REGISTER},
      {TYPE_EVENT_MEMORY_EDIT_POINT, TYPE_EVENT_MEMORY}, {TYPE_EVENT_MEMORY_HISTORY, TYPE_EVENT_MEMORY},
      {TYPE_DATA_HEADER_N, TYPE_EVENT_MEMORY}};
  for (auto [type, owner] : owners) EXPECT_EQ(reg().commandOwnerOf(type), owner) << type;
  // Entering again (a new start in the same process) changes nothing.
  createCategories();
  EXPECT_EQ(reg().instanceCount(TYPE_EVENT_MEMORY), 1);
  EXPECT_EQ(reg().commandOwnerOf(TYPE_EVENT_MEMORY_CMD), TYPE_EVENT_MEMORY);
}

TEST_F(ServicesTest, WholeBackupImageStaysWithinItsLimit) {
  int bytes = BACKUP_HEADER_BYTES;
  for (int id = 0; id < N_TYPES; ++id) bytes += reg().boundBytes(id, 0) + reg().boundBytes(id, 1);
  EXPECT_LT(bytes, BUF_SIZE * 4);
  EXPECT_EQ(BUF_SIZE * 4, 71680);
  EXPECT_EQ(reg().boundBytes(TYPE_CLIP_STATUS, 0), 85 * 44);
  // The input records live in the category: nothing of them in the image.
  EXPECT_EQ(reg().boundBytes(TYPE_INPUT_VIDEO, 0), 0);
}

TEST_F(ServicesTest, RecordsComeBackFromTheBackupImageExceptTheInputs) {
  CategoryEventMemory::instance().record(0).linkedMe = 3;
  CategoryClipStatus::instance().record(84).ready = 1;
  CategoryOutput::instance().record(0).source[15] = 9;
  CategoryCustomInfo::instance().record(0).meSlot[7] = 2;
  CategoryInputVideo::instance().record(5).state = 2;
  const u8* buffer = platform::memory(BACKUP_BUFFER_ADR, BUF_SIZE * 4);
  std::vector<u8> saved(buffer, buffer + BUF_SIZE * 4);
  reg().initializeAll();
  EXPECT_EQ(CategoryEventMemory::instance().record(0).linkedMe, 0);
  reg().resumeAll(saved.data() + BACKUP_HEADER_BYTES);
  // Event memory, clip status and output as saved; the input's state from its default.
  const auto& clip = CategoryClipStatus::instance().record(84);
  const auto& input = CategoryInputVideo::instance().record(5);
  EXPECT_EQ(std::vector<int>({CategoryEventMemory::instance().record(0).linkedMe, clip.ready, clip.entry,
                              CategoryOutput::instance().record(0).source[15], static_cast<int>(input.state), input.input,
                              static_cast<int>(CategoryCustomInfo::instance().record(0).meSlot[7])}),
            std::vector<int>({3, 1, 84, 9, 0, 5, 2}));
}

struct Sent {
  int type;
  Bytes body;
};

// A patterned record of each type, for its last channel.
template <class... T>
std::vector<Sent> lastChannelOfEach() {
  return {{T::TYPE_INDEX, testing_support::recordBytes(patterned<T>(RecordInfo<T>::N_CHANNELS - 1))}...};
}

// A record of every type back to back: each taken whole and echoed.
TEST_F(ServicesTest, EveryRecordIsTakenWholeAndEchoed) {
  auto cases =
      lastChannelOfEach<MxifClipPlay, MxifClipRec, MxifClipRegister, MxifClipStatus, MxifEventMemory,
                        MxifEventMemoryStatus, MxifMacro, MxifShotMemory, MxifShotMemoryStatus, MxifStillMemory,
                        MxifStillStatus, MxifExtendedDisplay, MxifSourceName, MxifMultiView,
                        MxifInputDvi, MxifInputVideo, MxifOutput>();
  auto info = patterned<MxifCustomInfo>(0);
  for (int s = 0; s < MxifCustomInfo::N_SLOTS; ++s) info.meSlot[s] = static_cast<u32>(s % 5);  // 0..4 are taken
  cases.push_back({MxifCustomInfo::TYPE_INDEX, testing_support::recordBytes(info)});
  ASSERT_EQ(cases.size(), 18u);
  for (const auto& c : cases) peer.sendPacket(c.type, c.body);
  reg().receiveAll();
  EXPECT_EQ(peer.requestPending(), 0u);
  EXPECT_EQ(testing_support::consoleCount("[ERR]"), 0) << testing_support::consoleText();

  // The event memory record now turns the rotation on: four frames send every single instance.
  std::vector<AckPacket> got;
  for (int frame = 0; frame < 4; ++frame) {
    reg().sendAll(AcknowledgeSender::instance());
    for (auto& p : peer.readPackets()) got.push_back(p);
  }
  EXPECT_EQ(peer.garbage(), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    int seen = 0;
    for (const auto& p : got) {
      if (p.type != c.type) continue;
      ++seen;
      EXPECT_EQ(p.body, c.body);
    }
    EXPECT_EQ(seen, 1);
  }
}

TEST_F(ServicesTest, OwnedCommandsAreTakenWithoutDisturbingTheStream) {
  for (int type : {65, 66, 67, 68, 69, 81, 15, 17, 18}) {
    SCOPED_TRACE(type);
    peer.sendPacket(type, Bytes(7, 0x5A));  // sync-like bytes inside the body
    MxifShotMemory r = patterned<MxifShotMemory>(0);
    r.data[0] = static_cast<u8>(type);
    peer.send(r);
    reg().receiveAll();
    EXPECT_EQ(testing_support::consoleCount("receive undefined category"), 0);
    auto echo = sendPass(21);
    ASSERT_EQ(echo.size(), 1u);
    EXPECT_EQ(echo[0].as<MxifShotMemory>().data[0], type);
  }
}

TEST_F(ServicesTest, EventMemoryLinkAndPlayers) {
  struct Case {
    u8 enable, linkedMe;
    int me;
    bool linked;
  };
  const Case cases[] = {{1, 1, 0, true}, {1, 2, 0, false}, {1, 2, 1, true},
                        {0, 2, 1, false}, {5, 4, 3, true}, {1, 0, -1, true}};
  auto& em = CategoryEventMemory::instance();
  for (const auto& c : cases) {
    em.record(0).enable = c.enable;
    em.record(0).linkedMe = c.linkedMe;
    EXPECT_EQ(em.isLinkedToMe(c.me), c.linked) << int(c.enable) << "/" << int(c.linkedMe) << "/" << c.me;
  }
  em.workPlayer().status = EventPlayer::STATUS_RUNNING;
  em.registerPlayer(8).status = EventPlayer::STATUS_PAUSE;
  em.initInternal();
  EXPECT_EQ(em.workPlayer().status, EventPlayer::STATUS_IDLE);
  EXPECT_EQ(em.registerPlayer(8).status, EventPlayer::STATUS_IDLE);
  EXPECT_THROW(em.registerPlayer(9), assert::AssertException);
}

MxifButtonEvent button(u16 code, u8 state, u8 panel, u8 index) {
  MxifButtonEvent e;
  std::tie(e.code, e.state, e.panel, e.index) = std::tie(code, state, panel, index);
  return e;
}

TEST_F(ServicesTest, MacroAttachButtonTogglesItsFlag) {
  connect();
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
  EXPECT_THROW(macro.onAttachButton(button(1604, 1, 0, 0)), assert::AssertException);
  EXPECT_EQ(testing_support::consoleCount("btn.getCode() == MxifButtonEvent::BTN_TR_MACRO_ATTCH"), 1);
}

// The macros' road from the request ring: the button road test.
TEST_F(ServicesTest, ButtonDispatchReachesClipStatus) {
  CategoryButtonEvent::instance().dispatch(button(1616, 1, 0, 1));
  EXPECT_TRUE(CategoryClipStatus::instance().isTriggerPending(1));
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

TEST_F(ServicesTest, ClipStatusTriggerResetAndIndex) {
  connect();
  auto& status = CategoryClipStatus::instance();
  EXPECT_EQ(CategoryClipStatus::statusIndex(0), 81);
  EXPECT_EQ(CategoryClipStatus::statusIndex(3), 84);

  for (auto e : {button(1616, 0, 0, 1), button(1616, 1, 0, 4), button(1617, 1, 0, 1)}) status.onButtonEvent(e);
  for (int c = 0; c < 4; ++c) EXPECT_FALSE(status.isTriggerPending(c));
  status.onButtonEvent(button(1616, 1, 2, 2));
  EXPECT_TRUE(status.isTriggerPending(2));
  status.update();
  EXPECT_FALSE(status.isTriggerPending(2));

  for (int e = 80; e <= 84; ++e) status.record(e).ready = 1;
  mxClipReset();
  for (int c = 0; c < 4; ++c) mxClipArmAudioPlayback(MX_CLIP_1 + 2 * c);
  status.requestReset();
  EXPECT_EQ(status.record(81).ready, 1);  // acted on by the next update only
  platform::traceClear();
  status.update();
  EXPECT_FALSE(status.isResetPending());
  std::vector<u32> stopped;  // the four players stop their audio
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
  still.store = 2;
  still.capturing = 1;
  const std::pair<int, int> stills[] = {{187, 1}, {188, 1}, {181, 0}, {189, 0}, {207, 0}};
  for (auto [s, want] : stills) EXPECT_EQ(isRecordingStillSource(s), want) << s;
  still.capturing = 0;
  EXPECT_EQ(isRecordingStillSource(187), 0);
  still.capturing = 1;
  still.store = 4;
  EXPECT_EQ(isRecordingStillSource(193), 0);

  MxifClipRec& rec = CategoryClipRec::instance().record(0);
  rec.channel = 1;
  rec.recording = 1;
  const std::pair<int, int> clips[] = {{204, 1}, {205, 1}, {201, 0}, {206, 0}, {184, 0}};
  for (auto [s, want] : clips) EXPECT_EQ(isRecordingClipSource(s), want) << s;
  rec.recording = 2;
  EXPECT_EQ(isRecordingClipSource(204), 0);
}

TEST_F(ServicesTest, ClearStillsResetsAndSendsTheFourStatuses) {
  connect();
  auto& status = CategoryStillStatus::instance();
  for (int s = 0; s < 4; ++s) status.record(s).data[3] = 9;
  for (int s = 0; s < 4; ++s) SharedMemory::instance().writeWord(static_cast<int>(SMEM_STILL_VALID) + 4 * s, 1);
  CategoryStillMemory::instance().clearStills();
  for (int s = 0; s < 4; ++s) EXPECT_EQ(SharedMemory::instance().readWord(static_cast<int>(SMEM_STILL_VALID) + 4 * s), 0u);
  auto sent = sendPass(24);
  ASSERT_EQ(sent.size(), 4u);
  for (int s = 0; s < 4; ++s) {
    auto r = sent[s].as<MxifStillStatus>();
    EXPECT_EQ(std::tuple(int(r.index), int(r.data[3]), r.mask), std::tuple(s, 0, 1u));
  }
}

TEST_F(ServicesTest, InputVideoChannelWordAndByte16) {
  auto& in = CategoryInputVideo::instance();
  in.record(0).state = 2;
  in.record(0).byte16 = 1;
  in.record(127).state = 7;
  in.record(127).byte16 = 4;
  const struct {
    int source;
    u32 flag;
    u8 byte16;
  } cases[] = {{10, 2, 1}, {137, 7, 4}, {11, 0, 0}, {9, 0, 0}, {138, 0, 0}, {140, 0, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(in.channelFlag(c.source), c.flag) << c.source;
    EXPECT_EQ(in.channelByte16(c.source), c.byte16) << c.source;
  }
}

TEST_F(ServicesTest, MultiViewLayoutAndRedraw) {
  connect();
  auto& mv = CategoryMultiView::instance();
  mv.setVideoFormat(3, 1, 5);
  mv.setVideoFormat(4, 0, 8);  // no such channel
  EXPECT_TRUE(mv.needsRedraw(5));
  EXPECT_FALSE(mv.needsRedraw(4));
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

TEST_F(ServicesTest, CustomInfoHandsCarriedSourcesToTheBus) {
  auto& info = CategoryCustomInfo::instance();
  auto& bus = CategoryBus::instance()[0];
  MxifCustomInfo in{};
  in.source[0] = 20;
  in.source[35] = 21;
  in.source[7] = 99;  // not carried
  codec::setPresenceBit(in.sourceMask, 0);
  codec::setPresenceBit(in.sourceMask, 35);
  bus.setCustomInfoSource(7, 5);
  info.assign(in, 0);
  EXPECT_EQ(info.record(0).source[35], 21);
  EXPECT_EQ(bus.customInfoSource(0), 20);
  EXPECT_EQ(bus.customInfoSource(35), 21);
  EXPECT_EQ(bus.customInfoSource(7), 5);  // a source not carried leaves the bus table alone
  for (int item = -1; item < 8; ++item) {
    EXPECT_EQ(info.modeOf(item), 1);
    EXPECT_EQ(info.indexOf(item), -1);
  }
}

// ME slot words: 0 or an ME number + 1 are taken, a word naming no ME is dropped; findIndex finds
// the first slot of an ME.
TEST_F(ServicesTest, CustomInfoMeSlotWords) {
  auto& info = CategoryCustomInfo::instance();
  MxifCustomInfo in{};
  in.slotMask = 0x4E;  // slots 1, 2, 3, 6
  in.meSlot[1] = 3, in.meSlot[2] = 3, in.meSlot[3] = 4, in.meSlot[6] = 5;
  info.assign(in, 0);
  const auto& live = info.record(0);
  EXPECT_EQ(std::vector<u32>(live.meSlot, live.meSlot + 8), (std::vector<u32>{0, 3, 3, 4, 0, 0, 0, 0}));
  EXPECT_EQ(live.slotMask, 0x0Eu);
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
