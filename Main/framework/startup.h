#pragma once
// Program entry, power-on sequence and main loop of the back end.
#include "Lib/Include/types.h"

// The program's main function: start-up, then the 30 ms main loop for good.
[[noreturn]] void bpMain();
// Start-up up to the main loop: power-on sequence, banner, categories, registry initialise,
// interrupts, the wait for the start-up lock and "Start Timer task". A failed check ends start-up
// in a halt that the armed watchdog turns into a board restart.
void bpStart();
// One pass of the main loop: 30 ms busy wait (frames run in it), hand-off check, every category's
// refresh. A failed check in a refresh ends that pass, not the loop.
void bpMainLoopPass();

// Creates the category singletons in their fixed order (registration order fixes the ME rows).
void createCategories();

void powerOnSequence();
void checkHandOff();
// Logs "time : %d ms" with the milliseconds since start plus offset; returns that value.
int stopwatch(u32 start, int offset);
// Sets the translation entry of each 1 MiB section from start up to end.
void setSectionAttributes(u32 start, u32 end, u32 attributes);

// Program start state of the back end's statics (tests start the system again in one process).
void bpReset();
