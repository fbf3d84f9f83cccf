#include "Common/storage.h"

#include "Common/memory.h"
#include "Lib/Include/check.h"

Storage& Storage::instance() {
  static Storage storage;
  return storage;
}

void Storage::write(int adr, const void* buf, int nbyte) {
  MX_CHECK(adr % 4 == 0);
  mxWriteNonVolatile(adr, buf, nbyte);
}

void Storage::writeWord(int adr, u32 value) {
  MX_CHECK(adr % 4 == 0);
  mxWriteNonVolatile(adr, &value, 4);
}

u32 Storage::readWord(int adr) {
  MX_CHECK(adr % 4 == 0);
  u32 value = 0;
  mxReadNonVolatile(adr, &value, 4);
  return value;
}

int Storage::boardMode() { return boardModeOf(readWord(STORAGE_BOARD_MODE_MARKER), readWord(STORAGE_BOARD_MODE)); }

void Storage::writeBoardMode(u32 word) {
  writeWord(STORAGE_BOARD_MODE_MARKER, BOARD_MODE_MARKER);
  writeWord(STORAGE_BOARD_MODE, word);
}
