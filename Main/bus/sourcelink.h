#pragma once
// Source link table (type 37): for each of the 195 sources of the source table the source that goes
// with it on the other bus of a linked pair, the link mode and the AUX pair link flags.
#include "Main/framework/bp.h"
#include "Lib/Include/data_internal.h"

namespace category {

class CategorySourceLink : public CategoryCommon<MxifSourceLink> {
 public:
  static constexpr int N_SOURCES = MxifSourceLink::N_SOURCES;

  // Given each change before its entries are looked at (the key source memory clears its units on a
  // new link mode); installed by the category that owns the key memory.
  using AssignHook = void (*)(const MxifSourceLink& change);
  static void setAssignHook(AssignHook hook);

  static CategorySourceLink& instance();
  // The instance entered in the registry under type 37 (the check fails when there is none).
  static CategorySourceLink& registered();

  // Source i of the fixed source table (0..194).
  static int tableSource(int i);
  // Position of the source in the table, -1 when it is not there.
  static int tableIndex(int source);

  // Copies link mode, table mode, entries and AUX flags from the image, every bit present.
  void resume(const void* saved, int flag = 0) override;
  void assign(const MxifSourceLink& in, int ch) override;

  // The source linked to source, -1 when source is not in the table.
  int findLinkedSource(int source);
  // 0: the first bus of a pair drives the second, 1: the second drives the first.
  int linkMode() { return record(0).linkMode; }
  int tableMode() { return record(0).tableMode; }
  // Whether AUX bus entries 24 + 2p and 25 + 2p are linked (pair 0..23).
  bool isAuxLinked(int pair);

 protected:
  CategorySourceLink() = default;
};

}  // namespace category
