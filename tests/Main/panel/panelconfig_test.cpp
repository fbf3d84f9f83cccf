#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "Lib/Include/storage.h"
#include "Main/fader/faderevent.h"
#include "Main/io/io.h"
#include "Main/panel/panelconfig.h"
#include "Platform/platform.h"
#include "tests/Main/category_fixture.h"

namespace {

using Record = MxifControlPanelConfig;
using Panel = Record::Panel;
using Assign = KeyFaderButtonAssign;
using category::CategoryControlPanelConfig;
using category::CategoryFaderEvent;
using testing_support::AckPacket;

struct Body {
  std::vector<u8> b;
  void write(u8 x) { b.push_back(x); }
};

std::vector<u8> wire(const Record& r) {
  Body out;
  libmx::writeTextRecord(out, r);
  return out.b;
}

Record decode(const AckPacket& p) {
  Record r{};
  libmx::WireIn in(p.body.data(), p.body.size());
  EXPECT_TRUE(libmx::readTextRecord(in, r));
  EXPECT_EQ(in.position(), p.body.size());
  return r;
}

template <int C>
void setText(TextField<C>& t, const char* s) {
  t.count = static_cast<s16>(std::strlen(s));
  std::memcpy(t.chars, s, std::strlen(s));
}

// One request field: how it is set, and the presence word that tells whether it was taken.
struct FieldCase {
  const char* what;
  std::function<void(Record&)> set;
  std::function<u32(const Record&)> word;
  u32 taken;
};

TEST(PanelConfigRanges, EachFieldIsTakenOrDroppedOnItsOwn) {
  auto sub1 = [](const Record& r) { return r.subControlPanel1.mask; };
  auto main = [](const Record& r) { return r.controlPanel.mask; };
  auto entry0 = [](const Record& r) { return r.codeEntries[0].mask; };
  auto codeA = [](int v) { return [v](Record& r) { r.codeEntries[0].mask = 1, r.codeEntries[0].code[0] = static_cast<u8>(v); }; };
  auto triple = [](s16 a, s16 b, s16 c) {
    return [=](Record& r) {
      r.tripleMask = 1;
      r.triples[0][0] = a, r.triples[0][1] = b, r.triples[0][2] = c;
    };
  };
  const FieldCase cases[] = {
      {"sub 1: level 1 = 51 with switch 1 = 1",
       [](Record& r) { r.subControlPanel1.mask = 1u | 1u << 7, r.subControlPanel1.switches[0] = 1, r.subControlPanel1.level[0] = 51; },
       sub1, 1u},
      {"main: level 2 = 6", [](Record& r) { r.controlPanel.mask = 1u << 8, r.controlPanel.level[1] = 6; }, main, 0},
      {"sub 1: level 2 = 6", [](Record& r) { r.subControlPanel1.mask = 1u << 8, r.subControlPanel1.level[1] = 6; }, sub1, 1u << 8},
      {"sub 2: request 2, group B switch 1",
       [](Record& r) { r.subControlPanel2.mask = Panel::REQUEST, r.subControlPanel2.request = 2, r.subControlPanel2.groupBMask = 1, r.subControlPanel2.groupB[0] = 1; },
       [](const Record& r) { return r.subControlPanel2.mask << 4 | r.subControlPanel2.groupBMask; }, 1u},
      {"code entry 5 with valid codes",
       [](Record& r) { r.codeEntries[5].mask = 0xF, std::memset(r.codeEntries[5].code, 5, 4); },
       [](const Record& r) { return r.codeEntries[5].mask; }, 0},
      {"entry code a = 3", codeA(3), entry0, 0},
      {"entry code a = 0", codeA(0), entry0, 1u},
      {"entry code a = 12", codeA(12), entry0, 1u},
      {"entry code b = 13", [](Record& r) { r.codeEntries[0].mask = 2, r.codeEntries[0].code[1] = 13; }, entry0, 0},
      {"group code b = 13", [](Record& r) { r.codeGroup.mask = 2, r.codeGroup.code[1] = 13; },
       [](const Record& r) { return r.codeGroup.mask; }, 2u},
      {"triple (0, 16, 0)", triple(0, 16, 0), [](const Record& r) { return r.tripleMask; }, 0},
      {"triple (15, 0, 15)", triple(15, 0, 15), [](const Record& r) { return r.tripleMask; }, 1u},
      {"options: value 13, value 12, lamp flag 2",
       [](Record& r) { r.options.mask = 0xB, r.options.value[0] = 13, r.options.value[1] = 12, r.options.lampFlag = 2; },
       [](const Record& r) { return r.options.mask; }, 2u},
      {"texts 1 and 2 of block 2",
       [](Record& r) { r.textBlock2.mask = 3, setText(r.textBlock2.text1, "a\\\"b"), setText(r.textBlock2.text2, "b"); },
       [](const Record& r) { return r.textBlock2.mask; }, 1u},
      {"text 1 with a plain quote", [](Record& r) { r.textBlock1.mask = 1, setText(r.textBlock1.text1, "a\"b"); },
       [](const Record& r) { return r.textBlock1.mask; }, 0},
      {"key fader: selMe 10, selKeyCh 7",
       [](Record& r) { r.keyFaders[7][11] = {Assign::SEL_ME | Assign::SEL_KEY_CH, 10, 7}; },
       [](const Record& r) { return r.keyFaders[7][11].mask; }, Assign::SEL_KEY_CH},
  };
  for (const auto& c : cases) {
    Record request{};
    c.set(request);
    Record accepted;
    libmx::checkPanelConfigRanges(request, accepted, false);
    EXPECT_EQ(c.word(accepted), c.taken) << c.what;
  }
}

class PanelConfigTest : public test_categories::SystemCategoriesTest {
 protected:
  CategoryControlPanelConfig& cfg = CategoryControlPanelConfig::instance();
  Record& live() { return cfg.record(0); }
  std::vector<AckPacket> sendPass() { return SystemCategoriesTest::sendPass(cfg); }
};

TEST_F(PanelConfigTest, RequestIsEchoedWithExactlyTheAcceptedBits) {
  Record req{};
  EXPECT_EQ(wire(req).size(), 1239u);
  req.textBlock1.mask = 1;
  setText(req.textBlock1.text1, "ab");
  req.subControlPanel1.mask = Panel::REQUEST | 1u << 7;
  req.subControlPanel1.request = 1;
  req.subControlPanel1.level[0] = 51;
  req.codeGroup.mask = 0x3;
  req.codeGroup.code[0] = 3;
  req.codeGroup.code[1] = 13;
  req.keyFaders[2][4] = {Assign::SEL_ME | Assign::SEL_KEY_CH, 1, 8};
  req.keyFaderStates[1][2].mask = 0x3;
  req.keyFaderStates[1][2].state[0] = 1;
  req.keyFaderStates[1][2].state[1] = 2;
  const auto body = wire(req);
  EXPECT_EQ(body.size(), 1241u);
  peer.sendPacket(Record::TYPE_INDEX, body);
  reg().receiveAll();

  const auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].type, 25);
  EXPECT_EQ(packets[0].body.size(), 1241u);
  Record echo = decode(packets[0]);
  EXPECT_STREQ(reinterpret_cast<const char*>(echo.textBlock1.text1.chars), "ab");
  EXPECT_EQ(echo.subControlPanel1.request, 1);
  EXPECT_EQ(echo.subControlPanel1.level[0], 0);
  EXPECT_EQ(echo.codeGroup.code[1], 13);
  EXPECT_EQ(echo.keyFaders[2][4].selMe, 1);
  EXPECT_EQ(echo.keyFaders[2][4].selKeyCh, 0);
  EXPECT_EQ(echo.keyFaderStates[1][2].state[0], 1);
  const u32 want[] = {1u, Panel::REQUEST, 2u, Assign::SEL_ME, 1u};
  u32* words[] = {&echo.textBlock1.mask, &echo.subControlPanel1.mask, &echo.codeGroup.mask, &echo.keyFaders[2][4].mask,
                  &echo.keyFaderStates[1][2].mask};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(*words[i], want[i]) << i;
    *words[i] = 0;
  }
  EXPECT_FALSE(codec::hasAny(echo));  // and no other bit
  EXPECT_TRUE(sendPass().empty());
}

