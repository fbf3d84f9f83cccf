// Source and bus tally in the started system: status registers set per frame, state and groups
// through the request ring.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "Driver/core/core.h"
#include "Driver/key/regs.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/key/key.h"
#include "Main/tally/tally.h"
#include "Main/panel/peripheral.h"
#include "Main/system/mfconfig.h"
#include "Platform/board.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryBusTally;
using category::CategorySourceTally;
using category::tallyIndexOf;
using V = std::vector<int>;

constexpr int HARDWARE = 1, TRANSITION = 0;  // tally mode settings

TEST(TallyMaps, CodesAndSourcesToTallyIndexes) {
  const V outputs = {150, 151, 152, 154, 155, 156, 158, 159, 160, 162, 163, 164, 170, 171, 172, 173, 174, 175, 176, 177};
  for (int code = 1; code <= 20; ++code) EXPECT_EQ(category::tallyCodeSource(code), outputs[code - 1]) << code;
  for (int code : {21, 44, 68}) EXPECT_EQ(category::tallyCodeSource(code), code + 219);
  for (int code : {0, 69, 0x7FFF, 0xFFFF, -1}) EXPECT_EQ(category::tallyCodeSource(code), -1) << code;
  const std::pair<int, int> indexes[] = {{10, 0},   {137, 127}, {140, 128}, {141, 129}, {150, 130}, {170, 146},
                                         {178, 154}, {181, 155}, {182, 156}, {200, 163}, {220, 171}, {240, 183},
                                         {237, 182}, {314, 231}, {9, -1}, {139, -1}, {179, -1}, {238, -1}, {330, -1}};
  for (const auto& [source, index] : indexes) EXPECT_EQ(tallyIndexOf(source), index) << source;
}

class TallyTest : public test_categories::StartedSystemTest {
 protected:
  void SetUp() override { StartedSystemTest::SetUp(), status(0); }

  static CategorySourceTally& tally() { return CategorySourceTally::instance(); }
  static AutoTransition& transition(int slot) { return category::CategoryFaderEvent::instance().transition(slot); }

  // Tally mode and the codes of group g (the others unchanged), through the request ring.
  void group(int g, V codes, int mode = HARDWARE) {
    MxifPeripheral r;
    r.tallyMode = static_cast<u8>(mode), r.maskA = MxifPeripheral::TALLY_MODE;
    codes.resize(TallyGroup::N_ENTRIES, 0);
    for (int i = 0; i < TallyGroup::N_ENTRIES; ++i) r.groups[g].entries[i] = static_cast<u16>(codes[i]);
    r.groups[g].mask = 0xFF;
    peer.send(r);
  }
  // Sources on bus entries of an ME, as {entry, source} pairs.
  void select(int me, std::vector<std::pair<int, int>> entries) {
    MxifBus r;
    r.me = static_cast<u8>(me);
    for (auto [e, s] : entries) r.setEntry(e, category::CategoryBus::DIRECT + s);
    peer.send(r);
  }
  // ME 0's block of the stored mainframe configuration, written as it stands (the tally also gives
  // meanings to values the front end cannot set).
  static MainframeMeConfig& me0Config() { return category::CategoryMainframeConfig::instance().record(0).meConfig[0]; }
  // The tally status words of ME 1, ME 2, the DSK program and the DSK clean outputs.
  static void status(u32 me1, u32 me2 = 0, u32 pgm = 0, u32 cln = 0) {
    platform::regPoke(MX_ME1_BASE + keyreg::MIXER_A + keyreg::TALLY_STATUS, me1);
    platform::regPoke(MX_ME2_BASE + keyreg::MIXER_A + keyreg::TALLY_STATUS, me2);
    platform::regPoke(keyreg::DSK_TALLY_PGM1, pgm);
    platform::regPoke(keyreg::DSK_TALLY_CLN1, cln);
  }
  // Frames for a status word to settle (each flag is the OR of two frames); the packets of the last.
  std::map<int, std::vector<testing_support::AckPacket>> frames(int n = 2) {
    for (int i = 1; i < n; ++i) framePackets();
    return framePackets();
  }
  // Which of the sources group g flags, and which of the entries ME me's bus tally flags.
  static V tallied(int g, V sources) {
    std::erase_if(sources, [g](int s) { return tally().lastComputed(g).tally[tallyIndexOf(s)] == 0; });
    return sources;
  }
  static int flagCount(const MxifSourceTally& r) { return std::accumulate(std::begin(r.tally), std::end(r.tally), 0); }
  static V busTallied(int me, V entries) {
    std::erase_if(entries, [me](int e) { return CategoryBusTally::entryTally(me, e) == 0; });
    return entries;
  }
};

