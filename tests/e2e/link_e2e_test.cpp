// The whole system as separate processes: `backend` on a fresh board directory, driven by the
// `frontend` program (and by the same code as a library) as the front-end processor would.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>

#include "Tools/frontend_lib.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double WAIT_SECONDS = 10.0;  // upper bound of any one wait; a sound run takes far less

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mx_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }

  void TearDown() override {
    stopBackend();
    link_.close();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Starts the back end in fast mode; its own output goes to backend.log in the board directory.
  void startBackend() {
    ASSERT_LT(pid_, 0);
    const std::string log = dir_ + "/backend.log";
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // The back end never outlives this test program, even when it dies before its TearDown.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      execl(MX_BACKEND_PATH, "backend", "--board", dir_.c_str(), "--fast", static_cast<char*>(nullptr));
      _exit(127);
    }
    std::string error;
    ASSERT_TRUE(link_.open(dir_, WAIT_SECONDS, error)) << error;
  }

  void stopBackend() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  // Collects console lines until text has appeared n times; false after the time bound.
  bool waitConsole(const std::string& text, int n = 1) {
    const auto until = Clock::now() + std::chrono::duration<double>(WAIT_SECONDS);
    for (;;) {
      console_ += link_.takeConsole();
      if (count(console_, text) >= n) return true;
      if (Clock::now() >= until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  // Starts the back end and waits for its main loop.
  void boot() {
    startBackend();
    ASSERT_TRUE(waitConsole("Start Timer task")) << console_;
  }

  // Runs the frontend program; returns its exit status and its standard output.
  int frontend(const std::string& args, std::string& out) {
    const std::string command = std::string(MX_FRONTEND_PATH) + " --board " + dir_ + " " + args;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[4096];
    size_t n;
    out.clear();
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int frontend(const std::string& args) {
    std::string out;
    return frontend(args, out);
  }

  // The next acknowledgement packet of the type, as the frontend prints it ("" after the bound).
  std::string nextEcho(int type) {
    const auto until = Clock::now() + std::chrono::duration<double>(WAIT_SECONDS);
    while (Clock::now() < until) {
      for (const auto& p : link_.takePackets()) {
        if (p.type == type) return frontend::describe(p);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return "";
  }

  void send(const std::vector<std::string>& words) {
    frontend::Bytes packet;
    std::string error;
    ASSERT_TRUE(frontend::sendPacket(words, packet, error)) << error;
    ASSERT_TRUE(link_.write(packet, WAIT_SECONDS));
  }

  std::string dir_;
  pid_t pid_ = -1;
  frontend::Link link_;
  std::string console_;
};

TEST_F(EndToEnd, BootLinesReachTheConsoleRing) {
  startBackend();
  ASSERT_TRUE(waitConsole("Start Timer task")) << console_;
  // The power-on start of a new board, in order, before the main loop.
  const size_t powerOn = console_.find("[INFO] start power on sequence");
  const size_t noBackup = console_.find("[INFO] no backup data");
  ASSERT_NE(powerOn, std::string::npos) << console_;
  ASSERT_NE(noBackup, std::string::npos) << console_;
  EXPECT_LT(powerOn, noBackup);
  EXPECT_LT(noBackup, console_.find("Start Timer task"));
  // The program prints only lines that are new to the front end.
  std::string out;
  EXPECT_EQ(frontend("console", out), 0);
  EXPECT_EQ(count(out, "start power on sequence"), 0) << out;
}

TEST_F(EndToEnd, FirstRequestConnectsTheSystemManager) {
  boot();
  EXPECT_EQ(count(console_, "Connected from System Manager"), 0);
  ASSERT_EQ(frontend("wait 1"), 0);
  ASSERT_TRUE(waitConsole("Connected from System Manager")) << console_;
  ASSERT_EQ(frontend("wait 1"), 0);
  std::string out;
  // Read through the program: the line was taken above, so a second one would be a second connect.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(frontend("console", out), 0);
  EXPECT_EQ(count(console_ + out, "Connected from System Manager"), 1) << console_ << out;
}

TEST_F(EndToEnd, SystemRecordIsEchoedWithItsAcceptedBits) {
  boot();
  // horizontalPhase 200 is out of range (-50..49) and is dropped; the first request after start
  // carries the live panel toggles.
  ASSERT_EQ(frontend("send MxifSystem display.option=1 horizontalPhase=200 verticalPhase=-5 secondText=ab"), 0);
  std::string out;
  ASSERT_EQ(frontend("watch --count 1 --timeout 10", out), 0);
  EXPECT_EQ(out, "MxifSystem verticalPhase=-5 secondText=\"ab\" display.option=1 display.toggle1=0 display.toggle2=0\n");
  // Only what changed comes back the next time.
  ASSERT_EQ(frontend("send MxifSystem display.timingSelect=2"), 0);
  ASSERT_EQ(frontend("watch --count 1 --timeout 10", out), 0);
  EXPECT_EQ(out, "MxifSystem display.timingSelect=2\n");
}

TEST_F(EndToEnd, GarbageAndUnknownTypesAreSkippedAndTheNextPacketTaken) {
  boot();
  frontend::Bytes bytes = {0x00, 0x11, 0x22, 0x33};  // before any sync pair
  const frontend::Bytes invalid = linkpeer::packetBytes(200, frontend::Bytes(12, 0xA5));
  const frontend::Bytes unowned = linkpeer::packetBytes(101, frontend::Bytes(3, 0x5A));
  frontend::Bytes system;
  std::string error;
  ASSERT_TRUE(frontend::sendPacket({"MxifSystem", "display.option=1"}, system, error)) << error;
  for (const frontend::Bytes& part : {invalid, unowned, system}) bytes.insert(bytes.end(), part.begin(), part.end());
  ASSERT_TRUE(link_.write(bytes, WAIT_SECONDS));

  EXPECT_EQ(nextEcho(29), "MxifSystem display.option=1 display.toggle1=0 display.toggle2=0");
  ASSERT_TRUE(waitConsole("receive undefined category MxifMessageBox")) << console_;
  EXPECT_EQ(count(console_, "receive invalid type  : 12 byte"), 1) << console_;
  // The same through the program: hex words as they stand.
  ASSERT_EQ(frontend("raw 5a81 0000000c 00c8 000000000000000000000000"), 0);
  ASSERT_TRUE(waitConsole("receive invalid type  : 12 byte", 2)) << console_;
}

TEST_F(EndToEnd, SettingIsResumedAfterARestartOnTheSameBoard) {
  boot();
  // The first request after a start cannot change the panel toggles; the second one can.
  send({"MxifSystem", "display.option=1"});
  ASSERT_NE(nextEcho(29), "");
  send({"MxifSystem", "display.toggle1=1"});
  ASSERT_EQ(nextEcho(29), "MxifSystem display.toggle1=1");
  // Some frames later the backup image holds it.
  send({"MxifSystem", "display.timingFlag=1"});
  ASSERT_EQ(nextEcho(29), "MxifSystem display.timingFlag=1");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  stopBackend();
  link_.close();

  console_.clear();
  startBackend();
  ASSERT_TRUE(waitConsole("Start Timer task")) << console_;
  EXPECT_EQ(count(console_, "backup data resume"), 1) << console_;
  EXPECT_EQ(count(console_, "start power on sequence"), 0) << console_;
  // The first request after the restart echoes the live toggles: the one set before the stop.
  // (When it connects the link before the first status is sent, the resumed record comes whole.)
  send({"MxifSystem", "display.option=0"});
  std::string echo;
  do {
    echo = nextEcho(29);
  } while (!echo.empty() && echo.find("display.toggle1=") == std::string::npos);
  EXPECT_NE(echo.find(" display.toggle1=1 display.toggle2=0"), std::string::npos) << echo;
}

TEST_F(EndToEnd, ProgramRefusesWhatItCannotSend) {
  boot();
  std::string out;
  EXPECT_EQ(frontend("send MxifSystem noSuchField=1 2>/dev/null"), 1);
  EXPECT_EQ(frontend("send NoSuchType 2>/dev/null"), 1);
  EXPECT_EQ(frontend("raw 5a8 2>/dev/null"), 2);
  // Nothing was written: the link is still not connected.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(frontend("console", out), 0);
  EXPECT_EQ(count(console_ + out, "Connected from System Manager"), 0) << out;
  // A watch with nothing to see ends at its time-out with a failure when a count was asked.
  EXPECT_EQ(frontend("watch --count 1 --timeout 0.2 2>/dev/null", out), 1);
  EXPECT_EQ(out, "");
}

}  // namespace
