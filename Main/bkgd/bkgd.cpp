#include "Main/bkgd/bkgd.h"

#include <algorithm>
#include <cstring>

#include "Driver/core/core.h"
#include "Driver/filter/filter.h"
#include "Driver/transition/transition.h"
#include "Lib/Include/color.h"
#include "Lib/Include/log.h"
#include "Main/bkgd/bkgdhelpers.h"
#include "Main/fader/faderevent.h"
#include "Main/io/io.h"
#include "Main/key/imageflags.h"

namespace {

constexpr int LIMIT_SUM = MxifBkgd::LIMIT_SUM;

template <class S>
bool within(const codec::FieldView& f, const S& sub) {
  const u8* p = static_cast<const u8*>(f.field);
  const u8* s = reinterpret_cast<const u8*>(&sub);
  return s <= p && p < s + sizeof(S);
}

}  // namespace

namespace libmx {

bool isBkgdFieldInRange(const codec::FieldView& f, const MxifBkgd& r) {
  // The pattern's number and kind are taken together: a kind out of range refuses both, and the
  // number goes by the kind.
  if (f.is(r.patternNumber) || f.is(r.patternKind)) return limits::takes(r, r.patternKind) && limits::takes(r, r.patternNumber);
  // The free patterns are taken whole, by their own rule.
  if (within(f, r.patFree1) || within(f, r.patFree2)) return true;
  return limits::check(r, f) != 0;
}

int dropBadBkgdFields(MxifBkgd& r) {
  MxifBkgd all = r;
  codec::setAllPresence(all);
  MxifBkgd kept;
  codec::merge(kept, all, [&](const codec::FieldView& f) {
    // A border width never set is 0, which a request cannot set.
    return f.is(all.borderWidth) ? rules::within(all.borderWidth, 0, MxifBkgd::BORDER_WIDTH_LAST) : isBkgdFieldInRange(f, all);
  });
  // The groups with merges of their own take each field through that merge.
  kept.link = {};
  kept.modulationX = kept.modulationY = {};
  kept.modify = {};
  MxifBkgd::mergeSelectors(kept.link, all.link);
  MxifBkgd::mergeLevels10000(kept.modulationX, all.modulationX);
  MxifBkgd::mergeLevels10000(kept.modulationY, all.modulationY);
  MxifBkgd::mergeFlagLevelsAngle(kept.modify, all.modify);
  // Edges are taken as a group: one out of range drops all of them (their bits go, as refused).
  const struct {
    s16 (*edges)[4];
    u32* mask;
    u32 bits;
  } groups[] = {{&kept.edges, &kept.mask, 1u << MxifBkgd::BIT_EDGES},
                {&kept.patFree1.edges, &kept.patFree1.mask, 0xFu << 6},
                {&kept.patFree2.edges, &kept.patFree2.mask, 0xFu << 6}};
  for (const auto& g : groups) {
    if (limits::takes(kept, *g.edges)) continue;
    std::fill(std::begin(*g.edges), std::end(*g.edges), s16{0});
    *g.mask &= ~g.bits;
  }
  const int refused = codec::refusedFields(all, kept, MxifBkgd{});
  r = kept;
  return refused;
}

}  // namespace libmx

