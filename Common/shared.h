#pragma once
// The memory window shared with the front end, at SHARED_WINDOW_BASE.
#include "Lib/Include/shared.h"
#include "Lib/Include/types.h"

class SharedMemory {
 public:
  static constexpr int SMEM_SIZE = 0x0B000000;

  static SharedMemory& instance();

  // nbyte / 4 words to or from the window at a word-aligned offset.
  void write(int adr, const void* buf, int nbyte);
  void read(int adr, void* buf, int nbyte);
  void writeWord(int adr, u32 value);
  u32 readWord(int adr);

 private:
  SharedMemory() = default;
};
