#pragma once
// The link's framing, shared by the back end, the front end's tools and the tests: the packet header,
// and the framing of the request stream a byte at a time: the hunt for the sync pair, the header, the
// rules that drop a header, and the body the header owes. The back end's receiver splits its stream
// with it, and the tools that write the stream follow what they wrote with it, so the two split the
// stream alike whatever frames the bytes arrive in.
//
// Packet: 0x5A 0x81, u32 body length, u16 type, the body (big-endian).
#include <cstring>

#include "Lib/Include/types.h"

// ---- Packet header ----------------------------------------------------------------------------------
constexpr u8 LINK_SYNC0 = 0x5A;
constexpr u8 LINK_SYNC1 = 0x81;
constexpr int LINK_HEADER_BYTES = 8;

// The header of a packet of type `type` with a body of `length` bytes.
inline void writePacketHeader(u8* out, u16 type, u32 length) {
  const u8 head[LINK_HEADER_BYTES] = {LINK_SYNC0,
                                      LINK_SYNC1,
                                      static_cast<u8>(length >> 24),
                                      static_cast<u8>(length >> 16),
                                      static_cast<u8>(length >> 8),
                                      static_cast<u8>(length),
                                      static_cast<u8>(type >> 8),
                                      static_cast<u8>(type)};
  std::memcpy(out, head, LINK_HEADER_BYTES);
}
inline bool isPacketSync(const u8* head) { return head[0] == LINK_SYNC0 && head[1] == LINK_SYNC1; }
// The body length and type of the header at head (past its sync pair).
inline u32 packetLength(const u8* head) {
  return u32{head[2]} << 24 | u32{head[3]} << 16 | u32{head[4]} << 8 | head[5];
}
inline u16 packetType(const u8* head) { return static_cast<u16>(head[6] << 8 | head[7]); }

// ---- Request stream ---------------------------------------------------------------------------------
class RequestFraming {
 public:
  // The longest body the receiver's input stream can hold.
  static constexpr u32 MAX_BODY = 16384 - 1;

  enum class Step : u8 {
    Taken,    // the byte was skipped, or went into a header still incomplete or into the body owed
    Header,   // the byte completed a header: its body (length(), possibly none) is now owed
    Unheld,   // it completed a header whose body could never be held: dropped up to a sync byte in it
    TooLong,  // it completed a header promising more than largest(type): dropped whole
  };

  // Takes byte b. largest(type) is the longest body a type's reader takes. Bytes that do not begin
  // with the sync pair are skipped one at a time (a lone sync byte is held until the next byte says),
  // so a stray byte costs only itself; after an unheld header the hunt goes on at the sync byte in it.
  template <class Largest>
  Step add(u8 b, Largest&& largest) {
    if (owed_ > 0) {
      --owed_;
      return Step::Taken;
    }
    head_[held_++] = b;
    if (held_ <= 2) hunt();  // past two bytes held, they begin with the sync pair already
    if (held_ < LINK_HEADER_BYTES) return Step::Taken;
    length_ = packetLength(head_);
    type_ = packetType(head_);
    later_ = 0;
    if (length_ > MAX_BODY) {
      int at = 1;
      while (at < LINK_HEADER_BYTES && head_[at] != LINK_SYNC0) ++at;
      shift(at);
      const u32 before = skipped_;
      hunt();
      later_ = skipped_ - before;
      return Step::Unheld;
    }
    held_ = 0;
    if (length_ > static_cast<u32>(largest(static_cast<int>(type_)))) return Step::TooLong;
    owed_ = length_;
    return Step::Header;
  }

  // Takes n bytes of the body owed (at most those owed), as n calls of add would.
  void takeBody(u32 n) { owed_ -= n < owed_ ? n : owed_; }

  // Body bytes still owed to the last header.
  u32 owed() const { return owed_; }
  // The start of a header held: a sync byte, then up to six more.
  int held() const { return held_; }
  const u8* heldBytes() const { return head_; }
  // Whether the next byte is taken as the first of a header (none is held, no body owed).
  bool atPacket() const { return owed_ == 0 && held_ == 0; }
  // Type and body length of the last header completed.
  u16 type() const { return type_; }
  u32 length() const { return length_; }
  // Bytes the hunt skipped since the last takeSkipped.
  u32 skipped() const { return skipped_; }
  // The bytes skipped before the header just completed (those skipped after a header dropped from
  // inside it belong to the next), which are then no longer counted.
  u32 takeSkipped() {
    const u32 n = skipped_ - later_;
    skipped_ = later_;
    later_ = 0;
    return n;
  }

  void reset() { *this = RequestFraming{}; }
  // Takes up a state that owed() and heldBytes() gave (the tools keep it between programs).
  void resume(u32 owed, const u8* held, int n) {
    reset();
    owed_ = owed < MAX_BODY ? owed : MAX_BODY;
    for (int i = 0; owed_ == 0 && i < n && i < LINK_HEADER_BYTES - 1; ++i) head_[held_++] = held[i];
    hunt();
    skipped_ = later_ = 0;
  }

 private:
  // Skips bytes from the front of those held until they begin with the sync pair (or a lone sync
  // byte).
  void hunt() {
    int skip = 0;
    while (skip < held_ && (head_[skip] != LINK_SYNC0 || (skip + 1 < held_ && head_[skip + 1] != LINK_SYNC1))) ++skip;
    skipped_ += static_cast<u32>(skip);
    shift(skip);
  }
  void shift(int n) {
    if (n == 0) return;
    for (int i = n; i < held_; ++i) head_[i - n] = head_[i];
    held_ -= n;
  }

  u8 head_[LINK_HEADER_BYTES] = {};
  int held_ = 0;
  u32 owed_ = 0;
  u16 type_ = 0;
  u32 length_ = 0;
  u32 skipped_ = 0;
  u32 later_ = 0;  // of skipped_, those after the last header completed
};
