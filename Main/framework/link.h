#pragma once
// The front-end link: two byte rings in memory shared with the front end, the buffered streams on
// top of them, the request receiver and the acknowledgement sender.
//
// Packet (both directions): 0x5A 0x81, u32 body length, u16 type index, the body; big-endian.
#include <cstring>
#include <type_traits>

#include "Lib/Include/link_framing.h"
#include "Lib/Include/link_window.h"
#include "Lib/Include/type_names.h"
#include "Lib/Include/codec.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/types.h"

// ---- Link rings -----------------------------------------------------------------------------------
// The request and acknowledgement rings in the link window (Lib/Include/link_window.h). The back end
// keeps its own index of each (the request ring's read index, the acknowledgement ring's write
// index) and only stores it into the window; it reads the front end's, bounded to the data.

// Both rings empty (power-on): every index at 0, or at `at` (tests start a ring near its wrap).
void mxFifoReset(u32 at = 0);
// Copies up to n request bytes into buf; returns the count (0 when the ring is empty). The first
// byte ever seen connects the link.
int mxFifoReceive(u8* buf, int n);
// Copies up to n bytes into the acknowledgement ring; returns the count taken. Until the link is
// connected every byte is reported taken and dropped.
int mxFifoSend(const u8* buf, int n);
bool mxFifoConnected();
// Once a frame: stores the back end's own indexes again (the front end may have written over them)
// and checks the front end's: a request write index outside the ring leaves nothing to follow, so
// the request ring starts again empty at 0, and the receiver with it (ERR, until the ring is written
// again); one that its writer could not have stored drops what was not read, and reading goes on
// from it (WARN, as for any index word found written over). A run of frames of either kind less than a
// second apart logs one line. Returns whether a wait read before ends: the request ring started again, or
// its words were written over.
bool mxFifoKeep();

// Program start state of the link: not connected, both streams and the receiver empty.
void linkInit();

struct BpInStream {
  static int read(u32 handle, u8* buf, int n);
};
struct BpOutStream {
  static int write(u32 handle, const u8* buf, int n);
};

namespace typelist {

template <class T>
struct IndexOf {
  static constexpr int value = T::TYPE_INDEX;
};

// Input ring buffer of N bytes over a channel; one byte always stays free.
template <class Channel, int N>
class BufferedInStream {
 public:
  // Bytes buffered.
  int count() const { return count_; }

  // Takes what the channel has into the free part of the buffer (across the wrap); returns the
  // bytes taken.
  int refill() {
    int taken = 0;
    for (int piece = 0; piece < 2; ++piece) {
      int end = (write_ >= read_) ? (read_ == 0 ? N - 1 : N) : read_ - 1;
      int room = end - write_;
      if (room <= 0) break;
      int got = Channel::read(handle_, data_ + write_, room);
      if (got <= 0) break;
      write_ = (write_ + got) % N;
      count_ += got;
      taken += got;
      if (got < room) break;
    }
    return taken;
  }

  // One byte; refills once when nothing is buffered and returns 0 when still nothing is there
  // (the dispatcher only reads what it has seen buffered, so the frame never waits here).
  u8 read() {
    if (count_ == 0 && refill() == 0) return 0;
    u8 b = data_[read_];
    read_ = (read_ + 1) % N;
    --count_;
    return b;
  }

  // Takes n buffered bytes (at most those buffered) into dst (null: discards them), in at most two
  // runs across the wrap.
  void take(u8* dst, int n) {
    if (n > count_) n = count_;
    while (n > 0) {
      const int run = n < N - read_ ? n : N - read_;
      if (dst != nullptr) {
        std::memcpy(dst, data_ + read_, static_cast<size_t>(run));
        dst += run;
      }
      read_ = (read_ + run) % N;
      count_ -= run;
      n -= run;
    }
  }

  void reset() { write_ = read_ = count_ = 0; }

 private:
  u8 data_[N] = {};
  int write_ = 0;
  int read_ = 0;
  int count_ = 0;
  u32 handle_ = 0;
};

// Output ring buffer of N bytes drained into a channel; 16 bytes always stay free.
template <class Channel, int N>
class BufferedOutStream {
 public:
  static constexpr int RESERVE = 16;

