#pragma once
// Word access to the non-volatile window: the backup image at offset 0 and the settings words
// behind it (Lib/Include/storage.h).
#include "Lib/Include/storage.h"
#include "Lib/Include/types.h"

class Storage {
 public:
  static Storage& instance();

  // Word-aligned offsets; nbyte / 4 words are written.
  void write(int adr, const void* buf, int nbyte);
  void writeWord(int adr, u32 value);
  u32 readWord(int adr);

  // The board mode: the low byte of the mode word when the marker stands before it, else 0.
  int boardMode();
  // Writes the marker, then the mode word.
  void writeBoardMode(u32 word);

 private:
  Storage() = default;
};
