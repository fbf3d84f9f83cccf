// The two programs as a user drives them: help, refusals without a back end, the lock on a board
// directory, requests issued while the back end starts, the console as printed and a record read
// back from the backup image.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "Tools/lib/cli.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Outcome {
  int status = -1;  // exit status; -1 when the program did not exit (a signal, an abort)
  std::string out, err;
};

class Programs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(testing::TempDir()) / ("mx_programs_" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (backend_ > 0) kill(backend_, SIGKILL), waitpid(backend_, nullptr, 0);
    fs::remove_all(dir_);
  }

  // Runs a program to its end with its two output streams.
  Outcome run(const char* program, const std::string& args) {
    const fs::path err = dir_.parent_path() / ("mx_programs_err_" + std::to_string(getpid()));
    FILE* p = popen((std::string(program) + " " + args + " 2>" + err.string()).c_str(), "r");
    Outcome r;
    if (p == nullptr) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::stringstream text;
    text << std::ifstream(err).rdbuf();
    r.err = text.str();
    fs::remove(err);
    return r;
  }
  Outcome frontend(const std::string& args) { return run(MX_FRONTEND_PATH, "--board " + board() + " " + args); }

  // Starts a back end in fast mode on the board and returns once it holds the board's lock.
  void startBackend() {
    backend_ = fork();
    ASSERT_GE(backend_, 0);
    if (backend_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      freopen("/dev/null", "w", stdout);
      execl(MX_BACKEND_PATH, "backend", "--board", board().c_str(), "--fast", static_cast<char*>(nullptr));
      _exit(127);
    }
    const auto until = Clock::now() + std::chrono::seconds(10);
    while (cli::backendOn(board()) == cli::Backend::None && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  }

  std::string board() const { return (dir_ / "board").string(); }

  fs::path dir_;
  pid_t backend_ = -1;
};

TEST_F(Programs, HelpAndRefusalsWithoutABackEnd) {
  fs::create_directories(board());
  const std::tuple<const char*, std::string, int, std::string> cases[] = {
      {MX_FRONTEND_PATH, "--help", 0, "fields TYPE"},
      {MX_BACKEND_PATH, "--help", 0, "--quiet"},
      {MX_FRONTEND_PATH, "--board " + board() + " send MxifSystem secondText=abc", 1,
       "frontend: no back end is running on " + board() + "\n"},
      {MX_BACKEND_PATH, "--board " + (dir_ / "missing" / "board").string(), 1,
       "backend: cannot create board directory " + (dir_ / "missing" / "board").string() + ": No such file or directory\n"},
  };
  for (const auto& [program, args, status, text] : cases) {
    const Outcome r = run(program, args);
    EXPECT_EQ(r.status, status) << args << r.err;
    // Help goes to standard output, a failure to standard error alone.
    EXPECT_NE((status == 0 ? r.out : r.err).find(text), std::string::npos) << r.out << r.err;
    EXPECT_EQ(status == 0 ? r.err : r.out, "") << args;
  }
}

TEST_F(Programs, ARequestIssuedDuringStartUpIsAnsweredAndReadBackFromTheBackup) {
  startBackend();
  ASSERT_NE(cli::backendOn(board()), cli::Backend::None);
  const Outcome sent = frontend("--timeout 10 send MxifSystem secondText=abc");
  ASSERT_EQ(sent.status, 0) << sent.err;
  EXPECT_EQ(cli::backendOn(board()), cli::Backend::Running);
  // The echo; the genlock's lock report may come before it or with it.
  Outcome echo;
  for (int n = 0; n < 3 && echo.out.find(" secondText=\"abc\"") == std::string::npos; ++n) {
    echo = frontend("watch --count 1 --timeout 10");
  }
  EXPECT_EQ(echo.out.rfind("MxifSystem ", 0), 0u) << echo.out << echo.err;
  EXPECT_NE(echo.out.find(" secondText=\"abc\""), std::string::npos) << echo.out;

  // A second back end on the board is refused; the first one keeps running.
  const Outcome second = run(MX_BACKEND_PATH, "--board " + board() + " --fast");
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find(") is already running on " + board()), std::string::npos) << second.err;

  const Outcome console = frontend("console");
  EXPECT_EQ(console.status, 0);
  EXPECT_NE(console.out.find("\n[INFO] Start Timer task\n"), std::string::npos) << console.out;
  EXPECT_EQ(console.out.find('\x1b'), std::string::npos);

  // The backup copy runs every frame: a few frames later the image holds the text.
  Outcome shown;
  const auto until = Clock::now() + std::chrono::seconds(10);
  do {
    shown = frontend("show MxifSystem");
  } while (shown.out.find("secondText=\"abc\"") == std::string::npos && Clock::now() < until);
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find(" secondText=\"abc\" "), std::string::npos) << shown.out;
}

// A back end started in the background of a script (where SIGINT is ignored) still stops on
// SIGINT, says so, and leaves no backend.pid.
TEST_F(Programs, ABackgroundBackEndStopsOnSigint) {
  const std::string pid = board() + "/backend.pid";
  const Outcome r = run("sh", "-c '" + std::string(MX_BACKEND_PATH) + " --board " + board() + " --fast & b=$!; " +
                                  "while ! grep -q started " + pid + " 2>/dev/null; do sleep 0.05; done; " +
                                  "kill -INT $b; for i in $(seq 100); do kill -0 $b 2>/dev/null && sleep 0.1; done; kill -9 $b 2>/dev/null; " +
                                  "wait $b; echo status $?; test -e " + pid + " || echo no pid file'");
  EXPECT_NE(r.out.find("[INFO] stopped by signal\nstatus 0\nno pid file\n"), std::string::npos) << r.out << r.err;
}

}  // namespace
