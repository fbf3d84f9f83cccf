#include "Main/bus/bkgdhelpers.h"

#include "Driver/core/core.h"

namespace libmx {
namespace {

constexpr int N_PATTERN_GROUPS = 4;
constexpr int N_PATTERN_NUMBERS = 30;

// Allowed pattern numbers per group, one bit per number; the keys take the same wipe patterns as
// the background.
constexpr u32 PATTERNS[N_PATTERN_GROUPS] = {
    0x00817FFF,  // 0..14, 16, 23
    0x00FF7FFF,  // 0..14, 16..23
    0x0000FFFF,  // 0..15
    0x00C1FFFF,  // 0..16, 22, 23
};

bool outOfRange(s16 e) { return e < EDGE_MIN || e > EDGE_MAX; }

// Edge 0..3 of the edge rule lies at free-pattern edge element 0, 3, 2, 1.
constexpr int PAT_FREE_EDGE[4] = {0, 3, 2, 1};
constexpr int PAT_FREE_EDGE_BIT = 6;

void assignPatFree(MxifBkgd::PatFree& staged, const MxifBkgd::PatFree& live, const MxifBkgd::PatFree& incoming) {
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
  if (clampEdges(sub.edgeSymmetry != 0 ? 1 : 0, oldEdges, edges) == 0) return;
  for (int i = 0; i < 4; ++i) {
    sub.edges[PAT_FREE_EDGE[i]] = edges[i];
    sub.mask |= 1u << (PAT_FREE_EDGE_BIT + PAT_FREE_EDGE[i]);
  }
  MxifBkgd::PatFree::merge(staged, sub);
}

}  // namespace

int clampEdges(int mode, const s16 oldEdges[4], s16 edges[4]) {
  for (int i = 0; i < 4; ++i) {
    if (outOfRange(edges[i])) return 0;
  }
  if (mode == 1) {
    static constexpr int PARTNER[4] = {3, 2, 1, 0};
    for (int i = 0; i < 4; ++i) {
      if (edges[i] != oldEdges[i]) edges[PARTNER[i]] = static_cast<s16>(-edges[i]);
    }
    if (edges[0] > 0) edges[0] = 0;
    if (edges[2] > 0) edges[2] = 0;
    if (edges[3] < 0) edges[3] = 0;
    if (edges[1] < 0) edges[1] = 0;
    return 1;
  }
  if (edges[0] != oldEdges[0] && edges[0] > edges[3]) edges[3] = edges[0];
  if (edges[1] != oldEdges[1] && edges[1] < edges[2]) {
    edges[2] = edges[1];
  } else if (edges[2] != oldEdges[2] && edges[2] > edges[1]) {
    edges[1] = edges[2];
  }
  if (edges[3] != oldEdges[3] && edges[3] < edges[0]) edges[0] = edges[3];
  return 1;
}

int isPatternValid(const u8 pattern[2], int code) {
  int number = pattern[0];
  int group = pattern[1];
  if (group >= N_PATTERN_GROUPS || number >= N_PATTERN_NUMBERS) return 0;
  bool known = code == MX_BKGD || code == MX_KEY1 || code == MX_KEY2 || code == MX_KEY3 || code == MX_KEY4;
  if (!known) return 0;
  return static_cast<int>((PATTERNS[group] >> number) & 1u);
}

void linkPair(const MxifBkgd& incoming, const MxifBkgd& live, MxifBkgd& staged) {
  constexpr u32 A = 1u << 0;
  constexpr u32 B = 1u << 1;
  constexpr u32 LINK = 1u << 2;
  MxifBkgd::Selectors& s = staged.link;
  bool hasA = (s.mask & A) != 0;
  bool hasB = (s.mask & B) != 0;
  if (s.mask & LINK) {
    if (s.selectLink != 1) return;
    if (hasA || !hasB) {
      s.selectB = hasA ? s.selectA : live.link.selectA;
      s.mask |= B;
    } else {
      s.selectA = s.selectB;
      s.mask |= A;
    }
    return;
  }
  // A link the request carried but that failed its check is not taken, and copies nothing.
  if ((incoming.link.mask & LINK) != 0 || live.link.selectLink != 1) return;
  if (hasA) {
    s.selectB = s.selectA;
    s.mask |= B;
  } else if (hasB) {
    s.selectA = s.selectB;
    s.mask |= A;
  }
}

void assignSizePositionPair(MxifBkgd& staged, const MxifBkgd& live, const MxifBkgd& incoming) {
  assignPatFree(staged.patFree1, live.patFree1, incoming.patFree1);
  assignPatFree(staged.patFree2, live.patFree2, incoming.patFree2);
}

}  // namespace libmx
