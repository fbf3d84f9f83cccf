#include "Tools/lib/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <ostream>

#include "Lib/Include/storage.h"
#include "Lib/Include/records/maintenance.h"

namespace cli {
namespace {

constexpr const char* LOCK_FILE = "/backend.pid";
// The lock's descriptor survives the back end's restart (exec); its number is passed on here.
constexpr const char* LOCK_FD_VARIABLE = "MX_BACKEND_LOCK_FD";
constexpr const char* STARTED = "started";

// The descriptor this process left itself when it restarted, if it is still the lock file.
int inheritedLock(const std::string& path) {
  const char* text = std::getenv(LOCK_FD_VARIABLE);
  if (text == nullptr) return -1;
  const int fd = std::atoi(text);
  struct stat held {}, named {};
  if (fd < 0 || fstat(fd, &held) != 0 || stat(path.c_str(), &named) != 0) return -1;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino ? fd : -1;
}

std::string contents(int fd) {
  char buf[64];
  const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

struct flock wholeFile(short type) {
  struct flock f {};
  f.l_type = type;
  f.l_whence = SEEK_SET;
  return f;
}

}  // namespace

int openFile(const std::string& path, int flags, unsigned mode) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, static_cast<mode_t>(mode));
  struct stat st {};
  if (fd < 0 || (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))) return fd;
  ::close(fd);
  errno = S_ISDIR(st.st_mode) ? EISDIR : ESPIPE;
  return -1;
}

std::string reason(const std::string& what) {
  return what + ": " + (errno == ESPIPE ? "not a regular file" : std::strerror(errno));
}

bool put(std::ostream& out, std::string_view text, std::ostream& err, std::string_view program) {
  static const int said = std::ios_base::xalloc();  // out's failure was said
  errno = 0;
  if (out.good()) out.write(text.data(), static_cast<std::streamsize>(text.size())).flush();
  if (out.good()) return true;
  // The system's reason when this write failed; one that failed before left none.
  const int failed = errno;
  if (out.iword(said) == 0) {
    out.iword(said) = 1;
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/fd/1", path, sizeof path);
    err << program << ": cannot write standard output" << (n > 0 && path[0] == '/' ? " (" + std::string(path, static_cast<size_t>(n)) + ")" : "")
        << (failed != 0 ? std::string(": ") + std::strerror(failed) : "") << "\n";
  }
  return false;
}

bool readOption(const std::vector<std::string>& args, size_t& i, const Options& options, std::string& error) {
  const std::string& word = args[i];
  const size_t eq = word.starts_with("--") ? word.find('=') : std::string::npos;
  const std::string name = word.substr(0, eq);
  const auto option = std::find_if(options.begin(), options.end(), [&](const Option& o) {
    return name == o.name || (o.alias != nullptr && name == o.alias);
  });
  if (option == options.end()) {
    std::vector<std::string> names;
    for (const Option& o : options) names.emplace_back(o.name);
    error = "unknown option " + name + nearestNote(name, names);
    return false;
  }
  std::string value, words = word;
  if (option->value == nullptr) {
    if (eq != std::string::npos) {
      error = name + " takes no value";
      return false;
    }
  } else if (eq != std::string::npos) {
    value = word.substr(eq + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
    words += " " + value;
  } else {
    error = name + " needs a value";
    return false;
  }
  if (!option->repeats) {
    const auto same = [&](const Option& o) {
      return &o == &*option || (option->sets != nullptr && o.sets != nullptr && std::strcmp(o.sets, option->sets) == 0);
    };
    for (const Option& o : options) {
      if (same(o) && !o.given.empty()) return error = givenTwice(o.given, words, option->sets ? option->sets : option->name), false;
    }
    option->given = words;
  }
  return option->take(value, error);
}

std::vector<std::string> nearestNames(std::string_view name, const std::vector<std::string>& names) {
  auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
  };
  // Edit distance, case ignored; a name that contains the word counts as one edit away.
  const std::string word = lower(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const std::string& known : names) {
    const std::string candidate = lower(known);
    std::vector<size_t> row(candidate.size() + 1);
    for (size_t j = 0; j < row.size(); ++j) row[j] = j;
    for (size_t a = 1; a <= word.size(); ++a) {
      size_t diagonal = row[0];
      row[0] = a;
      for (size_t b = 1; b <= candidate.size(); ++b) {
        const size_t next = std::min({row[b] + 1, row[b - 1] + 1, diagonal + (word[a - 1] == candidate[b - 1] ? 0 : 1)});
        diagonal = row[b];
        row[b] = next;
      }
    }
    size_t distance = row.back();
    if (word.size() >= 3 && candidate.find(word) != std::string::npos) distance = 1;
    if (distance <= std::max<size_t>(2, word.size() / 3)) ranked.emplace_back(distance, known);
  }
  std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (size_t i = 0; i < ranked.size() && i < 3; ++i) out.push_back(ranked[i].second);
  return out;
}

