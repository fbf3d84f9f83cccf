#include "frontend_peer.h"

#include "board.h"

namespace testing_support {
namespace {

u32 ringUsed(u32 base) {
  u32 w = platform::readMem32(base);
  u32 r = platform::readMem32(base + 4);
  return (w + LINK_RING_DATA - r) % LINK_RING_DATA;
}

u32 be32(const u8* p) { return (u32{p[0]} << 24) | (u32{p[1]} << 16) | (u32{p[2]} << 8) | p[3]; }

}  // namespace

Bytes packetBytes(int type, const Bytes& body) {
  u32 n = static_cast<u32>(body.size());
  Bytes out = {LINK_SYNC0, LINK_SYNC1, static_cast<u8>(n >> 24), static_cast<u8>(n >> 16), static_cast<u8>(n >> 8),
               static_cast<u8>(n), static_cast<u8>(type >> 8), static_cast<u8>(type)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void FrontendPeer::reset() {
  mxFifoReset();
  linkInit();
  partial_.clear();
  garbage_ = 0;
}

size_t FrontendPeer::write(const Bytes& bytes) {
  u32 w = platform::readMem32(LINK_REQUEST_RING);
  u32 room = LINK_RING_DATA - LINK_RING_RESERVE - ringUsed(LINK_REQUEST_RING);
  u8* data = platform::memory(LINK_REQUEST_RING + 8, LINK_RING_DATA);
  size_t n = bytes.size() < room ? bytes.size() : room;
  for (size_t i = 0; i < n; ++i) {
    data[w] = bytes[i];
    w = (w + 1) % LINK_RING_DATA;
  }
  platform::writeMem32(LINK_REQUEST_RING, w);
  return n;
}

u32 FrontendPeer::requestPending() const { return ringUsed(LINK_REQUEST_RING); }

Bytes FrontendPeer::readBytes() {
  u32 w = platform::readMem32(LINK_ACK_RING);
  u32 r = platform::readMem32(LINK_ACK_RING + 4);
  const u8* data = platform::memory(LINK_ACK_RING + 8, LINK_RING_DATA);
  Bytes out;
  while (r != w) {
    out.push_back(data[r]);
    r = (r + 1) % LINK_RING_DATA;
  }
  platform::writeMem32(LINK_ACK_RING + 4, r);
  return out;
}

std::vector<AckPacket> FrontendPeer::readPackets() {
  Bytes in = readBytes();
  partial_.insert(partial_.end(), in.begin(), in.end());
  std::vector<AckPacket> packets;
  size_t pos = 0;
  while (partial_.size() - pos >= LINK_HEADER_BYTES) {
    if (partial_[pos] != LINK_SYNC0 || partial_[pos + 1] != LINK_SYNC1) {
      ++garbage_;
      ++pos;
      continue;
    }
    u32 n = be32(&partial_[pos + 2]);
    if (partial_.size() - pos - LINK_HEADER_BYTES < n) break;
    AckPacket p;
    p.type = (partial_[pos + 6] << 8) | partial_[pos + 7];
    p.body.assign(partial_.begin() + static_cast<long>(pos + LINK_HEADER_BYTES),
                  partial_.begin() + static_cast<long>(pos + LINK_HEADER_BYTES + n));
    packets.push_back(std::move(p));
    pos += LINK_HEADER_BYTES + n;
  }
  partial_.erase(partial_.begin(), partial_.begin() + static_cast<long>(pos));
  return packets;
}

}  // namespace testing_support
