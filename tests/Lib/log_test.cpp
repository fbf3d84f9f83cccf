#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/board_fixture.h"
#include "Lib/Include/check.h"
#include "Lib/Include/log.h"

using testing_support::consoleText;

namespace {

using LogTest = testing_support::BoardTest;

// The level's name heads the line (INFO for a level it does not know); only the last newline is
// dropped; a long message is cut at 255 characters, a newline inside it kept.
TEST_F(LogTest, LineFormLevelNamesAndLongMessagesCutAt255Characters) {
  std::string msg;
  for (int i = 0; i < 300; ++i) msg += static_cast<char>('a' + i % 26);
  msg[254] = '\n';
  const std::tuple<int, std::string, std::string> cases[] = {
      {0, "hello", "\x1b[INFO] hello\n"}, {2, "e", "\x1b[ERR] e\n"}, {3, "f", "\x1b[FATAL] f\n"},
      {7, "seven", "\x1b[INFO] seven\n"}, {-1, "neg", "\x1b[INFO] neg\n"}, {0, "two\n\n", "\x1b[INFO] two\n\n"},
      {1, msg, "\x1b[WARN] " + msg.substr(0, 255) + "\n"}};
  for (const auto& [level, message, expected] : cases) {
    testing_support::consoleClear();
    libmx::LogInstance::instance().printf(level, "%s", message.c_str());
    EXPECT_EQ(consoleText(), expected) << message;
  }
}

TEST_F(LogTest, HeldRunsAreWrittenInTheirPlaceWithTheirCount) {
  {
    libmx::LogRuns runs;
    for (const char* m : {"a", "a", "b", "a", "a", "a"}) MX_LOG(libmx::ERR, "%s", m);
    consolePrintf("x\n");  // other output comes after the run before it
    MX_LOG(libmx::WARN, "a");
  }
  MX_LOG(libmx::WARN, "a");
  MX_LOG(libmx::WARN, "a");
  EXPECT_EQ(consoleText(), "\x1b[ERR] a (2 times)\n\x1b[ERR] b\n\x1b[ERR] a (3 times)\nx\n\x1b[WARN] a\n\x1b[WARN] a\n"
                           "\x1b[WARN] a\n");
}

// Only equal lines join a run (not one that begins the other). Past the cap, its kinds' lines are
// counted by kind, not held, and said in one line at the end; other lines are neither.
TEST_F(LogTest, HeldRunsJoinEqualLinesOnlyAndACapCountsTheRestByKind) {
  const char* const kinds[] = {"x", "y"};
  const char* const type = "receive invalid type 200 : 2 byte";
  const std::string err = "\x1b[ERR] ", info = "\x1b[INFO] ";
  struct {
    std::vector<std::pair<int, const char*>> lines;  // kind (-1: none), text
    std::string console;
  } cases[] = {
      {{{-1, type}, {-1, "receive invalid type 200 : 2 byte2"}, {-1, type}},
       info + type + "\n" + info + type + "2\n" + info + type + "\n"},
      {{{-1, "receive invalid type 200 : 2 byte2"}, {-1, type}}, info + type + "2\n" + info + type + "\n"},
      {{{0, "a"}, {0, "a"}, {-1, "p"}, {1, "b"}, {0, "c"}, {1, "d"}, {1, "d"}, {-1, "q"}, {-1, "q"}},
       err + "a (2 times)\n" + info + "p\n" + err + "b\n" + info + "q (2 times)\n" + err +
           "rx: 3 more lines not written this frame (1 x, 2 y)\n"},
  };
  for (const auto& c : cases) {
    testing_support::consoleClear();
    {
      libmx::LogRuns runs({"rx", kinds, 2, 2});
      for (auto [kind, text] : c.lines) {
        if (kind < 0) MX_LOG(libmx::INFO, "%s", text);
        else libmx::LogRuns::logKind(kind, libmx::ERR, "%s", text);
      }
    }
    EXPECT_EQ(consoleText(), c.console);
  }
}

TEST_F(LogTest, FailedChecksLogTheirTextAndThrowWithFileAndLine) {
  int line = 0;
  try {
    line = __LINE__ + 1;
    MX_CHECK(0 <= 5 && 5 < 4);
    FAIL();
  } catch (const assert::AssertException& e) {
    EXPECT_EQ(std::tuple(std::string(e.file()), e.line()), std::tuple("tests/Lib/log_test.cpp", line));
  }
  EXPECT_THROW(assert::checkValue("Main/bp.cpp", 102, "me", 5, "N_ME", 4), assert::AssertException);
  EXPECT_NO_THROW(assert::checkValue("f", 1, "x", 4, "4", 4));
  EXPECT_EQ(consoleText(), "\x1b[ERR] Assertion failed: tests/Lib/log_test.cpp(" + std::to_string(line) +
                               ") 0 <= 5 && 5 < 4\n\x1b[ERR] Assertion failed: Main/bp.cpp(102) me is 5 must be N_ME\n");
  // A float check passes within 1e-5 of its value, in single precision.
  testing_support::consoleClear();
  EXPECT_THROW(assert::checkFloatValue("Main/x.cpp", 9, "pos", 0.5f, "1.0", 1.0f), assert::AssertException);
  EXPECT_EQ(consoleText(), "\x1b[ERR] Assertion failed: Main/x.cpp(9) pos is 0.500000 must be 1.0\n");
  for (float v : {1.0f, 1.0f + 1e-5f, 1.0f - 1e-5f}) EXPECT_NO_THROW(assert::checkFloatValue("f", 1, "v", v, "1", 1.0f));
  for (float v : {1.0001f, std::nextafter(1.0f + 1e-5f, 2.0f), std::nextafter(1.0f - 1e-5f, 0.0f)}) {
    EXPECT_THROW(assert::checkFloatValue("f", 1, "v", v, "1", 1.0f), assert::AssertException) << v;
  }
}

}  // namespace
