#include "Main/framework/link.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "Driver/core/core.h"
#include "Main/framework/bp.h"
#include "Main/framework/notes.h"
#include "Lib/Include/link_rings.h"
#include "Lib/Include/records/wait.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/log.h"
#include "Platform/platform.h"

namespace {

constexpr int MAX_MESSAGES_PER_FRAME = 100;

// The link's error lines, by kind. Past a few a frame the rest are counted, by these names, in one
// line (Lib/Include/log.h); a handler's own lines are not among them.
enum LinkLine { LINE_INVALID_TYPE, LINE_INVALID_LENGTH, LINE_SHORT_RECORD, LINE_OUT_OF_SYNC, LINE_UNDEFINED_CATEGORY };
constexpr const char* LINK_LINE_KINDS[] = {"invalid type", "invalid length", "short record", "out of sync",
                                           "undefined category"};
constexpr int LINK_LINES_PER_FRAME = 4;
constexpr libmx::LogCap LINK_LINE_CAP{"receive", LINK_LINE_KINDS, static_cast<int>(std::size(LINK_LINE_KINDS)),
                                      LINK_LINES_PER_FRAME};

bool connected = false;
// The back end's own indexes: where it has read the request ring to, and written the
// acknowledgement ring to. The window's copies are only stored.
u32 readAt = 0;
u32 writeAt = 0;
// The front end's indexes as last taken: the request ring's write index and the acknowledgement
// ring's read index. A value that their writer could not have stored since is not taken.
u32 theirWrite = 0;
u32 theirRead = 0;
// A run of frames that start the request ring again, or that find the rings' words written over, each
// frame less than a second after the last of its kind, is said once, by its first.
constexpr u32 QUIET_FRAMES = 60;
struct Run {
  u32 quiet = QUIET_FRAMES;  // frames since the last of the kind
  bool say() { return std::exchange(quiet, 0) >= QUIET_FRAMES; }
  void calm() { quiet += quiet < QUIET_FRAMES ? 1 : 0; }
};
Run restarts, finds;

u8* ring(u32 base) { return platform::memory(base, LINK_RING_HEAD + LINK_RING_DATA); }
u8* requestRing() { return ring(LINK_REQUEST_RING); }
u8* ackRing() { return ring(LINK_ACK_RING); }

// Whether w is a request write index that the front end's writer can have stored since theirWrite:
// as far on from the read index or further, and short of the room it had.
bool validWrite(u32 w) {
  if (w >= LINK_RING_DATA) return false;
  const u32 unread = linkring::used(w, readAt);
  return unread >= linkring::used(theirWrite, readAt) && unread <= LINK_RING_DATA - LINK_RING_RESERVE;
}

// Whether r is an acknowledgement read index that the front end's reader can have stored since
// theirRead: on from it, up to the write index at most.
bool validRead(u32 r) { return r < LINK_RING_DATA && linkring::used(writeAt, r) <= linkring::used(writeAt, theirRead); }

// Moves the request read index to `to`, clearing the bytes it passes: bytes read, or dropped, are
// never taken again, whatever moves the write index back over them.
void readTo(u32 to) {
  linkring::clear(linkring::data(requestRing()), readAt, linkring::used(to, readAt));
  readAt = to;
  linkring::setReadIndex(requestRing(), readAt);
}

}  // namespace

void mxFifoReset(u32 at) {
  readAt = writeAt = theirWrite = theirRead = at % LINK_RING_DATA;
  restarts = finds = {};
  platform::clearMemory(LINK_REQUEST_RING + LINK_RING_HEAD, LINK_RING_DATA);
  for (u8* r : {requestRing(), ackRing()}) linkring::setWriteIndex(r, readAt), linkring::setReadIndex(r, readAt);
  linknotes::reset();
}

bool mxFifoConnected() { return connected; }

