// Up-stream keys: the range checks of the key record, the source maps of the assignment, and the
// categories of types 7 and 8.
#include "Main/key/usk.h"

#include <algorithm>
#include <cstring>

#include "Driver/core/core.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/text.h"
#include "Main/bkgd/bkgdhelpers.h"
#include "Main/bus/button.h"
#include "Main/key/keysettings.h"

namespace {

using U = MxifUpStreamKey;
using A = MxifUpStreamKeyAssign;

constexpr int ATTACHMENT_MAX = UskAttachment::VALUE_MAX;

}  // namespace

namespace libmx {
namespace {

constexpr int SOURCE_BLACK = 223;
constexpr int COLOR_BARS = 4496;  // crosspoint source id of the colour bars

template <int C>
bool isText(const codec::FieldView& f, const TextField<C>& t) {
  return f.is(t.count) || f.is(t.chars);
}

// A taken text ends after the characters that were checked, whatever byte the sender put behind
// them, so the copy rule cannot carry unchecked bytes into the record.
template <int C>
void endAfterCount(TextField<C>& t) {
  if (0 <= t.count && t.count <= C) std::memset(t.chars + t.count, 0, static_cast<size_t>(C + 1 - t.count));
}

}  // namespace

bool isUpStreamKeyFieldValid(const codec::FieldView& f, const U& r) {
  if (const int k = limits::check(r, f); k >= 0) return k == 1;
  if (isText(f, r.texts.name1)) return isValidEscapedText(r.texts.name1);
  if (isText(f, r.texts.name2)) return isValidEscapedText(r.texts.name2);
  return f.is(r.channel);
}

void acceptUpStreamKeyFields(const U& in, const U& live, U& out) {
  out = U{};
  codec::merge(out, in, [&](const codec::FieldView& f) { return isUpStreamKeyFieldValid(f, in); });
  const u32 refusedTexts = in.texts.mask & ~out.texts.mask;
  if ((refusedTexts & 1u) != 0) noteRefusedText(in, in.texts.name1);
  if ((refusedTexts & 2u) != 0) noteRefusedText(in, in.texts.name2);
  if ((out.mask & 1u << U::W0_MASK_BOX) != 0 && clampEdges(0, live.maskBox, out.maskBox) != 0) {
    noteEdgeMoves(EDGES_IN_ORDER, in, in.maskBox, 0, out.maskBox, [] {});
  }
  endAfterCount(out.texts.name1);
  endAfterCount(out.texts.name2);
}

int uskSlotSourceId(int source) {
  if (source < A::SLOT_SOURCE_FIRST || source > A::SLOT_SOURCE_LAST) return 0;
  // The bus's map, which gives black for every source it does not know: only 223 is black itself,
  // and only the inputs, players and generators (not the ME outputs) feed an up-stream key.
  const int id = category::CategoryBus::busSourceToHardware(source);
  if (id == MX_BLACK) return source == SOURCE_BLACK ? id : 0;
  return MX_IN_1 <= id && id < MX_BLACK ? id : 0;
}

int uskEntrySourceId(int entry) {
  if (0 <= entry && entry <= MX_IN_32 - MX_IN_1) return MX_IN_1 + entry;
  if (entry == 128 || entry == 129) return MX_DVI_IN_1 + (entry - 128);
  if (130 <= entry && entry <= 145) return MX_STILL_1 + (entry - 130);
  if (entry == 146 || entry == 147) return MX_CBGD_1 + (entry - 146);
  if (entry == 148) return COLOR_BARS;
  if (entry == 149) return MX_BLACK;
  return 0;
}

}  // namespace libmx

