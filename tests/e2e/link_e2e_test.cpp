// The whole system as separate processes: `backend` on a fresh board directory, driven by the
// `frontend` program (and by the same code as a library) as the front-end processor would, and a
// board whose start-up fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "Platform/nand_device.h"
#include "Driver/core/core.h"
#include "Driver/transition/regs.h"
#include "Lib/Include/codec.h"
#include "Lib/Include/memory_map.h"
#include "Lib/Include/data_internal.h"
#include "Tools/frontend_lib.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double WAIT_SECONDS = 10.0;  // upper bound of any one wait; a sound run takes far less

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

void pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/mx_e2e_XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    dir_ = name;
  }
  void TearDown() override {
    stopBackend();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  // Starts the back end in fast mode (its output in backend.log) and waits for its main loop; with
  // trace, its register writes go to that file.
  void boot(const char* trace = nullptr) {
    const std::string log = dir_ + "/backend.log";
    pid_ = fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      // The back end never outlives this test program, even when it dies before its TearDown.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) dup2(fd, 1), dup2(fd, 2);
      if (trace != nullptr) {
        execl(MX_BACKEND_PATH, "backend", "--board", dir_.c_str(), "--fast", "--trace", trace, static_cast<char*>(nullptr));
      } else {
        execl(MX_BACKEND_PATH, "backend", "--board", dir_.c_str(), "--fast", static_cast<char*>(nullptr));
      }
      _exit(127);
    }
    std::string error;
    ASSERT_TRUE(link_.open(dir_, WAIT_SECONDS, error)) << error;
    console_.clear();
    ASSERT_TRUE(waitConsole("Start Timer task")) << console_;
    // The system settings report the genlock's lock as it comes; once locked, before the front end
    // connects, that report does not join the echoes that the tests look at.
    ASSERT_TRUE(waitConsole("GenLock:LOCK")) << console_;
  }

  void stopBackend() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    link_.close();
  }

  // Polls until ready() holds; false after the time bound.
  template <class F>
  static bool poll(F ready) {
    const auto until = Clock::now() + std::chrono::duration<double>(WAIT_SECONDS);
    while (!ready()) {
      if (Clock::now() >= until) return false;
      pause(2);
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

  // The next acknowledgement packet of the type, as the frontend prints it ("" after the bound).
  std::string nextEcho(int type) {
    std::string echo;
    poll([&] {
      for (const auto& p : link_.takePackets()) {
        if (p.type == type) return echo = frontend::describe(p), true;
      }
      return false;
    });
    return echo;
  }

  // Runs the frontend program; returns its exit status (its standard output in *out).
  int frontend(const std::string& args, std::string* out = nullptr) {
    return run(std::string(MX_FRONTEND_PATH) + " --board " + dir_ + " " + args, out);
  }

  // Runs a shell command; returns its exit status, -1 when it did not exit (its output in *out).
  static int run(const std::string& command, std::string* out) {
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return -1;
    std::string text;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) text.append(buf, n);
    if (out != nullptr) *out = text;
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Console lines printed by the program (they are taken from the ring, so kept in console_ too).
  std::string programConsole() {
    pause(100);
    std::string out;
    EXPECT_EQ(frontend("console", &out), 0);
    return console_ += out, out;
  }

  std::string dir_;
  pid_t pid_ = -1;
  frontend::Link link_;
  std::string console_;
};

TEST_F(EndToEnd, BootRefusalsAndTheFirstRequest) {
  boot();
  // The power-on start of a new board, in order, before the main loop.
  size_t at = 0;
  for (const char* line : {"[INFO] start power on sequence", "[INFO] no backup data", "Start Timer task"}) {
    at = console_.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << console_;
  }
  // The program prints only lines that are new to the front end.
  EXPECT_EQ(count(programConsole(), "start power on sequence"), 0);
  // The front end finds the four clip headers of the board start in the shared-memory file:
  // sequence 1, no units, format 0, capacity 16, flags 2 (little-endian words).
  std::ifstream shared(dir_ + "/shared.mem", std::ios::binary);
  shared.seekg(0x10000);
  std::vector<unsigned char> headers(4 * 64);
  shared.read(reinterpret_cast<char*>(headers.data()), static_cast<std::streamsize>(headers.size()));
  std::vector<unsigned char> want(64);
  for (auto [word, value] : {std::pair{0, 0xA5F0C301u}, {4, 16u}, {5, 2u}}) {
    for (int b = 0; b < 4; ++b) want[4 * word + b] = static_cast<unsigned char>(value >> (8 * b));
  }
  for (int c = 0; c < 4; ++c) EXPECT_EQ(std::vector<unsigned char>(&headers[64 * c], &headers[64 * c + 64]), want) << c;

  // What the program refuses writes nothing: the link is still not connected. A watch with
  // nothing to see ends at its time-out with a failure when a count was asked.
  const std::pair<const char*, int> refused[] = {
      {"send MxifSystem noSuchField=1", 2}, {"send NoSuchType", 2}, {"raw 5a8", 2}, {"watch --count 1 --timeout 0.2", 1}};
  for (const auto& [args, status] : refused) {
    std::string out;
    EXPECT_EQ(frontend(std::string(args) + " 2>/dev/null", &out), status) << args;
    EXPECT_EQ(out, "");
  }
  programConsole();
  EXPECT_EQ(count(console_, "Connected from System Manager"), 0) << console_;

  // The first request connects, once.
  ASSERT_EQ(frontend("wait 1"), 0);
  ASSERT_TRUE(waitConsole("Connected from System Manager")) << console_;
  ASSERT_EQ(frontend("wait 1"), 0);
  programConsole();
  EXPECT_EQ(count(console_, "Connected from System Manager"), 1) << console_;
}

TEST_F(EndToEnd, SkipsGarbageAndUnknownTypesAndEchoesAcceptedBits) {
  boot();
  // Garbage before any sync pair, a type out of range (200) and one no category owns (101), as they
  // stand, then a record: the record is still taken.
  ASSERT_EQ(frontend("raw 00112233 5a81 0000000c 00c8 a5a5a5a5a5a5a5a5a5a5a5a5 5a81 00000003 0065 5a5a5a"), 0);
  ASSERT_EQ(frontend("send MxifSystem display.option=1"), 0);
  // The first request after start carries the live panel toggles.
  EXPECT_EQ(nextEcho(29), "MxifSystem display.option=1 display.toggle1=0 display.toggle2=0");
  ASSERT_TRUE(waitConsole("receive undefined category MxifMessageBox")) << console_;
  EXPECT_EQ(count(console_, "receive invalid type  : 12 byte"), 1) << console_;
  // Out of range (-50..49), horizontalPhase is dropped: the program says so, and fails; only what
  // was taken comes back.
  std::string out;
  ASSERT_EQ(frontend("send MxifSystem horizontalPhase=200 verticalPhase=-5 secondText=ab 2>&1", &out), 1);
  EXPECT_EQ(out, "frontend: refused: MxifSystem horizontalPhase=200: takes -50..49; kept its value\n");
  ASSERT_EQ(frontend("watch --count 1 --timeout 10", &out), 0);
  EXPECT_EQ(out, "MxifSystem verticalPhase=-5 secondText=\"ab\"\n");
  // A command answered with a negative reply code is refused too.
  ASSERT_EQ(frontend("send MxifKeyCmd command=999 2>&1", &out), 1);
  EXPECT_EQ(out.rfind("frontend: refused: MxifKeyCmd ", 0), 0u) << out;
  EXPECT_NE(out.find(" reply=-"), std::string::npos) << out;
}

TEST_F(EndToEnd, SettingIsResumedAfterARestartOnTheSameBoard) {
  boot();
  // The first request after a start cannot change the panel toggles; the second one can.
  ASSERT_EQ(frontend("send MxifSystem display.option=1"), 0);
  ASSERT_NE(nextEcho(29), "");
  ASSERT_EQ(frontend("send MxifSystem display.toggle1=1"), 0);
  ASSERT_EQ(nextEcho(29), "MxifSystem display.toggle1=1");
  pause(200);  // some frames later the backup image holds it
  stopBackend();

  boot();
  EXPECT_EQ(count(console_, "backup data resume"), 1) << console_;
  EXPECT_EQ(count(console_, "start power on sequence"), 0) << console_;
  // The first request after the restart echoes the live toggles: the one set before the stop.
  // (When it connects the link before the first status is sent, the resumed record comes whole.)
  ASSERT_EQ(frontend("send MxifSystem display.option=0"), 0);
  std::string echo;
  do {
    echo = nextEcho(29);
  } while (!echo.empty() && echo.find("display.toggle1=") == std::string::npos);
  EXPECT_NE(echo.find(" display.toggle1=1 display.toggle2=0"), std::string::npos) << echo;
}

// A flash without sector table or FPGA images fails the start-up of every run; the watchdog armed
// by the power-on sequence restarts the board each time, and --frames 2 (a restart counts as a
// frame) ends the process normally after the second restart.
TEST_F(EndToEnd, FailedStartUpRestartsThroughTheWatchdogUntilTheFrameLimit) {
  const std::string nand = dir_ + "/nand.img";
  std::fclose(std::fopen(nand.c_str(), "w"));
  std::filesystem::resize_file(nand, platform::NAND_BYTES);
  std::string out;
  ASSERT_EQ(run(std::string(MX_BACKEND_PATH) + " --board " + dir_ + " --fast --power-on --frames 2 2>&1", &out), 0)
      << out;
  EXPECT_EQ(count(out, "[INFO] start power on sequence"), 2) << out;
  EXPECT_EQ(count(out, "[ERR] cannot load glue FPGA config data"), 2);
  EXPECT_EQ(count(out, "board: restart"), 2);
  EXPECT_EQ(count(out, "Start ORVEX-21"), 0);
}

TEST_F(EndToEnd, ColourBackgroundIsResumedAfterARestart) {
  boot();
  ASSERT_EQ(frontend("send MxifCbgd channel=1 color2=1200,500,800 wash=1 motion=2 speed=-250"), 0);
  const std::string echo = nextEcho(MxifCbgd::TYPE_INDEX);
  EXPECT_NE(echo.find(" color2=1200,500,800 wash=1 motion=2 speed=-250"), std::string::npos) << echo;
  pause(200);  // some frames later the backup image holds it
  stopBackend();

  boot();
  // The echo of a new field carries the whole live record: the resumed fields are in it.
  ASSERT_EQ(frontend("send MxifCbgd channel=1 rate=10"), 0);
  MxifCbgd live{};
  ASSERT_TRUE(poll([&] {
    for (const auto& p : link_.takePackets()) {
      if (p.type != MxifCbgd::TYPE_INDEX || !codec::read(p.body.data(), p.body.size(), live)) continue;
      if (live.channel == 1 && (live.mask & 1u << MxifCbgd::BIT_RATE) != 0) return true;
    }
    return false;
  }));
  const s16 red[3] = {0, 1000, 1000}, colour2[3] = {1200, 500, 800};
  EXPECT_TRUE(std::equal(red, red + 3, live.color1));
  EXPECT_TRUE(std::equal(colour2, colour2 + 3, live.color2));
  EXPECT_EQ(live.wash, 1);
  EXPECT_EQ(live.motion, 2);
  EXPECT_EQ(live.speed, -250);
  EXPECT_EQ(live.rate, 10);
}

// The backgrounds and wipe memories of MEs 0 and 1 come back after a restart, and the wipe memory
// recalls nothing at the first frame: ME 1 selected past its entries, so a recall would bring entry
// 0's softness 0 back into its background. (Whether the first report is whole depends on when the
// front end connects; the category tests check that.)
TEST_F(EndToEnd, BackgroundsAndWipeMemoriesAreResumedAfterARestart) {
  boot();
  for (const char* request : {"send MxifBkgdWipe me=1 selected=12", "send MxifBkgd me=1 softness=300",
                              "send MxifBkgd me=0 softness=250"}) {
    ASSERT_EQ(frontend(request), 0) << request;
  }
  ASSERT_NE(nextEcho(MxifBkgd::TYPE_INDEX), "");
  pause(200);  // some frames later the backup image holds them
  stopBackend();

  boot();
  // Requests that change nothing: each record reports as it stands.
  for (const char* request : {"send MxifBkgd me=0", "send MxifBkgd me=1", "send MxifBkgdWipe me=0",
                              "send MxifBkgdWipe me=1"}) {
    ASSERT_EQ(frontend(request), 0) << request;
  }
  MxifBkgd bkgd[2];
  MxifBkgdWipe wipe[2];
  int seen = 0;
  ASSERT_TRUE(poll([&] {
    for (const auto& p : link_.takePackets()) {
      const u8 me = p.body.size() > 4 ? p.body[4] : 255;
      if (me > 1) continue;
      if (p.type == MxifBkgd::TYPE_INDEX && codec::read(p.body.data(), p.body.size(), bkgd[me])) seen |= 1 << me;
      if (p.type == MxifBkgdWipe::TYPE_INDEX && codec::read(p.body.data(), p.body.size(), wipe[me])) seen |= 4 << me;
    }
    return seen == 0xF;
  })) << seen;
  EXPECT_EQ(std::tuple(bkgd[0].softness, bkgd[1].softness), std::tuple(250, 300));
  EXPECT_EQ(std::tuple(wipe[0].selected, wipe[1].selected), std::tuple(0, 12));
  EXPECT_EQ(wipe[0].entries[0].softness, 250);
}

// The lever of ME 0 on panel 0, primed at the top of its travel (where its first stroke ends), swept
// down by `frontend fader`: ME 0's selected background follows it from 0 to 1, which the early
// update writes into the mix level of the ME1 FPGA's background transition block.
TEST_F(EndToEnd, LeverSweepMovesTheBackgroundTransitionOfMeZero) {
  const std::string traceFile = dir_ + "/trace.txt";
  boot(traceFile.c_str());
  ASSERT_EQ(frontend("send MxifBkgd me=0 nextBkgd=1"), 0);
  ASSERT_NE(nextEcho(MxifBkgd::TYPE_INDEX), "");
  for (int i = 0; i < 5; ++i) ASSERT_EQ(frontend("fader 0 2255"), 0);
  pause(300);
  for (int raw : {2200, 2150, 2100, 2050, 2000, 1950, 1900, 1833}) {
    ASSERT_EQ(frontend("fader 0 " + std::to_string(raw) + " panel=0"), 0);
    pause(100);
  }
  // The mix levels the early update wrote, each new value once, in the order written.
  char wanted[32];
  std::snprintf(wanted, sizeof wanted, " %d %08x ", MX_TRACE_EARLY, MX_ME1_BASE + trans::BKGD_BLOCK + trans::MIX_LEVEL);
  std::vector<unsigned> levels;
  std::ifstream trace(dir_ + "/trace.txt");
  std::string line;
  ASSERT_TRUE(poll([&] {
    trace.clear();
    while (std::getline(trace, line)) {
      const size_t at = line.find(wanted);
      if (at == std::string::npos) continue;
      const unsigned v = static_cast<unsigned>(std::stoul(line.substr(at + std::strlen(wanted)), nullptr, 16));
      if (levels.empty() || levels.back() != v) levels.push_back(v);
    }
    return !levels.empty() && levels.back() == 1023;
  })) << levels.size();
  ASSERT_GE(levels.size(), 5u);
  EXPECT_EQ(levels.front(), 0u);
  EXPECT_TRUE(std::is_sorted(levels.begin(), levels.end()));
}

// A switching command from the program is answered 0, shows in the bus report of ME 1 and reaches
// the crosspoint register of ME 1's A bus (read from the register trace, through a pipe).
TEST_F(EndToEnd, SwitchingCommandReachesTheBusAndItsCrosspoint) {
  const std::string fifo = dir_ + "/trace";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::atomic<u32> aBus{0xFFFFFFFF};
  std::thread reader([&] {
    FILE* f = std::fopen(fifo.c_str(), "r");
    if (f == nullptr) return;
    char line[64];
    unsigned frame = 0, adr = 0, value = 0;
    int stage = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "%u %d %x %x", &frame, &stage, &adr, &value) == 4 && adr == 0x83001100) aBus = value;
    }
    std::fclose(f);
  });
  boot(fifo.c_str());
  ASSERT_TRUE(poll([&] { return aBus != 0xFFFFFFFF; }));
  EXPECT_NE(aBus & 0xFF, 2u);  // before the command
  constexpr u16 SDI3 = 1024 + 12;
  ASSERT_EQ(frontend("send MxifSwitchingCmd command1=7 bus.me=0 bus.entries[0]=" + std::to_string(SDI3)), 0);
  bool answered = false, reported = false;
  EXPECT_TRUE(poll([&] {
    for (const auto& p : link_.takePackets()) {
      MxifSwitchingCmd answer{};
      MxifBus bus{};
      if (p.type == MxifSwitchingCmd::TYPE_INDEX && codec::read(p.body.data(), p.body.size(), answer)) {
        answered = answer.command1 == 7 && answer.reply == 0 && answer.bus.entries[0] == SDI3;
      }
      if (p.type == MxifBus::TYPE_INDEX && codec::read(p.body.data(), p.body.size(), bus) && bus.me == 0) {
        reported = reported || (bus.hasEntry(0) && bus.entries[0] == SDI3);
      }
    }
    return answered && reported;
  })) << answered << reported;
  EXPECT_TRUE(poll([&] { return (aBus & 0xFF) == 2; })) << std::hex << aBus;  // SDI input 3
  stopBackend();
  const int unblock = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);  // a reader still waiting for a writer
  if (unblock >= 0) ::close(unblock);
  reader.join();
}

}  // namespace
