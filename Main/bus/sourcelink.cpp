#include "Main/bus/sourcelink.h"

namespace category {
namespace {

constexpr int N_SOURCES = MxifSourceLink::N_SOURCES;

constexpr int MAX_SOURCE = 329;

struct Table {
  s16 source[N_SOURCES];
  s16 index[MAX_SOURCE + 1];  // position of each source number, -1 when absent
};

constexpr Table buildTable() {
  Table t{};
  int n = 0;
  auto range = [&](int first, int last) {
    for (int s = first; s <= last; ++s) t.source[n++] = static_cast<s16>(s);
  };
  range(10, 137);   // SDI inputs
  range(140, 141);  // DVI inputs
  range(150, 165);  // ME outputs
  range(170, 178);  // DSK outputs
  for (int s : {181, 182, 184, 185, 187, 188, 190, 191}) range(s, s);  // stills: video, key
  for (int s : {201, 202, 204, 205, 207, 208, 210, 211}) range(s, s);  // clips: video, key
  range(220, 223);
  range(230, 233);
  range(314, 329);
  for (auto& i : t.index) i = -1;
  for (int i = 0; i < N_SOURCES; ++i) t.index[t.source[i]] = static_cast<s16>(i);
  return t;
}

constexpr Table SOURCE_TABLE = buildTable();
static_assert(SOURCE_TABLE.source[0] == 10 && SOURCE_TABLE.source[N_SOURCES - 1] == 329);
static_assert(SOURCE_TABLE.source[N_SOURCES - 17] == 233);

CategorySourceLink::AssignHook assignHook = nullptr;

bool bitOf(const u32* words, int i) { return (words[i / 32] >> (i % 32) & 1u) != 0; }
void setBit(u32* words, int i) { words[i / 32] |= 1u << (i % 32); }

}  // namespace

CategorySourceLink& CategorySourceLink::instance() {
  static CategorySourceLink cat;
  return cat;
}

CategorySourceLink& CategorySourceLink::registered() {
  auto* cat = CategoryRegistry::instance().get(TYPE_INDEX, 0);
  MX_CHECK(cat != nullptr);
  return *static_cast<CategorySourceLink*>(cat);
}

void CategorySourceLink::setAssignHook(AssignHook hook) { assignHook = hook; }

int CategorySourceLink::tableSource(int i) {
  MX_CHECK(0 <= i && i < N_SOURCES);
  return SOURCE_TABLE.source[i];
}

int CategorySourceLink::tableIndex(int source) {
  if (source < 0 || source > MAX_SOURCE) return -1;
  return SOURCE_TABLE.index[source];
}

void CategorySourceLink::resume(const void* saved, int flag) {
  (void)flag;
  MxifSourceLink in;
  std::memcpy(static_cast<void*>(&in), saved, sizeof in);
  // Each saved value is taken when a request could have set it; a damaged one keeps its default.
  MxifSourceLink& r = record(0);
  r = MxifSourceLink{};
  const auto take = [this](auto& to, auto from, bool valid) {
    if (valid) {
      to = from;
    } else if (from != to) {
      refuseSaved(1);
    }
  };
  take(r.linkMode, in.linkMode, in.linkMode < 2);
  take(r.tableMode, in.tableMode, in.tableMode < 2);
  for (int i = 0; i < N_SOURCES; ++i) {
    take(r.linked[i], in.linked[i], in.linked[i] == 0 || tableIndex(in.linked[i]) >= 0);
  }
  for (int p = 0; p < MxifAuxBusLink::N_PAIRS; ++p) {
    take(r.auxBusLink.flags[p], in.auxBusLink.flags[p], in.auxBusLink.flags[p] < 2);
  }
  codec::setAllPresence(r);
}

void CategorySourceLink::assign(const MxifSourceLink& in, int ch) {
  MxifSourceLink& live = record(ch);
  MxifSourceLink change{};
  if ((in.mask & MxifSourceLink::LINK_MODE) != 0 && in.linkMode < 2 && in.linkMode != live.linkMode) {
    change.linkMode = in.linkMode;
    change.mask |= MxifSourceLink::LINK_MODE;
  }
  if (assignHook != nullptr) assignHook(change);
  for (int i = 0; i < N_SOURCES; ++i) {
    if (!bitOf(in.entryMask, i)) continue;
    const int value = live.tableMode != 1 ? in.linked[i] : SOURCE_TABLE.source[i];
    if (tableIndex(value) < 0) continue;
    change.linked[i] = static_cast<s16>(value);
    setBit(change.entryMask, i);
  }
  if ((in.mask & MxifSourceLink::TABLE_MODE) != 0 && in.tableMode < 2) {
    change.tableMode = in.tableMode;
    change.mask |= MxifSourceLink::TABLE_MODE;
  }
  for (int p = 0; p < MxifAuxBusLink::N_PAIRS; ++p) {
    if (!bitOf(&in.auxBusLink.mask, p) || in.auxBusLink.flags[p] >= 2) continue;
    change.auxBusLink.flags[p] = in.auxBusLink.flags[p];
    setBit(&change.auxBusLink.mask, p);
  }
  codec::merge(live, change);
  dirty[ch] = 1;
}

int CategorySourceLink::findLinkedSource(int source) {
  const int i = tableIndex(source);
  return i < 0 ? -1 : record(0).linked[i];
}

bool CategorySourceLink::isAuxLinked(int pair) {
  MX_CHECK(0 <= pair && pair < MxifAuxBusLink::N_PAIRS);
  return record(0).auxBusLink.flags[pair] == 1;
}

}  // namespace category
