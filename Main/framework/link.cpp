#include "Main/framework/link.h"

#include <cstring>

#include "Driver/core/core.h"
#include "Main/framework/bp.h"
#include "Lib/Include/log.h"
#include "Platform/platform.h"

namespace {

constexpr int MAX_MESSAGES_PER_FRAME = 100;

bool connected = false;

struct Ring {
  u32 base;
  u32 writeIndex() const { return platform::readMem32(base); }
  u32 readIndex() const { return platform::readMem32(base + 4); }
  void setWriteIndex(u32 v) const { platform::writeMem32(base, v); }
  void setReadIndex(u32 v) const { platform::writeMem32(base + 4, v); }
  u8* data() const { return platform::memory(base + 8, LINK_RING_DATA); }
};

constexpr Ring requestRing{LINK_REQUEST_RING};
constexpr Ring ackRing{LINK_ACK_RING};

}  // namespace

void mxFifoReset() {
  for (const Ring& r : {requestRing, ackRing}) {
    r.setWriteIndex(0);
    r.setReadIndex(0);
  }
}

bool mxFifoConnected() { return connected; }

int mxFifoReceive(u8* buf, int n) {
  u32 w = requestRing.writeIndex();
  u32 r = requestRing.readIndex();
  // Indexes outside the ring (a front end out of step) are read as an empty ring.
  if (w == r || w >= LINK_RING_DATA || r >= LINK_RING_DATA) return 0;
  if (!connected) {
    MX_LOG(libmx::INFO, "Connected from System Manager\n");
    mxWatchdogEnable(0, 1);
    connected = true;
  }
  const u8* data = requestRing.data();
  int copied = 0;
  while (copied < n && r != w) {
    u32 run = (w > r ? w : LINK_RING_DATA) - r;
    u32 take = run < static_cast<u32>(n - copied) ? run : static_cast<u32>(n - copied);
    std::memcpy(buf + copied, data + r, take);
    copied += static_cast<int>(take);
    r = (r + take) % LINK_RING_DATA;
  }
  requestRing.setReadIndex(r);
  return copied;
}

int mxFifoSend(const u8* buf, int n) {
  if (!connected) return n;
  u32 w = ackRing.writeIndex();
  u32 r = ackRing.readIndex();
  if (w >= LINK_RING_DATA || r >= LINK_RING_DATA) return 0;
  u32 used = (w + LINK_RING_DATA - r) % LINK_RING_DATA;
  u32 room = used + LINK_RING_RESERVE >= LINK_RING_DATA ? 0 : LINK_RING_DATA - LINK_RING_RESERVE - used;
  u8* data = ackRing.data();
  int copied = 0;
  while (copied < n && room > 0) {
    u32 run = LINK_RING_DATA - w;
    u32 take = static_cast<u32>(n - copied);
    if (take > run) take = run;
    if (take > room) take = room;
    std::memcpy(data + w, buf + copied, take);
    copied += static_cast<int>(take);
    room -= take;
    w = (w + take) % LINK_RING_DATA;
  }
  ackRing.setWriteIndex(w);
  return copied;
}

int BpInStream::read(u32 handle, u8* buf, int n) {
  (void)handle;
  return mxFifoReceive(buf, n);
}

int BpOutStream::write(u32 handle, const u8* buf, int n) {
  (void)handle;
  return mxFifoSend(buf, n);
}

void linkInit() {
  connected = false;
  RequestReceiver::instance().reset();
  AcknowledgeSender::instance().reset();
}

// ---- Request receiver ----------------------------------------------------------------------------

RequestReceiver& RequestReceiver::instance() {
  static RequestReceiver receiver;
  return receiver;
}

void RequestReceiver::reset() {
  stream_.reset();
  headerValid_ = false;
  bodyLength_ = 0;
  type_ = -1;
  bodySize_ = pos_ = 0;
  short_ = shortReported_ = false;
}

void RequestReceiver::takeBody() {
  bodySize_ = bodyLength_;
  pos_ = 0;
  short_ = shortReported_ = false;
  stream_.take(body_, bodySize_);
  headerValid_ = false;
}

u8 RequestReceiver::readU8() {
  if (pos_ >= bodySize_) {
    short_ = true;
    return 0;
  }
  return body_[pos_++];
}

u16 RequestReceiver::readU16() {
  u16 hi = readU8();
  return static_cast<u16>((hi << 8) | readU8());
}

u32 RequestReceiver::readU32() {
  u32 hi = readU16();
  return (hi << 16) | readU16();
}

