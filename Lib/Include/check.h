#pragma once
// Checks of indexes, parameters and invariants: a failed check logs the condition with its source
// file and line at ERR and throws assert::AssertException.
#include "Lib/Include/types.h"

namespace assert {

class AssertException {
 public:
  AssertException(const char* file, int line) : file_(file), line_(line) {}
  const char* file() const { return file_; }
  int line() const { return line_; }

 private:
  const char* file_;
  int line_;
};

// The failure paths, out of line: log the condition and throw.
[[noreturn]] void checkFailed(const char* file, int line, const char* exprText);
[[noreturn]] void checkValueFailed(const char* file, int line, const char* exprText, int value,
                                   const char* expectedText);
[[noreturn]] void checkFloatValueFailed(const char* file, int line, const char* exprText, float value,
                                        const char* expectedText);
[[noreturn]] void throwAssertException(const char* file, int line);
// Logs a failed check's line at ERR (Lib/log.cpp; a program built without the log has none).
void logFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The tests are inline so that a check that holds costs no call.
inline void check(const char* file, int line, const char* exprText, bool cond) {
  if (!cond) [[unlikely]] checkFailed(file, line, exprText);
}

inline void checkValue(const char* file, int line, const char* exprText, int value, const char* expectedText,
                       int expected) {
  if (value != expected) [[unlikely]] checkValueFailed(file, line, exprText, value, expectedText);
}

inline void checkFloatValue(const char* file, int line, const char* exprText, float value, const char* expectedText,
                            float expected) {
  // The bounds are computed in single precision, as the target does.
  const float low = expected - 1e-5f;
  const float high = expected + 1e-5f;
  if (!(value >= low && value <= high)) [[unlikely]] checkFloatValueFailed(file, line, exprText, value, expectedText);
}

}  // namespace assert

// The file name is the source path relative to the repository root (the build maps the prefix).
#define MX_CHECK(cond) ::assert::check(__FILE__, __LINE__, #cond, static_cast<bool>(cond))
#define MX_CHECK_VALUE(expr, expected) \
  ::assert::checkValue(__FILE__, __LINE__, #expr, static_cast<int>(expr), #expected, static_cast<int>(expected))
#define MX_CHECK_FLOAT(expr, expected) \
  ::assert::checkFloatValue(__FILE__, __LINE__, #expr, static_cast<float>(expr), #expected, static_cast<float>(expected))
#define MX_FAIL(text) ::assert::check(__FILE__, __LINE__, text, false)
