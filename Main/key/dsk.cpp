// Downstream keys: the range checks of the record and the category of type 5.
#include "Main/key/dsk.h"

#include <cstring>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Lib/Include/text.h"
#include "Main/bkgd/bkgdhelpers.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/key/key.h"
#include "Main/key/keysettings.h"
#include "Main/panel/operate.h"

namespace libmx {
namespace {

using D = MxifDsk;

constexpr u32 bit(int b) { return 1u << b; }

}  // namespace

void checkDskRanges(const D& in, D& out) {
  const D& r = in;
  const rules::Checking checking(in);
  out = D{};
  codec::merge(out, in, [&](const codec::FieldView& f) {
    if (const int k = limits::check(in, f); k >= 0) return k == 1;
    // The names are taken by their copy rule.
    return f.in(r.names);
  });
}

void acceptDskFields(const D& in, const D& live, D& out) {
  checkDskRanges(in, out);
  // The reverse and in-transition bytes are the system's own: never taken from a request.
  out.mask &= ~(bit(D::W0_REVERSE) | bit(D::W0_IN_TRANSITION));
  if ((out.mask & bit(D::W0_MASK_BOX)) != 0 && clampEdges(0, live.maskBox, out.maskBox) != 0) {
    noteEdgeMoves(EDGES_IN_ORDER, in, in.maskBox, 0, out.maskBox, [] {});
  }
  linkInOut(in, live, out);
}

}  // namespace libmx

