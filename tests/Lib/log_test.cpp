#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/support/board_fixture.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

using testing_support::BoardTest;
using testing_support::consoleText;

namespace {

class LogTest : public BoardTest {};

TEST_F(LogTest, LineFormAndLevelNames) {
  struct Case {
    int level;
    const char* message;
    const char* expected;
  } cases[] = {
      {0, "hello", "\x1b[INFO] hello\n"}, {1, "w", "\x1b[WARN] w\n"}, {2, "e", "\x1b[ERR] e\n"},
      {3, "f", "\x1b[FATAL] f\n"},        {7, "seven", "\x1b[INFO] seven\n"}, {-1, "neg", "\x1b[INFO] neg\n"},
      {0, "one\n", "\x1b[INFO] one\n"}, {0, "two\n\n", "\x1b[INFO] two\n\n"},  // only the last newline is dropped
  };
  for (auto c : cases) {
    testing_support::consoleClear();
    libmx::LogInstance::instance().printf(c.level, "%s", c.message);
    EXPECT_EQ(consoleText(), c.expected) << c.message;
  }
}

TEST_F(LogTest, LongMessagesAreCutAt255Characters) {
  std::string msg;
  for (int i = 0; i < 300; ++i) msg += static_cast<char>('a' + i % 26);
  msg[254] = '\n';  // a newline inside a truncated message is kept
  libmx::LogInstance::instance().printf(libmx::WARN, "%s", msg.c_str());
  EXPECT_EQ(consoleText(), "\x1b[WARN] " + msg.substr(0, 255) + "\n");
}

TEST_F(LogTest, ConsoleRingWrapsAfterItsLastIndex) {
  platform::writeMem32(platform::LINK_BASE, 0x7FFDE);
  consoleWrite("xyz", 3);
  const u8* data = platform::memory(platform::LINK_BASE + 8, 0x7FFE0);
  EXPECT_EQ(data[0x7FFDE], 'x');
  EXPECT_EQ(data[0x7FFDF], 'y');
  EXPECT_EQ(data[0], 'z');
  EXPECT_EQ(platform::readMem32(platform::LINK_BASE), 1u);
}

class CheckTest : public BoardTest {};

TEST_F(CheckTest, FailedChecksLogTheirTextAndThrowWithFileAndLine) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    MX_CHECK(0 <= 5 && 5 < 4);
    FAIL();
  } catch (const assert::AssertException& e) {
    EXPECT_STREQ(e.file(), "tests/Lib/log_test.cpp");
    EXPECT_EQ(e.line(), line);
  }
  EXPECT_EQ(consoleText(), "\x1b[ERR] Assertion failed: tests/Lib/log_test.cpp(" + std::to_string(line) +
                               ") 0 <= 5 && 5 < 4\n");

  testing_support::consoleClear();
  int me = 5;
  EXPECT_THROW(assert::checkValue("Main/bp.cpp", 102, "me", me, "N_ME", 4), assert::AssertException);
  EXPECT_EQ(consoleText(), "\x1b[ERR] Assertion failed: Main/bp.cpp(102) me is 5 must be N_ME\n");

  testing_support::consoleClear();
  EXPECT_THROW(assert::checkFloatValue("Main/x.cpp", 9, "pos", 0.5f, "1.0", 1.0f), assert::AssertException);
  EXPECT_EQ(consoleText(), "\x1b[ERR] Assertion failed: Main/x.cpp(9) pos is 0.500000 must be 1.0\n");

  EXPECT_NO_THROW(MX_CHECK(true));
  EXPECT_NO_THROW(assert::checkValue("f", 1, "x", 4, "4", 4));
  EXPECT_THROW(assert::throwAssertException("f", 2), assert::AssertException);
}

TEST_F(CheckTest, FloatCheckBoundsInSinglePrecision) {
  struct Case {
    float value;
    bool passes;
  } cases[] = {{1.00001f, true},  {0.99999f, true},  {1.0001f, false}, {0.9999f, false}, {1.0f, true},
               // the bounds themselves pass, the next float beyond them fails
               {1.0f + 1e-5f, true}, {1.0f - 1e-5f, true},
               {std::nextafter(1.0f + 1e-5f, 2.0f), false}, {std::nextafter(1.0f - 1e-5f, 0.0f), false}};
  for (auto c : cases) {
    bool threw = false;
    try {
      assert::checkFloatValue("f", 1, "v", c.value, "1.0", 1.0f);
    } catch (const assert::AssertException&) {
      threw = true;
    }
    EXPECT_EQ(!threw, c.passes) << c.value;
  }
}

}  // namespace
