#pragma once
// Records and commands of the link by type name, in their text form: building a request body from
// "field=value" words, and describing a received body as one line. Every record that this program
// is built with (data_internal.h) is known by its field list; other types are known by name only.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Lib/Include/types.h"

namespace frontend {

using Bytes = std::vector<u8>;
using Assignments = std::vector<std::pair<std::string, std::string>>;

// The fader event, whose record is not built here (the program writes its body byte by byte).
constexpr int TYPE_FADER_EVENT = 95;

// Type index of a name ("MxifSystem", "waitCmd", ...), or of a decimal index 0..103; -1 if none.
int typeIndexOf(std::string_view name);

// Whether the record of the type is built into this program.
bool isRecordBuilt(int type);

// Up to three type names nearest to a name that is none, nearest first (for an error line).
std::vector<std::string> nearestTypeNames(std::string_view name);

// A header line, then a line per field that a front end sets: its name (an array as
// "name[0..N-1]") and what it takes ("0..255", "text of up to 7 characters"); the index byte as
// "me" or "channel" with its range. False with a message for a type whose record is not built.
bool fieldList(int type, std::string& out, std::string& error);

// Size of the record in memory, and whether it has an instance per ME or several channels.
struct RecordShape {
  size_t size = 0;
  bool perMe = false;
  int channels = 1;
};
bool recordShape(int type, RecordShape& shape);

// One line for a record in its memory form (as the back end keeps it), with every field, in the
// form of describe; index is the ME of a per-ME record, else the channel. The record must be built.
std::string describeStored(int type, const u8* record, int index);

// Builds the body of a record or command of the type from assignments. Each name is a field
// ("format"), an element ("multiviewSource[2]"), a sub-record field ("display.option") or a text
// (the text as it stands); setting one sets its presence bit. "me" and "channel" set the record's
// index byte when no field has that name. Returns false with a message for a type whose record is
// not built, an unknown name or a bad value.
bool buildBody(int type, const Assignments& fields, Bytes& body, std::string& error);

// One line: the type name, "me=N" or "channel=N" for records with an index byte, then every field
// that is carried (whose presence bit is set, or that has none) as name=value, texts quoted.
// A type whose record is not built, or a body that does not hold the record, is shown in hex.
std::string describe(int type, const u8* body, size_t size);

}  // namespace frontend
