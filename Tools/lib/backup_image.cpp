#include "Tools/lib/backup_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "Lib/Include/storage.h"
#include "Main/framework/bp.h"
#include "Tools/lib/record_types.h"
#include "Tools/lib/scratch_system.h"

namespace frontend {
namespace {

struct Slot {
  int offset = 0;
  int bytes = 0;
};

// The records of the ME 0 and ME 1 instances of every type, in the order and sizes the back end
// binds them: its own categories, bound here as at its start-up.
const Slot& slotOf(int type, int me) {
  static Slot slots[2][category::N_TYPES];
  static const bool laidOut = [] {
    useScratchSystem();
    const auto& registry = category::CategoryRegistry::instance();
    int used = BACKUP_HEADER_BYTES;
    for (int id = 0; id < category::N_TYPES; ++id) {
      for (int m = 0; m < 2; ++m) {
        const int bytes = registry.at(id, m) != nullptr ? registry.boundBytes(id, m) : 0;
        slots[m][id] = {used, bytes};
        used += bytes;
      }
    }
    return true;
  }();
  (void)laidOut;
  return slots[me][type];
}

u32 wordAt(const std::vector<u8>& image, int offset) {
  u32 v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | image[offset + i];  // little-endian, as the target keeps it
  return v;
}

}  // namespace

bool showBackedUp(const std::string& dir, int type, int me, int channel, std::string& out, std::string& error) {
  const char* name = category::typeNameOf(type);
  RecordShape shape;
  if (!recordShape(type, shape)) {
    error = std::string(name) + ": the record of this type is not built into this program";
    return false;
  }
  if (!shape.perMe && me != 0) {
    error = std::string(name) + " is one record for all MEs: it takes no me=";
    return false;
  }
  if (channel >= shape.channels) {
    error = std::string(name) + ": no such channel " + std::to_string(channel) + " (channel=0.." +
            std::to_string(shape.channels - 1) + ")";
    return false;
  }
  if (me >= 2) {
    error = std::string(name) + ": ME " + std::to_string(me) + " is not kept in the backup image (only MEs 0 and 1 are)";
    return false;
  }
  const Slot& slot = slotOf(type, me);
  const int needed = static_cast<int>(shape.size) * (channel + 1);
  if (slot.bytes < needed) {
    error = std::string(name) + (me > 0 && slotOf(type, 0).bytes >= needed ? ": ME " + std::to_string(me) : "") +
            " is not kept in the backup image";
    return false;
  }
  const std::string path = dir + "/nvram.mem";
  std::vector<u8> image(NON_VOLATILE_SIZE);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = "no backup image: " + path + ": " + std::strerror(errno);
    return false;
  }
  const ssize_t n = pread(fd, image.data(), image.size(), 0);
  ::close(fd);
  if (n != static_cast<ssize_t>(image.size()) || wordAt(image, 0) != BACKUP_MAGIC) {
    error = "no backup image in " + path + " (the back end backs up once its start-up has passed)";
    return false;
  }
  if (wordAt(image, 4) != BACKUP_VERSION) {
    error = "the backup image in " + path + " is version " + std::to_string(wordAt(image, 4)) + ", this program reads " +
            std::to_string(BACKUP_VERSION);
    return false;
  }
  out = describeStored(type, image.data() + slot.offset + shape.size * channel, me, channel);
  return true;
}

}  // namespace frontend
