// The lamps of an ME's bus rows and crosspoint buttons, the last step of the bus update: each frame
// each ME lights them on one present panel, the panels in rotation. A lamp shows 1 for a source on
// air, 2 for one selected (or a button its column's shift enables), 3 for the special states, and
// 10 more while the AUX bus shown mixes.
#include <cstring>
#include <iterator>

#include "Lib/Include/rules.h"
#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/fader/faderwork.h"
#include "Main/fader/lamptally.h"
#include "Main/framework/lookup.h"
#include "Main/media/clip.h"
#include "Main/media/still.h"
#include "Main/panel/led.h"
#include "Main/panel/panelconfig.h"

namespace category {

namespace {

constexpr int OFF = 0, TALLIED = 1, LIT = 2, SPECIAL = 3;
constexpr int MIXING = 10;  // added while the AUX bus shown mixes

constexpr int N_LAMP_ROWS = 4;
constexpr int ROW_BUTTONS = CategoryXpt::N_COLUMNS;
constexpr int ROW_LAMP[N_LAMP_ROWS] = {451, 452, 450, 453};
constexpr int BUTTON_LAMP_ROW = 50;  // crosspoint lamp of button i of row r: 50 r + i
constexpr int NO_ENTRY = 255;
// A sub panel's request is taken and acted on in the frame that takes it: its answer shows it done.
constexpr rules::Rule REFRESH_REQUEST = {rules::Effect::SAME,
                                         "a sub panel's request 1 has the panel's lamps sent again in the frame that takes it, "
                                         "and is then cleared to 0"};
constexpr int SPECIAL_ROW_FIRST = 102, SPECIAL_ROW_LAST = 109;
constexpr int DELEGATION_ROW = 2;  // the bus status row the delegation lamps follow
constexpr int LAMP_SWITCH = 222, LAMP_FLAG36 = 224, LAMP_FLAGS32_BIT0 = 229, LAMP_FLAGS32_BIT1 = 230;
constexpr int FLAGS32 = 4;  // the bus status page byte 32
constexpr int SHIFT_SOURCE_1 = 300, SHIFT_SOURCE_2 = 301;
constexpr int FIRST_AUX_MIX = 24;
constexpr int FIRST_DSK_ENTRY = 16, LAST_DSK_ENTRY = 23;
constexpr int FIRST_USK_ENTRY = 72, LAST_USK_ENTRY = 79;

// Rows of the delegation lamps: the bus entry shown, its lamp, the panel lamp table whose delegation
// index writes it (-1: the ME row, always), and whether the entry after it counts as its pair.
struct Delegation {
  u8 entry;
  u16 code;
  s8 table;
  bool pair;
};
constexpr Delegation DELEGATIONS[] = {
    {2, 208, -1, true},  {4, 209, -1, true},  {6, 210, -1, true},  {8, 211, -1, true},  {10, 220, -1, true},
    {12, 221, -1, false}, {13, 212, 0, true},  {15, 215, 0, false}, {16, 712, 1, true},  {18, 713, 1, true},
    {20, 714, 1, true},  {22, 715, 1, true},  {24, 200, 0, true},  {26, 201, 0, true},  {28, 202, 0, true},
    {30, 203, 0, true},  {32, 204, 0, true},  {34, 205, 0, true},  {36, 206, 0, true},  {38, 207, 0, true},
};

// The row-setting presets an operate bus setting names: bus entry, kind, pair flag.
struct RowPreset {
  u8 entry, kind;
  bool pair;
};
constexpr RowPreset ROW_PRESETS[] = {
    {255, 0, false}, {2, 1, true},    {4, 2, true},    {6, 3, true},    {8, 4, true},
    {0, 5, false},   {1, 6, false},   {10, 7, true},   {11, 8, true},   {12, 9, false},
    {16, 10, true},  {18, 11, true},  {20, 12, true},  {22, 13, true},  {22, 14, false},
    {102, 15, true}, {104, 16, true}, {106, 17, true}, {108, 18, true},
};
constexpr int N_ROW_PRESETS = static_cast<int>(std::size(ROW_PRESETS));
constexpr int KIND_AB = 14;      // the A/B rows also match on entries 0 and 1
constexpr int KIND_BELOW = 8;    // also near with the entry before it
constexpr int PRESET_LAMP[] = {208, 209, 210, 211, 220, 221};
// The bus rows of a setting's four preset indexes.
constexpr int PRESET_ROW[] = {2, 3, 0, 1};

bool specialRow(int row) { return SPECIAL_ROW_FIRST <= row && row <= SPECIAL_ROW_LAST; }

int tallyState(int me, int entry) { return busTally(me, entry) != 0 ? TALLIED : LIT; }

// Whether the layer of a transition is on air.
bool onAir(const AutoTransition* t) { return t != nullptr && faderwork::programPosition(*t) >= AutoTransition::LOW; }

// Whether a program bus of any ME holds a still or clip source of kind (13 video, 14 key) that is
// being recorded.
bool recordedOnProgram(int kind) {
  auto& registry = CategoryRegistry::instance();
  if (registry.at(TYPE_STILL_MEMORY, 0) == nullptr || registry.at(TYPE_CLIP_REC, 0) == nullptr) return false;
  for (int m = 0; m < N_ME; ++m) {
    auto* bus = categoryAt<CategoryBus>(TYPE_BUS, m);
    if (bus == nullptr) continue;
    const int source = bus->busSource(bus->record(0).programBus == 1 ? 1 : 0);
    if (stillClipSourceKind(source) == kind && (isRecordingStillSource(source) || isRecordingClipSource(source))) {
      return true;
    }
  }
  return false;
}

// What the lamps read of one panel's crosspoint assignment, the same for every ME: the shift columns
// among its buttons and the first button (0..95) that shows each source. Both are found again
// whenever the assignment or its column classes differ from the copy they were found from, so no
// path that changes the assignment can leave them stale.
class PanelButtons {
 public:
  // Takes the panel's assignment as it stands (xpt: the assignment category, may be null).
  void follow(int panel, const CategoryXpt* xpt) {
    const MxifXptAssign& r = recordOf<MxifXptAssign>(0, panel);
    const u8* classes = xpt != nullptr ? xpt->columnClasses(panel) : NO_CLASSES;
    if (known_ && xpt == xpt_ && std::memcmp(r.source, sources_, sizeof sources_) == 0 &&
        std::memcmp(classes, classes_, sizeof classes_) == 0) {
      return;
    }
    known_ = true;
    mapped_ = false;
    xpt_ = xpt;
    std::memcpy(sources_, r.source, sizeof sources_);
    std::memcpy(classes_, classes, sizeof classes_);
    markers_ = 0;
    for (s16 source : sources_) {
      if (source == SHIFT_SOURCE_1) markers_ |= 1;
      if (source == SHIFT_SOURCE_2) markers_ |= 2;
    }
  }

