#include "Main/key/keymem.h"

#include "Common/shared.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"
#include "Main/bus/bus.h"

namespace {

using Header = KeySourceHeader;

category::CategoryBus* busOf(int me) {
  return category::CategoryRegistry::instance().find<category::CategoryBus>(category::TYPE_BUS, me);
}

bool enabledBit(const Header& header, int refIdx) {
  return (header.enabled.word[refIdx / tsiEnabledBitSizePerUnit] >> (refIdx % tsiEnabledBitSizePerUnit) & 1u) != 0;
}

// Whether `entry`, not changed itself, takes over the parameters of `other` in share mode: a keyer
// that stays on its source follows one on that source that was just changed; a keyer switched to a
// source follows one already on it.
template <class Entry>
bool follows(const Entry& entry, const Entry& other) {
  if (&other == &entry || other.source != entry.source) return false;
  if (entry.source == entry.previousSource) return other.changed != 0;
  return other.changed != 0 || other.previousSource == entry.source;
}

template <class Entry>
void settle(Entry& e) {
  e.changed = 0;
  e.previousSource = e.source;
}

}  // namespace

void KeyMemory::reset() {
  for (auto& row : keys) {
    for (auto& e : row) e = KeyEntry{};
  }
  for (auto& e : dsks) e = DskEntry{};
  busy = 0;
  shared = 0;
}

void KeyMemory::init() {
  for (int m = 0; m < N_ME; ++m) {
    for (int k = 0; k < N_KEY; ++k) {
      keys[m][k].me = static_cast<u32>(m);
      keys[m][k].key = static_cast<u32>(k);
      keys[m][k].changed = 0;
    }
  }
  for (int c = 0; c < N_DSK; ++c) {
    dsks[c].me = 0;
    dsks[c].channel = static_cast<u32>(c);
    dsks[c].changed = 0;
  }
}

void KeyMemory::onOperateAssign(const Switches& change, const Switches& live) {
  if (busy) return;
  const bool enable = (change.mask & Switches::ENABLE) && change.enable != live.enable;
  const bool share = (change.mask & Switches::SHARE) && change.share != live.share;
  if (enable || share) clearAll();
}

void KeyMemory::onSourceLinkAssign(const MxifSourceLink& change) {
  if (busy == 0 && (change.mask & MxifSourceLink::LINK_MODE) != 0) clearAll();
}

void KeyMemory::update(const Switches& live) {
  if (live.enable != 1) return;
  shared = live.share == 1 ? 1 : 0;
  for (int m = 0; m < N_TRACKED_ME; ++m) {
    category::CategoryBus* bus = busOf(m);
    for (int k = 0; k < N_KEY; ++k) {
      KeyEntry& e = keys[m][k];
      if (bus != nullptr) e.source = bus->busSource(2 * (k + 1));
      if (busy == 0) storeKeyData(e);
    }
  }
  category::CategoryBus* bus = busOf(1);
  for (int c = 0; c < N_DSK; ++c) {
    DskEntry& e = dsks[c];
    if (bus != nullptr) e.source = bus->busSource(16 + 2 * c);
    if (busy == 0) storeDskData(e);
  }
  for (auto& row : keys) {
    for (auto& e : row) settle(e);
  }
  for (auto& e : dsks) settle(e);
}

void KeyMemory::storeKeyData(KeyEntry& entry) {
  const int slot = shared ? 0 : static_cast<int>(entry.me * N_KEY + entry.key);
  const int offset = KEY_SOURCE_KEY_SLOT + static_cast<int>(sizeof(StoredKeyData)) * slot;
  MX_CHECK(static_cast< unsigned int >( offset ) + sizeof( StoredKeyData ) < static_cast< unsigned int >( SharedMemory::KEY_SOURCE_UNIT ));
  syncKeyEntry(entry, slot, offset);
}

void KeyMemory::storeDskData(DskEntry& entry) {
  const int slot = shared ? 0 : static_cast<int>(entry.channel);
  const int offset = KEY_SOURCE_DSK_SLOT + static_cast<int>(sizeof(StoredDskData)) * slot;
  MX_CHECK(static_cast< unsigned int >( offset ) + sizeof( StoredDskData ) < static_cast< unsigned int >( SharedMemory::KEY_SOURCE_UNIT ));
  syncDskEntry(entry, KEY_SOURCE_DSK_REF + slot, offset);
}

void KeyMemory::syncKeyEntry(KeyEntry& entry, int refIdx, int offset) {
  const int me = static_cast<int>(entry.me), key = static_cast<int>(entry.key);
  if (entry.changed) {
    entry.data.store(me, key);
    const int index = sourceIndex(entry.source);
    if (index >= 0) writeKeyData(index, refIdx, offset, entry.data);
    return;
  }
  if (shared) {
    if (const KeyEntry* other = findKeySharingSource(entry)) {
      entry.data.store(static_cast<int>(other->me), static_cast<int>(other->key));
      entry.data.recall(me, key);
      entry.changed = 0;
      return;
    }
  }
  if (entry.source == entry.previousSource) return;
  const int index = sourceIndex(entry.source);
  if (index < 0 || !readSlot(index, refIdx, offset, entry.data)) return;
  entry.data.recall(me, key);  // marks the entry changed again
  entry.changed = 0;
}

