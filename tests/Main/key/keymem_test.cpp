// Key source memory: key and DSK parameters stored per source and recalled on a source change, and
// the switches of the operate and source link records.
#include <gtest/gtest.h>

#include "Common/shared.h"
#include "Main/bus/bus.h"
#include "Main/key/chrkey.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"
#include "Main/panel/operate.h"
#include "Platform/board.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategoryKey;

constexpr u32 WINDOW = SHARED_WINDOW_BASE;
constexpr u32 UNITS = WINDOW + 0x06600000;
constexpr u32 unitAt(int i) { return UNITS + 0x10000 * static_cast<u32>(i); }
constexpr int keySlot(int r) { return 16 + 3576 * r; }
constexpr int dskSlot(int c) { return 57232 + 156 * c; }

KeySourceHeader header(int unit) {
  KeySourceHeader h;
  SharedMemory::instance().readKeySourceMemory(unit, 0, &h, sizeof h);
  return h;
}
void setHeader(int unit, u32 sequence, u32 enabled0, u32 enabled1 = 0, u32 modified = 0) {
  KeySourceHeader h{modified, {{enabled0, enabled1}}, sequence};
  SharedMemory::instance().writeKeySourceMemory(unit, 0, &h, sizeof h);
}

TEST(KeySourceIndex, SourcesAndTheirUnits) {
  const std::pair<int, int> cases[] = {{10, 0},   {89, 79},   {140, 80},  {141, 81},  {180, 82}, {181, 82},
                                       {182, 83}, {183, 84},  {191, 89},  {200, 90},  {202, 91}, {211, 97},
                                       {220, 98}, {223, 101}, {150, 102}, {165, 117}, {90, -1},  {142, -1},
                                       {166, -1}, {212, -1},  {224, -1}};
  for (auto [source, unit] : cases) EXPECT_EQ(KeyMemory::sourceIndex(source), unit) << source;
}

class KeyMemoryTest : public test_categories::StartedSystemTest {
 protected:
  void TearDown() override {
    platform::memoryLogStop();
    StartedSystemTest::TearDown();
  }
  static KeyMemory& memory() { return category::CategoryOperate::instance().keyMemory(); }
  static MxifKey& key(int me, int ch) { return CategoryKey::keyCategory(me).record(ch); }
  // The operate record's key memory switches as a request, and a frame.
  void switches(int enable, int share, u32 mask = 3) {
    MxifOperate r{};
    r.keyMemory = {mask, static_cast<u8>(enable), static_cast<u8>(share)};
    peer.send(r);
    runFrame(0);
  }
  static void setSource(int me, int entry, int source) {
    category::CategoryBus::instance()[me].record(0).entries[entry] = static_cast<u16>(category::CategoryBus::DIRECT + source);
  }
  void changeClip(int me, int ch, int clip) {
    MxifKey r;
    r.me = static_cast<u8>(me), r.channel = static_cast<u16>(ch);
    r.adjust.mask = 1, r.adjust.clip = static_cast<u16>(clip);
    peer.sendText(r);
  }
  // Every write into the key source area during one frame.
  std::vector<platform::MemoryWrite> frameWrites() {
    platform::memoryLogStart(UNITS, 127 * 0x10000);
    runFrame(0);
    platform::memoryLogStop();
    return platform::memoryLog();
  }
  static u32 slotU32(int unit, int offset) { return platform::readMem32(unitAt(unit) + offset); }
  static u16 slotU16(int unit, int offset) { return static_cast<u16>(slotU32(unit, offset)); }
  // Two bus entries' codes as a slot holds them: sources a and b.
  static constexpr u32 busCodes(int a, int b) {
    return static_cast<u32>(category::CategoryBus::DIRECT + a) | static_cast<u32>(category::CategoryBus::DIRECT + b) << 16;
  }
};

TEST_F(KeyMemoryTest, ChangedKeysAndDsksStoreOnceIntoTheirSlots) {
  switches(1, 0);  // the memory switched on empties every unit
  EXPECT_EQ(platform::readMem32(unitAt(2) + 12), 0x1001u);
  setSource(1, 6, 12);  // key 3 of ME 1 on source 12: unit 2, key slot 6
  setSource(1, 7, 40);
  runFrame(0);
  changeClip(1, 2, 600);
  runFrame(0);
  EXPECT_EQ(std::tuple(header(2).enabled.word[0], header(2).sequence, header(2).modified), std::tuple(1u << 6, 0x1002u, 3u));
  // The key record's clip, and the codes of the key's bus entries 6 and 7.
  EXPECT_EQ(std::tuple(slotU16(2, keySlot(6) + 28), slotU32(2, keySlot(6) + 420)), std::tuple(600, busCodes(12, 40)));
  changeClip(1, 2, 600);
  EXPECT_TRUE(frameWrites().empty());  // the same parameters again: nothing written

  // A DSK on ME 1's bus entry 18 is DSK channel 1: reference index 17, DSK slot 1.
  setSource(1, 18, 12);
  setSource(1, 19, 41);
  runFrame(0);
  MxifDsk d;
  d.channel = 1, d.mask = 1u << MxifDsk::W0_MATTE_COLOR, d.matteColor[0] = 1234;
  peer.sendText(d);
  runFrame(0);
  EXPECT_EQ(header(2).enabled.word[0], 1u << 6 | 1u << 17);
  // The DSK record's matte hue, and the codes of ME 1's bus entries 18 and 19.
  EXPECT_EQ(std::tuple(slotU16(2, dskSlot(1) + 32), slotU32(2, dskSlot(1) + 144)), std::tuple(1234, busCodes(12, 41)));
}