// ME 1 program with flag bits 1 and 3: source 150, background entries 0 and 1 and key 0's fill
// entry of ME 0, and the sources on entries 0 and 2, where ME 2's program (flag bit 1) brings in
// ME 2's entry 0; never the sources on entry 1.
TEST_F(TallyTest, MeProgramFollowsItsFlagBitsIntoBusesAndReenteredMes) {
  group(0, {1});
  select(1, {{0, 25}, {1, 26}, {2, 27}});
  select(0, {{0, 20}, {1, 21}, {2, 154}});
  status(0x0A, 0x02);
  frames();
  EXPECT_EQ(std::tuple(tallied(0, {150, 20, 21, 154, 25, 26, 27}), busTallied(0, {0, 1, 2, 3, 10, 11}), busTallied(1, {0, 1, 2})),
            std::tuple(V({150, 20, 154, 25}), V({0, 1, 2}), V({0, 1})));
  // The hardware drops the bits: the flags hold for one frame more.
  status(0);
  frames(1);
  const V held = tallied(0, {20, 154, 25});
  frames(1);
  EXPECT_EQ(std::tuple(held, tallied(0, {20, 154, 25})), std::tuple(V({20, 154, 25}), V()));
}

// A recording still store or clip player tallies its video or key source through record input
// entry 13 or 14; ME 1's program on that entry leads back into ME 1, where the resolution ends at the
// source already flagged.
TEST_F(TallyTest, LoopThroughAReenteredOutputEndsAtTheFirstFlaggedSource) {
  // unit: the store or player that records; source: on ME 0's entry 0, `other` the unit's other one.
  struct Case { bool clip; u8 unit; int source, other, entry; } const cases[] = {
      {false, 0, 181, 182, 13}, {true, 1, 205, 204, 14}, {true, 3, 210, 211, 13}};
  group(0, {1});
  status(0x02);
  for (const auto& c : cases) {
    MxifStillMemory still{};
    still.store = c.unit, still.capturing = !c.clip, still.mask = 0x5;
    MxifClipRec clip{};
    clip.channel = c.unit, clip.recording = c.clip, clip.mask = 0x5;
    peer.send(still), peer.send(clip);
    select(0, {{0, c.source}, {13, 150}, {14, 150}});
    frames(3);
    EXPECT_EQ(tallied(0, {150, c.source, c.other}), V({150, c.source})) << c.source;
    for (int me = 0; me < category::N_ME; ++me) EXPECT_EQ(busTallied(me, {13, 14}), V({c.entry})) << me;
  }
}

// A DSK program output flags its DSKs' buses on every ME; faded to black it flags nothing.
TEST_F(TallyTest, DskProgramOutputFlagsNothingWhileFadedToBlack) {
  group(0, {13});
  select(1, {{16, 40}});
  status(0, 0, 0x02);
  frames();
  EXPECT_EQ(tallied(0, {170, 40}), V({170, 40}));
  for (int me = 0; me < category::N_ME; ++me) EXPECT_EQ(busTallied(me, {16, 17}), V({16})) << me;
  // Program 2 (code 14) reads byte 2 of the status word, preview 1 (code 15, a preview group's)
  // byte 1; their bit 0 brings in the background feed, here ME 1's program.
  for (auto [g, code, output, pgm] : {std::tuple(0, 14, 171, 0x030000u), std::tuple(1, 15, 172, 0x0300u)}) {
    group(g, {code});
    status(0, 0, pgm);
    frames(3);
    EXPECT_EQ(tallied(g, {170, 171, 172, 173, 40, 150}), V({output, 40, 150})) << output;
  }
  group(0, {13});
  MxifOperate fade{};
  fade.ftb.target = 1, fade.ftb.rate = 0;
  fade.ftb.mask = MxifOperate::FadeToBlack::TARGET | MxifOperate::FadeToBlack::RATE;
  peer.send(fade);
  frames(3);
  EXPECT_EQ(flagCount(tally().lastComputed(0)), 0);
}

// An input whose input-video record leaves it out (record 0 also for the DVI input 140) is not
// flagged, nor is the up-stream key laid over it followed.
TEST_F(TallyTest, InputLeftOutIsNeitherFlaggedNorFollowed) {
  MxifUpStreamKeyAssign usk{};
  usk.source[0] = 30, usk.sourceMask = 1;
  usk.entries[10].value = 5, usk.entries[10].mask = 1;  // source 20 keyed by key 1, always
  peer.send(usk);
  group(0, {1});
  select(0, {{0, 20}, {1, 140}});
  status(0x06);
  frames();
  EXPECT_EQ(std::tuple(tallied(0, {20, 140, 30}), busTallied(0, {72, 73})), std::tuple(V({20, 140, 30}), V({72})));
  for (int record : {10, 0}) {
    MxifInputVideo in{};
    in.input = static_cast<u8>(record), in.tallyOff = 1, in.mask = 1u << 1;
    peer.send(in);
  }
  frames();
  EXPECT_EQ(std::tuple(tallied(0, {150, 20, 140, 30}), busTallied(0, {0, 1, 72})), std::tuple(V({150}), V({0, 1})));
}