bool mxFifoKeep() {
  static bool lost = false;  // the request ring started again for an index outside it, not yet sent anew
  u8* const requests = requestRing();
  u8* const acks = ackRing();
  const u32 w = linkring::writeIndex(requests), ownRead = linkring::readIndex(requests);
  const u32 ownWrite = linkring::writeIndex(acks), r = linkring::readIndex(acks);
  linkring::setWriteIndex(acks, writeAt);
  if (w >= LINK_RING_DATA) {
    finds.calm();
    linknotes::overwritten();
    if (restarts.say() && !lost) MX_LOG(libmx::ERR, "request ring: write index 0x%08x lies outside it: it starts again empty", w);
    lost = true;
    platform::clearMemory(LINK_REQUEST_RING + LINK_RING_HEAD, LINK_RING_DATA);
    readAt = theirWrite = 0;
    linkring::setReadIndex(requests, 0), linkring::setWriteIndex(requests, 0);
    RequestReceiver::instance().reset();
    linknotes::dropped(0);
    return true;
  }
  lost = lost && w == 0;
  restarts.calm();
  // The back end's own words hold what it stored, and the front end's what its side can have stored
  // since; anything else was written there by what writes neither, and is not followed. A request
  // write index so moved leaves the bytes before it unknown: they are dropped, and reading goes on
  // from it, where the front end writes next (the notes say so).
  const bool dropping = !validWrite(w);
  const struct {
    bool now;
    const char *ring, *word;
    u32 value;
    const char* done;
  } found[] = {{dropping, "request", "write", w, "what was not read is dropped, reading goes on from there"},
               {ownRead != readAt, "request", "read", ownRead, "put back"},
               {ownWrite != writeAt, "acknowledgement", "write", ownWrite, "put back"},
               {!validRead(r), "acknowledgement", "read", r, "put back where its reader left it"}};
  const auto first = std::find_if(std::begin(found), std::end(found), [](const auto& f) { return f.now; });
  if (first == std::end(found)) {
    finds.calm();
  } else {
    linknotes::overwritten();
    if (finds.say()) {
      MX_LOG(libmx::WARN, "link: the %s ring's %s index holds 0x%08x, which no side stores there: %s%s", first->ring,
             first->word, first->value, first->done, first - found < 2 ? ", and a wait read before ends" : "");
    }
  }
  if (validRead(r)) {
    theirRead = r;
  } else {
    linkring::setReadIndex(acks, theirRead);
  }
  if (dropping) {
    readTo(w);
    theirWrite = w;
    RequestReceiver::instance().reset();
    linknotes::dropped(w);
  }
  linkring::setReadIndex(requests, readAt);
  return first - found < 2;
}

int mxFifoReceive(u8* buf, int n) {
  const u32 w = linkring::writeIndex(requestRing());
  if (w == readAt || n <= 0 || !validWrite(w)) return 0;  // one moved otherwise waits for the frame's keep
  theirWrite = w;
  if (!connected) {
    MX_LOG(libmx::INFO, "Connected from System Manager\n");
    mxWatchdogEnable(0, 1);
    connected = true;
  }
  const u32 avail = linkring::used(w, readAt);
  const u32 take = avail < static_cast<u32>(n) ? avail : static_cast<u32>(n);
  linkring::get(linkring::data(requestRing()), readAt, buf, take);
  readTo(linkring::ahead(readAt, take));
  return static_cast<int>(take);
}

int mxFifoSend(const u8* buf, int n) {
  if (!connected) return n;
  if (n <= 0) return 0;
  const u32 r = linkring::readIndex(ackRing());
  if (validRead(r)) theirRead = r;  // else the last one taken holds, until the frame's keep puts it back
  const u32 room = linkring::room(writeAt, theirRead);
  const u32 take = room < static_cast<u32>(n) ? room : static_cast<u32>(n);
  writeAt = linkring::put(linkring::data(ackRing()), writeAt, buf, take);
  linkring::setWriteIndex(ackRing(), writeAt);
  return static_cast<int>(take);
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
  framing_.reset();
}

// The skipped bytes are logged in one line when the sync is found again, however many frames the
// hunt took, before anything about the header found.
bool RequestReceiver::readHeader(const category::CategoryRegistry& registry) {
  if (headerValid_) return true;
  RequestFraming::Step step = RequestFraming::Step::Taken;
  while (step == RequestFraming::Step::Taken) {
    if (stream_.count() == 0 && stream_.refill() == 0) {
      bodyLength_ = 0;
      return false;
    }
    step = framing_.add(stream_.read(), [&registry](int type) { return registry.largestBody(type); });
  }
  reportSkipped();
  type_ = static_cast<s16>(framing_.type());
  if (step != RequestFraming::Step::Header) {
    reportInvalidLength(framing_.type(), framing_.length());
    bodyLength_ = 0;
    return true;
  }
  bodyLength_ = static_cast<s32>(framing_.length());
  headerValid_ = true;
  return true;
}

void RequestReceiver::reportInvalidLength(u16 type, u32 length) {
  libmx::LogRuns::logKind(LINE_INVALID_LENGTH, libmx::ERR, "receive invalid length %s : %u byte",
                          category::TypeLabel(type).text(), length);
}

void RequestReceiver::reportSkipped() {
  const u32 skipped = framing_.takeSkipped();
  if (skipped == 0) return;
  libmx::LogRuns::logKind(LINE_OUT_OF_SYNC, libmx::ERR, "receive out of sync : %u byte skipped", skipped);
}

bool RequestReceiver::bodyBuffered() {
  if (stream_.count() < bodyLength_) stream_.refill();
  return stream_.count() >= bodyLength_;
}

