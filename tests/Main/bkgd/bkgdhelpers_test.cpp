// The box-edge rule, the wipe pattern check, the selector links, the key re-rank step and the
// free-pattern merge.
#include <gtest/gtest.h>

#include <array>
#include <tuple>

#include "Driver/core/core.h"
#include "Main/bkgd/bkgdhelpers.h"

namespace {

using Edges = std::array<s16, 4>;

TEST(ClampEdges, RangeDragAndSymmetry) {
  struct Case {
    int mode;
    Edges old, in;
    int result;
    Edges out;
  };
  const Case cases[] = {
      // Any edge outside -5000..5000 refuses all four.
      {0, {0, 0, 0, 0}, {5001, 0, 0, 0}, 0, {5001, 0, 0, 0}},
      {1, {0, 0, 0, 0}, {0, 0, 0, -5001}, 0, {0, 0, 0, -5001}},
      {0, {0, 0, 0, 0}, {-5000, 5000, -5000, 5000}, 1, {-5000, 5000, -5000, 5000}},
      // Other modes: a changed edge drags its opposite.
      {0, {0, 0, 0, 0}, {100, 0, 0, 0}, 1, {100, 0, 0, 100}},
      {0, {0, 0, 0, 0}, {0, -50, 0, 0}, 1, {0, -50, -50, 0}},
      {2, {0, 0, 0, 0}, {0, 0, 70, 0}, 1, {0, 70, 70, 0}},
      {0, {0, 0, 0, 0}, {0, 0, 0, -30}, 1, {-30, 0, 0, -30}},
      {0, {-100, 100, -100, 100}, {-200, 200, -200, 200}, 1, {-200, 200, -200, 200}},
      // An unchanged edge out of order is left alone.
      {0, {500, 0, 0, 100}, {500, 0, 0, 100}, 1, {500, 0, 0, 100}},
      // Mode 1: a changed edge sets its partner to its negation, then the sides are clamped at 0.
      {1, {0, 0, 0, 0}, {-100, 0, 0, 0}, 1, {-100, 0, 0, 100}},
      {1, {0, 0, 0, 0}, {100, 0, 0, 0}, 1, {0, 0, 0, 0}},
      {1, {0, 0, 0, 0}, {0, 200, 0, 0}, 1, {0, 200, -200, 0}},
      {1, {-10, 10, -10, 10}, {-10, 10, -40, 10}, 1, {-10, 40, -40, 10}},
  };
  for (const auto& c : cases) {
    Edges e = c.in;
    EXPECT_EQ(libmx::clampEdges(c.mode, c.old.data(), e.data()), c.result);
    EXPECT_EQ(e, c.out) << "mode " << c.mode << " in " << c.in[0] << "," << c.in[1] << "," << c.in[2] << "," << c.in[3];
  }
}

TEST(PatternValid, AllowedNumbersPerGroupAndCode) {
  struct Case {
    u8 number, group;
    int valid;
  };
  const Case cases[] = {
      {0, 0, 1}, {14, 0, 1}, {15, 0, 0}, {16, 0, 1}, {22, 0, 0}, {23, 0, 1},
      {15, 1, 0}, {17, 1, 1}, {23, 1, 1}, {24, 1, 0},
      {15, 2, 1}, {16, 2, 0},
      {16, 3, 1}, {17, 3, 0}, {21, 3, 0}, {22, 3, 1}, {23, 3, 1}, {29, 3, 0},
      {0, 4, 0}, {30, 0, 0}, {31, 1, 0},
  };
  for (const auto& c : cases) {
    const u8 p[2] = {c.number, c.group};
    EXPECT_EQ(libmx::isPatternValid(p, MX_BKGD), c.valid) << int(c.number) << "/" << int(c.group);
  }
  const u8 ok[2] = {0, 0};
  for (int code : {0, static_cast<int>(MX_KEY1_F), MX_BKGD + 1}) EXPECT_EQ(libmx::isPatternValid(ok, code), 0) << code;
}

// The keys have their own table: the numbers the transition engine draws for a key.
TEST(PatternValid, KeysShareTheirOwnTable) {
  const struct { u8 number, group; int valid; } cases[] = {
      {14, 0, 1}, {15, 0, 0}, {16, 0, 1}, {17, 0, 0}, {23, 0, 0}, {19, 1, 1}, {20, 1, 0}, {22, 1, 0},
      {23, 1, 1}, {24, 1, 0}, {15, 2, 1}, {16, 2, 0}, {11, 3, 1}, {12, 3, 0}, {22, 3, 0}, {0, 4, 0},
  };
  for (int code : {MX_KEY1, MX_KEY2, MX_KEY3, MX_KEY4}) {
    for (const auto& c : cases) {
      const u8 p[2] = {c.number, c.group};
      EXPECT_EQ(libmx::isPatternValid(p, code), c.valid) << code << ": " << int(c.number) << "/" << int(c.group);
    }
  }
}

MxifBkgd selectors(u32 mask, u8 a, u8 b, u8 link) {
  MxifBkgd r;
  r.link.mask = mask;
  r.link.selectA = a;
  r.link.selectB = b;
  r.link.selectLink = link;
  return r;
}

TEST(LinkPair, KeepsTheSelectorsEqualWhileLinked) {
  constexpr u32 A = 1, B = 2, L = 4;
  struct Case {
    const char* what;
    u32 inMask;
    u8 inA, inB, inLink, liveA, liveB, liveLink;
    u32 mask;
    u8 a, b;
  };
  const Case cases[] = {
      {"link on with A", A | L, 2, 0, 1, 0, 0, 0, A | B | L, 2, 2},
      {"link on with A and B", A | B | L, 2, 3, 1, 0, 0, 0, A | B | L, 2, 2},
      {"link on with B only", B | L, 0, 3, 1, 1, 0, 0, A | B | L, 3, 3},
      {"link on alone takes live A", L, 0, 0, 1, 1, 0, 0, B | L, 0, 1},
      {"link off copies nothing", A | L, 2, 0, 0, 1, 1, 1, A | L, 2, 0},
      {"linked live, A carried", A, 3, 0, 0, 1, 1, 1, A | B, 3, 3},
      {"linked live, B carried", B, 0, 2, 0, 1, 1, 1, A | B, 2, 2},
      {"unlinked live", A, 3, 0, 0, 1, 1, 0, A, 3, 0},
      {"refused link carried", A | L, 3, 0, 7, 1, 1, 1, A, 3, 0},
  };
  for (const auto& c : cases) {
    const MxifBkgd in = selectors(c.inMask, c.inA, c.inB, c.inLink);
    // A refused link value is not staged.
    MxifBkgd staged = c.inLink > 1 ? selectors(c.inMask & ~L, c.inA, c.inB, 0) : in;
    libmx::linkPair(in, selectors(0, c.liveA, c.liveB, c.liveLink), staged);
    EXPECT_EQ(staged.link.mask, c.mask) << c.what;
    EXPECT_EQ(staged.link.selectA, c.a) << c.what;
    EXPECT_EQ(staged.link.selectB, c.b) << c.what;
  }
}

// The key record's shift counts follow the same link.
TEST(LinkPairKey, KeepsTheShiftCountsEqualWhileLinked) {
  MxifKey in, live, validated;
  in.shift = {1 | 4, 2, 0, 1};  // A and the link
  MxifBkgd::mergeSelectors(validated.shift, in.shift);
  libmx::linkPairKey(in, live, validated);
  EXPECT_EQ(std::tuple(validated.shift.mask, validated.shift.selectA, validated.shift.selectB), std::tuple(7u, u8{2}, u8{2}));
}

TEST(StepToward, RanksBetweenTheOldAndTheNewRankMoveOneStep) {
  struct Case {
    int newRank, oldRank, current, x, y, result;
  };
  const Case cases[] = {
      {2, 0, 0, 1, 1, 2},                                          // the moved key takes its new rank
      {0, 3, 0, 0, 2, 1}, {0, 3, 2, 1, 2, 3}, {1, 3, 0, 0, 2, 0},  // moving up: [new, old) one down
      {0, 2, 3, 3, 1, 3},
      {2, 0, 1, 0, 3, 0}, {2, 0, 2, 0, 3, 1}, {2, 0, 3, 0, 3, 3},  // moving down: (old, new] one up
      {3, 1, 1, 0, 2, 1}, {1, 1, 1, 0, 2, 1},                      // the old rank, or no move: kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(libmx::stepToward(c.newRank, c.oldRank, c.current, c.x, c.y), c.result)
        << c.newRank << " " << c.oldRank << " " << c.current << " " << c.x << " " << c.y;
  }
}

constexpr u32 EDGE_BITS = 0xFu << 6;

TEST(SizePositionPair, MergesThroughTheEdgeRule) {
  MxifBkgd live;
  live.patFree1.size = 5000;
  live.patFree1.positionX = 10;
  live.patFree2.size = 7000;
  auto assign = [&](const MxifBkgd& in) {
    MxifBkgd staged;
    libmx::assignSizePositionPair(staged, live, in);
    return staged;
  };

  MxifBkgd in, staged;
  // Symmetric mode from the carried edgeSymmetry: edge 1 (element 3) mirrors to edge 2 (element 2).
  in.patFree1.edgeSymmetry = 1;
  in.patFree1.edges[3] = 200;
  in.patFree1.mask = (1u << 10) | (1u << 9);
  staged = assign(in);
  EXPECT_EQ(staged.patFree1.edges[2], -200);
  EXPECT_EQ(staged.patFree1.mask, (1u << 10) | EDGE_BITS);

  // An edge out of range: nothing of that sub-record, the other one still taken.
  in = MxifBkgd{};
  in.patFree1.size = 1;
  in.patFree1.edges[2] = -6000;
  in.patFree1.mask = 1u | (1u << 8);
  in.patFree2.positionY = 44;
  in.patFree2.mask = 1u << 2;
  staged = assign(in);
  EXPECT_EQ(staged.patFree1.mask, 0u);
  EXPECT_EQ(staged.patFree1.size, 0u);
  EXPECT_EQ(staged.patFree2.mask, (1u << 2) | EDGE_BITS);
  EXPECT_EQ(staged.patFree2.positionY, 44);
}

}  // namespace