  // Stores one byte. A full stream is flushed once; a byte that still finds no room is dropped
  // (the packet writer reserves room for a whole packet first, so this never splits one).
  void write(u8 b) {
    if (free_ == 0) flush();
    if (free_ == 0) return;
    data_[write_] = b;
    write_ = (write_ + 1) % N;
    --free_;
  }

  // Stores n bytes as n calls of write(u8) would, a run at a time.
  void write(const u8* p, int n) {
    while (n > 0) {
      if (free_ == 0) flush();
      if (free_ == 0) {
        ++p, --n;  // dropped, as write(u8) drops it
        continue;
      }
      int run = n < free_ ? n : free_;
      if (run > N - write_) run = N - write_;
      std::memcpy(data_ + write_, p, static_cast<size_t>(run));
      write_ = (write_ + run) % N;
      free_ -= run;
      p += run;
      n -= run;
    }
  }

  // Hands the pending bytes to the channel once (in at most two pieces across the wrap).
  void flush() {
    if (write_ < read_) {
      if (drain(N - read_) && write_ > 0) drain(write_);
    } else if (write_ > read_) {
      drain(write_ - read_);
    }
    computeFree();
  }

  int pending() const { return (write_ - read_ + N) % N; }
  int freeCount() const { return free_; }
  bool empty() const { return write_ == read_; }

  void reset() {
    write_ = read_ = 0;
    computeFree();
  }

 private:
  // Gives n bytes from the read index; returns whether all were taken.
  bool drain(int n) {
    int taken = Channel::write(handle_, data_ + read_, n);
    if (taken < 0) taken = 0;
    read_ = (read_ + taken) % N;
    return taken == n;
  }
  void computeFree() { free_ = (write_ < read_) ? read_ - write_ - RESERVE : read_ - write_ + N - RESERVE; }

  u8 data_[N] = {};
  int write_ = 0;
  int read_ = 0;
  int free_ = N - RESERVE;
  u32 handle_ = 0;
};

}  // namespace typelist

namespace category {
class CategoryRegistry;
}

// A packet body read through a cursor that a record reader keeps in locals: big-endian words; a
// read past the end yields 0 and marks the body short.
class BodyCursor {
 public:
  BodyCursor(const u8* p, const u8* end) : p_(p), end_(end) {}
  u8 readU8() {
    if (p_ < end_) return *p_++;
    short_ = true;
    return 0;
  }
  u16 readU16() {
    if (end_ - p_ < 2) {
      const u16 hi = readU8();
      return static_cast<u16>(hi << 8 | readU8());
    }
    const u16 v = static_cast<u16>(p_[0] << 8 | p_[1]);
    p_ += 2;
    return v;
  }
  u32 readU32() {
    if (end_ - p_ < 4) {
      const u32 hi = readU16();
      return hi << 16 | readU16();
    }
    const u32 v = u32{p_[0]} << 24 | u32{p_[1]} << 16 | u32{p_[2]} << 8 | p_[3];
    p_ += 4;
    return v;
  }
  void skip(int n) {
    if (n <= 0) return;
    if (n <= end_ - p_) {
      p_ += n;
      return;
    }
    p_ = end_;
    short_ = true;
  }
  bool isShort() const { return short_; }
  const u8* position() const { return p_; }

 private:
  const u8* p_;
  const u8* end_;
  bool short_ = false;
};

// The request side: the input stream, split into packets by the request framing, and the packet
// being dispatched. A handler reads the body of its packet through the read functions below, which
// never go past the body; the dispatcher has taken the whole body out of the stream before it calls
// the handler, so bytes a handler leaves unread are skipped and a handler that fails cannot stall
// reception.
class RequestReceiver {
 public:
  using InStream = typelist::BufferedInStream<BpInStream, 16384>;
  static constexpr int MAX_BODY = static_cast<int>(RequestFraming::MAX_BODY);  // what the input stream can hold

  static RequestReceiver& instance();

  InStream& stream() { return stream_; }

  // Header of the packet in hand.
  bool isHeaderValid() const { return headerValid_; }
  void clearHeader() { headerValid_ = false; }
  s32 bodyLength() const { return bodyLength_; }
  s16 type() const { return type_; }

