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
using rules::within;

constexpr int SCALE_FULL = 10000;  // a DVE scale of 0 stands for it
constexpr int SCALE_MIN = 5000;
constexpr int N_FIRST_DVE_KEYS = 2;  // keys 1 and 2 have a DVE: their size may reach 40000
constexpr s32 SIZE_MAX_DVE = 40000, SIZE_MAX_PLAIN = 10000;

bool effectValid(const u8 (&pair)[2], int channel) {
  // Keys 3 and 4 take only effects of kind 0.
  if (channel >= N_FIRST_DVE_KEYS && !within(pair[1], 0, 0)) return false;
  return checkPattern(pair[0], pair[1], MX_KEY1 + 2 * channel);
}

constexpr auto SCALE_TOGETHER_TEXT =
    rules::compose("dveScale.first and dveScale.second sent together are taken together, only when each lies in ", SCALE_MIN,
                   "..", SCALE_FULL, " (0 stands for ", SCALE_FULL, ")");
constexpr rules::Rule SCALE_TOGETHER = {rules::Effect::REFUSES, SCALE_TOGETHER_TEXT.chars};
constexpr auto SCALE_ZERO_TEXT = rules::compose("a dveScale value of 0 stands for ", SCALE_FULL, ", the full size");
constexpr rules::Rule SCALE_ZERO = {rules::Effect::SAME, SCALE_ZERO_TEXT.chars};
constexpr rules::Rule BORDER_WIDTH = {rules::Effect::REFUSES, "a border keeps a width: a dveBorder.width of 0 is not taken"};
constexpr rules::Rule WITH_TRIPLE = {rules::Effect::REFUSES,
                                     "dveValue2 and dveValue3 are taken only with dveTriple2, sent in the same request"};
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
// only when each lies in 5000..10000.
void takeScale(const K& request, K::Pair& out) {
  const K::Pair& in = request.dveScale;
  if ((in.mask & 3u) == 0) return;
  const bool okX = !has(in.mask, 0) || rules::withinAny(in.first, {{0, 0}, {SCALE_MIN, SCALE_FULL}});
  const bool okY = !has(in.mask, 1) || rules::withinAny(in.second, {{0, 0}, {SCALE_MIN, SCALE_FULL}});
  if (!okX || !okY) {
    // Sent together, the one in range is refused for the other.
    if ((in.mask & 3u) == 3u && okX != okY) {
      rules::note(SCALE_TOGETHER, request, okX ? in.first : in.second);
      rules::sent(request, okX ? in.second : in.first);
    }
    return;
  }
  if (has(in.mask, 0)) out.first = static_cast<s16>(in.first == 0 ? SCALE_FULL : in.first);
  if (has(in.mask, 1)) out.second = static_cast<s16>(in.second == 0 ? SCALE_FULL : in.second);
  out.mask |= in.mask & 3u;
  if (has(in.mask, 0) && in.first == 0) rules::note(SCALE_ZERO, request, in.first);
  if (has(in.mask, 1) && in.second == 0) rules::note(SCALE_ZERO, request, in.second);
}

}  // namespace

s32 keySizeMax(int channel) { return channel < N_FIRST_DVE_KEYS ? SIZE_MAX_DVE : SIZE_MAX_PLAIN; }

s32 fitKeySize(s32 size, int channel) { return std::clamp(size, 0, keySizeMax(channel)); }

