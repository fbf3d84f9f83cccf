#pragma once
// OSD renderer: rectangles drawn into the overlay planes of the multiview outputs through the
// engine's command FIFO (gradient fills in the drawing colour, copies from OSD memory), and images
// uploaded into OSD memory. Called from the main loop and at start-up; every wait on the engine
// gives up after 4 s with the engine reset. mxOsdBoardInit is declared in Driver/blocks.h.
#include "Driver/blocks.h"
#include "Driver/core/core.h"

void mxOsdSetColor(int y, int cb, int cr);                         // 10-bit components
void mxOsdSetLevel(float y, float a);                              // copy colour: luminance, alpha 0..1
void mxOsdSetAlphaGradient(float start, float right, float bottom);  // 0..1 at the corners
void mxOsdSetFunction(int func);                                   // MX_OSD_REPLACE .. MX_OSD_MAX
// Copy source in OSD memory; (-1, -1) draws gradient fills.
void mxOsdSetSourcePosition(int x, int y);
// A rectangle (corners inclusive) on MX_MULTI1 .. MX_MULTI4.
void mxOsdFillRect(int target, int x1, int y1, int x2, int y2);
// Waits until the engine has drawn everything.
void mxOsdFlush();
// Writes lines of width pixels (x a multiple of 128) to OSD memory from line y on.
void mxOsdBlit(int x, int y, int width, int lines, const u16* pixels);

// Test support: the drawing state as at program start.
void mxOsdReset();