namespace category {

namespace {

using D = MxifDsk;

constexpr u32 KEY_SETTING_BITS = 0x7u;  // word 0 bits 0..2: colours and mask box

bool carriesKeySettings(const D& in) {
  return in.style.mask != 0 || in.adjust.mask != 0 || in.edge.mask != 0 || in.maskSet.mask != 0 ||
         (in.mask & KEY_SETTING_BITS) != 0;
}

int checkedChannel(int ch) {
  MX_CHECK(0 <= ch && ch < MxifDsk::N_CHANNELS);
  return ch;
}

}  // namespace

CategoryDsk& CategoryDsk::instance() {
  static CategoryDsk object;
  return object;
}

void CategoryDsk::initData() {
  for (int ch = 0; ch < N_DSK; ++ch) {
    record(ch) = D{};
    record(ch).channel = static_cast<u16>(ch);
  }
}

void CategoryDsk::initInternal() {
  for (int ch = 0; ch < N_DSK; ++ch) {
    dirty[ch] = 0;
    onAirRequest_[ch] = -1;
  }
}

void CategoryDsk::resume(const void* saved, int flag) {
  (void)flag;
  for (int ch = 0; ch < N_DSK; ++ch) {
    D in;
    std::memcpy(static_cast<void*>(&in), static_cast<const u8*>(saved) + sizeof(D) * ch, sizeof(D));
    D& live = record(ch);
    live = D{};
    const D taken = codec::checkedImage(in, libmx::checkDskRanges);
    refuseSaved(codec::refusedFields(taken, taken, live));
    libmx::mergeDsk(live, taken);
    codec::setAllPresence(live);
    live.channel = static_cast<u16>(ch);
  }
  initInternal();
}

void CategoryDsk::receive(RequestReceiver& rx) {
  D in;
  if (!libmx::readTextRecord(rx, in)) {
    rx.reportShort();
    return;
  }
  rx.clearHeader();
  if (in.channel >= N_DSK) return;
  assign(in, in.channel);
}

void CategoryDsk::assign(const D& in, int ch) {
  checkedChannel(ch);
  if (carriesKeySettings(in)) {
    if (KeyMemory* memory = CategoryOperate::registeredKeyMemory()) memory->setDskChanged(in.channel);
  }
  D& live = record(ch);
  D out;
  libmx::acceptDskFields(in, live, out);
  if ((out.mask & 1u << D::W0_PRIORITY) != 0) {
    rerank(ch, out.priority);
    out.mask &= ~(1u << D::W0_PRIORITY);
  }
  // The on-air byte is merged and kept as a request too: the fader pass sets the byte back to the
  // transition's state before the update compares the two.
  if ((out.mask & 1u << D::W0_ON_AIR) != 0) onAirRequest_[ch] = out.onAir;
  libmx::mergeDsk(live, out);
  live.channel = static_cast<u16>(ch);
  dirty[ch] = 1;
}

void CategoryDsk::rerank(int ch, int newRank) {
  const int oldRank = record(ch).priority;
  for (int j = 0; j < N_DSK; ++j) {
    D& r = record(j);
    r.priority = static_cast<u8>(libmx::stepToward(newRank, oldRank, r.priority, j, ch));
    r.mask |= 1u << D::W0_PRIORITY;
  }
}

void CategoryDsk::update() {
  static constexpr rules::Rule SAME_AS_ON_AIR_BYTE = {
      rules::Effect::REFUSES,
      "an onAir equal to the downstream key's on-air byte changes nothing: a downstream key in transition runs on to the end its "
      "reverse byte names, off air for 1 (the on-air byte stays 1 until it ends), on air for 0"};
  u8 rank[N_DSK];
  for (int j = 0; j < N_DSK; ++j) rank[j] = record(j).priority;
  libmx::writeDskPriority(rank);
  auto* bus = CategoryRegistry::instance().find<CategoryBus>(TYPE_BUS, 1);
  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
  for (int j = 0; j < N_DSK; ++j) {
    D& r = record(j);
    const int target = MX_DSK1 + 2 * j;
    if (bus != nullptr) bus->routeDskSources(r.style.keyType, r.style.keySource, j);
    libmx::setKeyMatteColor(MX_COLOR_DSK1_MATTE + j, r.matteColor);
    libmx::setKeyMatteColor(MX_COLOR_DSK1_SECOND + j, r.edgeColor);
    libmx::writeKeyParams(libmx::keyerFields(r, j), target);
    libmx::writeKeyEdgeIfChanged(r.edge, target);

    const AutoTransition& t = faders.transition(AutoTransition::dskSlot(j));
    const u8 reverse = t.flip < 0 ? 1 : 0;
    if (r.reverse != reverse) {
      r.reverse = reverse;
      r.mask |= 1u << D::W0_REVERSE;
    }
    mxKeySetLevel(target, reverse != 0 ? 1.0f - t.positionA : t.positionA);

    const s32 want = onAirRequest_[j];
    onAirRequest_[j] = -1;
    if (!libmx::onAirRequestChanges(r, want, SAME_AS_ON_AIR_BYTE)) continue;
    for (int k = 0; k < N_DSK; ++k) {
      const D& o = record(k);
      if (k == j || (r.group != 0 && o.group != 0 && o.onAir == r.onAir)) {
        faders.transition(AutoTransition::dskSlot(k)).stop();
      }
    }
  }
}

void CategoryDsk::setDskOnAir(int ch, int value) {
  D& r = record(checkedChannel(ch));
  r.onAir = static_cast<u8>(value);
  r.mask |= 1u << D::W0_ON_AIR;
}

void CategoryDsk::setDskTransState3(int ch, int value) {
  D& r = record(checkedChannel(ch));
  r.stopping = static_cast<u8>(value);
  r.mask |= 1u << D::W0_STOPPING;
}

void CategoryDsk::setDskInTransition(int ch, int value) {
  D& r = record(checkedChannel(ch));
  r.inTransition = static_cast<u8>(value);
  r.mask |= 1u << D::W0_IN_TRANSITION;
}

void CategoryDsk::toggleDskTransMode(int ch) {
  D& r = record(checkedChannel(ch));
  auto toggle = [](D::Trans& t) {
    t.on = t.on == 1 ? 0 : 1;
    t.mask |= 1u;
  };
  if (r.inOutLink == 1) {
    toggle(r.transIn);
    toggle(r.transOut);
  } else {
    toggle(r.reverse == 0 ? r.transIn : r.transOut);
  }
  dirty[ch] = 1;
}

s32 CategoryDsk::onAirRequest(int ch) const { return onAirRequest_[checkedChannel(ch)]; }

}  // namespace category