std::string nearestNote(std::string_view name, const std::vector<std::string>& names) {
  std::string note;
  for (const std::string& near : nearestNames(name, names)) note += (note.empty() ? " (nearest: " : ", ") + near;
  return note.empty() ? note : note + ")";
}

std::string optionSynopsis(const Options& options, size_t indent, size_t width) {
  std::string text, line;
  for (const Option& o : options) {
    std::string word = o.name;
    if (o.value != nullptr) word += std::string(" ") + o.value;
    if (!o.needed) word = "[" + word + "]";
    if (o.repeats) word += "...";
    if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
      text += line + "\n" + std::string(indent, ' ');
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return text + line;
}

std::string optionHelp(const Options& options, size_t column) {
  std::string text;
  for (const Option& o : options) {
    std::string head = std::string("  ") + o.name + (o.value != nullptr ? std::string(" ") + o.value : "");
    head += head.size() + 2 <= column ? std::string(column - head.size(), ' ') : "  ";
    const std::string indent(column, ' ');
    std::string help = o.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1 + indent.size())) {
      help.insert(at + 1, indent);
    }
    text += head + help + "\n";
  }
  return text;
}

std::string givenTwice(const std::string& first, const std::string& second, const std::string& what) {
  return first + " and " + second + ": " + what + " is given twice";
}

namespace {
thread_local WaitNotices* notices = nullptr;
}

WaitNotices::WaitNotices(std::ostream& out, const char* prefix) : out_(out), prefix_(prefix), previous_(notices) {
  notices = this;
}

WaitNotices::~WaitNotices() { notices = previous_; }

void LongWait::check(const std::function<std::string()>& what) {
  if (said_ || notices == nullptr || std::chrono::steady_clock::now() - start_ < SAID_AFTER) return;
  said_ = true;
  notices->out_ << notices->prefix_ << "waiting for " << what() << "\n";
  notices->out_.flush();
}

std::string versionLine(const std::string& program) {
  return program + " " + MxifMaintenance::VERSION_TEXT + " (backup image version " +
         std::to_string(BACKUP_VERSION) + ")";
}

std::string versionAlone(const std::vector<std::string>& args, size_t first) {
  for (size_t i = first; i < args.size(); ++i) {
    if (args[i] != "--version") return "--version takes no other words: " + args[i];
  }
  return "";
}

bool parseWhole(std::string_view s, long long& out) {
  const bool negative = !s.empty() && s[0] == '-';
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) s.remove_prefix(1);
  if (s.empty()) return false;
  long long v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9' || v > (LLONG_MAX - (c - '0')) / 10) return false;
    v = v * 10 + (c - '0');
  }
  out = negative ? -v : v;
  return true;
}

