// The panel periphery records through the request ring, in the categories that start-up creates:
// what each takes, what it reports, and what comes back after a restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Main/panel/inhibit.h"
#include "tests/Main/category_fixture.h"

namespace {

using namespace category;
using testing_support::AckPacket;

class PeripheryTest : public test_categories::StartedSystemTest {
 protected:
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
    u32 bits;   // presence bits sent
    u32 taken;  // presence bits reported
  } cases[] = {
      {0, 246, 0, 1, 0},  {1, 245, 0, 1, 1},  {2, -1, 0, 1, 0},   {57, 250, 0, 1, 0},  // groups 1..5
      {58, 250, 0, 1, 1}, {59, 315, 0, 1, 1}, {60, 316, 0, 1, 0}, {61, 399, 0, 1, 0},  // groups 6..9
      {62, 400, 0, 1, 1}, {63, 1216, 0, 1, 0}, {64, 1319, 0, 1, 1}, {65, 1320, 0, 1, 0},
      {106, 1479, 0, 1, 1}, {107, 1480, 0, 1, 0}, {116, 1512, 0, 1, 0}, {126, 1811, 0, 1, 1},
      {127, 1812, 0, 1, 0}, {135, -1, 0, 1, 0},
      {3, 7, 4, 3, 1},    {4, 300, 3, 3, 2},  {5, 9, 9, 0, 0},  // modes; fields without their bit
  };
  MxifGpiInOut r{}, second{};
  r.mask = 0xFFFFFFFF;  // names nothing: reported as 0
  for (const auto& c : cases) r.entries[c.entry] = {c.bits, static_cast<s16>(c.code), static_cast<u8>(c.mode), 0};
  second.entries[3] = {2, 0, 1, 0};  // the same frame: one report of the union
  peer.send(r);
  const auto echoes = send(second);
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].mask, 0u);
  for (const auto& c : cases) {
    const GpiEntry& e = echoes[0].entries[c.entry];
    const u32 taken = c.entry == 3 ? 3 : c.taken;
    EXPECT_EQ(std::vector<int>({int(e.mask), e.code, e.mode}),
              std::vector<int>({int(taken), (taken & 1) ? c.code : 0, c.entry == 3 ? 1 : (taken & 2) ? c.mode : 0}))
        << c.entry;
  }
  EXPECT_TRUE(frame<MxifGpiInOut>().empty());  // reported once
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
  EXPECT_EQ(std::vector<int>({echoes[0].panel, int(echoes[0].mask), echoes[0].flag}), std::vector<int>({0, 1, 1}));
  const MxifButtonInhibit& t = echoes[1];
  const InhibitEntry& first = t.entries[0];
  const InhibitEntry& last = t.entries[232];
  EXPECT_EQ(std::vector<int>({t.panel, int(t.mask), t.flag, t.entries[5].code}), std::vector<int>({2, 0, 0, 0}));
  EXPECT_EQ(std::vector<int>({int(first.mask), first.code, first.select, first.mode}), std::vector<int>({6, 0, 10, 3}));
  EXPECT_EQ(std::vector<int>({int(last.mask), last.code, last.select}), std::vector<int>({1, 224, 0}));
  EXPECT_EQ(CategoryButtonInhibit::instance().record(1).panel, 1);  // untouched
}

TEST_F(PeripheryTest, MenuLockFlagsAboveOneAreDropped) {
  auto check = [&](auto r, size_t wire) {
    using T = decltype(r);
    const int last = T::N_FLAGS - 1;
    r.mask = 0b11 | 1u << last, r.flags[0] = 2, r.flags[1] = 1, r.flags[last] = 1;
    EXPECT_EQ(codec::wireSize<T>(), wire);
    const auto echoes = send(r);
    ASSERT_EQ(echoes.size(), 1u);
    const T& e = echoes[0];
    EXPECT_EQ(std::vector<int>({int(e.mask), e.flags[0], e.flags[1], e.flags[last]}),
              std::vector<int>({0b10 | 1 << last, 0, 1, 1}));
  };
  check(MxifSystemMenuLock{}, 10);
  check(MxifConfigMenuLock{}, 9);
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
      {"bit 2 clear", 0x03, {a, a2}, {n, full[0], full[1], full[2], full[3], full[4], full[5], full[6]}, 0},
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
  auto sent = framePackets();
  ASSERT_EQ(sent[TYPE_GPI_IN_OUT].size(), 1u);
  const auto g = sent[TYPE_GPI_IN_OUT][0].as<MxifGpiInOut>();
  EXPECT_EQ(g.mask, 0u);
  EXPECT_EQ(g.entries[135].code, 1811);
  for (const auto& e : g.entries) EXPECT_EQ(e.mask, 3u);
  ASSERT_EQ(sent[TYPE_BUTTON_INHIBIT].size(), 3u);
  for (int panel = 0; panel < 3; ++panel) {
    const auto t = sent[TYPE_BUTTON_INHIBIT][panel].as<MxifButtonInhibit>();
    EXPECT_EQ(std::vector<int>({t.panel, int(t.mask), t.entries[7].code}),
              std::vector<int>({panel, 1, panel == 1 ? 200 : 0}));
    for (const auto& e : t.entries) EXPECT_EQ(e.mask, 7u);
  }
  ASSERT_EQ(sent[TYPE_SYSTEM_MENU_LOCK].size(), 1u);
  const auto locks = sent[TYPE_SYSTEM_MENU_LOCK][0].as<MxifSystemMenuLock>();
  EXPECT_EQ(std::vector<int>({int(locks.mask), locks.flags[4]}), std::vector<int>({0x3F, 1}));
  ASSERT_EQ(sent[TYPE_RECENT_COLOR].size(), 1u);
  const auto recent = sent[TYPE_RECENT_COLOR][0].as<MxifRecentColor>();
  EXPECT_EQ(std::vector<int>({int(recent.colorMask), recent.colors[0][2]}), std::vector<int>({0xFF, 77}));
  EXPECT_TRUE(frame<MxifGpiInOut>().empty());
}

TEST_F(PeripheryTest, GpiAndPlugInTypesWithoutCategoryAreSkipped) {
  const int types[] = {TYPE_PLUGIN_STORAGE, TYPE_GPI_IN_STATUS, TYPE_PLUGIN_CMD, TYPE_GPI_CMD, TYPE_PLUGIN_ACTION_CMD};
  for (int type : types) peer.sendPacket(type, testing_support::Bytes(12, 0x5A));
  MxifGpiInOut next{};
  next.entries[0] = {1, 7, 0, 0};
  peer.send(next);
  testing_support::consoleClear();
  auto sent = framePackets();
  for (int type : types) EXPECT_EQ(sent.count(type), 0u) << type;  // no answer
  ASSERT_EQ(sent[TYPE_GPI_IN_OUT].size(), 1u);
  EXPECT_EQ(sent[TYPE_GPI_IN_OUT][0].as<MxifGpiInOut>().entries[0].code, 7);
  std::string lines;
  for (const char* name : {"MxifPluginStorage", "MxifGpiInStatus", "MxifPluginCmd", "MxifGpiCmd", "MxifPluginActionCmd"})
    lines += std::string("\x1b[ERR] receive undefined category ") + name + "\n";
  EXPECT_EQ(testing_support::consoleText(), lines);
}

}  // namespace
