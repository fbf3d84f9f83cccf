#pragma once
// The rules' notes of each request, published beside the link's rings (Lib/Include/rules.h) for the
// front end's tools: what the back end decided of a request, and why, as it took it; and how far the
// backup image holds the requests taken.
#include "Lib/Include/types.h"

namespace linknotes {

// Every start: no slot written, this build's mark, no request known to be backed up.
void reset();
// A frame begins: the notes and requests of the last are forgotten.
void beginFrame();
// A request ending at ring index `request` was dispatched; its notes are those made since `from`
// (rules::written() before its dispatch).
void taken(u32 request, int type, u32 from);
// After the frame's update pass: each request of the frame whose notes, or the update's notes on a
// record of its type, say anything gets a slot.
void publish();
// The backup copy that holds every request before ring index `through` has reached the
// non-volatile window.
void backedUp(u32 through);

}  // namespace linknotes