TEST_F(PanelConfigTest, ButtonAccessors) {
  live().keyFaders[1][2] = {0, 0, 3};
  live().keyFaders[4][5] = {0, 2, 1};  // presence bits clear: the values still count
  EXPECT_EQ(cfg.matchKeyFaderAssign(1, 2, 0, 3), 0);
  EXPECT_EQ(cfg.matchKeyFaderAssign(4, 5, 2, 1), 1);
  EXPECT_EQ(cfg.matchKeyFaderAssign(4, 5, 2, 2), 0);
  EXPECT_EQ(cfg.matchKeyFaderAssign(8, 5, 2, 1), 0);
  EXPECT_THROW(cfg.matchKeyFaderAssign(4, 12, 2, 1), assert::AssertException);

  live().keyFaderStates[0][0].state[3] = 1;
  EXPECT_EQ(cfg.keyFaderButtonState(0, 9, 3), 1);
  EXPECT_EQ(cfg.keyFaderButtonState(0, 0, 15), 0);
  EXPECT_THROW(cfg.keyFaderButtonState(3, 0, 3), assert::AssertException);
  EXPECT_EQ(testing_support::consoleCount("NeverReachHere"), 1);

  const std::pair<u8, u8> toggles[] = {{2, 1}, {1, 0}, {0, 1}};
  for (auto [from, to] : toggles) {
    live().keyFaderStates[2][7].state[11] = from;
    cfg.toggleKeyFaderButtonState(2, 7, 11);
    EXPECT_EQ(live().keyFaderStates[2][7].state[11], to) << int(from);
  }
  sendPass();
  cfg.setKeyFaderButtonState(3, 0, 0, 1);
  EXPECT_TRUE(sendPass().empty());
  // A fader out of range stores nothing, yet the record is reported.
  cfg.setKeyFaderButtonState(0, 8, 0, 1);
  const auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_FALSE(codec::hasAny(decode(packets[0])));
}

