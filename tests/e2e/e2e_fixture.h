#pragma once
// The fixture of the whole-system tests: `backend` on a board directory of the test, driven by the
// `frontend` program (and by the same code as a library) as the front-end processor would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Tools/lib/link/link.h"
#include "Tools/lib/cli.h"

namespace e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int WAIT_SECONDS = 300;  // bound of any one wait, the tools' too: a loaded host is many times slower

inline int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

inline std::string fileText(const std::string& path) {
  std::stringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

struct Outcome {
  int status = -1;  // exit status; -1 when the program did not exit (a signal, an abort)
  std::string out, err;
  int waits = 0;  // lines "frontend: waiting for ...", kept out of err: any wait past a second says one
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mx_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
    board_ = dir_ + "/board";
    fs::create_directory(board_);
  }
  void TearDown() override {
    stopBackend();
    // One that a script started and left running.
    int pid = 0;
    if (cli::backendOn(board_) != cli::Backend::None && (std::ifstream(board_ + "/backend.pid") >> pid) && pid > 0) {
      kill(pid, SIGKILL);
    }
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the back end (see launch) and returns once it holds the board;
  // when started, once its main loop runs and the genlock has locked (whose report, before the front
  // end connects, then joins no echo that a test looks at).
  void boot(bool started = true) {
    launch({});
    ASSERT_TRUE(poll([&] { return cli::backendOn(board_) != cli::Backend::None; }));
    if (!started) return;
    std::string error;
    ASSERT_TRUE(link_.open(board_, WAIT_SECONDS, error)) << error;
    console_.clear();
    ASSERT_TRUE(waitConsole("Start Timer task")) << console_;
    ASSERT_TRUE(waitConsole("GenLock:LOCK")) << console_;
  }

  // Starts the back end in fast mode (its output in backend.log) and returns at once.
  void launch(std::vector<std::string> args) {
    args.insert(args.begin(), {"backend", "--board", board_, "--fast"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string log = dir_ + "/backend.log";
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // it never outlives this test program
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) dup2(fd, 1), dup2(fd, 2);
      execv(MX_BACKEND_PATH, argv.data());
      _exit(127);
    }
  }

  void stopBackend() {
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    pid_ = -1;
    link_.close();
  }

  // Polls until ready() holds; false after the time bound.
  template <class F>
  static bool poll(F ready, double seconds = WAIT_SECONDS) {
    const auto until = Clock::now() + std::chrono::duration<double>(seconds);
    while (!ready()) {
      if (Clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // Collects console lines until text has appeared n times.
  bool waitConsole(const std::string& text, int n = 1) {
    return poll([&] {
      console_ += link_.takeConsole();
      return count(console_, text) >= n;
    });
  }

  // Runs a shell command to its end with its two output streams.
  Outcome run(const std::string& command) {
    const std::string err = dir_ + "/stderr.txt";
    FILE* p = popen((command + " 2>" + err).c_str(), "r");
    Outcome r;
    if (p == nullptr) return r;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = fileText(err);
    r.waits = count(r.err, "frontend: waiting for ");
    r.err = std::regex_replace(r.err, std::regex("frontend: waiting for [^\n]*\n"), "");
    return r;
  }
  // frontend on the board, waiting up to WAIT_SECONDS unless args begin with their own --timeout (a sound run ends at its answer).
  std::string tool(const std::string& args) const {
    const std::string bound = !args.starts_with("--timeout") ? "--timeout " + std::to_string(WAIT_SECONDS) + " " : "";
    return std::string(MX_FRONTEND_PATH) + " --board " + board_ + " " + bound + args;
  }
  Outcome frontend(const std::string& args) { return run(tool(args)); }

  // Console lines printed by the program (they are taken from the ring, so kept in console_ too).
  std::string programConsole() {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Outcome r = frontend("console");
    EXPECT_EQ(r.status, 0);
    return console_ += r.out, r.out;
  }

  std::string dir_, board_;
  pid_t pid_ = -1;
  frontend::Link link_;
  std::string console_;
};

}  // namespace e2e
