#include "Common/shared.h"

#include "Common/memory.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

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

namespace {

// Window address of a key source unit range after its checks; -1 (with the console line of `what`)
// when it lies beyond the key source area.
int keySourceAddress(const char* what, int index, int offset, int nbyte) {
  MX_CHECK(( ( 0 <= index ) && ( index <= ( D_LIB_STORAGE_SECTORS_KEY_SRC * D_LIB_STORAGE_DATA_PER_SECTOR_KEY_SRC ) ) ));
  MX_CHECK(0 <= nbyte && 0 <= offset && offset + nbyte <= KEY_SOURCE_UNIT);
  const int adr = SMEM_KEY_SOURCE + index * KEY_SOURCE_UNIT + offset;
  if (adr + nbyte > SMEM_KEY_SOURCE_END) {
    consolePrintf("Err! %s(), Address is Out of range. (adr:0x%x, nbyte:%d, offset:%d)\n", what, adr, nbyte, offset);
    return -1;
  }
  return adr;
}

int chromakeyAddress(int channel, int nbyte) {
  constexpr int CHROMAKEY_UNIT = SharedMemory::CHROMAKEY_UNIT;
  MX_CHECK(0 <= channel && channel < 32);
  MX_CHECK(0 <= nbyte && nbyte <= CHROMAKEY_UNIT);
  return SMEM_CHROMA_UNITS + channel * SharedMemory::CHROMAKEY_UNIT;
}

}  // namespace

void SharedMemory::readKeySourceMemory(int index, int offset, void* buffer, int nbyte) {
  const int adr = keySourceAddress("readKeySourceMemory", index, offset, nbyte);
  if (adr >= 0) read(adr, buffer, nbyte);
}

void SharedMemory::writeKeySourceMemory(int index, int offset, const void* buffer, int nbyte) {
  const int adr = keySourceAddress("writeKeySourceMemory", index, offset, nbyte);
  if (adr >= 0) write(adr, buffer, nbyte);
}

void SharedMemory::readChromakey(int channel, void* buffer, int nbyte) { read(chromakeyAddress(channel, nbyte), buffer, nbyte); }

void SharedMemory::writeChromakey(int channel, const void* buffer, int nbyte) {
  write(chromakeyAddress(channel, nbyte), buffer, nbyte);
}
