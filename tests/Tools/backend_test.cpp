// The backend program on a board directory: a start on an existing board is a restart of this core
// (warm), --power-on a power cycle (cold); --frames ends the run; its refusals; the lock file.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>

#include "Tools/frontend_lib.h"
#include "Tools/lib/cli.h"
#include "Tools/lib/console_lines.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string output;
};

Outcome runBackend(const std::string& args) {
  std::string exe = (fs::read_symlink("/proc/self/exe").parent_path() / "backend").string();
  std::string command = exe + " " + args + " 2>&1";
  Outcome run{-1, {}};
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return run;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) run.output.append(buf, n);
  run.status = pclose(p);
  return run;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

class BackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("backend_test_" + std::to_string(getpid()));
    fs::remove_all(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  fs::path dir;
};

TEST_F(BackendTest, WarmRestartAndColdPowerOn) {
  std::string board = "--board " + dir.string() + " --fast --frames 20";
  struct Step {
    const char* extra;
    bool cold;
  } steps[] = {{"", true}, {"", false}, {" --power-on", true}, {"", false}};
  for (auto& step : steps) {
    Outcome run = runBackend(board + step.extra);
    SCOPED_TRACE(step.extra);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.output;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.output;
    EXPECT_EQ(count(run.output, "start power on sequence"), step.cold ? 1 : 0) << run.output;
    EXPECT_EQ(count(run.output, "Start ORVEX-21 Backend Process"), 1);
    EXPECT_EQ(count(run.output, "Start Timer task"), 1);
  }
  EXPECT_TRUE(fs::exists(dir / "nvram.mem"));
}

TEST_F(BackendTest, TraceFileHoldsFrameStageAddressValue) {
  fs::create_directories(dir);
  fs::path trace = dir / "trace.txt";
  Outcome run = runBackend("--board " + dir.string() + " --fast --frames 15 --trace " + trace.string());
  ASSERT_EQ(WEXITSTATUS(run.status), 0) << run.output;
  FILE* f = std::fopen(trace.c_str(), "r");
  ASSERT_NE(f, nullptr);
  unsigned frame, adr, value;
  int stage;
  int lines = 0, stageFour = 0;
  while (std::fscanf(f, "%u %d %x %x", &frame, &stage, &adr, &value) == 4) {
    ++lines;
    // The driver update closes DMA channel 1 in its fourth stage.
    if (stage == 4 && adr == 0x4000033C && value == 0) ++stageFour;
  }
  std::fclose(f);
  EXPECT_GT(lines, 0);
  EXPECT_GE(stageFour, 14);
}

TEST_F(BackendTest, RefusalsNameTheirCauseWithoutAnAbort) {
  const std::string board = "--board " + dir.string();
  const std::tuple<std::string, int, const char*> cases[] = {
      {"--fast", 2, "--board DIR is needed"},
      {board + " --frames 0", 2, "--frames takes a count above 0, not 0"},
      {board + " --frames -3", 2, "--frames takes a count above 0, not -3"},
      {board + " --log loud", 2, "--log takes info, warn, err or fatal"},
      {board + " --frames", 2, "--frames needs a value"},
      {"--board " + (dir / "missing" / "board").string(), 1, "missing/board: No such file or directory"},
      {board + " --trace " + (dir / "missing" / "trace").string(), 1, "missing/trace: No such file or directory"},
  };
  for (const auto& [args, status, why] : cases) {
    Outcome run = runBackend(args);
    ASSERT_TRUE(WIFEXITED(run.status)) << args << run.output;
    EXPECT_EQ(WEXITSTATUS(run.status), status) << args;
    EXPECT_NE(run.output.find(why), std::string::npos) << run.output;
  }
}

TEST_F(BackendTest, LogLevelFiltersTheCopyOnStandardOutputOnly) {
  Outcome quiet = runBackend("--board " + dir.string() + " --fast --frames 20 --quiet");
  Outcome errors = runBackend("--board " + dir.string() + " --fast --frames 20 --log err");
  EXPECT_EQ(std::tuple(WEXITSTATUS(quiet.status), quiet.output), std::tuple(0, std::string()));
  // The warm start resumes the cleared ME maps of the first run, and its first frame repairs them.
  const std::string conflicts = "[ERR] ME Change conflict\n[ERR] ME Change conflict\n[ERR] ME Change conflict\n";
  EXPECT_EQ(std::tuple(WEXITSTATUS(errors.status), errors.output), std::tuple(0, conflicts));
  std::ostringstream console, err;
  ASSERT_EQ(frontend::run({"--board", dir.string(), "console"}, console, err), 0);
  // Both runs wrote their lines to the console ring (the second one a warm start).
  EXPECT_EQ(count(console.str(), "[INFO] Start Timer task\n"), 2) << console.str();
  EXPECT_NE(err.str().find("no back end is running on"), std::string::npos);
}

TEST(ConsoleLines, LevelFromTheHeadAndNoEsc) {
  const std::pair<const char*, int> lines[] = {{"\x1b[INFO] a\n", libmx::INFO}, {"\x1b[WARN] b\n", libmx::WARN},
                                               {"\x1b[ERR] c\n", libmx::ERR},   {"[FATAL] d\n", libmx::FATAL},
                                               {", 29, 0.1\n", libmx::INFO},      {"[ERROR] e\n", libmx::INFO}};
  for (const auto& [line, level] : lines) EXPECT_EQ(cli::lineLevel(line), level) << line;
  EXPECT_EQ(cli::withoutEsc("\x1b[INFO] a\n\x1b[WARN] b\n"), "[INFO] a\n[WARN] b\n");
}

TEST_F(BackendTest, LockTellsWhetherABackEndRunsAndHasStarted) {
  fs::create_directories(dir);
  EXPECT_EQ(cli::backendOn(dir), cli::Backend::None);
  cli::BackendLock lock;
  std::string error;
  ASSERT_TRUE(lock.acquire(dir, error)) << error;
  EXPECT_EQ(cli::backendOn(dir), cli::Backend::Starting);
  lock.markStarted();
  EXPECT_EQ(cli::backendOn(dir), cli::Backend::Running);
  // The same process starting again (a restart) keeps its lock and starts up again.
  cli::BackendLock restarted;
  ASSERT_TRUE(restarted.acquire(dir, error)) << error;
  EXPECT_EQ(cli::backendOn(dir), cli::Backend::Starting);
  // Any other holder is refused.
  unsetenv("MX_BACKEND_LOCK_FD");
  cli::BackendLock second;
  EXPECT_FALSE(second.acquire(dir, error));
  EXPECT_EQ(error, "a back end (process " + std::to_string(getpid()) + ") is already running on " + dir.string());
}

}  // namespace
