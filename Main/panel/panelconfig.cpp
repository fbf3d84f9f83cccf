#include "Main/panel/panelconfig.h"

#include <cstddef>
#include <cstring>

#include "Lib/Include/rules.h"
#include "Main/fader/faderevent.h"
#include "Main/framework/lookup.h"
#include "Main/io/io.h"

namespace libmx {
namespace {

using codec::acceptIf;
using limits::accept;

using Record = MxifControlPanelConfig;
using Panel = Record::Panel;

void acceptPanel(const Record& r, const Panel& in, Panel& out) {
  for (int n = 0; n < Panel::N_SWITCHES; ++n) accept(r, in.mask, out.mask, 1u << (Panel::SWITCH_BIT + n), in.switches[n]);
  accept(r, in.mask, out.mask, Panel::SELECTOR, in.selector);
  for (int n = 0; n < Panel::N_LEVELS; ++n) accept(r, in.mask, out.mask, 1u << (Panel::LEVEL_BIT + n), in.level[n]);
  accept(r, in.mask, out.mask, Panel::SWITCH7, in.switch7);
  accept(r, in.mask, out.mask, Panel::REQUEST, in.request);
  for (int n = 0; n < Panel::N_GROUP; ++n) {
    accept(r, in.groupAMask, out.groupAMask, 1u << n, in.groupA[n]);
    accept(r, in.groupBMask, out.groupBMask, 1u << n, in.groupB[n]);
  }
}

void acceptCodes(const Record& r, const Record::Codes& in, Record::Codes& out) {
  for (int n = 0; n < 4; ++n) accept(r, in.mask, out.mask, 1u << n, in.code[n]);
}

}  // namespace

void checkPanelConfigRanges(const Record& r, Record& out, bool fromImage) {
  const rules::Checking checking(r);
  out = r;
  codec::clearPresence(out);
  for (auto& row : out.keyFaderStates) {
    for (auto& e : row) e.entryMask = 0;
  }
  for (int p = 0; p < Record::N_PANELS; ++p) acceptPanel(r, r.panel(p), out.panel(p));

  for (int n = 0; n < 3; ++n) accept(r.options, r.options.mask, out.options.mask, 1u << n, r.options.value[n]);
  accept(r.options, r.options.mask, out.options.mask, Record::Options::LAMP_FLAG, r.options.lampFlag);
  for (int n = 0; n < Record::N_CODE_ENTRIES; ++n) {
    if (n < Record::N_REQUEST_CODE_ENTRIES) {
      acceptCodes(r, r.codeEntries[n], out.codeEntries[n]);
    } else if (fromImage) {
      out.codeEntries[n].mask = r.codeEntries[n].mask;
    } else if ((r.codeEntries[n].mask & 0xFu) != 0) {
      rules::note(Record::SPARE_CODE_ENTRIES, r, r.codeEntries[n].code);
    }
  }
  acceptCodes(r, r.codeGroup, out.codeGroup);
  for (int n = 0; n < Record::N_TRIPLES; ++n) accept(r, r.tripleMask, out.tripleMask, 1u << n, r.triples[n]);

  for (auto block : {&Record::textBlock1, &Record::textBlock2}) {
    const TextBlock& t = r.*block;
    acceptIf(t.mask, (out.*block).mask, 1u << 0, isReceivedTextValid(t.text1));
    if (fromImage) (out.*block).mask |= t.mask & 0xEu;
    if (fromImage) continue;
    if ((t.mask & ~(out.*block).mask & 1u) != 0) noteRefusedText(r, t.text1);
    if ((t.mask & 2u) != 0) rules::note(Record::FIRST_TEXT_ONLY, r, t.text2);
    if ((t.mask & 4u) != 0) rules::note(Record::FIRST_TEXT_ONLY, r, t.text3);
    if ((t.mask & 8u) != 0) rules::note(Record::FIRST_TEXT_ONLY, r, t.text4);
  }

  for (int f = 0; f < MxifKeyFader::N_FADERS; ++f) {
    for (int b = 0; b < MxifKeyFader::KEY_FADER_BUTTON_NUM; ++b) {
      const KeyFaderButtonAssign& a = r.keyFaders[f][b];
      KeyFaderButtonAssign& o = out.keyFaders[f][b];
      accept(a, a.mask, o.mask, KeyFaderButtonAssign::SEL_ME, a.selMe);
      accept(a, a.mask, o.mask, KeyFaderButtonAssign::SEL_KEY_CH, a.selKeyCh);
    }
  }
}

}  // namespace libmx