void RequestReceiver::skip(int n) {
  for (int i = 0; i < n; ++i) readU8();
}

void RequestReceiver::reportShort() {
  short_ = true;
  if (shortReported_) return;
  shortReported_ = true;
  MX_LOG(libmx::ERR, "receive short record %s : %d byte", category::typeNameOf(type_), bodyLength_);
}

// ---- Acknowledgement sender ----------------------------------------------------------------------

AcknowledgeSender& AcknowledgeSender::instance() {
  static AcknowledgeSender sender;
  return sender;
}

bool AcknowledgeSender::beginPacket(int type, u32 bodyLength) {
  u64 need = static_cast<u64>(bodyLength) + LINK_HEADER_BYTES;
  if (need < PACKET_RESERVE) need = PACKET_RESERVE;
  if (static_cast<u64>(stream_.freeCount()) < need) stream_.flush();
  if (static_cast<u64>(stream_.freeCount()) < need) return false;
  writeU8(LINK_SYNC0);
  writeU8(LINK_SYNC1);
  writeU32(bodyLength);
  writeU16(static_cast<u16>(type));
  return true;
}

void AcknowledgeSender::writeU16(u16 v) {
  stream_.write(static_cast<u8>(v >> 8));
  stream_.write(static_cast<u8>(v));
}

void AcknowledgeSender::writeU32(u32 v) {
  writeU16(static_cast<u16>(v >> 16));
  writeU16(static_cast<u16>(v));
}

void AcknowledgeSender::writeBytes(const u8* p, int n) {
  for (int i = 0; i < n; ++i) stream_.write(p[i]);
}

void reportSendBufferFull() { MX_LOG(libmx::ERR, "send buffer full"); }

// ---- Request dispatcher --------------------------------------------------------------------------

namespace category {

void CategoryRegistry::receiveAll() {
  RequestReceiver& rx = RequestReceiver::instance();
  auto& in = rx.stream();
  for (int messages = 0; messages < MAX_MESSAGES_PER_FRAME;) {
    if (!rx.headerValid_) {
      if (in.count() < LINK_HEADER_BYTES) in.refill();
      if (in.count() < LINK_HEADER_BYTES) {
        rx.bodyLength_ = 0;
        return;
      }
      u8 s0 = in.read();
      u8 s1 = in.read();
      if (s0 != LINK_SYNC0 || s1 != LINK_SYNC1) continue;  // the hunt goes on two bytes further
      u32 length = static_cast<u32>(in.read()) << 24;
      length |= static_cast<u32>(in.read()) << 16;
      length |= static_cast<u32>(in.read()) << 8;
      length |= in.read();
      u16 type = static_cast<u16>(in.read() << 8);
      type = static_cast<u16>(type | in.read());
      rx.type_ = static_cast<s16>(type);
      if (length > static_cast<u32>(RequestReceiver::MAX_BODY)) {
        // Such a body could never be buffered whole: drop the header and hunt on.
        MX_LOG(libmx::ERR, "receive invalid length %s : %u byte", typeNameOf(rx.type_), length);
        rx.bodyLength_ = 0;
        continue;
      }
      rx.bodyLength_ = static_cast<s32>(length);
      rx.headerValid_ = true;
    }
    if (in.count() < rx.bodyLength_) in.refill();
    if (in.count() < rx.bodyLength_) return;

    // The body is consumed and the header cleared before any handler runs, so whatever a
    // handler reads or throws, the next packet starts at the right byte.
    rx.takeBody();
    ++messages;
    int type = rx.type_;
    if (type == TYPE_WAIT_CMD) {
      s32 n = 0;
      if (rx.remaining() < 8) {
        rx.reportShort();
        continue;
      }
      rx.skip(6);
      n = rx.readS16();
      if (n > 0) {
        waitFrames = n - 1;
        return;
      }
      continue;
    }
    if (type < 0 || type >= N_TYPES) {
      MX_LOG(libmx::ERR, "receive invalid type %s : %d byte", typeNameOf(type), rx.bodyLength_);
      continue;
    }
    if (type < FIRST_COMMAND_TYPE && categories[0][type] != nullptr) {
      categories[0][type]->receive(rx);
      continue;
    }
    int owner = commandOwner[type];
    if (owner >= 0 && owner < N_TYPES && categories[0][owner] != nullptr) {
      categories[0][owner]->receiveCommand(type, rx);
      continue;
    }
    if (type != TYPE_DUAL_SOURCE_TALLY) MX_LOG(libmx::ERR, "receive undefined category %s", typeNameOf(type));
  }
}

}  // namespace category