TEST_F(KeyMemoryTest, ASourceChangeRecallsTheUnitsSlot) {
  switches(1, 0);
  // Unit 2's slot 6 and the defaults unit's, as the front end filled them: priority, on-air byte and
  // a gain out of range besides the clip and the chroma range.
  auto fill = [](int unit, int clip) {
    StoredKeyData data{};
    data.key = key(1, 2);
    data.key.adjust.clip = static_cast<u16>(clip), data.key.adjust.gain = 5000;
    data.key.priority = 0, data.key.onAir = 1;
    data.rangeWidth = 20, data.chroma.colorA[0] = static_cast<s16>(clip);

    SharedMemory::instance().writeKeySourceMemory(unit, keySlot(6), &data, sizeof data);
  };
  fill(2, 500);
  fill(126, 700);
  struct { u32 sequence, enabled; int clip; } cases[] = {{0x1000, 1u << 6, 500}, {0x1000, 1u << 5, 700}, {0x0FFF, 1u << 6, 111}};
  for (const auto& c : cases) {
    setSource(1, 6, 90);
    runFrame(0);
    for (int k = 0; k < 4; ++k) key(1, k).priority = static_cast<u8>(3 - k);
    key(1, 2).adjust.clip = 111, key(1, 2).adjust.gain = 222;
    setHeader(2, c.sequence, c.enabled);
    setSource(1, 6, 12);
    runFrame(0);
    EXPECT_EQ(key(1, 2).adjust.clip, c.clip) << c.enabled;
    // Neither the ranks nor the on-air state change; contents out of range stay out.
    EXPECT_EQ(std::tuple(key(1, 0).priority, key(1, 2).priority, key(1, 3).priority, key(1, 2).onAir, key(1, 2).adjust.gain),
              std::tuple(3, 1, 0, 0, 222));
    if (c.clip != 111) {
      EXPECT_EQ(category::CategoryChromaKey::instance()[1].record(2).rangeWidth, 20);
      EXPECT_EQ(category::CategoryChromaKey::instance()[1].workingBlock(2).colorA[0], c.clip);
    }
    EXPECT_EQ(memory().keys[1][2].changed, 0);
  }
}

TEST_F(KeyMemoryTest, SwitchesModesAndSharing) {
  setSource(0, 2, 12);
  runFrame(0);
  changeClip(0, 0, 300);  // memory off: nothing tracked
  EXPECT_TRUE(frameWrites().empty());
  EXPECT_EQ(memory().keys[0][0].source, 0);

  switches(1, 0);
  changeClip(0, 0, 301);
  switches(2, 0, 1);  // held while the keyer changes: nothing stored
  EXPECT_EQ(header(2).sequence, 0x1001u);
  switches(3, 0, 1);  // released: the earlier change is not stored later
  runFrame(0);
  EXPECT_EQ(header(2).sequence, 0x1001u);

  // A new mode, share mode or source link mode while not held empties every unit.
  for (int step = 0; step < 4; ++step) {
    setHeader(50, 0, 0xF);
    MxifSourceLink link{};
    link.mask = MxifSourceLink::LINK_MODE, link.linkMode = 1;
    if (step < 3) switches(step > 0, step == 2);  // modes 0 and 1, then share mode
    else peer.send(link), runFrame(0);
    EXPECT_TRUE(header(50).sequence == 0x1001u && header(50).enabled.word[0] == 0) << step;
  }

  // Share mode: two keys on one source follow the one that changed, in the same frame, on slot 0.
  setSource(0, 4, 12);
  runFrame(0);
  changeClip(0, 1, 444);
  runFrame(0);
  EXPECT_EQ(std::tuple(key(0, 0).adjust.clip, key(0, 1).adjust.clip, header(2).enabled.word[0], slotU16(2, keySlot(0) + 28)),
            std::tuple(444, 444, 1u, 444));
}

}  // namespace
