#pragma once
// The crosspoint image shared by the routing setters and the frame writer (inside the driver only).
#include "Driver/xpt/xpt.h"

struct XptImage {
  u8 bytes[xpt::SIZE] = {};
  // Bit d: bus d of ME1 shows an ME2 output (its marker set from context ME1); word ME2_FLAG is 1
  // while any bit is set.
  u16 me1TakesMe2 = 0;

  // Words of the image are little-endian, as in the target's memory; the frame writer packs every
  // group of four codes into a register the same way.
  u32 word(int offset) const {
    return static_cast<u32>(bytes[offset]) | static_cast<u32>(bytes[offset + 1]) << 8 |
           static_cast<u32>(bytes[offset + 2]) << 16 | static_cast<u32>(bytes[offset + 3]) << 24;
  }
  void setWord(int offset, u32 value) {
    for (int k = 0; k < 4; ++k) bytes[offset + k] = static_cast<u8>(value >> (8 * k));
  }
};

XptImage& xptImage();