void checkKeyRanges(const K& in, int channel, K& out) {
  const K& r = in;
  const rules::Checking checking(in);
  out = K{};
  const rules::Limit scalars[] = {
      {r.softOn, 0, 1},
      {r.softness, 0, 1000},
      {r.dveTransOn, 0, 1},
      {r.dveShapeOn, 0, 1},
      {r.dveShapeType, 0, 4},
      {r.dveBorder.on, 0, 1},
      {r.dveBorder.width, 0, 1000},  // a request needs 1..1000
      {r.dveBorder.softness, 0, 1000},
      {r.dveBorderScale, 0, 1},
      {r.dveSize, 0, keySizeMax(channel)},
      {r.dveValue1, 0, 10000},
      {r.dveShape.mode, 0, 2},
      {r.dveShape.cropMode, 0, 1},
      {r.dvePerspective, -5000, 5000},
      {r.follower, 0, 4},
      {r.mirrorMode, 0, 3},
      {r.effectSize, 0, 40000},
      {r.dvePair.first, -999, 999},
      {r.dvePair.second, -999, 999},
      {r.transIn.on, 0, 1},
      {r.transIn.mode, 0, 1},
      {r.transIn.value, 0, 999},
      {r.transOut.on, 0, 1},
      {r.transOut.mode, 0, 1},
      {r.transOut.value, 0, 999},
      {r.inOutLink, 0, 1},
      {r.reverse, 0, 1},
      {r.effectBoth, 0, 1},
      {r.travelOn, 0, 2},
      {r.travel34Both, 0, 1},
      {r.travel12Both, 0, 1},
      {r.spinBoth, 0, 1},
      {r.priority, 0, 3},
      {r.group, 0, 1},
      {r.keySetting, 0, 32},
      {r.onAir, 0, 1},
      {r.statusFlag, 0, 1},
      {r.stopping, 0, 1},
      {r.inTransition, 0, 1},
  };
  // Array fields taken only whole, every element in one range.
  struct Group {
    const s16* field;
    int count, lo, hi;
  };
  const Group groups[] = {
      {r.maskBox, 4, EDGE_MIN, EDGE_MAX},  // clamped against the live edges by a request
      {r.dvePosition, 3, -10000, 10000},
      {r.dveTriple1, 3, -5000, 5000},
      {r.dveRotation, 3, -28800, 28800},
      {r.dveTriple2, 3, -5000, 5000},
      {r.dveCrop, 4, EDGE_MIN, EDGE_MAX},
      {r.effectParams, 3, -10000, 10000},
      {r.dveAngles, 3, -720, 720},
      {r.dveTriple3, 3, -5000, 5000},
      {r.travel34, 2, -10000, 10000},
      {r.travel34Rev, 2, -10000, 10000},
      {r.travel12, 2, -10000, 10000},
      {r.travel12Rev, 2, -10000, 10000},
      {r.transTriple1, 3, -40, 40},
      {r.spin, 3, -40, 40},
      {r.spinRev, 3, -40, 40},
      {r.transTriple2, 3, -500, 500},
  };
  // Each element out of range is noted.
  auto groupValid = [](const s16* field, int count, int lo, int hi) {
    bool all = true;
    for (int i = 0; i < count; ++i) all = within(field[i], lo, hi) && all;
    return all;
  };

  codec::merge(out, in, [&](const codec::FieldView& f) {
    if (const int keyer = keyerFieldInRange(f, r, 3, 2); keyer >= 0) return keyer == 1;
    // Flag arrays with a bit per flag: the merge offers them element by element.
    if (f.is(r.flags.flag)) return within(r.flags.flag[f.index], 0, 1);
    if (f.is(r.dveSettings.flag)) return within(r.dveSettings.flag[f.index], 0, f.index == 2 ? 4 : 1);
    if (const int scalar = rules::checkBy(f.field, scalars); scalar >= 0) return scalar == 1;
    // The window: centre x, y -5000..5000, width and height 0..10000.
    if (f.is(r.window)) {
      const bool centre = groupValid(r.window, 2, -5000, 5000);
      return groupValid(r.window + 2, 2, 0, 10000) && centre;
    }
    for (const Group& g : groups) {
      if (f.field == g.field) return groupValid(g.field, g.count, g.lo, g.hi);
    }
    for (const s16* colour : {r.matteColor, r.edgeColor, r.thirdColor, r.dveBorderColor}) {
      if (f.field == colour) return MxifBkgd::isColorValid(colour);
    }
    // 170 and 172 are taken with the triple 164 (below), never by their own bits.
    if (f.is(r.dveValue2) || f.is(r.dveValue3)) {
      if (!has(in.mask, K::W0_DVE_TRIPLE2)) rules::note(WITH_TRIPLE, in, f.is(r.dveValue2) ? in.dveValue2 : in.dveValue3);
      return false;
    }
    if (f.is(r.effectA)) return effectValid(r.effectA, channel);
    if (f.is(r.effectB)) return effectValid(r.effectB, channel);
    // Taken without checks: the transition settings and the names (by their copy rule).
    return f.is(r.transSettings.setting1) || f.is(r.transSettings.setting2) || f.is(r.transSettings.setting3) ||
           f.is(r.transSettings.setting4) || f.is(r.names.name1.count) || f.is(r.names.name1.chars) ||
           f.is(r.names.name2.count) || f.is(r.names.name2.chars);
  });
  // Groups with merges of their own (the scale, and those the background record shares).
  takeScale(in, out.dveScale);
  // With the triple 164 present, 170 and 172 are taken too when in range, each with its own bit.
  if (has(in.mask, K::W0_DVE_TRIPLE2)) {
    if (within(in.dveValue2, -100, 100)) out.dveValue2 = in.dveValue2, out.mask |= bit(K::W0_DVE_VALUE2);
    if (within(in.dveValue3, 0, 65)) out.dveValue3 = in.dveValue3, out.mask |= bit(K::W0_DVE_VALUE3);
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
    rules::note(BORDER_WIDTH, in, in.dveBorder.width);
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
