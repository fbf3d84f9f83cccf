#include "Lib/Include/log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Lib/Include/check.h"
#include "Lib/Include/link_rings.h"
#include "Platform/platform.h"

namespace {

// The console ring (Lib/Include/link_rings.h), which the text goes to.
u8* console() { return platform::memory(LINK_CONSOLE_RING, LINK_CONSOLE_BYTES); }

void toConsole(const void* data, size_t n) { linkring::consoleAppend(console(), static_cast<const u8*>(data), static_cast<u32>(n)); }

void writeOut(const char* data, size_t n) {
  toConsole(data, n);
  platform::debugOut(data, n);
}

// A log line is "ESC[LEVEL] message": at most 9 + 255 characters. Its buffer keeps room behind it
// for the count of a run and the newline.
constexpr size_t MAX_LINE = 300;
constexpr size_t LINE_ROOM = MAX_LINE + 32;

// Ends a log line (length characters in its buffer, without its newline) that stands for count equal
// lines, and writes it.
void writeLine(char* line, size_t length, u32 count) {
  if (count > 1) length += static_cast<size_t>(std::snprintf(line + length, LINE_ROOM - length, " (%u times)", count));
  line[length++] = '\n';
  writeOut(line, length);
}

// The run of equal lines held while a LogRuns lives (count 0: none yet), and its cap: how many of
// the capped kinds' lines have begun a run, and those left unsaid, by kind, with the first of them
// and whether all were equal to it.
struct HeldRun {
  bool holding = false;
  char line[LINE_ROOM];
  size_t length = 0;
  u32 count = 0;
  libmx::LogCap cap{};
  int begun = 0;
  u32 unsaid[libmx::LogCap::MAX_KINDS] = {};
  u32 unsaidTotal = 0;
  char firstUnsaid[LINE_ROOM];
  size_t firstUnsaidLength = 0;
  bool unsaidAlike = false;
};
HeldRun held;

void flushHeld() {
  if (held.count == 0) return;
  const u32 count = held.count;
  held.count = 0;
  writeLine(held.line, held.length, count);
}

// "ESC[LEVEL] message" into line (MAX_LINE bytes); returns its length.
size_t formatLine(char* line, int level, const char* format, va_list ap) {
  char message[256];
  int n = std::vsnprintf(message, sizeof message, format, ap);
  if (n < 0) n = 0;
  size_t len = std::strlen(message);
  bool truncated = n >= static_cast<int>(sizeof message);
  if (!truncated && len > 0 && message[len - 1] == '\n') message[--len] = '\0';
  const int m = std::snprintf(line, MAX_LINE, "\x1b[%s] %s", libmx::LogInstance::levelName(level), message);
  return m < static_cast<int>(MAX_LINE) ? static_cast<size_t>(m) : MAX_LINE - 1;
}

// A line of the cap's kind `kind` (-1: of none) while a LogRuns lives, else written at once.
void logLine(int kind, int level, const char* format, va_list ap) {
  char line[LINE_ROOM];
  const size_t length = formatLine(line, level, format, ap);
  if (!held.holding) {
    writeLine(line, length, 1);
    return;
  }
  if (held.count > 0 && length == held.length && std::memcmp(line, held.line, length) == 0) {
    ++held.count;
    return;
  }
  flushHeld();
  if (kind >= 0 && kind < held.cap.kindCount) {
    // Past the cap the line is counted, not held: a later equal line does not join the run before.
    if (held.begun >= held.cap.lines) {
      if (held.unsaidTotal++ == 0) {
        std::memcpy(held.firstUnsaid, line, length);
        held.firstUnsaidLength = length;
        held.unsaidAlike = true;
      } else if (length != held.firstUnsaidLength || std::memcmp(line, held.firstUnsaid, length) != 0) {
        held.unsaidAlike = false;
      }
      ++held.unsaid[kind];
      return;
    }
    ++held.begun;
  }
  std::memcpy(held.line, line, length);
  held.length = length;
  held.count = 1;
}

// "ESC[ERR] SUBJECT: N more lines not written this frame (a KIND, b KIND)" when lines were left
// unsaid; when they were all one line, that line with its count instead, which says more in as few
// lines. Clears the counts.
void writeUnsaid() {
  const u32 total = held.unsaidTotal;
  held.unsaidTotal = 0;
  if (total == 0) return;
  if (held.unsaidAlike) {
    for (u32& n : held.unsaid) n = 0;
    writeLine(held.firstUnsaid, held.firstUnsaidLength, total);
    return;
  }
  char line[LINE_ROOM];
  // Each piece is cut to leave room for the closing parenthesis.
  size_t length = 0;
  const auto advance = [&length](int n) {
    if (n > 0) length = std::min(length + static_cast<size_t>(n), MAX_LINE - 2);
  };
  advance(std::snprintf(line, MAX_LINE, "\x1b[ERR] %s: %u more lines not written this frame (", held.cap.subject,
                        total));
  const char* separator = "";
  for (int k = 0; k < held.cap.kindCount; ++k) {
    if (held.unsaid[k] == 0) continue;
    advance(std::snprintf(line + length, MAX_LINE - length, "%s%u %s", separator, held.unsaid[k], held.cap.kinds[k]));
    separator = ", ";
    held.unsaid[k] = 0;
  }
  line[length++] = ')';
  writeLine(line, length, 1);
}

}  // namespace

void consoleReset() { linkring::consoleReset(console()); }

void consoleOutByte(u8 byte) { toConsole(&byte, 1); }

void consoleWrite(const char* data, size_t n) {
  flushHeld();
  writeOut(data, n);
}

void consolePrintf(const char* format, ...) {
  char buf[256];
  va_list ap;
  va_start(ap, format);
  int n = std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  if (n < 0) return;
  consoleWrite(buf, n < static_cast<int>(sizeof buf) ? static_cast<size_t>(n) : sizeof buf - 1);
}

namespace libmx {

LogInstance& LogInstance::instance() {
  static LogInstance log;
  return log;
}

const char* LogInstance::levelName(int level) {
  switch (level) {
    case WARN: return "WARN";
    case ERR: return "ERR";
    case FATAL: return "FATAL";
    default: return "INFO";
  }
}

void LogInstance::vprintf(int level, const char* format, va_list ap) { logLine(-1, level, format, ap); }

LogRuns::LogRuns() { held.holding = true; }

LogRuns::LogRuns(const LogCap& cap) : LogRuns() {
  held.cap = cap;
  if (held.cap.kindCount > LogCap::MAX_KINDS) held.cap.kindCount = LogCap::MAX_KINDS;
  held.begun = 0;
}

LogRuns::~LogRuns() {
  flushHeld();
  writeUnsaid();
  held.holding = false;
  held.cap = LogCap{};
}

void LogRuns::logKind(int kind, int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  logLine(kind, level, format, ap);
  va_end(ap);
}

void LogInstance::printf(int level, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vprintf(level, format, ap);
  va_end(ap);
}

void LogInstance::printf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  vprintf(INFO, format, ap);
  va_end(ap);
}

}  // namespace libmx

// A failed check's line (Lib/check.cpp).
void assert::logFailure(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  libmx::LogInstance::instance().vprintf(libmx::ERR, format, ap);
  va_end(ap);
}