  // A shift column (source 300 or 301) among the buttons, while the operate record lets it shift
  // (byte 8 or 9 not 1): bit 0 and bit 1.
  int shiftFlags(const MxifOperate& op) const {
    return ((markers_ & 1) != 0 && op.busOptionA != 1 ? 1 : 0) | ((markers_ & 2) != 0 && op.busOptionB != 1 ? 2 : 0);
  }

  // The first button 0..95 whose source is `source`, -1 when none.
  int firstShowing(CategoryXpt& xpt, int panel, int source) {
    if (source < 0 || source >= N_MAPPED) return search(xpt, panel, source);
    if (!mapped_) {
      std::memset(first_, -1, sizeof first_);
      // Downwards, so that the lowest button showing a source is the one kept.
      for (int b = CategoryXpt::N_COLUMN_BUTTONS - 1; b >= 0; --b) {
        const int s = xpt.sourceOf(panel, b);
        if (0 <= s && s < N_MAPPED) first_[s] = static_cast<s8>(b);
      }
      mapped_ = true;
    }
    return first_[source];
  }

 private:
  static constexpr int N_MAPPED = 512;  // the sources a button can take lie below; others are searched
  static constexpr u8 NO_CLASSES[CategoryXpt::N_COLUMNS] = {};

  static int search(CategoryXpt& xpt, int panel, int source) {
    for (int b = 0; b < CategoryXpt::N_COLUMN_BUTTONS; ++b) {
      if (xpt.sourceOf(panel, b) == source) return b;
    }
    return -1;
  }