namespace category {

using internal::MxifButtonEvent;
using Event = internal::MxifButtonEvent;

namespace {

// Another category's record; all zeros while that category is absent.
template <class R>
const R& recordOf(int me = 0) {
  static const R absent{};
  const R* r = CategoryRegistry::instance().record<R>(me);
  return r != nullptr ? *r : absent;
}

// A 0/1 setting switched over; any other value counts as set.
u8 toggled(u8 v) { return v == 0 ? 1 : 0; }

// Fields that the plain merge of a request leaves out: the ones never taken (the rule noted on
// them), and the groups taken by merges of their own.
bool takenApart(const codec::FieldView& f, const MxifBkgd& in) {
  for (const void* own : {static_cast<const void*>(&in.trans.value), static_cast<const void*>(&in.statusValue1),
                          static_cast<const void*>(&in.statusValue2), static_cast<const void*>(&in.statusFlag)}) {
    if (f.field != own) continue;
    rules::note(MxifBkgd::BACK_END_OWN, MxifBkgd::TYPE_INDEX, &in, own, f.is(in.statusFlag) ? sizeof in.statusFlag : sizeof in.statusValue1);
    return true;
  }
  return f.is(in.edges) || within(f, in.link) || within(f, in.modulationX) || within(f, in.modulationY) ||
         within(f, in.modify) || within(f, in.patFree1) || within(f, in.patFree2);
}

// The lines of the refused mix fields.
void reportBad(const codec::FieldView& f, const MxifBkgd& in) {
  if (f.is(in.type)) {
    MX_LOG(libmx::ERR, "%s(%d)BAD Param. TYPE = %d", __FILE__, __LINE__, in.type);
  } else if (f.is(in.nam)) {
    MX_LOG(libmx::ERR, "%s(%d)BAD Param. NAM = %d", __FILE__, __LINE__, in.nam);
  } else if (f.is(in.namCmix)) {
    MX_LOG(libmx::ERR, "%s(%d)BAD Param. NAM/CMIX = %d", __FILE__, __LINE__, in.namCmix);
  } else if (f.is(in.mixColor)) {
    MX_LOG(libmx::ERR, "%s(%d)BAD Param. Hue = %d, Sat = %d, Lum = %d", __FILE__, __LINE__, in.mixColor[0],
           in.mixColor[1], in.mixColor[2]);
  }
}

void bkgdButtonHook(CategoryInterface& target, const MxifButtonEvent& btn) {
  if (auto* bkgd = dynamic_cast<CategoryBkgd*>(&target)) bkgd->onButton(btn);
}

constexpr u32 bit(int n) { return 1u << n; }
constexpr u32 LIMIT_START = bit(3), LIMIT_END = bit(4);  // trans.mask

}  // namespace

CategoryBkgd* CategoryBkgd::instance() {
  static CategoryBkgd objects[N_ME];
  return objects;
}

CategoryBkgd::CategoryBkgd() {
  CategoryButtonEvent::setHook(ButtonReceiver::BKGD, bkgdButtonHook);
  latches_[0].code = Event::BTN_NEXT_BKGD;
  for (int k = 1; k < N_LATCHES; ++k) latches_[k].code = Event::BTN_NEXT_KEY1 + k - 1;
}

void CategoryBkgd::initInternal() {
  CategoryCommon::initInternal();
  for (ButtonLatch& l : latches_) {
    std::memset(l.held, 0, sizeof l.held);
    std::memset(l.latched, 0, sizeof l.latched);
  }
  std::memset(pending_, 0, sizeof pending_);
  lastType_ = 0;
  nrModeRestore_ = 0;
}

void CategoryBkgd::resume(const void* saved, int flag) {
  (void)flag;
  MxifBkgd image;
  std::memcpy(static_cast<void*>(&image), saved, sizeof image);
  refuseSaved(libmx::dropBadBkgdFields(image));
  record(0).resumeFrom(image);
  setMe(record(0));
}

void CategoryBkgd::validate(const MxifBkgd& in, const MxifBkgd& live, MxifBkgd& s) const {
  const rules::Checking checking(in);
  codec::merge(s, in, [&](const codec::FieldView& f) {
    if (takenApart(f, in)) return false;
    if (libmx::isBkgdFieldInRange(f, in)) return true;
    reportBad(f, in);
    return false;
  });
  // A limit window wider than the run: the limit just taken keeps its value, the other gives way.
  const rules::Rule& LIMITS_GIVE_WAY = MxifBkgd::LIMITS_GIVE_WAY;
  const rules::Rule& NR_TOGGLES = MxifBkgd::NR_TOGGLES;
  if ((s.trans.mask & (LIMIT_START | LIMIT_END)) != 0 && in.trans.limitStart + in.trans.limitEnd > LIMIT_SUM) {
    if ((s.trans.mask & LIMIT_START) != 0) {
      s.trans.limitEnd = static_cast<s16>(LIMIT_SUM - in.trans.limitStart);
      s.trans.mask |= LIMIT_END;
      rules::note(LIMITS_GIVE_WAY, in, in.trans.limitEnd);
      rules::sent(in, in.trans.limitStart);
    } else {
      s.trans.limitStart = static_cast<s16>(LIMIT_SUM - in.trans.limitEnd);
      s.trans.mask |= LIMIT_START;
      rules::note(LIMITS_GIVE_WAY, in, in.trans.limitStart);
      rules::sent(in, in.trans.limitEnd);
    }
  }
  if ((s.mask & bit(MxifBkgd::BIT_NR_MODE)) != 0 && s.nrMode == 2) {
    s.nrMode = toggled(live.nrMode);
    rules::note(NR_TOGGLES, in, in.nrMode);
    rules::input(live, live.nrMode);
  }
  if ((in.mask & bit(MxifBkgd::BIT_EDGES)) != 0 && limits::takes(in, in.edges)) {
    const bool symmetrySent = (s.mask & bit(MxifBkgd::BIT_EDGE_SYMMETRY)) != 0;
    const u8 symmetry = symmetrySent ? s.edgeSymmetry : live.edgeSymmetry;
    s16 edges[4];
    std::copy(in.edges, in.edges + 4, edges);
    if (libmx::clampEdges(symmetry, live.edges, edges) != 0) {
      libmx::noteEdgeMoves(symmetry == 1 ? libmx::EDGES_SYMMETRIC : libmx::EDGES_IN_ORDER, in, in.edges, symmetry, edges,
                           [&] { symmetrySent ? rules::sent(in, in.edgeSymmetry) : rules::input(live, live.edgeSymmetry); });
      s.setEdges(edges);
    }
  }
  MxifBkgd::mergeFlagLevelsAngle(s.modify, in.modify);
  MxifBkgd::mergeSelectors(s.link, in.link);
  libmx::linkPair(in, live, s);
  MxifBkgd::mergeLevels10000(s.modulationX, in.modulationX);
  MxifBkgd::mergeLevels10000(s.modulationY, in.modulationY);
  libmx::assignSizePositionPair(s, live, in);
}

void CategoryBkgd::assign(const MxifBkgd& in, int ch) {
  MxifBkgd staged;
  validate(in, record(0), staged);
  MX_CHECK(ch < N_CHANNELS);
  MxifBkgd::merge(record(ch), staged);
  setMe(record(ch));
  dirty[ch] = 1;
}

// ---- buttons ---------------------------------------------------------------------------------------

void CategoryBkgd::onButton(const MxifButtonEvent& btn) {
  if (btn.getCode() == Event::BTN_ALL_RELEASED) {
    // Only the release of every button means anything; the code names no ME.
    if (btn.state != MxifButtonEvent::RELEASED) return;
    for (ButtonLatch& l : latches_) {
      std::memset(l.held, 0, sizeof l.held);
      l.clear();
    }
    return;
  }
  MX_CHECK(btn.getMe() == getME());
  const int code = btn.getCode();
  if (btn.isPressed() && Event::BTN_DIR_NORMAL <= code && code <= Event::BTN_NAM_TOGGLE && code != Event::BTN_TR_MACRO_ATTCH) {
    pending_[code - Event::BTN_DIR_NORMAL] = 1;
  }
  for (ButtonLatch& l : latches_) l.onEvent(btn);
  applyDirectionButtons();
  applyNextSelection();
  applyToggleButtons();
}

void CategoryBkgd::applyDirectionButtons() {
  MxifBkgd& r = record(0);
  u8& normal = pending_[Event::BTN_DIR_NORMAL - Event::BTN_DIR_NORMAL];
  u8& reverse = pending_[Event::BTN_DIR_REVERSE - Event::BTN_DIR_NORMAL];
  u8& alternate = pending_[Event::BTN_NR_TOGGLE - Event::BTN_DIR_NORMAL];
  if (normal != 0) {
    r.setDirection(0);
  } else if (reverse != 0) {
    r.setDirection(1);
  } else if (alternate != 0) {
    r.setNrMode(toggled(r.nrMode));
    r.mask |= bit(MxifBkgd::BIT_DIRECTION);
  }
  normal = reverse = alternate = 0;
}

// A press rewrites the next-transition selection to the layers whose buttons are held at that
// moment on any panel.
void CategoryBkgd::applyNextSelection() {
  auto any = [](const u8(&bytes)[ButtonLatch::N_PANELS]) {
    return std::any_of(bytes, bytes + ButtonLatch::N_PANELS, [](u8 b) { return b != 0; });
  };
  const bool latched = std::any_of(latches_, latches_ + N_LATCHES, [&](const ButtonLatch& l) { return any(l.latched); });
  if (latched) {
    MxifBkgd selection;
    selection.nextMask = bit(0);
    selection.nextKeyMask = 0xF;
    selection.nextBkgd = any(latches_[0].held) ? 1 : 0;
    for (int k = 0; k < 4; ++k) selection.nextKey[k] = any(latches_[k + 1].held) ? 1 : 0;
    selection.me = static_cast<u8>(me);
    MxifBkgd::merge(record(0), selection);
  }
  for (ButtonLatch& l : latches_) l.clear();
}

void CategoryBkgd::applyToggleButtons() {
  MxifBkgd& r = record(0);
  u8& partial = pending_[Event::BTN_PARTIAL_TOGGLE - Event::BTN_DIR_NORMAL];
  u8& nam = pending_[Event::BTN_NAM_TOGGLE - Event::BTN_DIR_NORMAL];
  if (partial != 0) {
    r.partialOn = toggled(r.partialOn);
    r.positionMask |= bit(0);
  }
  if (nam != 0) {
    r.nam = toggled(r.nam);
    r.mixMask |= bit(1);
  }
  partial = nam = 0;
}

// ---- the bus's view --------------------------------------------------------------------------------

AutoTransition& CategoryBkgd::autoTransition() {
  return CategoryFaderEvent::instance().transition(AutoTransition::bkgdSlot(me));
}

float CategoryBkgd::bkgdPosition(int which) { return CategoryFaderEvent::instance().bkgdPosition(me, which); }

int CategoryBkgd::programFlip() { return autoTransition().flip; }

void CategoryBkgd::onProgramBusChange() {
  static constexpr rules::Rule DIRECTION_ALTERNATES = {
      rules::Effect::MOVES, "with nrMode 1 the direction alternates: each change of the bus on program toggles "
                            "direction"};
  MxifBkgd& r = record(0);
  if (r.nrMode != 1) return;
  rules::note(DIRECTION_ALTERNATES, r, r.direction);
  rules::input(r, r.nrMode, me, 0);
  r.setDirection(toggled(r.direction));
}

void CategoryBkgd::serveNrModeRestore() {
  if (nrModeRestore_ == 0) return;
  record(0).setNrMode(1);
  nrModeRestore_ = 0;
}

void CategoryBkgd::setRecall(u32 kind, u32 direction, float position) {
  recallKind_ = kind;
  recallDirection_ = direction;
  recallPosition_ = position;
}

// ---- per frame -------------------------------------------------------------------------------------

void CategoryBkgd::setBorder(int format) {
  const MxifBkgd& r = record(0);
  const s16* c = r.namCmix == 1 && r.nam == 1 && r.type == 0 ? r.mixColor : r.borderColor;
  u16 y = 0, cb = 0, cr = 0;
  colorToYCbCr(format, c[0], c[1], c[2], &y, &cb, &cr);
  mxSetColor(MX_COLOR_BKGD_BORDER, y, cb, cr);
  mxTransSetBorderSource(MX_BKGD, r.borderSource == 1   ? MX_UTIL1
                                  : r.borderSource == 2 ? MX_UTIL2
                                                        : MX_COLOR_BKGD_BORDER);
}

// 1 unless the source on the bus the transition brings in is an SDI input that reports itself ready.
u8 CategoryBkgd::presetSourceNotReady(int busSelector) {
  const int s = busSelector;
  const int entry = s > 1 ? 0 : record(0).direction != 0 ? s : 1 - s;
  auto& reg = CategoryRegistry::instance();
  auto* bus = reg.find<CategoryBus>(TYPE_BUS, me);
  auto* inputs = reg.find<CategoryInputVideo>(TYPE_INPUT_VIDEO, 0);
  if (bus == nullptr || inputs == nullptr) return 1;
  const int source = bus->busSource(entry);
  return inputs->channelFlag(source) == 2 && inputs->channelByte16(source) == 1 ? 0 : 1;
}

void CategoryBkgd::update() {
  mxSetContext(MX_CONTEXT_ME1 + me);
  MxifBkgd& r = record(0);
  const MxifSystem& sys = recordOf<MxifSystem>();
  setBorder(sys.format);

  CategoryFaderEvent& faders = CategoryFaderEvent::instance();
  faders.setLimits(me, r.trans.limitStart * 0.001f, r.trans.limitEnd * 0.001f);
  float partialEnd = 1.0f;
  if (r.partialOn == 1) {
    partialEnd = r.partialPosition * 0.0001f;
    if (r.direction == 1) partialEnd = 1.0f - partialEnd;
  }
  faders.setPartialEnd(me, partialEnd, r.partialRate);

  const u8 busSelector = recordOf<MxifBus>(me).programBus;
  const MxifOperate& op = recordOf<MxifOperate>();
  if (op.wipeFlag == 1 && r.nrMode == 1 && r.direction == 1 && r.type != lastType_) r.setDirection(0);
  lastType_ = r.type;
  sourceNotReady_ = r.presetCheck == 1 ? presetSourceNotReady(busSelector) : 0;

  // Stored-frame playback drives a background of type 2; none runs, so it rests mixed at 0.
  const float posA = bkgdPosition(0);
  float position = 0.0f, second = -1.0f;
  int kind = 0;
  u8 direction = 0;
  if (r.type == 0 && autoTransition().mode() == 1) {
    const float posB = bkgdPosition(1);
    const bool fromB = op.abMode(me) == 2 && busSelector != 0;
    position = fromB ? posB : posA;
    second = 1.0f - (fromB ? posA : posB);
    direction = r.direction;
  } else if (r.type != 2) {
    position = posA;
    kind = r.type;
    direction = r.direction;
  }

  updater_.load(r, sys, position, static_cast<unsigned>(kind), direction, busSelector, sourceNotReady_);
  updater_.imageOnA = imageFlag(me, ImageFlags::BUS_A_ON) == 1 ? 1 : 0;
  updater_.imageOnB = imageFlag(me, ImageFlags::BUS_B_ON) == 1 ? 1 : 0;
  updater_.apply(me, position, second);

  // Dust shows only while the transition is under way, and not in a wipe of the first group.
  const bool dust = r.dustOn != 0 && AutoTransition::LOW < position && position < AutoTransition::HIGH &&
                    !(kind == 1 && r.patternKind == 0);
  // The record takes any dust values; the filter takes a gain of 0..1 and a dust value of 0..15.
  const float gain = dust ? std::clamp(r.dustGain * 0.001f, 0.0f, 1.0f) : 0.0f;
  const int level = r.dustLevelOn != 0 ? std::min<int>(r.dustLevel, 15) : 0;
  mxFilterSetDust(MX_BKGD, dust ? 1 : 0, gain, level);
}

}  // namespace category
