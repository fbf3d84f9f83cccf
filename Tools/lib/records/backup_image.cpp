#include "Tools/lib/records/backup_image.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Lib/Include/storage.h"
#include "Lib/Include/type_layout.h"
#include "Lib/Include/type_names.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/records/types.h"

namespace frontend {
namespace {

// A shorter nvram.mem holds the image's start: the back end takes the records wholly inside it and
// starts the others from their defaults. "" when it holds them all, else what it holds and the first
// record past its end ("PATH holds only 30000 of 53988 bytes of the image: the records from MxifKey
// me=1 on lie past its end; ...").
std::string pastTheEnd(const std::string& path, size_t held) {
  for (int id = 0; id < category::N_TYPES; ++id) {
    for (int m = 0; m < 2; ++m) {
      const int bytes = layout::imageBytes(id, m);
      if (bytes == 0 || static_cast<size_t>(layout::imageOffset(id, m) + bytes) <= held) continue;
      const bool perMe = layout::imageBytes(id, 1) > 0;
      return path + " holds only " + std::to_string(held) + " of " + std::to_string(layout::PLACES.imageBytes) +
             " bytes of the image: the records from " + category::typeNameOf(id) + (perMe ? " me=" + std::to_string(m) : "") +
             " on lie past its end; a back end started on it starts them from their defaults";
    }
  }
  return "";
}

// Fields that every start-up sets anew: a part of the field name, by type.
constexpr struct {
  const char* type;
  const char* field;
} REBUILT[] = {{"MxifControlPanelConfig", "keyFaderStates"},
               {"MxifMaintenance", "mainframeVersion.text0"},
               {"MxifMaintenance", "Alarm.text"},
               {"MxifMaintenance", "mainframeAlarm.flag"}};

// The "name=value" words of a record's text form (a quoted text may hold spaces) but those that a
// start-up sets anew.
std::vector<std::string> keptFields(const std::string& line) {
  std::vector<std::string> out;
  const std::string type = line.substr(0, line.find(' '));
  for (size_t at = type.size(); at < line.size();) {
    const size_t begin = at + 1;
    const size_t eq = line.find('=', begin);
    if (eq == std::string::npos) break;
    size_t end = line[eq + 1] == '"' ? line.find('"', eq + 2) + 1 : eq + 1;
    end = std::min(line.find(' ', end), line.size());
    const std::string word = line.substr(begin, end - begin);
    bool rebuilt = false;
    for (const auto& r : REBUILT) rebuilt = rebuilt || (type == r.type && word.find(r.field) < word.find('='));
    if (!rebuilt) out.push_back(word);
    at = end;
  }
  return out;
}

u32 wordAt(const std::vector<u8>& image, int offset) {
  u32 v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | image[offset + i];  // little-endian, as the target keeps it
  return v;
}

// The whole of a board directory's nvram.mem (the backup image and the settings words behind it),
// zero past what the file holds (held bytes); false with the reason when the file is missing or holds
// no image of this program's version.
bool readBackupImage(const std::string& path, std::vector<u8>& image, size_t& held, std::string& error) {
  image.assign(NON_VOLATILE_SIZE, 0);
  const int fd = cli::openFile(path, O_RDONLY);
  const ssize_t n = fd >= 0 ? pread(fd, image.data(), image.size(), 0) : -1;
  if (n < 0) {
    error = (fd < 0 && errno == ENOENT ? "no backup image: " : "the backup image cannot be read: ") + cli::reason(path);
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::close(fd);
  held = static_cast<size_t>(n);
  if (std::all_of(image.begin(), image.end(), [](u8 b) { return b == 0; })) {
    error = "no backup image in " + path + " (the back end backs up once its start-up has passed)";
    return false;
  }
  if (wordAt(image, 0) != BACKUP_MAGIC) {
    char words[64];
    std::snprintf(words, sizeof words, "its magic word is 0x%08x, not 0x%08x", wordAt(image, 0), BACKUP_MAGIC);
    error = "the backup image in " + path + " cannot be read: " + words + " (the back end keeps such a file aside as " +
            "nvram.mem.unreadable at its next start)";
    return false;
  }
  if (wordAt(image, 4) != BACKUP_VERSION) {
    error = "the backup image in " + path + " is version " + std::to_string(wordAt(image, 4)) + ", this program reads " +
            std::to_string(BACKUP_VERSION);
    return false;
  }
  return true;
}

}  // namespace

bool imageKeeps(int type, int me, int channel, std::string& error) {
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
  if (layout::TYPES[type].records != layout::Records::IMAGE) {
    error = std::string(name) + " is not kept in the backup image";
    return false;
  }
  return true;
}

bool backedUpRecord(const std::string& dir, int type, int me, int channel, std::vector<u8>& record, std::string& error,
                    bool* imageUnread, std::string* shortNote) {
  std::vector<u8> image;
  size_t held = 0;
  const std::string path = dir + "/nvram.mem";
  if (!imageKeeps(type, me, channel, error)) return false;
  if (!readBackupImage(path, image, held, error)) {
    if (imageUnread != nullptr) *imageUnread = true;
    return false;
  }
  const std::string past = pastTheEnd(path, held);
  if (static_cast<size_t>(layout::imageOffset(type, me) + layout::imageBytes(type, me)) > held) {
    error = std::string(category::typeNameOf(type)) + (me > 0 ? " me=" + std::to_string(me) : "") +
            " lies past the end of the backup image: " + past;
    return false;
  }
  if (shortNote != nullptr) *shortNote = past;
  const u8* at = image.data() + layout::recordOffset(type, me, channel);
  record.assign(at, at + layout::TYPES[type].recordSize);
  return true;
}

bool showBackedUp(const std::string& dir, int type, int me, int channel, std::string& out, std::string& note,
                  std::string& error) {
  std::vector<u8> record;
  if (!backedUpRecord(dir, type, me, channel, record, error, nullptr, &note)) return false;
  out = describeStored(type, record.data(), me, channel);
  return true;
}

std::vector<StoredRecord> backedUpRecords(const u8* image) {
  std::vector<StoredRecord> out;
  for (int type = 0; type < category::FIRST_COMMAND_TYPE; ++type) {
    const layout::Type& kept = layout::TYPES[type];
    if (kept.records != layout::Records::IMAGE || !isRecordBuilt(type)) continue;
    for (int me = 0; me < std::min(kept.instances, 2); ++me) {
      for (int c = 0; c < kept.channels; ++c) {
        const u8* record = image + layout::recordOffset(type, me, c);
        out.push_back({type, me, c, std::vector<u8>(record, record + kept.recordSize)});
      }
    }
  }
  return out;
}

std::string restartChanges(const std::vector<StoredRecord>& before, const std::vector<StoredRecord>& after) {
  if (before.size() != after.size()) return "the image holds other records\n";
  std::string out;
  for (size_t i = 0; i < before.size(); ++i) {
    const StoredRecord& x = before[i];
    const StoredRecord& y = after[i];
    if (x.type != y.type || x.bytes.size() != y.bytes.size()) return "the image holds other records\n";
    if (sameStoredValues(x.type, x.bytes.data(), y.bytes.data())) continue;
    const std::string line = describeStored(x.type, x.bytes.data(), x.me, x.channel);
    const auto a = keptFields(line), b = keptFields(describeStored(y.type, y.bytes.data(), y.me, y.channel));
    std::string fields;
    for (size_t k = 0; k < a.size() && k < b.size(); ++k) {
      if (a[k] != b[k]) fields += " " + a[k] + " -> " + b[k].substr(b[k].find('=') + 1);
    }
    if (a.size() != b.size()) fields += " (other fields)";
    // The type and the word after it (the ME or channel of a record that has one).
    if (!fields.empty()) out += line.substr(0, line.find(' ', line.find(' ') + 1)) + ":" + fields + "\n";
  }
  return out;
}

}  // namespace frontend
