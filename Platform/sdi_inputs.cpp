#include "Platform/sdi_inputs.h"

#include <array>

#include "Lib/Include/memory_map.h"
#include "Platform/board.h"

namespace platform {

namespace {

constexpr u32 FPGAS[4] = {MX_ME1_BASE, MX_ME2_BASE, MX_SDI1_BASE, MX_SDI2_BASE};
constexpr int FIRST_INPUT[4] = {1, 11, 25, 29};
constexpr u32 RECEIVER = 0xD00, SELECT = 0, COUNTERS = 64, PORT_SIZE = 0x80;  // in the SDI range of Platform/i2c_devices.cpp
constexpr u32 STATUS_S3 = 0xB10, STATUS_S1 = 0xB14, STATUS_S2 = 0xB18, FORMAT_LOW = 0xB20, FORMAT_HIGH = 0xB24;

std::array<SdiReceiver, 4> receivers;

// The receiver port of an address, or null.
SdiReceiver* receiverAt(u32 adr) {
  const u32 fpga = adr & 0xFF000000u, off = adr & 0xFFFFFFu;
  if (fpga < MX_ME1_BASE || fpga > MX_SDI2_BASE || off < RECEIVER || off >= RECEIVER + PORT_SIZE) return nullptr;
  return &receivers[(fpga - MX_ME1_BASE) >> 24];
}

void setBit(u32 adr, int bit, bool on) {
  const u32 v = regPeek(adr);
  regPoke(adr, on ? v | 1u << bit : v & ~(1u << bit));
}

}  // namespace

SdiReceiver& sdiReceiver(int k) { return receivers.at(static_cast<size_t>(k)); }

bool sdiReceiverRead(u32 adr, u32& value) {
  const SdiReceiver* r = receiverAt(adr);
  const u32 off = adr & 0xFF;
  if (r == nullptr || off < COUNTERS) return false;
  value = r->words[r->selector % SDI_SELECTORS][(off - COUNTERS) / 4];
  return true;
}

void sdiReceiverWrite(u32 adr, u32 value) {
  SdiReceiver* r = receiverAt(adr);
  if (r != nullptr && (adr & 0xFF) == SELECT) r->selector = value;
}

void sdiSetDetectedFormat(int input, int format) {
  if (input < 1 || input > 32 || format < -2 || format > 22) fault("board: no SDI input %d format %d", input, format);
  int k = 3;
  while (input < FIRST_INPUT[k]) --k;
  const int c = input - FIRST_INPUT[k];
  const u32 B = FPGAS[k];
  u32 nibble = 0;
  bool s1 = false, s2 = false, s3 = false;
  if (format == -1) nibble = 15;
  else if (format == -2) s1 = s2 = s3 = true;
  else if (format <= 14) nibble = static_cast<u32>(format);
  else {
    s1 = true;
    nibble = static_cast<u32>(format - 8);
  }
  const u32 word = B + (c < 8 ? FORMAT_LOW : FORMAT_HIGH);
  const int shift = 4 * (c % 8);
  regPoke(word, (regPeek(word) & ~(15u << shift)) | nibble << shift);
  setBit(B + STATUS_S1, 16 + c, s1);
  setBit(B + STATUS_S2, 16 + c, s2);
  setBit(B + STATUS_S3, 16 + c, s3);
}

void sdiInputsReset() { receivers = {}; }

}  // namespace platform