// ME 3's program (code 7, as a resumed record may hold it) is flagged but not followed; bus output
// 241 (code 22) flags entry 25 of all four MEs and follows ME 0's; codes 0 and 69 add nothing.
TEST_F(TallyTest, BusOutputFlagsItsEntryOnEveryMeAndOuterOutputsStop) {
  select(0, {{25, 30}});
  select(1, {{25, 31}});
  select(2, {{0, 32}});
  runFrame(0);
  const u16 codes[] = {7, 22, 0, 69};
  TallyGroup& g = category::CategoryPeripheral::instance().record(0).groups[0];
  std::copy(std::begin(codes), std::end(codes), g.entries);
  category::CategoryPeripheral::instance().record(0).tallyMode = HARDWARE;
  frames(1);
  EXPECT_EQ(std::tuple(tallied(0, {158, 241, 30, 31, 32}), flagCount(tally().lastComputed(0))), std::tuple(V({158, 241, 30}), 3));
  for (int me = 0; me < category::N_ME; ++me) EXPECT_EQ(busTallied(me, {0, 24, 25}), V({25})) << me;
}

// At rest program shows entry a only, preview too unless the preview background setting shows entry
// b; half-way both background entries are on program. After a completed transition the program bus
// is B and only B is on program.
TEST_F(TallyTest, BackgroundEntriesFollowTheTransition) {
  group(0, {1}, TRANSITION);
  group(1, {2}, TRANSITION);
  select(0, {{0, 20}, {1, 21}});
  AutoTransition& t = transition(AutoTransition::bkgdSlot(0));
  const struct { int previewSetting, flip; float position; V program, preview; } cases[] = {
      {0, 1, 0.0f, {150, 20}, {151, 20}}, {1, 1, 0.0f, {150, 20}, {151, 21}},
      {0, 1, 0.5f, {150, 20, 21}, {151, 20, 21}}, {0, -1, 0.0f, {150, 21}, {151, 21}}};
  for (const auto& c : cases) {
    me0Config().meOption = static_cast<u8>(c.previewSetting);
    t.flip = c.flip, t.positionA = c.position;
    frames();  // the bus follows the flip in the first
    EXPECT_EQ(std::tuple(tallied(0, {150, 20, 21}), tallied(1, {151, 20, 21})), std::tuple(c.program, c.preview))
        << c.previewSetting << " " << c.flip << " " << c.position;
  }
}

// The whole road through the ring: ME 0's clean feed taken at key 3's source (clean tap mode 1,
// clean key 2) and group 0 watching code 3 (152): while key 3 of ME 0 moves, the clean output and
// the input on key 3's key-source bus (entry 7) are on air; back at 0, the clean output alone.
TEST_F(TallyTest, CleanFeedAtAKeySourceThroughTheMainframeConfiguration) {
  MxifMainframeConfig config;
  config.meConfig[0].mask = MainframeMeConfig::CLEAN_KEY | MainframeMeConfig::CLEAN_TAP_MODE;
  config.meConfig[0].cleanKey = 2, config.meConfig[0].cleanTapMode = 1;
  peer.send(config);
  group(0, {3}, TRANSITION);
  select(0, {{6, 21}, {7, 22}});
  AutoTransition& t = transition(AutoTransition::keySlot(0, 2));
  for (const auto& [position, want] : {std::pair{0.5f, V({152, 22})}, std::pair{0.0f, V({152})}}) {
    t.flip = 1, t.positionA = position;
    frames(1);
    EXPECT_EQ(tallied(0, {152, 21, 22}), want) << position;
  }
  // Mode 0: the keys on air that rank above the clean key (key 0 above key 2, key 1 below it).
  config.meConfig[0].cleanTapMode = 0;
  peer.send(config);
  for (auto [k, rank] : {std::pair{0, 3}, {1, 0}, {2, 1}}) category::CategoryKey::instance()[0].record(k).priority = u8(rank);
  select(0, {{2, 23}, {4, 25}});
  for (int k : {0, 1}) {
    AutoTransition& key = transition(AutoTransition::keySlot(0, k));
    key.flip = 1, key.positionA = 0.5f;
  }
  frames(1);
  EXPECT_EQ(tallied(0, {23, 25}), V({23}));
}

