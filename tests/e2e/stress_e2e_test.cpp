// The tools under accidents, on one real-time back end: senders of valid bus sources beside two
// watches, while tools are killed at random (SIGKILL or SIGINT), the back end is stopped with SIGINT
// and started again, and tools are stopped (SIGSTOP) and continued beside a send with a short
// time-out. Judged is only what the tools promise: no valid value refused, no false status, every
// running watch shows each report once and never the note of a reader outside the tools, what a send
// acknowledged is what the back end holds at the end, and no send outlives its --timeout because
// another tool is stopped.
// About 12 s of traffic; MX_STRESS_SECONDS=N runs N seconds of it (the counts grow with it, bounded
// by the values left to send), MX_STRESS_SEED=S repeats a run, whose seed every failure prints.
#include <sys/wait.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <mutex>
#include <random>
#include <regex>

#include "tests/e2e/e2e_fixture.h"

namespace {

using namespace e2e;
using Seconds = std::chrono::duration<double>;

constexpr int FIRST_AUX = 24, AUX_ENTRIES = 48, FIRST_SOURCE = 1034, SOURCES = 30;  // entries[24..71]=1034..1063
constexpr double PROBE_TIMEOUT = 2, MARGIN = 3;  // a probe send's --timeout, and the time over it allowed

double envNumber(const char* name, double otherwise) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != 0 ? std::atof(v) : otherwise;
}

// One send of the frontend: what it sent (ME and bus entry, -1 for none) and how it ended.
struct Sent {
  int me = -1, entry = -1, value = 0;
  Clock::time_point from, to;
  int status = -1;  // -1: ended by a signal
  std::string err;
  std::string token() const { return "me=" + std::to_string(me) + " entries[" + std::to_string(entry) + "]=" + std::to_string(value); }
};

// A stretch of time in which the back end restarted or a tool stood stopped: a send that overlaps one
// may truthfully fail (not with a refusal).
struct Window {
  Clock::time_point from, to;
  bool restart;
};

