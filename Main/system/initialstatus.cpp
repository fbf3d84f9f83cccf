#include "Main/system/initialstatus.h"

namespace category {

CategoryInitialStatus& CategoryInitialStatus::instance() {
  static CategoryInitialStatus cat;
  return cat;
}

void CategoryInitialStatus::initInternal() {
  CategoryInObject::initInternal();
  record(0).mask = 0;
}

void CategoryInitialStatus::sendStatus(AcknowledgeSender& tx) {
  CategoryInObject::sendStatus(tx);
  record(0).status1 = 0;
  record(0).mask = 0;
}

}  // namespace category
