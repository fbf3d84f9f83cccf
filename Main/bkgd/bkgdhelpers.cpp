#include "Main/bkgd/bkgdhelpers.h"

#include <algorithm>

namespace libmx {
namespace {

bool outOfRange(s16 e) { return e < EDGE_MIN || e > EDGE_MAX; }

// Edge 0..3 of the edge rule lies at free-pattern edge element 0, 3, 2, 1.
constexpr int PAT_FREE_EDGE[4] = {0, 3, 2, 1};
constexpr int PAT_FREE_EDGE_BIT = 6;
constexpr int PAT_FREE_SYMMETRY_BIT = 10;

// The free-pattern geometry is taken whole or not at all; its edges lie at elements 0, 3, 2, 1.
constexpr const rules::Rule& PAT_FREE_WHOLE = MxifBkgd::PatFree::WHOLE;
constexpr rules::Rule PAT_FREE_IN_ORDER = {
    rules::Effect::MOVES, "the edge rule (edges[0] left, edges[3] top, edges[2] bottom, edges[1] right): a changed edge "
                          "pushes its opposite, so right stays at least left and top at least bottom"};
constexpr const rules::Rule& PAT_FREE_SYMMETRIC = MxifBkgd::PatFree::SYMMETRIC;

// The free pattern `part` (&MxifBkgd::patFree1 or patFree2) that the request carries, against the live one.
void assignPatFree(const MxifBkgd& request, const MxifBkgd& liveRecord, MxifBkgd::PatFree MxifBkgd::*part,
                   MxifBkgd::PatFree& staged) {
  const MxifBkgd::PatFree& incoming = request.*part;
  const MxifBkgd::PatFree& live = liveRecord.*part;
  MxifBkgd::PatFree sub = live;
  sub.mask = 0;
  MxifBkgd::PatFree::merge(sub, incoming);
  s16 oldEdges[4];
  s16 sent[4];
  s16 edges[4];
  const s16* field[4];
  for (int i = 0; i < 4; ++i) {
    oldEdges[i] = live.edges[PAT_FREE_EDGE[i]];
    sent[i] = edges[i] = sub.edges[PAT_FREE_EDGE[i]];
    field[i] = &incoming.edges[PAT_FREE_EDGE[i]];
  }
  const int symmetric = sub.edgeSymmetry != 0 ? 1 : 0;
  if (clampEdges(symmetric, oldEdges, edges) == 0) {
    for (int i = 0; i < 4; ++i) {
      if ((incoming.mask >> (PAT_FREE_EDGE_BIT + PAT_FREE_EDGE[i]) & 1u) != 0) limits::takes(request, *field[i]);
    }
    rules::note(PAT_FREE_WHOLE, request, incoming);
    // The edges out of range decided; one not sent is the live sub-record's.
    for (int i = 0; i < 4; ++i) {
      if (!outOfRange(sent[i])) continue;
      if ((incoming.mask >> (PAT_FREE_EDGE_BIT + PAT_FREE_EDGE[i]) & 1u) != 0) {
        rules::sent(request, *field[i]);
      } else {
        rules::input(liveRecord, live.edges[PAT_FREE_EDGE[i]]);
      }
    }
    return;
  }
  noteEdgeMoves(symmetric ? PAT_FREE_SYMMETRIC : PAT_FREE_IN_ORDER, request, field, symmetric, sent, edges, [&] {
    if ((incoming.mask & 1u << PAT_FREE_SYMMETRY_BIT) != 0) return rules::sent(request, incoming.edgeSymmetry);
    rules::input(liveRecord, live.edgeSymmetry);
  });
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

int edgePusher(int mode, int i, const s16 sent[4], const s16 edges[4]) {
  // In the symmetric mode an edge that its partner did not set ends at its own value within the
  // sign limit: edges 0 and 2 at most 0, edges 1 and 3 at least 0.
  const int own = i == 0 || i == 2 ? std::min<int>(sent[i], 0) : std::max<int>(sent[i], 0);
  return mode == 1 && edges[i] == own ? -1 : 3 - i;
}

namespace {

enum class Copied { NONE, A_TO_B, B_TO_A };

// The selector link of linkPair and linkPairKey on one selector group: which selector it copied to
// the other.
Copied linkSelectors(const MxifBkgd::Selectors& incoming, const MxifBkgd::Selectors& live, MxifBkgd::Selectors& s) {
  constexpr u32 A = 1u << 0;
  constexpr u32 B = 1u << 1;
  constexpr u32 LINK = 1u << 2;
  bool hasA = (s.mask & A) != 0;
  bool hasB = (s.mask & B) != 0;
  if (s.mask & LINK) {
    if (s.selectLink != 1) return Copied::NONE;
    if (hasA || !hasB) {
      s.selectB = hasA ? s.selectA : live.selectA;
      s.mask |= B;
      return Copied::A_TO_B;
    }
    s.selectA = s.selectB;
    s.mask |= A;
    return Copied::B_TO_A;
  }
  // A link the request carried but that failed its check is not taken, and copies nothing.
  if ((incoming.mask & LINK) != 0 || live.selectLink != 1) return Copied::NONE;
  if (hasA) {
    s.selectB = s.selectA;
    s.mask |= B;
    return Copied::A_TO_B;
  }
  if (hasB) {
    s.selectA = s.selectB;
    s.mask |= A;
    return Copied::B_TO_A;
  }
  return Copied::NONE;
}

// The link on the selector group `group` of a request, noted with the link and the selector copied,
// each sent or held.
template <class R>
void linkGroup(const R& request, const R& live, MxifBkgd::Selectors R::*group, R& validated) {
  const u32 taken = (validated.*group).mask;
  if ((taken & 7u) == 0) return;  // nothing of the group taken: nothing to copy
  const MxifBkgd::Selectors& in = request.*group;
  const MxifBkgd::Selectors& held = live.*group;
  const Copied copied = linkSelectors(in, held, validated.*group);
  if (copied == Copied::NONE) return;
  const bool toB = copied == Copied::A_TO_B;
  rules::note(MxifBkgd::Selectors::LINKED, request, toB ? in.selectB : in.selectA);
  (taken & 1u << 2) != 0 ? rules::sent(request, in.selectLink) : rules::input(live, held.selectLink);
  (taken & 1u << (toB ? 0 : 1)) != 0 ? rules::sent(request, toB ? in.selectA : in.selectB)
                                     : rules::input(live, held.selectA);
}

}  // namespace

void linkPair(const MxifBkgd& incoming, const MxifBkgd& live, MxifBkgd& staged) {
  linkGroup(incoming, live, &MxifBkgd::link, staged);
}

void linkPairKey(const MxifKey& incoming, const MxifKey& live, MxifKey& validated) {
  linkGroup(incoming, live, &MxifKey::shift, validated);
}

int stepToward(int newRank, int oldRank, int current, int x, int y) {
  if (x == y) return newRank;
  if (newRank < oldRank && newRank <= current && current < oldRank) return current + 1;
  if (newRank > oldRank && oldRank < current && current <= newRank) return current - 1;
  return current;
}

void assignSizePositionPair(MxifBkgd& staged, const MxifBkgd& live, const MxifBkgd& incoming) {
  if (incoming.patFree1.mask != 0) assignPatFree(incoming, live, &MxifBkgd::patFree1, staged.patFree1);
  if (incoming.patFree2.mask != 0) assignPatFree(incoming, live, &MxifBkgd::patFree2, staged.patFree2);
}

}  // namespace libmx