  bool known_ = false;
  bool mapped_ = false;
  const CategoryXpt* xpt_ = nullptr;
  s16 sources_[MxifXptAssign::N_BUTTONS] = {};
  u8 classes_[CategoryXpt::N_COLUMNS] = {};
  int markers_ = 0;
  s8 first_[N_MAPPED] = {};
};

PanelButtons panelButtons[CategoryBus::N_PANELS];

// Whether a button on page `buttonPage` shows on a row set to `page`, with the panel's shift flags.
bool onPage(int buttonPage, int page, int shift) {
  if (buttonPage == page) return true;
  switch (shift) {
    case 1:
      return (page == 0 && buttonPage == 1) || (page == 2 && buttonPage == 3);
    case 2:
      return (page == 0 && buttonPage == 2) || (page == 1 && buttonPage == 3);
    case 3:
      return page == 0;
    default:
      return false;
  }
}

}  // namespace

u8 CategoryBus::present_[N_PANELS] = {1, 0, 0};

// What one frame's lamp work on the lamp panel reads.
struct CategoryBus::LampPass {
  CategoryMeLed& meLeds;
  CategoryLed& panelLeds;
  CategoryXpt* xpt;
  CategoryFaderEvent* faders;
  PanelButtons& buttons;
  int panel;
  const MxifBusStatus& status;
  int shift;
  bool idle;      // the background transition rests
  bool bySource;  // the control panel configuration lights the buttons by source
};

bool CategoryBus::panelPresent(int panel) {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  return present_[panel] != 0;
}

void CategoryBus::requestPanelRefresh(int panel) {
  MX_CHECK(panel == 1 || panel == 2);
  present_[panel] = 1;
  auto* config = categoryAt<CategoryControlPanelConfig>(TYPE_CONTROL_PANEL_CONFIG, 0);
  if (config == nullptr) return;
  MxifControlPanelConfig change;
  change.panel(panel).mask = MxifControlPanelConfig::Panel::REQUEST;
  change.panel(panel).request = 0;
  config->assign(change, 0);
}

void CategoryBus::updateLamps() {
  const MxifControlPanelConfig& config = recordOf<MxifControlPanelConfig>();
  for (int p = 1; p < N_PANELS; ++p) {
    if (config.panel(p).request == 0) continue;
    rules::note(REFRESH_REQUEST, config, config.panel(p).request);
    requestPanelRefresh(p);
  }
  do {
    lampPanel_ = (lampPanel_ + 1) % N_PANELS;
  } while (!panelPresent(lampPanel_));

  auto* meLeds = categoryAt<CategoryMeLed>(TYPE_ME_LED, me);
  auto* panelLeds = categoryAt<CategoryLed>(TYPE_LED, 0);
  if (meLeds == nullptr || panelLeds == nullptr) return;
  const MxifOperate& op = recordOf<MxifOperate>();
  auto* faders = categoryAt<CategoryFaderEvent>(TYPE_FADER_EVENT, 0);
  auto* xpt = categoryAt<CategoryXpt>(TYPE_XPT_ASSIGN, 0);
  PanelButtons& buttons = panelButtons[lampPanel_];
  buttons.follow(lampPanel_, xpt);
  const LampPass pass{*meLeds,
                      *panelLeds,
                      xpt,
                      faders,
                      buttons,
                      lampPanel_,
                      recordOf<MxifBusStatus>(me, lampPanel_),
                      buttons.shiftFlags(op),
                      faders == nullptr || faders->isTransitionIdle(me) != 0,
                      config.options.lampFlag == 1};

  // The last of the panel's delegation bytes that names this ME.
  int delegation = -1;
  for (int i = 0; i < MxifOperate::N_ME_ROWS; ++i) {
    if (op.meChange(lampPanel_).value[i] == me) delegation = i;
  }
  if (delegation >= 0) delegationLamps(pass, delegation);
  for (int r = 0; r < N_LAMP_ROWS; ++r) {
    const int entry = pass.status.rows[r];
    if (!specialRow(entry)) meLeds->setLed(lampPanel_, ROW_LAMP[r], rowSourceState(pass, entry));
  }
  for (int r = 0; r < 2; ++r) abLamp(pass, r);
  for (int r = 0; r < N_LAMP_ROWS; ++r) crosspointRow(pass, r);
  rowSettingLamps(pass);
}

void CategoryBus::delegationLamps(const LampPass& pass, int delegation) {
  const int shown = pass.status.rows[DELEGATION_ROW];
  for (const Delegation& d : DELEGATIONS) {
    const int state = d.entry == shown ? LIT : d.pair && d.entry + 1 == shown ? SPECIAL : OFF;
    if (d.table < 0) {
      pass.meLeds.setLed(pass.panel, d.code, state);
    } else if (d.table == delegation) {
      pass.panelLeds.setLed(pass.panel, d.code, state);
    }
  }
  pass.meLeds.setLed(pass.panel, LAMP_SWITCH, pass.status.switchLamp == 1 ? SPECIAL : OFF);
}

// The lamp of a bus row by the entry it shows.
int CategoryBus::rowSourceState(const LampPass& pass, int e) {
  if (e == NO_ENTRY) return OFF;
  CategoryFaderEvent* faders = pass.faders;
  const int state = tallyState(me, e);
  if (FIRST_AUX_MIX <= e && e < FIRST_AUX_MIX + N_AUX_MIX) return aux_.isRunning(e - FIRST_AUX_MIX) ? state + MIXING : state;
  if (2 <= e && e <= 9) {
    // A key bus goes dark while its key is off air.
    const int slot = AutoTransition::keySlot(me, (e - 2) / 2);
    return onAir(faders != nullptr ? &faders->transition(slot) : nullptr) ? state : OFF;
  }
  if (FIRST_DSK_ENTRY <= e && e <= LAST_DSK_ENTRY) {
    const int slot = AutoTransition::dskSlot((e - FIRST_DSK_ENTRY) / 2);
    return onAir(faders != nullptr ? &faders->transition(slot) : nullptr) ? tallyState(DSK_TALLY_ME, e) : OFF;
  }
  if (e == 10 || e == 11) return busTally(me, e);
  if ((e == 13 || e == 14) && me == 0) return busTally(me, e) != 0 ? TALLIED : recordedOnProgram(e) ? LIT : OFF;
  if (e == 12 || e == 15) return OFF;
  if (FIRST_USK_ENTRY <= e && e <= LAST_USK_ENTRY) {
    const int pair = (e - FIRST_USK_ENTRY) / 2;
    return recordOf<MxifUpStreamKeyAssign>().onOff[pair] == 1 ? tallyState(0, FIRST_USK_ENTRY + 2 * pair) : OFF;
  }
  return state;
}

// Rows 0 and 1 showing the A or B bus: the bus of the row (swapped with abSwap), dark while it is
// not on program and the background rests.
void CategoryBus::abLamp(const LampPass& pass, int row) {
  if (pass.status.rows[row] > 1) return;
  const int e = abSwap_ == 1 ? 1 - row : row;
  const int state = e != record(0).programBus && pass.idle ? OFF : tallyState(me, e);
  pass.meLeds.setLed(pass.panel, ROW_LAMP[row], state);
}

int CategoryBus::lampButton(int code, const LampPass& pass, int page) {
  int b = -1;
  if (0 <= code && code < 768 && code / 256 == pass.panel) {
    b = code % 256;
    if (b >= N_BUTTONS) return -1;
  } else {
    const int source = codeToSource(code);
    if (source != -1 && pass.xpt != nullptr) b = pass.buttons.firstShowing(*pass.xpt, pass.panel, source);
    if (b < 0) return -1;
  }
  return onPage(b / ROW_BUTTONS, page, pass.shift) ? b % ROW_BUTTONS : -1;
}

void CategoryBus::crosspointRow(const LampPass& pass, int row) {
  int e = pass.status.rows[row];
  if (specialRow(e)) return;
  int pageRow = row;
  if (abSwap_ == 1 && row < 2) {
    if (e == 0 || e == 1) e = 1 - e;
    pageRow = 1 - row;
  }
  const int page = pass.status.pages[pageRow];
  const bool entry = e < N_ENTRIES;  // a row byte that names no bus entry selects no button
  int state = tallyState(FIRST_DSK_ENTRY <= e && e <= LAST_DSK_ENTRY ? DSK_TALLY_ME : me, e);
  if ((e == 0 || e == 1) && e != record(0).programBus && pass.idle) state = SPECIAL;
  const bool mixing = FIRST_AUX_MIX <= e && e < FIRST_AUX_MIX + N_AUX_MIX && aux_.isRunning(e - FIRST_AUX_MIX);
  if (mixing) state += MIXING;

  const int selected = entry ? lampButton(record(0).entries[e], pass, page) : -1;
  const int outgoing = mixing ? lampButton(prevCode_[e], pass, page) : -1;
  const int source = entry ? busSource(e) : -1;
  const int outgoingSource = mixing ? codeToSource(prevCode_[e]) : -1;
  // A button its column's shift enables is lit (without shift flags none is), then the selection.
  u8 lamps[ROW_BUTTONS] = {};
  if (pass.shift != 0 && pass.xpt != nullptr) {
    for (int i = 0; i < ROW_BUTTONS; ++i) {
      if (pass.xpt->isButtonMasked(pass.panel, page * ROW_BUTTONS + i, pass.shift)) lamps[i] = LIT;
    }
  }
  if (pass.bySource && e != 12) {
    for (int i = 0; i < ROW_BUTTONS; ++i) {
      const int shows = pass.xpt != nullptr ? pass.xpt->sourceOf(pass.panel, page * ROW_BUTTONS + i) : -1;
      if (shows != -1 && shows == source) {
        lamps[i] = static_cast<u8>(state);
      } else if (shows != -1 && shows == outgoingSource) {
        lamps[i] = OFF;
      }
    }
  } else {
    if (outgoing >= 0) lamps[outgoing] = SPECIAL;
    if (selected >= 0) lamps[selected] = static_cast<u8>(state);
  }
  pass.meLeds.setLeds(pass.panel, BUTTON_LAMP_ROW * row, lamps, ROW_BUTTONS);
}

// The lamps of the six bus settings stored for this ME: 2 when the panel's four rows show the
// setting exactly, 3 when they show it or the pair partner of a row's entry; then the panel's flag
// lamps.
void CategoryBus::rowSettingLamps(const LampPass& pass) {
  const MxifOperate& op = recordOf<MxifOperate>();
  const u8* rows = pass.status.rows;
  for (int s = 0; s < MxifOperate::N_SETTINGS; ++s) {
    const RowPreset* preset[N_LAMP_ROWS] = {};
    for (int k = 0; k < N_LAMP_ROWS; ++k) {
      const int index = op.busSettings[me][s].code[k];
      // An index past the table names no preset: that row matches nothing.
      if (index < N_ROW_PRESETS) preset[PRESET_ROW[k]] = &ROW_PRESETS[index];
    }
    auto kind = [&](int r) { return preset[r] != nullptr ? preset[r]->kind : -1; };
    const bool ab = kind(0) == KIND_AB || kind(1) == KIND_AB;
    bool exact = true, near = true;
    for (int r = 0; r < N_LAMP_ROWS; ++r) {
      const RowPreset* p = preset[r];
      if (p == nullptr) {
        exact = near = false;
        break;
      }
      const bool match = p->entry == rows[r] || (ab && r < 2 && rows[r] == r);
      const bool partner = p->pair && (rows[r] == p->entry + 1 || (p->kind == KIND_BELOW && rows[r] == p->entry - 1));
      exact = exact && match;
      near = near && (match || partner);
    }
    pass.meLeds.setLed(pass.panel, PRESET_LAMP[s], exact ? LIT : near ? SPECIAL : OFF);
  }
  pass.meLeds.setLed(pass.panel, LAMP_FLAG36, pass.status.flag36 == 1 ? TALLIED : OFF);
  pass.meLeds.setLed(pass.panel, LAMP_FLAGS32_BIT0, (pass.status.pages[FLAGS32] & 1) != 0 ? LIT : OFF);
  pass.meLeds.setLed(pass.panel, LAMP_FLAGS32_BIT1, (pass.status.pages[FLAGS32] & 2) != 0 ? LIT : OFF);
}

}  // namespace category
