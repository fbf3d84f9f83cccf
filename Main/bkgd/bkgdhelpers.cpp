#include "Main/bkgd/bkgdhelpers.h"

#include <algorithm>

#include "Driver/core/core.h"

namespace libmx {
namespace {

constexpr int N_PATTERN_GROUPS = 4;
constexpr int N_PATTERN_NUMBERS = 30;

// Allowed pattern numbers per group, one bit per number.
constexpr u32 BKGD_PATTERNS[N_PATTERN_GROUPS] = {
    0x00817FFF,  // 0..14, 16, 23
    0x00FF7FFF,  // 0..14, 16..23
    0x0000FFFF,  // 0..15
    0x00C1FFFF,  // 0..16, 22, 23
};
// The keys: the numbers the transition engine draws for a key. The free patterns (group 0 number
// 23, group 3 numbers 22 and 23) need the background's free-pattern geometry, which a key record
// lacks; group 1 numbers 20..22 are never drawn for a key; group 3 numbers 12..21 reach only the
// end states.
constexpr u32 KEY_PATTERNS[N_PATTERN_GROUPS] = {
    0x00017FFF,  // 0..14, 16
    0x008FFFFF,  // 0..19, 23
    0x0000FFFF,  // 0..15
    0x00000FFF,  // 0..11
};

bool outOfRange(s16 e) { return e < EDGE_MIN || e > EDGE_MAX; }

// Edge 0..3 of the edge rule lies at free-pattern edge element 0, 3, 2, 1.
constexpr int PAT_FREE_EDGE[4] = {0, 3, 2, 1};
constexpr int PAT_FREE_EDGE_BIT = 6;

// The free-pattern geometry is taken whole or not at all; its edges lie at elements 0, 3, 2, 1.
constexpr rules::Rule PAT_FREE_WHOLE = {
    rules::Effect::REFUSES, "the free-pattern sub-record is taken whole or not at all: one edge outside -5000..5000 "
                            "refuses every field sent with it"};
constexpr rules::Rule PAT_FREE_IN_ORDER = {
    rules::Effect::MOVES, "the edge rule (edges[0] left, edges[3] top, edges[2] bottom, edges[1] right): a changed edge "
                          "pushes its opposite, so right stays at least left and top at least bottom"};
constexpr rules::Rule PAT_FREE_SYMMETRIC = {
    rules::Effect::MOVES, "with edgeSymmetry other than 0 (sent, else as held) the edges are symmetric (edges[0] left, "
                          "edges[3] top, edges[2] bottom, edges[1] right): a changed edge sets its opposite to minus it, "
                          "and left and bottom stay at most 0, top and right at least 0"};

void assignPatFree(const MxifBkgd& request, MxifBkgd::PatFree& staged, const MxifBkgd::PatFree& live,
                   const MxifBkgd::PatFree& incoming) {
  if (incoming.mask == 0) return;
  MxifBkgd::PatFree sub = live;
  sub.mask = 0;
  MxifBkgd::PatFree::merge(sub, incoming);
  s16 oldEdges[4];
  s16 edges[4];
  for (int i = 0; i < 4; ++i) {
    oldEdges[i] = live.edges[PAT_FREE_EDGE[i]];
    edges[i] = sub.edges[PAT_FREE_EDGE[i]];
  }
  const int symmetric = sub.edgeSymmetry != 0 ? 1 : 0;
  const int clamped = clampEdges(symmetric, oldEdges, edges);
  if (clamped == 0) return rules::note(PAT_FREE_WHOLE, request, incoming);
  if (clamped == EDGES_MOVED) rules::note(symmetric ? PAT_FREE_SYMMETRIC : PAT_FREE_IN_ORDER, request, incoming.edges);
  for (int i = 0; i < 4; ++i) {
    sub.edges[PAT_FREE_EDGE[i]] = edges[i];
    sub.mask |= 1u << (PAT_FREE_EDGE_BIT + PAT_FREE_EDGE[i]);
  }
  MxifBkgd::PatFree::merge(staged, sub);
}

}  // namespace

const rules::Rule EDGES_IN_ORDER = {
    rules::Effect::MOVES, "the edge rule (edges left, top, bottom, right): a changed edge pushes its opposite, so right "
                          "stays at least left and top at least bottom"};
const rules::Rule EDGES_SYMMETRIC = {
    rules::Effect::MOVES, "the edge rule in its symmetric mode (edges left, top, bottom, right): a changed edge sets its "
                          "opposite to minus it, and left and bottom stay at most 0, top and right at least 0"};

int clampEdges(int mode, const s16 oldEdges[4], s16 edges[4]) {
  for (int i = 0; i < 4; ++i) {
    if (outOfRange(edges[i])) return 0;
  }
  s16 sent[4];
  std::copy(edges, edges + 4, sent);
  const auto result = [&] { return std::equal(edges, edges + 4, sent) ? EDGES_KEPT : EDGES_MOVED; };
  if (mode == 1) {
    static constexpr int PARTNER[4] = {3, 2, 1, 0};
    for (int i = 0; i < 4; ++i) {
      if (edges[i] != oldEdges[i]) edges[PARTNER[i]] = static_cast<s16>(-edges[i]);
    }
    if (edges[0] > 0) edges[0] = 0;
    if (edges[2] > 0) edges[2] = 0;
    if (edges[3] < 0) edges[3] = 0;
    if (edges[1] < 0) edges[1] = 0;
    return result();
  }
  if (edges[0] != oldEdges[0] && edges[0] > edges[3]) edges[3] = edges[0];
  if (edges[1] != oldEdges[1] && edges[1] < edges[2]) {
    edges[2] = edges[1];
  } else if (edges[2] != oldEdges[2] && edges[2] > edges[1]) {
    edges[1] = edges[2];
  }
  if (edges[3] != oldEdges[3] && edges[3] < edges[0]) edges[0] = edges[3];
  return result();
}

int isPatternValid(const u8 pattern[2], int code) {
  int number = pattern[0];
  int group = pattern[1];
  if (group >= N_PATTERN_GROUPS || number >= N_PATTERN_NUMBERS) return 0;
  const u32* table = nullptr;
  if (code == MX_BKGD) {
    table = BKGD_PATTERNS;
  } else if (code == MX_KEY1 || code == MX_KEY2 || code == MX_KEY3 || code == MX_KEY4) {
    table = KEY_PATTERNS;
  } else {
    return 0;
  }
  return static_cast<int>((table[group] >> number) & 1u);
}

namespace {

// The selector link of linkPair and linkPairKey on one selector group; true when it copied one
// selector to the other.
bool linkSelectors(const MxifBkgd::Selectors& incoming, const MxifBkgd::Selectors& live, MxifBkgd::Selectors& s) {
  constexpr u32 A = 1u << 0;
  constexpr u32 B = 1u << 1;
  constexpr u32 LINK = 1u << 2;
  bool hasA = (s.mask & A) != 0;
  bool hasB = (s.mask & B) != 0;
  if (s.mask & LINK) {
    if (s.selectLink != 1) return false;
    if (hasA || !hasB) {
      s.selectB = hasA ? s.selectA : live.selectA;
      s.mask |= B;
    } else {
      s.selectA = s.selectB;
      s.mask |= A;
    }
    return true;
  }
  // A link the request carried but that failed its check is not taken, and copies nothing.
  if ((incoming.mask & LINK) != 0 || live.selectLink != 1) return false;
  if (hasA) {
    s.selectB = s.selectA;
    s.mask |= B;
  } else if (hasB) {
    s.selectA = s.selectB;
    s.mask |= A;
  }
  return hasA || hasB;
}

constexpr rules::Rule SELECTORS_LINKED = {
    rules::Effect::MOVES, "while selectLink is 1 (sent, else as held) selectA and selectB are kept equal: the one sent "
                          "is copied to the other (selectA when both are)"};

}  // namespace

void linkPair(const MxifBkgd& incoming, const MxifBkgd& live, MxifBkgd& staged) {
  if (linkSelectors(incoming.link, live.link, staged.link)) rules::note(SELECTORS_LINKED, incoming, incoming.link);
}

void linkPairKey(const MxifKey& incoming, const MxifKey& live, MxifKey& validated) {
  if (linkSelectors(incoming.shift, live.shift, validated.shift)) rules::note(SELECTORS_LINKED, incoming, incoming.shift);
}

int stepToward(int newRank, int oldRank, int current, int x, int y) {
  if (x == y) return newRank;
  if (newRank < oldRank && newRank <= current && current < oldRank) return current + 1;
  if (newRank > oldRank && oldRank < current && current <= newRank) return current - 1;
  return current;
}

void assignSizePositionPair(MxifBkgd& staged, const MxifBkgd& live, const MxifBkgd& incoming) {
  assignPatFree(incoming, staged.patFree1, live.patFree1, incoming.patFree1);
  assignPatFree(incoming, staged.patFree2, live.patFree2, incoming.patFree2);
}

}  // namespace libmx
