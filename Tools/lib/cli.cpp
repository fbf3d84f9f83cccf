#include "Tools/lib/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "Lib/Include/storage.h"
#include "Main/system/maintenance.h"

namespace cli {
namespace {

constexpr const char* LOCK_FILE = "/backend.pid";
// The lock's descriptor survives the back end's restart (exec); its number is passed on here.
constexpr const char* LOCK_FD_VARIABLE = "MX_BACKEND_LOCK_FD";
constexpr const char* STARTED = "started";

std::string reason(const std::string& what) { return what + ": " + std::strerror(errno); }

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

bool readOption(const std::vector<std::string>& args, size_t& i, const Options& options, std::string& error) {
  const std::string& word = args[i];
  const size_t eq = word.starts_with("--") ? word.find('=') : std::string::npos;
  const std::string name = word.substr(0, eq);
  const auto option = std::find_if(options.begin(), options.end(), [&](const Option& o) {
    return name == o.name || (o.alias != nullptr && name == o.alias);
  });
  if (option == options.end()) {
    error = "unknown option " + name;
    return false;
  }
  std::string value;
  if (option->value == nullptr) {
    if (eq != std::string::npos) {
      error = name + " takes no value";
      return false;
    }
  } else if (eq != std::string::npos) {
    value = word.substr(eq + 1);
  } else if (i + 1 < args.size()) {
    value = args[++i];
  } else {
    error = name + " needs a value";
    return false;
  }
  return option->take(value, error);
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

std::string versionLine(const std::string& program) {
  return program + " " + category::CategoryMaintenance::VERSION_TEXT + " (backup image version " +
         std::to_string(BACKUP_VERSION) + ")";
}

bool parseNumber(const std::string& s, long min, long max, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || v < min || v > max) return false;
  out = v;
  return true;
}

bool parseSeconds(const std::string& s, double& out) {
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !(v >= 0 && v <= 3600)) return false;
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
  const int fd = ::open((dir + LOCK_FILE).c_str(), O_RDONLY | O_CLOEXEC);
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
