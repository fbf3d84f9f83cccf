#include <gtest/gtest.h>

#include <vector>

#include "Main/sourcelink.h"
#include "category_fixture.h"

namespace {

using category::CategoryRegistry;
using category::CategorySourceLink;
using L = MxifSourceLink;

struct TestSourceLink : CategorySourceLink {};

bool entryPresent(const L& r, int i) { return (r.entryMask[i / 32] >> (i % 32) & 1u) != 0; }

L withEntry(int i, int value) {
  L r{};
  r.linked[i] = static_cast<s16>(value);
  r.entryMask[i / 32] |= 1u << (i % 32);
  return r;
}

std::vector<L>& hookChanges() {
  static std::vector<L> log;
  return log;
}

class SourceLinkTest : public test_categories::RecordCategoryTest<TestSourceLink, L> {
 protected:
  void SetUp() override {
    hookChanges().clear();
    CategorySourceLink::setAssignHook([](const L& change) { hookChanges().push_back(change); });
    RecordCategoryTest::SetUp();
  }
  void TearDown() override {
    CategorySourceLink::setAssignHook(nullptr);
    RecordCategoryTest::TearDown();
  }
  TestSourceLink& link = cat;
  L& live = stored[0];
};

TEST_F(SourceLinkTest, EntriesTakeOnlySourcesOfTheTable) {
  struct Case {
    int entry, value;
    bool taken;
  } cases[] = {
      {0, 137, true}, {0, 138, false}, {0, 139, false}, {1, 140, true}, {1, 142, false}, {2, 165, true},
      {2, 166, false}, {3, 178, true}, {3, 180, false}, {3, 181, true}, {3, 183, false}, {4, 200, false},
      {4, 211, true}, {4, 212, false}, {5, 223, true}, {5, 224, false}, {6, 233, true}, {6, 234, false},
      {194, 314, true}, {194, 313, false}, {194, 329, true}, {194, 330, false}, {100, 0, false},
      {100, -1, false}, {100, 10, true},
  };
  for (const auto& c : cases) {
    const s16 before = live.linked[c.entry];
    auto packets = roundTrip(withEntry(c.entry, c.value));
    ASSERT_EQ(packets.size(), 1u) << c.value;
    EXPECT_EQ(packets[0].body.size(), 456u);
    const L echo = packets[0].as<L>();
    EXPECT_EQ(entryPresent(echo, c.entry), c.taken) << c.value;
    EXPECT_EQ(live.linked[c.entry], c.taken ? c.value : before) << c.value;
  }
}

// The presence word at byte 4 of the record is no channel number: every record reaches the one
// channel, whatever bits it carries.
TEST_F(SourceLinkTest, LinkAndTableModeRecordsReachTheOnlyChannel) {
  sendPass();  // the report after initialise (nothing: all zero, not dirty)
  L r{};
  r.mask = L::LINK_MODE | L::TABLE_MODE;
  r.linkMode = 1;
  r.tableMode = 1;
  auto packets = roundTrip(r);
  ASSERT_EQ(packets.size(), 1u);
  const L echo = packets[0].as<L>();
  EXPECT_EQ(echo.mask, L::LINK_MODE | L::TABLE_MODE);
  EXPECT_EQ(link.linkMode(), 1);
  EXPECT_EQ(link.tableMode(), 1);

  r.mask = L::TABLE_MODE;
  r.tableMode = 2;  // refused
  EXPECT_EQ(roundTrip(r).at(0).as<L>().mask, 0u);
  EXPECT_EQ(link.tableMode(), 1);
}

TEST_F(SourceLinkTest, KeyMemoryHearsOfANewLinkModeBeforeTheEntries) {
  L r = withEntry(3, 20);
  r.mask = L::LINK_MODE;
  r.linkMode = 0;  // the current mode: not a change
  roundTrip(r);
  ASSERT_EQ(hookChanges().size(), 1u);
  EXPECT_EQ(hookChanges()[0].mask, 0u);
  EXPECT_EQ(hookChanges()[0].entryMask[0], 0u);  // entries not yet looked at
  EXPECT_EQ(live.linked[3], 20);

  r.linkMode = 1;
  roundTrip(r);
  ASSERT_EQ(hookChanges().size(), 2u);
  EXPECT_EQ(hookChanges()[1].mask, L::LINK_MODE);
  EXPECT_EQ(hookChanges()[1].linkMode, 1);
  EXPECT_EQ(link.linkMode(), 1);

  r.linkMode = 2;  // refused
  roundTrip(r);
  EXPECT_EQ(hookChanges()[2].mask, 0u);
  EXPECT_EQ(link.linkMode(), 1);
}

TEST_F(SourceLinkTest, TableModeLinksEachEntryToItsOwnSource) {
  // The table mode in force when the record arrives decides, not the one it carries.
  L r = withEntry(0, 20);
  r.mask = L::TABLE_MODE;
  r.tableMode = 1;
  roundTrip(r);
  EXPECT_EQ(live.linked[0], 20);
  roundTrip(withEntry(0, 20));
  EXPECT_EQ(live.linked[0], 10);
  roundTrip(withEntry(130, 138));  // the received value does not matter
  EXPECT_EQ(live.linked[130], 150);
  EXPECT_EQ(link.findLinkedSource(150), 150);
}

TEST_F(SourceLinkTest, AuxPairFlagsAndLookups) {
  L r{};
  r.auxBusLink.mask = (1u << 0) | (1u << 5) | (1u << 23);
  r.auxBusLink.flags[0] = 1;
  r.auxBusLink.flags[5] = 2;  // refused
  r.auxBusLink.flags[23] = 1;
  r.auxBusLink.flags[7] = 1;  // no bit
  const L echo = roundTrip(r).at(0).as<L>();
  EXPECT_EQ(echo.auxBusLink.mask, (1u << 0) | (1u << 23));
  EXPECT_TRUE(link.isAuxLinked(0));
  EXPECT_FALSE(link.isAuxLinked(5));
  EXPECT_FALSE(link.isAuxLinked(7));
  EXPECT_TRUE(link.isAuxLinked(23));
  EXPECT_THROW(link.isAuxLinked(24), assert::AssertException);

  roundTrip(withEntry(194, 10));
  roundTrip(withEntry(128, 11));
  struct Case {
    int source, linked;
  } cases[] = {{329, 10}, {140, 11}, {139, -1}, {9, -1}, {330, -1}, {-5, -1}, {1000, -1}, {10, 0}};
  for (auto c : cases) EXPECT_EQ(link.findLinkedSource(c.source), c.linked) << c.source;
  EXPECT_EQ(CategorySourceLink::tableSource(128), 140);
  EXPECT_EQ(CategorySourceLink::tableIndex(314), 179);
  EXPECT_EQ(&CategorySourceLink::registered(), &link);
}

TEST_F(SourceLinkTest, ResumeTakesEverythingWithEveryBit) {
  L saved{};
  saved.reserved = 0xDEAD;
  saved.linkMode = 1;
  saved.tableMode = 1;
  for (int i = 0; i < L::N_SOURCES; ++i) saved.linked[i] = static_cast<s16>(CategorySourceLink::tableSource(194 - i));
  saved.auxBusLink.flags[3] = 1;
  link.resume(&saved, 0);
  link.initInternal();
  EXPECT_EQ(link.findLinkedSource(10), 329);
  EXPECT_EQ(link.findLinkedSource(329), 10);
  EXPECT_TRUE(link.isAuxLinked(3));
  auto packets = sendPass();
  ASSERT_EQ(packets.size(), 1u);
  const L echo = packets[0].as<L>();
  EXPECT_EQ(echo.reserved, 0u);
  EXPECT_EQ(echo.mask, L::LINK_MODE | L::TABLE_MODE);
  for (int w = 0; w < 6; ++w) EXPECT_EQ(echo.entryMask[w], 0xFFFFFFFFu);
  EXPECT_EQ(echo.entryMask[6], 0x7u);  // 195 entries
  EXPECT_EQ(echo.auxBusLink.mask, 0xFFFFFFu);
  EXPECT_EQ(echo.linkMode, 1);
  EXPECT_EQ(echo.linked[1], 328);

  link.initialize();
  EXPECT_EQ(link.findLinkedSource(10), 0);
  EXPECT_EQ(link.linkMode(), 0);
}

// A damaged image (a mode above 1, a linked value outside the table) is refused before anything is
// taken, so the registry initialises the category instead.
TEST_F(SourceLinkTest, ResumeRefusesADamagedImageWhole) {
  struct Case {
    u8 linkMode, tableMode;
    s16 linked;
  } cases[] = {{2, 0, 10}, {0, 5, 10}, {0, 0, 139}, {0, 0, -3}};
  for (auto c : cases) {
    L saved{};
    saved.linkMode = c.linkMode;
    saved.tableMode = c.tableMode;
    saved.linked[0] = 329;
    saved.linked[7] = c.linked;
    link.initialize();
    EXPECT_THROW(link.resume(&saved, 0), assert::AssertException) << c.linked;
    EXPECT_EQ(link.findLinkedSource(10), 0);
    EXPECT_EQ(link.linkMode(), 0);
  }
}

}  // namespace
