#include "Main/tally/tallyresolve.h"

#include <cstddef>

#include "Main/bus/bus.h"
#include "Main/fader/faderevent.h"
#include "Main/io/io.h"
#include "Main/key/usk.h"
#include "Main/media/clip.h"
#include "Main/media/still.h"
#include "Main/panel/operate.h"

namespace category {

namespace {

constexpr float LOW = AutoTransition::LOW;
constexpr float HIGH = AutoTransition::HIGH;

// Bus entries as the tally uses them.
constexpr int ENTRY_KEY_FILL = 2;   // + 2k; the key source bus follows
constexpr int ENTRY_AUX = 9;        // + select 1 or 2: the border and background auxiliary buses
constexpr int ENTRY_DSK_FILL = 16;  // + 2k
constexpr int ENTRY_BUS_OUTPUT = 24;  // 24..71 give the bus outputs 240..287
constexpr int ENTRY_USK_FILL = 72;  // + 2j
constexpr int FIRST_BUS_OUTPUT = 240, LAST_BUS_OUTPUT = 287;

template <class R>
const R& orZero(const R* r) {
  static const R zero{};
  return r != nullptr ? *r : zero;
}

// A position in program terms: 1 - position A while the transition's flip is negative.
float programPosition(const AutoTransition& t) { return t.flip < 0 ? 1.0f - t.positionA : t.positionA; }

u8 byteOf(u32 word, int b) { return static_cast<u8>(word >> (8 * b)); }

// The up-stream key assignment entry of a source; -1 for a source no up-stream key keys.
int assignmentIndex(int s) {
  if (10 <= s && s <= 41) return s - 10;
  if (s == 140 || s == 141) return s - 12;
  for (int pair = 0; pair < 4; ++pair) {
    const int still = FIRST_STILL_SOURCE + 3 * pair, clip = FIRST_CLIP_SOURCE + 3 * pair;
    if (s == still || s == still + 1) return 130 + 2 * pair + (s - still);
    if (s == clip || s == clip + 1) return 138 + 2 * pair + (s - clip);
  }
  if (220 <= s && s <= 223) return s - 74;
  return -1;
}

// The layer of a DSK output by the DSK layer test: 0 or 1, -1 for none.
int dskLayer(const MxifMainframeConfig& c, int s) {
  const bool one = c.dskConfig.dskBackground2Own == 1;
  if (s == 170 || s == 172) return 0;
  if (s == 171) return one ? 1 : 0;
  if (s == 173) {
    if (c.dskConfig.dskOutput2Source == 0 || c.dskConfig.dskOutput2Source == 5) return one ? 1 : 0;
    if (c.dskConfig.dskOutput2Source <= 4) return one && c.dskConfig.dskProgram[c.dskConfig.dskOutput2Source - 1] == 1 ? 1 : 0;
    return -1;
  }
  if (174 <= s && s <= 177) return one && c.dskConfig.dskProgram[s - 174] == 1 ? 1 : 0;
  return -1;
}

// The ME output that feeds DSK output s on layer x; -1 for none.
int dskFeedSource(const MxifMainframeConfig& c, int s, int x) {
  const int s0 = c.dskConfig.dskOption == 1 ? (c.dskConfig.dskTopOption > 1 ? 0 : 1 - c.dskConfig.dskTopOption) : 0;
  auto anyProgram = [&](int value) {
    for (u8 p : c.dskConfig.dskProgram) {
      if (p == value) return true;
    }
    return false;
  };
  int side;  // 1 the program side, 0 the preview side
  if (s == 170 || s == 171) {
    side = 1;
  } else if (s == 172) {
    side = s0 != 0 ? 0 : anyProgram(0) ? 1 : 0;
  } else if (s == 173) {
    if (1 <= c.dskConfig.dskOutput2Source && c.dskConfig.dskOutput2Source <= 4) {
      side = s0 != 0 ? 0 : 1;
    } else if (c.dskConfig.dskOutput2Source == 5) {
      side = 0;
    } else {
      side = s0 == 0 && anyProgram(1) ? 1 : 0;
    }
  } else if (174 <= s && s <= 177) {
    side = c.dskConfig.dskCleanAlt[s - 174] != 0 ? (s0 != 0 ? 0 : 1) : 1;
  } else {
    return -1;
  }
  switch (x == 1 ? c.dskConfig.dskBackground2 : c.dskConfig.dskBackground1) {
    case 0: return side != 0 ? 150 : 151;
    case 1: return side != 0 ? 154 : 155;
    case 8: return side != 0 ? 152 : 151;
    case 9: return side != 0 ? 156 : 155;
    default: return -1;
  }
}

}  // namespace

TallyResolver::TallyResolver(const u32* flags, bool transitionMode)
    : flags_(flags),
      mode_(transitionMode ? TRANSITION : HARDWARE),
      config_(orZero(CategoryRegistry::instance().record<MxifMainframeConfig>())) {
  auto& reg = CategoryRegistry::instance();
  for (int m = 0; m < N_ME; ++m) {
    buses_[m] = reg.find<CategoryBus>(TYPE_BUS, m);
    bkgd_[m] = &orZero(reg.record<MxifBkgd>(m));
    for (int k = 0; k < 4; ++k) keys_[m][k] = &orZero(reg.record<MxifKey>(m, k));
  }
  for (int k = 0; k < 4; ++k) {
    dsk_[k] = &orZero(reg.record<MxifDsk>(0, k));
    usk_[k] = &orZero(reg.record<MxifUpStreamKey>(0, k));
  }
  uskAssign_ = reg.find<CategoryUpStreamKeyAssign>(TYPE_UP_STREAM_KEY_ASSIGN, 0);
  faders_ = reg.find<CategoryFaderEvent>(TYPE_FADER_EVENT, 0);
  auto* operate = reg.find<CategoryOperate>(TYPE_OPERATE, 0);
  fade_ = operate != nullptr ? &operate->fadeTracker() : nullptr;
  inputs_ = reg.find<CategoryInputVideo>(TYPE_INPUT_VIDEO, 0);
  stills_ = reg.get(TYPE_STILL_MEMORY, 0) != nullptr;
  clips_ = reg.get(TYPE_CLIP_REC, 0) != nullptr;
}

void TallyResolver::resolve(CategorySourceTally::Tally& w, int source) {
  w_ = &w;
  resolve(source, mode_);
}

void TallyResolver::resolve(int source, Mode mode) {
  while (source >= 0) {
    const int index = tallyIndexOf(source);
    if (index >= 0 && w_->isFlagged(index)) return;
    if (isLeftOut(source)) return;
    if (index >= 0) w_->flagIndex(index);
    if (source < FIRST_BUS_OUTPUT || source > LAST_BUS_OUTPUT) {
      outputRule(source, mode);
      return;
    }
    const int entry = ENTRY_BUS_OUTPUT + source - FIRST_BUS_OUTPUT;
    flagEntryEverywhere(entry);
    source = busSource(0, entry);
  }
}

void TallyResolver::flagEntryEverywhere(int entry) {
  for (int m = 0; m < N_ME; ++m) flagEntry(m, entry);
}

int TallyResolver::busSource(int me, int entry) { return buses_[me] != nullptr ? buses_[me]->busSource(entry) : -1; }

// DSK program outputs while faded to black, and inputs their input status leaves out.
bool TallyResolver::isLeftOut(int source) const {
  if (source == 170 || source == 171) return fade_ != nullptr && CategoryOperate::fadeLevel(*fade_) > HIGH;
  int record = -1;
  if (10 <= source && source <= 137) record = source - 10;
  if (source == 140 || source == 141) record = source - 140;
  return record >= 0 && inputs_ != nullptr && inputs_->record(record).tallyOff == 1;
}

u8 TallyResolver::flagByte(int source) const {
  using W = CategorySourceTally::FlagWord;
  if (150 <= source && source <= 152) return byteOf(flags_[W::FLAG_ME1], source - 150);
  if (154 <= source && source <= 156) return byteOf(flags_[W::FLAG_ME1 + 1], source - 154);
  static constexpr int DSK_BYTES[] = {0, 2, 1, 3};  // 170, 171, 172, 173
  if (170 <= source && source <= 173) return byteOf(flags_[W::FLAG_DSK_PGM], DSK_BYTES[source - 170]);
  if (174 <= source && source <= 177) return byteOf(flags_[W::FLAG_DSK_CLN], source - 174);
  return 0;
}

void TallyResolver::outputRule(int s, Mode mode) {
  const int me = s <= 152 ? 0 : 1;
  if (s == 150 || s == 151 || s == 154 || s == 155) {
    if (mode == TRANSITION) {
      meOutputTransition(me, s == 151 || s == 155);
    } else {
      meOutputRule(me, flagByte(s));
    }
  } else if (s == 152 || s == 156) {
    if (mode == TRANSITION) {
      cleanOutputTransition(me);
    } else {
      cleanOutputRule(me, flagByte(s));
    }
  } else if (170 <= s && s <= 177) {
    if (mode == TRANSITION) {
      dskOutputTransition(s, flagByte(s));
    } else {
      dskOutputRule(s, flagByte(s));
    }
  } else {
    recordInputRule(s);
    upStreamKeyRule(s, mode);
  }
}

void TallyResolver::borderBusRule(int me, int select, Mode mode) {
  if (select != 1 && select != 2) return;
  flagEntry(me, ENTRY_AUX + select);
  resolveEntry(me, ENTRY_AUX + select, mode);
}

bool TallyResolver::usesKeyBus(int me, int k) const {
  const KeyStyle& s = key(me, k)->style;
  return (s.keyType == 1 || s.keyType == 2) && s.keySource == 1;
}

float TallyResolver::keyPosition(int me, int k) const {
  return faders_ != nullptr ? programPosition(faders_->transition(AutoTransition::keySlot(me, k))) : 0.0f;
}

float TallyResolver::dskPosition(int k) const {
  return faders_ != nullptr ? programPosition(faders_->transition(AutoTransition::dskSlot(k))) : 0.0f;
}

// DSK k: its fill bus, and its key bus when its key signal comes from there (key type 1 in the
// hardware-status mode, 1 or 2 in the transition mode), on ME index 1's bus.
void TallyResolver::dskRule(int k, Mode mode) {
  const int fill = ENTRY_DSK_FILL + 2 * k;
  flagEntryEverywhere(fill);
  resolveEntry(1, fill, mode);
  const KeyStyle& s = dsk_[k]->style;
  const bool keyType = s.keyType == 1 || (mode == TRANSITION && s.keyType == 2);
  if (!keyType || s.keySource != 1) return;
  flagEntryEverywhere(fill + 1);
  resolveEntry(1, fill + 1, mode);
}

void TallyResolver::dskBackgroundFeed(int s, Mode mode) {
  const int layer = dskLayer(config_, s);
  if (layer >= 0) resolve(dskFeedSource(config_, s, layer), mode);
}

// A still store or clip channel that records tallies its video or key source through the record
// input bus; what feeds that bus follows the hardware-status rules.
void TallyResolver::recordInputRule(int s) {
  const bool recording = (stills_ && isRecordingStillSource(s) != 0) || (clips_ && isRecordingClipSource(s) != 0);
  const int entry = recording ? stillClipSourceKind(s) : -1;
  if (entry < 0) return;
  flagEntryEverywhere(entry);
  resolveEntry(0, entry, HARDWARE);
}

// An up-stream key laid over the source: its fill by the hardware-status rules, its key source
// (when the key uses one) by the resolution's mode.
void TallyResolver::upStreamKeyRule(int s, Mode mode) {
  const int index = assignmentIndex(s);
  if (index < 0 || uskAssign_ == nullptr) return;
  const MxifUpStreamKeyAssign& a = uskAssign_->record(0);
  const int n = a.entries[index].value;
  if (uskAssign_->isKeyAssigned(n) == 0) return;
  const int j = (n - 1) % MxifUpStreamKeyAssign::N_KEYS;
  const KeyStyle& style = usk_[j]->style;
  const bool keyed = style.keyType != 0 && style.keyType != 3 && style.keySource != 0;
  flagEntry(0, ENTRY_USK_FILL + 2 * j);
  resolve(a.source[2 * j], HARDWARE);
  if (!keyed) return;
  flagEntry(0, ENTRY_USK_FILL + 2 * j + 1);
  resolve(a.source[2 * j + 1], mode);
}

// ---- the hardware-status mode ------------------------------------------------------------------------

void TallyResolver::meOutputRule(int me, u8 f) {
  if (f & 0x6) {
    flagEntry(me, 0);
    flagEntry(me, 1);
  }
  if (f & 0x2) resolveEntry(me, 0, HARDWARE);
  if (f & 0x4) resolveEntry(me, 1, HARDWARE);
  const MxifBkgd& b = *bkgd_[me];
  if (f & 0x1) borderBusRule(me, b.option145, HARDWARE);
  const float p = faders_ != nullptr ? faders_->transition(AutoTransition::bkgdSlot(me)).position(0) : 0.0f;
  if (p > LOW && b.type == 1 && b.borderOn == 1 && b.patternKind == 0 && b.patternNumber != 23) {
    borderBusRule(me, b.borderSource, HARDWARE);
  }
  for (int k = 0; k < 4; ++k) {
    if ((f & (0x8 << k)) == 0) continue;
    const int fill = ENTRY_KEY_FILL + 2 * k;
    flagEntry(me, fill);
    resolveEntry(me, fill, HARDWARE);
    if (usesKeyBus(me, k)) {
      flagEntry(me, fill + 1);
      resolveEntry(me, fill + 1, HARDWARE);
    }
    if (key(me, k)->edge.type != 0) borderBusRule(me, key(me, k)->edge.fill, HARDWARE);
  }
}

void TallyResolver::cleanOutputRule(int me, u8 f) {
  const MainframeMeConfig& c = config_.meConfig[me];
  if (c.cleanTapMode != 1) {
    meOutputRule(me, f);
    return;
  }
  const int k = c.cleanKey;
  if (k >= 4 || keyPosition(me, k) <= LOW) return;  // a key beyond the four counts nowhere
  const int entry = ENTRY_KEY_FILL + 2 * k + (usesKeyBus(me, k) ? 1 : 0);
  flagEntry(me, entry);
  resolveEntry(me, entry, HARDWARE);
}

void TallyResolver::dskOutputRule(int s, u8 f) {
  if (f & 0x1) dskBackgroundFeed(s, HARDWARE);
  for (int k = 0; k < 4; ++k) {
    if (f & (0x2 << k)) dskRule(k, HARDWARE);
  }
}

// ---- the transition mode -------------------------------------------------------------------------------

// The background of ME me: the program bus entry (for a preview with the preview background setting
// only the other one), and the other one with the border and auxiliary buses while the transition
// is away from its start. The program bus selector already follows the flip of a completed
// transition, so the position is taken as it stands: reversed it would read 1 at rest.
void TallyResolver::recurBkgd(int me, bool preview) {
  const int a = buses_[me] != nullptr ? buses_[me]->record(0).programBus : 0;
  const int b = a > 1 ? 0 : 1 - a;
  flagEntry(me, a);
  flagEntry(me, b);
  float p = 0.0f, pA = 0.0f, pB = 0.0f;
  if (faders_ != nullptr) {
    const AutoTransition& t = faders_->transition(AutoTransition::bkgdSlot(me));
    p = t.position(0);
    pA = t.positionA;
    pB = t.mode() == 1 ? t.positionB : 0.0f;
  }
  if (preview && config_.meConfig[me].meOption != 0) {
    resolveEntry(me, b, TRANSITION);
    return;
  }
  resolveEntry(me, a, TRANSITION);
  if (p <= LOW && pA <= LOW && pB <= LOW) return;
  resolveEntry(me, b, TRANSITION);
  const MxifBkgd& r = *bkgd_[me];
  if (r.type != 1) return;
  const u8 kind = r.patternKind, number = r.patternNumber;
  if (r.borderOn == 1 && kind == 0 && number != 23) borderBusRule(me, r.borderSource, TRANSITION);
  const bool aux = (kind == 1 && (r.option146 == 2 || r.option146 == 3) && (number == 16 || number == 18)) ||
                   (kind == 1 && 20 <= number && number <= 22) || (kind == 3 && 12 <= number && number <= 15);
  if (aux) borderBusRule(me, r.option145, TRANSITION);
}

void TallyResolver::meOutputTransition(int me, bool preview) {
  recurBkgd(me, preview);
  for (int k = 0; k < 4; ++k) {
    const float p = keyPosition(me, k);
    bool counts = p > 0.0f;
    if (preview) {
      const u8 setting = config_.meConfig[me].tapAKeys[k];
      counts = setting == 2 || (setting == 1 && p <= HIGH);
    }
    if (counts) keyRule(me, k, usesKeyBus(me, k) ? 2 : 0);
  }
}

// Key k of ME me: mode 0 its fill bus, 1 its key bus, 2 both; then its border bus.
void TallyResolver::keyRule(int me, int k, int keyMode) {
  const int fill = ENTRY_KEY_FILL + 2 * k;
  if (keyMode != 1) {
    flagEntry(me, fill);
    resolveEntry(me, fill, TRANSITION);
  }
  if (keyMode != 0) {
    flagEntry(me, fill + 1);
    resolveEntry(me, fill + 1, TRANSITION);
  }
  const KeyEdge& edge = key(me, k)->edge;
  if (edge.type != 0 && edge.width != 0) borderBusRule(me, edge.fill, TRANSITION);
}

void TallyResolver::cleanOutputTransition(int me) {
  const MainframeMeConfig& c = config_.meConfig[me];
  const int k = c.cleanKey;
  if (c.cleanTapMode == 1) {
    if (k < 4 && keyPosition(me, k) > LOW) keyRule(me, k, 1);
  } else if (c.cleanTapMode == 0) {
    for (int j = 0; j < 4 && k < 4; ++j) {
      if (key(me, j)->priority > key(me, k)->priority && keyPosition(me, j) > LOW) {
        keyRule(me, j, usesKeyBus(me, j) ? 2 : 0);
      }
    }
    recurBkgd(me, false);
  }
}

void TallyResolver::dskOutputTransition(int s, u8 f) {
  dskBackgroundFeed(s, TRANSITION);
  for (int k = 0; k < 4; ++k) {
    const bool counts = s <= 171 ? config_.dskConfig.dskProgram[k] == s - 170 && dskPosition(k) > LOW : (f & (0x2 << k)) != 0;
    if (counts) dskRule(k, TRANSITION);
  }
}

}  // namespace category
