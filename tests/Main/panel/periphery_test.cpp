// The panel periphery records through the request ring, in the categories that start-up creates:
// what each takes, what it reports, and what comes back after a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Main/panel/inhibit.h"
#include "tests/Main/category_fixture.h"

namespace {

using namespace category;
using testing_support::AckPacket;

class PeripheryTest : public test_categories::StartedSystemTest {
 public:
  void SetUp() override {
    StartedSystemTest::SetUp();
    peer.readPackets();
  }
  // Runs a frame; returns the packets of record T that it sent.
  template <class T>
  std::vector<T> frame() {
    std::vector<T> out;
    for (const auto& p : frameSends(T::TYPE_INDEX)) out.push_back(p.template as<T>());
    return out;
  }
  template <class T>
  std::vector<T> send(const T& r) {
    peer.send(r);
    return frame<T>();
  }
};

TEST_F(PeripheryTest, GpiCodesByGroupAndModesEachOnTheirOwn) {
  struct Case {
    int entry, code, mode;
    u32 bits;      // presence bits sent
    u32 taken;     // presence bits reported
  } cases[] = {
      {0, 246, 0, 1, 0},  {1, 245, 0, 1, 1},  {2, -1, 0, 1, 0},   {57, 250, 0, 1, 0},  // groups 1..5
      {58, 250, 0, 1, 1}, {59, 315, 0, 1, 1}, {60, 316, 0, 1, 0}, {61, 399, 0, 1, 0},  // groups 6..9
      {62, 400, 0, 1, 1}, {63, 1216, 0, 1, 0}, {64, 1319, 0, 1, 1}, {65, 1320, 0, 1, 0},
      {106, 1479, 0, 1, 1}, {107, 1480, 0, 1, 0}, {116, 1512, 0, 1, 0}, {126, 1811, 0, 1, 1},
      {127, 1812, 0, 1, 0}, {135, -1, 0, 1, 0},
      {3, 7, 4, 3, 1},    {4, 300, 3, 3, 2},  {5, 9, 9, 0, 0},  // modes; fields without their bit
  };
  MxifGpiInOut r{};
  r.mask = 0xFFFFFFFF;  // names nothing: reported as 0
  for (const auto& c : cases) {
    GpiEntry& e = r.entries[c.entry];
    e.mask = c.bits, e.code = static_cast<s16>(c.code), e.mode = static_cast<u8>(c.mode);
  }
  const auto echoes = send(r);
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].mask, 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entry);
    const GpiEntry& e = echoes[0].entries[c.entry];
    EXPECT_EQ(e.mask, c.taken);
    EXPECT_EQ(e.code, (c.taken & 1) ? c.code : 0);
    EXPECT_EQ(e.mode, (c.taken & 2) ? c.mode : 0);
  }
}

TEST_F(PeripheryTest, GpiRecordsOfOneFrameAreReportedOnceAsTheirUnion) {
  MxifGpiInOut a{}, b{};
  a.entries[10].mask = 1, a.entries[10].code = 10;
  b.entries[10].mask = 2, b.entries[10].mode = 2;
  b.entries[100].mask = 1, b.entries[100].code = 700;
  peer.send(a);
  const auto echoes = send(b);
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].entries[10].mask, 3u);
  EXPECT_EQ(echoes[0].entries[10].code, 10);
  EXPECT_EQ(echoes[0].entries[10].mode, 2);
  EXPECT_EQ(echoes[0].entries[100].code, 700);
  // Nothing taken: still echoed, with no presence bit.
  const auto again = send(MxifGpiInOut{});
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].entries[10].mask, 0u);
  EXPECT_EQ(again[0].entries[10].code, 10);
  EXPECT_TRUE(frame<MxifGpiInOut>().empty());
}

