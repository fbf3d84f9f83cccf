#pragma once
// What the host programs share: option and number words, the version line, the board directory,
// and the lock file that a running back end holds in it.
//
// The lock file DIR/backend.pid holds the back end's process id, and a second line "started STAMP"
// once its start-up has passed (the system has said "Start Timer task"); STAMP differs at every
// start, restarts included. The back end holds a lock on the file for as long as it runs, across its
// own restarts, so a front end can tell whether a back end is there and a second back end on the
// same directory is refused.
#include <string>
#include <vector>

namespace cli {

// The options a command line takes: those that take a value ("--board DIR" or "--board=DIR") and
// those that stand alone ("--fast").
struct OptionNames {
  std::vector<std::string> valued;
  std::vector<std::string> flags;
};
struct OptionWord {
  std::string name;  // as OptionNames lists it: "--board"
  std::string value;  // empty for a flag
};
// Reads the option word at args[i], and its value from the next word when it is not given with '=';
// i is left on the last word read. False with the reason: an unknown option, a value missing or given
// to a flag.
bool readOption(const std::vector<std::string>& args, size_t& i, const OptionNames& accepted, OptionWord& out,
                std::string& error);

// "PROGRAM VERSION (backup image version N)": the system's version text, and the version of the
// backup image this build writes and reads.
std::string versionLine(const std::string& program);

// A whole decimal (or 0x hexadecimal) number within min..max.
bool parseNumber(const std::string& s, long min, long max, long& out);
// Seconds from 0 to 3600, fractions allowed.
bool parseSeconds(const std::string& s, double& out);

// Whether dir is an existing directory; false with the reason ("DIR: No such file or directory").
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

enum class Backend { None, Starting, Running };
// Whether a back end holds the board directory, and whether its start-up has passed; *start gets
// the stamp of that start ("" unless Running). The back end resets the link's rings at every start.
Backend backendOn(const std::string& dir, std::string* start = nullptr);

}  // namespace cli
