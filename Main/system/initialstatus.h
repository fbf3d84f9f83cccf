#pragma once
// Initial status (type 55, one record held in the object, never in the backup image): merged from
// the front end and echoed once per message; status1 lasts one status turn.
#include "Lib/Include/data_internal.h"
#include "Main/framework/services.h"

namespace category {

class CategoryInitialStatus : public CategoryInObject<internal::MxifInitialStatus> {
 public:
  static CategoryInitialStatus& instance();

  void initInternal() override;
  // The record's report, then status1 and the presence word back to 0 whether or not it went out.
  void sendStatus(AcknowledgeSender& tx) override;

 protected:
  CategoryInitialStatus() = default;
};

}  // namespace category
