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
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

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
    // One that a script started and left running.
    int pid = 0;
    if (cli::backendOn(board()) != cli::Backend::None && (std::ifstream(board() + "/backend.pid") >> pid) && pid > 0) {
      kill(pid, SIGKILL);
    }
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

// The "Operating it" block of README.md run as it stands, with the programs and a board directory
// of this test in place of build/...: each step's effect shows in what its watch printed, and the
// registers in the trace.
TEST_F(Programs, TheReadmesOperatingStepsDoWhatItSays) {
  fs::path root = fs::path(MX_FRONTEND_PATH).parent_path();
  while (root.has_relative_path() && !fs::exists(root / "README.md")) root = root.parent_path();
  std::ifstream readme(root / "README.md");
  ASSERT_TRUE(readme.good()) << root;
  const std::pair<std::string, std::string> names[] = {{"build/frontend", MX_FRONTEND_PATH},
                                                       {"build/backend", MX_BACKEND_PATH},
                                                       {"build/board", board()},
                                                       {"build/trace.txt", (dir_ / "trace.txt").string()}};
  std::string script, line;
  bool inBlock = false;
  while (std::getline(readme, line)) {
    if (line.starts_with("## ")) inBlock = line == "## Operating it";
    if (!inBlock || !line.starts_with("    ")) continue;
    line.erase(0, 4);
    for (const auto& [name, path] : names) {
      for (size_t at; (at = line.find(name)) != std::string::npos;) line.replace(at, name.size(), path);
    }
    script += line.starts_with("# ") ? "echo '@@ " + line.substr(2, line.find(':') - 2) + "'\n" : line + "\n";
  }
  std::ofstream(dir_ / "operate.sh") << script;
  const Outcome r = run("sh", (dir_ / "operate.sh").string());
  const auto until = Clock::now() + std::chrono::seconds(10);
  while (fs::exists(board() + "/backend.pid") && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(fs::exists(board() + "/backend.pid"));
  EXPECT_EQ(r.err, "") << r.out;  // nothing refused, nothing failed

  const std::pair<const char*, std::vector<const char*>> reports[] = {
      {"Buses", {"MxifBus me=0 entries[0]=1034 entries[1]=1036\n"}},
      {"Buttons", {"MxifBus me=0 entries[1]=2\n"}},
      {"Cut", {"MxifBus me=0 programBus=1\n"}},
      {"Auto mix", {"bkgd.state[0]=1\n", "bkgd.state[0]=0\n", "programBus=0\n"}},
      {"Wipe", {"bkgd.state[0]=1\n", "bkgd.state[0]=0\n", "programBus=1\n"}},
      {"Key", {"MxifKey me=0 channel=0 onAir=1"}},
      {"Downstream key", {"MxifDsk channel=0 onAir=1"}},
      {"Fade to black", {"ftb.onAir=1", "ftb.transitioning=0"}},
      {"Format", {"MxifSystem format=5"}},
  };
  for (const auto& [step, texts] : reports) {
    const size_t from = r.out.find(std::string("@@ ") + step + "\n");
    ASSERT_NE(from, std::string::npos) << step << "\n" << r.out;
    const std::string shown = r.out.substr(from, r.out.find("@@", from + 3) - from);
    for (const char* text : texts) EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;
  }
  // Per register: its last value, and the values other than 0 and 3ff that it took.
  std::map<unsigned, std::pair<unsigned, std::set<unsigned>>> written;
  std::ifstream trace(dir_ / "trace.txt");
  for (unsigned frame = 0, stage = 0, adr = 0, value = 0; trace >> std::dec >> frame >> stage >> std::hex >> adr >> value;) {
    written[adr].first = value;
    if (value != 0 && value != 0x3FF) written[adr].second.insert(value);
  }
  EXPECT_EQ(written[0x83001100].first & 0xFFFF, 0x0200u);  // A bus SDI 1, B bus SDI 3
  EXPECT_GE(written[0x82005B3C].second.size(), 5u);         // the mix level climbed
  EXPECT_GE(written[0x82005B28].second.size(), 5u);         // the wipe moved
  EXPECT_EQ(written[0x8200643C].first, 0x3FFu);             // key 1 on air
  EXPECT_EQ(written[0x83002020].first, 0x3FFu);             // faded to black
  EXPECT_EQ(written[0x40000014].first, 50u * 20000 - 50000);  // the frame period of format 5
}

}  // namespace
