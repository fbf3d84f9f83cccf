#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "Main/bus/sourcelink.h"
#include "tests/Main/category_fixture.h"

namespace {

using category::CategorySourceLink;
using L = MxifSourceLink;

struct TestSourceLink : CategorySourceLink {};

L modes(u32 mask, int linkMode, int tableMode) {
  L r{};
  std::tie(r.mask, r.linkMode, r.tableMode) = std::tuple(mask, linkMode, tableMode);
  return r;
}
L with(L r, int entry, int value) {
  r.linked[entry] = static_cast<s16>(value);
  r.entryMask[entry / 32] |= 1u << (entry % 32);
  return r;
}

std::vector<L>& hookChanges() { static std::vector<L> log; return log; }

class SourceLinkTest : public test_categories::RecordCategoryTest<TestSourceLink, L> {
 protected:
  void SetUp() override {
    hookChanges().clear();
    CategorySourceLink::setAssignHook([](const L& change) { hookChanges().push_back(change); });
    RecordCategoryTest::SetUp();
  }
  void TearDown() override { CategorySourceLink::setAssignHook(nullptr), RecordCategoryTest::TearDown(); }
  L echo(const L& r) { return roundTrip(r).at(0).as<L>(); }
  TestSourceLink& link = cat;
  L& live = stored[0];
};

// The presence word at byte 4 is no channel number: every record reaches the one channel. The table
// mode in force when the record arrives decides, not the one it carries; in table mode each entry
// links to its own source whatever value is received.
TEST_F(SourceLinkTest, ModeRecordsReachTheOnlyChannelAndTableModeLinksEachEntryToItself) {
  sendPass();
  EXPECT_EQ(echo(modes(L::LINK_MODE | L::TABLE_MODE, 1, 1)).mask, L::LINK_MODE | L::TABLE_MODE);
  EXPECT_EQ(echo(modes(L::TABLE_MODE, 0, 2)).mask, 0u);  // refused
  EXPECT_EQ(std::tuple(link.linkMode(), link.tableMode()), std::tuple(1, 1));

  link.initialize();
  roundTrip(with(modes(L::TABLE_MODE, 0, 1), 0, 20));
  EXPECT_EQ(live.linked[0], 20);
  roundTrip(with({}, 0, 20));
  roundTrip(with({}, 130, 138));
  EXPECT_EQ(std::tuple(int(live.linked[0]), int(live.linked[130]), link.findLinkedSource(150)), std::tuple(10, 150, 150));
}

// The hook hears of a link mode change before the entries are looked at.
TEST_F(SourceLinkTest, KeyMemoryHearsOfANewLinkModeBeforeTheEntries) {
  struct Step { u8 linkMode; u32 heardMask; int modeAfter; } steps[] = {{0, 0, 0}, {1, L::LINK_MODE, 1}, {2, 0, 1}};  // the current mode; a change; refused
  for (const auto& s : steps) {
    roundTrip(with(modes(L::LINK_MODE, s.linkMode, 0), 3, 20));
    const L& heard = hookChanges().back();
    EXPECT_EQ(std::tuple(heard.mask, heard.entryMask[0], !s.heardMask || heard.linkMode == s.linkMode, link.linkMode()),
              std::tuple(s.heardMask, 0u, true, s.modeAfter)) << int(s.linkMode);
  }
  EXPECT_EQ(std::tuple(hookChanges().size(), int(live.linked[3])), std::tuple(size_t{3}, 20));
}

TEST_F(SourceLinkTest, AuxPairFlagsAndLookups) {
  L r{};
  r.auxBusLink.mask = (1u << 0) | (1u << 5) | (1u << 23);
  r.auxBusLink.flags[0] = r.auxBusLink.flags[23] = 1;
  r.auxBusLink.flags[5] = 2;  // refused
  r.auxBusLink.flags[7] = 1;  // no bit
  roundTrip(r);
  for (int aux : {0, 5, 7, 23}) EXPECT_EQ(link.isAuxLinked(aux), aux == 0 || aux == 23) << aux;
  EXPECT_THROW(link.isAuxLinked(24), assert::AssertException);

  roundTrip(with(with({}, 194, 10), 128, 11));
  struct Case { int source, linked; } cases[] = {{329, 10}, {140, 11}, {139, -1}, {9, -1}, {330, -1}, {-5, -1}, {1000, -1}, {10, 0}};
  for (auto c : cases) EXPECT_EQ(link.findLinkedSource(c.source), c.linked) << c.source;
  EXPECT_EQ(std::tuple(CategorySourceLink::tableSource(128), CategorySourceLink::tableIndex(314)), std::tuple(140, 179));
  EXPECT_EQ(&CategorySourceLink::registered(), &link);
}

}  // namespace
