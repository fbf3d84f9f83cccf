#include "Main/panel/operate.h"

#include <cstring>

#include "Driver/xpt/dskmix.h"
#include "Driver/xpt/xpt.h"
#include "Lib/Include/log.h"
#include "Lib/Include/rules.h"
#include "Main/fader/faderevent.h"
#include "Main/bus/sourcelink.h"
#include "Main/key/key.h"

namespace libmx {

using Record = MxifOperate;
using limits::accept;

namespace {

// A bus setting refused for a code of 0 sent with it: each of its codes (within their limits) and
// its flag that the request carries, the 0 itself too, decided by that 0.
void noteZeroCode(const Record& in, const Record::BusSetting& s, u32 codes) {
  int zero = 0;
  while (!(codes & (1u << zero)) || s.code[zero] != 0) ++zero;
  for (int k = 0; k < 4; ++k) {
    if (!(codes & (1u << k))) continue;
    rules::note(Record::BusSetting::ZERO_DROPS_SETTING, in, s.code[k]);
    rules::sent(in, s.code[zero]);
  }
  if (s.mask & 1u) {
    rules::note(Record::BusSetting::ZERO_DROPS_SETTING, in, s.flag);
    rules::sent(in, s.code[zero]);
  }
}

}  // namespace

void checkOperateRanges(const Record& in, Record& out, bool fromImage) {
  const rules::Checking checking(in);
  out = in;
  codec::clearPresence(out);
  accept(in, in.mask2, out.mask2, Record::BUS_OPTION_A, in.busOptionA);
  accept(in, in.mask2, out.mask2, Record::BUS_OPTION_B, in.busOptionB);
  accept(in, in.mask, out.mask, Record::FADER_MODE, in.faderMode);
  accept(in, in.mask, out.mask, Record::KEY_FADER_KIND, in.keyFaderKind);
  accept(in, in.mask, out.mask, Record::FADER_MODE_SELECT, in.faderModeSelect);
  for (int m = 0; m < Record::N_PER_ME; ++m) {
    if (m < category::N_ME) {
      accept(in, in.faderModePerMe.mask, out.faderModePerMe.mask, 1u << m, in.faderModePerMe.value[m]);
    } else if ((in.faderModePerMe.mask & 1u << m) != 0 && !fromImage) {
      rules::note(Record::NO_SUCH_ME, in, in.faderModePerMe.value[m]);
    }
  }
  accept(in, in.optionLevel.mask, out.optionLevel.mask, 1u, in.optionLevel.value);
  accept(in, in.mask, out.mask, Record::OPTION_FLAG, in.optionFlag);

  using Ftb = Record::FadeToBlack;
  accept(in.ftb, in.ftb.mask, out.ftb.mask, Ftb::TARGET, in.ftb.target);
  accept(in.ftb, in.ftb.mask, out.ftb.mask, Ftb::SOURCE, in.ftb.source);
  accept(in.ftb, in.ftb.mask, out.ftb.mask, Ftb::RATE, in.ftb.rate);
  accept(in.ftb, in.ftb.mask, out.ftb.mask, Ftb::ON_AIR, in.ftb.onAir);
  accept(in.ftb, in.ftb.mask, out.ftb.mask, Ftb::TRANSITIONING, in.ftb.transitioning);
  for (int a = 0; a < 8; ++a) {
    accept(in, in.auxTransEnable.mask, out.auxTransEnable.mask, 1u << a, in.auxTransEnable.value[a]);
    accept(in, in.auxTransRate.mask, out.auxTransRate.mask, 1u << a, in.auxTransRate.value[a]);
  }
  accept(in, in.mask, out.mask, Record::WIPE_FLAG, in.wipeFlag);
  accept(in, in.mask, out.mask, Record::FADER_EVENT_FLAG, in.faderEventFlag);

  // A request names the ME of the first rows, and the repair of the map gives the others; the
  // backup image holds a repaired map, whose every row names one of the map's MEs.
  for (int p = 0; p < Record::N_PANELS; ++p) {
    const Record::Bytes4& map = in.meChange(p);
    for (int r = 0; r < Record::N_ME_ROWS; ++r) {
      if (fromImage) {
        rules::acceptWithin(map.mask, out.meChange(p).mask, 1u << r, map.value[r], 0, Record::N_ME_ROWS - 1);
      } else if (r < Record::N_REQUEST_ME_ROWS) {
        accept(in, map.mask, out.meChange(p).mask, 1u << r, map.value[r]);
      } else if ((map.mask & 1u << r) != 0) {
        rules::note(Record::ROWS_BY_REPAIR, in, map.value[r]);
      }
    }
  }

  using Switches = Record::KeyMemorySwitches;
  if ((in.keyMemory.mask & Switches::ENABLE) != 0 && !fromImage && (in.keyMemory.enable == 2 || in.keyMemory.enable == 3)) {
    rules::note(Record::HOLDS_KEY_MEMORY, in, in.keyMemory.enable);
  } else {
    accept(in, in.keyMemory.mask, out.keyMemory.mask, Switches::ENABLE, in.keyMemory.enable);
  }
  accept(in, in.keyMemory.mask, out.keyMemory.mask, Switches::SHARE, in.keyMemory.share);
  out.keyFaderButton.mask = in.keyFaderButton.mask & 3u;  // taken as sent

  // A requested code of 0 drops the whole setting, flag included; a code outside its limits only itself.
  for (int g = 0; g < Record::N_GROUPS; ++g) {
    for (int e = 0; e < Record::N_SETTINGS; ++e) {
      const Record::BusSetting& s = in.busSettings[g][e];
      Record::BusSetting& o = out.busSettings[g][e];
      u32 codes = 0;
      bool zero = false;
      for (int k = 0; k < 4; ++k) {
        if (!(s.codeMask & (1u << k)) || !limits::takes(s, s.code[k])) continue;
        codes |= 1u << k;
        zero = zero || s.code[k] == 0;
      }
      if (zero && !fromImage) {  // in the image a 0 is a code never set
        noteZeroCode(in, s, codes);
        continue;
      }
      o.codeMask = codes;
      accept(s, s.mask, o.mask, 1u, s.flag);
    }
  }
  for (int p = 0; p < Record::N_PANELS; ++p) {
    const Record::Bytes8& select = in.busSelect(p);
    for (int g = 0; g < Record::N_GROUPS; ++g) accept(in, select.mask, out.busSelect(p).mask, 1u << g, select.value[g]);
  }
  accept(in, in.mask, out.mask, Record::FADER_FLAG, in.faderFlag);
  accept(in, in.mask, out.mask, Record::FADER_DIRECTION_MODE, in.faderDirectionMode);
}

}  // namespace libmx

