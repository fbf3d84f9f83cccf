// Attaches the models of the cold power-on path.
#include "bringup_models.h"

#include "nand_device.h"

namespace platform {

void bringUpAttach() {
  nandAttach();
  configPortAttach();
  ddr3Attach();
  serdesAttach();
}

void bringUpDetach() {
  serdesDetach();
  ddr3Detach();
  configPortDetach();
  nandDetach();
}

}  // namespace platform