class Stress : public EndToEnd {
 protected:
  // Starts the frontend with words, its standard output and error into files.
  pid_t spawn(const std::vector<std::string>& words, const std::string& out, const std::string& err) {
    std::vector<std::string> args = {"frontend", "--board", board_};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o >= 0 && e >= 0) dup2(o, 1), dup2(e, 2);
      execv(MX_FRONTEND_PATH, argv.data());
      _exit(127);
    }
    return pid;
  }
  static int reap(pid_t pid, bool wait = true) {
    int status = 0;
    pid_t r;
    while ((r = waitpid(pid, &status, wait ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r == 0) return -2;  // still running
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string errFile() { return dir_ + "/t" + std::to_string(++files_) + ".err"; }

  // A send of run's value with --timeout seconds, to its end.
  Sent send(Sent run, double timeout) {
    const std::string err = errFile();
    run.from = Clock::now();
    run.status = reap(spawn({"--timeout", std::to_string(timeout), "send", "MxifBus", "me=" + std::to_string(run.me),
                             "entries[" + std::to_string(run.entry) + "]=" + std::to_string(run.value)},
                            "/dev/null", err));
    run.to = Clock::now();
    run.err = fileText(err);
    fs::remove(err);
    return run;
  }

  // SIGINT, as Ctrl-C does, then a new start in real time, up to the end of its start-up.
  void restart(std::vector<Window>& windows) {
    const auto from = Clock::now();
    kill(pid_, SIGINT);
    reap(pid_);
    pid_ = -1;
    launch({"--quiet"});
    ASSERT_TRUE(poll([&] { return cli::backendOn(board_) == cli::Backend::Running; }));
    windows.push_back({from, Clock::now(), true});
  }

  std::atomic<int> files_{0};
};

// The values of a pool of bus entries, each sent once: entry FIRST_AUX + n % 48 (from the pool's
// first), value FIRST_SOURCE + n / 48; false when the pool is spent.
bool nextOf(int me, int first, int entries, int& n, Sent& run) {
  if (n >= entries * SOURCES) return false;
  run.me = me;
  run.entry = first + n % entries;
  run.value = FIRST_SOURCE + n / entries;
  ++n;
  return true;
}

TEST_F(Stress, ToolsStayTruthfulThroughKillsRestartsAndStops) {
  const double seconds = envNumber("MX_STRESS_SECONDS", 12);
  const unsigned seed = static_cast<unsigned>(envNumber("MX_STRESS_SEED", std::random_device{}()));
  std::ostringstream rerunText;
  rerunText << "seed " << seed << " (MX_STRESS_SEED=" << seed << " MX_STRESS_SECONDS=" << seconds << " repeats it)";
  const std::string rerun = rerunText.str();
  SCOPED_TRACE(rerun);
  fast_ = false;
  boot({"--quiet"});

  // Two watches for the whole run.
  std::vector<pid_t> watches;
  for (int w = 0; w < 2; ++w) {
    const std::string name = dir_ + "/watch" + std::to_string(w);
    watches.push_back(spawn({"--timeout", "3600", "watch", "--type", "MxifBus"}, name + ".txt", name + ".err"));
  }
  ASSERT_TRUE(poll([&] { return linkpeer::tableReaders(board_).size() == 2; }));

  std::mutex mutex;
  std::vector<Sent> sent, probes, continued;  // the senders' (checked at the end too), the probes, those stopped
  std::vector<Window> windows;
  std::atomic<bool> sending{true}, killing{true};
  std::atomic<int> killed{0};
  int stopped = 0;

  // Four senders, each of a pool of its own (ME 0 and 1, whose records the backup image keeps), one
  // send at a time with a generous time-out.
  std::vector<std::thread> threads;
  for (int s = 0; s < 4; ++s) {
    threads.emplace_back([&, s] {
      int n = 0;
      Sent one;
      while (sending && nextOf(s % 2, FIRST_AUX + AUX_ENTRIES / 2 * (s / 2), AUX_ENTRIES / 2, n, one)) {
        const Sent done = send(one, 10);
        const std::lock_guard<std::mutex> lock(mutex);
        sent.push_back(done);
      }
    });
  }
  // Tools killed at a random moment of the part of a send's life that reads and writes the link (a
  // send's time less that of a program that only starts, both measured first: 0-60 ms or so in a
  // release build), by two killers: a third watches, the others sends to ME 2 (a half of its entries
  // each).
  for (int k = 0; k < 2; ++k) {
    threads.emplace_back([&, k] {
      std::mt19937 rng(seed + 1 + k);
      int n = 0;
      Sent first;
      nextOf(2, FIRST_AUX + AUX_ENTRIES / 2 * k, AUX_ENTRIES / 2, n, first);
      first = send(first, 10);
      const auto started = Clock::now();
      reap(spawn({"--version"}, "/dev/null", "/dev/null"));
      const auto ms = [](Clock::duration d) { return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()); };
      const int from = ms(Clock::now() - started), span = std::max(10, ms(first.to - first.from) - from);
      while (killing) {
        Sent one;
        std::vector<std::string> words = {"--timeout", "10", "watch"};
        if (rng() % 3 != 0 && nextOf(2, FIRST_AUX + AUX_ENTRIES / 2 * k, AUX_ENTRIES / 2, n, one)) {
          words = {"--timeout", "10", "send", "MxifBus", "me=2", "entries[" + std::to_string(one.entry) + "]=" + std::to_string(one.value)};
        }
        const std::string err = errFile();
        const pid_t pid = spawn(words, "/dev/null", err);
        std::this_thread::sleep_for(std::chrono::milliseconds(from + static_cast<int>(rng() % span)));
        kill(pid, rng() % 2 ? SIGKILL : SIGINT);
        reap(pid);
        fs::remove(err);
        ++killed;
      }
    });
  }

  std::mt19937 rng(seed);
  const auto pause = [&](double lo, double hi) {
    std::this_thread::sleep_for(Seconds(std::uniform_real_distribution<double>(lo, hi)(rng)));
  };
  // Kills alone, then restarts beside them (the back end and the tools stopped below are this
  // thread's children).
  pause(0.3 * seconds, 0.3 * seconds);
  for (int r = std::max(3, static_cast<int>(seconds / 4)); r > 0; --r) {
    pause(0.5, 1.5);
    restart(windows);
  }
  pause(0.5, 1);
  killing = false;
  for (int k = 0; k < 2; ++k) threads.back().join(), threads.pop_back();

  // Tools stopped at a random moment once they read the link, each beside a send --timeout 2 (to ME
  // 3), then continued; a continued send is judged as the others.
  int n = 0;
  for (int trials = std::max(6, static_cast<int>(seconds / 2)); trials > 0; --trials) {
    Sent victim;
    const bool isSend = rng() % 2 == 0 && nextOf(3, FIRST_AUX, AUX_ENTRIES, n, victim);
    const std::string err = errFile();
    victim.from = Clock::now();
    const pid_t pid = spawn(isSend ? std::vector<std::string>{"--timeout", "10", "send", "MxifBus", "me=3",
                                                              "entries[" + std::to_string(victim.entry) + "]=" + std::to_string(victim.value)}
                                   : std::vector<std::string>{"--timeout", "10", "watch"},
                            "/dev/null", err);
    poll([&] {
      const std::vector<long> readers = linkpeer::tableReaders(board_);
      siginfo_t ended{};  // looked at, not reaped
      return std::find(readers.begin(), readers.end(), pid) != readers.end() ||
             (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid == pid);
    });
    pause(0, 0.05);
    kill(pid, SIGSTOP);
    const auto from = Clock::now();
    Sent probe;
    if (nextOf(3, FIRST_AUX, AUX_ENTRIES, n, probe)) {
      const std::string probeErr = errFile();
      probe.from = Clock::now();
      const pid_t p = spawn({"--timeout", std::to_string(PROBE_TIMEOUT), "send", "MxifBus", "me=3",
                             "entries[" + std::to_string(probe.entry) + "]=" + std::to_string(probe.value)},
                            "/dev/null", probeErr);
      // Held past the bound, it is let go by continuing the stopped tool.
      const auto until = probe.from + Seconds(PROBE_TIMEOUT + MARGIN + 1);
      while ((probe.status = reap(p, false)) == -2 && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      probe.to = Clock::now();
      kill(pid, SIGCONT);
      if (probe.status == -2) probe.status = reap(p);
      probe.err = fileText(probeErr);
      probes.push_back(probe);
    }
    kill(pid, SIGCONT);
    windows.push_back({from, Clock::now(), false});
    ++stopped;
    if (!isSend) kill(pid, SIGKILL);
    victim.status = reap(pid);
    victim.to = Clock::now();
    victim.err = fileText(err);
    if (isSend) continued.push_back(victim);
  }
  sending = false;
  for (std::thread& t : threads) t.join();

  // What the back end holds at the end, from the backup image it writes every frame.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::map<std::string, int> held;  // "me=0 entries[30]" -> value
  for (int me = 0; me < 2; ++me) {
    const Outcome shown = frontend("show MxifBus me=" + std::to_string(me));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(shown.out, m, std::regex("entries=([0-9,]+)"))) << shown.out << shown.err;
    std::stringstream values(m[1].str());
    int entry = 0;
    for (std::string v; std::getline(values, v, ',');) held["me=" + std::to_string(me) + " entries[" + std::to_string(entry++) + "]"] = std::stoi(v);
  }

  std::vector<std::string> problems;
  const auto overlaps = [&](const Sent& r) {
    return std::any_of(windows.begin(), windows.end(), [&](const Window& w) { return r.from <= w.to + Seconds(0.5) && r.to >= w.from; });
  };
  std::vector<Sent> judged = sent;
  judged.insert(judged.end(), probes.begin(), probes.end());
  judged.insert(judged.end(), continued.begin(), continued.end());
  for (const Sent& r : judged) {
    const std::string what = "send " + r.token() + " (status " + std::to_string(r.status) + "): " + r.err;
    if (r.err.find("frontend: refused") != std::string::npos) {
      problems.push_back("a valid value refused: " + what);
    } else if (r.err.find("a reader outside these tools") != std::string::npos) {
      problems.push_back("a reader outside the tools blamed: " + what);
    } else if (r.status != 0 && (r.status < 1 || r.status > 3 || !overlaps(r))) {
      problems.push_back("failed with neither a restart nor a stopped tool beside it: " + what);
    }
  }
  for (const Sent& p : probes) {
    const double took = Seconds(p.to - p.from).count();
    if (took > PROBE_TIMEOUT + MARGIN) problems.push_back("a send --timeout 2 held " + std::to_string(took) + " s beside a stopped tool");
  }
  // Nothing acknowledged lost: the last value a sender's entry took is held, or one sent after it
  // whose answer was not seen.
  std::map<std::string, std::vector<const Sent*>> bySlot;
  for (const Sent& r : sent) bySlot[r.token().substr(0, r.token().rfind('='))].push_back(&r);
  for (const auto& [slot, runs] : bySlot) {
    std::vector<int> allowed;
    for (const Sent* r : runs) {
      if (r->status == 0) allowed.clear();
      if (r->status == 0 || !allowed.empty()) allowed.push_back(r->value);
    }
    if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), held[slot]) == allowed.end()) {
      problems.push_back(slot + " holds " + std::to_string(held[slot]) + ", not " + std::to_string(allowed.front()) +
                         " that a send acknowledged");
    }
  }
  // Each watch shows each report once: every acknowledged one (but those of sends across a restart,
  // whose answer the new start's reset of the ring may take before a watch has copied it), none twice
  // since the back end's last start, and no note of reports taken.
  std::vector<std::string> expected;
  for (const Sent& r : sent) {
    const bool nearRestart = std::any_of(windows.begin(), windows.end(), [&](const Window& w) {
      return w.restart && r.to >= w.from - Seconds(1) && r.from <= w.to;
    });
    if (r.status == 0 && !nearRestart) expected.push_back(r.token());
  }
  // The reports of bus entries that a watch shows, "me=0 entries[30]=1040", with how often since the
  // back end's last start (a report twice across a restart can be two).
  const auto shownIn = [](const std::string& text, int* twice = nullptr) {
    std::map<std::string, int> shown, sinceStart;
    std::stringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("(the back end started again")) sinceStart.clear();
      if (!line.starts_with("MxifBus me=")) continue;
      for (size_t at = line.find(" entries["); at != std::string::npos; at = line.find(" entries[", at + 1)) {
        const std::string token = line.substr(8, 4) + line.substr(at, line.find(' ', at + 1) - at);
        ++shown[token];
        if (++sinceStart[token] == 2 && twice != nullptr) ++*twice;
      }
    }
    return shown;
  };
  const auto unseenIn = [&](const std::map<std::string, int>& shown) {
    return std::count_if(expected.begin(), expected.end(), [&](const std::string& t) { return shown.count(t) == 0; });
  };
  const auto watchText = [&](int w) { return fileText(dir_ + "/watch" + std::to_string(w) + ".txt"); };
  poll([&] { return unseenIn(shownIn(watchText(0))) == 0 && unseenIn(shownIn(watchText(1))) == 0; });
  for (int w = 0; w < 2; ++w) {
    kill(watches[w], SIGKILL);
    reap(watches[w]);
    const std::string text = watchText(w), name = "watch " + std::to_string(w);
    if (const int notes = count(text, "(reports are missing here"); notes > 0) {
      problems.push_back(name + ": " + std::to_string(notes) + " notes of reports taken by a reader outside the tools");
    }
    int twice = 0;
    const std::map<std::string, int> shown = shownIn(text, &twice);
    const long unseen = unseenIn(shown);
    if (twice > 0) problems.push_back(name + ": " + std::to_string(twice) + " reports shown twice or more");
    if (unseen > 0) {
      std::string which;
      for (const Sent& r : sent) {
        if (shown.count(r.token()) != 0 || which.size() > 200 || std::find(expected.begin(), expected.end(), r.token()) == expected.end()) continue;
        which += " " + r.token() + " (sent " + std::to_string(Seconds(r.to - r.from).count()) + " s";
        for (const Window& w : windows) {
          if (w.restart) which += ", " + std::to_string(Seconds(r.from - w.from).count());
        }
        which += ")";
      }
      problems.push_back(name + ": " + std::to_string(unseen) + " of " + std::to_string(expected.size()) +
                         " acknowledged reports not shown:" + which);
    }
  }

  int ok = 0;
  for (const Sent& r : sent) ok += r.status == 0;
  const std::string summary = std::to_string(sent.size()) + " sends (" + std::to_string(ok) + " exit 0), " +
                              std::to_string(killed.load()) + " tools killed, " + std::to_string(windows.size() - stopped) +
                              " restarts, " + std::to_string(stopped) + " tools stopped; " + rerun;
  std::cout << "stress: " << summary << "\n";
  std::string listed;
  for (size_t i = 0; i < problems.size() && i < 12; ++i) listed += "  " + problems[i] + (problems[i].ends_with("\n") ? "" : "\n");
  EXPECT_TRUE(problems.empty()) << problems.size() << " problems in " << summary << ":\n" << listed;
}

}  // namespace
