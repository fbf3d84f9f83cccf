#pragma once
// Board model of the clip status words that the clip driver also writes: the decoders' error words
// and the audio level words read what a test set (0 after a reset), never the value last written.
// The other status words the clip and display drivers read (clip encoder status and size, activity
// statistics, audio pointer, display encoder status and size) are plain registers that tests set
// with regPoke. Host only.
#include "Platform/board.h"

namespace platform {

void clipModelAttach();
void clipModelDetach();
void clipModelReset();
// The error word of the decoder at base 0x82001500, 0x82001508, 0x82001600 or 0x82001608 (read at
// base + 132): uncorrectable errors in the top byte, corrected ones in bits 16..23.
void clipSetDecoderErrors(u32 decoder, u32 word);
// The two level words of player p's audio (0x82001908 + 16 p and 0x8200190C + 16 p).
void clipSetAudioLevels(int player, u32 a, u32 b);

}  // namespace platform
