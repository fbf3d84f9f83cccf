#include "tests/support/frontend_peer.h"

#include "Tools/lib/link/ring.h"
#include "Platform/board.h"

namespace testing_support {
namespace {

// The rings as the front end sees them: index words, then the data.
u8* ring(u32 base) { return platform::memory(base, LINK_RING_HEAD + LINK_RING_DATA); }

}  // namespace

Bytes packetBytes(int type, const Bytes& body) { return linkpeer::packetBytes(type, body); }

void FrontendPeer::reset() {
  mxFifoReset();
  linkInit();
  partial_.clear();
  garbage_ = 0;
}

size_t FrontendPeer::write(const Bytes& bytes) {
  return linkpeer::ringWrite(ring(LINK_REQUEST_RING), bytes.data(), bytes.size());
}

u32 FrontendPeer::requestPending() const { return linkpeer::ringUsed(ring(LINK_REQUEST_RING)); }

Bytes FrontendPeer::readBytes() {
  Bytes out = linkpeer::ringPeek(ring(LINK_ACK_RING));
  linkpeer::ringConsume(ring(LINK_ACK_RING), out.size());
  return out;
}

std::vector<AckPacket> FrontendPeer::readPackets() {
  Bytes in = readBytes();
  partial_.insert(partial_.end(), in.begin(), in.end());
  std::vector<linkpeer::Packet> parsed;
  const size_t used = linkpeer::parsePackets(partial_, parsed, garbage_);
  partial_.erase(partial_.begin(), partial_.begin() + static_cast<long>(used));
  std::vector<AckPacket> packets;
  for (auto& p : parsed) packets.push_back({p.type, std::move(p.body)});
  return packets;
}

}  // namespace testing_support
