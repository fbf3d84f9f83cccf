#include "Tools/lib/scratch_system.h"

#include "Lib/Include/storage.h"
#include "Main/framework/bp.h"
#include "Main/framework/link.h"
#include "Main/framework/startup.h"
#include "Platform/board.h"

namespace frontend {

bool useScratchSystem() {
  if (!platform::boardIsOpen()) {
    platform::BoardOptions options;  // anonymous memory, stepped clock
    platform::boardOpen(options);
    platform::setDebugEcho(false);
  }
  auto& registry = category::CategoryRegistry::instance();
  createCategories();  // enters only the ones not entered yet
  if (registry.storageOf(category::TYPE_KEY, 0) != nullptr) return false;  // a system is bound already
  // Rows 0 and 1 in backup order first, then the others, as start-up binds them.
  static u8 area[2][BUF_SIZE * 4];
  int used[2] = {BACKUP_HEADER_BYTES, 0};
  for (int id = 0; id < category::N_TYPES; ++id) {
    for (int m = 0; m < category::N_ME; ++m) {
      const int buffer = m < 2 ? 0 : 1;
      if (registry.at(id, m) == nullptr || used[buffer] >= BUF_SIZE * 4) continue;
      used[buffer] += registry.bindInstance(m, id, area[buffer] + used[buffer]);
    }
  }
  registry.initializeAll();
  RequestReceiver::instance().reset();
  return true;
}

}  // namespace frontend