TEST_F(PeripheryTest, InhibitTablesGoByPanelWithEachFieldJudgedAlone) {
  MxifButtonInhibit r{};
  r.mask = 1, r.flag = 2;                   // refused
  r.entries[0] = {7, 225, 10, 3, 0};        // the code refused
  r.entries[232] = {7, 224, 11, 4, 0};      // select and mode refused
  r.entries[5] = {0, 9, 9, 9, 0};           // no bits: ignored
  for (u16 panel : {3, 0xFFFF}) {
    r.panel = panel;
    EXPECT_TRUE(send(r).empty()) << panel;
  }
  MxifButtonInhibit other{};
  other.mask = 1, other.flag = 1;
  r.panel = 2;
  peer.send(r);
  const auto echoes = send(other);  // panel 0, after panel 2 in the same frame
  ASSERT_EQ(echoes.size(), 2u);
  EXPECT_EQ(echoes[0].panel, 0);
  EXPECT_EQ(echoes[0].mask, 1u);
  EXPECT_EQ(echoes[0].flag, 1);
  const MxifButtonInhibit& t = echoes[1];
  EXPECT_EQ(t.panel, 2);
  EXPECT_EQ(t.mask, 0u);
  EXPECT_EQ(t.flag, 0);
  EXPECT_EQ((std::vector<int>{int(t.entries[0].mask), t.entries[0].code, t.entries[0].select, t.entries[0].mode}),
            (std::vector<int>{6, 0, 10, 3}));
  EXPECT_EQ((std::vector<int>{int(t.entries[232].mask), t.entries[232].code, t.entries[232].select}),
            (std::vector<int>{1, 224, 0}));
  EXPECT_EQ(t.entries[5].code, 0);
  EXPECT_EQ(category::CategoryButtonInhibit::instance().record(1).panel, 1);  // untouched
}

template <class T>
void checkMenuLock(PeripheryTest& test, std::vector<T> (PeripheryTest::*send)(const T&)) {
  T r{};
  r.mask = 0b11 | 1u << (T::N_FLAGS - 1);
  r.flags[0] = 2, r.flags[1] = 1, r.flags[T::N_FLAGS - 1] = 1;
  const auto echoes = (test.*send)(r);
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].mask, 0b10u | 1u << (T::N_FLAGS - 1));
  EXPECT_EQ(echoes[0].flags[0], 0);
  EXPECT_EQ(echoes[0].flags[1], 1);
  EXPECT_EQ(echoes[0].flags[T::N_FLAGS - 1], 1);
}

TEST_F(PeripheryTest, MenuLockFlagsAboveOneAreDropped) {
  EXPECT_EQ(codec::wireSize<MxifSystemMenuLock>(), 10u);
  EXPECT_EQ(codec::wireSize<MxifConfigMenuLock>(), 9u);
  checkMenuLock<MxifSystemMenuLock>(*this, &PeripheryTest::send<MxifSystemMenuLock>);
  checkMenuLock<MxifConfigMenuLock>(*this, &PeripheryTest::send<MxifConfigMenuLock>);
}

