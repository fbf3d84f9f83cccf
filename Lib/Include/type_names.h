#pragma once
// Type indexes of the front-end link and their names.
#include "Lib/Include/type_index.h"

namespace category {

// The name of a type index as error lines print it; "" for an index outside 0..103.
const char* typeNameOf(int type);

// A type index as a log line names it: its name, or its number where it has none.
class TypeLabel {
 public:
  explicit TypeLabel(int type);
  TypeLabel(const TypeLabel&) = delete;
  TypeLabel& operator=(const TypeLabel&) = delete;
  const char* text() const { return text_; }

 private:
  const char* text_;
  char number_[12];
};

}  // namespace category
