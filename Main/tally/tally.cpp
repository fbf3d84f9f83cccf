#include "Main/tally/tally.h"

#include <algorithm>
#include <cstring>

#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Main/framework/lookup.h"
#include "Main/tally/tallyresolve.h"

namespace category {

namespace {

constexpr int N_INDEXES = MxifSourceTally::N_INDEXES;

// The peripheral record; all zeros while there is none.
const MxifPeripheral& peripheral() {
  static const MxifPeripheral absent{};
  const MxifPeripheral* r = CategoryRegistry::instance().record<MxifPeripheral>();
  return r != nullptr ? *r : absent;
}

// With the external source tally setting 1 the tally the front end sends is the source tally.
bool externalTally() { return peripheral().reportForm == 1; }

// The send rule of a tally record: nothing while it is neither dirty nor marked; false (sending
// stops for this turn) while over half the output stream is pending, or when the stream cannot
// take the packet even after a flush. A record that was not written keeps its marks, so it goes
// out at the next turn rather than leaving the front end with a stale tally.
template <class R>
bool sendMarked(AcknowledgeSender& tx, R& r, u8& dirty) {
  if (dirty == 0 && !codec::hasAny(r)) return true;
  if (tx.pending() > SEND_PENDING_LIMIT || !tx.writeRecord(R::TYPE_INDEX, r)) return false;
  dirty = 0;
  codec::clearPresence(r);
  return true;
}

// A status word with either bit of a pair set has both set.
u32 widen(u32 word, u32 pair) { return (word & pair) != 0 ? word | pair : word; }

bool sameFlags(const MxifSourceTally& a, const MxifSourceTally& b) {
  return std::memcmp(a.tally, b.tally, sizeof a.tally) == 0;
}

// Takes the flags of from, every index present.
void takeAll(MxifSourceTally& to, const MxifSourceTally& from) {
  std::memcpy(to.tally, from.tally, sizeof to.tally);
  codec::setAllPresence(to);
}

}  // namespace

int tallyIndexOf(int source) {
  if (10 <= source && source <= 137) return source - 10;
  if (140 <= source && source <= 141) return source - 12;
  if (150 <= source && source <= 165) return source - 20;
  if (170 <= source && source <= 178) return source - 24;
  // Stills and clips in groups of three: the first two of a group share one index.
  if (180 <= source && source <= 191) return 155 + 2 * ((source - 180) / 3) + ((source - 180) % 3 == 2 ? 1 : 0);
  if (200 <= source && source <= 211) return 163 + 2 * ((source - 200) / 3) + ((source - 200) % 3 == 2 ? 1 : 0);
  if (220 <= source && source <= 223) return source - 49;
  if (230 <= source && source <= 237) return source - 55;
  if (240 <= source && source <= 287) return source - 57;
  if (314 <= source && source <= 329) return source - 83;
  return -1;
}

int tallyCodeSource(int code) {
  static constexpr s16 OUTPUTS[] = {150, 151, 152, 154, 155, 156, 158, 159, 160, 162,
                                    163, 164, 170, 171, 172, 173, 174, 175, 176, 177};
  if (1 <= code && code <= 20) return OUTPUTS[code - 1];
  if (21 <= code && code <= 68) return code + 219;
  return -1;
}

// ---- the working record ----------------------------------------------------------------------------

CategorySourceTally::Tally::Tally() {
  for (int m = 0; m < N_ME; ++m) bus[m].me = static_cast<u8>(m);
}

void CategorySourceTally::Tally::flagIndex(int index) {
  source.tally[index] = 1;
  codec::setPresenceBit(source.presence, index);
}

void CategorySourceTally::Tally::flagEntry(int me, int entry) {
  if (entry < 0 || entry >= MxifBusTally::N_ENTRIES) return;
  bus[me].tally[entry] = 1;
  codec::setPresenceBit(bus[me].presence, entry);
}

// ---- bus tally ----------------------------------------------------------------------------------------

CategoryBusTally* CategoryBusTally::instance() {
  static CategoryBusTally objects[N_ME];
  return objects;
}

u8 CategoryBusTally::entryTally(int me, int entry) {
  auto* t = CategoryRegistry::instance().find<CategoryBusTally>(TYPE_BUS_TALLY, me);
  if (t == nullptr || entry < 0 || entry >= N_ENTRIES) return 0;
  return t->record(0).tally[entry];
}

void CategoryBusTally::initData() { record(0).me = static_cast<u8>(me); }

void CategoryBusTally::initInternal() {
  MxifBusTally& r = record(0);
  r.me = static_cast<u8>(me);
  codec::clearPresence(r);
  dirty[0] = 0;
}

void CategoryBusTally::assign(const MxifBusTally& in, int idx) {
  (void)in;
  record(idx).me = static_cast<u8>(me);
  dirty[idx] = 1;
}

void CategoryBusTally::sendStatus(AcknowledgeSender& tx) {
  record(0).me = static_cast<u8>(me);
  sendMarked(tx, record(0), dirty[0]);
}

void CategoryBusTally::send(AcknowledgeSender& tx, int part) {
  (void)part;
  sendStatus(tx);
}

void CategoryBusTally::merge(const MxifBusTally& computed) {
  MxifBusTally& r = record(0);
  for (int e = 0; e < N_ENTRIES; ++e) {
    if (r.tally[e] == computed.tally[e]) continue;
    r.tally[e] = computed.tally[e];
    codec::setPresenceBit(r.presence, e);
  }
}

// ---- source tally -------------------------------------------------------------------------------------

CategorySourceTally& CategorySourceTally::instance() {
  static CategorySourceTally cat;
  return cat;
}

void CategorySourceTally::initInternal() {
  for (int g = 0; g < N_GROUPS; ++g) {
    codec::clearPresence(record(g));
    last_[g] = MxifSourceTally{};
    last_[g].index = static_cast<u16>(g);
    dual_[g] = MxifDualSourceTally{};
    dual_[g].channel = static_cast<u16>(g);
    dirty[g] = 0;
  }
  // A new start begins without a status history or a DVE mark.
  std::memset(history_, 0, sizeof history_);
  std::memset(flags_, 0, sizeof flags_);
  std::memset(marks_, 0, sizeof marks_);
  row_ = 0;
  bkgdDveTransCnt_ = 0;
}

void CategorySourceTally::receive(RequestReceiver& rx) {
  MxifSourceTally in;
  if (!rx.readRecord(in)) return;
  rx.clearHeader();
  if (in.index >= N_GROUPS) return;
  assign(in, in.index);
}

void CategorySourceTally::assign(const MxifSourceTally& in, int g) {
  MxifSourceTally& stored = record(g);
  if (externalTally()) {
    MxifSourceTally& received = dual_[g].received;
    for (int i = 0; i < N_INDEXES; ++i) {
      if (!codec::presenceBit(in.presence, i)) continue;
      stored.tally[i] = received.tally[i] = in.tally[i];
      codec::setPresenceBit(stored.presence, i);
      codec::setPresenceBit(received.presence, i);
    }
    stored.index = received.index = in.index;
    dual_[g].channel = static_cast<u16>(g);
  }
  dirty[g] = 1;
}

void CategorySourceTally::readHardwareStatus() {
  u32 words[N_FLAG_WORDS] = {mxGetTallyStatus(MX_CONTEXT_ME1), mxGetTallyStatus(MX_CONTEXT_ME1 + 1), 0, 0,
                             mxGetTallyStatus(MX_DSK_PGM1),    mxGetTallyStatus(MX_DSK_CLN1)};
  // A background DVE transition shows both background buses: the marks of the slot that was
  // current three frames earlier widen the background bits of both outputs of each such ME.
  const u8* marked = marks_[(bkgdDveTransCnt_ + 1) % N_MARK_SLOTS];
  for (int m = 0; m < N_ME; ++m) {
    if (marked[m] != 0) words[FLAG_ME1 + m] = widen(widen(words[FLAG_ME1 + m], 0x6u), 0x60000u);
  }
  row_ ^= 1;
  for (int w = 0; w < N_FLAG_WORDS; ++w) {
    history_[row_][w] = words[w];
    flags_[w] = history_[0][w] | history_[1][w];
  }
}

void CategorySourceTally::update() {
  readHardwareStatus();
  const MxifPeripheral& settings = peripheral();
  const bool external = settings.reportForm == 1;
  TallyResolver resolver(flags_, settings.tallyMode == 0);
  auto& reg = CategoryRegistry::instance();
  for (int g = 0; g < N_GROUPS; ++g) {
    Tally w;
    for (u16 code : settings.groups[g].entries) {
      const int source = tallyCodeSource(code);
      if (source >= 0) resolver.resolve(w, source);
    }
    if (g == 0) {
      for (int m = 0; m < N_ME; ++m) {
        if (auto* bus = reg.find<CategoryBusTally>(TYPE_BUS_TALLY, m)) bus->merge(w.bus[m]);
      }
    }
    if (!sameFlags(w.source, last_[g])) {
      takeAll(last_[g], w.source);
      takeAll(dual_[g].local, w.source);
      dual_[g].channel = static_cast<u16>(g);
    }
    if (external) continue;
    MxifSourceTally& stored = record(g);
    if (sameFlags(w.source, stored)) {
      codec::clearPresence(stored);
    } else {
      takeAll(stored, w.source);
    }
  }
  bkgdDveTransCnt_ = (bkgdDveTransCnt_ + 1) % N_MARK_SLOTS;
  std::fill(std::begin(marks_[bkgdDveTransCnt_]), std::end(marks_[bkgdDveTransCnt_]), u8{0});
}

bool CategorySourceTally::sendDual(AcknowledgeSender& tx, int g) {
  MxifDualSourceTally& d = dual_[g];
  if (dirty[g] == 0 && !codec::hasAny(d)) return true;
  // Not held back by pending output: only a stream that cannot take the packet keeps it waiting.
  if (!tx.writeRecord(MxifDualSourceTally::TYPE_INDEX, d)) return false;
  codec::clearPresence(d);
  return true;
}

void CategorySourceTally::sendStatus(AcknowledgeSender& tx) {
  for (int g = 0; g < N_GROUPS; ++g) {
    if (!sendDual(tx, g)) break;
  }
  if (externalTally()) {
    for (int g = 0; g < N_GROUPS; ++g) {
      if (!sendMarked(tx, record(g), dirty[g])) return;
    }
    return;
  }
  for (int g = 0; g < N_GROUPS; ++g) {
    last_[g].index = static_cast<u16>(g);
    if (!sendMarked(tx, last_[g], dirty[g])) return;
  }
}

void CategorySourceTally::send(AcknowledgeSender& tx, int part) {
  (void)part;
  sendStatus(tx);
}

void CategorySourceTally::markBkgdDveTransition() {
  const int me = mxCurrentContext() - MX_CONTEXT_ME1;
  const int bkgdDveTransCnt = bkgdDveTransCnt_;
  MX_CHECK(0 <= me && me < N_ME);
  MX_CHECK(0 <= bkgdDveTransCnt && bkgdDveTransCnt < 4);
  marks_[bkgdDveTransCnt][me] = 1;
}

u8 CategorySourceTally::bkgdDveMark(int me) const {
  MX_CHECK(0 <= me && me < N_ME);
  return marks_[bkgdDveTransCnt_][me];
}

}  // namespace category
