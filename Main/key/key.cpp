// Key channels: the range checks and merge rules of the key record, and the category of type 0.
#include "Main/key/key.h"

#include <algorithm>
#include <cstring>

#include "Driver/core/core.h"
#include "Lib/Include/text.h"
#include "Main/bkgd/bkgdhelpers.h"
#include "Main/fader/faderevent.h"

namespace libmx {
namespace {

using K = MxifKey;

constexpr u32 bit(int b) { return 1u << b; }
bool has(u32 word, int b) { return (word >> b) & 1u; }

constexpr auto SCALE_TOGETHER_TEXT =
    rules::compose("dveScale.first and dveScale.second sent together are taken together, only when each lies in ",
                   K::SCALE_MIN, "..", K::SCALE_FULL, " (0 stands for ", K::SCALE_FULL, ")");
constexpr rules::Rule SCALE_TOGETHER = {rules::Effect::REFUSES, SCALE_TOGETHER_TEXT.chars};
constexpr rules::Rule CROP_IN_ORDER = {
    rules::Effect::MOVES, "the edge rule with the crop mode that the channel held before this request "
                          "(dveShape.cropMode=0; one sent with the edges applies from the next request): a changed edge "
                          "pushes its opposite (left, top, bottom, right), so right stays at least left and top at least "
                          "bottom"};
constexpr rules::Rule CROP_SYMMETRIC = {
    rules::Effect::MOVES, "the edge rule with the crop mode that the channel held before this request "
                          "(dveShape.cropMode=1; one sent with the edges applies from the next request): the edges (left, "
                          "top, bottom, right) are symmetric, a changed edge sets its opposite to minus it, and left and "
                          "bottom stay at most 0, top and right at least 0"};

// Sub-record 156: a present value of 0 counts as 10000; the present values are taken together and
// only when each lies in its declared values.
void takeScale(const K& request, K::Pair& out) {
  const K::Pair& in = request.dveScale;
  if ((in.mask & 3u) == 0) return;
  const bool okX = !has(in.mask, 0) || limits::takes(request, in.first);
  const bool okY = !has(in.mask, 1) || limits::takes(request, in.second);
  if (!okX || !okY) {
    // Sent together, the one in range is refused for the other.
    if ((in.mask & 3u) == 3u && okX != okY) {
      rules::note(SCALE_TOGETHER, request, okX ? in.first : in.second);
      rules::sent(request, okX ? in.second : in.first);
    }
    return;
  }
  if (has(in.mask, 0)) out.first = in.first == 0 ? K::SCALE_FULL : in.first;
  if (has(in.mask, 1)) out.second = in.second == 0 ? K::SCALE_FULL : in.second;
  out.mask |= in.mask & 3u;
  if (has(in.mask, 0) && in.first == 0) rules::note(K::SCALE_ZERO, request, in.first);
  if (has(in.mask, 1) && in.second == 0) rules::note(K::SCALE_ZERO, request, in.second);
}

}  // namespace

s32 fitKeySize(s32 size, int channel) { return std::clamp(size, 0, K::sizeMax(channel)); }

void checkKeyRanges(const K& in, int channel, K& out) {
  const K& r = in;
  const rules::Checking checking(in);
  out = K{};
  codec::merge(out, in, [&](const codec::FieldView& f) {
    // 170 and 172 are taken with the triple 164 (below), never by their own bits.
    if (f.is(r.dveValue2) || f.is(r.dveValue3)) {
      if (!has(in.mask, K::W0_DVE_TRIPLE2)) rules::note(K::WITH_TRIPLE, in, f.is(r.dveValue2) ? in.dveValue2 : in.dveValue3);
      return false;
    }
    // Merged below: the scale, and the groups the background record shares.
    if (f.in(r.dveScale) || f.in(r.shift) || f.in(r.modulationX) || f.in(r.modulationY) || f.in(r.pageTurn)) return false;
    if (const int k = limits::check(in, f, {0, channel}); k >= 0) return k == 1;
    // Taken without checks: the transition settings and the names (by their copy rule).
    return f.in(r.transSettings) || f.in(r.names);
  });
  takeScale(in, out.dveScale);
  // With the triple 164 present, 170 and 172 are taken too when in range, each with its own bit.
  if (has(in.mask, K::W0_DVE_TRIPLE2)) {
    if (limits::takes(in, in.dveValue2)) out.dveValue2 = in.dveValue2, out.mask |= bit(K::W0_DVE_VALUE2);
    if (limits::takes(in, in.dveValue3)) out.dveValue3 = in.dveValue3, out.mask |= bit(K::W0_DVE_VALUE3);
  }
  MxifBkgd::mergeSelectors(out.shift, in.shift);
  MxifBkgd::mergeLevels10000(out.modulationX, in.modulationX);
  MxifBkgd::mergeLevels10000(out.modulationY, in.modulationY);
  MxifBkgd::mergeFlagLevelsAngle(out.pageTurn, in.pageTurn);
}

void acceptKeyFields(const K& in, const K& live, int channel, K& out) {
  checkKeyRanges(in, channel, out);
  // Status bytes the system keeps are never taken from a request; a border needs a width.
  out.mask &= ~bit(K::W0_REVERSE);
  out.mask1 &= ~bit(K::W1_IN_TRANSITION);
  if (out.dveBorder.width == 0 && has(out.dveBorder.mask, 1)) {
    out.dveBorder.mask &= ~bit(1);
    rules::note(K::BORDER_WIDTH, in, in.dveBorder.width);
  }
  if (has(out.mask, K::W0_MASK_BOX) && clampEdges(0, live.maskBox, out.maskBox) != 0) {
    noteEdgeMoves(EDGES_IN_ORDER, in, in.maskBox, 0, out.maskBox, [] {});
  }
  // The crop edges go by the crop mode that the channel held before this request.
  const int cropMode = live.dveShape.cropMode;
  if (has(out.mask, K::W0_DVE_CROP) && clampEdges(cropMode, live.dveCrop, out.dveCrop) != 0) {
    noteEdgeMoves(cropMode == 1 ? CROP_SYMMETRIC : CROP_IN_ORDER, in, in.dveCrop, cropMode, out.dveCrop,
                  [&] { rules::input(live, live.dveShape.cropMode); });
  }
  linkPairKey(in, live, out);
  linkInOut(in, live, out);
}

K keyImageFields(const K& saved, int channel) {
  return codec::checkedImage(saved, [channel](const K& in, K& out) { checkKeyRanges(in, channel, out); });
}

}  // namespace libmx

