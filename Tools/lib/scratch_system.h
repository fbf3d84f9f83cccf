#pragma once
// The back end's categories inside this program, for questions that only their own code can answer
// (where a record lies in the backup image, which values a field's checks take, what a request does
// to the records a board holds). On a board of anonymous memory, unless one is open already (a test
// that runs the whole system).
#include <vector>

#include "Lib/Include/types.h"

namespace frontend {

// What a run of the categories here throws when their code ends the run of main, as a halt or a
// watchdog restart does on the board: the request that led there is taken by none of them.
struct ScratchEnded {};

// Opens a board of anonymous memory unless one is open, creates the categories, and unless they are
// bound already (a system that runs in this program), binds every instance as the back end's
// start-up does and gives each its default record. True when it bound them. A board it opens has the
// board's device models and a clock that a timer read moves on, so that what waits on the hardware
// ends as on the board; a halt or restart throws ScratchEnded.
bool useScratchSystem();

// Whether the categories in this program are the tools' own, which they may set as they like (not
// those of a system that runs in it).
bool scratchIsOwn();

// Sets the tools' own categories as a warm start of the back end sets its own from a backup image
// (a board's whole nvram.mem; the records it does not hold start from their defaults, as do ME 2
// and 3), then lets a frame pass, and keeps it for resetScratch. False when the categories are not
// the tools' own (nothing changed), or the image is not one this program reads (they start from
// their defaults then).
bool loadScratchImage(const std::vector<u8>& nvram);

// Sets the tools' own categories back to the state that the last loadScratchImage gave them (their
// defaults when none did); the rules noted meanwhile are cleared.
void resetScratch();

// The tools' own categories as a board's nvram.mem would hold them: their backup image.
std::vector<u8> scratchImage();

}  // namespace frontend
