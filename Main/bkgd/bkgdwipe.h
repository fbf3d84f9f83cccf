#pragma once
// Background wipe memory (type 9, one instance per ME): twelve stored wipes. The selected entry
// follows every change of the ME's live background wipe; selecting another entry recalls its wipe
// into the background, through the background's own checks; a step request moves the background's
// pattern to the next variant of its family.
#include "Lib/Include/data_internal.h"
#include "Main/framework/bp.h"

namespace category {

class CategoryBkgdWipe : public CategoryCommon<MxifBkgdWipe> {
 public:
  static constexpr int N_ENTRIES = MxifBkgdWipe::N_ENTRIES;

  // The four instances, one per ME, built on first call.
  static CategoryBkgdWipe* instance();

  // The entry last recalled is the selected one: no recall at the first frame.
  void initInternal() override;
  // Takes every present field unchecked; an entry's pattern {15, 1} is stored as {0, 0}.
  void assign(const MxifBkgdWipe& in, int ch) override;
  // Pattern step, tracking of the background in the applied entry, recall on a new selection.
  void update() override;

  // The entry that tracking writes into (12 or more: none).
  int applied() const { return applied_; }

 private:
  void stepPattern();
  void toBackground(const MxifBkgd& change);

  int applied_ = 0;
};

}  // namespace category