void RequestReceiver::takeBody() {
  bodySize_ = bodyLength_;
  pos_ = 0;
  short_ = shortReported_ = false;
  stream_.take(body_, bodySize_);
  framing_.takeBody(static_cast<u32>(bodySize_));
  headerValid_ = false;
}

u32 RequestReceiver::position() const {
  return (readAt + LINK_RING_DATA - static_cast<u32>(stream_.count())) % LINK_RING_DATA;
}

void RequestReceiver::reportShort() {
  short_ = true;
  if (shortReported_) return;
  shortReported_ = true;
  libmx::LogRuns::logKind(LINE_SHORT_RECORD, libmx::ERR, "receive short record %s : %d byte",
                          category::TypeLabel(static_cast<u16>(type_)).text(), bodyLength_);
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
  u8 head[LINK_HEADER_BYTES];
  writePacketHeader(head, static_cast<u16>(type), bodyLength);
  stream_.write(head, LINK_HEADER_BYTES);
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

void AcknowledgeSender::writeBytes(const u8* p, int n) { stream_.write(p, n); }

void reportSendBufferFull() { MX_LOG(libmx::ERR, "send buffer full"); }

// ---- Request dispatcher --------------------------------------------------------------------------

namespace category {

// A run of equal console lines within the pass (one malformed packet sent again and again) is
// logged once with its count, and past LINK_LINES_PER_FRAME of the link's error lines the rest are
// counted in one line, so a flood of garbage costs a few lines a frame and the console ring keeps
// what came before it. A handler's own lines are written as they come: they say what became of a
// request that arrived whole, at most a hundred a frame.
void CategoryRegistry::receiveAll() {
  RequestReceiver& rx = RequestReceiver::instance();
  libmx::LogRuns runs(LINK_LINE_CAP);
  for (int messages = 0; messages < MAX_MESSAGES_PER_FRAME; ++messages) {
    // A header that promises more than its type's reader takes is dropped at once, before its
    // body is waited for: the requests behind it are not taken for its body.
    if (!rx.readHeader(*this)) return;
    if (!rx.isHeaderValid()) continue;  // a header that was dropped counts as a message
    if (!rx.bodyBuffered()) return;
    // The body is consumed and the header cleared before any handler runs, so whatever a
    // handler reads or throws, the next packet starts at the right byte.
    rx.takeBody();
    if (rx.type() == TYPE_WAIT_CMD) {
      if (receiveWait(rx)) return;
    } else {
      const u32 from = rules::written();
      dispatch(rx);
      if (rx.type() < FIRST_COMMAND_TYPE || rules::written() != from) linknotes::taken(rx.position(), rx.type(), from);
    }
  }
}

// n frames to wait (n > 0) stop reception for this frame and the n - 1 that follow.
bool CategoryRegistry::receiveWait(RequestReceiver& rx) {
  WaitCommand wait{};
  if (!rx.readRecord(wait) || wait.frames <= 0) return false;
  waitFrames = wait.frames - 1;
  return true;
}

CategoryInterface* CategoryRegistry::handlerOf(int type) const {
  if (type < 0 || type >= N_TYPES) return nullptr;
  if (type < FIRST_COMMAND_TYPE && categories[0][type] != nullptr) return categories[0][type];
  const int owner = commandOwner[type];
  return owner >= 0 && owner < N_TYPES ? categories[0][owner] : nullptr;
}

int CategoryRegistry::largestBody(int type) const {
  if (type == TYPE_WAIT_CMD) return static_cast<int>(codec::wireSize<WaitCommand>());
  const CategoryInterface* cat = handlerOf(type);
  return cat != nullptr ? cat->largestBody(type) : RequestReceiver::MAX_BODY;
}

void CategoryRegistry::dispatch(RequestReceiver& rx) {
  const int type = rx.type();
  if (type < 0 || type >= N_TYPES) {
    libmx::LogRuns::logKind(LINE_INVALID_TYPE, libmx::ERR, "receive invalid type %s : %d byte",
                            TypeLabel(static_cast<u16>(type)).text(), rx.bodyLength());
    return;
  }
  CategoryInterface* cat = handlerOf(type);
  if (cat == nullptr) {
    if (type != TYPE_DUAL_SOURCE_TALLY) {
      libmx::LogRuns::logKind(LINE_UNDEFINED_CATEGORY, libmx::ERR, "receive undefined category %s",
                              TypeLabel(type).text());
    }
  } else if (type < FIRST_COMMAND_TYPE && cat == categories[0][type]) {
    cat->receive(rx);
  } else {
    cat->receiveCommand(type, rx);
  }
}

}  // namespace category