namespace category {

// ---- Up-stream keys ------------------------------------------------------------------------------

CategoryUpStreamKey& CategoryUpStreamKey::instance() {
  static CategoryUpStreamKey object;
  return object;
}

void CategoryUpStreamKey::initData() {
  for (int ch = 0; ch < N_USK; ++ch) {
    record(ch) = U{};
    record(ch).channel = static_cast<u16>(ch);
  }
}

void CategoryUpStreamKey::resume(const void* saved, int flag) {
  CategoryCommon<U>::resume(saved, flag);
  for (int ch = 0; ch < N_USK; ++ch) {
    U& r = record(ch);
    copyText(r.texts.name1, r.texts.name1);
    copyText(r.texts.name2, r.texts.name2);
    r.channel = static_cast<u16>(ch);
  }
}

bool CategoryUpStreamKey::acceptField(const codec::FieldView& f, const U& in, int idx) {
  (void)idx;
  return libmx::isUpStreamKeyFieldValid(f, in);
}

void CategoryUpStreamKey::receive(RequestReceiver& rx) {
  U in;
  if (!readBody(rx, in)) return;
  rx.clearHeader();
  if (in.channel >= N_USK) return;
  assign(in, in.channel);
}

void CategoryUpStreamKey::assign(const U& in, int ch) {
  U& live = record(ch);
  U out;
  libmx::acceptUpStreamKeyFields(in, live, out);
  libmx::mergeTextRecord(live, out);
  live.channel = static_cast<u16>(ch);
  dirty[ch] = 1;
}

void CategoryUpStreamKey::update() {
  for (int k = 0; k < N_USK; ++k) {
    U& r = record(k);
    libmx::setKeyMatteColor(MX_COLOR_USK1_MATTE + k, r.matteColor);
    libmx::writeKeyParams(libmx::keyerFields(r, k), MX_USK1_S + 2 * k);
  }
}

// ---- Up-stream key assignment ----------------------------------------------------------------------

CategoryUpStreamKeyAssign& CategoryUpStreamKeyAssign::instance() {
  static CategoryUpStreamKeyAssign object;
  return object;
}

CategoryUpStreamKeyAssign::CategoryUpStreamKeyAssign() {
  CategoryButtonEvent::setHook(ButtonReceiver::USK_ASSIGN,
                               [](CategoryInterface& target, const internal::MxifButtonEvent& ev) {
                                 if (auto* a = dynamic_cast<CategoryUpStreamKeyAssign*>(&target)) a->onButton(ev);
                               });
}

bool CategoryUpStreamKeyAssign::acceptField(const codec::FieldView& f, const A& in, int idx) {
  (void)idx;
  return limits::check(in, f) == 1;
}

void CategoryUpStreamKeyAssign::assign(const A& in, int ch) {
  A taken{};
  codec::merge(taken, in, [&](const codec::FieldView& f) { return acceptField(f, in, ch); });
  codec::merge(record(ch), taken);
  dirty[ch] = 1;
  // The bus follows; its change calls setAssignment back, which finds the slot equal and stops.
  auto* bus = CategoryRegistry::instance().find<CategoryBus>(TYPE_BUS, 0);
  if (bus == nullptr) return;
  for (int s = 0; s < A::N_SLOTS; ++s) {
    if ((taken.sourceMask >> s & 1u) != 0) bus->assignSource(taken.source[s], s);
  }
}

void CategoryUpStreamKeyAssign::update() {
  const A& r = record(0);
  const CategoryRegistry& reg = CategoryRegistry::instance();
  for (int t = 0; t < A::N_SLOTS; ++t) {
    int source = r.source[t];
    if (t % 2 == 1) {
      // A key slot routes its own source only for a key whose key signal comes from it.
      const U* key = reg.record<U>(0, t / 2);
      if (key == nullptr || key->style.keyType == 0 || key->style.keySource == 0) source = r.source[t - 1];
    }
    const int id = libmx::uskSlotSourceId(source);
    if (id != 0) mxSetUskSource(MX_USK1_F + t, id);
  }
  for (int e = 0; e < A::N_ENTRIES; ++e) {
    const int id = libmx::uskEntrySourceId(e);
    if (id == 0) continue;
    const int v = r.entries[e].value;
    const int key = 1 <= v && v <= ATTACHMENT_MAX ? (v - 1) % A::N_KEYS : 0;
    mxSetInputKeyAssign(id, isKeyAssigned(v), MX_USK1_S + 2 * key);
  }
}

void CategoryUpStreamKeyAssign::setAssignment(int source, int slot) {
  MX_CHECK(0 <= slot && slot < A::N_SLOTS);
  if (record(0).source[slot] == source) return;
  rules::note(A::FOLLOWS_BUS, record(0), record(0).source[slot]);
  if (const MxifBus* bus = CategoryRegistry::instance().record<MxifBus>(0)) rules::input(*bus, bus->entries[CategoryBus::USK_ENTRY + slot], 0, 0);
  A change{};
  // A source beyond a byte would wrap to another one: it goes as 0, which assign refuses.
  change.source[slot] = static_cast<u8>(0 <= source && source <= 0xFF ? source : 0);
  change.sourceMask = 1u << slot;
  assign(change, 0);
}

void CategoryUpStreamKeyAssign::onButton(const internal::MxifButtonEvent& ev) {
  const int k = ev.getCode() - internal::MxifButtonEvent::BTN_USK_ON;
  if (!ev.isPressed() || k < 0 || k >= A::N_KEYS) return;
  A change{};
  change.onOff[k] = record(0).onOff[k] == 1 ? 0 : 1;
  change.onOffMask = 1u << k;
  assign(change, 0);
}

int CategoryUpStreamKeyAssign::isKeyAssigned(int value) {
  if (1 <= value && value <= A::N_KEYS) return record(0).onOff[value - 1] == 1 ? 1 : 0;
  return A::N_KEYS < value && value <= ATTACHMENT_MAX ? 1 : 0;
}

}  // namespace category
