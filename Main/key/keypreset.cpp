#include "Main/key/keypreset.h"

#include "Main/bus/button.h"
#include "Main/framework/lookup.h"
#include "Main/memory/shotmem.h"
#include "Main/panel/led.h"

namespace category {
namespace {

using Preset = MxifKeyPreset;

// Key-select buttons: 1700 + b selects key b in the group of the event's ME, 1800 + b in group 4,
// 2100 + b in group 9.
constexpr int GROUP_BUTTON = 1700, PANEL_GROUP_BUTTON = 1800, VIEW_GROUP_BUTTON = 2100;
constexpr int N_MARKED = 8;  // buttons 4..7 of the first two sets are marked but select nothing

// Lamp codes: the key-select lamps of keys 1..4, then the lamps of presets 1..4.
constexpr int ME_KEY_LAMP[2] = {350, 354};  // bank A, bank B
constexpr int ME_PRESET_LAMP[2] = {358, 362};
constexpr int ME_PRESET_LAMPS = 8;          // both banks
constexpr int PANEL_KEY_LAMP = 2200, PANEL_PRESET_LAMP = 2208;
constexpr int PANEL_PRESET_LAMPS = 8;       // 2208..2215
constexpr int VIEW_KEY_LAMP = 3128, VIEW_PRESET_LAMP = 3132;
// The shared bank on panel 0: two title lamps per key, each followed by the lamps of presets 1..3.
constexpr int SHARED_TITLE[2][CategoryKeyPreset::N_KEYS] = {{3300, 3306, 3312, 3320}, {3328, 3334, 3340, 3346}};

constexpr int LAMP_OFF = 0, LAMP_WINDOW = 1, LAMP_ON = 2;

int presetRegister(int group, int key, int preset) {
  return CategoryShotMemory::FIRST_KEY_PRESET + 16 * group + 4 * key + preset;
}

bool isStored(int r) {
  auto* status = CategoryRegistry::instance().find<CategoryShotMemoryStatus>(TYPE_SHOT_MEMORY_STATUS, 0);
  return status != nullptr && status->isStored(r) == 1;
}

CategoryLed* panelLamps() { return CategoryRegistry::instance().find<CategoryLed>(TYPE_LED, 0); }

// The ME lamp store of ME me (ME 0's where that ME has none).
CategoryMeLed* meLamps(int me) {
  return CategoryRegistry::instance().find<CategoryMeLed>(TYPE_ME_LED, 0 <= me && me < N_ME ? me : 0);
}

// Key-select lamps (2 for the target key) and the four preset lamps of one group on one panel.
template <class Store>
void putGroupLamps(Store* store, int panel, int keyCode, int presetCode, int target, const u8 (&preset)[4]) {
  if (store == nullptr) return;
  u8 keys[CategoryKeyPreset::N_KEYS];
  for (int c = 0; c < CategoryKeyPreset::N_KEYS; ++c) keys[c] = c == target ? LAMP_ON : LAMP_OFF;
  store->setLeds(panel, keyCode, keys, CategoryKeyPreset::N_KEYS);
  store->setLeds(panel, presetCode, preset, CategoryKeyPreset::N_PRESETS);
}

}  // namespace

CategoryKeyPreset& CategoryKeyPreset::instance() {
  static CategoryKeyPreset category;
  return category;
}

CategoryKeyPreset::CategoryKeyPreset() {
  for (PanelMarks& m : marks_) {
    for (int g = 0; g < N_ME_GROUPS; ++g) {
      for (int b = 0; b < N_MARKED; ++b) m.group[g][b].id = static_cast<u32>(GROUP_BUTTON + b);
    }
    for (int b = 0; b < N_MARKED; ++b) m.panelGroup[b].id = static_cast<u32>(PANEL_GROUP_BUTTON + b);
    for (int k = 0; k < N_KEYS; ++k) m.viewGroup[k].id = static_cast<u32>(VIEW_GROUP_BUTTON + k);
  }
  resetState();
  CategoryButtonEvent::setHook(ButtonReceiver::KEY_PRESET, [](CategoryInterface& target, const Event& ev) {
    if (auto* presets = dynamic_cast<CategoryKeyPreset*>(&target)) presets->onButton(ev);
  });
}

void CategoryKeyPreset::resetState() {
  for (auto& row : table_) {
    for (s32& e : row) e = -1;
  }
  for (s32& s : shared_) s = -1;
  lastGroup_ = lastKey_ = countdown_ = lastCleared_ = -1;
  clearMode_ = 0;
}

void CategoryKeyPreset::initInternal() {
  CategoryCommon::initInternal();
  resetState();
  for (PanelMarks& m : marks_) {
    for (auto& group : m.group) {
      for (Mark& b : group) b.pressed = 0;
    }
    for (Mark& b : m.panelGroup) b.pressed = 0;
    for (Mark& b : m.viewGroup) b.pressed = 0;
  }
}

bool CategoryKeyPreset::acceptField(const codec::FieldView& f, const MxifKeyPreset& in, int idx) {
  (void)idx;
  return limits::check(in, f) == 1;
}

s32 CategoryKeyPreset::selection(int row, int column) const {
  MX_CHECK(0 <= row && row < N_ROWS && 0 <= column && column < N_COLUMNS);
  return table_[row][column];
}

s32 CategoryKeyPreset::sharedSelection(int key) const {
  MX_CHECK(0 <= key && key < N_KEYS);
  return shared_[key];
}

void CategoryKeyPreset::selectPreset(int group, int key, int preset, u8 window, u8 set) {
  MX_CHECK(0 <= group && group < N_PRESET_GROUPS);
  MX_CHECK(0 <= key && key < N_KEYS);
  MX_CHECK(0 <= preset && preset < N_PRESETS);
  const bool shared = group == SHARED_GROUP && preset < N_SHARED_PRESETS;
  if (set != 0) {
    // A group has one selected key at most.
    for (s32& e : table_[group]) e = -1;
    table_[group][key] = preset;
    if (shared) shared_[key] = preset;
    clearMode_ = 0;
  } else {
    if (table_[group][key] == preset) table_[group][key] = -1;
    if (shared && shared_[key] == preset) shared_[key] = -1;
    lastCleared_ = preset;
    clearMode_ = 1;
  }
  if (group == SHARED_GROUP) {
    for (int c = 0; c < N_COLUMNS; ++c) table_[VIEW_GROUP][c] = table_[SHARED_GROUP][c];
  }
  if (window != 0) {
    lastGroup_ = group;
    lastKey_ = preset < N_SHARED_PRESETS ? key : -1;
    countdown_ = WINDOW_FRAMES;
  } else {
    lastGroup_ = countdown_ = lastKey_ = -1;
  }
}

void CategoryKeyPreset::onButton(const Event& ev) {
  // The marks are kept per panel and ME: an event from elsewhere has none.
  if (ev.panel >= N_PANELS || ev.getMe() >= N_ME) return;
  if (!ev.isPressed()) return;
  PanelMarks& m = marks_[ev.panel];
  const u32 code = static_cast<u32>(ev.getCode());
  for (Mark& b : m.group[ev.getMe()]) {
    if (b.id == code) b.pressed = 1;
  }
  for (Mark& b : m.panelGroup) {
    if (b.id == code) b.pressed = 1;
  }
  for (Mark& b : m.viewGroup) {
    if (b.id == code) b.pressed = 1;
  }
}

int CategoryKeyPreset::panelTarget(int panel, int group) {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MX_CHECK(0 <= group && group < N_ROWS);
  const Preset::Panel& r = record(0).panel[panel];
  if (group <= PANEL_GROUP) return r.target[group];
  return group < VIEW_GROUP ? r.extra[group - PANEL_GROUP - 1] : r.group9;
}

void CategoryKeyPreset::setPanelTarget(int panel, const MxifKeyPreset::Panel& change) {
  MX_CHECK(0 <= panel && panel < N_PANELS);
  MxifKeyPreset& r = record(0);
  codec::merge(r.panel[panel], change);
  codec::setAllPresence(r);
}

u8 CategoryKeyPreset::recallOption(int option) {
  MX_CHECK(0 <= option && option < MxifKeyPreset::N_RECALL);
  return record(0).recall[option];
}

void CategoryKeyPreset::selectTarget(int panel, int group, int key) {
  if (panelTarget(panel, group) == key) return;
  Preset::Panel change{};
  if (group == VIEW_GROUP) {
    change.group9 = static_cast<u8>(key);
    change.group9Mask = 1;
  } else {
    change.target[group] = static_cast<u8>(key);
    change.targetMask = 1u << group;
  }
  setPanelTarget(panel, change);
}

void CategoryKeyPreset::processButtons() {
  for (int p = 0; p < N_PANELS; ++p) {
    PanelMarks& m = marks_[p];
    for (int b = 0; b < N_KEYS; ++b) {
      for (int g = 0; g < N_ME_GROUPS; ++g) {
        if (m.group[g][b].pressed == 0) continue;
        selectTarget(p, g, b);
        m.group[g][b].pressed = 0;
      }
      if (m.panelGroup[b].pressed != 0) {
        selectTarget(p, PANEL_GROUP, b);
        m.panelGroup[b].pressed = 0;
      }
    }
    for (int k = 0; k < N_KEYS; ++k) {
      if (m.viewGroup[k].pressed == 0) continue;
      selectTarget(p, VIEW_GROUP, k);
      m.viewGroup[k].pressed = 0;
    }
  }
}

int CategoryKeyPreset::presetLamp(int row, int key, int preset, int windowGroup, bool clearRule) const {
  const bool selected = table_[row][key] == preset;
  if (clearRule) {
    if (selected) return LAMP_ON;
    return lastCleared_ == preset && windowRuns(windowGroup) ? LAMP_WINDOW : LAMP_OFF;
  }
  if (!selected || !isStored(presetRegister(windowGroup, key, preset))) return LAMP_OFF;
  return windowRuns(windowGroup) ? LAMP_WINDOW : LAMP_ON;
}

int CategoryKeyPreset::sharedPresetLamp(int key, int preset) const {
  const bool selected = shared_[key] == preset;
  const bool window = windowRuns(SHARED_GROUP) && lastKey_ == key;
  if (clearMode_ == 1) {
    if (selected) return LAMP_ON;
    return lastCleared_ == preset && window ? LAMP_WINDOW : LAMP_OFF;
  }
  if (!selected || !isStored(presetRegister(SHARED_GROUP, key, preset))) return LAMP_OFF;
  return window ? LAMP_WINDOW : LAMP_ON;
}

void CategoryKeyPreset::updateLamps() {
  if (countdown_ < 1) {
    lastGroup_ = countdown_ = lastCleared_ = lastKey_ = -1;
    clearMode_ = 0;
  } else {
    --countdown_;
  }
  const bool clearRule = clearMode_ == 1;
  // The four preset lamp states of a group row on a panel; all off without a target key.
  auto presets = [&](int panel, int row, int windowGroup, bool clear, u8 (&out)[N_PRESETS]) {
    const int target = panelTarget(panel, row);
    for (int j = 0; j < N_PRESETS; ++j) {
      out[j] = static_cast<u8>(target < N_KEYS ? presetLamp(row, target, j, windowGroup, clear) : LAMP_OFF);
    }
    return target;
  };
  const MxifCustomInfo* info = CategoryRegistry::instance().record<MxifCustomInfo>();
  CategoryLed* leds = panelLamps();
  // Each group's lamps: slot word 0, the group's own ME, bank A; v, ME v - 1, bank B.
  CategoryMeLed* groupLamps[N_ME_GROUPS];
  int bank[N_ME_GROUPS];
  for (int g = 0; g < N_ME_GROUPS; ++g) {
    const u32 slot = info != nullptr ? info->meSlot[g] : 0;
    bank[g] = slot == 0 ? 0 : 1;
    groupLamps[g] = meLamps(slot == 0 ? g : static_cast<int>(slot) - 1);
  }
  u8 lamps[N_PRESETS];
  for (int p = 0; p < N_PANELS; ++p) {
    int target = presets(p, PANEL_GROUP, PANEL_GROUP, clearRule, lamps);
    putGroupLamps(leds, p, PANEL_KEY_LAMP, PANEL_PRESET_LAMP, target, lamps);
    for (int g = 0; g < N_ME_GROUPS; ++g) {
      target = presets(p, g, g, clearRule, lamps);
      putGroupLamps(groupLamps[g], p, ME_KEY_LAMP[bank[g]], ME_PRESET_LAMP[bank[g]], target, lamps);
    }
    target = presets(p, VIEW_GROUP, SHARED_GROUP, false, lamps);
    putGroupLamps(leds, p, VIEW_KEY_LAMP, VIEW_PRESET_LAMP, target, lamps);
  }
  if (leds == nullptr) return;
  for (int c = 0; c < N_KEYS; ++c) {
    for (const auto& titles : SHARED_TITLE) {
      leds->setLed(0, titles[c], LAMP_ON);
      for (int j = 0; j < N_SHARED_PRESETS; ++j) leds->setLed(0, titles[c] + 1 + j, sharedPresetLamp(c, j));
    }
  }
}

void CategoryKeyPreset::reportSelections() {
  MxifKeyPreset& r = record(0);
  for (int e = 0; e < MxifKeyPreset::N_ENTRIES; ++e) {
    const s32 value = table_[e / N_COLUMNS][e % N_COLUMNS];
    if (r.entry[e] == value) continue;
    r.entry[e] = value;
    codec::setPresenceBit(r.entryMask, e);
  }
}

void CategoryKeyPreset::update() {
  processButtons();
  updateLamps();
  reportSelections();
}

void CategoryKeyPreset::clearAll() {
  resetState();
  if (CategoryLed* leds = panelLamps()) {
    for (int p = 0; p < N_PANELS; ++p) {
      for (int i = 0; i < PANEL_PRESET_LAMPS; ++i) leds->setLed(p, PANEL_PRESET_LAMP + i, LAMP_OFF);
      for (int j = 0; j < N_PRESETS; ++j) leds->setLed(p, VIEW_PRESET_LAMP + j, LAMP_OFF);
    }
  }
  for (int me = 0; me < N_ME; ++me) {
    CategoryMeLed* leds = meLamps(me);
    if (leds == nullptr) continue;
    for (int i = 0; i < ME_PRESET_LAMPS; ++i) leds->setLedOnAllPanels(ME_PRESET_LAMP[0] + i, LAMP_OFF);
  }
  MxifKeyPreset& r = record(0);
  for (Preset::Panel& panel : r.panel) {
    for (u8& t : panel.target) t = 0;
    for (u8& t : panel.extra) t = 0;
    panel.group9 = 0;
  }
  codec::setAllPresence(r);
}

}  // namespace category