// A key counts on program while its position is above 0; on preview by its setting: 1 while at
// most 0.99999, 2 always, any other never.
TEST_F(TallyTest, KeysCountByPositionAndPreviewSetting) {
  group(0, {1}, TRANSITION);
  group(1, {2}, TRANSITION);
  select(0, {{0, 20}, {2, 22}});
  AutoTransition& t = transition(AutoTransition::keySlot(0, 0));
  const struct { int setting, flip; float position; bool program, preview; } cases[] = {
      {1, 1, 0.0f, false, true}, {0, 1, 0.5f, true, false}, {1, 1, 0.5f, true, true},
      {1, -1, 0.0f, true, false}, {2, -1, 0.0f, true, true}, {3, 1, 0.5f, true, false}};
  for (const auto& c : cases) {
    me0Config().tapAKeys[0] = static_cast<u8>(c.setting);
    t.flip = c.flip, t.positionA = c.position;
    frames(1);
    EXPECT_EQ(std::tuple(tallied(0, {22}).size(), tallied(1, {22}).size()), std::tuple(size_t{c.program}, size_t{c.preview}))
        << c.setting << " " << c.flip << " " << c.position;
  }
  EXPECT_EQ(busTallied(0, {2, 3}), V({2}));
}

// A DSK program output counts a DSK by its own position, whatever the hardware reports.
TEST_F(TallyTest, DskProgramOutputCountsDsksByTheirPositions) {
  group(0, {13}, TRANSITION);
  select(1, {{16, 40}});
  AutoTransition& t = transition(AutoTransition::dskSlot(0));
  const struct { u32 status; float position; bool counted; } cases[] = {
      {0x02, 0.0f, false}, {0x02, 0.00001f, false}, {0, 0.5f, true}};
  for (const auto& c : cases) {
    status(0, 0, c.status);
    t.positionA = c.position;
    frames();
    EXPECT_EQ(tallied(0, {170, 40}), c.counted ? V({170, 40}) : V({170})) << c.position;
  }
}

// During ME 1's transition ME 2's program on its B bus brings in ME 2's background and keys.
TEST_F(TallyTest, ReenteredMeDuringATransitionBringsItsBackgroundAndKeys) {
  group(0, {1}, TRANSITION);
  select(1, {{0, 25}, {1, 26}, {2, 27}});
  select(0, {{0, 20}, {1, 154}});
  transition(AutoTransition::bkgdSlot(0)).positionA = 0.5f;
  transition(AutoTransition::keySlot(1, 0)).positionA = 0.5f;
  frames(1);
  EXPECT_EQ(std::tuple(tallied(0, {150, 20, 154, 25, 26, 27}), busTallied(1, {0, 1, 2})), std::tuple(V({150, 20, 154, 25, 27}), V({0, 1, 2})));
}

// A background DVE mark widens the background bits (1 and 2, 17 and 18) of its ME's status word in
// the update that reads its slot, three frames after the one in which it was set.
TEST_F(TallyTest, BackgroundDveMarkWidensTheStatusThreeFramesLater) {
  group(0, {1});
  select(0, {{0, 20}, {1, 21}});
  status(0x20002);
  frames();
  mxSetContext(MX_CONTEXT_ME1);
  tally().markBkgdDveTransition();
  EXPECT_EQ(tally().bkgdDveMark(0), 1);
  for (int frame = 1; frame <= 3; ++frame) {
    runFrame(0);
    EXPECT_EQ(tally().flagWord(CategorySourceTally::FLAG_ME1), 0x20002u) << frame;
  }
  runFrame(0);
  EXPECT_EQ(std::tuple(tally().flagWord(CategorySourceTally::FLAG_ME1), tallied(0, {20, 21})), std::tuple(0x60006u, V({20, 21})));
}

// A dual tally the output stream cannot take even after a flush keeps its marks and goes out once
// the stream has room.
TEST_F(TallyTest, UnsentTallyKeepsItsMarksForTheNextTurn) {
  group(0, {1});
  select(0, {{0, 20}});
  status(0x02);
  frames();
  peer.readPackets();
  status(0);
  tally().update();
  tally().update();  // both history rows clear: the group changed
  AcknowledgeSender& tx = AcknowledgeSender::instance();
  for (int fill = 0; fill < 2; ++fill) {  // the stream and the ring full
    while (tx.stream().freeCount() > 0) tx.stream().write(0);
    tx.flush();
  }
  tally().sendStatus(tx);
  EXPECT_TRUE(codec::hasAny(tally().dual(0)) && codec::hasAny(tally().lastComputed(0)));
  while (!tx.stream().empty()) {
    peer.readBytes();
    tx.flush();
  }
  peer.readBytes();
  tally().sendStatus(tx);
  tx.flush();
  const auto packets = peer.readPackets();
  ASSERT_EQ(packets.size(), 2u);
  EXPECT_EQ(std::tuple(packets[0].type, packets[1].type, packets[0].as<MxifDualSourceTally>().local.presence[0],
                       int(packets[1].as<MxifSourceTally>().tally[tallyIndexOf(20)])),
            std::tuple(category::TYPE_DUAL_SOURCE_TALLY, category::TYPE_SOURCE_TALLY, ~0u, 0));
}

}  // namespace