namespace category {
namespace {

using Record = MxifControlPanelConfig;
constexpr int N_FADERS = MxifKeyFader::N_FADERS;
constexpr int N_BUTTONS = MxifKeyFader::KEY_FADER_BUTTON_NUM;
constexpr u32 ALL_BUTTONS = (1u << N_BUTTONS) - 1;

bool inRange(int v, int n) { return 0 <= v && v < n; }

// Presence words of the record and the entry words that are not on the wire.
bool hasPendingChange(const Record& r) {
  if (codec::hasAny(r)) return true;
  for (const auto& row : r.keyFaderStates) {
    for (const auto& e : row) {
      if (e.entryMask != 0) return true;
    }
  }
  return false;
}

void clearPendingChange(Record& r) {
  codec::clearPresence(r);
  for (auto& row : r.keyFaderStates) {
    for (auto& e : row) e.entryMask = 0;
  }
}

// Lets go of the tracker an assignment that is being replaced drove, so that no lever keeps it.
void releaseTracker(int selMe, int selKeyCh) {
  const int slot = CategoryControlPanelConfig::transitionSlotOf(selMe, selKeyCh);
  auto* faders = CategoryRegistry::instance().find<CategoryFaderEvent>(internal::MxifFaderEvent::TYPE_INDEX, 0);
  if (slot >= 0 && faders != nullptr) faders->fader(slot).ownerFader = TransitionFader::NO_OWNER;
}

// Whether the custom information allows the assignment: a downstream key or a key of an ME item
// up to the item's limit of keys.
bool customInfoAllows(const CategoryCustomInfo& info, int selMe, int selKeyCh) {
  if (selMe == MxifKeyFader::ME_SEL_DSK) return selKeyCh <= 3;
  const int item = CategoryControlPanelConfig::meIndexOf(selMe);
  if (item < 0) return false;
  const int mode = info.modeOf(item);
  int limit = 0;
  if (mode == 1) {
    limit = info.indexOf(item) == -1 ? 3 : 7;
  } else if (mode == 2) {
    limit = 3;
  } else {
    return false;
  }
  return selKeyCh <= limit;
}

}  // namespace

CategoryControlPanelConfig& CategoryControlPanelConfig::instance() {
  static CategoryControlPanelConfig category;
  return category;
}

void CategoryControlPanelConfig::assign(const Record& in, int idx) {
  const rules::Checking checking(in);
  Record& live = record(idx);  // the channel is checked before anything changes
  Record accepted;
  libmx::checkPanelConfigRanges(in, accepted, false);
  for (int f = 0; f < N_FADERS; ++f) {
    for (int b = 0; b < N_BUTTONS; ++b) {
      const KeyFaderButtonAssign& n = in.keyFaders[f][b];
      const KeyFaderButtonAssign& e = live.keyFaders[f][b];
      const bool carried = (n.mask & (KeyFaderButtonAssign::SEL_ME | KeyFaderButtonAssign::SEL_KEY_CH)) != 0;
      if (carried && e.selMe != 0 && (e.selMe != n.selMe || e.selKeyCh != n.selKeyCh)) {
        releaseTracker(e.selMe, e.selKeyCh);
      }
    }
  }
  for (int p = 0; p < N_PANELS; ++p) {
    for (int f = 0; f < N_FADERS; ++f) {
      const KeyFaderButtonStates& s = in.keyFaderStates[p][f];
      for (int b = 0; b < N_BUTTONS; ++b) {
        limits::accept(s, s.mask, accepted.keyFaderStates[p][f].mask, 1u << b, s.state[b]);
      }
    }
  }
  // A button assigned to nothing goes off on every panel, unless the record carries its state.
  for (int f = 0; f < N_FADERS; ++f) {
    for (int b = 0; b < N_BUTTONS; ++b) {
      const KeyFaderButtonAssign& a = accepted.keyFaders[f][b];
      if (!(a.mask & KeyFaderButtonAssign::SEL_ME) || a.selMe != MxifKeyFader::ME_SEL_NONE) continue;
      for (int p = 0; p < N_PANELS; ++p) {
        KeyFaderButtonStates& s = accepted.keyFaderStates[p][f];
        if (s.mask & (1u << b)) continue;
        s.state[b] = 0;
        s.mask |= 1u << b;
      }
    }
  }
  libmx::mergeTextRecord(live, accepted);
  dirty[idx] = 1;
}

void CategoryControlPanelConfig::resume(const void* saved, int flag) {
  (void)flag;
  Record in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  codec::setAllPresence(in);
  Record accepted;
  libmx::checkPanelConfigRanges(in, accepted, true);
  Record& live = record(0);
  live = Record{};
  // The button states are not the checks' to judge: every resume turns them off.
  Record kept = live;
  std::memcpy(kept.keyFaderStates, in.keyFaderStates, sizeof kept.keyFaderStates);
  refuseSaved(codec::refusedFields(in, accepted, kept));
  libmx::mergeTextRecord(live, accepted);
  codec::setAllPresence(live);
  clearKeyFaderStates();
}

void CategoryControlPanelConfig::receive(RequestReceiver& rx) {
  Record in{};
  if (!libmx::readTextRecord(rx, in)) {
    rx.reportShort();
    return;
  }
  rx.clearHeader();
  assign(in, 0);
}

bool CategoryControlPanelConfig::sendRecord(AcknowledgeSender& tx) {
  Record& r = record(0);
  if (dirty[0] == 0 && !hasPendingChange(r)) return true;
  if (tx.pending() > SEND_PENDING_LIMIT) return false;
  if (tx.beginPacket(TYPE_INDEX, libmx::textRecordWireLength(r))) {
    libmx::writeTextRecord(tx.stream(), r);
  } else {
    reportSendBufferFull();
  }
  dirty[0] = 0;
  clearPendingChange(r);
  return true;
}

void CategoryControlPanelConfig::sendStatus(AcknowledgeSender& tx) { sendRecord(tx); }

void CategoryControlPanelConfig::send(AcknowledgeSender& tx, int part) {
  record(part);  // the one channel
  sendRecord(tx);
}

// ---- Key faders ------------------------------------------------------------------------------------

KeyFaderButtonAssign& CategoryControlPanelConfig::assignEntry(int fader, int btn) {
  return record(0).keyFaders[inRange(fader, N_FADERS) ? fader : 0][inRange(btn, N_BUTTONS) ? btn : 0];
}

KeyFaderButtonAssign* CategoryControlPanelConfig::assignRow(int fader) {
  return inRange(fader, N_FADERS) ? record(0).keyFaders[fader] : NULL;
}

void CategoryControlPanelConfig::failPanel() { MX_FAIL("NeverReachHere"); }

int CategoryControlPanelConfig::matchKeyFaderAssign(int fader, int btn, int selMe, int selKeyCh) {
  if (selMe == MxifKeyFader::ME_SEL_NONE || !inRange(fader, N_FADERS)) return 0;
  MX_CHECK(0 <= btn && btn < MxifKeyFader::KEY_FADER_BUTTON_NUM);
  MX_CHECK(0 <= selMe && selMe <= MxifKeyFader::ME_SEL_ME4B);
  MX_CHECK(0 <= selKeyCh && selKeyCh <= MxifKeyFader::KEY_SEL_KEY8);
  const KeyFaderButtonAssign* getter = assignRow(fader);
  MX_CHECK(getter != NULL);
  const KeyFaderButtonAssign& e = getter[btn];
  return e.selMe == selMe && e.selKeyCh == selKeyCh ? 1 : 0;
}

void CategoryControlPanelConfig::setKeyFaderButtonState(int panel, int fader, int btn, int value) {
  if (!inRange(panel, N_PANELS)) return;
  if (inRange(fader, N_FADERS) && inRange(btn, N_BUTTONS)) {
    KeyFaderButtonStates& e = record(0).keyFaderStates[panel][fader];
    e.state[btn] = static_cast<u8>(value);
    e.mask |= 1u << btn;
  }
  dirty[0] = 1;
}

void CategoryControlPanelConfig::toggleKeyFaderButtonState(int panel, int fader, int btn) {
  const int old = keyFaderButtonState(panel, fader, btn);
  setKeyFaderButtonState(panel, fader, btn, old == 1 ? 0 : 1);
}

bool CategoryControlPanelConfig::keyFaderAssign(int fader, int btn, int& selMe, int& selKeyCh) {
  if (!inRange(fader, N_FADERS)) {
    selMe = MxifKeyFader::ME_SEL_NONE;
    return false;
  }
  const KeyFaderButtonAssign& e = assignEntry(fader, btn);
  selMe = e.selMe;
  selKeyCh = e.selKeyCh;
  auto* info = CategoryRegistry::instance().find<CategoryCustomInfo>(MxifCustomInfo::TYPE_INDEX, 0);
  if (info == nullptr || info->record(0).enable == 0 || customInfoAllows(*info, selMe, selKeyCh)) {
    return selMe != MxifKeyFader::ME_SEL_NONE;
  }
  static constexpr rules::Rule CUSTOM_INFO_LIMITS = {
      rules::Effect::MOVES, "while the custom information is on (MxifCustomInfo enable=1), a key-fader button whose assignment "
                            "it does not take (none, or a key channel beyond what its ME's mode takes) is off on every panel"};
  for (int p = 0; p < N_PANELS; ++p) {
    const KeyFaderButtonStates& states = record(0).keyFaderStates[p][fader];
    if (states.state[btn] == 0) continue;
    rules::note(CUSTOM_INFO_LIMITS, record(0), states.state[btn]);
    rules::input(info->record(0), info->record(0).enable, 0, 0);
    rules::input(record(0), e.selMe);
    if (meIndexOf(e.selMe) >= 0 || e.selMe == MxifKeyFader::ME_SEL_DSK) rules::input(record(0), e.selKeyCh);
  }
  selMe = MxifKeyFader::ME_SEL_NONE;
  selKeyCh = 0;
  for (int p = 0; p < N_PANELS; ++p) setKeyFaderButtonState(p, fader, btn, 0);
  return false;
}

int CategoryControlPanelConfig::meIndexOf(int selMe) {
  if (1 <= selMe && selMe <= N_ME) return selMe - 1;
  if (MxifKeyFader::ME_SEL_DSK < selMe && selMe <= MxifKeyFader::ME_SEL_ME4B) return selMe - 2;
  return -1;
}

int CategoryControlPanelConfig::transitionSlotOf(int selMe, int selKeyCh) {
  if (!inRange(selKeyCh, AutoTransition::N_KEY_CHANNELS)) return -1;
  if (selMe == MxifKeyFader::ME_SEL_DSK) return AutoTransition::dskSlot(selKeyCh);
  const int me = meIndexOf(selMe);
  return inRange(me, N_ME) ? AutoTransition::keySlot(me, selKeyCh) : -1;
}

void CategoryControlPanelConfig::clearKeyFaderStates() {
  for (auto& row : record(0).keyFaderStates) {
    for (auto& e : row) {
      std::memset(e.state, 0, sizeof e.state);
      e.mask = ALL_BUTTONS;
    }
  }
  dirty[0] = 1;
}

}  // namespace category
