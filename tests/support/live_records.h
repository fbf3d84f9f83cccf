#pragma once
// The live records of the categories of a system in this program, by record type: read, written
// field by field in their text form (a damaged backup image is made this way), and listed whole.
#include <gtest/gtest.h>

#include <string>

#include "Lib/Include/codec.h"
#include "Lib/Include/storage.h"
#include "Main/framework/bp.h"
#include "Platform/platform.h"
#include "Tools/lib/records/backup_image.h"

namespace testing_support {

// Channel ch of the ME me instance's record of type R; for ME rows 0 and 1 it lies in the backup image.
template <class R>
R& live(int me, int ch) {
  return static_cast<category::CategoryCommon<R>*>(category::CategoryRegistry::instance().at(R::TYPE_INDEX, me))->record(ch);
}

// Sets one field of the live record from "name=value" (the codec's text form).
template <class R>
void put(int me, int ch, const std::string& assignment) {
  const size_t eq = assignment.find('=');
  ASSERT_TRUE(codec::setText(live<R>(me, ch), assignment.substr(0, eq), assignment.substr(eq + 1))) << assignment;
}

// Every field of the live record as "\nname=value" lines.
template <class R>
std::string fieldsText(int me, int ch) {
  R r = live<R>(me, ch);
  codec::setAllPresence(r);
  return "\n" + codec::toText(r);
}

// The records of MEs 0 and 1 as the backup buffer holds them.
inline std::vector<frontend::StoredRecord> backedUp() {
  return frontend::backedUpRecords(platform::memory(BACKUP_BUFFER_ADR, BUF_SIZE * 4));
}

}  // namespace testing_support
