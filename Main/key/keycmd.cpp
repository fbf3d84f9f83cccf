// The key command (type 75), the key accessors of the fader events and the key-fader lookups.
#include <algorithm>

#include "Main/fader/faderevent.h"
#include "Main/key/key.h"
#include "Main/panel/panelconfig.h"
#include "Main/system/maintenance.h"

namespace category {
namespace {

using K = MxifKey;

constexpr int ME_SEL_DSK = MxifKeyFader::ME_SEL_DSK;
constexpr int N_FADERS = MxifKeyFader::N_FADERS;
constexpr int SOURCE_KEYS_PER_ME = MxifKeyCmd::SOURCE_KEYS_PER_ME;
constexpr int N_TARGET_MES = 8;  // target MEs a command may name; 4..7 have no keys here

// Key-fader kinds with a lever: 4..11 on levers 0..7 of the panel, 16..23 on levers 8..15.
constexpr int LEVER_KINDS[2][2] = {{4, 11}, {16, 23}};
constexpr int LEVER_OFFSET[2] = {4, 8};

// The key DVE settings of key srcKey (record src) as a change for key j, each with its presence bit.
void copyDveSettings(const K& src, int srcKey, int j, K& out) {
  K from = src;
  codec::setAllPresence(from);
  const bool withDve = srcKey < K::N_DVE_KEYS && j < K::N_DVE_KEYS;
  const void* copied[] = {&from.dveTransOn, &from.dveShapeOn, &from.dveShapeType, &from.dveBorder.on,
                          &from.dveBorder.width, &from.dveBorder.softness, &from.dveBorderScale, from.dveBorderColor,
                          from.dvePosition, &from.dveSize, from.dveTriple1, &from.dveValue1, from.dveTriple2,
                          &from.dveValue2, &from.dveValue3, &from.dveShape.mode, &from.dveShape.cropMode, from.dveCrop};
  const void* dveOnly[] = {from.dveRotation, &from.dveScale.first, &from.dveScale.second, &from.dvePerspective};
  codec::merge(out, from, [&](const codec::FieldView& f) {
    if (std::find(std::begin(copied), std::end(copied), f.field) != std::end(copied)) return true;
    return withDve && std::find(std::begin(dveOnly), std::end(dveOnly), f.field) != std::end(dveOnly);
  });
  out.dveSize = libmx::fitKeySize(out.dveSize, j);
}

// Command 0: every source (a key that exists) and the target are checked before any key is read.
// MEs 4..7 have no key channels and are refused; a target above 7 takes nothing and is done.
s16 copyKeyDve(const MxifKeyCmd& cmd) {
  for (const u8& s : cmd.source) {
    if (!limits::takes(cmd, s)) return MxifKeyCmd::REFUSED;
  }
  if (!limits::takes(cmd, cmd.targetMe)) return cmd.targetMe < N_TARGET_MES ? MxifKeyCmd::REFUSED : MxifKeyCmd::DONE;
  K changes[CategoryKey::N_KEYS];
  for (int j = 0; j < CategoryKey::N_KEYS; ++j) {
    const int s = cmd.source[j] - 1;
    if (s < 0) continue;
    const int srcKey = s % SOURCE_KEYS_PER_ME;
    copyDveSettings(CategoryKey::keyCategory(s / SOURCE_KEYS_PER_ME).record(srcKey), srcKey, j, changes[j]);
  }
  CategoryKey& target = CategoryKey::keyCategory(cmd.targetMe);
  for (int j = 0; j < CategoryKey::N_KEYS; ++j) {
    if (cmd.source[j] != 0) target.assignUnchecked(changes[j], j);
  }
  return MxifKeyCmd::DONE;
}

int findLitAssignment(int selMe, int key, int panel, int fader, int buttons) {
  if (fader < 0 || fader >= N_FADERS) return 0;
  CategoryControlPanelConfig* config = CategoryKey::controlPanelConfig();
  if (config == nullptr) return 0;
  buttons = std::min(buttons, static_cast<int>(MxifKeyFader::KEY_FADER_BUTTON_NUM));
  for (int b = 0; b < buttons; ++b) {
    if (config->keyFaderButtonState(panel, fader, b) != 1) continue;
    const int match = config->matchKeyFaderAssign(fader, b, selMe, key);
    if (match != 0) return match;
  }
  return 0;
}

}  // namespace

void CategoryKey::receiveCommand(int id, RequestReceiver& rx) {
  using typelist::IndexOf;
  MX_CHECK_VALUE(id, IndexOf<MxifKeyCmd>::value);
  MxifKeyCmd cmd;
  if (!rx.readRecord(cmd)) return;
  cmd.reply = limits::takes(cmd, cmd.command) ? copyKeyDve(cmd) : MxifKeyCmd::REFUSED;
  if (!AcknowledgeSender::instance().writeRecord(IndexOf<MxifKeyCmd>::value, cmd)) reportSendBufferFull();
}

int CategoryKey::keyType(int ch) { return record(ch).style.keyType; }
int CategoryKey::keySourceFlag(int ch) { return record(ch).style.keySource; }
int CategoryKey::secondModeFlag(int ch) { return record(ch).style.secondMode; }

int CategoryKey::keyTransMode(int ch) {
  const K& r = record(ch);
  return r.inOutLink != 1 && r.reverse != 0 ? r.transOut.mode : r.transIn.mode;
}

void CategoryKey::setKeyTransMode(int mode, int ch) {
  K& r = record(ch);
  for (K::Trans* t : {&r.transIn, &r.transOut}) {
    const bool inForce = r.inOutLink == 1 || (t == &r.transOut) == (r.reverse != 0);
    if (!inForce) continue;
    t->mode = static_cast<u8>(mode);
    t->mask |= 1u << 1;
  }
}

int CategoryKey::keyTransInValue(int ch) { return record(ch).transIn.value; }
int CategoryKey::keyTransOutValue(int ch) { return record(ch).transOut.value; }

void CategoryKey::setKeyFlag(int ch, int value, int i) {
  K& r = record(ch);
  MX_CHECK(0 <= i && i < 3);
  r.flags.flag[i] = static_cast<u8>(value);
  r.flags.mask |= 1u << i;
}

void CategoryKey::setKeyOnAir(int ch, int value) {
  K& r = record(ch);
  r.onAir = static_cast<u8>(value);
  r.mask1 |= 1u << K::W1_ON_AIR;
}

void CategoryKey::setKeyTransState3(int ch, int value) {
  K& r = record(ch);
  r.stopping = static_cast<u8>(value);
  r.mask1 |= 1u << K::W1_STOPPING;
}

void CategoryKey::setKeyInTransition(int ch, int value) {
  K& r = record(ch);
  r.inTransition = static_cast<u8>(value);
  r.mask1 |= 1u << K::W1_IN_TRANSITION;
}

void CategoryKey::toggleKeyTransMode(int ch) {
  K& r = record(ch);
  const bool linked = r.inOutLink == 1;
  const K::Trans& from = linked || r.reverse == 0 ? r.transIn : r.transOut;
  // Off -> mix, mix -> effect, effect -> off.
  const u8 on = from.on == 0 || from.mode == 0 ? 1 : 0;
  const u8 mode = from.on != 0 && from.mode == 0 ? 1 : 0;
  for (K::Trans* t : {&r.transIn, &r.transOut}) {
    if (!linked && t != &from) continue;
    t->on = on;
    t->mode = mode;
    t->mask |= 3u;
  }
  r.me = static_cast<u8>(me);
  dirty[ch] = 1;
}

void CategoryKey::toggleKeyTransDve(int ch) {
  K& r = record(ch);
  r.dveTransOn = r.dveTransOn == 1 ? 0 : 1;
  r.mask |= 1u << K::W0_DVE_TRANS_ON;
  dirty[ch] = 1;
}

CategoryKey& CategoryKey::keyCategory(int me) {
  return *static_cast<CategoryKey*>(CategoryRegistry::instance().get(TYPE_INDEX, me));
}

CategoryControlPanelConfig* CategoryKey::controlPanelConfig() {
  return static_cast<CategoryControlPanelConfig*>(
      CategoryRegistry::instance().get(MxifControlPanelConfig::TYPE_INDEX, 0));
}

CategoryInterface* CategoryKey::dskCategory() { return CategoryRegistry::instance().get(TYPE_DSK, 0); }

int CategoryKey::findKeyFaderForKey(int key, int panel, int fader, int buttons) {
  return findLitAssignment(ME_SEL_DSK, key, panel, fader, buttons);
}

void CategoryKey::keyFaderLeverInput(CategoryFaderEvent& faders, int panel, int value, int kind) {
  for (int range = 0; range < 2; ++range) {
    if (kind < LEVER_KINDS[range][0] || kind > LEVER_KINDS[range][1]) continue;
    // The lowest raw minimum and the margin below the raw top, kept by the maintenance record.
    const CategoryMaintenance::LeverLimits limits = CategoryMaintenance::leverLimits();
    faders.inputLever(faders.keyFaderLever(panel, kind - LEVER_OFFSET[range]), value, 100, limits.floor,
                      limits.topMargin);
  }
}

int CategoryKey::findKeyFaderForKeyRange(int kind, int key, int panel, int fader, int buttons) {
  if (kind < 0 || kind > 7) return 0;
  return findLitAssignment(kind < N_ME ? kind + 1 : kind + 2, key, panel, fader, buttons);
}

}  // namespace category