bool parseDecimal(std::string_view s, double& out) {
  // Digits with at most one point among them, then perhaps an exponent as a whole number.
  constexpr auto none = std::string_view::npos;
  const size_t e = s.find_first_of("eE");
  std::string_view mantissa = s.substr(0, e);
  if (!mantissa.empty() && (mantissa[0] == '-' || mantissa[0] == '+')) mantissa.remove_prefix(1);
  const size_t point = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, point), fraction = point == none ? "" : mantissa.substr(point + 1);
  const auto digits = [](std::string_view d) { return d.find_first_not_of("0123456789") == none; };
  long long exponent = 0;
  if (!digits(whole) || !digits(fraction) || whole.size() + fraction.size() == 0 ||
      (e != none && !parseWhole(s.substr(e + 1), exponent))) {
    return false;
  }
  out = std::strtod(std::string(s).c_str(), nullptr);
  return std::isfinite(out);
}

bool parseNumber(const std::string& s, long min, long max, long& out) {
  long long v = 0;
  if (!parseWhole(s, v) || v < min || v > max) return false;
  out = static_cast<long>(v);
  return true;
}

bool parseSeconds(const std::string& s, double& out) {
  double v = 0;
  if (!parseDecimal(s, v) || !(v >= 0 && v <= 3600)) return false;
  out = v;
  return true;
}

bool checkBoardDir(const std::string& dir, std::string& error) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    error = reason("board directory " + dir);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "board directory " + dir + ": not a directory";
    errno = ENOTDIR;
    return false;
  }
  return true;
}

bool prepareBoardDir(const std::string& dir, std::string& error) {
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    error = reason("cannot create board directory " + dir);
    return false;
  }
  return checkBoardDir(dir, error);
}

bool BackendLock::acquire(const std::string& dir, std::string& error) {
  const std::string path = dir + LOCK_FILE;
  int fd = inheritedLock(path);
  if (fd < 0) {
    fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
    if (fd < 0) {
      error = reason("cannot create " + path);
      return false;
    }
    struct flock f = wholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &f) != 0) {
      if (errno == EAGAIN || errno == EACCES) {
        const std::string held = contents(fd);
        const std::string pid = held.substr(0, held.find('\n'));
        error = "a back end" + (pid.empty() ? "" : " (process " + pid + ")") + " is already running on " + dir;
      } else {
        error = reason("cannot lock " + path);
      }
      ::close(fd);
      return false;
    }
    setenv(LOCK_FD_VARIABLE, std::to_string(fd).c_str(), 1);
  }
  fd_ = fd;
  path_ = path;
  rewrite(std::to_string(getpid()) + "\n");
  return true;
}

void BackendLock::release() {
  if (fd_ < 0) return;
  unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

void BackendLock::markStarted() {
  // The process id stays across a restart (exec); the time of the start tells the starts apart.
  timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  const std::string stamp = std::to_string(getpid()) + "." + std::to_string(now.tv_sec) + "." + std::to_string(now.tv_nsec);
  rewrite(std::to_string(getpid()) + "\n" + STARTED + " " + stamp + "\n");
}

void BackendLock::rewrite(const std::string& text) {
  if (fd_ < 0) return;
  // Readers take a short or empty file for a start-up still running.
  if (ftruncate(fd_, 0) != 0 || pwrite(fd_, text.data(), text.size(), 0) < 0) return;
}

Backend backendOn(const std::string& dir, std::string* start) {
  if (start != nullptr) start->clear();
  const int fd = openFile(dir + LOCK_FILE, O_RDONLY);
  if (fd < 0) return Backend::None;
  struct flock f = wholeFile(F_WRLCK);
  Backend state = Backend::None;
  if (fcntl(fd, F_OFD_GETLK, &f) == 0 && f.l_type != F_UNLCK) {
    const std::string text = contents(fd);
    const size_t at = text.find(STARTED);
    state = at != std::string::npos ? Backend::Running : Backend::Starting;
    if (start != nullptr && at != std::string::npos) *start = text.substr(at, text.find('\n', at) - at);
  }
  ::close(fd);
  return state;
}

}  // namespace cli
