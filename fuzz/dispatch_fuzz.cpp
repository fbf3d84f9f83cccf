// Feeds arbitrary bytes through the request ring into the dispatcher over several frames, with
// categories of every kind registered under real type indexes.
// The input form is fuzz_input.h's.
#include <cstdint>

#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Platform/board.h"
#include "fuzz/fuzz_input.h"
#include "Lib/Include/log.h"

namespace {

struct Timing {
  u32 mask;
  u8 flag;
  s16 rate;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("flag", r.flag, r.mask, 0);
    v.field("rate", r.rate, r.mask, 1);
  }
};

// A record with every kind of field: per-element bits over a mask array, sub-records, a float.
template <int TYPE, bool PERME, int CH>
struct Record {
  static constexpr int TYPE_INDEX = TYPE;
  static constexpr bool PER_ME = PERME;
  static constexpr int N_CHANNELS = CH;
  u32 mask;
  u8 me;
  u8 mode;
  s16 edges[4];
  Timing trans;
  float level;
  u32 tallyMask[2];
  u16 tally[40];
  u8 status;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.mask("mask", r.mask);
    v.field("me", r.me);
    v.field("mode", r.mode, r.mask, 0);
    v.field("edges", r.edges, r.mask, 1);
    v.sub("trans", r.trans);
    v.field("level", r.level, r.mask, 2);
    v.mask("tallyMask", r.tallyMask);
    v.each("tally", r.tally, r.tallyMask, 0);
    v.field("status", r.status, r.mask, 3);
  }
};

template <class T>
class Checked : public category::CategoryCommon<T> {
 protected:
  bool acceptField(const codec::FieldView& f, const T& in, int) override {
    if (f.is(in.mode)) return in.mode <= 2;
    if (f.is(in.trans.rate)) return 0 <= in.trans.rate && in.trans.rate <= 999;
    return true;
  }
};

using Key = Record<category::TYPE_KEY, true, 4>;
using Bkgd = Record<category::TYPE_BKGD, true, 1>;
using Cbgd = Record<category::TYPE_CBGD, false, 2>;
using EventMemory = Record<category::TYPE_EVENT_MEMORY, false, 1>;

// Event memory also owns a record type as a command: its default receiveCommand fails a check.
class EventCategory : public Checked<EventMemory> {
 public:
  EventCategory() {
    category::CategoryRegistry::instance().setCommandOwner(category::TYPE_EVENT_MEMORY_EDIT_POINT,
                                                           category::TYPE_EVENT_MEMORY);
  }
};

struct InitCmd {
  static constexpr int TYPE_INDEX = category::TYPE_SYSTEM_INITIAL_CMD;
  u32 code;
  u16 arg;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("code", r.code);
    v.field("arg", r.arg);
  }
};

// Reads a record, then hand-reads further bytes; replies with a packet; fails on code 0xDEAD.
class InitCategory : public category::CategoryWithoutStatus<InitCmd> {
 public:
  // The record and the word read by hand.
  int largestBody(int type) const override { return CategoryWithoutStatus::largestBody(type) + 4; }
  void receiveCommand(int type, RequestReceiver& rx) override {
    InitCmd cmd{};
    if (!rx.readRecord(cmd)) return;
    MX_CHECK(cmd.code != 0xDEAD);
    u32 extra = rx.readU32();
    auto& tx = AcknowledgeSender::instance();
    if (tx.beginPacket(type, 4)) {
      tx.writeU32(extra ^ cmd.code);
    } else {
      reportSendBufferFull();
    }
  }
};

struct ButtonEvent {
  static constexpr int TYPE_INDEX = category::TYPE_BUTTON_EVENT;
  u8 code;
  u8 state;
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("code", r.code);
    v.field("state", r.state);
  }
};

// Queues button events and runs them at the start of the next frame (marking background dirty).
class ButtonCategory : public category::CategoryWithoutStatus<ButtonEvent>, public category::FrameQueue {
 public:
  void receiveCommand(int, RequestReceiver& rx) override {
    ButtonEvent e{};
    if (rx.readRecord(e) && queued < 8) queue[queued++] = e;
  }
  void runQueue() override {
    for (int i = 0; i < queued; ++i) {
      auto* bkgd = static_cast<Checked<Bkgd>*>(
          category::CategoryRegistry::instance().get(category::TYPE_BKGD, queue[i].code % 4));
      Bkgd r{};
      r.mask = 1;
      r.mode = queue[i].state % 3;
      bkgd->assign(r, 0);
    }
    queued = 0;
  }
  void initInternal() override { queued = 0; }

 private:
  ButtonEvent queue[8] = {};
  int queued = 0;
};

struct World {
  World() {
    platform::BoardOptions options;
    options.clock = platform::ClockMode::Stepped;
    platform::boardOpen(options);
    platform::setDebugEcho(false);
    category::CategoryRegistry::instance().reset();
  }
};

category::CategoryRegistry& setUp() {
  static World world;
  static Checked<Key> key[4];
  static Checked<Bkgd> bkgd[4];
  static Checked<Cbgd> cbgd;
  static EventCategory event;
  static InitCategory init;
  static ButtonCategory button;
  auto& reg = category::CategoryRegistry::instance();
  static bool bound = [&] {
    reg.initialize();
    return true;
  }();
  (void)bound;
  return reg;
}

void runFrame(category::CategoryRegistry& reg) {
  try {
    reg.process();
  } catch (const assert::AssertException&) {
    // Contained as the frame callback does: the next frame starts afresh.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& reg = setUp();
  fuzzing::runInput(reg, data, size, [&](int) { runFrame(reg); });
  return 0;
}