TEST_F(PanelConfigTest, ButtonAssignedToNothingGoesOffUnlessTheRecordCarriesItsState) {
  for (auto& row : live().keyFaderStates) row[3].state[4] = row[3].state[5] = 1;
  Record req{};
  req.keyFaders[3][4] = {Assign::SEL_ME, 0, 0};
  req.keyFaderStates[1][3].mask = 1u << 4;
  req.keyFaderStates[1][3].state[4] = 1;
  cfg.assign(req, 0);
  EXPECT_EQ(live().keyFaderStates[0][3].state[4], 0);
  EXPECT_EQ(live().keyFaderStates[1][3].state[4], 1);
  EXPECT_EQ(live().keyFaderStates[2][3].state[4], 0);
  for (auto& row : live().keyFaderStates) EXPECT_EQ(row[3].state[5], 1);
}

TEST_F(PanelConfigTest, ReplacedAssignmentReleasesTheTrackerItDrove) {
  struct Case {
    u8 liveMe, liveKey, newMe, newKey;
    u32 bits;
    int released;
  } cases[] = {
      {2, 1, 3, 1, Assign::SEL_ME, 7},
      {5, 2, 1, 0, Assign::SEL_ME | Assign::SEL_KEY_CH, 22},
      {2, 1, 12, 1, Assign::SEL_ME, 7},  // invalid: releases all the same, the assignment stays
      {2, 1, 2, 1, Assign::SEL_ME, -1},  // the same assignment
      {2, 1, 3, 1, 0, -1},               // not carried
      // Assignments that name no tracker of this system: ME 1 B side, key 6, downstream key 5.
      {6, 0, 1, 0, Assign::SEL_ME, -1},
      {2, 5, 1, 0, Assign::SEL_ME, -1},
      {5, 4, 1, 0, Assign::SEL_ME, -1},
  };
  auto& faders = CategoryFaderEvent::instance();
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.liveMe) << "," << int(c.liveKey) << " -> " << int(c.newMe));
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) faders.fader(k).ownerFader = 1;
    live().keyFaders[6][0] = {0, c.liveMe, c.liveKey};
    Record req{};
    req.keyFaders[6][0] = {c.bits, c.newMe, c.newKey};
    EXPECT_NO_THROW(cfg.assign(req, 0));
    for (int k = 0; k < CategoryFaderEvent::N_SLOTS; ++k) EXPECT_EQ(faders.fader(k).ownerFader, k == c.released ? -1 : 1) << k;
    EXPECT_EQ(live().keyFaders[6][0].selMe, c.newMe < 10 && c.bits ? c.newMe : c.liveMe);
  }
}

