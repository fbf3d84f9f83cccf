// The backend program on a board directory: a start on an existing board is a restart of this core
// (warm), --power-on a power cycle (cold); --frames ends the run.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

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

TEST_F(BackendTest, RefusesAMissingBoard) {
  Outcome run = runBackend("--fast");
  EXPECT_EQ(WEXITSTATUS(run.status), 2);
  EXPECT_NE(run.output.find("usage"), std::string::npos);
}

}  // namespace