namespace category {

namespace {

using K = MxifKey;

constexpr u32 GEOMETRY_BITS = 1u << K::W0_DVE_POSITION | 1u << K::W0_DVE_SIZE | 1u << K::W0_DVE_ROTATION |
                              1u << K::W0_FOLLOWER | 1u << K::W0_MIRROR_MODE;
constexpr u32 KEY_SETTING_BITS = 0x7Fu;  // word 0 bits 0..6: colours, mask box, window, softness

CategoryKey::KeyChangedHook keyChangedHook = nullptr;

bool carriesKeySettings(const K& in) {
  return in.style.mask != 0 || in.adjust.mask != 0 || in.edge.mask != 0 || in.maskSet.mask != 0 ||
         (in.mask & KEY_SETTING_BITS) != 0;
}

}  // namespace

void CategoryKey::setKeyChangedHook(KeyChangedHook hook) { keyChangedHook = hook; }

CategoryKey* CategoryKey::instance() {
  static CategoryKey objects[N_ME];
  return objects;
}

int CategoryKey::checkedKey(int k) {
  MX_CHECK(0 <= k && k < N_KEYS);
  return k;
}

void CategoryKey::resetKeyAutoTransitions(CategoryFaderEvent& faders) {
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_KEYS; ++k) faders.fader(AutoTransition::keySlot(m, k)).ownerFader = TransitionFader::NO_OWNER;
  }
  for (int c = 0; c < AutoTransition::N_DSK_CHANNELS; ++c) {
    faders.fader(AutoTransition::dskSlot(c)).ownerFader = TransitionFader::NO_OWNER;
  }
}

