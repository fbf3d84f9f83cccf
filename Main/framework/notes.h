#pragma once
// The rules' notes of each request, published beside the link's rings (Lib/Include/rules.h) for the
// front end's tools: what the back end decided of a request, and why, as it took it; and how far the
// backup image holds the requests taken.
#include "Lib/Include/types.h"

namespace linknotes {

// Every start: no slot written, this build's mark, no request known to be backed up.
void reset();
// A frame begins: the notes of the last are forgotten.
void beginFrame();
// A request ending at ring index `request` was dispatched: a record request, or one that noted
// rules (those made since `from`, rules::written() before its dispatch). Its slot is published at
// once, so that the front end sees where the back end took it.
void taken(u32 request, int type, u32 from);
// After the frame's update pass (whose notes began at `updateFrom`): the rules it noted, by the type
// of record they decided, are published for the frame's last request, under the ring index where
// the frame's reading ended (a front end follows its request with a wait, which ends the frame's
// reading: it finds them there). Nothing in a frame that read no request.
void publish(u32 updateFrom);
// The backup copy that holds every request before ring index `through` has reached the
// non-volatile window.
void backedUp(u32 through);
// The frame's reports went out: out, every answer to the requests before ring index `through` is in
// the acknowledgement ring (a whole pass went out); inTurns, the status reports go out in turns, so
// an answer may wait for its turn. A frame ends: waitLeft frames of a wait still hold requests back.
void answered(u32 through, bool out, bool inTurns, int waitLeft);
// Request bytes not read were dropped: reading went on at ring index `to`.
void dropped(u32 to);
// The frame found a packet ring's index word written over.
void overwritten();

}  // namespace linknotes
