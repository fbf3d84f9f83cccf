#pragma once
// The memory window shared with the front end, at SHARED_WINDOW_BASE.
#include "Lib/Include/shared.h"
#include "Lib/Include/types.h"

class SharedMemory {
 public:
  static constexpr int SMEM_SIZE = 0x0B000000;
  static constexpr int KEY_SOURCE_UNIT = ::KEY_SOURCE_UNIT;
  static constexpr int CHROMAKEY_UNIT = 0x1000;

  static SharedMemory& instance();

  // nbyte / 4 words to or from the window at a word-aligned offset.
  void write(int adr, const void* buf, int nbyte);
  void read(int adr, void* buf, int nbyte);
  void writeWord(int adr, u32 value);
  u32 readWord(int adr);

  // Whole words between buffer and key source unit index (0..KEY_SOURCE_DEFAULTS) at offset.
  void readKeySourceMemory(int index, int offset, void* buffer, int nbyte);
  void writeKeySourceMemory(int index, int offset, const void* buffer, int nbyte);
  // The chroma key data block of unit channel (4 ME + key channel, below N_CHROMA_UNITS).
  void readChromakey(int channel, void* buffer, int nbyte);
  void writeChromakey(int channel, const void* buffer, int nbyte);

 private:
  SharedMemory() = default;
};
