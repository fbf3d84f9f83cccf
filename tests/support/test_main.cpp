// Test programs run on an anonymous simulated board in stepped time; an unmapped access throws.
#include <gtest/gtest.h>

#include "tests/support/board_fixture.h"
#include "Platform/i2c_devices.h"
#include "Platform/bringup_models.h"
#include "Platform/clip_model.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  platform::BoardOptions options;
  options.clock = platform::ClockMode::Stepped;
  platform::boardOpen(options);
  platform::installBoardDevices();
  platform::bringUpAttach();
  platform::clipModelAttach();
  platform::setDebugEcho(false);
  platform::setFaultHandler([](const char* message) { throw testing_support::BoardFault(message); });
  int rc = RUN_ALL_TESTS();
  platform::boardClose();
  return rc;
}
