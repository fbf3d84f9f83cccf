#include "Common/shared.h"

#include "Common/memory.h"
#include "Lib/Include/check.h"

SharedMemory& SharedMemory::instance() {
  static SharedMemory shared;
  return shared;
}

void SharedMemory::write(int adr, const void* buf, int nbyte) {
  MX_CHECK(adr % 4 == 0);
  mxWriteSharedMemory(adr, buf, nbyte);
}

void SharedMemory::read(int adr, void* buf, int nbyte) {
  MX_CHECK(nbyte % 4 == 0);
  mxReadSharedMemory(adr, buf, nbyte);
}

void SharedMemory::writeWord(int adr, u32 value) { write(adr, &value, 4); }

u32 SharedMemory::readWord(int adr) {
  u32 value = 0;
  read(adr, &value, 4);
  return value;
}
