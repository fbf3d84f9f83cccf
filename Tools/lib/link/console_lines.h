#pragma once
// Console lines as the host programs print them. The system starts each log line with an ESC byte
// ("ESC[WARN] text"), which a terminal would take for the start of a control sequence.
#include <string>
#include <string_view>

#include "Lib/Include/log.h"

namespace cli {

inline std::string withoutEsc(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\x1b') out += c;
  }
  return out;
}

// The level of a line from its "[LEVEL]" head; a line without one counts as INFO.
inline int lineLevel(std::string_view line) {
  if (!line.empty() && line.front() == '\x1b') line.remove_prefix(1);
  for (int level : {libmx::WARN, libmx::ERR, libmx::FATAL}) {
    const std::string head = std::string("[") + libmx::LogInstance::levelName(level) + "]";
    if (line.starts_with(head)) return level;
  }
  return libmx::INFO;
}

}  // namespace cli
