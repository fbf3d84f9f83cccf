#include "Lib/Include/log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Lib/Include/memory_map.h"
#include "Platform/platform.h"

namespace {
// Console ring in memory shared with the front end: u32 write index, u32, then the data bytes.
constexpr u32 CONSOLE_BASE = LINK_CONSOLE_RING;
constexpr u32 CONSOLE_DATA = CONSOLE_BASE + 8;
constexpr u32 CONSOLE_LAST_INDEX = 0x7FFDF;
}  // namespace

void consoleOutByte(u8 byte) {
  u32 index = platform::readMem32(CONSOLE_BASE);
  if (index > CONSOLE_LAST_INDEX) index = 0;
  *platform::memory(CONSOLE_DATA + index, 1) = byte;
  index = (index == CONSOLE_LAST_INDEX) ? 0 : index + 1;
  platform::writeMem32(CONSOLE_BASE, index);
}

namespace {

void writeOut(const char* data, size_t n) {
  for (size_t i = 0; i < n; ++i) consoleOutByte(static_cast<u8>(data[i]));
  platform::debugOut(data, n);
}

// A log line is "ESC[LEVEL] message": at most 9 + 255 characters. Its buffer keeps room behind it
// for the count of a run and the newline.
constexpr size_t LINE_MAX = 300;
constexpr size_t LINE_ROOM = LINE_MAX + 32;

// Ends a log line (length characters in its buffer, without its newline) that stands for count equal
// lines, and writes it.
void writeLine(char* line, size_t length, u32 count) {
  if (count > 1) length += static_cast<size_t>(std::snprintf(line + length, LINE_ROOM - length, " (%u times)", count));
  line[length++] = '\n';
  writeOut(line, length);
}

// The run of equal lines held while a LogRuns lives (count 0: none yet).
struct HeldRun {
  bool holding = false;
  char line[LINE_ROOM];
  size_t length = 0;
  u32 count = 0;
};
HeldRun held;

void flushHeld() {
  if (held.count == 0) return;
  const u32 count = held.count;
  held.count = 0;
  writeLine(held.line, held.length, count);
}

}  // namespace

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

void LogInstance::vprintf(int level, const char* format, va_list ap) {
  char message[256];
  int n = std::vsnprintf(message, sizeof message, format, ap);
  if (n < 0) n = 0;
  size_t len = std::strlen(message);
  bool truncated = n >= static_cast<int>(sizeof message);
  if (!truncated && len > 0 && message[len - 1] == '\n') message[--len] = '\0';
  char line[LINE_ROOM];
  const int m = std::snprintf(line, LINE_MAX, "\x1b[%s] %s", levelName(level), message);
  const size_t length = m < static_cast<int>(LINE_MAX) ? static_cast<size_t>(m) : LINE_MAX - 1;
  if (!held.holding) {
    writeLine(line, length, 1);
    return;
  }
  if (held.count > 0 && length == held.length && std::memcmp(line, held.line, length) == 0) {
    ++held.count;
    return;
  }
  flushHeld();
  std::memcpy(held.line, line, length);
  held.length = length;
  held.count = 1;
}

LogRuns::LogRuns() { held.holding = true; }

LogRuns::~LogRuns() {
  flushHeld();
  held.holding = false;
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
