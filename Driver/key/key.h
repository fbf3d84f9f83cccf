#pragma once
// Key driver: the keyers of the ME contexts, the downstream keys and the key mixer.

// Level 0..1 of a key or DSK; a level below -0.5 changes nothing.
void mxKeySetLevel(int target, float level);
// Key on program (pvw 0) or preview (pvw 1).
void mxKeySetPreview(int key, int pvw);
