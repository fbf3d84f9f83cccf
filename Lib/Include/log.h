#pragma once
// The system log: one line per message, "ESC[LEVEL] message\n", written to the console.
#include "Lib/Include/types.h"

namespace libmx {

enum LogLevel { INFO = 0, WARN = 1, ERR = 2, FATAL = 3 };

class LogInstance {
 public:
  static LogInstance& instance();

  // Formats into 256 bytes (255 characters kept); one trailing newline of an untruncated message is
  // dropped; then writes ESC, "[%s] %s\n" with the level name and the message.
  void printf(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void vprintf(int level, const char* format, __builtin_va_list ap);

  void setHandle(u32 handle) { handle_ = handle; }
  u32 handle() const { return handle_; }

  static const char* levelName(int level);

 private:
  LogInstance() = default;
  u32 handle_ = 0xFFFFFFFFu;
  [[maybe_unused]] u32 reserved_[2] = {0, 0};  // two further words of the log object, zero
};

// Bounds the lines of a few kinds (the link's error lines) that a LogRuns writes: past `lines` of
// them, each the start of a run, the rest are counted by kind and said in one line when it ends.
struct LogCap {
  static constexpr int MAX_KINDS = 8;
  const char* subject;       // begins the line that counts the rest: "receive"
  const char* const* kinds;  // the kinds' names, in the order that line lists them
  int kindCount;             // at most MAX_KINDS
  int lines;
};

// While a LogRuns lives, a line equal to the line before it is counted instead of written: a run of
// equal lines is written once, when another line or other console output comes or the LogRuns
// ends, with " (N times)" before its newline when N > 1. The request dispatcher keeps one over its
// pass of a frame, so a flood of one malformed packet costs one line a frame. Not nested.
// Given a cap, the lines logged through logKind are bounded too: once cap.lines of them have begun
// a run, one that would begin another is not written but counted under its kind, and the LogRuns
// ends with "[ERR] SUBJECT: N more lines not written this frame (a KIND, b KIND)"; or, when the lines
// not written were all one line, with that line and its count (" (N times)" when N > 1), which
// takes no more room. Other lines are neither counted nor held back.
class LogRuns {
 public:
  LogRuns();
  explicit LogRuns(const LogCap& cap);
  ~LogRuns();
  LogRuns(const LogRuns&) = delete;
  LogRuns& operator=(const LogRuns&) = delete;

  // A line of the cap's kind `kind`; as MX_LOG when no LogRuns with a cap lives.
  static void logKind(int kind, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
};

// Shorthand used throughout the system.
#define MX_LOG(level, ...) ::libmx::LogInstance::instance().printf(level, __VA_ARGS__)

}  // namespace libmx

// Console output (standard output of the target): every byte goes to the console ring.
// Empties the console ring (a cold start).
void consoleReset();
void consoleOutByte(u8 byte);
void consoleWrite(const char* data, size_t n);
// printf-style output straight to the console, without a log header.
void consolePrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
