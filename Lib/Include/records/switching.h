#pragma once
// MxifSwitchingCmd (command type 76): a whole bus record for one ME that the front end wants applied
// at a picture boundary, answered with the same body and a reply code.
#include <cstddef>

#include "Lib/Include/codec.h"
#include "Lib/Include/records/bus.h"
#include "Lib/Include/type_index.h"
#include "Lib/Include/types.h"

struct MxifSwitchingCmd {
  static constexpr int TYPE_INDEX = category::TYPE_SWITCHING_CMD;
  static constexpr int HEAD_BYTES = 7;  // wire bytes before the bus record (the whole body without one)
  static constexpr s16 KIND_BUS = 0;
  static constexpr s16 REPLY_DONE = 0;
  static constexpr s16 REPLY_REFUSED = -3;

  u8 command1 = 0;  // echoed
  u8 command2 = 0;  // echoed
  s16 kind = 0;     // 0: a bus command; any other kind is refused
  s16 reply = 0;    // written by the back end: 0 done, -3 refused
  u8 noRecord = 0;  // non-zero: no bus record follows (refused)
  MxifBus bus;      // on the wire only when noRecord is 0

  bool hasBus() const { return noRecord == 0; }

  // The wire form with the bus record (203 bytes); without it the body ends after noRecord.
  template <class V, class R>
  static constexpr void fields(V& v, R& r) {
    v.field("command1", r.command1);
    v.field("command2", r.command2);
    v.field("kind", r.kind);
    codec::tag(v, codec::REPLY);
    v.field("reply", r.reply);
    v.field("noRecord", r.noRecord);
    v.sub("bus", r.bus);
  }
  // Another kind, a command without its bus record or one for an ME that has none is answered
  // refused; the bus record is taken as a MxifBus record of its ME.
  template <class L, class R>
  static constexpr void limits(L& l, R& r) {
    l.take(r.kind, KIND_BUS, KIND_BUS);
    l.take(r.noRecord, 0, 0);
    l.take(r.bus.me, 0, category::N_ME - 1);
    MxifBus::takeFields<true>(l, r.bus);
  }
};
static_assert(offsetof(MxifSwitchingCmd, noRecord) == 6 && offsetof(MxifSwitchingCmd, bus) == 8);
static_assert(sizeof(MxifSwitchingCmd) == 212);
static_assert(codec::wireSize<MxifSwitchingCmd>() == 203);
