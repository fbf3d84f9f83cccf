#pragma once
// Resets every driver block's shadow and writer state to what it is at program start. Host tests
// and in-process restarts run the system many times in one process; they call this once instead
// of resetting block by block.
void mxResetAllBlocks();