void KeyMemory::syncDskEntry(DskEntry& entry, int refIdx, int offset) {
  const int channel = static_cast<int>(entry.channel);
  if (entry.changed) {
    entry.data.store(channel);
    const int index = sourceIndex(entry.source);
    if (index >= 0) writeDskData(index, refIdx, offset, entry.data);
    return;
  }
  if (shared) {
    if (const DskEntry* other = findDskSharingSource(entry)) {
      entry.data.store(static_cast<int>(other->channel));
      entry.data.recall(channel);
      entry.changed = 0;
      return;
    }
  }
  if (entry.source == entry.previousSource) return;
  const int index = sourceIndex(entry.source);
  if (index < 0 || !readSlot(index, refIdx, offset, entry.data)) return;
  entry.data.recall(channel);
  entry.changed = 0;
}

KeyMemory::KeyEntry* KeyMemory::findKeySharingSource(const KeyEntry& entry) {
  for (auto& row : keys) {
    for (auto& other : row) {
      if (follows(entry, other)) return &other;
    }
  }
  return nullptr;
}

KeyMemory::DskEntry* KeyMemory::findDskSharingSource(const DskEntry& entry) {
  for (auto& other : dsks) {
    if (follows(entry, other)) return &other;
  }
  return nullptr;
}

void KeyMemory::writeKeyData(int index, int refIdx, int offset, const StoredKeyData& data) {
  writeSlot(index, refIdx, offset, data, keyScratch_);
}

void KeyMemory::writeDskData(int index, int refIdx, int offset, const StoredDskData& data) {
  writeSlot(index, refIdx, offset, data, dskScratch_);
}

template <class Data>
void KeyMemory::writeSlot(int index, int refIdx, int offset, const Data& data, Data& present) {
  SharedMemory& smem = SharedMemory::instance();
  Header header;
  smem.readKeySourceMemory(index, 0, &header, sizeof header);
  MX_CHECK(refIdx < ( tsiEnabledBitSizePerUnit * header.enabled.SIZE ));
  smem.readKeySourceMemory(index, offset, &present, sizeof present);
  if (enabledBit(header, refIdx) && present.equals(data)) return;
  const int word = refIdx / tsiEnabledBitSizePerUnit;
  header.enabled.word[word] |= 1u << (refIdx % tsiEnabledBitSizePerUnit);
  header.modified |= 1u << word;
  // The front end sees a slot being replaced, then the counter moved on.
  header.sequence |= Header::WRITING;
  smem.writeKeySourceMemory(index, 0, &header, sizeof header);
  smem.writeKeySourceMemory(index, offset, &data, sizeof data);
  header.sequence = (header.sequence & ~(Header::COUNTER | Header::WRITING)) | ((header.sequence + 1) & Header::COUNTER);
  smem.writeKeySourceMemory(index, 0, &header, sizeof header);
}

template <class Data>
bool KeyMemory::readSlot(int index, int refIdx, int offset, Data& data) {
  SharedMemory& smem = SharedMemory::instance();
  Header header;
  smem.readKeySourceMemory(index, 0, &header, sizeof header);
  if ((header.sequence & Header::INITIALISED) == 0) return false;
  smem.readKeySourceMemory(enabledBit(header, refIdx) ? index : KEY_SOURCE_DEFAULTS, offset, &data, sizeof data);
  return true;
}

void KeyMemory::clearAll() {
  init();
  SharedMemory& smem = SharedMemory::instance();
  for (int i = 0; i < N_SRC; ++i) {
    Header header;
    smem.readKeySourceMemory(i, 0, &header, sizeof header);
    header.modified |= 3u;
    header.enabled.word[0] = 0;
    header.enabled.word[1] = 0;
    header.sequence = ((header.sequence + 1) & Header::COUNTER) | Header::INITIALISED;
    smem.writeKeySourceMemory(i, 0, &header, sizeof header);
  }
}

void KeyMemory::setKeyChanged(int me, int ch) {
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= ch && ch < N_KEY);
  keys[me][ch].changed = 1;
}

void KeyMemory::setDskChanged(int ch) {
  MX_CHECK(0 <= ch && ch < N_DSK);
  dsks[ch].changed = 1;
}

int KeyMemory::sourceIndex(int source) {
  // Stills and clips: of three numbers per store, the first two share a unit, the third has its own.
  auto store = [](int s, int first) { return first + 2 * (s / 3) + (s % 3 == 2 ? 1 : 0); };
  if (10 <= source && source <= 89) return source - 10;
  if (140 <= source && source <= 141) return source - 60;
  if (180 <= source && source <= 191) return store(source - 180, 82);
  if (200 <= source && source <= 211) return store(source - 200, 90);
  if (220 <= source && source <= 223) return source - 122;
  if (150 <= source && source <= 165) return source - 48;
  MX_LOG(libmx::ERR, "invalid source %d", source);
  return -1;
}