TEST_F(PanelConfigTest, CustomInformationDecidesWhichAssignmentsAreUsable) {
  category::CategoryCustomInfo::instance().record(0).enable = 1;
  struct Case {
    u8 me, key;
    bool usable;
  } cases[] = {{0, 0, false}, {1, 3, true}, {1, 4, false}, {6, 3, true}, {9, 0, true}, {5, 3, true}, {5, 4, false}, {10, 0, false}};
  for (const auto& c : cases) {
    live().keyFaders[2][9] = {0, c.me, c.key};
    for (auto& row : live().keyFaderStates) row[2].state[9] = 1;
    int me = -1, key = -1;
    EXPECT_EQ(cfg.keyFaderAssign(2, 9, me, key), c.usable) << int(c.me) << "," << int(c.key);
    EXPECT_EQ(me, c.usable ? c.me : 0);
    EXPECT_EQ(key, c.usable ? c.key : 0);
    for (int p = 0; p < 3; ++p) EXPECT_EQ(cfg.keyFaderButtonState(p, 2, 9), c.usable ? 1 : 0);
  }
  category::CategoryCustomInfo::instance().record(0).enable = 0;  // without it, as it stands
  live().keyFaders[2][9] = {0, 10, 7};
  int me = -1, key = -1;
  EXPECT_TRUE(cfg.keyFaderAssign(2, 9, me, key) && me == 10 && key == 7);
  EXPECT_FALSE(cfg.keyFaderAssign(8, 0, me, key) || me != 0 || key != 7);  // the key select stays
}

TEST_F(PanelConfigTest, RestartReportsEveryFieldWithEveryButtonOff) {
  Record& r = live();
  setText(r.textBlock1.text2, "kept");
  r.codeEntries[6].code[2] = 200;  // never taken from a request, kept in the image as it stands
  r.subControlPanel1.level[0] = 99;  // damaged
  r.options.value[2] = 12;
  r.keyFaders[7][11] = {0, 9, 7};
  for (auto& row : r.keyFaderStates) {
    for (auto& e : row) {
      e.entryMask = 5;
      std::memset(e.state, 1, sizeof e.state);
    }
  }
  const u8* buffer = platform::memory(BACKUP_BUFFER_ADR, BUF_SIZE * 4);
  std::vector<u8> saved(buffer, buffer + BUF_SIZE * 4);
  reg().initializeAll();
  reg().resumeAll(saved.data() + BACKUP_HEADER_BYTES);
  reg().initAfterResume();

  const auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  const Record echo = decode(packets[0]);
  Record full = echo;
  codec::setAllPresence(full);
  EXPECT_EQ(std::memcmp(&full, &echo, sizeof echo), 0);  // every presence bit ...
  EXPECT_EQ(echo.mask, 0u);                             // ... but the record's own word
  EXPECT_STREQ(reinterpret_cast<const char*>(echo.textBlock1.text2.chars), "kept");
  EXPECT_EQ(echo.codeEntries[6].code[2], 200);
  EXPECT_EQ(echo.subControlPanel1.level[0], 0);
  EXPECT_EQ(echo.options.value[2], 12);
  EXPECT_EQ(echo.keyFaders[7][11].selMe, 9);
  EXPECT_EQ(echo.keyFaders[7][11].selKeyCh, 7);
  for (const auto& row : echo.keyFaderStates) {
    for (const auto& e : row) EXPECT_EQ(std::count(e.state, e.state + 12, 0), 12);
  }
  for (const auto& row : r.keyFaderStates) {
    for (const auto& e : row) EXPECT_EQ(e.entryMask, 0u);
  }
}

}  // namespace
