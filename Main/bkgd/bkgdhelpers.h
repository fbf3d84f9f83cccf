#pragma once
// Helpers that the background and key records share when they take a request: the box-edge rule,
// the A/B selector link, the merge of the free-pattern geometry and the re-rank step of the key
// priorities.
#include "Lib/Include/data_internal.h"
#include "Lib/Include/rules.h"

namespace libmx {

// Edge limits of a box.
constexpr s16 EDGE_MIN = MxifBkgd::EDGE_MIN;
constexpr s16 EDGE_MAX = MxifBkgd::EDGE_MAX;

// Takes new box edges against the current ones. Returns 0, edges unchanged, when any new edge lies
// outside -5000..5000; else adjusts them and returns 1. Mode 1 (symmetric): in the order edge 0..3, an
// edge that differs from its old value sets its partner (0 with 3, 1 with 2) to its negation; then
// edges 0 and 2 above 0 and edges 3 and 1 below 0 become 0. Other modes: a changed edge 0 above
// edge 3 pulls edge 3 to it; a changed edge 1 below edge 2 pulls edge 2 to it, else a changed
// edge 2 above edge 1 pulls edge 1 to it; a changed edge 3 below edge 0 pulls edge 0 to it.
int clampEdges(int mode, const s16 oldEdges[4], s16 edges[4]);

// The edge rule in its two modes, as the edge fields in order left, top, bottom, right see it.
extern const rules::Rule EDGES_IN_ORDER;
inline constexpr const rules::Rule& EDGES_SYMMETRIC = MxifBkgd::EDGES_SYMMETRIC;

// The edge whose value moved edge i from sent[i] to edges[i] by clampEdges in that mode: its partner,
// which pushed it in order or set it in the symmetric mode; -1 when the symmetric mode's sign limit
// alone moved it.
int edgePusher(int mode, int i, const s16 sent[4], const s16 edges[4]);

// The edge rule's notes after clampEdges took the edges sent (sent[i], at the request's field[i]) to
// `edges`: the rule on each edge it moved, then the edge that moved it (one that differs from the
// edge held, as only a changed edge moves another, so the request sent it), then what noteMode notes:
// the mode's value, where the mode is not fixed.
template <class R, class NoteMode>
void noteEdgeMoves(const rules::Rule& rule, const R& request, const s16* const field[4], int mode,
                   const s16 sent[4], const s16 edges[4], NoteMode noteMode) {
  for (int i = 0; i < 4; ++i) {
    if (edges[i] == sent[i]) continue;
    rules::note(rule, request, *field[i]);
    if (const int p = edgePusher(mode, i, sent, edges); p >= 0) rules::sent(request, *field[p]);
    noteMode();
  }
}
// The same for edges that lie in order in one array of the request.
template <class R, class NoteMode>
void noteEdgeMoves(const rules::Rule& rule, const R& request, const s16 (&field)[4], int mode, const s16 edges[4],
                   NoteMode noteMode) {
  const s16* const at[4] = {&field[0], &field[1], &field[2], &field[3]};
  noteEdgeMoves(rule, request, at, mode, field, edges, noteMode);
}

// Keeps the background's selectA and selectB equal while they are linked: staged holds the
// validated fields of incoming, live the current record. A link set to 1 copies selectA (staged,
// else live) to selectB, or selectB to selectA when only selectB is carried; with the link
// already on and not carried, a carried selectA goes to selectB, else a carried selectB to
// selectA. A link set to 0 copies nothing.
void linkPair(const MxifBkgd& incoming, const MxifBkgd& live, MxifBkgd& staged);

// The same link for the key record's shift counts (bytes 340 and 341, link byte 342): while the
// link is or becomes 1, a change of one count is copied to the other with its presence bit.
// incoming is the request, live the channel, validated the fields of incoming that passed.
void linkPairKey(const MxifKey& incoming, const MxifKey& live, MxifKey& validated);

// Rank of key x after key y moved from rank oldRank to newRank (ranks 0..3): newRank for y itself;
// when moving up (newRank < oldRank) a rank in [newRank, oldRank) goes one down (current + 1), when
// moving down a rank in (oldRank, newRank] goes one up (current - 1); any other rank stays.
int stepToward(int newRank, int oldRank, int current, int x, int y);

// The free-pattern geometry ("patFree1", "patFree2"), each only when incoming carries any of its
// fields: the live sub-record with the incoming fields merged in must pass the edge rule (mode:
// its edgeSymmetry non-zero) against the live edges; then the adjusted sub-record goes into staged
// with all four edge bits, otherwise nothing of it is taken. Each rule that decides is noted
// against incoming.
void assignSizePositionPair(MxifBkgd& staged, const MxifBkgd& live, const MxifBkgd& incoming);

}  // namespace libmx
