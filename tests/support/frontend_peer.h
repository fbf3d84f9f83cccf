#pragma once
// The front end's side of the link for tests: writes request packets into the request ring and
// reads and parses the acknowledgement ring.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Main/framework/link.h"
#include "Lib/Include/codec.h"
#include "Lib/Include/text.h"

namespace testing_support {

using Bytes = std::vector<u8>;

// A packet as it travels: 0x5A 0x81, u32 body length, u16 type, body (big-endian).
Bytes packetBytes(int type, const Bytes& body);
// The wire form of a record.
template <class T>
Bytes recordBytes(const T& r) {
  Bytes body(codec::wireSize<T>());
  codec::encode(r, body.data(), body.size());
  return body;
}

// The wire form of a record whose field list holds texts.
template <class T>
Bytes textRecordBytes(const T& r) {
  struct Out {
    Bytes b;
    void write(u8 x) { b.push_back(x); }
  } out;
  libmx::writeTextRecord(out, r);
  return out.b;
}

struct AckPacket {
  int type = -1;
  Bytes body;
  // The body decoded as record T (all zero when the body is shorter).
  template <class T>
  T as() const {
    T r{};
    codec::read(body.data(), body.size(), r);
    return r;
  }
  // The body decoded as text record T, read whole.
  template <class T>
  T asText() const {
    T r{};
    libmx::WireIn in(body.data(), body.size());
    EXPECT_TRUE(libmx::readTextRecord(in, r));
    EXPECT_EQ(in.position(), body.size());
    return r;
  }
};

class FrontendPeer {
 public:
  // Empties both rings and puts the link back to its program start state.
  void reset();

  // Appends raw bytes to the request ring (as much as fits; returns the count written).
  size_t write(const Bytes& bytes);
  void sendPacket(int type, const Bytes& body) { write(packetBytes(type, body)); }
  template <class T>
  void send(const T& r, int type = T::TYPE_INDEX) {
    sendPacket(type, recordBytes(r));
  }
  // A record whose field list holds texts, in its wire form.
  template <class T>
  void sendText(const T& r) {
    sendPacket(T::TYPE_INDEX, textRecordBytes(r));
  }
  // Request bytes the system has not taken yet.
  u32 requestPending() const;

  // Takes every byte in the acknowledgement ring (advancing its read index).
  Bytes readBytes();
  // Takes the acknowledgement ring and returns the complete packets in it; a partial packet is
  // kept for the next call. Bytes that do not start a packet are counted in garbage().
  std::vector<AckPacket> readPackets();
  size_t garbage() const { return garbage_; }

 private:
  Bytes partial_;
  size_t garbage_ = 0;
};

}  // namespace testing_support
