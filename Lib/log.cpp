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

void consoleWrite(const char* data, size_t n) {
  for (size_t i = 0; i < n; ++i) consoleOutByte(static_cast<u8>(data[i]));
  platform::debugOut(data, n);
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
  char line[300];
  int m = std::snprintf(line, sizeof line, "\x1b[%s] %s\n", levelName(level), message);
  consoleWrite(line, static_cast<size_t>(m < static_cast<int>(sizeof line) ? m : sizeof line - 1));
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
