// The whole system as separate processes: `backend` on a board directory of the test, driven by the
// `frontend` program (and by the same code as a library) as the front-end processor would.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <regex>
#include <set>
#include <tuple>
#include <utility>

#include "tests/e2e/e2e_fixture.h"

namespace {

using namespace e2e;

TEST_F(EndToEnd, BootRefusalsAndTheFirstRequests) {
  boot();
  // The program prints only lines that are new to the front end.
  EXPECT_EQ(count(programConsole(), "start power on sequence"), 0);

  // What the program refuses writes nothing: the link is still not connected. A watch with
  // nothing to see ends at its time-out with a failure when a count was asked.
  const std::pair<const char*, int> refused[] = {
      {"send MxifSystem noSuchField=1", 2}, {"send NoSuchType", 2}, {"raw 5a8", 2}, {"watch --count 1 --timeout 0.2", 1}};
  for (const auto& [args, status] : refused) {
    const Outcome r = frontend(args);
    EXPECT_EQ(std::tuple(r.status, r.out), std::tuple(status, "")) << args;
  }
  programConsole();
  EXPECT_EQ(count(console_, "Connected from System Manager"), 0) << console_;
  ASSERT_EQ(frontend("wait 1").status, 0);  // the first request connects
  ASSERT_TRUE(waitConsole("Connected from System Manager")) << console_;

  // Garbage before any sync pair (a half pair is no header), a type out of range (200) and one no
  // category owns (101), as they stand, then a record: the record is still taken, and the first
  // after start carries the live panel toggles.
  const char* garbage = "raw 00112233 5a00 00000008 00c8 5a81 0000000c 00c8 a5a5a5a5a5a5a5a5a5a5a5a5 5a81 00000003 0065 5a5a5a";
  ASSERT_EQ(frontend(garbage).status, 0);
  ASSERT_EQ(frontend("send MxifSystem display.option=1").status, 0);
  EXPECT_EQ(frontend("watch --waiting --count 1 --type MxifSystem --timeout 10").out,
            "MxifSystem display.option=1 display.toggle1=0 display.toggle2=0\n");
  ASSERT_TRUE(waitConsole("receive undefined category MxifMessageBox")) << console_;
  EXPECT_EQ(count(console_, "receive invalid type 200 : 12 byte"), 1) << console_;
  // Out of range (-50..49), horizontalPhase is dropped: the program says so, and fails; only what
  // was taken comes back.
  Outcome r = frontend("send MxifSystem horizontalPhase=200 verticalPhase=-5 secondText=ab");
  EXPECT_EQ(std::tuple(r.status, r.err),
            std::tuple(1, "frontend: refused: MxifSystem horizontalPhase=200: takes -50..49; kept its value\n"));
  r = frontend("watch --waiting --count 1 --timeout 10");
  EXPECT_EQ(std::tuple(r.status, r.out), std::tuple(0, "MxifSystem verticalPhase=-5 secondText=\"ab\"\n"));
  // The live mode sent again is left out of the answer: it holds as sent, no refusal.
  r = frontend("send MxifSystem mode=0");
  EXPECT_EQ(std::tuple(r.status, r.err), std::tuple(0, "")) << r.err;
  // A command that the back end answers by none says so once the back end says its answers are out.
  r = frontend("send MxifChromaKeyCmd me=4");
  EXPECT_EQ(std::tuple(r.status, r.err), std::tuple(3, "frontend: sent MxifChromaKeyCmd first=0 second=0 kind=0 reply=0 me=4 channel=0 "
                                                       "trailing=0,0; no answer seen: the back end sent no answer to it, and says "
                                                       "every answer to it is out\n"));
  // An on-air request: the downstream key at rest cuts to it, which its state shows a frame later.
  r = frontend("send MxifDsk channel=1 onAir=1");
  EXPECT_EQ(std::tuple(r.status, r.err), std::tuple(0, "")) << r.err;
  EXPECT_NE(frontend("show MxifDsk channel=1").out.find(" onAir=1 "), std::string::npos);
  programConsole();
  EXPECT_EQ(count(console_, "Connected from System Manager"), 1) << console_;  // once
}

// A request issued while the back end starts is answered once its start-up has passed (a wait past a
// second said once), and a second back end on the board is refused; what the requests set comes back
// after a restart on the board.
TEST_F(EndToEnd, ARequestDuringStartUpIsAnsweredAndSettingsSurviveARestart) {
  boot(false);
  const Outcome sent = frontend("send MxifSystem secondText=abc display.option=1");
  ASSERT_EQ(std::tuple(sent.status, sent.waits <= 1), std::tuple(0, true)) << sent.err;
  EXPECT_EQ(cli::backendOn(board_), cli::Backend::Running);
  const Outcome second = run(std::string(MX_BACKEND_PATH) + " --board " + board_ + " --fast");
  EXPECT_TRUE(second.status == 1 && second.err.find(") is already running on " + board_) != std::string::npos) << second.err;
  // The first request after a start cannot change the panel toggles; this second one can.
  for (const char* request :
       {"send MxifSystem display.toggle1=1", "send MxifBkgdWipe me=1 selected=12", "send MxifBkgd me=1 softness=300"}) {
    const Outcome r = frontend(request);
    ASSERT_EQ(r.status, 0) << request << r.err;
  }
  // The backup copy runs every frame: a few frames later the image holds them.
  EXPECT_TRUE(poll([&] { return frontend("show MxifBkgd me=1").out.find(" softness=300 ") != std::string::npos; }));
  EXPECT_NE(frontend("show MxifSystem").out.find(" secondText=\"abc\" "), std::string::npos);
  frontend("console");  // the console lines of this run are taken: those of the next are looked at
  stopBackend();

  boot();
  EXPECT_EQ(std::tuple(count(console_, "backup data resume"), count(console_, "start power on sequence")), std::tuple(1, 0))
      << console_;
  // The first request after the restart echoes the live toggles, the one set before the stop. The
  // wipe memory recalls nothing at the first frame: ME 1 is selected past its entries, so a recall
  // would bring entry 0's softness 0 back into its background, and the frames' backup copies with it.
  ASSERT_EQ(frontend("send MxifSystem display.option=0").status, 0);
  const std::string system = frontend("watch --waiting --count 1 --type MxifSystem --timeout 10").out;
  EXPECT_NE(system.find(" display.toggle1=1 display.toggle2=0"), std::string::npos) << system;
  ASSERT_EQ(frontend("wait 5").status, 0);
  EXPECT_NE(frontend("show MxifBkgd me=1").out.find(" softness=300 "), std::string::npos);
  EXPECT_NE(frontend("show MxifBkgdWipe me=1").out.find(" selected=12 "), std::string::npos);
}

// Console followers in a script's background (where SIGINT is ignored), each signalled once it follows
// (it has the link mapped, then its SIGINT handler in): the first, given no --timeout, still follows
// past the default one and ends on SIGINT, the second when the back end, stopped by SIGINT some
// frames on, has ended.
TEST_F(EndToEnd, ConsoleFollowersEndOnSigintOrWithTheBackEnd) {
  boot();
  const std::string follow = std::string(MX_FRONTEND_PATH) + " --board " + board_ + " console --follow";
  const std::string follows = " & f=$!; until grep -qs link.mem /proc/$f/maps && grep -qE '^SigCgt:.*[2367abef]$' /proc/$f/status || "
                              "! kill -0 $f 2>/dev/null; do sleep 0.01; done";
  const std::string ended = "; for i in $(seq 600); do kill -0 $f 2>/dev/null && sleep 0.1; done; kill -9 $f 2>/dev/null; wait $f; echo $?\n";
  const Outcome followed = run("(" + follow + " >/dev/null" + follows + "; sleep 2.5; kill -INT $f || echo early" + ended + follow +
                               follows + "; kill -INT " + std::to_string(pid_) + ended + ")");
  EXPECT_TRUE(followed.out.starts_with("0\n") && followed.out.ends_with("[INFO] stopped by signal\n0\n")) << followed.out;
  EXPECT_EQ(followed.err, "frontend: the back end on " + board_ + " has ended\n");
  ASSERT_TRUE(poll([&] { return waitpid(pid_, nullptr, WNOHANG) == pid_; }));
  pid_ = -1;
}

// The back end's and mknand's help go to standard output; a refusal or an output it cannot write (1)
// or a usage error (2) names its cause on standard error alone, without an abort.
TEST_F(EndToEnd, HelpAndRefusalsOfTheBackEnd) {
  const std::string missing = dir_ + "/missing/board", board = "--board " + board_;
  const std::tuple<const char*, std::string, int, std::string> cases[] = {
      // The usage line names every option of the table that also reads the command line.
      {MX_BACKEND_PATH, "-h", 0, "[--trace-range LO-HI]... [--trace-addr ADR]... [--log LEVEL] [--quiet] [--help]\n"},
      {MX_BACKEND_PATH, "--version", 0, "backend 6.22-00-0.00 (backup image version 146)\n"},
      {MX_MKNAND_PATH, "--help", 0, "usage: mknand [--help] [--version] FILE\n"},
      {MX_MKNAND_PATH, "--version", 0, "mknand 6.22-00-0.00 (backup image version 146)\n"},
      {MX_MKNAND_PATH, "--version --version", 2, "mknand: --version and --version: --version is given twice"},
      {MX_BACKEND_PATH, board + " --frames 5 --frames=6", 2, "backend: --frames 5 and --frames=6: --frames is given twice"},
      {MX_BACKEND_PATH, board + " --fast --frames 1 --quiet --log info", 2, "--quiet and --log info: the level of the console's"},
      {MX_MKNAND_PATH, "--force " + board_ + "/nand.img", 2, "mknand: unknown option --force"},
      {MX_BACKEND_PATH, "--board " + missing, 1,
       "backend: cannot create board directory " + missing + ": No such file or directory\n"},
      {MX_BACKEND_PATH, board + " --trace " + dir_ + "/missing/trace", 1, "missing/trace: No such file or directory"},
      {MX_BACKEND_PATH, "--fast", 2, "--board DIR is needed"},
      {MX_BACKEND_PATH, "--board=" + board_ + " --frames=0", 2, "--frames takes a count above 0, not 0"},
      {MX_BACKEND_PATH, board + " --frames", 2, "--frames needs a value"},
      {MX_BACKEND_PATH, board + " --log loud", 2, "--log takes info, warn, err or fatal"},
      {MX_BACKEND_PATH, board + " --fast --frames 5 --quiet --trace /dev/full", 1, "backend: board: cannot write /dev/full: No space left on device\n"},
      {MX_BACKEND_PATH, board + " --fast --frames 5 >/dev/full", 1, "backend: cannot write standard output (/dev/full): No space left on device\n"},
  };
  for (const auto& [program, args, status, text] : cases) {
    const Outcome r = run(std::string(program) + " " + args);
    EXPECT_EQ(r.status, status) << args << r.err;
    EXPECT_NE((status == 0 ? r.out : r.err).find(text), std::string::npos) << r.out << r.err;
    EXPECT_EQ(status == 0 ? r.err : r.out, "") << args;
  }
  EXPECT_FALSE(fs::exists(board_ + "/backend.pid"));  // not left by a back end that could not open the board
}

// mknand writes a new path (one after --, one that a link names) or a regular file only, keeping its
// permissions: what else stands at FILE, a device where the test can make one, a link loop, is left
// as it was with nothing written beside it; so is a second FILE.
TEST_F(EndToEnd, MknandWritesOnlyAFlashFile) {
  const std::string d = dir_ + "/m/";
  ASSERT_TRUE(fs::create_directories(d + "dir") && mkfifo((d + "fifo").c_str(), 0644) == 0);
  fs::create_directory_symlink("dir", d + "linkdir"), fs::create_symlink("new", d + "link"), fs::create_symlink("loop", d + "loop");
  std::ofstream(d + "kept").close(), fs::permissions(d + "kept", static_cast<fs::perms>(0444));
  const bool device = mknod((d + "null").c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;
  const std::tuple<std::string, int, std::string> cases[] = {
      {"fifo", 1, "fifo is a FIFO"}, {"dir", 1, "dir is a directory"}, {"null", 1, "null is a character device"},
      {"linkdir", 1, "linkdir is a symbolic link to a directory"}, {"loop", 1, "loop is a loop of symbolic links"},
      {"-- -new", 0, ""}, {"link", 0, ""}, {"kept", 0, ""}, {"one two", 2, "one FILE only, not also two"}};
  for (const auto& [args, status, text] : cases) {
    const Outcome r = args != "null" || device ? run("cd " + d + " && " + MX_MKNAND_PATH + " " + args) : Outcome{status, "", text};
    EXPECT_TRUE(r.status == status && r.err.find(text) != std::string::npos) << args << r.err;
  }
  std::set<std::string> left, kept = {"-new file", "new file", "kept file", "link", "loop", "dir", "fifo", "linkdir", device ? "null" : "dir"};
  for (const auto& e : fs::directory_iterator(d)) {
    left.insert(e.path().filename().string() + (fs::is_regular_file(e.symlink_status()) ? " file" : ""));
  }
  EXPECT_EQ(left, kept);
  EXPECT_TRUE(fs::is_fifo(d + "fifo") && fs::is_empty(d + "dir") && fs::is_symlink(d + "linkdir") && fs::is_symlink(d + "link"));
  EXPECT_EQ(fs::status(d + "kept").permissions(), static_cast<fs::perms>(0444));
}

// Runs of 20 frames on one board: the first starts cold; the next warm, and its first frame repairs
// the cleared ME maps it resumed; --power-on cold again. --log and --quiet filter only the copy on
// standard output: the console ring holds every line.
TEST_F(EndToEnd, RunsOnOneBoardStartColdThenWarm) {
  const std::string backend = std::string(MX_BACKEND_PATH) + " --board " + board_ + " --fast --frames 20";
  const Outcome cold = run(backend), errors = run(backend + " --log err"), quiet = run(backend + " --power-on --quiet"),
                warm = run(backend);
  EXPECT_EQ(std::tuple(cold.status, count(cold.out, "start power on sequence"),
                       count(cold.out, "Start ORVEX-21 Backend Process"), count(cold.out, "Start Timer task")),
            std::tuple(0, 1, 1, 1))
      << cold.out << cold.err;
  const std::string conflicts = "[ERR] ME Change conflict\n[ERR] ME Change conflict\n[ERR] ME Change conflict\n";
  EXPECT_EQ(std::tuple(errors.status, errors.out, quiet.status, quiet.out), std::tuple(0, conflicts, 0, ""));
  EXPECT_EQ(std::tuple(warm.status, count(warm.out, "start power on sequence"), count(warm.out, "Start Timer task")),
            std::tuple(0, 0, 1))
      << warm.out;
  // The power-on cleared the ring: it holds the quiet run's lines, a cold start, and the last run's,
  // printed without the escape byte at their heads.
  const Outcome console = frontend("console");
  EXPECT_EQ(std::tuple(count(console.out, "start power on sequence"), count(console.out, "\n[INFO] Start Timer task\n")),
            std::tuple(1, 2))
      << console.out;
}

// The "Operating it" block of README.md as it stands, with this test's programs and board in place of
// build/... and the back end in fast time: each step shows in what its watch printed. A watch runs for
// one second, and again until the step's reports have come (a loaded host runs the frames slower than
// the clock). The back end, in the background of a script where SIGINT is ignored, still stops on it,
// says so (within a frame; a minute bounds the wait for one that never does), and removes backend.pid.
TEST_F(EndToEnd, TheReadmesOperatingStepsDoWhatItSays) {
  fs::path root = fs::path(MX_FRONTEND_PATH).parent_path();
  while (root.has_relative_path() && !fs::exists(root / "README.md")) root = root.parent_path();
  std::ifstream readme(root / "README.md");
  ASSERT_TRUE(readme.good()) << root;
  const std::pair<const char*, std::vector<const char*>> reports[] = {
      {"Buses", {"MxifBus me=0 entries[0]=1034 entries[1]=1036\n"}},
      {"Buttons", {"MxifBus me=0 entries[1]=2\n"}},
      {"Cut", {"MxifBus me=0 programBus=1\n"}},
      {"Tally", {"MxifSourceTally channel=0 tally=0,0,1,0,"}},
      {"Auto mix", {"bkgd.state[0]=1\n", "bkgd.state[0]=0\n", "programBus=0\n"}},
      {"Wipe", {"bkgd.state[0]=1\n", "bkgd.state[0]=0\n", "programBus=1\n"}},
      {"Lever", {"MxifBus me=0 programBus=0\n"}},
      {"Key", {"MxifKey me=0 channel=0 onAir=1"}},
      {"Chroma key",
       {"MxifKey me=0 channel=1 style.keyType=2\n",
        "MxifChromaKey me=0 channel=1 rangeBase=1 rangeWidth=20 sampleKey=2 sampleSize=1000\n",
        "MxifKey me=0 channel=1 onAir=1"}},
      {"Downstream key", {"MxifDsk channel=0 onAir=1"}},
      {"Fade to black", {"ftb.onAir=1", "ftb.transitioning=0"}},
      {"Format", {"MxifSystem format=5"}},
  };
  const std::pair<std::string, std::string> names[] = {
      {"build/frontend", MX_FRONTEND_PATH}, {"build/backend", MX_BACKEND_PATH},   {"build/operate", board_},
      {"build/trace.txt", dir_ + "/trace.txt"}, {"--quiet", "--quiet --fast"}, {"--timeout 2", "--timeout 1"},
      {"--timeout 10\"", "--timeout " + std::to_string(WAIT_SECONDS) + "\""}};
  // seen FILE TEXT...: whether the file holds every text (each up to its line's end).
  std::string script = "W=" + dir_ + "/watched\nseen() { f=$1; shift; for t; do grep -qF -- \"$t\" \"$f\" || return 1; done; }\n", line, tallyCodes, step;
  bool inBlock = false;
  while (std::getline(readme, line)) {
    if (line.starts_with("## ")) inBlock = line == "## Operating it";
    if (!inBlock || !line.starts_with("    ")) continue;
    line.erase(0, 4);
    if (line.starts_with("# Tally:")) tallyCodes = line;
    for (const auto& [name, path] : names) {
      for (size_t at = 0; (at = line.find(name, at)) != std::string::npos; at += path.size()) line.replace(at, name.size(), path);
    }
    if (line.starts_with("# ")) step = line.substr(2, line.find(':') - 2), line = "echo '@@ " + step + "'";
    std::string texts;  // a watch goes on, a minute at most, until the step's reports came
    for (const auto& [name, shown] : reports) {
      for (std::string text : shown) texts += name == step ? " '" + (std::erase(text, '\n'), text) + "'" : "";
    }
    if (line.starts_with("$F watch ")) line = ": >$W; for i in $(seq 60); do " + line + " >>$W; seen $W" + texts + " && break; done; cat $W";
    script += line + "\n";
  }
  script += "for i in $(seq 600); do kill -0 $! 2>/dev/null && sleep 0.1; done; kill -9 $! 2>/dev/null\n"
            "wait $!; echo \"@@ Stop $?\"\n";
  std::ofstream(dir_ + "/operate.sh") << script;
  const Outcome r = run("sh " + dir_ + "/operate.sh");
  EXPECT_EQ(r.err, "") << r.out;  // nothing refused, nothing failed
  EXPECT_NE(r.out.find("@@ Stop 0\n"), std::string::npos) << r.out;
  EXPECT_NE(frontend("console").out.find("\n[INFO] stopped by signal\n"), std::string::npos);
  EXPECT_FALSE(fs::exists(board_ + "/backend.pid"));

  for (const auto& [step, texts] : reports) {
    const size_t from = r.out.find(std::string("@@ ") + step + "\n");
    ASSERT_NE(from, std::string::npos) << step << "\n" << r.out;
    const std::string shown = r.out.substr(from, r.out.find("@@", from + 3) - from);
    for (const char* text : texts) EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;
  }
  // The tally codes that the Tally step names (its ranges, 0 for none, and the codes that group 0
  // refuses) are those that the back end takes, as fields lists them for groups 0 and 1.
  const auto codes = [](const std::string& text, const std::regex& item) {
    std::set<int> out;
    for (std::sregex_iterator m(text.begin(), text.end(), item), end; m != end; ++m) {
      for (int c = std::stoi((*m)[1]); c <= std::stoi((*m)[(*m)[2].matched ? 2 : 1]); ++c) out.insert(c);
    }
    return out;
  };
  std::set<int> named = codes(tallyCodes, std::regex("(\\d+)\\.\\.(\\d+)")), refused;
  named.insert(0);
  const size_t refuses = tallyCodes.find("refuses");
  if (refuses != std::string::npos) {
    refused = codes(tallyCodes.substr(refuses, tallyCodes.find(';', refuses) - refuses), std::regex("(\\d+)"));
  }
  std::set<int> group0 = named;
  for (int c : refused) group0.erase(c);
  const std::string fields = frontend("fields MxifPeripheral").out;
  const auto listed = [&](const std::string& field) {
    const size_t at = fields.find(field);
    return codes(fields.substr(at, fields.find('\n', at) - at).substr(field.size()), std::regex("(\\d+)(?:\\.\\.(\\d+))?"));
  };
  EXPECT_EQ(std::tuple(listed("group0.entries[0..7]"), listed("group1.entries[0..7]")), std::tuple(group0, named)) << tallyCodes;
}

// Four senders at once, with a watch beside them that started first: each request gets an answer of
// its own that no other request changes, and the watch sees every one.
TEST_F(EndToEnd, ConcurrentSendersAndAWatchEachSeeTheirOwnAnswer) {
  boot();
  const std::string f = tool("");
  std::string script = tool("watch --timeout " + std::to_string(WAIT_SECONDS)) + " > " + dir_ + "/watch.txt & W=$!\n" +
                       "until grep -qs '^reader' " + board_ + "/frontend.link; do sleep 0.01; done\n";
  for (int k = 0; k < 4; ++k) {
    script += "(for i in 0 1 2 3 4 5 6 7 8 9; do " + f + " send MxifSystem horizontalPhase=$((" + std::to_string(10 * k - 20) +
              " + i)); echo $?; done) & P=\"$P $!\"\n";
  }
  std::ofstream(dir_ + "/send.sh") << script << "wait $P; kill $W; wait $W\n";
  const Outcome r = run("sh " + dir_ + "/send.sh");
  EXPECT_EQ(std::tuple(count(r.out, "0\n"), r.err), std::tuple(40, "")) << r.out;
  const std::string text = fileText(dir_ + "/watch.txt");
  std::set<int> values;
  for (size_t at = 0; (at = text.find(" horizontalPhase=", at)) != std::string::npos; ++at) values.insert(std::atoi(&text[at + 17]));
  EXPECT_EQ(std::tuple(values.size(), *values.begin(), *values.rbegin()), std::tuple(40u, -20, 19)) << text;
}

// Senders side by side, each giving one element of a list whose elements share one presence bit:
// each fills the others from the state that the requests before it leave, so every one holds.
TEST_F(EndToEnd, SendsSideBySideFillListsFromTheStateBeforeThem) {
  boot();
  const std::string f = tool("send MxifKey me=0 channel=2 ");
  for (int trial = 1; trial <= 3; ++trial) {
    // The senders queue on the request ring's lock, held a moment, and then write one after another.
    std::string script = f + "window=0,0,0,0\nflock " + board_ + "/link.mem sleep 0.3 & L=$!\nsleep 0.05\n", want = " window=";
    for (int i = 0; i < 4; ++i) {
      const std::string v = std::to_string(100 * trial + i);
      script += f + "window[" + std::to_string(i) + "]=" + v + " 2>/dev/null & P=\"$P $!\"\n";
      want += v + (i < 3 ? "," : " ");
    }
    std::ofstream(dir_ + "/fill.sh") << script << "wait $P $L\n";
    ASSERT_EQ(run("sh " + dir_ + "/fill.sh").status, 0);
    // Once the last one is backed up (a value lost stays lost).
    EXPECT_TRUE(poll([&] { return frontend("show MxifKey me=0 channel=2").out.find(want) != std::string::npos; })) << want;
  }
  // The note names the values sent, once.
  EXPECT_EQ(frontend("send MxifKey me=0 channel=2 window[0]=7").err,
            "frontend: MxifKey: sent as last backed up: window[1]=301 window[2]=302 window[3]=303\n");
}

// What send says of a value is the rule the back end noted when it took the request, read from the
// link memory, on any ME; a back end of another build than the tools is judged by its answer alone,
// and send says why.
TEST_F(EndToEnd, ReasonsComeFromTheBackEndOfThisBuildOnly) {
  boot();
  const std::string edges = "it holds 5000: the edge rule (edges left, top, bottom, right)";
  EXPECT_NE(frontend("send MxifKey me=2 channel=1 maskBox=5000,0,0,0").err.find("maskBox[3]=0: " + edges), std::string::npos);
  linkpeer::storeIndex(const_cast<u8*>(link_.notes()) + offsetof(rules::NotesHeader, build), ~rules::buildMark());
  const Outcome r = frontend("send MxifKey me=1 channel=2 maskBox=5000,0,0,0");
  EXPECT_EQ(std::tuple(r.status, r.err.find("maskBox[3]=0: it holds 5000: the back end runs another build") != std::string::npos),
            std::tuple(1, true))
      << r.err;
}

// Formats 10 and 11 need the paired-FPGA board, which runs only those two: elsewhere the record takes
// the format and the video keeps its own, and send says it was not applied. The board mode stored by
// the mode field makes the next start a paired-FPGA board.
TEST_F(EndToEnd, FormatsTheBoardCannotRun) {
  boot();
  Outcome r;
  for (const char* format : {"10", "11"}) {
    r = frontend(std::string("send MxifSystem format=") + format);
    EXPECT_EQ(std::tuple(r.status, r.err),
              std::tuple(1, std::string("frontend: not applied: MxifSystem format=") + format + ": this board, which has no "
                            "paired FPGA, runs formats 0..9 (none with mode=2, the 4K board's mode); the record keeps it\n"));
  }
  EXPECT_NE(frontend("show MxifSystem").out.find(" format=11 "), std::string::npos);
  ASSERT_EQ(frontend("send MxifSystem mode=1").status, 0);
  stopBackend();
  boot();
  const std::pair<const char*, int> formats[] = {{"format=10", 0}, {"format=4", 1}};
  for (const auto& [format, status] : formats) {
    r = frontend(std::string("send MxifSystem ") + format);
    EXPECT_EQ(std::tuple(r.status, r.err.find("which has the paired FPGA, runs formats 10..11") != std::string::npos), std::tuple(status, status == 1))
        << format << r.err;
  }

}

}  // namespace