CategoryKey::ParamView& CategoryKey::paramView(int k) { return views_[checkedKey(k)]; }
KeyDveSetting& CategoryKey::keyDve(int k) { return keyDve_[checkedKey(k)]; }
KeyTransition& CategoryKey::keyTransition(int k) { return transitions_[checkedKey(k)]; }
u8 CategoryKey::geometryChanged(int k) const { return geometryChanged_[checkedKey(k)]; }
void CategoryKey::clearGeometryChanged(int k) { geometryChanged_[checkedKey(k)] = 0; }
s32 CategoryKey::onAirRequest(int k) const { return onAirRequest_[checkedKey(k)]; }

void CategoryKey::initData() {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    K& r = record(ch);
    r = K{};
    r.me = static_cast<u8>(me);
    r.channel = static_cast<u16>(ch);
  }
}

void CategoryKey::initInternal() {
  for (int k = 0; k < N_KEYS; ++k) {
    dirty[k] = 0;
    views_[k] = ParamView{};
    views_[k].record = &record(k);
    geometryChanged_[k] = 0;
    onAirRequest_[k] = -1;
  }
}

void CategoryKey::resume(const void* saved, int flag) {
  (void)flag;
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    K image;
    std::memcpy(static_cast<void*>(&image), static_cast<const u8*>(saved) + sizeof(K) * ch, sizeof image);
    K& live = record(ch);
    live = K{};
    const K taken = libmx::keyImageFields(image, ch);
    refuseSaved(codec::refusedFields(taken, taken, live));
    libmx::mergeTextRecord(live, taken);
    codec::setAllPresence(live);
    live.channel = static_cast<u16>(ch);
    live.me = static_cast<u8>(me);
  }
}

void CategoryKey::receive(RequestReceiver& rx) {
  K in{};
  if (!libmx::readTextRecord(rx, in)) {
    rx.reportShort();
    return;
  }
  rx.clearHeader();
  if (in.me >= N_ME || in.channel >= N_CHANNELS) return;
  auto* target = static_cast<CategoryKey*>(CategoryRegistry::instance().get(TYPE_INDEX, in.me));
  target->assign(in, in.channel);
}

void CategoryKey::assign(const K& in, int ch) {
  K& live = record(ch);
  if (carriesKeySettings(in) && keyChangedHook != nullptr) keyChangedHook(me, ch);
  K out;
  libmx::acceptKeyFields(in, live, ch, out);
  if (out.mask1 & 1u << K::W1_PRIORITY) {
    rerank(ch, out.priority);
    out.mask1 &= ~(1u << K::W1_PRIORITY);
  }
  // The on-air byte is merged and kept as a request too: the fader pass sets the byte back to the
  // transition's state before the update compares the two.
  if (out.mask1 & 1u << K::W1_ON_AIR) onAirRequest_[ch] = out.onAir;
  if (out.mask & GEOMETRY_BITS) geometryChanged_[ch] = 1;
  mergeChannel(out, ch);
}

void CategoryKey::assignUnchecked(const K& in, int ch) { mergeChannel(in, ch); }

void CategoryKey::mergeChannel(const K& in, int ch) {
  K& live = record(ch);
  libmx::mergeTextRecord(live, in);
  // The index bytes name this instance and channel, whatever a record built elsewhere carried.
  live.me = static_cast<u8>(me);
  live.channel = static_cast<u16>(ch);
  dirty[ch] = 1;
}

void CategoryKey::rerank(int ch, int newRank) {
  const int oldRank = record(ch).priority;
  for (int k = 0; k < N_KEYS; ++k) {
    K& r = record(k);
    r.priority = static_cast<u8>(libmx::stepToward(newRank, oldRank, r.priority, k, ch));
    r.mask1 |= 1u << K::W1_PRIORITY;
  }
}

bool CategoryKey::sendKeyChannel(AcknowledgeSender& tx, int ch) {
  K& r = record(ch);
  if (dirty[ch] == 0 && !codec::hasAny(r)) return true;
  if (tx.pending() > SEND_PENDING_LIMIT) return false;
  r.me = static_cast<u8>(me);
  if (!writeTextPacket(tx, TYPE_INDEX, r)) reportSendBufferFull();
  dirty[ch] = 0;
  codec::clearPresence(r);
  return true;
}

void CategoryKey::sendStatus(AcknowledgeSender& tx) {
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    if (!sendKeyChannel(tx, ch)) break;
  }
}

void CategoryKey::send(AcknowledgeSender& tx, int part) { sendKeyChannel(tx, part); }

}  // namespace category
