#include "Platform/clip_model.h"

#include <array>

namespace platform {
namespace {

constexpr u32 DECODERS[4] = {0x82001500, 0x82001508, 0x82001600, 0x82001608};
constexpr u32 ERROR_WORD = 132;
constexpr u32 AUDIO = 0x82001900, AUDIO_STRIDE = 16, LEVEL_A = 8, LEVEL_B = 12;

struct ClipModel : RegisterDevice {
  std::array<u32, 4> errors{};
  std::array<u32, 8> levels{};  // per player: word A, word B

  bool read(u32 adr, u32& value) override {
    for (int k = 0; k < 4; ++k) {
      if (adr == DECODERS[k] + ERROR_WORD) {
        value = errors[k];
        return true;
      }
    }
    if (adr >= AUDIO && adr < AUDIO + 4 * AUDIO_STRIDE) {
      const u32 player = (adr - AUDIO) / AUDIO_STRIDE, word = (adr - AUDIO) % AUDIO_STRIDE;
      if (word == LEVEL_A || word == LEVEL_B) {
        value = levels[2 * player + (word == LEVEL_B ? 1 : 0)];
        return true;
      }
    }
    return false;
  }
};

ClipModel model;

}  // namespace

void clipModelAttach() {
  clipModelReset();
  attachDevice(DECODERS[0] + 128, 16, &model);
  attachDevice(DECODERS[2] + 128, 16, &model);
  attachDevice(AUDIO, 4 * AUDIO_STRIDE, &model);
}

void clipModelDetach() { detachDevice(&model); }

void clipModelReset() {
  model.errors = {};
  model.levels = {};
}

void clipSetDecoderErrors(u32 decoder, u32 word) {
  for (int k = 0; k < 4; ++k) {
    if (DECODERS[k] == decoder) {
      model.errors[k] = word;
      return;
    }
  }
  fault("board: no clip decoder at 0x%08x", decoder);
}

void clipSetAudioLevels(int player, u32 a, u32 b) {
  if (player < 0 || player > 3) fault("board: no clip player %d", player);
  model.levels[2 * player] = a;
  model.levels[2 * player + 1] = b;
}

}  // namespace platform
