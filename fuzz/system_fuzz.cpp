// Feeds arbitrary bytes through the request ring into the whole system: every category that start-up
// creates, with its own reader, runs its frames as the VSYNC callback does (driver update, then the
// registry's frame work, inside the callback's catch-all). Then a warm restart takes up the backup
// image those frames left: no check may fail and every record must come back, else the run aborts.
// The input form is fuzz_input.h's.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Lib/Include/link_window.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/storage.h"
#include "Main/framework/vsync.h"
#include "Tools/lib/records/backup_image.h"
#include "Tools/lib/link/ring.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/whole_system.h"

namespace {

// The image as the last frame's copy left it in the non-volatile window, taken up by a new start of
// the categories; a failed check, a category reported broken or a record that differs aborts.
void checkRestart(category::CategoryRegistry& reg) {
  constexpr u32 IMAGE_BYTES = BUF_SIZE * 4;
  const u8* image = platform::memory(BACKUP_BUFFER_ADR, IMAGE_BYTES);
  const auto before = frontend::backedUpRecords(image);
  std::memcpy(platform::memory(NON_VOLATILE_BASE, IMAGE_BYTES), image, IMAGE_BYTES);
  u8* console = platform::memory(LINK_CONSOLE_RING, LINK_CONSOLE_BYTES);
  linkring::consoleSetTaken(console, linkring::consoleWritten(console));  // earlier lines are not the restart's
  fuzzing::startCategories(reg);
  const std::string lines = linkpeer::consoleTake(console);
  const std::string changes = frontend::restartChanges(before, frontend::backedUpRecords(image));
  const bool failed = lines.find("Assertion failed") != std::string::npos || lines.find("is broken") != std::string::npos;
  if (!failed && changes.empty()) return;
  std::fprintf(stderr, "restart lost settings:\n%s%s", lines.c_str(), changes.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  category::CategoryRegistry& reg = fuzzing::wholeSystem();
  fuzzing::runInput(reg, data, size, [](int field) { onVsync(field); });
  checkRestart(reg);
  return 0;
}