namespace category {
namespace {

using Record = MxifOperate;
using Ftb = Record::FadeToBlack;

// The source positions that the bad-parameter lines name.
constexpr const char* BAD_PARAM_SOURCE = "../Main/operate";
constexpr int FADER_MODE_LINE = 552;
constexpr int FADER_MODE_SELECT_LINE = 533;
constexpr int FADER_MODE_ME_LINE = 573;

constexpr const char* PANEL_NAMES[Record::N_PANELS] = {"Main", "Sub1", "Sub2"};

CategoryFaderEvent* faderEvent() {
  return CategoryRegistry::instance().find<CategoryFaderEvent>(TYPE_FADER_EVENT, 0);
}

// The driver source of the fade: stills 1..4, clips 1..4, colour backgrounds 1 and 2, memory
// source 4500, and black for 11 and anything else.
int fadeSource(int source) {
  if (0 <= source && source < 4) return MX_STILL_1 + 2 * source;
  if (4 <= source && source < 8) return MX_CLIP_1 + 2 * (source - 4);
  if (source == 8) return MX_CBGD_1;
  if (source == 9) return MX_CBGD_2;
  if (source == 10) return MX_MEM_BLACK_FADE;
  return MX_BLACK;
}

// Sets a status byte of the fade with its presence bit when it changes.
void reportStatus(Ftb& ftb, u8 Ftb::*field, u32 bit, u8 value) {
  if (ftb.*field == value) return;
  ftb.*field = value;
  ftb.mask |= bit;
}

}  // namespace

CategoryOperate::CategoryOperate() { initInternal(); }

CategoryOperate& CategoryOperate::instance() {
  static CategoryOperate category;
  return category;
}

void CategoryOperate::initData() {
  // Every field and presence word 0, the ME maps too: the front end sets them, or the first update
  // after a resume repairs them.
  CategoryCommon::initData();
  fadeTracker_ = AutoTransition{};
  keyMemory_.reset();
}

void CategoryOperate::initInternal() {
  CategoryCommon::initInternal();
  fadeRequested_ = 0;
  clearRequested_ = 0;
  keyMemory_.init();
  // The key source memory hears of changed keys and of a new source link mode.
  CategoryKey::setKeyChangedHook([](int me, int key) {
    if (KeyMemory* memory = registeredKeyMemory()) memory->setKeyChanged(me, key);
  });
  CategorySourceLink::setAssignHook([](const MxifSourceLink& change) {
    if (KeyMemory* memory = registeredKeyMemory()) memory->onSourceLinkAssign(change);
  });
}

KeyMemory* CategoryOperate::registeredKeyMemory() {
  auto* operate = CategoryRegistry::instance().find<CategoryOperate>(TYPE_OPERATE, 0);
  return operate != nullptr ? &operate->keyMemory() : nullptr;
}

void CategoryOperate::resume(const void* saved, int flag) {
  (void)flag;
  Record in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  initData();
  codec::setAllPresence(in);
  Record accepted;
  libmx::checkOperateRanges(in, accepted, true);
  Record& live = record(0);
  live = Record{};
  refuseSaved(codec::refusedFields(in, accepted, live));
  codec::merge(live, accepted);
  codec::setAllPresence(live);
  // The fade rests at the end the target names: faded with the direction word negative.
  fadeTracker_.positionA = 0.0f;
  fadeTracker_.flip = live.ftb.target == 1 ? -1 : 1;
  fadeTracker_.state = AutoTransition::IDLE;
  fadeTracker_.positionB = -1.0f;
}

void CategoryOperate::assign(const Record& in, int idx) {
  Record& live = record(idx);  // the channel is checked before anything changes
  Record out;
  libmx::checkOperateRanges(in, out, false);

  if ((in.mask & Record::FADER_MODE) && !(out.mask & Record::FADER_MODE)) {
    MX_LOG(libmx::ERR, "%s(%d)BAD Param.[0x%02X]", BAD_PARAM_SOURCE, FADER_MODE_LINE, in.faderMode);
  }
  if ((out.mask & Record::KEY_FADER_KIND) && out.keyFaderKind != live.keyFaderKind) {
    if (CategoryFaderEvent* faders = faderEvent()) CategoryKey::resetKeyAutoTransitions(*faders);
  }
  if ((in.mask & Record::FADER_MODE_SELECT) && !(out.mask & Record::FADER_MODE_SELECT)) {
    MX_LOG(libmx::ERR, "%s(%d)BAD Param.[0x%02X]", BAD_PARAM_SOURCE, FADER_MODE_SELECT_LINE, in.faderModeSelect);
  }
  for (int m = 0; m < N_ME; ++m) {
    const u32 bit = 1u << m;
    if ((in.faderModePerMe.mask & bit) && !(out.faderModePerMe.mask & bit)) {
      MX_LOG(libmx::ERR, "%s(%d)(ME:%d)BAD Param.[0x%02X]", BAD_PARAM_SOURCE, FADER_MODE_ME_LINE, m,
             in.faderModePerMe.value[m]);
    }
  }

  if ((out.ftb.mask & Ftb::TARGET) && out.ftb.target != live.ftb.target) {
    (out.ftb.target == 1 ? fadeRequested_ : clearRequested_) = 1;
  }

  // A row that takes another ME leaves the transitions of both MEs to no lever for a while.
  CategoryFaderEvent* faders = faderEvent();
  for (int p = 0; p < N_PANELS; ++p) {
    for (int r = 0; r < Record::N_REQUEST_ME_ROWS; ++r) {
      if (!(out.meChange(p).mask & (1u << r)) || faders == nullptr) continue;
      faders->releaseMeFaders(p, out.meChange(p).value[r]);
      faders->releaseMeFaders(p, live.meChange(p).value[r]);
    }
  }

  if (in.keyMemory.mask & Record::KeyMemorySwitches::ENABLE) {
    if (in.keyMemory.enable == 2) keyMemory_.busy = 1;
    if (in.keyMemory.enable == 3) keyMemory_.busy = 0;
  }
  keyMemory_.onOperateAssign(out.keyMemory, live.keyMemory);

  codec::merge(live, out);
  dirty[idx] = 1;
}

// ---- Per frame -----------------------------------------------------------------------------------

float CategoryOperate::fadeLevel(const AutoTransition& t) { return t.flip >= 0 ? t.positionA : 1.0f - t.positionA; }

void CategoryOperate::update() {
  Record& r = record(0);
  mxSelectMemorySource(fadeSource(r.ftb.source));
  mxDskSetFadeLevel(fadeLevel(fadeTracker_));
  runFade();
  ftbStatus();
  checkMeChangeRange();
  keyMemory_.update(r.keyMemory);
}

void CategoryOperate::runFade() {
  if (fadeRequested_ || clearRequested_) {
    if (fadeTracker_.state == AutoTransition::RUNNING) {
      fadeTracker_.reverse();
    } else if ((fadeTracker_.flip < 0 && clearRequested_) || (fadeTracker_.flip >= 0 && fadeRequested_)) {
      fadeTracker_.start(record(0).ftb.rate, 1);
    }
    fadeRequested_ = 0;
    clearRequested_ = 0;
  }
  fadeTracker_.advanceSingle(FrameStep::current());
}

void CategoryOperate::ftbStatus() {
  Ftb& ftb = record(0).ftb;
  reportStatus(ftb, &Ftb::onAir, Ftb::ON_AIR, fadeLevel(fadeTracker_) > AutoTransition::LOW ? 1 : 0);
  const bool runs = fadeTracker_.state == AutoTransition::RUNNING || fadeTracker_.state == AutoTransition::PAUSED;
  reportStatus(ftb, &Ftb::transitioning, Ftb::TRANSITIONING, runs ? 1 : 0);
}

void CategoryOperate::checkMeChangeRange() {
  Record& r = record(0);
  MeMap work[N_PANELS];
  for (int p = 0; p < N_PANELS; ++p) {
    work[p] = r.meChange(p);
    for (int row = 0; row < Record::N_REQUEST_ME_ROWS; ++row) {
      if (work[p].value[row] < Record::N_REQUEST_ME_ROWS) continue;
      MX_LOG(libmx::ERR, "ME Change %s range over %d %d", PANEL_NAMES[p], row, work[p].value[row]);
      work[p].value[row] = static_cast<u8>(row);
      work[p].mask |= 1u << row;
    }
  }
  static constexpr auto ME_ONCE_TEXT =
      rules::compose("a panel's ME map names each ME once: rows given an ME that another row given names set the map back "
                     "to rows 0..", Record::N_ME_ROWS - 1, " in order; a row not given that names an ME a row was given "
                     "takes the first ME that no row names");
  static constexpr rules::Rule ME_ONCE = {rules::Effect::MOVES, ME_ONCE_TEXT.chars};
  for (int p = 0; p < N_PANELS; ++p) {
    if (work[p].mask == 0) continue;
    const u32 given = work[p].mask;
    resolveMeChange(work[p], p);
    MeMap& stored = r.meChange(p);
    for (int row = 0; row < Record::N_ME_ROWS; ++row) {
      if (!(work[p].mask & (1u << row)) || stored.value[row] == work[p].value[row]) continue;
      rules::note(ME_ONCE, r, stored.value[row]);
      for (int other = 0; other < Record::N_ME_ROWS; ++other) {
        if (other != row && (given & (1u << other)) != 0) rules::input(r, stored.value[other]);
      }
    }
    for (int row = 0; row < Record::N_ME_ROWS; ++row) {
      if (!(work[p].mask & (1u << row))) continue;
      stored.value[row] = work[p].value[row];
      stored.mask |= 1u << row;
    }
  }
}

void CategoryOperate::resolveMeChange(MeMap& map, int panel) {
  (void)panel;
  constexpr int N = Record::N_ME_ROWS;
  bool used[N] = {};
  bool valid[N] = {};
  for (int i = 0; i < N; ++i) {
    const int v = map.value[i];
    if (!(map.mask & (1u << i)) || v >= N) continue;
    if (used[v]) {
      MX_LOG(libmx::ERR, "ME Change conflict");
      for (int j = 0; j < N; ++j) map.value[j] = static_cast<u8>(j);
      map.mask |= (1u << N) - 1;
      return;
    }
    used[v] = valid[i] = true;
  }
  for (int i = 0; i < N; ++i) {
    const int v = map.value[i];
    if ((map.mask & (1u << i)) || v >= N || used[v]) continue;
    used[v] = valid[i] = true;
  }
  for (int i = 0; i < N; ++i) {
    if (valid[i]) continue;
    int m = 0;
    while (used[m]) ++m;
    map.value[i] = static_cast<u8>(m);
    map.mask |= 1u << i;
    used[m] = valid[i] = true;
  }
  for (int i = 0; i < N; ++i) MX_CHECK(valid[i]);
}

// ---- Bus settings --------------------------------------------------------------------------------

Record::BusSetting CategoryOperate::busSetting(int group, int entry) {
  if (group < 0 || group >= Record::N_GROUPS) return Record::BusSetting{};
  return record(0).busSettings[group][0 <= entry && entry < Record::N_SETTINGS ? entry : 0];
}

u8 CategoryOperate::busStatusValue(int code, int slot, int mode) {
  struct Row {
    u8 value, inMode1;
  };
  // By code 0..18; codes 5, 6 and 14 take their value from the slot.
  static constexpr Row TABLE[19] = {{255, 255}, {2, 3},   {4, 5},   {6, 7},   {8, 9},   {0, 0},   {0, 0},
                                    {10, 11},   {10, 11}, {12, 12}, {16, 17}, {18, 19}, {20, 21}, {22, 23},
                                    {0, 0},     {102, 103}, {104, 105}, {106, 107}, {108, 109}};
  if (code < 0 || code > 18) return 255;
  if (code == 5 || code == 6 || code == 14) return slot == 0 ? 0 : (slot == 1 ? 1 : 255);
  return mode == 1 ? TABLE[code].inMode1 : TABLE[code].value;
}

int CategoryOperate::busStatusSlot(int k) {
  static constexpr int SLOTS[4] = {2, 3, 0, 1};
  return 0 <= k && k < 4 ? SLOTS[k] : 0;
}

}  // namespace category
