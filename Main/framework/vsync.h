#pragma once
// The VSYNC side: interrupt set-up, the handler with its period and run-time checks, the frame
// callback, and the guard that defers frames while the main loop changes video formats.
#include "Common/vsyncguard.h"
#include "Lib/Include/types.h"

using VsyncCallback = void (*)(int arg);

// Connects interrupt 31 with vsyncHandler and the callback, and enables the FPGA interrupts.
void setupInterrupts(VsyncCallback callback);
// Disables and disconnects interrupt 31 and switches the FPGA interrupts off.
void shutdownInterrupts();
// The interrupt handler (context: the handler descriptor).
void vsyncHandler(void* descriptor);

// The frame callback: onVsyncFrame inside a catch-all. arg -1 is the early interrupt, otherwise the
// field bit of the frame.
void onVsync(int arg);
void onVsyncFrame(VsyncGuard& guard, int arg);
// The field bit of the current frame (0 or 1), stored by the frame callback before the frame work
// for the system category's phase predicates.
int vsyncFieldBit();

// The frame work (registry process by default). Tests put their own work here.
using FrameWork = void (*)();
void vsyncSetFrameWork(FrameWork work);

// Program start state of the handler and the guard (tests restart the system in one process).
void vsyncReset();
