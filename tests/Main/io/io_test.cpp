#include <gtest/gtest.h>

#include "Driver/sdi/sdi.h"
#include "Main/io/io.h"
#include "Platform/sdi_inputs.h"
#include "tests/support/board_fixture.h"

namespace {

using category::CategoryInputVideo;

class InputVideoTest : public testing_support::BoardTest {};

TEST_F(InputVideoTest, ChannelMode3NeedsAnSdFormatAndStateThree) {
  auto& in = CategoryInputVideo::instance();
  in.initData();
  struct Case {
    int k, format;
    u32 state;
    int expected;
  } cases[] = {{0, 4, 3, 1}, {7, 5, 3, 1}, {31, 4, 3, 1}, {7, 3, 3, 0}, {7, 5, 2, 0}, {7, -1, 3, 0}};
  for (const auto& c : cases) {
    platform::sdiSetDetectedFormat(c.k + 1, c.format);
    in.record(c.k).state = c.state;
    mxSdiUpdateStatus();
    EXPECT_EQ(in.isChannelMode3(10 + c.k), c.expected) << c.k << " " << c.format << " " << c.state;
  }
  // Sources past the 32 inputs have no detected format; non-SDI sources none at all.
  in.record(32).state = 3;
  EXPECT_EQ(std::pair(in.isChannelMode3(42), in.isChannelMode3(140)), std::pair(0, 0));
  in.initData();
}

}  // namespace
