#include "Main/bus/button.h"

#include "Main/system/system.h"
#include "Lib/Include/log.h"

namespace category {
namespace {

using Event = internal::MxifButtonEvent;
using R = ButtonReceiver;

constexpr int N_RECEIVERS = static_cast<int>(R::COUNT);

// Type index of each receiver, in enumerator order.
constexpr int RECEIVER_TYPES[N_RECEIVERS] = {TYPE_BUS,        TYPE_BKGD,        TYPE_SYSTEM,
                                              TYPE_IMAGE,      TYPE_CLIP_STATUS, TYPE_FADER_EVENT,
                                              TYPE_KEY_PRESET, TYPE_MACRO,       TYPE_UP_STREAM_KEY_ASSIGN};

ButtonHook hooks[N_RECEIVERS] = {};

struct CodeRange {
  u16 first, last;
};

// One row of the dispatch: up to three code ranges and up to three receivers, served in order.
struct DispatchRow {
  CodeRange ranges[3];
  int nRanges;
  R receivers[3];
  int nReceivers;

  bool matches(int code) const {
    for (int i = 0; i < nRanges; ++i) {
      if (ranges[i].first <= code && code <= ranges[i].last) return true;
    }
    return false;
  }
};

// Rows are tried in this order; a code in several rows reaches each of them.
constexpr DispatchRow ME_ROWS[] = {
    {{{Event::BTN_XPT_FIRST, Event::BTN_XPT_LAST}}, 1, {R::BUS}, 1},
    {{{Event::BTN_IMAGE_FIRST, Event::BTN_IMAGE_LAST}}, 1, {R::IMAGE}, 1},
    {{{1600, 1839}, {2100, 2139}}, 2, {R::BKGD, R::CLIP_STATUS, R::FADER_EVENT}, 3},
    {{{1700, 1707}, {1800, 1807}, {2100, 2103}}, 3, {R::KEY_PRESET}, 1},
    {{{Event::BTN_TR_MACRO_ATTCH, Event::BTN_TR_MACRO_ATTCH}}, 1, {R::MACRO}, 1},
    {{{3100, 3101}}, 1, {R::FADER_EVENT}, 1},
    {{{2050, 2053}}, 1, {R::USK_ASSIGN}, 1},
};

}  // namespace

// ---- ButtonLatch ----------------------------------------------------------------------------------

void ButtonLatch::onEvent(const internal::MxifButtonEvent& ev) {
  if (static_cast<u32>(ev.getCode()) != code || !limits::takes(ev, ev.panel)) return;
  if (ev.state == Event::PRESSED) {
    held[ev.panel] = 1;
    latched[ev.panel] = 1;
  } else if (ev.state == Event::RELEASED) {
    held[ev.panel] = 0;
  }
}

void ButtonLatch::clear() {
  for (auto& l : latched) l = 0;
}

// ---- CategoryButtonEvent ---------------------------------------------------------------------------

CategoryButtonEvent& CategoryButtonEvent::instance() {
  static CategoryButtonEvent cat;
  return cat;
}

CategoryButtonEvent::CategoryButtonEvent() {
  for (auto& s : slots_) s = Event{};
}

void CategoryButtonEvent::setHook(ButtonReceiver receiver, ButtonHook hook) {
  int i = static_cast<int>(receiver);
  MX_CHECK(0 <= i && i < N_RECEIVERS);
  hooks[i] = hook;
}

ButtonHook CategoryButtonEvent::hook(ButtonReceiver receiver) {
  int i = static_cast<int>(receiver);
  MX_CHECK(0 <= i && i < N_RECEIVERS);
  return hooks[i];
}

int CategoryButtonEvent::receiverType(ButtonReceiver receiver) {
  int i = static_cast<int>(receiver);
  MX_CHECK(0 <= i && i < N_RECEIVERS);
  return RECEIVER_TYPES[i];
}

void CategoryButtonEvent::initInternal() {
  write_ = 0;
  read_ = 0;
}

void CategoryButtonEvent::update() { dispatchNow_ = isSwitchingGateOpen() ? 1 : 0; }

void CategoryButtonEvent::receiveCommand(int type, RequestReceiver& rx) {
  (void)type;
  Event ev{};
  if (!rx.readRecord(ev)) return;
  if (dispatchNow_ != 0) {
    dispatch(ev);
    return;
  }
  if (full()) {
    MX_LOG(libmx::ERR, "button event buffer full");
    drain();
  }
  push(ev);
}

void CategoryButtonEvent::processEvents() {
  if (dispatchNow_ != 0) drain();
}

void CategoryButtonEvent::drain() {
  while (!empty()) dispatch(pop());
}

void CategoryButtonEvent::push(const Event& ev) {
  MX_CHECK(full() == false);
  slots_[write_] = ev;
  write_ = (write_ + 1) % N_SLOTS;
}

internal::MxifButtonEvent CategoryButtonEvent::pop() {
  MX_CHECK(empty() == false);
  Event ev = slots_[read_];
  read_ = (read_ + 1) % N_SLOTS;
  return ev;
}

void CategoryButtonEvent::deliver(ButtonReceiver receiver, int me, const Event& ev) {
  ButtonHook h = hooks[static_cast<int>(receiver)];
  if (h == nullptr) return;
  CategoryInterface* target = CategoryRegistry::instance().get(receiverType(receiver), me);
  if (target != nullptr) h(*target, ev);
}

void CategoryButtonEvent::dispatch(const Event& ev) {
  const int code = ev.getCode();
  const int me = ev.getMe();
  if (code == Event::BTN_ALL_RELEASED) {
    for (int m = 0; m < N_ME; ++m) {
      deliver(R::BUS, m, ev);
      deliver(R::BKGD, m, ev);
    }
  } else if (code == Event::BTN_PANEL_OPTION1 || code == Event::BTN_PANEL_OPTION2) {
    deliver(R::SYSTEM, 0, ev);
  }
  if (!limits::takes(ev, ev.me)) return;
  for (const auto& row : ME_ROWS) {
    if (!row.matches(code)) continue;
    for (int i = 0; i < row.nReceivers; ++i) deliver(row.receivers[i], me, ev);
  }
}

}  // namespace category
