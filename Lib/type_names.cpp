#include "Lib/Include/type_names.h"

#include <cstdio>

namespace category {
namespace {

// In index order, from the list of types.
#define MX_TYPE_NAME(index, constant, name) #name,
constexpr const char* TYPE_NAMES[] = {MX_LINK_TYPES(MX_TYPE_NAME)};
#undef MX_TYPE_NAME
static_assert(sizeof TYPE_NAMES / sizeof TYPE_NAMES[0] == N_TYPES);

}  // namespace

const char* typeNameOf(int type) { return (0 <= type && type < N_TYPES) ? TYPE_NAMES[type] : ""; }

TypeLabel::TypeLabel(int type) : text_(typeNameOf(type)) {
  if (*text_ != '\0') return;
  std::snprintf(number_, sizeof number_, "%d", type);
  text_ = number_;
}

}  // namespace category
