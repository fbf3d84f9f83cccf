#include "Main/bus/bus.h"

#include <bit>
#include <cstring>

#include "Driver/xpt/xpt.h"
#include "Main/bus/button.h"
#include "Main/bus/sourcelink.h"
#include "Lib/Include/records/operate.h"
#include "Lib/Include/rules.h"

namespace category {

namespace {

using buses::NO_LOOP;
using buses::SOURCE_NOT_LISTED;
constexpr auto REPAIRED_TEXT =
    rules::compose("every frame an entry whose source its list does not take (the source of a panel button changed "
                   "since) is set to black (", CategoryBus::REPLACEMENT_CODE, ")");
constexpr rules::Rule REPAIRED = {rules::Effect::MOVES, REPAIRED_TEXT.chars};

// The operate record; all zeros while the operate category is absent.
const MxifOperate& operate() {
  static const MxifOperate absent{};
  const MxifOperate* r = CategoryRegistry::instance().record<MxifOperate>();
  return r != nullptr ? *r : absent;
}

CategoryXpt* xptAssign() { return CategoryRegistry::instance().find<CategoryXpt>(TYPE_XPT_ASSIGN, 0); }

CategorySourceLink* sourceLink() {
  return CategoryRegistry::instance().find<CategorySourceLink>(TYPE_SOURCE_LINK, 0);
}

// The source the crosspoint assignment gives a panel button, -1 when none.
int panelButtonSource(int panel, int button) {
  CategoryXpt* xpt = xptAssign();
  return xpt == nullptr ? -1 : xpt->sourceOf(panel, button);
}

// The source that the source-link table pairs with a source, -1 when none.
int linkedSource(int source) {
  CategorySourceLink* link = sourceLink();
  return link == nullptr ? -1 : link->findLinkedSource(source);
}

// After a rule on an entry holding a panel button's code: the value of the crosspoint assignment
// that gave the button its source, the button's own or the marker that masks its column.
void noteButtonSource(int code) {
  if (code >= CategoryBus::PANEL_CODES || code % 256 >= CategoryBus::N_BUTTONS) return;
  const int panel = code / 256;
  const MxifXptAssign* buttons = CategoryRegistry::instance().record<MxifXptAssign>(0, panel);
  if (buttons == nullptr) return;
  int button = code % 256;
  for (int row = 0; button < CategoryXpt::N_COLUMN_BUTTONS && row < CategoryXpt::N_ROWS; ++row) {
    const int b = button % CategoryXpt::N_COLUMNS + row * CategoryXpt::N_COLUMNS;
    if (buttons->source[b] == MxifXptAssign::MARKER_CLASS1 || buttons->source[b] == MxifXptAssign::MARKER_CLASS2) {
      button = b;
      break;
    }
  }
  rules::input(*buttons, buttons->source[button], 0, panel);
}

// Calls f(e) for each entry e present in r, in order.
template <class F>
void eachPresentEntry(const MxifBus& r, F f) {
  for (int w = 0; w < 3; ++w) {
    for (u32 bits = r.entryMask[w]; bits != 0; bits &= bits - 1) {
      const int e = 32 * w + std::countr_zero(bits);
      if (e < MxifBus::N_ENTRIES) f(e);
    }
  }
}

// Link flag of AUX pair p (entries 24 + 2p, 25 + 2p).
bool isAuxLinked(int pair) {
  CategorySourceLink* link = sourceLink();
  return link != nullptr && link->isAuxLinked(pair);
}

void busButtonHook(CategoryInterface& target, const internal::MxifButtonEvent& btn) {
  if (auto* bus = dynamic_cast<CategoryBus*>(&target)) bus->onButton(btn);
}

// The ME's usage of ME outputs: uses[a][b] is 1 when one of ME a's entries 0..11 holds an output of
// ME b.
u8 (&usageTable())[N_ME][N_ME] {
  static u8 table[N_ME][N_ME] = {};
  return table;
}

using buses::isMeOutput;
using buses::meOfOutput;
bool isDirectSource(int source) {
  for (const rules::Range& r : buses::DIRECT_SOURCES) {
    if (r.lo <= source && source <= r.hi) return true;
  }
  return false;
}

}  // namespace

int sourceLinkMode() {
  CategorySourceLink* link = sourceLink();
  return link == nullptr ? 0 : link->linkMode();
}

CategoryBus* CategoryBus::instance() {
  static CategoryBus objects[N_ME];
  return objects;
}

CategoryBus::CategoryBus() {
  CategoryButtonEvent::setHook(ButtonReceiver::BUS, busButtonHook);
  for (auto& c : prevCode_) c = -1;
  std::memset(pressed_, 0, sizeof pressed_);
}

void CategoryBus::initData() {
  record(0) = MxifBus{};
  setMe(record(0));
}

void CategoryBus::initInternal() {
  CategoryCommon::initInternal();
  for (auto& c : prevCode_) c = -1;
  linkSuppressed_ = 1;
  abSwap_ = 0;
  refreshRequested_ = 0;
  lampPanel_ = 0;
  // The sub panels announce themselves again after a start.
  present_[1] = present_[2] = 0;
  std::memset(pressed_, 0, sizeof pressed_);
  for (auto& u : usageTable()[me]) u = 0;
}

void CategoryBus::resume(const void* saved, int flag) {
  (void)flag;
  MxifBus in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  MxifBus& r = record(0);
  r = MxifBus{};
  std::memcpy(r.entries, in.entries, sizeof r.entries);
  const bool programTaken = limits::takes(in, in.programBus);
  r.programBus = programTaken ? in.programBus : 0;
  if (!programTaken) refuseSaved(1);
  codec::setAllPresence(r);
  setMe(r);
}

CategoryBus* CategoryBus::bus(int m) {
  auto* cat = CategoryRegistry::instance().at(TYPE_INDEX, m);
  return static_cast<CategoryBus*>(cat);
}

// ---- Resolution and checks -------------------------------------------------------------------------

int CategoryBus::codeToSource(int code) {
  if (0 <= code && code < PANEL_CODES) {
    int button = code % 256;
    return button < N_BUTTONS ? panelButtonSource(code / 256, button) : -1;
  }
  return isDirectSource(code - DIRECT) ? code - DIRECT : -1;
}

int CategoryBus::busSource(int entry) {
  if (entry < 0 || entry >= N_ENTRIES) return -1;
  return codeToSource(record(0).entries[entry]);
}

bool CategoryBus::isSourceAllowed(int entry, int source) { return buses::listed(entry, source); }

bool CategoryBus::reentryAllows(int entry, int source) const {
  if (entry > LAST_LOOP_ENTRY || !isMeOutput(source)) return true;
  s8 takes[N_ME];
  return !closesLoop(meOfOutput(source), takes);
}

bool CategoryBus::closesLoop(int m, s8 (&takes)[N_ME]) const {
  const auto& uses = usageTable();
  takes[m] = static_cast<s8>(me);
  if (m == me || uses[m][me]) return true;
  // Walk over the users of this ME, and their users: reaching m would close a loop. The visited set
  // ends the walk on a cycle that a restored image may hold.
  u8 visited = static_cast<u8>(1u << me);
  int stack[N_ME];
  int depth = 0;
  stack[depth++] = me;
  while (depth > 0) {
    const int k = stack[--depth];
    for (int j = 0; j < N_ME; ++j) {
      if (!uses[j][k] || (visited & (1u << j))) continue;
      takes[j] = static_cast<s8>(k);
      if (j == m) return true;
      visited = static_cast<u8>(visited | (1u << j));
      stack[depth++] = j;
    }
  }
  return false;
}

void CategoryBus::noteWhy(int entry, int code, int source) {
  noteButtonSource(code);
  s8 takes[N_ME];
  if (entry > LAST_LOOP_ENTRY || !isMeOutput(source) || !isSourceAllowed(entry, source) || !closesLoop(meOfOutput(source), takes)) {
    return;
  }
  // The loop: ME a takes the output of ME takes[a], from m round to this ME.
  for (int a = meOfOutput(source); a != me; a = takes[a]) {
    CategoryBus* user = bus(a);
    if (user == nullptr) return;
    const MxifBus& r = user->record(0);
    for (int e = 0; e <= LAST_LOOP_ENTRY; ++e) {
      const int s = user->busSource(e);
      if (!isMeOutput(s) || meOfOutput(s) != takes[a]) continue;
      rules::input(r, r.entries[e], a, 0);
      noteButtonSource(r.entries[e]);
    }
  }
}

int CategoryBus::busSourceToHardware(int s) {
  if (10 <= s && s <= 41) return s + 4342;
  if (s == 140 || s == 141) return s + 4244;
  if (s == SOURCE_BARS) return 4496;
  if (s == SOURCE_BLACK) return MX_BLACK;
  if (s == SOURCE_COLOR_BACKGROUND || s == SOURCE_COLOR_BACKGROUND + 1) return s + 4277;
  if (230 <= s && s <= 237) return s + 4322;
  if (150 <= s && s <= 165) return s + 4362;
  if (s == 170) return 4544;
  if (s == 171) return 4546;
  if (s == 172) return 4545;
  if (s == 173) return 4547;
  if (174 <= s && s <= 177) return s + 4374;
  if (s == 181 || s == 182) return s + 4299;
  if (s == 184 || s == 185) return s + 4298;
  if (s == 187 || s == 188) return s + 4297;
  if (s == 190 || s == 191) return s + 4296;
  if (s == 201 || s == 202) return s + 4287;
  if (s == 204 || s == 205) return s + 4286;
  if (s == 207 || s == 208) return s + 4285;
  if (s == 210 || s == 211) return s + 4284;
  if (s == 178) return 4556;
  return MX_BLACK;
}

int CategoryBus::repairLimit(int m) { return m == 0 ? 88 : m == 1 ? 23 : 11; }

void CategoryBus::refreshUsage() {
  auto& row = usageTable()[me];
  for (auto& u : row) u = 0;
  for (int e = 0; e <= LAST_LOOP_ENTRY; ++e) {
    const int s = busSource(e);
    if (isMeOutput(s)) row[meOfOutput(s)] = 1;
  }
}

bool CategoryBus::uses(int a, int b) { return usageTable()[a][b] != 0; }

// ---- Selections ------------------------------------------------------------------------------------

void CategoryBus::setPrevCodeEverywhere(int entry, int code) {
  for (int m = 0; m < N_ME; ++m) {
    CategoryBus* b = bus(m);
    if (b != nullptr) b->prevCode_[entry] = code;
  }
}

void CategoryBus::assign(const MxifBus& in, int ch) {
  (void)ch;
  const rules::Checking checking(in);
  MxifBus work{};
  eachPresentEntry(in, [&](int e) { work.setEntry(e, in.entries[e]); });
  if ((in.mask & MxifBus::PROGRAM_BUS) && limits::takes(in, in.programBus)) {
    work.programBus = in.programBus;
    work.mask |= MxifBus::PROGRAM_BUS;
  }
  MxifBus& live = record(0);
  // A refused entry is answered with its unchanged value.
  eachPresentEntry(work, [&](int e) {
    const int s = codeToSource(work.entries[e]);
    const bool listed = isSourceAllowed(e, s);
    if (listed && reentryAllows(e, s)) return;
    rules::note(listed ? NO_LOOP : SOURCE_NOT_LISTED, in, in.entries[e]);
    noteWhy(e, work.entries[e], s);
    work.entries[e] = live.entries[e];
  });
  for (int e = 24; e < 24 + N_AUX_MIX; ++e) {
    if (work.hasEntry(e) && work.entries[e] != live.entries[e]) setPrevCodeEverywhere(e, live.entries[e]);
  }
  codec::merge(live, work);
  setMe(live);
  dirty[0] = 1;
  // The usage follows at once, so that a record for another ME later in the same frame is checked
  // against this one.
  refreshUsage();
  if (me == 0) {
    auto* usk = CategoryRegistry::instance().find<UskAssignTarget>(TYPE_UP_STREAM_KEY_ASSIGN, 0);
    for (int e = USK_ENTRY; e <= USK_ENTRY + 7; ++e) {
      if (work.hasEntry(e) && usk != nullptr) usk->setAssignment(busSource(e), e - USK_ENTRY);
    }
  }
}

void CategoryBus::copyToOthers(int entry) {
  // ME 1 keeps the master copy of the DSK entries and is written first.
  static constexpr int DSK_ORDER[N_ME] = {1, 0, 2, 3};
  static constexpr int ORDER[N_ME] = {0, 1, 2, 3};
  const bool dsk = 16 <= entry && entry <= 23;
  const u16 code = record(0).entries[entry];
  for (int i = 0; i < N_ME; ++i) {
    CategoryBus* other = bus(dsk ? DSK_ORDER[i] : ORDER[i]);
    if (other == nullptr || other == this) continue;
    MxifBus& r = other->record(0);
    if (24 <= entry && entry <= 71) other->prevCode_[entry] = r.entries[entry];
    r.setEntry(entry, code);
  }
}

void CategoryBus::onButton(const internal::MxifButtonEvent& btn) {
  onButton(btn.panel, btn.getMe(), btn.index, btn.getCode(), btn.state);
}

void CategoryBus::onButton(int panel, int eventMe, int entry, int code, int state) {
  if (code == ALL_RELEASED) {
    if (state == 0) std::memset(pressed_, 0, sizeof pressed_);
    return;
  }
  ::assert::check(__FILE__, __LINE__, "btn.getMe() == getME()", eventMe == me);
  if (panel < 0 || panel >= N_PANELS || entry < 0 || entry >= N_ENTRIES) return;
  int b;
  if (state == 1) {
    if (code < BUTTON_FIRST || code > BUTTON_LAST) return;
    b = code - BUTTON_FIRST;
    pressed_[panel][entry][b] = 1;
  } else if (state == 0) {
    // A release reselects the lowest button still held.
    if (BUTTON_FIRST <= code && code <= BUTTON_LAST) pressed_[panel][entry][code - BUTTON_FIRST] = 0;
    b = 0;
    while (b < N_BUTTONS && !pressed_[panel][entry][b]) ++b;
    if (b == N_BUTTONS) return;
  } else {
    return;
  }
  if ((entry == 0 || entry == 1) && abSwap_ == 1) entry = 1 - entry;
  const int c = panel * 256 + (b - 24 * (b / 48));
  const int s = codeToSource(c);
  if (!isSourceAllowed(entry, s) || !reentryAllows(entry, s)) return;
  MxifBus change{};
  change.setEntry(entry, c);
  assign(change, 0);
  refreshUsage();
  if (13 <= entry && entry <= 79) copyToOthers(entry);
}

void CategoryBus::select(int entry, int source) {
  if (0 <= entry && entry < N_ENTRIES && isDirectSource(source) && isSourceAllowed(entry, source) &&
      reentryAllows(entry, source)) {
    MxifBus& r = record(0);
    const int old = r.entries[entry];
    r.setEntry(entry, source + DIRECT);
    if (USK_ENTRY <= entry && entry <= USK_ENTRY + 7) {
      auto* usk = CategoryRegistry::instance().find<UskAssignTarget>(TYPE_UP_STREAM_KEY_ASSIGN, 0);
      if (usk != nullptr) usk->setAssignment(source, entry - USK_ENTRY);
    }
    refreshUsage();
    if (24 <= entry && entry < 24 + N_AUX_MIX && old != r.entries[entry]) prevCode_[entry] = old;
  }
  if (16 <= entry && entry <= 71) copyToOthers(entry);
}

void CategoryBus::selectLinked(int from, int to) {
  const int s = linkedSource(busSource(from));
  if (s != -1) select(to, s);
}

void CategoryBus::reselectButton(int button, int source, int panel) {
  for (int e = 0; e < N_ENTRIES; ++e) {
    const int code = record(0).entries[e];
    if (code < PANEL_CODES && code / 256 == panel && code % 256 == button) select(e, source);
  }
}

void CategoryBus::assignSource(int source, int offset) {
  MxifBus change{};
  if (-72 <= offset && offset <= 16) {
    if (busSource(USK_ENTRY + offset) == source) return;
    change.setEntry(USK_ENTRY + offset, source + DIRECT);
  } else if (busSource(0) == source) {
    return;
  }
  assign(change, 0);
}

void CategoryBus::setProgramBus(int v) {
  MxifBus& r = record(0);
  if (r.programBus == v) return;
  r.programBus = static_cast<u8>(v);
  r.mask |= MxifBus::PROGRAM_BUS;
}

void CategoryBus::routeKeySources(int keyType, int keySource, int k) {
  MX_CHECK(0 <= k && k < 4);
  mxSetContext(MX_CONTEXT_ME1 + me);
  const int fill = busSourceToHardware(busSource(2 * k + 2));
  const int key = keyType != 0 && keySource != 0 ? busSourceToHardware(busSource(2 * k + 3)) : fill;
  mxSetBusSource(MX_KEY1_F + 2 * k, fill);
  mxSetBusSource(MX_KEY1_F + 2 * k + 1, key);
}

void CategoryBus::routeDskSources(int keyType, int keySource, int k) {
  MX_CHECK(0 <= k && k < 4);
  const int fill = busSourceToHardware(busSource(2 * k + 16));
  const int key = keyType != 0 && keySource != 0 ? busSourceToHardware(busSource(2 * k + 17)) : fill;
  mxSetDskSource(MX_DSK1_F + 2 * k, fill);
  mxSetDskSource(MX_DSK1_F + 2 * k + 1, key);
}

// ---- Per frame -------------------------------------------------------------------------------------

void CategoryBus::update() {
  mxSetContext(MX_CONTEXT_ME1 + me);
  MxifBus& r = record(0);
  if (refreshRequested_) {
    refreshRequested_ = 0;
    codec::setAllPresence(r);
    linkSuppressed_ = 1;
    dirty[0] = 1;
  }
  if (codec::hasAny(r)) refreshUsage();
  followLinks();
  routeBuses();
  updateLamps();
}

void CategoryBus::followLinks() {
  const MxifBus& r = record(0);
  if ((r.entryMask[0] | r.entryMask[1] | r.entryMask[2]) == 0) {
    // No entry present: none drives its partner.
    linkSuppressed_ = 0;
    return;
  }
  const int d = sourceLinkMode();
  const int limit = repairLimit(me);
  bool found = false;
  for (int e = 2; e <= limit; ++e) {
    if (!record(0).hasEntry(e)) continue;
    int offset;
    if (2 <= e && e <= 9) {
      offset = e - 2;
    } else if (16 <= e && e <= 23) {
      offset = e - 16;
    } else if (USK_ENTRY <= e && e <= USK_ENTRY + 7) {
      offset = e - USK_ENTRY;
    } else if (e == 13 || e == 14) {
      offset = e - 13;
    } else if (24 <= e && e <= 71 && isAuxLinked((e - 24) / 2)) {
      offset = e - 24;
    } else {
      continue;
    }
    const bool drives = d == 0 ? offset % 2 == 0 : offset % 2 == 1;
    if (!drives) continue;
    found = true;
    if (!linkSuppressed_) selectLinked(e, d == 0 ? e + 1 : e - 1);
  }
  if (!found) linkSuppressed_ = 0;
}

void CategoryBus::repair() {
  MxifBus& r = record(0);
  const int limit = repairLimit(me);
  const size_t entryBytes = sizeof(u16) * static_cast<size_t>(limit + 1);
  // The checks read the ME, each entry's source and the usage table: when they are those of a pass
  // that replaced nothing, this pass would replace nothing either. A button code's source is looked
  // up again, as the crosspoint assignment may have changed.
  if (passed_.me == me && std::memcmp(passed_.entries, r.entries, entryBytes) == 0 &&
      std::memcmp(passed_.usage, usageTable(), sizeof passed_.usage) == 0) {
    bool same = true;
    for (int i = 0; i < passed_.nButtons && same; ++i) {
      const int e = passed_.buttonEntry[i];
      same = codeToSource(r.entries[e]) == passed_.buttonSource[i];
    }
    if (same) return;
  }
  bool usageChanged = false, replaced = false;
  passed_.nButtons = 0;
  for (int e = 0; e <= limit; ++e) {
    const int s = busSource(e);
    if (r.entries[e] < PANEL_CODES) {
      passed_.buttonEntry[passed_.nButtons] = static_cast<u8>(e);
      passed_.buttonSource[passed_.nButtons++] = static_cast<s16>(s);
    }
    // Besides sources not allowed, a bus that would feed its own ME (only a damaged image can hold
    // one) is replaced: the hardware cannot route it.
    if (isSourceAllowed(e, s) && reentryAllows(e, s)) continue;
    rules::note(REPAIRED, r, r.entries[e]);
    noteWhy(e, r.entries[e], s);
    r.setEntry(e, REPLACEMENT_CODE);
    replaced = true;
    usageChanged = usageChanged || e <= LAST_LOOP_ENTRY;
  }
  if (usageChanged) refreshUsage();
  passed_.me = replaced ? -1 : me;
  if (!replaced) {
    std::memcpy(passed_.entries, r.entries, entryBytes);
    std::memcpy(passed_.usage, usageTable(), sizeof passed_.usage);
  }
}

void CategoryBus::followBackground() {
  auto* bkgd = CategoryRegistry::instance().find<BusBackgroundLink>(TYPE_BKGD, me);
  if (bkgd == nullptr) return;
  static constexpr rules::Rule PROGRAM_OF_TRANSITION = {
      rules::Effect::MOVES, "programBus follows the background transitions: it is set every frame to the bus (0 A, "
                            "1 B) that the last background transition left on program"};
  const int v = bkgd->programFlip() < 0 ? 1 : 0;
  if (v != record(0).programBus) {
    rules::note(PROGRAM_OF_TRANSITION, record(0), record(0).programBus);
    setProgramBus(v);
    bkgd->onProgramBusChange();
  }
  bkgd->serveNrModeRestore();
}

void CategoryBus::updateAbSwap() {
  const int mode = operate().abMode(me);
  const u8 program = record(0).programBus;
  abSwap_ = mode == 1 ? (program == 1) : mode == 2 ? (program == 0) : 0;
}

// AUX buses 1..4 mix from their previous to their new source; the other MEs' trackers step with
// ME 0's sources so that any of them can report the mix.
void CategoryBus::routeAux() {
  const FrameStep frame = FrameStep::current();
  const MxifOperate& op = operate();
  for (int a = 0; a < N_AUX_MIX; ++a) {
    const int rate = op.auxTransEnable.value[a] != 0 ? op.auxTransRate.value[a] : 1;
    const int source = busSource(24 + a);
    aux_.setRate(a, rate);
    aux_.stepChannel(a, source, frame);
    int previous = -1, current = -1;
    float position = 1.0f;
    aux_.getState(a, previous, current, position);
    for (int m = 1; m < N_ME; ++m) {
      CategoryBus* other = bus(m);
      if (other == nullptr || other == this) continue;
      other->aux_.setRate(a, rate);
      other->aux_.stepChannel(a, source, frame);
    }
    mxSetAuxSource(MX_AUX1 + 2 * a, busSourceToHardware(current));
    mxSetAuxSource(MX_AUX1 + 2 * a + 1, busSourceToHardware(previous));
    mxSetAuxTransition(MX_AUX1 + 2 * a, position, 0);
  }
}

void CategoryBus::routeBuses() {
  repair();
  mxSetBusSource(MX_ABUS, busSourceToHardware(busSource(0)));
  mxSetBusSource(MX_BBUS, busSourceToHardware(busSource(1)));
  followBackground();
  updateAbSwap();
  for (int u = 0; u < 2; ++u) mxSetBusSource(MX_UTIL1 + u, busSourceToHardware(busSource(10 + u)));
  if (me != 0) return;
  routeAux();
  for (int e = 28; e <= 39; ++e) mxSetAuxSource(4648 + 2 * (e - 28), busSourceToHardware(busSource(e)));
  mxSetAuxSource(MX_EXT_OUT_1, busSourceToHardware(busSource(13)));
  mxSetAuxSource(MX_EXT_OUT_2, busSourceToHardware(busSource(14)));
  const MxifExtendedDisplay* display = CategoryRegistry::instance().record<MxifExtendedDisplay>();
  if (display == nullptr || display->display == 0) {
    mxSetAuxSource(MX_EXT_OUT_3, busSourceToHardware(busSource(15)));
  }
}

void CategoryBus::setCustomInfoSource(int channel, int source) {
  MX_CHECK(0 <= channel && channel < N_CUSTOM_INFO);
  customInfoSource_[channel] = source;
}

int CategoryBus::customInfoSource(int channel) const {
  MX_CHECK(0 <= channel && channel < N_CUSTOM_INFO);
  return customInfoSource_[channel];
}

}  // namespace category
