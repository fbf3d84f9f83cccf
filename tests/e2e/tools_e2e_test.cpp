// The tools side by side on one board: sends alone going round the acknowledgement ring, tools
// stopped or killed at any instant, locks held, a board the user cannot write, and the answers that
// send can and cannot tell apart.
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <atomic>
#include <future>
#include <random>
#include <thread>
#include <tuple>

#include "Tools/lib/send/send.h"
#include "tests/e2e/e2e_fixture.h"

namespace {

using namespace e2e;

class ToolsEndToEnd : public EndToEnd {
 protected:
  struct Expected {
    std::string args;
    int status;
    const char* err;  // how standard error begins; "" nothing there; null not looked at
  };
  void expectOutcomes(const std::vector<Expected>& cases) {
    for (const Expected& c : cases) {
      const Outcome r = frontend(c.args);
      EXPECT_EQ(r.status, c.status) << c.args << "\n" << r.err;
      EXPECT_TRUE(c.err == nullptr || (*c.err == 0 ? r.err.empty() : r.err.starts_with(c.err))) << c.args << "\n" << r.err;
    }
  }
};

// Sends alone, with nothing else reading, go round the acknowledgement ring and each gets its own
// answer: every tenth value out of range is refused, every other taken.
TEST_F(EndToEnd, SendsAloneGoRoundTheAcknowledgementRing) {
  boot();
  const auto written = [&] { return linkpeer::writeIndex(link_.ackRing()); };
  ASSERT_EQ(frontend("send MxifBkgd me=0 softness=1").status, 0);  // the first after the start reports more
  const u32 from = written();
  ASSERT_EQ(frontend("send MxifBkgd me=0 softness=2").status, 0);
  constexpr u32 SENDS = 45;
  ASSERT_GT(linkpeer::ringAhead(from, written()) * SENDS, LINK_RING_DATA);
  std::string statuses, refusals;
  for (u32 i = 1; i <= SENDS; ++i) {
    statuses += i % 10 == 0 ? "1\n" : "0\n";
    if (i % 10 == 0) refusals += "frontend: refused: MxifBkgd me=0 softness=" + std::to_string(1000 + i) + ": takes 0..1000; kept its value\n";
  }
  const Outcome r = run("for i in $(seq " + std::to_string(SENDS) + "); do v=$((i + 2)); [ $((i % 10)) = 0 ] && v=$((1000 + i)); " +
                        tool("send MxifBkgd me=0 softness=$v") + "; echo $?; done");
  EXPECT_EQ(std::tuple(r.out, r.err), std::tuple(statuses, refusals));
}

// A tool stopped or killed at any instant (SIGSTOP, SIGKILL, SIGINT) leaves the table whole: stopped
// at a thousand instants of its work a watch leaves it whole each time, and tools killed beside it
// never have it made anew; the sends beside them are answered. A reader gone leaves the table.
TEST_F(EndToEnd, ToolsStoppedOrKilledAtAnyInstantLeaveTheTableWhole) {
  boot();
  const pid_t watch = std::atoi(frontend("--timeout 3600 watch >/dev/null 2>&1 & echo $!").out.c_str());  // killed at the end
  ASSERT_TRUE(poll([&] { return linkpeer::tableReaders(board_) == std::vector<long>{watch}; }));
  linkpeer::LinkTable first;
  ASSERT_TRUE(linkpeer::readTable(board_, first));
  frontend::Bytes request;
  std::string error;
  ASSERT_TRUE(frontend::sendPacket({"MxifSystem", "horizontalPhase=1"}, request, error));
  std::mt19937 random(7);
  int cut = 0;
  for (int i = 0; i < 1000; ++i) {
    link_.write(request, 0);  // a report for the watch to copy, and so a change of the table
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
    kill(watch, SIGSTOP);
    poll([&] { return fileText("/proc/" + std::to_string(watch) + "/stat").find(") T") != std::string::npos; });
    linkpeer::LinkTable t;
    cut += linkpeer::readTable(board_, t) ? 0 : 1;
    kill(watch, SIGCONT);
  }
  EXPECT_EQ(cut, 0);
  std::string tools;
  for (int i = 0; i < 40; ++i) {
    tools += std::string(MX_FRONTEND_PATH) + " --board " + board_ + (i % 2 ? " send MxifBkgd me=1 softness=" + std::to_string(i) : " watch") +
             " >/dev/null 2>&1 & p=$!; sleep 0.0" + std::to_string(random() % 60 + 100).substr(1) + "; kill -" +
             (i % 3 ? "KILL" : "INT") + " $p;\n";
  }
  run(tools);
  EXPECT_EQ(frontend("send MxifSystem secondText=k").status, 0);
  linkpeer::LinkTable last;
  EXPECT_TRUE(linkpeer::readTable(board_, last) && last.made == first.made);
  kill(watch, SIGKILL);
  EXPECT_TRUE(poll([&] { return linkpeer::tableReaders(board_).empty(); }));  // a reader gone is dropped
}

// A lock that a process holds and does not let go (here flock(1) holding it; a stopped tool alike)
// keeps no tool past its time-out, and the reason names the holder; a board directory that the user
// cannot write is said at once, with the system's reason, and console, which only reads, still runs.
TEST_F(ToolsEndToEnd, ALockHeldOrABoardNotWritableEndsWithTheReason) {
  boot();
  for (const char* locked : {"", "/link.mem"}) {
    const std::string holder = run("flock -o " + board_ + locked + " sleep 60 >/dev/null 2>&1 & echo $!").out;
    const int fd = ::open((board_ + locked).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(poll([&] { return flock(fd, LOCK_EX | LOCK_NB) != 0 || (flock(fd, LOCK_UN), false); })) << "flock holds it";
    ::close(fd);
    const Outcome r = frontend("--timeout 0.3 send MxifSystem horizontalPhase=1");
    EXPECT_EQ(r.status, 1) << locked;
    EXPECT_NE(r.err.find("is held by process " + holder.substr(0, holder.size() - 1) + " (flock)"), std::string::npos) << r.err;
    kill(std::atoi(holder.c_str()), SIGKILL);
  }
  // As root, as a user who is not; else with the files and the directory made read-only.
  const bool root = geteuid() == 0;
  const std::string user = root ? "setpriv --reuid=nobody --regid=nogroup --clear-groups " : "";
  fs::permissions(dir_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  const std::tuple<fs::perms, fs::perms, std::string, std::string> cases[] = {  // link.mem, board directory, send's and console's
      {root ? fs::perms(0644) : fs::perms(0444), fs::perms(0755), "frontend: " + board_ + "/link.mem: Permission denied\n",
       "frontend: " + board_ + "/link.mem cannot be written here: the lines are shown, and stay new for the next console\n"},
      {fs::perms(0666), root ? fs::perms(0755) : fs::perms(0555), "frontend: not sent: " + board_ + "/frontend.link: Permission denied\n", ""},
  };
  for (const auto& [mem, board, sent, console] : cases) {
    fs::permissions(board_ + "/link.mem", mem);
    fs::permissions(board_, board);
    const std::string f = user + MX_FRONTEND_PATH + " --board " + board_ + " --timeout 5 ";
    Outcome r = run(f + "send MxifSystem horizontalPhase=2");
    EXPECT_EQ(std::tuple(r.status, r.err), std::tuple(1, sent));
    r = run(f + "console");
    EXPECT_EQ(std::tuple(r.status, r.err), std::tuple(0, console));
  }
  fs::permissions(board_, fs::perms(0755));
}

// A command answered with its refusal code fails, whatever the field that carries the code. A request
// that bytes written before leave inside an unfinished packet (a header promising 344 bytes) becomes
// that packet's body: no answer seen, and the next, once those bytes are made up, is answered again; a
// header that the back end drops at once, and bytes that it skips or drops once the next request comes,
// leave that request its own answer.
TEST_F(ToolsEndToEnd, RefusalCodesAndARequestInsideAnUnfinishedPacket) {
  boot();
  expectOutcomes({
      {"send MxifMaintenanceCmd code=999", 1, "frontend: refused: MxifMaintenanceCmd byte1=0 byte2=0 code=999 result=-2 "},
      {"send MxifMaintenanceCmd code=0", 0, ""},
      {"send MxifChromaKeyCmd kind=99", 1, "frontend: refused: MxifChromaKeyCmd first=0 second=0 kind=99 reply=-2 "},
      {"send MxifSwitchingCmd command1=7 noRecord=1", 1, "frontend: refused: MxifSwitchingCmd (7 bytes, short) 07 00 00 00 ff fd 01"},
      {"send SystemInitialCmd mode=99", 1, "frontend: refused: SystemInitialCmd option1=0 option2=0 mode=99 result=-2 "},
      {"raw 5a81 00000158 0000", 0, nullptr},
      {"send MxifKey me=0 channel=0 adjust.clip=5", 3,
       "frontend: sent MxifKey me=0 channel=0 adjust.clip=5; no answer seen: the back end took it into the body of a packet that bytes written before "
       "left unfinished (frontend raw)\n"},
      {"send MxifKey me=0 channel=0 adjust.clip=6", 0, ""},
      {"raw 5a81 0000012c 001d", 0, nullptr},  // more than MxifSystem takes: the back end drops it at once
      {"send MxifSystem horizontalPhase=200", 1, "frontend: refused: MxifSystem horizontalPhase=200: takes -50..49; kept its value\n"},
      {"raw 5a5a8100", 0, nullptr},  // a byte skipped, and a header cut short that the next makes whole and too long
      {"send MxifSystem verticalPhase=3", 0, ""},
      {"send MxifMaintenance mvTime=2024,3,1,12,0,0", 0, ""},  // stored without a report: the image shows it held
  });
}

// While something writes random values into the rings' index words, an answer that send reads is
// taken for its request's only where the evidence agrees: each send says it is not known (status 3),
// or that nothing went out, or that its value is held where the backup image shows it; never refused.
TEST_F(ToolsEndToEnd, RingIndexesMovedByNoWriterLeaveTheOutcomeNotKnown) {
  boot();
  std::atomic<bool> writing = true;
  std::thread damage([&] {
    std::mt19937 random(11);
    u8* const words[] = {link_.console(), link_.console() + 4, link_.ackRing(), link_.ackRing() + 4, link_.requestRing(), link_.requestRing() + 4};
    while (writing) linkpeer::storeIndex(words[random() % 6], static_cast<u32>(random())), std::this_thread::sleep_for(std::chrono::microseconds(300));
  });
  for (int i = 1; i <= 8; ++i) {
    const std::string value = "softness=" + std::to_string(i);
    const Outcome r = frontend("send MxifBkgd me=0 " + value);
    const bool held = r.status == 0 && frontend("show MxifBkgd me=0").out.find(" " + value + " ") != std::string::npos;
    EXPECT_TRUE(r.status == 3 || held || (r.status == 1 && r.err.starts_with("frontend: not sent"))) << r.status << " " << r.err;
  }
  writing = false;
  damage.join();
}

// A reader that reads no more (a stopped watch) holds the acknowledgement ring full, so the back end
// holds its reports back; once the reader is gone, those go out after a request that the back end
// read meanwhile. They are no answer to it, though the answer does not carry the request as sent
// either (the edge rule moved the element filled in beside maskBox[0]): a note, status 0.
TEST_F(ToolsEndToEnd, ReportsHeldBackAreNoAnswerToARequestReadMeanwhile) {
  boot();
  frontend::Bytes fill, key;
  std::string why;
  ASSERT_TRUE(frontend::sendPacket({"MxifKey", "me=0", "channel=0", "adjust.clip=1"}, fill, why)) << why;
  ASSERT_TRUE(frontend::sendPacket({"MxifKey", "me=0", "channel=3", "maskBox=393,0,0,0"}, key, why)) << why;
  const frontend::Bytes wait = frontend::waitPacket(1);
  key.insert(key.begin(), fill.begin(), fill.end()), key.insert(key.end(), wait.begin(), wait.end());
  fill.insert(fill.end(), wait.begin(), wait.end());
  const auto taken = [&](const frontend::Bytes& frame) {
    return link_.write(frame, WAIT_SECONDS) &&
           poll([&] { return linkpeer::backedUpTo(link_.notes(), linkpeer::writeIndex(link_.requestRing())); });
  };
  // A frame's report of key 1 while it fits; then, behind the part of the last that fits, key 4's.
  auto holder = std::make_unique<linkpeer::AckReader>(board_, link_.ackRing(), linkpeer::AckReader::From::Now);
  for (size_t n; (n = linkpeer::ringRoom(link_.ackRing()) / (fill.size() - wait.size())) > 0;) {
    frontend::Bytes frames;  // all but two of those that fit, at most 64 a write
    for (size_t k = n > 3 ? std::min<size_t>(n - 2, 64) : 1; k > 0; --k) frames.insert(frames.end(), fill.begin(), fill.end());
    ASSERT_TRUE(taken(frames));
  }
  ASSERT_TRUE(taken(key));
  ASSERT_EQ(linkpeer::ringRoom(link_.ackRing()), 0u);
  kill(pid_, SIGSTOP);
  holder.reset();
  const u32 from = linkpeer::writeIndex(link_.requestRing());
  auto sent = std::async(std::launch::async, [&] { return frontend("send MxifKey me=0 channel=3 maskBox[0]=394"); });
  ASSERT_TRUE(poll([&] { return linkpeer::ringAhead(from, linkpeer::writeIndex(link_.requestRing())) > wait.size(); }));
  kill(pid_, SIGCONT);
  const Outcome r = sent.get();
  EXPECT_EQ(r.status, 0) << r.err;
}

// With the status reports going out in turns over sixteen frames (an event memory linked to an ME):
// every answer is awaited that long, that of the request turning them on included, so each
// send tells taken from refused. Then, with a FIFO in place of the backup image, which no tool waits
// on, an on-air request that ends its key's transition a frame after its answer is not known (3), and
// never refused; the back end soon keeps the FIFO aside and writes the image anew, as it held it.
TEST_F(ToolsEndToEnd, AnswersWhileReportsGoOutInTurns) {
  boot(false);
  expectOutcomes({
      {"send MxifEventMemory enable=1 linkedMe=1", 0, ""},
      {"send MxifEventMemory enable=0", 0, ""},
      {"send MxifEventMemory enable=1", 0, ""},
      {"send MxifKey me=1 channel=2 adjust.clip=7", 0, ""},
      {"send MxifKey me=1 channel=2 adjust.clip=5000", 1,
       "frontend: refused: MxifKey me=1 channel=2 adjust.clip=5000: takes 0..1080; kept its value\n"},
      {"send MxifKey me=3 channel=3 adjust.clip=9", 0, ""},
      {"send MxifSystem horizontalPhase=3", 0, ""},
      {"send MxifEventMemory enable=0", 0, ""},
  });
  fs::rename(board_ + "/nvram.mem", dir_ + "/nvram.aside");
  mkfifo((board_ + "/nvram.mem").c_str(), 0644);
  // Its answer may show it on air already on a loaded host (0).
  const Outcome onAir = frontend("send MxifKey me=1 channel=2 onAir=1");
  EXPECT_TRUE(onAir.status == 0 || onAir.err.starts_with("frontend: sent MxifKey me=1 channel=2 onAir=1; whether it holds it is not known"))
      << onAir.err;
  ASSERT_TRUE(poll([&] { return fs::is_regular_file(board_ + "/nvram.mem"); }));
  EXPECT_TRUE(fs::is_fifo(board_ + "/nvram.mem.replaced"));
  EXPECT_NE(frontend("show MxifSystem").out.find(" horizontalPhase=3 "), std::string::npos);
}

// Standard output that cannot be written fails, naming it, and what the tool would have taken stays
// for the next reader: the console's lines, the waiting reports. One watch --waiting at a time holds
// those waiting, until it has taken them. A watch ends with its back end, as console --follow does.
TEST_F(ToolsEndToEnd, OutputNotWrittenStaysAndAWatchEndsWithTheBackEnd) {
  boot();
  ASSERT_EQ(frontend("send MxifSystem secondText=o").status, 0);  // its answer waits; the first request is logged
  u8* console = link_.console() + LINK_RING_READ_INDEX;
  ASSERT_TRUE(poll([&] { return linkring::writeIndex(link_.console()) != linkpeer::loadIndex(console); }));
  const u32 read = linkpeer::loadIndex(console);
  const char* full = "frontend: cannot write standard output (/dev/full): No space left on device\n";
  expectOutcomes({{"console >/dev/full", 1, full},
                  {"watch --waiting --type MxifSystem >/dev/full", 1, full},
                  {"--help >/dev/full", 1, full}});
  EXPECT_EQ(linkpeer::loadIndex(console), read);
  EXPECT_NE(frontend("watch --waiting --type MxifSystem --count 1").out.find("secondText=\"o\""), std::string::npos);
  using linkpeer::AckReader;
  AckReader first(board_, link_.ackRing(), AckReader::From::Waiting);
  EXPECT_EQ(AckReader(board_, link_.ackRing(), AckReader::From::Waiting, 0.1).follow(), AckReader::Follow::Failed);
  first.take({});
  EXPECT_EQ(AckReader(board_, link_.ackRing(), AckReader::From::Waiting, 0.1).follow(), AckReader::Follow::Copied);
  const Outcome ended = run("(" + std::string(MX_FRONTEND_PATH) + " --board " + board_ + " watch --count 1 --type MxifKey --timeout 30 & w=$!\n"
                            "until grep -qs \"^reader $w \" " + board_ + "/frontend.link || ! kill -0 $w; do sleep 0.01; done\n"
                            "kill -INT " + std::to_string(pid_) + "; wait $w; echo $?)");
  EXPECT_EQ(std::tuple(ended.out, ended.err), std::tuple("1\n", "frontend: the back end on " + board_ + " has ended\n"
                                                          "frontend: watch: 0 of 1 packets before the back end ended\n"));
}

}  // namespace
