#pragma once
// The chroma keyers inside the key driver: one block per ME context and key (context x 4 + key),
// written by the key parameter writer after the key's own block.
#include "Lib/Include/types.h"

constexpr int N_CHROMA_BLOCKS = 32;

// Register bases of every block for the board mode.
void chromaSetBases();
// Writes block n (a hardware context); a table loaded since the last write switches the bank.
void chromaWriteBlock(int n);
void chromaReset();
