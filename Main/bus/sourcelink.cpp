#include "Main/bus/sourcelink.h"

namespace category {
namespace {

constexpr int N_SOURCES = MxifSourceLink::N_SOURCES;

constexpr int MAX_SOURCE = 329;

struct Table {
  s16 source[N_SOURCES];
  s16 index[MAX_SOURCE + 1];  // position of each source number, -1 when absent
};

constexpr const auto& LINKABLE = MxifSourceLink::LINKABLE;

constexpr Table buildTable() {
  Table t{};
  int n = 0;
  for (const rules::Range& r : LINKABLE) {
    for (int s = r.lo; s <= r.hi; ++s) t.source[n++] = static_cast<s16>(s);
  }
  for (auto& i : t.index) i = -1;
  for (int i = 0; i < N_SOURCES; ++i) t.index[t.source[i]] = static_cast<s16>(i);
  return t;
}

constexpr rules::Rule TABLE_LINKS_ITSELF = {
    rules::Effect::MOVES, "with tableMode 1 (as held) each source of the table is linked to itself: an entry sent "
                          "takes the table's source, whatever its value"};

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
  take(r.linkMode, in.linkMode, limits::takes(in, in.linkMode));
  take(r.tableMode, in.tableMode, limits::takes(in, in.tableMode));
  for (int i = 0; i < N_SOURCES; ++i) {
    // 0, a link never set, is kept too.
    take(r.linked[i], in.linked[i], in.linked[i] == 0 || limits::takes(in, in.linked[i]));
  }
  for (int p = 0; p < MxifAuxBusLink::N_PAIRS; ++p) {
    take(r.auxBusLink.flags[p], in.auxBusLink.flags[p], limits::takes(in, in.auxBusLink.flags[p]));
  }
  codec::setAllPresence(r);
}

void CategorySourceLink::assign(const MxifSourceLink& in, int ch) {
  const rules::Checking checking(in);
  MxifSourceLink& live = record(ch);
  MxifSourceLink change{};
  if ((in.mask & MxifSourceLink::LINK_MODE) != 0 && limits::takes(in, in.linkMode) && in.linkMode != live.linkMode) {
    change.linkMode = in.linkMode;
    change.mask |= MxifSourceLink::LINK_MODE;
  }
  if (assignHook != nullptr) assignHook(change);
  if (in.reserved != 0) rules::note(MxifSourceLink::RESERVED_ZERO, in, in.reserved);
  for (int i = 0; i < N_SOURCES; ++i) {
    if (!bitOf(in.entryMask, i)) continue;
    if (live.tableMode == 1) {
      if (in.linked[i] != SOURCE_TABLE.source[i]) {
        rules::note(TABLE_LINKS_ITSELF, in, in.linked[i]);
        rules::input(live, live.tableMode);
      }
    } else if (!limits::takes(in, in.linked[i])) {
      continue;
    }
    change.linked[i] = live.tableMode != 1 ? in.linked[i] : SOURCE_TABLE.source[i];
    setBit(change.entryMask, i);
  }
  if ((in.mask & MxifSourceLink::TABLE_MODE) != 0 && limits::takes(in, in.tableMode)) {
    change.tableMode = in.tableMode;
    change.mask |= MxifSourceLink::TABLE_MODE;
  }
  for (int p = 0; p < MxifAuxBusLink::N_PAIRS; ++p) {
    if (!bitOf(&in.auxBusLink.mask, p) || !limits::takes(in, in.auxBusLink.flags[p])) continue;
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
