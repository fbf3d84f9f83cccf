#pragma once
// The backup image in a board directory's nvram.mem, read-only: where each type's records lie (as
// Lib/Include/type_layout.h lays them out) and one record in the text form of the link. And the
// records of an image, to tell what a restart gave back.
#include <string>
#include <vector>

#include "Lib/Include/types.h"

namespace frontend {

// Whether the backup image keeps the record of type for ME me and channel (of MEs 0 and 1, the types
// the back end backs up); false with why not. Nothing is read.
bool imageKeeps(int type, int me, int channel, std::string& error);

// The record of type for ME me (0 or 1) and channel in its memory form, as the image in a board
// directory's nvram.mem holds it; false with the reason when the image is missing, of another version
// (*imageUnread true for those two: a record that the image keeps), or does not hold that record: not
// kept, or past the end of a file cut short, which the back end starts from its defaults. A file cut
// short that holds it sets *shortNote to which records lie past its end ("" when none do).
bool backedUpRecord(const std::string& dir, int type, int me, int channel, std::vector<u8>& record, std::string& error,
                    bool* imageUnread = nullptr, std::string* shortNote = nullptr);

// The same record in its text form, and the note of a file cut short ("" when whole).
bool showBackedUp(const std::string& dir, int type, int me, int channel, std::string& out, std::string& note,
                  std::string& error);

// A record of a backup image, as its bytes: type, ME and channel.
struct StoredRecord {
  int type = 0;
  int me = 0;
  int channel = 0;
  std::vector<u8> bytes;
};

// Every record that a backup image (from its header on, as the back end lays it out) keeps of the ME 0
// and ME 1 instances, type by type.
std::vector<StoredRecord> backedUpRecords(const u8* image);

// What a restart changed between two lists of backedUpRecords: a line per record that differs, in
// the text form of describeStored with its fields as "name=before -> after"; empty when they agree.
// Fields that every start-up sets anew by design are left out: the key-fader button states (off),
// text 0 of the mainframe version (this program's), the alarm texts (from the saved flags) and the
// alarm flags of absent power units.
std::string restartChanges(const std::vector<StoredRecord>& before, const std::vector<StoredRecord>& after);

}  // namespace frontend
