#pragma once
// What the host programs share: option and number words, the version line, checked standard
// output, the board directory, and the lock file that a running back end holds in it.
//
// The lock file DIR/backend.pid holds the back end's process id, and a second line "started STAMP"
// once its start-up has passed (the system has said "Start Timer task"); STAMP differs at every
// start, restarts included. The back end holds a lock on the file for as long as it runs, across its
// own restarts, so a front end can tell whether a back end is there and a second back end on the
// same directory is refused.
#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// One option of a program. A program's table of them serves both the reading of its command line
// and its --help, so the two cannot disagree.
struct Option {
  const char* name;   // "--board"
  const char* value;  // the value's name in the help ("DIR"), or null: the option takes none
  const char* help;   // what it does, for --help; '\n' starts a further line
  // Takes the option's value (empty for one that takes none); false with the reason when the value
  // is not one it takes.
  std::function<bool(const std::string& value, std::string& error)> take;
  const char* alias = nullptr;  // another spelling ("-h")
  bool needed = false;          // the program does not run without it
  bool repeats = false;         // may be given more than once
  // What it sets where another option of the table sets it too ("the console copy's level"); such
  // options count as one: a second of them is given twice.
  const char* sets = nullptr;
  // The words that gave it on the command line read so far ("--count 2"); empty when not given.
  mutable std::string given = {};
};
using Options = std::vector<Option>;

// Reads the option word at args[i] (and its value, after '=' or from the next word), finds it in
// options and lets it take its value; i is left on the last word read. False with the reason: an
// unknown option (with the nearest names), a value missing or given to an option that takes none, one
// the option refuses, or an option given before (or another that sets the same) that does not repeat.
bool readOption(const std::vector<std::string>& args, size_t& i, const Options& options, std::string& error);
// Every option for a usage line: "--board DIR [--fast] [--trace-range LO-HI]...", broken into lines
// of at most width characters, the further ones indented by indent spaces.
std::string optionSynopsis(const Options& options, size_t indent, size_t width = 100);
// The options' lines of --help: "  --board DIR    what it does", the help from column `column` (two
// spaces after a longer name), its further lines there too.
std::string optionHelp(const Options& options, size_t column);

// Up to three of names nearest to a name that is none of them, nearest first (for an error line).
std::vector<std::string> nearestNames(std::string_view name, const std::vector<std::string>& names);
// " (nearest: a, b)" of those, or "" when none is near.
std::string nearestNote(std::string_view name, const std::vector<std::string>& names);

// "A and B: WHAT is given twice": a word of a command line that gives what another gave.
std::string givenTwice(const std::string& first, const std::string& second, const std::string& what);

// "PROGRAM VERSION (backup image version N)": the system's version text, and the version of the
// backup image this build writes and reads.
std::string versionLine(const std::string& program);
// For a command line from args[first] that gave --version: "" when that is its only word, else the
// usage error that names another word (--version takes none).
std::string versionAlone(const std::vector<std::string>& args, size_t first);

// Numbers are read as an operator reads them: decimal digits after an optional sign, leading zeroes
// counting for nothing ("010" is 10); no other base, no blanks.
// A whole number; false for any other form or one beyond the range of long long.
bool parseWhole(std::string_view s, long long& out);
// A number with a fraction or an exponent too ("2.5", "-1e3"), as a float field takes it.
bool parseDecimal(std::string_view s, double& out);
// A whole number within min..max.
bool parseNumber(const std::string& s, long min, long max, long& out);
// Seconds from 0 to 3600, fractions allowed.
bool parseSeconds(const std::string& s, double& out);

// open() of a file that the programs keep in a board directory, which never blocks: with O_NONBLOCK
// and O_CLOEXEC (a FIFO put in its place would hold open() until a writer came), and taking only a
// regular file: -1 otherwise, with errno EISDIR for a directory, ESPIPE for any other.
int openFile(const std::string& path, int flags, unsigned mode = 0);
// "WHAT: " and the reason errno gives ("not a regular file" for openFile's ESPIPE).
std::string reason(const std::string& what);

// Writes text to out (a program's standard output) and flushes it: true once all that out was given
// is written. Otherwise false, and the first failure is said once on err: "PROGRAM: cannot write
// standard output (/dev/full): No space left on device". What a reader takes counts as taken only
// after this has held.
bool put(std::ostream& out, std::string_view text, std::ostream& err, std::string_view program);

// Whether dir is an existing directory; false with the reason ("DIR: No such file or directory") and
// errno (ENOENT: nothing there yet; ENOTDIR: something else is).
bool checkBoardDir(const std::string& dir, std::string& error);
// Creates dir when it is missing (not its parents), then checks it.
bool prepareBoardDir(const std::string& dir, std::string& error);

// The back end's hold on its board directory.
class BackendLock {
 public:
  // Takes the lock (or keeps the one this process held before it started itself again); false
  // with the reason when another back end holds it or the file cannot be created.
  bool acquire(const std::string& dir, std::string& error);
  // Notes in the file that start-up has passed, with a stamp of this start.
  void markStarted();
  // Removes the file, still holding the lock, and lets the lock go: the back end has ended.
  void release();

 private:
  void rewrite(const std::string& text);
  int fd_ = -1;
  std::string path_;
};

// Where a wait that has lasted a second says what it waits for: "PREFIX waiting for WHAT", on the
// stream given, for the life of this object, in the thread that made it (no other thread's waits).
class WaitNotices {
 public:
  WaitNotices(std::ostream& out, const char* prefix);
  ~WaitNotices();
  WaitNotices(const WaitNotices&) = delete;
  WaitNotices& operator=(const WaitNotices&) = delete;

 private:
  friend class LongWait;
  std::ostream& out_;
  const char* prefix_;
  WaitNotices* previous_;
};

// One wait: once it has lasted a second, check() says once what it waits for (what() names it), as
// WaitNotices sets; a wait that ends sooner says nothing.
class LongWait {
 public:
  static constexpr auto SAID_AFTER = std::chrono::seconds(1);
  void check(const std::function<std::string()>& what);

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  bool said_ = false;
};

enum class Backend { None, Starting, Running };
// Whether a back end holds the board directory, and whether its start-up has passed; *start gets
// the stamp of that start ("" unless Running). The back end resets the link's rings at every start.
Backend backendOn(const std::string& dir, std::string* start = nullptr);

}  // namespace cli
