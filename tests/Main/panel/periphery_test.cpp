// The panel periphery records through the request ring, in the categories that start-up creates:
// what each takes, what it reports, and what comes back after a restart.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Lib/Include/data_internal.h"
#include "Lib/Include/storage.h"
#include "Platform/platform.h"
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
    runFrame(0);
    std::vector<T> out;
    for (const auto& p : peer.readPackets()) {
      if (p.type == T::TYPE_INDEX) out.push_back(p.as<T>());
    }
    return out;
  }
  template <class T>
  std::vector<T> send(const T& r) {
    peer.send(r);
    return frame<T>();
  }
  // A restart on the same board: the image that the last frame copied comes back.
  void restart() {
    const u32 bytes = BUF_SIZE * 4;
    std::memcpy(platform::memory(NON_VOLATILE_BASE, bytes), platform::memory(BACKUP_BUFFER_ADR, bytes), bytes);
    category::CategoryRegistry::instance().initialize();
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

}  // namespace