  // Body of the packet being dispatched. Reading past its end yields 0 and marks it short.
  int remaining() const { return bodySize_ - pos_; }
  bool isShort() const { return short_; }
  u8 readU8() { return read([](BodyCursor& c) { return c.readU8(); }); }
  u16 readU16() { return read([](BodyCursor& c) { return c.readU16(); }); }
  u32 readU32() { return read([](BodyCursor& c) { return c.readU32(); }); }
  s8 readS8() { return static_cast<s8>(readU8()); }
  s16 readS16() { return static_cast<s16>(readU16()); }
  s32 readS32() { return static_cast<s32>(readU32()); }
  void skip(int n) {
    read([n](BodyCursor& c) {
      c.skip(n);
      return 0;
    });
  }
  // The unread part of the body, for a reader that keeps its place in locals; finish() takes the
  // place it reached.
  BodyCursor cursor() const { return {body_ + pos_, body_ + bodySize_}; }
  void finish(const BodyCursor& c) {
    pos_ = static_cast<int>(c.position() - body_);
    short_ = short_ || c.isShort();
  }

  // Reads a record's wire form from the body. When the body is shorter than the record, logs
  // "receive short record %s : %d byte" and returns false; the record must then be dropped.
  template <class T>
  bool readRecord(T& r) {
    int need = static_cast<int>(codec::wireSize<T>());
    if (remaining() < need) {
      reportShort();
      return false;
    }
    codec::read(body_ + pos_, static_cast<size_t>(need), r);
    pos_ += need;
    // Records that normalise a field as it arrives say so with afterRead.
    if constexpr (requires { T::afterRead(r); }) T::afterRead(r);
    return true;
  }
  void reportShort();
  // The request ring index of the first byte not yet taken from the stream: just past the packet
  // whose body was taken last.
  u32 position() const;

  // Program start state (also what linkInit does).
  void reset();

 private:
  friend class category::CategoryRegistry;
  RequestReceiver() = default;
  // Unless a header is in hand, feeds the buffered bytes to the framing until it completes the next
  // header; one that it drops (a body that could never be buffered, or longer than the registry's
  // largestBody for its type) is logged, and no header is then in hand. False when the bytes run
  // out first.
  bool readHeader(const category::CategoryRegistry& registry);
  // Logs the bytes the hunt skipped before the sync it has just found, if any.
  void reportSkipped();
  // Logs "receive invalid length %s : %u byte": a header whose body is not waited for.
  static void reportInvalidLength(u16 type, u32 length);
  // Whether the whole body of the packet in hand is buffered (refilling once when not).
  bool bodyBuffered();
  // Takes the body of the packet in hand out of the stream (it is buffered whole).
  void takeBody();
  template <class Read>
  std::invoke_result_t<Read, BodyCursor&> read(Read&& r) {
    BodyCursor c = cursor();
    const auto v = r(c);
    finish(c);
    return v;
  }

  InStream stream_;
  RequestFraming framing_;
  bool headerValid_ = false;
  s32 bodyLength_ = 0;
  s16 type_ = -1;
  bool short_ = false;
  bool shortReported_ = false;
  int bodySize_ = 0;
  int pos_ = 0;
  u8 body_[MAX_BODY] = {};
};

// The acknowledgement side: packets into the 256 KB output stream, drained into the
// acknowledgement ring by flush().
class AcknowledgeSender {
 public:
  using OutStream = typelist::BufferedOutStream<BpOutStream, 262144>;
  static constexpr int PACKET_RESERVE = 4162;

  static AcknowledgeSender& instance();

  OutStream& stream() { return stream_; }
  int pending() const { return stream_.pending(); }
  void flush() { stream_.flush(); }

  // Starts a packet: makes sure the whole packet fits (at least PACKET_RESERVE free bytes, more for
  // a longer body; flushing once when short), then writes sync, body length and type. Returns
  // false, writing nothing, when it does not fit; the caller then calls reportSendBufferFull.
  bool beginPacket(int type, u32 bodyLength);
  void writeU8(u8 v) { stream_.write(v); }
  void writeU16(u16 v);
  void writeU32(u32 v);
  void writeBytes(const u8* p, int n);

  // A whole packet carrying one record. Returns false when it did not fit.
  template <class T>
  bool writeRecord(int type, const T& r) {
    if (!beginPacket(type, static_cast<u32>(codec::wireSize<T>()))) return false;
    codec::write(r, stream_);
    return true;
  }

  void reset() { stream_.reset(); }

 private:
  AcknowledgeSender() = default;
  OutStream stream_;
};

// Logs "send buffer full" at ERR.
void reportSendBufferFull();