TEST_F(PeripheryTest, RecentColoursKeepTheListMostRecentFirst) {
  using Color = std::array<s16, 3>;
  using List = std::array<Color, 8>;
  const Color z{0, 0, 0}, a{1, 2, 3}, a2{1, 2, 4}, n{9, 9, 9};
  const List full{{{10, 0, 0}, {11, 0, 0}, {12, 0, 0}, {13, 0, 0}, {14, 0, 0}, {15, 0, 0}, {16, 0, 0}, {17, 0, 0}}};
  struct Step {
    const char* what;
    u32 mask;
    List colors;
    List expected;
    u32 reported;  // colour mask of the echo
  } steps[] = {
      {"black matches the empty list", 0x01, {z}, {z, z, z, z, z, z, z, z}, 0},
      {"a colour used", 0x01, {a}, {a, z, z, z, z, z, z, z}, 0xFF},
      {"third value differs", 0x05, {a2, z, n}, {a2, a, z, z, z, z, z, z}, 0xFF},
      {"a whole list", 0xFF, full, full, 0xFF},
      {"held at position 5", 0x01, {full[5]}, full, 0},
      {"new to a full list", 0x01, {n}, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0xFF},
      {"bit 0 clear", 0xFE, full, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
      {"bit 7 clear", 0x7F, full, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    MxifRecentColor r{};
    r.colorMask = s.mask;
    for (int i = 0; i < 8; ++i) std::copy(s.colors[i].begin(), s.colors[i].end(), r.colors[i]);
    const auto echoes = send(r);
    ASSERT_EQ(echoes.size(), 1u);
    EXPECT_EQ(echoes[0].colorMask, s.reported);
    List got;
    for (int i = 0; i < 8; ++i) std::copy(echoes[0].colors[i], echoes[0].colors[i] + 3, got[i].begin());
    EXPECT_EQ(got, s.expected);
  }
}

TEST_F(PeripheryTest, RestartReportsEveryKeptFieldOnce) {
  MxifGpiInOut gpi{};
  gpi.entries[135] = {1, 1811, 0, 0};
  MxifButtonInhibit inhibit{};
  inhibit.panel = 1, inhibit.entries[7] = {1, 200, 0, 0, 0};
  MxifSystemMenuLock lock{};
  lock.mask = 1 << 4, lock.flags[4] = 1;
  MxifRecentColor colors{};
  colors.colorMask = 1, colors.colors[0][2] = 77;
  peer.send(gpi), peer.send(inhibit), peer.send(lock), peer.send(colors);
  runFrame(0);
  peer.readPackets();
  restart();
  runFrame(0);
  std::vector<AckPacket> got[4];
  const int types[4] = {TYPE_GPI_IN_OUT, TYPE_BUTTON_INHIBIT, TYPE_SYSTEM_MENU_LOCK, TYPE_RECENT_COLOR};
  for (const auto& p : peer.readPackets()) {
    for (int i = 0; i < 4; ++i) {
      if (p.type == types[i]) got[i].push_back(p);
    }
  }
  ASSERT_EQ(got[0].size(), 1u);
  const auto g = got[0][0].as<MxifGpiInOut>();
  EXPECT_EQ(g.mask, 0u);
  EXPECT_EQ(g.entries[135].code, 1811);
  for (const auto& e : g.entries) EXPECT_EQ(e.mask, 3u);
  ASSERT_EQ(got[1].size(), 3u);
  for (int panel = 0; panel < 3; ++panel) {
    const auto t = got[1][panel].as<MxifButtonInhibit>();
    EXPECT_EQ(t.panel, panel);
    EXPECT_EQ(t.mask, 1u);
    EXPECT_EQ(t.entries[7].code, panel == 1 ? 200 : 0);
    for (const auto& e : t.entries) EXPECT_EQ(e.mask, 7u);
  }
  ASSERT_EQ(got[2].size(), 1u);
  EXPECT_EQ(got[2][0].as<MxifSystemMenuLock>().mask, 0x3Fu);
  EXPECT_EQ(got[2][0].as<MxifSystemMenuLock>().flags[4], 1);
  ASSERT_EQ(got[3].size(), 1u);
  EXPECT_EQ(got[3][0].as<MxifRecentColor>().colorMask, 0xFFu);
  EXPECT_EQ(got[3][0].as<MxifRecentColor>().colors[0][2], 77);
  EXPECT_TRUE(frame<MxifGpiInOut>().empty());
}

TEST_F(PeripheryTest, GpiAndPlugInTypesWithoutCategoryAreSkipped) {
  const std::pair<int, const char*> types[] = {{TYPE_PLUGIN_STORAGE, "MxifPluginStorage"},
                                               {TYPE_GPI_IN_STATUS, "MxifGpiInStatus"},
                                               {TYPE_PLUGIN_CMD, "MxifPluginCmd"},
                                               {TYPE_GPI_CMD, "MxifGpiCmd"},
                                               {TYPE_PLUGIN_ACTION_CMD, "MxifPluginActionCmd"}};
  for (auto [type, name] : types) {
    testing_support::consoleClear();
    peer.sendPacket(type, testing_support::Bytes(12, 0x5A));
    MxifGpiInOut next{};
    next.entries[0] = {1, static_cast<s16>(type), 0, 0};
    peer.send(next);
    runFrame(0);
    int echoes = 0;
    for (const auto& p : peer.readPackets()) {
      EXPECT_NE(p.type, type);
      if (p.type == TYPE_GPI_IN_OUT && p.as<MxifGpiInOut>().entries[0].code == type) ++echoes;
    }
    EXPECT_EQ(echoes, 1) << name;
    EXPECT_EQ(testing_support::consoleText(), std::string("\x1b[ERR] receive undefined category ") + name + "\n");
  }
}

}  // namespace
