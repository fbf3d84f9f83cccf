#pragma once
// The backup image in a board directory's nvram.mem, read-only: where each type's records lie (as
// the back end lays them out at start-up) and one record in the text form of the link.
#include <string>

namespace frontend {

// The text of the record of type for ME me (0 or 1) and channel, as the image holds it; false with
// the reason when the image is missing, of another version, or does not hold that record.
bool showBackedUp(const std::string& dir, int type, int me, int channel, std::string& out, std::string& error);

}  // namespace frontend
