// Stored key and downstream key parameters: captured from the live categories and put back on them.
#include "Lib/Include/stored.h"

#include "Main/fader/faderevent.h"
#include "Main/key/chrkey.h"
#include "Main/key/dsk.h"
#include "Main/key/key.h"

namespace {

using category::CategoryRegistry;

constexpr u32 bit(int b) { return 1u << b; }

// What a recall never takes: the rank and group among the keys, and the status bytes that the
// transitions establish (an on-air byte would be a request to cut the keyer on or off air).
constexpr u32 KEY_KEPT_MASK1 = bit(MxifKey::W1_PRIORITY) | bit(MxifKey::W1_GROUP) | bit(MxifKey::W1_ON_AIR) |
                               bit(MxifKey::W1_STATUS_FLAG) | bit(MxifKey::W1_STOPPING) |
                               bit(MxifKey::W1_IN_TRANSITION);
constexpr u32 DSK_KEPT_MASK = bit(MxifDsk::W0_PRIORITY) | bit(MxifDsk::W0_GROUP) | bit(MxifDsk::W0_ON_AIR) |
                              bit(MxifDsk::W0_STOPPING) | bit(MxifDsk::W0_IN_TRANSITION);
constexpr int DSK_BUS_ME = 1;        // the downstream key buses are ME 1's (ME 0's when it has none)
constexpr int DSK_BUS_ENTRY = 16;    // fill of DSK c at 16 + 2c, key at 17 + 2c

template <class C>
C* registered(int type, int me) {
  return CategoryRegistry::instance().find<C>(type, me);
}

// Bus codes of entries first and first + 1 of ME me's bus record (0 while there is none).
void storeBusCodes(int me, int first, u16 (&out)[2]) {
  const MxifBus* bus = CategoryRegistry::instance().record<MxifBus>(me);
  out[0] = bus != nullptr ? bus->entries[first] : 0;
  out[1] = bus != nullptr ? bus->entries[first + 1] : 0;
}

void storeTransition(int slot, float& position, s32& flip) {
  auto* faders = registered<category::CategoryFaderEvent>(category::TYPE_FADER_EVENT, 0);
  position = faders != nullptr ? faders->transition(slot).positionA : 0.0f;
  flip = faders != nullptr ? faders->transition(slot).flip : 0;
}

}  // namespace

void StoredKeyData::store(int me, int k) {
  auto* keys = registered<category::CategoryKey>(category::TYPE_KEY, me);
  key = keys != nullptr ? keys->record(k) : MxifKey{};
  codec::clearPresence(key);
  storeBusCodes(me, 2 * k + 2, bus);
  storeTransition(AutoTransition::keySlot(me, k), positionA, flip);
  auto* chromaKey = registered<category::CategoryChromaKey>(category::TYPE_CHROMA_KEY, me);
  if (chromaKey != nullptr) {
    rangeBase = chromaKey->record(k).rangeBase;
    rangeWidth = chromaKey->record(k).rangeWidth;
    chromaKey->copyChannelData(k, chroma);
  } else {
    rangeBase = rangeWidth = 0;
    chroma = ChromaKeyBlock{};
  }
}

void StoredKeyData::recall(int me, int k) const {
  if (auto* keys = registered<category::CategoryKey>(category::TYPE_KEY, me)) {
    MxifKey r = key;
    codec::setAllPresence(r);
    r.mask1 &= ~KEY_KEPT_MASK1;
    r.me = static_cast<u8>(me);
    r.channel = static_cast<u16>(k);
    keys->assign(r, k);
  }
  loadChroma(me, k);
}

void StoredKeyData::loadChroma(int me, int k, const ChromaKeyBlock* block) const {
  auto* chromaKey = registered<category::CategoryChromaKey>(category::TYPE_CHROMA_KEY, me);
  if (chromaKey == nullptr) return;
  MxifChromaKey change{};
  change.mask = bit(MxifChromaKey::RANGE_BASE) | bit(MxifChromaKey::RANGE_WIDTH);
  change.me = static_cast<u8>(me);
  change.channel = static_cast<u16>(k);
  change.rangeBase = static_cast<u8>(rangeBase);
  change.rangeWidth = static_cast<s16>(rangeWidth);
  // A value that does not fit its field is refused by the range checks rather than cut to fit.
  if (rangeBase != change.rangeBase) change.mask &= ~bit(MxifChromaKey::RANGE_BASE);
  if (rangeWidth != change.rangeWidth) change.mask &= ~bit(MxifChromaKey::RANGE_WIDTH);
  chromaKey->assign(change, k);
  chromaKey->loadChannelData(k, block != nullptr ? *block : chroma);
}

bool StoredKeyData::equals(const StoredKeyData& o) const {
  return codec::sameValues(key, o.key) && bus[0] == o.bus[0] && bus[1] == o.bus[1] &&
         std::memcmp(&positionA, &o.positionA, sizeof positionA) == 0 && flip == o.flip && rangeBase == o.rangeBase &&
         rangeWidth == o.rangeWidth && std::memcmp(&chroma, &o.chroma, sizeof chroma) == 0;
}

void StoredDskData::store(int channel) {
  auto* dsks = registered<category::CategoryDsk>(category::TYPE_DSK, 0);
  dsk = dsks != nullptr ? dsks->record(channel) : MxifDsk{};
  codec::clearPresence(dsk);
  storeBusCodes(DSK_BUS_ME, DSK_BUS_ENTRY + 2 * channel, bus);
  storeTransition(AutoTransition::dskSlot(channel), positionA, flip);
}

void StoredDskData::recall(int channel) const {
  auto* dsks = registered<category::CategoryDsk>(category::TYPE_DSK, 0);
  if (dsks == nullptr) return;
  MxifDsk r = dsk;
  codec::setAllPresence(r);
  r.mask &= ~DSK_KEPT_MASK;
  r.channel = static_cast<u16>(channel);
  dsks->assign(r, channel);
}

bool StoredDskData::equals(const StoredDskData& o) const {
  return codec::sameValues(dsk, o.dsk) && bus[0] == o.bus[0] && bus[1] == o.bus[1] &&
         std::memcmp(&positionA, &o.positionA, sizeof positionA) == 0 && flip == o.flip;
}
